#include "platform/theme.h"

#include <QByteArray>
#include <QColor>
#include <QGuiApplication>
#include <QPalette>

namespace zq::platform {

bool uses_light_theme(const QPalette& palette)
{
    const QByteArray forced = qgetenv("ZQPLAYER_THEME").trimmed().toLower();
    if (forced == "light")
        return true;
    if (forced == "dark")
        return false;
    return palette.color(QPalette::Window).lightness() >= 128;
}

bool uses_light_theme()
{
    return uses_light_theme(QGuiApplication::palette());
}

} // namespace zq::platform
