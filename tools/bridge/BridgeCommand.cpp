#include "BridgeCommand.h"

#include <CLI/CLI.hpp>

#include "Bridge.h"
#include "velmora/Models.h"
#include "velmora/sim/SimulatedHand.h"

namespace velmora {
namespace bridge {

struct BridgeCommand::Parsed {
    CLI::App* command = nullptr;
    std::string model, side;
    BridgeOptions options;
};

BridgeCommand::BridgeCommand(CLI::App& app) : parsed_(std::make_unique<Parsed>()) {
    Parsed& p = *parsed_;
    p.command = app.add_subcommand(
        "bridge",
        "Publish a hand's joint states and diagnostics as ROS 2 topics over DDS, and "
        "take joint commands from the network, until interrupted");
    p.command->add_option("--model,-m", p.model, "Hand model: marlo, tovin, ravel, sabre or zenit")
        ->required()
        ->check(CLI::Validator(
            [](std::string& v) -> std::string {
                return models::modelFromName(v)
                           ? ""
                           : "unknown model '" + v +
                                 "': choose marlo, tovin, ravel, sabre or zenit";
            },
            "MODEL"));
    p.command->add_option("--side,-s", p.side, "left or right")
        ->required()
        ->check(CLI::Validator(
            [](std::string& v) -> std::string {
                return models::sideFromName(v) ? ""
                                               : "unknown side '" + v + "': choose left or right";
            },
            "SIDE"));
    p.command->add_option("--channel,-c", p.options.channel,
                          "The hand's CAN interface (can0, ...), or virtual:NAME in this process "
                          "(with --sim: virtual:can-bridge-SIDE unless given)");
    p.command->add_option("--namespace,-n", p.options.ns,
                          "ROS namespace of the hand's topics (NS/joint_states, "
                          "NS/joint_commands); default: MODEL_SIDE");
    p.command->add_option("--rate,-r", p.options.rate, "Joint states per second")
        ->check(CLI::Range(0.1, 1000.0));
    p.command->add_option("--domain,-d", p.options.domain, "DDS domain (ROS_DOMAIN_ID)")
        ->check(CLI::Range(0, 232));
    p.command
        ->add_option("--joint-names", p.options.jointNamesFile,
                     "File of joint names, one a line (default joint_0, joint_1, ...)")
        ->check(CLI::ExistingFile);
    p.command->add_flag("--sim", p.options.sim,
                        "Play the hand with a simulated one on the channel, in this process");
    p.command
        ->add_option("--seconds", p.options.seconds,
                     "Stop after this many seconds (0: run until stopped)")
        ->check(CLI::NonNegativeNumber);
}

BridgeCommand::~BridgeCommand() = default;

bool BridgeCommand::chosen() const {
    return parsed_->command->parsed();
}

int BridgeCommand::run(std::ostream& out, std::ostream& err, const std::atomic<bool>& stop) const {
    BridgeOptions options = parsed_->options;
    options.model = *models::modelFromName(parsed_->model);
    options.side = *models::sideFromName(parsed_->side);
    if (parsed_->command->count("--namespace") == 0)
        options.ns = std::string(models::modelName(options.model)) + "_" +
                     (options.side == LEFT ? "left" : "right");
    if (options.channel.empty() && !options.sim) {
        err << "velmora bridge: --channel is required (or --sim for a simulated hand)\n";
        return 2;
    }
    return runBridge(options, out, err, stop);
}

}  // namespace bridge
}  // namespace velmora
