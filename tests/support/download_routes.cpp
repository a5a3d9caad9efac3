#include "tests/support/download_routes.h"

#include <QCryptographicHash>

namespace DownloadRoutes {

QByteArray digest_value(const QByteArray& body, Digest form)
{
    const QByteArray sha = QCryptographicHash::hash(body, QCryptographicHash::Sha256);
    switch (form) {
    case Digest::Right:
        return "sha-256=" + sha.toHex();
    case Digest::RightUpper:
        return "sha-256=" + sha.toHex().toUpper();
    case Digest::Base64:
        return "sha-256=:" + sha.toBase64() + ":";
    case Digest::Wrong:
        return "sha-256=" + QCryptographicHash::hash(body + "x", QCryptographicHash::Sha256).toHex();
    case Digest::Malformed:
        return "sha-256=not-a-digest";
    case Digest::None:
        break;
    }
    return QByteArray();
}

void add(LoopbackServer& server, const Route& route)
{
    server.route("GET", route.path, [route](const HttpRequest& req, HttpResponsePtr res) {
        const bool want_hash = req.url_query().queryItemValue(QStringLiteral("file_hash")) == QLatin1String("1");
        HttpHeaders file_headers{{"Content-Type", "application/force-download"}};
        if (want_hash && route.digest != Digest::None)
            file_headers.append({"Content-Digest", digest_value(route.body, route.digest)});
        switch (route.answer) {
        case Answer::File:
            return res->reply(200, file_headers, route.body);
        case Answer::NoContentType: {
            HttpHeaders h = file_headers;
            h.removeFirst();
            return res->reply(200, h, route.body);
        }
        case Answer::Html500:
            return res->reply(500, "text/html; charset=utf-8",
                              "<html><head><title>500 Internal Server Error</title></head>\n<body><h1>500 Internal "
                              "Server Error</h1></body></html>");
        case Answer::HtmlOther:
            return res->reply(200, "text/html", "<html><body>maintenance</body></html>");
        case Answer::Json:
            return res->reply(200, "application/json", "{\"ZQRETURN_CODE\":\"" + route.json_code + "\"}");
        case Answer::JsonNoCode:
            return res->reply(200, "application/json", "{}");
        case Answer::TextError:
            return res->reply(200, file_headers, "Error: no such file\nsecond line\n");
        case Answer::Empty:
            return res->reply(200, file_headers, QByteArray());
        case Answer::NotFound:
            return res->reply(404, "text/plain", "not found\n");
        case Answer::Drop: {
            HttpHeaders h = file_headers;
            h.append({"Content-Length", QByteArray::number(route.body.size())});
            return res->reply_then_close(200, h, route.body, route.body.size() / 2);
        }
        case Answer::Trickle:
            return res->trickle(200, file_headers, route.body, 64, 20);
        case Answer::Silence:
            return; // the connection stays open, unanswered
        case Answer::RedirectHttp:
            return res->reply(302, HttpHeaders{{"Location", route.redirect_to}, {"Content-Length", "0"}}, QByteArray());
        case Answer::RedirectLoop:
            return res->reply(302, HttpHeaders{{"Location", req.target}, {"Content-Length", "0"}}, QByteArray());
        }
    });
}

} // namespace DownloadRoutes
