#include "diagnostics/process_usage.h"

#include "diagnostics/analyse_tools.h"
#include "platform/process_stats.h"

#include <ctime>

namespace {

qint64 monotonic_ns()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return qint64(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

// Kernel and user time of this process in ns (the platform reader gives ms).
void cpu_times(qint64* kernelNs, qint64* userNs)
{
    const zq::platform::ProcessTimes t = zq::platform::process_cpu_times();
    *kernelNs = t.valid ? qint64(t.system_ms) * 1000000 : 0;
    *userNs = t.valid ? qint64(t.user_ms) * 1000000 : 0;
}

} // namespace

ProcessUsage::ProcessUsage(AnalyseTools* owner) : m_owner(owner)
{
    m_processors = zq::platform::processor_count();
    m_lastSampleNs = monotonic_ns();
    cpu_times(&m_lastKernelNs, &m_lastUserNs);
}

double ProcessUsage::cpu_share(qint64 cpuNs, qint64 wallNs, int processors)
{
    if (wallNs <= 0 || processors <= 0 || cpuNs < 0)
        return 0.0;
    return double(cpuNs) / double(wallNs) / double(processors) * 100.0;
}

QString ProcessUsage::line(double usedMb, double availableMb, double totalMb, double cpuPercent)
{
    return QStringLiteral("[INFO] Process Usage :: Physical Memory [ USE ") + QString::number(usedMb, 'f', 2) +
           QStringLiteral(" / AVAIL ") + QString::number(availableMb, 'f', 1) + QStringLiteral(" / TOT ") +
           QString::number(totalMb, 'f', 1) + QStringLiteral(" Mb ] --- CPU [ ") +
           QString::number(cpuPercent, 'f', 5) + QStringLiteral(" % ]");
}

QString ProcessUsage::sample()
{
    const std::int64_t resident = zq::platform::process_resident_bytes();
    const double usedMb = resident > 0 ? double(resident) / 1024.0 / 1024.0 : 0.0;
    const zq::platform::SystemMemory memory = zq::platform::system_memory();
    double totalMb = 0.0;
    double availableMb = 0.0;
    if (memory.valid) {
        totalMb = double(memory.total_bytes >> 20);
        availableMb = double(memory.available_bytes >> 20);
    } else if (m_owner) {
        m_owner->write(QStringLiteral("[INFO] Process Usage :: unknown Memory "));
    }
    if (!m_owner)
        return QString();
    const qint64 now = monotonic_ns();
    qint64 kernel = 0;
    qint64 user = 0;
    cpu_times(&kernel, &user);
    const double cpu = cpu_share((kernel - m_lastKernelNs) + (user - m_lastUserNs), now - m_lastSampleNs, m_processors);
    m_lastSampleNs = now;
    m_lastKernelNs = kernel;
    m_lastUserNs = user;
    const QString text = line(usedMb, availableMb, totalMb, cpu);
    m_owner->write(text);
    return text;
}
