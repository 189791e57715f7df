// The velmora command's own tools against can-utils, python-can and a real terminal: what
// `velmora record` writes is what `candump -L` writes, canplayer and python-can read it, decode
// names a real exchange, and monitor draws and restores a terminal under tmux.
#include <gtest/gtest.h>
#include <unistd.h>

#include <csignal>
#include <fstream>
#include <regex>

#include "support/Kernel.h"

using namespace velmora::integration;

namespace {

constexpr char kInterface[] = "vcan0";
constexpr char kPython[] = "/usr/bin/python3";

// Strips "(SECONDS.MICROSECONDS) ": what two recorders of one bus must agree on.
std::string withoutTime(const std::string& line) {
    const auto close = line.find(") ");
    return close == std::string::npos ? line : line.substr(close + 2);
}

/// Takes a recorder's lines up to and including the first that contains `marker`.
std::vector<std::string> linesUntil(Child& child, const std::string& marker) {
    std::vector<std::string> lines;
    while (auto line = child.nextLine(30000ms)) {
        lines.push_back(*line);
        if (line->find(marker) != std::string::npos)
            return lines;
    }
    ADD_FAILURE() << "no " << marker << " in\n" << child.transcript();
    return lines;
}

/// The frames between the last start marker and the end marker, without time stamps.
std::vector<std::string> between(const std::vector<std::string>& lines) {
    std::vector<std::string> frames;
    for (const auto& line : lines) {
        if (line.find("7F1#") != std::string::npos) {
            frames.clear();
        } else if (line.find("7F2#") == std::string::npos) {
            frames.push_back(withoutTime(line));
        }
    }
    return frames;
}

std::string outputOf(const std::vector<std::string>& argv,
                     std::chrono::milliseconds deadline = 30000ms) {
    Child child(argv);
    std::string text;
    while (auto line = child.nextLine(deadline))
        text += *line + "\n";
    child.wait(deadline);
    return text;
}

}  // namespace

TEST(Command, RecordAgreesWithCandumpAndCanUtilsAndPythonReadIt) {
    VELMORA_SKIP_IF(needUp({kInterface}));
    VELMORA_SKIP_IF(needPrograms({"candump", "canplayer"}));
    TempDir dir;
    RawSocket bus(kInterface);

    Child candump({"candump", "-L", kInterface});
    Child record({VELMORA_COMMAND, "record", "--channel", kInterface});
    // Both are listening once each has recorded a start marker.
    bool candumpReady = false, recordReady = false;
    std::vector<std::string> candumpLines, recordLines;
    ASSERT_TRUE(pollUntil(
        [&] {
            bus.send(0x7F1, {0xA5});
            for (auto [child, ready, lines] : {std::tuple{&candump, &candumpReady, &candumpLines},
                                               std::tuple{&record, &recordReady, &recordLines}}) {
                while (auto line = child->nextLine(0ms)) {
                    lines->push_back(*line);
                    *ready = *ready || line->find("7F1#A5") != std::string::npos;
                }
            }
            return candumpReady && recordReady;
        },
        kStartDeadline))
        << candump.transcript() << record.transcript();

    // Frames of every shape, then a real exchange: velmora info against velmora sim.
    bus.send(0x027, {});
    bus.send(0x123, {0x01, 0xFF, 0x80});
    bus.send(0x7FF, {0, 1, 2, 3, 4, 5, 6, 7});
    bus.send(0x1ABCDEF | 0x80000000u, {0xDE, 0xAD});  // extended identifier
    {
        Child sim({VELMORA_COMMAND, "sim", "--model", "tovin", "--side", "right", "--channel",
                   kInterface});
        ASSERT_TRUE(sim.waitForLine([](const std::string& l) { return l.find("simulated") == 0; },
                                    kStartDeadline));
        EXPECT_EQ(run({VELMORA_COMMAND, "info", "--model", "tovin", "--channel", kInterface,
                       "--timeout", "5000"},
                      60000ms),
                  0);
        sim.stop();
    }
    bus.send(0x7F2, {0x5A});

    for (auto [child, lines] :
         {std::pair{&candump, &candumpLines}, std::pair{&record, &recordLines}}) {
        const auto rest = linesUntil(*child, "7F2#5A");
        lines->insert(lines->end(), rest.begin(), rest.end());
        child->signal(SIGINT);
        EXPECT_TRUE(child->wait(30000ms));
    }
    const auto fromCandump = between(candumpLines), fromRecord = between(recordLines);
    EXPECT_EQ(fromRecord, fromCandump) << "frame for frame, byte for byte";
    ASSERT_GT(fromRecord.size(), 10u);
    EXPECT_EQ(fromRecord[0], "vcan0 027#");
    EXPECT_EQ(fromRecord[1], "vcan0 123#01FF80");
    EXPECT_EQ(fromRecord[3], "vcan0 01ABCDEF#DEAD");
    const std::regex stamp("\\(\\d{10}\\.\\d{6}\\) vcan0 .*");
    for (const auto& line : recordLines)
        EXPECT_TRUE(std::regex_match(line, stamp)) << line;

    // Logs of velmora's lines and of the exchange in candump's.
    const std::string log = dir.path() + "/record.log", exchange = dir.path() + "/exchange.log";
    std::size_t frames = 0;
    {
        std::ofstream out(log), hand(exchange);
        for (const auto& line : recordLines) {
            if (line.find("7F1#") != std::string::npos || line.find("7F2#") != std::string::npos)
                continue;
            out << line << "\n";
            ++frames;
        }
        for (const auto& line : candumpLines) {
            if (line.find(" 027#") != std::string::npos &&
                line.find("027#\n") == std::string::npos && withoutTime(line) != "vcan0 027#")
                hand << line << "\n";
        }
    }

    // decode names every frame of the exchange: none is left raw.
    const std::string decoded = outputOf({VELMORA_COMMAND, "decode", exchange, "--model", "tovin"});
    EXPECT_NE(decoded.find("request version report (0x64)"), std::string::npos) << decoded;
    EXPECT_NE(decoded.find("reply   version report (0x64)"), std::string::npos) << decoded;
    EXPECT_EQ(decoded.find("raw "), std::string::npos) << decoded;

    // python-can's reader takes velmora's log frame for frame.
    if (::access(kPython, X_OK) == 0) {
        const std::string counted =
            outputOf({kPython, "-c",
                      "import can, sys\n"
                      "frames = list(can.CanutilsLogReader(sys.argv[1]))\n"
                      "print(len(frames), frames[1].arbitration_id, frames[1].data.hex(),"
                      " frames[3].is_extended_id)\n",
                      log},
                     120000ms);  // python-can loads slowly in an emulated machine
        EXPECT_EQ(counted, std::to_string(frames) + " 291 01ff80 True\n");
    }

    // canplayer plays it back: candump sees the same frames again.
    Candump again(kInterface);
    ASSERT_EQ(run({"canplayer", "-I", log}, 60000ms), 0);
    const auto replayed = again.finish();
    EXPECT_EQ(replayed.size(), frames);
    ASSERT_FALSE(replayed.empty());
    EXPECT_EQ(toText(replayed[1]), "123#01FF80");
}

