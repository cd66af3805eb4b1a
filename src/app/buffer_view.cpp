#include "app/buffer_view.h"

#include <QFontDatabase>
#include <QGridLayout>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QTextBlock>

#include <algorithm>

#include "app/qt_ui.h"
#include "app/widgets.h"
#include "core/isp_core.h"

namespace qmx::gui {
namespace {

// A row: one blank, six address digits, three blanks, then "XX " per cell.
constexpr int kAddressField = 10;

QString hex(long v, int width) {
    return QStringLiteral("%1").arg(v, width, 16, QLatin1Char('0')).toUpper();
}

}  // namespace

BufferView::BufferView(IspCore& core, QWidget* parent) : QObject(parent), core_(core) {
    frame_ = makeGroup(parent, "Frame7", QStringLiteral("File:"));
    auto* grid = new QGridLayout(frame_);
    grid->setSpacing(0);
    const QFont mono = QFontDatabase::systemFont(QFontDatabase::FixedFont);

    headerAddress_ = makeEdit(frame_, "txtBufferAddress_0", QStringLiteral("地 址"));
    headerColumns_ =
        makeEdit(frame_, "txtBufferAddress_1", " 00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F ");
    for (QLineEdit* h : {headerAddress_, headerColumns_}) {
        h->setReadOnly(true);
        h->setFont(mono);
        h->setFocusPolicy(Qt::NoFocus);
    }
    const QFontMetrics fm(mono);
    headerAddress_->setFixedWidth(fm.horizontalAdvance(QString(kAddressField, ' ')) + 6);

    // The page is built in txtBuffer while txtBuffer2 keeps showing the previous one.
    txtBuffer_ = new QPlainTextEdit(frame_);
    txtBuffer_->setObjectName("txtBuffer");
    txtBuffer_->hide();
    txtBuffer2_ = new QPlainTextEdit(frame_);
    txtBuffer2_->setObjectName("txtBuffer2");
    for (QPlainTextEdit* t : {txtBuffer_, txtBuffer2_}) {
        t->setFont(mono);
        t->setLineWrapMode(QPlainTextEdit::NoWrap);
        t->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        t->setReadOnly(true);
        t->setTextInteractionFlags(Qt::TextSelectableByKeyboard | Qt::TextSelectableByMouse);
    }
    txtBuffer2_->setMinimumWidth(fm.horizontalAdvance(QString(kAddressField + 48 + 2, ' ')));
    txtBuffer2_->installEventFilter(this);
    txtBuffer2_->viewport()->installEventFilter(this);

    scroll_ = new QScrollBar(Qt::Vertical, frame_);
    scroll_->setObjectName("VScroll1");
    scroll_->setRange(0, 64);
    scroll_->setPageStep(16);
    scroll_->setSingleStep(1);
    connect(scroll_, &QScrollBar::valueChanged, this, [this] {
        if (!building_) render();
    });

    grid->addWidget(headerAddress_, 0, 0);
    grid->addWidget(headerColumns_, 0, 1);
    grid->addWidget(txtBuffer2_, 1, 0, 1, 2);
    grid->addWidget(scroll_, 1, 2);

    timer11_.setObjectName("Timer11");
    timer11_.setSingleShot(true);
    timer11_.setInterval(20000);
    connect(&timer11_, &QTimer::timeout, this, [this] { editConfirmed_ = false; });
}

const CodeBuffer& BufferView::source() const {
    return snapshot_ ? snapshot_->buffer : core_.buffer;
}

void BufferView::setSnapshot(std::shared_ptr<const ViewSnapshot> snapshot) {
    snapshot_ = std::move(snapshot);
    refresh();
}

int BufferView::rowsPerPage() const {
    const int line = QFontMetrics(txtBuffer2_->font()).lineSpacing();
    const int height = txtBuffer2_->viewport()->height();
    // The page begins with two empty lines.
    return std::max(1, height / std::max(1, line) - 2);
}

void BufferView::refresh() {
    const CodeBuffer& b = source();
    const long max = std::max(0L, (b.viewEnd - b.viewStart) / 16 - 3);
    building_ = true;
    scroll_->setMaximum(int(max));
    if (!snapshot_ && b.scrollValue >= 0 && b.scrollValue <= max)
        scroll_->setValue(int(b.scrollValue));
    building_ = false;
    render();
}

void BufferView::render() {
    const CodeBuffer& b = source();
    scroll_->setEnabled(false);
    building_ = true;

    long first = (b.viewStart / 16 + scroll_->value()) * 16;
    if (first < b.viewStart) first = (b.viewStart / 16) * 16;
    const long last = std::min(first + 989, b.viewEnd);
    const int rows = rowsPerPage();

    // The serial number occupies A - N + 1 ... A; it is selected when its first byte is shown.
    const long serialAddress = snapshot_ ? snapshot_->serialAddress : core_.serial.address;
    const long serialCount = snapshot_ ? snapshot_->serialCount : core_.serial.count;
    const long serialFirst = serialAddress - serialCount + 1;
    int selStart = -1, selEnd = -1;

    QString page = QStringLiteral("\n\n");
    long a = first - first % 16;
    const long stop = std::min(a + long(rows) * 16 - 1, last);
    for (; a <= stop; a += 16) {
        QString row = QLatin1Char(' ') + hex(a, 6) + QStringLiteral("   ");
        for (long c = a; c <= std::min(a + 15, stop); ++c) {
            if (c == serialFirst) selStart = int(page.size() + row.size());
            if (c == serialAddress && selStart >= 0) selEnd = int(page.size() + row.size() + 2);
            const int value = c >= 0 && c < long(CodeBuffer::kSize) ? b.bytes[size_t(c)] : 0;
            row += hex(value, 2) + QLatin1Char(' ');
        }
        page += row + QLatin1Char('\n');
    }
    if (selStart >= 0 && selEnd < 0) selEnd = int(page.size()) - 2;

    txtBuffer_->setPlainText(page);
    txtBuffer2_->setPlainText(page);
    QTextCursor cursor(txtBuffer2_->document());
    if (selStart >= 0) {
        const bool ticked = autoIncreaseTicked && autoIncreaseTicked();
        cursor.setPosition(selStart);
        if (ticked) cursor.setPosition(selEnd, QTextCursor::KeepAnchor);
    }
    txtBuffer2_->setTextCursor(cursor);
    scroll_->setEnabled(true);
    building_ = false;
    emit viewEndChanged(b.viewEnd);
}

void BufferView::scrollBy(int rows) {
    scroll_->setValue(std::clamp(scroll_->value() + rows, scroll_->minimum(), scroll_->maximum()));
}

bool BufferView::eventFilter(QObject* watched, QEvent* event) {
    if (watched == txtBuffer2_ && event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_PageUp) {
            scrollBy(-16);
            return true;
        }
        if (key->key() == Qt::Key_PageDown) {
            scrollBy(16);
            return true;
        }
        const QString text = key->text();
        if (text.size() == 1 && text[0].isPrint()) {
            typeDigit(text[0]);
            return true;  // no other key changes the page
        }
        return false;  // caret movement stays possible
    }
    if (watched == txtBuffer2_->viewport() && event->type() == QEvent::Resize) {
        // The page holds as many rows as the box shows.
        if (!building_)
            QMetaObject::invokeMethod(
                this, [this] { render(); }, Qt::QueuedConnection);
        return false;
    }
    if (watched == txtBuffer2_->viewport() && event->type() == QEvent::MouseButtonRelease) {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() == Qt::LeftButton && !txtBuffer2_->textCursor().hasSelection())
            snapToDigit(txtBuffer2_->cursorForPosition(mouse->position().toPoint()).position());
        return false;
    }
    return QObject::eventFilter(watched, event);
}

