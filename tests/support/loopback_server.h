#pragma once

// The one HTTP/HTTPS server every network test and benchmark talks to: 127.0.0.1, port 0, its own
// thread with its own event loop (so it keeps serving while the test's thread blocks in
// QSignalSpy::wait or a local event loop), one scheme per server object.
//
// Adding routes for your area: write tests/support/<area>_routes.h/.cpp (compiled into
// zq_test_support automatically) with a function that registers handlers on a server, e.g.
//
//     void add_stream_routes(LoopbackServer& server, const StreamScript& script)
//     {
//         server.route("GET", "/video.cgi", [script](const HttpRequest& req, HttpResponsePtr res) {
//             if (req.header("x-auth-token").isEmpty())
//                 return res->reply(401, "text/plain", "no token");
//             res->stream(200, {{"Content-Type", "multipart/x-mixed-replace; boundary=myboundary"}},
//                         [i = 0](QByteArray& out) mutable {
//                             if (i == 250) return HttpResponse::End;
//                             out = part(i++);   // "--myboundary\r\n" headers, body
//                             return 40;         // next part in 40 ms
//                         },
//                         HttpResponse::UntilClose);
//         });
//     }
//
// Handlers run on the server thread. They get the parsed request and a shared response; a handler
// may answer at once, later (keep the HttpResponsePtr, use after() or a Gate), or never (a stall:
// the connection stays open until the client gives up or the server is destroyed). Requests on one
// connection are served one after the other (keep-alive); every request is recorded.
//
//   reply(status, type, body)           whole answer with Content-Length
//   reply(status, headers, body)        your headers as given: a Content-Length that is not the
//                                       body's size is sent as is (a lie) and the connection closes
//   stream(status, headers, pull, ...)  body pulled from `pull` whenever the socket's write buffer
//                                       (encrypted bytes included) drains below a low mark: big
//                                       bodies never sit in memory; `pull` returns 0 (call again
//                                       at once), N > 0 (call again in N ms: pacing), End or Drop
//   trickle(status, headers, body, n, ms)   n bytes every ms milliseconds
//   reply_then_close(status, headers, body, n)   full headers, then n bytes of body, then close
//   reply_until_close(status, headers, body)     no Content-Length: the body ends with the connection
//   after(ms, fn)                       run fn on the server thread later (delays)
//   write_raw(bytes) / close() / drop() anything else, byte by byte (no framing added)
//   pull_file(path)                     a pull that reads a file in bounded chunks
//
// TLS: LoopbackServer server(LoopbackServer::Https) makes its own TlsMaterial (CA + certificate for
// 127.0.0.1 and localhost); server.tls().ca_certificate() / ca_file() / ca_pem() is what a client
// trusts. Pass TlsMaterial::generate(TlsMaterial::WrongHost) for a host-name mismatch, and trust
// another TlsMaterial::generate()'s CA for an untrusted certificate.

#include "tests/support/tls_material.h"

#include <QByteArray>
#include <QList>
#include <QMutex>
#include <QObject>
#include <QPair>
#include <QPointer>
#include <QString>
#include <QThread>
#include <QUrl>
#include <QUrlQuery>

#include <functional>
#include <memory>
#include <vector>

using HttpHeaders = QList<QPair<QByteArray, QByteArray>>;

struct HttpRequest
{
    QByteArray method;  // "GET", "POST", ...
    QByteArray target;  // as sent: path and query
    QByteArray path;    // before '?', not decoded
    QByteArray query;   // after '?', not decoded
    QByteArray version; // "HTTP/1.1"
    HttpHeaders headers; // in arrival order, names as sent
    QByteArray body;     // decoded (chunked request bodies are joined); empty when not stored
    qint64 body_size = 0;   // bytes of body received
    QByteArray body_sha256; // hex SHA-256 of the body, filled when the route does not store it
    bool chunked = false;   // the body came with Transfer-Encoding: chunked
    bool tls = false;
    int connection_id = 0; // 1, 2, ... per accepted connection: equal ids mean a reused connection
    int index_on_connection = 0; // 0 for the first request of a connection

    // First header of that name, any case; empty when absent.
    QByteArray header(const QByteArray& name) const;
    bool has_header(const QByteArray& name) const;
    QUrlQuery url_query() const { return QUrlQuery(QString::fromUtf8(query)); }
};

class HttpConnection;

// One answer, driven from the server thread. Calls after the answer ended (or after the
// connection went away) do nothing, so a handler can keep it and finish later.
class HttpResponse
{
public:
    // Return values of a Pull besides a delay in milliseconds (0 = as soon as the socket drains).
    static constexpr int End = -1;  // the body is complete
    static constexpr int Drop = -2; // cut the connection now (what was written so far is sent)
    using Pull = std::function<int(QByteArray& out)>;

    enum Framing {
        Chunked,    // Transfer-Encoding: chunked is added; each pull becomes a chunk
        Raw,        // bytes as pulled; your headers say the length; the connection stays open
        UntilClose, // bytes as pulled; the end of the body is the end of the connection
    };

