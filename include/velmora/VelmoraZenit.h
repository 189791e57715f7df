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

/// The 25-joint hand (variant 0) and its 21-joint variant (variant 1).
///
/// The interface speaks 25 joints in command order; the hand keeps its joint state per finger,
/// six slots per finger (30 slots). Positions are sent and read in that per-finger order, speeds
/// and torques are sent in command order. Command indices 11 to 14 have no slot on the hand:
/// they are never sent and read back as 0.
///
/// Threads: any operation from any thread at once, as every hand (IHand.h). Destroy the object
/// only once no other thread is inside one of its calls (VelmoraApi waits for them itself).
class VELMORA_API ZenitHand : public IHand {
  public:
    /// Opens the channel (a SocketCAN interface such as "can0", or "virtual:NAME"), starts the
    /// receive thread and asks the hand for its sensor kind. `variant` 0 is the 25-joint hand,
    /// 1 the 21-joint variant.
    ZenitHand(std::uint32_t handId, const std::string& canChannel, int bitrate, int variant);
    ~ZenitHand() override;
    ZenitHand(const ZenitHand&) = delete;
    ZenitHand& operator=(const ZenitHand&) = delete;

    void setJointPositions(const ByteVector& positions) override;
    void setJointPositionArc(const RadianVector& positions) override;
    ByteVector getSpeed() override;
    void setSpeed(const ByteVector& speeds) override;
    ByteVector getCurrentStatus() override;
    RadianVector getCurrentStatusArc() override;
    ByteVector getFaultCode() override;
    /// Variant 0: the four force payloads (normal, tangential, tangential direction, approach).
    /// Variant 1: with matrix sensors the five finger force caches; otherwise for `which` 0 the
    /// five finger forces without their first byte, for any other `which` the four payloads.
    ByteMatrix getForce(std::int32_t which) override;
    /// The fingertip matrices, 5 fingers x 12 rows x 6 bytes.
    ForceData getForce() override;
    ByteVector getThumbForce() override;
    ByteVector getIndexForce() override;
    ByteVector getMiddleForce() override;
    ByteVector getRingForce() override;
    ByteVector getLittleForce() override;
    ByteVector getNormalForce() override;
    ByteVector getTangentialForce() override;
    ByteVector getTangentialForceDir() override;
    ByteVector getApproachInc() override;
    void setTorque(const ByteVector& torques) override;
    ByteVector getTorque() override;
    ByteVector getTemperature() override;
    /// Hand direction, software and hardware version, one line each that the hand has reported.
    std::string getVersion() override;
    ByteVector getUID() override;
    /// Sends 0x85 followed by `motors` (at most 7 bytes fit in a frame).
    void setMotorEnable(const ByteVector& motors) override;
    /// Sends the same frame as setMotorEnable.
    void setMotorDisable(const ByteVector& motors) override;

    /// Joint values in the hand's per-finger order (30 slots) rearranged into command order (25);
    /// indices without a slot, and slots beyond the input, give 0.
    ByteVector state_to_cmd(const ByteVector& state) const;
    /// The communication-id reply, code byte included.
    ByteVector getCommID();
    void factoryReset();
    void saveParameter();

  private:
    detail::HandCore* handCore() const noexcept override;
    void receiveResponse(const ByteVector& frame);
    void sendInGroupsOfFive(const ByteVector& values, std::uint8_t firstCode,
                            const char* sizeMessage);
    ByteVector requestFamily(std::uint8_t firstCode, bool jointOrder);
    ByteVector requestFrame(std::uint8_t code);
    int modelKey() const;

    std::unique_ptr<detail::HandCore> core_;
    const int variant_;
};

}  // namespace hand
}  // namespace velmora
