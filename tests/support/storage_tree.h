#pragma once

// Storage folders as operators reach them and what copies of them hold, for the tests of what
// copies a storage (the raw copy and the players that start it): the files below a folder, by
// name or by the bytes the file system holds, a storage root reached through links, and a folder
// named as a storage root planted in a day.

#include "tools/zqfixture/lib/fixture_metadata.h"
#include "tools/zqfixture/lib/fixture_writer.h"

#include <QByteArrayList>
#include <QDate>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <QTime>

#include <algorithm>
#include <dirent.h>
#include <sys/stat.h>

namespace zqtest {

// A small storage below `parent`: two days (2024-01-01 and 2024-01-02), cameras 1 and 2 with three
// recordings of two seconds each from 08:00:00, and every camera-information file (one per
// recording and one per day, encrypted as the recorder does); no tags, alarms, previews or hash
// lists.
inline ZQFixture::StorageResult write_camera_storage(const QString& parent,
                                                     const QString& rootId = QStringLiteral("zqcore_0a1b-2c3d-4e5f-6789"))
{
    ZQFixture::Options o;
    o.output_parent = parent;
    o.root_id = rootId;
    o.dates = {QDate(2024, 1, 1), QDate(2024, 1, 2)};
    o.cameras = {1, 2};
    o.fps = 10;
    o.gop = 10;
    o.recordings_per_camera = 3;
    o.seconds_per_recording = 2;
    ZQFixture::MetadataOptions m;
    m.tags_per_camera = 0;
    m.alarms = false;
    m.previews = false;
    m.hash_list = false;
    return ZQFixture::write_storage(o, m);
}

// The files below a folder by their path from it on, hidden ones included, sorted.
inline QStringList files_below(const QString& folder)
{
    QStringList files;
    QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext())
        files << it.next().mid(folder.size() + 1);
    files.sort();
    return files;
}

// The same by the bytes the file system holds (a name that is not UTF-8 keeps its own, where a
// QString would not), sorted; links are not followed.
inline QByteArrayList byte_files_below(const QByteArray& folder, const QByteArray& prefix = QByteArray())
{
    QByteArrayList files;
    DIR* dir = ::opendir(folder.constData());
    if (!dir)
        return files;
    while (struct dirent* e = ::readdir(dir)) {
        const QByteArray name(e->d_name);
        if (name == "." || name == "..")
            continue;
        struct stat st{};
        if (::lstat((folder + '/' + name).constData(), &st) != 0)
            continue;
        if (S_ISDIR(st.st_mode))
            files << byte_files_below(folder + '/' + name, prefix + name + '/');
        else if (S_ISREG(st.st_mode))
            files << prefix + name;
    }
    ::closedir(dir);
    std::sort(files.begin(), files.end());
    return files;
}

// A storage root reached through a link named as it, "<dir>/via/<root's name>" (a drive linked
// into a home folder), and inside a linked folder, "<dir>/mounted/<root's name>" with "mounted" a
// link to the root's parent (a share mounted elsewhere). Both empty when a link cannot be made.
struct LinkedRoot
{
    QString ownLink;
    QString parentLink;
};

inline LinkedRoot link_root(const QString& root, const QString& dir)
{
    const QString name = QFileInfo(root).fileName();
    const QDir in(dir);
    LinkedRoot r{in.filePath(QStringLiteral("via/") + name), in.filePath(QStringLiteral("mounted/") + name)};
    if (!QDir().mkpath(in.filePath(QStringLiteral("via"))) || !QFile::link(root, r.ownLink)
        || !QFile::link(QFileInfo(root).absolutePath(), in.filePath(QStringLiteral("mounted"))))
        return LinkedRoot();
    return r;
}

// The root-named folder that plant_root_named_folder() makes in a day.
inline QString planted_root_name()
{
    return QStringLiteral("zqcore_dead-beef-dead-beef");
}

// Plants in the day folder of `root` a folder named as a storage root holding a recording of
// `camera` that starts at `start` (one second of real frames, written in `scratch` first) with its
// seek index, and a copy of the camera-information file `nfo` under the recording's name: the day
// lists that recording with its own. Returns its data file's path, empty on failure.
inline QString plant_root_named_folder(const QString& root, const QDate& day, int camera, QTime start,
                                       const QString& nfo, const QString& scratch)
{
    const QString folder = root + QLatin1Char('/') + day.toString(QStringLiteral("yyyy-MM-dd")) + QLatin1Char('/')
                           + planted_root_name();
    ZQFixture::Options o;
    o.output_parent = scratch;
    o.dates = {day};
    o.cameras = {camera};
    o.start_time = start;
    o.recordings_per_camera = 1;
    o.seconds_per_recording = 1;
    o.size = QSize(64, 48);
    o.fps = 10;
    o.gop = 10;
    const ZQFixture::Result r = ZQFixture::write(o);
    if (!r.ok || r.files.size() != 1 || !QDir().mkpath(folder))
        return QString();
    const QString base = folder + QLatin1Char('/') + QFileInfo(r.files.first().data_path).completeBaseName();
    if (!QFile::copy(r.files.first().data_path, base + QStringLiteral(".zqvideo"))
        || !QFile::copy(r.files.first().seek_path, base + QStringLiteral(".zqseek"))
        || !QFile::copy(nfo, base + QStringLiteral(".zqnfo")))
        return QString();
    return base + QStringLiteral(".zqvideo");
}

} // namespace zqtest
