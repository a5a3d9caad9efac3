#include "log_capture.h"
#include "recordings/encrypt.h"

#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

class TestEncrypt : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;

    QString path(const QString& name) const { return m_dir.filePath(name); }

    static QByteArray read_all(const QString& p)
    {
        QFile f(p);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    static void write_all(const QString& p, const QByteArray& data)
    {
        QFile f(p);
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        QCOMPARE(f.write(data), data.size());
    }
    // Key and vector of a key form, as the hexadecimal texts `openssl enc -K/-iv` takes. Written
    // out here rather than taken from Encrypt, so that a changed key text fails the test: files
    // from the recording server use exactly these.
    static QPair<QByteArray, QByteArray> openssl_key(Encrypt::KeyForm form)
    {
        const QByteArray keyText = "5f0e9d8c7b6a5948372615f4e3d2c1b0a9f8e7d6c5b4a39281706f5e4d3c2b1a";
        const QByteArray ivText = "0c1d2e3f4a5b6c7d8e9fa0b1c2d3e4f5";
        if (form == Encrypt::KeyForm::Hex)
            return {keyText, ivText};
        return {keyText.left(32).toHex(), ivText.left(16).toHex()};
    }

private slots:
    void initTestCase() { QVERIFY(m_dir.isValid()); }

    // Every file we write reads back exactly, whichever key form wrote it.
    void roundTrip_data()
    {
        QTest::addColumn<QByteArray>("plain");
        QTest::addColumn<int>("form");
        const QByteArray object = "{\"cameras\":[{\"cam_id\":1,\"cam_name\":\"Entrée nord\"}]}";
        const QByteArray array = "[{\"file\":\"a.zqvideo\",\"sha256\":\"00\"}]";
        QByteArray big = "[";
        for (int i = 0; i < 50000; ++i)
            big += "\"" + QByteArray::number(i) + "\",";
        big += "0]";
        const QByteArray exactBlock = "{\"k\":\"0123456789abc\"}"; // 21 bytes
        for (int form : {int(Encrypt::KeyForm::Text), int(Encrypt::KeyForm::Hex)}) {
            const char* f = form == int(Encrypt::KeyForm::Text) ? "text" : "hex";
            QTest::addRow("object-%s", f) << object << form;
            QTest::addRow("array-%s", f) << array << form;
            QTest::addRow("large-%s", f) << big << form;
            QTest::addRow("odd-length-%s", f) << exactBlock << form;
            QTest::addRow("sixteen-bytes-%s", f) << QByteArray("{\"a\":\"12345678\"}") << form;
        }
    }
    void roundTrip()
    {
        QFETCH(QByteArray, plain);
        QFETCH(int, form);
        const QString file = path(QStringLiteral("round.zqnfo"));
        QCOMPARE(Encrypt::encrypt_to_file(plain, file, Encrypt::KeyForm(form)), 1);
        const QByteArray cipher = read_all(file);
        QCOMPARE(cipher.size() % 16, 0);
        QCOMPARE(cipher.size(), (plain.size() / 16 + 1) * 16);
        QVERIFY(!cipher.contains(plain.left(8)));
        LogCapture log;
        QCOMPARE(QByteArray::fromStdString(Encrypt::decrypt_file(file)), plain);
        QVERIFY2(!log.has(QStringLiteral("[ERROR]")), qPrintable(log.lines().join('\n')));
    }

    // Files made by the openssl command decrypt with ours, and ours decrypt with it: both sides
    // use plain AES-256-CBC with PKCS#7 and nothing else in the file.
    void opensslInterop_data()
    {
        QTest::addColumn<int>("form");
        QTest::newRow("text-key") << int(Encrypt::KeyForm::Text);
        QTest::newRow("hex-key") << int(Encrypt::KeyForm::Hex);
    }
    void opensslInterop()
    {
        QFETCH(int, form);
        const QString openssl = QStandardPaths::findExecutable(QStringLiteral("openssl"));
        if (openssl.isEmpty())
            QSKIP("openssl command not installed");
        const auto [key, iv] = openssl_key(Encrypt::KeyForm(form));
        const QByteArray plain = "{\"tag_id\":\"42\",\"tag_name\":\"Livraison\",\"tag_cam_id\":3}";
        write_all(path(QStringLiteral("plain.json")), plain);

        QProcess enc;
        enc.start(openssl, {"enc", "-aes-256-cbc", "-K", QString::fromLatin1(key), "-iv", QString::fromLatin1(iv),
                            "-in", path("plain.json"), "-out", path("by-openssl.zqtag")});
        QVERIFY(enc.waitForFinished(30000));
        QCOMPARE(enc.exitCode(), 0);
        QCOMPARE(QByteArray::fromStdString(Encrypt::decrypt_file(path("by-openssl.zqtag"))), plain);

        QCOMPARE(Encrypt::encrypt_to_file(plain, path("by-us.zqtag"), Encrypt::KeyForm(form)), 1);
        QProcess dec;
        dec.start(openssl, {"enc", "-d", "-aes-256-cbc", "-K", QString::fromLatin1(key), "-iv",
                            QString::fromLatin1(iv), "-in", path("by-us.zqtag")});
        QVERIFY(dec.waitForFinished(30000));
        QCOMPARE(dec.exitCode(), 0);
        QCOMPARE(dec.readAllStandardOutput(), plain);
    }

    // About one file in 257 written with the hexadecimal key also passes the padding check under
    // the text key and decrypts to garbage; the reader must see it is not the expected JSON and
    // take the hexadecimal key.
    void hexFileThatPassesTextPadding()
    {
        unsigned char textKey[32], textIv[16], hexKey[32], hexIv[16];
        Encrypt::text_key_bytes(textKey, textIv);
        QVERIFY(Encrypt::hex_to_bytes(hexKey, hexIv));
        QByteArray found;
        for (int i = 0; i < 20000 && found.isEmpty(); ++i) {
            const QByteArray plain = "{\"cam_id\":" + QByteArray::number(i) + ",\"cam_name\":\"Camera "
                                     + QByteArray::number(i) + "\"}";
            QByteArray cipher(plain.size() + 16, 0);
            const int n = Encrypt::encrypt_with_key(reinterpret_cast<const unsigned char*>(plain.constData()),
                                                    int(plain.size()), hexKey, hexIv,
                                                    reinterpret_cast<unsigned char*>(cipher.data()));
            QVERIFY(n > 0);
            QByteArray out(n + 16, 0);
            if (Encrypt::decrypt_with_key(reinterpret_cast<const unsigned char*>(cipher.constData()), n, textKey,
                                          textIv, reinterpret_cast<unsigned char*>(out.data()))
                >= 0)
                found = plain;
        }
        QVERIFY2(!found.isEmpty(), "no plain text passing both paddings in 20000 tries");
        const QString file = path(QStringLiteral("both-pad.zqnfo"));
        QCOMPARE(Encrypt::encrypt_to_file(found, file, Encrypt::KeyForm::Hex), 1);
        QCOMPARE(QByteArray::fromStdString(Encrypt::decrypt_file(file)), found);
        QCOMPARE(QByteArray::fromStdString(Encrypt::decrypt_file(file, Encrypt::Expect::JsonObject)), found);
    }

    // The expected shape decides: an array where an object is expected is refused.
    void expectedShape()
    {
        const QString file = path(QStringLiteral("array.json"));
        QCOMPARE(Encrypt::encrypt_to_file(QByteArray("[1,2]"), file), 1);
        QVERIFY(Encrypt::decrypt_file(file, Encrypt::Expect::JsonObject).empty());
        QCOMPARE(Encrypt::decrypt_file(file, Encrypt::Expect::JsonArray), std::string("[1,2]"));
    }

    // Files that neither key decrypts give nothing and say why, once.
    void unreadable_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<bool>("create");
        QTest::addColumn<QStringList>("lines");
        const QString failed = QStringLiteral("[ERROR] Encrypt :: Decrypt file :: decrypt failed");
        const QString readFailed = QStringLiteral("[ERROR] Encrypt :: Decrypt file :: read failed");
        QTest::newRow("plain-json") << QByteArray("{\"cam_id\":1,\"cam_name\":\"A\"}") << true << QStringList{failed};
        QTest::newRow("not-block-multiple") << QByteArray(33, 'x') << true << QStringList{failed};
        QTest::newRow("random-blocks") << QByteArray::fromHex("00112233445566778899aabbccddeeff0f1e2d3c4b5a69788796a5b4c3d2e1f0")
                                       << true << QStringList{failed};
        QTest::newRow("empty") << QByteArray() << true << QStringList{readFailed};
        QTest::newRow("missing") << QByteArray() << false
                                 << QStringList{QStringLiteral("[ERROR] Encrypt :: read file :: open failed: "), readFailed};
        QTest::newRow("folder") << QByteArray() << false
                                << QStringList{QStringLiteral("[ERROR] Encrypt :: read file :: open failed: "), readFailed};
        QTest::newRow("pipe") << QByteArray() << false
                              << QStringList{QStringLiteral("[ERROR] Encrypt :: read file :: open failed: "), readFailed};
        QTest::newRow("too-large") << QByteArray(int(Encrypt::kMaxFileSize) + 16, 'a') << true
                                   << QStringList{QStringLiteral("[ERROR] Encrypt :: read file :: file too large"), readFailed};
    }
    void unreadable()
    {
        QFETCH(QByteArray, content);
        QFETCH(bool, create);
        QFETCH(QStringList, lines);
        const QString file = path(QStringLiteral("bad-%1.zqnfo").arg(QTest::currentDataTag()));
        if (create)
            write_all(file, content);
        // A pipe must be refused before it is opened: opening it would wait for a writer forever.
        if (QTest::currentDataTag() == QByteArray("pipe"))
            QCOMPARE(mkfifo(QFile::encodeName(file).constData(), 0600), 0);
        if (QTest::currentDataTag() == QByteArray("folder"))
            QVERIFY(QDir().mkpath(file));
        LogCapture log;
        QVERIFY(Encrypt::decrypt_file(file).empty());
        for (const QString& line : lines)
            QVERIFY2(log.count(line) == 1, qPrintable(line + " in\n" + log.lines().join('\n')));
    }

    // An empty plain text still makes one block; it reads back as "no content".
    void emptyPlainText()
    {
        const QString file = path(QStringLiteral("empty-plain.zqtag"));
        QCOMPARE(Encrypt::encrypt_to_file(QByteArray(), file), 1);
        QCOMPARE(QFileInfo(file).size(), 16);
        QVERIFY(Encrypt::decrypt_file(file).empty());
    }

    // Writing creates missing folders; a folder standing where the file should go fails and says so,
    // leaving no file behind.
    void writeTargets()
    {
        const QString deep = path(QStringLiteral("a/b/c/index.zqnfo"));
        QCOMPARE(Encrypt::encrypt_to_file(QByteArray("{}"), deep), 1);
        QCOMPARE(Encrypt::decrypt_file(deep), std::string("{}"));

        const QString blocked = path(QStringLiteral("blocked.zqnfo"));
        QVERIFY(QDir().mkpath(blocked));
        LogCapture log;
        QCOMPARE(Encrypt::encrypt_to_file(QByteArray("{}"), blocked), -1);
        QVERIFY(log.has(QStringLiteral("[ERROR] Encrypt :: write to file :: ")));
        QVERIFY(QFileInfo(blocked).isDir());

        const QString underFile = path(QStringLiteral("plainfile/x.zqnfo"));
        write_all(path(QStringLiteral("plainfile")), "x");
        QCOMPARE(Encrypt::encrypt_to_file(QByteArray("{}"), underFile), -1);
        QVERIFY(log.has(QStringLiteral("[ERROR] Encrypt :: write to file :: cannot create directory: ")));
    }
};

QTEST_GUILESS_MAIN(TestEncrypt)
#include "test_encrypt.moc"
