// velmora monitor: a live view of the hand.
#include <CLI/CLI.hpp>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <iomanip>
#include <sstream>
#include <thread>

#include "MonitorLayout.h"
#include "Subcommands.h"
#include "velmora/HandException.h"
#include "velmora/HandStream.h"
#include "velmora/Models.h"

// Last: curses defines macros with common names.
#include <curses.h>
#undef timeout

namespace velmora {
namespace tools {

namespace {

using Clock = std::chrono::steady_clock;

struct MonitorOptions {
    HandOptions hand;
    double rate = 10;
    long long count = 0;
};

struct Snapshot {
    std::optional<ByteVector> positions, temperatures, faults;
    ForceData force;
    std::string problem;  // the last read that got no answer
    double framesPerSecond = 0;
    std::optional<std::chrono::nanoseconds> age;
    bool channelUp = true;
};

// Readings asked for once a second count as missing when none came in for this long.
constexpr auto kStale = std::chrono::seconds(2);

std::string missing(hand::Reading what, std::uint32_t side, std::chrono::milliseconds within) {
    return std::string("No ") + models::readingName(what).name + " from hand " + handIdText(side) +
           " within " + std::to_string(within.count()) + " ms";
}

/// Takes what the view shows from a stream of the hand: the positions every cycle, the
/// temperatures and faults once a second; a reading the model lacks is left out.
class Reader {
  public:
    Reader(HandSession& session, bool fingertips)
        : session_(session), stream_(session.hand()), hasForce_(fingertips) {
        const HandStreamHealth health = stream_.health();
        for (std::size_t r = 0; r < kReadingCount; ++r)
            streamed_[r] = health.readings[r].requestedRate > 0;
    }

    Snapshot read(const std::atomic<bool>& stop) {
        Snapshot s;
        s.positions = newest(hand::Reading::Positions, s, stop);
        s.temperatures = lastOf(hand::Reading::Temperatures, s, stop);
        s.faults = lastOf(hand::Reading::Faults, s, stop);
        first_ = false;
        hand::IHand& hand = session_.hand();
        if (hasForce_) {
            try {
                s.force = hand.getForce();
            } catch (const UnsupportedFeatureException&) {
                hasForce_ = false;
            }
        }
        const hand::HandHealth health = hand.health();
        const auto now = Clock::now();
        if (lastAt_ != Clock::time_point{}) {
            const double dt = std::chrono::duration<double>(now - lastAt_).count();
            if (dt > 0)
                s.framesPerSecond = double(health.framesReceived - lastFrames_) / dt;
        }
        lastAt_ = now;
        lastFrames_ = health.framesReceived;
        s.age = health.lastFrameAge;
        s.channelUp = health.channelUp;
        return s;
    }

  private:
    // A reading newer than the last refresh's.
    std::optional<ByteVector> newest(hand::Reading what, Snapshot& s,
                                     const std::atomic<bool>& stop) {
        const std::size_t r = static_cast<std::size_t>(what);
        if (!streamed_[r])
            return std::nullopt;
        if (auto reading = awaitReading(stream_, what, held_[r], session_.timeout(), stop)) {
            held_[r] = reading->sequence;
            return reading->values;
        }
        if (!stop)
            s.problem = missing(what, session_.side(), session_.timeout());
        return std::nullopt;
    }

    // The last that came in of a slow reading; the first refresh waits for one.
    std::optional<ByteVector> lastOf(hand::Reading what, Snapshot& s,
                                     const std::atomic<bool>& stop) {
        const std::size_t r = static_cast<std::size_t>(what);
        if (!streamed_[r])
            return std::nullopt;
        StampedReading reading = stream_.latest(what);
        if (first_ && reading.empty())
            reading =
                awaitReading(stream_, what, 0, session_.timeout(), stop).value_or(StampedReading{});
        const auto within = first_ ? session_.timeout() : kStale + session_.timeout();
        if (!reading.empty() && reading.age <= within)
            return reading.values;
        if (!stop)
            s.problem = missing(what, session_.side(),
                                std::chrono::duration_cast<std::chrono::milliseconds>(within));
        return std::nullopt;
    }

