#include "Demo.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <functional>
#include <iomanip>
#include <optional>
#include <sstream>
#include <thread>

#include "Common.h"
#include "velmora/Models.h"
#include "velmora/sim/SimulatedHand.h"
#include "velmora/velmora.h"

namespace velmora {
namespace tools {

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr auto kSettleDeadline = 5s;
constexpr auto kReplyDeadline = 2s;
constexpr auto kPollPeriod = 100ms;
// How long one fresh read waits for the hand's answers.
constexpr auto kReadTimeout = 200ms;

const char* bar(std::uint8_t v) {
    static const char* const kLevels[] = {"▁", "▂", "▃", "▄", "▅", "▆", "▇", "█"};
    return kLevels[v / 32];
}

// One cell of five columns per joint that exists: its value and a bar.
std::string cells(VELMORA model, const ByteVector& values) {
    std::ostringstream line;
    for (const Labelled& v : meaningful(model, values))
        line << std::setw(4) << v.value << bar(static_cast<std::uint8_t>(v.value));
    return line.str();
}

std::string labels(VELMORA model, const ByteVector& values) {
    std::ostringstream line;
    for (const Labelled& v : meaningful(model, values))
        line << std::setw(5) << v.label;
    return line.str();
}

std::string heat(std::uint8_t value) {
    static const char kShades[] = " .:-=+*#%@";
    return std::string(1, kShades[value * 9 / 255]);
}

/// Polls `read` until `done` holds for its result or the deadline passes.
template <class T>
std::optional<T> pollUntil(const std::function<T()>& read,
                           const std::function<bool(const T&)>& done, Clock::duration deadline,
                           const std::function<void(const T&)>& show = {}) {
    const auto end = Clock::now() + deadline;
    while (true) {
        T value = read();
        if (show)
            show(value);
        if (done(value))
            return value;
        if (Clock::now() > end)
            return std::nullopt;
        std::this_thread::sleep_for(kPollPeriod);
    }
}

class Demo {
  public:
    Demo(VELMORA model, std::uint32_t side, std::ostream& out, bool terminal)
        : model_(model),
          terminal_(terminal),
          side_(side),
          out_(out),
          info_(models::info(model)),
          bus_(std::string("virtual:can-demo-") + info_.name + "-" + models::sideName(side)),
          simulated_(sim::openSimChannel(bus_), simConfig()),
          hand_(model, static_cast<HAND_TYPE>(side), bus_) {}

    bool run() {
        out_ << "== " << info_.name << ": " << info_.description << ", " << models::sideName(side_)
             << " (CAN id 0x" << std::hex << side_ << std::dec << ") ==\n";
        bool ok = true;
        ok &= step("version", [&] { return showVersion(); });
        ok &= step("open (bytes)", [&] { return moveTo(openPose()); });
        ok &= step("close (bytes)", [&] { return moveTo(closePose()); });
        ok &= step("point (bytes)", [&] { return moveTo(pointPose()); });
        ok &= step("open (radians)", [&] { return moveToAngles(openPose()); });
        ok &= step("close (radians)", [&] { return moveToAngles(closePose()); });
        ok &= step("fingertips", [&] { return showFingertips(); });
        ok &= step("temperatures and faults", [&] { return showHealth(); });
        ok &= step("unplugged", [&] { return unplugAndReplug(); });
        hand_.fingerMove(openPose());
        out_ << std::endl;
        return ok;
    }

  private:
    sim::SimConfig simConfig() const {
        sim::SimConfig config;
        config.model = model_;
        config.handId = side_;
        config.sensor = sim::SensorKind::Matrix;
        return config;
    }

    bool step(const char* name, const std::function<bool()>& body) {
        out_ << "-- " << name << "\n";
        const bool ok = body();
        out_ << (ok ? "   ok" : "   FAILED") << std::endl;
        return ok;
    }

    ByteVector openPose() const { return models::pose(model_, models::PoseName::Open); }
    ByteVector closePose() const { return models::pose(model_, models::PoseName::Close); }
    ByteVector pointPose() const { return models::pose(model_, models::PoseName::Point); }

