// The display-and-buffer thread between the loopback server and a receiver
// that acknowledges frames as a tile does: order, pace, the server's pause,
// the replay at the end of a looping stream, and the restart when the
// receiver stays silent.

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <curl/curl.h>

#include <algorithm>

#include "app/zq_log.h"
#include "tests/support/loopback_server.h"
#include "tests/support/stream_routes.h"
#include "tests/view/stream_test_util.h"
#include "tools/zqfixture/lib/fixture_pattern.h"
#include "view/new_display_thread.h"
#include "view/zq_stream_parser.h"

namespace {

// Takes the frames as the tile does and acknowledges each one (or not).
class Receiver : public QObject
{
    Q_OBJECT
public:
    explicit Receiver(new_display_thread* t, bool ack) : thread(t), acknowledge(ack)
    {
        clock.start();
        connect(t, &new_display_thread::set_display_frame, this, &Receiver::frame);
        connect(t, &new_display_thread::send_displayError, this, &Receiver::message);
    }
    new_display_thread* thread;
    bool acknowledge;
    QElapsedTimer clock;
    QList<int> ids;
    QList<int> indexes;
    QList<qint64> at_ms;
    QStringList times;
    QStringList messages;

public slots:
    void frame(QImage img, int, int, int, QString time, QString, bool, int id, double, bool)
    {
        ids << id;
        times << time;
        at_ms << clock.elapsed();
        const ZQFixture::PatternValue v = ZQFixture::read_pattern(img);
        indexes << (v.valid ? v.frame_index : -1);
        if (acknowledge)
            thread->security_unlock_display();
    }
    void message(QString overlay, QString text, bool)
    {
        messages << (text.isEmpty() ? overlay : text);
        if (overlay == QLatin1String("REPLAY..."))
            thread->get_replay_frame_displayed();
    }
};

} // namespace

class TestDisplayThread : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void order_and_pace();
    void ordinary_frames_adapt_the_buffer();
    void cut_and_resume_never_goes_back_data();
    void cut_and_resume_never_goes_back();
    void server_pause();
    void refused_port_backs_off();
    void server_back_is_picked_up_within_the_cap();
    void replay_at_the_end_of_a_loop();
    void silent_receiver_restarts_the_stream();
    void hide_pauses_a_live_stream_and_show_resumes();
    void deleted_while_its_client_is_held_data();
    void deleted_while_its_client_is_held();

private:
    new_display_thread* start(LoopbackServer& server, int buffer_ms, bool loop,
                              const QString& path = QStringLiteral("/video.cgi?id=1"));
    void finish(new_display_thread* t);

    QTemporaryDir m_dir;
    QSharedPointer<StreamParts::Recording> m_rec;
};

void TestDisplayThread::initTestCase()
{
    QString error;
    m_rec = QSharedPointer<StreamParts::Recording>::create();
    QVERIFY2(StreamParts::make_recording(m_dir.path(), 2, QSize(160, 120), ZQFixture::Codec::H264, m_rec.get(),
                                         &error),
             qPrintable(error));
}

new_display_thread* TestDisplayThread::start(LoopbackServer& server, int buffer_ms, bool loop, const QString& path)
{
    auto* t = new new_display_thread(nullptr);
    t->name = QStringLiteral("test");
    t->buffer_duration_ms = buffer_ms;
    t->set_skip_decoding(false);
    t->init_stream_parser(QStringLiteral("http"), QStringLiteral("127.0.0.1"), QString::number(server.port()), {},
                          path, false, QStringLiteral("h264"), loop, {}, {}, false, {});
    return t;
}

// Stopped, then deleted once it says both of its threads have ended.
void TestDisplayThread::finish(new_display_thread* t)
{
    QSignalSpy done(t, &new_display_thread::can_delete);
    t->set_stop();
    // can_delete may come within set_stop itself.
    QVERIFY(!done.isEmpty() || done.wait(5000));
    QVERIFY(!t->isRunning());
    delete t;
}

