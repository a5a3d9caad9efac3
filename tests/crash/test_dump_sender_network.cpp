// The crash report as the endpoint receives it, and what stays on disk after
// each kind of answer.
#include "app/sha256.h"
#include "app/zq_log.h"
#include "crash/dump_sender.h"
#include "crash/reporter_widget.h"
#include "tests/support/update_routes.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QPushButton>
#include <QTextEdit>
#include <QSignalSpy>
#include <QSslConfiguration>
#include <QTcpServer>
#include <QTest>
#include <QThread>

#include <atomic>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
const char kLogText[] = "first line\n\xff\xfe invalid UTF-8 kept\n";
const QByteArray kLog(kLogText, sizeof(kLogText) - 1);

QString writeFile(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        f.write(bytes);
    return path;
}

QByteArray readFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QByteArray sha(const QByteArray& bytes)
{
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex();
}

// How far this process has read into the file through any descriptor open
// on it (-1 when none is open).
qint64 readOffsetOf(const QString& path)
{
    const QString target = QFileInfo(path).canonicalFilePath();
    qint64 offset = -1;
    const QDir fds(QStringLiteral("/proc/self/fd"));
    for (const QString& fd : fds.entryList(QDir::System | QDir::Files | QDir::NoDotAndDotDot)) {
        if (QFileInfo(fds.filePath(fd)).symLinkTarget() != target)
            continue;
        QFile info(QStringLiteral("/proc/self/fdinfo/") + fd);
        if (!info.open(QIODevice::ReadOnly))
            continue;
        for (const QByteArray& line : info.readAll().split('\n'))
            if (line.startsWith("pos:"))
                offset = std::max(offset, line.mid(4).trimmed().toLongLong());
    }
    return offset;
}

enum Answer { OkOk, Error4Error7, Nok, Html500, ClosedPort, Silence, Untrusted };
} // namespace

class TestDumpSenderNetwork : public QObject
{
    Q_OBJECT

    std::unique_ptr<LoopbackServer> m_server;
    std::shared_ptr<CrashEndpointScript> m_script;
    QString m_dump;

    DumpSender* makeSender(bool trust = true)
    {
        auto* sender = new DumpSender();
        sender->setEndpoint(m_server->url("/traitement"));
        if (trust) {
            QSslConfiguration config = QSslConfiguration::defaultConfiguration();
            config.setCaCertificates({m_server->tls().ca_certificate()});
            sender->setSslConfiguration(config);
        }
        return sender;
    }

private slots:
    void initTestCase()
    {
        m_server = std::make_unique<LoopbackServer>(LoopbackServer::Https);
        m_script = std::make_shared<CrashEndpointScript>();
        add_crash_routes(*m_server, m_script);
    }

    void init()
    {
        m_script->status = 200;
        m_script->content_type = "application/json";
        m_script->reply = R"({"upload_file_minidump":{"status":"OK"},"upload_file_log":{"status":"OK"}})";
        m_script->silent = false;
        m_script->gate.reset();
        {
            QMutexLocker lock(&m_script->mutex);
            m_script->received.clear();
        }
        m_server->clear_requests();
        m_dump = writeFile(QDir::home().filePath(".ZQPlayer/crash_reports/reports/crash.2024.dmp"),
                           QByteArray("MDMP\x00\x01\x02 dump bytes", 18));
        writeFile(ZQLog::logFilePath(), kLog);
    }

    void bodyAsReceived_data()
    {
        QTest::addColumn<QString>("email");
        QTest::addColumn<QString>("comment");
        QTest::addColumn<QStringList>("fields");
        QTest::newRow("no e-mail, no comment")
            << QString() << QString()
            << QStringList{"os", "product_name", "version", "dumpdate", "sha_log", "sha_dump",
                           "upload_file_minidump", "upload_file_log"};
        QTest::newRow("both") << "a@b.c" << "it froze\r\n--boundary?"
                              << QStringList{"os", "product_name", "version", "dumpdate", "email", "comment",
                                             "sha_log", "sha_dump", "upload_file_minidump", "upload_file_log"};
    }
    void bodyAsReceived()
    {
        QFETCH(QString, email);
        QFETCH(QString, comment);
        QFETCH(QStringList, fields);
        m_script->reply = "{}"; // nothing accepted: the files stay for the next row
        for (int i = 0; i < 2; ++i) {
            DumpSender* sender = makeSender();
            sender->setEmail(email);
            sender->setComment(comment);
            QSignalSpy done(sender, &DumpSender::sendFinished);
            sender->send(m_dump);
            QVERIFY(done.wait(10000));
        }
        const QList<ParsedMultipart> received = m_script->receivedCopy();
        QCOMPARE(received.size(), 2);
        QVERIFY(received[0].ok);
        QVERIFY(received[0].boundary != received[1].boundary);
        const ParsedMultipart& body = received[0];
        QStringList names;
        for (const FormPart& p : body.parts) {
            names << QString::fromUtf8(p.name);
            QVERIFY(!p.body.contains(body.boundary));
        }
        QCOMPARE(names, fields);
        QCOMPARE(body.part("product_name")->body, QByteArray("ZQPLAYER"));
        QCOMPARE(body.part("version")->body, QByteArray("3.4.1"));
        QVERIFY(body.part("os")->body.startsWith("OS "));
        QCOMPARE(body.part("upload_file_minidump")->filename, QByteArray("crash.dmp"));
        QCOMPARE(body.part("upload_file_minidump")->body, readFile(m_dump));
        QCOMPARE(body.part("upload_file_log")->filename, QByteArray("zqlogfile.log"));
        QCOMPARE(body.part("upload_file_log")->body, kLog);
        QCOMPARE(body.part("sha_dump")->body, sha(body.part("upload_file_minidump")->body));
        QCOMPARE(body.part("sha_log")->body, sha(body.part("upload_file_log")->body));
        if (!comment.isEmpty())
            QCOMPARE(body.part("comment")->body, comment.toUtf8());
        QCOMPARE(m_server->last_request().header("referer"), m_server->url("/traitement").toString().toUtf8());
    }

