// The velmora command run in-process against simulated hands on virtual buses.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <sys/stat.h>
#include <condition_variable>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <mutex>
#include <regex>
#include <set>
#include <sstream>
#include <thread>

#include "CanLog.h"
#include "Cli.h"
#include "FrameMeaning.h"
#include "MonitorLayout.h"
#include "support/HandPeer.h"
#include "velmora/Models.h"
#include "velmora/Protocol.h"
#include "velmora/Version.h"
#include "velmora/sim/SimulatedHand.h"
#include "velmora/velmora.h"

using namespace velmora;
using namespace velmora::testing;
using velmora::tools::LoggedFrame;

namespace {

struct Outcome {
    int status;
    std::string out, err;
};

Outcome velmoraCommand(std::vector<std::string> args, const std::atomic<bool>* stop = nullptr) {
    static const std::atomic<bool> never{false};
    args.insert(args.begin(), "velmora");
    std::ostringstream out, err;
    const int status = tools::runCli(args, out, err, stop ? *stop : never);
    return {status, out.str(), err.str()};
}

Outcome velmoraCommand(std::vector<std::string> args, std::istream& in) {
    static const std::atomic<bool> never{false};
    args.insert(args.begin(), "velmora");
    std::ostringstream out, err;
    const int status = tools::runCli(args, in, out, err, never);
    return {status, out.str(), err.str()};
}

std::string bus() {
    return "virtual:can-" + uniqueBusName();
}

std::string tempPath(const std::string& name) {
    return ::testing::TempDir() + "velmora-" + uniqueBusName() + "-" + name;
}

void writeFile(const std::string& path, const std::string& text) {
    std::ofstream(path) << text;
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        out.push_back(line);
    return out;
}

}  // namespace

struct UsageCase {
    std::vector<std::string> args;
    std::string message;  // in standard error
};

TEST(Cli, UsageErrorsExitTwoWithASentence) {
    const UsageCase cases[] = {
        {{}, "subcommand is required"},
        {{"bogus"}, "subcommand"},
        {{"info"}, "--model is required"},
        {{"info", "--model", "octopus"}, "unknown model 'octopus'"},
        {{"state", "--model", "tovin", "--side", "middle"}, "unknown side 'middle'"},
        {{"state", "--model", "tovin", "--channel", "nosuch0"}, "name must contain \"can\""},
        {{"state", "--model", "tovin", "--channel", "lo"}, "lo is not a CAN interface"},
        {{"moev", "--model", "tovin"}, "unknown command 'moev': did you mean 'move'?"},
        {{"recrod"}, "did you mean 'record'?"},
        {{"sotp"}, "did you mean 'stop'?"},
        {{"record", "--channel", "virtual:can-x", "--seconds", "-1"},
         "--seconds must be 0 or more"},
        {{"record", "--channel", "virtual:can-x", "--count", "-3"}, "--count must be 0 or more"},
        {{"sim", "--model", "tovin", "--side", "left", "--channel", "virtual:can-x", "--seconds",
          "-2"},
         "--seconds must be 0 or more"},
        {{"monitor", "--model", "tovin", "--sim", "--rate", "0"}, "--rate must be more than 0"},
        {{"replay", "/nonexistent.log", "--channel", "virtual:can-x", "--speed", "0"},
         "--speed must be more than 0"},
        {{"move", "--model", "tovin", "--sim"}, "give exactly one of"},
        {{"move", "--model", "tovin", "--sim", "--positions", "1,2,300,4,5,6,7,8,9,10"},
         "0 to 255, not 300"},
        {{"move", "--model", "tovin", "--sim", "--positions", "1,2,3"},
         "Joint position size is not 10"},
        {{"move", "--model", "ravel", "--sim", "--radians", "0.1,0.2"}, "takes 20 values"},
        {{"decode", "x.log"}, "--model is required"},
#ifdef VELMORA_WITH_UI
        {{"ui", "--model", "tovin", "--sim", "--listen", "8765"}, "--listen takes ADDR:PORT"},
        {{"ui", "--model", "tovin", "--sim", "--listen", "::1:8765"}, "goes in brackets"},
        {{"ui", "--model", "tovin", "--sim", "--token", "short"}, "--token must be 16 to 128"},
#endif
    };
    for (const UsageCase& c : cases) {
        const Outcome run = velmoraCommand(c.args);
        EXPECT_EQ(run.status, 2) << ::testing::PrintToString(c.args) << "\n" << run.err;
        EXPECT_NE(run.err.find(c.message), std::string::npos)
            << ::testing::PrintToString(c.args) << "\n"
            << run.err;
    }
}

