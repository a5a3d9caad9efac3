#pragma once

#include <QString>

namespace zq::platform {

// Starts the out-of-process crash handler placed beside the program, giving it
// its dump database and metrics folder. Returns false when the handler
// executable is missing or could not be started.
bool start_crash_handler(const QString& handlerPath, const QString& databasePath, const QString& metricsPath);

// The handler executable's file name on this platform.
QString crash_handler_file_name();

} // namespace zq::platform
