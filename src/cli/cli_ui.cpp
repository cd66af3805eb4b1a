#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include <fmt/core.h>

#include "cli/cli_context.h"

namespace qmx::cli {

void CliUi::appendMessage(const std::string& line) {
    if (progressShown_) {
        std::fputs("\r\033[K", stderr);
        progressShown_ = false;
    }
    // The pane joins lines with CR LF; a message may carry several lines itself.
    std::string out;
    out.reserve(line.size());
    for (size_t i = 0; i < line.size(); ++i) {
        if (line[i] == '\r' && i + 1 < line.size() && line[i + 1] == '\n') continue;
        out += line[i];
    }
    std::fputs(out.c_str(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

void CliUi::clearMessages() {
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

BoxAnswer CliUi::messageBox(const MessageBoxRequest& box) {
    ++boxesShown;
    BoxAnswer answer = box.defaultAnswer;
    if (assumeYes && box.buttons == BoxButtons::YesNo) answer = BoxAnswer::Yes;
    // The box's CR LF line breaks become plain line ends; no blank is left behind on a line.
    std::string text;
    text.reserve(box.text.size());
    for (size_t i = 0; i < box.text.size(); ++i) {
        const char c = box.text[i];
        if (c == '\r') {
            if (i + 1 < box.text.size() && box.text[i + 1] == '\n') continue;
            text += '\n';
        } else {
            text += c;
        }
    }
    std::string title = box.title.empty() ? std::string() : " " + box.title;
    fmt::print("[box{}] {}\n", title, text);
    if (box.buttons == BoxButtons::YesNo)
        fmt::print("[box] answer: {}\n", answer == BoxAnswer::Yes ? "Yes" : "No");
    std::fflush(stdout);
    return answer;
}

void CliUi::setProgress(int value, int minimum, int maximum, bool visible) {
    if (!progressOnTerminal) return;
    if (!visible || maximum <= minimum) {
        if (progressShown_) std::fputs("\r\033[K", stderr);
        progressShown_ = false;
        return;
    }
    int pct = static_cast<int>(100.0 * (value - minimum) / (maximum - minimum));
    if (pct < 0) pct = 0;
    if (pct > 100) pct = 100;
    int filled = pct * 40 / 100;
    std::string bar(static_cast<size_t>(filled), '#');
    bar.resize(40, '.');
    std::fprintf(stderr, "\r[%s] %3d%%", bar.c_str(), pct);
    std::fflush(stderr);
    progressShown_ = true;
}

void CliUi::traceBytes(bool outgoing, const unsigned char* data, std::size_t count) {
    if (!trace || count == 0) return;
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    std::string hex;
    for (std::size_t i = 0; i < count; ++i)
        hex += fmt::format(" {:02X}", data[i]);
    std::fprintf(stderr, "%ld.%06ld %s%s\n", static_cast<long>(ts.tv_sec), ts.tv_nsec / 1000,
                 outgoing ? ">>" : "<<", hex.c_str());
}

IspCore& Context::core() {
    if (!corePtr) {
        ui.progressOnTerminal = isatty(STDERR_FILENO);
        corePtr = std::make_unique<IspCore>(&ui);
        SettingsStore& store = corePtr->settings;
        if (!settingsPath.empty()) store.setPath(settingsPath);
        store.load();
        if (!store.warning().empty()) fmt::print(stderr, "warning: {}\n", store.warning());
    }
    return *corePtr;
}

bool parseHex(const std::string& text, long& value) {
    std::string t;
    for (char c : text)
        if (c != ' ' && c != '\t') t += c;
    if (t.size() > 2 && (t[0] == '0') && (t[1] == 'x' || t[1] == 'X')) t = t.substr(2);
    if (!t.empty() && (t.back() == 'h' || t.back() == 'H')) t.pop_back();
    if (t.empty() || t.size() > 8) return false;
    for (char c : t)
        if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
    value = std::strtol(t.c_str(), nullptr, 16);
    return true;
}

bool parseHexInRange(const std::string& name, const std::string& text, long min, long max,
                     long& value) {
    if (!parseHex(text, value)) {
        fmt::print(stderr, "qmx-isp: {} wants a hexadecimal number: {}\n", name, text);
        return false;
    }
    if (value < min || value > max) {
        fmt::print(stderr, "qmx-isp: {} must be {:X} ... {:X} (hexadecimal): {}\n", name, min, max,
                   text);
        return false;
    }
    return true;
}

}  // namespace qmx::cli

namespace qmx::cli {

void CliUi::detailMessage(const std::string& line) {
    if (verbose) std::fprintf(stderr, "qmx-isp: %s\n", line.c_str());
}

}  // namespace qmx::cli
