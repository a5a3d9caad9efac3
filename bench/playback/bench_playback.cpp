// Benchmarks of the playback path, each beside a reference tool on the same
// data in the same run:
//   1. seek-index parsing (one hour at 25 fps, 90,000 lines) against awk;
//   2. decode + BGRA conversion of a one-minute 1080p H.264 recording through
//      VideoDecoder against `ffmpeg -f h264 -i FILE -pix_fmt bgra -f null -`
//      with the same thread settings (slice threads, automatic count, the
//      conversion on one thread);
//   3. the playback reader on a one-hour 1080p 25 fps day (GOP 50): loading a
//      recording and seeking to a second against ffmpeg decoding the same
//      group of pictures up to that frame, then forward, fast-forward and
//      backward playback paced by its own timer;
//   4. the pace at rates 1 and -1 of small recordings of 5 to 60 frames per
//      second, whole or not, stamps cut or rounded, a camera clock a little
//      slow: pictures per second shown by the reader's own timer against the
//      rate the recording's stamps give (and what the former rule, a
//      whole-millisecond interval of 1000 / (fps - 1), would show);
//   5. the content speed at every rate (-8 to 8) on four recordings of 25 fps
//      back to back with a keyframe every picture, every second and every two
//      seconds: seconds of recording per second on the pictures the reader's
//      own timer shows, beside the label (and what the former rule, the next
//      keyframe at each tick, would give);
//   6. a day whose rate changes (25, 5, 25 fps) read across its switches at
//      1 and -1: pictures per second of each recording beside its own rate.
// Generated data is kept in $ZQ_BENCH_DIR (default /tmp/zq_bench_playback).
//
//   bench_playback [--quick] [--pace]   (--quick: 10-minute day, shorter runs;
//                                        --pace: sections 4 to 6 only)

#include "playback/video_decoder.h"
#include "playback/zq_stream_read_and_control.h"
#include "recordings/seek_index.h"
#include "tools/zqfixture/lib/fixture_pattern.h"
#include "tools/zqfixture/lib/fixture_writer.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QSet>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <malloc.h>

namespace {

QString g_dir;

double thread_cpu_ms()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

// Wall time of a command in milliseconds, best of n.
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
            std::printf("  %s failed: %s\n", qPrintable(program), p.readAll().left(400).constData());
            return -1;
        }
        best = std::min(best, t.nsecsElapsed() / 1e6);
    }
    return best;
}

ZQFixture::Result fixture(const QString& name, int minutes, int threads)
{
    ZQFixture::Options o;
    o.output_parent = QDir(g_dir).filePath(name);
    o.cameras = {1};
    o.recordings_per_camera = minutes;
    o.seconds_per_recording = 60;
    o.size = QSize(1920, 1080);
    o.fps = 25;
    o.gop = 50;
    o.codec = ZQFixture::Codec::H264;
    o.threads = threads;
    // Reuse what an earlier run generated.
    const QString marker = QDir(o.output_parent).filePath("complete");
    ZQFixture::Result r;
    if (QFile::exists(marker)) {
        QDir root(o.output_parent);
        const QStringList roots = root.entryList({"zqcore_*"}, QDir::Dirs, QDir::Name);
        if (!roots.isEmpty()) {
            r.root_path = root.filePath(roots.first());
            QList<QString> seeks;
            QDir day(QDir(r.root_path).filePath("2024-01-01"));
            for (const QString& folder : day.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name)) {
                QDir sub(day.filePath(folder));
                for (const QString& f : sub.entryList({"*.zqvideo"}, QDir::Files, QDir::Name)) {
                    ZQFixture::WrittenFile w;
                    w.data_path = sub.filePath(f);
                    w.seek_path = replace_suffix(w.data_path, "zqseek");
                    r.files << w;
                }
            }
            r.ok = r.files.size() == minutes;
            if (r.ok)
                return r;
        }
    }
    std::printf("  generating %d minute(s) of 1080p H.264 in %s ...\n", minutes, qPrintable(o.output_parent));
    std::fflush(stdout);
    QElapsedTimer t;
    t.start();
    r = ZQFixture::write(o);
    if (r.ok) {
        QFile m(marker);
        if (m.open(QIODevice::WriteOnly))
            m.write("ok\n");
        std::printf("  generated in %.1f s\n", t.elapsed() / 1000.0);
    }
    return r;
}

