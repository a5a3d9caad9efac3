#include "platform/precise_sleep.h"

#include <cerrno>
#include <ctime>

namespace zq::platform {

void precise_sleep_us(std::int64_t microseconds)
{
    if (microseconds <= 0)
        return;
    timespec deadline{};
    clock_gettime(CLOCK_MONOTONIC, &deadline);
    deadline.tv_sec += static_cast<time_t>(microseconds / 1000000);
    deadline.tv_nsec += static_cast<long>((microseconds % 1000000) * 1000);
    if (deadline.tv_nsec >= 1000000000L) {
        deadline.tv_sec += 1;
        deadline.tv_nsec -= 1000000000L;
    }
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &deadline, nullptr) == EINTR) {
    }
}

} // namespace zq::platform
