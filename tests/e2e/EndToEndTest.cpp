// Application -> VelmoraApi -> virtual bus -> simulated hand, and back.
#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <thread>

#include "Cli.h"
#include "support/HandPeer.h"
#include "velmora/Models.h"
#include "velmora/sim/SimulatedHand.h"
#include "velmora/velmora.h"

using namespace velmora;
using namespace velmora::testing;
using velmora::sim::SimConfig;
using velmora::sim::SimulatedHand;

namespace {

struct Model {
    VELMORA model;
    int angleKey;  // 0: no joint-angle tables
    std::string version;
};

const Model kModels[] = {
    {KESTA, 0, "Software Version: 1.5.0\nHardware Version: 2.0.0\nMechanical Version: 1.0.2\n"},
    {MARLO, 7,
     "freedom: 7\nRobot version: 1\nVersion Number: 1\nHand direction: Right hand\n"
     "Software Version: 1.5\nHardware Version: 2\n"},
    {TOVIN, 10,
     "freedom: 10\nRobot version: 1\nVersion Number: 1\nHand direction: Right hand\n"
     "Software Version: 1.5\nHardware Version: 2\n"},
    {RAVEL, 20, "Hand direction: Right hand\nSoftware Version: 1.5\nHardware Version: 2\n"},
    {SABRE, 21,
     "Hand direction: Right hand\nSoftware Version: 1.5.0.1\nHardware Version: 2.0.0.0\n"},
    {ZENIT, 25,
     "Hand direction: Right hand\nSoftware Version: 1.5.0.1\nHardware Version: 2.0.0.0\n"},
};

void PrintTo(const Model& m, std::ostream* os) {
    *os << models::modelName(m.model);
}

bool hasNoJoint(VELMORA model, std::size_t j) {
    return (model == ZENIT || model == SABRE) && j >= 11 && j <= 14;
}

/// A simulated hand and the application's facade on one virtual bus.
struct Rig {
    Rig(VELMORA model, std::uint32_t side, const std::string& busName)
        : simulated(sim::openSimChannel("virtual:" + busName), config(model, side)),
          api(model, static_cast<HAND_TYPE>(side), "virtual:" + busName),
          joints(models::info(model).slots) {}

    static SimConfig config(VELMORA model, std::uint32_t side) {
        SimConfig c;
        c.model = model;
        c.handId = side;
        return c;
    }

    SimulatedHand simulated;
    VelmoraApi api;
    std::size_t joints;
};

ByteVector pose(VELMORA model, std::size_t joints, std::uint8_t first) {
    ByteVector p(joints);
    for (std::size_t j = 0; j < joints; ++j) {
        p[j] = hasNoJoint(model, j) ? 0 : static_cast<std::uint8_t>(first + 7 * j);
    }
    return p;
}

class EveryModel : public ::testing::TestWithParam<Model> {
  protected:
    void SetUp() override { Common::current_hand_version = 1.0f; }
    std::string bus() const { return "can-" + uniqueBusName(); }
};

std::string name(const ::testing::TestParamInfo<Model>& info) {
    return models::modelName(info.param.model);
}

}  // namespace

TEST_P(EveryModel, CommandedPositionsConvergeInBytesAndRadians) {
    const Model& m = GetParam();
    Rig rig(m.model, RIGHT, bus());
    // The 10-joint hand requests state only once it knows its firmware is new enough.
    ASSERT_TRUE(eventually([&] { return !rig.api.getVersion().empty(); }));

    const ByteVector target = pose(m.model, rig.joints, 60);
    rig.api.fingerMove(target);
    EXPECT_TRUE(eventually([&] { return rig.api.getState() == target; }, 10000ms))
        << "last state read: " << ::testing::PrintToString(rig.api.getState());

    if (m.angleKey == 0)
        return;  // the 6-actuator hand has no joint-angle tables
    const RadianVector angles = range_to_arc(m.angleKey, "right", pose(m.model, rig.joints, 20));
    std::vector<double> min, max;
    std::vector<int> derict;
    ASSERT_TRUE(initialize_params(m.angleKey, "right", min, max, derict));
    rig.api.fingerMoveArc(angles);
    EXPECT_TRUE(eventually(
        [&] {
            const RadianVector read = rig.api.getStateArc();
            if (read.size() != angles.size())
                return false;
            for (std::size_t j = 0; j < read.size(); ++j) {
                // Within the conversion's rounding: one step of the joint's 0..255 range.
                if (std::abs(read[j] - angles[j]) > std::abs(max[j] - min[j]) / 255 + 1e-9)
                    return false;
            }
            return true;
        },
        10000ms));
}

