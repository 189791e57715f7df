// Costs an application pays on its control loop: joint conversion and the in-process bus.
#include <benchmark/benchmark.h>

#include "velmora/velmora.h"

using velmora::communication::VirtualCanBus;

static void RangeToArc25(benchmark::State& state) {
    const std::vector<std::uint8_t> bytes(25, 128);
    for (auto _ : state) {
        benchmark::DoNotOptimize(range_to_arc(25, "right", bytes));
    }
}
BENCHMARK(RangeToArc25);

static void ArcToRange25(benchmark::State& state) {
    const std::vector<double> angles(25, 0.3);
    for (auto _ : state) {
        benchmark::DoNotOptimize(arc_to_range(25, "left", angles));
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
