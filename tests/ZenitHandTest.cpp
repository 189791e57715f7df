// The 25-joint hand and its 21-joint variant on a virtual bus, with a peer endpoint standing in
// for the hand.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <functional>

#include "support/HandTesting.h"
#include "velmora/velmora.h"

using namespace velmora;
using namespace velmora::testing;
using velmora::hand::ZenitHand;

namespace {

// The hand's position frames for the command values 1..25: thumb (finger 0) carries index 10
// in slot 0; slots 4 of every finger and slot 0 of the others carry nothing.
const Frames kPositionFrames{{0x41, 11, 6, 1, 16, 0, 21},
                             {0x42, 0, 7, 2, 17, 0, 22},
                             {0x43, 0, 8, 3, 18, 0, 23},
                             {0x44, 0, 9, 4, 19, 0, 24},
                             {0x45, 0, 10, 5, 20, 0, 25}};

// Five frames of one family, codes first to first + 4, each with the given payload.
Frames family(std::uint8_t first, const std::vector<ByteVector>& payloads) {
    Frames frames;
    for (std::size_t f = 0; f < payloads.size(); ++f) {
        frames.push_back({static_cast<std::uint8_t>(first + f)});
        frames.back().insert(frames.back().end(), payloads[f].begin(), payloads[f].end());
    }
    return frames;
}

class ZenitHandTest : public ::testing::Test {
  protected:
    ZenitHand& open(int variant = 0, std::uint32_t side = RIGHT) {
        peer = std::make_unique<HandPeer>(bus, side);
        hand = std::make_unique<ZenitHand>(side, "virtual:" + bus, 1000000, variant);
        peer->drain();
        return *hand;
    }

    // Sends the frames as the hand, then waits until the receive thread has handled them: a
    // last UID frame carries a mark that getUID shows once it is stored.
    void replyAndWait(const Frames& frames) {
        const std::uint8_t mark = ++marks;
        ASSERT_TRUE(peer->replyAndWait(frames, {0xC0, mark}, [&] {
            return hand->getUID() == ByteVector{0xC0, mark};
        }));
    }

    std::string bus = uniqueBusName();
    std::unique_ptr<HandPeer> peer;
    std::unique_ptr<ZenitHand> hand;
    std::uint8_t marks = 0;
};

}  // namespace

TEST_F(ZenitHandTest, ConstructionAsksForTheSensorKind) {
    peer = std::make_unique<HandPeer>(bus, RIGHT);
    hand = std::make_unique<ZenitHand>(RIGHT, "virtual:" + bus, 1000000, 1);
    EXPECT_EQ(peer->take(2), (Frames{{0xB0}, {0xB1}}));
}

TEST_F(ZenitHandTest, PositionsTravelInThePerFingerOrderAndComeBack) {
    open();
    hand->setJointPositions(sequence(1, 25));
    EXPECT_EQ(peer->drain(), kPositionFrames);

    EXPECT_EQ(hand->getCurrentStatus(), ByteVector{}) << "no state yet";
    EXPECT_EQ(peer->drain(), (Frames{{0x41}, {0x42}, {0x43}, {0x44}, {0x45}}));
    replyAndWait(kPositionFrames);
    ByteVector expected = sequence(1, 25);
    std::fill(expected.begin() + 11, expected.begin() + 15, 0);
    EXPECT_EQ(hand->getCurrentStatus(), expected);
}

TEST_F(ZenitHandTest, StateOrderToCommandOrder) {
    open();
    // Slot s holds 100 + s: each command index shows which slot it came from.
    const ByteVector slots = sequence(100, 30);
    const ByteVector expected{102, 108, 114, 120, 126, 101, 107, 113, 119, 125, 100, 0,  0,
                              0,   0,   103, 109, 115, 121, 127, 105, 111, 117, 123, 129};
    EXPECT_EQ(hand->state_to_cmd(slots), expected);

    ByteVector partial(expected.size(), 0);  // slots 0 to 8 only
    for (std::size_t index : {0, 1, 5, 6, 10, 15, 20})
        partial[index] = expected[index];
    EXPECT_EQ(hand->state_to_cmd(ByteVector(slots.begin(), slots.begin() + 9)), partial);
    EXPECT_EQ(hand->state_to_cmd({}), ByteVector(25, 0));
}

