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
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QSet>
#include <QSpinBox>
#include <QTableWidget>
#include <QTest>

#include "app/gang_dialog.h"
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
    void initTestCase() { QVERIFY(dir_.isValid()); }

    void cleanup() { sim_.stop(); }

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

    // A log that cannot take the line (a full disk): the chip is still good and counted, and
    // the pane and the state line say that its record is missing.
    void fullLogKeepsTheChipAndTheCounter() {
        if (!QFile::exists("/dev/full")) QSKIP("no /dev/full");
        const QString link = dir_.filePath("full-tty");
        QByteArray out;
        QVERIFY2(
            startSim(sim_, {"--model", "M-070", "--no-wire-time", "--flash-out", link + ".bin"},
                     link, &out),
            out.constData());
        const QString settings = dir_.filePath("full.ini");
        writeFile(settings,
                  "[Settings]\nWrite_OK_Count=3\nProductionLog=/dev/full\n"
                  "ProductionLogOn=True\n");
        const QByteArray image = randomImage(1000);
        writeFile(dir_.filePath("full.bin"), image);
        WindowFixture f(settings, {link});
        f.window->loadFile(dir_.filePath("full.bin"));
        auto* pane = f.find<QPlainTextEdit>("textMsg");

        f.find<QPushButton>("comDownload_0")->click();
        QTRY_VERIFY2_WITH_TIMEOUT(!f.window->operationRunning(), qPrintable(pane->toPlainText()),
                                  30000);
        QVERIFY(pane->toPlainText().contains("Program OK / 下载 OK"));
        QVERIFY2(pane->toPlainText().contains("this chip's record is missing"),
                 qPrintable(pane->toPlainText()));
        QCOMPARE(f.find<QLineEdit>("txtWrite_OK_Count")->text(), QStringLiteral("4"));
        QVERIFY(f.find<QLabel>("labState")->text().contains("production log"));
        QTRY_VERIFY(flashHolds(link + ".bin", image, nullptr, true));
        QVERIFY(readAll(settings).contains("Write_OK_Count=4"));
    }

    // The gang dialog: every ticked port programmed at once from one counter, one serial-number
    // stream and one log; a port that cannot be opened fails alone. A second run in the same
    // dialog goes on with the numbers after the first run's.
    void gangProgramsEveryTickedPort() {
        qmx::test::SimProcess simB;
        const QString linkA = dir_.filePath("gang-a"), linkB = dir_.filePath("gang-b");
        const QString bogus = dir_.filePath("no-such-port");
        QByteArray out;
        for (auto [sim, link] : {std::pair{&sim_, linkA}, std::pair{&simB, linkB}})
            QVERIFY2(startSim(*sim,
                              {"--model", "M-070", "--no-wire-time", "--chips", "2", "--swap-delay",
                               "0", "--flash-out", link + ".bin"},
                              link, &out),
                     out.constData());
        const QString logPath = dir_.filePath("gang.jsonl");
        const QString settings = dir_.filePath("gang.ini");
        // Numbers from 100, binary, in the two bytes FFE..FFF.
        writeFile(settings, QStringLiteral("[Settings]\nWrite_OK_Count=5\nProductionLog=%1\n"
                                           "ProductionLogOn=True\n[Auto_Increase]\naddress=FFF\n"
                                           "Length=2\nnext_value=100\nIncrease=1\n"
                                           "numeral_system=0\n")
                                .arg(logPath)
                                .toUtf8());
        const QByteArray image = randomImage(2000);
        const QString imagePath = dir_.filePath("gang.bin");
        writeFile(imagePath, image);
        WindowFixture f(settings, {linkA, linkB, bogus});
        f.window->loadFile(imagePath);
        f.find<QCheckBox>("cheAuto_Increase")->click();

        f.find<QPushButton>("comGang")->click();
        auto* gang = f.window->findChild<GangDialog*>("frmGang");
        QVERIFY(gang);
        auto* ports = gang->findChild<QListWidget*>("lstGangPorts");
        for (int i = 0; i < ports->count(); ++i) {
            const QString port = ports->item(i)->text();
            if (port == linkA || port == linkB || port == bogus)
                ports->item(i)->setCheckState(Qt::Checked);
        }
        for (int run = 1; run <= 2; ++run) {
            gang->findChild<QPushButton*>("comGangDownload")->click();
            QVERIFY(gang->running());
            QVERIFY(!f.find<QPushButton>("comDownload_0")->isEnabled());  // nothing else starts
            QTRY_VERIFY_WITH_TIMEOUT(!gang->running(), 30000);
            expectGangRows(*gang, bogus);
        }
        auto* summary = gang->findChild<QLabel*>("labGangSummary");
        QVERIFY2(
            summary->text().startsWith("1 of 3 ports failed") && summary->text().endsWith(" 9"),
            qPrintable(summary->text()));

        // Four chips, each with the image and a number of its own, in order of the runs.
        QList<unsigned> serials;
        for (const QString& file :
             {linkA + ".bin.1", linkB + ".bin.1", linkA + ".bin.2", linkB + ".bin.2"}) {
            QByteArray flash;
            QVERIFY2(flashHolds(file, image, &flash), qPrintable(file));
            serials << (unsigned char)flash[0xFFE] * 256u + (unsigned char)flash[0xFFF];
        }
        QCOMPARE(QSet<unsigned>(serials.begin(), serials.begin() + 2), QSet<unsigned>({100, 101}));
        QCOMPARE(QSet<unsigned>(serials.begin() + 2, serials.end()), QSet<unsigned>({102, 103}));
        QStringList okPorts;
        for (const QJsonObject& r : logRecords(logPath))
            if (r.value("result").toString() == "ok") okPorts << r.value("port").toString();
        okPorts.sort();
        QCOMPARE(okPorts, QStringList({linkA, linkA, linkB, linkB}));

        // Closed, the window has the gang's counter and next number and starts downloads again.
        gang->close();
        QTRY_VERIFY(!f.window->findChild<GangDialog*>("frmGang"));
        QCOMPARE(f.find<QLineEdit>("txtWrite_OK_Count")->text(), QStringLiteral("9"));
        QCOMPARE(f.find<QLineEdit>("texAuto_Increase_2")->text().toInt(), 104);
        QVERIFY(f.find<QPushButton>("comDownload_0")->isEnabled());
        simB.stop();
    }

  private:
    // One row per ticked port: the simulated chips OK, the missing port failed.
    static void expectGangRows(GangDialog& gang, const QString& bogus) {
        auto* table = gang.findChild<QTableWidget*>("tblGang");
        QCOMPARE(table->rowCount(), 3);
        for (int row = 0; row < 3; ++row) {
            const QString port = table->item(row, 0)->text();
            const QString state = table->item(row, 1)->text();
            const bool good = port != bogus;
            QVERIFY2(good ? state == "OK" : state.startsWith("Failed: "), qPrintable(port + state));
            QCOMPARE(table->item(row, 2)->text(), good ? QString("1") : QString("0"));
            QCOMPARE(table->item(row, 3)->text(), good ? QString("0") : QString("1"));
        }
    }

    QTemporaryDir dir_;
    qmx::test::SimProcess sim_;
};

QTEST_MAIN(ProductionTest)
#include "production_test.moc"
