#include "download/zq_download_encode_data.h"
#include "tests/support/loopback_server.h"
#include "tests/download/loopback_stream_job.h"
#include "tests/support/stream_routes.h"
#include "export/zq_stream_remux.h"

#include "../recordings/log_capture.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <QUrl>

#include <curl/curl.h>
#include <sys/inotify.h>
#include <unistd.h>
#include <zip.h>

extern "C" {
#include <libavformat/avformat.h>
}

namespace {

// Puts a file of raw H.264 frames into an MPEG-TS clip (the input goes once the clip stands).
bool write_ts(const QString& raw, const QString& ts)
{
    ZQStreamRemux remux;
    return remux.remux_url(raw, QFileInfo(ts).absoluteDir().filePath(QStringLiteral("work.ts")), ts, 10.0) == 0;
}

} // namespace

// The stream download-and-encode worker against the loopback stream route: what each job ends with
// (one terminal signal), and the files it leaves, read back with libavformat and libzip.
class TestDownloadEncode : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void raw_to_mp4();
    void range_end_data();
    void range_end();
    void frame_at_end_time_kept();
    void earlier_file_kept_data();
    void earlier_file_kept();
    void remux_failure_keeps_earlier_file();
    void reencode_h264_with_zip();
    void too_few_frames();
    void existing_archive_refused_before_any_request();
    void stop_then_again();
    void pauses_and_messages_skipped();
    void descriptor_replaced_not_appended();
    void playlist_frame_data();
    void playlist_frame();
    void raw_codecs_data();
    void raw_codecs();

private:
    struct End
    {
        int finished = 0;
        QList<int> errors;
        int terminals() const { return finished + int(errors.size()); }
    };
    End run(ZQDownload_encode_data& job, int ms = 60000);
    DownloadEncodeJob job_for(const LoopbackServer& server, const QString& video, const QString& format) const;
    static int count_packets(const QString& path, QString* codec, QSize* size = nullptr);

    QTemporaryDir m_dir;
    QSharedPointer<StreamParts::Recording> m_rec;
    QString m_private_ts; // a local clip of other pictures (320 x 240) that no job may take in
};

void TestDownloadEncode::initTestCase()
{
    QVERIFY(m_dir.isValid());
    m_rec = QSharedPointer<StreamParts::Recording>::create();
    QString error;
    QVERIFY2(StreamParts::make_recording(m_dir.filePath(QStringLiteral("rec")), 3, QSize(160, 120),
                                         ZQFixture::Codec::H264, m_rec.get(), &error),
             qPrintable(error));
    QCOMPARE(m_rec->frames.size(), 75);

    StreamParts::Recording clip;
    QVERIFY2(StreamParts::make_recording(m_dir.filePath(QStringLiteral("private")), 3, QSize(320, 240),
                                         ZQFixture::Codec::H264, &clip, &error, 10),
             qPrintable(error));
    const QString raw = m_dir.filePath(QStringLiteral("private.h264"));
    QFile raw_file(raw);
    QVERIFY(raw_file.open(QIODevice::WriteOnly));
    for (const StreamParts::Frame& frame : std::as_const(clip.frames))
        QCOMPARE(raw_file.write(frame.bytes), frame.bytes.size());
    raw_file.close();
    m_private_ts = m_dir.filePath(QStringLiteral("private.ts"));
    QVERIFY(write_ts(raw, m_private_ts));
    QSize size;
    QString codec;
    QCOMPARE(count_packets(m_private_ts, &codec, &size), 30);
    QCOMPARE(size, QSize(320, 240));
}

TestDownloadEncode::End TestDownloadEncode::run(ZQDownload_encode_data& job, int ms)
{
    End end;
    connect(&job, &ZQDownload_encode_data::job_finished, this, [&] { ++end.finished; });
    connect(&job, &ZQDownload_encode_data::error, this, [&](int code) { end.errors << code; });
    QSignalSpy done(&job, &QThread::finished);
    job.start();
    if (!done.wait(ms))
        qWarning("job did not end in time");
    QCoreApplication::processEvents();
    disconnect(&job, nullptr, this, nullptr);
    return end;
}

