// The stream client against the loopback server: the request it sends, TLS
// verification, the bytes and pictures it hands on, codec switches, the end
// of a transfer (cut, error page, stall), stops and terminal errors.

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <curl/curl.h>

#include <deque>

extern "C" {
#include <libavutil/frame.h>
#include <libswscale/swscale.h>
}

#include "playback/zq_media_frame.h"
#include "tests/support/loopback_server.h"
#include "tests/support/stream_routes.h"
#include "recordings/time_text.h"
#include "tools/zqfixture/lib/fixture_pattern.h"
#include "view/zq_stream_parser.h"

namespace {

struct Consumer
{
    QMutex mutex;
    std::deque<ZQMediaFrame*> queue;
    ~Consumer() { clear(); }
    void clear()
    {
        QMutexLocker lock(&mutex);
        for (ZQMediaFrame* f : queue)
            delete f;
        queue.clear();
    }
    int size()
    {
        QMutexLocker lock(&mutex);
        return int(queue.size());
    }
    void attach(ZQStreamParser& p)
    {
        p.set_frame_queue(&queue);
        p.frame_queue_mutex = &mutex;
    }
};

QImage to_image(const AVFrame* f)
{
    QImage out(f->width, f->height, QImage::Format_RGB32);
    SwsContext* s = sws_getContext(f->width, f->height, AVPixelFormat(f->format), f->width, f->height,
                                   AV_PIX_FMT_BGRA, SWS_BILINEAR, nullptr, nullptr, nullptr);
    uint8_t* dst[4] = {out.bits(), nullptr, nullptr, nullptr};
    int stride[4] = {int(out.bytesPerLine()), 0, 0, 0};
    sws_scale(s, f->data, f->linesize, 0, f->height, dst, stride);
    sws_freeContext(s);
    return out;
}

QList<QByteArray> trust(const LoopbackServer& server)
{
    return {server.tls().ca_pem()};
}

} // namespace

class TestStreamClient : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void request_and_token_data();
    void request_and_token();
    void tls_data();
    void tls();
    void raw_queue_bytes_are_the_recording();
    void decoded_queue_with_pauses_and_messages();
    void direct_pictures_and_codec_switch();
    void end_of_transfer_data();
    void end_of_transfer();
    void stall_then_restart_and_stop();
    void stop_with_a_full_queue();
    void no_part_ends_the_transfer_data();
    void no_part_ends_the_transfer();
    void decoder_cannot_open();
    void bad_input_data();
    void bad_input();
    void header_injection_refused_data();
    void header_injection_refused();
    void consumers_connect_by_text_data();
    void consumers_connect_by_text();

private:
    QTemporaryDir m_dir;
    QSharedPointer<StreamParts::Recording> m_h264;
    QSharedPointer<StreamParts::Recording> m_mpeg4;
};

void TestStreamClient::initTestCase()
{
    QVERIFY(m_dir.isValid());
    QString error;
    m_h264 = QSharedPointer<StreamParts::Recording>::create();
    QVERIFY2(StreamParts::make_recording(m_dir.filePath("a"), 2, QSize(320, 240), ZQFixture::Codec::H264,
                                         m_h264.get(), &error),
             qPrintable(error));
    m_mpeg4 = QSharedPointer<StreamParts::Recording>::create();
    QVERIFY2(StreamParts::make_recording(m_dir.filePath("b"), 1, QSize(160, 120), ZQFixture::Codec::MPEG4,
                                         m_mpeg4.get(), &error),
             qPrintable(error));
}

void TestStreamClient::request_and_token_data()
{
    QTest::addColumn<QString>("token");
    QTest::addColumn<QString>("required");
    QTest::addColumn<bool>("served");
    QTest::newRow("no token, none required") << "" << "" << true;
    QTest::newRow("token sent") << "s3cret" << "s3cret" << true;
    QTest::newRow("no token where one is required: 401") << "" << "s3cret" << false;
}

// The request line, HTTP/1.0, and the token header only when there is one.
void TestStreamClient::request_and_token()
{
    QFETCH(QString, token);
    QFETCH(QString, required);
    QFETCH(bool, served);
    LoopbackServer server;
    StreamScript script;
    script.recording = m_h264;
    script.count = 5;
    script.token = required;
    add_stream_route(server, "/video.cgi", script);
    Consumer c;
    QObject owner;
    ZQStreamParser p(QStringLiteral("http"), QStringLiteral("127.0.0.1"), QString::number(server.port()),
                     QStringLiteral("-1"), QStringLiteral("/video.cgi?id=1&onlyobjframes=0"), false,
                     QStringLiteral("h264"), false, &owner);
    p.set_token(token);
    p.set_text_restart_delay_ms(300);
    p.set_queue_mode(true);
    p.set_raw_packets(true);
    c.attach(p);
    QSignalSpy restart(&p, &ZQStreamParser::set_restart);
    p.start();
    QVERIFY(p.wait(10000));
    QCOMPARE(server.request_count(), 1);
    const HttpRequest req = server.last_request();
    QCOMPARE(req.method, QByteArray("GET"));
    QCOMPARE(req.target, QByteArray("/video.cgi?id=1&onlyobjframes=0"));
    QCOMPARE(req.version, QByteArray("HTTP/1.0"));
    QCOMPARE(req.has_header("x-auth-token"), !token.isEmpty());
    QCOMPARE(req.header("x-auth-token"), token.toUtf8());
    QCOMPARE(c.size(), served ? 5 : 0);
    // The stream ended on the server's side: the owner is asked for a restart
    // (at once for a stream, later for the 401's text page).
    QTRY_COMPARE_WITH_TIMEOUT(restart.size(), 1, 5000);
}

void TestStreamClient::tls_data()
{
    QTest::addColumn<int>("hosts");
    QTest::addColumn<bool>("trusted");
    QTest::addColumn<bool>("ok");
    QTest::newRow("trusted CA") << int(TlsMaterial::Loopback) << true << true;
    QTest::newRow("CA not trusted") << int(TlsMaterial::Loopback) << false << false;
    QTest::newRow("wrong host name") << int(TlsMaterial::WrongHost) << true << false;
}

// The certificate and the host name are verified; a refusal is terminal.
void TestStreamClient::tls()
{
    QFETCH(int, hosts);
    QFETCH(bool, trusted);
    QFETCH(bool, ok);
    LoopbackServer server(LoopbackServer::Https, TlsMaterial::generate(TlsMaterial::Hosts(hosts)));
    StreamScript script;
    script.recording = m_h264;
    script.count = 3;
    add_stream_route(server, "/video.cgi", script);
    Consumer c;
    QObject owner;
    ZQStreamParser p(QStringLiteral("https"), QStringLiteral("127.0.0.1"), QString::number(server.port()), {},
                     QStringLiteral("/video.cgi?id=1"), false, QStringLiteral("h264"), false, &owner);
    p.set_trusted_certificates(trusted ? trust(server) : QList<QByteArray>{TlsMaterial::generate().ca_pem()});
    p.set_queue_mode(true);
    p.set_raw_packets(true);
    c.attach(p);
    QSignalSpy error(&p, qOverload<>(&ZQStreamParser::error));
    QSignalSpy restart(&p, &ZQStreamParser::set_restart);
    p.start();
    QVERIFY(p.wait(10000));
    QCoreApplication::processEvents();
    QCOMPARE(c.size(), ok ? 3 : 0);
    QCOMPARE(error.size(), ok ? 0 : 1);
    QCOMPARE(restart.size(), ok ? 1 : 0);
}

