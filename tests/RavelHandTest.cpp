// The 20-joint hand on a virtual bus, with a peer endpoint standing in for the hand.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <functional>

#include "support/HandTesting.h"
#include "velmora/velmora.h"

using namespace velmora;
using namespace velmora::testing;
using velmora::hand::RavelHand;

namespace {

const Frames kSummaryReads{{0x30}, {0x31}, {0x32}, {0x33}, {0x34}};

ForceData zeroMatrices() {
    return ForceData(5, ByteMatrix(12, ByteVector(6, 0)));
}

class RavelHandTest : public ::testing::Test {
  protected:
    RavelHand& open(std::uint32_t side = RIGHT) {
        peer = std::make_unique<HandPeer>(bus, side);
        hand = std::make_unique<RavelHand>(side, "virtual:" + bus, 1000000);
        peer->drain();
        return *hand;
    }

    // Sends the frames as the hand, then waits until the receive thread has handled them: a
    // last rotor-lock frame carries a mark that getRotorLockCount shows once it is stored.
    void replyAndWait(const Frames& frames) {
        const std::uint8_t mark = ++marks;
        ASSERT_TRUE(peer->replyAndWait(
            frames, {0x08, mark}, [&] { return hand->getRotorLockCount() == ByteVector{mark}; }));
    }

    std::string bus = uniqueBusName();
    std::unique_ptr<HandPeer> peer;
    std::unique_ptr<RavelHand> hand;
    std::uint8_t marks = 0;
};

}  // namespace

TEST_F(RavelHandTest, ConstructionAsksForTheSensorKind) {
    peer = std::make_unique<HandPeer>(bus, RIGHT);
    hand = std::make_unique<RavelHand>(RIGHT, "virtual:" + bus, 1000000);
    EXPECT_EQ(peer->take(2), (Frames{{0xB0}, {0xB1}}));
}

TEST_F(RavelHandTest, CommandsSendTheirFramesInOrder) {
    open();
    const std::vector<Sends<RavelHand>> cases = {
        {"positions",
         [](RavelHand& h) { h.setJointPositions(sequence(0, 20)); },
         {{0x03, 10, 11, 12, 13, 14},
          {0x04, 15, 16, 17, 18, 19},
          {0x01, 0, 1, 2, 3, 4},
          {0x02, 5, 6, 7, 8, 9}}},
        {"speeds", [](RavelHand& h) { h.setSpeed(sequence(1, 5)); }, {{0x05, 1, 2, 3, 4, 5}}},
        {"currents", [](RavelHand& h) { h.setCurrent(sequence(6, 5)); }, {{0x06, 6, 7, 8, 9, 10}}},
        {"fault clearing",
         [](RavelHand& h) { h.clearFaultCode(ByteVector(5, 0xFF)); },
         {{0x07, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}}},
    };
    expectSends(*hand, *peer, cases);
}

TEST_F(RavelHandTest, WrongSizesPrintAMessageAndSendNothing) {
    open();
    const std::vector<Prints<RavelHand>> cases = {
        {[](RavelHand& h) { h.setJointPositions(ByteVector(19)); },
         "Joint position size is not 20"},
        {[](RavelHand& h) { h.setJointPositions(ByteVector(21)); },
         "Joint position size is not 20"},
        {[](RavelHand& h) { h.setJointPositionArc(RadianVector(19)); },
         "Joint position size is not 20"},
        {[](RavelHand& h) { h.setJointPositionArc(RadianVector(21)); },
         "Joint position size is not 20"},
        {[](RavelHand& h) { h.setSpeed(ByteVector(4)); }, "Speed size is not 5"},
        {[](RavelHand& h) { h.setSpeed(ByteVector(6)); }, "Speed size is not 5"},
        {[](RavelHand& h) { h.setCurrent(ByteVector(20)); }, "Current size is not 5"},
        {[](RavelHand& h) { h.clearFaultCode({}); }, "clearFaultCode size is not 5"},
    };
    expectPrintsAndSendsNothing(*hand, *peer, cases);
}

