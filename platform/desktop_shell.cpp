#include "platform/desktop_shell.h"

#include <QDesktopServices>
#include <QUrl>

namespace zq::platform {

bool open_with_shell(const QString& path)
{
    if (path.isEmpty())
        return false;
    return QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

} // namespace zq::platform
