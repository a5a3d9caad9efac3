#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QImage>
#include <QList>
#include <QMutex>
#include <QPointer>
#include <QString>
#include <QThread>
#include <QWaitCondition>

#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>

#include "view/stream_multipart_parser.h"

extern "C" {
#include <libavutil/pixfmt.h>
}

class VideoDecoder;
class ZQMediaFrame;
struct AVFrame;

// Fetches one server video stream over HTTP(S) on a thread of its own, cuts
// it into parts, decodes them and hands them on: in direct mode as pictures
// to the owner (frame_decoded_old), in buffering and queue modes as
// ZQMediaFrame records appended to the consumer's queue under its mutex.
class ZQStreamParser : public QThread
{
    Q_OBJECT

public:
    ZQStreamParser(QString scheme, QString host, QString port, QString extra, QString path, bool objects_only,
                   QString codec, bool loop, QObject* owner);
    explicit ZQStreamParser(QObject* owner = nullptr);
    ~ZQStreamParser() override;

    void set_frame_queue(std::deque<ZQMediaFrame*>* queue)
    {
        QMutexLocker lock(&m_link_mutex);
        m_queue = queue;
    }
    void set_token(QString token) { m_token = token; }
    void set_path(QString path);
    QString get_path() const;
    void set_scale_algorithm(int flags) { m_scaler_flags = flags; }
    void set_max_queue_size(int n) { m_max_queue = n; }
    void set_skip_decoding(bool v) { m_skip_decoding = v; }
    void set_buffering(bool v) { m_buffering = v; }
    void set_queue_mode(bool v) { m_queue_mode = v; }
    void set_raw_packets(bool v) { m_raw_packets = v; }
    void set_restart_pending(bool v);
    // Wait before the restart asked after an error page (3000 ms).
    void set_text_restart_delay_ms(int ms) { m_text_restart_delay_ms = ms; }
    void set_proxy(QString host, QString port, bool use);
    // Certificates (PEM) trusted besides the system's store.
    void set_trusted_certificates(const QList<QByteArray>& pem) { m_trusted_pem = pem; }

    bool is_stop_requested() const { return m_stop; }
    bool is_text_part() const { return m_text_response; }
    bool is_last_part_message() const { return m_last_part_message; }
    bool is_buffering() const { return m_buffering; }
    // Direct mode: pictures replaced by a newer one before the owner took
    // them (the owner's thread was busy).
    qint64 direct_drops() const { return m_direct_drops; }
    // Requests made over the parser's life.
    int transfer_count() const { return m_transfers; }
    // Transfers in a row that ended without a single part (0 once one came).
    int failed_attempts() const { return m_failures; }
    // Transfers in a row that brought parts but ended before the stream had
    // run steadily (parts still coming kSteadyMs after the request); 0 once
    // one did.
    int short_transfers() const { return m_short; }
    // A transfer of this parser ran steadily: parts still came kSteadyMs
    // after its request.
    bool ran_steadily() const { return m_ran_steadily; }
    // Wait before the next request after a transfer that failed or ended
    // early.
    int retry_delay_ms() const;
    // A transfer that brings no part for this long, while bytes still come,
    // is ended as a failure (30 s).
    void set_part_timeout_ms(int ms) { m_part_timeout_ms = ms; }

    static constexpr qint64 kSteadyMs = 3000;
    // Bytes without a part after which a transfer is ended as a failure: a
    // part is at most a frame's size plus its headers.
    static constexpr qint64 kMaxBytesWithoutPart = 2 * StreamMultipartParser::max_body_size;
    QString get_codec() const { return m_codec; }
    // The codec a codec text names ("frame/h264", "H.265", "jpeg", ...), by the one name each
    // decoder goes by: "h264", "h265", "mjpeg" or "mpeg4"; empty for one no decoder here reads.
    static QString codec_family(QString codec);
    // The request of the last transfer: "GET <path> HTTP/1.0" and its headers.
    QString get_url() const;

    // libcurl's transfer diagnostics, written to the log: on in development
    // and patch builds. force_transfer_diagnostics(1 or 0) overrides the
    // version's choice, -1 returns to it.
    static bool transfer_diagnostics();
    static void force_transfer_diagnostics(int on);

    void release_replay_wait();
    // Lets the parser go: no owner, no consumer's queue any more, stopped
    // with delete after reply.
    void Destroy();
    void force_libcurl_stop();

    // Parsers alive, for leak checks of their owners.
    static int live_count() { return s_live; }

    // Written by the consumer before the start.
    QMutex* frame_queue_mutex = nullptr;
    std::string name;

signals:
    void error(QString, QString);
    void error();
    void stop_display_thread();
    void signal_network_fps(int, bool);
    void set_codec_size(int, int);
    void signal_setup_scaler_dewrap(int, int);
    void frame_decoded(int frameid, AVFrame* pFrame, uint8_t** frame_data, int framelenght, char* timestamp,
                       QString drawoverlay, bool is_keyframe, double fps, int width, int height,
                       AVPixelFormat pix_fmt, int frames_contained, int bitdepth, bool isYUV);
    void frame_decoded_old(QImage frame, int linesize, QString timestamp, QString drawoverlay, bool isUnwrapped,
                           int frame_id, int width, int height, double fps, QString frametag, bool is_keyframe);
    void speed_send(double);
    void send_status_message(QString);
    void set_restart();
    void can_delete();
    // Hand-overs to the owner.
    void send_displayError(QString overlay, QString message, bool is_opacity);
    void send_stop_buffering();

public slots:
    void threadStop(bool delete_after_reply);
    void threadPause();
    void self_delete();

private slots:
    void restart_network_fps(qint64 frame_bytesReceived, bool is_keyframe);
    void calc_network_fps();

protected:
    void run() override;

private:
    enum class End { Continue, Done };

