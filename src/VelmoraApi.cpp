#include "velmora/VelmoraApi.h"

#include <condition_variable>
#include <mutex>
#include <stdexcept>

#include "detail/HandCore.h"
#include "detail/Messages.h"
#include "velmora/HandFactory.h"

using velmora::ByteVector;
using velmora::ForceData;
using velmora::RadianVector;
using velmora::factory::HandFactory;

// Counts the calls in flight, so that the destructor can let them finish before the hand goes.
struct VelmoraApi::Calls {
    std::mutex mutex;
    std::condition_variable done;
    int active = 0;
};

class VelmoraApi::CallGuard {
  public:
    explicit CallGuard(Calls& calls) : calls_(calls) {
        std::lock_guard<std::mutex> lock(calls_.mutex);
        ++calls_.active;
    }
    // Notifies under the lock: once the destructor sees no call in flight it destroys the
    // condition variable, which must then be out of every other thread's hands.
    ~CallGuard() {
        std::lock_guard<std::mutex> lock(calls_.mutex);
        --calls_.active;
        calls_.done.notify_all();
    }
    CallGuard(const CallGuard&) = delete;
    CallGuard& operator=(const CallGuard&) = delete;

  private:
    Calls& calls_;
};

namespace {
constexpr char kOnlyRavel[] = "VelmoraApi : Currently only supports Ravel !";
constexpr char kOnlyZenit[] = "VelmoraApi : Currently only supports Zenit !";

void refuse(const char* message) {
    velmora::detail::message(velmora::MessageLevel::Warning, velmora::detail::Stream::Out, message);
}
}  // namespace

VelmoraApi::VelmoraApi(const VELMORA& model_, const HAND_TYPE& side_, COMM_TYPE commType)
    : model(model_), side(side_), calls(std::make_unique<Calls>()) {
    hand = HandFactory::createHand(model, side, commType);
}

VelmoraApi::VelmoraApi(const VELMORA& model_, const HAND_TYPE& side_, std::string channel,
                       int bitRate)
    : model(model_), side(side_), calls(std::make_unique<Calls>()) {
    hand = HandFactory::createHand(model, side, channel, bitRate);
    // The factory hands back nothing for a channel that cannot carry a hand: refuse here, so
    // that no operation can ever reach a missing hand.
    if (!hand) {
        throw std::invalid_argument("Unsupported channel: " + channel);
    }
}

VelmoraApi::~VelmoraApi() {
    velmora::hand::detail::HandCoreAccess::endWaits(*hand);
    std::unique_lock<std::mutex> lock(calls->mutex);
    calls->done.wait(lock, [this] { return calls->active == 0; });
}

void VelmoraApi::fingerMove(const ByteVector& positions) {
    const CallGuard guard(*calls);
    hand->setJointPositions(positions);
}
void VelmoraApi::fingerMoveArc(const RadianVector& positions) {
    const CallGuard guard(*calls);
    hand->setJointPositionArc(positions);
}
void VelmoraApi::setSpeed(const ByteVector& speeds) {
    const CallGuard guard(*calls);
    hand->setSpeed(speeds);
}
void VelmoraApi::setTorque(const ByteVector& torques) {
    const CallGuard guard(*calls);
    hand->setTorque(torques);
}
ByteVector VelmoraApi::getSpeed() {
    const CallGuard guard(*calls);
    return hand->getSpeed();
}
ByteVector VelmoraApi::getState() {
    const CallGuard guard(*calls);
    return hand->getCurrentStatus();
}
RadianVector VelmoraApi::getStateArc() {
    const CallGuard guard(*calls);
    return hand->getCurrentStatusArc();
}
ForceData VelmoraApi::getForce() {
    const CallGuard guard(*calls);
    return hand->getForce();
}
std::string VelmoraApi::getVersion() {
    const CallGuard guard(*calls);
    return hand->getVersion();
}
ByteVector VelmoraApi::getTorque() {
    const CallGuard guard(*calls);
    return hand->getTorque();
}
ByteVector VelmoraApi::getTemperature() {
    const CallGuard guard(*calls);
    return hand->getTemperature();
}
ByteVector VelmoraApi::getFaultCode() {
    const CallGuard guard(*calls);
    return hand->getFaultCode();
}
ByteVector VelmoraApi::getCurrent() {
    const CallGuard guard(*calls);
    return hand->getCurrent();
}

