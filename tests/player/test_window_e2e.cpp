// End to end: the real main window opens a generated storage folder by
// itself (the program lies inside the storage root), plays it, and the
// timeline, its cursor and the tile show the right things.
//
// The test program runs three times: first it writes two storage folders (the
// second one's newest day has no recording) and places a hard link to itself
// inside each root, then it runs each link, which builds the window on that
// folder. Set ZQ_SCREENSHOT to a file name to keep a picture of the window.

#include "player/alarm_viewer.h"
#include "player/preview_popup.h"
#include "player/zq_player_inferface_controller.h"
#include "player/zq_player_qmlpresentation.h"
#include "playback/zq_stream_read_and_control.h"
#include "recordings/zq_index_manager.h"
#include "tests/player/e2e_child.h"
#include "tests/recordings/log_capture.h"
#include "tools/zqfixture/lib/fixture_metadata.h"
#include "tools/zqfixture/lib/fixture_pattern.h"
#include "tools/zqfixture/lib/fixture_writer.h"
#include "view/canvas.h"

#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QMessageBox>
#include <QSignalSpy>
#include <QTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QQuickItem>
#include <QQuickWidget>
#include <QSplitter>
#include <QElapsedTimer>
#include <QTest>
#include <QTextStream>

namespace {

const char* kRootId = "zqcore_ab12-cd34-ef56-7890";
const char* kEmptyNewestRootId = "zqcore_ab12-cd34-ef56-7891";
const QTime kFirstStart(9, 15, 0);
constexpr int kRecordings = 6; // 09:15:00 to 09:21:00

qint64 msOf(const QTime& t)
{
    return t.msecsSinceStartOfDay();
}

QQuickItem* itemProperty(QObject* object, const char* name)
{
    return object ? object->property(name).value<QQuickItem*>() : nullptr;
}

double callDouble(QObject* object, const char* method, double arg)
{
    QVariant result;
    QMetaObject::invokeMethod(object, method, Q_RETURN_ARG(QVariant, result), Q_ARG(QVariant, arg));
    return result.toDouble();
}

bool isRecordingRed(QRgb c)
{
    return qRed(c) > 140 && qGreen(c) < 70 && qBlue(c) < 70;
}

bool isCursorCyan(QRgb c)
{
    return qRed(c) < 110 && qGreen(c) > 190 && qBlue(c) > 190;
}

// True when one of the arguments names a test function of that class (with or without a data tag).
bool namesFunctionOf(const QMetaObject& mo, const QStringList& args)
{
    for (const QString& a : args) {
        const QString name = a.section(QLatin1Char(':'), 0, 0);
        for (int i = mo.methodOffset(); i < mo.methodCount(); ++i) {
            if (QString::fromLatin1(mo.method(i).name()) == name)
                return true;
        }
    }
    return false;
}

int runParent(int argc, char** argv, const QMetaObject& first, const QMetaObject& second)
{
    QCoreApplication app(argc, argv);
    QTextStream err(stderr);

    const QString base = QDir::home().filePath(QStringLiteral("e2e"));
    QDir(base).removeRecursively();
    QDir().mkpath(base);

    ZQFixture::Options o;
    o.output_parent = base;
    o.root_id = QString::fromLatin1(kRootId);
    o.dates = {QDate(2025, 6, 18), QDate(2025, 6, 19)};
    o.cameras = {1, 2};
    o.start_time = kFirstStart;
    o.recordings_per_camera = kRecordings;
    o.size = QSize(320, 240);
    o.fps = 10;
    o.gop = 10;
    const ZQFixture::Result r = ZQFixture::write(o);
    if (!r.ok) {
        err << "fixture: " << r.error << Qt::endl;
        return 1;
    }
    // Two days without recordings before the recorded ones: one with an empty start-time
    // folder, one with no folder at all.
    QDir(r.root_path).mkpath(QStringLiteral("2025-06-17/120000"));
    QDir(r.root_path).mkpath(QStringLiteral("2025-06-16"));
    ZQFixture::MetadataOptions m;
    m.camera_names = {{1, QStringLiteral("Entrée Nord")}, {2, QStringLiteral("Parking")}};
    const ZQFixture::MetadataResult mr = ZQFixture::write_metadata(r.root_path, m);
    if (!mr.ok) {
        err << "metadata: " << mr.error << Qt::endl;
        return 1;
    }

    // A second storage folder whose newest day has no recording: a start-time folder without
    // files, after a day with two recordings of one camera.
    ZQFixture::Options e = o;
    e.root_id = QString::fromLatin1(kEmptyNewestRootId);
    e.dates = {QDate(2025, 6, 18)};
    e.cameras = {1};
    e.recordings_per_camera = 2;
    const ZQFixture::Result er = ZQFixture::write(e);
    if (!er.ok) {
        err << "fixture: " << er.error << Qt::endl;
        return 1;
    }
    QDir(er.root_path).mkpath(QStringLiteral("2025-06-20/120000"));

    const QString inside = zqtest::place_program_in(r.root_path);
    const QString insideEmptyNewest = zqtest::place_program_in(er.root_path);
    if (inside.isEmpty() || insideEmptyNewest.isEmpty()) {
        err << "cannot place the program in the storage folders" << Qt::endl;
        return 1;
    }

    const QStringList args = zqtest::arguments_of(argc, argv);
    // Functions named on the command line run in the child of their class only.
    const bool forFirst = namesFunctionOf(first, args);
    const bool forSecond = namesFunctionOf(second, args);
    auto runChild = [&args](const QString& program, const QString& root, const char* which) {
        const QHash<QString, QString> vars{{QStringLiteral("ZQ_E2E_CHILD"), QString::fromLatin1(which)},
                                           {QStringLiteral("ZQ_E2E_ROOT"), root}};
        return zqtest::run_child(program, vars, args, 330000);
    };
    int failed = 0;
    if (forFirst || !forSecond)
        failed += runChild(inside, r.root_path, "1") != 0;
    if (forSecond || !forFirst)
        failed += runChild(insideEmptyNewest, er.root_path, "2") != 0;
    return failed;
}

} // namespace