    void answers_data()
    {
        QTest::addColumn<int>("answer");
        QTest::addColumn<bool>("dumpGone");
        QTest::addColumn<bool>("logEmptied");
        QTest::newRow("OK / OK") << int(OkOk) << true << true;
        QTest::newRow("ERROR 4 / ERROR 7") << int(Error4Error7) << true << false;
        QTest::newRow("NOK") << int(Nok) << false << false;
        QTest::newRow("HTML 500") << int(Html500) << false << false;
        QTest::newRow("closed port") << int(ClosedPort) << false << false;
        QTest::newRow("silence") << int(Silence) << false << false;
        QTest::newRow("untrusted TLS") << int(Untrusted) << false << false;
    }
    void answers()
    {
        QFETCH(int, answer);
        QFETCH(bool, dumpGone);
        QFETCH(bool, logEmptied);
        switch (Answer(answer)) {
        case OkOk:
            break;
        case Error4Error7:
            m_script->reply = R"({"upload_file_minidump":{"status":"ERROR","status_info":{"error_code":4}},)"
                              R"("upload_file_log":{"status":"ERROR","status_info":{"error_code":7}}})";
            break;
        case Nok:
            m_script->reply = R"({"upload_file_minidump":{"status":"NOK"},"upload_file_log":{"status":"NOK"}})";
            break;
        case Html500:
            m_script->status = 500;
            m_script->content_type = "text/html";
            m_script->reply = "<html><body>Internal error</body></html>";
            break;
        case Silence:
            m_script->silent = true;
            break;
        case ClosedPort:
        case Untrusted:
            break;
        }
        DumpSender* sender = makeSender(answer != Untrusted);
        sender->setTimeout(1500);
        if (answer == ClosedPort) {
            QTcpServer probe;
            QVERIFY(probe.listen(QHostAddress::LocalHost));
            const quint16 port = probe.serverPort();
            probe.close();
            sender->setEndpoint(QUrl(QStringLiteral("https://127.0.0.1:%1/traitement").arg(port)));
        }
        QSignalSpy done(sender, &DumpSender::sendFinished);
        sender->send(m_dump);
        QVERIFY(done.wait(15000));
        QCOMPARE(done.size(), 1);
        QCOMPARE(done[0][0].toBool(), dumpGone);
        QCOMPARE(done[0][1].toBool(), logEmptied);
        QCOMPARE(!QFile::exists(m_dump), dumpGone);
        QCOMPARE(readFile(ZQLog::logFilePath()), logEmptied ? QByteArray() : kLog);
    }

