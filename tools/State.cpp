// velmora state: one fresh reading of every state the model has.
#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <iomanip>
#include <sstream>

#include "Subcommands.h"
#include "velmora/HandException.h"
#include "velmora/Protocol.h"
#include "velmora/sim/SimulatedHand.h"

namespace velmora {
namespace tools {

namespace {

struct ReadingInfo {
    hand::Reading reading;
    const char* name;
    const char* unit;
};

const ReadingInfo kReadings[] = {
    {hand::Reading::Positions, "positions", "0..255"},
    {hand::Reading::Speeds, "speeds", ""},
    {hand::Reading::Torques, "torques", ""},
    {hand::Reading::Currents, "currents", ""},
    {hand::Reading::Temperatures, "temperatures", "°C"},
    {hand::Reading::Faults, "faults", "code"},
};

struct Row {
    std::string name;
    std::string unit;
    std::vector<std::string> labels;
    std::vector<std::string> cells;
    std::string note;  // instead of values: not reported, no answer
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
        }
        out << "\n";
    }
}

int runState(const HandOptions& options, bool json, Io& io) {
    HandSession session(options);
    hand::IHand& hand = session.hand();
    const VELMORA model = session.model();
    session.waitForFirstReply(session.timeout(), io.stop);

    std::vector<Row> rows;
    nlohmann::json doc;
    doc["model"] = sim::modelName(model);
    doc["side"] = session.side() == LEFT ? "left" : "right";
    doc["channel"] = session.channel();
    std::vector<std::string> failures;

    for (const ReadingInfo& r : kReadings) {
        Row row{r.name, r.unit, {}, {}, {}};
        try {
            const ByteVector values = hand.readFresh(r.reading, session.timeout());
            nlohmann::json labelled = nlohmann::json::object();
            for (const Labelled& v : meaningful(model, values)) {
                row.labels.push_back(v.label);
                row.cells.push_back(std::to_string(v.value));
                labelled[v.label] = v.value;
            }
            doc[r.name] = {{"unit", r.unit}, {"values", labelled}, {"raw", values}};
        } catch (const UnsupportedFeatureException&) {
            row.note = "not reported by this hand";
            doc[r.name] = nullptr;
        } catch (const HandTimeoutException& e) {
            row.note = std::string("no answer: ") + e.what();
            failures.push_back(e.what());
            doc[r.name] = nullptr;
        }
        rows.push_back(row);

        if (r.reading != hand::Reading::Positions || !row.note.empty())
            continue;
        Row radians{"positions", "rad", {}, {}, {}};
        try {
            const RadianVector angles = hand.readStateArc(session.timeout());
            nlohmann::json labelled = nlohmann::json::object();
            for (std::size_t j = 0; j < angles.size(); ++j) {
                if (angles.size() == protocol::jointCount(model) && !protocol::hasJoint(model, j))
                    continue;
                const std::string label = angles.size() == protocol::jointCount(model)
                                              ? jointLabel(model, j)
                                              : "#" + std::to_string(j);
                radians.labels.push_back(label);
                radians.cells.push_back(fixed2(angles[j]));
                labelled[label] = angles[j];
            }
            if (angles.empty())
                radians.note = "no joint-angle tables for this hand";
            doc["radians"] = angles.empty() ? nlohmann::json(nullptr) : labelled;
        } catch (const UnsupportedFeatureException&) {
            radians.note = "no joint-angle tables for this hand";
            doc["radians"] = nullptr;
        } catch (const HandTimeoutException& e) {
            radians.note = std::string("no answer: ") + e.what();
            failures.push_back(e.what());
            doc["radians"] = nullptr;
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
    CLI::App* command = app.add_subcommand(
        "state", "One fresh reading of every state the hand has, as a table or JSON");
    addHandOptions(command, *options);
    command->add_flag("--json", *json, "Print one JSON object instead of the table");
    commands.add(command, [options, json](Io& io) {
        return guarded("state", io, [&] { return runState(*options, *json, io); });
    });
}

}  // namespace tools
}  // namespace velmora
