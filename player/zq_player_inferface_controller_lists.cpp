// QML player controller: the day's lists in the forms the QML views take (recordings per camera,
// timestamps, alarms, tags, audio, previews, stream ids).

#include "player/zq_player_inferface_controller.h"

#include "app/zq_log.h"
#include "download/download_job_host.h"
#include "export/export_format.h"
#include "export/popup_export.h"
#include "integrity/integrity_run.h"
#include "player/zq_player_controller_ui.h"
#include "playback/zq_stream_read_and_control.h"
#include "recordings/encrypt.h"
#include "recordings/seek_index.h"
#include "recordings/storage_layout.h"
#include "recordings/time_text.h"
#include "recordings/zq_file.h"
#include "recordings/zq_index_controller.h"
#include "recordings/zq_index_manager.h"
#include "view/canvas.h"

#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QEvent>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QMap>
#include <QRegularExpression>
#include <QTimer>
#include <QUrl>
#include <QVariantMap>

#include <algorithm>

namespace {

// A tag file is a small JSON object; anything bigger than the decrypter
// accepts is not one.
constexpr qint64 kMaxMetadataFileSize = Encrypt::kMaxFileSize;

const QRegularExpression& alarm_name_re()
{
    static const QRegularExpression re(QStringLiteral("(\\d+)_(\\d+)_(\\d{8}_\\d{6})"));
    return re;
}

const QRegularExpression& preview_name_re()
{
    static const QRegularExpression re(QStringLiteral("(\\d+)_([0-9]{8})_([0-9]{6})_(?:video)?preview\\.jpg"));
    return re;
}

// Tags read per day at most: a day holds a handful; thousands of files are not tags to show.
constexpr qsizetype kMaxTagFilesPerDay = 10000;
// Tag texts handed to the window at most: laying out megabytes of text freezes it.
constexpr qsizetype kMaxTagNameLength = 1000;
constexpr qsizetype kMaxTagDescriptionLength = 10000;

// The tag's plain values with each text capped; nested arrays and objects are not shown and
// are left out.
QVariantMap capped_tag(const QJsonObject& obj)
{
    QVariantMap map;
    for (auto it = obj.constBegin(); it != obj.constEnd(); ++it) {
        const QJsonValue v = it.value();
        if (v.isString()) {
            const qsizetype cap =
                it.key() == QLatin1String("tag_description") ? kMaxTagDescriptionLength : kMaxTagNameLength;
            map.insert(it.key(), v.toString().left(cap));
        } else if (v.isDouble() || v.isBool() || v.isNull()) {
            map.insert(it.key(), v.toVariant());
        }
    }
    return map;
}

} // namespace

QHash<int, QVector<ZQPlayerInferfaceController::Recording>>
ZQPlayerInferfaceController::split_recordings(const QFileInfoList& video, const QFileInfoList& audio)
{
    QHash<int, QVector<Recording>> recordings;
    auto add = [&recordings](const QFileInfoList& list, bool is_audio) {
        for (const QFileInfo& f : list) {
            const StorageLayout::RecordingName p = StorageLayout::parse_recording_name(f.fileName());
            if (!p.valid)
                continue;
            Recording r;
            r.start_ms = p.startMs;
            r.path = f.absoluteFilePath();
            r.start_text = p.startText;
            r.audio = is_audio;
            r.day = p.dayText;
            recordings[p.camera].append(r);
        }
    };
    add(video, false);
    add(audio, true);
    for (auto it = recordings.begin(); it != recordings.end(); ++it) {
        std::stable_sort(it->begin(), it->end(), [](const Recording& a, const Recording& b) {
            if (a.start_ms != b.start_ms)
                return a.start_ms < b.start_ms;
            return !a.audio && b.audio;
        });
    }
    return recordings;
}

const QHash<int, QVector<ZQPlayerInferfaceController::Recording>>& ZQPlayerInferfaceController::recordings_by_camera()
{
    if (!m_recordings_valid) {
        m_recordings = split_recordings(m_video_files, m_audio_files);
        m_recordings_valid = true;
    }
    return m_recordings;
}

QFileInfoList ZQPlayerInferfaceController::camera_day_video_list()
{
    return camera_videos(m_camera_id);
}

