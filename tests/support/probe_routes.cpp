#include "tests/support/probe_routes.h"

void add_probe_body_route(LoopbackServer& server, qint64 bytes)
{
    server.route("GET", "/lib/256k.bytes", [bytes](const HttpRequest&, HttpResponsePtr res) {
        const HttpHeaders h{{"Content-Type", "application/octet-stream"}, {"Content-Length", QByteArray::number(bytes)}};
        res->stream(200, h,
                    [pos = qint64(0), bytes](QByteArray& out) mutable {
                        const qint64 n = qMin<qint64>(256 * 1024, bytes - pos);
                        out = QByteArray(n, 'z');
                        pos += n;
                        return pos >= bytes ? HttpResponse::End : 0;
                    },
                    HttpResponse::Raw);
    });
}

void add_probe_routes(LoopbackServer& server, ProbeRoute kind)
{
    switch (kind) {
    case ProbeRoute::Body256k:
        add_probe_body_route(server, 262144);
        return;
    case ProbeRoute::Silent:
        server.route("GET", "/lib/256k.bytes", [](const HttpRequest&, HttpResponsePtr) {});
        return;
    case ProbeRoute::Endless:
        server.route("GET", "/lib/256k.bytes", [](const HttpRequest&, HttpResponsePtr res) {
            res->stream(200, {{"Content-Type", "application/octet-stream"}}, [](QByteArray& out) {
                out = QByteArray(64 * 1024, 'e');
                return 10;
            });
        });
        return;
    case ProbeRoute::RedirectFile:
        server.route("GET", "/lib/256k.bytes", [](const HttpRequest&, HttpResponsePtr res) {
            res->reply(302, HttpHeaders{{"Location", "file:///etc/hostname"}, {"Content-Length", "0"}}, QByteArray());
        });
        return;
    case ProbeRoute::NotFound:
        server.route("GET", "/lib/256k.bytes", [](const HttpRequest&, HttpResponsePtr res) {
            res->reply(404, "text/plain", "no such file");
        });
        return;
    }
}
