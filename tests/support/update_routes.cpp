#include "tests/support/update_routes.h"

#include <QFile>
#include <QFileInfo>

void add_update_text_route(LoopbackServer& server, const QByteArray& path, const QByteArray& body, int status,
                           const QByteArray& contentType)
{
    server.route("GET", path, [body, status, contentType](const HttpRequest&, HttpResponsePtr res) {
        res->reply(status, contentType, body);
    });
}

void add_installer_route(LoopbackServer& server, const QByteArray& path, const QString& file, InstallerMode mode)
{
    server.route("GET", path, [file, mode](const HttpRequest&, HttpResponsePtr res) {
        const qint64 size = QFileInfo(file).size();
        const HttpHeaders octets{{"Content-Type", "application/octet-stream"}};
        HttpHeaders withLength = octets;
        withLength.append({"Content-Length", QByteArray::number(size)});
        switch (mode) {
        case InstallerMode::Normal:
            res->stream(200, withLength, HttpResponse::pull_file(file), HttpResponse::Raw);
            return;
        case InstallerMode::NoLength:
            res->stream(200, octets, HttpResponse::pull_file(file), HttpResponse::UntilClose);
            return;
        case InstallerMode::Drop: {
            QFile f(file);
            if (!f.open(QIODevice::ReadOnly))
                return res->reply(500, "text/plain", "unreadable fixture");
            res->reply_then_close(200, withLength, f.readAll(), size / 2);
            return;
        }
        case InstallerMode::Silence:
            return; // the connection stays open, unanswered
        case InstallerMode::Trickle: {
            QFile f(file);
            if (!f.open(QIODevice::ReadOnly))
                return res->reply(500, "text/plain", "unreadable fixture");
            res->trickle(200, withLength, f.readAll(), 16, 50);
            return;
        }
        case InstallerMode::NotFound:
            res->reply(404, "text/plain", "not found");
            return;
        }
    });
}

void add_redirect_route(LoopbackServer& server, const QByteArray& path, const QByteArray& location)
{
    server.route("GET", path, [location](const HttpRequest&, HttpResponsePtr res) {
        res->reply(302, HttpHeaders{{"Location", location}, {"Content-Length", "0"}}, QByteArray());
    });
}

const FormPart* ParsedMultipart::part(const QByteArray& name) const
{
    for (const FormPart& p : parts)
        if (p.name == name)
            return &p;
    return nullptr;
}

namespace {
QByteArray headerParam(const QByteArray& header, const QByteArray& key)
{
    const QByteArray needle = key + "=\"";
    const int start = header.indexOf(needle);
    if (start < 0)
        return {};
    const int from = start + needle.size();
    const int end = header.indexOf('"', from);
    return end < 0 ? QByteArray() : header.mid(from, end - from);
}
} // namespace

ParsedMultipart parse_multipart(const HttpRequest& request)
{
    ParsedMultipart result;
    const QByteArray type = request.header("content-type");
    const int at = type.indexOf("boundary=");
    if (!type.startsWith("multipart/form-data") || at < 0)
        return result;
    QByteArray boundary = type.mid(at + 9);
    if (boundary.startsWith('"') && boundary.endsWith('"'))
        boundary = boundary.mid(1, boundary.size() - 2);
    result.boundary = boundary;
    const QByteArray body = request.body;
    const QByteArray delimiter = "--" + boundary;
    int pos = body.indexOf(delimiter);
    if (pos < 0)
        return result;
    for (;;) {
        pos += delimiter.size();
        if (body.mid(pos, 2) == "--") {
            result.ok = true;
            return result;
        }
        if (body.mid(pos, 2) != "\r\n")
            return result;
        pos += 2;
        const int headersEnd = body.indexOf("\r\n\r\n", pos);
        if (headersEnd < 0)
            return result;
        FormPart part;
        for (const QByteArray& line : body.mid(pos, headersEnd - pos).split('\n')) {
            const QByteArray l = line.trimmed();
            if (l.toLower().startsWith("content-disposition:")) {
                part.name = headerParam(l, "name");
                part.filename = headerParam(l, "filename");
            } else if (l.toLower().startsWith("content-type:")) {
                part.content_type = l.mid(13).trimmed();
            }
        }
        const int bodyStart = headersEnd + 4;
        const int next = body.indexOf("\r\n" + delimiter, bodyStart);
        if (next < 0)
            return result;
        part.body = body.mid(bodyStart, next - bodyStart);
        result.parts.append(part);
        pos = next + 2;
    }
}

QList<ParsedMultipart> CrashEndpointScript::receivedCopy() const
{
    QMutexLocker lock(&mutex);
    return received;
}

void add_crash_routes(LoopbackServer& server, std::shared_ptr<CrashEndpointScript> script)
{
    LoopbackRouteOptions options;
    options.store_body = script->store;
    options.max_body = script->store ? 64LL * 1024 * 1024 : (qint64(8) << 30);
    server.route(
        "POST", "/traitement",
        [script](const HttpRequest& req, HttpResponsePtr res) {
            {
                QMutexLocker lock(&script->mutex);
                script->sizes.append(req.body_size);
                if (script->store)
                    script->received.append(parse_multipart(req));
            }
            if (script->silent)
                return;
            auto answer = [script, res] { res->reply(script->status, script->content_type, script->reply); };
            if (script->gate)
                script->gate->hold(res, answer);
            else
                answer();
        },
        options);
}
