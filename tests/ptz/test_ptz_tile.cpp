// The tile's PTZ side with a driver that records what it is sent: the
// status messages, host commands, held moves and their refusals, and every
// gesture on an offscreen tile with a frame, on real timers.

#include <QPointer>
#include <QSignalSpy>
#include <QTest>

#include "ptz/ptz_drivers.h"
#include "ptz/ptz_gestures.h"
#include "ptz_test_driver.h"
#include "tests/recordings/log_capture.h"
#include "tests/view/view_test_util.h"

namespace {

// A 1280 x 720 tile showing a 1920 x 1080 picture: codec = 1.5 x widget.
struct Tile
{
    Canvas c;
    RecordingDriver* d = nullptr;

    explicit Tile(const QStringList& options = {"holdclic", "area", "zoom", "rightclic"}, bool native = true)
    {
        setup_like_player(c, 1280, 720);
        push_frame(c, plain_image(1920, 1080, Qt::darkGray), 0);
        c.grab();
        c.set_ptz_mode(true);
        c.set_ptz_options(options);
        c.set_ptz_speed(QStringLiteral("7"));
        PtzGestures::attach(&c);
        if (native) {
            d = new RecordingDriver();
            c.set_ptz_enabled(true);
            c.set_ptz_driver(d);
            c.Go();
        }
    }
};

void press(Canvas& c, QPointF p)
{
    send_mouse(c, QEvent::MouseButtonPress, p, Qt::LeftButton, Qt::LeftButton);
}

void release(Canvas& c, QPointF p)
{
    send_mouse(c, QEvent::MouseButtonRelease, p, Qt::LeftButton, Qt::NoButton);
}

void drag_to(Canvas& c, QPointF p)
{
    send_mouse(c, QEvent::MouseMove, p, Qt::NoButton, Qt::LeftButton);
}

} // namespace

class TestPtzTile : public QObject
{
    Q_OBJECT

private slots:
    void attach_reports_starting();
    void give_up_clears_mode_and_active();
    void texts_vanish_after_last_message();
    void pluginptz_data();
    void pluginptz();
    void relative_plugin_stops_later();
    void same_hold_point_sends_once_and_refusals_resend();
    void finished_while_holding_sends_nothing();
    void vendor_security_stops();
    void click_after_release();
    void double_click_cancels_click();
    void still_hold_sends_once_then_stops();
    void area_once_and_no_click();
    void wheel_rate_limited_and_stopped();
    void paused_wheel_zooms_out();
    void empty_options_only_clicks();
    void release_deletes_driver_and_says_so();
};

void TestPtzTile::attach_reports_starting()
{
    Tile t;
    QVERIFY(t.d->is_active());
    QCOMPARE(t.c.get_ptz_status_code(), 1);
    // A driver that is not ONVIF says ON with its status at once.
    QCOMPARE(t.c.get_ptz_status_command(), QStringLiteral("ON"));
    QCOMPARE(t.c.get_ptz_status_fault(), QStringLiteral("recording"));
    QCOMPARE(t.c.get_ptz_status_driver(), QStringLiteral("TESTCAM"));
    // Attached after the display runs: connected at once, and only once.
    Canvas c2;
    setup_like_player(c2, 320, 180);
    c2.Go();
    auto* d2 = new RecordingDriver(QStringLiteral("ONVIF cam"));
    c2.set_ptz_driver(d2);
    QCOMPARE(c2.get_ptz_status_command(), QStringLiteral("starting"));
    c2.Go();
    d2->say(1, QStringLiteral("GetStatus"), QStringLiteral("ok"));
    QCOMPARE(c2.get_ptz_status_command(), QStringLiteral("GetStatus"));
}

void TestPtzTile::give_up_clears_mode_and_active()
{
    Tile t;
    QVERIFY(t.c.is_ptz_mode());
    t.d->say(-99, QStringLiteral("GetSystemDateAndTime"), QStringLiteral("not supported"));
    QVERIFY(!t.c.is_ptz_mode());
    QVERIFY(!t.d->is_active());
    QCOMPARE(t.c.get_ptz_status_code(), -99);
    // No longer usable: host commands go nowhere.
    t.c.pluginptz(QStringLiteral("10,0,0"), QStringLiteral("continuous"), QString());
    QVERIFY(t.d->calls.isEmpty());
}

