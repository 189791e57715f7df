// The `ui` subcommand of a velmora built without cpp-httplib.
#include <CLI/CLI.hpp>

#include "Subcommands.h"

namespace velmora {
namespace tools {

void addUi(CLI::App& app, Subcommands& commands) {
    CLI::App* command =
        app.add_subcommand("ui", "Web page of the hand (not in this build: it needs cpp-httplib)");
    command->allow_extras();
    commands.add(command, [](Io& io) {
        io.err << "velmora ui: this velmora was built without cpp-httplib; install "
                  "libcpp-httplib-dev and pkgconf and configure again\n";
        return static_cast<int>(kHandFailed);
    });
}

}  // namespace tools
}  // namespace velmora
