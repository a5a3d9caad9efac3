#include "download/archive_extractor.h"

#include "app/sha256.h"
#include "app/zq_log.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QPair>
#include <QSet>

#include <archive.h>
#include <archive_entry.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>

#include <memory>

namespace {

struct ReaderDeleter
{
    void operator()(archive* a) const { archive_read_free(a); }
};
struct WriterDeleter
{
    void operator()(archive* a) const { archive_write_free(a); }
};

QString text_of(archive* a)
{
    const char* s = archive_error_string(a);
    return s ? QString::fromUtf8(s) : QStringLiteral("erreur d'archive");
}

// True when a folder between the destination and `full` (both absolute, clean) is a symbolic link:
// writing there would leave the destination.
bool link_below(const QString& destination, const QString& full)
{
    const QString base = QDir::cleanPath(QDir(destination).absolutePath());
    const QStringList parts = full.mid(base.size() + 1).split(QLatin1Char('/'), Qt::SkipEmptyParts);
    QString path = base;
    for (qsizetype i = 0; i + 1 < parts.size(); ++i) {
        path += QLatin1Char('/') + parts.at(i);
        if (QFileInfo(path).isSymLink())
            return true;
    }
    return false;
}

// True for ".", "./", "./." and the like: the folder the bundle was made from, which tar writes
// first ("tar -C DIR -cf x.tar ." starts with "./"). It is the destination itself.
bool names_top_folder(const QString& name)
{
    if (name.isEmpty() || name.startsWith(QLatin1Char('/')))
        return false;
    const QStringList parts = name.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    for (const QString& part : parts)
        if (part != QLatin1String("."))
            return false;
    return true;
}

QByteArray real_path(const QByteArray& path)
{
    char buffer[PATH_MAX];
    if (!::realpath(path.constData(), buffer))
        return QByteArray();
    return QByteArray(buffer);
}

// True when a link in the real folder `from` (below or at the real destination `base`) with the
// text `target` leads to a place below or at the destination, resolved on disk step by step through
// the links already there, as the system will follow it. Checking the target as text is not
// enough: after "t -> .", the target "../t/.." of a link in "sub" leads to the destination's parent.
// Names not there yet are taken as plain folders, and no ".." may follow one: a later entry could
// make that name a link, and ".." would then leave from where it leads.
bool link_stays_inside(const QByteArray& base, const QByteArray& from, const QByteArray& target)
{
    if (target.isEmpty() || target.startsWith('/'))
        return false;
    QList<QByteArray> todo = target.split('/');
    QByteArray here = from;
    bool missing = false;
    int hops = 0;
    while (!todo.isEmpty()) {
        const QByteArray part = todo.takeFirst();
        if (part.isEmpty() || part == ".")
            continue;
        if (part == "..") {
            if (missing || here == base)
                return false;
            here.truncate(here.lastIndexOf('/'));
            continue;
        }
        const QByteArray next = here + '/' + part;
        here = next;
        if (missing)
            continue;
        struct stat info;
        if (::lstat(next.constData(), &info) != 0) {
            if (errno != ENOENT)
                return false;
            missing = true;
            continue;
        }
        if (S_ISLNK(info.st_mode)) {
            if (++hops > 40)
                return false;
            char buffer[PATH_MAX];
            const ssize_t n = ::readlink(next.constData(), buffer, sizeof buffer);
            if (n <= 0 || size_t(n) >= sizeof buffer || buffer[0] == '/')
                return false;
            // Its target is resolved from its own folder.
            here.truncate(here.lastIndexOf('/'));
            todo = QByteArray(buffer, n).split('/') + todo;
        } else if (!S_ISDIR(info.st_mode)) {
            missing = true; // nothing can be below a file today; a later entry may change that
        }
    }
    return true;
}

} // namespace

ArchiveExtractor::ArchiveExtractor(QString archive_path, QString destination, bool delete_archive, bool hash_files,
                                   QObject* parent)
    : QObject(parent), m_delete_archive(delete_archive), m_hash_files(hash_files),
      m_archive_path(std::move(archive_path)), m_destination(std::move(destination))
{
}

