// The display tile's frame intake, placement and states, rendered offscreen
// and checked through its pixels.

#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>

#include "app/http_singleton.h"
#include "view/full_screen.h"
#include "view_test_util.h"

class TestDisplayTile : public QObject
{
    Q_OBJECT

private slots:
    void placement_data();
    void placement();
    void first_frame_after_stream_start_is_drawn();
    void frame_id_zero_is_drawn();
    void ending_paints_black_and_drops_frames();
    void error_message_dims_or_blanks_the_picture();
    void display_count_balanced();
    void stream_end_signal();
    void timestamp_change_signal();
    void bad_frames_are_harmless();
    void held_picture_is_a_copy_the_tile_owns();
    void overlay_text_size_names();
    void fullscreen_frame_escape();
    void keys_reach_sibling_widgets();
    void stream_error_retries();
    void frame_from_another_thread_lands_on_the_gui_thread();
    void name_from_stream_path_data();
    void name_from_stream_path();
};

void TestDisplayTile::placement_data()
{
    QTest::addColumn<QSize>("frame");
    QTest::addColumn<QSize>("widget");
    QTest::addColumn<bool>("center");
    QTest::addColumn<bool>("fullscreen");
    QTest::addColumn<QRect>("drawn"); // margins and drawn size

    QTest::newRow("small frame, natural size, centred") << QSize(320, 240) << QSize(1280, 720) << true << false
                                                        << QRect(480, 240, 320, 240);
    QTest::newRow("small frame in full screen is scaled") << QSize(320, 240) << QSize(1280, 720) << true << true
                                                          << QRect(160, 0, 960, 720);
    QTest::newRow("large frame keeps aspect") << QSize(1920, 1080) << QSize(1000, 1000) << true << false
                                              << QRect(0, 219, 1000, 562);
    QTest::newRow("no centring stretches") << QSize(320, 240) << QSize(640, 400) << false << false
                                           << QRect(0, 0, 640, 400);
}

void TestDisplayTile::placement()
{
    QFETCH(QSize, frame);
    QFETCH(QSize, widget);
    QFETCH(bool, center);
    QFETCH(bool, fullscreen);
    QFETCH(QRect, drawn);

    Canvas c;
    setup_like_player(c, widget.width(), widget.height());
    c.set_center_image(center);
    c.set_fullscreen(fullscreen);
    const QImage img = position_image(frame.width(), frame.height());
    push_frame(c, img, 0);
    const QImage shot = c.grab().toImage();

    QCOMPARE(c.get_image_left_margin(), drawn.x());
    QCOMPARE(c.get_image_top_margin(), drawn.y());
    QCOMPARE(c.get_drawn_width(), drawn.width());
    QCOMPARE(c.get_drawn_height(), drawn.height());
    // Outside the picture the tile is black; the picture's corners carry the
    // source's corners.
    if (drawn.x() > 0)
        QCOMPARE(shot.pixel(drawn.x() - 1, drawn.y() + drawn.height() / 2), qRgb(0, 0, 0));
    if (drawn.y() > 0)
        QCOMPARE(shot.pixel(drawn.x() + drawn.width() / 2, drawn.y() - 1), qRgb(0, 0, 0));
    if (drawn.size() == frame) {
        // Unscaled: pixel for pixel.
        for (const QPoint& p : {QPoint(0, 0), QPoint(17, 33), QPoint(frame.width() - 1, frame.height() - 1)})
            QCOMPARE(shot.pixel(drawn.topLeft() + p), position_colour(p.x(), p.y()));
    } else {
        const QRgb centre = shot.pixel(drawn.center());
        const QRgb expected = position_colour(frame.width() / 2, frame.height() / 2);
        QVERIFY2(qAbs(qRed(centre) - qRed(expected)) <= 4 && qAbs(qGreen(centre) - qGreen(expected)) <= 4,
                 "the picture's centre lands on the drawn rectangle's centre");
    }
}

void TestDisplayTile::first_frame_after_stream_start_is_drawn()
{
    // The reader positions and emits one frame, then waits (paused player):
    // the first repaint must show it, not throw it away.
    Canvas c;
    setup_like_player(c, 640, 480);
    push_frame(c, plain_image(320, 240, Qt::white), 5);
    QVERIFY(c.is_start_pending());
    const QImage shot = c.grab().toImage();
    QVERIFY(!c.is_start_pending());
    QVERIFY(c.is_display_started());
    QCOMPARE(shot.pixel(320, 240), qRgb(255, 255, 255));

    // Without a frame the first repaint starts the display and draws black.
    Canvas empty;
    setup_like_player(empty, 640, 480);
    const QImage black = empty.grab().toImage();
    QVERIFY(empty.is_display_started());
    QCOMPARE(black.pixel(320, 240), qRgb(0, 0, 0));
}

