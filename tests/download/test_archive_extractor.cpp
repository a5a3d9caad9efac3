#include "download/archive_extractor.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QHash>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <archive.h>
#include <archive_entry.h>
#include <sys/stat.h>
#include <unistd.h>

// Bundles are made here with libarchive's writer, hostile ones included, and unpacked on a worker
// thread as the download rows do: nothing may land outside the destination.
namespace {

struct Entry
{
    Entry(QByteArray n, QByteArray d, mode_t t = AE_IFREG, QByteArray l = {})
        : name(std::move(n)), data(std::move(d)), type(t), link(std::move(l))
    {
    }
    QByteArray name;
    QByteArray data;
    mode_t type = AE_IFREG;
    QByteArray link; // target of a symbolic link, or of a hard link for a regular file
};

bool write_tar(const QString& path, const QList<Entry>& entries)
{
    archive* a = archive_write_new();
    archive_write_set_format_pax_restricted(a);
    if (archive_write_open_filename(a, QFile::encodeName(path).constData()) != ARCHIVE_OK)
        return false;
    for (const Entry& e : entries) {
        archive_entry* entry = archive_entry_new();
        archive_entry_set_pathname(entry, e.name.constData());
        archive_entry_set_filetype(entry, e.type);
        archive_entry_set_perm(entry, 0644);
        const bool hard = e.type == AE_IFREG && !e.link.isEmpty();
        if (e.type == AE_IFLNK)
            archive_entry_set_symlink(entry, e.link.constData());
        if (hard)
            archive_entry_set_hardlink(entry, e.link.constData());
        archive_entry_set_size(entry, e.type == AE_IFREG && !hard ? e.data.size() : 0);
        archive_write_header(a, entry);
        if (e.type == AE_IFREG && !hard)
            archive_write_data(a, e.data.constData(), size_t(e.data.size()));
        archive_entry_free(entry);
    }
    archive_write_close(a);
    archive_write_free(a);
    return true;
}

QStringList tree(const QString& root)
{
    QStringList out;
    QDirIterator it(root, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        out << QDir(root).relativeFilePath(it.next());
    out.sort();
    return out;
}

// Makes files (content: their own name) below `root`.
bool make_files(const QString& root, const QStringList& files)
{
    for (const QString& name : files) {
        const QString path = QDir(root).filePath(name);
        if (!QDir().mkpath(QFileInfo(path).path()))
            return false;
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly) || f.write(name.toUtf8()) != name.toUtf8().size())
            return false;
    }
    return true;
}

// Makes `name` below `root` holding `size` bytes: a pattern, or from 1 GiB on holes with a few
// bytes at the start, in the middle and at the end. False also when the file system keeps no holes.
bool make_file(const QString& root, const QString& name, qint64 size)
{
    constexpr qint64 GiB = 1024LL * 1024 * 1024;
    QFile f(QDir(root).filePath(name));
    if (!QDir().mkpath(root) || !f.open(QIODevice::WriteOnly))
        return false;
    if (size < GiB) {
        QByteArray bytes(int(size), Qt::Uninitialized);
        for (int i = 0; i < bytes.size(); ++i)
            bytes[i] = char(i * 131 + 7);
        return f.write(bytes) == size;
    }
    if (f.write(name.toUtf8()) <= 0 || !f.resize(size) || !f.seek(size / 2) || f.write("middle") != 6
        || !f.seek(size - 3) || f.write("end") != 3)
        return false;
    f.close();
    struct stat info;
    return ::stat(QFile::encodeName(f.fileName()).constData(), &info) == 0 && qint64(info.st_blocks) * 512 <= 1024 * 1024;
}

// Gives the file `name` below `root` `count` more names (hard links) beside it, "l1.bin", "l2.bin", ...
// (numbered with three digits from 100 on, so that they sort in order); the names, the file's first.
QStringList link_names(const QString& root, const QString& name, int count)
{
    QStringList names{name};
    for (int i = 1; i <= count; ++i) {
        names << QStringLiteral("l%1.bin").arg(i, count >= 100 ? 3 : 1, 10, QLatin1Char('0'));
        if (::link(QFile::encodeName(QDir(root).filePath(name)).constData(),
                   QFile::encodeName(QDir(root).filePath(names.last())).constData()) != 0)
            return {};
    }
    return names;
}

