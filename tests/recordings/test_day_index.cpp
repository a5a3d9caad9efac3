#include "log_capture.h"
#include "recordings/day_index_file.h"
#include "recordings/encrypt.h"
#include "recordings/storage_layout.h"
#include "recordings/zq_file.h"
#include "recordings/zq_index_controller.h"
#include "recordings/zq_index_manager.h"
#include "tools/zqfixture/lib/fixture_metadata.h"
#include "tools/zqfixture/lib/fixture_writer.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

void write_file(const QString& path, const QByteArray& data)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        f.write(data);
}

void set_mtime(const QString& path, const QDateTime& when)
{
    QFile f(path);
    f.open(QIODevice::ReadWrite);
    f.setFileTime(when, QFileDevice::FileModificationTime);
}

QJsonObject read_index(const QString& day)
{
    QFile f(day + "/zqvideoindex.json");
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return QJsonDocument::fromJson(f.readAll()).object();
}

QStringList strings(const QJsonValue& v)
{
    QStringList out;
    for (const QJsonValue& e : v.toArray())
        out << e.toString();
    return out;
}

QString names(const QStringList& paths)
{
    QStringList n;
    for (const QString& p : paths)
        n << QFileInfo(p).fileName();
    return n.join(',');
}

// Runs one build in the calling thread and returns how it ended.
struct BuildEnd
{
    ZQIndexManager::Outcome outcome = ZQIndexManager::Failed;
    QString message;
    int errors = 0;
    int ends = 0;
};

BuildEnd build(const QString& path)
{
    ZQIndexManager manager;
    BuildEnd end;
    QObject::connect(&manager, &ZQIndexManager::finished, [&end](ZQIndexManager::Outcome o, const QString& m) {
        end.outcome = o;
        end.message = m;
        ++end.ends;
    });
    QObject::connect(&manager, &ZQIndexManager::errorOccurred, [&end](const QString&) { ++end.errors; });
    manager.background_generation(path);
    return end;
}

} // namespace

class TestDayIndex : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    int m_serial = 0;

    QString fresh(const QString& name = QString())
    {
        const QString p = m_dir.filePath(QString::number(++m_serial) + name);
        QDir().mkpath(p);
        return p;
    }

    // A generated storage folder with metadata: cameras 1 and 2, three one-second recordings each
    // a minute apart, around an hour change so that each camera has two alarm hours.
    ZQFixture::Result make_storage(const QString& parent, QList<QDate> dates = {QDate(2024, 3, 5)},
                                   QList<int> scrambled = {})
    {
        ZQFixture::Options o;
        o.output_parent = parent;
        o.dates = dates;
        o.cameras = {1, 2};
        o.start_time = QTime(8, 59, 0);
        o.recordings_per_camera = 3;
        o.seconds_per_recording = 1;
        o.gap_seconds = 59;
        o.size = QSize(64, 48);
        o.fps = 5;
        o.gop = 5;
        ZQFixture::MetadataOptions m;
        m.camera_names = {{1, "Entrée"}, {2, "Quai <b>2</b>"}};
        m.scrambled_cameras = scrambled;
        m.picture_size = QSize(32, 24);
        m.thumb_size = QSize(16, 12);
        const ZQFixture::StorageResult r = ZQFixture::write_storage(o, m);
        ZQFixture::Result storage = r.storage;
        storage.ok = r.ok;
        storage.error = r.error;
        return storage;
    }

