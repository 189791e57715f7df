// How the bridge reads the ROS environment and what Cyclone DDS configuration it makes of it,
// before any DDS traffic.

#include <gtest/gtest.h>

#include <map>

#include "RosNetwork.h"

namespace velmora::bridge {
namespace {

using Variables = std::map<std::string, std::string>;

Network resolved(const Variables& variables, const NetworkFlags& flags = {}) {
    return resolveNetwork(flags, [&](const char* name) -> std::optional<std::string> {
        const auto found = variables.find(name);
        if (found == variables.end())
            return std::nullopt;
        return found->second;
    });
}

TEST(RosNetwork, ReadsTheEnvironmentAsRos2Does) {
    struct Case {
        const char* what;
        Variables variables;
        NetworkFlags flags;
        std::uint32_t domain;
        std::size_t gidSize;
        DiscoveryRange range;
        std::vector<std::string> peers;
        std::size_t warnings;
    };
    NetworkFlags domain7;
    domain7.domain = 7;
    NetworkFlags localhost;
    localhost.localhostOnly = true;
    NetworkFlags offFlag;
    offFlag.discoveryRange = "OFF";
    NetworkFlags humble;
    humble.distro = "humble";
    const DiscoveryRange subnet = DiscoveryRange::Subnet, local = DiscoveryRange::Localhost;
    const std::vector<Case> cases = {
        {"nothing set", {}, {}, 0, 16, subnet, {}, 0},
        {"domain", {{"ROS_DOMAIN_ID", "39"}}, {}, 39, 16, subnet, {}, 0},
        {"flag over the environment", {{"ROS_DOMAIN_ID", "39"}}, domain7, 7, 16, subnet, {}, 0},
        {"empty domain", {{"ROS_DOMAIN_ID", ""}}, {}, 0, 16, subnet, {}, 0},
        {"humble", {{"ROS_DISTRO", "humble"}}, {}, 0, 24, subnet, {}, 0},
        {"humble localhost",
         {{"ROS_DISTRO", "humble"}, {"ROS_LOCALHOST_ONLY", "1"}},
         {},
         0,
         24,
         local,
         {},
         0},
        {"humble ignores ranges",
         {{"ROS_AUTOMATIC_DISCOVERY_RANGE", "OFF"}},
         humble,
         0,
         24,
         subnet,
         {},
         1},
        {"jazzy localhost",
         {{"ROS_DISTRO", "jazzy"}, {"ROS_LOCALHOST_ONLY", "1"}},
         {},
         0,
         16,
         local,
         {},
         0},
        {"localhost prevails",
         {{"ROS_LOCALHOST_ONLY", "1"}, {"ROS_STATIC_PEERS", "a"}},
         {},
         0,
         16,
         local,
         {},
         1},
        {"not 1", {{"ROS_LOCALHOST_ONLY", "yes"}}, {}, 0, 16, subnet, {}, 1},
        {"range", {{"ROS_AUTOMATIC_DISCOVERY_RANGE", "LOCALHOST"}}, {}, 0, 16, local, {}, 0},
        {"bad range: localhost",
         {{"ROS_AUTOMATIC_DISCOVERY_RANGE", "lan"}},
         {},
         0,
         16,
         local,
         {},
         1},
        {"peers",
         {{"ROS_STATIC_PEERS", "192.168.0.2;;robot-2.local"}},
         {},
         0,
         16,
         subnet,
         {"192.168.0.2", "robot-2.local"},
         0},
        {"peers unused when off",
         {{"ROS_STATIC_PEERS", "a"}},
         offFlag,
         0,
         16,
         DiscoveryRange::Off,
         {},
         1},
        {"flag over localhost", {{"ROS_LOCALHOST_ONLY", "0"}}, localhost, 0, 16, local, {}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Network n = resolved(c.variables, c.flags);
        EXPECT_EQ(n.domain, c.domain);
        EXPECT_EQ(n.gidSize(), c.gidSize);
        EXPECT_EQ(n.range, c.range);
        EXPECT_EQ(n.staticPeers, c.peers);
        EXPECT_EQ(n.warnings.size(), c.warnings);
    }
}

TEST(RosNetwork, RefusesWhatRos2WouldNotRun) {
    struct Case {
        Variables variables;
        NetworkFlags flags;
        const char* message;
    };
    NetworkFlags badRange;
    badRange.discoveryRange = "lan";
    NetworkFlags humbleRange;
    humbleRange.distro = "humble";
    humbleRange.discoveryRange = "OFF";
    NetworkFlags bigDomain;
    bigDomain.domain = 233;
    const std::vector<Case> cases = {
        {{{"ROS_DOMAIN_ID", "x"}}, {}, "ROS_DOMAIN_ID='x' is not a DDS domain"},
        {{{"ROS_DOMAIN_ID", "-1"}}, {}, "from 0 to 232"},
        {{{"ROS_DOMAIN_ID", "233"}}, {}, "from 0 to 232"},
        {{{"ROS_DOMAIN_ID", "39 "}}, {}, "ROS_DOMAIN_ID='39 '"},
        {{}, bigDomain, "--domain='233'"},
        {{{"ROS_DISTRO", "foxy"}}, {}, "ROS_DISTRO='foxy' is not a ROS 2 distribution"},
        {{}, badRange, "--discovery-range 'lan'"},
        {{}, humbleRange, "need Iron or later"},
        {{{"ROS_STATIC_PEERS", "a;b\"/><x"}}, {}, "ROS_STATIC_PEERS: 'b\"/><x' is not a host"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        try {
            resolved(c.variables, c.flags);
            ADD_FAILURE() << "accepted";
        } catch (const std::invalid_argument& e) {
            EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << e.what();
        }
    }
}

// The configurations rmw_cyclonedds makes, with CYCLONEDDS_URI after them.
TEST(RosNetwork, ConfiguresCycloneDdsAsRmwCycloneddsDoes) {
    struct Case {
        Variables variables;
        std::string config;
    };
    const std::string discovery =
        "<Discovery><ParticipantIndex>auto</ParticipantIndex><MaxAutoParticipantIndex>32"
        "</MaxAutoParticipantIndex>";
    const std::vector<Case> cases = {
        {{}, "<CycloneDDS><Domain>" + discovery + "</Discovery></Domain></CycloneDDS>,URI"},
        {{{"ROS_AUTOMATIC_DISCOVERY_RANGE", "LOCALHOST"}, {"ROS_STATIC_PEERS", "10.0.0.9"}},
         "<CycloneDDS><Domain><General><AllowMulticast>false</AllowMulticast></General>" +
             discovery +
             "<Peers><Peer address=\"localhost\"/><Peer address=\"10.0.0.9\"/></Peers>"
             "</Discovery></Domain></CycloneDDS>,URI"},
        {{{"ROS_AUTOMATIC_DISCOVERY_RANGE", "SYSTEM_DEFAULT"}}, "URI"},
        {{{"ROS_DISTRO", "humble"}}, "URI"},
        {{{"ROS_DISTRO", "humble"}, {"ROS_LOCALHOST_ONLY", "1"}},
         "<CycloneDDS><Domain><General><Interfaces><NetworkInterface address=\"127.0.0.1\"/>"
         "</Interfaces></General></Domain></CycloneDDS>,URI"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(cycloneConfig(resolved(c.variables), "URI"), c.config);
    const std::string off = cycloneConfig(resolved({{"ROS_AUTOMATIC_DISCOVERY_RANGE", "OFF"}}), "");
    EXPECT_NE(off.find("<AllowMulticast>false</AllowMulticast>"), std::string::npos) << off;
    EXPECT_NE(off.find("<ParticipantIndex>none</ParticipantIndex><Tag>ros_discovery_off_"),
              std::string::npos)
        << off;
    EXPECT_EQ(describe(resolved({{"ROS_DOMAIN_ID", "5"}, {"ROS_STATIC_PEERS", "a;b"}})),
              "DDS domain 5, ROS 2 jazzy, discovery on the subnet, static peers a;b");
}

}  // namespace
}  // namespace velmora::bridge
