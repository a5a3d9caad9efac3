#pragma once

#include "playback/coded_frame_read.h"
#include "recordings/seek_index.h"
#include "recordings/zq_frame.h"

#include <QByteArray>
#include <QFile>
#include <QFileInfo>
#include <QFuture>
#include <QHash>
#include <QImage>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>
#include <QThread>
#include <QTime>

#include <atomic>
#include <functional>
#include <memory>

class QTimer;
class VideoDecoder;
class ff_audio_decoder_sdl_player;
struct AVFrame;

// A seek index loaded off the GUI thread: the frames of the requested stream
// and what the parse found out about the file.
struct ZQSeekLoad
{
    QList<ZQFrame> frames;
    SeekIndexResult info;
};

// Parses one recording's seek index for a stream (playback form). Touches
// nothing but its arguments, so it runs on any thread; it emits nothing. This
// is the way to get the frames of a given file without side effects (export,
// widget player, tests): the reader's read_seek_file() works on the reader's
// own current file and replaces its state.
ZQSeekLoad zq_load_seek_index(const QString& path, const QString& stream, const QHash<int, QString>& cameras,
                              std::shared_ptr<std::atomic<bool>> cancel);

// Delivers one camera stream of one day: loads a recording's seek index, opens
// its decoder, reads coded frames by offset and size, decodes them and emits
// the pictures, paced by a timer, forward and backward at any rate, moving by
// itself to the next or previous recording of its list. Everything runs on
// the thread that owns the object (the GUI thread); only the loading ahead of
// the next and previous seek indexes runs on the global thread pool. The
// QThread base is never started.
class ZQStreamReadAndControl : public QThread
{
    Q_OBJECT
public:
    // A coded frame larger than this is refused.
    static constexpr qint64 kMaxFrameBytes = CodedFrameFile::kMaxFrameBytes;
    // Decoded pictures kept to play a group of pictures backward.
    static constexpr qint64 kBackwardCacheBytes = 256LL * 1024 * 1024;

    ZQStreamReadAndControl();
    ~ZQStreamReadAndControl() override;

    // Loading (the recording's ".zqseek", the stream id, the camera's ".zqvideo"
    // files of the day in playing order).
    bool init_displayer_for_stream(const QFileInfo& seekFile, const QString& streamId, const QList<QFileInfo>& dayFiles);
    bool init_displayer_for_file(const QString& streamId);
    bool init_decoder_for_codec(const QString& codec);
    // Parses the reader's current file (set by init_displayer_for_stream or a
    // file change) and replaces the reader's frame list and file list with it
    // (`files`); it emits send_available_videostream and starts loading the
    // next file ahead. Not a way to read another file's frames: use
    // zq_load_seek_index() for that.
    QList<ZQFrame> read_seek_file(const QList<QFileInfo>& files, const QString& streamId);
    // Parses `file` for the stream and emits the streams it holds; leaves the
    // reader's lists alone.
    QList<ZQFrame> parse_seek_files(const QFileInfo& file, const QString& streamId, QString& detectedStream);
    double get_fps();
    bool read_frame(bool probe, int index, const QString& streamId);
    QString get_id_stream() const { return m_streamId; }
    static QTime time_from_timestamp(const QString& timestamp);
    void stop();
    bool init_audio_and_start(const QFileInfo& seekFile);

    // Pacing.
    void read_forward();
    void read_backward();
    void set_pause();

    // Positioning.
    void set_index(int index);

    // Moving across the recordings of the list.
    bool continue_read(const QString& path, const QString& streamId, bool start, const QString& direction);
    QFileInfo get_next_file() const;
    QFileInfo get_previous_file() const;
    void switch_to_next_file();
    void switch_to_previous_file();
    void reset_forward_prefetch();
    void reset_backward_prefetch();
    bool check_next_prefetch(const QFileInfo& expected) const;
    bool check_prev_prefetch(const QFileInfo& expected) const;

    // State, for the controller and for tests.
    void set_camera_table(const QHash<int, QString>& cameras) { m_cameras = cameras; }
    // Sound beside the picture (off by default; no window turns it on): the
    // hook starts an audio player for a recording with a ".zqaudio" companion
    // and hands it each later recording and every shown picture's time.
    void set_audio_enabled(bool enabled);
    bool is_audio_enabled() const { return m_audioEnabled; }
    ff_audio_decoder_sdl_player* get_audio_player() const { return m_audioPlayer; }