TEST(Cli, VersionAndHelpSucceed) {
    Outcome run = velmoraCommand({"--version"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, std::string(velmora::version()) + "\n");
    for (const char* sub :
         {"info", "state", "move", "monitor", "record", "decode", "replay", "ui"}) {
        run = velmoraCommand({sub, "--help"});
        EXPECT_EQ(run.status, 0) << sub;
        EXPECT_NE(run.out.find("--"), std::string::npos) << sub;
    }
}

TEST(Cli, MissingInterfaceFailsWithOne) {
    for (std::vector<std::string> args :
         {std::vector<std::string>{"sim", "--model", "tovin", "--side", "right", "--channel",
                                   "nosuchcan7"},
          {"record", "--channel", "nosuchcan7", "--count", "1"},
          {"info", "--model", "tovin", "--channel", "nosuchcan7"}}) {
        const Outcome run = velmoraCommand(args);
        EXPECT_EQ(run.status, 1) << run.err;
        EXPECT_NE(run.err.find("interface nosuchcan7"), std::string::npos) << run.err;
    }
}

TEST(Cli, InfoOfEverySimulatedModel) {
    for (const char* model : {"kesta", "marlo", "tovin", "ravel", "sabre", "zenit"}) {
        const Outcome run = velmoraCommand({"info", "--model", model, "--sim", "--channel", bus()});
        EXPECT_EQ(run.status, 0) << model << run.err;
        EXPECT_NE(run.out.find("answered:    yes"), std::string::npos) << run.out;
        EXPECT_NE(run.out.find("firmware:    1.5"), std::string::npos) << run.out;
        EXPECT_NE(run.out.find("sensors:     matrix sensors"), std::string::npos) << run.out;
        EXPECT_EQ(run.out.find("opened successfully"), std::string::npos) << "library noise";
    }
}

TEST(Cli, InfoOfASilentHandSaysSoAndExitsOne) {
    sim::SimulatedHand silent(sim::openSimChannel(bus()), {});
    silent.setSilent(true);
    const Outcome run =
        velmoraCommand({"info", "--model", "tovin", "--channel", bus(), "--timeout", "150"});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.out.find("did not answer within 150 ms"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("0 frames received"), std::string::npos) << run.out;
    EXPECT_NE(run.err.find("velmora info: answered: no: hand 0x27 did not answer within 150 ms"),
              std::string::npos)
        << run.err;
}

TEST(Cli, BareCommandPrintsTheHelp) {
    const Outcome run = velmoraCommand({});
    EXPECT_EQ(run.status, 2);
    for (const char* sub : {"move", "stop", "decode", "record"})
        EXPECT_NE(run.out.find(std::string("\n  ") + sub), std::string::npos) << run.out;
}

// The completion and the man pages come from the subcommands the command registers.
TEST(Cli, CompletionAndManPagesNameEverySubcommand) {
    const Outcome help = velmoraCommand({"--help"});
    std::vector<std::string> names;
    const std::regex entry("^  ([a-z]+) ");
    for (const std::string& line : lines(help.out)) {
        std::smatch m;
        if (std::regex_search(line, m, entry))
            names.push_back(m[1]);
    }
    ASSERT_GT(names.size(), 10u) << help.out;
    const Outcome completion = velmoraCommand({"--bash-completion"});
    ASSERT_EQ(completion.status, 0);
    EXPECT_NE(completion.out.find("complete -o default -F _velmora velmora"), std::string::npos);
    const std::string dir = tempPath("man");
    ASSERT_TRUE(::mkdir(dir.c_str(), 0700) == 0 || errno == EEXIST);
    ASSERT_EQ(velmoraCommand({"--man-pages", dir}).status, 0);
    for (const std::string& name : names) {
        EXPECT_TRUE(std::regex_search(completion.out, std::regex("[\" ]" + name + "[ \"]")))
            << name;
        std::ifstream page(dir + "/velmora-" + name + ".1");
        const std::string text((std::istreambuf_iterator<char>(page)), {});
        EXPECT_EQ(text.rfind(".TH VELMORA-", 0), 0u) << name;
        EXPECT_NE(text.find(".B velmora " + name), std::string::npos) << name;
    }
}

TEST(Cli, InterfacesThatCannotCarryAHandSaySo) {
    // Only where the machine has a loopback interface, as nearly every Linux does.
    if (!std::ifstream("/sys/class/net/lo/type"))
        GTEST_SKIP() << "no /sys/class/net/lo";
    const Outcome run = velmoraCommand({"record", "--channel", "lo", "--count", "1"});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("lo is not a CAN interface"), std::string::npos) << run.err;
    EXPECT_EQ(tools::upCommand("can0"), "sudo ip link set can0 up type can bitrate 1000000");
    EXPECT_EQ(tools::upCommand("vcan0"), "sudo ip link set vcan0 up");
}

TEST(Cli, StateAsJsonShowsTheMeaningfulSlotsOnly) {
    struct Case {
        const char* model;
        std::size_t joints;
        bool currents;
    };
    for (const Case& c : {Case{"tovin", 10, false}, Case{"sabre", 21, false},
                          Case{"zenit", 21, false}, Case{"ravel", 20, true}}) {
        const Outcome run =
            velmoraCommand({"state", "--model", c.model, "--sim", "--channel", bus(), "--json"});
        ASSERT_EQ(run.status, 0) << run.err;
        const auto doc = nlohmann::json::parse(run.out);
        EXPECT_EQ(doc["model"], c.model);
        EXPECT_TRUE(doc["answered"].get<bool>());
        EXPECT_EQ(doc["positions"]["values"].size(), c.joints) << c.model;
        EXPECT_EQ(doc["radians"].size(), c.joints) << c.model;
        EXPECT_EQ(doc["currents"].is_null(), !c.currents) << c.model;
        if (std::string(c.model) == "zenit") {
            EXPECT_EQ(doc["temperatures"]["raw"].size(), 30u);
            EXPECT_EQ(doc["temperatures"]["values"].size(), 21u) << "slots without a joint";
            EXPECT_EQ(doc["temperatures"]["unit"], "°C");
        }
    }
    const Outcome table =
        velmoraCommand({"state", "--model", "tovin", "--sim", "--channel", bus()});
    EXPECT_EQ(table.status, 0);
    EXPECT_TRUE(std::regex_search(table.out, std::regex("positions +0\\.\\.255( +255){10}\n")))
        << table.out;
}

