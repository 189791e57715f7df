// velmora monitor: a live view of the hand.
#include <CLI/CLI.hpp>

#include <algorithm>
#include <iomanip>
#include <sstream>
#include <thread>

#include "Subcommands.h"
#include "velmora/HandException.h"
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

/// Reads what the view shows; a reading the model lacks is dropped for good.
class Reader {
  public:
    explicit Reader(HandSession& session) : session_(session) {}

    Snapshot read() {
        Snapshot s;
        hand::IHand& hand = session_.hand();
        s.positions = fresh(hand::Reading::Positions, s, hasPositions_);
        s.temperatures = fresh(hand::Reading::Temperatures, s, hasTemperatures_);
        s.faults = fresh(hand::Reading::Faults, s, hasFaults_);
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
    std::optional<ByteVector> fresh(hand::Reading what, Snapshot& s, bool& available) {
        if (!available)
            return std::nullopt;
        try {
            return session_.hand().readFresh(what, session_.timeout());
        } catch (const UnsupportedFeatureException&) {
            available = false;
        } catch (const HandTimeoutException& e) {
            s.problem = e.what();
        }
        return std::nullopt;
    }

    HandSession& session_;
    bool hasPositions_ = true, hasTemperatures_ = true, hasFaults_ = true, hasForce_ = true;
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

std::string labelled(VELMORA model, const std::optional<ByteVector>& values) {
    if (!values)
        return "-";
    std::string text;
    for (const Labelled& v : meaningful(model, *values))
        text += (text.empty() ? "" : " ") + v.label + "=" + std::to_string(v.value);
    return text;
}

std::string faultText(VELMORA model, const std::optional<ByteVector>& faults) {
    if (!faults)
        return "-";
    std::string text;
    for (const Labelled& v : meaningful(model, *faults)) {
        if (v.value != 0)
            text += (text.empty() ? "" : " ") + v.label + "=" + std::to_string(v.value);
    }
    return text.empty() ? "none" : text;
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

void draw(const HandSession& session, const Snapshot& s, double rate) {
    const VELMORA model = session.model();
    erase();
    int row = 0;
    mvprintw(row++, 0, "velmora monitor  %s %s on %s   %.1f Hz   %.0f frames/s   last reply %s%s",
             models::modelName(model), models::sideName(session.side()), session.channel().c_str(),
             rate, s.framesPerSecond, ageText(s).c_str(), s.channelUp ? "" : "   CHANNEL DOWN");
    mvprintw(row++, 0, "q quits");
    ++row;
    mvprintw(row++, 0, "joints (0..255)");
    const int width = std::max(10, std::min(COLS - 16, 50));
    if (s.positions) {
        for (const Labelled& v : meaningful(model, *s.positions)) {
            const int filled = v.value * width / 255;
            mvprintw(row, 1, "%-4s%3d ", v.label.c_str(), v.value);
            for (int i = 0; i < width; ++i)
                addch(i < filled ? ACS_CKBOARD : '.');
            ++row;
        }
    } else {
        mvprintw(row++, 1, "no answer");
    }
    ++row;
    mvprintw(row++, 0, "temperatures (deg C): %s", labelled(model, s.temperatures).c_str());
    mvprintw(row++, 0, "faults: %s", faultText(model, s.faults).c_str());
    if (!s.force.empty()) {
        ++row;
        mvprintw(row++, 0, "fingertips   thumb   index   middle  ring    little");
        static const char kShades[] = " .:-=+*#%@";
        std::size_t rows = 0;
        for (const auto& finger : s.force)
            rows = std::max(rows, finger.size());
        for (std::size_t r = 0; r < rows && row < LINES - 1; ++r) {
            move(row++, 13);
            for (const auto& finger : s.force) {
                std::string cells;
                if (r < finger.size())
                    for (std::uint8_t v : finger[r])
                        cells += kShades[v * 9 / 255];
                printw("%-8s", cells.c_str());
            }
        }
    }
    if (!s.problem.empty() && row < LINES)
        mvprintw(std::min(row + 1, LINES - 1), 0, "%s", s.problem.c_str());
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
    Reader reader(session);
    const auto period = std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double>(1.0 / options.rate));
    const auto start = Clock::now();
    auto next = start;
    long long refreshes = 0;
    std::unique_ptr<Screen> screen;
    if (io.terminal)
        screen = std::make_unique<Screen>();
    while (!io.stop && (options.count == 0 || refreshes < options.count)) {
        const Snapshot s = reader.read();
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
