// The bridge on every model value, against a simulated hand and the Fast DDS peer: the joint
// states it publishes to best-effort and reliable readers (names and count from the model
// catalogue) and one command passed on to the hand and read back; a model it cannot speak for
// gets its one refusal.

#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

#include "BridgeTesting.h"
#include "FastDdsPeer.h"
#include "support/HandPeer.h"
#include "velmora/Models.h"
#include "velmora/RangeToArc.h"
#include "velmora/sim/SimulatedHand.h"

namespace velmora::testing {
namespace {

using bridge::BridgeOptions;

std::vector<VELMORA> everyModel() {
    std::vector<VELMORA> all;
    for (const models::ModelInfo& m : models::kModels)
        all.push_back(m.model);
    return all;
}

class BridgeOnEveryModel : public ::testing::TestWithParam<VELMORA> {
  protected:
    const models::ModelInfo& model() const { return models::info(GetParam()); }

    BridgeOptions options(const std::string& bus) const {
        BridgeOptions o;
        o.model = GetParam();
        o.side = RIGHT;
        o.channel = bus;
        o.ns = "hand";
        o.rate = 100;
        o.network.domain = 150 + static_cast<std::uint32_t>(GetParam());
        return o;
    }

    // The published joints' entries of a full slot vector.
    std::vector<double> published(const std::vector<double>& slots) const {
        std::vector<double> out;
        for (std::size_t s = 0; s < model().slots; ++s) {
            if (model().hasAngle(s))
                out.push_back(slots[s]);
        }
        return out;
    }
};

TEST_P(BridgeOnEveryModel, PublishesItsJointsAndPassesACommandOn) {
    const models::ModelInfo& m = model();
    useLoopbackOnly();
    const std::string bus = std::string("virtual:can-bridge-matrix-") + m.name;
    sim::SimConfig config;
    config.model = m.model;
    config.handId = RIGHT;
    sim::SimulatedHand simulated(sim::openSimChannel(bus), config);

    if (!m.hasAngleTables()) {
        std::ostringstream out, err;
        const std::atomic<bool> stop{true};
        EXPECT_EQ(bridge::runBridge(options(bus), out, err, stop), 1);
        EXPECT_EQ(err.str(),
                  "velmora bridge: the 6-actuator hand has no joint-angle tables, and the bridge "
                  "speaks radians\n");
        EXPECT_EQ(simulated.framesReceived(), 0u);
        return;
    }

    FastDdsPeer peer(*options(bus).network.domain);
    // Best effort (sensor data) and reliable (rclcpp's QoS(10)) readers alike.
    Inbox<RosJointState>& states = peer.subscribeJointStates("rt/hand/joint_states");
    Inbox<RosJointState>& reliable = peer.subscribeReliableJointStates("rt/hand/joint_states");
    RunningBridge bridge(options(bus));
    ASSERT_TRUE(eventually([&] { return states.size() >= 1 && reliable.size() >= 1; }))
        << bridge.err.text();

    std::vector<std::string> names;
    for (std::size_t s = 0; s < m.slots; ++s) {
        if (m.hasAngle(s))
            names.push_back(models::jointName(m.model, s));
    }
    const RosJointState first = states.messages().back();
    EXPECT_EQ(first.name(), names);
    EXPECT_EQ(reliable.messages().back().name(), names);
    ASSERT_EQ(first.position().size(), m.angleJoints());
    // The simulated hand starts open.
    EXPECT_EQ(first.position(),
              published(range_to_arc(m.angleTableKey, "right", ByteVector(m.slots, 255))));

    // One command, a value for every published joint in order.
    std::vector<double> min, max;
    std::vector<int> direction;
    ASSERT_TRUE(initialize_params(m.angleTableKey, "right", min, max, direction));
    RadianVector slotAngles(m.slots, 0.0);
    std::vector<double> command;
    for (std::size_t s = 0, j = 0; s < m.slots; ++s) {
        if (!m.hasAngle(s))
            continue;
        slotAngles[s] = min[s] + (max[s] - min[s]) * (0.25 + 0.02 * double(j++));
        command.push_back(slotAngles[s]);
    }
    fdds::DataWriter* writer = peer.jointCommandWriter("rt/hand/joint_commands");
    ASSERT_TRUE(eventually([&] {
        fdds::PublicationMatchedStatus status;
        writer->get_publication_matched_status(status);
        return status.current_count > 0 &&
               bridge.out.text().find("1 joint command publisher\n") != std::string::npos;
    }));
    RosJointState message;
    message.position(command);
    ASSERT_TRUE(writer->write(&message));

    const ByteVector wanted = arc_to_range(m.angleTableKey, "right", slotAngles);
    EXPECT_TRUE(eventually([&] {
        const ByteVector targets = simulated.body().targets(0, m.slots);
        for (std::size_t s = 0; s < m.slots; ++s) {
            if (m.hasAngle(s) && targets[s] != wanted[s])
                return false;
        }
        return true;
    })) << bridge.err.text();
    // Read back: the published state reaches the commanded angles, within one wire step.
    const std::vector<double> expected = published(slotAngles);
    const std::vector<double> lo = published(min), hi = published(max);
    EXPECT_TRUE(eventually(
        [&] {
            const std::vector<double> last = states.messages().back().position();
            for (std::size_t j = 0; j < expected.size(); ++j) {
                if (std::abs(last[j] - expected[j]) > std::abs(hi[j] - lo[j]) / 255.0 + 1e-9)
                    return false;
            }
            return true;
        },
        10000ms));

    EXPECT_EQ(bridge.finish(), 0);
    EXPECT_NE(bridge.out.text().find(" 1 commands applied, 0 refused"), std::string::npos)
        << bridge.out.text();
    EXPECT_EQ(bridge.err.text(), "");
}

INSTANTIATE_TEST_SUITE_P(Models, BridgeOnEveryModel, ::testing::ValuesIn(everyModel()),
                         [](const ::testing::TestParamInfo<VELMORA>& row) {
                             return std::string(models::modelName(row.param));
                         });

}  // namespace
}  // namespace velmora::testing
