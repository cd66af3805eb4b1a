// What the window says about the station while it works: the state line through a download
// stopped in the middle of programming, the progress bar and kilobyte label after it, and a
// chip of the wrong model, after which the window shows the buffer as holding no file.
#include <QComboBox>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>

#include "gui_helpers.h"

using namespace qmx::gui;
using namespace qmx::gui::test;

class StationTest : public QObject {
    Q_OBJECT
  private slots:
    void initTestCase() {
        QVERIFY(dir_.isValid());
        link_ = dir_.filePath("tty");
        // Line timing on: at 1200 baud a 4 KB image takes half a minute, time enough to stop.
        QVERIFY2(startSim(sim_, {"--model", "M-070", "--chips", "3"}, link_),
                 qPrintable(QString::fromStdString(sim_.output() + sim_.error())));
    }

    void cleanupTestCase() { sim_.stop(); }

    void stopWhileProgrammingThenWrongModel() {
        QByteArray image;
        for (int i = 0; i < 4096; ++i)
            image.append(char(QRandomGenerator::global()->bounded(256)));
        const QString imagePath = dir_.filePath("image.bin");
        writeFile(imagePath, image);

        WindowFixture f(dir_.filePath("settings.ini"), {link_});
        f.window->show();
        auto* state = f.find<QLabel>("labState");
        auto* progress = f.find<QProgressBar>("ProgressBar1");
        auto* kbyte = f.find<QLabel>("labKbyte");
        auto* pane = f.find<QPlainTextEdit>("textMsg");
        auto* baud = f.find<QComboBox>("cobBaudMax");
        QVERIFY(state && progress && kbyte && pane && baud);
        baud->setCurrentIndex(baud->findText("1200"));
        f.window->loadFile(imagePath);
        QVERIFY(f.window->core().buffer.imageLoaded);

        // Connect, then programming with its percentage; Stop in the middle of it.
        f.find<QPushButton>("comDownload_0")->click();
        QTRY_VERIFY2_WITH_TIMEOUT(state->text().startsWith("Programming "),
                                  qPrintable(state->text() + "\n" + pane->toPlainText()), 30000);
        const QRegularExpression percent(QStringLiteral("^Programming ([0-9]+) %$"));
        QTRY_VERIFY2_WITH_TIMEOUT(percent.match(state->text()).captured(1).toInt() > 0,
                                  qPrintable(state->text()), 30000);
        QVERIFY(progress->isVisible());
        QVERIFY(!kbyte->text().isEmpty());
        f.find<QPushButton>("comStop_Download")->click();
        QTRY_VERIFY_WITH_TIMEOUT(!f.window->operationRunning(), 15000);
        QCOMPARE(state->text(), QStringLiteral("Stopped"));
        QVERIFY(!progress->isVisible());
        QCOMPARE(kbyte->text(), QString());

        // A fresh start of the chip, and a model it is not.
        sim_.control("power-off");
        sim_.control("power-on");
        QTest::qWait(300);
        auto* model = f.find<QComboBox>("combMcuModel");
        model->setCurrentIndex(model->findText("M-072"));
        emit model->activated(model->currentIndex());
        f.window->loadFile(imagePath);
        QVERIFY(f.window->core().buffer.imageLoaded);
        f.find<QPushButton>("comDownload_0")->click();
        QTRY_VERIFY_WITH_TIMEOUT(!f.window->operationRunning(), 30000);
        QVERIFY2(state->text().startsWith("Failed: MCU Type is wrong."),
                 qPrintable(state->text() + "\n" + pane->toPlainText()));
        QVERIFY(state->styleSheet().contains("#c62828"));
        // The buffer holds no file now, and the window says so everywhere, as Download does.
        const auto& buffer = f.window->core().buffer;
        QVERIFY(!buffer.imageLoaded);
        QCOMPARE(f.find<QGroupBox>("Frame7")->title(), QStringLiteral("File:"));
        QCOMPARE(f.find<QLineEdit>("txtFileCheckSum")->text(), QString());
        QCOMPARE(buffer.viewEnd, 1023L);
        QCOMPARE(int(buffer.bytes[0]) | int(buffer.bytes[100]) | int(buffer.bytes[4095]), 0);
        f.boxes.clear();
        f.find<QPushButton>("comDownload_0")->click();
        QTRY_VERIFY_WITH_TIMEOUT(!f.window->operationRunning(), 10000);
        QVERIFY(f.sawBox("Please open file."));
        QVERIFY2(state->text().startsWith("Failed: Please open file."), qPrintable(state->text()));
    }

    void closingEndsTheProcessWhileADownloadWaitsForPower() {
        // A chip that is never switched on: the download waits for ever until Stop.
        qmx::test::SimProcess silent;
        const QString link = dir_.filePath("silent");
        QByteArray out;
        QVERIFY2(startSim(silent, {"--model", "M-070", "--power-on-delay", "3600000"}, link, &out),
                 out.constData());

        writeFile(dir_.filePath("image2.bin"), QByteArray(512, '\x5A'));
        const QString settings = dir_.filePath("closing.ini");
        WindowFixture f(settings, {link});
        f.window->setAttribute(Qt::WA_DeleteOnClose, false);
        f.window->show();
        f.window->loadFile(dir_.filePath("image2.bin"));
        // A setting changed just before: its save is still pending when the window closes.
        f.find<QRadioButton>("optBeepNo")->click();
        f.find<QPushButton>("comDownload_0")->click();
        QTRY_COMPARE_WITH_TIMEOUT(f.find<QLabel>("labState")->text(),
                                  QStringLiteral("Waiting for power"), 10000);
        QVERIFY(f.window->operationRunning());

        // The user closes the window: the event loop must end, the operation stopped first.
        f.window->close();
        QTimer::singleShot(15000, [] { QCoreApplication::exit(2); });
        QCOMPARE(QCoreApplication::exec(), 0);
        QVERIFY(f.window->unloaded());
        QVERIFY(!f.window->operationRunning());
        QFile file(settings);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray saved = file.readAll();
        QVERIFY2(saved.contains("BeepYesNo=False"), saved.constData());
        silent.stop();
    }

  private:
    QTemporaryDir dir_;
    qmx::test::SimProcess sim_;
    QString link_;
};

QTEST_MAIN(StationTest)
#include "station_test.moc"
