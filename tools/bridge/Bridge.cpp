#include "Bridge.h"

#include <dds/dds.h>
#include <net/if.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <fstream>
#include <iomanip>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <sstream>
#include <stdexcept>
#include <thread>
#include <utility>
#include <vector>

#include "Diagnosis.h"
#include "JointLayout.h"
#include "RosMessages.h"
#include "velmora/HandFactory.h"
#include "velmora/HandStream.h"
#include "velmora/Models.h"
#include "velmora/RangeToArc.h"
#include "velmora/sim/SimulatedHand.h"

namespace velmora {
namespace bridge {

namespace {

using Clock = std::chrono::steady_clock;
using WallClock = std::chrono::system_clock;
using namespace std::chrono_literals;

using JointState = sensor_msgs_msg_dds__JointState_;
using Float64MultiArray = std_msgs_msg_dds__Float64MultiArray_;
using JointTrajectory = trajectory_msgs_msg_dds__JointTrajectory_;
using DiagnosticArray = diagnostic_msgs_msg_dds__DiagnosticArray_;
using DiagnosticStatus = diagnostic_msgs_msg_dds__DiagnosticStatus_;
using KeyValue = diagnostic_msgs_msg_dds__KeyValue_;

constexpr int kBitRate = 1000000;
constexpr auto kDiagnosticsPeriod = 1s;
// Longest wait between two looks at the stop flag.
constexpr auto kStopPoll = 20ms;
constexpr std::uint32_t kCommandBatch = 16;
constexpr auto kGoodbyeLinger = 50ms;
constexpr std::chrono::milliseconds kShortestRead{100};
constexpr std::chrono::milliseconds kLongestRead{200};
constexpr std::chrono::milliseconds kShortestSilence{500};
// How often a trajectory being followed sends the hand its next position.
constexpr auto kTrajectoryStep = 20ms;
constexpr std::int32_t kDepth = 10;
constexpr std::int32_t kSensorDepth = 5;

using KeyValues = std::vector<std::pair<std::string, std::string>>;

dds_entity_t checked(dds_entity_t entity, const std::string& what) {
    if (entity < 0)
        throw std::runtime_error("cannot create the " + what + ": " + dds_strretcode(entity));
    return entity;
}

builtin_interfaces_msg_dds__Time_ rosTime(WallClock::time_point at) {
    const auto since = at.time_since_epoch();
    const auto sec = std::chrono::floor<std::chrono::seconds>(since);
    return {static_cast<std::int32_t>(sec.count()),
            static_cast<std::uint32_t>(
                std::chrono::duration_cast<std::chrono::nanoseconds>(since - sec).count())};
}

// Strings handed to the C structures, which only read them while a sample is written.
char* text(const std::string& s) {
    return const_cast<char*>(s.c_str());
}

std::string fixed(double value, int digits) {
    std::ostringstream text;
    text << std::fixed << std::setprecision(digits) << value;
    return text.str();
}

/// The ROS name of a topic under a namespace ("" is the root).
std::string rosName(const std::string& ns, const std::string& name) {
    return ns.empty() ? "/" + name : "/" + ns + "/" + name;
}

using Qos = std::unique_ptr<dds_qos_t, void (*)(dds_qos_t*)>;

/// A writer's or reader's QoS as rmw_cyclonedds sets it for a ROS 2 profile.
Qos rosQos(bool reliable, bool transientLocal, std::int32_t depth) {
    Qos q(dds_create_qos(), dds_delete_qos);
    dds_qset_history(q.get(), DDS_HISTORY_KEEP_LAST, depth);
    dds_qset_reliability(q.get(), reliable ? DDS_RELIABILITY_RELIABLE : DDS_RELIABILITY_BEST_EFFORT,
                         DDS_MSECS(100));
    if (transientLocal) {
        dds_qset_durability(q.get(), DDS_DURABILITY_TRANSIENT_LOCAL);
        dds_qset_durability_service(q.get(), 0, DDS_HISTORY_KEEP_LAST, depth, DDS_LENGTH_UNLIMITED,
                                    DDS_LENGTH_UNLIMITED, DDS_LENGTH_UNLIMITED);
    } else {
        dds_qset_durability(q.get(), DDS_DURABILITY_VOLATILE);
    }
    dds_qset_writer_data_lifecycle(q.get(), false);
    // Classic CDR, as ROS 2's middlewares put these messages on the wire.
    dds_data_representation_id_t xcdr1 = DDS_DATA_REPRESENTATION_XCDR1;
    dds_qset_data_representation(q.get(), 1, &xcdr1);
    return q;
}

std::string qosText(bool reliable, std::int32_t depth) {
    return std::string(reliable ? "reliable" : "best effort") + ", volatile, keep last " +
           std::to_string(depth);
}

/// Lines to standard output and error from several threads, whole.
class Lines {
  public:
    Lines(std::ostream& out, std::ostream& err) : out_(out), err_(err) {}
    void out(const std::string& line) {
        std::lock_guard<std::mutex> lock(mutex_);
        out_ << line << std::endl;
    }
    void err(const std::string& line) {
        std::lock_guard<std::mutex> lock(mutex_);
        err_ << "velmora bridge: " << line << std::endl;
    }