void TestDisplayTile::frame_id_zero_is_drawn()
{
    Canvas c;
    setup_like_player(c, 640, 480);
    c.grab();
    push_frame(c, plain_image(320, 240, Qt::red), 0);
    QCOMPARE(c.grab().toImage().pixel(320, 240), qRgb(255, 0, 0));
    QCOMPARE(c.get_last_frame_id(), 0);
    QCOMPARE(c.get_shown_frame_count(), 1.0);
    // A lower id (a seek backwards) is shown but not counted.
    push_frame(c, plain_image(320, 240, Qt::blue), 0);
    QCOMPARE(c.grab().toImage().pixel(320, 240), qRgb(0, 0, 255));
    QCOMPARE(c.get_shown_frame_count(), 1.0);
}

void TestDisplayTile::ending_paints_black_and_drops_frames()
{
    Canvas c;
    setup_like_player(c, 640, 480);
    c.set_overlay_enabled(true);
    push_frame(c, plain_image(640, 480, Qt::white), 0);
    QCOMPARE(c.grab().toImage().pixel(10, 470), qRgb(255, 255, 255));

    c.stop_display(true);
    QVERIFY(c.is_ending());
    QImage shot = c.grab().toImage();
    QCOMPARE(shot.pixel(10, 470), qRgb(0, 0, 0));
    QCOMPARE(shot.pixel(10, 5), qRgb(0, 0, 0));
    push_frame(c, plain_image(640, 480, Qt::green), 1);
    QCOMPARE(c.grab().toImage().pixel(320, 240), qRgb(0, 0, 0));

    // Re-armed for the next camera: frames show again.
    c.set_stream_start(true);
    QVERIFY(!c.is_ending());
    push_frame(c, plain_image(640, 480, Qt::green), 0);
    QCOMPARE(c.grab().toImage().pixel(320, 240), qRgb(0, 255, 0));
}

void TestDisplayTile::error_message_dims_or_blanks_the_picture()
{
    Canvas c;
    setup_like_player(c, 640, 480);
    push_frame(c, plain_image(640, 480, Qt::white), 0, QStringLiteral("2026-12-10 10:00:00.000"));
    c.grab();

    c.displayError(QString(), QStringLiteral("NO VIDEO"), true);
    QVERIFY(c.is_message_shown());
    QCOMPARE(c.get_current_timestamp(), QStringLiteral("2026-12-10 10:00:00.000")); // empty error keeps it
    QRgb px = c.grab().toImage().pixel(20, 20);
    QVERIFY2(qRed(px) > 60 && qRed(px) < 95, qPrintable(QString::number(qRed(px)))); // 0.3 of white

    c.displayError(QStringLiteral("No Frame ... Retrying ..."), QStringLiteral("NO VIDEO"), false);
    QCOMPARE(c.get_current_timestamp(), QStringLiteral("No Frame ... Retrying ..."));
    QCOMPARE(c.grab().toImage().pixel(20, 20), qRgb(0, 0, 0));

    // The next frame clears the message.
    push_frame(c, plain_image(640, 480, Qt::white), 1);
    QVERIFY(!c.is_message_shown());
    QCOMPARE(c.grab().toImage().pixel(20, 20), qRgb(255, 255, 255));
}

void TestDisplayTile::display_count_balanced()
{
    Http_singleton* ctx = Http_singleton::instance();
    const int base = ctx->get_display_count();
    {
        Canvas c;
        QCOMPARE(ctx->get_display_count(), base + 1);
        c.setEnding();
        QCOMPARE(ctx->get_display_count(), base);
        c.setEnding();
        c.stop_display(true);
        QCOMPARE(ctx->get_display_count(), base);
        c.set_stream_start(true); // next camera: counted again
        QCOMPARE(ctx->get_display_count(), base + 1);
        c.stop_display(true);
        QCOMPARE(ctx->get_display_count(), base);
    }
    QCOMPARE(ctx->get_display_count(), base); // the destructor does not lower it twice
    {
        Canvas c;
        QCOMPARE(ctx->get_display_count(), base + 1);
    }
    QCOMPARE(ctx->get_display_count(), base);
}

