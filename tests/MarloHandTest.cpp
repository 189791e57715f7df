// The 7-joint hand on a virtual bus, with a peer endpoint standing in for the hand.
#include <gtest/gtest.h>

#include <functional>

#include "support/HandTesting.h"
#include "velmora/velmora.h"

using namespace velmora;
using namespace velmora::testing;
using velmora::hand::MarloHand;

namespace {

class MarloHandTest : public ::testing::Test {
  protected:
    void SetUp() override { Common::current_hand_version = 1.0f; }

    MarloHand& open() {
        hand = std::make_unique<MarloHand>(LEFT, "virtual:" + bus, 1000000);
        peer.drain();
        return *hand;
    }

    // Sends the frames as the hand, then waits until the receive thread has handled them.
    void replyAndWait(const Frames& frames) {
        const std::uint8_t mark = ++marks;
        ASSERT_TRUE(peer.replyAndWait(frames, {0x35, mark},
                                      [&] { return hand->getFaultCode() == ByteVector{mark}; }));
    }

    std::string bus = uniqueBusName();
    HandPeer peer{bus, LEFT};
    std::unique_ptr<MarloHand> hand;
    std::uint8_t marks = 0;
};

}  // namespace

TEST_F(MarloHandTest, ConstructionAsksForVersionAndSensorKind) {
    hand = std::make_unique<MarloHand>(LEFT, "virtual:" + bus, 1000000);
    EXPECT_EQ(peer.take(2), (Frames{{0x64}, {0xB1}}));
}

TEST_F(MarloHandTest, EveryCommandIsOneFrame) {
    open();
    const std::vector<Sends<MarloHand>> cases = {
        {"positions",
         [](MarloHand& h) {
             h.setJointPositions({1, 2, 3, 4, 5, 6, 7});
         },
         {{0x01, 1, 2, 3, 4, 5, 6, 7}}},
        {"torques",
         [](MarloHand& h) {
             h.setTorque({7, 6, 5, 4, 3, 2, 1});
         },
         {{0x02, 7, 6, 5, 4, 3, 2, 1}}},
        {"speeds",
         [](MarloHand& h) {
             h.setSpeed({9, 9, 9, 9, 9, 9, 9});
         },
         {{0x05, 9, 9, 9, 9, 9, 9, 9}}},
        {"status", [](MarloHand& h) { h.getCurrentStatus(); }, {{0x01}}},
        {"torque", [](MarloHand& h) { h.getTorque(); }, {{0x02}}},
        {"speed", [](MarloHand& h) { h.getSpeed(); }, {{0x05}}},
        {"normal force", [](MarloHand& h) { h.getNormalForce(); }, {{0x20}}},
        {"tangential force", [](MarloHand& h) { h.getTangentialForce(); }, {{0x21}}},
        {"tangential direction", [](MarloHand& h) { h.getTangentialForceDir(); }, {{0x22}}},
        {"approach", [](MarloHand& h) { h.getApproachInc(); }, {{0x23}}},
        {"temperature", [](MarloHand& h) { h.getTemperature(); }, {{0x33}}},
        {"faults", [](MarloHand& h) { h.getFaultCode(); }, {{0x35}}},
        {"version", [](MarloHand& h) { h.getVersion(); }, {{0x64}}},
    };
    expectSends(*hand, peer, cases);
}

TEST_F(MarloHandTest, WrongSizesPrintAMessageAndSendNothing) {
    open();
    const std::vector<Prints<MarloHand>> cases = {
        {[](MarloHand& h) { h.setJointPositions(ByteVector(6)); }, "Joint position size is not 7"},
        {[](MarloHand& h) { h.setJointPositions(ByteVector(8)); }, "Joint position size is not 7"},
        {[](MarloHand& h) { h.setJointPositions(ByteVector(10)); }, "Joint position size is not 7"},
        {[](MarloHand& h) { h.setJointPositionArc(RadianVector(10)); },
         "Joint position size is not 7"},
        {[](MarloHand& h) { h.setTorque(ByteVector(5)); }, "Torque size is not 7"},
        {[](MarloHand& h) { h.setTorque(ByteVector(10)); }, "Torque size is not 7"},
        {[](MarloHand& h) { h.setSpeed(ByteVector(5)); }, "Joint speed size is not 7"},
        {[](MarloHand& h) { h.setSpeed(ByteVector(10)); }, "Joint speed size is not 7"},
    };
    expectPrintsAndSendsNothing(*hand, peer, cases);
}

TEST_F(MarloHandTest, SpeedsAreKeptTorquesWaitForTheHand) {
    open();
    hand->setTorque({1, 2, 3, 4, 5, 6, 7});
    hand->setSpeed({7, 6, 5, 4, 3, 2, 1});
    EXPECT_EQ(hand->getTorque(), ByteVector{});
    EXPECT_EQ(hand->getSpeed(), (ByteVector{7, 6, 5, 4, 3, 2, 1}));
    replyAndWait({{0x05, 1, 1, 1, 1, 1, 1, 1}});
    EXPECT_EQ(hand->getSpeed(), ByteVector(7, 1));
}

