// The SocketCAN channel against the kernel's own CAN stack (vcan interfaces), watched by
// candump and fed by cansend.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>

#include "support/Kernel.h"
#include "velmora/CanBus.h"

using velmora::ByteVector;
using velmora::communication::CanBus;
using velmora::communication::CanMessage;
using namespace velmora::integration;
using Commands = std::vector<std::vector<std::string>>;

namespace {

constexpr char kQuiet[] = "vcan0";  // up, and nothing but the test talks on it
constexpr char kDown[] = "vcan1";   // left down

std::chrono::milliseconds timeToFail(CanBus& bus, std::uint32_t id, std::string* message) {
    const auto start = std::chrono::steady_clock::now();
    try {
        bus.recv(id);
        *message = "(a frame arrived)";
    } catch (const std::runtime_error& error) {
        *message = error.what();
    }
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                 start);
}

Commands upCommands(const std::string& name, const std::string& bitRate) {
    return {{"ip", "link", "set", name, "down"},
            {"ip", "link", "set", name, "up", "type", "can", "bitrate", bitRate}};
}

}  // namespace

TEST(KernelChannel, UpInterfaceOpensWithoutRunningAnyCommand) {
    VELMORA_SKIP_IF(needUp({kQuiet}));
    LoggingSudo sudo;
    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    { CanBus bus(kQuiet, 1000000, TOVIN); }
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(::testing::internal::GetCapturedStdout(),
              "CAN interface vcan0 opened successfully\n");
    EXPECT_EQ(sudo.commands(), Commands{});
}

// vcan has no bit rate, so the second command fails and leaves the interface down: the channel
// warns, still opens, and then says so for every frame it cannot send.
TEST(KernelChannel, DownInterfaceGetsTwoCommandsAWarningAndHonestFailures) {
    VELMORA_SKIP_IF(needDown(kDown));
    struct Case {
        int bitRate;
        std::string inCommand;
    };
    for (const Case& c : {Case{0, "1000000"}, Case{-5, "1000000"}, Case{500000, "500000"}}) {
        SCOPED_TRACE("bit rate " + std::to_string(c.bitRate));
        LoggingSudo sudo;
        ::testing::internal::CaptureStdout();
        ::testing::internal::CaptureStderr();
        CanBus bus(kDown, c.bitRate, TOVIN);
        EXPECT_EQ(::testing::internal::GetCapturedStderr(),
                  "Warning: Failed to configure CAN interface\n");
        EXPECT_EQ(::testing::internal::GetCapturedStdout(),
                  "CAN interface vcan1 opened successfully\n");
        EXPECT_EQ(sudo.commands(), upCommands(kDown, c.inCommand));
        EXPECT_FALSE(interfaceUp(kDown));

        ::testing::internal::CaptureStdout();
        bus.send({0x01, 0x02}, RIGHT, false);
        EXPECT_EQ(::testing::internal::GetCapturedStdout(), "Failed to send CAN frame\n");

        bus.setReceiveTimeout(0, 200000);
        std::string message;
        timeToFail(bus, RIGHT, &message);
        EXPECT_EQ(message, "Failed to receive CAN frame");
    }
}

TEST(KernelChannel, MissingInterfaceThrowsAndLeavesNoSocketOpen) {
    VELMORA_SKIP_IF(needUp({kQuiet}));  // SocketCAN is there, only this one name is not
    const std::string missing = "vcan-missing";
    ASSERT_FALSE(interfaceExists(missing));
    LoggingSudo sudo;
    const int socketsBefore = openSockets();
    try {
        CanBus bus(missing, 1000000, TOVIN);
        ADD_FAILURE() << "opened an interface that does not exist";
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(), "Failed to get CAN interface index");
    }
    EXPECT_EQ(openSockets(), socketsBefore);
    EXPECT_EQ(sudo.commands(), Commands{});
}

// The kernel knows names of at most 15 characters: the lookups use the first 15, the commands
// the whole name.
TEST(KernelChannel, TwentyCharacterNameFindsItsFirstFifteen) {
    VELMORA_SKIP_IF(needRoot());
    const std::string kernelName = "vcan-fifteen-15";
    const std::string longName = kernelName + "-tail";
    ASSERT_EQ(longName.size(), 20u);
    ScratchInterface scratch(kernelName, false);

    {
        LoggingSudo sudo;
        ::testing::internal::CaptureStdout();
        ::testing::internal::CaptureStderr();
        CanBus bus(longName, 1000000, TOVIN);
        EXPECT_EQ(::testing::internal::GetCapturedStderr(),
                  "Warning: Failed to configure CAN interface\n");
        EXPECT_EQ(::testing::internal::GetCapturedStdout(),
                  "CAN interface " + longName + " opened successfully\n");
        EXPECT_EQ(sudo.commands(), upCommands(longName, "1000000"));
    }

    scratch.setUp();
    CanBus longBus(longName, 1000000, TOVIN);
    CanBus shortBus(kernelName, 1000000, TOVIN);
    longBus.send({0x15}, RIGHT, false);
    const CanMessage seen = shortBus.recv(RIGHT);
    EXPECT_EQ(seen.len, 1);
    EXPECT_EQ(seen.data[0], 0x15);
}