TEST_F(ZenitHandTest, JointStateNeedsEveryFingerAndThirtySlots) {
    open();
    const Frames complete = family(0x41, std::vector<ByteVector>(5, ByteVector(6, 7)));
    struct Case {
        const char* what;
        Frames frames;
        std::size_t size;
    };
    const Case cases[] = {
        {"a finger frame one byte short", {{0x43, 7, 7, 7, 7, 7}}, 0},
        {"a finger frame of the code alone", {{0x45}}, 0},
        {"a finger frame one byte long", {{0x42, 7, 7, 7, 7, 7, 7, 7}}, 0},
        {"one short, one long: thirty in all",
         {{0x42, 7, 7, 7, 7, 7}, {0x44, 7, 7, 7, 7, 7, 7, 7}},
         25},
    };
    ByteVector full(25, 7);
    std::fill(full.begin() + 11, full.begin() + 15, 0);
    for (const Case& c : cases) {
        replyAndWait(complete);
        ASSERT_EQ(hand->getCurrentStatus(), full);
        replyAndWait(c.frames);
        EXPECT_EQ(hand->getCurrentStatus().size(), c.size) << c.what;
    }
}

TEST_F(ZenitHandTest, SpeedsAndTorquesTravelInCommandOrder) {
    open();
    const Frames speeds{{0x49, 0, 1, 2, 3, 4},
                        {0x4A, 5, 6, 7, 8, 9},
                        {0x4B, 10, 11, 12, 13, 14},
                        {0x4C, 15, 16, 17, 18, 19},
                        {0x4D, 20, 21, 22, 23, 24}};
    hand->setSpeed(sequence(0, 25));
    EXPECT_EQ(peer->drain(), speeds);
    hand->setTorque(sequence(0, 25));
    EXPECT_EQ(peer->drain(), family(0x51, {{0, 1, 2, 3, 4},
                                           {5, 6, 7, 8, 9},
                                           {10, 11, 12, 13, 14},
                                           {15, 16, 17, 18, 19},
                                           {20, 21, 22, 23, 24}}));
    EXPECT_EQ(hand->getSpeed(), ByteVector{}) << "commands leave nothing in the caches";
    EXPECT_EQ(hand->getTorque(), ByteVector{});
    EXPECT_EQ(
        peer->drain(),
        (Frames{{0x49}, {0x4A}, {0x4B}, {0x4C}, {0x4D}, {0x51}, {0x52}, {0x53}, {0x54}, {0x55}}));

    // The hand reports them per finger, like positions.
    Frames perFinger = kPositionFrames;
    for (std::size_t f = 0; f < 5; ++f) {
        perFinger[f][0] = static_cast<std::uint8_t>(0x49 + f);
    }
    replyAndWait(perFinger);
    ByteVector expected = sequence(1, 25);
    std::fill(expected.begin() + 11, expected.begin() + 15, 0);
    EXPECT_EQ(hand->getSpeed(), expected);
    EXPECT_EQ(hand->getTorque(), ByteVector{});
}

TEST_F(ZenitHandTest, FaultsAndTemperaturesAreTheFivePayloadsJoined) {
    open();
    EXPECT_EQ(hand->getFaultCode(), ByteVector{});
    EXPECT_EQ(hand->getTemperature(), ByteVector{});
    EXPECT_EQ(
        peer->drain(),
        (Frames{{0x59}, {0x5A}, {0x5B}, {0x5C}, {0x5D}, {0x61}, {0x62}, {0x63}, {0x64}, {0x65}}));

    replyAndWait(family(0x59, {{1}, {2, 3}, {4, 5, 6}, {7}, {8, 9}}));
    replyAndWait(family(0x61, {{30, 31, 32, 33, 34, 35}, {40}, {50}, {60}, {70}}));
    EXPECT_EQ(hand->getFaultCode(), sequence(1, 9)) << "any lengths, code order, no reordering";
    EXPECT_EQ(hand->getTemperature(), (ByteVector{30, 31, 32, 33, 34, 35, 40, 50, 60, 70}));

    replyAndWait({{0x5B}, {0x65}});
    EXPECT_EQ(hand->getFaultCode(), ByteVector{});
    EXPECT_EQ(hand->getTemperature(), ByteVector{});
}

