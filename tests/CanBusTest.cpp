// The SocketCAN channel's logic, run against a fake operating system.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>
#include <cstdlib>
#include <fstream>
#include <limits>

#include "support/FakeCanSystem.h"
#include "velmora/CanBus.h"
#include "velmora/HandException.h"

using velmora::communication::CanBus;
using velmora::communication::CanMessage;
using velmora::communication::detail::CanBusAccess;
using velmora::communication::detail::posixCanSystem;
using velmora::testing::FakeCanSystem;
using Calls = std::vector<std::string>;

namespace {

std::unique_ptr<CanBus> open(const std::shared_ptr<FakeCanSystem>& os,
                             const std::string& name = "can0", int bitRate = 1000000,
                             VELMORA model = TOVIN) {
    return CanBusAccess::open(name, bitRate, model, os);
}

const std::string kSocketCall = "socket 29 3 1";  // PF_CAN, SOCK_RAW, CAN_RAW
const std::string kBindCall = "bind 7 family 29 index 4";
const std::string kTimeoutCall = "timeout 7 1s 0us";

Calls upCommands(const std::string& name, const std::string& rate) {
    return {
        "run [sudo] [ip] [link] [set] [" + name + "] [down]", "sleep 100ms",
        "run [sudo] [ip] [link] [set] [" + name + "] [up] [type] [can] [bitrate] [" + rate + "]"};
}

}  // namespace

TEST(CanBusOpen, UpInterfaceRunsNoCommand) {
    auto os = std::make_shared<FakeCanSystem>();
    ::testing::internal::CaptureStdout();
    auto bus = open(os);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "CAN interface can0 opened successfully\n");
    EXPECT_EQ(os->calls(), (Calls{kSocketCall, "index 7", "flags 7", kBindCall, kTimeoutCall}));

    bus.reset();
    EXPECT_EQ(os->calls().back(), "close 7");
}

TEST(CanBusOpen, DownInterfaceIsBroughtUpWithoutAShell) {
    struct Case {
        int bitRate;
        std::string inCommand;
    };
    for (const Case& c : {Case{0, "1000000"}, Case{-5, "1000000"}, Case{500000, "500000"}}) {
        auto os = std::make_shared<FakeCanSystem>();
        os->interfaceUp = false;
        ::testing::internal::CaptureStderr();
        auto bus = open(os, "can1", c.bitRate);
        EXPECT_EQ(::testing::internal::GetCapturedStderr(), "") << "no warning when ip succeeds";

        Calls expected{kSocketCall, "index 7", "flags 7"};
        for (const auto& call : upCommands("can1", c.inCommand))
            expected.push_back(call);
        expected.push_back(kBindCall);
        expected.push_back(kTimeoutCall);
        EXPECT_EQ(os->calls(), expected) << "bit rate " << c.bitRate;
    }
}

TEST(CanBusOpen, FailedFlagsQueryCountsAsDown) {
    auto os = std::make_shared<FakeCanSystem>();
    os->failFlags = true;
    auto bus = open(os);
    EXPECT_EQ(os->calls()[3], upCommands("can0", "1000000")[0]);
}

TEST(CanBusOpen, FailedConfigurationIsOnlyAWarning) {
    auto os = std::make_shared<FakeCanSystem>();
    os->interfaceUp = false;
    os->runStatuses = {1, 2};  // down fails (ignored), up fails (warned)
    ::testing::internal::CaptureStderr();
    ::testing::internal::CaptureStdout();
    auto bus = open(os);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "Warning: Failed to configure CAN interface\n");
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "CAN interface can0 opened successfully\n");
    EXPECT_EQ(os->calls().back(), kTimeoutCall);
}

TEST(CanBusOpen, InterfaceNameIsOneArgumentWhateverItHolds) {
    auto os = std::make_shared<FakeCanSystem>();
    os->interfaceUp = false;
    const std::string name = "can0;touch /tmp/x";
    auto bus = open(os, name);
    const Calls calls = os->calls();
    EXPECT_EQ(calls[3], "run [sudo] [ip] [link] [set] [can0;touch /tmp/x] [down]");
    EXPECT_EQ(
        calls[5],
        "run [sudo] [ip] [link] [set] [can0;touch /tmp/x] [up] [type] [can] [bitrate] [1000000]");
}

