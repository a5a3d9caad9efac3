// Unpacking of ".zqtar" bundles: ArchiveExtractor (libarchive, every entry path
// checked to stay inside the destination) beside `bsdtar -xf BUNDLE -C DIR`, each
// into a fresh folder, alternating, best of --runs each. Two bundles:
//   - the controller benchmark's day: 16 cameras x 24 hours of one-minute
//     recordings with tiny pictures (tens of thousands of small files);
//   - a 1080p 25 fps H.264 range of --minutes one-minute recordings (default 10;
//     large files).
//
//   bench_zqtar_extract [--minutes N] [--runs N] [--work DIR] [--controller-work DIR] [--dest DIR]
//
// Both tools unpack into --dest (default /dev/shm/zq_bench_zqtar, a memory file
// system): on a disk mounted with online discard, removing tens of thousands of
// files between runs takes minutes and the writeback of earlier runs lands in
// later ones; in memory both tools pay the same file system costs, run after run.
//
// Bundles and the 1080p range are kept in the work folder (default
// $ZQ_BENCH_DIR/zq_bench_download or /tmp/zq_bench_download). The day is the one
// bench_controller generates and keeps in its own work folder (default
// /tmp/zq_bench_controller); it is made here when missing.

#include "bench/bench_report.h"
#include "bench/download/bench_download_common.h"
#include "download/archive_extractor.h"
#ifdef ZQ_BENCH_CONTROLLER_DAY
#include "bench/controller/controller_day_tree.h"
#endif

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTextStream>

