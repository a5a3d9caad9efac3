#include "download/download_multi_items_presentation.h"
#include "download/squeeze_label.h"
#include "tests/support/download_routes.h"
#include "tests/support/loopback_server.h"

#include <QApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <curl/curl.h>

using DownloadRoutes::Answer;
using DownloadRoutes::Digest;

// The multi-file row against the loopback server: files downloaded in turn, failing files retried
// five times then listed as failed, a confirmed stop, a restart, and the row's texts.
class TestMultiItems : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void query_switch_data();
    void query_switch();
    void local_path_data();
    void local_path();
    void linked_folders_data();
    void linked_folders();
    void constructed_texts();
    void three_files_second_fails();
    void stop_confirmed_then_restart();
    void stop_declined();
    void destroyed_while_downloading();

private:
    static DownloadFileEntry entry(const QString& url, const QString& path, const QString& size = QString())
    {
        DownloadFileEntry e;
        e.url = url;
        e.path = path;
        e.size = size;
        return e;
    }
    static void add(LoopbackServer& server, const QByteArray& path, const QByteArray& body,
                    Answer answer = Answer::File)
    {
        DownloadRoutes::Route r;
        r.path = path;
        r.body = body;
        r.answer = answer;
        r.digest = Digest::Right;
        DownloadRoutes::add(server, r);
    }
    static bool wait_finished(DownloadMultiItems_Presentation& row, int ms = 20000)
    {
        return QTest::qWaitFor([&] { return row.isFinished(); }, ms);
    }
};

void TestMultiItems::init()
{
    DownloadMultiItems_Presentation::set_confirm_stop({});
    DownloadMultiItems_Presentation::set_ca_file(QString());
}

void TestMultiItems::query_switch_data()
{
    QTest::addColumn<QString>("url");
    QTest::addColumn<QString>("expected");
    QTest::newRow("no query") << "http://h/a.zqvideo" << "http://h/a.zqvideo?file_hash=1";
    QTest::newRow("query") << "http://h/get?f=1" << "http://h/get?f=1&file_hash=1";
    QTest::newRow("already asks") << "http://h/get?file_hash=1" << "http://h/get?file_hash=1";
    QTest::newRow("zip") << "http://h/b.zip" << "http://h/b.zip";
    QTest::newRow("exe") << "http://h/setup.exe?x=1" << "http://h/setup.exe?x=1";
}

void TestMultiItems::query_switch()
{
    QFETCH(QString, url);
    QFETCH(QString, expected);
    QCOMPARE(DownloadMultiItems_Presentation::with_query_switch(url), expected);
}

void TestMultiItems::local_path_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("expected"); // relative to the destination; "" refused
    QTest::newRow("relative") << "2024-01-01/a.zqvideo" << "2024-01-01/a.zqvideo";
    QTest::newRow("absolute inside") << "@/x/a.zqvideo" << "x/a.zqvideo";
    QTest::newRow("absolute outside") << "/etc/a" << "";
    QTest::newRow("dot-dot") << "../a" << "";
    QTest::newRow("link out") << "out/a" << "";
}

void TestMultiItems::local_path()
{
    QFETCH(QString, path);
    QFETCH(QString, expected);
    QTemporaryDir dir;
    const QString dest = dir.filePath(QStringLiteral("dest"));
    QVERIFY(QDir().mkpath(dest));
    QVERIFY(QFile::link(dir.path(), QDir(dest).filePath(QStringLiteral("out"))));
    path.replace(QLatin1Char('@'), dest);
    QCOMPARE(DownloadMultiItems_Presentation::local_path(dest, path),
             expected.isEmpty() ? QString() : QDir(dest).filePath(expected));
}

void TestMultiItems::linked_folders_data()
{
    // In a temporary folder holding "dest", "outside" (with "outside/victim" holding "keep") and
    // "dest/d1/d2/real": links made below dest, then one entry downloaded from the loopback server.
    QTest::addColumn<QStringList>("links");  // "name=target", name relative to dest
    QTest::addColumn<QString>("entry_path");
    QTest::addColumn<QString>("lands");      // where the file is, relative to the temporary folder; "" refused
    QTest::newRow("depth 1") << QStringList{"out=../outside"} << "out/new/a.bin" << "";
    QTest::newRow("depth 1, folder there") << QStringList{"out=../outside"} << "out/a.bin" << "";
    QTest::newRow("depth 2") << QStringList{"d1/out=../../outside"} << "d1/out/new/a.bin" << "";
    QTest::newRow("depth 3") << QStringList{"d1/d2/out=../../../outside"} << "d1/d2/out/x/y/a.bin" << "";
    QTest::newRow("link to a sibling inside") << QStringList{"lnk=d1/d2/real"} << "lnk/new/a.bin"
                                              << "dest/d1/d2/real/new/a.bin";
    QTest::newRow("link to a link inside") << QStringList{"l1=d1", "l2=l1/d2"} << "l2/real/a.bin"
                                           << "dest/d1/d2/real/a.bin";
    QTest::newRow("inside, then out") << QStringList{"l1=d1", "d1/d2/up=../../.."} << "l1/d2/up/a.bin" << "";
    QTest::newRow("dangling out") << QStringList{"gone=../outside/missing"} << "gone/new/a.bin" << "";
    QTest::newRow("dangling inside") << QStringList{"gone=nothing"} << "gone/a.bin" << "";
    QTest::newRow("file named by a link out") << QStringList{"a.bin=../outside/victim"} << "a.bin" << "dest/a.bin";
}

