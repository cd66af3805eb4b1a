#include "app/qt_ui.h"
#include "app/thread_handoff.h"

#include <QMetaObject>
#include <QThread>

#include "core/isp_core.h"

namespace qmx::gui {

QtUi::QtUi(IspCore& core, QObject* parent) : QObject(parent), core_(core) {
    qRegisterMetaType<std::vector<qmx::PanelLabel>>("std::vector<qmx::PanelLabel>");
    qRegisterMetaType<std::shared_ptr<const qmx::gui::ViewSnapshot>>(
        "std::shared_ptr<const qmx::gui::ViewSnapshot>");
}

bool QtUi::onOwnThread() const {
    return QThread::currentThread() == thread();
}

void QtUi::post(std::function<void()> f) {
    if (onOwnThread())
        f();
    else {
        runOnThreadOf(this, std::move(f));
    }
}

void QtUi::setLanguage(Language language) {
    std::lock_guard<std::mutex> lock(languageMutex_);
    localizer_.setLanguage(language);
}

Language QtUi::language() const {
    std::lock_guard<std::mutex> lock(languageMutex_);
    return localizer_.language();
}

std::string QtUi::inLanguage(const std::string& text) const {
    return localize(text, language()).value_or(text);
}

std::optional<std::string> QtUi::shown(const std::string& text) {
    std::lock_guard<std::mutex> lock(languageMutex_);
    return localizer_(text);
}

void QtUi::appendMessage(const std::string& line) {
    const std::optional<std::string> text = shown(line);
    if (!text) return;
    QString t = QString::fromStdString(*text);
    post([this, t] { emit messageAppended(t); });
}

void QtUi::clearMessages() {
    {
        std::lock_guard<std::mutex> lock(languageMutex_);
        localizer_.reset();
    }
    post([this] { emit messagesCleared(); });
}

BoxAnswer QtUi::messageBox(const MessageBoxRequest& request) {
    MessageBoxRequest box = request;
    box.text = inLanguage(request.text);
    box.title = inLanguage(request.title);
    if (onOwnThread()) return boxHandler ? boxHandler(box) : box.defaultAnswer;
    BoxAnswer answer = box.defaultAnswer;
    // The worker waits here until the window's thread has shown the box and the user has
    // answered; the window never waits for the worker, so this cannot deadlock.
    runOnThreadOf(
        this, [this, &box, &answer] { answer = boxHandler ? boxHandler(box) : box.defaultAnswer; },
        Qt::BlockingQueuedConnection);
    return answer;
}

void QtUi::replaceMessages(const std::string& text) {
    // The whole pane again: read from its start.
    std::string whole;
    {
        std::lock_guard<std::mutex> lock(languageMutex_);
        localizer_.reset();
        whole = localizer_(text).value_or(std::string());
    }
    QString t = QString::fromStdString(whole);
    post([this, t] { emit messagesReplaced(t); });
}

void QtUi::beep(int times) {
    post([this, times] { emit beepRequested(times); });
}

void QtUi::setButtonState(int state) {
    post([this, state] { emit buttonStateChanged(state); });
}

void QtUi::chipAnswered() {
    post([this] { emit chipAnswerReceived(); });
}

void QtUi::setProgress(int value, int minimum, int maximum, bool visible) {
    post([=, this] { emit progressChanged(value, minimum, maximum, visible); });
}

void QtUi::setKbyteLabel(const std::string& text) {
    QString t = QString::fromStdString(text);
    post([this, t] { emit kbyteLabelChanged(t); });
}

void QtUi::setOptionPanel(const std::vector<PanelLabel>& panel) {
    std::vector<PanelLabel> labels = panel;
    for (PanelLabel& label : labels)
        label.text = inLanguage(label.text);
    post([this, labels] { emit optionPanelChanged(labels); });
}

void QtUi::successCountChanged(const std::string& text) {
    QString t = QString::fromStdString(text);
    post([this, t] { emit countChanged(t); });
}

void QtUi::bufferChanged() {
    auto copy = std::make_shared<ViewSnapshot>();
    copy->buffer = core_.buffer;
    copy->serial = core_.serial;
    copy->fromWorker = !onOwnThread();
    std::shared_ptr<const ViewSnapshot> snap = std::move(copy);
    post([this, snap] { emit bufferSnapshot(snap); });
}

}  // namespace qmx::gui
