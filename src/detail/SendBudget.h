#pragma once

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "velmora/HandHealth.h"
#include "velmora/VelmoraTypes.h"

namespace velmora {
namespace hand {
namespace detail {

class HandCore;

/// How often a stream asks for one reading: requests per second, infinity for every cycle.
struct LaneRate {
    Reading reading;
    double perSecond;
};

/// What the budget has done for one stream, and for all streams of the hand.
struct BudgetCounts {
    std::uint64_t framesSent = 0;
    std::uint64_t commandsSent = 0;
    std::uint64_t commandsSuperseded = 0;
    std::uint64_t commandsUnchanged = 0;
    std::uint64_t keepAlivesSent = 0;
    /// Frames of every stream and blocking call of the hand in the last second...
    double framesPerSecond = 0;
    /// ...and the share of that second their pacing took.
    double budgetUsed = 0;
    /// The pacing one request cycle of each reading takes (zero before its first cycle).
    std::array<std::chrono::microseconds, 6> cycleCost{};
};

/// The send budget of one hand: one thread that owns the slots the channel's pacing allows and
/// fills them with the frames of every stream of that hand in the process and of the blocking
/// calls of the hand objects those streams run on.
///
/// Each slot goes to the queue that was served longest ago among those with a frame ready (a
/// blocking call's frames, each of a stream's readings asked for every cycle, and its
/// commands together with its readings asked for at a rate), so no queue starves another and
/// a command that comes to an idle queue leaves in the next slot. So does one that comes while
/// the commands' last frame is still on its way: a new target on an emptied queue takes its
/// turn as if the frame just sent had not had it, once. A loop whose commands fit in the
/// commands' share thus gets each target out within a slot, and under a flood of such commands
/// the readings still get one slot in three. A command queue that is never empty (commands of
/// several frames, asked for faster than they can go) takes every other turn. A reading asked
/// for once a second takes a command's turn instead of stretching the positions' cycle. A
/// command queue keeps the newest frame of each code; a reading's queue holds one cycle of its
/// requests and is refilled when its rate says so.
class SendBudget {
  public:
    using Clock = std::chrono::steady_clock;
    using Member = std::uint64_t;

    /// The budget of the hand with `handId` on `channel`, shared by all its streams.
    static std::shared_ptr<SendBudget> of(const std::string& channel, std::uint32_t handId);

    SendBudget();
    ~SendBudget();
    SendBudget(const SendBudget&) = delete;
    SendBudget& operator=(const SendBudget&) = delete;

    /// A stream of `core` joins: its readings are asked for at their rates from now on.
    Member join(HandCore& core, const std::vector<LaneRate>& rates, Clock::duration keepAlive);
    /// Returns once no frame of the member is on its way; its queued frames are dropped.
    void leave(Member member);

    /// The newest target of each frame's code (frames in the order their hand sends them).
    void command(Member member, const std::vector<ByteVector>& frames);
    void setKeepAlive(Member member, Clock::duration keepAlive);
    BudgetCounts counts(Member member) const;

    /// A frame of a blocking call: sent in a slot of its own; returns after its pacing, as the
    /// channel's send does.
    bool sendThrough(HandCore& core, const ByteVector& frame);

  private:
    struct Lane {
        Reading reading;
        Clock::duration period;  // zero: every cycle
        std::deque<ByteVector> frames;
        Clock::time_point due{};
        std::chrono::microseconds cycleCost{0};
        std::uint64_t served = 0;
    };
    struct Sent {
        ByteVector frame;
        Clock::time_point at;
    };
    struct Stream {
        Member id;
        HandCore* core;
        Clock::duration keepAlive;
        std::vector<ByteVector> pending;
        std::map<std::uint8_t, Sent> sent;
        std::uint64_t commandsServed = 0;
        std::uint64_t groupServed = 0;        // its commands and rated readings take turns
        std::uint64_t groupServedBefore = 0;  // the group's turn before its last one
        bool newTarget = false;  // a command came to an emptied queue since the last turn
        std::vector<Lane> lanes;
        BudgetCounts counts;
        bool leaving = false;
    };
    struct Blocked {
        HandCore* core;
        ByteVector frame;
        bool done = false;
    };
    struct Pick {
        HandCore* core = nullptr;
        ByteVector frame;
        Member member = 0;  // 0: a blocking call's frame
        std::shared_ptr<Blocked> blocked;
    };

    void run();
    bool pick(Clock::time_point now, Pick& out, Clock::time_point& wakeAt);
    bool keepAliveDue(Stream& stream, Clock::time_point now, Clock::time_point& wakeAt);
    void account(const Pick& sent, Clock::time_point at);

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable sent_;
    bool stopping_ = false;
    std::vector<Stream> streams_;
    std::deque<std::shared_ptr<Blocked>> blocked_;
    std::uint64_t blockedServed_ = 0;
    std::uint64_t slot_ = 0;
    Member nextMember_ = 1;
    Member sending_ = 0;
    struct Spent {
        Clock::time_point at;
        std::chrono::microseconds cost;
    };
    std::deque<Spent> recent_;  // the last second's frames
    Clock::time_point started_;
    std::thread thread_;
};

}  // namespace detail
}  // namespace hand
}  // namespace velmora
