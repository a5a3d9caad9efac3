// Widget player window: the play state, seeks from the rows and the slider, and the transport buttons.

#include "widgetplayer/zq_player_presentation.h"
#include "widgetplayer/zq_player_presentation_p.h"

#include "app/http_singleton.h"
#include "app/zq_log.h"
#include "download/download_job_host.h"
#include "export/export_format.h"
#include "export/popup_export.h"
#include "integrity/integrity_run.h"
#include "playback/zq_stream_read_and_control.h"
#include "player/zq_player_inferface_controller.h"
#include "recordings/seek_index.h"
#include "recordings/storage_layout.h"
#include "recordings/time_text.h"
#include "recordings/zq_file.h"
#include "recordings/zq_tag.h"
#include "view/canvas.h"
#include "widgetplayer/alarm_item_delegate.h"
#include "widgetplayer/alarm_model.h"
#include "widgetplayer/ui_zq_player_presentation.h"
#include "widgetplayer/widget_player_ui.h"
#include "widgetplayer/zq_player_tab_widget.h"
#include "widgetplayer/zq_slider_timeline.h"
#include "widgetplayer/zq_timeline.h"
#include "widgetplayer/zq_video_file_system_model.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QGraphicsOpacityEffect>
#include <QGridLayout>
#include <QHeaderView>
#include <QLabel>
#include <QProgressBar>
#include <QPropertyAnimation>
#include <QPushButton>
#include <QScrollArea>
#include <QStyle>
#include <QTableView>
#include <QTimer>
#include <QTreeView>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

// ---------------------------------------------------------------- play state and seeks

void ZQ_Player_presentation::set_play_state(int state)
{
    if (state == m_play_state)
        return;
    m_play_state = state;
    m_ui->stopButton->setEnabled(state != 0);
    m_ui->snapshotButton->setEnabled(state != 0);
    m_ui->playButton->setIcon(style()->standardIcon(state == 1 ? QStyle::SP_MediaPause : QStyle::SP_MediaPlay));
}

void ZQ_Player_presentation::setTime(QTime time)
{
    follow_reader_file();
    const QString text = time.toString(QStringLiteral("HH:mm:ss:zzz"));
    m_ui->lbl_timestamp->setText(text);
    m_current_time = text;
    m_time_shown = true;
}

void ZQ_Player_presentation::stop_button()
{
    m_reader->stop();
    if (m_canvas)
        m_canvas->stop_display(true);
    m_current_time = QStringLiteral("00:00:00:000");
    m_ui->lbl_timestamp->setText(m_current_time);
    {
        const QSignalBlocker block(m_ui->slider);
        m_ui->slider->QSlider::setValue(0);
    }
    if (m_play_state != 0) {
        // Forced, so that the buttons follow even when the state already read 0.
        m_play_state = -1;
        set_play_state(0);
    }
}

namespace {

bool same_path(const QString& a, const QString& b)
{
    return a == b || QDir::cleanPath(QFileInfo(a).absoluteFilePath()) == QDir::cleanPath(QFileInfo(b).absoluteFilePath());
}

} // namespace

void ZQ_Player_presentation::follow_reader_file()
{
    // The reader moves on to the next or previous recording by itself; the
    // searches compare the file a time lies in with the file being played.
    if (m_actual_file.isEmpty())
        return;
    const QString seek = m_reader->get_current_file().filePath();
    const SeekCompanions c = seek_index_companions(seek);
    if (!c.valid() || same_path(c.dataFile, m_actual_file))
        return;
    QString played = c.dataFile;
    for (const DayMedia::Entry& e : playable_media()) {
        if (same_path(e.path, c.dataFile)) {
            played = e.path; // as the day's lists write it
            break;
        }
    }
    m_actual_file = played;
    log(QStringLiteral("set_actual_zqvideo_file  ") + m_actual_file);
}

void ZQ_Player_presentation::reading_ended()
{
    // The reader went past the camera's last (or, backward, first) recording
    // and stopped. Stopped at the end: the last picture and its time stay on
    // screen, and Play reads again from that time.
    log(QStringLiteral("reading ended :: ") + m_current_time);
    set_frame_button_released();
    set_play_state(0);
}

