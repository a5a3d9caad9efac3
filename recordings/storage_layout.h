#pragma once

#include <QDate>
#include <QString>
#include <QStringList>

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

} // namespace StorageLayout
