// `velmora ui` with one page watching at 30 readings a second: the server's share of a core
// (target: at most 2 %) and how late a reading reaches the page. The hand is simulated in the
// same process, so the server's share is what a watcher adds to the process without one.
#include <benchmark/benchmark.h>
#include <httplib.h>
#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <vector>

#include "Common.h"
#include "UiHand.h"
#include "UiServer.h"

namespace {

using namespace std::chrono_literals;
using namespace velmora;

double processCpuSeconds() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

tools::HandOptions simulated(const char* bus) {
    tools::HandOptions o;
    o.model = "tovin";
    o.sim = true;
    o.channel = bus;
    return o;
}

/// Each iteration is one reading; the CPU counter is the whole process's.
void reportCpu(benchmark::State& state, double cpuSeconds, double wallSeconds) {
    state.counters["cpu_percent"] = 100 * cpuSeconds / wallSeconds;
    state.counters["updates_per_s"] = double(state.iterations()) / wallSeconds;
}

void UiHandAlone(benchmark::State& state) {
    tools::HandSession session(simulated("virtual:can-ui-bench-alone"));
    tools::UiHand hand(session.hand(), TOVIN, 500ms);
    std::uint64_t seen = hand.readAfter(0, 5s).sequence;
    const double cpu = processCpuSeconds();
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state)
        seen = hand.readAfter(seen, 1s).sequence;
    reportCpu(state, processCpuSeconds() - cpu,
              std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
}
BENCHMARK(UiHandAlone)->Iterations(300)->UseRealTime()->Unit(benchmark::kMillisecond);

void UiOneWatcher(benchmark::State& state) {
    tools::HandSession session(simulated("virtual:can-ui-bench-watched"));
    tools::UiHand hand(session.hand(), TOVIN, 500ms);
    tools::UiServerOptions options;
    options.port = 0;
    tools::UiServer server(hand, options);
    server.start();

    // The watcher: the page's stream, with the lateness of every reading.
    std::mutex mutex;
    std::vector<double> lateMs;
    std::atomic<bool> done{false};
    std::atomic<std::uint64_t> events{0};
    std::thread watcher([&] {
        httplib::Client client("127.0.0.1", server.port());
        std::string buffer;
        client.Get("/api/events", [&](const char* data, std::size_t length) {
            buffer.append(data, length);
            for (std::size_t end; (end = buffer.find("\n\n")) != std::string::npos;) {
                const std::size_t at = buffer.find("\"time\":");
                if (at < end) {
                    const double sent = std::strtod(buffer.c_str() + at + 7, nullptr);
                    const double now = std::chrono::duration<double, std::milli>(
                                           std::chrono::system_clock::now().time_since_epoch())
                                           .count();
                    std::lock_guard<std::mutex> lock(mutex);
                    lateMs.push_back(now - sent);
                    ++events;
                }
                buffer.erase(0, end + 2);
            }
            return !done;
        });
    });
    while (events < 5)
        std::this_thread::sleep_for(1ms);
    {
        std::lock_guard<std::mutex> lock(mutex);
        lateMs.clear();
    }
    std::uint64_t seen = hand.read().sequence;
    const double cpu = processCpuSeconds();
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state)
        seen = hand.readAfter(seen, 1s).sequence;
    reportCpu(state, processCpuSeconds() - cpu,
              std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    done = true;
    watcher.join();
    std::lock_guard<std::mutex> lock(mutex);
    std::sort(lateMs.begin(), lateMs.end());
    if (!lateMs.empty()) {
        state.counters["late_ms_median"] = lateMs[lateMs.size() / 2];
        state.counters["late_ms_p99"] = lateMs[lateMs.size() * 99 / 100];
    }
}
BENCHMARK(UiOneWatcher)->Iterations(300)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace
