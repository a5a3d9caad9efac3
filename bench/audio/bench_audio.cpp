// Audio decode class and probes, each beside a reference tool on the same data:
//  1. AudioDecodeResample on one hour (AAC 16000 Hz mono, AAC 48000 Hz stereo,
//     MP3 16000 Hz mono) to s16 48000 Hz stereo, against
//     `ffmpeg -threads 1 -f aac|mp3 -i FILE -ar 48000 -ac 2 -f s16le -y /dev/null`,
//     in audio seconds per second.
//  2. ProcessUsage::sample() with its line over 10,000 samples, CPU per sample,
//     against the same three /proc reads through QFile; and its share of a core
//     at one sample a second.
//  3. TestBandwidth on a 64 MiB body of the loopback server against
//     `curl -s -o /dev/null -w '%{speed_download}'` on the same route.
//
// Usage: nice bench_audio [seconds of audio, default 3600]

#include "bench/bench_report.h"
#include "diagnostics/analyse_tools.h"
#include "diagnostics/process_usage.h"
#include "diagnostics/test_bandwidth.h"
#include "playback/audio_decode_resample.h"
#include "tests/support/loopback_server.h"
#include "tests/support/probe_routes.h"
#include "tools/zqfixture/lib/fixture_audio.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QEventLoop>
#include <QTimer>
#include <QTemporaryDir>

#include <curl/curl.h>

#include <ctime>

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/log.h>
}

