// The widget player window keeping in step with its playback reader, on
// generated days: the recording a seek lands in after playback crossed into
// the next one, the slider's press and release while playing and paused, the
// end of reading forward and backward, recordings longer than a minute, a
// day of two streams and a recording written after the day was opened. Each case drives the window as an operator would (row
// clicks, slider presses, the transport buttons) and reads the time of each
// picture the reader sends from the picture itself.

#include "playback/zq_stream_read_and_control.h"
#include "tools/zqfixture/lib/fixture_metadata.h"
#include "tools/zqfixture/lib/fixture_pattern.h"
#include "tools/zqfixture/lib/fixture_writer.h"
#include "view/canvas.h"
#include "widgetplayer/alarm_item_delegate.h"
#include "widgetplayer/alarm_model.h"
#include "widgetplayer/ui_zq_player_presentation.h"
#include "widgetplayer/widget_player_ui.h"
#include "widgetplayer/zq_player_presentation.h"
#include "widgetplayer/zq_player_tab_widget.h"
#include "widgetplayer/zq_slider_timeline.h"
#include "widgetplayer/zq_timeline.h"

#include "widgetplayer_test_helpers.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QStyle>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <functional>
#include <memory>

namespace {

class QuietUi : public WidgetPlayerUi
{
public:
    void warning(const QString&, const QString&) override {}
    void information(const QString&, const QString&) override {}
    void open_alarm_viewer(const QString&, const QString&) override {}
    void open_snapshot_viewer(const QImage&, const QString&) override {}
    void open_alarm_record(const Vignette&) override {}
};

qint64 ms(int h, int m, int s, int z = 0)
{
    return (h * 3600LL + m * 60 + s) * 1000 + z;
}

QString hms(qint64 t)
{
    return QTime::fromMSecsSinceStartOfDay(int(t)).toString(QStringLiteral("HH:mm:ss.zzz"));
}

} // namespace

class TestWidgetPlayerTransport : public QObject
{
    Q_OBJECT

    QTemporaryDir m_home;
    // Camera 1, two one-minute recordings from 08:00:00, one keyframe a second.
    QString m_day;
    std::unique_ptr<ZQ_Player_presentation> m_w;
    QList<ZQFixture::PatternValue> m_pictures;

    static ZQFixture::Options options(const QString& parent)
    {
        ZQFixture::Options o;
        o.output_parent = parent;
        o.cameras = {1};
        o.start_time = QTime(8, 0, 0);
        o.recordings_per_camera = 2;
        o.seconds_per_recording = 60;
        o.size = QSize(64, 48);
        o.fps = 25;
        o.gop = 25;
        return o;
    }

    static QString write_day(const ZQFixture::Options& o)
    {
        const ZQFixture::StorageResult r = ZQFixture::write_storage(o, ZQFixture::MetadataOptions());
        if (!r.ok)
            qWarning("%s", qPrintable(r.error));
        return r.ok ? QDir(r.storage.root_path).filePath(QStringLiteral("2024-01-01")) : QString();
    }

    // A window on the day, its REC tab filled; nothing plays yet.
    bool open(const QString& day)
    {
        m_w = std::make_unique<ZQ_Player_presentation>(nullptr);
        m_w->set_ui(std::make_unique<QuietUi>());
        m_w->resize(1600, 900);
        m_w->show();
        m_pictures.clear();
        connect(m_w->reader(), &ZQStreamReadAndControl::set_display_frame, this,
                [this](QImage image, auto&&...) { m_pictures << ZQFixture::read_pattern(image); });
        if (!QTest::qWaitFor([&] { return m_w->tree_index_of(day).isValid(); }, 20000))
            return false;
        QSignalSpy filled(m_w.get(), &ZQ_Player_presentation::timelines_filled);
        m_w->tree_entered(m_w->tree_index_of(day));
        return filled.wait(60000);
    }

    // A click on the hour row at that second (the row's own signal: pixels
    // are several seconds wide).
    void click_row(qint64 t)
    {
        ZQTimeline* row = m_w->hour_row(int(t / 3600000));
        QVERIFY(row);
        emit row->clicked(QTime::fromMSecsSinceStartOfDay(int(t)).toString(QStringLiteral("HH:mm:ss")), 1);
    }

