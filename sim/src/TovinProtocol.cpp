// The 10-joint hand's side of the wire.
#include "Protocol.h"

namespace velmora {
namespace sim {

namespace {

// Command codes of the 10-joint hand, from its command table.
using protocol::Quantity;
using namespace protocol::tovin;
constexpr auto kSummaries = codesOf<HandBody::kFingers>(TOVIN, Quantity::FingerSummary);
constexpr auto kMatrices = codesOf<HandBody::kFingers>(TOVIN, Quantity::Matrix);

static_assert(consecutiveForces(TOVIN),
              "the 10-joint hand's force codes are not in the order of a finger summary");
static_assert(protocol::carriesJoints(TOVIN, kPositions0to5, 0, 6) &&
                  protocol::carriesJoints(TOVIN, kPositions6to9, 6, 4),
              "the 10-joint hand's position frames split the joints unlike its command table");

// Firmware up to this version (1.4) answers no state requests; it reports its positions on its
// own, every few ticks of the mechanics.
constexpr std::uint8_t kLastReportingFirmware = protocol::versionByte(1, 4);
constexpr unsigned kTicksPerReport = 5;

class TovinProtocol : public Protocol {
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
                break;  // the all-status request and anything else: nothing to do
        }
    }

    void onTick(Frames& out) override {
        if (config_.softwareVersion > kLastReportingFirmware || ++ticks_ % kTicksPerReport != 0)
            return;
        out.push_back(frame(kPositions0to5, body_.positions(0, 6)));
        out.push_back(frame(kPositions6to9, body_.positions(6, 4)));
    }

  private:
    unsigned ticks_ = 0;
};

}  // namespace

std::unique_ptr<Protocol> makeTovinProtocol(HandBody& body, const SimConfig& config) {
    return std::make_unique<TovinProtocol>(body, config);
}

}  // namespace sim
}  // namespace velmora