  private:
    std::mutex mutex_;
    std::ostream& out_;
    std::ostream& err_;
};

/// What a node tells the ROS graph: its name and the GIDs of its readers and writers.
struct NodeEntities {
    std::string ns;  ///< "/tovin_right", "/" at the root
    std::string name;
    std::vector<dds_entity_t> readers, writers;
};

/// The DDS participant every hand's node lives in, as rmw_cyclonedds makes one: a domain of its
/// own configured from the ROS environment, USER_DATA "enclave=/;", and the nodes published on
/// ros_discovery_info.
class Participant {
  public:
    Participant(const Network& network, Lines& lines) : network_(network), lines_(lines) {
        const std::string config =
            cycloneConfig(network, processEnvironment("CYCLONEDDS_URI").value_or(""));
        domain_ = dds_create_domain(network.domain, config.c_str());
        // Where the process already runs this domain (another bridge), that one serves.
        if (domain_ < 0 && domain_ != DDS_RETCODE_PRECONDITION_NOT_MET) {
            throw std::runtime_error("cannot configure DDS domain " +
                                     std::to_string(network.domain) + ": " +
                                     dds_strretcode(domain_));
        }
        Qos qos(dds_create_qos(), dds_delete_qos);
        const std::string userData = "enclave=/;";
        dds_qset_userdata(qos.get(), userData.data(), userData.size());
        participant_ = dds_create_participant(network.domain, qos.get(), nullptr);
        try {
            checked(participant_, "DDS participant in domain " + std::to_string(network.domain));
            createGraphWriter();
        } catch (...) {
            close();
            throw;
        }
    }
    ~Participant() { close(); }
    Participant(const Participant&) = delete;
    Participant& operator=(const Participant&) = delete;

    dds_entity_t handle() const { return participant_; }

    /// Tells the graph about `nodes`; late joiners get the latest from the writer's history.
    void publishGraph(const std::vector<NodeEntities>& nodes) {
        if (network_.gidSize() == 24)
            publish<humble_rmw_dds_common_msg_dds__ParticipantEntitiesInfo_,
                    humble_rmw_dds_common_msg_dds__NodeEntitiesInfo_,
                    humble_rmw_dds_common_msg_dds__Gid_>(nodes);
        else
            publish<rmw_dds_common_msg_dds__ParticipantEntitiesInfo_,
                    rmw_dds_common_msg_dds__NodeEntitiesInfo_, rmw_dds_common_msg_dds__Gid_>(nodes);
    }

  private:
    void createGraphWriter() {
        // Humble's messages carry the names ROS gives them, not the module that tells the two
        // layouts apart here; matched by name, as rmw_cyclonedds matches.
        const dds_topic_descriptor_t& humble =
            humble_rmw_dds_common_msg_dds__ParticipantEntitiesInfo__desc;
        humbleDescriptor_ = std::make_unique<dds_topic_descriptor_t>(
            dds_topic_descriptor_t{humble.m_size,
                                   humble.m_align,
                                   humble.m_flagset & ~DDS_TOPIC_XTYPES_METADATA,
                                   humble.m_nkeys,
                                   rmw_dds_common_msg_dds__ParticipantEntitiesInfo__desc.m_typename,
                                   humble.m_keys,
                                   humble.m_nops,
                                   humble.m_ops,
                                   humble.m_meta,
                                   {nullptr, 0},
                                   {nullptr, 0},
                                   humble.restrict_data_representation});
        const dds_topic_descriptor_t* descriptor =
            network_.gidSize() == 24 ? humbleDescriptor_.get()
                                     : &rmw_dds_common_msg_dds__ParticipantEntitiesInfo__desc;
        const dds_entity_t topic = checked(
            dds_create_topic(participant_, descriptor, "ros_discovery_info", nullptr, nullptr),
            "topic ros_discovery_info");
        graph_ =
            checked(dds_create_writer(participant_, topic, rosQos(true, true, 1).get(), nullptr),
                    "ros_discovery_info writer");
    }

    template <class Gid>
    Gid gidOf(dds_entity_t entity) {
        Gid gid{};
        dds_guid_t guid{};
        dds_get_guid(entity, &guid);
        static_assert(sizeof(gid.data) >= sizeof(guid.v), "a GID holds a DDS GUID");
        std::memcpy(gid.data, guid.v, sizeof(guid.v));
        return gid;
    }

    template <class Info, class NodeInfo, class Gid>
    void publish(const std::vector<NodeEntities>& nodes) {
        std::vector<NodeInfo> infos(nodes.size());
        std::vector<std::vector<Gid>> readers(nodes.size()), writers(nodes.size());
        for (std::size_t n = 0; n < nodes.size(); ++n) {
            NodeInfo& info = infos[n];
            std::snprintf(info.node_namespace, sizeof info.node_namespace, "%s",
                          nodes[n].ns.c_str());
            std::snprintf(info.node_name, sizeof info.node_name, "%s", nodes[n].name.c_str());
            for (dds_entity_t r : nodes[n].readers)
                readers[n].push_back(gidOf<Gid>(r));
            for (dds_entity_t w : nodes[n].writers)
                writers[n].push_back(gidOf<Gid>(w));
            info.reader_gid_seq = {static_cast<std::uint32_t>(readers[n].size()),
                                   static_cast<std::uint32_t>(readers[n].size()), readers[n].data(),
                                   false};
            info.writer_gid_seq = {static_cast<std::uint32_t>(writers[n].size()),
                                   static_cast<std::uint32_t>(writers[n].size()), writers[n].data(),
                                   false};
        }
        Info message{};
        message.gid = gidOf<Gid>(participant_);
        message.node_entities_info_seq = {static_cast<std::uint32_t>(infos.size()),
                                          static_cast<std::uint32_t>(infos.size()), infos.data(),
                                          false};
        if (const dds_return_t rc = dds_write(graph_, &message); rc < 0)
            lines_.err(std::string("cannot publish the node on ros_discovery_info: ") +
                       dds_strretcode(rc));
    }

    // Deleting the participant deletes everything it holds, waits for listeners still running
    // and tells the other participants it left; the message goes out from the domain's thread.
    void close() {
        if (participant_ > 0)
            dds_delete(participant_);
        if (domain_ > 0) {
            std::this_thread::sleep_for(kGoodbyeLinger);
            dds_delete(domain_);
        }
    }