TEST(KernelChannel, InterfaceNamesWithShellMetacharactersNeverRunAnything) {
    VELMORA_SKIP_IF(needRoot());
    TempDir dir;
    const auto previous = std::filesystem::current_path();
    std::filesystem::current_path(dir.path());
    // Through a shell, each of these would create the file "pwned" here.
    for (const std::string name : {"vc;>pwned", "vc`>pwned`", "vc$(>pwned)", "vc|>pwned&"}) {
        SCOPED_TRACE(name);
        ScratchInterface scratch(name, false);
        LoggingSudo sudo;
        ::testing::internal::CaptureStdout();
        ::testing::internal::CaptureStderr();
        { CanBus bus(name, 1000000, TOVIN); }
        ::testing::internal::GetCapturedStderr();
        EXPECT_EQ(::testing::internal::GetCapturedStdout(),
                  "CAN interface " + name + " opened successfully\n");
        EXPECT_EQ(sudo.commands(), upCommands(name, "1000000"));
        EXPECT_FALSE(std::filesystem::exists(dir.path() + "/pwned"));
    }
    std::filesystem::current_path(previous);
}

TEST(KernelChannel, ReceiveTimesOutAfterOneSecond) {
    VELMORA_SKIP_IF(needUp({kQuiet}));
    CanBus bus(kQuiet, 1000000, TOVIN);
    std::string message;
    const auto waited = timeToFail(bus, RIGHT, &message);
    EXPECT_EQ(message, "Failed to receive CAN frame");
    EXPECT_GE(waited, 950ms);
    EXPECT_LT(waited, 3000ms);

    bus.setReceiveTimeout(0, 200000);
    const auto shorter = timeToFail(bus, RIGHT, &message);
    EXPECT_EQ(message, "Failed to receive CAN frame");
    EXPECT_GE(shorter, 150ms);
    EXPECT_LT(shorter, 950ms);
}

TEST(KernelChannel, FrameOfAnotherIdentifierIsConsumedAsTheAllZeroMessage) {
    VELMORA_SKIP_IF(needUp({kQuiet}));
    VELMORA_SKIP_IF(needPrograms({"cansend"}));
    CanBus bus(kQuiet, 1000000, TOVIN);
    ASSERT_EQ(run({"cansend", kQuiet, "028#11223344"}), 0);
    ASSERT_EQ(run({"cansend", kQuiet, "027#55"}), 0);

    const CanMessage other = bus.recv(RIGHT);
    EXPECT_EQ(other.id, 0u);
    EXPECT_EQ(other.len, 0);
    EXPECT_EQ(other.data, (std::array<std::uint8_t, 8>{}));
    const CanMessage own = bus.recv(RIGHT);
    EXPECT_EQ(own.id, std::uint32_t{RIGHT});
    EXPECT_EQ(own.len, 1);
    EXPECT_EQ(own.data[0], 0x55);
}

TEST(KernelChannel, EmptyAndEightBytePayloadsReachTheWireLongerOnesNever) {
    VELMORA_SKIP_IF(needUp({kQuiet}));
    VELMORA_SKIP_IF(needPrograms({"candump"}));
    CanBus bus(kQuiet, 1000000, TOVIN);
    Candump candump(kQuiet);
    ::testing::internal::CaptureStdout();
    bus.send({}, RIGHT, false);
    bus.send({1, 2, 3, 4, 5, 6, 7, 8}, RIGHT, false);
    bus.send({1, 2, 3, 4, 5, 6, 7, 8, 9}, LEFT, false);
    bus.send(ByteVector(16, 0xEE), LEFT, false);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(),
              "CAN frame not sent: 9 data bytes, a frame holds at most 8\n"
              "CAN frame not sent: 16 data bytes, a frame holds at most 8\n");
    EXPECT_EQ(candump.finish(),
              (std::vector<WireFrame>{{RIGHT, {}}, {RIGHT, {1, 2, 3, 4, 5, 6, 7, 8}}}));
}

TEST(KernelChannel, EmptyAndEightBytePayloadsAreReceived) {
    VELMORA_SKIP_IF(needUp({kQuiet}));
    VELMORA_SKIP_IF(needPrograms({"cansend"}));
    CanBus bus(kQuiet, 1000000, TOVIN);
    ASSERT_EQ(run({"cansend", kQuiet, "027#"}), 0);
    ASSERT_EQ(run({"cansend", kQuiet, "027#1122334455667788"}), 0);

    const CanMessage empty = bus.recv(RIGHT);
    EXPECT_EQ(empty.id, std::uint32_t{RIGHT}) << "an empty frame, not the all-zero message";
    EXPECT_EQ(empty.len, 0);
    const CanMessage full = bus.recv(RIGHT);
    EXPECT_EQ(full.len, 8);
    EXPECT_EQ(full.data,
              (std::array<std::uint8_t, 8>{0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88}));
}

TEST(KernelChannel, TwoChannelsOnOneInterfaceSeeEachOthersFramesNotTheirOwn) {
    VELMORA_SKIP_IF(needUp({kQuiet}));
    LoggingSudo sudo;
    CanBus right(kQuiet, 1000000, TOVIN);
    CanBus left(kQuiet, 1000000, TOVIN);
    EXPECT_EQ(sudo.commands(), Commands{}) << "the second channel finds the interface up";

    right.send({0xA1}, RIGHT, false);
    left.send({0xB2, 0x01}, LEFT, false);
    const CanMessage atLeft = left.recv(RIGHT);
    EXPECT_EQ(atLeft.id, std::uint32_t{RIGHT});
    EXPECT_EQ(atLeft.len, 1);
    EXPECT_EQ(atLeft.data[0], 0xA1);
    const CanMessage atRight = right.recv(LEFT);
    EXPECT_EQ(atRight.id, std::uint32_t{LEFT});
    EXPECT_EQ(atRight.len, 2);
    EXPECT_EQ(atRight.data[0], 0xB2);

    // Neither socket hears its own frame.
    right.setReceiveTimeout(0, 200000);
    left.setReceiveTimeout(0, 200000);
    std::string message;
    timeToFail(right, RIGHT, &message);
    EXPECT_EQ(message, "Failed to receive CAN frame");
    timeToFail(left, LEFT, &message);
    EXPECT_EQ(message, "Failed to receive CAN frame");
}
