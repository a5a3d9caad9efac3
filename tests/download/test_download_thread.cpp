#include "download/zq_download_thread.h"
#include "tests/support/download_routes.h"
#include "tests/support/loopback_server.h"
#include "tools/zqfixture/lib/fixture_writer.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTimer>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <curl/curl.h>

using DownloadRoutes::Answer;

namespace {
DownloadRoutes::Route route(const QByteArray& path, const QByteArray& body, Answer answer = Answer::File,
                            DownloadRoutes::Digest digest = DownloadRoutes::Digest::Right, const QByteArray& to = {})
{
    DownloadRoutes::Route r;
    r.path = path;
    r.body = body;
    r.answer = answer;
    r.digest = digest;
    r.redirect_to = to;
    return r;
}
} // namespace
using DownloadRoutes::Digest;

Q_DECLARE_METATYPE(Answer)
Q_DECLARE_METATYPE(Digest)

// One transfer of the download thread against the loopback server: which single terminal signal
// ends it, what the row is told, and what stays on disk.
class TestDownloadThread : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void transfer_data();
    void transfer();
    void stop_during_trickle();
    void untrusted_certificate();
    void https_never_redirected_to_http();
    void content_digest_data();
    void content_digest();
    void file_hash_query();
    void existing_link_replaced_not_followed();

private:
    struct Outcome
    {
        QString terminal; // "finished", "error" or "stopped"
        QString message;  // error message, or the digest of a success
        QStringList infos;
        int terminals = 0;
    };
    Outcome run(ZQDownload_thread& thread, int timeout_ms = 20000);

    QTemporaryDir m_dir;
    QByteArray m_recording;
};

void TestDownloadThread::initTestCase()
{
    QVERIFY(m_dir.isValid());
    ZQFixture::Options o;
    o.output_parent = m_dir.filePath(QStringLiteral("fixture"));
    o.seconds_per_recording = 2;
    o.size = QSize(160, 120);
    o.fps = 10;
    o.gop = 10;
    const ZQFixture::Result r = ZQFixture::write(o);
    QVERIFY2(r.ok, qPrintable(r.error));
    QFile f(r.files.first().data_path);
    QVERIFY(f.open(QIODevice::ReadOnly));
    m_recording = f.readAll();
    QVERIFY(m_recording.size() > 1000);
}

TestDownloadThread::Outcome TestDownloadThread::run(ZQDownload_thread& thread, int timeout_ms)
{
    Outcome out;
    connect(&thread, &ZQDownload_thread::download_finished, this, [&](const QString& sha) {
        out.terminal = QStringLiteral("finished");
        out.message = sha;
        ++out.terminals;
    });
    connect(&thread, &ZQDownload_thread::download_error, this, [&](const QString&, const QString& message) {
        out.terminal = QStringLiteral("error");
        out.message = message;
        ++out.terminals;
    });
    connect(&thread, &ZQDownload_thread::download_stopped, this, [&] {
        out.terminal = QStringLiteral("stopped");
        ++out.terminals;
    });
    connect(&thread, &ZQDownload_thread::info_changed, this, [&](const QString& text) { out.infos << text; });
    QSignalSpy done(&thread, &QThread::finished);
    thread.start();
    if (!done.wait(timeout_ms))
        qWarning("download thread did not end in time");
    QCoreApplication::processEvents(); // queued terminal signals
    QCoreApplication::processEvents();
    return out;
}