TEST_F(RavelHandTest, GettersRequestTheirStateAndReturnTheLatestReply) {
    open();
    struct Case {
        const char* what;
        std::function<ByteVector(RavelHand&)> get;
        ByteVector reply;
        ByteVector result;
    };
    // The four single-frame force getters keep the code byte; the others return the payload.
    const Case cases[] = {
        {"speed",
         [](RavelHand& h) { return h.getSpeed(); },
         {0x05, 1, 2, 3, 4, 5},
         {1, 2, 3, 4, 5}},
        {"current", [](RavelHand& h) { return h.getCurrent(); }, {0x06, 6, 7}, {6, 7}},
        {"faults",
         [](RavelHand& h) { return h.getFaultCode(); },
         {0x07, 0, 4, 0, 0, 1},
         {0, 4, 0, 0, 1}},
        {"rotor locks", [](RavelHand& h) { return h.getRotorLockCount(); }, {0x08, 3, 0}, {3, 0}},
        {"UID",
         [](RavelHand& h) { return h.getUID(); },
         {0xC0, 1, 2, 3, 4, 5, 6, 7},
         sequence(1, 7)},
        {"normal force",
         [](RavelHand& h) { return h.getNormalForce(); },
         {0x20, 9, 8},
         {0x20, 9, 8}},
        {"tangential force",
         [](RavelHand& h) { return h.getTangentialForce(); },
         {0x21, 1, 2, 3},
         {0x21, 1, 2, 3}},
        {"tangential direction",
         [](RavelHand& h) { return h.getTangentialForceDir(); },
         {0x22, 4},
         {0x22, 4}},
        {"approach", [](RavelHand& h) { return h.getApproachInc(); }, {0x23}, {0x23}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.get(*hand), ByteVector{}) << c.what;
        EXPECT_EQ(peer->drain(), Frames{{c.reply[0]}}) << c.what;
        peer->reply(c.reply);
        EXPECT_TRUE(eventually([&] { return c.get(*hand) == c.result; })) << c.what;
        peer->drain();
    }

    // A reply that holds only its code has no payload to return.
    replyAndWait({{0x05}, {0xC0}});
    EXPECT_EQ(hand->getSpeed(), ByteVector{});
    EXPECT_EQ(hand->getUID(), ByteVector{});
}

TEST_F(RavelHandTest, StatusJoinsWhicheverPositionRepliesHaveArrived) {
    open();
    EXPECT_EQ(hand->getCurrentStatus(), ByteVector{});
    EXPECT_EQ(peer->drain(), (Frames{{0x01}, {0x02}, {0x03}, {0x04}}));

    replyAndWait({{0x03, 10, 11, 12, 13, 14}, {0x01, 0, 1, 2, 3, 4}});
    EXPECT_EQ(hand->getCurrentStatus(), (ByteVector{0, 1, 2, 3, 4, 10, 11, 12, 13, 14}));

    replyAndWait({{0x04, 15, 16, 17, 18, 19}, {0x02, 5, 6, 7, 8, 9}});
    EXPECT_EQ(hand->getCurrentStatus(), sequence(0, 20));
}

TEST_F(RavelHandTest, RadianFormsUseTheTablesOfTheHandsSide) {
    for (const auto& [side, name] : {std::pair{RIGHT, "right"}, std::pair{LEFT, "left"}}) {
        open(side);
        RadianVector angles(20);
        for (std::size_t i = 0; i < angles.size(); ++i)
            angles[i] = 0.05 * static_cast<double>(i);
        const ByteVector bytes = arc_to_range(20, name, angles);
        ASSERT_EQ(bytes.size(), 20u);
        hand->setJointPositionArc(angles);
        const auto group = [&](std::uint8_t code, std::size_t first) {
            ByteVector frame{code};
            frame.insert(frame.end(), bytes.begin() + first, bytes.begin() + first + 5);
            return frame;
        };
        EXPECT_EQ(peer->drain(),
                  (Frames{group(0x03, 10), group(0x04, 15), group(0x01, 0), group(0x02, 5)}))
            << name;

        EXPECT_EQ(hand->getCurrentStatusArc(), RadianVector{}) << name;
        const ByteVector state = sequence(100, 20);
        replyAndWait({{0x01, 100, 101, 102, 103, 104},
                      {0x02, 105, 106, 107, 108, 109},
                      {0x03, 110, 111, 112, 113, 114},
                      {0x04, 115, 116, 117, 118, 119}});
        EXPECT_EQ(hand->getCurrentStatusArc(), range_to_arc(20, name, state)) << name;
        hand.reset();
    }
}

