// `velmora bridge` through the command line.

#include <gtest/gtest.h>

#include <sstream>

#include "BridgeTesting.h"
#include "Cli.h"

namespace velmora::testing {
namespace {

struct CliResult {
    int status;
    std::string out, err;
};

CliResult velmora(std::vector<std::string> args) {
    args.insert(args.begin(), "velmora");
    std::ostringstream out, err;
    const std::atomic<bool> stop{false};
    const int status = tools::runCli(args, out, err, stop);
    return {status, out.str(), err.str()};
}

TEST(BridgeCommand, RunsASimulatedHandAndStops) {
    useLoopbackOnly();
    const CliResult run = velmora({"bridge", "--model", "marlo", "--side", "left", "--sim",
                                   "--seconds", "0.5", "--domain", "143"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("velmora bridge: marlo left hand on virtual:can-bridge-left "
                           "(simulated), DDS domain 143"),
              std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find("node /marlo_left/velmora_bridge\n"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("publishing /marlo_left/joint_states (sensor_msgs/msg/JointState, "
                           "50.0 Hz; reliable, volatile, keep last 10)"),
              std::string::npos);
    EXPECT_NE(run.out.find("subscribed to /marlo_left/joint_commands"), std::string::npos);
    EXPECT_NE(run.out.find("velmora bridge stopped:"), std::string::npos);
}

// Two hands, each its own node and namespace, their joints apart by prefix.
TEST(BridgeCommand, RunsTwoSimulatedHandsInOneProcess) {
    useLoopbackOnly();
    const CliResult run =
        velmora({"bridge", "--hand", "tovin:right:can0", "--hand", "ravel:left:can1", "--sim",
                 "--seconds", "0.5", "--domain", "144"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("tovin right hand on virtual:can0 (simulated)"), std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find("ravel left hand on virtual:can1 (simulated)"), std::string::npos);
    EXPECT_NE(run.out.find("node /tovin_right/velmora_bridge"), std::string::npos);
    EXPECT_NE(run.out.find("node /ravel_left/velmora_bridge"), std::string::npos);
    EXPECT_EQ(countOf(run.out, "velmora bridge stopped: "), 2u) << run.out;
    EXPECT_EQ(run.err, "");
}

TEST(BridgeCommand, RefusesWhatItCannotRun) {
    struct Case {
        std::vector<std::string> args;
        const char* message;
    };
    const std::vector<Case> cases = {
        {{"bridge", "--model", "tovin", "--side", "right"}, "--channel is required"},
        {{"bridge", "--model", "kesta", "--side", "right", "--sim"}, "no joint-angle tables"},
        {{"bridge", "--model", "tovin", "--side", "up", "--sim"}, "unknown side 'up'"},
        {{"bridge", "--model", "tovin", "--side", "right", "--sim", "--rate", "0"}, "rate"},
        {{"bridge", "--model", "tovin", "--side", "right", "--sim", "--domain", "300"}, "domain"},
        {{"bridge", "--model", "tovin", "--side", "right", "--sim", "--namespace", "a b"},
         "not a ROS namespace"},
        {{"bridge", "--model", "tovin", "--side", "right", "--sim", "--joint-names", "/none"},
         "/none"},
        {{"bridge", "--sim"}, "give --model and --side"},
        {{"bridge", "--hand", "tovin", "--sim"}, "give MODEL:SIDE[:CHANNEL[:PREFIX]]"},
        {{"bridge", "--hand", "tovin:up", "--sim"}, "unknown side 'up'"},
        {{"bridge", "--hand", "tovin:right"}, "needs a channel"},
        {{"bridge", "--hand", "tovin:right:can0", "--model", "tovin"}, "not both"},
        {{"bridge", "--hand", "tovin:right:x", "--hand", "ravel:right:x", "--sim"},
         "two hands on channel virtual:x"},
        {{"bridge", "--hand", "tovin:right:can7"}, "can7: no such CAN interface"},
        {{"bridge", "--model", "tovin", "--side", "right", "--sim", "--qos", "fast"}, "--qos"},
        {{"bridge", "--model", "tovin", "--side", "right", "--sim", "--ros-distro", "foxy"},
         "'foxy' is not a ROS 2 distribution"},
        {{"bridge", "--model", "tovin", "--side", "right", "--sim", "--discovery-range", "LAN"},
         "choose SUBNET, LOCALHOST, OFF or SYSTEM_DEFAULT"},
        {{"bridge", "--model", "tovin", "--side", "right", "--sim", "--static-peers", "a<b"},
         "'a<b' is not a host name"},
    };
    for (const Case& c : cases) {
        const CliResult run = velmora(c.args);
        EXPECT_NE(run.status, 0) << c.message;
        EXPECT_NE((run.out + run.err).find(c.message), std::string::npos)
            << c.message << ": " << run.out << run.err;
    }
}

}  // namespace
}  // namespace velmora::testing
