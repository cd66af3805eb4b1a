// qmx-isp: the command line over the QMX-ISP core.
#include <unistd.h>

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
    app.add_flag("--yes", ctx.yes,
                 "Answer Yes to every question; also program (download) or save a file whose "
                 "load was not sound: bad HEX records, no HEX data or end record, or (download) "
                 "content that does not fit the model");

    auto* quiet = app.add_flag("-q,--quiet", ctx.quiet, "Print errors only");
    app.add_flag("-v,--verbose", ctx.verbose,
                 "Timestamp every line and trace the frames sent and received (decoded, with "
                 "every baud change marked) on stderr")
        ->excludes(quiet);
    app.add_option("--format", ctx.format,
                   "text (default) or json: one JSON object per result on stdout (connect, "
                   "read-options, each chip of a download, image); the log then goes to stderr")
        ->check(CLI::IsMember({"text", "json"}));
    app.add_option("--lang", ctx.lang,
                   "Language of the log and messages: both (English and Chinese, as the texts "
                   "stand), en or zh. Default: zh when LC_ALL, LC_MESSAGES or LANG starts with "
                   "zh, else both")
        ->check(CLI::IsMember({"both", "en", "zh"}));

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
    ctx.ui.progressOnTerminal = isatty(STDERR_FILENO);
    ctx.ui.verbosity = ctx.quiet     ? Verbosity::Quiet
                       : ctx.verbose ? Verbosity::Verbose
                                     : Verbosity::Normal;
    ctx.ui.json = ctx.format == "json";
    ctx.ui.setLanguage(ctx.lang.empty()
                           ? qmx::languageFromEnvironment()
                           : qmx::parseLanguage(ctx.lang).value_or(qmx::Language::Both));
    setErrorLanguage(ctx.ui.language());
    for (auto& [sub, run] : runners) {
        if (sub->parsed()) {
            int rc = run();
            std::fflush(stdout);
            return rc;
        }
    }
    return kExitBadInput;
}
