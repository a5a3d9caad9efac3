// The archive extractor's rules for entry names and link targets, on a real disk. Each input line
// is one entry of a tar bundle: a type letter, then the name, then for links a TAB and the target:
//   f<name>           regular file (its content is its name)
//   d<name>           folder
//   l<name>\t<target> symbolic link
//   h<name>\t<target> hard link to an earlier entry
// A first line "#cpio" makes the bundle a "newc" cpio instead of a tar: there a hard link is an entry
// sharing the inode number of the entry it names and carries data (its name), as the last name of a
// set does, which rewrites the file under all its names.
// The bundle is unpacked into "dest" of a scratch folder that also holds "outside/keep", with a small
// cap and hashing on. Afterwards nothing may exist beside them, "outside" must be untouched, no link
// below "dest" may lead out of it, whether it resolves or not, the regular files below "dest" may
// not add up to more than the cap (each name counted), and only files below "dest" are hashed.
#include "harness.h"

#include "download/archive_extractor.h"

#include <QByteArray>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QList>
#include <QObject>
#include <QTemporaryDir>

#include <archive.h>
#include <archive_entry.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int kMaxEntries = 32;
constexpr qsizetype kMaxName = 300;
constexpr qint64 kCap = 2048; // bytes unpacked, over every name; entries hold up to kMaxName bytes

[[noreturn]] void broken(const char* what, const QString& path)
{
    std::fprintf(stderr, "archive_paths: %s: %s\n", what, qPrintable(path));
    std::abort();
}

bool below_or_at(const QString& path, const QString& base)
{
    return path == base || path.startsWith(base + QLatin1Char('/'));
}

QString real_path(const QString& path)
{
    char buffer[PATH_MAX];
    if (!::realpath(QFile::encodeName(path).constData(), buffer))
        return QString();
    return QFile::decodeName(QByteArray(buffer));
}

// Where a link leads: its path resolved by the system when it resolves; otherwise (dangling) the
// longest beginning of "<its folder>/<its target>" that the system resolves, followed by the rest
// as text (a missing name is no link).
QString where_link_leads(const QString& link)
{
    const QString real = real_path(link);
    if (!real.isEmpty())
        return real;
    char buffer[PATH_MAX];
    const ssize_t n = ::readlink(QFile::encodeName(link).constData(), buffer, sizeof buffer);
    if (n <= 0)
        return QString();
    const QString target = QFile::decodeName(QByteArray(buffer, qsizetype(n)));
    const QString from = target.startsWith(QLatin1Char('/')) ? QString() : real_path(QFileInfo(link).path());
    const QStringList parts = (from + QLatin1Char('/') + target).split(QLatin1Char('/'), Qt::SkipEmptyParts);
    for (qsizetype keep = parts.size(); keep >= 0; --keep) {
        const QString resolved = real_path(QLatin1Char('/') + parts.mid(0, keep).join(QLatin1Char('/')));
        if (!resolved.isEmpty())
            return QDir::cleanPath(resolved + QLatin1Char('/') + parts.mid(keep).join(QLatin1Char('/')));
    }
    return target;
}

struct Line
{
    char kind = 'f';
    QByteArray name;
    QByteArray target;
};

