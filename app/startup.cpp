#include "app/startup.h"

#include "app/http_singleton.h"
#include "app/zq_log.h"
#include "platform/crash_handler.h"

#include <QApplication>
#include <QDir>
#include <QLibraryInfo>
#include <QLocale>
#include <QQuickWindow>
#include <QTranslator>
#include <QWidget>

namespace zq {

QString main_window_title()
{
    Http_singleton* context = Http_singleton::instance();
    QString title = context->get_display_name() + QStringLiteral(" ") + context->get_version();
    if (context->is_dev_build())
        title += QStringLiteral(" - DEV ") + context->get_build_date();
    return title;
}

namespace {
void start_crash_handler(const StartupHooks& hooks)
{
    Http_singleton* context = Http_singleton::instance();
    const QDir crashFolder(context->user_folder());
    const QString handler = QDir(QCoreApplication::applicationDirPath())
                                .filePath(platform::crash_handler_file_name());
    const QString database = crashFolder.filePath(QStringLiteral("crash_reports"));
    const QString metrics = crashFolder.filePath(QStringLiteral("crash_reports/metrics"));
    QDir().mkpath(database);
    QDir().mkpath(metrics);
    const bool started = hooks.startCrashHandler && hooks.startCrashHandler(handler, database, metrics);
    ZQLog::log(started ? "[INFO] MAIN :: crashpad started" : "[INFO] MAIN :: failed to start crashpad");
}
} // namespace

int run_startup(int& argc, char** argv, const StartupHooks& hooks)
{
    QQuickWindow::setSceneGraphBackend(QStringLiteral("rhi"));
    set_log_level(1);

    QApplication app(argc, argv);

    QTranslator translator;
    const QString translationsPath = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    const QLocale french(QLocale::French, QLocale::France);
    if (translator.load(french, QStringLiteral("qtbase"), QStringLiteral("_"), translationsPath))
        app.installTranslator(&translator);
    QLocale::setDefault(french);

    QDir userFolder = QDir::home();
    const QString folderName = QStringLiteral(".") + Http_singleton::instance()->get_app_name();
    if (!userFolder.cd(folderName)) {
        userFolder.mkdir(folderName);
        userFolder.cd(folderName);
    }

    start_crash_handler(hooks);
    ZQLog::installMessageHandler();

    const UpdateOutcome update = hooks.runUpdateCheck ? hooks.runUpdateCheck(app) : UpdateOutcome::GoOn;
    if (update == UpdateOutcome::InstallerLaunched)
        return 0;
    if (update == UpdateOutcome::InstallerNotOpened)
        ZQLog::log("[WARN] MAIN :: the installer could not be opened, starting normally");

    // The window belongs to this function and goes before the application
    // object, so that the work it started is stopped and waited for.
    std::unique_ptr<QWidget> window = hooks.createWindow ? hooks.createWindow() : nullptr;
    if (window) {
        window->setMinimumWidth(1600);
        window->setMinimumHeight(900);
        window->setWindowTitle(main_window_title());
        window->showMaximized();
    }
    if (hooks.checkDumps)
        hooks.checkDumps();

    const int result = hooks.runEventLoop ? hooks.runEventLoop(app) : app.exec();
    window.reset();
    app.removeTranslator(&translator);
    return result;
}

} // namespace zq