TEST_P(EveryModel, VersionTextAndForceData) {
    const Model& m = GetParam();
    Rig rig(m.model, RIGHT, bus());
    EXPECT_TRUE(eventually([&] { return rig.api.getVersion() == m.version; }))
        << rig.api.getVersion();

    // Closed fingers press on the object in the hand: the matrices show it after a read.
    ByteVector closed(rig.joints, 128);
    for (const auto& finger : models::info(m.model).fingerJoints) {
        for (int j : finger) {
            if (j != models::kNoSlot)
                closed[static_cast<std::size_t>(j)] = 10;
        }
    }
    for (std::size_t j = 0; j < closed.size(); ++j) {
        if (hasNoJoint(m.model, j))
            closed[j] = 0;
    }
    rig.api.fingerMove(closed);
    ASSERT_TRUE(eventually([&] { return rig.api.getState() == closed; }, 10000ms));
    // Rows arrive after each read: equally closed fingers soon feel the same firm contact.
    ForceData force;
    EXPECT_TRUE(eventually(
        [&] {
            force = rig.api.getForce();
            return force.size() == 5 && force[0].size() == 12 && force[0][3][2] > 100 &&
                   force == ForceData(5, force[0]);
        },
        10000ms))
        << ::testing::PrintToString(force);
}

INSTANTIATE_TEST_SUITE_P(Hands, EveryModel, ::testing::ValuesIn(kModels), name);

TEST(EndToEnd, TwentyFiveJointSpeedsAndTorquesGoThroughTheJointOrders) {
    for (VELMORA model : {ZENIT, SABRE}) {
        Rig rig(model, LEFT, "can-" + uniqueBusName() + std::to_string(model));
        ByteVector values(25), expected(25);
        for (std::uint8_t i = 0; i < 25; ++i) {
            values[i] = static_cast<std::uint8_t>(100 + i);
            expected[i] = hasNoJoint(model, i) ? 0 : values[i];  // no joint, no state slot
        }
        rig.api.setSpeed(values);
        rig.api.setTorque(values);
        EXPECT_TRUE(eventually([&] { return rig.api.getSpeed() == expected; })) << model;
        EXPECT_TRUE(eventually([&] { return rig.api.getTorque() == expected; })) << model;
    }
}

TEST(EndToEnd, LeftAndRightHandsShareABus) {
    const std::string busName = "can-" + uniqueBusName();
    Rig left(RAVEL, LEFT, busName), right(RAVEL, RIGHT, busName);
    const ByteVector leftPose = pose(RAVEL, 20, 10), rightPose = pose(RAVEL, 20, 100);
    left.api.fingerMove(leftPose);
    right.api.fingerMove(rightPose);
    EXPECT_TRUE(eventually([&] { return left.api.getState() == leftPose; }));
    EXPECT_TRUE(eventually([&] { return right.api.getState() == rightPose; }));
    EXPECT_EQ(left.api.getState(), leftPose) << "each hand sees only its own state";
}