    // Pictures the reader sends from now on.
    void watch()
    {
        m_pictures.clear();
    }
    bool wait_picture(const std::function<bool(const ZQFixture::PatternValue&)>& test, int timeout = 30000)
    {
        return QTest::qWaitFor(
            [&] {
                for (const ZQFixture::PatternValue& p : std::as_const(m_pictures))
                    if (p.valid && test(p))
                        return true;
                return false;
            },
            timeout);
    }
    qint64 first_time() const
    {
        return m_pictures.isEmpty() ? -1 : m_pictures.first().time_ms();
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_home.isValid());
        qputenv("HOME", m_home.path().toLocal8Bit());
        m_day = write_day(options(m_home.filePath(QStringLiteral("two"))));
        QVERIFY(!m_day.isEmpty());
    }

    void cleanup()
    {
        m_w.reset();
    }

    void seek_back_after_a_recording_boundary_data()
    {
        QTest::addColumn<bool>("tag_row");
        QTest::addColumn<qint64>("shown");
        // A click on the hour row at 08:00:55 shows 08:00:55.
        QTest::newRow("hour row") << false << ms(8, 0, 55);
        // The day's tag at 08:00:01 seeks 2 s before it: the recording's first picture.
        QTest::newRow("tag row") << true << ms(8, 0, 0);
    }

    void seek_back_after_a_recording_boundary()
    {
        QFETCH(bool, tag_row);
        QFETCH(qint64, shown);
        QVERIFY(open(m_day));
        // Play from 08:00:58 into the 08:01 recording.
        watch();
        click_row(ms(8, 0, 58));
        QVERIFY(wait_picture([](const ZQFixture::PatternValue& p) { return p.time_ms() >= ms(8, 1, 0, 500); }));
        const QString crossed = m_w->actual_file();
        watch();
        if (tag_row) {
            m_w->form()->tabWidget->setCurrentIndex(3);
            QVERIFY(m_w->tags_model() && m_w->tags_model()->rowCount() == 1);
            emit m_w->tag_delegate()->cellButtonClicked(m_w->tags_model()->index(0, 0));
        } else {
            click_row(ms(8, 0, 55));
        }
        QVERIFY(wait_picture([](auto&&) { return true; }));
        QVERIFY2(first_time() >= shown && first_time() < shown + 1000, qPrintable(hms(first_time())));
        QVERIFY(m_w->actual_file().endsWith(QStringLiteral("1_20240101_080000.zqvideo")));
        QCOMPARE(m_w->play_state(), 1);
        // The window knew the file being played before the seek.
        QVERIFY2(crossed.endsWith(QStringLiteral("1_20240101_080100.zqvideo")), qPrintable(crossed));
    }

    void slider_press_keeps_the_transport_in_step_data()
    {
        QTest::addColumn<bool>("paused");
        QTest::addColumn<int>("minute");
        QTest::addColumn<int>("state");
        // Playing in the 08:00 recording, a press in the same one and in the next.
        QTest::newRow("playing, same recording") << false << 8 * 60 << 1;
        QTest::newRow("playing, next recording") << false << 8 * 60 + 1 << 1;
        // Paused: it stays paused within the recording; a move to another
        // recording plays it, and the window says so.
        QTest::newRow("paused, same recording") << true << 8 * 60 << 2;
        QTest::newRow("paused, next recording") << true << 8 * 60 + 1 << 1;
    }

    void slider_press_keeps_the_transport_in_step()
    {
        QFETCH(bool, paused);
        QFETCH(int, minute);
        QFETCH(int, state);
        QVERIFY(open(m_day));
        Ui_ZQ_Player_presentation* ui = m_w->form();
        watch();
        click_row(ms(8, 0, 20));
        QVERIFY(wait_picture([](auto&&) { return true; }));
        QCOMPARE(m_w->play_state(), 1);
        if (paused) {
            ui->playButton->click();
            QCOMPARE(m_w->play_state(), 2);
        }
        ZQSlidertimeline* slider = ui->slider;
        const QRect groove = slider->groove_rect();
        int x = -1;
        for (int i = groove.left(); i <= groove.right() && x < 0; ++i)
            if (ZQSlidertimeline::minute_at(i, groove) == minute)
                x = i;
        QVERIFY2(x >= 0, "no pixel column for the minute");
        const QPoint at(x, slider->height() / 2);
        QSignalSpy pressed(slider, &QSlider::sliderPressed);
        watch();
        QTest::mousePress(slider, Qt::LeftButton, {}, at);
        QCOMPARE(pressed.size(), 1);
        QTest::mouseRelease(slider, Qt::LeftButton, {}, at);
        // The picture of the chosen minute comes, and the reader reads when,
        // and only when, the window shows it playing.
        QVERIFY(wait_picture([&](const ZQFixture::PatternValue& p) { return p.time_ms() >= minute * 60000LL; }));
        QCOMPARE(m_w->play_state(), state);
        QTimer* timer = m_w->reader()->get_read_timer();
        QCOMPARE(timer && timer->isActive(), state == 1);
        if (state == 1) {
            // Pictures keep coming, later and later.
            watch();
            QVERIFY(wait_picture([&](const ZQFixture::PatternValue& p) { return p.time_ms() >= minute * 60000LL + 1000; }));
        }
        // Play and Pause still do what their icon says.
        ui->playButton->click();
        QCOMPARE(m_w->play_state(), state == 1 ? 2 : 1);
        timer = m_w->reader()->get_read_timer();
        QCOMPARE(timer && timer->isActive(), state != 1);
    }

    void end_of_reading_data()
    {
        QTest::addColumn<int>("rate_index");
        QTest::addColumn<qint64>("from");
        QTest::addColumn<qint64>("end");
        QTest::addColumn<int>("slack");
        // 1.0x from 08:01:57 to the last picture of the last recording.
        QTest::newRow("forward") << 4 << ms(8, 1, 57) << ms(8, 1, 59, 960) << 0;
        // -1.0x from 08:00:02 back to the first picture of the first one (a
        // late backward tick skips up to five pictures, so it may end on one
        // of the first five).
        QTest::newRow("backward") << 3 << ms(8, 0, 2) << ms(8, 0, 0) << 200;
    }

    void end_of_reading()
    {
        QFETCH(int, rate_index);
        QFETCH(qint64, from);
        QFETCH(qint64, end);
        QFETCH(int, slack);
        QVERIFY(open(m_day));
        Ui_ZQ_Player_presentation* ui = m_w->form();
        ui->rateBox->setCurrentIndex(rate_index);
        emit ui->rateBox->activated(rate_index);
        watch();
        click_row(from);
        QVERIFY(wait_picture([](auto&&) { return true; }));
        QCOMPARE(m_w->play_state(), 1);
        // Stopped at the end: Play icon, the last picture's time still shown.
        QTRY_COMPARE_WITH_TIMEOUT(m_w->play_state(), 0, 30000);
        QVERIFY(!m_pictures.isEmpty());
        const qint64 last = m_pictures.last().time_ms();
        QVERIFY2(last >= end && last <= end + slack, qPrintable(hms(last)));
        const QString shown = QTime::fromMSecsSinceStartOfDay(int(last)).toString(QStringLiteral("HH:mm:ss:zzz"));
        QCOMPARE(ui->lbl_timestamp->text(), shown);
        QCOMPARE(m_w->current_time(), shown);
        // Play starts again from there, and ends there again.
        watch();
        ui->playButton->click();
        QCOMPARE(m_w->play_state(), 1);
        QVERIFY(wait_picture([](auto&&) { return true; }));
        QVERIFY2(qAbs(first_time() - end) < 1000, qPrintable(hms(first_time())));
        QTRY_COMPARE_WITH_TIMEOUT(m_w->play_state(), 0, 30000);
        QVERIFY2(m_pictures.last().time_ms() >= end && m_pictures.last().time_ms() <= end + slack,
                 qPrintable(hms(m_pictures.last().time_ms())));
    }

    void two_stream_day_opens_on_the_first_stream_data()
    {
        QTest::addColumn<bool>("later_only");
        QTest::addColumn<QStringList>("offered");
        // Two streams in every recording: "video1" leads each pair of lines.
        QTest::newRow("both streams") << false << QStringList{"Video 1", "Video 2"};
        // The second stream only from the second recording on: offered too.
        QTest::newRow("second stream later") << true << QStringList{"Video 1", "Video 2"};
    }

    void two_stream_day_opens_on_the_first_stream()
    {
        QFETCH(bool, later_only);
        QFETCH(QStringList, offered);
        const QString parent = m_home.filePath(later_only ? QStringLiteral("later") : QStringLiteral("streams"));
        ZQFixture::Options o = options(parent);
        o.second_stream = true;
        if (later_only) {
            ZQFixture::Options first = options(parent);
            first.recordings_per_camera = 1;
            QVERIFY(!write_day(first).isEmpty());
            o.start_time = QTime(8, 1, 0);
            o.recordings_per_camera = 1;
        }
        const QString day = write_day(o);
        QVERIFY(!day.isEmpty());
        QVERIFY(open(day));
        QComboBox* streams = m_w->form()->video_stream_box;
        QStringList texts;
        for (int i = 0; i < streams->count(); ++i)
            texts << streams->itemText(i);
        QCOMPARE(texts, offered);
        QCOMPARE(streams->currentText(), QStringLiteral("Video 1"));
        // What plays is the first stream, at its own size.
        watch();
        click_row(ms(8, 0, 10));
        QVERIFY(wait_picture([](auto&&) { return true; }));
        QCOMPARE(m_pictures.first().stream, 1);
        QTRY_COMPARE(m_w->tile()->get_frame_image().width(), 64);
    }

    void click_inside_a_five_minute_recording()
    {
        // 08:05 and 08:10, five minutes each: a click at 08:07:30 is inside
        // the first (one minute per file assumed found the 08:10 one).
        ZQFixture::Options o = options(m_home.filePath(QStringLiteral("five")));
        o.start_time = QTime(8, 5, 0);
        o.seconds_per_recording = 300;
        o.fps = 5;
        o.gop = 5;
        const QString day = write_day(o);
        QVERIFY(!day.isEmpty());
        QVERIFY(open(day));
        ZQTimeline* row = m_w->hour_row(8);
        for (int m = 5; m < 15; ++m)
            QVERIFY2(row->minute(m), qPrintable(QString::number(m)));
        QVERIFY(!row->minute(15));
        watch();
        click_row(ms(8, 7, 30));
        QVERIFY(wait_picture([](auto&&) { return true; }));
        QVERIFY2(first_time() >= ms(8, 7, 30) && first_time() < ms(8, 7, 31), qPrintable(hms(first_time())));
        QVERIFY(m_w->actual_file().endsWith(QStringLiteral("1_20240101_080500.zqvideo")));
        // And near its end, before the next one starts.
        watch();
        click_row(ms(8, 9, 58));
        QVERIFY(wait_picture([](auto&&) { return true; }));
        QVERIFY2(first_time() >= ms(8, 9, 58) && first_time() < ms(8, 9, 59), qPrintable(hms(first_time())));
    }

    void recordings_written_since_the_day_opened_data()
    {
        QTest::addColumn<bool>("camera_change");
        // Camera 2's new recording shows when camera 2 is chosen.
        QTest::newRow("camera change") << true;
        // Camera 1's new recording shows when the REC tab is opened again.
        QTest::newRow("REC tab again") << false;
    }

    void recordings_written_since_the_day_opened()
    {
        // Cameras 1 and 2 at 08:00. While camera 1 is shown, a 09:30
        // recording lands in the day folder; it is on the timeline the next
        // time the day's timeline is set up (the lists read when the day was
        // opened did not hold it).
        QFETCH(bool, camera_change);
        const int camera = camera_change ? 2 : 1;
        const QString parent =
            m_home.filePath(camera_change ? QStringLiteral("later_camera") : QStringLiteral("later_tab"));
        ZQFixture::Options o = options(parent);
        o.cameras = {1, 2};
        o.recordings_per_camera = 1;
        const QString day = write_day(o);
        QVERIFY(!day.isEmpty());
        QVERIFY(open(day));
        QCOMPARE(m_w->current_camera_id(), QStringLiteral("1"));

        ZQFixture::Options late = options(parent + QStringLiteral("_source"));
        late.cameras = {camera};
        late.start_time = QTime(9, 30, 0);
        late.recordings_per_camera = 1;
        const ZQFixture::Result written = ZQFixture::write(late);
        QVERIFY2(written.ok, qPrintable(written.error));
        QCOMPARE(written.files.size(), 1);
        const QDir target(QDir(day).filePath(QStringLiteral("093000")));
        QVERIFY(QDir().mkpath(target.path()));
        for (const QString& path : {written.files[0].data_path, written.files[0].seek_path})
            QVERIFY(QFile::copy(path, target.filePath(QFileInfo(path).fileName())));

        QSignalSpy filled(m_w.get(), &ZQ_Player_presentation::timelines_filled);
        if (camera_change) {
            QVERIFY(choose_camera(m_w.get(), 2));
        } else {
            m_w->form()->tabWidget->setCurrentIndex(0);
            m_w->form()->tabWidget->setCurrentIndex(1);
        }
        // The rows are filled again (after the day's index is brought up to date).
        QVERIFY(QTest::qWaitFor(
            [&] {
                return !filled.isEmpty() && m_w->current_camera_id() == QString::number(camera) &&
                       !m_w->is_filling();
            },
            60000));
        QTRY_VERIFY_WITH_TIMEOUT(m_w->hour_row(9) && m_w->hour_row(9)->minute(30), 60000);
        QVERIFY(m_w->hour_row(8)->minute(0));
        QVERIFY(m_w->form()->slider->minute(9 * 60 + 30));
        // And it plays.
        watch();
        emit m_w->hour_row(9)->clicked(QStringLiteral("09:30:10"), camera);
        QVERIFY(wait_picture([&](const ZQFixture::PatternValue& p) { return p.camera == camera; }));
        QVERIFY2(first_time() >= ms(9, 30, 10) && first_time() < ms(9, 30, 11), qPrintable(hms(first_time())));
        QVERIFY(m_w->actual_file().endsWith(QString::number(camera) + QStringLiteral("_20240101_093000.zqvideo")));
    }
};

QTEST_MAIN(TestWidgetPlayerTransport)
#include "test_widgetplayer_transport.moc"
