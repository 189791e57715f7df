#include "Cli.h"

#include <CLI/CLI.hpp>

#include <chrono>
#include <iomanip>
#include <thread>

#include "Demo.h"
#include "bridge/BridgeCommand.h"
#include "velmora/sim/SimulatedHand.h"

namespace velmora {
namespace tools {

namespace {

const std::vector<VELMORA> kDemoModels = {KESTA, MARLO, TOVIN, RAVEL, SABRE, ZENIT};

std::string modelChoices() {
    return "kesta, kesta_alt, marlo, tovin, ravel, sabre or zenit";
}

CLI::Validator modelValidator(bool allowAll) {
    return CLI::Validator(
        [allowAll](std::string& value) -> std::string {
            if (sim::modelFromName(value) || (allowAll && value == "all"))
                return "";
            return "unknown model '" + value + "': choose " + modelChoices() +
                   (allowAll ? " or all" : "");
        },
        "MODEL");
}

CLI::Validator sideValidator() {
    return CLI::Validator(
        [](std::string& value) -> std::string {
            return sim::sideFromName(value) ? ""
                                            : "unknown side '" + value + "': choose left or right";
        },
        "SIDE");
}

std::optional<sim::SensorKind> sensorFromName(const std::string& name) {
    if (name == "none")
        return sim::SensorKind::None;
    if (name == "summary")
        return sim::SensorKind::Summary;
    if (name == "matrix")
        return sim::SensorKind::Matrix;
    return std::nullopt;
}

// "1.5" -> 0x15: whole part in the high nibble, tenths in the low one.
std::optional<std::uint8_t> firmwareFromText(const std::string& text) {
    unsigned whole = 0, tenths = 0;
    char dot = 0, extra = 0;
    const int n = std::sscanf(text.c_str(), "%u%c%u%c", &whole, &dot, &tenths, &extra);
    if (n == 1 && whole < 16)
        return static_cast<std::uint8_t>(whole << 4);
    if (n == 3 && dot == '.' && whole < 16 && tenths < 10) {
        return static_cast<std::uint8_t>(whole << 4 | tenths);
    }
    return std::nullopt;
}

int runSim(const sim::SimConfig& config, const std::string& channel, double seconds,
           std::ostream& out, std::ostream& err, const std::atomic<bool>& stop) {
    std::unique_ptr<sim::SimulatedHand> hand;
    try {
        hand = std::make_unique<sim::SimulatedHand>(sim::openSimChannel(channel), config);
    } catch (const std::exception& e) {
        err << "velmora sim: " << e.what() << "\n";
        return 1;
    }
    out << "simulated " << sim::modelName(config.model) << " hand ("
        << (config.handId == LEFT ? "left" : "right") << ", CAN id 0x" << std::hex << config.handId
        << std::dec << ") on " << channel << "; Ctrl-C stops it" << std::endl;

    const auto start = std::chrono::steady_clock::now();
    auto nextReport = start + std::chrono::seconds(1);
    std::uint64_t lastIn = 0, lastOut = 0;
    while (!stop) {
        const auto now = std::chrono::steady_clock::now();
        if (seconds > 0 && now - start >= std::chrono::duration<double>(seconds))
            break;
        if (now >= nextReport) {
            const std::uint64_t in = hand->framesReceived(), sent = hand->framesSent();
            out << "frames/s: " << in - lastIn << " in, " << sent - lastOut << " out" << std::endl;
            lastIn = in;
            lastOut = sent;
            nextReport += std::chrono::seconds(1);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    out << "stopped after " << hand->framesReceived() << " frames in, " << hand->framesSent()
        << " out" << std::endl;
    return 0;
}

}  // namespace

int runCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
           const std::atomic<bool>& stop) {
    CLI::App app{"velmora: drive and simulate dexterous robot hands on a CAN bus", "velmora"};
    app.require_subcommand(1);

    std::string demoModel = "tovin", demoSide = "right";
    CLI::App* demo =
        app.add_subcommand("demo", "Drive a simulated hand through the SDK, no hardware needed");
    demo->add_option("--model,-m", demoModel, "Hand model: " + modelChoices() + ", or all")
        ->check(modelValidator(true));
    demo->add_option("--side,-s", demoSide, "left or right")->check(sideValidator());

    std::string simModel, simSide, channel, sensor = "matrix", firmware = "1.5";
    double seconds = 0;
    CLI::App* simulate = app.add_subcommand(
        "sim", "Play a hand on a CAN interface (vcan0, can1, ...) until interrupted");
    simulate->add_option("--model,-m", simModel, "Hand model: " + modelChoices())
        ->required()
        ->check(modelValidator(false));
    simulate->add_option("--side,-s", simSide, "left or right")->required()->check(sideValidator());
    simulate
        ->add_option("--channel,-c", channel,
                     "SocketCAN interface (must be up), or virtual:NAME in this process")
        ->required();
    simulate->add_option("--sensor", sensor, "Fingertip sensors: none, summary or matrix")
        ->check(CLI::IsMember({"none", "summary", "matrix"}));
    simulate->add_option("--firmware", firmware, "Software version the hand reports, as 1.5")
        ->check(CLI::Validator(
            [](std::string& v) -> std::string {
                return firmwareFromText(v) ? "" : "not a version such as 1.5: " + v;
            },
            "VERSION"));
    simulate
        ->add_option("--seconds", seconds, "Stop after this many seconds (0: run until stopped)")
        ->check(CLI::NonNegativeNumber);

    const bridge::BridgeCommand bridgeCommand(app);

    std::vector<std::string> reversed(args.rbegin(), args.rend() - 1);
    try {
        app.parse(reversed);
    } catch (const CLI::ParseError& e) {
        return app.exit(e, out, err);
    }

    if (bridgeCommand.chosen())
        return bridgeCommand.run(out, err, stop);
    if (*demo) {
        const std::uint32_t side = *sim::sideFromName(demoSide);
        const std::vector<VELMORA> models =
            demoModel == "all" ? kDemoModels : std::vector<VELMORA>{*sim::modelFromName(demoModel)};
        bool ok = true;
        for (VELMORA model : models)
            ok = runDemo(model, side, out) && ok;
        out << (ok ? "demo: every step behaved" : "demo: some steps failed") << std::endl;
        return ok ? 0 : 1;
    }

    sim::SimConfig config;
    config.model = *sim::modelFromName(simModel);
    config.handId = *sim::sideFromName(simSide);
    config.sensor = *sensorFromName(sensor);
    config.softwareVersion = *firmwareFromText(firmware);
    return runSim(config, channel, seconds, out, err, stop);
}

}  // namespace tools
}  // namespace velmora
