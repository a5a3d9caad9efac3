// The tile's overlays: the server draw-overlay parser and its drawing, the
// status band, the bit-rate text and the overlay shapes.

#include <QFontMetrics>
#include <QSignalSpy>
#include <QTest>

#include "view_test_util.h"

Q_DECLARE_METATYPE(DrawOverlayPrimitive::Kind)

class TestTileOverlays : public QObject
{
    Q_OBJECT

private slots:
    void parse_draw_overlay_data();
    void parse_draw_overlay();
    void draw_overlay_caps_hostile_text();
    void draw_overlay_is_drawn_inside_the_picture_data();
    void draw_overlay_is_drawn_inside_the_picture();
    void draw_overlay_follows_the_zoom_data();
    void draw_overlay_follows_the_zoom();
    void format_bitrate_data();
    void format_bitrate();
    void status_band();
    void loading_band_before_any_timestamp();
    void shapes_are_drawn_and_hit();
    void bad_shape_descriptions();
};

void TestTileOverlays::parse_draw_overlay_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("kind");     // of the first entry
    QTest::addColumn<int>("first");    // x1 (lines, rectangles) or x (text, ellipse)
    QTest::addColumn<int>("alpha");
    QTest::addColumn<double>("border");
    QTest::addColumn<QString>("value");

    QTest::newRow("line") << "LINE{x1=0;y1=0;x2=100;y2=50;border-color=red;border-size=2}" << 1
                          << int(DrawOverlayPrimitive::Line) << 0 << 0 << 2.0 << "";
    QTest::newRow("trailing ; cancels the entry") << "LINE{x1=0;y1=0;x2=100;y2=50;border-color=red;border-size=2;}"
                                                  << 0 << -1 << 0 << 0 << 0.0 << "";
    QTest::newRow("rectangle and label") << "L_RECT{x1=10;y1=10;x2=60;y2=40;border-color=#00ff00}:"
                                            "TEXT{x=10;y=8;value=car;color=yellow;font-size=12}"
                                         << 2 << int(DrawOverlayPrimitive::Rect) << 10 << 0 << 0.0 << "";
    QTest::newRow("filled rect without alpha") << "F_RECT{x1=3;y1=0;x2=10;y2=10;color=blue}" << 1
                                               << int(DrawOverlayPrimitive::FilledRect) << 3 << 0 << 0.0 << "";
    QTest::newRow("single entry without colon") << "L_CIRC{x=50;y=50;w=20;h=10}" << 1
                                                << int(DrawOverlayPrimitive::Ellipse) << 50 << 0 << 0.0 << "";
    QTest::newRow("lower-case type ignored") << "line{x1=1;y1=1}" << 0 << -1 << 0 << 0 << 0.0 << "";
    QTest::newRow("unreadable number reads 0") << "LINE{x1=abc;y1=5}" << 1 << int(DrawOverlayPrimitive::Line) << 0
                                               << 0 << 0.0 << "";
    QTest::newRow("absurd coordinate capped") << "LINE{x1=99999999999999}" << 1 << int(DrawOverlayPrimitive::Line)
                                              << DrawOverlay::max_coordinate << 0 << 0.0 << "";
    QTest::newRow("absurd border capped") << "L_RECT{border-size=1e30}" << 1 << int(DrawOverlayPrimitive::Rect) << 0
                                          << 0 << double(DrawOverlay::max_border_size) << "";
    QTest::newRow("nan border") << "L_RECT{border-size=nan}" << 1 << int(DrawOverlayPrimitive::Rect) << 0 << 0 << 0.0
                                << "";
    QTest::newRow("alpha capped") << "F_RECT{alpha=9999}" << 1 << int(DrawOverlayPrimitive::FilledRect) << 0 << 255
                                  << 0.0 << "";
    QTest::newRow("value ends at a second =") << "TEXT{x=4;value=a=b}" << 1 << int(DrawOverlayPrimitive::Text) << 4
                                              << 0 << 0.0 << "a";
    QTest::newRow("leading blank") << " TEXT{x=7;value=v}" << 1 << int(DrawOverlayPrimitive::Text) << 7 << 0 << 0.0
                                   << "v";
    QTest::newRow("later key wins") << "TEXT{x=1;x=9;value=v}" << 1 << int(DrawOverlayPrimitive::Text) << 9 << 0
                                    << 0.0 << "v";
    QTest::newRow("empty") << "" << 0 << -1 << 0 << 0 << 0.0 << "";
    QTest::newRow("colons only") << ":::" << 0 << -1 << 0 << 0 << 0.0 << "";
    QTest::newRow("braces reversed") << "}LINE{" << 0 << -1 << 0 << 0 << 0.0 << "";
}

