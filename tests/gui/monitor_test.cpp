// The emulation monitor through the window: SoftICE into a simulated chip, then the debug port
// page filled from the monitor's reports, and another operation taking the port over.
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabBar>
#include <QTest>
#include <QToolButton>

#include <algorithm>

#include "catalogue/model_catalogue.h"
#include "gui_helpers.h"
#include "monitor/monitor_image.h"

using namespace qmx::gui;
using namespace qmx::gui::test;

namespace {

QByteArray pattern(int n, int salt) {
    QByteArray b(n, '\0');
    for (int i = 0; i < n; ++i)
        b[i] = static_cast<char>((i * 11 + salt) ^ (i >> 8));
    return b;
}

std::vector<std::uint8_t> bytes(const QByteArray& b) {
    return std::vector<std::uint8_t>(b.begin(), b.end());
}

bool listHas(QListWidget* list, const QString& text) {
    for (int i = 0; i < list->count(); ++i)
        if (list->item(i)->text() == text) return true;
    return false;
}

}  // namespace

class MonitorTest : public QObject {
    Q_OBJECT
  private slots:
    void initTestCase() {
        QVERIFY(dir_.isValid());
        link_ = dir_.filePath("tty");
        flash_ = dir_.filePath("flash.bin");
        // Two chips: the first takes an ordinary download, the second the monitor.
        QVERIFY2(startSim(sim_,
                          {"--model", "M-064", "--flash-out", flash_, "--chips", "2",
                           "--swap-delay", "200", "--report-period", "100"},
                          link_),
                 qPrintable(QString::fromStdString(sim_.output() + sim_.error())));
    }

    void cleanupTestCase() { sim_.stop(); }

