#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

// Unpacks a downloaded ".zqtar" bundle with libarchive into a destination folder, optionally
// deletes the bundle and optionally hashes what it unpacked. Meant to be moved to a worker thread:
// startExtraction() does the whole job and ends with one extractionFinished().
//
// Nothing lands outside the destination: absolute entry names, "..", links leaving the folder
// and writes through links are refused (a link's target is resolved through the links made before
// it); a hard link may only name a file unpacked earlier in the run; devices, FIFOs and sockets are
// skipped; the unpacked total is capped, each name of a hard-linked file counting the file's whole
// size (what a reader of the folder sees), and hashing reads a file once whatever its names. Only a
// bundle read to its end is a success (a tar without its end blocks is a cut one); a corrupt one is
// kept, and the entry it cut short is removed.
class ArchiveExtractor : public QObject
{
    Q_OBJECT
public:
    ArchiveExtractor(QString archive_path, QString destination, bool delete_archive, bool hash_files,
                     QObject* parent = nullptr);

    QString errorMessage() const { return m_error; }
    QStringList extractedFiles() const { return m_extracted; } // regular files of the last run
    // Largest total of unpacked bytes, over every name (default 64 GiB); a bundle past it fails.
    void setMaxTotalBytes(qint64 bytes) { m_max_total = bytes; }

    // The path an entry named `name` gets inside the destination, or an empty text when the name
    // is empty, absolute, holds a NUL, a backslash or a ".." part, or names the destination itself.
    static QString safe_entry_path(const QString& destination, const QString& name);
    // A link target that keeps a link named `name` inside the destination (relative, no escape).
    static bool safe_link_target(const QString& name, const QString& target);

signals:
    void extractionFinished(bool success);
    void fileHashed(QString filePath, QString sha256);

public slots:
    void startExtraction();

private:
    bool extract();

    QString m_error;
    bool m_delete_archive;
    bool m_hash_files;
    QString m_archive_path;
    QString m_destination;
    qint64 m_max_total = 64LL * 1024 * 1024 * 1024;
    QStringList m_extracted;
};