void TestPtzTile::texts_vanish_after_last_message()
{
    Tile t;
    t.d->say(0, QStringLiteral("first"), QStringLiteral("a"));
    QTest::qWait(2000);
    t.d->say(0, QStringLiteral("second"), QStringLiteral("b"));
    QElapsedTimer since_second;
    since_second.start();
    QTest::qWait(1600);
    // 3.6 s after the first message, 1.6 s after the second: still shown
    // (unless this machine stalled us past the second's 3 s).
    if (since_second.elapsed() < 2900)
        QCOMPARE(t.c.get_ptz_status_command(), QStringLiteral("second"));
    QTRY_VERIFY_WITH_TIMEOUT(t.c.get_ptz_status_command().isEmpty(), 5000);
    QVERIFY(t.c.get_ptz_status_fault().isEmpty());
}

void TestPtzTile::pluginptz_data()
{
    QTest::addColumn<QString>("action");
    QTest::addColumn<QString>("type");
    QTest::addColumn<QString>("command");
    QTest::addColumn<int>("zoom_only");
    QTest::addColumn<float>("pan");
    QTest::addColumn<float>("tilt");
    QTest::addColumn<float>("zoom");
    QTest::newRow("zoom only") << "0,0,1" << "continuous" << "ContinuousMove" << 1 << 0.f << 0.f << 1.f;
    QTest::newRow("two parts read as zeros") << "1,0" << "continuous" << "ContinuousMove" << 0 << 0.f << 0.f << 0.f;
    QTest::newRow("move") << "10,-5,0" << "continuous" << "ContinuousMove" << 0 << 10.f << -5.f << 0.f;
    QTest::newRow("zoom word") << "zoomin" << "x" << "zoomin" << 0 << 0.f << 0.f << 0.f;
    QTest::newRow("nan refused") << "nan,0,0" << "continuous" << "" << 0 << 0.f << 0.f << 0.f;
    QTest::newRow("inf refused") << "1,inf,0" << "continuous" << "" << 0 << 0.f << 0.f << 0.f;
    QTest::newRow("no comma") << "left" << "continuous" << "" << 0 << 0.f << 0.f << 0.f;
    QTest::newRow("no type") << "1,2,3" << "" << "" << 0 << 0.f << 0.f << 0.f;
}

void TestPtzTile::pluginptz()
{
    QFETCH(QString, action);
    QFETCH(QString, type);
    QFETCH(QString, command);
    QFETCH(int, zoom_only);
    QFETCH(float, pan);
    QFETCH(float, tilt);
    QFETCH(float, zoom);
    Tile t;
    t.c.pluginptz(action, type, QStringLiteral("ignored"));
    if (command.isEmpty()) {
        QVERIFY(t.d->calls.isEmpty());
        return;
    }
    QCOMPARE(t.d->calls.size(), 1);
    const RecordingDriver::Call& call = t.d->calls.first();
    QCOMPARE(call.command, command);
    QCOMPARE(call.zoom_only, zoom_only);
    QCOMPARE(call.pan, pan);
    QCOMPARE(call.tilt, tilt);
    QCOMPARE(call.zoom, zoom);
    QCOMPARE(call.width, 1920);
    QCOMPARE(call.height, 1080);
    QCOMPARE(call.speed, 7);
}

void TestPtzTile::relative_plugin_stops_later()
{
    Tile t;
    t.c.pluginptz(QStringLiteral("0,0,1"), QStringLiteral("relative"), QString());
    QTest::qWait(300);
    // A second relative command restarts the wait.
    t.c.pluginptz(QStringLiteral("5,0,0"), QStringLiteral("relative"), QString());
    QElapsedTimer since_second;
    since_second.start();
    QTest::qWait(500);
    if (since_second.elapsed() < 700)
        QCOMPARE(t.d->commands(), QStringList({"ContinuousMove", "ContinuousMove"}));
    QTRY_COMPARE(t.d->commands().size(), 3);
    QCOMPARE(t.d->calls.last().command, QStringLiteral("STOP_PanTilt_ContinuousMove"));
    QTest::qWait(900);
    QCOMPARE(t.d->calls.size(), 3);
}

void TestPtzTile::same_hold_point_sends_once_and_refusals_resend()
{
    Tile t;
    press(t.c, QPointF(900, 200)); // starts the hold timer
    t.c.mouse_hold_ptz(10, 10, 0);
    t.d->finish(1);
    t.c.mouse_hold_ptz(10, 10, 0);
    QCOMPARE(t.d->calls.size(), 1);
    QCOMPARE(t.d->calls.first().pan, 10.f);
    // A request that never ends: 51 refusals, then the next goes out.
    t.c.mouse_hold_ptz(20, 20, 0);
    QCOMPARE(t.d->calls.size(), 2);
    for (int i = 0; i < 51; ++i)
        t.c.mouse_hold_ptz(30, -30, 0);
    QCOMPARE(t.d->calls.size(), 2);
    t.c.mouse_hold_ptz(30, -30, 0);
    QCOMPARE(t.d->calls.size(), 3);
    QCOMPARE(t.d->calls.last().tilt, -30.f);
    release(t.c, QPointF(900, 200));
}

