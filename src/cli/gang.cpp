// Gang programming: one download (or series) on every port at once. Each port is a station of
// its own, one core and one thread, with its lines prefixed "[PORT]"; the stations share the
// success counter, the serial-number stream and the production log. A table at the end says
// how each port did.
#include <cstdio>
#include <memory>
#include <mutex>

#include <fmt/core.h>

#include "cli/download_support.h"
#include "ops/download_driver.h"
#include "ops/gang.h"
#include "ops/shared_production.h"
#include "settings/settings_keys.h"

namespace qmx::cli {

namespace {

// Whole lines to stdout, one station at a time.
class GangPrinter {
  public:
    void line(std::FILE* to, const std::string& prefix, const std::string& text) {
        std::lock_guard<std::mutex> lock(mutex_);
        for (const std::string& l : paneLines(text))
            fmt::print(to, "{} {}\n", prefix, l);
        std::fflush(to);
    }

  private:
    std::mutex mutex_;
};

// A station's face: every line with its port's prefix; boxes answered as the terminal face
// answers them (--yes or the default button).
class GangUi : public Ui {
  public:
    GangUi(GangPrinter& printer, std::string prefix, const CliUi& options)
        : printer_(printer),
          prefix_(std::move(prefix)),
          options_(options),
          localizer_(options.language()) {}

    void appendMessage(const std::string& line) override {
        if (const std::optional<std::string> shown = localizer_(line))
            printer_.line(stdout, prefix_, *shown);
    }
    void clearMessages() override { localizer_.reset(); }
    BoxAnswer messageBox(const MessageBoxRequest& box) override {
        BoxAnswer answer = box.defaultAnswer;
        if (options_.assumeYes && box.buttons == BoxButtons::YesNo) answer = BoxAnswer::Yes;
        printer_.line(stdout, prefix_ + " [box]", options_.inLanguage(box.text));
        if (box.buttons == BoxButtons::YesNo)
            printer_.line(stdout, prefix_ + " [box]",
                          answer == BoxAnswer::Yes ? "answer: Yes" : "answer: No");
        return answer;
    }
    void detailMessage(const std::string& line) override {
        if (options_.verbosity == Verbosity::Verbose) printer_.line(stderr, prefix_, line);
    }
    void traceBytes(bool outgoing, const unsigned char* data, std::size_t count) override {
        if (!options_.trace || count == 0) return;
        std::string hex;
        for (std::size_t i = 0; i < count; ++i)
            hex += fmt::format(" {:02X}", data[i]);
        printer_.line(stderr, prefix_, (outgoing ? "TX" : "RX") + hex);
    }

  private:
    GangPrinter& printer_;
    std::string prefix_;
    const CliUi& options_;
    Localizer localizer_;
};

struct Station {
    std::string port;  // as given on the command line
    std::unique_ptr<GangUi> face;
    std::unique_ptr<PaneEchoUi> echo;
    std::unique_ptr<IspCore> core;
    Outcome outcome = Outcome::Failed;
};

void printSummary(const std::vector<Station>& stations, const SharedProduction& shared,
                  const CliUi& ui) {
    std::size_t width = 4;
    for (const Station& s : stations)
        width = std::max(width, s.port.size());
    fmt::print("\n{}\n", ui.inLanguage("Gang summary / 多路下载结果:"));
    fmt::print("{:<{}}  {:>6}  {:>6}  {:<12}  {}\n", "port", width, "OK", "failed", "last serial",
               "result");
    for (const Station& s : stations) {
        const SessionState& session = s.core->session;
        const bool ok = s.outcome == Outcome::Ok;
        std::string last = session.last_serial_written;
        while (last.size() > 1 && last.front() == '0')
            last.erase(0, 1);
        fmt::print("{:<{}}  {:>6}  {:>6}  {:<12}  {}\n", s.port, width, session.chips_done,
                   ok ? 0 : 1, last.empty() ? "-" : last, ok ? "OK" : "FAILED");
    }
    const auto unused = shared.unusedSerials();
    if (!unused.empty()) {
        std::string list;
        for (const std::string& v : unused)
            list += (list.empty() ? "" : ", ") + std::to_string(std::stoull(v));
        fmt::print("Serial numbers of failed chips not written into any chip: {}\n", list);
    }
    fmt::print("{}\n",
               ui.inLanguage(fmt::format("Success count / 下载成功计数: {}", shared.okCount())));
    std::fflush(stdout);
}

}  // namespace

int runGang(Context& ctx, const DownloadSetup& setup, const std::vector<std::string>& ports) {
    GangPrinter printer;
    std::shared_ptr<ProductionLog> log;
    if (!setup.logFile.empty()) {
        log = std::make_shared<ProductionLog>();
        if (const std::string error = log->open(setup.logFile); !error.empty()) {
            printError(error);
            return kExitBadInput;
        }
    }

    std::vector<Station> stations(ports.size());
    for (std::size_t i = 0; i < ports.size(); ++i) {
        Station& s = stations[i];
        s.port = ports[i];
        s.face = std::make_unique<GangUi>(printer, "[" + ports[i] + "]", ctx.ui);
        s.echo = std::make_unique<PaneEchoUi>(*s.face);
        s.core = std::make_unique<IspCore>(s.echo.get());
        s.core->productionLog = log;
        DownloadSetup mine = setup;
        mine.port = ports[i];
        if (const int prepared = prepareCore(*s.core, mine); prepared >= 0) return prepared;
        const StoredSettings saved = loadStoredSettings(s.core->settings);
        DownloadChoices& choices = s.core->download;
        choices.reloadFile = setup.reload;
        choices.seriesDelayRow = 9 - setup.delaySeconds;
        choices.seriesLimit = setup.count;
        choices.beepOnSuccess = false;  // several stations beeping at once tell nobody anything
        choices.writeOkCount = saved.writeOkCount;
        choices.refuseBadRecords = !setup.assumeYes;
    }

    // One store for what the stations share, so that no station's save undoes another's.
    SettingsStore sharedStore;
    const IspCore& first = *stations.front().core;
    sharedStore.open(first.settings.path());
    auto shared =
        std::make_shared<SharedProduction>(sharedStore, first.download.writeOkCount, first.serial);
    std::vector<IspCore*> cores;
    for (Station& s : stations)
        cores.push_back(s.core.get());
    installStopHandler(cores);

    const std::vector<OpResult> results = run_gang(cores, setup.series ? 1 : 0, *shared);
    for (std::size_t i = 0; i < stations.size(); ++i)
        stations[i].outcome = results[i].outcome;

    printSummary(stations, *shared, ctx.ui);
    const int firstCode = exitFor(stations.front().outcome);
    for (const Station& s : stations)
        if (exitFor(s.outcome) != firstCode) return kExitFailed;
    return firstCode;
}

}  // namespace qmx::cli
