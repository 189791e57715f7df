// Soak: floods a hand on the virtual bus at full rate with hostile frames while three
// application threads call every getter and setter, model after model. Reports frames, calls,
// resident memory and open descriptors at start and end, and how long destroying the hand took.
// Fails (exit status 1) when descriptors are left open or resident memory keeps growing.
//
//     velmora_soak [--seconds N] [--model NAME|all] [--warmup N] [--rss-growth-kb N]
#include <dirent.h>
#include <linux/can.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <iostream>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "velmora/HandFactory.h"
#include "velmora/Models.h"
#include "velmora/velmora.h"

using namespace velmora;
using Clock = std::chrono::steady_clock;
using velmora::hand::HandHealth;
using velmora::hand::IHand;
using velmora::hand::Reading;

namespace {

using Model = models::ModelInfo;

long residentKb() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stol(line.substr(6));
    }
    return -1;
}

int openDescriptors() {
    int count = 0;
    if (DIR* dir = opendir("/proc/self/fd")) {
        while (const dirent* entry = readdir(dir)) {
            if (entry->d_name[0] != '.')
                ++count;
        }
        closedir(dir);
    }
    return count - 1;  // the directory being read
}

struct Sample {
    long rssKb;
    int fds;
};

Sample sample() {
    return {residentKb(), openDescriptors()};
}

// Frames another node might put on the bus: the hand's identifier and others, every length,
// codes the hand knows and codes it does not.
void flood(const std::string& bus, std::atomic<bool>& stop, std::atomic<std::uint64_t>& sent) {
    communication::VirtualCanBus peer(bus);
    std::mt19937 random(12345);
    const std::uint32_t ids[] = {RIGHT, RIGHT, RIGHT, LEFT, 0, 0x7FF, CAN_EFF_FLAG | RIGHT};
    while (!stop) {
        std::vector<std::uint8_t> data(random() % 9);
        for (auto& byte : data)
            byte = static_cast<std::uint8_t>(random());
        if (!data.empty() && random() % 2)
            data[0] = static_cast<std::uint8_t>(random() % 0x70);  // near the real codes
        peer.send(data, ids[random() % (sizeof ids / sizeof ids[0])], false);
        ++sent;
    }
}

using Call = std::function<void(IHand&, std::mt19937&)>;

std::vector<Call> everyCall(const Model& m) {
    const auto bytes = [](std::mt19937& r, std::size_t right) {
        // Mostly the right size, sometimes not.
        const std::size_t n = r() % 4 == 0 ? r() % 41 : right;
        ByteVector v(n);
        for (auto& b : v)
            b = static_cast<std::uint8_t>(r());
        return v;
    };
    const std::size_t joints = m.slots;
    return {
        [](IHand& h, std::mt19937&) { h.getCurrentStatus(); },
        [](IHand& h, std::mt19937&) { h.getCurrentStatusArc(); },
        [](IHand& h, std::mt19937&) { h.getSpeed(); },
        [](IHand& h, std::mt19937&) { h.getTorque(); },
        [](IHand& h, std::mt19937&) { h.getTemperature(); },
        [](IHand& h, std::mt19937&) { h.getFaultCode(); },
        [](IHand& h, std::mt19937&) { h.getCurrent(); },
        [](IHand& h, std::mt19937&) { h.getVersion(); },
        [](IHand& h, std::mt19937&) { h.getUID(); },
        [](IHand& h, std::mt19937&) { h.getRotorLockCount(); },
        [](IHand& h, std::mt19937&) { h.getForce(); },
        [](IHand& h, std::mt19937& r) { h.getForce(static_cast<std::int32_t>(r())); },
        [](IHand& h, std::mt19937&) { h.getNormalForce(); },
        [](IHand& h, std::mt19937&) { h.getTangentialForce(); },
        [](IHand& h, std::mt19937&) { h.getTangentialForceDir(); },
        [](IHand& h, std::mt19937&) { h.getApproachInc(); },
        [](IHand& h, std::mt19937&) { h.getThumbForce(); },
        [](IHand& h, std::mt19937&) { h.health(); },
        [](IHand& h, std::mt19937&) { h.readState(std::chrono::milliseconds(1)); },
        [=](IHand& h, std::mt19937& r) { h.setJointPositions(bytes(r, joints)); },
        [=](IHand& h, std::mt19937& r) {
            RadianVector angles(r() % 4 == 0 ? r() % 41 : joints);
            for (double& a : angles)
                a = std::uniform_real_distribution<double>(-4.0, 4.0)(r);
            h.setJointPositionArc(angles);
        },
        [=](IHand& h, std::mt19937& r) { h.setSpeed(bytes(r, joints)); },
        [=](IHand& h, std::mt19937& r) { h.setTorque(bytes(r, joints)); },
        [=](IHand& h, std::mt19937& r) { h.setCurrent(bytes(r, 5)); },
        [=](IHand& h, std::mt19937& r) { h.clearFaultCode(bytes(r, 5)); },
        [=](IHand& h, std::mt19937& r) { h.setMotorEnable(bytes(r, 5)); },
        [=](IHand& h, std::mt19937& r) { h.setMotorDisable(bytes(r, 5)); },
    };
}

