// velmora decode: a can-utils log read in a model's protocol.
#include <CLI/CLI.hpp>

#include <linux/can.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <map>

#include "CanLog.h"
#include "FrameMeaning.h"
#include "Subcommands.h"
#include "velmora/Scan.h"

namespace velmora {
namespace tools {

namespace {

struct DecodeOptions {
    std::string file;
    std::string model;
    double gapMs = 100;
    std::vector<std::string> ids;
    std::string side;
};

std::string rawText(const LoggedFrame& frame) {
    LoggedFrame copy = frame;
    copy.interface.clear();
    const std::string line = formatLogLine(copy);
    return line.substr(line.find(' ') + 2);  // "ID#DATA"
}

bool isHandIdentifier(const LoggedFrame& frame) {
    return !frame.extended && (frame.id == RIGHT || frame.id == LEFT);
}

// The version requests of every model, which `velmora scan` and the identity check send to
// whatever hand is there.
bool isIdentityRequest(const LoggedFrame& frame) {
    const std::vector<std::uint8_t> codes = versionRequests();
    return !frame.remote && frame.len == 1 &&
           std::find(codes.begin(), codes.end(), frame.data[0]) != codes.end();
}

std::vector<std::uint32_t> identifiers(const DecodeOptions& options) {
    std::vector<std::uint32_t> out;
    for (const std::string& text : options.ids)
        out.push_back(parseCanId(text));
    if (!options.side.empty())
        out.push_back(parseSide(options.side));
    return out;
}

/// Decodes a log line by line, printing each frame as it comes, and sums it up at the end.
class LogPrinter {
  public:
    LogPrinter(const DecodeOptions& options, std::vector<std::uint32_t> wanted, Io& io, bool flush)
        : options_(options),
          wanted_(std::move(wanted)),
          io_(io),
          flush_(flush),
          decoder_(parseModel(options.model)) {}

    /// Takes one line; throws std::runtime_error for a line that is no log line at all.
    void line(std::string text, std::size_t number, const std::string& source) {
        if (!text.empty() && text.back() == '\r')
            text.pop_back();
        if (text.find_first_not_of(" \t") == std::string::npos)
            return;
        std::string error;
        const auto frame = parseLogLine(text, error);
        if (!frame) {
            // A log line whose frame this command cannot take (CAN FD, an error frame, a line
            // cut off as a log was written) is shown and counted; anything else is no log.
            if (text[0] != '(')
                throw std::runtime_error(source + ":" + std::to_string(number) + ": " + error);
            ++untaken_;
            io_.out << "not taken (line " << number << ", " << error << "): " << text << "\n";
            if (flush_)
                io_.out.flush();
            return;
        }
        if (!wanted_.empty() &&
            std::find(wanted_.begin(), wanted_.end(), frame->id) == wanted_.end())
            return;
        print(*frame);
    }

    void summary() {
        io_.out << "\nsummary: " << frames_ << " frames";
        if (frames_ > 1)
            io_.out << " in " << std::fixed << std::setprecision(3) << last_ - first_ << " s"
                    << std::defaultfloat;
        io_.out << ", " << unknown_ << " not in the " << options_.model << " protocol, " << untaken_
                << (untaken_ == 1 ? " line" : " lines") << " not taken\n";
        for (const auto& [key, n] : counts_)
            io_.out << "  " << std::right << std::setw(6) << n << "  " << key << "\n";
        io_.out << "gaps above " << options_.gapMs << " ms: " << gaps_.size() << "\n";
        for (const Gap& g : gaps_) {
            char line[96];
            std::snprintf(line, sizeof line, "  %.1f ms after %.6f s (before frame %zu)\n",
                          g.length * 1000, g.start, g.index + 1);
            io_.out << line;
        }
    }

  private:
    struct Gap {
        double start, length;
        std::size_t index;
    };