bool write_bundle(const QString& path, const QByteArray& input)
{
    QList<QByteArray> raw_lines = input.split('\n');
    const bool cpio = !raw_lines.isEmpty() && raw_lines.first() == "#cpio";
    if (cpio)
        raw_lines.removeFirst();
    QList<Line> lines;
    for (const QByteArray& raw : raw_lines) {
        if (raw.isEmpty() || lines.size() >= kMaxEntries)
            continue;
        Line line;
        line.kind = raw.at(0);
        QByteArray rest = raw.mid(1);
        const qsizetype tab = rest.indexOf('\t');
        line.name = (tab < 0 ? rest : rest.left(tab)).left(kMaxName);
        line.target = (tab < 0 ? QByteArray() : rest.mid(tab + 1)).left(kMaxName);
        line.name.replace('\0', '_');
        line.target.replace('\0', '_');
        lines << line;
    }
    // cpio: inode numbers, a hard link sharing that of the latest earlier file of its target's name.
    QList<int> inode(lines.size());
    QHash<int, int> names_of; // inode -> names
    for (qsizetype i = 0; i < lines.size(); ++i) {
        inode[i] = int(i) + 1;
        if (lines.at(i).kind == 'h')
            for (qsizetype j = i - 1; j >= 0; --j)
                if (lines.at(j).name == lines.at(i).target && (lines.at(j).kind == 'f' || lines.at(j).kind == 'h')) {
                    inode[i] = inode[j];
                    break;
                }
        ++names_of[inode[i]];
    }

    archive* a = archive_write_new();
    if (cpio)
        archive_write_set_format_cpio_newc(a);
    else
        archive_write_set_format_pax_restricted(a);
    if (archive_write_open_filename(a, QFile::encodeName(path).constData()) != ARCHIVE_OK) {
        archive_write_free(a);
        return false;
    }
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const Line& line = lines.at(i);
        const char kind = line.kind;
        archive_entry* entry = archive_entry_new();
        archive_entry_set_pathname(entry, line.name.constData());
        archive_entry_set_perm(entry, 0644);
        bool data = false;
        if (kind == 'd') {
            archive_entry_set_filetype(entry, AE_IFDIR);
            archive_entry_set_size(entry, 0);
        } else if (kind == 'l') {
            archive_entry_set_filetype(entry, AE_IFLNK);
            archive_entry_set_symlink(entry, line.target.constData());
            archive_entry_set_size(entry, 0);
        } else if (kind == 'h' && !cpio) {
            archive_entry_set_filetype(entry, AE_IFREG);
            archive_entry_set_hardlink(entry, line.target.constData());
            archive_entry_set_size(entry, 0);
        } else {
            archive_entry_set_filetype(entry, AE_IFREG);
            archive_entry_set_size(entry, line.name.size());
            data = true;
        }
        if (cpio) {
            archive_entry_set_dev(entry, 1);
            archive_entry_set_ino(entry, inode.at(i));
            archive_entry_set_nlink(entry, kind == 'f' || kind == 'h' ? names_of.value(inode.at(i)) : 1);
        }
        archive_write_header(a, entry);
        if (data)
            archive_write_data(a, line.name.constData(), size_t(line.name.size()));
        archive_entry_free(entry);
    }
    archive_write_close(a);
    archive_write_free(a);
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > 8192)
        return 0;
    const QByteArray input(reinterpret_cast<const char*>(data), qsizetype(size));
    QTemporaryDir scratch;
    if (!scratch.isValid())
        return 0;
    const QDir root(scratch.path());
    root.mkpath(QStringLiteral("outside"));
    {
        QFile keep(root.filePath(QStringLiteral("outside/keep")));
        if (!keep.open(QIODevice::WriteOnly) || keep.write("keep") != 4)
            return 0;
    }
    const QString bundle = root.filePath(QStringLiteral("b.zqtar"));
    if (!write_bundle(bundle, input))
        return 0;
    const QString dest = root.filePath(QStringLiteral("dest"));

    ArchiveExtractor extractor(bundle, dest, false, true);
    extractor.setMaxTotalBytes(kCap);
    QStringList hashed;
    QObject::connect(&extractor, &ArchiveExtractor::fileHashed,
                     [&hashed](const QString& file, const QString&) { hashed << file; });
    extractor.startExtraction();

    // Nothing beside the destination, the bundle and "outside"; "outside" untouched.
    const QStringList top = root.entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                                           QDir::Name);
    for (const QString& name : top)
        if (name != QLatin1String("b.zqtar") && name != QLatin1String("dest") && name != QLatin1String("outside"))
            broken("made outside the destination", name);
    const QStringList out = QDir(root.filePath(QStringLiteral("outside")))
                                .entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System);
    if (out != QStringList{QStringLiteral("keep")})
        broken("outside changed", out.join(QLatin1Char(',')));
    const QString keep_path = root.filePath(QStringLiteral("outside/keep"));
    QFile keep(keep_path);
    struct stat keep_info;
    if (!keep.open(QIODevice::ReadOnly) || keep.readAll() != "keep" || ::lstat(QFile::encodeName(keep_path).constData(), &keep_info) != 0
        || !S_ISREG(keep_info.st_mode) || keep_info.st_nlink != 1)
        broken("outside/keep changed or linked", keep_path);

    // No link below the destination leads out of it; its files, each name counted, stay within the cap.
    const QString dest_real = real_path(dest);
    if (dest_real.isEmpty())
        return 0;
    qint64 apparent = 0;
    QDirIterator it(dest, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        struct stat info;
        if (::lstat(QFile::encodeName(path).constData(), &info) == 0 && S_ISREG(info.st_mode))
            apparent += qint64(info.st_size);
        if (!QFileInfo(path).isSymLink())
            continue;
        const QString leads = where_link_leads(path);
        if (!leads.isEmpty() && !below_or_at(leads, dest_real))
            broken("link leading out", path + QStringLiteral(" -> ") + leads);
    }
    if (apparent > kCap)
        broken("names past the cap", QString::number(apparent));
    for (const QString& file : std::as_const(hashed)) {
        struct stat info;
        if (!below_or_at(real_path(file), dest_real) || ::lstat(QFile::encodeName(file).constData(), &info) != 0
            || !S_ISREG(info.st_mode))
            broken("hashed outside the destination", file);
    }
    return 0;
}
