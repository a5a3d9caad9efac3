#pragma once

#include <cstddef>
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

struct SystemMemory
{
    std::int64_t total_bytes = 0;     // MemTotal
    std::int64_t available_bytes = 0; // MemAvailable
    bool valid = false;               // both were found
};

// Physical memory of the machine, from /proc/meminfo.
SystemMemory system_memory();
// Reads the MemTotal and MemAvailable lines ("MemTotal:  16318480 kB") of a
// /proc/meminfo text; anything else, or a figure that is not a whole number
// of kB within range, leaves the result invalid.
SystemMemory parse_meminfo(const char* text, std::size_t size);

} // namespace zq::platform