DownloadEncodeJob TestDownloadEncode::job_for(const LoopbackServer& server, const QString& video,
                                              const QString& format) const
{
    return loopback_stream_job(server, *m_rec, video, format, 20);
}

int TestDownloadEncode::count_packets(const QString& path, QString* codec, QSize* size)
{
    AVFormatContext* ctx = nullptr;
    if (avformat_open_input(&ctx, QFile::encodeName(path).constData(), nullptr, nullptr) < 0)
        return -1;
    int n = -1;
    if (avformat_find_stream_info(ctx, nullptr) >= 0 && ctx->nb_streams == 1) {
        *codec = QString::fromLatin1(avcodec_get_name(ctx->streams[0]->codecpar->codec_id));
        if (size)
            *size = QSize(ctx->streams[0]->codecpar->width, ctx->streams[0]->codecpar->height);
        AVPacket* pkt = av_packet_alloc();
        n = 0;
        while (av_read_frame(ctx, pkt) >= 0) {
            ++n;
            av_packet_unref(pkt);
        }
        av_packet_free(&pkt);
    }
    avformat_close_input(&ctx);
    return n;
}

void TestDownloadEncode::raw_to_mp4()
{
    LoopbackServer server;
    StreamScript script;
    script.recording = m_rec;
    add_stream_route(server, "/video.cgi", script);
    QTemporaryDir out;
    ZQDownload_encode_data job(job_for(server, out.filePath(QStringLiteral("cam 1.mp4")), QStringLiteral("raw")));
    const End end = run(job);
    QCOMPARE(end.terminals(), 1);
    QCOMPARE(end.finished, 1);
    QString codec;
    QCOMPARE(count_packets(out.filePath(QStringLiteral("cam_1.mp4")), &codec), 75);
    QCOMPARE(codec, QStringLiteral("h264"));
    // The job's own work files are gone.
    QCOMPARE(QDir(ZQDownload_encode_data::work_folder()).entryList(QDir::Files).size(), 0);
}

void TestDownloadEncode::range_end_data()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<int>("count");      // frames the stream sends before it ends; -1: all 75
    QTest::addColumn<int>("drop_after"); // frames sent before the connection is cut; -1: never
    QTest::addColumn<int>("end_frame");  // the range ends at this frame's time
    QTest::addColumn<int>("code");       // 0: finished
    QTest::addColumn<int>("packets");
    for (const char* format : {"raw", "h264"}) {
        const QByteArray f(format);
        QTest::newRow(f + ", end reached") << QString::fromLatin1(format) << -1 << -1 << 74 << 0 << 75;
        QTest::newRow(f + ", end inside the stream") << QString::fromLatin1(format) << -1 << -1 << 60 << 0 << 61;
        QTest::newRow(f + ", cut before the end") << QString::fromLatin1(format) << -1 << 60 << 74 << -11 << 0;
        QTest::newRow(f + ", ended before the end") << QString::fromLatin1(format) << 60 << -1 << 74 << -11 << 0;
    }
}

// A stream that stops before the range's end time brought only part of the range: the job fails
// with the client's error and leaves no file that could pass for the range.
void TestDownloadEncode::range_end()
{
    QFETCH(QString, format);
    QFETCH(int, count);
    QFETCH(int, drop_after);
    QFETCH(int, end_frame);
    QFETCH(int, code);
    QFETCH(int, packets);
    LoopbackServer server;
    StreamScript script;
    script.recording = m_rec;
    script.count = count;
    script.drop_after = drop_after;
    add_stream_route(server, "/video.cgi", script);
    QTemporaryDir out;
    DownloadEncodeJob j = job_for(server, out.filePath(QStringLiteral("v.mp4")), format);
    j.end_time = m_rec->frames.at(end_frame).timestamp;
    ZQDownload_encode_data job(j);
    const End end = run(job);
    QCOMPARE(end.terminals(), 1);
    if (code == 0) {
        QCOMPARE(end.finished, 1);
        QString codec;
        QCOMPARE(count_packets(j.video_path, &codec), packets);
    } else {
        QCOMPARE(end.errors, QList<int>{code});
        QCOMPARE(QDir(out.path()).entryList(QDir::Files | QDir::Hidden), QStringList());
    }
    QCOMPARE(QDir(ZQDownload_encode_data::work_folder()).entryList(QDir::Files | QDir::Hidden), QStringList());
}

