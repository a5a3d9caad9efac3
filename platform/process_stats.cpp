#include "platform/process_stats.h"

#include <QByteArray>
#include <QFile>
#include <QList>

#include <cstring>

#include <fcntl.h>
#include <unistd.h>

namespace zq::platform {

ProcessTimes process_cpu_times()
{
    ProcessTimes times;
    QFile file(QStringLiteral("/proc/self/stat"));
    if (!file.open(QIODevice::ReadOnly))
        return times;
    const QByteArray line = file.read(4096);
    // The command name may hold blanks and brackets: fields start after the last ')'.
    const qsizetype close = line.lastIndexOf(')');
    if (close < 0)
        return times;
    const QList<QByteArray> fields = line.mid(close + 2).split(' ');
    // After the name: state(0) ... utime is field 14 of the line, index 11 here.
    if (fields.size() < 13)
        return times;
    const long ticks = sysconf(_SC_CLK_TCK);
    if (ticks <= 0)
        return times;
    bool okUser = false;
    bool okSystem = false;
    const qint64 utime = fields.at(11).toLongLong(&okUser);
    const qint64 stime = fields.at(12).toLongLong(&okSystem);
    if (!okUser || !okSystem)
        return times;
    times.user_ms = utime * 1000 / ticks;
    times.system_ms = stime * 1000 / ticks;
    times.valid = true;
    return times;
}

std::int64_t process_resident_bytes()
{
    QFile file(QStringLiteral("/proc/self/status"));
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return -1;
    // /proc files report a size of 0, so read them whole instead of testing atEnd().
    const QList<QByteArray> lines = file.readAll().split('\n');
    for (const QByteArray& line : lines) {
        if (line.startsWith("VmRSS:")) {
            const QList<QByteArray> parts = line.mid(6).simplified().split(' ');
            bool ok = false;
            const qint64 kib = parts.value(0).toLongLong(&ok);
            return ok ? kib * 1024 : -1;
        }
    }
    return -1;
}

int processor_count()
{
    const long n = sysconf(_SC_NPROCESSORS_ONLN);
    return n > 0 ? static_cast<int>(n) : 1;
}

namespace {

// One line's value in kB after "Name:" and blanks, or -1.
std::int64_t meminfo_kib(const char* p, const char* end)
{
    while (p < end && (*p == ' ' || *p == '\t'))
        ++p;
    std::int64_t v = 0;
    int digits = 0;
    while (p < end && *p >= '0' && *p <= '9') {
        if (++digits > 15) // beyond any machine: refuse rather than overflow
            return -1;
        v = v * 10 + (*p - '0');
        ++p;
    }
    if (digits == 0)
        return -1;
    while (p < end && (*p == ' ' || *p == '\t'))
        ++p;
    if (end - p < 2 || p[0] != 'k' || p[1] != 'B')
        return -1;
    p += 2;
    if (p < end && *p != '\n' && *p != '\r')
        return -1;
    return v;
}

} // namespace

SystemMemory parse_meminfo(const char* text, std::size_t size)
{
    SystemMemory m;
    std::int64_t total = -1;
    std::int64_t available = -1;
    const char* p = text;
    const char* end = text + size;
    while (p < end) {
        const char* eol = static_cast<const char*>(std::memchr(p, '\n', std::size_t(end - p)));
        const char* line_end = eol ? eol : end;
        const std::size_t n = std::size_t(line_end - p);
        if (n > 9 && std::memcmp(p, "MemTotal:", 9) == 0)
            total = meminfo_kib(p + 9, line_end);
        else if (n > 13 && std::memcmp(p, "MemAvailable:", 13) == 0)
            available = meminfo_kib(p + 13, line_end);
        p = eol ? eol + 1 : end;
    }
    if (total < 0 || available < 0)
        return m;
    m.total_bytes = total * 1024;
    m.available_bytes = available * 1024;
    m.valid = true;
    return m;
}

SystemMemory system_memory()
{
    // Read with plain calls: a probe that samples often should cost little.
    char buf[8192];
    const int fd = ::open("/proc/meminfo", O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return {};
    std::size_t got = 0;
    for (;;) {
        const ssize_t r = ::read(fd, buf + got, sizeof buf - got);
        if (r <= 0)
            break;
        got += std::size_t(r);
        if (got == sizeof buf)
            break;
    }
    ::close(fd);
    return parse_meminfo(buf, got);
}

} // namespace zq::platform
