#include "export/zq_stream_remux.h"
#include "tests/support/loopback_server.h"
#include "tests/support/media_routes.h"
#include "tests/support/update_routes.h"
#include "tools/zqfixture/lib/fixture_writer.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QHash>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

#include <cmath>

#include <curl/curl.h>

#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

extern "C" {
#include <libavformat/avformat.h>
}

// The remuxer on real coded frames from the fixture writer, read back with libavformat.
class TestStreamRemux : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void remux_data();
    void remux();
    void refused_data();
    void refused();
    void replaces_in_one_step_data();
    void replaces_in_one_step();
    void network_input_data();
    void network_input();
    void other_protocols_refused_data();
    void other_protocols_refused();
    void stalled_server_times_out();
    void local_input_names_nothing_data();
    void local_input_names_nothing();
    void redirects_data();
    void redirects();

private:
    struct Probe
    {
        bool ok = false;
        QString codec;
        int packets = 0;
        qint64 first_pts = -1;
        AVRational rate{0, 1};
        double duration_s = 0;
    };
    static Probe probe(const QString& path);
    QString raw_copy(const QString& dir) const;

    QTemporaryDir m_dir;
    QString m_raw;
    QString m_ts; // the same frames in an MPEG-TS segment, for playlists
    QByteArray m_raw_bytes, m_ts_bytes; // what servers serve of them
    int m_frames = 0;
    QByteArray m_clip; // MP4 of MJPEG frames, index at the end: a reader seeks over a megabyte
    int m_clip_frames = 0;
};

void TestStreamRemux::initTestCase()
{
    QVERIFY(m_dir.isValid());
    ZQFixture::Options o;
    o.output_parent = m_dir.filePath(QStringLiteral("fixture"));
    o.seconds_per_recording = 2;
    o.size = QSize(160, 120);
    o.fps = 10;
    o.gop = 10;
    const ZQFixture::Result r = ZQFixture::write(o);
    QVERIFY2(r.ok, qPrintable(r.error));
    m_raw = r.files.first().data_path;
    m_frames = r.files.first().frame_count;
    QCOMPARE(m_frames, 20);
    const QString seg_dir = m_dir.filePath(QStringLiteral("segment"));
    QVERIFY(QDir().mkpath(seg_dir));
    m_ts = QDir(seg_dir).filePath(QStringLiteral("seg.ts"));
    ZQStreamRemux remux;
    QCOMPARE(remux.remux_url(raw_copy(seg_dir), QDir(seg_dir).filePath(QStringLiteral("work.ts")), m_ts, 10.0), 0);
    for (auto [path, bytes] : {std::pair{m_raw, &m_raw_bytes}, std::pair{m_ts, &m_ts_bytes}}) {
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        *bytes = f.readAll();
    }

    o.output_parent = m_dir.filePath(QStringLiteral("clip"));
    o.seconds_per_recording = 4;
    o.size = QSize(640, 480);
    o.fps = 25;
    o.gop = 25;
    o.codec = ZQFixture::Codec::MJPEG;
    const ZQFixture::Result c = ZQFixture::write(o);
    QVERIFY2(c.ok, qPrintable(c.error));
    m_clip_frames = c.files.first().frame_count;
    const QString clip_raw = m_dir.filePath(QStringLiteral("clip.mjpeg"));
    const QString clip = m_dir.filePath(QStringLiteral("clip.mp4"));
    QVERIFY(QFile::copy(c.files.first().data_path, clip_raw));
    remux.set_input_format(QStringLiteral("mjpeg"));
    QCOMPARE(remux.remux_url(clip_raw, m_dir.filePath(QStringLiteral("work.mp4")), clip, 25.0), 0);
    QFile clip_file(clip);
    QVERIFY(clip_file.open(QIODevice::ReadOnly));
    m_clip = clip_file.readAll();
    QVERIFY2(m_clip.size() > 1024 * 1024, qPrintable(QString::number(m_clip.size())));
    QCOMPARE(m_clip.mid(m_clip.size() - 4096).contains("moov"), true); // the index comes last
}

QString TestStreamRemux::raw_copy(const QString& dir) const
{
    const QString path = QDir(dir).filePath(QStringLiteral("tmp.raw"));
    QFile::remove(path);
    return QFile::copy(m_raw, path) ? path : QString();
}

