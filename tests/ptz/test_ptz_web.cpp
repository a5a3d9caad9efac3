// The web control against the loopback web endpoint: the URLs and headers
// it sends, one request at a time, the kept release and the security stop,
// failures and time-outs; then every web gesture of a tile.

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QTest>

#include <curl/curl.h>

#include <cstdio>
#include <unistd.h>

#include "app/http_singleton.h"
#include "app/zq_log.h"
#include "ptz/ptz_ctrl_web.h"
#include "ptz/ptz_gestures.h"
#include "ptz_loopback.h"
#include "tests/support/loopback_server.h"
#include "tests/support/stream_routes.h"
#include "tests/view/view_test_util.h"
#include "view/new_display_thread.h"
#include "view/zq_stream_parser.h"

namespace {

QStringList queries(const FakePtzWeb& web)
{
    QStringList out;
    for (const auto& r : web.requests())
        out << r.query;
    return out;
}

int count_with(const FakePtzWeb& web, const QString& key)
{
    int n = 0;
    for (const auto& r : web.requests())
        n += r.query.contains(key + QLatin1Char('=')) ? 1 : 0;
    return n;
}

} // namespace

class TestPtzWeb : public QObject
{
    Q_OBJECT

private slots:
    void url_and_headers();
    void tls_verified();
    void busy_gives_minus_one();
    void security_stop_behind_hold_once();
    void release_behind_click_kept_without_security_stop();
    void error_ends_busy();
    void stalled_hold_gets_its_stop();
    void tile_gestures();
    void tile_without_options_sends_only_clicks();
    void secrets_stay_out_of_the_log();
};

void TestPtzWeb::url_and_headers()
{
    LoopbackWeb server;
    PtzCtrlWeb w;
    QSignalSpy done(&w, &PtzCtrlWeb::send_request_finished);
    w.postClic(server.url(QStringLiteral("/ptz.php?cam=2")), 10.9, 20.2, 1920, 1080, QStringLiteral("s&1"));
    QVERIFY(!w.is_idle());
    QVERIFY(done.wait(5000));
    QCOMPARE(done.first().at(0).toInt(), 1);
    QVERIFY(w.is_idle());
    const FakePtzWeb::Request r = server.web().requests().first();
    QCOMPARE(r.method, QByteArray("GET"));
    QCOMPARE(r.path, QStringLiteral("/ptz.php"));
    QCOMPARE(r.query, QStringLiteral("cam=2&clic=10,20&resolution=1920x1080&PHPSESSID=s%261"));
    QCOMPARE(r.headers.value("connection").toLower(), QByteArray("keep-alive"));
    QCOMPARE(r.headers.value("content-type"), QByteArray("application/x-www-form-urlencoded"));
    // The server-access User-Agent of that second.
    const QString ua = QString::fromLatin1(r.headers.value("user-agent"));
    const QRegularExpressionMatch m = QRegularExpression(QStringLiteral("access_time (\\d{14});")).match(ua);
    QVERIFY2(m.hasMatch(), qPrintable(ua));
    QCOMPARE(ua, Http_singleton::instance()->access_user_agent_at(m.captured(1), QString(), false));
}

void TestPtzWeb::tls_verified()
{
    LoopbackWeb server(true);
    for (bool trusted : {true, false}) {
        PtzCtrlWeb w;
        if (trusted)
            w.set_ca_certificates(server.ca());
        QSignalSpy done(&w, &PtzCtrlWeb::send_request_finished);
        w.postRightClic(server.url(QStringLiteral("/ptz")), 640, 480, QString());
        QVERIFY(done.wait(5000));
        QCOMPARE(done.first().at(0).toInt(), trusted ? 1 : -1);
    }
    // Only the trusted one reached the page.
    QCOMPARE(count_with(server.web(), QStringLiteral("rightclic")), 1);
}

void TestPtzWeb::busy_gives_minus_one()
{
    LoopbackWeb server;
    server.web().delay_next(800);
    PtzCtrlWeb w;
    QSignalSpy done(&w, &PtzCtrlWeb::send_request_finished);
    const QString url = server.url(QStringLiteral("/ptz"));
    QCOMPARE(w.postContinuous(url, true, 5, 5, 100, 100, QString()), 1);
    QCOMPARE(w.postContinuous(url, true, 6, 6, 100, 100, QString()), -1);
    w.postClic(url, 1, 1, 100, 100, QString());
    w.postZoom(url, QStringLiteral("1"), QStringLiteral("0"), 100, 100, QString());
    // A hold refused while busy does not arm the security stop.
    QVERIFY(!w.is_security_stop_armed());
    QVERIFY(done.wait(5000));
    QTest::qWait(200);
    QCOMPARE(queries(server.web()), QStringList({"holdclic=5,5&resolution=100x100&PHPSESSID="}));
}