    static size_t WriteMemoryCallback(char* data, size_t size, size_t count, void* parser);
    static size_t header_callback(char* data, size_t size, size_t count, void* parser);
    static int debug_callback(void* curl, int type, char* data, size_t size, void* parser);
    static int progress_callback(void* parser, long long, long long, long long, long long);
    static int ssl_ctx_callback(void* curl, void* ssl_ctx, void* parser);

    int get_stream();
    void read_stream(const char* data, qsizetype size);
    void check_part_progress();
    bool handle_part(StreamPart& part);
    End stream_parsing_finished();
    bool open_decoder_for(const QString& codec);
    void push_record(ZQMediaFrame* record);
    struct DirectPicture
    {
        QImage image;
        QString time, draw_overlay, frametag;
        int frame_id = 0;
        double fps = 0.0;
        bool keyframe = false;
    };
    void post_direct(DirectPicture picture);
    void deliver_direct();
    bool wait_for(int ms);
    void wake();
    void reset_part_state();
    void emit_can_delete();
    void emit_error_once();

    void log_info(const QString& step) const;
    // A line of the ordinary course of a request, left out while retrying a
    // server that stays out of reach.
    void log_attempt(const QString& step) const;
    void log_warn(const QString& step) const;
    void log_error(const QString& step) const;

    // The consumer's queue and its mutex are reached under this one, so that
    // Destroy can cut the link while a record is on its way.
    QMutex m_link_mutex;
    std::deque<ZQMediaFrame*>* m_queue = nullptr;
    QPointer<QObject> m_owner;
    QString m_scheme, m_host, m_port, m_extra, m_path, m_codec;
    QString m_proxy_host, m_proxy_port, m_token;
    bool m_use_proxy = false;
    QList<QByteArray> m_trusted_pem;
    mutable QMutex m_config_mutex;

    std::atomic<bool> m_objects_only{false};
    std::atomic<bool> m_loop{false};
    std::atomic<bool> m_buffering{false};
    std::atomic<bool> m_skip_decoding{false};
    std::atomic<bool> m_queue_mode{false};
    std::atomic<bool> m_raw_packets{false};
    std::atomic<int> m_max_queue{-1};
    std::atomic<int> m_scaler_flags{-1};

    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_delete_after_reply{false};
    std::atomic<bool> m_self_delete{false};
    std::atomic<bool> m_pause{false};
    std::atomic<bool> m_restart_pending{false};
    std::atomic<bool> m_replay_wait{false};
    std::atomic<bool> m_can_delete_emitted{false};
    std::atomic<bool> m_error_emitted{false};
    bool m_connected_announced = false;
    std::atomic<bool> m_text_response{false};
    std::atomic<bool> m_last_part_message{false};
    bool m_terminal = false;
    std::atomic<int> m_text_restart_delay_ms{3000};

    // libcurl, touched by the client thread only; the multi handle pointer is
    // guarded so that other threads may wake its poll.
    void* m_easy = nullptr;
    void* m_multi = nullptr;
    QMutex m_handle_mutex;
    std::string m_response_headers;
    int m_running = 0;
    QString m_last_request;

    StreamMultipartParser m_parser;
    // Bytes since the last part: 64 bits, since a stream without a boundary
    // may run past 2 GiB.
    qint64 m_part_bytes = 0;
    int m_first_frame_done = 0;
    int m_frame_id = 1;
    int m_error_count = 0;
    int m_error_limit = 100;
    int m_last_width = -1;
    int m_last_height = -1;

    std::atomic<int> m_transfers{0};
    std::atomic<int> m_failures{0};
    std::atomic<int> m_short{0};
    std::atomic<bool> m_ran_steadily{false};
    std::atomic<int> m_part_timeout_ms{30000};
    QElapsedTimer m_transfer_clock;   // since the request
    QElapsedTimer m_since_part;       // since the request or the last part
    qint64 m_bytes_since_part = 0;
    bool m_steady_in_transfer = false;
    bool m_no_part_abort = false;
    QString m_failure_text;
    bool m_part_in_transfer = false;
    std::atomic<bool> m_quiet{false};

    std::unique_ptr<VideoDecoder> m_decoder;
    bool m_decoder_open = false;
    QString m_decoder_family;

    qint64 m_window_bytes = 0;
    qint64 m_prev_window_bytes = 0;
    qint64 m_prev_window_ms = 0;
    QElapsedTimer m_window_timer;
    QElapsedTimer m_speed_emit_timer;

    // Direct mode holds at most one picture for the owner: a newer one
    // replaces it, so a busy owner's thread never piles pictures up.
    QMutex m_direct_mutex;
    DirectPicture m_direct_pending;
    bool m_direct_has_pending = false;
    bool m_direct_posted = false;
    std::atomic<qint64> m_direct_drops{0};

    QMutex m_wait_mutex;
    QWaitCondition m_wait;
    static inline std::atomic<int> s_forced_diagnostics{-1};
    static inline std::atomic<int> s_live{0};
};