QHash<int, QFileInfoList> ZQPlayerInferfaceController::split_camera_videos(const QFileInfoList& video,
                                                                           const QString& date)
{
    // A video file belongs to a camera's day when its path reads
    // <root>/<yyyy-MM-dd>/<HHmmss>/<camera>_..., the root folder being a
    // storage root and the date the one asked for.
    QHash<int, QFileInfoList> by_camera;
    QString checked_root;  // the last root folder name found to be a storage root
    for (const QFileInfo& f : video) {
        const QString path = f.absoluteFilePath();
        const int s3 = path.lastIndexOf(QLatin1Char('/'));
        const int s2 = s3 > 0 ? path.lastIndexOf(QLatin1Char('/'), s3 - 1) : -1;
        const int s1 = s2 > 0 ? path.lastIndexOf(QLatin1Char('/'), s2 - 1) : -1;
        if (s1 < 0)
            continue;
        const int s0 = path.lastIndexOf(QLatin1Char('/'), s1 - 1);  // -1: the root is the first part
        const QStringView root = QStringView(path).mid(s0 + 1, s1 - s0 - 1);
        const QStringView day = QStringView(path).mid(s1 + 1, s2 - s1 - 1);
        const QStringView time = QStringView(path).mid(s2 + 1, s3 - s2 - 1);
        const QStringView name = QStringView(path).mid(s3 + 1);
        if (day != date || TimeText::hhmmss_to_ms(time.toString()) < 0)
            continue;
        if (!name.endsWith(QLatin1String(".zqvideo"), Qt::CaseInsensitive))
            continue;
        // A recording's name: camera, day and start joined by "_".
        const StorageLayout::RecordingName parts = StorageLayout::parse_recording_name(name);
        if (!parts.valid)
            continue;
        if (root != checked_root) {
            if (!StorageLayout::is_root_folder_name(root.toString()))
                continue;
            checked_root = root.toString();
        }
        by_camera[parts.camera].append(f);
    }
    return by_camera;
}

QFileInfoList ZQPlayerInferfaceController::camera_videos(int camera_id)
{
    // Worked out once per loaded day and date, for every camera.
    if (!m_camera_videos_valid || m_camera_videos_date != m_selected_date) {
        m_camera_videos = split_camera_videos(m_video_files, m_selected_date);
        m_camera_videos_date = m_selected_date;
        m_camera_videos_valid = true;
    }
    return m_camera_videos.value(camera_id);
}

QList<qint64> ZQPlayerInferfaceController::day_timestamp_list()
{
    QList<qint64> result;
    for (const QFileInfo& f : camera_day_video_list()) {
        const qint64 ms = TimeText::hhmmss_to_ms(f.absoluteDir().dirName());
        if (ms >= 0)
            result.append(ms);
    }
    return result;
}

QVariantList ZQPlayerInferfaceController::day_alarm_list_string()
{
    QMap<QString, QVariantMap> groups;
    for (const QFileInfo& f : std::as_const(m_alarm_files)) {
        const QString path = f.absoluteFilePath();
        const QString name = f.fileName();
        QString key = name;
        key.remove(QStringLiteral("-thumb"));
        key.remove(QStringLiteral(".jpg"));
        QVariantMap& map = groups[key];
        if (name.contains(QLatin1String("-thumb")))
            map.insert(QStringLiteral("thumbnail"), path);
        else
            map.insert(QStringLiteral("image"), path);
        map.insert(QStringLiteral("filename"), key + QStringLiteral(".jpg"));
        const QRegularExpressionMatch m = alarm_name_re().match(key);
        if (m.hasMatch()) {
            const QString datetime = m.captured(3).remove(QLatin1Char('_'));
            map.insert(QStringLiteral("cameraId"), m.captured(1));
            map.insert(QStringLiteral("alarmId"), m.captured(2));
            map.insert(QStringLiteral("datetime"), datetime);
            map.insert(QStringLiteral("severity"), QStringLiteral("medium"));
            map.insert(QStringLiteral("type"), datetime);
        }
    }
    QDate day;
    const bool have_day = parse_day(m_selected_date, &day);
    const QString day_text = have_day ? day.toString(QStringLiteral("yyyyMMdd")) : QString();
    QVariantList result;
    for (auto it = groups.cbegin(); it != groups.cend(); ++it) {
        const QVariantMap& map = it.value();
        bool ok = false;
        const int cam = map.value(QStringLiteral("cameraId")).toString().toInt(&ok);
        if ((ok ? cam : 0) != m_camera_id)
            continue;
        if (!have_day || !map.value(QStringLiteral("datetime")).toString().startsWith(day_text))
            continue;
        result.append(map);
    }
    return result;
}

