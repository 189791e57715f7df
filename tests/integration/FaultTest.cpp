// What a hand object survives on a real kernel's bus:
//  - its interface disappears under it (ip link delete, or set down) and comes back: the object
//    says so in its health, keeps reporting the frames it cannot write, and reaches the hand
//    again once the interface is back, without being built anew;
//  - another node floods the bus: the hand's own replies still reach the object;
//  - a peer sends frames of the hand's identifier that no hand sends;
//  - the receive buffer overflows: the kernel's drops show in the health.
#include <gtest/gtest.h>

#include <fstream>
#include <memory>

#include "support/Kernel.h"
#include "velmora/CanBus.h"
#include "velmora/HandException.h"
#include "velmora/Protocol.h"
#include "velmora/VelmoraApi.h"

using velmora::ByteVector;
using namespace velmora::integration;

namespace {

constexpr char kInterface[] = "vcanfault";

std::unique_ptr<Child> startSim() {
    auto sim = std::make_unique<Child>(
        std::vector<std::string>{VELMORA_COMMAND, "sim", "--model", "tovin", "--side", "right",
                                 "--channel", kInterface, "--sensor", "none"});
    if (!sim->waitForLine(
            [](const std::string& line) {
                return line.find("Ctrl-C stops it") != std::string::npos;
            },
            kStartDeadline))
        ADD_FAILURE() << sim->transcript();
    return sim;
}

// Another node sending as fast as the bus takes it: a fixed identifier that is not the hand's, so
// that every one of its frames is one for the hand object to ignore.
std::unique_ptr<Child> startFlood() {
    return std::make_unique<Child>(std::vector<std::string>{
        "cangen", kInterface, "-g", "0", "-I", "100", "-L", "8", "-D", "r", "-p", "10"});
}

// Moves the hand until a fresh read shows it there: on a flooded bus a command or a reply may
// be lost, as on any bus, and the application asks again.
bool moveAndConfirm(VelmoraApi& hand, const ByteVector& wanted,
                    std::chrono::milliseconds deadline = 30000ms) {
    return pollUntil(
        [&] {
            hand.fingerMove(wanted);
            try {
                return hand.readState(500ms) == wanted;
            } catch (const velmora::HandTimeoutException&) {
                return false;
            }
        },
        deadline, 0ms);
}

// A value under /proc/sys, restored when the test ends.
class KernelSetting {
  public:
    explicit KernelSetting(std::string path) : path_(std::move(path)) {
        std::ifstream in(path_);
        std::getline(in, old_);
    }
    ~KernelSetting() {
        if (!old_.empty())
            set(old_);
    }
    bool set(const std::string& value) {
        std::ofstream out(path_);
        out << value << "\n";
        out.flush();
        return static_cast<bool>(out);
    }

  private:
    std::string path_;
    std::string old_;
};

std::string repeated(const std::string& line, int times) {
    std::string text;
    for (int i = 0; i < times; ++i)
        text += line;
    return text;
}

}  // namespace

