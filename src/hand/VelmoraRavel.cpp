#include "velmora/VelmoraRavel.h"

#include <sstream>
#include <thread>

#include "detail/HandCore.h"
#include "velmora/Protocol.h"

namespace velmora {
namespace hand {

namespace {

using protocol::Quantity;
using namespace protocol::ravel;
constexpr detail::HandCore::SummaryCodes kSummaryCodes = detail::HandCore::summaryCodes(RAVEL);
// Finger 0's matrix code alone: matrix sensors announce themselves with a three-byte reply.
constexpr std::uint8_t kSensorProbe = protocol::codeOf(RAVEL, Quantity::Matrix, 0);

// Sensors that answer one request per finger with a single summary row.
constexpr std::uint8_t kSummarySensors = protocol::kSummarySensors;

constexpr std::size_t kJoints = models::info(RAVEL).slots;
constexpr std::size_t kJointsPerFrame = 5;
static_assert(protocol::carriesJoints(RAVEL, kPositions0to4, 0, kJointsPerFrame) &&
                  protocol::carriesJoints(RAVEL, kPositions5to9, 5, kJointsPerFrame) &&
                  protocol::carriesJoints(RAVEL, kPositions10to14, 10, kJointsPerFrame) &&
                  protocol::carriesJoints(RAVEL, kPositions15to19, 15, kJointsPerFrame),
              "the 20-joint hand's position frames split the joints unlike its command table");
constexpr int kModelKey = protocol::angleTableKey(RAVEL);

}  // namespace

RavelHand::RavelHand(std::uint32_t handId, const std::string& canChannel, int bitrate)
    : core_(std::make_unique<detail::HandCore>(handId, canChannel, bitrate, RAVEL)) {
    core_->defineReading(
        Reading::Positions,
        detail::joinedReading(
            *core_, {kPositions0to4, kPositions5to9, kPositions10to14, kPositions15to19}, kJoints));
    core_->defineReading(Reading::Speeds, detail::joinedReading(*core_, {kSpeeds}));
    core_->defineReading(Reading::Currents, detail::joinedReading(*core_, {kCurrents}));
    core_->defineReading(Reading::Faults, detail::joinedReading(*core_, {kFaults}));
    core_->setModelKey(kModelKey);
    core_->startReceiving([this](const ByteVector& frame) { receiveResponse(frame); });
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    core_->request(kSensorKind);
    core_->request(kSensorProbe);
}

RavelHand::~RavelHand() {
    core_->stopReceiving();
}

detail::HandCore* RavelHand::handCore() const noexcept {
    return core_.get();
}

void RavelHand::receiveResponse(const ByteVector& frame) {
    const std::uint8_t code = frame[0];
    if (detail::FingertipSensors::isMatrixCode(code)) {
        core_->storeMatrixFrame(frame);
        return;
    }
    switch (code) {
        case kPositions0to4:
        case kPositions5to9:
        case kPositions10to14:
        case kPositions15to19:
        case kSpeeds:
        case kCurrents:
        case kFaults:
        case kRotorLocks:
        case kNormalForce:
        case kTangentialForce:
        case kTangentialDirection:
        case kApproach:
        case kUid:
        case kHardwareVersion:
        case kSoftwareVersion:
        case kDirection:
            core_->caches.storeReply(code, frame);
            break;
        case kSensorKind:
            // This hand's report is taken as it comes; kinds the model does not know make
            // getForce return nothing.
            if (frame.size() > 1) {
                core_->sensors.setMode(frame[1]);
            }
            break;
        default:
            core_->storeSummary(kSummaryCodes, frame);  // other codes are dropped
            break;
    }
}

void RavelHand::setJointPositions(const ByteVector& positions) {
    if (positions.size() != kJoints) {
        detail::reportUsage("Joint position size is not 20");
        return;
    }
    const auto group = [&](std::uint8_t code, std::size_t first) {
        const auto from = positions.begin() + static_cast<std::ptrdiff_t>(first);
        return detail::commandFrame(code, from, from + kJointsPerFrame);
    };
    // The hand expects joints 10 to 19 before joints 0 to 9.
    core_->send(group(kPositions10to14, 10));
    core_->send(group(kPositions15to19, 15));
    core_->send(group(kPositions0to4, 0));
    core_->send(group(kPositions5to9, 5));
}

void RavelHand::setJointPositionArc(const RadianVector& positions) {
    detail::commandJointAngles(*this, core_->handId(), kModelKey, kJoints,
                               "Joint position size is not 20", positions);
}

RadianVector RavelHand::getCurrentStatusArc() {
    return detail::jointAngles(*this, core_->handId(), kModelKey);
}

void RavelHand::sendFiveValues(std::uint8_t code, const ByteVector& values,
                               const char* sizeMessage) {
    if (values.size() != kJointsPerFrame) {
        detail::reportUsage(sizeMessage);
        return;
    }
    core_->send(detail::commandFrame(code, values));
}

void RavelHand::setSpeed(const ByteVector& speeds) {
    sendFiveValues(kSpeeds, speeds, "Speed size is not 5");
}

void RavelHand::setCurrent(const ByteVector& currents) {
    sendFiveValues(kCurrents, currents, "Current size is not 5");
}

void RavelHand::clearFaultCode(const ByteVector& codes) {
    sendFiveValues(kFaults, codes, "clearFaultCode size is not 5");
}

ByteVector RavelHand::requestValues(std::uint8_t code) {
    core_->request(code);
    return core_->caches.values(code);
}

ByteVector RavelHand::requestFrame(std::uint8_t code) {
    core_->request(code);
    return core_->caches.frame(code);
}

ByteVector RavelHand::getSpeed() {
    return requestValues(kSpeeds);
}
ByteVector RavelHand::getCurrent() {
    return requestValues(kCurrents);
}
ByteVector RavelHand::getFaultCode() {
    return requestValues(kFaults);
}
ByteVector RavelHand::getUID() {
    return requestValues(kUid);
}
ByteVector RavelHand::getRotorLockCount() {
    return requestValues(kRotorLocks);
}

ByteVector RavelHand::getNormalForce() {
    return requestFrame(kNormalForce);
}
ByteVector RavelHand::getTangentialForce() {
    return requestFrame(kTangentialForce);
}
ByteVector RavelHand::getTangentialForceDir() {
    return requestFrame(kTangentialDirection);
}
ByteVector RavelHand::getApproachInc() {
    return requestFrame(kApproach);
}

ByteVector RavelHand::getCurrentStatus() {
    core_->request(kPositions0to4);
    core_->request(kPositions5to9);
    core_->request(kPositions10to14);
    core_->request(kPositions15to19);
    return core_->caches.joinedValues(
        {kPositions0to4, kPositions5to9, kPositions10to14, kPositions15to19});
}

ForceData RavelHand::getForce() {
    switch (core_->sensors.mode()) {
        case TOUCH_TYPE_MATRIX:
            core_->requestMatrices();
            return core_->sensors.matrices();
        case kSummarySensors:
            core_->requestSummaries(kSummaryCodes);
            return core_->sensors.matrices();
        default:
            return {};
    }
}

std::string RavelHand::getVersion() {
    core_->request(kHardwareVersion);
    core_->request(kSoftwareVersion);
    core_->request(kDirection);
    return core_->caches.locked([](detail::ReplyCaches::View& caches) {
        std::ostringstream text;
        const ByteVector& software = caches.frame(kSoftwareVersion);
        if (software.size() < 2) {
            return text.str();
        }
        const ByteVector& direction = caches.frame(kDirection);
        if (direction.size() > 1 && direction[1] == RIGHT) {
            text << "Hand direction: Right hand\n";
        } else if (direction.size() > 1 && direction[1] == LEFT) {
            text << "Hand direction: Left hand\n";
        }
        text << "Software Version: " << protocol::versionNumber(software[1]) << "\n";
        // Until the hand has sent its hardware version there is nothing to show for it.
        const ByteVector& hardware = caches.frame(kHardwareVersion);
        if (hardware.size() > 1) {
            text << "Hardware Version: " << protocol::versionNumber(hardware[1]) << "\n";
        }
        return text.str();
    });
}

}  // namespace hand
}  // namespace velmora