// Raw queue mode hands exactly the recording's coded bytes, in order, each
// with its time and the codec its part names (the consumer cannot tell it from
// the bytes); with CR LF header lines and parts trickled byte by byte too.
void TestStreamClient::raw_queue_bytes_are_the_recording()
{
    LoopbackServer server;
    StreamScript script;
    script.recording = m_h264;
    script.crlf = true;
    script.trickle_parts = 2;
    script.draw_overlay = QStringLiteral("L_RECT{x1=1;y1=1;x2=9;y2=9}");
    const int relabelled = 10; // from this part on the parts name another codec: raw bytes are not decoded
    script.edit = [relabelled](int index, StreamParts::Part& part) {
        if (index >= relabelled)
            part.codec = QStringLiteral("H265");
    };
    add_stream_route(server, "/video.cgi", script);
    Consumer c;
    ZQStreamParser p(QStringLiteral("http"), QStringLiteral("127.0.0.1"), QString::number(server.port()), {},
                     QStringLiteral("/video.cgi"), false, QString(), false, nullptr);
    p.name = "RAW DATA";
    p.set_queue_mode(true);
    p.set_raw_packets(true);
    p.set_max_queue_size(0);
    c.attach(p);
    QSignalSpy status(&p, &ZQStreamParser::send_status_message);
    p.start();
    QVERIFY(p.wait(20000));
    QCOMPARE(c.size(), m_h264->frames.size());
    int i = 0;
    for (ZQMediaFrame* f : c.queue) {
        const StreamParts::Frame& want = m_h264->frames[i];
        QCOMPARE(QByteArray(reinterpret_cast<const char*>(f->get_data()), f->get_data_size()), want.bytes);
        QCOMPARE(f->get_frame_id(), i + 1);
        QDate d;
        qint64 ms = 0;
        QVERIFY(TimeText::parse_yyyymmddhhmmsszzz(want.timestamp, &d, &ms));
        QCOMPARE(QString::fromLatin1(f->get_timestamp()), TimeText::make_display_time(d, ms));
        QCOMPARE(f->get_time_value(), d.toJulianDay() * 86400000LL + ms);
        QCOMPARE(f->get_draw_overlay(), script.draw_overlay);
        QCOMPARE(f->get_fps(), 25.0);
        QCOMPARE(f->get_codec(), i < relabelled ? QStringLiteral("h264") : QStringLiteral("H265"));
        ++i;
    }
    QCoreApplication::processEvents();
    QStringList texts;
    for (const QList<QVariant>& s : status)
        texts << s.at(0).toString();
    QCOMPARE(texts, (QStringList{"connected", "disconnecting", "disconnected"}));
}

// Decoded records carry the recording's pictures; pauses and messages travel
// as records without a picture; broken parts are skipped, the stream goes on.
void TestStreamClient::decoded_queue_with_pauses_and_messages()
{
    LoopbackServer server;
    StreamScript script;
    script.recording = m_h264;
    script.count = 12;
    script.before[4] = {StreamParts::pause_part(m_h264->frames[3].timestamp)};
    script.before[6] = {StreamParts::message_part(QStringLiteral("noobjects"), m_h264->frames[5].timestamp)};
    StreamParts::Part broken = StreamParts::frame_part(*m_h264, 0);
    broken.content_length = "12x";
    StreamParts::Part absurd = StreamParts::frame_part(*m_h264, 0);
    absurd.content_length = "999999999";
    script.before[8] = {broken, absurd};
    script.edit = [](int i, StreamParts::Part& p) {
        if (i == 9)
            p.text_overlay = QStringLiteral("Fps: 1.00 Frametag: x"); // names inside a value
    };
    add_stream_route(server, "/video.cgi", script);
    Consumer c;
    QObject owner;
    ZQStreamParser p(QStringLiteral("http"), QStringLiteral("127.0.0.1"), QString::number(server.port()), {},
                     QStringLiteral("/video.cgi"), false, QStringLiteral("h264"), false, &owner);
    p.set_queue_mode(true);
    c.attach(p);
    p.start();
    QVERIFY(p.wait(20000));
    QCOMPARE(c.size(), 14);
    int frame = 0;
    for (ZQMediaFrame* f : c.queue) {
        if (f->get_text_overlay() == QLatin1String("PAUSE") || f->get_text_overlay() == QLatin1String("noobjects")) {
            QVERIFY(!f->get_frame());
            continue;
        }
        QVERIFY2(f->get_frame(), qPrintable(QString::number(frame)));
        QCOMPARE(f->get_fps(), 25.0);
        const ZQFixture::PatternValue v = ZQFixture::read_pattern(to_image(f->get_frame()));
        QVERIFY(v.valid);
        QCOMPARE(v.frame_index, frame);
        ++frame;
    }
    QCOMPARE(frame, 12);
}

