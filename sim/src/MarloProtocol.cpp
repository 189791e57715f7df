// The 7-joint hand's side of the wire: every state fits one frame.
#include "Protocol.h"

namespace velmora {
namespace sim {

namespace {

// Command codes of the 7-joint hand, from its command table.
using protocol::Quantity;
using namespace protocol::marlo;
constexpr auto kSummaries = codesOf<HandBody::kFingers>(MARLO, Quantity::FingerSummary);
constexpr auto kMatrices = codesOf<HandBody::kFingers>(MARLO, Quantity::Matrix);

static_assert(consecutiveForces(MARLO),
              "the 7-joint hand's force codes are not in the order of a finger summary");

class MarloProtocol : public Protocol {
  public:
    using Protocol::Protocol;

    void handle(const ByteVector& f, Frames& out) override {
        if (handleJointCommand(f, out))
            return;
        const std::uint8_t code = f[0];
        switch (code) {
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
            case kVersion:
                out.push_back(versionReport());
                break;
            case kMatrices[0]:
            case kMatrices[1]:
            case kMatrices[2]:
            case kMatrices[3]:
            case kMatrices[4]:
                answerMatrixCode(f, true, out);
                break;
            default:
                break;
        }
    }
};

}  // namespace

std::unique_ptr<Protocol> makeMarloProtocol(HandBody& body, const SimConfig& config) {
    return std::make_unique<MarloProtocol>(body, config);
}

}  // namespace sim
}  // namespace velmora
