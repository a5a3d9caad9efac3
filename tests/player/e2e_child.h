#pragma once

// The end-to-end window tests run the program as an operator does, from inside a storage root
// (the window then opens that root by itself): the test program places a hard link to itself
// there and runs that link as a child, which builds the window.

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStringList>
#include <QTextStream>

#include <unistd.h>

namespace zqtest {

// Places the running program inside `root` ("player/bin" below it); its path there, or empty.
inline QString place_program_in(const QString& root)
{
    const QString binDir = QDir(root).filePath(QStringLiteral("player/bin"));
    QDir().mkpath(binDir);
    const QString self = QCoreApplication::applicationFilePath();
    const QString inside = QDir(binDir).filePath(QFileInfo(self).fileName());
    QFile::remove(inside);
    if (::link(QFile::encodeName(self).constData(), QFile::encodeName(inside).constData()) != 0
        && !QFile::copy(self, inside))
        return {};
    return inside;
}

// The command-line arguments after the program name.
inline QStringList arguments_of(int argc, char** argv)
{
    QStringList args;
    for (int i = 1; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    return args;
}

// Runs `program` with `args` and these environment variables added, its output passed on; its exit
// code, or 1 when it crashed or did not end within `timeout_ms` (it is then killed).
inline int run_child(const QString& program, const QHash<QString, QString>& vars, const QStringList& args,
                     int timeout_ms)
{
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (auto it = vars.cbegin(); it != vars.cend(); ++it)
        env.insert(it.key(), it.value());
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::ForwardedChannels);
    child.start(program, args);
    if (!child.waitForFinished(timeout_ms)) {
        QTextStream(stderr) << "the window test did not end" << Qt::endl;
        child.kill();
        child.waitForFinished();
        return 1;
    }
    return child.exitStatus() == QProcess::NormalExit ? child.exitCode() : 1;
}

} // namespace zqtest