void TestDisplayThread::order_and_pace()
{
    LoopbackServer server;
    StreamScript script;
    script.recording = m_rec;
    script.realtime = true;
    add_stream_route(server, "/video.cgi", script);
    new_display_thread* t = start(server, 400, false);
    Receiver r(t, true);
    QSignalSpy buffering(t, &new_display_thread::send_buffering);
    t->start();
    QTRY_VERIFY_WITH_TIMEOUT(r.ids.size() >= 30, 15000);
    finish(t);
    // In order, never twice, and the pictures are the recording's.
    for (int i = 1; i < r.ids.size(); ++i) {
        QVERIFY2(r.ids[i] > r.ids[i - 1], qPrintable(QStringLiteral("%1 after %2").arg(r.ids[i]).arg(r.ids[i - 1])));
        QVERIFY(r.indexes[i] > r.indexes[i - 1]);
    }
    QCOMPARE(r.indexes.first(), r.ids.first() - 1);
    // Paced: 25 frames per second, not as fast as they can be handed over.
    const qint64 span = r.at_ms.last() - r.at_ms.first();
    QVERIFY2(span >= (r.ids.size() - 1) * 40 / 2, qPrintable(QString::number(span)));
    // Filling was reported, then its end.
    QVERIFY(!buffering.isEmpty());
    QCOMPARE(buffering.first().at(0).toBool(), true);
    bool ended = false;
    for (const QList<QVariant>& b : buffering)
        ended = ended || (!b.at(0).toBool() && b.at(1).toDouble() == 100.0);
    QVERIFY(ended);
}

// Ordinary frames (no server message, an empty text overlay) drive the speed
// adaptation and, once a second, the adaptive growth of the buffer: a stream
// whose first part announces 5 frames per second and whose later parts come
// at 25 grows its buffer of 1000 ms from 10 records to about 50.
void TestDisplayThread::ordinary_frames_adapt_the_buffer()
{
    LoopbackServer server;
    StreamScript script;
    script.recording = m_rec;
    script.realtime = true;
    script.loops = 12;
    script.edit = [](int i, StreamParts::Part& p) {
        if (i == 0)
            p.fps = QStringLiteral(" 5.00");
    };
    add_stream_route(server, "/video.cgi", script);
    new_display_thread* t = start(server, 1000, false);
    Receiver r(t, true);
    t->start();
    QTRY_COMPARE_WITH_TIMEOUT(t->get_max_list_size(), 10, 10000);
    // Eleven samples of the records' rates, the first of them still at 5.
    QTRY_VERIFY_WITH_TIMEOUT(t->get_max_list_size() >= 40, 30000);
    finish(t);
}

void TestDisplayThread::cut_and_resume_never_goes_back_data()
{
    QTest::addColumn<int>("buffer_ms");
    QTest::newRow("buffered 1000 ms") << 1000;
    QTest::newRow("direct") << 0;
}

// A playback stream that the server cuts every 40 frames: the client asks
// again from the second of the last keyframe shown, and the server starts
// there, sending again frames already shown. What is shown never goes back:
// ids and times strictly increase across every reconnect.
void TestDisplayThread::cut_and_resume_never_goes_back()
{
    QFETCH(int, buffer_ms);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    auto rec = QSharedPointer<StreamParts::Recording>::create();
    QString error;
    QVERIFY2(StreamParts::make_recording(dir.path(), 8, QSize(160, 120), ZQFixture::Codec::H264, rec.get(), &error),
             qPrintable(error));
    LoopbackServer server;
    StreamScript script;
    script.recording = rec;
    script.realtime = true;
    script.drop_after = 40;
    script.resume_from_starttime = true;
    add_stream_route(server, "/video.cgi", script);
    const QString path = QStringLiteral("/video.cgi?id=1&playback=1&starttime=") + rec->frames.first().timestamp.left(14);
    new_display_thread* t = start(server, buffer_ms, false, path);
    Receiver r(t, true);
    if (buffer_ms > 0)
        t->start();
    else
        t->start_stream_parser();
    QTRY_VERIFY_WITH_TIMEOUT(server.request_count() >= 4 && r.ids.size() >= 100, 30000);
    finish(t);
    for (int i = 1; i < r.ids.size(); ++i) {
        QVERIFY2(r.ids[i] > r.ids[i - 1], qPrintable(QStringLiteral("id %1 after %2").arg(r.ids[i]).arg(r.ids[i - 1])));
        QVERIFY2(r.times[i] > r.times[i - 1], qPrintable(r.times[i] + QStringLiteral(" after ") + r.times[i - 1]));
        QVERIFY(r.indexes[i] > r.indexes[i - 1]);
    }
}

