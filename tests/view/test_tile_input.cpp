// Mouse and wheel input of the display tile: digital zoom, pan, recentring,
// reset, and the fisheye view controls.

#include <QSignalSpy>
#include <QTest>

#include <cmath>

#include "view_test_util.h"

class TestTileInput : public QObject
{
    Q_OBJECT

private slots:
    void no_input_before_first_frame();
    void click_zoom_level_data();
    void click_zoom_level();
    void zoom_level_one_is_pixel_for_pixel();
    void zoom_level_two_is_pixel_for_pixel();
    void wheel_levels_and_clamped_origin();
    void zoom_follows_a_smaller_picture();
    void right_click_resets();
    void drag_pans_and_click_recentres();
    void release_outside_ends_drag();
    void double_click_only_reports();
    void fisheye_setters_data();
    void fisheye_setters();
    void fisheye_view_from_clicks();
};

void TestTileInput::no_input_before_first_frame()
{
    Canvas c;
    setup_like_player(c, 640, 360);
    QSignalSpy spy(&c, &Canvas::send_clic_event);
    click(c, QPointF(100, 100));
    wheel(c, QPointF(100, 100), 120);
    QCOMPARE(spy.count(), 0);
    QVERIFY(!c.is_zoomed());
}

void TestTileInput::click_zoom_level_data()
{
    QTest::addColumn<QSize>("frame");
    QTest::addColumn<QPointF>("click");
    QTest::addColumn<int>("level");
    QTest::addColumn<QPointF>("origin");

    // 1920 x 1080 in 1280 x 720: level 1, origin p - (320, 180), clamped to [0, 640] x [0, 360].
    QTest::newRow("large frame, centre") << QSize(1920, 1080) << QPointF(640, 360) << 1 << QPointF(320, 180);
    QTest::newRow("large frame, corner clamps to 0") << QSize(1920, 1080) << QPointF(10, 10) << 1 << QPointF(0, 0);
    QTest::newRow("large frame, far corner clamps") << QSize(1920, 1080) << QPointF(1270, 710) << 1
                                                    << QPointF(640, 360);
    // 640 x 360 drawn at its own size: level 2, origin clamped to 0 (frame no larger than the view).
    QTest::newRow("small frame") << QSize(640, 360) << QPointF(640, 360) << 2 << QPointF(0, 0);
}

void TestTileInput::click_zoom_level()
{
    QFETCH(QSize, frame);
    QFETCH(QPointF, click);
    QFETCH(int, level);
    QFETCH(QPointF, origin);

    Canvas c;
    setup_like_player(c, 1280, 720);
    push_frame(c, position_image(frame.width(), frame.height()), 0);
    c.grab();
    QSignalSpy spy(&c, &Canvas::send_clic_event);
    send_mouse(c, QEvent::MouseButtonPress, click, Qt::LeftButton, Qt::LeftButton);
    QVERIFY(c.is_zoomed());
    QCOMPARE(c.get_zoom_level(), level);
    QCOMPARE(c.get_zoom_origin(), origin);
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.at(0).at(0).toString(), QStringLiteral("zoom_in"));
    QCOMPARE(spy.at(0).at(3).toInt(), level);
}

void TestTileInput::zoom_level_one_is_pixel_for_pixel()
{
    Canvas c;
    setup_like_player(c, 1280, 720);
    push_frame(c, position_image(1920, 1080, true), 0);
    c.grab();
    send_mouse(c, QEvent::MouseButtonPress, QPointF(640, 360), Qt::LeftButton, Qt::LeftButton);
    QCOMPARE(c.get_zoom_origin(), QPointF(320, 180));
    const QImage shot = c.grab().toImage();
    for (const QPoint& p : {QPoint(0, 0), QPoint(1279, 719), QPoint(517, 301)})
        QCOMPARE(shot.pixel(p), position_colour(p.x() + 320, p.y() + 180, true));
}

