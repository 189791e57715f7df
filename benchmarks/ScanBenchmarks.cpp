// How long finding the hands on a bus takes, against the time-out it is given: a quiet bus
// costs the whole time-out, a bus whose two identifiers both answer returns once they have.
#include <benchmark/benchmark.h>

#include <chrono>

#include "velmora/sim/SimulatedHand.h"
#include "velmora/velmora.h"

namespace {

struct Silence {
    Silence() {
        velmora::setMessageSink([](velmora::MessageLevel, const std::string&) {});
    }
    ~Silence() { velmora::resetMessageSink(); }
};

std::unique_ptr<velmora::sim::SimulatedHand> hand(VELMORA model, std::uint32_t side,
                                                  const std::string& channel) {
    velmora::sim::SimConfig config;
    config.model = model;
    config.handId = side;
    return std::make_unique<velmora::sim::SimulatedHand>(velmora::sim::openSimChannel(channel),
                                                         config);
}

void report(benchmark::State& state) {
    state.counters["timeout_ms"] = static_cast<double>(velmora::kScanTimeout.count());
}

}  // namespace

static void ScanQuietBus(benchmark::State& state) {
    Silence quiet;
    for (auto _ : state)
        benchmark::DoNotOptimize(velmora::scan("virtual:can-bench-scan-quiet"));
    report(state);
}
BENCHMARK(ScanQuietBus)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

static void ScanTwoHands(benchmark::State& state) {
    Silence quiet;
    const std::string channel = "virtual:can-bench-scan-two";
    const auto left = hand(RAVEL, LEFT, channel);
    const auto right = hand(TOVIN, RIGHT, channel);
    for (auto _ : state) {
        if (velmora::scan(channel).size() != 2)
            state.SkipWithError("a hand did not answer");
    }
    report(state);
}
BENCHMARK(ScanTwoHands)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(20);

// One identifier that answers: what the command line's check costs before each command.
static void IdentifyOneHand(benchmark::State& state) {
    Silence quiet;
    const std::string channel = "virtual:can-bench-identify";
    const auto right = hand(TOVIN, RIGHT, channel);
    for (auto _ : state)
        benchmark::DoNotOptimize(velmora::identify(channel, RIGHT));
    report(state);
}
BENCHMARK(IdentifyOneHand)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(20);
