#include "export/raw_export.h"
#include "tools/zqfixture/lib/fixture_metadata.h"
#include "tools/zqfixture/lib/fixture_writer.h"

#include <QCryptographicHash>
#include <QDirIterator>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>
#include <fcntl.h>
#include <sys/stat.h>

namespace {

QByteArray sha256(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return QByteArray();
    QCryptographicHash h(QCryptographicHash::Sha256);
    h.addData(&f);
    return h.result().toHex();
}

ino_t inode(const QString& path)
{
    struct stat s{};
    return lstat(QFile::encodeName(path).constData(), &s) == 0 ? s.st_ino : 0;
}

struct RawRun
{
    QList<int> progress;
    int ending = 0;
    QList<int> errors;
    QStringList failed;
};

RawRun run_raw(const QString& exportFile, const QList<QFileInfo>& files)
{
    RawExport raw;
    raw.set_target(QFileInfo(exportFile));
    raw.set_files(files);
    QSignalSpy value(&raw, &RawExport::valueChanged);
    QSignalSpy end(&raw, &RawExport::endingsignal);
    QSignalSpy err(&raw, &RawExport::error);
    QSignalSpy failed(&raw, &RawExport::failed_file);
    raw.start();
    raw.wait();
    RawRun r;
    for (const auto& a : value)
        r.progress << a.first().toInt();
    r.ending = int(end.count());
    for (const auto& a : err)
        r.errors << a.first().toInt();
    for (const auto& a : failed)
        r.failed << a.first().toString();
    return r;
}

} // namespace

class TestRawExport : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void layout_progress_and_bytes();
    void kept_and_never_replaced_targets();
    void no_link_below_the_export_folder_data();
    void no_link_below_the_export_folder();
    void target_that_is_its_source();
    void missing_seek_index_is_minus_14();
    void target_path_data();
    void target_path();

private:
    QTemporaryDir m_dir;
    ZQFixture::StorageResult m_storage;
    QList<QFileInfo> m_day1; // camera 1, day 1: three recordings
};

void TestRawExport::initTestCase()
{
    ZQFixture::Options o;
    o.output_parent = m_dir.filePath("store");
    o.dates = {QDate(2024, 1, 1), QDate(2024, 1, 2)};
    o.cameras = {1, 2};
    o.fps = 10;
    o.gop = 10;
    o.recordings_per_camera = 3;
    o.seconds_per_recording = 2;
    ZQFixture::MetadataOptions m;
    m.tags_per_camera = 0;
    m.alarms = false;
    m.previews = false;
    m.hash_list = false;
    m_storage = ZQFixture::write_storage(o, m);
    QVERIFY2(m_storage.ok, qPrintable(m_storage.error));
    for (const auto& f : m_storage.storage.files)
        if (f.camera == 1 && f.date == QDate(2024, 1, 1))
            m_day1 << QFileInfo(f.data_path);
    QCOMPARE(m_day1.size(), 3);
}

