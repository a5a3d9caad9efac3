#include "recordings/storage_layout.h"

#include "recordings/time_text.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <cerrno>
#include <cstring>
#include <limits>

#include <sys/stat.h>
#include <unistd.h>

namespace StorageLayout {

namespace {

const QRegularExpression& root_name_re()
{
    static const QRegularExpression re(
        QStringLiteral("^zqcore_[a-f0-9]{4}-[a-f0-9]{4}-[a-f0-9]{4}-[a-f0-9]{4}$"),
        QRegularExpression::CaseInsensitiveOption);
    return re;
}

const QRegularExpression& root_in_path_re()
{
    static const QRegularExpression re(QStringLiteral("zqcore_[a-f0-9]{4}-[a-f0-9]{4}-[a-f0-9]{4}-[a-f0-9]{4}"),
                                       QRegularExpression::CaseInsensitiveOption);
    return re;
}

const QRegularExpression& day_in_path_re()
{
    static const QRegularExpression re(
        QStringLiteral("zqcore_[a-f0-9]{4}-[a-f0-9]{4}-[a-f0-9]{4}-[a-f0-9]{4}/\\d{4}-\\d{2}-\\d{2}"),
        QRegularExpression::CaseInsensitiveOption);
    return re;
}

int digits(const QString& text, int from, int count)
{
    int value = 0;
    for (int i = from; i < from + count; ++i) {
        const QChar c = text.at(i);
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return -1;
        value = value * 10 + (c.unicode() - '0');
    }
    return value;
}

} // namespace

bool is_root_folder_name(const QString& name)
{
    return root_name_re().match(name).hasMatch();
}

bool path_contains_root(const QString& path)
{
    return root_in_path_re().match(path).hasMatch();
}

bool path_contains_root_and_day(const QString& path)
{
    return day_in_path_re().match(path).hasMatch();
}

QDate day_folder_date(const QString& name)
{
    if (name.size() != 10 || name.at(4) != QLatin1Char('-') || name.at(7) != QLatin1Char('-'))
        return QDate();
    const int y = digits(name, 0, 4);
    const int m = digits(name, 5, 2);
    const int d = digits(name, 8, 2);
    if (y < 0 || m < 0 || d < 0)
        return QDate();
    return QDate(y, m, d);
}

QStringList day_folders(const QString& folder)
{
    QStringList result;
    const QDir dir(folder);
    const QStringList names = dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::NoSymLinks, QDir::Name);
    for (const QString& name : names) {
        if (is_day_folder_name(name))
            result.append(clean_folder_path(dir.filePath(name)));
    }
    return result;
}

QString clean_folder_path(const QString& path)
{
    if (path.isEmpty())
        return QString();
    return QDir::cleanPath(QDir::fromNativeSeparators(QFileInfo(path).absoluteFilePath()));
}

QString folder_with_slash(const QString& path)
{
    QString clean = clean_folder_path(path);
    if (!clean.endsWith(QLatin1Char('/')))
        clean.append(QLatin1Char('/'));
    return clean;
}

bool is_inside(const QString& path, const QString& folderWithSlash)
{
    if (path.isEmpty() || folderWithSlash.isEmpty())
        return false;
    const QString clean = QDir::cleanPath(path);
    if (clean.startsWith(QLatin1String("../")) || clean == QLatin1String(".."))
        return false;
    return clean.startsWith(folderWithSlash) && clean.size() > folderWithSlash.size();
}

bool is_regular_file_no_link(const QString& path)
{
    if (path.isEmpty())
        return false;
    const QByteArray native = QFile::encodeName(path);
    if (native.contains('\0'))
        return false;
    struct stat st;
    return lstat(native.constData(), &st) == 0 && S_ISREG(st.st_mode);
}

bool prepare_write_target(const QString& path, QString* error)
{
    auto fail = [error](const QString& text) {
        if (error)
            *error = text;
        return false;
    };
    const QByteArray native = QFile::encodeName(path);
    if (path.isEmpty() || native.contains('\0'))
        return fail(QStringLiteral("invalid path"));
    struct stat st;
    if (lstat(native.constData(), &st) != 0)
        return errno == ENOENT ? true : fail(QString::fromLocal8Bit(std::strerror(errno)));
    if (S_ISREG(st.st_mode))
        return true;
    if (S_ISLNK(st.st_mode)) {
        if (::unlink(native.constData()) != 0 && errno != ENOENT)
            return fail(QStringLiteral("cannot remove the symbolic link: ") + QString::fromLocal8Bit(std::strerror(errno)));
        return true;
    }
    return fail(QStringLiteral("not a regular file"));
}

int camera_id_from_text(QStringView text)
{
    if (text.isEmpty() || text.size() > 10)
        return -1;
    if (text.size() > 1 && text.at(0) == QLatin1Char('0'))
        return -1;
    qint64 value = 0;
    for (const QChar c : text) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return -1;
        value = value * 10 + (c.unicode() - '0');
    }
    return value > std::numeric_limits<int>::max() ? -1 : int(value);
}

int recording_camera_id(QStringView fileName)
{
    const qsizetype us = fileName.indexOf(QLatin1Char('_'));
    if (us <= 0)
        return -1;
    return camera_id_from_text(fileName.left(us));
}

namespace {

bool is_ascii_alnum(QChar c)
{
    return (c >= QLatin1Char('0') && c <= QLatin1Char('9')) || (c >= QLatin1Char('a') && c <= QLatin1Char('z'))
        || (c >= QLatin1Char('A') && c <= QLatin1Char('Z'));
}

// What may follow the start time: an optional stream number "_<digits>", then nothing or one
// suffix ".<letters and digits>". Anything longer ("_hash.json.zqvideo", ".index.zqnfo.zqvideo")
// is another file dressed up as a recording, not a recording starting at that time.
bool is_recording_tail(QStringView tail)
{
    qsizetype i = 0;
    if (i < tail.size() && tail.at(i) == QLatin1Char('_')) {
        ++i;
        const qsizetype digits = i;
        while (i < tail.size() && tail.at(i) >= QLatin1Char('0') && tail.at(i) <= QLatin1Char('9'))
            ++i;
        if (i == digits)
            return false;
    }
    if (i == tail.size())
        return true;
    if (tail.at(i) != QLatin1Char('.') || i + 1 == tail.size())
        return false;
    for (++i; i < tail.size(); ++i) {
        if (!is_ascii_alnum(tail.at(i)))
            return false;
    }
    return true;
}

} // namespace

RecordingName parse_recording_name(QStringView fileName)
{
    RecordingName r;
    const qsizetype a = fileName.indexOf(QLatin1Char('_'));
    if (a < 0)
        return r;
    const qsizetype b = fileName.indexOf(QLatin1Char('_'), a + 1);
    if (b < 0)
        return r;
    r.cameraText = fileName.left(a).toString();
    r.camera = camera_id_from_text(fileName.left(a));
    r.dayText = fileName.mid(a + 1, b - a - 1).toString();
    r.day = TimeText::yyyymmdd_to_date(r.dayText);
    // The start ends at the next "_" or ".", whichever comes first.
    qsizetype end = b + 1;
    while (end < fileName.size() && fileName.at(end) != QLatin1Char('_') && fileName.at(end) != QLatin1Char('.'))
        ++end;
    r.startText = fileName.mid(b + 1, end - b - 1).toString();
    r.startMs = TimeText::hhmmss_to_ms(r.startText);
    r.valid = r.camera >= 0 && r.day.isValid() && r.startMs >= 0 && is_recording_tail(fileName.mid(end));
    return r;
}

} // namespace StorageLayout