TEST_F(ZenitHandTest, SingleFrameGettersKeepTheCodeByte) {
    open();
    struct Case {
        const char* what;
        std::function<ByteVector(ZenitHand&)> get;
        ByteVector reply;
    };
    const Case cases[] = {
        {"normal force", [](ZenitHand& h) { return h.getNormalForce(); }, {0x90, 1, 2, 3}},
        {"tangential force", [](ZenitHand& h) { return h.getTangentialForce(); }, {0x91, 4}},
        {"direction", [](ZenitHand& h) { return h.getTangentialForceDir(); }, {0x92, 5, 6}},
        {"approach", [](ZenitHand& h) { return h.getApproachInc(); }, {0x93, 7}},
        {"comm id", [](ZenitHand& h) { return h.getCommID(); }, {0xC3, 0x27, 8}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.get(*hand), ByteVector{}) << c.what;
        EXPECT_EQ(peer->drain(), Frames{{c.reply[0]}}) << c.what;
        replyAndWait({c.reply});
        EXPECT_EQ(c.get(*hand), c.reply) << c.what;
        peer->drain();
    }
}

TEST_F(ZenitHandTest, FingerForcesStayZeroWhateverTheHandSends) {
    open(1);
    replyAndWait({{0x98, 1, 2, 3}, {0x9C, 4, 5, 6}, {0xB1, 0x00, 1, 1, 1, 1, 1, 1}});
    const std::vector<std::function<ByteVector(ZenitHand&)>> getters = {
        [](ZenitHand& h) { return h.getThumbForce(); },
        [](ZenitHand& h) { return h.getIndexForce(); },
        [](ZenitHand& h) { return h.getMiddleForce(); },
        [](ZenitHand& h) { return h.getRingForce(); },
        [](ZenitHand& h) { return h.getLittleForce(); },
    };
    for (std::size_t f = 0; f < getters.size(); ++f) {
        EXPECT_EQ(getters[f](*hand), ByteVector(72, 0));
        EXPECT_EQ(peer->drain(), Frames{{static_cast<std::uint8_t>(0x98 + f)}});
    }
}

TEST_F(ZenitHandTest, ForceRowsOfTheFullHandAreTheFourScalarPayloads) {
    open(0);
    replyAndWait({{0xB0, 2}, {0x90, 1, 2}, {0x91, 3}, {0x92, 4, 5, 6}, {0x93, 7}});
    const ByteMatrix expected{{1, 2}, {3}, {4, 5, 6}, {7}};
    for (std::int32_t which : {0, 1, -3}) {
        EXPECT_EQ(hand->getForce(which), expected) << which;
        EXPECT_EQ(peer->drain(), (Frames{{0x90}, {0x91}, {0x92}, {0x93}})) << which;
    }
}

TEST_F(ZenitHandTest, ForceRowsOfTheVariantDependOnItsSensors) {
    open(1);
    replyAndWait({{0x90, 1, 2}, {0x91, 3}, {0x92, 4, 5, 6}, {0x93, 7}});

    // Without matrix sensors: the finger forces for 0, the scalar payloads otherwise.
    EXPECT_EQ(hand->getForce(0), ByteMatrix(5, ByteVector(71, 0)));
    EXPECT_EQ(peer->drain(), (Frames{{0x98}, {0x99}, {0x9A}, {0x9B}, {0x9C}}));
    EXPECT_EQ(hand->getForce(1), (ByteMatrix{{1, 2}, {3}, {4, 5, 6}, {7}}));
    EXPECT_EQ(peer->drain(), (Frames{{0x90}, {0x91}, {0x92}, {0x93}}));

    // With them: the matrices are asked for, whatever the argument.
    replyAndWait({{0xB4, 1, 2}});
    for (std::int32_t which : {0, 1}) {
        EXPECT_EQ(hand->getForce(which), ByteMatrix(5, ByteVector(72, 0))) << which;
        EXPECT_EQ(peer->drain(), kMatrixReads) << which;
    }
}

TEST_F(ZenitHandTest, UnknownVariantHasNoForceRows) {
    open(2);
    replyAndWait({{0x90, 1, 2}, {0xB0, 2}});
    EXPECT_EQ(hand->getForce(0), ByteMatrix{});
    EXPECT_EQ(hand->getForce(1), ByteMatrix{});
    EXPECT_EQ(peer->drain(), Frames{});
}

