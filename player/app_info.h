#pragma once

#include <QObject>
#include <QString>

// Where the program lies, for the QML home page: it opens the storage folder
// that holds the program when it is run from inside one.
class AppInfo : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString appDir READ appDir CONSTANT)
    Q_PROPERTY(QString workingDir READ workingDir CONSTANT)
    Q_PROPERTY(QString parentAppDir READ parentAppDir CONSTANT)
    Q_PROPERTY(QString parentZQCoreDir READ parentZQCoreDir CONSTANT)

public:
    explicit AppInfo(QObject* parent = nullptr);

    QString appDir() const;
    QString workingDir() const;
    QString parentAppDir() const;
    QString parentZQCoreDir() const;

    // The parent of a program folder; for a folder named exactly "bin", the
    // parent of its parent.
    static QString parentAppDirOf(const QString& appDir);
    // The storage root ("zqcore_xxxx-xxxx-xxxx-xxxx", any case) that is the
    // path or holds it; empty when there is none up to the top of the file
    // system. An empty path means the program folder.
    static QString findZQCoreRoot(const QString& path);
};
