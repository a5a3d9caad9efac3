// The widget player's lookups and widgets, each on the smallest input that
// shows a fault: wrong camera matched, a click mapped to the wrong minute or
// file, a tag on the wrong row, a list row that seeks to the wrong time.

#include "recordings/encrypt.h"
#include "recordings/zq_file.h"
#include "recordings/zq_tag.h"
#include "tests/recordings/log_capture.h"
#include "tools/zqfixture/lib/fixture_writer.h"
#include "widgetplayer/alarm_item_delegate.h"
#include "widgetplayer/alarm_model.h"
#include "widgetplayer/day_ends.h"
#include "widgetplayer/day_media.h"
#include "widgetplayer/zq_player_presentation.h"
#include "widgetplayer/zq_player_tab_widget.h"
#include "widgetplayer/zq_slider_timeline.h"
#include "widgetplayer/zq_timeline.h"
#include "widgetplayer/zq_timeline_thread.h"
#include "widgetplayer/zq_video_file_system_model.h"

#include "widgetplayer_test_helpers.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <array>
#include <atomic>
#include <tuple>

#include <sys/stat.h>

using DayMedia::Entry;

namespace {

qint64 hms(int h, int m, int s)
{
    return (h * 3600LL + m * 60 + s) * 1000;
}

Entry entry(int camera, int h, int m, int s, bool audio = false)
{
    Entry e;
    e.camera = camera;
    e.day = QStringLiteral("20240501");
    e.start_ms = hms(h, m, s);
    e.audio = audio;
    e.path = QStringLiteral("/d/%1_20240501_%2%3%4.%5")
                 .arg(camera)
                 .arg(h, 2, 10, QLatin1Char('0'))
                 .arg(m, 2, 10, QLatin1Char('0'))
                 .arg(s, 2, 10, QLatin1Char('0'))
                 .arg(audio ? QStringLiteral("zqaudio") : QStringLiteral("zqvideo"));
    return e;
}

bool write_file(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

ZQTag* make_tag(const QString& cam, const QString& datetime, QObject* owner)
{
    auto* t = new ZQTag;
    t->setParent(owner);
    t->set_cam_id(cam);
    t->set_datetime(datetime);
    t->set_name(QStringLiteral("n"));
    return t;
}

// Generated one-minute recordings (five pictures a second, the last at :59.800):
// camera 1 at 10:00 and 10:04, camera 2 at 10:00 and 10:08, camera 3 at 10:00,
// 10:01 and 10:02 with the 10:01 one's seek index empty. Empty on failure.
QFileInfoList three_patterns(const QString& parent)
{
    QFileInfoList video;
    for (const auto& [camera, count, gap] : {std::tuple{1, 2, 180}, std::tuple{2, 2, 420}, std::tuple{3, 3, 0}}) {
        ZQFixture::Options o;
        o.output_parent = parent;
        o.cameras = {camera};
        o.start_time = QTime(10, 0, 0);
        o.recordings_per_camera = count;
        o.gap_seconds = gap;
        o.size = QSize(64, 48);
        o.fps = 5;
        o.gop = 5;
        const ZQFixture::Result written = ZQFixture::write(o);
        if (!written.ok)
            return {};
        for (const ZQFixture::WrittenFile& f : written.files) {
            if (f.camera != camera)
                continue;
            video.append(QFileInfo(f.data_path));
            if (camera == 3 && f.start == QTime(10, 1, 0)) {
                QFile seek(f.seek_path);
                if (!seek.open(QIODevice::WriteOnly | QIODevice::Truncate))
                    return {};
            }
        }
    }
    return video;
}

} // namespace

class TestWidgetPlayerParts : public QObject
{
    Q_OBJECT
private slots:
    void camera_id_of_text_data();
    void camera_id_of_text();
    void recording_name_data();
    void recording_name();
    void search_time_data();
    void search_time();
    void adjacent_entry_data();
    void adjacent_entry();
    void alarm_bounds_data();
    void alarm_bounds();
    void hour_of_time_data();
    void hour_of_time();
    void minutes_estimate();
    void recording_ends_data();
    void recording_ends();
    void seek_last_line_data();
    void seek_last_line();
    void filler_marks_camera_minutes();
    void filler_reports_unreadable_seek_index_data();
    void filler_reports_unreadable_seek_index();
    void day_ends_read_what_a_question_needs_data();
    void day_ends_read_what_a_question_needs();
    void day_ends_agree_with_the_filler();
    void row_tags_data();
    void row_tags();
    void row_click_maps_and_clamps();
    void slider_values_and_press();
    void delegate_hit_data();
    void delegate_hit();
    void alarm_model_texts();
    void file_model_texts_data();
    void file_model_texts();
    void duplicate_rows_hidden();
    void tab_bar_icons();
    void day_cameras_data();
    void day_cameras();
};

void TestWidgetPlayerParts::camera_id_of_text_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("id");
    QTest::newRow("plain") << "12" << 12;
    QTest::newRow("zero") << "0" << 0;
    QTest::newRow("leading zero") << "012" << -1;
    QTest::newRow("sign") << "+1" << -1;
    QTest::newRow("blank") << " 1" << -1;
    QTest::newRow("arabic-indic digit") << QString::fromUtf8("\xd9\xa1") << -1;
    QTest::newRow("empty") << "" << -1;
    QTest::newRow("beyond an int") << "99999999999" << -1;
}

