#include "export/raw_export.h"

#include "app/zq_log.h"
#include "export/export_jobs.h"
#include "recordings/seek_index.h"
#include "recordings/storage_layout.h"

#include <QDir>
#include <QRandomGenerator>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>
#include <fcntl.h>
#include <fts.h>
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

// True when the two files hold the same bytes from their current offsets on.
bool same_content(int a, int b, const std::atomic<bool>& stop)
{
    auto fill = [](int fd, char* data, size_t size) -> ssize_t {
        size_t done = 0;
        while (done < size) {
            const ssize_t n = ::read(fd, data + done, size - done);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0)
                return -1;
            if (n == 0)
                break;
            done += size_t(n);
        }
        return ssize_t(done);
    };
    std::vector<char> x(1 << 20), y(1 << 20);
    for (;;) {
        if (stop.load())
            return false;
        const ssize_t n = fill(a, x.data(), x.size());
        const ssize_t m = fill(b, y.data(), y.size());
        if (n < 0 || m < 0 || n != m)
            return false;
        if (n == 0)
            return true;
        if (std::memcmp(x.data(), y.data(), size_t(n)) != 0)
            return false;
    }
}

// Opens the folders `names` one below the other from the open folder `dir` (which it takes and
// closes), making each missing one inside its parent; `on_create` runs once, before the first is
// made. A link or a file where a folder goes is refused, never followed. -1 on failure.
template <typename OnCreate>
int open_folders(int dir, const QStringList& names, OnCreate on_create)
{
    bool created = false;
    for (const QString& name : names) {
        if (dir < 0)
            return -1;
        const QByteArray name8 = QFile::encodeName(name);
        int next = ::openat(dir, name8.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (next < 0 && errno == ENOENT) {
            if (!created) {
                on_create();
                created = true;
            }
            if (::mkdirat(dir, name8.constData(), 0755) == 0 || errno == EEXIST)
                next = ::openat(dir, name8.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        }
        const int openError = errno;
        ::close(dir);
        dir = next;
        if (next < 0 && (openError == ELOOP || openError == ENOTDIR))
            ZQLog::log(QStringLiteral("[ERROR] ") + kName + QStringLiteral("copy File :: not a folder (link?) ")
                       + name);
    }
    return dir;
}

// Opens the export folder, making it and its missing parents first: the nearest folder that
// exists is opened as it is named (links there are the operator's own), and each new folder is
// made inside the one above it without following a link.
template <typename OnCreate>
int open_export_folder(const QString& folder, OnCreate on_create)
{
    const int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0 || errno != ENOENT)
        return fd;
    QStringList missing;
    QString base = folder;
    struct stat s{};
    while (::lstat(QFile::encodeName(base).constData(), &s) != 0) {
        const int lstatError = errno;
        const QString parent = QFileInfo(base).path();
        if (lstatError != ENOENT || parent == base)
            return -1;
        missing.prepend(QFileInfo(base).fileName());
        base = parent;
    }
    return open_folders(::open(QFile::encodeName(base).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC), missing,
                        on_create);
}

// The index of the storage root folder's name among the folders of a file's path, or -1. The
// nearest one above the file: an export made inside a storage folder holds a root folder of its
// own, and a file of such a copy (opened as a storage) belongs to the copy, not to the storage
// around it.
qsizetype root_part(const QStringList& parts)
{
    for (qsizetype i = parts.size() - 2; i >= 0; --i)
        if (StorageLayout::is_root_folder_name(parts.at(i)))
            return i;
    return -1;
}

// The camera-information files of a storage root folder and of every folder below it, sorted.
// Links are not followed (so no loop either), and a folder named as a storage root below the
// root is left out with everything in it: that is what an export writes, so it holds copies
// (of this storage or of another one), never the storage's own files, whatever the export folder
// was (the root itself, a day folder, a folder inside the root, reached directly or through a
// link). The storage's own folders are named as days and start times, never as a root. A folder
// that cannot be read goes to `unreadable`. Empty when stopped.
QStringList camera_information_files(const QString& root, const std::atomic<bool>& stop, QStringList* unreadable)
{
    QByteArray root8 = QFile::encodeName(root);
    char* const paths[] = {root8.data(), nullptr};
    FTS* fts = ::fts_open(paths, FTS_PHYSICAL | FTS_NOCHDIR, nullptr);
    if (!fts) {
        *unreadable << root;
        return QStringList();
    }
    QStringList files;
    while (FTSENT* e = ::fts_read(fts)) {
        if (stop.load()) {
            files.clear();
            break;
        }
        const QString name = QFile::decodeName(e->fts_name);
        switch (e->fts_info) {
        case FTS_D:
            if (e->fts_level > 0 && StorageLayout::is_root_folder_name(name))
                ::fts_set(fts, e, FTS_SKIP);
            break;
        case FTS_F:
            if (name.endsWith(QStringLiteral(".zqnfo"), Qt::CaseInsensitive))
                files << QFile::decodeName(e->fts_path);
            break;
        case FTS_DNR:
        case FTS_ERR:
            *unreadable << QFile::decodeName(e->fts_path);
            break;
        case FTS_NS: // not even its kind could be read
            if (name.endsWith(QStringLiteral(".zqnfo"), Qt::CaseInsensitive))
                *unreadable << QFile::decodeName(e->fts_path);
            break;
        default: // links, other kinds of files, a folder met again through a mount
            break;
        }
    }
    ::fts_close(fts);
    files.sort();
    return files;
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
    const QStringList parts = QDir::cleanPath(QFileInfo(source).absoluteFilePath()).split(QLatin1Char('/'));
    const qsizetype root = root_part(parts);
    if (root < 0)
        return QString();
    const QStringList rest = parts.mid(root);
    if (rest.contains(QStringLiteral("..")))
        return QString();
    return QDir(exportFolder).filePath(rest.join(QLatin1Char('/')));
}

QString RawExport::storage_root(const QString& source)
{
    const QStringList parts = QDir::cleanPath(QFileInfo(source).absoluteFilePath()).split(QLatin1Char('/'));
    const qsizetype root = root_part(parts);
    return root < 0 ? QString() : parts.mid(0, root + 1).join(QLatin1Char('/'));
}

int RawExport::copy_file(const QString& source, const QString& target)
{
    ZQLog::log(QStringLiteral("[INFO] ") + kName + QStringLiteral("copy File ") + source + QStringLiteral(" to ")
               + target);
    m_failedPath.clear();
    auto failed = [&](const QString& path, int code) {
        m_failedPath = path;
        return code;
    };
    auto copy_failed = [&]() {
        ZQLog::log(QStringLiteral("[ERROR] ") + kName + QStringLiteral("copy File :: failed to copy ") + source
                   + QStringLiteral(" to ") + target);
        return failed(target, -9);
    };
    const QByteArray src8 = QFile::encodeName(source);
    struct stat ss{};
    // A link in the storage folder is not followed.
    if (src8.contains('\0') || lstat(src8.constData(), &ss) != 0 || !S_ISREG(ss.st_mode)) {
        ZQLog::log(QStringLiteral("[ERROR] ") + kName + QStringLiteral("copy File :: ") + source
                   + QStringLiteral(" missing."));
        return failed(source, -14);
    }

    // The target's place below the export folder, one folder at a time.
    const QString prefix = m_exportFolder.endsWith(QLatin1Char('/')) ? m_exportFolder
                                                                     : m_exportFolder + QLatin1Char('/');
    QStringList parts;
    if (m_exportFd >= 0 && target.startsWith(prefix))
        parts = target.mid(prefix.size()).split(QLatin1Char('/'));
    if (parts.isEmpty() || parts.contains(QString()) || parts.contains(QStringLiteral("."))
        || parts.contains(QStringLiteral("..")) || target.contains(QChar(0))) {
        ZQLog::log(QStringLiteral("[ERROR] ") + kName + QStringLiteral("copy File :: not below the export folder ")
                   + target);
        return copy_failed();
    }
    const QByteArray name8 = QFile::encodeName(parts.takeLast());
    const QString folder = QFileInfo(target).absolutePath();
    const int dir = open_folders(::dup(m_exportFd), parts, [&] {
        ZQLog::log(QStringLiteral("[INFO] ") + kName + QStringLiteral("copy File :: create dir ") + folder);
    });
    if (dir < 0) {
        ZQLog::log(QStringLiteral("[ERROR] ") + kName + QStringLiteral("copy File :: failed to create ") + folder);
        return failed(target, -9);
    }
    struct DirCloser
    {
        int fd;
        ~DirCloser() { ::close(fd); }
    } dirCloser{dir};

    const int in = ::open(src8.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    struct stat is{};
    if (in < 0 || ::fstat(in, &is) != 0 || !S_ISREG(is.st_mode)) {
        if (in >= 0)
            ::close(in);
        ZQLog::log(QStringLiteral("[ERROR] ") + kName + QStringLiteral("copy File :: ") + source
                   + QStringLiteral(" unreadable."));
        return failed(source, -14);
    }
    struct InCloser
    {
        int fd;
        ~InCloser() { ::close(fd); }
    } inCloser{in};

    struct stat ts{};
    if (::fstatat(dir, name8.constData(), &ts, AT_SYMLINK_NOFOLLOW) == 0) {
        if (ts.st_dev == is.st_dev && ts.st_ino == is.st_ino) {
            ZQLog::log(QStringLiteral("[ERROR] ") + kName + QStringLiteral("copy File :: target is its source ")
                       + target);
            return failed(target, -9);
        }
        // An earlier export of the same range is kept when it holds the same bytes; anything
        // else there is never replaced.
        if (S_ISREG(ts.st_mode) && ts.st_size == is.st_size) {
            const int existing = ::openat(dir, name8.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
            const bool same = existing >= 0 && same_content(in, existing, m_stop);
            if (existing >= 0)
                ::close(existing);
            if (m_stop.load())
                return 0;
            if (same) {
                ZQLog::log(QStringLiteral("[INFO] ") + kName + QStringLiteral("copy File :: already there ") + target);
                return 0;
            }
        }
        ZQLog::log(QStringLiteral("[ERROR] ") + kName + QStringLiteral("copy File :: target exists with other content ")
                   + target);
        return copy_failed();
    }
    if (errno != ENOENT)
        return copy_failed();

    const QByteArray tmp8 = QFile::encodeName(QStringLiteral(".") + QFile::decodeName(name8) + QStringLiteral(".")
                                              + QString::number(QRandomGenerator::global()->generate64(), 16)
                                              + QStringLiteral(".part"));
    const int out = ::openat(dir, tmp8.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (out < 0)
        return copy_failed();
    bool ok = copy_bytes(in, out, m_stop);
    // The copy's time is the source's: a later export of the same range keeps it.
    const timespec times[2] = {is.st_atim, is.st_mtim};
    ok = ok && futimens(out, times) == 0;
    ok = (::close(out) == 0) && ok;
    // Published only where nothing is: a file that appeared meanwhile is not replaced either.
    if (ok && ::renameat2(dir, tmp8.constData(), dir, name8.constData(), RENAME_NOREPLACE) != 0) {
        if (errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP)
            ok = ::linkat(dir, tmp8.constData(), dir, name8.constData(), 0) == 0;
        else
            ok = false;
    }
    ::unlinkat(dir, tmp8.constData(), 0);
    if (!ok) {
        if (m_stop.load())
            return 0;
        return copy_failed();
    }
    return 0;
}

void RawExport::run()
{
    const QString exportFolder = QDir::cleanPath(m_target.absolutePath());
    ZQLog::log(QStringLiteral("[INFO] ") + kName + QStringLiteral("export path ") + exportFolder);
    // The export folder is resolved once; every folder and file below it is reached from here.
    m_exportFolder = exportFolder;
    m_exportFd = open_export_folder(exportFolder, [&] {
        ZQLog::log(QStringLiteral("[INFO] ") + kName + QStringLiteral("copy File :: create dir ") + exportFolder);
    });
    struct FdCloser
    {
        int& fd;
        ~FdCloser()
        {
            if (fd >= 0)
                ::close(fd);
            fd = -1;
        }
    } exportCloser{m_exportFd};
    if (m_exportFd < 0) {
        ZQLog::log(QStringLiteral("[ERROR] ") + kName + QStringLiteral("copy File :: failed to create ") + exportFolder);
        emit failed_file(exportFolder);
        emit error(-9);
        return;
    }
    // A failed file does not end the copy: every other file is copied first, and the job then
    // ends with the first failure's code and file (each failure has its own log line).
    int failure = 0;
    QString failedPath;
    auto note = [&](int code) {
        if (code != 0 && failure == 0) {
            failure = code;
            failedPath = m_failedPath;
        }
    };
    const int n = int(m_files.size());
    for (int k = 1; k <= n; ++k) {
        if (m_stop.load())
            return;
        const QString source = m_files.at(k - 1).absoluteFilePath();
        const QString target = target_path(exportFolder, source);
        if (target.isEmpty()) {
            ZQLog::log(QStringLiteral("[ERROR] ") + kName + QStringLiteral("no storage root in ") + source);
            m_failedPath = source;
            note(-14);
        } else {
            note(copy_file(source, target));
        }
        emit valueChanged((200 * k - 100) / (2 * n));
        if (!target.isEmpty()) {
            const SeekCompanions companions = seek_index_companions(source);
            const QString seek =
                companions.valid() ? companions.seekPath : replace_suffix(source, QStringLiteral("zqseek"));
            note(copy_file(seek, target_path(exportFolder, seek)));
        }
        emit valueChanged((200 * k) / (2 * n));
    }
    if (m_stop.load())
        return;
    // Every camera-information file of the storage root, whatever day it lies in, so that the
    // export names its cameras as the storage folder does. The root is walked as it is named (a
    // case-sensitive file system finds nothing under another case).
    QString root;
    for (const QFileInfo& file : std::as_const(m_files))
        if (!(root = storage_root(file.absoluteFilePath())).isEmpty())
            break;
    QStringList unreadable;
    const QStringList nfo = root.isEmpty() ? QStringList() : camera_information_files(root, m_stop, &unreadable);
    for (const QString& folder : std::as_const(unreadable)) {
        ZQLog::log(QStringLiteral("[ERROR] ") + kName + QStringLiteral("cannot read folder ") + folder);
        m_failedPath = folder;
        note(-14);
    }
    for (const QString& file : nfo) {
        if (m_stop.load())
            return;
        note(copy_file(file, target_path(exportFolder, file)));
    }
    if (m_stop.load())
        return;
    if (failure != 0) {
        if (!failedPath.isEmpty())
            emit failed_file(failedPath);
        emit error(failure);
        return;
    }
    emit endingsignal();
}
