// HandStream against the virtual bus: what reaches the wire (recorded with the bus's send
// times), and what comes back from simulated hands.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "support/HandPeer.h"
#include "velmora/Protocol.h"
#include "velmora/sim/SimulatedHand.h"
#include "velmora/velmora.h"

namespace velmora::testing {
namespace {

using Clock = std::chrono::steady_clock;
using hand::Reading;

struct QuietLibrary {
    QuietLibrary() {
        setMessageSink([](MessageLevel, const std::string&) {});
    }
    ~QuietLibrary() { resetMessageSink(); }
};

// Every frame of one identifier on a bus, with the time it was put on the bus.
class WireRecorder {
  public:
    struct Frame {
        ByteVector data;
        Clock::time_point at;
    };

    WireRecorder(const std::string& bus, std::uint32_t id) : bus_(bus), id_(id) {
        bus_.setReceiveTimeout(0, 20000);
        thread_ = std::thread([this] { run(); });
    }
    ~WireRecorder() {
        stop_ = true;
        thread_.join();
    }

    std::vector<Frame> frames() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return frames_;
    }
    std::size_t count(const std::function<bool(const ByteVector&)>& which) const {
        std::lock_guard<std::mutex> lock(mutex_);
        std::size_t n = 0;
        for (const Frame& f : frames_)
            n += which(f.data) ? 1 : 0;
        return n;
    }
    bool waitFor(std::size_t n, const std::function<bool(const ByteVector&)>& which) const {
        return eventually([&] { return count(which) >= n; }, 10000ms);
    }

  private:
    void run() {
        while (!stop_) {
            try {
                Clock::time_point at;
                const communication::CanMessage m = bus_.recvAny(at);
                if (m.id == id_) {
                    std::lock_guard<std::mutex> lock(mutex_);
                    frames_.push_back({ByteVector(m.data.begin(), m.data.begin() + m.len), at});
                }
            } catch (const std::runtime_error&) {
            }
        }
    }

