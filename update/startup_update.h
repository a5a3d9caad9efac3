#pragma once

#include "app/startup.h"

#include <functional>

class DownloadBinary;
class QApplication;

namespace zq {

// The start-up update check: one updater on the stack with the built-in
// version, quitting after launch; `configure` may adjust it (tests).
UpdateOutcome run_update_check(QApplication& app, const std::function<void(DownloadBinary&)>& configure = {});

} // namespace zq
