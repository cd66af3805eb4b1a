// The dump view of the code buffer (`Frame7`): the page box `txtBuffer` in which a page is
// built, the box `txtBuffer2` that the user sees and types into, the two header boxes
// `txtBufferAddress`, the scroll bar `VScroll1` and the edit-confirmation timer `Timer11`.
// The buffer is the truth: the page is only a rendering, and an edited digit is written into
// the buffer at once.
#pragma once

#include <QGroupBox>
#include <QLineEdit>
#include <QObject>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTimer>

#include <functional>
#include <memory>
#include <string>

#include "image/dump_view.h"

namespace qmx {
class IspCore;
class CodeBuffer;
}  // namespace qmx

namespace qmx::gui {

struct ViewSnapshot;

class BufferView : public QObject {
    Q_OBJECT
  public:
    BufferView(IspCore& core, QWidget* parent);

    QGroupBox* frame() const { return frame_; }
    QPlainTextEdit* shownBox() const { return txtBuffer2_; }
    QScrollBar* scrollBar() const { return scroll_; }

    // The scroll-change step: build and show the page for the current scroll position.
    void render();
    // Take the extents and scroll range of the buffer and render (after a load or a change).
    void refresh();
    // While an operation runs the view shows copies of the buffer taken by the operation and
    // refuses edits; nullptr returns to the live buffer.
    void setSnapshot(std::shared_ptr<const ViewSnapshot> snapshot);
    void setLocked(bool locked) { locked_ = locked; }

    // Whether the auto-increment box is ticked (the window tells; it decides the selection).
    std::function<bool()> autoIncreaseTicked;

    // Rows a page holds for the current box height.
    int rowsPerPage() const;

  signals:
    // The view was rebuilt; the save page takes viewEnd + 1 as its default length.
    void viewEndChanged(long viewEnd);

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    const CodeBuffer& source() const;
    bool typeDigit(QChar key);
    void snapToDigit(int position);
    void selectDigit(long pagePosition);
    void scrollBy(int rows);
    // Positions in the page text (rows end in CR LF) and in the box (rows end in LF).
    long toPage(int boxPosition) const;
    int toBox(long pagePosition) const;

    IspCore& core_;
    std::shared_ptr<const ViewSnapshot> snapshot_;
    QGroupBox* frame_;
    QLineEdit* headerAddress_;
    QLineEdit* headerColumns_;
    QPlainTextEdit* txtBuffer_;
    QPlainTextEdit* txtBuffer2_;
    QScrollBar* scroll_;
    QTimer timer11_;
    DumpEditor editor_;
    std::string pageText_;  // the page as built, CR LF line ends
    bool locked_ = false;
    bool building_ = false;
};

}  // namespace qmx::gui
