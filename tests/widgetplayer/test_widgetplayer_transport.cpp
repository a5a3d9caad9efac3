// The widget player window keeping in step with its playback reader, on
// generated days: the recording a seek lands in after playback crossed into
// the next one, the slider's press and release while playing and paused, the
// end of reading forward and backward, recordings longer than a minute, a
// day of two streams, a recording written after the day was opened, alarm
// and tag rows after a camera change rebuilt the day's index, the hour rows of
// days with pauses and recordings of several lengths, the lists and rows of
// two cameras that record differently (each bounded by its own recordings,
// in either order of showing them), a click into a recording whose seek index
// gives no entry, a day without recordings chosen after one with, and the raw copy of a day opened through a link to its root.
// Each case drives the window as an
// operator would (row clicks, slider presses, the transport buttons, the
// tree) and reads the time of each picture the reader sends from the picture
// itself.

#include "export/popup_export.h"
#include "playback/zq_stream_read_and_control.h"
#include "player/zq_player_inferface_controller.h"
#include "tools/zqfixture/lib/fixture_metadata.h"
#include "tools/zqfixture/lib/fixture_pattern.h"
#include "tests/support/storage_tree.h"
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
#include "recordings/zq_tag.h"

#include "widgetplayer_test_helpers.h"
#include "tests/recordings/log_capture.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QPointer>
#include <QStyle>
#include <QTemporaryDir>
#include <QTest>
#include <QTimeEdit>
#include <QTimer>
#include <QTableView>
#include <QTreeView>

#include <algorithm>
#include <functional>
#include <memory>
#include <utility>

namespace {

// Keeps the warnings' texts; the rest is answered silently.
class QuietUi : public WidgetPlayerUi
{
public:
    explicit QuietUi(QStringList* warnings) : m_warnings(warnings) {}
    void warning(const QString&, const QString& text) override { *m_warnings << text; }
    void information(const QString&, const QString&) override {}
    void open_alarm_viewer(const QString&, const QString&) override {}
    void open_snapshot_viewer(const QImage&, const QString&) override {}
    void open_alarm_record(const Vignette&) override {}

private:
    QStringList* m_warnings;
};

bool is_red(QRgb c)
{
    return qRed(c) > 200 && qGreen(c) < 60 && qBlue(c) < 60;
}

// Recordings of camera 1 that start every `seconds` + `gap` seconds.
struct Run
{
    QTime start;
    int count = 1;
    int seconds = 60;
    int gap = 0;
    int fps = 5;
};

// A tag or an alarm of the two-camera day, and the recording that holds it
// (its start "HHmmss"; empty in a pause).
struct Mark
{
    int camera;
    QTime time;
    QString holder;
};

// Camera 1 records 10:00 and 10:04, camera 2 10:00 and 10:08, one minute each:
// the minutes per file the one's recordings suggest (4, 8) are not the
// other's. Each camera has a tag and an alarm inside a recording and one in
// its own pause.
const QList<Mark> kTags{{1, QTime(10, 4, 30), QStringLiteral("100400")},
                        {1, QTime(10, 3, 0), QString()},
                        {2, QTime(10, 8, 30), QStringLiteral("100800")},
                        {2, QTime(10, 3, 30), QString()}};
const QList<Mark> kAlarms{{1, QTime(10, 0, 30), QStringLiteral("100000")},
                          {1, QTime(10, 2, 0), QString()},
                          {2, QTime(10, 8, 20), QStringLiteral("100800")},
                          {2, QTime(10, 3, 0), QString()}};
// The start of each camera's second recording.
QTime second_recording(int camera)
{
    return camera == 1 ? QTime(10, 4, 0) : QTime(10, 8, 0);
}

qint64 ms(int h, int m, int s, int z = 0)
{
    return (h * 3600LL + m * 60 + s) * 1000 + z;
}

QString hms(qint64 t)
{
    return QTime::fromMSecsSinceStartOfDay(int(t)).toString(QStringLiteral("HH:mm:ss.zzz"));
}

} // namespace

Q_DECLARE_METATYPE(QList<Run>)

class TestWidgetPlayerTransport : public QObject
{
    Q_OBJECT