// Direct mode gives each picture to the owner; a switch of Content-Type to
// another codec reopens the decoder. The owner takes the newest picture: one
// that came while it was busy replaces the one waiting and counts as dropped.
void TestStreamClient::direct_pictures_and_codec_switch()
{
    LoopbackServer server;
    StreamScript script;
    script.recording = m_h264;
    script.count = 10;
    script.realtime = true;
    const auto mpeg4 = m_mpeg4;
    script.edit = [mpeg4](int i, StreamParts::Part& p) {
        if (i >= 5)
            p = StreamParts::frame_part(*mpeg4, i - 5);
    };
    add_stream_route(server, "/video.cgi", script);
    QObject owner;
    ZQStreamParser p(QStringLiteral("http"), QStringLiteral("127.0.0.1"), QString::number(server.port()), {},
                     QStringLiteral("/video.cgi"), false, QStringLiteral("h264"), false, &owner);
    QList<QImage> pictures;
    QList<int> ids;
    connect(&p, &ZQStreamParser::frame_decoded_old, this,
            [&](QImage img, int, QString, QString, bool, int id, int, int, double, QString, bool) {
                pictures << img;
                ids << id;
            });
    QSignalSpy sizes(&p, &ZQStreamParser::set_codec_size);
    p.start();
    QTRY_VERIFY_WITH_TIMEOUT(p.isFinished(), 20000);
    QTRY_COMPARE(int(pictures.size() + p.direct_drops()), 10);
    QCOMPARE(ids.last(), 10); // the newest is never dropped
    for (int i = 0; i < pictures.size(); ++i) {
        const int k = ids[i] - 1;
        QVERIFY(i == 0 || ids[i] > ids[i - 1]);
        const ZQFixture::PatternValue v = ZQFixture::read_pattern(pictures[i]);
        QVERIFY(v.valid);
        QCOMPARE(v.frame_index, k < 5 ? k : k - 5);
        QCOMPARE(pictures[i].width(), k < 5 ? 320 : 160);
    }
    QCOMPARE(sizes.size(), 2);
    QCOMPARE(sizes.at(1).at(0).toInt(), 160);
}

void TestStreamClient::end_of_transfer_data()
{
    QTest::addColumn<bool>("text_page");
    QTest::newRow("cut by the server: restart at once") << false;
    QTest::newRow("error page: restart later") << true;
}

void TestStreamClient::end_of_transfer()
{
    QFETCH(bool, text_page);
    LoopbackServer server;
    StreamScript script;
    script.recording = m_h264;
    script.drop_after = 4;
    script.text_page = text_page;
    add_stream_route(server, "/video.cgi", script);
    Consumer c;
    QObject owner;
    ZQStreamParser p(QStringLiteral("http"), QStringLiteral("127.0.0.1"), QString::number(server.port()), {},
                     QStringLiteral("/video.cgi"), false, QStringLiteral("h264"), false, &owner);
    p.set_queue_mode(true);
    p.set_raw_packets(true);
    p.set_text_restart_delay_ms(400);
    c.attach(p);
    QSignalSpy restart(&p, &ZQStreamParser::set_restart);
    QSignalSpy error(&p, qOverload<>(&ZQStreamParser::error));
    p.start();
    QVERIFY(p.wait(10000));
    QCoreApplication::processEvents();
    QCOMPARE(c.size(), text_page ? 0 : 4);
    QCOMPARE(p.is_text_part(), text_page);
    QCOMPARE(restart.size(), text_page ? 0 : 1);
    if (text_page)
        QTRY_COMPARE_WITH_TIMEOUT(restart.size(), 1, 5000);
    QCOMPARE(error.size(), 0); // an owner restarts; no terminal error
}