void TestWidgetPlayerParts::camera_id_of_text()
{
    QFETCH(QString, text);
    QFETCH(int, id);
    QCOMPARE(DayMedia::parse_camera_id(text), id);
    // Camera 1 is not camera 12: chooser texts match by id, never by containment.
    const QHash<int, QString> table{{1, QStringLiteral("Entrée")}, {12, QStringLiteral("Entrée 2")}};
    QCOMPARE(DayMedia::camera_id_of_camera_text(QStringLiteral("Entrée 2"), table), 12);
    QCOMPARE(DayMedia::camera_id_of_camera_text(QStringLiteral("CAMERA 7"), table), 7);
    QCOMPARE(DayMedia::camera_id_of_camera_text(QStringLiteral("Hall"), table), -1);
}

void TestWidgetPlayerParts::recording_name_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("camera");
    QTest::addColumn<qint64>("start");
    QTest::newRow("video") << "12_20240501_101530.zqvideo" << 12 << hms(10, 15, 30);
    QTest::newRow("audio") << "3_20240501_000000.zqaudio" << 3 << qint64(0);
    QTest::newRow("two parts") << "12_20240501.zqvideo" << -1 << qint64(-1);
    QTest::newRow("letters in time") << "12_20240501_10a530.zqvideo" << -1 << qint64(-1);
    QTest::newRow("bad day") << "12_20241301_101530.zqvideo" << -1 << qint64(-1);
    QTest::newRow("bad hour") << "12_20240501_251530.zqvideo" << -1 << qint64(-1);
}

void TestWidgetPlayerParts::recording_name()
{
    QFETCH(QString, name);
    QFETCH(int, camera);
    QFETCH(qint64, start);
    const DayMedia::RecordingName n = DayMedia::parse_recording_name(name);
    QCOMPARE(n.valid(), camera >= 0);
    if (n.valid()) {
        QCOMPARE(n.camera, camera);
        QCOMPARE(n.start_ms, start);
    }
}

void TestWidgetPlayerParts::search_time_data()
{
    QTest::addColumn<QVector<Entry>>("list");
    QTest::addColumn<qint64>("time");
    QTest::addColumn<int>("camera");
    QTest::addColumn<int>("tolerance");
    QTest::addColumn<int>("index");
    QTest::addColumn<QVector<qint64>>("ends"); // of each entry; none: a minute after its start

    // Camera 1: 08:00, 08:01, gap, 08:10; camera 12 at 08:05; camera 1 audio at 09:00.
    const QVector<Entry> day{entry(1, 8, 0, 0), entry(12, 8, 5, 0), entry(1, 8, 1, 0), entry(1, 8, 10, 0),
                             entry(1, 9, 0, 0, true)};
    QTest::newRow("start found") << day << hms(8, 1, 0) << 1 << 0 << 2 << QVector<qint64>{};
    QTest::newRow("end not found") << day << hms(8, 2, 0) << 1 << 0 << -1 << QVector<qint64>{};
    QTest::newRow("other camera not matched by digit") << day << hms(8, 5, 10) << 1 << 0 << -1 << QVector<qint64>{};
    QTest::newRow("camera 12") << day << hms(8, 5, 10) << 12 << 0 << 1 << QVector<qint64>{};
    QTest::newRow("10 s before a file") << day << hms(8, 9, 50) << 1 << 900 << 3 << QVector<qint64>{};
    QTest::newRow("5 s after the last video") << day << hms(8, 11, 5) << 1 << 900 << 3 << QVector<qint64>{};
    QTest::newRow("camera -1 takes the first met") << day << hms(8, 0, 30) << -1 << 0 << 0 << QVector<qint64>{};
    QTest::newRow("audio file") << day << hms(9, 0, 30) << 1 << 0 << 4 << QVector<qint64>{};
    const QVector<Entry> audio_only{entry(2, 10, 0, 0, true), entry(2, 10, 1, 0, true)};
    QTest::newRow("audio-only day") << audio_only << hms(10, 1, 59) << -1 << 0 << 1 << QVector<qint64>{};
    QTest::newRow("audio-only day, after the end") << audio_only << hms(10, 2, 5) << 2 << 900 << 1 << QVector<qint64>{};
    QTest::newRow("empty") << QVector<Entry>{} << hms(1, 0, 0) << 1 << 900 << -1 << QVector<qint64>{};
    QTest::newRow("far from any file") << day << hms(20, 0, 0) << 1 << 900 << -1 << QVector<qint64>{};
    // Ends known from the recordings' last pictures: 30 s, then 150 s.
    const QVector<Entry> two{entry(1, 8, 0, 0), entry(1, 8, 1, 0)};
    const QVector<qint64> ends{hms(8, 0, 30), hms(8, 3, 30)};
    QTest::newRow("after a short recording's end") << two << hms(8, 0, 40) << 1 << 0 << -1 << ends;
    QTest::newRow("inside a long recording") << two << hms(8, 3, 0) << 1 << 0 << 1 << ends;
    QTest::newRow("after a short recording, the next one") << two << hms(8, 0, 40) << 1 << 900 << 1 << ends;
}

void TestWidgetPlayerParts::search_time()
{
    QFETCH(QVector<Entry>, list);
    QFETCH(qint64, time);
    QFETCH(int, camera);
    QFETCH(int, tolerance);
    QFETCH(int, index);
    QFETCH(QVector<qint64>, ends);
    // Asked only of the entries that can hold the time: the latest start at or
    // before it, of each kind (exact), or the camera's last ones (tolerant).
    QList<int> asked;
    auto end_of = [&](int i) {
        asked << i;
        return i < ends.size() ? ends[i] : list[i].start_ms + 60000;
    };
    QCOMPARE(DayMedia::search_time(list, time, camera, tolerance, end_of).index, index);
    QVERIFY2(asked.size() <= 2, qPrintable(QString::number(asked.size())));
}