void TestPtzWeb::security_stop_behind_hold_once()
{
    LoopbackWeb server;
    server.web().delay_next(1300);
    PtzCtrlWeb w;
    QSignalSpy stop(&w, &PtzCtrlWeb::security_stop);
    QSignalSpy done(&w, &PtzCtrlWeb::send_request_finished);
    const QString url = server.url(QStringLiteral("/ptz"));
    QCOMPARE(w.postContinuous(url, true, 5, 5, 100, 100, QString()), 1);
    QCOMPARE(w.postContinuous(url, false, 0, 0, 100, 100, QString()), -1);
    QVERIFY(w.is_security_stop_armed());
    QTest::qWait(200);
    QCOMPARE(w.postContinuous(url, false, 0, 0, 100, 100, QString()), -1);
    QTRY_COMPARE_WITH_TIMEOUT(done.count(), 2, 5000);
    QTest::qWait(700);
    // The kept release went out once, after the hold; the security stop was
    // raised once while the hold was in flight.
    QCOMPARE(count_with(server.web(), QStringLiteral("releaseclic")), 1);
    QCOMPARE(queries(server.web()).last(), QStringLiteral("releaseclic=0,0&resolution=100x100&PHPSESSID="));
    QCOMPARE(stop.count(), 1);
    QVERIFY(!w.is_security_stop_armed());
}

void TestPtzWeb::release_behind_click_kept_without_security_stop()
{
    LoopbackWeb server;
    server.web().delay_next(600);
    PtzCtrlWeb w;
    QSignalSpy stop(&w, &PtzCtrlWeb::security_stop);
    QSignalSpy done(&w, &PtzCtrlWeb::send_request_finished);
    const QString url = server.url(QStringLiteral("/ptz"));
    w.postClic(url, 1, 2, 100, 100, QString());
    QCOMPARE(w.postContinuous(url, false, 0, 0, 100, 100, QString()), -1);
    QVERIFY(!w.is_security_stop_armed());
    QTRY_COMPARE_WITH_TIMEOUT(done.count(), 2, 5000);
    QCOMPARE(stop.count(), 0);
    QCOMPARE(count_with(server.web(), QStringLiteral("releaseclic")), 1);
}

void TestPtzWeb::error_ends_busy()
{
    LoopbackWeb server;
    server.web().fail_next();
    PtzCtrlWeb w;
    QSignalSpy done(&w, &PtzCtrlWeb::send_request_finished);
    const QString url = server.url(QStringLiteral("/ptz"));
    w.postClic(url, 1, 2, 100, 100, QString());
    QVERIFY(done.wait(5000));
    QCOMPARE(done.last().at(0).toInt(), -1);
    QVERIFY(w.is_idle());
    w.postClic(url, 3, 4, 100, 100, QString());
    QVERIFY(done.wait(5000));
    QCOMPARE(done.last().at(0).toInt(), 1);
    // A server that is not there at all.
    PtzCtrlWeb nowhere;
    QSignalSpy failed(&nowhere, &PtzCtrlWeb::send_request_finished);
    nowhere.postClic(QString(), 1, 1, 10, 10, QString());
    QVERIFY(failed.wait(5000));
    QCOMPARE(failed.first().at(0).toInt(), -1);
}

void TestPtzWeb::stalled_hold_gets_its_stop()
{
    LoopbackWeb server;
    server.web().stall_next();
    PtzCtrlWeb w;
    w.set_timeout_ms(800);
    QSignalSpy done(&w, &PtzCtrlWeb::send_request_finished);
    const QString url = server.url(QStringLiteral("/ptz"));
    QCOMPARE(w.postContinuous(url, true, 5, 5, 100, 100, QString()), 1);
    QCOMPARE(w.postContinuous(url, false, 0, 0, 100, 100, QString()), -1);
    QTRY_COMPARE_WITH_TIMEOUT(done.count(), 2, 5000);
    QCOMPARE(done.at(0).at(0).toInt(), -1);
    QCOMPARE(done.at(1).at(0).toInt(), 1);
    QCOMPARE(count_with(server.web(), QStringLiteral("releaseclic")), 1);
}

