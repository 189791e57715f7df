// velmora info: does the hand answer, what is it, how is the link.
#include <CLI/CLI.hpp>

#include <iomanip>
#include <mutex>
#include <nlohmann/json.hpp>
#include <sstream>
#include <thread>

#include "CanLog.h"
#include "FrameMeaning.h"
#include "Subcommands.h"
#include "velmora/Models.h"
#include "velmora/Protocol.h"

namespace velmora {
namespace tools {

namespace {

using namespace std::chrono_literals;

/// Collects the hand's frames on the channel while the session runs.
class Listener {
  public:
    Listener(std::unique_ptr<FrameTap> tap, std::uint32_t handId)
        : tap_(std::move(tap)), handId_(handId), thread_([this] { run(); }) {}
    ~Listener() {
        running_ = false;
        thread_.join();
    }
    Listener(const Listener&) = delete;
    Listener& operator=(const Listener&) = delete;

    std::vector<LoggedFrame> frames() {
        std::lock_guard<std::mutex> lock(mutex_);
        return frames_;
    }
    FrameTap& tap() { return *tap_; }

  private:
    void run() {
        while (running_) {
            std::optional<LoggedFrame> frame;
            try {
                frame = tap_->next(20ms);
            } catch (const std::exception&) {
                return;
            }
            if (frame && frame->id == handId_ && !frame->extended) {
                std::lock_guard<std::mutex> lock(mutex_);
                frames_.push_back(*frame);
            }
        }
    }