// ---------------------------------------------------------------- 1. parsing

void bench_parse()
{
    std::printf("\n1. Seek-index parsing, one hour at 25 fps (90,000 lines)\n");
    const QString path = QDir(g_dir).filePath("1_20240101_080000.zqseek");
    {
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly))
            return;
        QRandomGenerator rng(7);
        QByteArray text;
        for (int i = 0; i < 90000; ++i) {
            const qint64 ms = 8LL * 3600000 + i * 40LL;
            const QTime t = QTime::fromMSecsSinceStartOfDay(int(ms));
            text += "20240101" + t.toString("HHmmsszzz").toLatin1() + ":video1:frame/h264:1920x1080:"
                    + (i % 50 == 0 ? "1" : "0") + ":" + QByteArray::number(i % 50 == 0 ? 150000 + rng.bounded(50000) : 8000 + rng.bounded(30000))
                    + "\n";
        }
        f.write(text);
    }
    SeekIndexOptions options;
    options.stream = QStringLiteral("1");
    std::vector<double> runs;
    for (int i = 0; i < 30; ++i) {
        QElapsedTimer t;
        t.start();
        const QList<ZQFrame> frames = parse_seek_index(path, options);
        runs.push_back(t.nsecsElapsed() / 1e6);
        if (frames.size() != 90000)
            std::printf("  wrong count %lld\n", qint64(frames.size()));
    }
    std::sort(runs.begin(), runs.end());
    const double ours = runs[runs.size() / 2];

    const size_t before = mallinfo2().uordblks;
    const QList<ZQFrame> kept = parse_seek_index(path, options);
    const size_t after = mallinfo2().uordblks;
    const double perRecord = double(after - before) / double(kept.size());

    const double awk = run_best("awk", {"-F:", "{s+=$6} END{print s}", path}, 5);
    std::printf("  ZQPlayer parse : %8.2f ms median (%.2f best)  = %.2f M lines/s   target >= 2 M lines/s, < 50 ms\n",
                ours, runs.front(), 90000 / ours / 1000.0);
    std::printf("  awk sum sizes  : %8.2f ms (process included)\n", awk);
    std::printf("  ratio awk/ours : %8.2f\n", awk / ours);
    std::printf("  memory         : %8.1f bytes per frame record, list as returned (sizeof ZQFrame %zu)   target <= 160\n", perRecord,
                sizeof(ZQFrame));
}

// ---------------------------------------------------------------- 2. decoding

double g_decodeMsPerFrame = 0;

void bench_decode(const ZQFixture::Result& minute)
{
    std::printf("\n2. Decode + BGRA conversion, one minute of 1080p H.264 (1500 frames)\n");
    const QString data = minute.files.first().data_path;
    SeekIndexOptions options;
    options.stream = QStringLiteral("1");
    const QList<ZQFrame> frames = parse_seek_index(minute.files.first().seek_path, options);
    QFile f(data);
    if (!f.open(QIODevice::ReadOnly))
        return;
    const QByteArray bytes = f.readAll();

    double best = 1e300;
    for (int run = 0; run < 3; ++run) {
        VideoDecoder decoder;
        decoder.open_decoder("libx264");
        QElapsedTimer t;
        t.start();
        int pictures = 0;
        for (const ZQFrame& fr : frames) {
            const QImage image = decoder.decode_image(reinterpret_cast<const uint8_t*>(bytes.constData()) + fr.get_offset(),
                                                      int(fr.get_size()));
            pictures += !image.isNull();
        }
        const double ms = t.nsecsElapsed() / 1e6;
        if (pictures != frames.size())
            std::printf("  only %d pictures\n", pictures);
        best = std::min(best, ms);
    }
    // Decoding alone, for the reader figures below.
    {
        VideoDecoder decoder;
        decoder.open_decoder("libx264");
        QElapsedTimer t;
        t.start();
        for (const ZQFrame& fr : frames)
            decoder.decode_frame(reinterpret_cast<const uint8_t*>(bytes.constData()) + fr.get_offset(), int(fr.get_size()),
                                 false);
        g_decodeMsPerFrame = t.nsecsElapsed() / 1e6 / frames.size();
    }
    // Same thread settings as VideoDecoder: slice threads for decoding, and
    // the conversion on one thread (ffmpeg would otherwise spread its scale
    // filter over every core; that figure is shown for reference).
    const double ffmpeg = run_best("ffmpeg", {"-hide_banner", "-loglevel", "error", "-threads", "0", "-thread_type", "slice",
                                              "-filter_threads", "1", "-f", "h264", "-i", data, "-pix_fmt", "bgra", "-f",
                                              "null", "-"},
                                   3);
    const double ffmpegAll = run_best("ffmpeg", {"-hide_banner", "-loglevel", "error", "-threads", "0", "-thread_type",
                                                 "slice", "-f", "h264", "-i", data, "-pix_fmt", "bgra", "-f", "null", "-"},
                                      3);
    const double oursFps = frames.size() * 1000.0 / best;
    const double refFps = frames.size() * 1000.0 / ffmpeg;
    std::printf("  VideoDecoder   : %8.1f ms = %7.1f fps (decode only %.2f ms/frame)\n", best, oursFps, g_decodeMsPerFrame);
    std::printf("  ffmpeg         : %8.1f ms = %7.1f fps (-threads 0 -thread_type slice -filter_threads 1, process included)\n",
                ffmpeg, refFps);
    std::printf("  ffmpeg, scale on every core: %8.1f ms = %7.1f fps (for reference)\n", ffmpegAll,
                frames.size() * 1000.0 / ffmpegAll);
    std::printf("  ratio ours/ffmpeg (fps): %.2f   target >= 0.90\n", oursFps / refFps);
}

