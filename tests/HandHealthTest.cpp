// Health counters, reply ages, fresh reads and the message sink, with a peer standing in for
// the hand on a virtual bus.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <future>
#include <mutex>
#include <thread>

#include "support/HandTesting.h"
#include "velmora/velmora.h"

using namespace velmora;
using namespace velmora::testing;
using velmora::hand::HandHealth;
using velmora::hand::Reading;

namespace {

class HandHealthTest : public ::testing::Test {
  protected:
    void SetUp() override { Common::current_hand_version = 1.5f; }
    void TearDown() override { Common::current_hand_version = 1.0f; }

    hand::TovinHand& open() {
        hand = std::make_unique<hand::TovinHand>(RIGHT, "virtual:" + bus, 1000000);
        peer.drain();
        return *hand;
    }

    // The facade takes only channel names with "can" in them.
    std::string bus = "can." + uniqueBusName();
    HandPeer peer{bus, RIGHT};
    std::unique_ptr<hand::TovinHand> hand;
};

// Starts a fresh read on another thread and returns once its requests are on the bus.
template <class Read>
auto startRead(HandPeer& peer, std::size_t requests, Read read) {
    auto result = std::async(std::launch::async, read);
    EXPECT_EQ(peer.take(requests).size(), requests);
    return result;
}

}  // namespace

TEST_F(HandHealthTest, CountersAndAgesFollowTheFramesOfEachIdentifier) {
    open();
    HandHealth health = hand->health();
    EXPECT_EQ(health.framesReceived, 0u);
    EXPECT_EQ(health.framesIgnored, 0u);
    EXPECT_FALSE(health.lastFrameAge);
    EXPECT_TRUE(health.channelUp);
    EXPECT_FALSE(hand->replyAge(0x01));

    HandPeer otherHand(bus, LEFT);
    for (int i = 0; i < 3; ++i)
        otherHand.reply({0x01, 1, 2, 3, 4, 5, 6});
    peer.reply({0x01, 1, 2, 3, 4, 5, 6});
    peer.reply({});  // an empty frame of this hand counts, and changes nothing
    ASSERT_TRUE(eventually([&] { return hand->health().framesReceived == 2; }));
    ASSERT_TRUE(eventually([&] { return hand->health().framesIgnored == 3; }));

    health = hand->health();
    ASSERT_TRUE(health.lastFrameAge);
    EXPECT_GE(health.lastFrameAge->count(), 0);
    EXPECT_EQ(health.sendFailures, 0u);
    EXPECT_EQ(health.receiveErrors, 0u);
    EXPECT_EQ(health.reconnects, 0u);
    ASSERT_TRUE(hand->replyAge(0x01));
    EXPECT_FALSE(hand->replyAge(0x04));

    // Silence: the ages only grow.
    const auto first = *hand->health().lastFrameAge;
    const auto firstReply = *hand->replyAge(0x01);
    ASSERT_TRUE(eventually([&] { return *hand->health().lastFrameAge > first + 2ms; }));
    EXPECT_GT(*hand->replyAge(0x01), firstReply);
}

TEST_F(HandHealthTest, WhatASetterStoresIsNotAReply) {
    open();
    hand->setSpeed(sequence(1, 10));
    EXPECT_EQ(hand->getSpeed(), sequence(1, 10));
    EXPECT_FALSE(hand->replyAge(0x05));
    EXPECT_FALSE(hand->replyAge(0x06));
    peer.drain();

    // Nor does a fresh read take it for one: only the hand's answer comes back.
    auto read = startRead(peer, 2, [&] { return hand->readFresh(Reading::Speeds, 5000ms); });
    peer.reply({0x05, 9, 9, 9, 9, 9});
    peer.reply({0x06, 8, 8, 8, 8, 8});
    EXPECT_EQ(read.get(), (ByteVector{9, 9, 9, 9, 9, 8, 8, 8, 8, 8}));
}

TEST_F(HandHealthTest, FreshReadReturnsOnlyAnswersToItsOwnRequests) {
    open();
    peer.reply({0x01, 1, 1, 1, 1, 1, 1});
    peer.reply({0x04, 1, 1, 1, 1});
    ASSERT_TRUE(eventually([&] { return hand->getCurrentStatus() == ByteVector(10, 1); }));
    peer.drain();

    auto read = startRead(peer, 2, [&] { return hand->readState(5000ms); });
    peer.reply({0x01, 2, 2, 2, 2, 2, 2});
    EXPECT_EQ(read.wait_for(20ms), std::future_status::timeout)
        << "half a reading is not a reading";
    peer.reply({0x04, 3, 3, 3, 3});
    EXPECT_EQ(read.get(), (ByteVector{2, 2, 2, 2, 2, 2, 3, 3, 3, 3}));
}

