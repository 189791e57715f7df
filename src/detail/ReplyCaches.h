#pragma once

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <initializer_list>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

#include "velmora/VelmoraTypes.h"

namespace velmora {
namespace hand {
namespace detail {

/// The latest frame of each command code, guarded by one lock, so that a getter always copies
/// whole frames and never one half-written by the receive thread.
///
/// Two frames are kept per code: the cache the getters read, which some setters also write
/// (the frame they sent, or their targets), and the hand's own last reply, which only the
/// receive thread writes. Each reply is stamped with its arrival time and a sequence number,
/// so that a fresh read can tell the answers to its own requests from older ones.
class ReplyCaches {
  public:
    using Clock = std::chrono::steady_clock;

    /// Access to one of the two sets of frames while the lock is held.
    class View {
      public:
        const ByteVector& frame(std::uint8_t code) const { return slots_[code]; }
        void store(std::uint8_t code, ByteVector frame) { slots_[code] = std::move(frame); }

      private:
        friend class ReplyCaches;
        explicit View(std::array<ByteVector, 256>& slots) : slots_(slots) {}
        std::array<ByteVector, 256>& slots_;
    };

    /// Runs f(View&) on the caches with the lock held, for reads or writes that must be one step.
    template <class F>
    decltype(auto) locked(F&& f) {
        std::lock_guard<std::mutex> lock(mutex_);
        View view(slots_);
        return f(view);
    }

    /// Runs f(View&) on the hand's own last replies with the lock held.
    template <class F>
    decltype(auto) lockedReplies(F&& f) {
        std::lock_guard<std::mutex> lock(mutex_);
        View view(replies_);
        return f(view);
    }

    /// A reply of the hand: the cache and the last reply of the code both become `frame`.
    void storeReply(std::uint8_t code, ByteVector frame);
    /// Stamps a reply of the hand that is kept elsewhere (the fingertip sensors' rows).
    void noteReply(std::uint8_t code);
    /// A setter's write to the cache; not a reply.
    void store(std::uint8_t code, ByteVector frame);

    /// The whole cached frame, code byte included; empty before the first reply.
    ByteVector frame(std::uint8_t code) const;
    /// The cached frame without its code byte; empty when it holds fewer than two bytes.
    ByteVector values(std::uint8_t code) const;
    /// The values of several caches joined in the given order, read in one step.
    ByteVector joinedValues(std::initializer_list<std::uint8_t> codes) const;
    /// Like joinedValues, but nothing when any of the caches holds fewer than two bytes.
    std::optional<ByteVector> allValues(std::initializer_list<std::uint8_t> codes) const;

    /// The newest arrival among some codes' last replies, and how many replies each code has had.
    struct Arrival {
        Clock::time_point steady{};
        std::chrono::system_clock::time_point system{};
        std::vector<std::uint64_t> counts;
    };
    /// Runs shape(View&) on the hand's own last replies and takes the arrival of `codes`, in
    /// one step, so that the time belongs to the values.
    template <class Shape>
    std::pair<ByteVector, Arrival> shapedReplies(const std::vector<std::uint8_t>& codes,
                                                 Shape&& shape) {
        std::lock_guard<std::mutex> lock(mutex_);
        View view(replies_);
        Arrival arrival;
        arrival.counts.reserve(codes.size());
        for (std::uint8_t code : codes) {
            arrival.counts.push_back(replyCount_[code]);
            if (replyCount_[code] != 0 && replyTime_[code] >= arrival.steady) {
                arrival.steady = replyTime_[code];
                arrival.system = replySystemTime_[code];
            }
        }
        return {shape(view), std::move(arrival)};
    }

    /// Age of the hand's last reply of the code; empty when none came.
    std::optional<std::chrono::nanoseconds> replyAge(std::uint8_t code) const;

    /// How many replies of each code have arrived so far.
    std::vector<std::uint64_t> replyCounts(const std::vector<std::uint8_t>& codes) const;
    /// Waits until every code has had a reply beyond `counts` (from replyCounts), until the
    /// deadline, or until wake() ends every wait; returns the codes still without one.
    std::vector<std::uint8_t> waitForReplies(const std::vector<std::uint8_t>& codes,
                                             const std::vector<std::uint64_t>& counts,
                                             Clock::time_point deadline);
    /// Ends every wait for good (the hand object is going away).
    void wake();
    bool closing() const;

  private:
    mutable std::mutex mutex_;
    std::condition_variable replied_;
    bool closing_ = false;
    std::array<ByteVector, 256> slots_;
    std::array<ByteVector, 256> replies_;
    std::array<std::uint64_t, 256> replyCount_{};
    std::array<Clock::time_point, 256> replyTime_{};
    std::array<std::chrono::system_clock::time_point, 256> replySystemTime_{};
};

/// The values of several frames of a view joined in the given order (code bytes left out).
ByteVector joinValues(const ReplyCaches::View& view, std::initializer_list<std::uint8_t> codes);

}  // namespace detail
}  // namespace hand
}  // namespace velmora