TEST(Cli, MoveWaitsUntilTheJointsSettle) {
    const std::string channel = bus();
    sim::SimulatedHand hand(sim::openSimChannel(channel), {});
    Outcome run = velmoraCommand({"move", "--model", "tovin", "--channel", channel, "--positions",
                                  "100,110,120,130,140,150,160,170,180,190", "--wait"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("reached after"), std::string::npos) << run.out;
    EXPECT_GT(lines(run.out).size(), 2u) << "a progress line per step when not a terminal";
    // "reached" is within 1 of the target, and the hand goes on to it.
    EXPECT_TRUE(eventually([&] {
        return hand.body().positions(0, 10) ==
               ByteVector({100, 110, 120, 130, 140, 150, 160, 170, 180, 190});
    }));

    run = velmoraCommand({"move", "--model", "tovin", "--channel", channel, "point", "--wait"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(eventually([&] {
        return hand.body().positions(2, 1) == ByteVector{230} &&
               hand.body().positions(3, 1) == ByteVector{40};
    })) << "index finger stretched";

    hand.setSilent(true);
    run = velmoraCommand(
        {"move", "--model", "tovin", "--channel", channel, "open", "--wait", "--timeout", "100"});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("no hand answered"), std::string::npos) << run.err;
}

// Ctrl-C before the joints settle: the hand is held where it stands, not left running to its
// target.
TEST(Cli, InterruptedMoveHoldsTheHand) {
    const std::string channel = bus();
    sim::SimulatedHand hand(sim::openSimChannel(channel), {});
    HandPeer wire(channel.substr(8), RIGHT);
    const std::atomic<bool> interrupted{true};
    const Outcome run = velmoraCommand(
        {"move", "--model", "tovin", "--channel", channel, "close", "--wait"}, &interrupted);
    EXPECT_EQ(run.status, 130);
    EXPECT_NE(run.err.find("velmora move: interrupted; holding the hand at its positions"),
              std::string::npos)
        << run.err;
    Frames writes;
    for (const ByteVector& f : wire.drain()) {
        if (f.size() > 1 && f[0] == protocol::codeOf(TOVIN, protocol::Quantity::Positions))
            writes.push_back(f);
    }
    ASSERT_GE(writes.size(), 2u) << "the move, then the hold";
    EXPECT_NE(writes.back(), writes.front());
    EXPECT_TRUE(eventually(
        [&] {
            const ByteVector first = hand.body().positions(0, 10);
            std::this_thread::sleep_for(200ms);
            return hand.body().positions(0, 10) == first;
        },
        10000ms));
    EXPECT_NE(hand.body().positions(0, 10), models::pose(TOVIN, models::PoseName::Close));
}

// The frames a tovin's hand object sends for slow joints and a close, as a log whose last frame
// comes an hour later: a replay of it waits there until interrupted.
struct SlowClose {
    Frames commands;
    std::string log;
};

SlowClose slowCloseLog(const std::string& path) {
    const std::string scratch = "can-" + uniqueBusName() + "-log";
    HandPeer peer(scratch, RIGHT);
    SlowClose made;
    {
        auto hand = factory::HandFactory::createHand(TOVIN, RIGHT, "virtual:" + scratch, 1000000);
        peer.drain();
        hand->setSpeed(ByteVector(10, 0));  // the slowest: seconds from open to close
        hand->setJointPositions(models::pose(TOVIN, models::PoseName::Close));
        made.commands = peer.drain();
    }
    std::string text;
    LoggedFrame frame;
    frame.seconds = 1733760000;
    frame.interface = "can0";
    frame.id = RIGHT;
    const auto add = [&](const ByteVector& data) {
        frame.len = static_cast<std::uint8_t>(data.size());
        std::copy(data.begin(), data.end(), frame.data.begin());
        text += tools::formatLogLine(frame) + "\n";
        frame.microseconds += 1000;
    };
    for (const ByteVector& command : made.commands)
        add(command);
    frame.seconds += 3600;
    add(made.commands.front());
    writeFile(path, text);
    made.log = path;
    return made;
}

// Ctrl-C during a replay holds the hand named, or the one hand that answers, where it stands;
// with no hand on the bus it says so and sends no command.
TEST(Cli, InterruptedReplayHoldsTheHand) {
    const SlowClose log = slowCloseLog(tempPath("slow-close.log"));
    const ByteVector close = models::pose(TOVIN, models::PoseName::Close);
    const std::string held = "velmora replay: interrupted; holding the hand at its positions";
    struct Case {
        std::vector<std::string> options;
        bool hand;
        std::string message;
    };
    const Case cases[] = {
        {{"--model", "tovin"}, true, held},
        {{}, true, held},
        {{}, false, "velmora replay: interrupted; no hand answered on "},
        {{"--model", "tovin"}, false, "velmora replay: interrupted; not holding the hand: no hand"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.options) + (c.hand ? " with a hand" : ""));
        const std::string channel = bus() + std::to_string(&c - cases);
        std::unique_ptr<sim::SimulatedHand> hand;
        if (c.hand)
            hand = std::make_unique<sim::SimulatedHand>(sim::openSimChannel(channel),
                                                        sim::SimConfig{});
        HandPeer wire(channel.substr(8), RIGHT);
        std::vector<std::string> args = {"replay", log.log, "--channel", channel};
        args.insert(args.end(), c.options.begin(), c.options.end());
        std::atomic<bool> stop{false};
        Outcome run;
        std::thread replay([&] { run = velmoraCommand(args, &stop); });
        Frames seen;
        const bool closing = eventually(
            [&] {
                for (ByteVector& f : wire.drain())
                    seen.push_back(std::move(f));
                return std::find(seen.begin(), seen.end(), log.commands.back()) != seen.end();
            },
            30000ms);
        stop = true;
        replay.join();
        ASSERT_TRUE(closing) << "the close went out";
        EXPECT_EQ(run.status, 130) << run.err;
        EXPECT_NE(run.err.find("sent " + std::to_string(log.commands.size()) + " frames on "),
                  std::string::npos)
            << run.err;
        EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
        if (hand) {
            EXPECT_TRUE(eventually([&] { return hand->body().targets(0, 10) != close; }))
                << "held short of the close";
        } else {
            for (const ByteVector& f : wire.drain())
                EXPECT_TRUE(f.size() == 1) << "only requests: code " << int(f.at(0));
        }
    }
}

// A pose saved from the hand comes back by name; state --json goes back into move.
TEST(Cli, SavedPosesAndStateJsonMoveTheHandBack) {
    const std::string config = tempPath("config");
    ::setenv("XDG_CONFIG_HOME", config.c_str(), 1);
    const std::string channel = bus();
    sim::SimulatedHand hand(sim::openSimChannel(channel), {});
    const std::vector<std::string> on = {"--model", "tovin", "--channel", channel};
    const auto with = [&](std::vector<std::string> args) {
        args.insert(args.end(), on.begin(), on.end());
        return args;
    };
    const ByteVector grip = {100, 110, 120, 130, 140, 150, 160, 170, 180, 190};
    ASSERT_EQ(velmoraCommand(with({"move", "--positions", "100,110,120,130,140,150,160,170,180,190",
                                   "--wait"}))
                  .status,
              0);
    const Outcome saved = velmoraCommand(with({"pose", "save", "grip"}));
    ASSERT_EQ(saved.status, 0) << saved.err;
    EXPECT_NE(saved.out.find("saved grip for tovin: J0=100"), std::string::npos) << saved.out;
    const Outcome json = velmoraCommand(with({"state", "--json"}));
    ASSERT_EQ(json.status, 0) << json.err;

    ASSERT_EQ(velmoraCommand(with({"move", "open", "--wait"})).status, 0);
    // --wait ends within 1 of the target; the hand goes on to it.
    const auto atGrip = [&] { return hand.body().positions(0, 10) == grip; };
    Outcome run = velmoraCommand(with({"move", "--pose", "grip", "--wait"}));
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(eventually(atGrip)) << hand.body().positions(0, 10).front();

    ASSERT_EQ(velmoraCommand(with({"move", "open", "--wait"})).status, 0);
    std::istringstream in(json.out);
    run = velmoraCommand(with({"move", "--from-json", "-", "--wait"}), in);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(eventually(atGrip)) << hand.body().positions(0, 10).front();

    const Outcome list = velmoraCommand({"pose", "list", "--model", "tovin"});
    EXPECT_EQ(list.out, "tovin: open close point grip\n") << list.err;
    run = velmoraCommand(with({"move", "--pose", "wave"}));
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.err.find("no pose 'wave' saved for tovin"), std::string::npos) << run.err;
    std::istringstream other(R"({"model": "ravel", "positions": {"raw": [1, 2]}})");
    run = velmoraCommand(with({"move", "--from-json", "-"}), other);
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.err.find("positions of a ravel, not a tovin"), std::string::npos) << run.err;
    ::unsetenv("XDG_CONFIG_HOME");
}

