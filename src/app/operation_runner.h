// OperationRunner: the one worker thread on which the window runs the core's long operations
// (download, read options, ...). The window's thread never waits for it; it learns of the end
// through the finished() signal. Only one operation runs at a time.
#pragma once

#include <QObject>
#include <QThread>

#include <functional>

namespace qmx::gui {

class OperationRunner : public QObject {
    Q_OBJECT
  public:
    explicit OperationRunner(QObject* parent = nullptr);
    ~OperationRunner() override;

    // Starts `operation` on the worker; false (and nothing started) while another runs.
    bool start(std::function<void()> operation);
    bool busy() const { return busy_; }

  signals:
    void started();
    void finished();

  private:
    QThread thread_;
    QObject* worker_;
    bool busy_ = false;
};

}  // namespace qmx::gui
