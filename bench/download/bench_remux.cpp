// Remux of raw H.264 into MP4: ZQStreamRemux::remux_url beside
// `ffmpeg -f h264 -framerate 25 -i IN -c copy OUT.mp4` on the same input, the
// data files of a 1080p 25 fps range of --minutes one-minute recordings
// (default 10) put end to end; alternating, best of --runs each.
//
//   bench_remux [--minutes N] [--runs N] [--work DIR]
//
// The range and the raw input are kept in the work folder (default
// $ZQ_BENCH_DIR/zq_bench_download or /tmp/zq_bench_download). The remuxer deletes
// its input on success, so each of our runs gets a hard link to the input.

#include "bench/bench_report.h"
#include "bench/download/bench_download_common.h"
#include "export/zq_stream_remux.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTextStream>

#include <unistd.h>

namespace {

QTextStream out(stdout);

// The recordings' data files end to end: one raw H.264 stream (each starts with its headers).
bool make_raw(const ZQFixture::Result& fixture, const QString& raw)
{
    qint64 expected = 0;
    for (const ZQFixture::WrittenFile& f : fixture.files)
        expected += QFileInfo(f.data_path).size();
    if (QFileInfo(raw).size() == expected)
        return true;
    QFile o(raw);
    if (!o.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    for (const ZQFixture::WrittenFile& f : fixture.files) {
        QFile in(f.data_path);
        if (!in.open(QIODevice::ReadOnly))
            return false;
        while (!in.atEnd())
            if (o.write(in.read(8 << 20)) < 0)
                return false;
    }
    return true;
}

int packets_of(const QString& mp4)
{
    QProcess p;
    p.start("ffprobe", {"-v", "error", "-select_streams", "v:0", "-count_packets", "-show_entries",
                        "stream=nb_read_packets", "-of", "csv=p=0", mp4});
    p.waitForFinished(600000);
    return p.readAllStandardOutput().trimmed().toInt();
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const int minutes = std::max(1, zq::bench::option(args, "--minutes", "10").toInt());
    const int runs = std::max(1, zq::bench::option(args, "--runs", "3").toInt());
    const QString work = zq::bench::work_folder(args, "zq_bench_download");

    const ZQFixture::Result fixture = zq::bench::fixture_1080p(out, work, minutes, 3);
    if (!fixture.ok) {
        out << "fixture: " << fixture.error << Qt::endl;
        return 1;
    }
    const QString raw = QDir(work).filePath(QStringLiteral("range_1080p_%1min.h264").arg(minutes));
    if (!make_raw(fixture, raw)) {
        out << "cannot write " << raw << Qt::endl;
        return 1;
    }
    const qint64 bytes = QFileInfo(raw).size();
    const int frames = minutes * 60 * 25;
    out << "Input: " << minutes << " min of 1080p 25 fps H.264, " << frames << " frames, "
        << QString::number(bytes / 1e6, 'f', 1) << " MB; best of " << runs << " runs each" << Qt::endl;

    const QString input = QDir(work).filePath("remux_in.h264");
    const QString part = QDir(work).filePath("remux_ours.part.mp4");
    const QString final_mp4 = QDir(work).filePath("remux_ours.mp4");
    const QString ref_mp4 = QDir(work).filePath("remux_ffmpeg.mp4");
    std::vector<double> ours_ms, ref_ms;
    for (int i = 0; i < runs; ++i) {
        QFile::remove(input);
        QFile::remove(final_mp4);
        QFile::remove(part);
        if (::link(QFile::encodeName(raw).constData(), QFile::encodeName(input).constData()) != 0) {
            out << "cannot link " << input << Qt::endl;
            return 1;
        }
        ZQStreamRemux remux;
        remux.set_input_format(QStringLiteral("h264")); // as the stream job reads its job file
        QElapsedTimer t;
        t.start();
        const int code = remux.remux_url(input, part, final_mp4, 25.0);
        const double ms = t.nsecsElapsed() / 1e6;
        if (code != 0) {
            out << "  remux_url returned " << code << Qt::endl;
            return 1;
        }
        ours_ms.push_back(ms);
        QFile::remove(ref_mp4);
        const double r = zq::bench::time_process(out, "ffmpeg", {"-nostdin", "-loglevel", "error", "-y", "-f", "h264",
                                                                 "-framerate", "25", "-i", raw, "-c", "copy", ref_mp4});
        if (r < 0)
            return 1;
        ref_ms.push_back(r);
        out << "  run " << i + 1 << ": ours " << QString::number(ms, 'f', 0) << " ms, ffmpeg "
            << QString::number(r, 'f', 0) << " ms" << Qt::endl;
    }
    const int ours_packets = packets_of(final_mp4), ref_packets = packets_of(ref_mp4);
    out << "  packets: ours " << ours_packets << ", ffmpeg " << ref_packets << "; MP4 sizes: ours "
        << QFileInfo(final_mp4).size() << ", ffmpeg " << QFileInfo(ref_mp4).size() << Qt::endl;
    zq::bench::print_ratio(out, "remux 1080p (MB/s)", bytes / 1e3 / zq::bench::best(ours_ms),
                           bytes / 1e3 / zq::bench::best(ref_ms), "MB/s", "ffmpeg");
    zq::bench::print_ratio(out, "remux 1080p (frames/s)", frames * 1000.0 / zq::bench::best(ours_ms),
                           frames * 1000.0 / zq::bench::best(ref_ms), "fps", "ffmpeg");
    QFile::remove(final_mp4);
    QFile::remove(ref_mp4);
    return ours_packets == ref_packets ? 0 : 1;
}