class TestWindowE2E : public QObject
{
    Q_OBJECT

private slots:
    void opensPlaysAndSeeks();
    void readingEndShowsPlay_data();
    void readingEndShowsPlay();
    void seekIntoNothing_data();
    void seekIntoNothing();
    void seekIntoUnreadableRecording_data();
    void seekIntoUnreadableRecording();
    void fastSpeedsAtTheirLabel_data();
    void fastSpeedsAtTheirLabel();
    void dayWithoutRecordingsEmptiesTheTimeline();
    void closeDuringIndexRebuild();
};

namespace {

// The item of that name among the visual descendants (Repeater delegates are no QObject children).
QQuickItem* findItem(QQuickItem* item, const QString& name)
{
    if (!item)
        return nullptr;
    if (item->objectName() == name)
        return item;
    for (QQuickItem* child : item->childItems()) {
        if (QQuickItem* found = findItem(child, name))
            return found;
    }
    return nullptr;
}

// Answers the message boxes the window opens (a day without recordings has its warning) and
// keeps their texts.
struct BoxAnswerer
{
    QStringList texts;
    QTimer timer;
    BoxAnswerer()
    {
        timer.setInterval(50);
        QObject::connect(&timer, &QTimer::timeout, [this] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                texts << box->text();
                box->accept();
            }
        });
        timer.start();
    }
};

// The window opened by itself on its storage folder, playing the last day.
struct OpenWindow
{
    ZQ_Player_qmlpresentation window{nullptr};
    QQuickItem* home = nullptr;
    QQuickItem* timeline = nullptr;
    QQuickItem* controls = nullptr;

    bool open()
    {
        window.resize(1600, 900);
        window.show();
        if (!QTest::qWaitForWindowExposed(&window))
            return false;
        home = itemProperty(window.sidePanel()->rootObject(), "homePanel");
        timeline = itemProperty(window.timelinePanel()->rootObject(), "timeline");
        controls = itemProperty(window.timelinePanel()->rootObject(), "controls");
        if (!home || !timeline || !controls)
            return false;
        return QTest::qWaitFor([&] { return timeline->property("videoSegments").toList().size() == kRecordings; },
                               60000)
               && QTest::qWaitFor([&] { return !window.canvas()->get_frame_image().isNull(); }, 30000);
    }

    // Clicks a button of the controls row by its object name.
    void click(const char* name)
    {
        QQuickItem* button = findItem(controls, QLatin1String(name));
        QVERIFY2(button, name);
        const QPointF centre = button->mapToScene(QPointF(button->width() / 2, button->height() / 2));
        QTest::mouseClick(window.timelinePanel(), Qt::LeftButton, {}, centre.toPoint());
    }

    // Clicks the timeline at a time of the day, zoomed on the recordings so that a pixel is a
    // few seconds.
    void clickTimeline(qint64 ms)
    {
        QMetaObject::invokeMethod(timeline, "fitContentToTimeline", Q_ARG(QVariant, double(msOf(kFirstStart))),
                                  Q_ARG(QVariant, double(msOf(kFirstStart) + kRecordings * 60000)));
        const double x = callDouble(timeline, "msToX", double(ms));
        const QPointF at = timeline->mapToScene(QPointF(x, timeline->property("barY").toDouble() + 5));
        QTest::mouseClick(window.timelinePanel(), Qt::LeftButton, {}, at.toPoint());
    }

    // Clicks the timeline and waits until the click has sought (200 ms later).
    bool seekTimeline(qint64 ms)
    {
        auto* timer = timeline->property("clickTimer").value<QObject*>();
        if (!timer)
            return false;
        clickTimeline(ms);
        return timer->property("running").toBool()
               && QTest::qWaitFor([timer] { return !timer->property("running").toBool(); }, 5000);
    }

    // The reader's timer runs.
    bool ticking() const
    {
        const QTimer* t = window.controller()->reader()->get_read_timer();
        return t && t->isActive();
    }

    // Reading, moved by a timeline click to `from` (the window starts playing by itself).
    bool playFrom(const QTime& from)
    {
        if (!QTest::qWaitFor([this] { return playIcon() == QStringLiteral("pause"); }, 10000))
            return false;
        clickTimeline(msOf(from));
        return QTest::qWaitFor(
            [&] { return std::abs(window.controller()->get_current_read_time_is_ms() - msOf(from)) < 3000; }, 10000);
    }

