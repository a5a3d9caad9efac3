// Benchmarks of the server stream path, on a one-minute 1080p 25 fps H.264
// recording served by the loopback server:
//   1. frames per second parsed, decoded and converted by the stream client in
//      direct mode from the server at full speed (HTTP and HTTPS), beside
//      `ffmpeg -f h264 -i raw.h264 -pix_fmt bgra -f null -` on the same frames
//      in a file, same threads (slice threads, conversion on one thread);
//   2. latency from the server's last byte of part N to the end of the paint
//      showing frame N, real time, direct mode (median, 99th percentile), and
//      in buffered mode beside its buffer duration;
//   3. memory with a fast producer and a slow consumer: a queue consumer taking
//      one record every 100 ms (bound 30), and a tile acknowledging every
//      200 ms; peak resident growth beside (bound + 4) frames + 32 MiB; and a
//      tile in direct mode (its default) whose GUI thread is busy for 3 s
//      while the server sends at full speed, beside 64 MiB;
//   4. reconnects against a refused port in 10 s, beside curl's own retries
//      (--retry --retry-connrefused) over the same span;
//   5. a server that answers one part and closes, through a tile in direct
//      mode: requests and log lines in 10 s beside curl's retries of part 4
//      (curl itself asks once: the reply is complete), and in the full run
//      the requests of the last 10 s of a minute (the tile still asks);
//   6. loop mode after an error that ends the stream (a codec no decoder
//      reads, a refused scheme, a stream that shows one picture and then
//      carries that codec): starts and requests of a tile in 10 s.
// Generated data is kept in $ZQ_BENCH_DIR (default /tmp/zq_bench_stream).
//
//   bench_stream [--quick] [--throughput | --latency | --restarts]
//       --quick: 10 seconds of video; --throughput: part 1 only; --latency: parts 2 and 3;
//       --restarts: parts 4 to 6

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QTcpServer>
#include <QThread>
#include <QTextStream>
#include <QTimer>

#include <curl/curl.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>
#include <cstdio>
#include <deque>

#include "app/zq_log.h"
#include "bench/bench_report.h"
#include "platform/process_stats.h"
#include "playback/zq_media_frame.h"
#include "tests/recordings/log_capture.h"
#include "tests/support/loopback_server.h"
#include "tests/support/stream_routes.h"
#include "view/canvas.h"
#include "view/new_display_thread.h"
#include "view/zq_stream_parser.h"

namespace {

QTextStream out(stdout);

double run_best(const QString& program, const QStringList& args, int n)
{
    double best = 1e300;
    for (int i = 0; i < n; ++i) {
        QProcess p;
        p.setProcessChannelMode(QProcess::MergedChannels);
        QElapsedTimer t;
        t.start();
        p.start(program, args);
        if (!p.waitForFinished(600000) || p.exitCode() != 0) {
            out << "  " << program << " failed: " << p.readAll().left(400) << Qt::endl;
            return -1;
        }
        best = std::min(best, t.nsecsElapsed() / 1e6);
    }
    return best;
}

// Runs the event loop (sleeping between events) until done or the time-out.
void spin_until(const std::function<bool()>& done, int timeout_ms)
{
    QElapsedTimer t;
    t.start();
    QEventLoop loop;
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, &loop, [&] {
        if (done() || t.elapsed() >= timeout_ms)
            loop.quit();
    });
    check.start(10);
    if (!done())
        loop.exec();
}

double percentile(QList<double> v, double p)
{
    if (v.isEmpty())
        return -1;
    std::sort(v.begin(), v.end());
    return v.at(qBound(0, int(p * (v.size() - 1) + 0.5), int(v.size()) - 1));
}