// The bytes a process has read so far (read(2) and the like), or -1 when the system does not say.
qint64 bytes_read_by_process()
{
    QFile io(QStringLiteral("/proc/self/io"));
    if (!io.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : io.readAll().split('\n'))
        if (line.startsWith("rchar:"))
            return line.mid(6).trimmed().toLongLong();
    return -1;
}

// Runs bsdtar, the tool bundles are made with on the server side.
bool bsdtar(const QStringList& args)
{
    QProcess p;
    p.start(QStringLiteral("bsdtar"), args);
    if (!p.waitForFinished(30000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        qWarning() << "bsdtar" << args << p.readAllStandardError();
        return false;
    }
    return true;
}

} // namespace

Q_DECLARE_METATYPE(QList<Entry>)

class TestArchiveExtractor : public QObject
{
    Q_OBJECT
private slots:
    void extract_data();
    void extract();
    void made_by_bsdtar_data();
    void made_by_bsdtar();
    void truncated_bundle_is_kept();
    void delete_and_hash();
    void entry_names_data();
    void entry_names();
    void link_targets_data();
    void link_targets();
    void sparse_members_data();
    void sparse_members();
    void hard_links_data();
    void hard_links();
    void each_file_hashed_once();

private:
    // Runs one extraction on a worker thread; returns its result.
    bool run(ArchiveExtractor& extractor, QList<QPair<QString, QString>>* hashed = nullptr)
    {
        QThread worker;
        extractor.moveToThread(&worker);
        QSignalSpy done(&extractor, &ArchiveExtractor::extractionFinished);
        QSignalSpy files(&extractor, &ArchiveExtractor::fileHashed);
        worker.start();
        QMetaObject::invokeMethod(&extractor, &ArchiveExtractor::startExtraction, Qt::QueuedConnection);
        const bool ended = done.size() == 1 || done.wait(20000);
        QThread* home = QThread::currentThread();
        QMetaObject::invokeMethod(&extractor, [&] { extractor.moveToThread(home); }, Qt::BlockingQueuedConnection);
        worker.quit();
        worker.wait();
        if (!ended || done.size() != 1)
            return false;
        if (hashed)
            for (const auto& args : files)
                hashed->append({args.at(0).toString(), args.at(1).toString()});
        return done.first().first().toBool();
    }
};