    QString playIcon() const
    {
        QQuickItem* button = findItem(controls, QStringLiteral("playPause"));
        return button ? button->property("iconSource").toString() : QString();
    }
};

} // namespace

// Reading that runs past the day's last recording (or, backward, its first) ends by itself: the
// controls show Play, and Play starts reading again from there.
void TestWindowE2E::readingEndShowsPlay_data()
{
    QTest::addColumn<QByteArray>("speed"); // button of the speed
    QTest::addColumn<QTime>("from");
    QTest::newRow("8x past the last recording") << QByteArray("speed7") << QTime(9, 20, 52);
    QTest::newRow("-8x past the first recording") << QByteArray("speed0") << QTime(9, 15, 8);
}

void TestWindowE2E::readingEndShowsPlay()
{
    QFETCH(QByteArray, speed);
    QFETCH(QTime, from);
    OpenWindow w;
    QVERIFY(w.open());
    ZQPlayerInferfaceController* controller = w.window.controller();
    QVERIFY(w.playFrom(from));
    QSignalSpy stopped(controller, &ZQPlayerInferfaceController::stopRead);
    w.click(speed.constData());
    QCOMPARE(controller->playback_rate(), speed == "speed7" ? 8 : -8);
    QCOMPARE(w.playIcon(), QStringLiteral("pause"));

    // The reader runs off the day's recordings and stops: the controls show it.
    QTRY_COMPARE_WITH_TIMEOUT(controller->state(), 0, 20000);
    QTRY_COMPARE_WITH_TIMEOUT(w.playIcon(), QStringLiteral("play"), 5000);
    QCOMPARE(stopped.size(), 1);

    // Play reads again from there, until the reading ends again.
    QSignalSpy started(controller, &ZQPlayerInferfaceController::startRead);
    w.click("playPause");
    QVERIFY(!started.isEmpty());
    QCOMPARE(controller->state() == 1 || stopped.size() == 2, true);
    QTRY_COMPARE_WITH_TIMEOUT(stopped.size(), 2, 20000);
    QCOMPARE(w.playIcon(), QStringLiteral("play"));
}

// A seek into a time without recordings (after the last one, before the first) while nothing
// plays leaves the controls showing Play, and Play then does what it says; while playing, the
// reading goes on and Pause stays. Seeks by the +/- buttons and by a timeline click.
void TestWindowE2E::seekIntoNothing_data()
{
    QTest::addColumn<QByteArray>("speed");  // speed button clicked first, or empty for 1x
    QTest::addColumn<QTime>("from");        // where reading starts
    QTest::addColumn<QString>("before");    // "end": reading runs off the recordings; "pause"; "play"
    QTest::addColumn<QByteArray>("seek");   // seek button, or empty for a timeline click at `at`
    QTest::addColumn<QTime>("at");
    QTest::addColumn<bool>("playing");      // reading goes on after the seek

    const QTime none;
    QTest::newRow("ended forward, +5 s") << QByteArray("speed7") << QTime(9, 20, 52) << "end" << QByteArray("more5")
                                         << none << false;
    QTest::newRow("ended backward, -5 s") << QByteArray("speed0") << QTime(9, 15, 8) << "end" << QByteArray("back5")
                                          << none << false;
    QTest::newRow("ended forward, click after the last") << QByteArray("speed7") << QTime(9, 20, 52) << "end"
                                                         << QByteArray() << QTime(9, 21, 15) << false;
    QTest::newRow("ended backward, click before the first") << QByteArray("speed0") << QTime(9, 15, 8) << "end"
                                                            << QByteArray() << QTime(9, 14, 45) << false;
    QTest::newRow("paused, +30 s past the last") << QByteArray() << QTime(9, 20, 45) << "pause" << QByteArray("more30")
                                                 << none << false;
    QTest::newRow("paused, -10 s before the first") << QByteArray() << QTime(9, 15, 5) << "pause"
                                                    << QByteArray("back10") << none << false;
    QTest::newRow("reading, +30 s past the last") << QByteArray() << QTime(9, 20, 35) << "play" << QByteArray("more30")
                                                  << none << true;
    QTest::newRow("reading, click after the last") << QByteArray() << QTime(9, 17, 0) << "play" << QByteArray()
                                                   << QTime(9, 21, 30) << true;
}