void TestMultiItems::linked_folders()
{
    QFETCH(QStringList, links);
    QFETCH(QString, entry_path);
    QFETCH(QString, lands);

    LoopbackServer server;
    const QByteArray body(3000, 'n');
    add(server, "/f/a", body);
    QTemporaryDir dir;
    const QDir root(dir.path());
    QVERIFY(root.mkpath(QStringLiteral("dest/d1/d2/real")));
    QVERIFY(root.mkpath(QStringLiteral("outside")));
    QFile victim(root.filePath(QStringLiteral("outside/victim")));
    QVERIFY(victim.open(QIODevice::WriteOnly));
    victim.write("keep");
    victim.close();
    for (const QString& link : links) {
        const QString name = link.section(QLatin1Char('='), 0, 0);
        const QString target = link.section(QLatin1Char('='), 1);
        QVERIFY(QFile::link(target, root.filePath(QStringLiteral("dest/") + name)));
    }
    const QString dest = root.filePath(QStringLiteral("dest"));
    DownloadMultiItems_Presentation row({entry(server.url_string(QStringLiteral("/f/a")), entry_path)}, {}, dest);
    row.set_retry_delay_ms(20);
    row.start_downloading_item();
    QVERIFY(wait_finished(row));

    QDirIterator it(root.filePath(QStringLiteral("outside")), QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden,
                    QDirIterator::Subdirectories);
    QStringList outside;
    while (it.hasNext())
        outside << root.relativeFilePath(it.next());
    QCOMPARE(outside, QStringList{"outside/victim"}); // nothing written or made out there
    QCOMPARE(root.entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden, QDir::Name),
             (QStringList{"dest", "outside"}));
    QVERIFY(victim.open(QIODevice::ReadOnly));
    QCOMPARE(victim.readAll(), QByteArray("keep"));
    if (lands.isEmpty()) {
        QCOMPARE(row.files_failed().size(), 1);
        QCOMPARE(row.files_downloaded().size(), 0);
        QCOMPARE(server.request_count(), 0);
    } else {
        QCOMPARE(row.files_downloaded().size(), 1);
        const QFileInfo landed(root.filePath(lands));
        QVERIFY(!landed.isSymLink());
        QFile f(landed.filePath());
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), body);
    }
}

void TestMultiItems::constructed_texts()
{
    const QList<DownloadFileEntry> three{entry("u1", "a"), entry("u2", "b"), entry("u3", "c")};
    DownloadMultiItems_Presentation done({}, three, QStringLiteral("/srv/d"));
    QCOMPARE(done.fileNameLabel->text(), QStringLiteral("3 fichiers téléchargés"));
    QVERIFY(done.openRepButton->isEnabled());
    QVERIFY(done.downloadedSuccessfully());
    QCOMPARE(done.itemType(), QStringLiteral("multi"));

    DownloadMultiItems_Presentation failed(three.mid(0, 2), {}, QStringLiteral("/srv/d"));
    QCOMPARE(failed.fileNameLabel->text(), QStringLiteral("2 fichiers en erreurs"));
    QVERIFY(failed.tryAgainOffered());
    QVERIFY(!failed.downloadedSuccessfully());

    DownloadMultiItems_Presentation mixed(three.mid(0, 1), three.mid(1), QString());
    QCOMPARE(mixed.fileNameLabel->text(), QStringLiteral("2 / 3 fichiers téléchargés"));
}

