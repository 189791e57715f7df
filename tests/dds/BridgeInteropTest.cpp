// The bridge (Cyclone DDS) against a ROS 2 node's side of the wire played by the other DDS
// implementation (Fast DDS), on loopback only, each test in a DDS domain of its own.

#include <dds/dds.h>
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <set>
#include <thread>

#include "BridgeTesting.h"
#include "FastDdsPeer.h"
#include "support/HandPeer.h"
#include "velmora/Models.h"
#include "velmora/RangeToArc.h"
#include "velmora/sim/SimulatedHand.h"

namespace velmora::testing {
namespace {

using bridge::BridgeOptions;

constexpr std::uint8_t kOk = 0, kWarn = 1, kStale = 3;

struct Limits {
    std::vector<double> min, max;
    std::vector<int> direction;
};

Limits limitsOf(int key, const std::string& side) {
    Limits l;
    initialize_params(key, side, l.min, l.max, l.direction);
    return l;
}

/// A 10-joint right hand simulated on a virtual bus, a bridge to it under namespace "hand",
/// and the Fast DDS peer, all in `domain`.
class BridgeInterop : public ::testing::Test {
  protected:
    void start(std::uint32_t domain, double rate = 100) {
        useLoopbackOnly();
        sim::SimConfig config;
        config.model = TOVIN;
        config.handId = RIGHT;
        simulated_ = std::make_unique<sim::SimulatedHand>(sim::openSimChannel(bus_), config);
        peer_ = std::make_unique<FastDdsPeer>(domain);
        states_ = &peer_->subscribeJointStates("rt/hand/joint_states");
        diagnostics_ = &peer_->subscribeDiagnostics();
        BridgeOptions options;
        options.model = TOVIN;
        options.side = RIGHT;
        options.channel = bus_;
        options.ns = "hand";
        options.rate = rate;
        options.network.domain = domain;
        bridge_ = std::make_unique<RunningBridge>(options);
    }

    void TearDown() override {
        bridge_.reset();
        peer_.reset();
        simulated_.reset();
    }

    /// Waits until the bridge's command reader and the peer's writer have matched.
    fdds::DataWriter* commandWriter() {
        fdds::DataWriter* writer = peer_->jointCommandWriter("rt/hand/joint_commands");
        // Both sides: the bridge drops what a writer it has not matched yet sends.
        EXPECT_TRUE(eventually([&] {
            fdds::PublicationMatchedStatus status;
            writer->get_publication_matched_status(status);
            return status.current_count > 0 &&
                   bridge_->out.text().find("1 joint command publisher\n") != std::string::npos;
        }));
        return writer;
    }

    static RosJointState command(std::vector<std::string> names, std::vector<double> positions) {
        RosJointState message;
        message.name(std::move(names));
        message.position(std::move(positions));
        return message;
    }

    ByteVector targets() { return simulated_->body().targets(0, 10); }

    // Published positions within one wire step of `angles`.
    bool reportsAngles(const std::vector<double>& angles) {
        const Limits l = limitsOf(10, "right");
        const auto messages = states_->messages();
        if (messages.empty() || messages.back().position().size() != angles.size())
            return false;
        const auto& read = messages.back().position();
        for (std::size_t j = 0; j < angles.size(); ++j) {
            if (std::abs(read[j] - angles[j]) > std::abs(l.max[j] - l.min[j]) / 255.0 + 1e-9)
                return false;
        }
        return true;
    }

