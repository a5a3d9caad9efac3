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
    void layout_progress_and_bytes_data();
    void layout_progress_and_bytes();
    void camera_information_walk_follows_no_link();
    void export_into_a_folder_not_there_yet_data();
    void export_into_a_folder_not_there_yet();
    void export_folder_inside_the_storage_root();
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
    ZQFixture::StorageResult m_upper; // the same storage under an upper-case root folder name
    QList<QFileInfo> m_upperDay1;
};

namespace {

// The camera-information files a storage holds, by their path from the root folder on.
QStringList stored_camera_information(const ZQFixture::StorageResult& storage)
{
    const QString root = storage.storage.root_path;
    const int from = int(root.size() - QFileInfo(root).fileName().size());
    QStringList nfo;
    for (const QString& f : storage.metadata.files)
        if (f.endsWith(".zqnfo"))
            nfo << f.mid(from);
    nfo.sort();
    return nfo;
}

// The files below a folder, by their path from it on, hidden ones included.
QStringList files_below(const QString& folder)
{
    QStringList files;
    QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext())
        files << it.next().mid(folder.size() + 1);
    files.sort();
    return files;
}

} // namespace

void TestRawExport::initTestCase()
{
    ZQFixture::Options o;
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
    // Camera 1's recordings of the first day.
    auto write = [&](const QString& parent, ZQFixture::StorageResult& storage, QList<QFileInfo>& day1) {
        o.output_parent = m_dir.filePath(parent);
        storage = ZQFixture::write_storage(o, m);
        QVERIFY2(storage.ok, qPrintable(storage.error));
        for (const auto& f : storage.storage.files)
            if (f.camera == 1 && f.date == QDate(2024, 1, 1))
                day1 << QFileInfo(f.data_path);
        QCOMPARE(day1.size(), 3);
    };
    write("store", m_storage, m_day1);
    // Where folder names are case-sensitive, a root named in upper case is found only under its own name.
    o.root_id = "ZQCORE_0A1B-2C3D-4E5F-6789";
    write("upper", m_upper, m_upperDay1);
}

void TestRawExport::layout_progress_and_bytes_data()
{
    QTest::addColumn<bool>("upper");
    QTest::newRow("zqcore_ root folder") << false;
    QTest::newRow("ZQCORE_ root folder") << true;
}

// Each recording and its seek index land under the export folder with their
// path from the root folder on, byte for byte, and so does every
// camera-information file of the storage root, of every day and camera: the
// export names its cameras as the storage does. Nothing else comes along.
void TestRawExport::layout_progress_and_bytes()
{
    QFETCH(bool, upper);
    const ZQFixture::StorageResult& storage = upper ? m_upper : m_storage;
    const QList<QFileInfo>& day1 = upper ? m_upperDay1 : m_day1;
    QTemporaryDir out;
    const RawRun r = run_raw(out.filePath("CAM_2024-01-01_080000_RAW.zqcore"), day1);
    QCOMPARE(r.errors, QList<int>());
    QCOMPARE(r.ending, 1);
    QCOMPARE(r.progress, QList<int>({16, 33, 50, 66, 83, 100}));
    const QString root = storage.storage.root_path;
    const QString rootName = QFileInfo(root).fileName();
    QStringList expected = stored_camera_information(storage);
    // Both days, both cameras, each recording's own file and each day's list.
    QVERIFY(expected.filter("/2024-01-02/").size() >= 7);
    QVERIFY(expected.filter("/2_").size() >= 6);
    for (const QFileInfo& f : day1)
        for (const QString& src : {f.absoluteFilePath(), f.absoluteFilePath().replace(".zqvideo", ".zqseek")})
            expected << src.mid(root.size() - rootName.size());
    expected.sort();
    QCOMPARE(files_below(out.path()), expected);
    for (const QString& rel : std::as_const(expected))
        QCOMPARE(sha256(out.filePath(rel)), sha256(QFileInfo(root).absolutePath() + "/" + rel));
}