TestStreamRemux::Probe TestStreamRemux::probe(const QString& path)
{
    Probe p;
    AVFormatContext* ctx = nullptr;
    if (avformat_open_input(&ctx, QFile::encodeName(path).constData(), nullptr, nullptr) < 0)
        return p;
    if (avformat_find_stream_info(ctx, nullptr) >= 0 && ctx->nb_streams == 1) {
        AVStream* s = ctx->streams[0];
        p.codec = QString::fromLatin1(avcodec_get_name(s->codecpar->codec_id));
        p.rate = s->avg_frame_rate;
        AVPacket* pkt = av_packet_alloc();
        qint64 last = 0;
        while (av_read_frame(ctx, pkt) >= 0) {
            if (p.packets == 0)
                p.first_pts = pkt->pts;
            last = qMax<qint64>(last, pkt->pts + pkt->duration);
            ++p.packets;
            av_packet_unref(pkt);
        }
        av_packet_free(&pkt);
        p.duration_s = double(last) * av_q2d(s->time_base);
        p.ok = true;
    }
    avformat_close_input(&ctx);
    return p;
}

void TestStreamRemux::remux_data()
{
    QTest::addColumn<QString>("final_name"); // inside a folder "out dir"
    QTest::addColumn<QString>("written_name");
    QTest::addColumn<bool>("multipart");
    QTest::addColumn<double>("fps");
    QTest::addColumn<int>("rate"); // written frame rate numerator (over 1)

    QTest::newRow("mp4, 25 fps") << "clip.mp4" << "clip.mp4" << false << 25.0 << 25;
    // Blanks of the file name only: the folder "out dir" is the user's.
    QTest::newRow("blanks") << "my clip 1.mp4" << "my_clip_1.mp4" << false << 10.0 << 10;
    QTest::newRow("12.5 fps") << "half.mp4" << "half.mp4" << false << 12.5 << 12;
    QTest::newRow("multipart marker") << "m.mkv" << "m.mkv" << true << 10.0 << 10;
}

void TestStreamRemux::remux()
{
    QFETCH(QString, final_name);
    QFETCH(QString, written_name);
    QFETCH(bool, multipart);
    QFETCH(double, fps);
    QFETCH(int, rate);

    QTemporaryDir dir;
    const QString out_dir = dir.filePath(QStringLiteral("out dir"));
    QVERIFY(QDir().mkpath(out_dir));
    const QString input = raw_copy(dir.path());
    QVERIFY(!input.isEmpty());
    const QString output = QDir(out_dir).filePath(QStringLiteral("work.") + QFileInfo(final_name).suffix());
    ZQStreamRemux remux;
    const QString input_text = multipart ? input + QStringLiteral("&zqmultipart=1") : input;
    QCOMPARE(remux.remux_url(input_text, output, QDir(out_dir).filePath(final_name), fps), 0);

    const QString written = QDir(out_dir).filePath(written_name);
    QVERIFY(QFile::exists(written));
    QVERIFY(!QFile::exists(output));
    QVERIFY(!QFile::exists(input)); // the input goes once the output stands
    const Probe p = probe(written);
    QVERIFY(p.ok);
    QCOMPARE(p.codec, QStringLiteral("h264"));
    QCOMPARE(p.packets, m_frames);
    QCOMPARE(p.first_pts, qint64(0));
    QCOMPARE(p.rate.num / qMax(1, p.rate.den), rate);
    // Evenly spaced at the given rate: 20 frames last 20 / fps seconds.
    QVERIFY2(std::abs(p.duration_s - m_frames / fps) < 0.2, qPrintable(QString::number(p.duration_s)));
}

void TestStreamRemux::refused_data()
{
    QTest::addColumn<QString>("input"); // "raw": a copy of the recording; else a path in the folder
    QTest::addColumn<double>("fps");
    QTest::addColumn<int>("code");

    QTest::newRow("missing input") << "missing.raw" << 25.0 << -15;
    QTest::newRow("fps 0") << "raw" << 0.0 << -15;
    QTest::newRow("fps negative") << "raw" << -5.0 << -15;
    QTest::newRow("fps nan") << "raw" << std::nan("") << -15;
    QTest::newRow("fps infinite") << "raw" << HUGE_VAL << -15;
    QTest::newRow("empty input") << "empty.raw" << 25.0 << -15;
}

