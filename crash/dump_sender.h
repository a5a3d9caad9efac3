#pragma once

#include <QByteArray>
#include <QList>
#include <QMutex>
#include <QNetworkReply>
#include <QObject>
#include <QPair>
#include <QPointer>
#include <QSslConfiguration>
#include <QString>
#include <QUrl>

#include <atomic>
#include <memory>
#include <optional>

class QThread;

namespace zq {
class CurlTransfer;
}

// Sends one crash report (the dump, the log and a few form fields) as one
// multipart POST, reads the JSON reply and cleans up what the server
// accepted. Ends with exactly one sendFinished, then deletes itself.
//
// send() returns at once: the digests, the form and the upload run on a
// worker thread, streaming both files from disk (no copy of either in
// memory or on disk), so the window never waits for a large dump.
class DumpSender : public QObject
{
    Q_OBJECT
public:
    explicit DumpSender(QObject* parent = nullptr);
    ~DumpSender() override;

    void setComment(const QString& comment) { m_comment = comment; }
    void setEmail(const QString& email) { m_email = email; }
    // Seams: the endpoint (the configured one by default), TLS trust and the
    // transfer time-out.
    void setEndpoint(const QUrl& endpoint) { m_endpoint = endpoint; }
    QUrl endpoint() const { return m_endpoint; }
    void setSslConfiguration(const QSslConfiguration& configuration) { m_ssl = configuration; }
    void setTimeout(int milliseconds) { m_timeout_ms = milliseconds; }

    void send(const QString& dumpPath);
    void removeDump(const QString& dumpPath);

    // Starts hashing a dump in the background, so that a report sent later
    // finds its digest ready (the form calls it when it opens). Safe to call
    // more than once; a dump changed since is hashed again when sent.
    static void prepareDigest(const QString& dumpPath);

    // The configured endpoint: the address as given, "/traitement" when it
    // names no path; empty when not configured.
    static QUrl configuredEndpoint();

    struct Verdict
    {
        bool dumpAccepted = false;
        bool logAccepted = false;
    };
    // A member counts only with the status "OK", or a status holding "ERROR"
    // with error code 4 (the server already has that file).
    static Verdict parseReply(const QByteArray& body);
    // The dump's file name as sent: its base name with ".dmp", cleaned of
    // characters that would break the part header.
    static QString sentDumpName(const QString& dumpPath);

    // The cap on the reply body.
    static constexpr qint64 kMaxReplyBytes = 1024 * 1024;

signals:
    void sendFinished(bool dumpAccepted, bool logAccepted, QString error);

public slots:
    void slot_send_request_finished();
    void slot_uploadprogress(qlonglong sent, qlonglong total);
    void slot_manager_request_finished(QNetworkReply* reply);
    void slot_error(QNetworkReply::NetworkError error);

private:
    struct Form;
    void finish(bool dumpAccepted, bool logAccepted, const QString& error);
    // Worker thread: digests, form, upload; the outcome goes to slot_send_request_finished.
    void upload(const Form& form);

    QUrl m_endpoint;
    QString m_dump_path;
    QString m_email;
    QString m_comment;
    std::optional<QSslConfiguration> m_ssl;
    int m_timeout_ms = 120000;
    QThread* m_thread = nullptr;
    std::atomic<bool> m_stop{false};
    QMutex m_transfer_lock; // guards m_transfer against its end while the destructor reaches it
    zq::CurlTransfer* m_transfer = nullptr;
    // Set by the worker before it posts slot_send_request_finished.
    QByteArray m_reply_body;
    QString m_reply_error;
    qint64 m_log_size = -1;
    QString m_log_sha;
    bool m_finished = false;
    int m_last_percent = -2;
};
