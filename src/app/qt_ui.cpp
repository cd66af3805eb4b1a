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

void QtUi::appendMessage(const std::string& line) {
    QString text = QString::fromStdString(line);
    post([this, text] { emit messageAppended(text); });
}

void QtUi::clearMessages() {
    post([this] { emit messagesCleared(); });
}

BoxAnswer QtUi::messageBox(const MessageBoxRequest& box) {
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
    QString t = QString::fromStdString(text);
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

void QtUi::setOptionPanel(const std::vector<PanelLabel>& labels) {
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
