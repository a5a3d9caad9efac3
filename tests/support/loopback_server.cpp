#include "tests/support/loopback_server.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QHostAddress>
#include <QMutexLocker>
#include <QSet>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <openssl/evp.h>

namespace {

constexpr qint64 kMaxHead = 64 * 1024;        // request line and headers
constexpr qint64 kLowWater = 1024 * 1024;     // pull more once less than this waits to be sent
constexpr int kIdleMs = 30000;                // a connection waiting for a request closes after this

bool same_name(const QByteArray& a, const QByteArray& b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

const QByteArray* find_header(const HttpHeaders& headers, const QByteArray& name)
{
    for (const auto& h : headers)
        if (same_name(h.first, name))
            return &h.second;
    return nullptr;
}

} // namespace

// ---------------------------------------------------------------------------------------------
QByteArray HttpRequest::header(const QByteArray& name) const
{
    const QByteArray* v = find_header(headers, name);
    return v ? *v : QByteArray();
}

bool HttpRequest::has_header(const QByteArray& name) const
{
    return find_header(headers, name) != nullptr;
}

// ---------------------------------------------------------------------------------------------
class LoopbackCore : public QTcpServer
{
public:
    explicit LoopbackCore(LoopbackServer* server) : server_(server) {}
    void shutdown();
    QSet<HttpConnection*> connections;

protected:
    void incomingConnection(qintptr fd) override;

private:
    LoopbackServer* server_;
};

class HttpConnection : public QObject
{
public:
    HttpConnection(LoopbackServer* server, LoopbackCore* core, QTcpSocket* sock, int id)
        : server_(server), core_(core), sock_(sock), ssl_(qobject_cast<QSslSocket*>(sock)), id_(id)
    {
        core_->connections.insert(this);
        sock_->setParent(this);
        connect(sock_, &QIODevice::readyRead, this, [this] { on_ready_read(); });
        connect(sock_, &QIODevice::bytesWritten, this, [this] { pump(); });
        if (ssl_)
            connect(ssl_, &QSslSocket::encryptedBytesWritten, this, [this] { pump(); });
        connect(sock_, &QAbstractSocket::stateChanged, this, [this](QAbstractSocket::SocketState s) {
            if (s == QAbstractSocket::UnconnectedState)
                gone();
        });
        idle_.setSingleShot(true);
        idle_.setInterval(kIdleMs);
        connect(&idle_, &QTimer::timeout, this, [this] {
            if (state_ == Head)
                close_gracefully();
        });
        idle_.start();
    }
    ~HttpConnection() override
    {
        core_->connections.remove(this);
        if (sha_)
            EVP_MD_CTX_free(sha_);
    }

    void write(const QByteArray& bytes)
    {
        if (sock_->state() == QAbstractSocket::ConnectedState)
            sock_->write(bytes);
    }

    void start_pull(HttpResponse::Pull pull, HttpResponse::Framing framing)
    {
        pull_ = std::move(pull);
        framing_ = framing;
        pull_waiting_ = false;
        if (pumping_) // started from inside the previous answer's last pull
            QTimer::singleShot(0, this, [this] { pump(); });
        else
            pump();
    }

    void response_finished(bool close_after)
    {
        pull_ = nullptr;
        current_.reset();
        if (close_after) {
            close_gracefully();
            return;
        }
        state_ = Head;
        idle_.start();
        if (!parsing_)
            parse();
    }

    void close_gracefully()
    {
        pull_ = nullptr;
        state_ = Closing;
        sock_->disconnectFromHost();
    }

    void drop_now()
    {
        pull_ = nullptr;
        state_ = Closing;
        sock_->abort();
        gone();
    }

    bool is_connected() const { return sock_->state() == QAbstractSocket::ConnectedState; }
    LoopbackCore* core() const { return core_; }

private:
    enum State { Head, Body, ChunkSize, ChunkData, ChunkDataEnd, ChunkTrailer, Handling, Closing };