void TestTileOverlays::parse_draw_overlay()
{
    QFETCH(QString, text);
    QFETCH(int, count);
    QFETCH(int, kind);
    QFETCH(int, first);
    QFETCH(int, alpha);
    QFETCH(double, border);
    QFETCH(QString, value);

    const QList<DrawOverlayPrimitive> list = DrawOverlay::parse(text);
    QCOMPARE(list.size(), count);
    if (count == 0)
        return;
    const DrawOverlayPrimitive& p = list.first();
    QCOMPARE(int(p.kind), kind);
    const bool xy = p.kind == DrawOverlayPrimitive::Text || p.kind == DrawOverlayPrimitive::Ellipse;
    QCOMPARE(xy ? p.x : p.x1, first);
    QCOMPARE(p.alpha, alpha);
    QCOMPARE(double(p.border_size), border);
    QCOMPARE(p.value, value);
}

void TestTileOverlays::draw_overlay_caps_hostile_text()
{
    QString many;
    for (int i = 0; i < 5000; ++i)
        many += QStringLiteral("LINE{x1=1;y1=2}:");
    QCOMPARE(DrawOverlay::parse(many).size(), DrawOverlay::max_entries);
    QVERIFY(DrawOverlay::parse(QString(DrawOverlay::max_text_length + 1, QLatin1Char('{'))).isEmpty());
    const QList<DrawOverlayPrimitive> t = DrawOverlay::parse(QStringLiteral("TEXT{value=") + QString(100000, QLatin1Char('A'))
                                                             + QStringLiteral(";font-size=100000}"));
    QCOMPARE(t.size(), 1);
    QCOMPARE(t.first().value.size(), DrawOverlay::max_value_length);
    QCOMPARE(t.first().font_size, DrawOverlay::max_font_size);
}

namespace {

bool all_black(const QImage& img)
{
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x)
            if ((img.pixel(x, y) & 0xffffff) != 0)
                return false;
    return true;
}

bool is_green(QRgb c)
{
    return qGreen(c) > 200 && qRed(c) < 60;
}

} // namespace

void TestTileOverlays::draw_overlay_is_drawn_inside_the_picture_data()
{
    QTest::addColumn<QSize>("frame");
    QTest::addColumn<QSize>("reference");
    QTest::addColumn<QPoint>("edge");   // on the rectangle's top edge; (-1, -1): nothing drawn at all
    QTest::addColumn<QPoint>("fill");   // inside the filled rectangle
    QTest::addColumn<QPoint>("absent"); // where a wrong mapping would put the fill

    // Tile 640 x 480. Overlay: outline (10, 10)-(60, 40), fill (100, 100)-(140, 140).
    QTest::newRow("natural size, centred: margins 160, 120")
        << QSize(320, 240) << QSize(320, 240) << QPoint(160 + 35, 120 + 10) << QPoint(160 + 120, 120 + 120)
        << QPoint(120, 120);
    // Without a reference size the coordinates are the picture's pixels.
    QTest::newRow("no reference size: picture pixels")
        << QSize(320, 240) << QSize(0, 0) << QPoint(160 + 35, 120 + 10) << QPoint(160 + 120, 120 + 120)
        << QPoint(120, 120);
    QTest::newRow("no reference size, scaled picture")
        << QSize(1280, 720) << QSize(0, 0) << QPoint(17, 60 + 5) << QPoint(60, 60 + 60) << QPoint(120, 60 + 120);
    // 1280 x 720 drawn at 640 x 360 from (0, 60): everything at half size.
    QTest::newRow("scaled picture follows its scale")
        << QSize(1280, 720) << QSize(1280, 720) << QPoint(17, 60 + 5) << QPoint(60, 60 + 60) << QPoint(120, 60 + 120);
    // Coordinates given in a 640 x 360 space, which the drawn picture has.
    QTest::newRow("reference size other than the frame's")
        << QSize(1280, 720) << QSize(640, 360) << QPoint(35, 60 + 10) << QPoint(120, 60 + 120) << QPoint(60, 60 + 60);
}

