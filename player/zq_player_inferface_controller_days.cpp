// QML player controller: the storage folder, its days and cameras, and the loading of a day's lists
// from its index (or a build of it when the index is missing or stale).

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

// Sort key of a recording list: start time, then camera id, then name.
struct RecordingKey
{
    qint64 start = -1;
    qint64 camera = -1;
};

RecordingKey recording_key(const QFileInfo& info)
{
    RecordingKey k;
    const QString name = info.fileName();
    const int a = name.indexOf(QLatin1Char('_'));
    const int b = a > 0 ? name.indexOf(QLatin1Char('_'), a + 1) : -1;
    if (b < 0)
        return k;
    k.start = TimeText::hhmmss_to_ms(name.mid(b + 1, 6));
    if (name.size() > b + 7 && name.at(b + 7).isDigit())
        k.start = -1;  // more than six digits: not a start time
    k.camera = StorageLayout::camera_id_from_text(QStringView(name).left(a));
    return k;
}

void sort_by_start(QFileInfoList& list)
{
    std::vector<std::pair<RecordingKey, QFileInfo>> keyed;
    keyed.reserve(size_t(list.size()));
    for (const QFileInfo& f : std::as_const(list))
        keyed.emplace_back(recording_key(f), f);
    std::stable_sort(keyed.begin(), keyed.end(), [](const auto& a, const auto& b) {
        if (a.first.start != b.first.start)
            return a.first.start < b.first.start;
        if (a.first.camera != b.first.camera)
            return a.first.camera < b.first.camera;
        return a.second.fileName() < b.second.fileName();
    });
    list.clear();
    for (auto& e : keyed)
        list.append(e.second);
}

// The order the day's lists are used in: recordings by start time, previews by name.
void sort_day_lists(QFileInfoList& video, QFileInfoList& audio, QFileInfoList& preview)
{
    sort_by_start(video);
    sort_by_start(audio);
    std::stable_sort(preview.begin(), preview.end(),
                     [](const QFileInfo& a, const QFileInfo& b) { return a.fileName() < b.fileName(); });
}

} // namespace

void ZQPlayerInferfaceController::invalidate_day_caches()
{
    m_camera_videos_valid = false;
    m_camera_videos.clear();
    m_recordings_valid = false;
    m_recordings.clear();
    m_tags_valid = false;
    m_tags.clear();
}

void ZQPlayerInferfaceController::clear_day_state()
{
    m_video_files.clear();
    m_alarm_files.clear();
    m_tag_files.clear();
    m_audio_files.clear();
    m_preview_files.clear();
    m_loaded_day_folder.clear();
    invalidate_day_caches();
}

QStringList ZQPlayerInferfaceController::get_available_days(QString root_directory)
{
    QStringList days;
    if (root_directory.isEmpty())
        return days;
    log_info(QStringLiteral("get available days :: in directory ") + root_directory);
    const QString path = to_local_path(root_directory);

    // A new folder: nothing of the previous one may stay playing or listed.
    stop_playback();
    clear_day_state();
    m_camera_table.clear();
    m_selected_camera.clear();
    m_camera_id = -1;
    m_read_time.clear();
    m_selected_date.clear();
    m_root_folder.clear();

    const QFileInfo info(path);
    if (!info.isDir()) {
        log_warn(QStringLiteral("get available days :: ") + path + QStringLiteral("is not a directory"));
    } else if (!is_zqcore_directory(path)) {
        log_warn(QStringLiteral("get available days :: not a storage root folder :: ") + path);
    } else {
        // The same day folders the index build walks: named as dates, sorted, no links.
        for (const QString& folder : StorageLayout::day_folders(path)) {
            const QString day = QFileInfo(folder).fileName();
            log_info(QStringLiteral("available day append ") + day);
            days.append(day);
        }
        m_root_folder = info.absoluteFilePath();
        if (!days.isEmpty())
            m_selected_date = days.last();
    }

    if (days.isEmpty()) {
        m_ui->warning(QStringLiteral("Attention"), QStringLiteral("Aucun enregistrement trouvé dans le dossier ") + path);
        // No day will be loaded: the views still show the previous folder's day.
        emit dataChanged();
    }
    return days;
}

