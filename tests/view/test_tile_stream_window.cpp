// A tile in stream mode in a real window: the frames it shows are the
// recording's, in order, read back from the screen.

#include <QTemporaryDir>
#include <QTest>

#include <curl/curl.h>

#include "tests/support/loopback_server.h"
#include "tests/support/stream_routes.h"
#include "tools/zqfixture/lib/fixture_pattern.h"
#include "view/canvas.h"

class TestTileStreamWindow : public QObject
{
    Q_OBJECT

private slots:
    void shown_frames_are_the_recording();
};

void TestTileStreamWindow::shown_frames_are_the_recording()
{
    QTemporaryDir dir;
    auto rec = QSharedPointer<StreamParts::Recording>::create();
    QString error;
    QVERIFY2(StreamParts::make_recording(dir.path(), 3, QSize(320, 240), ZQFixture::Codec::H264, rec.get(), &error),
             qPrintable(error));
    LoopbackServer server(LoopbackServer::Https);
    StreamScript script;
    script.recording = rec;
    script.realtime = true;
    add_stream_route(server, "/video.cgi", script);

    Canvas tile;
    tile.set_stream_scheme(QStringLiteral("https"));
    tile.set_stream_host(QStringLiteral("localhost"));
    tile.set_stream_port(QString::number(server.port()));
    tile.set_stream_path(QStringLiteral("/video.cgi?id=3"));
    tile.set_codec(QStringLiteral("h264"));
    tile.set_buffer_size_ms(400);
    tile.set_trusted_certificates({server.tls().ca_pem()});
    tile.set_center_image(true);
    tile.set_overlay_enabled(true);
    tile.resize(640, 480);
    tile.show();
    QVERIFY(QTest::qWaitForWindowExposed(&tile));

    // Read the screen a few times while it plays: each reading is one of the
    // recording's pictures, and later readings show later frames.
    QList<int> seen;
    for (int i = 0; i < 40 && seen.size() < 5; ++i) {
        QTest::qWait(150);
        const QImage shot = tile.grab().toImage();
        const ZQFixture::PatternValue v = ZQFixture::read_pattern(shot.copy(160, 120, 320, 240));
        if (v.valid && (seen.isEmpty() || v.frame_index != seen.last()))
            seen << v.frame_index;
    }
    QVERIFY2(seen.size() >= 5, qPrintable(QString::number(seen.size())));
    for (int i = 1; i < seen.size(); ++i)
        QVERIFY(seen[i] > seen[i - 1]);
    tile.setEnding();
}

int main(int argc, char** argv)
{
    curl_global_init(CURL_GLOBAL_DEFAULT);
    QApplication app(argc, argv);
    TestTileStreamWindow t;
    return QTest::qExec(&t, argc, argv);
}

#include "test_tile_stream_window.moc"
