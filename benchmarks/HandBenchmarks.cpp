// What a hand object costs an application beyond the bus's own pacing: a fresh read against
// its pacing floor, how soon a reply is visible, how long destruction takes, and each paced
// call against the time its frames must take.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "velmora/Models.h"
#include "velmora/sim/SimulatedHand.h"
#include "velmora/velmora.h"

using namespace std::chrono_literals;
using velmora::ByteVector;
using velmora::communication::VirtualCanBus;
using Clock = std::chrono::steady_clock;

namespace {

std::size_t slots(VELMORA model) {
    return velmora::models::info(model).slots;
}

// Library messages ("opened successfully") would garble the benchmark's table.
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

void reportPercentiles(benchmark::State& state, std::vector<double> microseconds) {
    if (microseconds.empty())
        return;
    std::sort(microseconds.begin(), microseconds.end());
    const auto at = [&](double q) {
        return microseconds[std::min(microseconds.size() - 1,
                                     static_cast<std::size_t>(q * microseconds.size()))];
    };
    state.counters["p50_us"] = at(0.50);
    state.counters["p99_us"] = at(0.99);
}

}  // namespace

// A fresh read of the 10-joint hand's positions: two paced requests (3 ms each) and the
// replies of a simulated hand. The floor is what the pacing alone costs.
static void ReadStateRoundTrip(benchmark::State& state) {
    QuietLibrary quiet;
    auto hand = simulate(TOVIN, "can-bench-read");
    VelmoraApi api(TOVIN, RIGHT, "virtual:can-bench-read");
    while (api.getVersion().empty())
        std::this_thread::sleep_for(1ms);
    for (auto _ : state) {
        benchmark::DoNotOptimize(api.readState(1000ms));
    }
    state.counters["floor_ms"] = 6.0;
    state.counters["ratio"] =
        benchmark::Counter(static_cast<double>(state.iterations()) * 6e-3,
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(ReadStateRoundTrip)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(1.0);

// From a reply leaving a peer to replyAge showing it. Arg 1: a second application thread sits
// in paced getters meanwhile (the 6-actuator hand's getters once held the cache lock through
// their pacing, which held the replies back).
static void ReplyVisible(benchmark::State& state) {
    QuietLibrary quiet;
    const bool busyGetters = state.range(0) != 0;
    velmora::hand::KestaHand hand(RIGHT, "virtual:can-bench-visible", 1000000);
    VirtualCanBus peer("can-bench-visible");
    std::atomic<bool> stop{false};
    std::thread getters([&] {
        while (busyGetters && !stop)
            hand.getTemperature();
    });
    std::vector<double> samples;
    std::uint8_t value = 0;
    for (auto _ : state) {
        const auto sent = Clock::now();
        ++value;
        peer.send({0x02, value, value, value, value, value, value}, RIGHT, false);
        while (true) {
            const auto age = hand.replyAge(0x02);
            const auto since = Clock::now() - sent;
            if (age && *age <= since)
                break;
        }
        const auto visible = Clock::now() - sent;
        state.SetIterationTime(std::chrono::duration<double>(visible).count());
        samples.push_back(std::chrono::duration<double, std::micro>(visible).count());
    }
    stop = true;
    getters.join();
    reportPercentiles(state, std::move(samples));
}
BENCHMARK(ReplyVisible)->Arg(0)->Arg(1)->UseManualTime()->Unit(benchmark::kMicrosecond);

// Destroying a hand object: its receive thread must stop at once, not at its receive time-out.
static void Destruction(benchmark::State& state) {
    QuietLibrary quiet;
    const auto model = static_cast<VELMORA>(state.range(0));
    std::vector<double> samples;
    for (auto _ : state) {
        auto api = std::make_unique<VelmoraApi>(model, RIGHT, "virtual:can-bench-destroy");
        const auto start = Clock::now();
        api.reset();
        const auto took = Clock::now() - start;
        state.SetIterationTime(std::chrono::duration<double>(took).count());
        samples.push_back(std::chrono::duration<double, std::micro>(took).count());
    }
    state.SetLabel(velmora::models::modelName(model));
    reportPercentiles(state, std::move(samples));
}
BENCHMARK(Destruction)
    ->DenseRange(KESTA, ZENIT)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond)
    ->Iterations(30);

// Paced calls against their floor: frames x 3 ms plus each code's extra pause.
static void PacedCall(benchmark::State& state) {
    QuietLibrary quiet;
    struct Call {
        VELMORA model;
        const char* operation;
        double floorMs;
        std::function<void(VelmoraApi&)> run;
    };
    static const std::vector<Call> calls = {
        {TOVIN, "fingerMove", 6,
         [](VelmoraApi& a) { a.fingerMove(ByteVector(slots(TOVIN), 200)); }},
        {TOVIN, "getTemperature", 6, [](VelmoraApi& a) { a.getTemperature(); }},
        {MARLO, "fingerMove", 3,
         [](VelmoraApi& a) { a.fingerMove(ByteVector(slots(MARLO), 200)); }},
        {RAVEL, "getState", 12, [](VelmoraApi& a) { a.getState(); }},
        {KESTA, "getState", 3, [](VelmoraApi& a) { a.getState(); }},
        {ZENIT, "fingerMove", 25, [](VelmoraApi& a) { a.fingerMove(ByteVector(slots(ZENIT), 9)); }},
        {ZENIT, "getForce", 45, [](VelmoraApi& a) { a.getForce(); }},
    };
    const Call& call = calls[static_cast<std::size_t>(state.range(0))];
    VelmoraApi api(call.model, RIGHT, "virtual:can-bench-paced");
    for (auto _ : state) {
        call.run(api);
    }
    state.SetLabel(std::string(velmora::models::modelName(call.model)) + " " + call.operation);
    state.counters["floor_ms"] = call.floorMs;
    state.counters["ratio"] =
        benchmark::Counter(static_cast<double>(state.iterations()) * call.floorMs * 1e-3,
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(PacedCall)->DenseRange(0, 6)->UseRealTime()->Unit(benchmark::kMillisecond)->MinTime(0.5);