// ---------------------------------------------------------------- 3. reader

struct Watch
{
    int pictures = 0;
    int outOfOrder = 0;
    int skipped = 0;
    qint64 lastMs = -1;
    int direction = 1;
    int keyframes = 0;
    qint64 firstNs = -1; // steady clock at the first and the last picture
    qint64 lastNs = -1;
    qint64 longestGapNs = 0;
};

qint64 steady_ns()
{
    return qint64(std::chrono::duration_cast<std::chrono::nanoseconds>(
                      std::chrono::steady_clock::now().time_since_epoch())
                      .count());
}

qint64 display_ms(const QString& ts) // "yyyy-MM-dd HH:mm:ss.zzz"
{
    const QTime t(ts.mid(11, 2).toInt(), ts.mid(14, 2).toInt(), ts.mid(17, 2).toInt(), ts.mid(20, 3).toInt());
    return t.isValid() ? t.msecsSinceStartOfDay() : -1;
}

void bench_reader(const ZQFixture::Result& day, bool quick)
{
    std::printf("\n3. Playback reader on a %lld-minute 1080p 25 fps day (GOP 50)\n", qint64(day.files.size()));
    QList<QFileInfo> dayFiles;
    for (const ZQFixture::WrittenFile& f : day.files)
        dayFiles << QFileInfo(f.data_path);

    // a. Load a recording and seek to a second of it, up to the first picture.
    std::printf("  a. load + seek to the first picture (ffmpeg: same group decoded up to that frame, process included)\n");
    QRandomGenerator rng(11);
    double worst = 0;
    for (int n = 0; n < (quick ? 4 : 8); ++n) {
        const int file = int(rng.bounded(day.files.size()));
        const int second = int(rng.bounded(60));
        const QString seek = day.files[file].seek_path;
        const QString stamp = "20240101" + QTime(8, 0, 0).addSecs(file * 60 + second).toString("HHmmss");

        QElapsedTimer parse;
        parse.start();
        SeekIndexOptions options;
        options.stream = "1";
        const QList<ZQFrame> entries = parse_seek_index(seek, options);
        const double parseMs = parse.nsecsElapsed() / 1e6;

        ZQStreamReadAndControl reader;
        int shown = 0;
        QObject::connect(&reader, &ZQStreamReadAndControl::set_display_frame, [&shown] { ++shown; });
        QElapsedTimer t;
        t.start();
        reader.init_displayer_for_stream(QFileInfo(seek), "1", dayFiles);
        reader.set_read_timestamp(stamp);
        const double ours = t.nsecsElapsed() / 1e6;
        const int index = reader.get_index();
        reader.wait_for_prefetches();

        // The same group of pictures from its keyframe up to the frame shown.
        int k = index;
        while (k > 0 && !entries.at(k).keyframe_contains_one())
            --k;
        QFile in(day.files[file].data_path);
        in.open(QIODevice::ReadOnly);
        in.seek(entries.at(k).get_offset());
        const QByteArray cut = in.read(entries.at(index).get_offset() + entries.at(index).get_size() - entries.at(k).get_offset());
        const QString cutPath = QDir(g_dir).filePath("cut.h264");
        QFile out(cutPath);
        out.open(QIODevice::WriteOnly);
        out.write(cut);
        out.close();
        const double ffmpeg = run_best("ffmpeg", {"-hide_banner", "-loglevel", "error", "-threads", "0", "-thread_type",
                                                  "slice", "-f", "h264", "-i", cutPath, "-pix_fmt", "bgra", "-f", "null", "-"},
                                       3);
        const double ratio = ours / (ffmpeg + parseMs);
        worst = std::max(worst, ratio);
        std::printf("     %s  entry %4d (%d frame(s) of its group)  ours %6.1f ms  ffmpeg %6.1f ms + parse %5.1f ms  "
                    "ratio %.2f  %s\n",
                    qPrintable(stamp), index, index - k + 1, ours, ffmpeg, parseMs, ratio, shown == 1 ? "" : "NO PICTURE");
    }
    std::printf("     worst ratio %.2f   target <= 1.30\n", worst);

    // b, c, d: paced by the reader's own timer, on this (GUI) thread.
    auto run = [&](const char* label, int file, const QString& stamp, double rate, int seconds, int direction) {
        ZQStreamReadAndControl reader;
        Watch w;
        w.direction = direction;
        QObject::connect(&reader, &ZQStreamReadAndControl::set_display_frame,
                         [&w](QImage, int, int, int, QString ts, QString, bool, int, double, bool key) {
                             const qint64 ms = display_ms(ts);
                             if (w.lastMs >= 0 && w.direction != 0) {
                                 const qint64 d = (ms - w.lastMs) * w.direction;
                                 if (d <= 0)
                                     ++w.outOfOrder;
                                 else if (d > 40) {
                                     w.skipped += int(d / 40) - 1;
                                     if (qEnvironmentVariableIsSet("ZQ_BENCH_VERBOSE"))
                                         std::printf("     skip at picture %d (%s)\n", w.pictures, qPrintable(ts));
                                 }
                             }
                             w.lastMs = ms;
                             w.keyframes += key;
                             ++w.pictures;
                             const qint64 now = steady_ns();
                             if (w.lastNs >= 0)
                                 w.longestGapNs = std::max(w.longestGapNs, now - w.lastNs);
                             else
                                 w.firstNs = now;
                             w.lastNs = now;
                         });
        reader.init_displayer_for_stream(QFileInfo(day.files[file].seek_path), "1", dayFiles);
        reader.set_read_timestamp(stamp);
        reader.read_forward();
        reader.change_rate(rate);
        w = Watch{};
        w.direction = direction;
        QEventLoop loop;
        QTimer::singleShot(seconds * 1000, &loop, &QEventLoop::quit);
        const double cpu0 = thread_cpu_ms();
        QElapsedTimer wall;
        wall.start();
        loop.exec();
        const double busy = (thread_cpu_ms() - cpu0) / double(wall.elapsed()) * 100.0;
        const double pps = w.pictures * 1000.0 / double(wall.elapsed());
        // From the first picture to the last: the pace itself, without the wait for the first.
        const double pace = w.pictures > 1 ? (w.pictures - 1) * 1e9 / double(w.lastNs - w.firstNs) : 0.0;
        std::printf("  %s: %6.1f pictures/s (%.2f from the first to the last), longest gap %.0f ms, %d keyframes, "
                    "%d out of order, %d skipped, GUI thread %4.1f %% busy\n",
                    label, pps, pace, w.longestGapNs / 1e6, w.keyframes, w.outOfOrder, w.skipped, busy);
        return std::make_pair(pps, busy);
    };
    const int middle = int(day.files.size() / 2);
    const QString stampMiddle = "20240101" + QTime(8, 0, 0).addSecs(middle * 60 + 40).toString("HHmmss");
    const int secs = quick ? 4 : 10;
    const auto fwd = run("b. forward x1   ", middle, stampMiddle, 1.0, secs, 1);
    std::printf("     target: 25 pictures/s (the recording's own rate), GUI < 50 %% busy\n");
    run("c. forward x8 (keyframes only)", middle, stampMiddle, 8.0, secs, 0);
    std::printf("     target: 8 s of recording per second: the keyframe due every 250 ms (one every 2 s of "
                "recording), a tick every 62 ms\n");
    const auto back = run("d. backward x-1 ", middle, stampMiddle, -1.0, secs, -1);
    // The approach without the picture cache decodes from the keyframe for
    // every picture shown: on average half a group (25 frames) per picture.
    const double naive = 25.0 * g_decodeMsPerFrame * back.first / 10.0;
    std::printf("     target: every frame in order at 25/s; decoding from the keyframe for every picture would need "
                "%.0f %% of the GUI thread (25 decodes of %.2f ms per picture)\n",
                naive, g_decodeMsPerFrame);
    (void)fwd;
}

