#include "detail/SendBudget.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "detail/HandCore.h"
#include "detail/Pacing.h"

namespace velmora {
namespace hand {
namespace detail {

namespace {

constexpr auto kWindow = std::chrono::seconds(1);
// A reading the hand reports on its own has no requests; look again after this long.
constexpr auto kNothingToAsk = std::chrono::milliseconds(100);

SendBudget::Clock::duration periodOf(double perSecond) {
    if (std::isinf(perSecond)) {
        return SendBudget::Clock::duration::zero();
    }
    return std::chrono::duration_cast<SendBudget::Clock::duration>(
        std::chrono::duration<double>(1.0 / perSecond));
}

}  // namespace

std::shared_ptr<SendBudget> SendBudget::of(const std::string& channel, std::uint32_t handId) {
    // Never destroyed: a stream in a static object may outlive any static registry.
    static auto* mutex = new std::mutex;
    static auto* budgets =
        new std::map<std::pair<std::string, std::uint32_t>, std::weak_ptr<SendBudget>>;

    std::lock_guard<std::mutex> lock(*mutex);
    for (auto it = budgets->begin(); it != budgets->end();) {
        it = it->second.expired() ? budgets->erase(it) : std::next(it);
    }
    std::weak_ptr<SendBudget>& entry = (*budgets)[{channel, handId}];
    std::shared_ptr<SendBudget> budget = entry.lock();
    if (!budget) {
        budget = std::make_shared<SendBudget>();
        entry = budget;
    }
    return budget;
}

SendBudget::SendBudget() : started_(Clock::now()) {
    thread_ = std::thread([this] { run(); });
}

SendBudget::~SendBudget() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    thread_.join();
}

SendBudget::Member SendBudget::join(HandCore& core, const std::vector<LaneRate>& rates,
                                    Clock::duration keepAlive) {
    Stream stream;
    stream.core = &core;
    stream.keepAlive = keepAlive;
    for (const LaneRate& rate : rates) {
        Lane lane;
        lane.reading = rate.reading;
        lane.period = periodOf(rate.perSecond);
        stream.lanes.push_back(std::move(lane));
    }
    Member id = 0;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        id = stream.id = nextMember_++;
        streams_.push_back(std::move(stream));
    }
    wake_.notify_all();
    return id;
}

void SendBudget::leave(Member member) {
    std::unique_lock<std::mutex> lock(mutex_);
    for (Stream& stream : streams_) {
        stream.leaving = stream.leaving || stream.id == member;
    }
    sent_.wait(lock, [&] { return sending_ != member; });
    streams_.erase(std::remove_if(streams_.begin(), streams_.end(),
                                  [member](const Stream& s) { return s.id == member; }),
                   streams_.end());
}

void SendBudget::command(Member member, const std::vector<ByteVector>& frames) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        auto stream = std::find_if(streams_.begin(), streams_.end(),
                                   [member](const Stream& s) { return s.id == member; });
        if (stream == streams_.end()) {
            return;
        }
        for (const ByteVector& frame : frames) {
            if (frame.empty()) {
                continue;
            }
            const auto sent = stream->sent.find(frame[0]);
            const bool onWire = sent != stream->sent.end() && sent->second.frame == frame;
            auto pending = std::find_if(stream->pending.begin(), stream->pending.end(),
                                        [&](const ByteVector& p) { return p[0] == frame[0]; });
            if (pending != stream->pending.end()) {
                ++stream->counts.commandsSuperseded;
                if (onWire) {
                    stream->pending.erase(pending);
                } else {
                    *pending = frame;
                }
            } else if (onWire) {
                ++stream->counts.commandsUnchanged;
            } else {
                stream->newTarget = stream->newTarget || stream->pending.empty();
                stream->pending.push_back(frame);
            }
        }
    }
    wake_.notify_all();
}

void SendBudget::setKeepAlive(Member member, Clock::duration keepAlive) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (Stream& stream : streams_) {
            if (stream.id == member) {
                stream.keepAlive = keepAlive;
            }
        }
    }
    wake_.notify_all();
}

BudgetCounts SendBudget::counts(Member member) const {
    std::lock_guard<std::mutex> lock(mutex_);
    BudgetCounts counts;
    for (const Stream& stream : streams_) {
        if (stream.id == member) {
            counts = stream.counts;
            for (const Lane& lane : stream.lanes) {
                counts.cycleCost[static_cast<std::size_t>(lane.reading)] = lane.cycleCost;
            }
        }
    }
    const auto now = Clock::now();
    std::chrono::microseconds spent{0};
    std::size_t frames = 0;
    for (const Spent& s : recent_) {
        if (now - s.at <= kWindow) {
            spent += s.cost;
            ++frames;
        }
    }
    const double seconds =
        std::chrono::duration<double>(std::min<Clock::duration>(kWindow, now - started_)).count();
    if (seconds > 0) {
        counts.framesPerSecond = static_cast<double>(frames) / seconds;
        counts.budgetUsed = std::min(1.0, std::chrono::duration<double>(spent).count() / seconds);
    }
    return counts;
}

bool SendBudget::sendThrough(HandCore& core, const ByteVector& frame) {
    auto blocked = std::make_shared<Blocked>();
    blocked->core = &core;
    blocked->frame = frame;
    std::unique_lock<std::mutex> lock(mutex_);
    if (stopping_) {
        return false;
    }
    blocked_.push_back(blocked);
    wake_.notify_all();
    sent_.wait(lock, [&] { return blocked->done; });
    return true;
}

