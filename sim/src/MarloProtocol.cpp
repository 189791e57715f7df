// The 7-joint hand's side of the wire: every state fits one frame.
#include "Protocol.h"

namespace velmora {
namespace sim {

namespace {

class MarloProtocol : public Protocol {
  public:
    using Protocol::Protocol;

    void handle(const ByteVector& f, Frames& out) override {
        if (handleJointCommand(f, out))
            return;
        const std::uint8_t code = f[0];
        switch (code) {
            case 0x20:
            case 0x21:
            case 0x22:
            case 0x23:
                out.push_back(frame(code, forcePerFinger(code - 0x20u)));
                break;
            case 0x28:
            case 0x29:
            case 0x30:
            case 0x31:
            case 0x32:
                if (config_.sensor == SensorKind::Summary) {
                    out.push_back(frame(code, body_.fingerSummary(summaryFinger(code))));
                }
                break;
            case 0x64:
                out.push_back(versionReport(7));
                break;
            case 0xB1:
            case 0xB2:
            case 0xB3:
            case 0xB4:
            case 0xB5:
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
