#pragma once

#include <QString>

#include <functional>
#include <memory>

class QApplication;
class QWidget;

namespace zq {

// How the start-up update check ended.
enum class UpdateOutcome {
    GoOn,               // no update, declined, or any failure: open the window
    InstallerLaunched,  // an update was downloaded, verified and opened by the shell: end with 0
    InstallerNotOpened, // downloaded and verified, but the shell could not open it: open the window
};

// The collaborators of start-up, injected so that the sequence itself can be
// exercised without a release server, a crash handler or the real window.
struct StartupHooks
{
    std::function<bool(const QString& handler, const QString& database, const QString& metrics)> startCrashHandler;
    std::function<UpdateOutcome(QApplication& app)> runUpdateCheck;
    std::function<std::unique_ptr<QWidget>()> createWindow;
    std::function<void()> checkDumps;
    std::function<int(QApplication& app)> runEventLoop; // defaults to QApplication::exec()
};

// The program's start-up sequence; returns the process exit code.
int run_startup(int& argc, char** argv, const StartupHooks& hooks);

// The title of the main window: display name, a blank and the version.
QString main_window_title();

} // namespace zq
