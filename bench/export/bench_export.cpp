// Export benchmark (Release build, run with nice):
//   bench_export [--minutes N] [--raw-minutes N] [--raw-rounds N] [--formats h264,hevc,mjpeg,vp9,av1]
//                [--work DIR]
//
// 1. Re-encode of an N-minute (default 5) 1080p 25 fps H.264 range, band off,
//    per format: our export (start to its terminal signal) against
//    `ffmpeg -f h264 -i <the range's data files concatenated>` with the same
//    encoder, options and threads, in frames per second.
// 2. The same H.264 export with the band on (only its rows are painted and
//    converted), the queue's peak and the row text's update rate.
// 3. Raw copy of a 1080p hour (the generated minute repeated as sixty
//    recordings) in a storage root that also holds the camera-information
//    files of a month of days, into a folder not there yet, against `cp -r` of
//    the same root on the same file system, warm cache, in N rounds (default
//    5), each going first in every other round and each after a sync: the
//    best and the median round of each. Both copies are checked to hold the same files and sizes;
//    a failed run prints no ratio.

#include "../bench_report.h"
#include "export/ff_export.h"
#include "export/raw_export.h"
#include "tools/zqfixture/lib/fixture_writer.h"

#include <QGuiApplication>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QMap>
#include <QProcess>
#include <QSignalSpy>
#include <QTextStream>
#include <algorithm>
#include <cstdio>

extern "C" {
#include <libavutil/log.h>
}

namespace {

QTextStream out(stdout);

double run_process(const QString& program, const QStringList& args)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QElapsedTimer t;
    t.start();
    p.start(program, args);
    p.waitForFinished(-1);
    const double ms = double(t.nsecsElapsed()) / 1e6;
    if (p.exitCode() != 0)
        out << "  " << program << " failed: " << args.join(' ') << Qt::endl;
    return ms;
}

// Our figure beside the reference's, or only the failure: a run that did not
// do the work has no speed to compare.
void print_result(const QString& what, bool ok, double ours, double reference, const QString& unit,
                  const QString& referenceName)
{
    if (ok)
        zq::bench::print_ratio(out, what, ours, reference, unit, referenceName);
    else
        out << what.leftJustified(28) << "  FAILED (no figure)" << Qt::endl;
}

// The files below a folder, by path from it, with their sizes.
QMap<QString, qint64> tree(const QString& folder)
{
    QMap<QString, qint64> files;
    QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        files.insert(path.mid(folder.size() + 1), QFileInfo(path).size());
    }
    return files;
}

struct Format
{
    QString name;
    QString codec;     // our codec name
    QString extension;
    QStringList ffmpegArgs;
};

QList<Format> formats()
{
    const QStringList common = {"-threads", "0", "-g", "25"};
    return {
        {"h264", "libx264", ".mp4", QStringList{"-c:v", "libx264", "-preset", "veryfast", "-crf", "10", "-pix_fmt", "yuv420p"} + common},
        {"hevc", "hevc", ".mp4", QStringList{"-c:v", "libx265", "-preset", "superfast", "-crf", "10", "-pix_fmt", "yuv420p", "-x265-params", "log-level=error"} + common},
        {"mjpeg", "mjpeg", ".avi", QStringList{"-c:v", "mjpeg", "-q:v", "3", "-qmin", "2", "-qmax", "31", "-pix_fmt", "yuvj420p"} + common},
        {"vp9", "vp9", ".webm", QStringList{"-c:v", "libvpx-vp9", "-deadline", "realtime", "-cpu-used", "8", "-row-mt", "1", "-crf", "10", "-b:v", "0", "-pix_fmt", "yuv420p"} + common},
        {"av1", "av1", ".mkv", QStringList{"-c:v", "libsvtav1", "-preset", "10", "-pix_fmt", "yuv420p"} + common},
    };
}

struct Ours
{
    double ms = 0;
    int frames = 0;
    int peakQueue = 0;
    int rowUpdates = 0;
    bool ok = false;
};

Ours run_ours(const QList<QFileInfo>& files, const QString& codec, const QString& output, bool band,
              const QString& begin, const QString& end)
{
    ff_export job;
    job.init(output, codec, 2048, -1, -1, band, "normal");
    job.set_files(files);
    job.set_begin(begin);
    job.set_end(end);
    job.set_stream_id("1");
    QSignalSpy ending(&job, &ff_export::endingsignal);
    QSignalSpy rows(&job, &ff_export::frame_downloaded_encoded);
    QElapsedTimer t;
    t.start();
    job.start();
    job.wait();
    Ours r;
    r.ms = double(t.nsecsElapsed()) / 1e6;
    r.frames = job.frames_encoded();
    r.peakQueue = job.peak_queue();
    r.rowUpdates = int(rows.count());
    r.ok = ending.count() == 1;
    return r;
}

} // namespace

