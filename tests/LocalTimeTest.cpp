#include <gtest/gtest.h>

#include <ctime>

#include "detail/LocalTime.h"

using namespace std::chrono;

namespace {
std::string localSeconds(std::time_t t) {
    std::tm tm{};
    localtime_r(&t, &tm);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &tm);
    return text;
}
}  // namespace

TEST(LocalTime, MillisecondsAreTruncatedAndZeroPadded) {
    const std::time_t t = 1715936587;
    struct Case {
        microseconds past;
        const char* suffix;
    };
    for (const Case& c : {Case{microseconds(7000), ".007"}, Case{microseconds(7999), ".007"},
                          Case{microseconds(0), ".000"}, Case{microseconds(999999), ".999"},
                          Case{microseconds(45000), ".045"}}) {
        const auto when = system_clock::from_time_t(t) + c.past;
        EXPECT_EQ(velmora::detail::formatLocalTime(when), localSeconds(t) + c.suffix);
    }
}
