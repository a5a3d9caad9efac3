// A crash dump left by an earlier run: only the newest survives the check.
#include "crash/crash_file_checker.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

class TestCrashFileChecker : public QObject
{
    Q_OBJECT
private slots:
    void keepsOnlyTheNewest()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        QDir root(dir.path());
        root.mkpath("a/b");
        root.mkpath("c");
        const QDateTime base = QDateTime::currentDateTime().addDays(-1);
        const struct { const char* path; int ageSeconds; } dumps[] = {
            {"a/old.dmp", 300}, {"a/b/newest.dmp", 10}, {"c/middle.dmp", 100}};
        for (const auto& d : dumps) {
            QFile f(root.filePath(d.path));
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("MDMP");
            f.flush(); // a buffered write landing at close would stamp the file "now"
            f.setFileTime(base.addSecs(-d.ageSeconds), QFileDevice::FileModificationTime);
        }
        QFile other(root.filePath("c/notes.txt"));
        QVERIFY(other.open(QIODevice::WriteOnly));
        other.close();

        QCOMPARE(CrashFileChecker::keepNewestDump(root.path()), root.absoluteFilePath("a/b/newest.dmp"));
        QVERIFY(QFile::exists(root.filePath("a/b/newest.dmp")));
        QVERIFY(!QFile::exists(root.filePath("a/old.dmp")));
        QVERIFY(!QFile::exists(root.filePath("c/middle.dmp")));
        QVERIFY(QFile::exists(root.filePath("c/notes.txt")));
    }

    void noDumpNoAction()
    {
        QTemporaryDir dir;
        QCOMPARE(CrashFileChecker::keepNewestDump(dir.path()), QString());
        QCOMPARE(CrashFileChecker::keepNewestDump(dir.filePath("missing")), QString());
    }
};

QTEST_GUILESS_MAIN(TestCrashFileChecker)
#include "test_crash_file_checker.moc"
