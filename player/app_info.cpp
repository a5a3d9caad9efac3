#include "player/app_info.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

namespace {

const QRegularExpression& rootNameRule()
{
    static const QRegularExpression rule(QStringLiteral("^(?:zqcore)_[0-9a-f]{4}(?:-[0-9a-f]{4}){3}$"),
                                         QRegularExpression::CaseInsensitiveOption);
    return rule;
}

} // namespace

AppInfo::AppInfo(QObject* parent)
    : QObject(parent)
{
}

QString AppInfo::appDir() const
{
    return QCoreApplication::applicationDirPath();
}

QString AppInfo::workingDir() const
{
    return QDir::currentPath();
}

QString AppInfo::parentAppDir() const
{
    return parentAppDirOf(appDir());
}

QString AppInfo::parentZQCoreDir() const
{
    return findZQCoreRoot(appDir());
}

QString AppInfo::parentAppDirOf(const QString& appDir)
{
    QDir dir(appDir);
    const bool inBin = dir.dirName() == QLatin1String("bin");
    dir.cdUp();
    if (inBin)
        dir.cdUp();
    return dir.absolutePath();
}

QString AppInfo::findZQCoreRoot(const QString& path)
{
    QString start;
    if (path.isEmpty()) {
        start = QCoreApplication::applicationDirPath();
    } else {
        const QFileInfo info(path);
        start = info.isDir() ? info.absoluteFilePath() : info.absolutePath();
    }
    QDir dir(QDir::cleanPath(start));
    while (true) {
        if (rootNameRule().match(dir.dirName()).hasMatch())
            return dir.absolutePath();
        if (dir.isRoot() || !dir.cdUp())
            return QString();
    }
}
