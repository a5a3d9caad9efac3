#include "../recordings/log_capture.h"
#include "export/raw_export.h"
#include "tests/support/storage_tree.h"
#include "tools/zqfixture/lib/fixture_metadata.h"
#include "tools/zqfixture/lib/fixture_writer.h"

#include <QCryptographicHash>
#include <QDirIterator>
#include <QSignalSpy>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>
#include <algorithm>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The hash of a file named by its bytes (a name that is not UTF-8 has no QString form).
QByteArray sha256(const QByteArray& path)
{
    const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return QByteArray();
    QCryptographicHash h(QCryptographicHash::Sha256);
    char buffer[1 << 16];
    ssize_t n = 0;
    while ((n = ::read(fd, buffer, sizeof buffer)) > 0)
        h.addData(QByteArrayView(buffer, n));
    ::close(fd);
    return n < 0 ? QByteArray() : h.result().toHex();
}

QByteArray sha256(const QString& path)
{
    return sha256(QFile::encodeName(path));
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

// A raw copy of the files into the folder of exportFile; root: the storage root the caller opened,
// none when null.
RawRun run_raw(const QString& exportFile, const QList<QFileInfo>& files, const QString& root = QString())
{
    RawExport raw;
    raw.set_target(QFileInfo(exportFile));
    raw.set_files(files);
    if (!root.isNull())
        raw.set_storage_root(root);
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
    void camera_files_carried_once_data();
    void camera_files_carried_once();
    void camera_files_of_a_day_reached_through_a_link_data();
    void camera_files_of_a_day_reached_through_a_link();
    void export_of_a_copy_opened_as_storage_data();
    void export_of_a_copy_opened_as_storage();
    void unreadable_storage_folder_is_a_failure_data();
    void unreadable_storage_folder_is_a_failure();
    void kept_and_never_replaced_targets();
    void failed_copy_goes_on_with_the_next_file_data();
    void failed_copy_goes_on_with_the_next_file();
    void no_link_below_the_export_folder_data();
    void no_link_below_the_export_folder();
    void target_that_is_its_source();
    void missing_seek_index_is_minus_14_data();
    void missing_seek_index_is_minus_14();
    void target_path_data();
    void target_path();

private:
    // A storage of two days and two cameras, three recordings each, with every camera-information
    // file; day1 gets camera 1's recordings of the first day.
    static void write_storage(const QString& parent, const QString& rootId, ZQFixture::StorageResult& storage,
                              QList<QFileInfo>& day1);
    // Such a storage of its own, for a case that writes into it; false when it could not be made.
    struct OwnStorage
    {
        QTemporaryDir dir;
        ZQFixture::StorageResult storage;
        QList<QFileInfo> day1;
        QString root;
        QString rootName;
    };
    static bool write_own_storage(OwnStorage& s, const QString& rootId = "zqcore_0a1b-2c3d-4e5f-6789");

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

using zqtest::byte_files_below;
using zqtest::files_below;

} // namespace

void TestRawExport::write_storage(const QString& parent, const QString& rootId, ZQFixture::StorageResult& storage,
                                  QList<QFileInfo>& day1)
{
    storage = zqtest::write_camera_storage(parent, rootId);
    QVERIFY2(storage.ok, qPrintable(storage.error));
    day1.clear();
    for (const auto& f : storage.storage.files)
        if (f.camera == 1 && f.date == QDate(2024, 1, 1))
            day1 << QFileInfo(f.data_path);
    QCOMPARE(day1.size(), 3);
}

bool TestRawExport::write_own_storage(OwnStorage& s, const QString& rootId)
{
    write_storage(s.dir.filePath("store"), rootId, s.storage, s.day1);
    s.root = s.storage.storage.root_path;
    s.rootName = QFileInfo(s.root).fileName();
    return !QTest::currentTestFailed();
}

void TestRawExport::initTestCase()
{
    write_storage(m_dir.filePath("store"), "zqcore_0a1b-2c3d-4e5f-6789", m_storage, m_day1);
    // Where folder names are case-sensitive, a root named in upper case is found only under its own name.
    write_storage(m_dir.filePath("upper"), "ZQCORE_0A1B-2C3D-4E5F-6789", m_upper, m_upperDay1);
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

namespace {

// What differs between two sorted lists of files, for a failure message.
QString difference(const QStringList& got, const QStringList& expected)
{
    QStringList extra, missing;
    for (const QString& f : got)
        if (!expected.contains(f))
            extra << f;
    for (const QString& f : expected)
        if (!got.contains(f))
            missing << f;
    return QString("%1 files, %2 expected; extra: %3; missing: %4")
        .arg(got.size())
        .arg(expected.size())
        .arg(extra.mid(0, 5).join(", "), missing.mid(0, 5).join(", "));
}

QString difference(const QByteArrayList& got, const QByteArrayList& expected)
{
    auto shown = [](const QByteArrayList& l) {
        QStringList r;
        for (const QByteArray& b : l)
            r << QFile::decodeName(b);
        return r;
    };
    return difference(shown(got), shown(expected));
}

// A recording's data file and seek index by their path from the root folder on.
QStringList recording_paths(const QString& root, const QString& data)
{
    const QString rel = data.mid(root.size() - QFileInfo(root).fileName().size());
    return {rel, rel.chopped(int(strlen(".zqvideo"))) + ".zqseek"};
}

} // namespace

void TestRawExport::camera_files_carried_once_data()
{
    QTest::addColumn<bool>("upper");
    // Links "name=target" made in the root before the exports.
    QTest::addColumn<QStringList>("links");
    // Export folders used one after another, from the root as opened on: "" the root itself,
    // "/outside" a folder outside the root. Export k copies the (k mod 3)-th recording of the
    // first day.
    QTest::addColumn<QStringList>("folders");
    // How the operator reached the root, which names the recordings and the export folders:
    // "real" its own path, "own link" a link to it named as it (a drive linked into a home
    // folder), "parent link" the root inside a linked folder (a share mounted elsewhere).
    QTest::addColumn<QString>("opened");
    // The root handed to the copy by its caller: "none", or one of the names above.
    QTest::addColumn<QString>("given");
    // A root-named folder planted in the first day, holding a camera-information file and a
    // recording of camera 1 that starts before the others: first in every copied range.
    QTest::addColumn<bool>("planted");
    // A camera-information file whose name holds a Latin-1 byte.
    QTest::addColumn<bool>("latin1");
    const QStringList none;
    QTest::newRow("the storage root") << false << none << QStringList{""} << "real" << "none" << false << false;
    QTest::newRow("the storage root, twice") << false << none << QStringList{"", ""} << "real" << "none" << false
                                             << false;
    QTest::newRow("a day folder") << false << none << QStringList{"2024-01-01"} << "real" << "none" << false
                                  << false;
    QTest::newRow("another day's folder") << false << none << QStringList{"2024-01-02", "2024-01-02"} << "real"
                                          << "none" << false << false;
    QTest::newRow("a start-time folder") << false << none << QStringList{"2024-01-01/080000"} << "real" << "none"
                                         << false << false;
    QTest::newRow("a folder inside the root, twice") << false << none << QStringList{"exports", "exports"} << "real"
                                                     << "none" << false << false;
    QTest::newRow("e1, e2, e3, then e1 again") << false << none << QStringList{"e1", "e2", "e3", "e1"} << "real"
                                               << "none" << false << false;
    QTest::newRow("through a link to one of them")
        << false << QStringList{"l2=e2"} << QStringList{"e1", "e2", "e3", "l2", "e1", "l2"} << "real" << "none"
        << false << false;
    QTest::newRow("through a link loop") << false << QStringList{"loop=."}
                                         << QStringList{"loop/e1", "e2", "loop/loop/e1", "loop"} << "real" << "none"
                                         << false << false;
    QTest::newRow("a folder named like another storage's root")
        << false << none << QStringList{"zqcore_1111-2222-3333-4444", "e1"} << "real" << "none" << false << false;
    QTest::newRow("a folder named like the root in other letters")
        << false << none << QStringList{"ZQCORE_0A1B-2C3D-4E5F-6789", "e1"} << "real" << "none" << false << false;
    QTest::newRow("a folder outside the root") << false << none << QStringList{"/outside", "e1", "/outside"}
                                               << "real" << "none" << false << false;
    QTest::newRow("upper-case root: the root, then folders inside it")
        << true << none << QStringList{"", "e1", "e2", "e1"} << "real" << "none" << false << false;
    QTest::newRow("the root handed over by its caller")
        << false << none << QStringList{"", "e1", "/outside"} << "real" << "real" << false << false;

    // The root reached through a link: walked all the same, links below it still not followed.
    QTest::newRow("root opened through a link to it")
        << false << QStringList{"l2=e2"} << QStringList{"/outside", "e2", "", "l2"} << "own link" << "none" << false
        << false;
    QTest::newRow("root opened through a link to it, handed over")
        << false << none << QStringList{"/outside", "e1", ""} << "own link" << "own link" << false << false;
    QTest::newRow("root in a linked folder, handed over")
        << false << none << QStringList{"/outside", "e1", ""} << "parent link" << "parent link" << false << false;
    QTest::newRow("upper-case root through a link, handed over")
        << true << none << QStringList{"/outside", "e1"} << "own link" << "own link" << false << false;
    QTest::newRow("recordings through a link, root handed by its own path")
        << false << none << QStringList{"/outside", "e1"} << "own link" << "real" << false << false;
    QTest::newRow("recordings by their own path, root handed through a link")
        << false << none << QStringList{"/outside", "e1"} << "real" << "own link" << false << false;

    // A root-named folder in a day is part of the day, not a root: the opened root stays the copy's.
    QTest::newRow("planted root-named folder in a day first in the range, handed over")
        << false << none << QStringList{"/outside", "e1", "", "2024-01-01"} << "real" << "real" << true << false;
    QTest::newRow("planted root-named folder in a day first in the range, no root handed")
        << false << none << QStringList{"/outside", "e1", ""} << "real" << "none" << true << false;
    QTest::newRow("planted root-named folder, root opened through a link")
        << false << none << QStringList{"/outside", "e1"} << "own link" << "own link" << true << false;

    // Names read from the disk keep their bytes.
    QTest::newRow("Latin-1 byte in a camera file's name")
        << false << none << QStringList{"/outside", "e1", ""} << "real" << "none" << false << true;
    QTest::newRow("Latin-1 byte name, root opened through a link, handed over")
        << false << none << QStringList{"/outside", "e1"} << "own link" << "own link" << false << true;
}

// Wherever the export goes (the root itself, one of its day folders, folders inside it used one
// after another, directly or through links), however the root was reached (its own path, a link
// to it, a linked folder above it) and whether or not the caller hands it over, the copy keeps the
// storage's layout below the export's copy of the opened root and carries the storage's own
// camera-information files exactly once, each under its own bytes: not fewer (the storage's own
// folders are never left out), and not the copies that earlier exports made inside the root nor
// what a root-named folder planted in a day holds.
void TestRawExport::camera_files_carried_once()
{
    QFETCH(bool, upper);
    QFETCH(QStringList, links);
    QFETCH(QStringList, folders);
    QFETCH(QString, opened);
    QFETCH(QString, given);
    QFETCH(bool, planted);
    QFETCH(bool, latin1);
    QTemporaryDir outside;
    OwnStorage s;
    if (!write_own_storage(s, upper ? "ZQCORE_0A1B-2C3D-4E5F-6789" : "zqcore_0a1b-2c3d-4e5f-6789"))
        return;
    const QString& root = s.root;
    const QString& rootName = s.rootName;
    for (const QString& l : std::as_const(links))
        QVERIFY(QFile::link(l.section('=', 1), root + "/" + l.section('=', 0, 0)));
    const zqtest::LinkedRoot linked = zqtest::link_root(root, s.dir.path());
    QVERIFY(!linked.ownLink.isEmpty());
    const QHash<QString, QString> paths{{"real", root}, {"own link", linked.ownLink}, {"parent link", linked.parentLink}};
    const QString openedRoot = paths.value(opened);
    QVERIFY(QFileInfo(openedRoot).isDir());
    const QString givenRoot = given == "none" ? QString() : paths.value(given);

    const QByteArray root8 = QFile::encodeName(root);
    QByteArrayList own;
    for (const QString& f : stored_camera_information(s.storage))
        own << QFile::encodeName(f);
    QList<QFileInfo> day1;
    for (const QFileInfo& f : std::as_const(s.day1))
        day1 << QFileInfo(openedRoot + f.absoluteFilePath().mid(root.size()));

    QFileInfo plantedRecording;
    if (planted) {
        // A recording of camera 1 a second before the day's first, with its camera file, in a
        // folder of the day named as a storage root: listed with the day, first by start time.
        const QString nfo = s.storage.metadata.files.filter(QRegularExpression("/1_[0-9_]*\\.zqnfo$")).first();
        const QString path = zqtest::plant_root_named_folder(root, QDate(2024, 1, 1), 1, QTime(7, 59, 59), nfo,
                                                             outside.filePath("planted"));
        QVERIFY(!path.isEmpty());
        plantedRecording = QFileInfo(openedRoot + path.mid(root.size()));
        QVERIFY(plantedRecording.isFile());
    }
    if (latin1) {
        // A real camera file under a name that is not UTF-8: no QString names it.
        const QByteArray name = root8 + "/2024-01-02/080000/9_cam\xe9ra.zqnfo";
        QFile source(s.storage.metadata.files.filter(".zqnfo").first());
        QVERIFY(source.open(QIODevice::ReadOnly));
        const QByteArray bytes = source.readAll();
        const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        QVERIFY(fd >= 0);
        QCOMPARE(::write(fd, bytes.constData(), size_t(bytes.size())), ssize_t(bytes.size()));
        ::close(fd);
        own << QFile::encodeName(rootName) + "/2024-01-02/080000/9_cam\xe9ra.zqnfo";
    }

    LogCapture log;
    QHash<QString, QByteArrayList> recordings; // exported so far, by the export folder's real path
    for (int k = 0; k < folders.size(); ++k) {
        const QString name = folders.at(k);
        const QString folder = name == "/outside"   ? outside.path()
                               : name.isEmpty()     ? openedRoot
                                                    : openedRoot + "/" + name;
        const QString what = QString("export %1 into \"%2\"").arg(k + 1).arg(name);
        QList<QFileInfo> range;
        if (planted)
            range << plantedRecording;
        range << day1.at(k % day1.size());
        const RawRun r = run_raw(folder + "/x_RAW.zqcore", range, givenRoot);
        QVERIFY2(r.errors.isEmpty() && r.ending == 1,
                 qPrintable(what + ": " + r.failed.join(", ") + " " + QString::number(r.errors.value(0))));
        QByteArrayList& mine = recordings[QFileInfo(folder).canonicalFilePath()];
        for (const QFileInfo& f : std::as_const(range))
            for (const QString& p : recording_paths(openedRoot, f.absoluteFilePath()))
                if (!mine.contains(QFile::encodeName(p)))
                    mine << QFile::encodeName(p);
        QByteArrayList expected = own + mine;
        std::sort(expected.begin(), expected.end());
        const QByteArray copyRoot = QFile::encodeName(folder + "/" + rootName);
        QByteArrayList got;
        for (const QByteArray& f : byte_files_below(copyRoot))
            got << QFile::encodeName(rootName) + "/" + f;
        QVERIFY2(got == expected, qPrintable(what + ": " + difference(got, expected)));
        // Each under its own bytes, with the source's bytes.
        const QByteArray rootParent = QFile::encodeName(QFileInfo(root).absolutePath()) + "/";
        for (const QByteArray& f : std::as_const(own))
            QVERIFY2(sha256(QFile::encodeName(folder) + "/" + f) == sha256(rootParent + f),
                     qPrintable(what + ": " + QFile::decodeName(f)));
    }
    // A file that is there is never called missing.
    QCOMPARE(log.count(" missing."), 0);
}

namespace {

// Moves every entry of folder `from` into folder `to` (made when missing).
bool move_entries(const QString& from, const QString& to)
{
    if (!QDir().mkpath(to))
        return false;
    const QStringList names = QDir(from).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot | QDir::System);
    for (const QString& n : names)
        if (!QDir().rename(from + "/" + n, to + "/" + n))
            return false;
    return true;
}

} // namespace

void TestRawExport::camera_files_of_a_day_reached_through_a_link_data()
{
    // Where the first day's folder went before a link under its own name was put in its place:
    // "another disk" a folder outside the storage; "another storage's root" the same inside a
    // folder named as another root; "another folder of the root" root/old/2024-01-01 (a relative
    // link); "the root" its files moved into the root and the link naming "."; "above the root"
    // the same one level up (".."); "a root-named folder" a folder outside named as a root.
    QTest::addColumn<QString>("movedTo");
    // How the operator reached the root ("real" or "own link", as in camera_files_carried_once),
    // which names the recordings; and whether the caller hands that root over.
    QTest::addColumn<QString>("opened");
    QTest::addColumn<bool>("handed");
    QTest::newRow("a day on another disk") << "another disk" << "real" << true;
    QTest::newRow("a day on another disk, no root handed") << "another disk" << "real" << false;
    QTest::newRow("a day on another disk, root opened through a link") << "another disk" << "own link" << true;
    QTest::newRow("a day on another disk, root through a link, not handed") << "another disk" << "own link" << false;
    QTest::newRow("a day in another storage's root") << "another storage's root" << "real" << true;
    QTest::newRow("a day in another folder of the root") << "another folder of the root" << "real" << true;
    QTest::newRow("a day linked to the root itself") << "the root" << "real" << true;
    QTest::newRow("a day linked to the folder above the root") << "above the root" << "real" << true;
    QTest::newRow("a day linked to a root-named folder") << "a root-named folder" << "real" << true;
}

// A day folder the player lists through a link of its own (an old day moved to another disk and
// linked back, as archives do) and opened by the operator: its recordings are copied through the
// link, and so are its camera-information files, under the day's name below the export's copy of
// the root, the link followed for that day only (links below it, the storage's other linked
// folders and root-named folders in it stay out). A link that names the root, a folder above it
// or a root-named folder is no day: walking it would copy the storage into itself, so the copy
// ends with -14 naming the day, its folder holding the recordings alone.
void TestRawExport::camera_files_of_a_day_reached_through_a_link()
{
    QFETCH(QString, movedTo);
    QFETCH(QString, opened);
    QFETCH(bool, handed);
    QTemporaryDir outside;
    OwnStorage s;
    if (!write_own_storage(s))
        return;
    const QString& root = s.root;
    const QString& rootName = s.rootName;
    const QString day = root + "/2024-01-01";
    const QStringList own = stored_camera_information(s.storage);
    QVERIFY(own.filter("/2024-01-01/").size() >= 4);

    const bool walkable = movedTo != "the root" && movedTo != "above the root" && movedTo != "a root-named folder";
    const QHash<QString, QString> places{{"another disk", outside.filePath("disk/2024-01-01")},
                                         {"another storage's root",
                                          outside.filePath("disk/zqcore_1111-2222-3333-4444/2024-01-01")},
                                         {"another folder of the root", root + "/old/2024-01-01"},
                                         {"the root", root},
                                         {"above the root", QFileInfo(root).absolutePath()},
                                         {"a root-named folder", outside.filePath("disk/zqcore_9999-8888-7777-6666")}};
    QVERIFY(places.contains(movedTo));
    QVERIFY(move_entries(day, places.value(movedTo)));
    QVERIFY(QDir().rmdir(day));
    const QString linkText = movedTo == "another folder of the root" ? QString("old/2024-01-01")
                             : movedTo == "the root"                 ? QString(".")
                             : movedTo == "above the root"           ? QString("..")
                                                                     : places.value(movedTo);
    QVERIFY(::symlink(QFile::encodeName(linkText).constData(), QFile::encodeName(day).constData()) == 0);
    QVERIFY(QFileInfo(day + "/080000").isDir());

    if (walkable) {
        // Below the linked day: a linked camera file, a linked folder of camera files and a
        // root-named folder with a camera file, none the storage's own.
        const QString foreign = outside.filePath("foreign");
        QVERIFY(QDir().mkpath(foreign));
        QFile f(foreign + "/9_20240101_080000.zqnfo");
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("not of this storage");
        f.close();
        QVERIFY(QFile::link(f.fileName(), day + "/080000/9_20240101_080000.zqnfo"));
        QVERIFY(QFile::link(foreign, day + "/foreign"));
        const QString nfo = day + "/080000/1_20240101_080000.zqnfo";
        QVERIFY(QFileInfo(nfo).isFile());
        QVERIFY(!zqtest::plant_root_named_folder(root, QDate(2024, 1, 1), 1, QTime(7, 59, 59), nfo,
                                                 outside.filePath("planted"))
                     .isEmpty());
        // The other day moved away and linked back too: not in the range, it stays out.
        QVERIFY(QDir().mkpath(outside.filePath("disk2")));
        QVERIFY(QDir().rename(root + "/2024-01-02", outside.filePath("disk2/2024-01-02")));
        QVERIFY(QFile::link(outside.filePath("disk2/2024-01-02"), root + "/2024-01-02"));
    }

    const zqtest::LinkedRoot linked = zqtest::link_root(root, s.dir.path());
    QVERIFY(!linked.ownLink.isEmpty());
    const QString openedRoot = opened == "own link" ? linked.ownLink : root;
    QList<QFileInfo> range;
    QByteArrayList recordings;
    for (const QFileInfo& f : std::as_const(s.day1)) {
        range << QFileInfo(openedRoot + f.absoluteFilePath().mid(root.size()));
        QVERIFY(range.last().isFile());
        for (const QString& p : recording_paths(root, f.absoluteFilePath()))
            recordings << QFile::encodeName(p);
    }

    // Once into a folder outside, then into one inside the root (whose copy a later walk leaves out).
    for (const QString& folder : {outside.filePath("out"), openedRoot + "/e1"}) {
        const RawRun r = run_raw(folder + "/x_RAW.zqcore", range, handed ? openedRoot : QString());
        const QByteArray copyRoot = QFile::encodeName(folder + "/" + rootName);
        QByteArrayList got;
        for (const QByteArray& f : byte_files_below(copyRoot))
            got << QFile::encodeName(rootName) + "/" + f;
        if (!walkable) {
            QCOMPARE(r.errors, QList<int>{-14});
            QCOMPARE(r.ending, 0);
            QCOMPARE(r.failed, QStringList{openedRoot + "/2024-01-01"});
            QByteArrayList inDay;
            for (const QByteArray& f : std::as_const(got))
                if (f.startsWith(QFile::encodeName(rootName) + "/2024-01-01/"))
                    inDay << f;
            std::sort(recordings.begin(), recordings.end());
            QVERIFY2(inDay == recordings, qPrintable(difference(inDay, recordings)));
            return;
        }
        QVERIFY2(r.errors.isEmpty() && r.ending == 1,
                 qPrintable(r.failed.join(", ") + " " + QString::number(r.errors.value(0))));
        QByteArrayList expected = recordings;
        for (const QString& f : own) {
            if (f.contains("/2024-01-02/"))
                continue;
            expected << QFile::encodeName(f);
            if (movedTo == "another folder of the root" && f.contains("/2024-01-01/"))
                expected << QFile::encodeName(QString(f).replace("/2024-01-01/", "/old/2024-01-01/"));
        }
        std::sort(expected.begin(), expected.end());
        QVERIFY2(got == expected, qPrintable(folder + ": " + difference(got, expected)));
        for (const QString& f : own)
            if (f.contains("/2024-01-01/"))
                QCOMPARE(sha256(folder + "/" + f), sha256(QFileInfo(root).absolutePath() + "/" + f));
    }
}

void TestRawExport::export_of_a_copy_opened_as_storage_data()
{
    // True: the player hands over the copy's root it opened; false: no root handed, so the first
    // root-named folder from the left is the copy's root.
    QTest::addColumn<bool>("handed");
    QTest::newRow("the copy's root handed over") << true;
    QTest::newRow("no root handed") << false;
}

// An export inside the root, opened as a storage of its own and exported again: opened (the root
// handed over), its files are taken from its own root folder on, with its own camera-information
// files; with no root handed, from the outer root on, with the outer root's camera files.
void TestRawExport::export_of_a_copy_opened_as_storage()
{
    QFETCH(bool, handed);
    QTemporaryDir outside;
    OwnStorage s;
    if (!write_own_storage(s))
        return;
    const QString& root = s.root;
    const QString& rootName = s.rootName;
    const QList<QFileInfo>& day1 = s.day1;
    QCOMPARE(run_raw(root + "/e1/x_RAW.zqcore", day1).ending, 1);
    const QString copyRoot = root + "/e1/" + rootName;
    QList<QFileInfo> copies;
    QStringList expected = stored_camera_information(s.storage);
    for (const QFileInfo& f : day1) {
        copies << QFileInfo(copyRoot + f.absoluteFilePath().mid(root.size()));
        QVERIFY(copies.last().isFile());
        for (const QString& p : recording_paths(root, f.absoluteFilePath()))
            expected << (handed ? p : rootName + "/e1/" + p);
    }
    expected.sort();
    for (const QString& folder : {root + "/e2", outside.path()}) {
        const RawRun r = run_raw(folder + "/x_RAW.zqcore", copies, handed ? copyRoot : QString());
        QCOMPARE(r.errors, QList<int>());
        QCOMPARE(r.ending, 1);
        QStringList got;
        for (const QString& f : files_below(folder + "/" + rootName))
            got << rootName + "/" + f;
        QVERIFY2(got == expected, qPrintable(folder + ": " + difference(got, expected)));
    }
}

void TestRawExport::unreadable_storage_folder_is_a_failure_data()
{
    // The folder that cannot be listed, from the root on ("" the root itself), and how the root
    // was reached.
    QTest::addColumn<QString>("closed");
    QTest::addColumn<bool>("throughLink");
    QTest::newRow("a start-time folder") << "/2024-01-02/080002" << false;
    QTest::newRow("the root itself") << "" << false;
    QTest::newRow("the root itself, opened through a link") << "" << true;
}

// A folder of the storage that cannot be listed holds camera-information files the export cannot
// carry: everything else is copied and the job ends with -14 naming the folder.
void TestRawExport::unreadable_storage_folder_is_a_failure()
{
    QFETCH(QString, closed);
    QFETCH(bool, throughLink);
    if (geteuid() == 0)
        QSKIP("folder permissions do not bind the superuser");
    OwnStorage s;
    if (!write_own_storage(s))
        return;
    QString opened = s.root;
    if (throughLink) {
        opened = s.dir.filePath(s.rootName);
        QVERIFY(QFile::link(s.root, opened));
    }
    const QString folder = s.root + closed;
    // Its files can still be opened by name: only the listing is refused.
    QVERIFY(QFile::setPermissions(folder, QFileDevice::WriteOwner | QFileDevice::ExeOwner));
    struct Reopen
    {
        QString path;
        ~Reopen()
        {
            QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        }
    } reopen{folder};
    QList<QFileInfo> range;
    for (const QFileInfo& f : std::as_const(s.day1))
        range << QFileInfo(opened + f.absoluteFilePath().mid(s.root.size()));
    QTemporaryDir out;
    const RawRun r = run_raw(out.filePath("x_RAW.zqcore"), range);
    QCOMPARE(r.ending, 0);
    QCOMPARE(r.errors, QList<int>{-14});
    QCOMPARE(r.failed, QStringList{opened + closed});
    QStringList expected;
    for (const QString& f : stored_camera_information(s.storage))
        if (!closed.isEmpty() && !f.contains(closed + "/"))
            expected << f;
    for (const QFileInfo& f : std::as_const(s.day1))
        expected << recording_paths(s.root, f.absoluteFilePath());
    expected.sort();
    const QStringList got = files_below(out.path());
    QVERIFY2(got == expected, qPrintable(difference(got, expected)));
}

// The same bytes: kept as they are. Other bytes (an earlier export, or a file
// that is no copy of this recording): never replaced, and the copy fails
// naming it, even when size and time match the source's.
void TestRawExport::kept_and_never_replaced_targets()
{
    QTemporaryDir out;
    const QString exportFile = out.filePath("x_RAW.zqcore");
    {
        // The same recording twice in one copy: the second finds the first's copy and keeps it.
        QTemporaryDir twice;
        const RawRun r = run_raw(twice.filePath("x_RAW.zqcore"), {m_day1.first(), m_day1.first()});
        QCOMPARE(r.errors, QList<int>());
        QCOMPARE(r.ending, 1);
        const QString copy = RawExport::target_path(twice.path(), m_day1.first().absoluteFilePath());
        QCOMPARE(sha256(copy), sha256(m_day1.first().absoluteFilePath()));
    }
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

void TestRawExport::failed_copy_goes_on_with_the_next_file_data()
{
    // Targets that hold other bytes when the export runs, in the order they are copied: the
    // second recording's data file, the third one's seek index, a camera-information file of
    // another day and camera, the first day's camera list.
    QTest::addColumn<QStringList>("taken");
    QTest::newRow("the second of three recordings") << QStringList{"data2"};
    QTest::newRow("a day's camera list changed since an earlier export") << QStringList{"index"};
    QTest::newRow("a recording, a seek index and a camera file") << QStringList{"data2", "seek3", "nfo"};
}

// A target that cannot be written is never replaced and the job ends with the error, but only
// after every other file was copied: each failure is logged, one error and nothing else ends it.
void TestRawExport::failed_copy_goes_on_with_the_next_file()
{
    QFETCH(QStringList, taken);
    QTemporaryDir out;
    const QString exportFile = out.filePath("x_RAW.zqcore");
    const QString root = m_storage.storage.root_path;
    // The first recording is there from an earlier export, with its own bytes: no failure.
    const QString first = recording_paths(root, m_day1.first().absoluteFilePath()).first();
    QVERIFY(QDir().mkpath(QFileInfo(out.filePath(first)).path()));
    QVERIFY(QFile::copy(QFileInfo(root).absolutePath() + "/" + first, out.filePath(first)));

    const QStringList nfo = stored_camera_information(m_storage);
    QStringList expected = nfo;
    for (const QFileInfo& f : std::as_const(m_day1))
        expected << recording_paths(root, f.absoluteFilePath());
    expected.sort();
    const QMap<QString, QString> targets{
        {"data2", recording_paths(root, m_day1.at(1).absoluteFilePath()).first()},
        {"seek3", recording_paths(root, m_day1.at(2).absoluteFilePath()).last()},
        {"nfo", nfo.filter("/2024-01-02/").filter("/2_").first()},
        {"index", nfo.filter("/2024-01-01/index.zqnfo").first()},
    };
    QStringList takenPaths;
    for (const QString& key : std::as_const(taken)) {
        const QString path = out.filePath(targets.value(key));
        takenPaths << path;
        QVERIFY(QDir().mkpath(QFileInfo(path).path()));
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write("an earlier copy");
    }

    LogCapture log;
    const RawRun r = run_raw(exportFile, m_day1);
    QCOMPARE(r.ending, 0);
    QCOMPARE(r.errors, QList<int>{-9});
    QCOMPARE(r.failed, QStringList{takenPaths.first()});
    QCOMPARE(r.progress, QList<int>({16, 33, 50, 66, 83, 100}));
    const QStringList got = files_below(out.path());
    QVERIFY2(got == expected, qPrintable(difference(got, expected)));
    for (const QString& rel : std::as_const(expected)) {
        const QString copy = out.filePath(rel);
        if (takenPaths.contains(copy))
            QCOMPARE(sha256(copy), QCryptographicHash::hash("an earlier copy", QCryptographicHash::Sha256).toHex());
        else
            QVERIFY2(sha256(copy) == sha256(QFileInfo(root).absolutePath() + "/" + rel), qPrintable(rel));
    }
    QCOMPARE(log.count("copy File :: failed to copy "), int(takenPaths.size()));
    for (const QString& path : std::as_const(takenPaths))
        QVERIFY2(log.count("copy File :: target exists with other content " + path) == 1, qPrintable(path));
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

void TestRawExport::missing_seek_index_is_minus_14_data()
{
    QTest::addColumn<bool>("laterTargetTaken");
    QTest::newRow("only the seek index") << false;
    QTest::newRow("and a later target with other bytes") << true;
}

// A missing seek index is reported (-14, naming it) once everything else was copied; the first
// failure names the job's error.
void TestRawExport::missing_seek_index_is_minus_14()
{
    QFETCH(bool, laterTargetTaken);
    QTemporaryDir src;
    ZQFixture::Options o;
    o.output_parent = src.path();
    o.recordings_per_camera = 2;
    o.seconds_per_recording = 1;
    o.fps = 10;
    const ZQFixture::Result r = ZQFixture::write(o);
    QVERIFY(r.ok);
    QCOMPARE(r.files.size(), 2);
    QVERIFY(QFile::remove(r.files.first().seek_path));
    QTemporaryDir out;
    const QString taken = RawExport::target_path(out.path(), r.files.last().data_path);
    if (laterTargetTaken) {
        QVERIFY(QDir().mkpath(QFileInfo(taken).path()));
        QFile f(taken);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("an earlier copy");
    }
    const QList<QFileInfo> files{QFileInfo(r.files.first().data_path), QFileInfo(r.files.last().data_path)};
    const RawRun run = run_raw(out.filePath("x_RAW.zqcore"), files);
    QCOMPARE(run.errors, QList<int>{-14});
    QCOMPARE(run.failed, QStringList{r.files.first().seek_path});
    QCOMPARE(run.ending, 0);
    QCOMPARE(run.progress, QList<int>({25, 50, 75, 100}));
    for (const QString& source : {r.files.first().data_path, r.files.last().seek_path, r.files.last().data_path}) {
        const QString copy = RawExport::target_path(out.path(), source);
        if (copy == taken && laterTargetTaken)
            QCOMPARE(QFileInfo(copy).size(), qint64(15));
        else
            QVERIFY2(sha256(copy) == sha256(source), qPrintable(copy));
    }
}

void TestRawExport::target_path_data()
{
    QTest::addColumn<QString>("root"); // handed over by the caller; none when empty
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("target");
    QTest::newRow("worked example")
        << "" << "/d/Archive/zqcore_1a2b-3c4d-5e6f-7a8b/2024-03-05/101500/12_20240305_101500.zqvideo"
        << "/e/Exports/zqcore_1a2b-3c4d-5e6f-7a8b/2024-03-05/101500/12_20240305_101500.zqvideo";
    QTest::newRow("upper-case root keeps its case") << "" << "/d/ZQCORE_1A2B-3C4D-5E6F-7A8B/2024-03-05/a.zqvideo"
                                                   << "/e/Exports/ZQCORE_1A2B-3C4D-5E6F-7A8B/2024-03-05/a.zqvideo";
    QTest::newRow("no root folder") << "" << "/d/Archive/2024-03-05/a.zqvideo" << "";
    QTest::newRow("look-alike name is no root") << "" << "/d/zqcore_xyz/2024-03-05/a.zqvideo" << "";
    QTest::newRow("no root handed: the first root folder from the left")
        << "" << "/d/zqcore_1a2b-3c4d-5e6f-7a8b/2024-03-05/zqcore_dead-beef-dead-beef/1_20240305_085959.zqvideo"
        << "/e/Exports/zqcore_1a2b-3c4d-5e6f-7a8b/2024-03-05/zqcore_dead-beef-dead-beef/1_20240305_085959.zqvideo";
    QTest::newRow("a root-named folder in a day is no root")
        << "/d/zqcore_1a2b-3c4d-5e6f-7a8b"
        << "/d/zqcore_1a2b-3c4d-5e6f-7a8b/2024-03-05/zqcore_dead-beef-dead-beef/1_20240305_085959.zqvideo"
        << "/e/Exports/zqcore_1a2b-3c4d-5e6f-7a8b/2024-03-05/zqcore_dead-beef-dead-beef/1_20240305_085959.zqvideo";
    QTest::newRow("an export inside a root, opened: from its own root on")
        << "/d/zqcore_1a2b-3c4d-5e6f-7a8b/e1/zqcore_1a2b-3c4d-5e6f-7a8b"
        << "/d/zqcore_1a2b-3c4d-5e6f-7a8b/e1/zqcore_1a2b-3c4d-5e6f-7a8b/2024-03-05/a.zqvideo"
        << "/e/Exports/zqcore_1a2b-3c4d-5e6f-7a8b/2024-03-05/a.zqvideo";
    QTest::newRow("a file outside the root handed over") << "/d/zqcore_1a2b-3c4d-5e6f-7a8b"
                                                         << "/d/zqcore_0000-0000-0000-0000/2024-03-05/a.zqvideo" << "";
    QTest::newRow("a file next to the root, named as it with more")
        << "/d/zqcore_1a2b-3c4d-5e6f-7a8b" << "/d/zqcore_1a2b-3c4d-5e6f-7a8bc/2024-03-05/a.zqvideo" << "";
    QTest::newRow("a file named as a root is no root folder")
        << "" << "/d/zqcore_1a2b-3c4d-5e6f-7a8b/2024-03-05/zqcore_0000-0000-0000-0000"
        << "/e/Exports/zqcore_1a2b-3c4d-5e6f-7a8b/2024-03-05/zqcore_0000-0000-0000-0000";
}

void TestRawExport::target_path()
{
    QFETCH(QString, root);
    QFETCH(QString, source);
    QFETCH(QString, target);
    if (root.isEmpty())
        QCOMPARE(RawExport::target_path("/e/Exports", source), target);
    QCOMPARE(RawExport::target_path("/e/Exports", root, source), target);
}

QTEST_MAIN(TestRawExport)
#include "test_raw_export.moc"
