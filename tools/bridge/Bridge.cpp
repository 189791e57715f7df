#include "Bridge.h"

#include <dds/dds.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iomanip>
#include <iostream>
#include <memory>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <thread>
#include <utility>
#include <vector>

#include "Diagnosis.h"
#include "JointLayout.h"
#include "RosMessages.h"
#include "velmora/HandException.h"
#include "velmora/HandFactory.h"
#include "velmora/Models.h"
#include "velmora/sim/SimulatedHand.h"

namespace velmora {
namespace bridge {

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

using JointState = sensor_msgs_msg_dds__JointState_;
using DiagnosticArray = diagnostic_msgs_msg_dds__DiagnosticArray_;
using DiagnosticStatus = diagnostic_msgs_msg_dds__DiagnosticStatus_;
using KeyValue = diagnostic_msgs_msg_dds__KeyValue_;

constexpr int kBitRate = 1000000;
constexpr auto kDiagnosticsPeriod = 1s;
// Longest wait between two looks at the stop flag.
constexpr auto kStopPoll = 50ms;
constexpr std::uint32_t kCommandBatch = 16;
constexpr auto kGoodbyeLinger = 50ms;
constexpr std::chrono::milliseconds kShortestRead{100};
constexpr std::chrono::milliseconds kLongestRead{200};
constexpr std::chrono::milliseconds kShortestSilence{500};

using KeyValues = std::vector<std::pair<std::string, std::string>>;

dds_entity_t checked(dds_entity_t entity, const std::string& what) {
    if (entity < 0)
        throw std::runtime_error("cannot create the " + what + ": " + dds_strretcode(entity));
    return entity;
}

builtin_interfaces_msg_dds__Time_ wallClockNow() {
    const auto since = std::chrono::system_clock::now().time_since_epoch();
    const auto sec = std::chrono::duration_cast<std::chrono::seconds>(since);
    return {static_cast<std::int32_t>(sec.count()),
            static_cast<std::uint32_t>(
                std::chrono::duration_cast<std::chrono::nanoseconds>(since - sec).count())};
}

// Strings handed to the C structures, which only read them while a sample is written.
char* text(const std::string& s) {
    return const_cast<char*>(s.c_str());
}

/// The participant of one hand and its topics, with ROS 2's QoS: joint states as sensor data
/// (best effort, keep last 5), diagnostics and commands reliable, keep last 10; all volatile.
class DdsLink {
  public:
    DdsLink(std::uint32_t domain, const std::string& ns, std::ostream& err) : err_(err) {
        // A domain of our own outlives the participant long enough for its goodbye to leave;
        // where the process already runs this domain, that one does.
        const char* config = std::getenv("CYCLONEDDS_URI");
        domain_ = dds_create_domain(domain, config ? config : "");
        participant_ = dds_create_participant(domain, nullptr, nullptr);
        try {
            checked(participant_, "DDS participant in domain " + std::to_string(domain));
            create(ns);
        } catch (...) {
            close();
            throw;
        }
    }
    ~DdsLink() { close(); }
    DdsLink(const DdsLink&) = delete;
    DdsLink& operator=(const DdsLink&) = delete;

    void publishJointState(const std::vector<std::string>& names,
                           const std::vector<double>& positions) {
        names_.clear();
        for (const std::string& name : names)
            names_.push_back(text(name));
        JointState message{};
        message.header.stamp = wallClockNow();
        message.header.frame_id = text(empty_);
        message.name = {static_cast<std::uint32_t>(names_.size()),
                        static_cast<std::uint32_t>(names_.size()), names_.data(), false};
        message.position = {static_cast<std::uint32_t>(positions.size()),
                            static_cast<std::uint32_t>(positions.size()),
                            const_cast<double*>(positions.data()), false};
        write(jointStates_, &message, "joint state");
    }

