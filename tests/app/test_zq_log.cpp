// The log: which message types reach the file, the line format, the size
// limit at its boundary and lines written from several threads at once.
#include "app/http_singleton.h"
#include "app/zq_log.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTest>
#include <QThread>

namespace {
QByteArray readLog()
{
    QFile f(ZQLog::logFilePath());
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}
} // namespace

class TestZQLog : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        QDir().mkpath(Http_singleton::instance()->user_folder());
        ZQLog::installMessageHandler();
    }
    void init()
    {
        QFile::remove(ZQLog::logFilePath());
        set_log_level(1);
    }
    void cleanupTestCase() { qInstallMessageHandler(nullptr); }

    void typesAndLevels_data()
    {
        QTest::addColumn<int>("level");
        QTest::addColumn<int>("type");
        QTest::addColumn<QString>("expected"); // empty: nothing in the file
        QTest::newRow("entry point, level 1") << 1 << -1 << "{Debug} \"[INFO] unit :: hello\"";
        QTest::newRow("entry point, level 0 silences") << 0 << -1 << "";
        QTest::newRow("debug") << 1 << int(QtDebugMsg) << "{Debug} [INFO] unit :: hello";
        QTest::newRow("warning stays off the file") << 1 << int(QtWarningMsg) << "";
        QTest::newRow("critical") << 1 << int(QtCriticalMsg) << "{Critical} [INFO] unit :: hello";
        QTest::newRow("info keeps its text") << 1 << int(QtInfoMsg) << "] [INFO] unit :: hello";
    }
    void typesAndLevels()
    {
        QFETCH(int, level);
        QFETCH(int, type);
        QFETCH(QString, expected);
        set_log_level(level);
        const QString text = QStringLiteral("[INFO] unit :: hello");
        if (type < 0)
            ZQLog::log(text);
        else
            ZQLog::messageHandler(QtMsgType(type), QMessageLogContext(), text);
        const QByteArray log = readLog();
        if (expected.isEmpty()) {
            QVERIFY2(log.isEmpty(), log.constData());
        } else {
            QVERIFY2(log.contains(expected.toUtf8()), log.constData());
        }
    }

    void lineFormat()
    {
        ZQLog::log(QStringLiteral("[INFO] MAIN :: quote \" and backslash \\"));
        const QString line = QString::fromUtf8(readLog()).trimmed();
        static const QRegularExpression form(
            QStringLiteral("^\\[\\d{2}/\\d{2}/\\d{4} \\d{2}:\\d{2}:\\d{2}\\.\\d{3}\\] \\{Debug\\} "
                           "\"\\[INFO\\] MAIN :: quote \\\\\" and backslash \\\\\\\\\"$"));
        QVERIFY2(form.match(line).hasMatch(), qPrintable(line));
    }

    void sizeLimit_data()
    {
        QTest::addColumn<qint64>("extra");
        QTest::addColumn<bool>("emptied");
        QTest::newRow("exactly at the limit is kept") << qint64(0) << false;
        QTest::newRow("one byte over is emptied") << qint64(1) << true;
    }
    void sizeLimit()
    {
        QFETCH(qint64, extra);
        QFETCH(bool, emptied);
        // Measure one line, then fill the file so that this line lands on the boundary.
        ZQLog::messageHandler(QtDebugMsg, QMessageLogContext(), QStringLiteral("x"));
        const qint64 lineSize = QFileInfo(ZQLog::logFilePath()).size();
        QFile::remove(ZQLog::logFilePath());
        {
            QFile f(ZQLog::logFilePath());
            QVERIFY(f.open(QIODevice::WriteOnly));
            QVERIFY(f.resize(ZQLog::kMaxLogFileSize - lineSize + extra));
        }
        ZQLog::messageHandler(QtDebugMsg, QMessageLogContext(), QStringLiteral("x"));
        const qint64 size = QFileInfo(ZQLog::logFilePath()).size();
        QCOMPARE(size == 0, emptied);
        if (!emptied)
            QCOMPARE(size, ZQLog::kMaxLogFileSize);
    }

    void threadsKeepLinesWhole()
    {
        constexpr int kThreads = 4;
        constexpr int kLines = 200;
        QList<QThread*> threads;
        for (int t = 0; t < kThreads; ++t) {
            threads.append(QThread::create([t] {
                for (int i = 0; i < kLines; ++i)
                    ZQLog::log(QStringLiteral("[INFO] thread %1 :: line %2 %3").arg(t).arg(i).arg(QString(50, 'y')));
            }));
        }
        for (QThread* th : threads)
            th->start();
        for (QThread* th : threads) {
            th->wait();
            delete th;
        }
        const QList<QByteArray> lines = readLog().split('\n');
        int whole = 0;
        static const QRegularExpression form(QStringLiteral(R"(^\[[^\]]+\] \{Debug\} "\[INFO\] thread \d :: line \d+ y{50}"$)"));
        for (const QByteArray& line : lines) {
            if (line.isEmpty())
                continue;
            QVERIFY2(form.match(QString::fromUtf8(line)).hasMatch(), line.constData());
            ++whole;
        }
        QCOMPARE(whole, kThreads * kLines);
    }
};

QTEST_GUILESS_MAIN(TestZQLog)
#include "test_zq_log.moc"