int main(int argc, char** argv)
{
    // The band's text needs the font database of a GUI application.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    av_log_set_level(AV_LOG_ERROR);
    int minutes = 5;
    int rawMinutes = 60;
    int rawRounds = 5;
    QStringList wanted = {"h264", "hevc", "mjpeg", "vp9", "av1"};
    QString work = QDir::temp().filePath("zq_bench_export");
    const QStringList args = app.arguments();
    for (int i = 1; i + 1 < args.size(); ++i) {
        if (args.at(i) == "--minutes")
            minutes = args.at(++i).toInt();
        else if (args.at(i) == "--raw-minutes")
            rawMinutes = args.at(++i).toInt();
        else if (args.at(i) == "--raw-rounds")
            rawRounds = qMax(1, args.at(++i).toInt());
        else if (args.at(i) == "--formats")
            wanted = args.at(++i).split(',');
        else if (args.at(i) == "--work")
            work = args.at(++i);
    }
    QDir(work).removeRecursively();
    QDir().mkpath(work);

    out << "Generating " << minutes << " minute(s) of 1080p 25 fps H.264..." << Qt::endl;
    ZQFixture::Options o;
    o.output_parent = QDir(work).filePath("store");
    o.size = QSize(1920, 1080);
    o.fps = 25;
    o.gop = 25;
    o.recordings_per_camera = minutes;
    o.seconds_per_recording = 60;
    const ZQFixture::Result r = ZQFixture::write(o);
    if (!r.ok) {
        out << "fixture: " << r.error << Qt::endl;
        return 1;
    }
    QList<QFileInfo> files;
    const QString concat = QDir(work).filePath("range.h264");
    {
        QFile all(concat);
        all.open(QIODevice::WriteOnly);
        for (const auto& f : r.files) {
            files << QFileInfo(f.data_path);
            QFile in(f.data_path);
            in.open(QIODevice::ReadOnly);
            all.write(in.readAll());
        }
    }
    const QString begin = "080000";
    const QString end = QTime(8, 0).addSecs(60 * minutes).toString("HHmmss");
    int frames = 0;
    for (const auto& f : r.files)
        frames += f.frame_count;
    out << "Range: " << files.size() << " recording(s), " << frames << " frames" << Qt::endl;

    out << "\n1. Re-encode, band off (frames per second, higher is better)" << Qt::endl;
    for (const Format& f : formats()) {
        if (!wanted.contains(f.name))
            continue;
        const Ours ours = run_ours(files, f.codec, QDir(work).filePath("ours" + f.extension), false, begin, end);
        const double ref = run_process("ffmpeg", QStringList{"-hide_banner", "-loglevel", "error", "-y", "-threads", "0",
                                                             "-f", "h264", "-r", "25", "-i", concat}
                                                     + f.ffmpegArgs + QStringList{QDir(work).filePath("ref" + f.extension)});
        print_result(f.name, ours.ok, ours.frames * 1000.0 / ours.ms, frames * 1000.0 / ref, "fps", "ffmpeg");
        if (f.name == "h264") {
            out << "  queue peak " << ours.peakQueue << " pictures (limit 30), row text "
                << QString::number(ours.rowUpdates * 1000.0 / ours.ms, 'f', 1) << " updates/s" << Qt::endl;
            const Ours banded = run_ours(files, f.codec, QDir(work).filePath("band" + f.extension), true, begin, end);
            print_result("h264 band on vs off", banded.ok && ours.ok, banded.frames * 1000.0 / banded.ms,
                         ours.frames * 1000.0 / ours.ms, "fps", "band off");
        }
    }

    if (rawMinutes > 0) {
        out << "\n2. Raw copy of " << rawMinutes << " minute(s) of 1080p (MB/s, higher is better)" << Qt::endl;
        // The first minute repeated as one recording per minute of the hour, each with its
        // camera-information file, and a month of other days that hold only theirs (the raw
        // copy takes every camera-information file of the root).
        const QString rootPath = QDir(work).filePath("rawstore/zqcore_0a1b-2c3d-4e5f-6789");
        const QByteArray nfoBytes(112, '\x5a');
        auto write_nfo = [&](const QString& path) {
            QFile f(path);
            return f.open(QIODevice::WriteOnly) && f.write(nfoBytes) == nfoBytes.size();
        };
        QList<QFileInfo> rawFiles;
        for (int d = 1; d <= 30; ++d) {
            const QString day = rootPath + "/" + QDate(2024, 1, d).toString("yyyy-MM-dd");
            for (int m = 0; m < (d == 1 ? rawMinutes : 60); ++m) {
                const QString t = QTime(9, 0).addSecs(60 * m).toString("HHmmss");
                const QString base = day + "/" + t + "/1_" + QDate(2024, 1, d).toString("yyyyMMdd") + "_" + t;
                QDir().mkpath(QFileInfo(base).path());
                if (!write_nfo(base + ".zqnfo")) {
                    out << "cannot write " << base << ".zqnfo" << Qt::endl;
                    return 1;
                }
                if (d == 1) {
                    if (!QFile::copy(r.files.first().data_path, base + ".zqvideo")
                        || !QFile::copy(r.files.first().seek_path, base + ".zqseek")) {
                        out << "cannot write " << base << Qt::endl;
                        return 1;
                    }
                    rawFiles << QFileInfo(base + ".zqvideo");
                }
            }
            write_nfo(day + "/index.zqnfo");
        }
        const QMap<QString, qint64> source = tree(rootPath);
        qint64 bytes = 0;
        for (qint64 size : source)
            bytes += size;
        // Warm cache: read everything once.
        run_process("cat", [&] {
            QStringList l;
            for (const QFileInfo& f : rawFiles)
                l << f.absoluteFilePath() << f.absoluteFilePath().replace(".zqvideo", ".zqseek");
            return l;
        }());
        // Rounds of cp, then ours, each into a folder not there yet, after a sync so that neither
        // pays for the other's writes; the best and the median round of each are compared.
        const QString rootName = QFileInfo(rootPath).fileName();
        QList<double> cpRuns, ourRuns;
        bool ok = true;
        for (int round = 0; round < rawRounds; ++round) {
            const QString cpTarget = QDir(work).filePath("cp_out");
            const QString rawFolder = QDir(work).filePath("raw_out");
            QDir(cpTarget).removeRecursively();
            QDir(rawFolder).removeRecursively();
            QDir().mkpath(cpTarget);
            // Into a folder that is not there yet, as an operator's new export folder.
            const QString rawTarget = rawFolder + "/new/x_RAW.zqcore";
            auto copy_cp = [&] {
                run_process("sync", {});
                cpRuns << run_process("cp", {"-r", rootPath, cpTarget});
            };
            auto copy_ours = [&] {
                run_process("sync", {});
                RawExport raw;
                raw.set_target(QFileInfo(rawTarget));
                raw.set_files(rawFiles);
                // As the players start it: with the storage root they opened.
                raw.set_storage_root(rootPath);
                QSignalSpy ending(&raw, &RawExport::endingsignal);
                QElapsedTimer t;
                t.start();
                raw.start();
                raw.wait();
                ourRuns << double(t.nsecsElapsed()) / 1e6;
                ok = ok && ending.count() == 1;
            };
            // Each goes first in every other round.
            if (round % 2 == 0) {
                copy_cp();
                copy_ours();
            } else {
                copy_ours();
                copy_cp();
            }
            ok = ok && tree(QFileInfo(rawTarget).absolutePath() + "/" + rootName) == source
                 && tree(cpTarget + "/" + rootName) == source;
        }
        std::sort(cpRuns.begin(), cpRuns.end());
        std::sort(ourRuns.begin(), ourRuns.end());
        const double mb = double(bytes) / (1024.0 * 1024.0);
        out << "  " << source.size() << " files: " << rawFiles.size() * 2 << " of the recordings, "
            << source.size() - rawFiles.size() * 2 << " camera-information files; " << rawRounds << " rounds" << Qt::endl;
        print_result(QString("raw copy %1 MiB, best").arg(int(mb)), ok, mb * 1000.0 / ourRuns.first(),
                     mb * 1000.0 / cpRuns.first(), "MB/s", "cp");
        print_result(QString("raw copy %1 MiB, median").arg(int(mb)), ok, mb * 1000.0 / ourRuns.at(rawRounds / 2),
                     mb * 1000.0 / cpRuns.at(rawRounds / 2), "MB/s", "cp");
    }
    QDir(work).removeRecursively();
    return 0;
}
