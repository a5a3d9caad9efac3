// QML player controller: playback and seeking (the timeline's times to a recording and a reader
// position, camera and stream changes, file changes at a recording's end, the transport buttons).

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

} // namespace

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
        emit stopRead();
        return;
    }
    if (found) {
        m_reader->set_read_timestamp(ts);
        m_state = Reading;
        emit startRead();
        return;
    }
    log_warn(QStringLiteral("fail to get datetime"));
    // A file is still current but nothing plays (reading ended by itself, or paused): the seek
    // found nothing to start, and the controls, which show Pause as soon as a seek is asked,
    // must show the stopped state again. While reading, reading goes on and nothing is said.
    if (!reader_ticking()) {
        if (m_state == Reading)
            m_state = Stopped;
        emit stopRead();
    }
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
    emit stopRead();
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

void ZQPlayerInferfaceController::set_selected_videostream(int idstream)
{
    m_stream_id = idstream;
    log_info(QStringLiteral("set video stream id to ") + QString::number(idstream) + QStringLiteral(" at read time ") +
             m_read_time);
    seek_to_read_time();
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
    // The views reload the new camera's lists and reset the controls before reading starts, so
    // that a startRead() of the seek below comes after it.
    emit dataChanged();
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
}
