#pragma once

#include <cstdint>

namespace zq::platform {

struct ProcessTimes
{
    std::int64_t user_ms = 0;   // CPU time spent in user mode
    std::int64_t system_ms = 0; // CPU time spent in the kernel
    bool valid = false;
};

// CPU times of this process, from /proc/self/stat.
ProcessTimes process_cpu_times();
// Resident memory of this process in bytes (VmRSS of /proc/self/status), or -1.
std::int64_t process_resident_bytes();
// Number of processors online.
int processor_count();

} // namespace zq::platform
