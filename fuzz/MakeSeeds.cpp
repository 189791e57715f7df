// Writes the fuzz targets' seed corpora: every frame a simulated hand of each model sends while
// the library drives it through its getters and setters, in the hand-frames input format, plus
// a few well-formed inputs of the conversion and command targets.
//
//     velmora_fuzz_seeds fuzz/corpus
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <mutex>
#include <thread>

#include "FuzzInput.h"
#include "velmora/HandFactory.h"
#include "velmora/Models.h"
#include "velmora/Protocol.h"
#include "velmora/sim/SimulatedHand.h"
#include "velmora/velmora.h"

using namespace velmora;
namespace fs = std::filesystem;

namespace {

constexpr std::size_t kFramesPerSeed = 12;
constexpr std::size_t kMostSeedsPerRun = 24;

/// The simulated hand's channel, keeping a copy of everything the hand sends.
class RecordingBus : public communication::ICanBus {
  public:
    explicit RecordingBus(const std::string& bus)
        : inner_(std::make_unique<communication::VirtualCanBus>(bus)) {
        inner_->setReceiveTimeout(0, 20000);
    }
    void send(const std::vector<std::uint8_t>& data, std::uint32_t canId, bool flag) override {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            sent_.push_back(data);
        }
        inner_->send(data, canId, flag);
    }
    communication::CanMessage recv(const std::uint32_t& canId) override {
        return inner_->recv(canId);
    }
    std::vector<ByteVector> sent() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return sent_;
    }

  private:
    std::unique_ptr<communication::VirtualCanBus> inner_;
    mutable std::mutex mutex_;
    std::vector<ByteVector> sent_;
};

void driveAndRead(hand::IHand& hand, VELMORA model) {
    const auto quietly = [](auto call) {
        try {
            call();
        } catch (const HandException&) {
        }
    };
    for (int round = 0; round < 3; ++round) {
        hand.setJointPositions(
            ByteVector(models::info(model).slots, static_cast<std::uint8_t>(80 * round)));
        quietly([&] { hand.getCurrentStatus(); });
        quietly([&] { hand.getSpeed(); });
        quietly([&] { hand.getTorque(); });
        quietly([&] { hand.getTemperature(); });
        quietly([&] { hand.getFaultCode(); });
        quietly([&] { hand.getCurrent(); });
        quietly([&] { hand.getVersion(); });
        quietly([&] { hand.getUID(); });
        quietly([&] { hand.getRotorLockCount(); });
        quietly([&] { hand.getNormalForce(); });
        quietly([&] { hand.getTangentialForce(); });
        quietly([&] { hand.getTangentialForceDir(); });
        quietly([&] { hand.getApproachInc(); });
        quietly([&] { hand.getForce(); });
        quietly([&] { hand.getForce(0); });
        if (auto* zenit = dynamic_cast<hand::ZenitHand*>(&hand))
            zenit->getCommID();
        std::this_thread::sleep_for(std::chrono::milliseconds(60));
    }
}

void writeFile(const fs::path& path, const ByteVector& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

std::size_t recordModel(const fs::path& root, VELMORA model, const char* name,
                        sim::SensorKind sensor, const char* sensorName) {
    const std::string bus = std::string("can.seeds.") + name + "." + sensorName;
    auto recorder = std::make_unique<RecordingBus>(bus);
    RecordingBus& recorded = *recorder;
    sim::SimConfig config;
    config.model = model;
    config.handId = RIGHT;
    config.sensor = sensor;
    std::vector<ByteVector> frames;
    {
        sim::SimulatedHand simulated(std::move(recorder), config);
        auto hand = factory::HandFactory::createHand(model, RIGHT, "virtual:" + bus, 1000000);
        driveAndRead(*hand, model);
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        frames = recorded.sent();
    }

    const fs::path dir = root / (std::string("frames_") + name);
    fs::create_directories(dir);
    std::size_t seeds = 0;
    for (std::size_t first = 0; first < frames.size() && seeds < kMostSeedsPerRun;
         first += kFramesPerSeed, ++seeds) {
        ByteVector input;
        for (std::size_t i = first; i < frames.size() && i < first + kFramesPerSeed; ++i) {
            fuzz::appendFrameRecord(input, frames[i]);
            if (i % 4 == 3)
                input.push_back(static_cast<std::uint8_t>(fuzz::kGetterRecord | (i % 27)));
        }
        writeFile(dir / (std::string(sensorName) + "-" + std::to_string(seeds)), input);
    }
    return seeds;
}

void writeConversionSeeds(const fs::path& root) {
    const fs::path dir = root / "conversion";
    fs::create_directories(dir);
    // Key selectors 0..4 are the keys 7, 10, 20, 21 and 25: those of the hands with joint-angle
    // tables, in the enumeration's order. Each takes its model's slots.
    std::vector<std::size_t> lengths;
    for (VELMORA model : models::everyHand()) {
        if (models::info(model).hasAngleTables())
            lengths.push_back(models::info(model).slots);
    }
    for (std::uint8_t key = 0; key < lengths.size(); ++key) {
        for (std::uint8_t side = 0; side < 2; ++side) {
            ByteVector bytes{key, side, 1};
            for (std::size_t i = 0; i < lengths[key]; ++i)
                bytes.push_back(static_cast<std::uint8_t>(i * 37));
            writeFile(dir / ("range-" + std::to_string(key) + "-" + std::to_string(side)), bytes);

            ByteVector arc{key, side, 2};
            for (std::size_t i = 0; i < lengths[key]; ++i) {
                const double angle = 0.1 * static_cast<double>(i % 10);
                std::uint8_t raw[sizeof angle];
                std::memcpy(raw, &angle, sizeof angle);
                arc.insert(arc.end(), raw, raw + sizeof angle);
            }
            writeFile(dir / ("arc-" + std::to_string(key) + "-" + std::to_string(side)), arc);
        }
    }
}

void writeCommandSeeds(const fs::path& root) {
    const fs::path dir = root / "command_arguments";
    fs::create_directories(dir);
    // Model selectors of the command harness: every hand, in the enumeration's order.
    const std::vector<VELMORA> fuzzed = models::everyHand();
    for (std::uint8_t model = 0; model < fuzzed.size(); ++model) {
        const std::size_t slots = models::info(fuzzed[model]).slots;
        for (std::uint8_t setter = 0; setter < 9; ++setter) {
            ByteVector input{model, setter};
            const std::size_t n = setter == 7 ? slots * 8 : slots;
            for (std::size_t i = 0; i < n; ++i)
                input.push_back(static_cast<std::uint8_t>(i * 11));
            writeFile(dir / ("m" + std::to_string(model) + "-s" + std::to_string(setter)), input);
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: velmora_fuzz_seeds CORPUS_DIR\n";
        return 2;
    }
    fuzz::silenceLibrary();
    const fs::path root = argv[1];
    for (VELMORA model : models::everyHand()) {
        const char* name = models::modelName(model);
        std::size_t seeds = recordModel(root, model, name, sim::SensorKind::Matrix, "matrix");
        seeds += recordModel(root, model, name, sim::SensorKind::Summary, "summary");
        std::cout << name << ": " << seeds << " seeds\n";
    }
    writeConversionSeeds(root);
    writeCommandSeeds(root);
    return 0;
}
