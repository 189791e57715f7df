// velmora interfaces: every CAN interface, its state and the kernel's counters.
#include "Interfaces.h"

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iomanip>

#include "Subcommands.h"

namespace velmora {
namespace tools {

namespace {

namespace fs = std::filesystem;

// ARPHRD_CAN
constexpr int kCanType = 280;
constexpr unsigned long kIffUp = 0x1;

std::string firstLine(const fs::path& file) {
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    return line;
}

std::uint64_t number(const fs::path& file, int base = 10) {
    const std::string text = firstLine(file);
    try {
        return text.empty() ? 0 : std::stoull(text, nullptr, base);
    } catch (const std::exception&) {
        return 0;  // not a number: as good as missing
    }
}

std::string counter(std::uint64_t value) {
    return std::to_string(value);
}

int runInterfaces(bool json, Io& io) {
    const std::vector<CanInterface> found = canInterfaces();
    if (json) {
        nlohmann::json doc = nlohmann::json::array();
        for (const CanInterface& i : found) {
            doc.push_back(
                {{"name", i.name},
                 {"state", i.up ? "up" : "down"},
                 {"operstate", i.operstate},
                 {"bitrate", i.bitrate == 0 ? nlohmann::json() : nlohmann::json(i.bitrate)},
                 {"rx_packets", i.rxPackets},
                 {"tx_packets", i.txPackets},
                 {"rx_errors", i.rxErrors},
                 {"tx_errors", i.txErrors},
                 {"rx_dropped", i.rxDropped},
                 {"tx_dropped", i.txDropped},
                 {"rx_over_errors", i.rxOverErrors}});
        }
        io.out << doc.dump(2) << "\n";
        return kSuccess;
    }
    if (found.empty()) {
        io.out << "no CAN interface\n";
        return kSuccess;
    }
    io.out << std::left << std::setw(12) << "INTERFACE" << std::setw(6) << "STATE" << std::setw(10)
           << "OPERSTATE" << std::setw(10) << "BITRATE" << std::setw(10) << "RX" << std::setw(10)
           << "TX" << std::setw(8) << "RX-ERR" << std::setw(8) << "TX-ERR" << std::setw(8)
           << "RX-DROP" << std::setw(8) << "TX-DROP"
           << "OVERRUN\n";
    for (const CanInterface& i : found) {
        io.out << std::setw(12) << i.name << std::setw(6) << (i.up ? "up" : "down") << std::setw(10)
               << i.operstate << std::setw(10)
               << (i.bitrate == 0 ? std::string("-") : std::to_string(i.bitrate)) << std::setw(10)
               << counter(i.rxPackets) << std::setw(10) << counter(i.txPackets) << std::setw(8)
               << counter(i.rxErrors) << std::setw(8) << counter(i.txErrors) << std::setw(8)
               << counter(i.rxDropped) << std::setw(8) << counter(i.txDropped)
               << counter(i.rxOverErrors) << "\n";
    }
    return kSuccess;
}

}  // namespace

std::vector<CanInterface> canInterfaces(const std::string& root) {
    std::vector<CanInterface> found;
    std::error_code error;
    for (const fs::directory_entry& entry : fs::directory_iterator(root, error)) {
        const fs::path dir = entry.path();
        if (number(dir / "type") != kCanType)
            continue;
        CanInterface i;
        i.name = dir.filename().string();
        i.up = (number(dir / "flags", 16) & kIffUp) != 0;
        i.operstate = firstLine(dir / "operstate");
        const fs::path stats = dir / "statistics";
        i.rxPackets = number(stats / "rx_packets");
        i.txPackets = number(stats / "tx_packets");
        i.rxErrors = number(stats / "rx_errors");
        i.txErrors = number(stats / "tx_errors");
        i.rxDropped = number(stats / "rx_dropped");
        i.txDropped = number(stats / "tx_dropped");
        i.rxOverErrors = number(stats / "rx_over_errors");
        found.push_back(std::move(i));
    }
    std::sort(found.begin(), found.end(),
              [](const CanInterface& a, const CanInterface& b) { return a.name < b.name; });
    return found;
}

void addInterfaces(CLI::App& app, Subcommands& commands) {
    auto json = std::make_shared<bool>(false);
    CLI::App* command = app.add_subcommand(
        "interfaces", "Every CAN interface: state, bit rate, the kernel's error and drop counters");
    command->add_flag("--json", *json, "One JSON array instead of the table");
    commands.add(command, [json](Io& io) {
        return guarded("interfaces", io, [&] { return runInterfaces(*json, io); });
    });
}

}  // namespace tools
}  // namespace velmora