    const Network network_;
    Lines& lines_;
    dds_entity_t domain_ = 0;
    dds_entity_t participant_ = 0;
    dds_entity_t graph_ = 0;
    std::unique_ptr<dds_topic_descriptor_t> humbleDescriptor_;
};

/// A command as it came off the network, copied out of its sample.
struct Incoming {
    enum class Kind { Joints, Array, Trajectory } kind = Kind::Joints;
    std::vector<std::string> names;
    std::vector<double> values;
    std::vector<std::vector<double>> points;
    std::vector<std::chrono::nanoseconds> times;
    /// A trajectory's header stamp, when it has one: when to start.
    std::optional<WallClock::time_point> stamp;
};

/// The newest command not yet applied: the DDS listener puts, one worker takes, and what the
/// worker had no time for is replaced (coalesced) rather than queued.
class Mailbox {
  public:
    void post(Incoming command) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            ++received_;
            if (latest_)
                ++coalesced_;
            latest_ = std::move(command);
        }
        wake_.notify_one();
    }
    /// The newest command, once one is there or `until` has come; empty then, or once closed.
    std::optional<Incoming> take(Clock::time_point until) {
        std::unique_lock<std::mutex> lock(mutex_);
        wake_.wait_until(lock, until, [this] { return latest_.has_value() || closed_; });
        std::optional<Incoming> command = std::move(latest_);
        latest_.reset();
        return command;
    }
    void close() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            closed_ = true;
        }
        wake_.notify_all();
    }
    bool closed() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return closed_;
    }
    std::uint64_t received() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return received_;
    }
    std::uint64_t coalesced() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return coalesced_;
    }

  private:
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::optional<Incoming> latest_;
    bool closed_ = false;
    std::uint64_t received_ = 0;
    std::uint64_t coalesced_ = 0;
};

std::vector<std::string> stringsOf(const dds_sequence_string& seq) {
    std::vector<std::string> out;
    for (std::uint32_t i = 0; i < seq._length; ++i)
        out.emplace_back(seq._buffer[i] ? seq._buffer[i] : "");
    return out;
}

std::vector<double> doublesOf(const dds_sequence_double& seq) {
    return std::vector<double>(seq._buffer, seq._buffer + seq._length);
}

Incoming incomingOf(const JointState& m) {
    Incoming c;
    c.kind = Incoming::Kind::Joints;
    c.names = stringsOf(m.name);
    c.values = doublesOf(m.position);
    return c;
}

Incoming incomingOf(const Float64MultiArray& m) {
    Incoming c;
    c.kind = Incoming::Kind::Array;
    c.values = doublesOf(m.data);
    return c;
}

Incoming incomingOf(const JointTrajectory& m) {
    Incoming c;
    c.kind = Incoming::Kind::Trajectory;
    c.names = stringsOf(m.joint_names);
    for (std::uint32_t i = 0; i < m.points._length; ++i) {
        const auto& p = m.points._buffer[i];
        c.points.push_back(doublesOf(p.positions));
        c.times.push_back(std::chrono::seconds(p.time_from_start.sec) +
                          std::chrono::nanoseconds(p.time_from_start.nanosec));
    }
    if (m.header.stamp.sec != 0 || m.header.stamp.nanosec != 0) {
        c.stamp = WallClock::time_point(std::chrono::duration_cast<WallClock::duration>(
            std::chrono::seconds(m.header.stamp.sec) +
            std::chrono::nanoseconds(m.header.stamp.nanosec)));
    }
    return c;
}

template <class Message>
void takeInto(dds_entity_t reader, void* mailbox) {
    while (true) {
        void* samples[kCommandBatch] = {};
        dds_sample_info_t infos[kCommandBatch];
        const dds_return_t n = dds_take(reader, samples, infos, kCommandBatch, kCommandBatch);
        if (n <= 0)
            return;
        for (dds_return_t i = 0; i < n; ++i) {
            if (infos[i].valid_data)
                static_cast<Mailbox*>(mailbox)->post(
                    incomingOf(*static_cast<const Message*>(samples[i])));
        }
        dds_return_loan(reader, samples, n);
    }
}

/// What the bridge asks of the hand, through a stream that never waits for the bus: its
/// positions as often as the channel's pacing allows (temperatures and faults once a second),
/// commands of which the newest wins, and how the hand is answering.
class HandLink {
  public:
    /// `readTimeout`: how long a joint state waits for a positions reading newer than the one
    /// before; `staleAfter`: silence after which the hand counts as no longer answering.
    HandLink(std::unique_ptr<hand::IHand> hand, const JointLayout& layout,
             std::chrono::milliseconds readTimeout, std::chrono::milliseconds staleAfter)
        : hand_(std::move(hand)),
          stream_(*hand_),
          tableKey_(models::info(layout.model).angleTableKey),
          side_(layout.side),
          readTimeout_(readTimeout),
          staleAfter_(staleAfter) {}

    /// Returns at once; the stream sends the newest target when the channel lets it.
    void command(const RadianVector& slotAngles) { stream_.commandArc(slotAngles); }

