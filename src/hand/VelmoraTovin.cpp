#include "velmora/VelmoraTovin.h"

#include <thread>

#include "detail/HandCore.h"
#include "velmora/CanBus.h"
#include "velmora/Protocol.h"

namespace velmora {
namespace hand {

namespace {

using protocol::Quantity;
using namespace protocol::tovin;
constexpr detail::HandCore::SummaryCodes kSummaryCodes = detail::HandCore::summaryCodes(TOVIN);
// Finger 0's matrix code alone: matrix sensors announce themselves with a three-byte reply.
constexpr std::uint8_t kSensorProbe = protocol::codeOf(TOVIN, Quantity::Matrix, 0);

constexpr std::size_t kJoints = models::info(TOVIN).slots;
static_assert(protocol::carriesJoints(TOVIN, kPositions0to5, 0, 6) &&
                  protocol::carriesJoints(TOVIN, kPositions6to9, 6, 4) &&
                  protocol::carriesJoints(TOVIN, kTorques0to4, 0, 5) &&
                  protocol::carriesJoints(TOVIN, kTorques5to9, 5, 5) &&
                  protocol::carriesJoints(TOVIN, kSpeeds0to4, 0, 5) &&
                  protocol::carriesJoints(TOVIN, kSpeeds5to9, 5, 5) &&
                  protocol::carriesJoints(TOVIN, kTemperaturesA, 0, 5) &&
                  protocol::carriesJoints(TOVIN, kTemperaturesB, 5, 5) &&
                  protocol::carriesJoints(TOVIN, kFaultsA, 0, 5) &&
                  protocol::carriesJoints(TOVIN, kFaultsB, 5, 5),
              "the 10-joint hand's frames split the joints unlike its command table");
constexpr int kModelKey = protocol::angleTableKey(TOVIN);

// Firmware above 1.4 answers state requests; older firmware reports on its own.
bool answersRequests(float firmware) {
    return firmware > 1.4f;
}

}  // namespace

TovinHand::TovinHand(std::uint32_t handId, const std::string& canChannel, int bitrate)
    : core_(std::make_unique<detail::HandCore>(handId, canChannel, bitrate, TOVIN)) {
    const auto requested = [core = core_.get()] {
        return answersRequests(core->firmwareVersion());
    };
    core_->defineReading(
        Reading::Positions,
        detail::joinedReading(*core_, {kPositions0to5, kPositions6to9}, kJoints, requested));
    core_->defineReading(Reading::Speeds, detail::joinedReading(*core_, {kSpeeds0to4, kSpeeds5to9},
                                                                kJoints, requested));
    core_->defineReading(
        Reading::Torques,
        detail::joinedReading(*core_, {kTorques0to4, kTorques5to9}, kJoints, requested));
    core_->defineReading(Reading::Temperatures,
                         detail::joinedReading(*core_, {kTemperaturesA, kTemperaturesB}));
    core_->defineReading(Reading::Faults, detail::joinedReading(*core_, {kFaultsA, kFaultsB}));
    core_->setModelKey(kModelKey);
    core_->startReceiving([this](const ByteVector& frame) { receiveResponse(frame); });
    core_->request(kVersion);
    core_->request(kSensorProbe);
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
}

TovinHand::~TovinHand() {
    core_->stopReceiving();
}

detail::HandCore* TovinHand::handCore() const noexcept {
    return core_.get();
}

void TovinHand::receiveResponse(const ByteVector& frame) {
    const std::uint8_t code = frame[0];
    if (detail::FingertipSensors::isMatrixCode(code)) {
        core_->storeMatrixFrame(frame);
        return;
    }
    switch (code) {
        case kPositions0to5:
        case kTorques0to4:
        case kTorques5to9:
        case kPositions6to9:
        case kSpeeds0to4:
        case kSpeeds5to9:
        case kNormalForce:
        case kTangentialForce:
        case kTangentialDirection:
        case kApproach:
        case kTemperaturesA:
        case kTemperaturesB:
        case kFaultsA:
        case kFaultsB:
            core_->caches.storeReply(code, frame);
            break;
        case kVersion:
            core_->caches.storeReply(code, frame);
            if (frame.size() > 5) {  // byte 5: software version
                const auto version = static_cast<float>(protocol::versionNumber(frame[5]));
                Common::current_hand_version = version;
                core_->setOwnVersion(version);
            }
            break;
        case kSensorKind:
            core_->sensors.onKindReport(frame);
            break;
        default:
            core_->storeSummary(kSummaryCodes, frame);  // other codes are dropped
            break;
    }
}

void TovinHand::setJointPositions(const ByteVector& positions) {
    if (positions.size() != kJoints) {
        detail::reportUsage("Joint position size is not 10");
        return;
    }
    core_->send({kPositions0to5, positions[0], positions[1], positions[2], positions[3],
                 positions[4], positions[5]});
    core_->send({kPositions6to9, positions[6], positions[7], positions[8], positions[9]});
}

void TovinHand::setJointPositionArc(const RadianVector& positions) {
    detail::commandJointAngles(*this, core_->handId(), kModelKey, kJoints,
                               "Joint position size is not 10", positions);
}

RadianVector TovinHand::getCurrentStatusArc() {
    return detail::jointAngles(*this, core_->handId(), kModelKey);
}

void TovinHand::sendInTwoFrames(const ByteVector& values, std::uint8_t firstCode,
                                std::uint8_t secondCode, const char* sizeMessage) {
    if (values.size() != 5 && values.size() != 10) {
        detail::reportUsage(sizeMessage);
        return;
    }
    const ByteVector first = detail::commandFrame(firstCode, values.begin(), values.begin() + 5);
    if (values.size() == 5) {
        core_->caches.store(firstCode, first);
        core_->send(first);
        return;
    }
    const ByteVector second = detail::commandFrame(secondCode, values.begin() + 5, values.end());
    core_->send(first);
    core_->caches.store(firstCode, first);
    core_->send(second);
    core_->caches.store(secondCode, second);
}

void TovinHand::setTorque(const ByteVector& torques) {
    sendInTwoFrames(torques, kTorques0to4, kTorques5to9, "Torque size is not 5");
}

void TovinHand::setSpeed(const ByteVector& speeds) {
    sendInTwoFrames(speeds, kSpeeds0to4, kSpeeds5to9, "Joint speed size is not 5");
}

ByteVector TovinHand::requestPair(std::uint8_t first, std::uint8_t second, bool send) {
    if (send) {
        core_->request(first);
        core_->request(second);
    }
    return core_->caches.joinedValues({first, second});
}

ByteVector TovinHand::getCurrentStatus() {
    return requestPair(kPositions0to5, kPositions6to9, answersRequests(core_->firmwareVersion()));
}

ByteVector TovinHand::getSpeed() {
    return requestPair(kSpeeds0to4, kSpeeds5to9, answersRequests(core_->firmwareVersion()));
}

ByteVector TovinHand::getTorque() {
    return requestPair(kTorques0to4, kTorques5to9, answersRequests(core_->firmwareVersion()));
}

ByteVector TovinHand::getTemperature() {
    return requestPair(kTemperaturesA, kTemperaturesB, true);
}

ByteVector TovinHand::getFaultCode() {
    return requestPair(kFaultsA, kFaultsB, true);
}

ByteVector TovinHand::getCurrent() {
    return ByteVector(kJoints, 0);
}

ByteVector TovinHand::requestAllStatus() {
    core_->request(kAllStatus);
    return ByteVector(kJoints, 0);
}

ByteVector TovinHand::getNormalForce() {
    core_->request(kNormalForce);
    return core_->caches.frame(kNormalForce);
}

ByteVector TovinHand::getTangentialForce() {
    core_->request(kTangentialForce);
    return core_->caches.frame(kTangentialForce);
}

ByteVector TovinHand::getTangentialForceDir() {
    core_->request(kTangentialDirection);
    return core_->caches.frame(kTangentialDirection);
}

ByteVector TovinHand::getApproachInc() {
    core_->request(kApproach);
    return core_->caches.frame(kApproach);
}

std::string TovinHand::getVersion() {
    core_->request(kVersion);
    return detail::versionReportText(core_->caches.frame(kVersion));
}

ForceData TovinHand::getForce() {
    if (core_->sensors.mode() == TOUCH_TYPE_MATRIX) {
        core_->requestMatrices();
    } else {
        core_->requestSummaries(kSummaryCodes);
    }
    return core_->sensors.matrices();
}

}  // namespace hand
}  // namespace velmora
