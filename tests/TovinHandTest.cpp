// The 10-joint hand on a virtual bus, with a peer endpoint standing in for the hand.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>

#include "support/HandTesting.h"
#include "velmora/velmora.h"

using namespace velmora;
using namespace velmora::testing;
using velmora::hand::TovinHand;

namespace {

class TovinHandTest : public ::testing::Test {
  protected:
    void SetUp() override { Common::current_hand_version = 1.0f; }

    TovinHand& open() {
        hand = std::make_unique<TovinHand>(RIGHT, "virtual:" + bus, 1000000);
        peer.drain();
        return *hand;
    }

    // Sends the frames as the hand, then waits until the receive thread has handled them: a
    // last fault frame carries a mark that getFaultCode shows once it is stored.
    void replyAndWait(const Frames& frames) {
        const std::uint8_t mark = ++marks;
        ASSERT_TRUE(peer.replyAndWait(frames, {0x36, mark}, [&] {
            const ByteVector faults = hand->getFaultCode();
            return !faults.empty() && faults.back() == mark;
        }));
    }

    std::string bus = uniqueBusName();
    HandPeer peer{bus, RIGHT};
    std::unique_ptr<TovinHand> hand;
    std::uint8_t marks = 0;
};

}  // namespace

TEST_F(TovinHandTest, ConstructionAsksForVersionAndSensorKind) {
    hand = std::make_unique<TovinHand>(RIGHT, "virtual:" + bus, 1000000);
    EXPECT_EQ(peer.take(2), (Frames{{0x64}, {0xB1}}));
}

TEST_F(TovinHandTest, CommandsSendTheirFramesInOrder) {
    open();
    const std::vector<Sends<TovinHand>> cases = {
        {"positions",
         [](TovinHand& h) { h.setJointPositions(sequence(10, 10, 10)); },
         {{0x01, 10, 20, 30, 40, 50, 60}, {0x04, 70, 80, 90, 100}}},
        {"5 torques", [](TovinHand& h) { h.setTorque(sequence(1, 5)); }, {{0x02, 1, 2, 3, 4, 5}}},
        {"10 torques",
         [](TovinHand& h) { h.setTorque(sequence(1, 10)); },
         {{0x02, 1, 2, 3, 4, 5}, {0x03, 6, 7, 8, 9, 10}}},
        {"5 speeds", [](TovinHand& h) { h.setSpeed(sequence(1, 5)); }, {{0x05, 1, 2, 3, 4, 5}}},
        {"10 speeds",
         [](TovinHand& h) { h.setSpeed(sequence(1, 10)); },
         {{0x05, 1, 2, 3, 4, 5}, {0x06, 6, 7, 8, 9, 10}}},
        {"all status",
         [](TovinHand& h) { EXPECT_EQ(h.requestAllStatus(), ByteVector(10, 0)); },
         {{0x09}}},
        {"temperatures", [](TovinHand& h) { h.getTemperature(); }, {{0x33}, {0x34}}},
        {"faults", [](TovinHand& h) { h.getFaultCode(); }, {{0x35}, {0x36}}},
        {"normal force", [](TovinHand& h) { h.getNormalForce(); }, {{0x20}}},
        {"tangential force", [](TovinHand& h) { h.getTangentialForce(); }, {{0x21}}},
        {"tangential direction", [](TovinHand& h) { h.getTangentialForceDir(); }, {{0x22}}},
        {"approach", [](TovinHand& h) { h.getApproachInc(); }, {{0x23}}},
        {"version", [](TovinHand& h) { h.getVersion(); }, {{0x64}}},
        {"currents", [](TovinHand& h) { EXPECT_EQ(h.getCurrent(), ByteVector(10, 0)); }, {}},
    };
    expectSends(*hand, peer, cases);
}