void TestArchiveExtractor::extract_data()
{
    QTest::addColumn<QList<Entry>>("entries");
    QTest::addColumn<bool>("success");
    QTest::addColumn<QStringList>("files"); // what the destination holds afterwards

    const QByteArray data("0123456789");
    QTest::newRow("day layout") << QList<Entry>{{"2024-01-01/080000/1_20240101_080000.zqvideo", data},
                                                {"2024-01-01/080000/1_20240101_080000.zqseek", "x:y\n"}}
                                << true
                                << QStringList{"2024-01-01", "2024-01-01/080000",
                                               "2024-01-01/080000/1_20240101_080000.zqseek",
                                               "2024-01-01/080000/1_20240101_080000.zqvideo"};
    QTest::newRow("dot-dot") << QList<Entry>{{"ok.txt", data}, {"../evil.txt", data}} << false << QStringList{"ok.txt"};
    QTest::newRow("dot-dot inside") << QList<Entry>{{"a/../../evil.txt", data}} << false << QStringList{};
    QTest::newRow("absolute") << QList<Entry>{{"/tmp/zq-abs-evil.txt", data}} << false << QStringList{};
    // A link out of the folder, then a file written through it: the link is skipped, and the
    // file then lands in a plain folder of that name, inside.
    QTest::newRow("link out, then through it")
        << QList<Entry>{{"out", "", AE_IFLNK, "/tmp"}, {"out/zq-through-link.txt", data}} << true
        << QStringList{"out", "out/zq-through-link.txt"};
    QTest::newRow("link inside kept") << QList<Entry>{{"a/f.txt", data}, {"a/l", "", AE_IFLNK, "f.txt"}} << true
                                      << QStringList{"a", "a/f.txt", "a/l"};
    QTest::newRow("link up skipped") << QList<Entry>{{"up", "", AE_IFLNK, "../.."}, {"f.txt", data}} << true
                                     << QStringList{"f.txt"};
    // A link inside is kept, but nothing is written through it.
    QTest::newRow("write through inner link") << QList<Entry>{{"d/", "", AE_IFDIR}, {"l", "", AE_IFLNK, "d"},
                                                              {"l/x.txt", data}}
                                              << false << QStringList{"d", "l"};
    // What "tar -C DIR -cf x.tar ." writes: the folder itself first, every name below "./".
    QTest::newRow("dot entries") << QList<Entry>{{"./", "", AE_IFDIR}, {"./2024-01-01/", "", AE_IFDIR},
                                                 {"./2024-01-01/a.zqvideo", data}, {".", "", AE_IFDIR},
                                                 {"./2024-01-01/l", "", AE_IFLNK, "./a.zqvideo"}}
                                 << true << QStringList{"2024-01-01", "2024-01-01/a.zqvideo", "2024-01-01/l"};
    QTest::newRow("dot as a link") << QList<Entry>{{".", "", AE_IFLNK, "/tmp"}} << false << QStringList{};
    // Links are resolved through the links made before them, not as text.
    QTest::newRow("chained links") << QList<Entry>{{"t", "", AE_IFLNK, "."}, {"sub/", "", AE_IFDIR},
                                                   {"sub/s", "", AE_IFLNK, "../t/.."}}
                                   << true << QStringList{"sub", "t"};
    QTest::newRow("link to a link") << QList<Entry>{{"t", "", AE_IFLNK, "."}, {"u", "", AE_IFLNK, "t"},
                                                    {"v", "", AE_IFLNK, "u/.."}, {"w", "", AE_IFLNK, "u/f.txt"}}
                                    << true << QStringList{"t", "u", "w"};
    // A link checked through "t" stays valid: "t" is not replaced afterwards.
    QTest::newRow("link replaced later") << QList<Entry>{{"sub/", "", AE_IFDIR}, {"t", "", AE_IFLNK, "sub"},
                                                         {"s", "", AE_IFLNK, "t/.."}, {"t", "", AE_IFLNK, "."}}
                                         << true << QStringList{"s", "sub", "t"};
    // "m" is not there yet when "s" comes; made a link later, "m/.." would leave.
    QTest::newRow("dot-dot after a missing name") << QList<Entry>{{"s", "", AE_IFLNK, "m/../x"}, {"m", "", AE_IFLNK, "."}}
                                                  << true << QStringList{"m"};
    QTest::newRow("hard link to an earlier file") << QList<Entry>{{"a.txt", data}, {"d/b.txt", "", AE_IFREG, "a.txt"}}
                                                  << true << QStringList{"a.txt", "d", "d/b.txt"};
    QTest::newRow("hard link out") << QList<Entry>{{"b.txt", "", AE_IFREG, "../outside.txt"}} << false
                                   << QStringList{};
    QTest::newRow("hard link absolute") << QList<Entry>{{"p", "", AE_IFREG, "/etc/hostname"}} << false
                                        << QStringList{};
    QTest::newRow("hard link to a later file") << QList<Entry>{{"b.txt", "", AE_IFREG, "a.txt"}, {"a.txt", data}}
                                               << false << QStringList{};
    QTest::newRow("hard link to a folder") << QList<Entry>{{"d/", "", AE_IFDIR}, {"h", "", AE_IFREG, "d"}} << false
                                           << QStringList{"d"};
    QTest::newRow("hard link to itself") << QList<Entry>{{"a.txt", data}, {"a.txt", "", AE_IFREG, "a.txt"}} << false
                                         << QStringList{"a.txt"};
    QTest::newRow("fifo skipped") << QList<Entry>{{"p", "", AE_IFIFO}, {"f.txt", data}} << true
                                  << QStringList{"f.txt"};
}

void TestArchiveExtractor::extract()
{
    QFETCH(QList<Entry>, entries);
    QFETCH(bool, success);
    QFETCH(QStringList, files);

    QTemporaryDir dir;
    const QString bundle = dir.filePath(QStringLiteral("b.zqtar"));
    QVERIFY(write_tar(bundle, entries));
    const QString dest = dir.filePath(QStringLiteral("dest"));
    ArchiveExtractor extractor(bundle, dest, false, false);
    QCOMPARE(run(extractor), success);
    QCOMPARE(extractor.errorMessage().isEmpty(), success);
    QCOMPARE(tree(dest), files);
    // Every link left resolves inside.
    const QString real_dest = QFileInfo(dest).canonicalFilePath();
    for (const QString& name : files) {
        const QFileInfo info(QDir(dest).filePath(name));
        if (info.isSymLink() && info.exists())
            QVERIFY2(info.canonicalFilePath() == real_dest || info.canonicalFilePath().startsWith(real_dest + '/'),
                     qPrintable(name + " -> " + info.canonicalFilePath()));
    }
    QVERIFY(!QFile::exists(QStringLiteral("/tmp/zq-abs-evil.txt")));
    QVERIFY(!QFile::exists(QStringLiteral("/tmp/zq-through-link.txt")));
    QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("evil.txt"))));
    QVERIFY(QFile::exists(bundle));
}

