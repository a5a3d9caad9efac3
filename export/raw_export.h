#pragma once

#include <QByteArray>
#include <QFileInfo>
#include <QList>
#include <QString>
#include <QStringList>
#include <QThread>
#include <atomic>

// Copies the recording files of a range (each data file with its seek index)
// and every camera-information file of their storage root folder, whatever
// day it belongs to, into the export folder, each under its path from the
// storage root folder on, so that the export folder holds a smaller storage
// folder the player can open. The export folder and its missing parents are
// made when they are not there yet.
//
// One storage root per copy: the one the operator opened, as the caller names
// it (set_storage_root), or else the first folder named as a storage root in
// the first file's path. Every file is placed by its path from that root on,
// so a folder named as a root further down (inside a day, or a copy an export
// wrote) is a folder like any other. The root is walked for camera-information
// files whether its own path or a folder above it is a link; below it, links
// are never followed and folders named as a storage root are left out (that
// is what exports write, never the storage's own files), so the storage's
// camera-information files come along once wherever the export goes; the
// root's folders are walked by a few threads at once. The one exception: a day
// folder the recordings come from that is reached through a link (an old day
// moved to another disk and linked back) is walked as the root is, its files
// under the day's own name; a link naming the root, a folder above it or a
// folder named as a storage root is no day, and fails the copy (-14). Names
// read from the disk are copied under their own bytes.
//
// Every file is written under a temporary name and then published under its
// own name only when nothing is there yet: a target with the same content as
// its source is kept, one with other content is never replaced (an earlier
// export is evidence), and that file's copy fails. The folders from the export
// folder down to each file are opened one by one without following links, and
// the files are created relative to them: a link planted in the export folder
// cannot send the copy elsewhere. A failed file is logged and the copy goes on
// with the next one. One terminal signal: endingsignal() when everything was
// copied, or else, once every other file was copied, error() with the first
// failure's code, -14 (a source missing, unreadable, outside the storage root,
// or a storage folder that cannot be listed) or -9 (a target that cannot be
// written, exists with other content, or is its own source), and
// failed_file() naming that file just before it.
class RawExport : public QThread
{
    Q_OBJECT
public:
    RawExport();
    ~RawExport() override;

    void set_target(const QFileInfo& target) { m_target = target; }
    void set_files(const QList<QFileInfo>& files) { m_files = files; }
    // The storage root folder the operator opened, as the player names it (a link or a path
    // through one is fine). Ignored unless its own name is a storage root folder's.
    void set_storage_root(const QString& root) { m_root = root; }
    // Any thread: the copy stops at its next check (no terminal signal then).
    void set_stop() { m_stop.store(true); }

    // The export path of a source: the export folder followed by the source's path from the
    // storage root folder on; empty when it lies below none. Without a root (or with one that is
    // not named as a storage root), the first folder of the source's path named as one.
    static QString target_path(const QString& exportFolder, const QString& source);
    static QString target_path(const QString& exportFolder, const QString& root, const QString& source);
    // The first folder of a source path named as a storage root, as the path names it; empty when
    // it holds none.
    static QString storage_root(const QString& source);
    // Copies source to target (a path below the export folder of the running
    // copy) through a temporary file; -14 (source), -9 (target) or 0. A target
    // with the source's content is kept; any other one fails.
    int copy_file(const QString& source, const QString& target);

signals:
    void valueChanged(int percent);
    void endingsignal();
    void error(int code);
    // The first file whose copy failed, emitted just before error().
    void failed_file(const QString& path);

protected:
    void run() override;

private:
    class Copier;
    // A file below a folder that is open: the folder, the file's name in it, how the log names
    // that folder (empty when the name is a whole path), and whether the walk just listed it as a
    // regular file.
    struct Source
    {
        int dir;
        QByteArray name;
        QString folder;
        bool listedAsFile = false;
        QString shown() const;
    };

    QFileInfo m_target;
    QList<QFileInfo> m_files;
    QString m_root;
    std::atomic<bool> m_stop{false};
    // The export folder during run(): its path and an open descriptor of it.
    QString m_exportFolder;
    int m_exportFd = -1;
};