void TestWidgetPlayerParts::adjacent_entry_data()
{
    QTest::addColumn<bool>("next");
    QTest::addColumn<int>("current");
    QTest::addColumn<int>("index");
    QTest::newRow("next skips the other camera") << true << 0 << 3;
    QTest::newRow("previous") << false << 3 << 0;
    QTest::newRow("no earlier: stays") << false << 0 << -1;
    QTest::newRow("no later: stays, no wrap past midnight") << true << 4 << -1;
}

void TestWidgetPlayerParts::adjacent_entry()
{
    QFETCH(bool, next);
    QFETCH(int, current);
    QFETCH(int, index);
    const QVector<Entry> list{entry(1, 0, 0, 0), entry(12, 0, 1, 0), entry(1, 0, 3, 0, true), entry(1, 0, 5, 0),
                              entry(1, 23, 59, 0)};
    QCOMPARE(DayMedia::adjacent_entry(list, list[current], next), index);
}

void TestWidgetPlayerParts::alarm_bounds_data()
{
    QTest::addColumn<int>("camera");
    QTest::addColumn<qint64>("time");
    QTest::addColumn<int>("duration");
    QTest::addColumn<int>("index");
    QTest::newRow("exact start") << 1 << hms(8, 0, 0) << 60 << 0;
    QTest::newRow("last second") << 1 << hms(8, 0, 59) << 60 << 0;
    QTest::newRow("start + duration") << 1 << hms(8, 1, 0) << 60 << -1;
    QTest::newRow("duration -1") << 1 << hms(8, 0, 0) << -1 << -1;
    // Camera 12's recording ends at its own last picture, 08:01:30, not a duration after its start.
    QTest::newRow("own end, inside") << 12 << hms(8, 1, 20) << 60 << 1;
    QTest::newRow("own end, after") << 12 << hms(8, 1, 30) << 60 << -1;
}

void TestWidgetPlayerParts::alarm_bounds()
{
    QFETCH(int, camera);
    QFETCH(qint64, time);
    QFETCH(int, duration);
    QFETCH(int, index);
    const QVector<Entry> list{entry(1, 8, 0, 0), entry(12, 8, 0, 30)};
    auto end_of = [&](int i) { return i == 1 ? hms(8, 1, 30) : list[i].start_ms + duration * 1000LL; };
    QCOMPARE(DayMedia::entry_for_alarm(list, camera, QStringLiteral("20240501"), time, end_of), index);
}

void TestWidgetPlayerParts::hour_of_time_data()
{
    QTest::addColumn<QString>("time");
    QTest::addColumn<int>("hour");
    QTest::newRow("23:45") << "23:45:00" << 23;
    QTest::newRow("midnight") << "00:00:00" << 0;
    QTest::newRow("with milliseconds") << "07:59:59:999" << 7;
    QTest::newRow("garbage") << "7h" << -1;
    QTest::newRow("25h") << "25:00:00" << -1;
}

void TestWidgetPlayerParts::hour_of_time()
{
    QFETCH(QString, time);
    QFETCH(int, hour);
    QCOMPARE(DayMedia::hour_of_time_text(time), hour);
}

void TestWidgetPlayerParts::minutes_estimate()
{
    // A last frame 40 s after the start gives one minute; 3.5 minutes gives 3.5.
    QCOMPARE(DayMedia::minutes_from_last_frame(hms(8, 0, 0), hms(8, 0, 40)), 1.0);
    QCOMPARE(DayMedia::minutes_from_last_frame(hms(8, 0, 0), hms(8, 3, 30)), 3.5);
    QCOMPARE(DayMedia::minutes_from_last_frame(hms(8, 0, 0), hms(8, 30, 0)), -1.0);
    QCOMPARE(DayMedia::minutes_from_last_frame(hms(8, 0, 0), hms(7, 0, 0)), -1.0);
}

void TestWidgetPlayerParts::recording_ends_data()
{
    QTest::addColumn<QVector<qint64>>("starts");
    QTest::addColumn<QVector<qint64>>("lasts"); // last picture of each, -1: none read
    QTest::addColumn<double>("minutes_in");
    QTest::addColumn<QVector<qint64>>("ends");
    QTest::addColumn<double>("minutes_out");
    const qint64 frame = 200; // one picture every 200 ms
    QTest::newRow("each to its own last picture, a pause between")
        << QVector<qint64>{hms(10, 0, 0), hms(10, 1, 0), hms(10, 8, 0)}
        << QVector<qint64>{hms(10, 1, 0) - frame, hms(10, 2, 0) - frame, hms(10, 9, 0) - frame} << -1.0
        << QVector<qint64>{hms(10, 1, 0) - frame + 1, hms(10, 2, 0) - frame + 1, hms(10, 9, 0) - frame + 1}
        << 1.0; // the 10:00 recording's last picture comes first: the 7-minute gap is larger
    QTest::newRow("longer than its gap: up to the next start")
        << QVector<qint64>{hms(10, 0, 0), hms(10, 1, 0)} << QVector<qint64>{hms(10, 3, 0), hms(10, 1, 30)} << -1.0
        << QVector<qint64>{hms(10, 1, 0), hms(10, 1, 30) + 1} << 3.0;
    // Without a last picture, a recording gets the estimate: the gaps in
    // order, 5 and then 3 minutes, the smaller kept.
    QTest::newRow("estimate for the unread, only shrinking")
        << QVector<qint64>{hms(10, 0, 0), hms(10, 5, 0), hms(10, 8, 0), hms(10, 18, 0)}
        << QVector<qint64>{-1, -1, -1, -1} << -1.0
        << QVector<qint64>{hms(10, 3, 0), hms(10, 8, 0), hms(10, 11, 0), hms(10, 21, 0)} << 3.0;
    QTest::newRow("one minute apart: the last picture tells")
        << QVector<qint64>{hms(10, 0, 0), hms(10, 1, 0)} << QVector<qint64>{hms(10, 0, 40), -1} << -1.0
        << QVector<qint64>{hms(10, 0, 40) + 1, hms(10, 2, 0)} << 1.0;
    QTest::newRow("an estimate carried in") << QVector<qint64>{hms(10, 0, 0)} << QVector<qint64>{-1} << 2.5
                                            << QVector<qint64>{hms(10, 2, 30)} << 2.5;
    // A single picture stamped at the start second is the recording's last picture: its own
    // minute only, not the estimate of three.
    QTest::newRow("a single picture at the start second")
        << QVector<qint64>{hms(10, 0, 0), hms(10, 3, 0)} << QVector<qint64>{hms(10, 0, 0), -1} << -1.0
        << QVector<qint64>{hms(10, 0, 0) + 1, hms(10, 6, 0)} << 3.0;
    QTest::newRow("last picture before the start") << QVector<qint64>{hms(10, 0, 0)}
                                                   << QVector<qint64>{hms(9, 0, 0)} << -1.0 << QVector<qint64>{-1}
                                                   << -1.0;
    QTest::newRow("not past midnight") << QVector<qint64>{hms(23, 58, 0)} << QVector<qint64>{-1} << 5.0
                                       << QVector<qint64>{hms(24, 0, 0)} << 5.0;
    QTest::newRow("none") << QVector<qint64>{} << QVector<qint64>{} << -1.0 << QVector<qint64>{} << -1.0;
}

