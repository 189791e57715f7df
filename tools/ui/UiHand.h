#pragma once

// Everything `velmora ui` needs from the hand, behind one class: the latest reading, commands
// that coalesce (latest wins) and holding the hand where it is.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "velmora/IHand.h"
#include "velmora/VelmoraTypes.h"

namespace velmora {
namespace tools {

/// One reading of the hand, as the page shows it.
struct UiReading {
    /// Grows by one with every reading; 0 before the first.
    std::uint64_t sequence = 0;
    /// When the positions were read.
    std::chrono::system_clock::time_point at{};
    /// One value per slot; empty when the hand did not answer.
    std::optional<ByteVector> positions;
    /// As the getters return them; empty when the model has none or the hand did not answer.
    std::optional<ByteVector> temperatures, faults;
    ForceData force;
    hand::HandHealth health;
    /// The hand's version report; empty until it answered.
    std::string version;
    /// The last read that got no answer; empty while every read is answered.
    std::string problem;
    /// The positions last sent to the hand (a command, a pose or a hold), one per slot.
    std::optional<ByteVector> target;
    /// True from a hold until the next command.
    bool held = false;
    /// Commands sent to the hand; coalesced ones count once.
    std::uint64_t commandsSent = 0;
};

/// The hand, read and driven by one worker thread with the blocking calls of IHand, so that no
/// HTTP handler ever waits for the bus. Commands only store the newest target; the worker sends
/// it on its next turn, so commands from several browsers coalesce and the latest wins.
class UiHand {
  public:
    /// Starts the worker, which reads the hand `rate` times a second; a fresh read waits at most
    /// `timeout`.
    UiHand(hand::IHand& hand, VELMORA model, std::chrono::milliseconds timeout, double rate = 30);
    /// Holds the hand (see hold), then stops the worker.
    ~UiHand();
    UiHand(const UiHand&) = delete;
    UiHand& operator=(const UiHand&) = delete;

    VELMORA model() const { return model_; }
    double rate() const { return rate_; }

    /// The latest reading.
    UiReading read() const;
    /// The first reading after `sequence`, or the latest one when none came within `wait`.
    UiReading readAfter(std::uint64_t sequence, std::chrono::milliseconds wait) const;

    /// Joint positions, one per slot, already checked.
    void command(const ByteVector& positions);
    /// Joint angles in radians, one per slot, already checked.
    void commandArc(const RadianVector& angles);
    /// Commands the positions the hand reports now, dropping a command not yet sent.
    void hold();

  private:
    struct Pending {
        std::optional<ByteVector> positions;
        std::optional<RadianVector> angles;
        bool hold = false;
    };

    void run();
    void send(Pending pending, UiReading& next);
    std::optional<ByteVector> fresh(hand::Reading what, bool& available, UiReading& next);

    hand::IHand& hand_;
    const VELMORA model_;
    const std::chrono::milliseconds timeout_;
    const double rate_;

    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    UiReading latest_;
    Pending pending_;
    bool running_ = true;

    // The worker's own.
    bool hasTemperatures_ = true, hasFaults_ = true, hasForce_ = true;

    std::thread worker_;
};

}  // namespace tools
}  // namespace velmora
