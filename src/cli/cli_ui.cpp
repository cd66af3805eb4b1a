#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>

#include <fmt/core.h>

#include "cli/cli_context.h"
#include "link/wire_format.h"

namespace qmx::cli {

namespace {

// The pane joins lines with CR LF and a message may carry several lines itself: plain line
// ends for the terminal.
std::string plainLines(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r') {
            if (i + 1 < text.size() && text[i + 1] == '\n') continue;
            out += '\n';
        } else {
            out += text[i];
        }
    }
    return out;
}

// "hh:mm:ss.mmm " of the wall clock, for -v.
std::string timestamp() {
    const auto now = std::chrono::system_clock::now();
    const std::time_t t = std::chrono::system_clock::to_time_t(now);
    std::tm tm{};
    localtime_r(&t, &tm);
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() %
        1000;
    return fmt::format("{:02}:{:02}:{:02}.{:03} ", tm.tm_hour, tm.tm_min, tm.tm_sec, ms);
}

std::string minutesSeconds(long seconds) {
    if (seconds < 0) seconds = 0;
    return fmt::format("{:02}:{:02}", seconds / 60, seconds % 60);
}

std::string hexBytes(const std::vector<unsigned char>& bytes, std::size_t from, std::size_t to) {
    std::string hex;
    for (std::size_t i = from; i < to && i < bytes.size(); ++i)
        hex += fmt::format(" {:02X}", bytes[i]);
    return hex;
}

}  // namespace

void CliUi::endProgressLine() {
    if (progressShown_) {
        std::fputs("\r\033[K", stderr);
        progressShown_ = false;
    }
}

void CliUi::writeLine(std::FILE* stream, const std::string& text) {
    endProgressLine();
    std::string out = plainLines(text);
    if (verbosity == Verbosity::Verbose) out = timestamp() + out;
    std::fputs(out.c_str(), stream);
    std::fputc('\n', stream);
    std::fflush(stream);
}

void CliUi::appendMessage(const std::string& line) {
    if (verbosity == Verbosity::Quiet) return;
    const std::optional<std::string> shown = localizer_(line);
    if (!shown) return;
    // With JSON results on stdout, the log moves to stderr so that stdout stays parseable.
    writeLine(json ? stderr : stdout, *shown);
}

void CliUi::appendError(const std::string& line) {
    if (const std::optional<std::string> shown = localizer_(line)) writeLine(stderr, *shown);
}

void CliUi::clearMessages() {
    localizer_.reset();
    if (verbosity == Verbosity::Quiet) return;
    std::FILE* stream = json ? stderr : stdout;
    std::fputc('\n', stream);
    std::fflush(stream);
}

BoxAnswer CliUi::messageBox(const MessageBoxRequest& box) {
    ++boxesShown;
    BoxAnswer answer = box.defaultAnswer;
    if (assumeYes && box.buttons == BoxButtons::YesNo) answer = BoxAnswer::Yes;
    // A box is a warning, an error or a question nobody is there to answer: stderr, marked.
    std::string title = box.title.empty() ? std::string() : " " + inLanguage(box.title);
    writeLine(stderr, fmt::format("[box{}] {}", title, plainLines(inLanguage(box.text))));
    if (box.buttons == BoxButtons::YesNo)
        writeLine(stderr, fmt::format("[box] answer: {}", answer == BoxAnswer::Yes ? "Yes" : "No"));
    return answer;
}

void CliUi::setProgress(int value, int minimum, int maximum, bool visible) {
    if (!visible || maximum <= minimum) {
        endProgressLine();
        return;
    }
    const auto now = std::chrono::steady_clock::now();
    int pct = static_cast<int>(100.0 * (value - minimum) / (maximum - minimum));
    pct = std::clamp(pct, 0, 100);
    if (lastPct_ < 0 || pct < lastPct_) {
        progressStart_ = now;  // a new bar
        lastStep_ = -1;
    }
    lastPct_ = pct;
    if (verbosity == Verbosity::Quiet) return;
    const long elapsed =
        std::chrono::duration_cast<std::chrono::seconds>(now - progressStart_).count();
    const std::string written = kbytes_.empty() ? std::string("0K") : kbytes_;
    if (!progressOnTerminal) {
        // A log (CI, a pipe) gets a plain line at every tenth, the first and the last.
        const int step = pct / 10;
        if (step == lastStep_) return;
        lastStep_ = step;
        const std::string line = fmt::format("Programming {:3} %  {}  {} elapsed", step * 10,
                                             written, minutesSeconds(elapsed));
        std::fprintf(stderr, "%s\n", inLanguage(line).c_str());
        std::fflush(stderr);
        return;
    }
    const int filled = pct * 30 / 100;
    std::string bar(static_cast<size_t>(filled), '#');
    bar.resize(30, '.');
    std::string left = "--:--";
    if (pct > 0 && elapsed > 0) left = minutesSeconds(elapsed * (100 - pct) / pct);
    const std::string line = fmt::format("[{}] {:3}%  {}  {} left", bar, pct, written, left);
    std::fprintf(stderr, "\r%s\033[K", inLanguage(line).c_str());
    std::fflush(stderr);
    progressShown_ = true;
}