// Frames per second of the client in direct mode, from the server at full speed.
double direct_throughput(const QSharedPointer<StreamParts::Recording>& rec, LoopbackServer::Scheme scheme)
{
    LoopbackServer server(scheme);
    StreamScript script;
    script.recording = rec;
    add_stream_route(server, "/video.cgi", script);
    QObject owner;
    ZQStreamParser p(scheme == LoopbackServer::Https ? QStringLiteral("https") : QStringLiteral("http"),
                     QStringLiteral("127.0.0.1"), QString::number(server.port()), {}, QStringLiteral("/video.cgi"),
                     false, QStringLiteral("h264"), false, &owner);
    if (scheme == LoopbackServer::Https)
        p.set_trusted_certificates({server.tls().ca_pem()});
    int frames = 0;
    QObject::connect(&p, &ZQStreamParser::frame_decoded_old, &owner,
                     [&](QImage img, int, QString, QString, bool, int, int, int, double, QString, bool) {
                         frames += img.isNull() ? 0 : 1;
                     });
    QElapsedTimer t;
    t.start();
    p.start();
    spin_until([&] { return p.isFinished(); }, 600000);
    const double ms = t.nsecsElapsed() / 1e6;
    QCoreApplication::processEvents();
    // Pictures replaced by a newer one before this thread took them were
    // decoded and converted all the same.
    frames += int(p.direct_drops());
    if (frames != rec->frames.size())
        out << "  only " << frames << " of " << rec->frames.size() << " frames came out" << Qt::endl;
    return frames * 1000.0 / ms;
}

// A tile that shows its stream client.
class ProbeCanvas : public Canvas
{
public:
    ZQStreamParser* parser() const { return display_thread ? display_thread->get_stream_parser() : nullptr; }
};

// A tile that notes when each frame's paint ends.
class StampCanvas : public Canvas
{
public:
    StreamRouteLog* log = nullptr;
    QHash<int, qint64> painted_ns; // frame id -> end of its first paint
protected:
    void paintEvent(QPaintEvent* e) override
    {
        Canvas::paintEvent(e);
        const int id = get_last_frame_id();
        if (id > 0 && !painted_ns.contains(id))
            painted_ns.insert(id, log->clock.nsecsElapsed());
    }
};

QList<double> latency(const QSharedPointer<StreamParts::Recording>& rec, int buffer_ms, int seconds)
{
    LoopbackServer server;
    StreamScript script;
    script.recording = rec;
    script.realtime = true;
    script.count = qMin<int>(rec->frames.size(), seconds * rec->fps);
    StreamRouteLog log;
    add_stream_route(server, "/video.cgi", script, &log);
    QList<double> ms;
    {
        StampCanvas c;
        c.log = &log;
        c.set_stream_scheme(QStringLiteral("http"));
        c.set_stream_host(QStringLiteral("127.0.0.1"));
        c.set_stream_port(QString::number(server.port()));
        c.set_stream_path(QStringLiteral("/video.cgi?id=1"));
        c.set_codec(QStringLiteral("h264"));
        c.set_buffer_size_ms(buffer_ms);
        c.set_overlay_enabled(true);
        c.resize(960, 540);
        c.show();
        spin_until([&] { return c.get_last_frame_id() >= script.count - 2; }, seconds * 1000 + 20000);
        c.setEnding();
        if (c.painted_ns.size() < script.count / 2 || log.replies != 1)
            out << "   (" << c.painted_ns.size() << " frames painted, last id " << c.get_last_frame_id() << ", "
                << log.replies << " replies)" << Qt::endl;
        for (auto it = c.painted_ns.cbegin(); it != c.painted_ns.cend(); ++it) {
            const qint64 sent = log.at(it.key() - 1);
            if (sent > 0 && it.value() > sent)
                ms << (it.value() - sent) / 1e6;
        }
    }
    spin_until([] { return new_display_thread::live_count() == 0; }, 10000);
    return ms;
}

struct MemoryResult
{
    double peak_growth_mb = 0;
    double bound_mb = 0;
    int taken = 0;
};

// A queue consumer that takes one record every 100 ms from a client bound at 30.
MemoryResult slow_queue_consumer(const QSharedPointer<StreamParts::Recording>& rec, int seconds)
{
    LoopbackServer server;
    StreamScript script;
    script.recording = rec;
    add_stream_route(server, "/video.cgi", script);
    QMutex mutex;
    std::deque<ZQMediaFrame*> queue;
    MemoryResult r;
    const std::int64_t base = zq::platform::process_resident_bytes();
    std::int64_t peak = base;
    {
        ZQStreamParser p(QStringLiteral("http"), QStringLiteral("127.0.0.1"), QString::number(server.port()), {},
                         QStringLiteral("/video.cgi"), false, QStringLiteral("h264"), false, nullptr);
        p.set_queue_mode(true);
        p.set_max_queue_size(30);
        p.set_frame_queue(&queue);
        p.frame_queue_mutex = &mutex;
        QTimer take;
        QObject::connect(&take, &QTimer::timeout, [&] {
            ZQMediaFrame* f = nullptr;
            {
                QMutexLocker lock(&mutex);
                if (!queue.empty()) {
                    f = queue.front();
                    queue.pop_front();
                }
            }
            if (f) {
                ++r.taken;
                delete f;
            }
            peak = std::max(peak, zq::platform::process_resident_bytes());
        });
        take.start(100);
        p.start();
        QElapsedTimer t;
        t.start();
        spin_until([&] { return t.elapsed() > seconds * 1000; }, seconds * 1000 + 1000);
        p.threadStop(false);
        p.wait(5000);
    }
    for (ZQMediaFrame* f : queue)
        delete f;
    const double frame_mb = rec->size.width() * rec->size.height() * 1.5 / 1048576.0;
    r.peak_growth_mb = (peak - base) / 1048576.0;
    r.bound_mb = (30 + 4) * frame_mb + 32;
    return r;
}

