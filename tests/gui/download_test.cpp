// End to end through the window: a download into qmx-chipsim over a pseudo-terminal, then a
// second download stopped while it waits for the chip.
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include "gui_helpers.h"

using namespace qmx::gui;
using namespace qmx::gui::test;

class DownloadTest : public QObject {
    Q_OBJECT
  private slots:
    void initTestCase() {
        QVERIFY(dir_.isValid());
        link_ = dir_.filePath("tty");
        flash_ = dir_.filePath("flash.bin");
        // Chips one after the other, each fresh and blank after the previous one ran.
        QByteArray out;
        QVERIFY2(startSim(sim_,
                          {"--model", "M-070", "--flash-out", flash_, "--no-wire-time", "--chips",
                           "9", "--swap-delay", "200"},
                          link_, &out),
                 out.constData());
    }

    void cleanupTestCase() { sim_.stop(); }

    void downloadWatchAndStop() {
        const QByteArray image = randomImage(3000);
        const QString imagePath = dir_.filePath("image.bin");
        writeFile(imagePath, image);

        WindowFixture f(dir_.filePath("settings.ini"), {link_});
        f.window->show();
        f.window->loadFile(imagePath);
        QVERIFY(f.window->core().buffer.imageLoaded);
        auto* pane = f.find<QPlainTextEdit>("textMsg");
        auto* download = f.find<QPushButton>("comDownload_0");
        auto* stop = f.find<QPushButton>("comStop_Download");
        auto* model = f.widget("combMcuModel");
        auto* count = f.find<QLineEdit>("txtWrite_OK_Count");

        download->click();
        QVERIFY(f.window->operationRunning());
        QVERIFY(!model->isEnabled());  // setup locked while the operation runs
        QTRY_VERIFY_WITH_TIMEOUT(!f.window->operationRunning(), 60000);
        QVERIFY2(pane->toPlainText().contains("Program OK / 下载 OK"),
                 qPrintable(pane->toPlainText()));
        QCOMPARE(count->text(), QStringLiteral("1"));
        QVERIFY(download->isEnabled());
        QVERIFY(model->isEnabled());
        auto* state = f.find<QLabel>("labState");
        QCOMPARE(state->text(), QStringLiteral("Done"));
        QVERIFY(state->styleSheet().contains("#1a7f37"));  // green

        // The chip holds the image; the rest of its flash is erased.
        QByteArray flash;
        QTRY_VERIFY_WITH_TIMEOUT(flashHolds(flash_ + ".1", image, &flash), 10000);
        for (qsizetype i = image.size(); i < flash.size(); ++i)
            QCOMPARE(static_cast<unsigned char>(flash[i]), static_cast<unsigned char>(0xFF));

        // A new build of the file while the watch is on: reloaded and downloaded into the
        // next chip without a click.
        f.find<QCheckBox>("cekReloadFileWhileFileChange")->setChecked(true);
        QTest::qWait(1500);  // the watch learns the file first
        const QByteArray second = randomImage(2000);
        writeFile(imagePath, second);
        QTRY_COMPARE_WITH_TIMEOUT(count->text(), QStringLiteral("2"), 30000);
        QTRY_VERIFY_WITH_TIMEOUT(!f.window->operationRunning(), 10000);
        QTRY_VERIFY_WITH_TIMEOUT(flashHolds(flash_ + ".2", second, &flash), 10000);
        f.find<QCheckBox>("cekReloadFileWhileFileChange")->setChecked(false);

        // The read-options button fills the option panel from the third chip's report.
        auto* readOptions = f.find<QPushButton>("comReadChipLock");
        QTest::qWait(500);  // the next chip is put in after the swap delay
        QVERIFY(readOptions->isEnabled());
        readOptions->click();
        QVERIFY(f.window->operationRunning());
        QTRY_VERIFY_WITH_TIMEOUT(!f.window->operationRunning(), 30000);
        QVERIFY2(pane->toPlainText().contains("Read Chip Lock OK. / 读选项成功."),
                 qPrintable(pane->toPlainText()));
        auto* version = f.find<QLabel>("LabLock_2");
        QVERIFY(!version->isHidden());
        QVERIFY2(version->text().contains("MCU Firmware Version / MCU 固件版本号: "),
                 qPrintable(version->text()));

        if (const QByteArray shots = qgetenv("QMX_SCREENSHOT_DIR"); !shots.isEmpty()) {
            f.window->selectSetupTab(3);
            QTest::qWait(100);
            f.window->grab().save(QString::fromLocal8Bit(shots) + "/read-options.png");
        }

        // No chip answers now: Stop ends the waiting download and the window is idle again.
        QTest::qWait(600);  // the next chip is put in first
        sim_.control("power-off");
        QTest::qWait(500);
        download->click();
        QTRY_VERIFY_WITH_TIMEOUT(pane->toPlainText().contains("We are trying to connect"), 10000);
        QVERIFY(stop->isEnabled());
        QTRY_COMPARE_WITH_TIMEOUT(state->text(), QStringLiteral("Waiting for power"), 10000);
        QTest::qWait(300);
        stop->click();
        QTRY_VERIFY_WITH_TIMEOUT(!f.window->operationRunning(), 10000);
        QVERIFY(download->isEnabled());
        QVERIFY(!stop->isEnabled());
        QVERIFY(model->isEnabled());
        QVERIFY2(pane->toPlainText().contains("Operation is stop."),
                 qPrintable(pane->toPlainText()));
        QCOMPARE(count->text(), QStringLiteral("2"));
        QCOMPARE(state->text(), QStringLiteral("Stopped"));
    }

