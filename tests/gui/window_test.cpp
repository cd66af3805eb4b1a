// The window at start-up, on model changes, with its tabs, its minimum size, the option page's
// dependent controls and the settings it keeps between runs.
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QFile>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStackedWidget>
#include <QTabBar>
#include <QTest>
#include <QTextBrowser>

#include "gui_helpers.h"

using namespace qmx::gui;
using namespace qmx::gui::test;

namespace {

QString comboText(const WindowFixture& f, const char* name) {
    auto* c = f.find<QComboBox>(name);
    return c ? c->currentText() : QStringLiteral("<missing %1>").arg(name);
}
bool checked(const WindowFixture& f, const char* name) {
    auto* b = f.find<QAbstractButton>(name);
    return b && b->isChecked();
}
bool enabled(const WindowFixture& f, const char* name) {
    auto* w = f.widget(name);
    return w && w->isEnabled();
}
void click(const WindowFixture& f, const char* name) {
    auto* b = f.find<QAbstractButton>(name);
    QVERIFY2(b, name);
    b->click();  // as a mouse click, also on a page not shown
}
// Chooses a row of a pick list as the user does (the list's activation).
void choose(const WindowFixture& f, const char* name, const QString& text) {
    auto* c = f.find<QComboBox>(name);
    QVERIFY2(c, name);
    const int row = c->findText(text);
    QVERIFY2(row >= 0, qPrintable(text));
    c->setCurrentIndex(row);
    emit c->activated(row);
}
bool hasChinese(const QString& text) {
    return std::any_of(text.begin(), text.end(), [](QChar c) { return c.unicode() >= 0x2E80; });
}
QString tabText(const WindowFixture& f, const char* bar, int i) {
    return f.find<QTabBar>(bar)->tabText(i);
}

}  // namespace

class WindowTest : public QObject {
    Q_OBJECT
  private slots:
    void init() {
        QVERIFY(dir_.isValid());
        settings_ = dir_.filePath(QStringLiteral("settings-%1.ini").arg(++run_));
    }

    void firstRunDefaults() {
        WindowFixture f(settings_);
        QCOMPARE(f.window->windowTitle(), QStringLiteral("QMX-ISP.exe Ver:3.1"));
        QCOMPARE(comboText(f, "combMcuModel"), QStringLiteral("M-070"));
        QVERIFY(checked(f, "optFillbyte_1"));
        QCOMPARE(f.find<QComboBox>("combCommPort")->currentIndex(),
                 f.find<QComboBox>("combCommPort")->count() > 0 ? 0 : -1);
        QVERIFY(checked(f, "optBeepYes"));
        QCOMPARE(comboText(f, "comDalay_ReDownLoad"), QStringLiteral("5"));
        QCOMPARE(f.find<QLineEdit>("txtWrite_OK_Count")->text(), QStringLiteral("0"));
        QVERIFY(checked(f, "opt_485_pin_0"));
        QCOMPARE(comboText(f, "comb_485_pin"), QStringLiteral("P1.0"));
        QVERIFY(checked(f, "opt_485_logic_0"));
        QCOMPARE(f.find<QRadioButton>("opt_485_logic_0")->text(),
                 QStringLiteral("高电平发送,低接收"));
        QVERIFY(checked(f, "opt_External_WDT_0"));
        QCOMPARE(comboText(f, "comb_ISP_DEMO_WDT"), QStringLiteral("P1.1"));
        QCOMPARE(comboText(f, "comWDT_Prescalar"), QStringLiteral("256"));
        QCOMPARE(comboText(f, "cobUserCodeBaud"), QStringLiteral("38400"));
        QCOMPARE(comboText(f, "cobUserCodeParity"), QStringLiteral("None"));
        QCOMPARE(comboText(f, "cob_DEMO_DownLoad_Baud"), QStringLiteral("38400"));
        QCOMPARE(comboText(f, "cob_DEMO_DownLoad_Parity"), QStringLiteral("Even"));
        QCOMPARE(comboText(f, "cob_DEMO_UserCode_Baud"), QStringLiteral("38400"));
        QCOMPARE(comboText(f, "cob_DEMO_UserCode_Parity"), QStringLiteral("Even"));
        // The debug port list offers the same ports as the download port list.
        QCOMPARE(f.find<QComboBox>("com_Debug_COM")->count(),
                 f.find<QComboBox>("combCommPort")->count());
        QVERIFY(f.find<QComboBox>("com_Debug_COM")->currentIndex() <= 0);
        QCOMPARE(comboText(f, "com_Debug_Baud"), QStringLiteral("38400"));
        QCOMPARE(comboText(f, "com_Debug_ParityCheck"), QStringLiteral("None"));
        QCOMPARE(comboText(f, "cobBaudMax"), QStringLiteral("115200"));
        // Idle at start: Download offered, Stop not.
        QVERIFY(enabled(f, "comDownload_0"));
        QVERIFY(!enabled(f, "comStop_Download"));
        // The buffer view shows 0 ... 1023 of an all-zero buffer.
        QCOMPARE(f.window->core().buffer.viewEnd, 1023L);
        QCOMPARE(f.find<QLineEdit>("txt_length")->text(), QStringLiteral("400"));
    }