    void gone()
    {
        pull_ = nullptr;
        state_ = Closing;
        deleteLater();
    }

    void on_ready_read()
    {
        in_.append(sock_->readAll());
        if (state_ == Head)
            idle_.start();
        if (!parsing_)
            parse();
    }

    qint64 pending() const
    {
        return sock_->bytesToWrite() + (ssl_ ? ssl_->encryptedBytesToWrite() : 0);
    }

    void pump()
    {
        if (!pull_ || pull_waiting_ || pumping_)
            return;
        pumping_ = true;
        while (pull_ && !pull_waiting_ && is_connected() && pending() < kLowWater) {
            QByteArray out;
            int r = pull_(out);
            if (!pull_) // the pull ended the answer itself
                break;
            if (!out.isEmpty()) {
                if (framing_ == HttpResponse::Chunked)
                    write(QByteArray::number(out.size(), 16) + "\r\n" + out + "\r\n");
                else
                    write(out);
            } else if (r == 0) {
                r = 1; // nothing now and no delay asked: do not spin
            }
            if (r == HttpResponse::End) {
                const HttpResponse::Framing f = framing_;
                pull_ = nullptr;
                if (f == HttpResponse::Chunked)
                    write("0\r\n\r\n");
                if (auto res = current_) {
                    if (f == HttpResponse::UntilClose)
                        res->close();
                    else
                        res->finish();
                }
                break;
            }
            if (r == HttpResponse::Drop || r < 0) {
                pull_ = nullptr;
                if (auto res = current_)
                    res->close();
                break;
            }
            if (r > 0) {
                pull_waiting_ = true;
                QTimer::singleShot(r, this, [this] {
                    pull_waiting_ = false;
                    pump();
                });
            }
        }
        pumping_ = false;
    }

    void bad_request(int status)
    {
        state_ = Closing;
        write(HttpResponse::status_line(status) + "Content-Length: 0\r\nConnection: close\r\n\r\n");
        sock_->disconnectFromHost();
    }

    static QByteArray take_line(QByteArray& in, bool* ok)
    {
        const qsizetype nl = in.indexOf('\n');
        if (nl < 0) {
            *ok = false;
            return {};
        }
        QByteArray line = in.left(nl);
        in.remove(0, nl + 1);
        if (line.endsWith('\r'))
            line.chop(1);
        *ok = true;
        return line;
    }

    bool parse_head(const QByteArray& head)
    {
        QList<QByteArray> lines = head.split('\n');
        for (QByteArray& l : lines)
            if (l.endsWith('\r'))
                l.chop(1);
        const QList<QByteArray> parts = lines.value(0).split(' ');
        if (parts.size() != 3 || parts[0].isEmpty() || parts[1].isEmpty()
            || !parts[2].startsWith("HTTP/1."))
            return false;
        req_ = HttpRequest();
        req_.method = parts[0];
        req_.target = parts[1];
        req_.version = parts[2];
        const qsizetype q = req_.target.indexOf('?');
        req_.path = q < 0 ? req_.target : req_.target.left(q);
        req_.query = q < 0 ? QByteArray() : req_.target.mid(q + 1);
        for (int i = 1; i < lines.size(); ++i) {
            const qsizetype colon = lines[i].indexOf(':');
            if (colon <= 0)
                return false;
            req_.headers.append({lines[i].left(colon).trimmed(), lines[i].mid(colon + 1).trimmed()});
        }
        req_.tls = ssl_ != nullptr;
        req_.connection_id = id_;
        return true;
    }

    void take_body(qint64 n)
    {
        if (n <= 0)
            return;
        if (options_.store_body) {
            req_.body.append(in_.constData(), n);
        } else {
            if (!sha_) {
                sha_ = EVP_MD_CTX_new();
                EVP_DigestInit_ex(sha_, EVP_sha256(), nullptr);
            }
            EVP_DigestUpdate(sha_, in_.constData(), size_t(n));
        }
        req_.body_size += n;
        in_.remove(0, n);
    }

