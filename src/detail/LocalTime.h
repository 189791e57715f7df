#pragma once

#include <chrono>
#include <string>

namespace velmora {
namespace detail {

/// "YYYY-MM-DD HH:MM:SS.mmm" in local time; thread-safe.
std::string formatLocalTime(std::chrono::system_clock::time_point when);

}  // namespace detail
}  // namespace velmora
