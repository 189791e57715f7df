#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "support/HandPeer.h"
#include "velmora/HandException.h"
#include "velmora/VelmoraTypes.h"

namespace velmora::testing {

/// The frames a hand sends to read the five fingertip matrices.
inline const Frames kMatrixReads{
    {0xB1, 0xC6}, {0xB2, 0xC6}, {0xB3, 0xC6}, {0xB4, 0xC6}, {0xB5, 0xC6}};

/// `n` bytes counting from `first` by `step`, wrapping past 255.
inline ByteVector sequence(std::uint8_t first, std::size_t n, std::uint8_t step = 1) {
    ByteVector v(n);
    for (std::size_t i = 0; i < n; ++i)
        v[i] = static_cast<std::uint8_t>(first + i * step);
    return v;
}

/// A call on a hand and the frames it must send, named for failure messages.
template <class Hand>
struct Sends {
    const char* what;
    std::function<void(Hand&)> call;
    Frames frames;
};

/// Each call sends exactly its frames, in order.
template <class Hand>
void expectSends(Hand& hand, HandPeer& peer, const std::vector<Sends<Hand>>& cases) {
    for (const Sends<Hand>& c : cases) {
        c.call(hand);
        EXPECT_EQ(peer.drain(), c.frames) << c.what;
    }
}

/// A call on a hand and the one line it must print instead of sending.
template <class Hand>
struct Prints {
    std::function<void(Hand&)> call;
    std::string message;
};

/// Each call prints its message on a line of its own and sends nothing.
template <class Hand>
void expectPrintsAndSendsNothing(Hand& hand, HandPeer& peer,
                                 const std::vector<Prints<Hand>>& cases) {
    for (const Prints<Hand>& c : cases) {
        ::testing::internal::CaptureStdout();
        c.call(hand);
        EXPECT_EQ(::testing::internal::GetCapturedStdout(), c.message + "\n");
        EXPECT_EQ(peer.drain(), Frames{}) << c.message;
    }
}

/// Each call throws UnsupportedFeatureException naming its operation.
inline void expectRefused(
    const std::vector<std::pair<std::string, std::function<void()>>>& operations) {
    for (const auto& [name, call] : operations) {
        try {
            call();
            ADD_FAILURE() << name << " was not refused";
        } catch (const UnsupportedFeatureException& e) {
            EXPECT_EQ(e.what(), "Unsupported feature: " + name);
        }
    }
}

/// Destroying the hand takes less than two seconds even though no peer ever answers it.
template <class Hand>
void expectPromptDestruction(std::unique_ptr<Hand> hand) {
    const auto start = std::chrono::steady_clock::now();
    hand.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(2000));
}

/// A hand on identifier `id`, which names no side, neither converts radians nor sends them.
template <class Hand, class... Extra>
void expectSidelessRadiansDoNothing(std::uint32_t id, std::size_t joints, Extra... extra) {
    const std::string bus = uniqueBusName();
    HandPeer peer(bus, id);
    Hand hand(id, "virtual:" + bus, 1000000, extra...);
    peer.drain();
    hand.setJointPositionArc(RadianVector(joints, 0.1));
    EXPECT_EQ(hand.getCurrentStatusArc(), RadianVector{});
    EXPECT_EQ(peer.drain(), Frames{});
}

}  // namespace velmora::testing