bool SendBudget::keepAliveDue(Stream& stream, Clock::time_point now, Clock::time_point& wakeAt) {
    if (stream.keepAlive <= Clock::duration::zero()) {
        return false;
    }
    for (auto& [code, sent] : stream.sent) {
        const bool waiting =
            std::any_of(stream.pending.begin(), stream.pending.end(),
                        [code = code](const ByteVector& p) { return p[0] == code; });
        if (waiting) {
            continue;
        }
        const auto due = sent.at + stream.keepAlive;
        if (due <= now) {
            stream.pending.push_back(sent.frame);
            ++stream.counts.keepAlivesSent;
            return true;
        }
        wakeAt = std::min(wakeAt, due);
    }
    return false;
}

bool SendBudget::pick(Clock::time_point now, Pick& out, Clock::time_point& wakeAt) {
    wakeAt = Clock::time_point::max();
    // The ready queue served longest ago wins the slot: a blocking call (stream -1), a
    // stream's every-cycle reading, or its turn group. The group is its commands (lane -1)
    // and its rated readings: a reading asked for once a second takes a turn of the commands
    // rather than stretching the cycles of the readings asked for all the time.
    std::uint64_t best = UINT64_MAX;
    int bestStream = -2;
    int bestLane = -2;
    if (!blocked_.empty()) {
        best = blockedServed_;
        bestStream = -1;
    }
    for (std::size_t s = 0; s < streams_.size(); ++s) {
        Stream& stream = streams_[s];
        if (stream.leaving) {
            continue;
        }
        std::uint64_t groupBest = UINT64_MAX;
        int groupLane = -2;
        // Only right after a command's own turn: a rated reading's turn stays the commands'.
        const bool newTarget = stream.newTarget && !stream.pending.empty() &&
                               stream.commandsServed == stream.groupServed;
        if (newTarget) {
            groupBest = 0;  // it takes the group's turn ahead of the rated readings
            groupLane = -1;
        } else if (!stream.pending.empty() || keepAliveDue(stream, now, wakeAt)) {
            groupBest = stream.commandsServed;
            groupLane = -1;
        }
        for (std::size_t l = 0; l < stream.lanes.size(); ++l) {
            Lane& lane = stream.lanes[l];
            const bool ready = !lane.frames.empty() || lane.due <= now;
            if (!ready) {
                wakeAt = std::min(wakeAt, lane.due);
                continue;
            }
            if (lane.frames.empty()) {
                std::vector<ByteVector> frames = stream.core->requestFrames(lane.reading);
                if (frames.empty()) {
                    lane.due = now + std::max<Clock::duration>(lane.period, kNothingToAsk);
                    wakeAt = std::min(wakeAt, lane.due);
                    continue;
                }
                lane.cycleCost = std::chrono::microseconds(0);
                for (const ByteVector& frame : frames) {
                    lane.cycleCost += stream.core->pacingCost(frame);
                }
                lane.frames.assign(frames.begin(), frames.end());
                // A cycle that starts late starts the count again, so that a stalled budget
                // is not made up for with a burst.
                lane.due =
                    (now - lane.due > lane.period) ? now + lane.period : lane.due + lane.period;
            }
            if (lane.period > Clock::duration::zero()) {
                if (lane.served < groupBest) {
                    groupBest = lane.served;
                    groupLane = static_cast<int>(l);
                }
            } else if (lane.served < best) {
                best = lane.served;
                bestStream = static_cast<int>(s);
                bestLane = static_cast<int>(l);
            }
        }
        const std::uint64_t groupTurn =
            newTarget ? std::min(stream.groupServed, stream.groupServedBefore) : stream.groupServed;
        if (groupLane != -2 && groupTurn < best) {
            best = groupTurn;
            bestStream = static_cast<int>(s);
            bestLane = groupLane;
        }
    }
    if (bestStream == -2) {
        return false;
    }
    ++slot_;
    if (bestStream == -1) {
        blockedServed_ = slot_;
        out.blocked = blocked_.front();
        blocked_.pop_front();
        out.core = out.blocked->core;
        out.frame = out.blocked->frame;
        out.member = 0;
        return true;
    }
    Stream& stream = streams_[static_cast<std::size_t>(bestStream)];
    out.core = stream.core;
    out.member = stream.id;
    if (bestLane == -1 ||
        stream.lanes[static_cast<std::size_t>(bestLane)].period > Clock::duration::zero()) {
        stream.groupServedBefore = stream.groupServed;
        stream.groupServed = slot_;
    }
    if (bestLane == -1) {
        stream.commandsServed = slot_;
        stream.newTarget = false;
        out.frame = std::move(stream.pending.front());
        stream.pending.erase(stream.pending.begin());
        stream.sent[out.frame[0]] = Sent{out.frame, now};
        ++stream.counts.commandsSent;
    } else {
        Lane& lane = stream.lanes[static_cast<std::size_t>(bestLane)];
        lane.served = slot_;
        out.frame = std::move(lane.frames.front());
        lane.frames.pop_front();
    }
    ++stream.counts.framesSent;
    return true;
}

void SendBudget::account(const Pick& sent, Clock::time_point at) {
    recent_.push_back({at, sent.core->pacingCost(sent.frame)});
    while (!recent_.empty() && at - recent_.front().at > kWindow) {
        recent_.pop_front();
    }
    if (sent.blocked) {
        sent.blocked->done = true;
    }
}

void SendBudget::run() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (!stopping_) {
        Pick next;
        Clock::time_point wakeAt;
        if (!pick(Clock::now(), next, wakeAt)) {
            if (wakeAt == Clock::time_point::max()) {
                wake_.wait(lock);
            } else {
                wake_.wait_until(lock, wakeAt);
            }
            continue;
        }
        sending_ = next.member;
        const auto at = Clock::now();
        lock.unlock();
        next.core->sendDirect(next.frame);
        lock.lock();
        sending_ = 0;
        account(next, at);
        sent_.notify_all();
    }
}

}  // namespace detail
}  // namespace hand
}  // namespace velmora
