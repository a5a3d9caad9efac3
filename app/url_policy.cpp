#include "app/url_policy.h"

#include <QHostAddress>

namespace zq {

bool is_loopback_host(const QString& host)
{
    if (host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0)
        return true;
    const QHostAddress address(host);
    return !address.isNull() && address.isLoopback();
}

QString refused_url_reason(const QUrl& url)
{
    const QString scheme = url.scheme().toLower();
    if (!url.isRelative() && scheme != QLatin1String("https") && scheme != QLatin1String("http"))
        return QStringLiteral("Adresse refusée (https, ou http local seulement) : %1").arg(url.toString());
    if (!url.isValid() || url.isRelative() || url.host().isEmpty())
        return QStringLiteral("Adresse invalide : %1").arg(url.toString());
    if (scheme == QLatin1String("https"))
        return {};
    if (scheme == QLatin1String("http") && is_loopback_host(url.host()))
        return {};
    return QStringLiteral("Adresse refusée (https, ou http local seulement) : %1").arg(url.toString());
}

} // namespace zq