    QTemporaryDir m_home;
    // Camera 1, two one-minute recordings from 08:00:00, one keyframe a second.
    QString m_day;
    std::unique_ptr<ZQ_Player_presentation> m_w;
    QList<ZQFixture::PatternValue> m_pictures;
    QStringList m_warnings;
    int m_sources = 0;

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
        m_w->set_ui(std::make_unique<QuietUi>(&m_warnings));
        m_w->resize(1600, 900);
        m_w->show();
        m_pictures.clear();
        m_warnings.clear();
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
        emit row->clicked(QTime::fromMSecsSinceStartOfDay(int(t)).toString(QStringLiteral("HH:mm:ss")),
                          row->camera_id());
    }

    // A click on row `row` of an alarm or tag list, away from its picture button.
    static void click_list_row(QTableView* view, int row)
    {
        const QModelIndex index = view->model()->index(row, 0);
        view->scrollTo(index);
        const QRect rect = view->visualRect(index);
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, QPoint(rect.left() + 20, rect.center().y()));
    }

    // The two-camera day of kTags and kAlarms.
    static QString write_two_patterns(const QString& parent)
    {
        QString root;
        for (const auto& [camera, gap] : {std::pair{1, 180}, std::pair{2, 420}}) {
            ZQFixture::Options o = options(parent);
            o.cameras = {camera};
            o.start_time = QTime(10, 0, 0);
            o.recordings_per_camera = 2;
            o.gap_seconds = gap;
            o.fps = 5;
            o.gop = 5;
            const ZQFixture::Result r = ZQFixture::write(o);
            if (!r.ok) {
                qWarning("%s", qPrintable(r.error));
                return QString();
            }
            root = r.root_path;
        }
        ZQFixture::MetadataOptions m;
        m.tags_per_camera = 0;
        m.alarms = false;
        for (const Mark& t : kTags)
            m.tags_at.append({t.camera, t.time});
        for (const Mark& a : kAlarms)
            m.alarms_at.append({a.camera, a.time});
        const ZQFixture::MetadataResult written = ZQFixture::write_metadata(root, m);
        if (!written.ok || written.tags.size() != kTags.size() || written.thumbnails.size() != kAlarms.size()) {
            qWarning("%s", qPrintable(written.error));
            return QString();
        }
        return QDir(root).filePath(QStringLiteral("2024-01-01"));
    }

    // The two-camera day written under `folder` and open, its REC tab showing
    // `camera`; the day folder, empty when that failed.
    QString open_two_patterns(const QString& folder, int camera)
    {
        const QString day = write_two_patterns(m_home.filePath(folder));
        if (day.isEmpty() || !open(day))
            return QString();
        if (camera != 1) {
            QSignalSpy filled(m_w.get(), &ZQ_Player_presentation::timelines_filled);
            if (!choose_camera(m_w.get(), camera) ||
                !QTest::qWaitFor([&] { return !filled.isEmpty() && !m_w->is_filling(); }, 60000))
                return QString();
        }
        return m_w->current_camera_id() == QString::number(camera) ? day : QString();
    }

    // A click on a list row of `mark`: its recording plays from two seconds
    // before it, or, in a pause, the operator is told there is none.
    void list_row_plays(QTableView* view, int row, const Mark& mark)
    {
        QSignalSpy seeks(m_w.get(), &ZQ_Player_presentation::change_timestamp);
        const int warned = m_warnings.size();
        watch();
        click_list_row(view, row);
        const QString what = QStringLiteral("camera %1 at %2").arg(mark.camera).arg(mark.time.toString());
        if (mark.holder.isEmpty()) {
            QVERIFY2(m_warnings.size() == warned + 1, qPrintable(what));
            QCOMPARE(m_warnings.last(), QStringLiteral("Aucun fichier vidéo détecté"));
            QVERIFY2(seeks.isEmpty(), qPrintable(what));
            return;
        }
        QVERIFY2(m_warnings.size() == warned, qPrintable(what + QStringLiteral(": ") + m_warnings.join(", ")));
        const qint64 from = mark.time.msecsSinceStartOfDay() - 2000;
        QVERIFY2(wait_picture([&](const ZQFixture::PatternValue& p) {
                     return p.camera == mark.camera && p.time_ms() >= from && p.time_ms() < from + 1000;
                 }),
                 qPrintable(what + QStringLiteral(" played ") + (m_pictures.isEmpty() ? QString() : hms(m_pictures.last().time_ms()))));
        const QString file = QStringLiteral("%1_20240101_%2.zqvideo").arg(mark.camera).arg(mark.holder);
        QVERIFY2(m_w->actual_file().endsWith(file), qPrintable(m_w->actual_file()));
    }

    // A recording of `camera` at `start` copied into the day folder, as the
    // recorder writes one while the day is open.
    bool add_recording(const QString& day, int camera, QTime start)
    {
        // Written elsewhere first: the recorder's file appears whole.
        ZQFixture::Options late = options(m_home.filePath(QStringLiteral("source_%1").arg(++m_sources)));
        late.cameras = {camera};
        late.start_time = start;
        late.recordings_per_camera = 1;
        const ZQFixture::Result written = ZQFixture::write(late);
        if (!written.ok || written.files.size() != 1)
            return false;
        const QDir target(QDir(day).filePath(start.toString(QStringLiteral("HHmmss"))));
        if (!QDir().mkpath(target.path()))
            return false;
        for (const QString& path : {written.files[0].data_path, written.files[0].seek_path})
            if (!QFile::copy(path, target.filePath(QFileInfo(path).fileName())))
                return false;
        return true;
    }

    // The open day plays from 08:00:01, and a raw copy of `begin`-`end` is made with the
    // window's export button; the files it wrote (below the export folder) must be `expected`.
    void raw_copy_through_window(QTime begin, QTime end, const QStringList& expected)
    {
        watch();
        click_row(ms(8, 0, 1));
        QVERIFY(wait_picture([](auto&&) { return true; }));
        Ui_ZQ_Player_presentation* ui = m_w->form();
        ui->exportbutton->click();
        QPointer<PopupExport> dialog = m_w->export_dialog();
        QVERIFY(dialog);
        dialog->findChild<QComboBox*>(QStringLiteral("formatList"))->setCurrentIndex(5);
        dialog->findChild<QTimeEdit*>(QStringLiteral("beginTime"))->setTime(begin);
        dialog->findChild<QTimeEdit*>(QStringLiteral("endTime"))->setTime(end);
        QTemporaryDir out;
        dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText(out.filePath(QStringLiteral("x")));
        dialog->findChild<QPushButton*>(QStringLiteral("exportButton"))->click();
        QTRY_VERIFY_WITH_TIMEOUT(dialog.isNull(), 60000);
        QVERIFY2(m_warnings.isEmpty(), qPrintable(m_warnings.join('\n')));
        QCOMPARE(zqtest::files_below(out.path()), expected);
    }

    // A tag of `camera` at `time` copied into the day folder's `hour` folder,
    // as the recorder writes one while the day is open; its path, empty when
    // that failed.
    QString add_tag(const QString& day, int camera, QTime time, QTime hour)
    {
        ZQFixture::Options late = options(m_home.filePath(QStringLiteral("source_%1").arg(++m_sources)));
        late.cameras = {camera};
        late.start_time = hour;
        late.recordings_per_camera = 1;
        late.fps = 5;
        late.gop = 5;
        ZQFixture::MetadataOptions m;
        m.tags_per_camera = 0;
        m.alarms = false;
        m.previews = false;
        m.hash_list = false;
        m.tags_at = {{camera, time}};
        const ZQFixture::StorageResult written = ZQFixture::write_storage(late, m);
        if (!written.ok || written.metadata.tags.size() != 1)
            return QString();
        const QString source = written.metadata.tags.first();
        const QString target =
            QDir(QDir(day).filePath(hour.toString(QStringLiteral("HHmmss")))).filePath(QFileInfo(source).fileName());
        return QFile::copy(source, target) ? target : QString();
    }

    // Where the tree row of a folder is, shown: its parents expanded and
    // the row scrolled into view. Null when the row does not come.
    QPoint tree_row_point(const QString& folder)
    {
        if (!QTest::qWaitFor([&] { return m_w->tree_index_of(folder).isValid(); }, 20000))
            return QPoint();
        QTreeView* tree = m_w->form()->tree;
        const QModelIndex index = m_w->tree_index_of(folder);
        for (QModelIndex p = index.parent(); p.isValid(); p = p.parent())
            tree->expand(p);
        tree->scrollTo(index);
        QRect rect;
        if (!QTest::qWaitFor([&] { return (rect = tree->visualRect(m_w->tree_index_of(folder))).height() > 0; }, 20000))
            return QPoint();
        return rect.center();
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

        QVERIFY(add_recording(day, camera, QTime(9, 30, 0)));

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
    void list_row_plays_after_index_rebuild_data()
    {
        QTest::addColumn<int>("tab");
        QTest::addColumn<QString>("seek");
        // Camera 2's alarm at 10:00:00 and its tag at 10:00:01 seek 2 s before.
        QTest::newRow("ALARMS") << 2 << QStringLiteral("20240101095958");
        QTest::newRow("TAGS") << 3 << QStringLiteral("20240101095959");
    }

    void list_row_plays_after_index_rebuild()
    {
        // A recording of camera 2 lands in the day folder while the ALARMS
        // (or TAGS) tab is open. Choosing camera 2 in that tab's chooser
        // reads the day again, finds its index stale and rebuilds it, the
        // day's lists emptied meanwhile. Once the rebuild ends the lists are
        // read again on this tab too: the rows play, and the new recording
        // is on the slider. Back on the REC tab, its chooser offers camera 3,
        // whose first recording landed with camera 2's (it kept the day's
        // earlier cameras).
        QFETCH(int, tab);
        QFETCH(QString, seek);
        ZQFixture::Options o =
            options(m_home.filePath(tab == 2 ? QStringLiteral("rebuild_alarms") : QStringLiteral("rebuild_tags")));
        o.cameras = {1, 2};
        o.start_time = QTime(10, 0, 0);
        o.recordings_per_camera = 6;
        const QString day = write_day(o);
        QVERIFY(!day.isEmpty());
        QVERIFY(open(day));
        Ui_ZQ_Player_presentation* ui = m_w->form();
        ui->tabWidget->setCurrentIndex(tab);
        QComboBox* chooser = tab == 2 ? ui->alarm_combobox : ui->tags_comboBox;
        QTableView* view = tab == 2 ? ui->listVignettes_view : ui->listTags_view;
        QTRY_VERIFY(chooser->isVisible() && view->model() && view->model()->rowCount() >= 1);

        QVERIFY(add_recording(day, 2, QTime(10, 8, 0)));
        // And a camera that had recorded nothing yet.
        QVERIFY(add_recording(day, 3, QTime(10, 20, 0)));
        QSignalSpy generated(m_w->controller(), &ZQPlayerInferfaceController::indexGenerated);
        QSignalSpy filled(m_w.get(), &ZQ_Player_presentation::timelines_filled);
        QVERIFY(choose_camera_in(chooser, 2));
        QTRY_VERIFY_WITH_TIMEOUT(!generated.isEmpty(), 60000);
        // Camera 2's rows and slider come from the rebuilt index.
        QTRY_VERIFY_WITH_TIMEOUT(!filled.isEmpty(), 60000);
        QCOMPARE(m_w->current_camera_id(), QStringLiteral("2"));
        QVERIFY(ui->slider->minute(10 * 60 + 8));
        QVERIFY(ui->slider->minute(10 * 60));
        QCOMPARE(ui->tabWidget->currentIndex(), tab);
        QCOMPARE(chooser->currentText(), QStringLiteral("Caméra 2"));
        QTRY_VERIFY(view->model() && view->model()->rowCount() == 1);

        // The operator clicks the row (away from its picture button).
        QSignalSpy seeks(m_w.get(), &ZQ_Player_presentation::change_timestamp);
        watch();
        click_list_row(view, 0);
        QVERIFY2(m_warnings.isEmpty(), qPrintable(m_warnings.join(QStringLiteral(", "))));
        QVERIFY(!seeks.isEmpty());
        QCOMPARE(seeks.last()[0].toString(), seek);
        QVERIFY(wait_picture([](const ZQFixture::PatternValue& p) { return p.camera == 2; }));
        QVERIFY2(first_time() >= ms(10, 0, 0) && first_time() < ms(10, 0, 1), qPrintable(hms(first_time())));
        QVERIFY(m_w->actual_file().endsWith(QStringLiteral("2_20240101_100000.zqvideo")));

        // Back on the REC tab: camera 2's rows with the new recording, and it still plays.
        ui->tabWidget->setCurrentIndex(1);
        QCOMPARE(m_w->camera_combo()->currentText(), QStringLiteral("Caméra 2"));
        QVERIFY(m_w->hour_row(10) && m_w->hour_row(10)->minute(8) && !m_w->hour_row(10)->minute(7));
        QCOMPARE(m_w->play_state(), 1);
        watch();
        QVERIFY(wait_picture([](const ZQFixture::PatternValue& p) { return p.camera == 2; }));

        // Its chooser offers the rebuilt day's cameras: camera 3, named in no
        // camera file, by its number, and its recording plays.
        QStringList offered;
        for (int i = 0; i < m_w->camera_combo()->count(); ++i)
            offered << m_w->camera_combo()->itemText(i);
        QCOMPARE(offered, (QStringList{"Caméra 1", "Caméra 2", "CAMERA 3"}));
        filled.clear();
        QVERIFY(choose_camera(m_w.get(), 3));
        QTRY_VERIFY_WITH_TIMEOUT(!filled.isEmpty() && !m_w->is_filling(), 60000);
        QVERIFY(m_w->hour_row(10)->minute(20) && !m_w->hour_row(10)->minute(8));
        watch();
        click_row(ms(10, 20, 10));
        QVERIFY(wait_picture([](const ZQFixture::PatternValue& p) { return p.camera == 3 && p.time_ms() >= ms(10, 20, 10); }));
        QVERIFY(m_w->actual_file().endsWith(QStringLiteral("3_20240101_102000.zqvideo")));
    }

    void tags_follow_the_day_folder_data()
    {
        QTest::addColumn<int>("chooser");  // where camera 1 is chosen again: 1 REC, 3 TAGS
        QTest::addColumn<bool>("added");   // a tag written meanwhile, or camera 1's listed tag removed
        for (int chooser : {1, 3})
            for (bool added : {true, false})
                QTest::addRow("%s, %s", chooser == 1 ? "REC chooser" : "TAGS chooser",
                              added ? "tag added" : "tag removed")
                    << chooser << added;
    }

    void tags_follow_the_day_folder()
    {
        // The server writes (or the operator's colleague removes) a tag while
        // the day is open. Choosing the camera again reads the day again and
        // rebuilds its stale index: the hour rows and the TAGS list show the
        // day's tags as they are now. (Before, the tags read when the day was
        // first opened stayed until another day was chosen.)
        QFETCH(int, chooser);
        QFETCH(bool, added);
        const QString day = open_two_patterns(QStringLiteral("tags_follow_%1").arg(QTest::currentDataTag()).replace(' ', '_').remove(','), 1);
        QVERIFY(!day.isEmpty());
        Ui_ZQ_Player_presentation* ui = m_w->form();
        const Mark fresh{1, QTime(10, 0, 40), QStringLiteral("100000")};
        const Mark listed = kTags.first(); // camera 1's tag inside its 10:04 recording
        QVERIFY(listed.camera == 1 && !listed.holder.isEmpty());
        auto row_tags = [&] {
            QStringList at;
            for (ZQTag* tag : m_w->hour_row(10)->tags())
                at << tag->get_datetime();
            at.sort();
            return at;
        };
        QCOMPARE(row_tags(), (QStringList{"20240101100300", "20240101100430"}));
        if (added) {
            QVERIFY(!add_tag(day, fresh.camera, fresh.time, QTime(10, 0, 0)).isEmpty());
        } else {
            const QStringList files = QDir(QDir(day).filePath(QStringLiteral("100400")))
                                          .entryList({QStringLiteral("1_20240101_100430_*.zqtag")}, QDir::Files);
            QCOMPARE(files.size(), 1);
            QVERIFY(QFile::remove(QDir(day).filePath(QStringLiteral("100400/") + files.first())));
        }
        if (chooser == 3) {
            ui->tabWidget->setCurrentIndex(3);
            QTRY_VERIFY(ui->tags_comboBox->isVisible() && ui->listTags_view->model());
        }
        QSignalSpy generated(m_w->controller(), &ZQPlayerInferfaceController::indexGenerated);
        QSignalSpy filled(m_w.get(), &ZQ_Player_presentation::timelines_filled);
        QVERIFY(chooser == 1 ? choose_camera(m_w.get(), 1) : choose_camera_in(ui->tags_comboBox, 1));
        QTRY_VERIFY_WITH_TIMEOUT(!generated.isEmpty(), 60000);
        QTRY_VERIFY_WITH_TIMEOUT(!filled.isEmpty() && !m_w->is_filling(), 60000);

        // The hour row of camera 1 marks the day's tags as they are now.
        const QStringList now = added ? QStringList{"20240101100040", "20240101100300", "20240101100430"}
                                      : QStringList{"20240101100300"};
        QCOMPARE(row_tags(), now);
        // And so does the TAGS list: each tag inside a recording, once.
        ui->tabWidget->setCurrentIndex(3);
        if (chooser == 1)
            QVERIFY(choose_camera_in(ui->tags_comboBox, 1));
        QTRY_VERIFY(ui->listTags_view->model());
        QAbstractItemModel* model = ui->listTags_view->model();
        QStringList rows;
        for (int r = 0; r < model->rowCount(); ++r)
            rows << m_w->tags_model()->get_vignette(model->index(r, 0)).get_datetime();
        rows.sort();
        QCOMPARE(rows, added ? (QStringList{"20240101100040", "20240101100430"}) : QStringList{});
        if (added) {
            int row = -1;
            for (int r = 0; r < model->rowCount(); ++r)
                if (m_w->tags_model()->get_vignette(model->index(r, 0)).get_datetime() == QStringLiteral("20240101100040"))
                    row = r;
            list_row_plays(ui->listTags_view, row, fresh);
        }
    }

    void lists_bound_each_camera_by_its_own_recordings_data()
    {
        QTest::addColumn<int>("shown");    // camera on the REC tab before the list is opened
        QTest::addColumn<int>("tab");      // 2 ALARMS, 3 TAGS
        QTest::addColumn<int>("listed");   // camera chosen in the tab's chooser; -1 "Toutes les caméras"
        QTest::addColumn<bool>("rebuild"); // a recording lands first: the choice rebuilds the day's index
        for (int shown : {2, 1}) {
            for (int tab : {3, 2}) {
                for (int listed : {3 - shown, -1}) {
                    for (bool rebuild : {false, true}) {
                        const QString name = QStringLiteral("camera %1 shown, %2 of %3%4")
                                                 .arg(shown)
                                                 .arg(tab == 3 ? QStringLiteral("TAGS") : QStringLiteral("ALARMS"))
                                                 .arg(listed < 0 ? QStringLiteral("all") : QStringLiteral("camera %1").arg(listed))
                                                 .arg(rebuild ? QStringLiteral(", index rebuilt") : QString());
                        QTest::newRow(qPrintable(name)) << shown << tab << listed << rebuild;
                    }
                }
            }
        }
    }

    void lists_bound_each_camera_by_its_own_recordings()
    {
        // Whichever camera the hour rows showed last, and whether the day's
        // index was rebuilt on the list's tab: a tag is listed under its own
        // camera's recording that holds it, and not at all in a pause; an
        // alarm row plays its camera's recording, or says there is none in a
        // pause. (The camera not shown took the shown one's minutes per file:
        // camera 1's 10:04:30 tag played 1_20240101_100000 at 10:00:59.)
        QFETCH(int, shown);
        QFETCH(int, tab);
        QFETCH(int, listed);
        QFETCH(bool, rebuild);
        const QString day =
            open_two_patterns(QStringLiteral("patterns_%1").arg(QTest::currentDataTag()).replace(' ', '_'), shown);
        QVERIFY(!day.isEmpty());
        QVERIFY(m_w->hour_row(10)->minute(second_recording(shown).minute()));
        Ui_ZQ_Player_presentation* ui = m_w->form();
        QSignalSpy filled(m_w.get(), &ZQ_Player_presentation::timelines_filled);

        ui->tabWidget->setCurrentIndex(tab);
        QComboBox* chooser = tab == 2 ? ui->alarm_combobox : ui->tags_comboBox;
        QTableView* view = tab == 2 ? ui->listVignettes_view : ui->listTags_view;
        QTRY_VERIFY(chooser->isVisible() && view->model());
        const int other = 3 - shown;
        if (rebuild) {
            // Choosing a camera reads the day again and finds a new recording.
            QVERIFY(add_recording(day, 3, QTime(11, 0, 0)));
            QSignalSpy generated(m_w->controller(), &ZQPlayerInferfaceController::indexGenerated);
            filled.clear();
            QVERIFY(choose_camera_in(chooser, other));
            QTRY_VERIFY_WITH_TIMEOUT(!generated.isEmpty(), 60000);
            QTRY_VERIFY_WITH_TIMEOUT(!filled.isEmpty() && !m_w->is_filling(), 60000);
            QCOMPARE(ui->tabWidget->currentIndex(), tab);
        }
        if (listed < 0) {
            chooser->setCurrentIndex(0);
            emit chooser->activated(0);
            QCOMPARE(chooser->currentText(), QStringLiteral("Toutes les caméras"));
        } else if (!rebuild) {
            filled.clear();
            QVERIFY(choose_camera_in(chooser, listed));
            QTRY_VERIFY_WITH_TIMEOUT(!filled.isEmpty() && !m_w->is_filling(), 60000);
        }
        QTRY_VERIFY(view->model());

        // The rows: each of a listed camera's marks, tags only inside a recording.
        QList<Mark> expected;
        for (const Mark& mark : tab == 2 ? kAlarms : kTags)
            if ((listed < 0 || mark.camera == listed) && (tab == 2 || !mark.holder.isEmpty()))
                expected.append(mark);
        QAbstractItemModel* model = view->model();
        QStringList rows; // "Caméra 1@20240101100430 1_20240101_100400.zqvideo"
        for (int r = 0; r < model->rowCount(); ++r) {
            const Vignette v = tab == 2 ? m_w->alarm_model()->get_vignette(model->index(r, 0))
                                        : m_w->tags_model()->get_vignette(model->index(r, 0));
            rows << v.camera_name + QLatin1Char('@') + v.get_datetime() + QLatin1Char(' ') + v.file.fileName();
        }
        QList<int> row_of;
        for (const Mark& mark : std::as_const(expected)) {
            const QString at = QStringLiteral("Caméra %1@20240101").arg(mark.camera) +
                               mark.time.toString(QStringLiteral("HHmmss")) + QLatin1Char(' ');
            const auto found = std::find_if(rows.cbegin(), rows.cend(), [&](const QString& r) { return r.startsWith(at); });
            QVERIFY2(found != rows.cend(), qPrintable(at + QStringLiteral("not in ") + rows.join(QStringLiteral(", "))));
            row_of.append(int(found - rows.cbegin()));
        }
        QVERIFY2(model->rowCount() == expected.size(), qPrintable(rows.join(QStringLiteral(", "))));
        // Each row plays its own camera's recording at its time.
        for (int i = 0; i < expected.size(); ++i) {
            list_row_plays(view, row_of[i], expected[i]);
            if (QTest::currentTestFailed())
                return;
        }
    }

    void hour_rows_bound_each_camera_by_its_own_recordings_data()
    {
        QTest::addColumn<int>("first");  // camera the REC tab shows first
        QTest::addColumn<int>("then");   // camera chosen next
        QTest::addColumn<int>("chooser"); // the chooser it is chosen in: 1 REC, 2 ALARMS, 3 TAGS
        for (int first : {1, 2})
            for (int chooser : {1, 2, 3})
                QTest::newRow(qPrintable(QStringLiteral("camera %1 then %2 in the %3 chooser")
                                             .arg(first)
                                             .arg(3 - first)
                                             .arg(chooser == 1 ? "REC" : chooser == 2 ? "ALARMS" : "TAGS")))
                    << first << 3 - first << chooser;
    }

    void hour_rows_bound_each_camera_by_its_own_recordings()
    {
        // The rows and the slider of the camera chosen next show its own
        // recordings, whichever camera was shown before and wherever it was
        // chosen; back on the REC tab, a click in its pause plays its next
        // recording from the start, and a click inside one plays that second.
        QFETCH(int, first);
        QFETCH(int, then);
        QFETCH(int, chooser);
        QVERIFY(!open_two_patterns(QStringLiteral("rows_%1_%2").arg(first).arg(chooser), first).isEmpty());
        Ui_ZQ_Player_presentation* ui = m_w->form();
        QSignalSpy filled(m_w.get(), &ZQ_Player_presentation::timelines_filled);
        if (chooser == 1) {
            QVERIFY(choose_camera(m_w.get(), then));
        } else {
            ui->tabWidget->setCurrentIndex(chooser);
            QVERIFY(choose_camera_in(chooser == 2 ? ui->alarm_combobox : ui->tags_comboBox, then));
        }
        QTRY_VERIFY_WITH_TIMEOUT(!filled.isEmpty() && !m_w->is_filling(), 60000);
        ui->tabWidget->setCurrentIndex(1);
        QCOMPARE(m_w->camera_combo()->currentText(), QStringLiteral("Caméra %1").arg(then));
        ZQTimeline* row = m_w->hour_row(10);
        QCOMPARE(row->camera_id(), then);
        const int second = second_recording(then).minute();
        for (int m = 0; m < 12; ++m) {
            const bool recorded = m == 0 || m == second;
            QVERIFY2(row->minute(m) == recorded, qPrintable(QString::number(m)));
            QVERIFY2(ui->slider->minute(10 * 60 + m) == recorded, qPrintable(QString::number(m)));
        }
        // 90 s before the second recording: nothing there, the next one plays from its start.
        const qint64 next = second_recording(then).msecsSinceStartOfDay();
        watch();
        click_row(next - 90000);
        QVERIFY(wait_picture([&](const ZQFixture::PatternValue& p) { return p.camera == then; }));
        QVERIFY2(first_time() >= next && first_time() < next + 1000, qPrintable(hms(first_time())));
        // Inside it: that second.
        watch();
        click_row(next + 30000);
        QVERIFY(wait_picture([&](const ZQFixture::PatternValue& p) {
            return p.camera == then && p.time_ms() >= next + 30000 && p.time_ms() < next + 31000;
        }));
        QVERIFY(m_w->actual_file().endsWith(
            QStringLiteral("%1_20240101_%2.zqvideo").arg(then).arg(second_recording(then).toString(QStringLiteral("HHmmss")))));
    }

    void hour_row_marks_and_clicks_data()
    {
        QTest::addColumn<QList<Run>>("runs");
        QTest::addColumn<QList<int>>("marked"); // minutes of the 10:00 row drawn red
        QTest::addColumn<QList<int>>("empty");  // minutes drawn empty
        QTest::addColumn<QTime>("click");       // the first pixel column from this time is clicked
        QTest::addColumn<QTime>("file");        // start of the recording that plays
        QTest::addColumn<bool>("at_click");     // from the clicked second, else from the file's start
        const QList<Run> gap{{QTime(10, 0, 0), 6, 60, 0}, {QTime(10, 8, 0), 1, 60, 0}};
        // One-minute recordings 10:00 to 10:05, then 10:08: 10:06 and 10:07 hold nothing, and a
        // click there plays the next recording (10:05 played when every recording was taken for
        // three minutes, the smallest gap).
        QTest::newRow("gap in the middle, click in it")
            << gap << QList<int>{0, 1, 2, 3, 4, 5, 8} << QList<int>{6, 7, 9, 10} << QTime(10, 6, 50)
            << QTime(10, 8, 0) << false;
        QTest::newRow("gap in the middle, click before it")
            << gap << QList<int>{0, 5, 8} << QList<int>{6, 7} << QTime(10, 5, 30) << QTime(10, 5, 0) << true;
        // 10:00 and 10:03: the last recording ends with its own last picture.
        QTest::newRow("last recording of the day")
            << QList<Run>{{QTime(10, 0, 0), 2, 60, 120}} << QList<int>{0, 3} << QList<int>{1, 2, 4, 5}
            << QTime(10, 3, 30) << QTime(10, 3, 0) << true;
        // Two and a half minutes at 10:00 and 10:05.
        QTest::newRow("longer than a minute")
            << QList<Run>{{QTime(10, 0, 0), 2, 150, 150}} << QList<int>{0, 1, 2, 5, 6, 7}
            << QList<int>{3, 4, 8, 9} << QTime(10, 3, 30) << QTime(10, 5, 0) << false;
        // Half a minute at 10:00, 10:01 and 10:02: 10:00:40 lies after the first one.
        QTest::newRow("shorter than a minute")
            << QList<Run>{{QTime(10, 0, 0), 3, 30, 30}} << QList<int>{0, 1, 2} << QList<int>{3, 4}
            << QTime(10, 0, 40) << QTime(10, 1, 0) << false;
        // One recording of two and a half minutes: its third minute too.
        QTest::newRow("a single recording") << QList<Run>{{QTime(10, 0, 0), 1, 150, 0}} << QList<int>{0, 1, 2}
                                            << QList<int>{3} << QTime(10, 2, 10) << QTime(10, 0, 0) << true;
        // One picture, stamped at 10:00:00, then a recording at 10:03: its own minute only (the
        // three-minute gap was drawn), and a click after it plays the 10:03 recording.
        QTest::newRow("a single picture") << QList<Run>{{QTime(10, 0, 0), 1, 1, 0, 1}, {QTime(10, 3, 0), 1, 60, 0}}
                                          << QList<int>{0, 3} << QList<int>{1, 2, 4} << QTime(10, 1, 30)
                                          << QTime(10, 3, 0) << false;
    }

    void hour_row_marks_and_clicks()
    {
        // Each recording is drawn from its start to its own last picture, and
        // a click finds the recording that holds the clicked second.
        QFETCH(QList<Run>, runs);
        QFETCH(QList<int>, marked);
        QFETCH(QList<int>, empty);
        QFETCH(QTime, click);
        QFETCH(QTime, file);
        QFETCH(bool, at_click);
        const QString parent = m_home.filePath(QStringLiteral("rows_%1").arg(QTest::currentDataTag()));
        QString day;
        for (const Run& run : runs) {
            ZQFixture::Options o = options(parent);
            o.start_time = run.start;
            o.recordings_per_camera = run.count;
            o.seconds_per_recording = run.seconds;
            o.gap_seconds = run.gap;
            o.fps = run.fps;
            o.gop = run.fps;
            day = write_day(o);
            QVERIFY(!day.isEmpty());
        }
        QVERIFY(open(day));
        ZQTimeline* row = m_w->hour_row(10);
        QVERIFY(row);
        QTRY_VERIFY(row->width() > 100);
        const QImage picture = row->grab().toImage();
        const int w = row->width();
        for (int m : marked) {
            // The minute's last pixel column (a cell reaches a little into its right neighbour).
            QVERIFY2(is_red(picture.pixel(ZQTimeline::minute_x(m + 1, w) - 1, 18)), qPrintable(QString::number(m)));
            QVERIFY2(m_w->form()->slider->minute(10 * 60 + m), qPrintable(QString::number(m)));
        }
        for (int m : empty) {
            QVERIFY2(!is_red(picture.pixel(ZQTimeline::minute_x(m + 1, w) - 1, 18)), qPrintable(QString::number(m)));
            QVERIFY2(!m_w->form()->slider->minute(10 * 60 + m), qPrintable(QString::number(m)));
        }

        int x = 0;
        while (row->time_at(x, w) < click)
            ++x;
        QSignalSpy clicked(row, &ZQTimeline::clicked);
        watch();
        QTest::mouseClick(row, Qt::LeftButton, {}, QPoint(x, 15));
        QCOMPARE(clicked.size(), 1);
        const qint64 clicked_ms =
            QTime::fromString(clicked[0][0].toString(), QStringLiteral("HH:mm:ss")).msecsSinceStartOfDay();
        QVERIFY(wait_picture([](auto&&) { return true; }));
        const QString name = QStringLiteral("1_20240101_") + file.toString(QStringLiteral("HHmmss")) +
                             QStringLiteral(".zqvideo");
        QVERIFY2(m_w->actual_file().endsWith(name), qPrintable(m_w->actual_file()));
        const qint64 from = at_click ? clicked_ms : qint64(file.msecsSinceStartOfDay());
        QVERIFY2(first_time() >= from && first_time() < from + 1000,
                 qPrintable(hms(first_time()) + QStringLiteral(" clicked ") + hms(clicked_ms)));
    }

    // Camera 1's 08:00, 08:01 and 08:02 where the seek index of 08:01 holds only lines that are
    // not seek lines (its video file is intact). A click into it does what a click into a time
    // without recordings does in this window: playback stops, Play shows, and nothing logs a line
    // per tick; a click into a readable recording then plays. Reading that reaches it by itself
    // walks on into 08:02, still playing.
    void recording_without_entries_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("click while reading") << QStringLiteral("reading");
        QTest::newRow("click while paused") << QStringLiteral("paused");
        QTest::newRow("reading reaches it") << QStringLiteral("reaches");
    }

    void recording_without_entries()
    {
        QFETCH(QString, how);
        ZQFixture::Options o = options(m_home.filePath(QStringLiteral("unreadable_") + how));
        o.recordings_per_camera = 3;
        const QString day = write_day(o);
        QVERIFY(!day.isEmpty());
        QFile seek(QDir(day).filePath(QStringLiteral("080100/1_20240101_080100.zqseek")));
        QVERIFY(seek.open(QIODevice::WriteOnly | QIODevice::Truncate));
        QVERIFY(seek.write("# seek index\nthis line is not a seek line\n") > 0);
        seek.close();
        QVERIFY(open(day));
        Ui_ZQ_Player_presentation* ui = m_w->form();

        watch();
        click_row(how == QLatin1String("reaches") ? ms(8, 0, 58) : ms(8, 0, 30));
        QVERIFY(wait_picture([](auto&&) { return true; }));
        QCOMPARE(m_w->play_state(), 1);
        if (how == QLatin1String("paused")) {
            ui->playButton->click(); // the play/pause button pauses while playing
            QCOMPARE(m_w->play_state(), 2);
        }
        LogCapture logs;
        auto per_tick = [&] {
            return logs.count(QStringLiteral("next :: no frame")) + logs.count(QStringLiteral("prev :: no frame"));
        };
        if (how == QLatin1String("reaches")) {
            QVERIFY(wait_picture([](const ZQFixture::PatternValue& p) { return p.time_ms() >= ms(8, 2, 0); }));
            QCOMPARE(m_w->play_state(), 1);
            QVERIFY(m_w->actual_file().endsWith(QStringLiteral("1_20240101_080200.zqvideo")));
            QCOMPARE(per_tick(), 0);
            return;
        }
        click_row(ms(8, 1, 30));
        QCOMPARE(m_w->play_state(), 0);
        QCOMPARE(ui->lbl_timestamp->text(), QStringLiteral("00:00:00:000"));
        // Nothing ticks any more.
        QTimer* timer = m_w->reader()->get_read_timer();
        QVERIFY(!timer || !timer->isActive());
        QCOMPARE(per_tick(), 0);
        // The next click into a readable recording plays it.
        click_row(ms(8, 2, 10));
        QVERIFY(wait_picture([](const ZQFixture::PatternValue& p) { return p.time_ms() >= ms(8, 2, 10); }));
        QCOMPARE(m_w->play_state(), 1);
        QCOMPARE(per_tick(), 0);
    }

    void day_without_recordings_shows_nothing_data()
    {
        QTest::addColumn<QString>("layout");
        QTest::newRow("empty folder") << QStringLiteral("empty");
        QTest::newRow("only other files") << QStringLiteral("other");
        // Removed after the tree listed it (the storage was unplugged, or the day expired).
        QTest::newRow("folder gone") << QStringLiteral("gone");
    }

    void day_without_recordings_shows_nothing()
    {
        // After a day with recordings, the operator picks in the tree a day
        // without any: the slider, the hour rows and the lists are empty (the
        // previous day's marks stayed on the slider, and a click on one
        // played nothing).
        QFETCH(QString, layout);
        const QString day = write_day(options(m_home.filePath(QStringLiteral("no_recordings_") + layout)));
        QVERIFY(!day.isEmpty());
        const QString other = QDir::cleanPath(day + QStringLiteral("/../2024-01-02"));
        QVERIFY(QDir().mkpath(other));
        if (layout == QLatin1String("other")) {
            QVERIFY(QDir().mkpath(other + QStringLiteral("/080000")));
            QFile thumb(other + QStringLiteral("/080000/1_1000_20240102_080000-thumb.jpg"));
            QVERIFY(thumb.open(QIODevice::WriteOnly));
            thumb.write("not a picture");
            thumb.close();
            QFile notes(other + QStringLiteral("/notes.txt"));
            QVERIFY(notes.open(QIODevice::WriteOnly));
            notes.write("nothing recorded");
            notes.close();
        }
        QVERIFY(open(day));
        Ui_ZQ_Player_presentation* ui = m_w->form();
        QVERIFY(ui->slider->minute(8 * 60));
        QCOMPARE(ui->slider->tags().size(), 1);

        const QPoint at = tree_row_point(other);
        QVERIFY(!at.isNull());
        if (layout == QLatin1String("gone"))
            QVERIFY(QDir(other).removeRecursively());
        QTest::mouseClick(ui->tree->viewport(), Qt::LeftButton, {}, at);
        QCOMPARE(QDir::cleanPath(m_w->day_folder()), other);
        auto nothing_shown = [&] {
            for (int i = 0; i < ZQSlidertimeline::kMinutes; ++i)
                if (ui->slider->minute(i))
                    return false;
            for (int h = 0; h < 24; ++h)
                if (ZQTimeline* row = m_w->hour_row(h))
                    for (int m = 0; m < 60; ++m)
                        if (row->minute(m))
                            return false;
            return ui->slider->tags().isEmpty();
        };
        QVERIFY(nothing_shown());
        // Also once a rebuild of the day's index has ended.
        QTRY_VERIFY_WITH_TIMEOUT(!m_w->controller()->is_indexing(), 60000);
        QVERIFY(nothing_shown());
        for (int tab : {2, 3}) {
            ui->tabWidget->setCurrentIndex(tab);
            QTableView* view = tab == 2 ? ui->listVignettes_view : ui->listTags_view;
            QVERIFY(!view->model() || view->model()->rowCount() == 0);
        }
        // The only word the operator gets: the day holds no recording.
        for (const QString& w : std::as_const(m_warnings))
            QVERIFY2(w.startsWith(QStringLiteral("Aucun enregistrement trouvé dans le dossier")), qPrintable(w));
    }

    // The raw copy started with the window's export button, on a day chosen in the tree through a
    // link to the storage root, the day holding a folder named as a root with the camera's first
    // recording of the range: every file lies below the export's copy of the root, with each of the
    // storage's own camera-information files once (before, the linked root was not walked and the
    // planted folder became the copy's root).
    void raw_copy_of_a_day_opened_through_a_link()
    {
        const ZQFixture::StorageResult r =
            ZQFixture::write_storage(options(m_home.filePath(QStringLiteral("linked"))), ZQFixture::MetadataOptions());
        QVERIFY2(r.ok, qPrintable(r.error));
        const QString root = r.storage.root_path;
        const QString rootName = QFileInfo(root).fileName();
        QStringList expected;
        for (const QString& f : r.metadata.files)
            if (f.endsWith(QStringLiteral(".zqnfo")))
                expected << f.mid(root.size() - rootName.size());
        QVERIFY(expected.size() >= 3);
        const QString first = r.storage.files.first().data_path;
        QVERIFY(first.endsWith(QStringLiteral("/1_20240101_080000.zqvideo")));
        for (const QString& p : {first, r.storage.files.first().seek_path})
            expected << p.mid(root.size() - rootName.size());
        const QString nfo = root + QStringLiteral("/2024-01-01/080000/1_20240101_080000.zqnfo");
        const QString planted = zqtest::plant_root_named_folder(root, QDate(2024, 1, 1), 1, QTime(7, 59, 59), nfo,
                                                                m_home.filePath(QStringLiteral("early")));
        QVERIFY(!planted.isEmpty());
        const QString plantedSeek = QString(planted).replace(QStringLiteral(".zqvideo"), QStringLiteral(".zqseek"));
        for (const QString& p : {planted, plantedSeek})
            expected << p.mid(root.size() - rootName.size());
        expected.sort();
        const QString linked = zqtest::link_root(root, m_home.filePath(QStringLiteral("linked_root"))).ownLink;
        QVERIFY(!linked.isEmpty());

        QVERIFY(open(linked + QStringLiteral("/2024-01-01")));
        raw_copy_through_window(QTime(7, 59, 59), QTime(8, 0, 30), expected);
    }

    // The raw copy started with the window's export button on a day the tree lists through a link
    // of its own (an old day moved to another disk and linked back into the storage): the day's
    // camera-information files come along under the day's name, with its recordings and every
    // other camera file of the storage (before, the linked day was not walked: the copy held its
    // recordings without their cameras' names and said it succeeded).
    void raw_copy_of_a_day_moved_and_linked_back()
    {
        ZQFixture::Options o = options(m_home.filePath(QStringLiteral("moved")));
        o.dates = {QDate(2024, 1, 1), QDate(2024, 1, 2)};
        const ZQFixture::StorageResult r = ZQFixture::write_storage(o, ZQFixture::MetadataOptions());
        QVERIFY2(r.ok, qPrintable(r.error));
        const QString root = r.storage.root_path;
        const QString rootName = QFileInfo(root).fileName();
        QStringList expected;
        for (const QString& f : r.metadata.files)
            if (f.endsWith(QStringLiteral(".zqnfo")))
                expected << f.mid(root.size() - rootName.size());
        QVERIFY(expected.filter(QStringLiteral("/2024-01-01/")).size() >= 2);
        QVERIFY(expected.filter(QStringLiteral("/2024-01-02/")).size() >= 2);
        const QString first = r.storage.files.first().data_path;
        QVERIFY(first.endsWith(QStringLiteral("/2024-01-01/080000/1_20240101_080000.zqvideo")));
        for (const QString& p : {first, r.storage.files.first().seek_path})
            expected << p.mid(root.size() - rootName.size());
        expected.sort();
        const QString day = root + QStringLiteral("/2024-01-01");
        const QString archived = m_home.filePath(QStringLiteral("archive_disk/2024-01-01"));
        QVERIFY(QDir().mkpath(QFileInfo(archived).path()));
        QVERIFY(QDir().rename(day, archived));
        QVERIFY(QFile::link(archived, day));

        QVERIFY(open(day));
        raw_copy_through_window(QTime(8, 0, 0), QTime(8, 0, 30), expected);
    }
};

QTEST_MAIN(TestWidgetPlayerTransport)
#include "test_widgetplayer_transport.moc"
