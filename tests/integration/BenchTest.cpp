// The operator's bench on the kernel's bus, with candump beside it: the pacing of streams as the
// kernel stamps their frames, Ctrl-C holding a moving hand, live decoding from a pipe, and no
// command frame when no hand answers.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <thread>

#include "support/Kernel.h"
#include "velmora/HandStream.h"
#include "velmora/Protocol.h"
#include "velmora/VelmoraApi.h"

using namespace velmora::integration;
using velmora::ByteVector;

namespace {

constexpr char kInterface[] = "vcan0";
constexpr std::uint32_t kRight = 0x27;

bool isPositionWrite(const WireFrame& f, VELMORA model) {
    return f.data.size() > 1 &&
           f.data[0] == velmora::protocol::codeOf(model, velmora::protocol::Quantity::Positions);
}

// decode prints each frame as candump writes it, "028#...", beside its meaning.
bool mentions(const std::string& line, const std::string& id) {
    return line.find(id + "#") != std::string::npos;
}

}  // namespace

// Two streams of one hand in one process share one budget: the kernel's stamps never show two
// of its frames closer than the pacing's 3 ms, and the newest target leaves.
TEST(Bench, TwoStreamsOfOneHandKeepThePacingOnTheKernelsStamps) {
    VELMORA_SKIP_IF(needUp({kInterface}));
    VELMORA_SKIP_IF(needPrograms({"candump"}));
    const std::uint8_t last = 200;
    // The hand objects' own first questions come before the streams share their budget.
    VelmoraApi first(MARLO, RIGHT, kInterface, 1000000);
    VelmoraApi second(MARLO, RIGHT, kInterface, 1000000);
    Candump candump(kInterface);
    {
        velmora::HandStreamOptions options;
        options.rate(velmora::hand::Reading::Temperatures, 0)
            .rate(velmora::hand::Reading::Faults, 0);
        velmora::HandStream a(first, options);
        velmora::HandStream b(second, options);
        // Both streams take a new target every millisecond until 300 frames have left.
        const auto start = std::chrono::steady_clock::now();
        for (int i = 1; a.health().framesSent + b.health().framesSent < 300; ++i) {
            ASSERT_LT(i, 120000) << "300 frames in two minutes";
            (i % 2 == 0 ? a : b).command(ByteVector(7, static_cast<std::uint8_t>(i % 150)));
            std::this_thread::sleep_until(start + std::chrono::milliseconds(i));
        }
        a.command(ByteVector(7, last));
        b.command(ByteVector(7, last));
        // A command waits at most a turn of the other queues: ten frames later it is out.
        const auto sentA = a.health().framesSent, sentB = b.health().framesSent;
        ASSERT_TRUE(pollUntil([&] {
            return a.health().framesSent > sentA + 10 && b.health().framesSent > sentB + 10;
        }));
    }
    const std::vector<WireFrame> frames = candump.finish();
    std::vector<WireFrame> hand;
    for (const WireFrame& f : frames) {
        if (f.id == kRight)
            hand.push_back(f);
    }
    ASSERT_GT(hand.size(), 300u) << toText(frames);
    for (std::size_t i = 1; i < hand.size(); ++i) {
        // The kernel stamps a frame as vcan passes it on; its microseconds round both ways.
        EXPECT_GE(hand[i].time - hand[i - 1].time, 0.00295)
            << "frames " << i - 1 << " and " << i << ": " << toText(hand[i - 1]) << " "
            << toText(hand[i]);
    }
    const WireFrame* newest = nullptr;
    for (const WireFrame& f : hand) {
        if (isPositionWrite(f, MARLO))
            newest = &f;
    }
    ASSERT_NE(newest, nullptr);
    EXPECT_EQ(newest->data, ByteVector({0x01, last, last, last, last, last, last, last}));
}

