// The velmora command's work per frame. A 1 Mbit/s bus carries at most about 8000 classic
// frames a second: record and decode must each stay far below 125 us a frame.
#include <benchmark/benchmark.h>

#include "CanLog.h"
#include "FrameMeaning.h"

namespace {

velmora::tools::LoggedFrame sampleFrame() {
    velmora::tools::LoggedFrame frame;
    frame.seconds = 1733760000;
    frame.microseconds = 123456;
    frame.interface = "can0";
    frame.id = 0x27;
    frame.len = 7;
    frame.data = {0x01, 10, 20, 30, 40, 50, 60};
    return frame;
}

void RecordLine(benchmark::State& state) {
    const auto frame = sampleFrame();
    for (auto _ : state)
        benchmark::DoNotOptimize(velmora::tools::formatLogLine(frame));
}
BENCHMARK(RecordLine);

void ParseLogLine(benchmark::State& state) {
    const std::string line = "(1733760000.123456) can0 027#010A141E28323C";
    std::string error;
    for (auto _ : state)
        benchmark::DoNotOptimize(velmora::tools::parseLogLine(line, error));
}
BENCHMARK(ParseLogLine);

// A request and its reply, as decode meets them in a log of the 25-joint hand.
void DecodeRequestAndReply(benchmark::State& state) {
    velmora::tools::FrameDecoder decoder(ZENIT);
    auto request = sampleFrame();
    request.len = 1;
    request.data[0] = 0x41;
    auto reply = sampleFrame();
    reply.data[0] = 0x41;
    for (auto _ : state) {
        benchmark::DoNotOptimize(decoder.decode(request));
        benchmark::DoNotOptimize(decoder.decode(reply));
    }
}
BENCHMARK(DecodeRequestAndReply);

}  // namespace
