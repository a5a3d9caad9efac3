#include "tests/support/ptz_web_routes.h"

#include <QCryptographicHash>
#include <QMutexLocker>
#include <QRegularExpression>

#include "tests/support/loopback_server.h"

namespace {

QByteArray md5_hex(const QByteArray& s)
{
    return QCryptographicHash::hash(s, QCryptographicHash::Md5).toHex();
}

const QByteArray server_nonce = "0a4f113b9c9d4b1e8e2f5a6b7c8d9e0f";

} // namespace

void FakePtzWeb::delay_next(int ms, int count)
{
    QMutexLocker lock(&mutex);
    delay_ms = ms;
    delay_count = count;
}

void FakePtzWeb::stall_next(int count)
{
    QMutexLocker lock(&mutex);
    stall_count = count;
}

void FakePtzWeb::fail_next(int count)
{
    QMutexLocker lock(&mutex);
    fail_count = count;
}

QList<FakePtzWeb::Request> FakePtzWeb::requests() const
{
    QMutexLocker lock(&mutex);
    return received;
}

bool FakePtzWeb::digest_ok(const QByteArray& method, const QString& path, const QString& query,
                           const QByteArray& header)
{
    if (!header.startsWith("Digest "))
        return false;
    QHash<QByteArray, QByteArray> f;
    static const QRegularExpression field(QStringLiteral("(\\w+)=(?:\"([^\"]*)\"|([^,\\s]*))"));
    auto it = field.globalMatch(QString::fromLatin1(header.mid(7)));
    while (it.hasNext()) {
        const auto m = it.next();
        f.insert(m.captured(1).toLatin1(), (m.captured(2).isNull() ? m.captured(3) : m.captured(2)).toLatin1());
    }
    const QByteArray uri = (path + (query.isEmpty() ? QString() : QLatin1Char('?') + query)).toLatin1();
    if (f.value("username") != user.toUtf8() || f.value("realm") != realm || f.value("nonce") != server_nonce
        || f.value("uri") != uri || f.value("qop") != "auth")
        return false;
    const QByteArray ha1 = md5_hex(user.toUtf8() + ':' + realm + ':' + password.toUtf8());
    const QByteArray ha2 = md5_hex(method + ':' + uri);
    const QByteArray expected = md5_hex(ha1 + ':' + server_nonce + ':' + f.value("nc") + ':' + f.value("cnonce")
                                        + ":auth:" + ha2);
    return f.value("response") == expected;
}

FakePtzWeb::Answer FakePtzWeb::handle(const QByteArray& method, const QString& path, const QString& query,
                                      const QHash<QByteArray, QByteArray>& headers, const QByteArray& body)
{
    QMutexLocker lock(&mutex);
    received.append(Request{method, path, query, headers, body});
    Answer a;
    a.headers.insert("Content-Type", "text/plain");
    if (path == QLatin1String("/digest")) {
        if (!digest_ok(method, path, query, headers.value("authorization"))) {
            a.status = 401;
            a.headers.insert("WWW-Authenticate", "Digest realm=\"" + realm + "\", qop=\"auth\", algorithm=MD5, nonce=\""
                                                     + server_nonce + "\", opaque=\"5ccc069c403ebaf9f0171e9517f40e41\"");
            a.body = "unauthorised";
            return a;
        }
        a.body = "digest ok";
        return a;
    }
    if (path == QLatin1String("/notfound")) {
        a.status = 404;
        a.body = "no such thing here";
        return a;
    }
    if (path == QLatin1String("/trickle")) {
        a.body = QByteArray(4000, 'x');
        a.trickle_interval_ms = 200;
        a.trickle_step = 20; // 40 s in all: cancelled long before
        return a;
    }
    if (path == QLatin1String("/put")) {
        a.body = "method=" + method + " length=" + headers.value("content-length", "none") + " body=" + body;
        return a;
    }
    // The control page.
    if (stall_count > 0) {
        --stall_count;
        a.stall = true;
        return a;
    }
    if (delay_count > 0) {
        --delay_count;
        a.delay_ms = delay_ms;
    }
    if (fail_count > 0) {
        --fail_count;
        a.status = 500;
        a.body = "server error";
        return a;
    }
    a.body = "OK";
    return a;
}

void add_ptz_web_routes(LoopbackServer& server, FakePtzWeb& web)
{
    server.route_prefix("*", "/", [&web](const HttpRequest& req, HttpResponsePtr res) {
        QHash<QByteArray, QByteArray> headers;
        for (const auto& h : req.headers)
            headers.insert(h.first.toLower(), h.second);
        const FakePtzWeb::Answer a = web.handle(req.method, QString::fromUtf8(req.path),
                                                QString::fromUtf8(req.query), headers, req.body);
        if (a.stall)
            return;
        HttpHeaders out;
        for (auto it = a.headers.cbegin(); it != a.headers.cend(); ++it)
            out.append({it.key(), it.value()});
        if (a.trickle_interval_ms > 0) {
            res->trickle(a.status, out, a.body, a.trickle_step, a.trickle_interval_ms);
            return;
        }
        auto send = [res, status = a.status, out, body = a.body] { res->reply(status, out, body); };
        if (a.delay_ms > 0)
            res->after(a.delay_ms, send);
        else
            send();
    });
}
