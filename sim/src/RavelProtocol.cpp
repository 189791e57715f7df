// The 20-joint hand's side of the wire. Joints come in four groups of five (one joint of each
// finger per group); speeds, currents and faults are per finger.
#include "Protocol.h"

#include <algorithm>
#include <functional>

namespace velmora {
namespace sim {

namespace {

// Command codes of the 20-joint hand, from its command table.
using protocol::Quantity;
using namespace protocol::ravel;
constexpr auto kSummaries = codesOf<HandBody::kFingers>(RAVEL, Quantity::FingerSummary);
constexpr auto kMatrices = codesOf<HandBody::kFingers>(RAVEL, Quantity::Matrix);

static_assert(consecutiveForces(RAVEL),
              "the 20-joint hand's force codes are not in the order of a finger summary");

constexpr std::size_t kGroup = 5;
constexpr std::size_t kGroups = 4;

class RavelProtocol : public Protocol {
  public:
    using Protocol::Protocol;

    void handle(const ByteVector& f, Frames& out) override {
        if (handleJointCommand(f, out))
            return;
        const std::uint8_t code = f[0];
        const bool request = f.size() == 1;
        switch (code) {
            case kSpeeds:
                request ? out.push_back(frame(code, body_.speeds(0, kGroup)))
                        : perFinger(payload(f), &HandBody::setSpeeds);
                break;
            case kCurrents:
                request ? out.push_back(frame(code, fingerMaximum(&HandBody::currents)))
                        : perFinger(payload(f), &HandBody::setCurrentLimits);
                break;
            case kFaults:
                request ? out.push_back(frame(code, fingerMaximum(&HandBody::faults)))
                        : body_.clearFaults();
                break;
            case kRotorLocks:
                out.push_back(frame(code, fingerMaximum(&HandBody::rotorLocks)));
                break;
            case kNormalForce:
            case kTangentialForce:
            case kTangentialDirection:
            case kApproach:
                out.push_back(frame(code, forcePerFinger(code - kNormalForce)));
                break;
            case kSummaries[0]:
            case kSummaries[1]:
            case kSummaries[2]:
            case kSummaries[3]:
            case kSummaries[4]:
                if (config_.sensor == SensorKind::Summary) {
                    out.push_back(frame(code, body_.fingerSummary(summaryFinger(code))));
                }
                break;
            case kSensorKind:
                out.push_back({kSensorKind, sensorKind()});
                break;
            case kMatrices[0]:
            case kMatrices[1]:
            case kMatrices[2]:
            case kMatrices[3]:
            case kMatrices[4]:
                answerMatrixCode(f, false, out);
                break;
            case kUid:  // "RVL " and a serial number
                out.push_back({kUid, 0x52, 0x56, 0x4C, 0x20, 0x00, 0x01, 0x2A});
                break;
            case kHardwareVersion:
                out.push_back({kHardwareVersion, config_.hardwareVersion});
                break;
            case kSoftwareVersion:
                out.push_back({kSoftwareVersion, config_.softwareVersion});
                break;
            case kDirection:
                out.push_back({kDirection, static_cast<std::uint8_t>(config_.handId)});
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
            for (std::size_t group = 0; group < kGroups; ++group) {
                std::invoke(set, body_, group * kGroup + finger, ByteVector{values[finger]});
            }
        }
    }

    ByteVector fingerMaximum(Reader get) const {
        ByteVector result(kGroup, 0);
        for (std::size_t group = 0; group < kGroups; ++group) {
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