TEST_F(HandHealthTest, AReplyTooShortToFillTheReadingIsAskedForAgain) {
    open();
    auto read = startRead(peer, 2, [&] { return hand->readState(5000ms); });
    peer.reply({0x01, 1, 2, 3, 4, 5});  // a value short
    peer.reply({0x04, 7, 8, 9, 10});
    EXPECT_EQ(peer.take(2), (Frames{{0x01}, {0x04}})) << "asked again";
    peer.reply({0x01, 1, 2, 3, 4, 5, 6});
    peer.reply({0x04, 7, 8, 9, 10});
    EXPECT_EQ(read.get(), sequence(1, 10));
}

TEST_F(HandHealthTest, AHandThatOnlyEverCutsItsRepliesTimesOut) {
    open();
    std::atomic<bool> stop{false};
    std::thread cutter([&] {
        while (!stop) {
            for (const ByteVector& request : peer.take(1, 20ms)) {
                if (request.size() == 1)
                    peer.reply({request[0], 1});  // at once, and always too short
            }
        }
    });
    try {
        hand->readState(100ms);
        ADD_FAILURE() << "cut replies made a reading";
    } catch (const HandTimeoutException& e) {
        // Usually "too short"; a last request whose answer is still on its way at the
        // deadline is "missing" instead.
        EXPECT_THAT(e.what(), ::testing::HasSubstr("from hand 0x27 within 100 ms"));
    }
    stop = true;
    cutter.join();
}

TEST_F(HandHealthTest, SilentHandTimesOutNamingTheMissingReplies) {
    open();
    peer.reply({0x01, 1, 2, 3, 4, 5, 6});  // half of the positions, before the call
    ASSERT_TRUE(eventually([&] { return hand->replyAge(0x01).has_value(); }));

    const auto start = std::chrono::steady_clock::now();
    try {
        hand->readState(50ms);
        ADD_FAILURE() << "a silent hand gave a reading";
    } catch (const HandTimeoutException& e) {
        EXPECT_EQ(std::string(e.what()),
                  "No fresh reply from hand 0x27 within 50 ms: missing 0x01, 0x04");
        EXPECT_EQ(e.code(), HAND_TIMEOUT);
    }
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_GE(elapsed, 50ms);
    EXPECT_LT(elapsed, 5000ms);
    EXPECT_EQ(peer.drain(), (Frames{{0x01}, {0x04}}));

    // The radian form fails the same way; a timeout is a HandException.
    EXPECT_THROW(hand->readStateArc(10ms), HandException);
}

TEST_F(HandHealthTest, OldFirmwareIsNotAskedAndItsNextReportAnswers) {
    Common::current_hand_version = 1.0f;
    open();
    auto read = std::async(std::launch::async, [&] { return hand->readState(5000ms); });
    // Such a hand reports on its own, over and over.
    do {
        peer.reply({0x01, 5, 5, 5, 5, 5, 5});
        peer.reply({0x04, 6, 6, 6, 6});
    } while (read.wait_for(5ms) != std::future_status::ready);
    EXPECT_EQ(read.get(), (ByteVector{5, 5, 5, 5, 5, 5, 6, 6, 6, 6}));
    EXPECT_EQ(peer.drain(), Frames{}) << "firmware 1.4 and older is never asked";
}

TEST_F(HandHealthTest, ReadingsAModelLacksAreRefused) {
    open();
    EXPECT_THROW(hand->readFresh(Reading::Currents, 10ms), UnsupportedFeatureException);
    try {
        hand->readFresh(Reading::Currents, 10ms);
    } catch (const UnsupportedFeatureException& e) {
        EXPECT_EQ(std::string(e.what()), "Unsupported feature: readFresh(Currents)");
    }
    EXPECT_EQ(peer.drain(), Frames{});
}

TEST_F(HandHealthTest, FacadeForwardsHealthAndFreshReads) {
    VelmoraApi api(TOVIN, RIGHT, "virtual:" + bus);
    peer.drain();
    EXPECT_EQ(api.health().framesReceived, 0u);
    auto read = startRead(peer, 2, [&] { return api.readStateArc(5000ms); });
    peer.reply({0x01, 0, 0, 0, 0, 0, 0});
    peer.reply({0x04, 0, 0, 0, 0});
    EXPECT_EQ(read.get().size(), 10u);
    EXPECT_EQ(api.health().framesReceived, 2u);
    EXPECT_THROW(api.readFresh(Reading::Temperatures, 10ms), HandTimeoutException);
}

