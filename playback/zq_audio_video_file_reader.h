#pragma once

#include "playback/coded_frame_read.h"
#include "recordings/zq_frame.h"

#include <QFileInfo>
#include <QHash>
#include <QList>
#include <QSet>
#include <QByteArray>
#include <QString>
#include <QThread>
#include <atomic>
#include <memory>

class VideoDecoder;
struct AVFrame;
struct MediaFrameQueue;

// Producer of a re-encoded export: reads the seek indexes of the recording
// files of one camera in order, keeps the entries of one stream inside the
// time window ("HHmmss" begin and end, carried from one file to the next),
// decodes them without conversion and appends each picture as an owned
// ZQMediaFrame (camera name as draw overlay, the file's measured rate) to the
// worker's queue. Waits while the queue holds the limit or more.
//
// The thread's finished() marks the end of reading; failure() then says
// whether it ended on a fault the export cannot go past (-14: a seek index
// missing in the middle of the range, a data file that cannot be opened).
// Entries that cannot be read or decode to nothing are skipped with a log
// line; a change of codec reopens the decoder.
//
// The random-access side serves the audio player: read_seek_file fills the
// frame list (entries of one file, or of every listed file), get_frame_at and
// get_frame_index_for_timestamp address it, and read_frame reads one entry. In
// raw mode an entry's coded bytes are kept (get_raw_bytes) instead of being
// decoded and queued; run() then prepares with init_displayer_for_stream and
// reads every entry of the listed files in turn.
class ZQAudioVideoFileReader : public QThread
{
    Q_OBJECT
public:
    ZQAudioVideoFileReader();
    ZQAudioVideoFileReader(QList<QFileInfo> files, QString stream);
    ZQAudioVideoFileReader(QList<QFileInfo> files, QString stream, QString begin, QString end);
    ~ZQAudioVideoFileReader() override;

    void set_buffer(MediaFrameQueue* queue) { m_queue = queue; }
    void set_queue_limit(int limit) { m_limit = limit; }
    void set_shared_handle(const QHash<int, QString>& cameras) { m_cameras = cameras; }

    // Raw mode: frames are read but neither decoded nor queued; set before start().
    void set_raw_mode(bool raw) { m_rawMode = raw; }
    bool raw_mode() const { return m_rawMode; }
    // In raw mode, the coded bytes of the last entry read.
    QByteArray get_raw_bytes() const { return m_rawBytes; }

    // Any thread.
    void stop();
    // Entries of the frame list of the file being read; -1 when empty.
    int get_frame_count() const { return m_frameCount.load(); }
    // Frames per second of the file being read, from the typical spacing of
    // its entries (seek_index_frame_rate); -1 until known.
    double get_stream_fps() const { return m_fps.load(); }
    // 0, or -14 when reading ended on a fault.
    int failure() const { return m_failure.load(); }
    // Pictures appended to the queue so far.
    int frames_queued() const { return m_queued.load(); }
    // What run() does, on the calling thread: 1 when reading ended (at the
    // end, on a stop or on a fault, see failure()), 0 without a queue or limit.
    int read_all_frames();

    // A copy of the entry at index of the frame list; an empty entry (texts
    // empty, numbers 0) when there is none.
    ZQFrame get_frame_at(int index) const;
    // Index of the first entry of the second given as "yyyyMMddHHmmss" or
    // "yyyyMMddHHmmsszzz" (milliseconds ignored); -1 when none or unreadable.
    int get_frame_index_for_timestamp(const QString& time) const;
    // Fills the frame list with the retained entries of the listed files not
    // read yet: with firstOnly, of the next file that has any; without, of all
    // of them. Emits error(-10) when the list ends empty. Returns a copy.
    QList<ZQFrame> read_seek_file(QList<QFileInfo> files, QString stream, QString begin, QString end, bool firstOnly);
    // Reads entry index: raw mode keeps its bytes; a probe records the decoded
    // size; otherwise the picture is appended to the queue. True also when the
    // entry decodes to nothing or cannot be read whole (it is passed over);
    // false for a bad index, another stream, a data file that does not open, or
    // a picture with no queue to take it.
    bool read_frame(bool probe, int index, QString stream);
    // Reads the first file with entries of the stream, opens its decoder and
    // probes the first readable picture.
    bool init_displayer_for_stream(QString stream);
    // Opens a decoder for the codec of the frame list's first entry.
    bool init_decoder_for_stream(QString stream);
    // Frames per second of the frame list, from the typical spacing of the
    // entries of each file; -1 when the list shows no spacing.
    double get_fps();
    // Decoded size recorded by the probe of init_displayer_for_stream; -1 before.
    int get_width() const { return m_width; }
    int get_height() const { return m_height; }
    QString get_stream() const { return m_stream; }

signals:
    void error(int code);
    void valueChanged(int value);
    void endingsignal();

protected:
    void run() override;

private:
    bool wait_for_room();
    bool ensure_decoder(const QString& codec);
    bool read_file(const QFileInfo& file, bool* windowOpen, bool firstFile);
    int read_all_raw();
    bool open_data_file(const QString& path);
    void queue_picture(AVFrame* picture, const ZQFrame& entry);

    QList<QFileInfo> m_files;
    QString m_stream;
    QString m_begin;
    QString m_end;
    QHash<int, QString> m_cameras;
    MediaFrameQueue* m_queue = nullptr;
    int m_limit = -1;
    std::unique_ptr<VideoDecoder> m_decoder;
    QString m_decoderCodec;
    bool m_needKeyframe = true;
    CodedFrameFile m_data;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_frameCount{-1};
    std::atomic<double> m_fps{-1.0};
    std::atomic<int> m_failure{0};
    std::atomic<int> m_queued{0};
    int m_frameCounter = 0;
    // Random-access side.
    bool m_rawMode = false;
    QByteArray m_rawBytes;
    QList<ZQFrame> m_frameList;
    QSet<QString> m_readFiles;
    int m_width = -1;
    int m_height = -1;
};