// The stamps are the readings' own receive times. The lines keep to the rate from the first on,
// and each reading came in after the line before it was asked for: n lines span more than n - 2
// periods, however slow the machine.
TEST(Cli, StateFollowPrintsCsvRowsWithRisingTimes) {
    struct Case {
        const char* model;
        const char* rate;
        long long count;
        double leastSpan;  // seconds from the first stamp to the last
    };
    for (const Case& c : {Case{"marlo", "50", 5, 0}, Case{"tovin", "50", 100, 1.9}}) {
        const Outcome run =
            velmoraCommand({"state", "--model", c.model, "--sim", "--channel", bus(), "--follow",
                            "--csv", "--rate", c.rate, "--count", std::to_string(c.count)});
        ASSERT_EQ(run.status, 0) << run.err;
        const auto rows = lines(run.out);
        ASSERT_EQ(rows.size(), std::size_t(c.count) + 1) << run.out;
        EXPECT_EQ(rows[0].rfind("time,J0,", 0), 0u) << rows[0];
        const auto columns = std::count(rows[0].begin(), rows[0].end(), ',');
        double last = 0;
        for (std::size_t i = 1; i < rows.size(); ++i) {
            EXPECT_EQ(std::count(rows[i].begin(), rows[i].end(), ','), columns) << rows[i];
            const double time = std::stod(rows[i]);
            EXPECT_GT(time, last) << rows[i];
            last = time;
        }
        EXPECT_GE(last - std::stod(rows[1]), c.leastSpan) << c.model << " at " << c.rate;
    }
}