void TestDownloadEncode::earlier_file_kept_data()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<int>("count");      // frames sent; -1: all 75
    QTest::addColumn<int>("drop_after"); // -1: never cut
    QTest::addColumn<int>("end_frame");
    QTest::addColumn<bool>("user_stop"); // stopped by the user at the first frame
    QTest::addColumn<int>("code");       // 0: finished, the earlier file replaced
    QTest::newRow("h264, too few frames") << QStringLiteral("h264") << 10 << -1 << 9 << false << -14;
    QTest::newRow("h264, user stop") << QStringLiteral("h264") << -1 << -1 << 74 << true << -34;
    QTest::newRow("raw, user stop") << QStringLiteral("raw") << -1 << -1 << 74 << true << -34;
    QTest::newRow("h264, cut") << QStringLiteral("h264") << -1 << 10 << 74 << false << -11;
    QTest::newRow("raw, cut") << QStringLiteral("raw") << -1 << 10 << 74 << false << -11;
    QTest::newRow("h264, finished") << QStringLiteral("h264") << -1 << -1 << 74 << false << 0;
    QTest::newRow("raw, finished") << QStringLiteral("raw") << -1 << -1 << 74 << false << 0;
}

// A file already at the video path is replaced by a finished job only: a job that fails or is
// stopped removes nothing but its own work files.
void TestDownloadEncode::earlier_file_kept()
{
    QFETCH(QString, format);
    QFETCH(int, count);
    QFETCH(int, drop_after);
    QFETCH(int, end_frame);
    QFETCH(bool, user_stop);
    QFETCH(int, code);
    LoopbackServer server;
    StreamScript script;
    script.recording = m_rec;
    script.count = count;
    script.drop_after = drop_after;
    script.realtime = user_stop;
    add_stream_route(server, "/video.cgi", script);
    QTemporaryDir out;
    const QString keep = out.filePath(QStringLiteral("keep.mp4"));
    const QByteArray earlier("an earlier export, kept until a finished job replaces it");
    QFile f(keep);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(earlier);
    f.close();
    DownloadEncodeJob j = job_for(server, keep, format);
    j.end_time = m_rec->frames.at(end_frame).timestamp;
    ZQDownload_encode_data job(j);
    if (user_stop)
        connect(&job, &ZQDownload_encode_data::frame_downloaded_encoded, &job, &ZQDownload_encode_data::set_stop_from_user,
                Qt::SingleShotConnection);
    const End end = run(job);
    QCOMPARE(end.terminals(), 1);
    QCOMPARE(QDir(out.path()).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("keep.mp4")});
    if (code == 0) {
        QCOMPARE(end.finished, 1);
        QString codec;
        QCOMPARE(count_packets(keep, &codec), 75);
    } else {
        QCOMPARE(end.errors, QList<int>{code});
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), earlier);
    }
}

