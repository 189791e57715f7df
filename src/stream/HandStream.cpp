#include "velmora/HandStream.h"

#include <algorithm>
#include <cmath>
#include <sstream>
#include <stdexcept>
#include <string>

#include "detail/Messages.h"
#include "detail/Pacing.h"
#include "detail/StreamCore.h"
#include "velmora/HandException.h"
#include "velmora/VelmoraApi.h"

namespace velmora {
namespace detail {

namespace {

using hand::Reading;

// Achieved rates are counted over this much of the recent past.
constexpr auto kRateWindow = std::chrono::seconds(5);

hand::detail::HandCore& coreOf(hand::IHand& hand) {
    hand::detail::HandCore* core = hand::detail::HandCoreAccess::core(hand);
    if (core == nullptr) {
        throw UnsupportedFeatureException("HandStream of a hand that is not a library model");
    }
    return *core;
}

double defaultRate(Reading what) {
    switch (what) {
        case Reading::Positions:
            return HandStreamOptions::kEveryCycle;
        case Reading::Temperatures:
        case Reading::Faults:
            return 1.0;
        default:
            return 0.0;
    }
}

std::string number(double value) {
    std::ostringstream text;
    text << value;
    return text.str();
}

}  // namespace

StreamCore::StreamCore(hand::IHand& hand, VELMORA model, const HandStreamOptions& options,
                       HandStream::Callback callback)
    : hand_(hand),
      core_(coreOf(hand)),
      model_(model),
      info_(models::info(model)),
      started_(Clock::now()),
      callback_(std::move(callback)) {
    std::vector<hand::detail::LaneRate> lanes;
    for (Reading what : models::kAllReadings) {
        const std::optional<double>& given = options.rates[static_cast<std::size_t>(what)];
        const char* name = models::readingName(what).name;
        if (given && (std::isnan(*given) || *given < 0)) {
            throw std::invalid_argument(std::string("HandStream: the rate of ") + name +
                                        " must be 0 or more per second, not " + number(*given));
        }
        const hand::detail::FreshReading* fresh = core_.reading(what);
        const bool answers = info_.has(what) && fresh != nullptr;
        if (given && *given > 0 && !answers) {
            throw UnsupportedFeatureException(std::string("HandStream rate of ") + name);
        }
        const double rate = given ? *given : (answers ? defaultRate(what) : 0.0);
        if (rate > 0) {
            watched_.push_back({what, rate, fresh, core_.caches.replyCounts(fresh->replies), {}});
            lanes.push_back({what, rate});
        }
    }
    // The listener and the budget touch only what is built above; the callback thread starts
    // last.
    listener_ = core_.addReplyListener([this](std::uint8_t code) { onReply(code); });
    budget_ = hand::detail::SendBudget::of(core_.channelName(), core_.handId());
    member_ = budget_->join(core_, lanes, options.keepAlive);
    core_.routeThrough(budget_);
    if (callback_) {
        callbackThread_ = std::thread([this] { runCallbacks(); });
    }
}

StreamCore::~StreamCore() {
    close();
}

void StreamCore::close() {
    std::lock_guard<std::mutex> closing(closeMutex_);
    if (closed_) {
        return;
    }
    closed_ = true;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        closing_ = true;
    }
    published_.notify_all();
    budget_->leave(member_);
    core_.unroute();
    core_.removeReplyListener(listener_);
    if (callbackThread_.joinable()) {
        callbackThread_.join();
    }
    budget_.reset();
}

void StreamCore::sendCommand(const std::vector<ByteVector>& frames) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (closing_) {
            throw std::logic_error("HandStream: the stream is closed");
        }
    }
    budget_->command(member_, frames);
}

void StreamCore::command(const ByteVector& positions) {
    const auto slots = models::perSlot(model_, positions);
    if (!slots) {
        throw std::invalid_argument(std::string("HandStream::command: the ") + info_.description +
                                    " " + models::countsTaken(model_) + ", not " +
                                    std::to_string(positions.size()));
    }
    sendCommand(core_.capture([&] { hand_.setJointPositions(*slots); }));
}

