#pragma once

#include <chrono>
#include <cstdint>
#include <memory>

#include "velmora/CanBus.h"
#include "velmora/VirtualCanBus.h"

namespace velmora {
namespace communication {
namespace detail {

/// What one receive of a hand's channel gave.
enum class Received {
    Frame,    ///< a whole frame, of any identifier
    Timeout,  ///< nothing arrived within the receive time-out
    Error,    ///< the read failed (the interface may have gone away)
    Woken,    ///< wake() was called
};

/// Counters of a channel, for a hand's health.
struct ChannelStats {
    std::uint64_t sendFailures = 0;
    std::uint64_t receiveErrors = 0;
    std::uint64_t reconnects = 0;
    /// Frames lost before the receive thread read them (the kernel's or the virtual bus's
    /// receive queue was full).
    std::uint64_t drops = 0;
    bool up = true;
};

/// The operations a hand object needs of its channel beyond ICanBus: a receive that can be
/// woken at once (so that a hand object stops without waiting out the receive time-out),
/// recovery from an interface that went away, and counters. The library's own channels
/// (CanBus and VirtualCanBus) provide it.
class ChannelLink {
  public:
    virtual ~ChannelLink() = default;

    /// Takes one frame of any identifier into `out`, waiting at most the receive time-out. While
    /// the interface is gone, waits a little and tries to open it again instead.
    virtual Received receive(CanMessage& out) = 0;
    /// Makes the pending receive, and every later one, return Received::Woken at once.
    virtual void wake() = 0;
    virtual ChannelStats stats() const = 0;
    /// The firmware generation of the channel's own hand, once it has reported one: it decides
    /// the pacing in place of the process-wide value.
    virtual void setHandVersion(float version) = 0;
};

class VirtualCanBusAccess {
  public:
    static std::unique_ptr<ChannelLink> link(VirtualCanBus& bus);
};

/// The link of one of the library's channels; null for any other ICanBus. The link refers to
/// the channel and must not outlive it.
std::unique_ptr<ChannelLink> linkTo(ICanBus& bus);

}  // namespace detail
}  // namespace communication
}  // namespace velmora
