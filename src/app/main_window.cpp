#include "app/main_window.h"
#include "app/thread_handoff.h"

#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QInputDialog>
#include <QMenu>
#include <QMessageBox>
#include <QMetaObject>
#include <QSaveFile>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QSplitter>
#include <QVBoxLayout>

#include <algorithm>

#include "app/buffer_view.h"
#include "app/core_bridge.h"
#include "app/debug_panel.h"
#include "app/gang_dialog.h"
#include "app/operation_runner.h"
#include "app/option_controls.h"
#include "app/production_controls.h"
#include "app/qt_ui.h"
#include "app/widgets.h"
#include "image/buffer_save.h"
#include "image/hex_loader.h"
#include "image/serial_number.h"
#include "monitor/softice.h"
#include "offline/offline_board.h"
#include "ops/serial_number_store.h"

namespace qmx::gui {
namespace {

QString qs(std::string_view s) {
    return QString::fromUtf8(s.data(), qsizetype(s.size()));
}
std::string ss(const QString& s) {
    return s.toStdString();
}

// The window's text boxes show lines with a plain line feed.
QString paneText(const std::string& s) {
    return QString::fromStdString(s).replace(QLatin1String("\r\n"), QLatin1String("\n"));
}

// Tabs of TabStrip1 by position: key and caption.
struct TabDef {
    const char* key;
    const char* caption;
};
const TabDef kSetupTabs[9] = {
    {"options", "选项"},
    {"user_code", "自定义下载"},
    {"TJXZ", "脱机下载"},
    {"", "检查MCU选项"},
    {"", "自动增量"},
    {"ISP DEMO", "ISP DEMO"},
    {"store_buffer", "存储文件"},
    {"", "硬件帮助"},
    {"softICE", "仿真芯片"},
};
const TabDef kViewTabs[3] = {
    {"tab_file", "文件缓冲区"}, {"Debug1", "SFR/idata"}, {"Debug2", "xdata/IAP EEPROM"}};

QWidget* scrolled(QWidget* page) {
    auto* area = new QScrollArea;
    area->setObjectName(page->objectName() + "_area");
    area->setWidget(page);
    area->setWidgetResizable(true);
    area->setFrameShape(QFrame::NoFrame);
    return area;
}

}  // namespace

MainWindow::MainWindow(const WindowOptions& options, QWidget* parent) : QMainWindow(parent) {
    setObjectName("frmMain");
    setWindowTitle(QStringLiteral("QMX-ISP.exe Ver:3.1"));
    setWindowIcon(programIcon());

    ui_ = new QtUi(core_, this);
    core_.setUi(ui_);
    ui_->boxHandler = [this](const MessageBoxRequest& box) -> BoxAnswer {
        QMessageBox mb(this);
        mb.setWindowTitle(box.title.empty() ? QStringLiteral("QMX-ISP") : qs(box.title));
        mb.setText(paneText(box.text));
        switch (box.icon) {
            case BoxIcon::Information:
                mb.setIcon(QMessageBox::Information);
                break;
            case BoxIcon::Question:
                mb.setIcon(QMessageBox::Question);
                break;
            case BoxIcon::Exclamation:
                mb.setIcon(QMessageBox::Warning);
                break;
            case BoxIcon::Critical:
                mb.setIcon(QMessageBox::Critical);
                break;
            case BoxIcon::None:
                break;
        }
        if (box.buttons == BoxButtons::YesNo) {
            mb.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
            mb.setDefaultButton(box.defaultAnswer == BoxAnswer::Yes ? QMessageBox::Yes
                                                                    : QMessageBox::No);
            return mb.exec() == QMessageBox::Yes ? BoxAnswer::Yes : BoxAnswer::No;
        }
        mb.setStandardButtons(QMessageBox::Ok);
        mb.exec();
        return BoxAnswer::Ok;
    };
    runner_ = new OperationRunner(this);

    buildWindow();
    connectFace();
    connectControls();
    startUp(options);
}

MainWindow::~MainWindow() {
    if (gang_) {
        // Its end must not reach a window that is going; deleting it stops its stations.
        disconnect(gang_, nullptr, this, nullptr);
        delete gang_;
        gang_ = nullptr;
    }
    // The worker may still be finishing an operation; it ends at its next wait.
    core_.session.stop_requested = true;
    core_.session.demo_stop_requested = true;
    // Keep answering what the operation still asks of the window (a message box, its end)
    // until it has ended; the worker may be waiting for this thread.
    // Nothing new starts now, not even an operation that waited for the debug port to close.
    closing_ = true;
    if (debugPanel_) debugPanel_->close();
    QElapsedTimer waited;
    waited.start();
    while (runner_ && runner_->busy() && waited.elapsed() < 15000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    delete runner_;
    runner_ = nullptr;
    core_.setUi(nullptr);
}

bool MainWindow::operationRunning() const {
    // The debug port receives on the worker too, but it gives way to any other operation.
    return runner_ && runner_->busy() && !(debugPanel_ && debugPanel_->running());
}

// ---------------------------------------------------------------------------------------------
// Construction

void MainWindow::buildWindow() {
    auto* central = new QWidget(this);
    central->setObjectName("centralWidget");
    auto* h = new QHBoxLayout(central);
    h->setContentsMargins(6, 6, 6, 6);
    h->addWidget(buildLeftColumn(central), 0);
    h->addWidget(buildRightSide(central), 1);
    setCentralWidget(central);
    setMinimumSize(twips(1000), twips(800));
}

// Step 1: model and memory ranges.
void MainWindow::buildModelFrame(QWidget* col) {
    frame1_ =
        makeGroup(col, "Frame1", QStringLiteral("Step1/步骤1: Select MCU Type  选择单片机型号"));
    auto* g = new QGridLayout(frame1_);
    QStringList names;
    for (const ModelEntry& m : modelCatalogue())
        names << qs(m.name);
    combMcuModel_ = makeList(frame1_, "combMcuModel", names);
    combMcuModel_->setMaxVisibleItems(20);
    g->addWidget(combMcuModel_, 0, 0, 1, 2);
    auto* ranges = new QHBoxLayout;
    for (int i = 0; i < 4; ++i) {
        txtISP_reange_[size_t(i)] = makeEdit(frame1_, arrayName("txtISP_reange", i));
        txtISP_reange_[size_t(i)]->setReadOnly(true);
        txtISP_reange_[size_t(i)]->setFrame(false);
        txtISP_reange_[size_t(i)]->setFocusPolicy(Qt::NoFocus);
        txtISP_reange_[size_t(i)]->setMaximumWidth(52);
    }
    ranges->addWidget(new QLabel(QStringLiteral("AP:"), frame1_));
    ranges->addWidget(txtISP_reange_[0]);
    ranges->addWidget(new QLabel("-", frame1_));
    ranges->addWidget(txtISP_reange_[1]);
    ranges->addWidget(new QLabel(QStringLiteral("  ISP:"), frame1_));
    ranges->addWidget(txtISP_reange_[2]);
    ranges->addWidget(new QLabel("-", frame1_));
    ranges->addWidget(txtISP_reange_[3]);
    ranges->addStretch(1);
    g->addLayout(ranges, 1, 0, 1, 2);
}

// Step 2: the file.
void MainWindow::buildFileFrame(QWidget* col) {
    frame5_ = makeGroup(col, "Frame5", QStringLiteral("Step2/步骤2: Open File / 打开文件"));
    auto* g = new QGridLayout(frame5_);
    comLoadFile_ = makeButton(frame5_, "comLoadFile", QStringLiteral("Open File"));
    g->addWidget(comLoadFile_, 0, 0);
    g->addWidget(makeLabel(frame5_, "Label_fill", QStringLiteral("填充/Fill:")), 0, 1,
                 Qt::AlignRight);
    optFillbyte_[0] = makeRadio(frame5_, "optFillbyte_0", "FF");
    optFillbyte_[1] = makeRadio(frame5_, "optFillbyte_1", "00");
    auto* fill = new QButtonGroup(frame5_);
    fill->addButton(optFillbyte_[0], 0);
    fill->addButton(optFillbyte_[1], 1);
    optFillbyte_[1]->setChecked(true);
    g->addWidget(optFillbyte_[0], 0, 2);
    g->addWidget(optFillbyte_[1], 0, 3);
    g->addWidget(
        makeLabel(frame5_, "Label_Text4", QStringLiteral("Buffer Start/缓冲区起始地址(HEX):")), 1,
        0, 1, 2);
    text4_ = makeEdit(frame5_, "Text4", "0");
    text4_->setMaximumWidth(70);
    g->addWidget(text4_, 1, 2);
    check6_ = makeCheck(frame5_, "Check6", QStringLiteral("Clear Buffer"));
    g->addWidget(check6_, 1, 3);
    g->addWidget(
        makeLabel(frame5_, "Label_checksum", QStringLiteral("File Check Sum/文件校验和(HEX):")), 2,
        0, 1, 2);
    txtFileCheckSum_ = makeEdit(frame5_, "txtFileCheckSum");
    txtFileCheckSum_->setReadOnly(true);
    g->addWidget(txtFileCheckSum_, 2, 2, 1, 2);
}

// Step 3: port and maximum baud rate.
void MainWindow::buildPortFrame(QWidget* col) {
    frame3_ =
        makeGroup(col, "Frame3",
                  QStringLiteral("Step3/步骤3: Select COM Port,Max Baud/选择串行口,最高波特率"));
    auto* g = new QGridLayout(frame3_);
    combCommPort_ = makeList(frame3_, "combCommPort", {});
    combCommPort_->setMinimumContentsLength(14);
    comOtherPort_ = makeButton(frame3_, "comOtherPort", QStringLiteral("..."));
    comOtherPort_->setToolTip(QStringLiteral("Other port / 其它串口 (e.g. /dev/pts/3)"));
    comOtherPort_->setMaximumWidth(30);
    cobBaudMax_ = makeList(frame3_, "cobBaudMax",
                           {"115200", "57600", "38400", "28800", "19200", "14400", "12800", "11520",
                            "9600", "4800", "2400", "1200"});
    g->addWidget(combCommPort_, 0, 0);
    g->addWidget(comOtherPort_, 0, 1);
    g->addWidget(makeLabel(frame3_, "Label_BaudMax", QStringLiteral("Max Baud:")), 0, 2);
    g->addWidget(cobBaudMax_, 0, 3);
    g->setColumnStretch(0, 1);
}

// Step 5: download, the message pane and the progress line.
void MainWindow::buildDownloadFrame(QWidget* col) {
    frame6_ =
        makeGroup(col, "Frame6",
                  QStringLiteral("Step5/步骤5: Download/下载  先点下载按钮再MCU上电复位-冷启动"));
    auto* g = new QGridLayout(frame6_);
    comDownload_[0] = makeButton(frame6_, "comDownload_0", QStringLiteral("Download/下载"));
    comDownload_[1] = makeButton(frame6_, "comDownload_1", QStringLiteral("Re-Download/重复下载"));
    comStop_ = makeButton(frame6_, "comStop_Download", QStringLiteral("Stop/停止"));
    g->addWidget(comDownload_[0], 0, 0);
    g->addWidget(comDownload_[1], 0, 1);
    g->addWidget(comStop_, 0, 2);
    // The single steps of a session; the session drives their states, they have no
    // action of their own in this window.
    comWrite_ = makeButton(frame6_, "comWrite", QStringLiteral("DownLoad,Check"));
    comLock_ = makeButton(frame6_, "comLock", QStringLiteral("加  锁"));
    comRun_ = makeButton(frame6_, "comRun", QStringLiteral("Run/运行"));
    for (QPushButton* b : {comWrite_, comLock_, comRun_})
        b->hide();
    cekReloadFile_ =
        makeCheck(frame6_, "cekReloadFile",
                  QStringLiteral("每次下载前重新调入已打开在缓冲区的文件，方便调试使用"));
    cekReloadOnChange_ =
        makeCheck(frame6_, "cekReloadFileWhileFileChange",
                  QStringLiteral("文件改变时自动调入并下载 / Auto reload && download"));
    for (QCheckBox* c : {cekReloadFile_, cekReloadOnChange_}) {
        c->setStyleSheet("QCheckBox { font-size: 9pt; }");
    }
    g->addWidget(cekReloadFile_, 1, 0, 1, 3);
    g->addWidget(cekReloadOnChange_, 2, 0, 1, 3);
    progress_ = new QProgressBar(frame6_);
    progress_->setObjectName("ProgressBar1");
    progress_->setTextVisible(false);
    progress_->hide();
    labKbyte_ = makeLabel(frame6_, "labKbyte", QString());
    labKbyte_->setMinimumWidth(60);
    auto* prog = new QHBoxLayout;
    prog->addWidget(progress_, 1);
    prog->addWidget(labKbyte_);
    // The state line says where the station is, whatever the pane has scrolled to.
    labState_ = makeLabel(frame6_, "labState", QString());
    QFont stateFont = labState_->font();
    stateFont.setBold(true);
    labState_->setFont(stateFont);
    labState_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    g->addWidget(labState_, 3, 0, 1, 3);
    g->addLayout(prog, 4, 0, 1, 3);
    textMsg_ = new QPlainTextEdit(frame6_);
    textMsg_->setObjectName("textMsg");
    textMsg_->setReadOnly(true);
    textMsg_->setMinimumHeight(80);
    textMsg_->setContextMenuPolicy(Qt::CustomContextMenu);
    g->addWidget(textMsg_, 5, 0, 1, 3);
    g->setRowStretch(5, 1);
}

// The counter line.
QHBoxLayout* MainWindow::buildCounterLine(QWidget* col) {
    auto* counter = new QHBoxLayout;
    counter->addWidget(makeLabel(col, "labWrite_OK_Count", QStringLiteral("成功计数")));
    txtWrite_OK_Count_ = makeEdit(col, "txtWrite_OK_Count", "0");
    txtWrite_OK_Count_->setMaximumWidth(90);
    counter->addWidget(txtWrite_OK_Count_);
    comClear_OK_Count_ = makeButton(col, "comClear_OK_Count", QStringLiteral("Clear"));
    counter->addWidget(comClear_OK_Count_);
    counter->addSpacing(twips(200));
    labUpdataVersion_ = makeLabel(col, "LabUpdataVersion", QStringLiteral("QMX-ISP Ver:3.1"));
    counter->addWidget(labUpdataVersion_, 1);
    return counter;
}

QWidget* MainWindow::buildLeftColumn(QWidget* parent) {
    auto* col = new QWidget(parent);
    col->setObjectName("leftColumn");
    col->setFixedWidth(430);
    auto* v = new QVBoxLayout(col);
    v->setContentsMargins(0, 0, 0, 0);
    v->setSpacing(twips(100));

    buildModelFrame(col);
    v->addWidget(frame1_);
    buildFileFrame(col);
    v->addWidget(frame5_);
    buildPortFrame(col);
    v->addWidget(frame3_);
    // Step 4: the option rows (built per family by OptionControls, together with Frame12).
    // Frame12 starts in this column and moves to its page of TabStrip1 in buildRightSide; an
    // owner from the start means nothing is left without a parent.
    options_ = new OptionControls(core_.options, col, col);
    production_ = new ProductionControls(options_->frame12());
    options_->addPageGroup(production_->frame());
    v->addWidget(options_->frame2());

    buildDownloadFrame(col);
    v->addWidget(frame6_, 1);  // the message pane takes all extra height
    v->addLayout(buildCounterLine(col));
    return col;
}

QWidget* MainWindow::buildRightSide(QWidget* parent) {
    auto* right = new QWidget(parent);
    right->setObjectName("rightSide");
    auto* v = new QVBoxLayout(right);
    v->setContentsMargins(0, 0, 0, 0);

    // TabStrip2: buffer view and the two debug views.
    tabStrip2_ = new QTabBar(right);
    tabStrip2_->setObjectName("TabStrip2");
    tabStrip2Pages_ = new QStackedWidget(right);
    tabStrip2Pages_->setObjectName("TabStrip2_pages");
    view_ = new BufferView(core_, tabStrip2Pages_);
    debug_ = buildDebugPages(tabStrip2Pages_);
    tabStrip2Pages_->addWidget(view_->frame());
    tabStrip2Pages_->addWidget(debug_.frame21);
    tabStrip2Pages_->addWidget(debug_.frame22);
    for (int i = 0; i < 3; ++i) {
        tabStrip2_->addTab(QString::fromUtf8(kViewTabs[i].caption));
        tabStrip2_->setTabData(i, QString::fromUtf8(kViewTabs[i].key));
    }
    v->addWidget(tabStrip2_);
    v->addWidget(tabStrip2Pages_, 3);

    // TabStrip1 over the container Picture1: the setup pages.
    tabStrip1_ = new QTabBar(right);
    tabStrip1_->setObjectName("TabStrip1");
    tabStrip1_->setExpanding(false);
    tabStrip1_->setUsesScrollButtons(true);
    picture1_ = new QStackedWidget(right);
    picture1_->setObjectName("Picture1");
    status_ = buildStatusPage(picture1_);
    autoIncrease_ = buildAutoIncreasePage(picture1_);
    store_ = buildStorePage(picture1_);
    userCode_ = buildUserCodePage(picture1_);
    demo_ = buildDemoPage(picture1_);
    offline_ = buildOfflinePage(picture1_);
    monitor_ = buildMonitorPage(picture1_);
    hardwareHelp_ = buildHardwareHelpPage(picture1_);
    QWidget* pages[9] = {options_->frame12(), userCode_.frame,     offline_.frame,
                         status_.frame,       autoIncrease_.frame, demo_.frame,
                         store_.frame,        hardwareHelp_,       monitor_.frame};
    for (int i = 0; i < 9; ++i) {
        picture1_->addWidget(scrolled(pages[i]));
        tabStrip1_->addTab(QString::fromUtf8(kSetupTabs[i].caption));
        tabStrip1_->setTabData(i, QString::fromUtf8(kSetupTabs[i].key));
    }
    // Room for all nine tabs with their full captions.
    tabStrip1_->setMinimumWidth(tabStrip1_->sizeHint().width());
    v->addWidget(tabStrip1_);
    v->addWidget(picture1_, 2);
    return right;
}

// ---------------------------------------------------------------------------------------------
// The face: what the core shows arrives here on the window's thread.

void MainWindow::connectFace() {
    connect(ui_, &QtUi::messageAppended, this, &MainWindow::appendMessage);
    connect(ui_, &QtUi::messagesCleared, textMsg_, &QPlainTextEdit::clear);
    connect(ui_, &QtUi::messagesReplaced, this, &MainWindow::replaceMessages);
    connect(ui_, &QtUi::beepRequested, this, &MainWindow::beepTimes);
    connect(ui_, &QtUi::buttonStateChanged, this, &MainWindow::applyButtonState);
    connect(ui_, &QtUi::progressChanged, this, [this](int value, int mn, int mx, bool visible) {
        progress_->setRange(mn, std::max(mn, mx));
        progress_->setValue(std::clamp(value, mn, std::max(mn, mx)));
        progress_->setVisible(visible);
        if (visible && buttonState_ == kStateProgramming) showProgramming(value, mn, mx);
    });
    connect(ui_, &QtUi::chipAnswerReceived, this,
            [this] { showStation(QStringLiteral("Connecting")); });
    connect(ui_, &QtUi::kbyteLabelChanged, labKbyte_, &QLabel::setText);
    connect(ui_, &QtUi::optionPanelChanged, this, [this](const std::vector<PanelLabel>& labels) {
        for (size_t i = 0; i < status_.labLock.size(); ++i) {
            QLabel* l = status_.labLock[i];
            if (i < labels.size()) {
                l->setText(qs(labels[i].text));
                l->setVisible(labels[i].visible);
                l->setEnabled(labels[i].enabled);
            }
        }
    });
    connect(ui_, &QtUi::bufferSnapshot, this, [this](std::shared_ptr<const ViewSnapshot> snap) {
        if (operationRunning()) {
            view_->setSnapshot(snap);
            if (snap->fromWorker)
                autoIncrease_.boxes[2]->setText(QString::fromStdString(snap->serial.nextValueText));
        } else {
            view_->setSnapshot(nullptr);
        }
    });
    connect(ui_, &QtUi::countChanged, this, [this](const QString& count) {
        txtWrite_OK_Count_->setText(count);
        // A good chip; in a series the next one is waited for after the countdown.
        if (operationRunning()) showStation(QStringLiteral("Done"), Tone::Good);
    });
    connect(textMsg_, &QWidget::customContextMenuRequested, this, &MainWindow::showPaneMenu);
    connect(runner_, &OperationRunner::finished, this, &MainWindow::onOperationFinished);
}

void MainWindow::appendMessage(const QString& line) {
    textMsg_->appendPlainText(QString(line).replace(QLatin1String("\r\n"), QLatin1String("\n")));
    textMsg_->moveCursor(QTextCursor::End);
    textMsg_->ensureCursorVisible();
}

void MainWindow::replaceMessages(const QString& text) {
    textMsg_->setPlainText(QString(text).replace(QLatin1String("\r\n"), QLatin1String("\n")));
    textMsg_->moveCursor(QTextCursor::End);
    textMsg_->ensureCursorVisible();
}

void MainWindow::showPaneMenu(const QPoint& at) {
    QMenu* menu = textMsg_->createStandardContextMenu(at);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->addSeparator();
    QAction* copyAll = menu->addAction(QStringLiteral("Copy Log / 复制全部信息"));
    copyAll->setObjectName("actCopyLog");
    connect(copyAll, &QAction::triggered, this, &MainWindow::copyLog);
    QAction* save = menu->addAction(QStringLiteral("Save Log... / 保存信息..."));
    save->setObjectName("actSaveLog");
    connect(save, &QAction::triggered, this, &MainWindow::chooseAndSaveLog);
    menu->popup(textMsg_->viewport()->mapToGlobal(at));
}

void MainWindow::copyLog() {
    QApplication::clipboard()->setText(textMsg_->toPlainText());
}

void MainWindow::chooseAndSaveLog() {
    const QString name = QStringLiteral("qmx-isp-%1.log")
                             .arg(QDateTime::currentDateTime().toString("yyyyMMdd-hhmmss"));
    const QString dir = QFileInfo(QString::fromStdString(stored_.filePath)).absolutePath();
    const QString path =
        QFileDialog::getSaveFileName(this, QStringLiteral("Save Log / 保存信息"), dir + "/" + name,
                                     QStringLiteral("Log (*.log *.txt);;All Files (*)"));
    if (!path.isEmpty()) saveLog(path);
}

bool MainWindow::saveLog(const QString& path) {
    // Written whole through a temporary file: a full disk never leaves half a log behind an
    // old one's name.
    QSaveFile file(path);
    QByteArray text = textMsg_->toPlainText().toUtf8();
    if (!text.isEmpty() && !text.endsWith('\n')) text += '\n';
    if (file.open(QIODevice::WriteOnly) && file.write(text) == text.size() && file.commit())
        return true;
    core_.ui().messageBox({ss("Cannot save the log to " + path + ": " + file.errorString() +
                              "\r\nChinese:无法保存信息到 " + path),
                           "", BoxButtons::Ok, BoxAnswer::Ok, BoxIcon::Exclamation});
    return false;
}

void MainWindow::beepTimes(int times) {
    // System beeps spaced by 150 ms (`Timer_beep`).
    for (int i = 0; i < times; ++i)
        QTimer::singleShot(150 * i, this, [] { QApplication::beep(); });
}

// ---------------------------------------------------------------------------------------------
// Controls

// Model, tabs, file, port and baud rate.
void MainWindow::connectSetupControls() {
    connect(combMcuModel_, &QComboBox::activated, this, &MainWindow::combMcuModel_Click);
    connect(tabStrip1_, &QTabBar::tabBarClicked, this, &MainWindow::selectSetupTab);
    connect(tabStrip2_, &QTabBar::tabBarClicked, this, &MainWindow::selectViewTab);
    connect(tabStrip1_, &QTabBar::currentChanged, this, [this](int i) {
        if (i != setupTab_) selectSetupTab(i);
    });
    connect(tabStrip2_, &QTabBar::currentChanged, this, [this](int i) {
        if (i != viewTab_) selectViewTab(i);
    });

    connect(comLoadFile_, &QPushButton::clicked, this, &MainWindow::comLoadFile_Click);
    for (int i = 0; i < 2; ++i) {
        auto setFill = [this] {
            const std::uint8_t fill = optFillbyte_[0]->isChecked() ? 0xFF : 0x00;
            changeCore([this, fill] { core_.buffer.fillByte = fill; });
        };
        connect(optFillbyte_[size_t(i)], &QRadioButton::released, this, [this, setFill] {
            setFill();
            scheduleSave();
        });
        connect(optFillbyte_[size_t(i)], &QRadioButton::toggled, this, setFill);
    }
    connect(text4_, &QLineEdit::textChanged, this, [this](const QString& t) {
        changeCore([this, text = ss(t)] { core_.buffer.startAddressText = text; });
    });
    connect(check6_, &QCheckBox::toggled, this,
            [this](bool on) { changeCore([this, on] { core_.buffer.clearOnLoad = on; }); });

    connect(combCommPort_, &QComboBox::activated, this, [this] {
        changeCore(
            [this, path = ss(combCommPort_->currentData().toString())] { core_.portPath = path; });
        scheduleSave();
    });
    connect(comOtherPort_, &QPushButton::clicked, this, [this] {
        bool ok = false;
        const QString path = QInputDialog::getText(
            this, QStringLiteral("QMX-ISP"), QStringLiteral("Port / 串口 (e.g. /dev/ttyUSB0):"),
            QLineEdit::Normal, QString(), &ok);
        if (ok && !path.trimmed().isEmpty()) {
            choosePort(path.trimmed());
            scheduleSave();
        }
    });
    connect(cobBaudMax_, &QComboBox::currentTextChanged, this, [this](const QString& t) {
        changeCore([this, baud = t.toLong()] { core_.maxBaud = baud; });
    });
}

// The operation buttons and the choices a session reads when it starts.
void MainWindow::connectSessionControls() {
    connect(comDownload_[0], &QPushButton::clicked, this, [this] { comDownload_Click(0); });
    connect(comDownload_[1], &QPushButton::clicked, this, [this] { comDownload_Click(1); });
    connect(comStop_, &QPushButton::clicked, this, &MainWindow::comStop_Download_Click);
    // Offline page: the count box is read when the button is pressed; the help pages are
    // message boxes shown on the window's thread.
    connect(offline_.comTJXZ, &QPushButton::clicked, this, [this] {
        const std::string limit = ss(offline_.txt_download_max->text());
        startOperation([this, limit] { return asResult(run_offline_board_session(core_, limit)); });
    });
    connect(offline_.help, &QPushButton::clicked, this, [this] { show_offline_help(core_); });
    connect(status_.comReadChipLock, &QPushButton::clicked, this,
            &MainWindow::comReadChipLock_Click);
    connect(comClear_OK_Count_, &QPushButton::clicked, this, &MainWindow::comClear_OK_Count_Click);
    connect(txtWrite_OK_Count_, &QLineEdit::textEdited, this, [this](const QString& t) {
        changeCore([this, text = ss(t)] { core_.download.writeOkCount = text; });
    });
    connect(cekReloadFile_, &QCheckBox::toggled, this,
            [this](bool on) { changeCore([this, on] { core_.download.reloadFile = on; }); });
    connect(cekReloadOnChange_, &QCheckBox::toggled, this,
            [this](bool on) { changeCore([this, on] { core_.download.reloadOnChange = on; }); });
}

// Option page: beep, delay and the persisted RS-485 choices save.
void MainWindow::connectOptionPage() {
    options_->changeChoices = [this](std::function<void()> write) { changeCore(std::move(write)); };
    options_->showNotice = [this](const QString& text) {
        core_.ui().messageBox({ss(text), "", BoxButtons::Ok, BoxAnswer::Ok, BoxIcon::None});
    };
    connect(options_, &OptionControls::saveRequested, this, &MainWindow::scheduleSave);
    connect(options_->beepNo(), &QRadioButton::clicked, this, &MainWindow::scheduleSave);
    connect(options_->beepYes(), &QRadioButton::clicked, this, &MainWindow::scheduleSave);
    connect(options_->beepYes(), &QRadioButton::toggled, this,
            [this](bool on) { changeCore([this, on] { core_.download.beepOnSuccess = on; }); });
    connect(options_->redownloadDelay(), &QComboBox::currentIndexChanged, this, [this](int row) {
        changeCore([this, row] { core_.download.seriesDelayRow = row; });
        if (!loading_) scheduleSave();
    });
    // The messages change language from the next line on; the choice is stored from now on.
    connect(options_->language(), &QComboBox::activated, this, [this](int row) {
        const std::string name = ss(options_->language()->itemData(row).toString());
        const Language language = parseLanguage(name).value_or(Language::Both);
        ui_->setLanguage(language);
        showHardwareHelp(hardwareHelp_, language);
        languageChosen_ = true;
        scheduleSave();
    });
}

// Auto-increment.
void MainWindow::connectAutoIncrease() {
    connect(autoIncrease_.cheAuto_Increase, &QCheckBox::clicked, this,
            &MainWindow::cheAuto_Increase_Click);
    for (int i = 0; i < 4; ++i) {
        connect(autoIncrease_.boxes[size_t(i)], &QLineEdit::textEdited, this, [this, i] {
            changeCore([this, i, t = ss(autoIncrease_.boxes[size_t(i)]->text())] {
                SerialNumberSpec& s = core_.serial;
                (i == 0   ? s.addressText
                 : i == 1 ? s.lengthText
                 : i == 2 ? s.nextValueText
                          : s.incrementText) = t;
                serialParametersEdited(s);
            });
        });
    }
    for (int i = 0; i < 3; ++i) {
        connect(autoIncrease_.formats[size_t(i)], &QRadioButton::clicked, this, [this, i] {
            changeCore([this, i] {
                core_.serial.format = static_cast<SerialFormat>(i);
                serialParametersEdited(core_.serial);
            });
        });
    }
}

// Saving the buffer.
void MainWindow::connectBufferStore() {
    auto storeEnable = [this] {
        store_.store->setEnabled(!store_.start->text().isEmpty() &&
                                 !store_.length->text().isEmpty());
    };
    connect(store_.start, &QLineEdit::textChanged, this, storeEnable);
    connect(store_.length, &QLineEdit::textChanged, this, storeEnable);
    connect(store_.store, &QPushButton::clicked, this, &MainWindow::comStoreFile_Click);
    connect(view_, &BufferView::viewEndChanged, this,
            [this](long viewEnd) { store_.length->setText(qs(hexText(viewEnd + 1))); });
    view_->autoIncreaseTicked = [this] { return autoIncrease_.cheAuto_Increase->isChecked(); };
}

// The window's own timers: delayed save, delayed close, file watch.
void MainWindow::startWindowTimers() {
    timer3_.setObjectName("Timer3");
    timer3_.setSingleShot(true);
    timer3_.setInterval(500);
    connect(&timer3_, &QTimer::timeout, this, &MainWindow::Timer3_Timer);
    timerUnload_.setObjectName("TimerUnload");
    timerUnload_.setSingleShot(true);
    timerUnload_.setInterval(500);
    connect(&timerUnload_, &QTimer::timeout, this, &MainWindow::TimerUnload_Timer);
    timer12_.setObjectName("Timer12");
    timer12_.setInterval(1000);
    connect(&timer12_, &QTimer::timeout, this, &MainWindow::Timer12_Timer);
    timer12_.start();
}

void MainWindow::connectControls() {
    connectSetupControls();
    connectSessionControls();
    connectOptionPage();
    connectAutoIncrease();
    connectBufferStore();
    connectUserEntryPages();
    connectProduction();
    // The persisted port lists save when chosen.
    for (auto* list : {userCode_.port[0], userCode_.port[1], userCode_.port[2], userCode_.port[3],
                       demo_.download[0], demo_.download[1], demo_.download[2], demo_.download[3],
                       demo_.userCode[1], demo_.userCode[2], demo_.userCode[3], debug_.port[0],
                       debug_.port[1], debug_.port[2], debug_.port[3], debug_.port[4]})
        connect(list, &QComboBox::activated, this, &MainWindow::scheduleSave);
    connect(debug_.che_AutoOpenPort, &QCheckBox::clicked, this, [this](bool on) {
        changeCore([this, on] { core_.download.reopenDebugPort = on; });
        scheduleSave();
    });
    debugPanel_ = new DebugPanel(core_, debug_, *runner_, this);
    debugPanel_->syncPorts(combCommPort_);
    connect(monitor_.comDownSoft_ICE, &QPushButton::clicked, this, [this] {
        const std::string dir = ss(monitorDir_);
        startOperation([this, dir] { return asResult(downloadSoftIce(core_, dir)); });
    });
    startWindowTimers();
}

// ---------------------------------------------------------------------------------------------
// Tabs

void MainWindow::selectSetupTab(int index) {
    if (index < 0 || index >= tabStrip1_->count()) return;
    if (tabStrip1_->tabText(index) == qs(kTabAbsent)) {
        // An absent tab shows no page: the page that was shown stays, and so does its tab.
        QSignalBlocker block(tabStrip1_);
        tabStrip1_->setCurrentIndex(setupTab_);
        return;
    }
    setupTab_ = index;
    {
        QSignalBlocker block(tabStrip1_);
        tabStrip1_->setCurrentIndex(index);
    }
    picture1_->setCurrentIndex(index);
}

void MainWindow::selectViewTab(int index) {
    if (index < 0 || index >= tabStrip2_->count()) return;
    if (tabStrip2_->tabText(index) == qs(kTabAbsent)) {
        QSignalBlocker block(tabStrip2_);
        tabStrip2_->setCurrentIndex(viewTab_);
        return;
    }
    viewTab_ = index;
    {
        QSignalBlocker block(tabStrip2_);
        tabStrip2_->setCurrentIndex(index);
    }
    tabStrip2Pages_->setCurrentIndex(index);
}

void MainWindow::setTabCaption(QTabBar* bar, std::string_view key, std::string_view caption) {
    if (caption.empty()) return;
    for (int i = 0; i < bar->count(); ++i)
        if (bar->tabData(i).toString() == qs(key)) bar->setTabText(i, qs(caption));
}

// ---------------------------------------------------------------------------------------------
// Model selection and the setup lock

void MainWindow::selectModelRow(int row) {
    combMcuModel_->setCurrentIndex(row);
    combMcuModel_Click(row);
}

void MainWindow::combMcuModel_Click(int row) {
    if (operationRunning()) {
        // The running operation works with the model it started with.
        if (core_.model) combMcuModel_->setCurrentIndex(core_.model->listIndex);
        return;
    }
    const std::optional<ModelSelection> sel = qmx::selectModel(row);
    if (!sel) return;
    core_.model = sel->entry;
    if (combMcuModel_->currentIndex() != sel->listIndex)
        combMcuModel_->setCurrentIndex(sel->listIndex);
    monitorCapable_ = sel->monitorButtonEnabled;
    for (std::string_view key : {kTabKeyIspDemo, kTabKeyOffline, kTabKeyMonitor})
        setTabCaption(tabStrip1_, key, sel->tabCaption(key));
    for (std::string_view key : {kTabKeyDebug1, kTabKeyDebug2})
        setTabCaption(tabStrip2_, key, sel->tabCaption(key));
    // The page selection keeps the shown page when its tab is now absent.
    selectSetupTab(setupTab_);
    if (debugPanel_) debugPanel_->setFamily(sel->entry->family);
    resetStatusPanel(core_);
    if (!loading_) scheduleSave();
    unlockSetupControls();
    options_->buildPage(sel->optionPageFamily);
    refreshRangeDisplay();
}

void MainWindow::refreshRangeDisplay() {
    if (!core_.model) return;
    const auto texts = rangeDisplayTexts(MemoryMap::fromModel(*core_.model));
    for (size_t i = 0; i < 4; ++i)
        txtISP_reange_[i]->setText(qs(texts[i]));
}

void MainWindow::lockSetupControls() {
    for (QWidget* w : std::initializer_list<QWidget*>{combMcuModel_,
                                                      comLoadFile_,
                                                      optFillbyte_[0],
                                                      optFillbyte_[1],
                                                      combCommPort_,
                                                      comOtherPort_,
                                                      cobBaudMax_,
                                                      monitor_.comDownSoft_ICE,
                                                      status_.comReadChipLock,
                                                      offline_.comTJXZ,
                                                      offline_.txt_download_max,
                                                      autoIncrease_.cheAuto_Increase,
                                                      autoIncrease_.formats[0],
                                                      autoIncrease_.formats[1],
                                                      autoIncrease_.formats[2],
                                                      text4_,
                                                      check6_,
                                                      comClear_OK_Count_,
                                                      txtWrite_OK_Count_,
                                                      store_.store,
                                                      options_->frame12(),
                                                      autoIncrease_.boxes[0],
                                                      autoIncrease_.boxes[1],
                                                      autoIncrease_.boxes[2],
                                                      autoIncrease_.boxes[3]})
        w->setEnabled(false);
    options_->setLocked(true);
    view_->setLocked(true);
    if (debugPanel_) debugPanel_->setLocked(true);
}

void MainWindow::unlockSetupControls() {
    for (QWidget* w : std::initializer_list<QWidget*>{
             combMcuModel_, comLoadFile_, optFillbyte_[0], optFillbyte_[1], combCommPort_,
             comOtherPort_, cobBaudMax_, status_.comReadChipLock, autoIncrease_.cheAuto_Increase,
             text4_, check6_, comClear_OK_Count_, txtWrite_OK_Count_, options_->frame12(),
             offline_.comTJXZ, offline_.txt_download_max})
        w->setEnabled(true);
    store_.store->setEnabled(!store_.start->text().isEmpty() && !store_.length->text().isEmpty());
    monitor_.comDownSoft_ICE->setEnabled(monitorCapable_);
    options_->setLocked(false);
    view_->setLocked(false);
    if (debugPanel_) debugPanel_->setLocked(false);
}

// The button states of the session driver. While the worker still runs, the setup stays
// locked and no new operation can be started; the end of the operation applies idle fully.
void MainWindow::applyButtonState(int state) {
    const bool running = operationRunning();
    auto set = [](std::initializer_list<QWidget*> ws, bool on) {
        for (QWidget* w : ws)
            w->setEnabled(on);
    };
    switch (state) {
        case kStateBusy:
            set({comStop_}, true);
            set({comDownload_[0], comDownload_[1], comLock_, comRun_, status_.comReadChipLock,
                 offline_.comTJXZ},
                false);
            setUserEntryButtons(false, true);
            labKbyte_->clear();
            progress_->hide();
            showStation(QStringLiteral("Waiting for power"));
            break;
        case kStateIdentified:
            set({comStop_, comWrite_, comLock_}, true);
            set({comDownload_[0], comRun_}, false);
            setUserEntryButtons(false, true);
            break;
        case kStateIdle:
            set({comStop_, comWrite_, comLock_, comRun_}, false);
            set({comDownload_[0], comDownload_[1], status_.comReadChipLock, offline_.comTJXZ},
                !running);
            setUserEntryButtons(!running, false);
            if (!running) unlockSetupControls();
            break;
        case kStateProgramming:
        case kStateOptionsDone:
            if (state == kStateProgramming && buttonState_ != kStateProgramming)
                showProgramming(0, 0, 1);
            lockSetupControls();
            set({comStop_, comWrite_, comLock_, comRun_}, true);
            set({comDownload_[0]}, false);
            setUserEntryButtons(false, true);
            break;
        default:
            return;
    }
    buttonState_ = state;
}

// ---------------------------------------------------------------------------------------------
// Operations

void MainWindow::syncChoicesToCore() {
    core_.portPath = ss(combCommPort_->currentData().toString());
    core_.maxBaud = cobBaudMax_->currentText().toLong();
    core_.buffer.fillByte = optFillbyte_[0]->isChecked() ? 0xFF : 0x00;
    core_.buffer.startAddressText = ss(text4_->text());
    core_.buffer.clearOnLoad = check6_->isChecked();
    core_.download.reloadFile = cekReloadFile_->isChecked();
    core_.download.reloadOnChange = cekReloadOnChange_->isChecked();
    core_.download.seriesDelayRow = options_->redownloadDelay()->currentIndex();
    core_.download.beepOnSuccess = options_->beepYes()->isChecked();
    core_.download.reopenDebugPort = debug_.che_AutoOpenPort->isChecked();
    core_.download.writeOkCount = ss(txtWrite_OK_Count_->text());
    std::string incomplete;  // a download refuses it (withProduction); nothing is switched
    core_.powerCycle = production_->powerCycle(incomplete).value_or(PowerCycle{});
    core_.productionLog.reset();  // a download opens it again: a moved file is made anew
}

void MainWindow::startOperation(Operation operation) {
    if (debugPanel_ && debugPanel_->running()) {
        // The operation takes the port over: the debug port closes first.
        if (!closing_) debugPanel_->takeOver([this, operation] { startOperation(operation); });
        return;
    }
    if (operationRunning() || closing_ || gang_) return;
    syncChoicesToCore();
    prepareOperation(core_);
    lockSetupControls();
    // From here the buffer belongs to the operation: the view shows a copy until it ends.
    auto snapshot = std::make_shared<ViewSnapshot>();
    snapshot->buffer = core_.buffer;
    snapshot->serial = core_.serial;
    view_->setSnapshot(std::move(snapshot));
    comDownload_[0]->setEnabled(false);
    comDownload_[1]->setEnabled(false);
    comStop_->setEnabled(true);
    setUserEntryButtons(false, true);
    showStation(QString());
    fileLoadedAtStart_ = core_.buffer.imageLoaded;
    lastResult_ = OpResult::success();
    runner_->start([this, op = std::move(operation)] {
        const OpResult result = op();
        // Queued before the runner's end, so the window has it when the operation ends.
        runOnThreadOf(this, [this, result] { lastResult_ = result; });
    });
}

// Download (index 0) and Re-Download (index 1, a series of chips).
void MainWindow::comDownload_Click(int index) {
    startOperation(withProduction([this, index] {
        OpResult result = run_download_session(core_, index);
        // The debug port comes back after a single download when the user asked for it.
        if (index == 0 && result.ok() && core_.download.reopenDebugPort)
            runOnThreadOf(this, [this] { openDebugAfterDownload_ = true; });
        return result;
    }));
}

void MainWindow::comStop_Download_Click() {
    // Takes effect at the operation's next wait.
    core_.session.stop_requested = true;
}

void MainWindow::comReadChipLock_Click() {
    startOperation([this] { return readChipOptions(core_); });
}

void MainWindow::comClear_OK_Count_Click() {
    if (operationRunning()) return;  // the running session counts
    core_.download.writeOkCount = ss(txtWrite_OK_Count_->text());
    clear_success_count(core_);
    txtWrite_OK_Count_->setText(QString::fromStdString(core_.download.writeOkCount));
}

void MainWindow::Timer3_Timer() {
    saveSettings();
}

void MainWindow::changeCore(std::function<void()> write) {
    if (operationRunning())
        heldChanges_.push_back(std::move(write));
    else
        write();
}

void MainWindow::onOperationFinished() {
    // The setup changes made meanwhile reach the core now, in the order they were made.
    std::vector<std::function<void()>> held;
    held.swap(heldChanges_);
    for (auto& write : held)
        write();
    if (!held.empty()) options_->showChoices();
    if (debugPanel_ && debugPanel_->operationEnded()) return;
    // An operation that marked the buffer as holding no file (a wrong model) leaves it as at
    // start-up, so that the view, the checksum and the File label agree with Download.
    if (fileLoadedAtStart_ && !core_.buffer.imageLoaded) core_.buffer.reset();
    showCoreState();
    applyButtonState(kStateIdle);
    showOutcome(lastResult_);
    if (saveDeferred_) {
        saveDeferred_ = false;
        saveSettings();
    }
    if (openDebugAfterDownload_) {
        openDebugAfterDownload_ = false;
        if (debug_.che_AutoOpenPort->isChecked()) debugPanel_->open();
    }
    emit operationFinished();
}

// After an operation, or a short operation on the window's thread: show what the core holds.
void MainWindow::showCoreState() {
    view_->setSnapshot(nullptr);
    txtWrite_OK_Count_->setText(QString::fromStdString(core_.download.writeOkCount));
    txtFileCheckSum_->setText(QString::fromStdString(core_.buffer.checksumText));
    if (core_.buffer.imageLoaded && !core_.buffer.currentPath.empty())
        view_->frame()->setTitle("File: " + QString::fromStdString(core_.buffer.currentPath));
    else
        view_->frame()->setTitle(QStringLiteral("File:"));
    view_->refresh();
    showSerialBoxes();
}

// ---------------------------------------------------------------------------------------------
// The state line

void MainWindow::showStation(const QString& text, Tone tone) {
    labState_->setText(qs(ui_->inLanguage(ss(text))));
    labState_->setStyleSheet(tone == Tone::Good  ? QStringLiteral("color: #1a7f37;")
                             : tone == Tone::Bad ? QStringLiteral("color: #c62828;")
                                                 : QString());
}

void MainWindow::showProgramming(int value, int minimum, int maximum) {
    const int span = std::max(1, maximum - minimum);
    const int percent = std::clamp((value - minimum) * 100 / span, 0, 100);
    showStation(QStringLiteral("Programming %1 %").arg(percent));
}

void MainWindow::showOutcome(const OpResult& result) {
    if (result.ok()) {
        // An operation that said nothing of its own (loading a file) leaves the line empty.
        if (!labState_->text().isEmpty()) showStation(QStringLiteral("Done"), Tone::Good);
    } else if (result.stopped_by_user()) {
        showStation(QStringLiteral("Stopped"));
    } else {
        // The failing step has told the user; the line repeats its closing words, else the
        // last line of the pane.
        QString why = QString::fromStdString(result.message).trimmed();
        if (why.isEmpty() && result.outcome == Outcome::NoFile)
            why = QStringLiteral("Please open file./请打开文件。");
        if (why.isEmpty()) {
            const QStringList lines = textMsg_->toPlainText().split('\n', Qt::SkipEmptyParts);
            why = lines.isEmpty() ? QString() : lines.back().trimmed();
        }
        why = qs(ui_->inLanguage(ss(why)));
        showStation(QStringLiteral("Failed: ") + why.replace(QLatin1String("\r\n"), " "),
                    Tone::Bad);
    }
    if (!result.ok()) {
        // Nothing is being written any more: no bar, no kilobytes of a chip left half-done.
        progress_->hide();
        progress_->setValue(progress_->minimum());
        labKbyte_->clear();
    }
}

void MainWindow::showSerialBoxes() {
    const SerialNumberSpec& s = core_.serial;
    const std::string* texts[4] = {&s.addressText, &s.lengthText, &s.nextValueText,
                                   &s.incrementText};
    for (size_t i = 0; i < 4; ++i) {
        autoIncrease_.boxes[i]->setText(QString::fromStdString(*texts[i]));
        autoIncrease_.boxes[i]->setEnabled(!s.enabled);
    }
    const int f = static_cast<int>(s.format);
    if (f >= 0 && f < 3) autoIncrease_.formats[size_t(f)]->setChecked(true);
    for (QRadioButton* b : autoIncrease_.formats)
        b->setEnabled(!s.enabled);
    autoIncrease_.cheAuto_Increase->setChecked(s.enabled);
}

void MainWindow::cheAuto_Increase_Click(bool ticked) {
    if (operationRunning() || !core_.model) return;
    serialCheckBoxChanged(core_.serial, ticked, core_.buffer, *core_.model, core_.settings, *ui_);
    core_.serial.enabled = ticked;
    showSerialBoxes();
}

void MainWindow::loadFile(const QString& path) {
    if (operationRunning() || !core_.model || path.isEmpty()) return;
    syncChoicesToCore();
    core_.buffer.currentPath = ss(path);
    view_->frame()->setTitle("File: " + path);
    // The whole path is kept: the next dialog opens at it, and a reload finds the file again.
    storeFilePath(core_.settings, ss(path));
    stored_.filePath = ss(path);
    QApplication::setOverrideCursor(Qt::WaitCursor);
    loadSelectedFile(core_.buffer, *core_.model, core_.serial, *ui_);
    QApplication::restoreOverrideCursor();
    showCoreState();
    scheduleSave();
}

// The dialog's start: the stored file when it still exists, else its folder, else the
// program's own folder.
static QString dialogStart(const std::string& stored, bool withFile) {
    const QFileInfo info(QString::fromStdString(stored));
    if (stored.empty()) return QCoreApplication::applicationDirPath();
    if (info.isFile()) return withFile ? info.absoluteFilePath() : info.absolutePath();
    if (info.isDir()) return info.absoluteFilePath();
    return info.absolutePath();
}

void MainWindow::comLoadFile_Click() {
    const QString dir = dialogStart(stored_.filePath, true);
    const QString path = QFileDialog::getOpenFileName(
        this, QStringLiteral("Open .hex or .bin file"), dir,
        QStringLiteral("(*.hex, *.bin) (*.hex *.bin);;(*.bin) (*.bin);;All Files (*.*) (*)"));
    if (path.isEmpty()) return;
    loadFile(path);
}

void MainWindow::comStoreFile_Click() {
    if (operationRunning()) return;
    const SaveRange range = readSaveRange(ss(store_.start->text()), ss(store_.length->text()));
    if (checkSaveRange(range, *ui_) != SaveStatus::Saved) return;
    const QString dir = dialogStart(stored_.filePath, false);
    const QString path =
        QFileDialog::getSaveFileName(this, QStringLiteral("Save .bin file"), dir,
                                     QStringLiteral("(*.bin) (*.bin);;All Files (*.*) (*)"));
    if (path.isEmpty()) return;
    writeBufferRange(core_.buffer, range, ss(path), *ui_);
}

void MainWindow::Timer12_Timer() {
    // The buffer belongs to the worker while an operation runs; look again when idle.
    if (operationRunning() || closing_) return;
    core_.download.reloadOnChange = cekReloadOnChange_->isChecked();
    if (fileWatch_.tick(core_.buffer, core_.download.reloadOnChange, false))
        startOperation(withProduction([this] { return reloadAndDownload(core_); }));
}

// ---------------------------------------------------------------------------------------------
// Resize and close

void MainWindow::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    // Snap back to the minimum size (the layouts also keep their own minimum).
    const QSize min = minimumSize().expandedTo(minimumSizeHint());
    if (width() < min.width() || height() < min.height()) resize(size().expandedTo(min));
}

// A first start (no stored size): as narrow as the layout allows and tall enough for twelve
// lines of messages, which is where all extra height goes; kept within the screen when the
// screen has room for the window at all. Measured once the layouts have placed the pane.
void MainWindow::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (!roomForMessages_) return;
    roomForMessages_ = false;
    QTimer::singleShot(0, this, [this] {
        const int wanted = 12 * textMsg_->fontMetrics().lineSpacing() + 2 * textMsg_->frameWidth() +
                           2 * int(textMsg_->document()->documentMargin()) + 2;
        if (textMsg_->height() >= wanted) return;
        const int now = std::max(this->height(), minimumSizeHint().height());
        int height = now + wanted - textMsg_->height();
        if (const QScreen* shown = screen()) {
            const int room = shown->availableGeometry().height() - 40;  // the title bar
            if (room >= minimumSizeHint().height()) height = std::min(height, std::max(room, now));
        }
        resize(width(), height);
    });
}

