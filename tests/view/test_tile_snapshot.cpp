// Snapshots of the display tile and their multipart upload to a local server.

#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

#include "app/zq_log.h"
#include "view_test_util.h"

namespace {

// The tile's log lines, which go through Qt's message handler.
QStringList g_log;
void capture(QtMsgType, const QMessageLogContext&, const QString& msg)
{
    g_log << msg;
}

bool logged(const QString& text)
{
    for (const QString& line : std::as_const(g_log))
        if (line.contains(text))
            return true;
    return false;
}

// A one-request HTTP server on 127.0.0.1 that keeps what it received.
class LocalServer : public QObject
{
    Q_OBJECT
public:
    explicit LocalServer(int status) : m_status(status)
    {
        m_server.listen(QHostAddress::LocalHost, 0);
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            QTcpSocket* s = m_server.nextPendingConnection();
            connect(s, &QTcpSocket::readyRead, this, [this, s] {
                m_request += s->readAll();
                const int end = m_request.indexOf("\r\n\r\n");
                if (end < 0)
                    return;
                qsizetype length = 0;
                for (const QByteArray& line : m_request.left(end).split('\n'))
                    if (line.toLower().startsWith("content-length:"))
                        length = line.mid(15).trimmed().toLongLong();
                if (m_request.size() < end + 4 + length)
                    return;
                m_complete = true;
                s->write("HTTP/1.1 " + QByteArray::number(m_status) + " X\r\nContent-Length: 2\r\nConnection: close\r\n\r\nok");
                s->disconnectFromHost();
            });
        });
    }
    QString url(const QString& rest) const
    {
        return QStringLiteral("http://127.0.0.1:%1%2").arg(m_server.serverPort()).arg(rest);
    }
    QByteArray headers() const { return m_request.left(m_request.indexOf("\r\n\r\n")); }
    QByteArray body() const { return m_request.mid(m_request.indexOf("\r\n\r\n") + 4); }
    bool complete() const { return m_complete; }

    // Form fields of the multipart body, by name.
    QHash<QByteArray, QByteArray> fields() const
    {
        QHash<QByteArray, QByteArray> out;
        const QByteArray h = headers();
        const int b = h.indexOf("boundary=");
        if (b < 0)
            return out;
        QByteArray boundary = h.mid(b + 9);
        boundary = boundary.left(boundary.indexOf('\r')).trimmed();
        if (boundary.startsWith('"'))
            boundary = boundary.mid(1, boundary.size() - 2);
        QByteArray rest = body();
        const QByteArray sep = "--" + boundary;
        int pos = rest.indexOf(sep);
        while (pos >= 0) {
            const int next = rest.indexOf(sep, pos + sep.size());
            if (next < 0)
                break;
            const QByteArray part = rest.mid(pos + sep.size() + 2, next - pos - sep.size() - 4);
            const int he = part.indexOf("\r\n\r\n");
            const QByteArray ph = part.left(he);
            const int n = ph.indexOf("name=\"");
            if (n >= 0) {
                QByteArray name = ph.mid(n + 6);
                name = name.left(name.indexOf('"'));
                out.insert(name, part.mid(he + 4));
                if (name == "image")
                    out.insert("image-headers", ph);
            }
            pos = next;
        }
        return out;
    }

private:
    QTcpServer m_server;
    QByteArray m_request;
    int m_status;
    bool m_complete = false;
};

} // namespace

class TestTileSnapshot : public QObject
{
    Q_OBJECT

private slots:
    void snapshot_sizes_and_caption();
    void no_frame_no_snapshot();
    void upload_multipart_data();
    void upload_multipart();
    void upload_failures();
    void upload_texts_cannot_forge_headers();
    void tile_destroyed_during_upload();
};