void TestDisplayTile::stream_end_signal()
{
    Canvas c;
    setup_like_player(c, 320, 240);
    push_frame(c, plain_image(320, 240, Qt::white), 0);
    c.grab();
    QSignalSpy ended(&c, &Canvas::endingsignal);
    QSignalSpy stopped(&c, &Canvas::display_stop);
    c.stop_display(true);
    QCOMPARE(ended.count(), 1);
    QCOMPARE(stopped.count(), 1);
    QVERIFY(!c.is_display_started());
}

void TestDisplayTile::timestamp_change_signal()
{
    Canvas c;
    setup_like_player(c, 320, 240);
    c.set_overlay_enabled(true);
    c.set_timestamp_by_second(true);
    QSignalSpy spy(&c, &Canvas::onchange_timestamp);
    const QImage img = plain_image(32, 24, Qt::white);
    push_frame(c, img, 0, QStringLiteral("2026-03-29 02:30:00.040"));  // inside a DST gap in Europe
    push_frame(c, img, 1, QStringLiteral("2026-03-29 02:30:00.080"));  // same second
    push_frame(c, img, 2, QStringLiteral("2026-03-29 02:30:01.000"));
    push_frame(c, img, 3, QStringLiteral("garbage timestamp"));        // shown, no signal
    QCOMPARE(spy.count(), 2);
    QCOMPARE(spy.at(0).at(0).toString(), QStringLiteral("20260329023000040"));
    QCOMPARE(spy.at(1).at(0).toString(), QStringLiteral("20260329023001000"));
    QCOMPARE(c.get_current_timestamp(), QStringLiteral("garbage timestamp"));
}

void TestDisplayTile::bad_frames_are_harmless()
{
    Canvas c;
    setup_like_player(c, 320, 240);
    // Force-update marker before any frame: only a repaint.
    c.displayFrame(QImage(), 0, -99, -99, QString(), QString(), false, -1, 0, false);
    c.displayFrame(QImage(), 0, 0, 0, QString(), QString(), false, 0, 0, false);
    c.displayFrame(QImage(), 0, 640, 480, QStringLiteral("x"), QString(), false, 0, 0, false);
    c.displayFrame(QImage(), 0, 1 << 30, 1 << 30, QString(), QString(), false, 0, 0, false);
    QVERIFY(c.get_frame_image().isNull());
    QCOMPARE(c.grab().toImage().pixel(160, 120), qRgb(0, 0, 0));

    // An announced size that disagrees with the picture: the picture's own size rules.
    const QImage img = plain_image(64, 48, Qt::white);
    c.displayFrame(img, 999, 100000, 100000, QString(1000, QLatin1Char('x')), QString(), false, 0, qQNaN(), false);
    QCOMPARE(c.get_codec_width(), 64);
    QCOMPARE(c.get_codec_height(), 48);
    c.set_overlay_enabled(true);
    QCOMPARE(c.grab().toImage().pixel(160, 140), qRgb(255, 255, 255));
    QVERIFY(c.get_current_timestamp().size() <= 256);

    // A call without a picture that claims an absurd size leaves the size of
    // the picture on screen: the zoom works on that.
    c.displayFrame(QImage(), 0, 1 << 30, 1, QString(), QString(), false, 1, 0, false);
    QCOMPARE(c.get_codec_width(), 64);
    QCOMPARE(c.get_codec_height(), 48);
    click(c, QPointF(160, 120));
    QVERIFY(c.is_zoomed());
    QCOMPARE(c.get_zoom_level(), 2); // a picture drawn smaller than the tile
}

void TestDisplayTile::held_picture_is_a_copy_the_tile_owns()
{
    // The sender reuses its buffer for the next picture: what the tile shows
    // must not change with it.
    Canvas c;
    setup_like_player(c, 64, 48);
    QImage img = plain_image(64, 48, Qt::white);
    push_frame(c, img, 0);
    img.fill(Qt::red); // detaches: the tile's picture stays white
    QCOMPARE(c.grab().toImage().pixel(32, 24), qRgb(255, 255, 255));
}

void TestDisplayTile::overlay_text_size_names()
{
    Canvas c;
    c.set_overlay_text_size(QStringLiteral("tiny"));
    QCOMPARE(c.get_overlay_text_size(), 8);
    c.set_overlay_text_size(QStringLiteral("Normal"));
    QCOMPARE(c.get_overlay_text_size(), 8);
    c.set_overlay_text_size(QStringLiteral("large"));
    QCOMPARE(c.get_overlay_text_size(), 20);
    c.set_camera_id(QStringLiteral("12"));
    c.set_camera_id(QString());
    QCOMPARE(c.get_camera_id(), 12);
    c.set_camera_id(QStringLiteral("abc"));
    QCOMPARE(c.get_camera_id(), 0);
    c.set_scale_algorithm(4);
    c.set_scale_algorithm(-1);
    QCOMPARE(c.get_scale_algorithm(), 4);
}

