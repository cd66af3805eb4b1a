#include "app/operation_runner.h"
#include "app/thread_handoff.h"

#include <QMetaObject>

namespace qmx::gui {

OperationRunner::OperationRunner(QObject* parent) : QObject(parent), worker_(new QObject) {
    thread_.setObjectName(QStringLiteral("qmx-operation"));
    worker_->moveToThread(&thread_);
    connect(&thread_, &QThread::finished, worker_, &QObject::deleteLater);
    thread_.start();
}

OperationRunner::~OperationRunner() {
    thread_.quit();
    thread_.wait();
}

bool OperationRunner::start(std::function<void()> operation) {
    if (busy_) return false;
    busy_ = true;
    emit started();
    runOnThreadOf(worker_, [this, op = std::move(operation)] {
        op();
        runOnThreadOf(this, [this] {
            busy_ = false;
            emit finished();
        });
    });
    return true;
}

}  // namespace qmx::gui
