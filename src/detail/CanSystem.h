#pragma once

#include <linux/can.h>
#include <net/if.h>
#include <sys/time.h>
#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "detail/ChannelLink.h"
#include "velmora/CanBus.h"

namespace velmora {
namespace communication {
namespace detail {

/// Every operating-system call a CanBus makes. The channel's logic is written against this
/// seam so that it can be exercised without a kernel that has SocketCAN.
class CanSystem {
  public:
    virtual ~CanSystem() = default;

    virtual int openSocket(int domain, int type, int protocol) = 0;
    /// SIOCGIFINDEX; on success ifr.ifr_ifindex holds the index.
    virtual int getInterfaceIndex(int fd, ifreq& ifr) = 0;
    /// SIOCGIFFLAGS; on success ifr.ifr_flags holds the flags.
    virtual int getInterfaceFlags(int fd, ifreq& ifr) = 0;
    virtual int bindSocket(int fd, const sockaddr_can& address) = 0;
    /// SO_RCVTIMEO at socket level.
    virtual int setReceiveTimeout(int fd, const timeval& timeout) = 0;
    virtual ssize_t readFrame(int fd, can_frame& frame) = 0;
    /// SO_RXQ_OVFL: every later receiveFrame reports how many frames the kernel dropped on
    /// this socket because its receive buffer was full.
    virtual int enableDropCount(int fd) = 0;
    /// Reads one frame as readFrame does; when the kernel attached its drop count (a running
    /// total for the socket, which wraps at 2^32), puts it in `drops` and sets `dropsReported`.
    virtual ssize_t receiveFrame(int fd, can_frame& frame, std::uint32_t& drops,
                                 bool& dropsReported) = 0;
    virtual ssize_t writeFrame(int fd, const can_frame& frame) = 0;
    virtual int closeSocket(int fd) = 0;
    /// Runs argv[0] (looked up on PATH) with the given arguments, no shell involved, standard
    /// error discarded; returns its exit status, non-zero when it could not be run.
    virtual int run(const std::vector<std::string>& argv) = 0;
    virtual void sleepFor(std::chrono::milliseconds duration) = 0;

    /// An eventfd that wakes a waiting receive; -1 on failure.
    virtual int openWakeEvent() = 0;
    /// Makes the wake event readable for good.
    virtual int signalWakeEvent(int fd) = 0;
    /// Waits until the socket (when socketFd is not -1) or the wake event has input or an
    /// error, at most `timeout`; poll's result, with what is ready in the two flags.
    virtual int waitReadable(int socketFd, int wakeFd, std::chrono::milliseconds timeout,
                             bool& socketReady, bool& wakeReady) = 0;
};

/// The real operating system.
std::shared_ptr<CanSystem> posixCanSystem();

/// Opens a CanBus whose operating-system calls go through `system`, and reaches its insides
/// for the hand's link.
class CanBusAccess {
  public:
    static std::unique_ptr<CanBus> open(const std::string& name, int bitRate, VELMORA model,
                                        std::shared_ptr<CanSystem> system);
    static std::unique_ptr<ChannelLink> link(CanBus& bus);
};

}  // namespace detail
}  // namespace communication
}  // namespace velmora