    void publishDiagnostics(Level level, const std::string& name, const std::string& message,
                            const std::string& hardwareId, const KeyValues& values) {
        std::vector<KeyValue> pairs;
        for (const auto& [key, value] : values)
            pairs.push_back({text(key), text(value)});
        DiagnosticStatus status{};
        status.level = level;
        status.name = text(name);
        status.message = text(message);
        status.hardware_id = text(hardwareId);
        status.values = {static_cast<std::uint32_t>(pairs.size()),
                         static_cast<std::uint32_t>(pairs.size()), pairs.data(), false};
        DiagnosticArray array{};
        array.header.stamp = wallClockNow();
        array.header.frame_id = text(empty_);
        array.status = {1, 1, &status, false};
        write(diagnostics_, &array, "diagnostics");
    }

    /// Waits until a command arrives or `timeout` passes; true when one is waiting.
    bool waitForCommand(Clock::duration timeout) {
        const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(timeout).count();
        return dds_waitset_wait(waitset_, nullptr, 0, std::max<std::int64_t>(ns, 0)) > 0;
    }

    /// Takes every waiting command; `handle` sees each valid sample.
    template <class Handle>
    void takeCommands(Handle handle) {
        while (true) {
            void* samples[kCommandBatch] = {};
            dds_sample_info_t infos[kCommandBatch];
            const dds_return_t n =
                dds_take(commands_, samples, infos, kCommandBatch, kCommandBatch);
            if (n <= 0)
                return;
            for (dds_return_t i = 0; i < n; ++i) {
                if (infos[i].valid_data)
                    handle(*static_cast<const JointState*>(samples[i]));
            }
            dds_return_loan(commands_, samples, n);
        }
    }

    /// Writers of joint commands this participant has matched.
    std::uint32_t commandPublishers() const {
        dds_subscription_matched_status_t status{};
        dds_get_subscription_matched_status(commands_, &status);
        return status.current_count;
    }

  private:
    void create(const std::string& ns) {
        const dds_entity_t jointStateTopic =
            checked(dds_create_topic(participant_, &sensor_msgs_msg_dds__JointState__desc,
                                     rosTopic(ns, "joint_states").c_str(), nullptr, nullptr),
                    "topic " + rosTopic(ns, "joint_states"));
        const dds_entity_t commandTopic =
            checked(dds_create_topic(participant_, &sensor_msgs_msg_dds__JointState__desc,
                                     rosTopic(ns, "joint_commands").c_str(), nullptr, nullptr),
                    "topic " + rosTopic(ns, "joint_commands"));
        const dds_entity_t diagnosticsTopic =
            checked(dds_create_topic(participant_, &diagnostic_msgs_msg_dds__DiagnosticArray__desc,
                                     rosTopic("", "diagnostics").c_str(), nullptr, nullptr),
                    "topic rt/diagnostics");

        std::unique_ptr<dds_qos_t, void (*)(dds_qos_t*)> sensorData(qos(false, 5), dds_delete_qos);
        std::unique_ptr<dds_qos_t, void (*)(dds_qos_t*)> reliable(qos(true, 10), dds_delete_qos);
        jointStates_ =
            checked(dds_create_writer(participant_, jointStateTopic, sensorData.get(), nullptr),
                    "joint state writer");
        diagnostics_ =
            checked(dds_create_writer(participant_, diagnosticsTopic, reliable.get(), nullptr),
                    "diagnostics writer");
        commands_ = checked(dds_create_reader(participant_, commandTopic, reliable.get(), nullptr),
                            "joint command reader");
        waitset_ = checked(dds_create_waitset(participant_), "wait set");
        const dds_entity_t readable = checked(dds_create_readcondition(commands_, DDS_ANY_STATE),
                                              "joint command read condition");
        if (const dds_return_t rc = dds_waitset_attach(waitset_, readable, readable); rc < 0)
            throw std::runtime_error(std::string("cannot wait for commands: ") +
                                     dds_strretcode(rc));
    }

    // Deleting the participant deletes everything it holds and tells the other participants
    // it left; the message goes out from the domain's own thread.
    void close() {
        if (participant_ > 0)
            dds_delete(participant_);
        if (domain_ > 0) {
            std::this_thread::sleep_for(kGoodbyeLinger);
            dds_delete(domain_);
        }
    }