    void print(const LoggedFrame& frame) {
        if (frames_ == 0) {
            first_ = frame.time();
        } else {
            const double gap = frame.time() - last_;
            if (gap * 1000 > options_.gapMs)
                gaps_.push_back({last_ - first_, gap, frames_});
        }
        last_ = frame.time();
        ++frames_;
        const bool hand = isHandIdentifier(frame);
        const FrameMeaning m = hand ? decoder_.decode(frame) : FrameMeaning{};
        char stamp[32];
        std::snprintf(stamp, sizeof stamp, "%10.6f", frame.time() - first_);
        io_.out << stamp << "  " << std::left << std::setw(22) << rawText(frame) << " ";
        std::string key;
        if (!m.command && isIdentityRequest(frame)) {
            char code[8];
            std::snprintf(code, sizeof code, "0x%02X", frame.data[0]);
            io_.out << std::setw(8) << "request"
                    << "identity (" << code << ")";
            key = std::string("request identity (") + code + ")";
        } else if (!m.command) {
            char code[8] = "";
            if (frame.len > 0 && !frame.remote)
                std::snprintf(code, sizeof code, "0x%02X", frame.data[0]);
            io_.out << "raw     "
                    << (!hand                        ? std::string("not a hand's identifier")
                        : frame.len && !frame.remote ? std::string("unknown code ") + code
                                                     : std::string("no command byte"));
            if (!m.values.empty())
                io_.out << ": " << m.values;
            key = std::string("raw ") + (!hand                        ? "(other identifier)"
                                         : frame.len && !frame.remote ? code
                                                                      : "(empty)");
            ++unknown_;
        } else {
            char code[8];
            std::snprintf(code, sizeof code, "0x%02X", m.command->code);
            io_.out << std::setw(8) << directionName(m.direction) << m.command->name << " (" << code
                    << ")";
            if (!m.values.empty()) {
                io_.out << ": " << m.values;
                if (*m.command->unit && m.direction != FrameMeaning::Direction::Write)
                    io_.out << " " << m.command->unit;
            }
            key =
                std::string(directionName(m.direction)) + " " + m.command->name + " (" + code + ")";
        }
        io_.out << "\n";
        if (flush_)
            io_.out.flush();
        ++counts_[key];
    }

    const DecodeOptions& options_;
    std::vector<std::uint32_t> wanted_;
    Io& io_;
    bool flush_;
    FrameDecoder decoder_;
    std::map<std::string, long> counts_;
    long unknown_ = 0, untaken_ = 0;
    std::size_t frames_ = 0;
    double first_ = 0, last_ = 0;
    std::vector<Gap> gaps_;
};

int runDecode(const DecodeOptions& options, Io& io) {
    if (options.gapMs < 0)
        throw UsageError("--gap must be 0 or more");
    parseModel(options.model);
    const bool piped = options.file == "-";
    LogPrinter printer(options, identifiers(options), io, piped);
    std::ifstream file;
    if (!piped) {
        std::error_code error;
        const auto status = std::filesystem::status(options.file, error);
        if (std::filesystem::exists(status) && !std::filesystem::is_regular_file(status) &&
            !std::filesystem::is_fifo(status))
            throw std::runtime_error(options.file + " is not a regular file");
        file.open(options.file);
        if (!file)
            throw std::runtime_error("cannot read " + options.file + ": " + std::strerror(errno));
    }
    std::istream& in = piped ? *io.in : file;
    const std::string source = piped ? "standard input" : options.file;
    std::size_t number = 0;
    for (std::string line; !io.stop && std::getline(in, line);)
        printer.line(line, ++number, source);
    printer.summary();
    return kSuccess;
}

}  // namespace

void addDecode(CLI::App& app, Subcommands& commands) {
    auto options = std::make_shared<DecodeOptions>();
    CLI::App* command = app.add_subcommand(
        "decode", "Print each frame of a candump -L log with its meaning in a model's protocol");
    command
        ->add_option("file", options->file,
                     "Log in can-utils' format, or - to read standard input as it comes")
        ->required();
    addModelOption(command, options->model);
    command->add_option("--gap", options->gapMs, "Report silences longer than this many ms")
        ->capture_default_str();
    command->add_option("--id", options->ids, "Show only frames of these identifiers (0x27,0x7F7)")
        ->delimiter(',');
    command->add_option("--side", options->side,
                        "Show only the frames of this hand: left or right");
    commands.add(command, [options](Io& io) {
        return guarded("decode", io, [&] { return runDecode(*options, io); });
    });
}

}  // namespace tools
}  // namespace velmora
