// The 10-joint hand against an independent implementation of the hand's side of the wire: a
// python-can script written from the protocol alone, sharing no code with the library or the
// simulated hands.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>

#include "support/Kernel.h"
#include "velmora/CanBus.h"
#include "velmora/VelmoraApi.h"

using velmora::ByteMatrix;
using velmora::ByteVector;
using velmora::ForceData;
using namespace velmora::integration;

namespace {

constexpr char kPython[] = "/usr/bin/python3";  // Debian's, which sees python3-can

// The peer's fingertip pattern.
ForceData peerMatrices() {
    ForceData fingers(5, ByteMatrix(12, ByteVector(6)));
    for (std::size_t f = 0; f < 5; ++f)
        for (std::size_t r = 0; r < 12; ++r)
            for (std::size_t c = 0; c < 6; ++c)
                fingers[f][r][c] = static_cast<std::uint8_t>(f * 50 + r * 4 + c + 1);
    return fingers;
}

}  // namespace

TEST(KernelPythonPeer, TenJointHandAgainstAPythonCanHand) {
    VELMORA_SKIP_IF(needUp({"can0"}));
    if (::access(kPython, X_OK) != 0)
        GTEST_SKIP() << "needs " << kPython << " with python-can (Debian package python3-can)";

    Child peer({kPython, "-u", VELMORA_TOVIN_PEER, "can0", "right"});
    // python-can takes its time to load in an emulated machine.
    const auto first = peer.waitForLine(
        [](const std::string& line) {
            return line == "ready" || line.rfind("unavailable:", 0) == 0;
        },
        120000ms);
    ASSERT_TRUE(first) << peer.transcript();
    if (*first != "ready")
        GTEST_SKIP() << "needs python-can: the peer says " << *first;

    {
        VelmoraApi hand(TOVIN, RIGHT, CAN0);
        // The version report sets the firmware generation, without which the state getters send
        // no requests.
        ASSERT_TRUE(pollUntil([] { return velmora::Common::current_hand_version.load() > 1.4f; },
                              30000ms, 10ms));

        const std::string version =
            "freedom: 10\nRobot version: 1\nVersion Number: 1\nHand direction: Right hand\n"
            "Software Version: 1.5\nHardware Version: 2\n";
        std::string reported;
        EXPECT_TRUE(pollUntil([&] { return (reported = hand.getVersion()) == version; }))
            << reported;

        const ByteVector positions = {10, 20, 30, 40, 50, 60, 70, 80, 90, 100};
        hand.fingerMove(positions);
        ByteVector state;
        EXPECT_TRUE(pollUntil([&] { return (state = hand.getState()) == positions; }))
            << toText(state);

        const ByteVector temperatures = {30, 31, 32, 33, 34, 35, 36, 37, 38, 39};
        ByteVector reportedTemperatures;
        EXPECT_TRUE(pollUntil([&] {
            return (reportedTemperatures = hand.getTemperature()) == temperatures;
        })) << toText(reportedTemperatures);
        const ByteVector faults = {0, 0, 0, 0, 0, 0, 0, 4, 0, 0};
        EXPECT_TRUE(pollUntil([&] { return hand.getFaultCode() == faults; }));

        const ByteVector torques = {201, 202, 203, 204, 205, 206, 207, 208, 209, 210};
        hand.setTorque(torques);
        EXPECT_TRUE(pollUntil([&] { return hand.getTorque() == torques; }));

        const ForceData matrices = peerMatrices();
        EXPECT_TRUE(pollUntil([&] { return hand.getForce() == matrices; }, 30000ms, 200ms))
            << "the fingertip matrices never matched the peer's";
    }

    EXPECT_EQ(peer.stop(), 0);
    const auto summary = peer.waitForLine(
        [](const std::string& line) { return line.rfind("received ", 0) == 0; }, 10000ms);
    ASSERT_TRUE(summary) << peer.transcript();
    unsigned long received = 0, unexpected = 0;
    ASSERT_EQ(std::sscanf(summary->c_str(), "received %lu unexpected %lu", &received, &unexpected),
              2);
    EXPECT_GT(received, 0u);
    EXPECT_EQ(unexpected, 0u) << peer.transcript();
}