void TestWidgetPlayerParts::recording_ends()
{
    QFETCH(QVector<qint64>, starts);
    QFETCH(QVector<qint64>, lasts);
    QFETCH(double, minutes_in);
    QFETCH(QVector<qint64>, ends);
    QFETCH(double, minutes_out);
    double minutes = minutes_in;
    QCOMPARE(DayMedia::recording_ends(starts, lasts, &minutes), ends);
    QCOMPARE(minutes, minutes_out);
}

void TestWidgetPlayerParts::seek_last_line_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("write");
    QTest::addColumn<QString>("timestamp");
    QTest::addColumn<QStringList>("streams");
    const QByteArray a = "20240501080000000:video1:frame/264:size 64x48:1:100\n";
    const QByteArray b = "20240501080059960:video1:frame/264:size 64x48:0:40\n";
    QTest::newRow("LF") << a + b << true << "20240501080059960" << QStringList{"video1"};
    QByteArray crlf = a + b;
    crlf.replace("\n", "\r\n");
    QTest::newRow("CR LF") << crlf << true << "20240501080059960" << QStringList{"video1"};
    QTest::newRow("600-byte last line") << a + "20240501080059960:video1:" + QByteArray(575, 'x') + "\n" << true
                                        << "20240501080000000" << QStringList{"video1"};
    QTest::newRow("two streams") << a + "20240501080000000:video2:frame/264:size 32x24:1:50\n" << true
                                 << "20240501080000000" << QStringList{"video1", "video2"};
    QTest::newRow("unfinished last line is garbage") << a + "2024050108" << true << "20240501080000000"
                                                     << QStringList{"video1"};
    // Read as a head and a tail: within the head, and past it (a stream named only near the end).
    QTest::newRow("between tail and head size") << a.repeated(200) + b << true << "20240501080059960"
                                                << QStringList{"video1"};
    QTest::newRow("past the head") << a.repeated(800) + "20240501080059000:video3:frame/264:size 64x48:1:9\n" + b
                                   << true << "20240501080059960" << QStringList{"video1", "video3"};
    QTest::newRow("empty") << QByteArray() << true << QString() << QStringList{};
    QTest::newRow("missing") << QByteArray() << false << QString() << QStringList{};
    QTest::newRow("garbage") << QByteArray(3000, '\xff') << true << QString() << QStringList{};
}

void TestWidgetPlayerParts::seek_last_line()
{
    QFETCH(QByteArray, bytes);
    QFETCH(bool, write);
    QFETCH(QString, timestamp);
    QFETCH(QStringList, streams);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("1_20240501_080000.zqseek"));
    if (write)
        QVERIFY(write_file(path, bytes));
    QStringList found;
    const DayMedia::LastLine last = DayMedia::seek_last_line(path, &found);
    QCOMPARE(last.found, !timestamp.isEmpty());
    QCOMPARE(last.timestamp, timestamp);
    QCOMPARE(found, streams);
}

void TestWidgetPlayerParts::filler_marks_camera_minutes()
{
    // Camera 1 at 08:00 and 08:59 (one-minute files by their last frame),
    // camera 12 at 10:00: only camera 1's minutes are marked, on the right rows.
    QTemporaryDir dir;
    QFileInfoList video;
    for (const QString& base : {QStringLiteral("1_20240501_080000"), QStringLiteral("1_20240501_085900"),
                                QStringLiteral("12_20240501_100000"), QStringLiteral("1_garbage")}) {
        const QString stamp = QStringLiteral("20240501") + base.right(6);
        QVERIFY(write_file(dir.filePath(base + ".zqvideo"), "x"));
        QVERIFY(write_file(dir.filePath(base + ".zqseek"),
                           (stamp + "000:video1:frame/264:s:1:1\n" + stamp.left(12) + "40000:video1:f:s:0:1\n")
                               .toLatin1()));
        video.append(QFileInfo(dir.filePath(base + ".zqvideo")));
    }
    const auto fill = ZQTimelinethread::compute(1, video, {}, nullptr);
    QVERIFY(fill);
    QCOMPARE(fill->minutes_per_file, 1.0);
    QCOMPARE(fill->rows[8][0], quint8(1));
    QCOMPARE(fill->rows[8][59], quint8(1));
    QCOMPARE(fill->rows[8][1], quint8(0));
    QCOMPARE(fill->rows[10][0], quint8(0));
    QCOMPARE(fill->day[8 * 60 + 59], quint8(1));
    QCOMPARE(fill->stream_ids, QStringList{"video1"});
    // Cancelled before the start: no result.
    std::atomic<bool> cancel{true};
    QVERIFY(!ZQTimelinethread::compute(1, video, {}, &cancel));
    // Camera -1 takes the first camera met.
    QCOMPARE(ZQTimelinethread::compute(-1, video, {}, nullptr)->camera, 1);
}