TEST(RavelHand, IdentifierWithoutASideNeitherConvertsNorSends) {
    expectSidelessRadiansDoNothing<RavelHand>(0x30, 20);
}

TEST_F(RavelHandTest, ForceFollowsTheReportedSensorKind) {
    open();
    struct Case {
        const char* what;
        Frames reports;
        Frames requests;
        ForceData force;
    };
    // Every report is taken as it comes, 0 included; only kinds 1 and 2 are read.
    const Case cases[] = {
        {"nothing reported yet", {}, {}, {}},
        {"matrix sensors", {{0xB0, 2}}, kMatrixReads, zeroMatrices()},
        {"kind 0", {{0xB0, 0}}, {}, {}},
        {"kind 3", {{0xB0, 3}}, {}, {}},
        {"a bare report changes nothing", {{0xB0, 2}, {0xB0}}, kMatrixReads, zeroMatrices()},
        {"kind 0xFF", {{0xB0, 0xFF}}, {}, {}},
        {"a three-byte matrix frame", {{0xB2, 7, 7}}, kMatrixReads, zeroMatrices()},
        {"summary sensors",
         {{0xB0, 1}},
         kSummaryReads,
         ForceData(5, ByteMatrix(1, ByteVector(4, 0)))},
    };
    for (const Case& c : cases) {
        replyAndWait(c.reports);
        EXPECT_EQ(hand->getForce(), c.force) << c.what;
        EXPECT_EQ(peer->drain(), c.requests) << c.what;
    }
}

TEST_F(RavelHandTest, MatrixFramesFillOnlyRowsThatExist) {
    open();
    replyAndWait({{0xB3, 0x50, 1, 2, 3, 4, 5, 6}});  // before the sensor kind is known
    replyAndWait({{0xB0, 2},
                  {0xB3, 0x50, 1, 2, 3, 4, 5, 6},  // finger 2, row 5
                  {0xB5, 0xB7, 7, 7, 7, 7, 7, 7},  // finger 4, row 11 (low nibble unused)
                  {0xB1, 0xC0, 9, 9, 9, 9, 9, 9},  // row 12: no such row
                  {0xB4, 0xF0, 9, 9, 9, 9, 9, 9},  // row 15
                  {0xB2, 0x10, 9, 9, 9, 9, 9},     // seven bytes
                  {0xB2, 0x10},                    // two bytes
                  {0xB6, 0x10, 9, 9, 9, 9, 9, 9}});
    ForceData expected = zeroMatrices();
    expected[2][5] = {1, 2, 3, 4, 5, 6};
    expected[4][11] = {7, 7, 7, 7, 7, 7};
    EXPECT_EQ(hand->getForce(), expected);
    EXPECT_EQ(peer->drain(), kMatrixReads);

    // A three-byte frame only announces matrix sensors; it writes no row.
    replyAndWait({{0xB3, 0x50, 0}});
    EXPECT_EQ(hand->getForce(), expected);
}

TEST_F(RavelHandTest, SummaryRepliesAreCutAtTheRowsEnd) {
    open();
    // Before the first summary read the rows still hold six values.
    replyAndWait({{0xB0, 2}, {0x30, 1, 2, 3, 4, 5, 6, 7}, {0x31}});
    ForceData matrices = zeroMatrices();
    matrices[0][0] = {1, 2, 3, 4, 5, 6};
    EXPECT_EQ(hand->getForce(), matrices);

    replyAndWait({{0xB0, 1}});
    ForceData expected(5, ByteMatrix(1, ByteVector(4, 0)));
    expected[0][0] = {1, 2, 3, 4};
    EXPECT_EQ(hand->getForce(), expected);

    replyAndWait({{0x31, 9, 8, 7, 6, 5, 4, 3}, {0x34, 1, 2}});
    expected[1][0] = {9, 8, 7, 6};
    expected[4][0] = {1, 2, 0, 0};
    EXPECT_EQ(hand->getForce(), expected);

    // The shape stays: matrix reads are sent again, but their rows no longer fit.
    replyAndWait({{0xB0, 2}, {0xB3, 0x00, 1, 1, 1, 1, 1, 1}});
    EXPECT_EQ(hand->getForce(), expected);
    EXPECT_EQ(peer->drain(), kMatrixReads);
}

