// What a hand needs of its SocketCAN channel beyond send and recv: a receive that can be woken,
// counters, and recovery from an interface that went away. Driven through the fake operating
// system, so no kernel is needed.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <future>
#include <optional>
#include <thread>

#include "detail/ChannelLink.h"
#include "support/FakeCanSystem.h"
#include "support/HandPeer.h"
#include "velmora/MessageSink.h"

using namespace velmora;
using namespace velmora::testing;
using velmora::communication::CanBus;
using velmora::communication::CanMessage;
using velmora::communication::detail::CanBusAccess;
using velmora::communication::detail::ChannelLink;
using velmora::communication::detail::Received;

namespace {

struct Channel {
    Channel() {
        ::testing::internal::CaptureStdout();
        bus = CanBusAccess::open("can0", 1000000, TOVIN, os);
        ::testing::internal::GetCapturedStdout();
        link = communication::detail::linkTo(*bus);
    }
    std::shared_ptr<FakeCanSystem> os = std::make_shared<FakeCanSystem>();
    std::unique_ptr<CanBus> bus;
    std::unique_ptr<ChannelLink> link;
};

}  // namespace

TEST(ChannelLink, ReceivesFramesOfEveryIdentifier) {
    Channel c;
    c.os->pushFrame(FakeCanSystem::frame(0x28, {0x01, 2}));
    c.os->pushFrame(FakeCanSystem::frame(0x27, {}));
    CanMessage m;
    ASSERT_EQ(c.link->receive(m), Received::Frame);
    EXPECT_EQ(m.id, 0x28u);
    EXPECT_EQ(m.len, 2);
    ASSERT_EQ(c.link->receive(m), Received::Frame);
    EXPECT_EQ(m.id, 0x27u);
    EXPECT_EQ(m.len, 0);
    EXPECT_EQ(c.link->receive(m), Received::Timeout) << "a quiet bus";
    EXPECT_TRUE(c.link->stats().up);
}

TEST(ChannelLink, WakeEndsAWaitingReceiveAndEveryLaterOne) {
    Channel c;
    c.os->maxWait = std::chrono::hours(1);  // only a frame or the wake ends a wait
    auto receive = std::async(std::launch::async, [&] {
        CanMessage m;
        return c.link->receive(m);
    });
    EXPECT_EQ(receive.wait_for(20ms), std::future_status::timeout);
    c.link->wake();
    EXPECT_EQ(receive.get(), Received::Woken);
    CanMessage m;
    EXPECT_EQ(c.link->receive(m), Received::Woken);
    EXPECT_THAT(c.os->calls(), ::testing::Contains("eventfd"));
}

TEST(ChannelLink, ReadFailuresAreCountedAndTellAGoneInterfaceFromAPassingError) {
    struct Case {
        int error;
        bool stillThere;  // the interface keeps its name, index and up flag
        Received received;
        bool up;
        std::uint64_t errors;
    };
    const Case cases[] = {
        {EAGAIN, true, Received::Timeout, true, 0},  {EINTR, true, Received::Timeout, true, 0},
        {ENETDOWN, true, Received::Error, false, 1}, {ENODEV, true, Received::Error, false, 1},
        {ENXIO, true, Received::Error, false, 1},    {EIO, true, Received::Error, true, 1},
        {EIO, false, Received::Error, false, 1},
    };
    for (const Case& k : cases) {
        Channel c;
        c.os->interfaceUp = k.stillThere;
        c.os->pushReadError(k.error);
        CanMessage m;
        EXPECT_EQ(c.link->receive(m), k.received) << k.error;
        EXPECT_EQ(c.link->stats().up, k.up) << k.error;
        EXPECT_EQ(c.link->stats().receiveErrors, k.errors) << k.error;
    }
}

TEST(ChannelLink, AnInterfaceThatComesBackIsBoundAgain) {
    Channel c;
    c.os->pushReadError(ENODEV);
    c.os->failIndex = true;  // deleted
    CanMessage m;
    ASSERT_EQ(c.link->receive(m), Received::Error);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(c.link->receive(m), Received::Timeout);
    }
    EXPECT_FALSE(c.link->stats().up);
    EXPECT_EQ(c.link->stats().reconnects, 0u);

    // Created again under the same name, with a new index.
    c.os->interfaceIndex = 5;
    c.os->nextSocket = 11;
    c.os->failIndex = false;
    EXPECT_EQ(c.link->receive(m), Received::Timeout);
    EXPECT_TRUE(c.link->stats().up);
    EXPECT_EQ(c.link->stats().reconnects, 1u);
    const auto calls = c.os->calls();
    EXPECT_THAT(calls, ::testing::Contains("bind 11 family 29 index 5"));
    EXPECT_THAT(calls, ::testing::Contains("close 7"));
    EXPECT_THAT(calls, ::testing::Not(::testing::Contains(::testing::StartsWith("run"))))
        << "coming back configures nothing";

    // Frames arrive, and sends go out, on the new socket.
    c.os->pushFrame(FakeCanSystem::frame(0x27, {0x01}));
    EXPECT_EQ(c.link->receive(m), Received::Frame);
    ::testing::internal::CaptureStdout();
    c.bus->send({0x01}, 0x27, false);
    ::testing::internal::GetCapturedStdout();
    EXPECT_THAT(c.os->calls(), ::testing::Contains("write 11"));
}

