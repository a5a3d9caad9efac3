#pragma once

// Helpers shared by the download benchmarks: the work folder, timing of the
// reference tools, and the 1080p 25 fps H.264 range they unpack and remux.

#include "tools/zqfixture/lib/fixture_writer.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStringList>
#include <QTextStream>

#include <algorithm>
#include <functional>
#include <vector>

namespace zq::bench {

// Value of "--name N" among the arguments, or the fallback.
inline QString option(const QStringList& args, const QString& name, const QString& fallback)
{
    const qsizetype i = args.indexOf(name);
    return i >= 0 && i + 1 < args.size() ? args.at(i + 1) : fallback;
}

// $ZQ_BENCH_DIR/<name>, or /tmp/<name>, created.
inline QString work_folder(const QStringList& args, const QString& name)
{
    const QString base = qEnvironmentVariable("ZQ_BENCH_DIR", QStringLiteral("/tmp"));
    const QString dir = option(args, QStringLiteral("--work"), QDir(base).filePath(name));
    QDir().mkpath(dir);
    return dir;
}

// Milliseconds a program took, or -1 when it failed (its output is printed).
inline double time_process(QTextStream& out, const QString& program, const QStringList& args)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    QElapsedTimer t;
    t.start();
    p.start(program, args);
    if (!p.waitForFinished(1800000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        out << "  " << program << " " << args.join(' ') << " failed: " << p.readAll().left(400) << Qt::endl;
        return -1;
    }
    return t.nsecsElapsed() / 1e6;
}

inline bool run_quiet(const QString& program, const QStringList& args)
{
    QProcess p;
    p.start(program, args);
    return p.waitForFinished(1800000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

inline double best(const std::vector<double>& v)
{
    return v.empty() ? -1 : *std::min_element(v.begin(), v.end());
}

inline double median(std::vector<double> v)
{
    if (v.empty())
        return -1;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

inline void spin_until(const std::function<bool()>& done, int timeout_ms)
{
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < timeout_ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

// N one-minute recordings of camera 1 at 1920x1080, 25 fps, a key frame a second,
// from 08:00 on 2024-01-01; generated once under work and reused.
inline ZQFixture::Result fixture_1080p(QTextStream& out, const QString& work, int minutes, int threads)
{
    const QString dir = QDir(work).filePath(QStringLiteral("fixture_1080p_%1min").arg(minutes));
    ZQFixture::Options o;
    o.output_parent = dir;
    o.cameras = {1};
    o.size = QSize(1920, 1080);
    o.fps = 25;
    o.gop = 25;
    o.start_time = QTime(8, 0);
    o.recordings_per_camera = minutes;
    o.seconds_per_recording = 60;
    o.threads = threads;
    ZQFixture::Result r;
    const QString done = QDir(dir).filePath(QStringLiteral("done"));
    if (QFile::exists(done)) {
        // Rebuild the file list from the folder written earlier.
        const QString day = QDir(dir).filePath(o.root_id + QStringLiteral("/2024-01-01"));
        for (int m = 0; m < minutes; ++m) {
            const QString hhmmss = o.start_time.addSecs(60 * m).toString(QStringLiteral("HHmmss"));
            ZQFixture::WrittenFile f;
            f.data_path = QDir(day).filePath(hhmmss + QStringLiteral("/1_20240101_") + hhmmss + QStringLiteral(".zqvideo"));
            f.seek_path = QString(f.data_path).replace(QStringLiteral(".zqvideo"), QStringLiteral(".zqseek"));
            f.data_size = QFileInfo(f.data_path).size();
            f.frame_count = 60 * o.fps;
            if (!QFileInfo::exists(f.data_path)) {
                r.error = QStringLiteral("missing ") + f.data_path;
                return r;
            }
            r.files.append(f);
        }
        r.ok = true;
        r.root_path = QDir(dir).filePath(o.root_id);
        return r;
    }
    out << "Generating " << minutes << " minute(s) of 1080p 25 fps H.264 in " << dir << " ..." << Qt::endl;
    QElapsedTimer t;
    t.start();
    r = ZQFixture::write(o);
    if (r.ok) {
        QFile(done).open(QIODevice::WriteOnly);
        out << "  generated in " << QString::number(t.elapsed() / 1000.0, 'f', 1) << " s" << Qt::endl;
    }
    return r;
}

} // namespace zq::bench
