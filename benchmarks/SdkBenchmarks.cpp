// Costs an application pays on its control loop: joint conversion and the in-process bus.
#include <benchmark/benchmark.h>

#include "velmora/Models.h"
#include "velmora/velmora.h"

using velmora::communication::VirtualCanBus;

// The 25-joint hand's tables: the longest vectors the conversion takes.
static const velmora::models::ModelInfo& kLongest = velmora::models::info(ZENIT);

static void RangeToArc25(benchmark::State& state) {
    const std::vector<std::uint8_t> bytes(kLongest.slots, 128);
    for (auto _ : state) {
        benchmark::DoNotOptimize(range_to_arc(kLongest.angleTableKey, "right", bytes));
    }
}
BENCHMARK(RangeToArc25);

static void ArcToRange25(benchmark::State& state) {
    const std::vector<double> angles(kLongest.slots, 0.3);
    for (auto _ : state) {
        benchmark::DoNotOptimize(arc_to_range(kLongest.angleTableKey, "left", angles));
    }
}
BENCHMARK(ArcToRange25);

// One frame from a peer endpoint to another and read back: the virtual bus's own overhead.
static void VirtualBusRoundTrip(benchmark::State& state) {
    VirtualCanBus sender("bench"), receiver("bench");
    const std::vector<std::uint8_t> frame{0x01, 1, 2, 3, 4, 5, 6, 7};
    const std::uint32_t id = 0x27;
    for (auto _ : state) {
        sender.send(frame, id, false);
        benchmark::DoNotOptimize(receiver.recv(id));
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(VirtualBusRoundTrip);

// The same with more listeners on the bus, as with several hands and tools attached.
static void VirtualBusFanOut(benchmark::State& state) {
    VirtualCanBus sender("bench-fan");
    std::vector<std::unique_ptr<VirtualCanBus>> listeners;
    for (int i = 0; i < state.range(0); ++i) {
        listeners.push_back(std::make_unique<VirtualCanBus>("bench-fan"));
    }
    const std::vector<std::uint8_t> frame{0x41, 1, 2, 3, 4, 5, 6};
    const std::uint32_t id = 0x28;
    for (auto _ : state) {
        sender.send(frame, id, false);
        for (auto& listener : listeners)
            benchmark::DoNotOptimize(listener->recv(id));
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(VirtualBusFanOut)->Arg(1)->Arg(4)->Arg(16);
