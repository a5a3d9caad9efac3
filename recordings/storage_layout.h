#pragma once

#include <QDate>
#include <QString>
#include <QStringList>
#include <QStringView>

// Names of a storage folder: a root folder "zqcore_" + four groups of four hexadecimal digits, one
// folder per day "yyyy-MM-dd", start-time folders "HHmmss" holding the recordings.
namespace StorageLayout {

// The root folder's own name (case-insensitive).
bool is_root_folder_name(const QString& name);
// A root folder name anywhere in the path (case-insensitive).
bool path_contains_root(const QString& path);
// A root folder name followed by "/" and a "yyyy-MM-dd" day anywhere in the path.
bool path_contains_root_and_day(const QString& path);
// A folder name that reads as a valid "yyyy-MM-dd" date; the date, or an invalid QDate.
QDate day_folder_date(const QString& name);
inline bool is_day_folder_name(const QString& name) { return day_folder_date(name).isValid(); }
// The direct sub-folders of `folder` named as days, as absolute paths sorted by name; hidden
// folders and symbolic links left out.
QStringList day_folders(const QString& folder);

// The absolute, cleaned form of a folder path with "/" separators and no trailing "/"
// (the file-system root stays "/").
QString clean_folder_path(const QString& path);
// The same ending in "/".
QString folder_with_slash(const QString& path);

// True when `path` (absolute, "/" separators) lies inside `folder` (ending in "/") after
// cleaning, with no ".." left that would climb out.
bool is_inside(const QString& path, const QString& folderWithSlash);

// Files of a storage folder that we read or write. QFile and QSaveFile follow symbolic links, so
// a link named like a metadata file would have us read, overwrite or create its target anywhere
// the user can write.
// True when `path` itself (links not followed) is a regular file.
bool is_regular_file_no_link(const QString& path);
// Makes `path` safe to write through QSaveFile: nothing there, or a regular file, is fine; a
// symbolic link (dangling or not) is removed so that the write makes a regular file in its place
// and leaves the link's target untouched; anything else (a folder, a pipe, a device) is refused.
// False (with `error` set) when the path must not be written.
bool prepare_write_target(const QString& path, QString* error = nullptr);

// A recording's file name "<camera>_<yyyyMMdd>_<HHmmss>[_<stream digits>][.<suffix>]" read once, the
// same way by every caller (index builder, controller, widget player); the suffix is one run of
// ASCII letters and digits, so a name such as "1_20240101_090030_hash.json.zqvideo" is no
// recording of 09:00:30. The camera id is canonical ASCII
// digits only: "0" or a digit 1-9 followed by digits, fitting an int; "+1", "01", " 1" and other
// scripts' digits are not camera 1. Day and start read through TimeText (ASCII digits, valid dates
// and times). `valid` is false when any of the three does not read; the other fields then hold
// what did read (camera -1, day invalid, startMs -1 for what did not).
struct RecordingName
{
    bool valid = false;
    int camera = -1;
    QString cameraText; // the camera part as written (canonical when camera >= 0)
    QDate day;
    QString dayText;
    qint64 startMs = -1;
    QString startText;
};
RecordingName parse_recording_name(QStringView fileName);
// The camera id of a recording (or camera-information) file name: the canonical digits before the
// first "_", -1 otherwise.
int recording_camera_id(QStringView fileName);
// Canonical camera-id digits (see above) as an int; -1 for anything else.
int camera_id_from_text(QStringView text);

} // namespace StorageLayout