    // Steady clock in nanoseconds that the read timer's schedule and the
    // backward ticks go by.
    void set_clock(std::function<qint64()> nowNs);
    int get_index() const { return m_index; }
    int get_last_read_index() const { return m_lastReadIndex; }
    int get_rate() const { return m_rate; }
    double get_speed() const { return m_speed; }
    double get_frames_per_second() const { return m_fps; }
    bool is_paused() const { return m_paused; }
    bool is_waiting_for_keyframe() const { return m_waitForKeyframe; }
    QTimer* get_read_timer() const { return m_timer; }
    int get_backward_interval() const { return m_backwardInterval; }
    QFileInfo get_current_file() const { return m_currentFile; }
    int get_current_position() const { return m_currentPos; }
    QList<QFileInfo> get_file_list() const { return m_files; }
    QList<ZQFrame> get_frame_index() const { return m_frames; }
    bool is_forward_prefetch_finished() const;
    bool is_backward_prefetch_finished() const;
    // Waits for every prefetch job, running or dropped (at exit, in tests).
    void wait_for_prefetches();
    // Milliseconds from one picture to the next for a rate and a frame rate:
    // the recording's own spacing at rates of magnitude 1 or less (1000 when
    // the frame rate is not known), 1000 / (2 x rate) in whole milliseconds
    // for the keyframes of the fast rates.
    static double period_for(int rate, double fps);

signals:
    void error(int code);
    void parsing_finished();
    // `index`: the entry index of the picture shown in the current file's
    // frame list (not a minute of the day); `timestamp` its 17-digit time.
    void slidervalue(int index, QString timestamp);
    void setTime(QTime time);
    // Never emitted: the reader moves to the next or previous recording by
    // itself, and the end of its list arrives as reading_ended().
    void set_next_file();
    void set_previous_file();
    void set_display_frame(QImage frame, int linesize, int width, int height, QString timestamp, QString drawoverlay,
                           bool isUnwrapped, int frame_id, double fps, bool is_keyframe);
    void send_available_videostream(QStringList streams);
    // Reading stopped by itself (no next or previous recording to go on
    // with); the read timer is gone. Not emitted by stop().
    void reading_ended();

public slots:
    void set_read_timestamp(QString timestamp);
    void read_and_display_next_frame(bool step);
    void read_and_display_next_frame();
    void read_and_display_previous_frame(bool step);
    void read_and_display_previous_frame();
    void change_rate(double rate);
    void setup_fps(double fps);
    void slider_pressed();

private:
    struct Prefetch
    {
        bool active = false;
        QFuture<ZQSeekLoad> future;
        QFileInfo target;
        int targetPos = -1;
        QString stream;
        std::shared_ptr<std::atomic<bool>> cancel;
    };

    struct CachedPicture
    {
        AVFrame* frame = nullptr;
        bool keyframe = false;
    };

    // What loading a recording's seek index found, before the reader takes it.
    struct Loaded
    {
        QList<ZQFrame> frames;          // the entries of `stream` in range
        QString stream;                 // the stream asked for, or the one the file holds instead
        bool prefetched = false;        // taken from the parse made ahead
        QList<SeekIndexResult> parses;  // the parses made, in order (the streams each names)
    };

    // Loads `file` (at `pos` in the list, -1 when not listed) for the stream, waiting for the
    // parse made ahead when one is running for it; changes nothing the reader plays.
    Loaded load_recording(const QFileInfo& file, int pos, const QString& streamId);
    // Makes a load the frame index: the streams offered, the next parse started, the rate.
    void take_load(const Loaded& load);
    // The frames per second of the frame index, and the speed the pictures carry at the rate asked.
    void take_frame_rate();

    void triggerPrefetch(const QString& streamId);
    void triggerPrefetchPrev(const QString& streamId);
    void start_prefetch(Prefetch& slot, int pos, const QString& streamId);
    void reset_prefetch(Prefetch& slot);
    // The parsed index of a finished job; empty when it was cancelled.
    static ZQSeekLoad result_of(const Prefetch& slot);
    // Loads a recording at a switch ("next" or "prev" in the log lines), with
    // one retry for the stream it holds when the played one is absent.
    ZQSeekLoad load_for_switch(const QFileInfo& file, const QString& direction);
    // Moves to the next (forward) or previous recording of the list that loads,
    // taking the parse made ahead when it is ready; ends reading when none does.
    // From a frame step, the new recording's first (last) picture shows as that step's.
    void switch_file(bool forward, bool fromStep = false);

