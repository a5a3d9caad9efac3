#include "recordings/day_index_file.h"

#include "app/zq_log.h"
#include "recordings/seek_index.h"
#include "recordings/storage_layout.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QMutex>
#include <QMutexLocker>
#include <QSaveFile>
#include <QSet>
#include <QtConcurrent/QtConcurrentMap>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace DayIndex {

namespace {

constexpr int kMaxDepth = 32;

// Local "yyyyMMddHHmmss" of a modification time. Time-zone offsets are whole quarter hours, so
// the local time of a quarter hour is computed once and the seconds inside it added.
class LocalTimeFormatter
{
public:
    void format(time_t t, char* out)
    {
        const time_t bucket = t - (((t % 900) + 900) % 900);
        if (bucket != m_bucket) {
            m_bucket = bucket;
            localtime_r(&bucket, &m_tm);
        }
        const int extra = static_cast<int>(t - bucket);
        const int minute = m_tm.tm_min + extra / 60;
        const int second = m_tm.tm_sec + extra % 60;
        if (minute >= 60 || second >= 60) {
            // Leap seconds or odd offsets: take the slow road.
            struct tm tm;
            localtime_r(&t, &tm);
            write(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, out);
            return;
        }
        write(m_tm.tm_year + 1900, m_tm.tm_mon + 1, m_tm.tm_mday, m_tm.tm_hour, minute, second, out);
    }

private:
    static void two(int v, char* out)
    {
        out[0] = static_cast<char>('0' + (v / 10) % 10);
        out[1] = static_cast<char>('0' + v % 10);
    }
    static void write(int y, int mo, int d, int h, int mi, int s, char* out)
    {
        two(y / 100, out);
        two(y % 100, out + 2);
        two(mo, out + 4);
        two(d, out + 6);
        two(h, out + 8);
        two(mi, out + 10);
        two(s, out + 12);
    }

    time_t m_bucket = -1;
    struct tm m_tm = {};
};

struct DirEntry
{
    QByteArray name;
    bool isDir = false;
    qint64 size = 0;
    time_t mtime = 0;
};

// The groups whose read permission counts for us: the effective group and the supplementary
// ones (a viewer is often given the storage through a group such as "video").
std::vector<gid_t> own_groups()
{
    std::vector<gid_t> groups{getegid()};
    const int n = getgroups(0, nullptr);
    if (n > 0) {
        std::vector<gid_t> more(static_cast<size_t>(n));
        const int got = getgroups(n, more.data());
        if (got > 0)
            groups.insert(groups.end(), more.begin(), more.begin() + got);
    }
    return groups;
}

bool readable(const struct stat& st)
{
    static const uid_t euid = geteuid();
    static const std::vector<gid_t> groups = own_groups();
    if (euid == 0)
        return true;
    if (st.st_uid == euid)
        return st.st_mode & S_IRUSR;
    if (std::find(groups.begin(), groups.end(), st.st_gid) != groups.end())
        return st.st_mode & S_IRGRP;
    return st.st_mode & S_IROTH;
}

bool ends_with_ci(const QByteArray& name, const char* suffix)
{
    const qsizetype n = qsizetype(std::strlen(suffix));
    if (name.size() < n)
        return false;
    return qstrnicmp(name.constData() + name.size() - n, suffix, n) == 0;
}

QByteArray last_suffix_lower(const QByteArray& name)
{
    const qsizetype dot = name.lastIndexOf('.');
    if (dot < 0)
        return QByteArray();
    return name.mid(dot + 1).toLower();
}

enum class Kind { None, Video, Audio, Alarm, Preview, Tag, Nfo };

// The list a file of a scanned folder goes to, by its name alone (a recording also needs its
// seek index, checked apart). Recordings are taken only under a recording's name:
// "1_20240101_090030_hash.json.zqvideo" would otherwise play as camera 1 at 09:00:30.
Kind kind_of_name(const QByteArray& name)
{
    if (ends_with_ci(name, ".zqvideo"))
        return StorageLayout::parse_recording_name(QFile::decodeName(name)).valid ? Kind::Video : Kind::None;
    if (ends_with_ci(name, ".zqaudio"))
        return StorageLayout::parse_recording_name(QFile::decodeName(name)).valid ? Kind::Audio : Kind::None;
    if (ends_with_ci(name, ".jpg"))
        return name.contains("_preview.jpg") || name.contains("_videopreview.jpg") ? Kind::Preview : Kind::Alarm;
    if (ends_with_ci(name, ".zqtag"))
        return Kind::Tag;
    if (ends_with_ci(name, ".zqnfo"))
        return Kind::Nfo;
    return Kind::None;
}

class Walker
{
public:
    Walker(bool collect, Files* files) : m_collect(collect), m_files(files) {}

