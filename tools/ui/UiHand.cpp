#include "UiHand.h"

#include <algorithm>
#include <utility>

#include "Common.h"
#include "velmora/HandException.h"
#include "velmora/Models.h"

namespace velmora {
namespace tools {

namespace {

using Clock = std::chrono::steady_clock;
using hand::Reading;

// The side thread's turns a second: the fingertips every turn, the version every fifth turn
// until the hand gave it. Each turn costs the stream a few frames of its budget.
constexpr double kSideRate = 5;
constexpr int kVersionEvery = 5;
// The stream asks for temperatures and faults once a second: three missed answers in a row
// and the page says it has none.
constexpr auto kSlowStale = std::chrono::seconds(3);

Clock::duration periodOf(double perSecond) {
    return std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double>(1.0 / std::max(perSecond, 0.1)));
}

std::optional<ByteVector> answered(const StampedReading& reading) {
    if (reading.empty() || reading.age > kSlowStale)
        return std::nullopt;
    return reading.values;
}

}  // namespace

UiHand::UiHand(hand::IHand& hand, VELMORA model, std::chrono::milliseconds timeout, double rate)
    : hand_(hand),
      model_(model),
      timeout_(timeout),
      rate_(rate),
      stream_(hand) {
    publisher_ = std::thread([this] { publish(); });
    side_ = std::thread([this] { readSide(); });
}

UiHand::~UiHand() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        running_ = false;
    }
    wake_.notify_all();
    changed_.notify_all();
    stream_.close();  // ends the publisher's wait for positions
    publisher_.join();
    side_.join();
    // With the stream closed nothing sends its last target again: the hold stays.
    try {
        holdHand(hand_, timeout_);
    } catch (const std::exception&) {
        // A hand that does not answer cannot be held where it is.
    }
}

UiReading UiHand::read() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return latest_;
}

UiReading UiHand::readAfter(std::uint64_t sequence, std::chrono::milliseconds wait) const {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait_for(lock, wait, [&] { return latest_.sequence > sequence || !running_; });
    return latest_;
}

void UiHand::command(const ByteVector& positions) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!running_)
        return;
    stream_.command(positions);
    target_ = positions;
    held_ = false;
}

void UiHand::commandArc(const RadianVector& angles) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!running_)
        return;
    stream_.commandArc(angles);
    target_.reset();  // the hand's own conversion decides
    held_ = false;
}

void UiHand::hold() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!running_)
        return;
    // The stream reads the positions every cycle: its newest are the ones just read.
    const StampedReading now = stream_.latest(Reading::Positions);
    if (now.values.size() != models::info(model_).slots)
        return;  // nothing read yet: nowhere to hold
    target_ = holdWith([&] { return now.values; },
                       [&](const ByteVector& positions) { stream_.command(positions); });
    held_ = true;
}

void UiHand::publish() {
    const Clock::duration period = periodOf(rate_);
    std::uint64_t seen = 0;
    auto due = Clock::now();
    for (;;) {
        {
            std::unique_lock<std::mutex> lock(mutex_);
            if (wake_.wait_until(lock, due, [&] { return !running_; }))
                return;
        }
        UiReading next;
        // Positions newer than the last ones shown, waiting for them as a fresh read would.
        if (const auto positions = stream_.next(Reading::Positions, seen, timeout_)) {
            seen = positions->sequence;
            next.positions = positions->values;
            next.at = positions->receivedSystem;
        } else {
            next.at = std::chrono::system_clock::now();
            next.problem =
                "the hand sent no positions within " + std::to_string(timeout_.count()) + " ms";
        }
        const StreamState state = stream_.latest();
        next.temperatures = answered(state[Reading::Temperatures]);
        next.faults = answered(state[Reading::Faults]);
        next.health = hand_.health();
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (!running_)
                return;  // the stream is closing: its counts go with it
            const HandStreamHealth sent = stream_.health();
            next.commandsSent = sent.commandsSent - sent.keepAlivesSent;
            next.force = force_;
            next.version = version_;
            if (next.problem.empty())
                next.problem = sideProblem_;
            next.target = target_;
            next.held = held_;
            next.sequence = latest_.sequence + 1;
            latest_ = std::move(next);
        }
        changed_.notify_all();
        due += period;
        if (due < Clock::now())
            due = Clock::now();  // late: no burst to catch up
    }
}

void UiHand::readSide() {
    const Clock::duration period = periodOf(kSideRate);
    bool hasForce = true, hasVersion = false;
    for (int turn = 0;; ++turn) {
        std::optional<ForceData> force;
        std::string version, problem;
        try {
            if (hasForce) {
                try {
                    force = hand_.getForce();
                } catch (const UnsupportedFeatureException&) {
                    hasForce = false;
                }
            }
            if (!hasVersion && turn % kVersionEvery == 0) {
                version = hand_.getVersion();
                hasVersion = !version.empty();
            }
        } catch (const std::exception& e) {
            problem = e.what();  // the channel failed (interface gone): say so and keep trying
        }
        std::unique_lock<std::mutex> lock(mutex_);
        if (force)
            force_ = std::move(*force);
        if (!version.empty())
            version_ = std::move(version);
        sideProblem_ = std::move(problem);
        if (wake_.wait_for(lock, period, [&] { return !running_; }))
            return;
    }
}

}  // namespace tools
}  // namespace velmora
