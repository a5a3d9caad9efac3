#include "tools/zqfixture/lib/fixture_metadata.h"

#include "recordings/encrypt.h"
#include "recordings/time_text.h"
#include "recordings/zq_file.h"

#include <QBuffer>
#include <QColor>
#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QPainter>
#include <QRegularExpression>
#include <QSaveFile>

#include <algorithm>

namespace ZQFixture {

namespace {

struct Recording {
    QString data_path;
    QString folder;
    int camera = 0;
    QString day_word;   // yyyyMMdd
    QString time_word;  // HHmmss
};

bool write_bytes(const QString& path, const QByteArray& bytes, QString* error)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
        *error = QStringLiteral("cannot write %1: %2").arg(path, file.errorString());
        return false;
    }
    return true;
}

bool write_encrypted(const QString& path, const QByteArray& plain, QString* error,
                     qint64 maxSize = Encrypt::kMaxFileSize)
{
    if (Encrypt::encrypt_to_file(plain, path, Encrypt::KeyForm::Text, maxSize) != 1) {
        *error = QStringLiteral("cannot write %1").arg(path);
        return false;
    }
    return true;
}

// A picture that tells cameras and hours apart by its colours; no text, as fonts need a GUI
// application and the generator runs without one.
QByteArray jpeg(const QSize& size, int camera, int hour, int minute)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(QColor::fromHsv((camera * 47) % 360, 160, 60 + (hour * 8) % 180));
    QPainter painter(&image);
    painter.setPen(Qt::white);
    painter.drawRect(2, 2, size.width() - 5, size.height() - 5);
    painter.fillRect(4, size.height() / 2, (size.width() - 8) * (minute + 1) / 60, size.height() / 4, Qt::white);
    painter.end();
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPG", 80);
    return bytes;
}

QString sha256_of(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    QCryptographicHash hash(QCryptographicHash::Sha256);
    hash.addData(&file);
    return QString::fromLatin1(hash.result().toHex());
}

QList<Recording> find_recordings(const QString& day_path)
{
    static const QRegularExpression name_re(QStringLiteral("^(\\d+)_(\\d{8})_(\\d{6})\\.zqvideo$"));
    QList<Recording> list;
    const QDir day(day_path);
    for (const QString& sub : day.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name)) {
        const QDir folder(day.filePath(sub));
        for (const QString& name : folder.entryList({QStringLiteral("*.zqvideo")}, QDir::Files, QDir::Name)) {
            const auto m = name_re.match(name);
            if (!m.hasMatch())
                continue;
            Recording r;
            r.data_path = folder.filePath(name);
            r.folder = folder.absolutePath();
            r.camera = m.captured(1).toInt();
            r.day_word = m.captured(2);
            r.time_word = m.captured(3);
            list.append(r);
        }
    }
    return list;
}

// The tag "<base>_<n>.zqtag" of a camera at day + time, base being "<folder>/<cam>_<day>_<HHmmss>"
// of the recording it is written beside.
bool write_tag(const QString& base, int camera, const QString& day_word, const QString& time_word,
               const QString& encoded_at, int n, MetadataResult* result, QString* error)
{
    QJsonObject tag;
    tag.insert(QStringLiteral("tag_id"), QStringLiteral("%1-%2-%3").arg(camera).arg(day_word).arg(n));
    tag.insert(QStringLiteral("tag_datetime"), day_word + time_word);
    tag.insert(QStringLiteral("tag_user_id"), QStringLiteral("7"));
    tag.insert(QStringLiteral("tag_name"), QStringLiteral("Repère %1").arg(n + 1));
    tag.insert(QStringLiteral("tag_created_at"), day_word + time_word);
    tag.insert(QStringLiteral("tag_description"), QStringLiteral("Marqueur de test, caméra %1").arg(camera));
    tag.insert(QStringLiteral("file_encoded_at"), day_word + encoded_at);
    tag.insert(QStringLiteral("tag_cam_id"), camera);
    const QString path = base + QStringLiteral("_%1.zqtag").arg(n);
    if (!write_encrypted(path, QJsonDocument(tag).toJson(QJsonDocument::Compact), error))
        return false;
    result->files << path;
    result->tags << path;
    return true;
}

