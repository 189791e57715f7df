// The 6-actuator hand on a virtual bus, with a peer endpoint standing in for the hand.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <thread>

#include "support/HandTesting.h"
#include "velmora/velmora.h"

using namespace velmora;
using namespace velmora::testing;
using velmora::hand::KestaHand;

namespace {

// The cached 6 values of a state code, read through the public getter of that code.
ByteVector stateOf(KestaHand& hand, std::uint8_t code) {
    switch (code) {
        case 0x01:
            return hand.getCurrentStatus();
        case 0x02:
            return hand.getTorque();
        case 0x05:
            return hand.getSpeed();
        case 0x07:
            return hand.getAcceleration();
        case 0x33:
            return hand.getTemperature();
        case 0x35:
            return hand.getFaultCode();
    }
    ADD_FAILURE() << "no state code " << int(code);
    return {};
}

class KestaHandTest : public ::testing::Test {
  protected:
    KestaHand& open() {
        hand = std::make_unique<KestaHand>(RIGHT, "virtual:" + bus, 1000000);
        peer.drain();
        return *hand;
    }

    // Sends the frames as the hand, then waits until the receive thread has handled them: a
    // last state reply of `markCode` carries a mark that its getter shows once it is stored.
    void replyAndWait(const Frames& frames, std::uint8_t markCode = 0x35) {
        const std::uint8_t mark = ++marks;
        ASSERT_TRUE(peer.replyAndWait(frames, {markCode, mark, 0, 0, 0, 0, 0},
                                      [&] { return stateOf(*hand, markCode)[0] == mark; }));
    }

    std::string bus = uniqueBusName();
    HandPeer peer{bus, RIGHT};
    std::unique_ptr<KestaHand> hand;
    std::uint8_t marks = 0;
};

const ByteVector kZeros(6, 0);

}  // namespace

TEST_F(KestaHandTest, ConstructionAsksForDeviceInfoThenSetsSpeeds) {
    const auto start = std::chrono::steady_clock::now();
    hand = std::make_unique<KestaHand>(RIGHT, "virtual:" + bus, 1000000);
    // Three 10 ms gaps between the device-information requests and 50 ms to settle at the end.
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(80));
    EXPECT_EQ(peer.take(7), (Frames{{0xC2},
                                    {0xC0},
                                    {0xC1},
                                    {0xC4},
                                    {0x33},
                                    {0x05, 0x40, 0x40, 0x40, 0x40, 0x40, 0x40},
                                    {0x01}}));
    EXPECT_EQ(peer.drain(), Frames{});
    // The speed command is not echoed: the speeds stay zero until the hand reports them.
    EXPECT_EQ(hand->getSpeed(), kZeros);
    EXPECT_EQ(peer.drain(), Frames{}) << "getSpeed sends nothing";
}

