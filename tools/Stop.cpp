// velmora stop: hold the hand where it is.
#include <CLI/CLI.hpp>

#include "Subcommands.h"
#include "velmora/Models.h"

namespace velmora {
namespace tools {

namespace {

int runStop(const HandOptions& given, Io& io) {
    HandOptions options = given;
    options.requireAnswer = true;
    HandSession session(options);
    const ByteVector held = holdHand(session);
    io.out << "holding " << models::modelName(session.model()) << " "
           << models::sideName(session.side()) << " on " << session.channel() << " at";
    for (const Labelled& v : meaningful(session.model(), held))
        io.out << " " << v.label << "=" << v.value;
    io.out << "\n";
    return kSuccess;
}

}  // namespace

void addStop(CLI::App& app, Subcommands& commands) {
    auto options = std::make_shared<HandOptions>();
    CLI::App* command = app.add_subcommand(
        "stop", "Hold the hand where it is: command the positions it reports, then read them back");
    addHandOptions(command, *options);
    commands.add(command, [options](Io& io) {
        return guarded("stop", io, [&] { return runStop(*options, io); });
    });
}

}  // namespace tools
}  // namespace velmora
