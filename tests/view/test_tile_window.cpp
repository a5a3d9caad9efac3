// Frames from the playback reader shown in a real window: queued from the
// reader to the tile, scaled and centred with the timestamp band, zoomed with
// the mouse and the wheel.

#include <QFontMetrics>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include "playback/zq_stream_read_and_control.h"
#include "tools/zqfixture/lib/fixture_pattern.h"
#include "tools/zqfixture/lib/fixture_writer.h"
#include "view_test_util.h"

class TestTileWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void reader_frames_in_a_window();

private:
    QTemporaryDir m_dir;
    ZQFixture::Result m_day;
};

void TestTileWindow::initTestCase()
{
    QVERIFY(m_dir.isValid());
    ZQFixture::Options o;
    o.output_parent = m_dir.path();
    o.cameras = {1};
    o.seconds_per_recording = 2;
    o.size = QSize(320, 240);
    m_day = ZQFixture::write(o);
    QVERIFY2(m_day.ok, qPrintable(m_day.error));
}

void TestTileWindow::reader_frames_in_a_window()
{
    Canvas tile;
    tile.set_stream_start(false);
    tile.set_external_source();
    tile.set_mouse_interaction(true);
    tile.set_fullscreen_enabled(false);
    tile.set_center_image(true);
    tile.set_overlay_enabled(true);
    tile.resize(640, 480);
    tile.show();
    QVERIFY(QTest::qWaitForWindowExposed(&tile));

    ZQStreamReadAndControl reader;
    connect(&reader, &ZQStreamReadAndControl::set_display_frame, &tile, &Canvas::displayFrame, Qt::QueuedConnection);
    QList<QFileInfo> files;
    for (const ZQFixture::WrittenFile& f : m_day.files)
        files << QFileInfo(f.data_path);
    QVERIFY(reader.init_displayer_for_stream(QFileInfo(m_day.files[0].seek_path), QStringLiteral("1"), files));
    tile.set_stream_start(true);
    reader.read_forward();
    QTRY_VERIFY_WITH_TIMEOUT(tile.get_last_frame_id() >= 10, 10000);
    reader.set_pause();
    QTest::qWait(100); // queued frames land

    // Natural size, centred: the picture sits at (160, 120) with the band on it.
    const QImage shot = tile.grab().toImage();
    QCOMPARE(tile.get_image_left_margin(), 160);
    QCOMPARE(tile.get_image_top_margin(), 120);
    QCOMPARE(shot.pixel(100, 100), qRgb(0, 0, 0));
    const ZQFixture::PatternValue v = ZQFixture::read_pattern(shot.copy(160, 120, 320, 240));
    QVERIFY(v.valid);
    QCOMPARE(v.camera, 1);
    QDate d;
    QTime t;
    QVERIFY(Canvas::parse_display_timestamp(tile.get_current_timestamp(), &d, &t));
    QCOMPARE(qint64(t.msecsSinceStartOfDay()), v.time_ms()); // the band names the picture shown

    // Zoom with the mouse, then the wheel, then reset with a right click.
    QSignalSpy clicks(&tile, &Canvas::send_clic_event);
    QTest::mouseClick(&tile, Qt::LeftButton, {}, QPoint(320, 240));
    QVERIFY(tile.is_zoomed());
    QCOMPARE(tile.get_zoom_level(), 2);
    wheel(tile, QPointF(320, 240), 120);
    QCOMPARE(tile.get_zoom_level(), 4);
    QTest::mousePress(&tile, Qt::RightButton, {}, QPoint(320, 240));
    QTest::mouseRelease(&tile, Qt::RightButton, {}, QPoint(320, 240));
    QVERIFY(!tile.is_zoomed());
    QCOMPARE(clicks.last().at(0).toString(), QStringLiteral("zoom_out"));

    const QImage snap = tile.get_snapshot();
    QCOMPARE(snap.size(), QSize(320, 240));

    // A tile smaller than the picture: scaled down with its aspect ratio and
    // centred, the band on the picture's top edge.
    tile.resize(240, 240);
    QTRY_COMPARE(tile.size(), QSize(240, 240));
    const QImage scaled = tile.grab().toImage();
    QCOMPARE(tile.get_image_left_margin(), 0);
    QCOMPARE(tile.get_image_top_margin(), 30);
    QCOMPARE(tile.get_drawn_width(), 240);
    QCOMPARE(tile.get_drawn_height(), 180);
    QCOMPARE(scaled.pixel(120, 15), qRgb(0, 0, 0));  // above the picture
    QCOMPARE(scaled.pixel(120, 225), qRgb(0, 0, 0)); // below it
    QFont f = tile.font();
    f.setPointSize(tile.get_overlay_text_size());
    const int band = int(QFontMetrics(f).height() * 1.5);
    // The band darkens the picture: compare a band pixel with the one just below it
    // in the pattern's uniform top stripe.
    const QRgb in_band = scaled.pixel(200, 30 + band - 2);
    const QRgb below = scaled.pixel(200, 30 + band + 2);
    QVERIFY2(qGray(below) > 0 && qGray(in_band) < qGray(below),
             qPrintable(QStringLiteral("%1 %2").arg(qGray(in_band)).arg(qGray(below))));
    reader.stop();
}

QTEST_MAIN(TestTileWindow)
#include "test_tile_window.moc"
