#include "platform/crash_handler.h"

#include <QFileInfo>
#include <QProcess>
#include <QStringList>

namespace zq::platform {

QString crash_handler_file_name()
{
#ifdef Q_OS_WIN
    return QStringLiteral("crashpad_handler.exe");
#else
    return QStringLiteral("crashpad_handler");
#endif
}

bool start_crash_handler(const QString& handlerPath, const QString& databasePath, const QString& metricsPath)
{
    const QFileInfo handler(handlerPath);
    if (!handler.exists() || !handler.isFile() || !handler.isExecutable())
        return false;
    // The handler uploads nothing itself (no address) and is restartable;
    // it runs beside the program, detached from it.
    const QStringList arguments{
        QStringLiteral("--database=") + databasePath,
        QStringLiteral("--metrics-dir=") + metricsPath,
        QStringLiteral("--no-rate-limit"),
    };
    return QProcess::startDetached(handlerPath, arguments);
}

} // namespace zq::platform
