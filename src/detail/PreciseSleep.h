#pragma once

#include <chrono>

namespace velmora {
namespace detail {

/// Sleeps at least `duration`, and hardly longer: the kernel's default timer slack (50 us) would
/// otherwise add itself to every pause of the bus's pacing. The calling thread's slack is set to
/// 1 us for this one sleep and then given back.
void sleepPrecisely(std::chrono::nanoseconds duration);

}  // namespace detail
}  // namespace velmora