TEST(Cli, MonitorOffATerminalPrintsALinePerRefresh) {
    const Outcome run = velmoraCommand({"monitor", "--model", "marlo", "--sim", "--channel", bus(),
                                        "--rate", "50", "--count", "3"});
    ASSERT_EQ(run.status, 0) << run.err;
    const auto out = lines(run.out);
    ASSERT_EQ(out.size(), 3u) << run.out;
    for (const auto& line : out) {
        EXPECT_NE(line.find("joints J0="), std::string::npos) << line;
        EXPECT_NE(line.find("faults none"), std::string::npos) << line;
        EXPECT_NE(line.find("frames/s"), std::string::npos) << line;
    }
}

TEST(Cli, RecordWritesCandumpLinesThatDecodeNamesAndReplaySends) {
    const std::string channel = bus(), log = tempPath("record.log");
    sim::SimulatedHand hand(sim::openSimChannel(channel), {});
    Outcome recorded;
    std::atomic<bool> done{false}, stop{false};
    std::thread recorder([&] {
        recorded =
            velmoraCommand({"record", "--channel", channel, "--count", "40", "-o", log}, &stop);
        done = true;
    });
    {
        VelmoraApi api(TOVIN, RIGHT, channel);
        const bool finished = eventually(
            [&] {
                api.getState();
                std::this_thread::sleep_for(5ms);
                return done.load();
            },
            30000ms);  // generous: other builds may share the machine
        EXPECT_TRUE(finished);
        stop = true;
    }
    recorder.join();
    ASSERT_EQ(recorded.status, 0) << recorded.err;
    EXPECT_NE(recorded.err.find("recorded 40 frames"), std::string::npos);

    std::ifstream in(log);
    const std::string text((std::istreambuf_iterator<char>(in)), {});
    const auto logged = lines(text);
    ASSERT_EQ(logged.size(), 40u);
    const std::regex candump("\\(\\d{10}\\.\\d{6}\\) " +
                             std::regex_replace(channel, std::regex("[.]"), "\\.") +
                             " 027#([0-9A-F]{2}){1,8}");
    for (const auto& line : logged)
        EXPECT_TRUE(std::regex_match(line, candump)) << line;

    const Outcome decoded = velmoraCommand({"decode", log, "--model", "tovin"});
    ASSERT_EQ(decoded.status, 0) << decoded.err;
    EXPECT_EQ(decoded.out.find("raw "), std::string::npos) << decoded.out;
    EXPECT_NE(decoded.out.find("request positions 0-5 (0x01)"), std::string::npos) << decoded.out;
    EXPECT_NE(decoded.out.find("reply   positions 0-5 (0x01): J0="), std::string::npos)
        << decoded.out;
    EXPECT_NE(decoded.out.find("summary: 40 frames"), std::string::npos);

    // Played back on another bus, a listener there gets the same frames in the same order.
    communication::VirtualCanBus listener("can-replay-" + uniqueBusName());
    const Outcome replayed = velmoraCommand(
        {"replay", log, "--channel", "virtual:can-replay-" + uniqueBusName(), "--speed", "50"});
    ASSERT_EQ(replayed.status, 0) << replayed.err;
    for (const auto& line : logged) {
        std::string error;
        const LoggedFrame expected = *tools::parseLogLine(line, error);
        const communication::CanMessage got = listener.recvAny();
        EXPECT_EQ(got.id, expected.id);
        ASSERT_EQ(got.len, expected.len);
        EXPECT_TRUE(std::equal(got.data.begin(), got.data.begin() + got.len, expected.data.begin()))
            << line;
    }
}