void StreamCore::commandArc(const RadianVector& angles) {
    if (!info_.hasAngleTables()) {
        throw UnsupportedFeatureException("HandStream::commandArc");
    }
    const auto slots = models::perSlot(model_, angles, 0.0);
    if (!slots) {
        throw std::invalid_argument(std::string("HandStream::commandArc: the ") +
                                    info_.description + " " + models::countsTaken(model_) +
                                    ", not " + std::to_string(angles.size()));
    }
    for (std::size_t i = 0; i < angles.size(); ++i) {
        if (!std::isfinite(angles[i])) {
            throw std::invalid_argument("HandStream::commandArc: angle " + std::to_string(i) +
                                        " is not a finite number");
        }
    }
    if (!hand::detail::sideName(core_.handId())) {
        throw std::invalid_argument("HandStream::commandArc: identifier " +
                                    std::to_string(core_.handId()) +
                                    " names no side, so no joint table converts its angles");
    }
    sendCommand(core_.capture([&] { hand_.setJointPositionArc(*slots); }));
}

void StreamCore::onReply(std::uint8_t code) {
    for (Watched& watched : watched_) {
        const std::vector<std::uint8_t>& codes = watched.fresh->replies;
        if (std::find(codes.begin(), codes.end(), code) == codes.end()) {
            continue;
        }
        // Only the receive thread writes the counts, so they can be read here without the
        // stream's lock.
        const std::vector<std::uint64_t> counts = core_.caches.replyCounts(codes);
        bool whole = true;
        for (std::size_t i = 0; i < counts.size(); ++i) {
            whole = whole && counts[i] > watched.counts[i];
        }
        if (!whole) {
            continue;
        }
        auto [values, arrival] = core_.shapedReading(*watched.fresh);
        if (values.empty()) {
            continue;
        }
        {
            std::lock_guard<std::mutex> lock(mutex_);
            watched.counts = std::move(arrival.counts);
            StampedReading& newest = latest_[static_cast<std::size_t>(watched.reading)];
            newest.reading = watched.reading;
            newest.values = std::move(values);
            newest.received = arrival.steady;
            newest.receivedSystem = arrival.system;
            ++newest.sequence;
            watched.arrivals.push_back(arrival.steady);
            while (!watched.arrivals.empty() &&
                   arrival.steady - watched.arrivals.front() > kRateWindow) {
                watched.arrivals.pop_front();
            }
        }
        published_.notify_all();
    }
}

StampedReading StreamCore::aged(const StampedReading& reading, Clock::time_point now) const {
    StampedReading copy = reading;
    if (!copy.empty()) {
        copy.age = now - copy.received;
    }
    return copy;
}

StreamState StreamCore::latest() const {
    StreamState state;
    std::lock_guard<std::mutex> lock(mutex_);
    const auto now = Clock::now();
    for (std::size_t r = 0; r < kReadingCount; ++r) {
        state.readings[r] = aged(latest_[r], now);
        state.readings[r].reading = static_cast<Reading>(r);
    }
    return state;
}

StampedReading StreamCore::latest(Reading what) const {
    std::lock_guard<std::mutex> lock(mutex_);
    StampedReading reading = aged(latest_[static_cast<std::size_t>(what)], Clock::now());
    reading.reading = what;
    return reading;
}

std::optional<StampedReading> StreamCore::next(Reading what, std::uint64_t after,
                                               std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(mutex_);
    const StampedReading& newest = latest_[static_cast<std::size_t>(what)];
    if (!published_.wait_for(lock, timeout, [&] { return closing_ || newest.sequence > after; }) ||
        newest.sequence <= after) {
        return std::nullopt;
    }
    return aged(newest, Clock::now());
}

