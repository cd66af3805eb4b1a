// The offline page through the window: a simulated board loaded with the image, the count box
// refusing what is not a whole number, the three help pages, and Stop while the board sleeps.
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRandomGenerator>
#include <QTest>

#include "gui_helpers.h"

using namespace qmx::gui;
using namespace qmx::gui::test;

class OfflineTest : public QObject {
    Q_OBJECT
  private slots:
    void initTestCase() {
        QVERIFY(dir_.isValid());
        link_ = dir_.filePath("tty");
        store_ = dir_.filePath("store.bin");
        QByteArray out;
        QVERIFY2(startSim(sim_,
                          {"--model", "M-070", "--personality", "offline-board", "--flash-out",
                           store_, "--no-wire-time", "--board-version", "16"},
                          link_, &out),
                 out.constData());
    }

    void cleanupTestCase() { sim_.stop(); }

    void loadBoardHelpAndStop() {
        QByteArray image(0x2000, Qt::Uninitialized);
        for (auto& c : image)
            c = static_cast<char>(QRandomGenerator::global()->bounded(256));
        const QString imagePath = dir_.filePath("image.bin");
        writeFile(imagePath, image);

        WindowFixture f(dir_.filePath("settings.ini"), {link_});
        f.window->show();
        QVERIFY(!f.find<QLabel>("Label_offline_na"));
        auto* pane = f.find<QPlainTextEdit>("textMsg");
        auto* load = f.find<QPushButton>("comTJXZ");
        auto* limit = f.find<QLineEdit>("txt_download_max");
        auto* stop = f.find<QPushButton>("comStop_Download");
        QCOMPARE(limit->text(), QStringLiteral("1"));
        f.window->loadFile(imagePath);
        QVERIFY(f.window->core().buffer.imageLoaded);

        // Not a whole number: refused with a box, nothing sent.
        limit->setText("12abc");
        load->click();
        QTRY_VERIFY_WITH_TIMEOUT(!f.window->operationRunning(), 10000);
        QVERIFY(f.sawBox("1 到 1000000"));
        QVERIFY(load->isEnabled());

        limit->setText("3");
        load->click();
        QVERIFY(f.window->operationRunning());
        QVERIFY(!load->isEnabled());
        QVERIFY(!limit->isEnabled());
        QTRY_VERIFY_WITH_TIMEOUT(!f.window->operationRunning(), 60000);
        QVERIFY2(pane->toPlainText().contains("Download OK. / 下载成功。"),
                 qPrintable(pane->toPlainText()));
        QVERIFY(load->isEnabled());
        QVERIFY(limit->isEnabled());

        // The help: three pages, the last with the LED table.
        f.boxes.clear();
        f.find<QPushButton>("com_TJXZ_help")->click();
        QCOMPARE(f.boxes.size(), std::size_t(3));
        QCOMPARE(f.boxes[0].title, std::string("脱机下载板下载帮助, 第一页，共三页"));
        QCOMPARE(f.boxes[2].title,
                 std::string("脱机下载板下载帮助-发光二极管显示, 第三页，共三页"));
        QVERIFY(f.sawBox("7个灯长亮,下载限量已减为0"));

        // The board holds the image: chip 0 onwards at board 0x4000.
        sim_.control("dump " + dir_.filePath("dump.bin").toStdString());
        QByteArray store;
        QTRY_VERIFY_WITH_TIMEOUT(readAll(dir_.filePath("dump.bin"), store), 5000);
        QCOMPARE(store.mid(0x4000, image.size()), image);
        QCOMPARE(static_cast<unsigned char>(store[0xEE00]), static_cast<unsigned char>(0x07));

        // A board that sleeps: Stop is enabled throughout the wake-up and ends it.
        sim_.control("power-off");
        QTest::qWait(200);
        load->click();
        QTRY_VERIFY_WITH_TIMEOUT(pane->toPlainText().contains("请给脱机下载板上电。"), 10000);
        QVERIFY(stop->isEnabled());
        QVERIFY(!load->isEnabled());
        QTest::qWait(300);
        stop->click();
        QTRY_VERIFY_WITH_TIMEOUT(!f.window->operationRunning(), 10000);
        QVERIFY2(pane->toPlainText().contains("Operation is stop."),
                 qPrintable(pane->toPlainText()));
        QVERIFY(load->isEnabled());
        QVERIFY(!stop->isEnabled());
    }

  private:
    static bool readAll(const QString& path, QByteArray& out) {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly)) return false;
        out = file.readAll();
        return out.size() >= 0x10000;
    }

    QTemporaryDir dir_;
    QString link_, store_;
    qmx::test::SimProcess sim_;
};

QTEST_MAIN(OfflineTest)
#include "offline_test.moc"
