// The day index "zqvideoindex.json" of a day folder. "@DAY@" and "@ROOT@" in the input stand for
// the day folder and the storage root of a small real folder, so that entries can reach the
// acceptance paths. Whatever the text, only existing regular files that a scan of the day lists
// come out (in the day folder or a direct sub-folder, none hidden), each once, never through a
// link or out of the folder.
#include "harness.h"

#include "recordings/day_index_file.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QTemporaryDir>

#include <cstdlib>

namespace {

struct Storage
{
    QTemporaryDir dir;
    QString root;
    QString day;
    Storage()
    {
        root = dir.filePath(QStringLiteral("zqcore_0a1b-2c3d-4e5f-6789"));
        day = root + QStringLiteral("/2024-03-05");
        QDir().mkpath(day + QStringLiteral("/085900"));
        for (const char* name : {"/085900/1_20240305_085900.zqvideo", "/085900/1_20240305_085900.zqseek",
                                 "/085900/1_7_20240305_085900.jpg", "/085900/a.zqtag", "/x.jpg",
                                 "/085900/.forged.zqtag"}) {
            QFile f(day + QString::fromLatin1(name));
            if (!f.open(QIODevice::WriteOnly) || f.write("data") != 4)
                std::abort();
        }
        QFile outside(dir.filePath(QStringLiteral("outside.zqvideo")));
        if (!outside.open(QIODevice::WriteOnly) || outside.write("x") != 1)
            std::abort();
        QFile::link(dir.filePath(QStringLiteral("outside.zqvideo")), day + QStringLiteral("/085900/2_20240305_085900.zqvideo"));
        QFile f(root + QStringLiteral("/9_9_20240305_085900.jpg"));
        if (!f.open(QIODevice::WriteOnly) || f.write("r") != 1)
            std::abort();
    }
};

void check(const QStringList& list, const Storage& s)
{
    QSet<QString> seen;
    for (const QString& path : list) {
        if (seen.contains(path))
            std::abort();
        seen.insert(path);
        const QFileInfo info(path);
        if (info.isSymLink() || !info.isFile())
            std::abort();
        const bool inDay = path.startsWith(s.day + QLatin1Char('/'))
                           && path.mid(s.day.size() + 1).count(QLatin1Char('/')) <= 1;
        if (!inDay || path.contains(QLatin1String("/../")) || path.contains(QLatin1String("/./"))
            || path.mid(s.day.size()).contains(QLatin1String("/.")))
            std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static Storage storage;
    QByteArray json(reinterpret_cast<const char*>(data), qsizetype(size));
    json.replace("@DAY@", storage.day.toUtf8()).replace("@ROOT@", storage.root.toUtf8());
    const QString path = storage.day + QStringLiteral("/zqvideoindex.json");
    {
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(json) != json.size())
            std::abort();
    }
    const DayIndex::Stored stored = DayIndex::read(storage.day, true, 16);
    if (!stored.fingerprint.isNull() && stored.fingerprint.size() != 64)
        std::abort();
    for (const QStringList* list : {&stored.files.video, &stored.files.alarm, &stored.files.tag, &stored.files.audio,
                                    &stored.files.preview}) {
        if (list->size() > 16)
            std::abort();
        check(*list, storage);
    }
    return 0;
}
