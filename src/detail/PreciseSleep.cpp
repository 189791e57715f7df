#include "detail/PreciseSleep.h"

#include <sys/prctl.h>
#include <time.h>

#include <cerrno>

namespace velmora {
namespace detail {

void sleepPrecisely(std::chrono::nanoseconds duration) {
    if (duration.count() <= 0) {
        return;
    }
    timespec deadline{};
    clock_gettime(CLOCK_MONOTONIC, &deadline);
    const long long total = deadline.tv_nsec + duration.count();
    deadline.tv_sec += static_cast<time_t>(total / 1000000000);
    deadline.tv_nsec = static_cast<long>(total % 1000000000);

    const int slack = prctl(PR_GET_TIMERSLACK, 0, 0, 0, 0);
    const bool narrowed = slack > 1000 && prctl(PR_SET_TIMERSLACK, 1000UL, 0, 0, 0) == 0;
    // An absolute deadline: a signal that interrupts the sleep does not shorten it.
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &deadline, nullptr) == EINTR) {
    }
    if (narrowed) {
        prctl(PR_SET_TIMERSLACK, static_cast<unsigned long>(slack), 0, 0, 0);
    }
}

}  // namespace detail
}  // namespace velmora
