#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include <vector>

#include "detail/ChannelLink.h"
#include "detail/FingertipSensors.h"
#include "detail/ReplyCaches.h"
#include "velmora/CanBus.h"
#include "velmora/IHand.h"
#include "velmora/Protocol.h"
#include "velmora/Scan.h"
#include "velmora/StampedReading.h"
#include "velmora/VelmoraTypes.h"

namespace velmora {
namespace detail {
class IdentityProbe;
}
namespace hand {
namespace detail {

/// How a hand answers one kind of fresh reading: the requests the matching getter sends, the
/// reply codes that make the reading complete, how the getter shapes those replies, and how
/// many values a whole reading holds (0: any number but none).
struct FreshReading {
    std::function<void()> request;
    std::vector<std::uint8_t> replies;
    std::function<ByteVector(const ReplyCaches::View&)> shape;
    std::size_t values = 0;
};

class SendBudget;

/// What every hand model is built on: the channel to one hand, the receive thread that hands
/// each frame of that hand to the model, the reply caches, the fingertip sensors, the health
/// counters and the fresh reads.
class HandCore {
  public:
    /// Opens the channel; whatever that throws leaves the constructor, and nothing is started.
    HandCore(std::uint32_t handId, const std::string& channel, int bitRate, VELMORA model);
    /// Stops the receive thread, then closes the channel.
    ~HandCore();
    HandCore(const HandCore&) = delete;
    HandCore& operator=(const HandCore&) = delete;

    std::uint32_t handId() const { return handId_; }
    VELMORA model() const { return model_; }
    /// The channel's name as the hand object was given it ("can0", "virtual:can0").
    const std::string& channelName() const { return channelName_; }

    /// Sends one frame to the hand: through the send budget of its streams while it has one,
    /// else straight to the channel. While this thread is inside capture(), the frame is only
    /// collected.
    void send(const ByteVector& frame);
    /// Sends one frame straight to the channel, paced by it (for the send budget).
    void sendDirect(const ByteVector& frame);
    /// The frames `f` sends on this thread, collected instead of sent.
    std::vector<ByteVector> capture(const std::function<void()>& f);
    /// The frames the matching getter sends for a reading (none while the hand reports it on
    /// its own); refused for a reading never defined.
    std::vector<ByteVector> requestFrames(Reading what);
    /// What the channel's pacing costs a frame: the gap after every frame and its code's extra.
    std::chrono::microseconds pacingCost(const ByteVector& frame) const;

    /// From now until unroute(), every send goes through `budget` (one call of unroute for each
    /// call of routeThrough).
    void routeThrough(std::shared_ptr<SendBudget> budget);
    void unroute();

    /// Called on the receive thread after each frame of the hand has been stored, with its
    /// code. Returns a key for removeReplyListener.
    std::uint64_t addReplyListener(std::function<void(std::uint8_t)> listener);
    /// Returns once the listener is not running and never will again.
    void removeReplyListener(std::uint64_t key);
    /// Sends a request: a frame holding only the code.
    void request(std::uint8_t code) { send({code}); }
    /// Asks every fingertip matrix sensor for its rows.
    void requestMatrices();

    /// Request codes of the one-row summary sensors, finger 0 to 4.
    using SummaryCodes = std::array<std::uint8_t, FingertipSensors::kFingers>;
    /// The model's finger summary codes, from its command table.
    static constexpr SummaryCodes summaryCodes(VELMORA model) {
        using protocol::Quantity;
        return {protocol::codeOf(model, Quantity::FingerSummary, 0),
                protocol::codeOf(model, Quantity::FingerSummary, 1),
                protocol::codeOf(model, Quantity::FingerSummary, 2),
                protocol::codeOf(model, Quantity::FingerSummary, 3),
                protocol::codeOf(model, Quantity::FingerSummary, 4)};
    }
    /// Sends the summary requests and gives the force data its one-row shape.
    void requestSummaries(const SummaryCodes& codes);
    /// Stores a summary reply when its code is one of `codes`; false for any other code.
    bool storeSummary(const SummaryCodes& codes, const ByteVector& frame);
    /// A frame with a matrix code (0xB1 to 0xB5), for the fingertip sensors.
    void storeMatrixFrame(const ByteVector& frame);

    /// Starts the receive thread: every non-empty frame from the hand goes to onFrame, in the
    /// thread's context. Time-outs and failed reads are not errors; the loop goes on.
    void startReceiving(std::function<void(const ByteVector&)> onFrame);
    /// Ends every fresh read, stops the receive thread and joins it; returns at once, whatever
    /// the channel's receive time-out.
    void stopReceiving();

