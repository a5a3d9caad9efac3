#include "export/raw_export.h"

#include "app/zq_log.h"
#include "export/export_jobs.h"
#include "recordings/seek_index.h"
#include "recordings/storage_layout.h"

#include <QDir>
#include <QDirIterator>
#include <QRandomGenerator>
#include <QSet>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString kName = QStringLiteral("ZQPlayer Raw Exporter :: ");

// Copies the bytes of in to out: in-kernel where the file system allows it,
// with a plain read/write loop otherwise. No sync: the rename publishes it.
bool copy_bytes(int in, int out, const std::atomic<bool>& stop)
{
    bool kernel = true;
    for (;;) {
        if (stop.load())
            return false;
        if (kernel) {
            const ssize_t n = copy_file_range(in, nullptr, out, nullptr, 64 << 20, 0);
            if (n == 0)
                return true;
            if (n > 0)
                continue;
            if (errno == EINTR)
                continue;
            if (errno == EXDEV || errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP || errno == EBADF) {
                kernel = false;
                continue;
            }
            return false;
        }
        static thread_local QByteArray buffer(1 << 20, Qt::Uninitialized);
        const ssize_t n = ::read(in, buffer.data(), size_t(buffer.size()));
        if (n == 0)
            return true;
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        ssize_t done = 0;
        while (done < n) {
            const ssize_t w = ::write(out, buffer.constData() + done, size_t(n - done));
            if (w < 0) {
                if (errno == EINTR)
                    continue;
                return false;
            }
            done += w;
        }
    }
}

} // namespace

RawExport::RawExport()
    : QThread(nullptr)
{
    ExportJobs::add(this, [this] { set_stop(); });
}

RawExport::~RawExport()
{
    set_stop();
    wait();
    ExportJobs::remove(this);
}

QString RawExport::target_path(const QString& exportFolder, const QString& source)
{
    const QString clean = QDir::cleanPath(QFileInfo(source).absoluteFilePath());
    const QStringList parts = clean.split(QLatin1Char('/'));
    for (int i = 0; i < parts.size(); ++i) {
        if (StorageLayout::is_root_folder_name(parts.at(i))) {
            const QStringList rest = parts.mid(i);
            if (rest.contains(QStringLiteral("..")))
                return QString();
            return QDir(exportFolder).filePath(rest.join(QLatin1Char('/')));
        }
    }
    return QString();
}