void TestStreamRemux::refused()
{
    QFETCH(QString, input);
    QFETCH(double, fps);
    QFETCH(int, code);

    QTemporaryDir dir;
    QString in = input == QLatin1String("raw") ? raw_copy(dir.path()) : dir.filePath(input);
    if (input == QLatin1String("empty.raw")) {
        QFile f(in);
        QVERIFY(f.open(QIODevice::WriteOnly));
    }
    ZQStreamRemux remux;
    const int result = remux.remux_url(in, dir.filePath(QStringLiteral("work.mp4")), dir.filePath(QStringLiteral("final.mp4")), fps);
    if (input == QLatin1String("empty.raw"))
        QVERIFY(result == -15 || result == -16 || result == 1);
    else
        QCOMPARE(result, code);
    QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("work.mp4"))));
    QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("final.mp4"))));
    if (input == QLatin1String("raw"))
        QVERIFY(QFile::exists(in)); // a refused job keeps its input
}

void TestStreamRemux::replaces_in_one_step_data()
{
    QTest::addColumn<QString>("earlier"); // what stands at the final path before
    QTest::addColumn<bool>("elsewhere");  // the output is written on another file system (/dev/shm)
    QTest::addColumn<int>("code");
    QTest::newRow("earlier file") << "file" << false << 0;
    QTest::newRow("earlier file, output on another file system") << "file" << true << 0;
    QTest::newRow("link to a file outside") << "link" << false << 0;
    QTest::newRow("folder: rename refused") << "folder" << false << 1;
}

// The output takes the final name in one rename: a file already there is never removed first, so
// it is there at every moment, and stays when the output cannot take its place. Watched with
// inotify: the earlier file's name never sees a deletion.
void TestStreamRemux::replaces_in_one_step()
{
    QFETCH(QString, earlier);
    QFETCH(bool, elsewhere);
    QFETCH(int, code);

    QTemporaryDir dir;
    QTemporaryDir shm(QStringLiteral("/dev/shm/zq-remux-XXXXXX"));
    if (elsewhere && !shm.isValid())
        QSKIP("no /dev/shm here");
    const QString input = raw_copy(dir.path());
    QVERIFY(!input.isEmpty());
    const QString out_dir = dir.filePath(QStringLiteral("out"));
    QVERIFY(QDir().mkpath(out_dir));
    const QString final_path = QDir(out_dir).filePath(QStringLiteral("clip.mp4"));
    const QString outside = dir.filePath(QStringLiteral("outside.txt"));
    const QByteArray old_bytes("the earlier clip");
    for (const QString& path : {outside, final_path}) {
        if (path == final_path && earlier != QLatin1String("file"))
            continue;
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(old_bytes);
    }
    if (earlier == QLatin1String("link"))
        QVERIFY(QFile::link(outside, final_path));
    if (earlier == QLatin1String("folder")) {
        QVERIFY(QDir().mkpath(final_path));
        QVERIFY(QFile::copy(outside, QDir(final_path).filePath(QStringLiteral("inside.txt"))));
    }
    const QString output = QDir(elsewhere ? shm.path() : out_dir).filePath(QStringLiteral("work.mp4"));

    const int watch_fd = inotify_init1(IN_NONBLOCK);
    QVERIFY(watch_fd >= 0);
    QVERIFY(inotify_add_watch(watch_fd, QFile::encodeName(out_dir).constData(), IN_DELETE | IN_MOVED_FROM) >= 0);
    ZQStreamRemux remux;
    const int result = remux.remux_url(input, output, final_path, 10.0);
    QStringList gone; // names deleted or moved away in the output folder
    char buf[8192] __attribute__((aligned(__alignof__(struct inotify_event))));
    for (ssize_t n; (n = read(watch_fd, buf, sizeof buf)) > 0;) {
        for (char* p = buf; p < buf + n;) {
            const auto* ev = reinterpret_cast<const inotify_event*>(p);
            if (ev->len > 0)
                gone << QString::fromLocal8Bit(ev->name);
            p += sizeof(inotify_event) + ev->len;
        }
    }
    close(watch_fd);

    QCOMPARE(result, code);
    QVERIFY2(!gone.contains(QStringLiteral("clip.mp4")), qPrintable(gone.join(QLatin1Char(' '))));
    QFile outside_file(outside);
    QVERIFY(outside_file.open(QIODevice::ReadOnly));
    QCOMPARE(outside_file.readAll(), old_bytes); // never written through the link
    if (code == 0) {
        QVERIFY(!QFileInfo(final_path).isSymLink());
        const Probe p = probe(final_path);
        QVERIFY(p.ok);
        QCOMPARE(p.packets, m_frames);
        QVERIFY(!QFile::exists(output));
        QVERIFY(!QFile::exists(input));
        QCOMPARE(QDir(out_dir).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("clip.mp4")});
    } else {
        QVERIFY(QFileInfo(final_path).isDir());
        QFile inside(QDir(final_path).filePath(QStringLiteral("inside.txt")));
        QVERIFY(inside.open(QIODevice::ReadOnly));
        QCOMPARE(inside.readAll(), old_bytes);
        QVERIFY(QFile::exists(input)); // a failed job keeps its input
    }
}

