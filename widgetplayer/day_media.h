#pragma once

#include <QDate>
#include <QFileInfo>
#include <QFileInfoList>
#include <QHash>
#include <QString>
#include <QStringView>
#include <QVector>

#include <functional>

// The recordings of a day as the widget player searches them: names read once,
// times as milliseconds since midnight. Every function here is pure, so that
// the window's lookups can be checked without a window.
namespace DayMedia {

// Camera id written as canonical ASCII digits ("0", "12"; not "012", "+1",
// " 1" or other scripts' digits); -1 otherwise. The storage library's reader.
int parse_camera_id(QStringView text);

// "<camera>_<yyyyMMdd>_<HHmmss>.<ext>": the name's parts, or valid() false
// when it has too few "_" parts or non-digits (the storage library's reader).
struct RecordingName
{
    int camera = -1;
    QString day;          // "yyyyMMdd" as written
    qint64 start_ms = -1; // start time of day
    bool valid() const { return camera >= 0 && start_ms >= 0 && !day.isEmpty(); }
};
RecordingName parse_recording_name(const QString& file_name);

struct Entry
{
    QString path;
    int camera = -1;
    QString day;
    qint64 start_ms = -1;
    bool audio = false;
};

// Where entry `index` of a list ends (exclusive). The searches ask it only of
// the entries that can hold the time they look for, so that a caller reading
// ends from the seek indexes reads no more than the question needs.
using EndOf = std::function<qint64(int index)>;

// The valid recordings of a list, in the list's order.
QVector<Entry> entries_of(const QFileInfoList& files);

// Camera id of a text shown in a camera chooser: the id whose name is the
// text, else "CAMERA <id>", else -1.
int camera_id_of_camera_text(const QString& text, const QHash<int, QString>& cameras);
// What a chooser shows for a camera: its name, or "CAMERA <id>".
QString camera_text(int camera, const QHash<int, QString>& cameras);

// Time search of a click. `camera` -1 takes the camera of the first entry met.
// With tolerance_s below 1 an entry is found when start <= time < its end;
// as no recording runs into the camera's next one of its kind, only the
// latest of each kind that starts at or before the time is asked for its end.
// Otherwise a click less than tolerance_s seconds before a file, or after the
// camera's last file of its kind, finds the nearest one. The next file and the
// last file of these rules are the camera's own, of the same kind.
struct SearchResult
{
    int index = -1;  // into the list, -1 when nothing was found
    int camera = -1; // the camera searched (the first met for -1)
};
SearchResult search_time(const QVector<Entry>& list, qint64 time_ms, int camera, int tolerance_s, const EndOf& end_of);

// Adjacent recording of the same camera, day and kind: the one starting
// closest after (next) or before (previous) `current`; -1 when there is none.
int adjacent_entry(const QVector<Entry>& list, const Entry& current, bool next);

// Entry of `camera` on `day` whose span [start, end) holds the time; -1 when
// none. Only the camera's latest entry of the day that starts at or before the
// time is asked for its end.
int entry_for_alarm(const QVector<Entry>& list, int camera, const QString& day, qint64 time_ms, const EndOf& end_of);

// Hour row (0..23) of a "HH:mm:ss" / "HHmmss" / "HH:mm:ss:zzz" time; -1 when it does not read.
int hour_of_time_text(const QString& time);
// Time of day of such a text, -1 when it does not read.
qint64 ms_of_time_text(const QString& time);

// From a file's start and its last frame's time: fractional minutes when
// between 1 and 10, 1.0 when below one minute, -1 otherwise.
double minutes_from_last_frame(qint64 start_ms, qint64 last_ms);

// Where each of a camera's recordings of one kind ends (exclusive), given in
// start order with the time of each one's last picture (-1 when its seek
// index gave none). A recording ends just after its own last picture (one
// picture stamped at its start second is a last picture too); one without
// gets the minutes per file estimated from the others; none runs into the
// next one or past midnight; -1 when nothing tells.
// The estimate walks the recordings in order: the gap to the next one when it
// is 2 to 9 whole minutes, else, while none is known, the recording's own last
// picture; a later estimate only makes it smaller. *minutes_per_file carries
// it in and out (-1 for none).
QVector<qint64> recording_ends(const QVector<qint64>& starts_ms, const QVector<qint64>& last_ms,
                               double* minutes_per_file);
// The two halves of recording_ends, for a caller that reads last pictures
// only when asked: the estimate's walk, which asks last_of(i) only while no
// estimate is known, and the end of recording i.
double estimate_minutes(const QVector<qint64>& starts_ms, const std::function<qint64(int)>& last_of,
                        double minutes_per_file);
qint64 recording_end(const QVector<qint64>& starts_ms, int i, qint64 last_ms, double minutes_per_file);
// `end_ms` of recording i kept from running into the next one or past midnight.
qint64 bounded_end(const QVector<qint64>& starts_ms, int i, qint64 end_ms);

// The last complete seek-index line of a file, read from its tail: a line of
// at most 511 bytes whose first field is a valid "yyyyMMddHHmmsszzz".
// With `streams`, the video stream tokens ("video1") of its first lines and of
// its tail are added to *streams once, in the order they first appear: the
// streams of a recording are interleaved from its start, so its head names
// them all. Only a regular file is opened: a pipe would block the reader for good.
struct LastLine
{
    bool opened = false; // the file could be opened
    qint64 read = -1;    // bytes its tail read returned (0: empty file, -1: read failed)
    bool found = false;
    QString timestamp; // "yyyyMMddHHmmsszzz"
    qint64 time_ms = -1;
    QStringList fields;
};
LastLine seek_last_line(const QString& seek_path, QStringList* streams);
// The same on the tail's bytes; cut_first drops the first piece, the end of a
// line cut by the tail's start.
LastLine last_line_of_tail(const QByteArray& tail, bool cut_first, QStringList* streams);

// The stream tokens of a seek index's head bytes; cut_last drops the last
// piece, the start of a line cut by the head's end.
void stream_tokens_of_head(const QByteArray& head, bool cut_last, QStringList* streams);

} // namespace DayMedia