void TestPtzWeb::tile_gestures()
{
    LoopbackWeb server;
    FakePtzWeb& web = server.web();
    Canvas c;
    setup_like_player(c, 1280, 720);
    push_frame(c, plain_image(1920, 1080, Qt::darkGray), 0);
    c.grab();
    c.set_ptz_mode(true);
    c.set_ptz_options({"holdclic", "area", "zoom", "rightclic"});
    c.set_ptz_web_url(server.url(QStringLiteral("/ptz.php?cam=1")));
    c.set_session_id(QStringLiteral("abc"));
    PtzGestures* g = PtzGestures::attach(&c);
    const QString tail = QStringLiteral("&resolution=1920x1080&PHPSESSID=abc");
    // Each gesture waits for the one before to be answered: a busy control
    // drops requests, by design.
    auto idle = [g] { return g->web()->is_idle(); };

    // A click: one request, 150 ms after the release.
    QElapsedTimer since_release;
    click(c, QPointF(100, 200));
    since_release.start();
    QTRY_COMPARE(web.requests().size(), 1);
    QVERIFY(since_release.elapsed() >= 140);
    QCOMPARE(web.requests().last().query, "cam=1&clic=150,300" + tail);
    QTRY_VERIFY(idle());

    // A still hold: one hold request, then its release; no click.
    send_mouse(c, QEvent::MouseButtonPress, QPointF(1000, 100), Qt::LeftButton, Qt::LeftButton);
    QTest::qWait(800);
    QCOMPARE(count_with(web, QStringLiteral("holdclic")), 1);
    send_mouse(c, QEvent::MouseButtonRelease, QPointF(1000, 100), Qt::LeftButton, Qt::NoButton);
    QTRY_COMPARE(count_with(web, QStringLiteral("releaseclic")), 1);
    QCOMPARE(web.requests().at(1).query, "cam=1&holdclic=1500,150" + tail);
    QCOMPARE(web.requests().at(2).query, "cam=1&releaseclic=0,0" + tail);
    QTest::qWait(300);
    QCOMPARE(web.requests().size(), 3);
    QTRY_VERIFY(idle());

    // An area: one request, no click.
    send_mouse(c, QEvent::MouseButtonPress, QPointF(100, 100), Qt::LeftButton, Qt::LeftButton);
    for (int i = 1; i <= 10; ++i)
        send_mouse(c, QEvent::MouseMove, QPointF(100 + 30 * i, 100 + 20 * i), Qt::NoButton, Qt::LeftButton);
    send_mouse(c, QEvent::MouseButtonRelease, QPointF(400, 300), Qt::LeftButton, Qt::NoButton);
    QTRY_COMPARE(web.requests().size(), 4);
    QCOMPARE(web.requests().last().query, "cam=1&area=150,150,450,300" + tail);
    QTest::qWait(300);
    QCOMPARE(web.requests().size(), 4);
    QTRY_VERIFY(idle());

    // Two wheel steps within 500 ms: one zoom in; later a step down zooms out.
    wheel(c, QPointF(300, 300), 120);
    wheel(c, QPointF(300, 300), 120);
    QTRY_COMPARE(web.requests().size(), 5);
    QCOMPARE(web.requests().last().query, "cam=1&zoom=1,0" + tail);
    QTRY_VERIFY(idle());
    QTest::qWait(600);
    wheel(c, QPointF(300, 300), -120);
    QTRY_COMPARE(web.requests().size(), 6);
    QCOMPARE(web.requests().last().query, "cam=1&zoom=0,1" + tail);
    QTRY_VERIFY(idle());

    // A right click.
    send_mouse(c, QEvent::MouseButtonPress, QPointF(10, 10), Qt::RightButton, Qt::RightButton);
    send_mouse(c, QEvent::MouseButtonRelease, QPointF(10, 10), Qt::RightButton, Qt::NoButton);
    QTRY_COMPARE(web.requests().size(), 7);
    QCOMPARE(web.requests().last().query, "cam=1&rightclic=1" + tail);
}

void TestPtzWeb::tile_without_options_sends_only_clicks()
{
    LoopbackWeb server;
    Canvas c;
    setup_like_player(c, 1280, 720);
    push_frame(c, plain_image(1920, 1080, Qt::darkGray), 0);
    c.grab();
    c.set_ptz_mode(true);
    c.set_ptz_web_url(server.url(QStringLiteral("/ptz")));
    PtzGestures::attach(&c);
    send_mouse(c, QEvent::MouseButtonPress, QPointF(1000, 100), Qt::LeftButton, Qt::LeftButton);
    QTest::qWait(600);
    send_mouse(c, QEvent::MouseButtonRelease, QPointF(1000, 100), Qt::LeftButton, Qt::NoButton);
    wheel(c, QPointF(300, 300), 120);
    send_mouse(c, QEvent::MouseButtonPress, QPointF(10, 10), Qt::RightButton, Qt::RightButton);
    QTest::qWait(600);
    QCOMPARE(queries(server.web()), QStringList({"clic=1500,150&resolution=1920x1080&PHPSESSID="}));
}

