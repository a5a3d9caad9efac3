#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

// A folder below a destination folder, held open by its descriptor, reached one name at a time
// from the destination so that no symbolic link takes a path out of it at any depth.
//
// Paths that come from a server or a bundle name folders below the destination; a link already
// there (made by an earlier bundle, or by someone else) may point anywhere. Checking a whole path
// as text, or only its last folder, and then creating the rest with mkpath writes through such a
// link. Here every existing name is opened without following links; a link is followed only when
// what it resolves to stays below the destination, and a missing folder is made beside the
// descriptor of its parent (mkdirat), never through a link.
namespace zq {

class ConfinedFolder
{
public:
    enum class Status {
        Open,    // the folder is open
        Missing, // a folder on the way does not exist (and was not to be created)
        Refused, // a link leaving the destination, a dangling link, a file where a folder goes, "..",
                 // or the destination itself cannot be opened
    };

    ConfinedFolder() = default;
    ConfinedFolder(ConfinedFolder&& other) noexcept;
    ConfinedFolder& operator=(ConfinedFolder&& other) noexcept;
    ConfinedFolder(const ConfinedFolder&) = delete;
    ConfinedFolder& operator=(const ConfinedFolder&) = delete;
    ~ConfinedFolder();

    // Opens `relative` ("a/b", or empty for the destination itself) below `destination`, which must
    // exist. With `create`, missing folders are made one at a time.
    static ConfinedFolder open(const QString& destination, const QString& relative, bool create);

    Status status() const { return m_status; }
    bool isOpen() const { return m_fd >= 0; }
    int fd() const { return m_fd; }
    // The real path of the folder (links resolved), when open.
    QString path() const { return QFile::decodeName(m_real); }
    // Why it is not open, for the log.
    QString error() const { return m_error; }

private:
    int m_fd = -1;
    Status m_status = Status::Refused;
    QByteArray m_real;
    QString m_error;
};

// A new file written in a confined folder under a temporary name ("<name>.XXXXXX.part", created
// exclusively, never through a link) and put in place under its name by one rename, which
// replaces an earlier file or link of that name and never writes through it. Removed unless
// committed.
class ConfinedSaveFile
{
public:
    ConfinedSaveFile() = default;
    ConfinedSaveFile(const ConfinedSaveFile&) = delete;
    ConfinedSaveFile& operator=(const ConfinedSaveFile&) = delete;
    ~ConfinedSaveFile();

    // Creates the temporary file for `name` (a bare file name) in `folder`, which it takes.
    bool open(ConfinedFolder folder, const QString& name);
    QFile& file() { return m_file; }
    QString errorString() const { return m_error.isEmpty() ? m_file.errorString() : m_error; }
    // Renames the temporary file to its name; false (and the temporary file removed) on failure.
    bool commit();

private:
    ConfinedFolder m_folder;
    QByteArray m_name;
    QByteArray m_temp;
    QFile m_file;
    QString m_error;
    bool m_committed = false;
};

} // namespace zq
