// velmora scan: which hands answer on a bus, and what each says it is.
#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <cstdio>
#include <iomanip>

#include "CanLog.h"
#include "Interfaces.h"
#include "Subcommands.h"
#include "velmora/Models.h"
#include "velmora/Scan.h"

namespace velmora {
namespace tools {

namespace {

struct ScanOptions {
    std::string channel = "can0";
    bool all = false;
    bool json = false;
    int timeoutMs = static_cast<int>(kScanTimeout.count());
    int bitrate = 1000000;
};

std::string hexId(std::uint32_t id) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%02x", static_cast<unsigned>(id));
    return text;
}

std::string modelColumn(const HandIdentity& h) {
    if (h.candidates.empty())
        return "unknown";
    std::string text;
    for (std::size_t i = 0; i < h.candidates.size(); ++i)
        text += (i == 0 ? "" : " or ") + std::string(models::modelName(h.candidates[i]));
    return h.complete ? text : text + "?";
}

std::string orDash(const std::string& text) {
    return text.empty() ? "-" : text;
}

double milliseconds(const HandIdentity& h) {
    return std::chrono::duration<double, std::milli>(h.latency).count();
}

nlohmann::json asJson(const std::string& channel, const HandIdentity& h) {
    nlohmann::json candidates = nlohmann::json::array();
    for (VELMORA m : h.candidates)
        candidates.push_back(models::modelName(m));
    return {{"channel", channel},
            {"identifier", h.identifier},
            {"side", models::sideName(h.side)},
            {"side_reported", h.sideReported},
            {"model", h.model() ? nlohmann::json(models::modelName(*h.model())) : nlohmann::json()},
            {"candidates", candidates},
            {"complete", h.complete},
            {"degrees_of_freedom", h.degreesOfFreedom},
            {"firmware", h.firmware},
            {"hardware", h.hardware},
            {"latency_ms", milliseconds(h)}};
}

int runScan(const ScanOptions& options, Io& io) {
    if (options.timeoutMs <= 0)
        throw UsageError("--timeout must be more than 0");
    std::vector<std::string> channels;
    if (options.all) {
        for (const CanInterface& i : canInterfaces()) {
            if (i.up)
                channels.push_back(i.name);
            else
                io.err << "velmora scan: " << i.name << " is down, not scanned\n";
        }
        if (channels.empty()) {
            io.err << "velmora scan: no CAN interface is up\n";
            return kHandFailed;
        }
    } else {
        if (!isVirtualChannel(options.channel))
            requireInterfaceUp(options.channel);
        channels.push_back(options.channel);
    }

    nlohmann::json doc = nlohmann::json::array();
    std::size_t hands = 0;
    bool header = false;
    for (const std::string& channel : channels) {
        const std::vector<HandIdentity> found =
            scan(channel, std::chrono::milliseconds(options.timeoutMs), options.bitrate);
        hands += found.size();
        if (found.empty())
            io.err << "velmora scan: no hand answered on " << channel << " within "
                   << options.timeoutMs << " ms\n";
        for (const HandIdentity& h : found) {
            if (options.json) {
                doc.push_back(asJson(channel, h));
                continue;
            }
            if (!header) {
                io.out << std::left << std::setw(14) << "CHANNEL" << std::setw(6) << "ID"
                       << std::setw(7) << "SIDE" << std::setw(18) << "MODEL" << std::setw(8)
                       << "JOINTS" << std::setw(10) << "FIRMWARE" << std::setw(10) << "HARDWARE"
                       << "LATENCY\n";
                header = true;
            }
            io.out << std::setw(14) << channel << std::setw(6) << hexId(h.identifier)
                   << std::setw(7) << models::sideName(h.side) << std::setw(18) << modelColumn(h)
                   << std::setw(8)
                   << (h.degreesOfFreedom ? std::to_string(h.degreesOfFreedom) : "-")
                   << std::setw(10) << orDash(h.firmware) << std::setw(10) << orDash(h.hardware)
                   << std::fixed << std::setprecision(1) << milliseconds(h) << " ms"
                   << std::defaultfloat << "\n";
        }
    }
    if (options.json)
        io.out << doc.dump(2) << "\n";
    return hands > 0 ? kSuccess : kHandFailed;
}

}  // namespace

void addScan(CLI::App& app, Subcommands& commands) {
    auto options = std::make_shared<ScanOptions>();
    CLI::App* command = app.add_subcommand(
        "scan", "Which hands answer on the bus: identifier, side, model, versions, latency");
    auto* channel = command
                        ->add_option("--channel,-c", options->channel,
                                     "SocketCAN interface (can0, vcan0, ...) or virtual:NAME")
                        ->capture_default_str();
    command->add_flag("--all", options->all, "Every CAN interface that is up")->excludes(channel);
    command->add_flag("--json", options->json, "One JSON array instead of the table");
    command
        ->add_option("--timeout", options->timeoutMs, "Milliseconds to wait for the hands' answers")
        ->capture_default_str();
    command->add_option("--bitrate,-b", options->bitrate, "Bit rate of a real interface")
        ->capture_default_str();
    commands.add(command, [options](Io& io) {
        return guarded("scan", io, [&] { return runScan(*options, io); });
    });
}

}  // namespace tools
}  // namespace velmora
