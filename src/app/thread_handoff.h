// Running a function on the thread of a Qt object: the one way the window's worker hands
// lines, states and results to the window's thread (and the window hands operations to the
// worker).
//
// Qt's event queue orders the hand-off: everything the sending thread did before the call is
// seen by the function. A ThreadSanitizer build cannot see that order, because the Qt
// libraries of the distribution are not built with it and their locks are invisible to it;
// every hand-off would show up as a race. In such a build the function travels in a wrapper
// that tells ThreadSanitizer exactly the order the queue guarantees (the sender's work before
// the function; for a blocking call, the function before the caller goes on) and no more. In
// other builds the function is queued as it is.
#pragma once

#include <QMetaObject>
#include <QObject>

#include <utility>

#if defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define QMX_THREAD_SANITIZER 1
#endif
#endif
#if defined(__SANITIZE_THREAD__)
#define QMX_THREAD_SANITIZER 1
#endif

#ifdef QMX_THREAD_SANITIZER
#include <sanitizer/tsan_interface.h>
#endif

namespace qmx::gui {

#ifdef QMX_THREAD_SANITIZER
// The function on its way through the queue. Every copy or move releases at its own address
// once it is complete, so the last one (into the queue's own storage) covers everything the
// receiving thread will read; running it acquires at that address first, and releases at
// `done` (the blocked caller's mark) when it has run.
template <class F>
class Handoff {
  public:
    Handoff(F f, void* done) : f_(std::move(f)), done_(done) { __tsan_release(this); }
    Handoff(const Handoff& o) : f_(o.f_), done_(o.done_) { __tsan_release(this); }
    Handoff(Handoff&& o) noexcept : f_(std::move(o.f_)), done_(o.done_) { __tsan_release(this); }
    Handoff& operator=(const Handoff&) = delete;
    Handoff& operator=(Handoff&&) = delete;
    ~Handoff() = default;

    void operator()() {
        __tsan_acquire(this);
        f_();
        if (done_) __tsan_release(done_);
    }

  private:
    F f_;
    void* done_;
};
#endif

// Queues `f` to run on `target`'s thread; with Qt::BlockingQueuedConnection the caller waits
// until it has run.
template <class F>
void runOnThreadOf(QObject* target, F f, Qt::ConnectionType type = Qt::QueuedConnection) {
#ifdef QMX_THREAD_SANITIZER
    char done = 0;
    const bool blocking = type == Qt::BlockingQueuedConnection;
    QMetaObject::invokeMethod(target, Handoff<F>(std::move(f), blocking ? &done : nullptr), type);
    if (blocking) __tsan_acquire(&done);
#else
    QMetaObject::invokeMethod(target, std::move(f), type);
#endif
}

}  // namespace qmx::gui