// A remux that fails removes nothing the job did not write: an earlier file at the video path
// stays. The remuxer is called 50 times before the job fails with its result: a set-up code
// (-15..-21) for frames that are not video, 1 for a final rename refused by what stands at the
// video path (here a folder). Neither is ever a success.
void TestDownloadEncode::remux_failure_keeps_earlier_file()
{
    for (const bool junk_frames : {true, false}) {
        LoopbackServer server;
        StreamScript script;
        script.recording = m_rec;
        if (junk_frames)
            script.edit = [](int, StreamParts::Part& part) { part.body = QByteArray(part.body.size(), '\x5a'); };
        add_stream_route(server, "/video.cgi", script);
        QTemporaryDir out;
        const QString clip = out.filePath(QStringLiteral("clip.mp4"));
        const QString earlier = junk_frames ? clip : QDir(clip).filePath(QStringLiteral("inside.txt"));
        if (!junk_frames)
            QVERIFY(QDir().mkpath(clip));
        QFile f(earlier);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("earlier");
        f.close();
        ZQDownload_encode_data job(job_for(server, clip, QStringLiteral("raw")));
        LogCapture capture;
        const End end = run(job);
        QCOMPARE(end.terminals(), 1);
        QCOMPARE(end.finished, 0);
        QCOMPARE(end.errors.size(), 1);
        if (junk_frames)
            QVERIFY2(end.errors.first() <= -15 && end.errors.first() >= -21, qPrintable(QString::number(end.errors.first())));
        else
            QCOMPARE(end.errors.first(), 1);
        QCOMPARE(capture.count(QStringLiteral("[WARN] Raw data downloader :: zqstream remuxer :: retry to remux file")), 49);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), QByteArray("earlier"));
        f.close();
        QCOMPARE(QDir(out.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                 QStringList{QStringLiteral("clip.mp4")});
        QCOMPARE(QDir(ZQDownload_encode_data::work_folder()).entryList(QDir::Files | QDir::Hidden), QStringList());
    }
}

void TestDownloadEncode::frame_at_end_time_kept()
{
    LoopbackServer server;
    StreamScript script;
    script.recording = m_rec;
    add_stream_route(server, "/video.cgi", script);
    QTemporaryDir out;
    DownloadEncodeJob j = job_for(server, out.filePath(QStringLiteral("c.mp4")), QStringLiteral("raw"));
    j.end_time = m_rec->frames.at(40).timestamp; // frames 0 to 40 are in the range
    ZQDownload_encode_data job(j);
    const End end = run(job);
    QCOMPARE(end.finished, 1);
    QString codec;
    QCOMPARE(count_packets(out.filePath(QStringLiteral("c.mp4")), &codec), 41);
}

void TestDownloadEncode::reencode_h264_with_zip()
{
    LoopbackServer server;
    StreamScript script;
    script.recording = m_rec;
    add_stream_route(server, "/video.cgi", script);
    QTemporaryDir out;
    DownloadEncodeJob j = job_for(server, out.filePath(QStringLiteral("v.mp4")), QStringLiteral("h264"));
    j.descriptor_path = out.filePath(QStringLiteral("v.json"));
    j.descriptor_data = QString::fromLatin1(QByteArray("{\"camera\":1}").toBase64());
    j.archive_path = out.filePath(QStringLiteral("v.zip"));
    ZQDownload_encode_data job(j);
    QSignalSpy messages(&job, &ZQDownload_encode_data::generic_message);
    const End end = run(job);
    QCOMPARE(end.terminals(), 1);
    QCOMPARE(end.finished, 1);
    QCOMPARE(messages.size(), 2);
    // Only the archive stays, holding exactly the two files.
    QVERIFY(!QFile::exists(j.video_path));
    QVERIFY(!QFile::exists(j.descriptor_path));
    int err = 0;
    zip_t* zip = zip_open(QFile::encodeName(j.archive_path).constData(), ZIP_RDONLY, &err);
    QVERIFY(zip);
    QCOMPARE(zip_get_num_entries(zip, 0), zip_int64_t(2));
    QCOMPARE(QString::fromUtf8(zip_get_name(zip, 0, 0)), QStringLiteral("v.json"));
    QCOMPARE(QString::fromUtf8(zip_get_name(zip, 1, 0)), QStringLiteral("v.mp4"));
    zip_close(zip);
}

