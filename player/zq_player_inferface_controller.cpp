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

constexpr qint64 kMsPerDay = 86400000;
constexpr qint64 kLastMsOfDay = kMsPerDay - 1;
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

bool all_digits(const QString& text)
{
    if (text.isEmpty())
        return false;
    for (const QChar c : text) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
    }
    return true;
}

// Seek partner of a data file (the suffix only is replaced); empty for any other path.
QString seek_partner(const QString& path)
{
    const SeekCompanions c = seek_index_companions(path);
    return c.dataFile == path ? c.seekPath : QString();
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

} // namespace

// ---------------------------------------------------------------------------
// Construction

ZQPlayerInferfaceController::ZQPlayerInferfaceController(QObject* parent)
    : QObject(parent), m_ui(std::make_unique<ZQPlayerControllerDesktopUi>())
{
    log_info(QStringLiteral("construct"));
    m_reader = new ZQStreamReadAndControl();
    connect(m_reader, SIGNAL(set_next_file()), this, SLOT(set_next_file()));
    connect(m_reader, SIGNAL(set_previous_file()), this, SLOT(set_previous_file()));
    connect(m_reader, SIGNAL(setTime(QTime)), this, SLOT(setTime(QTime)));
    connect(m_reader, SIGNAL(send_available_videostream(QStringList)), this,
            SLOT(recv_available_videostream(QStringList)));
    connect(m_reader, &ZQStreamReadAndControl::reading_ended, this,
            &ZQPlayerInferfaceController::on_reading_ended);

    m_index_controller = new ZQIndexController(this);
    connect(m_index_controller, &ZQIndexController::allFinished, this,
            &ZQPlayerInferfaceController::on_index_finished);
    connect(m_index_controller, &ZQIndexController::errorOccurred, this,
            &ZQPlayerInferfaceController::on_index_error);
}

ZQPlayerInferfaceController::~ZQPlayerInferfaceController()
{
    log_info(QStringLiteral("destruct"));
    stop_integrity_check();
    m_reader->removeEventFilter(this);
    delete m_reader;
    m_reader = nullptr;
}

void ZQPlayerInferfaceController::set_ui(std::unique_ptr<ZQPlayerControllerUi> ui)
{
    if (ui)
        m_ui = std::move(ui);
}

void ZQPlayerInferfaceController::set_canvas(Canvas* canvas)
{
    m_canvas = canvas;
}

void ZQPlayerInferfaceController::log_info(const QString& text) const
{
    ZQLog::log(QStringLiteral("[INFO] ZQPlayer Interface Controller :: ") + text);
}

void ZQPlayerInferfaceController::log_warn(const QString& text) const
{
    ZQLog::log(QStringLiteral("[WARN] ZQPlayer Interface Controller :: ") + text);
}

void ZQPlayerInferfaceController::log_error(const QString& text) const
{
    ZQLog::log(QStringLiteral("[ERROR] ZQPlayer Interface Controller :: ") + text);
}

QString ZQPlayerInferfaceController::to_local_path(const QString& path_or_url)
{
    QString path = path_or_url.trimmed();
    if (path.startsWith(QLatin1String("file:"), Qt::CaseInsensitive))
        path = QUrl(path).toLocalFile();
    if (path.isEmpty())
        return path;
    return QDir::cleanPath(path);
}

bool ZQPlayerInferfaceController::parse_day(const QString& text, QDate* date)
{
    // "yyyy-MM-dd", read from its digits, as day folders are named.
    const QDate parsed = StorageLayout::day_folder_date(text);
    if (!parsed.isValid())
        return false;
    if (date)
        *date = parsed;
    return true;
}

// ---------------------------------------------------------------------------
// Storage folder and days

bool ZQPlayerInferfaceController::is_zqcore_directory(QString directory)
{
    const QString path = to_local_path(directory);
    if (path.isEmpty())
        return false;
    return StorageLayout::is_root_folder_name(QFileInfo(path).fileName());
}

void ZQPlayerInferfaceController::stop_playback()
{
    if (m_reader)
        m_reader->stop();
    m_state = Stopped;
    m_current_file.clear();
    m_stream_ids.clear();
    if (m_canvas)
        m_canvas->stop_display(true);
}

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

    if (days.isEmpty())
        m_ui->warning(QStringLiteral("Attention"), QStringLiteral("Aucun enregistrement trouvé dans le dossier ") + path);
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

// ---------------------------------------------------------------------------
// Cameras and day lists

