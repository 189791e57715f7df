#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "velmora/Export.h"
#include "velmora/IHand.h"

namespace velmora {
namespace hand {

namespace detail {
class HandCore;
}

/// The 20-joint hand. Joint commands go out as four frames of five joints; getters send their
/// requests and return what the hand's latest replies left in the caches, without waiting.
///
/// Threads: any operation from any thread at once, as every hand (IHand.h). Destroy the object
/// only once no other thread is inside one of its calls (VelmoraApi waits for them itself).
class VELMORA_API RavelHand : public IHand {
  public:
    /// Opens the channel (a SocketCAN interface such as "can0", or "virtual:NAME"), starts the
    /// receive thread and asks the hand which fingertip sensors it carries.
    RavelHand(std::uint32_t handId, const std::string& canChannel, int bitrate);
    ~RavelHand() override;
    RavelHand(const RavelHand&) = delete;
    RavelHand& operator=(const RavelHand&) = delete;

    using IHand::getForce;

    void setJointPositions(const ByteVector& positions) override;
    void setJointPositionArc(const RadianVector& positions) override;
    ByteVector getSpeed() override;
    void setSpeed(const ByteVector& speeds) override;
    ByteVector getCurrentStatus() override;
    RadianVector getCurrentStatusArc() override;
    ByteVector getFaultCode() override;
    ByteVector getCurrent() override;
    /// Matrix sensors: 5 fingers x 12 rows x 6 values. Summary sensors: 5 fingers x 1 row x 4
    /// values. Empty while the hand has not reported a sensor kind this model knows.
    ForceData getForce() override;
    ByteVector getNormalForce() override;
    ByteVector getTangentialForce() override;
    ByteVector getTangentialForceDir() override;
    ByteVector getApproachInc() override;
    std::string getVersion() override;
    ByteVector getUID() override;
    ByteVector getRotorLockCount() override;
    void clearFaultCode(const ByteVector& codes) override;
    void setCurrent(const ByteVector& currents) override;

  private:
    detail::HandCore* handCore() const noexcept override;
    void receiveResponse(const ByteVector& frame);
    void sendFiveValues(std::uint8_t code, const ByteVector& values, const char* sizeMessage);
    ByteVector requestValues(std::uint8_t code);
    ByteVector requestFrame(std::uint8_t code);

    std::unique_ptr<detail::HandCore> core_;
};

}  // namespace hand
}  // namespace velmora
