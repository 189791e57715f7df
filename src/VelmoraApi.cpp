#include "velmora/VelmoraApi.h"

#include <stdexcept>

#include "detail/Messages.h"
#include "velmora/HandFactory.h"

using velmora::ByteVector;
using velmora::ForceData;
using velmora::RadianVector;
using velmora::factory::HandFactory;

namespace {
constexpr char kOnlyRavel[] = "VelmoraApi : Currently only supports Ravel !";
constexpr char kOnlyZenit[] = "VelmoraApi : Currently only supports Zenit !";

void refuse(const char* message) {
    velmora::detail::message(velmora::MessageLevel::Warning, velmora::detail::Stream::Out, message);
}
}  // namespace

VelmoraApi::VelmoraApi(const VELMORA& model_, const HAND_TYPE& side_, COMM_TYPE commType)
    : model(model_), side(side_) {
    hand = HandFactory::createHand(model, side, commType);
}

VelmoraApi::VelmoraApi(const VELMORA& model_, const HAND_TYPE& side_, std::string channel,
                       int bitRate)
    : model(model_), side(side_) {
    hand = HandFactory::createHand(model, side, channel, bitRate);
    // The factory hands back nothing for a channel that cannot carry a hand: refuse here, so
    // that no operation can ever reach a missing hand.
    if (!hand) {
        throw std::invalid_argument("Unsupported channel: " + channel);
    }
}

VelmoraApi::~VelmoraApi() = default;

void VelmoraApi::fingerMove(const ByteVector& positions) {
    hand->setJointPositions(positions);
}
void VelmoraApi::fingerMoveArc(const RadianVector& positions) {
    hand->setJointPositionArc(positions);
}
void VelmoraApi::setSpeed(const ByteVector& speeds) {
    hand->setSpeed(speeds);
}
void VelmoraApi::setTorque(const ByteVector& torques) {
    hand->setTorque(torques);
}
ByteVector VelmoraApi::getSpeed() {
    return hand->getSpeed();
}
ByteVector VelmoraApi::getState() {
    return hand->getCurrentStatus();
}
RadianVector VelmoraApi::getStateArc() {
    return hand->getCurrentStatusArc();
}
ForceData VelmoraApi::getForce() {
    return hand->getForce();
}
std::string VelmoraApi::getVersion() {
    return hand->getVersion();
}
ByteVector VelmoraApi::getTorque() {
    return hand->getTorque();
}
ByteVector VelmoraApi::getTemperature() {
    return hand->getTemperature();
}
ByteVector VelmoraApi::getFaultCode() {
    return hand->getFaultCode();
}
ByteVector VelmoraApi::getCurrent() {
    return hand->getCurrent();
}

velmora::hand::HandHealth VelmoraApi::health() const {
    return hand->health();
}
ByteVector VelmoraApi::readState(std::chrono::milliseconds timeout) {
    return hand->readState(timeout);
}
RadianVector VelmoraApi::readStateArc(std::chrono::milliseconds timeout) {
    return hand->readStateArc(timeout);
}
ByteVector VelmoraApi::readFresh(velmora::hand::Reading what, std::chrono::milliseconds timeout) {
    return hand->readFresh(what, timeout);
}

void VelmoraApi::setCurrent(const ByteVector& currents) {
    model == RAVEL ? hand->setCurrent(currents) : refuse(kOnlyRavel);
}

void VelmoraApi::clearFaultCode(const ByteVector& codes) {
    model == RAVEL ? hand->clearFaultCode(codes) : refuse(kOnlyRavel);
}

void VelmoraApi::setEnable(const ByteVector& motors) {
    model == ZENIT ? hand->setMotorEnable(motors) : refuse(kOnlyZenit);
}

void VelmoraApi::setDisable(const ByteVector& motors) {
    model == ZENIT ? hand->setMotorDisable(motors) : refuse(kOnlyZenit);
}
