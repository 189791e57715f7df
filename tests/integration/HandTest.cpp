// Every hand model through VelmoraApi on a vcan interface, with `velmora sim` playing the hand in
// another process and candump recording the bus. The frames the hand object puts on the bus are
// checked one by one; the simulated hand's counts tell its own frames from them, since both
// sides use the hand's identifier.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>

#include "support/Kernel.h"
#include "velmora/HandException.h"
#include "velmora/RangeToArc.h"
#include "velmora/VelmoraApi.h"

using velmora::ByteVector;
using velmora::ForceData;
using velmora::RadianVector;
using namespace velmora::integration;

namespace {

// --- what each model puts on the wire -------------------------------------------------------

enum class Result {
    Runs,
    Unsupported,  ///< throws velmora::UnsupportedFeatureException, sends nothing
    Refused,      ///< says so on standard output, sends nothing
};

struct Step {
    std::string name;
    std::function<void(VelmoraApi&)> call;
    Frames frames;
    Result result = Result::Runs;
    std::string message;
};

// A call of the facade, named by its own text, and the frames it sends.
// clang-format off
#define STEP(expression, ...)                                                                  \
    Step{#expression, [=](VelmoraApi& hand) { (void)hand.expression; }, Frames __VA_ARGS__,   \
         Result::Runs, {}}
// clang-format on

Step unsupported(Step step) {
    step.result = Result::Unsupported;
    return step;
}

Step refused(Step step, std::string message) {
    step.result = Result::Refused;
    step.message = std::move(message);
    return step;
}

ByteVector cat(std::uint8_t code, const ByteVector& values, std::size_t first = 0,
               std::size_t count = std::string::npos) {
    const std::size_t end = count == std::string::npos ? values.size() : first + count;
    ByteVector frame;
    frame.push_back(code);
    for (std::size_t i = first; i < end; ++i)
        frame.push_back(values.at(i));
    return frame;
}

ByteVector series(std::uint8_t first, std::size_t n) {
    ByteVector values(n);
    for (std::size_t i = 0; i < n; ++i)
        values[i] = static_cast<std::uint8_t>(first + i);
    return values;
}

// One request per code, codes first..first + n - 1.
Frames requests(std::uint8_t first, std::size_t n) {
    Frames frames;
    for (std::size_t i = 0; i < n; ++i)
        frames.push_back({static_cast<std::uint8_t>(first + i)});
    return frames;
}

// The matrix reads of the five fingertip sensors.
const Frames kMatrixReads = {{0xB1, 0xC6}, {0xB2, 0xC6}, {0xB3, 0xC6}, {0xB4, 0xC6}, {0xB5, 0xC6}};
const Frames kSummaryReads = {{0x28}, {0x29}, {0x30}, {0x31}, {0x32}};

std::vector<Step> refusedRavelOperations() {
    const char* message = "VelmoraApi : Currently only supports Ravel !";
    return {refused(STEP(setCurrent({1, 2, 3, 4, 5}), {}), message),
            refused(STEP(clearFaultCode({1, 2, 3, 4, 5}), {}), message)};
}

std::vector<Step> refusedZenitOperations() {
    const char* message = "VelmoraApi : Currently only supports Zenit !";
    return {refused(STEP(setDisable({0, 0, 0, 0, 0}), {}), message),
            refused(STEP(setEnable({1, 1, 1, 1, 1}), {}), message)};
}

struct HandProfile {
    std::string simName;
    std::size_t joints = 0;
    int arcKey = 0;
    std::string sensor;  ///< the simulated hand's fingertip sensors
    Frames construction;
    /// Polled after construction until it holds; each call sends fenceFrames. Once it holds,
    /// the hand's answers to the construction traffic (which decide what later calls send,
    /// such as the sensor kind) have all been taken in.
    std::function<bool(VelmoraApi&)> fence;
    Frames fenceFrames;
    std::function<Frames(const ByteVector&)> positionFrames;
    std::vector<Step> steps;
    Frames stateRequests, versionRequests, forceRequests;
    std::function<std::string(const std::string& side)> version;
    std::size_t forceRows = 12, forceRowBytes = 6;
};

HandProfile tovin() {
    const ByteVector speeds = series(0x50, 10), torques = series(0x30, 10);
    HandProfile profile;
    profile.simName = "tovin";
    profile.joints = 10;
    profile.arcKey = 10;
    profile.sensor = "summary";
    profile.construction = {{0x64}, {0xB1}};
    profile.fence = [](VelmoraApi& hand) { return !hand.getTemperature().empty(); };
    profile.fenceFrames = {{0x33}, {0x34}};
    profile.positionFrames = [](const ByteVector& p) {
        return Frames{cat(0x01, p, 0, 6), cat(0x04, p, 6, 4)};
    };
    profile.steps = {
        STEP(setSpeed(speeds), {cat(0x05, speeds, 0, 5), cat(0x06, speeds, 5, 5)}),
        STEP(setTorque(torques), {cat(0x02, torques, 0, 5), cat(0x03, torques, 5, 5)}),
        STEP(getSpeed(), {{0x05}, {0x06}}),
        STEP(getState(), {{0x01}, {0x04}}),
        STEP(getStateArc(), {{0x01}, {0x04}}),
        STEP(getForce(), {kSummaryReads}),
        STEP(getVersion(), {{0x64}}),
        STEP(getTorque(), {{0x02}, {0x03}}),
        STEP(getTemperature(), {{0x33}, {0x34}}),
        STEP(getFaultCode(), {{0x35}, {0x36}}),
        STEP(getCurrent(), {}),
    };
    profile.stateRequests = {{0x01}, {0x04}};
    profile.versionRequests = {{0x64}};
    profile.forceRequests = kSummaryReads;
    profile.version = [](const std::string& side) {
        return "freedom: 10\nRobot version: 1\nVersion Number: 1\nHand direction: " + side +
               " hand\nSoftware Version: 1.5\nHardware Version: 2\n";
    };
    profile.forceRows = 1;
    profile.forceRowBytes = 4;
    return profile;
}

HandProfile marlo() {
    const ByteVector speeds = series(0x50, 7), torques = series(0x30, 7);
    HandProfile profile;
    profile.simName = "marlo";
    profile.joints = 7;
    profile.arcKey = 7;
    profile.sensor = "summary";
    profile.construction = {{0x64}, {0xB1}};
    profile.fence = [](VelmoraApi& hand) { return !hand.getTemperature().empty(); };
    profile.fenceFrames = {{0x33}};
    profile.positionFrames = [](const ByteVector& p) { return Frames{cat(0x01, p)}; };
    profile.steps = {
        STEP(setSpeed(speeds), {cat(0x05, speeds)}),
        STEP(setTorque(torques), {cat(0x02, torques)}),
        STEP(getSpeed(), {{0x05}}),
        STEP(getState(), {{0x01}}),
        STEP(getStateArc(), {{0x01}}),
        STEP(getForce(), {kSummaryReads}),
        STEP(getVersion(), {{0x64}}),
        STEP(getTorque(), {{0x02}}),
        STEP(getTemperature(), {{0x33}}),
        STEP(getFaultCode(), {{0x35}}),
        unsupported(STEP(getCurrent(), {})),
    };
    profile.stateRequests = {{0x01}};
    profile.versionRequests = {{0x64}};
    profile.forceRequests = kSummaryReads;
    profile.version = [](const std::string& side) {
        return "freedom: 7\nRobot version: 1\nVersion Number: 1\nHand direction: " + side +
               " hand\nSoftware Version: 1.5\nHardware Version: 2\n";
    };
    profile.forceRows = 1;
    profile.forceRowBytes = 4;
    return profile;
}

HandProfile kesta(const std::string& simName) {
    const ByteVector speeds = series(0x50, 6), torques = series(0x30, 6);
    HandProfile profile;
    profile.simName = simName;
    profile.joints = 6;
    profile.arcKey = 6;
    profile.sensor = "matrix";
    profile.construction = {{0xC2}, {0xC0}, {0xC1}, {0xC4}, {0x33}, cat(0x05, ByteVector(6, 0x40)),
                            {0x01}};
    // The temperature caches start at zero; the hand is warmer than that.
    profile.fence = [](VelmoraApi& hand) { return hand.getTemperature() != ByteVector(6, 0); };
    profile.fenceFrames = {{0x33}};
    profile.positionFrames = [](const ByteVector& p) { return Frames{cat(0x01, p)}; };
    profile.steps = {
        STEP(setSpeed(speeds), {cat(0x05, speeds)}),
        STEP(setTorque(torques), {cat(0x02, torques)}),
        STEP(getSpeed(), {}),
        STEP(getState(), {{0x01}}),
        STEP(getStateArc(), {{0x01}}),
        STEP(getForce(), {kMatrixReads}),
        STEP(getVersion(), {}),
        STEP(getTorque(), {{0x02}}),
        STEP(getTemperature(), {{0x33}}),
        STEP(getFaultCode(), {{0x35}}),
        unsupported(STEP(getCurrent(), {})),
    };
    profile.stateRequests = {{0x01}};
    profile.versionRequests = {};
    profile.forceRequests = kMatrixReads;
    profile.version = [](const std::string&) {
        return std::string(
            "Software Version: 1.5.0\nHardware Version: 2.0.0\nMechanical Version: 1.0.2\n");
    };
    return profile;
}

HandProfile ravel() {
    const ByteVector speeds = series(0x50, 5), currents = series(0xC0, 5), faults = series(0x01, 5);
    HandProfile profile;
    profile.simName = "ravel";
    profile.joints = 20;
    profile.arcKey = 20;
    profile.sensor = "matrix";
    profile.construction = {{0xB0}, {0xB1}};
    profile.fence = [](VelmoraApi& hand) {
        return hand.getVersion().find("Software Version") != std::string::npos;
    };
    profile.fenceFrames = {{0xC1}, {0xC2}, {0xC3}};
    // Joints 10 to 19 go first.
    profile.positionFrames = [](const ByteVector& p) {
        return Frames{cat(0x03, p, 10, 5), cat(0x04, p, 15, 5), cat(0x01, p, 0, 5),
                      cat(0x02, p, 5, 5)};
    };
    profile.steps = {
        STEP(setSpeed(speeds), {cat(0x05, speeds)}),
        unsupported(STEP(setTorque(ByteVector(20, 0x30)), {})),
        STEP(getSpeed(), {{0x05}}),
        STEP(getState(), {requests(0x01, 4)}),
        STEP(getStateArc(), {requests(0x01, 4)}),
        STEP(getForce(), {kMatrixReads}),
        STEP(getVersion(), {{0xC1}, {0xC2}, {0xC3}}),
        unsupported(STEP(getTorque(), {})),
        unsupported(STEP(getTemperature(), {})),
        STEP(getFaultCode(), {{0x07}}),
        STEP(getCurrent(), {{0x06}}),
        STEP(setCurrent(currents), {cat(0x06, currents)}),
        STEP(clearFaultCode(faults), {cat(0x07, faults)}),
    };
    for (const Step& step : refusedZenitOperations())
        profile.steps.push_back(step);
    profile.stateRequests = requests(0x01, 4);
    profile.versionRequests = {{0xC1}, {0xC2}, {0xC3}};
    profile.forceRequests = kMatrixReads;
    profile.version = [](const std::string& side) {
        return "Hand direction: " + side + " hand\nSoftware Version: 1.5\nHardware Version: 2\n";
    };
    return profile;
}

// The hand keeps six state slots per finger; each slot carries one joint (command order), or
// none.
constexpr int kNoJoint = -1;
constexpr int kZenitSlots[30] = {10,       5, 0, 15, kNoJoint, 20, kNoJoint, 6, 1, 16, kNoJoint, 21,
                                 kNoJoint, 7, 2, 17, kNoJoint, 22, kNoJoint, 8, 3, 18, kNoJoint, 23,
                                 kNoJoint, 9, 4, 19, kNoJoint, 24};

HandProfile zenit(const std::string& simName, bool full) {
    const ByteVector speeds = series(0x50, 25), torques = series(0x30, 25);
    HandProfile profile;
    profile.simName = simName;
    profile.joints = 25;
    profile.arcKey = full ? 25 : 21;
    profile.sensor = "matrix";
    profile.construction = {{0xB0}, {0xB1}};
    // What this hand's later calls send does not depend on its answers.
    profile.fence = [](VelmoraApi&) { return true; };
    profile.positionFrames = [](const ByteVector& p) {
        Frames frames;
        for (std::size_t finger = 0; finger < 5; ++finger) {
            ByteVector frame{static_cast<std::uint8_t>(0x41 + finger)};
            for (std::size_t slot = 0; slot < 6; ++slot) {
                const int joint = kZenitSlots[finger * 6 + slot];
                frame.push_back(joint == kNoJoint ? 0 : p[static_cast<std::size_t>(joint)]);
            }
            frames.push_back(frame);
        }
        return frames;
    };
    const auto inFives = [](std::uint8_t first, const ByteVector& values) {
        Frames frames;
        for (std::size_t group = 0; group < 5; ++group)
            frames.push_back(cat(static_cast<std::uint8_t>(first + group), values, group * 5, 5));
        return frames;
    };
    profile.steps = {
        STEP(setSpeed(speeds), {inFives(0x49, speeds)}),
        STEP(setTorque(torques), {inFives(0x51, torques)}),
        STEP(getSpeed(), {requests(0x49, 5)}),
        STEP(getState(), {requests(0x41, 5)}),
        STEP(getStateArc(), {requests(0x41, 5)}),
        STEP(getForce(), {kMatrixReads}),
        STEP(getVersion(), {{0xC1}, {0xC2}, {0xC3}}),
        STEP(getTorque(), {requests(0x51, 5)}),
        STEP(getTemperature(), {requests(0x61, 5)}),
        STEP(getFaultCode(), {requests(0x59, 5)}),
        unsupported(STEP(getCurrent(), {})),
    };
    for (const Step& step : refusedRavelOperations())
        profile.steps.push_back(step);
    if (full) {
        // Disable first: the simulated hand ignores targets while its motors are off.
        profile.steps.push_back(STEP(setDisable({0, 0, 0, 0, 0}), {{0x85, 0, 0, 0, 0, 0}}));
        profile.steps.push_back(STEP(setEnable({1, 1, 1, 1, 1}), {{0x85, 1, 1, 1, 1, 1}}));
    } else {
        for (const Step& step : refusedZenitOperations())
            profile.steps.push_back(step);
    }
    profile.stateRequests = requests(0x41, 5);
    profile.versionRequests = {{0xC1}, {0xC2}, {0xC3}};
    profile.forceRequests = kMatrixReads;
    profile.version = [](const std::string& side) {
        return "Hand direction: " + side +
               " hand\nSoftware Version: 1.5.0.1\nHardware Version: 2.0.0.0\n";
    };
    return profile;
}

HandProfile profileOf(VELMORA model) {
    switch (model) {
        case KESTA_ALT:
            return kesta("kesta_alt");
        case KESTA:
            return kesta("kesta");
        case MARLO:
            return marlo();
        case TOVIN:
            return tovin();
        case RAVEL:
            return ravel();
        case SABRE:
            return zenit("sabre", false);
        case ZENIT:
            return zenit("zenit", true);
    }
    return tovin();
}

// Finger state this hand reports once its joints have reached `commanded`: joints that no state
// slot carries read as 0.
ByteVector stateAfter(VELMORA model, ByteVector commanded) {
    if (model == ZENIT || model == SABRE) {
        for (std::size_t joint = 11; joint <= 14; ++joint)
            commanded[joint] = 0;
    }
    return commanded;
}

// --- the frames a hand object is expected to send, call by call -----------------------------

class Wire {
  public:
    void expect(const Frames& frames) {
        frames_.insert(frames_.end(), frames.begin(), frames.end());
    }
    template <class Call>
    auto sends(const Frames& frames, Call call) {
        expect(frames);
        return call();
    }
    const Frames& frames() const { return frames_; }