void TestTileSnapshot::snapshot_sizes_and_caption()
{
    Canvas c;
    setup_like_player(c, 640, 480);
    c.set_camera_name(QStringLiteral("Entrance"));
    const QString ts = QStringLiteral("2026-12-10 10:00:00.000");
    push_frame(c, plain_image(320, 240, Qt::white), 0, ts);
    c.grab();

    const QImage shot = c.get_snapshot();
    QCOMPARE(shot.size(), QSize(320, 240)); // cropped to the centred picture
    const QRgb band = shot.pixel(1, 1);
    QVERIFY2(qRed(band) > 135 && qRed(band) < 155, qPrintable(QString::number(qRed(band))));
    QCOMPARE(shot.pixel(160, 200), qRgb(255, 255, 255));
    // The caption is drawn, not stored: the tile keeps the frame's timestamp.
    QCOMPARE(c.get_current_timestamp(), ts);

    // Full resolution, whatever the tile's size. The caption names the camera
    // before the timestamp.
    push_frame(c, plain_image(1920, 1080, Qt::white), 1, ts);
    g_log.clear();
    const int level = get_log_level();
    set_log_level(1);
    QtMessageHandler previous = qInstallMessageHandler(capture);
    const QImage full = c.get_snapshot_full();
    qInstallMessageHandler(previous);
    set_log_level(level);
    QVERIFY(logged(QStringLiteral("get snapshot full :: define overlay :: Entrance | ") + ts));
    QCOMPARE(full.size(), QSize(1920, 1080));
    QVERIFY(qRed(full.pixel(1, 1)) < 160);
    QCOMPARE(full.pixel(1, 1000), qRgb(255, 255, 255));
    QCOMPARE(c.get_current_timestamp(), ts);

    // A caption longer than the band is elided, not wrapped over the picture.
    c.set_camera_name(QString(500, QLatin1Char('W')));
    const QImage narrow = c.get_snapshot();
    QVERIFY(!narrow.isNull());
}

void TestTileSnapshot::no_frame_no_snapshot()
{
    Canvas c;
    setup_like_player(c, 320, 240);
    c.grab();
    QVERIFY(c.get_snapshot().isNull());
    QVERIFY(c.get_snapshot_full().isNull());
}

void TestTileSnapshot::upload_multipart_data()
{
    QTest::addColumn<bool>("full");
    QTest::addColumn<QString>("query");
    QTest::addColumn<QStringList>("expected"); // name=value pairs besides PHPSESSID
    QTest::newRow("tile snapshot") << false << "?cam=3&x=1&=skipped&y=a=b&&"
                                   << QStringList{"cam=3", "x=1", "y=a=b"};
    QTest::newRow("full snapshot") << true << "?cam=3&x=1&y=a=b" << QStringList{"cam=3", "x=1", "y=a"};
    QTest::newRow("question mark at the end") << false << "?" << QStringList{};
}

void TestTileSnapshot::upload_multipart()
{
    QFETCH(bool, full);
    QFETCH(QString, query);
    QFETCH(QStringList, expected);

    LocalServer server(200);
    Canvas c;
    setup_like_player(c, 320, 240);
    push_frame(c, plain_image(320, 240, Qt::white), 0);
    c.grab();
    QSignalSpy done(&c, &Canvas::snapshot_upload_finished);
    const QString address = server.url(QStringLiteral("/up.php")) + query;
    const QImage img = full ? c.get_snapshot_full(QStringLiteral("s3ss"), address)
                            : c.get_snapshot(QStringLiteral("s3ss"), address);
    QVERIFY(!img.isNull());
    QTRY_COMPARE_WITH_TIMEOUT(done.count(), 1, 10000);
    QCOMPARE(done.at(0).at(0).toBool(), true);
    QVERIFY(server.complete());

    const QByteArray headers = server.headers();
    QVERIFY2(headers.startsWith("POST /up.php HTTP/1.1"), headers.constData());
    QVERIFY2(headers.contains("\r\nCookie: PHPSESSID=s3ss"), headers.constData());
    QVERIFY(headers.contains("multipart/form-data"));

    const QHash<QByteArray, QByteArray> fields = server.fields();
    QVERIFY(fields.value("image").startsWith("\xFF\xD8")); // a JPEG
    QVERIFY(fields.value("image-headers").contains("image/jpeg"));
    QVERIFY(fields.value("image-headers").contains("filename=\"test.jpg\""));
    QCOMPARE(fields.value("PHPSESSID"), QByteArray("s3ss"));
    QCOMPARE(fields.size(), 3 + expected.size()); // image, its headers, session, and the query's fields
    for (const QString& pair : expected) {
        const int eq = pair.indexOf(QLatin1Char('='));
        QCOMPARE(fields.value(pair.left(eq).toLatin1()), pair.mid(eq + 1).toLatin1());
    }
}

