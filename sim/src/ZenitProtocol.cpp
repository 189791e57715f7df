// The 25-joint hand's side of the wire (also its 21-joint variant). The hand keeps joint state
// per finger, six slots per finger; commands of speeds and torques come in the 25-joint order.
#include "Protocol.h"

#include <functional>

namespace velmora {
namespace sim {

namespace {

using protocol::kNoJoint;
using protocol::kSlotsPerFinger;
constexpr const int (&kSlotJoint)[30] = protocol::kZenitSlotJoint;

// Command codes of the 25-joint hand, from its command table. Each joint-state family has one
// code per finger, thumb first: finger f's code is the family's first code + f.
using protocol::Quantity;
using namespace protocol::zenit;

constexpr std::size_t kFingers = HandBody::kFingers;
constexpr std::size_t kGroup = 5;  // speeds and torques: five joints a frame

// The frame of finger f's speeds or torques carries joints kGroup * f on.
constexpr bool writesGroups(std::uint8_t first) {
    for (std::size_t finger = 0; finger < kFingers; ++finger) {
        if (!protocol::carriesJoints(ZENIT, static_cast<std::uint8_t>(first + finger),
                                     kGroup * finger, kGroup)) {
            return false;
        }
    }
    return true;
}
static_assert(protocol::consecutiveCodes(ZENIT, Quantity::Positions, kFingers) &&
                  protocol::consecutiveCodes(ZENIT, Quantity::Speeds, kFingers) &&
                  protocol::consecutiveCodes(ZENIT, Quantity::Torques, kFingers) &&
                  protocol::consecutiveCodes(ZENIT, Quantity::Faults, kFingers) &&
                  protocol::consecutiveCodes(ZENIT, Quantity::Temperatures, kFingers),
              "a finger family of the 25-joint hand is not five consecutive codes");
static_assert(writesGroups(kSpeeds) && writesGroups(kTorques),
              "the 25-joint hand's speed and torque frames split the joints unlike its table");
static_assert(consecutiveForces(ZENIT),
              "the 25-joint hand's force codes are not in the order of a finger summary");

// True for the codes of a finger family from `first` on: first + finger.
constexpr bool inFingerFamily(std::uint8_t code, std::uint8_t first) {
    return code >= first && code < first + kFingers;
}

class ZenitProtocol : public Protocol {
  public:
    using Protocol::Protocol;

    void handle(const ByteVector& f, Frames& out) override {
        const std::uint8_t code = f[0];
        const bool request = f.size() == 1;
        if (inFingerFamily(code, kPositions)) {
            const std::size_t finger = code - kPositions;
            if (request) {
                out.push_back(frame(code, fingerSlots(finger, &HandBody::positions)));
            } else {
                for (std::size_t s = 0; s < kSlotsPerFinger && s + 1 < f.size(); ++s) {
                    const int joint = kSlotJoint[finger * kSlotsPerFinger + s];
                    if (joint != kNoJoint)
                        body_.setTargets(static_cast<std::size_t>(joint), {f[s + 1]});
                }
            }
        } else if (inFingerFamily(code, kSpeeds)) {
            const std::size_t finger = code - kSpeeds;
            request ? out.push_back(frame(code, fingerSlots(finger, &HandBody::speeds)))
                    : body_.setSpeeds(finger * kGroup, payload(f));
        } else if (inFingerFamily(code, kTorques)) {
            const std::size_t finger = code - kTorques;
            request ? out.push_back(frame(code, fingerSlots(finger, &HandBody::torques)))
                    : body_.setTorques(finger * kGroup, payload(f));
        } else if (inFingerFamily(code, kFaults)) {
            out.push_back(frame(code, fingerSlots(code - kFaults, &HandBody::faults)));
        } else if (inFingerFamily(code, kTemperatures)) {
            out.push_back(frame(code, fingerSlots(code - kTemperatures, &HandBody::temperatures)));
        } else if (code >= kNormalForce && code <= kApproach) {
            out.push_back(frame(code, forcePerFinger(code - kNormalForce)));
        } else if (inFingerFamily(code, protocol::kMatrixCode)) {
            answerMatrixCode(f, false, out);
        } else {
            handleDevice(f, out);
        }
    }

  private:
    void handleDevice(const ByteVector& f, Frames& out) {
        switch (f[0]) {
            case kMotorSwitch:  // enable and disable share the code: byte 1 says which
                body_.setEnabled(f.size() < 2 || f[1] != 0);
                break;
            case kSensorKind:
                out.push_back({kSensorKind, sensorKind()});
                break;
            case kUid:  // "ZNT" and a serial number
                out.push_back({kUid, 0x5A, 0x4E, 0x54, 0x00, 0x02, 0x19, 0x07});
                break;
            case kSoftwareVersion:  // four numbers
                out.push_back(frame(kSoftwareVersion, versionFields(config_.softwareVersion, 4)));
                out.back().back() = 1;  // the build number
                break;
            case kHardwareVersion:
                out.push_back(frame(kHardwareVersion, versionFields(config_.hardwareVersion, 4)));
                break;
            case kCommId:
                out.push_back({kCommId, static_cast<std::uint8_t>(config_.handId)});
                break;
            case kFactoryReset:
                body_.reset();
                break;
            default:
                break;  // saving the parameters and the per-finger force reads: no reply
        }
    }

    // The finger's six state slots of a per-joint quantity; slots without a joint are 0.
    ByteVector fingerSlots(std::size_t finger, Reader read) const {
        const ByteVector all = std::invoke(read, body_, 0, body_.joints());
        ByteVector slots(kSlotsPerFinger, 0);
        for (std::size_t s = 0; s < kSlotsPerFinger; ++s) {
            const int joint = kSlotJoint[finger * kSlotsPerFinger + s];
            if (joint != kNoJoint)
                slots[s] = all[static_cast<std::size_t>(joint)];
        }
        return slots;
    }
};

}  // namespace

std::unique_ptr<Protocol> makeZenitProtocol(HandBody& body, const SimConfig& config) {
    return std::make_unique<ZenitProtocol>(body, config);
}

}  // namespace sim
}  // namespace velmora
