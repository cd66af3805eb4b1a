// How an operation ended. The handshake, the connect step, programming, the option step and a
// whole download session each return one, so the caller decides what comes next from the
// value it gets back, never from flags read afterwards. The step that failed has already told
// the user; `message` repeats its closing line for faces that keep a log or an exit status.
#pragma once

#include <string>
#include <utility>

namespace qmx {

enum class Outcome {
    Ok,        // everything asked for was done
    Failed,    // the chip or the line did not do what was asked (reported)
    Stopped,   // the user pressed Stop (or sent SIGINT)
    PortLost,  // the port could not be opened or vanished underneath the operation
    NoFile,    // nothing loaded to program
    BadInput,  // the image or a parameter was refused before anything was sent
};

struct OpResult {
    Outcome outcome = Outcome::Ok;
    std::string message;

    static OpResult success() { return {}; }
    static OpResult failed(std::string text = {}) { return {Outcome::Failed, std::move(text)}; }
    static OpResult stopped() { return {Outcome::Stopped, {}}; }
    static OpResult portLost(std::string text = {}) { return {Outcome::PortLost, std::move(text)}; }

    bool ok() const { return outcome == Outcome::Ok; }
    bool stopped_by_user() const { return outcome == Outcome::Stopped; }
    bool port_lost() const { return outcome == Outcome::PortLost; }
};

}  // namespace qmx
