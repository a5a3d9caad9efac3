#pragma once

// Plays the sound of a recording beside its picture: the coded audio entries
// of a ".zqaudio" file (through its ".zqaudioseek") or the audio parts of the
// server's live stream are demuxed from a byte queue, decoded and resampled to
// signed 16-bit stereo (AudioDecodeResample) and queued on the default SDL2
// device. The player thread alone touches FFmpeg and the device; the slots
// only leave requests under a mutex and wake it.
//
// File form: the player waits for the first picture time
// (get_video_frame_timestamp), starts at the entry that covers it and keeps
// the sound heard within a few seconds of the picture. Live form: read_stream
// hands it each received part with its part header; multipart parts of
// "audio/aac" or "audio/mpeg" play, another multipart type stops the player
// with a message, a part that is not multipart is not played.

#include "recordings/zq_frame.h"

#include <QByteArray>
#include <QList>
#include <QMutex>
#include <QObject>
#include <QString>
#include <QThread>
#include <QTime>
#include <QWaitCondition>

#include <atomic>
#include <deque>
#include <memory>

class AudioDecodeResample;
class QFile;
class QTimer;
struct AVFormatContext;
struct AVIOContext;
struct AVPacket;

// Header of one part of the live multipart stream.
class Http_header_parser : public QObject
{
    Q_OBJECT
public:
    explicit Http_header_parser(QObject* parent = nullptr) : QObject(parent) {}
    // Reads the "Name: value" lines of one part's header (up to the blank
    // line or the end): Content-Type (lower case, parameters dropped) and
    // whether it is a part of a multipart body ("--boundary" first line or a
    // multipart Content-Type). A header over max_header_bytes, a line without
    // ":" or a control character in a line is refused (false, nothing kept).
    bool parse(const QByteArray& header);
    static constexpr int max_header_bytes = 16 * 1024;
    QString get_content_type() const { return m_content_type; }
    bool is_multipart() const { return m_multipart; }
    void set_content_type(const QString& type) { m_content_type = type; }
    void set_multipart(bool multipart) { m_multipart = multipart; }

private:
    QString m_content_type;
    bool m_multipart = false;
};

class ff_audio_decoder_sdl_player : public QThread
{
    Q_OBJECT
public:
    // File form: `zqaudioFile` is the ".zqaudio" to start with (may be empty:
    // wait for change_zqaudio_file). Live form: use for_stream().
    explicit ff_audio_decoder_sdl_player(const QString& zqaudioFile, QObject* parent = nullptr);
    static ff_audio_decoder_sdl_player* for_stream(const QString& streamLocation, QObject* parent = nullptr);
    // Stops and waits for the thread: deleting a running QThread aborts.
    ~ff_audio_decoder_sdl_player() override;

    void change_zqaudio_file(const QString& path);
    void set_new_timestamp(const QString& audioTimestamp, const QString& videoTimestamp);
    bool open_audio_input(bool mpegOutput);
    bool decode_and_play_data(bool mpegOutput);
    // Part header of the live part that read_stream receives next.
    Http_header_parser* part_header() { return &m_part_header; }

    // What to do with the next coded audio, given drift = picture time minus
    // the time of the sound heard (ms, positive: the sound is late).
    enum class SyncStep { Play, Hold, Jump, Wait };
    // gap: the next entry starts more than a second after the last one played.
    static SyncStep sync_decision(qint64 driftMs, bool gap, bool* hold);
    // Index of the entry that covers `ms` (absolute, see timestamp_ms), or of
    // the next one when `ms` falls in a gap or before the first; -1 past the end.
    static int entry_for_time(const QList<ZQFrame>& entries, qint64 ms);
    // "yyyyMMddHHmmsszzz" to milliseconds since the start of the Julian day 0, or -1.
    static qint64 timestamp_ms(const QString& text);
    // "%1 %2/s" with bytes, kB or MB.
    static QString bandwidth_text(qint64 bytesPerSecond);
    // Signed 16-bit samples mixed onto themselves at full volume (twice the
    // level, clipped), as they go to the device.
    static void mix_onto_itself(QByteArray& pcm);
    // Period of the bandwidth line (calculate_bandwidth).
    static constexpr qint64 bandwidth_period_ms = 5000;