    std::string bus_ = "virtual:can-" + uniqueBusName();
    std::unique_ptr<sim::SimulatedHand> simulated_;
    std::unique_ptr<FastDdsPeer> peer_;
    Inbox<RosJointState>* states_ = nullptr;
    Inbox<RosDiagnosticArray>* diagnostics_ = nullptr;
    std::unique_ptr<RunningBridge> bridge_;
};

TEST_F(BridgeInterop, AnnouncesRosTopicsTypesAndQosOnLoopbackOnly) {
    start(131);
    // Discovery brings the endpoints one by one: wait for every one the test looks at.
    ASSERT_TRUE(eventually([&] {
        const auto w = peer_->writers();
        const auto r = peer_->readers();
        return w.count("rt/hand/joint_states") && w.count("rt/diagnostics") &&
               w.count("ros_discovery_info") && r.count("rt/hand/joint_commands") &&
               r.count("rt/hand/velmora_bridge/commands") &&
               r.count("rt/hand/velmora_bridge/joint_trajectory");
    })) << bridge_->err.text();

    const auto writers = peer_->writers();
    const Endpoint& states = writers.at("rt/hand/joint_states");
    EXPECT_EQ(states.type, "sensor_msgs::msg::dds_::JointState_");
    EXPECT_TRUE(states.reliable);  // as rclcpp's QoS(10) asks
    EXPECT_FALSE(states.transientLocal);
    const Endpoint& diagnostics = writers.at("rt/diagnostics");
    EXPECT_EQ(diagnostics.type, "diagnostic_msgs::msg::dds_::DiagnosticArray_");
    EXPECT_TRUE(diagnostics.reliable);
    EXPECT_FALSE(diagnostics.transientLocal);
    // Best effort: a reader that takes reliable and best-effort publishers alike.
    const std::vector<std::pair<std::string, std::string>> readers = {
        {"rt/hand/joint_commands", "sensor_msgs::msg::dds_::JointState_"},
        {"rt/hand/velmora_bridge/commands", "std_msgs::msg::dds_::Float64MultiArray_"},
        {"rt/hand/velmora_bridge/joint_trajectory", "trajectory_msgs::msg::dds_::JointTrajectory_"},
    };
    for (const auto& [topic, type] : readers) {
        const Endpoint reader = peer_->readers().at(topic);
        EXPECT_EQ(reader.type, type);
        EXPECT_FALSE(reader.reliable) << topic;
        EXPECT_FALSE(reader.transientLocal) << topic;
    }
    EXPECT_EQ(writers.at("ros_discovery_info").type,
              "rmw_dds_common::msg::dds_::ParticipantEntitiesInfo_");
    EXPECT_TRUE(writers.at("ros_discovery_info").transientLocal);
    const auto userData = peer_->participantUserData();
    EXPECT_NE(std::find(userData.begin(), userData.end(), "enclave=/;"), userData.end());

    // Discovery went over loopback, and the bridge offers nothing but loopback addresses.
    const auto addresses = peer_->announcedAddresses();
    ASSERT_FALSE(addresses.empty());
    for (const std::string& address : addresses)
        EXPECT_EQ(address, "127.0.0.1");
}

TEST_F(BridgeInterop, JointStatesCarryTheHandsAnglesInRadians) {
    start(132);
    ASSERT_TRUE(eventually([&] { return states_->size() >= 3; })) << bridge_->err.text();

    const RosJointState state = states_->messages().back();
    std::vector<std::string> expectedNames;
    for (std::size_t j = 0; j < 10; ++j)
        expectedNames.push_back(models::jointName(TOVIN, j));
    EXPECT_EQ(state.name(), expectedNames);
    // The simulated hand starts open: every joint at 255.
    EXPECT_EQ(state.position(), range_to_arc(10, "right", ByteVector(10, 255)));
    EXPECT_TRUE(state.velocity().empty());
    EXPECT_TRUE(state.effort().empty());
    EXPECT_EQ(state.header().frame_id(), "tovin_right_hand");
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    const auto stamp = std::chrono::seconds(state.header().stamp().sec()) +
                       std::chrono::nanoseconds(state.header().stamp().nanosec());
    EXPECT_LT(std::chrono::abs(now - stamp), std::chrono::seconds(10));
    EXPECT_LE(stamp, now);  // when the hand's reply came, before it reached us
    EXPECT_LT(state.header().stamp().nanosec(), 1000000000u);
}

TEST_F(BridgeInterop, CommandsMoveTheHandInOrderAndByName) {
    start(133);
    fdds::DataWriter* writer = commandWriter();
    const Limits l = limitsOf(10, "right");
    std::vector<double> angles;
    for (std::size_t j = 0; j < 10; ++j)
        angles.push_back(l.min[j] + (l.max[j] - l.min[j]) * (0.2 + 0.06 * double(j)));

    RosJointState inOrder = command({}, angles);
    ASSERT_TRUE(writer->write(&inOrder));
    EXPECT_TRUE(eventually([&] { return targets() == arc_to_range(10, "right", angles); }))
        << bridge_->err.text();
    EXPECT_TRUE(eventually([&] { return reportsAngles(angles); }, 10000ms));

    // By name, two joints: the others keep their commanded angles.
    angles[3] = l.min[3];
    angles[7] = l.max[7];
    RosJointState byName = command({"joint_7", "middle_1"}, {angles[7], angles[3]});
    ASSERT_TRUE(writer->write(&byName));
    EXPECT_TRUE(eventually([&] { return targets() == arc_to_range(10, "right", angles); }))
        << bridge_->err.text();
    EXPECT_TRUE(eventually([&] { return reportsAngles(angles); }, 10000ms));
    EXPECT_EQ(bridge_->err.text(), "");
}

// As ros2_control's controllers send them: forward_command_controller's one value per joint,
// joint_trajectory_controller's trajectories, and joint states naming some joints, one of
// which the hand lacks; an angle beyond a joint's limit is clamped, and said.
TEST_F(BridgeInterop, ControllerCommandsMoveTheHand) {
    start(170);
    fdds::DataWriter* array =
        peer_->commandWriter<RosFloat64MultiArray>("rt/hand/velmora_bridge/commands");
    fdds::DataWriter* trajectory =
        peer_->commandWriter<RosJointTrajectory>("rt/hand/velmora_bridge/joint_trajectory");
    fdds::DataWriter* partial = peer_->commandWriter<RosJointState>("rt/hand/joint_commands",
                                                                    /*reliable=*/false);
    ASSERT_TRUE(eventually([&] {
        return bridge_->out.text().find("3 joint command publishers\n") != std::string::npos;
    })) << bridge_->out.text();
    const Limits l = limitsOf(10, "right");
    auto at = [&](std::size_t j, double part) { return l.min[j] + (l.max[j] - l.min[j]) * part; };
    auto reaches = [&](const std::vector<double>& angles) {
        return eventually([&] { return targets() == arc_to_range(10, "right", angles); });
    };

    std::vector<double> angles;
    for (std::size_t j = 0; j < 10; ++j)
        angles.push_back(at(j, 0.3));
    RosFloat64MultiArray values;
    values.data(angles);
    ASSERT_TRUE(array->write(&values));
    EXPECT_TRUE(reaches(angles)) << bridge_->err.text();

    angles[2] = at(2, 0.9);
    RosJointState some = command({"mimic_2", "index_1"}, {1.0, angles[2]});
    ASSERT_TRUE(partial->write(&some));
    EXPECT_TRUE(reaches(angles)) << bridge_->err.text();
    EXPECT_NE(bridge_->err.text().find("skipping joint 'mimic_2' on /hand/joint_commands"),
              std::string::npos)
        << bridge_->err.text();

    // Two points over a second: the hand is led through the steps between, to the last.
    RosJointTrajectory path;
    path.joint_names({"thumb_1", "joint_7"});
    trajectory_msgs::msg::dds_::JointTrajectoryPoint_ middle, last;
    middle.positions({at(1, 0.6), at(7, 0.6)});
    middle.time_from_start().sec(0);
    middle.time_from_start().nanosec(500000000);
    last.positions({at(1, 0.9), at(7, 0.1)});
    last.time_from_start().sec(1);
    path.points({middle, last});
    std::set<std::uint8_t> thumbTargets;
    ASSERT_TRUE(trajectory->write(&path));
    angles[1] = at(1, 0.9);
    angles[7] = at(7, 0.1);
    EXPECT_TRUE(eventually([&] {
        thumbTargets.insert(targets()[1]);
        return targets() == arc_to_range(10, "right", angles);
    })) << bridge_->err.text();
    EXPECT_GT(thumbTargets.size(), 2u);

    // Beyond the limit: the hand goes to the limit, and it is said once for the joint.
    angles[0] = std::max(l.min[0], l.max[0]) + 0.5;
    values.data(angles);
    ASSERT_TRUE(array->write(&values));
    angles[0] = std::max(l.min[0], l.max[0]);
    EXPECT_TRUE(reaches(angles));
    ASSERT_TRUE(array->write(&values));
    EXPECT_TRUE(eventually([&] {
        // A copy: the loop must not walk a temporary's insides.
        const auto messages = diagnostics_->messages();
        if (messages.empty() || messages.back().status().empty())
            return false;
        for (const auto& kv : messages.back().status()[0].values()) {
            if (kv.key() == "clamped joints")
                return kv.value() == "joint_0";
        }
        return false;
    }));
    EXPECT_EQ(countOf(bridge_->err.text(), "joint_0 commanded to"), 1u) << bridge_->err.text();
    EXPECT_EQ(countOf(bridge_->err.text(), "refused"), 0u) << bridge_->err.text();
}

/// Joint commands written on a thread of its own, `gap` apart (zero: as fast as the writer
/// takes them), each pose in turn, until the object goes.
class CommandStream {
  public:
    CommandStream(fdds::DataWriter* writer, std::vector<RosJointState> poses,
                  std::chrono::microseconds gap)
        : thread_([this, writer, poses = std::move(poses), gap] {
              auto next = std::chrono::steady_clock::now();
              for (std::size_t i = 0; streaming_; ++i) {
                  RosJointState message = poses[i % poses.size()];
                  writer->write(&message);
                  ++sent_;
                  if (gap.count() > 0) {
                      next += gap;
                      std::this_thread::sleep_until(next);
                  }
              }
          }) {}
    ~CommandStream() {
        streaming_ = false;
        thread_.join();
    }
    CommandStream(const CommandStream&) = delete;
    CommandStream& operator=(const CommandStream&) = delete;

