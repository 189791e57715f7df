// velmora replay: send a log's frames with their recorded timing.
#include <CLI/CLI.hpp>

#include <thread>

#include "CanLog.h"
#include "Subcommands.h"

namespace velmora {
namespace tools {

namespace {

using Clock = std::chrono::steady_clock;

struct ReplayOptions {
    std::string file;
    std::string channel;
    double speed = 1;
    bool loop = false;
};

int runReplay(const ReplayOptions& options, Io& io) {
    if (!(options.speed > 0))
        throw UsageError("--speed must be more than 0");
    const std::vector<LoggedFrame> frames = readLog(options.file);
    if (frames.empty()) {
        io.err << "velmora replay: " << options.file << " holds no frames\n";
        return kSuccess;
    }
    std::unique_ptr<FrameTap> tap = openTap(options.channel);
    long long sent = 0;
    do {
        const auto start = Clock::now();
        const double first = frames.front().time();
        for (const LoggedFrame& frame : frames) {
            const double offset = (frame.time() - first) / options.speed;
            const auto due = start + std::chrono::duration_cast<Clock::duration>(
                                         std::chrono::duration<double>(std::max(0.0, offset)));
            // Sleep in short steps, so that Ctrl-C stops a long gap at once.
            while (!io.stop && Clock::now() < due)
                std::this_thread::sleep_for(
                    std::min<Clock::duration>(due - Clock::now(), std::chrono::milliseconds(50)));
            if (io.stop)
                break;
            tap->send(frame);
            ++sent;
        }
    } while (options.loop && !io.stop);
    io.err << "sent " << sent << " frames on " << options.channel << "\n";
    return kSuccess;
}

}  // namespace

void addReplay(CLI::App& app, Subcommands& commands) {
    auto options = std::make_shared<ReplayOptions>();
    CLI::App* command =
        app.add_subcommand("replay", "Send a log's frames on an interface with their timing");
    command->add_option("file", options->file, "Log in can-utils' format (candump -L)")->required();
    command
        ->add_option("--channel,-c", options->channel,
                     "SocketCAN interface (can0, vcan0, ...) or virtual:NAME in this process")
        ->required();
    command->add_option("--speed", options->speed, "Play this many times faster")
        ->capture_default_str();
    command->add_flag("--loop", options->loop, "Start again at the end until interrupted");
    commands.add(command, [options](Io& io) {
        return guarded("replay", io, [&] { return runReplay(*options, io); });
    });
}

}  // namespace tools
}  // namespace velmora
