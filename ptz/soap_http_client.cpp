#include "ptz/soap_http_client.h"

#include <QSslConfiguration>
#include <QSslSocket>

namespace {

constexpr qsizetype max_head_bytes = 64 * 1024;

} // namespace

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
    buffer.clear();
    head_done = false;
    status = 0;
    content_length = -1;
    chunked = false;
    close_after = false;
    body.clear();
    got_bytes = false;
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
    if (head_done && !chunked && content_length < 0) {
        // An answer without length ends with the connection.
        QPointer<SoapExchange> ex = current;
        current = nullptr;
        ex->http_status = status;
        ex->answer = body;
        if (socket) {
            socket->disconnect(this);
            socket->deleteLater();
            socket = nullptr;
        }
        ex->finish();
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
    buffer += data;
    if (parse()) {
        QPointer<SoapExchange> ex = current;
        current = nullptr;
        ex->http_status = status;
        ex->answer = body;
        if (close_after && socket) {
            socket->disconnect(this);
            socket->disconnectFromHost();
            socket->deleteLater();
            socket = nullptr;
        }
        ex->finish();
    }
}

// True once the whole answer is in; fails the exchange on bad input.
bool SoapHttpClient::parse()
{
    while (!head_done) {
        const qsizetype end = buffer.indexOf("\r\n\r\n");
        if (end < 0) {
            if (buffer.size() > max_head_bytes)
                fail(QStringLiteral("answer head too large"));
            return false;
        }
        const QList<QByteArray> lines = buffer.left(end).split('\n');
        buffer.remove(0, end + 4);
        const QList<QByteArray> first = lines.value(0).trimmed().split(' ');
        if (first.size() < 2 || !first.at(0).startsWith("HTTP/1.")) {
            fail(QStringLiteral("not an HTTP answer"));
            return false;
        }
        bool ok = false;
        status = first.at(1).toInt(&ok);
        if (!ok || status < 100 || status > 999) {
            fail(QStringLiteral("bad HTTP status"));
            return false;
        }
        if (status < 200)
            continue; // 100 Continue and the like: the real head follows
        for (int i = 1; i < lines.size(); ++i) {
            const QByteArray line = lines.at(i).trimmed();
            const qsizetype colon = line.indexOf(':');
            if (colon <= 0)
                continue;
            const QByteArray name = line.left(colon).trimmed().toLower();
            const QByteArray value = line.mid(colon + 1).trimmed();
            if (name == "content-length") {
                content_length = value.toLongLong(&ok);
                if (!ok || content_length < 0) {
                    fail(QStringLiteral("bad Content-Length"));
                    return false;
                }
            } else if (name == "transfer-encoding" && value.toLower().contains("chunked")) {
                chunked = true;
            } else if (name == "connection" && value.toLower().contains("close")) {
                close_after = true;
            }
        }
        if (chunked)
            content_length = -1;
        if (content_length > max_body) {
            current->oversized = true;
            fail(QStringLiteral("answer too large"));
            return false;
        }
        head_done = true;
        if (status == 204 || status == 304)
            return true;
    }
    if (chunked) {
        for (;;) {
            const qsizetype eol = buffer.indexOf("\r\n");
            if (eol < 0) {
                if (buffer.size() > 1024)
                    fail(QStringLiteral("bad chunk"));
                return false;
            }
            bool ok = false;
            const qint64 size = buffer.left(eol).split(';').value(0).trimmed().toLongLong(&ok, 16);
            if (!ok || size < 0) {
                fail(QStringLiteral("bad chunk"));
                return false;
            }
            if (size == 0) {
                // Trailer lines, then an empty one.
                const qsizetype end = buffer.indexOf("\r\n\r\n", eol);
                if (buffer.mid(eol, 4) == "\r\n\r\n" || end >= 0)
                    return true;
                return false;
            }
            if (body.size() + size > max_body) {
                current->oversized = true;
                fail(QStringLiteral("answer too large"));
                return false;
            }
            if (buffer.size() < eol + 2 + size + 2)
                return false;
            body += buffer.mid(eol + 2, size);
            buffer.remove(0, eol + 2 + size + 2);
        }
    }
    if (content_length >= 0) {
        const qint64 need = content_length - body.size();
        body += buffer.left(need);
        buffer.remove(0, qMin<qsizetype>(need, buffer.size()));
        return body.size() >= content_length;
    }
    // Until the connection closes.
    body += buffer;
    buffer.clear();
    if (body.size() > max_body) {
        current->oversized = true;
        fail(QStringLiteral("answer too large"));
    }
    return false;
}
