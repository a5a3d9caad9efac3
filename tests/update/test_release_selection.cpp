// What the updater reads from the release server and what it decides to
// offer: folder choice, index parsing, the newer-than rules, the display texts.
#include "update/release_selection.h"

#include <QTest>

using namespace zq::update;

namespace {
const QString kHash = QStringLiteral("aa").repeated(32);

QByteArray asset(const QString& name, const QString& arch, const QString& sha = kHash,
                 const QString& url = QString())
{
    const QString u = url.isEmpty() ? QStringLiteral("https://127.0.0.1/") + name : url;
    return QStringLiteral("{\"name\":\"%1\",\"url\":\"%2\",\"size\":1000,\"arch\":\"%3\",\"sha256\":\"%4\",\"id\":\"\",\"id_sha256\":\"\"}")
        .arg(name, u, arch, sha)
        .toUtf8();
}

QByteArray array(const QList<QByteArray>& items)
{
    QByteArray out = "[";
    for (int i = 0; i < items.size(); ++i)
        out += (i ? "," : "") + items[i];
    return out + "]";
}
} // namespace

class TestReleaseSelection : public QObject
{
    Q_OBJECT
private slots:
    void folders_data()
    {
        QTest::addColumn<QByteArray>("listing");
        QTest::addColumn<QString>("running");
        QTest::addColumn<QString>("expected");
        const QByteArray html = "<a href=\"3.3/\">3.3/</a><a href=\"3.5/\">3.5/</a><a href='4.0/'>4.0/</a>";
        QTest::newRow("highest not above wanted") << html << "3.4.1" << "3.3";
        QTest::newRow("only above: the highest")
            << QByteArray("<a href=\"3.5/\">3.5/</a> <a href=\"4.0/\">4.0/</a>") << "3.4.1" << "4.0";
        QTest::newRow("own folder listed") << QByteArray("<a href=\"3.4/\">x</a><a href=\"3.3/\">x</a>") << "3.4.1"
                                           << "3.4";
        QTest::newRow("3.10 above 3.9") << QByteArray("<a href=\"3.9/\">x</a><a href=\"3.10/\">x</a>") << "3.11.0"
                                        << "3.10";
        QTest::newRow("empty listing: own folder") << QByteArray() << "3.4.1" << "3.4";
        QTest::newRow("garbage: own folder") << QByteArray("\xff\xfe<<>>href=\"../\"", 17) << "3.4.1" << "3.4";
        QTest::newRow("S3 keys") << QByteArray("<ListBucketResult><Contents><Key>3.2/</Key></Contents>"
                                               "<Contents><Key>3.3/</Key></Contents></ListBucketResult>")
                                 << "3.4.1" << "3.3";
        // python3 -m http.server lists folders this way.
        QTest::newRow("python index") << QByteArray("<li><a href=\"3.4/\">3.4/</a></li>\n<li><a href=\"3.5/\">3.5/</a></li>")
                                      << "3.4.1" << "3.4";
    }
    void folders()
    {
        QFETCH(QByteArray, listing);
        QFETCH(QString, running);
        QFETCH(QString, expected);
        QCOMPARE(chooseVersionFolder(parseVersionFolders(listing), QVersionNumber::fromString(running)), expected);
    }

    void folderListIsSortedAndUnique()
    {
        const QByteArray listing = "<a href=\"3.10/\">3.10/</a><a href=\"3.9/\">3.9/</a><Key>3.9/</Key><a href=\"x/\">";
        QCOMPARE(parseVersionFolders(listing), (QStringList{"3.9", "3.10"}));
    }

