#pragma once

#include <QByteArray>
#include <QMutex>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QThread>
#include <QUrl>

#include <atomic>
#include <optional>

namespace zq {
class CurlTransfer;
}

// Downloads one file from the recording server over HTTP(S) with libcurl into a temporary file
// beside the row's output path, renamed to it only once the whole body arrived and, when the
// server sent "Content-Digest: sha-256=", its SHA-256 (computed while writing) matched.
//
// Every transfer ends with exactly one of download_finished, download_error or download_stopped.
// The thread owns its output file; the row hears of it only through these queued signals.
class ZQDownload_thread : public QThread
{
    Q_OBJECT
public:
    // row: the owner (not owned; used to tell rows apart); url: http or https.
    ZQDownload_thread(QObject* row, QString url, QString output_path = QString());
    ~ZQDownload_thread() override;

    void set_output_path(const QString& path) { m_output_path = path; }
    QString output_path() const { return m_output_path; }
    // The folder the output must stay in (default: the output's own folder). The folders between
    // it and the output are reached without leaving it through a link, and made when missing.
    void set_destination(const QString& folder) { m_destination = folder; }
    QString url() const { return m_url; }
    // Trust: PEM file of the certificate authorities to verify the server with (default: the
    // system's). Certificates and host names are always verified.
    void set_ca_file(const QString& path) { m_ca_file = path; }
    // A transfer slower than bytes_per_second over seconds is abandoned (default 1 B/s over 60 s).
    void set_low_speed_limit(long bytes_per_second, long seconds);
    void set_connect_timeout(long seconds) { m_connect_timeout = seconds; }

    // From any thread: ends the transfer at the next callback; the output is removed.
    void request_stop();
    bool stop_requested() const { return m_stop.load(); }

    QByteArray header_text() const { return m_header_text; } // after the end: every header line
    // After download_finished: lowercase hex SHA-256 of the file written, computed while writing
    // (so nobody reads a large file again on the GUI thread).
    QString computed_sha256() const { return m_computed_sha256; }

    // The digest of a "Content-Digest" value ("sha-256=<64 hex digits, any case>" or
    // "sha-256=:<base64>:", surrounded by blanks and a line end): the 32 bytes, or nothing when the
    // value does not hold a usable SHA-256.
    static std::optional<QByteArray> parse_content_digest(const QByteArray& value);
    // The message of a server error body: "Server error 500" / "IO FAILED" for HTML, the
    // "ZQRETURN_CODE" text of a JSON object (empty when absent), "" otherwise.
    static QString error_body_message(const QByteArray& content_type, const QByteArray& body);
    // True when a reply of that status and content type carries an error instead of the file.
    static bool is_error_reply(long status, const QByteArray& content_type);
    // The URL with the query switch file_hash=1 added (a URL without query gets "?file_hash=1").
    static QUrl with_file_hash(const QUrl& url);

signals:
    void download_finished(QString file_sha);
    void downloadProgress(qint64 bytesReceived, qint64 bytesTotal);
    void download_error(QString url, QString error_message);
    void statusChanged();
    // The row's information line ("Erreur de téléchargement - ..."), shown as plain text.
    void info_changed(QString text);
    // The bare name of the file being written, once the first body bytes arrived.
    void file_named(QString name);
    // The transfer ended on request_stop(); nothing was kept.
    void download_stopped();

protected:
    void run() override;

private:
    bool open_output();
    void on_header(const QByteArray& line);
    void fail(const QString& message);

    QPointer<QObject> m_row;
    QString m_url;
    QString m_output_path;
    QString m_destination;
    QString m_ca_file;
    long m_low_speed_bytes = 1;
    long m_low_speed_seconds = 60;
    long m_connect_timeout = 60;
    std::atomic<bool> m_stop{false};
    QMutex m_transfer_lock; // guards m_transfer against its end while request_stop() reaches it
    zq::CurlTransfer* m_transfer = nullptr;

    // Transfer state, touched by the worker thread only.
    struct Transfer;
    Transfer* m_t = nullptr;
    QByteArray m_header_text;
    QString m_computed_sha256;
};
