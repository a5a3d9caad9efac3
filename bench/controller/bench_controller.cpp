// Day loading and timeline seeks of the QML player controller on a current day
// of 16 cameras x 24 hours of one-minute recordings (23,040 recordings, tiny
// pictures so that the tree is made quickly), with an alarm picture and a tag
// per camera-hour.
//
// Figures printed:
//   - choosing the day and listing its cameras and lists (warm), beside
//     `find DAY -type f -printf ... | sort | sha256sum`, the walk any current
//     check must at least do; with the day index load split into the fingerprint walk and the
//     stored index read, and the longest time the GUI thread spends away from its event loop
//     while the day opens (each call QML makes);
//   - a timeline seek through the controller (lookup + reader load + first
//     picture) beside the reader's own seek (load the same recording into a
//     fresh reader, position it, first picture), and their ratio;
//   - the tag list, first call of the day (decrypts) and later calls (cached).
//
// Usage: bench_controller [work folder]   (default /tmp/zq_bench_controller;
// the generated tree is kept there and reused).

#include "player/zq_player_controller_ui.h"
#include "player/zq_player_inferface_controller.h"
#include "playback/zq_stream_read_and_control.h"
#include "recordings/day_index_file.h"
#include "recordings/encrypt.h"
#include "recordings/zq_file.h"
#include "recordings/zq_index_manager.h"
#include "bench/controller/controller_day_tree.h"
#include "tests/player/open_day.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRandomGenerator>
#include <QSignalSpy>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

using zq::bench::kDay;
using zq::bench::make_controller_day_tree;

struct SilentUi : ZQPlayerControllerUi
{
    void warning(const QString& t, const QString& x) override { std::fprintf(stderr, "warning: %s %s\n", qPrintable(t), qPrintable(x)); }
    void open_alarm_viewer(const QString&, const QString&) override {}
    void open_snapshot_viewer(const QImage&, const QString&) override {}
};

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0.0 : v[v.size() / 2];
}

