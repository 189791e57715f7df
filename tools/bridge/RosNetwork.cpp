#include "RosNetwork.h"

#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <stdexcept>

namespace velmora {
namespace bridge {

namespace {

// rmw's limit on one static peer, terminator included.
constexpr std::size_t kLongestPeer = 255;

struct RangeName {
    const char* name;
    DiscoveryRange range;
};
constexpr RangeName kRanges[] = {
    {"SUBNET", DiscoveryRange::Subnet},
    {"LOCALHOST", DiscoveryRange::Localhost},
    {"OFF", DiscoveryRange::Off},
    {"SYSTEM_DEFAULT", DiscoveryRange::SystemDefault},
};

std::optional<DiscoveryRange> rangeFromName(const std::string& name) {
    for (const RangeName& r : kRanges) {
        if (name == r.name)
            return r.range;
    }
    return std::nullopt;
}

std::uint32_t domainFrom(const std::string& text, const std::string& source) {
    std::size_t digits = 0;
    while (digits < text.size() && std::isdigit(static_cast<unsigned char>(text[digits])))
        ++digits;
    if (digits == 0 || digits != text.size() || digits > 4 || std::stoul(text) > kMaxDomain) {
        throw std::invalid_argument(source + "='" + text + "' is not a DDS domain: give a whole " +
                                    "number from 0 to " + std::to_string(kMaxDomain));
    }
    return static_cast<std::uint32_t>(std::stoul(text));
}

bool validPeer(const std::string& peer) {
    for (char c : peer) {
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '.' && c != '-' && c != ':' &&
            c != '[' && c != ']' && c != '_')
            return false;
    }
    return true;
}

std::vector<std::string> peersFrom(const std::string& text, const std::string& source,
                                   std::vector<std::string>& warnings) {
    std::vector<std::string> peers;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find(';', start);
        if (end == std::string::npos)
            end = text.size();
        const std::string peer = text.substr(start, end - start);
        start = end + 1;
        if (peer.empty())
            continue;
        if (peer.size() >= kLongestPeer) {
            warnings.push_back(source + ": the peer '" + peer.substr(0, 32) +
                               "...' is longer than " + std::to_string(kLongestPeer - 1) +
                               " characters; skipped");
            continue;
        }
        if (!validPeer(peer)) {
            throw std::invalid_argument(source + ": '" + peer +
                                        "' is not a host name or an IP address");
        }
        peers.push_back(peer);
    }
    return peers;
}

}  // namespace

std::optional<std::string> processEnvironment(const char* name) {
    const char* value = std::getenv(name);
    if (value == nullptr)
        return std::nullopt;
    return std::string(value);
}

