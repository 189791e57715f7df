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

/// The 6-actuator hand (both KESTA and KESTA_ALT).
///
/// Every command is one frame of the code and 6 values. The state getters send their request
/// and return the 6 values the hand last reported (6 zeros before its first report). At
/// construction the hand is asked for its serial number and versions, which the text getters
/// return ("Unknown" until the hand has answered).
///
/// Threads: any operation from any thread at once, as every hand (IHand.h). Destroy the object
/// only once no other thread is inside one of its calls (VelmoraApi waits for them itself).
class VELMORA_API KestaHand : public IHand {
  public:
    /// Opens the channel (a SocketCAN interface such as "can0", or "virtual:NAME"), starts the
    /// receive thread, asks the hand for its device information, temperatures and positions
    /// and sets every speed to 64.
    KestaHand(std::uint32_t handId, const std::string& canChannel, int bitrate);
    ~KestaHand() override;
    KestaHand(const KestaHand&) = delete;
    KestaHand& operator=(const KestaHand&) = delete;

    using IHand::getForce;

    void setJointPositions(const ByteVector& positions) override;
    void setJointPositionArc(const RadianVector& positions) override;
    ByteVector getSpeed() override;
    void setSpeed(const ByteVector& speeds) override;
    ByteVector getCurrentStatus() override;
    RadianVector getCurrentStatusArc() override;
    ByteVector getFaultCode() override;
    ForceData getForce() override;
    void setTorque(const ByteVector& torques) override;
    ByteVector getTorque() override;
    ByteVector getTemperature() override;
    /// Up to three lines: software, hardware and mechanical version, each as "a.b.c".
    std::string getVersion() override;
    /// Sends 6 fault codes (code 0x83).
    void clearFaultCode(const ByteVector& codes) override;

    /// Asks for the software version, serial number, hardware and mechanical version, 10 ms
    /// apart.
    void requestDeviceInfo();
    void setAcceleration(const ByteVector& accelerations);
    ByteVector getAcceleration();
    void reHome();
    void factoryReset();
    void saveParameters();
    /// At most 23 characters, zero bytes left out; "Unknown" before the hand has sent one.
    std::string getSerialNumber();
    /// "a.b.c", or "Unknown".
    std::string getHardwareVersion();
    /// "a.b.c", or "Unknown".
    std::string getMechanicalVersion();
    /// Keeps a serial-number frame (code byte included) of more than one byte.
    void parseSerialNumber(const ByteVector& frame);

  private:
    detail::HandCore* handCore() const noexcept override;
    void receiveResponse(const ByteVector& frame);
    void sendSix(std::uint8_t code, const ByteVector& values, const char* sizeMessage);
    ByteVector requestState(std::uint8_t code);
    std::string versionText(std::uint8_t code);

    std::unique_ptr<detail::HandCore> core_;
};

}  // namespace hand
}  // namespace velmora
