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
    EXPECT_NE(run.out.find("publishing rt/marlo_left/joint_states"), std::string::npos);
    EXPECT_NE(run.out.find("subscribed to rt/marlo_left/joint_commands"), std::string::npos);
    EXPECT_NE(run.out.find("velmora bridge stopped:"), std::string::npos);
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
