// The 25-joint hand's side of the wire (also its 21-joint variant). The hand keeps joint state
// per finger, six slots per finger; commands of speeds and torques come in the 25-joint order.
#include "Protocol.h"

#include <functional>

namespace velmora {
namespace sim {

namespace {

using protocol::kNoJoint;
using protocol::kSlotsPerFinger;
constexpr const int (&kSlotJoint)[30] = protocol::kZenitSlotJoint;

class ZenitProtocol : public Protocol {
  public:
    using Protocol::Protocol;

    void handle(const ByteVector& f, Frames& out) override {
        const std::uint8_t code = f[0];
        const bool request = f.size() == 1;
        if (code >= 0x41 && code <= 0x45) {
            const std::size_t finger = code - 0x41u;
            if (request) {
                out.push_back(frame(code, fingerSlots(finger, &HandBody::positions)));
            } else {
                for (std::size_t s = 0; s < kSlotsPerFinger && s + 1 < f.size(); ++s) {
                    const int joint = kSlotJoint[finger * kSlotsPerFinger + s];
                    if (joint != kNoJoint)
                        body_.setTargets(static_cast<std::size_t>(joint), {f[s + 1]});
                }
            }
        } else if (code >= 0x49 && code <= 0x4D) {
            request ? out.push_back(frame(code, fingerSlots(code - 0x49u, &HandBody::speeds)))
                    : body_.setSpeeds((code - 0x49u) * 5, payload(f));
        } else if (code >= 0x51 && code <= 0x55) {
            request ? out.push_back(frame(code, fingerSlots(code - 0x51u, &HandBody::torques)))
                    : body_.setTorques((code - 0x51u) * 5, payload(f));
        } else if (code >= 0x59 && code <= 0x5D) {
            out.push_back(frame(code, fingerSlots(code - 0x59u, &HandBody::faults)));
        } else if (code >= 0x61 && code <= 0x65) {
            out.push_back(frame(code, fingerSlots(code - 0x61u, &HandBody::temperatures)));
        } else if (code >= 0x90 && code <= 0x93) {
            out.push_back(frame(code, forcePerFinger(code - 0x90u)));
        } else if (code >= 0xB1 && code <= 0xB5) {
            answerMatrixCode(f, false, out);
        } else {
            handleDevice(f, out);
        }
    }

  private:
    void handleDevice(const ByteVector& f, Frames& out) {
        switch (f[0]) {
            case 0x85:  // motor enable and disable share the code: byte 1 says which
                body_.setEnabled(f.size() < 2 || f[1] != 0);
                break;
            case 0xB0:
                out.push_back({0xB0, sensorKind()});
                break;
            case 0xC0:
                out.push_back({0xC0, 0x5A, 0x4E, 0x54, 0x00, 0x02, 0x19, 0x07});
                break;
            case 0xC1:  // software version, four numbers
                out.push_back({0xC1, static_cast<std::uint8_t>(config_.softwareVersion >> 4),
                               static_cast<std::uint8_t>(config_.softwareVersion & 0x0F), 0, 1});
                break;
            case 0xC2:
                out.push_back({0xC2, static_cast<std::uint8_t>(config_.hardwareVersion >> 4),
                               static_cast<std::uint8_t>(config_.hardwareVersion & 0x0F), 0, 0});
                break;
            case 0xC3:
                out.push_back({0xC3, static_cast<std::uint8_t>(config_.handId)});
                break;
            case 0xCE:
                body_.reset();
                break;
            default:
                break;  // 0xCF (parameters saved) and the per-finger force reads: no reply
        }
    }

    // The finger's six state slots of a per-joint quantity; slots without a joint are 0.
    ByteVector fingerSlots(std::size_t finger, Reader read) const {
        const ByteVector all = std::invoke(read, body_, 0, body_.joints());
        ByteVector slots(kSlotsPerFinger, 0);
        for (std::size_t s = 0; s < kSlotsPerFinger; ++s) {
            const int joint = kSlotJoint[finger * kSlotsPerFinger + s];
            if (joint != kNoJoint)
                slots[s] = all[static_cast<std::size_t>(joint)];
        }
        return slots;
    }
};

}  // namespace

std::unique_ptr<Protocol> makeZenitProtocol(HandBody& body, const SimConfig& config) {
    return std::make_unique<ZenitProtocol>(body, config);
}

}  // namespace sim
}  // namespace velmora
