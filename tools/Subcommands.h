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
void addStop(CLI::App& app, Subcommands& commands);
void addPose(CLI::App& app, Subcommands& commands);

}  // namespace tools
}  // namespace velmora
