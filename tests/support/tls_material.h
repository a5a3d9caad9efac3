#pragma once

#include <QByteArray>
#include <QSslCertificate>
#include <QSslKey>
#include <QString>

#include <memory>

// A certificate authority and a server certificate signed by it, made at test time with OpenSSL
// (EC P-256 keys, so making one costs milliseconds). Nothing is trusted system-wide: a client
// trusts the CA only through the configuration a test hands to it (QSslConfiguration CA list,
// CURLOPT_CAINFO = ca_file()).
//
// Every generate() makes a fresh CA, unrelated to every other one: trusting the CA of one
// TlsMaterial and connecting to a server using another gives a verification error.
class TlsMaterial
{
public:
    enum Hosts {
        Loopback,  // subjectAltName IP:127.0.0.1, DNS:localhost (the normal case)
        WrongHost, // subjectAltName DNS:wrong-host.invalid only: a host-name mismatch on 127.0.0.1
    };

    // Aborts the test (qFatal) when OpenSSL fails: nothing sensible can follow.
    static TlsMaterial generate(Hosts hosts = Loopback);

    TlsMaterial() = default;
    bool isNull() const { return !d_; }

    QByteArray ca_pem() const;
    // The CA written to a PEM file (for CURLOPT_CAINFO or `curl --cacert`); the file lives as long
    // as any copy of this TlsMaterial.
    QString ca_file() const;
    QSslCertificate ca_certificate() const;

    // The server's own identity.
    QByteArray cert_pem() const;
    QByteArray key_pem() const;
    QSslCertificate certificate() const;
    QSslKey private_key() const;

private:
    struct Data;
    std::shared_ptr<const Data> d_;
};
