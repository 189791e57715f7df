#include "BridgeCommand.h"

#include <CLI/CLI.hpp>

#include <optional>
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

// MODEL:SIDE[:CHANNEL[:PREFIX]]
std::optional<HandOptions> handFromText(const std::string& text, std::string& why) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (true) {
        const std::size_t colon = text.find(':', start);
        parts.push_back(text.substr(start, colon - start));
        if (colon == std::string::npos)
            break;
        start = colon + 1;
    }
    // A virtual channel keeps its own colon: virtual:can0.
    if (parts.size() >= 4 && parts[2] == "virtual") {
        parts[2] += ":" + parts[3];
        parts.erase(parts.begin() + 3);
    }
    if (parts.size() < 2 || parts.size() > 4) {
        why = "--hand '" + text + "': give MODEL:SIDE[:CHANNEL[:PREFIX]], e.g. tovin:right:can0";
        return std::nullopt;
    }
    HandOptions hand;
    const auto model = models::modelFromName(parts[0]);
    if (!model) {
        why =
            "--hand '" + text + "': unknown model '" + parts[0] + "': choose " + bridgeableModels();
        return std::nullopt;
    }
    const auto side = models::sideFromName(parts[1]);
    if (!side) {
        why = "--hand '" + text + "': unknown side '" + parts[1] + "': choose left or right";
        return std::nullopt;
    }
    hand.model = *model;
    hand.side = *side;
    hand.channel = parts.size() > 2 ? parts[2] : "";
    hand.prefix = parts.size() > 3 ? parts[3] : "";
    return hand;
}

std::string defaultNamespace(const HandOptions& hand) {
    return std::string(models::modelName(hand.model)) + "_" + models::sideName(hand.side);
}

}  // namespace

struct BridgeCommand::Parsed {
    CLI::App* command = nullptr;
    std::string model, side, qos = "reliable";
    std::vector<std::string> hands;
    std::uint32_t domain = 0;
    std::string distro, discoveryRange, staticPeers;
    bool localhostOnly = false;
    BridgeOptions options;
};