// Ctrl-C in `move --wait` while the hand is still on its way: the hand stops where it stands
// (two reads 200 ms apart agree), the command exits 130, and the hold is on the wire.
TEST(Bench, CtrlCInMoveWaitHoldsTheHand) {
    VELMORA_SKIP_IF(needUp({kInterface}));
    VELMORA_SKIP_IF(needPrograms({"candump"}));
    Child sim(
        {VELMORA_COMMAND, "sim", "--model", "tovin", "--side", "right", "--channel", kInterface});
    ASSERT_TRUE(sim.waitForLine([](const std::string& l) { return l.find("simulated") == 0; },
                                kStartDeadline));
    VelmoraApi hand(TOVIN, RIGHT, kInterface, 1000000);
    hand.setSpeed(ByteVector(10, 0));  // the slowest: a full close takes seconds
    const ByteVector start = hand.readState(std::chrono::milliseconds(5000));
    ASSERT_EQ(start.size(), 10u);

    Candump candump(kInterface);
    Child move({VELMORA_COMMAND, "move", "--model", "tovin", "--channel", kInterface, "--positions",
                "0,0,0,0,0,0,0,0,0,0", "--wait", "--wait-timeout", "60"});
    // Moving once a read differs from where it started.
    ASSERT_TRUE(pollUntil(
        [&] {
            const ByteVector now = hand.readState(std::chrono::milliseconds(2000));
            return now.size() == 10u && now != start;
        },
        kStartDeadline));
    move.signal(SIGINT);
    EXPECT_EQ(move.wait(kStartDeadline), 130) << move.transcript();

    const ByteVector held = hand.readState(std::chrono::milliseconds(2000));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const ByteVector later = hand.readState(std::chrono::milliseconds(2000));
    ASSERT_EQ(held.size(), 10u);
    ASSERT_EQ(later.size(), 10u);
    for (std::size_t i = 0; i < held.size(); ++i) {
        EXPECT_LE(std::abs(int(held[i]) - int(later[i])), 1) << "joint " << i;
        EXPECT_GT(later[i], 0) << "joint " << i << " ran on to its target";
    }
    // The sim answers with the same code on the same identifier, so the hold is told apart by
    // its values: after the move's target, a position frame with the held positions.
    std::vector<ByteVector> positionFrames;
    for (const WireFrame& f : candump.finish()) {
        if (f.id == kRight && isPositionWrite(f, TOVIN))
            positionFrames.push_back(f.data);
    }
    const ByteVector target{0x01, 0, 0, 0, 0, 0, 0};
    const ByteVector hold{0x01, held[0], held[1], held[2], held[3], held[4], held[5]};
    const auto moved = std::find(positionFrames.begin(), positionFrames.end(), target);
    ASSERT_NE(moved, positionFrames.end()) << "the move's target";
    EXPECT_NE(std::find(moved, positionFrames.end(), hold), positionFrames.end())
        << "the held positions after it";
    sim.stop();
}

// `velmora record | velmora decode - --side left` on a bus with two hands: the left hand's
// frames are decoded while the recorder still runs, and only those.
TEST(Bench, RecordIntoDecodeShowsOneSideAsFramesArrive) {
    VELMORA_SKIP_IF(needUp({kInterface}));
    VELMORA_SKIP_IF(needPrograms({"sh", "timeout"}));
    Child left(
        {VELMORA_COMMAND, "sim", "--model", "ravel", "--side", "left", "--channel", kInterface});
    Child right(
        {VELMORA_COMMAND, "sim", "--model", "tovin", "--side", "right", "--channel", kInterface});
    for (Child* sim : {&left, &right}) {
        ASSERT_TRUE(sim->waitForLine([](const std::string& l) { return l.find("simulated") == 0; },
                                     kStartDeadline));
    }
    // The command line is the test's own: no caller's data reaches the shell. record ends
    // after its count, and decode with it.
    const std::string velmora = VELMORA_COMMAND;
    Child pipeline({"sh", "-c",
                    "exec timeout 120 '" + velmora +
                        "' record --channel vcan0 --count 400 | exec '" + velmora +
                        "' decode - --model ravel --side left"});
    std::atomic<bool> done{false};
    std::thread traffic([&] {
        VelmoraApi ravel(RAVEL, LEFT, kInterface, 1000000);
        VelmoraApi tovin(TOVIN, RIGHT, kInterface, 1000000);
        while (!done) {
            ravel.getFaultCode();
            tovin.getFaultCode();
        }
    });
    const auto line = pipeline.waitForLine([](const std::string& l) { return mentions(l, "028"); },
                                           kStartDeadline);
    const bool running = !pipeline.wait(std::chrono::milliseconds(0));
    const auto status = pipeline.wait(kStartDeadline);
    done = true;
    traffic.join();
    EXPECT_TRUE(line) << pipeline.transcript();
    EXPECT_TRUE(running) << "decoded while record runs";
    EXPECT_EQ(status, 0) << pipeline.transcript();
    EXPECT_EQ(pipeline.transcript().find("027#"), std::string::npos) << pipeline.transcript();
    EXPECT_NE(pipeline.transcript().find("summary: "), std::string::npos) << pipeline.transcript();
    left.stop();
    right.stop();
}

// A command with no hand on the bus refuses before it sends anything but its questions.
TEST(Bench, MoveWithNoHandExitsOneAndSendsNoCommand) {
    VELMORA_SKIP_IF(needUp({kInterface}));
    VELMORA_SKIP_IF(needPrograms({"candump"}));
    Candump candump(kInterface);
    EXPECT_EQ(run({VELMORA_COMMAND, "move", "--model", "tovin", "--channel", kInterface, "open",
                   "--timeout", "300"},
                  kStartDeadline),
              1);
    for (const WireFrame& f : candump.finish())
        EXPECT_FALSE(f.id == kRight && isPositionWrite(f, TOVIN)) << toText(f);
}