void TestDisplayTile::fullscreen_frame_escape()
{
    QPointer<FullScreen> f = new FullScreen;
    f->show();
    QTest::keyClick(f.data(), Qt::Key_A);
    QVERIFY(f->isVisible());
    QTest::keyClick(f.data(), Qt::Key_Escape);
    QVERIFY(!f->isVisible());
    QTRY_VERIFY(f.isNull()); // deleted on close
}

void TestDisplayTile::keys_reach_sibling_widgets()
{
    // The player's controls beside the tile keep their keyboard input while
    // the tile has the focus.
    QWidget window;
    auto* tile = new Canvas(&window);
    new Canvas(&window); // a second tile is skipped, not sent the key again
    auto* edit = new QLineEdit(&window);
    QTest::keyClick(tile, Qt::Key_K);
    QCOMPARE(edit->text(), QStringLiteral("k"));
}

void TestDisplayTile::stream_error_retries()
{
    // A stream error outside loop mode shows "NO VIDEO" a second later and
    // re-arms the start; once ended, the check shows nothing.
    Canvas c;
    setup_like_player(c, 320, 240);
    push_frame(c, plain_image(320, 240, Qt::white), 0);
    c.grab();
    c.checkend();
    QVERIFY(!c.is_message_shown());
    QTRY_VERIFY_WITH_TIMEOUT(c.is_message_shown(), 3000);
    QCOMPARE(c.get_message_text(), QStringLiteral("NO VIDEO"));
    QCOMPARE(c.get_current_timestamp(), QStringLiteral("No Frame ... Retrying ..."));
    QVERIFY(c.is_start_pending());

    Canvas ended;
    setup_like_player(ended, 320, 240);
    ended.stop_display(true);
    ended.checkEnding();
    QVERIFY(!ended.is_message_shown());
}

void TestDisplayTile::frame_from_another_thread_lands_on_the_gui_thread()
{
    // A producer thread that calls the tile directly: the frame is taken and
    // the tile's signals go out on the GUI thread, not on the producer's.
    Canvas c;
    setup_like_player(c, 64, 48);
    c.set_timestamp_signal(true);
    c.set_timestamp_exact(true);
    QThread* seen = nullptr;
    connect(&c, &Canvas::onchange_timestamp, this, [&] { seen = QThread::currentThread(); }, Qt::DirectConnection);
    const QImage img = plain_image(64, 48, Qt::white);
    QThread* producer = QThread::create([&] { push_frame(c, img, 7); });
    producer->start();
    QVERIFY(producer->wait(5000));
    delete producer;
    QTRY_COMPARE(c.get_last_frame_id(), 7);
    QVERIFY2(seen == QThread::currentThread(), "signal sent on the producer's thread");
    QCOMPARE(c.grab().toImage().pixel(32, 24), qRgb(255, 255, 255));
}

void TestDisplayTile::name_from_stream_path_data()
{
    QTest::addColumn<QString>("old_name");
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("name");
    QTest::newRow("empty path clears the name") << "cam 2" << "" << "";
    QTest::newRow("the id= element") << "cam 2" << "/video.cgi?id=7&channel=1" << "/video.cgi?7";
    QTest::newRow("no id= element") << "cam 2" << "/video.cgi?channel=1" << "";
    QTest::newRow("the last id= element wins") << "" << "/v?id=1&id=2" << "2";
    QTest::newRow("full screen kept") << "cam 2 - fullscreen" << "/v?x=1&id=9" << "9 - fullscreen";
    QTest::newRow("full screen, empty path") << "cam 2 - fullscreen" << "" << "";
}

// The start of the display names the tile after the stream path's "id="
// element, and after nothing when there is none: a name left from an
// earlier stream would tag this one's log lines. Before, an empty path kept
// the old name.
void TestDisplayTile::name_from_stream_path()
{
    QFETCH(QString, old_name);
    QFETCH(QString, path);
    QFETCH(QString, name);
    Canvas c;
    setup_like_player(c, 320, 240);
    c.set_tile_name(old_name);
    c.set_stream_path(path);
    c.grab(); // the first paint starts the display
    QVERIFY(!c.is_start_pending());
    QCOMPARE(c.get_tile_name(), name);
}

QTEST_MAIN(TestDisplayTile)
#include "test_display_tile.moc"