    void parseForms_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<int>("count");
        QTest::newRow("not JSON") << QByteArray("<html>") << 0;
        QTest::newRow("empty array") << QByteArray("[]") << 0;
        QTest::newRow("scalar") << QByteArray("42") << 0;
        QTest::newRow("non-objects skipped") << QByteArray("[1, \"x\", null, ") + asset("a-3.5.0.zip", "Linux/64") + "]"
                                             << 1;
        QTest::newRow("invalid url dropped")
            << array({asset("a-3.5.0.zip", "Linux/64", kHash, "http://[::1"), asset("b-3.5.0.zip", "Linux/64")}) << 1;
        QTest::newRow("relative url dropped") << array({asset("a-3.5.0.zip", "Linux/64", kHash, "files/a.zip")}) << 0;
        QTest::newRow("wrong types") << QByteArray("[{\"name\":5,\"url\":[\"x\"],\"size\":\"big\",\"arch\":{}}]") << 0;
        QTest::newRow("one object") << QByteArray("{\"name\":\"a.zip\",\"url\":\"https://h/a.zip\",\"version\":\"3.5.0\"}")
                                    << 1;
    }
    void parseForms()
    {
        QFETCH(QByteArray, body);
        QFETCH(int, count);
        QCOMPARE(parseAssets(body).size(), count);
    }

    void assetFields()
    {
        const QByteArray body =
            "[{\"name\":\"ZQPlayer-3.5.0.DEV202401021530.ZIP\",\"url\":\"https://h/x\",\"size\":-5,"
            "\"arch\":\"Linux/64\",\"sha256\":\"ab\",\"id\":\"\",\"id_sha256\":\"\"},"
            "{\"name\":\"setup.exe\",\"url\":\"https://h/y\",\"size\":1e30,\"id\":\"zq-3.6.1\"},"
            "{\"name\":\"p.zip\",\"url\":\"https://h/z\",\"size\":123456789012}]";
        const QList<ReleaseAsset> assets = parseAssets(body);
        QCOMPARE(assets.size(), 3);
        QCOMPARE(assets[0].version, QVersionNumber(3, 5, 0));
        QCOMPARE(assets[0].dev_stamp, 202401021530LL);
        QCOMPARE(assets[0].type, QStringLiteral("zip"));
        QCOMPARE(assets[0].size, 0);             // negative: unknown
        QCOMPARE(assets[1].size, 0);             // absurd: unknown
        QCOMPARE(assets[1].version, QVersionNumber(3, 6, 1)); // from the id
        QCOMPARE(assets[2].size, 123456789012LL);
        QCOMPARE(assets[2].version, QVersionNumber());
    }

    void changelog()
    {
        const QByteArray body = "[{\"name\":\"notes\",\"type\":\"CHANGELOG\",\"url\":\"https://h/c.md\"},{\"name\":\"x\"}]";
        QCOMPARE(findChangelogUrl(body), QUrl("https://h/c.md"));
        const QByteArray object = "{\"type\":\"changelog\",\"url\":\"https://h/c\"}";
        const QByteArray relative = "[{\"name\":\"CHANGELOG.md\",\"url\":\"relative.md\"}]";
        QCOMPARE(findChangelogUrl(object), QUrl());
        QCOMPARE(findChangelogUrl(relative), QUrl());
    }

    void decision_data()
    {
        QTest::addColumn<QByteArray>("index");
        QTest::addColumn<QString>("running");
        QTest::addColumn<bool>("testBuild");
        QTest::addColumn<QString>("channel");
        QTest::addColumn<int>("outcome");
        QTest::addColumn<QString>("chosen");
        using O = Selection::Outcome;
        const QByteArray newerZip = asset("ZQPlayer-3.5.0.zip", "Linux/64");
        const QByteArray newerExe = asset("ZQPlayer-3.5.0.exe", "Linux/64");
        QTest::newRow("release: newer zip") << array({newerZip}) << "3.4.1" << false << "STABLE" << int(O::Chosen)
                                            << "ZQPlayer-3.5.0.zip";
        QTest::newRow("exe beats zip of the same version")
            << array({newerZip, newerExe}) << "3.4.1" << false << "STABLE" << int(O::Chosen) << "ZQPlayer-3.5.0.exe";
        QTest::newRow("older exe beside newer zip: the zip, never a downgrade")
            << array({asset("ZQPlayer-3.3.0.exe", "Linux/64"), asset("ZQPlayer-3.6.0.zip", "Linux/64")}) << "3.4.1"
            << false << "STABLE" << int(O::Chosen) << "ZQPlayer-3.6.0.zip";
        QTest::newRow("same version exe: nothing newer")
            << array({asset("ZQPlayer-3.4.1.exe", "Linux/64")}) << "3.4.1" << false << "STABLE" << int(O::NotNewer)
            << "";
        QTest::newRow("release: same version with a DEV stamp is newer")
            << array({asset("ZQPlayer-3.4.1.DEV202401010000.zip", "Linux/64")}) << "3.4.1" << false << "STABLE"
            << int(O::Chosen) << "ZQPlayer-3.4.1.DEV202401010000.zip";
        QTest::newRow("release: an older version with a DEV stamp is no downgrade")
            << array({asset("ZQPlayer-3.4.0.DEV202601010000.zip", "Linux/64")}) << "3.4.1" << false << "STABLE"
            << int(O::NotNewer) << "";
        QTest::newRow("other platform's newer asset is not offered")
            << array({asset("ZQPlayer-9.0.0.zip", "Windows/64"), asset("ZQPlayer-3.4.0.zip", "Linux/64")})
            << "3.4.1" << false << "STABLE" << int(O::NotNewer) << "";
        QTest::newRow("no hash: never chosen, and said so")
            << array({asset("ZQPlayer-3.5.0.zip", "Linux/64", "")}) << "3.4.1" << false << "STABLE"
            << int(O::NoDigest) << "";
        QTest::newRow("hash with colons and upper case is usable")
            << array({asset("ZQPlayer-3.5.0.zip", "Linux/64", QStringLiteral("AA:").repeated(31) + "AA")})
            << "3.4.1" << false << "STABLE" << int(O::Chosen) << "ZQPlayer-3.5.0.zip";
        QTest::newRow("one object: no arch, never compatible")
            << QByteArray("{\"name\":\"a.zip\",\"url\":\"https://h/a.zip\",\"sha256\":\"x\",\"version\":\"9.0.0\"}") << "3.4.1"
            << false << "STABLE" << int(O::NoCompatible) << "";
        QTest::newRow("garbage") << QByteArray("{{{") << "3.4.1" << false << "STABLE" << int(O::NoAsset) << "";
        QTest::newRow("two versions: highest of the best rank")
            << array({asset("ZQPlayer-3.5.0.exe", "linux/64"), asset("ZQPlayer-3.7.0.exe", "Linux/64"),
                      asset("ZQPlayer-3.6.0.exe", "Linux/64")})
            << "3.4.1" << false << "STABLE" << int(O::Chosen) << "ZQPlayer-3.7.0.exe";
        QTest::newRow("test build on stable: the released version")
            << array({asset("ZQPlayer-3.4.1.zip", "Linux/64")}) << "3.4.1.DEV202401010000" << true << "STABLE"
            << int(O::Chosen) << "ZQPlayer-3.4.1.zip";
        QTest::newRow("test build on testing: a later stamp")
            << array({asset("ZQPlayer-3.4.1.DEV202402010000.zip", "Linux/64")}) << "3.4.1.DEV202401010000" << true
            << "TESTING" << int(O::Chosen) << "ZQPlayer-3.4.1.DEV202402010000.zip";
        QTest::newRow("test build on testing: an earlier stamp")
            << array({asset("ZQPlayer-3.4.1.DEV202312010000.zip", "Linux/64")}) << "3.4.1.DEV202401010000" << true
            << "TESTING" << int(O::NotNewer) << "";
    }
    void decision()
    {
        QFETCH(QByteArray, index);
        QFETCH(QString, running);
        QFETCH(bool, testBuild);
        QFETCH(QString, channel);
        QFETCH(int, outcome);
        QFETCH(QString, chosen);
        SelectionRules rules;
        rules.platformKey = QStringLiteral("Linux/64");
        rules.running = VersionStamp::fromRunningText(running);
        rules.testBuild = testBuild;
        rules.channel = channel;
        const Selection s = selectAsset(parseAssets(index), rules);
        QCOMPARE(int(s.outcome), outcome);
        if (s.outcome == Selection::Outcome::Chosen)
            QCOMPARE(s.asset.name, chosen);
    }

    void ranks_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("buildSwitch");
        QTest::addColumn<bool>("bin");
        QTest::addColumn<int>("rank");
        QTest::newRow("off zip") << "a.zip" << false << false << 1;
        QTest::newRow("off launcher zip") << "Launcher.zip" << false << true << 0;
        QTest::newRow("off exe") << "a.exe" << false << false << 2;
        QTest::newRow("off msi") << "a.msi" << false << false << 0;
        QTest::newRow("on zip") << "a.zip" << true << false << 2;
        QTest::newRow("on exe") << "a.exe" << true << true << 1;
        QTest::newRow("on launcher no bin") << "a-launcher.zip" << true << false << 0;
        QTest::newRow("on launcher bin") << "a-launcher.zip" << true << true << 3;
    }
    void ranks()
    {
        QFETCH(QString, name);
        QFETCH(bool, buildSwitch);
        QFETCH(bool, bin);
        QFETCH(int, rank);
        ReleaseAsset a;
        a.name = name;
        a.type = name.section('.', -1).toLower();
        QCOMPARE(assetTypeRank(a, buildSwitch, bin), rank);
    }

    void runningVersion()
    {
        const VersionStamp plain = VersionStamp::fromRunningText("3.4.1");
        QCOMPARE(plain.version, QVersionNumber(3, 4, 1));
        QCOMPARE(plain.dev_stamp, -1);
        const VersionStamp dev = VersionStamp::fromRunningText("3.4.1.DEV202401021530");
        QCOMPARE(dev.dev_stamp, 202401021530LL);
        QVERIFY(VersionStamp::compare(dev, plain) > 0);
        QCOMPARE(wantedFolder(QVersionNumber(3)), QStringLiteral("3.0"));
    }

    void texts_data()
    {
        QTest::addColumn<qint64>("bytes");
        QTest::addColumn<QString>("size");
        QTest::newRow("bytes") << qint64(512) << "512 octets";
        QTest::newRow("zero") << qint64(0) << "0 octets";
        QTest::newRow("Ko") << qint64(1536) << "1.50 Ko";
        QTest::newRow("Mo") << qint64(52428800) << "50.0 Mo";
        QTest::newRow("Go") << qint64(200) * 1024 * 1024 * 1024 << "200 Go";
        QTest::newRow("To cap") << qint64(5000) * 1024 * 1024 * 1024 * 1024 << "5000 To";
    }
    void texts()
    {
        QFETCH(qint64, bytes);
        QFETCH(QString, size);
        QCOMPARE(formatSize(bytes), size);
    }

    void durationsAndStamps()
    {
        QCOMPARE(formatDuration(75), QStringLiteral("1:15"));
        QCOMPARE(formatDuration(3725), QStringLiteral("1:02:05"));
        QCOMPARE(formatDuration(-4), QStringLiteral("0:00"));
        QCOMPARE(formatDuration(59), QStringLiteral("0:59"));
        QCOMPARE(devStampText(202401021530), QStringLiteral("2024-01-02 15:30"));
        QCOMPARE(devStampText(202413021530), QStringLiteral("202413021530"));
    }

    void fileNamesAndAddresses()
    {
        QCOMPARE(safeFileName(""), QStringLiteral("update.bin"));
        QCOMPARE(safeFileName(".."), QStringLiteral("update.bin"));
        QCOMPARE(safeFileName("a/b.zip"), QStringLiteral("update.bin"));
        QCOMPARE(safeFileName("setup.exe"), QStringLiteral("setup.exe"));
        QVERIFY(refusedUrlReason(QUrl("https://example.invalid/a")).isEmpty());
        QVERIFY(refusedUrlReason(QUrl("http://127.0.0.1:8000/a")).isEmpty());
        QVERIFY(refusedUrlReason(QUrl("http://localhost/a")).isEmpty());
        QVERIFY(!refusedUrlReason(QUrl("http://10.0.0.1/a")).isEmpty());
        QVERIFY(!refusedUrlReason(QUrl("file:///etc/passwd")).isEmpty());
        QVERIFY(!refusedUrlReason(QUrl("qrc:/a")).isEmpty());
        QCOMPARE(normalizedDigest("AB:CD ef"), QStringLiteral("abcdef"));
    }
};

QTEST_GUILESS_MAIN(TestReleaseSelection)
#include "test_release_selection.moc"