QStringList ZQPlayerInferfaceController::get_cameras_for_date(QString date)
{
    log_info(QStringLiteral("get cameras for date ") + date);
    m_camera_table.clear();

    QDate parsed;
    if (!parse_day(date, &parsed)) {
        log_warn(QStringLiteral("get cameras for date :: invalid date :: ") + date);
        stop_playback();
        clear_day_state();
        return {};
    }
    if (m_root_folder.isEmpty()) {
        log_warn(QStringLiteral("get cameras for date :: main directory empty"));
        stop_playback();
        clear_day_state();
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
        return {};
    }
    const QDir day_dir(day_folder);
    if (!QDirIterator(day_folder, QDir::Dirs | QDir::NoDotAndDotDot).hasNext()) {
        log_warn(QStringLiteral("get cameras for date :: date directory ") + day_folder + QStringLiteral(" empty"));
        m_ui->warning(QStringLiteral("Attention"),
                      QStringLiteral("Aucun enregistrement trouvé dans le dossier ") + day_folder);
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

    init_day_video_list(day_folder + QLatin1Char('/'));

    // Cameras that recorded but have no camera information.
    for (const QFileInfo& f : std::as_const(m_video_files)) {
        const int id = StorageLayout::recording_camera_id(f.fileName());
        if (id < 0)
            continue;
        if (!m_camera_table.contains(id))
            m_camera_table.insert(id, QStringLiteral("Camera ") + QString::number(id));
    }
    if (m_camera_table.isEmpty())
        log_warn(QStringLiteral("get cameras for date :: no camera found"));

    QStringList names;
    for (int id : ZQFile::sorted_camera_ids(m_camera_table))
        names.append(m_camera_table.value(id));
    return names;
}

void ZQPlayerInferfaceController::sort_day_lists()
{
    sort_by_start(m_video_files);
    sort_by_start(m_audio_files);
    std::stable_sort(m_preview_files.begin(), m_preview_files.end(),
                     [](const QFileInfo& a, const QFileInfo& b) { return a.fileName() < b.fileName(); });
}

void ZQPlayerInferfaceController::init_day_video_list(const QString& day_folder)
{
    QString folder = day_folder;
    if (!folder.endsWith(QLatin1Char('/')))
        folder += QLatin1Char('/');
    const QString key = QDir::cleanPath(folder);

    QElapsedTimer timer;
    timer.start();
    // One walk gives the fresh fingerprint and reads the stored index.
    const ZQIndexManager::DayLoad load = ZQIndexManager::load_day(folder);
    const QString& snapshot = load.fingerprint;
    const QString& last_modified = load.stored;
    log_info(QStringLiteral("init day video list :: directory ") + folder + QStringLiteral(" :: hash snapshot :: ") +
             snapshot);
    log_info(QStringLiteral("last modified from index :: ") + last_modified);

    clear_day_state();
    m_loaded_day_folder = key;

    const bool current = load.current && !snapshot.isEmpty() && last_modified == snapshot;
    if (current) {
        log_info(QStringLiteral("get values from index"));
        auto fill = [](QFileInfoList& list, const QStringList& paths) {
            list.reserve(paths.size());
            for (const QString& p : paths)
                list.append(QFileInfo(p));
        };
        fill(m_video_files, load.files.video);
        fill(m_alarm_files, load.files.alarm);
        fill(m_tag_files, load.files.tag);
        fill(m_audio_files, load.files.audio);
        fill(m_preview_files, load.files.preview);
        log_info(QStringLiteral("media file parsed in ") + QString::number(timer.nsecsElapsed() / 1e6, 'g', 6) +
                 QStringLiteral(" ms"));
    }
    const QString compare_line =
        QStringLiteral("last modified :: ") + last_modified + QStringLiteral(" != ") + snapshot;
    log_info(compare_line);
    log_info(QStringLiteral("available video :: ") + QString::number(m_video_files.size()));

    if (current && !m_video_files.isEmpty()) {
        sort_day_lists();
        return;
    }
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
        sort_day_lists();
        return;
    }
    start_index_build(key, true, snapshot);
}

