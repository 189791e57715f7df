#pragma once

// What the subcommands share: the common options, the hand they open, exit statuses and the
// labels of joints, fingers and slots.

#include <atomic>
#include <chrono>
#include <functional>
#include <iostream>
#include <memory>
#include <optional>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "velmora/HandStream.h"
#include "velmora/IHand.h"
#include "velmora/Scan.h"
#include "velmora/VelmoraTypes.h"

namespace CLI {
class App;
}

namespace velmora {
namespace sim {
class SimulatedHand;
}
namespace tools {

/// Exit statuses of the command.
enum Exit : int {
    kSuccess = 0,
    kHandFailed = 1,     ///< no answer, interface missing or down
    kUsage = 2,          ///< bad arguments
    kInterrupted = 130,  ///< Ctrl-C (SIGINT) ended a command that would have gone on
};

/// Bad arguments found after parsing: the command says `what` and exits with kUsage.
struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct Io {
    std::ostream& out;
    std::ostream& err;
    const std::atomic<bool>& stop;
    /// True when `out` is the process's standard output and that is a terminal.
    bool terminal;
    /// What `-` reads.
    std::istream* in = &std::cin;
};

/// Runs a parsed subcommand; returns its exit status.
using Runner = std::function<int(Io&)>;

/// The subcommands registered on the command line, each with what runs it.
struct Subcommands {
    void add(CLI::App* app, Runner run) { entries.push_back({app, std::move(run)}); }
    struct Entry {
        CLI::App* app;
        Runner run;
    };
    std::vector<Entry> entries;
};

/// --model, --side, --channel, --bitrate, --sim.
struct HandOptions {
    std::string model;
    std::string side = "right";
    std::string channel = "can0";
    int bitrate = 1000000;
    bool sim = false;
    /// Milliseconds a fresh read waits for the hand.
    int timeoutMs = 500;
    /// Send even to a hand whose report contradicts the model.
    bool force = false;
    /// --side was given (with --model auto, only that identifier is asked).
    bool sideGiven = false;
    /// The hand already said it is this model and side (--model auto found it).
    bool identified = false;
    /// The session refuses to open (and so sends nothing) unless the hand answers first.
    bool requireAnswer = false;
};

/// A hand whose report contradicts the model or side the caller named.
struct MismatchError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

/// The options with --model auto replaced by the model and side of the one hand that answers;
/// throws UsageError, listing what answered, when that is not exactly one hand of one model.
HandOptions resolveHand(const HandOptions& options);
/// The hands that answer on `options.channel`: the one of `options.side` when it was given,
/// else every one a scan finds.
std::vector<HandIdentity> handsAnswering(const HandOptions& options);
/// `options` naming the hand found, when exactly one answered and said what it is.
std::optional<HandOptions> theOneHand(const HandOptions& options,
                                      const std::vector<HandIdentity>& found);
/// Asks the hand on `channel` what it is, unless --force or already known; throws MismatchError
/// when its report contradicts the options' model or side. A hand that does not answer is left
/// to the subcommand.
void checkIdentity(const HandOptions& options, const std::string& channel);

/// Nothing answered on the hand's identifier: nothing was sent to it.
struct NoAnswerError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

/// Adds the common options to a subcommand; --model is required when `modelRequired`.
void addHandOptions(CLI::App* command, HandOptions& options, bool modelRequired = true);
/// Adds --model alone (decode), with its own help text when `help` is not empty.
void addModelOption(CLI::App* command, std::string& model, bool required = true,
                    const std::string& help = "");
/// Adds --side; `given` turns true when the caller gives it.
void addSideOption(CLI::App* command, std::string& side, bool& given);

/// The model and the side a user typed (models::modelFromName, models::sideFromName); throw
/// UsageError naming the choices for any other text.
VELMORA parseModel(const std::string& name);
std::uint32_t parseSide(const std::string& name);

/// The hand a subcommand drives: with --sim a simulated hand of the same model answers on a
/// virtual channel in this process.
class HandSession {
  public:
    /// Throws UsageError for a channel that cannot carry a hand, std::runtime_error when the
    /// interface is missing or down.
    explicit HandSession(const HandOptions& options);
    ~HandSession();
    HandSession(const HandSession&) = delete;
    HandSession& operator=(const HandSession&) = delete;

    hand::IHand& hand() { return *hand_; }
    VELMORA model() const { return model_; }
    std::uint32_t side() const { return side_; }
    const std::string& channel() const { return channel_; }
    std::chrono::milliseconds timeout() const { return timeout_; }
    sim::SimulatedHand* simulated() { return simulated_.get(); }

    /// Waits until the hand has sent a frame; the time it took, or empty after `deadline`.
    std::optional<std::chrono::nanoseconds> waitForFirstReply(std::chrono::milliseconds deadline,
                                                              const std::atomic<bool>& stop);

  private:
    HandOptions options_;
    VELMORA model_;
    std::uint32_t side_;
    std::string channel_;
    std::chrono::milliseconds timeout_;
    std::chrono::steady_clock::time_point opened_;
    std::unique_ptr<sim::SimulatedHand> simulated_;
    std::unique_ptr<hand::IHand> hand_;
};

/// What holding a hand is, whatever reads and drives it: the positions `readNow` gives (where
/// the hand says it is) go back to it through `command`; returns them.
ByteVector holdWith(const std::function<ByteVector()>& readNow,
                    const std::function<void(const ByteVector&)>& command);
/// Commands the hand to the positions it reports now, then reads them again: the positions it
/// holds. Throws HandTimeoutException when it does not answer.
ByteVector holdHand(hand::IHand& hand, std::chrono::milliseconds timeout);
ByteVector holdHand(HandSession& session);

/// After Ctrl-C: holds the hand and says so on `io.err` ("velmora move: interrupted; holding the
/// hand at its positions"); a hand that no longer answers is reported, not thrown.
void holdOnInterrupt(const char* command, HandSession& session, Io& io);

/// The stream's newest `what` with a sequence number above `after`, waiting at most `timeout`;
/// empty on time-out or soon after `stop` is set.
std::optional<StampedReading> awaitReading(HandStream& stream, hand::Reading what,
                                           std::uint64_t after, std::chrono::milliseconds timeout,
                                           const std::atomic<bool>& stop);

/// A hand's identifier as the library's messages write it: 0x27.
std::string handIdText(std::uint32_t id);

/// The channel a session opens: with --sim, a virtual bus named after --channel.
std::string sessionChannel(const HandOptions& options);

/// One value of a reading with its label.
struct Labelled {
    std::string label;
    int value;
};

/// The meaningful values of a reading as the getters return them: one per joint (without the
/// slots no joint answers to) under models::jointLabel, one per finger (T, I, M, R, L), or the
/// 25-joint hand's per-finger state slots mapped to their joints.
std::vector<Labelled> meaningful(VELMORA model, const ByteVector& values);

/// Sends the library's warnings and errors to `err` and drops its information lines, until
/// resetMessageSink().
void installMessageSink(std::ostream& err);

/// A CAN identifier as typed: 0x27, 40, 0x7F7; throws UsageError for anything else.
std::uint32_t parseCanId(const std::string& text);

/// "unknown command 'moev': did you mean 'move'?": the nearest of `names` within two edits.
std::string unknownCommand(const std::string& typed, const std::vector<std::string>& names);

/// Runs `body`, turning the library's and the channel's failures into a message and an exit
/// status.
int guarded(const char* command, Io& io, const std::function<int()>& body);

}  // namespace tools
}  // namespace velmora