void TestPtzTile::finished_while_holding_sends_nothing()
{
    Tile t;
    press(t.c, QPointF(100, 100));
    t.d->finish(2);
    QTest::qWait(700);
    // The hold timer ran all along: no security stop. (Ticks may have sent
    // the hold itself.)
    QVERIFY(!t.d->commands().contains(QStringLiteral("STOP_PanTilt_ContinuousMove")));
    release(t.c, QPointF(100, 100));
    // The move still in flight ends; the hold's stop then goes out.
    t.d->finish(1);
    QTRY_VERIFY(!t.d->calls.isEmpty() && t.d->calls.last().pan == 0.f && t.d->calls.last().tilt == 0.f);
    t.d->calls.clear();
    // Nothing held: a code 2 is followed by a security stop 500 ms later.
    t.d->finish(2);
    QTRY_COMPARE(t.d->commands(), QStringList({"STOP_PanTilt_ContinuousMove"}));
}

template <class D>
struct Probe : D
{
    QStringList seen;
    void ptz_command(QString command, int, float pan, float tilt, float zoom, int, int, int speed, int,
                     int) override
    {
        seen << QStringLiteral("%1 %2 %3 %4 %5").arg(command).arg(pan).arg(tilt).arg(zoom).arg(speed);
    }
};

void TestPtzTile::vendor_security_stops()
{
    Probe<AxisPtz> axis;
    axis.security_stop();
    Probe<Hanwhaptz> hanwha;
    hanwha.set_speed(QStringLiteral("4"));
    hanwha.security_stop();
    hanwha.stop_false_clic();
    Probe<HikPtz> hik;
    hik.security_stop();
    Probe<Fujiptz> fuji;
    fuji.security_stop();
    QCOMPARE(axis.seen, QStringList({"ContinuousMove 0 0 0 1"}));
    QCOMPARE(hanwha.seen, QStringList({"ContinuousMove 0 0 0 -1", "STOP 0 0 0 4"}));
    QCOMPARE(hik.seen, QStringList({"ContinuousMove 0 0 0 0"}));
    QCOMPARE(fuji.seen, QStringList({"ContinuousMove 0 0 0 1"}));
    // Without a transport of their own, commands are reported unsupported.
    // Each such request still ends, with code 0 (nothing sent), so that a
    // tile waiting for it is free again.
    Fujiptz plain;
    QSignalSpy spy(&plain, &NativePTZInterface::status_message);
    QSignalSpy finished(&plain, &NativePTZInterface::send_request_finished);
    plain.security_stop();
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.at(0).at(0).toInt(), -2);
    QTRY_COMPARE(finished.count(), 1);
    QCOMPARE(finished.at(0).at(0).toInt(), 0);
}

void TestPtzTile::click_after_release()
{
    Tile t;
    QElapsedTimer since_release;
    click(t.c, QPointF(100, 200));
    since_release.start();
    QTRY_COMPARE(t.d->calls.size(), 1);
    QVERIFY(since_release.elapsed() >= 140);
    const RecordingDriver::Call& call = t.d->calls.first();
    QCOMPARE(call.command, QStringLiteral("clic"));
    QCOMPARE(call.pan, 150.f);
    QCOMPARE(call.tilt, 300.f);
    QCOMPARE(call.width, 1920);
    QTest::qWait(300);
    QCOMPARE(t.d->calls.size(), 1);
}

void TestPtzTile::double_click_cancels_click()
{
    Tile t;
    click(t.c, QPointF(100, 200));
    send_mouse(t.c, QEvent::MouseButtonDblClick, QPointF(100, 200), Qt::LeftButton, Qt::LeftButton);
    release(t.c, QPointF(100, 200));
    QTest::qWait(200);
    // The release after the double click arms a click again; the one armed
    // before it is gone, so at most that last one is posted.
    QVERIFY(t.d->calls.size() <= 1);
    t.d->calls.clear();
    click(t.c, QPointF(100, 200));
    send_mouse(t.c, QEvent::MouseButtonDblClick, QPointF(100, 200), Qt::LeftButton, Qt::LeftButton);
    QTest::qWait(400);
    QVERIFY(t.d->calls.isEmpty());
}

