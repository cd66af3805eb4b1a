// QtUi: the core's face in the window. The core calls it from the operation worker thread (or
// from the window's own thread for short operations such as loading a file); every call is
// carried over to the window's thread in the order it was made. A message box blocks the
// calling worker until the user has answered it on the window's thread.
#pragma once

#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "core/language.h"
#include "core/ui.h"

#include "image/code_buffer.h"
#include "image/serial_number.h"

namespace qmx {
class IspCore;
}  // namespace qmx

namespace qmx::gui {

// What the buffer view needs, copied on the operation's thread when the buffer changed, so
// that the window never reads the buffer while an operation may be writing it.
struct ViewSnapshot {
    CodeBuffer buffer;
    SerialNumberSpec serial;
    bool fromWorker = false;  // taken by a running operation
};

class QtUi : public QObject, public Ui {
    Q_OBJECT
  public:
    explicit QtUi(IspCore& core, QObject* parent = nullptr);

    // Shows a box on the window's thread and returns the answer. The window installs a
    // QMessageBox; tests install their own answerer.
    std::function<BoxAnswer(const MessageBoxRequest&)> boxHandler;

    // The language of the system's texts from the next line on (any thread).
    void setLanguage(Language language);
    Language language() const;
    // One text on its own (a state line, a label) in that language.
    std::string inLanguage(const std::string& text) const;

    void appendMessage(const std::string& line) override;
    void clearMessages() override;
    void replaceMessages(const std::string& text) override;
    BoxAnswer messageBox(const MessageBoxRequest& box) override;
    void beep(int times) override;
    void setButtonState(int state) override;
    void chipAnswered() override;
    void setProgress(int value, int minimum, int maximum, bool visible) override;
    void setKbyteLabel(const std::string& text) override;
    void setOptionPanel(const std::vector<PanelLabel>& labels) override;
    void successCountChanged(const std::string& text) override;
    void bufferChanged() override;

  signals:
    void messageAppended(const QString& line);
    void messagesCleared();
    void messagesReplaced(const QString& text);
    // The success counter as the operation counted it.
    void countChanged(const QString& count);
    void beepRequested(int times);
    void buttonStateChanged(int state);
    void chipAnswerReceived();
    void progressChanged(int value, int minimum, int maximum, bool visible);
    void kbyteLabelChanged(const QString& text);
    void optionPanelChanged(const std::vector<qmx::PanelLabel>& labels);
    void bufferSnapshot(std::shared_ptr<const qmx::gui::ViewSnapshot> snapshot);

  private:
    // Runs f on the window's thread: at once when already there, else queued in call order.
    void post(std::function<void()> f);
    bool onOwnThread() const;

    // The line in the language; nullopt when it is not shown in it.
    std::optional<std::string> shown(const std::string& text);

    IspCore& core_;
    mutable std::mutex languageMutex_;  // the worker and the window both pass lines through
    Localizer localizer_;
};

}  // namespace qmx::gui
