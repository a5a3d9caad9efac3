#include "platform/process_stats.h"

#include <QByteArray>
#include <QFile>
#include <QList>

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

} // namespace zq::platform