    bool showVersion() {
        const auto text =
            pollUntil<std::string>([&] { return hand_.getVersion(); },
                                   [](const std::string& t) { return !t.empty(); }, kReplyDeadline);
        if (!text)
            return false;
        std::string line;
        for (char c : *text) {
            if (c == '\n') {
                out_ << "   " << line << "\n";
                line.clear();
            } else {
                line += c;
            }
        }
        return true;
    }

    bool reached(const ByteVector& state, const ByteVector& target) const {
        if (state.size() != target.size())
            return false;
        for (std::size_t j = 0; j < state.size(); ++j) {
            if (!info_.carriesJoint(j))
                continue;
            if (std::abs(int(state[j]) - int(target[j])) > 1)
                return false;
        }
        return true;
    }

    bool moveTo(const ByteVector& target) {
        const ByteVector& pose = target;
        out_ << "   joint  " << labels(model_, pose) << "\n";
        out_ << "   target " << cells(model_, pose) << "   (0..255)\n";
        hand_.fingerMove(pose);
        const auto start = Clock::now();
        // On a terminal the state is one line redrawn in place; elsewhere a line per poll. Each
        // is a fresh reading: where the joints are now, never where they were told to go.
        const auto state = pollUntil<ByteVector>(
            [&] { return freshState(); }, [&](const ByteVector& s) { return reached(s, pose); },
            kSettleDeadline,
            [&](const ByteVector& s) {
                out_ << (terminal_ ? "\r\033[K" : "") << "   state  " << cells(model_, s)
                     << (terminal_ ? "" : "\n") << std::flush;
            });
        if (terminal_)
            out_ << "\n";
        if (state) {
            out_ << "   settled in " << std::fixed << std::setprecision(1)
                 << std::chrono::duration<double>(Clock::now() - start).count() << " s\n"
                 << std::defaultfloat;
        }
        showLink();
        return state.has_value();
    }

    void showAngles(const char* title, const RadianVector& angles) {
        out_ << "   " << title;
        for (std::size_t j = 0; j < angles.size(); ++j) {
            if (info_.carriesJoint(j))
                out_ << " " << models::jointLabel(model_, j) << "=" << std::fixed
                     << std::setprecision(2) << angles[j];
        }
        out_ << std::defaultfloat << "\n";
    }

    bool moveToAngles(const ByteVector& pose) {
        if (!info_.hasAngleTables()) {
            out_ << "   this hand has no joint-angle tables: commands stay in bytes\n";
            return true;
        }
        const int key = info_.angleTableKey;
        const std::string side = models::sideName(side_);
        const RadianVector angles = range_to_arc(key, side, pose);
        std::vector<double> min, max;
        std::vector<int> derict;
        initialize_params(key, side, min, max, derict);

        showAngles("target (rad)", angles);
        hand_.fingerMoveArc(angles);
        // Read back within one step of the 0..255 range of each joint.
        auto close = [&](const RadianVector& read) {
            if (read.size() != angles.size())
                return false;
            for (std::size_t j = 0; j < read.size(); ++j) {
                if (std::abs(read[j] - angles[j]) > std::abs(max[j] - min[j]) / 255.0 + 1e-9) {
                    return false;
                }
            }
            return true;
        };
        const auto read = pollUntil<RadianVector>(
            [&]() -> RadianVector {
                try {
                    return hand_.readStateArc(kReadTimeout);
                } catch (const HandTimeoutException&) {
                    return {};
                }
            },
            close, kSettleDeadline);
        if (read) {
            showAngles("read   (rad)", *read);
        }
        return read.has_value();
    }

