#include "export/raw_export.h"

#include "app/zq_log.h"
#include "export/export_jobs.h"
#include "recordings/seek_index.h"
#include "recordings/storage_layout.h"

#include <QDir>
#include <QRandomGenerator>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>
#include <dirent.h>
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

// Deeper than any storage: a folder below this many levels is not walked (and the copy says so).
constexpr int kMaxDepth = 64;

bool ends_with_ci(const QByteArray& name, const char* suffix)
{
    const qsizetype n = qsizetype(std::strlen(suffix));
    return name.size() >= n && qstrnicmp(name.constData() + name.size() - n, suffix, n) == 0;
}

// A name that can stand for one folder or file below an open folder.
bool plain_name(const QByteArray& name)
{
    return !name.isEmpty() && name != "." && name != ".." && !name.contains('/') && !name.contains('\0');
}

// Opens the folder `name` in the open folder `parent`, making it when it is missing (`on_create`
// runs before the first folder is made, `created` says whether it ran). A link or a file where a
// folder goes is refused, never followed. -1 on failure.
template <typename OnCreate>
int open_or_make(int parent, const QByteArray& name, bool& created, OnCreate on_create)
{
    int next = ::openat(parent, name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (next < 0 && errno == ENOENT) {
        if (!created) {
            on_create();
            created = true;
        }
        if (::mkdirat(parent, name.constData(), 0755) == 0 || errno == EEXIST)
            next = ::openat(parent, name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    }
    if (next < 0 && (errno == ELOOP || errno == ENOTDIR))
        ZQLog::log(QStringLiteral("[ERROR] ") + kName + QStringLiteral("copy File :: not a folder (link?) ")
                   + QFile::decodeName(name));
    return next;
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
    QByteArrayList missing;
    QString base = folder;
    struct stat s{};
    while (::lstat(QFile::encodeName(base).constData(), &s) != 0) {
        const int lstatError = errno;
        const QString parent = QFileInfo(base).path();
        if (lstatError != ENOENT || parent == base)
            return -1;
        missing.prepend(QFile::encodeName(QFileInfo(base).fileName()));
        base = parent;
    }
    int dir = ::open(QFile::encodeName(base).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    bool created = false;
    for (const QByteArray& name : std::as_const(missing)) {
        if (dir < 0)
            return -1;
        const int next = open_or_make(dir, name, created, on_create);
        ::close(dir);
        dir = next;
    }
    return dir;
}

QString clean_absolute(const QString& path)
{
    return QDir::cleanPath(QFileInfo(path).absoluteFilePath());
}

// The parts of `path` below `folder` (both clean and absolute); empty when it is not below it.
QStringList parts_below_name(const QString& folder, const QString& path)
{
    const QString prefix = folder.endsWith(QLatin1Char('/')) ? folder : folder + QLatin1Char('/');
    if (folder.isEmpty() || !path.startsWith(prefix) || path.size() == prefix.size())
        return QStringList();
    return path.mid(prefix.size()).split(QLatin1Char('/'));
}

// The parts of a file's path below the storage root: by the names as given, or, when one of the
// two is named through a link and the other is not, by where their folders really are (the file
// itself is not resolved: a link there stays a link, and is not copied). Empty when the file does
// not lie below the root.
QStringList parts_below_root(const QString& root, const QString& source)
{
    const QString file = clean_absolute(source);
    QStringList parts = parts_below_name(root, file);
    if (parts.isEmpty()) {
        const QString realRoot = QFileInfo(root).canonicalFilePath();
        const QString realFolder = QFileInfo(QFileInfo(file).path()).canonicalFilePath();
        if (!realRoot.isEmpty() && !realFolder.isEmpty()) {
            if (realFolder != realRoot)
                parts = parts_below_name(realRoot, realFolder);
            if (realFolder == realRoot || !parts.isEmpty())
                parts << QFileInfo(file).fileName();
        }
    }
    for (const QString& part : std::as_const(parts))
        if (!plain_name(QFile::encodeName(part)))
            return QStringList();
    return parts;
}

// The storage root a copy places its files below: the one its caller opened when it is named as
// one, else the first folder named as one in a file's path.
QString copy_root(const QString& given, const QList<QFileInfo>& files)
{
    if (!given.isEmpty()) {
        const QString root = clean_absolute(given);
        if (StorageLayout::is_root_folder_name(QFileInfo(root).fileName()))
            return root;
        ZQLog::log(QStringLiteral("[WARN] ") + kName + QStringLiteral("not a storage root folder, ignored :: ") + given);
    }
    for (const QFileInfo& file : files) {
        const QString root = RawExport::storage_root(file.absoluteFilePath());
        if (!root.isEmpty())
            return root;
    }
    return QString();
}

QByteArrayList encoded(const QStringList& parts)
{
    QByteArrayList r;
    r.reserve(parts.size());
    for (const QString& part : parts)
        r << QFile::encodeName(part);
    return r;
}

QString shown(const QByteArrayList& parts)
{
    QStringList r;
    r.reserve(parts.size());
    for (const QByteArray& part : parts)
        r << QFile::decodeName(part);
    return r.join(QLatin1Char('/'));
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

QString RawExport::storage_root(const QString& source)
{
    const QStringList parts = clean_absolute(source).split(QLatin1Char('/'));
    for (qsizetype i = 0; i + 1 < parts.size(); ++i)
        if (StorageLayout::is_root_folder_name(parts.at(i)))
            return parts.mid(0, i + 1).join(QLatin1Char('/'));
    return QString();
}

QString RawExport::target_path(const QString& exportFolder, const QString& source)
{
    return target_path(exportFolder, QString(), source);
}

QString RawExport::target_path(const QString& exportFolder, const QString& root, const QString& source)
{
    const QString storage = copy_root(root, {QFileInfo(source)});
    const QStringList parts = storage.isEmpty() ? QStringList() : parts_below_root(storage, source);
    if (parts.isEmpty())
        return QString();
    return QDir(exportFolder).filePath(QFileInfo(storage).fileName() + QLatin1Char('/') + parts.join(QLatin1Char('/')));
}

void RawExport::note(int code, const QString& path)
{
    if (code != 0 && m_failure == 0) {
        m_failure = code;
        m_firstFailedPath = path.isEmpty() ? m_failedPath : path;
    }
}

int RawExport::target_folder(const QByteArrayList& folders, const QString& shownFolder)
{
    qsizetype common = 0;
    while (common < m_targetParts.size() && common < folders.size() && m_targetParts.at(common) == folders.at(common))
        ++common;
    while (m_targetParts.size() > common) {
        ::close(m_targetFds.back());
        m_targetFds.pop_back();
        m_targetParts.removeLast();
    }
    bool created = false;
    for (qsizetype i = common; i < folders.size(); ++i) {
        const int parent = m_targetFds.empty() ? m_exportFd : m_targetFds.back();
        const int next = open_or_make(parent, folders.at(i), created, [&] {
            ZQLog::log(QStringLiteral("[INFO] ") + kName + QStringLiteral("copy File :: create dir ") + shownFolder);
        });
        if (next < 0)
            return -1;
        m_targetFds.push_back(next);
        m_targetParts << folders.at(i);
    }
    return m_targetFds.empty() ? m_exportFd : m_targetFds.back();
}

void RawExport::close_target_folders()
{
    for (int fd : m_targetFds)
        ::close(fd);
    m_targetFds.clear();
    m_targetParts.clear();
}

int RawExport::copy_file(const QString& source, const QString& target)
{
    const QString prefix = m_exportFolder.endsWith(QLatin1Char('/')) ? m_exportFolder
                                                                     : m_exportFolder + QLatin1Char('/');
    QByteArrayList parts;
    if (m_exportFd >= 0 && target.startsWith(prefix))
        parts = encoded(target.mid(prefix.size()).split(QLatin1Char('/')));
    return copy_to({AT_FDCWD, QFile::encodeName(source), source}, parts);
}

int RawExport::copy_to(const Source& source, const QByteArrayList& parts)
{
    const QString target = m_exportFolder + QLatin1Char('/') + shown(parts);
    ZQLog::log(QStringLiteral("[INFO] ") + kName + QStringLiteral("copy File ") + source.shown + QStringLiteral(" to ")
               + target);
    m_failedPath.clear();
    auto failed = [&](const QString& path, int code) {
        m_failedPath = path;
        return code;
    };
    auto copy_failed = [&]() {
        ZQLog::log(QStringLiteral("[ERROR] ") + kName + QStringLiteral("copy File :: failed to copy ") + source.shown
                   + QStringLiteral(" to ") + target);
        return failed(target, -9);
    };
    auto source_failed = [&](const QString& why) {
        ZQLog::log(QStringLiteral("[ERROR] ") + kName + QStringLiteral("copy File :: ") + source.shown + why);
        return failed(source.shown, -14);
    };
    // The source by the name it was listed under; a link in the storage folder is not followed.
    struct stat ss{};
    if (source.name.isEmpty() || source.name.contains('\0'))
        return source_failed(QStringLiteral(" missing."));
    if (::fstatat(source.dir, source.name.constData(), &ss, AT_SYMLINK_NOFOLLOW) != 0) {
        const int err = errno;
        if (err == ENOENT || err == ENOTDIR)
            return source_failed(QStringLiteral(" missing."));
        return source_failed(QStringLiteral(" unreadable: ") + QString::fromLocal8Bit(std::strerror(err)));
    }
    if (!S_ISREG(ss.st_mode))
        return source_failed(QStringLiteral(" not a regular file (link?): not copied."));

    // The target's place below the export folder, one folder at a time.
    bool plain = m_exportFd >= 0 && !parts.isEmpty();
    for (const QByteArray& part : parts)
        plain = plain && plain_name(part);
    if (!plain) {
        ZQLog::log(QStringLiteral("[ERROR] ") + kName + QStringLiteral("copy File :: not below the export folder ")
                   + target);
        return copy_failed();
    }
    const QByteArray& name8 = parts.last();
    const QString folder = QFileInfo(target).path();
    const int dir = target_folder(parts.mid(0, parts.size() - 1), folder);
    if (dir < 0) {
        ZQLog::log(QStringLiteral("[ERROR] ") + kName + QStringLiteral("copy File :: failed to create ") + folder);
        return failed(target, -9);
    }

    const int in = ::openat(source.dir, source.name.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    struct stat is{};
    if (in < 0 || ::fstat(in, &is) != 0 || !S_ISREG(is.st_mode)) {
        const int err = errno;
        if (in >= 0)
            ::close(in);
        return source_failed(QStringLiteral(" unreadable: ") + QString::fromLocal8Bit(std::strerror(err)));
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

    // A hidden name of the file's own bytes (cut short: a name has at most 255 bytes).
    const QByteArray tmp8 = QByteArray(".") + name8.left(200) + '.'
                            + QByteArray::number(QRandomGenerator::global()->generate64(), 16) + ".part";
    const int out = ::openat(dir, tmp8.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (out < 0)
        return copy_failed();
    bool ok = copy_bytes(in, out, m_stop);
    // The copy's time is the source's: a later export of the same range keeps it.
    const timespec times[2] = {is.st_atim, is.st_mtim};
    ok = ok && futimens(out, times) == 0;
    ok = (::close(out) == 0) && ok;
    // Published only where nothing is: a file that appeared meanwhile is not replaced either.
    bool published = false;
    bool linked = false;
    if (ok) {
        if (::renameat2(dir, tmp8.constData(), dir, name8.constData(), RENAME_NOREPLACE) == 0)
            published = true;
        else if (errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP)
            published = linked = ::linkat(dir, tmp8.constData(), dir, name8.constData(), 0) == 0;
    }
    if (!published || linked)
        ::unlinkat(dir, tmp8.constData(), 0);
    if (!published) {
        if (m_stop.load())
            return 0;
        return copy_failed();
    }
    return 0;
}

void RawExport::copy_camera_information(int dir, const QByteArrayList& parts, const QString& shownFolder, int depth)
{
    auto unreadable = [&](const QString& path, int err) {
        ZQLog::log(QStringLiteral("[ERROR] ") + kName + QStringLiteral("cannot read folder ") + path
                   + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(err)));
        note(-14, path);
    };
    DIR* listing = ::fdopendir(dir);
    if (!listing) {
        const int err = errno;
        ::close(dir);
        unreadable(shownFolder, err);
        return;
    }
    struct Entry
    {
        QByteArray name;
        unsigned char type;
    };
    std::vector<Entry> entries;
    errno = 0;
    while (struct dirent* e = ::readdir(listing)) {
        if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
            entries.push_back({QByteArray(e->d_name), e->d_type});
        errno = 0;
    }
    if (errno != 0)
        unreadable(shownFolder, errno);
    std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) { return a.name < b.name; });
    const int fd = ::dirfd(listing);
    for (const Entry& e : entries) {
        if (m_stop.load())
            break;
        const QString shownPath = shownFolder + QLatin1Char('/') + QFile::decodeName(e.name);
        const bool nfo = ends_with_ci(e.name, ".zqnfo");
        unsigned char type = e.type;
        if (type == DT_UNKNOWN) {
            struct stat st{};
            if (::fstatat(fd, e.name.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
                type = IFTODT(st.st_mode);
            } else if (const int err = errno; err != ENOENT && nfo) {
                // Not even its kind could be read: a camera file the copy cannot carry.
                ZQLog::log(QStringLiteral("[ERROR] ") + kName + QStringLiteral("copy File :: ") + shownPath
                           + QStringLiteral(" unreadable: ") + QString::fromLocal8Bit(std::strerror(err)));
                note(-14, shownPath);
                continue;
            }
        }
        if (type == DT_DIR) {
            // What an export writes (a copy of this storage or of another one) or a folder named as
            // a root inside a day: never the storage's own camera files.
            if (StorageLayout::is_root_folder_name(QFile::decodeName(e.name)))
                continue;
            if (depth + 1 > kMaxDepth) {
                ZQLog::log(QStringLiteral("[ERROR] ") + kName + QStringLiteral("folder too deep, not walked ")
                           + shownPath);
                note(-14, shownPath);
                continue;
            }
            const int child = ::openat(fd, e.name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            if (child < 0) {
                // Gone, or a link or a file put in its place since the listing: nothing to walk.
                const int err = errno;
                if (err != ENOENT && err != ELOOP && err != ENOTDIR)
                    unreadable(shownPath, err);
                continue;
            }
            copy_camera_information(child, QByteArrayList(parts) << e.name, shownPath, depth + 1);
        } else if (type == DT_REG && nfo) {
            note(copy_to({fd, e.name, shownPath}, QByteArrayList(parts) << e.name));
        }
        // Links and other kinds of files are left where they are.
    }
    ::closedir(listing);
}

void RawExport::run()
{
    const QString exportFolder = QDir::cleanPath(m_target.absolutePath());
    ZQLog::log(QStringLiteral("[INFO] ") + kName + QStringLiteral("export path ") + exportFolder);
    m_failure = 0;
    m_firstFailedPath.clear();
    // The export folder is resolved once; every folder and file below it is reached from here.
    m_exportFolder = exportFolder;
    m_exportFd = open_export_folder(exportFolder, [&] {
        ZQLog::log(QStringLiteral("[INFO] ") + kName + QStringLiteral("copy File :: create dir ") + exportFolder);
    });
    struct Closer
    {
        RawExport* self;
        ~Closer()
        {
            self->close_target_folders();
            if (self->m_exportFd >= 0)
                ::close(self->m_exportFd);
            self->m_exportFd = -1;
        }
    } closer{this};
    if (m_exportFd < 0) {
        ZQLog::log(QStringLiteral("[ERROR] ") + kName + QStringLiteral("copy File :: failed to create ") + exportFolder);
        emit failed_file(exportFolder);
        emit error(-9);
        return;
    }
    // One root for the whole copy, named as the operator reached it; every file is placed by its
    // path from there on, and the export holds that root's name.
    const QString root = copy_root(m_root, m_files);
    const QByteArray rootName8 = QFile::encodeName(QFileInfo(root).fileName());
    auto place = [&](const QString& source) -> QByteArrayList {
        const QStringList parts = root.isEmpty() ? QStringList() : parts_below_root(root, source);
        if (parts.isEmpty()) {
            ZQLog::log(QStringLiteral("[ERROR] ") + kName
                       + (root.isEmpty() ? QStringLiteral("no storage root in ")
                                         : QStringLiteral("not in the storage root ") + root + QStringLiteral(" :: "))
                       + source);
            return QByteArrayList();
        }
        return QByteArrayList{rootName8} + encoded(parts);
    };
    // A failed file does not end the copy: every other file is copied first, and the job then
    // ends with the first failure's code and file (each failure has its own log line).
    const int n = int(m_files.size());
    for (int k = 1; k <= n; ++k) {
        if (m_stop.load())
            return;
        const QString source = m_files.at(k - 1).absoluteFilePath();
        const QByteArrayList target = place(source);
        if (target.isEmpty())
            note(-14, source);
        else
            note(copy_to({AT_FDCWD, QFile::encodeName(source), source}, target));
        emit valueChanged((200 * k - 100) / (2 * n));
        if (!target.isEmpty()) {
            const SeekCompanions companions = seek_index_companions(source);
            const QString seek =
                companions.valid() ? companions.seekPath : replace_suffix(source, QStringLiteral("zqseek"));
            const QByteArrayList seekTarget = place(seek);
            if (seekTarget.isEmpty())
                note(-14, seek);
            else
                note(copy_to({AT_FDCWD, QFile::encodeName(seek), seek}, seekTarget));
        }
        emit valueChanged((200 * k) / (2 * n));
    }
    if (m_stop.load())
        return;
    // Every camera-information file of the storage root, whatever day it lies in, so that the
    // export names its cameras as the storage folder does. The root is opened as the operator
    // reached it (its own path or a folder above it may be a link, and a case-sensitive file
    // system finds nothing under another case); below it nothing is followed.
    if (!root.isEmpty()) {
        const int rootFd = ::open(QFile::encodeName(root).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (rootFd < 0) {
            const int err = errno;
            ZQLog::log(QStringLiteral("[ERROR] ") + kName + QStringLiteral("cannot read folder ") + root
                       + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(err)));
            note(-14, root);
        } else {
            copy_camera_information(rootFd, {rootName8}, root, 0);
        }
    }
    if (m_stop.load())
        return;
    close_target_folders();
    if (m_failure != 0) {
        if (!m_firstFailedPath.isEmpty())
            emit failed_file(m_firstFailedPath);
        emit error(m_failure);
        return;
    }
    emit endingsignal();
}
