#include "Common.h"

#include <CLI/CLI.hpp>

#include <cctype>
#include <mutex>
#include <thread>

#include "CanLog.h"
#include "velmora/HandException.h"
#include "velmora/HandFactory.h"
#include "velmora/MessageSink.h"
#include "velmora/Models.h"
#include "velmora/Protocol.h"
#include "velmora/sim/SimulatedHand.h"

namespace velmora {
namespace tools {

namespace {

CLI::Validator modelValidator() {
    return CLI::Validator(
        [](std::string& value) -> std::string {
            return models::modelFromName(value)
                       ? ""
                       : "unknown model '" + value + "': choose " + models::modelChoices();
        },
        "MODEL");
}

// The finger's letter in labels of per-finger values: T, I, M, R, L.
std::string fingerLetter(std::size_t finger) {
    return std::string(1, static_cast<char>(std::toupper(
                              static_cast<unsigned char>(models::kFingerNames[finger][0]))));
}

}  // namespace

VELMORA parseModel(const std::string& name) {
    const auto model = models::modelFromName(name);
    if (!model)
        throw UsageError("unknown model '" + name + "': choose " + models::modelChoices());
    return *model;
}

std::uint32_t parseSide(const std::string& name) {
    const auto side = models::sideFromName(name);
    if (!side)
        throw UsageError("unknown side '" + name + "': choose left or right");
    return *side;
}

void addModelOption(CLI::App* command, std::string& model, bool required) {
    auto* option = command->add_option("--model,-m", model, "Hand model: " + models::modelChoices())
                       ->check(modelValidator());
    if (required)
        option->required();
}

void addHandOptions(CLI::App* command, HandOptions& options, bool modelRequired) {
    addModelOption(command, options.model, modelRequired);
    command->add_option("--side,-s", options.side, "left or right (the hand's CAN identifier)")
        ->capture_default_str()
        ->check(CLI::Validator(
            [](std::string& v) -> std::string {
                return models::sideFromName(v) ? ""
                                               : "unknown side '" + v + "': choose left or right";
            },
            "SIDE"));
    command
        ->add_option("--channel,-c", options.channel,
                     "SocketCAN interface (can0, vcan0, ...) or virtual:NAME in this process")
        ->capture_default_str();
    command->add_option("--bitrate,-b", options.bitrate, "Bit rate of a real interface")
        ->capture_default_str();
    command->add_flag("--sim", options.sim,
                      "Start a simulated hand of the same model on a virtual channel in this "
                      "process, no hardware needed");
    command
        ->add_option("--timeout", options.timeoutMs,
                     "Milliseconds a read waits for the hand's replies")
        ->capture_default_str();
}

std::string sessionChannel(const HandOptions& options) {
    if (!options.sim || isVirtualChannel(options.channel))
        return options.channel;
    return "virtual:" + options.channel;
}

HandSession::HandSession(const HandOptions& options)
    : model_(parseModel(options.model)),
      side_(parseSide(options.side)),
      channel_(sessionChannel(options)),
      timeout_(options.timeoutMs) {
    if (options.timeoutMs < 0)
        throw UsageError("--timeout must be 0 or more");
    if (options.bitrate <= 0)
        throw UsageError("--bitrate must be more than 0");
    if (!factory::HandFactory::containsIgnoreCase(channel_, "can"))
        throw UsageError("channel '" + channel_ +
                         "' cannot carry a hand: its name must contain \"can\" (can0, vcan0, "
                         "virtual:can0)");
    if (!isVirtualChannel(channel_))
        requireInterfaceUp(channel_);
    if (options.sim) {
        sim::SimConfig config;
        config.model = model_;
        config.handId = side_;
        simulated_ = std::make_unique<sim::SimulatedHand>(sim::openSimChannel(channel_), config);
    }
    opened_ = std::chrono::steady_clock::now();
    hand_ = factory::HandFactory::createHand(model_, side_, channel_, options.bitrate);
    if (!hand_)
        throw UsageError("channel '" + channel_ + "' cannot carry a hand");
}

HandSession::~HandSession() {
    hand_.reset();  // the application's side goes first, as it would on a real bus
}

std::optional<std::chrono::nanoseconds> HandSession::waitForFirstReply(
    std::chrono::milliseconds deadline, const std::atomic<bool>& stop) {
    const auto end = std::chrono::steady_clock::now() + deadline;
    while (!stop) {
        const hand::HandHealth h = hand_->health();
        if (h.framesReceived > 0 && h.lastFrameAge) {
            const auto firstAt = std::chrono::steady_clock::now() - *h.lastFrameAge;
            return std::chrono::duration_cast<std::chrono::nanoseconds>(firstAt - opened_);
        }
        if (std::chrono::steady_clock::now() > end)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return std::nullopt;
}

std::vector<Labelled> meaningful(VELMORA model, const ByteVector& values) {
    std::vector<Labelled> out;
    const models::ModelInfo& m = models::info(model);
    constexpr std::size_t kFingerSlots = models::kFingers * protocol::kSlotsPerFinger;
    if (values.size() == m.slots) {
        for (std::size_t s = 0; s < values.size(); ++s) {
            if (m.carriesJoint(s))
                out.push_back({models::jointLabel(model, s), values[s]});
        }
    } else if (values.size() == models::kFingers) {
        for (std::size_t f = 0; f < models::kFingers; ++f)
            out.push_back({fingerLetter(f), values[f]});
    } else if (values.size() == kFingerSlots && m.handClass == models::HandClass::Zenit) {
        // In command order, so that the slots line up with the positions.
        for (std::size_t j = 0; j < m.slots; ++j) {
            for (std::size_t s = 0; s < kFingerSlots; ++s) {
                if (protocol::kZenitSlotJoint[s] == static_cast<int>(j))
                    out.push_back({models::jointLabel(model, j), values[s]});
            }
        }
    } else {
        for (std::size_t i = 0; i < values.size(); ++i)
            out.push_back({"#" + std::to_string(i), values[i]});
    }
    return out;
}

void installMessageSink(std::ostream& err) {
    auto mutex = std::make_shared<std::mutex>();
    setMessageSink([&err, mutex](MessageLevel level, const std::string& text) {
        // "interface opened" and rate lines would garble tables and JSON on standard output.
        if (level == MessageLevel::Info)
            return;
        std::lock_guard<std::mutex> lock(*mutex);
        err << text << std::endl;
    });
}

int guarded(const char* command, Io& io, const std::function<int()>& body) {
    try {
        return body();
    } catch (const UsageError& e) {
        io.err << "velmora " << command << ": " << e.what() << "\n";
        return kUsage;
    } catch (const std::invalid_argument& e) {
        io.err << "velmora " << command << ": " << e.what() << "\n";
        return kUsage;
    } catch (const std::exception& e) {
        io.err << "velmora " << command << ": " << e.what() << "\n";
        return kHandFailed;
    }
}

}  // namespace tools
}  // namespace velmora