TEST_F(ZenitHandTest, MatrixFramesFillTheFingertipRows) {
    open();
    ForceData expected(5, ByteMatrix(12, ByteVector(6, 0)));
    EXPECT_EQ(hand->getForce(), expected);
    EXPECT_EQ(peer->drain(), kMatrixReads) << "asked for even before the sensors are known";

    replyAndWait({{0xB3, 0x50, 9, 9, 9, 9, 9, 9},  // not in matrix mode yet
                  {0xB2, 0x01, 0x02},              // matrix sensors announced
                  {0xB3, 0x50, 1, 2, 3, 4, 5, 6},  // finger 2, row 5
                  {0xB5, 0xB3, 7, 7, 7, 7, 7, 7},  // finger 4, row 11
                  {0xB3, 0xC0, 9, 9, 9, 9, 9, 9},  // row 12
                  {0xB1, 0x10, 9, 9, 9, 9, 9}});   // seven bytes
    expected[2][5] = {1, 2, 3, 4, 5, 6};
    expected[4][11] = ByteVector(6, 7);
    EXPECT_EQ(hand->getForce(), expected);

    // A kind report outside 1..3 leaves matrix mode on.
    replyAndWait({{0xB0, 0}, {0xB0, 4}, {0xB1, 0x00, 5, 5, 5, 5, 5, 5}});
    expected[0][0] = ByteVector(6, 5);
    EXPECT_EQ(hand->getForce(), expected);
    replyAndWait({{0xB0, 1}, {0xB1, 0x00, 6, 6, 6, 6, 6, 6}});
    EXPECT_EQ(hand->getForce(), expected);
}

TEST_F(ZenitHandTest, VersionTextFromTheThreeReplies) {
    open();
    EXPECT_EQ(hand->getVersion(), "");
    EXPECT_EQ(peer->drain(), (Frames{{0xC1}, {0xC2}, {0xC3}}));
    struct Case {
        Frames replies;
        std::string text;
    };
    const Case cases[] = {
        {{{0xC3, 0x27}, {0xC1, 1, 2, 10, 16}, {0xC2}},
         "Hand direction: Right hand\nSoftware Version: 1.2.a.10\n"},
        {{{0xC3, 0x28, 1}, {0xC1, 1, 2, 3}, {0xC2, 0, 0xFF, 0x10, 0xAB}},
         "Hand direction: Left hand\nHardware Version: 0.ff.10.ab\n"},
        {{{0xC3, 0x30}, {0xC1, 1, 2, 3, 4, 5}, {0xC2, 1, 2, 3, 4}},
         "Hand direction: unknown\nHardware Version: 1.2.3.4\n"},
        {{{0xC3}, {0xC1, 0, 0, 0, 0}, {0xC2, 1, 2, 3, 4, 5}}, "Software Version: 0.0.0.0\n"},
        {{{0xC3}, {0xC1}, {0xC2}}, ""},
    };
    for (const Case& c : cases) {
        replyAndWait(c.replies);
        EXPECT_EQ(hand->getVersion(), c.text);
    }
}

TEST_F(ZenitHandTest, PlainCommands) {
    open();
    hand->setMotorEnable({1, 0, 1, 0, 1, 0, 1});
    hand->setMotorDisable({1, 0, 1, 0, 1, 0, 1});
    hand->setMotorEnable({});
    hand->factoryReset();
    hand->saveParameter();
    EXPECT_EQ(
        peer->drain(),
        (Frames{{0x85, 1, 0, 1, 0, 1, 0, 1}, {0x85, 1, 0, 1, 0, 1, 0, 1}, {0x85}, {0xCE}, {0xCF}}));
}

TEST_F(ZenitHandTest, WrongSizesPrintAMessageAndSendNothing) {
    open();
    const std::vector<Prints<ZenitHand>> cases = {
        {[](ZenitHand& h) { h.setJointPositions(ByteVector(24)); },
         "Joint position size is not 25"},
        {[](ZenitHand& h) { h.setJointPositions(ByteVector(30)); },
         "Joint position size is not 25"},
        {[](ZenitHand& h) { h.setJointPositionArc(RadianVector(21)); },
         "Joint position size is not 25"},
        {[](ZenitHand& h) { h.setSpeed(ByteVector(24)); }, "Joint speed size is not 25"},
        {[](ZenitHand& h) { h.setTorque(ByteVector(26)); }, "Joint torque size is not 25"},
        // Eight motor bytes and the code do not fit in one frame.
        {[](ZenitHand& h) { h.setMotorEnable(ByteVector(8, 1)); },
         "CAN frame not sent: 9 data bytes, a frame holds at most 8"},
        {[](ZenitHand& h) { h.setMotorDisable(ByteVector(20, 1)); },
         "CAN frame not sent: 21 data bytes, a frame holds at most 8"},
    };
    expectPrintsAndSendsNothing(*hand, *peer, cases);
}

