// velmora state: one fresh reading of every state the model has.
#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <cstdio>
#include <iomanip>
#include <sstream>
#include <thread>

#include "Subcommands.h"
#include "velmora/HandException.h"
#include "velmora/HandStream.h"
#include "velmora/Models.h"

namespace velmora {
namespace tools {

namespace {

// What the hand last reported of a reading it sends only on its own, without asking it.
ByteVector lastReported(hand::IHand& hand, hand::Reading r) {
    switch (r) {
        case hand::Reading::Positions:
            break;
        case hand::Reading::Speeds:
            return hand.getSpeed();
        case hand::Reading::Torques:
            return hand.getTorque();
        case hand::Reading::Currents:
            return hand.getCurrent();
        case hand::Reading::Temperatures:
            return hand.getTemperature();
        case hand::Reading::Faults:
            return hand.getFaultCode();
    }
    return hand.getCurrentStatus();
}

struct Row {
    std::string name;
    std::string unit;
    std::vector<std::string> labels;
    std::vector<std::string> cells;
    std::string note;    // instead of values: not reported, no answer
    std::string remark;  // after the values
};

std::string fixed2(double v) {
    std::ostringstream s;
    s << std::fixed << std::setprecision(2) << v;
    return s.str();
}

void printTable(const std::vector<Row>& rows, std::ostream& out) {
    std::vector<std::string> header;
    for (const Row& row : rows) {
        if (row.note.empty() && row.labels != header) {
            header = row.labels;
            out << std::left << std::setw(14) << "" << std::setw(8) << "";
            for (const auto& label : header)
                out << std::right << std::setw(6) << label;
            out << "\n";
        }
        out << std::left << std::setw(14) << row.name << std::setw(8) << row.unit;
        if (!row.note.empty()) {
            out << row.note;
        } else {
            for (const auto& cell : row.cells)
                out << std::right << std::setw(6) << cell;
            if (!row.remark.empty())
                out << "  (" << row.remark << ")";
        }
        out << "\n";
    }
}

void addValues(VELMORA model, const ByteVector& values, Row& row, nlohmann::json& labelled) {
    labelled = nlohmann::json::object();
    for (const Labelled& v : meaningful(model, values)) {
        row.labels.push_back(v.label);
        row.cells.push_back(std::to_string(v.value));
        labelled[v.label] = v.value;
    }
}

struct FollowOptions {
    bool follow = false;
    bool csv = false;
    double rate = 10;
    long long count = 0;
};

// One line per new reading of the positions, stamped with the time its last frame came in, as
// candump stamps frames. The stream asks for the positions at the rate of the lines, so that a
// slow follow does not take the hand's send budget from other callers.
int follow(HandSession& session, const FollowOptions& options, Io& io) {
    using Clock = std::chrono::steady_clock;
    HandStreamOptions asked;
    asked.rate(hand::Reading::Positions, options.rate)
        .rate(hand::Reading::Temperatures, 0)
        .rate(hand::Reading::Faults, 0);
    HandStream stream(session.hand(), asked);
    const auto period = std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double>(1.0 / options.rate));
    // The next reading is asked for a period after the last; the hand has its timeout to answer.
    const auto wait = std::chrono::ceil<std::chrono::milliseconds>(period) + session.timeout();
    Clock::time_point next{};
    bool header = false;
    StampedReading held;
    for (long long n = 0; !io.stop && (options.count == 0 || n < options.count); ++n) {
        const auto reading =
            awaitReading(stream, hand::Reading::Positions, held.sequence, wait, io.stop);
        if (!reading) {
            if (io.stop)
                break;
            throw HandTimeoutException("No positions from hand " + handIdText(session.side()) +
                                       " within " + std::to_string(wait.count()) + " ms");
        }
        held = *reading;
        if (n == 0)
            next = Clock::now();  // the lines keep to the rate from the first on
        const auto us = std::chrono::duration_cast<std::chrono::microseconds>(
                            held.receivedSystem.time_since_epoch())
                            .count();
        char stamp[32];
        std::snprintf(stamp, sizeof stamp, "%lld.%06lld", static_cast<long long>(us / 1000000),
                      static_cast<long long>(us % 1000000));
        const std::vector<Labelled> values = meaningful(session.model(), held.values);
        if (options.csv && !header) {
            io.out << "time";
            for (const Labelled& v : values)
                io.out << "," << v.label;
            io.out << "\n";
            header = true;
        }
        io.out << stamp;
        for (const Labelled& v : values) {
            if (options.csv)
                io.out << "," << v.value;
            else
                io.out << " " << v.label << "=" << v.value;
        }
        io.out << std::endl;  // a reader of a pipe sees each reading as it comes
        next += period;
        while (!io.stop && Clock::now() < next)
            std::this_thread::sleep_for(
                std::min<Clock::duration>(next - Clock::now(), std::chrono::milliseconds(20)));
    }
    return kSuccess;
}

int runState(const HandOptions& options, bool json, const FollowOptions& following, Io& io) {
    if (following.follow && (!(following.rate > 0) || following.rate > 1000))
        throw UsageError("--rate must be more than 0 and at most 1000");
    if (following.count < 0)
        throw UsageError("--count must be 0 or more");
    if ((following.csv || following.count) && !following.follow)
        throw UsageError("--csv and --count go with --follow");
    if (following.follow && json)
        throw UsageError("--follow prints lines or --csv, not --json");
    HandSession session(options);
    if (following.follow)
        return follow(session, following, io);
    hand::IHand& hand = session.hand();
    const VELMORA model = session.model();
    const models::ModelInfo& info = models::info(model);
    session.waitForFirstReply(session.timeout(), io.stop);

    std::vector<Row> rows;
    nlohmann::json doc;
    doc["model"] = info.name;
    doc["side"] = models::sideName(session.side());
    doc["channel"] = session.channel();
    std::vector<std::string> failures;

    for (const models::ReadingName& r : models::kReadingNames) {
        Row row{r.name, r.unit, {}, {}, {}, {}};
        nlohmann::json labelled;
        if (info.has(r.reading)) {
            try {
                const ByteVector values = hand.readFresh(r.reading, session.timeout());
                addValues(model, values, row, labelled);
                doc[r.name] = {{"unit", r.unit}, {"values", labelled}, {"raw", values}};
            } catch (const UnsupportedFeatureException&) {
                row.note = "not reported by this hand";
                doc[r.name] = nullptr;
            } catch (const HandTimeoutException& e) {
                row.note = std::string("no answer: ") + e.what();
                failures.push_back(e.what());
                doc[r.name] = nullptr;
            }
        } else if (info.reports(r.reading)) {
            // Asking would not make the hand answer: what it reported last is all there is.
            const ByteVector values = lastReported(hand, r.reading);
            if (values.empty()) {
                row.note = "not reported yet: the hand sends these only on its own";
                doc[r.name] = nullptr;
            } else {
                addValues(model, values, row, labelled);
                row.remark = "last reported: the hand sends these only on its own";
                doc[r.name] = {{"unit", r.unit},
                               {"values", labelled},
                               {"raw", values},
                               {"last_reported", true}};
            }
        } else {
            row.note = "not reported by this hand";
            doc[r.name] = nullptr;
        }
        rows.push_back(row);

        if (r.reading != hand::Reading::Positions || !row.note.empty())
            continue;
        Row radians{"positions", "rad", {}, {}, {}, {}};
        doc["radians"] = nullptr;
        if (!info.hasAngleTables()) {
            radians.note = "no joint-angle tables for this hand";
            rows.push_back(radians);
            continue;
        }
        try {
            const RadianVector angles = hand.readStateArc(session.timeout());
            nlohmann::json perJoint = nlohmann::json::object();
            for (std::size_t s = 0; s < angles.size() && s < info.slots; ++s) {
                if (!info.carriesJoint(s))
                    continue;
                const std::string label = models::jointLabel(model, s);
                radians.labels.push_back(label);
                // The tables leave some joints of the 21-joint firmware without an angle.
                radians.cells.push_back(info.hasAngle(s) ? fixed2(angles[s]) : "-");
                perJoint[label] = info.hasAngle(s) ? nlohmann::json(angles[s]) : nullptr;
            }
            if (angles.size() != info.slots)
                radians.note = "no angles: the joint-angle tables did not convert the positions";
            else
                doc["radians"] = perJoint;
        } catch (const HandTimeoutException& e) {
            radians.note = std::string("no answer: ") + e.what();
            failures.push_back(e.what());
        }
        rows.push_back(radians);
    }

    if (json) {
        doc["answered"] = failures.empty();
        io.out << doc.dump(2) << "\n";
    } else {
        printTable(rows, io.out);
    }
    if (!failures.empty()) {
        io.err << "velmora state: " << failures.front() << "\n";
        return kHandFailed;
    }
    return kSuccess;
}

}  // namespace

void addState(CLI::App& app, Subcommands& commands) {
    auto options = std::make_shared<HandOptions>();
    auto json = std::make_shared<bool>(false);
    auto following = std::make_shared<FollowOptions>();
    CLI::App* command = app.add_subcommand(
        "state", "One fresh reading of every state the hand has, as a table or JSON");
    addHandOptions(command, *options);
    command->add_flag("--json", *json, "Print one JSON object instead of the table");
    command->add_flag("--follow,-f", following->follow,
                      "Follow the positions, one line per new reading with the time it came in");
    command
        ->add_option("--rate", following->rate, "With --follow: at most this many lines per second")
        ->capture_default_str();
    command->add_flag("--csv", following->csv, "With --follow: comma-separated, a header first");
    command->add_option("--count,-n", following->count,
                        "With --follow: stop after this many readings (0: never)");
    commands.add(command, [options, json, following](Io& io) {
        return guarded("state", io, [&] { return runState(*options, *json, *following, io); });
    });
}

}  // namespace tools
}  // namespace velmora