Network resolveNetwork(const NetworkFlags& flags, const Environment& environment) {
    auto env = [&](const char* name) -> std::string {
        const std::optional<std::string> value = environment(name);
        return value ? *value : "";
    };
    Network network;

    const std::string distro = flags.distro ? *flags.distro : env("ROS_DISTRO");
    const std::string distroSource = flags.distro ? "--ros-distro" : "ROS_DISTRO";
    if (distro == "humble") {
        network.distro = RosDistro::Humble;
        network.distroName = distro;
    } else if (distro == "iron" || distro == "jazzy" || distro == "kilted" || distro == "rolling") {
        network.distroName = distro;
    } else if (!distro.empty()) {
        throw std::invalid_argument(distroSource + "='" + distro +
                                    "' is not a ROS 2 distribution the bridge speaks: humble, "
                                    "iron, jazzy, kilted or rolling");
    }

    if (flags.domain) {
        if (*flags.domain > kMaxDomain)
            domainFrom(std::to_string(*flags.domain), "--domain");
        network.domain = *flags.domain;
    } else if (const std::string domain = env("ROS_DOMAIN_ID"); !domain.empty()) {
        network.domain = domainFrom(domain, "ROS_DOMAIN_ID");
    }

    // ROS_LOCALHOST_ONLY is on for "1" (Humble) or anything that starts with it (Iron on).
    bool localhostOnly = false;
    if (flags.localhostOnly) {
        localhostOnly = *flags.localhostOnly;
    } else if (const std::string value = env("ROS_LOCALHOST_ONLY"); !value.empty()) {
        localhostOnly = network.distro == RosDistro::Humble ? value == "1" : value[0] == '1';
        if (!localhostOnly && value != "0") {
            network.warnings.push_back("ROS_LOCALHOST_ONLY='" + value +
                                       "' is not 1: discovery is not limited to this computer");
        }
    }

    if (network.distro == RosDistro::Humble) {
        if (flags.discoveryRange || flags.staticPeers) {
            throw std::invalid_argument(
                "--discovery-range and --static-peers need Iron or later; Humble knows only "
                "--localhost-only (ROS_LOCALHOST_ONLY)");
        }
        for (const char* unread : {"ROS_AUTOMATIC_DISCOVERY_RANGE", "ROS_STATIC_PEERS"}) {
            if (!env(unread).empty())
                network.warnings.push_back(std::string(unread) + " is not read on Humble");
        }
        network.humbleLocalhostOnly = localhostOnly;
        network.range = localhostOnly ? DiscoveryRange::Localhost : DiscoveryRange::Subnet;
        return network;
    }

    if (localhostOnly) {
        // As rcl does: the old switch prevails over the range and the peers.
        network.range = DiscoveryRange::Localhost;
        if (flags.discoveryRange || flags.staticPeers ||
            !env("ROS_AUTOMATIC_DISCOVERY_RANGE").empty() || !env("ROS_STATIC_PEERS").empty()) {
            network.warnings.push_back(
                "localhost only is on: the discovery range and static peers are not used");
        }
        return network;
    }
    if (flags.discoveryRange) {
        const auto range = rangeFromName(*flags.discoveryRange);
        if (!range) {
            throw std::invalid_argument("--discovery-range '" + *flags.discoveryRange +
                                        "': choose SUBNET, LOCALHOST, OFF or SYSTEM_DEFAULT");
        }
        network.range = *range;
    } else if (const std::string value = env("ROS_AUTOMATIC_DISCOVERY_RANGE"); !value.empty()) {
        const auto range = rangeFromName(value);
        if (!range) {
            network.warnings.push_back("ROS_AUTOMATIC_DISCOVERY_RANGE='" + value +
                                       "' is none of SUBNET, LOCALHOST, OFF or SYSTEM_DEFAULT: "
                                       "discovery stays on this computer, as ROS 2 does");
        }
        network.range = range ? *range : DiscoveryRange::Localhost;
    }

    const std::string peers = flags.staticPeers ? *flags.staticPeers : env("ROS_STATIC_PEERS");
    network.staticPeers = peersFrom(
        peers, flags.staticPeers ? "--static-peers" : "ROS_STATIC_PEERS", network.warnings);
    if (!network.staticPeers.empty() &&
        (network.range == DiscoveryRange::Off || network.range == DiscoveryRange::SystemDefault)) {
        network.warnings.push_back(
            std::string("the static peers are not used with discovery ") +
            (network.range == DiscoveryRange::Off ? "OFF" : "SYSTEM_DEFAULT"));
        network.staticPeers.clear();
    }
    return network;
}

std::string cycloneConfig(const Network& network, const std::string& cycloneUri) {
    std::string config;
    if (network.distro == RosDistro::Humble) {
        if (network.humbleLocalhostOnly) {
            config =
                "<CycloneDDS><Domain><General><Interfaces><NetworkInterface address=\"127.0.0.1\"/>"
                "</Interfaces></General></Domain></CycloneDDS>,";
        }
        return config + cycloneUri;
    }
    const bool localhost = network.range == DiscoveryRange::Localhost;
    const bool noMulticast = localhost || network.range == DiscoveryRange::Off;
    const bool peers = network.range == DiscoveryRange::Subnet || localhost;
    if (network.range == DiscoveryRange::SystemDefault)
        return cycloneUri;

    config = "<CycloneDDS><Domain>";
    if (noMulticast)
        config += "<General><AllowMulticast>false</AllowMulticast></General>";
    if (network.range == DiscoveryRange::Off) {
        // A tag no other process has: nobody is found, nobody finds us.
        config += "<Discovery><ParticipantIndex>none</ParticipantIndex><Tag>ros_discovery_off_" +
                  std::to_string(::getpid()) + "</Tag>";
    } else {
        config +=
            "<Discovery><ParticipantIndex>auto</ParticipantIndex>"
            "<MaxAutoParticipantIndex>32</MaxAutoParticipantIndex>";
    }
    if (peers && (localhost || !network.staticPeers.empty())) {
        config += "<Peers>";
        if (localhost)
            config += "<Peer address=\"localhost\"/>";
        for (const std::string& peer : network.staticPeers)
            config += "<Peer address=\"" + peer + "\"/>";
        config += "</Peers>";
    }
    config += "</Discovery></Domain></CycloneDDS>,";
    return config + cycloneUri;
}

std::string describe(const Network& network) {
    std::string text = "DDS domain " + std::to_string(network.domain) + ", ROS 2 " +
                       network.distroName + ", discovery ";
    switch (network.range) {
        case DiscoveryRange::Subnet:
            text += "on the subnet";
            break;
        case DiscoveryRange::Localhost:
            text += "on this computer only";
            break;
        case DiscoveryRange::Off:
            text += "off";
            break;
        case DiscoveryRange::SystemDefault:
            text += "as Cyclone DDS is configured";
            break;
    }
    for (std::size_t i = 0; i < network.staticPeers.size(); ++i)
        text += (i == 0 ? ", static peers " : ";") + network.staticPeers[i];
    return text;
}

}  // namespace bridge
}  // namespace velmora