void TestArchiveExtractor::made_by_bsdtar_data()
{
    QTest::addColumn<QStringList>("files");   // made in the source folder
    QTest::addColumn<QStringList>("hardlinks"); // "new=existing", hard links made in the source folder
    QTest::addColumn<QStringList>("members"); // what bsdtar is asked to put in the bundle
    // "" the bundle as made; "tar:<name>" cut just before the entry <name>, where a tar stops at an
    // entry boundary without its end blocks; "gzip:<name>" the same, then compressed.
    QTest::addColumn<QString>("cut");
    QTest::addColumn<bool>("success");
    QTest::addColumn<QStringList>("tree");     // what the destination holds afterwards

    const QStringList day{"2024-01-01/080000/1_20240101_080000.zqseek",
                          "2024-01-01/080000/1_20240101_080000.zqvideo"};
    const QStringList day_tree{"2024-01-01", "2024-01-01/080000", "2024-01-01/080000/1_20240101_080000.zqseek",
                               "2024-01-01/080000/1_20240101_080000.zqvideo"};
    QTest::newRow("whole folder, ./ first") << day << QStringList{} << QStringList{"."} << "" << true << day_tree;
    QTest::newRow("./ prefixed names") << day << QStringList{} << QStringList{"./2024-01-01"} << "" << true << day_tree;
    QTest::newRow("plain names") << day << QStringList{} << QStringList{"2024-01-01"} << "" << true << day_tree;

    const QStringList three{"a.bin", "b.bin", "c.bin"};
    QTest::newRow("three files") << three << QStringList{} << three << "" << true << three;
    QTest::newRow("three files, gzip") << three << QStringList{} << three << "gzip:" << true << three;
    QTest::newRow("cut before the third") << three << QStringList{} << three << "tar:c.bin" << false << three.mid(0, 2);
    QTest::newRow("cut before the third, gzip") << three << QStringList{} << three << "gzip:c.bin" << false << three.mid(0, 2);
    // tar writes the second name of a hard-linked pair as a link to the first.
    QTest::newRow("hard-linked pair") << QStringList{"d/a.bin"} << QStringList{"d/b.bin=d/a.bin", "c.bin=d/a.bin"}
                                      << QStringList{"."} << "" << true
                                      << QStringList{"c.bin", "d", "d/a.bin", "d/b.bin"};
    QTest::newRow("hard-linked pair, gzip") << QStringList{"d/a.bin"} << QStringList{"d/b.bin=d/a.bin"}
                                            << QStringList{"d"} << "gzip:" << true << QStringList{"d", "d/a.bin", "d/b.bin"};
    QTest::newRow("cut before the first") << three << QStringList{} << three << "tar:a.bin" << false << QStringList{};
}