    HandSession& session_;
    HandStream stream_;
    std::array<bool, kReadingCount> streamed_{};
    std::array<std::uint64_t, kReadingCount> held_{};
    bool first_ = true;
    // The fingertips only where the view shows them: asking for them takes the budget.
    bool hasForce_;
    Clock::time_point lastAt_{};
    std::uint64_t lastFrames_ = 0;
};

std::string ageText(const Snapshot& s) {
    if (!s.age)
        return "no reply yet";
    std::ostringstream t;
    t << std::fixed << std::setprecision(0)
      << std::chrono::duration<double, std::milli>(*s.age).count() << " ms";
    return t.str();
}

std::vector<std::string> labelledItems(VELMORA model, const std::optional<ByteVector>& values) {
    if (!values)
        return {"-"};
    std::vector<std::string> items;
    for (const Labelled& v : meaningful(model, *values))
        items.push_back(v.label + "=" + std::to_string(v.value));
    return items;
}

std::vector<std::string> faultItems(VELMORA model, const std::optional<ByteVector>& faults) {
    if (!faults)
        return {"-"};
    std::vector<std::string> items;
    for (const Labelled& v : meaningful(model, *faults)) {
        if (v.value != 0)
            items.push_back(v.label + "=" + std::to_string(v.value));
    }
    if (items.empty())
        items.push_back("none");
    return items;
}

std::string joined(const std::vector<std::string>& items) {
    std::string text;
    for (const std::string& item : items)
        text += (text.empty() ? "" : " ") + item;
    return text;
}

std::string labelled(VELMORA model, const std::optional<ByteVector>& values) {
    return joined(labelledItems(model, values));
}

std::string faultText(VELMORA model, const std::optional<ByteVector>& faults) {
    return joined(faultItems(model, faults));
}

std::string plainLine(VELMORA model, const Snapshot& s, double seconds) {
    std::ostringstream line;
    line << std::fixed << std::setprecision(1) << seconds << " s  " << std::setprecision(0)
         << s.framesPerSecond << " frames/s  last reply " << ageText(s) << "  joints "
         << labelled(model, s.positions) << "  temperatures °C " << labelled(model, s.temperatures)
         << "  faults " << faultText(model, s.faults);
    if (!s.problem.empty())
        line << "  (" << s.problem << ")";
    return line.str();
}

/// The terminal in curses mode for the view's lifetime; restored however the view ends.
class Screen {
  public:
    Screen() {
        initscr();
        cbreak();  // Ctrl-C still interrupts
        noecho();
        nodelay(stdscr, TRUE);
        keypad(stdscr, TRUE);
        curs_set(0);
    }
    ~Screen() {
        curs_set(1);
        endwin();
    }
    Screen(const Screen&) = delete;
    Screen& operator=(const Screen&) = delete;
};

std::vector<std::string> headerParts(const HandSession& session, const Snapshot& s, double rate) {
    std::ostringstream hz, frames;
    hz << std::fixed << std::setprecision(1) << rate << " Hz";
    frames << std::fixed << std::setprecision(0) << s.framesPerSecond << " frames/s";
    std::vector<std::string> parts = {
        std::string("velmora monitor  ") + models::modelName(session.model()) + " " +
            models::sideName(session.side()) + " on " + session.channel(),
        hz.str(), frames.str(), "last reply " + ageText(s)};
    if (!s.channelUp)
        parts.push_back("CHANNEL DOWN");
    return parts;
}

// Text that stops at the right edge instead of running on into the next row.
void put(int row, int column, const std::string& text) {
    if (row >= 0 && row < LINES && column < COLS)
        mvaddnstr(row, column, text.c_str(), COLS - column);
}

void draw(const HandSession& session, const Snapshot& s, double rate) {
    const VELMORA model = session.model();
    const MonitorLayout layout = layoutMonitor(model, COLS, LINES, headerParts(session, s, rate));
    erase();
    for (std::size_t i = 0; i < layout.header.size(); ++i)
        put(static_cast<int>(i), 0, layout.header[i]);
    put(layout.jointsTitleRow, 0, layout.jointsTitle);
    if (s.positions) {
        const std::vector<Labelled> values = meaningful(model, *s.positions);
        for (std::size_t j = 0; j < values.size() && j < layout.shown; ++j) {
            const Labelled& v = values[j];
            const int row = layout.cellRow(j);
            const int column = layout.cellColumn(j);
            char lead[32];
            std::snprintf(lead, sizeof lead, " %-4s%3d ", v.label.c_str(), v.value);
            put(row, column, lead);
            const int filled = v.value * layout.barWidth / 255;
            move(row, column + static_cast<int>(std::strlen(lead)));
            for (int i = 0; i < layout.barWidth; ++i)
                addch(i < filled ? ACS_CKBOARD : '.');
        }
    } else {
        put(layout.jointsTitleRow + 1, 1, "no answer");
    }
    int row = layout.lowerRow;
    for (const std::string& line :
         foldItems("temperatures (deg C): ", labelledItems(model, s.temperatures), COLS,
                   layout.temperatureLines))
        put(row++, 0, line);
    for (const std::string& line :
         foldItems("faults: ", faultItems(model, s.faults), COLS, layout.faultLines))
        put(row++, 0, line);
    if (!s.force.empty() && row + 2 < layout.problemRow) {
        ++row;
        put(row++, 0, "fingertips   thumb   index   middle  ring    little");
        static const char kShades[] = " .:-=+*#%@";
        std::size_t rows = 0;
        for (const auto& finger : s.force)
            rows = std::max(rows, finger.size());
        for (std::size_t r = 0; r < rows && row < layout.problemRow; ++r) {
            std::string line(13, ' ');
            for (const auto& finger : s.force) {
                std::string cells;
                if (r < finger.size())
                    for (std::uint8_t v : finger[r])
                        cells += kShades[v * 9 / 255];
                cells.resize(std::max<std::size_t>(cells.size(), 8), ' ');
                line += cells;
            }
            put(row++, 0, line);
        }
    }
    if (!s.problem.empty())
        put(std::min(row + 1, layout.problemRow), 0, s.problem);
    refresh();
}

int runMonitor(const MonitorOptions& options, Io& io) {
    if (!(options.rate > 0) || options.rate > 1000)
        throw UsageError("--rate must be more than 0 and at most 1000");
    if (options.count < 0)
        throw UsageError("--count must be 0 or more");
    HandOptions handOptions = options.hand;
    handOptions.requireAnswer = true;
    HandSession session(handOptions);
    session.waitForFirstReply(session.timeout(), io.stop);
    Reader reader(session, io.terminal);
    const auto period = std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double>(1.0 / options.rate));
    const auto start = Clock::now();
    auto next = start;
    long long refreshes = 0;
    std::unique_ptr<Screen> screen;
    if (io.terminal)
        screen = std::make_unique<Screen>();
    while (!io.stop && (options.count == 0 || refreshes < options.count)) {
        const Snapshot s = reader.read(io.stop);
        ++refreshes;
        if (screen) {
            draw(session, s, options.rate);
        } else {
            io.out << plainLine(session.model(), s,
                                std::chrono::duration<double>(Clock::now() - start).count())
                   << std::endl;
        }
        next += period;
        while (!io.stop && Clock::now() < next) {
            if (screen && (getch() == 'q'))
                return kSuccess;
            std::this_thread::sleep_for(
                std::min<Clock::duration>(next - Clock::now(), std::chrono::milliseconds(20)));
        }
        if (screen && getch() == 'q')
            return kSuccess;
    }
    if (io.stop) {
        screen.reset();  // the message goes below the restored terminal, not into the view
        holdOnInterrupt("monitor", session, io);
    }
    return kSuccess;
}

}  // namespace

void addMonitor(CLI::App& app, Subcommands& commands) {
    auto options = std::make_shared<MonitorOptions>();
    CLI::App* command = app.add_subcommand(
        "monitor", "Live view of joints, temperatures, faults and fingertips (q or Ctrl-C quits)");
    addHandOptions(command, options->hand);
    command->add_option("--rate", options->rate, "Refreshes per second")->capture_default_str();
    command->add_option("--count,-n", options->count, "Stop after this many refreshes (0: never)")
        ->capture_default_str();
    commands.add(command, [options](Io& io) {
        return guarded("monitor", io, [&] { return runMonitor(*options, io); });
    });
}

}  // namespace tools
}  // namespace velmora