// A buffered tile stand-in that acknowledges a frame every 200 ms.
MemoryResult slow_tile(const QSharedPointer<StreamParts::Recording>& rec, int seconds)
{
    LoopbackServer server;
    StreamScript script;
    script.recording = rec;
    add_stream_route(server, "/video.cgi", script);
    MemoryResult r;
    const std::int64_t base = zq::platform::process_resident_bytes();
    std::int64_t peak = base;
    int bound = 0;
    {
        auto* t = new new_display_thread(nullptr);
        t->buffer_duration_ms = 1000;
        t->set_skip_decoding(false);
        t->init_stream_parser(QStringLiteral("http"), QStringLiteral("127.0.0.1"), QString::number(server.port()), {},
                              QStringLiteral("/video.cgi"), false, QStringLiteral("h264"), false, {}, {}, false, {});
        QObject::connect(t, &new_display_thread::set_display_frame, t, [&] { ++r.taken; });
        QTimer ack;
        QObject::connect(&ack, &QTimer::timeout, [&] {
            t->security_unlock_display();
            peak = std::max(peak, zq::platform::process_resident_bytes());
        });
        ack.start(200);
        t->start();
        QElapsedTimer clock;
        clock.start();
        spin_until([&] { return clock.elapsed() > seconds * 1000; }, seconds * 1000 + 1000);
        bound = new_display_thread::queue_bound(t->get_max_list_size());
        t->set_stop();
        spin_until([&] { return !t->isRunning(); }, 5000);
        delete t;
    }
    const double frame_mb = rec->size.width() * rec->size.height() * 1.5 / 1048576.0;
    r.peak_growth_mb = (peak - base) / 1048576.0;
    r.bound_mb = (bound + 4) * frame_mb + 32;
    return r;
}