void TestWidgetPlayerParts::filler_reports_unreadable_seek_index_data()
{
    QTest::addColumn<QString>("damage");
    QTest::addColumn<QStringList>("warnings");
    const QString prefix = QStringLiteral("[WARN] ZQTimelinethread :: seek last frame :: ");
    // The seek index is gone, or a folder stands in its place: it cannot be opened.
    QTest::newRow("missing") << "missing" << QStringList{prefix + "Error Opening Seek File <seek>"};
    QTest::newRow("folder") << "folder" << QStringList{prefix + "Error Opening Seek File <seek>"};
    // A pipe is not opened at all: opening it would wait for a writer for good.
    QTest::newRow("pipe") << "pipe" << QStringList{prefix + "Error Opening Seek File <seek>"};
    // It is there but empty: a recording whose index is not written yet.
    QTest::newRow("empty") << "empty"
                           << QStringList{prefix + "read return value  :: 0", prefix + "buffer check       :: 1",
                                          prefix + "return empty frame"};
}

void TestWidgetPlayerParts::filler_reports_unreadable_seek_index()
{
    // Two generated one-minute recordings of camera 1 at 08:00 and 08:01 (one
    // minute apart, so a last frame gives the minutes a recording covers).
    // The first one's seek index cannot be read: the filler says why, and
    // takes the estimate from the second one.
    QFETCH(QString, damage);
    QFETCH(QStringList, warnings);
    QTemporaryDir dir;
    ZQFixture::Options o;
    o.output_parent = dir.path();
    o.recordings_per_camera = 2;
    o.size = QSize(64, 48);
    o.fps = 5;
    o.gop = 5;
    const ZQFixture::Result written = ZQFixture::write(o);
    QVERIFY2(written.ok, qPrintable(written.error));
    QCOMPARE(written.files.size(), 2);
    const QString seek = written.files[0].seek_path;
    if (damage == QLatin1String("empty")) {
        QFile f(seek);
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    } else {
        QVERIFY(QFile::remove(seek));
        if (damage == QLatin1String("folder"))
            QVERIFY(QDir().mkdir(seek));
        if (damage == QLatin1String("pipe"))
            QCOMPARE(mkfifo(QFile::encodeName(seek).constData(), 0600), 0);
    }
    for (QString& w : warnings)
        w.replace(QStringLiteral("<seek>"), seek);
    QFileInfoList video;
    for (const ZQFixture::WrittenFile& f : written.files)
        video.append(QFileInfo(f.data_path));

    LogCapture log;
    ZQTimelinethread filler(1, video, {});
    QSharedPointer<TimelineFill> fill;
    connect(&filler, &ZQTimelinethread::filled, this, [&](QSharedPointer<TimelineFill> r) { fill = r; },
            Qt::DirectConnection);
    filler.start();
    QVERIFY(filler.wait(60000));
    QStringList reported;
    for (QString line : log.lines()) {
        if (!line.contains(QLatin1String("ZQTimelinethread :: seek last frame")))
            continue;
        if (line.startsWith(QLatin1Char('"')) && line.endsWith(QLatin1Char('"'))) // the log quotes its texts
            line = line.mid(1, line.size() - 2);
        reported << line;
    }
    QCOMPARE(reported, warnings);
    QVERIFY(fill);
    QCOMPARE(fill->minutes_per_file, 1.0);
    QCOMPARE(fill->rows[8][0], quint8(1));
    QCOMPARE(fill->rows[8][1], quint8(1));
}

void TestWidgetPlayerParts::day_ends_read_what_a_question_needs_data()
{
    QTest::addColumn<int>("camera");
    QTest::addColumn<QTime>("start");
    QTest::addColumn<qint64>("end");
    QTest::addColumn<int>("reads"); // seek indexes read to answer
    const qint64 last = hms(0, 0, 59) + 800; // after its start
    // Its own last picture, whatever the camera's other recordings are: one index read.
    QTest::newRow("camera 1, 10:04") << 1 << QTime(10, 4, 0) << hms(10, 4, 0) + last + 1 << 1;
    QTest::newRow("camera 2, 10:00") << 2 << QTime(10, 0, 0) << hms(10, 0, 0) + last + 1 << 1;
    // No last picture: the camera's estimate, from its first recording's last
    // picture (one minute), up to the next recording.
    QTest::newRow("camera 3, empty index") << 3 << QTime(10, 1, 0) << hms(10, 2, 0) << 2;
}