  private:
    Frames frames_;
};

// --- the simulated hand ----------------------------------------------------------------------

struct SimTotals {
    unsigned long long in = 0, out = 0;
};

// Waits until the simulated hand has taken in `frames` frames (it reports every second), then
// stops it and returns its totals.
SimTotals stopAfter(Child& sim, std::size_t frames) {
    unsigned long long in = 0;
    sim.waitForLine(
        [&](const std::string& line) {
            unsigned long long lineIn = 0, lineOut = 0;
            if (std::sscanf(line.c_str(), "frames/s: %llu in, %llu out", &lineIn, &lineOut) == 2)
                in += lineIn;
            return in >= frames;
        },
        30000ms);
    sim.stop();
    SimTotals totals;
    const auto last = sim.waitForLine(
        [&](const std::string& line) {
            return std::sscanf(line.c_str(), "stopped after %llu frames in, %llu out", &totals.in,
                               &totals.out) == 2;
        },
        5000ms);
    if (!last)
        ADD_FAILURE() << "the simulated hand did not report its totals\n" << sim.transcript();
    return totals;
}

std::string framesText(const Frames& frames, std::uint32_t id) {
    std::vector<WireFrame> wire;
    for (const ByteVector& data : frames)
        wire.push_back({id, data});
    return toText(wire);
}

// --- the test --------------------------------------------------------------------------------

struct HandCase {
    VELMORA model;
    bool enumerated;  ///< VelmoraApi(model, side, CAN0), else the text form on vcan0
};

void PrintTo(const HandCase& c, std::ostream* os) {
    *os << profileOf(c.model).simName << (c.enumerated ? " as CAN0" : " on vcan0 by name");
}

class KernelHand : public ::testing::TestWithParam<HandCase> {};

TEST_P(KernelHand, FramesOnTheWireAndStateReadBack) {
    const HandCase param = GetParam();
    const std::string iface = param.enumerated ? "can0" : "vcan0";
    const HAND_TYPE side = param.enumerated ? RIGHT : LEFT;
    const std::string sideText = side == RIGHT ? "right" : "left";
    const std::string sideWord = side == RIGHT ? "Right" : "Left";
    VELMORA_SKIP_IF(needUp({iface}));
    VELMORA_SKIP_IF(needPrograms({"candump"}));
    const HandProfile profile = profileOf(param.model);

    Candump candump(iface);
    Child sim({VELMORA_COMMAND, "sim", "--model", profile.simName, "--side", sideText, "--channel",
               iface, "--sensor", profile.sensor});
    ASSERT_TRUE(sim.waitForLine(
        [](const std::string& line) { return line.find("Ctrl-C stops it") != std::string::npos; },
        kStartDeadline))
        << sim.transcript();

    Wire wire;
    std::optional<SimTotals> totals;
    {
        ::testing::internal::CaptureStdout();
        wire.expect(profile.construction);
        VelmoraApi api = param.enumerated ? VelmoraApi(param.model, side, CAN0)
                                          : VelmoraApi(param.model, side, iface, 1000000);
        EXPECT_EQ(::testing::internal::GetCapturedStdout(),
                  "CAN interface " + iface + " opened successfully\n");

        ASSERT_TRUE(pollUntil(
            [&] { return wire.sends(profile.fenceFrames, [&] { return profile.fence(api); }); }));

        // Every operation once.
        std::vector<Step> steps;
        const ByteVector positions = series(0xA0, profile.joints);
        steps.push_back(STEP(fingerMove(positions), {profile.positionFrames(positions)}));
        RadianVector angles(profile.joints);
        for (std::size_t i = 0; i < angles.size(); ++i)
            angles[i] = 0.1 * static_cast<double>(i % 5);
        const ByteVector converted = arc_to_range(profile.arcKey, sideText, angles);
        if (converted.size() == profile.joints) {
            steps.push_back(STEP(fingerMoveArc(angles), {profile.positionFrames(converted)}));
        } else {
            steps.push_back(
                refused(STEP(fingerMoveArc(angles), {}),
                        "Joint position size is not " + std::to_string(profile.joints)));
        }
        steps.insert(steps.end(), profile.steps.begin(), profile.steps.end());
        if (param.model != RAVEL && param.model != ZENIT && param.model != SABRE) {
            for (const auto& more : {refusedRavelOperations(), refusedZenitOperations()})
                steps.insert(steps.end(), more.begin(), more.end());
        }
        for (const Step& step : steps) {
            SCOPED_TRACE(step.name);
            wire.expect(step.frames);
            ::testing::internal::CaptureStdout();
            if (step.result == Result::Unsupported) {
                EXPECT_THROW(step.call(api), velmora::UnsupportedFeatureException);
            } else {
                step.call(api);
            }
            EXPECT_EQ(::testing::internal::GetCapturedStdout(),
                      step.result == Result::Refused ? step.message + "\n" : "");
        }

        // The hand closes on the object in it: its joints, version and fingertips read back.
        const ByteVector closed(profile.joints, 40);
        wire.sends(profile.positionFrames(closed), [&] { api.fingerMove(closed); });
        const ByteVector wanted = stateAfter(param.model, closed);
        ByteVector state;
        EXPECT_TRUE(pollUntil([&] {
            state = wire.sends(profile.stateRequests, [&] { return api.getState(); });
            return state == wanted;
        })) << "state "
            << toText(state) << ", wanted " << toText(wanted);

        const std::string version = profile.version(sideWord);
        std::string reported;
        EXPECT_TRUE(pollUntil([&] {
            reported = wire.sends(profile.versionRequests, [&] { return api.getVersion(); });
            return reported == version;
        })) << "version:\n"
            << reported << "wanted:\n"
            << version;

        ForceData force;
        const auto pressed = [&](const ForceData& fingers) {
            if (fingers.size() != 5)
                return false;
            for (const auto& rows : fingers) {
                if (rows.size() != profile.forceRows || rows[0].size() != profile.forceRowBytes)
                    return false;
                bool touched = false;
                for (const ByteVector& row : rows) {
                    for (std::uint8_t value : profile.forceRows == 1 ? ByteVector{row[0]} : row)
                        touched = touched || value != 0;
                }
                if (!touched)
                    return false;
            }
            return true;
        };
        EXPECT_TRUE(pollUntil(
            [&] {
                force = wire.sends(profile.forceRequests, [&] { return api.getForce(); });
                return pressed(force);
            },
            30000ms, 200ms))
            << "no pressure on every fingertip";

        totals = stopAfter(sim, wire.frames().size());
    }

    const std::vector<WireFrame> bus = candump.finish();
    const Frames& expected = wire.frames();
    std::size_t matched = 0;
    std::size_t strangers = 0;
    for (const WireFrame& frame : bus) {
        if (frame.id != side)
            ++strangers;
        else if (matched < expected.size() && frame.data == expected[matched])
            ++matched;
    }
    EXPECT_EQ(strangers, 0u) << "frames of other identifiers on the bus:\n" << toText(bus);
    EXPECT_EQ(matched, expected.size())
        << "the hand object's frame " << matched << " is not on the bus where expected; expected:\n"
        << framesText(expected, side) << "bus:\n"
        << toText(bus);
    ASSERT_TRUE(totals);
    EXPECT_EQ(totals->in, expected.size()) << "frames the simulated hand received";
    EXPECT_EQ(bus.size(), totals->in + totals->out) << "every other frame is the hand's answer";
}

std::string caseName(const ::testing::TestParamInfo<HandCase>& info) {
    std::string model = profileOf(info.param.model).simName;
    return model + (info.param.enumerated ? "_CAN0_right" : "_text_vcan0_left");
}

std::vector<HandCase> allCases() {
    std::vector<HandCase> cases;
    for (VELMORA model : {KESTA_ALT, KESTA, MARLO, TOVIN, RAVEL, SABRE, ZENIT}) {
        cases.push_back({model, true});
        cases.push_back({model, false});
    }
    return cases;
}

INSTANTIATE_TEST_SUITE_P(EveryModel, KernelHand, ::testing::ValuesIn(allCases()), caseName);

}  // namespace
