#pragma once

// Each subcommand registers its options and its runner on the command line.

#include "Common.h"

namespace velmora {
namespace tools {

void addDemo(CLI::App& app, Subcommands& commands);
void addSim(CLI::App& app, Subcommands& commands);
void addInfo(CLI::App& app, Subcommands& commands);
void addState(CLI::App& app, Subcommands& commands);
void addMove(CLI::App& app, Subcommands& commands);
void addMonitor(CLI::App& app, Subcommands& commands);
void addRecord(CLI::App& app, Subcommands& commands);
void addDecode(CLI::App& app, Subcommands& commands);
void addReplay(CLI::App& app, Subcommands& commands);
void addScan(CLI::App& app, Subcommands& commands);
void addInterfaces(CLI::App& app, Subcommands& commands);
void addUi(CLI::App& app, Subcommands& commands);
void addStop(CLI::App& app, Subcommands& commands);
void addPose(CLI::App& app, Subcommands& commands);

/// velmora --man-pages DIRECTORY (a page per subcommand) and --bash-completion, from the
/// subcommands' own help.
int writeHelpFiles(const CLI::App& app, const std::vector<std::string>& args, std::ostream& out,
                   std::ostream& err);

}  // namespace tools
}  // namespace velmora