TEST_F(TovinHandTest, WrongSizesPrintAMessageAndSendNothing) {
    open();
    const std::vector<Prints<TovinHand>> cases = {
        {[](TovinHand& h) { h.setJointPositions(ByteVector(9)); }, "Joint position size is not 10"},
        {[](TovinHand& h) { h.setJointPositions(ByteVector(11)); },
         "Joint position size is not 10"},
        {[](TovinHand& h) { h.setJointPositionArc(RadianVector(9)); },
         "Joint position size is not 10"},
        {[](TovinHand& h) { h.setTorque(ByteVector(7)); }, "Torque size is not 5"},
        {[](TovinHand& h) { h.setTorque({}); }, "Torque size is not 5"},
        {[](TovinHand& h) { h.setSpeed(ByteVector(11)); }, "Joint speed size is not 5"},
    };
    expectPrintsAndSendsNothing(*hand, peer, cases);
    EXPECT_EQ(hand->getTorque(), ByteVector{}) << "a refused command leaves the caches alone";
}

TEST_F(TovinHandTest, SettersKeepWhatTheySentUntilTheHandReports) {
    open();
    hand->setTorque(sequence(1, 5));
    hand->setSpeed(sequence(11, 10));
    peer.drain();
    // Firmware 1.0 answers no requests: the getters send nothing and return the caches.
    EXPECT_EQ(hand->getTorque(), sequence(1, 5));
    EXPECT_EQ(hand->getSpeed(), sequence(11, 10));
    EXPECT_EQ(peer.drain(), Frames{});

    replyAndWait({{0x03, 6, 7, 8, 9, 10}, {0x05, 9}});
    EXPECT_EQ(hand->getTorque(), sequence(1, 10));
    EXPECT_EQ(hand->getSpeed(), (ByteVector{9, 16, 17, 18, 19, 20}));
}

TEST_F(TovinHandTest, GettersReturnWholeRepliesWithoutTheirCodes) {
    open();
    EXPECT_EQ(hand->getCurrentStatus(), ByteVector{});
    EXPECT_EQ(hand->getTemperature(), ByteVector{});
    EXPECT_EQ(hand->getNormalForce(), ByteVector{});
    EXPECT_EQ(hand->getVersion(), "");

    replyAndWait({{0x01, 1, 2, 3, 4, 5, 6}, {0x33, 40, 41, 42, 43, 44}, {0x34, 45, 46}});
    EXPECT_EQ(hand->getCurrentStatus(), sequence(1, 6)) << "only the first reply so far";
    replyAndWait({{0x04, 7, 8, 9, 10}, {0x20, 9, 8, 7, 6, 5}, {0x23, 1}, {0x35, 3}});
    EXPECT_EQ(hand->getCurrentStatus(), sequence(1, 10));
    EXPECT_EQ(hand->getTemperature(), (ByteVector{40, 41, 42, 43, 44, 45, 46}));
    EXPECT_EQ(hand->getFaultCode(), (ByteVector{3, marks}));
    // The single-frame force getters keep the code byte.
    EXPECT_EQ(hand->getNormalForce(), (ByteVector{0x20, 9, 8, 7, 6, 5}));
    EXPECT_EQ(hand->getApproachInc(), (ByteVector{0x23, 1}));
    EXPECT_EQ(hand->getTangentialForce(), ByteVector{});

    // Codes the hand uses for other things change nothing.
    replyAndWait({{0x09, 1, 2}, {0x45, 3}, {0x7F, 4}});
    EXPECT_EQ(hand->getCurrentStatus(), sequence(1, 10));
}

TEST_F(TovinHandTest, FirmwareGenerationDecidesWhetherStateIsRequested) {
    open();
    const std::vector<std::pair<std::function<void()>, Frames>> getters = {
        {[&] { hand->getCurrentStatus(); }, {{0x01}, {0x04}}},
        {[&] { hand->getSpeed(); }, {{0x05}, {0x06}}},
        {[&] { hand->getTorque(); }, {{0x02}, {0x03}}},
    };
    replyAndWait({{0x64, 10, 1, 2, 'R', 0x14, 0x20}});
    EXPECT_EQ(Common::current_hand_version.load(), 1.4f);
    for (const auto& [get, requests] : getters) {
        get();
        EXPECT_EQ(peer.drain(), Frames{}) << "1.4 is not above 1.4";
    }

    replyAndWait({{0x64, 10, 1, 2, 'R', 0x15, 0x20}});
    EXPECT_EQ(Common::current_hand_version.load(), 1.5f);
    for (const auto& [get, requests] : getters) {
        get();
        EXPECT_EQ(peer.drain(), requests);
    }

    // A report too short to hold the software version leaves the generation alone.
    replyAndWait({{0x64, 10, 1, 2, 'R'}});
    EXPECT_EQ(Common::current_hand_version.load(), 1.5f);
}

