// The camera request worker on its own thread against the loopback
// endpoints: Digest authentication, an error status with a body, a cancel
// in the middle of a trickled body, and an empty PUT.

#include <QElapsedTimer>
#include <QSemaphore>
#include <QSignalSpy>
#include <QTest>
#include <QThread>

#include <curl/curl.h>

#include "ptz/curl_request_worker.h"
#include "ptz_loopback.h"

namespace {

// A worker living on its own thread, as its users run it.
struct Worker
{
    QThread thread;
    CurlRequestWorker* w = new CurlRequestWorker();
    QSignalSpy results{w, &CurlRequestWorker::result};
    QSignalSpy errors{w, &CurlRequestWorker::error};
    QSignalSpy finished{w, &CurlRequestWorker::finished};

    Worker()
    {
        w->moveToThread(&thread);
        QObject::connect(&thread, &QThread::finished, w, &QObject::deleteLater);
        thread.start();
    }
    ~Worker()
    {
        thread.quit();
        thread.wait();
    }
    void get() { QMetaObject::invokeMethod(w, &CurlRequestWorker::run_get_request, Qt::QueuedConnection); }
    void put() { QMetaObject::invokeMethod(w, &CurlRequestWorker::run_put_request, Qt::QueuedConnection); }
    // Waits for the next result. A result may come before the wait starts (the worker runs on its
    // own thread), so this counts results instead of waiting for a new emission.
    bool wait_result(int ms)
    {
        const bool ok = QTest::qWaitFor([&] { return results.count() > seen; }, ms);
        seen = int(results.count());
        return ok;
    }
    int seen = 0;
};

} // namespace

class TestCurlWorker : public QObject
{
    Q_OBJECT

private slots:
    void digest_then_ok();
    void not_found_with_body();
    void cancel_during_trickle();
    void cancel_while_queued();
    void empty_put_has_zero_length();
    void https_verified_with_ca();
};

void TestCurlWorker::digest_then_ok()
{
    LoopbackWeb server;
    Worker k;
    k.w->set_url(server.url(QStringLiteral("/digest?x=1")));
    k.w->set_user(QStringLiteral("cam"));
    k.w->set_password(QStringLiteral("pw"));
    k.get();
    QVERIFY(k.wait_result(10000));
    QCOMPARE(k.results.first().at(1).toInt(), 200);
    QCOMPARE(k.results.first().at(2).toInt(), 0);
    QCOMPARE(k.finished.count(), 1);
    QCOMPARE(k.finished.first().at(0).toString(), QStringLiteral("digest ok"));
    // First refused with the challenge, then answered.
    QCOMPARE(server.web().requests().size(), 2);
    QVERIFY(server.web().requests().last().headers.value("authorization").startsWith("Digest "));
    // A wrong password ends with the server's 401.
    k.w->set_password(QStringLiteral("nope"));
    k.get();
    QVERIFY(k.wait_result(10000));
    QCOMPARE(k.results.last().at(1).toInt(), 401);
    QCOMPARE(k.errors.last().at(0).toString(), QStringLiteral("HTTP 401"));
}

void TestCurlWorker::not_found_with_body()
{
    LoopbackWeb server;
    Worker k;
    k.w->set_url(server.url(QStringLiteral("/notfound")));
    k.get();
    QVERIFY(k.wait_result(10000));
    QCOMPARE(k.results.count(), 1);
    QCOMPARE(k.results.first().at(0).toString(), QStringLiteral("no such thing here"));
    QCOMPARE(k.results.first().at(1).toInt(), 404);
    QCOMPARE(k.results.first().at(2).toInt(), 0);
    QCOMPARE(k.errors.count(), 1);
    QCOMPARE(k.errors.first().at(0).toString(), QStringLiteral("HTTP 404"));
    QCOMPARE(k.finished.count(), 0);
}