void TestStreamRemux::network_input_data()
{
    QTest::addColumn<QString>("server");  // "http", "https", "https other host"
    QTest::addColumn<QString>("trust");   // "server": its CA handed over; "other": another CA; "none"
    QTest::addColumn<QString>("served");  // "raw": the recording; "playlist" or "concat": a list naming it
    QTest::addColumn<QString>("segment"); // for a playlist: where it names the recording
    QTest::addColumn<int>("code");

    QTest::newRow("http") << "http" << "none" << "raw" << "" << 0;
    QTest::newRow("https, its CA handed over") << "https" << "server" << "raw" << "" << 0;
    QTest::newRow("https, certificate of an unknown authority") << "https" << "other" << "raw" << "" << -15;
    QTest::newRow("https, no CA handed over: the system's do not know it") << "https" << "none" << "raw" << "" << -15;
    QTest::newRow("https, certificate for another host") << "https other host" << "server" << "raw" << "" << -15;
    // What the input names is opened under the same rules as the input.
    QTest::newRow("https playlist naming its own server") << "https" << "server" << "playlist" << "same" << 0;
    QTest::newRow("https playlist naming an unverified server") << "https" << "server" << "playlist" << "untrusted" << -15;
    QTest::newRow("https playlist naming plain http") << "https" << "server" << "playlist" << "http" << -15;
    QTest::newRow("https playlist naming a local file") << "https" << "server" << "playlist" << "local" << -15;
    // A concat list opens its entries (relative names, resolved on its server) outside these
    // rules, without a certificate check: refused.
    QTest::newRow("https concat list naming a file beside it") << "https" << "server" << "concat" << "same" << -15;
}

