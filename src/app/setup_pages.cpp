#include "app/setup_pages.h"

#include <QButtonGroup>
#include <QFontDatabase>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QIcon>
#include <QPainter>
#include <QPixmap>
#include <QTextBrowser>
#include <QVBoxLayout>

#include "app/widgets.h"

namespace qmx::gui {
namespace {

QWidget* pageFrame(QWidget* parent, const QString& name, const QString& title = {}) {
    QWidget* w = title.isEmpty() ? new QWidget(parent) : makeGroup(parent, name, title);
    w->setObjectName(name);
    return w;
}

// Four lists of a port setting (baud, parity, data bits, stop bits) on one row.
void portRow(QGridLayout* grid, int row, QWidget* parent, const QString& title,
             const std::array<QString, 4>& names, std::array<QComboBox*, 4>& out) {
    grid->addWidget(new QLabel(title, parent), row, 0);
    const QStringList rows[4] = {baudRows(), parityRows(), dataBitRows(), stopBitRows()};
    for (int i = 0; i < 4; ++i) {
        out[size_t(i)] = makeList(parent, names[size_t(i)], rows[i]);
        grid->addWidget(out[size_t(i)], row, i + 1);
    }
}

}  // namespace

QString notAvailableText() {
    return QStringLiteral(
        "This function is not available in this version. / 本版本尚未提供此功能。");
}

StatusPage buildStatusPage(QWidget* parent) {
    StatusPage p;
    p.frame = pageFrame(parent, "Frame4");
    auto* v = new QVBoxLayout(p.frame);
    v->setSpacing(2);  // the labels stack one line apart
    p.comReadChipLock = makeButton(p.frame, "comReadChipLock",
                                   QStringLiteral("Test Option / 检查 MCU 固件版本号及选项"));
    v->addWidget(p.comReadChipLock, 0, Qt::AlignLeft);
    for (int i = 0; i < 16; ++i) {
        p.labLock[size_t(i)] = makeLabel(p.frame, arrayName("LabLock", i), QString());
        v->addWidget(p.labLock[size_t(i)]);
    }
    p.labLock[0]->setText(
        QStringLiteral("Firmware version and options of the MCU / MCU 固件版本号及选项:"));
    p.labLock[15]->setText(
        QStringLiteral("先按上面按钮, 再给 MCU 上电复位(冷启动) / Press the button, then power "
                       "the MCU on"));
    v->addStretch(1);
    return p;
}

AutoIncreasePage buildAutoIncreasePage(QWidget* parent) {
    AutoIncreasePage p;
    p.frame = pageFrame(parent, "fraAuto_Increase");
    auto* g = new QGridLayout(p.frame);
    p.cheAuto_Increase = makeCheck(p.frame, "cheAuto_Increase", QStringLiteral("启用自动增量"));
    g->addWidget(p.cheAuto_Increase, 0, 0, 1, 2);
    g->addWidget(makeLabel(p.frame, "Label_Auto_Increase_note",
                           QStringLiteral("改变以下参数后请重新打开文件")),
                 0, 2, 1, 3);
    const QString labels[4] = {QStringLiteral("存放地址(HEX)"), QStringLiteral("字节数"),
                               QStringLiteral("下一个值(10进制)"), QStringLiteral("增量")};
    const QString defaults[4] = {"FFFF", "8", "0000", "1"};
    for (int i = 0; i < 4; ++i) {
        g->addWidget(makeLabel(p.frame, arrayName("LabAuto_Increase", i), labels[i]), 1 + i, 0);
        p.boxes[size_t(i)] = makeEdit(p.frame, arrayName("texAuto_Increase", i), defaults[i]);
        g->addWidget(p.boxes[size_t(i)], 1 + i, 1, 1, 2);
    }
    g->addWidget(makeLabel(p.frame, "LabAuto_Increase_format", QStringLiteral("下一个值存储格式:")),
                 5, 0);
    const QString formats[3] = {QStringLiteral("16进制"), QStringLiteral("十进制"),
                                QStringLiteral("ASCII码")};
    auto* group = new QButtonGroup(p.frame);
    for (int i = 0; i < 3; ++i) {
        p.formats[size_t(i)] = makeRadio(p.frame, arrayName("optAuto_Increase", i), formats[i]);
        group->addButton(p.formats[size_t(i)], i);
        g->addWidget(p.formats[size_t(i)], 5, 1 + i);
    }
    p.formats[1]->setChecked(true);
    g->setRowStretch(6, 1);
    g->setColumnStretch(4, 1);
    return p;
}

StorePage buildStorePage(QWidget* parent) {
    StorePage p;
    p.frame = pageFrame(parent, "Frame9");
    auto* g = new QGridLayout(p.frame);
    g->addWidget(makeLabel(p.frame, "Label_Start_Address", QStringLiteral("起始地址(HEX):")), 0, 0);
    p.start = makeEdit(p.frame, "txt_Start_Address", "0");
    g->addWidget(p.start, 0, 1);
    g->addWidget(makeLabel(p.frame, "Label_length", QStringLiteral("长度(HEX):")), 1, 0);
    p.length = makeEdit(p.frame, "txt_length", "400");
    g->addWidget(p.length, 1, 1);
    p.store = makeButton(p.frame, "comStoreFile", QStringLiteral("Store File/存文件"));
    g->addWidget(p.store, 2, 1);
    g->setRowStretch(3, 1);
    g->setColumnStretch(2, 1);
    return p;
}

namespace {

// One section of the hardware help: its title and text in each language ("both" shows the
// Chinese text above the English one under the bilingual title).
struct HelpSection {
    const char* titleBoth;
    const char* titleEn;
    const char* titleZh;
    const char* zh;
    const char* en;
};

constexpr HelpSection kHardwareHelp[] = {
    {"接线 / Wiring", "Wiring", "接线",
     "电脑串口的 TxD 接 MCU 的 RxD (P3.0), 电脑的 RxD 接 MCU 的 TxD (P3.1), 两边的地线 GND "
     "必须相连。电脑串口是 RS-232 电平, MCU 是 TTL 电平, 中间要用电平转换芯片(如 MAX232 一类), "
     "USB 转串口线请选 TTL 输出或另接转换芯片。",
     "Connect the PC's TxD to the MCU's RxD (P3.0) and the PC's RxD to the MCU's TxD (P3.1); "
     "join both grounds. A PC port speaks RS-232 levels, the MCU TTL levels: put a level "
     "converter between them (a MAX232-type chip, or a USB adapter with TTL output)."},
    {"ISP: 在系统编程 / in-system programming", "ISP: in-system programming", "ISP: 在系统编程",
     "每片 MCU 内有固化的串口引导程序。MCU 上电时先运行它, 它若收到电脑发来的同步字节就进入"
     "下载, 否则转去运行用户程序。所以请先按下载按钮, 再给 MCU 上电。",
     "Every chip holds a serial boot loader that runs first after power-on. If it hears the "
     "PC's synchronisation bytes it takes the download; otherwise it starts the user "
     "program. Press Download first, then power the chip."},
    {"冷启动 / Cold start", "Cold start", "冷启动",
     "冷启动指先完全断电再上电, 不是按复位键。若 MCU 由电脑串口或其它电路供电, 断电后可能"
     "仍有残留电压, 请断开足够长的时间。",
     "A cold start is switching the power off completely and on again, not pressing reset. "
     "Leave it off long enough for the supply to drain."},
    {"IAP: 在应用编程 / in-application programming", "IAP: in-application programming",
     "IAP: 在应用编程",
     "用户程序自己也可以改写数据 Flash (EEPROM) 区, 或在收到约定的命令后跳到引导程序, "
     "这样不必断电也能下载(见\"自定义下载\")。",
     // The tab is named by its caption, which stays as it is in every language.
     "A user program may write the data flash itself, or jump into the boot loader on an "
     "agreed command, so that a download needs no power cycle (see \"自定义下载\")."},
};

QString hardwareHelpHtml(Language language) {
    QString html;
    for (const HelpSection& s : kHardwareHelp) {
        const char* title = language == Language::En   ? s.titleEn
                            : language == Language::Zh ? s.titleZh
                                                       : s.titleBoth;
        QString text = QString::fromUtf8(language == Language::En ? s.en : s.zh);
        if (language == Language::Both) text += QStringLiteral("<br>") + QString::fromUtf8(s.en);
        html += QStringLiteral("<p><b>%1</b><br>%2</p>").arg(QString::fromUtf8(title), text);
    }
    return html;
}

}  // namespace

QWidget* buildHardwareHelpPage(QWidget* parent) {
    QWidget* frame = pageFrame(parent, "fraAboutHardWare");
    auto* v = new QVBoxLayout(frame);
    auto* text = new QTextBrowser(frame);
    text->setObjectName("txtAboutHardWare");
    text->setOpenExternalLinks(false);
    text->setHtml(hardwareHelpHtml(Language::Both));
    v->addWidget(text);
    return frame;
}

void showHardwareHelp(QWidget* page, Language language) {
    if (auto* text = page->findChild<QTextBrowser*>("txtAboutHardWare"))
        text->setHtml(hardwareHelpHtml(language));
}

UserCodePage buildUserCodePage(QWidget* parent) {
    UserCodePage p;
    p.frame = pageFrame(parent, "Frame8");
    auto* g = new QGridLayout(p.frame);
    p.txtUserCode = new QPlainTextEdit(p.frame);
    p.txtUserCode->setObjectName("txtUserCode");
    p.txtUserCode->setPlainText("12 34 56 78 90 AB CD EF 1234567890ABCDEF\r\n");
    p.txtUserCode->setMaximumHeight(60);
    g->addWidget(p.txtUserCode, 1, 0, 1, 5);
    portRow(g, 2, p.frame, QStringLiteral("串口参数:"),
            {"cobUserCodeBaud", "cobUserCodeParity", "cobUserCodeDataBits", "cobUserCodeStopBits"},
            p.port);
    p.comSendUserCode = makeButton(p.frame, "comSendUserCode", QStringLiteral("发送"));
    g->addWidget(p.comSendUserCode, 3, 4);
    g->setRowStretch(4, 1);
    return p;
}

DemoPage buildDemoPage(QWidget* parent) {
    DemoPage p;
    p.frame = pageFrame(parent, "Frame11");
    auto* g = new QGridLayout(p.frame);
    p.che_Demo_DownLoad =
        makeCheck(p.frame, "che_Demo_DownLoad", QStringLiteral("发送自定义下载命令"));
    g->addWidget(p.che_Demo_DownLoad, 1, 0, 1, 2);
    p.txt_DEMO_UserCode = makeEdit(p.frame, "txt_DEMO_UserCode");
    g->addWidget(p.txt_DEMO_UserCode, 1, 2, 1, 3);
    portRow(g, 2, p.frame, QStringLiteral("自定义命令:"),
            {"cob_DEMO_UserCode_Baud", "cob_DEMO_UserCode_Parity", "cob_DEMO_UserCode_DataBits",
             "cob_DEMO_UserCode_StopBits"},
            p.userCode);
    portRow(g, 3, p.frame, QStringLiteral("下载:"),
            {"cob_DEMO_DownLoad_Baud", "cob_DEMO_DownLoad_Parity", "cob_DEMO_DownLoad_DataBits",
             "cob_DEMO_DownLoad_StopBits"},
            p.download);
    auto* buttons = new QHBoxLayout;
    p.download_ = makeButton(p.frame, "com_Demo_DownLoad", QStringLiteral("下  载"));
    p.reDownload = makeButton(p.frame, "com_Demo_Re_DownLoad", QStringLiteral("重复下载"));
    p.stop = makeButton(p.frame, "com_Demo_Stop", QStringLiteral("停  止"));
    p.stop->setEnabled(false);  // until a demo runs
    for (QPushButton* b : {p.download_, p.reDownload, p.stop})
        buttons->addWidget(b);
    g->addLayout(buttons, 4, 0, 1, 5);
    g->setRowStretch(5, 1);
    return p;
}

OfflinePage buildOfflinePage(QWidget* parent) {
    OfflinePage p;
    p.frame = pageFrame(parent, "Frame18", QStringLiteral("脱机下载板可代替计算机进行下载工作"));
    auto* g = new QGridLayout(p.frame);
    g->addWidget(makeLabel(p.frame, "Label_download_max", QStringLiteral("脱机下载板下载数限量:")),
                 1, 0);
    p.txt_download_max = makeEdit(p.frame, "txt_download_max", "1");
    g->addWidget(p.txt_download_max, 1, 1);
    p.comTJXZ = makeButton(p.frame, "comTJXZ", QStringLiteral("下载用户应用程序"));
    p.help = makeButton(p.frame, "com_TJXZ_help", QStringLiteral("详细帮助"));
    g->addWidget(p.comTJXZ, 2, 0);
    g->addWidget(p.help, 2, 1);
    g->setRowStretch(3, 1);
    g->setColumnStretch(2, 1);
    return p;
}

MonitorPage buildMonitorPage(QWidget* parent) {
    MonitorPage p;
    p.frame = pageFrame(parent, "Frame10");
    auto* v = new QVBoxLayout(p.frame);
    auto* about = makeLabel(
        p.frame, "Label_softice",
        QStringLiteral(
            "Turns the chip into an emulator: the monitor replaces its download boot "
            "code, then the chip reports its registers and memory over the debug port "
            "(tabs SFR/idata and xdata).\n把芯片变成仿真器: 仿真监控程序将取代下载引导码, "
            "然后通过调试串口报告寄存器和存储器。"));
    about->setWordWrap(true);
    v->addWidget(about);
    p.comDownSoft_ICE =
        makeButton(p.frame, "comDownSoft_ICE", QStringLiteral("Down SoftICE/下载 SoftICE"));
    v->addWidget(p.comDownSoft_ICE, 0, Qt::AlignLeft);
    v->addStretch(1);
    return p;
}

namespace {

// The port state image: a filled dot, green when open, grey when closed.
QToolButton* portImage(QWidget* parent, const QString& name, const QColor& colour,
                       const QString& tip) {
    QPixmap pm(16, 16);
    pm.fill(Qt::transparent);
    QPainter paint(&pm);
    paint.setRenderHint(QPainter::Antialiasing);
    paint.setBrush(colour);
    paint.setPen(Qt::NoPen);
    paint.drawEllipse(2, 2, 12, 12);
    auto* b = new QToolButton(parent);
    b->setObjectName(name);
    b->setIcon(QIcon(pm));
    b->setAutoRaise(true);
    b->setToolTip(tip);
    return b;
}

}  // namespace

DebugPages buildDebugPages(QWidget* parent) {
    DebugPages p;
    const QFont mono = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    p.frame21 = pageFrame(parent, "Frame21");
    {
        auto* g = new QGridLayout(p.frame21);
        p.lst_debug1 = new QListWidget(p.frame21);
        p.lst_debug1->setObjectName("lst_debug1");
        p.lst_debug2 = new QListWidget(p.frame21);
        p.lst_debug2->setObjectName("lst_debug2");
        g->addWidget(p.lst_debug1, 0, 0, 1, 3);
        g->addWidget(p.lst_debug2, 0, 3, 1, 4);
        const QString names[5] = {"com_Debug_COM", "com_Debug_Baud", "com_Debug_DataBits",
                                  "com_Debug_ParityCheck", "com_Debug_StopBits"};
        const QStringList rows[5] = {comPortRows(), baudRows(), dataBitRows(), parityRows(),
                                     stopBitRows()};
        for (int i = 0; i < 5; ++i) {
            p.port[size_t(i)] = makeList(p.frame21, names[i], rows[i]);
            g->addWidget(p.port[size_t(i)], 1, i);
        }
        p.che_AutoOpenPort =
            makeCheck(p.frame21, "che_AutoOpenPort", QStringLiteral("下载后打开串口"));
        g->addWidget(p.che_AutoOpenPort, 1, 5, 1, 2);
        p.imgNotOpen = portImage(p.frame21, "imgNotOpen", QColor(150, 150, 150),
                                 QStringLiteral("Open the debug port / 打开串口"));
        p.imgOpen = portImage(p.frame21, "imgOpen", QColor(0, 170, 0),
                              QStringLiteral("Close the debug port / 关闭串口"));
        p.imgOpen->hide();
        p.Label13 = makeButton(p.frame21, "Label13", QStringLiteral("打开串口"));
        p.Label13->setFlat(true);
        p.comDebugContinue =
            makeButton(p.frame21, "comDebugContinue", QStringLiteral("从暂停处继续运行"));
        p.comDebugContinue->setEnabled(false);
        auto* row = new QHBoxLayout;
        row->addWidget(p.imgNotOpen);
        row->addWidget(p.imgOpen);
        row->addWidget(p.Label13);
        row->addWidget(p.comDebugContinue);
        row->addStretch(1);
        g->addLayout(row, 2, 0, 1, 7);
    }
    p.frame22 = pageFrame(parent, "Frame22");
    {
        auto* g = new QGridLayout(p.frame22);
        p.lst_debug3 = new QListWidget(p.frame22);
        p.lst_debug3->setObjectName("lst_debug3");
        p.lst_debug4 = new QListWidget(p.frame22);
        p.lst_debug4->setObjectName("lst_debug4");
        g->addWidget(p.lst_debug3, 0, 0);
        g->addWidget(p.lst_debug4, 0, 1);
    }
    for (QListWidget* l : {p.lst_debug1, p.lst_debug2, p.lst_debug3, p.lst_debug4})
        l->setFont(mono);
    return p;
}

void fillDebugAddressColumns(DebugPages& pages) {
    const QString blanks(24, QLatin1Char(' '));
    pages.lst_debug2->clear();
    for (int a = 0; a < 0x100; a += 8)
        pages.lst_debug2->addItem(QStringLiteral("%1H ").arg(a, 2, 16, QLatin1Char('0')).toUpper() +
                                  blanks);
    pages.lst_debug3->clear();
    for (int a = 0; a < 0x400; a += 8)
        pages.lst_debug3->addItem(QStringLiteral("%1 ").arg(a, 4, 16, QLatin1Char('0')).toUpper() +
                                  blanks);
    pages.lst_debug4->clear();
    for (int a = 0; a < 0x200; a += 8)
        pages.lst_debug4->addItem(QStringLiteral("%1 ").arg(a, 4, 16, QLatin1Char('0')).toUpper() +
                                  blanks);
}

}  // namespace qmx::gui
