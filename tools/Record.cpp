// velmora record: every frame on the interface, in can-utils' log format.
#include <CLI/CLI.hpp>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>

#include "CanLog.h"
#include "Subcommands.h"

namespace velmora {
namespace tools {

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

struct RecordOptions {
    std::string channel;
    std::string output;
    long long count = 0;
    double seconds = 0;
    std::vector<std::string> ids;
};

int runRecord(const RecordOptions& options, Io& io) {
    if (options.count < 0)
        throw UsageError("--count must be 0 or more");
    if (options.seconds < 0 || !(options.seconds == options.seconds))
        throw UsageError("--seconds must be 0 or more");
    std::vector<std::uint32_t> wanted;
    for (const std::string& id : options.ids)
        wanted.push_back(parseCanId(id));
    std::unique_ptr<FrameTap> tap = openTap(options.channel);
    std::ofstream file;
    if (!options.output.empty()) {
        file.open(options.output, std::ios::out | std::ios::trunc);
        if (!file)
            throw std::runtime_error("cannot write " + options.output + ": " +
                                     std::strerror(errno));
    }
    std::ostream& log = options.output.empty() ? io.out : file;

    const auto start = Clock::now();
    const auto end = start + std::chrono::duration_cast<Clock::duration>(
                                 std::chrono::duration<double>(options.seconds));
    auto nextReport = start + 1s;
    long long total = 0, sinceReport = 0;
    while (!io.stop) {
        const auto now = Clock::now();
        if (options.seconds > 0 && now >= end)
            break;
        if (options.count > 0 && total >= options.count)
            break;
        if (now >= nextReport) {
            io.err << "frames/s: " << sinceReport << std::endl;
            sinceReport = 0;
            nextReport += 1s;
        }
        auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(nextReport - now) + 1ms;
        if (options.seconds > 0)
            wait = std::min(wait,
                            std::chrono::duration_cast<std::chrono::milliseconds>(end - now) + 1ms);
        wait = std::min<std::chrono::milliseconds>(wait, 100ms);
        const std::optional<LoggedFrame> frame = tap->next(wait);
        if (!frame ||
            (!wanted.empty() && std::find(wanted.begin(), wanted.end(), frame->id) == wanted.end()))
            continue;
        log << formatLogLine(*frame) << '\n';
        if (options.output.empty())
            log.flush();  // a pipe reader sees each frame as it comes
        ++total;
        ++sinceReport;
    }
    log.flush();
    if (!log)
        throw std::runtime_error("writing the log failed");
    io.err << "recorded " << total << " frames" << std::endl;
    if (const auto dropped = tap->dropped())
        io.err << "dropped by the kernel: " << *dropped << " frames" << std::endl;
    return kSuccess;
}

}  // namespace

void addRecord(CLI::App& app, Subcommands& commands) {
    auto options = std::make_shared<RecordOptions>();
    CLI::App* command = app.add_subcommand(
        "record", "Record every frame on an interface as candump -L does (canplayer reads it)");
    command
        ->add_option("--channel,-c", options->channel,
                     "SocketCAN interface (can0, vcan0, ...) or virtual:NAME in this process")
        ->required();
    command->add_option("--output,-o", options->output, "Log file (default: standard output)");
    auto* count = command->add_option("--count,-n", options->count, "Stop after this many frames");
    command->add_option("--seconds", options->seconds, "Stop after this many seconds")
        ->excludes(count);
    command->add_option("--id", options->ids, "Record only frames of these identifiers (0x27,0x28)")
        ->delimiter(',');
    commands.add(command, [options](Io& io) {
        return guarded("record", io, [&] { return runRecord(*options, io); });
    });
}

}  // namespace tools
}  // namespace velmora