// The log goes out with crash reports: a web PTZ hold from the tile and a
// stream started with a token (libcurl's diagnostics on, as in development
// builds) leave neither the session id nor the token in the log file or on
// stderr; the lines stay, with the values replaced.
void TestPtzWeb::secrets_stay_out_of_the_log()
{
    const QString session = QStringLiteral("Sess10nSecretA7");
    const QString token = QStringLiteral("T0kenSecretB8");

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    auto rec = QSharedPointer<StreamParts::Recording>::create();
    QString error;
    QVERIFY2(StreamParts::make_recording(dir.filePath("rec"), 1, QSize(160, 120), ZQFixture::Codec::H264, rec.get(),
                                         &error),
             qPrintable(error));

    // stderr into a file for the test's span.
    QTemporaryFile captured;
    QVERIFY(captured.open());
    std::fflush(stderr);
    const int saved_stderr = ::dup(2);
    QVERIFY(saved_stderr >= 0);
    QVERIFY(::dup2(captured.handle(), 2) >= 0);
    QVERIFY(QDir().mkpath(QFileInfo(ZQLog::logFilePath()).absolutePath()));
    set_log_level(1);
    ZQLog::installMessageHandler();
    QVERIFY(ZQLog::emptyLogFile());
    ZQStreamParser::force_transfer_diagnostics(1);
    auto undo = [&] {
        ZQStreamParser::force_transfer_diagnostics(-1);
        qInstallMessageHandler(nullptr);
        set_log_level(0);
        std::fflush(stderr);
        ::dup2(saved_stderr, 2);
        ::close(saved_stderr);
    };
    auto restore = qScopeGuard(undo);

    {
        LoopbackWeb server;
        Canvas c;
        setup_like_player(c, 1280, 720);
        push_frame(c, plain_image(1920, 1080, Qt::darkGray), 0);
        c.grab();
        c.set_ptz_mode(true);
        c.set_ptz_options({"holdclic"});
        c.set_ptz_web_url(server.url(QStringLiteral("/ptz.php?cam=1")));
        c.set_session_id(session);
        PtzGestures* g = PtzGestures::attach(&c);
        send_mouse(c, QEvent::MouseButtonPress, QPointF(1000, 100), Qt::LeftButton, Qt::LeftButton);
        QTRY_COMPARE(count_with(server.web(), QStringLiteral("holdclic")), 1);
        send_mouse(c, QEvent::MouseButtonRelease, QPointF(1000, 100), Qt::LeftButton, Qt::NoButton);
        QTRY_COMPARE(count_with(server.web(), QStringLiteral("releaseclic")), 1);
        QTRY_VERIFY(g->web()->is_idle());
        QVERIFY(server.web().requests().last().query.endsWith(QStringLiteral("PHPSESSID=") + session));
    }
    {
        LoopbackServer server;
        StreamScript script;
        script.recording = rec;
        script.count = 10;
        script.token = token;
        add_stream_route(server, "/video.cgi", script);
        Canvas c;
        c.set_stream_scheme(QStringLiteral("http"));
        c.set_stream_host(QStringLiteral("127.0.0.1"));
        c.set_stream_port(QString::number(server.port()));
        c.set_stream_path(QStringLiteral("/video.cgi?id=3"));
        c.set_codec(QStringLiteral("h264"));
        c.set_access_token(token);
        c.resize(320, 240);
        c.show();
        QTRY_VERIFY_WITH_TIMEOUT(c.get_last_frame_id() >= 3, 15000);
        QCOMPARE(server.last_request().header("x-auth-token"), token.toUtf8());
        c.setEnding();
    }
    QTRY_VERIFY_WITH_TIMEOUT(new_display_thread::live_count() == 0, 10000);
    restore.dismiss();
    undo();

    QFile log_file(ZQLog::logFilePath());
    QVERIFY(log_file.open(QIODevice::ReadOnly));
    const QByteArray log = log_file.readAll();
    captured.seek(0);
    const QByteArray err = captured.readAll();
    for (const QByteArray& where : {log, err}) {
        QVERIFY(!where.contains(session.toUtf8()));
        QVERIFY(!where.contains(token.toUtf8()));
    }
    for (const QByteArray& where : {log, err}) {
        // The lines are kept, with the values replaced.
        QVERIFY(where.contains("post continuous :: "));
        QVERIFY(where.contains("PHPSESSID=\xe2\x80\xa6"));
        QVERIFY(where.contains("x-auth-token: \xe2\x80\xa6"));
    }
}

int main(int argc, char** argv)
{
    // Before any thread, as in the program.
    curl_global_init(CURL_GLOBAL_DEFAULT);
    QApplication app(argc, argv);
    TestPtzWeb t;
    return QTest::qExec(&t, argc, argv);
}
#include "test_ptz_web.moc"