TEST(EndToEnd, SilentHandLeavesGettersWithTheirLastValues) {
    Rig rig(TOVIN, RIGHT, "can-" + uniqueBusName());
    ASSERT_TRUE(eventually([&] { return !rig.api.getVersion().empty(); }));
    const ByteVector target = pose(TOVIN, 10, 30);
    rig.api.fingerMove(target);
    ASSERT_TRUE(eventually([&] { return rig.api.getState() == target; }));
    ASSERT_TRUE(eventually([&] { return !rig.api.getTemperature().empty(); }));

    rig.simulated.setSilent(true);
    rig.api.fingerMove(pose(TOVIN, 10, 200));
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 10; ++i) {
        EXPECT_EQ(rig.api.getState(), target);
        EXPECT_FALSE(rig.api.getTemperature().empty());
    }
    // Twenty paced requests and their reads; nothing waits for the silent hand.
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1000ms);
}

TEST(EndToEnd, FaultsAndBrokenRepliesReachTheApplicationAsData) {
    Rig rig(ZENIT, RIGHT, "can-" + uniqueBusName());
    rig.simulated.injectFault(0x08);
    EXPECT_TRUE(eventually([&] {
        const ByteVector faults = rig.api.getFaultCode();
        return faults.size() == 30 && faults[2] == 0x08 && faults[4] == 0;  // slot 4 has no joint
    }));
    ASSERT_TRUE(eventually([&] { return rig.api.getState().size() == 25; }));

    // One byte short per finger: the hand's state no longer adds up, and is not guessed at.
    rig.simulated.setReplyFault(sim::ReplyFault::Short);
    EXPECT_TRUE(eventually([&] { return rig.api.getState().empty(); }));
    rig.simulated.setReplyFault(sim::ReplyFault::None);
    EXPECT_TRUE(eventually([&] { return rig.api.getState().size() == 25; }));
}

TEST(VelmoraCommand, SimAnswersAHandOnAVirtualBus) {
    const std::string channel = "virtual:can-" + uniqueBusName();
    std::ostringstream out, err;
    std::atomic<bool> stop{false};
    int status = -1;
    std::thread sim([&] {
        status = tools::runCli(
            {"velmora", "sim", "--model", "ravel", "--side", "left", "--channel", channel}, out,
            err, stop);
    });
    {
        VelmoraApi hand(RAVEL, LEFT, channel);
        EXPECT_TRUE(eventually([&] {
            return hand.getVersion() ==
                   "Hand direction: Left hand\nSoftware Version: 1.5\nHardware Version: 2\n";
        }));
    }
    stop = true;
    sim.join();
    EXPECT_EQ(status, 0) << err.str();
    EXPECT_NE(out.str().find("simulated ravel hand (left, CAN id 0x28) on " + channel),
              std::string::npos)
        << out.str();
}

TEST(VelmoraCommand, BadArgumentsAreExplained) {
    struct Case {
        std::vector<std::string> args;
        std::string message;
    };
    const Case cases[] = {
        {{"velmora"}, "A subcommand is required"},
        {{"velmora", "fly"}, "unknown command 'fly'"},
        {{"velmora", "demo", "--model", "hexa"}, "unknown model 'hexa'"},
        {{"velmora", "demo", "--side", "up"}, "unknown side 'up'"},
        {{"velmora", "sim", "--model", "tovin", "--side", "left"}, "--channel is required"},
        {{"velmora", "sim", "--model", "tovin", "--side", "left", "--channel", "x", "--sensor",
          "skin"},
         "skin"},
        {{"velmora", "sim", "--model", "tovin", "--side", "left", "--channel", "x", "--firmware",
          "1.55"},
         "not a version such as 1.5"},
        {{"velmora", "sim", "--model", "tovin", "--side", "left", "--channel",
          "velmora-no-such-can"},
         "velmora sim: Cannot open CAN interface velmora-no-such-can"},
    };
    for (const Case& c : cases) {
        std::ostringstream out, err;
        std::atomic<bool> stop{true};
        EXPECT_NE(tools::runCli(c.args, out, err, stop), 0) << c.message;
        EXPECT_NE(err.str().find(c.message), std::string::npos) << err.str();
    }
    std::ostringstream out, err;
    std::atomic<bool> stop{true};
    EXPECT_EQ(tools::runCli({"velmora", "sim", "--help"}, out, err, stop), 0);
    EXPECT_NE(out.str().find("--channel"), std::string::npos);
}
