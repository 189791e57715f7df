// A HandStream against the blocking calls: what a control loop's calls cost its thread, how
// soon a command reaches the wire, how much of the pacing's reading rate a stream gets, and how
// old the newest positions are under a 100 Hz command loop.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "velmora/sim/SimulatedHand.h"
#include "velmora/velmora.h"

using namespace std::chrono_literals;
using velmora::ByteVector;
using velmora::HandStream;
using velmora::HandStreamOptions;
using velmora::hand::Reading;
using Clock = std::chrono::steady_clock;

namespace {

struct QuietLibrary {
    QuietLibrary() {
        velmora::setMessageSink([](velmora::MessageLevel, const std::string&) {});
    }
    ~QuietLibrary() { velmora::resetMessageSink(); }
};

std::unique_ptr<velmora::sim::SimulatedHand> simulate(VELMORA model, const std::string& bus) {
    velmora::sim::SimConfig config;
    config.model = model;
    return std::make_unique<velmora::sim::SimulatedHand>(
        velmora::sim::openSimChannel("virtual:" + bus), config);
}

double micros(Clock::duration d) {
    return std::chrono::duration<double, std::micro>(d).count();
}

void reportPercentiles(benchmark::State& state, std::vector<double> samples,
                       const char* unit = "us") {
    if (samples.empty())
        return;
    std::sort(samples.begin(), samples.end());
    const auto at = [&](double q) {
        return samples[std::min(samples.size() - 1, static_cast<std::size_t>(q * samples.size()))];
    };
    state.counters[std::string("p50_") + unit] = at(0.50);
    state.counters[std::string("p99_") + unit] = at(0.99);
}

HandStreamOptions positionsOnly() {
    HandStreamOptions options;
    options.rate(Reading::Temperatures, 0).rate(Reading::Faults, 0);
    return options;
}

const std::vector<VELMORA> kModels = {KESTA, MARLO, TOVIN, RAVEL, ZENIT};

VELMORA modelArg(const benchmark::State& state) {
    return kModels[static_cast<std::size_t>(state.range(0))];
}

std::size_t slotsOf(VELMORA model) {
    return velmora::models::info(model).slots;
}

// A stream on a simulated hand whose positions have started to come in.
struct Streaming {
    explicit Streaming(VELMORA model, const std::string& bus,
                       HandStreamOptions options = positionsOnly())
        : hand(simulate(model, bus)), api(model, RIGHT, "virtual:" + bus), stream(api, options) {
        stream.next(Reading::Positions, 0, 5000ms);
    }
    std::unique_ptr<velmora::sim::SimulatedHand> hand;
    VelmoraApi api;
    HandStream stream;
};

}  // namespace

// The caller's time in command(): a new target every call, while positions stream.
static void StreamCommandCall(benchmark::State& state) {
    QuietLibrary quiet;
    const VELMORA model = modelArg(state);
    Streaming s(model, "can-bench-stream-command");
    std::vector<double> samples;
    ByteVector targets(slotsOf(model), 0);
    for (auto _ : state) {
        ++targets[0];
        const auto start = Clock::now();
        s.stream.command(targets);
        samples.push_back(micros(Clock::now() - start));
    }
    state.SetLabel(velmora::models::modelName(model));
    reportPercentiles(state, std::move(samples));
}
BENCHMARK(StreamCommandCall)->DenseRange(0, 4)->Iterations(20000);

// The caller's time in latest().
static void StreamLatestCall(benchmark::State& state) {
    QuietLibrary quiet;
    const VELMORA model = modelArg(state);
    Streaming s(model, "can-bench-stream-latest");
    std::vector<double> samples;
    for (auto _ : state) {
        const auto start = Clock::now();
        benchmark::DoNotOptimize(s.stream.latest());
        samples.push_back(micros(Clock::now() - start));
    }
    state.SetLabel(velmora::models::modelName(model));
    reportPercentiles(state, std::move(samples));
}
BENCHMARK(StreamLatestCall)->DenseRange(0, 4)->Iterations(20000);

// The same loop's blocking calls: fingerMove and getState each wait out their frames' pacing.
static void BlockingCall(benchmark::State& state) {
    QuietLibrary quiet;
    const VELMORA model = modelArg(state);
    const bool command = state.range(1) == 0;
    auto hand = simulate(model, "can-bench-blocking");
    VelmoraApi api(model, RIGHT, "virtual:can-bench-blocking");
    std::vector<double> samples;
    ByteVector targets(slotsOf(model), 0);
    for (auto _ : state) {
        ++targets[0];
        const auto start = Clock::now();
        if (command)
            api.fingerMove(targets);
        else
            benchmark::DoNotOptimize(api.getState());
        samples.push_back(micros(Clock::now() - start));
    }
    state.SetLabel(std::string(velmora::models::modelName(model)) +
                   (command ? " fingerMove" : " getState"));
    reportPercentiles(state, std::move(samples));
}
BENCHMARK(BlockingCall)
    ->ArgsProduct({{0, 1, 2, 3, 4}, {0, 1}})
    ->Iterations(100)
    ->Unit(benchmark::kMillisecond);