void TestTileOverlays::draw_overlay_is_drawn_inside_the_picture()
{
    QFETCH(QSize, frame);
    QFETCH(QSize, reference);
    QFETCH(QPoint, edge);
    QFETCH(QPoint, fill);
    QFETCH(QPoint, absent);

    const QString text = QStringLiteral("L_RECT{x1=10;y1=10;x2=60;y2=40;border-color=#00ff00;border-size=4}:"
                                        "F_RECT{x1=100;y1=100;x2=140;y2=140;color=blue;alpha=255}");
    Canvas c;
    setup_like_player(c, 640, 480);
    c.set_draw_overlay_enabled(true);
    c.set_overlay_reference_size(reference.width(), reference.height());
    push_frame(c, plain_image(frame.width(), frame.height(), Qt::black), 0, QStringLiteral("2026-12-10 10:00:00.000"),
               text);
    QCOMPARE(c.get_draw_overlay().size(), 2);
    const QImage shot = c.grab().toImage();
    if (edge.x() < 0) {
        QVERIFY(all_black(shot));
        return;
    }
    QVERIFY2(is_green(shot.pixel(edge)), "rectangle edge lands on the picture as drawn");
    QCOMPARE(shot.pixel(fill), qRgb(0, 0, 255));
    QCOMPARE(shot.pixel(absent), qRgb(0, 0, 0));
}

void TestTileOverlays::draw_overlay_follows_the_zoom_data()
{
    QTest::addColumn<QSize>("frame");
    QTest::addColumn<int>("level");
    QTest::addColumn<QPoint>("edge");   // on the rectangle's top edge
    QTest::addColumn<QPoint>("absent"); // where it would be without the picture's margins

    // Tile 1280 x 720, a click at its centre. Outline (10, 10)-(60, 40).
    QTest::newRow("level 2 filling the tile: twice its frame position")
        << QSize(640, 360) << 2 << QPoint(70, 20) << QPoint(70, 50);
    // 200 x 100 at level 2 is 400 x 200, centred from (440, 260).
    QTest::newRow("level 2 of a small picture keeps its margins")
        << QSize(200, 100) << 2 << QPoint(440 + 70, 260 + 20) << QPoint(70, 20);
}

void TestTileOverlays::draw_overlay_follows_the_zoom()
{
    QFETCH(QSize, frame);
    QFETCH(int, level);
    QFETCH(QPoint, edge);
    QFETCH(QPoint, absent);

    // Zoomed, the overlay is drawn in frame pixels at the zoom's scale from its
    // origin: no reference size needed.
    Canvas c;
    setup_like_player(c, 1280, 720);
    c.set_draw_overlay_enabled(true);
    push_frame(c, plain_image(frame.width(), frame.height(), Qt::black), 0, QStringLiteral("2026-12-10 10:00:00.000"),
               QStringLiteral("L_RECT{x1=10;y1=10;x2=60;y2=40;border-color=#00ff00;border-size=2}"));
    c.grab();
    click(c, QPointF(640, 360));
    QCOMPARE(c.get_zoom_level(), level);
    QCOMPARE(c.get_zoom_origin(), QPointF(0, 0));
    const QImage shot = c.grab().toImage();
    QVERIFY2(is_green(shot.pixel(edge)), "top edge on the zoomed picture");
    QCOMPARE(shot.pixel(absent), qRgb(0, 0, 0));
}

void TestTileOverlays::format_bitrate_data()
{
    QTest::addColumn<double>("bytes");
    QTest::addColumn<QString>("text");
    QTest::newRow("zero") << 0.0 << "0 b";
    QTest::newRow("bits") << 100.0 << "800 b";
    QTest::newRow("just under a kilobit, four digits") << 127.9 << "1023 b";
    QTest::newRow("exactly 1000 bits, no exponent") << 125.0 << "1000 b";
    QTest::newRow("kilobits, three digits") << 125000.0 << "977 kb";
    QTest::newRow("kilobits, four digits") << 129000.0 << "1008 kb";
    QTest::newRow("fraction") << 1250.0 << "9.77 kb";
    QTest::newRow("megabits") << 1000000.0 << "7.63 Mb";
    QTest::newRow("many megabits, no exponent") << 1.0e9 << "7629 Mb";
}

void TestTileOverlays::format_bitrate()
{
    QFETCH(double, bytes);
    QFETCH(QString, text);
    QCOMPARE(Canvas::format_bitrate(bytes), text);
}