// ---------------------------------------------------------------- 4. pace

void bench_pace(bool quick)
{
    const int seconds = quick ? 6 : 20;
    std::printf("\n4. Pace at rates 1 and -1, 64x48 recordings (decoding costs nothing), %d s each on the reader's "
                "own timer\n",
                seconds);
    std::printf("   %-34s %5s %12s %12s %7s %16s\n", "recording", "rate", "ours /s", "recording /s", "ratio",
                "former rule /s");
    struct Case
    {
        const char* name;
        int fps;
        double period;
        bool rounded;
    };
    const Case cases[] = {
        {"5 fps", 5, 0, false},
        {"10 fps", 10, 0, false},
        {"12.5 fps", 12, 80.0, false},
        {"25 fps", 25, 0, false},
        {"30 fps, stamps cut", 30, 0, false},
        {"30 fps, stamps rounded (29.9998)", 30, 0, true},
        {"25 fps, clock 0.04 % slow (24.99)", 25, 40.016, false},
        {"2.5 fps", 2, 400.0, false},
        {"60 fps", 60, 0, false},
    };
    double worst = 1.0;
    int n = 0;
    for (const Case& c : cases) {
        ZQFixture::Options o;
        o.output_parent = QDir(g_dir).filePath(QStringLiteral("pace%1").arg(n++));
        o.cameras = {1};
        o.seconds_per_recording = seconds + 4;
        o.size = QSize(64, 48);
        o.fps = c.fps;
        o.gop = 10;
        o.stamp_period_ms = c.period;
        o.round_stamps = c.rounded;
        o.threads = 1;
        const ZQFixture::Result r = ZQFixture::write(o);
        if (!r.ok) {
            std::printf("   fixture failed: %s\n", qPrintable(r.error));
            continue;
        }
        const ZQFixture::WrittenFile& f = r.files.first();
        const double own = (f.frames.size() - 1) * 1000.0 / double(f.frames.last().time_ms - f.frames.first().time_ms);
        for (const double rate : {1.0, -1.0}) {
            ZQStreamReadAndControl reader;
            QList<qint64> at;
            QElapsedTimer clock;
            clock.start();
            QObject::connect(&reader, &ZQStreamReadAndControl::set_display_frame,
                             [&at, &clock] { at << clock.nsecsElapsed(); });
            reader.init_displayer_for_stream(QFileInfo(f.seek_path), "1", {QFileInfo(f.data_path)});
            // The former rule: 1000 / (fps - 1) truncated, in whole milliseconds.
            const double estimate = reader.get_frames_per_second();
            const int divisor = std::isfinite(estimate) && estimate >= 1.0 ? std::max(1, int(estimate - 1.0)) : 1;
            const double former = 1000.0 / std::max(1, 1000 / divisor);
            reader.set_index(rate > 0 ? 0 : int(f.frames.size()) - 1);
            at.clear();
            reader.change_rate(rate);
            QEventLoop loop;
            QTimer::singleShot(seconds * 1000, &loop, &QEventLoop::quit);
            loop.exec();
            reader.stop();
            if (at.size() < 2) {
                std::printf("   %-34s %5.0f   no pictures\n", c.name, rate);
                continue;
            }
            const double ours = (at.size() - 1) * 1e9 / double(at.last() - at.first());
            const double ratio = ours / own;
            if (std::abs(ratio - 1.0) > std::abs(worst - 1.0))
                worst = ratio;
            std::printf("   %-34s %5.0f %12.3f %12.4f %7.4f %16.3f\n", c.name, rate, ours, own, ratio, former);
            std::fflush(stdout);
        }
    }
    std::printf("   worst ratio %.4f   target 0.97 - 1.03\n", worst);
    std::printf("   (former rule: computed from the reader's estimate, 1000 / (1000 / trunc(fps - 1)) pictures/s)\n");
}


