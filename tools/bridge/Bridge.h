#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "RosNetwork.h"
#include "velmora/VelmoraTypes.h"

namespace velmora {
namespace bridge {

/// One hand of a bridge: a node of its own in the ROS graph, under its namespace.
struct HandOptions {
    VELMORA model = TOVIN;
    std::uint32_t side = RIGHT;
    /// The hand's CAN channel; with `sim` and nothing given, an in-process virtual bus.
    std::string channel;
    /// ROS namespace of the hand's node and topics; /diagnostics is global.
    std::string ns;
    /// File of joint names, one a line; empty: the model's joint names.
    std::string jointNamesFile;
    /// In front of every joint name and the frame, so that two hands never share one.
    std::string prefix;
};

/// How the joint states go out: reliable (ROS 2's default QoS) or sensor data (best effort).
enum class StateQos { Reliable, Sensor };

/// The first hand, and the settings every hand shares.
struct BridgeOptions : HandOptions {
    /// More hands in the same process, each its own node.
    std::vector<HandOptions> otherHands;
    /// Joint states per second.
    double rate = 50;
    StateQos stateQos = StateQos::Reliable;
    /// Where the participant joins; what is left empty comes from the ROS environment.
    NetworkFlags network;
    /// Play each hand with a simulated one on its channel, in this process.
    bool sim = false;
    /// Stop after this long (0: run until `stop`).
    double seconds = 0;
};

/// The node every hand's topics belong to, under the hand's namespace.
inline constexpr const char* kNodeName = "velmora_bridge";

/// Joint states and diagnostics of each hand as ROS 2 topics over DDS, and joint commands from
/// the network, until `stop` is set (or `seconds` have passed). Progress goes to `out`, refused
/// options and commands to `err`, one line each. Returns 0 after a clean stop, 1 when the
/// bridge could not start or an error stopped it.
int runBridge(const BridgeOptions& options, std::ostream& out, std::ostream& err,
              const std::atomic<bool>& stop);

}  // namespace bridge
}  // namespace velmora
