#include "velmora/IHand.h"

#include <chrono>

#include "detail/HandCore.h"
#include "detail/LocalTime.h"

namespace velmora {
namespace hand {

namespace {
[[noreturn]] void refuse(const char* operation) {
    throw UnsupportedFeatureException(operation);
}
}  // namespace

IHand::~IHand() = default;

void IHand::setJointPositionArc(const RadianVector&) {
    refuse("setJointPositionArc");
}
ByteVector IHand::getSpeed() {
    refuse("getSpeed");
}
void IHand::setSpeed(const ByteVector&) {
    refuse("setSpeed");
}
ByteVector IHand::getCurrentStatus() {
    refuse("getCurrentStatus");
}
RadianVector IHand::getCurrentStatusArc() {
    refuse("getCurrentStatusArc");
}
ByteVector IHand::getFaultCode() {
    refuse("getFaultCode");
}
ByteVector IHand::getCurrent() {
    refuse("getCurrent");
}
ByteMatrix IHand::getForce(std::int32_t) {
    refuse("getForce");
}
ForceData IHand::getForce() {
    refuse("getForce");
}
ByteVector IHand::getThumbForce() {
    refuse("getThumbForce");
}
ByteVector IHand::getIndexForce() {
    refuse("getIndexForce");
}
ByteVector IHand::getMiddleForce() {
    refuse("getMiddleForce");
}
ByteVector IHand::getRingForce() {
    refuse("getRingForce");
}
ByteVector IHand::getLittleForce() {
    refuse("getLittleForce");
}
ByteVector IHand::getNormalForce() {
    refuse("getNormalForce");
}
ByteVector IHand::getTangentialForce() {
    refuse("getTangentialForce");
}
ByteVector IHand::getTangentialForceDir() {
    refuse("getTangentialForceDir");
}
ByteVector IHand::getApproachInc() {
    refuse("getApproachInc");
}
void IHand::setTorque(const ByteVector&) {
    refuse("setTorque");
}
ByteVector IHand::getTorque() {
    refuse("getTorque");
}
ByteVector IHand::getTemperature() {
    refuse("getTemperature");
}
std::string IHand::getVersion() {
    refuse("getVersion");
}
ByteVector IHand::getUID() {
    refuse("getUID");
}
ByteVector IHand::getRotorLockCount() {
    refuse("getRotorLockCount");
}
void IHand::clearFaultCode(const ByteVector&) {
    refuse("clearFaultCode");
}
void IHand::setCurrent(const ByteVector&) {
    refuse("setCurrent");
}
void IHand::setMotorEnable(const ByteVector&) {
    refuse("setMotorEnable");
}
void IHand::setMotorDisable(const ByteVector&) {
    refuse("setMotorDisable");
}

ByteVector IHand::getSubVector(const ByteVector& reply) {
    if (reply.size() > 1) {
        return ByteVector(reply.begin() + 1, reply.end());
    }
    return {};
}

ByteVector IHand::getSubVector(const ByteVector& first, const ByteVector& second) {
    ByteVector joined = getSubVector(first);
    ByteVector tail = getSubVector(second);
    joined.insert(joined.end(), tail.begin(), tail.end());
    return joined;
}

std::string IHand::getCurrentTime() {
    return velmora::detail::formatLocalTime(std::chrono::system_clock::now());
}

detail::HandCore* IHand::handCore() const noexcept {
    return nullptr;
}

HandHealth IHand::health() const {
    if (const detail::HandCore* core = handCore()) {
        return core->health();
    }
    refuse("health");
}

std::optional<std::chrono::nanoseconds> IHand::replyAge(std::uint8_t code) const {
    if (const detail::HandCore* core = handCore()) {
        return core->caches.replyAge(code);
    }
    refuse("replyAge");
}

ByteVector IHand::readFresh(Reading what, std::chrono::milliseconds timeout) {
    if (detail::HandCore* core = handCore()) {
        return core->readFresh(what, timeout);
    }
    refuse("readFresh");
}

StampedReading IHand::readFreshStamped(Reading what, std::chrono::milliseconds timeout) {
    if (detail::HandCore* core = handCore()) {
        return core->readFreshStamped(what, timeout);
    }
    refuse("readFreshStamped");
}

StampedReading IHand::readStateStamped(std::chrono::milliseconds timeout) {
    return readFreshStamped(Reading::Positions, timeout);
}

ByteVector IHand::readState(std::chrono::milliseconds timeout) {
    return readFresh(Reading::Positions, timeout);
}

RadianVector IHand::readStateArc(std::chrono::milliseconds timeout) {
    detail::HandCore* core = handCore();
    if (!core) {
        refuse("readStateArc");
    }
    return core->toAngles(readState(timeout));
}

HandIdentity IHand::identity(std::chrono::milliseconds timeout) {
    if (detail::HandCore* core = handCore()) {
        return core->identity(timeout);
    }
    refuse("identity");
}

ByteVector IHand::readFreshWhile(Reading what, std::chrono::milliseconds timeout,
                                 const KeepWaiting& keepWaiting) {
    if (detail::HandCore* core = handCore()) {
        return core->readFresh(what, timeout, keepWaiting ? &keepWaiting : nullptr);
    }
    return readFresh(what, timeout);
}

ByteVector IHand::readStateWhile(std::chrono::milliseconds timeout,
                                 const KeepWaiting& keepWaiting) {
    return readFreshWhile(Reading::Positions, timeout, keepWaiting);
}

RadianVector IHand::readStateArcWhile(std::chrono::milliseconds timeout,
                                      const KeepWaiting& keepWaiting) {
    detail::HandCore* core = handCore();
    if (!core) {
        return readStateArc(timeout);
    }
    return core->toAngles(readStateWhile(timeout, keepWaiting));
}

}  // namespace hand
}  // namespace velmora