// The alarm picture "<folder>/<cam>_<alarm id>_<day>_<HHmmss>.jpg" and its "-thumb.jpg".
bool write_alarm(const MetadataOptions& options, const QString& folder, int camera, int alarm_id,
                 const QString& day_word, const QString& time_word, MetadataResult* result, QString* error)
{
    const QString alarm = folder + QLatin1Char('/') + QString::number(camera) + QLatin1Char('_')
                          + QString::number(alarm_id) + QLatin1Char('_') + day_word + QLatin1Char('_') + time_word;
    const int hour = time_word.left(2).toInt();
    const int minute = time_word.mid(2, 2).toInt();
    if (!write_bytes(alarm + QStringLiteral(".jpg"), jpeg(options.picture_size, camera, hour, minute), error)
        || !write_bytes(alarm + QStringLiteral("-thumb.jpg"), jpeg(options.thumb_size, camera, hour, minute), error))
        return false;
    result->files << alarm + QStringLiteral(".jpg") << alarm + QStringLiteral("-thumb.jpg");
    result->alarm_pictures << alarm + QStringLiteral(".jpg");
    result->thumbnails << alarm + QStringLiteral("-thumb.jpg");
    return true;
}

// The camera's recording of the day that starts last at or before the time, else its first one;
// null when the camera has none that day.
const Recording* recording_beside(const QList<Recording>& recordings, int camera, const QString& time_word)
{
    const Recording* first = nullptr;
    const Recording* best = nullptr;
    for (const Recording& r : recordings) {
        if (r.camera != camera)
            continue;
        if (!first || r.time_word < first->time_word)
            first = &r;
        if (r.time_word <= time_word && (!best || r.time_word > best->time_word))
            best = &r;
    }
    return best ? best : first;
}

QString with_suffix(const QString& path, const QString& suffix)
{
    const qsizetype dot = path.lastIndexOf(QLatin1Char('.'));
    return path.left(dot) + suffix;
}

// Counted like the integrity check counts: files only, hidden ones left out, less the list itself
// and the two index files the player writes.
QStringList hashed_files(const QString& day_path)
{
    QStringList files;
    QDirIterator it(day_path, QDir::Files | QDir::NoSymLinks, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QString name = it.fileName();
        if (name.contains(QLatin1String("index.zqnfo")) || name.contains(QLatin1String("hash.json"))
            || name.contains(QLatin1String("zqvideoindex.json")))
            continue;
        files.append(path);
    }
    std::sort(files.begin(), files.end());
    return files;
}

} // namespace

bool parse_timed_mark(const QString& text, TimedMark* mark)
{
    static const QRegularExpression re(QStringLiteral("^(\\d{1,4}):(\\d{6})$"));
    const auto m = re.match(text.trimmed());
    if (!m.hasMatch())
        return false;
    const int camera = m.captured(1).toInt();
    const qint64 ms = TimeText::hhmmss_to_ms(m.captured(2));
    if (camera > 4095 || ms < 0)
        return false;
    mark->camera = camera;
    mark->time = QTime::fromMSecsSinceStartOfDay(int(ms));
    return true;
}

QString fixture_camera_name(const MetadataOptions& options, int camera)
{
    return options.camera_names.value(camera, QStringLiteral("Caméra %1").arg(camera));
}

