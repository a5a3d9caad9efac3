// The shared loopback server: what the network tests of every area rely on it to do.
#include "tests/support/loopback_server.h"

#include <QElapsedTimer>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QSignalSpy>
#include <QSslConfiguration>
#include <QTest>

#include <curl/curl.h>

#include <memory>

namespace {

struct CurlResult
{
    CURLcode code = CURLE_OK;
    long status = 0;
    QByteArray body;
    qint64 size = 0;
    bool pattern_ok = true; // every byte i equals i % 251 (only checked when asked)
};

struct Sink
{
    CurlResult* out;
    bool keep;
    bool check_pattern;
};

size_t on_data(char* ptr, size_t size, size_t n, void* user)
{
    auto* sink = static_cast<Sink*>(user);
    const size_t len = size * n;
    if (sink->check_pattern) {
        const auto* p = reinterpret_cast<const unsigned char*>(ptr);
        qint64 pos = sink->out->size;
        for (size_t i = 0; i < len; ++i, ++pos)
            if (p[i] != static_cast<unsigned char>(pos % 251))
                sink->out->pattern_ok = false;
    }
    if (sink->keep)
        sink->out->body.append(ptr, qsizetype(len));
    sink->out->size += qint64(len);
    return len;
}

// One request through libcurl on `easy` (reused between calls for keep-alive).
CurlResult curl_fetch(CURL* easy, const QString& url, const QString& ca_file = {},
                      const QByteArray& post = {}, bool chunked = false, long timeout_ms = 20000,
                      bool keep = true, bool check_pattern = false)
{
    CurlResult r;
    Sink sink{&r, keep, check_pattern};
    const QByteArray u = url.toUtf8();
    const QByteArray ca = ca_file.toLocal8Bit();
    curl_easy_setopt(easy, CURLOPT_URL, u.constData());
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, on_data);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, &sink);
    curl_easy_setopt(easy, CURLOPT_TIMEOUT_MS, timeout_ms);
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    if (!ca.isEmpty())
        curl_easy_setopt(easy, CURLOPT_CAINFO, ca.constData());
    curl_slist* headers = nullptr;
    if (!post.isNull()) {
        curl_easy_setopt(easy, CURLOPT_POST, 1L);
        curl_easy_setopt(easy, CURLOPT_POSTFIELDS, post.constData());
        if (chunked) {
            headers = curl_slist_append(headers, "Transfer-Encoding: chunked");
            curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE, -1L);
        } else {
            curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE, long(post.size()));
        }
    } else {
        curl_easy_setopt(easy, CURLOPT_HTTPGET, 1L);
    }
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headers);
    r.code = curl_easy_perform(easy);
    curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &r.status);
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, nullptr);
    curl_slist_free_all(headers);
    return r;
}

struct Easy
{
    CURL* h = curl_easy_init();
    ~Easy() { curl_easy_cleanup(h); }
};

QNetworkRequest trusting(const QUrl& url, const QList<QSslCertificate>& cas)
{
    QNetworkRequest req(url);
    QSslConfiguration conf = QSslConfiguration::defaultConfiguration();
    conf.setCaCertificates(cas);
    req.setSslConfiguration(conf);
    req.setTransferTimeout(20000);
    return req;
}

bool wait_finished(QNetworkReply* reply, int ms = 20000)
{
    if (reply->isFinished())
        return true;
    QSignalSpy spy(reply, &QNetworkReply::finished);
    return spy.wait(ms);
}

} // namespace