namespace {

std::atomic<int> g_log_lines{0};

void count_lines(QtMsgType, const QMessageLogContext&, const QString&)
{
    ++g_log_lines;
}

} // namespace

// Nothing listens on the port: the first retry goes at once, then the waits
// double from 100 ms (to 5 s), and the failure is logged when it begins, not
// at every attempt. Before, some 95 attempts and a thousand log lines a
// second emptied the log file within minutes.
void TestDisplayThread::refused_port_backs_off()
{
    quint16 port = 0;
    {
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost));
        port = probe.serverPort();
    }
    auto* t = new new_display_thread(nullptr);
    t->name = QStringLiteral("test");
    t->set_skip_decoding(false);
    t->init_stream_parser(QStringLiteral("http"), QStringLiteral("127.0.0.1"), QString::number(port), {},
                          QStringLiteral("/video.cgi?id=1"), false, QStringLiteral("h264"), false, {}, {}, false, {});
    const int level = get_log_level();
    set_log_level(1);
    g_log_lines = 0;
    const QtMessageHandler previous = qInstallMessageHandler(count_lines);
    t->start_stream_parser();
    // Three seconds of a server out of reach: attempts at about 0, 0, 0.1,
    // 0.3, 0.7, 1.5 and 3.1 s.
    QTest::qWait(3000);
    qInstallMessageHandler(previous);
    set_log_level(level);
    const int attempts = t->get_stream_parser()->transfer_count();
    const int lines = g_log_lines;
    QVERIFY2(attempts >= 3 && attempts <= 12, qPrintable(QString::number(attempts)));
    QVERIFY2(lines <= 30, qPrintable(QString::number(lines)));
    QVERIFY(t->get_stream_parser()->failed_attempts() >= 3);
    finish(t);
}

// The server cuts every request for a while, then serves again: its stream
// is taken up within the 5 s cap, and frames bring the retries back to once.
void TestDisplayThread::server_back_is_picked_up_within_the_cap()
{
    auto down = std::make_shared<std::atomic<bool>>(true);
    LoopbackServer server;
    StreamScript script;
    script.recording = m_rec;
    script.realtime = true;
    script.loops = 20;
    script.refuse = [down] { return down->load(); };
    add_stream_route(server, "/video.cgi", script);
    new_display_thread* t = start(server, 0, false);
    Receiver r(t, true);
    t->start_stream_parser();
    QTRY_VERIFY_WITH_TIMEOUT(server.request_count() >= 6, 15000);
    QVERIFY(r.ids.isEmpty());
    const int refused = server.request_count();
    *down = false;
    QElapsedTimer back;
    back.start();
    QTRY_VERIFY_WITH_TIMEOUT(!r.ids.isEmpty(), 5000 + 5000);
    QVERIFY2(back.elapsed() < 5000 + 3000, qPrintable(QString::number(back.elapsed())));
    QCOMPARE(t->get_stream_parser()->failed_attempts(), 0);
    QCOMPARE(t->get_stream_parser()->retry_delay_ms(), 0);
    QVERIFY(server.request_count() <= refused + 2);
    finish(t);
}

void TestDisplayThread::server_pause()
{
    LoopbackServer server;
    StreamScript script;
    script.recording = m_rec;
    script.realtime = true;
    script.count = 20;
    script.before[15] = {StreamParts::pause_part(m_rec->frames[14].timestamp)};
    script.stall_after = 16;
    add_stream_route(server, "/video.cgi", script);
    new_display_thread* t = start(server, 200, false);
    Receiver r(t, true);
    t->start();
    QTRY_VERIFY_WITH_TIMEOUT(r.messages.contains(QStringLiteral("PAUSE")), 15000);
    finish(t);
}

// A looping buffered stream puts a replay marker at its end: the receiver is
// told "REPLAY...", and once it has shown it the stream is asked again.
void TestDisplayThread::replay_at_the_end_of_a_loop()
{
    LoopbackServer server;
    StreamScript script;
    script.recording = m_rec;
    script.count = 12;
    add_stream_route(server, "/video.cgi", script);
    new_display_thread* t = start(server, 200, true);
    Receiver r(t, true);
    t->start();
    QTRY_VERIFY_WITH_TIMEOUT(r.messages.contains(QStringLiteral("REPLAY...")), 15000);
    const int before = r.ids.size();
    QTRY_COMPARE_WITH_TIMEOUT(server.request_count(), 2, 10000);
    QTRY_VERIFY_WITH_TIMEOUT(r.ids.size() > before, 10000);
    finish(t);
}