TEST_F(MarloHandTest, GettersStripTheCodeByteOfEveryCache) {
    open();
    replyAndWait({{0x01, 1, 2, 3, 4, 5, 6, 7},
                  {0x02, 8},
                  {0x20, 9, 8, 7, 6, 5},
                  {0x21, 1},
                  {0x22, 2},
                  {0x23, 3},
                  {0x33, 40, 41},
                  {0x03, 9, 9},  // codes of the 10-joint hand are not the 7-joint hand's
                  {0x04, 9, 9},
                  {0x06, 9},
                  {0x34, 9},
                  {0x36, 9}});
    EXPECT_EQ(hand->getCurrentStatus(), (ByteVector{1, 2, 3, 4, 5, 6, 7}));
    EXPECT_EQ(hand->getTorque(), ByteVector{8});
    EXPECT_EQ(hand->getNormalForce(), (ByteVector{9, 8, 7, 6, 5}));
    EXPECT_EQ(hand->getTangentialForce(), ByteVector{1});
    EXPECT_EQ(hand->getTangentialForceDir(), ByteVector{2});
    EXPECT_EQ(hand->getApproachInc(), ByteVector{3});
    EXPECT_EQ(hand->getTemperature(), (ByteVector{40, 41}));
    EXPECT_EQ(hand->getSpeed(), ByteVector{});
}

TEST_F(MarloHandTest, VersionReportNeverTouchesTheFirmwareGeneration) {
    open();
    EXPECT_EQ(hand->getVersion(), "");
    replyAndWait({{0x64, 7, 1, 2, 'L', 0x35, 0x12}});
    EXPECT_EQ(Common::current_hand_version.load(), 1.0f);
    EXPECT_EQ(hand->getVersion(),
              "freedom: 7\nRobot version: 1\nVersion Number: 2\nHand direction: Left hand\n"
              "Software Version: 3.5\nHardware Version: 1.2\n");
    replyAndWait({{0x64, 7, 1, 2, '?'}});
    EXPECT_EQ(hand->getVersion(), "freedom: 7\nRobot version: 1\nVersion Number: 2\n");
}

TEST_F(MarloHandTest, FingertipSensorsInBothModes) {
    open();
    replyAndWait({{0xB2, 1, 2}, {0xB2, 0x30, 1, 2, 3, 4, 5, 6}, {0xB2, 0xD0, 9, 9, 9, 9, 9, 9}});
    ForceData matrix(5, ByteMatrix(12, ByteVector(6, 0)));
    matrix[1][3] = {1, 2, 3, 4, 5, 6};
    EXPECT_EQ(hand->getForce(), matrix);
    EXPECT_EQ(peer.drain(), kMatrixReads);

    replyAndWait({{0xB0, 3}});
    ForceData summary(5, ByteMatrix(1, ByteVector(4, 0)));
    EXPECT_EQ(hand->getForce(), summary);
    EXPECT_EQ(peer.drain(), (Frames{{0x28}, {0x29}, {0x30}, {0x31}, {0x32}}));
    replyAndWait({{0x31, 4, 3, 2, 1, 0, 9}});
    summary[3][0] = {4, 3, 2, 1};
    EXPECT_EQ(hand->getForce(), summary);
}

TEST_F(MarloHandTest, RadianFormsUseTheLeftHandTables) {
    open();
    const RadianVector angles{0.2, 0.7, 1.0, 0.1, 1.6, 0.0, 0.5};
    const ByteVector bytes = arc_to_range(7, "left", angles);
    hand->setJointPositionArc(angles);
    ByteVector frame{0x01};
    frame.insert(frame.end(), bytes.begin(), bytes.end());
    EXPECT_EQ(peer.drain(), Frames{frame});

    replyAndWait({frame});
    EXPECT_EQ(hand->getCurrentStatusArc(), range_to_arc(7, "left", bytes));
}

TEST(MarloHand, IdentifierWithoutASideNeitherConvertsNorSends) {
    expectSidelessRadiansDoNothing<MarloHand>(0x26, 7);
}

TEST(MarloHand, OperationsItLacksAreRefused) {
    MarloHand hand(RIGHT, "virtual:" + uniqueBusName(), 1000000);
    expectRefused({{"getCurrent", [&] { hand.getCurrent(); }}});
    EXPECT_THROW(hand.clearFaultCode({1}), UnsupportedFeatureException);
}

TEST(MarloHand, DestructionWithASilentHandIsPrompt) {
    expectPromptDestruction(
        std::make_unique<MarloHand>(RIGHT, "virtual:" + uniqueBusName(), 1000000));
}