// The walk of the storage root lists files, not links: a linked file or a
// linked folder of camera-information files in the root is not copied.
void TestRawExport::camera_information_walk_follows_no_link()
{
    QTemporaryDir elsewhere;
    const QString outside = elsewhere.filePath("9_20240109_080000.zqnfo");
    {
        QFile f(outside);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("not of this storage");
    }
    const QString root = m_storage.storage.root_path;
    const QString linkedFile = root + "/2024-01-01/080000/9_20240101_080000.zqnfo";
    const QString linkedDay = root + "/2024-01-09";
    QVERIFY(QFile::link(outside, linkedFile));
    QVERIFY(QFile::link(elsewhere.path(), linkedDay));
    struct Unlink
    {
        QStringList paths;
        ~Unlink()
        {
            for (const QString& p : paths)
                QFile::remove(p);
        }
    } unlink{{linkedFile, linkedDay}};

    QTemporaryDir out;
    const RawRun r = run_raw(out.filePath("x_RAW.zqcore"), m_day1.mid(0, 1));
    QCOMPARE(r.errors, QList<int>());
    QCOMPARE(r.ending, 1);
    const QStringList files = files_below(out.path());
    QVERIFY(files.filter("9_2024").isEmpty());
    QVERIFY(files.filter("2024-01-09").isEmpty());
    QCOMPARE(files.filter(".zqnfo"), stored_camera_information(m_storage));
}

void TestRawExport::export_into_a_folder_not_there_yet_data()
{
    QTest::addColumn<QString>("folder");
    QTest::newRow("one new folder") << "newdir";
    QTest::newRow("a new folder in a new folder") << "newdir/sub";
}

// The export folder and its missing parents are made; the export is whole.
void TestRawExport::export_into_a_folder_not_there_yet()
{
    QFETCH(QString, folder);
    QTemporaryDir out;
    const RawRun r = run_raw(out.filePath(folder + "/X_RAW.zqcore"), m_day1.mid(0, 1));
    QCOMPARE(r.errors, QList<int>());
    QCOMPARE(r.failed, QStringList());
    QCOMPARE(r.ending, 1);
    const QString copy = RawExport::target_path(out.filePath(folder), m_day1.first().absoluteFilePath());
    QCOMPARE(sha256(copy), sha256(m_day1.first().absoluteFilePath()));
    QCOMPARE(files_below(out.filePath(folder)).filter(".zqnfo"), stored_camera_information(m_storage));
}

// An export folder inside the storage root holds copies: a second export there
// does not copy the first one's camera-information files into itself again.
void TestRawExport::export_folder_inside_the_storage_root()
{
    const QString exports = m_storage.storage.root_path + "/exports";
    struct Remove
    {
        QString path;
        ~Remove() { QDir(path).removeRecursively(); }
    } remove{exports};
    for (int run = 0; run < 2; ++run) {
        const RawRun r = run_raw(exports + "/x_RAW.zqcore", m_day1.mid(run, 1));
        QCOMPARE(r.errors, QList<int>());
        QCOMPARE(r.ending, 1);
    }
    QCOMPARE(files_below(exports).filter(".zqnfo"), stored_camera_information(m_storage));
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

    // A camera-information file of another day and camera, there with other bytes, is kept too.
    const QString nfo = out.filePath(stored_camera_information(m_storage).filter("/2024-01-02/").filter("/2_").first());
    QVERIFY(QFile::remove(copy));
    QVERIFY(QDir().mkpath(QFileInfo(nfo).path()));
    {
        QFile f(nfo);
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write("an earlier camera name");
    }
    const RawRun r = run_raw(exportFile, m_day1.mid(0, 1));
    QCOMPARE(r.ending, 0);
    QCOMPARE(r.errors, QList<int>{-9});
    QCOMPARE(r.failed, QStringList{nfo});
    QFile kept(nfo);
    QVERIFY(kept.open(QIODevice::ReadOnly));
    QCOMPARE(kept.readAll(), QByteArray("an earlier camera name"));
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
