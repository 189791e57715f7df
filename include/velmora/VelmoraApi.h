#pragma once

#include <chrono>
#include <memory>
#include <string>

#include "velmora/Export.h"
#include "velmora/IHand.h"
#include "velmora/Models.h"
#include "velmora/StampedReading.h"
#include "velmora/VelmoraTypes.h"

namespace velmora {
class HandStream;
}

/// The object an application holds to drive one hand.
///
///     VelmoraApi hand(TOVIN, RIGHT, CAN0);            // SocketCAN interface can0
///     VelmoraApi sim(ZENIT, LEFT, "virtual:can0");    // in-process virtual bus
///     hand.fingerMove({255, 255, 255, 255, 255, 255, 128, 128, 128, 128});
///
/// Operations a model lacks throw velmora::UnsupportedFeatureException; arguments of the wrong
/// size are refused with a message on standard output.
///
/// Threads: as the hand object it holds (IHand.h): any operation from any thread; the facade
/// adds no thread of its own. Destroying the facade while other threads are still inside its
/// operations is safe: a waiting fresh read ends at once with HandTimeoutException, and the
/// destructor returns once every call in flight has (a paced send takes a few milliseconds).
class VELMORA_API VelmoraApi {
  public:
    /// Opens the transport's interface ("can0", "can1" or "ethercat") at 1000000 bit/s.
    VelmoraApi(const VELMORA& model, const HAND_TYPE& side, COMM_TYPE commType = CAN0);
    /// Opens the named CAN channel. Throws std::invalid_argument("Unsupported channel: NAME")
    /// for a name without "can" in it (eth0, say), since no hand can be reached there.
    VelmoraApi(const VELMORA& model, const HAND_TYPE& side, std::string channel,
               int bitRate = 1000000);
    ~VelmoraApi();
    VelmoraApi(const VelmoraApi&) = delete;
    VelmoraApi& operator=(const VelmoraApi&) = delete;

    void fingerMove(const velmora::ByteVector& positions);
    void fingerMoveArc(const velmora::RadianVector& positions);
    void setSpeed(const velmora::ByteVector& speeds);
    void setTorque(const velmora::ByteVector& torques);
    velmora::ByteVector getSpeed();
    velmora::ByteVector getState();
    velmora::RadianVector getStateArc();
    velmora::ForceData getForce();
    std::string getVersion();
    velmora::ByteVector getTorque();
    velmora::ByteVector getTemperature();
    velmora::ByteVector getFaultCode();
    velmora::ByteVector getCurrent();

    /// 20-joint hands only (RAVEL); others get a message.
    void setCurrent(const velmora::ByteVector& currents);
    /// 20-joint hands only (RAVEL); others get a message.
    void clearFaultCode(const velmora::ByteVector& codes);
    /// 25-joint hands only (ZENIT); others get a message.
    void setEnable(const velmora::ByteVector& motors);
    /// 25-joint hands only (ZENIT); others get a message.
    void setDisable(const velmora::ByteVector& motors);

    /// Time a fresh read waits for its replies unless told otherwise.
    static constexpr std::chrono::milliseconds kDefaultReadTimeout{200};

    /// Counters and ages of the link to the hand (IHand::health).
    velmora::hand::HandHealth health() const;
    /// The joint positions from replies to this call's own requests (IHand::readState).
    velmora::ByteVector readState(std::chrono::milliseconds timeout = kDefaultReadTimeout);
    /// readState in radians (IHand::readStateArc).
    velmora::RadianVector readStateArc(std::chrono::milliseconds timeout = kDefaultReadTimeout);
    /// One kind of state from replies to this call's own requests (IHand::readFresh).
    velmora::ByteVector readFresh(velmora::hand::Reading what,
                                  std::chrono::milliseconds timeout = kDefaultReadTimeout);
    /// What the hand reports it is (IHand::identity); throws velmora::HandMismatchException when
    /// that is not the model and side this object was built for.
    velmora::HandIdentity identity(std::chrono::milliseconds timeout = velmora::kScanTimeout);

    /// readState, asking `keepWaiting` while it waits (IHand::readFreshWhile).
    velmora::ByteVector readStateWhile(std::chrono::milliseconds timeout,
                                       const velmora::hand::KeepWaiting& keepWaiting);
    /// readStateArc, asking `keepWaiting` while it waits (IHand::readFreshWhile).
    velmora::RadianVector readStateArcWhile(std::chrono::milliseconds timeout,
                                            const velmora::hand::KeepWaiting& keepWaiting);
    /// readFresh, asking `keepWaiting` while it waits (IHand::readFreshWhile).
    velmora::ByteVector readFreshWhile(velmora::hand::Reading what,
                                       std::chrono::milliseconds timeout,
                                       const velmora::hand::KeepWaiting& keepWaiting);

    /// True when the facade of `model` passes the setter of `setting` on to its hand: the
    /// currents and the fault clearing for RAVEL only, the motor switches for ZENIT only (the
    /// others get a message); speeds and torques wherever the model's class takes them.
    static bool offers(VELMORA model, velmora::models::Setting setting);
    /// readState with the reading's receive time (IHand::readStateStamped).
    velmora::StampedReading readStateStamped(
        std::chrono::milliseconds timeout = kDefaultReadTimeout);
    /// readFresh with the reading's receive time (IHand::readFreshStamped).
    velmora::StampedReading readFreshStamped(
        velmora::hand::Reading what, std::chrono::milliseconds timeout = kDefaultReadTimeout);

  private:
    friend class velmora::HandStream;
    class CallGuard;
    struct Calls;

    std::unique_ptr<velmora::hand::IHand> hand;
    VELMORA model;
    HAND_TYPE side;
    std::unique_ptr<Calls> calls;
};
