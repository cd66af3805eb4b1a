// qmx-isp: the command line over the QMX-ISP core.
#include <CLI/CLI.hpp>

#include <cstdio>
#include <iostream>
#include <map>

#include "cli/cli_context.h"

int main(int argc, char** argv) {
    using namespace qmx::cli;
    CLI::App app{"QMX-ISP: in-system programmer for QMX 8051-family microcontrollers", "qmx-isp"};
    app.require_subcommand(1);
    app.set_version_flag("--version", "qmx-isp Ver:3.1");

    Context ctx;
    app.add_option("--settings", ctx.settingsPath,
                   "Settings file (default $XDG_CONFIG_HOME/qmx-isp/settings.ini)");
    app.add_flag("--trace", ctx.trace, "Dump every byte sent and received on stderr");
    app.add_flag("-v,--verbose", ctx.verbose,
                 "Details for looking into a problem (on stderr), such as whether the port's "
                 "low-latency mode could be set");
    app.add_flag("--yes", ctx.yes,
                 "Answer Yes to every question; also program (download) or save a file whose "
                 "load was not sound: bad HEX records, no HEX data or end record, or (download) "
                 "content that does not fit the model");

    std::map<CLI::App*, Runner> runners;
    for (const Registrar& reg :
         {Registrar(registerModels), Registrar(registerOptions), Registrar(registerImage),
          Registrar(registerSave), Registrar(registerPorts), Registrar(registerReadOptions),
          Registrar(registerConnect), Registrar(registerDownload), Registrar(registerDemo),
          Registrar(registerOfflineBoard), Registrar(registerSoftIce), Registrar(registerDebug),
          Registrar(registerIspDemo)}) {
        size_t before = app.get_subcommands({}).size();
        Runner run = reg(app, ctx);
        auto subs = app.get_subcommands({});
        if (subs.size() > before) runners[subs.back()] = std::move(run);
    }

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        int rc = app.exit(e);
        return rc == 0 ? kExitOk : kExitBadInput;
    }
    ctx.ui.assumeYes = ctx.yes;
    ctx.ui.trace = ctx.trace;
    ctx.ui.verbose = ctx.verbose;
    for (auto& [sub, run] : runners) {
        if (sub->parsed()) {
            int rc = run();
            std::fflush(stdout);
            return rc;
        }
    }
    return kExitBadInput;
}