TEST(ChannelLink, KernelDropTotalsBecomeACountThatSurvivesWrapAndANewSocket) {
    Channel c;
    EXPECT_EQ(c.os->dropCountSockets(), std::vector<int>{FakeCanSystem::kSocket});
    CanMessage m;
    const auto receiveWithTotal = [&](std::optional<std::uint32_t> total) {
        if (total)
            c.os->kernelDrops.push_back(*total);
        c.os->pushFrame(FakeCanSystem::frame(0x27, {0x01}));
        ASSERT_EQ(c.link->receive(m), Received::Frame);
    };
    receiveWithTotal(2);
    receiveWithTotal(std::nullopt);  // the kernel attaches nothing: nothing changes
    receiveWithTotal(9);
    EXPECT_EQ(c.link->stats().drops, 9u);
    receiveWithTotal(0xFFFFFFFEu);
    receiveWithTotal(1);  // the total wrapped
    EXPECT_EQ(c.link->stats().drops, std::uint64_t{0xFFFFFFFE} + 3);

    // A new socket's total starts again from 0.
    c.os->pushReadError(ENODEV);
    c.os->failIndex = true;
    EXPECT_EQ(c.link->receive(m), Received::Error);
    c.os->nextSocket = 11;
    c.os->failIndex = false;
    EXPECT_EQ(c.link->receive(m), Received::Timeout);
    EXPECT_EQ(c.os->dropCountSockets(), (std::vector<int>{FakeCanSystem::kSocket, 11}));
    receiveWithTotal(4);
    EXPECT_EQ(c.link->stats().drops, std::uint64_t{0xFFFFFFFE} + 7);
}

TEST(ChannelLink, AnInterfaceSetDownWaitsUntilItIsUpAgain) {
    Channel c;
    c.os->interfaceUp = false;
    CanMessage m;
    EXPECT_EQ(c.link->receive(m), Received::Timeout) << "a quiet wait notices the flag";
    EXPECT_FALSE(c.link->stats().up);
    EXPECT_EQ(c.link->receive(m), Received::Timeout);
    EXPECT_FALSE(c.link->stats().up);
    c.os->interfaceUp = true;
    EXPECT_EQ(c.link->receive(m), Received::Timeout);
    EXPECT_TRUE(c.link->stats().up);
    EXPECT_EQ(c.link->stats().reconnects, 1u);
}

TEST(ChannelLink, FailedWritesAreCountedAndStillPrinted) {
    Channel c;
    c.os->shortWrite = 3;
    c.os->writeError = ENETDOWN;
    ::testing::internal::CaptureStdout();
    c.bus->send({0x01, 2}, 0x27, false);
    c.bus->send({0x01, 2}, 0x27, false);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(),
              "Failed to send CAN frame\nFailed to send CAN frame\n");
    EXPECT_EQ(c.link->stats().sendFailures, 2u);
    EXPECT_FALSE(c.link->stats().up) << "ENETDOWN: the interface is gone";
}

TEST(ChannelLink, OwnHandVersionDecidesThePacing) {
    Common::current_hand_version = 1.0f;
    Channel c;
    c.link->setHandVersion(1.5f);
    c.bus->send({0xB1, 0xC6}, 0x27, false);
    EXPECT_EQ(c.os->calls().back(), "sleep 1ms") << "1.5 above 1.4: the short pause";
}

TEST(ChannelMessages, GoThroughTheSinkWithTheirLevels) {
    std::vector<std::pair<MessageLevel, std::string>> lines;
    setMessageSink(
        [&](MessageLevel level, const std::string& text) { lines.emplace_back(level, text); });
    auto os = std::make_shared<FakeCanSystem>();
    os->interfaceUp = false;
    os->runStatuses = {0, 2};
    os->shortWrite = 3;
    auto bus = CanBusAccess::open("can0", 1000000, TOVIN, os);
    bus->send({0x01}, 0x27, false);
    bus->updateSendRate();
    resetMessageSink();
    const std::vector<std::pair<MessageLevel, std::string>> expected = {
        {MessageLevel::Warning, "Warning: Failed to configure CAN interface"},
        {MessageLevel::Info, "CAN interface can0 opened successfully"},
        {MessageLevel::Error, "Failed to send CAN frame"},
        {MessageLevel::Info, "CAN帧发送速率: 1 帧/秒"},
    };
    EXPECT_EQ(lines, expected);
}
