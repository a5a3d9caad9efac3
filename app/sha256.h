#pragma once

#include <QByteArray>
#include <QString>

#include <memory>

class QIODevice;

namespace zq {

// Incremental SHA-256 through OpenSSL EVP (several times faster than
// QCryptographicHash on large files).
class Sha256
{
public:
    Sha256();
    ~Sha256();
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;

    void add(const char* data, qint64 size);
    void add(const QByteArray& data) { add(data.constData(), data.size()); }
    // Reads the device to its end (or up to limit bytes when limit >= 0);
    // returns false on a read error.
    bool addDevice(QIODevice& device, qint64 limit = -1);
    // Lower-case hexadecimal; the hash cannot be fed afterwards.
    QString hexDigest();

    // The lower-case hexadecimal digest of a file, empty when it cannot be read.
    static QString ofFile(const QString& path);

private:
    struct Context;
    std::unique_ptr<Context> m_context;
};

} // namespace zq