// A location on a server is read like a local file, over http or over https with its certificate
// and host name verified against the authorities handed to the remuxer.
void TestStreamRemux::network_input()
{
    QFETCH(QString, server);
    QFETCH(QString, trust);
    QFETCH(QString, served);
    QFETCH(QString, segment);
    QFETCH(int, code);

    const QByteArray bytes = m_raw_bytes;
    const QByteArray ts_bytes = m_ts_bytes;
    auto serve_raw = [bytes, ts_bytes](LoopbackServer& s) {
        s.route("GET", "/tmp.raw", [bytes](const HttpRequest&, HttpResponsePtr res) {
            res->reply(200, "application/octet-stream", bytes);
        });
        s.route("GET", "/seg.ts", [ts_bytes](const HttpRequest&, HttpResponsePtr res) {
            res->reply(200, "video/mp2t", ts_bytes);
        });
    };
    const bool https = server.startsWith(QLatin1String("https"));
    LoopbackServer host(https ? LoopbackServer::Https : LoopbackServer::Http,
                        server == QLatin1String("https other host") ? TlsMaterial::generate(TlsMaterial::WrongHost)
                                                                     : TlsMaterial());
    LoopbackServer untrusted(LoopbackServer::Https);
    LoopbackServer plain(LoopbackServer::Http);
    serve_raw(host);
    serve_raw(untrusted);
    serve_raw(plain);
    QTemporaryDir dir;
    const QString local = dir.filePath(QStringLiteral("seg.ts"));
    QVERIFY(QFile::copy(m_ts, local));
    const QString segment_url = segment == QLatin1String("untrusted") ? untrusted.url_string(QStringLiteral("/seg.ts"))
                                : segment == QLatin1String("http")    ? plain.url_string(QStringLiteral("/seg.ts"))
                                : segment == QLatin1String("local")   ? QUrl::fromLocalFile(local).toString()
                                                                      : host.url_string(QStringLiteral("/seg.ts"));
    const QByteArray playlist = "#EXTM3U\n#EXT-X-VERSION:3\n#EXT-X-TARGETDURATION:2\n#EXT-X-MEDIA-SEQUENCE:0\n"
                                "#EXTINF:2.0,\n"
                                + segment_url.toUtf8() + "\n#EXT-X-ENDLIST\n";
    host.route("GET", "/list.m3u8", [playlist](const HttpRequest&, HttpResponsePtr res) {
        res->reply(200, "application/vnd.apple.mpegurl", playlist);
    });
    const QByteArray concat = "ffconcat version 1.0\nfile 'seg.ts'\n";
    host.route("GET", "/list.ffconcat", [concat](const HttpRequest&, HttpResponsePtr res) {
        res->reply(200, "text/plain", concat);
    });

    const TlsMaterial other = TlsMaterial::generate();
    ZQStreamRemux remux;
    if (trust == QLatin1String("server"))
        remux.set_ca_file(host.tls().ca_file());
    else if (trust == QLatin1String("other"))
        remux.set_ca_file(other.ca_file());
    const QString location = host.url_string(served == QLatin1String("raw")      ? QStringLiteral("/tmp.raw")
                                             : served == QLatin1String("concat") ? QStringLiteral("/list.ffconcat")
                                                                                  : QStringLiteral("/list.m3u8"));
    const QString out_dir = dir.filePath(QStringLiteral("out"));
    QVERIFY(QDir().mkpath(out_dir));
    const QString final_path = QDir(out_dir).filePath(QStringLiteral("final.mp4"));
    const int result = remux.remux_url(location, QDir(out_dir).filePath(QStringLiteral("work.mp4")), final_path, 10.0);
    QCOMPARE(result, code);
    QVERIFY(QFile::exists(local)); // a local file named by a network input is never deleted
    if (code == 0) {
        const Probe p = probe(final_path);
        QVERIFY(p.ok);
        QCOMPARE(p.packets, m_frames);
        QCOMPARE(QDir(out_dir).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("final.mp4")});
    } else {
        QCOMPARE(QDir(out_dir).entryList(QDir::Files | QDir::Hidden), QStringList());
    }
    // A refused certificate ends the connection before any request is sent.
    if (served == QLatin1String("raw") && code != 0)
        QCOMPARE(host.request_count(), 0);
    if (segment == QLatin1String("untrusted"))
        QCOMPARE(untrusted.request_count(), 0);
    if (segment == QLatin1String("http"))
        QCOMPARE(plain.connections_accepted(), 0);
}

void TestStreamRemux::other_protocols_refused_data()
{
    QTest::addColumn<QString>("location"); // %1: the server's port, %2: the local raw file
    QTest::newRow("tcp") << "tcp://127.0.0.1:%1";
    QTest::newRow("tls") << "tls://127.0.0.1:%1";
    QTest::newRow("httpproxy") << "httpproxy://127.0.0.1:%1/";
    QTest::newRow("cache over http") << "cache:http://127.0.0.1:%1/tmp.raw";
    QTest::newRow("async over http") << "async:http://127.0.0.1:%1/tmp.raw";
    QTest::newRow("crypto") << "crypto:%2";
    QTest::newRow("concat") << "concat:%2|%2";
    QTest::newRow("subfile") << "subfile,,start,0,end,0,,:%2";
    QTest::newRow("pipe") << "pipe:0";
    QTest::newRow("data") << "data:application/octet-stream;base64,AAAAAQ==";
    QTest::newRow("upper-case scheme") << "HTTP://127.0.0.1:%1/tmp.raw";
}

