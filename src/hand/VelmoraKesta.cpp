#include "velmora/VelmoraKesta.h"

#include <algorithm>
#include <chrono>
#include <optional>
#include <sstream>
#include <thread>

#include "detail/HandCore.h"
#include "velmora/Protocol.h"
#include "velmora/RangeToArc.h"

namespace velmora {
namespace hand {

namespace {

using namespace protocol::kesta;

constexpr std::uint8_t kStateCodes[] = {kPositions,     kTorques,      kSpeeds,
                                        kAccelerations, kTemperatures, kFaults};

constexpr std::size_t kActuators = models::info(KESTA).slots;
// No joint-limit table exists for this key, so the radian forms fail in the conversion.
constexpr int kModelKey = protocol::angleTableKey(KESTA);
constexpr std::uint8_t kInitialSpeed = 0x40;
// A version frame is the code and three numbers; a serial number shows at most this many bytes.
constexpr std::size_t kVersionFrameBytes = 4;
constexpr std::size_t kSerialCharacters = 23;

constexpr auto kDeviceInfoGap = std::chrono::milliseconds(10);
constexpr auto kSettleTime = std::chrono::milliseconds(50);

// "a.b.c" from bytes 1 to 3 of a version frame; nothing for a frame too short to hold them.
std::optional<std::string> dottedVersion(const ByteVector& frame) {
    if (frame.size() < kVersionFrameBytes) {
        return std::nullopt;
    }
    std::ostringstream text;
    text << int(frame[1]) << '.' << int(frame[2]) << '.' << int(frame[3]);
    return text.str();
}

}  // namespace

KestaHand::KestaHand(std::uint32_t handId, const std::string& canChannel, int bitrate)
    : core_(std::make_unique<detail::HandCore>(handId, canChannel, bitrate, KESTA)) {
    // The state caches hold the 6 values without their code, and start at zero.
    for (std::uint8_t code : kStateCodes) {
        core_->caches.store(code, ByteVector(kActuators, 0));
    }
    // Its replies are kept as the six values alone; getSpeed asks nothing, so a fresh read of
    // the speeds waits for the hand to report them.
    const auto reading = [this](std::uint8_t code, bool request) {
        detail::FreshReading fresh;
        fresh.request = [this, code, request] {
            if (request) {
                core_->request(code);
            }
        };
        fresh.replies = {code};
        fresh.values = kActuators;
        fresh.shape = [code](const detail::ReplyCaches::View& replies) {
            return replies.frame(code);
        };
        return fresh;
    };
    core_->defineReading(Reading::Positions, reading(kPositions, true));
    core_->defineReading(Reading::Speeds, reading(kSpeeds, false));
    core_->defineReading(Reading::Torques, reading(kTorques, true));
    core_->defineReading(Reading::Temperatures, reading(kTemperatures, true));
    core_->defineReading(Reading::Faults, reading(kFaults, true));
    core_->setModelKey(kModelKey);
    core_->startReceiving([this](const ByteVector& frame) { receiveResponse(frame); });
    requestDeviceInfo();
    getTemperature();
    setSpeed(ByteVector(kActuators, kInitialSpeed));
    getCurrentStatus();
    std::this_thread::sleep_for(kSettleTime);
}

KestaHand::~KestaHand() {
    core_->stopReceiving();
}

detail::HandCore* KestaHand::handCore() const noexcept {
    return core_.get();
}

void KestaHand::receiveResponse(const ByteVector& frame) {
    const std::uint8_t code = frame[0];
    if (detail::FingertipSensors::isMatrixCode(code)) {
        core_->storeMatrixFrame(frame);
        return;
    }
    switch (code) {
        case kPositions:
        case kTorques:
        case kSpeeds:
        case kAccelerations:
        case kTemperatures:
        case kFaults:
            // Replies shorter than code + 6 values are dropped; extra bytes are ignored.
            if (frame.size() >= 1 + kActuators) {
                core_->caches.storeReply(
                    code, ByteVector(frame.begin() + 1, frame.begin() + 1 + kActuators));
            }
            break;
        case kSerialNumber:
            parseSerialNumber(frame);
            if (frame.size() > 1) {
                core_->caches.noteReply(code);
            }
            break;
        case kHardwareVersion:
        case kSoftwareVersion:
        case kMechanicalVersion:
            if (frame.size() >= kVersionFrameBytes) {
                core_->caches.storeReply(code, frame);
            }
            break;
        default:
            break;
    }
}

void KestaHand::sendSix(std::uint8_t code, const ByteVector& values, const char* sizeMessage) {
    if (values.size() != kActuators) {
        detail::reportUsage(sizeMessage);
        return;
    }
    core_->send(detail::commandFrame(code, values));
}

void KestaHand::setJointPositions(const ByteVector& positions) {
    if (positions.size() == kActuators) {
        // getCurrentStatus shows the targets until the hand reports its positions.
        core_->caches.store(kPositions, positions);
    }
    sendSix(kPositions, positions, "Joint position size is not 6");
}

void KestaHand::setSpeed(const ByteVector& speeds) {
    sendSix(kSpeeds, speeds, "Speed size is not 6");
}

void KestaHand::setTorque(const ByteVector& torques) {
    sendSix(kTorques, torques, "Torque size is not 6");
}

void KestaHand::setAcceleration(const ByteVector& accelerations) {
    sendSix(kAccelerations, accelerations, "Acceleration size is not 6");
}

void KestaHand::clearFaultCode(const ByteVector& codes) {
    sendSix(kClearFaults, codes, "Fault code size is not 6");
}

void KestaHand::setJointPositionArc(const RadianVector& positions) {
    detail::commandJointAngles(*this, core_->handId(), kModelKey, kActuators,
                               "Joint position size is not 6", positions);
}

RadianVector KestaHand::getCurrentStatusArc() {
    // The position request goes out whatever the identifier.
    const ByteVector positions = getCurrentStatus();
    if (const auto side = detail::sideName(core_->handId())) {
        return range_to_arc(kModelKey, *side, positions);
    }
    return {};
}

void KestaHand::reHome() {
    core_->send({kReHome, 0x01});
}

void KestaHand::factoryReset() {
    core_->send({kFactoryReset, 0x01});
}

void KestaHand::saveParameters() {
    core_->send({kSaveParameters, 0x01});
}

void KestaHand::requestDeviceInfo() {
    core_->request(kSoftwareVersion);
    std::this_thread::sleep_for(kDeviceInfoGap);
    core_->request(kSerialNumber);
    std::this_thread::sleep_for(kDeviceInfoGap);
    core_->request(kHardwareVersion);
    std::this_thread::sleep_for(kDeviceInfoGap);
    core_->request(kMechanicalVersion);
}

// The copy is taken under the cache lock after the paced request, never across it, so that the
// receive thread can store replies while the request waits out its pacing.
ByteVector KestaHand::requestState(std::uint8_t code) {
    core_->request(code);
    return core_->caches.frame(code);
}

ByteVector KestaHand::getCurrentStatus() {
    return requestState(kPositions);
}

ByteVector KestaHand::getTorque() {
    return requestState(kTorques);
}

ByteVector KestaHand::getAcceleration() {
    return requestState(kAccelerations);
}

ByteVector KestaHand::getTemperature() {
    return requestState(kTemperatures);
}

ByteVector KestaHand::getFaultCode() {
    return requestState(kFaults);
}

ByteVector KestaHand::getSpeed() {
    return core_->caches.frame(kSpeeds);
}

ForceData KestaHand::getForce() {
    if (core_->sensors.mode() == TOUCH_TYPE_MATRIX) {
        core_->requestMatrices();
    }
    return core_->sensors.matrices();
}

std::string KestaHand::getVersion() {
    return core_->caches.locked([](detail::ReplyCaches::View& caches) {
        std::ostringstream text;
        if (const auto v = dottedVersion(caches.frame(kSoftwareVersion)))
            text << "Software Version: " << *v << "\n";
        if (const auto v = dottedVersion(caches.frame(kHardwareVersion)))
            text << "Hardware Version: " << *v << "\n";
        if (const auto v = dottedVersion(caches.frame(kMechanicalVersion)))
            text << "Mechanical Version: " << *v << "\n";
        return text.str();
    });
}

std::string KestaHand::versionText(std::uint8_t code) {
    return core_->caches.locked([code](detail::ReplyCaches::View& caches) {
        return dottedVersion(caches.frame(code)).value_or("Unknown");
    });
}

std::string KestaHand::getHardwareVersion() {
    return versionText(kHardwareVersion);
}

std::string KestaHand::getMechanicalVersion() {
    return versionText(kMechanicalVersion);
}

std::string KestaHand::getSerialNumber() {
    return core_->caches.locked([](detail::ReplyCaches::View& caches) -> std::string {
        const ByteVector& frame = caches.frame(kSerialNumber);
        if (frame.empty()) {
            return "Unknown";
        }
        std::string serial;
        const std::size_t end = std::min(frame.size(), 1 + kSerialCharacters);
        for (std::size_t i = 1; i < end; ++i) {
            if (frame[i] != 0) {
                serial.push_back(static_cast<char>(frame[i]));
            }
        }
        return serial;
    });
}

void KestaHand::parseSerialNumber(const ByteVector& frame) {
    if (frame.size() > 1) {
        core_->caches.store(kSerialNumber, frame);
    }
}

}  // namespace hand
}  // namespace velmora
