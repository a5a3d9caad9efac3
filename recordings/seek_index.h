#pragma once

#include "recordings/zq_frame.h"

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>
#include <QStringView>
#include <atomic>

// The one reader of seek indexes (".zqseek", ".zqaudioseek"): one text line per
// coded frame, "timestamp:token:codec:size WxH:keyframe:bytes" for video and
// "timestamp:token:codec:bytes" for audio. Every reader of recordings (the
// playback reader and its prefetch jobs, the export reader, the stream-token
// scan) goes through parse_seek_index().

// Larger seek indexes are refused (an "[ERROR]" line, no records): an hour of 25 fps video takes
// about 5 MB and 90,000 records.
inline constexpr qint64 kMaxSeekIndexBytes = 256LL * 1024 * 1024;
inline constexpr qint64 kMaxSeekIndexRecords = 4LL * 1000 * 1000;
inline constexpr qsizetype kMaxListedStreams = 256;

struct SeekIndexOptions
{
    // Requested stream id ("1", "2", ...). Records join the result only when
    // their stream id equals it; an empty request keeps every stream.
    QString stream;
    // true: the codec becomes a decoder name ("libx264", "mpeg4", "hevc",
    // "aac", "mjpeg"); false: the codec text of the line is kept as written.
    bool deriveCodecName = true;
    // Optional time window as times of day "HHmmss" (both non-empty to use it).
    // A record is in range from the first line with begin <= time < end up to
    // and including the first later line with time >= end; a later line back
    // inside the window opens it again. Outside the window a record has in
    // range 0 and does not join the result (unless keepAll).
    QString windowBegin;
    QString windowEnd;
    // Window state carried from one file to the next of one export; may be null
    // (then each call starts with the window closed).
    bool* windowOpen = nullptr;
    // Return every line with a valid timestamp, whatever its stream and range.
    bool keepAll = false;
    // Checked once per line; when it reads true the parse ends and the result
    // says cancelled.
    const std::atomic<bool>* cancel = nullptr;
    // Camera id to name; a camera it does not name is called "CAMERA " + id.
    const QHash<int, QString>* cameras = nullptr;
};

struct SeekIndexResult
{
    bool opened = false;     // the seek index was found and opened
    bool cancelled = false;  // stopped through SeekIndexOptions::cancel
    bool refused = false;    // over kMaxSeekIndexBytes or kMaxSeekIndexRecords: no usable index
    QString seekPath;        // the seek index read
    QString dataFile;        // its data file
    QString kind;            // "video" or "audio"; empty for an unknown path
    QString cameraId;        // first "_"-separated part of the seek file name
    QString cameraName;      // the name the records carry (empty without id)
    // Stream ids (kind word removed) and raw stream tokens ("video1"), first-seen order. When one
    // stream is asked for (and not keepAll), the lines the result does not take list their
    // streams only while fewer than kMaxListedStreams are listed, and are counted in
    // unlistedLines after: no recording has that many, and a file naming a new stream on every
    // line is read without listing them all.
    QStringList streams;
    QStringList streamTokens;
    qint64 unlistedLines = 0;
    // When streams is not empty and does not hold the requested stream: the
    // first stream id of the file, the one to play instead. Empty otherwise.
    QString detectedStream;
    qint64 lines = 0;        // lines with a valid timestamp
    qint64 skippedLines = 0; // malformed lines (no valid timestamp, too long)
    qint64 dataBytes = 0;    // running offset after the last line
};

struct SeekCompanions
{
    QString seekPath;
    QString dataFile;
    QString kind; // "video" or "audio"; empty when the path is no recording file
    bool valid() const { return !kind.isEmpty(); }
};

// Seek index and data file of any of the four recording files, by the
// file's suffix (".zqvideo", ".zqseek", ".zqaudioseek", ".zqaudio").
SeekCompanions seek_index_companions(const QString& path);
// The path with its suffix (the text after the file name's last dot)
// replaced by newSuffix (without dot); the folders are never touched.
QString replace_suffix(const QString& path, const QString& newSuffix);
// Camera id of a recording: the first "_"-separated part of its file name.
QString seek_index_camera_id(const QString& path);
// Decoder name for a codec text: "264" -> "libx264", "mpeg4" (any case) ->
// "mpeg4", "265" -> "hevc", "aac" -> "aac", otherwise "mjpeg".
QString seek_index_codec_name(QStringView codecText);
// Valid "yyyyMMddHHmmsszzz" text, read from its digits (no time zone).
bool seek_index_timestamp_valid(QStringView text);

// The typical spacing of pictures among spacings (any unit, any order): the
// mean of those within half the median of it, so that one long spacing (an
// outage, a gap) or a short one weighs nothing, while stamps cut to the
// millisecond (33, 33, 34 ms at 30 frames per second) still average to their
// true period. When most spacings are 0 (pictures stamped alike), the mean of
// them all. -1 when there is no spacing or no positive one.
double typical_spacing(QList<qint64> spacings);
// Frames per second of entries in time order (one stream), from the typical
// spacing of neighbouring entries of one data file (the step from one file
// to the next, or back in time, is no spacing). Holds for a recording of two
// seconds as for one with an outage inside. -1 when the entries show no
// spacing (fewer than two, or all at one time).
double seek_index_frame_rate(const QList<ZQFrame>& frames);

// The stream ids worth offering to choose from: the short numbers a recording
// server writes ("1" for "video1"), first-seen order kept, at most
// kMaxOfferedStreams of them. A seek index is untrusted and may name any number
// of tokens; a list of thousands would only freeze the window that shows it.
// dropped (optional) receives how many ids were left out.
inline constexpr qsizetype kMaxOfferedStreams = 8;
QStringList plausible_stream_ids(const QStringList& streams, qsizetype* dropped = nullptr);

// Reads one seek index (any of the four companion paths may be given). Never
// throws; a file that does not open or a path that is no recording file yields
// an empty list (result->opened false). The file is streamed, never read whole.
QList<ZQFrame> parse_seek_index(const QString& path, const SeekIndexOptions& options,
                                SeekIndexResult* result = nullptr);
