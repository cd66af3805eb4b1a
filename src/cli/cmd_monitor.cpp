// qmx-isp softice and debug: write the emulation monitor into a chip, and show what a chip
// running it reports over the debug port.
#include <cstdio>
#include <string>

#include <fmt/core.h>

#include "catalogue/model_catalogue.h"
#include "cli/cli_context.h"
#include "monitor/debug_port.h"
#include "monitor/debug_views.h"
#include "monitor/softice.h"

namespace qmx::cli {

namespace {

const char* viewName(DebugView v) {
    switch (v) {
        case DebugView::Sfr:
            return "sfr";
        case DebugView::Idata:
            return "idata";
        case DebugView::Xdata:
            return "xdata";
        default:
            return "window";
    }
}

std::string jsonString(const std::string& s) {
    std::string out = "\"";
    for (char c : s) {
        if (c == '"' || c == '\\') out += '\\';
        out += c;
    }
    return out + "\"";
}

// One report as JSON: the register values (null where the report gave none), or the changed
// memory lines with the address of each.
std::string reportJson(const DebugViews& views, const ReportEffect& e) {
    std::string out = fmt::format("{{\"report\":\"{}\"", viewName(e.view));
    if (e.view == DebugView::Sfr) {
        out += ",\"registers\":[";
        bool first = true;
        for (const SfrRow& r : views.sfrRows()) {
            const int v = views.sfrValue(r.address);
            out += fmt::format("{}{{\"address\":\"{:02X}\",\"name\":{},\"value\":{}}}",
                               first ? "" : ",", r.address, jsonString(r.name),
                               v == kNoValue ? std::string("null") : std::to_string(v));
            first = false;
        }
        return out + "]}";
    }
    if (e.view == DebugView::Window) out += fmt::format(",\"base\":\"{:04X}\"", views.windowBase());
    out += ",\"lines\":[";
    const auto& lines = views.lines(e.view);
    for (std::size_t i = 0; i < e.changedLines.size(); ++i)
        out += (i ? "," : "") + jsonString(lines[static_cast<std::size_t>(e.changedLines[i])]);
    return out + "]}";
}

void printReport(const DebugViews& views, const ReportEffect& e, bool json) {
    if (json) {
        std::printf("%s\n", reportJson(views, e).c_str());
    } else if (e.view == DebugView::Sfr) {
        std::printf("[sfr]\n");
        for (const auto& l : views.sfrLines())
            std::printf("%s\n", l.c_str());
    } else if (!e.changedLines.empty()) {
        std::printf("[%s]\n", viewName(e.view));
        const auto& lines = views.lines(e.view);
        for (int i : e.changedLines)
            std::printf("%s\n", lines[static_cast<std::size_t>(i)].c_str());
    }
    std::fflush(stdout);
}

}  // namespace

Runner registerSoftIce(CLI::App& app, Context& ctx) {
    struct Args {
        std::string port, model, monitorDir;
    };
    auto args = std::make_shared<Args>();
    CLI::App* sub = app.add_subcommand(
        "softice",
        "Write the emulation monitor into the chip and start it (the chip's download boot code "
        "is erased; both questions need --yes)");
    sub->add_option("--port", args->port, "Serial port device path")->required();
    sub->add_option("--model", args->model, "Selected model (a monitor-capable one)")->required();
    sub->add_option("--monitor-dir", args->monitorDir,
                    "Folder holding QMX2000.rom and the model's monitor file (looked for first; "
                    "then beside the program, then in the installed share/qmx-isp/monitor)");
    return [args, &ctx]() -> int {
        const ModelEntry* model = lookupModel(args->model);
        if (!model) return kExitBadInput;
        IspCore& core = ctx.core();
        core.model = model;
        core.portPath = args->port;
        installStopHandler(core);
        return exitFor(downloadSoftIce(core, args->monitorDir));
    };
}

Runner registerDebug(CLI::App& app, Context& ctx) {
    struct Args {
        std::string port, settings = "38400,N,8,1", format = "text", model;
        bool continueRun = false;
    };
    auto args = std::make_shared<Args>();
    CLI::App* sub = app.add_subcommand(
        "debug",
        "Open the debug port and print each report of a chip running the monitor as it arrives "
        "(the registers, then the memory lines that changed) until Ctrl-C");
    sub->add_option("--port", args->port, "Serial port device path")->required();
    sub->add_option("--debug-settings", args->settings,
                    "Baud, parity, data bits, stop bits (default 38400,N,8,1)");
    sub->add_option("--format", args->format, "text or json (one object per report)")
        ->check(CLI::IsMember({"text", "json"}));
    sub->add_option("--model", args->model,
                    "Model whose register list to show (default: the 8051 core registers)");
    sub->add_flag("--continue", args->continueRun, "Tell a paused program to go on (T) first");
    return [args, &ctx]() -> int {
        DebugViews views;
        if (!args->model.empty()) {
            const ModelEntry* model = lookupModel(args->model);
            if (!model) return kExitBadInput;
            views.setSfrRows(sfrRowsFor(model->family));
        }
        IspCore& core = ctx.core();
        installStopHandler(core);
        DebugPortRequest request;
        request.portPath = args->port;
        request.settings = args->settings;
        request.continueAtStart = args->continueRun;
        DebugPortControl control;
        DebugPortEvents events;
        const bool json = args->format == "json";
        events.report = [json](const DebugViews& v, const ReportEffect& e) {
            printReport(v, e, json);
        };
        const SessionOutcome outcome = runDebugPort(core, request, views, control, events);
        return exitFor(outcome);
    };
}

}  // namespace qmx::cli
