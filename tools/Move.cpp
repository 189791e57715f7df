// velmora move: command the joints, optionally follow them until they settle.
#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <cmath>
#include <fstream>
#include <iomanip>
#include <mutex>
#include <thread>

#include "Pose.h"
#include "Subcommands.h"
#include "velmora/HandException.h"
#include "velmora/MessageSink.h"
#include "velmora/Models.h"

namespace velmora {
namespace tools {

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

struct MoveOptions {
    HandOptions hand;
    std::vector<int> positions;
    std::vector<double> radians;
    std::string pose;
    std::string saved;
    std::string fromJson;
    bool wait = false;
    double waitSeconds = 10;
};

/// The library's refusals of an argument (wrong count) during `body`; afterwards its messages go
/// to `err` again.
std::vector<std::string> refusals(std::ostream& err, const std::function<void()>& body) {
    auto messages = std::make_shared<std::vector<std::string>>();
    auto mutex = std::make_shared<std::mutex>();
    setMessageSink([messages, mutex](MessageLevel level, const std::string& text) {
        if (level != MessageLevel::Info) {
            std::lock_guard<std::mutex> lock(*mutex);
            messages->push_back(text);
        }
    });
    try {
        body();
    } catch (...) {
        installMessageSink(err);
        throw;
    }
    installMessageSink(err);
    std::lock_guard<std::mutex> lock(*mutex);
    return *messages;
}

std::string progress(VELMORA model, const ByteVector& state, double seconds) {
    std::ostringstream line;
    line << std::fixed << std::setprecision(1) << std::setw(5) << seconds << " s ";
    for (const Labelled& v : meaningful(model, state))
        line << " " << v.label << "=" << std::setw(3) << v.value;
    return line.str();
}

int waitForSettle(HandSession& session, const std::optional<ByteVector>& target,
                  const MoveOptions& options, Io& io) {
    const VELMORA model = session.model();
    const auto start = Clock::now();
    const auto end = start + std::chrono::duration_cast<Clock::duration>(
                                 std::chrono::duration<double>(options.waitSeconds));
    ByteVector last;
    int unchanged = 0;
    bool drawn = false;
    while (!io.stop) {
        ByteVector state;
        try {
            state = session.hand().readState(session.timeout());
        } catch (const HandTimeoutException& e) {
            if (drawn && io.terminal)
                io.out << "\n";
            io.err << "velmora move: " << e.what() << "\n";
            return kHandFailed;
        }
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        const std::string line = progress(model, state, seconds);
        if (io.terminal)
            io.out << "\r\033[K" << line << std::flush;  // one line, redrawn in place
        else
            io.out << line << "\n";
        drawn = true;

        bool reached = target && state.size() == target->size();
        for (std::size_t j = 0; reached && j < state.size(); ++j) {
            if (models::info(model).carriesJoint(j) &&
                std::abs(int(state[j]) - int((*target)[j])) > 1)
                reached = false;
        }
        unchanged = state == last ? unchanged + 1 : 0;
        last = state;
        if (reached || unchanged >= 3) {
            if (io.terminal)
                io.out << "\n";
            io.out << (reached ? "reached" : "settled") << " after " << std::fixed
                   << std::setprecision(1) << seconds << " s\n"
                   << std::defaultfloat;
            return kSuccess;
        }
        if (Clock::now() > end) {
            if (io.terminal)
                io.out << "\n";
            io.err << "velmora move: the joints did not settle within " << options.waitSeconds
                   << " s\n";
            return kHandFailed;
        }
        std::this_thread::sleep_for(50ms);
    }
    if (io.terminal)
        io.out << "\n";
    holdOnInterrupt("move", session, io);
    return kInterrupted;
}

// The positions of `velmora state --json` (one per slot, "raw"), from a file or `-`.
ByteVector positionsFromJson(const std::string& source, VELMORA model, Io& io) {
    std::ifstream file;
    if (source != "-") {
        file.open(source);
        if (!file)
            throw std::runtime_error("cannot read " + source);
    }
    std::istream& in = source == "-" ? *io.in : file;
    const nlohmann::json doc = nlohmann::json::parse(in, nullptr, false);
    if (doc.is_discarded() || !doc.is_object())
        throw UsageError(source + " is not the JSON of velmora state --json");
    if (doc.contains("model") && doc["model"].is_string() &&
        doc["model"].get<std::string>() != models::modelName(model))
        throw UsageError(source + " holds the positions of a " + doc["model"].get<std::string>() +
                         ", not a " + models::modelName(model));
    const nlohmann::json* raw = nullptr;
    if (doc.contains("positions") && doc["positions"].is_object() &&
        doc["positions"].contains("raw"))
        raw = &doc["positions"]["raw"];
    if (!raw || !raw->is_array())
        throw UsageError(source + " has no positions (positions.raw)");
    ByteVector out;
    for (const auto& v : *raw) {
        if (!v.is_number_integer() || v.get<int>() < 0 || v.get<int>() > 255)
            throw UsageError(source + ": positions must be 0 to 255");
        out.push_back(static_cast<std::uint8_t>(v.get<int>()));
    }
    return out;
}

int runMove(const MoveOptions& options, Io& io) {
    const int given = !options.positions.empty() + !options.radians.empty() +
                      !options.pose.empty() + !options.saved.empty() + !options.fromJson.empty();
    if (given != 1)
        throw UsageError(
            "give exactly one of --positions, --radians or a pose (open, close, "
            "point), --pose NAME or --from-json");
    if (options.waitSeconds <= 0)
        throw UsageError("--wait-timeout must be more than 0");
    for (int v : options.positions) {
        if (v < 0 || v > 255)
            throw UsageError("--positions values must be 0 to 255, not " + std::to_string(v));
    }
    for (double v : options.radians) {
        if (!std::isfinite(v))
            throw UsageError("--radians values must be finite numbers");
    }

    // --model auto names the model before the values can be checked against it.
    HandOptions handOptions = resolveHand(options.hand);
    handOptions.requireAnswer = true;
    const VELMORA model = parseModel(handOptions.model);
    const models::ModelInfo& info = models::info(model);
    if (!options.radians.empty() && !info.hasAngleTables())
        throw UsageError(std::string(info.name) +
                         " has no joint-angle tables: give --positions (0..255) or a pose");
    // One value per joint as `state` shows them, or one per slot.
    const auto radians = models::perSlot(model, options.radians, 0.0);
    const auto positions =
        models::perSlot(model, ByteVector(options.positions.begin(), options.positions.end()));

    HandSession session(handOptions);
    std::optional<ByteVector> target;
    std::vector<std::string> refused;
    if (!options.radians.empty()) {
        refused = refusals(io.err, [&] {
            session.hand().setJointPositionArc(radians ? *radians : options.radians);
        });
    } else if (!options.pose.empty()) {
        target = models::pose(model, *models::poseFromName(options.pose));
    } else if (!options.saved.empty()) {
        target = savedPose(model, options.saved);
        if (!target)
            throw UsageError("no pose '" + options.saved + "' saved for " + info.name + " in " +
                             posesPath() + " (velmora pose list)");
    } else if (!options.fromJson.empty()) {
        target = positionsFromJson(options.fromJson, model, io);
    } else {
        // A count that fits neither goes to the hand object as it is, which refuses it.
        target =
            positions ? *positions : ByteVector(options.positions.begin(), options.positions.end());
    }
    if (target)
        refused = refusals(io.err, [&] { session.hand().setJointPositions(*target); });
    if (!refused.empty() || (!options.radians.empty() && !radians) ||
        (!options.positions.empty() && !positions)) {
        for (const auto& text : refused)
            io.err << "velmora move: " << text << "\n";
        io.err << "velmora move: " << info.name << " " << models::countsTaken(model) << "\n";
        return kUsage;
    }
    io.out << "sent " << (options.radians.empty() ? "positions" : "radians") << " to " << info.name
           << " on " << session.channel() << "\n";
    if (!options.wait)
        return kSuccess;
    return waitForSettle(session, target, options, io);
}

}  // namespace

void addMove(CLI::App& app, Subcommands& commands) {
    auto options = std::make_shared<MoveOptions>();
    CLI::App* command = app.add_subcommand(
        "move", "Move the joints: --positions, --radians or a named pose (open, close, point)");
    addHandOptions(command, options->hand);
    command->add_option("pose", options->pose, "Named pose: open, close or point")
        ->check(CLI::IsMember(std::vector<std::string>(std::begin(models::kPoseNames),
                                                       std::end(models::kPoseNames))));
    command
        ->add_option("--positions,-p", options->positions,
                     "0..255 values, one per joint in the order `state` shows them or one per "
                     "slot: 255,255,...")
        ->delimiter(',');
    command
        ->add_option("--radians,-r", options->radians,
                     "Angles in radians, one per joint or one per slot")
        ->delimiter(',');
    command->add_option("--pose", options->saved, "A pose saved with velmora pose save NAME");
    command->add_option("--from-json", options->fromJson,
                        "Positions from velmora state --json: a file, or - for standard input");
    command->add_flag("--wait,-w", options->wait,
                      "Follow the joints until they settle, with a progress line");
    command
        ->add_option("--wait-timeout", options->waitSeconds,
                     "Seconds --wait follows the joints before giving up")
        ->capture_default_str();
    commands.add(command, [options](Io& io) {
        return guarded("move", io, [&] { return runMove(*options, io); });
    });
}

}  // namespace tools
}  // namespace velmora
