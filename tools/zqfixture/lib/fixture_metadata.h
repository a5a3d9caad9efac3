#pragma once

// Metadata of a generated storage folder, added beside recordings that are already written:
//   - per recording "<cam>_<yyyyMMdd>_<HHmmss>.zqnfo", the single JSON form {"cam_id","cam_name"}
//     (or, for the cameras listed in scrambled_cameras, the older scrambled-line form);
//   - per day "index.zqnfo", the list form {"cameras":[...]};
//   - tag files "<cam>_<yyyyMMdd>_<HHmmss>_<n>.zqtag";
//   - one alarm picture per camera and hour "<cam>_<alarm id>_<yyyyMMdd>_<HHmmss>.jpg" with its
//     "-thumb.jpg";
//   - further tags and alarm pictures at given times (inside a recording or in a pause), beside
//     the camera's recording that starts last at or before the time;
//   - previews "<cam>_<yyyyMMdd>_<HHmmss>_preview.jpg" and "..._videopreview.jpg";
//   - per day "hash.json": every file of the day (less hash.json, zqvideoindex.json and
//     index.zqnfo) with "file", "absolutepath", "path" and "sha256".
// Everything encrypted goes through the project's Encrypt (text key form).
//
//   ZQFixture::MetadataOptions m;
//   m.camera_names = {{1, "Entrée"}};
//   const ZQFixture::MetadataResult r = ZQFixture::write_metadata(result.root_path, m);

#include "tools/zqfixture/lib/fixture_writer.h"

#include <QDateTime>
#include <QList>
#include <QMap>
#include <QSize>
#include <QString>
#include <QStringList>
#include <QTime>

namespace ZQFixture {

// A tag or an alarm picture of a camera at a time of day, written on each day where the
// camera has recordings.
struct TimedMark {
    int camera = 0;
    QTime time;
};

struct MetadataOptions {
    QMap<int, QString> camera_names;  // camera id -> name; a camera not listed is "Caméra <id>"
    bool recording_nfo = true;        // per-recording ".zqnfo"
    QList<int> scrambled_cameras;     // their per-recording files use the scrambled-line form
    bool day_nfo = true;              // "index.zqnfo" of each day
    int tags_per_camera = 1;          // per day, on the camera's first recordings
    bool alarms = true;               // one alarm picture (and thumbnail) per camera and hour
    QList<TimedMark> tags_at;         // further tags at these times
    QList<TimedMark> alarms_at;       // further alarm pictures (and thumbnails) at these times
    bool previews = true;             // "_preview.jpg" and "_videopreview.jpg" per camera and hour
    bool hash_list = true;            // "hash.json" of each day, written last
    QSize picture_size = QSize(160, 120);
    QSize thumb_size = QSize(64, 48);
};

struct MetadataResult {
    bool ok = false;
    QString error;
    QStringList files;       // every file written, absolute, sorted
    QStringList alarm_pictures;
    QStringList thumbnails;
    QStringList previews;
    QStringList tags;
    QStringList hash_lists;
};

// Finds the recordings "<day>/<HHmmss>/<cam>_<yyyyMMdd>_<HHmmss>.zqvideo" under the root folder and
// writes their metadata.
MetadataResult write_metadata(const QString& root_path, const MetadataOptions& options);

// Recordings and their metadata in one go: write() and then write_metadata().
struct StorageResult {
    bool ok = false;
    QString error;
    Result storage;
    MetadataResult metadata;
};
StorageResult write_storage(const Options& options, const MetadataOptions& metadata);

// "CAM:HHmmss" (as the command line takes it), false when it does not read.
bool parse_timed_mark(const QString& text, TimedMark* mark);

// Name of a camera in the fixture's files.
QString fixture_camera_name(const MetadataOptions& options, int camera);

} // namespace ZQFixture