namespace {

QTextStream out(stdout);

// Root folder of the controller day, generated when missing.
QString controller_day_root(const QString& controller_work)
{
#ifdef ZQ_BENCH_CONTROLLER_DAY
    QString root;
    return zq::bench::make_controller_day_tree(controller_work, &root) ? root : QString();
#else
    auto find_root = [&] {
        const QStringList roots = QDir(controller_work).entryList({QStringLiteral("zqcore_*")}, QDir::Dirs);
        return QFile::exists(QDir(controller_work).filePath(QStringLiteral("tree.done"))) && roots.size() == 1
                   ? QDir(controller_work).filePath(roots.first())
                   : QString();
    };
    if (find_root().isEmpty()) {
        // bench_controller makes the day (and keeps it) before measuring its own figures.
        out << "Making the controller day with bench_controller in " << controller_work << " ..." << Qt::endl;
        if (!zq::bench::run_quiet(QStringLiteral(ZQ_BENCH_CONTROLLER_EXE), {controller_work}))
            out << "  bench_controller failed" << Qt::endl;
    }
    return find_root();
#endif
}

// A tar bundle of `folder` (entries named from its parent), made once.
QString make_bundle(const QString& folder, const QString& bundle)
{
    if (QFileInfo(bundle).size() > 0)
        return bundle;
    out << "Bundling " << folder << " into " << bundle << " ..." << Qt::endl;
    const QFileInfo info(folder);
    const QString part = bundle + QStringLiteral(".part");
    if (!zq::bench::run_quiet("tar", {"-cf", part, "-C", info.absolutePath(), info.fileName()})
        || !QFile::rename(part, bundle)) {
        QFile::remove(part);
        return QString();
    }
    return bundle;
}

qint64 count_files(const QString& dir, qint64* bytes)
{
    qint64 n = 0;
    *bytes = 0;
    QDirIterator it(dir, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        ++n;
        *bytes += it.fileInfo().size();
    }
    return n;
}

void read_through(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return;
    QByteArray block(8 << 20, Qt::Uninitialized);
    while (f.read(block.data(), block.size()) > 0) {
    }
}

bool compare(const QString& what, const QString& id, const QString& bundle, const QString& dest, int runs)
{
    const QString base = QDir(dest).filePath(QStringLiteral("extract_") + id);
    QDir(base).removeRecursively();
    QDir().mkpath(base);
    read_through(bundle); // both tools read it from the page cache
    std::vector<double> ours_ms, ref_ms;
    qint64 files = 0, bytes = 0;
    bool same = true;
    for (int i = 0; i < runs; ++i) {
        const QString ours_dir = QDir(base).filePath(QStringLiteral("ours_%1").arg(i));
        ArchiveExtractor extractor(bundle, ours_dir, false, false);
        bool ok = false;
        QObject::connect(&extractor, &ArchiveExtractor::extractionFinished, [&](bool s) { ok = s; });
        QElapsedTimer t;
        t.start();
        extractor.startExtraction();
        const double ms = t.nsecsElapsed() / 1e6;
        if (!ok) {
            out << "  ArchiveExtractor failed: " << extractor.errorMessage() << Qt::endl;
            return false;
        }
        ours_ms.push_back(ms);

        const QString ref_dir = QDir(base).filePath(QStringLiteral("ref_%1").arg(i));
        QDir().mkpath(ref_dir);
        const double r = zq::bench::time_process(out, "bsdtar", {"-xf", bundle, "-C", ref_dir});
        if (r < 0)
            return false;
        ref_ms.push_back(r);
        if (i == 0) {
            qint64 ours_bytes = 0;
            files = count_files(ref_dir, &bytes);
            same = count_files(ours_dir, &ours_bytes) == files && ours_bytes == bytes;
            if (!same)
                out << "  the two folders differ" << Qt::endl;
        }
        out << "  " << what << " run " << i + 1 << ": ours " << QString::number(ms, 'f', 0) << " ms, bsdtar "
            << QString::number(r, 'f', 0) << " ms" << Qt::endl;
        QDir(ours_dir).removeRecursively();
        QDir(ref_dir).removeRecursively();
    }
    QDir(base).removeRecursively();
    out << "  " << what << ": " << files << " files, " << QString::number(bytes / 1e6, 'f', 1) << " MB" << Qt::endl;
    zq::bench::print_ratio(out, what + " (files/s)", files * 1000.0 / zq::bench::best(ours_ms),
                           files * 1000.0 / zq::bench::best(ref_ms), "files/s", "bsdtar");
    zq::bench::print_ratio(out, what + " (MB/s)", bytes / 1e3 / zq::bench::best(ours_ms),
                           bytes / 1e3 / zq::bench::best(ref_ms), "MB/s", "bsdtar");
    return same;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const int minutes = std::max(1, zq::bench::option(args, "--minutes", "10").toInt());
    const int runs = std::max(1, zq::bench::option(args, "--runs", "3").toInt());
    const QString work = zq::bench::work_folder(args, "zq_bench_download");
    const QString controller_work = zq::bench::option(args, "--controller-work", "/tmp/zq_bench_controller");
    const QString dest = zq::bench::option(args, "--dest",
                                           QFileInfo(QStringLiteral("/dev/shm")).isWritable()
                                               ? QStringLiteral("/dev/shm/zq_bench_zqtar")
                                               : QDir(work).filePath(QStringLiteral("unpacked")));
    bool ok = true;

    const QString root = controller_day_root(controller_work);
    const QString day_bundle = root.isEmpty() ? QString()
                                              : make_bundle(root, QDir(work).filePath("controller_day.zqtar"));
    if (day_bundle.isEmpty()) {
        out << "no controller day bundle" << Qt::endl;
        ok = false;
    } else {
        ok = compare("day 16 cam x 24 h", "day", day_bundle, dest, runs) && ok;
    }

    const ZQFixture::Result fixture = zq::bench::fixture_1080p(out, work, minutes, 3);
    const QString range_bundle = fixture.ok ? make_bundle(fixture.root_path,
                                                          QDir(work).filePath(QStringLiteral("range_1080p_%1min.zqtar").arg(minutes)))
                                            : QString();
    if (range_bundle.isEmpty()) {
        out << "no 1080p bundle: " << fixture.error << Qt::endl;
        ok = false;
    } else {
        ok = compare(QStringLiteral("1080p %1 min").arg(minutes), "1080p", range_bundle, dest, runs) && ok;
    }
    QDir(dest).removeRecursively();
    return ok ? 0 : 1;
}
