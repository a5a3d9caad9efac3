// The integrity worker on small generated days: the signals it emits, in order, for good and
// damaged folders and lists, and that it never opens a file outside the day folder (a FIFO there
// would hang the run).
//
// Every case works on a copy of a generated day: the list's "absolutepath" values keep naming the
// originals, so a check that opened them would call a damaged copy valid.

#include "integrity/integrity_check.h"
#include "recordings/encrypt.h"
#include "tools/zqfixture/lib/fixture_metadata.h"
#include "tools/zqfixture/lib/fixture_writer.h"

#include "../recordings/log_capture.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMutex>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

namespace {

const QString kDay = QStringLiteral("2024-01-01");

// Records the check's signals as text, from the worker thread.
class Trace
{
public:
    explicit Trace(IntegrityCheck* check)
    {
        const auto d = Qt::DirectConnection;
        QObject::connect(check, &IntegrityCheck::hash_file_found, check, [this](bool b) { add("found", b); }, d);
        QObject::connect(check, &IntegrityCheck::file_count, check,
                         [this](int n) { add(QStringLiteral("count:") + QString::number(n)); }, d);
        QObject::connect(check, &IntegrityCheck::start_check, check, [this] { add(QStringLiteral("start")); }, d);
        QObject::connect(check, &IntegrityCheck::file_count_check, check, [this](bool b) { add("countcheck", b); }, d);
        QObject::connect(check, &IntegrityCheck::begin_check_file, check,
                         [this](const QString& f) { add(QStringLiteral("begin:") + f); }, d);
        QObject::connect(check, &IntegrityCheck::end_check_file, check,
                         [this](const QString& f, bool b) { add(QStringLiteral("end:") + f, b); }, d);
        QObject::connect(check, &IntegrityCheck::end_check, check, [this](bool b) { add("done", b); }, d);
    }
    QStringList lines() const
    {
        QMutexLocker lock(&m_mutex);
        return m_lines;
    }

private:
    void add(const QString& text, bool b) { add(text + (b ? QStringLiteral(":1") : QStringLiteral(":0"))); }
    void add(const char* text, bool b) { add(QString::fromLatin1(text), b); }
    void add(const QString& text)
    {
        QMutexLocker lock(&m_mutex);
        m_lines << text;
    }
    mutable QMutex m_mutex;
    QStringList m_lines;
};

bool copy_tree(const QString& from, const QString& to)
{
    if (!QDir().mkpath(to))
        return false;
    QDirIterator it(from, QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QString target = to + QLatin1Char('/') + QDir(from).relativeFilePath(path);
        if (it.fileInfo().isDir()) {
            if (!QDir().mkpath(target))
                return false;
        } else if (!QFile::copy(path, target)) {
            return false;
        }
    }
    return true;
}

QJsonArray read_list(const QString& day)
{
    const std::string plain = Encrypt::decrypt_file(day + QStringLiteral("/hash.json"), Encrypt::Expect::JsonArray,
                                                    Encrypt::kMaxHashListSize);
    return QJsonDocument::fromJson(QByteArray::fromStdString(plain)).array();
}

bool write_list(const QString& day, const QByteArray& plain)
{
    return Encrypt::encrypt_to_file(plain, day + QStringLiteral("/hash.json"), Encrypt::KeyForm::Text,
                                    Encrypt::kMaxHashListSize) == 1;
}

bool write_list(const QString& day, const QJsonArray& list)
{
    return write_list(day, QJsonDocument(list).toJson(QJsonDocument::Compact));
}

bool write_file(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

bool flip_byte(const QString& path, qint64 at)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadWrite) || !f.seek(at))
        return false;
    char c = 0;
    if (f.read(&c, 1) != 1 || !f.seek(at))
        return false;
    c = char(c ^ 0x5a);
    return f.write(&c, 1) == 1;
}

QJsonObject with(QJsonObject o, const char* key, const QJsonValue& value)
{
    if (value.isUndefined())
        o.remove(QLatin1String(key));
    else
        o.insert(QLatin1String(key), value);
    return o;
}

QStringList run_check(const QString& day, IntegrityCheck** keep = nullptr)
{
    auto* check = new IntegrityCheck(day);
    Trace trace(check);
    check->start();
    if (!check->wait(120000))
        return {QStringLiteral("did not end")};
    const QStringList lines = trace.lines();
    if (keep)
        *keep = check;
    else
        delete check;
    return lines;
}

} // namespace