// Only local files, http and https: FFmpeg's other protocols are refused before any connection
// and before the input file is touched.
void TestStreamRemux::other_protocols_refused()
{
    QFETCH(QString, location);
    QFile raw(m_raw);
    QVERIFY(raw.open(QIODevice::ReadOnly));
    const QByteArray bytes = raw.readAll();
    LoopbackServer server;
    server.route("GET", "/tmp.raw", [bytes](const HttpRequest&, HttpResponsePtr res) {
        res->reply(200, "application/octet-stream", bytes);
    });
    QTemporaryDir dir;
    const QString local = raw_copy(dir.path());
    QVERIFY(!local.isEmpty());
    const QString out_dir = dir.filePath(QStringLiteral("out"));
    QVERIFY(QDir().mkpath(out_dir));
    ZQStreamRemux remux;
    QString input = location;
    input.replace(QStringLiteral("%1"), QString::number(server.port())).replace(QStringLiteral("%2"), local);
    const int result = remux.remux_url(input, QDir(out_dir).filePath(QStringLiteral("work.mp4")),
                                       QDir(out_dir).filePath(QStringLiteral("final.mp4")), 10.0);
    QCOMPARE(result, -15);
    QCOMPARE(server.connections_accepted(), 0);
    QVERIFY(QFile::exists(local));
    QCOMPARE(QDir(out_dir).entryList(QDir::Files | QDir::Hidden), QStringList());
}

// A server that accepts the connection and never answers ends the remux at the time-out given.
void TestStreamRemux::stalled_server_times_out()
{
    LoopbackServer server(LoopbackServer::Https);
    server.route("GET", "/tmp.raw", [](const HttpRequest&, HttpResponsePtr) {}); // never answers
    QTemporaryDir dir;
    ZQStreamRemux remux;
    remux.set_ca_file(server.tls().ca_file());
    remux.set_timeout_ms(500);
    QElapsedTimer clock;
    clock.start();
    const int result = remux.remux_url(server.url_string(QStringLiteral("/tmp.raw")), dir.filePath(QStringLiteral("work.mp4")),
                                       dir.filePath(QStringLiteral("final.mp4")), 10.0);
    QCOMPARE(result, -15);
    QCOMPARE(server.request_count(), 1);
    // Bounded by the time-out, not by the server: a generous margin for a loaded machine.
    QVERIFY2(clock.elapsed() < 20000, qPrintable(QString::number(clock.elapsed())));
}

void TestStreamRemux::local_input_names_nothing_data()
{
    QTest::addColumn<QByteArray>("content"); // of the input; %1: the clip's path
    QTest::addColumn<QString>("name");       // of the input file
    QTest::addColumn<QString>("format");     // the demuxer forced; empty: none
    QTest::addColumn<bool>("success");
    const QByteArray playlist = "#EXTM3U\n#EXT-X-TARGETDURATION:2\n#EXTINF:2.0,\n%1\n#EXT-X-ENDLIST\n";
    QTest::newRow("playlist naming a clip by address") << playlist << "in.m3u8" << "" << false;
    QTest::newRow("playlist naming a clip beside it") << QByteArray(playlist).replace("%1", "seg.ts") << "in.m3u8" << ""
                                                      << false;
    QTest::newRow("concat list naming a clip") << QByteArray("ffconcat version 1.0\nfile 'seg.ts'\n") << "in.txt" << ""
                                               << false;
    QTest::newRow("playlist read as raw H.264") << playlist << "tmp.raw" << "h264" << false;
    QTest::newRow("raw H.264 read as raw H.264") << QByteArray() << "tmp.raw" << "h264" << true;
    QTest::newRow("unknown format") << QByteArray() << "tmp.raw" << "no-such-format" << false;
}

