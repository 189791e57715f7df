// The 6-actuator hand's side of the wire.
#include "Protocol.h"

namespace velmora {
namespace sim {

namespace {

constexpr std::size_t kActuators = 6;
constexpr std::uint8_t kSpeeds = protocol::codeOf(KESTA, protocol::Quantity::Speeds);

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
            case 0x83:
                body_.clearFaults();
                break;
            case 0x38:
                body_.reHome();
                break;
            case 0xCE:
                body_.reset();
                break;
            case 0xC0:  // serial number, seven characters
                out.push_back({0xC0, 'K', 'S', '6', '-', '0', '4', '2'});
                break;
            case 0xC1:
                out.push_back({0xC1, static_cast<std::uint8_t>(config_.hardwareVersion >> 4),
                               static_cast<std::uint8_t>(config_.hardwareVersion & 0x0F), 0});
                break;
            case 0xC2:
                out.push_back({0xC2, static_cast<std::uint8_t>(config_.softwareVersion >> 4),
                               static_cast<std::uint8_t>(config_.softwareVersion & 0x0F), 0});
                // The hand announces its matrix sensors when first asked about itself.
                if (config_.sensor == SensorKind::Matrix)
                    out.push_back({0xB1, 0x01, 0x02});
                break;
            case 0xC4:
                out.push_back({0xC4, 1, 0, 2});
                break;
            case 0xB1:
            case 0xB2:
            case 0xB3:
            case 0xB4:
            case 0xB5:
                if (!request)
                    appendMatrixRows(code, code - 0xB1u, out);
                break;
            default:
                break;  // 0xCF: parameters saved, nothing to answer
        }
    }
};

}  // namespace

std::unique_ptr<Protocol> makeKestaProtocol(HandBody& body, const SimConfig& config) {
    return std::make_unique<KestaProtocol>(body, config);
}

}  // namespace sim
}  // namespace velmora