    std::unique_ptr<FrameTap> tap_;
    std::uint32_t handId_;
    std::atomic<bool> running_{true};
    std::mutex mutex_;
    std::vector<LoggedFrame> frames_;
    std::thread thread_;
};

std::string indent(const std::string& text) {
    std::string out, line;
    for (char c : text) {
        if (c == '\n') {
            out += "\n             " + line;
            line.clear();
        } else {
            line += c;
        }
    }
    if (!line.empty())
        out += "\n             " + line;
    return out;
}

std::string firmwareFrom(const std::string& version) {
    const std::string key = "Software Version: ";
    const std::size_t at = version.find(key);
    if (at == std::string::npos)
        return "";
    return version.substr(at + key.size(), version.find('\n', at) - at - key.size());
}

int runInfo(const HandOptions& given, bool json, Io& caller) {
    const HandOptions options = resolveHand(given);
    // The text, or else the same facts as one JSON object.
    std::ostringstream text;
    Io io{json ? text : caller.out, caller.err, caller.stop, caller.terminal};
    nlohmann::json doc;
    const VELMORA model = parseModel(options.model);
    const std::uint32_t side = parseSide(options.side);
    const std::string channel = sessionChannel(options);
    // Opened before the hand, so that the answers to its first requests are seen too.
    Listener listener(openTap(channel), side);
    HandSession session(options);
    hand::IHand& hand = session.hand();

    doc["model"] = models::modelName(model);
    doc["side"] = models::sideName(side);
    doc["identifier"] = side;
    doc["channel"] = session.channel();
    doc["simulated"] = options.sim;
    io.out << "hand:        " << models::modelName(model) << ", " << models::sideName(side)
           << ", CAN id 0x" << std::hex << side << std::dec << " on " << session.channel()
           << (options.sim ? " (simulated)" : "") << "\n";

    std::string version;
    const auto deadline = std::chrono::steady_clock::now() + session.timeout();
    const auto latency = session.waitForFirstReply(session.timeout(), io.stop);
    while (latency && !io.stop && std::chrono::steady_clock::now() < deadline + 200ms) {
        version = hand.getVersion();
        if (!version.empty())
            break;
        std::this_thread::sleep_for(10ms);
    }

    if (latency) {
        // The identifiers the model reports, asked for once the hand has answered (a request
        // carries the hand's identifier: the hand object counts it as a frame from the hand).
        for (const protocol::Command& c : protocol::commands(model)) {
            using protocol::Quantity;
            if (c.request &&
                (c.quantity == Quantity::Serial || c.quantity == Quantity::Uid ||
                 c.quantity == Quantity::SensorKind || c.quantity == Quantity::HandId)) {
                LoggedFrame request;
                request.id = side;
                request.len = 1;
                request.data[0] = c.code;
                listener.tap().send(request);
                std::this_thread::sleep_for(5ms);
            }
        }
    }

    const hand::HandHealth health = hand.health();
    doc["answered"] = latency.has_value();
    doc["latency_ms"] =
        latency ? nlohmann::json(std::chrono::duration<double, std::milli>(*latency).count())
                : nlohmann::json();
    if (latency) {
        io.out << "answered:    yes, first reply " << std::fixed << std::setprecision(1)
               << std::chrono::duration<double, std::milli>(*latency).count()
               << " ms after opening\n"
               << std::defaultfloat;
    } else {
        std::ostringstream line;
        line << "answered:    no: hand 0x" << std::hex << side << std::dec
             << " did not answer within " << session.timeout().count() << " ms\n";
        io.out << line.str();
        // With --json or a pipe, standard output may go where nobody reads it.
        io.err << "velmora info: answered: " << line.str().substr(line.str().find("no: "));
    }
    if (!version.empty()) {
        io.out << "version:" << indent(version) << "\n";
        const std::string firmware = firmwareFrom(version);
        doc["version"] = version;
        doc["firmware"] = firmware;
        if (!firmware.empty())
            io.out << "firmware:    " << firmware << "\n";
    }

    std::this_thread::sleep_for(latency ? 30ms : 0ms);  // the last identifiers' answers
    FrameDecoder decoder(model);
    std::map<std::string, std::string> reported;
    for (const LoggedFrame& frame : listener.frames()) {
        const FrameMeaning m = decoder.decode(frame);
        if (!m.command || m.direction != FrameMeaning::Direction::Reply)
            continue;
        using protocol::Quantity;
        switch (m.command->quantity) {
            case Quantity::SensorKind:
                reported["sensors"] = m.values;
                break;
            case Quantity::Matrix:
                if (frame.len == 3)
                    reported["sensors"] = "matrix sensors";
                break;
            case Quantity::Serial:
                reported["serial"] = m.values;
                break;
            case Quantity::Uid:
                reported["UID"] = m.values;
                break;
            case Quantity::HandId:
                reported["identifier"] = m.values;
                break;
            default:
                break;
        }
    }
    for (const auto& [key, value] : reported)
        doc["reported"][key] = value;
    doc["health"] = {{"frames_received", health.framesReceived},
                     {"frames_ignored", health.framesIgnored},
                     {"frames_dropped", health.framesDropped},
                     {"send_failures", health.sendFailures},
                     {"receive_errors", health.receiveErrors},
                     {"reconnects", health.reconnects},
                     {"channel_up", health.channelUp}};
    for (const auto& [key, value] : reported)
        io.out << std::left << std::setw(13) << (key + ":") << value << "\n";

    io.out << "health:      " << health.framesReceived << " frames received, "
           << health.framesIgnored << " ignored, " << health.framesDropped << " dropped, "
           << health.sendFailures << " send failures, " << health.receiveErrors
           << " receive errors, " << health.reconnects << " reconnects, channel "
           << (health.channelUp ? "up" : "down");
    if (health.lastFrameAge) {
        io.out << ", last frame " << std::fixed << std::setprecision(1)
               << std::chrono::duration<double, std::milli>(*health.lastFrameAge).count()
               << " ms ago" << std::defaultfloat;
    }
    io.out << "\n";
    if (json)
        caller.out << doc.dump(2) << "\n";
    return latency ? kSuccess : kHandFailed;
}

}  // namespace

void addInfo(CLI::App& app, Subcommands& commands) {
    auto options = std::make_shared<HandOptions>();
    CLI::App* command = app.add_subcommand(
        "info", "Does the hand answer: version, firmware, sensors, identifiers, link health");
    addHandOptions(command, *options);
    auto json = std::make_shared<bool>(false);
    command->add_flag("--json", *json, "One JSON object instead of the text");
    commands.add(command, [options, json](Io& io) {
        return guarded("info", io, [&] { return runInfo(*options, *json, io); });
    });
}

}  // namespace tools
}  // namespace velmora
