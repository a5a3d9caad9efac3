#pragma once

#include <QImage>
#include <QMutex>
#include <QPointer>
#include <QString>
#include <QThread>
#include <QWaitCondition>

#include <atomic>
#include <deque>
#include <vector>

extern "C" {
#include <libavutil/pixfmt.h>
}

class Canvas;
class ZQMediaFrame;
class ZQStreamParser;
struct AVFrame;
struct SwsContext;

// Deletes a thread object once its thread has finished (at once when it is
// not running): a QThread is never destroyed while it runs.
void delete_when_finished(QThread* t);

// Stands between one stream client and one display tile: keeps a buffer of
// decoded records sized from the stream's rate and a buffer duration, shows
// them in frame-id order at the stream's pace, converts each picture into a
// fresh QImage for the tile, and restarts the client when the tile or the
// stream stalls.
class new_display_thread : public QThread
{
    Q_OBJECT

public:
    explicit new_display_thread(Canvas* tile = nullptr);
    ~new_display_thread() override;

    void set_scale_algorithm(int flags);
    void set_skip_decoding(bool v) { skip_decoding = v; }
    bool is_stopping() const { return stop; }
    bool is_finished_loop() const { return finished_loop; }
    ZQStreamParser* get_stream_parser() const;
    // The stream client ran steadily at some time (the client's own rule).
    bool stream_ran_steadily() const;
    int get_max_list_size() const { return max_list_size; }
    int get_error_count() const { return error_count; }

    void init_stream_parser(QString scheme, QString host, QString port, QString extra, QString path,
                            bool objects_only, QString codec, bool loop, QString proxy_host, QString proxy_port,
                            bool use_proxy, QString token);
    void set_trusted_certificates(const QList<QByteArray>& pem);

    // Buffer size for a rate and a duration: twice the frames the duration
    // holds, 3 .. 200.
    static int compute_buffer_size(int fps, int duration_ms);
    // Back-pressure bound of the client's queue for a buffer size.
    static int queue_bound(int size);
    // Next record to show after last_shown, from a read index, over the ids in
    // queue order. Returns the index reached; *last_shown may move forward
    // over duplicates. -1 when ids is empty.
    static int search_next(const std::vector<int>& ids, int index, int* last_shown);
    // Pacing: the wait in microseconds for a rate, the previous frame's
    // duration and the compensation; below 1 means late, with *skip frames to drop.
    static qint64 pace_wait_us(double rate, qint64 previous_duration_us, bool compensate, int* skip);
    // Adaptive growth with one more rate sample; returns the new size.
    int set_max_list_size(double rate);

    // Objects alive, for leak checks of their owners.
    static int live_count() { return s_live; }

    // Written by the tile.
    QString name;
    std::atomic<int> buffer_duration_ms{0};

signals:
    void send_buffering(bool, double);
    void force_update();
    void set_display_frame(QImage frame, int linesize, int width, int height, QString timestamp, QString drawoverlay,
                           bool isUnwrapped, int frame_id, double fps, bool is_keyframe);
    void error();
    void streamparser_stop();
    void streamparser_error();
    void set_codec_size(int, int);
    void send_displayError(QString, QString, bool);
    void send_streamparser_speed(double);
    void send_streamparser_scaler_dewrap(int, int);
    void send_streamparser_stop_buffering();
    void send_status_message(QString);
    void can_delete();

public slots:
    void security_unlock_display();
    void get_duration(qlonglong);
    void get_replay_frame_displayed();
    void set_stop();
    void set_pause();
    void start_stream_parser();
    void delete_stream_parser();
    void get_streamparser_error();
    void get_streamparser_codecSize(int, int);
    void get_streamparser_frame_decoded_old(QImage frame, int linesize, QString timestamp, QString drawoverlay,
                                            bool isUnwrapped, int frame_id, int width, int height, double fps,
                                            QString frametag, bool is_keyframe);
    void get_streamparser_displayError(QString error_overlay, QString error_message, bool is_opacity);
    void get_streamparser_speed(double);
    void get_streamparser_scaler_dewrap(int, int);
    void get_streamparser_stop_buffering();
    void get_display_hidden(bool);
    void get_display_show();

protected:
    void run() override;

private:
    void buffering_calculation();
    int display_next_frame();
    bool send_frame(ZQMediaFrame* record);
    QImage convert(const AVFrame* frame);
    void pace_frame(double rate, bool compensate);
    void stop_and_restart_parser();
    // A restart asked while the client still runs: done once it has ended.
    void queue_restart();
    void run_queued_restart();
    void uninit_frames();
    void set_size_from_rate(int fps, bool filling);
    bool wait_ms(int ms);
    void wake();
    void release_replay();
    void maybe_emit_can_delete();
    // The time text is no later than the last shown one (and at most ten
    // minutes before it).
    bool already_shown(const QString& time);
    void log_info(const QString& step) const;
    void log_warn(const QString& step) const;

    QMutex mutex;
    std::deque<ZQMediaFrame*> frame_queue;
    QPointer<Canvas> tile;
    QPointer<ZQStreamParser> client;

    std::atomic<int> max_list_size{-1};
    std::atomic<int> stream_frame_rate{-1};
    int last_shown_id = 0;
    int read_index = 0;
    int skip_counter = 0;
    std::atomic<int> error_count{0};
    int rate_samples = 0;
    double rate_sum = 0.0;
    double rate_mean = 0.0;
    double last_buffering_percent = -1.0;
    int frame_wait_limit_ms = 5000;
    double pace_rate = 25.0;
    double initial_rate = -1.0;
    double current_rate = -1.0;
    std::atomic<qint64> previous_frame_duration{1000};
    qint64 last_adaptation_ms = 0;
    int scaler_flags = 1024;
    int same_time_count = 0;
    int dropped_direct = 0;
    int last_pictureless_id = -1;
    bool can_delete_sent = false;

    bool started = false;
    std::atomic<bool> buffering{false};
    bool frame_found = false;
    bool late = false;
    bool pace_on = true;
    bool first_frame = true;
    std::atomic<bool> stop{false};
    std::atomic<bool> paused{false};
    std::atomic<bool> previous_frame_displayed{true};
    std::atomic<bool> skip_decoding{true};
    std::atomic<bool> replay_wait{false};
    std::atomic<bool> hidden{false};
    std::atomic<bool> server_pause{false};
    std::atomic<bool> finished_loop{false};
    std::atomic<bool> restart_queued{false};
    bool client_deleted = false;
    QMutex time_mutex; // the two times, read by a restart on the GUI thread
    QString last_shown_time;
    QString last_keyframe_time;
    std::atomic<bool> reset_pending{false};
    // The client's next part is numbered 1 again: the last shown id restarts.
    std::atomic<bool> numbering_restarts{true};
    // After a restart, frames no later than the last one shown are passed
    // over.
    std::atomic<bool> resume_guard{false};
    bool started_once = false;
    QList<QByteArray> trusted_pem;

    SwsContext* scaler = nullptr;

    QMutex wait_mutex;
    QWaitCondition wait_condition;
    static inline std::atomic<int> s_live{0};
};