TEST_F(KestaHandTest, EveryOperationSendsItsFrame) {
    open();
    const ByteVector six{1, 2, 3, 4, 5, 6};
    const std::vector<Sends<KestaHand>> cases = {
        {"positions", [&](KestaHand& h) { h.setJointPositions(six); }, {{0x01, 1, 2, 3, 4, 5, 6}}},
        {"speeds", [&](KestaHand& h) { h.setSpeed(six); }, {{0x05, 1, 2, 3, 4, 5, 6}}},
        {"torques", [&](KestaHand& h) { h.setTorque(six); }, {{0x02, 1, 2, 3, 4, 5, 6}}},
        {"accelerations",
         [&](KestaHand& h) { h.setAcceleration(six); },
         {{0x07, 1, 2, 3, 4, 5, 6}}},
        {"clear faults", [&](KestaHand& h) { h.clearFaultCode(six); }, {{0x83, 1, 2, 3, 4, 5, 6}}},
        {"re-home", [](KestaHand& h) { h.reHome(); }, {{0x38, 0x01}}},
        {"factory reset", [](KestaHand& h) { h.factoryReset(); }, {{0xCE, 0x01}}},
        {"save", [](KestaHand& h) { h.saveParameters(); }, {{0xCF, 0x01}}},
        {"device info",
         [](KestaHand& h) { h.requestDeviceInfo(); },
         {{0xC2}, {0xC0}, {0xC1}, {0xC4}}},
        {"status", [](KestaHand& h) { h.getCurrentStatus(); }, {{0x01}}},
        {"torque", [](KestaHand& h) { h.getTorque(); }, {{0x02}}},
        {"acceleration", [](KestaHand& h) { h.getAcceleration(); }, {{0x07}}},
        {"temperature", [](KestaHand& h) { h.getTemperature(); }, {{0x33}}},
        {"faults", [](KestaHand& h) { h.getFaultCode(); }, {{0x35}}},
        {"speed", [](KestaHand& h) { h.getSpeed(); }, {}},
        {"version", [](KestaHand& h) { h.getVersion(); }, {}},
        {"serial", [](KestaHand& h) { h.getSerialNumber(); }, {}},
        {"hardware", [](KestaHand& h) { h.getHardwareVersion(); }, {}},
        {"mechanical", [](KestaHand& h) { h.getMechanicalVersion(); }, {}},
    };
    expectSends(*hand, peer, cases);
}

TEST_F(KestaHandTest, WrongSizesPrintAMessageAndSendNothing) {
    open();
    const std::vector<Prints<KestaHand>> cases = {
        {[](KestaHand& h) { h.setJointPositions(ByteVector(5)); }, "Joint position size is not 6"},
        {[](KestaHand& h) { h.setJointPositions(ByteVector(7)); }, "Joint position size is not 6"},
        {[](KestaHand& h) { h.setJointPositionArc(RadianVector(5)); },
         "Joint position size is not 6"},
        {[](KestaHand& h) { h.setSpeed(ByteVector(7)); }, "Speed size is not 6"},
        {[](KestaHand& h) { h.setTorque(ByteVector(5)); }, "Torque size is not 6"},
        {[](KestaHand& h) { h.setAcceleration({}); }, "Acceleration size is not 6"},
        {[](KestaHand& h) { h.clearFaultCode(ByteVector(1)); }, "Fault code size is not 6"},
    };
    expectPrintsAndSendsNothing(*hand, peer, cases);
    EXPECT_EQ(hand->getCurrentStatus(), kZeros) << "a refused command leaves the positions alone";
}

TEST_F(KestaHandTest, CommandedPositionsShowUntilTheHandReports) {
    open();
    hand->setJointPositions({10, 20, 30, 40, 50, 60});
    EXPECT_EQ(hand->getCurrentStatus(), (ByteVector{10, 20, 30, 40, 50, 60}));
    EXPECT_EQ(peer.drain(), (Frames{{0x01, 10, 20, 30, 40, 50, 60}, {0x01}}));

    replyAndWait({{0x01, 11, 21, 31, 41, 51, 61}});
    EXPECT_EQ(hand->getCurrentStatus(), (ByteVector{11, 21, 31, 41, 51, 61}));
}

TEST_F(KestaHandTest, StateRepliesKeepSixValuesAndShortOnesAreDropped) {
    open();
    for (std::uint8_t code : {0x01, 0x02, 0x05, 0x07, 0x33, 0x35}) {
        SCOPED_TRACE("code " + std::to_string(code));
        const std::uint8_t markCode = code == 0x35 ? 0x33 : 0x35;
        const ByteVector before = stateOf(*hand, code);
        replyAndWait({{code, 1, 2, 3, 4, 5}}, markCode);
        EXPECT_EQ(stateOf(*hand, code), before);
        replyAndWait({{code, 1, 2, 3, 4, 5, 6, 7}}, markCode);
        EXPECT_EQ(stateOf(*hand, code), (ByteVector{1, 2, 3, 4, 5, 6}));
        replyAndWait({{code, 9, 9, 9, 9, 9, 9}}, markCode);
        EXPECT_EQ(stateOf(*hand, code), ByteVector(6, 9));
    }
    // Codes the hand only receives, and codes of other models, change nothing.
    replyAndWait({{0x83, 7, 7, 7, 7, 7, 7}, {0x38, 1}, {0x04, 7, 7, 7, 7, 7, 7}, {0xCF, 1}});
    EXPECT_EQ(hand->getCurrentStatus(), ByteVector(6, 9));
}