TEST(KernelFaults, InterfaceDeletedUnderALiveHand) {
    VELMORA_SKIP_IF(needRoot());
    VELMORA_SKIP_IF(needPrograms({"candump"}));
    ScratchInterface scratch(kInterface, true);
    auto sim = startSim();
    auto hand = std::make_unique<VelmoraApi>(TOVIN, RIGHT, kInterface, 1000000);
    ASSERT_TRUE(pollUntil([] { return velmora::Common::current_hand_version.load() > 1.4f; },
                          30000ms, 10ms));
    const ByteVector reached = {100, 100, 100, 100, 100, 100, 100, 100, 100, 100};
    hand->fingerMove(reached);
    ASSERT_TRUE(pollUntil([&] { return hand->getState() == reached; }));

    scratch.remove();
    sim->stop();

    // Every frame the object cannot write is reported; the getters show the last state the hand
    // sent.
    ::testing::internal::CaptureStdout();
    hand->fingerMove(ByteVector(10, 50));
    const ByteVector state = hand->getState();
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), repeated("Failed to send CAN frame\n", 4));
    EXPECT_EQ(state, reached);

    // The receive thread waits rather than spins.
    const auto cpuBefore = processCpuTime();
    const auto wallBefore = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(3s);
    const auto cpu = processCpuTime() - cpuBefore;
    const auto wall = std::chrono::steady_clock::now() - wallBefore;
    std::cout << "CPU time while the interface was gone: "
              << std::chrono::duration_cast<std::chrono::milliseconds>(cpu).count() << " ms in "
              << std::chrono::duration_cast<std::chrono::milliseconds>(wall).count() << " ms\n";
    EXPECT_LT(cpu, 750ms);

    EXPECT_FALSE(hand->health().channelUp);
    EXPECT_GE(hand->health().sendFailures, 4u);

    // The interface comes back under its name, with a new index: within a second the object
    // is bound to it again and drives the hand.
    scratch.create(true);
    sim = startSim();
    const auto back = std::chrono::steady_clock::now();
    ASSERT_TRUE(pollUntil([&] { return hand->health().channelUp; }, 5000ms, 5ms));
    const auto rebound = std::chrono::steady_clock::now() - back;
    std::cout << "bound again "
              << std::chrono::duration_cast<std::chrono::milliseconds>(rebound).count()
              << " ms after the interface came back\n";
    EXPECT_LT(rebound, 1000ms);
    EXPECT_EQ(hand->health().reconnects, 1u);
    const ByteVector wanted(10, 70);
    hand->fingerMove(wanted);
    EXPECT_TRUE(pollUntil([&] { return hand->getState() == wanted; }));
    EXPECT_EQ(hand->readState(5000ms), wanted) << "state read back from the hand";

    const auto start = std::chrono::steady_clock::now();
    hand.reset();
    const auto destruction = std::chrono::steady_clock::now() - start;
    std::cout << "destruction took "
              << std::chrono::duration_cast<std::chrono::milliseconds>(destruction).count()
              << " ms\n";
    EXPECT_LT(destruction, 500ms);
}

TEST(KernelFaults, InterfaceSetDownAndUpUnderALiveHand) {
    VELMORA_SKIP_IF(needRoot());
    ScratchInterface scratch(kInterface, true);
    auto sim = startSim();
    VelmoraApi hand(TOVIN, RIGHT, kInterface, 1000000);
    ASSERT_TRUE(pollUntil([&] { return !hand.getVersion().empty(); }));

    scratch.setDown();
    ::testing::internal::CaptureStdout();
    EXPECT_TRUE(pollUntil(
        [&] {
            hand.getState();
            return !hand.health().channelUp;
        },
        5000ms, 50ms));
    const std::string printed = ::testing::internal::GetCapturedStdout();
    EXPECT_NE(printed.find("Failed to send CAN frame\n"), std::string::npos);

    scratch.setUp();
    ASSERT_TRUE(pollUntil([&] { return hand.health().channelUp; }, 5000ms, 5ms));
    EXPECT_GE(hand.health().reconnects, 1u);
    const ByteVector wanted(10, 90);
    hand.fingerMove(wanted);
    EXPECT_TRUE(pollUntil([&] { return hand.getState() == wanted; }));
}

TEST(KernelFaults, ABusFloodedByAnotherNodeStillCarriesTheHandsReplies) {
    VELMORA_SKIP_IF(needRoot());
    VELMORA_SKIP_IF(needPrograms({"cangen"}));
    ScratchInterface scratch(kInterface, true);
    auto sim = startSim();
    VelmoraApi hand(TOVIN, RIGHT, kInterface, 1000000);
    ASSERT_TRUE(pollUntil([&] { return !hand.getVersion().empty(); }));
    const velmora::hand::HandHealth before = hand.health();

    auto flood = startFlood();
    ASSERT_TRUE(pollUntil(
        [&] { return hand.health().framesIgnored >= before.framesIgnored + 1000; }, 30000ms, 10ms))
        << "the flood never reached the hand object";
    const ByteVector wanted = {10, 20, 30, 40, 50, 60, 70, 80, 90, 100};
    EXPECT_TRUE(moveAndConfirm(hand, wanted)) << "no fresh state of the hand under the flood";
    const velmora::hand::HandHealth during = hand.health();
    EXPECT_GT(during.framesReceived, before.framesReceived);
    ASSERT_TRUE(during.lastFrameAge.has_value());
    EXPECT_LT(*during.lastFrameAge, 1000ms);
    EXPECT_EQ(during.receiveErrors, 0u);
    EXPECT_TRUE(during.channelUp);
    std::cout << "under the flood: " << during.framesIgnored - before.framesIgnored
              << " frames ignored, " << during.framesDropped << " dropped by the kernel\n";

    flood->stop();
    EXPECT_TRUE(moveAndConfirm(hand, ByteVector(10, 200))) << "after the flood";
}

