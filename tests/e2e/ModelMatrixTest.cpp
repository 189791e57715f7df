// Every model value against every surface: the C++ API and each subcommand, driven against a
// simulated hand of that model. Rows are the catalogue's models, columns the tests below.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <mutex>
#include <sstream>
#include <thread>

#include "CanLog.h"
#include "Cli.h"
#include "Common.h"
#include "FrameMeaning.h"
#include "support/HandPeer.h"
#include "velmora/HandFactory.h"
#include "velmora/Models.h"
#include "velmora/Scan.h"
#include "velmora/Protocol.h"
#include "velmora/RangeToArc.h"
#include "velmora/sim/SimulatedHand.h"

using namespace velmora;
using namespace velmora::testing;

namespace {

// Long enough for a loaded machine; every wait below ends as soon as its condition holds.
constexpr auto kSettle = 15000ms;
const std::string kTimeout = "2000";

struct Outcome {
    int status;
    std::string out, err;
};

Outcome velmoraCommand(std::vector<std::string> args) {
    static const std::atomic<bool> never{false};
    args.insert(args.begin(), "velmora");
    std::ostringstream out, err;
    const int status = tools::runCli(args, out, err, never);
    return {status, out.str(), err.str()};
}

std::size_t lineCount(const std::string& text) {
    return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
}

std::string joined(const std::vector<std::string>& values) {
    std::string text;
    for (const auto& v : values)
        text += (text.empty() ? "" : ",") + v;
    return text;
}

/// The joints' labels in the order `state` shows them.
std::vector<std::string> labels(const models::ModelInfo& m) {
    std::vector<std::string> out;
    for (std::size_t s = 0; s < m.slots; ++s) {
        if (m.carriesJoint(s))
            out.push_back(models::jointLabel(m.model, s));
    }
    return out;
}

class ModelMatrix : public ::testing::TestWithParam<VELMORA> {
  protected:
    ModelMatrix()
        : m(models::info(GetParam())),
          channel("virtual:can-" + uniqueBusName()),
          hand(sim::openSimChannel(channel), config()) {}

    sim::SimConfig config() const {
        sim::SimConfig c;
        c.model = GetParam();
        c.handId = RIGHT;
        return c;
    }

    Outcome run(std::vector<std::string> args) {
        args.insert(args.end(), {"--model", m.name, "--channel", channel, "--timeout", kTimeout});
        return velmoraCommand(args);
    }

    /// True once every joint of the simulated hand stands within `tolerance` of `target` (one
    /// value per slot).
    bool reaches(const ByteVector& target, int tolerance = 0) {
        return eventually(
            [&] {
                const ByteVector now = hand.body().positions(0, m.slots);
                for (std::size_t s = 0; s < m.slots; ++s) {
                    if (m.carriesJoint(s) && std::abs(int(now[s]) - int(target[s])) > tolerance)
                        return false;
                }
                return true;
            },
            kSettle);
    }

    const models::ModelInfo& m;
    std::string channel;
    sim::SimulatedHand hand;
};

std::string rowName(const ::testing::TestParamInfo<VELMORA>& info) {
    return models::modelName(info.param);
}

std::vector<VELMORA> everyModel() {
    std::vector<VELMORA> out;
    for (const models::ModelInfo& m : models::kModels)
        out.push_back(m.model);
    return out;
}

}  // namespace

