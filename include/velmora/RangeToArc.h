#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "velmora/Export.h"

// Conversion between the 0..255 joint range used on the wire and joint angles in radians, from
// per-model, per-side limit tables. Model keys (joints_type): 7, 10, 20, 21 and 25. Sides: "left"
// and "right". Errors go to standard error and give an empty result.

// Threads: every function here is pure (the tables are constant); call them from any thread.
// Their error lines go through the message sink (velmora/MessageSink.h).

/// Radians from range bytes; empty (and a line on stderr) for a bad key, side or length.
VELMORA_API std::vector<double> range_to_arc(const int& joints_type,
                                             const std::string& left_or_right,
                                             const std::vector<std::uint8_t>& hand_range);

/// Range bytes from radians, each angle clamped to its joint's limits; empty for a bad key, side
/// (with a line on stderr) or length (silently).
VELMORA_API std::vector<std::uint8_t> arc_to_range(const int& joints_type,
                                                   const std::string& left_or_right,
                                                   const std::vector<double>& hand_arc);

/// Fills min, max and derict with the tables of the key and side; false when there are none.
VELMORA_API bool initialize_params(int joints_type, const std::string& left_or_right,
                                   std::vector<double>& min, std::vector<double>& max,
                                   std::vector<int>& derict);

/// True for the slots of a layout that carry no joint and are never converted.
VELMORA_API bool should_skip_joint(int joints_type, int joint_index);

/// Linear map of value from [in_min, in_max] onto [out_min, out_max], unclamped.
VELMORA_API double scale_value(double value, double in_min, double in_max, double out_min,
                               double out_max);

/// Despite the name: value clamped to [min, max] (NaN gives min).
VELMORA_API double is_within_range(double value, double min, double max);
