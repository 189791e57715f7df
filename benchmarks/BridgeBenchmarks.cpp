// The ROS 2 bridge on the wire: how long a joint state takes from the hand's reply to a DDS
// subscriber in another DDS implementation (Fast DDS, over UDP on loopback), how old its stamp
// is when it arrives, how many joint states per second a bridge sustains against the hand's
// pacing floor, and whether a stream of commands costs it its publishing rate or its stop.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "BridgeTesting.h"
#include "FastDdsPeer.h"
#include "velmora/sim/SimulatedHand.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using velmora::testing::FastDdsPeer;
using velmora::testing::Inbox;
using velmora::testing::RosJointState;

/// The simulated hand's side of the bus, noting when it sent its last reply of one code.
class TimedBus : public velmora::communication::ICanBus {
  public:
    TimedBus(std::unique_ptr<velmora::communication::ICanBus> inner, std::uint8_t code)
        : inner_(std::move(inner)), code_(code) {}
    void send(const std::vector<std::uint8_t>& data, std::uint32_t id, bool flag) override {
        inner_->send(data, id, flag);
        if (!data.empty() && data[0] == code_)
            lastSent_ = Clock::now().time_since_epoch().count();
    }
    velmora::communication::CanMessage recv(const std::uint32_t& id) override {
        return inner_->recv(id);
    }
    Clock::time_point lastSent() const { return Clock::time_point(Clock::duration(lastSent_)); }

  private:
    std::unique_ptr<velmora::communication::ICanBus> inner_;
    std::uint8_t code_;
    std::atomic<Clock::rep> lastSent_{0};
};

/// Joint states as the subscriber takes them, with the age of the hand's reply they carry.
class LatencyInbox : public Inbox<RosJointState> {
  public:
    explicit LatencyInbox(const TimedBus* bus) : bus_(bus) {}
    void on_data_available(velmora::testing::fdds::DataReader* reader) override {
        RosJointState message;
        velmora::testing::fdds::SampleInfo info;
        while (reader->take_next_sample(&message, &info) == ReturnCode_t::RETCODE_OK) {
            if (!info.valid_data)
                continue;
            const auto age = Clock::now() - bus_->lastSent();
            std::lock_guard<std::mutex> lock(mutex_);
            latencies_.push_back(std::chrono::duration<double, std::micro>(age).count());
        }
    }
    std::vector<double> latencies() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return latencies_;
    }

  private:
    const TimedBus* bus_;
    mutable std::mutex mutex_;
    std::vector<double> latencies_;
};

double percentile(std::vector<double> values, double p) {
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[static_cast<std::size_t>(p * double(values.size() - 1))];
}

/// Joint states as the subscriber takes them, with how old their header stamps are then.
class StampInbox : public Inbox<RosJointState> {
  public:
    void on_data_available(velmora::testing::fdds::DataReader* reader) override {
        RosJointState message;
        velmora::testing::fdds::SampleInfo info;
        while (reader->take_next_sample(&message, &info) == ReturnCode_t::RETCODE_OK) {
            if (!info.valid_data)
                continue;
            const auto stamp = std::chrono::seconds(message.header().stamp().sec()) +
                               std::chrono::nanoseconds(message.header().stamp().nanosec());
            const auto age = std::chrono::system_clock::now().time_since_epoch() - stamp;
            std::lock_guard<std::mutex> lock(mutex_);
            ages_.push_back(std::chrono::duration<double, std::micro>(age).count());
        }
    }
    std::vector<double> ages() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return ages_;
    }

  private:
    mutable std::mutex mutex_;
    std::vector<double> ages_;
};