    /// Waits until a positions reading newer than the last one taken is there, or `until`.
    void awaitPositions(Clock::time_point until) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(until - Clock::now());
        stream_.next(hand::Reading::Positions, taken_,
                     std::max(left, std::chrono::milliseconds(0)));
    }

    /// The joint angles (full slot vector) of the newest positions reading not taken yet, and
    /// when its last reply came in; nothing when there is none. The angles are empty where the
    /// angle tables refuse the reading's length.
    std::optional<std::pair<RadianVector, WallClock::time_point>> takeAngles() {
        const StampedReading reading = stream_.latest(hand::Reading::Positions);
        if (reading.sequence <= taken_)
            return std::nullopt;
        taken_ = reading.sequence;
        RadianVector angles = range_to_arc(tableKey_, side_, reading.values);
        lastReadAnswered_ = !angles.empty();
        return std::make_pair(std::move(angles), reading.receivedSystem);
    }

    /// No reading came within `readTimeout()` of a joint state falling due.
    void missedReading() {
        ++readTimeouts_;
        lastReadAnswered_ = false;
    }

    /// The newest temperatures or faults; empty before the first, or where the model lacks them.
    ByteVector latest(hand::Reading what) const { return stream_.latest(what).values; }

    /// Counters of the link to the hand; `staleAfter()` of silence makes it stale.
    hand::HandHealth health() const { return hand_->health(); }
    HandStreamHealth streamHealth() const { return stream_.health(); }
    bool lastReadAnswered() const { return lastReadAnswered_; }
    /// Positions readings the hand has answered so far.
    std::uint64_t readsAnswered() const {
        return stream_.latest(hand::Reading::Positions).sequence;
    }
    std::chrono::milliseconds readTimeout() const { return readTimeout_; }
    std::chrono::milliseconds staleAfter() const { return staleAfter_; }

    KeyValues healthValues(const hand::HandHealth& health) const {
        KeyValues v;
        v.emplace_back("frames received", std::to_string(health.framesReceived));
        v.emplace_back("frames ignored", std::to_string(health.framesIgnored));
        v.emplace_back("frames dropped", std::to_string(health.framesDropped));
        v.emplace_back("send failures", std::to_string(health.sendFailures));
        v.emplace_back("receive errors", std::to_string(health.receiveErrors));
        v.emplace_back("reconnects", std::to_string(health.reconnects));
        v.emplace_back("state read time-outs", std::to_string(readTimeouts_));
        v.emplace_back("last frame age (ms)",
                       health.lastFrameAge
                           ? std::to_string(std::chrono::duration_cast<std::chrono::milliseconds>(
                                                *health.lastFrameAge)
                                                .count())
                           : "none");
        return v;
    }

  private:
    std::unique_ptr<hand::IHand> hand_;
    // After the hand object, so that it goes first.
    HandStream stream_;
    const int tableKey_;
    const std::string side_;
    const std::chrono::milliseconds readTimeout_;
    const std::chrono::milliseconds staleAfter_;
    std::uint64_t taken_ = 0;
    bool lastReadAnswered_ = false;
    std::uint64_t readTimeouts_ = 0;
};

/// One of the hand's per-motor readings as key/values; nothing when the model lacks it.
void addReading(KeyValues& values, const char* key, bool hex, const ByteVector& reading) {
    for (std::size_t i = 0; i < reading.size(); ++i) {
        std::ostringstream value;
        if (hex)
            value << "0x" << std::hex << std::setw(2) << std::setfill('0');
        value << int(reading[i]);
        values.emplace_back(std::string(key) + " " + std::to_string(i), value.str());
    }
}

bool anyFault(const KeyValues& values) {
    return std::any_of(values.begin(), values.end(), [](const auto& kv) {
        return kv.first.rfind("fault ", 0) == 0 && kv.second != "0x00";
    });
}

/// What went wrong opening a hand's channel, said with the channel's name.
std::string channelTrouble(const std::string& channel, const std::exception& e) {
    if (channel.rfind("virtual:", 0) != 0 && ::if_nametoindex(channel.c_str()) == 0)
        return channel + ": no such CAN interface";
    return channel + ": " + e.what();
}

struct Shared {
    double rate;
    StateQos stateQos;
    bool sim;
};

/// One hand as a ROS node: its joint states and diagnostics, and its commands.
class HandNode {
  public:
    HandNode(const HandOptions& options, const Shared& shared, JointLayout layout, Lines& lines)
        : options_(options), shared_(shared), layout_(std::move(layout)), lines_(lines) {}

    ~HandNode() { stopWorker(); }
    HandNode(const HandNode&) = delete;
    HandNode& operator=(const HandNode&) = delete;

    void openHand() {
        if (shared_.sim) {
            sim::SimConfig config;
            config.model = options_.model;
            config.handId = options_.side;
            try {
                simulated_ =
                    std::make_unique<sim::SimulatedHand>(sim::openSimChannel(channel()), config);
            } catch (const std::exception& e) {
                throw std::runtime_error(channelTrouble(channel(), e));
            }
        }
        std::unique_ptr<hand::IHand> created;
        try {
            created = factory::HandFactory::createHand(options_.model, options_.side, channel(),
                                                       kBitRate);
        } catch (const std::invalid_argument&) {
            throw;
        } catch (const std::exception& e) {
            throw std::runtime_error(channelTrouble(channel(), e));
        }
        if (!created) {
            throw std::invalid_argument("no hand can be reached on channel '" + channel() +
                                        "': give a CAN interface (can0, vcan0, ...) or "
                                        "virtual:can...");
        }
        // A joint state waits about one publishing period for a positions reading newer than
        // the one before: never less than the largest hand needs for one cycle of its paced
        // requests, so that a busy channel does not pass for a silent hand.
        const auto period = std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::duration<double>(1.0 / shared_.rate));
        const auto timeout = std::clamp(period, kShortestRead, kLongestRead);
        const auto staleAfter =
            std::max(kShortestSilence, std::min(period, std::chrono::milliseconds(1000)) * 3 / 2);
        hand_ = std::make_unique<HandLink>(std::move(created), layout_, timeout, staleAfter);
    }

    /// Its topics on `participant`.
    void createEndpoints(dds_entity_t participant) {
        const bool reliableStates = shared_.stateQos == StateQos::Reliable;
        const std::int32_t stateDepth = reliableStates ? kDepth : kSensorDepth;
        auto topic = [&](const dds_topic_descriptor_t& type, const std::string& ros) {
            const std::string dds = "rt" + ros;
            return checked(dds_create_topic(participant, &type, dds.c_str(), nullptr, nullptr),
                           "topic " + ros);
        };
        jointStates_ =
            checked(dds_create_writer(participant,
                                      topic(sensor_msgs_msg_dds__JointState__desc, stateTopic()),
                                      rosQos(reliableStates, false, stateDepth).get(), nullptr),
                    "joint state writer");
        diagnostics_ = checked(
            dds_create_writer(participant,
                              topic(diagnostic_msgs_msg_dds__DiagnosticArray__desc, "/diagnostics"),
                              rosQos(true, false, kDepth).get(), nullptr),
            "diagnostics writer");
        // Best effort takes reliable and best-effort publishers alike; a command that was
        // overtaken by a newer one is not worth resending.
        const Qos commandQos = rosQos(false, false, kDepth);
        auto reader = [&](const dds_topic_descriptor_t& type, const std::string& ros,
                          dds_on_data_available_fn take) {
            std::unique_ptr<dds_listener_t, void (*)(dds_listener_t*)> listener(
                dds_create_listener(&mailbox_), dds_delete_listener);
            dds_lset_data_available(listener.get(), take);
            return checked(
                dds_create_reader(participant, topic(type, ros), commandQos.get(), listener.get()),
                "reader of " + ros);
        };
        commandReaders_ = {
            reader(sensor_msgs_msg_dds__JointState__desc, commandTopic(),
                   [](dds_entity_t r, void* m) { takeInto<JointState>(r, m); }),
            reader(std_msgs_msg_dds__Float64MultiArray__desc, arrayTopic(),
                   [](dds_entity_t r, void* m) { takeInto<Float64MultiArray>(r, m); }),
            reader(trajectory_msgs_msg_dds__JointTrajectory__desc, trajectoryTopic(),
                   [](dds_entity_t r, void* m) { takeInto<JointTrajectory>(r, m); }),
        };
        worker_ = std::thread([this] { work(); });
    }

    NodeEntities entities() const {
        return {"/" + options_.ns, kNodeName, commandReaders_, {jointStates_, diagnostics_}};
    }

    std::string nodeName() const { return rosName(options_.ns, kNodeName); }

    void describe(const std::string& network) {
        const bool reliable = shared_.stateQos == StateQos::Reliable;
        lines_.out("velmora bridge: " + std::string(models::modelName(options_.model)) + " " +
                   layout_.side + " hand on " + channel() + (simulated_ ? " (simulated)" : "") +
                   ", " + network + "\n  node " + nodeName() + "\n  publishing " + stateTopic() +
                   " (sensor_msgs/msg/JointState, " + fixed(shared_.rate, 1) + " Hz; " +
                   qosText(reliable, reliable ? kDepth : kSensorDepth) +
                   ")\n  publishing /diagnostics (diagnostic_msgs/msg/DiagnosticArray, 1 Hz; " +
                   qosText(true, kDepth) + ")\n  subscribed to " + commandTopic() +
                   " (sensor_msgs/msg/JointState), " + arrayTopic() +
                   " (std_msgs/msg/Float64MultiArray), " + trajectoryTopic() +
                   " (trajectory_msgs/msg/JointTrajectory); " + qosText(false, kDepth) +
                   ", from reliable and best-effort publishers alike\n  Ctrl-C stops it");
    }

    /// Publishes until `stopping`; the command worker stops with it.
    void run(const std::atomic<bool>& stopping) {
        const auto period = std::chrono::duration_cast<Clock::duration>(
            std::chrono::duration<double>(1.0 / shared_.rate));
        const auto start = Clock::now();
        auto nextState = start;
        auto nextDiagnostics = start + kDiagnosticsPeriod;
        // While a joint state is due and waits for a positions reading it has not sent.
        bool awaiting = false;
        Clock::time_point readDeadline{};
        while (!stopping) {
            auto now = Clock::now();
            if (now >= nextState) {
                if (!awaiting) {
                    awaiting = true;
                    readDeadline = now + hand_->readTimeout();
                }
                const bool published = publishState();
                if (published || now >= readDeadline) {
                    if (!published)
                        hand_->missedReading();
                    awaiting = false;
                    nextState += period;
                    now = Clock::now();
                    if (nextState <= now) {
                        // The hand is slower than the rate: take the next reading as soon as
                        // it comes, and count it.
                        ++lateTicks_;
                        nextState = now;
                    }
                }
            }
            if (now >= nextDiagnostics) {
                publishDiagnostics(Clock::now() - start);
                nextDiagnostics += kDiagnosticsPeriod;
            }
            if (const std::uint32_t n = commandPublishers(); n != commandPublishers_) {
                commandPublishers_ = n;
                lines_.out("velmora bridge: " + nodeName() + ": " + std::to_string(n) +
                           " joint command publisher" + (n == 1 ? "" : "s"));
            }
            const auto wakeAt = std::min(
                {awaiting ? readDeadline : nextState, nextDiagnostics, Clock::now() + kStopPoll});
            if (awaiting)
                hand_->awaitPositions(wakeAt);
            else
                std::this_thread::sleep_until(wakeAt);
        }
        stopWorker();
        lines_.out("velmora bridge stopped: " + nodeName() + ": " +
                   std::to_string(statesPublished_) + " joint states, " +
                   std::to_string(diagnosticsPublished_) + " diagnostics, " +
                   std::to_string(mailbox_.received()) + " commands received, " +
                   std::to_string(mailbox_.coalesced()) + " coalesced, " +
                   std::to_string(commandsApplied_) + " commands applied, " +
                   std::to_string(commandsRefused_) + " refused, " +
                   std::to_string(commandsClamped_) + " clamped");
    }

  private:
    std::string channel() const {
        if (options_.channel.empty())
            return std::string("virtual:can-bridge-") + layout_.side;
        return options_.channel;
    }
    std::string stateTopic() const { return rosName(options_.ns, "joint_states"); }
    std::string commandTopic() const { return rosName(options_.ns, "joint_commands"); }
    std::string arrayTopic() const { return nodeName() + "/commands"; }
    std::string trajectoryTopic() const { return nodeName() + "/joint_trajectory"; }

    std::uint32_t commandPublishers() const {
        std::uint32_t n = 0;
        for (dds_entity_t reader : commandReaders_) {
            dds_subscription_matched_status_t status{};
            dds_get_subscription_matched_status(reader, &status);
            n += status.current_count;
        }
        return n;
    }

    // Publishes the newest positions reading not taken yet; false when there is none.
    bool publishState() {
        const auto read = hand_->takeAngles();
        if (!read)
            return false;
        const auto& [angles, recorded] = *read;
        if (angles.empty())
            return true;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            lastState_ = angles;
        }
        const std::vector<double> positions = publishedAngles(layout_, angles);
        if (positions.empty()) {
            const std::string trouble = "the hand's state has " + std::to_string(angles.size()) +
                                        " angles, not the " + std::to_string(layout_.slotCount) +
                                        " of its joint layout";
            if (trouble != stateTrouble_)
                lines_.err("cannot publish the joint state: " + trouble);
            stateTrouble_ = trouble;
            return true;
        }
        stateTrouble_.clear();
        names_.clear();
        for (const std::string& name : layout_.names)
            names_.push_back(text(name));
        JointState message{};
        message.header.stamp = rosTime(recorded);
        message.header.frame_id = text(layout_.frameId);
        message.name = {static_cast<std::uint32_t>(names_.size()),
                        static_cast<std::uint32_t>(names_.size()), names_.data(), false};
        message.position = {static_cast<std::uint32_t>(positions.size()),
                            static_cast<std::uint32_t>(positions.size()),
                            const_cast<double*>(positions.data()), false};
        write(jointStates_, &message, "joint state");
        ++statesPublished_;
        return true;
    }

    void publishDiagnostics(Clock::duration running) {
        const hand::HandHealth health = hand_->health();
        KeyValues values = hand_->healthValues(health);
        addReading(values, "temperature", false, hand_->latest(hand::Reading::Temperatures));
        addReading(values, "fault", true, hand_->latest(hand::Reading::Faults));
        std::string commandTrouble, clampedJoints;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            commandTrouble = commandTrouble_;
            clampedJoints = clampedJoints_;
        }
        const std::string trouble = !stateTrouble_.empty() ? "no joint states: " + stateTrouble_
                                    : !commandTrouble.empty()
                                        ? "the latest command was refused: " + commandTrouble
                                        : "";
        const Diagnosis diagnosis = diagnose(health, hand_->lastReadAnswered(), anyFault(values),
                                             hand_->staleAfter(), trouble);
        const double seconds = std::chrono::duration<double>(running).count();
        const auto now = Clock::now();
        const double window = std::chrono::duration<double>(
                                  now - (lastDiagnostics_ ? *lastDiagnostics_ : now - running))
                                  .count();
        auto rate = [window](std::uint64_t n) { return fixed(window > 0 ? n / window : 0, 1); };
        values.emplace_back("joint states published", std::to_string(statesPublished_));
        values.emplace_back("joint state rate (Hz)",
                            fixed(seconds > 0 ? statesPublished_ / seconds : 0, 1));
        values.emplace_back("publishing rate (Hz)", rate(statesPublished_ - statesAtLast_));
        values.emplace_back("hand read rate (Hz)", rate(hand_->readsAnswered() - readsAtLast_));
        values.emplace_back("rate asked (Hz)", fixed(shared_.rate, 1));
        values.emplace_back("late ticks", std::to_string(lateTicks_));
        values.emplace_back("commands received", std::to_string(mailbox_.received()));
        values.emplace_back("commands coalesced", std::to_string(mailbox_.coalesced()));
        values.emplace_back("commands applied", std::to_string(commandsApplied_));
        values.emplace_back("commands refused", std::to_string(commandsRefused_));
        values.emplace_back("commands clamped", std::to_string(commandsClamped_));
        values.emplace_back("clamped joints", clampedJoints.empty() ? "none" : clampedJoints);
        const HandStreamHealth stream = hand_->streamHealth();
        values.emplace_back("command frames sent", std::to_string(stream.commandsSent));
        values.emplace_back("command frames superseded", std::to_string(stream.commandsSuperseded));
        values.emplace_back("channel budget used (%)", fixed(stream.budgetUsed * 100, 1));
        lastDiagnostics_ = now;
        statesAtLast_ = statesPublished_;
        readsAtLast_ = hand_->readsAnswered();

        std::vector<KeyValue> pairs;
        for (const auto& [key, value] : values)
            pairs.push_back({text(key), text(value)});
        const std::string name = "velmora bridge: " + (options_.ns.empty() ? "/" : options_.ns);
        std::ostringstream id;
        id << std::string(models::modelName(options_.model)) << " " << layout_.side << " hand 0x"
           << std::hex << options_.side << " on " << channel();
        const std::string hardwareId = id.str();
        DiagnosticStatus status{};
        status.level = diagnosis.level;
        status.name = text(name);
        status.message = text(diagnosis.message);
        status.hardware_id = text(hardwareId);
        status.values = {static_cast<std::uint32_t>(pairs.size()),
                         static_cast<std::uint32_t>(pairs.size()), pairs.data(), false};
        DiagnosticArray array{};
        array.header.stamp = rosTime(WallClock::now());
        array.header.frame_id = text(layout_.frameId);
        array.status = {1, 1, &status, false};
        write(diagnostics_, &array, "diagnostics");
        ++diagnosticsPublished_;
    }

    void write(dds_entity_t writer, const void* sample, const char* what) {
        if (const dds_return_t rc = dds_write(writer, sample); rc < 0 && !writeFailed_) {
            writeFailed_ = true;  // once: a failing writer would fill the log at the rate
            lines_.err(std::string("cannot publish ") + what + ": " + dds_strretcode(rc));
        }
    }

    // The command worker: applies the newest command, and follows a trajectory in steps,
    // until a newer command replaces it.
    struct Following {
        SlotTrajectory plan;
        RadianVector from;
        Clock::time_point start;
    };

    void work() {
        std::optional<Following> following;
        Clock::time_point nextStep = Clock::now();
        while (!mailbox_.closed()) {
            const auto until = following ? nextStep : Clock::now() + kStopPoll;
            if (std::optional<Incoming> command = mailbox_.take(until)) {
                following.reset();
                try {
                    following = handle(*command);
                } catch (const std::exception& e) {
                    refuse(topicOf(*command), e.what());
                }
                nextStep = Clock::now();
            }
            if (!following || Clock::now() < nextStep)
                continue;
            const auto elapsed = Clock::now() - following->start;
            send(sampleTrajectory(following->plan, following->from, elapsed), trajectoryTopic());
            if (elapsed >= following->plan.times.back())
                following.reset();
            nextStep = std::max(nextStep + kTrajectoryStep, Clock::now());
        }
    }

    void stopWorker() {
        mailbox_.close();
        if (worker_.joinable())
            worker_.join();
    }

    std::string topicOf(const Incoming& command) const {
        switch (command.kind) {
            case Incoming::Kind::Array:
                return arrayTopic();
            case Incoming::Kind::Trajectory:
                return trajectoryTopic();
            case Incoming::Kind::Joints:
                break;
        }
        return commandTopic();
    }

    RadianVector hold() {
        std::lock_guard<std::mutex> lock(mutex_);
        return lastCommand_.empty() ? lastState_ : lastCommand_;
    }

    // A trajectory to follow, or nothing once the command is sent (or refused).
    std::optional<Following> handle(const Incoming& command) {
        const std::string topic = topicOf(command);
        const RadianVector from = hold();
        if (command.kind == Incoming::Kind::Array) {
            if (command.values.size() != layout_.slots.size()) {
                refuse(topic, std::to_string(command.values.size()) +
                                  " values, but this hand has " +
                                  std::to_string(layout_.slots.size()) +
                                  " joints: one value per joint, in the order of " + stateTopic());
                return std::nullopt;
            }
            send(mapCommand(layout_, {}, command.values, from).slotAngles, topic);
            return std::nullopt;
        }
        if (command.kind == Incoming::Kind::Joints) {
            const JointCommand mapped = mapCommand(layout_, command.names, command.values, from);
            warnUnknown(mapped.unknown, topic);
            if (mapped.slotAngles.empty())
                refuse(topic, mapped.error);
            else
                send(mapped.slotAngles, topic);
            return std::nullopt;
        }
        // An empty trajectory stops the one in progress where the hand is.
        if (command.points.empty())
            return std::nullopt;
        Following following;
        RadianVector previous = from;
        for (std::size_t i = 0; i < command.points.size(); ++i) {
            const JointCommand mapped =
                mapCommand(layout_, command.names, command.points[i], previous);
            if (i == 0)
                warnUnknown(mapped.unknown, topic);
            if (mapped.slotAngles.empty()) {
                refuse(topic, "point " + std::to_string(i) + ": " + mapped.error);
                return std::nullopt;
            }
            if (i > 0 && command.times[i] < command.times[i - 1]) {
                refuse(topic, "point " + std::to_string(i) + " comes before point " +
                                  std::to_string(i - 1));
                return std::nullopt;
            }
            following.plan.points.push_back(mapped.slotAngles);
            following.plan.times.push_back(command.times[i]);
            previous = mapped.slotAngles;
        }
        following.from = from.empty() ? following.plan.points.front() : from;
        following.start = Clock::now();
        if (command.stamp)
            following.start +=
                std::chrono::duration_cast<Clock::duration>(*command.stamp - WallClock::now());
        return following;
    }

    void warnUnknown(const std::vector<std::string>& unknown, const std::string& topic) {
        for (const std::string& name : unknown) {
            if (warnedUnknown_.insert(name).second)
                lines_.err(nodeName() + ": skipping joint '" + name + "' on " + topic +
                           ": this hand has no joint of that name (said once)");
        }
    }

    // Sends full slot angles to the hand, held within the joints' limits.
    void send(const RadianVector& slotAngles, const std::string& topic) {
        std::vector<std::size_t> clamped;
        const RadianVector held = clampToLimits(layout_, slotAngles, clamped);
        // The hand object only prints what it refuses: what it would refuse never goes to it.
        if (const std::string why = handRefusal(layout_, held); !why.empty()) {
            refuse(topic, why);
            return;
        }
        if (!clamped.empty())
            reportClamps(slotAngles, clamped);
        try {
            hand_->command(held);
        } catch (const std::exception& e) {
            refuse(topic, e.what());
            return;
        }
        std::lock_guard<std::mutex> lock(mutex_);
        commandTrouble_.clear();
        lastCommand_ = held;
        ++commandsApplied_;
    }

    void reportClamps(const RadianVector& asked, const std::vector<std::size_t>& slots) {
        ++commandsClamped_;
        for (std::size_t slot : slots) {
            if (!clampedSlots_.insert(slot).second)
                continue;
            const std::size_t joint = static_cast<std::size_t>(
                std::find(layout_.slots.begin(), layout_.slots.end(), slot) -
                layout_.slots.begin());
            const std::string& name = layout_.names[joint];
            lines_.err(nodeName() + ": " + name + " commanded to " + fixed(asked[slot], 3) +
                       " rad, beyond its limits " + fixed(layout_.lower[slot], 3) + " to " +
                       fixed(layout_.upper[slot], 3) + ": clamped (said once per joint)");
            std::lock_guard<std::mutex> lock(mutex_);
            clampedJoints_ += (clampedJoints_.empty() ? "" : ", ") + name;
        }
    }

    void refuse(const std::string& topic, const std::string& why) {
        ++commandsRefused_;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            commandTrouble_ = why;
        }
        lines_.err("refused a command on " + topic + ": " + why);
    }

    const HandOptions options_;
    const Shared shared_;
    const JointLayout layout_;
    Lines& lines_;
    // Declared first, so that the hand object goes before the hand it talks to.
    std::unique_ptr<sim::SimulatedHand> simulated_;
    std::unique_ptr<HandLink> hand_;
    dds_entity_t jointStates_ = 0;
    dds_entity_t diagnostics_ = 0;
    std::vector<dds_entity_t> commandReaders_;
    std::vector<char*> names_;
    Mailbox mailbox_;
    std::thread worker_;

    // Shared between the publishing loop and the command worker.
    std::mutex mutex_;
    RadianVector lastState_;
    RadianVector lastCommand_;
    std::string commandTrouble_;
    std::string clampedJoints_;
    std::atomic<std::uint64_t> commandsApplied_{0};
    std::atomic<std::uint64_t> commandsRefused_{0};
    std::atomic<std::uint64_t> commandsClamped_{0};

    // The command worker's own.
    std::set<std::string> warnedUnknown_;
    std::set<std::size_t> clampedSlots_;

    // The publishing loop's own.
    std::string stateTrouble_;
    std::uint64_t statesPublished_ = 0;
    std::uint64_t diagnosticsPublished_ = 0;
    std::uint64_t lateTicks_ = 0;
    std::uint64_t statesAtLast_ = 0;
    std::uint64_t readsAtLast_ = 0;
    std::optional<Clock::time_point> lastDiagnostics_;
    std::uint32_t commandPublishers_ = 0;
    bool writeFailed_ = false;
};