void TestWindowE2E::seekIntoNothing()
{
    QFETCH(QByteArray, speed);
    QFETCH(QTime, from);
    QFETCH(QString, before);
    QFETCH(QByteArray, seek);
    QFETCH(QTime, at);
    QFETCH(bool, playing);
    OpenWindow w;
    QVERIFY(w.open());
    ZQPlayerInferfaceController* controller = w.window.controller();
    QVERIFY(w.playFrom(from));
    if (!speed.isEmpty())
        w.click(speed.constData());
    if (before == QLatin1String("end")) {
        QTRY_COMPARE_WITH_TIMEOUT(controller->state(), 0, 20000);
        QTRY_COMPARE_WITH_TIMEOUT(w.playIcon(), QStringLiteral("play"), 5000);
    } else if (before == QLatin1String("pause")) {
        w.click("playPause");
        QCOMPARE(controller->state(), 2);
        QCOMPARE(w.playIcon(), QStringLiteral("play"));
    }
    QVERIFY(w.ticking() == (before == QLatin1String("play")));
    const int shownBefore = controller->get_current_read_time_is_ms();

    QSignalSpy stopped(controller, &ZQPlayerInferfaceController::stopRead);
    QSignalSpy started(controller, &ZQPlayerInferfaceController::startRead);
    if (!seek.isEmpty()) {
        w.click(seek.constData());
    } else {
        QVERIFY(w.seekTimeline(msOf(at)));
    }
    QVERIFY(started.isEmpty());  // nothing is there to play
    if (playing) {
        QCOMPARE(w.playIcon(), QStringLiteral("pause"));
        QCOMPARE(controller->state(), 1);
        QVERIFY(w.ticking());
        QVERIFY(stopped.isEmpty());
        // Reading goes on from where it was.
        QTRY_VERIFY_WITH_TIMEOUT(controller->get_current_read_time_is_ms() > shownBefore, 10000);
        // The toggle pauses.
        w.click("playPause");
        QCOMPARE(controller->state(), 2);
        QCOMPARE(w.playIcon(), QStringLiteral("play"));
        return;
    }
    QCOMPARE(w.playIcon(), QStringLiteral("play"));
    QCOMPARE(stopped.size(), 1);
    QVERIFY(!w.ticking());
    QCOMPARE(controller->get_current_read_time_is_ms(), shownBefore);

    // Play reads again: from where the reading ended, or on from the pause.
    w.click("playPause");
    QCOMPARE(w.playIcon(), QStringLiteral("pause"));
    QCOMPARE(controller->state(), 1);
    if (before == QLatin1String("pause")) {
        QVERIFY(w.ticking());
    } else {
        QVERIFY(!started.isEmpty());
        // At 8x the reading runs off the recordings again at once.
        QTRY_COMPARE_WITH_TIMEOUT(w.playIcon(), QStringLiteral("play"), 20000);
    }
}

// A recording whose seek index holds only lines that are not seek lines (its video file is
// intact: camera 1's 09:18 of the last day, damaged once the day is shown) is a time without
// recordings. A timeline click into it while reading leaves Pause shown and the reading going on
// where it was; while paused, the controls show Play and Play resumes. Reading on at 8x walks past
// it into 09:19. No startRead, and never a log line per tick.
void TestWindowE2E::seekIntoUnreadableRecording_data()
{
    QTest::addColumn<bool>("paused");
    QTest::newRow("reading") << false;
    QTest::newRow("paused") << true;
}

void TestWindowE2E::seekIntoUnreadableRecording()
{
    QFETCH(bool, paused);
    const QString seek = QDir(qEnvironmentVariable("ZQ_E2E_ROOT"))
                             .filePath(QStringLiteral("2025-06-19/091800/1_20250619_091800.zqseek"));
    QFile file(seek);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray original = file.readAll();
    const QDateTime modified = file.fileTime(QFileDevice::FileModificationTime);
    file.close();
    // Put back as it was, whatever happens below: the other tests play it.
    struct Restore
    {
        QString path;
        QByteArray bytes;
        QDateTime modified;
        ~Restore()
        {
            QFile f(path);
            if (f.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
                f.write(bytes);
                f.setFileTime(modified, QFileDevice::FileModificationTime);
            }
        }
    } restore{seek, original, modified};

    OpenWindow w;
    QVERIFY(w.open());
    ZQPlayerInferfaceController* controller = w.window.controller();
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write("# seek index of 09:18\nthis line is not a seek line\n");
    file.close();
    QVERIFY(w.playFrom(QTime(9, 17, 40)));
    if (paused) {
        w.click("playPause");
        QCOMPARE(controller->state(), 2);
    }

    LogCapture logs;
    QSignalSpy started(controller, &ZQPlayerInferfaceController::startRead);
    QSignalSpy stopped(controller, &ZQPlayerInferfaceController::stopRead);
    const int shown = controller->get_current_read_time_is_ms();
    QVERIFY(w.seekTimeline(msOf(QTime(9, 18, 30))));
    QVERIFY(started.isEmpty());
    QVERIFY(QFileInfo(controller->current_file()).fileName().startsWith(QStringLiteral("1_20250619_0917")));
    if (paused) {
        QCOMPARE(w.playIcon(), QStringLiteral("play"));
        QCOMPARE(stopped.size(), 1);
        QCOMPARE(controller->state(), 2);
        QVERIFY(!w.ticking());
        QCOMPARE(controller->get_current_read_time_is_ms(), shown);
        w.click("playPause");
        QCOMPARE(controller->state(), 1);
        QVERIFY(w.ticking());
    } else {
        QCOMPARE(w.playIcon(), QStringLiteral("pause"));
        QCOMPARE(controller->state(), 1);
        QVERIFY(stopped.isEmpty());
        QVERIFY(w.ticking());
    }
    // Reading goes on from where it was: the time moves on, on the picture too.
    QTRY_VERIFY_WITH_TIMEOUT(controller->get_current_read_time_is_ms() > shown + 1000, 10000);
    QTRY_VERIFY_WITH_TIMEOUT(ZQFixture::read_pattern(w.window.canvas()->get_frame_image()).time_ms() > shown + 1000,
                             5000);

    w.click("speed7");
    QTRY_VERIFY_WITH_TIMEOUT(controller->get_current_read_time_is_ms() >= msOf(QTime(9, 19, 0)), 20000);
    QCOMPARE(w.playIcon(), QStringLiteral("pause"));
    QVERIFY2(logs.count(QStringLiteral("next :: no frame")) + logs.count(QStringLiteral("prev :: no frame")) == 0,
             qPrintable(QString::number(logs.count(QStringLiteral("no frame")))));
    QCOMPARE(logs.count(QStringLiteral("continue read :: frame list is empty")), 1);
}