    void formSendsAndTheAcceptedDumpGoes()
    {
        qputenv("ZQPLAYER_CRASH_REPORT_URL", m_server->url_string("/traitement").toUtf8());
        auto* form = new ReporterWidget("crash.2024.dmp", m_dump);
        form->setAttribute(Qt::WA_DeleteOnClose);
        bool finished = false;
        connect(form, &ReporterWidget::senderCreated, this, [&](DumpSender* sender) {
            QSslConfiguration config = QSslConfiguration::defaultConfiguration();
            config.setCaCertificates({m_server->tls().ca_certificate()});
            sender->setSslConfiguration(config);
            connect(sender, &DumpSender::sendFinished, this, [&] { finished = true; });
        });
        form->show();
        form->findChild<QLineEdit*>("emailLineEdit")->setText("ops@example.org");
        form->findChild<QTextEdit*>("commentTextEdit")->setPlainText("crashed while exporting");
        QVERIFY(form->findChild<QPushButton*>("restartButton")->isEnabled());
        QTest::mouseClick(form->findChild<QPushButton*>("restartButton"), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(finished, 10000);
        QVERIFY(!QFile::exists(m_dump));
        const QList<ParsedMultipart> received = m_script->receivedCopy();
        QCOMPARE(received.size(), 1);
        QCOMPARE(received[0].part("email")->body, QByteArray("ops@example.org"));
        QCOMPARE(received[0].part("comment")->body, QByteArray("crashed while exporting"));
        qunsetenv("ZQPLAYER_CRASH_REPORT_URL");
    }

    void sendReturnsBeforeTheDumpIsRead()
    {
        // The dump is read (hashed and sent) off the calling thread: send()
        // returns while the dump's writer still holds it open. A dump read in
        // send() would keep it waiting until the writer gives up.
        const QString fifo = QDir::home().filePath(".ZQPlayer/crash_reports/reports/slow.dmp");
        QFile::remove(fifo);
        QVERIFY(::mkfifo(QFile::encodeName(fifo).constData(), 0600) == 0);
        const QByteArray name = QFile::encodeName(fifo);
        std::atomic<bool> returned{false};
        std::atomic<bool> closedEarly{false};
        std::atomic<bool> finished{false};
        std::thread writer([&] {
            // The first reader gets a few bytes, once send() returned or after 5 s.
            const int fd = ::open(name.constData(), O_WRONLY);
            if (fd < 0)
                return;
            (void)::write(fd, "MDMP", 4);
            QDeadlineTimer deadline(5000);
            while (!returned.load() && !deadline.hasExpired())
                QThread::msleep(5);
            closedEarly = !returned.load();
            ::close(fd);
            // Any later reader finds the end at once.
            while (!finished.load()) {
                const int again = ::open(name.constData(), O_WRONLY | O_NONBLOCK);
                if (again >= 0)
                    ::close(again);
                else
                    QThread::msleep(5);
            }
        });
        DumpSender* sender = makeSender();
        QSignalSpy done(sender, &DumpSender::sendFinished);
        sender->send(fifo);
        returned = true;
        const bool ended = done.wait(10000);
        finished = true;
        writer.join();
        QFile::remove(fifo);
        QVERIFY(!closedEarly.load());
        QVERIFY(ended);
    }

    void lineLoggedDuringUploadSurvives()
    {
        m_script->gate = std::make_shared<Gate>();
        DumpSender* sender = makeSender();
        QSignalSpy done(sender, &DumpSender::sendFinished);
        sender->send(m_dump);
        QVERIFY(m_server->wait_for_requests(1, 10000));
        set_log_level(1);
        ZQLog::installMessageHandler();
        ZQLog::log("[INFO] test :: written while the reply is held");
        qInstallMessageHandler(nullptr);
        m_script->gate->release();
        QVERIFY(done.wait(10000));
        QVERIFY(done[0][1].toBool());
        const QByteArray log = readFile(ZQLog::logFilePath());
        QVERIFY(!log.contains("first line"));
        QVERIFY(log.contains("written while the reply is held"));
    }

    void dumpRewrittenWhileTheFormHashesIt()
    {
        // The form's hash of the dump has begun when the dump is rewritten:
        // the report must carry the digest of the bytes it sends, not one
        // half made of the former file.
        m_script->reply = "{}";
        {
            QFile dump(m_dump);
            QVERIFY(dump.resize(qint64(1) << 30)); // sparse: long to hash, nothing on disk
        }
        DumpSender::prepareDigest(m_dump);
        QTRY_VERIFY_WITH_TIMEOUT(readOffsetOf(m_dump) >= (1 << 20), 30000);
        // New bytes over the part already read, then the file cut to them:
        // the hash meets the end at its next read.
        const QByteArray rewritten("MDMP written again after the hash began");
        {
            QFile dump(m_dump);
            QVERIFY(dump.open(QIODevice::ReadWrite));
            QCOMPARE(dump.write(rewritten), rewritten.size());
            QVERIFY(dump.resize(rewritten.size()));
        }
        DumpSender* sender = makeSender();
        QSignalSpy done(sender, &DumpSender::sendFinished);
        sender->send(m_dump);
        QVERIFY(done.wait(30000));
        const QList<ParsedMultipart> received = m_script->receivedCopy();
        QCOMPARE(received.size(), 1);
        const FormPart* body = received[0].part("upload_file_minidump");
        const FormPart* digest = received[0].part("sha_dump");
        QVERIFY(body && digest);
        QCOMPARE(body->body, rewritten);
        QCOMPARE(digest->body, sha(rewritten));
    }
};

QTEST_MAIN(TestDumpSenderNetwork)
#include "test_dump_sender_network.moc"