velmora::hand::HandHealth VelmoraApi::health() const {
    const CallGuard guard(*calls);
    return hand->health();
}
ByteVector VelmoraApi::readState(std::chrono::milliseconds timeout) {
    const CallGuard guard(*calls);
    return hand->readState(timeout);
}
RadianVector VelmoraApi::readStateArc(std::chrono::milliseconds timeout) {
    const CallGuard guard(*calls);
    return hand->readStateArc(timeout);
}
ByteVector VelmoraApi::readFresh(velmora::hand::Reading what, std::chrono::milliseconds timeout) {
    const CallGuard guard(*calls);
    return hand->readFresh(what, timeout);
}
velmora::StampedReading VelmoraApi::readStateStamped(std::chrono::milliseconds timeout) {
    const CallGuard guard(*calls);
    return hand->readStateStamped(timeout);
}
velmora::StampedReading VelmoraApi::readFreshStamped(velmora::hand::Reading what,
                                                     std::chrono::milliseconds timeout) {
    const CallGuard guard(*calls);
    return hand->readFreshStamped(what, timeout);
}

velmora::HandIdentity VelmoraApi::identity(std::chrono::milliseconds timeout) {
    const CallGuard guard(*calls);
    return hand->identity(timeout);
}

ByteVector VelmoraApi::readStateWhile(std::chrono::milliseconds timeout,
                                      const velmora::hand::KeepWaiting& keepWaiting) {
    const CallGuard guard(*calls);
    return hand->readStateWhile(timeout, keepWaiting);
}
RadianVector VelmoraApi::readStateArcWhile(std::chrono::milliseconds timeout,
                                           const velmora::hand::KeepWaiting& keepWaiting) {
    const CallGuard guard(*calls);
    return hand->readStateArcWhile(timeout, keepWaiting);
}
ByteVector VelmoraApi::readFreshWhile(velmora::hand::Reading what,
                                      std::chrono::milliseconds timeout,
                                      const velmora::hand::KeepWaiting& keepWaiting) {
    const CallGuard guard(*calls);
    return hand->readFreshWhile(what, timeout, keepWaiting);
}

bool VelmoraApi::offers(VELMORA model, velmora::models::Setting setting) {
    using velmora::models::Setting;
    switch (setting) {
        case Setting::Currents:
        case Setting::ClearFaults:
            return model == RAVEL;
        case Setting::MotorSwitch:
            return model == ZENIT;
        case Setting::Speeds:
        case Setting::Torques:
            return velmora::models::settingCounts(model, setting) != 0;
        case Setting::Accelerations:
            break;
    }
    return false;
}

void VelmoraApi::setCurrent(const ByteVector& currents) {
    const CallGuard guard(*calls);
    offers(model, velmora::models::Setting::Currents) ? hand->setCurrent(currents)
                                                      : refuse(kOnlyRavel);
}

void VelmoraApi::clearFaultCode(const ByteVector& codes) {
    const CallGuard guard(*calls);
    offers(model, velmora::models::Setting::ClearFaults) ? hand->clearFaultCode(codes)
                                                         : refuse(kOnlyRavel);
}

void VelmoraApi::setEnable(const ByteVector& motors) {
    const CallGuard guard(*calls);
    offers(model, velmora::models::Setting::MotorSwitch) ? hand->setMotorEnable(motors)
                                                         : refuse(kOnlyZenit);
}

void VelmoraApi::setDisable(const ByteVector& motors) {
    const CallGuard guard(*calls);
    offers(model, velmora::models::Setting::MotorSwitch) ? hand->setMotorDisable(motors)
                                                         : refuse(kOnlyZenit);
}