void TestDownloadThread::transfer_data()
{
    QTest::addColumn<Answer>("answer");
    QTest::addColumn<Digest>("digest");
    QTest::addColumn<bool>("https");
    QTest::addColumn<QString>("terminal");
    QTest::addColumn<QString>("message"); // "*" any
    QTest::addColumn<QString>("info");    // expected info line, "" none
    QTest::addColumn<bool>("kept");

    QTest::newRow("file, digest") << Answer::File << Digest::Right << false << "finished" << "*" << "" << true;
    QTest::newRow("file, digest, https") << Answer::File << Digest::Right << true << "finished" << "*" << "" << true;
    QTest::newRow("file, upper-case digest") << Answer::File << Digest::RightUpper << false << "finished" << "*" << "" << true;
    QTest::newRow("file, base64 digest") << Answer::File << Digest::Base64 << false << "finished" << "*" << "" << true;
    QTest::newRow("file, no digest") << Answer::File << Digest::None << false << "finished" << "" << "" << true;
    QTest::newRow("no content type") << Answer::NoContentType << Digest::None << false << "finished" << "" << "" << true;
    QTest::newRow("wrong digest") << Answer::File << Digest::Wrong << false << "error"
                                  << "Empreinte SHA-256 différente"
                                  << "Erreur de téléchargement - Empreinte SHA-256 différente" << false;
    QTest::newRow("malformed digest") << Answer::File << Digest::Malformed << false << "error"
                                      << "Empreinte SHA-256 illisible"
                                      << "Erreur de téléchargement - Empreinte SHA-256 illisible" << false;
    QTest::newRow("html 500") << Answer::Html500 << Digest::None << false << "error" << "Server error 500"
                              << "Erreur de téléchargement - Server error 500" << false;
    QTest::newRow("html page") << Answer::HtmlOther << Digest::None << false << "error" << "IO FAILED"
                               << "Erreur de téléchargement - IO FAILED" << false;
    QTest::newRow("json") << Answer::Json << Digest::None << false << "error" << "ZQ_FILE_NOT_FOUND"
                          << "Erreur de téléchargement - ZQ_FILE_NOT_FOUND" << false;
    QTest::newRow("json without code") << Answer::JsonNoCode << Digest::None << false << "error" << "*"
                                       << "Erreur de téléchargement - " << false;
    QTest::newRow("first line Error") << Answer::TextError << Digest::None << false << "error" << "Fichier vide"
                                      << "Erreur de téléchargement - Fichier vide" << false;
    // With a digest the first-line test is skipped: the server vouched for those bytes.
    QTest::newRow("first line Error, digest") << Answer::TextError << Digest::Right << false << "finished" << "*"
                                              << "" << true;
    QTest::newRow("empty body") << Answer::Empty << Digest::None << false << "error" << "Fichier non lisible"
                                << "Erreur de téléchargement - Fichier non lisible" << false;
    QTest::newRow("404") << Answer::NotFound << Digest::None << false << "error" << "HTTP 404"
                         << "Erreur de téléchargement - HTTP 404" << false;
    QTest::newRow("drop mid-body") << Answer::Drop << Digest::Right << false << "error" << "*" << "*" << false;
    QTest::newRow("redirect loop") << Answer::RedirectLoop << Digest::None << false << "error" << "*" << "*" << false;
}

void TestDownloadThread::transfer()
{
    QFETCH(Answer, answer);
    QFETCH(Digest, digest);
    QFETCH(bool, https);
    QFETCH(QString, terminal);
    QFETCH(QString, message);
    QFETCH(QString, info);
    QFETCH(bool, kept);

    LoopbackServer server(https ? LoopbackServer::Https : LoopbackServer::Http);
    const QByteArray body = answer == Answer::TextError ? QByteArray("Error: no such file\nsecond line\n") : m_recording;
    DownloadRoutes::add(server, route("/dl/1_20240101_080000.zqvideo", body, answer, digest));

    QTemporaryDir out;
    const QString target = out.filePath(QStringLiteral("1_20240101_080000.zqvideo"));
    ZQDownload_thread thread(nullptr,
                             ZQDownload_thread::with_file_hash(server.url(QStringLiteral("/dl/1_20240101_080000.zqvideo")))
                                 .toString(),
                             target);
    if (https)
        thread.set_ca_file(server.tls().ca_file());
    const Outcome o = run(thread);

    QCOMPARE(o.terminals, 1);
    QCOMPARE(o.terminal, terminal);
    if (message != QLatin1String("*"))
        QCOMPARE(o.message, message);
    if (info == QLatin1String("*"))
        QVERIFY(!o.infos.isEmpty());
    else if (info.isEmpty())
        QVERIFY(o.infos.isEmpty());
    else
        QCOMPARE(o.infos.value(0), info);
    QCOMPARE(QFile::exists(target), kept);
    if (kept) {
        QFile f(target);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), body);
        if (digest != Digest::None)
            QCOMPARE(o.message, QString::fromLatin1(DownloadRoutes::digest_value(body, Digest::Right).mid(8)));
    }
    // Nothing of ours stays beside the target: no temporary part file after any ending.
    QCOMPARE(QDir(out.path()).entryList(QDir::Files | QDir::Hidden).size(), kept ? 1 : 0);
}

void TestDownloadThread::stop_during_trickle()
{
    LoopbackServer server;
    DownloadRoutes::add(server, route("/slow", m_recording, Answer::Trickle, Digest::None));
    QTemporaryDir out;
    const QString target = out.filePath(QStringLiteral("slow.zqvideo"));
    ZQDownload_thread thread(nullptr, server.url_string(QStringLiteral("/slow")), target);
    QSignalSpy named(&thread, &ZQDownload_thread::file_named);
    QTimer::singleShot(300, &thread, [&] { thread.request_stop(); });
    QElapsedTimer clock;
    clock.start();
    const Outcome o = run(thread, 10000);
    QVERIFY2(clock.elapsed() < 5000, "a stop must end a trickling transfer at once");
    QCOMPARE(o.terminals, 1);
    QCOMPARE(o.terminal, QStringLiteral("stopped"));
    QVERIFY(!QFile::exists(target));
    QCOMPARE(QDir(out.path()).entryList(QDir::Files | QDir::Hidden).size(), 0);
}

