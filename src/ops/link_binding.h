// How the core drives the link layer: the channel wired to the core (byte trace and lost-port
// messages to the face, waits to the session's stop flag, the port path from the port
// choice), the link's view of the core's choices, and a face that keeps every message line of
// the link in the core's message pane as well.
#pragma once

#include "core/isp_core.h"
#include "link/link_context.h"

namespace qmx {

// Cheap; every entry point that talks to the chip calls it.
void bind_channel(IspCore& core);

// The model, port, rate limit and watchdog-pin choice as the link takes them.
LinkChoices linkChoices(const IspCore& core);

// The core's face for the link: message lines go through IspCore::message (pane and face),
// everything else straight to the face the core has now.
class PaneUi final : public Ui {
  public:
    explicit PaneUi(IspCore& core) : core_(core) {}
    void appendMessage(const std::string& line) override { core_.message(line); }
    void appendError(const std::string& line) override { core_.error(line); }
    void clearMessages() override { core_.clearMessages(); }
    void replaceMessages(const std::string& text) override { core_.ui().replaceMessages(text); }
    BoxAnswer messageBox(const MessageBoxRequest& box) override {
        return core_.ui().messageBox(box);
    }
    void beep(int times) override { core_.ui().beep(times); }
    void setButtonState(int state) override { core_.ui().setButtonState(state); }
    void setProgress(int value, int minimum, int maximum, bool visible) override {
        core_.ui().setProgress(value, minimum, maximum, visible);
    }
    void setKbyteLabel(const std::string& text) override { core_.ui().setKbyteLabel(text); }
    void setOptionPanel(const std::vector<PanelLabel>& labels) override {
        core_.ui().setOptionPanel(labels);
    }
    void successCountChanged(const std::string& text) override {
        core_.ui().successCountChanged(text);
    }
    void bufferChanged() override { core_.ui().bufferChanged(); }
    void detailMessage(const std::string& line) override { core_.ui().detailMessage(line); }
    void traceBytes(bool outgoing, const unsigned char* data, std::size_t count) override {
        core_.ui().traceBytes(outgoing, data, count);
    }
    void traceSettings(const std::string& settings) override { core_.ui().traceSettings(settings); }

  private:
    IspCore& core_;
};

// A link context over the core's channel and facts, reporting through a PaneUi.
class CoreLink {
  public:
    explicit CoreLink(IspCore& core)
        : ui_(core), ctx_{core.channel, core.facts, ui_, linkChoices(core)} {}
    CoreLink(const CoreLink&) = delete;
    CoreLink& operator=(const CoreLink&) = delete;

    LinkContext& context() { return ctx_; }

  private:
    PaneUi ui_;
    LinkContext ctx_;
};

}  // namespace qmx
