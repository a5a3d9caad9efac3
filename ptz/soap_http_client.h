#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QSslCertificate>
#include <QString>

#include <optional>

#include "ptz/http_answer_parser.h"

class QSslSocket;

// One SOAP request and its answer over the client's connection. Ends with
// exactly one finished(): after the whole answer, a transport error, a
// refused certificate, an oversized answer, or abort().
class SoapExchange : public QObject
{
    Q_OBJECT

public:
    int status() const { return http_status; }
    QByteArray body() const { return answer; }
    QString error_string() const { return error; }
    bool is_finished() const { return done; }
    bool too_large() const { return oversized; }
    void abort();

signals:
    void finished();

private:
    friend class SoapHttpClient;
    void finish(const QString& failure = QString());

    int http_status = 0;
    QByteArray answer;
    QString error;
    bool done = false;
    bool oversized = false;
    QPointer<class SoapHttpClient> client;
};

// A small HTTP/1.1 client for a camera's SOAP services: one keep-alive
// connection (plain or TLS, certificate and host name verified against the
// system's and the given CAs), one request at a time, Content-Length or
// chunked answers, capped. It runs on the caller's thread: a request costs
// no hop through a network thread.
class SoapHttpClient : public QObject
{
    Q_OBJECT

public:
    SoapHttpClient(const QString& scheme, const QString& host, quint16 port,
                   const QList<QSslCertificate>& ca_certificates, qint64 max_body, QObject* parent = nullptr);
    ~SoapHttpClient() override;

    // The caller owns the exchange (deleteLater once finished).
    SoapExchange* post(const QString& path, const QByteArray& content_type, const QByteArray& body);

private:
    friend class SoapExchange;
    void connect_socket();
    void send_request();
    void on_ready_read();
    void on_disconnected();
    void on_error();
    void fail(const QString& message);
    void abort_current();
    void reset_parse();
    void complete();

    QString scheme, host;
    quint16 port;
    QList<QSslCertificate> ca;
    qint64 max_body;
    QSslSocket* socket = nullptr;
    QPointer<SoapExchange> current;
    QByteArray request;
    bool reused = false;
    bool retried = false;
    bool got_bytes = false;
    std::optional<HttpAnswerParser> answer;
};
