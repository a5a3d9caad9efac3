#include "platform/drives.h"

#include <QDir>
#include <QStorageInfo>

#include <algorithm>

namespace zq::platform {

namespace {
bool is_real_file_system(const QByteArray& type)
{
    static const QByteArray pseudo[] = {
        "proc", "sysfs", "devtmpfs", "devpts", "tmpfs", "cgroup", "cgroup2", "securityfs", "pstore",
        "debugfs", "tracefs", "configfs", "fusectl", "mqueue", "hugetlbfs", "autofs", "bpf", "binfmt_misc",
        "overlay", "squashfs", "nsfs", "ramfs", "rpc_pipefs", "efivarfs", "fuse.portal", "fuse.gvfsd-fuse",
    };
    return std::none_of(std::begin(pseudo), std::end(pseudo), [&](const QByteArray& p) { return p == type; });
}
} // namespace

QList<Drive> available_drives()
{
    QList<Drive> drives;
    for (const QStorageInfo& volume : QStorageInfo::mountedVolumes()) {
        if (!volume.isValid() || !volume.isReady() || !is_real_file_system(volume.fileSystemType()))
            continue;
        const QString path = QDir::fromNativeSeparators(volume.rootPath());
        drives.append({path, volume.name().isEmpty() ? path : volume.name()});
    }
    std::sort(drives.begin(), drives.end(), [](const Drive& a, const Drive& b) { return a.path < b.path; });
    const QString home = QDir::homePath();
    drives.append({home, home});
    return drives;
}

} // namespace zq::platform
