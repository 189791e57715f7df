#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "velmora/Export.h"
#include "velmora/HandException.h"
#include "velmora/VelmoraTypes.h"

namespace velmora {
namespace hand {

/// Sensor kind reported by a hand whose fingertips carry matrix sensors (12 rows x 6 values).
inline constexpr std::uint8_t TOUCH_TYPE_MATRIX = 2;
/// Second data byte of the per-finger matrix read requests 0xB1..0xB5.
inline constexpr std::uint8_t TOUCH_PAGE_REQ = 0xC6;

/// The interface through which every hand model is driven.
///
/// Operations a model does not provide throw velmora::UnsupportedFeatureException naming the
/// operation. Getters never wait for the hand: they send their requests and return what the
/// hand's latest replies left in the object's caches (empty before the first reply).
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
};

}  // namespace hand
}  // namespace velmora