TEST_F(HandHealthTest, AWaitingReadAsksItsCallerAndStopsWhenTold) {
    VelmoraApi api(TOVIN, RIGHT, "virtual:" + bus);
    peer.drain();
    std::atomic<int> asked{0};
    std::atomic<bool> keepWaiting{true};
    auto read = startRead(peer, 2, [&] {
        return api.readStateWhile(60000ms, [&] {
            ++asked;
            return keepWaiting.load();
        });
    });
    ASSERT_TRUE(eventually([&] { return asked >= 2; }));
    keepWaiting = false;
    const auto start = std::chrono::steady_clock::now();
    try {
        read.get();
        ADD_FAILURE() << "a stopped read gave a reading";
    } catch (const HandTimeoutException& e) {
        EXPECT_EQ(std::string(e.what()), "Fresh read of hand 0x27 stopped: missing 0x01, 0x04");
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5000ms);

    // Answered at once, it needs nobody's leave.
    auto answered = startRead(peer, 2, [&] { return api.readStateWhile(5000ms, {}); });
    peer.reply({0x01, 1, 1, 1, 1, 1, 1});
    peer.reply({0x04, 2, 2, 2, 2});
    EXPECT_EQ(answered.get(), (ByteVector{1, 1, 1, 1, 1, 1, 2, 2, 2, 2}));
}

TEST_F(HandHealthTest, DestroyingTheFacadeEndsAWaitingFreshRead) {
    auto api = std::make_unique<VelmoraApi>(TOVIN, RIGHT, "virtual:" + bus);
    peer.drain();
    auto read = startRead(peer, 2, [&] { return api->readState(60000ms); });
    const auto start = std::chrono::steady_clock::now();
    api.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5000ms);
    try {
        read.get();
        ADD_FAILURE() << "the read outlived its hand";
    } catch (const HandTimeoutException& e) {
        EXPECT_THAT(e.what(), ::testing::HasSubstr("was closed before it replied"));
    }
}

TEST_F(HandHealthTest, NewCallsAreSafeWhileTheReceiveThreadRuns) {
    open();
    std::atomic<bool> stop{false};
    std::thread replies([&] {
        std::uint8_t i = 0;
        while (!stop) {
            peer.reply({0x01, i, i, i, i, i, i});
            peer.reply({0x04, i, i, i, i});
            ++i;
            std::this_thread::sleep_for(100us);
        }
    });
    std::thread watcher([&] {
        for (int i = 0; i < 200; ++i) {
            hand->health();
            hand->replyAge(0x01);
        }
    });
    for (int i = 0; i < 5; ++i) {
        const ByteVector state = hand->readState(5000ms);
        EXPECT_EQ(state.size(), 10u);
    }
    watcher.join();
    stop = true;
    replies.join();
}

TEST(MessageSink, ReceivesEveryLineInsteadOfTheStreams) {
    struct Line {
        MessageLevel level;
        std::string text;
    };
    std::mutex mutex;
    std::vector<Line> lines;
    setMessageSink([&](MessageLevel level, const std::string& text) {
        std::lock_guard<std::mutex> lock(mutex);
        lines.push_back({level, text});
    });
    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    {
        VelmoraApi api(TOVIN, RIGHT, "virtual:can.sink");
        api.fingerMove(ByteVector(3));
        api.setCurrent(ByteVector(5));
        api.setEnable(ByteVector(20));
        range_to_arc(99, "right", ByteVector(10));
        range_to_arc(10, "right", ByteVector(3));
    }
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    resetMessageSink();

    const std::vector<std::pair<MessageLevel, std::string>> expected = {
        {MessageLevel::Info, "CAN interface virtual:can.sink opened successfully"},
        {MessageLevel::Warning, "Joint position size is not 10"},
        {MessageLevel::Warning, "VelmoraApi : Currently only supports Ravel !"},
        {MessageLevel::Warning, "VelmoraApi : Currently only supports Zenit !"},
        {MessageLevel::Error, "Error: Invalid joints_type or left_or_right parameter."},
        {MessageLevel::Error, "Error: Invalid hand_range size."},
    };
    ASSERT_EQ(lines.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(lines[i].level, expected[i].first) << i;
        EXPECT_EQ(lines[i].text, expected[i].second) << i;
    }

    // Back to the default: the same lines on the same streams.
    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    range_to_arc(99, "right", ByteVector(10));
    hand::ZenitHand(RIGHT, "virtual:" + uniqueBusName(), 0, 0).setMotorEnable(ByteVector(9));
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "Error: Invalid joints_type or left_or_right parameter.\n");
    EXPECT_THAT(
        ::testing::internal::GetCapturedStdout(),
        ::testing::EndsWith("CAN frame not sent: 10 data bytes, a frame holds at most 8\n"));
}

TEST(Version, MatchesTheHeader) {
    EXPECT_STREQ(version(), VELMORA_VERSION_STRING);
    EXPECT_EQ(std::string(version()), std::to_string(VELMORA_VERSION_MAJOR) + "." +
                                          std::to_string(VELMORA_VERSION_MINOR) + "." +
                                          std::to_string(VELMORA_VERSION_PATCH));
}