// A local input is one file and names nothing: a playlist or list inside it opens no other file,
// and a format given for it is the one it is read with, whatever its content.
void TestStreamRemux::local_input_names_nothing()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, name);
    QFETCH(QString, format);
    QFETCH(bool, success);

    QTemporaryDir dir;
    const QString clip = dir.filePath(QStringLiteral("seg.ts"));
    QVERIFY(QFile::copy(m_ts, clip));
    QString input = dir.filePath(name);
    if (content.isEmpty()) {
        input = raw_copy(dir.path());
        QVERIFY(!input.isEmpty());
    } else {
        QFile f(input);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(QByteArray(content).replace("%1", QUrl::fromLocalFile(clip).toEncoded()));
    }
    const QString out_dir = dir.filePath(QStringLiteral("out"));
    QVERIFY(QDir().mkpath(out_dir));
    const QString final_path = QDir(out_dir).filePath(QStringLiteral("final.mp4"));

    const int watch_fd = inotify_init1(IN_NONBLOCK);
    QVERIFY(watch_fd >= 0);
    QVERIFY(inotify_add_watch(watch_fd, QFile::encodeName(clip).constData(), IN_OPEN | IN_ACCESS) >= 0);
    ZQStreamRemux remux;
    remux.set_input_format(format);
    const int result = remux.remux_url(input, QDir(out_dir).filePath(QStringLiteral("work.mp4")), final_path, 10.0);
    char buf[4096] __attribute__((aligned(__alignof__(struct inotify_event))));
    const ssize_t touched = read(watch_fd, buf, sizeof buf);
    close(watch_fd);

    QVERIFY2(touched <= 0, "the clip beside the input was opened");
    if (success) {
        QCOMPARE(result, 0);
        const Probe p = probe(final_path);
        QVERIFY(p.ok);
        QCOMPARE(p.packets, m_frames);
    } else {
        QVERIFY2(result != 0, "refused input reported as a success");
        QCOMPARE(QDir(out_dir).entryList(QDir::Files | QDir::Hidden), QStringList());
        QVERIFY(QFile::exists(input)); // a refused input is kept
    }
}

void TestStreamRemux::redirects_data()
{
    // Three servers: "https" (where an https input starts), "https2" (another, with a certificate
    // of the same trusted authority) and "http". Each serves the recording as "/tmp.raw", it as an
    // MPEG-TS segment "/seg.ts" and the clip "/clip.mp4" (with byte ranges); "/away/<x>" answers a
    // 302 to <x> on the row's target server, "/clip-seeks.mp4" serves the clip's start itself and
    // sends every later range (a seek) to "/clip.mp4" on the target, "/via-http/<x>" answers a 302
    // to "/away/<x>" on the http server, and "/list.m3u8" names "/away/seg.ts" on its own server.
    QTest::addColumn<QString>("start");  // the server of the input
    QTest::addColumn<QString>("path");   // the input's path there
    QTest::addColumn<QString>("target"); // where the redirects lead
    QTest::addColumn<QString>("read");   // "raw" or "clip": what a success reads; "": the remux fails

    QTest::newRow("https to http") << "https" << "/away/tmp.raw" << "http" << "";
    // The plain hop's Location, read without TLS, would choose the https server whose bytes are used.
    QTest::newRow("https to http to https") << "https" << "/via-http/tmp.raw" << "https" << "";
    QTest::newRow("https to another https server") << "https" << "/away/tmp.raw" << "https2" << "raw";
    QTest::newRow("https to https, same server") << "https" << "/away/tmp.raw" << "https" << "raw";
    QTest::newRow("https clip, seeks on its own server") << "https" << "/clip.mp4" << "https" << "clip";
    QTest::newRow("https clip, seeks sent to http") << "https" << "/clip-seeks.mp4" << "http" << "";
    // Only the redirects of the first request are checked and followed: a later one, sent by the
    // server in answer to a seek, is not followed, wherever it leads.
    QTest::newRow("https clip, seeks sent to another https server") << "https" << "/clip-seeks.mp4" << "https2"
                                                                    << "";
    QTest::newRow("https playlist, segment redirected to http") << "https" << "/list.m3u8" << "http" << "";
    QTest::newRow("https playlist, segment redirected to https") << "https" << "/list.m3u8" << "https2" << "raw";
    // A plain http input may end on http or https.
    QTest::newRow("http to http") << "http" << "/away/tmp.raw" << "http" << "raw";
    QTest::newRow("http to https") << "http" << "/away/tmp.raw" << "https" << "raw";
    QTest::newRow("http clip, seeks sent to http") << "http" << "/clip-seeks.mp4" << "http" << "clip";
}

