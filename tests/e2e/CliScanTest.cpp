// velmora scan, interfaces, --model auto and the identity check, in-process against simulated
// hands on virtual buses.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "Cli.h"
#include "Interfaces.h"
#include "support/HandPeer.h"
#include "velmora/Scan.h"
#include "velmora/sim/SimulatedHand.h"

using namespace velmora;
using namespace velmora::testing;

namespace {

struct Outcome {
    int status;
    std::string out, err;
};

Outcome velmoraCommand(std::vector<std::string> args) {
    static const std::atomic<bool> never{false};
    args.insert(args.begin(), "velmora");
    std::ostringstream out, err;
    const int status = tools::runCli(args, out, err, never);
    return {status, out.str(), err.str()};
}

std::string bus() {
    return "virtual:can-" + uniqueBusName();
}

std::unique_ptr<sim::SimulatedHand> simulated(const std::string& channel, VELMORA model,
                                              std::uint32_t side) {
    sim::SimConfig config;
    config.model = model;
    config.handId = side;
    return std::make_unique<sim::SimulatedHand>(sim::openSimChannel(channel), config);
}

bool isVersionCode(std::uint8_t code) {
    const std::vector<std::uint8_t> codes = versionRequests();
    return std::find(codes.begin(), codes.end(), code) != codes.end();
}

}  // namespace

TEST(CliScan, ListsEveryHandOnTheBus) {
    const std::string channel = bus();
    const auto left = simulated(channel, RAVEL, LEFT);
    const auto right = simulated(channel, TOVIN, RIGHT);
    Outcome run = velmoraCommand({"scan", "--channel", channel});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("0x27  right  tovin             10      1.5       2"), std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find("0x28  left   ravel             20"), std::string::npos) << run.out;

    run = velmoraCommand({"scan", "--channel", channel, "--json"});
    ASSERT_EQ(run.status, 0) << run.err;
    const auto doc = nlohmann::json::parse(run.out);
    ASSERT_EQ(doc.size(), 2u);
    EXPECT_EQ(doc[0]["model"], "tovin");
    EXPECT_EQ(doc[1]["model"], "ravel");
    EXPECT_EQ(doc[1]["side"], "left");
    EXPECT_EQ(doc[1]["degrees_of_freedom"], 20);
}

TEST(CliScan, QuietBusExitsOne) {
    const Outcome run = velmoraCommand({"scan", "--channel", bus(), "--timeout", "50"});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("no hand answered on virtual:can-"), std::string::npos) << run.err;
}

TEST(CliScan, ModelAutoPicksTheOneHandElseListsThem) {
    const std::string channel = bus();
    const auto right = simulated(channel, TOVIN, RIGHT);
    Outcome run = velmoraCommand({"info", "--model", "auto", "--channel", channel, "--json"});
    ASSERT_EQ(run.status, 0) << run.err;
    const auto doc = nlohmann::json::parse(run.out);
    EXPECT_EQ(doc["model"], "tovin");
    EXPECT_EQ(doc["side"], "right");
    EXPECT_TRUE(doc["answered"].get<bool>());
    EXPECT_EQ(doc["firmware"], "1.5");

    run = velmoraCommand({"state", "--model", "auto", "--channel", channel});
    EXPECT_EQ(run.status, 0) << run.err;

    const auto left = simulated(channel, ZENIT, LEFT);
    run = velmoraCommand({"move", "--model", "auto", "--channel", channel, "open"});
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.err.find("2 hands answered"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("0x27 right: tovin"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("0x28 left: sabre or zenit"), std::string::npos) << run.err;

    // One identifier asked: its hand cannot tell its two models apart.
    run = velmoraCommand({"state", "--model", "auto", "--side", "left", "--channel", channel});
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.err.find("hand 0x28 cannot tell which model it is"), std::string::npos)
        << run.err;

    run = velmoraCommand(
        {"state", "--model", "auto", "--channel", channel + "-quiet", "--timeout", "50"});
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.err.find("no hand answered"), std::string::npos) << run.err << run.status;
}

