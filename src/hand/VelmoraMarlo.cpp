#include "velmora/VelmoraMarlo.h"

#include <thread>

#include "detail/HandCore.h"
#include "velmora/Protocol.h"

namespace velmora {
namespace hand {

namespace {

using protocol::Quantity;
using namespace protocol::marlo;
constexpr detail::HandCore::SummaryCodes kSummaryCodes = detail::HandCore::summaryCodes(MARLO);
// Finger 0's matrix code alone: matrix sensors announce themselves with a three-byte reply.
constexpr std::uint8_t kSensorProbe = protocol::codeOf(MARLO, Quantity::Matrix, 0);

constexpr std::size_t kJoints = models::info(MARLO).slots;
constexpr int kModelKey = protocol::angleTableKey(MARLO);
// The hand needs this long to answer a request.
constexpr auto kReplyWait = std::chrono::milliseconds(10);

}  // namespace

MarloHand::MarloHand(std::uint32_t handId, const std::string& canChannel, int bitrate)
    : core_(std::make_unique<detail::HandCore>(handId, canChannel, bitrate, MARLO)) {
    core_->defineReading(Reading::Positions, detail::joinedReading(*core_, {kPositions}, kJoints));
    core_->defineReading(Reading::Speeds, detail::joinedReading(*core_, {kSpeeds}, kJoints));
    core_->defineReading(Reading::Torques, detail::joinedReading(*core_, {kTorques}, kJoints));
    core_->defineReading(Reading::Temperatures, detail::joinedReading(*core_, {kTemperatures}));
    core_->defineReading(Reading::Faults, detail::joinedReading(*core_, {kFaults}));
    core_->setModelKey(kModelKey);
    core_->startReceiving([this](const ByteVector& frame) { receiveResponse(frame); });
    core_->request(kVersion);
    core_->request(kSensorProbe);
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
}

MarloHand::~MarloHand() {
    core_->stopReceiving();
}

detail::HandCore* MarloHand::handCore() const noexcept {
    return core_.get();
}

void MarloHand::receiveResponse(const ByteVector& frame) {
    const std::uint8_t code = frame[0];
    if (detail::FingertipSensors::isMatrixCode(code)) {
        core_->storeMatrixFrame(frame);
        return;
    }
    switch (code) {
        case kPositions:
        case kTorques:
        case kSpeeds:
        case kNormalForce:
        case kTangentialForce:
        case kTangentialDirection:
        case kApproach:
        case kTemperatures:
        case kFaults:
        case kVersion:
            core_->caches.storeReply(code, frame);
            break;
        case kSensorKind:
            core_->sensors.onKindReport(frame);
            break;
        default:
            core_->storeSummary(kSummaryCodes, frame);  // other codes are dropped
            break;
    }
}

void MarloHand::setJointPositions(const ByteVector& positions) {
    if (positions.size() != kJoints) {
        detail::reportUsage("Joint position size is not 7");
        return;
    }
    core_->send(detail::commandFrame(kPositions, positions));
}

void MarloHand::setJointPositionArc(const RadianVector& positions) {
    detail::commandJointAngles(*this, core_->handId(), kModelKey, kJoints,
                               "Joint position size is not 7", positions);
}

RadianVector MarloHand::getCurrentStatusArc() {
    return detail::jointAngles(*this, core_->handId(), kModelKey);
}

void MarloHand::setTorque(const ByteVector& torques) {
    if (torques.size() != kJoints) {
        detail::reportUsage("Torque size is not 7");
        return;
    }
    core_->send(detail::commandFrame(kTorques, torques));
}

void MarloHand::setSpeed(const ByteVector& speeds) {
    if (speeds.size() != kJoints) {
        detail::reportUsage("Joint speed size is not 7");
        return;
    }
    const ByteVector frame = detail::commandFrame(kSpeeds, speeds);
    core_->caches.store(kSpeeds, frame);
    core_->send(frame);
}

ByteVector MarloHand::requestAndRead(std::uint8_t code) {
    core_->request(code);
    std::this_thread::sleep_for(kReplyWait);
    return core_->caches.values(code);
}

ByteVector MarloHand::getCurrentStatus() {
    return requestAndRead(kPositions);
}
ByteVector MarloHand::getTorque() {
    return requestAndRead(kTorques);
}
ByteVector MarloHand::getSpeed() {
    return requestAndRead(kSpeeds);
}
ByteVector MarloHand::getNormalForce() {
    return requestAndRead(kNormalForce);
}
ByteVector MarloHand::getTangentialForce() {
    return requestAndRead(kTangentialForce);
}
ByteVector MarloHand::getTangentialForceDir() {
    return requestAndRead(kTangentialDirection);
}
ByteVector MarloHand::getApproachInc() {
    return requestAndRead(kApproach);
}
ByteVector MarloHand::getTemperature() {
    return requestAndRead(kTemperatures);
}
ByteVector MarloHand::getFaultCode() {
    return requestAndRead(kFaults);
}

std::string MarloHand::getVersion() {
    core_->request(kVersion);
    std::this_thread::sleep_for(kReplyWait);
    return detail::versionReportText(core_->caches.frame(kVersion));
}

ForceData MarloHand::getForce() {
    if (core_->sensors.mode() == TOUCH_TYPE_MATRIX) {
        core_->requestMatrices();
    } else {
        core_->requestSummaries(kSummaryCodes);
    }
    std::this_thread::sleep_for(kReplyWait);
    return core_->sensors.matrices();
}

}  // namespace hand
}  // namespace velmora
