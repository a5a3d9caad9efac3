#include "app/sha256.h"

#include <QFile>
#include <QIODevice>

#include <openssl/evp.h>

namespace zq {

struct Sha256::Context
{
    EVP_MD_CTX* ctx = nullptr;
    bool finished = false;
};

Sha256::Sha256()
    : m_context(std::make_unique<Context>())
{
    m_context->ctx = EVP_MD_CTX_new();
    if (m_context->ctx)
        EVP_DigestInit_ex(m_context->ctx, EVP_sha256(), nullptr);
}

Sha256::~Sha256()
{
    EVP_MD_CTX_free(m_context->ctx);
}

void Sha256::add(const char* data, qint64 size)
{
    if (m_context->ctx && !m_context->finished && size > 0)
        EVP_DigestUpdate(m_context->ctx, data, size_t(size));
}

bool Sha256::addDevice(QIODevice& device, qint64 limit)
{
    QByteArray buffer(1 << 20, Qt::Uninitialized);
    qint64 left = limit;
    while (limit < 0 || left > 0) {
        const qint64 want = limit < 0 ? buffer.size() : std::min<qint64>(buffer.size(), left);
        const qint64 got = device.read(buffer.data(), want);
        if (got < 0)
            return false;
        if (got == 0)
            return limit < 0 || left == 0;
        add(buffer.constData(), got);
        left -= got;
    }
    return true;
}

QString Sha256::hexDigest()
{
    if (!m_context->ctx || m_context->finished)
        return {};
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    m_context->finished = true;
    if (EVP_DigestFinal_ex(m_context->ctx, digest, &length) != 1)
        return {};
    return QString::fromLatin1(QByteArray(reinterpret_cast<const char*>(digest), int(length)).toHex());
}

QString Sha256::ofFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    Sha256 hash;
    if (!hash.addDevice(file))
        return {};
    return hash.hexDigest();
}

} // namespace zq
