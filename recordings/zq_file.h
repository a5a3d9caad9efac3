#pragma once

#include <QFileInfo>
#include <QFileInfoList>
#include <QHash>
#include <QList>
#include <QObject>
#include <QString>

class ZQTag;

// Camera-information files (".zqnfo", "index.zqnfo") and tag files (".zqtag") of a storage folder.
// All operations are static and keep no state; they may run in several threads at once.
//
// Camera table: camera id to camera name. Readers add the cameras of a file to the table they are
// given; an id already present keeps its first name.
class ZQFile : public QObject
{
    Q_OBJECT
public:
    ZQFile() : QObject(nullptr) {}

    // Longest camera name kept; longer names are cut.
    static constexpr int kMaxCameraNameLength = 256;

    // Reads an encrypted camera-information file, list form {"cameras":[{"cam_id","cam_name"}...]}
    // or single form {"cam_id","cam_name"}.
    static QHash<int, QString> check_and_parse_nfo_file(const QFileInfo& file, QHash<int, QString> cameras);
    // Reads the older plain form: one camera per line, the second "_"-separated part a scrambled
    // base64 text of "id=<n>|name=<text>".
    static QHash<int, QString> read_scrambled_nfo_lines(const QFileInfo& file, QHash<int, QString> cameras);
    // The older form over the camera files of a day: a recording's own file ("<camera>_...") whose
    // camera is already known is not read again, and reading stops (with a log line) once
    // kMaxScrambledBytesPerCall bytes were read, so that a day of large or many such files
    // cannot hold the window for seconds.
    static QHash<int, QString> read_scrambled_nfo_files(const QFileInfoList& files, QHash<int, QString> cameras);
    static constexpr qint64 kMaxScrambledBytesPerCall = 32LL * 1024 * 1024;
    // Writes the table, in camera-id order, as the encrypted list form. False when the write failed.
    static bool create_zqnfo_index_file(const QFileInfo& file, const QHash<int, QString>& cameras);
    // The cameras of a folder's own ".zqnfo" files: its "index" files first, all of them when
    // those name no camera.
    static QHash<int, QString> hash_cameras_list(const QString& folder, QHash<int, QString> cameras);
    // One tag; the caller owns and deletes it. Null when the file does not decrypt, or holds a
    // "tags" array.
    static ZQTag* read_tags_file(const QFileInfo& file);
    // The decrypted text of an encrypted JSON file; a null QString when it gives nothing.
    static QString read_decrypted_text(const QFileInfo& file);

    // The camera ids of a table in ascending order (tables are shown in camera-id order).
    static QList<int> sorted_camera_ids(const QHash<int, QString>& cameras);
    // One line of the scrambled form for the given camera (the inverse of the reader above);
    // `prefix` and `suffix` are the line's first and third "_"-separated parts.
    static QString make_scrambled_nfo_line(int camId, const QString& name, const QString& prefix = QStringLiteral("nfo"),
                                           const QString& suffix = QStringLiteral("end"));
    // Descrambles a payload of the scrambled form; characters outside the permuted alphabet pass
    // unchanged.
    static QString descramble(const QString& payload);
    static QString scramble(const QString& plain);
};
