#include "tests/support/tls_material.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtGlobal>

#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

struct TlsMaterial::Data
{
    QByteArray ca_pem;
    QByteArray cert_pem;
    QByteArray key_pem;
    std::unique_ptr<QTemporaryDir> dir;
    QString ca_file;
};

namespace {

[[noreturn]] void fail(const char* what)
{
    qFatal("TlsMaterial: %s failed", what);
}

struct KeyDeleter { void operator()(EVP_PKEY* k) const { EVP_PKEY_free(k); } };
struct CertDeleter { void operator()(X509* c) const { X509_free(c); } };
using KeyPtr = std::unique_ptr<EVP_PKEY, KeyDeleter>;
using CertPtr = std::unique_ptr<X509, CertDeleter>;

KeyPtr make_key()
{
    KeyPtr key(EVP_EC_gen("P-256"));
    if (!key)
        fail("EVP_EC_gen");
    return key;
}

void add_ext(X509* cert, X509* issuer, int nid, const char* value)
{
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, issuer, cert, nullptr, nullptr, 0);
    X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value);
    if (!ext || !X509_add_ext(cert, ext, -1))
        fail("X509_add_ext");
    X509_EXTENSION_free(ext);
}

// A certificate for `key` named `cn`, signed by `issuer_key` (issuer certificate `issuer`, or
// self-signed when null).
CertPtr make_cert(EVP_PKEY* key, const char* cn, X509* issuer, EVP_PKEY* issuer_key, bool is_ca,
                  const char* san)
{
    CertPtr cert(X509_new());
    if (!cert)
        fail("X509_new");
    X509_set_version(cert.get(), 2);
    unsigned char serial_bytes[16];
    if (RAND_bytes(serial_bytes, sizeof serial_bytes) != 1)
        fail("RAND_bytes");
    serial_bytes[0] &= 0x7f;
    BIGNUM* bn = BN_bin2bn(serial_bytes, sizeof serial_bytes, nullptr);
    if (!bn || !BN_to_ASN1_INTEGER(bn, X509_get_serialNumber(cert.get())))
        fail("serial");
    BN_free(bn);
    X509_gmtime_adj(X509_getm_notBefore(cert.get()), -24 * 3600);
    X509_gmtime_adj(X509_getm_notAfter(cert.get()), 30L * 24 * 3600);
    X509_set_pubkey(cert.get(), key);
    X509_NAME* name = X509_get_subject_name(cert.get());
    X509_NAME_add_entry_by_txt(name, "O", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>("ZQPlayer tests"), -1, -1, 0);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>(cn),
                               -1, -1, 0);
    X509* signer = issuer ? issuer : cert.get();
    X509_set_issuer_name(cert.get(), X509_get_subject_name(signer));
    if (is_ca) {
        add_ext(cert.get(), signer, NID_basic_constraints, "critical,CA:TRUE");
        add_ext(cert.get(), signer, NID_key_usage, "critical,keyCertSign,cRLSign");
        add_ext(cert.get(), signer, NID_subject_key_identifier, "hash");
    } else {
        add_ext(cert.get(), signer, NID_basic_constraints, "critical,CA:FALSE");
        add_ext(cert.get(), signer, NID_key_usage, "critical,digitalSignature,keyEncipherment");
        add_ext(cert.get(), signer, NID_ext_key_usage, "serverAuth");
        add_ext(cert.get(), signer, NID_subject_key_identifier, "hash");
        add_ext(cert.get(), signer, NID_authority_key_identifier, "keyid");
        add_ext(cert.get(), signer, NID_subject_alt_name, san);
    }
    if (!X509_sign(cert.get(), issuer_key, EVP_sha256()))
        fail("X509_sign");
    return cert;
}

QByteArray bio_bytes(BIO* bio)
{
    char* data = nullptr;
    const long n = BIO_get_mem_data(bio, &data);
    QByteArray out(data, int(n));
    BIO_free(bio);
    return out;
}

QByteArray cert_to_pem(X509* cert)
{
    BIO* bio = BIO_new(BIO_s_mem());
    if (!bio || !PEM_write_bio_X509(bio, cert))
        fail("PEM_write_bio_X509");
    return bio_bytes(bio);
}

QByteArray key_to_pem(EVP_PKEY* key)
{
    BIO* bio = BIO_new(BIO_s_mem());
    if (!bio || !PEM_write_bio_PrivateKey(bio, key, nullptr, nullptr, 0, nullptr, nullptr))
        fail("PEM_write_bio_PrivateKey");
    return bio_bytes(bio);
}

} // namespace

TlsMaterial TlsMaterial::generate(Hosts hosts)
{
    KeyPtr ca_key = make_key();
    CertPtr ca = make_cert(ca_key.get(), "ZQPlayer test CA", nullptr, ca_key.get(), true, nullptr);
    KeyPtr key = make_key();
    const bool loopback = hosts == Loopback;
    CertPtr cert = make_cert(key.get(), loopback ? "127.0.0.1" : "wrong-host.invalid", ca.get(),
                             ca_key.get(), false,
                             loopback ? "IP:127.0.0.1,DNS:localhost" : "DNS:wrong-host.invalid");

    auto d = std::make_shared<Data>();
    d->ca_pem = cert_to_pem(ca.get());
    d->cert_pem = cert_to_pem(cert.get());
    d->key_pem = key_to_pem(key.get());
    d->dir = std::make_unique<QTemporaryDir>(QDir::temp().filePath("zq-tls-XXXXXX"));
    if (!d->dir->isValid())
        fail("QTemporaryDir");
    d->ca_file = d->dir->filePath("ca.pem");
    QFile f(d->ca_file);
    if (!f.open(QIODevice::WriteOnly) || f.write(d->ca_pem) != d->ca_pem.size())
        fail("writing the CA file");
    f.close();

    TlsMaterial m;
    m.d_ = std::move(d);
    return m;
}

QByteArray TlsMaterial::ca_pem() const { return d_ ? d_->ca_pem : QByteArray(); }
QString TlsMaterial::ca_file() const { return d_ ? d_->ca_file : QString(); }
QSslCertificate TlsMaterial::ca_certificate() const { return QSslCertificate(ca_pem(), QSsl::Pem); }
QByteArray TlsMaterial::cert_pem() const { return d_ ? d_->cert_pem : QByteArray(); }
QByteArray TlsMaterial::key_pem() const { return d_ ? d_->key_pem : QByteArray(); }
QSslCertificate TlsMaterial::certificate() const { return QSslCertificate(cert_pem(), QSsl::Pem); }
QSslKey TlsMaterial::private_key() const { return QSslKey(key_pem(), QSsl::Ec, QSsl::Pem); }
