// The chip's status report: its firmware version and option state, fetched with the status
// request and shown as text lines in the message pane and as the option panel's labels.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "core/ui.h"
#include "link/link_context.h"

namespace qmx {

// Version byte 36 → "3.6"; 00 → "" (no version).
std::string versionText(std::uint8_t version);
// int(value × 10 + 0.5) of a version text, reading its leading number ("3.6" → 36).
int versionNumber(const std::string& text);

// Everything the decoders look at.
struct StatusInput {
    std::uint8_t version = 0;
    std::uint8_t option = 0;
    std::string suffix;                 // firmware letter
    std::string identifiedModel;        // may be empty
    std::array<std::uint8_t, 5> ext{};  // E0..E4 (letters D and E)
};

// The text report's lines, in order; sets doubleSpeed for letters A, B and C (untouched
// otherwise).
std::vector<std::string> statusReportLines(const StatusInput& in, bool& doubleSpeed);

// The option panel: 16 labels.
inline constexpr int kPanelLabels = 16;
// Captions of the two hint labels 0 and 15.
extern const char* const kPanelHintTop;
extern const char* const kPanelHintBottom;
std::vector<PanelLabel> resetPanelLabels();
std::vector<PanelLabel> statusPanelLabels(const StatusInput& in);

// Watchdog prescaler from E1: 2^(bits 2..0 + 1).
int watchdogPrescaler(std::uint8_t e1);
// Pin code (97 → "P1.7", B2 → "P3.2"); empty when the code names no pin.
std::string pinName(std::uint8_t code);

// A clock in MHz in its shortest decimal form (11059200 Hz → "11.0592").
std::string clockMHzText(double hz);

// Exchanges and reports over a link.
// The status request; true (and status_read_ok) when the chip answered.
bool read_status(LinkContext& link, bool byteDelays);
// The text report into the message pane; records the firmware version in the facts.
void report_status(LinkContext& link, std::uint8_t version, std::uint8_t option);
void show_status_panel(LinkContext& link, std::uint8_t version, std::uint8_t option);
// Clears the option panel and lets the next status report reach the message pane again.
void reset_status_panel(Ui& ui, ConnectionFacts& facts);

}  // namespace qmx
