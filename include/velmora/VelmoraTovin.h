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

/// The 10-joint hand.
///
/// Its version report sets the process-wide firmware generation
/// (velmora::Common::current_hand_version): above 1.4, getCurrentStatus, getSpeed and getTorque
/// request fresh state from the hand; otherwise they only return what the hand last sent.
///
/// Threads: any operation from any thread at once, as every hand (IHand.h). Destroy the object
/// only once no other thread is inside one of its calls (VelmoraApi waits for them itself).
class VELMORA_API TovinHand : public IHand {
  public:
    /// Opens the channel (a SocketCAN interface such as "can0", or "virtual:NAME"), starts the
    /// receive thread and asks the hand for its version and sensor kind.
    TovinHand(std::uint32_t handId, const std::string& canChannel, int bitrate);
    ~TovinHand() override;
    TovinHand(const TovinHand&) = delete;
    TovinHand& operator=(const TovinHand&) = delete;

    using IHand::getForce;

    void setJointPositions(const ByteVector& positions) override;
    void setJointPositionArc(const RadianVector& positions) override;
    ByteVector getSpeed() override;
    void setSpeed(const ByteVector& speeds) override;
    ByteVector getCurrentStatus() override;
    RadianVector getCurrentStatusArc() override;
    ByteVector getFaultCode() override;
    ByteVector getCurrent() override;
    ForceData getForce() override;
    ByteVector getNormalForce() override;
    ByteVector getTangentialForce() override;
    ByteVector getTangentialForceDir() override;
    ByteVector getApproachInc() override;
    void setTorque(const ByteVector& torques) override;
    ByteVector getTorque() override;
    ByteVector getTemperature() override;
    std::string getVersion() override;

    /// Sends the request 0x09 and returns ten zero bytes.
    ByteVector requestAllStatus();

  private:
    detail::HandCore* handCore() const noexcept override;
    void receiveResponse(const ByteVector& frame);
    void sendInTwoFrames(const ByteVector& values, std::uint8_t firstCode, std::uint8_t secondCode,
                         const char* sizeMessage);
    ByteVector requestPair(std::uint8_t first, std::uint8_t second, bool send);

    std::unique_ptr<detail::HandCore> core_;
};

}  // namespace hand
}  // namespace velmora