    QStringList entries;
    int collectedFolders = 0;

    // Reads one folder (an open descriptor, consumed), adds its files and walks its sub-folders.
    void walk(int dirFd, const QByteArray& relPrefix, const QString& absFolder, int depth)
    {
        DIR* dir = fdopendir(dirFd);
        if (!dir) {
            ::close(dirFd);
            ZQLog::log(QStringLiteral("[WARN] ZQIndex Manager :: scan :: cannot read folder :: ") + absFolder);
            return;
        }
        std::vector<DirEntry> items;
        while (struct dirent* e = readdir(dir)) {
            if (e->d_name[0] == '.')
                continue; // hidden entries, "." and ".."
            if (e->d_type == DT_LNK)
                continue; // symbolic links are never followed out of the folder
            struct stat st;
            if (fstatat(dirfd(dir), e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0)
                continue; // vanished since it was listed
            DirEntry item;
            item.name = QByteArray(e->d_name);
            if (S_ISDIR(st.st_mode)) {
                item.isDir = true;
            } else if (S_ISREG(st.st_mode)) {
                if (!readable(st)) {
                    ZQLog::log(QStringLiteral("[WARN] ZQIndex Manager :: scan :: unreadable file skipped :: ")
                               + absFolder + QLatin1Char('/') + QFile::decodeName(item.name));
                    continue;
                }
                item.size = st.st_size;
                item.mtime = st.st_mtim.tv_sec;
            } else {
                continue;
            }
            items.push_back(std::move(item));
        }
        std::sort(items.begin(), items.end(), [](const DirEntry& a, const DirEntry& b) { return a.name < b.name; });

        char timeText[15];
        timeText[14] = 0;
        for (const DirEntry& item : items) {
            if (item.isDir)
                continue;
            const QByteArray suffix = last_suffix_lower(item.name);
            if (suffix == "json" || suffix == "zqnfo")
                continue;
            m_time.format(item.mtime, timeText);
            QByteArray entry;
            entry.reserve(relPrefix.size() + item.name.size() + 40);
            entry.append(relPrefix).append(item.name).append('|').append(timeText, 14).append('|')
                .append(QByteArray::number(item.size));
            entries.append(QString::fromUtf8(entry));
        }

        if (m_collect && depth <= 1) {
            collect(items, absFolder);
            ++collectedFolders;
        }

        std::vector<Child> children;
        for (const DirEntry& item : items) {
            if (!item.isDir)
                continue;
            const QString childAbs = absFolder + QLatin1Char('/') + QFile::decodeName(item.name);
            if (m_collect && depth == 0 && StorageLayout::is_day_folder_name(QFile::decodeName(item.name)))
                m_files->dateDirectories.append(childAbs);
            if (depth + 1 > kMaxDepth) {
                ZQLog::log(QStringLiteral("[WARN] ZQIndex Manager :: scan :: folder too deep, skipped :: ") + childAbs);
                continue;
            }
            Child child;
            child.name = item.name;
            child.abs = childAbs;
            children.push_back(std::move(child));
        }
        if (depth == 0 && children.size() > 1)
            walk_in_parallel(dirfd(dir), relPrefix, children);
        else
            for (Child& child : children)
                walk_child(dirfd(dir), relPrefix, child, depth + 1, this);
        closedir(dir);
    }

private:
    struct Child
    {
        QByteArray name;
        QString abs;
        // What a walk of this folder found, when it ran on a walker of its own.
        QStringList entries;
        Files files;
        int collectedFolders = 0;
    };

    void walk_child(int parentFd, const QByteArray& relPrefix, const Child& child, int depth, Walker* into)
    {
        const int childFd = openat(parentFd, child.name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (childFd < 0) {
            ZQLog::log(QStringLiteral("[WARN] ZQIndex Manager :: scan :: cannot open folder :: ") + child.abs);
            return;
        }
        into->walk(childFd, relPrefix + child.name + '/', child.abs, depth);
    }

    // The start-time folders of a day are many and small: their reads and stat calls dominate, so
    // they are read at once, each by a walker of its own, and their results joined in name order
    // so that the lists and the fingerprint are the ones a walk one folder after the other gives.
    void walk_in_parallel(int dirFd, const QByteArray& relPrefix, std::vector<Child>& children)
    {
        QtConcurrent::blockingMap(children, [this, dirFd, &relPrefix](Child& child) {
            Walker walker(m_collect, &child.files);
            walk_child(dirFd, relPrefix, child, 1, &walker);
            child.entries = std::move(walker.entries);
            child.collectedFolders = walker.collectedFolders;
        });
        qsizetype total = entries.size();
        for (const Child& child : children)
            total += child.entries.size();
        entries.reserve(total);
        for (Child& child : children) {
            entries.append(std::move(child.entries));
            collectedFolders += child.collectedFolders;
            if (!m_collect)
                continue;
            m_files->video.append(std::move(child.files.video));
            m_files->alarm.append(std::move(child.files.alarm));
            m_files->tag.append(std::move(child.files.tag));
            m_files->audio.append(std::move(child.files.audio));
            m_files->preview.append(std::move(child.files.preview));
            m_files->nfo.append(std::move(child.files.nfo));
            m_files->dateDirectories.append(std::move(child.files.dateDirectories));
        }
    }

    void collect(const std::vector<DirEntry>& items, const QString& absFolder)
    {
        QHash<QByteArray, qint64> sizes;
        sizes.reserve(qsizetype(items.size()));
        for (const DirEntry& item : items) {
            if (!item.isDir)
                sizes.insert(item.name, item.size);
        }
        auto companionFilled = [&sizes](const QByteArray& name, const char* suffix) {
            const qsizetype dot = name.lastIndexOf('.');
            return sizes.value(name.left(dot + 1) + suffix, 0) > 0;
        };
        const QString prefix = absFolder + QLatin1Char('/');
        for (const DirEntry& item : items) {
            if (item.isDir)
                continue;
            const QByteArray& name = item.name;
            // A name that is not UTF-8 does not come back from its text form: listed, it would
            // be dropped again at every load as a missing file.
            if (QFile::encodeName(QFile::decodeName(name)) != name) {
                ZQLog::log(QStringLiteral("[WARN] ZQIndex Manager :: scan :: file name not UTF-8 skipped :: ") + prefix
                           + QFile::decodeName(name));
                continue;
            }
            switch (kind_of_name(name)) {
            case Kind::Video:
                if (companionFilled(name, "zqseek"))
                    m_files->video.append(prefix + QFile::decodeName(name));
                break;
            case Kind::Audio:
                if (companionFilled(name, "zqaudioseek"))
                    m_files->audio.append(prefix + QFile::decodeName(name));
                break;
            case Kind::Preview:
                m_files->preview.append(prefix + QFile::decodeName(name));
                break;
            case Kind::Alarm:
                m_files->alarm.append(prefix + QFile::decodeName(name));
                break;
            case Kind::Tag:
                m_files->tag.append(prefix + QFile::decodeName(name));
                break;
            case Kind::Nfo:
                m_files->nfo.append(prefix + QFile::decodeName(name));
                break;
            case Kind::None:
                break;
            }
        }
    }

    bool m_collect;
    Files* m_files;
    LocalTimeFormatter m_time;
};

// Indexes kept in memory for folders whose index file could not be written.
struct Remembered
{
    QString fingerprint;
    Files files;
};

QMutex g_rememberedMutex;
QHash<QString, Remembered> g_remembered;
QStringList g_rememberedOrder;

QJsonArray to_array(const QStringList& list)
{
    QJsonArray array;
    for (const QString& s : list)
        array.append(s);
    return array;
}

bool is_fingerprint_text(const QString& text)
{
    if (text.size() != 64)
        return false;
    for (QChar c : text) {
        if (!((c >= QLatin1Char('0') && c <= QLatin1Char('9')) || (c >= QLatin1Char('a') && c <= QLatin1Char('f'))))
            return false;
    }
    return true;
}

// Keeps the entries that a scan of the day would list: regular files of the kind of their list,
// under a name that is not hidden, in the day folder or one of its direct sub-folders that is
// not hidden either; rebased from the stored day folder. A file deleted since the index was
// written is only dropped; anything else (a hidden name, a path outside the day, a file of
// another kind) is no index of ours, and the index is not trusted.
// Stored entries checked together on one pool thread.
constexpr qsizetype kCheckBlock = 512;

class EntryFilter
{
public:
    enum class Verdict { Listed, Missing, Foreign };

    EntryFilter(const QString& day, const QString& storedDay) : m_day(day), m_storedDay(storedDay)
    {
        m_root = parent_with_slash(day);
        m_storedRoot = parent_with_slash(storedDay);
    }

    Verdict accept(const QString& stored, Kind kind, QString* out)
    {
        // A NUL would cut the path short for the system calls below.
        if (stored.isEmpty() || stored.contains(QChar(0)))
            return Verdict::Foreign;
        QString path;
        if (is_foreign_absolute(stored)) {
            // Written on another machine ("E:/zqcore_…", "E:\\zqcore_…"): rebased by what follows
            // the storage root folder's name, as a moved root is.
            path = rebase_after_root(QDir::cleanPath(QString(stored).replace(QLatin1Char('\\'), QLatin1Char('/'))));
            if (path.isEmpty())
                return Verdict::Foreign;
        } else {
            if (!QDir::isAbsolutePath(stored))
                return Verdict::Foreign;
            const QString clean = QDir::cleanPath(stored);
            if (clean.startsWith(m_storedDay))
                path = m_day + clean.mid(m_storedDay.size());
            else if (!m_storedRoot.isEmpty() && clean.startsWith(m_storedRoot))
                path = m_root + clean.mid(m_storedRoot.size());
            else
                return Verdict::Foreign;
        }

        // The scan lists the day folder's own files and those of its direct sub-folders only.
        if (!StorageLayout::is_inside(path, m_day))
            return Verdict::Foreign;
        const QString rest = path.mid(m_day.size());
        const qsizetype slashes = rest.count(QLatin1Char('/'));
        if (slashes > 1)
            return Verdict::Foreign;
        const QString name = rest.mid(rest.lastIndexOf(QLatin1Char('/')) + 1);
        const QByteArray name8 = QFile::encodeName(name);
        if (name.startsWith(QLatin1Char('.')) || kind_of_name(name8) != kind)
            return Verdict::Foreign;
        if (slashes == 1) {
            const QString folderName = rest.left(rest.indexOf(QLatin1Char('/')));
            if (folderName.startsWith(QLatin1Char('.')))
                return Verdict::Foreign;
            const Verdict folder = real_folder(m_day + folderName);
            if (folder != Verdict::Listed)
                return folder;
        }
        struct stat st;
        if (lstat(QFile::encodeName(path).constData(), &st) != 0)
            return errno == ENOENT ? Verdict::Missing : Verdict::Foreign;
        if (!S_ISREG(st.st_mode))
            return Verdict::Foreign;
        // A recording is listed with a seek index that is there and not empty.
        if (kind == Kind::Video || kind == Kind::Audio) {
            const QString companion = path.left(path.lastIndexOf(QLatin1Char('.')) + 1)
                                      + QLatin1String(kind == Kind::Video ? "zqseek" : "zqaudioseek");
            struct stat cs;
            if (lstat(QFile::encodeName(companion).constData(), &cs) != 0 || !S_ISREG(cs.st_mode) || cs.st_size <= 0)
                return Verdict::Foreign;
        }
        *out = path;
        return Verdict::Listed;
    }

private:
    // A drive-letter path or one with backslashes: absolute on the machine that wrote it.
    static bool is_foreign_absolute(const QString& stored)
    {
        if (stored.contains(QLatin1Char('\\')))
            return true;
        return stored.size() >= 3 && stored.at(0).isLetter() && stored.at(0).unicode() < 128
               && stored.at(1) == QLatin1Char(':') && stored.at(2) == QLatin1Char('/');
    }

    // The current root folder followed by what comes after the last storage root folder name of
    // `clean`; empty when it names none, or climbs with "..".
    QString rebase_after_root(const QString& clean) const
    {
        if (m_root.isEmpty() || !StorageLayout::is_root_folder_name(QFileInfo(m_root.left(m_root.size() - 1)).fileName()))
            return QString();
        const QStringList parts = clean.split(QLatin1Char('/'));
        for (qsizetype i = parts.size() - 2; i >= 0; --i) {
            if (!StorageLayout::is_root_folder_name(parts.at(i)))
                continue;
            const QStringList rest = parts.mid(i + 1);
            if (rest.contains(QStringLiteral("..")) || rest.contains(QString()))
                return QString();
            return m_root + rest.join(QLatin1Char('/'));
        }
        return QString();
    }

    static QString parent_with_slash(const QString& folderWithSlash)
    {
        const QString noSlash = folderWithSlash.left(folderWithSlash.size() - 1);
        const qsizetype cut = noSlash.lastIndexOf(QLatin1Char('/'));
        if (cut < 0)
            return QString();
        return noSlash.left(cut + 1);
    }

    Verdict real_folder(const QString& folder)
    {
        auto it = m_folders.constFind(folder);
        if (it != m_folders.constEnd())
            return *it;
        struct stat st;
        Verdict verdict = Verdict::Listed;
        if (lstat(QFile::encodeName(folder).constData(), &st) != 0)
            verdict = errno == ENOENT ? Verdict::Missing : Verdict::Foreign;
        else if (!S_ISDIR(st.st_mode))
            verdict = Verdict::Foreign;
        m_folders.insert(folder, verdict);
        return verdict;
    }

    QString m_day;
    QString m_storedDay;
    QString m_root;
    QString m_storedRoot;
    QHash<QString, Verdict> m_folders;
};

} // namespace

QString fingerprint_of_entries(QStringList entries)
{
    std::sort(entries.begin(), entries.end());
    QCryptographicHash hash(QCryptographicHash::Sha256);
    bool first = true;
    for (const QString& entry : entries) {
        if (!first)
            hash.addData(QByteArrayView(";", 1));
        first = false;
        hash.addData(entry.toUtf8());
    }
    return QString::fromLatin1(hash.result().toHex());
}

Snapshot scan(const QString& dayFolder, bool collect)
{
    Snapshot snapshot;
    const QString folder = StorageLayout::clean_folder_path(dayFolder);
    const int fd = folder.isEmpty() ? -1
                                    : open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        ZQLog::log(QStringLiteral("[WARNING] Encrypt :: generate snapshot :: Directory does not exist: ") + dayFolder);
        return snapshot;
    }
    snapshot.exists = true;
    Walker walker(collect, &snapshot.files);
    walker.walk(fd, QByteArray(), folder == QLatin1String("/") ? QString() : folder, 0);
    snapshot.fileCount = walker.entries.size();
    snapshot.fingerprint = fingerprint_of_entries(std::move(walker.entries));
    snapshot.folders = walker.collectedFolders;
    return snapshot;
}

QString fingerprint(const QString& folder)
{
    return scan(folder, false).fingerprint;
}

bool same_files(const Files& a, const Files& b)
{
    auto same = [](const QStringList& x, const QStringList& y) {
        if (x.size() != y.size())
            return false;
        if (x == y)
            return true;
        QStringList xs = x, ys = y;
        std::sort(xs.begin(), xs.end());
        std::sort(ys.begin(), ys.end());
        return xs == ys;
    };
    return same(a.video, b.video) && same(a.alarm, b.alarm) && same(a.tag, b.tag) && same(a.audio, b.audio)
           && same(a.preview, b.preview);
}

bool write(const QString& dayFolder, const Files& files, const QString& fingerprint, QString* error)
{
    const QString day = StorageLayout::folder_with_slash(dayFolder);
    QJsonObject object;
    object.insert(QStringLiteral("date_directory"), to_array(files.dateDirectories));
    object.insert(QStringLiteral("last_modified"), fingerprint);
    object.insert(QStringLiteral("root_directory"), day);
    object.insert(QStringLiteral("zqalarm_files"), to_array(files.alarm));
    object.insert(QStringLiteral("zqaudio_files"), to_array(files.audio));
    object.insert(QStringLiteral("zqpreview_files"), to_array(files.preview));
    object.insert(QStringLiteral("zqtag_files"), to_array(files.tag));
    object.insert(QStringLiteral("zqvideo_files"), to_array(files.video));
    const QByteArray json = QJsonDocument(object).toJson(QJsonDocument::Compact);

    const QString target = day + QLatin1String(kFileName);
    QString failure;
    if (!StorageLayout::prepare_write_target(target, &failure)) {
        ZQLog::log(QStringLiteral("[ERROR] ZQIndexManager :: write index file :: ") + failure + QStringLiteral(" :: ")
                   + target);
        if (error)
            *error = failure;
        return false;
    }
    QSaveFile file(target);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        failure = file.errorString();
    else if (file.write(json) != json.size())
        failure = file.errorString();
    else if (!file.commit())
        failure = file.errorString();
    if (!failure.isEmpty()) {
        file.cancelWriting();
        if (error)
            *error = failure;
        return false;
    }
    return true;
}

Stored read(const QString& dayFolder, bool withLists, qsizetype maxEntries)
{
    Stored stored;
    const QString day = StorageLayout::folder_with_slash(dayFolder);
    {
        QMutexLocker lock(&g_rememberedMutex);
        auto it = g_remembered.constFind(day);
        if (it != g_remembered.constEnd()) {
            stored.found = true;
            stored.fromMemory = true;
            stored.fingerprint = it->fingerprint;
            if (withLists)
                stored.files = it->files;
        }
    }
    if (stored.fromMemory) {
        if (withLists) {
            // Files deleted since the build drop out, as with a stored index.
            auto keep = [&stored](QStringList& list) {
                const qsizetype before = list.size();
                list.removeIf([](const QString& path) {
                    struct stat st;
                    return lstat(QFile::encodeName(path).constData(), &st) != 0 || !S_ISREG(st.st_mode);
                });
                stored.rejected += int(before - list.size());
            };
            keep(stored.files.video);
            keep(stored.files.alarm);
            keep(stored.files.tag);
            keep(stored.files.audio);
            keep(stored.files.preview);
        }
        return stored;
    }

    QFile file(day + QLatin1String(kFileName));
    const QFileInfo info(file.fileName());
    if (!info.exists() && !info.isSymLink())
        return stored;
    // A pipe in its place would block the open; a folder cannot be read either, and a symbolic
    // link is not followed out of the day.
    if (!StorageLayout::is_regular_file_no_link(file.fileName()) || !file.open(QIODevice::ReadOnly)) {
        ZQLog::log(QStringLiteral("[WARN] ZQIndexManager :: set value from indexfile :: failed to open index file"));
        return stored;
    }
    if (file.size() > kMaxIndexFileSize) {
        ZQLog::log(QStringLiteral("[WARN] ZQIndexManager :: index file too large, ignored :: ") + file.fileName());
        return stored;
    }
    QJsonParseError parseError;
    const QJsonDocument doc = QJsonDocument::fromJson(file.readAll(), &parseError);
    if (parseError.error != QJsonParseError::NoError || !doc.isObject()) {
        ZQLog::log(QStringLiteral("[WARN] ZQIndexManager :: malformed index file ignored :: ") + file.fileName());
        return stored;
    }
    const QJsonObject object = doc.object();
    stored.found = true;
    const QString lastModified = object.value(QLatin1String("last_modified")).toString();
    if (is_fingerprint_text(lastModified))
        stored.fingerprint = lastModified;
    if (!withLists)
        return stored;

    QString storedDay = day;
    const QJsonValue rootValue = object.value(QLatin1String("root_directory"));
    if (rootValue.isString() && QDir::isAbsolutePath(rootValue.toString())) {
        storedDay = QDir::cleanPath(QDir::fromNativeSeparators(rootValue.toString()));
        if (!storedDay.endsWith(QLatin1Char('/')))
            storedDay.append(QLatin1Char('/'));
    }
    EntryFilter filter(day, storedDay);
    auto take = [&](const char* key, Kind kind, QStringList& list) {
        const QJsonValue value = object.value(QLatin1String(key));
        if (!value.isArray()) {
            if (!value.isUndefined()) {
                ++stored.rejected;
                ++stored.foreign;
            }
            return;
        }
        const QJsonArray array = value.toArray();
        stored.longestList = std::max(stored.longestList, array.size());
        const qsizetype cap = std::min(maxEntries, kMaxListEntries);
        if (array.size() > cap)
            ZQLog::log(QStringLiteral("[WARN] ZQIndexManager :: set value from indexfile :: list cut to ")
                       + QString::number(cap) + QStringLiteral(" entries :: ") + QLatin1String(key));
        // A file listed twice plays twice and costs a look-up each time: duplicates are dropped,
        // before the look-up when the text repeats and after it when only the rebased path does.
        const qsizetype count = std::min(array.size(), cap);
        QSet<QString> seenTexts;
        seenTexts.reserve(count);
        QStringList texts;
        texts.reserve(count);
        for (qsizetype i = 0; i < count; ++i) {
            const QJsonValue entry = array.at(i);
            if (!entry.isString()) {
                ++stored.rejected;
                ++stored.foreign;
                continue;
            }
            const QString text = entry.toString();
            if (seenTexts.contains(text)) {
                ++stored.duplicates;
                continue;
            }
            seenTexts.insert(text);
            texts.append(text);
        }
        // The look-ups (two for a recording) are most of a big day's read: they run in blocks
        // on the pool, each block with a filter of its own, and are taken in list order.
        std::vector<EntryFilter::Verdict> verdicts(size_t(texts.size()), EntryFilter::Verdict::Foreign);
        std::vector<QString> paths(size_t(texts.size()));
        std::vector<std::pair<qsizetype, qsizetype>> blocks;
        for (qsizetype b = 0; b < texts.size(); b += kCheckBlock)
            blocks.emplace_back(b, std::min(texts.size(), b + kCheckBlock));
        QtConcurrent::blockingMap(blocks, [&](const std::pair<qsizetype, qsizetype>& block) {
            EntryFilter own = filter;
            for (qsizetype i = block.first; i < block.second; ++i)
                verdicts[size_t(i)] = own.accept(texts.at(i), kind, &paths[size_t(i)]);
        });
        QSet<QString> seenPaths;
        for (size_t i = 0; i < verdicts.size(); ++i) {
            if (verdicts[i] != EntryFilter::Verdict::Listed) {
                ++stored.rejected;
                if (verdicts[i] == EntryFilter::Verdict::Foreign)
                    ++stored.foreign;
            } else if (seenPaths.contains(paths[i])) {
                ++stored.duplicates;
            } else {
                seenPaths.insert(paths[i]);
                list.append(std::move(paths[i]));
            }
        }
    };
    take("zqvideo_files", Kind::Video, stored.files.video);
    take("zqalarm_files", Kind::Alarm, stored.files.alarm);
    take("zqtag_files", Kind::Tag, stored.files.tag);
    take("zqaudio_files", Kind::Audio, stored.files.audio);
    take("zqpreview_files", Kind::Preview, stored.files.preview);
    if (stored.rejected > 0)
        ZQLog::log(QStringLiteral("[WARN] ZQIndexManager :: set value from indexfile :: entries dropped :: ")
                   + QString::number(stored.rejected) + QStringLiteral(" :: ") + file.fileName());
    if (stored.foreign > 0)
        ZQLog::log(QStringLiteral("[WARN] ZQIndexManager :: set value from indexfile :: entries no scan lists, "
                                  "index not trusted :: ")
                   + QString::number(stored.foreign) + QStringLiteral(" :: ") + file.fileName());
    if (stored.duplicates > 0)
        ZQLog::log(QStringLiteral("[WARN] ZQIndexManager :: set value from indexfile :: duplicate entries dropped :: ")
                   + QString::number(stored.duplicates) + QStringLiteral(" :: ") + file.fileName());
    return stored;
}

void remember(const QString& dayFolder, const QString& fingerprint, const Files& files)
{
    const QString day = StorageLayout::folder_with_slash(dayFolder);
    QMutexLocker lock(&g_rememberedMutex);
    g_rememberedOrder.removeAll(day);
    g_rememberedOrder.append(day);
    Remembered entry;
    entry.fingerprint = fingerprint;
    entry.files = files;
    entry.files.nfo.clear();
    g_remembered.insert(day, entry);
    while (g_rememberedOrder.size() > kRememberedDays)
        g_remembered.remove(g_rememberedOrder.takeFirst());
}

void forget(const QString& dayFolder)
{
    const QString day = StorageLayout::folder_with_slash(dayFolder);
    QMutexLocker lock(&g_rememberedMutex);
    g_rememberedOrder.removeAll(day);
    g_remembered.remove(day);
}

} // namespace DayIndex
