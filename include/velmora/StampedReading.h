#pragma once

#include <chrono>
#include <cstdint>

#include "velmora/HandHealth.h"
#include "velmora/VelmoraTypes.h"

namespace velmora {

/// One reading of a hand with the time its last frame came in.
struct StampedReading {
    hand::Reading reading = hand::Reading::Positions;
    /// In the layout of the reading's getter; empty when no reading has come in yet.
    ByteVector values;
    /// When the receive thread took in the reading's last frame, on the steady clock...
    std::chrono::steady_clock::time_point received{};
    /// ...and on the system clock, for logs and messages of other processes.
    std::chrono::system_clock::time_point receivedSystem{};
    /// Rises by one with every reading of this kind from the same source (a stream, or the
    /// fresh reads of one hand object); 0 when none has come in yet.
    std::uint64_t sequence = 0;
    /// How old the reading was when this copy was taken.
    std::chrono::nanoseconds age{0};

    bool empty() const { return sequence == 0; }
};

}  // namespace velmora
