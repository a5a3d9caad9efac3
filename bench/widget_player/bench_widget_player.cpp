// Widget player on the shared benchmark day (16 cameras x 24 hours of
// one-minute recordings, 23,040 recordings):
//   - the timeline filler for one camera, from its start to its results
//     applied to the hour rows and the slider, beside `find DAY -type f | sort`
//     on the same tree (target: at most 0.5x);
//   - the look-ups of cameras the rows do not show, each bounded by that
//     camera's own recordings (read from their seek indexes on demand, on the
//     GUI thread): an alarm's recording, and the TAGS list of every camera,
//     beside the 16 ms frame budget;
//   - full repaints of the REC tab's 24 rows (every minute red, a tag per
//     hour) and the day slider (1440 minutes, 24 tags) in a 1920 x 1080
//     window, median and slowest of 100, beside the 16 ms frame budget.
//
// Usage: bench_widget_player [work folder]   (default /tmp/zq_bench_controller,
// the tree bench_controller makes; it is generated when missing).

#include "bench/bench_report.h"
#include "bench/controller/controller_day_tree.h"
#include "player/zq_player_controller_ui.h"
#include "player/zq_player_inferface_controller.h"
#include "recordings/zq_tag.h"
#include "widgetplayer/alarm_model.h"
#include "widgetplayer/ui_zq_player_presentation.h"
#include "widgetplayer/widget_player_ui.h"
#include "widgetplayer/zq_player_presentation.h"
#include "widgetplayer/zq_slider_timeline.h"
#include "widgetplayer/zq_player_tab_widget.h"
#include "widgetplayer/zq_timeline.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

// Counts the paint events its watched widgets receive.
struct PaintCounter : QObject
{
    int paints = 0;
    bool eventFilter(QObject*, QEvent* e) override
    {
        if (e->type() == QEvent::Paint)
            ++paints;
        return false;
    }
};

struct SilentUi : WidgetPlayerUi
{
    void warning(const QString& t, const QString& x) override { std::fprintf(stderr, "warning: %s %s\n", qPrintable(t), qPrintable(x)); }
    void information(const QString&, const QString&) override {}
    void open_alarm_viewer(const QString&, const QString&) override {}
    void open_snapshot_viewer(const QImage&, const QString&) override {}
    void open_alarm_record(const Vignette&) override {}
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
    p.start(QStringLiteral("sh"), {QStringLiteral("-c"), QStringLiteral("find '%1' -type f | sort >/dev/null").arg(day)});
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
    if (!zq::bench::make_controller_day_tree(work, &root))
        return 1;
    const QString day = QDir(root).filePath(zq::bench::kDay.toString(QStringLiteral("yyyy-MM-dd")));

    ZQ_Player_presentation w;
    w.set_ui(std::make_unique<SilentUi>());
    w.resize(1920, 1080);
    w.show();

    // Choose the day (its index is built first when it is missing or stale).
    QModelIndex index;
    if (!QTest::qWaitFor([&] { return (index = w.tree_index_of(day)).isValid(); }, 20000)) {
        std::fprintf(stderr, "day folder not in the tree: %s\n", qPrintable(day));
        return 1;
    }
    QElapsedTimer setup;
    setup.start();
    {
        QSignalSpy filled(&w, &ZQ_Player_presentation::timelines_filled);
        w.tree_entered(index);
        if (!filled.wait(600000)) {
            std::fprintf(stderr, "the day was not set up\n");
            return 1;
        }
    }
    std::printf("day set up (index, cameras, lists, first fill): %.0f ms\n", setup.nsecsElapsed() / 1e6);
    const QFileInfoList videos = w.controller()->day_video_list();

    // ---- Filler: start to results applied, one camera at a time ----
    std::vector<double> filler_ms, find_ms;
    qint64 started = 0, applied = 0;
    QElapsedTimer clock;
    clock.start();
    QObject::connect(&w, &ZQ_Player_presentation::timelines_filled, [&] { applied = clock.nsecsElapsed(); });
    for (int i = 0; i < 9; ++i) {
        const int camera = 1 + (i * 5) % 16;
        QSignalSpy filled(&w, &ZQ_Player_presentation::timelines_filled);
        started = clock.nsecsElapsed();
        w.set_all_timelines_background(camera, videos);
        if (!filled.wait(60000)) {
            std::fprintf(stderr, "the filler did not end\n");
            return 1;
        }
        filler_ms.push_back((applied - started) / 1e6);
        find_ms.push_back(time_find(day));
    }
    int marked = 0;
    for (int m = 0; m < 1440; ++m)
        marked += w.form()->slider->minute(m) ? 1 : 0;
    QTextStream out(stdout);
    out << "\nfiller for one camera (" << videos.size() << " recordings in the day, " << marked
        << " minutes marked), median of 9:" << Qt::endl;
    zq::bench::print_ratio(out, QStringLiteral("start to results applied"), median(filler_ms), median(find_ms),
                           QStringLiteral("ms"), QStringLiteral("find|sort"));
    out << "  target: ratio at most 0.50" << Qt::endl;

