#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "velmora/Export.h"
#include "velmora/HandException.h"
#include "velmora/HandHealth.h"
#include "velmora/Scan.h"
#include "velmora/StampedReading.h"
#include "velmora/VelmoraTypes.h"

namespace velmora {
namespace hand {

namespace detail {
class HandCore;
class HandCoreAccess;
}  // namespace detail

/// Sensor kind reported by a hand whose fingertips carry matrix sensors (12 rows x 6 values).
inline constexpr std::uint8_t TOUCH_TYPE_MATRIX = 2;
/// Second data byte of the per-finger matrix read requests 0xB1..0xB5.
inline constexpr std::uint8_t TOUCH_PAGE_REQ = 0xC6;

/// Asked by a waiting fresh read (readFreshWhile) whether to go on waiting.
using KeepWaiting = std::function<bool()>;
/// The longest a waiting fresh read goes without asking its KeepWaiting.
inline constexpr std::chrono::milliseconds kKeepWaitingPeriod{20};

/// The interface through which every hand model is driven.
///
/// Operations a model does not provide throw velmora::UnsupportedFeatureException naming the
/// operation. Getters never wait for the hand: they send their requests and return what the
/// hand's latest replies left in the object's caches (empty before the first reply). The fresh
/// reads (readFresh, readState, readStateArc) wait for the answers to their own requests.
///
/// Threads: every operation of a hand object may be called from any number of threads at once.
/// Frames leave one at a time, in the order their sends reach the channel; a getter's copy is
/// never torn by a reply stored meanwhile. Each hand object has one receive thread of its own,
/// which reads the channel and writes the caches, the fingertip data and the health counters;
/// it never calls back into application code (except a message sink, see MessageSink.h).
class VELMORA_API IHand {
  public:
    virtual ~IHand();

    virtual void setJointPositions(const ByteVector& positions) = 0;
    virtual void setJointPositionArc(const RadianVector& positions);
    virtual ByteVector getSpeed();
    virtual void setSpeed(const ByteVector& speeds);
    virtual ByteVector getCurrentStatus();
    virtual RadianVector getCurrentStatusArc();
    virtual ByteVector getFaultCode();
    virtual ByteVector getCurrent();
    virtual ByteMatrix getForce(std::int32_t which);
    virtual ForceData getForce();
    virtual ByteVector getThumbForce();
    virtual ByteVector getIndexForce();
    virtual ByteVector getMiddleForce();
    virtual ByteVector getRingForce();
    virtual ByteVector getLittleForce();
    virtual ByteVector getNormalForce();
    virtual ByteVector getTangentialForce();
    virtual ByteVector getTangentialForceDir();
    virtual ByteVector getApproachInc();
    virtual void setTorque(const ByteVector& torques);
    virtual ByteVector getTorque();
    virtual ByteVector getTemperature();
    virtual std::string getVersion();
    virtual ByteVector getUID();
    virtual ByteVector getRotorLockCount();
    virtual void clearFaultCode(const ByteVector& codes);
    virtual void setCurrent(const ByteVector& currents);
    virtual void setMotorEnable(const ByteVector& motors);
    virtual void setMotorDisable(const ByteVector& motors);

    /// The reply without its command byte (empty for a reply of fewer than two bytes).
    virtual ByteVector getSubVector(const ByteVector& reply);
    /// Both replies without their command bytes, joined.
    virtual ByteVector getSubVector(const ByteVector& first, const ByteVector& second);
    /// Local time as "YYYY-MM-DD HH:MM:SS.mmm"; safe to call from any thread.
    virtual std::string getCurrentTime();

    /// Counters and ages of the link to the hand; never blocks, never sends.
    virtual HandHealth health() const;
    /// Age of the last reply of command code `code` from the hand; empty when none came. What a
    /// setter stores in a cache is not a reply and never counts.
    virtual std::optional<std::chrono::nanoseconds> replyAge(std::uint8_t code) const;
    /// Sends the requests the matching getter sends and waits for their answers: returns the
    /// values in that getter's layout, complete, and only from replies that arrived after the
    /// call began. Throws velmora::HandTimeoutException, naming the hand and the reply codes
    /// still missing, when they are not all in within `timeout`; throws
    /// velmora::UnsupportedFeatureException for a reading the model does not have.
    virtual ByteVector readFresh(Reading what, std::chrono::milliseconds timeout);
    /// readFresh(Reading::Positions, timeout): the joint positions, as getCurrentStatus.
    virtual ByteVector readState(std::chrono::milliseconds timeout);
    /// readState converted to radians, as getCurrentStatusArc.
    virtual RadianVector readStateArc(std::chrono::milliseconds timeout);
    /// Asks the hand what it is, with the version requests a scan sends (velmora/Scan.h), and
    /// waits up to `timeout` for its answers. Returns what it reports when that fits the model
    /// and side this object was built for; throws velmora::HandMismatchException, naming the
    /// identifier, the report and the model, when it contradicts them (health() says so too),
    /// and velmora::HandTimeoutException when the hand does not answer.
    virtual HandIdentity identity(std::chrono::milliseconds timeout);

    /// readFresh that asks `keepWaiting` at least every kKeepWaitingPeriod while it waits, from
    /// the calling thread and with no lock of the hand held; once it answers false the read
    /// ends with HandTimeoutException ("Fresh read of hand 0x27 stopped: missing ..."). A hand
    /// without the library's building blocks reads as readFresh does, without asking.
    ByteVector readFreshWhile(Reading what, std::chrono::milliseconds timeout,
                              const KeepWaiting& keepWaiting);
    /// readFreshWhile(Reading::Positions, ...).
    ByteVector readStateWhile(std::chrono::milliseconds timeout, const KeepWaiting& keepWaiting);
    /// readStateWhile converted to radians, as readStateArc.
    RadianVector readStateArcWhile(std::chrono::milliseconds timeout,
                                   const KeepWaiting& keepWaiting);
    /// readFresh, with the time the reading's last reply came in and a number that rises with
    /// every fresh read of this kind on this hand object.
    StampedReading readFreshStamped(Reading what, std::chrono::milliseconds timeout);
    /// readFreshStamped(Reading::Positions, timeout).
    StampedReading readStateStamped(std::chrono::milliseconds timeout);

  protected:
    friend class detail::HandCoreAccess;
    /// The building blocks of the library's own hand models; null for any other hand, whose
    /// health and fresh reads are then refused.
    virtual detail::HandCore* handCore() const noexcept;
};

}  // namespace hand
}  // namespace velmora
