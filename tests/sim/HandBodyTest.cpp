// The simulated mechanism, stepped by hand: deterministic.
#include <gtest/gtest.h>

#include <numeric>

#include "velmora/sim/HandBody.h"

using velmora::ByteMatrix;
using velmora::ByteVector;
using velmora::sim::HandBody;

namespace {
HandBody tenJoints() {
    return HandBody(10, {{1, 9}, {2}, {3}, {4}, {5}});
}

int contactCells(const ByteMatrix& m) {
    int n = 0;
    for (const auto& row : m)
        for (auto v : row)
            n += v > 0;
    return n;
}
}  // namespace

TEST(HandBody, JointsMoveTowardTargetsAtTheirSpeed) {
    HandBody body = tenJoints();
    body.setSpeeds(0, ByteVector(10, 0));   // slowest: 20 units/s
    body.setSpeeds(2, {255});               // fastest: 530 units/s
    body.setTargets(0, ByteVector(10, 0));  // close everything
    body.step(0.1);
    EXPECT_EQ(body.positions(0, 1), ByteVector{253});
    EXPECT_EQ(body.positions(2, 1), ByteVector{202});
    for (int i = 0; i < 150; ++i)
        body.step(0.1);
    EXPECT_EQ(body.positions(0, 10), ByteVector(10, 0)) << "every joint arrives";
    EXPECT_EQ(body.positions(8, 4), (ByteVector{0, 0, 0, 0})) << "joints past the last read as 0";
}

TEST(HandBody, ContactGrowsAsAFingerClosesAndLoadsTheMotor) {
    HandBody body = tenJoints();
    EXPECT_EQ(contactCells(body.fingerMatrix(1)), 0);
    int previous = 0;
    for (std::uint8_t target : {150, 100, 60, 20, 0}) {
        body.setTargets(2, {target});
        for (int i = 0; i < 50; ++i)
            body.step(0.05);
        const int cells = contactCells(body.fingerMatrix(1));
        EXPECT_GE(cells, previous) << "target " << int(target);
        previous = cells;
    }
    EXPECT_GT(previous, 10);
    EXPECT_EQ(contactCells(body.fingerMatrix(0)), 0) << "the other fingers stay open";
    EXPECT_GT(body.fingerSummary(1)[0], 0) << "normal force";
    EXPECT_GT(body.currents(2, 1)[0], body.currents(3, 1)[0]) << "the closed finger's motor works";
    EXPECT_GT(body.temperatures(2, 1)[0], HandBody::kAmbientTemperature);
}

TEST(HandBody, FaultsDisableAndReset) {
    HandBody body = tenJoints();
    body.injectFault(0x10);
    EXPECT_EQ(body.faults(0, 3), ByteVector(3, 0x10));
    body.clearFaults();
    EXPECT_EQ(body.faults(0, 3), ByteVector(3, 0));

    body.setEnabled(false);
    body.setTargets(0, ByteVector(10, 0));
    body.step(1.0);
    EXPECT_EQ(body.positions(0, 10), ByteVector(10, 255)) << "disabled motors ignore targets";
    body.setEnabled(true);
    body.setTargets(0, ByteVector(10, 100));
    body.step(1.0);
    body.reHome();
    EXPECT_EQ(body.targets(0, 10), ByteVector(10, 255));
    body.setSpeeds(0, ByteVector(10, 1));
    body.reset();
    EXPECT_EQ(body.speeds(0, 10), ByteVector(10, 128));
}
