#include "recordings/storage_layout.h"

#include <QTest>

// One reader of recording names for every caller: when two readers disagree on what camera a
// file belongs to, a recording plays under another camera's name and playback stops after it.
class TestStorageLayout : public QObject
{
    Q_OBJECT
private slots:
    void recording_name_data();
    void recording_name();
};

void TestStorageLayout::recording_name_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<int>("camera");
    QTest::addColumn<QDate>("day");
    QTest::addColumn<qint64>("start");

    const QDate day(2024, 1, 15);
    const qint64 start = (8 * 3600 + 30 * 60 + 5) * 1000;
    QTest::newRow("video") << QStringLiteral("1_20240115_083005.zqvideo") << true << 1 << day << start;
    QTest::newRow("camera 0") << QStringLiteral("0_20240115_083005.zqseek") << true << 0 << day << start;
    QTest::newRow("camera 12") << QStringLiteral("12_20240115_083005.zqaudio") << true << 12 << day << start;
    QTest::newRow("second stream") << QStringLiteral("3_20240115_083005_2.zqvideo") << true << 3 << day << start;
    QTest::newRow("largest int") << QStringLiteral("2147483647_20240115_083005.zqvideo") << true << 2147483647 << day
                                 << start;
    QTest::newRow("over int") << QStringLiteral("2147483648_20240115_083005.zqvideo") << false << -1 << day << start;
    QTest::newRow("plus sign") << QStringLiteral("+1_20240115_083005.zqvideo") << false << -1 << day << start;
    QTest::newRow("leading zero") << QStringLiteral("01_20240115_083005.zqvideo") << false << -1 << day << start;
    QTest::newRow("leading space") << QStringLiteral(" 1_20240115_083005.zqvideo") << false << -1 << day << start;
    QTest::newRow("minus") << QStringLiteral("-1_20240115_083005.zqvideo") << false << -1 << day << start;
    QTest::newRow("arabic-indic digit") << (QString(QChar(0x0661)) + QStringLiteral("_20240115_083005.zqvideo"))
                                        << false << -1 << day << start;
    QTest::newRow("fullwidth digit") << (QString(QChar(0xFF11)) + QStringLiteral("_20240115_083005.zqvideo"))
                                     << false << -1 << day << start;
    QTest::newRow("empty camera") << QStringLiteral("_20240115_083005.zqvideo") << false << -1 << day << start;
    QTest::newRow("bad day") << QStringLiteral("1_20240230_083005.zqvideo") << false << 1 << QDate() << start;
    QTest::newRow("bad start") << QStringLiteral("1_20240115_246005.zqvideo") << false << 1 << day << qint64(-1);
    QTest::newRow("long start") << QStringLiteral("1_20240115_0830050.zqvideo") << false << 1 << day << qint64(-1);
    QTest::newRow("two parts") << QStringLiteral("1_20240115.zqvideo") << false << -1 << QDate() << qint64(-1);
    QTest::newRow("no suffix") << QStringLiteral("1_20240115_083005") << true << 1 << day << start;
    // Other files dressed up as recordings: what follows the time is no stream number and suffix.
    QTest::newRow("hash.json inside") << QStringLiteral("1_20240115_083005_hash.json.zqvideo") << false << 1 << day
                                      << start;
    QTest::newRow("index.zqnfo inside") << QStringLiteral("1_20240115_083005_index.zqnfo.zqseek") << false << 1 << day
                                        << start;
    QTest::newRow("two suffixes") << QStringLiteral("1_20240115_083005.hash.json.zqvideo") << false << 1 << day
                                  << start;
    QTest::newRow("stream then more") << QStringLiteral("1_20240115_083005_2_x.zqvideo") << false << 1 << day << start;
    QTest::newRow("empty suffix") << QStringLiteral("1_20240115_083005.") << false << 1 << day << start;
    QTest::newRow("empty stream") << QStringLiteral("1_20240115_083005_.zqvideo") << false << 1 << day << start;
}

void TestStorageLayout::recording_name()
{
    QFETCH(QString, name);
    QFETCH(bool, valid);
    QFETCH(int, camera);
    QFETCH(QDate, day);
    QFETCH(qint64, start);

    const StorageLayout::RecordingName r = StorageLayout::parse_recording_name(name);
    QCOMPARE(r.valid, valid);
    QCOMPARE(r.camera, camera);
    QCOMPARE(r.day, day);
    QCOMPARE(r.startMs, start);
    // The camera-only reader agrees with the full reader on every name.
    const int only = StorageLayout::recording_camera_id(name);
    QCOMPARE(only, name.count(QLatin1Char('_')) >= 2 ? camera : only);
    if (camera >= 0)
        QCOMPARE(only, camera);
}

QTEST_GUILESS_MAIN(TestStorageLayout)
#include "test_storage_layout.moc"