    void badStoredValuesAreSkipped() {
        // A model row beyond the list is ignored; the keys after it are still read.
        writeFile(settings_,
                  "[Settings]\nDeviceProducts=200\nfillbyte=FF\nBeepYesNo=False\n"
                  "Dalay_ReDownLoad=abc\nWrite_OK_Count=17\n");
        WindowFixture f(settings_);
        QCOMPARE(comboText(f, "combMcuModel"), QStringLiteral("M-070"));
        QVERIFY(checked(f, "optFillbyte_0"));
        QVERIFY(checked(f, "optBeepNo"));
        QCOMPARE(comboText(f, "comDalay_ReDownLoad"), QStringLiteral("5"));
        QCOMPARE(f.find<QLineEdit>("txtWrite_OK_Count")->text(), QStringLiteral("17"));
    }

    void modelChangeSetsTabsMonitorAndOptionPage() {
        WindowFixture f(settings_);
        choose(f, "combMcuModel", "M-064");
        QCOMPARE(f.window->core().model->name, std::string("M-064"));
        QCOMPARE(tabText(f, "TabStrip1", 5), QStringLiteral("_no_"));  // ISP DEMO
        QCOMPARE(tabText(f, "TabStrip1", 2), QStringLiteral("_no_"));  // 脱机下载
        QCOMPARE(tabText(f, "TabStrip1", 8), QStringLiteral("仿真芯片"));
        // A monitor model reports over the debug port: both debug tabs are offered.
        QCOMPARE(tabText(f, "TabStrip2", 1), QStringLiteral("SFR/idata"));
        QCOMPARE(tabText(f, "TabStrip2", 2), QStringLiteral("xdata/IAP EEPROM"));
        QVERIFY(enabled(f, "comDownSoft_ICE"));
        QCOMPARE(f.find<QGroupBox>("Frame2")->title(),
                 QStringLiteral("Step4/步骤4: Double Speed  设置双倍速, 缺省为普通速度"));
        QCOMPARE(f.find<QRadioButton>("Option0_1")->text(), QStringLiteral("12T/单倍速"));
        QVERIFY(checked(f, "Option0_1"));
        QVERIFY(f.widget("Picture2_1")->isHidden());
        QVERIFY(!f.widget("LabOptionC_0")->isHidden());

        choose(f, "combMcuModel", "M-070");
        QCOMPARE(tabText(f, "TabStrip1", 5), QStringLiteral("ISP DEMO"));
        QCOMPARE(tabText(f, "TabStrip1", 2), QStringLiteral("脱机下载"));
        QCOMPARE(tabText(f, "TabStrip1", 8), QStringLiteral("_no_"));
        QCOMPARE(tabText(f, "TabStrip2", 1), QStringLiteral("SFR/idata"));
        QCOMPARE(tabText(f, "TabStrip2", 2), QStringLiteral("xdata/IAP EEPROM"));
        QVERIFY(!enabled(f, "comDownSoft_ICE"));
        QVERIFY(!f.widget("Picture2_2")->isHidden());
        QCOMPARE(f.find<QRadioButton>("Option1_0")->text(), QStringLiteral("1/2 gain"));
        QVERIFY(checked(f, "Option1_1"));
        QVERIFY(f.widget("LabOptionC_0")->isHidden());

        // Family 3 shows no ISP DEMO tab but the offline one.
        choose(f, "combMcuModel", "M-002");
        QCOMPARE(tabText(f, "TabStrip1", 5), QStringLiteral("_no_"));
        QCOMPARE(tabText(f, "TabStrip1", 2), QStringLiteral("脱机下载"));
        QCOMPARE(f.find<QRadioButton>("Option0_0")->text(), QStringLiteral("内部RC振荡器"));
        QVERIFY(checked(f, "Option0_0"));
    }

