// The setup pages: auto-increment writes the number into the buffer and locks its boxes,
// saving refuses bad ranges, the success counter asks before clearing, and the pages whose
// operations this version lacks say so.
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>

#include "gui_helpers.h"

using namespace qmx::gui;
using namespace qmx::gui::test;

namespace {

void retype(QLineEdit* box, const QString& text) {
    box->selectAll();
    QTest::keyClick(box, Qt::Key_Delete);
    QTest::keyClicks(box, text);
}

}  // namespace

class PagesTest : public QObject {
    Q_OBJECT
  private slots:
    void init() {
        QVERIFY(dir_.isValid());
        settings_ = dir_.filePath(QStringLiteral("settings-%1.ini").arg(++run_));
    }

    void autoIncreaseWritesTheNumber() {
        WindowFixture f(settings_);
        auto* address = f.find<QLineEdit>("texAuto_Increase_0");
        auto* count = f.find<QLineEdit>("texAuto_Increase_1");
        auto* next = f.find<QLineEdit>("texAuto_Increase_2");
        retype(address, "37FF");
        retype(count, "4");
        retype(next, "1234");
        auto* tick = f.find<QCheckBox>("cheAuto_Increase");
        tick->click();
        QVERIFY2(f.boxes.empty(), f.boxes.empty() ? "" : f.boxes.front().text.c_str());
        const auto& b = f.window->core().buffer.bytes;
        QCOMPARE(int(b[0x37FC]), 0x00);
        QCOMPARE(int(b[0x37FD]), 0x00);
        QCOMPARE(int(b[0x37FE]), 0x12);
        QCOMPARE(int(b[0x37FF]), 0x34);
        QCOMPARE(next->text(), QStringLiteral("00001234"));  // padded to its storage width
        QVERIFY(!address->isEnabled());
        QVERIFY(!f.widget("optAuto_Increase_0")->isEnabled());
        // The five values are kept for the next start.
        QCOMPARE(f.window->core().settings.read("Auto_Increase", "address"), std::string("37FF"));
        tick->click();
        QVERIFY(address->isEnabled());
        QVERIFY(!f.window->core().serial.active);

        // A refused address: its message, the box stays ticked, nothing active.
        retype(address, "FFFF");
        tick->click();
        QVERIFY(f.sawBox("自动增量低位地址太大"));
        QVERIFY(tick->isChecked());
        QVERIFY(!f.window->core().serial.active);
    }

    void serialNumberIsSelectedInTheView() {
        WindowFixture f(settings_);
        f.window->show();
        QVERIFY(QTest::qWaitForWindowExposed(f.window.get()));
        // Four BCD bytes 0x3E ... 0x41: the number runs across a row end.
        retype(f.find<QLineEdit>("texAuto_Increase_0"), "41");
        retype(f.find<QLineEdit>("texAuto_Increase_1"), "4");
        retype(f.find<QLineEdit>("texAuto_Increase_2"), "1234");
        f.find<QCheckBox>("cheAuto_Increase")->click();
        QVERIFY(f.window->core().serial.active);
        auto* box = f.find<QPlainTextEdit>("txtBuffer2");
        // The selection runs on over the row end and the next row's address field.
        QTRY_COMPARE(box->textCursor().selectedText(),
                     QStringLiteral("00 00 ") + QChar(0x2029) + QStringLiteral(" 000040   12 34"));
        f.find<QCheckBox>("cheAuto_Increase")->click();
        QVERIFY(!f.window->core().serial.active);
    }

    void storeFileRefusesBadRanges() {
        WindowFixture f(settings_);
        auto* start = f.find<QLineEdit>("txt_Start_Address");
        auto* length = f.find<QLineEdit>("txt_length");
        auto* store = f.find<QPushButton>("comStoreFile");
        QVERIFY(store->isEnabled());
        length->clear();
        QVERIFY(!store->isEnabled());
        length->setText("0");
        QVERIFY(store->isEnabled());
        store->click();
        QVERIFY(f.sawBox("File length too small."));
        start->setText("1");
        length->setText("10000");
        store->click();
        QVERIFY(f.sawBox("File length too big."));
    }

    void clearingTheCounterAsksFirst() {
        writeFile(settings_, "[Settings]\nWrite_OK_Count=42\n");
        WindowFixture f(settings_);
        auto* count = f.find<QLineEdit>("txtWrite_OK_Count");
        QCOMPARE(count->text(), QStringLiteral("42"));
        f.find<QPushButton>("comClear_OK_Count")->click();  // default answer: No
        QVERIFY(f.sawBox("您要把下载成功计数清0吗(Y/N)? "));
        QCOMPARE(count->text(), QStringLiteral("42"));
        f.answers = {qmx::BoxAnswer::Yes};
        f.find<QPushButton>("comClear_OK_Count")->click();
        QCOMPARE(count->text(), QStringLiteral("0"));
        QCOMPARE(f.window->core().settings.read("Settings", "Write_OK_Count"), std::string("0"));
    }

    void unavailablePagesSaySo() {
        WindowFixture f(settings_);
        for (const char* button :
             {"comSendUserCode", "com_Demo_DownLoad", "com_Demo_Re_DownLoad", "com_Demo_Stop"}) {
            QVERIFY2(f.widget(button), button);
            QVERIFY2(!f.widget(button)->isEnabled(), button);
        }
        for (const char* note : {"Label_user_code_na", "Label_demo_na"})
            QVERIFY(f.find<QLabel>(note)->text().contains("not available"));
        // The monitor button follows the model; without monitor files it names the one missing.
        f.window->setMonitorDir(QStringLiteral("/nonexistent-monitor-dir"));
        f.window->selectModelRow(73);  // M-064
        auto* monitor = f.find<QPushButton>("comDownSoft_ICE");
        QVERIFY(monitor->isEnabled());
        monitor->click();
        QTRY_VERIFY_WITH_TIMEOUT(f.sawBox("/nonexistent-monitor-dir/QMX2000.rom"), 10000);
        QTRY_VERIFY_WITH_TIMEOUT(!f.window->operationRunning(), 10000);
    }

  private:
    QTemporaryDir dir_;
    QString settings_;
    int run_ = 0;
};

QTEST_MAIN(PagesTest)
#include "pages_test.moc"