void TestMultiItems::three_files_second_fails()
{
    LoopbackServer server;
    const QByteArray a(5000, 'a'), c(7000, 'c');
    add(server, "/f/a", a);
    add(server, "/f/b", "x", Answer::Html500);
    add(server, "/f/c", c);
    QTemporaryDir dir;
    DownloadMultiItems_Presentation row({entry(server.url_string(QStringLiteral("/f/a")), QStringLiteral("a.bin"), QStringLiteral("5")),
                                         entry(server.url_string(QStringLiteral("/f/b")), QStringLiteral("b.bin"), QStringLiteral("1")),
                                         entry(server.url_string(QStringLiteral("/f/c")), QStringLiteral("sub/c.bin"), QStringLiteral("7"))},
                                        {}, dir.path());
    row.set_retry_delay_ms(20);
    row.start_downloading_item();
    QVERIFY(wait_finished(row));

    // One try and five retries for the failing file, then the next file starts.
    int tries_b = 0;
    for (const HttpRequest& r : server.requests())
        tries_b += r.path == "/f/b" ? 1 : 0;
    QCOMPARE(tries_b, 6);
    QCOMPARE(row.files_failed().size(), 1);
    QCOMPARE(row.files_failed().first().path, QStringLiteral("b.bin"));
    QCOMPARE(row.files_downloaded().size(), 2);
    QCOMPARE(row.files_downloaded().at(1).path, QStringLiteral("sub/c.bin"));
    QCOMPARE(row.files_downloaded().at(1).sha256,
             QString::fromLatin1(QCryptographicHash::hash(c, QCryptographicHash::Sha256).toHex()));
    QVERIFY(server.last_request().query.contains("file_hash=1"));
    QFile fc(dir.filePath(QStringLiteral("sub/c.bin")));
    QVERIFY(fc.open(QIODevice::ReadOnly));
    QCOMPARE(fc.readAll(), c);
    QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("b.bin"))));
    QCOMPARE(row.retry_count(), 0);
}

void TestMultiItems::stop_confirmed_then_restart()
{
    LoopbackServer server;
    QByteArray body(20000, 'z');
    add(server, "/slow", body, Answer::Trickle);
    QTemporaryDir dir;
    DownloadMultiItems_Presentation::set_confirm_stop([](QWidget*) { return true; });
    DownloadMultiItems_Presentation row({entry(server.url_string(QStringLiteral("/slow")), QStringLiteral("s.bin"))}, {}, dir.path());
    row.start_downloading_item();
    QVERIFY(server.wait_for_requests(1));
    QTest::qWait(100);
    row.stopButton->click();
    QVERIFY(wait_finished(row, 5000));
    QVERIFY(row.isStopped());
    QVERIFY(row.stopped_by_user());
    QVERIFY(!row.hasError());
    QVERIFY(!row.downloadedSuccessfully());
    QVERIFY(row.tryAgainOffered());
    QCOMPARE(row.downloadInfoLabel->text(), QStringLiteral("Arrêt Utilisateur"));
    QCOMPARE(server.request_count(), 1); // a stop is not retried
    QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("s.bin"))));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 0);

    // "Relancer": both stop flags go, and the file arrives.
    add(server, "/slow", body);
    row.tryAgainButton->click();
    QVERIFY(!row.isStopped());
    QVERIFY(wait_finished(row));
    QVERIFY(row.downloadedSuccessfully());
    QCOMPARE(row.files_downloaded().size(), 1);
    QVERIFY(QFile::exists(dir.filePath(QStringLiteral("s.bin"))));
}

void TestMultiItems::stop_declined()
{
    LoopbackServer server;
    add(server, "/slow", QByteArray(4000, 'z'), Answer::Trickle);
    QTemporaryDir dir;
    int asked = 0;
    DownloadMultiItems_Presentation::set_confirm_stop([&](QWidget*) { ++asked; return false; });
    DownloadMultiItems_Presentation row({entry(server.url_string(QStringLiteral("/slow")), QStringLiteral("s.bin"))}, {}, dir.path());
    row.start_downloading_item();
    QVERIFY(server.wait_for_requests(1));
    row.stopButton->click();
    QCOMPARE(asked, 1);
    QVERIFY(!row.isStopped());
    QVERIFY(wait_finished(row));
    QVERIFY(row.downloadedSuccessfully());
}

void TestMultiItems::destroyed_while_downloading()
{
    LoopbackServer server;
    add(server, "/slow", QByteArray(100000, 'z'), Answer::Trickle);
    QTemporaryDir dir;
    QElapsedTimer clock;
    {
        DownloadMultiItems_Presentation row({entry(server.url_string(QStringLiteral("/slow")), QStringLiteral("s.bin"))}, {}, dir.path());
        row.start_downloading_item();
        QVERIFY(server.wait_for_requests(1));
        clock.start();
    }
    QVERIFY2(clock.elapsed() < 3000, "the row's destruction stops its transfer at once");
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 0);
}

int main(int argc, char** argv)
{
    curl_global_init(CURL_GLOBAL_DEFAULT);
    QApplication app(argc, argv);
    TestMultiItems test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_multi_items.moc"
