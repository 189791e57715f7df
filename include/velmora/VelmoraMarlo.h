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

/// The 7-joint hand. Every command is one frame; every getter sends its request and waits
/// 10 ms before it reads what the hand has sent.
///
/// Threads: any operation from any thread at once, as every hand (IHand.h). Destroy the object
/// only once no other thread is inside one of its calls (VelmoraApi waits for them itself).
class VELMORA_API MarloHand : public IHand {
  public:
    /// Opens the channel (a SocketCAN interface such as "can0", or "virtual:NAME"), starts the
    /// receive thread and asks the hand for its version and sensor kind.
    MarloHand(std::uint32_t handId, const std::string& canChannel, int bitrate);
    ~MarloHand() override;
    MarloHand(const MarloHand&) = delete;
    MarloHand& operator=(const MarloHand&) = delete;

    using IHand::getForce;

    void setJointPositions(const ByteVector& positions) override;
    void setJointPositionArc(const RadianVector& positions) override;
    ByteVector getSpeed() override;
    void setSpeed(const ByteVector& speeds) override;
    ByteVector getCurrentStatus() override;
    RadianVector getCurrentStatusArc() override;
    ByteVector getFaultCode() override;
    ForceData getForce() override;
    ByteVector getNormalForce() override;
    ByteVector getTangentialForce() override;
    ByteVector getTangentialForceDir() override;
    ByteVector getApproachInc() override;
    void setTorque(const ByteVector& torques) override;
    ByteVector getTorque() override;
    ByteVector getTemperature() override;
    std::string getVersion() override;

  private:
    detail::HandCore* handCore() const noexcept override;
    void receiveResponse(const ByteVector& frame);
    ByteVector requestAndRead(std::uint8_t code);

    std::unique_ptr<detail::HandCore> core_;
};

}  // namespace hand
}  // namespace velmora
