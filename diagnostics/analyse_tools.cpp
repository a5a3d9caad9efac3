#include "diagnostics/analyse_tools.h"

#include "app/zq_log.h"
#include "diagnostics/process_usage.h"
#include "diagnostics/test_bandwidth.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QTimer>

#include <cstdio>

AnalyseTools::AnalyseTools()
    : m_processUsage(new ProcessUsage(this)), m_testBandwidth(new TestBandwidth(this))
{
}

AnalyseTools::~AnalyseTools()
{
    delete m_processUsage;
    m_processUsage = nullptr;
    if (m_processTimer) {
        m_processTimer->stop();
        m_processTimer->deleteLater();
        m_processTimer = nullptr;
    }
    delete m_testBandwidth; // aborts a running transfer and waits for it
    m_testBandwidth = nullptr;
    if (m_bandwidthTimer) {
        m_bandwidthTimer->stop();
        m_bandwidthTimer->deleteLater();
        m_bandwidthTimer = nullptr;
    }
    write(QStringLiteral("[INFO] Analyse tools :: stop"));
}

void AnalyseTools::write(const QString& message)
{
    if (m_outputFile.isEmpty())
        return;
    const QString line = QStringLiteral("[%1] ").arg(QDateTime::currentDateTime().toString(
                             QStringLiteral("dd/MM/yyyy hh:mm:ss.zzz"))) +
                         QStringLiteral("{ analyse } %1").arg(message);
    std::fprintf(stderr, "Debug: %s\n", line.toLocal8Bit().constData());
    QFile file(m_outputFile);
    // Never written through a link or into anything but a regular file.
    const QFileInfo info(m_outputFile);
    if (info.isSymLink() || (info.exists() && !info.isFile()) ||
        !file.open(QIODevice::WriteOnly | QIODevice::Append)) {
        ZQLog::log(QStringLiteral("[WARN] Analyse tools :: failed to create output file :: ") + m_outputFile);
        return;
    }
    const QByteArray bytes = line.toUtf8() + '\n';
    if (file.write(bytes) != bytes.size())
        ZQLog::log(QStringLiteral("[WARN] Analyse tools :: failed to create output file :: ") + m_outputFile);
    if (file.size() > kMaxOutputSize)
        file.resize(0);
}

void AnalyseTools::set_server(const QString& baseLocation)
{
    m_testBandwidth->set_server(baseLocation);
}

void AnalyseTools::set_process_period(int ms)
{
    if (!m_processTimer) {
        m_processTimer = new QTimer(this);
        connect(m_processTimer, &QTimer::timeout, this, &AnalyseTools::process_timer_finished);
    }
    if (ms > 0)
        m_processTimer->start(ms);
    else
        m_processTimer->stop();
}

void AnalyseTools::set_bandwidth_period(int ms)
{
    if (!m_bandwidthTimer) {
        m_bandwidthTimer = new QTimer(this);
        connect(m_bandwidthTimer, &QTimer::timeout, this, &AnalyseTools::bandwidth_timer_finished);
    }
    if (ms > 0)
        m_bandwidthTimer->start(ms);
    else
        m_bandwidthTimer->stop();
}

void AnalyseTools::process_timer_finished()
{
    if (m_processUsage)
        m_processUsage->sample();
}

void AnalyseTools::bandwidth_timer_finished()
{
    if (m_testBandwidth)
        m_testBandwidth->run();
}
