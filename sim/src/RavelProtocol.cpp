// The 20-joint hand's side of the wire. Joints come in four groups of five (one joint of each
// finger per group); speeds, currents and faults are per finger.
#include "Protocol.h"

#include <algorithm>
#include <functional>

namespace velmora {
namespace sim {

namespace {

constexpr std::size_t kGroup = 5;

class RavelProtocol : public Protocol {
  public:
    using Protocol::Protocol;

    void handle(const ByteVector& f, Frames& out) override {
        if (handleJointCommand(f, out))
            return;
        const std::uint8_t code = f[0];
        const bool request = f.size() == 1;
        switch (code) {
            case 0x05:
                request ? out.push_back(frame(code, body_.speeds(0, kGroup)))
                        : perFinger(payload(f), &HandBody::setSpeeds);
                break;
            case 0x06:
                request ? out.push_back(frame(code, fingerMaximum(&HandBody::currents)))
                        : perFinger(payload(f), &HandBody::setCurrentLimits);
                break;
            case 0x07:
                request ? out.push_back(frame(code, fingerMaximum(&HandBody::faults)))
                        : body_.clearFaults();
                break;
            case 0x08:
                out.push_back(frame(code, fingerMaximum(&HandBody::rotorLocks)));
                break;
            case 0x20:
            case 0x21:
            case 0x22:
            case 0x23:
                out.push_back(frame(code, forcePerFinger(code - 0x20u)));
                break;
            case 0x30:
            case 0x31:
            case 0x32:
            case 0x33:
            case 0x34:
                if (config_.sensor == SensorKind::Summary) {
                    out.push_back(frame(code, body_.fingerSummary(code - 0x30u)));
                }
                break;
            case 0xB0:
                out.push_back({0xB0, sensorKind()});
                break;
            case 0xB1:
            case 0xB2:
            case 0xB3:
            case 0xB4:
            case 0xB5:
                answerMatrixCode(f, false, out);
                break;
            case 0xC0:
                out.push_back({0xC0, 0x52, 0x56, 0x4C, 0x20, 0x00, 0x01, 0x2A});
                break;
            case 0xC1:
                out.push_back({0xC1, config_.hardwareVersion});
                break;
            case 0xC2:
                out.push_back({0xC2, config_.softwareVersion});
                break;
            case 0xC3:
                out.push_back({0xC3, static_cast<std::uint8_t>(config_.handId)});
                break;
            default:
                break;
        }
    }

  private:
    // Value v of finger f applies to the finger's joint in every group (std::invoke: see
    // readOrWrite).
    void perFinger(const ByteVector& values, Writer set) {
        for (std::size_t finger = 0; finger < std::min(values.size(), kGroup); ++finger) {
            for (std::size_t group = 0; group < 4; ++group) {
                std::invoke(set, body_, group * kGroup + finger, ByteVector{values[finger]});
            }
        }
    }

    ByteVector fingerMaximum(Reader get) const {
        ByteVector result(kGroup, 0);
        for (std::size_t group = 0; group < 4; ++group) {
            const ByteVector values = std::invoke(get, body_, group * kGroup, kGroup);
            for (std::size_t finger = 0; finger < kGroup; ++finger) {
                result[finger] = std::max(result[finger], values[finger]);
            }
        }
        return result;
    }
};

}  // namespace

std::unique_ptr<Protocol> makeRavelProtocol(HandBody& body, const SimConfig& config) {
    return std::make_unique<RavelProtocol>(body, config);
}

}  // namespace sim
}  // namespace velmora