QString ZQPlayerInferfaceController::selected_date()
{
    return m_selected_date;
}

QString ZQPlayerInferfaceController::selected_camera()
{
    return m_selected_camera;
}

void ZQPlayerInferfaceController::set_selected_date(QString date)
{
    if (!date.isEmpty() && !parse_day(date, nullptr)) {
        log_warn(QStringLiteral("set selected date :: invalid date :: ") + date);
        return;
    }
    m_selected_date = date;
}

QFileInfoList ZQPlayerInferfaceController::get_days_list(const QString& folder)
{
    QFileInfoList result;
    for (const QString& day : StorageLayout::day_folders(to_local_path(folder))) {
        log_info(QStringLiteral("get days list :: available dir days append ") + day);
        result.append(QFileInfo(day));
    }
    return result;
}

QFileInfoList ZQPlayerInferfaceController::zqnfo_with_multiple_directory(const QString& folder)
{
    // The index builder's walk: sorted, and no symbolic link followed out of the day.
    return ZQIndexManager::zqnfo_with_multiple_directory(folder);
}

void ZQPlayerInferfaceController::clear_day_video_list()
{
    m_video_files.clear();
    invalidate_day_caches();
}

void ZQPlayerInferfaceController::clear_day_alarm_list()
{
    m_alarm_files.clear();
}

void ZQPlayerInferfaceController::clear_day_audio_list()
{
    m_audio_files.clear();
    invalidate_day_caches();
}

