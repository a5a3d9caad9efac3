#pragma once

#include <cstdint>

namespace zq::platform {

// Sleeps for the given number of microseconds on the monotonic clock,
// resuming after signals until the whole delay has passed.
void precise_sleep_us(std::int64_t microseconds);

} // namespace zq::platform
