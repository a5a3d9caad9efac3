#include "recordings/time_text.h"

#include <QTest>

// Times of file names are read from their digits: a local-time parse would refuse the hour
// skipped at a daylight-saving change and accept digits of other scripts.
class TestTimeText : public QObject
{
    Q_OBJECT
private slots:
    void parse_data();
    void parse();
    void make_round_trip();
    void with_milliseconds_data();
    void with_milliseconds();
};

void TestTimeText::parse_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<QDate>("date");
    QTest::addColumn<qint64>("ms");

    QTest::newRow("plain") << QStringLiteral("20240115083005") << true << QDate(2024, 1, 15)
                           << qint64((8 * 3600 + 30 * 60 + 5) * 1000);
    // 02:30 does not exist in Paris on that night; it is still a valid recording time.
    QTest::newRow("dst gap") << QStringLiteral("20240331023000") << true << QDate(2024, 3, 31)
                             << qint64((2 * 3600 + 30 * 60) * 1000);
    QTest::newRow("leap day") << QStringLiteral("20240229000000") << true << QDate(2024, 2, 29) << qint64(0);
    QTest::newRow("last second") << QStringLiteral("20231231235959") << true << QDate(2023, 12, 31)
                                 << qint64(86399000);
    QTest::newRow("no leap day") << QStringLiteral("20230229000000") << false << QDate() << qint64(-1);
    QTest::newRow("month 13") << QStringLiteral("20231301000000") << false << QDate() << qint64(-1);
    QTest::newRow("hour 24") << QStringLiteral("20230101240000") << false << QDate() << qint64(-1);
    QTest::newRow("second 60") << QStringLiteral("20230101000060") << false << QDate() << qint64(-1);
    QTest::newRow("too short") << QStringLiteral("2023010100000") << false << QDate() << qint64(-1);
    QTest::newRow("too long") << QStringLiteral("202301010000000") << false << QDate() << qint64(-1);
    QTest::newRow("sign") << QStringLiteral("2023010100-000") << false << QDate() << qint64(-1);
    QTest::newRow("space") << QStringLiteral("20230101 00000") << false << QDate() << qint64(-1);
    // Arabic-Indic digits: numbers to Unicode, not to a file name.
    QTest::newRow("other digits") << (QStringLiteral("2023010100000") + QChar(0x0661)) << false << QDate()
                                  << qint64(-1);
}

void TestTimeText::parse()
{
    QFETCH(QString, text);
    QFETCH(bool, valid);
    QFETCH(QDate, date);
    QFETCH(qint64, ms);

    QDate gotDate(1999, 9, 9);
    qint64 gotMs = 42;
    QCOMPARE(TimeText::parse_yyyymmddhhmmss(text, &gotDate, &gotMs), valid);
    if (valid) {
        QCOMPARE(gotDate, date);
        QCOMPARE(gotMs, ms);
        QCOMPARE(TimeText::yyyymmdd_to_date(QStringView(text).left(8)), date);
        QCOMPARE(TimeText::hhmmss_to_ms(QStringView(text).mid(8)), ms);
    } else {
        // A refused text leaves the outputs alone.
        QCOMPARE(gotDate, QDate(1999, 9, 9));
        QCOMPARE(gotMs, qint64(42));
        QVERIFY(!TimeText::yyyymmdd_to_date(QStringView(text).left(8)).isValid()
                || TimeText::hhmmss_to_ms(QStringView(text).mid(8)) < 0);
    }
}

void TestTimeText::make_round_trip()
{
    const QDate day(2024, 3, 31);
    const qint64 ms = (2 * 3600 + 30 * 60 + 7) * 1000 + 999;
    const QString text = TimeText::make_yyyymmddhhmmss(day, ms);
    QCOMPARE(text, QStringLiteral("20240331023007"));
    QDate d;
    qint64 back = -1;
    QVERIFY(TimeText::parse_yyyymmddhhmmss(text, &d, &back));
    QCOMPARE(d, day);
    QCOMPARE(back, ms - 999);
}

// The 17-digit form of seek indexes and stream headers, and the form frames carry their time in.
void TestTimeText::with_milliseconds_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("display"); // which reader the text is for
    QTest::addColumn<bool>("valid");
    QTest::addColumn<qint64>("ms");

    const qint64 t = (8 * 3600 + 30 * 60 + 5) * 1000 + 42;
    QTest::newRow("17 digits") << QStringLiteral("20240115083005042") << false << true << t;
    QTest::newRow("17 digits, bad ms") << QStringLiteral("2024011508300504x") << false << false << qint64(-1);
    QTest::newRow("16 digits") << QStringLiteral("2024011508300504") << false << false << qint64(-1);
    QTest::newRow("17 digits, hour 25") << QStringLiteral("20240115253005042") << false << false << qint64(-1);
    QTest::newRow("display dot") << QStringLiteral("2024-01-15 08:30:05.042") << true << true << t;
    QTest::newRow("display colon") << QStringLiteral("2024-01-15 08:30:05:042") << true << true << t;
    QTest::newRow("display no ms") << QStringLiteral("2024-01-15 08:30:05") << true << false << qint64(-1);
    QTest::newRow("display T") << QStringLiteral("2024-01-15T08:30:05.042") << true << false << qint64(-1);
    QTest::newRow("display Feb 30") << QStringLiteral("2024-02-30 08:30:05.042") << true << false << qint64(-1);
    QTest::newRow("display other digits")
        << (QStringLiteral("2024-01-15 08:30:05.04") + QChar(0x0662)) << true << false << qint64(-1);
}

void TestTimeText::with_milliseconds()
{
    QFETCH(QString, text);
    QFETCH(bool, display);
    QFETCH(bool, valid);
    QFETCH(qint64, ms);

    QDate d(1999, 9, 9);
    qint64 got = 7;
    const bool ok = display ? TimeText::parse_display_time(text, &d, &got)
                            : TimeText::parse_yyyymmddhhmmsszzz(text, &d, &got);
    QCOMPARE(ok, valid);
    if (!valid) {
        QCOMPARE(got, qint64(7));
        return;
    }
    QCOMPARE(d, QDate(2024, 1, 15));
    QCOMPARE(got, ms);
    QCOMPARE(TimeText::make_yyyymmddhhmmsszzz(d, got), QStringLiteral("20240115083005042"));
    QCOMPARE(TimeText::make_display_time(d, got), QStringLiteral("2024-01-15 08:30:05.042"));
}

QTEST_GUILESS_MAIN(TestTimeText)
#include "test_time_text.moc"
