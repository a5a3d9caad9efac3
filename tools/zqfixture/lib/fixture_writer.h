#pragma once

// Storage-folder generator: writes a root folder of real recordings
//   <parent>/<root id>/yyyy-MM-dd/HHmmss/<camera>_<yyyyMMdd>_<HHmmss>.zqvideo + .zqseek
// coded with libavcodec. Every picture carries its camera, frame index and
// time in coloured blocks (read back with read_pattern, fixture_pattern.h)
// and a clock a person can read.
//
//   ZQFixture::Options o;
//   o.output_parent = dir.path();
//   o.cameras = {1, 2};
//   o.seconds_per_recording = 2;
//   const ZQFixture::Result r = ZQFixture::write(o);
//   QVERIFY2(r.ok, qPrintable(r.error));

#include "tools/zqfixture/lib/fixture_audio.h"
#include "tools/zqfixture/lib/fixture_encoder.h"
#include "tools/zqfixture/lib/fixture_pattern.h"

#include <QDate>
#include <QList>
#include <QSize>
#include <QString>
#include <QStringList>
#include <QTime>

namespace ZQFixture {

struct Options {
    QString output_parent;                              // folder that receives the root folder (created if missing)
    QString root_id = QStringLiteral("zqcore_0a1b-2c3d-4e5f-6789"); // "zqcore_" + four groups of four hex digits
    QList<QDate> dates = {QDate(2024, 1, 1)};           // one day folder each, same recordings in each
    QList<int> cameras = {1};                           // camera ids, 0 .. 4095
    QTime start_time = QTime(8, 0, 0);                  // start of the first recording of each camera
    int recordings_per_camera = 1;
    int seconds_per_recording = 60;
    int gap_seconds = 0;                                // pause between the end of a recording and the next
    QSize size = QSize(320, 240);                       // even, 16 .. 8192
    int fps = 25;
    int gop = 25;                                       // keyframe every gop frames
    // Frame i of a recording is stamped start + i * stamp_period_ms (0: 1000 / fps), cut to
    // the millisecond, or rounded to the nearest one with round_stamps, as many cameras
    // write them: rounded 30 fps stamps, 12.5 fps (80 ms), a camera clock 0.04 % slow
    // (40.016 ms). With a period of its own a recording holds the frames stamped inside
    // its seconds. The pattern's time_ms() knows only fps.
    double stamp_period_ms = 0;
    bool round_stamps = false;
    Codec codec = Codec::H264;
    QString codec_text;                                 // third seek-index field; empty: the codec's usual text
    bool second_stream = false;                         // adds "video2" lines, interleaved after each "video1" line
    QSize second_size;                                  // empty: half the size (even, at least 16)
    // Damage, applied to one recording: the index into Result::files (sorted order).
    int damaged_recording = 0;
    int corrupt_frame = -1;                             // "video1" frame whose bytes are overwritten with noise
    bool truncate = false;                              // data file ends halfway through its last frame
    // An outage inside the recording: the "video1" frame outage_frame and every
    // frame after it are stamped (and their clocks painted) outage_seconds
    // later, as when a camera stops sending for a while and the server goes
    // on writing the same file. The pattern's time_ms() does not know it.
    int outage_frame = -1;
    int outage_seconds = 0;
    int threads = 0;                                    // recordings coded at once; 0: one per core
    AudioOptions audio;                                 // codec None: no ".zqaudio" companions
};

// One line of a seek index, as written.
struct FrameEntry {
    qint64 time_ms = 0;   // time of day, milliseconds since midnight
    int stream = 1;       // 1 "video1", 2 "video2"
    int index = 0;        // index inside its stream
    bool key = false;
    qint64 offset = 0;    // in the data file
    int size = 0;
};

struct WrittenFile {
    QString data_path;    // absolute, "/" separators
    QString seek_path;
    int camera = 0;
    QDate date;
    QTime start;
    int frame_count = 0;          // "video1" frames
    int second_stream_frames = 0; // "video2" frames
    QString first_timestamp;      // "yyyyMMddHHmmsszzz" of the first and last lines
    QString last_timestamp;
    qint64 data_size = 0;         // bytes the seek index describes (the file is shorter when truncated)
    int corrupted_frame = -1;     // "video1" frame overwritten with noise, or -1
    bool truncated = false;
    QList<FrameEntry> frames;     // every seek-index line, in order
    QString audio_data_path;      // ".zqaudio" and ".zqaudioseek" beside it; empty without audio
    QString audio_seek_path;
    QList<AudioEntry> audio_entries; // every line of the audio seek index, in order
};

struct Result {
    bool ok = false;
    QString error;
    QString root_path;            // absolute path of the root folder
    QStringList day_folders;      // absolute, sorted
    QList<WrittenFile> files;     // sorted by date, start time, camera
    QStringList other_files;      // further files written into the tree (companions added later)
};

// Writes the storage folder. Existing files of the same names are replaced.
Result write(const Options& options);

// "frame/h264", "frame/h265", "frame/jpeg", "frame/MPEG4": what the readers map to their decoders.
QString default_codec_text(Codec codec);
QString codec_word(Codec codec); // "h264", "h265", "mjpeg", "mpeg4"
bool parse_codec(const QString& word, Codec* codec);

// "yyyyMMddHHmmsszzz" of a day and a time of day in milliseconds.
QString timestamp_text(const QDate& date, qint64 time_ms);

bool is_root_name(const QString& name);

} // namespace ZQFixture