void TestWidgetPlayerParts::day_ends_read_what_a_question_needs()
{
    // The lists and look-ups of a camera the rows do not show read only the
    // seek indexes their rows need, on the GUI thread; the next question
    // about the same recording reads nothing.
    QFETCH(int, camera);
    QFETCH(QTime, start);
    QFETCH(qint64, end);
    QFETCH(int, reads);
    QTemporaryDir dir;
    const QFileInfoList video = three_patterns(dir.path());
    QCOMPARE(video.size(), 7);
    const QVector<Entry> day = DayMedia::entries_of(video);
    DayEnds ends;
    ends.reset(day);
    const auto asked = std::find_if(day.cbegin(), day.cend(), [&](const Entry& e) {
        return e.camera == camera && e.start_ms == start.msecsSinceStartOfDay();
    });
    QVERIFY(asked != day.cend());
    QCOMPARE(ends.end_of(*asked, 60), end);
    QCOMPARE(ends.reads(), reads);
    QCOMPARE(ends.end_of(*asked, 60), end);
    QCOMPARE(ends.reads(), reads);
}

void TestWidgetPlayerParts::day_ends_agree_with_the_filler()
{
    // For every camera, the look-ups bound each recording where the filler
    // marks it, and once the filler's last pictures are handed over they
    // read no index again.
    QTemporaryDir dir;
    const QFileInfoList video = three_patterns(dir.path());
    QCOMPARE(video.size(), 7);
    const QVector<Entry> day = DayMedia::entries_of(video);
    for (int camera : {1, 2, 3}) {
        const auto fill = ZQTimelinethread::compute(camera, video, {}, nullptr);
        QVERIFY(fill);
        DayEnds read_here;
        read_here.reset(day);
        DayEnds handed;
        handed.reset(day);
        handed.add_last_pictures(fill->lasts);
        std::array<quint8, 1440> marked{};
        for (const Entry& e : day) {
            if (e.camera != camera)
                continue;
            const qint64 end = read_here.end_of(e, 60);
            QCOMPARE(handed.end_of(e, 60), end);
            for (qint64 m = e.start_ms / 60000; m <= (end - 1) / 60000; ++m)
                marked[m] = 1;
        }
        QCOMPARE(handed.reads(), 0);
        QVERIFY2(marked == fill->day, qPrintable(QString::number(camera)));
    }
}

void TestWidgetPlayerParts::row_tags_data()
{
    QTest::addColumn<QString>("datetime");
    QTest::addColumn<int>("hour");
    QTest::newRow("05:59:59") << "20240501055959" << 5;
    QTest::newRow("06:00:00") << "20240501060000" << 6;
    QTest::newRow("23:30") << "20240501233000" << 23;
    QTest::newRow("garbage") << "2024050123300x" << -1;
}

void TestWidgetPlayerParts::row_tags()
{
    QFETCH(QString, datetime);
    QFETCH(int, hour);
    QObject owner;
    const QList<ZQTag*> tags{make_tag(QStringLiteral("1"), datetime, &owner),
                             make_tag(QStringLiteral("12"), datetime, &owner), nullptr};
    for (int h = 0; h < 24; ++h) {
        ZQTimeline row(QStringLiteral("%1:00:00 - %2:00:00").arg(h, 2, 10, QLatin1Char('0')).arg((h + 1) % 24, 2, 10,
                                                                                                 QLatin1Char('0')));
        row.insert_tags(tags, 1);
        QCOMPARE(row.tags().size(), h == hour ? 1 : 0);
    }
    ZQSlidertimeline slider;
    slider.check_and_add_tags(tags, 1);
    QCOMPARE(slider.tags().size(), hour >= 0 ? 1 : 0);
}

void TestWidgetPlayerParts::row_click_maps_and_clamps()
{
    ZQTimeline row(QStringLiteral("10:00:00 - 11:00:00"));
    QLabel label(QStringLiteral("10:00:00 - 11:00:00"));
    row.set_label(&label);
    row.set_camera_id(3);
    row.resize(600, 25);
    QSignalSpy clicked(&row, &ZQTimeline::clicked);
    QTest::mouseClick(&row, Qt::LeftButton, {}, QPoint(300, 12));
    QTest::mouseClick(&row, Qt::RightButton, {}, QPoint(300, 12));
    QCOMPARE(clicked.size(), 1);
    QCOMPARE(clicked[0][0].toString(), QStringLiteral("10:30:00"));
    QCOMPARE(clicked[0][1].toInt(), 3);
    // Beyond the right edge: the hour's last second, never the next hour.
    QCOMPARE(row.time_at(900, 600), QTime(10, 59, 54));
    QCOMPARE(row.time_at(-5, 600), QTime(10, 0, 0));
    row.add_minutes(58, 5);
    QVERIFY(row.minute(58) && row.minute(59) && !row.minute(57));
    // A row narrower than 60 px still paints each minute at least 1 px wide.
    QCOMPARE(ZQTimeline::minute_width(30), 1);
}

void TestWidgetPlayerParts::slider_values_and_press()
{
    QCOMPARE(ZQSlidertimeline::time_text_of_value(0), QStringLiteral("00:00:00"));
    QCOMPARE(ZQSlidertimeline::time_text_of_value(75), QStringLiteral("01:15:00"));
    QCOMPARE(ZQSlidertimeline::time_text_of_value(1439), QStringLiteral("23:59:00"));
    ZQSlidertimeline slider;
    QCOMPARE(slider.maximum(), 1439);
    slider.setValue(0, QString());
    QCOMPARE(slider.value(), 0);
    slider.setValue(0, QStringLiteral("20240501101530123"));
    QCOMPARE(slider.value(), 615);
    QCOMPARE(slider.current_time_text(), QStringLiteral("10:15:00"));
    // One mapping for paint and press, on a groove 1464 px wide.
    const QRect groove(0, 0, 1464, 10);
    QCOMPARE(ZQSlidertimeline::minute_width(groove), 2);
    QCOMPARE(ZQSlidertimeline::minute_x(720, groove), 12 + 720);
    for (int m : {0, 1, 719, 720, 1439})
        QCOMPARE(ZQSlidertimeline::minute_at(ZQSlidertimeline::minute_x(m, groove), groove), m);
    QCOMPARE(ZQSlidertimeline::minute_at(-100, groove), 0);
    QCOMPARE(ZQSlidertimeline::minute_at(5000, groove), 1439);
    // A press jumps the handle to the minute under the pointer.
    slider.resize(1488, 30);
    const QRect g = slider.groove_rect();
    QTest::mousePress(&slider, Qt::LeftButton, {}, QPoint(ZQSlidertimeline::minute_x(600, g), 15));
    QCOMPARE(slider.value(), 600);
    QTest::mouseRelease(&slider, Qt::LeftButton, {}, QPoint(ZQSlidertimeline::minute_x(600, g), 15));
}

