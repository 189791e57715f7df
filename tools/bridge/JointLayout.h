#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <istream>
#include <optional>
#include <string>
#include <vector>

#include "velmora/VelmoraTypes.h"

namespace velmora {
namespace bridge {

/// The joints a bridge publishes for one hand: the model's slots that have an angle, and the
/// name of each. Slot i is element i of the SDK's radian vectors for the model.
struct JointLayout {
    VELMORA model = TOVIN;
    std::size_t slotCount = 0;       ///< values of the hand's position vectors
    std::string side;                ///< "left" or "right"
    std::vector<std::size_t> slots;  ///< slots with an angle, in order
    std::vector<std::string> names;  ///< one per entry of slots
    std::string frameId;             ///< header.frame_id of what the bridge publishes
    std::vector<double> lower;       ///< each slot's lowest angle (radians)
    std::vector<double> upper;       ///< and its highest
};

/// The layout of a model and side. Names default to the catalogue's joint names (thumb_1,
/// joint_0, ...); given names must be as many as the joints, non-empty and distinct. `prefix`
/// goes in front of every name and of the frame, MODEL_SIDE_hand. Throws std::invalid_argument
/// with the reason (a model without angle tables, a side that is neither hand, names that do
/// not fit).
JointLayout makeLayout(VELMORA model, std::uint32_t side,
                       const std::vector<std::string>& names = {}, const std::string& prefix = "");

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
    /// Names no joint of the layout has; skipped.
    std::vector<std::string> unknown = {};
};

/// Why the hand would refuse to be commanded with `slotAngles` (its position vector takes one
/// angle per slot, every one finite); empty when it takes them.
std::string handRefusal(const JointLayout& layout, const RadianVector& slotAngles);

/// Maps a command's names and positions (radians) onto the slots. Without names the positions
/// are the published joints in order, all of them. With names, each names one joint, once; the
/// joints not named keep their angle in `hold` (a full slot vector: the last command, or the
/// last state), and names of no joint are skipped (listed in `unknown`). Refused: positions not
/// one per name (or per joint, without names), repeated names, angles that are not finite, a
/// command that names no joint of the hand, and a partial command with nothing to hold.
JointCommand mapCommand(const JointLayout& layout, const std::vector<std::string>& names,
                        const std::vector<double>& positions, const RadianVector& hold);

/// `slotAngles` held within each joint's limits; `clamped` gets the slots that were beyond.
RadianVector clampToLimits(const JointLayout& layout, const RadianVector& slotAngles,
                           std::vector<std::size_t>& clamped);

/// A joint trajectory on the layout's slots: full slot vectors, each reached at its time.
struct SlotTrajectory {
    std::vector<RadianVector> points;
    std::vector<std::chrono::nanoseconds> times;  ///< from the start, non-decreasing
};

/// Where a trajectory is `elapsed` after its start, leaving `from`: along straight lines
/// from `from` to the first point and from each point to the next, at the last one after its
/// time.
RadianVector sampleTrajectory(const SlotTrajectory& trajectory, const RadianVector& from,
                              std::chrono::nanoseconds elapsed);

}  // namespace bridge
}  // namespace velmora
