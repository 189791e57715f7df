#pragma once

#include <cstdint>
#include <ostream>

#include "velmora/VelmoraTypes.h"

namespace velmora {
namespace tools {

/// Drives a simulated hand of `model` through the SDK's facade, as an application would, and
/// narrates it on `out`; on a terminal the joints' line is redrawn in place. True when every
/// step behaved.
bool runDemo(VELMORA model, std::uint32_t side, std::ostream& out, bool terminal = false);

}  // namespace tools
}  // namespace velmora