TEST(KernelFaults, FramesOfTheHandsIdentifierThatNoHandSendsChangeNothing) {
    VELMORA_SKIP_IF(needRoot());
    ScratchInterface scratch(kInterface, true);
    auto sim = startSim();
    VelmoraApi hand(TOVIN, RIGHT, kInterface, 1000000);
    ASSERT_TRUE(pollUntil([&] { return !hand.getVersion().empty(); }));
    const ByteVector reached = {100, 90, 80, 70, 60, 50, 40, 30, 20, 10};
    ASSERT_TRUE(moveAndConfirm(hand, reached));
    const std::string version = hand.getVersion();
    const velmora::hand::HandHealth before = hand.health();

    // Empty frames, and frames of every length up to 8 whose first byte is no code of the hand.
    const std::vector<ByteVector> garbage = {
        {},
        {},
        {0xEE},
        {0x00, 0x01},
        {0x7E, 0xFF, 0xFF, 0xFF},
        {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF},
        {0xEE, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00},
        {0xA5, 0x5A, 0xA5, 0x5A, 0xA5, 0x5A, 0xA5, 0x5A},
    };
    RawSocket peer(kInterface);
    for (const ByteVector& frame : garbage) {
        if (!frame.empty()) {
            ASSERT_EQ(velmora::protocol::find(TOVIN, frame[0]), nullptr) << toText(frame);
        }
        peer.send(RIGHT, frame);
    }
    ASSERT_TRUE(pollUntil(
        [&] { return hand.health().framesReceived >= before.framesReceived + garbage.size(); }));

    EXPECT_EQ(hand.getState(), reached);
    EXPECT_EQ(hand.getVersion(), version);
    EXPECT_EQ(hand.health().receiveErrors, 0u);
    EXPECT_FALSE(sim->wait(0ms).has_value()) << "the simulated hand ended:\n" << sim->transcript();
    EXPECT_TRUE(moveAndConfirm(hand, ByteVector(10, 33))) << "the hand after the garbage";
}

TEST(KernelFaults, AFullReceiveBufferShowsAsDroppedFrames) {
    VELMORA_SKIP_IF(needRoot());
    VELMORA_SKIP_IF(needPrograms({"cangen"}));
    ScratchInterface scratch(kInterface, true);
    auto sim = startSim();
    // Sockets opened from here on get a receive buffer of a few frames.
    KernelSetting bufferSize("/proc/sys/net/core/rmem_default");
    if (!bufferSize.set("8192"))
        GTEST_SKIP() << "net.core.rmem_default cannot be set here";
    VelmoraApi hand(TOVIN, RIGHT, kInterface, 1000000);
    ASSERT_TRUE(pollUntil([&] { return !hand.getVersion().empty(); }));
    EXPECT_EQ(hand.health().framesDropped, 0u);

    auto flood = startFlood();
    auto secondFlood = startFlood();
    EXPECT_TRUE(pollUntil([&] { return hand.health().framesDropped > 0; }, 60000ms, 10ms))
        << "no drop reported; " << hand.health().framesIgnored << " frames ignored";
    std::cout << "dropped " << hand.health().framesDropped << " of "
              << hand.health().framesIgnored + hand.health().framesDropped << " frames\n";
    flood->stop();
    secondFlood->stop();

    // The kernel reports its drop total with each frame it queues, so the count can still grow
    // while the flood's backlog is read. A fresh reply comes after all of that backlog.
    EXPECT_TRUE(moveAndConfirm(hand, ByteVector(10, 120))) << "the hand after the flood";
    const std::uint64_t dropped = hand.health().framesDropped;
    EXPECT_TRUE(moveAndConfirm(hand, ByteVector(10, 60))) << "the hand on a quiet bus";
    EXPECT_EQ(hand.health().framesDropped, dropped) << "a quiet bus drops nothing";
}
