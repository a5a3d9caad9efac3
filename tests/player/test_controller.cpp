// The QML player controller on a generated storage folder: days, cameras, the
// index decision, the list forms, seeks and the recording lookup, playback
// states and file changes, with the real playback reader.

#include "player/zq_player_controller_ui.h"
#include "player/zq_player_inferface_controller.h"
#include "tests/player/open_day.h"
#include "tests/playback/reader_clock.h"
#include "tests/recordings/log_capture.h"
#include "playback/zq_stream_read_and_control.h"
#include "recordings/day_index_file.h"
#include "recordings/encrypt.h"
#include "recordings/seek_index.h"
#include "recordings/zq_file.h"
#include "recordings/zq_index_manager.h"
#include "tools/zqfixture/lib/fixture_pattern.h"
#include "tools/zqfixture/lib/fixture_writer.h"
#include "view/canvas.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QUrl>

#include <functional>

namespace {

struct RecordingUi : ZQPlayerControllerUi
{
    QStringList warnings;
    QStringList alarms;     // image path | camera
    QStringList snapshots;  // names
    // Run while a warning box is up (a modal box runs its own event loop).
    std::function<void()> while_warning;
    void warning(const QString& title, const QString& text) override
    {
        warnings << title + QLatin1Char('|') + text;
        if (while_warning)
            while_warning();
    }
    void open_alarm_viewer(const QString& path, const QString& camera) override
    {
        alarms << path + QLatin1Char('|') + camera;
    }
    void open_snapshot_viewer(const QImage&, const QString& name) override { snapshots << name; }
};

constexpr qint64 ms_of(int h, int m, int s)
{
    return (qint64(h) * 3600 + m * 60 + s) * 1000;
}

void write_tag(const QString& path, const QJsonObject& obj)
{
    QVERIFY(Encrypt::encrypt_to_file(QJsonDocument(obj).toJson(QJsonDocument::Compact), path) == 1);
}

void write_file(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

} // namespace

class TestController : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_tmp;
    QString m_root;
    QString m_day1;
    QString m_day2;

    // A controller on the fixture with day 1 loaded (index built) and the
    // camera chosen. The lists come from a current index.
    std::unique_ptr<ZQPlayerInferfaceController> make(RecordingUi** ui_out = nullptr,
                                                      const QString& camera = QStringLiteral("Entrée"))
    {
        auto c = std::make_unique<ZQPlayerInferfaceController>();
        auto ui = std::make_unique<RecordingUi>();
        if (ui_out)
            *ui_out = ui.get();
        c->set_ui(std::move(ui));
        c->get_available_days(m_root);
        c->set_selected_date(QStringLiteral("2024-01-01"));
        load_day(c.get(), QStringLiteral("2024-01-01"));
        if (!camera.isEmpty())
            c->set_selected_camera(camera);
        return c;
    }

    // A storage folder of its own under parent: one camera on 2024-01-01,
    // `recordings` recordings of `seconds` back to back from 09:00:00.
    static ZQFixture::Result write_small(const QString& parent, int camera, int recordings, int seconds)
    {
        ZQFixture::Options o;
        o.output_parent = parent;
        o.cameras = {camera};
        o.start_time = QTime(9, 0, 0);
        o.recordings_per_camera = recordings;
        o.seconds_per_recording = seconds;
        o.size = QSize(64, 48);
        o.fps = 5;
        o.gop = 5;
        return ZQFixture::write(o);
    }

    static QStringList load_day(ZQPlayerInferfaceController* c, const QString& date)
    {
        return zqtest::open_day(*c, date);
    }

    // The controller on the storage folder `root`: its day 2024-01-01 holds the one camera
    // `camera`, which is chosen.
    static bool open_camera(ZQPlayerInferfaceController& c, const QString& root, const QString& camera)
    {
        c.set_ui(std::make_unique<RecordingUi>());
        c.get_available_days(root);
        if (load_day(&c, QStringLiteral("2024-01-01")) != QStringList{camera})
            return false;
        c.set_selected_camera(camera);
        return true;
    }

    // Camera 3's one-minute recordings from 09:00 on, `recordings` of them; the seek index of
    // 09:05 holds only lines that are not seek lines (the video file is intact).
    static ZQFixture::Result write_day_unreadable_at_0905(const QString& parent, int recordings)
    {
        ZQFixture::Result r = write_small(parent, 3, recordings, 60);
        if (r.ok) {
            QFile seek(QDir(r.root_path).filePath(QStringLiteral("2024-01-01/090500/3_20240101_090500.zqseek")));
            r.ok = seek.open(QIODevice::WriteOnly | QIODevice::Truncate)
                   && seek.write("# seek index\nthis line is not a seek line\n") > 0;
        }
        return r;
    }

    // The time of day shown by the first picture the reader emitted since
    // the last reset (-1 none, -2 not one of the fixture's pictures).
    qint64 m_first_picture_ms = -1;
    int m_pictures = 0;
    void watch_pictures(ZQPlayerInferfaceController* c)
    {
        m_first_picture_ms = -1;
        m_pictures = 0;
        connect(c->reader(), &ZQStreamReadAndControl::set_display_frame, this,
                [this](QImage image, auto&&...) {
                    if (m_pictures++ > 0)
                        return;
                    const ZQFixture::PatternValue v = ZQFixture::read_pattern(image);
                    m_first_picture_ms = v.valid ? v.time_ms() : -2;
                });
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_tmp.isValid());
        // Two days, two cameras; three one-minute recordings from 10:15:00
        // with one minute between them (a gap at 10:16 and 10:18).
        ZQFixture::Options o;
        o.output_parent = m_tmp.path();
        o.dates = {QDate(2024, 1, 1), QDate(2024, 1, 2)};
        o.cameras = {1, 2};
        o.start_time = QTime(10, 15, 0);
        o.recordings_per_camera = 3;
        o.seconds_per_recording = 60;
        o.gap_seconds = 60;
        o.size = QSize(64, 48);
        o.fps = 5;
        o.gop = 5;
        ZQFixture::Result r = ZQFixture::write(o);
        QVERIFY2(r.ok, qPrintable(r.error));
        m_root = r.root_path;
        m_day1 = QDir(m_root).filePath(QStringLiteral("2024-01-01"));
        m_day2 = QDir(m_root).filePath(QStringLiteral("2024-01-02"));

        // The last half minute of day 1 for camera 1.
        ZQFixture::Options late = o;
        late.dates = {QDate(2024, 1, 1)};
        late.cameras = {1};
        late.start_time = QTime(23, 59, 30);
        late.recordings_per_camera = 1;
        late.seconds_per_recording = 30;
        r = ZQFixture::write(late);
        QVERIFY2(r.ok, qPrintable(r.error));

        // Camera information: camera 1 is named, camera 2 is not.
        QVERIFY(ZQFile::create_zqnfo_index_file(QFileInfo(QDir(m_day1).filePath(QStringLiteral("index.zqnfo"))),
                                                {{1, QStringLiteral("Entrée")}}));
        QVERIFY(ZQFile::create_zqnfo_index_file(QFileInfo(QDir(m_day2).filePath(QStringLiteral("index.zqnfo"))),
                                                {{1, QStringLiteral("Entrée")}}));

        // Alarms of day 1: a picture with its thumbnail, a thumbnail alone,
        // another camera's, and one of another day misplaced in this folder.
        const QString t1015 = QDir(m_day1).filePath(QStringLiteral("101500"));
        write_file(QDir(t1015).filePath(QStringLiteral("1_12_20240101_101530.jpg")), "jpg");
        write_file(QDir(t1015).filePath(QStringLiteral("1_12_20240101_101530-thumb.jpg")), "jpg");
        write_file(QDir(t1015).filePath(QStringLiteral("1_13_20240101_101545-thumb.jpg")), "jpg");
        write_file(QDir(t1015).filePath(QStringLiteral("2_14_20240101_101520.jpg")), "jpg");
        write_file(QDir(t1015).filePath(QStringLiteral("1_15_20240102_101520.jpg")), "jpg");
        // Previews.
        write_file(QDir(t1015).filePath(QStringLiteral("1_20240101_101500_preview.jpg")), "jpg");
        write_file(QDir(t1015).filePath(QStringLiteral("1_20240101_101500_videopreview.jpg")), "jpg");
        write_file(QDir(t1015).filePath(QStringLiteral("2_20240101_101500_preview.jpg")), "jpg");
        // Tags: camera 1 of the day, camera 2, camera 1 of another day, a
        // corrupt file and one whose camera id is text.
        write_tag(QDir(t1015).filePath(QStringLiteral("a.zqtag")),
                  {{"tag_cam_id", 1}, {"tag_datetime", "20240101101540"}, {"tag_name", "Porte"}});
        write_tag(QDir(t1015).filePath(QStringLiteral("b.zqtag")),
                  {{"tag_cam_id", 2}, {"tag_datetime", "20240101101541"}, {"tag_name", "Autre"}});
        write_tag(QDir(t1015).filePath(QStringLiteral("c.zqtag")),
                  {{"tag_cam_id", 1}, {"tag_datetime", "20240102101540"}, {"tag_name", "Demain"}});
        write_tag(QDir(t1015).filePath(QStringLiteral("d.zqtag")),
                  {{"tag_cam_id", "1"}, {"tag_datetime", "20240101101542"}, {"tag_name", "Texte"}});
        write_file(QDir(t1015).filePath(QStringLiteral("e.zqtag")), QByteArray(48, '\x5a'));