MetadataResult write_metadata(const QString& root_path, const MetadataOptions& options)
{
    MetadataResult result;
    QString error;
    const QDir root(root_path);
    if (!root.exists()) {
        result.error = QStringLiteral("no root folder %1").arg(root_path);
        return result;
    }
    int alarm_id = 1000;
    for (const QString& day_name : root.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name)) {
        const QString day_path = root.absoluteFilePath(day_name);
        const QList<Recording> recordings = find_recordings(day_path);
        if (recordings.isEmpty())
            continue;

        QMap<int, QString> cameras;
        QMap<int, int> tags_written;
        QMap<QPair<int, QString>, bool> hour_done; // (camera, day+hour)
        for (const Recording& r : recordings) {
            const QString name = fixture_camera_name(options, r.camera);
            cameras.insert(r.camera, name);
            const QString base = r.folder + QLatin1Char('/') + QString::number(r.camera) + QLatin1Char('_') + r.day_word
                                 + QLatin1Char('_') + r.time_word;

            if (options.recording_nfo) {
                const QString nfo = with_suffix(r.data_path, QStringLiteral(".zqnfo"));
                bool ok;
                if (options.scrambled_cameras.contains(r.camera)) {
                    ok = write_bytes(nfo, (ZQFile::make_scrambled_nfo_line(r.camera, name) + QLatin1Char('\n')).toUtf8(),
                                     &error);
                } else {
                    QJsonObject single;
                    single.insert(QStringLiteral("cam_id"), r.camera);
                    single.insert(QStringLiteral("cam_name"), name);
                    ok = write_encrypted(nfo, QJsonDocument(single).toJson(QJsonDocument::Compact), &error);
                }
                if (!ok) {
                    result.error = error;
                    return result;
                }
                result.files << nfo;
            }

            if (tags_written.value(r.camera) < options.tags_per_camera) {
                const int n = tags_written.value(r.camera);
                tags_written[r.camera] = n + 1;
                if (!write_tag(base, r.camera, r.day_word, r.time_word.left(4) + QStringLiteral("01"), r.time_word, n,
                               &result, &error)) {
                    result.error = error;
                    return result;
                }
            }

            const QString hour_key = r.day_word + r.time_word.left(2);
            if (hour_done.contains({r.camera, hour_key}))
                continue;
            hour_done.insert({r.camera, hour_key}, true);
            const int hour = r.time_word.left(2).toInt();
            if (options.alarms && !write_alarm(options, r.folder, r.camera, alarm_id++, r.day_word,
                                               r.time_word.left(4) + QStringLiteral("00"), &result, &error)) {
                result.error = error;
                return result;
            }
            if (options.previews) {
                const int minute = r.time_word.mid(2, 2).toInt();
                for (const QString& suffix : {QStringLiteral("_preview.jpg"), QStringLiteral("_videopreview.jpg")}) {
                    if (!write_bytes(base + suffix, jpeg(options.thumb_size, r.camera, hour, minute), &error)) {
                        result.error = error;
                        return result;
                    }
                    result.files << base + suffix;
                    result.previews << base + suffix;
                }
            }
        }

        for (const TimedMark& mark : options.tags_at) {
            const QString time_word = mark.time.toString(QStringLiteral("HHmmss"));
            const Recording* r = recording_beside(recordings, mark.camera, time_word);
            if (!r)
                continue;
            const int n = tags_written.value(mark.camera);
            tags_written[mark.camera] = n + 1;
            const QString base = r->folder + QLatin1Char('/') + QString::number(mark.camera) + QLatin1Char('_')
                                 + r->day_word + QLatin1Char('_') + time_word;
            if (!write_tag(base, mark.camera, r->day_word, time_word, r->time_word, n, &result, &error)) {
                result.error = error;
                return result;
            }
        }
        for (const TimedMark& mark : options.alarms_at) {
            const QString time_word = mark.time.toString(QStringLiteral("HHmmss"));
            const Recording* r = recording_beside(recordings, mark.camera, time_word);
            if (r && !write_alarm(options, r->folder, mark.camera, alarm_id++, r->day_word, time_word, &result, &error)) {
                result.error = error;
                return result;
            }
        }

        if (options.day_nfo) {
            QJsonArray list;
            for (auto it = cameras.cbegin(); it != cameras.cend(); ++it) {
                QJsonObject entry;
                entry.insert(QStringLiteral("cam_id"), it.key());
                entry.insert(QStringLiteral("cam_name"), it.value());
                list.append(entry);
            }
            QJsonObject index;
            index.insert(QStringLiteral("cameras"), list);
            const QString path = day_path + QStringLiteral("/index.zqnfo");
            if (!write_encrypted(path, QJsonDocument(index).toJson(QJsonDocument::Compact), &error)) {
                result.error = error;
                return result;
            }
            result.files << path;
        }

        if (options.hash_list) {
            QJsonArray entries;
            const QDir day(day_path);
            for (const QString& path : hashed_files(day_path)) {
                QJsonObject entry;
                entry.insert(QStringLiteral("file"), QFileInfo(path).fileName());
                entry.insert(QStringLiteral("absolutepath"), path);
                entry.insert(QStringLiteral("path"), day.relativeFilePath(path));
                entry.insert(QStringLiteral("sha256"), sha256_of(path));
                entries.append(entry);
            }
            const QString path = day_path + QStringLiteral("/hash.json");
            // A whole day's list may pass the metadata cap; it has one of its own.
            if (!write_encrypted(path, QJsonDocument(entries).toJson(QJsonDocument::Compact), &error,
                                 Encrypt::kMaxHashListSize)) {
                result.error = error;
                return result;
            }
            result.files << path;
            result.hash_lists << path;
        }
    }
    for (QStringList* list : {&result.files, &result.alarm_pictures, &result.thumbnails, &result.previews, &result.tags,
                              &result.hash_lists})
        std::sort(list->begin(), list->end());
    result.ok = true;
    return result;
}

StorageResult write_storage(const Options& options, const MetadataOptions& metadata)
{
    StorageResult result;
    result.storage = write(options);
    if (!result.storage.ok) {
        result.error = result.storage.error;
        return result;
    }
    result.metadata = write_metadata(result.storage.root_path, metadata);
    if (!result.metadata.ok) {
        result.error = result.metadata.error;
        return result;
    }
    result.ok = true;
    return result;
}

} // namespace ZQFixture
