#pragma once

#include <QObject>
#include <QString>

#include <atomic>
#include <cstddef>
#include <thread>

class AnalyseTools;

// Times the download of "/lib/256k.bytes" from a server and writes one line
// through its owner. The transfer runs on a thread of its own (run() returns
// at once); its line is written on the owner's thread. TLS is verified.
class TestBandwidth : public QObject
{
    Q_OBJECT
public:
    explicit TestBandwidth(AnalyseTools* owner);
    // Aborts a running transfer and waits for it.
    ~TestBandwidth() override;

    // One timed download, when a server is set and none is running.
    void run();
    // Aborts a running transfer and waits for its thread; its line is not written.
    void stop();
    bool is_busy() const { return m_busy.load(); }

    void set_server(const QString& baseLocation) { m_server = baseLocation; }
    QString server() const { return m_server; }
    // A CA bundle to trust instead of the system's (tests).
    void set_ca_file(const QString& path) { m_caFile = path; }
    void set_timeouts(int connectMs, int totalMs);

    // "[INFO] Bandwidth Usage [ DATA n bytes / TIME s.micros sec / SPEED k kbyte/sec. ]";
    // a figure not above 0 leaves its text empty.
    static QString line(qint64 bytes, qint64 timeMicros, qint64 bytesPerSecond);
    static size_t discardData(char* data, size_t size, size_t count, void* user);

signals:
    // The transfer ended (line written or error printed): tests wait on it.
    void run_finished(bool ok);

private:
    void transfer(const QString& url);
    void join();

    QString m_server;
    QString m_caFile;
    int m_connectMs = 10000;
    int m_totalMs = 60000;
    std::atomic<bool> m_busy{false};
    std::atomic<bool> m_abort{false};
    std::thread m_thread;
    AnalyseTools* m_owner = nullptr;
};