QStringList ZQPlayerInferfaceController::get_cameras_for_date(QString date)
{
    log_info(QStringLiteral("get cameras for date ") + date);
    m_camera_table.clear();

    QDate parsed;
    if (!parse_day(date, &parsed)) {
        log_warn(QStringLiteral("get cameras for date :: invalid date :: ") + date);
        show_day_without_camera();
        return {};
    }
    if (m_root_folder.isEmpty()) {
        log_warn(QStringLiteral("get cameras for date :: main directory empty"));
        show_day_without_camera();
        return {};
    }

    const QString day_folder = QDir(m_root_folder).filePath(date);
    // Another day (or a day folder that went away): what plays belongs to the old one.
    if (m_loaded_day_folder != day_folder || !QFileInfo(m_current_file).absolutePath().startsWith(day_folder))
        stop_playback();
    clear_day_state();
    m_selected_date = date;

    const QFileInfo day_info(day_folder);
    if (!day_info.isDir()) {
        log_warn(QStringLiteral("get cameras for date :: date directory ") + day_folder + QStringLiteral(" do not exist"));
        show_day_without_camera();
        return {};
    }
    const QDir day_dir(day_folder);
    if (!QDirIterator(day_folder, QDir::Dirs | QDir::NoDotAndDotDot).hasNext()) {
        log_warn(QStringLiteral("get cameras for date :: date directory ") + day_folder + QStringLiteral(" empty"));
        m_ui->warning(QStringLiteral("Attention"),
                      QStringLiteral("Aucun enregistrement trouvé dans le dossier ") + day_folder);
        show_day_without_camera();
        return {};
    }

    // Camera table: the day's "index.zqnfo" when it names as many cameras as
    // there are per-camera files, else every camera file.
    const QFileInfoList nfo_files =
        day_dir.entryInfoList(QStringList{QStringLiteral("*.zqnfo")}, QDir::Files | QDir::NoSymLinks, QDir::Name);
    int other_nfo = 0;
    for (const QFileInfo& f : nfo_files) {
        if (f.fileName().contains(QLatin1String("index"))) {
            log_info(QStringLiteral("zqnfo index path ") + f.absoluteFilePath());
            m_camera_table = ZQFile::check_and_parse_nfo_file(f, m_camera_table);
        } else {
            ++other_nfo;
        }
    }
    if (m_camera_table.isEmpty() || m_camera_table.size() != other_nfo) {
        for (const QFileInfo& f : nfo_files) {
            log_info(QStringLiteral("zqnfo path ") + f.absoluteFilePath());
            m_camera_table = ZQFile::check_and_parse_nfo_file(f, m_camera_table);
        }
        if (m_camera_table.isEmpty()) {
            const QFileInfoList deeper = zqnfo_with_multiple_directory(day_folder);
            log_info(QStringLiteral("ZQNfo count ") + QString::number(deeper.size()));
            for (const QFileInfo& f : deeper)
                m_camera_table = ZQFile::check_and_parse_nfo_file(f, m_camera_table);
            if (m_camera_table.isEmpty())
                m_camera_table = ZQFile::read_scrambled_nfo_files(deeper, m_camera_table);
        }
        // Written once per session and day: a storage folder that cannot be
        // written must not be rewritten on every load.
        if (!m_camera_table.isEmpty() && !m_written_nfo_index.contains(day_folder)) {
            m_written_nfo_index.insert(day_folder);
            if (!ZQFile::create_zqnfo_index_file(QFileInfo(day_dir.filePath(QStringLiteral("index.zqnfo"))),
                                                 m_camera_table))
                log_warn(QStringLiteral("get cameras for date :: cannot write index.zqnfo in ") + day_folder);
        }
    }

    // The day's lists from its index, or the index rebuild started (the lists then come with
    // indexGenerated(), when QML asks for the day again).
    init_day_video_list(day_folder + QLatin1Char('/'));

    // Cameras that recorded but have no camera information.
    for (const QFileInfo& f : std::as_const(m_video_files)) {
        const int id = StorageLayout::recording_camera_id(f.fileName());
        if (id < 0)
            continue;
        if (!m_camera_table.contains(id))
            m_camera_table.insert(id, QStringLiteral("Camera ") + QString::number(id));
    }
    if (m_camera_table.isEmpty()) {
        log_warn(QStringLiteral("get cameras for date :: no camera found"));
        show_day_without_camera();
    }

    QStringList names;
    for (int id : ZQFile::sorted_camera_ids(m_camera_table))
        names.append(m_camera_table.value(id));
    return names;
}

void ZQPlayerInferfaceController::show_day_without_camera()
{
    stop_playback();
    clear_day_state();
    emit dataChanged();
}

ZQPlayerInferfaceController::PreparedDay ZQPlayerInferfaceController::prepare_day(const QString& day_folder)
{
    QString folder = day_folder;
    if (!folder.endsWith(QLatin1Char('/')))
        folder += QLatin1Char('/');
    PreparedDay day;
    day.folder = QDir::cleanPath(folder);
    // One walk gives the fresh fingerprint and reads the stored index.
    ZQIndexManager::DayLoad load = ZQIndexManager::load_day(folder);
    day.fingerprint = load.fingerprint;
    day.stored = load.stored;
    day.current = load.current && !day.fingerprint.isEmpty() && day.stored == day.fingerprint;
    if (!day.current)
        return day;
    QElapsedTimer timer;
    timer.start();
    auto fill = [](QFileInfoList& list, const QStringList& paths) {
        list.reserve(paths.size());
        for (const QString& p : paths)
            list.append(QFileInfo(p));
    };
    fill(day.video, load.files.video);
    fill(day.alarm, load.files.alarm);
    fill(day.tag, load.files.tag);
    fill(day.audio, load.files.audio);
    fill(day.preview, load.files.preview);
    sort_day_lists(day.video, day.audio, day.preview);
    day.recordings = split_recordings(day.video, day.audio);
    day.camera_videos = split_camera_videos(day.video, QFileInfo(day.folder).fileName());
    day.fill_ms = timer.nsecsElapsed() / 1e6;
    return day;
}