void TestDownloadEncode::too_few_frames()
{
    LoopbackServer server;
    StreamScript script;
    script.recording = m_rec;
    script.count = 49;
    add_stream_route(server, "/video.cgi", script);
    QTemporaryDir out;
    DownloadEncodeJob j = job_for(server, out.filePath(QStringLiteral("v.mp4")), QStringLiteral("h264"));
    j.end_time = m_rec->frames.at(48).timestamp; // the range holds 49 frames, all sent
    ZQDownload_encode_data job(j);
    const End end = run(job);
    QCOMPARE(end.terminals(), 1);
    QCOMPARE(end.errors, QList<int>{-14});
    QCOMPARE(QDir(out.path()).entryList(QDir::Files | QDir::Hidden).size(), 0);
}

void TestDownloadEncode::existing_archive_refused_before_any_request()
{
    LoopbackServer server;
    QTemporaryDir out;
    DownloadEncodeJob j = job_for(server, out.filePath(QStringLiteral("v.mp4")), QStringLiteral("raw"));
    j.archive_path = out.filePath(QStringLiteral("v.zip"));
    QFile existing(j.archive_path);
    QVERIFY(existing.open(QIODevice::WriteOnly));
    existing.close();
    ZQDownload_encode_data job(j);
    const End end = run(job);
    QCOMPARE(end.errors, QList<int>{-29});
    QCOMPARE(server.request_count(), 0);
}

void TestDownloadEncode::stop_then_again()
{
    LoopbackServer server;
    StreamScript script;
    script.recording = m_rec;
    script.realtime = true; // three seconds of frames
    add_stream_route(server, "/video.cgi", script);
    QTemporaryDir out;
    ZQDownload_encode_data job(job_for(server, out.filePath(QStringLiteral("v.mp4")), QStringLiteral("h264")));
    QTimer::singleShot(500, &job, &ZQDownload_encode_data::set_stop_from_user);
    End end = run(job);
    QCOMPARE(end.terminals(), 1);
    QCOMPARE(end.errors, QList<int>{-34});
    QVERIFY(!QFile::exists(out.filePath(QStringLiteral("v.mp4"))));

    // "Relancer": the same job object runs again from a clean state.
    end = run(job);
    QCOMPARE(end.terminals(), 1);
    QCOMPARE(end.finished, 1);
    QString codec;
    QCOMPARE(count_packets(out.filePath(QStringLiteral("v.mp4")), &codec), 75);
}

void TestDownloadEncode::pauses_and_messages_skipped()
{
    LoopbackServer server;
    StreamScript script;
    script.recording = m_rec;
    script.before[10] = {StreamParts::pause_part(m_rec->frames.at(10).timestamp)};
    script.before[20] = {StreamParts::message_part(QStringLiteral("noobjects"), m_rec->frames.at(20).timestamp)};
    add_stream_route(server, "/video.cgi", script);
    QTemporaryDir out;
    ZQDownload_encode_data job(job_for(server, out.filePath(QStringLiteral("r.mp4")), QStringLiteral("raw")));
    const End end = run(job);
    QCOMPARE(end.finished, 1);
    QString codec;
    QCOMPARE(count_packets(out.filePath(QStringLiteral("r.mp4")), &codec), 75);
}

void TestDownloadEncode::descriptor_replaced_not_appended()
{
    QTemporaryDir out;
    const QString path = out.filePath(QStringLiteral("d.json"));
    QCOMPARE(ZQDownload_encode_data::write_descriptor(path, QString::fromLatin1(QByteArray("first").toBase64())), 1);
    QCOMPARE(ZQDownload_encode_data::write_descriptor(path, QString::fromLatin1(QByteArray("second").toBase64())), 1);
    QFile f(path);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(), QByteArray("second"));
    QCOMPARE(ZQDownload_encode_data::write_descriptor(path, QStringLiteral("@@not base64@@")), -30);
    QCOMPARE(ZQDownload_encode_data::archive_files(out.filePath(QStringLiteral("a.zip")), out.filePath(QStringLiteral("none")), path), -26);
    QCOMPARE(ZQDownload_encode_data::archive_files(out.filePath(QStringLiteral("a.zip")), path, out.filePath(QStringLiteral("none"))), -27);
}

