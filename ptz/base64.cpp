#include "ptz/base64.h"

namespace {

const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int value_of(QChar c)
{
    const char16_t u = c.unicode();
    if (u >= 'A' && u <= 'Z')
        return u - 'A';
    if (u >= 'a' && u <= 'z')
        return u - 'a' + 26;
    if (u >= '0' && u <= '9')
        return u - '0' + 52;
    if (u == '+')
        return 62;
    if (u == '/')
        return 63;
    return -1;
}

} // namespace

QString Base64::encode(const QByteArray& bytes)
{
    QString out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    const auto* b = reinterpret_cast<const unsigned char*>(bytes.constData());
    const qsizetype n = bytes.size();
    qsizetype i = 0;
    for (; i + 2 < n; i += 3) {
        const quint32 v = (quint32(b[i]) << 16) | (quint32(b[i + 1]) << 8) | b[i + 2];
        out += QLatin1Char(alphabet[(v >> 18) & 63]);
        out += QLatin1Char(alphabet[(v >> 12) & 63]);
        out += QLatin1Char(alphabet[(v >> 6) & 63]);
        out += QLatin1Char(alphabet[v & 63]);
    }
    if (n - i == 1) {
        const quint32 v = quint32(b[i]) << 16;
        out += QLatin1Char(alphabet[(v >> 18) & 63]);
        out += QLatin1Char(alphabet[(v >> 12) & 63]);
        out += QLatin1String("==");
    } else if (n - i == 2) {
        const quint32 v = (quint32(b[i]) << 16) | (quint32(b[i + 1]) << 8);
        out += QLatin1Char(alphabet[(v >> 18) & 63]);
        out += QLatin1Char(alphabet[(v >> 12) & 63]);
        out += QLatin1Char(alphabet[(v >> 6) & 63]);
        out += QLatin1Char('=');
    }
    return out;
}

QByteArray Base64::decode(const QString& text)
{
    QByteArray out;
    out.reserve(text.size() / 4 * 3 + 2);
    quint32 acc = 0;
    int count = 0;
    for (QChar c : text) {
        const int v = value_of(c);
        if (v < 0)
            break; // "=" or any other character ends the data
        acc = (acc << 6) | quint32(v);
        if (++count == 4) {
            out += char((acc >> 16) & 0xff);
            out += char((acc >> 8) & 0xff);
            out += char(acc & 0xff);
            acc = 0;
            count = 0;
        }
    }
    if (count == 2) {
        out += char((acc >> 4) & 0xff);
    } else if (count == 3) {
        out += char((acc >> 10) & 0xff);
        out += char((acc >> 2) & 0xff);
    }
    return out;
}