void TestTileSnapshot::upload_failures()
{
    Canvas c;
    setup_like_player(c, 320, 240);
    push_frame(c, plain_image(320, 240, Qt::white), 0);
    c.grab();
    QSignalSpy done(&c, &Canvas::snapshot_upload_finished);

    LocalServer server(500);
    c.get_snapshot(QStringLiteral("s"), server.url(QStringLiteral("/up.php?a=1")));
    QTRY_COMPARE_WITH_TIMEOUT(done.count(), 1, 10000);
    QCOMPARE(done.at(0).at(0).toBool(), false); // a server error is no success

    c.get_snapshot(QStringLiteral("s"), QStringLiteral("ftp://127.0.0.1/up"));
    QCOMPARE(done.count(), 2);
    QCOMPARE(done.at(1).at(0).toBool(), false);

    // Nothing listens there any more: a refused connection ends as a failure.
    quint16 port;
    {
        QTcpServer gone;
        gone.listen(QHostAddress::LocalHost, 0);
        port = gone.serverPort();
    }
    c.get_snapshot(QStringLiteral("s"), QStringLiteral("http://127.0.0.1:%1/up.php").arg(port));
    QTRY_COMPARE_WITH_TIMEOUT(done.count(), 3, 10000);
    QCOMPARE(done.at(2).at(0).toBool(), false);
}

void TestTileSnapshot::upload_texts_cannot_forge_headers()
{
    // The session id goes into a request header and the query's names into
    // the parts' headers: line breaks or quotes in them must not add headers
    // or fields of their own.
    Canvas c;
    setup_like_player(c, 320, 240);
    push_frame(c, plain_image(320, 240, Qt::white), 0);
    c.grab();
    QSignalSpy done(&c, &Canvas::snapshot_upload_finished);

    LocalServer refused(200);
    c.get_snapshot(QStringLiteral("s\r\nX-Forged: 1"), refused.url(QStringLiteral("/up.php")));
    QCOMPARE(done.count(), 1);
    QCOMPARE(done.at(0).at(0).toBool(), false);
    QTest::qWait(50);
    QVERIFY(!refused.complete());

    LocalServer server(200);
    c.get_snapshot(QStringLiteral("s"),
                   server.url(QStringLiteral("/up.php?ok=1&a\r\nX-Forged: 1=2&b\"; name=\"PHPSESSID=3")));
    QTRY_COMPARE_WITH_TIMEOUT(done.count(), 2, 10000);
    QCOMPARE(done.at(1).at(0).toBool(), true);
    const QHash<QByteArray, QByteArray> fields = server.fields();
    QCOMPARE(fields.value("ok"), QByteArray("1"));
    QCOMPARE(fields.value("PHPSESSID"), QByteArray("s"));
    QVERIFY2(!server.body().contains("X-Forged"), server.body().constData());
    QCOMPARE(fields.size(), 4); // image, its headers, ok, PHPSESSID
}

void TestTileSnapshot::tile_destroyed_during_upload()
{
    // The server takes the request and never answers; the tile goes away
    // (camera change, window closed) while the upload is in flight.
    QTcpServer silent;
    QVERIFY(silent.listen(QHostAddress::LocalHost, 0));
    QList<QTcpSocket*> held;
    connect(&silent, &QTcpServer::newConnection, this, [&] { held << silent.nextPendingConnection(); });
    {
        Canvas c;
        setup_like_player(c, 320, 240);
        push_frame(c, plain_image(320, 240, Qt::white), 0);
        c.grab();
        c.get_snapshot(QStringLiteral("s"), QStringLiteral("http://127.0.0.1:%1/up.php").arg(silent.serverPort()));
        QTRY_VERIFY_WITH_TIMEOUT(!held.isEmpty(), 5000);
        QTest::qWait(50);
    }
    QTest::qWait(100); // nothing may reach the destroyed tile
}

QTEST_MAIN(TestTileSnapshot)
#include "test_tile_snapshot.moc"