TEST_F(KestaHandTest, VersionTexts) {
    open();
    EXPECT_EQ(hand->getVersion(), "");
    EXPECT_EQ(hand->getHardwareVersion(), "Unknown");
    EXPECT_EQ(hand->getMechanicalVersion(), "Unknown");

    replyAndWait({{0xC1, 1, 2}, {0xC2, 1}, {0xC4, 1, 2}});
    EXPECT_EQ(hand->getHardwareVersion(), "Unknown") << "too short to hold a version";
    EXPECT_EQ(hand->getVersion(), "");

    replyAndWait({{0xC1, 1, 2, 3}});
    EXPECT_EQ(hand->getHardwareVersion(), "1.2.3");
    EXPECT_EQ(hand->getVersion(), "Hardware Version: 1.2.3\n");

    replyAndWait({{0xC4, 10, 0, 255, 7}, {0xC2, 4, 5, 6, 7, 8, 9, 10}, {0xC1, 1, 2}});
    EXPECT_EQ(hand->getMechanicalVersion(), "10.0.255");
    EXPECT_EQ(hand->getHardwareVersion(), "1.2.3") << "a short reply keeps the last version";
    EXPECT_EQ(hand->getVersion(),
              "Software Version: 4.5.6\nHardware Version: 1.2.3\nMechanical Version: 10.0.255\n");
}

TEST_F(KestaHandTest, SerialNumberLeavesOutZeroBytes) {
    open();
    EXPECT_EQ(hand->getSerialNumber(), "Unknown");
    replyAndWait({{0xC0}});
    EXPECT_EQ(hand->getSerialNumber(), "Unknown") << "a frame without characters is dropped";

    replyAndWait({{0xC0, 'A', 0x00, 'B'}});
    EXPECT_EQ(hand->getSerialNumber(), "AB");
    replyAndWait({{0xC0, 'K', 'S', '-', '0', '0', '4', '2'}, {0xC0}});
    EXPECT_EQ(hand->getSerialNumber(), "KS-0042");

    // Longer than a CAN frame holds: only through the public call, cut at 23 characters.
    ByteVector longFrame{0xC0};
    for (int i = 0; i < 30; ++i)
        longFrame.push_back(static_cast<std::uint8_t>('a' + i % 26));
    hand->parseSerialNumber(longFrame);
    EXPECT_EQ(hand->getSerialNumber(), "abcdefghijklmnopqrstuvw");
    hand->parseSerialNumber({0xC0});
    EXPECT_EQ(hand->getSerialNumber(), "abcdefghijklmnopqrstuvw");
}

TEST_F(KestaHandTest, MatrixSensorsOnceTheHandAnnouncesThem) {
    open();
    const ForceData zeros(5, ByteMatrix(12, ByteVector(6, 0)));
    replyAndWait({{0xB4, 0x20, 9, 9, 9, 9, 9, 9}});
    EXPECT_EQ(hand->getForce(), zeros) << "rows before the announcement are dropped";
    EXPECT_EQ(peer.drain(), Frames{}) << "no sensor known: nothing is requested";

    replyAndWait({{0xB4, 0x11, 0x22},
                  {0xB4, 0x20, 1, 2, 3, 4, 5, 6},
                  {0xB1, 0xB0, 9, 9, 9, 9, 9, 9},  // row 11: the last one
                  {0xB2, 0xC0, 7, 7, 7, 7, 7, 7},  // row 12 does not exist
                  {0xB3, 0x00, 7, 7, 7, 7, 7}});   // one value short
    ForceData expected = zeros;
    expected[3][2] = {1, 2, 3, 4, 5, 6};
    expected[0][11] = ByteVector(6, 9);
    EXPECT_EQ(hand->getForce(), expected);
    EXPECT_EQ(peer.drain(), kMatrixReads);
}

