#pragma once

#include <QObject>
#include <QString>

class AnalyseTools;

// The process's CPU share (over a monotonic clock, all processors counted)
// and memory against the machine's physical memory, one line per sample.
class ProcessUsage : public QObject
{
    Q_OBJECT
public:
    explicit ProcessUsage(AnalyseTools* owner);

    // One measurement; its line goes through the owner. Returns the line
    // (empty without an owner).
    QString sample();

    // "[INFO] Process Usage :: Physical Memory [ USE u / AVAIL a / TOT t Mb ] --- CPU [ c % ]"
    static QString line(double usedMb, double availableMb, double totalMb, double cpuPercent);
    // CPU share in percent of all processors; 0 when no time passed.
    static double cpu_share(qint64 cpuNs, qint64 wallNs, int processors);

private:
    qint64 m_lastSampleNs = 0; // monotonic
    qint64 m_lastKernelNs = 0;
    qint64 m_lastUserNs = 0;
    int m_processors = 1;
    AnalyseTools* m_owner = nullptr;
};
