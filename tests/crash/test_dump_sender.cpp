// The crash report upload: which replies count as accepted, the names sent,
// and the log cut that keeps lines written during the upload.
#include "app/sha256.h"
#include "app/zq_log.h"
#include "crash/dump_sender.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSignalSpy>
#include <QTest>

class TestDumpSender : public QObject
{
    Q_OBJECT
private slots:
    void replies_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<bool>("dump");
        QTest::addColumn<bool>("log");
        QTest::newRow("OK/OK") << QByteArray("{\"upload_file_minidump\":{\"status\":\"OK\"},\"upload_file_log\":{\"status\":\"OK\"}}")
                               << true << true;
        QTest::newRow("ERROR 4 / ERROR 7")
            << QByteArray("{\"upload_file_minidump\":{\"status\":\"ERROR\",\"status_info\":{\"error_code\":4}},"
                          "\"upload_file_log\":{\"status\":\"ERROR\",\"status_info\":{\"error_code\":7}}}")
            << true << false;
        // "NOK" is a refusal, not an acceptance.
        QTest::newRow("NOK") << QByteArray("{\"upload_file_minidump\":{\"status\":\"NOK\"},\"upload_file_log\":{\"status\":\"NOK\"}}")
                             << false << false;
        QTest::newRow("error code as text")
            << QByteArray("{\"upload_file_minidump\":{\"status\":\"ERROR\",\"status_info\":{\"error_code\":\"4\"}}}") << false
            << false;
        QTest::newRow("status not text") << QByteArray("{\"upload_file_minidump\":{\"status\":1}}") << false << false;
        QTest::newRow("array") << QByteArray("[{\"upload_file_minidump\":{\"status\":\"OK\"}}]") << false << false;
        QTest::newRow("HTML") << QByteArray("<html>500</html>") << false << false;
        QTest::newRow("empty") << QByteArray() << false << false;
        QTest::newRow("huge")
            << (QByteArray("{\"upload_file_minidump\":{\"status\":\"OK\"},\"pad\":\"") + QByteArray(2 << 20, 'x') + "\"}")
            << false << false;
    }
    void replies()
    {
        QFETCH(QByteArray, reply);
        QFETCH(bool, dump);
        QFETCH(bool, log);
        const DumpSender::Verdict v = DumpSender::parseReply(reply);
        QCOMPARE(v.dumpAccepted, dump);
        QCOMPARE(v.logAccepted, log);
    }

    void names_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("sent");
        QTest::newRow("dotted") << "/x/crash.2024.dmp" << "crash.dmp";
        QTest::newRow("quote and line break") << "/x/a\"b\r\nc.dmp" << "abc.dmp";
        QTest::newRow("only a dot name") << "/x/.dmp" << "crash.dmp";
    }
    void names()
    {
        QFETCH(QString, path);
        QFETCH(QString, sent);
        QCOMPARE(DumpSender::sentDumpName(path), sent);
    }

    void logCutKeepsLaterLines()
    {
        QDir().mkpath(QFileInfo(ZQLog::logFilePath()).absolutePath());
        QFile log(ZQLog::logFilePath());
        QVERIFY(log.open(QIODevice::WriteOnly | QIODevice::Truncate));
        log.write("uploaded line\n");
        log.close();
        const QString copy = QDir::temp().filePath("zq_log_copy_test");
        const qint64 size = ZQLog::copyLogFile(copy);
        QCOMPARE(size, 14);
        const QString sha = zq::Sha256::ofFile(copy);
        QFile::remove(copy);
        QVERIFY(log.open(QIODevice::WriteOnly | QIODevice::Append));
        log.write("later line\n");
        log.close();
        // A wrong digest (the file was emptied and rewritten meanwhile) cuts nothing.
        QVERIFY(!ZQLog::cutLogPrefix(size, QString(64, '0')));
        QVERIFY(ZQLog::cutLogPrefix(size, sha));
        QVERIFY(log.open(QIODevice::ReadOnly));
        QCOMPARE(log.readAll(), QByteArray("later line\n"));
    }

    void notConfiguredTouchesNothing()
    {
        qunsetenv("ZQPLAYER_CRASH_REPORT_URL");
        auto* sender = new DumpSender();
        QSignalSpy spy(sender, &DumpSender::sendFinished);
        sender->send("/nonexistent.dmp");
        QTRY_COMPARE(spy.size(), 1);
        QCOMPARE(spy[0][2].toString(), QStringLiteral("Serveur de rapports non configuré."));
    }

    void plainHttpElsewhereIsRefused()
    {
        auto* sender = new DumpSender();
        sender->setEndpoint(QUrl("http://192.0.2.1/traitement"));
        QSignalSpy spy(sender, &DumpSender::sendFinished);
        sender->send("/nonexistent.dmp");
        QTRY_COMPARE(spy.size(), 1);
        QVERIFY(spy[0][2].toString().startsWith("Adresse refusée"));
    }
};

QTEST_GUILESS_MAIN(TestDumpSender)
#include "test_dump_sender.moc"