// ---------------------------------------------------------------- 5. content speed

// Plays `files` from the first (forward) or the last entry (backward) at `rate` by the reader's own
// timer for `seconds` of the wall clock; the pictures shown, each with the wall clock (ns), the time
// on the picture (ms) and the start of its recording.
struct Seen
{
    qint64 atNs;
    qint64 contentMs;
    qint64 recordingMs;
};

QList<Seen> play_for(const QList<ZQFixture::WrittenFile>& files, int first, int index, double rate, double seconds)
{
    QList<QFileInfo> list;
    for (const ZQFixture::WrittenFile& f : files)
        list << QFileInfo(f.data_path);
    ZQStreamReadAndControl reader;
    QList<Seen> seen;
    QElapsedTimer clock;
    clock.start();
    QObject::connect(&reader, &ZQStreamReadAndControl::set_display_frame, [&](QImage image) {
        const ZQFixture::PatternValue v = ZQFixture::read_pattern(image);
        if (v.valid)
            seen << Seen{clock.nsecsElapsed(), v.time_ms(), v.recording_start_ms};
    });
    reader.init_displayer_for_stream(QFileInfo(files[first].seek_path), "1", list);
    reader.set_index(index < 0 ? int(reader.get_frame_index().size()) - 1 : index);
    seen.clear();
    reader.change_rate(rate);
    QEventLoop loop;
    QTimer::singleShot(int(seconds * 1000), &loop, &QEventLoop::quit);
    loop.exec();
    reader.stop();
    reader.wait_for_prefetches();
    return seen;
}

