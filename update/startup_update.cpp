#include "update/startup_update.h"

#include "update/download_binary.h"

#include <QApplication>

namespace zq {

UpdateOutcome run_update_check(QApplication& app, const std::function<void(DownloadBinary&)>& configure)
{
    DownloadBinary updater(QStringLiteral("3.4.1"), nullptr, &app);
    updater.setQuitAfterLaunch(true);
    if (configure)
        configure(updater);
    if (updater.checkAndPrompt(true))
        return UpdateOutcome::GoOn;
    return updater.installerLaunched() ? UpdateOutcome::InstallerLaunched : UpdateOutcome::InstallerNotOpened;
}

} // namespace zq