template <class Condition>
bool waitFor(Condition condition, Clock::duration deadline) {
    const auto end = Clock::now() + deadline;
    while (!condition()) {
        if (Clock::now() > end)
            return false;
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

// 10-joint hand, joint states at 100 Hz: the reply that completes a state read (code 0x04,
// positions 6-9) to the Fast DDS subscriber's listener.
void JointStateLatency(benchmark::State& state) {
    velmora::testing::useLoopbackOnly();
    const std::string bus = "virtual:can-bench-latency";
    auto timed = std::make_unique<TimedBus>(velmora::sim::openSimChannel(bus), 0x04);
    const TimedBus* clock = timed.get();
    velmora::sim::SimConfig config;
    config.model = TOVIN;
    velmora::sim::SimulatedHand hand(std::move(timed), config);
    FastDdsPeer peer(141);
    LatencyInbox inbox(clock);
    peer.subscribeJointStates("rt/bench/joint_states", inbox);

    velmora::bridge::BridgeOptions options;
    options.model = TOVIN;
    options.channel = bus;
    options.ns = "bench";
    options.rate = 100;
    options.network.domain = 141;
    velmora::testing::RunningBridge bridge(options);
    if (!waitFor([&] { return inbox.latencies().size() >= 10; }, 10s)) {
        state.SkipWithError("no joint states reached the subscriber");
        return;
    }
    const std::size_t first = inbox.latencies().size();
    for (auto _ : state) {
        waitFor([&] { return inbox.latencies().size() >= first + 500; }, 30s);
    }
    std::vector<double> latencies = inbox.latencies();
    latencies.erase(latencies.begin(), latencies.begin() + static_cast<long>(first));
    state.counters["samples"] = double(latencies.size());
    state.counters["median_us"] = percentile(latencies, 0.5);
    state.counters["p99_us"] = percentile(latencies, 0.99);
    state.counters["max_us"] = percentile(latencies, 1.0);
}
BENCHMARK(JointStateLatency)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// Per model, joint states at 50 Hz (the default): the age of the header stamp (the arrival of
// the newest positions reply) when the Fast DDS subscriber takes the message, and the rate that
// arrives.
void StampToReceipt(benchmark::State& state) {
    velmora::testing::useLoopbackOnly();
    const auto model = static_cast<VELMORA>(state.range(0));
    const std::string bus = "virtual:can-bench-stamp-" + std::to_string(state.range(0));
    velmora::sim::SimConfig config;
    config.model = model;
    velmora::sim::SimulatedHand hand(velmora::sim::openSimChannel(bus), config);
    const auto domain = static_cast<std::uint32_t>(170 + state.range(0));
    FastDdsPeer peer(domain);
    StampInbox inbox;
    peer.subscribeJointStates("rt/bench/joint_states", inbox);

    velmora::bridge::BridgeOptions options;
    options.model = model;
    options.channel = bus;
    options.ns = "bench";
    options.network.domain = domain;
    velmora::testing::RunningBridge bridge(options);
    if (!waitFor([&] { return inbox.ages().size() >= 10; }, 10s)) {
        state.SkipWithError("no joint states reached the subscriber");
        return;
    }
    const std::size_t first = inbox.ages().size();
    const auto start = Clock::now();
    for (auto _ : state)
        waitFor([&] { return inbox.ages().size() >= first + 150; }, 30s);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    std::vector<double> ages = inbox.ages();
    ages.erase(ages.begin(), ages.begin() + static_cast<long>(first));
    state.counters["samples"] = double(ages.size());
    state.counters["received_hz"] = double(ages.size()) / seconds;
    state.counters["median_us"] = percentile(ages, 0.5);
    state.counters["p99_us"] = percentile(ages, 0.99);
    state.counters["max_us"] = percentile(ages, 1.0);
}
BENCHMARK(StampToReceipt)
    ->Arg(MARLO)
    ->Arg(TOVIN)
    ->Arg(RAVEL)
    ->Arg(SABRE)
    ->Arg(ZENIT)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// The 10-joint hand at 50 Hz while a Fast DDS node sends full joint commands at the given rate
// (0: none): the joint-state rate that arrives (within 10 % of 50 Hz is the aim), and how long
// a stop (Ctrl-C) takes with the stream still running.
void RateUnderCommands(benchmark::State& state) {
    velmora::testing::useLoopbackOnly();
    const auto commandHz = state.range(0);
    const std::string bus = "virtual:can-bench-commands-" + std::to_string(commandHz);
    velmora::sim::SimConfig config;
    config.model = TOVIN;
    velmora::sim::SimulatedHand hand(velmora::sim::openSimChannel(bus), config);
    const auto domain = static_cast<std::uint32_t>(180 + commandHz % 17);
    FastDdsPeer peer(domain);
    auto& inbox = peer.subscribeJointStates("rt/bench/joint_states");
    auto* writer = peer.commandWriter<RosJointState>("rt/bench/joint_commands");

    velmora::bridge::BridgeOptions options;
    options.model = TOVIN;
    options.channel = bus;
    options.ns = "bench";
    options.network.domain = domain;
    auto bridge = std::make_unique<velmora::testing::RunningBridge>(options);
    if (!waitFor([&] { return inbox.size() >= 10; }, 10s)) {
        state.SkipWithError("no joint states reached the subscriber");
        return;
    }
    std::atomic<bool> streaming{commandHz > 0};
    std::atomic<std::uint64_t> sent{0};
    std::thread stream([&] {
        const auto period = std::chrono::nanoseconds(1000000000LL / std::max<long>(commandHz, 1));
        auto next = Clock::now();
        for (std::uint64_t i = 0; streaming; ++i) {
            RosJointState message;
            message.position(std::vector<double>(10, i % 2 ? 0.2 : 0.4));
            writer->write(&message);
            ++sent;
            next += period;
            std::this_thread::sleep_until(next);
        }
    });
    std::this_thread::sleep_for(500ms);
    const std::size_t received0 = inbox.size();
    const std::uint64_t sent0 = sent;
    const auto start = Clock::now();
    for (auto _ : state)
        std::this_thread::sleep_for(4s);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    state.counters["received_hz"] = double(inbox.size() - received0) / seconds;
    state.counters["rate_of_asked"] = state.counters["received_hz"] / options.rate;
    state.counters["commands_hz"] = double(sent - sent0) / seconds;
    const auto stopping = Clock::now();
    bridge->finish();
    state.counters["stop_ms"] =
        std::chrono::duration<double, std::milli>(Clock::now() - stopping).count();
    streaming = false;
    stream.join();
    bridge.reset();
}
BENCHMARK(RateUnderCommands)
    ->Arg(0)
    ->Arg(200)
    ->Arg(1000)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// Asks for 1000 joint states per second and counts what arrives: one hand's ceiling. The
// pacing floor is the channel's 3 ms between frames times the frames each state costs the
// hand (counted, diagnostics included).
void SustainedRate(benchmark::State& state) {
    velmora::testing::useLoopbackOnly();
    const auto model = static_cast<VELMORA>(state.range(0));
    const std::string bus = "virtual:can-bench-rate-" + std::to_string(state.range(0));
    velmora::sim::SimConfig config;
    config.model = model;
    velmora::sim::SimulatedHand hand(velmora::sim::openSimChannel(bus), config);
    const auto domain = static_cast<std::uint32_t>(150 + state.range(0));
    FastDdsPeer peer(domain);
    auto& inbox = peer.subscribeJointStates("rt/bench/joint_states");

    velmora::bridge::BridgeOptions options;
    options.model = model;
    options.channel = bus;
    options.ns = "bench";
    options.rate = 1000;
    options.network.domain = domain;
    velmora::testing::RunningBridge bridge(options);
    if (!waitFor([&] { return inbox.size() >= 10; }, 10s)) {
        state.SkipWithError("no joint states reached the subscriber");
        return;
    }
    const std::size_t received0 = inbox.size();
    const std::uint64_t frames0 = hand.framesReceived();
    const auto start = Clock::now();
    for (auto _ : state)
        std::this_thread::sleep_for(3s);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    const double states = double(inbox.size() - received0);
    const double framesPerState = double(hand.framesReceived() - frames0) / std::max(states, 1.0);
    state.counters["received_hz"] = states / seconds;
    state.counters["hand_frames_per_state"] = framesPerState;
    state.counters["pacing_floor_hz"] = 1000.0 / (3.0 * framesPerState);
}
BENCHMARK(SustainedRate)
    ->Arg(MARLO)
    ->Arg(TOVIN)
    ->Arg(RAVEL)
    ->Arg(ZENIT)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace
