// A hand object whose interface disappears under it (ip link delete), and comes back. The
// kernel unbinds the object's socket: one read fails at once (ENODEV), later reads wait out
// the receive time-out, writes fail (ENXIO), also once an interface of the same name is back.
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

    // The interface comes back under its name, with a new index. The object's socket was bound
    // to the old one and stays unbound: the object never reaches the bus again, and says so for
    // every frame.
    scratch.create(true);
    sim = startSim();
    {
        Candump candump(kInterface);
        ::testing::internal::CaptureStdout();
        hand->fingerMove(ByteVector(10, 60));
        EXPECT_EQ(hand->getState(), reached);
        EXPECT_EQ(::testing::internal::GetCapturedStdout(),
                  repeated("Failed to send CAN frame\n", 4));
        EXPECT_EQ(candump.finish(), std::vector<WireFrame>{});
    }

    // A new object on the same name reaches the hand.
    {
        VelmoraApi fresh(TOVIN, RIGHT, kInterface, 1000000);
        const ByteVector wanted(10, 70);
        fresh.fingerMove(wanted);
        EXPECT_TRUE(pollUntil([&] { return fresh.getState() == wanted; }));
    }

    const auto start = std::chrono::steady_clock::now();
    hand.reset();
    const auto destruction = std::chrono::steady_clock::now() - start;
    std::cout << "destruction took "
              << std::chrono::duration_cast<std::chrono::milliseconds>(destruction).count()
              << " ms\n";
    EXPECT_LT(destruction, 2000ms);
}
