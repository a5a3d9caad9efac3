#include "bench/controller/controller_day_tree.h"

#include "recordings/encrypt.h"
#include "recordings/zq_file.h"
#include "tools/zqfixture/lib/fixture_writer.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstdio>

namespace zq::bench {

namespace {

const QString kRootId = QStringLiteral("zqcore_b0b0-0000-0000-0016");

// Alarm pictures, one tag per camera-hour and the day's camera list.
bool write_metadata(const QString& day)
{
    for (int c = 1; c <= 16; ++c) {
        for (int h = 0; h < 24; ++h) {
            const QString hh = QStringLiteral("%1").arg(h, 2, 10, QLatin1Char('0'));
            const QString folder = QDir(day).filePath(hh + "0000");
            const QString stamp = kDay.toString(QStringLiteral("yyyyMMdd")) + "_" + hh + "1530";
            QFile f(QDir(folder).filePath(QStringLiteral("%1_%2_%3.jpg").arg(c).arg(h).arg(stamp)));
            if (!f.open(QIODevice::WriteOnly))
                return false;
            f.write("jpg");
            QJsonObject tag{{"tag_cam_id", c},
                            {"tag_datetime", QString(stamp).remove('_')},
                            {"tag_name", QStringLiteral("tag %1").arg(h)}};
            if (Encrypt::encrypt_to_file(QJsonDocument(tag).toJson(QJsonDocument::Compact),
                                         QDir(folder).filePath(QStringLiteral("%1_%2.zqtag").arg(c).arg(h))) != 1)
                return false;
        }
    }
    QHash<int, QString> cameras;
    for (int c = 1; c <= 16; ++c)
        cameras.insert(c, QStringLiteral("Caméra %1").arg(c));
    return ZQFile::create_zqnfo_index_file(QFileInfo(QDir(day).filePath(QStringLiteral("index.zqnfo"))), cameras);
}

// Metadata written under another key (an older build) does not read back.
bool metadata_current(const QString& day)
{
    const QFileInfo tag(QDir(day).filePath(QStringLiteral("000000/1_0.zqtag")));
    const QFileInfo index(QDir(day).filePath(QStringLiteral("index.zqnfo")));
    return !ZQFile::read_decrypted_text(tag).isEmpty() &&
           ZQFile::check_and_parse_nfo_file(index, {}).size() == 16;
}

} // namespace

bool make_controller_day_tree(const QString& work, QString* root)
{
    *root = QDir(work).filePath(kRootId);
    const QString day = QDir(*root).filePath(kDay.toString(QStringLiteral("yyyy-MM-dd")));
    const QString done = QDir(work).filePath(QStringLiteral("tree.done"));
    if (QFile::exists(done))
        return metadata_current(day) || write_metadata(day);
    std::printf("generating 16 cameras x 24 hours in %s ...\n", qPrintable(work));
    std::fflush(stdout);
    QElapsedTimer t;
    t.start();
    ZQFixture::Options o;
    o.output_parent = work;
    o.root_id = kRootId;
    o.dates = {kDay};
    for (int c = 1; c <= 16; ++c)
        o.cameras.append(c);
    o.start_time = QTime(0, 0, 0);
    o.recordings_per_camera = 24 * 60;
    o.seconds_per_recording = 60;
    o.size = QSize(64, 48);
    o.fps = 2;
    o.gop = 10;
    const ZQFixture::Result r = ZQFixture::write(o);
    if (!r.ok) {
        std::fprintf(stderr, "fixture: %s\n", qPrintable(r.error));
        return false;
    }
    if (!write_metadata(day))
        return false;
    QFile(done).open(QIODevice::WriteOnly);
    std::printf("generated in %.1f s\n", t.elapsed() / 1000.0);
    return true;
}


} // namespace zq::bench