TEST(CliScan, MismatchExitsOneBeforeAnyCommandLeaves) {
    const std::string channel = bus();
    const auto hand = simulated(channel, TOVIN, RIGHT);
    HandPeer wire(channel.substr(8), RIGHT);
    const ByteVector before = hand->body().positions(0, 10);
    for (const char* model : {"zenit", "kesta", "marlo", "ravel"}) {
        const Outcome run =
            velmoraCommand({"move", "--model", model, "--channel", channel, "close"});
        EXPECT_EQ(run.status, 1) << model;
        EXPECT_NE(run.err.find("hand 0x27 on " + channel +
                               " reports 10 joints and right side: it is a tovin, not a " + model +
                               " (use --model tovin)"),
                  std::string::npos)
            << run.err;
    }
    for (const ByteVector& frame : wire.drain())
        EXPECT_TRUE(isVersionCode(frame.at(0))) << "code " << int(frame.at(0));
    EXPECT_EQ(hand->body().positions(0, 10), before);

    // The same for the other subcommands that talk to a hand.
    for (std::vector<std::string> args :
         {std::vector<std::string>{"info"}, {"state"}, {"monitor", "--count", "1"}}) {
        args.insert(args.end(), {"--model", "zenit", "--channel", channel});
        const Outcome run = velmoraCommand(args);
        EXPECT_EQ(run.status, 1) << args[0] << run.err;
        EXPECT_NE(run.err.find("it is a tovin, not a zenit"), std::string::npos) << run.err;
    }
    for (const ByteVector& frame : wire.drain())
        EXPECT_TRUE(isVersionCode(frame.at(0))) << "code " << int(frame.at(0));

    const Outcome forced =
        velmoraCommand({"move", "--model", "marlo", "--force", "--channel", channel, "close"});
    EXPECT_EQ(forced.status, 0) << forced.err;
    const Frames sent = wire.drain();
    EXPECT_TRUE(std::any_of(sent.begin(), sent.end(), [](const ByteVector& f) {
        return !isVersionCode(f.at(0));
    })) << "--force sends the command";
}

// What sends to a hand asks first whether one is there, even with --force.
TEST(CliScan, NoHandExitsOneAndSendsNoCommand) {
    const std::string channel = bus();
    HandPeer wire(channel.substr(8), RIGHT);
    for (std::vector<std::string> args :
         {std::vector<std::string>{"move", "close"},
          {"move", "--positions", "1,2,3,4,5,6,7,8,9,10", "--force"},
          {"monitor", "--count", "3"},
          {"stop"},
          {"stop", "--force"}}) {
        args.insert(args.end(), {"--model", "tovin", "--channel", channel, "--timeout", "100"});
        const Outcome run = velmoraCommand(args);
        EXPECT_EQ(run.status, 1) << args[0] << run.err;
        EXPECT_NE(run.err.find("velmora " + args[0] + ": no hand answered on " + channel +
                               " as right (0x27) within 100 ms; nothing sent"),
                  std::string::npos)
            << run.err;
        EXPECT_EQ(run.out.find("sent"), std::string::npos) << run.out;
    }
    for (const ByteVector& frame : wire.drain())
        EXPECT_TRUE(isVersionCode(frame.at(0))) << "code " << int(frame.at(0));
}

TEST(CliScan, InterfacesComeFromTheKernelsDirectory) {
    namespace fs = std::filesystem;
    const fs::path root = fs::path(::testing::TempDir()) / ("velmora-net-" + uniqueBusName());
    fs::remove_all(root);
    const auto write = [&](const fs::path& file, const std::string& text) {
        fs::create_directories((root / file).parent_path());
        std::ofstream(root / file) << text << "\n";
    };
    write("vcan1/type", "280");
    write("vcan1/flags", "0x80");
    write("vcan1/operstate", "down");
    write("vcan0/type", "280");
    write("vcan0/flags", "0x1c1");
    write("vcan0/operstate", "unknown");
    write("vcan0/statistics/rx_errors", "3");
    write("vcan0/statistics/tx_dropped", "7");
    write("vcan0/statistics/rx_over_errors", "not a number");
    write("eth0/type", "1");
    write("eth0/flags", "0x1003");

    const std::vector<tools::CanInterface> found = tools::canInterfaces(root.string());
    ASSERT_EQ(found.size(), 2u);
    EXPECT_EQ(found[0].name, "vcan0");
    EXPECT_TRUE(found[0].up);
    EXPECT_EQ(found[0].operstate, "unknown");
    EXPECT_EQ(found[0].rxErrors, 3u);
    EXPECT_EQ(found[0].txDropped, 7u);
    EXPECT_EQ(found[0].rxOverErrors, 0u);
    EXPECT_EQ(found[1].name, "vcan1");
    EXPECT_FALSE(found[1].up);
    EXPECT_TRUE(tools::canInterfaces((root / "nowhere").string()).empty());
    fs::remove_all(root);
}