// The fast speeds advance the time on the picture at their label's speed: the recordings have a
// keyframe a second (10 fps), and the pictures the reader sends to the tile, timed on the wall
// clock from the first after the click to the last, go through the recording at 2, 8 or -8
// seconds per second (within 15 %, for a loaded machine).
void TestWindowE2E::fastSpeedsAtTheirLabel_data()
{
    QTest::addColumn<QByteArray>("speed");
    QTest::addColumn<int>("rate");
    QTest::addColumn<QTime>("from");
    QTest::addColumn<int>("seconds");
    QTest::newRow("2x") << QByteArray("speed5") << 2 << QTime(9, 15, 10) << 8;
    QTest::newRow("8x") << QByteArray("speed7") << 8 << QTime(9, 15, 10) << 5;
    QTest::newRow("-8x") << QByteArray("speed0") << -8 << QTime(9, 20, 50) << 5;
}

void TestWindowE2E::fastSpeedsAtTheirLabel()
{
    QFETCH(QByteArray, speed);
    QFETCH(int, rate);
    QFETCH(QTime, from);
    QFETCH(int, seconds);
    OpenWindow w;
    QVERIFY(w.open());
    ZQPlayerInferfaceController* controller = w.window.controller();
    QVERIFY(w.playFrom(from));

    QElapsedTimer wall;
    wall.start();
    QList<QPair<qint64, qint64>> pictures; // wall clock (ns), time on the picture (ms)
    QObject context;
    connect(controller->reader(), &ZQStreamReadAndControl::set_display_frame, &context, [&](QImage image) {
        const ZQFixture::PatternValue v = ZQFixture::read_pattern(image);
        if (v.valid)
            pictures << qMakePair(wall.nsecsElapsed(), v.time_ms());
    });
    w.click(speed.constData());
    QCOMPARE(controller->playback_rate(), rate);
    pictures.clear(); // from the first picture at that speed
    wall.restart();
    QTRY_VERIFY_WITH_TIMEOUT(wall.elapsed() >= seconds * 1000, (seconds + 5) * 1000);
    QVERIFY(pictures.size() >= 4);
    const double elapsed = (pictures.last().first - pictures.first().first) / 1e9;
    const double advanced = (pictures.last().second - pictures.first().second) / 1000.0;
    const double ratio = advanced / elapsed / rate;
    QVERIFY2(ratio >= 0.85 && ratio <= 1.15,
             qPrintable(QStringLiteral("%1 s of recording in %2 s at %3x (%4 of the label), %5 pictures")
                            .arg(advanced)
                            .arg(elapsed)
                            .arg(rate)
                            .arg(ratio, 0, 'f', 3)
                            .arg(pictures.size())));
}

// A day without recordings, picked in the calendar, leaves nothing of the day shown before: no
// recording, marker, alarm or cursor on the timeline, no alarm or marker in the side lists.
void TestWindowE2E::dayWithoutRecordingsEmptiesTheTimeline()
{
    BoxAnswerer boxes;
    OpenWindow w;
    QVERIFY(w.open());
    QVERIFY(!w.timeline->property("markers").toList().isEmpty());
    QVERIFY(!w.timeline->property("alarms").toList().isEmpty());
    QTRY_VERIFY_WITH_TIMEOUT(w.timeline->property("cursorShown").toBool(), 10000);
    QQuickItem* side = w.window.sidePanel()->rootObject();
    QQuickItem* calendar = itemProperty(w.home, "calendar");
    QVERIFY(calendar);

    for (const int dayOfMonth : {17, 16}) {
        QQuickItem* cell = findItem(calendar, QStringLiteral("day%1").arg(dayOfMonth));
        QVERIFY(cell);
        const QPointF centre = cell->mapToScene(QPointF(cell->width() / 2, cell->height() / 2));
        QTest::mouseClick(w.window.sidePanel(), Qt::LeftButton, {}, centre.toPoint());
        QTRY_COMPARE_WITH_TIMEOUT(w.home->property("selectedDate").toString(),
                                  QStringLiteral("2025-06-%1").arg(dayOfMonth), 5000);
        QTRY_VERIFY_WITH_TIMEOUT(w.timeline->property("videoSegments").toList().isEmpty(), 10000);
        QVERIFY(w.timeline->property("markers").toList().isEmpty());
        QVERIFY(w.timeline->property("alarms").toList().isEmpty());
        QVERIFY(w.timeline->property("previews").toList().isEmpty());
        QVERIFY(!w.timeline->property("cursorShown").toBool());
        QCOMPARE(itemProperty(side, "cameraButton")->property("count").toInt(), 0);
        QCOMPARE(w.window.controller()->state(), 0);
        QCOMPARE(w.playIcon(), QStringLiteral("play"));
    }
    QVERIFY2(boxes.texts.join(QLatin1Char('\n')).contains(QStringLiteral("Aucun enregistrement trouvé dans le dossier")),
             qPrintable(boxes.texts.join(QLatin1Char('\n'))));
}