class TestIntegrityCheck : public QObject
{
    Q_OBJECT

    QTemporaryDir m_tmp;
    QString m_source_day;  // the generated day: its list names these files by "absolutepath"
    QJsonArray m_list;     // its list, in order

    QString file(int i) const { return m_list.at(i).toObject().value(QLatin1String("file")).toString(); }
    QString rel(int i) const { return m_list.at(i).toObject().value(QLatin1String("path")).toString(); }
    int n() const { return int(m_list.size()); }
    QStringList all_pass() const
    {
        QStringList lines;
        for (int i = 0; i < n(); ++i)
            lines << QStringLiteral("begin:") + file(i) << QStringLiteral("end:") + file(i) + QStringLiteral(":1");
        return lines;
    }
    static QStringList head(bool found, int count, bool countOk)
    {
        return {QStringLiteral("found:%1").arg(int(found)), QStringLiteral("count:%1").arg(count),
                QStringLiteral("start"), QStringLiteral("countcheck:%1").arg(int(countOk))};
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_tmp.isValid());
        ZQFixture::Options o;
        o.output_parent = m_tmp.filePath(QStringLiteral("source"));
        o.dates = {QDate(2024, 1, 1)};
        o.cameras = {1, 2};
        o.recordings_per_camera = 3;
        o.seconds_per_recording = 2;
        o.size = QSize(160, 120);
        o.fps = 5;
        o.gop = 5;
        o.threads = 2;
        const ZQFixture::StorageResult r = ZQFixture::write_storage(o, ZQFixture::MetadataOptions());
        QVERIFY2(r.ok, qPrintable(r.error));
        m_source_day = QDir(r.storage.root_path).filePath(kDay);
        m_list = read_list(m_source_day);
        QVERIFY(n() > 10);
        QCOMPARE(IntegrityCheck::counted_files(m_source_day).size(), n());
    }

    void trace_data()
    {
        QTest::addColumn<QString>("damage");
        QTest::addColumn<QString>("log");
        QTest::newRow("valid") << "valid" << "INTEGRITY OK";
        QTest::newRow("no list") << "no list" << "array empty";
        QTest::newRow("garbage list") << "garbage list" << "faild to openfile READ";
        QTest::newRow("not an array") << "not an array" << "faild to openfile READ";
        QTest::newRow("truncated list") << "truncated" << "faild to openfile READ";
        QTest::newRow("list above its cap") << "oversized" << "file too large";
        QTest::newRow("empty array") << "empty array" << "array empty";
        QTest::newRow("list is a link") << "list link" << "faild to openfile READ";
        QTest::newRow("list is a FIFO") << "list fifo" << "faild to openfile READ";
        QTest::newRow("added file") << "added" << "file added :: 080000/extra.bin";
        // A file the players read is counted whatever its name holds.
        QTest::newRow("added camera file named like the camera list")
            << "added:080000/old-index.zqnfo" << "file added :: 080000/old-index.zqnfo";
        QTest::newRow("added camera list in a start-time folder")
            << "added:080000/index.zqnfo" << "file added :: 080000/index.zqnfo";
        QTest::newRow("added picture named like the list") << "added:hash.json.jpg" << "file added :: hash.json.jpg";
        QTest::newRow("added seek index named like the day index")
            << "added:080000/1_20240101_080000_zqvideoindex.json.zqseek"
            << "file added :: 080000/1_20240101_080000_zqvideoindex.json.zqseek";
        QTest::newRow("deleted file") << "deleted" << "file missing :: ";
        QTest::newRow("2nd file changed in the copy") << "changed" << "INTEGRITY NOT CONFIRMED";
        QTest::newRow("upper-case digests never match") << "upper" << "INTEGRITY NOT CONFIRMED";
        QTest::newRow("'..' entry to a FIFO") << "dotdot" << "file missing :: ../outside.fifo";
        QTest::newRow("absolute entry to a FIFO") << "absolute" << "file missing :: /";
        QTest::newRow("listed link to a FIFO") << "link" << "file missing :: 080000/zlink.zqvideo";
        QTest::newRow("element not an object") << "not object" << "size not valid";
        QTest::newRow("digest not hexadecimal") << "bad digest" << "no valid SHA-256";
        QTest::newRow("no name, short digest") << "no name" << "no valid SHA-256";
        QTest::newRow("duplicate hides an added file") << "duplicate" << "file listed twice";
        QTest::newRow("absolutepath only, inside") << "abs inside" << "INTEGRITY OK";
        QTest::newRow("absolutepath only, the original") << "abs original" << "file missing :: /";
        QTest::newRow("excluded names, hidden, links") << "excluded" << "INTEGRITY OK";
        QTest::newRow("list above the metadata cap") << "large" << "INTEGRITY OK";
    }

    void trace()
    {
        QFETCH(QString, damage);
        QFETCH(QString, log);
        QTemporaryDir tmp;
        const QString day = tmp.filePath(kDay);
        QVERIFY(copy_tree(m_source_day, day));
        const QString fifo = tmp.filePath(QStringLiteral("outside.fifo"));
        QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
        const QString listPath = day + QStringLiteral("/hash.json");

        QStringList expected;
        QString extra_log; // a second log line the case must leave
        QJsonArray list = m_list;
        auto entry = [&](int i) { return list.at(i).toObject(); };
        const QStringList noList = head(false, 0, false) << QStringLiteral("done:0");

        if (damage == "valid") {
            expected = head(true, n(), true) + all_pass() << QStringLiteral("done:1");
        } else if (damage == "no list") {
            QVERIFY(QFile::remove(listPath));
            expected = noList;
        } else if (damage == "garbage list") {
            QVERIFY(write_file(listPath, QByteArray(333, '\x17')));
            expected = noList;
        } else if (damage == "not an array") {
            QVERIFY(write_list(day, QByteArray("{\"file\":\"a\"}")));
            expected = noList;
        } else if (damage == "truncated") {
            QFile f(listPath);
            QVERIFY(f.open(QIODevice::ReadWrite) && f.resize(f.size() / 2 + 5));
            expected = noList;
        } else if (damage == "oversized") {
            // Sparse: refused by its size before anything is read.
            QFile f(listPath);
            QVERIFY(f.open(QIODevice::ReadWrite) && f.resize(Encrypt::kMaxHashListSize + 16));
            expected = noList;
        } else if (damage == "empty array") {
            QVERIFY(write_list(day, QByteArray("[]")));
            expected = noList;
        } else if (damage == "list link") {
            QVERIFY(QFile::rename(listPath, tmp.filePath(QStringLiteral("real.json"))));
            QVERIFY(QFile::link(tmp.filePath(QStringLiteral("real.json")), listPath));
            expected = noList;
        } else if (damage == "list fifo") {
            QVERIFY(QFile::remove(listPath));
            QCOMPARE(::mkfifo(QFile::encodeName(listPath).constData(), 0600), 0);
            expected = noList;
        } else if (damage == "added" || damage.startsWith(QLatin1String("added:"))) {
            const QString added = damage == "added" ? QStringLiteral("080000/extra.bin") : damage.mid(6);
            QVERIFY(write_file(day + QLatin1Char('/') + added, "x"));
            expected = head(true, n(), false) << QStringLiteral("done:0");
        } else if (damage == "deleted") {
            QVERIFY(QFile::remove(day + QLatin1Char('/') + rel(1)));
            expected = head(true, n(), false) << QStringLiteral("done:0");
            extra_log = QStringLiteral("file missing :: ") + rel(1);
        } else if (damage == "changed") {
            QVERIFY(flip_byte(day + QLatin1Char('/') + rel(1), 3));
            expected = head(true, n(), true) << QStringLiteral("begin:") + file(0)
                                             << QStringLiteral("end:") + file(0) + QStringLiteral(":1")
                                             << QStringLiteral("begin:") + file(1)
                                             << QStringLiteral("end:") + file(1) + QStringLiteral(":0")
                                             << QStringLiteral("done:0");
        } else if (damage == "upper") {
            for (int i = 0; i < n(); ++i)
                list[i] = with(entry(i), "sha256", entry(i).value(QLatin1String("sha256")).toString().toUpper());
            QVERIFY(write_list(day, list));
            // Compared exactly with the lower-case digest: the first file fails and ends the run.
            expected = head(true, n(), true) << QStringLiteral("begin:") + file(0)
                                             << QStringLiteral("end:") + file(0) + QStringLiteral(":0")
                                             << QStringLiteral("done:0");
            const QString lower = m_list.at(0).toObject().value(QLatin1String("sha256")).toString();
            extra_log = QStringLiteral("check integrity :: failed ") + lower.toUpper() + QStringLiteral(" != ") + lower;
        } else if (damage == "dotdot" || damage == "absolute") {
            const QString path = damage == "dotdot" ? QStringLiteral("../outside.fifo") : fifo;
            list[0] = with(entry(0), "path", path);
            QVERIFY(write_list(day, list));
            expected = head(true, n(), false) << QStringLiteral("done:0");
            extra_log = QStringLiteral("file added :: ") + rel(0);
        } else if (damage == "link") {
            QVERIFY(QFile::link(fifo, day + QStringLiteral("/080000/zlink.zqvideo")));
            list.append(QJsonObject{{"file", "zlink.zqvideo"},
                                    {"absolutepath", day + QStringLiteral("/080000/zlink.zqvideo")},
                                    {"path", "080000/zlink.zqvideo"},
                                    {"sha256", QString(64, QLatin1Char('0'))}});
            QVERIFY(write_list(day, list));
            expected = head(true, n() + 1, false) << QStringLiteral("done:0");
        } else if (damage == "not object") {
            list[1] = 42;
            QVERIFY(write_list(day, list));
            expected = head(true, n(), false) << QStringLiteral("done:0");
            extra_log = QStringLiteral("file added :: ") + rel(1);
        } else if (damage == "bad digest" || damage == "no name") {
            const bool noName = damage == "no name";
            list[1] = with(entry(1), "sha256", noName ? QStringLiteral("12") : QString(64, QLatin1Char('x')));
            if (noName)
                list[1] = with(entry(1), "file", QJsonValue::Undefined);
            QVERIFY(write_list(day, list));
            const QString label = noName ? rel(1) : file(1);
            expected = head(true, n(), true) << QStringLiteral("begin:") + file(0)
                                             << QStringLiteral("end:") + file(0) + QStringLiteral(":1")
                                             << QStringLiteral("begin:") + label
                                             << QStringLiteral("end:") + label + QStringLiteral(":0")
                                             << QStringLiteral("done:0");
        } else if (damage == "duplicate") {
            list.append(entry(0));
            QVERIFY(write_list(day, list));
            QVERIFY(write_file(day + QStringLiteral("/080000/extra.bin"), "x"));
            expected = head(true, n() + 1, false) << QStringLiteral("done:0");
            extra_log = QStringLiteral("file added :: 080000/extra.bin");
        } else if (damage == "abs inside") {
            for (int i = 0; i < n(); ++i)
                list[i] = with(with(entry(i), "path", QJsonValue::Undefined), "absolutepath",
                               day + QLatin1Char('/') + rel(i));
            QVERIFY(write_list(day, list));
            expected = head(true, n(), true) + all_pass() << QStringLiteral("done:1");
        } else if (damage == "abs original") {
            list[0] = with(entry(0), "path", QString());
            QVERIFY(write_list(day, list));
            const QString original = entry(0).value(QLatin1String("absolutepath")).toString();
            expected = head(true, n(), false) << QStringLiteral("done:0");
            extra_log = QStringLiteral("file missing :: ") + original;
        } else if (damage == "excluded") {
            for (const char* name : {"hash.json.old", "index.zqnfo.bak", "080000/hash.json", "zqvideoindex.json", ".hidden",
                                     ".hiddendir/x.zqvideo", "080000/.x"})
                QVERIFY(write_file(day + QLatin1Char('/') + QString::fromLatin1(name), "x"));
            QVERIFY(QFile::link(fifo, day + QStringLiteral("/080000/fifo-link")));
            QVERIFY(QFile::link(day, day + QStringLiteral("/080000/loop")));
            QCOMPARE(::mkfifo(QFile::encodeName(day + QStringLiteral("/a.fifo")).constData(), 0600), 0);
            expected = head(true, n(), true) + all_pass() << QStringLiteral("done:1");
        } else if (damage == "large") {
            // Other members are ignored; this one takes the list past the 16 MiB metadata cap.
            list[0] = with(entry(0), "note", QString(int(Encrypt::kMaxFileSize) + 1024, QLatin1Char('n')));
            QVERIFY(write_list(day, list));
            QVERIFY(QFileInfo(listPath).size() > Encrypt::kMaxFileSize);
            expected = head(true, n(), true) + all_pass() << QStringLiteral("done:1");
        } else {
            QFAIL("unknown damage");
        }

        LogCapture capture;
        const QStringList got = run_check(day);
        if (got != expected) {
            qWarning().noquote() << "got:     " << got.join(QStringLiteral(" | "));
            qWarning().noquote() << "expected:" << expected.join(QStringLiteral(" | "));
        }
        QCOMPARE(got, expected);
        QVERIFY2(capture.has(log), qPrintable(capture.lines().join(QLatin1Char('\n'))));
        QVERIFY2(extra_log.isEmpty() || capture.has(extra_log), qPrintable(extra_log));
        QVERIFY(capture.has(expected.last() == QLatin1String("done:1") ? QStringLiteral("INTEGRITY OK")
                                                                       : QStringLiteral("INTEGRITY NOT CONFIRMED")));
        // Nothing was written into the day folder.
        QVERIFY(!QFileInfo::exists(day + QStringLiteral("/zqvideoindex.json")) || damage == "excluded");
    }

    // Files on one side only of the comparison are named in the log, every one of them, and by
    // no signal: the per-file signals belong to the files checked one by one.
    void differences_logged_only()
    {
        QTemporaryDir tmp;
        const QString day = tmp.filePath(kDay);
        QVERIFY(copy_tree(m_source_day, day));
        for (int i = 0; i < 30; ++i)
            QVERIFY(write_file(day + QStringLiteral("/added/%1.bin").arg(i, 2, 10, QLatin1Char('0')), "x"));
        LogCapture capture;
        const QStringList got = run_check(day);
        QCOMPARE(got, head(true, n(), false) << QStringLiteral("done:0"));
        QCOMPARE(capture.count(QStringLiteral("file added :: added/")), 30);
    }

    // A stop asked for while a file is being hashed ends the run within one read, with no verdict
    // on that file, also when it is the last one.
    void stop_during_large_file()
    {
        QTemporaryDir tmp;
        const QString day = tmp.filePath(kDay);
        QVERIFY(QDir().mkpath(day));
        {
            QFile big(day + QStringLiteral("/big.bin"));
            QVERIFY(big.open(QIODevice::WriteOnly));
            QVERIFY(big.resize(64LL * 1024 * 1024));
        }
        QJsonArray list{QJsonObject{{"file", "big.bin"}, {"path", "big.bin"}, {"sha256", QString(64, QLatin1Char('a'))}}};
        QVERIFY(write_list(day, list));

        IntegrityCheck check(day);
        Trace trace(&check);
        // Right after the announcement, before its first read: deterministic, and "during" the file.
        connect(&check, &IntegrityCheck::begin_check_file, &check, [&check] { check.user_stop(); },
                Qt::DirectConnection);
        check.start();
        QVERIFY(check.wait(60000));
        QCOMPARE(trace.lines(), head(true, 1, true) << QStringLiteral("begin:big.bin") << QStringLiteral("done:0"));
        QVERIFY(!check.is_valid());
    }

    // Deleting a running check stops it and waits for its thread.
    void delete_while_running()
    {
        QTemporaryDir tmp;
        const QString day = tmp.filePath(kDay);
        QVERIFY(QDir().mkpath(day));
        for (int i = 0; i < 4; ++i) {
            QFile big(day + QStringLiteral("/big%1.bin").arg(i));
            QVERIFY(big.open(QIODevice::WriteOnly));
            QVERIFY(big.resize(32LL * 1024 * 1024));
        }
        QJsonArray list;
        for (int i = 0; i < 4; ++i)
            list.append(QJsonObject{{"file", QStringLiteral("big%1.bin").arg(i)},
                                    {"path", QStringLiteral("big%1.bin").arg(i)},
                                    {"sha256", QString(64, QLatin1Char('a'))}});
        QVERIFY(write_list(day, list));
        auto* check = new IntegrityCheck(day);
        check->start();
        QTest::qWait(5);
        delete check; // must not abort ("QThread: Destroyed while thread is still running")
    }
};

QTEST_GUILESS_MAIN(TestIntegrityCheck)
#include "test_integrity_check.moc"