struct Result {
    std::uint64_t framesSent = 0;
    HandHealth health;
    std::uint64_t calls = 0;
    Sample before{}, start{}, end{}, after{};
    double destroyMs = 0;
};

Result soak(const Model& m, std::chrono::seconds duration) {
    Result result;
    const std::string bus = std::string("can.soak.") + m.name;
    result.before = sample();
    auto hand = factory::HandFactory::createHand(m.model, RIGHT, "virtual:" + bus, 1000000);
    const std::vector<Call> calls = everyCall(m);

    std::atomic<bool> stop{false};
    std::atomic<std::uint64_t> sent{0};
    std::atomic<std::uint64_t> made{0};
    std::thread flooder(flood, bus, std::ref(stop), std::ref(sent));
    std::vector<std::thread> applications;
    for (unsigned t = 0; t < 3; ++t) {
        applications.emplace_back([&, t] {
            std::mt19937 random(t);
            while (!stop) {
                try {
                    calls[random() % calls.size()](*hand, random);
                } catch (const HandException&) {
                    // operations the model lacks; fresh reads that found no fresh reply
                }
                ++made;
            }
        });
    }

    // The first fifth warms up the caches and the allocator; growth is measured after it.
    std::this_thread::sleep_for(duration / 5);
    result.start = sample();
    std::this_thread::sleep_for(duration - duration / 5);
    result.end = sample();
    stop = true;
    flooder.join();
    for (auto& thread : applications)
        thread.join();

    result.framesSent = sent;
    result.calls = made;
    result.health = hand->health();
    const auto destroyStart = Clock::now();
    hand.reset();
    result.destroyMs =
        std::chrono::duration<double, std::milli>(Clock::now() - destroyStart).count();
    result.after = sample();
    return result;
}

}  // namespace

int main(int argc, char** argv) {
    long seconds = 60;
    std::string only = "all";
    long growthLimitKb = 16 * 1024;
    long warmup = 2;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        if (option == "--seconds") {
            seconds = std::stol(argv[i + 1]);
        } else if (option == "--model") {
            only = argv[i + 1];
        } else if (option == "--warmup") {
            warmup = std::stol(argv[i + 1]);
        } else if (option == "--rss-growth-kb") {
            growthLimitKb = std::stol(argv[i + 1]);
        } else {
            std::cerr << "usage: velmora_soak [--seconds N] [--model NAME|all] "
                         "[--warmup N] [--rss-growth-kb N]\n";
            return 2;
        }
    }
    if (seconds < 1) {
        std::cerr << "velmora_soak: --seconds must be at least 1\n";
        return 2;
    }

    std::atomic<std::uint64_t> messages{0};
    setMessageSink([&](MessageLevel, const std::string&) { ++messages; });

    // The allocator's caches (and a sanitizer's quarantine) reach their working size on an
    // unreported run first, so that what grows afterwards is the library's.
    if (warmup > 0) {
        soak(models::info(KESTA), std::chrono::seconds(warmup));
    }

    bool failed = false;
    std::printf("%-6s %10s %10s %9s %9s %8s  %-17s %-13s %9s\n", "model", "frames", "to hand",
                "ignored", "calls", "msgs", "RSS kB start/end", "fds s/e/after", "destroy");
    for (const Model& m : models::kModels) {
        if (models::isAlias(m.model) || (only != "all" && only != m.name))
            continue;
        const std::uint64_t messagesBefore = messages;
        const Result r = soak(m, std::chrono::seconds(seconds));
        std::printf("%-6s %10llu %10llu %9llu %9llu %8llu  %7ld/%-9ld %2d/%d/%-6d %7.1fms\n",
                    m.name, static_cast<unsigned long long>(r.framesSent),
                    static_cast<unsigned long long>(r.health.framesReceived),
                    static_cast<unsigned long long>(r.health.framesIgnored),
                    static_cast<unsigned long long>(r.calls),
                    static_cast<unsigned long long>(messages - messagesBefore), r.start.rssKb,
                    r.end.rssKb, r.start.fds, r.end.fds, r.after.fds, r.destroyMs);
        if (r.after.fds != r.before.fds || r.end.fds != r.start.fds) {
            std::printf("  FAIL %s: descriptors %d before, %d after\n", m.name, r.before.fds,
                        r.after.fds);
            failed = true;
        }
        if (r.end.rssKb - r.start.rssKb > growthLimitKb) {
            std::printf("  FAIL %s: resident memory grew by %ld kB (limit %ld)\n", m.name,
                        r.end.rssKb - r.start.rssKb, growthLimitKb);
            failed = true;
        }
        if (r.health.framesReceived == 0 || r.calls == 0) {
            std::printf("  FAIL %s: no frame reached the hand, or no call was made\n", m.name);
            failed = true;
        }
    }
    resetMessageSink();
    return failed ? 1 : 0;
}