const QVector<QJsonObject>& ZQPlayerInferfaceController::decrypted_tags()
{
    if (m_tags_valid)
        return m_tags;
    m_tags.clear();
    if (m_tag_files.size() > kMaxTagFilesPerDay)
        log_warn(QStringLiteral("day_tags_list_string :: only the first ") + QString::number(kMaxTagFilesPerDay)
                 + QStringLiteral(" of ") + QString::number(m_tag_files.size()) + QStringLiteral(" tag files read"));
    for (const QFileInfo& f : m_tag_files.mid(0, kMaxTagFilesPerDay)) {
        log_info(QStringLiteral("day_tags_list_string ") + f.absoluteFilePath());
        if (f.size() > kMaxMetadataFileSize) {
            log_warn(QStringLiteral("day_tags_list_string :: file too large :: ") + f.absoluteFilePath());
            continue;
        }
        const QString text = ZQFile::read_decrypted_text(f);
        // A tag is a few hundred bytes; a hostile file may hold megabytes, which
        // would flood the log (emptied past 15 MB) and push out everything else.
        log_info(QStringLiteral("day_tags_list_string :: json value ") + text.left(4096));
        QJsonParseError error;
        const QJsonDocument doc = QJsonDocument::fromJson(text.toUtf8(), &error);
        if (error.error != QJsonParseError::NoError || !doc.isObject()) {
            qWarning().noquote() << "Erreur de parsing JSON:" << error.errorString();
            continue;
        }
        m_tags.append(doc.object());
    }
    m_tags_valid = true;
    return m_tags;
}

QVariantList ZQPlayerInferfaceController::day_tags_list_string()
{
    QVariantList result;
    QDate day;
    if (!parse_day(m_selected_date, &day))
        return result;
    const QString day_text = day.toString(QStringLiteral("yyyyMMdd"));
    for (const QJsonObject& obj : decrypted_tags()) {
        const QJsonValue cam = obj.value(QStringLiteral("tag_cam_id"));
        if (!cam.isDouble() || cam.toDouble() != double(m_camera_id))
            continue;
        // A tag whose time does not read (an hour 99) has no place on the day.
        QDate tag_day;
        qint64 tag_ms = -1;
        if (!TimeText::parse_yyyymmddhhmmss(obj.value(QStringLiteral("tag_datetime")).toString(), &tag_day, &tag_ms)
            || tag_day != day)
            continue;
        result.append(capped_tag(obj));
    }
    return result;
}

QStringList ZQPlayerInferfaceController::day_audio_list_string()
{
    QStringList result;
    for (const QFileInfo& f : std::as_const(m_audio_files))
        result.append(f.absoluteFilePath());
    return result;
}

QVariantList ZQPlayerInferfaceController::day_preview_list_string()
{
    struct Item
    {
        int ms;
        QVariantMap map;
    };
    std::vector<Item> items;
    QDate day;
    const bool have_day = parse_day(m_selected_date, &day);
    const QString day_text = have_day ? day.toString(QStringLiteral("yyyyMMdd")) : QString();
    for (const QFileInfo& f : std::as_const(m_preview_files)) {
        const QRegularExpressionMatch m = preview_name_re().match(f.fileName());
        if (!m.hasMatch())
            continue;
        const qint64 ms = TimeText::hhmmss_to_ms(m.captured(3));
        if (ms < 0)
            continue;
        const int cam = StorageLayout::camera_id_from_text(m.captured(1));
        if (cam < 0 || cam != m_camera_id || m.captured(2) != day_text)
            continue;
        QString path = f.absoluteFilePath();
        const int sep = path.lastIndexOf(QLatin1String("::"));
        if (sep >= 0)
            path = path.mid(sep + 2);
        path = path.trimmed();
        path.remove(QLatin1Char('"'));
        QVariantMap map;
        map.insert(QStringLiteral("id"), cam);
        map.insert(QStringLiteral("date"), m.captured(2));
        map.insert(QStringLiteral("ms"), int(ms));
        map.insert(QStringLiteral("url"), QUrl::fromLocalFile(path).toString());
        items.push_back({int(ms), map});
    }
    std::stable_sort(items.begin(), items.end(), [](const Item& a, const Item& b) { return a.ms < b.ms; });
    QVariantList result;
    for (const Item& i : items)
        result.append(i.map);
    return result;
}

QString ZQPlayerInferfaceController::get_alarm_thumbnail_path(QString datetime)
{
    for (const QFileInfo& f : std::as_const(m_alarm_files)) {
        const QString name = f.fileName();
        if (!name.contains(QLatin1String("-thumb")))
            continue;
        const QRegularExpressionMatch m = alarm_name_re().match(name);
        if (!m.hasMatch())
            continue;
        const int cam = StorageLayout::camera_id_from_text(m.captured(1));
        if (cam < 0 || cam != m_camera_id)
            continue;
        if (m.captured(3).remove(QLatin1Char('_')) != datetime)
            continue;
        return f.absoluteFilePath();
    }
    return {};
}

QStringList ZQPlayerInferfaceController::get_videostreams_list()
{
    return m_stream_ids;
}

bool ZQPlayerInferfaceController::file_list_contains_name(const QFileInfoList& list, const QString& name)
{
    for (const QFileInfo& f : list) {
        if (f.fileName() == name)
            return true;
    }
    return false;
}