void TestArchiveExtractor::made_by_bsdtar()
{
    QFETCH(QStringList, files);
    QFETCH(QStringList, hardlinks);
    QFETCH(QStringList, members);
    QFETCH(QString, cut);
    QFETCH(bool, success);
    QFETCH(QStringList, tree);

    QTemporaryDir dir;
    const QString source = dir.filePath(QStringLiteral("source"));
    QVERIFY(make_files(source, files));
    QHash<QString, QString> content; // name in the bundle -> what the file holds
    for (const QString& f : files)
        content.insert(f, f);
    for (const QString& pair : hardlinks) {
        const QString made = pair.section(QLatin1Char('='), 0, 0);
        const QString existing = pair.section(QLatin1Char('='), 1);
        QVERIFY(::link(QFile::encodeName(QDir(source).filePath(existing)).constData(),
                       QFile::encodeName(QDir(source).filePath(made)).constData()) == 0);
        content.insert(made, existing);
    }
    const QString bundle = dir.filePath(QStringLiteral("b.zqtar"));
    QVERIFY(bsdtar(QStringList{"-C", source, "-cf", bundle} + members));
    const QString before = cut.section(QLatin1Char(':'), 1);
    if (!before.isEmpty()) {
        QFile f(bundle);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QByteArray bytes = f.readAll();
        f.close();
        qsizetype at = -1;
        for (qsizetype i = 0; i < bytes.size() && at < 0; i += 512)
            if (bytes.mid(i, before.size() + 1) == before.toUtf8() + '\0')
                at = i;
        QVERIFY(at >= 0);
        QVERIFY(QFile::resize(bundle, at));
    }
    if (cut.startsWith(QLatin1String("gzip:"))) {
        QProcess gzip;
        gzip.start(QStringLiteral("gzip"), {"-n", "-f", bundle});
        QVERIFY(gzip.waitForFinished(30000) && gzip.exitCode() == 0);
        QVERIFY(QFile::rename(bundle + QStringLiteral(".gz"), bundle));
    }
    const QString dest = dir.filePath(QStringLiteral("dest"));
    ArchiveExtractor extractor(bundle, dest, false, false);
    QCOMPARE(run(extractor), success);
    QCOMPARE(extractor.errorMessage().isEmpty(), success);
    QCOMPARE(::tree(dest), tree);
    for (const QString& name : tree) {
        const QFileInfo info(QDir(dest).filePath(name));
        if (!info.isFile())
            continue;
        QFile f(info.filePath());
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), content.value(name).toUtf8());
    }
    QCOMPARE(::tree(dir.path()).filter(QRegularExpression("^(?!source|dest|b.zqtar)")), QStringList{});
}

void TestArchiveExtractor::truncated_bundle_is_kept()
{
    QTemporaryDir dir;
    const QString bundle = dir.filePath(QStringLiteral("b.zqtar"));
    QByteArray big(200000, 'z');
    for (int i = 0; i < big.size(); ++i)
        big[i] = char(i * 7);
    QVERIFY(write_tar(bundle, {{"first.bin", "complete"}, {"second.bin", big}}));
    QVERIFY(QFile::resize(bundle, QFileInfo(bundle).size() / 2));
    const QString dest = dir.filePath(QStringLiteral("dest"));
    ArchiveExtractor extractor(bundle, dest, true, true);
    QList<QPair<QString, QString>> hashed;
    QVERIFY(!run(extractor, &hashed));
    QVERIFY(!extractor.errorMessage().isEmpty());
    QVERIFY(QFile::exists(bundle)); // a failed bundle is kept, whatever the delete flag
    // The entry it cut short is gone; the whole one before it stays.
    QCOMPARE(tree(dest), QStringList{"first.bin"});
    QVERIFY(hashed.isEmpty());
}

void TestArchiveExtractor::delete_and_hash()
{
    QTemporaryDir dir;
    const QString bundle = dir.filePath(QStringLiteral("b.zqtar"));
    QVERIFY(write_tar(bundle, {{"d/a.bin", "alpha"}, {"d/b.bin", "beta"}}));
    const QString dest = dir.filePath(QStringLiteral("dest"));
    QDir().mkpath(dest);
    QFile old(QDir(dest).filePath(QStringLiteral("older.bin"))); // not this run's: not hashed
    QVERIFY(old.open(QIODevice::WriteOnly));
    old.write("old");
    old.close();

    ArchiveExtractor extractor(bundle, dest, true, true);
    QList<QPair<QString, QString>> hashed;
    QVERIFY(run(extractor, &hashed));
    QVERIFY(!QFile::exists(bundle));
    QCOMPARE(hashed.size(), 2);
    for (const auto& h : hashed) {
        QFile f(h.first);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(h.second, QString::fromLatin1(QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha256).toHex()));
        QVERIFY(h.first.startsWith(QDir(dest).absolutePath() + QLatin1String("/d/")));
    }
}

void TestArchiveExtractor::entry_names_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("expected"); // relative to the destination, "" refused
    QTest::newRow("plain") << "a/b.txt" << "a/b.txt";
    QTest::newRow("dot parts") << "./a/./b.txt" << "a/b.txt";
    QTest::newRow("double slash") << "a//b.txt" << "a/b.txt";
    QTest::newRow("dot-dot") << "a/../b.txt" << "";
    QTest::newRow("absolute") << "/etc/passwd" << "";
    QTest::newRow("drive") << "C:/x" << "";
    QTest::newRow("backslash") << "..\\x" << "";
    QTest::newRow("only dot") << "." << "";
    QTest::newRow("empty") << "" << "";
    QTest::newRow("dots in a name") << "a..b/c...txt" << "a..b/c...txt";
}

