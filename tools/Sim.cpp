// velmora demo and velmora sim: simulated hands.
#include <CLI/CLI.hpp>

#include <cstdio>
#include <thread>

#include "CanLog.h"
#include "Demo.h"
#include "Subcommands.h"
#include "velmora/Models.h"
#include "velmora/Protocol.h"
#include "velmora/sim/SimulatedHand.h"

namespace velmora {
namespace tools {

namespace {

std::optional<sim::SensorKind> sensorFromName(const std::string& name) {
    if (name == "none")
        return sim::SensorKind::None;
    if (name == "summary")
        return sim::SensorKind::Summary;
    if (name == "matrix")
        return sim::SensorKind::Matrix;
    return std::nullopt;
}

// "1.5" -> the version byte of 1.5.
std::optional<std::uint8_t> firmwareFromText(const std::string& text) {
    unsigned whole = 0, tenths = 0;
    char dot = 0, extra = 0;
    const int n = std::sscanf(text.c_str(), "%u%c%u%c", &whole, &dot, &tenths, &extra);
    if (n == 1 && whole < 16)
        return protocol::versionByte(whole, 0);
    if (n == 3 && dot == '.' && whole < 16 && tenths < 10) {
        return protocol::versionByte(whole, tenths);
    }
    return std::nullopt;
}

struct SimOptions {
    std::string model, side, channel, sensor = "matrix", firmware = "1.5";
    double seconds = 0;
};

int runSim(const SimOptions& options, Io& io) {
    if (options.seconds < 0)
        throw UsageError("--seconds must be 0 or more");
    sim::SimConfig config;
    config.model = parseModel(options.model);
    config.handId = parseSide(options.side);
    config.sensor = *sensorFromName(options.sensor);
    config.softwareVersion = *firmwareFromText(options.firmware);
    const std::string& channel = options.channel;
    auto bus = sim::openSimChannel(channel);  // a missing interface is refused here
    // A down interface would take the hand's frames nowhere and report 0 frames: say so.
    if (!isVirtualChannel(channel))
        requireInterfaceUp(channel);
    auto hand = std::make_unique<sim::SimulatedHand>(std::move(bus), config);
    io.out << "simulated " << models::modelName(config.model) << " hand ("
           << models::sideName(config.handId) << ", CAN id 0x" << std::hex << config.handId
           << std::dec << ") on " << channel << "; Ctrl-C stops it" << std::endl;

    const auto start = std::chrono::steady_clock::now();
    auto nextReport = start + std::chrono::seconds(1);
    std::uint64_t lastIn = 0, lastOut = 0;
    while (!io.stop) {
        const auto now = std::chrono::steady_clock::now();
        if (options.seconds > 0 && now - start >= std::chrono::duration<double>(options.seconds))
            break;
        if (now >= nextReport) {
            const std::uint64_t in = hand->framesReceived(), sent = hand->framesSent();
            io.out << "frames/s: " << in - lastIn << " in, " << sent - lastOut << " out"
                   << std::endl;
            lastIn = in;
            lastOut = sent;
            nextReport += std::chrono::seconds(1);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    io.out << "stopped after " << hand->framesReceived() << " frames in, " << hand->framesSent()
           << " out" << std::endl;
    return kSuccess;
}

}  // namespace

void addDemo(CLI::App& app, Subcommands& commands) {
    auto model = std::make_shared<std::string>(models::modelName(TOVIN));
    auto side = std::make_shared<std::string>("right");
    CLI::App* demo =
        app.add_subcommand("demo", "Drive a simulated hand through the SDK, no hardware needed");
    demo->add_option("--model,-m", *model, "Hand model: " + models::modelChoices() + ", or all")
        ->check(CLI::Validator(
            [](std::string& v) -> std::string {
                return models::modelFromName(v) || v == "all"
                           ? ""
                           : "unknown model '" + v + "': choose " + models::modelChoices() +
                                 " or all";
            },
            "MODEL"));
    demo->add_option("--side,-s", *side, "left or right")
        ->check(CLI::Validator(
            [](std::string& v) -> std::string {
                return models::sideFromName(v) ? ""
                                               : "unknown side '" + v + "': choose left or right";
            },
            "SIDE"));
    commands.add(demo, [model, side](Io& io) {
        const std::vector<VELMORA> models =
            *model == "all" ? models::everyHand() : std::vector<VELMORA>{parseModel(*model)};
        bool ok = true;
        for (VELMORA m : models)
            ok = runDemo(m, parseSide(*side), io.out, io.terminal) && ok;
        io.out << (ok ? "demo: every step behaved" : "demo: some steps failed") << std::endl;
        return ok ? kSuccess : kHandFailed;
    });
}

void addSim(CLI::App& app, Subcommands& commands) {
    auto options = std::make_shared<SimOptions>();
    CLI::App* simulate = app.add_subcommand(
        "sim", "Play a hand on a CAN interface (vcan0, can1, ...) until interrupted");
    addModelOption(simulate, options->model);
    simulate->add_option("--side,-s", options->side, "left or right")
        ->required()
        ->check(CLI::Validator(
            [](std::string& v) -> std::string {
                return models::sideFromName(v) ? ""
                                               : "unknown side '" + v + "': choose left or right";
            },
            "SIDE"));
    simulate
        ->add_option("--channel,-c", options->channel,
                     "SocketCAN interface (must be up), or virtual:NAME in this process")
        ->required();
    simulate->add_option("--sensor", options->sensor, "Fingertip sensors: none, summary or matrix")
        ->check(CLI::IsMember({"none", "summary", "matrix"}));
    simulate
        ->add_option("--firmware", options->firmware, "Software version the hand reports, as 1.5")
        ->check(CLI::Validator(
            [](std::string& v) -> std::string {
                return firmwareFromText(v) ? "" : "not a version such as 1.5: " + v;
            },
            "VERSION"));
    simulate->add_option("--seconds", options->seconds,
                         "Stop after this many seconds (0: run until stopped)");
    commands.add(simulate, [options](Io& io) {
        return guarded("sim", io, [&] { return runSim(*options, io); });
    });
}

}  // namespace tools
}  // namespace velmora