void TestDownloadEncode::playlist_frame_data()
{
    QTest::addColumn<int>("at");          // the frame whose body is the playlist
    QTest::addColumn<QString>("labelled"); // the codec its part names; empty: the stream's
    QTest::newRow("first frame") << 0 << "";
    QTest::newRow("a middle frame") << 30 << "";
    // A demuxer's name in the part's Content-Type chooses nothing either: it is no codec.
    QTest::newRow("first frame, labelled as a playlist") << 0 << "hls";
    QTest::newRow("a middle frame, labelled as a playlist") << 30 << "hls";
}

// A frame body is what the server says it is: coded video of a codec the job knows. A frame that
// holds a playlist naming a local clip never makes the job read that clip: the job file is read as
// the stream's raw video and opens nothing else. Under the stream's codec the job ends as any job
// whose server sent one damaged frame: the 74 frames that are video, in the stream's codec and
// size, the playlist's bytes a damaged tail of a neighbour; never the clip's pictures (320 x 240).
// Under another name it is not written and the job fails.
void TestDownloadEncode::playlist_frame()
{
    QFETCH(int, at);
    QFETCH(QString, labelled);
    LoopbackServer server;
    StreamScript script;
    script.recording = m_rec;
    const QByteArray playlist = "#EXTM3U\n#EXT-X-VERSION:3\n#EXT-X-TARGETDURATION:3\n#EXTINF:3.0,\n"
                                + QUrl::fromLocalFile(m_private_ts).toEncoded() + "\n#EXT-X-ENDLIST\n";
    script.edit = [at, playlist, labelled](int index, StreamParts::Part& part) {
        if (index != at)
            return;
        part.body = playlist;
        if (!labelled.isEmpty())
            part.codec = labelled;
    };
    add_stream_route(server, "/video.cgi", script);
    QTemporaryDir out;
    const QString video = out.filePath(QStringLiteral("v.mp4"));
    ZQDownload_encode_data job(job_for(server, video, QStringLiteral("raw")));

    const int watch_fd = inotify_init1(IN_NONBLOCK);
    QVERIFY(watch_fd >= 0);
    QVERIFY(inotify_add_watch(watch_fd, QFile::encodeName(m_private_ts).constData(), IN_OPEN | IN_ACCESS) >= 0);
    const End end = run(job);
    char buf[4096] __attribute__((aligned(__alignof__(struct inotify_event))));
    const ssize_t touched = read(watch_fd, buf, sizeof buf);
    close(watch_fd);

    QCOMPARE(end.terminals(), 1);
    QVERIFY2(touched <= 0, "the local clip was opened");
    QCOMPARE(QDir(ZQDownload_encode_data::work_folder()).entryList(QDir::Files | QDir::Hidden), QStringList());
    if (!labelled.isEmpty()) {
        QCOMPARE(end.errors, QList<int>{-15});
        QCOMPARE(job.frames_handled(), at); // the frames before it, never the playlist
        QCOMPARE(QDir(out.path()).entryList(QDir::Files | QDir::Hidden), QStringList());
        return;
    }
    QCOMPARE(end.finished, 1);
    QString codec;
    QSize size;
    const int packets = count_packets(video, &codec, &size);
    QCOMPARE(size, QSize(160, 120));
    QCOMPARE(codec, QStringLiteral("h264"));
    QCOMPARE(packets, 74);
}

