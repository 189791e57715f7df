#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <sys/socket.h>

namespace velmora {
namespace tools {

/// One classic CAN frame as can-utils logs it.
struct LoggedFrame {
    std::uint64_t seconds = 0;       ///< wall-clock time of reception
    std::uint32_t microseconds = 0;  ///< 0..999999
    std::string interface;
    std::uint32_t id = 0;  ///< without flags
    bool extended = false;
    bool remote = false;
    std::uint8_t len = 0;  ///< 0..8
    std::array<std::uint8_t, 8> data{};

    double time() const { return double(seconds) + microseconds / 1e6; }
};

/// The line `candump -L` writes for the frame, without its line end:
/// "(1733760000.123456) can0 027#01FF80".
std::string formatLogLine(const LoggedFrame& frame);

/// Parses one line of a can-utils log. Empty, with `error` set, when the line is not one.
std::optional<LoggedFrame> parseLogLine(const std::string& line, std::string& error);

/// Reads every frame of a log file; throws std::runtime_error naming the file and line of the
/// first line that is not a frame, or when the file cannot be read.
std::vector<LoggedFrame> readLog(const std::string& path);

/// Every frame on a channel, of any identifier: a raw SocketCAN socket on an interface, or an
/// endpoint of the in-process bus for "virtual:NAME".
class FrameTap {
  public:
    virtual ~FrameTap() = default;
    /// The next frame, or empty when none came within `timeout`. Throws std::runtime_error when
    /// the channel fails.
    virtual std::optional<LoggedFrame> next(std::chrono::milliseconds timeout) = 0;
    /// Sends one frame (the interface name of `frame` is ignored).
    virtual void send(const LoggedFrame& frame) = 0;
    /// Frames the kernel dropped for this tap since it opened (its receive queue was full);
    /// empty where nobody counts them.
    virtual std::optional<std::uint32_t> dropped() const { return std::nullopt; }
};

/// What the kernel's ancillary data of one received frame tells: the receive time stamp
/// (SO_TIMESTAMP, as candump -L prints it) into `frame`, the wall clock now when there is
/// none; the drop count (SO_RXQ_OVFL) into `dropped` when it is there.
void takeAncillary(const ::msghdr& message, LoggedFrame& frame, std::uint32_t& dropped);

/// Opens `channel`. Throws std::runtime_error with a sentence when the interface is missing or
/// down.
std::unique_ptr<FrameTap> openTap(const std::string& channel);

/// True for "virtual:..." channel names.
bool isVirtualChannel(const std::string& channel);

/// Throws std::runtime_error ("interface can9 does not exist", "lo is not a CAN interface",
/// "interface can0 is down (sudo ip link set can0 up type can bitrate 1000000)") unless the
/// SocketCAN interface exists, is a CAN interface (its type under `root`) and is up.
void requireInterfaceUp(const std::string& interface, const std::string& root = "/sys/class/net");

/// The command that brings `interface` up: with a bit rate, unless it is a virtual CAN
/// interface (vcan, vxcan).
std::string upCommand(const std::string& interface, int bitrate = 1000000);

}  // namespace tools
}  // namespace velmora
