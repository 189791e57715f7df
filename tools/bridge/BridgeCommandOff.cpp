// The `bridge` subcommand of a velmora built without DDS.
#include <CLI/CLI.hpp>

#include "BridgeCommand.h"

namespace velmora {
namespace bridge {

struct BridgeCommand::Parsed {
    CLI::App* command = nullptr;
};

BridgeCommand::BridgeCommand(CLI::App& app) : parsed_(std::make_unique<Parsed>()) {
    parsed_->command = app.add_subcommand(
        "bridge", "ROS 2 bridge over DDS (not in this build: it needs Cyclone DDS)");
    parsed_->command->allow_extras();
}

BridgeCommand::~BridgeCommand() = default;

bool BridgeCommand::chosen() const {
    return parsed_->command->parsed();
}

int BridgeCommand::run(std::ostream&, std::ostream& err, const std::atomic<bool>&) const {
    err << "velmora bridge: this velmora was built without DDS; install cyclonedds-dev and "
           "cyclonedds-tools and configure with -DVELMORA_BUILD_DDS=ON\n";
    return 1;
}

}  // namespace bridge
}  // namespace velmora
