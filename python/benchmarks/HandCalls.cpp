// The C++ side of python/benchmarks/bench_calls.py: the calls it times from Python, here without
// the binding, so that the two can be compared.
#include <benchmark/benchmark.h>

#include "velmora/sim/SimulatedHand.h"
#include "velmora/velmora.h"

namespace {

struct SimulatedTovin {
    SimulatedTovin()
        : simulated(velmora::sim::openSimChannel("virtual:can-bench-cpp"), {}),
          hand(TOVIN, RIGHT, "virtual:can-bench-cpp") {}
    velmora::sim::SimulatedHand simulated;
    VelmoraApi hand;
};

// A paced getter: its requests leave at the channel's pace.
void GetState(benchmark::State& state) {
    SimulatedTovin tovin;
    for (auto _ : state)
        benchmark::DoNotOptimize(tovin.hand.getState());
}
BENCHMARK(GetState)->UseRealTime()->Unit(benchmark::kMicrosecond);

// A call that neither sends nor waits.
void Health(benchmark::State& state) {
    SimulatedTovin tovin;
    for (auto _ : state)
        benchmark::DoNotOptimize(tovin.hand.health());
}
BENCHMARK(Health)->Unit(benchmark::kMicrosecond);

void RangeToArc10(benchmark::State& state) {
    const velmora::ByteVector bytes(10, 128);
    for (auto _ : state)
        benchmark::DoNotOptimize(range_to_arc(10, "right", bytes));
}
BENCHMARK(RangeToArc10)->Unit(benchmark::kMicrosecond);

void ArcToRange10(benchmark::State& state) {
    const velmora::RadianVector angles(10, 0.3);
    for (auto _ : state)
        benchmark::DoNotOptimize(arc_to_range(10, "right", angles));
}
BENCHMARK(ArcToRange10)->Unit(benchmark::kMicrosecond);

}  // namespace
