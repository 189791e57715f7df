#pragma once

#include <atomic>
#include <cstdint>
#include <ostream>
#include <string>

#include "velmora/VelmoraTypes.h"

namespace velmora {
namespace bridge {

struct BridgeOptions {
    VELMORA model = TOVIN;
    std::uint32_t side = RIGHT;
    /// The hand's CAN channel; with `sim` and nothing given, an in-process virtual bus.
    std::string channel;
    /// ROS namespace of the hand's topics; /diagnostics is global.
    std::string ns;
    /// Joint states per second.
    double rate = 50;
    std::uint32_t domain = 0;
    /// File of joint names, one a line; empty: the model's joint names.
    std::string jointNamesFile;
    /// Play the hand with a simulated one on the channel, in this process.
    bool sim = false;
    /// Stop after this long (0: run until `stop`).
    double seconds = 0;
};

/// Joint states and diagnostics of one hand as ROS 2 topics over DDS, and joint commands from
/// the network, until `stop` is set (or `seconds` have passed). Progress goes to `out`, refused
/// options and commands to `err`, one line each. Returns 0 after a clean stop, 1 when the
/// bridge could not start or an error stopped it.
int runBridge(const BridgeOptions& options, std::ostream& out, std::ostream& err,
              const std::atomic<bool>& stop);

}  // namespace bridge
}  // namespace velmora
