#pragma once

#include <QString>
#include <QUrl>

namespace zq {

// What the program fetches from or posts to: https, or http to a loopback
// host. Returns an empty text when the address is allowed, else the reason.
QString refused_url_reason(const QUrl& url);

bool is_loopback_host(const QString& host);

} // namespace zq
