#include "detail/LocalTime.h"

#include <cstdio>
#include <ctime>

namespace velmora {
namespace detail {

std::string formatLocalTime(std::chrono::system_clock::time_point when) {
    using namespace std::chrono;
    auto sinceEpoch = when.time_since_epoch();
    auto wholeSeconds = duration_cast<seconds>(sinceEpoch);
    auto micros = duration_cast<microseconds>(sinceEpoch - wholeSeconds);
    if (micros.count() < 0) {  // before the epoch: keep the remainder positive
        wholeSeconds -= seconds(1);
        micros += seconds(1);
    }
    const std::time_t t = static_cast<std::time_t>(wholeSeconds.count());
    std::tm local{};
    localtime_r(&t, &local);

    char text[64];
    std::size_t n = std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    std::snprintf(text + n, sizeof text - n, ".%03d", static_cast<int>(micros.count() / 1000));
    return text;
}

}  // namespace detail
}  // namespace velmora
