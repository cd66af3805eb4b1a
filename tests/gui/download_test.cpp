// End to end through the window: a download into qmx-chipsim over a pseudo-terminal, then a
// second download stopped while it waits for the chip.
#include <QFile>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QRandomGenerator>
#include <QTest>

#include "gui_helpers.h"

using namespace qmx::gui;
using namespace qmx::gui::test;

class DownloadTest : public QObject {
    Q_OBJECT
  private slots:
    void initTestCase() {
        QVERIFY(dir_.isValid());
        const QString sim = QStringLiteral(QMX_BIN_DIR "/qmx-chipsim");
        if (!QFile::exists(sim)) QSKIP("qmx-chipsim is not built");
        link_ = dir_.filePath("tty");
        flash_ = dir_.filePath("flash.bin");
        sim_.setProgram(sim);
        sim_.setArguments(
            {"--model", "M-070", "--link", link_, "--flash-out", flash_, "--no-wire-time"});
        sim_.start();
        QVERIFY(sim_.waitForStarted(5000));
        QByteArray out;
        while (!out.contains("ready") && sim_.waitForReadyRead(5000))
            out += sim_.readAll();
        QVERIFY2(out.contains("ready " + link_.toUtf8()), out.constData());
    }

    void cleanupTestCase() {
        if (sim_.state() != QProcess::NotRunning) {
            sim_.terminate();
            sim_.waitForFinished(5000);
        }
    }

    void downloadThenStop() {
        // An image of our own: 3000 random bytes.
        QByteArray image;
        for (int i = 0; i < 3000; ++i)
            image.append(char(QRandomGenerator::global()->bounded(256)));
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

        download->click();
        QVERIFY(f.window->operationRunning());
        QVERIFY(!model->isEnabled());  // setup locked while the operation runs
        QTRY_VERIFY_WITH_TIMEOUT(!f.window->operationRunning(), 60000);
        QVERIFY2(pane->toPlainText().contains("Program OK / 下载 OK"),
                 qPrintable(pane->toPlainText()));
        QCOMPARE(f.find<QLineEdit>("txtWrite_OK_Count")->text(), QStringLiteral("1"));
        QVERIFY(download->isEnabled());
        QVERIFY(model->isEnabled());

        // The chip now holds the image; the rest of its flash is erased.
        QByteArray flash;
        QTRY_VERIFY_WITH_TIMEOUT(
            [&] {
                QFile file(flash_);
                if (!file.open(QIODevice::ReadOnly)) return false;
                flash = file.readAll();
                return flash.size() >= image.size() && flash.left(image.size()) == image;
            }(),
            10000);
        for (qsizetype i = image.size(); i < flash.size(); ++i)
            QCOMPARE(static_cast<unsigned char>(flash[i]), static_cast<unsigned char>(0xFF));

        // The chip runs its program now and does not answer: Stop ends the waiting download.
        download->click();
        QTRY_VERIFY_WITH_TIMEOUT(pane->toPlainText().contains("We are trying to connect"), 10000);
        QVERIFY(stop->isEnabled());
        stop->click();
        QTRY_VERIFY_WITH_TIMEOUT(!f.window->operationRunning(), 10000);
        QVERIFY(download->isEnabled());
        QVERIFY(!stop->isEnabled());
        QVERIFY(model->isEnabled());
        QCOMPARE(f.find<QLineEdit>("txtWrite_OK_Count")->text(), QStringLiteral("1"));
    }

  private:
    QTemporaryDir dir_;
    QProcess sim_;
    QString link_;
    QString flash_;
};

QTEST_MAIN(DownloadTest)
#include "download_test.moc"