// A stalled stream: a restart request ends the transfer at once, and so does
// a stop; neither waits for the low-speed limit.
void TestStreamClient::stall_then_restart_and_stop()
{
    LoopbackServer server;
    StreamScript script;
    script.recording = m_h264;
    script.stall_after = 3;
    add_stream_route(server, "/video.cgi", script);
    Consumer c;
    QObject owner;
    ZQStreamParser p(QStringLiteral("http"), QStringLiteral("127.0.0.1"), QString::number(server.port()), {},
                     QStringLiteral("/video.cgi"), false, QStringLiteral("h264"), false, &owner);
    p.set_queue_mode(true);
    p.set_raw_packets(true);
    c.attach(p);
    QSignalSpy restart(&p, &ZQStreamParser::set_restart);
    p.start();
    QTRY_COMPARE(c.size(), 3);
    QElapsedTimer t;
    t.start();
    p.set_restart_pending(true);
    QVERIFY(p.wait(5000));
    QVERIFY2(t.elapsed() < 1000, qPrintable(QString::number(t.elapsed())));
    QTRY_COMPARE(restart.size(), 1);

    p.start();
    QTRY_COMPARE(c.size(), 6);
    t.restart();
    p.threadStop(false);
    QVERIFY(p.wait(5000));
    QVERIFY2(t.elapsed() < 1000, qPrintable(QString::number(t.elapsed())));
    QCOMPARE(server.request_count(), 2);
}

// Back-pressure holds the producer at the bound; a stop still ends it at once.
void TestStreamClient::stop_with_a_full_queue()
{
    LoopbackServer server;
    StreamScript script;
    script.recording = m_h264;
    add_stream_route(server, "/video.cgi", script);
    Consumer c;
    ZQStreamParser p(QStringLiteral("http"), QStringLiteral("127.0.0.1"), QString::number(server.port()), {},
                     QStringLiteral("/video.cgi"), false, QStringLiteral("h264"), false, nullptr);
    p.set_queue_mode(true);
    p.set_max_queue_size(5);
    c.attach(p);
    p.start();
    QTRY_COMPARE(c.size(), 5);
    QTest::qWait(300);
    QCOMPARE(c.size(), 5);
    QElapsedTimer t;
    t.start();
    p.threadStop(false);
    QVERIFY(p.wait(5000));
    QVERIFY2(t.elapsed() < 1000, qPrintable(QString::number(t.elapsed())));
}

void TestStreamClient::no_part_ends_the_transfer_data()
{
    QTest::addColumn<qint64>("junk_first");
    QTest::addColumn<int>("count");
    QTest::addColumn<bool>("huge_length");
    QTest::addColumn<int>("junk_interval_ms");
    QTest::newRow("2 GiB without a boundary before the first part")
        << ((qint64(1) << 31) + (qint64(1) << 20)) << 3 << false << -1;
    QTest::newRow("a part announcing 10^18 bytes, then no boundary") << qint64(0) << 1 << true << 0;
    QTest::newRow("a trickle without a boundary") << qint64(0) << 0 << false << 20;
}

// Bytes that never make a part (no boundary, or a part announcing more than
// a frame can be) end the transfer as a failure after a bounded number of
// bytes (128 MiB) or seconds without a part, and the owner is asked to
// restart (with the back-off of a failure). Before, such a stream was read
// for ever, without an error.
void TestStreamClient::no_part_ends_the_transfer()
{
    QFETCH(qint64, junk_first);
    QFETCH(int, count);
    QFETCH(bool, huge_length);
    QFETCH(int, junk_interval_ms);
    LoopbackServer server;
    StreamScript script;
    script.recording = m_h264;
    script.count = count;
    script.junk_first = junk_first;
    script.junk_forever = junk_interval_ms >= 0;
    script.junk_interval_ms = qMax(0, junk_interval_ms);
    if (huge_length)
        script.edit = [](int, StreamParts::Part& p) { p.content_length = "1000000000000000000"; };
    add_stream_route(server, "/video.cgi", script);
    Consumer c;
    QObject owner;
    ZQStreamParser p(QStringLiteral("http"), QStringLiteral("127.0.0.1"), QString::number(server.port()), {},
                     QStringLiteral("/video.cgi"), false, QStringLiteral("h264"), false, &owner);
    p.set_queue_mode(true);
    p.set_raw_packets(true);
    p.set_part_timeout_ms(1500);
    c.attach(p);
    QSignalSpy restart(&p, &ZQStreamParser::set_restart);
    p.start();
    const bool ended = p.wait(60000);
    if (!ended)
        p.threadStop(false);
    QVERIFY2(ended, "still reading after 60 s");
    // The parts after the junk never came: the transfer ended before it ran out.
    QCOMPARE(c.size(), 0);
    QCOMPARE(p.failed_attempts(), 1);
    QCOMPARE(server.request_count(), 1);
    QTRY_COMPARE(restart.size(), 1);
}

