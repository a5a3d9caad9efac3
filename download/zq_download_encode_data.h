#pragma once

#include <QByteArray>
#include <QList>
#include <QMutex>
#include <QPointer>
#include <QString>
#include <QThread>
#include <QWaitCondition>

#include <atomic>
#include <deque>

class ZQMediaFrame;
class ZQStreamParser;

// What one stream download-and-encode job needs, given at once.
struct DownloadEncodeJob
{
    QString scheme = QStringLiteral("https"); // "http" or "https"
    QString host;
    QString port;
    QString path;            // path and query of the stream request (build the query with QUrlQuery)
    QString token;           // "x-auth-token"; empty: none
    QString end_time;        // "yyyyMMddHHmmsszzz" of the last wanted frame
    QString video_path;      // the video file to produce
    QString video_format;    // encoder name ("h264", "h265", ...), or a text holding "raw" for a copy
    QString overlay;         // text given to the encoder with each picture
    QString descriptor_data; // the descriptor's content, Base64
    QString descriptor_path; // where the descriptor is written
    QString archive_path;    // the zip archive to produce; empty: none
    bool band = false;       // burn the date band into the pictures
    QList<QByteArray> trusted_ca; // PEM certificates trusted besides the system's (tests)
    int frame_wait_ms = -1;  // pause between two looks at an empty queue (raw 200 ms, re-encode 500 ms)
};

// Fetches a time range of a camera from the server's video stream and turns it into a video file,
// optionally zipped with a descriptor. Raw mode writes the coded frames to a job file and remuxes
// it, read as raw video of the codec the stream's parts name and nothing else (the frames are the
// server's bytes: read by their content, one holding a playlist could bring in a local file); a
// part of a codec without a raw reader, or of another codec than the parts before it, ends the job
// with -15 and is not written. Otherwise decoded pictures are re-encoded. Ends with exactly one
// terminal signal:
// job_finished() or error(code) with a code of the export error table (or the remuxer's failure
// value 1).
class ZQDownload_encode_data : public QThread
{
    Q_OBJECT
public:
    explicit ZQDownload_encode_data(DownloadEncodeJob job = {});
    ~ZQDownload_encode_data() override;

    void set_job(const DownloadEncodeJob& job) { m_job = job; }
    const DownloadEncodeJob& job() const { return m_job; }
    QString last_frame_time() const;
    int frames_handled() const { return m_frames; }
    // The work folder of the per-user folder ("ZQDOWNLOAD").
    static QString work_folder();

    // 1 on success, else -30/-31 (descriptor) or -22..-33 (archive): the job's steps, for tests.
    static int write_descriptor(const QString& path, const QString& base64);
    static int archive_files(const QString& archive, const QString& descriptor, const QString& video);

signals:
    void start_download();
    void frame_downloaded_encoded(QString current_timestamp, QString end_timestamp);
    void generic_message(QString message);
    void job_finished();
    void error(int code);

public slots:
    void set_stop();
    void set_stop_from_user();
    void get_error();

protected:
    void run() override;

private:
    // How a job ended: done, or failed with the code its error signal carries. A code alone cannot
    // say it: the remuxer's failure value is 1, the value the job's own steps give on success.
    struct Ending
    {
        bool done = false;
        int code = 0;
    };
    static Ending done() { return {true, 0}; }
    static Ending failed(int code) { return {false, code}; }
    // Calls of the remuxer before a raw job fails.
    static constexpr int kRemuxCalls = 50;

    Ending run_raw();
    Ending run_encode();
    Ending finish_steps();
    ZQStreamParser* start_client(bool raw);
    void stop_client();
    void drain_queue();
    ZQMediaFrame* take_front();
    ZQMediaFrame* front();
    bool past_end(const ZQMediaFrame* frame) const;
    bool at_end(const ZQMediaFrame* frame) const; // at or past the end time
    bool wait_ms(int ms);
    void remember(const ZQMediaFrame* frame);

    DownloadEncodeJob m_job;
    ZQStreamParser* m_client = nullptr; // created and deleted by run(), on the job's thread
    QMutex m_queue_mutex;
    std::deque<ZQMediaFrame*> m_queue;
    QMutex m_wait_mutex;
    QWaitCondition m_wake;
    std::atomic<bool> m_stopped{false};
    std::atomic<bool> m_stopped_by_user{false};
    std::atomic<bool> m_client_error{false};
    mutable QMutex m_state_mutex;
    QString m_last_frame_time;
    std::atomic<int> m_frames{0};
    qint64 m_end_value = -1;
};
