#include "ptz/soap_http_client.h"

#include <QSslConfiguration>
#include <QSslSocket>

void SoapExchange::abort()
{
    if (done)
        return;
    if (client)
        client->abort_current();
    finish(QStringLiteral("Operation canceled"));
}

void SoapExchange::finish(const QString& failure)
{
    if (done)
        return;
    done = true;
    error = failure;
    emit finished();
}

SoapHttpClient::SoapHttpClient(const QString& scheme_, const QString& host_, quint16 port_,
                               const QList<QSslCertificate>& ca_certificates, qint64 max_body_, QObject* parent)
    : QObject(parent), scheme(scheme_), host(host_), port(port_), ca(ca_certificates), max_body(max_body_)
{
}

SoapHttpClient::~SoapHttpClient()
{
    if (socket) {
        socket->disconnect(this);
        socket->abort();
    }
}

SoapExchange* SoapHttpClient::post(const QString& path, const QByteArray& content_type, const QByteArray& body_bytes)
{
    if (current && !current->is_finished())
        current->abort();
    auto* ex = new SoapExchange();
    ex->client = this;
    current = ex;
    const QByteArray host_header = (host.contains(QLatin1Char(':')) ? '[' + host.toUtf8() + ']' : host.toUtf8())
                                   + ':' + QByteArray::number(port);
    request = "POST " + (path.isEmpty() ? QByteArray("/") : path.toUtf8()) + " HTTP/1.1\r\nHost: " + host_header
              + "\r\nContent-Type: " + content_type + "\r\nContent-Length: " + QByteArray::number(body_bytes.size())
              + "\r\nConnection: keep-alive\r\nAccept: application/soap+xml, */*\r\n\r\n" + body_bytes;
    retried = false;
    reset_parse();
    if (socket && socket->state() == QAbstractSocket::ConnectedState
        && (scheme != QLatin1String("https") || socket->isEncrypted())) {
        reused = true;
        send_request();
    } else {
        reused = false;
        connect_socket();
    }
    return ex;
}

void SoapHttpClient::connect_socket()
{
    if (socket) {
        socket->disconnect(this);
        socket->abort();
        socket->deleteLater();
    }
    socket = new QSslSocket(this);
    connect(socket, &QSslSocket::readyRead, this, &SoapHttpClient::on_ready_read);
    connect(socket, &QSslSocket::disconnected, this, &SoapHttpClient::on_disconnected);
    connect(socket, &QSslSocket::errorOccurred, this, &SoapHttpClient::on_error);
    socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    if (scheme == QLatin1String("https")) {
        QSslConfiguration conf = QSslConfiguration::defaultConfiguration();
        if (!ca.isEmpty())
            conf.addCaCertificates(ca);
        conf.setPeerVerifyMode(QSslSocket::VerifyPeer);
        socket->setSslConfiguration(conf);
        connect(socket, &QSslSocket::encrypted, this, &SoapHttpClient::send_request);
        // Certificate errors are not ignored: the handshake fails and so
        // does the request.
        socket->connectToHostEncrypted(host, port);
    } else {
        connect(socket, &QSslSocket::connected, this, &SoapHttpClient::send_request);
        socket->connectToHost(host, port);
    }
}

void SoapHttpClient::send_request()
{
    if (!current || current->is_finished() || !socket)
        return;
    socket->write(request);
}

void SoapHttpClient::reset_parse()
{
    answer.emplace(max_body);
    got_bytes = false;
}

void SoapHttpClient::complete()
{
    QPointer<SoapExchange> ex = current;
    current = nullptr;
    ex->http_status = answer->status();
    ex->answer = answer->body();
    if (answer->close_after() && socket) {
        socket->disconnect(this);
        socket->disconnectFromHost();
        socket->deleteLater();
        socket = nullptr;
    }
    ex->finish();
}

void SoapHttpClient::fail(const QString& message)
{
    QPointer<SoapExchange> ex = current;
    current = nullptr;
    if (socket) {
        socket->disconnect(this);
        socket->abort();
        socket->deleteLater();
        socket = nullptr;
    }
    if (ex)
        ex->finish(message);
}

void SoapHttpClient::abort_current()
{
    current = nullptr;
    // The answer in flight would arrive on this connection: it cannot be reused.
    if (socket) {
        socket->disconnect(this);
        socket->abort();
        socket->deleteLater();
        socket = nullptr;
    }
}

void SoapHttpClient::on_error()
{
    if (!current)
        return;
    if (socket && socket->error() == QAbstractSocket::RemoteHostClosedError) {
        on_disconnected();
        return;
    }
    fail(socket ? socket->errorString() : QStringLiteral("connection error"));
}

void SoapHttpClient::on_disconnected()
{
    if (!current)
        return;
    if (!got_bytes && reused && !retried) {
        // The camera closed an idle kept-alive connection as we reused it:
        // the request is sent again once on a new one.
        retried = true;
        reused = false;
        reset_parse();
        connect_socket();
        return;
    }
    if (answer->end_of_stream() == HttpAnswerParser::Done) {
        // An answer without length ends with the connection.
        if (socket) {
            socket->disconnect(this);
            socket->deleteLater();
            socket = nullptr;
        }
        complete();
        return;
    }
    fail(QStringLiteral("Connection closed"));
}

void SoapHttpClient::on_ready_read()
{
    if (!socket)
        return;
    const QByteArray data = socket->readAll();
    if (!current)
        return;
    got_bytes = got_bytes || !data.isEmpty();
    switch (answer->feed(data)) {
    case HttpAnswerParser::NeedMore:
        break;
    case HttpAnswerParser::Done:
        complete();
        break;
    case HttpAnswerParser::Failed:
        current->oversized = answer->too_large();
        fail(answer->error());
        break;
    }
}
