#include "crash/crash_file_checker.h"

#include "app/http_singleton.h"
#include "app/zq_log.h"
#include "crash/reporter_widget.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

QString CrashFileChecker::reportsFolder()
{
    return QDir(Http_singleton::instance()->user_folder()).filePath(QStringLiteral("crash_reports/reports"));
}

QString CrashFileChecker::keepNewestDump(const QString& folder)
{
    QStringList dumps;
    QDirIterator it(folder, {QStringLiteral("*.dmp")}, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext())
        dumps.append(it.next());
    if (dumps.isEmpty())
        return {};
    // Walk in a fixed order so that of equal times the same one always stays.
    dumps.sort();
    QFileInfo newest(dumps.first());
    for (const QString& path : std::as_const(dumps)) {
        const QFileInfo info(path);
        if (info.lastModified() > newest.lastModified())
            newest = info;
    }
    if (!newest.exists())
        return {};
    for (const QString& path : std::as_const(dumps)) {
        if (QFileInfo(path).absoluteFilePath() != newest.absoluteFilePath()) {
            if (!QFile::remove(path))
                ZQLog::log(QStringLiteral("[WARN] Crash File checker :: cannot remove ") + path);
        }
    }
    return newest.absoluteFilePath();
}

ReporterWidget* CrashFileChecker::check()
{
    const QString folder = reportsFolder();
    ZQLog::log(QStringLiteral("[INFO] Crash File checker :: directory + ") + folder);
    const QString newest = keepNewestDump(folder);
    if (newest.isEmpty())
        return nullptr;
    ZQLog::log(QStringLiteral("[INFO] Crash File checker :: dump found ") + newest);
    auto* form = new ReporterWidget(QFileInfo(newest).fileName(), newest);
    form->setAttribute(Qt::WA_DeleteOnClose);
    form->setWindowFlag(Qt::WindowStaysOnTopHint);
    form->show();
    return form;
}