    void parse()
    {
        parsing_ = true;
        bool more = true;
        while (more) {
            switch (state_) {
            case Head: {
                qsizetype end = in_.indexOf("\r\n\r\n");
                qsizetype sep = 4;
                const qsizetype lf = in_.indexOf("\n\n");
                if (lf >= 0 && (end < 0 || lf < end)) {
                    end = lf;
                    sep = 2;
                }
                if (end < 0) {
                    if (in_.size() > kMaxHead)
                        bad_request(431);
                    more = false;
                    break;
                }
                if (end > kMaxHead) {
                    bad_request(431);
                    more = false;
                    break;
                }
                const QByteArray head = in_.left(end);
                in_.remove(0, end + sep);
                if (!parse_head(head)) {
                    bad_request(400);
                    more = false;
                    break;
                }
                LoopbackServer::Route route;
                have_route_ = server_->find_route(req_.method, req_.path, &route);
                handler_ = have_route_ ? route.handler : HttpHandler();
                options_ = have_route_ ? route.options : LoopbackServer::RouteOptions();
                if (sha_) {
                    EVP_MD_CTX_free(sha_);
                    sha_ = nullptr;
                }
                const QByteArray te = req_.header("Transfer-Encoding");
                const bool expect = same_name(req_.header("Expect"), "100-continue");
                if (!te.isEmpty()) {
                    if (!te.toLower().contains("chunked")) {
                        bad_request(501);
                        more = false;
                        break;
                    }
                    req_.chunked = true;
                    state_ = ChunkSize;
                } else if (req_.has_header("Content-Length")) {
                    bool ok = false;
                    remaining_ = req_.header("Content-Length").toLongLong(&ok);
                    if (!ok || remaining_ < 0) {
                        bad_request(400);
                        more = false;
                        break;
                    }
                    if (remaining_ > options_.max_body) {
                        bad_request(413);
                        more = false;
                        break;
                    }
                    state_ = remaining_ > 0 ? Body : Handling;
                } else {
                    remaining_ = 0;
                    state_ = Handling;
                }
                if (expect && state_ != Handling)
                    write("HTTP/1.1 100 Continue\r\n\r\n");
                if (state_ == Handling)
                    dispatch();
                break;
            }
            case Body: {
                const qint64 n = qMin<qint64>(remaining_, in_.size());
                take_body(n);
                remaining_ -= n;
                if (remaining_ > 0) {
                    more = false;
                    break;
                }
                state_ = Handling;
                dispatch();
                break;
            }
            case ChunkSize: {
                bool ok = false;
                QByteArray line = take_line(in_, &ok);
                if (!ok) {
                    if (in_.size() > 1024)
                        bad_request(400);
                    more = false;
                    break;
                }
                const qsizetype semi = line.indexOf(';');
                if (semi >= 0)
                    line.truncate(semi);
                bool hex_ok = false;
                const qint64 size = line.trimmed().toLongLong(&hex_ok, 16);
                if (!hex_ok || size < 0) {
                    bad_request(400);
                    more = false;
                    break;
                }
                if (size > options_.max_body - req_.body_size) {
                    bad_request(413);
                    more = false;
                    break;
                }
                remaining_ = size;
                state_ = size == 0 ? ChunkTrailer : ChunkData;
                break;
            }
            case ChunkData: {
                const qint64 n = qMin<qint64>(remaining_, in_.size());
                take_body(n);
                remaining_ -= n;
                if (remaining_ > 0) {
                    more = false;
                    break;
                }
                state_ = ChunkDataEnd;
                break;
            }
            case ChunkDataEnd: {
                bool ok = false;
                const QByteArray line = take_line(in_, &ok);
                if (!ok) {
                    if (in_.size() > 2)
                        bad_request(400);
                    more = false;
                    break;
                }
                if (!line.isEmpty()) {
                    bad_request(400);
                    more = false;
                    break;
                }
                state_ = ChunkSize;
                break;
            }
            case ChunkTrailer: {
                bool ok = false;
                const QByteArray line = take_line(in_, &ok);
                if (!ok) {
                    if (in_.size() > kMaxHead)
                        bad_request(431);
                    more = false;
                    break;
                }
                if (line.isEmpty()) {
                    state_ = Handling;
                    dispatch();
                }
                break;
            }
            case Handling:
            case Closing:
                more = false;
                break;
            }
        }
        parsing_ = false;
    }