// Nobody acknowledges: after ten seconds the client is restarted.
void TestDisplayThread::silent_receiver_restarts_the_stream()
{
    LoopbackServer server;
    StreamScript script;
    script.recording = m_rec;
    script.realtime = true;
    script.loops = 20;
    add_stream_route(server, "/video.cgi", script);
    new_display_thread* t = start(server, 200, false);
    Receiver r(t, false);
    t->start();
    QTRY_VERIFY_WITH_TIMEOUT(!r.ids.isEmpty(), 10000);
    QCOMPARE(server.request_count(), 1);
    QTRY_COMPARE_WITH_TIMEOUT(server.request_count(), 2, 20000);
    finish(t);
}

// Hidden with a pause, a live stream stops (its transfer ends); shown again
// it asks the server anew and frames flow again.
void TestDisplayThread::hide_pauses_a_live_stream_and_show_resumes()
{
    LoopbackServer server;
    StreamScript script;
    script.recording = m_rec;
    script.realtime = true;
    script.loops = 20;
    add_stream_route(server, "/video.cgi", script);
    new_display_thread* t = start(server, 200, false);
    Receiver r(t, true);
    t->start();
    QTRY_VERIFY_WITH_TIMEOUT(r.ids.size() >= 5, 10000);
    t->get_display_hidden(true);
    QTRY_VERIFY_WITH_TIMEOUT(!t->isRunning() && !t->get_stream_parser()->isRunning(), 5000);
    QTest::qWait(200);
    const int hidden_count = r.ids.size();
    QTest::qWait(300);
    QCOMPARE(r.ids.size(), hidden_count);
    t->get_display_show();
    QTRY_VERIFY_WITH_TIMEOUT(r.ids.size() > hidden_count + 3, 10000);
    QCOMPARE(server.request_count(), 2);
    finish(t);
}

void TestDisplayThread::deleted_while_its_client_is_held_data()
{
    QTest::addColumn<int>("buffer_ms");
    QTest::newRow("direct") << 0;
    QTest::newRow("buffered") << 200;
}

// Deleted while its stream stalls and its client's thread is held: the
// deletion neither waits for the client nor destroys it running; the client,
// cut from the deleted thread's queue, deletes itself once it ends. Before,
// the deletion waited 5 s, then 5 s more in the client's destructor, and
// aborted ("QThread: Destroyed while thread is still running").
void TestDisplayThread::deleted_while_its_client_is_held()
{
    QFETCH(int, buffer_ms);
    LoopbackServer server;
    StreamScript script;
    script.recording = m_rec;
    script.realtime = true;
    script.stall_after = 30;
    add_stream_route(server, "/video.cgi", script);
    auto hold = std::make_shared<ClientHold>();
    ClientHoldRelease release{hold};
    // Clients of the earlier cases go first (deleted from the event loop).
    QVERIFY(wait_until_deleted([] { return ZQStreamParser::live_count() == 0; }));
    new_display_thread* t = start(server, buffer_ms, false);
    {
        Receiver r(t, true);
        if (buffer_ms > 0)
            t->start();
        else
            t->start_stream_parser();
        QTRY_VERIFY_WITH_TIMEOUT(r.ids.size() >= 5, 15000);
        hold_client(t->get_stream_parser(), hold);
        hold->armed = true;
        QElapsedTimer clock;
        clock.start();
        delete t;
        QVERIFY2(clock.elapsed() < 4000, qPrintable(QStringLiteral("%1 ms").arg(clock.elapsed())));
    }
    QTRY_VERIFY_WITH_TIMEOUT(hold->entered, 15000);
    QCOMPARE(ZQStreamParser::live_count(), 1); // still running, not deleted
    hold->release.release();
    QVERIFY(wait_until_deleted([] { return ZQStreamParser::live_count() == 0; }));
}

int main(int argc, char** argv)
{
    curl_global_init(CURL_GLOBAL_DEFAULT);
    QCoreApplication app(argc, argv);
    if (qEnvironmentVariableIsSet("ZQ_TEST_LOG"))
        set_log_level(1);
    TestDisplayThread t;
    return QTest::qExec(&t, argc, argv);
}

#include "test_display_thread.moc"
