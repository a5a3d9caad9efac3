#pragma once

#include <QString>
#include <QStringList>

// The day index "zqvideoindex.json" of a day folder and the folder fingerprint "last_modified"
// that tells whether it is still current.
//
// Fingerprint: every regular file below the folder, all levels (hidden entries, symbolic links
// and unreadable files left out, and files whose last suffix is "json" or "zqnfo" too), as
// "<relative path>|<local modification time yyyyMMddHHmmss>|<size>", sorted, joined with ";",
// SHA-256 in lowercase hexadecimal.
namespace DayIndex {

inline constexpr char kFileName[] = "zqvideoindex.json";
// A stored index larger than this is not read.
inline constexpr qint64 kMaxIndexFileSize = 64 * 1024 * 1024;
// Entries read from one list of a stored index at most (a day holds far fewer files).
inline constexpr qsizetype kMaxListEntries = 1000000;

// Absolute paths, "/" separators, sorted (folders by name, then files by name).
struct Files
{
    QStringList video;   // ".zqvideo" whose ".zqseek" exists and is not empty
    QStringList alarm;   // ".jpg" other than previews
    QStringList tag;     // ".zqtag"
    QStringList audio;   // ".zqaudio" whose ".zqaudioseek" exists and is not empty
    QStringList preview; // "..._preview.jpg", "..._videopreview.jpg"
    QStringList nfo;     // ".zqnfo" (not stored in the index)
    QStringList dateDirectories; // direct sub-folders named as dates (normally none)
};

struct Snapshot
{
    bool exists = false;
    QString fingerprint; // null when the folder does not exist
    Files files;         // filled when collecting was asked for
    int folders = 0;     // folders whose files were collected: the day and its direct sub-folders
    qsizetype fileCount = 0; // files the fingerprint counts (all levels)
};

// One walk of the folder: its fingerprint and, when `collect`, the files of the day (the folder's
// own files and those of its direct sub-folders). Taking both from one walk means that a file
// arriving during a build is either in both or in neither: never listed under a fingerprint that
// does not count it.
Snapshot scan(const QString& dayFolder, bool collect);
// The fingerprint alone; a null text (and a log line) when the folder does not exist.
QString fingerprint(const QString& folder);
// The fingerprint text of a list of "<relative path>|<time>|<size>" entries.
QString fingerprint_of_entries(QStringList entries);

// The five stored lists (video, alarm, tag, audio, preview) of `a` and `b` name the same files, in
// any order.
bool same_files(const Files& a, const Files& b);

// Writes "zqvideoindex.json" into the day folder through QSaveFile. False (with `error` set)
// when it could not be written.
bool write(const QString& dayFolder, const Files& files, const QString& fingerprint, QString* error = nullptr);

struct Stored
{
    bool found = false;     // a readable, well-formed index (or a remembered one)
    bool fromMemory = false;
    QString fingerprint;    // null when missing or malformed
    Files files;            // only entries that are existing regular files inside the day
    int rejected = 0;       // entries dropped (foreign, malformed, missing)
    // Entries that no scan of the day lists (a hidden name, a path outside the day or below its
    // start-time folders, a file of another kind than its list, a malformed entry): the index is
    // no index of ours and is rebuilt instead of trusted, even with a current fingerprint.
    int foreign = 0;
    int duplicates = 0;     // entries dropped because the file was listed already
    qsizetype longestList = 0; // entries of the longest stored list, before any cut
};

// Reads the stored index of a day. Stored paths are rebased from the stored "root_directory" onto
// the day folder's current path, and only the files a scan of the day would list (regular, not
// hidden, in the day folder or a direct sub-folder, of their list's kind) are kept. With `withLists` false only the fingerprint
// is read. Stored paths written on another machine (a drive letter or backslashes) are rebased by
// what follows the storage root folder's name. A file listed twice is kept once, and each list is
// cut at `maxEntries` entries (at most kMaxListEntries): a caller that knows how many files the day
// holds passes that. An index remembered for a folder whose index could not be written comes first.
Stored read(const QString& dayFolder, bool withLists, qsizetype maxEntries = kMaxListEntries);

// Index built for a folder whose "zqvideoindex.json" could not be written (read-only storage):
// kept in memory for a few days so that the day is not rebuilt on every load.
void remember(const QString& dayFolder, const QString& fingerprint, const Files& files);
void forget(const QString& dayFolder);
inline constexpr int kRememberedDays = 8;

} // namespace DayIndex
