// Integrity check benchmark: the whole check of a day folder (list decryption, folder walk, SHA-256
// of every listed file) beside `find DAY -type f -print0 | xargs -0 sha256sum` on the same folder in
// the same run, warm cache, best of several runs, as throughput (higher is better), on
//   - one hour of 1080p one-minute recordings of one camera with their metadata,
//   - a 16-camera x 24-hour day of tiny recordings (about 70,000 files, the list near 18 MB),
// with the check's peak memory (measured in a child process that only runs the check).
//
//   bench_integrity [--out DIR] [--minutes N] [--cameras N] [--hours H] [--runs R]
// With --out the generated trees are kept there and reused by later runs.

#include "integrity/integrity_check.h"
#include "tools/zqfixture/lib/fixture_metadata.h"
#include "tools/zqfixture/lib/fixture_writer.h"

#include "bench/bench_report.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTextStream>

#include <algorithm>
#include <limits>

namespace {

QTextStream out(stdout);

qint64 peak_kib()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

// Child mode: one check, its time and the process's peak memory.
int measure(const QString& day)
{
    QElapsedTimer t;
    t.start();
    IntegrityCheck check(day);
    bool ok = false;
    QObject::connect(&check, &IntegrityCheck::end_check, &check, [&ok](bool b) { ok = b; }, Qt::DirectConnection);
    check.start();
    check.wait();
    out << "ms=" << t.nsecsElapsed() / 1e6 << " peak_kib=" << peak_kib() << " ok=" << int(ok) << Qt::endl;
    return ok ? 0 : 1;
}

struct Figures
{
    double ms = std::numeric_limits<double>::max();
    qint64 peak_kib = 0;
    bool ok = true;
};

Figures ours(const QString& day, int runs)
{
    Figures f;
    for (int i = 0; i < runs && f.ok; ++i) {
        QProcess child;
        child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--measure"), day});
        child.waitForFinished(-1);
        const QString text = QString::fromLatin1(child.readAllStandardOutput());
        double ms = -1;
        for (const QString& word : text.simplified().split(QLatin1Char(' '))) {
            if (word.startsWith(QLatin1String("ms=")))
                ms = word.mid(3).toDouble();
            else if (word.startsWith(QLatin1String("peak_kib=")))
                f.peak_kib = std::max(f.peak_kib, word.mid(9).toLongLong());
        }
        if (child.exitCode() != 0 || ms < 0) {
            out << "the check did not end valid: " << text << Qt::endl;
            f.ok = false;
        }
        f.ms = std::min(f.ms, ms);
    }
    return f;
}

double sha256sum_ms(const QString& day, int runs)
{
    double best = std::numeric_limits<double>::max();
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer t;
        t.start();
        QProcess sh;
        sh.start(QStringLiteral("sh"),
                 {QStringLiteral("-c"), QStringLiteral("find \"$0\" -type f -print0 | xargs -0 sha256sum > /dev/null"), day});
        if (!sh.waitForFinished(-1) || sh.exitCode() != 0)
            return -1;
        best = std::min(best, t.nsecsElapsed() / 1e6);
    }
    return best;
}

void summary(const QString& day, int runs)
{
    qint64 bytes = 0;
    qint64 files = 0;
    QDirIterator it(day, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        bytes += it.fileInfo().size();
        ++files;
    }
    out << "day folder " << day << ": " << files << " files, " << bytes / 1e6 << " MB, list "
        << QFileInfo(day + QStringLiteral("/hash.json")).size() / 1e6 << " MB" << Qt::endl;
    sha256sum_ms(day, 1); // warm the cache for both sides
    const double ref = sha256sum_ms(day, runs);
    const Figures f = ours(day, runs);
    if (!f.ok || ref <= 0)
        return;
    const double mb = bytes / 1e6;
    zq::bench::print_ratio(out, QStringLiteral("whole check, MB/s"), mb / (f.ms / 1000), mb / (ref / 1000),
                           QStringLiteral("MB/s"), QStringLiteral("sha256sum"));
    zq::bench::print_ratio(out, QStringLiteral("whole check, files/s"), files / (f.ms / 1000), files / (ref / 1000),
                           QStringLiteral("files/s"), QStringLiteral("sha256sum"));
    zq::bench::print_ratio(out, QStringLiteral("peak memory of the check"), f.peak_kib / 1024.0, 256,
                           QStringLiteral("MiB"), QStringLiteral("limit"));
}

