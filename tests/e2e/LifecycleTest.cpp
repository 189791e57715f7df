// Fresh reads of every model against a simulated hand, and the life of a hand object: prompt
// destruction whatever the bus does, calls in flight, many hands one after another, and two
// hands of different firmware in one process.
#include <gtest/gtest.h>

#include <dirent.h>
#include <unistd.h>

#include <fstream>
#include <future>
#include <thread>

#include "support/HandPeer.h"
#include "velmora/Models.h"
#include "velmora/sim/SimulatedHand.h"
#include "velmora/velmora.h"

using namespace velmora;
using namespace velmora::testing;
using velmora::hand::Reading;
using velmora::sim::SimConfig;
using velmora::sim::SimulatedHand;

namespace {

const VELMORA kModels[] = {KESTA, MARLO, TOVIN, RAVEL, SABRE, ZENIT};

SimConfig config(VELMORA model, std::uint8_t firmware = 0x15) {
    SimConfig c;
    c.model = model;
    c.handId = RIGHT;
    c.softwareVersion = firmware;
    return c;
}

std::unique_ptr<SimulatedHand> simulate(VELMORA model, const std::string& bus,
                                        std::uint8_t firmware = 0x15) {
    return std::make_unique<SimulatedHand>(sim::openSimChannel("virtual:" + bus),
                                           config(model, firmware));
}

class Lifecycle : public ::testing::TestWithParam<VELMORA> {
  protected:
    void SetUp() override { Common::current_hand_version = 1.0f; }
    std::string bus() const { return "can-" + uniqueBusName(); }
};

std::string modelName(const ::testing::TestParamInfo<VELMORA>& info) {
    return models::modelName(info.param);
}

// Which readings each model has: the getter it mirrors, or nothing (refused).
std::function<ByteVector(VelmoraApi&)> getterOf(VELMORA model, Reading what) {
    switch (what) {
        case Reading::Positions:
            return [](VelmoraApi& a) { return a.getState(); };
        case Reading::Speeds:
            return [](VelmoraApi& a) { return a.getSpeed(); };
        case Reading::Torques:
            if (model == RAVEL)
                return nullptr;
            return [](VelmoraApi& a) { return a.getTorque(); };
        case Reading::Currents:
            if (model != RAVEL)
                return nullptr;
            return [](VelmoraApi& a) { return a.getCurrent(); };
        case Reading::Temperatures:
            if (model == RAVEL)
                return nullptr;
            return [](VelmoraApi& a) { return a.getTemperature(); };
        case Reading::Faults:
            return [](VelmoraApi& a) { return a.getFaultCode(); };
    }
    return nullptr;
}

std::size_t count(const char* directory) {
    std::size_t n = 0;
    if (DIR* d = opendir(directory)) {
        while (readdir(d))
            ++n;
        closedir(d);
    }
    return n;
}

long residentKiB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stol(line.substr(6));
    }
    return 0;
}

}  // namespace

TEST_P(Lifecycle, EveryReadingTheModelHasComesFreshAndTheRestAreRefused) {
    const VELMORA model = GetParam();
    const std::string name = bus();
    auto simulated = simulate(model, name);
    VelmoraApi api(model, RIGHT, "virtual:" + name);
    for (Reading what : {Reading::Positions, Reading::Speeds, Reading::Torques, Reading::Currents,
                         Reading::Temperatures, Reading::Faults}) {
        const auto getter = getterOf(model, what);
        const int index = static_cast<int>(what);
        if (!getter) {
            EXPECT_THROW(api.readFresh(what, 10ms), UnsupportedFeatureException) << index;
            continue;
        }
        ByteVector fresh;
        if (model == KESTA && what == Reading::Speeds) {
            // This hand is never asked for its speeds; it reports them when they are set.
            auto read = std::async(std::launch::async,
                                   [&] { return api.readFresh(Reading::Speeds, 10000ms); });
            do {
                api.setSpeed(ByteVector(6, 50));
            } while (read.wait_for(5ms) != std::future_status::ready);
            fresh = read.get();
        } else {
            fresh = api.readFresh(what, 10000ms);
        }
        EXPECT_FALSE(fresh.empty()) << index;
        EXPECT_EQ(fresh.size(), getter(api).size()) << index << ": the getter's layout";
    }
    const RadianVector angles = api.readStateArc(10000ms);
    EXPECT_EQ(angles.size(), model == KESTA ? 0u : api.getState().size());
}