    static dds_qos_t* qos(bool reliable, std::int32_t depth) {
        dds_qos_t* q = dds_create_qos();
        dds_qset_reliability(q, reliable ? DDS_RELIABILITY_RELIABLE : DDS_RELIABILITY_BEST_EFFORT,
                             DDS_MSECS(100));
        dds_qset_durability(q, DDS_DURABILITY_VOLATILE);
        dds_qset_history(q, DDS_HISTORY_KEEP_LAST, depth);
        // Classic CDR, as ROS 2's middlewares put these messages on the wire.
        dds_data_representation_id_t xcdr1 = DDS_DATA_REPRESENTATION_XCDR1;
        dds_qset_data_representation(q, 1, &xcdr1);
        return q;
    }

    void write(dds_entity_t writer, const void* sample, const char* what) {
        if (const dds_return_t rc = dds_write(writer, sample); rc < 0 && !writeFailed_) {
            writeFailed_ = true;  // once: a failing writer would fill the log at the rate
            err_ << "velmora bridge: cannot publish " << what << ": " << dds_strretcode(rc)
                 << std::endl;
        }
    }

    dds_entity_t domain_ = 0;
    dds_entity_t participant_ = 0;
    dds_entity_t jointStates_ = 0;
    dds_entity_t diagnostics_ = 0;
    dds_entity_t commands_ = 0;
    dds_entity_t waitset_ = 0;
    std::vector<char*> names_;
    const std::string empty_;
    std::ostream& err_;
    bool writeFailed_ = false;
};

/// What the bridge asks of the hand: its joint angles, and how it is answering.
class HandLink {
  public:
    /// `readTimeout`: how long a read waits for the hand's answers; `staleAfter`: silence
    /// after which the hand counts as no longer answering.
    HandLink(std::unique_ptr<hand::IHand> hand, std::chrono::milliseconds readTimeout,
             std::chrono::milliseconds staleAfter)
        : hand_(std::move(hand)), readTimeout_(readTimeout), staleAfter_(staleAfter) {}

    hand::IHand& hand() { return *hand_; }

    /// The joint angles (full slot vector) from the hand's answers to this read's own
    /// requests; nothing when they did not all come in time.
    std::optional<RadianVector> readAngles() {
        RadianVector angles;
        try {
            angles = hand_->readStateArc(readTimeout_);
        } catch (const HandTimeoutException&) {
            ++readTimeouts_;
        }
        // Empty also where the angle tables refuse the reply's length.
        lastReadAnswered_ = !angles.empty();
        if (!lastReadAnswered_)
            return std::nullopt;
        return angles;
    }

