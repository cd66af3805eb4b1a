#pragma once
// (first draft; the session-driver work replaces this)
#include <atomic>

namespace qmx {

struct SessionState {
    std::atomic<bool> stop_requested{false};
    std::atomic<bool> demo_stop_requested{false};
};

}  // namespace qmx
