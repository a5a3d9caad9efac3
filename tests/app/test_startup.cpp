// Start-up as a sequence with injected collaborators: what each update outcome
// leads to, the per-user and crash folders, the locale and the window set-up.
#include "app/http_singleton.h"
#include "app/startup.h"
#include "app/zq_log.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLocale>
#include <QTest>
#include <QWidget>

namespace {
QStringList g_captured;
void capture(QtMsgType, const QMessageLogContext&, const QString& msg) { g_captured.append(msg); }
} // namespace

class TestStartup : public QObject
{
    Q_OBJECT
private slots:
    void init()
    {
        QDir(Http_singleton::instance()->user_folder()).removeRecursively();
        g_captured.clear();
    }
    void cleanup() { qInstallMessageHandler(nullptr); }

    void updateOutcomes_data()
    {
        QTest::addColumn<int>("outcome");
        QTest::addColumn<bool>("windowShown");
        QTest::addColumn<int>("exitCode");
        QTest::newRow("no update") << int(zq::UpdateOutcome::GoOn) << true << 7;
        QTest::newRow("installer handed to the shell") << int(zq::UpdateOutcome::InstallerLaunched) << false << 0;
        // A failure must not look like success: the window opens all the same.
        QTest::newRow("shell could not open the installer") << int(zq::UpdateOutcome::InstallerNotOpened) << true << 7;
    }
    void updateOutcomes()
    {
        QFETCH(int, outcome);
        QFETCH(bool, windowShown);
        QFETCH(int, exitCode);

        bool windowCreated = false;
        bool dumpsChecked = false;
        bool loopRan = false;
        QString title;
        QSize minimum;
        QString localeName;
        bool maximized = false;

        zq::StartupHooks hooks;
        hooks.startCrashHandler = [](const QString&, const QString&, const QString&) { return false; };
        hooks.runUpdateCheck = [&](QApplication&) { return zq::UpdateOutcome(outcome); };
        hooks.createWindow = [&] {
            windowCreated = true;
            return std::make_unique<QWidget>();
        };
        hooks.checkDumps = [&] { dumpsChecked = true; };
        hooks.runEventLoop = [&](QApplication&) {
            loopRan = true;
            const QWidgetList tops = QApplication::topLevelWidgets();
            if (!tops.isEmpty()) {
                title = tops.first()->windowTitle();
                minimum = tops.first()->minimumSize();
                maximized = tops.first()->windowState().testFlag(Qt::WindowMaximized);
            }
            localeName = QLocale().name();
            ZQLog::log("[INFO] test :: in the event loop");
            return 7;
        };

        static char arg0[] = "zqplayer";
        static char arg1[] = "--some-option";
        char* argv[] = {arg0, arg1, nullptr};
        int argc = 2;
        qInstallMessageHandler(capture);
        const int result = zq::run_startup(argc, argv, hooks);
        qInstallMessageHandler(nullptr);

        QCOMPARE(result, exitCode);
        QCOMPARE(windowCreated, windowShown);
        QCOMPARE(dumpsChecked, windowShown);
        QCOMPARE(loopRan, windowShown);

        // Folders exist whatever the outcome.
        const QDir user(QDir::home().filePath(".ZQPlayer"));
        QVERIFY(user.exists());
        QVERIFY(user.exists("crash_reports"));
        QVERIFY(user.exists("crash_reports/metrics"));

        // The crash handler line reaches the debug output before the log file exists.
        QVERIFY(g_captured.join('\n').contains("[INFO] MAIN :: failed to start crashpad"));
        QFile log(user.filePath("zqlogfile.log"));
        const QByteArray logText = log.open(QIODevice::ReadOnly) ? log.readAll() : QByteArray();
        QVERIFY(!logText.contains("crashpad"));

        if (windowShown) {
            QCOMPARE(title, QStringLiteral("ZQPLAYER 3.4.1"));
            QCOMPARE(minimum, QSize(1600, 900));
            QVERIFY(maximized);
            QCOMPARE(localeName, QStringLiteral("fr_FR"));
            QVERIFY(logText.contains("{Debug} \"[INFO] test :: in the event loop\""));
        }
    }

    void crashHandlerStarted()
    {
        QString database;
        QString metrics;
        zq::StartupHooks hooks;
        hooks.startCrashHandler = [&](const QString&, const QString& db, const QString& m) {
            database = db;
            metrics = m;
            return true;
        };
        hooks.runUpdateCheck = [](QApplication&) { return zq::UpdateOutcome::InstallerLaunched; };
        static char arg0[] = "zqplayer";
        char* argv[] = {arg0, nullptr};
        int argc = 1;
        qInstallMessageHandler(capture);
        QCOMPARE(zq::run_startup(argc, argv, hooks), 0);
        qInstallMessageHandler(nullptr);
        QVERIFY(g_captured.join('\n').contains("[INFO] MAIN :: crashpad started"));
        QCOMPARE(database, QDir::home().filePath(".ZQPlayer/crash_reports"));
        QCOMPARE(metrics, QDir::home().filePath(".ZQPlayer/crash_reports/metrics"));
    }
};

int main(int argc, char** argv)
{
    // Start-up creates the application object itself, so the test runs without one.
    TestStartup test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_startup.moc"