TEST(Cli, DecodeTellsRequestsWritesAndRepliesApart) {
    const std::string log = tempPath("handmade.log");
    writeFile(log,
              "(1733760000.000000) can0 027#01\n"
              "(1733760000.000500) can0 027#0180808080808080\n"
              "(1733760000.004000) can0 027#01FF00FF00FF00\n"
              "(1733760000.300000) can0 027#EE0102\n"
              "(1733760000.301000) can0 027#64\n"
              "(1733760000.302000) can0 027#640A010152152000\n"
              "(1733760000.303000) can0 027#B3C6\n"
              "(1733760000.304000) can0 027#B350010203040506\n"
              "(1733760000.305000) can0 12345678#00\n");
    const Outcome run = velmoraCommand({"decode", log, "--model", "tovin", "--gap", "100"});
    ASSERT_EQ(run.status, 0) << run.err;
    const auto out = lines(run.out);
    const char* const expected[] = {
        "request positions 0-5 (0x01)",
        "reply   positions 0-5 (0x01): J0=128 T1=128 I1=128 M1=128 R1=128 L1=128",
        "write   positions 0-5 (0x01): J0=255 T1=0",
        "raw     unknown code 0xEE: 01 02",
        "request version report (0x64)",
        "freedom=10 robot=1 number=1 side=right software=1.5 hardware=2.0",
        "write   fingertip matrix (0xB3): middle matrix read",
        "reply   fingertip matrix (0xB3): middle row 5: 1 2 3 4 5 6",
        "12345678#00",
    };
    for (std::size_t i = 0; i < std::size(expected); ++i)
        EXPECT_NE(out.at(i).find(expected[i]), std::string::npos) << out.at(i);
    EXPECT_NE(run.out.find("gaps above 100 ms: 1"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("2 not in the tovin protocol"), std::string::npos) << run.out;

    writeFile(log, "(1733760000.000000) can0 027#01\nnot a frame\n");
    const Outcome bad = velmoraCommand({"decode", log, "--model", "tovin"});
    EXPECT_EQ(bad.status, 1);
    EXPECT_NE(bad.err.find(":2: does not begin with a time stamp"), std::string::npos) << bad.err;
}

// Two hands and a stranger on one bus, with lines a classic-CAN decoder cannot take.
TEST(Cli, DecodeFiltersAndCountsWhatItCannotTake) {
    const std::string log =
        "(1733760000.000000) can0 027#01\n"
        "(1733760000.000100) can0 028#01\n"
        "(1733760000.000200) can0 7F7#01FF00FF00FF00\n"
        "(1733760000.000300) can0 028##1010203040506070809\n"
        "(1733760000.000400) can0 20000080#0000000000000000\n"
        "(1733760000.000500) can0 027#01FF0\n"
        "(1733760000.000600) can0 028#0180808080808080\n";
    struct Case {
        std::vector<std::string> filter;
        std::vector<std::string> shown;  // identifiers of the frame lines, in order
        std::string raw;                 // in the output when not empty
    };
    const Case cases[] = {
        {{},
         {"027", "028", "7F7", "028"},
         "7F7#01FF00FF00FF00     raw     not a hand's identifier"},
        {{"--side", "left"}, {"028", "028"}, ""},
        {{"--id", "0x27,0x7F7"}, {"027", "7F7"}, ""},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = {"decode", "-", "--model", "tovin"};
        args.insert(args.end(), c.filter.begin(), c.filter.end());
        std::istringstream in(log);
        const Outcome run = velmoraCommand(args, in);
        ASSERT_EQ(run.status, 0) << run.err;
        std::vector<std::string> shown;
        for (const std::string& line : lines(run.out)) {
            std::smatch m;
            if (std::regex_search(line, m, std::regex("^ *[0-9.]+  ([0-9A-F]+)#")))
                shown.push_back(m[1]);
        }
        EXPECT_EQ(shown, c.shown) << run.out;
        EXPECT_NE(run.out.find("3 lines not taken"), std::string::npos) << run.out;
        EXPECT_NE(run.out.find("(line 4, CAN FD frames are not supported): "), std::string::npos)
            << run.out;
        EXPECT_NE(run.out.find("(line 5, error frame): "), std::string::npos) << run.out;
        if (!c.raw.empty()) {
            EXPECT_NE(run.out.find(c.raw), std::string::npos) << run.out;
        }
    }

    const Outcome folder = velmoraCommand({"decode", ::testing::TempDir(), "--model", "tovin"});
    EXPECT_EQ(folder.status, 1);
    EXPECT_NE(folder.err.find("is not a regular file"), std::string::npos) << folder.err;
    const Outcome badId = velmoraCommand({"decode", "-", "--model", "tovin", "--id", "0x27x"});
    EXPECT_EQ(badId.status, 2);
    EXPECT_NE(badId.err.find("--id '0x27x' is not a CAN identifier"), std::string::npos);
}

// decode - prints each frame as its line arrives, not at the end of the stream.
TEST(Cli, DecodeOfStandardInputPrintsAsFramesArrive) {
    struct Pipe : std::streambuf {
        std::mutex mutex;
        std::condition_variable more;
        std::string pending;
        bool closed = false;
        char current = 0;
        int_type underflow() override {
            std::unique_lock<std::mutex> lock(mutex);
            more.wait(lock, [&] { return closed || !pending.empty(); });
            if (pending.empty())
                return traits_type::eof();
            current = pending[0];
            pending.erase(0, 1);
            setg(&current, &current, &current + 1);
            return traits_type::to_int_type(current);
        }
        void write(const std::string& text, bool close = false) {
            std::lock_guard<std::mutex> lock(mutex);
            pending += text;
            closed = close;
            more.notify_all();
        }
    } pipe;
    std::istream in(&pipe);
    struct Sink : std::stringbuf {
        std::atomic<int> flushes{0};
        int sync() override {
            ++flushes;
            return 0;
        }
    } sink;
    std::ostream out(&sink);
    std::ostringstream err;
    static const std::atomic<bool> never{false};
    int status = -1;
    std::thread decoder([&] {
        status = tools::runCli({"velmora", "decode", "-", "--model", "tovin"}, in, out, err, never);
    });
    pipe.write("(1733760000.000000) can0 027#01\n");
    EXPECT_TRUE(eventually([&] { return sink.flushes > 0; }));
    pipe.write("", true);
    decoder.join();
    EXPECT_EQ(status, 0) << err.str();
    EXPECT_NE(sink.str().find("request positions 0-5 (0x01)"), std::string::npos) << sink.str();
}

TEST(CanLog, KernelStampsAndDropsComeFromTheAncillaryData) {
    alignas(
        cmsghdr) char control[CMSG_SPACE(sizeof(timeval)) + CMSG_SPACE(sizeof(std::uint32_t))]{};
    msghdr message{};
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    cmsghdr* c = CMSG_FIRSTHDR(&message);
    c->cmsg_level = SOL_SOCKET;
    c->cmsg_type = SCM_TIMESTAMP;
    c->cmsg_len = CMSG_LEN(sizeof(timeval));
    const timeval stamp{1733760000, 123456};
    std::memcpy(CMSG_DATA(c), &stamp, sizeof stamp);
    c = CMSG_NXTHDR(&message, c);
    c->cmsg_level = SOL_SOCKET;
    c->cmsg_type = SO_RXQ_OVFL;
    c->cmsg_len = CMSG_LEN(sizeof(std::uint32_t));
    const std::uint32_t drops = 17;
    std::memcpy(CMSG_DATA(c), &drops, sizeof drops);

    LoggedFrame frame;
    std::uint32_t dropped = 0;
    tools::takeAncillary(message, frame, dropped);
    EXPECT_EQ(frame.seconds, 1733760000u);
    EXPECT_EQ(frame.microseconds, 123456u);
    EXPECT_EQ(dropped, 17u);

    message.msg_controllen = 0;  // no stamp: the clock now
    LoggedFrame unstamped;
    tools::takeAncillary(message, unstamped, dropped);
    EXPECT_GT(unstamped.seconds, 1733760000u);
}

TEST(Cli, RecordKeepsOnlyTheIdentifiersAsked) {
    const std::string channel = bus();
    communication::VirtualCanBus other(channel.substr(8));
    Outcome recorded;
    std::atomic<bool> done{false};
    std::thread recorder([&] {
        recorded =
            velmoraCommand({"record", "--channel", channel, "--count", "5", "--id", "0x7F7"});
        done = true;
    });
    EXPECT_TRUE(eventually(
        [&] {
            other.send({0x01}, RIGHT, false);
            other.send({0x02, 0x03}, 0x7F7, false);
            std::this_thread::sleep_for(2ms);
            return done.load();
        },
        30000ms));
    recorder.join();
    ASSERT_EQ(recorded.status, 0) << recorded.err;
    const auto logged = lines(recorded.out);
    ASSERT_EQ(logged.size(), 5u);
    for (const auto& line : logged)
        EXPECT_NE(line.find(" 7F7#0203"), std::string::npos) << line;
}

TEST(CanLog, LinesAreWhatCandumpWrites) {
    struct Case {
        LoggedFrame frame;
        std::string line;
    };
    LoggedFrame standard;
    standard.seconds = 1733760000;
    standard.microseconds = 123456;
    standard.interface = "can0";
    standard.id = 0x27;
    standard.len = 3;
    standard.data = {0x01, 0xFF, 0x80};
    LoggedFrame extended = standard;
    extended.extended = true;
    extended.id = 0x1ABCDEF;
    extended.len = 0;
    extended.microseconds = 7;
    LoggedFrame remote = standard;
    remote.remote = true;
    remote.len = 2;
    const Case cases[] = {
        {standard, "(1733760000.123456) can0 027#01FF80"},
        {extended, "(1733760000.000007) can0 01ABCDEF#"},
        {remote, "(1733760000.123456) can0 027#R2"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(tools::formatLogLine(c.frame), c.line);
        std::string error;
        const auto parsed = tools::parseLogLine(c.line, error);
        ASSERT_TRUE(parsed) << error;
        EXPECT_EQ(tools::formatLogLine(*parsed), c.line);
    }
    for (const char* bad : {"", "(1.5) can0 027#01", "(1733760000.123456) can0 27#01",
                            "(1733760000.123456) can0 027#0", "(1733760000.123456) can0 027#0G",
                            "(1733760000.123456) can0 800#01", "(1733760000.123456) can0",
                            "(1733760000.123456) can0 027#010203040506070809"}) {
        std::string error;
        EXPECT_FALSE(tools::parseLogLine(bad, error)) << bad;
        EXPECT_FALSE(error.empty());
    }
}

// The table the decoder reads and the simulated hands agree: every reply a simulated hand sends
// to a request of its model's table is a reply of a known command there.
TEST(Protocol, EverySimulatedReplyIsAKnownReply) {
    for (VELMORA model : {KESTA, MARLO, TOVIN, RAVEL, SABRE, ZENIT}) {
        const std::string name = "can-" + uniqueBusName() + models::modelName(model);
        sim::SimConfig config;
        config.model = model;
        sim::SimulatedHand hand(sim::openSimChannel("virtual:" + name), config);
        communication::VirtualCanBus host(name);
        host.setReceiveTimeout(0, 20000);
        tools::FrameDecoder decoder(model);
        std::size_t replies = 0;
        for (const protocol::Command& c : protocol::commands(model)) {
            if (!c.request)
                continue;
            LoggedFrame request;
            request.id = RIGHT;
            request.len = 1;
            request.data[0] = c.code;
            EXPECT_EQ(decoder.decode(request).direction, tools::FrameMeaning::Direction::Request);
            host.send({c.code}, RIGHT, false);
            while (true) {
                communication::CanMessage m;
                try {
                    m = host.recvAny();
                } catch (const std::runtime_error&) {
                    break;  // no (further) answer
                }
                LoggedFrame reply;
                reply.id = m.id;
                reply.len = m.len;
                reply.data = m.data;
                const tools::FrameMeaning meaning = decoder.decode(reply);
                ASSERT_NE(meaning.command, nullptr)
                    << models::modelName(model) << " code " << int(m.data[0]);
                EXPECT_EQ(meaning.direction, tools::FrameMeaning::Direction::Reply)
                    << models::modelName(model) << " " << meaning.command->name;
                if (meaning.command->reply.count &&
                    meaning.command->quantity != protocol::Quantity::Matrix) {
                    EXPECT_EQ(m.len, 1u + meaning.command->reply.count)
                        << models::modelName(model) << " " << meaning.command->name;
                }
                ++replies;
            }
        }
        EXPECT_GT(replies, 5u) << models::modelName(model);
    }
}

// The view fits the terminal: the header folds instead of running into the joints, every joint
// has a cell of its own (or the title counts those without one), nothing reaches past the right
// edge or the last row.
TEST(MonitorLayout, FitsEveryModelOnTerminalsDownTo60By15) {
    struct Size {
        int columns, rows;
        bool everyJoint;
    };
    const Size sizes[] = {{tools::kMonitorColumns, tools::kMonitorRows, true},
                          {80, 24, true},
                          {120, 40, true},
                          {60, 8, false}};
    for (const Size& size : sizes) {
        for (VELMORA model : models::everyHand()) {
            const std::string name = models::modelName(model);
            SCOPED_TRACE(name + " on " + std::to_string(size.columns) + "x" +
                         std::to_string(size.rows));
            const std::vector<std::string> parts = {
                "velmora monitor  " + name + " right on virtual:can0", "10.0 Hz", "1000 frames/s",
                "last reply 999 ms", "CHANNEL DOWN"};
            const tools::MonitorLayout l =
                tools::layoutMonitor(model, size.columns, size.rows, parts);
            std::string header;
            for (const std::string& line : l.header) {
                EXPECT_LE(int(line.size()), size.columns) << line;
                header += line + "\n";
            }
            for (const std::string& part : parts)
                EXPECT_NE(header.find(part), std::string::npos) << header;
            EXPECT_LE(int(l.header.size()), l.jointsTitleRow) << "the header runs into the joints";

            EXPECT_EQ(l.shown + l.more, models::info(model).joints);
            if (size.everyJoint) {
                EXPECT_EQ(l.more, 0u);
            } else {
                EXPECT_GT(l.more, 0u);
                EXPECT_NE(l.jointsTitle.find("+" + std::to_string(l.more) + " more"),
                          std::string::npos)
                    << l.jointsTitle;
            }
            EXPECT_GE(l.barWidth, 8);
            EXPECT_LE(9 + l.barWidth, l.cellWidth - (l.jointColumns > 1 ? 1 : 0));
            std::set<std::pair<int, int>> cells;
            for (std::size_t j = 0; j < l.shown; ++j) {
                EXPECT_GT(l.cellRow(j), l.jointsTitleRow) << j;
                EXPECT_LT(l.cellRow(j), l.lowerRow) << j;
                EXPECT_LE(l.cellColumn(j) + 9 + l.barWidth, size.columns) << j;
                cells.insert({l.cellRow(j), l.cellColumn(j)});
            }
            EXPECT_EQ(cells.size(), l.shown);
            EXPECT_LE(l.lowerRow + l.temperatureLines + l.faultLines, l.problemRow);
            EXPECT_EQ(l.problemRow, size.rows - 1);
        }
    }
}

TEST(MonitorLayout, ItemsFoldIntoLinesAndCountWhatDoesNotFit) {
    struct Case {
        std::string prefix;
        std::vector<std::string> items;
        int width, maxLines;
        std::vector<std::string> lines;
    };
    const Case cases[] = {
        {"faults: ", {"none"}, 60, 1, {"faults: none"}},
        {"t: ", {"A=1", "B=2", "C=3"}, 9, 3, {"t: A=1", "  B=2 C=3"}},
        {"t: ", {"A=1", "B=2", "C=3", "D=4"}, 14, 1, {"t: A=1 +3 more"}},
        {"t: ", {"A=1", "B=2", "C=3", "D=4", "E=5"}, 9, 2, {"t: A=1", "  +4 more"}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(tools::foldItems(c.prefix, c.items, c.width, c.maxLines), c.lines)
            << ::testing::PrintToString(c.items) << " in " << c.width;
}