int RawExport::copy_file(const QString& source, const QString& target)
{
    ZQLog::log(QStringLiteral("[INFO] ") + kName + QStringLiteral("copy File ") + source + QStringLiteral(" to ")
               + target);
    const QByteArray src8 = QFile::encodeName(source);
    const QByteArray dst8 = QFile::encodeName(target);
    struct stat ss{};
    // A link in the storage folder is not followed.
    if (lstat(src8.constData(), &ss) != 0 || !S_ISREG(ss.st_mode)) {
        ZQLog::log(QStringLiteral("[ERROR] ") + kName + QStringLiteral("copy File :: ") + source
                   + QStringLiteral(" missing."));
        return -14;
    }
    struct stat ts{};
    const bool targetExists = lstat(dst8.constData(), &ts) == 0;
    if (targetExists && ts.st_dev == ss.st_dev && ts.st_ino == ss.st_ino) {
        ZQLog::log(QStringLiteral("[ERROR] ") + kName + QStringLiteral("copy File :: target is its source ") + target);
        return -9;
    }
    if (targetExists && S_ISREG(ts.st_mode) && ts.st_size == ss.st_size && ts.st_mtim.tv_sec == ss.st_mtim.tv_sec
        && ts.st_mtim.tv_nsec == ss.st_mtim.tv_nsec) {
        ZQLog::log(QStringLiteral("[INFO] ") + kName + QStringLiteral("copy File :: already there ") + target);
        return 0;
    }
    if (targetExists && S_ISDIR(ts.st_mode)) {
        ZQLog::log(QStringLiteral("[ERROR] ") + kName + QStringLiteral("copy File :: target is a folder ") + target);
        return -9;
    }
    const QString folder = QFileInfo(target).absolutePath();
    if (!QFileInfo(folder).isDir()) {
        ZQLog::log(QStringLiteral("[INFO] ") + kName + QStringLiteral("copy File :: create dir ") + folder);
        if (!QDir().mkpath(folder)) {
            ZQLog::log(QStringLiteral("[ERROR] ") + kName + QStringLiteral("copy File :: failed to create ") + folder);
            return -9;
        }
    }
    const int in = ::open(src8.constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (in < 0) {
        ZQLog::log(QStringLiteral("[ERROR] ") + kName + QStringLiteral("copy File :: ") + source
                   + QStringLiteral(" unreadable."));
        return -14;
    }
    const QString temp = QDir(folder).filePath(QStringLiteral(".") + QFileInfo(target).fileName() + QStringLiteral(".")
                                               + QString::number(QRandomGenerator::global()->generate64(), 16)
                                               + QStringLiteral(".part"));
    const QByteArray tmp8 = QFile::encodeName(temp);
    const int out = ::open(tmp8.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (out < 0) {
        ::close(in);
        ZQLog::log(QStringLiteral("[ERROR] ") + kName + QStringLiteral("copy File :: failed to copy ") + source
                   + QStringLiteral(" to ") + target);
        return -9;
    }
    bool ok = copy_bytes(in, out, m_stop);
    // The copy's time is the source's: a later export of the same range keeps it.
    const timespec times[2] = {ss.st_atim, ss.st_mtim};
    ok = ok && futimens(out, times) == 0;
    ok = (::close(out) == 0) && ok;
    ::close(in);
    ok = ok && std::rename(tmp8.constData(), dst8.constData()) == 0;
    if (!ok) {
        ::unlink(tmp8.constData());
        if (m_stop.load())
            return 0;
        ZQLog::log(QStringLiteral("[ERROR] ") + kName + QStringLiteral("copy File :: failed to copy ") + source
                   + QStringLiteral(" to ") + target);
        return -9;
    }
    return 0;
}

void RawExport::run()
{
    const QString exportFolder = m_target.absolutePath();
    ZQLog::log(QStringLiteral("[INFO] ") + kName + QStringLiteral("export path ") + exportFolder);
    const int n = int(m_files.size());
    QStringList days;
    QSet<QString> seenDays;
    auto fail = [this](int code) { emit error(code); };
    for (int k = 1; k <= n; ++k) {
        if (m_stop.load())
            return;
        const QString source = m_files.at(k - 1).absoluteFilePath();
        const QString target = target_path(exportFolder, source);
        if (target.isEmpty()) {
            ZQLog::log(QStringLiteral("[ERROR] ") + kName + QStringLiteral("no storage root in ") + source);
            return fail(-14);
        }
        if (int rc = copy_file(source, target))
            return fail(rc);
        emit valueChanged((200 * k - 100) / (2 * n));
        const SeekCompanions companions = seek_index_companions(source);
        const QString seek = companions.valid() ? companions.seekPath : replace_suffix(source, QStringLiteral("zqseek"));
        if (int rc = copy_file(seek, target_path(exportFolder, seek)))
            return fail(rc);
        emit valueChanged((200 * k) / (2 * n));
        // The day folder: the recording lies in <day>/<HHmmss>/.
        const QString day = QFileInfo(QFileInfo(source).absolutePath()).absolutePath();
        if (!seenDays.contains(day)) {
            seenDays.insert(day);
            days << day;
        }
    }
    // Camera-information files of the exported days only.
    for (const QString& day : std::as_const(days)) {
        QStringList nfo;
        QDirIterator it(day, {QStringLiteral("*.zqnfo")}, QDir::Files | QDir::NoSymLinks | QDir::Hidden,
                        QDirIterator::Subdirectories);
        while (it.hasNext())
            nfo << it.next();
        nfo.sort();
        for (const QString& file : std::as_const(nfo)) {
            if (m_stop.load())
                return;
            if (QFileInfo(file).isSymLink())
                continue;
            if (int rc = copy_file(file, target_path(exportFolder, file)))
                return fail(rc);
        }
    }
    if (m_stop.load())
        return;
    emit endingsignal();
}