TEST(CanBusOpen, KernelSeesAtMostFifteenCharactersCommandsTheWholeName) {
    auto os = std::make_shared<FakeCanSystem>();
    os->interfaceUp = false;
    const std::string name = "abcdefghijklmnopqrst";  // 20 characters
    ::testing::internal::CaptureStdout();
    auto bus = open(os, name);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(),
              "CAN interface " + name + " opened successfully\n");
    EXPECT_EQ(os->requestedNames(), (Calls{"abcdefghijklmno", "abcdefghijklmno"}));
    EXPECT_EQ(os->calls()[3], "run [sudo] [ip] [link] [set] [" + name + "] [down]");
}

TEST(CanBusOpen, EveryFailureClosesTheSocketBeforeThrowing) {
    struct Case {
        std::atomic<bool> FakeCanSystem::*fail;
        std::string message;
        Calls calls;
    };
    const Case cases[] = {
        {&FakeCanSystem::failSocket, "Failed to create CAN socket", {kSocketCall}},
        {&FakeCanSystem::failIndex,
         "Failed to get CAN interface index",
         {kSocketCall, "index 7", "close 7"}},
        {&FakeCanSystem::failBind,
         "Failed to bind CAN socket",
         {kSocketCall, "index 7", "flags 7", kBindCall, "close 7"}},
        {&FakeCanSystem::failTimeout,
         "Failed to set receive timeout",
         {kSocketCall, "index 7", "flags 7", kBindCall, kTimeoutCall, "close 7"}},
    };
    for (const Case& c : cases) {
        auto os = std::make_shared<FakeCanSystem>();
        (*os).*c.fail = true;
        os->failError = ENETDOWN;
        ::testing::internal::CaptureStdout();
        try {
            open(os);
            ADD_FAILURE() << "no exception for " << c.message;
        } catch (const velmora::ChannelException& error) {
            EXPECT_EQ(std::string(error.what()), c.message);
            EXPECT_EQ(error.errorNumber(), ENETDOWN) << c.message;
            EXPECT_EQ(error.interfaceName(), "can0");
        }
        EXPECT_EQ(::testing::internal::GetCapturedStdout(), "") << c.message;
        EXPECT_EQ(os->calls(), c.calls) << c.message;
    }
}

TEST(CanBusSend, WritesOneFrameThenPaces) {
    struct Case {
        VELMORA model;
        std::vector<std::uint8_t> data;
        Calls pacing;  // the sleeps after the write
    };
    velmora::Common::current_hand_version = 1.0f;
    const Case cases[] = {
        {TOVIN, {0x01, 1, 2, 3, 4, 5, 6}, {"sleep 3ms"}},
        {TOVIN, {0xB1}, {"sleep 3ms", "sleep 25ms"}},
        {ZENIT, {0x45, 9}, {"sleep 3ms", "sleep 2ms"}},
        {ZENIT, {}, {"sleep 3ms"}},
        {KESTA, {0xB1, 0xC6}, {"sleep 3ms"}},
    };
    for (const Case& c : cases) {
        auto os = std::make_shared<FakeCanSystem>();
        auto bus = open(os, "can0", 1000000, c.model);
        const std::size_t before = os->calls().size();
        bus->send(c.data, 0x28, false);

        Calls expected{"write 7"};
        expected.insert(expected.end(), c.pacing.begin(), c.pacing.end());
        const Calls calls = os->calls();
        EXPECT_EQ(Calls(calls.begin() + static_cast<long>(before), calls.end()), expected);

        ASSERT_EQ(os->written().size(), 1u);
        const can_frame frame = os->written()[0];
        EXPECT_EQ(frame.can_id, 0x28u);
        ASSERT_EQ(frame.can_dlc, c.data.size());
        EXPECT_TRUE(std::equal(c.data.begin(), c.data.end(), frame.data));
    }
}

TEST(CanBusSend, OverlongPayloadIsNeverWritten) {
    auto os = std::make_shared<FakeCanSystem>();
    auto bus = open(os);
    const std::size_t before = os->calls().size();
    ::testing::internal::CaptureStdout();
    bus->send({0x85, 1, 2, 3, 4, 5, 6, 7, 8}, 0x27, false);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(),
              "CAN frame not sent: 9 data bytes, a frame holds at most 8\n");
    EXPECT_EQ(os->calls().size(), before);
}

TEST(CanBusSend, ShortWriteIsReportedAndPacingStillRuns) {
    auto os = std::make_shared<FakeCanSystem>();
    auto bus = open(os);
    os->shortWrite = 4;
    ::testing::internal::CaptureStdout();
    bus->send({0x01}, 0x27, false);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "Failed to send CAN frame\n");
    EXPECT_EQ(os->calls().back(), "sleep 3ms");
}