// Commands, readState, readStateArc and each reading: what the catalogue lists answers with one
// labelled value per joint or finger; what it does not list is refused.
TEST_P(ModelMatrix, Api) {
    auto api = factory::HandFactory::createHand(m.model, RIGHT, channel, 1000000);
    for (hand::Reading r : models::kAllReadings) {
        SCOPED_TRACE(models::readingName(r).name);
        if (m.has(r)) {
            const ByteVector values = api->readFresh(r, 2000ms);
            ASSERT_FALSE(values.empty());
            for (const tools::Labelled& v : tools::meaningful(m.model, values))
                EXPECT_NE(v.label[0], '#') << "a value no joint or finger answers to";
        } else if (!m.reports(r)) {
            EXPECT_THROW(api->readFresh(r, 100ms), UnsupportedFeatureException);
        }
    }
    if (m.reports(hand::Reading::Speeds) && !m.has(hand::Reading::Speeds)) {
        // Reported on its own: the hand confirms speeds it is given.
        api->setSpeed(ByteVector(m.slots, 77));
        EXPECT_TRUE(eventually([&] { return api->getSpeed() == ByteVector(m.slots, 77); }));
    }

    const ByteVector closed = models::pose(m.model, models::PoseName::Close);
    api->setJointPositions(closed);
    ASSERT_TRUE(reaches(closed));
    ByteVector state;
    ASSERT_TRUE(eventually(
        [&] {
            state = api->readState(2000ms);
            return state == closed;
        },
        kSettle));
    const RadianVector angles = api->readStateArc(2000ms);
    if (!m.hasAngleTables()) {
        EXPECT_TRUE(angles.empty());
        return;
    }
    const RadianVector expected = range_to_arc(m.angleTableKey, "right", closed);
    ASSERT_EQ(angles.size(), m.slots);
    for (std::size_t s = 0; s < m.slots; ++s) {
        if (m.hasAngle(s)) {
            EXPECT_NEAR(angles[s], expected[s], 1e-9) << s;
        }
    }
}