void TestWidgetPlayerParts::delegate_hit_data()
{
    QTest::addColumn<QPoint>("press");
    QTest::addColumn<bool>("corner");
    QTest::newRow("inside the square") << QPoint(190, 12) << true;
    QTest::newRow("left edge of the square") << QPoint(175, 12) << false;
    QTest::newRow("top edge") << QPoint(190, 10) << false;
    QTest::newRow("below the square") << QPoint(190, 35) << false;
    QTest::newRow("elsewhere") << QPoint(20, 50) << false;
}

void TestWidgetPlayerParts::delegate_hit()
{
    QFETCH(QPoint, press);
    QFETCH(bool, corner);
    const QRect item(0, 10, 200, 100);
    QCOMPARE(delegate_corner_hit(item, press), corner);
    // The delegate turns it into exactly one of its two signals.
    AlarmItemDelegate delegate;
    QSignalSpy download(&delegate, &AlarmItemDelegate::cellDownloadButtonClicked);
    QSignalSpy click(&delegate, &AlarmItemDelegate::cellButtonClicked);
    QStyleOptionViewItem option;
    option.rect = item;
    QMouseEvent event(QEvent::MouseButtonPress, QPointF(press), QPointF(press), Qt::LeftButton, Qt::LeftButton,
                      Qt::NoModifier);
    AlarmModel model({Vignette()});
    delegate.editorEvent(&event, &model, option, model.index(0, 0));
    QCOMPARE(download.size(), corner ? 1 : 0);
    QCOMPARE(click.size(), corner ? 0 : 1);
}

void TestWidgetPlayerParts::alarm_model_texts()
{
    QTemporaryDir dir;
    const QString broken = dir.filePath(QStringLiteral("12_845_20240501_101530-thumb.jpg"));
    QVERIFY(write_file(broken, "not a jpeg"));
    AlarmModel model({Vignette(QStringLiteral("12_845_20240501_101530.jpg"), broken, QString(), QString(), QString(),
                               QString()),
                      Vignette(QStringLiteral("x.jpg"), QString(), QString(), QString(), QString(), QString())});
    QCOMPARE(model.data(model.index(0, 0)).toString(), QStringLiteral("2024-05-01 10:15:30"));
    QCOMPARE(model.data(model.index(1, 0)).toString(), QString());
    QCOMPARE(model.data(model.index(0, 0), Qt::BackgroundRole).toString(), broken);
    QVERIFY(!model.data(model.index(2, 0)).isValid());
    // A broken picture decodes to nothing, once.
    QVERIFY(model.data(model.index(0, 0), AlarmModel::PictureRole).value<QImage>().isNull());
    TagsModel tags({Vignette(QStringLiteral("1_20240501_101530.zqtag"), QString(), QFileInfo(), QStringLiteral("c"),
                             QStringLiteral("20240501101530"), QStringLiteral("name"), QStringLiteral("desc"),
                             QString(), QString())});
    QCOMPARE(tags.data(tags.index(0, 0)).toStringList(),
             (QStringList{"2024-05-01 10:15:30", "name", "desc"}));
}

void TestWidgetPlayerParts::file_model_texts_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("short_text");
    QTest::addColumn<QString>("long_text");
    QTest::addColumn<bool>("coloured");
    QTest::newRow("recording") << "12_20240501_101530.zqvideo" << "10:15:30" << "2024-05-01 10:15:30" << false;
    QTest::newRow("two parts") << "12_20240501.zqvideo" << "12_20240501.zqvideo" << "12_20240501.zqvideo" << false;
    QTest::newRow("bad time") << "12_20240501_106030.zqvideo" << "12_20240501_106030.zqvideo"
                              << "12_20240501_106030.zqvideo" << false;
    QTest::newRow("day folder") << "2024-05-01" << "2024-05-01" << "2024-05-01" << true;
    QTest::newRow("root folder") << "zqcore_0a1b-2c3d-4e5f-6789" << "zqcore_0a1b-2c3d-4e5f-6789"
                                 << "zqcore_0a1b-2c3d-4e5f-6789" << false;
}

void TestWidgetPlayerParts::file_model_texts()
{
    QFETCH(QString, name);
    QFETCH(QString, short_text);
    QFETCH(QString, long_text);
    QFETCH(bool, coloured);
    QCOMPARE(ZQVideoFileSystemModel::recording_text(name, false), short_text);
    QCOMPARE(ZQVideoFileSystemModel::recording_text(name, true), long_text);
    QCOMPARE(ZQVideoFileSystemModel::is_coloured_name(name), coloured);
}

