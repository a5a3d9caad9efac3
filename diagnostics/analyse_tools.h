#pragma once

// Two run-time probes that write one line each to an output file and to the
// standard error stream: ProcessUsage (CPU share and memory) and
// TestBandwidth (timed download of "/lib/256k.bytes"). Nothing in the program
// creates them; a creator sets the output file, the server and the periods.

#include <QObject>
#include <QString>

class ProcessUsage;
class QTimer;
class TestBandwidth;

class AnalyseTools : public QObject
{
    Q_OBJECT
public:
    AnalyseTools();
    ~AnalyseTools() override;

    // One line: "[dd/MM/yyyy hh:mm:ss.zzz] { analyse } message". Nothing
    // happens while the output file's path is empty.
    void write(const QString& message);

    void set_output_file(const QString& path) { m_outputFile = path; }
    QString output_file() const { return m_outputFile; }
    void set_server(const QString& baseLocation);
    // Start the probe's timer with a period in milliseconds (0 or less stops it).
    void set_process_period(int ms);
    void set_bandwidth_period(int ms);

    ProcessUsage* process_usage() const { return m_processUsage; }
    TestBandwidth* test_bandwidth() const { return m_testBandwidth; }

    // Above this size the output file is emptied after a write.
    static constexpr qint64 kMaxOutputSize = 15000000;

public slots:
    void process_timer_finished();
    void bandwidth_timer_finished();

private:
    ProcessUsage* m_processUsage = nullptr;
    TestBandwidth* m_testBandwidth = nullptr;
    QTimer* m_processTimer = nullptr;
    QTimer* m_bandwidthTimer = nullptr;
    QString m_outputFile;
};