void StreamCore::runCallbacks() {
    std::array<std::uint64_t, kReadingCount> delivered{};
    std::unique_lock<std::mutex> lock(mutex_);
    while (true) {
        const auto fresh = [&] {
            for (std::size_t r = 0; r < kReadingCount; ++r) {
                if (latest_[r].sequence > delivered[r]) {
                    return true;
                }
            }
            return false;
        };
        published_.wait(lock, [&] { return closing_ || fresh(); });
        if (closing_) {
            return;
        }
        std::vector<StampedReading> due;
        const auto now = Clock::now();
        for (std::size_t r = 0; r < kReadingCount; ++r) {
            if (latest_[r].sequence > delivered[r]) {
                delivered[r] = latest_[r].sequence;
                due.push_back(aged(latest_[r], now));
            }
        }
        std::sort(due.begin(), due.end(), [](const StampedReading& a, const StampedReading& b) {
            return a.received < b.received;
        });
        lock.unlock();
        for (const StampedReading& reading : due) {
            try {
                callback_(reading);
            } catch (const std::exception& e) {
                message(MessageLevel::Error, Stream::Err,
                        std::string("HandStream callback failed: ") + e.what());
            }
        }
        lock.lock();
    }
}

void StreamCore::setKeepAlive(std::chrono::milliseconds keepAlive) {
    budget_->setKeepAlive(member_, keepAlive);
}

HandStreamHealth StreamCore::health() const {
    HandStreamHealth health;
    const hand::detail::BudgetCounts counts =
        budget_ ? budget_->counts(member_) : hand::detail::BudgetCounts{};
    health.framesPerSecond = counts.framesPerSecond;
    health.frameLimitPerSecond =
        1.0 / std::chrono::duration<double>(communication::detail::kFrameGap).count();
    health.budgetUsed = counts.budgetUsed;
    health.framesSent = counts.framesSent;
    health.commandsSent = counts.commandsSent;
    health.commandsSuperseded = counts.commandsSuperseded;
    health.commandsUnchanged = counts.commandsUnchanged;
    health.keepAlivesSent = counts.keepAlivesSent;
    std::lock_guard<std::mutex> lock(mutex_);
    const auto now = Clock::now();
    const double window =
        std::chrono::duration<double>(std::min<Clock::duration>(kRateWindow, now - started_))
            .count();
    for (const Watched& watched : watched_) {
        const auto r = static_cast<std::size_t>(watched.reading);
        StreamReadingHealth& reading = health.readings[r];
        reading.requestedRate = watched.rate;
        reading.readings = latest_[r].sequence;
        reading.cycleCost = counts.cycleCost[r];
        const auto recent =
            std::count_if(watched.arrivals.begin(), watched.arrivals.end(),
                          [&](Clock::time_point t) { return now - t <= kRateWindow; });
        reading.achievedRate = window > 0 ? static_cast<double>(recent) / window : 0.0;
    }
    return health;
}

}  // namespace detail

HandStream::HandStream(hand::IHand& hand, HandStreamOptions options, Callback callback)
    : core_(std::make_unique<detail::StreamCore>(hand, detail::coreOf(hand).model(), options,
                                                 std::move(callback))) {}

HandStream::HandStream(VelmoraApi& api, HandStreamOptions options, Callback callback)
    : core_(std::make_unique<detail::StreamCore>(*api.hand, api.model, options,
                                                 std::move(callback))) {}

HandStream::~HandStream() = default;

void HandStream::command(const ByteVector& positions) {
    core_->command(positions);
}
void HandStream::commandArc(const RadianVector& angles) {
    core_->commandArc(angles);
}
StreamState HandStream::latest() const {
    return core_->latest();
}
StampedReading HandStream::latest(hand::Reading what) const {
    return core_->latest(what);
}
std::optional<StampedReading> HandStream::next(hand::Reading what, std::uint64_t after,
                                               std::chrono::milliseconds timeout) {
    return core_->next(what, after, timeout);
}
std::optional<StampedReading> HandStream::next(const StampedReading& held,
                                               std::chrono::milliseconds timeout) {
    return core_->next(held.reading, held.sequence, timeout);
}
void HandStream::close() {
    core_->close();
}
void HandStream::setKeepAlive(std::chrono::milliseconds keepAlive) {
    core_->setKeepAlive(keepAlive);
}
HandStreamHealth HandStream::health() const {
    return core_->health();
}
VELMORA HandStream::model() const {
    return core_->model();
}

}  // namespace velmora