void TestCurlWorker::cancel_during_trickle()
{
    LoopbackWeb server;
    Worker k;
    k.w->set_url(server.url(QStringLiteral("/trickle")));
    k.get();
    QTRY_COMPARE(server.web().requests().size(), 1);
    QTest::qWait(300);
    QElapsedTimer clock;
    clock.start();
    k.w->requestCancel(); // from this thread, while the worker's blocks
    QVERIFY(k.wait_result(5000));
    // Within one progress callback (a trickled block comes every 200 ms);
    // the bound leaves room for a loaded machine, far below the 40 s body.
    QVERIFY2(clock.elapsed() < 3000, qPrintable(QString::number(clock.elapsed())));
    QTest::qWait(200);
    QCOMPARE(k.results.count(), 1);
    QCOMPARE(k.results.first().at(2).toInt(), int(CURLE_ABORTED_BY_CALLBACK));
    QCOMPARE(k.errors.first().at(0).toString(), QStringLiteral("Requête annulée par l'utilisateur"));
    QCOMPARE(k.finished.count(), 0);
    // The next request is not cancelled by the old flag.
    k.w->set_url(server.url(QStringLiteral("/notfound")));
    k.get();
    QVERIFY(k.wait_result(10000));
    QCOMPARE(k.results.last().at(1).toInt(), 404);
}

// A cancel sent after the request was queued to the worker's thread but
// before its transfer began holds for that request: it ends at once with the
// cancellation, not after the 40 s body or the 15 s time-out.
void TestCurlWorker::cancel_while_queued()
{
    LoopbackWeb server;
    Worker k;
    k.w->set_url(server.url(QStringLiteral("/trickle")));
    // Hold the worker's thread busy so that the request waits in its queue.
    QSemaphore busy, release;
    QMetaObject::invokeMethod(
        k.w,
        [&] {
            busy.release();
            release.acquire();
        },
        Qt::QueuedConnection);
    QVERIFY(busy.tryAcquire(1, 5000));
    k.get();
    k.w->requestCancel();
    QElapsedTimer clock;
    clock.start();
    release.release();
    QVERIFY(k.wait_result(20000));
    QVERIFY2(clock.elapsed() < 3000, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(k.results.count(), 1);
    QCOMPARE(k.results.first().at(2).toInt(), int(CURLE_ABORTED_BY_CALLBACK));
    QCOMPARE(k.errors.first().at(0).toString(), QStringLiteral("Requête annulée par l'utilisateur"));
    QCOMPARE(k.finished.count(), 0);
    // The cancel was spent on that request: the next one runs.
    k.w->set_url(server.url(QStringLiteral("/notfound")));
    k.get();
    QVERIFY(k.wait_result(10000));
    QCOMPARE(k.results.last().at(1).toInt(), 404);
}

void TestCurlWorker::empty_put_has_zero_length()
{
    LoopbackWeb server;
    Worker k;
    k.w->set_url(server.url(QStringLiteral("/put")));
    k.put();
    QVERIFY(k.wait_result(10000));
    QCOMPARE(k.results.first().at(0).toString(), QStringLiteral("method=PUT length=0 body="));
    k.w->set_body("abc");
    k.put();
    QVERIFY(k.wait_result(10000));
    QCOMPARE(k.results.last().at(0).toString(), QStringLiteral("method=PUT length=3 body=abc"));
}

void TestCurlWorker::https_verified_with_ca()
{
    LoopbackWeb server(true);
    Worker k;
    k.w->set_url(server.url(QStringLiteral("/notfound")));
    k.get();
    QVERIFY(k.wait_result(10000));
    // Our test CA is not trusted by default: a TLS error, with its one result.
    QVERIFY(k.results.first().at(2).toInt() != 0);
    k.w->set_ca_file(server.ca_file());
    k.get();
    QVERIFY(k.wait_result(10000));
    QCOMPARE(k.results.last().at(1).toInt(), 404);
    QCOMPARE(k.results.count(), 2);
}

int main(int argc, char** argv)
{
    // Before any thread, as in the program.
    curl_global_init(CURL_GLOBAL_DEFAULT);
    QCoreApplication app(argc, argv);
    TestCurlWorker t;
    return QTest::qExec(&t, argc, argv);
}

#include "test_curl_worker.moc"
