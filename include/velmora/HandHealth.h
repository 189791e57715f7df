#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

namespace velmora {
namespace hand {

/// What a hand object knows about its link to the hand, read with IHand::health().
///
/// Counters start at 0 when the hand object is built and only grow.
struct HandHealth {
    /// Frames of this hand's identifier taken in by the receive thread.
    std::uint64_t framesReceived = 0;
    /// Frames of other identifiers the receive thread read and dropped.
    std::uint64_t framesIgnored = 0;
    /// Frames whose write to the channel failed.
    std::uint64_t sendFailures = 0;
    /// Failed reads other than the receive time-out.
    std::uint64_t receiveErrors = 0;
    /// Time since the last frame from the hand; empty before the first one.
    std::optional<std::chrono::nanoseconds> lastFrameAge;
    /// False while the interface is gone or down.
    bool channelUp = true;
    /// Times the channel was opened again after its interface went away and came back.
    std::uint64_t reconnects = 0;
    /// Frames lost before the receive thread could read them, because the channel's receive
    /// queue was full (a flooded bus, or a receive thread held up). SocketCAN reports them;
    /// on a channel that cannot tell, it stays 0.
    std::uint64_t framesDropped = 0;
    /// True once identity() has had an answer from the hand.
    bool identityChecked = false;
    /// True when the hand's last report contradicted the model or side this object was built
    /// for (identity() threw HandMismatchException); `mismatch` then says how.
    bool modelMismatch = false;
    std::string mismatch;
};

/// The kinds of state a hand reports, for IHand::readFresh.
enum class Reading {
    Positions,     ///< as getCurrentStatus
    Speeds,        ///< as getSpeed
    Torques,       ///< as getTorque
    Currents,      ///< as getCurrent
    Temperatures,  ///< as getTemperature
    Faults,        ///< as getFaultCode
};

}  // namespace hand
}  // namespace velmora