void TestArchiveExtractor::entry_names()
{
    QFETCH(QString, name);
    QFETCH(QString, expected);
    const QString dest = QStringLiteral("/srv/dest");
    const QString got = ArchiveExtractor::safe_entry_path(dest, name);
    QCOMPARE(got, expected.isEmpty() ? QString() : dest + QLatin1Char('/') + expected);
}

void TestArchiveExtractor::link_targets_data()
{
    // Checked as text, without the disk: the destination's own name is not known to the bundle,
    // so a target that climbs above it, even to come back in by a name, is refused.
    QTest::addColumn<QString>("name");   // the link's name in the bundle
    QTest::addColumn<QString>("target");
    QTest::addColumn<bool>("inside");
    QTest::newRow("beside") << "l" << "f.txt" << true;
    QTest::newRow("down") << "l" << "a/b/f.txt" << true;
    QTest::newRow("the destination") << "a/l" << ".." << true;
    QTest::newRow("dot") << "l" << "." << true;
    QTest::newRow("up and down inside") << "a/b/l" << "../../c/f.txt" << true;
    QTest::newRow("down and up inside") << "l" << "a/../f.txt" << true;
    QTest::newRow("from a trailing-slash name") << "a/" << "f.txt" << true;
    QTest::newRow("up from a trailing-slash name") << "a/" << "../f.txt" << false;
    QTest::newRow("from a ./ name") << "./a/l" << "../f.txt" << true;
    QTest::newRow("climb out and back into d") << "l" << "../d/x" << false;
    QTest::newRow("from a folder named d") << "d/l" << "../../d/x" << false;
    QTest::newRow("from d, into d below") << "d/l" << "../d/x" << true;
    QTest::newRow("down, then out and back") << "l" << "a/../../d/x" << false;
    QTest::newRow("out and back, deeper") << "a/b/l" << "../../../dest/a/x" << false;
    QTest::newRow("up") << "l" << ".." << false;
    QTest::newRow("up from a folder") << "a/l" << "../.." << false;
    QTest::newRow("absolute") << "l" << "/etc/passwd" << false;
    QTest::newRow("absolute into d") << "l" << "/d/x" << false;
    QTest::newRow("empty") << "l" << "" << false;
    QTest::newRow("backslash") << "l" << "..\\x" << false;
    QTest::newRow("link named dot-dot") << "../l" << "x" << false;
    QTest::newRow("link named dot") << "." << "x" << false;
    QTest::newRow("absolute name") << "/l" << "x" << false;
}

void TestArchiveExtractor::link_targets()
{
    QFETCH(QString, name);
    QFETCH(QString, target);
    QFETCH(bool, inside);
    QCOMPARE(ArchiveExtractor::safe_link_target(name, target), inside);
}

void TestArchiveExtractor::sparse_members_data()
{
    // Files of the given sizes in GiB, almost all holes, put in a bundle by bsdtar, which stores
    // only their data blocks: the bundle stays a few kilobytes.
    // Hashing is asked for where the bundle is past the cap (64 GiB): it must fail before it, not
    // after reading hundreds of GiB of holes. (Hashing a bundle within the cap would read it all.)
    QTest::addColumn<QList<int>>("gib"); // 0: a file of one byte
    QTest::addColumn<bool>("hash");
    QTest::addColumn<bool>("success");
    QTest::addColumn<int>("unpacked"); // how many members end up in the destination
    QTest::newRow("one within the cap") << QList<int>{40} << false << true << 1;
    QTest::newRow("each within, together past the cap") << QList<int>{40, 40} << true << false << 1;
    QTest::newRow("many past the cap") << QList<int>{40, 40, 40, 40, 40, 40, 40, 40} << true << false << 1;
    QTest::newRow("at the cap") << QList<int>{32, 32} << false << true << 2;
    QTest::newRow("one byte past the cap") << QList<int>{32, 32, 0} << true << false << 2;
}

