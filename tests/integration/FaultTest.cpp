// A hand object whose interface disappears under it (ip link delete, or set down) and comes
// back: the object says so in its health, keeps reporting the frames it cannot write, and
// reaches the hand again once the interface is back, without being built anew.
#include <gtest/gtest.h>

#include <memory>

#include "support/Kernel.h"
#include "velmora/CanBus.h"
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
            30000ms))
        ADD_FAILURE() << sim->transcript();
    return sim;
}

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
