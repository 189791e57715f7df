#include "UiHand.h"

#include <algorithm>

#include "velmora/HandException.h"
#include "velmora/Models.h"

namespace velmora {
namespace tools {

namespace {
using Clock = std::chrono::steady_clock;
// Per turn of the worker: the fingertips every third reading, temperatures and faults every
// tenth, the version every thirtieth until the hand gave it. Positions go every turn.
constexpr std::uint64_t kForceEvery = 3, kSlowEvery = 10, kVersionEvery = 30;
}  // namespace

UiHand::UiHand(hand::IHand& hand, VELMORA model, std::chrono::milliseconds timeout, double rate)
    : hand_(hand), model_(model), timeout_(timeout), rate_(rate), worker_([this] { run(); }) {}

UiHand::~UiHand() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        running_ = false;
        pending_ = Pending{};
        pending_.hold = true;
    }
    changed_.notify_all();
    worker_.join();
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
    {
        std::lock_guard<std::mutex> lock(mutex_);
        pending_ = Pending{};
        pending_.positions = positions;
    }
    changed_.notify_all();
}

void UiHand::commandArc(const RadianVector& angles) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        pending_ = Pending{};
        pending_.angles = angles;
    }
    changed_.notify_all();
}

void UiHand::hold() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        pending_ = Pending{};
        pending_.hold = true;
    }
    changed_.notify_all();
}

std::optional<ByteVector> UiHand::fresh(hand::Reading what, bool& available, UiReading& next) {
    if (!available)
        return std::nullopt;
    try {
        return hand_.readFresh(what, timeout_);
    } catch (const UnsupportedFeatureException&) {
        available = false;
    } catch (const HandTimeoutException& e) {
        next.problem = e.what();
    }
    return std::nullopt;
}

void UiHand::send(Pending pending, UiReading& next) {
    const std::size_t slots = models::info(model_).slots;
    if (pending.hold) {
        std::optional<ByteVector> now;
        try {
            now = hand_.readFresh(hand::Reading::Positions, timeout_);
        } catch (const HandTimeoutException& e) {
            next.problem = e.what();
            now = next.positions;  // the last the hand told
        }
        if (now && now->size() == slots) {
            hand_.setJointPositions(*now);
            next.target = now;
            next.held = true;
            ++next.commandsSent;
        }
    } else if (pending.positions) {
        hand_.setJointPositions(*pending.positions);
        next.target = pending.positions;
        next.held = false;
        ++next.commandsSent;
    } else if (pending.angles) {
        hand_.setJointPositionArc(*pending.angles);
        next.target.reset();  // the hand's own conversion decides
        next.held = false;
        ++next.commandsSent;
    }
}

void UiHand::run() {
    const auto period = std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double>(1.0 / std::max(rate_, 0.1)));
    bool hasPositions = true;
    UiReading next;
    std::uint64_t turn = 0;
    auto due = Clock::now();
    for (;;) {
        Pending pending;
        bool running = true;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            changed_.wait_until(lock, due, [&] {
                return !running_ || pending_.hold || pending_.positions || pending_.angles;
            });
            pending = std::move(pending_);
            pending_ = Pending{};
            running = running_;
        }
        try {
            send(std::move(pending), next);
            if (!running)
                return;
            if (Clock::now() < due)
                continue;  // a command between two readings
            next.problem.clear();
            if (turn % kForceEvery == 0 && hasForce_) {
                try {
                    next.force = hand_.getForce();
                } catch (const UnsupportedFeatureException&) {
                    hasForce_ = false;
                }
            }
            if (turn % kSlowEvery == 0) {
                next.temperatures = fresh(hand::Reading::Temperatures, hasTemperatures_, next);
                next.faults = fresh(hand::Reading::Faults, hasFaults_, next);
            }
            if (next.version.empty() && turn % kVersionEvery == 0)
                next.version = hand_.getVersion();
            // Positions last, so that a reading is as fresh as it can be when it is published.
            next.positions = fresh(hand::Reading::Positions, hasPositions, next);
            next.at = std::chrono::system_clock::now();
            next.health = hand_.health();
        } catch (const std::exception& e) {
            // The channel failed (interface gone): say so and keep trying.
            next.problem = e.what();
            next.health = hand_.health();
        }
        ++turn;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            next.sequence = latest_.sequence + 1;
            latest_ = next;
        }
        changed_.notify_all();
        due += period;
        if (due < Clock::now())
            due = Clock::now();  // late: no burst to catch up
    }
}

}  // namespace tools
}  // namespace velmora
