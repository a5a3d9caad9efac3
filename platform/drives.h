#pragma once

#include <QList>
#include <QString>

namespace zq::platform {

struct Drive
{
    QString path;  // mount point, "/" separated
    QString label; // volume name, or the mount point when it has none
};

// The places the folder chooser's side bar offers: mounted volumes that are
// valid, ready and real file systems (sorted by path), then the home folder.
QList<Drive> available_drives();

} // namespace zq::platform