    communication::VirtualCanBus bus_;
    const std::uint32_t id_;
    mutable std::mutex mutex_;
    std::vector<Frame> frames_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// A facade opens only channels with "can" in their name.
std::string canBus() {
    return "can." + uniqueBusName();
}

bool isRequest(const ByteVector& f) {
    return f.size() == 1;
}
bool isWrite(const ByteVector& f) {
    return f.size() > 1;
}

std::unique_ptr<sim::SimulatedHand> simulate(VELMORA model, const std::string& bus,
                                             std::uint32_t id = RIGHT) {
    sim::SimConfig config;
    config.model = model;
    config.handId = id;
    return std::make_unique<sim::SimulatedHand>(sim::openSimChannel("virtual:" + bus), config);
}

HandStreamOptions positionsOnly(double rate = HandStreamOptions::kEveryCycle) {
    HandStreamOptions options;
    options.rate(Reading::Positions, rate).rate(Reading::Temperatures, 0).rate(Reading::Faults, 0);
    return options;
}

// The shortest gap the pacing allows after a frame: 3 ms, and 2 ms more after the 25-joint
// hand's per-finger frames.
struct GapRow {
    VELMORA model;
    std::size_t values;
    std::chrono::microseconds afterPositions;
};

TEST(HandStreamTest, FramesOnTheWireNeverCloserThanThePacing) {
    QuietLibrary quiet;
    for (const GapRow& row : {GapRow{RAVEL, 20, 3000us}, GapRow{ZENIT, 25, 5000us}}) {
        const std::string bus = canBus() + models::modelName(row.model);
        WireRecorder wire(bus, RIGHT);
        VelmoraApi api(row.model, RIGHT, "virtual:" + bus);
        HandStream stream(api, positionsOnly());
        for (std::uint8_t i = 0; i < 40; ++i) {
            stream.command(ByteVector(row.values, i));
            if (i % 4 == 0)
                api.getFaultCode();  // a blocking call's frames share the slots
        }
        ASSERT_TRUE(wire.waitFor(60, isRequest));
        const auto frames = wire.frames();
        for (std::size_t i = 1; i < frames.size(); ++i) {
            const ByteVector& before = frames[i - 1].data;
            const bool perFinger = row.model == ZENIT && before[0] >= 0x41 && before[0] <= 0x45;
            EXPECT_GE(frames[i].at - frames[i - 1].at, perFinger ? row.afterPositions : 3000us)
                << models::modelName(row.model) << " frame " << i;
        }
    }
}

TEST(HandStreamTest, ABurstOfCommandsPutsTheLastOnTheWire) {
    QuietLibrary quiet;
    const std::string bus = canBus();
    WireRecorder wire(bus, RIGHT);
    VelmoraApi api(MARLO, RIGHT, "virtual:" + bus);
    HandStreamOptions options = positionsOnly(0);
    options.keepAlive = 0ms;
    HandStream stream(api, options);
    const auto start = Clock::now();
    for (int i = 1; i <= 100; ++i) {
        stream.command(ByteVector(7, static_cast<std::uint8_t>(i)));
    }
    const auto burst = Clock::now() - start;
    ASSERT_TRUE(eventually([&] {
        const auto frames = wire.frames();
        return !frames.empty() && frames.back().data.size() == 8 && frames.back().data[7] == 100;
    }));
    // Each frame holds the channel 3 ms: while the burst lasted, at most one frame per 3 ms
    // can have left, and the newest target after it.
    const auto slots = static_cast<std::size_t>(burst / 3ms) + 2;
    EXPECT_LE(wire.count(isWrite), slots);
    const HandStreamHealth health = stream.health();
    EXPECT_EQ(health.commandsSent, wire.count(isWrite));
    EXPECT_EQ(health.commandsSuperseded + health.commandsSent, 100u);
}

// Under a flood of commands, on the wire. The 25-joint hand's commands are five frames, always
// waiting: its readings asked for at a rate take the commands' turns, so one frame at most comes
// between two position requests. A one-frame command that comes while the last is on its way
// (after its frame was put on the bus, before its pacing ends) leaves in the next slot, so two
// commands can follow each other, never three.
struct FloodRow {
    VELMORA model;
    bool ratedReadings;
    std::size_t mostBetween;
    bool nextSlotForANewTarget;
};

TEST(HandStreamTest, UnderACommandFloodPositionsKeepTheirTurn) {
    const FloodRow rows[] = {{ZENIT, true, 1, false}, {KESTA, false, 2, true}};
    for (const FloodRow& row : rows) {
        SCOPED_TRACE(models::modelName(row.model));
        QuietLibrary quiet;
        const std::string bus = canBus();
        WireRecorder wire(bus, RIGHT);
        VelmoraApi api(row.model, RIGHT, "virtual:" + bus);
        std::set<std::uint8_t> positionCodes;
        for (const protocol::Command& c : protocol::commands(row.model)) {
            if (c.quantity == protocol::Quantity::Positions)
                positionCodes.insert(c.code);
        }
        const auto isPositionsRequest = [&](const ByteVector& f) {
            return isRequest(f) && positionCodes.count(f[0]) == 1;
        };
        HandStreamOptions options = positionsOnly();
        if (row.ratedReadings)
            options.rate(Reading::Temperatures, 50).rate(Reading::Faults, 50);
        HandStream stream(api, options);
        const std::size_t slots = models::info(row.model).slots;
        std::atomic<bool> stop{false};
        std::vector<std::pair<Clock::time_point, Clock::time_point>> calls;
        std::thread commands([&] {
            for (std::uint8_t value = 0; !stop; ++value) {
                const auto start = Clock::now();
                stream.command(ByteVector(slots, value));
                calls.emplace_back(start, Clock::now());
                std::this_thread::sleep_for(200us);
            }
        });
        const bool enough = wire.waitFor(150, isPositionsRequest);
        stop = true;
        commands.join();
        ASSERT_TRUE(enough);
        // No hand answers: every frame on the wire is the stream's own.
        const auto frames = wire.frames();
        if (row.ratedReadings) {
            EXPECT_GT(wire.count([&](const ByteVector& f) {
                return isRequest(f) && !isPositionsRequest(f);
            }),
                      5u);
        }
        EXPECT_GT(wire.count(isWrite), 5u);
        std::size_t between = 0;
        bool started = false;
        for (std::size_t i = 0; i < frames.size(); ++i) {
            if (isPositionsRequest(frames[i].data)) {
                started = true;
                between = 0;
            } else if (started) {
                EXPECT_LE(++between, row.mostBetween) << "frame " << i;
            }
        }
        if (!row.nextSlotForANewTarget)
            continue;
        // A command frame after a position request, and a call made wholly inside its slot.
        auto call = calls.begin();
        for (std::size_t i = 1; i + 1 < frames.size(); ++i) {
            if (!isWrite(frames[i].data) || !isPositionsRequest(frames[i - 1].data))
                continue;
            const auto slotStart = frames[i].at;
            const auto slotEnd = slotStart + std::chrono::milliseconds(3);
            while (call != calls.end() && call->first <= slotStart)
                ++call;
            if (call != calls.end() && call->second < slotEnd) {
                EXPECT_TRUE(isWrite(frames[i + 1].data)) << "frame " << i + 1;
            }
        }
    }
}

TEST(HandStreamTest, UnchangedFramesGoOutAgainOnlyAfterTheKeepAlive) {
    QuietLibrary quiet;
    const std::string bus = canBus();
    WireRecorder wire(bus, RIGHT);
    VelmoraApi api(RAVEL, RIGHT, "virtual:" + bus);
    HandStreamOptions options = positionsOnly();
    options.keepAlive = 0ms;
    HandStream stream(api, options);
    ByteVector targets(20, 50);
    stream.command(targets);
    ASSERT_TRUE(wire.waitFor(4, isWrite));
    // Only the frame of joints 15 to 19 changes: only it goes out again.
    targets[19] = 60;
    for (int i = 0; i < 10; ++i) {
        stream.command(targets);
    }
    ASSERT_TRUE(wire.waitFor(5, isWrite));
    const std::size_t requests = wire.count(isRequest);
    ASSERT_TRUE(wire.waitFor(requests + 20, isRequest));  // 20 slots later
    EXPECT_EQ(wire.count(isWrite), 5u);
    // Of the 40 frames, three of each command held what the hand had; each of the rest either
    // found the one before it still waiting or already sent.
    const HandStreamHealth health = stream.health();
    EXPECT_EQ(health.commandsUnchanged + health.commandsSuperseded, 39u);

    stream.setKeepAlive(30ms);
    EXPECT_TRUE(wire.waitFor(9, isWrite));
    EXPECT_GE(stream.health().keepAlivesSent, 4u);
}

TEST(HandStreamTest, ReadingsCarrySequenceNumbersAndReceiveTimes) {
    QuietLibrary quiet;
    const std::string bus = canBus();
    auto simulated = simulate(TOVIN, bus);
    VelmoraApi api(TOVIN, RIGHT, "virtual:" + bus);
    HandStream stream(api);
    StampedReading held = stream.latest(Reading::Positions);
    EXPECT_TRUE(held.empty());
    for (int i = 0; i < 10; ++i) {
        const auto reading = stream.next(held, 5000ms);
        ASSERT_TRUE(reading);
        EXPECT_GT(reading->sequence, held.sequence);
        EXPECT_GE(reading->received, held.received);
        EXPECT_LE(reading->received, Clock::now());
        EXPECT_EQ(reading->values.size(), 10u);
        EXPECT_GE(reading->age.count(), 0);
        held = *reading;
    }
    // The blocking fresh read is stamped as well, while the stream shares its slots.
    const auto before = Clock::now();
    const StampedReading first = api.readStateStamped(2000ms);
    const StampedReading second = api.readStateStamped(2000ms);
    EXPECT_EQ(second.sequence, first.sequence + 1);
    EXPECT_GE(first.received, before);
    EXPECT_LE(second.received, Clock::now());
    EXPECT_EQ(second.values.size(), 10u);
}

TEST(HandStreamTest, CallbacksComeFromOneThreadInOrder) {
    QuietLibrary quiet;
    const std::string bus = canBus();
    auto simulated = simulate(RAVEL, bus);
    VelmoraApi api(RAVEL, RIGHT, "virtual:" + bus);
    std::mutex mutex;
    std::set<std::thread::id> threads;
    std::vector<std::uint64_t> sequences;
    {
        HandStream stream(api, positionsOnly(), [&](const StampedReading& r) {
            std::lock_guard<std::mutex> lock(mutex);
            threads.insert(std::this_thread::get_id());
            if (r.reading == Reading::Positions)
                sequences.push_back(r.sequence);
        });
        ASSERT_TRUE(eventually([&] {
            std::lock_guard<std::mutex> lock(mutex);
            return sequences.size() >= 10;
        }));
    }
    EXPECT_EQ(threads.size(), 1u);
    EXPECT_EQ(threads.count(std::this_thread::get_id()), 0u);
    for (std::size_t i = 1; i < sequences.size(); ++i)
        EXPECT_GT(sequences[i], sequences[i - 1]);
}

TEST(HandStreamTest, TwoStreamsOfOneHandShareOneBudget) {
    QuietLibrary quiet;
    const std::string bus = canBus();
    WireRecorder wire(bus, RIGHT);
    VelmoraApi first(MARLO, RIGHT, "virtual:" + bus);
    VelmoraApi second(MARLO, RIGHT, "virtual:" + bus);
    VelmoraApi other(MARLO, LEFT, "virtual:" + bus);  // another hand: a budget of its own
    HandStream a(first, positionsOnly());
    HandStream b(second, positionsOnly());
    HandStream c(other, positionsOnly());
    ASSERT_TRUE(wire.waitFor(100, isRequest));
    const auto frames = wire.frames();
    for (std::size_t i = 1; i < frames.size(); ++i)
        EXPECT_GE(frames[i].at - frames[i - 1].at, 3000us) << "frame " << i;
    EXPECT_TRUE(
        eventually([&] { return a.health().framesSent > 10 && b.health().framesSent > 10; }));
    EXPECT_TRUE(eventually([&] { return c.health().framesSent > 10; }));
}

TEST(HandStreamTest, DestructionDuringAStreamIsPrompt) {
    QuietLibrary quiet;
    const std::string bus = canBus();
    auto simulated = simulate(ZENIT, bus);
    VelmoraApi api(ZENIT, RIGHT, "virtual:" + bus);
    for (int round = 0; round < 5; ++round) {
        auto stream =
            std::make_unique<HandStream>(api, HandStreamOptions{}, [](const StampedReading&) {});
        stream->command(ByteVector(25, static_cast<std::uint8_t>(round * 10)));
        ASSERT_TRUE(stream->next(Reading::Positions, 0, 5000ms));
        const auto start = Clock::now();
        stream.reset();
        // 10 ms on a quiet machine (see the benchmarks); generous for sanitizers.
        EXPECT_LT(Clock::now() - start, 500ms);
    }
    EXPECT_EQ(api.readState(2000ms).size(), 25u);  // the hand object is untouched
}

TEST(HandStreamTest, RefusesBadInputWithAClearMessage) {
    QuietLibrary quiet;
    const std::string bus = canBus();
    VelmoraApi zenit(ZENIT, RIGHT, "virtual:" + bus);
    VelmoraApi kesta(KESTA, LEFT, "virtual:" + bus);
    VelmoraApi ravel(RAVEL, RIGHT, "virtual:" + bus + "r");
    HandStream stream(zenit, positionsOnly(0));
    HandStream kestaStream(kesta, positionsOnly(0));
    const double nan = std::nan("");
    struct Row {
        std::function<void()> call;
        std::string message;  // empty: UnsupportedFeatureException
    };
    const std::vector<Row> rows = {
        {[&] { stream.command(ByteVector(3, 0)); },
         "HandStream::command: the 25-joint hand takes 21 values, one per joint, or 25, one per "
         "slot, not 3"},
        {[&] { stream.commandArc(RadianVector(24, 0.0)); },
         "HandStream::commandArc: the 25-joint hand takes 21 values, one per joint, or 25, one "
         "per slot, not 24"},
        {[&] {
             RadianVector angles(25, 0.1);
             angles[4] = nan;
             stream.commandArc(angles);
         },
         "HandStream::commandArc: angle 4 is not a finite number"},
        {[&] { HandStream s(ravel, HandStreamOptions{}.rate(Reading::Positions, -1)); },
         "HandStream: the rate of positions must be 0 or more per second, not -1"},
        {[&] { HandStream s(ravel, HandStreamOptions{}.rate(Reading::Faults, nan)); },
         "HandStream: the rate of faults must be 0 or more per second, not nan"},
        {[&] { kestaStream.commandArc(RadianVector(6, 0.0)); }, ""},
        {[&] { HandStream s(ravel, HandStreamOptions{}.rate(Reading::Temperatures, 1)); }, ""},
    };
    for (const Row& row : rows) {
        try {
            row.call();
            ADD_FAILURE() << "not refused: " << row.message;
        } catch (const UnsupportedFeatureException&) {
            EXPECT_EQ(row.message, "");
        } catch (const std::invalid_argument& e) {
            EXPECT_EQ(e.what(), row.message);
        }
    }
    EXPECT_EQ(stream.health().commandsSent, 0u);
}

}  // namespace
}  // namespace velmora::testing