    void absentTabLeavesThePage() {
        WindowFixture f(settings_);
        f.window->show();
        QVERIFY(QTest::qWaitForWindowExposed(f.window.get()));
        auto* bar = f.find<QTabBar>("TabStrip1");
        auto* pages = f.find<QStackedWidget>("Picture1");
        // A click makes the tab current; the window then selects its page.
        bar->setCurrentIndex(6);
        QCOMPARE(pages->currentIndex(), 6);  // 存储文件
        choose(f, "combMcuModel", "M-064");
        QCOMPARE(bar->tabText(5), QStringLiteral("_no_"));
        bar->setCurrentIndex(5);
        QCOMPARE(pages->currentIndex(), 6);
        QCOMPARE(bar->currentIndex(), 6);
        // The same for the view strip (a family-0 model without the monitor has no debug tabs).
        choose(f, "combMcuModel", "M-063");
        auto* bar2 = f.find<QTabBar>("TabStrip2");
        bar2->setCurrentIndex(1);
        QCOMPARE(f.find<QStackedWidget>("TabStrip2_pages")->currentIndex(), 0);
        QCOMPARE(bar2->currentIndex(), 0);
    }

    void resizeBelowMinimumSnapsBack() {
        WindowFixture f(settings_);
        f.window->show();
        QVERIFY(QTest::qWaitForWindowExposed(f.window.get()));
        const QSize before = f.window->size();
        auto* msg = f.widget("textMsg");
        const int paneBefore = msg->height();
        const int leftBefore = f.widget("Frame1")->width();
        f.window->resize(10, 10);
        QTest::qWait(50);
        QVERIFY(f.window->width() >= 1000 / 15);
        QVERIFY(f.window->height() >= 800 / 15);
        QVERIFY(f.window->width() >= f.window->minimumSizeHint().width());
        // Extra height goes to the message pane; the step frames keep their width.
        f.window->resize(before.width() + 200, before.height() + 200);
        QTest::qWait(50);
        QVERIFY(msg->height() > paneBefore);
        QCOMPARE(f.widget("Frame1")->width(), leftBefore);
    }

