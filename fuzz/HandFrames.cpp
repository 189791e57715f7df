// Arbitrary frame sequences into one hand model's frame handling, exactly as its receive thread
// hands them over, interleaved with the model's getters. Built once per model
// (VELMORA_FUZZ_MODEL).
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "FuzzInput.h"
#include "detail/HandCore.h"
#include "velmora/HandFactory.h"
#include "velmora/velmora.h"

#ifndef VELMORA_FUZZ_MODEL
#error "VELMORA_FUZZ_MODEL names the hand model"
#endif

using namespace velmora;
using velmora::hand::HandHealth;
using velmora::hand::IHand;
using velmora::hand::Reading;

namespace {

constexpr VELMORA kModel = VELMORA_FUZZ_MODEL;
// The 7-joint hand waits 10 ms for the answer in every getter.
constexpr int kGetterBudget = kModel == MARLO ? 1 : 8;

using Getter = std::function<void(IHand&)>;

std::vector<Getter> getters() {
    std::vector<Getter> list = {
        [](IHand& h) { h.getSpeed(); },
        [](IHand& h) { h.getCurrentStatus(); },
        [](IHand& h) { h.getCurrentStatusArc(); },
        [](IHand& h) { h.getFaultCode(); },
        [](IHand& h) { h.getCurrent(); },
        [](IHand& h) { h.getForce(); },
        [](IHand& h) { h.getForce(0); },
        [](IHand& h) { h.getForce(1); },
        [](IHand& h) { h.getThumbForce(); },
        [](IHand& h) { h.getIndexForce(); },
        [](IHand& h) { h.getMiddleForce(); },
        [](IHand& h) { h.getRingForce(); },
        [](IHand& h) { h.getLittleForce(); },
        [](IHand& h) { h.getNormalForce(); },
        [](IHand& h) { h.getTangentialForce(); },
        [](IHand& h) { h.getTangentialForceDir(); },
        [](IHand& h) { h.getApproachInc(); },
        [](IHand& h) { h.getTorque(); },
        [](IHand& h) { h.getTemperature(); },
        [](IHand& h) { h.getVersion(); },
        [](IHand& h) { h.getUID(); },
        [](IHand& h) { h.getRotorLockCount(); },
        [](IHand& h) { h.health(); },
        [](IHand& h) { h.replyAge(0x01); },
        [](IHand& h) { h.readFresh(Reading::Positions, std::chrono::milliseconds(0)); },
        [](IHand& h) { h.readFresh(Reading::Faults, std::chrono::milliseconds(0)); },
        [](IHand& h) { h.readStateArc(std::chrono::milliseconds(0)); },
    };
    if (kModel == KESTA) {
        list.push_back([](IHand& h) { dynamic_cast<hand::KestaHand&>(h).getAcceleration(); });
        list.push_back([](IHand& h) { dynamic_cast<hand::KestaHand&>(h).getSerialNumber(); });
        list.push_back([](IHand& h) { dynamic_cast<hand::KestaHand&>(h).getHardwareVersion(); });
        list.push_back([](IHand& h) { dynamic_cast<hand::KestaHand&>(h).getMechanicalVersion(); });
    }
    if (kModel == ZENIT || kModel == SABRE) {
        list.push_back([](IHand& h) { dynamic_cast<hand::ZenitHand&>(h).getCommID(); });
    }
    return list;
}

struct Fixture {
    std::unique_ptr<IHand> hand;
    std::vector<Getter> getters;
};

Fixture& fixture() {
    static Fixture f = [] {
        fuzz::silenceLibrary();
        Fixture made;
        made.hand = factory::HandFactory::createHand(
            kModel, RIGHT, "virtual:can.fuzz." + std::to_string(kModel), 1000000);
        made.getters = getters();
        return made;
    }();
    return f;
}

std::uint64_t framesCounted(const IHand& hand) {
    const HandHealth h = hand.health();
    return h.framesReceived + h.framesIgnored;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Fixture& f = fixture();
    IHand& hand = *f.hand;
    fuzz::Reader in(data, size);
    const std::uint64_t countedBefore = framesCounted(hand);
    std::uint64_t delivered = 0;
    int budget = kGetterBudget;

    while (!in.empty()) {
        const std::uint8_t head = in.byte();
        if (head & fuzz::kGetterRecord) {
            if (budget-- > 0) {
                try {
                    f.getters[(head & 0x7F) % f.getters.size()](hand);
                } catch (const HandException&) {
                    // Operations a model lacks, fresh reads without a fresh reply.
                }
            }
            continue;
        }
        communication::CanMessage message;
        switch (head & 0x03) {
            case 0:
                message.id = RIGHT;
                break;
            case 1:
                message.id = LEFT;
                break;
            case 2:
                message.id = 0;
                break;
            default:
                message.id = in.u32();
                break;
        }
        message.len = static_cast<std::uint8_t>((head >> 2) & fuzz::kMaxReportedLength);
        const ByteVector payload = in.bytes(message.len < 8 ? message.len : 8);
        std::copy(payload.begin(), payload.end(), message.data.begin());
        hand::detail::HandCoreAccess::deliver(hand, message);
        ++delivered;
    }

    // No other node is on this bus: every frame counted is one delivered here.
    if (framesCounted(hand) - countedBefore != delivered) {
        fuzz::violated("health() counts a frame for every frame delivered");
    }
    return 0;
}