    void dispatch()
    {
        idle_.stop();
        req_.index_on_connection = index_++;
        if (sha_) {
            unsigned char md[EVP_MAX_MD_SIZE];
            unsigned int len = 0;
            EVP_DigestFinal_ex(sha_, md, &len);
            req_.body_sha256 = QByteArray(reinterpret_cast<const char*>(md), int(len)).toHex();
            EVP_MD_CTX_free(sha_);
            sha_ = nullptr;
        } else if (!options_.store_body) {
            unsigned char md[EVP_MAX_MD_SIZE];
            unsigned int len = 0;
            EVP_Digest("", 0, md, &len, EVP_sha256(), nullptr);
            req_.body_sha256 = QByteArray(reinterpret_cast<const char*>(md), int(len)).toHex();
        }
        const QByteArray conn = req_.header("Connection").toLower();
        const bool keep_alive = req_.version == "HTTP/1.1" ? !conn.contains("close")
                                                           : conn.contains("keep-alive");
        const HttpRequest req = std::move(req_);
        req_ = HttpRequest();
        const HttpHandler handler = std::move(handler_);
        handler_ = nullptr;
        current_ = HttpResponsePtr(new HttpResponse(this, core_, keep_alive));
        current_->self_ = current_;
        server_->record(req);
        const HttpResponsePtr res = current_;
        if (have_route_ && handler)
            handler(req, res);
        else
            res->reply(404, "text/plain", "no route for " + req.method + " " + req.path + "\n");
    }