// Nothing read without TLS is used for an https input, and nothing is ever asked over plain http
// for it, wherever a server sends it: by the first answer, through a plain hop that sends it back
// to https, by the answer to a seek, or for an entry of a playlist. Such a remux ends with an error
// and writes nothing.
void TestStreamRemux::redirects()
{
    QFETCH(QString, start);
    QFETCH(QString, path);
    QFETCH(QString, target);
    QFETCH(QString, read);

    LoopbackServer https(LoopbackServer::Https);
    LoopbackServer https2(LoopbackServer::Https, https.tls());
    LoopbackServer http(LoopbackServer::Http);
    const QHash<QString, LoopbackServer*> servers{{"https", &https}, {"https2", &https2}, {"http", &http}};
    LoopbackServer* to = servers.value(target);
    QVERIFY(to && servers.contains(start));
    for (LoopbackServer* s : servers) {
        add_media_route(*s, "/tmp.raw", m_raw_bytes);
        add_media_route(*s, "/seg.ts", m_ts_bytes);
        add_media_route(*s, "/clip.mp4", m_clip);
        add_media_route(*s, "/clip-seeks.mp4", m_clip, to->url_string(QStringLiteral("/clip.mp4")).toUtf8());
        for (const char* name : {"tmp.raw", "seg.ts"}) {
            add_redirect_route(*s, QByteArray("/away/") + name, to->url_string(QStringLiteral("/") + name).toUtf8());
            add_redirect_route(*s, QByteArray("/via-http/") + name,
                               http.url_string(QStringLiteral("/away/") + name).toUtf8());
        }
        const QByteArray playlist = "#EXTM3U\n#EXT-X-TARGETDURATION:2\n#EXTINF:2.0,\n"
                                    + s->url_string(QStringLiteral("/away/seg.ts")).toUtf8() + "\n#EXT-X-ENDLIST\n";
        s->route("GET", "/list.m3u8", [playlist](const HttpRequest&, HttpResponsePtr res) {
            res->reply(200, "application/vnd.apple.mpegurl", playlist);
        });
    }

    QTemporaryDir dir;
    const QString out_dir = dir.filePath(QStringLiteral("out"));
    QVERIFY(QDir().mkpath(out_dir));
    const QString final_path = QDir(out_dir).filePath(QStringLiteral("final.mp4"));
    ZQStreamRemux remux;
    remux.set_ca_file(https.tls().ca_file());
    const int result = remux.remux_url(servers.value(start)->url_string(path),
                                       QDir(out_dir).filePath(QStringLiteral("work.mp4")), final_path,
                                       read == QLatin1String("clip") ? 25.0 : 10.0);
    // An https input never makes a request over plain http: the plain server sees no connection.
    if (start == QLatin1String("https"))
        QCOMPARE(http.connections_accepted(), 0);
    if (read.isEmpty()) {
        QVERIFY2(result != 0, "data read over plain http was used");
        if (path == QLatin1String("/clip-seeks.mp4"))
            QCOMPARE(to->request_count(), 0); // the redirect of a seek is not followed
        QCOMPARE(QDir(out_dir).entryList(QDir::Files | QDir::Hidden), QStringList());
        return;
    }
    QCOMPARE(result, 0);
    const Probe p = probe(final_path);
    QVERIFY(p.ok);
    QCOMPARE(p.codec, read == QLatin1String("clip") ? QStringLiteral("mjpeg") : QStringLiteral("h264"));
    QCOMPARE(p.packets, read == QLatin1String("clip") ? m_clip_frames : m_frames);
    // The clip's index is at its end: reading it took a request for a later range.
    if (path == QLatin1String("/clip-seeks.mp4"))
        QVERIFY(to->request_count() > 0);
}

int main(int argc, char** argv)
{
    curl_global_init(CURL_GLOBAL_DEFAULT); // once, before any thread: https inputs go through libcurl
    QCoreApplication app(argc, argv);
    TestStreamRemux test;
    return QTest::qExec(&test, argc, argv);
}
#include "test_stream_remux.moc"