void TestTileOverlays::status_band()
{
    Canvas c;
    setup_like_player(c, 640, 480);
    c.set_overlay_enabled(true);
    c.set_overlay_text_size(QStringLiteral("normal"));
    push_frame(c, plain_image(320, 240, Qt::white), 0, QStringLiteral("2026-12-10 10:00:00.000"));
    const QImage shot = c.grab().toImage();
    QFont f = c.font();
    f.setPointSize(16);
    const int band = int(QFontMetrics(f).height() * 1.5);
    // Black at alpha 60 over white, from the picture's top-left corner.
    const QRgb in_band = shot.pixel(161, 121);
    QVERIFY2(qRed(in_band) > 185 && qRed(in_band) < 205, qPrintable(QString::number(qRed(in_band))));
    QCOMPARE(shot.pixel(161, 120 + band - 1), in_band);
    QCOMPARE(shot.pixel(161, 120 + band), qRgb(255, 255, 255));
    QCOMPARE(shot.pixel(161 + 318, 121), in_band); // across the picture's width
    // Without the status overlay no band.
    c.set_overlay_enabled(false);
    QCOMPARE(c.grab().toImage().pixel(161, 121), qRgb(255, 255, 255));
}

void TestTileOverlays::loading_band_before_any_timestamp()
{
    auto bright_pixels = [](const QImage& img, const QRect& r) {
        int n = 0;
        for (int y = r.top(); y <= r.bottom(); ++y)
            for (int x = r.left(); x <= r.right(); ++x)
                n += qGray(img.pixel(x, y)) > 128;
        return n;
    };
    Canvas c;
    setup_like_player(c, 640, 480);
    c.set_overlay_enabled(true);
    const QImage loading = c.grab().toImage();
    QVERIFY2(bright_pixels(loading, QRect(0, 0, 200, 30)) > 20, "the Loading text is drawn");
    c.set_overlay_enabled(false);
    QCOMPARE(bright_pixels(c.grab().toImage(), QRect(0, 0, 200, 30)), 0);
}

void TestTileOverlays::shapes_are_drawn_and_hit()
{
    Canvas c;
    setup_like_player(c, 640, 480);
    c.set_camera_id(QStringLiteral("3"));
    push_frame(c, plain_image(640, 480, Qt::black), 0);
    const QByteArray json = R"([{"id":7,"type":"rect","x":0.25,"y":0.25,"w":0.5,"h":0.5},
                                {"id":8,"type":"unknown"}, 12])";
    c.set_shapes(QString::fromLatin1(json.toBase64()));
    const QImage shot = c.grab().toImage();
    const QRgb edge = shot.pixel(320, 120);
    QVERIFY2(qBlue(edge) > 120 && qRed(edge) < 90, "blue outline on the shape's edge");
    QCOMPARE(shot.pixel(320, 60), qRgb(0, 0, 0));

    QSignalSpy spy(&c, &Canvas::change_camera_id);
    click(c, QPointF(320, 240));
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.at(0).at(0).toInt(), 3);
    QCOMPARE(spy.at(0).at(1).toInt(), 7);
    QVERIFY(!c.is_zoomed()); // a click on a shape does not zoom
    click(c, QPointF(20, 20));
    QCOMPARE(spy.count(), 1);
}

void TestTileOverlays::bad_shape_descriptions()
{
    Canvas c;
    setup_like_player(c, 320, 240);
    push_frame(c, plain_image(320, 240, Qt::black), 0);
    QString huge_polygon = QStringLiteral(R"([{"id":1,"type":"polygon","points":[)");
    for (int i = 0; i < 5000; ++i)
        huge_polygon += QStringLiteral("[0.5,0.5],");
    huge_polygon += QStringLiteral("[0.1,0.1]]}]");
    for (const QString& d : {QStringLiteral("not json"), QStringLiteral(R"([{"type":"rect","x":"a"}])"),
                             QStringLiteral(R"([{"type":"circle","cx":1e308,"cy":0,"r":0.1}])"), huge_polygon}) {
        c.set_shapes(QString::fromLatin1(d.toUtf8().toBase64()));
        QCOMPARE(c.grab().toImage().pixel(160, 120), qRgb(0, 0, 0));
    }
    c.set_shapes(QString(4 * 1024 * 1024, QLatin1Char('A'))); // too large: ignored
    c.grab();
}

QTEST_MAIN(TestTileOverlays)
#include "test_tile_overlays.moc"
