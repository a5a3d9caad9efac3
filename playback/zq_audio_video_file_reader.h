#pragma once

#include "playback/coded_frame_read.h"
#include "recordings/zq_frame.h"

#include <QFileInfo>
#include <QHash>
#include <QList>
#include <QString>
#include <QThread>
#include <atomic>
#include <memory>

class VideoDecoder;
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

    // Any thread.
    void stop();
    // Entries of the frame list of the file being read; -1 when empty.
    int get_frame_count() const { return m_frameCount.load(); }
    // Frames per second of the file being read: (entries - 1) / span; -1 until known.
    double get_stream_fps() const { return m_fps.load(); }
    // 0, or -14 when reading ended on a fault.
    int failure() const { return m_failure.load(); }
    // Pictures appended to the queue so far.
    int frames_queued() const { return m_queued.load(); }
    // What run() does, on the calling thread: 1 when reading ended (at the
    // end, on a stop or on a fault, see failure()), 0 without a queue or limit.
    int read_all_frames();

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
};