// A tile in direct mode whose GUI thread is busy for busy_ms while the
// server sends at full speed; resident memory sampled from another thread.
MemoryResult direct_busy_gui(const QSharedPointer<StreamParts::Recording>& rec, int busy_ms, qint64* drops)
{
    LoopbackServer server;
    StreamScript script;
    script.recording = rec;
    script.loops = 10;
    add_stream_route(server, "/video.cgi", script);
    MemoryResult r;
    std::int64_t base = 0;
    std::atomic<std::int64_t> peak{0};
    {
        ProbeCanvas c;
        c.set_stream_scheme(QStringLiteral("http"));
        c.set_stream_host(QStringLiteral("127.0.0.1"));
        c.set_stream_port(QString::number(server.port()));
        c.set_stream_path(QStringLiteral("/video.cgi?id=1"));
        c.set_codec(QStringLiteral("h264"));
        c.set_buffer_size_ms(0);
        c.resize(960, 540);
        c.show();
        spin_until([&] { return c.get_last_frame_id() >= 5; }, 30000);
        base = zq::platform::process_resident_bytes();
        peak = base;
        std::atomic<bool> sampling{true};
        std::thread sampler([&] {
            while (sampling) {
                const std::int64_t now = zq::platform::process_resident_bytes();
                std::int64_t seen = peak;
                while (now > seen && !peak.compare_exchange_weak(seen, now)) {
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
        });
        QThread::msleep(busy_ms); // the GUI thread busy: no event runs
        // Then whatever waited for it runs.
        QElapsedTimer after;
        after.start();
        spin_until([&] { return after.elapsed() > 1000; }, 2000);
        sampling = false;
        sampler.join();
        if (ZQStreamParser* p = c.parser())
            *drops = p->direct_drops();
        c.setEnding();
    }
    spin_until([] { return new_display_thread::live_count() == 0; }, 10000);
    r.peak_growth_mb = (peak - base) / 1048576.0;
    r.bound_mb = 64;
    return r;
}

// Requests made against a port nothing listens on, over `seconds`, by the
// display thread's client and by curl's own retry.
void refused_reconnects(int seconds, int* ours, int* curl)
{
    quint16 port = 0;
    {
        QTcpServer probe;
        probe.listen(QHostAddress::LocalHost);
        port = probe.serverPort();
    }
    auto* t = new new_display_thread(nullptr);
    t->set_skip_decoding(false);
    t->init_stream_parser(QStringLiteral("http"), QStringLiteral("127.0.0.1"), QString::number(port), {},
                          QStringLiteral("/video.cgi?id=1"), false, QStringLiteral("h264"), false, {}, {}, false, {});
    QElapsedTimer clock;
    clock.start();
    t->start_stream_parser();
    spin_until([&] { return clock.elapsed() >= seconds * 1000; }, seconds * 1000 + 1000);
    *ours = t->get_stream_parser()->transfer_count();
    t->set_stop();
    spin_until([&] { return !t->get_stream_parser() || !t->get_stream_parser()->isRunning(); }, 5000);
    delete t;

    QProcess p;
    p.start(QStringLiteral("curl"), {"--no-progress-meter", "--retry", "1000", "--retry-connrefused", "--retry-max-time",
                                     QString::number(seconds), "-o", "/dev/null",
                                     QStringLiteral("http://127.0.0.1:%1/video.cgi?id=1").arg(port)});
    p.waitForFinished(seconds * 1000 + 60000);
    // One "Will retry" warning per retry, after the first attempt.
    *curl = 1 + int(p.readAllStandardError().count("Will retry"));
}

struct TileRun
{
    int requests = 0;       // over the whole run
    int starts = 0;         // "connecting" of the tile
    int log_lines = 0;
    int last_requests = 0;  // in the last 10 s of the run
    int frames = 0;
};

// A tile in direct mode against a server run by `script`, for `seconds`.
TileRun tile_against(const StreamScript& script, const QString& scheme, bool loop, int seconds)
{
    LoopbackServer server;
    add_stream_route(server, "/video.cgi", script);
    TileRun r;
    LogCapture log;
    {
        Canvas c;
        c.set_stream_scheme(scheme);
        c.set_stream_host(QStringLiteral("127.0.0.1"));
        c.set_stream_port(QString::number(server.port()));
        c.set_stream_path(QStringLiteral("/video.cgi?id=1"));
        c.set_codec(QStringLiteral("h264"));
        c.set_buffer_size_ms(0);
        c.set_loop(loop);
        c.resize(640, 360);
        c.show();
        QObject::connect(&c, &Canvas::send_status_message, &c, [&r](QString s) {
            r.starts += s == QLatin1String("connecting");
        });
        QElapsedTimer clock;
        clock.start();
        c.grab();
        const qint64 end = seconds * 1000LL;
        spin_until([&] { return clock.elapsed() >= end - 10000; }, seconds * 1000 + 1000);
        const int before_last = server.request_count();
        spin_until([&] { return clock.elapsed() >= end; }, 11000);
        r.requests = server.request_count();
        r.last_requests = r.requests - before_last;
        r.frames = c.get_last_frame_id();
        c.setEnding();
    }
    r.log_lines = int(log.lines().size());
    spin_until([] { return new_display_thread::live_count() == 0; }, 10000);
    return r;
}

// curl with its retries against the one-part server: it asks once, since
// the reply is complete.
int curl_one_part(const StreamScript& script, int seconds)
{
    LoopbackServer server;
    add_stream_route(server, "/video.cgi", script);
    QProcess p;
    p.start(QStringLiteral("curl"), {"--no-progress-meter", "--retry", "1000", "--retry-all-errors",
                                     "--retry-max-time", QString::number(seconds), "-o", "/dev/null",
                                     QStringLiteral("http://127.0.0.1:%1/video.cgi?id=1").arg(server.port())});
    spin_until([&] { return p.state() == QProcess::NotRunning; }, seconds * 1000 + 60000);
    return server.request_count();
}

} // namespace

int main(int argc, char** argv)
{
    curl_global_init(CURL_GLOBAL_DEFAULT);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const bool quick = app.arguments().contains(QStringLiteral("--quick"));
    const int seconds = quick ? 10 : 60;
    const QString dir = qEnvironmentVariable("ZQ_BENCH_DIR", QStringLiteral("/tmp/zq_bench_stream"));
    QDir(dir).removeRecursively();
    QDir().mkpath(dir);

    out << "Generating " << seconds << " s of 1080p 25 fps H.264 ..." << Qt::endl;
    auto rec = QSharedPointer<StreamParts::Recording>::create();
    QString error;
    if (!StreamParts::make_recording(QDir(dir).filePath("rec"), seconds, QSize(1920, 1080), ZQFixture::Codec::H264,
                                     rec.get(), &error)) {
        out << "fixture failed: " << error << Qt::endl;
        return 1;
    }
    const QString raw = QDir(dir).filePath("raw.h264");
    {
        QFile f(raw);
        f.open(QIODevice::WriteOnly);
        for (const StreamParts::Frame& fr : rec->frames)
            f.write(fr.bytes);
    }
    out << rec->frames.size() << " frames" << Qt::endl;

    if (qEnvironmentVariableIsSet("ZQ_BENCH_LOG"))
        set_log_level(1);
    const bool only_latency = app.arguments().contains(QStringLiteral("--latency"));
    const bool only_restarts = app.arguments().contains(QStringLiteral("--restarts"));
    if (!only_restarts)
        out << "1. Direct mode, server at full speed: parse + decode + convert" << Qt::endl;
    // Rounds interleave the reference and ours, so that a change in the
    // machine's load touches both; the best of each is kept.
    const QStringList ffmpeg_args = {"-hide_banner", "-loglevel", "error", "-threads", "0", "-thread_type", "slice",
                                     "-filter_threads", "1", "-f", "h264", "-i", raw, "-pix_fmt", "bgra", "-f",
                                     "null", "-"};
    double ffmpeg_ms = 1e300, http = 0, https = 0;
    for (int i = 0; i < (only_latency || only_restarts ? 0 : 3); ++i) {
        ffmpeg_ms = std::min(ffmpeg_ms, run_best("ffmpeg", ffmpeg_args, 1));
        http = std::max(http, direct_throughput(rec, LoopbackServer::Http));
        https = std::max(https, direct_throughput(rec, LoopbackServer::Https));
    }
    const double ref_fps = rec->frames.size() * 1000.0 / ffmpeg_ms;
    if (!only_latency && !only_restarts) {
        zq::bench::print_ratio(out, QStringLiteral("HTTP frames/s"), http, ref_fps, QStringLiteral("fps"),
                               QStringLiteral("ffmpeg"));
        zq::bench::print_ratio(out, QStringLiteral("HTTPS frames/s"), https, ref_fps, QStringLiteral("fps"),
                               QStringLiteral("ffmpeg"));
        out << "   target: ratio >= 0.90" << Qt::endl;
    }

    if (app.arguments().contains(QStringLiteral("--throughput")))
        return 0;
    if (!only_restarts) {
        out << "2. Latency, server's last byte of part N to the end of the paint showing frame N" << Qt::endl;
        const int lat_seconds = quick ? 8 : 20;
        const QList<double> direct = latency(rec, 0, lat_seconds);
        out << QStringLiteral("   direct   : %1 frames  median %2 ms  p99 %3 ms   (target median < 40, p99 < 80)")
                   .arg(direct.size())
                   .arg(percentile(direct, 0.5), 0, 'f', 1)
                   .arg(percentile(direct, 0.99), 0, 'f', 1)
            << Qt::endl;
        const QList<double> buffered = latency(rec, 1000, lat_seconds);
        out << QStringLiteral("   buffered : %1 frames  median %2 ms  p99 %3 ms   beside its buffer of 1000 ms")
                   .arg(buffered.size())
                   .arg(percentile(buffered, 0.5), 0, 'f', 1)
                   .arg(percentile(buffered, 0.99), 0, 'f', 1)
            << Qt::endl;

        out << "3. Fast producer, slow consumer: peak resident growth" << Qt::endl;
        const int mem_seconds = quick ? 6 : 15;
        const MemoryResult q = slow_queue_consumer(rec, mem_seconds);
        zq::bench::print_ratio(out, QStringLiteral("queue consumer 100 ms"), q.peak_growth_mb, q.bound_mb,
                               QStringLiteral("MiB"), QStringLiteral("bound"));
        const MemoryResult tile = slow_tile(rec, mem_seconds);
        zq::bench::print_ratio(out, QStringLiteral("tile acknowledging 200 ms"), tile.peak_growth_mb, tile.bound_mb,
                               QStringLiteral("MiB"), QStringLiteral("bound"));
        qint64 drops = 0;
        const MemoryResult busy = direct_busy_gui(rec, 3000, &drops);
        zq::bench::print_ratio(out, QStringLiteral("direct, GUI busy 3 s"), busy.peak_growth_mb,
                               busy.bound_mb, QStringLiteral("MiB"), QStringLiteral("bound"));
        out << "   target: ratio < 1.00 (records taken: " << q.taken << ", frames shown: " << tile.taken
            << ", direct mode: " << drops << " pictures dropped while the GUI thread was busy)" << Qt::endl;
    }

    out << "4. Reconnects against a refused port in 10 s" << Qt::endl;
    int ours = 0, curl = 0;
    refused_reconnects(10, &ours, &curl);
    zq::bench::print_ratio(out, QStringLiteral("requests"), ours, curl, QString(), QStringLiteral("curl --retry"));
    out << "   target: a handful (first retry at once, then 0.1 s doubling to 5 s)" << Qt::endl;

    out << "5. One part per connection, through a tile in direct mode" << Qt::endl;
    StreamScript one_part;
    one_part.recording = rec;
    one_part.count = 1;
    const TileRun short10 = tile_against(one_part, QStringLiteral("http"), false, 10);
    zq::bench::print_ratio(out, QStringLiteral("requests in 10 s"), short10.requests, curl, QString(),
                           QStringLiteral("curl --retry (part 4)"));
    out << "   log lines in 10 s: " << short10.log_lines << ", frames shown: " << short10.frames
        << "; curl --retry --retry-all-errors on this server: " << curl_one_part(one_part, 10) << " request(s)"
        << Qt::endl;
    if (!quick) {
        const TileRun short60 = tile_against(one_part, QStringLiteral("http"), false, 60);
        out << "   60 s: " << short60.requests << " requests, " << short60.last_requests
            << " in the last 10 s (still asking), " << short60.log_lines << " log lines" << Qt::endl;
    }
    out << "   target: a handful in 10 s, and still asking after a minute" << Qt::endl;

    out << "6. Loop mode, an error that ends the stream, 10 s" << Qt::endl;
    StreamScript bad_codec;
    bad_codec.recording = rec;
    bad_codec.realtime = true;
    bad_codec.edit = [](int, StreamParts::Part& p) { p.codec = QStringLiteral("vp8x"); };
    const TileRun codec10 = tile_against(bad_codec, QStringLiteral("http"), true, 10);
    zq::bench::print_ratio(out, QStringLiteral("codec vp8x: requests"), codec10.requests, curl, QString(),
                           QStringLiteral("curl --retry (part 4)"));
    out << "   starts: " << codec10.starts << ", log lines: " << codec10.log_lines << Qt::endl;
    const TileRun ftp10 = tile_against(one_part, QStringLiteral("ftp"), true, 10);
    zq::bench::print_ratio(out, QStringLiteral("scheme ftp: starts"), ftp10.starts, curl, QString(),
                           QStringLiteral("curl --retry (part 4)"));
    out << "   requests: " << ftp10.requests << ", log lines: " << ftp10.log_lines << Qt::endl;
    StreamScript one_then_bad = bad_codec;
    one_then_bad.edit = [](int i, StreamParts::Part& p) {
        if (i >= 1)
            p.codec = QStringLiteral("vp8x");
    };
    const TileRun picture10 = tile_against(one_then_bad, QStringLiteral("http"), true, 10);
    zq::bench::print_ratio(out, QStringLiteral("one picture, then codec vp8x: starts"), picture10.starts, curl,
                           QString(), QStringLiteral("curl --retry (part 4)"));
    out << "   requests: " << picture10.requests << ", log lines: " << picture10.log_lines
        << ", frames shown: " << picture10.frames << Qt::endl;
    out << "   target: a handful (first restart at once, then 1 s doubling to 5 s)" << Qt::endl;
    return 0;
}