std::vector<std::string> namesFromFile(const std::string& path) {
    if (path.empty())
        return {};
    std::ifstream in(path);
    if (!in)
        throw std::invalid_argument("cannot read joint names from " + path);
    return readJointNames(in);
}

/// Every hand's options checked, with its layout; two hands never share a namespace, a
/// channel or a joint name.
std::vector<std::pair<HandOptions, JointLayout>> checkedHands(const BridgeOptions& options) {
    std::vector<HandOptions> hands = {options};
    hands.insert(hands.end(), options.otherHands.begin(), options.otherHands.end());
    std::vector<std::pair<HandOptions, JointLayout>> out;
    std::set<std::string> namespaces, channels;
    std::map<std::string, std::string> jointOwner;
    for (HandOptions hand : hands) {
        hand.ns = normalizeNamespace(hand.ns);
        const std::string who = std::string(models::modelName(hand.model)) + " " +
                                models::sideName(hand.side) + " hand";
        if (!namespaces.insert(hand.ns).second)
            throw std::invalid_argument("two hands in namespace '/" + hand.ns +
                                        "': give each its own");
        if (!hand.channel.empty() && !channels.insert(hand.channel).second)
            throw std::invalid_argument("two hands on channel " + hand.channel +
                                        ": give each its own");
        JointLayout layout =
            makeLayout(hand.model, hand.side, namesFromFile(hand.jointNamesFile), hand.prefix);
        for (const std::string& name : layout.names) {
            const auto [at, fresh] = jointOwner.emplace(name, who);
            if (!fresh)
                throw std::invalid_argument("the " + at->second + " and the " + who +
                                            " both have a joint '" + name +
                                            "': give them different prefixes");
        }
        out.emplace_back(std::move(hand), std::move(layout));
    }
    return out;
}

}  // namespace