void TestTileInput::zoom_level_two_is_pixel_for_pixel()
{
    Canvas c;
    setup_like_player(c, 1280, 720);
    push_frame(c, position_image(1920, 1080, true), 0);
    c.grab();
    send_mouse(c, QEvent::MouseButtonPress, QPointF(640, 360), Qt::LeftButton, Qt::LeftButton);
    send_mouse(c, QEvent::MouseButtonRelease, QPointF(640, 360), Qt::LeftButton, Qt::NoButton);
    wheel(c, QPointF(320, 180), 120); // level 2, origin unchanged
    QCOMPARE(c.get_zoom_level(), 2);
    const QPointF o = c.get_zoom_origin();
    QCOMPARE(o, QPointF(320, 180));
    const QImage shot = c.grab().toImage();
    // Every picture pixel covers a 2 x 2 square, unblurred.
    for (const QPoint& s : {QPoint(0, 0), QPoint(100, 50), QPoint(639, 359)}) {
        const QRgb expected = position_colour(s.x() + 320, s.y() + 180, true);
        QCOMPARE(shot.pixel(2 * s.x(), 2 * s.y()), expected);
        QCOMPARE(shot.pixel(2 * s.x() + 1, 2 * s.y() + 1), expected);
    }
}

void TestTileInput::wheel_levels_and_clamped_origin()
{
    Canvas c;
    setup_like_player(c, 1280, 720);
    push_frame(c, position_image(1920, 1080), 0);
    c.grab();
    QSignalSpy spy(&c, &Canvas::send_clic_event);
    const QPointF corner(1279, 719);
    for (int expected : {1, 2, 4, 8, 8}) {
        wheel(c, corner, 120);
        QCOMPARE(c.get_zoom_level(), expected);
        const QPointF o = c.get_zoom_origin();
        const int L = expected;
        QVERIFY(o.x() >= 0 && o.y() >= 0);
        QVERIFY2(o.x() <= 1920 - 1280 / L && o.y() <= 1080 - 720 / L, "origin stays inside the frame");
    }
    QCOMPARE(spy.count(), 5);
    QCOMPARE(spy.last().at(0).toString(), QStringLiteral("zoom_in"));
    QCOMPARE(spy.last().at(3).toInt(), 8);
    // Down: 8 -> 4 -> 2 -> 1 (frame larger than the tile) -> off.
    for (int expected : {4, 2, 1, 0}) {
        wheel(c, QPointF(10, 10), -120);
        QCOMPARE(c.get_zoom_level(), expected);
    }
    QVERIFY(!c.is_zoomed());
    QCOMPARE(spy.last().at(0).toString(), QStringLiteral("zoom_out"));
}

void TestTileInput::zoom_follows_a_smaller_picture()
{
    // Zoomed into the far corner of a large picture, then the pictures shrink
    // (another camera): the zoom still shows the picture.
    Canvas c;
    setup_like_player(c, 1280, 720);
    push_frame(c, position_image(1920, 1080, true), 0);
    c.grab();
    click(c, QPointF(1270, 710));
    QCOMPARE(c.get_zoom_origin(), QPointF(640, 360));
    push_frame(c, position_image(1000, 600, true), 1);
    QCOMPARE(c.get_zoom_origin(), QPointF(0, 0));
    const QImage shot = c.grab().toImage();
    // Level 1 centres the smaller picture: margins 140 and 60.
    QCOMPARE(shot.pixel(140 + 500, 60 + 300), position_colour(500, 300, true));
}