    void optionPageDependencies() {
        WindowFixture f(settings_);
        choose(f, "combMcuModel", "M-002");
        QVERIFY(!f.widget("Frame23")->isHidden());
        QVERIFY(f.widget("Frame14")->isHidden());
        click(f, "Option9_0");
        QVERIFY(enabled(f, "comWDT_Prescalar"));
        QVERIFY(enabled(f, "Option10_0"));
        click(f, "Option9_1");
        QVERIFY(!enabled(f, "comWDT_Prescalar"));
        QVERIFY(!enabled(f, "Label20"));
        QVERIFY(!enabled(f, "Option10_0"));
        QVERIFY(!enabled(f, "LabOption_10"));
        // RS-485 line: its pin and logic follow the choice.
        QVERIFY(!enabled(f, "comb_485_pin"));
        click(f, "opt_485_pin_1");
        QVERIFY(enabled(f, "comb_485_pin"));
        QVERIFY(enabled(f, "opt_485_logic_1"));
        QCOMPARE(f.window->core().options.rs485, 1);
        // The same pin in both lists is reported at once, even with the watchdog off.
        QVERIFY(f.boxes.empty());
        choose(f, "comb_485_pin", "P1.1");
        QVERIFY(f.sawBox("请不要用同一个 I/O 口线控制 485 和 外部看门狗。"));
        // Family 2: the download-time watchdog pin follows its choice.
        choose(f, "combMcuModel", "M-070");
        QVERIFY(!f.widget("Frame15")->isHidden());
        QVERIFY(!enabled(f, "comb_WDT"));
        click(f, "opt_ISP_DEMO_WDT_1");
        QVERIFY(enabled(f, "comb_WDT"));
        // The choices reach the option bytes: 6T clears bit 0 of the family-2 byte.
        click(f, "Option0_0");
        const auto set = qmx::buildOptionSet(f.window->core().options, *f.window->core().model);
        QCOMPARE(int(set.optionByte()), 0xFE);
    }

    void settingsWrittenOnCloseSurviveRestart() {
        {
            WindowFixture f(settings_);
            f.window->show();
            choose(f, "combMcuModel", "M-002");
            click(f, "optFillbyte_0");
            click(f, "opt_485_pin_1");
            choose(f, "comb_485_pin", "P3.7");
            click(f, "optBeepNo");
            f.window->resize(f.window->minimumSizeHint() + QSize(40, 30));
            const int width = f.window->width();
            // Closing at once still saves the changes (the close waits for the save).
            QVERIFY(closeAndWait(*f.window));
            // The normal window's size is kept, in twips.
            QCOMPARE(f.window->core().settings.read("Settings", "MainWidth"),
                     std::to_string(width * 15));
        }
        {
            WindowFixture f(settings_);
            QCOMPARE(comboText(f, "combMcuModel"), QStringLiteral("M-002"));
            QCOMPARE(f.window->width(), f.window->minimumSizeHint().width() + 40);
            QVERIFY(checked(f, "optFillbyte_0"));
            QVERIFY(checked(f, "opt_485_pin_1"));
            QCOMPARE(comboText(f, "comb_485_pin"), QStringLiteral("P3.7"));
            QVERIFY(checked(f, "optBeepNo"));
            // The prescaler is written but start-up shows "256" again.
            QCOMPARE(comboText(f, "comWDT_Prescalar"), QStringLiteral("256"));
        }
    }

