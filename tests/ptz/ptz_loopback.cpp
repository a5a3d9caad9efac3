#include "ptz_loopback.h"

#include "tests/support/loopback_server.h"

struct LoopbackOnvif::Impl
{
    FakeOnvifDevice device; // outlives the server, whose thread calls it
    LoopbackServer server;
    explicit Impl(bool https) : server(https ? LoopbackServer::Https : LoopbackServer::Http)
    {
        add_onvif_routes(server, device);
    }
};

LoopbackOnvif::LoopbackOnvif(bool https) : d(std::make_unique<Impl>(https)) {}
LoopbackOnvif::~LoopbackOnvif() = default;

FakeOnvifDevice& LoopbackOnvif::device()
{
    return d->device;
}

QString LoopbackOnvif::scheme() const
{
    return d->server.scheme() == LoopbackServer::Https ? QStringLiteral("https") : QStringLiteral("http");
}

QString LoopbackOnvif::port() const
{
    return QString::number(d->server.port());
}

QList<QSslCertificate> LoopbackOnvif::ca() const
{
    if (d->server.tls().isNull())
        return {};
    return {d->server.tls().ca_certificate()};
}

struct LoopbackWeb::Impl
{
    FakePtzWeb web;
    LoopbackServer server;
    explicit Impl(bool https) : server(https ? LoopbackServer::Https : LoopbackServer::Http)
    {
        add_ptz_web_routes(server, web);
    }
};

LoopbackWeb::LoopbackWeb(bool https) : d(std::make_unique<Impl>(https)) {}
LoopbackWeb::~LoopbackWeb() = default;

FakePtzWeb& LoopbackWeb::web()
{
    return d->web;
}

QString LoopbackWeb::url(const QString& path) const
{
    return d->server.url_string(path);
}

QList<QSslCertificate> LoopbackWeb::ca() const
{
    if (d->server.tls().isNull())
        return {};
    return {d->server.tls().ca_certificate()};
}

QString LoopbackWeb::ca_file() const
{
    return d->server.tls().isNull() ? QString() : d->server.tls().ca_file();
}
