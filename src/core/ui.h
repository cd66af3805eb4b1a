// The face the core talks to: the Qt window, the command line, or a test's recorder.
// The core never prints and never touches a GUI toolkit; everything the user sees goes
// through this interface. Every method has a harmless default so that a face (or a test
// fake) implements only what it shows.
#pragma once

#include <string>
#include <vector>

namespace qmx {

enum class BoxButtons { Ok, YesNo };
enum class BoxAnswer { Ok, Yes, No };
enum class BoxIcon { None, Information, Question, Exclamation, Critical };

struct MessageBoxRequest {
    std::string text;
    std::string title;
    BoxButtons buttons = BoxButtons::Ok;
    BoxAnswer defaultAnswer = BoxAnswer::Ok;
    BoxIcon icon = BoxIcon::None;
};

// One label of the option panel (`LabLock(i)`): caption text and whether it is shown.
struct PanelLabel {
    std::string text;
    bool visible = false;
    bool enabled = false;
};

class Ui {
  public:
    virtual ~Ui() = default;

    // Message pane: one appended line (the pane itself joins lines with CR LF).
    virtual void appendMessage(const std::string& line) {}
    virtual void clearMessages() {}
    // A line that reports a failure (and the advice that goes with it): a pane line like any
    // other; a face with a separate error stream (the command line) writes it there.
    virtual void appendError(const std::string& line) { appendMessage(line); }
    // The whole pane text replaced at once (the series countdown rewrites its last lines);
    // a face that can show only appended lines prints what is new.
    virtual void replaceMessages(const std::string& text) {
        clearMessages();
        appendMessage(text);
    }

    // A modal question or notice; returns the answer (a face without a user answers with
    // the default button).
    virtual BoxAnswer messageBox(const MessageBoxRequest& box) { return box.defaultAnswer; }

    // n system beeps, spaced by the face.
    virtual void beep(int times) {}

    // Button state number as the session driver defines it (busy, identified, idle, ready).
    virtual void setButtonState(int state) {}

    // The chip's boot loader answered the synchronisation: the station stops waiting for the
    // chip to be powered and goes on connecting to it.
    virtual void chipAnswered() {}

    // Progress bar and kilobyte label; visible=false hides the bar.
    virtual void setProgress(int value, int minimum, int maximum, bool visible) {}
    virtual void setKbyteLabel(const std::string& text) {}

    // The option panel labels, index 0..15.
    virtual void setOptionPanel(const std::vector<PanelLabel>& labels) {}

    // The success counter `txtWrite_OK_Count` has a new text (after a good chip or a clear).
    virtual void successCountChanged(const std::string& text) {}

    // The code buffer changed; the dump view must be rebuilt.
    virtual void bufferChanged() {}

    // A line for the detailed log only (the command line's -v): facts about the port and the
    // line that a user needs only when looking into a problem.
    virtual void detailMessage(const std::string& line) {}

    // Wire trace: every byte sent (outgoing=true) or received, for --trace.
    virtual void traceBytes(bool outgoing, const unsigned char* data, std::size_t count) {}
    // The port's line settings changed ("115200,n,8,1"): marks a baud change in a byte trace.
    virtual void traceSettings(const std::string& settings) {}
};

}  // namespace qmx
