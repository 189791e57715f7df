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

#include "velmora/HandStream.h"
#include "velmora/IHand.h"
#include "velmora/VelmoraTypes.h"

namespace velmora {
namespace tools {

/// One reading of the hand, as the page shows it.
struct UiReading {
    /// Grows by one with every reading; 0 before the first.
    std::uint64_t sequence = 0;
    /// When the positions came in (when this reading was made, without them).
    std::chrono::system_clock::time_point at{};
    /// One value per slot; empty when the hand did not answer.
    std::optional<ByteVector> positions;
    /// As the getters return them; empty when the model has none or the hand did not answer.
    std::optional<ByteVector> temperatures, faults;
    ForceData force;
    hand::HandHealth health;
    /// The hand's version report; empty until it answered.
    std::string version;
    /// What the hand left unanswered, or why the channel failed; empty while all is well.
    std::string problem;
    /// The positions last given to the hand (a command, a pose or a hold), one per slot.
    std::optional<ByteVector> target;
    /// True from a hold until the next command.
    bool held = false;
    /// Command frames sent to the hand, keep-alives left out: a command that a newer one
    /// replaced before it went out never counts.
    std::uint64_t commandsSent = 0;
};

/// The hand through one HandStream, so that no HTTP handler ever waits for the bus: positions
/// every cycle, temperatures and faults once a second, published to the page at `rate`; the
/// fingertips and the version, which the stream does not read, come from the getters on a
/// thread of their own at a low rate. Commands go to the stream, which sends the newest, so
/// that commands from several browsers coalesce and the latest wins.
class UiHand {
  public:
    /// Starts the stream; a reading is published `rate` times a second, each waiting at most
    /// `timeout` for the hand's next positions.
    UiHand(hand::IHand& hand, VELMORA model, std::chrono::milliseconds timeout, double rate = 30);
    /// Stops the stream, then holds the hand (see holdHand) with the blocking calls.
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
    /// Joint angles in radians, one per slot, already checked; throws std::invalid_argument
    /// when the stream cannot convert them (a hand identifier that names no side).
    void commandArc(const RadianVector& angles);
    /// Commands the positions the hand reported last, replacing a command not yet sent.
    void hold();

  private:
    void publish();
    void readSide();

    hand::IHand& hand_;
    const VELMORA model_;
    const std::chrono::milliseconds timeout_;
    const double rate_;
    HandStream stream_;

    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;  // a new reading
    std::condition_variable wake_;             // the threads' stop
    UiReading latest_;
    bool running_ = true;
    // What the side thread last read.
    ForceData force_;
    std::string version_, sideProblem_;
    // What was last commanded.
    std::optional<ByteVector> target_;
    bool held_ = false;

    std::thread publisher_, side_;
};

}  // namespace tools
}  // namespace velmora
