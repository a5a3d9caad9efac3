#include "app/startup.h"

#include "crash/crash_file_checker.h"
#include "platform/crash_handler.h"
#include "player/zq_player_qmlpresentation.h"
#include "update/startup_update.h"

#include <QApplication>
#include <QWidget>

#include <curl/curl.h>

int main(int argc, char* argv[])
{
    // Before any thread exists; never cleaned up before exit.
    curl_global_init(CURL_GLOBAL_DEFAULT);

    zq::StartupHooks hooks;
    hooks.startCrashHandler = [](const QString& handler, const QString& database, const QString& metrics) {
        return zq::platform::start_crash_handler(handler, database, metrics);
    };
    hooks.runUpdateCheck = [](QApplication& app) { return zq::run_update_check(app); };
    hooks.createWindow = [] { return std::unique_ptr<QWidget>(new ZQ_Player_qmlpresentation(nullptr)); };
    hooks.checkDumps = [] { CrashFileChecker::check(); };
    return zq::run_startup(argc, argv, hooks);
}