TEST_F(KestaHandTest, CallersAndTheReceiveThreadShareTheCachesSafely) {
    open();
    std::atomic<bool> done{false};
    std::thread handSide([&] {
        for (std::uint8_t i = 0; !done; ++i) {
            peer.reply({0x01, i, i, i, i, i, i});
            peer.reply({0xC1, i, i, i});
            peer.reply({0xC0, 'S', i});
            peer.reply({0xB3, i, i});
            peer.reply({0xB3, static_cast<std::uint8_t>((i % 12) << 4), i, i, i, i, i, i});
            std::this_thread::sleep_for(1ms);
        }
    });
    for (int round = 0; round < 25; ++round) {
        const ByteVector status = hand->getCurrentStatus();
        ASSERT_EQ(status.size(), 6u);
        EXPECT_EQ(std::count(status.begin(), status.end(), status[0]), 6) << "torn positions";
        hand->setJointPositions(ByteVector(6, static_cast<std::uint8_t>(round)));
        EXPECT_EQ(hand->getForce().size(), 5u);
        hand->getVersion();
        hand->getSerialNumber();
    }
    done = true;
    handSide.join();
}

TEST_F(KestaHandTest, RadianFormsFindNoTableForThisHand) {
    open();
    ::testing::internal::CaptureStderr();
    ::testing::internal::CaptureStdout();
    hand->setJointPositionArc(RadianVector(6, 0.1));
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "Joint position size is not 6\n");
    EXPECT_EQ(peer.drain(), Frames{});

    EXPECT_EQ(hand->getCurrentStatusArc(), RadianVector{});
    EXPECT_EQ(peer.drain(), Frames{{0x01}});
    EXPECT_NE(::testing::internal::GetCapturedStderr(), "");
}

TEST(KestaHand, IdentifierWithoutASideStillRequestsPositions) {
    const std::string bus = uniqueBusName();
    HandPeer peer(bus, 0x26);
    KestaHand hand(0x26, "virtual:" + bus, 1000000);
    peer.drain();
    ::testing::internal::CaptureStdout();
    hand.setJointPositionArc(RadianVector(6, 0.1));
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(hand.getCurrentStatusArc(), RadianVector{});
    EXPECT_EQ(peer.drain(), Frames{{0x01}});
}

TEST(KestaHand, OperationsItLacksAreRefused) {
    KestaHand hand(LEFT, "virtual:" + uniqueBusName(), 1000000);
    const std::vector<std::pair<std::string, std::function<void()>>> operations = {
        {"getCurrent", [&] { hand.getCurrent(); }},
        {"getForce", [&] { hand.getForce(0); }},
        {"getThumbForce", [&] { hand.getThumbForce(); }},
        {"getLittleForce", [&] { hand.getLittleForce(); }},
        {"getNormalForce", [&] { hand.getNormalForce(); }},
        {"getTangentialForce", [&] { hand.getTangentialForce(); }},
        {"getTangentialForceDir", [&] { hand.getTangentialForceDir(); }},
        {"getApproachInc", [&] { hand.getApproachInc(); }},
        {"getUID", [&] { hand.getUID(); }},
        {"getRotorLockCount", [&] { hand.getRotorLockCount(); }},
        {"setCurrent", [&] { hand.setCurrent(ByteVector(6)); }},
        {"setMotorEnable", [&] { hand.setMotorEnable(ByteVector(6)); }},
        {"setMotorDisable", [&] { hand.setMotorDisable(ByteVector(6)); }},
    };
    expectRefused(operations);
}

TEST(KestaHand, DestructionWithASilentHandIsPrompt) {
    expectPromptDestruction(
        std::make_unique<KestaHand>(RIGHT, "virtual:" + uniqueBusName(), 1000000));
}