void ZQ_Player_presentation::keep_reader_in_step()
{
    QTimer* timer = m_reader->get_read_timer();
    const bool reading = timer && timer->isActive();
    if (m_play_state == 1 && !reading && timer && m_reader->is_paused())
        m_reader->set_pause(); // resumes
    else if (m_play_state == 2 && reading)
        m_reader->set_pause(); // pauses
}

void ZQ_Player_presentation::set_frame_button_released()
{
    if (!m_frame_step_timer)
        return;
    m_frame_step_timer->stop();
    m_frame_step_timer->deleteLater();
    m_frame_step_timer = nullptr;
}

void ZQ_Player_presentation::updateRate()
{
    ZQLog::log("[INFO] Zqplayer Display :: updateRate");
    emit changeRate(current_rate());
}

void ZQ_Player_presentation::end_displayer()
{
    // The tile reports its end on every Stop and stream change; it stays the
    // window's display, ready for the next stream.
    log(QStringLiteral("end displayer"));
}

void ZQ_Player_presentation::slider_send_click(QString videotime_str, int camera_id)
{
    if (!m_time_shown)
        return;
    m_time_shown = false;
    timeline_send_click(videotime_str, camera_id);
}

void ZQ_Player_presentation::timeline_send_click(QString time, int camera_id)
{
    ZQLog::log(QStringLiteral("[INFO] ZQPlayer Display :: timeline send click :: search datetime for :: ") + time +
               QStringLiteral(" / id ") + QString::number(camera_id));
    const qint64 ms = DayMedia::ms_of_time_text(time);
    const QString hms = ms < 0 ? QString() : QTime::fromMSecsSinceStartOfDay(int(ms)).toString(QStringLiteral("HH:mm:ss"));
    QString found = timeline_get_datetime(hms, camera_id, 0);
    ZQLog::log(QStringLiteral("[INFO] ZQPlayer Display :: timeline send click :: found time :: ") + found);
    if (found.isEmpty()) {
        ZQLog::log(QStringLiteral("[INFO] ZQPlayer Display :: timeline send click :: search time again for :: ") +
                   hms + QStringLiteral(" / id ") + QString::number(camera_id));
        found = timeline_get_datetime(hms, camera_id, 900);
    }
    if (!found.isEmpty()) {
        ZQLog::log(QStringLiteral("[INFO] ZQPlayer Display :: timeline send click :: send change timestamp :: ") + found);
        emit change_timestamp(found);
        return;
    }
    ZQLog::log("[INFO] ZQPlayer Display :: timeline send click :: time not found");
    stop_button();
}

QString ZQ_Player_presentation::timeline_get_datetime(const QString& time, int camera_id, int approx)
{
    ZQLog::log(QStringLiteral("[INFO] ZQPlayer Display :: timeline send click get datetime :: time ") + time +
               QStringLiteral(" // camera_id ") + QString::number(camera_id) + QStringLiteral(" // approx ") +
               QString::number(approx));
    m_file_duration = file_duration_s();
    follow_reader_file();
    const QVector<DayMedia::Entry> media = playable_media();
    if (media.isEmpty()) {
        ZQLog::log("[WARN] Zqplayer Display :: timeline get datetime :: medialist is empty");
        return QString();
    }
    const qint64 k = DayMedia::ms_of_time_text(time);
    const DayMedia::SearchResult r = DayMedia::search_time(media, k, camera_id, approx, recording_ends_of(media));
    if (r.index < 0) {
        ZQLog::log("[WARN] Zqplayer Display :: timeline get datetime :: file not found");
        return QString();
    }
    const DayMedia::Entry& f = media[r.index];
    log(QStringLiteral("timeline get datetime :: change for file                 ") + f.path);
    const QString stream = chosen_stream();
    if (!stream.isEmpty()) {
        // Re-mark the chosen file's minutes from its own seek index.
        const int minute = int(f.start_ms / 60000);
        ZQTimeline* row = hour_row(minute / 60);
        if (row)
            row->remove_minutes(minute % 60, 1);
        m_ui->slider->remove_minutes(minute, 1);
        const SeekCompanions c = seek_index_companions(f.path);
        const ZQSeekLoad load = zq_load_seek_index(c.seekPath, stream, m_camera_table, nullptr);
        if (!load.frames.isEmpty()) {
            QList<ZQFrame> same_hour;
            for (const ZQFrame& fr : load.frames) {
                QDate d;
                qint64 ms = -1;
                if (TimeText::parse_yyyymmddhhmmsszzz(fr.get_timestamp(), &d, &ms) && ms / 3600000 == minute / 60)
                    same_hour.append(fr);
            }
            if (row) {
                row->set_minutes_from_frames(same_hour);
                row->update();
            }
            m_ui->slider->set_minutes_from_frames(load.frames);
            m_ui->slider->update();
        }
    }
    if (f.path == m_actual_file) {
        if (m_canvas && !stream.isEmpty() && !m_reader->get_id_stream().contains(stream)) {
            log(QStringLiteral("change id stream !"));
            change_camera(QFileInfo(f.path));
        } else if (m_play_state == 0 && !stream.isEmpty()) {
            // Stopped on this file: load it again so that the seek shows a picture.
            load_reader(QFileInfo(f.path));
        }
    } else {
        change_camera(QFileInfo(f.path));
    }
    const QString result =
        f.day + QTime::fromMSecsSinceStartOfDay(int(qMax<qint64>(0, k))).toString(QStringLiteral("HHmmss"));
    log(QStringLiteral("timeline get datetime :: emit change timestamp ") + result);
    return result;
}

