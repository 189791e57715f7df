#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>
#include <vector>

#include "velmora/CanBus.h"
#include "velmora/VelmoraTypes.h"

namespace velmora {
namespace communication {
namespace detail {

/// Gap kept after every frame, inside the send lock.
inline constexpr std::chrono::milliseconds kFrameGap{3};
inline constexpr std::size_t kMaxPayload = 8;

/// Pause a channel of `model` takes after sending a frame whose first byte is `code`, outside
/// the send lock: the hand needs longer after some commands (force-sensor reads, the 25-joint
/// per-finger commands).
std::chrono::milliseconds extraPacing(VELMORA model, std::uint8_t code, float handVersion);

/// False, with a line on standard output, for a payload that does not fit one CAN frame.
bool payloadFits(const std::vector<std::uint8_t>& data);

/// The firmware generation that paces a channel: its own hand's once known (not negative),
/// else the process-wide one.
inline float pacingVersion(float ownHandVersion) {
    return ownHandVersion >= 0.0f ? ownHandVersion : Common::current_hand_version.load();
}

/// Sends one frame the way every paced channel does: at most one frame per kFrameGap under the
/// send lock, then the model's extra pause for the frame's code.
template <class Write, class Sleep>
void sendPaced(std::mutex& sendMutex, VELMORA model, float handVersion,
               const std::vector<std::uint8_t>& data, Write&& write, Sleep&& sleep) {
    if (!payloadFits(data)) {
        return;
    }
    {
        std::lock_guard<std::mutex> lock(sendMutex);
        write();
        sleep(kFrameGap);
    }
    if (!data.empty()) {
        const auto extra = extraPacing(model, data.front(), handVersion);
        if (extra.count() > 0) {
            sleep(extra);
        }
    }
}

}  // namespace detail
}  // namespace communication
}  // namespace velmora