// A codec no decoder reads ends the stream with one error(), no restart.
void TestStreamClient::decoder_cannot_open()
{
    LoopbackServer server;
    StreamScript script;
    script.recording = m_h264;
    script.edit = [](int, StreamParts::Part& p) { p.codec = QStringLiteral("vp99"); };
    add_stream_route(server, "/video.cgi", script);
    QObject owner;
    ZQStreamParser p(QStringLiteral("http"), QStringLiteral("127.0.0.1"), QString::number(server.port()), {},
                     QStringLiteral("/video.cgi"), false, QString(), true, &owner);
    QSignalSpy error(&p, qOverload<>(&ZQStreamParser::error));
    QSignalSpy restart(&p, &ZQStreamParser::set_restart);
    QSignalSpy shown(&p, &ZQStreamParser::send_displayError);
    p.start();
    QVERIFY(p.wait(10000));
    QCoreApplication::processEvents();
    QCOMPARE(error.size(), 1);
    QCOMPARE(restart.size(), 0);
    QCOMPARE(server.request_count(), 1); // loop mode does not ask again
    QVERIFY(!shown.isEmpty());
    QCOMPARE(shown.first().at(1).toString(), QStringLiteral("failed to open decoder"));
}

void TestStreamClient::bad_input_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<int>("records");      // records queued
    QTest::addColumn<int>("pictures");     // of which with a picture
    QTest::addColumn<int>("timeless");     // of which without a time
    QTest::newRow("bad Timestamp") << "timestamp" << 10 << 10 << 1;
    QTest::newRow("false Content-Length, too long") << "long" << 9 << 9 << 0;
    QTest::newRow("absurd Framesize") << "framesize" << 10 << 10 << 0;
    QTest::newRow("hostile overlay and Frametag") << "hostile" << 10 << 10 << 0;
    QTest::newRow("corrupt frames") << "noise" << 10 << 7 << 0;
    QTest::newRow("unknown Content-Type mid-stream") << "codec" << 5 << 5 << 0;
    QTest::newRow("not multipart at all") << "binary" << 0 << 0 << 0;
}

// Hostile or broken parts: the part is skipped or carried without a picture,
// and the stream goes on.
void TestStreamClient::bad_input()
{
    QFETCH(QString, fault);
    QFETCH(int, records);
    QFETCH(int, pictures);
    QFETCH(int, timeless);
    LoopbackServer server;
    StreamScript script;
    script.recording = m_h264;
    script.count = 10;
    script.edit = [fault](int i, StreamParts::Part& p) {
        if (fault == QLatin1String("timestamp") && i == 4)
            p.timestamp = QStringLiteral("2024010108000\x00");
        if (fault == QLatin1String("long") && i == 4)
            p.content_length = QByteArray::number(p.body.size() + 100); // swallows the next boundary
        if (fault == QLatin1String("framesize"))
            p.framesize = QStringLiteral("99999999x99999999");
        if (fault == QLatin1String("hostile")) {
            p.draw_overlay = QString(300000, QLatin1Char('{'));
            p.frametag = QString(100000, QChar(0x202e));
        }
        if (fault == QLatin1String("noise") && i >= 7)
            p.body = QByteArray(p.body.size(), '\x5a');
        if (fault == QLatin1String("codec") && i >= 5)
            p.codec = QStringLiteral("nonsense");
        if (fault == QLatin1String("binary"))
            p.body = QByteArray();
    };
    if (fault == QLatin1String("binary")) {
        server.route("GET", "/video.cgi", [](const HttpRequest&, HttpResponsePtr res) {
            res->reply_until_close(200, {{"Content-Type", "application/octet-stream"}},
                                   QByteArray(200000, '\x2d') + QByteArray("myboundar") + QByteArray(5000, '\n'));
        });
    } else {
        add_stream_route(server, "/video.cgi", script);
    }
    Consumer c;
    QObject owner;
    ZQStreamParser p(QStringLiteral("http"), QStringLiteral("127.0.0.1"), QString::number(server.port()), {},
                     QStringLiteral("/video.cgi"), false, QStringLiteral("h264"), false, &owner);
    p.set_queue_mode(true);
    c.attach(p);
    QSignalSpy restart(&p, &ZQStreamParser::set_restart);
    p.start();
    QVERIFY(p.wait(20000));
    QCoreApplication::processEvents();
    QCOMPARE(c.size(), records);
    int with_picture = 0, without_time = 0;
    for (ZQMediaFrame* f : c.queue) {
        with_picture += f->get_frame() ? 1 : 0;
        without_time += QByteArray(f->get_timestamp()).isEmpty() ? 1 : 0;
        QVERIFY(f->get_draw_overlay().size() <= StreamMultipartParser::max_header_value);
        QVERIFY(f->get_text_overlay().size() <= StreamMultipartParser::max_header_value);
    }
    QCOMPARE(with_picture, pictures);
    QCOMPARE(without_time, timeless);
    if (fault != QLatin1String("codec"))
        QCOMPARE(restart.size(), 1); // the stream ended on the server's side: asked again
}