TEST_F(RavelHandTest, VersionTextShowsWhatTheHandHasReported) {
    open();
    EXPECT_EQ(hand->getVersion(), "");
    EXPECT_EQ(peer->drain(), (Frames{{0xC1}, {0xC2}, {0xC3}}));

    replyAndWait({{0xC3, 0x27}, {0xC1}});
    EXPECT_EQ(hand->getVersion(), "") << "nothing without the software version";

    struct Case {
        Frames replies;
        std::string text;
    };
    const Case cases[] = {
        // No hardware version reported yet: its line is left out.
        {{{0xC2, 0x15}}, "Hand direction: Right hand\nSoftware Version: 1.5\n"},
        {{{0xC1, 0x10}, {0xC3, 0x28}, {0xC2, 0x21}},
         "Hand direction: Left hand\nSoftware Version: 2.1\nHardware Version: 1\n"},
        {{{0xC3, 0x27}, {0xC2, 0x30}, {0xC1, 0x12}},
         "Hand direction: Right hand\nSoftware Version: 3\nHardware Version: 1.2\n"},
        {{{0xC3, 0x30}}, "Software Version: 3\nHardware Version: 1.2\n"},
        {{{0xC3}}, "Software Version: 3\nHardware Version: 1.2\n"},
        {{{0xC2}}, ""},
    };
    for (const Case& c : cases) {
        replyAndWait(c.replies);
        EXPECT_EQ(hand->getVersion(), c.text);
    }
}

TEST(RavelHand, OperationsItLacksAreRefused) {
    RavelHand hand(RIGHT, "virtual:" + uniqueBusName(), 1000000);
    const std::vector<std::pair<std::string, std::function<void()>>> operations = {
        {"getForce", [&] { hand.getForce(1); }},
        {"getThumbForce", [&] { hand.getThumbForce(); }},
        {"getIndexForce", [&] { hand.getIndexForce(); }},
        {"getMiddleForce", [&] { hand.getMiddleForce(); }},
        {"getRingForce", [&] { hand.getRingForce(); }},
        {"getLittleForce", [&] { hand.getLittleForce(); }},
        {"setTorque", [&] { hand.setTorque(ByteVector(5)); }},
        {"getTorque", [&] { hand.getTorque(); }},
        {"getTemperature", [&] { hand.getTemperature(); }},
        {"setMotorEnable", [&] { hand.setMotorEnable(ByteVector(5)); }},
        {"setMotorDisable", [&] { hand.setMotorDisable(ByteVector(5)); }},
    };
    expectRefused(operations);
}

TEST(RavelHand, DestructionWithASilentHandIsPrompt) {
    expectPromptDestruction(
        std::make_unique<RavelHand>(RIGHT, "virtual:" + uniqueBusName(), 1000000));
}

TEST(RavelHand, ChannelFailureLeavesTheConstructor) {
    EXPECT_THROW(RavelHand(RIGHT, "velmora-no-such-can", 1000000), std::runtime_error);
}

TEST_F(RavelHandTest, GettersAndTheReceiveThreadShareTheCachesSafely) {
    open();
    std::atomic<bool> done{false};
    std::thread handSide([&] {
        for (std::uint8_t i = 0; !done; ++i) {
            peer->reply({0x01, i, i, i, i, i});
            peer->reply({0x03, i, i, i, i, i});
            peer->reply({0xB0, static_cast<std::uint8_t>(1 + i % 2)});
            peer->reply({0xB2, static_cast<std::uint8_t>((i % 12) << 4), i, i, i, i, i, i});
            peer->reply({0x32, i, i, i, i});
            peer->reply({0xC2, i});
            std::this_thread::sleep_for(1ms);
        }
    });
    for (int round = 0; round < 25; ++round) {
        const ByteVector status = hand->getCurrentStatus();
        if (!status.empty()) {
            EXPECT_EQ(std::count(status.begin(), status.begin() + 5, status[0]), 5) << "torn frame";
        }
        hand->getForce();
        hand->getVersion();
        hand->setSpeed(ByteVector(5, static_cast<std::uint8_t>(round)));
    }
    done = true;
    handSide.join();
}