// Selects the hexadecimal digit at `position`, or the next digit when that is a blank or the
// address field; nothing when the page has no digit there.
void BufferView::snapToDigit(int position) {
    QTextDocument* doc = txtBuffer2_->document();
    for (QTextBlock block = doc->findBlock(position); block.isValid(); block = block.next()) {
        const QString line = block.text();
        int col = std::max(0, position - block.position());
        if (line.size() <= kAddressField) {
            position = block.next().position();
            continue;
        }
        if (col < kAddressField) col = kAddressField;
        if ((col - kAddressField) % 3 == 2) ++col;
        if (col < line.size() && line[col] != QLatin1Char(' ')) {
            QTextCursor c(doc);
            c.setPosition(block.position() + col);
            c.setPosition(block.position() + col + 1, QTextCursor::KeepAnchor);
            txtBuffer2_->setTextCursor(c);
            return;
        }
        position = block.next().position();
    }
}

bool BufferView::typeDigit(QChar key) {
    if (locked_ || snapshot_) return false;
    const bool isHex =
        (key >= '0' && key <= '9') || (key >= 'a' && key <= 'f') || (key >= 'A' && key <= 'F');
    QTextCursor cur = txtBuffer2_->textCursor();
    if (!isHex || cur.selectedText().size() != 1 || cur.selectedText() == QLatin1String(" "))
        return false;
    if (!editConfirmed_) {
        MessageBoxRequest ask;
        ask.text = "Update the buffer? / 修改缓冲区内容吗?";
        ask.buttons = BoxButtons::YesNo;
        ask.defaultAnswer = BoxAnswer::No;
        ask.icon = BoxIcon::Question;
        if (core_.ui().messageBox(ask) != BoxAnswer::Yes) return false;
        if (!core_.buffer.imageLoaded) {
            MessageBoxRequest none;
            none.text = "    Please open file./请打开文件。    ";
            core_.ui().messageBox(none);
            return false;
        }
        editConfirmed_ = true;
    }

    const QTextBlock block = cur.block();
    const int col = cur.selectionStart() - block.position();
    QString line = block.text();
    if (col < kAddressField || line.size() < kAddressField) return false;
    line[col] = key.toUpper();
    bool okAddr = false, okValue = false;
    const long rowAddress = line.mid(1, 6).toLong(&okAddr, 16);
    const int cell = (col - kAddressField) / 3;
    const int value = line.mid(kAddressField + 3 * cell, 2).toInt(&okValue, 16);
    const long address = rowAddress + cell;
    if (!okAddr || !okValue || address < 0 || address >= long(CodeBuffer::kSize)) return false;

    cur.insertText(QString(key.toUpper()));
    core_.buffer.bytes[size_t(address)] = std::uint8_t(value);

    timer11_.stop();
    timer11_.start();
    // On to the next digit: skip the blank between groups and continue on the next row.
    snapToDigit(block.position() + col + 1);
    return true;
}

}  // namespace qmx::gui
