#pragma once

#include <QString>

namespace zq::platform {

// Hands a file or folder to the desktop shell (the default application).
// Returns whether the shell accepted it.
bool open_with_shell(const QString& path);

} // namespace zq::platform
