// The process and bandwidth probes: the lines they write, the output file's
// cut, and the timed download against the loopback server over HTTP and
// HTTPS, with the failures that must not write a line or hold the caller.

#include "app/zq_log.h"
#include "diagnostics/analyse_tools.h"
#include "diagnostics/debug_file.h"
#include "diagnostics/process_usage.h"
#include "diagnostics/test_bandwidth.h"
#include "tests/support/loopback_server.h"
#include "tests/support/probe_routes.h"

#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <curl/curl.h>

#include <memory>

Q_DECLARE_METATYPE(ProbeRoute)

namespace {

QStringList g_messages;
void capture(QtMsgType, const QMessageLogContext&, const QString& msg)
{
    g_messages << msg;
}

QStringList lines_of(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(f.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

} // namespace

class TestProbes : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { curl_global_init(CURL_GLOBAL_DEFAULT); }
    void bandwidth_line_data();
    void bandwidth_line();
    void process_line();
    void cpu_share_data();
    void cpu_share();
    void write_and_cut();
    void unwritable_output();
    void process_sample();
    void download_data();
    void download();
    void failures_write_nothing_data();
    void failures_write_nothing();
    void silent_server_does_not_hold_the_caller();
};

void TestProbes::bandwidth_line_data()
{
    QTest::addColumn<qint64>("bytes");
    QTest::addColumn<qint64>("micros");
    QTest::addColumn<qint64>("speed");
    QTest::addColumn<QString>("line");
    QTest::newRow("1.05 s") << qint64(262144) << qint64(1050000) << qint64(249660)
                            << "[INFO] Bandwidth Usage [ DATA 262144 bytes / TIME 1.050000 sec / SPEED 243 kbyte/sec. ]";
    QTest::newRow("2 s") << qint64(1) << qint64(2000000) << qint64(1024)
                         << "[INFO] Bandwidth Usage [ DATA 1 bytes / TIME 2.000000 sec / SPEED 1 kbyte/sec. ]";
    QTest::newRow("micros keep their zeros") << qint64(5) << qint64(3000007) << qint64(0)
                                             << "[INFO] Bandwidth Usage [ DATA 5 bytes / TIME 3.000007 sec / SPEED  ]";
    QTest::newRow("nothing measured") << qint64(0) << qint64(0) << qint64(0)
                                      << "[INFO] Bandwidth Usage [ DATA  / TIME  / SPEED  ]";
}

void TestProbes::bandwidth_line()
{
    QFETCH(qint64, bytes);
    QFETCH(qint64, micros);
    QFETCH(qint64, speed);
    QFETCH(QString, line);
    QCOMPARE(TestBandwidth::line(bytes, micros, speed), line);
}

void TestProbes::process_line()
{
    QCOMPARE(ProcessUsage::line(123.456, 8000.04, 16000.0, 1.5),
             QStringLiteral("[INFO] Process Usage :: Physical Memory [ USE 123.46 / AVAIL 8000.0 / TOT 16000.0 Mb ] "
                            "--- CPU [ 1.50000 % ]"));
    // Numbers never take the French decimal comma of the default locale.
    QLocale::setDefault(QLocale(QLocale::French, QLocale::France));
    QVERIFY(ProcessUsage::line(0.5, 1, 2, 0.25).contains(QLatin1String("USE 0.50 ")));
    QLocale::setDefault(QLocale::c());
}

void TestProbes::cpu_share_data()
{
    QTest::addColumn<qint64>("cpuNs");
    QTest::addColumn<qint64>("wallNs");
    QTest::addColumn<int>("processors");
    QTest::addColumn<double>("share");
    QTest::newRow("one core busy of four") << qint64(1000) << qint64(1000) << 4 << 25.0;
    QTest::newRow("idle") << qint64(0) << qint64(1000) << 2 << 0.0;
    QTest::newRow("no time passed") << qint64(5000) << qint64(0) << 2 << 0.0;
    QTest::newRow("clock went back") << qint64(5000) << qint64(-10) << 2 << 0.0;
}

void TestProbes::cpu_share()
{
    QFETCH(qint64, cpuNs);
    QFETCH(qint64, wallNs);
    QFETCH(int, processors);
    QFETCH(double, share);
    QCOMPARE(ProcessUsage::cpu_share(cpuNs, wallNs, processors), share);
}

void TestProbes::write_and_cut()
{
    QTemporaryDir dir;
    const QString out = dir.filePath(QStringLiteral("analyse.txt"));
    {
        AnalyseTools tools;
        tools.write(QStringLiteral("nowhere")); // no output file: nothing
        QVERIFY(!QFile::exists(out));
        tools.set_output_file(out);
        tools.write(QStringLiteral("hello"));
        const QStringList lines = lines_of(out);
        QCOMPARE(lines.size(), 1);
        QVERIFY2(QRegularExpression(QStringLiteral(R"(^\[\d\d/\d\d/\d{4} \d\d:\d\d:\d\d\.\d{3}\] \{ analyse \} hello$)"))
                     .match(lines.first())
                     .hasMatch(),
                 qPrintable(lines.first()));
        // The write after which the file exceeds 15000000 bytes empties it; the next starts afresh.
        QFile f(out);
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        QVERIFY(f.resize(AnalyseTools::kMaxOutputSize - 10));
        f.close();
        tools.write(QStringLiteral("tips it over"));
        QCOMPARE(QFileInfo(out).size(), 0);
        tools.write(QStringLiteral("fresh"));
        QCOMPARE(lines_of(out).size(), 1);
        QVERIFY(lines_of(out).first().endsWith(QLatin1String("{ analyse } fresh")));
    }
    QVERIFY(lines_of(out).last().endsWith(QLatin1String("{ analyse } [INFO] Analyse tools :: stop")));
}

void TestProbes::unwritable_output()
{
    QTemporaryDir dir;
    AnalyseTools tools;
    tools.set_output_file(dir.path()); // a folder
    set_log_level(1);
    g_messages.clear();
    auto old = qInstallMessageHandler(capture);
    tools.write(QStringLiteral("lost"));
    qInstallMessageHandler(old);
    set_log_level(0);
    QCOMPARE(g_messages.size(), 1);
    QVERIFY(g_messages.first().contains(QStringLiteral("[WARN] Analyse tools :: failed to create output file :: ") +
                                        dir.path()));
    tools.set_output_file(QString());
}

void TestProbes::process_sample()
{
    QTemporaryDir dir;
    AnalyseTools tools;
    tools.set_output_file(dir.filePath(QStringLiteral("p.txt")));
    volatile double sink = 0;
    for (int i = 0; i < 5000000; ++i)
        sink = sink + i;
    const QString line = tools.process_usage()->sample();
    QRegularExpression re(QStringLiteral(R"(^\[INFO\] Process Usage :: Physical Memory \[ USE (\d+\.\d\d) / AVAIL )"
                                         R"((\d+\.\d) / TOT (\d+\.\d) Mb \] --- CPU \[ (\d+\.\d{5}) % \]$)"));
    const auto m = re.match(line);
    QVERIFY2(m.hasMatch(), qPrintable(line));
    QVERIFY(m.captured(1).toDouble() > 1.0);
    QVERIFY(m.captured(3).toDouble() >= m.captured(2).toDouble());
    QVERIFY(m.captured(3).toDouble() > 0);
    QVERIFY(lines_of(tools.output_file()).first().endsWith(line));
    // Without an owner nothing is measured against time and nothing written.
    ProcessUsage alone(nullptr);
    QVERIFY(alone.sample().isEmpty());
}

void TestProbes::download_data()
{
    QTest::addColumn<bool>("https");
    QTest::newRow("http") << false;
    QTest::newRow("https, trusted CA") << true;
}

void TestProbes::download()
{
    QFETCH(bool, https);
    QTemporaryDir dir;
    LoopbackServer server(https ? LoopbackServer::Https : LoopbackServer::Http);
    add_probe_routes(server, ProbeRoute::Body256k);
    AnalyseTools tools;
    tools.set_output_file(dir.filePath(QStringLiteral("b.txt")));
    tools.set_server(server.url_string(QStringLiteral("/")).chopped(1));
    if (https)
        tools.test_bandwidth()->set_ca_file(server.tls().ca_file());
    QSignalSpy done(tools.test_bandwidth(), &TestBandwidth::run_finished);
    tools.bandwidth_timer_finished();
    tools.bandwidth_timer_finished(); // busy: ignored
    QVERIFY(done.wait(20000));
    QCOMPARE(done.first().first().toBool(), true);
    QCOMPARE(server.request_count(), 1);
    const QStringList lines = lines_of(tools.output_file());
    QCOMPARE(lines.size(), 1);
    QVERIFY2(QRegularExpression(QStringLiteral(R"(\{ analyse \} \[INFO\] Bandwidth Usage \[ DATA 262144 bytes / )"
                                               R"(TIME \d+\.\d{6} sec / SPEED \d+ kbyte/sec\. \]$)"))
                 .match(lines.first())
                 .hasMatch(),
             qPrintable(lines.first()));
    QCOMPARE(server.last_request().path, QByteArray("/lib/256k.bytes"));
}

void TestProbes::failures_write_nothing_data()
{
    QTest::addColumn<int>("what");
    QTest::addColumn<ProbeRoute>("route");
    QTest::newRow("untrusted certificate") << 0 << ProbeRoute::Body256k;
    QTest::newRow("refused port") << 1 << ProbeRoute::Body256k;
    QTest::newRow("redirect to file://") << 2 << ProbeRoute::RedirectFile;
    QTest::newRow("endless body, total time-out") << 2 << ProbeRoute::Endless;
    QTest::newRow("not found") << 2 << ProbeRoute::NotFound;
    QTest::newRow("other scheme") << 3 << ProbeRoute::Body256k;
}

void TestProbes::failures_write_nothing()
{
    QFETCH(int, what);
    QFETCH(ProbeRoute, route);
    QTemporaryDir dir;
    auto server = std::make_unique<LoopbackServer>(what == 0 ? LoopbackServer::Https : LoopbackServer::Http);
    add_probe_routes(*server, route);
    AnalyseTools tools;
    tools.set_output_file(dir.filePath(QStringLiteral("f.txt")));
    QString base = server->url_string(QStringLiteral("/")).chopped(1);
    const TlsMaterial other = what == 0 ? TlsMaterial::generate() : TlsMaterial();
    if (what == 0) // trusts another CA
        tools.test_bandwidth()->set_ca_file(other.ca_file());
    if (what == 1)
        server.reset(); // nobody listens there any more
    if (what == 3)
        base.replace(QLatin1String("http://"), QLatin1String("ftp://"));
    tools.set_server(base);
    tools.test_bandwidth()->set_timeouts(2000, 1500);
    QSignalSpy done(tools.test_bandwidth(), &TestBandwidth::run_finished);
    tools.bandwidth_timer_finished();
    QVERIFY(done.wait(20000));
    QCOMPARE(done.first().first().toBool(), false);
    QVERIFY(lines_of(tools.output_file()).isEmpty());
    QVERIFY(!tools.test_bandwidth()->is_busy());
}

void TestProbes::silent_server_does_not_hold_the_caller()
{
    LoopbackServer server;
    add_probe_routes(server, ProbeRoute::Silent);
    QTemporaryDir dir;
    auto tools = std::make_unique<AnalyseTools>();
    tools->set_output_file(dir.filePath(QStringLiteral("s.txt")));
    tools->set_server(server.url_string(QStringLiteral("/")).chopped(1));
    QElapsedTimer t;
    t.start();
    tools->bandwidth_timer_finished();
    QVERIFY2(t.elapsed() < 1000, "run() waited for the transfer");
    QVERIFY(tools->test_bandwidth()->is_busy());
    QVERIFY(server.wait_for_requests(1, 10000));
    // Destruction aborts the transfer and waits for it: no line, no hang.
    t.restart();
    tools.reset();
    QVERIFY2(t.elapsed() < 5000, qPrintable(QString::number(t.elapsed())));
    const QStringList lines = lines_of(dir.filePath(QStringLiteral("s.txt")));
    QCOMPARE(lines.size(), 1); // only the stop line
    QVERIFY(lines.first().endsWith(QLatin1String("[INFO] Analyse tools :: stop")));
    DebugFile nothing; // an empty object class
    Q_UNUSED(nothing);
}

QTEST_GUILESS_MAIN(TestProbes)
#include "test_probes.moc"
