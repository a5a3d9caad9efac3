// The web control's request URL from a hostile base address and session id:
// the session id must come back whole as the one PHPSESSID parameter, and
// never add a parameter of its own.

#include <QUrlQuery>

#include <cstdint>
#include <cstdlib>

#include "ptz/ptz_ctrl_web.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString input = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
    // First line: base address; the rest: session id.
    const qsizetype cut = input.indexOf(QLatin1Char('\n'));
    const QString base = cut < 0 ? QString() : input.left(cut);
    const QString session = cut < 0 ? input : input.mid(cut + 1);
    const QUrl url = PtzCtrlWeb::build_url(base, {{QStringLiteral("clic"), QStringLiteral("10,20")}}, 1920, 1080,
                                           session);
    // Judged on the wire form: QUrl leaves noncharacters such as U+FDE6
    // percent-encoded even when asked for decoded values, while the server
    // decodes every byte.
    const QUrlQuery query(url);
    const QStringList sessions = query.allQueryItemValues(QStringLiteral("PHPSESSID"), QUrl::FullyEncoded);
    const QUrlQuery base_query(QUrl(base, QUrl::TolerantMode));
    const int base_sessions =
        int(base_query.allQueryItemValues(QStringLiteral("PHPSESSID"), QUrl::FullyEncoded).size());
    if (sessions.size() != base_sessions + 1)
        std::abort();
    const QString received = QString::fromUtf8(QByteArray::fromPercentEncoding(sessions.last().toLatin1()));
    // QString holds UTF-16; lone surrogates cannot survive UTF-8.
    if (session.isValidUtf16() && received != session)
        std::abort();
    return 0;
}
