#pragma once

// The fake ONVIF camera and the web endpoints, served by the shared loopback
// test server (HTTP or HTTPS with the test CA).

#include <QList>
#include <QSslCertificate>
#include <QString>

#include <memory>

#include "tests/support/onvif_routes.h"
#include "tests/support/ptz_web_routes.h"

class LoopbackOnvif
{
public:
    explicit LoopbackOnvif(bool https = false);
    ~LoopbackOnvif();

    FakeOnvifDevice& device();
    QString scheme() const;
    QString port() const;
    QList<QSslCertificate> ca() const;

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

class LoopbackWeb
{
public:
    explicit LoopbackWeb(bool https = false);
    ~LoopbackWeb();

    FakePtzWeb& web();
    // Full address of a path on the server.
    QString url(const QString& path) const;
    QList<QSslCertificate> ca() const;
    // The CA as a PEM file, for libcurl.
    QString ca_file() const;

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};
