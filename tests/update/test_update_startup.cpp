// Start-up with the real updater against a loopback release server: whether
// the window opens and what the process returns.
#include "app/startup.h"
#include "update/startup_update.h"
#include "update_fixture.h"

#include <QApplication>
#include <QTest>
#include <QWidget>

class TestUpdateStartup : public QObject
{
    Q_OBJECT
private slots:
    void outcomes_data()
    {
        QTest::addColumn<bool>("offered");
        QTest::addColumn<bool>("shellAccepts");
        QTest::addColumn<bool>("window");
        QTest::addColumn<int>("exitCode");
        QTest::newRow("no update") << false << true << true << 7;
        QTest::newRow("installer opened: no window") << true << true << false << 0;
        QTest::newRow("installer refused: window") << true << false << true << 7;
    }
    void outcomes()
    {
        QFETCH(bool, offered);
        QFETCH(bool, shellAccepts);
        QFETCH(bool, window);
        QFETCH(int, exitCode);
        clearDownloads();
        bool windowCreated = false;
        int opened = 0;
        zq::StartupHooks hooks;
        hooks.startCrashHandler = [](const QString&, const QString&, const QString&) { return false; };
        hooks.runUpdateCheck = [&](QApplication& app) {
            LoopbackServer server(LoopbackServer::Https);
            InstallerFixture installer(64 * 1024);
            qputenv("ZQPLAYER_RELEASE_BASE_URL", server.url_string("/zqapps/").toUtf8());
            add_update_text_route(server, kProduct, "<a href=\"3.4/\">3.4/</a>");
            const QString version = offered ? "3.5.0" : "3.4.1";
            add_update_text_route(server, kProduct + "3.4/STABLE/index.json",
                                  "[" + assetJson("ZQPlayer-" + version + ".zip", server.url_string("/files/i.zip"),
                                                  installer.sha, 64 * 1024) + "]");
            add_installer_route(server, "/files/i.zip", installer.path, InstallerMode::Normal);
            FakeUpdateUi ui;
            return zq::run_update_check(app, [&](DownloadBinary& updater) {
                updater.set_ui(&ui);
                updater.setPlatformKey("Linux/64");
                updater.setSslConfiguration(trusting(server));
                updater.setOpener([&](const QString&) {
                    ++opened;
                    return shellAccepts;
                });
            });
        };
        hooks.createWindow = [&] {
            windowCreated = true;
            return std::make_unique<QWidget>();
        };
        hooks.runEventLoop = [](QApplication&) { return 7; };
        static char arg0[] = "zqplayer";
        char* argv[] = {arg0, nullptr};
        int argc = 1;
        QCOMPARE(zq::run_startup(argc, argv, hooks), exitCode);
        QCOMPARE(windowCreated, window);
        QCOMPARE(opened, offered ? 1 : 0);
        qunsetenv("ZQPLAYER_RELEASE_BASE_URL");
    }
};

int main(int argc, char** argv)
{
    // Start-up creates the application object itself, so the test runs without one.
    TestUpdateStartup test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_update_startup.moc"