void TestTileInput::right_click_resets()
{
    Canvas c;
    setup_like_player(c, 1280, 720);
    push_frame(c, position_image(1920, 1080), 0);
    c.grab();
    QSignalSpy spy(&c, &Canvas::send_clic_event);
    send_mouse(c, QEvent::MouseButtonPress, QPointF(10, 10), Qt::RightButton, Qt::RightButton);
    QCOMPARE(spy.count(), 1); // also when not zoomed
    click(c, QPointF(640, 360));
    QVERIFY(c.is_zoomed());
    send_mouse(c, QEvent::MouseButtonPress, QPointF(10, 10), Qt::RightButton, Qt::RightButton);
    QVERIFY(!c.is_zoomed());
    QCOMPARE(c.get_zoom_level(), 0);
    QCOMPARE(spy.last().at(0).toString(), QStringLiteral("zoom_out"));
    QCOMPARE(spy.last().at(3).toInt(), 1);
    // Back to the fitted picture.
    const QImage shot = c.grab().toImage();
    const QRgb px = shot.pixel(640, 360);
    QVERIFY(qAbs(qRed(px) - qRed(position_colour(960, 540))) <= 4);
}

void TestTileInput::drag_pans_and_click_recentres()
{
    Canvas c;
    setup_like_player(c, 1280, 720);
    push_frame(c, position_image(1920, 1080, true), 0);
    c.grab();
    click(c, QPointF(640, 360)); // level 1 at (320, 180)
    QSignalSpy spy(&c, &Canvas::send_clic_event);

    send_mouse(c, QEvent::MouseButtonPress, QPointF(100, 100), Qt::LeftButton, Qt::LeftButton);
    send_mouse(c, QEvent::MouseMove, QPointF(150, 120), Qt::NoButton, Qt::LeftButton);
    send_mouse(c, QEvent::MouseButtonRelease, QPointF(150, 120), Qt::LeftButton, Qt::NoButton);
    QCOMPARE(c.get_zoom_origin(), QPointF(270, 160));
    QCOMPARE(spy.count(), 0); // a pan emits nothing
    QCOMPARE(c.grab().toImage().pixel(0, 0), position_colour(270, 160, true));

    // Press and release without a move: recentre on the click.
    click(c, QPointF(740, 410));
    QCOMPARE(c.get_zoom_origin(), QPointF(370, 210));
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.at(0).at(0).toString(), QStringLiteral("zoom_in"));
    QCOMPARE(spy.at(0).at(1).toInt(), 370);
    QCOMPARE(spy.at(0).at(2).toInt(), 210);
}

void TestTileInput::release_outside_ends_drag()
{
    // 1600 x 900 in 1280 x 900: scaled to 1280 x 720, top margin 90.
    Canvas c;
    setup_like_player(c, 1280, 900);
    push_frame(c, position_image(1600, 900), 0);
    c.grab();
    QCOMPARE(c.get_image_top_margin(), 90);
    click(c, QPointF(640, 450));
    QVERIFY(c.is_zoomed());
    const QPointF before = c.get_zoom_origin();
    send_mouse(c, QEvent::MouseButtonPress, QPointF(300, 300), Qt::LeftButton, Qt::LeftButton);
    send_mouse(c, QEvent::MouseButtonRelease, QPointF(300, 20), Qt::LeftButton, Qt::NoButton); // in the margin
    // A later drag with another button must not pan.
    send_mouse(c, QEvent::MouseButtonPress, QPointF(400, 400), Qt::MiddleButton, Qt::MiddleButton);
    send_mouse(c, QEvent::MouseMove, QPointF(200, 200), Qt::NoButton, Qt::MiddleButton);
    QCOMPARE(c.get_zoom_origin(), before);
}

void TestTileInput::double_click_only_reports()
{
    Canvas c;
    setup_like_player(c, 640, 360);
    push_frame(c, position_image(640, 360), 0);
    c.grab();
    QSignalSpy spy(&c, &Canvas::send_clic_event);
    send_mouse(c, QEvent::MouseButtonDblClick, QPointF(10.5, 20.4), Qt::RightButton, Qt::RightButton);
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.at(0).at(0).toString(), QStringLiteral("double_clic"));
    QCOMPARE(spy.at(0).at(1).toInt(), 11);
    QCOMPARE(spy.at(0).at(2).toInt(), 20);
    QCOMPARE(spy.at(0).at(3).toInt(), 1);
    QVERIFY(!c.is_fullscreen());
}

