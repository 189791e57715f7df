#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace velmora {
namespace bridge {

/// The ROS 2 releases whose graph differs on the wire: Humble keeps GIDs in 24 bytes and knows
/// only ROS_LOCALHOST_ONLY; Iron and later (Jazzy, Kilted, Rolling) use 16 and discovery ranges.
enum class RosDistro { Humble, Jazzy };

/// ROS_AUTOMATIC_DISCOVERY_RANGE.
enum class DiscoveryRange { Subnet, Localhost, Off, SystemDefault };

/// What the command line says; empty: the environment's value, or ROS 2's default.
struct NetworkFlags {
    std::optional<std::uint32_t> domain;
    std::optional<std::string> distro;
    std::optional<bool> localhostOnly;
    std::optional<std::string> discoveryRange;
    /// Addresses separated by ';', as ROS_STATIC_PEERS.
    std::optional<std::string> staticPeers;
};

/// Where the bridge's participant joins, settled.
struct Network {
    std::uint32_t domain = 0;
    RosDistro distro = RosDistro::Jazzy;
    std::string distroName = "jazzy";
    /// Humble's ROS_LOCALHOST_ONLY=1: only the loopback interface.
    bool humbleLocalhostOnly = false;
    DiscoveryRange range = DiscoveryRange::Subnet;
    std::vector<std::string> staticPeers;
    /// What was given but not taken, as ROS 2 warns about it; one line each.
    std::vector<std::string> warnings;

    std::size_t gidSize() const { return distro == RosDistro::Humble ? 24 : 16; }
};

/// The value of an environment variable; empty when unset.
using Environment = std::function<std::optional<std::string>(const char* name)>;
/// The process's environment.
std::optional<std::string> processEnvironment(const char* name);

inline constexpr std::uint32_t kMaxDomain = 232;

/// The flags over ROS_DOMAIN_ID, ROS_DISTRO, ROS_LOCALHOST_ONLY, ROS_AUTOMATIC_DISCOVERY_RANGE and
/// ROS_STATIC_PEERS, read as rcl reads them for the distribution. Throws std::invalid_argument
/// naming the variable or flag for a domain that is no number from 0 to 232, an unknown
/// distribution or range flag, or a peer address that is no host name or address.
Network resolveNetwork(const NetworkFlags& flags, const Environment& environment);

/// The Cyclone DDS configuration rmw_cyclonedds makes of these settings, followed by
/// `cycloneUri` (CYCLONEDDS_URI), whose settings win where both speak.
std::string cycloneConfig(const Network& network, const std::string& cycloneUri);

/// "domain 39, discovery on localhost only" and the like, for the start-up lines.
std::string describe(const Network& network);

}  // namespace bridge
}  // namespace velmora
