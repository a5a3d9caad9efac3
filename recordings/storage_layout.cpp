#include "recordings/storage_layout.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

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

} // namespace StorageLayout