QString ArchiveExtractor::safe_entry_path(const QString& destination, const QString& name)
{
    if (name.isEmpty() || name.contains(QChar(0)) || name.contains(QLatin1Char('\\')) || name.startsWith(QLatin1Char('/')))
        return QString();
    if (name.size() >= 2 && name.at(1) == QLatin1Char(':')) // "C:..." from another system
        return QString();
    const QStringList parts = name.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    bool any = false;
    for (const QString& part : parts) {
        if (part == QLatin1String(".."))
            return QString();
        if (part != QLatin1String("."))
            any = true;
    }
    if (!any)
        return QString();
    const QString base = QDir::cleanPath(QDir(destination).absolutePath());
    const QString full = QDir::cleanPath(base + QLatin1Char('/') + name);
    if (!full.startsWith(base + QLatin1Char('/')))
        return QString();
    return full;
}

bool ArchiveExtractor::safe_link_target(const QString& name, const QString& target)
{
    const auto plain = [](const QString& text) {
        return !text.isEmpty() && !text.startsWith(QLatin1Char('/')) && !text.contains(QChar(0))
               && !text.contains(QLatin1Char('\\'));
    };
    if (!plain(name) || !plain(target))
        return false;
    // The link's folder, as the entry is written ("a/" is "a", "./a" is "a"): how deep below the
    // destination the target is resolved from.
    qsizetype depth = -1;
    for (const QString& part : name.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        if (part == QLatin1String(".."))
            return false;
        if (part != QLatin1String("."))
            ++depth;
    }
    if (depth < 0)
        return false; // the destination itself
    // Walked part by part, the target may never climb above the destination, even to come back:
    // "../d/x" returns inside only when the destination happens to be named "d", and the
    // destination's name is not part of the bundle.
    for (const QString& part : target.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        if (part == QLatin1String("."))
            continue;
        if (part == QLatin1String("..")) {
            if (depth == 0)
                return false;
            --depth;
        } else {
            ++depth;
        }
    }
    return true;
}

void ArchiveExtractor::startExtraction()
{
    m_error.clear();
    m_extracted.clear();
    bool ok = extract();
    if (ok && m_delete_archive && !QFile::remove(m_archive_path)) {
        m_error = QStringLiteral("Extraction réussie, mais suppression de l’archive échouée.");
        ok = false;
    }
    if (ok && m_hash_files) {
        // Only what this run unpacked: other files of the folder are not ours to vouch for. Names
        // of one file (hard links) share its digest: the file is read once, not once per name.
        QHash<QPair<quint64, quint64>, QString> digests; // (device, inode) -> digest
        for (const QString& path : std::as_const(m_extracted)) {
            if (path.contains(QLatin1String(".zqtar")))
                continue;
            struct stat info;
            if (::lstat(QFile::encodeName(path).constData(), &info) != 0 || !S_ISREG(info.st_mode))
                continue;
            const QPair<quint64, quint64> key(quint64(info.st_dev), quint64(info.st_ino));
            QString digest = digests.value(key);
            if (digest.isEmpty()) {
                digest = zq::Sha256::ofFile(path);
                if (digest.isEmpty())
                    continue;
                digests.insert(key, digest);
            }
            emit fileHashed(path, digest);
        }
    }
    if (!ok)
        ZQLog::log(QStringLiteral("[ERROR] Archive extractor :: ") + m_archive_path + QStringLiteral(" :: ") + m_error);
    emit extractionFinished(ok);
}