    void reply(int status, const QByteArray& content_type, const QByteArray& body);
    void reply(int status, const HttpHeaders& headers, const QByteArray& body);
    void stream(int status, const HttpHeaders& headers, Pull pull, Framing framing = Chunked);
    void trickle(int status, const HttpHeaders& headers, const QByteArray& body,
                 int bytes_per_step, int interval_ms);
    void reply_then_close(int status, const HttpHeaders& headers, const QByteArray& body,
                          qint64 body_bytes_sent);
    void reply_until_close(int status, const HttpHeaders& headers, const QByteArray& body);

    // Runs fn on the server thread in ms milliseconds, unless the connection went away first.
    void after(int ms, std::function<void()> fn);
    // Runs fn on the server thread soon; callable from any thread.
    void post(std::function<void()> fn);

    void write_raw(const QByteArray& bytes);
    void finish();  // the answer written by hand is complete; the connection serves the next request
    void close();   // send what is buffered, then close
    void drop();    // close at once, discarding what is not sent yet

    bool done() const { return done_; }
    bool connected() const;

    static Pull pull_file(const QString& path, qint64 chunk = 256 * 1024);
    static QByteArray status_line(int status);

private:
    friend class HttpConnection;
    HttpResponse(HttpConnection* conn, QObject* core, bool keep_alive);
    HttpConnection* live() const;
    void write_head(int status, HttpHeaders headers, bool close_after);

    QPointer<HttpConnection> conn_;
    QPointer<QObject> core_;
    std::weak_ptr<HttpResponse> self_;
    bool keep_alive_;
    bool done_ = false;
    bool close_after_ = false;
};
using HttpResponsePtr = std::shared_ptr<HttpResponse>;
using HttpHandler = std::function<void(const HttpRequest&, HttpResponsePtr)>;

// Holds answers until the test releases them: a handler calls
// gate->hold(res, [res] { res->reply(...); }); the test calls gate->release() (any thread).
// Answers held after release() run at once.
class Gate
{
public:
    void hold(const HttpResponsePtr& res, std::function<void()> fn);
    void release();
    int held() const; // answers waiting now

private:
    mutable QMutex mutex_;
    bool open_ = false;
    std::vector<std::pair<std::weak_ptr<HttpResponse>, std::function<void()>>> waiting_;
};

class LoopbackCore;

struct LoopbackRouteOptions
{
    qint64 max_body = 64LL * 1024 * 1024; // larger bodies get 413 and a closed connection
    bool store_body = true; // false: count and hash the body (HttpRequest::body_sha256) only
};

class LoopbackServer : public QObject
{
    Q_OBJECT
public:
    enum Scheme { Http, Https };
    using RouteOptions = LoopbackRouteOptions;

    explicit LoopbackServer(Scheme scheme = Http, TlsMaterial tls = {}, QObject* parent = nullptr);
    ~LoopbackServer() override;

    quint16 port() const { return port_; }
    Scheme scheme() const { return scheme_; }
    // "http://127.0.0.1:PORT" + path (path starts with '/' and may hold a query).
    QUrl url(const QString& path = QStringLiteral("/")) const;
    QString url_string(const QString& path = QStringLiteral("/")) const;
    // Null for an Http server.
    const TlsMaterial& tls() const { return tls_; }

    // method "*" matches every method. An exact route wins over prefixes; the longest prefix wins.
    // Registering the same method and path again replaces the handler. Unmatched requests get 404.
    void route(const QByteArray& method, const QByteArray& path, HttpHandler handler,
               RouteOptions options = {});
    void route_prefix(const QByteArray& method, const QByteArray& prefix, HttpHandler handler,
                      RouteOptions options = {});

    QList<HttpRequest> requests() const;
    int request_count() const;
    HttpRequest last_request() const; // empty when none
    void clear_requests();
    int connections_accepted() const;
    // Spins the caller's event loop until n requests arrived in all, or the time-out.
    bool wait_for_requests(int n, int timeout_ms = 5000) const;

signals:
    // Emitted from the server thread for every complete request (index into requests()).
    void request_received(int index);

private:
    friend class LoopbackCore;
    friend class HttpConnection;
    struct Route
    {
        QByteArray method;
        QByteArray path;
        bool prefix;
        HttpHandler handler;
        RouteOptions options;
    };
    bool find_route(const QByteArray& method, const QByteArray& path, Route* out) const;
    RouteOptions options_for(const QByteArray& method, const QByteArray& path) const;
    int record(const HttpRequest& req);

    Scheme scheme_;
    TlsMaterial tls_;
    quint16 port_ = 0;
    QThread thread_;
    LoopbackCore* core_ = nullptr;

    mutable QMutex mutex_;
    QList<Route> routes_;
    QList<HttpRequest> requests_;
    int connections_ = 0;
};
