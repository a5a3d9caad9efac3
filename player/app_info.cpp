#include "player/app_info.h"

#include "recordings/storage_layout.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

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
    // Worked on the text of the path: the folders need not exist.
    const QString clean = QDir::cleanPath(QFileInfo(appDir).absoluteFilePath());
    QString parent = QFileInfo(clean).absolutePath();
    if (QFileInfo(clean).fileName() == QLatin1String("bin"))
        parent = QFileInfo(parent).absolutePath();
    return parent;
}

QString AppInfo::findZQCoreRoot(const QString& path)
{
    QString folder;
    if (path.isEmpty()) {
        folder = QCoreApplication::applicationDirPath();
    } else {
        const QFileInfo info(path);
        folder = info.isDir() ? info.absoluteFilePath() : info.absolutePath();
    }
    folder = QDir::cleanPath(folder);
    while (true) {
        const QFileInfo info(folder);
        if (StorageLayout::is_root_folder_name(info.fileName()))
            return folder;
        const QString parent = info.absolutePath();
        if (parent == folder || info.fileName().isEmpty())
            return QString();
        folder = parent;
    }
}
