#include "app/zq_log.h"

#include "app/http_singleton.h"
#include "app/sha256.h"

#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QRegularExpression>
#include <QSaveFile>
#include <QTextStream>

#include <atomic>
#include <cstdio>

namespace {
std::atomic<int>& log_level()
{
    static std::atomic<int> level{0};
    return level;
}

QMutex& file_mutex()
{
    static QMutex mutex;
    return mutex;
}
} // namespace

int get_log_level() { return log_level().load(std::memory_order_relaxed); }
void set_log_level(int level) { log_level().store(level, std::memory_order_relaxed); }

void ZQLog::log(const char* text)
{
    log(QString::fromUtf8(text));
}

QString ZQLog::redact(const QString& text)
{
    if (!text.contains(QLatin1String("sessid"), Qt::CaseInsensitive)
        && !text.contains(QLatin1String("token"), Qt::CaseInsensitive)
        && !text.contains(QLatin1String("authorization"), Qt::CaseInsensitive))
        return text;
    // A value ends at a line end, a quote or a backslash (the quoted form of
    // a logged text escapes its line ends). Per thread: one expression
    // object is not matched from two threads at once.
    thread_local const QRegularExpression session(QStringLiteral("(PHPSESSID(?:=|%3D))[^&\\s#;\"']*"),
                                                  QRegularExpression::CaseInsensitiveOption);
    thread_local const QRegularExpression header(
        QStringLiteral("((?:x-auth-token|proxy-authorization|authorization)\\s*:\\s*)[^\\r\\n\"\\\\]*"),
        QRegularExpression::CaseInsensitiveOption);
    QString out = text;
    out.replace(session, QStringLiteral("\\1\u2026"));
    out.replace(header, QStringLiteral("\\1\u2026"));
    return out;
}

void ZQLog::log(const QString& text)
{
    if (get_log_level() > 0)
        QMessageLogger().debug() << redact(text);
}

void ZQLog::installMessageHandler()
{
    qInstallMessageHandler(&ZQLog::messageHandler);
}

QString ZQLog::logFilePath()
{
    Http_singleton* context = Http_singleton::instance();
    const QString name = context->get_log_file_name();
    if (context->is_embedded_mode() && !context->get_log_directory().isNull())
        return QDir(context->get_log_directory()).filePath(name);
    return QDir(context->user_folder()).filePath(name);
}

void ZQLog::messageHandler(QtMsgType type, const QMessageLogContext&, const QString& message)
{
    QString line = QStringLiteral("[%1] ").arg(
        QDateTime::currentDateTime().toString(QStringLiteral("dd/MM/yyyy hh:mm:ss.zzz")));
    switch (type) {
    case QtDebugMsg: line += QStringLiteral("{Debug} %1").arg(message); break;
    case QtWarningMsg: line += QStringLiteral("{Warning} %1").arg(message); break;
    case QtCriticalMsg: line += QStringLiteral("{Critical} %1").arg(message); break;
    case QtFatalMsg: line += QStringLiteral("{Fatal} %1").arg(message); break;
    case QtInfoMsg: line += message; break;
    }
    line = redact(line);

    const QByteArray bytes = line.toUtf8();
    const QString path = logFilePath();

    // One lock for the write and the size check, so that lines from several
    // threads stay whole and a cut never lands between two halves of a line.
    QMutexLocker locker(&file_mutex());
    std::fprintf(stderr, "%s\n", bytes.constData());
    std::fflush(stderr);

    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Append)) {
        if (type != QtWarningMsg) {
            file.write(bytes);
            file.write("\n", 1);
            file.flush();
        }
        if (file.size() > kMaxLogFileSize)
            file.resize(0);
    }
}

qint64 ZQLog::copyLogFile(const QString& target)
{
    const QString path = logFilePath();
    QMutexLocker locker(&file_mutex());
    QFile source(path);
    if (!source.open(QIODevice::ReadOnly))
        return -1;
    QFile copy(target);
    if (!copy.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return -1;
    qint64 total = 0;
    QByteArray buffer(1 << 20, Qt::Uninitialized);
    for (;;) {
        const qint64 got = source.read(buffer.data(), buffer.size());
        if (got < 0)
            return -1;
        if (got == 0)
            break;
        if (copy.write(buffer.constData(), got) != got)
            return -1;
        total += got;
    }
    return copy.flush() ? total : -1;
}

qint64 ZQLog::logFileSize()
{
    const QString path = logFilePath();
    QMutexLocker locker(&file_mutex());
    QFileInfo info(path);
    return info.exists() && info.isFile() ? info.size() : -1;
}

bool ZQLog::cutLogPrefix(qint64 bytes, const QString& sha256Hex)
{
    if (bytes <= 0)
        return true;
    const QString path = logFilePath();
    QMutexLocker locker(&file_mutex());
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    if (file.size() < bytes)
        return false;
    zq::Sha256 hash;
    if (!hash.addDevice(file, bytes) || hash.hexDigest() != sha256Hex)
        return false;
    // What was written after the uploaded part stays.
    const QByteArray rest = file.readAll();
    file.close();
    QFile out(path);
    if (!out.open(QIODevice::ReadWrite))
        return false;
    if (out.write(rest) != rest.size())
        return false;
    return out.resize(rest.size());
}

bool ZQLog::emptyLogFile()
{
    const QString path = logFilePath();
    QMutexLocker locker(&file_mutex());
    QFile file(path);
    if (!file.exists())
        return true;
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append))
        return false;
    return file.resize(0);
}
