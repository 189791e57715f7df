// Any vector to any setter of any model: the argument checks either refuse it or send frames
// that fit the bus, to the hand's identifier, and a bounded number of them.
//
// Input: a model byte, a setter byte, then the vector (bytes, or doubles of eight bytes each for
// the radian setter).
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "FuzzInput.h"
#include "velmora/HandFactory.h"
#include "velmora/velmora.h"

using namespace velmora;
using velmora::hand::IHand;

namespace {

constexpr VELMORA kModels[] = {KESTA, MARLO, TOVIN, RAVEL, SABRE, ZENIT};
constexpr std::size_t kModelCount = sizeof kModels / sizeof kModels[0];
// The longest command: five frames of the 25-joint hand.
constexpr std::size_t kMostFramesPerCall = 5;

struct Station {
    std::unique_ptr<communication::VirtualCanBus> peer;
    std::unique_ptr<IHand> hand;
};

std::vector<Station>& stations() {
    static std::vector<Station> all = [] {
        fuzz::silenceLibrary();
        std::vector<Station> made;
        for (VELMORA model : kModels) {
            const std::string bus = "can.fuzz.commands." + std::to_string(model);
            Station s;
            s.peer = std::make_unique<communication::VirtualCanBus>(bus);
            s.peer->setReceiveTimeout(0, 1);
            s.hand = factory::HandFactory::createHand(model, RIGHT, "virtual:" + bus, 1000000);
            made.push_back(std::move(s));
        }
        for (Station& s : made) {
            while (true) {
                try {
                    s.peer->recv(RIGHT);
                } catch (const std::runtime_error&) {
                    break;
                }
            }
        }
        return made;
    }();
    return all;
}

using ByteSetter = void (IHand::*)(const ByteVector&);
constexpr ByteSetter kByteSetters[] = {
    &IHand::setJointPositions, &IHand::setSpeed,       &IHand::setTorque,       &IHand::setCurrent,
    &IHand::clearFaultCode,    &IHand::setMotorEnable, &IHand::setMotorDisable,
};
constexpr std::size_t kByteSetterCount = sizeof kByteSetters / sizeof kByteSetters[0];

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::Reader in(data, size);
    const std::size_t which = in.byte() % kModelCount;
    Station& station = stations()[which];
    IHand& hand = *station.hand;
    const std::uint8_t setter = in.byte() % (kByteSetterCount + 2);

    try {
        if (setter < kByteSetterCount) {
            (hand.*kByteSetters[setter])(in.rest());
        } else if (setter == kByteSetterCount) {
            hand.setJointPositionArc(in.restAsDoubles());
        } else if (kModels[which] == KESTA) {
            dynamic_cast<hand::KestaHand&>(hand).setAcceleration(in.rest());
        }
    } catch (const UnsupportedFeatureException&) {
    }

    std::size_t frames = 0;
    while (true) {
        communication::CanMessage message;
        try {
            message = station.peer->recv(RIGHT);
        } catch (const std::runtime_error&) {
            break;
        }
        ++frames;
        if (message.id != RIGHT || message.len > 8) {
            fuzz::violated("every frame fits the bus and goes to the hand");
        }
    }
    if (frames > kMostFramesPerCall) {
        fuzz::violated("one call sends at most five frames");
    }
    return 0;
}