    void softIceThenDebugViews() {
        const QByteArray core = pattern(384, 1), model = pattern(4096, 2);
        writeFile(dir_.filePath("QMX2000.rom"), core);
        writeFile(dir_.filePath("QMX516_2003.ROM"), model);
        WindowFixture f(dir_.filePath("settings.ini"), {link_});
        f.window->setMonitorDir(dir_.path());
        f.window->selectModelRow(qmx::modelListIndex("M-064"));
        auto* views = f.find<QTabBar>("TabStrip2");
        QCOMPARE(views->tabText(1), QStringLiteral("SFR/idata"));
        QCOMPARE(views->tabText(2), QStringLiteral("xdata/IAP EEPROM"));
        QVERIFY(!f.widget("Label_softice_na") && !f.widget("Label_debug_na"));
        auto* port = f.find<QComboBox>("com_Debug_COM");
        port->setCurrentIndex(port->findData(link_));

        // A single download with 下载后打开串口 ticked ends with the debug port open.
        writeFile(dir_.filePath("app.bin"), pattern(600, 9));
        f.window->loadFile(dir_.filePath("app.bin"));
        f.find<QCheckBox>("che_AutoOpenPort")->setChecked(true);
        f.find<QPushButton>("comDownload_0")->click();
        QTRY_VERIFY_WITH_TIMEOUT(!f.widget("imgOpen")->isHidden(), 60000);
        f.find<QCheckBox>("che_AutoOpenPort")->setChecked(false);
        QTest::qWait(400);  // the second chip is put in

        // SoftICE: both questions answered Yes; the debug controls are locked meanwhile.
        f.answers = {qmx::BoxAnswer::Yes, qmx::BoxAnswer::Yes};
        f.find<QPushButton>("comDownSoft_ICE")->click();
        QTRY_VERIFY_WITH_TIMEOUT(f.window->operationRunning(), 10000);  // after the debug port
        QVERIFY(!f.widget("imgNotOpen")->isEnabled());
        QVERIFY(!f.widget("com_Debug_COM")->isEnabled());
        QTRY_VERIFY_WITH_TIMEOUT(!f.window->operationRunning(), 90000);
        QVERIFY(!f.widget("imgNotOpen")->isHidden());  // SoftICE took the port over
        auto* pane = f.find<QPlainTextEdit>("textMsg");
        QVERIFY2(pane->toPlainText().contains("Download Soft_ICE is succeed /下载 Soft_ICE 成功"),
                 qPrintable(pane->toPlainText()));
        QVERIFY(f.sawBox("Download Soft_ICE is succeed."));
        QFile flashFile(flash_ + ".2");
        QVERIFY(flashFile.open(QIODevice::ReadOnly));
        const QByteArray flash = flashFile.readAll();
        const auto image =
            qmx::buildMonitorImage(bytes(core), bytes(model), "QMX516_2003.ROM").image;
        QCOMPARE(flash.size(), 0x10000);
        for (int a : {0, 1, 2, 0x7F, 0x2000, 0x217F, 0x2180, 0x22EF, 0x2300, 0x32FF, 0x3300})
            QCOMPARE(static_cast<unsigned char>(flash[a]), image[static_cast<std::size_t>(a)]);
        QVERIFY(std::equal(flash.begin() + 0x2000, flash.begin() + 0x3400,
                           reinterpret_cast<const char*>(image.data()) + 0x2000));

        // The debug port on the same line: the monitor's reports fill the four lists.
        QVERIFY(port->isEnabled());
        port->setCurrentIndex(port->findData(link_));
        f.find<QToolButton>("imgNotOpen")->click();
        QTRY_VERIFY_WITH_TIMEOUT(!f.widget("imgOpen")->isHidden(), 10000);
        QCOMPARE(f.find<QPushButton>("Label13")->text(), QStringLiteral("关闭串口"));
        QVERIFY(f.widget("comDebugContinue")->isEnabled());
        auto* sfr = f.find<QListWidget>("lst_debug1");
        auto* window = f.find<QListWidget>("lst_debug4");
        QTRY_VERIFY_WITH_TIMEOUT(
            window->count() == 64 && window->item(0)->text().startsWith("1000 "), 20000);
        QVERIFY(listHas(sfr, "81H SP         07H    7"));
        QVERIFY(listHas(sfr, "89H TMOD       21H   33"));
        QVERIFY(f.find<QListWidget>("lst_debug2")->item(0)->text().startsWith("00H  30 "));
        QCOMPARE(f.find<QListWidget>("lst_debug3")->item(1)->text(),
                 QStringLiteral("0008 18 1B 1E 21 24 27 2A 2D"));
        QCOMPARE(window->item(63)->text().left(5), QStringLiteral("11F8 "));

        // Download takes the port over: the debug port closes first.
        f.find<QPushButton>("comDownload_0")->click();
        QTRY_VERIFY_WITH_TIMEOUT(f.window->operationRunning(), 10000);
        QVERIFY(!f.widget("imgNotOpen")->isHidden());
        QCOMPARE(f.find<QPushButton>("Label13")->text(), QStringLiteral("打开串口"));
        QVERIFY(!f.widget("comDebugContinue")->isEnabled());
        QVERIFY(!f.widget("Label13")->isEnabled());  // locked while the download runs
        f.find<QPushButton>("comStop_Download")->click();
        QTRY_VERIFY_WITH_TIMEOUT(!f.window->operationRunning(), 20000);

        // Label13 opens it again; a second click closes it.
        f.find<QPushButton>("Label13")->click();
        QTRY_VERIFY_WITH_TIMEOUT(!f.widget("imgOpen")->isHidden(), 10000);
        f.find<QPushButton>("Label13")->click();
        QTRY_VERIFY_WITH_TIMEOUT(!f.widget("imgNotOpen")->isHidden(), 10000);
        QVERIFY(closeAndWait(*f.window));
    }

  private:
    QTemporaryDir dir_;
    QString link_, flash_;
    qmx::test::SimProcess sim_;
};

QTEST_MAIN(MonitorTest)
#include "monitor_test.moc"
