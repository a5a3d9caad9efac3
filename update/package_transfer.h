#pragma once

#include <QByteArray>
#include <QMutex>
#include <QObject>
#include <QString>
#include <QUrl>

#include <atomic>
#include <functional>

class QSaveFile;
class QThread;

namespace zq {
class CurlTransfer;
}

// The package download itself: libcurl on a worker thread, hashing and
// writing each block as it arrives, so that a large installer goes as fast
// as the link and never sits in memory. Redirect hops are followed here, at
// most five, each checked by the caller's rule. Ends with exactly one
// finished(); progress reports come on the owner's thread.
class PackageTransfer : public QObject
{
    Q_OBJECT
public:
    enum class Outcome { Done, Cancelled, Failed };

    struct Options
    {
        QUrl url;
        QByteArray userAgent;
        QByteArray caPem;            // empty: the system's certificate authorities
        qint64 limit = 0;            // bytes; also the Content-Length when it is lower
        int stallSeconds = 600;      // no byte for this long ends the transfer
        int maxRedirects = 5;
        // Empty when the hop from -> to is allowed, else the reason.
        std::function<QString(const QUrl& from, const QUrl& to)> redirectRule;
    };

    // file belongs to the caller and is used only by the worker until
    // finished() is emitted.
    PackageTransfer(Options options, QSaveFile* file, QObject* parent = nullptr);
    ~PackageTransfer() override;

    void start();
    // Thread-safe; the transfer ends with Outcome::Cancelled.
    void cancel();
    // Stops and waits for the worker without reporting (owner going away).
    void stopAndWait();

    qint64 received() const { return m_received.load(); }
    // Lower-case hexadecimal SHA-256 of the package, after finished(Done).
    QString hexDigest() const { return m_digest; }

signals:
    void progress(qint64 received, qint64 total);
    void finished(PackageTransfer::Outcome outcome, QString error);

private:
    void run();

    Options m_options;
    QSaveFile* m_file = nullptr;
    QString m_digest;
    QMutex m_transfer_lock; // guards m_transfer against its end while cancel() reaches it
    zq::CurlTransfer* m_transfer = nullptr;
    QThread* m_thread = nullptr;
    std::atomic<bool> m_cancel{false};
    std::atomic<qint64> m_received{0};
    std::atomic<bool> m_silent{false};
};