TEST_F(ZenitHandTest, RadianFormsUseTheTablesOfTheVariantAndSide) {
    struct Case {
        int variant;
        std::uint32_t side;
        int key;
        const char* sideName;
    };
    const Case cases[] = {{0, RIGHT, 25, "right"}, {1, LEFT, 21, "left"}};
    RadianVector angles(25);
    for (std::size_t i = 0; i < angles.size(); ++i)
        angles[i] = 0.05 * static_cast<double>(i);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.key);
        hand.reset();
        open(c.variant, c.side);
        const ByteVector bytes = arc_to_range(c.key, c.sideName, angles);
        ASSERT_EQ(bytes.size(), 25u);
        hand->setJointPositions(bytes);
        const Frames frames = peer->drain();
        ASSERT_EQ(frames.size(), 5u);
        hand->setJointPositionArc(angles);
        EXPECT_EQ(peer->drain(), frames);

        replyAndWait(frames);
        ByteVector readBack = bytes;
        std::fill(readBack.begin() + 11, readBack.begin() + 15, 0);
        EXPECT_EQ(hand->getCurrentStatusArc(), range_to_arc(c.key, c.sideName, readBack));
    }
}

TEST_F(ZenitHandTest, UnknownVariantHasNoConversionTables) {
    open(2);
    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    hand->setJointPositionArc(RadianVector(25, 0.1));
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "Joint position size is not 25\n");
    EXPECT_EQ(err, "Error: Invalid joints_type or left_or_right parameter.\n");
    EXPECT_EQ(peer->drain(), Frames{});

    replyAndWait(kPositionFrames);
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(hand->getCurrentStatusArc(), RadianVector{});
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "Error: Invalid joints_type or left_or_right parameter.\n");
}

TEST(ZenitHand, IdentifierWithoutASideNeitherConvertsNorSends) {
    expectSidelessRadiansDoNothing<ZenitHand>(0x26, 25, 0);
}

TEST(ZenitHand, OperationsItLacksAreRefused) {
    ZenitHand hand(RIGHT, "virtual:" + uniqueBusName(), 1000000, 0);
    EXPECT_THROW(hand.getCurrent(), UnsupportedFeatureException);
    EXPECT_THROW(hand.getRotorLockCount(), UnsupportedFeatureException);
    EXPECT_THROW(hand.clearFaultCode({1}), UnsupportedFeatureException);
    EXPECT_THROW(hand.setCurrent(ByteVector(25)), UnsupportedFeatureException);
}

TEST(ZenitHand, DestructionWithASilentHandIsPrompt) {
    expectPromptDestruction(
        std::make_unique<ZenitHand>(RIGHT, "virtual:" + uniqueBusName(), 1000000, 1));
}

TEST(ZenitHand, ChannelFailureLeavesTheConstructor) {
    EXPECT_THROW(ZenitHand(RIGHT, "velmora-no-such-can", 1000000, 0), std::runtime_error);
}

TEST_F(ZenitHandTest, GettersAndTheReceiveThreadShareTheCachesSafely) {
    open(1);
    std::atomic<bool> done{false};
    std::thread handSide([&] {
        for (std::uint8_t i = 0; !done; ++i) {
            for (std::uint8_t code = 0x41; code <= 0x45; ++code)
                peer->reply({code, i, i, i, i, i, i});
            peer->reply({0xB0, static_cast<std::uint8_t>(1 + i % 2)});
            peer->reply({0xB2, static_cast<std::uint8_t>((i % 12) << 4), i, i, i, i, i, i});
            std::this_thread::sleep_for(1ms);
        }
    });
    for (int round = 0; round < 10; ++round) {
        const ByteVector status = hand->getCurrentStatus();
        if (status.size() == 25) {
            // Indices 0, 5, 10, 15 and 20 all come from the thumb's frame.
            for (std::size_t index : {5u, 10u, 15u, 20u})
                EXPECT_EQ(status[index], status[0]) << "torn frame";
        }
        for (const ByteMatrix& finger : hand->getForce())
            for (const ByteVector& row : finger)
                EXPECT_EQ(std::count(row.begin(), row.end(), row[0]), 6) << "torn row";
        hand->getForce(round % 2);
        hand->getVersion();
    }
    done = true;
    handSide.join();
}