bool generate(const ZQFixture::Options& o, const ZQFixture::MetadataOptions& m, const QString& what)
{
    out << "generating " << what << " into " << o.output_parent << " ..." << Qt::endl;
    QElapsedTimer t;
    t.start();
    const ZQFixture::StorageResult r = ZQFixture::write_storage(o, m);
    if (!r.ok) {
        out << "fixture failed: " << r.error << Qt::endl;
        return false;
    }
    out << "generated in " << t.elapsed() / 1000.0 << " s" << Qt::endl;
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser p;
    p.addHelpOption();
    const QCommandLineOption measureOpt("measure", "Child mode: check this day folder once.", "DAY");
    const QCommandLineOption outOpt("out", "Folder for the generated trees (kept and reused).", "DIR");
    const QCommandLineOption minuteOpt("minutes", "Minutes of 1080p recordings.", "N", "60");
    const QCommandLineOption camOpt("cameras", "Cameras of the day of tiny recordings.", "N", "16");
    const QCommandLineOption hourOpt("hours", "Hours of the day of tiny recordings.", "H", "24");
    const QCommandLineOption runOpt("runs", "Runs of each measure (the best counts).", "R", "3");
    p.addOptions({measureOpt, outOpt, minuteOpt, camOpt, hourOpt, runOpt});
    p.process(app);
    if (p.isSet(measureOpt))
        return measure(p.value(measureOpt));
    const int minutes = std::clamp(p.value(minuteOpt).toInt(), 1, 600);
    const int cameras = std::clamp(p.value(camOpt).toInt(), 1, 64);
    const int hours = std::clamp(p.value(hourOpt).toInt(), 1, 24);
    const int runs = std::clamp(p.value(runOpt).toInt(), 1, 50);

    QTemporaryDir temp;
    const QString parent = p.isSet(outOpt) ? p.value(outOpt) : temp.path();

    // One camera, one hour of one-minute 1080p recordings, with all its metadata.
    ZQFixture::Options hd;
    hd.output_parent = parent + QStringLiteral("/hd");
    hd.start_time = QTime(9, 0);
    hd.recordings_per_camera = minutes;
    hd.seconds_per_recording = 60;
    hd.size = QSize(1920, 1080);
    hd.fps = 25;
    hd.gop = 25;
    hd.threads = 3;
    const QString hdDay = hd.output_parent + QStringLiteral("/") + hd.root_id + QStringLiteral("/2024-01-01");
    if (!QFileInfo::exists(hdDay + QStringLiteral("/hash.json"))
        && !generate(hd, ZQFixture::MetadataOptions(), QStringLiteral("%1 minutes of 1080p").arg(minutes)))
        return 1;

    // The index benchmark's day: a tiny recording per camera and minute.
    ZQFixture::Options tiny;
    tiny.output_parent = parent + QStringLiteral("/tiny");
    tiny.start_time = QTime(0, 0);
    tiny.recordings_per_camera = hours * 60;
    tiny.seconds_per_recording = 1;
    tiny.gap_seconds = 59;
    tiny.fps = 2;
    tiny.gop = 2;
    tiny.size = QSize(16, 16);
    tiny.codec = ZQFixture::Codec::MJPEG;
    tiny.threads = 3;
    tiny.cameras.clear();
    for (int c = 1; c <= cameras; ++c)
        tiny.cameras << c;
    ZQFixture::MetadataOptions tinyMeta;
    tinyMeta.previews = false;
    const QString tinyDay = tiny.output_parent + QStringLiteral("/") + tiny.root_id + QStringLiteral("/2024-01-01");
    if (!QFileInfo::exists(tinyDay + QStringLiteral("/hash.json"))
        && !generate(tiny, tinyMeta, QStringLiteral("%1 cameras x %2 hours of tiny recordings").arg(cameras).arg(hours)))
        return 1;

    out << "-- one camera, " << minutes << " minutes of 1080p" << Qt::endl;
    summary(hdDay, runs);
    out << "-- " << cameras << " cameras x " << hours << " hours of tiny recordings" << Qt::endl;
    summary(tinyDay, runs);
    return 0;
}