void TestArchiveExtractor::sparse_members()
{
    QFETCH(QList<int>, gib);
    QFETCH(bool, hash);
    QFETCH(bool, success);
    QFETCH(int, unpacked);
    constexpr qint64 GiB = 1024LL * 1024 * 1024;

    QTemporaryDir dir;
    const QString source = dir.filePath(QStringLiteral("source"));
    QVERIFY(QDir().mkpath(source));
    QStringList members;
    for (int i = 0; i < gib.size(); ++i) {
        const QString name = QStringLiteral("m%1.bin").arg(i);
        const qint64 size = gib.at(i) > 0 ? gib.at(i) * GiB : 1;
        QFile f(QDir(source).filePath(name));
        QVERIFY(f.open(QIODevice::WriteOnly));
        QVERIFY(f.write(name.toUtf8()) > 0); // data at the start, in the middle and at the end
        QVERIFY(f.resize(size));
        if (size > GiB) {
            QVERIFY(f.seek(size / 2) && f.write("middle") == 6);
            QVERIFY(f.seek(size - 3) && f.write("end") == 3);
        }
        f.close();
        struct stat info;
        QVERIFY(::stat(QFile::encodeName(f.fileName()).constData(), &info) == 0);
        if (qint64(info.st_blocks) * 512 > 1024 * 1024)
            QSKIP("this file system does not keep holes");
        members << name;
    }
    const QString bundle = dir.filePath(QStringLiteral("b.zqtar"));
    QVERIFY(bsdtar(QStringList{"-C", source, "-cf", bundle} + members));
    QVERIFY(QFileInfo(bundle).size() < 1024 * 1024);

    const QString dest = dir.filePath(QStringLiteral("dest"));
    ArchiveExtractor extractor(bundle, dest, false, hash);
    QList<QPair<QString, QString>> hashed;
    const bool ok = run(extractor, &hashed);
    QCOMPARE(ok, success);
    QCOMPARE(extractor.errorMessage(), success ? QString() : QStringLiteral("Archive trop volumineuse"));
    // What was unpacked before the refusal stays, and never adds up to more than the cap.
    qint64 apparent = 0;
    const QStringList left = tree(dest);
    QCOMPARE(left, members.mid(0, unpacked));
    for (int i = 0; i < unpacked; ++i) {
        const QString path = QDir(dest).filePath(members.at(i));
        const qint64 size = QFileInfo(path).size();
        QCOMPARE(size, gib.at(i) > 0 ? gib.at(i) * GiB : 1);
        apparent += size;
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.read(6), members.at(i).toUtf8().left(6));
        if (size > GiB) {
            QVERIFY(f.seek(size / 2));
            QCOMPARE(f.read(6), QByteArray("middle"));
            QVERIFY(f.seek(size - 3));
            QCOMPARE(f.read(3), QByteArray("end"));
        }
    }
    QVERIFY(apparent <= 64 * GiB);
    QCOMPARE(hashed.size(), hash && success ? unpacked : 0);
}

void TestArchiveExtractor::hard_links_data()
{
    // One file and other names for it (real hard links in the source folder), bundled by bsdtar.
    // A tar carries the other names as link entries without data; a "newc" cpio carries every name
    // but the last without data, and the last with it. Unpacked, each name is a file of the whole
    // size, which hashing reads and every later reader sees: every name counts against the cap.
    QTest::addColumn<QString>("format"); // bsdtar --format
    QTest::addColumn<qint64>("size");    // of the file; from 1 GiB on, almost all holes
    QTest::addColumn<int>("links");      // other names of it
    QTest::addColumn<qint64>("cap");     // -1: the default (64 GiB)
    QTest::addColumn<bool>("success");
    QTest::addColumn<int>("names");      // names left in the destination
    constexpr qint64 GiB = 1024LL * 1024 * 1024;
    QTest::newRow("tar, one link within the cap") << "pax" << qint64(1000) << 1 << qint64(2000) << true << 2;
    QTest::newRow("tar, names at the cap") << "pax" << qint64(1000) << 2 << qint64(3000) << true << 3;
    QTest::newRow("tar, names one byte past the cap") << "pax" << qint64(1000) << 2 << qint64(2999) << false << 2;
    QTest::newRow("cpio, data on the last name, at the cap") << "newc" << qint64(1000) << 2 << qint64(3000) << true << 3;
    QTest::newRow("cpio, data on the last name, past the cap") << "newc" << qint64(1000) << 2 << qint64(2999) << false
                                                               << 2;
    QTest::newRow("tar, 60 GiB member and 200 links") << "pax" << 60 * GiB << 200 << qint64(-1) << false << 1;
    QTest::newRow("tar, 30 GiB member and one link") << "pax" << 30 * GiB << 1 << qint64(-1) << true << 2;
}