void TestWindowE2E::opensPlaysAndSeeks()
{
    const QString root = qEnvironmentVariable("ZQ_E2E_ROOT");
    QVERIFY(!root.isEmpty());

    ZQ_Player_qmlpresentation window(nullptr);
    window.setMinimumSize(1600, 900);
    window.resize(1600, 900);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    // Layout: the timeline keeps its height, the side panel its width.
    QCOMPARE(window.timelinePanel()->height(), 250);
    QCOMPARE(window.splitter()->sizes().first(), 350);
    QVERIFY(window.timelinePanel()->status() == QQuickWidget::Ready);
    QVERIFY(window.sidePanel()->status() == QQuickWidget::Ready);

    QQuickItem* side = window.sidePanel()->rootObject();
    QQuickItem* home = itemProperty(side, "homePanel");
    QQuickItem* timeline = itemProperty(window.timelinePanel()->rootObject(), "timeline");
    QVERIFY(home && timeline);

    // The program lies inside the root: the home page opened it and chose its last day.
    QTRY_COMPARE_WITH_TIMEOUT(home->property("selectedDate").toString(), QStringLiteral("2025-06-19"), 30000);
    QCOMPARE(home->property("folderText").toString(), QStringLiteral("/") + QString::fromLatin1(kRootId));
    // Cameras, then the day's lists (after an index build when the folder had none).
    QTRY_VERIFY_WITH_TIMEOUT(timeline->property("videoSegments").toList().size() == kRecordings, 60000);
    QCOMPARE(window.controller()->selected_camera(), QStringLiteral("Entrée Nord"));
    QVERIFY(!timeline->property("alarms").toList().isEmpty());
    QVERIFY(!timeline->property("markers").toList().isEmpty());
    QVERIFY(!timeline->property("previews").toList().isEmpty());

    // Playback starts by itself and frames reach the tile.
    QTRY_VERIFY_WITH_TIMEOUT(!window.canvas()->get_frame_image().isNull(), 30000);
    ZQFixture::PatternValue first = ZQFixture::read_pattern(window.canvas()->get_frame_image());
    QVERIFY(first.valid);
    QCOMPARE(first.camera, 1);

    // Red recording segments where the recordings are, nothing elsewhere.
    auto sceneX = [&](qint64 ms) {
        const double x = callDouble(timeline, "msToX", double(ms));
        return timeline->mapToScene(QPointF(x, 0)).x();
    };
    const double barY = timeline->mapToScene(QPointF(0, timeline->property("barY").toDouble() + 5)).y();
    QImage shot = window.timelinePanel()->grabFramebuffer();
    const qreal dpr = shot.devicePixelRatio();
    auto pixel = [&](const QImage& img, double x, double y) {
        return img.pixel(int(x * dpr), int(y * dpr));
    };
    const qint64 inside = msOf(kFirstStart) + 3 * 60000;
    QVERIFY2(isRecordingRed(pixel(shot, sceneX(inside), barY)), "no recording drawn at 09:18");
    QVERIFY(!isRecordingRed(pixel(shot, sceneX(msOf(QTime(8, 0))), barY)));
    QVERIFY(!isRecordingRed(pixel(shot, sceneX(msOf(QTime(12, 0))), barY)));

    // Zoom on the recordings so that a pixel is a few seconds, then click 09:18:30.
    QMetaObject::invokeMethod(timeline, "fitContentToTimeline", Q_ARG(QVariant, double(msOf(kFirstStart))),
                              Q_ARG(QVariant, double(msOf(kFirstStart) + kRecordings * 60000)));
    const qint64 target = msOf(QTime(9, 18, 30));
    const QPointF clickScene(sceneX(target), barY);
    QTest::mouseClick(window.timelinePanel(), Qt::LeftButton, {}, clickScene.toPoint());

    // The tile shows the picture of the clicked time (playing on from there).
    QTRY_VERIFY_WITH_TIMEOUT(
        [&] {
            const ZQFixture::PatternValue v = ZQFixture::read_pattern(window.canvas()->get_frame_image());
            return v.valid && v.camera == 1 && v.time_ms() >= target - 1000 && v.time_ms() <= target + 3000;
        }(),
        10000);

    // The cyan cursor stands at the clicked time.
    QTRY_VERIFY_WITH_TIMEOUT(timeline->property("cursorShown").toBool(), 5000);
    shot = window.timelinePanel()->grabFramebuffer();
    const double cursorY = barY - 12; // above the bar, where nothing else is drawn
    bool cyan = false;
    const double cursorX = sceneX(timeline->property("currentPosition").toLongLong());
    QVERIFY(std::abs(cursorX - clickScene.x()) < 40);
    for (int dx = -3; dx <= 3 && !cyan; ++dx)
        cyan = isCursorCyan(pixel(shot, cursorX + dx, cursorY));
    if (!cyan)
        shot.save(QDir::home().filePath(QStringLiteral("timeline.png")));
    QVERIFY2(cyan, qPrintable(QStringLiteral("no cyan cursor at x %1 y %2").arg(cursorX).arg(cursorY)));

    // Resting on an alarm flag shows its thumbnail next to the pointer, on screen
    // (the tag flags, drawn above, are taken away: the fixture puts a tag on each alarm).
    timeline->setProperty("markers", QVariantList());
    const QVariantList alarmFlags = timeline->property("alarmFlags").toList();
    QVERIFY(!alarmFlags.isEmpty());
    const qint64 alarmMs = alarmFlags.first().toMap().value(QStringLiteral("ms")).toLongLong();
    const double flagsY = timeline->mapToScene(QPointF(0, timeline->property("flagsY").toDouble() + 12)).y();
    const QPoint flagPoint(qRound(sceneX(alarmMs)), qRound(flagsY));
    // Hover is judged from pointer moves: on a loaded machine the first one may come before the
    // flag is laid out, so the pointer rests there again until the pop-up shows.
    QElapsedTimer hover;
    hover.start();
    for (int i = 0; !window.previewPopup()->isVisible() && hover.elapsed() < 20000; ++i) {
        QTest::mouseMove(window.timelinePanel(), flagPoint + QPoint(i % 2, 0));
        QTest::qWait(250);
    }
    QTRY_VERIFY_WITH_TIMEOUT(window.previewPopup()->isVisible(), 5000);
    QVERIFY(window.previewPopup()->hasPicture());
    const QPoint global = window.timelinePanel()->mapToGlobal(flagPoint);
    const QRect popupRect = window.previewPopup()->geometry();
    QVERIFY2(std::abs(popupRect.center().x() - global.x()) <= 2 && std::abs(popupRect.bottom() + 21 - global.y()) <= 2,
             qPrintable(QStringLiteral("pop-up at %1,%2 %3x%4 for the pointer at %5,%6")
                            .arg(popupRect.x()).arg(popupRect.y()).arg(popupRect.width()).arg(popupRect.height())
                            .arg(global.x()).arg(global.y())));
    QTest::mouseMove(window.timelinePanel(), flagPoint + QPoint(0, 60));
    QTRY_VERIFY(!window.previewPopup()->isVisible());

    // An alarm of the list opens its full picture in a viewer; a snapshot opens the tile's picture.
    auto viewers = [] {
        QList<AlarmViewer*> list;
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (auto* v = qobject_cast<AlarmViewer*>(w); v && v->isVisible())
                list << v;
        }
        return list;
    };
    const QVariantList alarmMaps = window.controller()->day_alarm_list_string();
    QVERIFY(!alarmMaps.isEmpty());
    const QString thumbnail = alarmMaps.first().toMap().value(QStringLiteral("thumbnail")).toString();
    QVERIFY(!thumbnail.isEmpty());
    window.controller()->open_alarm_popup(thumbnail);
    QTRY_COMPARE(viewers().size(), 1);
    AlarmViewer* alarmViewer = viewers().first();
    QVERIFY(alarmViewer->hasPicture());
    QCOMPARE(alarmViewer->currentPath(), QString(thumbnail).remove(QStringLiteral("-thumb")));
    QVERIFY(alarmViewer->suggestedName().startsWith(QStringLiteral("EntréeNord_")));
    alarmViewer->close();
    QTRY_COMPARE(viewers().size(), 0);
    window.controller()->snapshot_full_button();
    QTRY_COMPARE(viewers().size(), 1);
    QVERIFY(viewers().first()->hasPicture());
    QVERIFY(viewers().first()->suggestedName().startsWith(QStringLiteral("2025-06-19 09_")));
    viewers().first()->close();

    // The side panel's fold button narrows the splitter to the tabs; a tab opens it again.
    QMetaObject::invokeMethod(side, "fold");
    const int handle = window.splitter()->handleWidth();
    QCOMPARE(window.splitter()->sizes(), (QList<int>{100, window.width() - 100 - handle}));
    QMetaObject::invokeMethod(side, "selectPage", Q_ARG(QVariant, 1));
    QCOMPARE(window.splitter()->sizes(), (QList<int>{350, window.width() - 350 - handle}));
    QCOMPARE(side->property("currentPage").toInt(), 1);
    // The handle between them does not move under the mouse.
    QVERIFY(!window.splitter()->handle(1)->isEnabled());
    QMetaObject::invokeMethod(side, "selectPage", Q_ARG(QVariant, 0));

    const QString screenshot = qEnvironmentVariable("ZQ_SCREENSHOT");
    if (!screenshot.isEmpty()) {
        QTest::qWait(1500);
        window.grab().save(screenshot);
    }
}

