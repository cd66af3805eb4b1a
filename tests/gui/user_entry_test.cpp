// End to end through the window: the send-user-code page and the ISP DEMO page against a
// qmx-chipsim that runs a user application; the chip's flash is compared with the image.
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabBar>
#include <QTest>

#include "catalogue/model_catalogue.h"
#include "gui_helpers.h"

using namespace qmx::gui;
using namespace qmx::gui::test;

class UserEntryTest : public QObject {
    Q_OBJECT
  private slots:
    void initTestCase() { QVERIFY(dir_.isValid()); }

    void cleanup() { sim_.stop(); }

    void sendUserCodeThenDownload() {
        QVERIFY(startSim({"--model", "M-070", "--user-code", "12 34 56 78"}));
        const QByteArray image = randomImage(2500);
        writeFile(dir_.filePath("a.bin"), image);
        WindowFixture f(dir_.filePath("a.ini"), {link_});
        f.window->loadFile(dir_.filePath("a.bin"));
        auto* pane = f.find<QPlainTextEdit>("textMsg");
        auto* send = f.find<QPushButton>("comSendUserCode");
        QVERIFY(!f.widget("Label_user_code_na"));
        QVERIFY(send->isEnabled());
        f.find<QPlainTextEdit>("txtUserCode")->setPlainText("1234 5678\r\n");
        send->click();
        QVERIFY(f.window->operationRunning());
        QVERIFY(!send->isEnabled());
        QTRY_VERIFY2_WITH_TIMEOUT(!f.window->operationRunning(), qPrintable(story(pane)), 60000);
        QVERIFY2(pane->toPlainText().contains("Program OK / 下载 OK"),
                 qPrintable(pane->toPlainText()));
        QVERIFY(send->isEnabled());
        QCOMPARE(sim_.stop(), 0);  // the flash file is written as it ends
        QVERIFY(flashHolds(flash_, image, nullptr, true));
    }

    void ispDemoThroughTheWindow() {
        QVERIFY(startSim({"--model", "M-068", "--in-app-loader", "--user-code", "A5 5A 01"}));
        const QByteArray image = randomImage(3000);
        writeFile(dir_.filePath("b.bin"), image);
        WindowFixture f(dir_.filePath("b.ini"), {link_});
        f.window->selectModelRow(qmx::modelListIndex("M-068"));
        auto* tabs = f.find<QTabBar>("TabStrip1");
        bool offered = false;
        for (int i = 0; tabs && i < tabs->count(); ++i)
            offered = offered || tabs->tabText(i) == "ISP DEMO";
        QVERIFY(offered);
        auto* pane = f.find<QPlainTextEdit>("textMsg");
        auto* count = f.find<QLineEdit>("txtWrite_OK_Count");
        const QString countBefore = count->text();
        QVERIFY(!f.widget("Label_demo_na"));
        f.find<QCheckBox>("che_Demo_DownLoad")->setChecked(true);
        f.find<QLineEdit>("txt_DEMO_UserCode")->setText("A55A01");
        auto* baud = f.find<QComboBox>("cob_DEMO_DownLoad_Baud");
        baud->setCurrentIndex(baud->findText("9600"));
        auto* demoDownload = f.find<QPushButton>("com_Demo_DownLoad");
        // Offered once the window has been idle after an operation, as Re-Download is.
        f.find<QPushButton>("comSendUserCode")->click();  // no file yet: a box, then idle
        QTRY_VERIFY_WITH_TIMEOUT(!f.window->operationRunning(), 10000);
        QTRY_VERIFY_WITH_TIMEOUT(demoDownload->isEnabled(), 5000);
        QVERIFY(f.sawBox("Please open file."));
        f.window->loadFile(dir_.filePath("b.bin"));

        demoDownload->click();
        QVERIFY(f.window->operationRunning());
        QTRY_VERIFY_WITH_TIMEOUT(f.find<QPushButton>("com_Demo_Stop")->isEnabled(), 5000);
        QTRY_VERIFY2_WITH_TIMEOUT(!f.window->operationRunning(), qPrintable(story(pane)), 60000);
        QVERIFY2(pane->toPlainText().contains("Program OK / 下载 OK"),
                 qPrintable(pane->toPlainText()));
        QCOMPARE(count->text(), countBefore);  // a demo download is not counted
        QVERIFY(!f.find<QPushButton>("com_Demo_Stop")->isEnabled());
        QVERIFY(demoDownload->isEnabled());
        QVERIFY(!f.window->core().channel.user_command_mode());
        QCOMPARE(sim_.stop(), 0);  // the flash file is written as it ends
        QVERIFY(flashHolds(flash_, image, nullptr, true));
    }

  private:
    // The window's messages and the chip's log, for a run that did not end.
    QString story(QPlainTextEdit* pane) const {
        QFile log(dir_.filePath(QString("sim%1.log").arg(run_)));
        log.open(QIODevice::ReadOnly);
        return pane->toPlainText() + "\n--- chip log ---\n" + QString::fromUtf8(log.readAll());
    }

    bool startSim(QStringList args) {
        link_ = dir_.filePath(QString("tty%1").arg(++run_));
        flash_ = dir_.filePath(QString("flash%1.bin").arg(run_));
        args << "--personality"
             << "app"
             << "--flash-out" << flash_ << "--no-wire-time"
             << "--log" << dir_.filePath(QString("sim%1.log").arg(run_));
        return test::startSim(sim_, args, link_);
    }

    QTemporaryDir dir_;
    qmx::test::SimProcess sim_;
    QString link_, flash_;
    int run_ = 0;
};

QTEST_MAIN(UserEntryTest)
#include "user_entry_test.moc"
