// The test peer that stands in for a hand: its own behaviour, checked once.
#include <gtest/gtest.h>

#include "support/HandPeer.h"

using namespace velmora;
using namespace velmora::testing;
using velmora::communication::VirtualCanBus;

TEST(HandPeer, SeesFramesToItsHandAndAnswersAsTheHand) {
    const std::string bus = uniqueBusName();
    HandPeer peer(bus, RIGHT);
    VirtualCanBus library(bus);
    library.send({0x01, 2}, RIGHT, false);
    library.send({0x05}, LEFT, false);  // another hand's frame: not the peer's
    library.send({}, RIGHT, false);
    EXPECT_EQ(peer.take(2), (Frames{{0x01, 2}, {}}));
    EXPECT_EQ(peer.drain(), Frames{});

    peer.reply({0x64, 1});
    const auto reply = library.recv(RIGHT);
    EXPECT_EQ(reply.id, RIGHT);
    EXPECT_EQ(ByteVector(reply.data.begin(), reply.data.begin() + reply.len),
              (ByteVector{0x64, 1}));
}

TEST(HandPeer, TakeGivesUpAtItsDeadline) {
    HandPeer peer(uniqueBusName(), RIGHT);
    EXPECT_EQ(peer.take(1, 50ms), Frames{});
}

TEST(HandPeer, EventuallyWaitsForTheCondition) {
    int polls = 0;
    EXPECT_TRUE(eventually([&] { return ++polls == 3; }));
    EXPECT_FALSE(eventually([] { return false; }, 20ms));
}