// Closing the window while an index rebuild runs stops the rebuild without
// serving the event loop: the run's end never reaches the QML side (which would
// load the cameras and restart playback in a window being torn down), and no
// build is left running once the window is gone.
void TestWindowE2E::closeDuringIndexRebuild()
{
    auto* window = new ZQ_Player_qmlpresentation(nullptr);
    window->resize(1600, 900);
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window));
    QQuickItem* home = itemProperty(window->sidePanel()->rootObject(), "homePanel");
    QVERIFY(home);
    QTRY_COMPARE_WITH_TIMEOUT(home->property("selectedDate").toString(), QStringLiteral("2025-06-19"), 30000);
    QTRY_VERIFY_WITH_TIMEOUT(!window->controller()->is_indexing(), 60000);

    int ends = 0;
    connect(window->controller(), &ZQPlayerInferfaceController::indexGenerated, this, [&ends] { ++ends; });
    connect(window->controller(), &ZQPlayerInferfaceController::indexFailed, this, [&ends] { ++ends; });
    window->controller()->regenerate_index();
    QVERIFY(window->controller()->is_indexing());
    delete window;

    QCOMPARE(ends, 0);
    QCOMPARE(ZQIndexManager::running_builds(), 0);
}

// The window run from a storage folder whose newest day has no recording.
class TestWindowNewestDayEmpty : public QObject
{
    Q_OBJECT

private slots:
    void regenerationWaitsForCameras();
};