namespace {

qint64 cpu_ns()
{
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return qint64(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

// Seconds to demux, decode and resample the file through the decode class; -1 on failure.
double ours_decode(const QString& path, const char* format, qint64* samplesOut)
{
    QElapsedTimer t;
    t.start();
    AVFormatContext* fmt = nullptr;
    if (avformat_open_input(&fmt, QFile::encodeName(path).constData(), av_find_input_format(format), nullptr) < 0)
        return -1;
    avformat_find_stream_info(fmt, nullptr);
    AudioDecodeResample d(48000);
    QString error;
    if (!d.open(fmt->streams[0]->codecpar, &error)) {
        avformat_close_input(&fmt);
        return -1;
    }
    AVPacket* pkt = av_packet_alloc();
    QByteArray pcm;
    qint64 samples = 0;
    while (av_read_frame(fmt, pkt) >= 0) {
        pcm.clear(); // what a player hands the device, buffer by buffer
        d.decode(pkt, &pcm);
        samples += pcm.size() / 4;
        av_packet_unref(pkt);
    }
    pcm.clear();
    d.decode(nullptr, &pcm);
    samples += pcm.size() / 4;
    av_packet_free(&pkt);
    avformat_close_input(&fmt);
    *samplesOut = samples;
    return t.nsecsElapsed() / 1e9;
}

double ffmpeg_decode(const QString& path, const char* format)
{
    QElapsedTimer t;
    t.start();
    QProcess p;
    p.start(QStringLiteral("ffmpeg"), {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-threads"),
                                       QStringLiteral("1"), QStringLiteral("-f"), QString::fromLatin1(format),
                                       QStringLiteral("-i"), path, QStringLiteral("-ar"), QStringLiteral("48000"),
                                       QStringLiteral("-ac"), QStringLiteral("2"), QStringLiteral("-f"),
                                       QStringLiteral("s16le"), QStringLiteral("-y"), QStringLiteral("/dev/null")});
    if (!p.waitForFinished(-1) || p.exitCode() != 0)
        return -1;
    return t.nsecsElapsed() / 1e9;
}

// The reference for the process probe: the same three /proc reads through QFile.
void qfile_reads()
{
    for (const char* name : {"/proc/self/stat", "/proc/self/status", "/proc/meminfo"}) {
        QFile f(QString::fromLatin1(name));
        if (f.open(QIODevice::ReadOnly))
            f.readAll();
    }
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    curl_global_init(CURL_GLOBAL_DEFAULT);
    av_log_set_level(AV_LOG_QUIET);
    QTextStream out(stdout);
    const int seconds = argc > 1 ? std::max(10, atoi(argv[1])) : 3600;
    QTemporaryDir dir;

    // 1. Decode and resample.
    struct Case {
        const char* name;
        ZQFixture::AudioCodec codec;
        int rate, channels;
        const char* format;
    };
    const Case cases[] = {{"AAC 16000 Hz mono", ZQFixture::AudioCodec::AAC, 16000, 1, "aac"},
                          {"AAC 48000 Hz stereo", ZQFixture::AudioCodec::AAC, 48000, 2, "aac"},
                          {"MP3 16000 Hz mono", ZQFixture::AudioCodec::MP3, 16000, 1, "mp3"}};
    for (const Case& c : cases) {
        ZQFixture::AudioOptions o;
        o.codec = c.codec;
        o.rate = c.rate;
        o.channels = c.channels;
        const QString base = dir.filePath(QString::fromLatin1(c.format) + QString::number(c.rate));
        QList<ZQFixture::AudioEntry> entries;
        QString error;
        QElapsedTimer gen;
        gen.start();
        if (!ZQFixture::write_audio(o, base, QDate(2024, 1, 1), 0, seconds, &entries, &error)) {
            out << "cannot write " << c.name << ": " << error << Qt::endl;
            return 1;
        }
        const QString path = base + QStringLiteral(".zqaudio");
        qint64 samples = 0;
        const double reference = ffmpeg_decode(path, c.format);
        const double ours = ours_decode(path, c.format, &samples);
        if (ours <= 0 || reference <= 0) {
            out << c.name << ": decoding failed" << Qt::endl;
            continue;
        }
        out << c.name << ": " << seconds << " s of audio (coded in " << gen.elapsed() / 1000 << " s), "
            << samples / 48000 << " s decoded" << Qt::endl;
        zq::bench::print_ratio(out, QStringLiteral("  decode+resample"), seconds / ours, seconds / reference,
                               QStringLiteral("audio s/s"), QStringLiteral("ffmpeg"), 20);
    }

    // 2. Process probe.
    {
        AnalyseTools tools;
        tools.set_output_file(dir.filePath(QStringLiteral("probe.txt")));
        const int n = 10000;
        qint64 c0 = cpu_ns();
        for (int i = 0; i < n; ++i)
            tools.process_usage()->sample();
        const double oursUs = (cpu_ns() - c0) / 1e3 / n;
        c0 = cpu_ns();
        for (int i = 0; i < n; ++i)
            qfile_reads();
        const double refUs = (cpu_ns() - c0) / 1e3 / n;
        tools.set_output_file(QString());
        out << "Process probe: " << n << " samples with their line (stderr and file)" << Qt::endl;
        // Lower is better here.
        zq::bench::print_ratio(out, QStringLiteral("  CPU per sample"), oursUs, refUs, QStringLiteral("us"),
                               QStringLiteral("3 QFile reads"), 20);
        out << QStringLiteral("  ours %1 us per sample; share of a core at one sample a second: %2 %")
                   .arg(oursUs, 0, 'f', 1)
                   .arg(oursUs / 1e6 * 100.0, 0, 'f', 5)
            << Qt::endl;
    }

    // 3. Bandwidth probe on 64 MiB.
    {
        constexpr qint64 kBody = 64LL * 1024 * 1024;
        LoopbackServer server;
        add_probe_body_route(server, kBody);
        const QString base = server.url_string(QStringLiteral("/")).chopped(1);
        // Best of three each, alternating, so that neither side gets the warmer server.
        double oursBps = 0, refBps = 0;
        for (int round = 0; round < 3; ++round) {
            QProcess curl;
            curl.start(QStringLiteral("curl"), {QStringLiteral("-s"), QStringLiteral("-o"), QStringLiteral("/dev/null"),
                                                QStringLiteral("-w"), QStringLiteral("%{speed_download}"),
                                                base + QStringLiteral("/lib/256k.bytes")});
            curl.waitForFinished(120000);
            refBps = std::max(refBps, curl.readAllStandardOutput().trimmed().toDouble());

            AnalyseTools tools;
            tools.set_output_file(dir.filePath(QStringLiteral("bw%1.txt").arg(round)));
            tools.set_server(base);
            QEventLoop loop;
            QObject::connect(tools.test_bandwidth(), &TestBandwidth::run_finished, &loop, &QEventLoop::quit);
            QTimer::singleShot(120000, &loop, &QEventLoop::quit);
            tools.bandwidth_timer_finished();
            loop.exec();
            QFile f(tools.output_file());
            f.open(QIODevice::ReadOnly);
            const QString line = QString::fromUtf8(f.readAll());
            const auto m = QRegularExpression(QStringLiteral(R"(TIME (\d+\.\d+) sec)")).match(line);
            if (m.hasMatch())
                oursBps = std::max(oursBps, kBody / m.captured(1).toDouble());
        }
        out << "Bandwidth probe: 64 MiB from the loopback server (HTTP)" << Qt::endl;
        zq::bench::print_ratio(out, QStringLiteral("  download speed"), oursBps / 1048576, refBps / 1048576,
                               QStringLiteral("MiB/s"), QStringLiteral("curl"), 20);
    }
    return 0;
}