// ---------------------------------------------------------------- transport

double ZQ_Player_presentation::current_rate() const
{
    return m_ui->rateBox->currentData(Qt::UserRole).toDouble();
}

void ZQ_Player_presentation::pause_button()
{
    if (m_play_state != 1)
        return;
    m_reader->set_pause();
    set_play_state(2);
}

void ZQ_Player_presentation::play_button()
{
    if (m_play_state == 2) {
        m_reader->set_pause();
        set_play_state(1);
        return;
    }
    if (m_play_state != 0)
        return;
    if (chosen_stream().isEmpty())
        return;
    // Stopped: play from the time on screen, else from the camera's first recording.
    const int camera = m_current_camera_id.toInt();
    if (m_current_time != QLatin1String("00:00:00:000")) {
        timeline_send_click(m_current_time, camera);
        if (m_play_state == 1)
            return;
    }
    const QFileInfoList own = camera_files(camera, false);
    const QFileInfoList files = own.isEmpty() ? camera_files(camera, true) : own;
    if (files.isEmpty())
        return;
    if (load_reader(files.first())) {
        const DayMedia::RecordingName n = DayMedia::parse_recording_name(files.first().fileName());
        emit change_timestamp(n.day + QTime::fromMSecsSinceStartOfDay(int(n.start_ms)).toString(QStringLiteral("HHmmss")));
    }
}

void ZQ_Player_presentation::play_pause_button_pressed()
{
    if (m_play_state == 1)
        emit pause();
    else
        emit play();
}

void ZQ_Player_presentation::rate_button(double rate)
{
    if (m_play_state == 0) {
        // Nothing is loaded: the rate applies when playback starts.
        log(QStringLiteral("rate button :: stopped, kept for the next start :: ") + QString::number(rate));
        return;
    }
    set_play_state(1);
    emit change_rate(rate);
}

// Steps go through the reader's step path: its timer-tick path (false) paces
// itself by the time since the last tick, and its first backward tick after
// forward reading shows the picture already on screen again.
void ZQ_Player_presentation::next_frame_button()
{
    m_reader->read_and_display_next_frame(true);
}

void ZQ_Player_presentation::previous_frame_button()
{
    m_reader->read_and_display_previous_frame(true);
}

void ZQ_Player_presentation::frame_step_timer(bool next)
{
    pause_button();
    set_frame_button_released();
    m_frame_step_timer = new QTimer();
    m_frame_step_timer->setInterval(250);
    connect(m_frame_step_timer, &QTimer::timeout, this,
            next ? &ZQ_Player_presentation::next_frame_button : &ZQ_Player_presentation::previous_frame_button);
    m_frame_step_timer->start();
}

void ZQ_Player_presentation::next_frame_button_pressed()
{
    frame_step_timer(true);
}

void ZQ_Player_presentation::previous_frame_button_pressed()
{
    frame_step_timer(false);
}