void TestTileInput::fisheye_setters_data()
{
    QTest::addColumn<float>("angle_in");
    QTest::addColumn<float>("angle_out");
    QTest::addColumn<float>("zoom_in");
    QTest::addColumn<float>("zoom_out");
    QTest::newRow("over 360") << 370.f << 10.f << 150.f << 100.f;
    QTest::newRow("negative") << -30.f << 330.f << 0.f << 0.1f;
    QTest::newRow("one correction only") << 800.f << 440.f << -5.f << 0.1f;
    QTest::newRow("in range") << 12.5f << 12.5f << 42.f << 42.f;
}

void TestTileInput::fisheye_setters()
{
    QFETCH(float, angle_in);
    QFETCH(float, angle_out);
    QFETCH(float, zoom_in);
    QFETCH(float, zoom_out);
    Canvas c;
    c.set_dewarp_angle(angle_in);
    c.set_dewarp_zoom(zoom_in);
    QCOMPARE(c.get_dewarp_angle(), angle_out);
    QCOMPARE(c.get_dewarp_zoom(), zoom_out);
    c.set_dewarp_angle(qQNaN());
    c.set_dewarp_zoom(qInf());
    QCOMPARE(c.get_dewarp_angle(), angle_out);
    QCOMPARE(c.get_dewarp_zoom(), zoom_out);
}

void TestTileInput::fisheye_view_from_clicks()
{
    Canvas c;
    setup_like_player(c, 400, 400);
    c.set_local_view_mode(true);
    // The unwrap with no panorama (size never announced) does nothing.
    c.dewarp_frame(Canvas::DewarpGeometry(), position_image(64, 64));
    QVERIFY(c.get_panorama().isNull());

    push_frame(c, position_image(400, 400), 0);
    c.grab();
    // A click exactly at the centre: no angle can be derived; nothing becomes NaN.
    click(c, QPointF(200, 200));
    QVERIFY(c.is_fisheye_view());
    QVERIFY(std::isfinite(c.get_dewarp_angle()));
    QCOMPARE(c.get_dewarp_fov(), 70.f);
    // The next frame is unwrapped into a panorama of the picture's own size.
    push_frame(c, position_image(320, 320), 1);
    QCOMPARE(c.get_panorama().size(), QSize(320, 320));
    const QImage shot = c.grab().toImage();
    QVERIFY(!shot.isNull());
    // The wheel in the open view narrows the field of view, down to 15.
    for (int i = 0; i < 20; ++i)
        wheel(c, QPointF(200, 200), 120);
    QCOMPARE(c.get_dewarp_fov(), 15.f);
    // A right release closes it.
    send_mouse(c, QEvent::MouseButtonPress, QPointF(100, 100), Qt::RightButton, Qt::RightButton);
    send_mouse(c, QEvent::MouseButtonRelease, QPointF(100, 100), Qt::RightButton, Qt::NoButton);
    QVERIFY(!c.is_fisheye_view());

    // A picture centred inside margins: the view opens toward the click as seen
    // on the picture. 200 x 200 drawn at (100, 100); a click right of its centre
    // looks along angle 0 (90 - acos(0) x 57 = 0.46), not 27 degrees down.
    Canvas small;
    setup_like_player(small, 400, 400);
    small.set_local_view_mode(true);
    push_frame(small, position_image(200, 200), 0);
    small.grab();
    QCOMPARE(small.get_image_left_margin(), 100);
    click(small, QPointF(300, 200));
    QVERIFY(small.is_fisheye_view());
    QVERIFY2(small.get_dewarp_angle() < 1.f, qPrintable(QString::number(small.get_dewarp_angle())));
}

QTEST_MAIN(TestTileInput)
#include "test_tile_input.moc"
