// Day index benchmark: on a day of 16 cameras x 24 hours of one-minute recordings (tiny frames) with
// their camera files and an alarm picture per camera and hour, times
//   - the folder fingerprint,
//   - a full build of the day index,
//   - loading a current index (fingerprint + read), run on the thread pool as the player does,
// each beside `find DAY -type f -printf '%P|%TY%Tm%Td%TH%TM%TS|%s\n' | sort | sha256sum` on the
// same tree in the same run, and prints the ratios (best of several runs, warm cache).
//
//   bench_day_index [--out DIR] [--cameras N] [--hours H] [--runs R]
// With --out the generated tree is kept there and reused by later runs.

#include "recordings/day_index_file.h"
#include "recordings/zq_index_manager.h"
#include "tools/zqfixture/lib/fixture_metadata.h"
#include "tools/zqfixture/lib/fixture_writer.h"

#include "bench/bench_report.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QTextStream>
#include <QtConcurrent/QtConcurrentRun>

#include <algorithm>
#include <functional>
#include <limits>

namespace {

QTextStream out(stdout);

double best_ms(int runs, const std::function<bool()>& job)
{
    double best = std::numeric_limits<double>::max();
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer t;
        t.start();
        if (!job())
            return -1;
        best = std::min(best, t.nsecsElapsed() / 1e6);
    }
    return best;
}

void line(const QString& what, double ours, double reference)
{
    zq::bench::print_ratio(out, what, ours, reference, QStringLiteral("ms"), QStringLiteral("reference"), 28);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser p;
    p.addHelpOption();
    const QCommandLineOption outOpt("out", "Folder for the generated tree (kept and reused).", "DIR");
    const QCommandLineOption camOpt("cameras", "Cameras.", "N", "16");
    const QCommandLineOption hourOpt("hours", "Hours of recordings.", "H", "24");
    const QCommandLineOption runOpt("runs", "Runs of each measure (the best counts).", "R", "5");
    p.addOptions({outOpt, camOpt, hourOpt, runOpt});
    p.process(app);
    const int cameras = std::clamp(p.value(camOpt).toInt(), 1, 64);
    const int hours = std::clamp(p.value(hourOpt).toInt(), 1, 24);
    const int runs = std::clamp(p.value(runOpt).toInt(), 1, 50);

    QTemporaryDir temp;
    const QString parent = p.isSet(outOpt) ? p.value(outOpt) : temp.path();
    ZQFixture::Options o;
    o.output_parent = parent;
    o.start_time = QTime(0, 0);
    o.recordings_per_camera = hours * 60;
    o.seconds_per_recording = 1;
    o.gap_seconds = 59;
    o.fps = 2;
    o.gop = 2;
    o.size = QSize(16, 16);
    o.codec = ZQFixture::Codec::MJPEG;
    o.cameras.clear();
    for (int c = 1; c <= cameras; ++c)
        o.cameras << c;
    const QString day = parent + QStringLiteral("/") + o.root_id + QStringLiteral("/2024-01-01");

    if (!QFileInfo(day + QStringLiteral("/index.zqnfo")).exists()) {
        out << "generating " << cameras << " cameras x " << hours << " hours into " << parent << " ..." << Qt::endl;
        QElapsedTimer t;
        t.start();
        const ZQFixture::Result r = ZQFixture::write(o);
        if (!r.ok) {
            out << "fixture failed: " << r.error << Qt::endl;
            return 1;
        }
        ZQFixture::MetadataOptions m;
        m.previews = false;
        m.hash_list = false;
        const ZQFixture::MetadataResult mr = ZQFixture::write_metadata(r.root_path, m);
        if (!mr.ok) {
            out << "metadata failed: " << mr.error << Qt::endl;
            return 1;
        }
        out << "generated in " << t.elapsed() / 1000.0 << " s" << Qt::endl;
    }

    QProcess count;
    count.start("sh", {"-c", "find \"$0\" -type f | wc -l", day});
    count.waitForFinished(-1);
    out << "day folder " << day << ": " << count.readAllStandardOutput().trimmed() << " files" << Qt::endl;

    const QString findCommand
        = QStringLiteral("find \"$0\" -type f -printf '%P|%TY%Tm%Td%TH%TM%TS|%s\\n' | sort | sha256sum > /dev/null");
    auto reference = [&] {
        QProcess sh;
        sh.start("sh", {"-c", findCommand, day});
        return sh.waitForFinished(-1) && sh.exitCode() == 0;
    };
    // Warm the cache once for both sides.
    reference();
    DayIndex::fingerprint(day);

    const double ref = best_ms(runs, reference);
    const double fingerprint = best_ms(runs, [&] { return !DayIndex::fingerprint(day).isNull(); });
    const double build = best_ms(runs, [&] {
        ZQIndexManager manager;
        bool ok = false;
        QObject::connect(&manager, &ZQIndexManager::finished,
                         [&ok](ZQIndexManager::Outcome outcome, const QString&) { ok = outcome == ZQIndexManager::Built; });
        manager.background_generation(day);
        return ok;
    });
    int videos = 0;
    const double load = best_ms(runs, [&] {
        const ZQIndexManager::DayLoad l = QtConcurrent::run(&ZQIndexManager::load_day, day).result();
        videos = int(l.files.video.size());
        return l.current;
    });

    out << "recordings listed: " << videos << Qt::endl;
    line("fingerprint", fingerprint, ref);
    line("build day index", build, ref);
    line("load current index", load, ref);
    return 0;
}