TEST(CanBusRecv, KeepsOnlyFramesOfItsIdentifier) {
    auto os = std::make_shared<FakeCanSystem>();
    auto bus = open(os);
    os->framesToRead = {FakeCanSystem::frame(0x27, {0x01, 2, 3}),
                        FakeCanSystem::frame(0x28 | CAN_EFF_FLAG, {0x05}),
                        FakeCanSystem::frame(0x28, {0x64, 10, 1, 2, 'R', 0x15, 0x20, 0xFF}),
                        FakeCanSystem::frame(0x28, {})};
    const std::uint32_t id = 0x28;

    for (int otherFrames = 0; otherFrames < 2; ++otherFrames) {
        const CanMessage other = bus->recv(id);
        EXPECT_EQ(other.id, 0u);
        EXPECT_EQ(other.len, 0u);
        EXPECT_EQ(other.data, (std::array<std::uint8_t, 8>{}));
    }
    const CanMessage version = bus->recv(id);
    EXPECT_EQ(version.id, 0x28u);
    EXPECT_EQ(version.len, 8u);
    EXPECT_EQ(version.data, (std::array<std::uint8_t, 8>{0x64, 10, 1, 2, 'R', 0x15, 0x20, 0xFF}));

    const CanMessage empty = bus->recv(id);
    EXPECT_EQ(empty.id, 0x28u);
    EXPECT_EQ(empty.len, 0u);

    try {
        bus->recv(id);
        ADD_FAILURE() << "a read without a frame must throw";
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(), "Failed to receive CAN frame");
    }
}

TEST(CanBusRecv, LengthNeverExceedsTheFrame) {
    auto os = std::make_shared<FakeCanSystem>();
    auto bus = open(os);
    can_frame frame = FakeCanSystem::frame(0x27, {1, 2, 3, 4, 5, 6, 7, 8});
    frame.can_dlc = 15;  // a malformed length from a driver
    os->framesToRead = {frame};
    EXPECT_EQ(bus->recv(0x27).len, 8u);
}

TEST(CanBusTimeout, SetsTheSocketOptionOrThrows) {
    auto os = std::make_shared<FakeCanSystem>();
    auto bus = open(os);
    bus->setReceiveTimeout(0, 250000);
    EXPECT_EQ(os->calls().back(), "timeout 7 0s 250000us");

    os->failTimeout = true;
    EXPECT_THROW(
        {
            try {
                bus->setReceiveTimeout(2, 0);
            } catch (const std::runtime_error& e) {
                EXPECT_STREQ(e.what(), "Failed to set receive timeout");
                throw;
            }
        },
        std::runtime_error);
}

TEST(CanBusStatistics, FirstCallReportsOneThenWaitsForASecond) {
    auto os = std::make_shared<FakeCanSystem>();
    auto bus = open(os);
    ::testing::internal::CaptureStdout();
    bus->updateSendRate();
    bus->updateSendRate();
    bus->updateReceiveRate();
    EXPECT_EQ(::testing::internal::GetCapturedStdout(),
              "CAN帧发送速率: 1 帧/秒\nCAN帧接收速率: 1 帧/秒\n");
}

TEST(CanBusTime, MillisecondTimeHasThreeDigits) {
    EXPECT_THAT(CanBus::printMillisecondTime(),
                ::testing::MatchesRegex(
                    "[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}\\.[0-9]{3}"));
}

// The real operating-system seam: ip runs through sudo with separate arguments, never a shell.
TEST(PosixCanSystem, RunsCommandsWithoutAShell) {
    char dir[] = "/tmp/velmora-run-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string bin = dir;
    const std::string marker = bin + "/marker";
    {
        std::ofstream sudo(bin + "/sudo");
        sudo << "#!/bin/sh\n"
                "printf '%s\\n' \"$#\" \"$@\" > '"
             << bin
             << "/args'\n"
                "echo noise >&2\n"
                "exit 3\n";
    }
    ASSERT_EQ(chmod((bin + "/sudo").c_str(), 0755), 0);

    const std::string oldPath = std::getenv("PATH") ? std::getenv("PATH") : "";
    setenv("PATH", (bin + ":" + oldPath).c_str(), 1);
    ::testing::internal::CaptureStderr();
    const int status =
        posixCanSystem()->run({"sudo", "ip", "link", "set", "can0;touch " + marker, "down"});
    const std::string stderrText = ::testing::internal::GetCapturedStderr();
    const int missing = posixCanSystem()->run({"velmora-no-such-program"});
    setenv("PATH", oldPath.c_str(), 1);

    EXPECT_EQ(status, 3);
    EXPECT_EQ(missing, 127);
    EXPECT_EQ(stderrText, "") << "the command's standard error is discarded";
    std::ifstream args(bin + "/args");
    std::stringstream text;
    text << args.rdbuf();
    EXPECT_EQ(text.str(), "5\nip\nlink\nset\ncan0;touch " + marker + "\ndown\n");
    struct stat st;
    EXPECT_NE(stat(marker.c_str(), &st), 0) << "the name was executed";

    std::remove((bin + "/args").c_str());
    std::remove((bin + "/sudo").c_str());
    rmdir(dir);
}

