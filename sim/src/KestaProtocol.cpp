// The 6-actuator hand's side of the wire.
#include "Protocol.h"

namespace velmora {
namespace sim {

namespace {

// Command codes of the 6-actuator hand, from its command table.
using protocol::Quantity;
using namespace protocol::kesta;
constexpr auto kMatrices = codesOf<HandBody::kFingers>(KESTA, Quantity::Matrix);

constexpr std::size_t kActuators = protocol::jointCount(KESTA);

class KestaProtocol : public Protocol {
  public:
    using Protocol::Protocol;

    void handle(const ByteVector& f, Frames& out) override {
        const std::uint8_t code = f[0];
        const bool request = f.size() == 1;
        if (code != kSpeeds && handleJointCommand(f, out))
            return;
        switch (code) {
            case kSpeeds:  // the hand confirms new speeds with its speeds
                if (!request)
                    body_.setSpeeds(0, payload(f));
                out.push_back(frame(code, body_.speeds(0, kActuators)));
                break;
            case kClearFaults:
                body_.clearFaults();
                break;
            case kReHome:
                body_.reHome();
                break;
            case kFactoryReset:
                body_.reset();
                break;
            case kSerialNumber:  // seven characters
                out.push_back({kSerialNumber, 'K', 'S', '6', '-', '0', '4', '2'});
                break;
            case kHardwareVersion:
                out.push_back(frame(kHardwareVersion, versionFields(config_.hardwareVersion, 3)));
                break;
            case kSoftwareVersion:
                out.push_back(frame(kSoftwareVersion, versionFields(config_.softwareVersion, 3)));
                // The hand announces its matrix sensors when first asked about itself.
                if (config_.sensor == SensorKind::Matrix)
                    out.push_back(matrixAnnouncement());
                break;
            case kMechanicalVersion:
                out.push_back({kMechanicalVersion, 1, 0, 2});
                break;
            case kMatrices[0]:
            case kMatrices[1]:
            case kMatrices[2]:
            case kMatrices[3]:
            case kMatrices[4]:
                if (!request)
                    appendMatrixRows(code, code - protocol::kMatrixCode, out);
                break;
            default:
                break;  // saving the parameters: nothing to answer
        }
    }
};

}  // namespace

std::unique_ptr<Protocol> makeKestaProtocol(HandBody& body, const SimConfig& config) {
    return std::make_unique<KestaProtocol>(body, config);
}

}  // namespace sim
}  // namespace velmora
