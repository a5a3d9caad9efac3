#include "integrity/integrity_check.h"

#include "app/sha256.h"
#include "app/zq_log.h"
#include "recordings/encrypt.h"
#include "recordings/storage_layout.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QSet>



#ifdef Q_OS_UNIX
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

const QString kListName = QStringLiteral("hash.json");
// Names shown to the operator are cut here: laying out megabytes of text freezes a window.
constexpr qsizetype kMaxLabelLength = 1000;

void log(const QString& text)
{
    ZQLog::log(text);
}

QString capped(const QString& text)
{
    if (text.size() <= kMaxLabelLength)
        return text;
    return text.left(kMaxLabelLength) + QStringLiteral("…");
}

bool is_digest(const QString& text)
{
    if (text.size() != 64)
        return false;
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (!((u >= '0' && u <= '9') || (u >= 'a' && u <= 'f') || (u >= 'A' && u <= 'F')))
            return false;
    }
    return true;
}

// Kinds of file the players read from a day: recordings with their seek indexes, tags, camera
// information and pictures (by the last suffix, in any letter case, as the day's scan takes them).
bool is_read_by_player(const QString& name)
{
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    if (dot < 0)
        return false;
    const QStringView suffix = QStringView(name).mid(dot + 1);
    for (const char* kind : {"zqvideo", "zqseek", "zqaudio", "zqaudioseek", "zqtag", "zqnfo", "jpg"}) {
        if (suffix.compare(QLatin1String(kind), Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

// The day's own list, index and camera list are no part of what the list names, nor are copies of
// them such as "hash.json.old". A file the players read is never left out whatever its name holds:
// "1_20240101_090030_hash.json.zqvideo" or "9_zqvideoindex.json.zqtag" would be shown, so they are
// counted, and named as added when the list does not name them. The camera list "index.zqnfo" is
// left out only where the day keeps it, in the day folder itself.
bool is_excluded_name(const QString& name, bool dayLevel)
{
    if (!name.contains(QLatin1String("index.zqnfo")) && !name.contains(QLatin1String("hash.json"))
        && !name.contains(QLatin1String("zqvideoindex.json")))
        return false;
    if (dayLevel && name == QLatin1String("index.zqnfo"))
        return true;
    return !is_read_by_player(name);
}

void walk(const QString& folder, const QString& prefix, QStringList* out)
{
    const QFileInfo info(folder);
    if (!info.isReadable() || !info.isExecutable()) {
        log(QStringLiteral("[WARN] Integrity check :: count :: cannot read folder :: ") + folder);
        return;
    }
    // Without QDir::System neither pipes, sockets, devices nor dangling links are listed; without
    // QDir::Hidden no hidden entry; NoSymLinks keeps the walk inside the folder and out of loops.
    QDirIterator it(folder, QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot | QDir::NoSymLinks);
    QStringList folders;
    while (it.hasNext()) {
        it.next();
        const QString name = it.fileName();
        if (it.fileInfo().isDir())
            folders.append(name);
        else if (!is_excluded_name(name, prefix.isEmpty()))
            out->append(prefix + name);
    }
    for (const QString& name : std::as_const(folders))
        walk(folder + QLatin1Char('/') + name, prefix + name + QLatin1Char('/'), out);
}

} // namespace

IntegrityCheck::IntegrityCheck(QString dayFolder)
    : QThread(nullptr)
    , m_day_folder(StorageLayout::clean_folder_path(dayFolder))
{
}

IntegrityCheck::~IntegrityCheck()
{
    m_stop.store(true);
    wait();
}

void IntegrityCheck::user_stop()
{
    log(QStringLiteral("[INFO] Integrity check :: stopped by user"));
    m_stop.store(true);
}

void IntegrityCheck::run()
{
    log(QStringLiteral("[INFO] Integrity check :: start"));
    check();
}

QStringList IntegrityCheck::counted_files(const QString& dayFolder)
{
    QStringList files;
    walk(StorageLayout::clean_folder_path(dayFolder), QString(), &files);
    files.sort();
    return files;
}

IntegrityCheck::List IntegrityCheck::parse_list(const QByteArray& plain)
{
    List list;
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(plain, &error);
    if (error.error != QJsonParseError::NoError || !doc.isArray())
        return list;
    list.array = true;
    const QJsonArray array = doc.array();
    list.entries.reserve(array.size());
    for (qsizetype i = 0; i < array.size(); ++i) {
        const QJsonValue value = array.at(i);
        Entry entry;
        const QString index = QStringLiteral("#") + QString::number(i);
        if (!value.isObject()) {
            entry.label = index;
            entry.problem = QStringLiteral("not an object");
            list.entries.append(entry);
            continue;
        }
        const QJsonObject object = value.toObject();
        const QString file = object.value(QLatin1String("file")).toString();
        const QString path = object.value(QLatin1String("path")).toString();
        const QString absolute = object.value(QLatin1String("absolutepath")).toString();
        const QString digest = object.value(QLatin1String("sha256")).toString();
        // "path" names the file: "absolutepath" is where it was when the list was written, which
        // on a copy of the folder is the original, not the file under check. "absolutepath" only
        // serves when "path" is missing, and then only inside the day folder (checked later).
        const QString given = !path.isEmpty() ? path : absolute;
        entry.listed = given;
        entry.label = capped(!file.isEmpty() ? file : !given.isEmpty() ? given : index);
        if (path.isEmpty() && absolute.isEmpty()) {
            entry.problem = QStringLiteral("no path");
        } else if (!path.isEmpty() && (QDir::isAbsolutePath(path) || path.startsWith(QLatin1Char('/')))) {
            entry.problem = QStringLiteral("absolute path");
        } else if (!path.isEmpty()) {
            const QString clean = QDir::cleanPath(path);
            if (clean.isEmpty() || clean == QLatin1String(".") || clean == QLatin1String("..")
                || clean.startsWith(QLatin1String("../")) || clean.startsWith(QLatin1Char('/')))
                entry.problem = QStringLiteral("path outside the day folder");
            else
                entry.relative = clean;
        } else {
            // Only an absolute path: made relative against the day folder once that is known.
            entry.absolute_only = true;
            entry.problem = QStringLiteral("only an absolute path");
        }
        // Kept as written: the computed digest is lower-case text and the two compare exactly, so
        // an upper-case digest never matches.
        if (is_digest(digest))
            entry.sha256 = digest;
        else if (entry.problem.isEmpty())
            entry.problem = QStringLiteral("no valid SHA-256");
        list.entries.append(entry);
    }
    return list;
}

QList<IntegrityCheck::Entry> IntegrityCheck::read_list(const QString& listPath)
{
    const QFileInfo info(listPath);
    if (!info.exists() && !info.isSymLink())
        return {};
    std::string plain;
    // Metadata is never read through a link, and a pipe would block the read.
    if (!info.isSymLink() && info.isFile())
        plain = Encrypt::decrypt_file(listPath, Encrypt::Expect::JsonArray, Encrypt::kMaxHashListSize);
    if (plain.empty()) {
        log(QStringLiteral("[ERROR] Integrity check :: get json array :: faild to openfile READ :: ") + listPath);
        return {};
    }
    List list = parse_list(QByteArray::fromStdString(plain));
    plain.clear();
    plain.shrink_to_fit();

    // Elements that give only "absolutepath" are usable when it lies inside the day folder.
    const QString dayWithSlash = StorageLayout::folder_with_slash(m_day_folder);
    for (Entry& entry : list.entries) {
        if (!entry.absolute_only)
            continue;
        const QString clean = QDir::cleanPath(entry.listed);
        if (QDir::isAbsolutePath(entry.listed) && StorageLayout::is_inside(clean, dayWithSlash)) {
            entry.relative = clean.mid(dayWithSlash.size());
            entry.problem = entry.sha256.isEmpty() ? QStringLiteral("no valid SHA-256") : QString();
        } else {
            entry.problem = QStringLiteral("absolute path outside the day folder");
        }
    }
    return list.entries;
}

void IntegrityCheck::report_differences(const QList<Entry>& entries, const QStringList& counted)
{
    const QSet<QString> onDisk(counted.begin(), counted.end());
    QSet<QString> listed;
    QStringList missing;
    QSet<QString> seen;
    for (const Entry& entry : entries) {
        const QString key = !entry.relative.isEmpty() ? entry.relative : entry.listed;
        if (key.isEmpty())
            continue;
        if (!entry.relative.isEmpty())
            listed.insert(entry.relative);
        if (seen.contains(key)) {
            log(QStringLiteral("[ERROR] Integrity check :: invalid integrity :: file listed twice :: ") + key);
            continue;
        }
        seen.insert(key);
        if (entry.relative.isEmpty() || !onDisk.contains(entry.relative))
            missing.append(key);
    }
    QStringList added;
    for (const QString& path : counted) {
        if (!listed.contains(path))
            added.append(path);
    }
    missing.sort();

    // The log only: the dialog's file lines belong to the files checked one by one.
    for (const QString& path : std::as_const(missing))
        log(QStringLiteral("[ERROR] Integrity check :: invalid integrity :: file missing :: ") + path);
    for (const QString& path : std::as_const(added))
        log(QStringLiteral("[ERROR] Integrity check :: invalid integrity :: file added :: ") + path);
}

void IntegrityCheck::check()
{
    log(QStringLiteral("[INFO] Integrity check :: check integrity in directory ") + m_day_folder);

    const QStringList counted = counted_files(m_day_folder);
    const int n = int(counted.size());
    log(QStringLiteral("[INFO] Integrity check :: files count in root directory ") + m_day_folder
        + QStringLiteral(" : ") + QString::number(n));

    const QString listPath = m_day_folder + QLatin1Char('/') + kListName;
    const QList<Entry> entries = read_list(listPath);
    const int size = int(entries.size());

    if (entries.isEmpty()) {
        log(QStringLiteral("[ERROR] Integrity check :: check integrity :: array empty :: ") + listPath);
        m_valid.store(false);
        emit hash_file_found(false);
    } else {
        emit hash_file_found(true);
    }
    emit file_count(size);
    emit start_check();

    // The count holds when the list names each counted file once and nothing else: comparing
    // the sets, not only the sizes, keeps a duplicated entry from hiding an added file.
    bool countOk = size == n;
    if (countOk) {
        const QSet<QString> onDisk(counted.begin(), counted.end());
        QSet<QString> listed;
        for (const Entry& entry : entries) {
            if (entry.relative.isEmpty() || !onDisk.contains(entry.relative) || listed.contains(entry.relative)) {
                countOk = false;
                break;
            }
            listed.insert(entry.relative);
        }
    }
    if (!countOk) {
        log(QStringLiteral("[ERROR] Integrity check :: check integrity :: size not valid :: ") + QString::number(size)
            + QStringLiteral("(size) != ") + QString::number(n) + QStringLiteral("(count)"));
        m_valid.store(false);
        emit file_count_check(false);
        // A list that was read names what differs; without one every file would be "added".
        if (!entries.isEmpty())
            report_differences(entries, counted);
    } else {
        emit file_count_check(true);
    }

    if (m_valid.load()) {
        const QString canonicalDay = QFileInfo(m_day_folder).canonicalFilePath();
#ifdef Q_OS_UNIX
        m_day_fd = ::open(QFile::encodeName(m_day_folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
#endif
        for (const Entry& entry : entries) {
            if (stop_requested()) {
                m_valid.store(false);
                break;
            }
            emit begin_check_file(entry.label);
            Hashed result = Hashed::Failed;
            if (!entry.problem.isEmpty()) {
                log(QStringLiteral("[ERROR] Integrity check :: check integrity :: invalid entry :: ") + entry.label
                    + QStringLiteral(" :: ") + entry.problem);
            } else {
                result = check_entry(entry, canonicalDay);
            }
            if (result == Hashed::Stopped) {
                m_valid.store(false);
                break;
            }
            if (result == Hashed::Failed) {
                m_valid.store(false);
                emit end_check_file(entry.label, false);
                break;
            }
            emit end_check_file(entry.label, true);
        }
#ifdef Q_OS_UNIX
        if (m_day_fd >= 0)
            ::close(m_day_fd);
        m_day_fd = -1;
#endif
    }
    // A stop asked for at any time means the folder was not checked to its end.
    if (stop_requested())
        m_valid.store(false);

    const bool ok = m_valid.load();
    log(ok ? QStringLiteral("[INFO] Integrity check :: INTEGRITY OK")
           : QStringLiteral("[ERROR] Integrity check :: INTEGRITY NOT CONFIRMED"));
    emit end_check(ok);
}

IntegrityCheck::Hashed IntegrityCheck::check_entry(const Entry& entry, const QString& canonicalDay)
{
    const QString path = m_day_folder + QLatin1Char('/') + entry.relative;
#ifdef Q_OS_UNIX
    // One lstat: the entry itself is never followed if it is a link.
    // Relative to the day folder's descriptor: a short walk for the kernel on every file.
    const QByteArray relative = QFile::encodeName(entry.relative);
    struct stat link;
    if (m_day_fd < 0 || ::fstatat(m_day_fd, relative.constData(), &link, AT_SYMLINK_NOFOLLOW) != 0) {
        log(QStringLiteral("[ERROR] Integrity check :: check integrity :: couldn't find file :: ") + entry.label);
        return Hashed::Failed;
    }
    const bool isLink = S_ISLNK(link.st_mode);
    const bool isRegular = S_ISREG(link.st_mode);
#else
    const QFileInfo info(path);
    if (!info.exists() && !info.isSymLink()) {
        log(QStringLiteral("[ERROR] Integrity check :: check integrity :: couldn't find file :: ") + entry.label);
        return Hashed::Failed;
    }
    const bool isLink = info.isSymLink();
    const bool isRegular = info.isFile();
#endif
    if (isLink) {
        log(QStringLiteral("[ERROR] Integrity check :: check integrity :: symbolic link not followed :: ") + path);
        return Hashed::Failed;
    }
    // A link among the parent folders would lead elsewhere: each parent folder must really lie in
    // the day (resolved once per folder, a day holds thousands of files in few folders).
    const qsizetype slash = entry.relative.lastIndexOf(QLatin1Char('/'));
    if (slash > 0) {
        const QString parent = entry.relative.left(slash);
        auto known = m_parent_inside.constFind(parent);
        if (known == m_parent_inside.constEnd()) {
            const QString canonical = QFileInfo(m_day_folder + QLatin1Char('/') + parent).canonicalFilePath();
            known = m_parent_inside.insert(parent, !canonicalDay.isEmpty()
                                                       && canonical.startsWith(canonicalDay + QLatin1Char('/')));
        }
        if (!known.value()) {
            log(QStringLiteral("[ERROR] Integrity check :: check integrity :: file outside the day folder :: ")
                + path);
            return Hashed::Failed;
        }
    }
    if (!isRegular) {
        log(QStringLiteral("[ERROR] Integrity check :: check integrity :: not a regular file :: ") + path);
        return Hashed::Failed;
    }

    QString digest;
    Hashed result = Hashed::Failed;
#ifdef Q_OS_UNIX
    // No link followed, no wait on a pipe swapped in after the checks above.
    const int fd = ::openat(m_day_fd, relative.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        log(QStringLiteral("[ERROR] Integrity check :: check integrity :: failed to open file :: ") + path);
        return Hashed::Failed;
    }
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        log(QStringLiteral("[ERROR] Integrity check :: check integrity :: not a regular file :: ") + path);
        return Hashed::Failed;
    }
    if (st.st_size > kReadSize)
        ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    result = hash_file(
        [fd](char* data, qint64 max) {
            for (;;) {
                const ssize_t got = ::read(fd, data, size_t(max));
                if (got >= 0 || errno != EINTR)
                    return qint64(got);
            }
        },
        path, &digest);
    ::close(fd);
#else
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        log(QStringLiteral("[ERROR] Integrity check :: check integrity :: failed to open file :: ") + path);
        return Hashed::Failed;
    }
    result = hash_file([&file](char* data, qint64 max) { return file.read(data, max); }, path, &digest);
#endif
    if (result != Hashed::Ok)
        return result;
    if (digest != entry.sha256) {
        log(QStringLiteral("[ERROR] Integrity check :: check integrity :: failed ") + entry.sha256
            + QStringLiteral(" != ") + digest);
        return Hashed::Failed;
    }
    return Hashed::Ok;
}

IntegrityCheck::Hashed IntegrityCheck::hash_file(const std::function<qint64(char*, qint64)>& read,
                                                 const QString& path, QString* digest)
{
    zq::Sha256 hash;
    m_buffer.resize(size_t(kReadSize));
    for (;;) {
        if (stop_requested())
            return Hashed::Stopped;
        const qint64 got = read(m_buffer.data(), kReadSize);
        if (got < 0) {
            log(QStringLiteral("[ERROR] Integrity check :: check integrity :: failed to read file :: ") + path);
            return Hashed::Failed;
        }
        if (got == 0)
            break;
        hash.add(m_buffer.data(), got);
    }
    *digest = hash.hexDigest();
    if (digest->isEmpty()) {
        log(QStringLiteral("[ERROR] Integrity check :: check integrity :: hash failed :: ") + path);
        return Hashed::Failed;
    }
    return Hashed::Ok;
}
