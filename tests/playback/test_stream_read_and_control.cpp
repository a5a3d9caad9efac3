#include "app/zq_log.h"
#include "playback/zq_stream_read_and_control.h"
#include "tests/playback/reader_clock.h"
#include "tools/zqfixture/lib/fixture_writer.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QSemaphore>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QThreadPool>
#include <QTimer>
#include <QtTest>

#include <sys/stat.h>

#include <algorithm>

namespace {

QStringList g_log;

void capture(QtMsgType, const QMessageLogContext&, const QString& message)
{
    g_log << message;
}

bool logged(const QString& text)
{
    for (const QString& line : g_log)
        if (line.contains(text))
            return true;
    return false;
}

// What a picture shows: the time of day painted into it by the fixture.
struct Shown
{
    int frameId;
    qint64 timeMs;
    QString timestamp;
    QSize size;
};

QList<Shown> shown(const QSignalSpy& spy, int from = 0)
{
    QList<Shown> r;
    for (int i = from; i < spy.size(); ++i) {
        const QImage image = spy.at(i).at(0).value<QImage>();
        r << Shown{spy.at(i).at(7).toInt(), ZQFixture::read_pattern(image).time_ms(), spy.at(i).at(4).toString(),
                   image.size()};
    }
    return r;
}

QList<qint64> times(const QList<Shown>& s)
{
    QList<qint64> r;
    for (const Shown& x : s)
        r << x.timeMs;
    return r;
}

QList<qint64> entry_times(const ZQFixture::WrittenFile& f, int stream = 1)
{
    QList<qint64> r;
    for (const ZQFixture::FrameEntry& e : f.frames)
        if (e.stream == stream)
            r << e.time_ms;
    return r;
}

QList<QFileInfo> data_files(const QList<ZQFixture::WrittenFile>& files)
{
    QList<QFileInfo> r;
    for (const ZQFixture::WrittenFile& f : files)
        r << QFileInfo(f.data_path);
    return r;
}

// Runs queued self-calls (the first tick of a file just switched to).
void settle()
{
    for (int i = 0; i < 5; ++i)
        QCoreApplication::processEvents();
}

using zqtest::fire_read_timer;

constexpr qint64 ms_of_day(int h, int m, int s)
{
    return (qint64(h) * 3600 + m * 60 + s) * 1000;
}

} // namespace