    /// Counters of the link to the hand; `staleAfter()` of silence makes it stale.
    hand::HandHealth health() const { return hand_->health(); }
    bool lastReadAnswered() const { return lastReadAnswered_; }
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
    const std::chrono::milliseconds readTimeout_;
    const std::chrono::milliseconds staleAfter_;
    bool lastReadAnswered_ = false;
    std::uint64_t readTimeouts_ = 0;
};

/// One of the hand's per-motor readings as key/values; nothing when the model lacks it.
void addReading(KeyValues& values, const char* key, bool hex,
                const std::function<ByteVector()>& read) {
    ByteVector reading;
    try {
        reading = read();
    } catch (const UnsupportedFeatureException&) {
        return;
    }
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

std::string formatRate(double hz) {
    std::ostringstream text;
    text << std::fixed << std::setprecision(1) << hz;
    return text.str();
}

class Bridge {
  public:
    Bridge(const BridgeOptions& options, JointLayout layout, std::ostream& out, std::ostream& err)
        : options_(options), layout_(std::move(layout)), out_(out), err_(err) {}

    void start() {
        if (options_.sim) {
            sim::SimConfig config;
            config.model = options_.model;
            config.handId = options_.side;
            simulated_ =
                std::make_unique<sim::SimulatedHand>(sim::openSimChannel(channel()), config);
        }
        auto created =
            factory::HandFactory::createHand(options_.model, options_.side, channel(), kBitRate);
        if (!created) {
            throw std::invalid_argument("no hand can be reached on channel '" + channel() +
                                        "': give a CAN interface (can0, vcan0, ...) or "
                                        "virtual:can...");
        }
        // A read waits about one publishing period: never less than the largest hand needs
        // for its paced requests, never so long that Ctrl-C waits. Between two reads (or two
        // diagnostics, which request temperatures and faults each second) the hand is silent
        // for at most one period.
        const auto period = std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::duration<double>(1.0 / options_.rate));
        const auto timeout = std::clamp(period, kShortestRead, kLongestRead);
        const auto staleAfter =
            std::max(kShortestSilence, std::min(period, std::chrono::milliseconds(1000)) * 3 / 2);
        hand_ = std::make_unique<HandLink>(std::move(created), timeout, staleAfter);
        // The first diagnostics then carry readings.
        primeReading([this] { return hand_->hand().getTemperature(); });
        primeReading([this] { return hand_->hand().getFaultCode(); });
        dds_ = std::make_unique<DdsLink>(options_.domain, options_.ns, err_);
    }

    void run(const std::atomic<bool>& stop) {
        out_ << "velmora bridge: " << models::modelName(options_.model) << " " << layout_.side
             << " hand on " << channel() << (simulated_ ? " (simulated)" : "") << ", DDS domain "
             << options_.domain << "\n  publishing " << rosTopic(options_.ns, "joint_states")
             << " (sensor_msgs/msg/JointState, " << options_.rate
             << " Hz) and rt/diagnostics (1 Hz)\n  subscribed to "
             << rosTopic(options_.ns, "joint_commands") << "; Ctrl-C stops it" << std::endl;

        const auto period = std::chrono::duration_cast<Clock::duration>(
            std::chrono::duration<double>(1.0 / options_.rate));
        const auto start = Clock::now();
        const Clock::time_point end =
            options_.seconds > 0 ? start + std::chrono::duration_cast<Clock::duration>(
                                               std::chrono::duration<double>(options_.seconds))
                                 : Clock::time_point::max();
        auto nextState = start;
        auto nextDiagnostics = start + kDiagnosticsPeriod;
        while (!stop) {
            auto now = Clock::now();
            if (now >= end)
                break;
            if (now >= nextState) {
                publishState();
                nextState += period;
                now = Clock::now();
                if (nextState <= now) {
                    // The hand is slower than the rate: read again at once, and count it.
                    ++lateTicks_;
                    nextState = now;
                }
            }
            if (now >= nextDiagnostics) {
                publishDiagnostics(Clock::now() - start);
                nextDiagnostics += kDiagnosticsPeriod;
            }
            if (const std::uint32_t n = dds_->commandPublishers(); n != commandPublishers_) {
                commandPublishers_ = n;
                out_ << "velmora bridge: " << n << " joint command publisher" << (n == 1 ? "" : "s")
                     << std::endl;
            }
            const auto wake = std::min({nextState, nextDiagnostics, now + kStopPoll});
            if (dds_->waitForCommand(wake - Clock::now()))
                dds_->takeCommands([this](const JointState& command) { apply(command); });
        }
        out_ << "velmora bridge stopped: " << statesPublished_ << " joint states, "
             << diagnosticsPublished_ << " diagnostics, " << commandsApplied_
             << " commands applied, " << commandsRefused_ << " refused" << std::endl;
    }

  private:
    static void primeReading(const std::function<ByteVector()>& request) {
        try {
            request();
        } catch (const UnsupportedFeatureException&) {
        }
    }

    std::string channel() const {
        if (options_.channel.empty())
            return std::string("virtual:can-bridge-") + layout_.side;
        return options_.channel;
    }

    void publishState() {
        const auto angles = hand_->readAngles();
        if (!angles)
            return;
        lastState_ = *angles;
        const std::vector<double> positions = publishedAngles(layout_, *angles);
        if (positions.empty())
            return;
        dds_->publishJointState(layout_.names, positions);
        ++statesPublished_;
    }

    void publishDiagnostics(Clock::duration running) {
        const hand::HandHealth health = hand_->health();
        KeyValues values = hand_->healthValues(health);
        addReading(values, "temperature", false, [this] { return hand_->hand().getTemperature(); });
        addReading(values, "fault", true, [this] { return hand_->hand().getFaultCode(); });
        const Diagnosis diagnosis =
            diagnose(health, hand_->lastReadAnswered(), anyFault(values), hand_->staleAfter());
        const double seconds = std::chrono::duration<double>(running).count();
        values.emplace_back("joint states published", std::to_string(statesPublished_));
        values.emplace_back("joint state rate (Hz)",
                            formatRate(seconds > 0 ? statesPublished_ / seconds : 0));
        values.emplace_back("late ticks", std::to_string(lateTicks_));
        values.emplace_back("commands applied", std::to_string(commandsApplied_));
        values.emplace_back("commands refused", std::to_string(commandsRefused_));
        const std::string hex = [this] {
            std::ostringstream id;
            id << "0x" << std::hex << options_.side;
            return id.str();
        }();
        dds_->publishDiagnostics(diagnosis.level,
                                 "velmora bridge: " + (options_.ns.empty() ? "/" : options_.ns),
                                 diagnosis.message,
                                 std::string(models::modelName(options_.model)) + " " +
                                     layout_.side + " hand " + hex + " on " + channel(),
                                 values);
        ++diagnosticsPublished_;
    }

    void apply(const JointState& command) {
        std::vector<std::string> names;
        for (std::uint32_t i = 0; i < command.name._length; ++i)
            names.emplace_back(command.name._buffer[i] ? command.name._buffer[i] : "");
        const std::vector<double> positions(command.position._buffer,
                                            command.position._buffer + command.position._length);
        const JointCommand mapped =
            mapCommand(layout_, names, positions, lastCommand_.empty() ? lastState_ : lastCommand_);
        if (mapped.slotAngles.empty()) {
            ++commandsRefused_;
            err_ << "velmora bridge: refused a command on "
                 << rosTopic(options_.ns, "joint_commands") << ": " << mapped.error << std::endl;
            return;
        }
        hand_->hand().setJointPositionArc(mapped.slotAngles);
        lastCommand_ = mapped.slotAngles;
        ++commandsApplied_;
    }

    const BridgeOptions options_;
    const JointLayout layout_;
    std::ostream& out_;
    std::ostream& err_;
    // Declared first, so that the hand object goes before the hand it talks to.
    std::unique_ptr<sim::SimulatedHand> simulated_;
    std::unique_ptr<HandLink> hand_;
    std::unique_ptr<DdsLink> dds_;
    RadianVector lastState_;
    RadianVector lastCommand_;
    std::uint64_t statesPublished_ = 0;
    std::uint64_t diagnosticsPublished_ = 0;
    std::uint64_t lateTicks_ = 0;
    std::uint64_t commandsApplied_ = 0;
    std::uint64_t commandsRefused_ = 0;
    std::uint32_t commandPublishers_ = 0;
};

std::vector<std::string> namesFromFile(const std::string& path) {
    if (path.empty())
        return {};
    std::ifstream in(path);
    if (!in)
        throw std::invalid_argument("cannot read joint names from " + path);
    return readJointNames(in);
}

}  // namespace

int runBridge(const BridgeOptions& given, std::ostream& out, std::ostream& err,
              const std::atomic<bool>& stop) {
    BridgeOptions options = given;
    std::unique_ptr<Bridge> bridge;
    try {
        if (!(options.rate > 0 && options.rate <= 1000))
            throw std::invalid_argument("the rate must be above 0 and at most 1000 Hz");
        options.ns = normalizeNamespace(options.ns);
        JointLayout layout =
            makeLayout(options.model, options.side, namesFromFile(options.jointNamesFile));
        bridge = std::make_unique<Bridge>(options, std::move(layout), out, err);
        bridge->start();
    } catch (const std::exception& e) {
        err << "velmora bridge: " << e.what() << std::endl;
        return 1;
    }
    try {
        bridge->run(stop);
    } catch (const std::exception& e) {
        err << "velmora bridge: stopped by an error: " << e.what() << std::endl;
        return 1;
    }
    return 0;
}

}  // namespace bridge
}  // namespace velmora
