// velmora decode: a can-utils log read in a model's protocol.
#include <CLI/CLI.hpp>

#include <cstdio>
#include <iomanip>
#include <map>

#include "CanLog.h"
#include "FrameMeaning.h"
#include "Subcommands.h"

namespace velmora {
namespace tools {

namespace {

struct DecodeOptions {
    std::string file;
    std::string model;
    double gapMs = 100;
};

std::string rawText(const LoggedFrame& frame) {
    LoggedFrame copy = frame;
    copy.interface.clear();
    const std::string line = formatLogLine(copy);
    return line.substr(line.find(' ') + 2);  // "ID#DATA"
}

int runDecode(const DecodeOptions& options, Io& io) {
    if (options.gapMs < 0)
        throw UsageError("--gap must be 0 or more");
    const VELMORA model = parseModel(options.model);
    const std::vector<LoggedFrame> frames = readLog(options.file);
    FrameDecoder decoder(model);
    std::map<std::string, long> counts;
    long unknown = 0;
    struct Gap {
        double start, length;
        std::size_t index;
    };
    std::vector<Gap> gaps;
    const double first = frames.empty() ? 0 : frames.front().time();
    for (std::size_t i = 0; i < frames.size(); ++i) {
        const LoggedFrame& frame = frames[i];
        if (i > 0) {
            const double gap = frame.time() - frames[i - 1].time();
            if (gap * 1000 > options.gapMs)
                gaps.push_back({frames[i - 1].time() - first, gap, i});
        }
        const FrameMeaning m = decoder.decode(frame);
        char stamp[32];
        std::snprintf(stamp, sizeof stamp, "%10.6f", frame.time() - first);
        io.out << stamp << "  " << std::left << std::setw(22) << rawText(frame) << " ";
        std::string key;
        if (!m.command) {
            char code[8] = "";
            if (frame.len > 0 && !frame.remote)
                std::snprintf(code, sizeof code, "0x%02X", frame.data[0]);
            io.out << "raw     "
                   << (frame.len && !frame.remote ? std::string("unknown code ") + code
                                                  : std::string("no command byte"));
            if (!m.values.empty())
                io.out << ": " << m.values;
            key = std::string("raw ") + (frame.len && !frame.remote ? code : "(empty)");
            ++unknown;
        } else {
            char code[8];
            std::snprintf(code, sizeof code, "0x%02X", m.command->code);
            io.out << std::setw(8) << directionName(m.direction) << m.command->name << " (" << code
                   << ")";
            if (!m.values.empty()) {
                io.out << ": " << m.values;
                if (*m.command->unit && m.direction != FrameMeaning::Direction::Write)
                    io.out << " " << m.command->unit;
            }
            key =
                std::string(directionName(m.direction)) + " " + m.command->name + " (" + code + ")";
        }
        io.out << "\n";
        ++counts[key];
    }

    io.out << "\nsummary: " << frames.size() << " frames";
    if (frames.size() > 1)
        io.out << " in " << std::fixed << std::setprecision(3) << frames.back().time() - first
               << " s" << std::defaultfloat;
    io.out << ", " << unknown << " not in the " << options.model << " protocol\n";
    for (const auto& [key, n] : counts)
        io.out << "  " << std::right << std::setw(6) << n << "  " << key << "\n";
    io.out << "gaps above " << options.gapMs << " ms: " << gaps.size() << "\n";
    for (const Gap& g : gaps) {
        char line[96];
        std::snprintf(line, sizeof line, "  %.1f ms after %.6f s (before frame %zu)\n",
                      g.length * 1000, g.start, g.index + 1);
        io.out << line;
    }
    return kSuccess;
}

}  // namespace

void addDecode(CLI::App& app, Subcommands& commands) {
    auto options = std::make_shared<DecodeOptions>();
    CLI::App* command = app.add_subcommand(
        "decode", "Print each frame of a candump -L log with its meaning in a model's protocol");
    command->add_option("file", options->file, "Log in can-utils' format")->required();
    addModelOption(command, options->model);
    command->add_option("--gap", options->gapMs, "Report silences longer than this many ms")
        ->capture_default_str();
    commands.add(command, [options](Io& io) {
        return guarded("decode", io, [&] { return runDecode(*options, io); });
    });
}

}  // namespace tools
}  // namespace velmora