void bench_content_speed(bool quick)
{
    const double seconds = quick ? 3 : 8;
    std::printf("\n5. Content speed: seconds of recording per second on the pictures shown, four 20 s recordings of "
                "25 fps back to back, 64x48, %.0f s each on the reader's own timer\n",
                seconds);
    std::printf("   %-6s %5s %10s %10s %7s %9s %11s %16s\n", "GOP", "label", "ours s/s", "ratio", "pics", "pics/s",
                "recordings", "former rule s/s");
    double worst = 1.0;
    for (const int gop : {1, 25, 50}) {
        ZQFixture::Options o;
        o.output_parent = QDir(g_dir).filePath(QStringLiteral("speed_gop%1").arg(gop));
        o.cameras = {1};
        o.recordings_per_camera = 4;
        o.seconds_per_recording = 20;
        o.size = QSize(64, 48);
        o.fps = 25;
        o.gop = gop;
        o.threads = 2;
        const ZQFixture::Result r = ZQFixture::write(o);
        if (!r.ok) {
            std::printf("   fixture failed: %s\n", qPrintable(r.error));
            continue;
        }
        for (const int rate : {1, 2, 4, 8, -1, -2, -4, -8}) {
            const bool forward = rate > 0;
            // Enough recording for the run (x8: the whole day in 10 s).
            const double run = std::min(seconds, 75.0 / std::abs(rate));
            const QList<Seen> seen = play_for(r.files, forward ? 0 : int(r.files.size()) - 1, forward ? 0 : -1, rate, run);
            if (seen.size() < 2) {
                std::printf("   %-6d %4dx   no pictures\n", gop, rate);
                continue;
            }
            const double wall = (seen.last().atNs - seen.first().atNs) / 1e9;
            const double speed = (seen.last().contentMs - seen.first().contentMs) / 1000.0 / wall;
            const double ratio = speed / rate;
            QSet<qint64> recordings;
            for (const Seen& x : seen)
                recordings.insert(x.recordingMs);
            // The former rule showed the next keyframe at each tick: 2 |rate| ticks per second,
            // each a keyframe spacing further on (every frame at rates 1 and -1).
            const double former = std::abs(rate) < 2 ? rate : 2.0 * rate * gop / 25.0;
            if (std::abs(ratio - 1.0) > std::abs(worst - 1.0))
                worst = ratio;
            std::printf("   %-6d %4dx %10.3f %10.3f %7lld %9.1f %11lld %16.2f\n", gop, rate, speed, ratio,
                        qint64(seen.size()), (seen.size() - 1) / wall, qint64(recordings.size()), former);
            std::fflush(stdout);
        }
    }
    std::printf("   worst ratio %.3f   target 0.95 - 1.05\n", worst);
}