int runBridge(const BridgeOptions& options, std::ostream& out, std::ostream& err,
              const std::atomic<bool>& stop) {
    Lines lines(out, err);
    // Declared before the participant, so that it goes first: its listeners post to the nodes.
    std::vector<std::unique_ptr<HandNode>> nodes;
    std::unique_ptr<Participant> participant;
    std::string network;
    try {
        if (!(options.rate > 0 && options.rate <= 1000))
            throw std::invalid_argument("the rate must be above 0 and at most 1000 Hz");
        const Network settled = resolveNetwork(options.network, processEnvironment);
        for (const std::string& warning : settled.warnings)
            lines.err(warning);
        network = describe(settled);
        const Shared shared{options.rate, options.stateQos, options.sim};
        for (auto& [hand, layout] : checkedHands(options)) {
            nodes.push_back(std::make_unique<HandNode>(hand, shared, std::move(layout), lines));
            nodes.back()->openHand();
        }
        participant = std::make_unique<Participant>(settled, lines);
        std::vector<NodeEntities> graph;
        for (auto& node : nodes) {
            node->createEndpoints(participant->handle());
            graph.push_back(node->entities());
        }
        participant->publishGraph(graph);
    } catch (const std::exception& e) {
        lines.err(e.what());
        return 1;
    }
    for (auto& node : nodes)
        node->describe(network);

    std::atomic<bool> stopping{false};
    std::atomic<int> status{0};
    std::vector<std::thread> loops;
    for (auto& node : nodes) {
        loops.emplace_back([&, hand = node.get()] {
            try {
                hand->run(stopping);
            } catch (const std::exception& e) {
                lines.err(std::string("stopped by an error: ") + e.what());
                status = 1;
                stopping = true;
            }
        });
    }
    const Clock::time_point end =
        options.seconds > 0 ? Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                                 std::chrono::duration<double>(options.seconds))
                            : Clock::time_point::max();
    while (!stop && !stopping && Clock::now() < end)
        std::this_thread::sleep_for(std::min<Clock::duration>(kStopPoll, end - Clock::now()));
    stopping = true;
    for (std::thread& loop : loops)
        loop.join();
    participant.reset();
    nodes.clear();
    return status;
}

}  // namespace bridge
}  // namespace velmora