    /// The model's answer to a fresh reading; a reading never defined is refused.
    void defineReading(Reading what, FreshReading reading);
    /// The key of the model's joint tables, for readStateArc.
    void setModelKey(int key) { modelKey_ = key; }
    /// `keepWaiting`, when given, is asked between waits of at most kKeepWaitingPeriod.
    ByteVector readFresh(Reading what, std::chrono::milliseconds timeout,
                         const KeepWaiting* keepWaiting = nullptr);
    /// readFresh with the arrival time of the reading's last reply.
    StampedReading readFreshStamped(Reading what, std::chrono::milliseconds timeout,
                                    const KeepWaiting* keepWaiting = nullptr);
    /// The reply codes that complete a reading, how many values it holds (0: any), and the
    /// shape of its values from the hand's last replies with their arrival; empty values while
    /// they do not make a whole reading.
    const FreshReading* reading(Reading what) const;
    std::pair<ByteVector, ReplyCaches::Arrival> shapedReading(const FreshReading& reading);
    /// Joint positions in radians with the model's tables for the hand's side; empty for an
    /// identifier that names no side.
    RadianVector toAngles(const ByteVector& positions) const;

    HandHealth health() const;

    /// IHand::identity for the model the core was opened for.
    HandIdentity identity(std::chrono::milliseconds timeout);
    /// Ends every fresh read and identity check at once, for good.
    void endWaits();

    /// A version report of the hand itself: from now on it decides, for this hand alone, the
    /// requests of firmwareVersion's readers and the channel's pacing.
    void setOwnVersion(float version);
    /// The hand's own firmware generation once it has reported one, else the process-wide one.
    float firmwareVersion() const;

    /// What the receive thread does with one message read from the channel.
    void deliver(const communication::CanMessage& message);

    ReplyCaches caches;
    FingertipSensors sensors;

  private:
    void receiveLoop();

    const std::uint32_t handId_;
    const VELMORA model_;
    const std::string channelName_;
    std::unique_ptr<communication::ICanBus> canBus_;
    std::unique_ptr<communication::detail::ChannelLink> link_;
    std::function<void(const ByteVector&)> onFrame_;
    std::array<std::optional<FreshReading>, 6> readings_;
    int modelKey_ = 0;
    std::atomic<float> ownVersion_{-1.0f};  // negative: the hand has not reported one
    std::atomic<std::uint64_t> framesReceived_{0};
    std::atomic<std::uint64_t> framesIgnored_{0};
    std::atomic<std::int64_t> lastFrameNs_{0};  // steady clock; 0: no frame yet
    // The identity check under way, which sees every frame of the hand; its outcome.
    std::mutex identityMutex_;
    mutable std::mutex probeMutex_;
    velmora::detail::IdentityProbe* probe_ = nullptr;
    bool closing_ = false;
    bool identityChecked_ = false;
    std::string mismatch_;
    std::array<std::atomic<std::uint64_t>, 6> freshReads_{};
    mutable std::mutex routeMutex_;
    std::shared_ptr<SendBudget> route_;
    int routeUsers_ = 0;
    std::mutex listenersMutex_;  // held while the listeners run
    std::vector<std::pair<std::uint64_t, std::function<void(std::uint8_t)>>> listeners_;
    std::uint64_t nextListenerKey_ = 1;
    std::atomic<bool> running_{false};
    std::thread receiveThread_;
};

/// Reaches the building blocks of a library hand, for tests and fuzzing.
class HandCoreAccess {
  public:
    /// The hand's building blocks; null for a hand that is not one of the library's models.
    static HandCore* core(IHand& hand) { return hand.handCore(); }
    /// Hands one message read from the channel to the hand, as its receive thread does.
    static void deliver(IHand& hand, const communication::CanMessage& message) {
        hand.handCore()->deliver(message);
    }
    /// Ends every fresh read of the hand at once, for good.
    static void endWaits(IHand& hand) {
        if (HandCore* core = hand.handCore()) {
            core->endWaits();
        }
    }
};

/// The common fresh reading: the requests of `codes` in order (only while `sendWhen` holds,
/// when given), and the values of their replies joined in that order.
FreshReading joinedReading(HandCore& core, std::vector<std::uint8_t> codes, std::size_t values = 0,
                           std::function<bool()> sendWhen = {});

/// A frame: the command code followed by the values in [first, last).
ByteVector commandFrame(std::uint8_t code, ByteVector::const_iterator first,
                        ByteVector::const_iterator last);
inline ByteVector commandFrame(std::uint8_t code, const ByteVector& values) {
    return commandFrame(code, values.begin(), values.end());
}

/// "left" for identifier 0x28, "right" for 0x27, nothing for any other identifier.
std::optional<std::string> sideName(std::uint32_t handId);

/// setJointPositionArc of a model: the angles converted with the model's tables for the hand's
/// side, then commanded through the hand's setJointPositions. Nothing is sent for an identifier
/// that names no side.
void commandJointAngles(IHand& hand, std::uint32_t handId, int modelKey, std::size_t joints,
                        const char* sizeMessage, const RadianVector& angles);

/// getCurrentStatusArc of a model: the hand's getCurrentStatus in radians; empty, and nothing
/// requested, for an identifier that names no side.
RadianVector jointAngles(IHand& hand, std::uint32_t handId, int modelKey);

/// A number in the default stream format (1.5, 2).
std::string formatNumber(double value);

/// Tells the caller on standard output that an argument was refused.
void reportUsage(const char* message);

/// The text of a version report (code 0x64: degrees of freedom, robot version, version number,
/// side letter, software and hardware version), one line per byte the report holds.
std::string versionReportText(const ByteVector& report);

}  // namespace detail
}  // namespace hand
}  // namespace velmora