// ---------------------------------------------------------------- 6. a day whose rate changes

void bench_rate_changes(bool quick)
{
    std::printf("\n6. A day whose rate changes: 08:00:00 25 fps, 08:00:10 5 fps, 08:00:20 25 fps (10 s each), "
                "read across the switches at 1 and -1 on the reader's own timer\n");
    QList<ZQFixture::WrittenFile> day;
    const int rates[] = {25, 5, 25};
    for (int i = 0; i < 3; ++i) {
        ZQFixture::Options o;
        o.output_parent = QDir(g_dir).filePath(QStringLiteral("rates%1").arg(i));
        o.cameras = {1};
        o.start_time = QTime(8, 0, 10 * i);
        o.seconds_per_recording = 10;
        o.size = QSize(64, 48);
        o.fps = rates[i];
        o.gop = rates[i];
        o.threads = 1;
        const ZQFixture::Result r = ZQFixture::write(o);
        if (!r.ok) {
            std::printf("   fixture failed: %s\n", qPrintable(r.error));
            return;
        }
        day << r.files.first();
    }
    std::printf("   %5s %-10s %8s %12s %10s %8s\n", "rate", "recording", "own /s", "ours /s", "ratio", "s/s");
    double worst = 1.0;
    for (const int rate : {1, -1}) {
        // From 2 s before the 5 fps recording (after it, backward), through it and the next one.
        const double run = quick ? 16 : 22;
        const QList<Seen> seen = play_for(day, rate > 0 ? 0 : 2, rate > 0 ? 200 : 50, rate, run);
        for (int i = 0; i < 3; ++i) {
            QList<Seen> mine;
            for (const Seen& x : seen)
                if (x.recordingMs == (8 * 3600 + 10 * i) * 1000LL)
                    mine << x;
            if (mine.size() < 2)
                continue;
            const double wall = (mine.last().atNs - mine.first().atNs) / 1e9;
            const double perSecond = (mine.size() - 1) / wall;
            const double speed = (mine.last().contentMs - mine.first().contentMs) / 1000.0 / wall;
            const double ratio = perSecond / rates[i];
            if (std::abs(ratio - 1.0) > std::abs(worst - 1.0))
                worst = ratio;
            std::printf("   %5d %-10s %8d %12.3f %10.4f %8.3f\n", rate,
                        qPrintable(QTime(8, 0, 10 * i).toString("HH:mm:ss")), rates[i], perSecond, ratio, speed);
        }
    }
    std::printf("   worst ratio %.4f   target 0.95 - 1.05 (the former rule kept the first recording's rate: 25/s in "
                "the 5 fps one, 5/s after it)\n",
                worst);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const bool quick = app.arguments().contains("--quick");
    g_dir = qEnvironmentVariable("ZQ_BENCH_DIR", "/tmp/zq_bench_playback");
    QDir().mkpath(g_dir);
    std::printf("bench_playback (data in %s)\n", qPrintable(g_dir));
    if (app.arguments().contains("--pace")) {
        bench_pace(quick);
        bench_content_speed(quick);
        bench_rate_changes(quick);
        return 0;
    }

    bench_parse();

    const ZQFixture::Result minute = fixture("minute", 1, 1);
    if (!minute.ok) {
        std::printf("fixture failed: %s\n", qPrintable(minute.error));
        return 1;
    }
    bench_decode(minute);

    const ZQFixture::Result day = fixture(quick ? "day10" : "day60", quick ? 10 : 60, 3);
    if (!day.ok) {
        std::printf("fixture failed: %s\n", qPrintable(day.error));
        return 1;
    }
    bench_reader(day, quick);
    bench_pace(quick);
    bench_content_speed(quick);
    bench_rate_changes(quick);
    return 0;
}