// Odd interface names, one test each: the kernel sees at most the first fifteen bytes, `ip`
// sees the whole name as one argument, and a name that `ip` or the kernel would take for another
// is refused before any system call.
struct OddName {
    const char* what;
    std::string name;
    std::string refusal;  // empty: opened
};

void PrintTo(const OddName& row, std::ostream* os) {
    *os << row.what;
}

class CanBusOddName : public ::testing::TestWithParam<OddName> {};

TEST_P(CanBusOddName, IsOneArgumentOrRefusedBeforeAnySystemCall) {
    const OddName& c = GetParam();
    auto os = std::make_shared<FakeCanSystem>();
    os->interfaceUp = false;
    ::testing::internal::CaptureStdout();
    if (!c.refusal.empty()) {
        try {
            open(os, c.name);
            ADD_FAILURE() << "not refused";
        } catch (const std::invalid_argument& error) {
            EXPECT_EQ(error.what(), c.refusal);
        }
        EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
        EXPECT_EQ(os->calls(), Calls{}) << "a refused name reaches no system call";
        return;
    }
    auto bus = open(os, c.name);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(),
              "CAN interface " + c.name + " opened successfully\n");
    const std::string kernelName = c.name.substr(0, IFNAMSIZ - 1);
    EXPECT_EQ(os->requestedNames(), (Calls{kernelName, kernelName}));
    const Calls calls = os->calls();
    ASSERT_EQ(calls.size(), 8u);
    EXPECT_EQ(Calls(calls.begin() + 3, calls.begin() + 6), upCommands(c.name, "1000000"));
}

INSTANTIATE_TEST_SUITE_P(
    Table, CanBusOddName,
    ::testing::Values(
        OddName{"Empty", "", ""}, OddName{"TwoHundredCharacters", std::string(200, 'n'), ""},
        OddName{"AMegabyte", std::string(1 << 20, 'c'), ""},
        OddName{"NonAscii", "can\xc3\xa9\xe2\x82\xac\xff", ""},
        OddName{"Semicolon", "can0;touch /tmp/velmora-pwned", ""},
        OddName{"CommandSubstitution", "$(touch x)`id`", ""},
        OddName{"PipeAndRedirection", "a|b&c>d<e", ""},
        OddName{"SpacesAndQuotes", "can 0 'x' \"y\"", ""},
        OddName{"EmbeddedNul", std::string("can0\0evil", 9),
                "Invalid CAN interface name \"can0?evil\": it contains a NUL character"},
        OddName{"Option", "-can0", "Invalid CAN interface name \"-can0\": it begins with '-'"},
        OddName{"LongOption", "--help",
                "Invalid CAN interface name \"--help\": it begins with '-'"},
        OddName{"DashAlone", "-", "Invalid CAN interface name \"-\": it begins with '-'"},
        OddName{
            "AMegabyteOfDashes", std::string(1 << 20, '-'),
            "Invalid CAN interface name \"" + std::string(32, '-') + "...\": it begins with '-'"}),
    [](const ::testing::TestParamInfo<OddName>& row) { return std::string(row.param.what); });

TEST(CanBusOpen, BitRatesOutOfRangeFallBackOrPassThroughAsNumbers) {
    const std::pair<int, std::string> cases[] = {
        {0, "1000000"},
        {-1, "1000000"},
        {std::numeric_limits<int>::min(), "1000000"},
        {1, "1"},
        {std::numeric_limits<int>::max(), "2147483647"},
    };
    for (const auto& [bitRate, inCommand] : cases) {
        auto os = std::make_shared<FakeCanSystem>();
        os->interfaceUp = false;
        auto bus = open(os, "can1", bitRate);
        EXPECT_EQ(os->calls()[5], upCommands("can1", inCommand)[2]) << bitRate;
    }
}
