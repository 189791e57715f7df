#include <string>

#include "detail/Messages.h"
#include "detail/Pacing.h"

namespace velmora {
namespace Common {

std::atomic<float> current_hand_version{1.0f};
static_assert(std::atomic<float>::is_always_lock_free, "the hand version must be lock-free");

}  // namespace Common

namespace communication {
namespace detail {

namespace {
bool within(std::uint8_t code, std::uint8_t first, std::uint8_t last) {
    return code >= first && code <= last;
}
}  // namespace

std::chrono::milliseconds extraPacing(VELMORA model, std::uint8_t code, float handVersion) {
    using std::chrono::milliseconds;
    const bool sensorRead = within(code, 0xB1, 0xB6);
    switch (model) {
        case TOVIN:
            return sensorRead ? milliseconds(handVersion > 1.4f ? 1 : 25) : milliseconds(0);
        case MARLO:
            return sensorRead ? milliseconds(handVersion > 3.2f ? 1 : 25) : milliseconds(0);
        case RAVEL:
            return sensorRead ? milliseconds(6) : milliseconds(0);
        case SABRE:
        case ZENIT:
            if (sensorRead)
                return milliseconds(6);
            if (within(code, 0x41, 0x45) || within(code, 0x49, 0x4D) || within(code, 0x51, 0x55)) {
                return milliseconds(2);
            }
            return milliseconds(0);
        default:
            return milliseconds(0);
    }
}

bool payloadFits(const std::vector<std::uint8_t>& data) {
    if (data.size() <= kMaxPayload) {
        return true;
    }
    velmora::detail::message(MessageLevel::Warning, velmora::detail::Stream::Out,
                             "CAN frame not sent: " + std::to_string(data.size()) +
                                 " data bytes, a frame holds at most " +
                                 std::to_string(kMaxPayload));
    return false;
}

}  // namespace detail
}  // namespace communication
}  // namespace velmora