void TestWidgetPlayerParts::duplicate_rows_hidden()
{
    // Directly under a day folder, two entries shown with the same text are
    // both hidden; the model shows the day folder on a magenta bar with a
    // name that reads on it.
    QTemporaryDir dir;
    const QString day = dir.filePath(QStringLiteral("2024-05-01"));
    QVERIFY(QDir().mkpath(day + "/080000"));
    QVERIFY(write_file(day + "/1_20240501_080000.zqvideo", "x"));
    QVERIFY(write_file(day + "/2_20240501_080000.zqvideo", "x"));
    QVERIFY(write_file(day + "/3_20240501_090000.zqvideo", "x"));
    ZQVideoFileSystemModel files(nullptr);
    files.setNameFilters({QStringLiteral("*.zqvideo")});
    files.setNameFilterDisables(false);
    QSignalSpy loaded(&files, &QFileSystemModel::directoryLoaded);
    files.setRootPath(dir.path());
    const QModelIndex day_index = files.index(day);
    files.fetchMore(day_index);
    QTRY_COMPARE(files.rowCount(day_index), 4);
    QCOMPARE(files.data(day_index, Qt::BackgroundRole).value<QColor>(), QColor(Qt::magenta));
    const QColor text = files.data(day_index, Qt::ForegroundRole).value<QColor>();
    QVERIFY2(contrast_ratio(text, QColor(Qt::magenta)) >= 4.5, qPrintable(text.name()));
    QVERIFY(files.setData(day_index, Qt::Checked, Qt::CheckStateRole));
    TreeProxyModel proxy;
    proxy.setSourceModel(&files);
    const QModelIndex proxy_day = proxy.mapFromSource(day_index);
    QStringList shown;
    for (int r = 0; r < proxy.rowCount(proxy_day); ++r)
        shown << proxy.index(r, 0, proxy_day).data().toString();
    shown.sort();
    QCOMPARE(shown, (QStringList{"080000", "09:00:00"}));
}

void TestWidgetPlayerParts::tab_bar_icons()
{
    ZQPlayer_TabWidget tabs;
    for (int i = 0; i < 5; ++i)
        tabs.addTab(new QWidget, QString());
    tabs.resize(300, 300);
    // Our four pictures are compiled in; a fifth tab has none and paints none.
    const QHash<int, QPixmap> icons = tabs.icon_bar()->icons();
    for (int i = 0; i < 4; ++i)
        QVERIFY2(!icons.value(i).isNull(), qPrintable(QString::number(i)));
    QVERIFY(icons.value(4).isNull());
    const QImage picture = tabs.grab().toImage();
    QVERIFY(!picture.isNull());
}

using CameraTable = QHash<int, QString>;

void TestWidgetPlayerParts::day_cameras_data()
{
    QTest::addColumn<CameraTable>("index");       // empty: no index.zqnfo
    QTest::addColumn<CameraTable>("per_camera");  // one "<id>_20240501_080000.zqnfo" each
    QTest::addColumn<bool>("garbage");            // an undecryptable index.zqnfo
    QTest::addColumn<CameraTable>("expected");
    QTest::addColumn<bool>("index_written");
    QTest::addColumn<bool>("older_asked");
    const CameraTable ab{{1, "A"}, {2, "B"}};
    QTest::newRow("index matching the per-camera files: read alone, kept")
        << ab << CameraTable{{1, "A2"}, {2, "B2"}} << false << ab << false << false;
    QTest::newRow("per-camera files only: merged, index written")
        << CameraTable{} << ab << false << ab << true << false;
    QTest::newRow("index short of a camera: merged, index rewritten")
        << CameraTable{{1, "A"}} << ab << false << ab << true << false;
    QTest::newRow("index alone: kept as it is") << ab << CameraTable{} << false << ab << false << false;
    QTest::newRow("garbage: nothing, older form asked")
        << CameraTable{} << CameraTable{} << true << CameraTable{} << false << true;
}

void TestWidgetPlayerParts::day_cameras()
{
    QFETCH(CameraTable, index);
    QFETCH(CameraTable, per_camera);
    QFETCH(bool, garbage);
    QFETCH(CameraTable, expected);
    QFETCH(bool, index_written);
    QFETCH(bool, older_asked);
    QTemporaryDir dir;
    const QString index_path = dir.filePath(QStringLiteral("index.zqnfo"));
    if (!index.isEmpty())
        QVERIFY(ZQFile::create_zqnfo_index_file(QFileInfo(index_path), index));
    if (garbage)
        QVERIFY(write_file(index_path, QByteArray(100, '\x5a')));
    for (auto it = per_camera.cbegin(); it != per_camera.cend(); ++it) {
        const QJsonObject o{{"cam_id", it.key()}, {"cam_name", it.value()}};
        QCOMPARE(Encrypt::encrypt_to_file(QJsonDocument(o).toJson(QJsonDocument::Compact),
                                          dir.filePath(QStringLiteral("%1_20240501_080000.zqnfo").arg(it.key()))),
                 1);
    }
    QFile before(index_path);
    const QByteArray old_bytes = before.open(QIODevice::ReadOnly) ? before.readAll() : QByteArray();
    before.close();
    bool asked = false;
    const CameraTable table = ZQ_Player_presentation::read_day_cameras(dir.path(), [&] {
        asked = true;
        return QFileInfoList();
    });
    QCOMPARE(table, expected);
    QCOMPARE(asked, older_asked);
    QFile after(index_path);
    const QByteArray new_bytes = after.open(QIODevice::ReadOnly) ? after.readAll() : QByteArray();
    QCOMPARE(new_bytes != old_bytes, index_written);
    if (index_written)
        QCOMPARE(ZQFile::check_and_parse_nfo_file(QFileInfo(index_path), {}), expected);
}

QTEST_MAIN(TestWidgetPlayerParts)
#include "test_widgetplayer_parts.moc"