void TestDownloadEncode::raw_codecs_data()
{
    QTest::addColumn<int>("codec");      // ZQFixture::Codec of the stream's frames
    QTest::addColumn<QString>("named");  // the codec its parts name; null: the recording's; empty: none
    QTest::addColumn<int>("switch_at");  // from this frame on, frames of `switched` under its name; -1: never
    QTest::addColumn<int>("switched");   // ZQFixture::Codec
    QTest::addColumn<QString>("output"); // codec of the file made; empty: the job fails with -15
    const int none = -1, h264 = int(ZQFixture::Codec::H264), h265 = int(ZQFixture::Codec::H265),
              mjpeg = int(ZQFixture::Codec::MJPEG), mpeg4 = int(ZQFixture::Codec::MPEG4);
    QTest::newRow("h264") << h264 << QString() << none << none << "h264";
    QTest::newRow("h265") << h265 << QString() << none << none << "hevc";
    QTest::newRow("hevc") << h265 << "hevc" << none << none << "hevc";
    QTest::newRow("mjpeg") << mjpeg << QString() << none << none << "mjpeg";
    QTest::newRow("mpeg4") << mpeg4 << QString() << none << none << "mpeg4";
    QTest::newRow("upper case") << h264 << "H264" << none << none << "h264";
    QTest::newRow("a codec without a raw reader") << h264 << "vp9" << none << none << "";
    QTest::newRow("no Content-Type") << h264 << "" << none << none << "";
    QTest::newRow("h264 switching to h265 mid-stream") << h264 << QString() << 25 << h265 << "";
    QTest::newRow("mjpeg switching to h264 mid-stream") << mjpeg << QString() << 25 << h264 << "";
}

// The job file is read as raw video of the codec the stream's parts name, for each codec the server
// streams. Parts that name no codec the job knows, or a codec other than the parts before them,
// are not written: the job fails with -15 and writes no video.
void TestDownloadEncode::raw_codecs()
{
    QFETCH(int, codec);
    QFETCH(QString, named);
    QFETCH(int, switch_at);
    QFETCH(int, switched);
    QFETCH(QString, output);
    QTemporaryDir dir;
    auto rec = QSharedPointer<StreamParts::Recording>::create();
    auto other = QSharedPointer<StreamParts::Recording>::create();
    QString error;
    QVERIFY2(StreamParts::make_recording(dir.filePath(QStringLiteral("rec")), 2, QSize(160, 120),
                                         ZQFixture::Codec(codec), rec.get(), &error),
             qPrintable(error));
    if (switch_at >= 0)
        QVERIFY2(StreamParts::make_recording(dir.filePath(QStringLiteral("other")), 2, QSize(160, 120),
                                             ZQFixture::Codec(switched), other.get(), &error),
                 qPrintable(error));
    LoopbackServer server;
    StreamScript script;
    script.recording = rec;
    script.edit = [named, switch_at, other](int index, StreamParts::Part& part) {
        if (!named.isNull())
            part.codec = named;
        if (switch_at >= 0 && index >= switch_at) {
            part.body = other->frames.at(index).bytes;
            part.codec = other->codec;
        }
    };
    add_stream_route(server, "/video.cgi", script);
    const QString video = dir.filePath(QStringLiteral("v.mp4"));
    ZQDownload_encode_data job(loopback_stream_job(server, *rec, video, QStringLiteral("raw"), 20));
    const End end = run(job);
    QCOMPARE(end.terminals(), 1);
    QCOMPARE(QDir(ZQDownload_encode_data::work_folder()).entryList(QDir::Files | QDir::Hidden), QStringList());
    if (output.isEmpty()) {
        QCOMPARE(end.errors, QList<int>{-15});
        QCOMPARE(job.frames_handled(), qMax(0, switch_at)); // none of another codec
        QVERIFY(!QFile::exists(video));
        return;
    }
    QCOMPARE(end.finished, 1);
    QString written;
    QSize size;
    QCOMPARE(count_packets(video, &written, &size), int(rec->frames.size()));
    QCOMPARE(written, output);
    QCOMPARE(size, QSize(160, 120));
}

int main(int argc, char** argv)
{
    curl_global_init(CURL_GLOBAL_DEFAULT);
    QCoreApplication app(argc, argv);
    TestDownloadEncode test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_download_encode.moc"
