#include "export/raw_export.h"

#include "app/zq_log.h"
#include "export/export_jobs.h"
#include "recordings/seek_index.h"
#include "recordings/storage_layout.h"

#include <QDir>
#include <QRandomGenerator>
#include <QThreadPool>
#include <QtConcurrent/QtConcurrentMap>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <vector>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString kName = QStringLiteral("ZQPlayer Raw Exporter :: ");

// Copies the first `size` bytes of in to out (fewer when in ends before): the file as it was when
// it was looked at, whose time the copy gets. In-kernel where the file system allows it, with a
// plain read/write loop otherwise. No sync: linking the copy in publishes it.
bool copy_bytes(int in, int out, off_t size, const std::atomic<bool>& stop)
{
    bool kernel = true;
    off_t done = 0;
    while (done < size) {
        if (stop.load())
            return false;
        const size_t chunk = size_t(std::min<off_t>(size - done, off_t(64) << 20));
        if (kernel) {
            const ssize_t n = copy_file_range(in, nullptr, out, nullptr, chunk, 0);
            if (n == 0)
                return true;
            if (n > 0) {
                done += n;
                continue;
            }
            if (errno == EINTR)
                continue;
            if (errno == EXDEV || errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP || errno == EBADF) {
                kernel = false;
                continue;
            }
            return false;
        }
        static thread_local QByteArray buffer(1 << 20, Qt::Uninitialized);
        const ssize_t n = ::read(in, buffer.data(), std::min(chunk, size_t(buffer.size())));
        if (n == 0)
            return true;
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        ssize_t written = 0;
        while (written < n) {
            const ssize_t w = ::write(out, buffer.constData() + written, size_t(n - written));
            if (w < 0) {
                if (errno == EINTR)
                    continue;
                return false;
            }
            written += w;
        }
        done += n;
    }
    return !stop.load();
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

// A line made only when the log is on: a copy logs every file it copies.
template <typename Text>
void log_info(Text text)
{
    if (get_log_level() > 0)
        ZQLog::log(QStringLiteral("[INFO] ") + kName + text());
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
// runs before the first folder is made, `created` says whether it ran; `made` whether this call
// made it). In a folder this copy just made, nothing is there yet: it is made at once. A link or a
// file where a folder goes is refused, never followed. -1 on failure.
template <typename OnCreate>
int open_or_make(int parent, const QByteArray& name, bool parentMadeNow, bool* made, bool& created, OnCreate on_create)
{
    constexpr int kFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
    *made = false;
    int next = parentMadeNow ? -1 : ::openat(parent, name.constData(), kFlags);
    if (parentMadeNow || (next < 0 && errno == ENOENT)) {
        if (!created) {
            on_create();
            created = true;
        }
        *made = ::mkdirat(parent, name.constData(), 0755) == 0;
        if (*made || errno == EEXIST)
            next = ::openat(parent, name.constData(), kFlags);
    }
    if (next < 0 && (errno == ELOOP || errno == ENOTDIR))
        ZQLog::log(QStringLiteral("[ERROR] ") + kName + QStringLiteral("copy File :: not a folder (link?) ")
                   + QFile::decodeName(name));
    if (next < 0)
        *made = false;
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
    bool made = false;
    for (const QByteArray& name : std::as_const(missing)) {
        if (dir < 0)
            return -1;
        const int next = open_or_make(dir, name, made, &made, created, on_create);
        ::close(dir);
        dir = next;
    }
    return dir;
}

// Files made without a name can be linked in under one through /proc (linking one by its
// descriptor alone needs a privilege).
bool anonymous_files()
{
    static const bool available = ::access("/proc/self/fd", X_OK) == 0;
    return available;
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

// The real path of an open folder (empty when it cannot be told).
QByteArray real_path_of(int fd, const QByteArray& name)
{
    QByteArray path(4096, Qt::Uninitialized);
    const QByteArray self = "/proc/self/fd/" + QByteArray::number(fd);
    const ssize_t n = ::readlink(self.constData(), path.data(), size_t(path.size()));
    if (n > 0 && n < path.size() && path.at(0) == '/') {
        path.truncate(n);
        return path;
    }
    char* real = ::realpath(name.constData(), nullptr);
    if (!real)
        return QByteArray();
    path = QByteArray(real);
    std::free(real);
    return path;
}

// The folders of a recording's path below the storage root up to its day folder: the folders
// that hold its start-time folder (the player's layout: day, start time, file), up to a folder
// named as a storage root (part of the day, never walked).
QByteArrayList day_of(const QByteArrayList& partsBelowRoot)
{
    QByteArrayList folders = partsBelowRoot.mid(0, partsBelowRoot.size() - 1);
    if (folders.size() >= 2)
        folders.removeLast();
    for (qsizetype i = 0; i < folders.size(); ++i)
        if (StorageLayout::is_root_folder_name(QFile::decodeName(folders.at(i))))
            return folders.mid(0, i);
    return folders;
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

// What one thread of a copy keeps: the target folders it has open (one descriptor per level below
// the export folder), what a folder's listing reads into, and its first failure.
class RawExport::Copier
{
public:
    explicit Copier(RawExport& job) : m_job(job) {}
    ~Copier() { close_target_folders(); }
    Copier(const Copier&) = delete;
    Copier& operator=(const Copier&) = delete;

    // Copies a source to the file `parts` names below the export folder (its folders, then its
    // name); -14, -9 or 0.
    int copy_to(const Source& source, const QByteArrayList& parts);
    // Copies the camera-information files of the open folder `dir` (taken and closed) and of
    // every folder below it; `parts` names the folder below the export folder, `shown` for logs.
    // At the root (depth 0) its folders are walked by several copiers at once.
    void copy_camera_information(int dir, const QByteArrayList& parts, const QString& shown, int depth);
    // Copies the camera-information files of the day folder that `day` names below the open
    // storage root `rootFd` (not taken) when a link lies on its way there: the operator opened it
    // through that link, and the root's walk follows none. Placed under `rootName` and the day's
    // own names; `shownRoot` names the root in logs.
    void copy_linked_day(int rootFd, const QByteArray& rootName, const QString& shownRoot, const QByteArrayList& day);
    // Records a failure: the first one names the copier's.
    void note(int code, const QString& path = QString());

    int failure = 0;
    QString failedPath;

private:
    struct Entry
    {
        QByteArray name;
        unsigned char type;
    };
    // The folder `folders` names below the export folder, made when missing; -1 on failure.
    // It stays open for the next file: a copy fills one folder after the other. `fresh`: this
    // copy made it, so it holds nothing the copy did not put there.
    int target_folder(const QByteArrayList& folders, bool* fresh);
    void close_target_folders();
    // The entries of the open folder `dir`, sorted by name.
    std::vector<Entry> list(int dir, const QString& shown);
    // One entry of the open folder `dir`: a camera-information file is copied, a folder walked.
    void copy_entry(int dir, const Entry& e, const QByteArrayList& parts, const QString& shownFolder, int depth);

    RawExport& m_job;
    QByteArrayList m_targetParts;
    std::vector<int> m_targetFds;
    std::vector<bool> m_targetFresh;
    std::vector<char> m_listing;
    QString m_lastFailed; // what the last failing copy_to() could not copy
};

void RawExport::Copier::note(int code, const QString& path)
{
    if (code != 0 && failure == 0) {
        failure = code;
        failedPath = path.isEmpty() ? m_lastFailed : path;
    }
}

int RawExport::Copier::target_folder(const QByteArrayList& folders, bool* fresh)
{
    qsizetype common = 0;
    while (common < m_targetParts.size() && common < folders.size() && m_targetParts.at(common) == folders.at(common))
        ++common;
    while (m_targetParts.size() > common) {
        ::close(m_targetFds.back());
        m_targetFds.pop_back();
        m_targetFresh.pop_back();
        m_targetParts.removeLast();
    }
    bool created = false;
    for (qsizetype i = common; i < folders.size(); ++i) {
        const int parent = m_targetFds.empty() ? m_job.m_exportFd : m_targetFds.back();
        bool made = false;
        const int next = open_or_make(parent, folders.at(i), !m_targetFresh.empty() && m_targetFresh.back(), &made,
                                      created, [&] {
                                          log_info([&] {
                                              return QStringLiteral("copy File :: create dir ") + m_job.m_exportFolder
                                                     + QLatin1Char('/') + QFile::decodeName(folders.join('/'));
                                          });
                                      });
        if (next < 0)
            return -1;
        m_targetFds.push_back(next);
        m_targetFresh.push_back(made);
        m_targetParts << folders.at(i);
    }
    *fresh = !m_targetFresh.empty() && m_targetFresh.back();
    return m_targetFds.empty() ? m_job.m_exportFd : m_targetFds.back();
}

void RawExport::Copier::close_target_folders()
{
    for (int fd : m_targetFds)
        ::close(fd);
    m_targetFds.clear();
    m_targetFresh.clear();
    m_targetParts.clear();
}

QString RawExport::Source::shown() const
{
    return folder.isEmpty() ? QFile::decodeName(name) : folder + QLatin1Char('/') + QFile::decodeName(name);
}

int RawExport::copy_file(const QString& source, const QString& target)
{
    const QString prefix = m_exportFolder.endsWith(QLatin1Char('/')) ? m_exportFolder
                                                                     : m_exportFolder + QLatin1Char('/');
    QByteArrayList parts;
    if (m_exportFd >= 0 && target.startsWith(prefix))
        parts = encoded(target.mid(prefix.size()).split(QLatin1Char('/')));
    Copier copier(*this);
    return copier.copy_to({AT_FDCWD, QFile::encodeName(source), QString()}, parts);
}

int RawExport::Copier::copy_to(const Source& source, const QByteArrayList& parts)
{
    const std::atomic<bool>& stop = m_job.m_stop;
    // How the log names the target (made when needed: a copy goes through many small files).
    auto target = [&] { return m_job.m_exportFolder + QLatin1Char('/') + QFile::decodeName(parts.join('/')); };
    log_info([&] { return QStringLiteral("copy File ") + source.shown() + QStringLiteral(" to ") + target(); });
    m_lastFailed.clear();
    auto failed = [&](const QString& path, int code) {
        m_lastFailed = path;
        return code;
    };
    auto copy_failed = [&]() {
        ZQLog::log(QStringLiteral("[ERROR] ") + kName + QStringLiteral("copy File :: failed to copy ") + source.shown()
                   + QStringLiteral(" to ") + target());
        return failed(target(), -9);
    };
    // Only a file that is not there is called missing.
    auto source_failed = [&](int err) {
        QString why;
        if (err == ENOENT || err == ENOTDIR)
            why = QStringLiteral(" missing.");
        else if (err == ELOOP)
            why = QStringLiteral(" is a link: not copied.");
        else if (err == 0)
            why = QStringLiteral(" is not a regular file: not copied.");
        else
            why = QStringLiteral(" unreadable: ") + QString::fromLocal8Bit(std::strerror(err));
        ZQLog::log(QStringLiteral("[ERROR] ") + kName + QStringLiteral("copy File :: ") + source.shown() + why);
        return failed(source.shown(), -14);
    };
    // The source by the name it was listed under; a link in the storage folder is not followed,
    // and nothing but a regular file is opened (opening a device can act on it).
    if (source.name.isEmpty() || source.name.contains('\0'))
        return source_failed(ENOENT);
    if (!source.listedAsFile) {
        struct stat ss{};
        if (::fstatat(source.dir, source.name.constData(), &ss, AT_SYMLINK_NOFOLLOW) != 0)
            return source_failed(errno);
        if (S_ISLNK(ss.st_mode))
            return source_failed(ELOOP);
        if (!S_ISREG(ss.st_mode))
            return source_failed(0);
    }

    // The target's place below the export folder, one folder at a time.
    bool plain = m_job.m_exportFd >= 0 && !parts.isEmpty();
    for (const QByteArray& part : parts)
        plain = plain && plain_name(part);
    if (!plain) {
        ZQLog::log(QStringLiteral("[ERROR] ") + kName + QStringLiteral("copy File :: not below the export folder ")
                   + target());
        return copy_failed();
    }
    const QByteArray& name8 = parts.last();
    const QByteArrayList folders = parts.mid(0, parts.size() - 1);
    bool fresh = false;
    const int dir = target_folder(folders, &fresh);
    if (dir < 0) {
        ZQLog::log(QStringLiteral("[ERROR] ") + kName + QStringLiteral("copy File :: failed to create ")
                   + m_job.m_exportFolder + QLatin1Char('/') + QFile::decodeName(folders.join('/')));
        return failed(target(), -9);
    }

    const int in = ::openat(source.dir, source.name.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (in < 0)
        return source_failed(errno);
    struct InCloser
    {
        int fd;
        ~InCloser() { ::close(fd); }
    } inCloser{in};
    struct stat is{};
    if (::fstat(in, &is) != 0)
        return source_failed(errno);
    if (!S_ISREG(is.st_mode))
        return source_failed(0);

    // A file already under the target's name: an earlier export of the same range is kept when it
    // holds the same bytes; anything else there is never replaced.
    auto already_there = [&](const struct stat& ts) {
        if (ts.st_dev == is.st_dev && ts.st_ino == is.st_ino) {
            ZQLog::log(QStringLiteral("[ERROR] ") + kName + QStringLiteral("copy File :: target is its source ")
                       + target());
            return failed(target(), -9);
        }
        if (S_ISREG(ts.st_mode) && ts.st_size == is.st_size) {
            const int existing = ::openat(dir, name8.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
            const bool same = existing >= 0 && ::lseek(in, 0, SEEK_SET) == 0 && same_content(in, existing, stop);
            if (existing >= 0)
                ::close(existing);
            if (stop.load())
                return 0;
            if (same) {
                log_info([&] { return QStringLiteral("copy File :: already there ") + target(); });
                return 0;
            }
        }
        ZQLog::log(QStringLiteral("[ERROR] ") + kName + QStringLiteral("copy File :: target exists with other content ")
                   + target());
        return copy_failed();
    };
    // Made by this copy, the folder holds nothing the copy did not put there.
    auto look_there = [&](int* code) {
        struct stat ts{};
        if (::fstatat(dir, name8.constData(), &ts, AT_SYMLINK_NOFOLLOW) == 0) {
            *code = already_there(ts);
            return true;
        }
        if (errno != ENOENT) {
            *code = copy_failed();
            return true;
        }
        return false;
    };
    int code = 0;
    if (!fresh && look_there(&code))
        return code;

    // The copy is written into a file without a name and then linked in under its own, which
    // fails when something is there: nothing is ever replaced, a file that appeared meanwhile
    // included, and no half-written file is ever seen under the name. Where the file system
    // cannot make such a file, a hidden temporary name renamed without replacing does the same.
    const timespec times[2] = {is.st_atim, is.st_mtim}; // the copy keeps the source's times
    int publishError = 0;
    // A written copy is published, or it was stopped, or something came under its name meanwhile
    // (kept or refused as above), or it failed.
    auto ended = [&](bool published) {
        if (published || stop.load())
            return 0;
        if (publishError == EEXIST && look_there(&code))
            return code;
        return copy_failed();
    };
    if (anonymous_files()) {
        const int out = ::openat(dir, ".", O_WRONLY | O_TMPFILE | O_CLOEXEC, 0644);
        if (out >= 0) {
            bool published = copy_bytes(in, out, is.st_size, stop) && ::futimens(out, times) == 0;
            if (published) {
                const QByteArray self = "/proc/self/fd/" + QByteArray::number(out);
                published = ::linkat(AT_FDCWD, self.constData(), dir, name8.constData(), AT_SYMLINK_FOLLOW) == 0;
                publishError = published ? 0 : errno;
            }
            if (::close(out) != 0 && published) {
                // Its bytes may not all have been written: not left looking complete.
                ::unlinkat(dir, name8.constData(), 0);
                return copy_failed();
            }
            return ended(published);
        }
        if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)
            return copy_failed();
    }
    // A hidden name of the file's own bytes (cut short: a name has at most 255 bytes).
    const QByteArray tmp8 = QByteArray(".") + name8.left(200) + '.'
                            + QByteArray::number(QRandomGenerator::global()->generate64(), 16) + ".part";
    const int out = ::openat(dir, tmp8.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (out < 0)
        return copy_failed();
    bool ok = copy_bytes(in, out, is.st_size, stop);
    ok = ok && ::futimens(out, times) == 0;
    ok = (::close(out) == 0) && ok;
    bool published = false;
    bool linked = false;
    if (ok) {
        if (::renameat2(dir, tmp8.constData(), dir, name8.constData(), RENAME_NOREPLACE) == 0) {
            published = true;
        } else if (errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP) {
            published = linked = ::linkat(dir, tmp8.constData(), dir, name8.constData(), 0) == 0;
            publishError = published ? 0 : errno;
        } else {
            publishError = errno;
        }
    }
    if (!published || linked)
        ::unlinkat(dir, tmp8.constData(), 0);
    return ended(published);
}

std::vector<RawExport::Copier::Entry> RawExport::Copier::list(int dir, const QString& shown)
{
    std::vector<Entry> entries;
    if (m_listing.empty())
        m_listing.resize(64 * 1024);
    for (;;) {
        const ssize_t n = ::getdents64(dir, m_listing.data(), m_listing.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            const int err = errno;
            ZQLog::log(QStringLiteral("[ERROR] ") + kName + QStringLiteral("cannot read folder ") + shown
                       + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(err)));
            note(-14, shown);
            break;
        }
        if (n == 0)
            break;
        for (ssize_t at = 0; at < n;) {
            const auto* e = reinterpret_cast<const struct dirent64*>(m_listing.data() + at);
            at += e->d_reclen;
            if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
                entries.push_back({QByteArray(e->d_name), e->d_type});
        }
    }
    std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) { return a.name < b.name; });
    return entries;
}

void RawExport::Copier::copy_camera_information(int dir, const QByteArrayList& parts, const QString& shownFolder,
                                                int depth)
{
    struct DirCloser
    {
        int fd;
        ~DirCloser() { ::close(fd); }
    } dirCloser{dir};
    // The whole listing first, then each entry in name order: the folders below are walked with
    // this one still open, and the same buffer serves them.
    const std::vector<Entry> entries = list(dir, shownFolder);
    if (depth > 0 || entries.size() < 2) {
        for (const Entry& e : entries) {
            if (m_job.m_stop.load())
                break;
            copy_entry(dir, e, parts, shownFolder, depth);
        }
        return;
    }
    // The root's folders (its days) are many, and each holds many small folders and files whose
    // opening, listing and making dominate: they are copied at once, each by a copier of its own,
    // and their first failures taken in name order, as one copier after the other finds them.
    struct Task
    {
        const Entry* entry;
        int failure = 0;
        QString failedPath;
    };
    std::vector<Task> tasks;
    tasks.reserve(entries.size());
    for (const Entry& e : entries)
        tasks.push_back({&e, 0, QString()});
    QThreadPool pool;
    pool.setMaxThreadCount(qBound(1, QThread::idealThreadCount(), 4));
    QtConcurrent::blockingMap(&pool, tasks, [&](Task& task) {
        if (m_job.m_stop.load())
            return;
        Copier copier(m_job);
        copier.copy_entry(dir, *task.entry, parts, shownFolder, depth);
        task.failure = copier.failure;
        task.failedPath = copier.failedPath;
    });
    for (const Task& task : tasks)
        note(task.failure, task.failedPath);
}

void RawExport::Copier::copy_entry(int dir, const Entry& e, const QByteArrayList& parts, const QString& shownFolder,
                                   int depth)
{
    auto shownPath = [&] { return shownFolder + QLatin1Char('/') + QFile::decodeName(e.name); };
    const bool nfo = ends_with_ci(e.name, ".zqnfo");
    unsigned char type = e.type;
    if (type == DT_UNKNOWN) {
        struct stat st{};
        if (::fstatat(dir, e.name.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
            type = IFTODT(st.st_mode);
        } else if (const int err = errno; err != ENOENT && nfo) {
            // Not even its kind could be read: a camera file the copy cannot carry.
            ZQLog::log(QStringLiteral("[ERROR] ") + kName + QStringLiteral("copy File :: ") + shownPath()
                       + QStringLiteral(" unreadable: ") + QString::fromLocal8Bit(std::strerror(err)));
            note(-14, shownPath());
            return;
        }
    }
    if (type == DT_DIR) {
        // What an export writes (a copy of this storage or of another one) or a folder named as a
        // root inside a day: never the storage's own camera files.
        if (qstrnicmp(e.name.constData(), "zqcore_", 7) == 0
            && StorageLayout::is_root_folder_name(QFile::decodeName(e.name)))
            return;
        if (depth + 1 > kMaxDepth) {
            ZQLog::log(QStringLiteral("[ERROR] ") + kName + QStringLiteral("folder too deep, not walked ")
                       + shownPath());
            note(-14, shownPath());
            return;
        }
        const int child = ::openat(dir, e.name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (child < 0) {
            // Gone, or a link or a file put in its place since the listing: nothing to walk.
            const int err = errno;
            if (err != ENOENT && err != ELOOP && err != ENOTDIR) {
                ZQLog::log(QStringLiteral("[ERROR] ") + kName + QStringLiteral("cannot read folder ") + shownPath()
                           + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(err)));
                note(-14, shownPath());
            }
            return;
        }
        copy_camera_information(child, QByteArrayList(parts) << e.name, shownPath(), depth + 1);
    } else if (type == DT_REG && nfo) {
        note(copy_to({dir, e.name, shownFolder, true}, QByteArrayList(parts) << e.name));
    }
    // Links and other kinds of files are left where they are.
}

void RawExport::Copier::copy_linked_day(int rootFd, const QByteArray& rootName, const QString& shownRoot,
                                        const QByteArrayList& day)
{
    QString shown = shownRoot;
    for (const QByteArray& part : day)
        shown += QLatin1Char('/') + QFile::decodeName(part);
    auto cannot = [&](int err) {
        ZQLog::log(QStringLiteral("[ERROR] ") + kName + QStringLiteral("cannot read folder ") + shown
                   + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(err)));
        note(-14, shown);
    };
    // Down the day's path as named, links included; the root's walk went through it when none is.
    int dir = ::fcntl(rootFd, F_DUPFD_CLOEXEC, 0);
    if (dir < 0)
        return cannot(errno);
    bool linked = false;
    for (const QByteArray& part : day) {
        struct stat st{};
        if (!plain_name(part) || ::fstatat(dir, part.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
            const int err = plain_name(part) ? errno : ENOENT;
            ::close(dir);
            return cannot(err);
        }
        linked = linked || S_ISLNK(st.st_mode);
        const int next = ::openat(dir, part.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        const int err = errno;
        ::close(dir);
        if (next < 0)
            return cannot(err);
        dir = next;
    }
    if (!linked) {
        ::close(dir);
        return;
    }
    // A link naming the root, a folder above it or a folder named as a storage root is no day:
    // walked, it would copy the storage (or another one) into itself, or without end.
    const QByteArray realDay = real_path_of(dir, QFile::encodeName(shown));
    const QByteArray realRoot = real_path_of(rootFd, QFile::encodeName(shownRoot));
    struct stat ds{}, rs{};
    if (realDay.isEmpty() || realRoot.isEmpty() || ::fstat(dir, &ds) != 0 || ::fstat(rootFd, &rs) != 0) {
        const int err = errno ? errno : EIO;
        ::close(dir);
        return cannot(err);
    }
    const QByteArray realDayName = realDay.mid(realDay.lastIndexOf('/') + 1);
    if ((ds.st_dev == rs.st_dev && ds.st_ino == rs.st_ino) || realDay == "/" || realRoot.startsWith(realDay + '/')
        || StorageLayout::is_root_folder_name(QFile::decodeName(realDayName))) {
        ::close(dir);
        ZQLog::log(QStringLiteral("[ERROR] ") + kName + QStringLiteral("not a day folder, not walked: ") + shown
                   + QStringLiteral(" is ") + QFile::decodeName(realDay));
        note(-14, shown);
        return;
    }
    // Its files keep the day's name as the operator opened it, below the export's copy of the root.
    copy_camera_information(dir, QByteArrayList{rootName} + day, shown, int(day.size()));
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
    struct Closer
    {
        int& fd;
        ~Closer()
        {
            if (fd >= 0)
                ::close(fd);
            fd = -1;
        }
    } closer{m_exportFd};
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
    std::optional<Copier> copier(std::in_place, *this);
    // A file of the range copied to its place; where it goes below the export folder (empty when
    // it has none).
    auto copy_placed = [&](const QString& path) {
        const QByteArrayList target = place(path);
        if (target.isEmpty())
            copier->note(-14, path);
        else
            copier->note(copier->copy_to({AT_FDCWD, QFile::encodeName(path), QString()}, target));
        return target;
    };
    QList<QByteArrayList> days; // the day folders the recordings come from, each once
    const int n = int(m_files.size());
    for (int k = 1; k <= n; ++k) {
        if (m_stop.load())
            return;
        const QString source = m_files.at(k - 1).absoluteFilePath();
        const QByteArrayList target = copy_placed(source);
        if (!target.isEmpty()) {
            const QByteArrayList day = day_of(target.mid(1));
            if (!day.isEmpty() && !days.contains(day))
                days << day;
        }
        emit valueChanged((200 * k - 100) / (2 * n));
        if (!target.isEmpty()) {
            const SeekCompanions companions = seek_index_companions(source);
            copy_placed(companions.valid() ? companions.seekPath : replace_suffix(source, QStringLiteral("zqseek")));
        }
        emit valueChanged((200 * k) / (2 * n));
    }
    if (m_stop.load())
        return;
    // Every camera-information file of the storage root, whatever day it lies in, so that the
    // export names its cameras as the storage folder does. The root is opened as the operator
    // reached it (its own path or a folder above it may be a link, and a case-sensitive file
    // system finds nothing under another case); below it nothing is followed, but for the day
    // folders the recordings come from: the operator opened each as it is named, and an old day
    // moved to another disk and linked back keeps its cameras' names only through this.
    if (!root.isEmpty()) {
        const int rootFd = ::open(QFile::encodeName(root).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        const int dayBase = rootFd < 0 ? -1 : ::fcntl(rootFd, F_DUPFD_CLOEXEC, 0);
        if (rootFd < 0 || dayBase < 0) {
            const int err = errno;
            ZQLog::log(QStringLiteral("[ERROR] ") + kName + QStringLiteral("cannot read folder ") + root
                       + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(err)));
            copier->note(-14, root);
            if (rootFd >= 0)
                ::close(rootFd);
        } else {
            copier->copy_camera_information(rootFd, {rootName8}, root, 0);
            for (const QByteArrayList& day : std::as_const(days)) {
                if (m_stop.load())
                    break;
                copier->copy_linked_day(dayBase, rootName8, root, day);
            }
            ::close(dayBase);
        }
    }
    if (m_stop.load())
        return;
    const int failure = copier->failure;
    const QString failedPath = copier->failedPath;
    copier.reset(); // its folders closed before the end is told
    if (failure != 0) {
        if (!failedPath.isEmpty())
            emit failed_file(failedPath);
        emit error(failure);
        return;
    }
    emit endingsignal();
}