// Names that share one file cannot get a bundle past the cap: the names left never add up to more
// than the cap, whatever the bundle declares.
void TestArchiveExtractor::hard_links()
{
    QFETCH(QString, format);
    QFETCH(qint64, size);
    QFETCH(int, links);
    QFETCH(qint64, cap);
    QFETCH(bool, success);
    QFETCH(int, names);
    constexpr qint64 GiB = 1024LL * 1024 * 1024;

    QTemporaryDir dir;
    const QString source = dir.filePath(QStringLiteral("source"));
    if (!make_file(source, QStringLiteral("a.bin"), size))
        QSKIP("this file system does not keep holes");
    const QStringList members = link_names(source, QStringLiteral("a.bin"), links);
    QCOMPARE(members.size(), links + 1);
    const QString bundle = dir.filePath(QStringLiteral("b.zqtar"));
    QVERIFY(bsdtar(QStringList{"--format", format, "-C", source, "-cf", bundle} + members));
    QVERIFY(QFileInfo(bundle).size() < 1024 * 1024);

    // Hashing where it reads little (hashing holes is slow, and a bundle let through would be
    // read once per name: 12 TiB for the 200 links).
    const bool hash = size < GiB;
    const QString dest = dir.filePath(QStringLiteral("dest"));
    ArchiveExtractor extractor(bundle, dest, false, hash);
    if (cap >= 0)
        extractor.setMaxTotalBytes(cap);
    QList<QPair<QString, QString>> hashed;
    QCOMPARE(run(extractor, &hashed), success);
    QCOMPARE(extractor.errorMessage(), success ? QString() : QStringLiteral("Archive trop volumineuse"));
    const QStringList left = tree(dest);
    QCOMPARE(left, members.mid(0, names));
    qint64 apparent = 0;
    for (const QString& name : left)
        apparent += QFileInfo(QDir(dest).filePath(name)).size();
    QVERIFY2(apparent <= (cap >= 0 ? cap : 64 * GiB), qPrintable(QString::number(apparent)));
    if (success) {
        for (const QString& name : left)
            QCOMPARE(QFileInfo(QDir(dest).filePath(name)).size(), size);
    }
    QCOMPARE(hashed.size(), hash && success ? names : 0);
    for (const auto& h : hashed) {
        QFile f(h.first);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(h.second, QString::fromLatin1(QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha256).toHex()));
    }
}

// The names of one file are hashed by reading it once: a bundle of one file with many names does
// not make the extractor read the file once per name.
void TestArchiveExtractor::each_file_hashed_once()
{
    constexpr qint64 size = 8 * 1024 * 1024;
    constexpr int links = 7;
    QTemporaryDir dir;
    const QString source = dir.filePath(QStringLiteral("source"));
    QVERIFY(make_file(source, QStringLiteral("a.bin"), size));
    const QStringList members = link_names(source, QStringLiteral("a.bin"), links);
    QCOMPARE(members.size(), links + 1);
    const QString bundle = dir.filePath(QStringLiteral("b.zqtar"));
    QVERIFY(bsdtar(QStringList{"-C", source, "-cf", bundle} + members));
    QFile original(QDir(source).filePath(members.first()));
    QVERIFY(original.open(QIODevice::ReadOnly));
    const QString digest = QString::fromLatin1(QCryptographicHash::hash(original.readAll(), QCryptographicHash::Sha256).toHex());

    const QString dest = dir.filePath(QStringLiteral("dest"));
    ArchiveExtractor extractor(bundle, dest, false, true);
    QList<QPair<QString, QString>> hashed;
    const qint64 before = bytes_read_by_process();
    if (before < 0)
        QSKIP("no read count in /proc/self/io here");
    QVERIFY(run(extractor, &hashed));
    const qint64 read = bytes_read_by_process() - before;
    QStringList names;
    for (const auto& h : hashed) {
        names << QFileInfo(h.first).fileName();
        QCOMPARE(h.second, digest);
    }
    names.sort();
    QCOMPARE(names, members);
    // The bundle once (the file's bytes are in it once) and the file once, with room to spare;
    // a read per name would be eight times the file.
    QVERIFY2(read < 3 * size, qPrintable(QString::number(read)));
}

QTEST_GUILESS_MAIN(TestArchiveExtractor)
#include "test_archive_extractor.moc"
