#include "download/confined_folder.h"

#include <QRandomGenerator>
#include <QStringList>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zq {

namespace {

constexpr int kDirFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

bool below_or_at(const QByteArray& path, const QByteArray& base)
{
    return path == base || (path.startsWith(base) && path.size() > base.size() && path.at(base.size()) == '/')
           || base == "/";
}

QByteArray real_path(const QByteArray& path)
{
    char buffer[PATH_MAX];
    if (!::realpath(path.constData(), buffer))
        return QByteArray();
    return QByteArray(buffer);
}

} // namespace

ConfinedFolder::ConfinedFolder(ConfinedFolder&& other) noexcept
{
    *this = std::move(other);
}

ConfinedFolder& ConfinedFolder::operator=(ConfinedFolder&& other) noexcept
{
    if (this != &other) {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = other.m_fd;
        m_status = other.m_status;
        m_real = std::move(other.m_real);
        m_error = std::move(other.m_error);
        other.m_fd = -1;
        other.m_status = Status::Refused;
    }
    return *this;
}

ConfinedFolder::~ConfinedFolder()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

ConfinedFolder ConfinedFolder::open(const QString& destination, const QString& relative, bool create)
{
    ConfinedFolder out;
    const QByteArray base = real_path(QFile::encodeName(destination));
    if (base.isEmpty()) {
        out.m_error = QStringLiteral("dossier de destination introuvable : ") + destination;
        return out;
    }
    int fd = ::open(base.constData(), kDirFlags);
    if (fd < 0) {
        out.m_error = QStringLiteral("dossier de destination illisible : ") + destination;
        return out;
    }
    QByteArray here = base; // real path of fd
    const auto fail = [&](Status status, const QString& why) {
        ::close(fd);
        out.m_status = status;
        out.m_error = why;
        return std::move(out);
    };
    const QStringList parts = relative.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    for (const QString& part : parts) {
        if (part == QLatin1String("."))
            continue;
        if (part == QLatin1String(".."))
            return fail(Status::Refused, QStringLiteral("\"..\" dans le chemin"));
        const QByteArray name = QFile::encodeName(part);
        int next = ::openat(fd, name.constData(), kDirFlags);
        QByteArray next_real = here == "/" ? "/" + name : here + '/' + name;
        if (next < 0 && errno == ENOENT) {
            if (!create)
                return fail(Status::Missing, QStringLiteral("dossier absent : ") + part);
            if (::mkdirat(fd, name.constData(), 0755) != 0 && errno != EEXIST)
                return fail(Status::Refused, QStringLiteral("création de dossier impossible : ") + part + QStringLiteral(" : ")
                                                 + QString::fromLocal8Bit(std::strerror(errno)));
            // Whatever is there now is opened without following a link: a link put in its place
            // meanwhile is refused.
            next = ::openat(fd, name.constData(), kDirFlags);
        } else if (next < 0 && (errno == ELOOP || errno == ENOTDIR)) {
            struct stat link_info;
            if (::fstatat(fd, name.constData(), &link_info, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISLNK(link_info.st_mode))
                return fail(Status::Refused, QStringLiteral("pas un dossier : ") + part);
            // A link: followed only when where it leads stays below the destination.
            next_real = real_path(next_real);
            if (next_real.isEmpty())
                return fail(Status::Refused, QStringLiteral("lien sans cible : ") + part);
            if (!below_or_at(next_real, base))
                return fail(Status::Refused, QStringLiteral("lien hors du dossier : ") + part);
            next = ::open(next_real.constData(), kDirFlags);
            // The folder opened is the one the link leads to now, not one swapped in meanwhile.
            struct stat via_link, opened;
            if (next >= 0
                && (::fstatat(fd, name.constData(), &via_link, 0) != 0 || ::fstat(next, &opened) != 0
                    || via_link.st_dev != opened.st_dev || via_link.st_ino != opened.st_ino)) {
                ::close(next);
                return fail(Status::Refused, QStringLiteral("lien changé : ") + part);
            }
        }
        if (next < 0)
            return fail(Status::Refused, QStringLiteral("dossier illisible : ") + part + QStringLiteral(" : ")
                                             + QString::fromLocal8Bit(std::strerror(errno)));
        ::close(fd);
        fd = next;
        here = next_real;
    }
    out.m_fd = fd;
    out.m_status = Status::Open;
    out.m_real = here;
    return out;
}

ConfinedSaveFile::~ConfinedSaveFile()
{
    m_file.close();
    if (!m_temp.isEmpty() && !m_committed && m_folder.isOpen())
        ::unlinkat(m_folder.fd(), m_temp.constData(), 0);
}

bool ConfinedSaveFile::open(ConfinedFolder folder, const QString& name)
{
    m_folder = std::move(folder);
    m_name = QFile::encodeName(name);
    if (!m_folder.isOpen()) {
        m_error = m_folder.error();
        return false;
    }
    if (m_name.isEmpty() || m_name.contains('/') || m_name == "." || m_name == "..") {
        m_error = QStringLiteral("nom de fichier refusé : ") + name;
        return false;
    }
    static const char letters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    for (int attempt = 0; attempt < 100; ++attempt) {
        QByteArray temp = m_name + '.';
        for (int i = 0; i < 6; ++i)
            temp += letters[QRandomGenerator::global()->bounded(int(sizeof(letters) - 1))];
        temp += ".part";
        const int fd = ::openat(m_folder.fd(), temp.constData(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
        if (fd < 0) {
            if (errno == EEXIST)
                continue;
            m_error = QString::fromLocal8Bit(std::strerror(errno));
            return false;
        }
        m_temp = temp;
        if (!m_file.open(fd, QIODevice::ReadWrite, QFileDevice::AutoCloseHandle)) {
            ::close(fd);
            m_error = m_file.errorString();
            return false;
        }
        return true;
    }
    m_error = QStringLiteral("nom temporaire introuvable");
    return false;
}

bool ConfinedSaveFile::commit()
{
    if (m_temp.isEmpty() || m_committed)
        return false;
    if (!m_file.flush()) {
        m_error = m_file.errorString();
        return false;
    }
    m_file.close();
    // One rename replaces an earlier file or link of that name: never written through, and the
    // earlier file stays until the new one is in place.
    if (::renameat(m_folder.fd(), m_temp.constData(), m_folder.fd(), m_name.constData()) != 0) {
        m_error = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    m_committed = true;
    return true;
}

} // namespace zq