// From command() to the first frame on the wire (the bus's send time) that carries its target,
// with positions asked for in every free slot. Byte 2 of every model's position frames is a
// joint. Arg 1 is the pattern of calls: 0, 1 to 10 ms after the last target reached the wire,
// so that calls land at random points of the stream, some of them while the last target's
// frames are still going out; 1, a 100 Hz control loop. No hand answers: only the library's frames
// are on the bus. The 10-joint hand is asked for positions only from firmware 1.5 on, and no hand
// is there to report one.
static void CommandToWire(benchmark::State& state) {
    QuietLibrary quiet;
    const VELMORA model = modelArg(state);
    const float firmware = velmora::Common::current_hand_version.exchange(1.5f);
    const std::string bus = "can-bench-to-wire";
    velmora::communication::VirtualCanBus wire(bus);
    wire.setReceiveTimeout(0, 20000);
    VelmoraApi api(model, RIGHT, "virtual:" + bus);
    HandStreamOptions options = positionsOnly();
    options.keepAlive = 0ms;
    HandStream stream(api, options);
    const bool loop = state.range(1) == 1;
    std::vector<double> samples;
    std::uint8_t value = 0;
    auto tick = Clock::now();
    for (auto _ : state) {
        value = static_cast<std::uint8_t>(value == 250 ? 1 : value + 1);
        ByteVector targets(slotsOf(model), value);
        const auto start = Clock::now();
        stream.command(targets);
        while (true) {
            Clock::time_point at;
            try {
                const auto m = wire.recvAny(at);
                if (m.len > 2 && m.data[2] == value) {
                    samples.push_back(micros(at - start));
                    break;
                }
            } catch (const std::runtime_error&) {
            }
        }
        if (loop) {
            std::this_thread::sleep_until(tick += 10ms);
        } else {
            std::this_thread::sleep_for(std::chrono::microseconds(1000 + value * 3737 % 9000));
        }
    }
    velmora::Common::current_hand_version = firmware;
    state.SetLabel(std::string(velmora::models::modelName(model)) +
                   (loop ? ", 100 Hz loop" : ", random gaps"));
    reportPercentiles(state, std::move(samples));
}
BENCHMARK(CommandToWire)
    ->ArgsProduct({{0, 1, 2, 3, 4}, {0, 1}})
    ->Iterations(300)
    ->Unit(benchmark::kMillisecond);

// Positions as the only reading: the rate a stream reaches against what the pacing of one
// request cycle allows.
static void PositionRate(benchmark::State& state) {
    QuietLibrary quiet;
    const VELMORA model = modelArg(state);
    Streaming s(model, "can-bench-rate");
    double achieved = 0;
    double allowed = 0;
    for (auto _ : state) {
        const std::uint64_t before = s.stream.latest(Reading::Positions).sequence;
        const auto start = Clock::now();
        std::this_thread::sleep_for(3s);
        const std::uint64_t after = s.stream.latest(Reading::Positions).sequence;
        achieved = static_cast<double>(after - before) /
                   std::chrono::duration<double>(Clock::now() - start).count();
        const auto cost = s.stream.health().readings[0].cycleCost;
        allowed = 1e6 / static_cast<double>(cost.count());
    }
    state.SetLabel(velmora::models::modelName(model));
    state.counters["achieved_hz"] = achieved;
    state.counters["allowed_hz"] = allowed;
    state.counters["ratio"] = achieved / allowed;
}
BENCHMARK(PositionRate)->DenseRange(0, 4)->Iterations(1)->Unit(benchmark::kSecond);

// The 25-joint hand under a 100 Hz command loop: how old the newest positions are when the loop
// looks, and how long one request cycle takes. Arg 0: temperatures and faults at 1 Hz as well
// (the defaults); 1: positions only.
static void Zenit100HzLoop(benchmark::State& state) {
    QuietLibrary quiet;
    Streaming s(ZENIT, "can-bench-zenit-loop",
                state.range(0) == 0 ? HandStreamOptions{} : positionsOnly());
    std::vector<double> ages;
    for (auto _ : state) {
        auto tick = Clock::now();
        std::uint8_t value = 0;
        for (int i = 0; i < 500; ++i) {
            ++value;
            s.stream.command(ByteVector(25, value));
            ages.push_back(
                std::chrono::duration<double, std::milli>(s.stream.latest(Reading::Positions).age)
                    .count());
            tick += 10ms;
            std::this_thread::sleep_until(tick);
        }
    }
    const velmora::HandStreamHealth health = s.stream.health();
    state.counters["positions_hz"] = health.readings[0].achievedRate;
    state.counters["cycle_ms"] = 1000.0 / health.readings[0].achievedRate;
    state.counters["superseded"] = static_cast<double>(health.commandsSuperseded);
    state.counters["budget_used"] = health.budgetUsed;
    reportPercentiles(state, std::move(ages), "ms");
}
BENCHMARK(Zenit100HzLoop)->Arg(0)->Arg(1)->Iterations(1)->Unit(benchmark::kSecond);

// Destroying a stream while it streams and takes commands.
static void StreamDestruction(benchmark::State& state) {
    QuietLibrary quiet;
    const VELMORA model = modelArg(state);
    auto hand = simulate(model, "can-bench-stream-destroy");
    VelmoraApi api(model, RIGHT, "virtual:can-bench-stream-destroy");
    std::vector<double> samples;
    std::uint8_t value = 0;
    for (auto _ : state) {
        auto stream = std::make_unique<HandStream>(api, HandStreamOptions{},
                                                   [](const velmora::StampedReading&) {});
        stream->command(ByteVector(slotsOf(model), ++value));
        stream->next(Reading::Positions, 0, 5000ms);
        const auto start = Clock::now();
        stream.reset();
        const auto took = Clock::now() - start;
        state.SetIterationTime(std::chrono::duration<double>(took).count());
        samples.push_back(micros(took));
    }
    state.SetLabel(velmora::models::modelName(model));
    reportPercentiles(state, std::move(samples));
}
BENCHMARK(StreamDestruction)
    ->DenseRange(0, 4)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond)
    ->Iterations(30);