// The window opens the newest day by itself; the index build it starts for that day fails with
// its warning box. No camera was ever loaded: the regeneration button stays disabled and a click
// on it starts nothing. A day with a camera, picked in the calendar, then enables it.
void TestWindowNewestDayEmpty::regenerationWaitsForCameras()
{
    BoxAnswerer boxes;
    ZQ_Player_qmlpresentation window(nullptr);
    window.resize(1600, 900);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    ZQPlayerInferfaceController* controller = window.controller();
    QQuickItem* side = window.sidePanel()->rootObject();
    QQuickItem* home = itemProperty(side, "homePanel");
    QQuickItem* cameras = itemProperty(side, "cameraButton");
    QVERIFY(home && cameras);
    QQuickItem* button = itemProperty(home, "regenerateButton");
    QQuickItem* calendar = itemProperty(home, "calendar");
    QVERIFY(button && calendar);
    auto clickSide = [&window](QQuickItem* item) {
        const QPointF centre = item->mapToScene(QPointF(item->width() / 2, item->height() / 2));
        QTest::mouseClick(window.sidePanel(), Qt::LeftButton, {}, centre.toPoint());
    };

    QTRY_COMPARE_WITH_TIMEOUT(home->property("selectedDate").toString(), QStringLiteral("2025-06-20"), 30000);
    QTRY_VERIFY_WITH_TIMEOUT(boxes.texts.join(QLatin1Char('\n')).contains(QStringLiteral("2025-06-20")), 60000);
    QVERIFY2(boxes.texts.first().startsWith(QStringLiteral("Aucun enregistrement trouvé dans le dossier ")),
             qPrintable(boxes.texts.first()));
    QTRY_VERIFY_WITH_TIMEOUT(!home->property("indexing").toBool() && !controller->is_indexing(), 30000);
    QCOMPARE(itemProperty(home, "indexResult")->property("text").toString(), QStringLiteral("Échec de l’indexation"));
    QCOMPARE(cameras->property("count").toInt(), 0);
    QVERIFY(!button->isEnabled());
    // The box came while the side panel was still opening (its width is animated): clicks wait
    // until the calendar's cells stand still inside the panel.
    QQuickItem* cell = findItem(calendar, QStringLiteral("day18"));
    QVERIFY(cell);
    QPointF lastCentre(-1, -1);
    auto standsStill = [&] {
        const QPointF centre = cell->mapToScene(QPointF(cell->width() / 2, cell->height() / 2));
        const bool still = centre == lastCentre && centre.x() > 0 && centre.x() < side->width();
        lastCentre = centre;
        return still;
    };
    QTRY_VERIFY_WITH_TIMEOUT(standsStill(), 10000);
    QVERIFY(!button->isEnabled());
    QSignalSpy builds(controller, &ZQPlayerInferfaceController::startIndexGeneration);
    clickSide(button);
    QVERIFY(builds.isEmpty());
    QVERIFY(!controller->is_indexing());

    // The recorded day: its cameras load (after the build of its index), and the button works.
    clickSide(cell);
    QTRY_COMPARE_WITH_TIMEOUT(home->property("selectedDate").toString(), QStringLiteral("2025-06-18"), 5000);
    QTRY_VERIFY_WITH_TIMEOUT(cameras->property("count").toInt() == 1 && !controller->is_indexing(), 60000);
    QTRY_VERIFY_WITH_TIMEOUT(button->isEnabled(), 5000);
    builds.clear();
    clickSide(button);
    QCOMPARE(builds.size(), 1);
    QTRY_VERIFY_WITH_TIMEOUT(!controller->is_indexing(), 60000);
    QTRY_VERIFY_WITH_TIMEOUT(button->isEnabled(), 5000);
}

int main(int argc, char** argv)
{
    const QByteArray child = qgetenv("ZQ_E2E_CHILD");
    if (child.isEmpty())
        return runParent(argc, argv, TestWindowE2E::staticMetaObject, TestWindowNewestDayEmpty::staticMetaObject);
    QApplication app(argc, argv);
    if (child == "2") {
        TestWindowNewestDayEmpty test;
        return QTest::qExec(&test, argc, argv);
    }
    TestWindowE2E test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_window_e2e.moc"