    // ---- Look-ups of the cameras not shown, their seek indexes not read yet ----
    // The day read again (as a camera change does) and camera 1 filled: the
    // other cameras' ends are known to nothing.
    auto fresh_day = [&] {
        QSignalSpy filled(&w, &ZQ_Player_presentation::timelines_filled);
        w.change_timelines_from_cameraid(1);
        return filled.wait(60000);
    };
    if (!fresh_day()) {
        std::fprintf(stderr, "the filler did not end\n");
        return 1;
    }
    const QString day_word = zq::bench::kDay.toString(QStringLiteral("yyyyMMdd"));
    std::vector<double> alarm_ms;
    int found = 0;
    for (int camera = 2; camera <= 16; ++camera) {
        QElapsedTimer t;
        t.start();
        const QFileInfo file = w.get_video_file_for_alarm(QString::number(camera), day_word,
                                                          QStringLiteral("%1%2").arg(camera, 2, 10, QLatin1Char('0')).arg(QStringLiteral("3030")));
        alarm_ms.push_back(t.nsecsElapsed() / 1e6);
        found += file.isFile() ? 1 : 0;
    }
    if (!fresh_day()) {
        std::fprintf(stderr, "the filler did not end\n");
        return 1;
    }
    QElapsedTimer list_clock;
    list_clock.start();
    w.set_tags_list_from_cameraid(-1);
    const double list_ms = list_clock.nsecsElapsed() / 1e6;
    const int listed = w.tags_model() ? w.tags_model()->rowCount() : 0;
    list_clock.restart();
    w.set_tags_list_from_cameraid(-1);
    const double again_ms = list_clock.nsecsElapsed() / 1e6;
    out << "\nlook-ups of the 15 cameras not shown, each by its own recordings (seek indexes read on demand):"
        << Qt::endl;
    zq::bench::print_ratio(out, QStringLiteral("alarm's recording, median"), median(alarm_ms), 16.0,
                           QStringLiteral("ms"), QStringLiteral("frame budget"));
    zq::bench::print_ratio(out, QStringLiteral("alarm's recording, slowest"),
                           *std::max_element(alarm_ms.begin(), alarm_ms.end()), 16.0, QStringLiteral("ms"),
                           QStringLiteral("frame budget"));
    zq::bench::print_ratio(out, QStringLiteral("TAGS list, every camera"), list_ms, 16.0, QStringLiteral("ms"),
                           QStringLiteral("frame budget"));
    zq::bench::print_ratio(out, QStringLiteral("the same again, all read"), again_ms, 16.0, QStringLiteral("ms"),
                           QStringLiteral("frame budget"));
    out << "  " << found << " of 15 alarms in a recording; " << listed << " tags listed" << Qt::endl;

    // ---- Repaints: 24 rows and the slider, every minute red, a tag per hour ----
    w.form()->tabWidget->setCurrentIndex(1);
    QList<ZQTag*> tags;
    for (int h = 0; h < 24; ++h) {
        auto* tag = new ZQTag;
        tag->set_cam_id(QStringLiteral("1"));
        tag->set_datetime(zq::bench::kDay.toString(QStringLiteral("yyyyMMdd")) +
                          QStringLiteral("%1%2").arg(h, 2, 10, QLatin1Char('0')).arg(QStringLiteral("3000")));
        tag->set_name(QStringLiteral("tag %1").arg(h));
        tags.append(tag);
    }
    QList<ZQTimeline*> rows;
    for (int h = 0; h < 24; ++h) {
        ZQTimeline* row = w.hour_row(h);
        if (!row)
            continue;
        row->add_minutes(0, 60);
        row->insert_tags(tags, 1);
        rows.append(row);
    }
    ZQSlidertimeline* slider = w.form()->slider;
    slider->add_minutes(0, 1440);
    slider->check_and_add_tags(tags, 1);
    QApplication::processEvents();
    // One paint of the REC tab (its chooser, labels and rows, as the window
    // paints them) and the slider; the first fills the font and style caches.
    QWidget* rec = w.form()->tab_3;
    PaintCounter counter;
    for (ZQTimeline* row : std::as_const(rows))
        row->installEventFilter(&counter);
    rec->repaint();
    slider->repaint();
    std::vector<double> paint_ms, rows_ms;
    for (int i = 0; i < 100; ++i) {
        QElapsedTimer t;
        t.start();
        rec->repaint();
        rows_ms.push_back(t.nsecsElapsed() / 1e6);
        slider->repaint();
        paint_ms.push_back(t.nsecsElapsed() / 1e6);
    }
    const double slowest = *std::max_element(paint_ms.begin(), paint_ms.end());
    out << "\nrepaint of the REC tab, " << rows.size() << " hour rows (" << (rows.isEmpty() ? 0 : rows.first()->width())
        << " px wide) and the slider (" << slider->width() << " px), 100 times:" << Qt::endl;
    zq::bench::print_ratio(out, QStringLiteral("median"), median(paint_ms), 16.0, QStringLiteral("ms"),
                           QStringLiteral("frame budget"));
    zq::bench::print_ratio(out, QStringLiteral("slowest"), slowest, 16.0, QStringLiteral("ms"),
                           QStringLiteral("frame budget"));
    out << "  hour rows painted per repaint: " << counter.paints / 101 << Qt::endl;
    out << "  of which the REC tab: median " << QString::number(median(rows_ms), 'f', 2) << " ms, slowest "
        << QString::number(*std::max_element(rows_ms.begin(), rows_ms.end()), 'f', 2) << " ms" << Qt::endl;
    for (ZQTimeline* row : std::as_const(rows))
        row->insert_tags({}, -1);
    slider->check_and_add_tags({}, -1);
    qDeleteAll(tags);
    return 0;
}