class TestLoopbackServer : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { curl_global_init(CURL_GLOBAL_DEFAULT); }

    // Request parsing and recording, seen through Qt's client: a fault here misleads every test
    // that checks what a component sent.
    void httpGetIsParsedAndRecorded()
    {
        LoopbackServer server;
        server.route("GET", "/hello", [](const HttpRequest& req, HttpResponsePtr res) {
            res->reply(200, "text/plain", "hello " + req.url_query().queryItemValue("who").toUtf8());
        });
        QNetworkAccessManager nam;
        QNetworkRequest req(server.url("/hello?who=tile&x=1"));
        req.setRawHeader("X-Auth-Token", "abc");
        std::unique_ptr<QNetworkReply> reply(nam.get(req));
        QVERIFY(wait_finished(reply.get()));
        QCOMPARE(reply->error(), QNetworkReply::NoError);
        QCOMPARE(reply->readAll(), QByteArray("hello tile"));

        const HttpRequest got = server.last_request();
        QCOMPARE(got.method, QByteArray("GET"));
        QCOMPARE(got.path, QByteArray("/hello"));
        QCOMPARE(got.query, QByteArray("who=tile&x=1"));
        QCOMPARE(got.header("x-auth-token"), QByteArray("abc"));
        QCOMPARE(got.header("X-AUTH-TOKEN"), QByteArray("abc"));
        QVERIFY(!got.tls);

        std::unique_ptr<QNetworkReply> missing(nam.get(QNetworkRequest(server.url("/nothing"))));
        QVERIFY(wait_finished(missing.get()));
        QCOMPARE(missing->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), 404);
        QCOMPARE(server.request_count(), 2);
    }

    // Certificates made at test time: trusted only when the client is handed the right CA, and
    // checked against the host name.
    void httpsTrust_data()
    {
        QTest::addColumn<int>("trust"); // 0 the server's CA, 1 another CA, 2 none
        QTest::addColumn<bool>("wrongHost");
        QTest::addColumn<bool>("works");
        QTest::newRow("server CA trusted") << 0 << false << true;
        QTest::newRow("another CA trusted") << 1 << false << false;
        QTest::newRow("nothing trusted") << 2 << false << false;
        QTest::newRow("right CA, wrong host name") << 0 << true << false;
    }
    void httpsTrust()
    {
        QFETCH(int, trust);
        QFETCH(bool, wrongHost);
        QFETCH(bool, works);
        LoopbackServer server(LoopbackServer::Https,
                              TlsMaterial::generate(wrongHost ? TlsMaterial::WrongHost
                                                              : TlsMaterial::Loopback));
        server.route("GET", "/secure", [](const HttpRequest& req, HttpResponsePtr res) {
            res->reply(200, "text/plain", req.tls ? "over tls" : "plain");
        });
        const TlsMaterial other = TlsMaterial::generate();
        QList<QSslCertificate> cas;
        QString ca_file;
        if (trust == 0) {
            cas = {server.tls().ca_certificate()};
            ca_file = server.tls().ca_file();
        } else if (trust == 1) {
            cas = {other.ca_certificate()};
            ca_file = other.ca_file();
        }

        QNetworkAccessManager nam;
        std::unique_ptr<QNetworkReply> reply(nam.get(trusting(server.url("/secure"), cas)));
        QVERIFY(wait_finished(reply.get()));
        if (works) {
            QCOMPARE(reply->error(), QNetworkReply::NoError);
            QCOMPARE(reply->readAll(), QByteArray("over tls"));
        } else {
            QCOMPARE(reply->error(), QNetworkReply::SslHandshakeFailedError);
        }

        Easy easy;
        // With nothing trusted, curl gets a CA file that does not hold the server's CA.
        const CurlResult r = curl_fetch(easy.h, server.url_string("/secure"),
                                        ca_file.isEmpty() ? other.ca_file() : ca_file);
        if (works) {
            QCOMPARE(r.code, CURLE_OK);
            QCOMPARE(r.body, QByteArray("over tls"));
        } else {
            QCOMPARE(r.code, CURLE_PEER_FAILED_VERIFICATION);
        }
    }

    // A large body pulled as the socket drains arrives whole, byte for byte, plain and over TLS.
    void streamedBodyArrivesWhole_data()
    {
        QTest::addColumn<bool>("tls");
        QTest::addColumn<int>("framing");
        QTest::newRow("http, Content-Length") << false << int(HttpResponse::Raw);
        QTest::newRow("http, chunked") << false << int(HttpResponse::Chunked);
        QTest::newRow("https, Content-Length") << true << int(HttpResponse::Raw);
    }
    void streamedBodyArrivesWhole()
    {
        QFETCH(bool, tls);
        QFETCH(int, framing);
        constexpr qint64 kSize = 64LL * 1024 * 1024;
        LoopbackServer server(tls ? LoopbackServer::Https : LoopbackServer::Http);
        server.route("GET", "/big", [framing](const HttpRequest&, HttpResponsePtr res) {
            HttpHeaders h{{"Content-Type", "application/octet-stream"}};
            if (framing == HttpResponse::Raw)
                h.append(HttpHeaders::value_type("Content-Length", QByteArray::number(kSize)));
            res->stream(200, h,
                        [pos = qint64(0)](QByteArray& out) mutable {
                            const qint64 n = qMin<qint64>(256 * 1024, kSize - pos);
                            out.resize(n);
                            for (qint64 i = 0; i < n; ++i)
                                out[i] = char((pos + i) % 251);
                            pos += n;
                            return pos == kSize ? HttpResponse::End : 0;
                        },
                        HttpResponse::Framing(framing));
        });
        Easy easy;
        const CurlResult r = curl_fetch(easy.h, server.url_string("/big"), tls ? server.tls().ca_file() : QString(),
                                        {}, false, 60000, false, true);
        QCOMPARE(r.code, CURLE_OK);
        QCOMPARE(r.size, kSize);
        QVERIFY(r.pattern_ok);
    }

    // Several requests on one connection, with Content-Length and chunked request bodies.
    void keepAliveServesEveryRequestOnOneConnection()
    {
        LoopbackServer server;
        server.route("POST", "/echo", [](const HttpRequest& req, HttpResponsePtr res) {
            res->reply(200, "application/octet-stream", req.body);
        });
        server.route_prefix("GET", "/files/", [](const HttpRequest& req, HttpResponsePtr res) {
            res->reply(200, "text/plain", req.path.mid(7));
        });
        Easy easy;
        const QByteArray body(100000, 'b');
        QCOMPARE(curl_fetch(easy.h, server.url_string("/files/a.txt")).body, QByteArray("a.txt"));
        QCOMPARE(curl_fetch(easy.h, server.url_string("/echo"), {}, body).body, body);
        QCOMPARE(curl_fetch(easy.h, server.url_string("/echo"), {}, body, true).body, body);
        QCOMPARE(curl_fetch(easy.h, server.url_string("/files/b.txt")).body, QByteArray("b.txt"));

        const QList<HttpRequest> got = server.requests();
        QCOMPARE(got.size(), 4);
        QCOMPARE(server.connections_accepted(), 1);
        for (int i = 0; i < got.size(); ++i) {
            QCOMPARE(got[i].connection_id, got[0].connection_id);
            QCOMPARE(got[i].index_on_connection, i);
        }
        QVERIFY(!got[1].chunked);
        QVERIFY(got[2].chunked);
        QCOMPARE(got[2].body, body);
    }

    // Bodies over a route's cap are refused; unstored bodies are counted and hashed.
    void bodyCapAndHash()
    {
        LoopbackServer server;
        LoopbackServer::RouteOptions capped;
        capped.max_body = 1000;
        server.route("POST", "/small", [](const HttpRequest&, HttpResponsePtr res) {
            res->reply(200, "text/plain", "ok");
        }, capped);
        LoopbackServer::RouteOptions hashed;
        hashed.store_body = false;
        server.route("POST", "/upload", [](const HttpRequest&, HttpResponsePtr res) {
            res->reply(200, "text/plain", "ok");
        }, hashed);
        Easy easy;
        QCOMPARE(curl_fetch(easy.h, server.url_string("/small"), {}, QByteArray(2000, 'x')).status, 413L);
        QCOMPARE(curl_fetch(easy.h, server.url_string("/small"), {}, QByteArray(2000, 'x'), true).status, 413L);
        QCOMPARE(curl_fetch(easy.h, server.url_string("/upload"), {}, QByteArray("abc")).status, 200L);
        const HttpRequest got = server.last_request();
        QVERIFY(got.body.isEmpty());
        QCOMPARE(got.body_size, 3);
        QCOMPARE(got.body_sha256,
                 QByteArray("ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"));
    }

    // A trickled body arrives in several pieces over time, and whole.
    void trickleSendsPiecesOverTime()
    {
        LoopbackServer server;
        const QByteArray body = QByteArray("0123456789").repeated(10);
        server.route("GET", "/slow", [body](const HttpRequest&, HttpResponsePtr res) {
            res->trickle(200, {{"Content-Type", "text/plain"}}, body, 10, 30);
        });
        QNetworkAccessManager nam;
        QElapsedTimer clock;
        clock.start();
        std::unique_ptr<QNetworkReply> reply(nam.get(QNetworkRequest(server.url("/slow"))));
        int reads = 0;
        QByteArray got;
        connect(reply.get(), &QIODevice::readyRead, this, [&] {
            ++reads;
            got += reply->readAll();
        });
        QVERIFY(wait_finished(reply.get()));
        got += reply->readAll();
        QCOMPARE(reply->error(), QNetworkReply::NoError);
        QCOMPARE(got, body);
        QVERIFY2(reads >= 3, qPrintable(QString::number(reads)));
        QVERIFY(clock.elapsed() >= 9 * 30 - 20); // nine pauses between ten pieces
    }

    // How a body ends: a connection cut mid-body must look incomplete to the client, not like a
    // short success; a body without Content-Length that ends with the connection is complete.
    void bodyEndings_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<bool>("complete");
        QTest::addColumn<qint64>("received");
        QTest::newRow("headers promise 1000, 100 sent") << 0 << false << qint64(100);
        QTest::newRow("chunked stream dropped") << 1 << false << qint64(300);
        QTest::newRow("no Content-Length, until close") << 2 << true << qint64(1000);
    }
    void bodyEndings()
    {
        QFETCH(int, mode);
        QFETCH(bool, complete);
        QFETCH(qint64, received);
        LoopbackServer server;
        server.route("GET", "/end", [mode](const HttpRequest&, HttpResponsePtr res) {
            const HttpHeaders h{{"Content-Type", "text/plain"}};
            if (mode == 0)
                return res->reply_then_close(200, h, QByteArray(1000, 'c'), 100);
            if (mode == 2)
                return res->reply_until_close(200, h, QByteArray(1000, 'c'));
            res->stream(200, h, [n = 0](QByteArray& out) mutable {
                if (n++ == 3)
                    return HttpResponse::Drop;
                out = QByteArray(100, 'c');
                return 0;
            });
        });
        Easy easy;
        const CurlResult r = curl_fetch(easy.h, server.url_string("/end"));
        if (complete)
            QCOMPARE(r.code, CURLE_OK);
        else
            QVERIFY2(r.code == CURLE_PARTIAL_FILE || r.code == CURLE_RECV_ERROR,
                     curl_easy_strerror(r.code));
        QCOMPARE(r.size, received);
    }

    // A held answer waits for the test; a stalled one never comes, and the client's time-out ends it.
    void holdAndStall()
    {
        LoopbackServer server;
        auto gate = std::make_shared<Gate>();
        server.route("GET", "/held", [gate](const HttpRequest&, HttpResponsePtr res) {
            gate->hold(res, [res] { res->reply(200, "text/plain", "released"); });
        });
        server.route("GET", "/stall", [](const HttpRequest&, HttpResponsePtr) {});

        QNetworkAccessManager nam;
        std::unique_ptr<QNetworkReply> reply(nam.get(QNetworkRequest(server.url("/held"))));
        QVERIFY(server.wait_for_requests(1));
        QTRY_COMPARE(gate->held(), 1);
        QTest::qWait(50);
        QVERIFY(!reply->isFinished());
        gate->release();
        QVERIFY(wait_finished(reply.get()));
        QCOMPARE(reply->readAll(), QByteArray("released"));

        Easy easy;
        const CurlResult r = curl_fetch(easy.h, server.url_string("/stall"), {}, {}, false, 300);
        QCOMPARE(r.code, CURLE_OPERATION_TIMEDOUT);
        QCOMPARE(server.request_count(), 2);
    }
};

QTEST_MAIN(TestLoopbackServer)
#include "test_loopback_server.moc"