TEST_P(ModelMatrix, Info) {
    const Outcome r = run({"info"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find(std::string("hand:        ") + m.name + ", right"), std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("answered:    yes"), std::string::npos) << r.out;
    EXPECT_EQ(r.err, "");
}

// The table has a row for every reading, each joint's label in its header, and nothing on
// standard error; with --sim the command brings its own hand.
TEST_P(ModelMatrix, State) {
    for (bool simulated : {false, true}) {
        SCOPED_TRACE(simulated ? "--sim" : "own hand");
        const Outcome r =
            simulated ? velmoraCommand({"state", "--model", m.name, "--sim", "--channel",
                                        "can-sim-" + uniqueBusName(), "--timeout", kTimeout})
                      : run({"state"});
        ASSERT_EQ(r.status, 0) << r.out << r.err;
        EXPECT_EQ(r.err, "");
        std::string header;
        for (const std::string& label : labels(m))
            header += std::string(6 - std::min<std::size_t>(label.size(), 5), ' ') + label;
        EXPECT_NE(r.out.find(header + "\n"), std::string::npos) << r.out;
        for (const models::ReadingName& reading : models::kReadingNames)
            EXPECT_NE(r.out.find(std::string("\n") + reading.name), std::string::npos)
                << reading.name << "\n"
                << r.out;
        EXPECT_EQ(r.out.find("no answer"), std::string::npos) << r.out;
    }
}

// One entry per joint, under the catalogue's labels; radians only where there are tables.
TEST_P(ModelMatrix, StateJson) {
    const Outcome r = run({"state", "--json"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    const auto doc = nlohmann::json::parse(r.out);
    EXPECT_EQ(doc["model"], m.name);
    EXPECT_TRUE(doc["answered"].get<bool>());
    const std::vector<std::string> want = labels(m);
    ASSERT_EQ(doc["positions"]["values"].size(), m.joints);
    for (const std::string& label : want)
        EXPECT_TRUE(doc["positions"]["values"].contains(label)) << label;
    for (const models::ReadingName& reading : models::kReadingNames)
        EXPECT_EQ(doc[reading.name].is_null(), !models::info(m.model).reports(reading.reading))
            << reading.name;
    if (!m.hasAngleTables()) {
        EXPECT_TRUE(doc["radians"].is_null());
        return;
    }
    ASSERT_EQ(doc["radians"].size(), m.joints);
    for (std::size_t j = 0; j < m.joints; ++j) {
        const auto slot = static_cast<std::size_t>(m.slotOfJoint(j));
        EXPECT_EQ(doc["radians"][want[j]].is_null(), !m.hasAngle(slot)) << want[j];
    }
}

// One value per joint in the order `state` shows them, or one per slot; any other count is
// refused with what the model takes.
TEST_P(ModelMatrix, MovePositions) {
    std::vector<std::string> perJoint;
    ByteVector target(m.slots, 0);
    for (std::size_t j = 0; j < m.joints; ++j) {
        const auto value = static_cast<std::uint8_t>(60 + 7 * j);
        perJoint.push_back(std::to_string(value));
        target[static_cast<std::size_t>(m.slotOfJoint(j))] = value;
    }
    Outcome r = run({"move", "--positions", joined(perJoint), "--wait"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("reached after"), std::string::npos) << r.out;
    EXPECT_TRUE(reaches(target));

    std::vector<std::string> perSlot(m.slots, "150");
    r = run({"move", "--positions", joined(perSlot)});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(reaches(ByteVector(m.slots, 150)));

    r = run({"move", "--positions", joined(std::vector<std::string>(m.joints - 1, "9"))});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find(std::string("velmora move: ") + m.name + " " +
                         models::countsTaken(m.model) + "\n"),
              std::string::npos)
        << r.err;
}

// Angles per joint reach the joints that have tables; a model without tables is refused in one
// line and nothing moves.
TEST_P(ModelMatrix, MoveRadians) {
    std::vector<double> min, max;
    std::vector<int> direction;
    if (!m.hasAngleTables()) {
        const ByteVector before = hand.body().targets(0, m.slots);
        const Outcome r =
            run({"move", "--radians", joined(std::vector<std::string>(m.joints, "0.3"))});
        EXPECT_NE(r.status, 0);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(lineCount(r.err), 1u) << r.err;
        EXPECT_NE(r.err.find("no joint-angle tables"), std::string::npos) << r.err;
        EXPECT_EQ(hand.body().targets(0, m.slots), before);
        return;
    }
    ASSERT_TRUE(initialize_params(m.angleTableKey, "right", min, max, direction));
    std::vector<std::string> perJoint;
    RadianVector angles(m.slots, 0.0);
    for (std::size_t j = 0; j < m.joints; ++j) {
        const auto s = static_cast<std::size_t>(m.slotOfJoint(j));
        angles[s] = m.hasAngle(s) ? min[s] + (max[s] - min[s]) / 3 : 0.0;
        std::ostringstream v;
        v.precision(17);
        v << angles[s];
        perJoint.push_back(v.str());
    }
    Outcome r = run({"move", "--radians", joined(perJoint), "--wait"});
    ASSERT_EQ(r.status, 0) << r.err;
    const ByteVector bytes = arc_to_range(m.angleTableKey, "right", angles);
    ByteVector target = hand.body().positions(0, m.slots);
    for (std::size_t s = 0; s < m.slots; ++s) {
        if (m.hasAngle(s))
            target[s] = bytes[s];
    }
    ASSERT_TRUE(eventually(
        [&] {
            const ByteVector now = hand.body().positions(0, m.slots);
            for (std::size_t s = 0; s < m.slots; ++s) {
                if (m.hasAngle(s) && now[s] != target[s])
                    return false;
            }
            return true;
        },
        kSettle));

    // `state` reads the angles back within one step of the 0..255 range.
    r = run({"state", "--json"});
    ASSERT_EQ(r.status, 0) << r.err;
    const auto doc = nlohmann::json::parse(r.out);
    const std::vector<std::string> names = labels(m);
    for (std::size_t j = 0; j < m.joints; ++j) {
        const auto s = static_cast<std::size_t>(m.slotOfJoint(j));
        if (m.hasAngle(s)) {
            EXPECT_NEAR(doc["radians"][names[j]].get<double>(), angles[s],
                        std::abs(max[s] - min[s]) / 255.0 + 1e-9)
                << names[j];
        }
    }
}

TEST_P(ModelMatrix, MovePoses) {
    for (const char* name : models::kPoseNames) {
        SCOPED_TRACE(name);
        const Outcome r = run({"move", name, "--wait"});
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_NE(r.out.find("reached after"), std::string::npos) << r.out;
        EXPECT_TRUE(reaches(models::pose(m.model, *models::poseFromName(name))));
    }
}

TEST_P(ModelMatrix, Monitor) {
    const Outcome r = run({"monitor", "--count", "2", "--rate", "50"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(lineCount(r.out), 2u) << r.out;
    const std::string first = "joints " + labels(m).front() + "=";
    EXPECT_NE(r.out.find(first), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("faults none"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("no answer"), std::string::npos) << r.out;
}

// Every frame of a state read and a move, both ways, is a frame of the model's protocol.
TEST_P(ModelMatrix, DecodeTheExchange) {
    auto tap = tools::openTap(channel);
    std::vector<std::string> log;
    std::mutex mutex;
    std::atomic<bool> done{false};
    std::thread listener([&] {
        while (!done) {
            if (auto frame = tap->next(20ms)) {
                std::lock_guard<std::mutex> lock(mutex);
                log.push_back(tools::formatLogLine(*frame));
            }
        }
    });
    const Outcome state = run({"state"});
    const Outcome move = run({"move", "open"});
    done = true;
    listener.join();
    ASSERT_EQ(state.status, 0) << state.err;
    ASSERT_EQ(move.status, 0) << move.err;
    ASSERT_GT(log.size(), 5u);

    std::string name = uniqueBusName();
    std::replace(name.begin(), name.end(), '/', '-');
    const std::string path = ::testing::TempDir() + "velmora-" + name + "-exchange.log";
    {
        std::ofstream file(path);
        for (const std::string& line : log)
            file << line << "\n";
    }
    const Outcome r = velmoraCommand({"decode", path, "--model", m.name});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("summary: " + std::to_string(log.size()) + " frames"), std::string::npos);
    // The only frames outside the model's protocol are the identity check's version requests,
    // which ask every model's version code.
    const std::vector<std::uint8_t> asked = versionRequests();
    std::size_t unknown = 0;
    std::istringstream lines(r.out);
    for (std::string line; std::getline(lines, line);) {
        const auto at = line.find("unknown code 0x");
        if (at == std::string::npos)
            continue;
        ++unknown;
        const auto code = static_cast<std::uint8_t>(std::stoi(line.substr(at + 15, 2), nullptr, 16));
        EXPECT_NE(std::find(asked.begin(), asked.end(), code), asked.end()) << line;
    }
    EXPECT_NE(r.out.find(", " + std::to_string(unknown) + " not in the " + m.name + " protocol"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("reply   positions"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("write   positions"), std::string::npos) << r.out;
}

// stop commands the positions the hand reports: it writes positions and the joints stay put.
TEST_P(ModelMatrix, StopHoldsTheHand) {
    HandPeer wire(channel.substr(8), RIGHT);
    ASSERT_EQ(run({"move", "close"}).status, 0);
    wire.drain();
    const Outcome r = run({"stop"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.find("holding " + std::string(m.name) + " right on " + channel + " at " +
                         labels(m).front() + "="),
              0u)
        << r.out;
    tools::FrameDecoder decoder(m.model);
    bool wrotePositions = false;
    for (const ByteVector& frame : wire.drain()) {
        tools::LoggedFrame f;
        f.id = RIGHT;
        f.len = static_cast<std::uint8_t>(frame.size());
        std::copy(frame.begin(), frame.end(), f.data.begin());
        const tools::FrameMeaning meaning = decoder.decode(f);
        wrotePositions |= meaning.direction == tools::FrameMeaning::Direction::Write &&
                          meaning.command->quantity == protocol::Quantity::Positions;
    }
    EXPECT_TRUE(wrotePositions);
    EXPECT_TRUE(eventually(
        [&] {
            const ByteVector first = hand.body().positions(0, m.slots);
            std::this_thread::sleep_for(200ms);
            return hand.body().positions(0, m.slots) == first;
        },
        kSettle));
}

INSTANTIATE_TEST_SUITE_P(EveryModel, ModelMatrix, ::testing::ValuesIn(everyModel()), rowName);