// The reader is driven through its slots directly; the fixture's pictures say
// which frame they are, so every check is on what would be on screen.
class TestStreamReadAndControl : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    int m_count = 0;
    ZQFixture::Result m_day; // three recordings of two seconds, camera 1

    ZQFixture::Result make(ZQFixture::Options o)
    {
        o.output_parent = m_dir.filePath(QString::number(++m_count));
        if (o.threads == 0)
            o.threads = 2;
        return ZQFixture::write(o);
    }

    static ZQFixture::Options day_options()
    {
        ZQFixture::Options o;
        o.cameras = {1};
        o.recordings_per_camera = 3;
        o.seconds_per_recording = 2;
        o.size = QSize(192, 144);
        o.gop = 10;
        return o;
    }

    // One small recording, cheap to decode, for the pace measures.
    static ZQFixture::Options one_recording(int seconds)
    {
        ZQFixture::Options o = day_options();
        o.recordings_per_camera = 1;
        o.seconds_per_recording = seconds;
        o.size = QSize(64, 48);
        return o;
    }

    QList<qint64> all_times(const ZQFixture::Result& r) const
    {
        QList<qint64> t;
        for (const ZQFixture::WrittenFile& f : r.files)
            t << entry_times(f);
        return t;
    }


    // One day of camera 1 whose rate changes (a profile change, a reconfiguration): A 25 fps
    // 08:00:00-10, B 5 fps 08:00:10-20, C 25 fps 08:00:20-30, a keyframe a second.
    QList<ZQFixture::WrittenFile> m_rateDay;
    QList<ZQFixture::WrittenFile> rate_day()
    {
        if (m_rateDay.isEmpty()) {
            const int rates[] = {25, 5, 25};
            for (int i = 0; i < 3; ++i) {
                ZQFixture::Options o = one_recording(10);
                o.fps = rates[i];
                o.gop = rates[i];
                o.start_time = QTime(8, 0, 10 * i);
                const ZQFixture::Result r = make(o);
                if (!r.ok)
                    return {};
                m_rateDay << r.files.first();
            }
        }
        return m_rateDay;
    }

    // Four recordings of 20 s back to back, 25 fps, a keyframe every `gop` pictures.
    QHash<int, ZQFixture::Result> m_gopDays;
    ZQFixture::Result gop_day(int gop)
    {
        if (!m_gopDays.contains(gop)) {
            ZQFixture::Options o = one_recording(20);
            o.recordings_per_camera = 4;
            o.gop = gop;
            m_gopDays.insert(gop, make(o));
        }
        return m_gopDays.value(gop);
    }

    // Reads `files` at `rate` from the first entry of the first recording, or backward from the
    // last entry of the last one.
    static bool start_at_an_end(ZQStreamReadAndControl& reader, const QList<ZQFixture::WrittenFile>& files, int rate)
    {
        const bool forward = rate > 0;
        if (!reader.init_displayer_for_stream(QFileInfo(files[forward ? 0 : files.size() - 1].seek_path), "1",
                                              data_files(files)))
            return false;
        reader.set_index(forward ? 0 : int(reader.get_frame_index().size()) - 1);
        reader.change_rate(rate);
        return true;
    }

    // Before each tick, the parse of the next (previous) recording made ahead is either waited
    // for, so that the switch takes it, or dropped, so that the switch loads the recording itself.
    static void prepare_switch(ZQStreamReadAndControl& reader, bool prefetched)
    {
        if (prefetched) {
            reader.wait_for_prefetches();
        } else {
            reader.reset_forward_prefetch();
            reader.reset_backward_prefetch();
        }
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        set_log_level(1);
        qInstallMessageHandler(capture);
        m_day = make(day_options());
        QVERIFY2(m_day.ok, qPrintable(m_day.error));
        QCOMPARE(m_day.files.size(), 3);
    }

    void init() { g_log.clear(); }

    // Time from one picture to the next: the recording's own spacing for
    // every frame, fraction included; whole milliseconds for the keyframes of
    // the fast rates; a second when the rate is not known.
    void period_table_data()
    {
        QTest::addColumn<double>("fps");
        QTest::addColumn<int>("rate");
        QTest::addColumn<double>("period");
        QTest::newRow("25 fps x1") << 25.0 << 1 << 40.0;
        QTest::newRow("25 fps x-1") << 25.0 << -1 << 40.0;
        QTest::newRow("30 fps x1") << 30.0 << 1 << 1000.0 / 30;
        QTest::newRow("29.9998 fps") << 29.9998 << 1 << 1000.0 / 29.9998;
        QTest::newRow("24.99 fps x-1") << 24.99 << -1 << 1000.0 / 24.99;
        QTest::newRow("12.5 fps") << 12.5 << 1 << 80.0;
        QTest::newRow("5 fps") << 5.0 << 1 << 200.0;
        QTest::newRow("2.5 fps") << 2.5 << 1 << 400.0;
        QTest::newRow("1 fps") << 1.0 << -1 << 1000.0;
        QTest::newRow("initial fps") << -1.0 << 1 << 1000.0;
        QTest::newRow("below 1 fps") << 0.5 << 1 << 1000.0;
        QTest::newRow("infinite fps") << qInf() << 1 << 1000.0;
        QTest::newRow("nan fps") << qQNaN() << -1 << 1000.0;
        // A seek index whose frames share one millisecond but one: a rate far beyond any int.
        QTest::newRow("fps above int range") << 1e12 << 1 << 1.0;
        QTest::newRow("fps above int range, backward") << 3e9 << -1 << 1.0;
        QTest::newRow("x2") << 25.0 << 2 << 250.0;
        QTest::newRow("x-4") << 25.0 << -4 << 125.0;
        QTest::newRow("x8") << 25.0 << 8 << 62.0;
        QTest::newRow("x8, rate not known") << -1.0 << -8 << 62.0;
    }

    void period_table()
    {
        QFETCH(double, fps);
        QFETCH(int, rate);
        QFETCH(double, period);
        QVERIFY2(qAbs(ZQStreamReadAndControl::period_for(rate, fps) - period) < 1e-9,
                 qPrintable(QString::number(ZQStreamReadAndControl::period_for(rate, fps), 'g', 12)));
    }

    // Rates as the player's buttons and odd values set them.
    void change_rate_data()
    {
        QTest::addColumn<double>("rate");
        QTest::addColumn<int>("stored");
        QTest::addColumn<int>("interval");
        QTest::addColumn<bool>("backward");
        QTest::newRow("2") << 2.0 << 2 << 250 << false;
        QTest::newRow("0.5 plays like 1") << 0.5 << 1 << 40 << false;
        QTest::newRow("-1") << -1.0 << -1 << 40 << true;
        QTest::newRow("-1.5") << -1.5 << -1 << 40 << true;
        QTest::newRow("-8") << -8.0 << -8 << 62 << true;
    }

    void change_rate()
    {
        QFETCH(double, rate);
        QFETCH(int, stored);
        QFETCH(int, interval);
        QFETCH(bool, backward);
        ZQStreamReadAndControl reader;
        QVERIFY(reader.init_displayer_for_stream(QFileInfo(m_day.files[0].seek_path), "1", data_files(m_day.files)));
        reader.read_forward();
        reader.change_rate(rate);
        QCOMPARE(reader.get_rate(), stored);
        QVERIFY(reader.get_read_timer());
        QCOMPARE(reader.get_read_timer()->interval(), interval);
        QVERIFY(reader.get_read_timer()->isActive());
        QCOMPARE(reader.get_speed() < 0, backward);
        if (rate == -1.0)
            QCOMPARE(reader.get_speed(), -5.0);
        reader.set_pause();
        QVERIFY(reader.is_paused());
        QVERIFY(!reader.get_read_timer()->isActive());
        reader.set_pause();
        QVERIFY(reader.get_read_timer()->isActive());
        QCOMPARE(reader.get_read_timer()->interval(), interval);
    }

    // Every frame of the three recordings, in order, then the end of the list.
    void forward_across_files_data()
    {
        QTest::addColumn<bool>("waitPrefetch");
        QTest::newRow("prefetched") << true;
        QTest::newRow("loaded when needed") << false;
    }

    void forward_across_files()
    {
        QFETCH(bool, waitPrefetch);
        ZQStreamReadAndControl reader;
        QSignalSpy frames(&reader, &ZQStreamReadAndControl::set_display_frame);
        QSignalSpy slider(&reader, &ZQStreamReadAndControl::slidervalue);
        QSignalSpy ended(&reader, &ZQStreamReadAndControl::reading_ended);
        QSignalSpy next(&reader, &ZQStreamReadAndControl::set_next_file);
        QSignalSpy previous(&reader, &ZQStreamReadAndControl::set_previous_file);
        // The same start twice must not list the recordings twice.
        QVERIFY(reader.init_displayer_for_stream(QFileInfo(m_day.files[0].seek_path), "1", data_files(m_day.files)));
        QVERIFY(reader.init_displayer_for_stream(QFileInfo(m_day.files[0].seek_path), "1", data_files(m_day.files)));
        QCOMPARE(reader.get_file_list().size(), 3);
        QVERIFY(frames.isEmpty()); // the probe shows nothing
        reader.read_forward();
        reader.get_read_timer()->stop(); // the ticks below stand in for it

        for (int guard = 0; guard < 400; ++guard) {
            if (waitPrefetch)
                reader.wait_for_prefetches();
            reader.read_and_display_next_frame(false);
            settle();
        }
        const QList<Shown> s = shown(frames);
        QCOMPARE(times(s), all_times(m_day));
        QCOMPARE(s.first().timestamp, QStringLiteral("2024-01-01 08:00:00.000"));
        QCOMPARE(s.first().frameId, 0);
        QCOMPARE(s.at(51).frameId, 1); // second frame of the second file
        QCOMPARE(slider.size(), frames.size());
        // The slider carries the entry index within the file's frame list (the second file
        // starts at 0 again), not a minute of the day.
        QCOMPARE(slider.at(0).at(0).toInt(), 0);
        QCOMPARE(slider.at(49).at(0).toInt(), 49);
        QCOMPARE(slider.at(51).at(0).toInt(), 1);
        QCOMPARE(slider.at(51).at(1).toString().size(), 17);
        QVERIFY(logged("next :: end of list reached"));
        QCOMPARE(ended.size(), 1);
        QCOMPARE(next.size() + previous.size(), 0);
        QCOMPARE(reader.get_current_position(), 2);
    }

    // From rate 2 on, only keyframes, across the file boundaries too: each tick of the read
    // timer shows the keyframe due at the time reached on the pictures (x4 goes 500 ms of
    // recording per 125 ms tick, keyframes are 400 ms apart), skipping those already passed.
    void keyframes_only()
    {
        ZQStreamReadAndControl reader;
        qint64 clock = 1'000'000'000;
        reader.set_clock([&clock] { return clock; });
        QSignalSpy frames(&reader, &ZQStreamReadAndControl::set_display_frame);
        QVERIFY(reader.init_displayer_for_stream(QFileInfo(m_day.files[0].seek_path), "1", data_files(m_day.files)));
        reader.change_rate(4.0);
        for (int i = 0; i < 40; ++i) {
            reader.wait_for_prefetches();
            if (!fire_read_timer(reader, clock, 0))
                break;
        }
        QList<qint64> expected;
        for (const ZQFixture::WrittenFile& f : m_day.files)
            for (const int i : {10, 20, 30, 40})
                expected << entry_times(f).at(i);
        QCOMPARE(times(shown(frames)), expected);
        QVERIFY(!reader.get_read_timer()); // the end of the list
    }

    // Backward at rate -1 on time: every entry once, in reverse order, across
    // a file boundary; late ticks skip, but never more than five entries.
    void backward_across_boundary()
    {
        ZQStreamReadAndControl reader;
        qint64 clock = 1'000'000'000;
        reader.set_clock([&clock] { return clock; });
        QSignalSpy frames(&reader, &ZQStreamReadAndControl::set_display_frame);
        QVERIFY(reader.init_displayer_for_stream(QFileInfo(m_day.files[1].seek_path), "1", data_files(m_day.files)));
        reader.set_index(23); // not a keyframe: nothing shown
        QCOMPARE(frames.size(), 0);
        reader.change_rate(-1.0);
        reader.get_read_timer()->stop();
        const qint64 step = qint64(reader.get_backward_interval()) * 1'000'000;
        for (int i = 0; i < 50; ++i) {
            reader.wait_for_prefetches();
            clock += step;
            reader.read_and_display_previous_frame(false);
            settle();
        }
        const QList<qint64> first = entry_times(m_day.files[0]);
        const QList<qint64> second = entry_times(m_day.files[1]);
        QList<qint64> expected;
        for (int i = 22; i >= 0; --i)
            expected << second.at(i);
        for (int i = first.size() - 1; expected.size() < frames.size(); --i)
            expected << first.at(i);
        // 23 entries, a tick that switches, the queued tick after it and 26 more.
        QCOMPARE(frames.size(), 50);
        QCOMPARE(times(shown(frames)), expected);
        QCOMPARE(shown(frames).first().frameId, 22);

        // Timer jitter, one tick a little early and the next a little late,
        // neither repeats nor skips an entry.
        int before = reader.get_index();
        clock += step * 95 / 100;
        reader.read_and_display_previous_frame(false);
        clock += step * 105 / 100;
        reader.read_and_display_previous_frame(false);
        clock += step * 97 / 100;
        reader.read_and_display_previous_frame(false);
        QCOMPARE(reader.get_index(), before - 3);

        // A late tick (a slow group start, a busy window) shows the next picture late but skips
        // none: every frame is shown backward, as forward.
        before = reader.get_index();
        const int shownBefore = int(frames.size());
        clock += 3 * step;
        reader.read_and_display_previous_frame(false);
        QCOMPARE(reader.get_index(), before - 1);
        clock += 100 * step;
        reader.read_and_display_previous_frame(false);
        QCOMPARE(reader.get_index(), before - 2);
        QCOMPARE(frames.size(), shownBefore + 2);
    }

    // Keyframes only backward: each tick of the read timer (x-2: 500 ms of recording per 250 ms
    // tick) shows the keyframe due going back, across the boundary to the previous recording.
    void backward_keyframes()
    {
        ZQStreamReadAndControl reader;
        qint64 clock = 1'000'000'000;
        reader.set_clock([&clock] { return clock; });
        QSignalSpy frames(&reader, &ZQStreamReadAndControl::set_display_frame);
        QVERIFY(reader.init_displayer_for_stream(QFileInfo(m_day.files[1].seek_path), "1", data_files(m_day.files)));
        reader.set_index(25);
        frames.clear();
        reader.change_rate(-2.0);
        for (int i = 0; i < 5; ++i) {
            reader.wait_for_prefetches();
            QVERIFY(fire_read_timer(reader, clock, 0));
        }
        const QList<qint64> first = entry_times(m_day.files[0]);
        const QList<qint64> second = entry_times(m_day.files[1]);
        QCOMPARE(times(shown(frames)), (QList<qint64>{second[20], second[0], first[40], first[30], first[20]}));
    }

    // Frame steps, with the neighbour's seek index loaded and not yet loaded.
    void single_steps()
    {
        ZQStreamReadAndControl reader;
        QSignalSpy frames(&reader, &ZQStreamReadAndControl::set_display_frame);
        QVERIFY(reader.init_displayer_for_stream(QFileInfo(m_day.files[0].seek_path), "1", data_files(m_day.files)));
        const QList<qint64> first = entry_times(m_day.files[0]);
        const QList<qint64> second = entry_times(m_day.files[1]);

        reader.set_index(40);
        QCOMPARE(times(shown(frames)), QList<qint64>{first[40]});
        for (int i = 41; i < first.size(); ++i)
            reader.read_and_display_next_frame(true);
        QCOMPARE(times(shown(frames)).last(), first.last());
        QCOMPARE(frames.size(), 10);

        // Keep the pool busy so the next file's index is not loaded yet.
        QThreadPool* pool = QThreadPool::globalInstance();
        const int threads = pool->maxThreadCount();
        pool->setMaxThreadCount(1);
        QSemaphore gate;
        pool->start([&gate] { gate.acquire(); });
        reader.reset_forward_prefetch();
        reader.read_and_display_next_frame(true); // starts the load of the next file
        QVERIFY(logged("next step :: prefetch restarted for expected next"));
        reader.read_and_display_next_frame(true);
        QVERIFY(logged("next step :: prefetch consistent but not finished yet"));
        settle();
        QCOMPARE(frames.size(), 10);
        gate.release();
        reader.wait_for_prefetches();
        pool->setMaxThreadCount(threads);

        reader.read_and_display_next_frame(true);
        settle();
        QCOMPARE(times(shown(frames)).last(), second.first());
        QCOMPARE(reader.get_current_position(), 1);
        reader.read_and_display_next_frame(true);
        QCOMPARE(times(shown(frames)).last(), second.at(1));

        // Back: entry 0, then across the boundary to the previous file's last entry.
        reader.read_and_display_previous_frame(true);
        QCOMPARE(times(shown(frames)).last(), second.at(0));
        reader.read_and_display_previous_frame(true); // loads the previous index
        reader.wait_for_prefetches();
        reader.read_and_display_previous_frame(true);
        settle();
        QCOMPARE(times(shown(frames)).last(), first.last());
        reader.read_and_display_previous_frame(true);
        QCOMPARE(times(shown(frames)).last(), first.at(first.size() - 2));
        QCOMPARE(reader.get_current_position(), 0);
    }

    // Paused in the middle of a group, a step back, then play again: the tick
    // reads the entry the step showed once more and goes on. The codec then
    // holds another picture than the one before that entry, so it has to be
    // brought there from the keyframe; fed a lone non-keyframe it shows no
    // picture, or a damaged one, until the next keyframe.
    void play_after_step_back()
    {
        ZQStreamReadAndControl reader;
        QSignalSpy frames(&reader, &ZQStreamReadAndControl::set_display_frame);
        QVERIFY(reader.init_displayer_for_stream(QFileInfo(m_day.files[0].seek_path), "1", data_files(m_day.files)));
        const QList<qint64> first = entry_times(m_day.files[0]);
        for (int i = 0; i < 6; ++i)
            reader.read_and_display_next_frame(false); // entries 0 to 5
        reader.read_and_display_previous_frame(true);  // entry 4
        reader.read_and_display_next_frame(false);     // entry 4 again
        reader.read_and_display_next_frame(false);     // entry 5
        reader.read_and_display_next_frame(false);     // entry 6
        QCOMPARE(times(shown(frames)),
                 (QList<qint64>{first[0], first[1], first[2], first[3], first[4], first[5], first[4], first[4], first[5],
                                first[6]}));
    }

    // Backward playback decodes the group before the current one ahead of
    // time; the single steps after a pause still start from the picture on
    // screen.
    void steps_after_backward_play()
    {
        ZQStreamReadAndControl reader;
        qint64 clock = 1'000'000'000;
        reader.set_clock([&clock] { return clock; });
        QSignalSpy frames(&reader, &ZQStreamReadAndControl::set_display_frame);
        QVERIFY(reader.init_displayer_for_stream(QFileInfo(m_day.files[0].seek_path), "1", data_files(m_day.files)));
        const QList<qint64> first = entry_times(m_day.files[0]);
        reader.set_index(30);
        reader.change_rate(-1.0);
        reader.get_read_timer()->stop();
        const qint64 step = qint64(reader.get_backward_interval()) * 1'000'000;
        for (int i = 0; i < 5; ++i) {
            clock += step;
            reader.read_and_display_previous_frame(false); // entries 29 to 25
        }
        QCOMPARE(times(shown(frames)).last(), first[25]);
        reader.read_and_display_next_frame(true);
        QCOMPARE(times(shown(frames)).last(), first[26]);
        reader.read_and_display_previous_frame(true);
        QCOMPARE(times(shown(frames)).last(), first[25]);
        reader.read_and_display_previous_frame(true);
        QCOMPARE(times(shown(frames)).last(), first[24]);
    }

    void positioning_data()
    {
        QTest::addColumn<QString>("time");
        QTest::addColumn<int>("index");
        QTest::newRow("before the first keyframe") << "20240101075959" << 0;
        QTest::newRow("between keyframes") << "20240101080001" << 30;
        QTest::newRow("on a second") << "20240101080000" << 0;
        QTest::newRow("after the last keyframe") << "20240101080005" << 40;
        QTest::newRow("not a time") << "garbage" << 0;
    }

    void positioning()
    {
        QFETCH(QString, time);
        QFETCH(int, index);
        ZQStreamReadAndControl reader;
        QSignalSpy frames(&reader, &ZQStreamReadAndControl::set_display_frame);
        QSignalSpy times(&reader, &ZQStreamReadAndControl::setTime);
        QVERIFY(reader.init_displayer_for_stream(QFileInfo(m_day.files[0].seek_path), "1", data_files(m_day.files)));
        reader.read_and_display_next_frame(false);
        reader.read_and_display_next_frame(false);
        reader.read_and_display_next_frame(false);
        frames.clear();
        reader.set_read_timestamp(time);
        QCOMPARE(reader.get_index(), index);
        QCOMPARE(frames.size(), 1);
        const qint64 expected = entry_times(m_day.files[0]).at(index);
        QCOMPARE(shown(frames).first().timeMs, expected);
        QCOMPARE(times.last().first().toTime(), QTime::fromMSecsSinceStartOfDay(int(expected)));
        // The next tick reads on from the keyframe.
        reader.read_and_display_next_frame(false);
        reader.read_and_display_next_frame(false);
        QCOMPARE(shown(frames).last().timeMs, entry_times(m_day.files[0]).at(index + 1));
    }

    // Forward reading started while the stored rate is -1 (a new camera
    // chosen during backward playback): every frame, not only keyframes.
    void forward_with_negative_rate()
    {
        ZQStreamReadAndControl reader;
        QSignalSpy frames(&reader, &ZQStreamReadAndControl::set_display_frame);
        QVERIFY(reader.init_displayer_for_stream(QFileInfo(m_day.files[0].seek_path), "1", data_files(m_day.files)));
        reader.change_rate(-1.0);
        reader.read_forward();
        reader.get_read_timer()->stop();
        for (int i = 0; i < 15; ++i)
            reader.read_and_display_next_frame(false);
        QCOMPARE(times(shown(frames)), entry_times(m_day.files[0]).mid(0, 15));
    }

    // set_index() outside the frame index: the next tick starts at the first
    // entry, or goes on with the next recording.
    void index_out_of_range()
    {
        ZQStreamReadAndControl reader;
        QSignalSpy frames(&reader, &ZQStreamReadAndControl::set_display_frame);
        QVERIFY(reader.init_displayer_for_stream(QFileInfo(m_day.files[0].seek_path), "1", data_files(m_day.files)));
        reader.set_index(-3);
        QCOMPARE(frames.size(), 0);
        reader.read_and_display_next_frame(false);
        QCOMPARE(times(shown(frames)), QList<qint64>{entry_times(m_day.files[0]).first()});
        reader.set_index(1000);
        reader.wait_for_prefetches();
        reader.read_and_display_next_frame(false);
        settle();
        QCOMPARE(times(shown(frames)).last(), entry_times(m_day.files[1]).first());
    }

    // A stream the recording does not hold: the one it holds is played.
    void stream_fallback()
    {
        ZQFixture::Options o = day_options();
        o.recordings_per_camera = 1;
        o.second_stream = true;
        o.cameras = {5};
        const ZQFixture::Result r = make(o);
        QVERIFY2(r.ok, qPrintable(r.error));
        ZQStreamReadAndControl reader;
        QSignalSpy streams(&reader, &ZQStreamReadAndControl::send_available_videostream);
        QSignalSpy frames(&reader, &ZQStreamReadAndControl::set_display_frame);
        QVERIFY(reader.init_displayer_for_stream(QFileInfo(r.files[0].seek_path), "7", data_files(r.files)));
        QCOMPARE(reader.get_id_stream(), QStringLiteral("1"));
        QVERIFY(logged("ID STREAM NOT FOUND, set to 1"));
        QVERIFY(streams.contains(QVariantList{QStringList{"1", "2"}}));
        QCOMPARE(streams.last().first().toStringList(), QStringList{"1"});

        // Stream 2 plays its own, smaller pictures.
        QVERIFY(reader.init_displayer_for_stream(QFileInfo(r.files[0].seek_path), "2", data_files(r.files)));
        reader.read_and_display_next_frame(false);
        reader.read_and_display_next_frame(false);
        QCOMPARE(frames.size(), 2);
        QCOMPARE(shown(frames).first().size, QSize(96, 72));
        QCOMPARE(shown(frames).at(1).timeMs, entry_times(r.files[0], 2).at(1));
    }

    // A recording in the middle without a usable seek index is passed over.
    void broken_recording_in_list_data()
    {
        QTest::addColumn<QByteArray>("seekText"); // empty: the seek index is removed
        QTest::newRow("missing") << QByteArray();
        QTest::newRow("empty") << QByteArray("\n");
        QTest::newRow("garbage") << QByteArray("not:a:seek\nindex\x01\x02\n");
    }

    void broken_recording_in_list()
    {
        QFETCH(QByteArray, seekText);
        ZQFixture::Options o = day_options();
        o.cameras = {2};
        const ZQFixture::Result r = make(o);
        QVERIFY(r.ok);
        QFile::remove(r.files[1].seek_path);
        if (!seekText.isEmpty()) {
            QFile f(r.files[1].seek_path);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(seekText);
        }
        ZQStreamReadAndControl reader;
        QSignalSpy frames(&reader, &ZQStreamReadAndControl::set_display_frame);
        QVERIFY(reader.init_displayer_for_stream(QFileInfo(r.files[0].seek_path), "1", data_files(r.files)));
        for (int i = 0; i < 200; ++i) {
            reader.wait_for_prefetches();
            reader.read_and_display_next_frame(false);
            settle();
        }
        QCOMPARE(times(shown(frames)), entry_times(r.files[0]) + entry_times(r.files[2]));
    }

    // The next recording holds only another stream: the reader retries with
    // it and plays on with that stream.
    void next_file_of_another_stream()
    {
        ZQFixture::Options o = day_options();
        o.cameras = {6};
        o.recordings_per_camera = 2;
        const ZQFixture::Result r = make(o);
        QVERIFY(r.ok);
        QFile seek(r.files[1].seek_path);
        QVERIFY(seek.open(QIODevice::ReadOnly));
        QByteArray text = seek.readAll();
        seek.close();
        text.replace(":video1:", ":video2:");
        QVERIFY(seek.open(QIODevice::WriteOnly | QIODevice::Truncate));
        seek.write(text);
        seek.close();

        ZQStreamReadAndControl reader;
        QSignalSpy frames(&reader, &ZQStreamReadAndControl::set_display_frame);
        QVERIFY(reader.init_displayer_for_stream(QFileInfo(r.files[0].seek_path), "1", data_files(r.files)));
        for (int i = 0; i < 120; ++i) {
            reader.wait_for_prefetches();
            reader.read_and_display_next_frame(false);
            settle();
        }
        QVERIFY(logged("next :: requested stream '1' not found, retry with detected '2'"));
        QCOMPARE(reader.get_id_stream(), QStringLiteral("2"));
        QCOMPARE(times(shown(frames)), entry_times(r.files[0]) + entry_times(r.files[1]));
    }

    // A codec and size change between recordings, a truncated last recording,
    // and a data file that vanishes while playing.
    void changing_recordings()
    {
        ZQFixture::Options a = day_options();
        a.recordings_per_camera = 1;
        a.cameras = {9};
        ZQFixture::Options b = a;
        b.codec = ZQFixture::Codec::MJPEG;
        b.size = QSize(128, 96);
        b.start_time = QTime(8, 0, 2);
        b.truncate = true;
        const ZQFixture::Result ra = make(a);
        const ZQFixture::Result rb = make(b);
        QVERIFY(ra.ok && rb.ok);
        QList<QFileInfo> list{QFileInfo(ra.files[0].data_path), QFileInfo(rb.files[0].data_path)};

        ZQStreamReadAndControl reader;
        QSignalSpy frames(&reader, &ZQStreamReadAndControl::set_display_frame);
        QVERIFY(reader.init_displayer_for_stream(QFileInfo(ra.files[0].seek_path), "1", list));
        for (int i = 0; i < 120; ++i) {
            reader.wait_for_prefetches();
            reader.read_and_display_next_frame(false);
            settle();
        }
        QVERIFY(logged("read frame :: decoder change/open to mjpeg"));
        QVERIFY(logged("read frame :: short read"));
        const QList<Shown> s = shown(frames);
        QList<qint64> expected = entry_times(ra.files[0]) + entry_times(rb.files[0]);
        expected.removeLast(); // cut in half
        QCOMPARE(times(s), expected);
        QCOMPARE(s.first().size, QSize(192, 144));
        QCOMPARE(s.last().size, QSize(128, 96));

        // The data file goes away: reads fail quietly, nothing crashes.
        ZQStreamReadAndControl other;
        QVERIFY(other.init_displayer_for_stream(QFileInfo(ra.files[0].seek_path), "1", list));
        QVERIFY(QFile::remove(ra.files[0].data_path));
        for (int i = 0; i < 10; ++i)
            other.read_and_display_next_frame(false);
        QVERIFY(QFile::remove(rb.files[0].data_path));
        QVERIFY(!other.continue_read(rb.files[0].data_path, "9", true, "next"));
        QVERIFY(other.continue_read(rb.files[0].data_path, "1", true, "next"));
        other.read_and_display_next_frame(false);
        QVERIFY(logged("read frame :: cannot open data file"));

        // A pipe in place of the data file is refused, not waited on.
        QCOMPARE(mkfifo(QFile::encodeName(ra.files[0].data_path).constData(), 0600), 0);
        ZQStreamReadAndControl piped;
        QVERIFY(!piped.init_displayer_for_stream(QFileInfo(ra.files[0].seek_path), "1", list));
    }

    // stop() ends reading for good: no timer comes back and no queued tick runs.
    void stop_ends_ticks()
    {
        ZQStreamReadAndControl reader;
        QSignalSpy frames(&reader, &ZQStreamReadAndControl::set_display_frame);
        QSignalSpy ended(&reader, &ZQStreamReadAndControl::reading_ended);
        QVERIFY(reader.init_displayer_for_stream(QFileInfo(m_day.files[0].seek_path), "1", data_files(m_day.files)));
        reader.read_forward();
        reader.set_index(49);
        reader.wait_for_prefetches();
        reader.read_and_display_next_frame(false);
        reader.read_and_display_next_frame(false); // switches, queues the next tick
        const int before = int(frames.size());
        reader.stop();
        QVERIFY(!reader.get_read_timer());
        reader.set_pause();
        settle();
        QTest::qWait(100);
        QCOMPARE(frames.size(), before);
        QVERIFY(reader.get_file_list().isEmpty());
        QVERIFY(reader.get_id_stream().isEmpty());
        QCOMPARE(ended.size(), 0); // the caller stopped it: nothing to tell
    }

    // A rate change after a stop (a camera or day change that found nothing to play) stores the
    // rate only: the stopped reader must not tick on the old file's records again.
    void rate_change_after_stop_data()
    {
        QTest::addColumn<double>("rate");
        QTest::newRow("1") << 1.0;
        QTest::newRow("-1") << -1.0;
        QTest::newRow("4") << 4.0;
    }
    void rate_change_after_stop()
    {
        QFETCH(double, rate);
        ZQStreamReadAndControl reader;
        QSignalSpy frames(&reader, &ZQStreamReadAndControl::set_display_frame);
        QSignalSpy times(&reader, &ZQStreamReadAndControl::setTime);
        QVERIFY(reader.init_displayer_for_stream(QFileInfo(m_day.files[0].seek_path), "1", data_files(m_day.files)));
        reader.read_forward();
        reader.set_index(20);
        reader.stop();
        const int shownBefore = int(frames.size());
        const int timesBefore = int(times.size());
        reader.change_rate(rate);
        QCOMPARE(reader.get_rate(), int(rate));
        QVERIFY(!reader.get_read_timer() || !reader.get_read_timer()->isActive());
        QTest::qWait(150);
        settle();
        QCOMPARE(frames.size(), shownBefore);
        QCOMPARE(times.size(), timesBefore);
        QVERIFY(!logged("frame stream mismatch"));
    }

    // A reader that goes away while the next seek index is still being
    // parsed on the pool: the job is cancelled and waited for, nothing is
    // touched after the reader is gone.
    void destroyed_while_prefetching()
    {
        ZQFixture::Options o = day_options();
        o.cameras = {8};
        o.recordings_per_camera = 2;
        const ZQFixture::Result r = make(o);
        QVERIFY(r.ok);
        QFile seek(r.files[1].seek_path);
        QVERIFY(seek.open(QIODevice::Append));
        QByteArray more;
        for (int i = 0; i < 20000; ++i)
            more += "20240101080003000:video1:frame/h264:192x144:0:100\n";
        for (int i = 0; i < 20; ++i)
            seek.write(more);
        seek.close();
        for (int round = 0; round < 3; ++round) {
            auto* reader = new ZQStreamReadAndControl;
            QVERIFY(reader->init_displayer_for_stream(QFileInfo(r.files[0].seek_path), "1", data_files(r.files)));
            reader->read_forward();
            delete reader;
        }
        ZQStreamReadAndControl reader;
        QVERIFY(reader.init_displayer_for_stream(QFileInfo(r.files[0].seek_path), "1", data_files(r.files)));
        reader.stop();
        reader.wait_for_prefetches();
    }

    // A minute at 25 frames per second whose entries from 500 on are 20 s
    // later (the camera stopped sending for a while): played by the timer
    // from just before the outage to after it, the pictures come at the
    // recording's own rate, one entry after the other.
    void outage_plays_at_its_own_rate()
    {
        ZQFixture::Options o = one_recording(60);
        o.outage_frame = 500;
        o.outage_seconds = 20;
        const ZQFixture::Result r = make(o);
        QVERIFY2(r.ok, qPrintable(r.error));
        const QList<qint64> entries = entry_times(r.files[0]);
        QCOMPARE(entries.at(500) - entries.at(499), 20040);

        ZQStreamReadAndControl reader;
        QSignalSpy frames(&reader, &ZQStreamReadAndControl::set_display_frame);
        QList<qint64> arrivals; // ns on a steady clock, one per picture shown
        QElapsedTimer clock;
        clock.start();
        connect(&reader, &ZQStreamReadAndControl::set_display_frame, this, [&] { arrivals << clock.nsecsElapsed(); });
        QVERIFY(reader.init_displayer_for_stream(QFileInfo(r.files[0].seek_path), "1", data_files(r.files)));
        reader.set_index(480); // a keyframe (GOP 10): shows it
        reader.read_forward();
        const int pictures = 50;
        QTRY_VERIFY_WITH_TIMEOUT(frames.size() >= pictures + 1, 30000);
        reader.stop();

        // Each picture shown once, in order, through the outage (the
        // pictures' patterns give the times without the outage).
        QList<qint64> want{8 * 3600000 + 480 * 40};
        for (int i = 480; i < 480 + pictures; ++i)
            want << 8 * 3600000 + i * 40;
        QCOMPARE(times(shown(frames)).mid(0, pictures + 1), want);
        // The first picture is the one set_index showed; the timer's start there.
        const double seconds = (arrivals.at(pictures) - arrivals.at(1)) / 1e9;
        const double rate = (pictures - 1) / seconds;
        QVERIFY2(rate >= 0.85 * 25 && rate <= 1.1 * 25,
                 qPrintable(QString("%1 pictures per second for a recording of 25").arg(rate, 0, 'f', 2)));
    }

    // Rate 1 and -1 show every picture at the recording's own rate, whatever
    // the spacing of its stamps: a whole or fractional number of frames per
    // second, stamps cut or rounded to the millisecond, a camera clock a
    // little slow. Played for 20 s of the reader's clock through its own read
    // timer, with the timer coming up to 3 ms late as event loops do; every
    // entry is shown once, in order, and the pictures per second over those
    // 20 s match the recording's within 0.5 %.
    void pace_at_own_rate_data()
    {
        QTest::addColumn<int>("fps");        // the fixture's nominal rate
        QTest::addColumn<double>("period");  // ms between stamps; 0: 1000 / fps
        QTest::addColumn<bool>("rounded");   // stamps rounded rather than cut
        QTest::addColumn<double>("rate");
        QTest::addColumn<double>("estimate"); // what the seek index says, for the record
        QTest::newRow("5 fps") << 5 << 0.0 << false << 1.0 << 5.0;
        QTest::newRow("10 fps") << 10 << 0.0 << false << 1.0 << 10.0;
        QTest::newRow("12.5 fps") << 12 << 80.0 << false << 1.0 << 12.5;
        QTest::newRow("25 fps") << 25 << 0.0 << false << 1.0 << 25.0;
        QTest::newRow("30 fps, stamps cut") << 30 << 0.0 << false << 1.0 << 30.0;
        QTest::newRow("29.9998 fps (30, stamps rounded)") << 30 << 0.0 << true << 1.0 << 29.9998;
        QTest::newRow("24.99 fps (25, clock 0.04 % slow)") << 25 << 40.016 << false << 1.0 << 24.99;
        QTest::newRow("2.5 fps") << 2 << 400.0 << false << 1.0 << 2.5;
        QTest::newRow("60 fps") << 60 << 0.0 << false << 1.0 << 60.0;
        QTest::newRow("0.5 plays at 1") << 10 << 0.0 << false << 0.5 << 10.0;
        QTest::newRow("5 fps backward") << 5 << 0.0 << false << -1.0 << 5.0;
        QTest::newRow("12.5 fps backward") << 12 << 80.0 << false << -1.0 << 12.5;
        QTest::newRow("25 fps backward") << 25 << 0.0 << false << -1.0 << 25.0;
        QTest::newRow("29.9998 fps backward") << 30 << 0.0 << true << -1.0 << 29.9998;
        QTest::newRow("24.99 fps backward") << 25 << 40.016 << false << -1.0 << 24.99;
        QTest::newRow("-0.5 plays at -1") << 30 << 0.0 << false << -0.5 << 30.0;
    }

    void pace_at_own_rate()
    {
        QFETCH(int, fps);
        QFETCH(double, period);
        QFETCH(bool, rounded);
        QFETCH(double, rate);
        QFETCH(double, estimate);
        ZQFixture::Options o = one_recording(22);
        o.fps = fps;
        o.stamp_period_ms = period;
        o.round_stamps = rounded;
        const ZQFixture::Result r = make(o);
        QVERIFY2(r.ok, qPrintable(r.error));
        const QList<qint64> entries = entry_times(r.files[0]);
        const double own = (entries.size() - 1) * 1000.0 / double(entries.last() - entries.first());

        ZQStreamReadAndControl reader;
        qint64 clock = 1'000'000'000;
        reader.set_clock([&clock] { return clock; });
        QList<qint64> at;  // the reader's clock at each picture shown
        QList<int> ids;    // entry of each picture
        connect(&reader, &ZQStreamReadAndControl::set_display_frame, this,
                [&](QImage, int, int, int, QString, QString, bool, int id) {
                    at << clock;
                    ids << id;
                });
        QVERIFY(reader.init_displayer_for_stream(QFileInfo(r.files[0].seek_path), "1", data_files(r.files)));
        QVERIFY2(qAbs(reader.get_frames_per_second() - estimate) < 0.005,
                 qPrintable(QString::number(reader.get_frames_per_second(), 'f', 4)));
        const bool backward = rate < 0;
        reader.set_index(backward ? int(entries.size()) - 1 : 0);
        at.clear();
        ids.clear();
        reader.change_rate(rate);

        QRandomGenerator late(7);
        const qint64 end = clock + 20'000'000'000LL;
        while (clock < end)
            QVERIFY(fire_read_timer(reader, clock, late.bounded(3'000'000)));
        reader.stop();

        QVERIFY(ids.size() > 2);
        for (int i = 1; i < ids.size(); ++i)
            QCOMPARE(ids.at(i), ids.at(i - 1) + (backward ? -1 : 1));
        const double shown = (ids.size() - 1) * 1e9 / double(at.last() - at.first());
        QVERIFY2(qAbs(shown / own - 1.0) < 0.005,
                 qPrintable(QString("%1 pictures per second for a recording of %2")
                                .arg(shown, 0, 'f', 3)
                                .arg(own, 0, 'f', 4)));
    }

    // The schedule makes up for a timer a little late, but not for a stall
    // (a busy window, a pause): the pictures missed are not shown in a burst
    // afterwards, the next one comes a period later and the pace goes on.
    void pace_after_a_stall()
    {
        ZQFixture::Options o = one_recording(10);
        o.fps = 12;
        o.stamp_period_ms = 80;
        const ZQFixture::Result r = make(o);
        QVERIFY2(r.ok, qPrintable(r.error));

        ZQStreamReadAndControl reader;
        qint64 clock = 1'000'000'000;
        reader.set_clock([&clock] { return clock; });
        QList<qint64> at;
        connect(&reader, &ZQStreamReadAndControl::set_display_frame, this, [&] { at << clock; });
        QVERIFY(reader.init_displayer_for_stream(QFileInfo(r.files[0].seek_path), "1", data_files(r.files)));
        reader.change_rate(1.0);
        for (int i = 0; i < 20; ++i)
            QVERIFY(fire_read_timer(reader, clock, 0));

        auto gaps_after = [&](int from) {
            QList<qint64> gaps;
            for (int i = from + 1; i < at.size(); ++i)
                gaps << (at.at(i) - at.at(i - 1)) / 1'000'000;
            return gaps;
        };
        // One tick a whole second late.
        int before = int(at.size());
        QVERIFY(fire_read_timer(reader, clock, 1'000'000'000));
        for (int i = 0; i < 5; ++i)
            QVERIFY(fire_read_timer(reader, clock, 0));
        QCOMPARE(gaps_after(before - 1).mid(1), (QList<qint64>{80, 80, 80, 80, 80}));

        // A pause of five seconds: Play shows the next picture a period later.
        reader.set_pause();
        clock += 5'000'000'000LL;
        reader.set_pause();
        before = int(at.size());
        for (int i = 0; i < 5; ++i)
            QVERIFY(fire_read_timer(reader, clock, 0));
        QCOMPARE(gaps_after(before - 1), (QList<qint64>{5080, 80, 80, 80, 80}));
    }


    // Each recording plays at its own rate from its first picture, whichever way it became
    // current: the day's rate changes at 08:00:10 (25 to 5 fps) and at 08:00:20 (back to 25).
    // Reading crosses B whole and goes on; B is measured from its first picture (or from what was
    // done in it: a pause, a new start, the rate set again), the next recording from its first.
    // The same pictures per second and seconds of recording per second, played through the
    // reader's own timer on its own clock, the timer up to 3 ms late.
    void own_rate_after_switch_data()
    {
        QTest::addColumn<int>("rate");
        QTest::addColumn<bool>("prefetched");
        QTest::addColumn<QString>("event"); // played 1 s into B; "steps": single steps into B, then Play
        QTest::newRow("forward, prefetched") << 1 << true << "";
        QTest::newRow("forward, loaded at the switch") << 1 << false << "";
        QTest::newRow("backward, prefetched") << -1 << true << "";
        QTest::newRow("backward, loaded at the switch") << -1 << false << "";
        QTest::newRow("forward, pause and resume in B") << 1 << true << "pause";
        QTest::newRow("backward, pause and resume in B") << -1 << false << "pause";
        QTest::newRow("forward, read_forward again in B") << 1 << false << "read";
        QTest::newRow("backward, read_backward again in B") << -1 << true << "read";
        QTest::newRow("forward, rate set again in B") << 1 << true << "rate";
        QTest::newRow("backward, rate set again in B") << -1 << false << "rate";
        QTest::newRow("forward, single steps into B, then play") << 1 << true << "steps";
        QTest::newRow("backward, single steps into B, then play") << -1 << true << "steps";
    }

    void own_rate_after_switch()
    {
        QFETCH(int, rate);
        QFETCH(bool, prefetched);
        QFETCH(QString, event);
        const QList<ZQFixture::WrittenFile> day = rate_day();
        QCOMPARE(day.size(), 3);
        const bool forward = rate > 0;
        const qint64 bStart = ms_of_day(8, 0, 10);
        const qint64 nextStart = forward ? ms_of_day(8, 0, 20) : ms_of_day(8, 0, 0);

        ZQStreamReadAndControl reader;
        qint64 clock = 1'000'000'000;
        reader.set_clock([&clock] { return clock; });
        zqtest::PictureLog log(reader, clock);
        QVERIFY(reader.init_displayer_for_stream(QFileInfo(day[forward ? 0 : 2].seek_path), "1", data_files(day)));
        qint64 measureFrom = 0; // B counts from this clock on
        if (event == QLatin1String("steps")) {
            // Paused on the last group of A (the first picture of C), frame steps cross into B.
            reader.set_index(forward ? 225 : 0);
            reader.change_rate(rate);
            reader.set_pause();
            int inB = 0;
            for (int i = 0; i < 40 && inB < 3; ++i) {
                reader.wait_for_prefetches();
                if (forward)
                    reader.read_and_display_next_frame(true);
                else
                    reader.read_and_display_previous_frame(true);
                QCoreApplication::sendPostedEvents(&reader, QEvent::MetaCall);
                inB = int(std::count_if(log.pictures.cbegin(), log.pictures.cend(),
                                        [&](const zqtest::ShownPicture& p) { return p.recordingMs == bStart; }));
            }
            QCOMPARE(inB, 3);
            measureFrom = clock;
            reader.set_pause();
        } else {
            reader.set_index(forward ? 200 : 50); // 08:00:08, 08:00:22: keyframes
            reader.change_rate(rate);
        }

        QRandomGenerator late(3);
        bool played = event.isEmpty() || event == QLatin1String("steps");
        const qint64 end = clock + 25'000'000'000LL;
        while (clock < end) {
            prepare_switch(reader, prefetched);
            if (!fire_read_timer(reader, clock, late.bounded(3'000'000)))
                break; // the end of the list
            if (played)
                continue;
            auto firstInB = std::find_if(log.pictures.cbegin(), log.pictures.cend(),
                                         [&](const zqtest::ShownPicture& p) { return p.recordingMs == bStart; });
            if (firstInB == log.pictures.cend() || clock - firstInB->atNs < 1'000'000'000)
                continue;
            if (event == QLatin1String("pause")) {
                reader.set_pause();
                clock += 3'000'000'000LL;
                reader.set_pause();
            } else if (event == QLatin1String("read")) {
                if (forward)
                    reader.read_forward();
                else
                    reader.read_backward();
            } else {
                reader.change_rate(rate);
            }
            measureFrom = clock;
            played = true;
        }
        reader.stop();
        QVERIFY(played);

        const zqtest::Pace b = zqtest::pace_of(
            log.pictures, [&](const zqtest::ShownPicture& p) { return p.recordingMs == bStart && p.atNs > measureFrom; });
        const zqtest::Pace next =
            zqtest::pace_of(log.pictures, [&](const zqtest::ShownPicture& p) { return p.recordingMs == nextStart; });
        const QString figures = QStringLiteral("B: %1 pictures, %2 /s, %3 s/s; next: %4 pictures, %5 /s, %6 s/s")
                                    .arg(b.pictures)
                                    .arg(b.perSecond, 0, 'f', 3)
                                    .arg(b.contentSpeed, 0, 'f', 3)
                                    .arg(next.pictures)
                                    .arg(next.perSecond, 0, 'f', 3)
                                    .arg(next.contentSpeed, 0, 'f', 3);
        QVERIFY2(b.pictures >= 20 && next.pictures >= 50, qPrintable(figures));
        QVERIFY2(qAbs(b.perSecond / 5.0 - 1.0) < 0.03 && qAbs(b.contentSpeed - rate) < 0.03, qPrintable(figures));
        QVERIFY2(qAbs(next.perSecond / 25.0 - 1.0) < 0.03 && qAbs(next.contentSpeed - rate) < 0.03,
                 qPrintable(figures));
        // In order all along.
        for (int i = 1; i < log.pictures.size(); ++i)
            QVERIFY((log.pictures.at(i).contentMs - log.pictures.at(i - 1).contentMs) * rate >= 0);
    }

    // At every fast rate the time on the picture advances at the label's speed, whatever the
    // keyframe spacing (every picture, one a second, one every two seconds) and across the
    // switches between recordings: each tick shows the keyframe due at the time reached. Played
    // for about 56 s of recording on the reader's own clock, through at least three recordings.
    void fast_rates_at_their_label_data()
    {
        QTest::addColumn<int>("rate");
        QTest::addColumn<int>("gop");
        QTest::addColumn<bool>("prefetched");
        for (const int gop : {1, 25, 50})
            for (const int rate : {2, 4, 8, -2, -4, -8})
                QTest::addRow("x%d, GOP %d", rate, gop) << rate << gop << true;
        QTest::newRow("x8, GOP 25, recordings loaded at the switch") << 8 << 25 << false;
        QTest::newRow("x-8, GOP 25, recordings loaded at the switch") << -8 << 25 << false;
    }

    void fast_rates_at_their_label()
    {
        QFETCH(int, rate);
        QFETCH(int, gop);
        QFETCH(bool, prefetched);
        const ZQFixture::Result day = gop_day(gop);
        QVERIFY2(day.ok, qPrintable(day.error));

        ZQStreamReadAndControl reader;
        qint64 clock = 1'000'000'000;
        reader.set_clock([&clock] { return clock; });
        zqtest::PictureLog log(reader, clock);
        QVERIFY(start_at_an_end(reader, day.files, rate));
        log.pictures.clear();
        QRandomGenerator late(5);
        const qint64 end = clock + 56'000'000'000LL / std::abs(rate);
        while (clock < end) {
            prepare_switch(reader, prefetched);
            QVERIFY(fire_read_timer(reader, clock, late.bounded(3'000'000)));
        }
        reader.stop();

        QSet<qint64> recordings;
        for (int i = 0; i < log.pictures.size(); ++i) {
            const zqtest::ShownPicture& p = log.pictures.at(i);
            QVERIFY(p.contentMs >= 0);
            QVERIFY2(p.keyframe, qPrintable(QString::number(p.contentMs)));
            if (i > 0)
                QVERIFY((p.contentMs - log.pictures.at(i - 1).contentMs) * rate >= 0);
            recordings.insert(p.recordingMs);
        }
        QVERIFY2(recordings.size() >= 3, qPrintable(QString::number(recordings.size())));
        const zqtest::Pace pace = zqtest::pace_of(log.pictures, [](const zqtest::ShownPicture&) { return true; });
        const double ratio = pace.contentSpeed / rate;
        QVERIFY2(ratio >= 0.97 && ratio <= 1.03,
                 qPrintable(QStringLiteral("%1 s of recording per second at x%2 (%3 of the label), %4 pictures")
                                .arg(pace.contentSpeed, 0, 'f', 3)
                                .arg(rate)
                                .arg(ratio, 0, 'f', 3)
                                .arg(pace.pictures)));
    }

    // At fast rates as at rate 1, a pause of the recording (two minutes between two recordings,
    // or inside one: the camera stopped sending) is passed at once: the picture after it comes
    // within a keyframe spacing and a tick, not once the pause has gone by at the rate's speed.
    void fast_rates_pass_pauses_data()
    {
        QTest::addColumn<int>("rate");
        QTest::addColumn<bool>("inside");
        QTest::newRow("x8, between recordings") << 8 << false;
        QTest::newRow("x-8, between recordings") << -8 << false;
        QTest::newRow("x4, inside a recording") << 4 << true;
        QTest::newRow("x-4, inside a recording") << -4 << true;
    }

    void fast_rates_pass_pauses()
    {
        QFETCH(int, rate);
        QFETCH(bool, inside);
        ZQFixture::Options o = one_recording(inside ? 20 : 10);
        o.gop = 25;
        if (inside) {
            o.outage_frame = 255; // inside a group of pictures
            o.outage_seconds = 120;
        } else {
            o.recordings_per_camera = 2;
            o.gap_seconds = 120;
        }
        const ZQFixture::Result r = make(o);
        QVERIFY2(r.ok, qPrintable(r.error));

        ZQStreamReadAndControl reader;
        qint64 clock = 1'000'000'000;
        reader.set_clock([&clock] { return clock; });
        QList<qint64> at; // the reader's clock at each picture, and the picture's stamp
        QList<QString> stamps;
        connect(&reader, &ZQStreamReadAndControl::set_display_frame, this,
                [&](QImage, int, int, int, QString timestamp) {
                    at << clock;
                    stamps << timestamp;
                });
        QVERIFY(start_at_an_end(reader, r.files, rate));
        const qint64 end = clock + 30'000'000'000LL / std::abs(rate);
        while (clock < end) {
            reader.wait_for_prefetches();
            if (!fire_read_timer(reader, clock, 0))
                break;
        }
        reader.stop();

        // Pictures from both sides of the pause: the stamps jump by two minutes between two of them.
        int jump = -1;
        auto ms = [](const QString& stamp) { // "yyyy-MM-dd HH:mm:ss.zzz", one day
            return QTime::fromString(stamp.mid(11), QStringLiteral("HH:mm:ss.zzz")).msecsSinceStartOfDay();
        };
        for (int i = 1; i < stamps.size(); ++i)
            if (std::abs(ms(stamps[i]) - ms(stamps[i - 1])) > 60000)
                jump = i;
        QVERIFY2(jump > 0, qPrintable(stamps.join(", ")));
        const qint64 period = qint64(ZQStreamReadAndControl::period_for(rate, 25)) * 1'000'000;
        const qint64 waited = at[jump] - at[jump - 1];
        QVERIFY2(waited <= 1'000'000'000LL / std::abs(rate) + 2 * period,
                 qPrintable(QStringLiteral("%1 ms from %2 to %3").arg(waited / 1e6).arg(stamps[jump - 1], stamps[jump])));
    }

    // A recording whose seek index yields no entry (the video file is intact) is a time without
    // recordings. A seek into it, listed or not, fails and the reader goes on where it was; the
    // failure is logged once, and the reader's timer never logs a line per tick.
    void seek_into_recording_without_entries_data()
    {
        QTest::addColumn<bool>("listed");
        QTest::addColumn<int>("rate");
        QTest::newRow("listed, forward") << true << 1;
        QTest::newRow("listed, backward") << true << -1;
        QTest::newRow("listed, fast") << true << 8;
        QTest::newRow("not listed, forward") << false << 1;
        QTest::newRow("not listed, backward") << false << -1;
    }

    void seek_into_recording_without_entries()
    {
        QFETCH(bool, listed);
        QFETCH(int, rate);
        ZQFixture::Options o = one_recording(10);
        o.recordings_per_camera = 3;
        o.cameras = {12};
        const ZQFixture::Result r = make(o);
        QVERIFY2(r.ok, qPrintable(r.error));
        const QByteArray noSeekLines = "# written by hand\nnot a seek line\n20240101:video1\n";
        QString target = r.files[1].data_path;
        if (listed) {
            QFile seek(r.files[1].seek_path);
            QVERIFY(seek.open(QIODevice::WriteOnly | QIODevice::Truncate));
            seek.write(noSeekLines);
        } else {
            // The same recording copied beside the day, outside the reader's list.
            const QString folder = m_dir.filePath(QStringLiteral("unlisted%1").arg(m_count++));
            QVERIFY(QDir().mkpath(folder));
            target = QDir(folder).filePath(QFileInfo(r.files[1].data_path).fileName());
            QVERIFY(QFile::copy(r.files[1].data_path, target));
            QFile seek(replace_suffix(target, QStringLiteral("zqseek")));
            QVERIFY(seek.open(QIODevice::WriteOnly));
            seek.write(noSeekLines);
        }

        ZQStreamReadAndControl reader;
        qint64 clock = 1'000'000'000;
        reader.set_clock([&clock] { return clock; });
        zqtest::PictureLog log(reader, clock);
        QSignalSpy ended(&reader, &ZQStreamReadAndControl::reading_ended);
        const int playing = rate > 0 ? 0 : 2;
        QVERIFY(reader.init_displayer_for_stream(QFileInfo(r.files[playing].seek_path), "1", data_files(r.files)));
        reader.set_index(20);
        reader.change_rate(rate);
        for (int i = 0; i < 5; ++i)
            QVERIFY(fire_read_timer(reader, clock, 0));
        const QList<QFileInfo> files = reader.get_file_list();
        const QFileInfo current = reader.get_current_file();
        const int entries = int(reader.get_frame_index().size());
        const int index = reader.get_index();
        g_log.clear();
        log.pictures.clear();

        QVERIFY(!reader.continue_read(target, "1", true, rate > 0 ? "next" : "previous"));
        QCOMPARE(reader.get_current_file(), current);
        QCOMPARE(reader.get_file_list(), files);
        QCOMPARE(int(reader.get_frame_index().size()), entries);
        QCOMPARE(reader.get_index(), index);
        QCOMPARE(reader.get_id_stream(), QStringLiteral("1"));
        QVERIFY(reader.get_read_timer() && reader.get_read_timer()->isActive());
        // Reading goes on from where it was, in the recording it was in.
        for (int i = 0; i < 10; ++i) {
            reader.wait_for_prefetches();
            QVERIFY(fire_read_timer(reader, clock, 0));
        }
        QVERIFY(log.pictures.size() >= 3);
        for (const zqtest::ShownPicture& p : log.pictures)
            QCOMPARE(p.recordingMs, ms_of_day(8, 0, 10 * playing));
        QCOMPARE(int(std::count_if(g_log.cbegin(), g_log.cend(),
                                   [](const QString& l) { return l.contains("continue read :: frame list is empty"); })),
                 1);
        QVERIFY(!logged("next :: no frame") && !logged("prev :: no frame"));
        QCOMPARE(ended.size(), 0);
    }

    // Reading that reaches such a recording by itself walks on to the next one with entries,
    // both ways; with none left it ends (and says so) once, without a line per tick.
    void reading_walks_past_recording_without_entries_data()
    {
        QTest::addColumn<int>("rate");
        QTest::addColumn<int>("broken"); // recordings broken: 1 the middle one, 2 the two after the first
        QTest::newRow("forward, on to the next") << 1 << 1;
        QTest::newRow("backward, on to the previous") << -1 << 1;
        QTest::newRow("x4, on to the next") << 4 << 1;
        QTest::newRow("x-4, on to the previous") << -4 << 1;
        QTest::newRow("forward, none left: ends") << 1 << 2;
        QTest::newRow("x8, none left: ends") << 8 << 2;
    }

    void reading_walks_past_recording_without_entries()
    {
        QFETCH(int, rate);
        QFETCH(int, broken);
        ZQFixture::Options o = day_options();
        o.cameras = {13};
        const ZQFixture::Result r = make(o);
        QVERIFY2(r.ok, qPrintable(r.error));
        for (int i = 0; i < broken; ++i) {
            QFile seek(r.files[rate > 0 ? 1 + i : 1 - i].seek_path);
            QVERIFY(seek.open(QIODevice::WriteOnly | QIODevice::Truncate));
            seek.write("# nothing but this\n");
        }
        ZQStreamReadAndControl reader;
        qint64 clock = 1'000'000'000;
        reader.set_clock([&clock] { return clock; });
        zqtest::PictureLog log(reader, clock);
        QSignalSpy ended(&reader, &ZQStreamReadAndControl::reading_ended);
        const int start = rate > 0 ? 0 : 2;
        QVERIFY(reader.init_displayer_for_stream(QFileInfo(r.files[start].seek_path), "1", data_files(r.files)));
        reader.set_index(rate > 0 ? 30 : 20);
        reader.change_rate(rate);
        int ticks = 0;
        while (ticks < 400 && fire_read_timer(reader, clock, 0))
            ++ticks;
        QSet<qint64> recordings;
        for (const zqtest::ShownPicture& p : log.pictures)
            recordings.insert(p.recordingMs);
        if (broken == 2) {
            QCOMPARE(recordings, QSet<qint64>{ms_of_day(8, 0, 0)});
            QCOMPARE(ended.size(), 1);
            QVERIFY(!reader.get_read_timer());
        } else {
            QCOMPARE(recordings, (QSet<qint64>{ms_of_day(8, 0, 0), ms_of_day(8, 0, 4)}));
        }
        QVERIFY(!logged("next :: no frame") && !logged("prev :: no frame"));
    }

    // A frame step right after reading at any rate went on into the next (previous) recording
    // shows the picture next to the one on screen in that recording: its first (last) picture
    // when the fast rates had not reached its first keyframe yet (the time between the two
    // recordings still being passed), the one after (before) the picture shown there otherwise.
    void step_after_switch_shows_the_new_recording_data()
    {
        QTest::addColumn<int>("rate");
        QTest::newRow("x2") << 2;
        QTest::newRow("x8") << 8;
        QTest::newRow("x-2") << -2;
        QTest::newRow("x-8") << -8;
        QTest::newRow("x1") << 1;
        QTest::newRow("x-1") << -1;
    }

    void step_after_switch_shows_the_new_recording()
    {
        QFETCH(int, rate);
        const bool forward = rate > 0;
        ZQFixture::Options o = one_recording(10);
        o.recordings_per_camera = 2;
        o.gap_seconds = 3;
        o.gop = 25;
        o.cameras = {21};
        const ZQFixture::Result r = make(o);
        QVERIFY2(r.ok, qPrintable(r.error));
        ZQStreamReadAndControl reader;
        qint64 clock = 1'000'000'000;
        reader.set_clock([&clock] { return clock; });
        zqtest::PictureLog log(reader, clock);
        QVERIFY(start_at_an_end(reader, r.files, rate));
        const int target = forward ? 1 : 0;
        const QString targetPath = QFileInfo(r.files[target].seek_path).absoluteFilePath();
        int ticks = 0;
        while (reader.get_current_file().absoluteFilePath() != targetPath) {
            reader.wait_for_prefetches();
            QVERIFY(fire_read_timer(reader, clock, 0));
            QVERIFY(++ticks < 2000);
        }
        QVERIFY(!log.pictures.isEmpty());
        const zqtest::ShownPicture onScreen = log.pictures.last();
        const qint64 targetStart = entry_times(r.files[target]).first();
        if (std::abs(rate) >= 2) // the case looked for: the new recording has shown nothing yet
            QCOMPARE(onScreen.recordingMs, entry_times(r.files[1 - target]).first());

        reader.set_pause();
        log.pictures.clear();
        if (forward)
            reader.read_and_display_next_frame(true);
        else
            reader.read_and_display_previous_frame(true);
        settle();

        // The picture next to the one on screen, within the recording reading is in.
        const QList<qint64> times = entry_times(r.files[target]);
        qint64 expected = -1;
        if (forward) {
            for (const qint64 t : times)
                if (t > onScreen.contentMs) {
                    expected = t;
                    break;
                }
        } else {
            for (auto it = times.crbegin(); it != times.crend(); ++it)
                if (*it < onScreen.contentMs) {
                    expected = *it;
                    break;
                }
        }
        QVERIFY(expected >= 0);
        QCOMPARE(log.pictures.size(), 1);
        QCOMPARE(log.pictures.first().recordingMs, targetStart);
        QCOMPARE(log.pictures.first().contentMs, expected);
    }

    // Paused at the end (start) of a recording, a frame step into a recording whose seek index
    // yields no entry walks past it and shows exactly the next (previous) picture, the first
    // (last) of the recording after it, whatever the rate and however long the pause was.
    void step_walks_past_recording_without_entries_data()
    {
        QTest::addColumn<int>("rate");
        QTest::addColumn<int>("pauseSeconds");
        for (const int rate : {2, 8, -2, -8, 1, -1})
            for (const int pause : {0, 30})
                QTest::addRow("x%d, paused %d s", rate, pause) << rate << pause;
    }

    void step_walks_past_recording_without_entries()
    {
        QFETCH(int, rate);
        QFETCH(int, pauseSeconds);
        const bool forward = rate > 0;
        ZQFixture::Options o = one_recording(10);
        o.recordings_per_camera = 3;
        o.gop = 25;
        o.cameras = {22};
        const ZQFixture::Result r = make(o);
        QVERIFY2(r.ok, qPrintable(r.error));
        {
            QFile seek(r.files[1].seek_path);
            QVERIFY(seek.open(QIODevice::WriteOnly | QIODevice::Truncate));
            seek.write("# nothing\n");
        }
        ZQStreamReadAndControl reader;
        qint64 clock = 1'000'000'000;
        reader.set_clock([&clock] { return clock; });
        zqtest::PictureLog log(reader, clock);
        QVERIFY(start_at_an_end(reader, r.files, rate));
        // Played up to the last keyframe (the first) of the recording before the empty one...
        const QList<qint64> here = entry_times(r.files[forward ? 0 : 2]);
        const qint64 end = forward ? here.last() : here.first();
        const qint64 lastKeyframe = forward ? entry_times(r.files[0]).at(225) : end;
        int ticks = 0;
        auto reached = [&](qint64 t) {
            return !log.pictures.isEmpty() && (forward ? log.pictures.last().contentMs >= t : log.pictures.last().contentMs <= t);
        };
        while (!reached(std::abs(rate) >= 2 ? lastKeyframe : end)) {
            QVERIFY(fire_read_timer(reader, clock, 0));
            QVERIFY(++ticks < 2000);
        }
        // ...paused, and stepped to its very end (start).
        reader.set_pause();
        QVERIFY(reader.is_paused());
        for (int i = 0; i < 30 && !reached(end); ++i) {
            if (forward)
                reader.read_and_display_next_frame(true);
            else
                reader.read_and_display_previous_frame(true);
        }
        QCOMPARE(log.pictures.last().contentMs, end);
        reader.wait_for_prefetches();
        clock += qint64(pauseSeconds) * 1'000'000'000;

        log.pictures.clear();
        if (forward)
            reader.read_and_display_next_frame(true);
        else
            reader.read_and_display_previous_frame(true);
        settle();
        const QList<qint64> next = entry_times(r.files[forward ? 2 : 0]);
        QCOMPARE(log.pictures.size(), 1);
        QCOMPARE(log.pictures.first().contentMs, forward ? next.first() : next.last());
        QVERIFY(reader.is_paused());
    }

    // A read timer started on a reader that holds nothing (its recording could not be loaded)
    // logs that once and ends reading, instead of a line at every tick.
    void timer_without_entries_ends_once()
    {
        ZQFixture::Options o = one_recording(2);
        o.cameras = {14};
        const ZQFixture::Result r = make(o);
        QVERIFY2(r.ok, qPrintable(r.error));
        QFile seek(r.files[0].seek_path);
        QVERIFY(seek.open(QIODevice::WriteOnly | QIODevice::Truncate));
        seek.write("# nothing\n");
        seek.close();
        for (const bool forward : {true, false}) {
            ZQStreamReadAndControl reader;
            qint64 clock = 1'000'000'000;
            reader.set_clock([&clock] { return clock; });
            QSignalSpy ended(&reader, &ZQStreamReadAndControl::reading_ended);
            QVERIFY(!reader.init_displayer_for_stream(QFileInfo(r.files[0].seek_path), "1", data_files(r.files)));
            g_log.clear();
            if (forward)
                reader.read_forward();
            else
                reader.read_backward();
            for (int i = 0; i < 10; ++i)
                fire_read_timer(reader, clock, 0);
            QCOMPARE(int(std::count_if(g_log.cbegin(), g_log.cend(),
                                       [](const QString& l) { return l.contains("next :: no frame") || l.contains("prev :: no frame"); })),
                     1);
            QCOMPARE(ended.size(), 1);
            QVERIFY(!reader.get_read_timer());
        }
    }

    // The timer itself drives playback to the end of the list.
    void timer_plays_to_the_end()
    {
        ZQStreamReadAndControl reader;
        QSignalSpy frames(&reader, &ZQStreamReadAndControl::set_display_frame);
        QSignalSpy ended(&reader, &ZQStreamReadAndControl::reading_ended);
        QVERIFY(reader.init_displayer_for_stream(QFileInfo(m_day.files[1].seek_path), "1", data_files(m_day.files)));
        reader.change_rate(8.0);
        QTRY_VERIFY_WITH_TIMEOUT(!reader.get_read_timer(), 10000);
        // Keyframes in order, up to the last one of the last recording, however late the ticks.
        const QList<Shown> s = shown(frames);
        QVERIFY(s.size() >= 2);
        for (int i = 1; i < s.size(); ++i)
            QVERIFY(s.at(i).timeMs > s.at(i - 1).timeMs);
        QCOMPARE(s.last().timeMs, entry_times(m_day.files[2]).at(40));
        QCOMPARE(ended.size(), 1);

        // Backward, the start of the list ends it the same way.
        reader.change_rate(-8.0);
        QTRY_VERIFY_WITH_TIMEOUT(!reader.get_read_timer(), 10000);
        QVERIFY(logged("prev :: no previous file available (start of list reached)"));
        QCOMPARE(ended.size(), 2);
    }
};

QTEST_GUILESS_MAIN(TestStreamReadAndControl)
#include "test_stream_read_and_control.moc"