void CliUi::traceBytes(bool outgoing, const unsigned char* data, std::size_t count) {
    if (count == 0) return;
    if (trace) {
        struct timespec ts;
        clock_gettime(CLOCK_MONOTONIC, &ts);
        std::string hex;
        for (std::size_t i = 0; i < count; ++i)
            hex += fmt::format(" {:02X}", data[i]);
        endProgressLine();
        std::fprintf(stderr, "%ld.%06ld %s%s\n", static_cast<long>(ts.tv_sec), ts.tv_nsec / 1000,
                     outgoing ? ">>" : "<<", hex.c_str());
    }
    if (verbosity != Verbosity::Verbose) return;
    auto& bytes = outgoing ? traceOut_ : traceIn_;
    bytes.insert(bytes.end(), data, data + count);
    traceFrame(outgoing);
}

// Decodes what has gathered in one direction into whole frames: host command frames
// (46 B9 6A, length, command), user-command frames (5A A5), sync blocks (7F, counted, not
// listed one by one) and chip answers (68, length, command). Bytes that start no frame are
// shown as they are.
void CliUi::traceFrame(bool outgoing) {
    auto& bytes = outgoing ? traceOut_ : traceIn_;
    const char* arrow = outgoing ? "->" : "<-";
    auto flushSync = [this] {
        if (syncBlocks_ == 0) return;
        writeLine(stderr, fmt::format("trace -> sync 7F x{}", syncBlocks_));
        syncBlocks_ = 0;
    };
    while (const auto piece = wire::nextTracePiece(bytes, outgoing)) {
        using Kind = wire::TracePiece::Kind;
        std::string what = "bytes";
        if (piece->kind == Kind::Sync) {
            ++syncBlocks_;
        } else if (piece->kind == Kind::Command) {
            what = fmt::format("command {:02X}, {} bytes", piece->code, piece->length);
        } else if (piece->kind == Kind::UserCommand) {
            what = fmt::format("user command {:02X}", piece->code);
        } else if (piece->kind == Kind::Answer) {
            what = fmt::format("answer {:02X}, {} bytes", piece->code, piece->length);
        }
        if (piece->kind != Kind::Sync) {
            flushSync();
            writeLine(stderr, fmt::format("trace {} {}:{}", arrow, what,
                                          hexBytes(bytes, 0, piece->length)));
        }
        bytes.erase(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(piece->length));
    }
}

void CliUi::traceSettings(const std::string& settings) {
    if (verbosity != Verbosity::Verbose) return;
    traceFrame(true);
    if (syncBlocks_ > 0) {
        writeLine(stderr, fmt::format("trace -> sync 7F x{}", syncBlocks_));
        syncBlocks_ = 0;
    }
    // Bytes half gathered at the old rate belong to no frame at the new one.
    traceIn_.clear();
    traceOut_.clear();
    writeLine(stderr, fmt::format("trace == baud change: {}", settings));
}

void CliUi::result(const std::string& jsonObject) {
    if (!json) return;
    endProgressLine();
    std::fputs(jsonObject.c_str(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

IspCore& Context::core() {
    if (!corePtr) {
        corePtr = std::make_unique<IspCore>(&ui);
        SettingsStore& store = corePtr->settings;
        if (!settingsPath.empty()) store.setPath(settingsPath);
        store.load();
        if (!store.warning().empty())
            fmt::print(stderr, "warning: {}\n", ui.inLanguage(store.warning()));
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

namespace {
Language errorLanguage = Language::Both;
}  // namespace

void setErrorLanguage(Language language) {
    errorLanguage = language;
}

void printError(const std::string& text) {
    std::fprintf(stderr, "qmx-isp: %s\n", localize(text, errorLanguage).value_or(text).c_str());
}

void CliUi::detailMessage(const std::string& line) {
    if (verbosity == Verbosity::Verbose) std::fprintf(stderr, "qmx-isp: %s\n", line.c_str());
}

}  // namespace qmx::cli
