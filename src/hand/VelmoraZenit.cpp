#include "velmora/VelmoraZenit.h"

#include <sstream>
#include <thread>

#include "detail/HandCore.h"
#include "velmora/Protocol.h"

namespace velmora {
namespace hand {

namespace {

using protocol::Quantity;
using namespace protocol::zenit;
// Finger 0's matrix code alone: matrix sensors announce themselves with a three-byte reply.
constexpr std::uint8_t kSensorProbe = protocol::codeOf(ZENIT, Quantity::Matrix, 0);

constexpr std::size_t kFingers = models::kFingers;
constexpr std::size_t kJoints = models::info(ZENIT).slots;
constexpr std::size_t kSlotsPerFinger = protocol::kSlotsPerFinger;
constexpr std::size_t kSlots = kFingers * kSlotsPerFinger;
constexpr std::size_t kGroup = 5;  // speeds and torques: five joints per frame
// One finger's matrix rows.
constexpr std::size_t kFingerForceBytes = models::kMatrixRows * models::kMatrixColumns;

// The model reaches a family's codes as its first code + finger.
constexpr bool consecutiveFamily(Quantity q) {
    return protocol::consecutiveCodes(ZENIT, q, kFingers);
}
static_assert(consecutiveFamily(Quantity::Positions) && consecutiveFamily(Quantity::Speeds) &&
                  consecutiveFamily(Quantity::Torques) && consecutiveFamily(Quantity::Faults) &&
                  consecutiveFamily(Quantity::Temperatures) &&
                  consecutiveFamily(Quantity::FingerForce),
              "a finger family of the 25-joint hand is not five consecutive codes");

// The hand's joint state, finger by finger (slot 6f + s is slot s of finger f), and the command
// index each slot carries. This one table drives both directions of the conversion.
constexpr int kNoJoint = protocol::kNoJoint;
constexpr const int (&kCommandIndexOfSlot)[kSlots] = protocol::kZenitSlotJoint;

constexpr int kModelKeyFull = protocol::angleTableKey(ZENIT);
constexpr int kModelKeyVariant = protocol::angleTableKey(SABRE);
// No conversion table has this key, so the conversion reports its invalid-parameter error.
constexpr int kNoModelKey = 0;

std::uint8_t offset(std::uint8_t code, std::size_t n) {
    return static_cast<std::uint8_t>(code + n);
}

// Enable and disable share one code; the bytes after it say what to do. A frame longer than
// eight bytes is refused by the channel, with a message, and never sent.
ByteVector motorFrame(const ByteVector& motors) {
    return detail::commandFrame(kMotorSwitch, motors);
}

std::string versionText(const ByteVector& reply) {
    std::ostringstream text;
    text << std::hex << int(reply[1]) << '.' << int(reply[2]) << '.' << int(reply[3]) << '.'
         << int(reply[4]);
    return text.str();
}

// The payloads of a family's five frames joined, thumb first; empty unless every finger has
// reported at least one value. Joint states must fill the 30 slots, and come back in command
// order.
ByteVector familyValues(const ZenitHand& hand, const detail::ReplyCaches::View& frames,
                        std::uint8_t firstCode, bool jointOrder) {
    ByteVector joined;
    for (std::size_t finger = 0; finger < kFingers; ++finger) {
        const ByteVector& frame = frames.frame(offset(firstCode, finger));
        if (frame.size() < 2) {
            return {};
        }
        joined.insert(joined.end(), frame.begin() + 1, frame.end());
    }
    if (!jointOrder) {
        return joined;
    }
    return joined.size() == kSlots ? hand.state_to_cmd(joined) : ByteVector{};
}

}  // namespace

ZenitHand::ZenitHand(std::uint32_t handId, const std::string& canChannel, int bitrate, int variant)
    : core_(std::make_unique<detail::HandCore>(handId, canChannel, bitrate,
                                               variant == 0 ? ZENIT : SABRE)),
      variant_(variant) {
    // The hand never reports these; they keep the size of one finger's matrix.
    for (std::size_t finger = 0; finger < kFingers; ++finger) {
        core_->caches.store(offset(kThumbForce, finger), ByteVector(kFingerForceBytes, 0));
    }
    // Each family is one frame per finger; the joint states come back in command order.
    const auto family = [this](std::uint8_t first, bool jointOrder) {
        detail::FreshReading fresh = detail::joinedReading(
            *core_,
            {first, offset(first, 1), offset(first, 2), offset(first, 3), offset(first, 4)});
        fresh.values = jointOrder ? kJoints : 0;
        fresh.shape = [this, first, jointOrder](const detail::ReplyCaches::View& replies) {
            return familyValues(*this, replies, first, jointOrder);
        };
        return fresh;
    };
    core_->defineReading(Reading::Positions, family(kPositions, true));
    core_->defineReading(Reading::Speeds, family(kSpeeds, true));
    core_->defineReading(Reading::Torques, family(kTorques, true));
    core_->defineReading(Reading::Faults, family(kFaults, false));
    core_->defineReading(Reading::Temperatures, family(kTemperatures, false));
    core_->setModelKey(modelKey());
    core_->startReceiving([this](const ByteVector& frame) { receiveResponse(frame); });
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    core_->request(kSensorKind);
    core_->request(kSensorProbe);
}

ZenitHand::~ZenitHand() {
    core_->stopReceiving();
}

detail::HandCore* ZenitHand::handCore() const noexcept {
    return core_.get();
}

void ZenitHand::receiveResponse(const ByteVector& frame) {
    const std::uint8_t code = frame[0];
    if (detail::FingertipSensors::isMatrixCode(code)) {
        core_->storeMatrixFrame(frame);
        return;
    }
    const auto inFamily = [code](std::uint8_t first) {
        return code >= first && code < first + kFingers;
    };
    if (inFamily(kPositions) || inFamily(kSpeeds) || inFamily(kTorques) || inFamily(kFaults) ||
        inFamily(kTemperatures)) {
        core_->caches.storeReply(code, frame);
        return;
    }
    switch (code) {
        case kNormalForce:
        case kTangentialForce:
        case kTangentialDirection:
        case kApproach:
        case kUid:
        case kSoftwareVersion:
        case kHardwareVersion:
        case kCommId:
            core_->caches.storeReply(code, frame);
            break;
        case kSensorKind:
            core_->sensors.onKindReport(frame);
            break;
        default:  // finger force replies included
            break;
    }
}

ByteVector ZenitHand::state_to_cmd(const ByteVector& state) const {
    ByteVector command(kJoints, 0);
    for (std::size_t slot = 0; slot < kSlots && slot < state.size(); ++slot) {
        if (kCommandIndexOfSlot[slot] != kNoJoint) {
            command[static_cast<std::size_t>(kCommandIndexOfSlot[slot])] = state[slot];
        }
    }
    return command;
}

void ZenitHand::setJointPositions(const ByteVector& positions) {
    if (positions.size() != kJoints) {
        detail::reportUsage("Joint position size is not 25");
        return;
    }
    for (std::size_t finger = 0; finger < kFingers; ++finger) {
        ByteVector frame{offset(kPositions, finger)};
        for (std::size_t s = 0; s < kSlotsPerFinger; ++s) {
            const int index = kCommandIndexOfSlot[finger * kSlotsPerFinger + s];
            frame.push_back(index == kNoJoint ? 0 : positions[static_cast<std::size_t>(index)]);
        }
        core_->send(frame);
    }
}

int ZenitHand::modelKey() const {
    switch (variant_) {
        case 0:
            return kModelKeyFull;
        case 1:
            return kModelKeyVariant;
        default:
            return kNoModelKey;
    }
}

void ZenitHand::setJointPositionArc(const RadianVector& positions) {
    detail::commandJointAngles(*this, core_->handId(), modelKey(), kJoints,
                               "Joint position size is not 25", positions);
}

RadianVector ZenitHand::getCurrentStatusArc() {
    return detail::jointAngles(*this, core_->handId(), modelKey());
}

void ZenitHand::sendInGroupsOfFive(const ByteVector& values, std::uint8_t firstCode,
                                   const char* sizeMessage) {
    if (values.size() != kJoints) {
        detail::reportUsage(sizeMessage);
        return;
    }
    for (std::size_t group = 0; group < kJoints / kGroup; ++group) {
        const auto first = values.begin() + static_cast<std::ptrdiff_t>(group * kGroup);
        core_->send(detail::commandFrame(offset(firstCode, group), first, first + kGroup));
    }
}

void ZenitHand::setSpeed(const ByteVector& speeds) {
    sendInGroupsOfFive(speeds, kSpeeds, "Joint speed size is not 25");
}

void ZenitHand::setTorque(const ByteVector& torques) {
    sendInGroupsOfFive(torques, kTorques, "Joint torque size is not 25");
}

// Asks each finger for its frame of the family, then reads the family's caches in one step.
ByteVector ZenitHand::requestFamily(std::uint8_t firstCode, bool jointOrder) {
    for (std::size_t finger = 0; finger < kFingers; ++finger) {
        core_->request(offset(firstCode, finger));
    }
    return core_->caches.locked([&](const detail::ReplyCaches::View& caches) {
        return familyValues(*this, caches, firstCode, jointOrder);
    });
}

ByteVector ZenitHand::getCurrentStatus() {
    return requestFamily(kPositions, true);
}

ByteVector ZenitHand::getSpeed() {
    return requestFamily(kSpeeds, true);
}

ByteVector ZenitHand::getTorque() {
    return requestFamily(kTorques, true);
}

ByteVector ZenitHand::getFaultCode() {
    return requestFamily(kFaults, false);
}

ByteVector ZenitHand::getTemperature() {
    return requestFamily(kTemperatures, false);
}

ByteVector ZenitHand::requestFrame(std::uint8_t code) {
    core_->request(code);
    return core_->caches.frame(code);
}

ByteVector ZenitHand::getNormalForce() {
    return requestFrame(kNormalForce);
}
ByteVector ZenitHand::getTangentialForce() {
    return requestFrame(kTangentialForce);
}
ByteVector ZenitHand::getTangentialForceDir() {
    return requestFrame(kTangentialDirection);
}
ByteVector ZenitHand::getApproachInc() {
    return requestFrame(kApproach);
}
ByteVector ZenitHand::getThumbForce() {
    return requestFrame(kThumbForce);
}
ByteVector ZenitHand::getIndexForce() {
    return requestFrame(offset(kThumbForce, 1));
}
ByteVector ZenitHand::getMiddleForce() {
    return requestFrame(offset(kThumbForce, 2));
}
ByteVector ZenitHand::getRingForce() {
    return requestFrame(offset(kThumbForce, 3));
}
ByteVector ZenitHand::getLittleForce() {
    return requestFrame(offset(kThumbForce, 4));
}
ByteVector ZenitHand::getUID() {
    return requestFrame(kUid);
}
ByteVector ZenitHand::getCommID() {
    return requestFrame(kCommId);
}

ForceData ZenitHand::getForce() {
    core_->requestMatrices();
    return core_->sensors.matrices();
}

ByteMatrix ZenitHand::getForce(std::int32_t which) {
    ByteMatrix rows;
    const auto scalarForces = [&] {
        rows.push_back(getSubVector(getNormalForce()));
        rows.push_back(getSubVector(getTangentialForce()));
        rows.push_back(getSubVector(getTangentialForceDir()));
        rows.push_back(getSubVector(getApproachInc()));
    };
    if (variant_ == 0) {
        scalarForces();
    } else if (variant_ == 1) {
        if (core_->sensors.mode() == TOUCH_TYPE_MATRIX) {
            core_->requestMatrices();
            for (std::size_t finger = 0; finger < kFingers; ++finger) {
                rows.push_back(core_->caches.frame(offset(kThumbForce, finger)));
            }
        } else if (which == 0) {
            rows.push_back(getSubVector(getThumbForce()));
            rows.push_back(getSubVector(getIndexForce()));
            rows.push_back(getSubVector(getMiddleForce()));
            rows.push_back(getSubVector(getRingForce()));
            rows.push_back(getSubVector(getLittleForce()));
        } else {
            scalarForces();
        }
    }
    return rows;
}

std::string ZenitHand::getVersion() {
    core_->request(kSoftwareVersion);
    core_->request(kHardwareVersion);
    getCommID();
    return core_->caches.locked([](detail::ReplyCaches::View& caches) {
        std::string text;
        const ByteVector& commId = caches.frame(kCommId);
        if (commId.size() >= 2) {
            text += "Hand direction: ";
            text += commId[1] == LEFT ? "Left hand" : commId[1] == RIGHT ? "Right hand" : "unknown";
            text += "\n";
        }
        // A version reply is the code and four numbers; any other length is not one.
        const ByteVector& software = caches.frame(kSoftwareVersion);
        if (software.size() == 5) {
            text += "Software Version: " + versionText(software) + "\n";
        }
        const ByteVector& hardware = caches.frame(kHardwareVersion);
        if (hardware.size() == 5) {
            text += "Hardware Version: " + versionText(hardware) + "\n";
        }
        return text;
    });
}

void ZenitHand::setMotorEnable(const ByteVector& motors) {
    core_->send(motorFrame(motors));
}

void ZenitHand::setMotorDisable(const ByteVector& motors) {
    core_->send(motorFrame(motors));
}

void ZenitHand::factoryReset() {
    core_->request(kFactoryReset);
}

void ZenitHand::saveParameter() {
    core_->request(kSaveParameter);
}

}  // namespace hand
}  // namespace velmora
