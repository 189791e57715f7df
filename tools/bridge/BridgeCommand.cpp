#include "BridgeCommand.h"

#include <CLI/CLI.hpp>

#include <string>
#include <vector>

#include "Bridge.h"
#include "velmora/Models.h"
#include "velmora/Scan.h"

namespace velmora {
namespace bridge {

namespace {

// The models the bridge can speak for: those with joint-angle tables.
std::string bridgeableModels() {
    std::vector<std::string> names;
    for (const models::ModelInfo& m : models::kModels) {
        if (m.hasAngleTables())
            names.push_back(m.name);
    }
    std::string text;
    for (std::size_t i = 0; i < names.size(); ++i)
        text += (i == 0 ? "" : i + 1 == names.size() ? " or " : ", ") + names[i];
    return text;
}

}  // namespace

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
    p.command->add_option("--model,-m", p.model, "Hand model: " + bridgeableModels())
        ->required()
        ->check(CLI::Validator(
            [](std::string& v) -> std::string {
                return models::modelFromName(v) || v == "auto"
                           ? ""
                           : "unknown model '" + v + "': choose " + bridgeableModels() +
                                 ", or auto";
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
                     "File of joint names, one a line (default the model's: thumb_1, "
                     "index_1, ...)")
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
    const bool automatic = parsed_->model == "auto";
    options.model = automatic ? ZENIT : *models::modelFromName(parsed_->model);
    options.side = *models::sideFromName(parsed_->side);
    if (options.channel.empty() && !options.sim) {
        err << "velmora bridge: --channel is required (or --sim for a simulated hand)\n";
        return 2;
    }
    // No DDS traffic and no hand object before the hand on --side has said what it is.
    // A channel that cannot be opened is the bridge's to report, as before.
    const std::optional<HandIdentity> id = [&]() -> std::optional<HandIdentity> {
        try {
            return options.sim ? std::nullopt : identify(options.channel, options.side);
        } catch (const std::exception&) {
            return std::nullopt;
        }
    }();
    if (automatic && !(id && id->model())) {
        err << "velmora bridge: --model auto: " << (id ? id->modelText() : "no hand")
            << " answered on " << options.channel << "; name the model\n";
        return 2;
    }
    if (automatic)
        options.model = *id->model();
    if (const std::string why = id ? contradiction(*id, options.model, options.side) : "";
        !why.empty()) {
        err << "velmora bridge: hand on " << options.channel << " reports " << id->reported()
            << ": " << why << "\n";
        return 1;
    }
    if (parsed_->command->count("--namespace") == 0)
        options.ns =
            std::string(models::modelName(options.model)) + "_" + models::sideName(options.side);
    return runBridge(options, out, err, stop);
}

}  // namespace bridge
}  // namespace velmora