const QHash<int, QVector<ZQPlayerInferfaceController::Recording>>& ZQPlayerInferfaceController::recordings_by_camera()
{
    if (m_recordings_valid)
        return m_recordings;
    m_recordings.clear();
    auto add = [this](const QFileInfoList& list, bool audio) {
        for (const QFileInfo& f : list) {
            const StorageLayout::RecordingName p = StorageLayout::parse_recording_name(f.fileName());
            if (!p.valid)
                continue;
            Recording r;
            r.start_ms = p.startMs;
            r.path = f.absoluteFilePath();
            r.start_text = p.startText;
            r.audio = audio;
            r.day = p.dayText;
            m_recordings[p.camera].append(r);
        }
    };
    add(m_video_files, false);
    add(m_audio_files, true);
    for (auto it = m_recordings.begin(); it != m_recordings.end(); ++it) {
        std::stable_sort(it->begin(), it->end(), [](const Recording& a, const Recording& b) {
            if (a.start_ms != b.start_ms)
                return a.start_ms < b.start_ms;
            return !a.audio && b.audio;
        });
    }
    m_recordings_valid = true;
    return m_recordings;
}

QFileInfoList ZQPlayerInferfaceController::camera_day_video_list()
{
    return camera_videos(m_camera_id);
}

QFileInfoList ZQPlayerInferfaceController::camera_videos(int camera_id)
{
    // A video file belongs to the selected camera's day when its path reads
    // <root>/<yyyy-MM-dd>/<HHmmss>/<camera>_..., the root folder being a
    // storage root and the date the selected one. Worked out once per loaded
    // day and date, per camera.
    if (!m_camera_videos_valid || m_camera_videos_date != m_selected_date) {
        m_camera_videos.clear();
        m_camera_videos_date = m_selected_date;
        m_camera_videos_valid = true;
        for (const QFileInfo& f : std::as_const(m_video_files)) {
            const QString path = f.absoluteFilePath();
            const int s3 = path.lastIndexOf(QLatin1Char('/'));
            const int s2 = s3 > 0 ? path.lastIndexOf(QLatin1Char('/'), s3 - 1) : -1;
            const int s1 = s2 > 0 ? path.lastIndexOf(QLatin1Char('/'), s2 - 1) : -1;
            if (s1 < 0)
                continue;
            const int s0 = path.lastIndexOf(QLatin1Char('/'), s1 - 1);  // -1: the root is the first part
            const QStringView root = QStringView(path).mid(s0 + 1, s1 - s0 - 1);
            const QStringView date = QStringView(path).mid(s1 + 1, s2 - s1 - 1);
            const QStringView time = QStringView(path).mid(s2 + 1, s3 - s2 - 1);
            const QStringView name = QStringView(path).mid(s3 + 1);
            if (date != m_selected_date || TimeText::hhmmss_to_ms(time.toString()) < 0)
                continue;
            if (!name.endsWith(QLatin1String(".zqvideo"), Qt::CaseInsensitive))
                continue;
            // A recording's name: camera, day and start joined by "_".
            const StorageLayout::RecordingName parts = StorageLayout::parse_recording_name(name);
            if (!parts.valid)
                continue;
            const int camera = parts.camera;
            if (!StorageLayout::is_root_folder_name(root.toString()))
                continue;
            m_camera_videos[camera].append(f);
        }
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

// ---------------------------------------------------------------------------
// Index rebuilds

void ZQPlayerInferfaceController::regenerate_index()
{
    if (m_root_folder.isEmpty()) {
        // QML shows its waiting indicator before asking: end it.
        log_warn(QStringLiteral("start regenerate full index :: no storage folder"));
        emit indexFailed();
        return;
    }
    m_failed_days.clear();
    m_rebuilt_days.clear();
    log_info(QStringLiteral("start regenerate full index :: ") + m_root_folder);
    start_index_build(m_root_folder, false, QString());
}

void ZQPlayerInferfaceController::regenerate_index_for_current_date()
{
    if (m_root_folder.isEmpty() || !parse_day(m_selected_date, nullptr)) {
        log_warn(QStringLiteral("start regenerate index for current date :: no day selected"));
        emit indexFailed();
        return;
    }
    const QString day = QDir(m_root_folder).filePath(m_selected_date);
    m_failed_days.remove(day);
    m_rebuilt_days.remove(day);
    log_info(QStringLiteral("start regenerate index for current date :: ") + m_root_folder + QLatin1Char('/') +
             m_selected_date);
    ZQIndexManager manager;
    start_index_build(day, false, manager.generate_snapshot(day + QLatin1Char('/')));
}

void ZQPlayerInferfaceController::start_index_build(const QString& path, bool automatic, const QString& fingerprint)
{
    if (m_indexing) {
        // One run at a time: a later request waits for the run under way.
        if (path != m_index_path) {
            log_info(QStringLiteral("index generation :: queued :: ") + path);
            m_pending_index_path = path;
            m_pending_fingerprint = fingerprint;
        }
        return;
    }
    if (!QFileInfo(path).isDir()) {
        log_warn(QStringLiteral("index generation :: no such folder :: ") + path);
        emit indexFailed();
        return;
    }
    if (automatic)
        log_info(QStringLiteral("start regenerate index for current date :: ") + path);
    m_indexing = true;
    m_index_path = path;
    m_index_fingerprint = fingerprint;
    m_index_failed = false;
    emit startIndexGeneration();
    m_index_controller->generate_index(path);
}

void ZQPlayerInferfaceController::on_index_error(const QString& message)
{
    // Remember the failing day with the state it had, so that loading it
    // again does not start the same failing build.
    static const QRegularExpression day_re(QStringLiteral("(\\d{4}-\\d{2}-\\d{2})/?\\s*$"));
    QString day_key;
    QString fingerprint;
    if (parse_day(QFileInfo(m_index_path).fileName(), nullptr)) {
        day_key = m_index_path;
        fingerprint = m_index_fingerprint;
    } else {
        const QRegularExpressionMatch m = day_re.match(message);
        if (m.hasMatch() && !m_root_folder.isEmpty()) {
            day_key = QDir(m_root_folder).filePath(m.captured(1));
            ZQIndexManager manager;
            fingerprint = manager.generate_snapshot(day_key + QLatin1Char('/'));
        }
    }
    if (!day_key.isEmpty() && !fingerprint.isEmpty())
        m_failed_days.insert(day_key, fingerprint);
    log_warn(QStringLiteral("index generation :: failed :: ") + message);
    // A whole-folder run may fail on many days: one box per run.
    if (m_index_failed)
        return;
    m_index_failed = true;
    // The box runs its own event loop, in which the end of the run may
    // arrive: it is held back so that QML hears of the failure first.
    m_error_box_open = true;
    m_ui->warning(QStringLiteral("Attention"), message);
    m_error_box_open = false;
    emit indexFailed();
    if (m_finish_held) {
        m_finish_held = false;
        on_index_finished();
    }
}

void ZQPlayerInferfaceController::on_index_finished()
{
    if (!m_indexing)
        return;
    if (m_error_box_open) {
        m_finish_held = true;
        return;
    }
    m_indexing = false;
    if (!m_index_failed && !m_index_fingerprint.isEmpty())
        m_rebuilt_days.insert(m_index_path, m_index_fingerprint);
    log_info(QStringLiteral("index generation :: finished :: ") + m_index_path);
    m_index_path.clear();
    if (!m_pending_index_path.isEmpty()) {
        const QString next = m_pending_index_path;
        const QString fp = m_pending_fingerprint;
        m_pending_index_path.clear();
        m_pending_fingerprint.clear();
        emit indexGenerated();
        start_index_build(next, false, fp);
        return;
    }
    emit indexGenerated();
}

// ---------------------------------------------------------------------------
// Playback

void ZQPlayerInferfaceController::setTime(QTime time)
{
    m_read_time = time.isValid() ? time.toString(QStringLiteral("HHmmss")) : QString();
    emit timeChanged();
}

void ZQPlayerInferfaceController::recv_available_videostream(QStringList streams)
{
    m_stream_ids = streams;
    emit updateStreams();
}

void ZQPlayerInferfaceController::video_export_end()
{
    // The dialog whose copy ended, which need not be the newest one.
    auto* dialog = qobject_cast<PopupExport*>(sender());
    if (dialog) {
        dialog->closeall();
        dialog->deleteLater();
        if (m_export_dialog == dialog)
            m_export_dialog = nullptr;
    }
    m_ui->information(QStringLiteral("Information"), QStringLiteral("Votre exportation est terminée."));
}

int ZQPlayerInferfaceController::get_current_read_time_is_ms()
{
    const qint64 ms = TimeText::hhmmss_to_ms(m_read_time);
    return ms < 0 ? 0 : int(ms);
}

QString ZQPlayerInferfaceController::first_recording_timestamp()
{
    QDate day;
    if (!parse_day(m_selected_date, &day))
        return {};
    const QString day_text = day.toString(QStringLiteral("yyyyMMdd"));
    const auto& by_camera = recordings_by_camera();
    qint64 best = -1;
    QString name;
    for (auto it = by_camera.cbegin(); it != by_camera.cend(); ++it) {
        if (m_camera_id != -1 && it.key() != m_camera_id)
            continue;
        // Sorted by start: the first playable one of the day is the earliest.
        for (const Recording& r : it.value()) {
            if (r.audio || r.day != day_text)
                continue;
            if (best >= 0 && r.start_ms >= best)
                break;
            if (!has_seek_index(r.path, QStringLiteral("first file")))
                continue;
            best = r.start_ms;
            name = QFileInfo(r.path).fileName();
            break;
        }
    }
    if (best < 0)
        return {};
    log_info(QStringLiteral("set zqstream reader create from first file ") + name + QStringLiteral(" for camera ") +
             QString::number(m_camera_id));
    return TimeText::make_yyyymmddhhmmss(day, best);
}

void ZQPlayerInferfaceController::set_zqstream_reader_read_timestamp(QString timestamp)
{
    const QString text = timestamp.trimmed();
    QString ts;
    if (text.isEmpty()) {
        if (m_video_files.isEmpty()) {
            log_error(QStringLiteral("file liste empty for camera ") + QString::number(m_camera_id));
        } else {
            ts = first_recording_timestamp();
        }
    } else if (!all_digits(text)) {
        log_warn(QStringLiteral("set zqstream reader read timestamp :: refused :: ") + text);
        return;
    } else if (text.size() == 14) {
        QDate d;
        qint64 ms = 0;
        if (!TimeText::parse_yyyymmddhhmmss(text, &d, &ms)) {
            log_warn(QStringLiteral("set zqstream reader read timestamp :: invalid date-time :: ") + text);
            return;
        }
        ts = text;
        log_info(QStringLiteral("set zqstream reader read timestamp ") + ts + QStringLiteral(" for camera ") +
                 QString::number(m_camera_id));
    } else {
        QDate day;
        if (!parse_day(m_selected_date, &day)) {
            log_warn(QStringLiteral("set zqstream reader read timestamp :: no day selected"));
            return;
        }
        bool ok = false;
        qint64 ms = text.toLongLong(&ok);
        if (!ok || ms > kLastMsOfDay)  // overflowing digits are past the day too
            ms = kLastMsOfDay;
        ms = std::clamp<qint64>(ms, 0, kLastMsOfDay);
        ts = TimeText::make_yyyymmddhhmmss(day, ms);
        log_info(QStringLiteral("set zqstream reader create timestamp from ms ") + ts + QStringLiteral(" for camera ") +
                 QString::number(m_camera_id));
    }
    seek_to(ts);
}

void ZQPlayerInferfaceController::seek_to_read_time()
{
    QDate day;
    const qint64 ms = TimeText::hhmmss_to_ms(m_read_time);
    if (ms >= 0 && parse_day(m_selected_date, &day)) {
        const QString ts = TimeText::make_yyyymmddhhmmss(day, ms);
        log_info(QStringLiteral("set zqstream reader create timestamp from time ") + ts +
                 QStringLiteral(" for camera ") + QString::number(m_camera_id));
        seek_to(ts);
    } else {
        set_zqstream_reader_read_timestamp(QString());
    }
}

void ZQPlayerInferfaceController::seek_to(const QString& ts)
{
    if (ts.isEmpty()) {
        log_warn(QStringLiteral("set zqstream reader read from empty timestamp"));
        return;
    }
    const bool found = timeline_get_datetime(ts, m_camera_id);
    if (m_current_file.isEmpty()) {
        log_warn(QStringLiteral("set zqstream reader read on empty file"));
        m_reader->stop();
        m_state = Stopped;
        if (m_canvas)
            m_canvas->stop_display(true);
        return;
    }
    if (found) {
        m_reader->set_read_timestamp(ts);
        m_state = Reading;
        emit startRead();
        return;
    }
    log_warn(QStringLiteral("fail to get datetime"));
}

bool ZQPlayerInferfaceController::timeline_get_datetime(const QString& ts, int camera_id)
{
    log_info(QStringLiteral("timeline send click get datetime :: time ") + ts + QStringLiteral(" // camera_id ") +
             QString::number(camera_id) + QStringLiteral(" // approx ") + QString::number(0));
    if (m_video_files.isEmpty() && m_audio_files.isEmpty()) {
        log_warn(QStringLiteral("timeline get datetime :: medialist is empty"));
        return false;
    }
    QDate date;
    qint64 time_ms = 0;
    if (!TimeText::parse_yyyymmddhhmmss(ts, &date, &time_ms)) {
        log_warn(QStringLiteral("timeline get datetime :: file not found"));
        return false;
    }
    const QString day_text = date.toString(QStringLiteral("yyyyMMdd"));
    const auto& by_camera = recordings_by_camera();

    int camera = camera_id;
    if (camera == -1) {
        // No camera chosen: the camera of the first recording listed.
        const QFileInfoList& first_list = m_video_files.isEmpty() ? m_audio_files : m_video_files;
        camera = StorageLayout::recording_camera_id(first_list.first().fileName());
    }
    const QVector<Recording> recs = by_camera.value(camera);
    const qint64 span = qint64(m_seconds_per_file) * 1000;
    // Recordings are sorted by start: the candidates start in (time - span, time].
    auto it = std::upper_bound(recs.cbegin(), recs.cend(), time_ms,
                               [](qint64 t, const Recording& r) { return t < r.start_ms; });
    std::vector<const Recording*> candidates;
    while (it != recs.cbegin()) {
        --it;
        if (it->start_ms + span <= time_ms)
            break;
        if (it->day == day_text)
            candidates.push_back(&*it);
    }
    // Earliest start first, video before audio, as the list order gives.
    std::reverse(candidates.begin(), candidates.end());
    std::stable_sort(candidates.begin(), candidates.end(), [](const Recording* a, const Recording* b) {
        if (a->start_ms != b->start_ms)
            return a->start_ms < b->start_ms;
        return !a->audio && b->audio;
    });
    for (const Recording* r : candidates) {
        // The end is not wrapped past midnight: a recording that starts at
        // 23:59:30 holds the last 30 seconds of its day.
        if (!has_seek_index(r->path, QStringLiteral("timeline get datetime")))
            continue;
        return change_camera(QFileInfo(r->path));
    }
    log_warn(QStringLiteral("timeline get datetime :: file not found"));
    return false;
}

bool ZQPlayerInferfaceController::has_seek_index(const QString& path, const QString& step) const
{
    const QFileInfo partner(seek_partner(path));
    if (!partner.exists()) {
        log_info(step + QStringLiteral(" :: remove ") + path);
        return false;
    }
    // An empty seek index holds no frame: nothing to play there.
    if (partner.size() == 0) {
        log_info(step + QStringLiteral(" :: file") + path + QStringLiteral(" size ") +
                 QString::number(QFileInfo(path).size()));
        return false;
    }
    return true;
}

bool ZQPlayerInferfaceController::change_camera(const QFileInfo& file)
{
    const QString path = file.absoluteFilePath();
    log_info(QStringLiteral("change camera :: ") + path);
    if (!path.contains(QLatin1String(".zqvideo")) && !path.contains(QLatin1String(".zqaudio")))
        return false;

    const QString stream = QString::number(m_stream_id);
    if (m_reader->get_id_stream() != stream) {
        if (m_canvas)
            m_canvas->setEnding();
        log_info(QStringLiteral("change camera :: init decoder :: ") + path);
        // A fresh start: nothing of the previous stream may stay in the reader.
        m_reader->stop();
        const QFileInfo partner(seek_partner(path));
        // The playlist is that of the file's own camera: before a camera is
        // chosen the lookup plays the camera of the day's first recording.
        const int file_camera = StorageLayout::recording_camera_id(file.fileName());
        const QFileInfoList playlist = file_camera >= 0 ? camera_videos(file_camera) : camera_day_video_list();
        const bool ok = m_reader->init_displayer_for_stream(partner, stream, playlist);
        if (!ok) {
            // The reader was stopped above and holds nothing now: neither may
            // the controller, or later seeks and file changes would act on a
            // file that no longer plays.
            log_warn(QStringLiteral("change camera :: cannot load ") + partner.absoluteFilePath());
            m_state = Stopped;
            m_current_file.clear();
            m_stream_ids.clear();
            return false;
        }
        // The reader falls back to the stream the file holds; follow it, or
        // every later seek would start the stream again.
        bool num_ok = false;
        const int actual = m_reader->get_id_stream().toInt(&num_ok);
        if (num_ok && actual != m_stream_id) {
            log_info(QStringLiteral("change camera :: stream id now ") + QString::number(actual));
            m_stream_id = actual;
        }
        m_state = Reading;
        m_current_file = path;
        if (m_canvas) {
            m_canvas->set_stream_start(true);
            m_canvas->set_overlay_enabled(true);
            m_canvas->set_overlay_text_size(QStringLiteral("normal"));
            m_canvas->set_camera_name(m_selected_camera);
        }
        // A file started while playing backward goes on backward.
        if (m_playback_rate < 0)
            m_reader->read_backward();
        else
            m_reader->read_forward();
        emit startRead();
        return true;
    }
    log_info(QStringLiteral("change camera :: continue decoding :: filename ") + path);
    const QString direction = m_playback_rate < 0 ? QStringLiteral("previous") : QStringLiteral("next");
    if (m_reader->continue_read(path, stream, true, direction)) {
        m_current_file = path;
        m_state = Reading;
        return true;
    }
    return false;
}

void ZQPlayerInferfaceController::set_next_file()
{
    set_file(QStringLiteral("next"));
}

void ZQPlayerInferfaceController::set_previous_file()
{
    set_file(QStringLiteral("previous"));
}

void ZQPlayerInferfaceController::set_file(const QString& direction)
{
    if (m_current_file.isEmpty()) {
        log_warn(QStringLiteral("set file :: current file empty :: "));
        return;
    }
    log_info(QStringLiteral("set file :: current file :: ") + m_current_file);
    const StorageLayout::RecordingName cur = StorageLayout::parse_recording_name(QFileInfo(m_current_file).fileName());
    if (!cur.valid)
        return;
    const qint64 start = cur.startMs;
    const int camera = cur.camera;
    const bool audio = m_current_file.endsWith(QLatin1String(".zqaudio"));
    const bool next = direction.contains(QLatin1String("next"));

    // The adjacent recording of the same camera and kind on the same day.
    const QVector<Recording> recs = recordings_by_camera().value(camera);
    const Recording* chosen = nullptr;
    // Forward: the first later start; backward: the latest earlier start.
    for (int k = 0; k < recs.size(); ++k) {
        const Recording& r = recs.at(next ? k : recs.size() - 1 - k);
        if (r.audio != audio || r.day != cur.dayText)
            continue;
        if (next ? r.start_ms <= start : r.start_ms >= start)
            continue;
        if (!has_seek_index(r.path, QStringLiteral("set file")))
            continue;
        chosen = &r;
        break;
    }
    if (!chosen) {
        log_info(QStringLiteral("set file :: no ") + (next ? QStringLiteral("next") : QStringLiteral("previous")) +
                 QStringLiteral(" file for ") + m_current_file);
        return;
    }
    const QString new_file = chosen->path;
    log_info(QStringLiteral("set file :: new file :: ") + new_file);
    const QString stream = QString::number(m_stream_id);
    if (m_state == Reading) {
        const QString dir = m_playback_rate > 0 ? QStringLiteral("next") : QStringLiteral("previous");
        if (m_reader->continue_read(new_file, stream, true, dir))
            m_current_file = new_file;
    } else if (m_state == Paused) {
        if (m_reader->continue_read(new_file, stream, true, direction)) {
            m_current_file = new_file;
            // The reader starts reading the new file: paused stays paused.
            if (reader_ticking())
                m_reader->set_pause();
        }
    }
}

bool ZQPlayerInferfaceController::reader_ticking() const
{
    const QTimer* timer = m_reader->get_read_timer();
    return timer && timer->isActive();
}

void ZQPlayerInferfaceController::on_reading_ended()
{
    // The reader played past the end (or start) of the day's recordings: Play
    // starts again from the time read.
    log_info(QStringLiteral("reading ended"));
    m_state = Stopped;
}

void ZQPlayerInferfaceController::start_button()
{
    log_info(QStringLiteral("start button"));
    // The reader's pause is a toggle: it is used only where it goes the
    // right way, so that controller and reader never disagree.
    if (m_state == Paused && m_reader->get_read_timer()) {
        if (!reader_ticking())
            m_reader->set_pause();
        m_state = Reading;
        return;
    }
    seek_to_read_time();
}

void ZQPlayerInferfaceController::pause_button()
{
    if (m_state == Reading) {
        if (reader_ticking())
            m_reader->set_pause();
        m_state = Paused;
    }
}

void ZQPlayerInferfaceController::next_frame_button()
{
    log_info(QStringLiteral("next frame button"));
    pause_button();
    m_reader->read_and_display_next_frame(true);
}

void ZQPlayerInferfaceController::previous_frame_button()
{
    log_info(QStringLiteral("previous frame button"));
    pause_button();
    m_reader->read_and_display_previous_frame(true);
}

void ZQPlayerInferfaceController::set_playback_rate(int playback)
{
    log_info(QStringLiteral("set playback rate ") + QString::number(playback));
    m_playback_rate = playback;
    m_reader->change_rate(double(playback));
    if (!m_current_file.isEmpty())
        m_state = Reading;
}

void ZQPlayerInferfaceController::check_integrity()
{
    if (m_integrity || m_root_folder.isEmpty() || m_selected_date.isEmpty())
        return;
    log_info(QStringLiteral("check integrity :: ") + QDir(m_root_folder).filePath(m_selected_date));
    m_integrity = IntegrityRun::start(nullptr, m_root_folder, m_selected_date);
    if (m_integrity)
        connect(m_integrity, SIGNAL(finished()), this, SLOT(integrity_check_done()));
}

void ZQPlayerInferfaceController::integrity_check_done()
{
    log_info(QStringLiteral("integrity check done"));
    m_integrity = nullptr;
}

void ZQPlayerInferfaceController::stop_integrity_check()
{
    // Deleting the pair stops the check and waits for its thread.
    if (IntegrityRun* run = m_integrity) {
        m_integrity = nullptr;
        delete run;
    }
}

void ZQPlayerInferfaceController::video_export()
{
    ZQLog::log(QStringLiteral("[INFO] ZQPlayer Interface Controller :: export :: ") + m_root_folder + QStringLiteral("/")
               + m_selected_date);
    const QString timestamp = m_canvas ? m_canvas->get_current_timestamp() : QString();
    ZQLog::log(QStringLiteral("export ::  timestamp ") + timestamp);
    QDate date;
    qint64 ms = 0;
    if (!TimeText::parse_display_time(timestamp, &date, &ms))
        return;
    auto* dialog = new PopupExport(m_video_files, m_camera_id, QString::number(m_stream_id), QStringList(),
                                   m_root_folder + QStringLiteral("/") + m_selected_date, timestamp);
    dialog->set_job_host(DownloadJobHost::instance());
    m_export_dialog = dialog;
    connect(dialog, SIGNAL(endingsignal()), this, SLOT(video_export_end()));
    // A raw copy that fails ends with its error instead: the dialog is done.
    connect(dialog, &PopupExport::error, this, [this, dialog](int code) {
        if (!dialog->export_started())
            return; // a range error, shown by the dialog itself
        dialog->closeall();
        dialog->deleteLater();
        if (m_export_dialog == dialog)
            m_export_dialog = nullptr;
        m_ui->warning(QStringLiteral("Attention"), dialog->error_message(code));
    });
    dialog->setModal(true);
    dialog->show();
}

void ZQPlayerInferfaceController::set_selected_videostream(int idstream)
{
    m_stream_id = idstream;
    log_info(QStringLiteral("set video stream id to ") + QString::number(idstream) + QStringLiteral(" at read time ") +
             m_read_time);
    seek_to_read_time();
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

void ZQPlayerInferfaceController::select_camera(int id, const QString& camera)
{
    m_selected_camera = camera;
    m_camera_id = id;
    m_current_file.clear();
    m_stream_ids.clear();
    m_reader->stop();
    m_state = Stopped;
    if (m_canvas)
        m_canvas->stop_display(true);
    if (m_camera_id == -1) {
        // A name the table does not hold: nothing of another camera plays.
        log_warn(QStringLiteral("set selected camera :: unknown camera :: ") + camera);
    } else if (!m_read_time.isEmpty()) {
        log_info(QStringLiteral("set selected camera to ") + camera + QStringLiteral(" at read time ") + m_read_time);
        seek_to_read_time();
    } else {
        log_warn(QStringLiteral("set selected camera to ") + camera + QStringLiteral(" to empty read time "));
        if (m_canvas)
            m_canvas->stop_display(true);
    }
    // Only now is the controller's state the new camera's.
    emit dataChanged();
}

// ---------------------------------------------------------------------------
// Alarm pictures and snapshots

void ZQPlayerInferfaceController::open_alarm_popup(QString image_path)
{
    log_info(QStringLiteral("open alarm popup :: ") + image_path);
    const QString path = to_local_path(image_path);
    if (path.isEmpty())
        return;
    m_ui->open_alarm_viewer(path, m_selected_camera);
}

void ZQPlayerInferfaceController::snapshot_button()
{
    show_snapshot(false);
}

void ZQPlayerInferfaceController::snapshot_full_button()
{
    show_snapshot(true);
}

void ZQPlayerInferfaceController::show_snapshot(bool full)
{
    if (!m_canvas)
        return;
    // Nothing is uploaded: no session, no address.
    const QImage image = full ? m_canvas->get_snapshot_full(QString(), QString())
                              : m_canvas->get_snapshot(QString(), QString());
    if (image.isNull()) {
        log_warn(full ? QStringLiteral("snapshot full :: no picture on screen")
                      : QStringLiteral("snapshot :: no picture on screen"));
        return;
    }
    m_ui->open_snapshot_viewer(image, m_canvas->get_current_timestamp() + QStringLiteral(".jpg"));
}