TEST(Command, MonitorUnderTmuxShowsTheJointsAndRestoresTheTerminal) {
    VELMORA_SKIP_IF(needPrograms({"tmux"}));
    const std::string socket = "velmora-monitor-test";
    auto tmux = [&](std::vector<std::string> args) {
        args.insert(args.begin(), {"tmux", "-L", socket});
        return args;
    };
    ASSERT_EQ(run(tmux({"new-session", "-d", "-s", "m", "-x", "100", "-y", "40", "sh"})), 0);
    auto screen = [&] { return outputOf(tmux({"capture-pane", "-p", "-t", "m"})); };
    for (const char* quit : {"q", "C-c"}) {
        ASSERT_EQ(
            run(tmux({"send-keys", "-t",
                      "m",  // The wrapper ignores Ctrl-C itself (the monitor sets its own
                            // handler), so that it outlives the monitor and says how it ended.
                      "clear; sh -c 'trap \"\" INT; " VELMORA_COMMAND
                      " monitor --model tovin --sim --rate 5; echo monitor-ended-$?'",
                      "Enter"})),
            0);
        std::string shown;
        EXPECT_TRUE(pollUntil(
            [&] {
                shown = screen();
                return shown.find("joints (0..255)") != std::string::npos &&
                       shown.find(" T1 ") != std::string::npos;
            },
            60000ms, 200ms))
            << shown;
        EXPECT_NE(shown.find("velmora monitor  tovin right"), std::string::npos) << shown;
        ASSERT_EQ(run(tmux({"send-keys", "-t", "m", quit})), 0);
        EXPECT_TRUE(pollUntil(
            [&] {
                shown = screen();
                return shown.find("monitor-ended-") != std::string::npos;
            },
            60000ms, 200ms))
            << quit << "\n"
            << shown;
        // The view is gone and the terminal echoes and reads lines again.
        EXPECT_EQ(shown.find("joints (0..255)"), std::string::npos) << shown;
        ASSERT_EQ(
            run(tmux({"send-keys", "-t", "m",
                      "clear; stty -a | tr ' ' '\\n' | grep -x -e echo -e icanon | tr '\\n' ,",
                      "Enter"})),
            0);
        EXPECT_TRUE(pollUntil(
            [&] {
                return screen().find("icanon,echo,") != std::string::npos ||
                       screen().find("echo,icanon,") != std::string::npos;
            },
            30000ms, 200ms))
            << screen();
    }
    run(tmux({"kill-server"}));
}