    bool showFingertips() {
        auto touched = [](const ForceData& force) {
            for (const auto& finger : force)
                for (const auto& row : finger)
                    for (std::uint8_t v : row)
                        if (v > 0)
                            return true;
            return false;
        };
        const auto force =
            pollUntil<ForceData>([&] { return hand_.getForce(); }, touched, kReplyDeadline);
        if (!force)
            return false;
        out_ << "   thumb   index   middle  ring    little\n";
        std::size_t rows = 0;
        for (const auto& finger : *force)
            rows = std::max(rows, finger.size());
        for (std::size_t r = 0; r < rows; ++r) {
            out_ << "   ";
            for (const auto& finger : *force) {
                std::string cells;
                if (r < finger.size()) {
                    for (std::uint8_t v : finger[r])
                        cells += heat(v);
                }
                out_ << std::left << std::setw(8) << cells;
            }
            out_ << "\n";
        }
        return true;
    }

    // Reads one per-joint quantity; false only when the hand reports it but never answered.
    bool showReading(const char* label, const std::function<ByteVector()>& read,
                     std::optional<ByteVector>* result = nullptr) {
        std::optional<ByteVector> values;
        try {
            read();  // a getter returns the last reply: ask first, so the next read is fresh
            std::this_thread::sleep_for(kPollPeriod);
            values = pollUntil<ByteVector>(
                read, [](const ByteVector& v) { return !v.empty(); }, kReplyDeadline);
        } catch (const UnsupportedFeatureException&) {
            out_ << "   " << label << ": not reported by this hand\n";
            return true;
        }
        if (!values)
            return false;
        out_ << "   " << label << ":";
        for (const Labelled& v : meaningful(model_, *values))
            out_ << " " << v.label << "=" << v.value;
        out_ << "\n";
        if (result)
            *result = values;
        return true;
    }

    bool showHealth() {
        std::optional<ByteVector> faults;
        bool ok = showReading("temperatures (°C)", [&] { return hand_.getTemperature(); });
        ok &= showReading("motor currents (raw: the hand defines no unit)",
                          [&] { return hand_.getCurrent(); });
        ok &= showReading(
            "fault codes", [&] { return hand_.getFaultCode(); }, &faults);
        return ok && faults &&
               std::all_of(faults->begin(), faults->end(), [](std::uint8_t f) { return f == 0; });
    }

    // The joints from the hand's answers to this read; empty when it did not answer in time.
    ByteVector freshState() {
        try {
            return hand_.readState(kReadTimeout);
        } catch (const HandTimeoutException&) {
            return {};
        }
    }

    // What the library knows of the link: frames from the hand and the age of the last one.
    void showLink() {
        const hand::HandHealth health = hand_.health();
        out_ << "   link   " << health.framesReceived << " frames from the hand";
        if (health.lastFrameAge) {
            out_ << ", last " << std::fixed << std::setprecision(1)
                 << std::chrono::duration<double, std::milli>(*health.lastFrameAge).count()
                 << " ms ago" << std::defaultfloat;
        }
        out_ << (health.channelUp ? "" : ", channel down") << "\n";
    }

    // The hand falls silent, as if its cable were pulled: a fresh read says so in time, and
    // once it answers again the reads go on.
    bool unplugAndReplug() {
        simulated_.setSilent(true);
        bool timedOut = false;
        try {
            hand_.readState(100ms);
        } catch (const HandTimeoutException& e) {
            timedOut = true;
            out_ << "   silent hand: " << e.what() << "\n";
        }
        std::this_thread::sleep_for(kPollPeriod);
        showLink();
        simulated_.setSilent(false);
        const auto back =
            pollUntil<ByteVector>([&] { return freshState(); },
                                  [](const ByteVector& s) { return !s.empty(); }, kReplyDeadline);
        if (back) {
            out_ << "   the hand answers again\n";
            showLink();
        }
        return timedOut && back.has_value();
    }

    VELMORA model_;
    bool terminal_;
    std::uint32_t side_;
    std::ostream& out_;
    const models::ModelInfo& info_;
    std::string bus_;
    sim::SimulatedHand simulated_;
    VelmoraApi hand_;
};

}  // namespace

bool runDemo(VELMORA model, std::uint32_t side, std::ostream& out, bool terminal) {
    try {
        return Demo(model, side, out, terminal).run();
    } catch (const std::exception& e) {
        out << "demo of " << models::modelName(model) << " failed: " << e.what() << std::endl;
        return false;
    }
}

}  // namespace tools
}  // namespace velmora
