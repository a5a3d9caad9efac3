#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

#include <atomic>

// One blocking HTTP GET or PUT against a camera through libcurl, with the
// camera's own authentication scheme. Meant to live on a worker thread and
// be driven by its slots; requestCancel() may come from any thread. Every
// request ends with exactly one result(): the HTTP status and libcurl's code
// (CURLE_ABORTED_BY_CALLBACK after a cancel, -1 when libcurl could not be
// set up).
class CurlRequestWorker : public QObject
{
    Q_OBJECT

public:
    static constexpr qint64 max_response_bytes = 16 * 1024 * 1024;

    using QObject::QObject;

    void set_url(const QString& v) { url = v; }
    void set_user(const QString& v) { user = v; }
    void set_password(const QString& v) { password = v; }
    void set_body(const QByteArray& v) { body = v; }
    // Opt-in only: an https request then checks neither the certificate nor
    // the host name.
    void set_skip_tls_verify(bool v) { skip_tls_verify = v; }
    // A CA bundle file to trust besides the system's (empty: the system's).
    void set_ca_file(const QString& v) { ca_file = v; }

public slots:
    void run_get_request();
    void run_put_request();
    void requestCancel();

signals:
    void finished(QString response);
    void error(QString message);
    void result(QString response, int httpStatus, int curlCode);

private:
    void transfer(const char* method);

    QString url;
    QString user;
    QString password;
    QByteArray body;
    QString ca_file;
    bool skip_tls_verify = false;
    std::atomic<bool> cancel{false};
};