    // Figures for tests and benchmarks.
    qint64 max_queued_ms() const { return m_max_queued_ms.load(); }
    // Time (as timestamp_ms) of the sound being heard now; -1 while silent.
    qint64 heard_ms() const { return m_heard_ms.load(); }
    bool is_playing() const { return m_playing.load(); }
    static constexpr qint64 queue_target_ms = 1000; // decode while the device holds less
    static constexpr int max_entry_bytes = 1 << 20;

signals:
    void send_message(QString colour, QString text);
    void send_buffer_level(int channel_count, int level_id, double level_value);
    void stopped();
    void stop_timer();
    void send_slidervalue(int index, QString timestamp);
    void send_settime(QTime time);
    void send_parsing_finished();

public slots:
    void read_stream(char* buffer_curl, int array_size);
    void begin_stream();
    void stop_stream();
    void get_video_frame_timestamp(QString timestamp);
    void set_stop_framereader_timer();
    void set_start_framereader_timer();

private slots:
    void calculate_bandwidth();
    void stop_and_delete_timer();
    void read_next_audio_frame();

protected:
    void run() override;

private:
    struct Fed {
        qint64 pos = 0;  // byte position of the entry in the demuxer's input
        qint64 time = 0; // absolute ms
        int index = 0;
    };

    ff_audio_decoder_sdl_player(const QString& location, bool live, QObject* parent);
    void file_loop();
    void live_loop();
    void wait_ms(int ms);
    void update_heard();
    bool take_requests();
    bool load_index(const QString& path);
    bool open_device(int rate);
    void close_device();
    void silence();
    void close_input();
    void report_error(const QString& logLine, const QString& text);
    bool feed_entry();
    int read_input(uint8_t* buf, int size);
    bool queue_samples(QByteArray pcm, qint64 startMs);
    qint64 queued_ms() const;

    static int read_callback(void* opaque, uint8_t* buf, int size);
    static int64_t seek_callback(void* opaque, int64_t offset, int whence);
    static int interrupt_callback(void* opaque);

    const bool m_live;
    QString m_stream_location;
    Http_header_parser m_part_header;

    // Requests from the owner's thread, guarded by m_mutex.
    QMutex m_mutex;
    QWaitCondition m_wake;
    QString m_requested_file;
    bool m_file_request = false;
    qint64 m_jump_target = -1;
    bool m_reposition = false;
    std::deque<QByteArray> m_live_parts; // live form: received parts not yet demuxed
    qint64 m_live_bytes = 0;
    bool m_live_refused = false;
    std::atomic<bool> m_live_not_multipart{false}; // logged once

    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_following{true};
    std::atomic<qint64> m_video_ms{-1};
    std::atomic<qint64> m_heard_ms{-1};
    std::atomic<qint64> m_max_queued_ms{0};
    std::atomic<bool> m_playing{false};
    std::atomic<qint64> m_last_activity_ms{0};
    std::atomic<bool> m_timed_out{false};
    std::atomic<qint64> m_byte_counter{0};
    std::atomic<bool> m_counting{false};
    std::atomic<qint64> m_queued_now_ms{0};
    QTimer* m_bandwidth_timer = nullptr; // owner's thread

    // Player thread only.
    QString m_audio_file;
    QList<ZQFrame> m_entries;
    std::unique_ptr<QFile> m_data;
    int m_feed_index = 0;
    qint64 m_fed_bytes = 0;
    std::deque<Fed> m_fed;
    QByteArray m_input;       // bytes fed, not yet handed to the demuxer
    qsizetype m_input_at = 0;
    AVFormatContext* m_format = nullptr;
    AVIOContext* m_io = nullptr;
    std::unique_ptr<AudioDecodeResample> m_decoder;
    AVPacket* m_packet = nullptr;
    bool m_packet_pending = false;
    quint32 m_device = 0;
    int m_device_rate = 0;
    bool m_device_lost = false;
    bool m_device_paused = true;
    bool m_file_done = false;   // entries exhausted or the file refused: wait for a new file or a jump
    bool m_hold = false;
    int m_current_entry = -1;
    qint64 m_clock_ms = -1;     // time of the next decoded sample
    qint64 m_drop_before_ms = -1;
    qint64 m_last_entry_ms = -1;
    qint64 m_queued_end_ms = -1;
    bool m_finished_sent = false;
};
