#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "velmora/velmora.h"

using velmora::communication::CanBusFactory;
using velmora::communication::CanMessage;
using velmora::communication::VirtualCanBus;
using Bytes = std::vector<std::uint8_t>;

namespace {

std::string uniqueBus() {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    return std::string(info->test_suite_name()) + "." + info->name();
}

Bytes payload(const CanMessage& m) {
    return Bytes(m.data.begin(), m.data.begin() + m.len);
}

void expectNothing(VirtualCanBus& endpoint, std::uint32_t id) {
    endpoint.setReceiveTimeout(0, 20000);
    EXPECT_THROW(endpoint.recv(id), std::runtime_error);
}

}  // namespace

TEST(VirtualCanBus, PeersExchangeFramesIntactAndOtherBusesSeeNothing) {
    VirtualCanBus hand(uniqueBus()), test(uniqueBus()), elsewhere(uniqueBus() + "-other");
    const std::vector<Bytes> frames = {{}, {0x01}, {0x64, 10, 1, 2, 'R', 0x15, 0x20, 0xFF}};
    for (const Bytes& f : frames)
        hand.send(f, 0x28, false);

    for (const Bytes& f : frames) {
        const CanMessage m = test.recv(0x28);
        EXPECT_EQ(m.id, 0x28u);
        EXPECT_EQ(payload(m), f);
    }
    expectNothing(hand, 0x28);  // a sender does not hear itself
    expectNothing(elsewhere, 0x28);
}

TEST(VirtualCanBus, FrameOfAnotherIdentifierIsConsumedAsZero) {
    VirtualCanBus a(uniqueBus()), b(uniqueBus());
    a.send({0x05, 1}, 0x27, false);
    a.send({0x06, 2}, 0x28, false);
    const CanMessage other = b.recv(0x28);
    EXPECT_EQ(other.id, 0u);
    EXPECT_EQ(other.len, 0u);
    EXPECT_EQ(other.data, (std::array<std::uint8_t, 8>{}));
    EXPECT_EQ(payload(b.recv(0x28)), (Bytes{0x06, 2}));
}

TEST(VirtualCanBus, ReceiveTimesOutAfterOneSecond) {
    VirtualCanBus lonely(uniqueBus());
    const auto start = std::chrono::steady_clock::now();
    try {
        lonely.recv(0x27);
        ADD_FAILURE() << "recv without traffic must throw";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "Failed to receive CAN frame");
    }
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(990));

    for (auto [s, us] : {std::pair{-1, 0}, std::pair{0, -1}, std::pair{0, 1000000}}) {
        EXPECT_THROW(lonely.setReceiveTimeout(s, us), std::runtime_error) << s << " " << us;
    }
}

TEST(VirtualCanBus, FullQueueDropsNewFrames) {
    VirtualCanBus sender(uniqueBus()), slow(uniqueBus());
    const std::size_t extra = 6;
    for (std::size_t i = 0; i < VirtualCanBus::kQueueCapacity + extra; ++i) {
        sender.send({static_cast<std::uint8_t>(i & 0xFF), static_cast<std::uint8_t>(i >> 8)}, 0x27,
                    false);
    }
    EXPECT_EQ(slow.droppedFrames(), extra);
    for (std::size_t i = 0; i < VirtualCanBus::kQueueCapacity; ++i) {
        const Bytes got = payload(slow.recv(0x27));
        ASSERT_EQ(got,
                  (Bytes{static_cast<std::uint8_t>(i & 0xFF), static_cast<std::uint8_t>(i >> 8)}));
    }
    expectNothing(slow, 0x27);
}

TEST(VirtualCanBus, OverlongPayloadNeverReachesTheBus) {
    VirtualCanBus sender(uniqueBus()), peer(uniqueBus());
    ::testing::internal::CaptureStdout();
    sender.send(Bytes(9, 0x85), 0x27, false);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(),
              "CAN frame not sent: 9 data bytes, a frame holds at most 8\n");
    expectNothing(peer, 0x27);
}

TEST(VirtualCanBus, FactoryOpensAPacedEndpointForVirtualNames) {
    const std::string name = "virtual:" + uniqueBus();
    VirtualCanBus peer(uniqueBus());
    ::testing::internal::CaptureStdout();
    auto channel = CanBusFactory::createCanBus(0x27, name, 1000000, TOVIN);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(),
              "CAN interface " + name + " opened successfully\n");
    ASSERT_NE(dynamic_cast<VirtualCanBus*>(channel.get()), nullptr);

    // Ten paced frames cannot leave in less than ten gaps of 3 ms.
    const auto start = std::chrono::steady_clock::now();
    for (std::uint8_t i = 0; i < 10; ++i)
        channel->send({0x01, i}, 0x27, false);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(30));
    for (std::uint8_t i = 0; i < 10; ++i)
        EXPECT_EQ(payload(peer.recv(0x27)), (Bytes{0x01, i}));

    peer.send({0x64, 1}, 0x27, false);
    EXPECT_EQ(payload(channel->recv(0x27)), (Bytes{0x64, 1}));
}

TEST(VirtualCanBus, ManySendersAndEndpointsComingAndGoing) {
    const std::string bus = uniqueBus();
    VirtualCanBus receiver(bus);
    constexpr int kSenders = 4;
    constexpr int kFrames = 200;  // 800 frames in all: within the queue's capacity
    std::atomic<bool> done{false};

    // Endpoints join, send a little and leave while the senders run; their frames stay well
    // below what the receiver's queue holds.
    std::thread churn([&] {
        for (int visits = 0; !done && visits < 100; ++visits) {
            VirtualCanBus visitor(bus);
            visitor.send({0xEE}, 0x99, false);
        }
    });
    std::vector<std::thread> senders;
    for (int s = 0; s < kSenders; ++s) {
        senders.emplace_back([&, s] {
            VirtualCanBus sender(bus);
            for (int i = 0; i < kFrames; ++i) {
                sender.send({static_cast<std::uint8_t>(s), static_cast<std::uint8_t>(i)}, 0x27,
                            false);
            }
        });
    }
    std::vector<int> next(kSenders, 0);
    int received = 0;
    while (received < kSenders * kFrames) {
        const CanMessage m = receiver.recv(0x27);
        if (m.len == 0)
            continue;  // a visitor's frame
        const int s = m.data[0];
        ASSERT_EQ(m.data[1], next[s]) << "frames of one sender arrive in send order";
        ++next[s];
        ++received;
    }
    for (auto& t : senders)
        t.join();
    done = true;
    churn.join();
}
