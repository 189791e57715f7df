#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "detail/HandCore.h"
#include "detail/SendBudget.h"
#include "velmora/HandStream.h"
#include "velmora/Models.h"

namespace velmora {
namespace detail {

/// What a HandStream is: its place in the hand's send budget, the readings it publishes as
/// their replies come in, and the thread that runs its callback.
class StreamCore {
  public:
    using Clock = std::chrono::steady_clock;

    StreamCore(hand::IHand& hand, VELMORA model, const HandStreamOptions& options,
               HandStream::Callback callback);
    ~StreamCore();
    StreamCore(const StreamCore&) = delete;
    StreamCore& operator=(const StreamCore&) = delete;

    void command(const ByteVector& positions);
    void commandArc(const RadianVector& angles);
    StreamState latest() const;
    StampedReading latest(hand::Reading what) const;
    std::optional<StampedReading> next(hand::Reading what, std::uint64_t after,
                                       std::chrono::milliseconds timeout);
    void close();
    void setKeepAlive(std::chrono::milliseconds keepAlive);
    HandStreamHealth health() const;
    VELMORA model() const { return model_; }

  private:
    // A reading the stream asks for, and what it has taken in of it.
    struct Watched {
        hand::Reading reading;
        double rate;
        const hand::detail::FreshReading* fresh;
        std::vector<std::uint64_t> counts;  // replies of its codes at its last publication
        std::deque<Clock::time_point> arrivals;
    };

    void onReply(std::uint8_t code);
    void sendCommand(const std::vector<ByteVector>& frames);
    void runCallbacks();
    StampedReading aged(const StampedReading& reading, Clock::time_point now) const;

    hand::IHand& hand_;
    hand::detail::HandCore& core_;
    const VELMORA model_;
    const models::ModelInfo& info_;

    mutable std::mutex mutex_;
    std::condition_variable published_;
    std::vector<Watched> watched_;
    std::array<StampedReading, kReadingCount> latest_{};
    bool closing_ = false;
    Clock::time_point started_;

    std::mutex closeMutex_;
    bool closed_ = false;
    std::uint64_t listener_ = 0;
    std::shared_ptr<hand::detail::SendBudget> budget_;
    hand::detail::SendBudget::Member member_ = 0;
    HandStream::Callback callback_;
    std::thread callbackThread_;
};

}  // namespace detail
}  // namespace velmora
