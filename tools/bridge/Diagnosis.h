#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "velmora/HandHealth.h"

namespace velmora {
namespace bridge {

/// diagnostic_msgs/DiagnosticStatus levels.
enum Level : std::uint8_t { kOk = 0, kWarn = 1, kError = 2, kStale = 3 };

struct Diagnosis {
    Level level;
    std::string message;
};

/// How the hand is doing: ERROR while its channel is down; STALE when it sent nothing for
/// `staleAfter` or did not answer the latest state read; WARN when it reports faults, or with
/// `trouble` when the bridge cannot do its part (publish the state, pass a command on); OK else.
Diagnosis diagnose(const hand::HandHealth& health, bool lastReadAnswered, bool faults,
                   std::chrono::nanoseconds staleAfter, const std::string& trouble = "");

}  // namespace bridge
}  // namespace velmora
