// The 10-joint hand's side of the wire.
#include "Protocol.h"

namespace velmora {
namespace sim {

namespace {

class TovinProtocol : public Protocol {
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
                out.push_back(versionReport(10));
                break;
            case 0xB1:
            case 0xB2:
            case 0xB3:
            case 0xB4:
            case 0xB5:
                answerMatrixCode(f, true, out);
                break;
            default:
                break;  // 0x09 and anything else: nothing to do
        }
    }

    // Firmware up to 1.4 answers no state requests; it reports its positions on its own.
    void onTick(Frames& out) override {
        if (config_.softwareVersion > 0x14 || ++ticks_ % 5 != 0)
            return;
        out.push_back(frame(0x01, body_.positions(0, 6)));
        out.push_back(frame(0x04, body_.positions(6, 4)));
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