double time_find(const QString& day)
{
    QElapsedTimer t;
    t.start();
    QProcess p;
    p.start(QStringLiteral("sh"), {QStringLiteral("-c"),
                                   QStringLiteral("find '%1' -type f -printf '%P|%TY%Tm%Td%TH%TM%TS|%s\\n' | sort | sha256sum >/dev/null")
                                       .arg(day)});
    p.waitForFinished(-1);
    return t.nsecsElapsed() / 1e6;
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QString work = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("/tmp/zq_bench_controller");
    QDir().mkpath(work);
    QString root;
    if (!make_controller_day_tree(work, &root))
        return 1;
    const QString date = kDay.toString(QStringLiteral("yyyy-MM-dd"));
    const QString day = QDir(root).filePath(date);

    ZQPlayerInferfaceController c;
    c.set_ui(std::make_unique<SilentUi>());
    // Make the index current first (a build when it is missing or stale).
    c.get_available_days(root);
    {
        QElapsedTimer t;
        t.start();
        c.get_cameras_for_date(date);
        if (c.is_indexing()) {
            zqtest::open_day(c, date, 600000);
            std::printf("index build: %.0f ms\n", t.nsecsElapsed() / 1e6);
        }
    }

    // ---- Day load, warm ----
    // Each call QML makes returns to the event loop: the longest one is the longest time the GUI
    // thread is blocked while the day opens.
    std::vector<double> load, find_ref;
    double longest_block = 0;
    QString longest_call;
    int videos = 0, cameras = 0, alarms = 0, tags = 0;
    for (int i = 0; i < 7; ++i) {
        QElapsedTimer t, call;
        t.start();
        call.start();
        auto block = [&](const char* name) {
            const double ms = call.nsecsElapsed() / 1e6;
            if (ms > longest_block) {
                longest_block = ms;
                longest_call = QString::fromLatin1(name);
            }
            QCoreApplication::processEvents();
            call.restart();
        };
        c.get_available_days(root);
        block("get_available_days");
        c.set_selected_date(date);
        block("set_selected_date");
        const QStringList cams = c.get_cameras_for_date(date);
        block("get_cameras_for_date");
        c.set_selected_camera(cams.value(0));
        block("set_selected_camera");
        const QList<qint64> starts = c.day_timestamp_list();
        block("day_timestamp_list");
        const QVariantList a = c.day_alarm_list_string();
        block("day_alarm_list_string");
        const QVariantList g = c.day_tags_list_string();
        block("day_tags_list_string");
        c.day_preview_list_string();
        block("day_preview_list_string");
        c.day_audio_list_string();
        block("day_audio_list_string");
        load.push_back(t.nsecsElapsed() / 1e6);
        videos = c.day_video_list().size();
        cameras = cams.size();
        alarms = a.size();
        tags = g.size();
        find_ref.push_back(time_find(day));
    }
    // Breakdown: the day index load alone (fresh fingerprint + stored lists).
    std::vector<double> index_load, walk, stored;
    for (int i = 0; i < 5; ++i) {
        QElapsedTimer t;
        t.start();
        const ZQIndexManager::DayLoad l = ZQIndexManager::load_day(day + "/");
        index_load.push_back(t.nsecsElapsed() / 1e6);
        if (!l.current)
            std::printf("  (index not current)\n");
        t.restart();
        const DayIndex::Snapshot snapshot = DayIndex::scan(day, true);
        walk.push_back(t.nsecsElapsed() / 1e6);
        t.restart();
        DayIndex::read(day, true, snapshot.fileCount + 1000);
        stored.push_back(t.nsecsElapsed() / 1e6);
    }
    const double load_ms = median(load), find_ms = median(find_ref);
    std::printf("\nday load (%d recordings, %d cameras; camera 1: %d alarms, %d tags)\n", videos, cameras, alarms, tags);
    std::printf("  controller  : %8.1f ms (median of 7, target 300 ms)\n", load_ms);
    std::printf("  of which the day index load (fingerprint + stored lists): %8.1f ms"
                " (fingerprint walk %.1f ms, stored index read %.1f ms)\n",
                median(index_load), median(walk), median(stored));
    std::printf("  longest GUI-thread block while a day opens: %8.1f ms (%s, target 100 ms)\n", longest_block,
                qPrintable(longest_call));
    std::printf("  find|sort|sha256sum: %8.1f ms   ratio %.2f\n", find_ms, load_ms / find_ms);

    // ---- Tag list: decrypted once per day ----
    {
        c.set_selected_camera(c.get_cameras_for_date(date).value(0));
        QElapsedTimer t;
        t.start();
        c.day_tags_list_string();
        const double first = t.nsecsElapsed() / 1e6;
        t.restart();
        for (int i = 0; i < 10; ++i)
            c.day_tags_list_string();
        const double later = t.nsecsElapsed() / 1e7;
        std::printf("\ntag list (%d tag files): first call %.1f ms, later calls %.2f ms\n",
                    int(c.day_tags_list().size()), first, later);
    }

    // ---- Timeline seek ----
    QRandomGenerator rng(7);
    std::vector<qint64> times;
    for (int i = 0; i < 61; ++i)
        times.push_back(qint64(rng.bounded(24 * 3600 - 60)) * 1000 + 20000);

    int pictures = 0;
    QObject::connect(c.reader(), &ZQStreamReadAndControl::set_display_frame, [&](auto&&...) { ++pictures; });
    std::vector<double> ctrl_ms;
    int missed = 0;
    c.set_selected_camera(QStringLiteral("Caméra 5"));
    for (qint64 ms : times) {
        // A fresh start each time (as after a camera or stream change): the
        // reader holds no stream, so the seek loads the recording.
        c.reader()->stop();
        const int before = pictures;
        QElapsedTimer t;
        t.start();
        c.set_zqstream_reader_read_timestamp(QString::number(ms));
        ctrl_ms.push_back(t.nsecsElapsed() / 1e6);
        if (pictures == before)
            ++missed;
    }
    // The same seeks made on the reader directly: stop, load the recording,
    // read, position (what a fresh start at a time costs the reader itself).
    std::vector<double> reader_ms;
    const QFileInfoList playlist = c.camera_day_video_list();
    c.set_selected_camera(QStringLiteral("Caméra 1"));
    ZQStreamReadAndControl reader;
    int shown = 0;
    QObject::connect(&reader, &ZQStreamReadAndControl::set_display_frame, [&](auto&&...) { ++shown; });
    int reader_missed = 0;
    for (qint64 ms : times) {
        const QTime tod = QTime::fromMSecsSinceStartOfDay(int(ms));
        const QString start = QTime(tod.hour(), tod.minute(), 0).toString(QStringLiteral("HHmmss"));
        const QString seek = QDir(day).filePath(start + "/5_" + kDay.toString("yyyyMMdd") + "_" + start + ".zqseek");
        const int before = shown;
        QElapsedTimer t;
        t.start();
        reader.stop();
        reader.init_displayer_for_stream(QFileInfo(seek), QStringLiteral("1"), playlist);
        reader.read_forward();
        reader.set_read_timestamp(kDay.toString("yyyyMMdd") + tod.toString(QStringLiteral("HHmmss")));
        reader_ms.push_back(t.nsecsElapsed() / 1e6);
        if (shown == before)
            ++reader_missed;
    }
    reader.stop();
    if (reader_missed)
        std::printf("  (reader alone: %d seeks without picture)\n", reader_missed);
    const double cm = median(ctrl_ms), rm = median(reader_ms);
    std::printf("\ntimeline seek (lookup + reader load + first picture, %zu random times, %d without picture)\n", times.size(), missed);
    std::printf("  controller  : %8.2f ms (median)\n", cm);
    std::printf("  reader alone: %8.2f ms (median)   ratio %.2f (target 1.3)\n", rm, cm / rm);

    // Seeks while the camera plays (the continue path).
    std::vector<double> cont_ms;
    c.set_selected_camera(QStringLiteral("Caméra 5"));
    for (qint64 ms : times) {
        QElapsedTimer t;
        t.start();
        c.set_zqstream_reader_read_timestamp(QString::number(ms));
        cont_ms.push_back(t.nsecsElapsed() / 1e6);
    }
    std::printf("  controller, camera already playing: %8.2f ms (median)   ratio %.2f\n", median(cont_ms),
                median(cont_ms) / rm);
    return 0;
}