bool ArchiveExtractor::extract()
{
    std::unique_ptr<archive, ReaderDeleter> reader(archive_read_new());
    std::unique_ptr<archive, WriterDeleter> writer(archive_write_disk_new());
    if (!reader || !writer) {
        m_error = QStringLiteral("libarchive");
        return false;
    }
    archive_read_support_format_all(reader.get());
    archive_read_support_filter_all(reader.get());
    // Entries are written under full paths we checked ourselves (libarchive's own absolute-path
    // and symbolic-link checks would refuse those paths, or any destination below a linked
    // folder); an existing file or link at an entry's name is unlinked, never written through.
    archive_write_disk_set_options(writer.get(), ARCHIVE_EXTRACT_SECURE_NODOTDOT | ARCHIVE_EXTRACT_UNLINK
                                                     | ARCHIVE_EXTRACT_TIME);
    archive_write_disk_set_standard_lookup(writer.get());

    const QByteArray path = QFile::encodeName(m_archive_path);
    if (archive_read_open_filename(reader.get(), path.constData(), 10240) != ARCHIVE_OK) {
        m_error = text_of(reader.get());
        return false;
    }
    if (!QDir().mkpath(m_destination)) {
        m_error = QStringLiteral("Impossible de créer le dossier ") + m_destination;
        return false;
    }
    const QByteArray real_destination = real_path(QFile::encodeName(m_destination));
    if (real_destination.isEmpty()) {
        m_error = QStringLiteral("Impossible de créer le dossier ") + m_destination;
        return false;
    }
    qint64 total = 0;
    bool any_entry = false;
    QSet<QString> extracted_here; // regular files of this run, for hard links
    for (;;) {
        // The rest of the previous entry (data left unread, padding) is passed first, so that the
        // byte count below moves only for what follows the last entry.
        if (any_entry && archive_read_data_skip(reader.get()) != ARCHIVE_OK) {
            m_error = text_of(reader.get());
            return false;
        }
        const la_int64_t before = archive_filter_bytes(reader.get(), 0);
        archive_entry* entry = nullptr;
        const int r = archive_read_next_header(reader.get(), &entry);
        if (r == ARCHIVE_EOF) {
            // libarchive takes a tar that simply stops after an entry for a whole one: only its
            // end-of-archive blocks tell that nothing was cut off.
            if ((archive_format(reader.get()) & ARCHIVE_FORMAT_BASE_MASK) == ARCHIVE_FORMAT_TAR
                && archive_filter_bytes(reader.get(), 0) == before) {
                m_error = QStringLiteral("Archive tronquée : fin d'archive absente");
                return false;
            }
            // Nothing at all is a bundle cut before its first entry, not an empty one (tar writes
            // end blocks even for no entry).
            if ((archive_format(reader.get()) & ARCHIVE_FORMAT_BASE_MASK) == ARCHIVE_FORMAT_EMPTY) {
                m_error = QStringLiteral("Archive tronquée : fichier vide");
                return false;
            }
            return true;
        }
        any_entry = true;
        if (r != ARCHIVE_OK && r != ARCHIVE_WARN) {
            m_error = text_of(reader.get());
            return false;
        }
        const QString name = QString::fromUtf8(archive_entry_pathname_utf8(entry) ? archive_entry_pathname_utf8(entry)
                                                                                  : archive_entry_pathname(entry));
        mode_t type = archive_entry_filetype(entry);
        // For a hard link: what the file it names holds now, and under how many names.
        qint64 linked_size = -1;
        qint64 linked_names = 0;
        if (const char* hard = archive_entry_hardlink(entry)) {
            // The form tar gives the second name of a hard-linked pair: it becomes a hard link to
            // the file of that name unpacked earlier in this run, and to nothing else (no file
            // outside, none from before this run, none unpacked later).
            const char* hard_utf8 = archive_entry_hardlink_utf8(entry);
            const QString target_name = QString::fromUtf8(hard_utf8 ? hard_utf8 : hard);
            const QString target = safe_entry_path(m_destination, target_name);
            const QString full = safe_entry_path(m_destination, name);
            const QFileInfo target_info(target);
            if (target.isEmpty() || full.isEmpty() || target == full || !extracted_here.contains(target)
                || target_info.isSymLink() || !target_info.isFile() || link_below(m_destination, target)) {
                m_error = QStringLiteral("Lien physique refusé : ") + name.left(300) + QStringLiteral(" -> ")
                          + target_name.left(300);
                return false;
            }
            struct stat linked;
            if (::lstat(QFile::encodeName(target).constData(), &linked) != 0 || !S_ISREG(linked.st_mode)) {
                m_error = QStringLiteral("Lien physique refusé : ") + name.left(300) + QStringLiteral(" -> ")
                          + target_name.left(300);
                return false;
            }
            linked_size = qint64(linked.st_size);
            linked_names = qint64(linked.st_nlink);
            archive_entry_set_hardlink(entry, QFile::encodeName(target).constData());
            archive_entry_set_filetype(entry, AE_IFREG);
            type = AE_IFREG;
        }
        if (type == AE_IFDIR && names_top_folder(name)) {
            continue; // the destination itself, made above
        }
        const QString full = safe_entry_path(m_destination, name);
        if (full.isEmpty()) {
            m_error = QStringLiteral("Entrée refusée : ") + name.left(300);
            return false;
        }
        if (type != AE_IFREG && type != AE_IFDIR && type != AE_IFLNK) {
            ZQLog::log(QStringLiteral("[WARN] Archive extractor :: special file skipped :: ") + name.left(300));
            continue;
        }
        if (type == AE_IFLNK) {
            const char* target = archive_entry_symlink(entry);
            if (!target || !safe_link_target(name, QString::fromUtf8(target))) {
                ZQLog::log(QStringLiteral("[WARN] Archive extractor :: link leaving the folder skipped :: ")
                           + name.left(300));
                continue;
            }
        }
        // The cap is on what the files will be, not on the bytes the bundle carries: a sparse
        // member of a few blocks becomes a file of its whole declared size, which the disk writer
        // gives it and which hashing reads through. So the declared size counts in full, before
        // anything of the entry is written.
        const qint64 announced = archive_entry_size_is_set(entry) ? archive_entry_size(entry) : -1;
        // A hard link adds a name of the whole file, at no cost in the bundle: the file is read
        // in full through that name too. A link carrying data (the last name of a cpio set)
        // rewrites the file, so the names it already had take the new size as well.
        const qint64 names = linked_size >= 0 ? linked_names + 1 : 1; // of the file once written
        qint64 adds = 0;
        if (type == AE_IFREG && linked_size >= 0) {
            const qint64 size = announced > 0 ? announced : linked_size;
            const qint64 growth = qMax<qint64>(0, size - linked_size);
            const qint64 room = m_max_total - total;
            if (size > room || (growth > 0 && linked_names > (room - size) / growth)) {
                m_error = QStringLiteral("Archive trop volumineuse");
                return false;
            }
            adds = size + linked_names * growth;
        } else if (type == AE_IFREG && announced > 0) {
            if (announced > m_max_total - total) {
                m_error = QStringLiteral("Archive trop volumineuse");
                return false;
            }
            adds = announced;
        }
        total += adds;
        if (link_below(m_destination, full)) {
            m_error = QStringLiteral("Entrée refusée : ") + name.left(300);
            return false;
        }
        QDir().mkpath(QFileInfo(full).path());
        if (type == AE_IFLNK) {
            // Where the link leads is checked on disk, through the links made so far. A name
            // already there is not replaced by a link: a link checked earlier may lead through it.
            const QFileInfo there(full);
            const QByteArray folder = real_path(QFile::encodeName(there.path()));
            if (there.exists() || there.isSymLink() || folder.isEmpty()
                || !link_stays_inside(real_destination, folder, QByteArray(archive_entry_symlink(entry)))) {
                ZQLog::log(QStringLiteral("[WARN] Archive extractor :: link leaving the folder skipped :: ")
                           + name.left(300));
                continue;
            }
        }
        const QByteArray full_bytes = QFile::encodeName(full);
        archive_entry_set_pathname(entry, full_bytes.constData());
        archive_entry_set_perm(entry, type == AE_IFDIR ? 0755 : 0644);
        if (archive_write_header(writer.get(), entry) != ARCHIVE_OK) {
            m_error = text_of(writer.get());
            return false;
        }
        if (type == AE_IFREG) {
            const void* buff = nullptr;
            size_t size = 0;
            la_int64_t offset = 0;
            qint64 reached = 0; // end of this entry's furthest block: the file is at least that long
            for (;;) {
                const int d = archive_read_data_block(reader.get(), &buff, &size, &offset);
                if (d == ARCHIVE_EOF)
                    break;
                if (d != ARCHIVE_OK && d != ARCHIVE_WARN) {
                    m_error = text_of(reader.get());
                    archive_write_finish_entry(writer.get());
                    QFile::remove(full); // cut short: no half file looks complete
                    return false;
                }
                // A block (of a sparse map, say) may sit anywhere: past the declared size it would
                // make the file longer than what was counted above; without a declared size, the
                // furthest end reached is what counts.
                bool too_big = offset < 0 || qint64(size) > m_max_total || offset > m_max_total - qint64(size);
                if (!too_big && offset + qint64(size) > reached) {
                    const qint64 end = offset + qint64(size);
                    if (announced >= 0) {
                        too_big = end > announced;
                    } else {
                        // Every name of the file grows with it.
                        const qint64 growth = end - reached;
                        too_big = growth > (m_max_total - total) / names;
                        if (!too_big)
                            total += growth * names;
                    }
                    reached = end;
                }
                if (too_big || archive_write_data_block(writer.get(), buff, size, offset) < 0) {
                    m_error = too_big ? QStringLiteral("Archive trop volumineuse") : text_of(writer.get());
                    archive_write_finish_entry(writer.get());
                    QFile::remove(full);
                    return false;
                }
            }
            if (!extracted_here.contains(full)) {
                m_extracted.append(full);
                extracted_here.insert(full);
            }
        }
        if (archive_write_finish_entry(writer.get()) != ARCHIVE_OK) {
            m_error = text_of(writer.get());
            return false;
        }
    }
}