void MainWindow::rememberGeometry() {
    // Only a window in its normal state is stored; written when the window unloads.
    if (windowState() & (Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen)) return;
    const QRect g = geometry();
    stored_.mainLeft = g.x() * 15;
    stored_.mainTop = g.y() * 15;
    stored_.mainWidth = g.width() * 15;
    stored_.mainHeight = g.height() * 15;
    geometryRemembered_ = true;
}

void MainWindow::closeEvent(QCloseEvent* event) {
    // Every close request stops what runs; the first one also hides the window and lets
    // pending work (a save, the end of an operation) finish before the window unloads.
    core_.session.stop_requested = true;
    core_.session.demo_stop_requested = true;
    if (gang_) gang_->stop();
    if (!closing_) {
        rememberGeometry();
        hide();
        closing_ = true;
        timerUnload_.start();
        event->ignore();
        return;
    }
    // The debug port included: it ends on the stop flag; so do the gang's stations.
    if ((runner_ && runner_->busy()) || (gang_ && gang_->running())) {
        timerUnload_.start();
        event->ignore();
        return;
    }
    delete gang_;  // its end hands the gang's counter to the window before the last save
    if (geometryRemembered_)
        storeWindowGeometry(core_.settings, stored_.mainLeft, stored_.mainTop, stored_.mainWidth,
                            stored_.mainHeight);
    if (timer3_.isActive() || saveDeferred_ || core_.settings.dirty()) {
        timer3_.stop();
        saveSettings();
    }
    closePortQuietly(core_);
    unloaded_ = true;
    event->accept();
    // The window was hidden by the first pass, so Qt does not see a last window closing here:
    // end the application's event loop explicitly (nothing happens when none runs).
    QCoreApplication::quit();
}

void MainWindow::TimerUnload_Timer() {
    timerUnload_.stop();
    close();
}

}  // namespace qmx::gui