BridgeCommand::BridgeCommand(CLI::App& app) : parsed_(std::make_unique<Parsed>()) {
    Parsed& p = *parsed_;
    p.command = app.add_subcommand(
        "bridge",
        "Publish a hand's joint states and diagnostics as ROS 2 topics over DDS, and "
        "take joint commands from the network, until interrupted");
    p.command->add_option("--model,-m", p.model, "Hand model: " + bridgeableModels())
        ->check(CLI::Validator(
            [](std::string& v) -> std::string {
                return models::modelFromName(v) || v == "auto"
                           ? ""
                           : "unknown model '" + v + "': choose " + bridgeableModels() +
                                 ", or auto";
            },
            "MODEL"));
    p.command->add_option("--side,-s", p.side, "left or right")
        ->check(CLI::Validator(
            [](std::string& v) -> std::string {
                return models::sideFromName(v) ? ""
                                               : "unknown side '" + v + "': choose left or right";
            },
            "SIDE"));
    p.command->add_option("--channel,-c", p.options.channel,
                          "The hand's CAN interface (can0, ...), or virtual:NAME in this process "
                          "(with --sim: virtual:can-bridge-SIDE unless given)");
    p.command->add_option(
        "--hand", p.hands,
        "A hand as MODEL:SIDE[:CHANNEL[:PREFIX]] (instead of --model and "
        "--side; give it again for more hands, each a node in namespace "
        "MODEL_SIDE, its joints named PREFIX + name; PREFIX defaults to MODEL_SIDE_ "
        "when there are several hands)");
    p.command->add_option("--namespace,-n", p.options.ns,
                          "ROS namespace of the hand's node and topics (NS/joint_states, "
                          "NS/joint_commands); default: MODEL_SIDE");
    p.command->add_option("--prefix", p.options.prefix,
                          "In front of every joint name and the frame (left_, ...)");
    p.command->add_option("--rate,-r", p.options.rate, "Joint states per second")
        ->check(CLI::Range(0.1, 1000.0));
    p.command
        ->add_option("--qos", p.qos,
                     "Joint states reliable (ROS 2's default QoS, keep last 10) or sensor "
                     "(best effort, keep last 5)")
        ->check(CLI::IsMember({"reliable", "sensor"}));
    p.command->add_option("--domain,-d", p.domain, "DDS domain (default: ROS_DOMAIN_ID, else 0)")
        ->check(CLI::Range(0u, kMaxDomain));
    p.command->add_option("--ros-distro", p.distro,
                          "ROS 2 release of the graph: humble, iron, jazzy, kilted or rolling "
                          "(default: ROS_DISTRO, else jazzy)");
    p.command->add_flag("--localhost-only", p.localhostOnly,
                        "Discovery on this computer only (default: ROS_LOCALHOST_ONLY)");
    p.command->add_option("--discovery-range", p.discoveryRange,
                          "SUBNET, LOCALHOST, OFF or SYSTEM_DEFAULT (Iron on; default: "
                          "ROS_AUTOMATIC_DISCOVERY_RANGE, else SUBNET)");
    p.command->add_option("--static-peers", p.staticPeers,
                          "Hosts to discover beyond the range, separated by ';' (Iron on; "
                          "default: ROS_STATIC_PEERS)");
    p.command
        ->add_option("--joint-names", p.options.jointNamesFile,
                     "File of joint names, one a line (default the model's: thumb_1, "
                     "index_1, ...)")
        ->check(CLI::ExistingFile);
    p.command->add_flag("--sim", p.options.sim,
                        "Play each hand with a simulated one on its channel, in this process "
                        "(a --hand channel such as can0 becomes virtual:can0)");
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
    const Parsed& p = *parsed_;
    BridgeOptions options = p.options;
    auto given = [&](const char* flag) { return p.command->count(flag) > 0; };
    if (given("--domain"))
        options.network.domain = p.domain;
    if (given("--ros-distro"))
        options.network.distro = p.distro;
    if (given("--localhost-only"))
        options.network.localhostOnly = p.localhostOnly;
    if (given("--discovery-range"))
        options.network.discoveryRange = p.discoveryRange;
    if (given("--static-peers"))
        options.network.staticPeers = p.staticPeers;
    options.stateQos = p.qos == "sensor" ? StateQos::Sensor : StateQos::Reliable;

    if (!p.hands.empty()) {
        if (given("--model") || given("--side") || given("--channel") || given("--namespace") ||
            given("--joint-names") || given("--prefix")) {
            err << "velmora bridge: give --hand, or --model and --side with --channel, "
                   "--namespace, --joint-names and --prefix, not both\n";
            return 2;
        }
        std::vector<HandOptions> hands;
        for (const std::string& text : p.hands) {
            std::string why;
            std::optional<HandOptions> hand = handFromText(text, why);
            if (!hand) {
                err << "velmora bridge: " << why << "\n";
                return 2;
            }
            hand->ns = defaultNamespace(*hand);
            if (hand->prefix.empty() && p.hands.size() > 1)
                hand->prefix = hand->ns + "_";
            if (options.sim && !hand->channel.empty() && hand->channel.rfind("virtual:", 0) != 0)
                hand->channel = "virtual:" + hand->channel;
            if (hand->channel.empty() && !options.sim) {
                err << "velmora bridge: --hand '" << text
                    << "' needs a channel (MODEL:SIDE:CHANNEL), or --sim\n";
                return 2;
            }
            if (hand->channel.empty())
                hand->channel = "virtual:can-bridge-" + hand->ns;
            hands.push_back(*hand);
        }
        static_cast<HandOptions&>(options) = hands.front();
        options.otherHands.assign(hands.begin() + 1, hands.end());
        return runBridge(options, out, err, stop);
    }

    if (!given("--model") || !given("--side")) {
        err << "velmora bridge: give --model and --side (or --hand MODEL:SIDE:CHANNEL)\n";
        return 2;
    }
    const bool automatic = p.model == "auto";
    options.model = automatic ? ZENIT : *models::modelFromName(p.model);
    options.side = *models::sideFromName(p.side);
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
    if (!given("--namespace"))
        options.ns = defaultNamespace(options);
    return runBridge(options, out, err, stop);
}

}  // namespace bridge
}  // namespace velmora