    std::size_t sent() const { return sent_; }

  private:
    std::atomic<bool> streaming_{true};
    std::atomic<std::size_t> sent_{0};
    std::thread thread_;
};

// Commands faster than the hand takes them, at 200 Hz and as a flood: the newest wins, joint
// states keep coming, the hand ends at the last target, and a stop (Ctrl-C) in the middle of
// the stream ends the bridge at once. How fast exactly is the benchmark's to say.
TEST_F(BridgeInterop, ACommandStreamNeverHoldsUpPublishingOrStopping) {
    struct Row {
        const char* what;
        std::uint32_t domain;
        std::chrono::microseconds gap;
        std::size_t commands;
    };
    const std::vector<Row> rows = {
        {"200 Hz", 171, 5000us, 200},
        {"flood", 172, 0us, 1000},
    };
    const Limits l = limitsOf(10, "right");
    auto pose = [&](double part) {
        std::vector<double> angles;
        for (std::size_t j = 0; j < 10; ++j)
            angles.push_back(l.min[j] + (l.max[j] - l.min[j]) * part);
        return angles;
    };
    const std::vector<RosJointState> poses = {command({}, pose(0.3)), command({}, pose(0.7))};
    const std::vector<double> last = pose(0.5);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        TearDown();
        bus_ = "virtual:can-" + uniqueBusName();
        start(row.domain, 50);
        fdds::DataWriter* writer = commandWriter();
        const std::size_t before = states_->size();
        {
            CommandStream stream(writer, poses, row.gap);
            EXPECT_TRUE(eventually(
                [&] { return states_->size() >= before + 25 && stream.sent() >= row.commands; },
                20000ms))
                << bridge_->err.text();
            EXPECT_TRUE(eventually([&] {
                const auto all = diagnostics_->messages();
                if (all.empty())
                    return false;
                for (const auto& kv : all.back().status()[0].values()) {
                    if (kv.key() == "commands received")
                        return std::stoul(kv.value()) > 0;
                }
                return false;
            })) <<
                [&] {
                    std::string all;
                    for (const auto& d : diagnostics_->messages())
                        for (const auto& kv : d.status()[0].values())
                            all += kv.key() + "=" + kv.value() + "; ";
                    return all + bridge_->out.text() + bridge_->err.text();
                }();
        }

        // Commands are taken best effort: one lost behind the stream is sent again, and the
        // same target stays the newest.
        RosJointState newest = command({}, last);
        ASSERT_TRUE(writer->write(&newest));
        std::size_t looks = 0;
        EXPECT_TRUE(eventually(
            [&] {
                if (++looks % 500 == 0)
                    writer->write(&newest);
                return targets() == arc_to_range(10, "right", last);
            },
            10000ms))
            << bridge_->err.text();

        CommandStream again(writer, poses, row.gap);
        ASSERT_TRUE(eventually([&] { return again.sent() >= 10; }));
        const auto stopping = std::chrono::steady_clock::now();
        EXPECT_EQ(bridge_->finish(), 0);
        EXPECT_LT(std::chrono::steady_clock::now() - stopping, 5s);
        EXPECT_EQ(bridge_->err.text(), "");
    }
}

TEST_F(BridgeInterop, MalformedCommandsAreRefusedAndNothingReachesTheHand) {
    start(134);
    fdds::DataWriter* writer = commandWriter();
    struct Case {
        const char* what;
        RosJointState message;
        const char* reason;
    };
    const std::vector<Case> cases = {
        {"too few positions", command({}, {0.1, 0.2, 0.3}), "3 positions without names"},
        {"too many positions", command({}, std::vector<double>(11, 0.1)),
         "11 positions without names"},
        {"names and positions differ", command({"joint_0", "thumb_1"}, {0.1}),
         "2 names but 1 position"},
        {"no known name", command({"thumb"}, {0.1}), "names none of this hand's joints"},
        {"name twice", command({"thumb_1", "thumb_1"}, {0.1, 0.2}), "named twice"},
        {"not a number", command({}, std::vector<double>(10, std::nan(""))), "not a finite"},
        {"infinite", command({"index_1"}, {INFINITY}), "not a finite"},
    };
    const ByteVector before = targets();
    for (std::size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(cases[i].what);
        RosJointState message = cases[i].message;
        ASSERT_TRUE(writer->write(&message));
        ASSERT_TRUE(eventually([&] {
            return countOf(bridge_->err.text(), "refused a command") == i + 1;
        })) << bridge_->err.text();
        EXPECT_NE(bridge_->err.text().find(cases[i].reason), std::string::npos)
            << bridge_->err.text();
    }
    EXPECT_EQ(targets(), before);
    // One line each, and one for the name the hand lacks.
    EXPECT_EQ(countOf(bridge_->err.text(), "\n"), cases.size() + 1);
    EXPECT_EQ(countOf(bridge_->err.text(), "skipping joint 'thumb'"), 1u);
}

TEST_F(BridgeInterop, DiagnosticsDescribeTheHandOnceASecond) {
    start(135);
    ASSERT_TRUE(eventually([&] { return diagnostics_->size() >= 1; })) << bridge_->err.text();
    RosDiagnosticArray array = diagnostics_->messages().back();
    ASSERT_EQ(array.status().size(), 1u);
    const auto& status = array.status()[0];
    EXPECT_EQ(status.level(), kOk) << status.message();
    EXPECT_EQ(status.name(), "velmora bridge: hand");
    EXPECT_EQ(status.hardware_id(), "tovin right hand 0x27 on " + bus_);
    std::map<std::string, std::string> values;
    for (const auto& kv : status.values())
        values[kv.key()] = kv.value();
    EXPECT_TRUE(values.count("temperature 0")) << "no temperatures";
    EXPECT_EQ(values["fault 0"], "0x00");

    simulated_->injectFault(0x04);
    EXPECT_TRUE(eventually([&] {
        const auto all = diagnostics_->messages();
        const auto& last = all.back().status()[0];
        for (const auto& kv : last.values()) {
            if (kv.key() == "fault 0" && kv.value() == "0x04")
                return last.level() == kWarn;
        }
        return false;
    }));
}

TEST_F(BridgeInterop, DiagnosticsTurnStaleWhenTheHandFallsSilent) {
    start(139);
    ASSERT_TRUE(eventually([&] {
        const auto all = diagnostics_->messages();
        return !all.empty() && all.back().status()[0].level() == kOk;
    })) << bridge_->err.text();
    simulated_->setSilent(true);
    ASSERT_TRUE(
        eventually([&] { return diagnostics_->messages().back().status()[0].level() == kStale; }));
    EXPECT_EQ(diagnostics_->messages().back().status()[0].message(), "the hand is not answering");
    const std::size_t during = states_->size();

    simulated_->setSilent(false);
    EXPECT_TRUE(eventually([&] {
        return diagnostics_->messages().back().status()[0].level() == kOk &&
               states_->size() > during + 2;
    }));
}

TEST_F(BridgeInterop, StoppingDeletesTheParticipant) {
    start(136);
    ASSERT_TRUE(eventually([&] { return states_->size() >= 1; })) << bridge_->err.text();
    dds_entity_t participants[4];
    ASSERT_EQ(dds_lookup_participant(136, participants, 4), 1);

    EXPECT_EQ(bridge_->finish(), 0);
    EXPECT_NE(bridge_->out.text().find("velmora bridge stopped:"), std::string::npos);
    EXPECT_EQ(dds_lookup_participant(136, participants, 4), 0);
    EXPECT_EQ(bridge_->err.text(), "");
}

TEST(BridgeOnTheNetwork, TwoHandsShareADomainUnderTheirNamespaces) {
    useLoopbackOnly();
    FastDdsPeer peer(137);
    auto& left = peer.subscribeJointStates("rt/lab/left/joint_states");
    auto& right = peer.subscribeJointStates("rt/lab/right/joint_states");
    BridgeOptions options;
    options.sim = true;  // each plays its own hand on its own virtual bus
    options.network.domain = 137;
    options.model = RAVEL;
    options.side = LEFT;
    options.ns = "/lab/left";
    RunningBridge leftBridge(options);
    options.model = MARLO;
    options.side = RIGHT;
    options.ns = "lab/right";
    const std::vector<std::string> names = {"thumb_rot", "thumb",  "index", "middle",
                                            "ring",      "little", "palm"};
    options.jointNamesFile = ::testing::TempDir() + "marlo_joint_names";
    {
        std::ofstream file(options.jointNamesFile);
        file << "# 7-joint hand\n";
        for (const std::string& name : names)
            file << name << "\n";
    }
    RunningBridge rightBridge(options);

    ASSERT_TRUE(eventually([&] { return left.size() >= 2 && right.size() >= 2; }))
        << leftBridge.err.text() << rightBridge.err.text();
    EXPECT_EQ(left.messages().back().position(), range_to_arc(20, "left", ByteVector(20, 255)));
    EXPECT_EQ(right.messages().back().position(), range_to_arc(7, "right", ByteVector(7, 255)));
    EXPECT_EQ(left.messages().back().name().size(), 20u);
    EXPECT_EQ(right.messages().back().name(), names);
}

}  // namespace
}  // namespace velmora::testing
