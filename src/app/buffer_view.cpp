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
BufferView::BufferView(IspCore& core, QWidget* parent) : QObject(parent), core_(core) {
    frame_ = makeGroup(parent, "Frame7", QStringLiteral("File:"));
    auto* grid = new QGridLayout(frame_);
    grid->setSpacing(0);
    const QFont mono = QFontDatabase::systemFont(QFontDatabase::FixedFont);

    headerAddress_ = makeEdit(frame_, "txtBufferAddress_0", QString::fromUtf8(kDumpAddressHeader));
    headerColumns_ =
        makeEdit(frame_, "txtBufferAddress_1", " 00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F ");
    for (QLineEdit* h : {headerAddress_, headerColumns_}) {
        h->setReadOnly(true);
        h->setFont(mono);
        h->setFocusPolicy(Qt::NoFocus);
    }
    const QFontMetrics fm(mono);
    headerAddress_->setFixedWidth(fm.horizontalAdvance(QString(int(kRowPrefixLength), ' ')) + 6);

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
    txtBuffer2_->setMinimumWidth(
        fm.horizontalAdvance(QString(int(kRowPrefixLength) + 48 + 2, ' ')));
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
    connect(&timer11_, &QTimer::timeout, this, [this] { editor_.expire(); });
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
    if (b.scrollValue >= 0 && b.scrollValue <= max) scroll_->setValue(int(b.scrollValue));
    building_ = false;
    render();
}

long BufferView::toPage(int boxPosition) const {
    // Every earlier row end is one character longer in the page text.
    const QTextBlock block = txtBuffer2_->document()->findBlock(boxPosition);
    return boxPosition + (block.isValid() ? block.blockNumber() : 0);
}

int BufferView::toBox(long pagePosition) const {
    long crs = 0;
    for (long i = 0; i < pagePosition && i < long(pageText_.size()); ++i)
        if (pageText_[size_t(i)] == '\r') ++crs;
    return int(pagePosition - crs);
}

void BufferView::render() {
    scroll_->setEnabled(false);
    building_ = true;
    // The page of the current scroll position, built by the buffer's dump logic.
    CodeBuffer page = source();
    page.scrollValue = scroll_->value();
    if (!snapshot_) core_.buffer.scrollValue = page.scrollValue;
    const SerialNumberSpec& serial = snapshot_ ? snapshot_->serial : core_.serial;
    SerialNumberSpec shown = serial;
    shown.enabled = autoIncreaseTicked ? autoIncreaseTicked() : serial.enabled;
    const DumpPage dump = buildDumpPage(page, rowsPerPage(), shown);
    pageText_ = dump.text;

    QString text = QString::fromStdString(pageText_);
    text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    txtBuffer_->setPlainText(text);
    txtBuffer2_->setPlainText(text);
    QTextCursor cursor(txtBuffer2_->document());
    if (dump.selectionStart >= 0) {
        cursor.setPosition(toBox(dump.selectionStart));
        if (dump.selectionLength > 0)
            cursor.setPosition(toBox(dump.selectionStart + dump.selectionLength),
                               QTextCursor::KeepAnchor);
    }
    txtBuffer2_->setTextCursor(cursor);
    scroll_->setEnabled(true);
    building_ = false;
    emit viewEndChanged(page.viewEnd);
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
    if (watched == txtBuffer2_ && event->type() == QEvent::FocusIn &&
        static_cast<QFocusEvent*>(event)->reason() != Qt::MouseFocusReason && autoIncreaseTicked &&
        !autoIncreaseTicked()) {
        // Entering the box without auto-increment starts without a selection.
        QTextCursor c = txtBuffer2_->textCursor();
        c.clearSelection();
        txtBuffer2_->setTextCursor(c);
        return false;
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

void BufferView::selectDigit(long pagePosition) {
    if (pagePosition < 0) return;
    const int at = toBox(pagePosition);
    QTextCursor c(txtBuffer2_->document());
    c.setPosition(at);
    c.setPosition(std::min(at + 1, txtBuffer2_->document()->characterCount() - 1),
                  QTextCursor::KeepAnchor);
    txtBuffer2_->setTextCursor(c);
}

// Selects the hexadecimal digit a click at `position` snaps to.
void BufferView::snapToDigit(int position) {
    selectDigit(qmx::snapToDigit(pageText_, toPage(position)));
}

bool BufferView::typeDigit(QChar key) {
    if (locked_ || snapshot_ || key.unicode() > 0x7F) return false;
    const QTextCursor cur = txtBuffer2_->textCursor();
    const long start = toPage(cur.selectionStart());
    const long length = toPage(cur.selectionEnd()) - start;
    const DumpEditor::Result r =
        editor_.typeKey(pageText_, start, length, char(key.unicode()), core_.buffer, core_.ui());
    if (r.outcome != DumpEditor::Outcome::Stored) return false;
    // The page is only a rendering: show the new digit, the buffer already holds the byte.
    QTextCursor edit(txtBuffer2_->document());
    edit.setPosition(toBox(start));
    edit.setPosition(toBox(start) + 1, QTextCursor::KeepAnchor);
    edit.insertText(QString(QChar(pageText_[size_t(start)])));
    timer11_.stop();
    timer11_.start();
    selectDigit(r.nextSelection);
    return true;
}

}  // namespace qmx::gui
