#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <optional>

#include "velmora/Export.h"
#include "velmora/HandHealth.h"
#include "velmora/IHand.h"
#include "velmora/StampedReading.h"
#include "velmora/VelmoraTypes.h"

class VelmoraApi;

namespace velmora {

namespace detail {
class StreamCore;
}

inline constexpr std::size_t kReadingCount = 6;

/// How a HandStream asks for each reading, and how it keeps its commands alive.
struct HandStreamOptions {
    /// As often as the send budget allows.
    static constexpr double kEveryCycle = std::numeric_limits<double>::infinity();

    /// Requests per second of each reading (indexed by hand::Reading): kEveryCycle, a positive
    /// rate, or 0 for never. Unset: positions every cycle, temperatures and faults once a
    /// second, nothing else; readings the model does not answer are left out.
    std::array<std::optional<double>, kReadingCount> rates{};
    /// A command frame whose values have not changed goes out again only after this long
    /// (zero: never).
    std::chrono::milliseconds keepAlive{1000};

    HandStreamOptions& rate(hand::Reading what, double perSecond) {
        rates[static_cast<std::size_t>(what)] = perSecond;
        return *this;
    }
};

/// The newest of each reading a stream has taken in.
struct StreamState {
    std::array<StampedReading, kReadingCount> readings;
    const StampedReading& operator[](hand::Reading what) const {
        return readings[static_cast<std::size_t>(what)];
    }
};

/// How one reading of a stream fares.
struct StreamReadingHealth {
    /// Requests per second asked for: 0 never, infinity every cycle.
    double requestedRate = 0;
    /// Whole readings taken in per second, over the last few seconds.
    double achievedRate = 0;
    std::uint64_t readings = 0;
    /// What one cycle of its requests costs in the channel's pacing; zero before the first.
    std::chrono::microseconds cycleCost{0};
};

/// What a stream has done with the hand's send budget.
struct HandStreamHealth {
    /// Frames per second of every stream and blocking call of the hand, over the last second.
    double framesPerSecond = 0;
    /// The most frames per second the channel's pacing allows (one per 3 ms).
    double frameLimitPerSecond = 0;
    /// Share of the last second the hand's frames kept the channel paced (extra pauses
    /// included), 0 to 1.
    double budgetUsed = 0;
    /// Frames this stream sent.
    std::uint64_t framesSent = 0;
    /// Command frames it sent, keep-alives included.
    std::uint64_t commandsSent = 0;
    /// Command frames a newer target replaced before they went out.
    std::uint64_t commandsSuperseded = 0;
    /// Command frames not sent because the hand had already been sent the same values.
    std::uint64_t commandsUnchanged = 0;
    /// Unchanged command frames sent again after the keep-alive period.
    std::uint64_t keepAlivesSent = 0;
    std::array<StreamReadingHealth, kReadingCount> readings{};
};

/// A control loop's link to one hand that never waits for the bus.
///
///     velmora::HandStream stream(api);                    // positions as fast as allowed
///     stream.command(targets);                            // returns at once
///     auto state = stream.next(hand::Reading::Positions, last.sequence, 50ms);
///
/// One thread owns the hand's send budget: every slot the channel's pacing allows goes to the
/// newest command target of each command frame, to the requests of the readings at their
/// rates, and to the blocking calls of the hand object, in turn. A target that comes once the
/// last one has gone out leaves in the next slot, even right after the last. Commands that come
/// faster than their frames can leave replace one another (the newest wins); a frame whose
/// values have not changed is sent again only after the keep-alive period. Every frame is one
/// the hand object's own setters and getters send.
///
/// Streams of the same hand (identifier and channel) in one process share one budget, also
/// when they run on different hand objects; hands with other identifiers keep their own.
///
/// The hand object (or facade) must outlive the stream. Any operation may be called from any
/// thread. Destroying the stream waits for at most the frame on its way and a running callback.
class VELMORA_API HandStream {
  public:
    /// Called for every new reading, in order of arrival, from one thread of the stream; a
    /// callback that takes longer than the readings come skips to the newest of each.
    using Callback = std::function<void(const StampedReading&)>;

    /// Throws std::invalid_argument for a negative or NaN rate, UnsupportedFeatureException
    /// for a reading given a rate that the model does not answer or for a hand that is not one
    /// of the library's own models.
    explicit HandStream(hand::IHand& hand, HandStreamOptions options = {}, Callback callback = {});
    explicit HandStream(VelmoraApi& api, HandStreamOptions options = {}, Callback callback = {});
    ~HandStream();
    HandStream(const HandStream&) = delete;
    HandStream& operator=(const HandStream&) = delete;

    /// A target for every slot of the position vector, or one per joint (as `countsTaken`
    /// says). Throws std::invalid_argument for any other count.
    void command(const ByteVector& positions);
    /// Targets in radians, converted with the model's joint tables. Throws
    /// std::invalid_argument for a wrong count or an angle that is not finite,
    /// UnsupportedFeatureException for a model without joint tables.
    void commandArc(const RadianVector& angles);

    StreamState latest() const;
    StampedReading latest(hand::Reading what) const;
    /// The newest reading of `what` with a sequence number above `after`, waiting at most
    /// `timeout` for one; empty on time-out or once the stream is closing.
    std::optional<StampedReading> next(hand::Reading what, std::uint64_t after,
                                       std::chrono::milliseconds timeout);
    /// The newest reading of the same kind newer than `held`.
    std::optional<StampedReading> next(const StampedReading& held,
                                       std::chrono::milliseconds timeout);

    /// Stops the stream: nothing more is sent or read, and every wait in next() ends at once.
    /// The readings taken so far stay readable. The destructor closes the stream.
    void close();

    void setKeepAlive(std::chrono::milliseconds keepAlive);
    HandStreamHealth health() const;
    VELMORA model() const;

  private:
    std::unique_ptr<detail::StreamCore> core_;
};

}  // namespace velmora
