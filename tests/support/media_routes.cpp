#include "tests/support/media_routes.h"

#include <QRegularExpression>

void add_media_route(LoopbackServer& server, const QByteArray& path, const QByteArray& bytes,
                     const QByteArray& seek_location)
{
    server.route("GET", path, [bytes, seek_location](const HttpRequest& req, HttpResponsePtr res) {
        const QByteArray range = req.header("Range").trimmed();
        if (range.isEmpty())
            return res->reply(200, "application/octet-stream", bytes);
        static const QRegularExpression form(QStringLiteral("^bytes=(\\d+)-(\\d*)$"));
        const QRegularExpressionMatch m = form.match(QString::fromLatin1(range));
        if (!m.hasMatch())
            return res->reply(416, "text/plain", "bad range");
        const qint64 first = m.captured(1).toLongLong();
        const qint64 last = m.captured(2).isEmpty() ? bytes.size() - 1 : qMin<qint64>(m.captured(2).toLongLong(), bytes.size() - 1);
        if (first > 0 && !seek_location.isEmpty())
            return res->reply(302, HttpHeaders{{"Location", seek_location}, {"Content-Length", "0"}}, QByteArray());
        if (first >= bytes.size() || last < first)
            return res->reply(416, HttpHeaders{{"Content-Range", "bytes */" + QByteArray::number(bytes.size())}},
                              QByteArray());
        res->reply(206,
                   HttpHeaders{{"Content-Type", "application/octet-stream"},
                               {"Content-Range", "bytes " + QByteArray::number(first) + "-" + QByteArray::number(last)
                                                     + "/" + QByteArray::number(bytes.size())}},
                   bytes.mid(first, last - first + 1));
    });
}
