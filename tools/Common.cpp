#include "Common.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <thread>

#include "CanLog.h"
#include "velmora/HandException.h"
#include "velmora/HandFactory.h"
#include "velmora/MessageSink.h"
#include "velmora/Models.h"
#include "velmora/Protocol.h"
#include "velmora/Scan.h"
#include "velmora/sim/SimulatedHand.h"

namespace velmora {
namespace tools {

namespace {

constexpr char kAuto[] = "auto";

CLI::Validator modelValidator(bool allowAuto = false) {
    return CLI::Validator(
        [allowAuto](std::string& value) -> std::string {
            return models::modelFromName(value) || (allowAuto && value == kAuto)
                       ? ""
                       : "unknown model '" + value + "': choose " + models::modelChoices() +
                             (allowAuto ? ", or auto" : "");
        },
        "MODEL");
}

std::string hexId(std::uint32_t id) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%02x", static_cast<unsigned>(id));
    return text;
}

// "(use --model tovin)": what the caller could name instead.
std::string suggestion(const HandIdentity& id, std::uint32_t side) {
    if (id.sideReported && id.side != side)
        return "(use --side " + std::string(models::sideName(id.side)) + ")";
    if (id.candidates.empty())
        return "(--force sends anyway)";
    std::string text = "(use";
    for (std::size_t i = 0; i < id.candidates.size(); ++i)
        text +=
            std::string(i == 0 ? " " : " or ") + "--model " + models::modelName(id.candidates[i]);
    return text + ")";
}

void checkChannel(const std::string& channel) {
    std::error_code noSuch;
    if (!factory::HandFactory::containsIgnoreCase(channel, "can") && !channel.empty() &&
        channel.find('/') == std::string::npos &&
        std::filesystem::exists("/sys/class/net/" + channel, noSuch))
        throw UsageError(channel + " is not a CAN interface");
    if (!factory::HandFactory::containsIgnoreCase(channel, "can"))
        throw UsageError("channel '" + channel +
                         "' cannot carry a hand: its name must contain \"can\" (can0, vcan0, "
                         "virtual:can0)");
    if (!isVirtualChannel(channel))
        requireInterfaceUp(channel);
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

void addModelOption(CLI::App* command, std::string& model, bool required, const std::string& help) {
    auto* option = command
                       ->add_option("--model,-m", model,
                                    help.empty() ? "Hand model: " + models::modelChoices() : help)
                       ->check(modelValidator());
    if (required)
        option->required();
}

void addSideOption(CLI::App* command, std::string& side, bool& given) {
    command->add_option("--side,-s", side, "left or right (the hand's CAN identifier)")
        ->capture_default_str()
        ->each([&given](const std::string&) { given = true; })
        ->check(CLI::Validator(
            [](std::string& v) -> std::string {
                return models::sideFromName(v) ? ""
                                               : "unknown side '" + v + "': choose left or right";
            },
            "SIDE"));
}

void addHandOptions(CLI::App* command, HandOptions& options, bool modelRequired) {
    auto* model = command
                      ->add_option("--model,-m", options.model,
                                   "Hand model: " + models::modelChoices() +
                                       ", or auto for the one hand that answers")
                      ->check(modelValidator(true));
    if (modelRequired)
        model->required();
    command->add_flag("--force", options.force,
                      "Send even when the hand reports another model or side");
    addSideOption(command, options.side, options.sideGiven);
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

std::vector<HandIdentity> handsAnswering(const HandOptions& options) {
    const std::chrono::milliseconds timeout(options.timeoutMs);
    if (!options.sideGiven)
        return scan(options.channel, timeout, options.bitrate);
    std::vector<HandIdentity> found;
    if (auto one = identify(options.channel, parseSide(options.side), timeout, options.bitrate))
        found.push_back(*one);
    return found;
}

std::optional<HandOptions> theOneHand(const HandOptions& options,
                                      const std::vector<HandIdentity>& found) {
    if (found.size() != 1 || !found[0].model())
        return std::nullopt;
    HandOptions resolved = options;
    resolved.model = models::modelName(*found[0].model());
    resolved.side = models::sideName(found[0].identifier);
    resolved.identified = true;
    return resolved;
}

HandOptions resolveHand(const HandOptions& options) {
    if (options.model != kAuto)
        return options;
    if (options.sim)
        throw UsageError("--model auto looks for the hand on the bus: name the model --sim plays");
    if (options.timeoutMs < 0)
        throw UsageError("--timeout must be 0 or more");
    checkChannel(options.channel);
    const std::vector<HandIdentity> found = handsAnswering(options);
    if (auto resolved = theOneHand(options, found))
        return *resolved;
    if (found.empty())
        throw UsageError("--model auto: no hand answered on " + options.channel + " within " +
                         std::to_string(options.timeoutMs) + " ms");
    std::string text =
        "--model auto: " +
        (found.size() == 1 ? "hand " + hexId(found[0].identifier) + " cannot tell which model it is"
                           : std::to_string(found.size()) + " hands answered") +
        " on " + options.channel + "; name one with --model and --side:";
    for (const HandIdentity& h : found)
        text += "\n  " + hexId(h.identifier) + " " + models::sideName(h.identifier) + ": " +
                h.modelText().substr(2) + ", " + h.reported();
    throw UsageError(text);
}

void checkIdentity(const HandOptions& options, const std::string& channel) {
    if (options.identified || (options.force && !options.requireAnswer))
        return;
    const VELMORA model = parseModel(options.model);
    const std::uint32_t side = parseSide(options.side);
    const auto id =
        identify(channel, side, std::chrono::milliseconds(options.timeoutMs), options.bitrate);
    if (!id) {
        if (options.requireAnswer)
            throw NoAnswerError("no hand answered on " + channel + " as " + models::sideName(side) +
                                " (" + hexId(side) + ") within " +
                                std::to_string(options.timeoutMs) + " ms; nothing sent");
        return;
    }
    if (options.force)
        return;
    const std::string why = contradiction(*id, model, side);
    if (!why.empty())
        throw MismatchError("hand " + hexId(side) + " on " + channel + " reports " +
                            id->reported() + ": " + why + " " + suggestion(*id, side));
}

HandSession::HandSession(const HandOptions& given)
    : options_(resolveHand(given)),
      model_(parseModel(options_.model)),
      side_(parseSide(options_.side)),
      channel_(sessionChannel(options_)),
      timeout_(options_.timeoutMs) {
    const HandOptions& options = options_;
    if (options.timeoutMs < 0)
        throw UsageError("--timeout must be 0 or more");
    if (options.bitrate <= 0)
        throw UsageError("--bitrate must be more than 0");
    checkChannel(channel_);
    if (options.sim) {
        sim::SimConfig config;
        config.model = model_;
        config.handId = side_;
        simulated_ = std::make_unique<sim::SimulatedHand>(sim::openSimChannel(channel_), config);
    }
    // Before the hand object exists: some models send commands as they open.
    checkIdentity(options, channel_);
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

ByteVector holdWith(const std::function<ByteVector()>& readNow,
                    const std::function<void(const ByteVector&)>& command) {
    const ByteVector now = readNow();
    command(now);
    return now;
}

ByteVector holdHand(hand::IHand& hand, std::chrono::milliseconds timeout) {
    holdWith([&] { return hand.readState(timeout); },
             [&](const ByteVector& positions) { hand.setJointPositions(positions); });
    return hand.readState(timeout);
}

ByteVector holdHand(HandSession& session) {
    return holdHand(session.hand(), session.timeout());
}

void holdOnInterrupt(const char* command, HandSession& session, Io& io) {
    io.err << "velmora " << command << ": interrupted; holding the hand at its positions\n";
    try {
        holdHand(session);
    } catch (const std::exception& e) {
        io.err << "velmora " << command << ": could not hold the hand: " << e.what() << "\n";
    }
}

std::optional<StampedReading> awaitReading(HandStream& stream, hand::Reading what,
                                           std::uint64_t after, std::chrono::milliseconds timeout,
                                           const std::atomic<bool>& stop) {
    using Clock = std::chrono::steady_clock;
    // next() does not see `stop`: wait in slices short enough that Ctrl-C ends the wait at once.
    constexpr std::chrono::milliseconds kSlice{20};
    const auto end = Clock::now() + timeout;
    while (!stop) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(end - Clock::now());
        if (auto reading =
                stream.next(what, after, std::clamp(left, std::chrono::milliseconds(0), kSlice)))
            return reading;
        if (Clock::now() >= end)
            break;
    }
    return std::nullopt;
}

std::string handIdText(std::uint32_t id) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%02X", static_cast<unsigned>(id));
    return text;
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

std::uint32_t parseCanId(const std::string& text) {
    constexpr unsigned long kLargestId = 0x1FFFFFFF;
    std::size_t used = 0;
    unsigned long id = 0;
    try {
        id = std::stoul(text, &used, 0);
    } catch (const std::exception&) {
        used = 0;
    }
    if (used == 0 || used != text.size() || text[0] == '-' || id > kLargestId)
        throw UsageError("--id '" + text + "' is not a CAN identifier (0x27, 40, 0x7F7)");
    return static_cast<std::uint32_t>(id);
}

std::string unknownCommand(const std::string& typed, const std::vector<std::string>& names) {
    // Edit distance: a letter left out, added, changed or two swapped count one each.
    const auto distance = [](const std::string& a, const std::string& b) {
        std::vector<std::vector<std::size_t>> d(a.size() + 1,
                                                std::vector<std::size_t>(b.size() + 1));
        for (std::size_t i = 0; i <= a.size(); ++i)
            d[i][0] = i;
        for (std::size_t j = 0; j <= b.size(); ++j)
            d[0][j] = j;
        for (std::size_t i = 1; i <= a.size(); ++i) {
            for (std::size_t j = 1; j <= b.size(); ++j) {
                d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1,
                                    d[i - 1][j - 1] + (a[i - 1] == b[j - 1] ? 0 : 1)});
                if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1])
                    d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
            }
        }
        return d[a.size()][b.size()];
    };
    std::string best;
    std::size_t bestDistance = 3;  // further than two edits is no longer a typing slip
    for (const std::string& name : names) {
        const std::size_t d = distance(typed, name);
        if (d < bestDistance) {
            best = name;
            bestDistance = d;
        }
    }
    return "unknown command '" + typed + "'" +
           (best.empty() ? ": velmora --help lists the subcommands"
                         : ": did you mean '" + best + "'?");
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
