// Production through the window: chips programmed one after another with nobody at the power switch
// (a command switches each chip off and on through the simulator's control FIFO), each chip
// with its line in the production log; and production choices that cannot work, which refuse
// the download with a clear message and program nothing.
#include <sys/stat.h>

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QSpinBox>
#include <QTest>

#include "gui_helpers.h"

using namespace qmx::gui;
using namespace qmx::gui::test;

namespace {

QList<QJsonObject> logRecords(const QString& path) {
    QList<QJsonObject> records;
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return records;
    for (const QByteArray& line : f.readAll().split('\n')) {
        if (line.isEmpty()) continue;
        records << QJsonDocument::fromJson(line).object();  // a broken line gives an empty one
    }
    return records;
}

QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

}  // namespace

class ProductionTest : public QObject {
    Q_OBJECT
  private slots:
    void initTestCase() {
        QVERIFY(dir_.isValid());
        if (!QFile::exists(simPath())) QSKIP("qmx-chipsim is not built");
    }

    void cleanup() {
        if (sim_.state() != QProcess::NotRunning) {
            sim_.terminate();
            sim_.waitForFinished(5000);
        }
    }

    void seriesPowerCycledByCommandWithLog() {
        const QString fifo = dir_.filePath("control");
        QCOMPARE(::mkfifo(fifo.toLocal8Bit().constData(), 0600), 0);
        const QString link = dir_.filePath("tty");
        const QString flash = dir_.filePath("flash");
        // The chips stay off until the window's power switch turns them on; the next one is put
        // in as soon as the previous one runs, as a handler does while the window counts.
        QByteArray out;
        QVERIFY2(
            startSim(sim_,
                     {"--model", "M-070", "--chips", "2", "--swap-delay", "0", "--power-on-delay",
                      "86400000", "--control", fifo, "--no-wire-time", "--flash-out", flash},
                     link, &out),
            out.constData());
        const QString switchLog = dir_.filePath("switch.log");
        const QString script = dir_.filePath("power switch.sh");
        writeFile(script,
                  QStringLiteral("#!/bin/sh\necho \"power-$1\" > '%1'\necho \"$1\" >> '%2'\n")
                      .arg(fifo, switchLog)
                      .toUtf8());
        QVERIFY(
            QFile::setPermissions(script, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        const QString logPath = dir_.filePath("production.jsonl");
        // The choices as a previous run of the window stored them; Re-Download waits 6 s.
        const QString settings = dir_.filePath("series.ini");
        writeFile(settings, QStringLiteral("[Settings]\nPowerCycle=cmd\nPowerCycleCommand='%1'\n"
                                           "PowerOffMs=200\nProductionLog=%2\n"
                                           "ProductionLogOn=True\nDalay_ReDownLoad=3\n")
                                .arg(script, logPath)
                                .toUtf8());
        const QByteArray image = randomImage(2500);
        const QString imagePath = dir_.filePath("app.bin");
        writeFile(imagePath, image);

        WindowFixture f(settings, {link});
        QCOMPARE(f.find<QComboBox>("comPowerCycle")->currentData().toString(), QString("cmd"));
        QVERIFY(f.find<QLineEdit>("txtPowerCycleCommand")->isEnabled());
        QCOMPARE(f.find<QSpinBox>("txtPowerOffMs")->value(), 200);
        QVERIFY(f.find<QCheckBox>("cheProductionLog")->isChecked());
        f.window->loadFile(imagePath);
        auto* pane = f.find<QPlainTextEdit>("textMsg");

        // Download the first chip, then Re-Download (offered once the window was idle after
        // an operation) for the next: no control line is written by anybody but the switch.
        f.find<QPushButton>("comDownload_0")->click();
        QTRY_VERIFY2_WITH_TIMEOUT(!f.window->operationRunning(), qPrintable(pane->toPlainText()),
                                  30000);
        QCOMPARE(logRecords(logPath).size(), 1);
        f.find<QPushButton>("comDownload_1")->click();
        QTRY_VERIFY2_WITH_TIMEOUT(logRecords(logPath).size() >= 2, qPrintable(pane->toPlainText()),
                                  30000);
        // Stop in the countdown before a third chip is looked for.
        f.find<QPushButton>("comStop_Download")->click();
        QTRY_VERIFY_WITH_TIMEOUT(!f.window->operationRunning(), 15000);
        QVERIFY2(f.find<QLineEdit>("txtWrite_OK_Count")->text() == "2",
                 qPrintable(pane->toPlainText() + "\n" + readAll(logPath)));
        QCOMPARE(readAll(switchLog), QByteArray("off\non\noff\non\n"));
        QVERIFY(flashHolds(flash + ".1", image, nullptr, true));
        QVERIFY(flashHolds(flash + ".2", image, nullptr, true));

        const QString checksum = f.find<QLineEdit>("txtFileCheckSum")->text().trimmed();
        const QList<QJsonObject> records = logRecords(logPath);
        QCOMPARE(records.size(), 2);
        for (const QJsonObject& r : records) {
            const QString line = QString::fromUtf8(QJsonDocument(r).toJson());
            QVERIFY2(r.value("result").toString() == "ok", qPrintable(line));
            QCOMPARE(r.value("port").toString(), link);
            QCOMPARE(r.value("model").toString(), QString("M-070"));
            QCOMPARE(r.value("image").toString(), imagePath);
            QCOMPARE(r.value("checksum").toString(), checksum);
            QCOMPARE(r.value("chip_id").toString(), QString("F0 04"));
            QCOMPARE(r.value("message").toString(), QString("Have already encrypt. / 已加密"));
            QVERIFY(r.value("duration_ms").toDouble() > 0);
            QVERIFY(QRegularExpression(R"(^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z$)")
                        .match(r.value("time").toString())
                        .hasMatch());
        }
    }

    // A stored switch nobody knows starts as "none"; a log that cannot be created refuses the
    // download before any chip is touched, and the counter stays as it was.
    void unusableChoicesRefuseTheDownload() {
        const QString settings = dir_.filePath("bad.ini");
        writeFile(settings,
                  "[Settings]\nPowerCycle=relay-board\nPowerOffMs=abc\n"
                  "ProductionLog=/nonexistent/qmx/production.jsonl\n"
                  "ProductionLogOn=True\nWrite_OK_Count=7\n");
        const QString imagePath = dir_.filePath("small.bin");
        writeFile(imagePath, randomImage(300));
        WindowFixture f(settings, {dir_.filePath("no-such-tty")});
        auto* mode = f.find<QComboBox>("comPowerCycle");
        QCOMPARE(mode->currentData().toString(), QString("none"));
        QCOMPARE(f.find<QSpinBox>("txtPowerOffMs")->value(), 300);
        QVERIFY(!f.find<QLineEdit>("txtPowerCycleCommand")->isEnabled());
        f.window->loadFile(imagePath);
        auto* pane = f.find<QPlainTextEdit>("textMsg");
        auto* state = f.find<QLabel>("labState");

        f.find<QPushButton>("comDownload_0")->click();
        QTRY_VERIFY_WITH_TIMEOUT(!f.window->operationRunning(), 10000);
        QVERIFY2(pane->toPlainText().contains("/nonexistent/qmx/production.jsonl cannot be opened"),
                 qPrintable(pane->toPlainText()));
        QVERIFY(!pane->toPlainText().contains("COM port"));  // the port was never opened
        QVERIFY(state->text().startsWith("Failed: "));
        QCOMPARE(f.find<QLineEdit>("txtWrite_OK_Count")->text(), QStringLiteral("7"));

        // The command mode without a command is refused the same way.
        f.find<QCheckBox>("cheProductionLog")->click();
        mode->setCurrentIndex(mode->findData("cmd"));
        emit mode->activated(mode->currentIndex());
        QVERIFY(f.find<QLineEdit>("txtPowerCycleCommand")->isEnabled());
        f.find<QPushButton>("comDownload_0")->click();
        QTRY_VERIFY_WITH_TIMEOUT(!f.window->operationRunning(), 10000);
        QVERIFY2(pane->toPlainText().contains("the power switch command is empty"),
                 qPrintable(pane->toPlainText()));

        // What is saved is what the window shows: the unknown switch is not written back.
        f.window->saveSettings();
        const QByteArray stored = readAll(settings);
        QVERIFY2(stored.contains("PowerCycle=cmd\n"), stored.constData());
        QVERIFY(stored.contains("PowerOffMs=300\n"));
        QVERIFY(stored.contains("ProductionLogOn=False\n"));
    }

  private:
    QTemporaryDir dir_;
    QProcess sim_;
};

QTEST_MAIN(ProductionTest)
#include "production_test.moc"
