// quavermill-cli: the terminal front end over the same job engine as the
// window.
#include <CLI/CLI.hpp>

#include <cstdio>

#include "core/Diagnostics.h"

int main(int argc, char** argv) {
    g_FunctionTracer.Init(10, 20);
    CLI::App app{"Quavermill: grabs the tracks of audio CDs and disc images into audio files.",
                 "quavermill-cli"};
    app.set_version_flag("--version", "quavermill-cli 0.1.0");
    app.require_subcommand(0, 1);
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        return app.exit(e) == 0 ? 0 : 2;
    }
    if (app.get_subcommands().empty()) {
        std::fputs(app.help().c_str(), stdout);
    }
    return 0;
}
