#pragma once

#include <array>
#include <cstdint>
#include <initializer_list>
#include <mutex>
#include <optional>

#include "velmora/VelmoraTypes.h"

namespace velmora {
namespace hand {
namespace detail {

/// The latest reply of each command code, guarded by one lock, so that a getter always copies
/// whole frames and never one half-written by the receive thread.
class ReplyCaches {
  public:
    /// Access to the caches while their lock is held.
    class View {
      public:
        const ByteVector& frame(std::uint8_t code) const { return slots_[code]; }
        void store(std::uint8_t code, ByteVector frame) { slots_[code] = std::move(frame); }

      private:
        friend class ReplyCaches;
        explicit View(std::array<ByteVector, 256>& slots) : slots_(slots) {}
        std::array<ByteVector, 256>& slots_;
    };

    /// Runs f(View&) with the lock held, for reads or writes that must be one step.
    template <class F>
    decltype(auto) locked(F&& f) {
        std::lock_guard<std::mutex> lock(mutex_);
        View view(slots_);
        return f(view);
    }

    void store(std::uint8_t code, ByteVector frame);
    /// The whole cached frame, code byte included; empty before the first reply.
    ByteVector frame(std::uint8_t code) const;
    /// The cached frame without its code byte; empty when it holds fewer than two bytes.
    ByteVector values(std::uint8_t code) const;
    /// The values of several caches joined in the given order, read in one step.
    ByteVector joinedValues(std::initializer_list<std::uint8_t> codes) const;
    /// Like joinedValues, but nothing when any of the caches holds fewer than two bytes.
    std::optional<ByteVector> allValues(std::initializer_list<std::uint8_t> codes) const;

  private:
    mutable std::mutex mutex_;
    std::array<ByteVector, 256> slots_;
};

}  // namespace detail
}  // namespace hand
}  // namespace velmora