TEST_F(TovinHandTest, VersionTextHasOneLinePerReportedByte) {
    open();
    struct Case {
        ByteVector report;
        std::string text;
    };
    const Case cases[] = {
        {{0x64, 10, 1, 2, 'R', 0x15, 0x20},
         "freedom: 10\nRobot version: 1\nVersion Number: 2\nHand direction: Right hand\n"
         "Software Version: 1.5\nHardware Version: 2\n"},
        {{0x64, 10, 1, 2, 'L', 0x21, 0x13},
         "freedom: 10\nRobot version: 1\nVersion Number: 2\nHand direction: Left hand\n"
         "Software Version: 2.1\nHardware Version: 1.3\n"},
        {{0x64, 10, 1, 2, 'X', 0x15, 0x20},
         "freedom: 10\nRobot version: 1\nVersion Number: 2\nSoftware Version: 1.5\n"
         "Hardware Version: 2\n"},
        {{0x64, 7, 3, 4, 'R', 0x30},
         "freedom: 7\nRobot version: 3\nVersion Number: 4\nHand direction: Right hand\n"
         "Software Version: 3\n"},
        {{0x64, 7}, "freedom: 7\n"},
        {{0x64}, ""},
    };
    for (const Case& c : cases) {
        replyAndWait({c.report});
        EXPECT_EQ(hand->getVersion(), c.text);
    }
}

TEST_F(TovinHandTest, MatrixSensorsFillTheirRows) {
    open();
    replyAndWait({{0xB3, 0x01, 0x02},              // matrix sensors announced
                  {0xB3, 0x50, 1, 2, 3, 4, 5, 6},  // finger 2, row 5
                  {0xB5, 0xB7, 7, 7, 7, 7, 7, 7},  // finger 4, row 11 (low nibble unused)
                  {0xB3, 0xC0, 9, 9, 9, 9, 9, 9},  // row 12: no such row
                  {0xB1, 0xF0, 9, 9, 9, 9, 9, 9},  // row 15
                  {0xB2, 0x10, 9, 9, 9, 9, 9},     // seven bytes
                  {0xB4, 0x10}});                  // two bytes
    const ForceData force = hand->getForce();
    EXPECT_EQ(peer.drain(), kMatrixReads);

    ForceData expected(5, ByteMatrix(12, ByteVector(6, 0)));
    expected[2][5] = {1, 2, 3, 4, 5, 6};
    expected[4][11] = {7, 7, 7, 7, 7, 7};
    EXPECT_EQ(force, expected);
}

TEST_F(TovinHandTest, MatrixRowsOutsideMatrixModeAreDropped) {
    open();
    replyAndWait({{0xB3, 0x50, 1, 2, 3, 4, 5, 6}, {0xB0, 2}, {0xB3, 0x20, 6, 5, 4, 3, 2, 1}});
    ForceData expected(5, ByteMatrix(12, ByteVector(6, 0)));
    expected[2][2] = {6, 5, 4, 3, 2, 1};
    EXPECT_EQ(hand->getForce(), expected);
}

TEST_F(TovinHandTest, SensorKindReportsSetTheModeWhenInRange) {
    open();
    replyAndWait({{0xB0, 2}, {0xB0, 0}, {0xB0, 4}, {0xB0}});
    hand->getForce();
    EXPECT_EQ(peer.drain(), kMatrixReads) << "0, 4 and a bare report leave matrix mode";

    replyAndWait({{0xB0, 1}});
    hand->getForce();
    EXPECT_EQ(peer.drain(), (Frames{{0x28}, {0x29}, {0x30}, {0x31}, {0x32}}));
}