    void recreate_timer(bool forward);
    // The read timer's schedule: each tick is due one period after the one
    // before was due; the timer is armed for the whole milliseconds left.
    void on_read_timer(bool forward);
    void start_schedule();
    qint64 period_ns() const;
    // The fast rates go by the time on the pictures: a content clock that runs at the rate from
    // the picture on screen, started with each schedule and at each repositioning. The keyframe
    // due at the time it has reached is shown; pauses of the recording are passed at once.
    void anchor_content_clock();
    bool content_reached(bool forward, qint64* reachedMs);
    void shift_content_clock(qint64 deltaMs);
    qint64 recording_pause_ms() const;
    int ms_until(qint64 deadlineNs) const;
    void end_reading();
    void queue_tick(bool forward, bool step);
    void close_data_file();
    void jumped();
    void take_file(int pos, const QFileInfo& file, const QList<ZQFrame>& frames, const QStringList& streams);
    int locate(const QFileInfo& file) const;
    // Emits send_available_videostream with the ids worth offering; what a
    // seek index names beyond them is logged once per recording.
    void offer_streams(const QStringList& streams, qint64 unlisted_lines = 0);
    QString m_streamsTrimmedFor;

    // Shows entry i: reads it in emit mode, then the slider and the time.
    void show_entry(int i);
    void emit_position(int i);
    // Decodes from keyframe k up to entry e and shows e.
    void decode_up_to(int k, int e, bool useCache);
    // Feeds the codec the entries before e from keyframe k (or from the one it
    // decoded last, when that lies in between), keeping their pictures.
    void decode_before(int k, int e, bool useCache);
    // Opens the decoder for the codec when it is not the open one.
    bool ensure_decoder(const QString& codec);
    bool read_coded(int index, QByteArray* out);
    AVFrame* decode_entry(int index, const QByteArray& bytes);
    void emit_picture(int index, const QImage& image, bool keyframe);
    void clear_cache();
    void drop_cached(int index);
    bool cache_decoded(int index, AVFrame* picture);
    void predecode_previous_group(int keyframe, int budget);
    qint64 now_ns() const;

    void step_forward();
    void step_backward();
    void tick_forward();
    void tick_backward();
    void tick_forward_keyframes();
    void tick_backward_keyframes();
    // From entry `from` in the direction of reading (`previous`: the stamp of the entry before it
    // that way, -1 for none), the keyframe due at the content clock's time `reached`: the last one
    // not beyond it, the entries passed on the way skipped; a keyframe without a readable stamp is
    // due at once. A pause of the recording is passed at once (the clock shifted over it) unless
    // something was due before it. -1 when none is; `pending` is then the first entry beyond the
    // time reached, or -1 when the frame index ended first.
    int due_keyframe(bool forward, int from, qint64 previous, qint64 reached, int* pending);

    QList<QFileInfo> m_files;
    int m_currentPos = -1;
    QFileInfo m_currentFile;
    QList<ZQFrame> m_frames;
    QHash<int, QString> m_cameras;
    QByteArray m_codedBytes;
    QTimer* m_timer = nullptr;
    VideoDecoder* m_decoder = nullptr;
    Prefetch m_forward;
    QList<ZQFrame> m_prefetchedFrames;
    Prefetch m_backward;
    QList<QFuture<ZQSeekLoad>> m_abandoned;
    bool m_stopRequest = false;
    bool m_paused = false;
    bool m_keepCodedBytes = false;
    bool m_waitForKeyframe = true;
    bool m_decoderOpen = false;
    QString m_streamId;
    double m_speed = -1.0;
    double m_fps = -1.0;
    int m_index = 0;
    int m_lastReadIndex = 0;
    int m_rate = 1;
    double m_rateAsked = 1.0;   // the rate as change_rate was given it
    bool m_busy = false;
    CodedFrameFile m_data;
    qint64 m_lastBackwardTick = 0;
    double m_backwardCarry = 0.0;
    int m_backwardInterval = 40;
    qint64 m_deadlineNs = 0;    // when the read timer's next tick is due (reader's clock)
    bool m_contentAnchored = false;
    qint64 m_contentAnchorNs = 0; // reader's clock when the content clock stood at...
    qint64 m_contentAnchorMs = 0; // ...this time of the recording (ZQFrame::absolute_ms)
    int m_lastDecoded = -1;     // entry of the current frame index last fed to the decoder
    quint64 m_generation = 0;   // queued self-calls of an older generation are dropped
    QMap<int, CachedPicture> m_cache;
    qint64 m_cacheBytes = 0;
    std::function<qint64()> m_clock;

    // Audio hook.
    void end_audio_player();
    bool m_audioEnabled = false;
    ff_audio_decoder_sdl_player* m_audioPlayer = nullptr;
    QString m_audioFile; // the ".zqaudio" the player was last handed
};