        // Not days, inside the root.
        QVERIFY(QDir(m_root).mkpath(QStringLiteral("2024-02-30")));
        QVERIFY(QDir(m_root).mkpath(QStringLiteral("notes")));
    }

    // ---- Folder and days ----

    void days_data()
    {
        QTest::addColumn<QString>("input");
        QTest::addColumn<QStringList>("days");
        QTest::addColumn<bool>("warned");
        QTest::newRow("path") << QStringLiteral("ROOT") << QStringList{"2024-01-01", "2024-01-02"} << false;
        QTest::newRow("url") << QStringLiteral("URL") << QStringList{"2024-01-01", "2024-01-02"} << false;
        QTest::newRow("trailing slash") << QStringLiteral("ROOT/") << QStringList{"2024-01-01", "2024-01-02"} << false;
        QTest::newRow("day folder, not a root") << QStringLiteral("DAY") << QStringList{} << true;
        QTest::newRow("missing") << QStringLiteral("ROOT/nothing") << QStringList{} << true;
        QTest::newRow("empty") << QString() << QStringList{} << false;
    }
    void days()
    {
        QFETCH(QString, input);
        QFETCH(QStringList, days);
        QFETCH(bool, warned);
        input.replace(QStringLiteral("ROOT"), m_root);
        input.replace(QStringLiteral("URL"), QUrl::fromLocalFile(m_root).toString());
        input.replace(QStringLiteral("DAY"), m_day1);
        ZQPlayerInferfaceController c;
        auto ui = std::make_unique<RecordingUi>();
        RecordingUi* u = ui.get();
        c.set_ui(std::move(ui));
        QCOMPARE(c.get_available_days(input), days);
        QCOMPARE(c.selected_date(), days.isEmpty() ? QString() : days.last());
        QCOMPARE(!u->warnings.isEmpty(), warned);
        if (warned)
            QVERIFY(u->warnings.first().startsWith(QStringLiteral("Attention|Aucun enregistrement trouvé dans le dossier ")));
    }

    // A wrong folder chosen after a good one leaves nothing of the old one.
    void wrong_folder_clears_everything()
    {
        auto c = make();
        QVERIFY(!c->camera_day_video_list().isEmpty());
        c->set_zqstream_reader_read_timestamp(QString::number(ms_of(10, 15, 30)));
        QCOMPARE(c->state(), 1);
        c->get_available_days(m_day1);
        QCOMPARE(c->state(), 0);
        QVERIFY(c->current_file().isEmpty());
        QVERIFY(c->selected_date().isEmpty());
        QVERIFY(c->root_folder().isEmpty());
        QVERIFY(c->day_video_list().isEmpty());
        QVERIFY(c->get_cameras_for_date(QStringLiteral("2024-01-01")).isEmpty());
    }

    // A day that shows no camera (a missing or empty day folder, a folder without days) leaves
    // nothing of the day shown before: playback stops, the lists are empty, and dataChanged()
    // tells the views to reload them.
    void day_without_camera_clears_the_views_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("missing day") << QStringLiteral("2024-01-09");
        QTest::newRow("empty day folder") << QStringLiteral("empty");
        QTest::newRow("day folder without recordings") << QStringLiteral("no recordings");
        QTest::newRow("folder without days") << QStringLiteral("folder");
    }
    void day_without_camera_clears_the_views()
    {
        QFETCH(QString, how);
        QTemporaryDir tmp;
        const ZQFixture::Result r = write_small(tmp.path(), 1, 2, 2);
        QVERIFY2(r.ok, qPrintable(r.error));
        QVERIFY(QDir(r.root_path).mkpath(QStringLiteral("2024-01-05")));
        QVERIFY(QDir(r.root_path).mkpath(QStringLiteral("2024-01-06/090000")));
        ZQPlayerInferfaceController c;
        c.set_ui(std::make_unique<RecordingUi>());
        c.get_available_days(r.root_path);
        c.set_selected_date(QStringLiteral("2024-01-01"));
        QCOMPARE(zqtest::open_day(c, QStringLiteral("2024-01-01")), QStringList{"Camera 1"});
        c.set_selected_camera(QStringLiteral("Camera 1"));
        c.set_zqstream_reader_read_timestamp(QString::number(ms_of(9, 0, 1)));
        QCOMPARE(c.state(), 1);
        QSignalSpy changed(&c, &ZQPlayerInferfaceController::dataChanged);
        if (how == QLatin1String("folder")) {
            QVERIFY(c.get_available_days(tmp.path()).isEmpty());
        } else {
            const QString day = how == QLatin1String("empty")           ? QStringLiteral("2024-01-05")
                                : how == QLatin1String("no recordings") ? QStringLiteral("2024-01-06")
                                                                        : how;
            c.set_selected_date(day);
            QVERIFY(zqtest::open_day(c, day).isEmpty());
        }
        QVERIFY(!changed.isEmpty());
        QCOMPARE(c.state(), 0);
        QVERIFY(c.current_file().isEmpty());
        QVERIFY(c.day_timestamp_list().isEmpty());
        QVERIFY(c.day_tags_list_string().isEmpty());
        QVERIFY(c.day_alarm_list_string().isEmpty());
    }

    void is_zqcore_directory_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<bool>("root");
        QTest::newRow("lower") << "/x/zqcore_0a1b-2c3d-4e5f-6789" << true;
        QTest::newRow("upper") << "/x/ZQCORE_0A1B-2C3D-4E5F-6789" << true;
        QTest::newRow("slash") << "/x/zqcore_0a1b-2c3d-4e5f-6789/" << true;
        QTest::newRow("url") << "file:///x/zqcore_0a1b-2c3d-4e5f-6789" << true;
        QTest::newRow("day under root") << "/x/zqcore_0a1b-2c3d-4e5f-6789/2024-01-01" << false;
        QTest::newRow("short group") << "/x/zqcore_0a1b-2c3d-4e5f-678" << false;
        QTest::newRow("not hex") << "/x/zqcore_0a1b-2c3d-4e5f-678g" << false;
        QTest::newRow("suffix") << "/x/zqcore_0a1b-2c3d-4e5f-6789x" << false;
        QTest::newRow("empty") << "" << false;
    }
    void is_zqcore_directory()
    {
        QFETCH(QString, path);
        QFETCH(bool, root);
        ZQPlayerInferfaceController c;
        QCOMPARE(c.is_zqcore_directory(path), root);
    }

    // ---- Cameras ----

    void cameras_data()
    {
        QTest::addColumn<QString>("date");
        QTest::addColumn<QStringList>("cameras");
        QTest::newRow("named and unnamed, id order") << "2024-01-01" << QStringList{"Entrée", "Camera 2"};
        QTest::newRow("second day") << "2024-01-02" << QStringList{"Entrée", "Camera 2"};
        QTest::newRow("no such day") << "2024-01-09" << QStringList{};
        QTest::newRow("invalid date") << "2024-02-30" << QStringList{};
        QTest::newRow("path in the date") << "../2024-01-01" << QStringList{};
        QTest::newRow("not a date") << "notes" << QStringList{};
    }
    void cameras()
    {
        QFETCH(QString, date);
        QFETCH(QStringList, cameras);
        ZQPlayerInferfaceController c;
        c.set_ui(std::make_unique<RecordingUi>());
        c.get_available_days(m_root);
        QCOMPARE(load_day(&c, date), cameras);
    }

    // Another day stops what plays; the same day loaded again (as QML does
    // after an index build) leaves it playing.
    void day_change()
    {
        auto c = make();
        c->set_zqstream_reader_read_timestamp(QString::number(ms_of(10, 15, 30)));
        const QString playing = c->current_file();
        QCOMPARE(c->state(), 1);
        QCOMPARE(load_day(c.get(), QStringLiteral("2024-01-01")), QStringList({"Entrée", "Camera 2"}));
        QCOMPARE(c->current_file(), playing);
        QCOMPARE(c->state(), 1);
        QCOMPARE(c->camera_day_video_list().size(), 4);

        load_day(c.get(), QStringLiteral("2024-01-02"));
        QCOMPARE(c->state(), 0);
        QVERIFY(c->current_file().isEmpty());
        QCOMPARE(c->selected_date(), QStringLiteral("2024-01-02"));
        c->set_zqstream_reader_read_timestamp(QString::number(ms_of(10, 15, 30)));
        QCOMPARE(QFileInfo(c->current_file()).fileName(), QStringLiteral("1_20240102_101500.zqvideo"));
    }

    // A caller that follows the controller's order of calls (days, date, cameras, camera, lists)
    // gets the day within the call: a current index gives the lists at once, with the cameras
    // that only their recordings name; a day without index has its rebuild started before the
    // call returns, and the lists come with the ask that follows indexGenerated().
    void day_within_the_call()
    {
        QTemporaryDir tmp;
        const ZQFixture::Result r = write_small(tmp.path(), 3, 2, 2);
        QVERIFY2(r.ok, qPrintable(r.error));
        const QList<qint64> starts{ms_of(9, 0, 0), ms_of(9, 0, 2)};
        for (const bool indexed : {false, true}) {
            ZQPlayerInferfaceController c;
            c.set_ui(std::make_unique<RecordingUi>());
            QSignalSpy start(&c, &ZQPlayerInferfaceController::startIndexGeneration);
            QSignalSpy generated(&c, &ZQPlayerInferfaceController::indexGenerated);
            QCOMPARE(c.get_available_days(r.root_path), QStringList{"2024-01-01"});
            c.set_selected_date(c.selected_date());
            const QStringList cameras = c.get_cameras_for_date(QStringLiteral("2024-01-01"));
            if (indexed) {
                QCOMPARE(cameras, QStringList{"Camera 3"});
                QCOMPARE(start.size(), 0);
            } else {
                QCOMPARE(cameras, QStringList{});
                QCOMPARE(start.size(), 1);
                QVERIFY(c.day_video_list().isEmpty());
                QTRY_COMPARE_WITH_TIMEOUT(generated.size(), 1, 30000);
                QCOMPARE(c.get_cameras_for_date(QStringLiteral("2024-01-01")), QStringList{"Camera 3"});
                QCOMPARE(start.size(), 1);
            }
            QCOMPARE(c.day_video_list().size(), 2);
            c.set_selected_camera(QStringLiteral("Camera 3"));
            QCOMPARE(c.day_timestamp_list(), starts);
        }
    }

    // ---- Index decision ----

    void index_decision()
    {
        // A day of its own so that the other tests' index is not disturbed.
        QTemporaryDir tmp;
        const ZQFixture::Result r = write_small(tmp.path(), 3, 2, 2);
        QVERIFY2(r.ok, qPrintable(r.error));
        // A day folder with a start-time folder but no recording: failing.
        QVERIFY(QDir(r.root_path).mkpath(QStringLiteral("2024-01-03/090000")));
        write_file(QDir(r.root_path).filePath(QStringLiteral("2024-01-03/090000/3_1_20240103_090000.jpg")), "jpg");

        ZQPlayerInferfaceController c;
        auto ui = std::make_unique<RecordingUi>();
        RecordingUi* u = ui.get();
        c.set_ui(std::move(ui));
        QSignalSpy start(&c, &ZQPlayerInferfaceController::startIndexGeneration);
        QSignalSpy generated(&c, &ZQPlayerInferfaceController::indexGenerated);
        QSignalSpy failed(&c, &ZQPlayerInferfaceController::indexFailed);
        QCOMPARE(c.get_available_days(r.root_path), QStringList({"2024-01-01", "2024-01-03"}));

        // No index yet: a rebuild starts and the lists stay empty until it ends.
        // (no camera information: the cameras come from the recordings, so
        // none are known before the index)
        QCOMPARE(c.get_cameras_for_date(QStringLiteral("2024-01-01")), QStringList{});
        QCOMPARE(start.size(), 1);
        QVERIFY(c.is_indexing());
        QVERIFY(c.day_video_list().isEmpty());
        QVERIFY(generated.wait(30000));
        // Current: read from the index, no rebuild.
        QCOMPARE(c.get_cameras_for_date(QStringLiteral("2024-01-01")), QStringList{"Camera 3"});
        QCOMPARE(start.size(), 1);
        QCOMPARE(c.day_video_list().size(), 2);

        // Stale: a new file makes the index old.
        write_file(QDir(r.root_path).filePath(QStringLiteral("2024-01-01/090000/3_7_20240101_090001.jpg")), "jpg");
        c.get_cameras_for_date(QStringLiteral("2024-01-01"));
        QCOMPARE(start.size(), 2);
        QVERIFY(c.day_video_list().isEmpty());
        QVERIFY(generated.wait(30000));
        c.get_cameras_for_date(QStringLiteral("2024-01-01"));
        QCOMPARE(start.size(), 2);
        QCOMPARE(c.day_alarm_list().size(), 1);

        // Failing: the operator is told once, and loading the day again does
        // not start the same failing build.
        c.get_cameras_for_date(QStringLiteral("2024-01-03"));
        QCOMPARE(start.size(), 3);
        QTRY_COMPARE_WITH_TIMEOUT(failed.size(), 1, 30000);
        QTRY_VERIFY_WITH_TIMEOUT(!c.is_indexing(), 30000);
        QCOMPARE(u->warnings.size(), 1);
        QVERIFY(u->warnings.first().contains(QStringLiteral("Aucun enregistrement")));
        c.get_cameras_for_date(QStringLiteral("2024-01-03"));
        c.get_cameras_for_date(QStringLiteral("2024-01-03"));
        QCOMPARE(start.size(), 3);
        // The operator's own request rebuilds it anyway.
        c.set_selected_date(QStringLiteral("2024-01-03"));
        c.regenerate_index_for_current_date();
        QCOMPARE(start.size(), 4);
        QTRY_COMPARE_WITH_TIMEOUT(failed.size(), 2, 30000);
        QTRY_VERIFY_WITH_TIMEOUT(!c.is_indexing(), 30000);

        // A request during a run waits for it instead of being lost.
        c.regenerate_index();
        c.regenerate_index_for_current_date();
        QCOMPARE(start.size(), 5);
        QTRY_VERIFY_WITH_TIMEOUT(start.size() == 6 && !c.is_indexing(), 30000);
    }

    // A whole-folder rebuild in which two days fail: the operator is told
    // once, the end of the run reaches QML after the failure even when it
    // arrives while the warning box is up, and neither failing day is
    // rebuilt again when it is loaded.
    void index_failures_of_one_run()
    {
        QTemporaryDir tmp;
        const ZQFixture::Result r = write_small(tmp.path(), 3, 1, 2);
        QVERIFY2(r.ok, qPrintable(r.error));
        for (const char* day : {"2024-01-03", "2024-01-04"}) {
            QVERIFY(QDir(r.root_path).mkpath(QStringLiteral("%1/090000").arg(QLatin1String(day))));
            write_file(QDir(r.root_path).filePath(QStringLiteral("%1/090000/3_1_20240103_090000.jpg").arg(QLatin1String(day))),
                       "jpg");
        }
        ZQPlayerInferfaceController c;
        auto ui = std::make_unique<RecordingUi>();
        RecordingUi* u = ui.get();
        c.set_ui(std::move(ui));
        u->while_warning = [] {
            QTRY_VERIFY_WITH_TIMEOUT(ZQIndexManager::running_builds() == 0, 30000);
            QTest::qWait(200);
        };
        QStringList order;
        connect(&c, &ZQPlayerInferfaceController::indexFailed, this, [&] { order << "failed"; });
        connect(&c, &ZQPlayerInferfaceController::indexGenerated, this, [&] { order << "generated"; });
        QSignalSpy start(&c, &ZQPlayerInferfaceController::startIndexGeneration);
        QCOMPARE(c.get_available_days(r.root_path), QStringList({"2024-01-01", "2024-01-03", "2024-01-04"}));
        c.regenerate_index();
        QTRY_VERIFY_WITH_TIMEOUT(!c.is_indexing(), 30000);
        QCOMPARE(u->warnings.size(), 1);
        QCOMPARE(order, QStringList({"failed", "generated"}));
        QCOMPARE(start.size(), 1);
        c.get_cameras_for_date(QStringLiteral("2024-01-03"));
        c.get_cameras_for_date(QStringLiteral("2024-01-04"));
        QCOMPARE(start.size(), 1);
        QCOMPARE(c.get_cameras_for_date(QStringLiteral("2024-01-01")), QStringList{"Camera 3"});
        QCOMPARE(start.size(), 1);
    }

    // A rebuild asked for with nothing to rebuild still ends, so that the
    // waiting indicator QML shows before asking stops.
    void rebuild_without_folder()
    {
        ZQPlayerInferfaceController c;
        c.set_ui(std::make_unique<RecordingUi>());
        QSignalSpy failed(&c, &ZQPlayerInferfaceController::indexFailed);
        c.regenerate_index();
        QCOMPARE(failed.size(), 1);
        c.get_available_days(m_root);
        c.set_selected_date(QString());
        c.regenerate_index_for_current_date();
        QCOMPARE(failed.size(), 2);
        QVERIFY(!c.is_indexing());
    }

    // Hostile or damaged storage: odd names, garbage camera files, seek
    // indexes that vanish or empty after the day was indexed.
    void damaged_day()
    {
        QTemporaryDir tmp;
        const ZQFixture::Result r = write_small(tmp.path(), 4, 3, 60);
        QVERIFY2(r.ok, qPrintable(r.error));
        const QDir day(QDir(r.root_path).filePath(QStringLiteral("2024-01-01")));
        // A recording whose name has too few "_" parts, with a seek index.
        write_file(day.filePath(QStringLiteral("090000/4.zqvideo")), QByteArray(64, '\1'));
        write_file(day.filePath(QStringLiteral("090000/4.zqseek")), "20240101090000000:video1:frame/h264:64x48:1:64\n");
        write_file(day.filePath(QStringLiteral("090000/4_20240101.zqvideo")), QByteArray(64, '\1'));
        write_file(day.filePath(QStringLiteral("090000/4_20240101.zqseek")), "garbage");
        // Camera files that are not what they claim.
        write_file(day.filePath(QStringLiteral("index.zqnfo")), QByteArray(1000, '\xff'));
        write_file(day.filePath(QStringLiteral("090000/4_20240101_090000.zqnfo")), "{\"cam_id\": 4");
        QVERIFY(Encrypt::encrypt_to_file(QByteArray("[1,2,3]"), day.filePath(QStringLiteral("090100/x.zqnfo"))) == 1);

        ZQPlayerInferfaceController c;
        QVERIFY(open_camera(c, r.root_path, QStringLiteral("Camera 4")));
        QCOMPARE(c.day_timestamp_list(), QList<qint64>({ms_of(9, 0, 0), ms_of(9, 1, 0), ms_of(9, 2, 0)}));

        // The seek index of 09:01 goes away, the one of 09:02 is emptied.
        QVERIFY(QFile::remove(day.filePath(QStringLiteral("090100/4_20240101_090100.zqseek"))));
        QFile empty(day.filePath(QStringLiteral("090200/4_20240101_090200.zqseek")));
        QVERIFY(empty.open(QIODevice::WriteOnly | QIODevice::Truncate));
        empty.close();
        c.set_zqstream_reader_read_timestamp(QString::number(ms_of(9, 1, 30)));
        QVERIFY(c.current_file().isEmpty());
        QCOMPARE(c.state(), 0);
        c.set_zqstream_reader_read_timestamp(QString::number(ms_of(9, 2, 30)));
        QVERIFY(c.current_file().isEmpty());
        QCOMPARE(c.state(), 0);
        c.set_zqstream_reader_read_timestamp(QString::number(ms_of(9, 0, 30)));
        QCOMPARE(QFileInfo(c.current_file()).fileName(), QStringLiteral("4_20240101_090000.zqvideo"));
        QCOMPARE(c.state(), 1);
        // Nothing usable after it: the file stays.
        c.set_file(QStringLiteral("next"));
        QCOMPARE(QFileInfo(c.current_file()).fileName(), QStringLiteral("4_20240101_090000.zqvideo"));
        c.set_zqstream_reader_read_timestamp(QString::number(ms_of(9, 2, 30)));
        QCOMPARE(QFileInfo(c.current_file()).fileName(), QStringLiteral("4_20240101_090000.zqvideo"));
    }

    // The automatic start passes over an earliest recording that cannot be
    // played and starts on the camera's first one that can.
    void first_recording_unplayable()
    {
        QTemporaryDir tmp;
        const ZQFixture::Result r = write_small(tmp.path(), 6, 2, 60);
        QVERIFY2(r.ok, qPrintable(r.error));
        ZQPlayerInferfaceController c;
        QVERIFY(open_camera(c, r.root_path, QStringLiteral("Camera 6")));
        const QDir day(QDir(r.root_path).filePath(QStringLiteral("2024-01-01")));
        QVERIFY(QFile::remove(day.filePath(QStringLiteral("090000/6_20240101_090000.zqseek"))));
        c.start_button();
        QCOMPARE(QFileInfo(c.current_file()).fileName(), QStringLiteral("6_20240101_090100.zqvideo"));
        QCOMPARE(c.state(), 1);
    }

    // The seek index of the playing file goes bad, then the stream is
    // restarted on it: the reader cannot load it, and the controller stops
    // cleanly instead of keeping a file the reader no longer holds.
    void seek_index_damaged_while_playing()
    {
        QTemporaryDir tmp;
        const ZQFixture::Result r = write_small(tmp.path(), 5, 2, 60);
        QVERIFY2(r.ok, qPrintable(r.error));
        const QDir day(QDir(r.root_path).filePath(QStringLiteral("2024-01-01")));
        ZQPlayerInferfaceController c;
        QVERIFY(open_camera(c, r.root_path, QStringLiteral("Camera 5")));
        c.set_zqstream_reader_read_timestamp(QString::number(ms_of(9, 0, 30)));
        QCOMPARE(QFileInfo(c.current_file()).absoluteDir().dirName(), QStringLiteral("090000"));
        c.pause_button();
        QVERIFY(!c.read_time().isEmpty());

        write_file(day.filePath(QStringLiteral("090000/5_20240101_090000.zqseek")), "not a seek index\n");
        c.set_selected_videostream(2);
        QVERIFY(c.current_file().isEmpty());
        QCOMPARE(c.state(), 0);
        QVERIFY(c.get_videostreams_list().isEmpty());
    }

    // A seek index naming tens of thousands of stream tokens (and tokens no
    // server writes): only the short numeric ids reach the list the stream
    // pop-up shows, in first-seen order and bounded, and playback still runs.
    void hostile_stream_list()
    {
        QTemporaryDir tmp;
        const ZQFixture::Result r = write_small(tmp.path(), 4, 1, 10);
        QVERIFY2(r.ok, qPrintable(r.error));
        const QString seek = QDir(r.root_path).filePath(QStringLiteral("2024-01-01/090000/4_20240101_090000.zqseek"));
        QFile f(seek);
        QVERIFY(f.open(QIODevice::Append));
        QByteArray lines;
        lines += "20240101090001000:video<b>x</b>:frame/h264:64x48:0:10\n";
        lines += "20240101090001000:videovideo:frame/h264:64x48:0:10\n";
        for (int i = 3; i < 80000; ++i)
            lines += "20240101090001000:video" + QByteArray::number(i) + ":frame/h264:64x48:0:10\n";
        QVERIFY(f.write(lines) == lines.size());
        f.close();
        SeekIndexResult parsed;
        parse_seek_index(seek, SeekIndexOptions{}, &parsed);
        QVERIFY(parsed.streams.size() > 79000);

        ZQPlayerInferfaceController c;
        QVERIFY(open_camera(c, r.root_path, QStringLiteral("Camera 4")));
        QSignalSpy streams(&c, &ZQPlayerInferfaceController::updateStreams);
        c.start_button();
        QCOMPARE(c.state(), 1);
        QVERIFY(!streams.isEmpty());
        const QStringList offered = c.get_videostreams_list();
        QVERIFY2(offered.size() <= kMaxOfferedStreams, qPrintable(QString::number(offered.size())));
        QVERIFY(!offered.isEmpty());
        QCOMPARE(offered.first(), QStringLiteral("1"));
        for (const QString& id : offered)
            QVERIFY2(id.size() <= 3 && id.toInt() > 0, qPrintable(id));
    }

    // ---- List forms ----

    void timestamp_list()
    {
        auto c = make();
        QCOMPARE(c->day_timestamp_list(),
                 QList<qint64>({36900000, ms_of(10, 17, 0), ms_of(10, 19, 0), ms_of(23, 59, 30)}));
        c->set_selected_camera(QStringLiteral("Camera 2"));
        QCOMPARE(c->day_timestamp_list(), QList<qint64>({36900000, ms_of(10, 17, 0), ms_of(10, 19, 0)}));
        QCOMPARE(c->camera_day_video_list().size(), 3);
        // The lists are in start-time order whatever the names' order.
        const QFileInfoList all = c->day_video_list();
        for (int i = 1; i < all.size(); ++i)
            QVERIFY(all[i - 1].absoluteDir().dirName() <= all[i].absoluteDir().dirName());
    }

    void alarm_list()
    {
        auto c = make();
        const QVariantList alarms = c->day_alarm_list_string();
        QCOMPARE(alarms.size(), 2);  // camera 2's and the other day's are left out
        const QVariantMap a = alarms[0].toMap();
        QCOMPARE(a.value("filename").toString(), QStringLiteral("1_12_20240101_101530.jpg"));
        QCOMPARE(a.value("cameraId").toString(), QStringLiteral("1"));
        QCOMPARE(a.value("alarmId").toString(), QStringLiteral("12"));
        QCOMPARE(a.value("datetime").toString(), QStringLiteral("20240101101530"));
        QCOMPARE(a.value("type").toString(), QStringLiteral("20240101101530"));
        QCOMPARE(a.value("severity").toString(), QStringLiteral("medium"));
        QVERIFY(a.value("image").toString().endsWith(QStringLiteral("/1_12_20240101_101530.jpg")));
        QVERIFY(a.value("thumbnail").toString().endsWith(QStringLiteral("/1_12_20240101_101530-thumb.jpg")));
        const QVariantMap b = alarms[1].toMap();
        QVERIFY(!b.contains("image"));
        QVERIFY(b.contains("thumbnail"));

        QVERIFY(c->get_alarm_thumbnail_path("20240101101530").endsWith("/1_12_20240101_101530-thumb.jpg"));
        QCOMPARE(c->get_alarm_thumbnail_path("20240101101520"), QString());  // camera 2's
    }

    void tag_list()
    {
        auto c = make();
        const QVariantList tags = c->day_tags_list_string();
        QCOMPARE(tags.size(), 1);
        QCOMPARE(tags[0].toMap().value("tag_name").toString(), QStringLiteral("Porte"));
        QCOMPARE(tags[0].toMap().value("tag_datetime").toString(), QStringLiteral("20240101101540"));
        c->set_selected_camera(QStringLiteral("Camera 2"));
        QCOMPARE(c->day_tags_list_string().size(), 1);
        QCOMPARE(c->day_tags_list_string()[0].toMap().value("tag_name").toString(), QStringLiteral("Autre"));
    }

    void preview_list()
    {
        auto c = make();
        const QVariantList previews = c->day_preview_list_string();
        QCOMPARE(previews.size(), 2);
        for (const QVariant& v : previews) {
            const QVariantMap m = v.toMap();
            QCOMPARE(m.value("id").toInt(), 1);
            QCOMPARE(m.value("date").toString(), QStringLiteral("20240101"));
            QCOMPARE(m.value("ms").toInt(), 36900000);
            const QString url = m.value("url").toString();
            QVERIFY(url.startsWith(QStringLiteral("file:///")));
            QVERIFY(QFileInfo::exists(QUrl(url).toLocalFile()));
        }
    }

    // ---- Seeks ----

    // What QML hands the seek entry, and where it lands (empty file: nothing found).
    void seek_forms_data()
    {
        QTest::addColumn<QString>("arg");
        QTest::addColumn<QString>("file");  // start-time folder of the file played
        QTest::addColumn<qint64>("picture"); // time of the first picture shown, -1 none
        QTest::newRow("timeline click 10:15:30") << "36930000" << "101500" << ms_of(10, 15, 30);
        QTest::newRow("ms with fraction of second") << "36930400" << "101500" << ms_of(10, 15, 30);
        QTest::newRow("alarm row") << "20240101101530" << "101500" << ms_of(10, 15, 30);
        QTest::newRow("14 digits, invalid") << "20240101106130" << "" << qint64(-1);
        QTest::newRow("six digits are ms") << "101530" << "" << qint64(-1);
        QTest::newRow("start of the next file") << QString::number(ms_of(10, 17, 0)) << "101700" << ms_of(10, 17, 0);
        QTest::newRow("end of a file is the gap") << QString::number(ms_of(10, 16, 0)) << "" << qint64(-1);
        QTest::newRow("gap") << QString::number(ms_of(10, 16, 30)) << "" << qint64(-1);
        QTest::newRow("before first") << QString::number(ms_of(8, 0, 0)) << "" << qint64(-1);
        QTest::newRow("after last of the morning") << QString::number(ms_of(12, 0, 0)) << "" << qint64(-1);
        QTest::newRow("last minute of the day") << QString::number(ms_of(23, 59, 45)) << "235930" << ms_of(23, 59, 45);
        QTest::newRow("86400000 stops at the day's end") << "86400000" << "235930" << ms_of(23, 59, 59);
        QTest::newRow("huge") << "99999999999999999999999" << "235930" << ms_of(23, 59, 59);
        QTest::newRow("empty: earliest of the camera") << "" << "101500" << ms_of(10, 15, 0);
        QTest::newRow("text") << "abc" << "" << qint64(-1);
        QTest::newRow("negative") << "-5000" << "" << qint64(-1);
        QTest::newRow("decimal") << "36930000.5" << "" << qint64(-1);
        QTest::newRow("other day") << "20240102101530" << "" << qint64(-1);
    }
    void seek_forms()
    {
        QFETCH(QString, arg);
        QFETCH(QString, file);
        QFETCH(qint64, picture);
        auto c = make();
        watch_pictures(c.get());
        QSignalSpy started(c.get(), &ZQPlayerInferfaceController::startRead);
        c->set_zqstream_reader_read_timestamp(arg);
        if (file.isEmpty()) {
            QVERIFY(c->current_file().isEmpty());
            QCOMPARE(c->state(), 0);
            QCOMPARE(started.size(), 0);
            return;
        }
        QCOMPARE(QFileInfo(c->current_file()).absoluteDir().dirName(), file);
        QVERIFY(QFileInfo(c->current_file()).fileName().startsWith(QStringLiteral("1_20240101_")));
        QCOMPARE(c->state(), 1);
        QVERIFY(!started.isEmpty());
        QCOMPARE(m_first_picture_ms, picture);
    }

    // A seek that finds nothing while a file plays leaves playback alone.
    void seek_miss_keeps_playing()
    {
        auto c = make();
        c->set_zqstream_reader_read_timestamp(QString::number(ms_of(10, 15, 10)));
        const QString playing = c->current_file();
        QVERIFY(!playing.isEmpty());
        c->set_zqstream_reader_read_timestamp(QString::number(ms_of(10, 16, 30)));
        QCOMPARE(c->current_file(), playing);
        QCOMPARE(c->state(), 1);
        // The same file again continues on it; another file switches.
        c->set_zqstream_reader_read_timestamp(QString::number(ms_of(10, 19, 10)));
        QCOMPARE(QFileInfo(c->current_file()).absoluteDir().dirName(), QStringLiteral("101900"));
    }

    // The reader falls back to the stream the file holds; the controller
    // follows it and later seeks continue instead of starting over.
    void adopts_reader_stream()
    {
        auto c = make();
        c->set_zqstream_reader_read_timestamp(QString::number(ms_of(10, 15, 10)));
        c->set_selected_videostream(2);
        QCOMPARE(c->stream_id(), 1);
        QCOMPARE(c->reader()->get_id_stream(), QStringLiteral("1"));
        QCOMPARE(c->state(), 1);
        for (int i = 0; i < 5; ++i)
            c->set_zqstream_reader_read_timestamp(QString::number(ms_of(10, 15 + 2 * (i % 3), 20 + i)));
        QCOMPARE(c->stream_id(), 1);
        // The reader's playlist is the camera's day, once.
        QCOMPARE(c->reader()->get_file_list().size(), 4);
    }

    // Before any camera is chosen a seek plays the camera of the day's first
    // recording; the reader gets that camera's recordings to move on through.
    void no_camera_chosen()
    {
        auto c = make(nullptr, QString());
        QCOMPARE(c->camera_id(), -1);
        c->start_button();
        QCOMPARE(QFileInfo(c->current_file()).fileName(), QStringLiteral("1_20240101_101500.zqvideo"));
        QCOMPARE(c->reader()->get_file_list().size(), 4);
        c->set_file(QStringLiteral("next"));
        QCOMPARE(QFileInfo(c->current_file()).fileName(), QStringLiteral("1_20240101_101700.zqvideo"));
    }

    // ---- Playback states ----

    void states()
    {
        auto c = make();
        QCOMPARE(c->state(), 0);
        c->start_button();  // no read time yet: the camera's earliest recording
        QCOMPARE(c->state(), 1);
        QCOMPARE(QFileInfo(c->current_file()).absoluteDir().dirName(), QStringLiteral("101500"));
        c->pause_button();
        QCOMPARE(c->state(), 2);
        c->pause_button();
        QCOMPARE(c->state(), 2);
        c->start_button();
        QCOMPARE(c->state(), 1);
        c->next_frame_button();
        QCOMPARE(c->state(), 2);
        c->previous_frame_button();
        QCOMPARE(c->state(), 2);
        c->set_playback_rate(2);
        QCOMPARE(c->state(), 1);
        QCOMPARE(c->playback_rate(), 2);
        c->set_playback_rate(1);

        // A camera change stops, then plays on at the time read.
        QTRY_VERIFY(c->get_current_read_time_is_ms() >= ms_of(10, 15, 0));
        // The change is reported with the controller stopped, before the seek starts reading.
        QStringList order;
        {
            QObject context;
            connect(c.get(), &ZQPlayerInferfaceController::dataChanged, &context,
                    [&] { order << QStringLiteral("dataChanged %1 %2").arg(c->state()).arg(c->camera_id()); });
            connect(c.get(), &ZQPlayerInferfaceController::startRead, &context,
                    [&] { order << QStringLiteral("startRead"); });
            c->set_selected_camera(QStringLiteral("Camera 2"));
        }
        QVERIFY2(order.size() >= 2, qPrintable(order.join(", ")));
        QCOMPARE(order.first(), QStringLiteral("dataChanged 0 2"));
        QCOMPARE(order.mid(1), QStringList(order.size() - 1, QStringLiteral("startRead")));
        QCOMPARE(c->state(), 1);
        QCOMPARE(c->camera_id(), 2);
        QVERIFY(QFileInfo(c->current_file()).fileName().startsWith(QStringLiteral("2_")));

        // An unknown camera: nothing plays.
        c->set_selected_camera(QStringLiteral("nobody"));
        QCOMPARE(c->camera_id(), -1);
        QCOMPARE(c->state(), 0);
        QVERIFY(c->current_file().isEmpty());
    }

    // A camera chosen while playing backward goes on backward.
    void camera_change_keeps_backward_play()
    {
        auto c = make();
        c->set_zqstream_reader_read_timestamp(QString::number(ms_of(10, 15, 40)));
        c->set_playback_rate(-1);
        QCOMPARE(c->playback_rate(), -1);
        c->set_selected_camera(QStringLiteral("Camera 2"));
        QCOMPARE(c->state(), 1);
        QTRY_VERIFY(c->get_current_read_time_is_ms() > 0);
        const int first = c->get_current_read_time_is_ms();
        QTRY_VERIFY_WITH_TIMEOUT(c->get_current_read_time_is_ms() < first - 200, 5000);
    }

    // A camera change that finds nothing at the read time stops the reader; the rate the window
    // sets right after (Controls reacts to dataChanged) must not start it again on the old
    // camera's records.
    void rate_after_camera_without_recording()
    {
        auto c = make();
        c->set_zqstream_reader_read_timestamp(QString::number(ms_of(23, 59, 40)));
        QCOMPARE(c->state(), 1);
        c->set_selected_camera(QStringLiteral("Camera 2"));
        QCOMPARE(c->state(), 0);
        watch_pictures(c.get());
        const int shown_at = c->get_current_read_time_is_ms();
        c->set_playback_rate(1);
        c->set_playback_rate(-1);
        c->set_playback_rate(1);
        QTest::qWait(300);
        QCOMPARE(m_pictures, 0);
        QVERIFY(!c->reader()->get_read_timer() || !c->reader()->get_read_timer()->isActive());
        QCOMPARE(c->get_current_read_time_is_ms(), shown_at);
    }

    void read_time()
    {
        auto c = make();
        QCOMPARE(c->get_current_read_time_is_ms(), 0);
        QSignalSpy time(c.get(), &ZQPlayerInferfaceController::timeChanged);
        c->setTime(QTime(10, 15, 30, 400));
        QCOMPARE(time.size(), 1);
        QCOMPARE(c->read_time(), QStringLiteral("101530"));
        QCOMPARE(c->get_current_read_time_is_ms(), 36930000);
    }

    // The end of the day's recordings (forward past the last, backward past the first) moves the
    // controller to stopped and says so (stopRead); Play then starts again from the time read.
    void end_of_list_stops_data()
    {
        QTest::addColumn<int>("rate");
        QTest::addColumn<qint64>("from");
        QTest::newRow("forward past the last") << 8 << ms_of(10, 19, 58);
        QTest::newRow("backward past the first") << -8 << ms_of(10, 15, 2);
    }
    void end_of_list_stops()
    {
        QFETCH(int, rate);
        QFETCH(qint64, from);
        auto c = make(nullptr, QStringLiteral("Camera 2"));
        QSignalSpy stopped(c.get(), &ZQPlayerInferfaceController::stopRead);
        QSignalSpy started(c.get(), &ZQPlayerInferfaceController::startRead);
        c->set_zqstream_reader_read_timestamp(QString::number(from));
        c->set_playback_rate(rate);
        QTRY_COMPARE_WITH_TIMEOUT(c->state(), 0, 10000);
        QCOMPARE(stopped.size(), 1);
        started.clear();
        c->start_button();
        QCOMPARE(c->state(), 1);
        QVERIFY(!started.isEmpty());
        QVERIFY(c->reader()->get_read_timer() && c->reader()->get_read_timer()->isActive());
    }


    // ---- Pace and recordings that cannot be read ----

    // A day whose rate changes: camera 7's recordings of 10:00 (25 fps), 10:01 (5 fps) and 10:02
    // (25 fps). Whichever way the controller's reader comes to the 10:01 recording (a seek loads
    // it, a seek continues into it from another recording, reading reaches it by itself forward
    // or backward), it plays at its own 5 pictures per second, one second of recording per
    // second. Driven through the reader's own timer on its clock.
    void own_rate_through_the_controller_data()
    {
        QTest::addColumn<qint64>("before"); // seek first, or -1
        QTest::addColumn<qint64>("seek");
        QTest::addColumn<int>("rate");
        QTest::newRow("a seek loads it") << qint64(-1) << ms_of(10, 1, 30) << 1;
        QTest::newRow("a seek continues into it") << ms_of(10, 0, 30) << ms_of(10, 1, 30) << 1;
        QTest::newRow("reached forward") << qint64(-1) << ms_of(10, 0, 57) << 1;
        QTest::newRow("reached backward") << qint64(-1) << ms_of(10, 2, 3) << -1;
        QTest::newRow("a seek continues into it backward") << ms_of(10, 2, 30) << ms_of(10, 1, 30) << -1;
    }
    void own_rate_through_the_controller()
    {
        QFETCH(qint64, before);
        QFETCH(qint64, seek);
        QFETCH(int, rate);
        static QTemporaryDir tmp;
        static ZQFixture::Result day[3];
        if (!day[0].ok) {
            const int rates[] = {25, 5, 25};
            for (int i = 0; i < 3; ++i) {
                ZQFixture::Options o;
                o.output_parent = tmp.path();
                o.cameras = {7};
                o.start_time = QTime(10, i, 0);
                o.size = QSize(64, 48);
                o.fps = rates[i];
                o.gop = rates[i];
                day[i] = ZQFixture::write(o);
                QVERIFY2(day[i].ok, qPrintable(day[i].error));
            }
        }
        ZQPlayerInferfaceController c;
        QVERIFY(open_camera(c, day[0].root_path, QStringLiteral("Camera 7")));
        qint64 clock = 1'000'000'000;
        c.reader()->set_clock([&clock] { return clock; });
        zqtest::PictureLog log(*c.reader(), clock);
        c.set_playback_rate(rate);
        if (before >= 0)
            c.set_zqstream_reader_read_timestamp(QString::number(before));
        c.set_zqstream_reader_read_timestamp(QString::number(seek));
        QCOMPARE(c.state(), 1);
        const qint64 end = clock + 12'000'000'000LL;
        while (clock < end) {
            c.reader()->wait_for_prefetches();
            QVERIFY(zqtest::fire_read_timer(*c.reader(), clock, 1'000'000));
        }
        const zqtest::Pace b = zqtest::pace_of(
            log.pictures, [](const zqtest::ShownPicture& p) { return p.recordingMs == ms_of(10, 1, 0); });
        QVERIFY2(b.pictures >= 25 && qAbs(b.perSecond / 5.0 - 1.0) < 0.03 && qAbs(b.contentSpeed - rate) < 0.03,
                 qPrintable(QStringLiteral("%1 pictures, %2 /s, %3 s/s").arg(b.pictures).arg(b.perSecond).arg(b.contentSpeed)));
    }

    // Camera 3's day of one-minute recordings 09:00-09:06 where the seek index of 09:05 holds
    // only lines that are not seek lines (its video file is intact). A seek into it does what a
    // seek into a time without recordings does: reading goes on where it was (Pause stays), or
    // the controls are told to show Play; no startRead, no frozen picture, the failure logged
    // once and never a line per tick.
    void seek_into_recording_without_entries_data()
    {
        QTest::addColumn<qint64>("from"); // playing from there first, or -1
        QTest::addColumn<int>("rate");
        QTest::addColumn<bool>("pause");
        QTest::newRow("reading forward") << ms_of(9, 4, 30) << 1 << false;
        QTest::newRow("reading backward") << ms_of(9, 6, 30) << -1 << false;
        QTest::newRow("reading at x8") << ms_of(9, 4, 10) << 8 << false;
        QTest::newRow("paused") << ms_of(9, 4, 30) << 1 << true;
        QTest::newRow("nothing plays") << qint64(-1) << 1 << false;
    }
    void seek_into_recording_without_entries()
    {
        QFETCH(qint64, from);
        QFETCH(int, rate);
        QFETCH(bool, pause);
        QTemporaryDir tmp;
        const ZQFixture::Result r = write_day_unreadable_at_0905(tmp.path(), 7);
        QVERIFY2(r.ok, qPrintable(r.error));
        ZQPlayerInferfaceController c;
        QVERIFY(open_camera(c, r.root_path, QStringLiteral("Camera 3")));
        qint64 clock = 1'000'000'000;
        c.reader()->set_clock([&clock] { return clock; });
        auto ticking = [&c] { return c.reader()->get_read_timer() && c.reader()->get_read_timer()->isActive(); };
        if (from >= 0) {
            c.set_playback_rate(rate);
            c.set_zqstream_reader_read_timestamp(QString::number(from));
            for (int i = 0; i < 3; ++i)
                QVERIFY(zqtest::fire_read_timer(*c.reader(), clock, 0));
            if (pause)
                c.pause_button();
        }
        const QString playing = c.current_file();
        const int shown = c.get_current_read_time_is_ms();
        const int state = c.state();
        LogCapture logs;
        QSignalSpy started(&c, &ZQPlayerInferfaceController::startRead);
        QSignalSpy stopped(&c, &ZQPlayerInferfaceController::stopRead);

        c.set_zqstream_reader_read_timestamp(QString::number(ms_of(9, 5, 30)));
        QCOMPARE(started.size(), 0);
        QCOMPARE(c.current_file(), playing);
        if (from >= 0 && !pause) {
            QCOMPARE(c.state(), 1);
            QCOMPARE(stopped.size(), 0);
            QVERIFY(ticking());
            // Reading goes on where it was.
            for (int i = 0; i < 10; ++i)
                QVERIFY(zqtest::fire_read_timer(*c.reader(), clock, 0));
            QVERIFY2((c.get_current_read_time_is_ms() - shown) * rate > 0,
                     qPrintable(QStringLiteral("%1 then %2").arg(shown).arg(c.get_current_read_time_is_ms())));
        } else {
            // Nothing plays: the controls show Play, and what Play does next is what it says.
            QCOMPARE(stopped.size(), 1);
            QVERIFY(!ticking());
            QCOMPARE(c.get_current_read_time_is_ms(), shown);
            QCOMPARE(c.state(), from >= 0 ? state : 0);
            if (pause) {
                c.start_button();
                QCOMPARE(c.state(), 1);
                QVERIFY(ticking());
                for (int i = 0; i < 10; ++i)
                    QVERIFY(zqtest::fire_read_timer(*c.reader(), clock, 0));
                QVERIFY(c.get_current_read_time_is_ms() > shown);
            }
        }
        QVERIFY2(logs.count(QStringLiteral("next :: no frame")) + logs.count(QStringLiteral("prev :: no frame")) == 0,
                 qPrintable(logs.lines().join('\n')));
        QVERIFY(logs.count(QStringLiteral("frame list is empty")) + logs.count(QStringLiteral("cannot load")) == 1);
    }

    // Reading that reaches that recording by itself walks on to the next one with entries, both
    // ways; without one it ends and the controls are told to show Play.
    void reading_walks_past_recording_without_entries_data()
    {
        QTest::addColumn<qint64>("from");
        QTest::addColumn<int>("rate");
        QTest::addColumn<qint64>("reaches"); // -1: reading ends
        QTest::newRow("forward") << ms_of(9, 4, 58) << 1 << ms_of(9, 6, 0);
        QTest::newRow("backward") << ms_of(9, 6, 2) << -1 << ms_of(9, 4, 59);
        QTest::newRow("x8 forward") << ms_of(9, 4, 40) << 8 << ms_of(9, 6, 0);
        QTest::newRow("x-8 backward") << ms_of(9, 6, 20) << -8 << ms_of(9, 4, 59);
        QTest::newRow("forward to the end") << ms_of(9, 4, 58) << 1 << qint64(-1);
    }
    void reading_walks_past_recording_without_entries()
    {
        QFETCH(qint64, from);
        QFETCH(int, rate);
        QFETCH(qint64, reaches);
        QTemporaryDir tmp;
        // 09:05 is the last recording of the day, or not.
        const ZQFixture::Result r = write_day_unreadable_at_0905(tmp.path(), reaches < 0 ? 6 : 7);
        QVERIFY2(r.ok, qPrintable(r.error));
        ZQPlayerInferfaceController c;
        QVERIFY(open_camera(c, r.root_path, QStringLiteral("Camera 3")));
        qint64 clock = 1'000'000'000;
        c.reader()->set_clock([&clock] { return clock; });
        c.set_playback_rate(rate);
        c.set_zqstream_reader_read_timestamp(QString::number(from));
        QCOMPARE(c.state(), 1);
        LogCapture logs;
        QSignalSpy stopped(&c, &ZQPlayerInferfaceController::stopRead);
        for (int i = 0; i < 200 && zqtest::fire_read_timer(*c.reader(), clock, 0); ++i) {
            if (reaches >= 0 && (c.get_current_read_time_is_ms() - reaches) * rate >= 0)
                break;
        }
        if (reaches < 0) {
            QCOMPARE(c.state(), 0);
            QCOMPARE(stopped.size(), 1);
        } else {
            QVERIFY2((c.get_current_read_time_is_ms() - reaches) * rate >= 0,
                     qPrintable(QString::number(c.get_current_read_time_is_ms())));
            QCOMPARE(c.state(), 1);
            QCOMPARE(stopped.size(), 0);
        }
        QCOMPARE(logs.count(QStringLiteral("next :: no frame")) + logs.count(QStringLiteral("prev :: no frame")), 0);
    }

    // ---- File changes (reached only by direct calls) ----

    void set_file()
    {
        auto c = make();
        c->set_file(QStringLiteral("next"));  // nothing plays: nothing happens
        QVERIFY(c->current_file().isEmpty());
        c->set_zqstream_reader_read_timestamp(QString::number(ms_of(10, 15, 10)));
        c->set_file(QStringLiteral("next"));
        QCOMPARE(QFileInfo(c->current_file()).absoluteDir().dirName(), QStringLiteral("101700"));
        c->set_file(QStringLiteral("previous"));
        QCOMPARE(QFileInfo(c->current_file()).absoluteDir().dirName(), QStringLiteral("101500"));
        c->set_file(QStringLiteral("previous"));  // no earlier file: stays
        QCOMPARE(QFileInfo(c->current_file()).absoluteDir().dirName(), QStringLiteral("101500"));
        c->set_zqstream_reader_read_timestamp(QString::number(ms_of(23, 59, 40)));
        c->set_file(QStringLiteral("next"));  // the last: stays
        QCOMPARE(QFileInfo(c->current_file()).absoluteDir().dirName(), QStringLiteral("235930"));
        c->pause_button();
        c->set_file(QStringLiteral("previous"));
        QCOMPARE(QFileInfo(c->current_file()).absoluteDir().dirName(), QStringLiteral("101900"));
        QCOMPARE(c->state(), 2);
        // Paused means the reader does not read either, and Play resumes it.
        QVERIFY(!c->reader()->get_read_timer() || !c->reader()->get_read_timer()->isActive());
        c->start_button();
        QCOMPARE(c->state(), 1);
        QVERIFY(c->reader()->get_read_timer() && c->reader()->get_read_timer()->isActive());
    }

    // ---- The tile ----

    // The picture of a seek reaches the tile; the snapshots are offered under
    // the time of the frame on screen.
    void tile_and_snapshots()
    {
        RecordingUi* ui = nullptr;
        auto c = make(&ui);
        Canvas canvas(nullptr);
        canvas.set_stream_start(false);
        canvas.set_external_source();
        canvas.resize(160, 120);
        c->set_canvas(&canvas);
        connect(c->reader(), &ZQStreamReadAndControl::set_display_frame, &canvas, &Canvas::displayFrame,
                Qt::QueuedConnection);
        c->set_zqstream_reader_read_timestamp(QString::number(ms_of(10, 17, 30)));
        c->pause_button();
        QTRY_COMPARE(canvas.get_current_timestamp(), QStringLiteral("2024-01-01 10:17:30.000"));
        const ZQFixture::PatternValue v = ZQFixture::read_pattern(canvas.get_frame_image());
        QVERIFY(v.valid);
        QCOMPARE(v.camera, 1);
        QCOMPARE(v.time_ms(), ms_of(10, 17, 30));

        c->snapshot_full_button();
        c->snapshot_button();
        QCOMPARE(ui->snapshots, QStringList({"2024-01-01 10:17:30.000.jpg", "2024-01-01 10:17:30.000.jpg"}));

        // A camera change ends the tile's stream.
        c->set_selected_camera(QStringLiteral("Camera 2"));
        QTRY_COMPARE(canvas.get_current_timestamp(), QStringLiteral("2024-01-01 10:17:30.000"));
        c->set_canvas(nullptr);
    }

    // ---- What the widget player uses ----

    void widget_player_lists()
    {
        auto c = make();
        const QFileInfoList days = c->get_days_list(m_root);
        QCOMPARE(days.size(), 2);
        QCOMPARE(days[0].fileName(), QStringLiteral("2024-01-01"));
        QCOMPARE(days[1].fileName(), QStringLiteral("2024-01-02"));
        QVERIFY(c->zqnfo_with_multiple_directory(m_day1).isEmpty());
        QVERIFY(ZQPlayerInferfaceController::file_list_contains_name(c->day_video_list(),
                                                                     QStringLiteral("2_20240101_101700.zqvideo")));
        QVERIFY(!ZQPlayerInferfaceController::file_list_contains_name(c->day_video_list(),
                                                                      QStringLiteral("2_20240101_101700.ZQVIDEO")));
        QCOMPARE(c->day_audio_list_string(), QStringList{});
        c->clear_day_video_list();
        QVERIFY(c->day_video_list().isEmpty());
        QVERIFY(c->day_timestamp_list().isEmpty());
        c->clear_day_alarm_list();
        QVERIFY(c->day_alarm_list_string().isEmpty());
    }

    // ---- Alarm pictures ----

    // Camera ids are read one way: "01_", "+1_" and " 1_" recordings are not camera 1's, so a
    // seek at their time finds nothing for camera 1 instead of playing them under its name.
    void camera_ids_read_one_way()
    {
        QTemporaryDir dir;
        const ZQFixture::Result r = write_small(dir.path(), 1, 1, 2);
        QVERIFY2(r.ok, qPrintable(r.error));
        const QString folder = QDir(r.root_path).filePath(QStringLiteral("2024-01-01/090100"));
        QVERIFY(QDir().mkpath(folder));
        for (const QString& camera : {QStringLiteral("01"), QStringLiteral("+1"), QStringLiteral(" 1")}) {
            QVERIFY(QFile::copy(r.files[0].data_path, folder + "/" + camera + "_20240101_090100.zqvideo"));
            QVERIFY(QFile::copy(r.files[0].seek_path, folder + "/" + camera + "_20240101_090100.zqseek"));
        }
        ZQPlayerInferfaceController c;
        c.set_ui(std::make_unique<RecordingUi>());
        c.get_available_days(r.root_path);
        c.set_selected_date(QStringLiteral("2024-01-01"));
        QCOMPARE(load_day(&c, QStringLiteral("2024-01-01")), QStringList{QStringLiteral("Camera 1")});
        c.set_selected_camera(QStringLiteral("Camera 1"));
        c.set_zqstream_reader_read_timestamp(QString::number(ms_of(9, 1, 1)));
        QVERIFY2(c.current_file().isEmpty(), qPrintable(c.current_file()));
        c.set_zqstream_reader_read_timestamp(QString::number(ms_of(9, 0, 1)));
        QCOMPARE(QFileInfo(c.current_file()).fileName(), QStringLiteral("1_20240101_090000.zqvideo"));
    }

    // Two cameras of one name are told apart by id; tags hand on capped plain texts only, and a
    // tag whose time cannot be is not listed.
    void same_names_and_hostile_tags()
    {
        QTemporaryDir dir;
        ZQFixture::Result r = write_small(dir.path(), 1, 1, 2);
        QVERIFY2(r.ok, qPrintable(r.error));
        r = write_small(dir.path(), 2, 1, 2);
        QVERIFY2(r.ok, qPrintable(r.error));
        const QString day = QDir(r.root_path).filePath(QStringLiteral("2024-01-01"));
        QVERIFY(ZQFile::create_zqnfo_index_file(QFileInfo(day + "/index.zqnfo"),
                                                {{1, QStringLiteral("Quai")}, {2, QStringLiteral("Quai")}}));
        QJsonObject big{{"tag_cam_id", 2}, {"tag_datetime", "20240101090001"},
                        {"tag_name", QString(200000, QLatin1Char('n'))},
                        {"tag_description", QString(50000, QLatin1Char('d'))},
                        {"tag_extra", QJsonArray{1, 2, 3}}};
        write_tag(day + "/090000/big.zqtag", big);
        write_tag(day + "/090000/never.zqtag",
                  {{"tag_cam_id", 2}, {"tag_datetime", "20240101999999"}, {"tag_name", "Jamais"}});

        ZQPlayerInferfaceController c;
        c.set_ui(std::make_unique<RecordingUi>());
        c.get_available_days(r.root_path);
        c.set_selected_date(QStringLiteral("2024-01-01"));
        QCOMPARE(load_day(&c, QStringLiteral("2024-01-01")), (QStringList{"Quai", "Quai"}));
        QCOMPARE(c.camera_ids(), (QList<int>{1, 2}));
        c.set_selected_camera_id(2);
        QCOMPARE(c.camera_id(), 2);
        QCOMPARE(c.selected_camera(), QStringLiteral("Quai"));
        c.set_zqstream_reader_read_timestamp(QString::number(ms_of(9, 0, 1)));
        QCOMPARE(QFileInfo(c.current_file()).fileName(), QStringLiteral("2_20240101_090000.zqvideo"));

        const QVariantList tags = c.day_tags_list_string();
        QCOMPARE(tags.size(), 1);
        const QVariantMap tag = tags.first().toMap();
        QCOMPARE(tag.value("tag_name").toString().size(), 1000);
        QCOMPARE(tag.value("tag_description").toString().size(), 10000);
        QCOMPARE(tag.value("tag_datetime").toString(), QStringLiteral("20240101090001"));
        QVERIFY(!tag.contains("tag_extra"));

        c.set_selected_camera_id(7);
        QCOMPARE(c.camera_id(), -1);
    }

    // A tag hidden from the day's fingerprint (a hidden name, or beside the day) listed in a stored
    // index that is otherwise current: the index is built again and the forged marker is never
    // shown, while the day's own tag still is.
    void forged_index_tag_data()
    {
        QTest::addColumn<QString>("forged"); // relative to the day folder
        QTest::newRow("hidden name") << QStringLiteral("090000/.forged.zqtag");
        QTest::newRow("beside the day") << QStringLiteral("../forged.zqtag");
    }
    void forged_index_tag()
    {
        QFETCH(QString, forged);
        QTemporaryDir dir;
        const ZQFixture::Result r = write_small(dir.path(), 1, 1, 2);
        QVERIFY2(r.ok, qPrintable(r.error));
        const QString day = QDir(r.root_path).filePath(QStringLiteral("2024-01-01"));
        write_tag(day + "/090000/real.zqtag",
                  {{"tag_cam_id", 1}, {"tag_datetime", "20240101090001"}, {"tag_name", "Vrai"}});
        {
            ZQPlayerInferfaceController c;
            c.set_ui(std::make_unique<RecordingUi>());
            c.get_available_days(r.root_path);
            c.set_selected_date(QStringLiteral("2024-01-01"));
            QVERIFY(!load_day(&c, QStringLiteral("2024-01-01")).isEmpty());
            QCOMPARE(c.day_tags_list().size(), 1);
        }
        const QString forgedPath = QDir::cleanPath(day + QLatin1Char('/') + forged);
        write_tag(forgedPath, {{"tag_cam_id", 1}, {"tag_datetime", "20240101090002"}, {"tag_name", "Faux"}});
        const QString fingerprint = DayIndex::fingerprint(day);
        QFile index(day + "/zqvideoindex.json");
        QVERIFY(index.open(QIODevice::ReadOnly));
        QJsonObject object = QJsonDocument::fromJson(index.readAll()).object();
        index.close();
        QCOMPARE(object.value("last_modified").toString(), fingerprint);
        QJsonArray tags = object.value("zqtag_files").toArray();
        tags.append(forgedPath);
        object.insert("zqtag_files", tags);
        write_file(day + "/zqvideoindex.json", QJsonDocument(object).toJson(QJsonDocument::Compact));
        QCOMPARE(DayIndex::fingerprint(day), fingerprint);

        ZQPlayerInferfaceController c;
        c.set_ui(std::make_unique<RecordingUi>());
        c.get_available_days(r.root_path);
        c.set_selected_date(QStringLiteral("2024-01-01"));
        QVERIFY(!load_day(&c, QStringLiteral("2024-01-01")).isEmpty());
        c.set_selected_camera_id(1);
        QStringList names;
        for (const QVariant& tag : c.day_tags_list_string())
            names << tag.toMap().value("tag_name").toString();
        QCOMPARE(names, QStringList{QStringLiteral("Vrai")});
        for (const QFileInfo& f : c.day_tags_list())
            QVERIFY2(f.absoluteFilePath() != forgedPath, qPrintable(forgedPath));
    }

    // A stored index cut short, its fingerprint kept: no file of the day changed, so the
    // fingerprint still matches, yet the index hides a file. It is not trusted: the day is built
    // again within the first ask, and the next ask shows every file.
    void cut_index_data()
    {
        QTest::addColumn<QString>("list");
        QTest::addColumn<QString>("cut"); // name of the file taken out of that list
        QTest::newRow("a recording") << QStringLiteral("zqvideo_files") << QStringLiteral("1_20240101_090010.zqvideo");
        QTest::newRow("a tag") << QStringLiteral("zqtag_files") << QStringLiteral("b.zqtag");
        QTest::newRow("an alarm picture") << QStringLiteral("zqalarm_files") << QStringLiteral("1_4_20240101_090012.jpg");
        QTest::newRow("a preview") << QStringLiteral("zqpreview_files") << QStringLiteral("1_20240101_090000_preview.jpg");
    }
    void cut_index()
    {
        QFETCH(QString, list);
        QFETCH(QString, cut);
        QTemporaryDir dir;
        const ZQFixture::Result r = write_small(dir.path(), 1, 6, 10);
        QVERIFY2(r.ok, qPrintable(r.error));
        const QString day = QDir(r.root_path).filePath(QStringLiteral("2024-01-01"));
        const QString first = QFileInfo(r.files.first().data_path).absolutePath();
        write_tag(first + "/a.zqtag", {{"tag_cam_id", 1}, {"tag_datetime", "20240101090001"}, {"tag_name", "Un"}});
        write_tag(first + "/b.zqtag", {{"tag_cam_id", 1}, {"tag_datetime", "20240101090012"}, {"tag_name", "Deux"}});
        write_file(first + "/1_4_20240101_090012.jpg", "jpg");
        write_file(first + "/1_20240101_090000_preview.jpg", "jpg");
        auto open = [&](ZQPlayerInferfaceController& c) {
            c.set_ui(std::make_unique<RecordingUi>());
            c.get_available_days(r.root_path);
            c.set_selected_date(QStringLiteral("2024-01-01"));
        };
        auto counts = [](ZQPlayerInferfaceController& c) {
            c.set_selected_camera(QStringLiteral("Camera 1"));
            return QList<qsizetype>{c.day_timestamp_list().size(), c.day_tags_list_string().size(),
                                    c.day_alarm_list_string().size(), c.day_preview_list_string().size()};
        };
        const QList<qsizetype> whole{6, 2, 1, 1};
        {
            ZQPlayerInferfaceController c;
            open(c);
            QCOMPARE(zqtest::open_day(c, QStringLiteral("2024-01-01")), QStringList{"Camera 1"});
            QCOMPARE(counts(c), whole);
        }

        QFile index(day + "/zqvideoindex.json");
        QVERIFY(index.open(QIODevice::ReadOnly));
        QJsonObject object = QJsonDocument::fromJson(index.readAll()).object();
        index.close();
        const QString fingerprint = object.value("last_modified").toString();
        QJsonArray kept;
        for (const QJsonValue& v : object.value(list).toArray()) {
            if (!v.toString().endsWith(QLatin1Char('/') + cut))
                kept.append(v);
        }
        QCOMPARE(kept.size(), object.value(list).toArray().size() - 1);
        object.insert(list, kept);
        write_file(day + "/zqvideoindex.json", QJsonDocument(object).toJson(QJsonDocument::Compact));
        QCOMPARE(DayIndex::fingerprint(day), fingerprint);

        ZQPlayerInferfaceController c;
        open(c);
        QSignalSpy start(&c, &ZQPlayerInferfaceController::startIndexGeneration);
        c.get_cameras_for_date(QStringLiteral("2024-01-01"));
        QCOMPARE(start.size(), 1);
        QTRY_VERIFY_WITH_TIMEOUT(!c.is_indexing(), 30000);
        QCOMPARE(c.get_cameras_for_date(QStringLiteral("2024-01-01")), QStringList{"Camera 1"});
        QCOMPARE(counts(c), whole);
        QVERIFY(c.day_timestamp_list().contains(ms_of(9, 0, 10)));
    }

    void alarm_popup()
    {
        RecordingUi* ui = nullptr;
        auto c = make(&ui);
        const QString thumb = QDir(m_day1).filePath(QStringLiteral("101500/1_12_20240101_101530-thumb.jpg"));
        c->open_alarm_popup(thumb);
        c->open_alarm_popup(QUrl::fromLocalFile(thumb).toString());
        QCOMPARE(ui->alarms, QStringList({thumb + "|Entrée", thumb + "|Entrée"}));
        c->snapshot_full_button();  // no tile: nothing
        QVERIFY(ui->snapshots.isEmpty());
    }
};

QTEST_MAIN(TestController)
#include "test_controller.moc"
