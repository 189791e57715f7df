#pragma once

// Poses an operator saved, per model, in $XDG_CONFIG_HOME/velmora/poses.toml.

#include <optional>
#include <string>

#include "Common.h"

namespace velmora {
namespace tools {

/// $XDG_CONFIG_HOME/velmora/poses.toml, with ~/.config when the variable is unset or empty.
std::string posesPath();

/// The positions (one per slot) saved as `name` for `model`; empty when there is none. Throws
/// std::runtime_error for a file that cannot be read, or when poses are built without TOML.
std::optional<ByteVector> savedPose(VELMORA model, const std::string& name);

}  // namespace tools
}  // namespace velmora