TEST_F(TovinHandTest, SummarySensorsGiveOneRowOfFourPerFinger) {
    open();
    // Before the reshape a summary fills the 6-byte row 0, cut at the row's end.
    replyAndWait({{0xB0, 2}, {0x28, 1, 2, 3, 4, 5, 6, 7}});
    EXPECT_EQ(hand->getForce()[0][0], (ByteVector{1, 2, 3, 4, 5, 6}));

    replyAndWait({{0xB0, 1}});
    const ForceData reshaped = hand->getForce();
    EXPECT_EQ(peer.drain(), (Frames{{0x28}, {0x29}, {0x30}, {0x31}, {0x32}}));
    ForceData expected(5, ByteMatrix(1, ByteVector(4, 0)));
    expected[0][0] = {1, 2, 3, 4};
    EXPECT_EQ(reshaped, expected);

    replyAndWait({{0x29, 9, 8, 7, 6, 5, 4}, {0x32, 1, 2}});
    expected[1][0] = {9, 8, 7, 6};
    expected[4][0] = {1, 2, 0, 0};
    EXPECT_EQ(hand->getForce(), expected);

    // The shape never goes back: matrix rows no longer fit.
    replyAndWait({{0xB0, 2}, {0xB3, 0x00, 1, 1, 1, 1, 1, 1}});
    EXPECT_EQ(hand->getForce(), expected);
}

TEST_F(TovinHandTest, RadianFormsUseTheRightHandTables) {
    open();
    const RadianVector angles{0.5, 1.0, 0.2, 0.4, 0.8, 1.6, -0.1, 0.05, 0.1, 0.3};
    const ByteVector bytes = arc_to_range(10, "right", angles);
    hand->setJointPositionArc(angles);
    EXPECT_EQ(peer.drain(),
              (Frames{{0x01, bytes[0], bytes[1], bytes[2], bytes[3], bytes[4], bytes[5]},
                      {0x04, bytes[6], bytes[7], bytes[8], bytes[9]}}));

    EXPECT_EQ(hand->getCurrentStatusArc(), RadianVector{}) << "no state yet";
    replyAndWait({{0x01, 0, 51, 102, 153, 204, 255}, {0x04, 1, 2, 3, 4}});
    EXPECT_EQ(hand->getCurrentStatusArc(),
              range_to_arc(10, "right", {0, 51, 102, 153, 204, 255, 1, 2, 3, 4}));
}

TEST(TovinHand, IdentifierWithoutASideNeitherConvertsNorSends) {
    expectSidelessRadiansDoNothing<TovinHand>(0x30, 10);
}

TEST(TovinHand, OperationsItLacksAreRefused) {
    TovinHand hand(RIGHT, "virtual:" + uniqueBusName(), 1000000);
    EXPECT_THROW(hand.getUID(), UnsupportedFeatureException);
    EXPECT_THROW(hand.getForce(1), UnsupportedFeatureException);
    EXPECT_THROW(hand.setCurrent({1}), UnsupportedFeatureException);
}

TEST(TovinHand, DestructionWithASilentHandIsPrompt) {
    expectPromptDestruction(
        std::make_unique<TovinHand>(RIGHT, "virtual:" + uniqueBusName(), 1000000));
}

TEST(TovinHand, ChannelFailureLeavesTheConstructor) {
    EXPECT_THROW(TovinHand(RIGHT, "velmora-no-such-can", 1000000), std::runtime_error);
}

TEST_F(TovinHandTest, GettersAndTheReceiveThreadShareTheCachesSafely) {
    open();
    std::atomic<bool> done{false};
    std::thread hand_side([&] {
        for (std::uint8_t i = 0; !done; ++i) {
            peer.reply({0x01, i, i, i, i, i, i});
            peer.reply({0x04, i, i, i, i});
            peer.reply({0xB0, static_cast<std::uint8_t>(1 + i % 2)});
            peer.reply({0xB2, static_cast<std::uint8_t>((i % 12) << 4), i, i, i, i, i, i});
            peer.reply({0x30, i, i, i, i});
            std::this_thread::sleep_for(1ms);
        }
    });
    for (int round = 0; round < 25; ++round) {
        const ByteVector status = hand->getCurrentStatus();
        if (status.size() == 10) {
            EXPECT_EQ(std::count(status.begin(), status.begin() + 6, status[0]), 6) << "torn frame";
        }
        hand->getForce();
        hand->setSpeed(ByteVector(5, static_cast<std::uint8_t>(round)));
        hand->getSpeed();
    }
    done = true;
    hand_side.join();
}