private slots:
    void initTestCase() { QVERIFY(m_dir.isValid()); }

    // The fingerprint is the documented text: relative path, local modification time and size of
    // every counted file, sorted and joined, hashed.
    void fingerprintIsDocumentedText()
    {
        const QString day = fresh("/zqcore_0000-0000-0000-0001/2024-01-01");
        const QDateTime t1(QDate(2024, 1, 1), QTime(8, 30, 15));
        const QDateTime t2(QDate(2023, 12, 31), QTime(23, 59, 59));
        write_file(day + "/b.zqtag", "12345");
        write_file(day + "/083000/1_20240101_083000.zqvideo", QByteArray(100, 'v'));
        write_file(day + "/083000/1_20240101_083000.zqseek", QByteArray(7, 's'));
        write_file(day + "/083000/deeper/x/Z.jpg", "z");
        write_file(day + "/A.JPG", "");
        // Left out: hidden entries, metadata and index files, symbolic links.
        write_file(day + "/.hidden", "h");
        write_file(day + "/.cache/f.zqvideo", "h");
        write_file(day + "/zqvideoindex.json", "{}");
        write_file(day + "/083000/1_20240101_083000.zqnfo", "n");
        write_file(day + "/hash.JSON", "[]");
        QVERIFY(QFile::link(day + "/b.zqtag", day + "/link.zqtag"));
        QVERIFY(QFile::link(day, day + "/083000/loop"));
        const QStringList counted = {"b.zqtag", "083000/1_20240101_083000.zqvideo", "083000/1_20240101_083000.zqseek",
                                     "083000/deeper/x/Z.jpg", "A.JPG"};
        for (const QString& rel : counted)
            set_mtime(day + "/" + rel, rel == "A.JPG" ? t2 : t1);

        QStringList entries;
        for (const QString& rel : counted)
            entries << QStringLiteral("%1|%2|%3").arg(rel, (rel == "A.JPG" ? t2 : t1).toString("yyyyMMddHHmmss"))
                           .arg(QFileInfo(day + "/" + rel).size());
        entries.sort();
        const QString expected = QString::fromLatin1(
            QCryptographicHash::hash(entries.join(';').toUtf8(), QCryptographicHash::Sha256).toHex());
        QCOMPARE(DayIndex::fingerprint(day), expected);
        QCOMPARE(DayIndex::fingerprint(day + "/"), expected);

        // Same names, times and sizes elsewhere: same fingerprint.
        const QString copy = fresh("/zqcore_0000-0000-0000-0002/2024-01-01");
        for (const QString& rel : counted) {
            write_file(copy + "/" + rel, QFile(day + "/" + rel).open(QIODevice::ReadOnly) ? [&] {
                QFile f(day + "/" + rel);
                f.open(QIODevice::ReadOnly);
                return f.readAll();
            }() : QByteArray());
            set_mtime(copy + "/" + rel, rel == "A.JPG" ? t2 : t1);
        }
        QCOMPARE(DayIndex::fingerprint(copy), expected);

        const QString empty = fresh();
        QCOMPARE(DayIndex::fingerprint(empty),
                 QString::fromLatin1(QCryptographicHash::hash(QByteArray(), QCryptographicHash::Sha256).toHex()));
        LogCapture log;
        QVERIFY(DayIndex::fingerprint(empty + "/missing").isNull());
        QVERIFY(log.has("[WARNING] Encrypt :: generate snapshot :: Directory does not exist: " + empty + "/missing"));
    }

    // A day of many start-time folders is read folder by folder at once: the fingerprint and the
    // collected lists come out as one walk of the folders in name order gives them (the value below
    // is the one that walk gave on this day).
    void manyFoldersWalkedAsOne()
    {
        const QString day = fresh("/zqcore_0000-0000-0000-0003/2024-01-01");
        QStringList counted;
        QStringList video, alarm, preview;
        QHash<QString, QDateTime> times;
        auto put = [&](const QString& rel, int size, const QDateTime& when, bool counts = true) {
            write_file(day + "/" + rel, QByteArray(size, 'x'));
            set_mtime(day + "/" + rel, when);
            if (counts) {
                counted << rel;
                times.insert(rel, when);
            }
        };
        // The day's own files come first in the lists; "080100.zqtag" sorts beside the folder "080100".
        put("080100.zqtag", 4, QDateTime(QDate(2024, 1, 1), QTime(7, 0, 0)));
        put("\u00e9t\u00e9_1_20240101_070000.jpg", 5, QDateTime(QDate(2024, 1, 1), QTime(7, 0, 1)));
        alarm << day + "/\u00e9t\u00e9_1_20240101_070000.jpg";
        for (int i = 0; i < 60; ++i) {
            const QString hhmmss = QStringLiteral("08%1").arg(i, 2, 10, QLatin1Char('0')) + "00";
            for (int c = 1; c <= 3; ++c) {
                const QDateTime when(QDate(2024, 1, 1), QTime(8, i, c));
                const QString base = hhmmss + "/" + QString::number(c) + "_20240101_" + hhmmss;
                put(base + ".zqvideo", 10 + i + c, when);
                if (i % 7 != 3) {
                    put(base + ".zqseek", 3, when);
                    video << day + "/" + base + ".zqvideo";
                }
                put(base + ".zqnfo", 2, when, false);
                put(hhmmss + "/" + QString::number(c) + "_5_20240101_" + hhmmss + ".jpg", 6, when);
                put(base + "_preview.jpg", 7, when);
            }
            for (int c = 1; c <= 3; ++c)
                alarm << day + "/" + hhmmss + "/" + QString::number(c) + "_5_20240101_" + hhmmss + ".jpg";
            for (int c = 1; c <= 3; ++c)
                preview << day + "/" + hhmmss + "/" + QString::number(c) + "_20240101_" + hhmmss + "_preview.jpg";
        }
        // Counted at any depth, collected only in the day and its direct sub-folders.
        put("080200/deep/er/4_20240101_080200.zqvideo", 8, QDateTime(QDate(2024, 1, 1), QTime(9, 0, 0)));
        put("2024-01-02/9_20240102_000000.zqvideo", 9, QDateTime(QDate(2024, 1, 2), QTime(0, 0, 0)));
        put("2024-01-02/9_20240102_000000.zqseek", 9, QDateTime(QDate(2024, 1, 2), QTime(0, 0, 0)));
        video << day + "/2024-01-02/9_20240102_000000.zqvideo";
        write_file(day + "/.hidden/1_20240101_080000.zqvideo", "h");
        write_file(day + "/080500/.h.zqvideo", "h");

        QStringList entries;
        for (const QString& rel : counted)
            entries << QStringLiteral("%1|%2|%3").arg(rel, times.value(rel).toString("yyyyMMddHHmmss"))
                           .arg(QFileInfo(day + "/" + rel).size());
        entries.sort();
        const QString documented = QString::fromLatin1(
            QCryptographicHash::hash(entries.join(';').toUtf8(), QCryptographicHash::Sha256).toHex());

        const DayIndex::Snapshot snapshot = DayIndex::scan(day, true);
        QVERIFY(snapshot.exists);
        QCOMPARE(snapshot.fingerprint, documented);
        QCOMPARE(snapshot.fingerprint, QStringLiteral("6e7ad3792d66d1e2cc7a5b789d1b62b5828ba9f7f73d5f3bf36a91b04d3e8019"));
        QCOMPARE(snapshot.fileCount, counted.size());
        QCOMPARE(snapshot.folders, 62);
        QCOMPARE(snapshot.files.video, video);
        QCOMPARE(snapshot.files.alarm, alarm);
        QCOMPARE(snapshot.files.preview, preview);
        QCOMPARE(snapshot.files.tag, QStringList{day + "/080100.zqtag"});
        QCOMPARE(snapshot.files.nfo.size(), 180);
        QCOMPARE(snapshot.files.dateDirectories, QStringList{day + "/2024-01-02"});
        QCOMPARE(DayIndex::fingerprint(day), documented);
    }

    // Every change to a counted file changes the fingerprint; the index files do not.
    void fingerprintChanges_data()
    {
        QTest::addColumn<QString>("change");
        QTest::addColumn<bool>("changes");
        QTest::newRow("add") << "add" << true;
        QTest::newRow("remove") << "remove" << true;
        QTest::newRow("resize") << "resize" << true;
        QTest::newRow("touch") << "touch" << true;
        QTest::newRow("rename") << "rename" << true;
        QTest::newRow("write-day-index") << "index" << false;
        QTest::newRow("write-camera-list") << "nfo" << false;
        QTest::newRow("add-hidden") << "hidden" << false;
    }
    void fingerprintChanges()
    {
        QFETCH(QString, change);
        QFETCH(bool, changes);
        const QString day = fresh();
        const QString f = day + "/090000/3_20240101_090000.zqvideo";
        write_file(f, "abc");
        set_mtime(f, QDateTime(QDate(2024, 1, 1), QTime(9, 0)));
        const QString before = DayIndex::fingerprint(day);
        if (change == "add")
            write_file(day + "/090000/3_20240101_090000.zqseek", "x");
        else if (change == "remove")
            QFile::remove(f);
        else if (change == "resize")
            write_file(f, "abcd"), set_mtime(f, QDateTime(QDate(2024, 1, 1), QTime(9, 0)));
        else if (change == "touch")
            set_mtime(f, QDateTime(QDate(2024, 1, 1), QTime(9, 0, 1)));
        else if (change == "rename")
            QFile::rename(f, day + "/090000/4_20240101_090000.zqvideo");
        else if (change == "index")
            write_file(day + "/zqvideoindex.json", "{}");
        else if (change == "nfo")
            write_file(day + "/index.zqnfo", "x");
        else if (change == "hidden")
            write_file(day + "/.x", "x");
        QCOMPARE(DayIndex::fingerprint(day) != before, changes);
    }

    // A generated day: lists complete and sorted, companions required, previews apart from alarm
    // pictures, the root's own files left out, the camera list rebuilt, the index current.
    void buildGeneratedDay()
    {
        const ZQFixture::Result storage = make_storage(fresh());
        QVERIFY2(storage.ok, qPrintable(storage.error));
        const QString day = storage.day_folders.first();
        // Noise that must stay out of the lists.
        write_file(storage.root_path + "/9_999_20240305_090000.jpg", "root picture");
        write_file(day + "/090000/7_20240305_090000.zqvideo", "no seek index");
        write_file(day + "/090000/8_20240305_090000.zqvideo", "empty seek index");
        write_file(day + "/090000/8_20240305_090000.zqseek", "");
        write_file(day + "/.trash/1_20240305_085900.zqvideo", "hidden");
        QFile::remove(day + "/index.zqnfo");

        LogCapture log;
        const BuildEnd end = build(day + "/");
        QCOMPARE(end.outcome, ZQIndexManager::Built);
        QCOMPARE(end.ends, 1);
        QCOMPARE(end.errors, 0);
        // The day and its three start-time folders; the hidden one is not looked into.
        QVERIFY(log.has("[INFO] ZQIndex Manager :: videolist with multiple directory :: dir list count       : 4"));

        const QJsonObject index = read_index(day);
        QCOMPARE(index.keys(), (QStringList{"date_directory", "last_modified", "root_directory", "zqalarm_files",
                                            "zqaudio_files", "zqpreview_files", "zqtag_files", "zqvideo_files"}));
        QCOMPARE(index.value("root_directory").toString(), day + "/");
        QCOMPARE(index.value("last_modified").toString(), DayIndex::fingerprint(day));
        QCOMPARE(names(strings(index.value("zqvideo_files"))),
                 QString("1_20240305_085900.zqvideo,2_20240305_085900.zqvideo,1_20240305_090000.zqvideo,"
                         "2_20240305_090000.zqvideo,1_20240305_090100.zqvideo,2_20240305_090100.zqvideo"));
        for (const QString& p : strings(index.value("zqvideo_files")))
            QVERIFY(p.startsWith(day + "/"));
        QCOMPARE(names(strings(index.value("zqalarm_files"))),
                 QString("1_1000_20240305_085900-thumb.jpg,1_1000_20240305_085900.jpg,"
                         "2_1001_20240305_085900-thumb.jpg,2_1001_20240305_085900.jpg,"
                         "1_1002_20240305_090000-thumb.jpg,1_1002_20240305_090000.jpg,"
                         "2_1003_20240305_090000-thumb.jpg,2_1003_20240305_090000.jpg"));
        QCOMPARE(strings(index.value("zqpreview_files")).size(), 8);
        for (const QString& p : strings(index.value("zqpreview_files")))
            QVERIFY(p.endsWith("_preview.jpg") || p.endsWith("_videopreview.jpg"));
        QCOMPARE(strings(index.value("zqtag_files")).size(), 2);
        QVERIFY(strings(index.value("zqaudio_files")).isEmpty());
        QVERIFY(strings(index.value("date_directory")).isEmpty());

        // The camera list came back from the recordings' own files, in camera-id order.
        QCOMPARE(ZQFile::check_and_parse_nfo_file(QFileInfo(day + "/index.zqnfo"), {}),
                 (QHash<int, QString>{{1, "Entrée"}, {2, "Quai <b>2</b>"}}));
        QCOMPARE(ZQFile::hash_cameras_list(day, {}), (QHash<int, QString>{{1, "Entrée"}, {2, "Quai <b>2</b>"}}));

        // Current until a recording changes; the lists read back as written.
        ZQIndexManager::DayLoad load = ZQIndexManager::load_day(day);
        QVERIFY(load.current);
        QCOMPARE(load.files.video, strings(index.value("zqvideo_files")));
        QCOMPARE(load.files.alarm, strings(index.value("zqalarm_files")));
        ZQIndexManager reader;
        QCOMPARE(reader.get_last_modified(QFileInfo(day + "/")), reader.generate_snapshot(day + "/"));

        // Rebuilding an unchanged day gives the same fingerprint and leaves the camera list alone.
        const QDateTime nfoTime = QFileInfo(day + "/index.zqnfo").lastModified();
        QTest::qWait(1100);
        QCOMPARE(build(day).outcome, ZQIndexManager::Built);
        QCOMPARE(read_index(day).value("last_modified"), index.value("last_modified"));
        QCOMPARE(QFileInfo(day + "/index.zqnfo").lastModified(), nfoTime);

        write_file(day + "/090100/2_20240305_090100.zqvideo", "changed");
        load = ZQIndexManager::load_day(day);
        QVERIFY(!load.current);
        QVERIFY(load.files.video.isEmpty());

        // Files deleted after the build drop out of the stored lists.
        QCOMPARE(build(day).outcome, ZQIndexManager::Built);
        QFile::remove(day + "/085900/1_20240305_085900.zqvideo");
        QFileInfoList video, alarm, tag, audio, preview;
        reader.set_value_from_indexfile(day + "/", video, alarm, tag, audio, preview);
        QCOMPARE(video.size(), 5);
        QCOMPARE(alarm.size(), 8);
    }

    // Per-recording camera files all in the scrambled line form still give the camera list.
    void scrambledCameraFiles()
    {
        const ZQFixture::Result storage = make_storage(fresh(), {QDate(2024, 3, 5)}, {1, 2});
        QVERIFY2(storage.ok, qPrintable(storage.error));
        const QString day = storage.day_folders.first();
        QFile::remove(day + "/index.zqnfo");
        QCOMPARE(build(day).outcome, ZQIndexManager::Built);
        QCOMPARE(ZQFile::check_and_parse_nfo_file(QFileInfo(day + "/index.zqnfo"), {}),
                 (QHash<int, QString>{{1, "Entrée"}, {2, "Quai <b>2</b>"}}));
    }

    // Paths that are no day of a storage folder end the build at once, with exactly one end.
    void notADay_data()
    {
        QTest::addColumn<QString>("relative");
        QTest::addColumn<int>("outcome");
        QTest::addColumn<QString>("message");
        QTest::newRow("outside-root") << "plain/2024-01-01" << int(ZQIndexManager::Failed)
                                      << "Le dossier %1/ n'est pas un dossier zqcore.";
        QTest::newRow("root-itself") << "zqcore_abcd-0000-0000-0000" << int(ZQIndexManager::NotADay) << QString();
        QTest::newRow("root-capitals") << "ZQCORE_ABCD-0000-0000-00FF" << int(ZQIndexManager::NotADay) << QString();
        QTest::newRow("day-without-recordings") << "zqcore_abcd-0000-0000-0001/2024-01-01" << int(ZQIndexManager::Failed)
                                                << "Aucun enregistrement trouvé dans le dossier %1/";
    }
    void notADay()
    {
        QFETCH(QString, relative);
        QFETCH(int, outcome);
        QFETCH(QString, message);
        const QString path = fresh() + "/" + relative;
        QDir().mkpath(path);
        write_file(path + "/1_x.zqnfo", "");
        const BuildEnd end = build(path);
        QCOMPARE(int(end.outcome), outcome);
        QCOMPARE(end.ends, 1);
        QCOMPARE(end.errors, outcome == ZQIndexManager::Failed ? 1 : 0);
        QCOMPARE(end.message, message.isEmpty() ? QString() : message.arg(path));
        QVERIFY(!QFile::exists(path + "/zqvideoindex.json"));
    }

    // A folder standing where the index file goes (as on read-only storage): the failure is
    // reported, the lists are still handed back from memory and the day is not rebuilt again.
    void unwritableIndexFile()
    {
        const ZQFixture::Result storage = make_storage(fresh());
        QVERIFY2(storage.ok, qPrintable(storage.error));
        const QString day = storage.day_folders.first();
        QVERIFY(QDir().mkpath(day + "/zqvideoindex.json"));
        LogCapture log;
        QCOMPARE(build(day).outcome, ZQIndexManager::BuiltInMemory);
        QVERIFY(log.has("[ERROR] ZQIndexManager :: create zqindexfile :: write failed :: "));
        const ZQIndexManager::DayLoad load = ZQIndexManager::load_day(day);
        QVERIFY(load.current);
        QCOMPARE(load.files.video.size(), 6);
        ZQIndexManager reader;
        QCOMPARE(reader.get_last_modified(QFileInfo(day + "/")), reader.generate_snapshot(day + "/"));

        // Once the file can be written, the stored index takes over again.
        QVERIFY(QDir(day + "/zqvideoindex.json").removeRecursively());
        QCOMPARE(build(day).outcome, ZQIndexManager::Built);
        QVERIFY(QFileInfo(day + "/zqvideoindex.json").isFile());
        QVERIFY(ZQIndexManager::load_day(day).current);
    }

    // A storage folder moved elsewhere (or indexed on another machine) keeps its index: stored
    // paths are rebased onto the folder's current place.
    void movedStorageIsRebased()
    {
        const QString parent = fresh();
        const ZQFixture::Result storage = make_storage(parent);
        QVERIFY2(storage.ok, qPrintable(storage.error));
        QCOMPARE(build(storage.day_folders.first()).outcome, ZQIndexManager::Built);
        const QString moved = fresh() + "/elsewhere";
        QVERIFY(QDir().rename(parent, moved));
        const QString day = moved + "/zqcore_0a1b-2c3d-4e5f-6789/2024-03-05";
        const ZQIndexManager::DayLoad load = ZQIndexManager::load_day(day);
        QVERIFY(load.current);
        QCOMPARE(load.files.video.size(), 6);
        for (const QString& p : load.files.video)
            QVERIFY2(p.startsWith(day + "/") && QFileInfo(p).isFile(), qPrintable(p));
        QCOMPARE(load.files.tag.size(), 2);
    }

    // Tampered index files: what does not belong to the day or is of the wrong shape is dropped,
    // never followed, and a malformed file counts as no index. An index naming anything a scan of
    // the day would not list (hidden files, files beside the day, files of another kind, entries
    // that are no paths), or leaving out a file the scan lists, is not trusted even with a current
    // fingerprint: the day is rebuilt. @VIDEO@ and the like stand for the day's whole lists.
    void tamperedIndex_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<int>("videos");
        QTest::addColumn<bool>("hasFingerprint");
        QTest::addColumn<bool>("trusted");
        const QByteArray whole("\"zqvideo_files\":[@VIDEO@],\"zqalarm_files\":[@ALARM@],\"zqpreview_files\":[@PREVIEW@],"
                               "\"zqaudio_files\":[@AUDIO@]");
        QTest::newRow("clean") << QByteArray("{\"root_directory\":\"@DAY@/\",\"last_modified\":\"@FP@\",") + whole
                                      + ",\"zqtag_files\":[@TAG@,\"@DAY@/085900/gone.zqtag\"]}"
                               << 6 << true << true;
        QTest::newRow("a recording left out")
            << QByteArray("{\"last_modified\":\"@FP@\",\"zqvideo_files\":[\"@DAY@/085900/1_20240305_085900.zqvideo\"],"
                          "\"zqalarm_files\":[@ALARM@],\"zqpreview_files\":[@PREVIEW@],\"zqaudio_files\":[@AUDIO@],"
                          "\"zqtag_files\":[@TAG@]}")
            << 1 << true << false;
        QTest::newRow("the tags left out")
            << QByteArray("{\"last_modified\":\"@FP@\",") + whole + "}" << 6 << true << false;
        QTest::newRow("foreign-paths") << QByteArray("{\"root_directory\":\"@DAY@/\",\"last_modified\":\"@FP@\","
                                                     "\"zqvideo_files\":[\"/etc/passwd\",\"@DAY@/../../../../etc/passwd\","
                                                     "\"@DAY@/085900/1_20240305_085900.zqvideo\",\"relative.zqvideo\","
                                                     "\"@OTHER@/1_20240305_085900.zqvideo\"]}")
                                       << 1 << true << false;
        QTest::newRow("wrong-types") << QByteArray("{\"root_directory\":5,\"last_modified\":12,\"zqvideo_files\":\"x\","
                                                   "\"zqalarm_files\":[1,null,{}],\"zqtag_files\":{}}")
                                     << 0 << false << false;
        QTest::newRow("entries-of-wrong-type") << QByteArray("{\"last_modified\":\"@FP@\",\"zqvideo_files\":[7,"
                                                             "\"@DAY@/085900/1_20240305_085900.zqvideo\",[\"a\"]]}")
                                               << 1 << true << false;
        QTest::newRow("hidden-tag") << QByteArray("{\"last_modified\":\"@FP@\",\"zqvideo_files\":["
                                                  "\"@DAY@/085900/1_20240305_085900.zqvideo\"],"
                                                  "\"zqtag_files\":[\"@DAY@/085900/.forged.zqtag\"]}")
                                    << 1 << true << false;
        QTest::newRow("tag-beside-the-day") << QByteArray("{\"last_modified\":\"@FP@\",\"zqvideo_files\":["
                                                          "\"@DAY@/085900/1_20240305_085900.zqvideo\"],"
                                                          "\"zqtag_files\":[\"@DAY@/../forged.zqtag\"]}")
                                            << 1 << true << false;
        QTest::newRow("seek-index-as-recording") << QByteArray("{\"last_modified\":\"@FP@\",\"zqvideo_files\":["
                                                               "\"@DAY@/085900/1_20240305_085900.zqseek\"]}")
                                                 << 0 << true << false;
        QTest::newRow("fingerprint-not-hex") << QByteArray("{\"last_modified\":\"@FP@zz\",\"zqvideo_files\":[]}") << 0
                                             << false << false;
        QTest::newRow("not-an-object") << QByteArray("[\"@DAY@/085900/1_20240305_085900.zqvideo\"]") << 0 << false
                                       << false;
        QTest::newRow("garbage") << QByteArray("\x01\x02{{{") << 0 << false << false;
        QTest::newRow("huge") << QByteArray() << 0 << false << false;
        QTest::newRow("pipe") << QByteArray() << 0 << false << false;
    }
    void tamperedIndex()
    {
        QFETCH(QByteArray, json);
        QFETCH(int, videos);
        QFETCH(bool, hasFingerprint);
        QFETCH(bool, trusted);
        static ZQFixture::Result storage;
        if (!storage.ok) {
            storage = make_storage(fresh());
            QVERIFY2(storage.ok, qPrintable(storage.error));
            // Files the day's fingerprint does not count: hidden, and beside the day.
            write_file(storage.day_folders.first() + "/085900/.forged.zqtag", "tag");
            write_file(storage.root_path + "/forged.zqtag", "tag");
        }
        const QString day = storage.day_folders.first();
        const QString other = fresh("/zqcore_0a1b-2c3d-4e5f-6789/2024-03-05/085900");
        write_file(other + "/1_20240305_085900.zqvideo", "x");
        const DayIndex::Snapshot scanned = DayIndex::scan(day, true);
        const QString fp = scanned.fingerprint;
        auto entries = [](const QStringList& paths) {
            QStringList quoted;
            for (const QString& p : paths)
                quoted << QLatin1Char('"') + p + QLatin1Char('"');
            return quoted.join(QLatin1Char(',')).toUtf8();
        };
        json.replace("@VIDEO@", entries(scanned.files.video)).replace("@ALARM@", entries(scanned.files.alarm))
            .replace("@TAG@", entries(scanned.files.tag)).replace("@AUDIO@", entries(scanned.files.audio))
            .replace("@PREVIEW@", entries(scanned.files.preview));
        json.replace("@DAY@", day.toUtf8()).replace("@FP@", fp.toUtf8()).replace("@OTHER@", other.toUtf8());
        QFile::remove(day + "/zqvideoindex.json");
        if (QTest::currentDataTag() == QByteArray("pipe")) {
            // Opening a pipe for reading would wait for a writer forever.
            QCOMPARE(mkfifo(QFile::encodeName(day + "/zqvideoindex.json").constData(), 0600), 0);
        } else if (json.isEmpty()) {
            QFile f(day + "/zqvideoindex.json");
            QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
            QVERIFY(f.resize(DayIndex::kMaxIndexFileSize + 1));
        } else {
            write_file(day + "/zqvideoindex.json", json);
        }
        LogCapture log;
        const DayIndex::Stored stored = DayIndex::read(day, true);
        QCOMPARE(stored.files.video.size(), videos);
        QCOMPARE(!stored.fingerprint.isNull(), hasFingerprint);
        QVERIFY(!stored.files.tag.contains(day + "/085900/gone.zqtag"));
        QVERIFY(!stored.files.tag.contains(day + "/085900/.forged.zqtag"));
        QCOMPARE(ZQIndexManager::load_day(day).current, hasFingerprint && trusted);
    }

    // Links named like the files a build writes: their targets (anywhere the user can write, or
    // not there yet) stay untouched, and a regular file takes the link's place.
    void linkedIndexFiles_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("dangling");
        QTest::newRow("day index") << "zqvideoindex.json" << false;
        QTest::newRow("day index, dangling") << "zqvideoindex.json" << true;
        QTest::newRow("camera list") << "index.zqnfo" << false;
        QTest::newRow("camera list, dangling") << "index.zqnfo" << true;
    }
    void linkedIndexFiles()
    {
        QFETCH(QString, name);
        QFETCH(bool, dangling);
        const ZQFixture::Result storage = make_storage(fresh());
        QVERIFY2(storage.ok, qPrintable(storage.error));
        const QString day = storage.day_folders.first();
        const QString outside = fresh() + "/victim.txt";
        if (!dangling)
            write_file(outside, "precious");
        QFile::remove(day + "/" + name);
        QVERIFY(QFile::link(outside, day + "/" + name));

        QCOMPARE(build(day).outcome, ZQIndexManager::Built);
        if (dangling) {
            QVERIFY(!QFileInfo::exists(outside));
        } else {
            QFile f(outside);
            QVERIFY(f.open(QIODevice::ReadOnly));
            QCOMPARE(f.readAll(), QByteArray("precious"));
        }
        const QFileInfo written(day + "/" + name);
        QVERIFY(!written.isSymLink());
        QVERIFY(written.isFile());
        QVERIFY(ZQIndexManager::load_day(day).current);
        QCOMPARE(ZQFile::check_and_parse_nfo_file(QFileInfo(day + "/index.zqnfo"), {}).size(), 2);
    }

    // Metadata is never read through a link: a linked camera list or day index counts as none.
    void linkedMetadataNotRead()
    {
        const ZQFixture::Result storage = make_storage(fresh());
        QVERIFY2(storage.ok, qPrintable(storage.error));
        const QString day = storage.day_folders.first();
        QCOMPARE(build(day).outcome, ZQIndexManager::Built);
        const QString elsewhere = fresh();
        QVERIFY(QFile::rename(day + "/index.zqnfo", elsewhere + "/index.zqnfo"));
        QVERIFY(QFile::rename(day + "/zqvideoindex.json", elsewhere + "/zqvideoindex.json"));
        QVERIFY(QFile::link(elsewhere + "/index.zqnfo", day + "/index.zqnfo"));
        QVERIFY(QFile::link(elsewhere + "/zqvideoindex.json", day + "/zqvideoindex.json"));
        LogCapture log;
        QVERIFY(ZQFile::check_and_parse_nfo_file(QFileInfo(day + "/index.zqnfo"), {}).isEmpty());
        QVERIFY(!DayIndex::read(day, true).found);
        QVERIFY(!ZQIndexManager::load_day(day).current);
    }

    // A camera named only in the day's "index.zqnfo" (the server writes it) survives a rebuild,
    // merged with the cameras of the recordings' own files.
    void serverCameraListKept()
    {
        const ZQFixture::Result storage = make_storage(fresh());
        QVERIFY2(storage.ok, qPrintable(storage.error));
        const QString day = storage.day_folders.first();
        QVERIFY(ZQFile::create_zqnfo_index_file(QFileInfo(day + "/index.zqnfo"),
                                                {{1, "Entrée"}, {7, "Parking"}}));
        QCOMPARE(build(day).outcome, ZQIndexManager::Built);
        QCOMPARE(ZQFile::check_and_parse_nfo_file(QFileInfo(day + "/index.zqnfo"), {}),
                 (QHash<int, QString>{{1, "Entrée"}, {2, "Quai <b>2</b>"}, {7, "Parking"}}));
    }

    // A day index written on another machine: drive-letter and backslash roots are rebased onto
    // the folder's place like a moved Unix root; what leaves the day stays out and has the day
    // rebuilt, a NUL inside a path is refused, and a file listed many times is kept once. The
    // index lists `entry` (`copies` times) and the day's other files in the same form.
    void foreignIndex_data()
    {
        QTest::addColumn<QString>("root");
        QTest::addColumn<QString>("entry");
        QTest::addColumn<int>("copies");
        QTest::addColumn<int>("videos"); // 1: trusted, 0: rebuilt
        const QString file = "085900/1_20240305_085900.zqvideo";
        QTest::newRow("drive letter") << "E:/zqcore_0a1b-2c3d-4e5f-6789/2024-03-05/"
                                      << "E:/zqcore_0a1b-2c3d-4e5f-6789/2024-03-05/" + file << 1 << 1;
        QTest::newRow("backslashes") << "E:\\zqcore_0a1b-2c3d-4e5f-6789\\2024-03-05\\"
                                     << "E:\\zqcore_0a1b-2c3d-4e5f-6789\\2024-03-05\\085900\\1_20240305_085900.zqvideo"
                                     << 1 << 1;
        QTest::newRow("other root name") << "D:/zqcore_ffff-ffff-ffff-ffff/2024-03-05/"
                                         << "D:/zqcore_ffff-ffff-ffff-ffff/2024-03-05/" + file << 1 << 1;
        QTest::newRow("drive letter climbing out") << "E:/zqcore_0a1b-2c3d-4e5f-6789/2024-03-05/"
                                                   << "E:/zqcore_0a1b-2c3d-4e5f-6789/2024-03-05/../../x/" + file << 1
                                                   << 0;
        QTest::newRow("drive letter, no root") << "E:/somewhere/2024-03-05/" << "E:/somewhere/2024-03-05/" + file << 1
                                               << 0;
        QTest::newRow("other day") << "E:/zqcore_0a1b-2c3d-4e5f-6789/2024-03-05/"
                                   << "E:/zqcore_0a1b-2c3d-4e5f-6789/2024-03-06/" + file << 1 << 0;
        QTest::newRow("nul inside") << "@DAY@/" << "@DAY@/" + file + QChar(0) + "x" << 1 << 0;
        QTest::newRow("listed twice") << "@DAY@/" << "@DAY@/" + file << 2 << 1;
        QTest::newRow("listed more times than the day has files") << "@DAY@/" << "@DAY@/" + file << 50000 << 0;
    }
    void foreignIndex()
    {
        QFETCH(QString, root);
        QFETCH(QString, entry);
        QFETCH(int, copies);
        QFETCH(int, videos);
        static ZQFixture::Result storage;
        if (!storage.ok) {
            storage = make_storage(fresh());
            QVERIFY2(storage.ok, qPrintable(storage.error));
        }
        const QString day = storage.day_folders.first();
        root.replace("@DAY@", day);
        entry.replace("@DAY@", day);
        const DayIndex::Snapshot scanned = DayIndex::scan(day, true);
        const QString first = day + "/085900/1_20240305_085900.zqvideo";
        // The day's files in the entry's form: its prefix, and its separator.
        const QChar separator = entry.contains(QLatin1Char('\\')) ? QLatin1Char('\\') : QLatin1Char('/');
        const QString tail = QString(first.mid(day.size() + 1)).replace(QLatin1Char('/'), separator);
        auto form = [&](const QStringList& paths) {
            QJsonArray list;
            for (const QString& p : paths) {
                if (p == first) {
                    for (int i = 0; i < copies; ++i)
                        list.append(entry);
                } else if (entry.endsWith(tail)) {
                    list.append(entry.chopped(tail.size()) + QString(p.mid(day.size() + 1)).replace(QLatin1Char('/'), separator));
                }
            }
            return list;
        };
        QJsonObject index;
        index.insert("root_directory", root);
        index.insert("last_modified", scanned.fingerprint);
        index.insert("zqvideo_files", form(scanned.files.video));
        index.insert("zqalarm_files", form(scanned.files.alarm));
        index.insert("zqtag_files", form(scanned.files.tag));
        index.insert("zqaudio_files", form(scanned.files.audio));
        index.insert("zqpreview_files", form(scanned.files.preview));
        QFile::remove(day + "/zqvideoindex.json");
        write_file(day + "/zqvideoindex.json", QJsonDocument(index).toJson());
        const ZQIndexManager::DayLoad load = ZQIndexManager::load_day(day);
        // An entry leaving the day is none of ours: the index is rebuilt, not trusted.
        QCOMPARE(load.current, videos > 0);
        QCOMPARE(load.files.video.size(), videos > 0 ? scanned.files.video.size() : 0);
        if (videos)
            QCOMPARE(load.files.video.first(), first);
    }

    // A file whose name is not UTF-8 is left out of the lists once, with a log line, instead of
    // being listed and then dropped as missing at every load.
    void nonUtf8Names()
    {
        const ZQFixture::Result storage = make_storage(fresh());
        QVERIFY2(storage.ok, qPrintable(storage.error));
        const QString day = storage.day_folders.first();
        const QByteArray bad = QFile::encodeName(day) + "/085900/1_1_20240305_085900\xff.jpg";
        {
            const int fd = ::open(bad.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            QVERIFY(fd >= 0);
            ::close(fd);
        }
        LogCapture log;
        QCOMPARE(build(day).outcome, ZQIndexManager::Built);
        QVERIFY(log.has("[WARN] ZQIndex Manager :: scan :: file name not UTF-8 skipped :: "));
        log.clear();
        const ZQIndexManager::DayLoad load = ZQIndexManager::load_day(day);
        QVERIFY(load.current);
        QCOMPARE(load.files.alarm.size(), 8);
        QVERIFY(!log.has("entries dropped"));
    }

    // A list longer than the files of the day names files the day does not hold: not trusted.
    void listLongerThanTheDay()
    {
        const ZQFixture::Result storage = make_storage(fresh());
        QVERIFY2(storage.ok, qPrintable(storage.error));
        const QString day = storage.day_folders.first();
        QJsonArray list;
        for (int i = 100; i < 20100; ++i)
            list.append(day + "/085900/" + QString::number(i) + "_20240305_085900.zqvideo");
        list.append(day + "/085900/1_20240305_085900.zqvideo");
        QJsonObject index;
        index.insert("last_modified", DayIndex::fingerprint(day));
        index.insert("zqvideo_files", list);
        write_file(day + "/zqvideoindex.json", QJsonDocument(index).toJson());
        LogCapture log;
        const ZQIndexManager::DayLoad load = ZQIndexManager::load_day(day);
        QVERIFY(!load.current);
        QVERIFY(log.has("[WARN] ZQIndexManager :: stored index does not list the files of the day, not trusted :: "));
        QVERIFY(load.files.video.isEmpty());
    }

    // One controller run over a root folder: one manager per day, at most max_parallel at once,
    // failing days counted, exactly one allFinished().
    void controllerRun()
    {
        const ZQFixture::Result storage
            = make_storage(fresh(), {QDate(2024, 3, 5), QDate(2024, 3, 6), QDate(2024, 3, 7)});
        QVERIFY2(storage.ok, qPrintable(storage.error));
        QDir().mkpath(storage.root_path + "/2024-02-30");      // no such date
        QDir().mkpath(storage.root_path + "/not-a-day");
        QDir().mkpath(storage.root_path + "/2024-03-08");      // no recordings
        write_file(storage.root_path + "/2024-03-09", "a file named as a day");

        ZQIndexController controller;
        controller.set_max_parallel(2);
        QSignalSpy all(&controller, &ZQIndexController::allFinished);
        QSignalSpy errors(&controller, &ZQIndexController::errorOccurred);
        // Sampled while the run goes on: more builds at once than allowed would show here.
        int mostAtOnce = 0;
        QTimer sampler;
        connect(&sampler, &QTimer::timeout, [&mostAtOnce] { mostAtOnce = std::max(mostAtOnce, ZQIndexManager::running_builds()); });
        sampler.start(0);
        controller.generate_index(storage.root_path + "/");
        QVERIFY(controller.is_busy());
        QCOMPARE(controller.days().size(), 4);

        // A call while busy is refused, and still ends: an error, then its own allFinished().
        LogCapture log;
        controller.generate_index(storage.root_path);
        QVERIFY(log.has("[WARNING] ZQIndexController :: Une indexation est déjà en cours. Ignoré."));
        QCOMPARE(all.size(), 1);
        QCOMPARE(errors.size(), 1);
        QVERIFY(controller.is_busy());

        QVERIFY(all.wait(60000));
        QTest::qWait(50);
        sampler.stop();
        QVERIFY2(mostAtOnce <= 2, qPrintable(QString::number(mostAtOnce)));
        QCOMPARE(all.size(), 2);
        QCOMPARE(controller.started_count(), 4);
        QCOMPARE(controller.finished_count(), 3);
        QCOMPARE(controller.failed_count(), 1);
        QCOMPARE(errors.size(), 2);
        QCOMPARE(errors.last().first().toString(),
                 "Aucun enregistrement trouvé dans le dossier " + storage.root_path + "/2024-03-08/");
        QVERIFY(!controller.is_busy());
        for (const QString& day : storage.day_folders)
            QVERIFY(ZQIndexManager::load_day(day).current);

        // One day, then a run without days, then a missing path.
        controller.generate_index(storage.day_folders.at(1));
        QCOMPARE(controller.days(), QStringList{storage.day_folders.at(1)});
        QVERIFY(all.wait(60000));
        controller.generate_index(storage.root_path + "/2024-03-09");
        QCOMPARE(all.size(), 4);
        // A missing path: an error, then exactly one allFinished().
        controller.generate_index(storage.root_path + "/missing");
        QCOMPARE(all.size(), 5);
        QCOMPARE(errors.size(), 3);
        QVERIFY(!controller.is_busy());
        QVERIFY(log.has("[ERROR] ZQIndexController :: Le chemin n'existe pas : " + storage.root_path + "/missing"));
    }

    // Two rebuilds of one day at once: the second waits for the first and finds the index current.
    void oneRebuildPerDay()
    {
        const ZQFixture::Result storage = make_storage(fresh());
        QVERIFY2(storage.ok, qPrintable(storage.error));
        ZQIndexController a, b;
        QSignalSpy doneA(&a, &ZQIndexController::allFinished);
        QSignalSpy doneB(&b, &ZQIndexController::allFinished);
        a.generate_index(storage.day_folders.first());
        b.generate_index(storage.day_folders.first());
        QVERIFY(doneA.size() == 1 || doneA.wait(60000));
        QVERIFY(doneB.size() == 1 || doneB.wait(60000));
        QCOMPARE(a.finished_count() + b.finished_count(), 2);
        QVERIFY(ZQIndexManager::load_day(storage.day_folders.first()).current);
    }

    // A controller dropped while its builds run: the builds stop and the controller waits for
    // their threads, without an event loop to serve queued calls (as at exit).
    void controllerDeletedWhileRunning()
    {
        const ZQFixture::Result storage = make_storage(fresh(), {QDate(2024, 3, 5), QDate(2024, 3, 6)});
        QVERIFY2(storage.ok, qPrintable(storage.error));
        auto* controller = new ZQIndexController;
        controller->generate_index(storage.root_path);
        delete controller;
        QCOMPARE(ZQIndexManager::running_builds(), 0);
        QVERIFY(ZQIndexManager::stop_all_and_wait(10000));
    }
};

QTEST_GUILESS_MAIN(TestDayIndex)
#include "test_day_index.moc"