// Each recording and its seek index land under the export folder with their
// path from the root folder on, byte for byte; only the exported day's
// camera-information files come along.
void TestRawExport::layout_progress_and_bytes()
{
    QTemporaryDir out;
    const RawRun r = run_raw(out.filePath("CAM_2024-01-01_080000_RAW.zqcore"), m_day1);
    QCOMPARE(r.errors, QList<int>());
    QCOMPARE(r.ending, 1);
    QCOMPARE(r.progress, QList<int>({16, 33, 50, 66, 83, 100}));
    const QString root = m_storage.storage.root_path;
    const QString rootName = QFileInfo(root).fileName();
    for (const QFileInfo& f : m_day1) {
        for (const QString& src : {f.absoluteFilePath(), f.absoluteFilePath().replace(".zqvideo", ".zqseek")}) {
            const QString rel = src.mid(root.size() - rootName.size());
            const QString copy = out.filePath(rel);
            QVERIFY2(QFileInfo::exists(copy), qPrintable(copy));
            QCOMPARE(sha256(copy), sha256(src));
        }
    }
    QStringList nfo;
    QDirIterator it(out.path(), {"*.zqnfo"}, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext())
        nfo << it.next();
    QVERIFY(!nfo.isEmpty());
    for (const QString& n : nfo)
        QVERIFY2(n.contains("/2024-01-01/"), qPrintable(n));
    // Nothing else: no other camera's recordings, no temporary file left.
    QDirIterator all(out.path(), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    int files = 0;
    while (all.hasNext()) {
        const QString p = all.next();
        QVERIFY2(!p.endsWith(".part"), qPrintable(p));
        QVERIFY2(QFileInfo(p).fileName().startsWith("1_") || p.endsWith(".zqnfo"), qPrintable(p));
        ++files;
    }
    QCOMPARE(files, 6 + int(nfo.size()));
}

// The same bytes: kept as they are. Other bytes (an earlier export, or a file
// that is no copy of this recording): never replaced, and the copy fails
// naming it, even when size and time match the source's.
void TestRawExport::kept_and_never_replaced_targets()
{
    QTemporaryDir out;
    const QString exportFile = out.filePath("x_RAW.zqcore");
    QCOMPARE(run_raw(exportFile, m_day1.mid(0, 1)).ending, 1);
    const QString copy = RawExport::target_path(out.path(), m_day1.first().absoluteFilePath());
    const ino_t before = inode(copy);
    QCOMPARE(run_raw(exportFile, m_day1.mid(0, 1)).ending, 1);
    QCOMPARE(inode(copy), before);

    const QByteArray source = sha256(m_day1.first().absoluteFilePath());
    struct stat ss{};
    QCOMPARE(stat(QFile::encodeName(m_day1.first().absoluteFilePath()).constData(), &ss), 0);
    const QByteArray other(int(ss.st_size), 'x');
    for (bool sameTime : {false, true}) {
        {
            QFile f(copy);
            QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
            QCOMPARE(f.write(sameTime ? other : QByteArray("an earlier export")), sameTime ? other.size() : 17);
        }
        if (sameTime) {
            const timespec times[2] = {ss.st_atim, ss.st_mtim};
            QCOMPARE(utimensat(AT_FDCWD, QFile::encodeName(copy).constData(), times, 0), 0);
        }
        const QByteArray kept = sha256(copy);
        const RawRun r = run_raw(exportFile, m_day1.mid(0, 1));
        QCOMPARE(r.ending, 0);
        QCOMPARE(r.errors, QList<int>{-9});
        QCOMPARE(r.failed, QStringList{copy});
        QCOMPARE(sha256(copy), kept);
        QVERIFY(sha256(copy) != source);
    }
}

void TestRawExport::no_link_below_the_export_folder_data()
{
    QTest::addColumn<int>("depth"); // 1: the root folder, 2: the day, 3: the start-time folder
    QTest::newRow("root folder") << 1;
    QTest::newRow("day folder") << 2;
    QTest::newRow("start-time folder") << 3;
}

// A folder of the target path that is a link to a folder elsewhere: nothing is
// written there, and the copy fails naming its file.
void TestRawExport::no_link_below_the_export_folder()
{
    QFETCH(int, depth);
    QTemporaryDir out;
    QTemporaryDir elsewhere;
    const QString source = m_day1.first().absoluteFilePath();
    const QString copy = RawExport::target_path(out.path(), source);
    const QStringList parts = copy.mid(out.path().size() + 1).split('/');
    const QString real = out.filePath(parts.mid(0, depth - 1).join('/'));
    QVERIFY(QDir().mkpath(real));
    QVERIFY(QFile::link(elsewhere.path(), out.filePath(parts.mid(0, depth).join('/'))));
    // The link's target already holds the folders below it, ready to be written into.
    QVERIFY(QDir().mkpath(elsewhere.filePath(parts.mid(depth, parts.size() - depth - 1).join('/'))));

    const RawRun r = run_raw(out.filePath("x_RAW.zqcore"), m_day1.mid(0, 1));
    QCOMPARE(r.ending, 0);
    QCOMPARE(r.errors, QList<int>{-9});
    QCOMPARE(r.failed, QStringList{copy});
    QDirIterator it(elsewhere.path(), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    QVERIFY2(!it.hasNext(), qPrintable(it.hasNext() ? it.next() : QString()));
}

// Exporting into the folder that holds the storage root would copy files onto themselves.
void TestRawExport::target_that_is_its_source()
{
    const QString parent = QFileInfo(m_storage.storage.root_path).absolutePath();
    const QByteArray before = sha256(m_day1.first().absoluteFilePath());
    const RawRun r = run_raw(parent + "/x_RAW.zqcore", m_day1.mid(0, 1));
    QCOMPARE(r.errors, QList<int>{-9});
    QCOMPARE(r.ending, 0);
    QCOMPARE(sha256(m_day1.first().absoluteFilePath()), before);
}

void TestRawExport::missing_seek_index_is_minus_14()
{
    QTemporaryDir src;
    ZQFixture::Options o;
    o.output_parent = src.path();
    o.seconds_per_recording = 1;
    o.fps = 10;
    const ZQFixture::Result r = ZQFixture::write(o);
    QVERIFY(r.ok);
    QVERIFY(QFile::remove(r.files.first().seek_path));
    QTemporaryDir out;
    const RawRun run = run_raw(out.filePath("x_RAW.zqcore"), {QFileInfo(r.files.first().data_path)});
    QCOMPARE(run.errors, QList<int>{-14});
    QCOMPARE(run.ending, 0);
}

void TestRawExport::target_path_data()
{
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("target");
    QTest::newRow("worked example") << "/d/Archive/zqcore_1a2b-3c4d-5e6f-7a8b/2024-03-05/101500/12_20240305_101500.zqvideo"
                                    << "/e/Exports/zqcore_1a2b-3c4d-5e6f-7a8b/2024-03-05/101500/12_20240305_101500.zqvideo";
    QTest::newRow("upper-case root keeps its case") << "/d/ZQCORE_1A2B-3C4D-5E6F-7A8B/2024-03-05/a.zqvideo"
                                                   << "/e/Exports/ZQCORE_1A2B-3C4D-5E6F-7A8B/2024-03-05/a.zqvideo";
    QTest::newRow("no root folder") << "/d/Archive/2024-03-05/a.zqvideo" << "";
    QTest::newRow("look-alike name is no root") << "/d/zqcore_xyz/2024-03-05/a.zqvideo" << "";
}

void TestRawExport::target_path()
{
    QFETCH(QString, source);
    QFETCH(QString, target);
    QCOMPARE(RawExport::target_path("/e/Exports", source), target);
}

QTEST_MAIN(TestRawExport)
#include "test_raw_export.moc"