    void seriesCountsEachChip() {
        // Re-Download: chip after chip with a countdown between them, until Stop.
        const QByteArray image = randomImage(1500);
        const QString imagePath = dir_.filePath("series.bin");
        writeFile(imagePath, image);
        WindowFixture f(dir_.filePath("settings-series.ini"), {link_});
        f.window->loadFile(imagePath);
        auto* delay = f.find<QComboBox>("comDalay_ReDownLoad");
        delay->setCurrentIndex(delay->findText("2"));
        auto* pane = f.find<QPlainTextEdit>("textMsg");
        auto* count = f.find<QLineEdit>("txtWrite_OK_Count");
        auto* series = f.find<QPushButton>("comDownload_1");
        // Re-Download is offered once the window has been idle after an operation.
        QVERIFY(!series->isEnabled());
        f.find<QPushButton>("comDownload_0")->click();
        // As at the desk: Download first, then switch the chip on.
        QTRY_VERIFY_WITH_TIMEOUT(pane->toPlainText().contains("We are trying to connect"), 10000);
        QTest::qWait(200);
        sim_.control("power-on");
        QTRY_VERIFY2_WITH_TIMEOUT(!f.window->operationRunning(), qPrintable(pane->toPlainText()),
                                  30000);
        QVERIFY2(count->text() == "1", qPrintable(pane->toPlainText()));
        QVERIFY(series->isEnabled());

        series->click();
        QVERIFY(f.window->operationRunning());
        QTRY_VERIFY_WITH_TIMEOUT(
            pane->toPlainText().contains("After a few seconds re-connect will continue.  "), 30000);
        QVERIFY(pane->toPlainText().contains("Program succeed. / 下载成功."));
        // The counter follows each chip while the series runs.
        QCOMPARE(count->text(), QStringLiteral("2"));
        QTRY_COMPARE_WITH_TIMEOUT(count->text(), QStringLiteral("3"), 30000);
        QVERIFY(f.window->operationRunning());
        f.find<QPushButton>("comStop_Download")->click();
        QTRY_VERIFY_WITH_TIMEOUT(!f.window->operationRunning(), 15000);
        QVERIFY(series->isEnabled());
        QVERIFY(f.widget("combMcuModel")->isEnabled());
    }

    void closeDuringADownloadEndsTheApplication() {
        // A download waits for a chip that is switched off and a setting has just changed:
        // closing the window stops the download, saves the setting and ends the event loop.
        const QString imagePath = dir_.filePath("close.bin");
        writeFile(imagePath, randomImage(500));
        const QString settings = dir_.filePath("settings-close.ini");
        WindowFixture f(settings, {link_});
        f.window->show();
        f.window->loadFile(imagePath);
        sim_.control("power-off");
        QTest::qWait(300);
        auto* pane = f.find<QPlainTextEdit>("textMsg");
        f.find<QPushButton>("comDownload_0")->click();
        QTRY_VERIFY_WITH_TIMEOUT(pane->toPlainText().contains("We are trying to connect"), 10000);
        auto* delay = f.find<QComboBox>("comDalay_ReDownLoad");
        delay->setCurrentIndex(delay->findText("7"));

        QTimer::singleShot(0, f.window.get(), [&f] { f.window->close(); });
        bool gaveUp = false;
        QTimer watchdog;
        watchdog.setSingleShot(true);
        connect(&watchdog, &QTimer::timeout, [&gaveUp] {
            gaveUp = true;
            QCoreApplication::exit(1);
        });
        watchdog.start(20000);
        const int code = QCoreApplication::exec();
        QVERIFY(!gaveUp);
        QCOMPARE(code, 0);
        QVERIFY(f.window->unloaded());
        QVERIFY(!f.window->operationRunning());
        QFile file(settings);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray stored = file.readAll();
        QVERIFY2(stored.contains("Dalay_ReDownLoad=" + QByteArray::number(delay->currentIndex())),
                 stored.constData());
        sim_.control("power-on");
    }

  private:
    QTemporaryDir dir_;
    qmx::test::SimProcess sim_;
    QString link_;
    QString flash_;
};

QTEST_MAIN(DownloadTest)
#include "download_test.moc"