TEST_P(Lifecycle, DestructionIsPromptWithASilentOrAFloodingBus) {
    const VELMORA model = GetParam();
    // Silent: nothing answers at all.
    {
        auto api = std::make_unique<VelmoraApi>(model, RIGHT, "virtual:" + bus());
        const auto start = std::chrono::steady_clock::now();
        api.reset();
        EXPECT_LT(std::chrono::steady_clock::now() - start, 500ms) << "silent";
    }
    // Flooding: frames of the hand and of others arrive without a pause.
    const std::string name = bus() + ".flood";
    auto api = std::make_unique<VelmoraApi>(model, RIGHT, "virtual:" + name);
    std::atomic<bool> stop{false};
    std::thread flood([&] {
        communication::VirtualCanBus peer(name);
        std::uint8_t i = 0;
        while (!stop) {
            peer.send({0x01, i, i, i, i, i, i, i}, RIGHT, false);
            peer.send({++i}, 0x123, false);
        }
    });
    ASSERT_TRUE(eventually([&] { return api->health().framesReceived > 100; }));
    const auto start = std::chrono::steady_clock::now();
    api.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 500ms) << "flooding";
    stop = true;
    flood.join();
}

TEST_P(Lifecycle, DestructionWaitsForACallInFlight) {
    const VELMORA model = GetParam();
    const std::string name = bus();
    auto simulated = simulate(model, name);
    auto api = std::make_unique<VelmoraApi>(model, RIGHT, "virtual:" + name);
    const std::uint64_t before = simulated->framesReceived();
    // Every model asks for its fault codes, whatever it knows of the hand yet.
    VelmoraApi* inFlight = api.get();
    std::thread caller([inFlight] { inFlight->getFaultCode(); });
    EXPECT_TRUE(eventually([&] { return simulated->framesReceived() > before; }));
    api.reset();
    caller.join();
}

TEST_P(Lifecycle, ManyHandsOneAfterAnotherLeaveNothingBehind) {
    const VELMORA model = GetParam();
    const std::string name = bus();
    const auto cycle = [&] { VelmoraApi api(model, RIGHT, "virtual:" + name); };
    const auto cycles = [&](int n) {
        ::testing::internal::CaptureStdout();  // each hand says it opened its channel
        for (int i = 0; i < n; ++i)
            cycle();
        ::testing::internal::GetCapturedStdout();
    };
    cycles(20);
    const std::size_t threads = count("/proc/self/task");
    const std::size_t descriptors = count("/proc/self/fd");
    const long resident = residentKiB();
    cycles(1000);
    EXPECT_EQ(count("/proc/self/task"), threads);
    EXPECT_EQ(count("/proc/self/fd"), descriptors);
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
    EXPECT_LT(residentKiB() - resident, 4096) << "resident memory grew";
#else
    (void)resident;  // the sanitizers keep freed memory aside on purpose
#endif
}

INSTANTIATE_TEST_SUITE_P(Models, Lifecycle, ::testing::ValuesIn(kModels), modelName);

TEST(TwoHands, EachTenJointHandKeepsItsOwnFirmwareGeneration) {
    Common::current_hand_version = 1.0f;
    const std::string busA = "can-" + uniqueBusName() + ".a";
    const std::string busB = "can-" + uniqueBusName() + ".b";
    auto newer = simulate(TOVIN, busA, 0x15);
    VelmoraApi a(TOVIN, RIGHT, "virtual:" + busA);
    ASSERT_TRUE(eventually([&] { return !a.getVersion().empty(); }));
    auto older = simulate(TOVIN, busB, 0x14);
    VelmoraApi b(TOVIN, RIGHT, "virtual:" + busB);
    ASSERT_TRUE(eventually([&] { return !b.getVersion().empty(); }));
    EXPECT_EQ(Common::current_hand_version.load(), 1.4f) << "the last report still sets it";

    // Requests are the code alone; the older hand's own reports carry values.
    HandPeer seenA(busA, RIGHT);
    HandPeer seenB(busB, RIGHT);
    const auto requests = [](HandPeer& peer) {
        Frames codes;
        for (const ByteVector& frame : peer.drain()) {
            if (frame.size() == 1)
                codes.push_back(frame);
        }
        return codes;
    };
    a.getState();
    b.getState();
    EXPECT_EQ(requests(seenA), (Frames{{0x01}, {0x04}})) << "1.5 is asked for its positions";
    EXPECT_EQ(requests(seenB), Frames{}) << "1.4 reports on its own";
    EXPECT_EQ(a.readState(10000ms).size(), 10u);
    EXPECT_EQ(b.readState(10000ms).size(), 10u);
}
