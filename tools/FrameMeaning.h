#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <utility>

#include "CanLog.h"
#include "velmora/Protocol.h"
#include "velmora/VelmoraTypes.h"

namespace velmora {
namespace tools {

/// What one frame means in a model's protocol.
struct FrameMeaning {
    enum class Direction { Request, Write, Reply, Unknown };
    Direction direction = Direction::Unknown;
    const protocol::Command* command = nullptr;  ///< null for a code the model does not know
    std::string values;                          ///< the payload in words, "" when none
};

const char* directionName(FrameMeaning::Direction direction);

/// The payload of `command` in `layout` as text: labelled joints, fingers, slots, matrix rows,
/// version fields.
std::string describePayload(VELMORA model, const protocol::Payload& layout,
                            const std::uint8_t* payload, std::size_t size);

/// Tells frames apart in both directions: the host and the hand use the same identifier, so a
/// frame with a payload is a reply when a request of its code is still unanswered, a write
/// otherwise.
class FrameDecoder {
  public:
    explicit FrameDecoder(VELMORA model) : model_(model) {}
    FrameMeaning decode(const LoggedFrame& frame);

  private:
    VELMORA model_;
    std::map<std::pair<std::uint32_t, std::uint8_t>, int> pending_;
};

}  // namespace tools
}  // namespace velmora