    LoopbackServer* server_;
    LoopbackCore* core_;
    QTcpSocket* sock_;
    QSslSocket* ssl_;
    const int id_;
    int index_ = 0;
    State state_ = Head;
    bool parsing_ = false;
    QByteArray in_;
    HttpRequest req_;
    qint64 remaining_ = 0;
    bool have_route_ = false;
    HttpHandler handler_;
    LoopbackServer::RouteOptions options_;
    EVP_MD_CTX* sha_ = nullptr;
    HttpResponsePtr current_;
    HttpResponse::Pull pull_;
    HttpResponse::Framing framing_ = HttpResponse::Chunked;
    bool pull_waiting_ = false;
    bool pumping_ = false;
    QTimer idle_;
};

void LoopbackCore::incomingConnection(qintptr fd)
{
    QTcpSocket* sock = nullptr;
    QSslSocket* ssl = nullptr;
    if (server_->scheme_ == LoopbackServer::Https) {
        ssl = new QSslSocket;
        QSslConfiguration conf = QSslConfiguration::defaultConfiguration();
        conf.setLocalCertificate(server_->tls_.certificate());
        conf.setPrivateKey(server_->tls_.private_key());
        conf.setPeerVerifyMode(QSslSocket::VerifyNone);
        conf.setProtocol(QSsl::TlsV1_2OrLater);
        ssl->setSslConfiguration(conf);
        sock = ssl;
    } else {
        sock = new QTcpSocket;
    }
    if (!sock->setSocketDescriptor(fd)) {
        delete sock;
        return;
    }
    int id = 0;
    {
        QMutexLocker lock(&server_->mutex_);
        id = ++server_->connections_;
    }
    new HttpConnection(server_, this, sock, id);
    if (ssl)
        ssl->startServerEncryption();
}

void LoopbackCore::shutdown()
{
    close();
    const QSet<HttpConnection*> all = connections;
    for (HttpConnection* c : all)
        delete c; // its socket is its child: closed here, on the thread that owns it
    connections.clear();
}

// ---------------------------------------------------------------------------------------------
HttpResponse::HttpResponse(HttpConnection* conn, QObject* core, bool keep_alive)
    : conn_(conn), core_(core), keep_alive_(keep_alive)
{
}

HttpConnection* HttpResponse::live() const
{
    HttpConnection* c = conn_.data();
    return done_ ? nullptr : c;
}

bool HttpResponse::connected() const
{
    HttpConnection* c = conn_.data();
    return c && c->is_connected();
}

QByteArray HttpResponse::status_line(int status)
{
    const char* reason = "Status";
    switch (status) {
    case 100: reason = "Continue"; break;
    case 200: reason = "OK"; break;
    case 201: reason = "Created"; break;
    case 204: reason = "No Content"; break;
    case 206: reason = "Partial Content"; break;
    case 301: reason = "Moved Permanently"; break;
    case 302: reason = "Found"; break;
    case 303: reason = "See Other"; break;
    case 304: reason = "Not Modified"; break;
    case 307: reason = "Temporary Redirect"; break;
    case 308: reason = "Permanent Redirect"; break;
    case 400: reason = "Bad Request"; break;
    case 401: reason = "Unauthorized"; break;
    case 403: reason = "Forbidden"; break;
    case 404: reason = "Not Found"; break;
    case 405: reason = "Method Not Allowed"; break;
    case 413: reason = "Content Too Large"; break;
    case 431: reason = "Request Header Fields Too Large"; break;
    case 500: reason = "Internal Server Error"; break;
    case 501: reason = "Not Implemented"; break;
    case 502: reason = "Bad Gateway"; break;
    case 503: reason = "Service Unavailable"; break;
    default: break;
    }
    return "HTTP/1.1 " + QByteArray::number(status) + " " + reason + "\r\n";
}

void HttpResponse::write_head(int status, HttpHeaders headers, bool close_after)
{
    HttpConnection* c = live();
    if (!c)
        return;
    close_after_ = close_after || !keep_alive_;
    if (close_after_ && !find_header(headers, "Connection"))
        headers.append(HttpHeaders::value_type("Connection", "close"));
    QByteArray head = status_line(status);
    for (const auto& h : headers)
        head += h.first + ": " + h.second + "\r\n";
    head += "\r\n";
    c->write(head);
}

void HttpResponse::reply(int status, const QByteArray& content_type, const QByteArray& body)
{
    reply(status, HttpHeaders{{"Content-Type", content_type}}, body);
}

void HttpResponse::reply(int status, const HttpHeaders& headers, const QByteArray& body)
{
    if (!live())
        return;
    HttpHeaders h = headers;
    bool lying = false;
    if (const QByteArray* cl = find_header(h, "Content-Length"))
        lying = *cl != QByteArray::number(body.size());
    else
        h.append(HttpHeaders::value_type("Content-Length", QByteArray::number(body.size())));
    write_head(status, h, lying);
    write_raw(body);
    if (close_after_)
        close();
    else
        finish();
}

void HttpResponse::stream(int status, const HttpHeaders& headers, Pull pull, Framing framing)
{
    HttpConnection* c = live();
    if (!c)
        return;
    HttpHeaders h = headers;
    if (framing == Chunked)
        h.append(HttpHeaders::value_type("Transfer-Encoding", "chunked"));
    write_head(status, h, framing == UntilClose);
    // A Raw answer that is to close after it still ends with the connection.
    c->start_pull(std::move(pull), framing == Raw && close_after_ ? UntilClose : framing);
}

void HttpResponse::trickle(int status, const HttpHeaders& headers, const QByteArray& body,
                           int bytes_per_step, int interval_ms)
{
    HttpHeaders h = headers;
    bool lying = false;
    if (const QByteArray* cl = find_header(h, "Content-Length"))
        lying = *cl != QByteArray::number(body.size());
    else
        h.append(HttpHeaders::value_type("Content-Length", QByteArray::number(body.size())));
    const int step = qMax(1, bytes_per_step);
    stream(status, h,
           [body, step, interval_ms, pos = qsizetype(0)](QByteArray& out) mutable {
               if (pos >= body.size())
                   return End;
               out = body.mid(pos, step);
               pos += out.size();
               return pos >= body.size() ? End : qMax(1, interval_ms);
           },
           lying ? UntilClose : Raw);
}

void HttpResponse::reply_then_close(int status, const HttpHeaders& headers, const QByteArray& body,
                                    qint64 body_bytes_sent)
{
    if (!live())
        return;
    HttpHeaders h = headers;
    if (!find_header(h, "Content-Length"))
        h.append(HttpHeaders::value_type("Content-Length", QByteArray::number(body.size())));
    write_head(status, h, true);
    write_raw(body.left(qBound<qint64>(0, body_bytes_sent, body.size())));
    close();
}

void HttpResponse::reply_until_close(int status, const HttpHeaders& headers, const QByteArray& body)
{
    if (!live())
        return;
    write_head(status, headers, true);
    write_raw(body);
    close();
}

void HttpResponse::after(int ms, std::function<void()> fn)
{
    if (HttpConnection* c = conn_.data())
        QTimer::singleShot(ms, c, std::move(fn));
}

void HttpResponse::post(std::function<void()> fn)
{
    // The core outlives every connection and is only reached through the server's thread.
    QObject* target = core_;
    if (!target)
        return;
    std::weak_ptr<HttpResponse> weak = self_;
    QMetaObject::invokeMethod(
        target,
        [weak, fn = std::move(fn)] {
            if (auto self = weak.lock(); self && self->conn_)
                fn();
        },
        Qt::QueuedConnection);
}

void HttpResponse::write_raw(const QByteArray& bytes)
{
    if (HttpConnection* c = live())
        c->write(bytes);
}

void HttpResponse::finish()
{
    HttpConnection* c = live();
    if (!c)
        return;
    done_ = true;
    c->response_finished(close_after_);
}

void HttpResponse::close()
{
    HttpConnection* c = live();
    if (!c)
        return;
    done_ = true;
    c->close_gracefully();
}

void HttpResponse::drop()
{
    HttpConnection* c = live();
    if (!c)
        return;
    done_ = true;
    c->drop_now();
}

HttpResponse::Pull HttpResponse::pull_file(const QString& path, qint64 chunk)
{
    auto file = std::make_shared<QFile>(path);
    return [file, chunk, opened = false](QByteArray& out) mutable {
        if (!opened) {
            opened = true;
            if (!file->open(QIODevice::ReadOnly))
                return Drop;
        }
        out = file->read(chunk);
        if (out.isEmpty())
            return file->atEnd() ? End : Drop;
        return 0;
    };
}

// ---------------------------------------------------------------------------------------------
void Gate::hold(const HttpResponsePtr& res, std::function<void()> fn)
{
    {
        QMutexLocker lock(&mutex_);
        if (!open_) {
            waiting_.emplace_back(res, std::move(fn));
            return;
        }
    }
    fn();
}

void Gate::release()
{
    decltype(waiting_) held;
    {
        QMutexLocker lock(&mutex_);
        open_ = true;
        held.swap(waiting_);
    }
    for (auto& [weak, fn] : held)
        if (auto res = weak.lock())
            res->post(std::move(fn));
}

int Gate::held() const
{
    QMutexLocker lock(&mutex_);
    return int(waiting_.size());
}

// ---------------------------------------------------------------------------------------------
LoopbackServer::LoopbackServer(Scheme scheme, TlsMaterial tls, QObject* parent)
    : QObject(parent), scheme_(scheme), tls_(std::move(tls))
{
    if (scheme_ == Https && tls_.isNull())
        tls_ = TlsMaterial::generate();
    thread_.setObjectName(QStringLiteral("LoopbackServer"));
    core_ = new LoopbackCore(this);
    core_->moveToThread(&thread_);
    connect(&thread_, &QThread::finished, core_, &QObject::deleteLater);
    thread_.start();
    bool ok = false;
    QMetaObject::invokeMethod(
        core_,
        [this, &ok] {
            ok = core_->listen(QHostAddress(QHostAddress::LocalHost), 0);
            port_ = core_->serverPort();
        },
        Qt::BlockingQueuedConnection);
    if (!ok)
        qFatal("LoopbackServer: cannot listen on 127.0.0.1");
}

LoopbackServer::~LoopbackServer()
{
    QMetaObject::invokeMethod(core_, [this] { core_->shutdown(); }, Qt::BlockingQueuedConnection);
    thread_.quit();
    thread_.wait();
}

QUrl LoopbackServer::url(const QString& path) const
{
    return QUrl(url_string(path));
}

QString LoopbackServer::url_string(const QString& path) const
{
    return QStringLiteral("%1://127.0.0.1:%2%3")
        .arg(scheme_ == Https ? QStringLiteral("https") : QStringLiteral("http"))
        .arg(port_)
        .arg(path.startsWith(QLatin1Char('/')) ? path : QLatin1Char('/') + path);
}

void LoopbackServer::route(const QByteArray& method, const QByteArray& path, HttpHandler handler,
                           RouteOptions options)
{
    QMutexLocker lock(&mutex_);
    for (Route& r : routes_) {
        if (!r.prefix && r.method == method && r.path == path) {
            r.handler = std::move(handler);
            r.options = options;
            return;
        }
    }
    routes_.append(Route{method, path, false, std::move(handler), options});
}

void LoopbackServer::route_prefix(const QByteArray& method, const QByteArray& prefix,
                                  HttpHandler handler, RouteOptions options)
{
    QMutexLocker lock(&mutex_);
    for (Route& r : routes_) {
        if (r.prefix && r.method == method && r.path == prefix) {
            r.handler = std::move(handler);
            r.options = options;
            return;
        }
    }
    routes_.append(Route{method, prefix, true, std::move(handler), options});
}

bool LoopbackServer::find_route(const QByteArray& method, const QByteArray& path, Route* out) const
{
    QMutexLocker lock(&mutex_);
    const Route* best = nullptr;
    for (const Route& r : routes_) {
        if (r.method != method && r.method != "*")
            continue;
        if (!r.prefix) {
            if (r.path == path && (!best || best->prefix || best->method == "*")) {
                best = &r;
            }
        } else if (path.startsWith(r.path)
                   && (!best || (best->prefix && r.path.size() > best->path.size()))) {
            best = &r;
        }
    }
    if (!best)
        return false;
    *out = *best;
    return true;
}

int LoopbackServer::record(const HttpRequest& req)
{
    int index = 0;
    {
        QMutexLocker lock(&mutex_);
        requests_.append(req);
        index = int(requests_.size()) - 1;
    }
    emit request_received(index);
    return index;
}

QList<HttpRequest> LoopbackServer::requests() const
{
    QMutexLocker lock(&mutex_);
    return requests_;
}

int LoopbackServer::request_count() const
{
    QMutexLocker lock(&mutex_);
    return int(requests_.size());
}

HttpRequest LoopbackServer::last_request() const
{
    QMutexLocker lock(&mutex_);
    return requests_.isEmpty() ? HttpRequest() : requests_.last();
}

void LoopbackServer::clear_requests()
{
    QMutexLocker lock(&mutex_);
    requests_.clear();
}

int LoopbackServer::connections_accepted() const
{
    QMutexLocker lock(&mutex_);
    return connections_;
}

bool LoopbackServer::wait_for_requests(int n, int timeout_ms) const
{
    QDeadlineTimer deadline(timeout_ms);
    while (request_count() < n) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(2);
    }
    return true;
}
