// The dump view: digit editing writes the buffer (after the one confirmation), other keys do
// nothing, Page Up/Down scroll by 16 rows, a click snaps to one digit.
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTest>
#include <QTextBlock>

#include "gui_helpers.h"

using namespace qmx::gui;
using namespace qmx::gui::test;

namespace {

// Selects one character of the shown page: `row` counts the rows of bytes (the page begins
// with two empty lines), `column` characters from the row start.
void selectChar(QPlainTextEdit* box, int row, int column) {
    const QTextBlock block = box->document()->findBlockByNumber(2 + row);
    QTextCursor c(box->document());
    c.setPosition(block.position() + column);
    c.setPosition(block.position() + column + 1, QTextCursor::KeepAnchor);
    box->setTextCursor(c);
}

QString rowText(QPlainTextEdit* box, int row) {
    return box->document()->findBlockByNumber(2 + row).text();
}

}  // namespace

class BufferViewTest : public QObject {
    Q_OBJECT
  private slots:
    void init() {
        QVERIFY(dir_.isValid());
        settings_ = dir_.filePath(QStringLiteral("settings-%1.ini").arg(++run_));
        image_ = dir_.filePath("image.bin");
        QByteArray bytes;
        for (int i = 0; i < 4096; ++i)
            bytes.append(char(0x11 + i % 7));
        writeFile(image_, bytes);
    }

    void typedDigitIsWrittenIntoTheBuffer() {
        WindowFixture f(settings_);
        f.window->show();
        QVERIFY(QTest::qWaitForWindowExposed(f.window.get()));
        f.window->loadFile(image_);
        auto& buffer = f.window->core().buffer;
        QVERIFY(buffer.imageLoaded);
        QCOMPARE(int(buffer.bytes[0x11]), 0x11 + 0x11 % 7);
        auto* box = f.find<QPlainTextEdit>("txtBuffer2");
        QVERIFY(rowText(box, 0).startsWith(" 000000   11 12"));

        // Row 1, cell 1 (address 0x11), high digit.
        selectChar(box, 1, 13);
        f.answers = {qmx::BoxAnswer::Yes};
        QTest::keyClick(box, 'a');
        QCOMPARE(f.boxes.size(), size_t(1));
        QVERIFY(f.sawBox("Update the buffer? / 修改缓冲区内容吗?"));
        const int low = 0x11 + 0x11 % 7;
        QCOMPARE(int(buffer.bytes[0x11]), 0xA0 | (low & 0x0F));
        QCOMPARE(rowText(box, 1).mid(13, 2), QStringLiteral("A%1").arg(low & 0x0F));
        // The selection moved on to the low digit; "g" changes nothing.
        QCOMPARE(box->textCursor().selectionStart(),
                 box->document()->findBlockByNumber(3).position() + 14);
        const QString before = box->toPlainText();
        QTest::keyClick(box, 'g');
        QCOMPARE(box->toPlainText(), before);
        QCOMPARE(int(buffer.bytes[0x11]), 0xA0 | (low & 0x0F));
        // Within the confirmation time no second question.
        QTest::keyClick(box, 'F');
        QCOMPARE(int(buffer.bytes[0x11]), 0xAF);
        QCOMPARE(f.boxes.size(), size_t(1));
        // Past the row end the next digit is on the next row.
        selectChar(box, 1, 10 + 15 * 3 + 1);
        QTest::keyClick(box, '0');
        QCOMPARE(int(buffer.bytes[0x1F]) & 0x0F, 0);
        QCOMPARE(box->textCursor().selectionStart(),
                 box->document()->findBlockByNumber(4).position() + 10);
    }

    void answeringNoOrNoImageChangesNothing() {
        WindowFixture f(settings_);
        auto& buffer = f.window->core().buffer;
        auto* box = f.find<QPlainTextEdit>("txtBuffer2");
        selectChar(box, 0, 10);
        QTest::keyClick(box, '7');  // default answer: No
        QCOMPARE(int(buffer.bytes[0]), 0);
        f.answers = {qmx::BoxAnswer::Yes};
        QTest::keyClick(box, '7');
        QVERIFY(f.sawBox("    Please open file./请打开文件。    "));
        QCOMPARE(int(buffer.bytes[0]), 0);
        QCOMPARE(rowText(box, 0).mid(10, 2), QStringLiteral("00"));
    }

    void pageKeysAndClickSnapping() {
        WindowFixture f(settings_);
        f.window->show();
        QVERIFY(QTest::qWaitForWindowExposed(f.window.get()));
        f.window->loadFile(image_);
        auto* box = f.find<QPlainTextEdit>("txtBuffer2");
        auto* scroll = f.find<QScrollBar>("VScroll1");
        QCOMPARE(scroll->maximum(), 4095 / 16 - 3);
        QTest::keyClick(box, Qt::Key_PageDown);
        QCOMPARE(scroll->value(), 16);
        QVERIFY(rowText(box, 0).startsWith(" 000100"));
        QTest::keyClick(box, Qt::Key_PageUp);
        QCOMPARE(scroll->value(), 0);
        // A click on the blank between two cells selects one digit.
        const QTextBlock row = box->document()->findBlockByNumber(3);
        QTextCursor at(box->document());
        at.setPosition(row.position() + 12);
        QTest::mouseClick(box->viewport(), Qt::LeftButton, {}, box->cursorRect(at).center());
        const QTextCursor sel = box->textCursor();
        QCOMPARE(sel.selectedText().size(), 1);
        QVERIFY(sel.selectedText() != " ");
    }

  private:
    QTemporaryDir dir_;
    QString settings_;
    QString image_;
    int run_ = 0;
};

QTEST_MAIN(BufferViewTest)
#include "buffer_view_test.moc"
