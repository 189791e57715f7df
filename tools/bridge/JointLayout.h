#pragma once

#include <cstddef>
#include <cstdint>
#include <istream>
#include <optional>
#include <string>
#include <vector>

#include "velmora/VelmoraTypes.h"

namespace velmora {
namespace bridge {

/// The joints a bridge publishes for one hand: the model's angle slots that carry a joint, and
/// the name of each. Slot i is element i of the SDK's radian vectors for the model.
struct JointLayout {
    int modelKey = 0;                ///< key of the model's angle tables (its slot count)
    std::string side;                ///< "left" or "right"
    std::vector<std::size_t> slots;  ///< slots that carry a joint, in order
    std::vector<std::string> names;  ///< one per entry of slots
};

/// The layout of a model and side. Names default to joint_<slot>; given names must be as many
/// as the joints, non-empty and distinct. Throws std::invalid_argument with the reason (a model
/// without angle tables, a side that is neither hand, names that do not fit).
JointLayout makeLayout(VELMORA model, std::uint32_t side,
                       const std::vector<std::string>& names = {});

/// Joint names, one a line; blank lines and lines starting with '#' are skipped, and spaces
/// around a name are dropped.
std::vector<std::string> readJointNames(std::istream& in);

/// A ROS namespace without its leading '/': segments of letters, digits and '_' that do not
/// start with a digit, joined by '/'. Empty stays empty (the root). Throws
/// std::invalid_argument for anything else.
std::string normalizeNamespace(const std::string& ns);

/// The DDS topic of ROS topic NS/name: "rt/NS/name", or "rt/name" at the root.
std::string rosTopic(const std::string& ns, const std::string& name);

/// The angles of the published joints, taken from a full slot vector (empty when the vector
/// does not have the model's slot count).
std::vector<double> publishedAngles(const JointLayout& layout, const RadianVector& slotAngles);

/// A joint command checked against the layout.
struct JointCommand {
    RadianVector slotAngles;  ///< full slot vector to command; empty when refused
    std::string error;        ///< why it was refused
};

/// Maps a command's names and positions (radians) onto the slots. Without names the positions
/// are the published joints in order, all of them. With names, each names one joint, once; the
/// joints not named keep their angle in `hold` (a full slot vector: the last command, or the
/// last state). Refused: positions not one per name (or per joint, without names), unknown or
/// repeated names, angles that are not finite, and a partial command with nothing to hold.
JointCommand mapCommand(const JointLayout& layout, const std::vector<std::string>& names,
                        const std::vector<double>& positions, const RadianVector& hold);

}  // namespace bridge
}  // namespace velmora
