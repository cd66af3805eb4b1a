// A Ui that records everything the core shows, for tests.
#pragma once

#include <deque>
#include <string>
#include <vector>

#include "core/ui.h"

namespace qmx::test {

class RecordingUi : public Ui {
  public:
    std::vector<std::string> lines;         // every appended message line, in order
    std::vector<MessageBoxRequest> boxes;   // every message box raised
    std::deque<BoxAnswer> scriptedAnswers;  // answers to give, in order; then the default
    std::vector<int> buttonStates;
    std::vector<int> beeps;
    std::vector<PanelLabel> panel;
    std::string kbyteLabel;
    int clears = 0;
    int bufferChanges = 0;

    void appendMessage(const std::string& line) override { lines.push_back(line); }
    void clearMessages() override { ++clears; }
    BoxAnswer messageBox(const MessageBoxRequest& box) override {
        boxes.push_back(box);
        if (scriptedAnswers.empty()) return box.defaultAnswer;
        BoxAnswer a = scriptedAnswers.front();
        scriptedAnswers.pop_front();
        return a;
    }
    void beep(int times) override { beeps.push_back(times); }
    void setButtonState(int state) override { buttonStates.push_back(state); }
    void setKbyteLabel(const std::string& text) override { kbyteLabel = text; }
    void setOptionPanel(const std::vector<PanelLabel>& labels) override { panel = labels; }
    void bufferChanged() override { ++bufferChanges; }

    // True when some recorded line contains `needle`.
    bool saw(const std::string& needle) const {
        for (const auto& l : lines)
            if (l.find(needle) != std::string::npos) return true;
        return false;
    }
};

}  // namespace qmx::test