    void changesWithinHalfASecondGiveOneSave() {
        WindowFixture f(settings_);
        QVERIFY(!QFile::exists(settings_));
        choose(f, "combMcuModel", "M-072");
        QTest::qWait(300);
        QVERIFY(!QFile::exists(settings_));
        click(f, "optFillbyte_0");
        QTest::qWait(300);
        QVERIFY(!QFile::exists(settings_));  // the second change restarted the wait
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(settings_), 2000);
        QFile file(settings_);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray text = file.readAll();
        QVERIFY2(text.contains("DeviceProducts=3"), text.constData());
        QVERIFY2(text.contains("fillbyte=FF"), text.constData());
    }

    void operationBoxIsAnsweredOnTheWindowThread() {
        // Download without a file: the operation on the worker raises its box and waits for
        // the answer given on the window's thread; the window is idle afterwards.
        WindowFixture f(settings_);
        click(f, "comDownload_0");
        QTRY_VERIFY_WITH_TIMEOUT(!f.window->operationRunning(), 5000);
        QVERIFY(f.sawBox("Please open file."));
        QVERIFY(enabled(f, "comDownload_0"));
        QVERIFY(enabled(f, "combMcuModel"));
    }

    void closeHidesAtOnceAndUnloadsLater() {
        WindowFixture f(settings_);
        f.window->show();
        QVERIFY(QTest::qWaitForWindowExposed(f.window.get()));
        f.window->close();
        QVERIFY(!f.window->isVisible());
        QVERIFY(!f.window->unloaded());
        QTRY_VERIFY_WITH_TIMEOUT(f.window->unloaded(), 3000);
    }

    void firstStartSizeAndIcon() {
        WindowFixture f(settings_);
        f.window->show();
        QVERIFY(QTest::qWaitForWindowExposed(f.window.get()));
        // Room for a dozen lines of messages; the minimum size stays 1000 x 800 twips.
        auto* pane = f.find<QPlainTextEdit>("textMsg");
        const auto lines = [pane] {
            return (pane->viewport()->height() - 2 * int(pane->document()->documentMargin())) /
                   pane->fontMetrics().lineSpacing();
        };
        QTRY_VERIFY2(lines() >= 12, qPrintable(QString::number(lines())));
        QCOMPARE(f.window->minimumSize(), QSize(1000 / 15, 800 / 15));
        // The window has an icon of its own, drawn in colour.
        const QImage icon = f.window->windowIcon().pixmap(32, 32).toImage();
        QVERIFY(!icon.isNull());
        QVERIFY(qAlpha(icon.pixel(16, 16)) == 255 && icon.pixel(16, 16) != icon.pixel(0, 0));
    }

    void portRememberedByItsPath() {
        // A port typed with "..." (here a link to a pseudo-terminal-like file) is stored by its
        // path and chosen again at the next start, though no enumeration lists it.
        const QString device = dir_.filePath("pts-7");
        writeFile(device, "");
        const QString link = dir_.filePath("qmx-tty");
        QVERIFY(QFile::link(device, link));
        {
            WindowFixture f(settings_);
            f.window->choosePort(link);
            // The debug port too, which stays chosen when the port list changes under it.
            auto* debugPorts = f.find<QComboBox>("com_Debug_COM");
            debugPorts->setCurrentIndex(debugPorts->findData(link));
            emit debugPorts->activated(debugPorts->currentIndex());
            f.window->choosePort(dir_.filePath("another"));
            QCOMPARE(debugPorts->currentData().toString(), link);
            f.window->choosePort(link);
            f.window->scheduleSave();
            QVERIFY(closeAndWait(*f.window));
            QCOMPARE(f.window->core().settings.read("Settings", "COM_port"), link.toStdString());
            QCOMPARE(f.window->core().settings.read("Settings", "DebugCOM"), link.toStdString());
        }
        {
            WindowFixture f(settings_);
            auto* ports = f.find<QComboBox>("combCommPort");
            QCOMPARE(ports->currentData().toString(), link);
            QCOMPARE(f.window->core().portPath, link.toStdString());
            QCOMPARE(f.find<QComboBox>("com_Debug_COM")->currentData().toString(), link);
        }
    }

    void logSavedAndCopied() {
        WindowFixture f(settings_);
        auto& core = f.window->core();
        core.clearMessages();
        core.message("Program OK / 下载 OK");
        core.message("Verify  OK / 校验 OK  ( Total: 00:03 )");
        const QString pane = f.find<QPlainTextEdit>("textMsg")->toPlainText();
        QVERIFY(pane.contains(QStringLiteral("下载 OK")));

        const QString path = dir_.filePath("station.log");
        writeFile(path, "an older log that is replaced whole\n");
        QVERIFY(f.window->saveLog(path));
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(QString::fromUtf8(file.readAll()), pane + "\n");
        // A folder that does not exist: said so, and nothing half-written anywhere.
        QVERIFY(!f.window->saveLog(dir_.filePath("missing/station.log")));
        QVERIFY(f.sawBox("Cannot save the log"));
        QVERIFY(!QFile::exists(dir_.filePath("missing")));

        f.window->copyLog();
        QCOMPARE(QGuiApplication::clipboard()->text(), pane);
    }

    void languageSettingChangesTheMessagesFromTheNextLineOn() {
        writeFile(settings_, "[Settings]\nDeviceProducts=3\nLanguage=en\nnot a setting\n");
        WindowFixture f(settings_);
        auto* pane = f.find<QPlainTextEdit>("textMsg");
        QCOMPARE(f.find<QComboBox>("cobLanguage")->currentData().toString(), QStringLiteral("en"));
        // The start-up warning about the stray line is already in English only.
        QVERIFY2(pane->toPlainText().contains("not settings"), qPrintable(pane->toPlainText()));
        auto& core = f.window->core();
        core.message("We are trying to connect to your MCU ... ");
        core.message("Chinese:正在尝试与 MCU/单片机 握手连接 ... ");
        core.message("Program OK / 下载 OK");
        QVERIFY2(!hasChinese(pane->toPlainText()), qPrintable(pane->toPlainText()));
        // The offline board's help pages come whole in the language, titles included.
        auto helpPages = [&f] {
            f.boxes.clear();
            click(f, "com_TJXZ_help");
            QString all;
            for (const auto& box : f.boxes)
                all += QString::fromStdString(box.title + "\n" + box.text + "\n");
            return all;
        };
        const QString english = helpPages();
        QCOMPARE(f.boxes.size(), std::size_t(3));
        QVERIFY2(!hasChinese(english), qPrintable(english));
        QVERIFY(english.contains("page 3 of 3") && english.contains("Wrong chip model"));
        auto* hardware = f.find<QTextBrowser>("txtAboutHardWare");
        QVERIFY(hardware->toPlainText().contains("Connect the PC's TxD"));
        QVERIFY(!hardware->toPlainText().contains("电脑串口的 TxD"));

        choose(f, "cobLanguage", QStringLiteral("中文"));
        const QString chinese = helpPages();
        QVERIFY(chinese.contains("第三页，共三页") && chinese.contains("单片机型号不符"));
        QVERIFY2(!chinese.contains("Offline download works") && !chinese.contains("LEDs numbered"),
                 qPrintable(chinese));
        QVERIFY(hardware->toPlainText().contains("电脑串口的 TxD"));
        QVERIFY(!hardware->toPlainText().contains("Connect the PC's TxD"));
        core.message("Program OK / 下载 OK");
        const QStringList lines = pane->toPlainText().split('\n');
        QCOMPARE(lines.back(), QStringLiteral("下载 OK"));
        QCOMPARE(lines[lines.size() - 2], QStringLiteral("Program OK"));  // earlier lines stay
        // Boxes and the state line follow the choice too.
        click(f, "comDownload_0");
        QTRY_VERIFY_WITH_TIMEOUT(!f.window->operationRunning(), 5000);
        QVERIFY(f.sawBox("请打开文件。"));
        QVERIFY(!f.sawBox("Please open file"));
        QCOMPARE(f.find<QLabel>("labState")->text(), QStringLiteral("失败: 请打开文件。"));
        // The choice is stored in its own key; the other lines stay as they were.
        QByteArray text;
        QTRY_VERIFY_WITH_TIMEOUT((text = readAll(settings_)).contains("Language=zh"), 5000);
        QVERIFY2(text.contains("DeviceProducts=3") && text.contains("not a setting"),
                 text.constData());
    }

  private:
    QByteArray readAll(const QString& path) {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    QTemporaryDir dir_;
    QString settings_;
    int run_ = 0;
};

int main(int argc, char** argv) {
    // The offscreen screen is only 800 pixels tall; the first-start size wants a screen with
    // room for the window and its dozen message lines, as a desk has.
    QTemporaryDir screens;
    if (qgetenv("QT_QPA_PLATFORM") == "offscreen") {
        const QString config = screens.filePath("screens.json");
        writeFile(config, R"({"screens": [{"name": "desk", "x": 0, "y": 0, "width": 1920,
                              "height": 1200, "logicalDpi": 96, "logicalBaseDpi": 96,
                              "dpr": 1}]})");
        qputenv("QT_QPA_PLATFORM", "offscreen:configfile=" + config.toLocal8Bit());
    }
    QApplication app(argc, argv);
    WindowTest test;
    return QTest::qExec(&test, argc, argv);
}
#include "window_test.moc"
