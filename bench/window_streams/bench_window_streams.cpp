// The real main window opens a storage folder, plays its camera and opens the stream choice,
// while a 2 ms timer measures the GUI thread's longest time away from its event loop (what the
// operator feels as a frozen window). Two folders of the same recordings: one whose first
// recording's seek index also names 80,000 streams (a hostile or broken index), and the plain
// one as the reference. Target: under 100 ms throughout.
//
// Usage (needs a GL surface): xvfb-run -a bench_window_streams [streams]   (default 80000)

#include "player/zq_player_inferface_controller.h"
#include "player/zq_player_qmlpresentation.h"
#include "tools/zqfixture/lib/fixture_writer.h"
#include "view/canvas.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QQuickItem>
#include <QQuickWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <vector>
#include <functional>

namespace {

// Times each event the GUI thread delivers from its loop, to name what kept it away longest.
class TimedApplication : public QApplication
{
public:
    using QApplication::QApplication;
    double longest_ms = 0;
    QString longest_event;
    void reset()
    {
        longest_ms = 0;
        longest_event.clear();
    }
    bool notify(QObject* receiver, QEvent* event) override
    {
        if (m_depth++ > 0) {
            const bool r = QApplication::notify(receiver, event);
            --m_depth;
            return r;
        }
        QElapsedTimer t;
        t.start();
        const QString what = QString::fromLatin1(receiver->metaObject()->className()) + QLatin1Char('/') +
                             receiver->objectName() + QStringLiteral(" event ") + QString::number(int(event->type()));
        const bool r = QApplication::notify(receiver, event);
        const double ms = t.nsecsElapsed() / 1e6;
        if (ms > longest_ms) {
            longest_ms = ms;
            longest_event = what;
        }
        --m_depth;
        return r;
    }

private:
    int m_depth = 0;
};

struct Figures
{
    bool ok = false;
    double first_picture_ms = 0;
    double longest_block_ms = 0;
    QString longest_phase;
    QString longest_event;
    int offered = 0;
};

QString write_storage(const QString& parent, int extra_streams)
{
    ZQFixture::Options o;
    o.output_parent = parent;
    o.cameras = {4};
    o.start_time = QTime(9, 0, 0);
    o.recordings_per_camera = 3;
    o.seconds_per_recording = 10;
    o.size = QSize(320, 240);
    o.fps = 10;
    o.gop = 10;
    const ZQFixture::Result r = ZQFixture::write(o);
    if (!r.ok) {
        std::fprintf(stderr, "fixture: %s\n", qPrintable(r.error));
        return {};
    }
    if (extra_streams > 0) {
        QFile f(QDir(r.root_path).filePath(QStringLiteral("2024-01-01/090000/4_20240101_090000.zqseek")));
        if (!f.open(QIODevice::Append))
            return {};
        QByteArray lines;
        for (int i = 2; i < extra_streams + 2; ++i)
            lines += "20240101090001000:video" + QByteArray::number(i) + ":frame/h264:320x240:0:10\n";
        f.write(lines);
    }
    return r.root_path;
}

QObject* find_with_property(QObject* under, const char* name)
{
    if (!under)
        return nullptr;
    if (under->metaObject()->indexOfProperty(name) >= 0)
        return under;
    for (QObject* child : under->children())
        if (QObject* found = find_with_property(child, name))
            return found;
    if (auto* item = qobject_cast<QQuickItem*>(under))
        for (QQuickItem* child : item->childItems())
            if (QObject* found = find_with_property(child, name))
                return found;
    return nullptr;
}

Figures run(const QString& root)
{
    Figures fig;
    ZQ_Player_qmlpresentation window(nullptr);
    window.resize(1600, 900);
    window.show();
    if (!QTest::qWaitForWindowExposed(&window))
        return fig;
    QObject* home = window.sidePanel()->rootObject()->property("homePanel").value<QObject*>();
    QObject* controls = find_with_property(window.timelinePanel()->rootObject(), "streamPopup");
    if (!home || !controls) {
        std::fprintf(stderr, "window parts not found\n");
        return fig;
    }

    // The window's own first layout and paint are not the folder's: let them pass.
    {
        QDeadlineTimer settle(1000);
        while (!settle.hasExpired())
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
    }
    QString phase = QStringLiteral("opening the folder");
    QElapsedTimer beat;
    QTimer ticker;
    ticker.setInterval(2);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        const double ms = beat.nsecsElapsed() / 1e6;
        if (ms > fig.longest_block_ms) {
            fig.longest_block_ms = ms;
            fig.longest_phase = phase;
        }
        beat.restart();
    });
    auto serve_until = [](const std::function<bool()>& done, int timeout_ms) {
        QDeadlineTimer deadline(timeout_ms);
        while (!done() && !deadline.hasExpired())
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
        return done();
    };

    auto* app = static_cast<TimedApplication*>(QCoreApplication::instance());
    app->reset();
    QElapsedTimer clock;
    clock.start();
    beat.start();
    ticker.start();
    QTimer::singleShot(0, home, [home, root] { QMetaObject::invokeMethod(home, "selectFolder", Q_ARG(QVariant, root)); });
    if (!serve_until([&] { return !window.canvas()->get_frame_image().isNull(); }, 120000)) {
        std::fprintf(stderr, "no picture shown\n");
        return fig;
    }
    fig.first_picture_ms = clock.nsecsElapsed() / 1e6;
    phase = QStringLiteral("playing");
    serve_until([] { return false; }, 2000);

    phase = QStringLiteral("opening the stream choice");
    QObject* popup = controls->property("streamPopup").value<QObject*>();
    QTimer::singleShot(0, controls, [controls] { QMetaObject::invokeMethod(controls, "openStreamPopup"); });
    serve_until([&] { return popup && popup->property("opened").toBool(); }, 30000);
    serve_until([] { return false; }, 500);
    fig.offered = controls->property("options").toList().size();
    ticker.stop();
    fig.longest_event = app->longest_event + QStringLiteral(" ") + QString::number(app->longest_ms, 'f', 1) + QStringLiteral(" ms");
    fig.ok = popup && popup->property("opened").toBool();
    if (!fig.ok)
        std::fprintf(stderr, "the stream choice did not open\n");
    return fig;
}

} // namespace

