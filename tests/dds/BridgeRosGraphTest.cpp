// The bridge as a ROS 2 system sees it, from the Fast DDS peer: the ROS environment decides
// where it joins, and ros_discovery_info names its node and endpoints, in Jazzy's and
// Humble's layouts.

#include <gtest/gtest.h>

#include <map>
#include <set>

#include "BridgeTesting.h"
#include "FastDdsPeer.h"
#include "support/HandPeer.h"

namespace velmora::testing {
namespace {

using bridge::BridgeOptions;

/// Environment variables set for one test and put back after it.
class ScopedEnvironment {
  public:
    explicit ScopedEnvironment(const std::map<std::string, std::optional<std::string>>& values) {
        for (const auto& [name, value] : values) {
            const char* old = std::getenv(name.c_str());
            saved_[name] = old ? std::optional<std::string>(old) : std::nullopt;
            set(name, value);
        }
    }
    ~ScopedEnvironment() {
        for (const auto& [name, value] : saved_)
            set(name, value);
    }
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

  private:
    static void set(const std::string& name, const std::optional<std::string>& value) {
        if (value)
            ::setenv(name.c_str(), value->c_str(), 1);
        else
            ::unsetenv(name.c_str());
    }
    std::map<std::string, std::optional<std::string>> saved_;
};

BridgeOptions simulatedTovin() {
    BridgeOptions options;
    options.sim = true;
    options.channel = "virtual:can-" + uniqueBusName();
    options.ns = "hand";
    options.rate = 100;
    return options;
}

// No --domain: ROS_DOMAIN_ID says where; localhost only leaves the multicast out, on Humble
// by the loopback interface alone, as rmw_cyclonedds configures it.
TEST(BridgeRosEnvironment, DecidesWhereTheBridgeJoins) {
    struct Case {
        const char* what;
        std::uint32_t domain;
        std::map<std::string, std::optional<std::string>> environment;
        bool loopbackAddressesOnly;
    };
    const std::optional<std::string> unset;
    const std::vector<Case> cases = {
        {"domain", 161, {{"ROS_DOMAIN_ID", "161"}}, true},
        {"localhost only, Jazzy",
         162,
         {{"ROS_DOMAIN_ID", "162"}, {"ROS_LOCALHOST_ONLY", "1"}, {"CYCLONEDDS_URI", unset}},
         false},
        {"localhost only, Humble",
         163,
         {{"ROS_DOMAIN_ID", "163"},
          {"ROS_DISTRO", "humble"},
          {"ROS_LOCALHOST_ONLY", "1"},
          {"CYCLONEDDS_URI", unset}},
         true},
    };
    useLoopbackOnly();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ScopedEnvironment environment(c.environment);
        // Jazzy's localhost range keeps the usual interface and finds peers on localhost.
        FastDdsPeer peer(c.domain, !c.loopbackAddressesOnly);
        auto& states = peer.subscribeJointStates("rt/hand/joint_states");
        RunningBridge bridge(simulatedTovin());
        ASSERT_TRUE(eventually([&] { return states.size() >= 2; })) << bridge.err.text();
        EXPECT_NE(bridge.out.text().find("DDS domain " + std::to_string(c.domain)),
                  std::string::npos)
            << bridge.out.text();
        for (const std::string& address : peer.announcedAddresses()) {
            EXPECT_NE(address.rfind("239.", 0), 0u) << "multicast " << address;
            if (c.loopbackAddressesOnly) {
                EXPECT_EQ(address, "127.0.0.1");
            }
        }
        EXPECT_EQ(bridge.finish(), 0);
    }
}

template <class Message>
struct GraphRow {
    const char* distro;
    std::uint32_t domain;
    std::size_t gidBytes;
};

template <class Message>
void expectTheNodeOnTheGraph(const GraphRow<Message>& row) {
    SCOPED_TRACE(row.distro);
    useLoopbackOnly();
    FastDdsPeer peer(row.domain);
    Inbox<Message>& graph = peer.subscribeGraph<Message>();
    BridgeOptions options = simulatedTovin();
    options.network.distro = row.distro;
    options.network.domain = row.domain;
    RunningBridge bridge(options);
    // Discovery announces the endpoints one by one: wait for each the checks below look up.
    ASSERT_TRUE(eventually([&] {
        const auto w = peer.writers();
        const auto r = peer.readers();
        return graph.size() >= 1 && w.count("rt/hand/joint_states") && w.count("rt/diagnostics") &&
               r.count("rt/hand/joint_commands") && r.count("rt/hand/velmora_bridge/commands") &&
               r.count("rt/hand/velmora_bridge/joint_trajectory");
    })) << bridge.err.text()
        << graph.size() << " " << peer.writers().size() << " " << peer.readers().size();

    const Message info = graph.messages().back();
    ASSERT_EQ(info.gid().data().size(), row.gidBytes);
    auto guidOf = [&](const auto& gid) {
        std::array<std::uint8_t, 16> guid{};
        std::copy(gid.data().begin(), gid.data().begin() + 16, guid.begin());
        for (std::size_t i = 16; i < gid.data().size(); ++i)
            EXPECT_EQ(gid.data()[i], 0) << "byte " << i;
        return guid;
    };
    const auto participants = peer.participantGuids();
    EXPECT_NE(std::find(participants.begin(), participants.end(), guidOf(info.gid())),
              participants.end());
    ASSERT_EQ(info.node_entities_info_seq().size(), 1u);
    const auto& node = info.node_entities_info_seq()[0];
    EXPECT_EQ(node.node_namespace(), "/hand");
    EXPECT_EQ(node.node_name(), "velmora_bridge");

    std::set<std::array<std::uint8_t, 16>> writers, readers;
    for (const auto& gid : node.writer_gid_seq())
        writers.insert(guidOf(gid));
    for (const auto& gid : node.reader_gid_seq())
        readers.insert(guidOf(gid));
    const auto discoveredWriters = peer.writers();
    const auto discoveredReaders = peer.readers();
    EXPECT_EQ(writers, (std::set<std::array<std::uint8_t, 16>>{
                           discoveredWriters.at("rt/hand/joint_states").guid,
                           discoveredWriters.at("rt/diagnostics").guid}));
    EXPECT_EQ(readers, (std::set<std::array<std::uint8_t, 16>>{
                           discoveredReaders.at("rt/hand/joint_commands").guid,
                           discoveredReaders.at("rt/hand/velmora_bridge/commands").guid,
                           discoveredReaders.at("rt/hand/velmora_bridge/joint_trajectory").guid}));
    EXPECT_EQ(bridge.finish(), 0);
}

TEST(BridgeRosGraph, RosDiscoveryInfoCarriesTheNodeAndItsEndpoints) {
    expectTheNodeOnTheGraph(GraphRow<RosParticipantEntities>{"jazzy", 164, 16});
    expectTheNodeOnTheGraph(GraphRow<HumbleParticipantEntities>{"humble", 165, 24});
}

}  // namespace
}  // namespace velmora::testing