void ZQPlayerInferfaceController::init_day_video_list(const QString& day_folder)
{
    apply_day(day_folder, prepare_day(day_folder));
}

void ZQPlayerInferfaceController::apply_day(const QString& day_folder, PreparedDay day)
{
    QString folder = day_folder;
    if (!folder.endsWith(QLatin1Char('/')))
        folder += QLatin1Char('/');
    const QString key = QDir::cleanPath(folder);

    const QString& snapshot = day.fingerprint;
    const QString& last_modified = day.stored;
    log_info(QStringLiteral("init day video list :: directory ") + folder + QStringLiteral(" :: hash snapshot :: ") +
             snapshot);
    log_info(QStringLiteral("last modified from index :: ") + last_modified);

    clear_day_state();
    m_loaded_day_folder = key;

    if (day.current) {
        log_info(QStringLiteral("get values from index"));
        m_video_files = std::move(day.video);
        m_alarm_files = std::move(day.alarm);
        m_tag_files = std::move(day.tag);
        m_audio_files = std::move(day.audio);
        m_preview_files = std::move(day.preview);
        m_recordings = std::move(day.recordings);
        m_recordings_valid = true;
        // Per camera for the folder's date (kept only while that date stays selected).
        m_camera_videos = std::move(day.camera_videos);
        m_camera_videos_date = QFileInfo(key).fileName();
        m_camera_videos_valid = true;
        log_info(QStringLiteral("media file parsed in ") + QString::number(day.fill_ms, 'g', 6) +
                 QStringLiteral(" ms"));
    }
    const QString compare_line =
        QStringLiteral("last modified :: ") + last_modified + QStringLiteral(" != ") + snapshot;
    log_info(compare_line);
    log_info(QStringLiteral("available video :: ") + QString::number(m_video_files.size()));

    if (day.current && !m_video_files.isEmpty())
        return;
    log_info(compare_line);

    if (snapshot.isEmpty()) {
        log_warn(QStringLiteral("init day video list :: no such folder :: ") + folder);
        return;
    }
    if (m_failed_days.contains(key) && m_failed_days.value(key) == snapshot) {
        log_warn(QStringLiteral("init day video list :: index failed before for ") + folder +
                 QStringLiteral(" :: not rebuilt"));
        return;
    }
    if (m_rebuilt_days.contains(key) && m_rebuilt_days.value(key) == snapshot) {
        // Rebuilt in this session, yet the stored index still does not match:
        // the folder cannot be written. Collect the lists directly.
        log_warn(QStringLiteral("init day video list :: index not current after rebuild :: collecting ") + folder);
        // The collection appends: drop what a current index without video gave.
        clear_day_state();
        m_loaded_day_folder = key;
        QFileInfoList nfo;
        ZQIndexManager manager;
        manager.videolist_with_multiple_directory(folder, m_video_files, m_alarm_files, m_tag_files, m_audio_files,
                                                  m_preview_files, nfo);
        sort_day_lists(m_video_files, m_audio_files, m_preview_files);
        return;
    }
    start_index_build(key, true, snapshot);
}

void ZQPlayerInferfaceController::set_selected_camera(QString camera)
{
    // By name: the first camera of that name (the chooser picks by id, as two cameras may share
    // a name).
    int id = -1;
    for (int candidate : ZQFile::sorted_camera_ids(m_camera_table)) {
        if (m_camera_table.value(candidate) == camera) {
            id = candidate;
            break;
        }
    }
    select_camera(id, camera);
}

void ZQPlayerInferfaceController::set_selected_camera_id(int camera_id)
{
    if (!m_camera_table.contains(camera_id)) {
        select_camera(-1, QString::number(camera_id));
        return;
    }
    select_camera(camera_id, m_camera_table.value(camera_id));
}

QList<int> ZQPlayerInferfaceController::camera_ids()
{
    return ZQFile::sorted_camera_ids(m_camera_table);
}
