// velmora replay: send a log's frames with their recorded timing.
#include <CLI/CLI.hpp>

#include <optional>
#include <thread>

#include "CanLog.h"
#include "Subcommands.h"
#include "velmora/Models.h"
#include "velmora/Scan.h"

namespace velmora {
namespace tools {

namespace {

using Clock = std::chrono::steady_clock;

struct ReplayOptions {
    std::string file;
    std::string channel;
    double speed = 1;
    bool loop = false;
    std::string model;  // empty: the one hand that answers
    std::string side = "right";
    bool sideGiven = false;
};

// The hand a replay holds after Ctrl-C: the one named, or else the one hand that answers on the
// channel. Empty, having said why, when there is none to hold.
std::optional<HandOptions> handToHold(const ReplayOptions& options, Io& io) {
    HandOptions hand;
    hand.channel = options.channel;
    hand.side = options.side;
    hand.sideGiven = options.sideGiven;
    hand.requireAnswer = true;  // nothing goes to a hand that is not there
    if (!options.model.empty()) {
        hand.model = options.model;
        return hand;
    }
    const std::chrono::milliseconds timeout(hand.timeoutMs);
    const std::vector<HandIdentity> found = handsAnswering(hand);
    if (auto one = theOneHand(hand, found))
        return one;
    io.err << "velmora replay: interrupted; ";
    if (found.empty())
        io.err << "no hand answered on " << options.channel << " within " << timeout.count()
               << " ms, so none is held\n";
    else if (found.size() == 1)
        io.err << "the hand on " << options.channel
               << " cannot tell which model it is, so it is not held (--model names it)\n";
    else
        io.err << found.size() << " hands answered on " << options.channel
               << ", so none is held (--model and --side name one)\n";
    return std::nullopt;
}

// Stops the hand where the log left it, rather than letting it run on to the last target sent.
void holdAfterInterrupt(const ReplayOptions& options, Io& io) {
    try {
        const std::optional<HandOptions> hand = handToHold(options, io);
        if (!hand)
            return;
        HandSession session(*hand);
        holdOnInterrupt("replay", session, io);
    } catch (const std::exception& e) {
        io.err << "velmora replay: interrupted; not holding the hand: " << e.what() << "\n";
    }
}

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
    if (!io.stop)
        return kSuccess;
    holdAfterInterrupt(options, io);
    return kInterrupted;
}

}  // namespace

void addReplay(CLI::App& app, Subcommands& commands) {
    auto options = std::make_shared<ReplayOptions>();
    CLI::App* command = app.add_subcommand(
        "replay", "Send a log's frames on an interface with their timing (Ctrl-C holds the hand)");
    command->add_option("file", options->file, "Log in can-utils' format (candump -L)")->required();
    command
        ->add_option("--channel,-c", options->channel,
                     "SocketCAN interface (can0, vcan0, ...) or virtual:NAME in this process")
        ->required();
    command->add_option("--speed", options->speed, "Play this many times faster")
        ->capture_default_str();
    command->add_flag("--loop", options->loop, "Start again at the end until interrupted");
    addModelOption(command, options->model, false,
                   "The hand Ctrl-C holds where it stands: " + models::modelChoices() +
                       " (without it: the one hand that answers on the channel)");
    addSideOption(command, options->side, options->sideGiven);
    commands.add(command, [options](Io& io) {
        return guarded("replay", io, [&] { return runReplay(*options, io); });
    });
}

}  // namespace tools
}  // namespace velmora
