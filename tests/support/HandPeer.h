#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "velmora/VirtualCanBus.h"

namespace velmora::testing {

using Frames = std::vector<ByteVector>;
using namespace std::chrono_literals;

/// A bus name of the running test's own, so that tests never hear each other.
inline std::string uniqueBusName() {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    return std::string(info->test_suite_name()) + "." + info->name();
}

/// Polls `condition` until it holds or the deadline passes; true when it held.
template <class Condition>
bool eventually(Condition condition, std::chrono::milliseconds deadline = 5000ms) {
    const auto end = std::chrono::steady_clock::now() + deadline;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end) {
            return false;
        }
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

/// Stands in for a hand on a virtual bus: sees the frames sent to the hand's identifier and
/// answers with frames of that identifier.
class HandPeer {
  public:
    explicit HandPeer(const std::string& busName, std::uint32_t handId)
        : bus_(busName), handId_(handId) {
        bus_.setReceiveTimeout(0, 20000);
    }

    /// The next `count` frames addressed to the hand, waiting at most `deadline` in all.
    Frames take(std::size_t count, std::chrono::milliseconds deadline = 5000ms) {
        Frames frames;
        const auto end = std::chrono::steady_clock::now() + deadline;
        while (frames.size() < count && std::chrono::steady_clock::now() < end) {
            receiveInto(frames);
        }
        return frames;
    }

    /// Every frame already sent to the hand. Sends on a virtual bus are delivered before they
    /// return, so after an operation returns this holds all it sent.
    Frames drain() {
        Frames frames;
        while (receiveInto(frames)) {
        }
        return frames;
    }

    void reply(const ByteVector& frame) { bus_.send(frame, handId_, false); }

    /// Replies the frames, then `marker`; waits for `seen()`, then drains. False on timeout.
    template <class Seen>
    bool replyAndWait(const Frames& frames, const ByteVector& marker, Seen seen) {
        for (const auto& frame : frames)
            reply(frame);
        reply(marker);
        if (!eventually(seen)) {
            return false;
        }
        drain();
        return true;
    }

  private:
    // False once no frame is waiting.
    bool receiveInto(Frames& frames) {
        try {
            const communication::CanMessage m = bus_.recv(handId_);
            if (m.len > 0 || m.id == handId_) {
                frames.emplace_back(m.data.begin(), m.data.begin() + m.len);
            }
            return true;
        } catch (const std::runtime_error&) {
            return false;
        }
    }

    communication::VirtualCanBus bus_;
    std::uint32_t handId_;
};

}  // namespace velmora::testing