void TestPtzTile::still_hold_sends_once_then_stops()
{
    Tile t;
    // Right of and above the centre: pan > 0, tilt > 0.
    press(t.c, QPointF(1000, 100));
    QTest::qWait(700);
    QCOMPARE(t.d->commands(), QStringList({"ContinuousMove"}));
    const RecordingDriver::Call move = t.d->calls.first();
    // (1500 - 960) * 100 / 1080 = 50; -((150 - 540) * 100 / 1080) = 36.1.
    QCOMPARE(move.pan, 50.f);
    QCOMPARE(move.tilt, 36.f);
    QCOMPARE(move.zoom_only, 0);
    t.d->finish(1);
    QTest::qWait(300);
    QCOMPARE(t.d->calls.size(), 1);
    release(t.c, QPointF(1000, 100));
    QTRY_COMPARE(t.d->calls.size(), 2);
    const RecordingDriver::Call stop = t.d->calls.last();
    QCOMPARE(stop.command, QStringLiteral("ContinuousMove"));
    QCOMPARE(stop.pan, 0.f);
    QCOMPARE(stop.tilt, 0.f);
    QCOMPARE(stop.zoom, 0.f);
    // No click after a hold.
    QTest::qWait(300);
    QCOMPARE(t.d->calls.size(), 2);
}

void TestPtzTile::area_once_and_no_click()
{
    Tile t;
    press(t.c, QPointF(100, 100));
    for (int i = 1; i <= 10; ++i)
        drag_to(t.c, QPointF(100 + 30 * i, 100 + 20 * i));
    release(t.c, QPointF(400, 300));
    QCOMPARE(t.d->calls.size(), 1);
    const RecordingDriver::Call area = t.d->calls.first();
    QCOMPARE(area.command, QStringLiteral("area"));
    // Selection 100,100 300x200 in widget pixels: 150,150 450x300 in codec.
    QCOMPARE(area.x, 450);
    QCOMPARE(area.y, 300);
    QCOMPARE(area.pan, 375.f);
    QCOMPARE(area.tilt, 300.f);
    QCOMPARE(area.zoom, 300.f); // min(1920 / 450, 1080 / 300) = 3
    QTest::qWait(500);
    QCOMPARE(t.d->calls.size(), 1);
}

void TestPtzTile::wheel_rate_limited_and_stopped()
{
    Tile t;
    wheel(t.c, QPointF(300, 300), 120);
    wheel(t.c, QPointF(300, 300), 120);
    QCOMPARE(t.d->calls.size(), 1);
    QCOMPARE(t.d->calls.first().command, QStringLiteral("ContinuousMove"));
    QCOMPARE(t.d->calls.first().zoom_only, 1);
    QCOMPARE(t.d->calls.first().zoom, 50.f);
    QTRY_COMPARE(t.d->calls.size(), 2);
    QCOMPARE(t.d->calls.last().command, QStringLiteral("STOP_PanTilt_ContinuousMove"));
    // Ready again after 500 ms.
    wheel(t.c, QPointF(300, 300), -120);
    QCOMPARE(t.d->calls.size(), 3);
    QCOMPARE(t.d->calls.last().zoom, -50.f);
}

void TestPtzTile::paused_wheel_zooms_out()
{
    Tile t;
    t.c.setPause();
    wheel(t.c, QPointF(300, 300), 120);
    QCOMPARE(t.d->calls.size(), 1);
    QCOMPARE(t.d->calls.first().zoom, -50.f);
}

void TestPtzTile::empty_options_only_clicks()
{
    Tile t(QStringList{});
    press(t.c, QPointF(1000, 100));
    QTest::qWait(600);
    QVERIFY(t.d->calls.isEmpty());
    release(t.c, QPointF(1000, 100));
    wheel(t.c, QPointF(300, 300), 120);
    send_mouse(t.c, QEvent::MouseButtonPress, QPointF(10, 10), Qt::RightButton, Qt::RightButton);
    send_mouse(t.c, QEvent::MouseButtonRelease, QPointF(10, 10), Qt::RightButton, Qt::NoButton);
    QTRY_COMPARE(t.d->commands(), QStringList({"right_clic", "clic"}));
}

// The tile owns its driver: it deletes it when it goes, and its log tells so.
void TestPtzTile::release_deletes_driver_and_says_so()
{
    QPointer<RecordingDriver> driver;
    LogCapture log;
    {
        Tile t;
        driver = t.d;
        QVERIFY(driver);
    }
    QVERIFY(driver.isNull());
    const QStringList lines = log.lines();
    int destroy = -1, finished = -1;
    for (int i = 0; i < lines.size(); ++i) {
        const QString& line = lines.at(i);
        if (line.contains(QLatin1String("[INFO] Plugin ["))
            && line.contains(QLatin1String("] :: Destroy :: Destroy native PTZ ")))
            destroy = i;
        if (line.contains(QLatin1String("] :: Destroy finished")))
            finished = i;
    }
    QVERIFY2(destroy >= 0, qPrintable(lines.join(QLatin1Char('\n')).right(2000)));
    QVERIFY(finished > destroy);
}

QTEST_MAIN(TestPtzTile)
#include "test_ptz_tile.moc"