void TestDownloadThread::untrusted_certificate()
{
    LoopbackServer server(LoopbackServer::Https);
    DownloadRoutes::add(server, route("/f", m_recording));
    const TlsMaterial other = TlsMaterial::generate();
    QTemporaryDir out;
    ZQDownload_thread thread(nullptr, server.url_string(QStringLiteral("/f")), out.filePath(QStringLiteral("f")));
    thread.set_ca_file(other.ca_file());
    const Outcome o = run(thread);
    QCOMPARE(o.terminal, QStringLiteral("error"));
    QCOMPARE(o.terminals, 1);
    QVERIFY(!QFile::exists(out.filePath(QStringLiteral("f"))));
}

void TestDownloadThread::https_never_redirected_to_http()
{
    LoopbackServer plain;
    DownloadRoutes::add(plain, route("/f", m_recording));
    LoopbackServer secure(LoopbackServer::Https);
    DownloadRoutes::add(secure, route("/f", m_recording, Answer::RedirectHttp, Digest::None,
                                      plain.url_string(QStringLiteral("/f")).toUtf8()));
    QTemporaryDir out;
    ZQDownload_thread thread(nullptr, secure.url_string(QStringLiteral("/f")), out.filePath(QStringLiteral("f")));
    thread.set_ca_file(secure.tls().ca_file());
    const Outcome o = run(thread);
    QCOMPARE(o.terminal, QStringLiteral("error"));
    QCOMPARE(plain.request_count(), 0);
    QVERIFY(!QFile::exists(out.filePath(QStringLiteral("f"))));
}

void TestDownloadThread::content_digest_data()
{
    QTest::addColumn<QByteArray>("value");
    QTest::addColumn<bool>("usable");
    const QByteArray hex(64, 'a');
    QTest::newRow("hex") << ("sha-256=" + hex) << true;
    QTest::newRow("hex, line end") << ("sha-256=" + hex + "\r\n") << true;
    QTest::newRow("upper hex, upper name") << ("SHA-256=" + hex.toUpper()) << true;
    QTest::newRow("base64") << ("sha-256=:" + QByteArray(32, 'x').toBase64() + ":") << true;
    QTest::newRow("63 digits") << ("sha-256=" + hex.left(63)) << false;
    QTest::newRow("non-hex") << ("sha-256=" + hex.left(63) + "g") << false;
    QTest::newRow("base64 of 31 bytes") << ("sha-256=:" + QByteArray(31, 'x').toBase64() + ":") << false;
    QTest::newRow("bad base64") << QByteArray("sha-256=:@@@@:") << false;
    QTest::newRow("other algorithm") << ("sha-512=" + hex) << false;
    QTest::newRow("empty") << QByteArray() << false;
}

void TestDownloadThread::content_digest()
{
    QFETCH(QByteArray, value);
    QFETCH(bool, usable);
    const auto digest = ZQDownload_thread::parse_content_digest(value);
    QCOMPARE(digest.has_value(), usable);
    if (usable)
        QCOMPARE(digest->size(), 32);
}

void TestDownloadThread::file_hash_query()
{
    QCOMPARE(ZQDownload_thread::with_file_hash(QUrl(QStringLiteral("http://h/f.zqvideo"))).toString(),
             QStringLiteral("http://h/f.zqvideo?file_hash=1"));
    QCOMPARE(ZQDownload_thread::with_file_hash(QUrl(QStringLiteral("http://h/get?f=a%26b"))).toString(),
             QStringLiteral("http://h/get?f=a%26b&file_hash=1"));
}

void TestDownloadThread::existing_link_replaced_not_followed()
{
    LoopbackServer server;
    DownloadRoutes::add(server, route("/f", m_recording));
    QTemporaryDir out;
    const QString victim = out.filePath(QStringLiteral("victim.txt"));
    QFile v(victim);
    QVERIFY(v.open(QIODevice::WriteOnly));
    v.write("keep me");
    v.close();
    const QString target = out.filePath(QStringLiteral("f.zqvideo"));
    QVERIFY(QFile::link(victim, target));
    ZQDownload_thread thread(nullptr, server.url_string(QStringLiteral("/f")), target);
    const Outcome o = run(thread);
    QCOMPARE(o.terminal, QStringLiteral("finished"));
    QVERIFY(!QFileInfo(target).isSymLink());
    QFile f(victim);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(), QByteArray("keep me"));
}

int main(int argc, char** argv)
{
    curl_global_init(CURL_GLOBAL_DEFAULT);
    QCoreApplication app(argc, argv);
    TestDownloadThread test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_download_thread.moc"
