#pragma once

// The machine's CAN interfaces as the kernel shows them under /sys/class/net.

#include <cstdint>
#include <string>
#include <vector>

namespace velmora {
namespace tools {

struct CanInterface {
    std::string name;
    /// The administrative flag (IFF_UP).
    bool up = false;
    /// The kernel's operational state: "up", "down", "unknown" (a vcan that is up), ...
    std::string operstate;
    /// Bit/s; 0 when unknown: the kernel gives it through netlink only, not in this directory.
    std::uint32_t bitrate = 0;
    std::uint64_t rxPackets = 0, txPackets = 0;
    std::uint64_t rxErrors = 0, txErrors = 0;
    std::uint64_t rxDropped = 0, txDropped = 0;
    /// Frames lost because a receive buffer was full.
    std::uint64_t rxOverErrors = 0;
};

/// Every interface of type 280 (CAN) under `root`, by name. A directory that cannot be read
/// gives an empty list; a missing counter reads as 0.
std::vector<CanInterface> canInterfaces(const std::string& root = "/sys/class/net");

}  // namespace tools
}  // namespace velmora