void TestStreamClient::header_injection_refused_data()
{
    QTest::addColumn<QString>("token");
    QTest::addColumn<QString>("proxy_host");
    QTest::newRow("CR LF in the token") << "abc\r\nX-Evil: 1" << "";
    QTest::newRow("LF in the proxy host") << "" << "127.0.0.1\nX-Evil: 1";
}

// A token or proxy text with control characters sends no request at all.
void TestStreamClient::header_injection_refused()
{
    QFETCH(QString, token);
    QFETCH(QString, proxy_host);
    LoopbackServer server;
    StreamScript script;
    script.recording = m_h264;
    add_stream_route(server, "/video.cgi", script);
    ZQStreamParser p(QStringLiteral("http"), QStringLiteral("127.0.0.1"), QString::number(server.port()), {},
                     QStringLiteral("/video.cgi"), false, QStringLiteral("h264"), false, nullptr);
    p.set_token(token);
    if (!proxy_host.isEmpty())
        p.set_proxy(proxy_host, QString::number(server.port()), true);
    QSignalSpy gone(&p, &ZQStreamParser::can_delete);
    QSignalSpy error(&p, qOverload<>(&ZQStreamParser::error));
    p.start();
    QVERIFY(p.wait(5000));
    QCoreApplication::processEvents();
    QCOMPARE(server.request_count(), 0);
    QCOMPARE(gone.size(), 1);
    QCOMPARE(error.size(), 1);
}

void TestStreamClient::consumers_connect_by_text_data()
{
    QTest::addColumn<QByteArray>("signal");
    // The signals consumers connect to by their text, the ones the client
    // never emits included.
    for (const char* text :
         {"error(QString,QString)", "error()", "stop_display_thread()", "signal_network_fps(int,bool)",
          "set_codec_size(int,int)", "signal_setup_scaler_dewrap(int,int)",
          "frame_decoded(int,AVFrame*,uint8_t**,int,char*,QString,bool,double,int,int,AVPixelFormat,int,int,bool)",
          "speed_send(double)", "send_status_message(QString)", "set_restart()", "can_delete()"})
        QTest::newRow(text) << QByteArray(text);
}

// A consumer's connection by text finds each signal; one that is missing
// fails only at run time, with a warning nobody reads.
void TestStreamClient::consumers_connect_by_text()
{
    QFETCH(QByteArray, signal);
    ZQStreamParser p;
    QObject receiver;
    const QByteArray text = QByteArray::number(QSIGNAL_CODE) + signal;
    QVERIFY(QObject::connect(&p, text.constData(), &receiver, SLOT(deleteLater())));
}

int main(int argc, char** argv)
{
    curl_global_init(CURL_GLOBAL_DEFAULT);
    QCoreApplication app(argc, argv);
    TestStreamClient t;
    return QTest::qExec(&t, argc, argv);
}

#include "test_stream_client.moc"
