// The server-access User-Agent: its shape, and a key the server can recompute.
#include "app/http_singleton.h"

#include <QCryptographicHash>
#include <QRegularExpression>
#include <QTest>

class TestHttpSingleton : public QObject
{
    Q_OBJECT
private slots:
    void userAgentShape()
    {
        const QString ua = Http_singleton::instance()->access_user_agent(QString(), false);
        static const QRegularExpression form(QStringLiteral(
            R"(^ZQPLAYER/ZQCORE-ACCESS-3\.4\.1 \(OS [^;]*_[^;]*_[^;]*; access_time (\d{14}); nonce ; access_key ([0-9a-f]{64})\)$)"));
        const QRegularExpressionMatch m = form.match(ua);
        QVERIFY2(m.hasMatch(), qPrintable(ua));
        QCOMPARE(ua.count(QStringLiteral("; ")), 3);
    }

    void accessKey_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<bool>("useKey");
        QTest::addColumn<QString>("mixedIn");
        QTest::newRow("no key") << QString() << false << QString();
        QTest::newRow("key given but not asked for") << "secret" << false << QString();
        QTest::newRow("key asked for") << "secret" << true << "secret";
        QTest::newRow("empty key asked for") << "" << true << QString();
    }
    void accessKey()
    {
        QFETCH(QString, key);
        QFETCH(bool, useKey);
        QFETCH(QString, mixedIn);
        const QString time = QStringLiteral("20261210101530");
        const QString ua = Http_singleton::instance()->access_user_agent_at(time, key, useKey);
        const QByteArray expected = QCryptographicHash::hash(
            ("ZQCORE-ACCESS" + time + "Tea#Biscuit!" + mixedIn).toUtf8(), QCryptographicHash::Sha256).toHex();
        QVERIFY2(ua.endsWith(QStringLiteral("access_key ") + QString::fromLatin1(expected) + ")"), qPrintable(ua));
        QVERIFY(ua.contains(QStringLiteral("access_time ") + time + "; "));
    }

    void displayCountNeverNegative()
    {
        Http_singleton::instance()->set_display_count(-3);
        QCOMPARE(Http_singleton::instance()->get_display_count(), 0);
        Http_singleton::instance()->set_display_count(2);
        QCOMPARE(Http_singleton::instance()->get_display_count(), 2);
        Http_singleton::instance()->set_display_count(0);
    }
};

QTEST_GUILESS_MAIN(TestHttpSingleton)
#include "test_http_singleton.moc"