int main(int argc, char** argv)
{
    QTemporaryDir home;
    qputenv("HOME", home.path().toUtf8());
    TimedApplication app(argc, argv);
    const int streams = argc > 1 ? QString::fromLocal8Bit(argv[1]).toInt() : 80000;
    QTemporaryDir work;
    const QString plain = write_storage(work.filePath(QStringLiteral("plain")), 0);
    const QString hostile = write_storage(work.filePath(QStringLiteral("hostile")), streams);
    if (plain.isEmpty() || hostile.isEmpty())
        return 1;

    // In turns, after one window opened and closed (the QML engine's first start is not the
    // folder's); the median and the worst of the rounds.
    run(plain);
    const int rounds = 3;
    std::vector<Figures> ours, ref;
    for (int i = 0; i < rounds; ++i) {
        ref.push_back(run(plain));
        ours.push_back(run(hostile));
        if (!ref.back().ok || !ours.back().ok)
            return 1;
    }
    auto by_block = [](std::vector<Figures> v) {
        std::sort(v.begin(), v.end(),
                  [](const Figures& a, const Figures& b) { return a.longest_block_ms < b.longest_block_ms; });
        return v;
    };
    const std::vector<Figures> o = by_block(ours), r = by_block(ref);
    std::printf("window with a seek index naming %d streams (open, play 2 s, open the stream choice), %d rounds\n",
                streams, rounds);
    std::printf("  longest GUI-thread block, median: %7.1f ms   plain folder: %7.1f ms   target 100 ms\n",
                o[rounds / 2].longest_block_ms, r[rounds / 2].longest_block_ms);
    std::printf("  longest GUI-thread block, worst : %7.1f ms (%s)   plain folder: %7.1f ms (%s)\n",
                o.back().longest_block_ms, qPrintable(o.back().longest_phase), r.back().longest_block_ms,
                qPrintable(r.back().longest_phase));
    std::printf("  longest single event, worst     : %s   plain folder: %s\n", qPrintable(o.back().longest_event),
                qPrintable(r.back().longest_event));
    std::printf("  first picture after             : %7.1f ms   plain folder: %7.1f ms\n", o.back().first_picture_ms,
                r.back().first_picture_ms);
    std::printf("  streams offered                 : %7d      plain folder: %7d\n", o.back().offered,
                r.back().offered);
    return 0;
}
