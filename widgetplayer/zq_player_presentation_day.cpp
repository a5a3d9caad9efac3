// Widget player window: the day tree, the camera and its files, the hour rows and their filling.

#include "widgetplayer/zq_player_presentation.h"
#include "widgetplayer/zq_player_presentation_p.h"

#include "app/http_singleton.h"
#include "app/monotonic_clock.h"
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
#include <QSet>
#include <QStyle>
#include <QTableView>
#include <QTimer>
#include <QTreeView>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace {

bool seek_index_usable(const QString& path)
{
    const SeekCompanions c = seek_index_companions(path);
    if (!c.valid())
        return false;
    const QFileInfo seek(c.seekPath);
    if (!seek.exists())
        return false;
    const QFileInfo data(c.dataFile);
    return !(seek.size() < 1 && data.exists() && data.size() < 1);
}

} // namespace

// ---------------------------------------------------------------- day, camera, files

void ZQ_Player_presentation::tree_entered(QModelIndex index)
{
    if (!index.isValid())
        return;
    const QModelIndex source = m_proxy_model->mapToSource(index);
    const QString name = m_file_model->fileName(source);
    const QString path = m_file_model->filePath(source);
    const QDate date = StorageLayout::day_folder_date(name);
    if (!date.isValid()) {
        if (m_controller->is_zqcore_directory(path)) {
            const QString folder = StorageLayout::folder_with_slash(path);
            log(QStringLiteral("tree entered :: directory ") + folder);
            m_controller->get_days_list(folder);
        } else {
            m_day_folder.clear();
            m_ui->exportbutton->setEnabled(false);
            m_ui->integrityButton->setEnabled(false);
        }
        return;
    }
    log(QStringLiteral("tree entered :: valid datetime"));
    const bool same_day = StorageLayout::clean_folder_path(path) == StorageLayout::clean_folder_path(m_day_folder);
    m_current_date = date;
    m_day_folder = path;
    log(QStringLiteral("tree entered :: directory ") + m_day_folder);
    m_ui->exportbutton->setEnabled(true);
    m_ui->integrityButton->setEnabled(true);
    if (!same_day) {
        // A new day: nothing of the previous one may stay.
        m_current_camera_id = QStringLiteral("-1");
        stop_button();
        tear_down_timelines();
        log(QStringLiteral("tree entered :: clear all media list"));
        m_controller->clear_day_video_list();
        m_controller->clear_day_alarm_list();
        m_controller->clear_day_audio_list();
        m_loaded_day.clear();
        m_media_valid = false;
        m_actual_file.clear();
    }
    for (int i = 1; i <= 3; ++i)
        m_ui->tabWidget->setTabEnabled(i, true);
    for (QWidget* w : std::initializer_list<QWidget*>{m_ui->slider, m_ui->playButton, m_ui->stopButton,
                                                      m_ui->forwardButton, m_ui->backwardButton,
                                                      m_ui->snapshotButton, m_ui->rateBox})
        w->setEnabled(true);
    if (m_ui->tabWidget->currentIndex() == 1)
        tab_changed(1);
    else
        m_ui->tabWidget->setCurrentIndex(1);
}

void ZQ_Player_presentation::combox_index_changed(QString path)
{
    log(QStringLiteral("combox_index_changed : ") + path);
    m_file_model->setRootPath(path);
    const QString text = QString(path).remove(QLatin1Char('/'));
    const QModelIndexList hits = m_proxy_model->match(m_proxy_model->index(0, 0), Qt::DisplayRole, text, 1,
                                                      Qt::MatchStartsWith | Qt::MatchWrap);
    log(QStringLiteral("size : ") + QString::number(hits.size()));
    if (!hits.isEmpty()) {
        log(QStringLiteral("root index col: ") + QString::number(hits.first().column()) + QStringLiteral(" + row : ") +
            QString::number(hits.first().row()));
        m_ui->tree->setRootIndex(hits.first());
    }
}

void ZQ_Player_presentation::load_day_lists()
{
    if (m_day_folder.isEmpty())
        return;
    const QString key = StorageLayout::clean_folder_path(m_day_folder);
    if (m_loaded_day == key)
        return;
    m_controller->init_day_video_list(m_day_folder);
    m_media_valid = false;
    if (m_controller->day_video_list().isEmpty() && m_controller->day_audio_list().isEmpty()) {
        // A stale index is being rebuilt: the day is set up again when it is done.
        m_waiting_for_index = m_controller->is_indexing();
        m_loaded_day.clear();
        return;
    }
    m_loaded_day = key;
    load_day_tags();
}

void ZQ_Player_presentation::reload_day_lists()
{
    // Read again from the folder: recordings written since the day was opened
    // must show. A changed folder has its index rebuilt first, and the REC tab
    // is set up again when that is done.
    m_controller->clear_day_video_list();
    m_controller->clear_day_audio_list();
    m_controller->clear_day_alarm_list();
    m_loaded_day.clear();
    m_media_valid = false;
    load_day_lists();
}

void ZQ_Player_presentation::on_index_generated()
{
    if (!m_waiting_for_index || m_day_folder.isEmpty())
        return;
    m_waiting_for_index = false;
    log(QStringLiteral("index generated :: ") + m_day_folder);
    const int tab = m_ui->tabWidget->currentIndex();
    if (tab == 1) {
        tear_down_timelines();
        tab_changed(1);
        return;
    }
    // On another tab the day's lists, emptied for the rebuild, are read again
    // now (an alarm or tag row found no recording to play), and the filler
    // marks the camera's rows and slider from them; the REC tab is left as it is.
    const int camera = m_current_camera_id.toInt();
    if (camera >= 0)
        change_timelines_from_cameraid(camera);
    else
        load_day_lists();
    if (m_waiting_for_index)
        return; // changed again meanwhile: the next rebuild ends this
    // The REC tab's chooser offers the rebuilt day's cameras when the
    // operator comes back to it.
    init_day_cameras();
    fill_camera_chooser();
    QComboBox* chooser = tab == 2 ? m_ui->alarm_combobox : tab == 3 ? m_ui->tags_comboBox : nullptr;
    if (!chooser)
        return;
    // The camera the list shows: the one chosen, or every camera.
    const int listed = !chooser->isHidden() && chooser->count() > 0 && chooser->currentIndex() == 0 ? -1 : camera;
    if (tab == 2)
        set_alarm_list_from_cameraid(listed);
    else
        set_tags_list_from_cameraid(listed);
}

void ZQ_Player_presentation::free_day_tags()
{
    for (ZQTag* t : std::as_const(m_day_tags))
        delete t;
    m_day_tags.clear();
    m_tag_files.clear();
    m_tags_day.clear();
    m_tags_read_from.clear();
}

namespace {
// The day's tag files as they are on the disk now: a tag written, rewritten or removed since
// they were read changes it.
QStringList tag_files_now(const QFileInfoList& files)
{
    QStringList now;
    now.reserve(files.size());
    for (const QFileInfo& f : files) {
        const QFileInfo fresh(f.absoluteFilePath());
        now << fresh.absoluteFilePath() + QLatin1Char('|') + QString::number(fresh.size()) + QLatin1Char('|') +
                   QString::number(fresh.exists() ? fresh.lastModified().toMSecsSinceEpoch() : -1);
    }
    return now;
}
} // namespace

void ZQ_Player_presentation::load_day_tags()
{
    // The tags are read again whenever the day's tag files changed (the server tags the day
    // being recorded; a rebuilt index lists new ones), else kept: decrypting them all for
    // every list and row would be wasted.
    const QFileInfoList files = m_controller->day_tags_list();
    const QStringList now = tag_files_now(files);
    if (m_tags_day == m_loaded_day && !m_tags_day.isEmpty() && now == m_tags_read_from)
        return;
    // Rows, slider and lists hold pointers to the tags: drop theirs first.
    for (ZQTimeline* row : std::as_const(m_hour_rows))
        row->insert_tags({}, -1);
    m_ui->slider->check_and_add_tags({}, -1);
    if (m_tags_model) {
        m_ui->listTags_view->setModel(nullptr);
        m_tags_model->deleteLater();
        m_tags_model = nullptr;
    }
    free_day_tags();
    for (const QFileInfo& f : files) {
        ZQTag* tag = ZQFile::read_tags_file(f);
        if (!tag) {
            ZQLog::log(QStringLiteral("[ERROR] Zqplayer Display :: failed to parse TAG file ") + f.fileName());
            continue;
        }
        m_day_tags.append(tag);
        m_tag_files.insert(tag, f);
    }
    m_tags_day = m_loaded_day;
    m_tags_read_from = now;
    // The rows and the slider keep showing their camera, now with the tags as they are.
    for (ZQTimeline* row : std::as_const(m_hour_rows)) {
        row->insert_tags(m_day_tags, row->camera_id());
        row->update();
    }
    m_ui->slider->check_and_add_tags(m_day_tags, m_ui->slider->camera_id());
    m_ui->slider->update();
}

DayMedia::EndOf ZQ_Player_presentation::recording_ends_of(const QVector<DayMedia::Entry>& list) const
{
    playable_media(); // the ends of the lists the controller holds now
    return [this, &list](int i) { return m_day_ends.end_of(list[i], m_file_duration); };
}

QVector<DayMedia::Entry> ZQ_Player_presentation::playable_media() const
{
    if (m_media_valid)
        return m_media;
    m_day_video = DayMedia::entries_of(m_controller->day_video_list());
    QVector<DayMedia::Entry> all = m_day_video;
    all.append(DayMedia::entries_of(m_controller->day_audio_list()));
    QVector<DayMedia::Entry> out;
    for (const DayMedia::Entry& e : std::as_const(all)) {
        if (!seek_index_usable(e.path)) {
            log(QStringLiteral("timeline get datetime :: remove ") + e.path);
            continue;
        }
        out.append(e);
    }
    // Read again with the lists: a recording still being written may end later now.
    m_day_ends.reset(all);
    m_media = out;
    m_media_valid = true;
    return out;
}

QVector<DayMedia::Entry> ZQ_Player_presentation::day_video_entries() const
{
    playable_media();
    return m_day_video;
}

QFileInfoList ZQ_Player_presentation::camera_files(int camera, bool audio) const
{
    QVector<DayMedia::Entry> own;
    for (const DayMedia::Entry& e : playable_media())
        if (e.camera == camera && e.audio == audio)
            own.append(e);
    std::stable_sort(own.begin(), own.end(),
                     [](const DayMedia::Entry& a, const DayMedia::Entry& b) { return a.start_ms < b.start_ms; });
    QFileInfoList out;
    for (const DayMedia::Entry& e : own)
        out.append(QFileInfo(e.path));
    return out;
}

void ZQ_Player_presentation::tab_changed(int index)
{
    log(QStringLiteral("tab changed :: ") + QString::number(index));
    switch (index) {
    case 0:
        tear_down_timelines();
        break;
    case 1: {
        log(QStringLiteral("tab changed :: REC :: current camera id  ") + m_current_camera_id);
        if (m_timelines_container || m_day_folder.isEmpty())
            return;
        init_day_cameras();
        if (!m_camera_table.isEmpty() && m_current_camera_id == QLatin1String("-1"))
            m_current_camera_id = QString::number(ZQFile::sorted_camera_ids(m_camera_table).value(0, -1));
        m_minutes_per_file = 1;
        reload_day_lists();
        fill_camera_chooser();
        const int camera = m_current_camera_id.toInt();
        const QFileInfoList video = m_controller->day_video_list();
        const QFileInfoList audio = m_controller->day_audio_list();
        init_timelines(!video.isEmpty() ? video : audio, camera, 1);
        stop_button();
        break;
    }
    case 2:
        log(QStringLiteral("tab changed :: ALARMS :: current camera id ") + m_current_camera_id);
        load_day_lists();
        set_alarm_list_from_cameraid(m_current_camera_id.toInt());
        break;
    case 3:
        log(QStringLiteral("tab changed :: TAGS :: current camera id ") + m_current_camera_id);
        load_day_lists();
        set_tags_list_from_cameraid(m_current_camera_id.toInt());
        break;
    default:
        break;
    }
}

void ZQ_Player_presentation::fill_camera_chooser()
{
    // The camera table's names, and the day's cameras it does not name by
    // number ("CAMERA 3"): a camera whose first recording came after the
    // table was written can be chosen too. Camera-id order.
    QSet<int> recorded;
    for (const DayMedia::Entry& e : playable_media())
        recorded.insert(e.camera);
    QList<int> ids = ZQFile::sorted_camera_ids(m_camera_table);
    for (int id : std::as_const(recorded))
        if (!m_camera_table.contains(id))
            ids.append(id);
    std::sort(ids.begin(), ids.end());
    QStringList texts;
    QSet<QString> listed;
    for (int id : std::as_const(ids)) {
        const QString name = m_camera_table.value(id);
        if (name.isEmpty() && !recorded.contains(id))
            continue;
        const QString text = DayMedia::camera_text(id, m_camera_table);
        if (!listed.contains(text)) {
            listed.insert(text);
            texts.append(text);
        }
    }
    m_camera_combo->clear();
    m_camera_combo->addItems(texts);
    const int current = m_current_camera_id.toInt();
    for (int i = 0; i < m_camera_combo->count(); ++i)
        if (DayMedia::camera_id_of_camera_text(m_camera_combo->itemText(i), m_camera_table) == current)
            m_camera_combo->setCurrentIndex(i);
}

void ZQ_Player_presentation::tear_down_timelines()
{
    stop_filler();
    for (ZQTimeline* row : std::as_const(m_hour_rows))
        row->insert_tags({}, -1);
    m_hour_rows.clear();
    if (!m_timelines_container && !m_scroll_area)
        return;
    if (m_camera_combo)
        m_camera_combo->setParent(nullptr);
    delete m_scroll_area; // holds the container and the rows
    m_scroll_area = nullptr;
    m_timelines_container = nullptr;
    m_timelines_layout = nullptr;
    delete m_ui->tab_3->layout();
}

void ZQ_Player_presentation::change_timelines_from_combobox(int index)
{
    if (m_camera_combo->count() == 0)
        return;
    const QString text = m_camera_combo->itemText(index);
    log(QStringLiteral("change timelines from combobox :: combobox_index       ") + QString::number(index));
    log(QStringLiteral("change timelines from combobox :: camera name          ") + text);
    const int id = DayMedia::camera_id_of_camera_text(text, m_camera_table);
    change_timelines_from_cameraid(id);
    m_current_camera_id = QString::number(id);
}

void ZQ_Player_presentation::change_timelines_from_cameraid(int camera_id)
{
    if (camera_id < 0)
        return;
    log(QStringLiteral("change timeline for camera id :: ") + QString::number(camera_id) +
        QStringLiteral(" // current time :: ") + m_current_time);
    reload_day_lists();
    const QString name = DayMedia::camera_text(camera_id, m_camera_table);
    for (int i = 0; i < m_camera_combo->count(); ++i)
        if (m_camera_combo->itemText(i) == name)
            m_camera_combo->setCurrentIndex(i);
    const QFileInfoList video = m_controller->day_video_list();
    if (video.isEmpty())
        return;
    QFileInfoList files;
    for (const DayMedia::Entry& e : playable_media())
        if (!e.audio)
            files.append(QFileInfo(e.path));
    m_ui->slider->clear();
    m_ui->slider->set_camera_id(camera_id);
    m_ui->slider->check_and_add_tags(m_day_tags, camera_id);
    set_all_timelines_background(camera_id, files);
    m_reader->stop();
    update();
}

void ZQ_Player_presentation::set_all_timelines_background(int camera_id, QFileInfoList files)
{
    stop_filler();
    if (!m_wait_cursor) {
        QApplication::setOverrideCursor(Qt::WaitCursor);
        m_wait_cursor = true;
    }
    m_timeline_build_start = zq::monotonic_ns();
    QFileInfoList audio;
    for (const DayMedia::Entry& e : playable_media())
        if (e.audio)
            audio.append(QFileInfo(e.path));
    auto* filler = new ZQTimelinethread(camera_id, files, audio);
    filler->setParent(this);
    connect(filler, &ZQTimelinethread::filled, this, &ZQ_Player_presentation::on_filled, Qt::QueuedConnection);
    connect(filler, &QThread::finished, filler, &QObject::deleteLater);
    m_filler = filler;
    filler->start(QThread::InheritPriority);
}

void ZQ_Player_presentation::stop_filler()
{
    ZQTimelinethread* filler = m_filler.data();
    if (!filler)
        return;
    m_filler = nullptr;
    disconnect(filler, nullptr, this, nullptr);
    filler->cancel();
    filler->wait();
    delete filler;
    if (m_wait_cursor) {
        QApplication::restoreOverrideCursor();
        m_wait_cursor = false;
    }
}

void ZQ_Player_presentation::on_filled(QSharedPointer<TimelineFill> result)
{
    if (!result || sender() != m_filler.data())
        return;
    m_filler = nullptr; // it deletes itself once its thread has finished
    for (int h = 0; h < 24; ++h) {
        ZQTimeline* row = hour_row(h);
        if (!row)
            continue;
        row->clear();
        row->insert_tags(m_day_tags, result->camera);
        row->set_camera_id(result->camera);
        for (int m = 0; m < 60; ++m)
            if (result->rows[h][m])
                row->add_minutes(m, 1);
        row->update();
    }
    for (int i = 0; i < ZQSlidertimeline::kMinutes; ++i)
        if (result->day[i])
            m_ui->slider->add_minutes(i, 1);
    m_ui->slider->update();
    m_filled_streams = result->stream_ids;
    // The searches bound the camera's recordings by the same last pictures
    // the marks come from, without reading them again.
    playable_media();
    m_day_ends.add_last_pictures(result->lasts);
    timeline_thread_finished();
    emit timelines_filled();
}

void ZQ_Player_presentation::timeline_thread_finished()
{
    log(QStringLiteral("init timelines :: timelines creation done in ") +
        QString::number((zq::monotonic_ns() - m_timeline_build_start) / 1e6, 'g', 6) + QStringLiteral(" ms"));
    const QString chosen = chosen_stream();
    m_ui->video_stream_box->clear();
    for (const QString& token : std::as_const(m_filled_streams)) {
        log(QStringLiteral("init timelines :: id streams found :: ") + token);
        m_ui->video_stream_box->addItem(QStringLiteral("Video ") + QString(token).remove(QStringLiteral("video")));
    }
    // Keep the stream the operator chose when the new camera has it too.
    const int keep = m_ui->video_stream_box->findText(QStringLiteral("Video ") + chosen);
    if (!chosen.isEmpty() && keep >= 0)
        m_ui->video_stream_box->setCurrentIndex(keep);
    timeline_send_click(m_current_time, m_current_camera_id.toInt());
    update();
    if (m_wait_cursor) {
        QApplication::restoreOverrideCursor();
        m_wait_cursor = false;
    }
}

QString ZQ_Player_presentation::chosen_stream() const
{
    return m_ui->video_stream_box->currentText().remove(QStringLiteral("Video "));
}

bool ZQ_Player_presentation::load_reader(const QFileInfo& file)
{
    const QString stream = chosen_stream();
    const SeekCompanions c = seek_index_companions(file.filePath());
    const DayMedia::RecordingName name = DayMedia::parse_recording_name(file.fileName());
    if (!c.valid() || !name.valid() || stream.isEmpty())
        return false;
    m_reader->stop();
    if (m_canvas) {
        m_canvas->setEnding();
        // The tile drops frames after setEnding until a new stream starts.
        m_canvas->set_stream_start(true);
        m_canvas->set_camera_name(DayMedia::camera_text(name.camera, m_camera_table));
    }
    m_reader->set_camera_table(m_camera_table);
    const QFileInfoList playlist = camera_files(name.camera, c.kind == QLatin1String("audio"));
    if (!m_reader->init_displayer_for_stream(QFileInfo(c.seekPath), stream, playlist)) {
        log(QStringLiteral("change camera :: cannot load ") + c.seekPath);
        set_play_state(0);
        return false;
    }
    m_actual_file = file.filePath();
    log(QStringLiteral("set_actual_zqvideo_file  ") + m_actual_file);
    set_play_state(1);
    // Sets the reader's rate and starts reading in its direction.
    m_reader->change_rate(current_rate());
    return true;
}

void ZQ_Player_presentation::change_camera(const QFileInfo& file)
{
    const QString path = file.filePath();
    log(QStringLiteral("change camera :: ") + path);
    m_current_file = path;
    if (path.isEmpty() || (!path.contains(QLatin1String(".zqvideo")) && !path.contains(QLatin1String(".zqaudio"))))
        return;
    const DayMedia::RecordingName name = DayMedia::parse_recording_name(file.fileName());
    if (!name.valid())
        return;
    bool camera_changed = false;
    if (QString::number(name.camera) != m_current_camera_id) {
        m_current_camera_id = QString::number(name.camera);
        camera_changed = true;
        log(QStringLiteral("change camera :: current_camera_id ") + m_current_camera_id);
    }
    if (DayMedia::camera_id_of_camera_text(m_camera_combo->currentText(), m_camera_table) != name.camera) {
        for (int i = 0; i < m_camera_combo->count(); ++i) {
            if (DayMedia::camera_id_of_camera_text(m_camera_combo->itemText(i), m_camera_table) == name.camera) {
                log(QStringLiteral("change camera :: camera_combobox set index ") + QString::number(i));
                m_camera_combo->setCurrentIndex(i);
                change_timelines_from_combobox(i);
                break;
            }
        }
    }
    const QString stream = chosen_stream();
    if (stream.isEmpty())
        return;
    const QFileInfo actual(m_actual_file);
    if (!camera_changed && m_reader->get_id_stream() == stream && !m_actual_file.isEmpty()) {
        log(QStringLiteral("change camera :: continue decoding :: filename ") + m_current_file);
        const QString direction = current_rate() < 0 ? QStringLiteral("previous") : QStringLiteral("next");
        if (m_reader->continue_read(path, stream, true, direction)) {
            m_actual_file = path;
            log(QStringLiteral("set_actual_zqvideo_file  ") + path);
            set_play_state(1);
            return;
        }
    }
    if (m_play_state != 0)
        stop_button();
    log(QStringLiteral("change camera :: init decoder :: ") + m_current_file);
    load_reader(file);
}

void ZQ_Player_presentation::set_next_file()
{
    set_file(QStringLiteral("next"));
}

void ZQ_Player_presentation::set_previous_file()
{
    set_file(QStringLiteral("previous"));
}

void ZQ_Player_presentation::set_file(QString direction)
{
    follow_reader_file();
    log(QStringLiteral("set file :: current file :: ") + m_actual_file);
    const QFileInfo actual(m_actual_file);
    const DayMedia::RecordingName name = DayMedia::parse_recording_name(actual.fileName());
    if (!name.valid())
        return;
    DayMedia::Entry current;
    current.path = m_actual_file;
    current.camera = name.camera;
    current.day = name.day;
    current.start_ms = name.start_ms;
    current.audio = m_actual_file.endsWith(QLatin1String(".zqaudio"));
    const QVector<DayMedia::Entry> media = playable_media();
    const int found = DayMedia::adjacent_entry(media, current, direction.contains(QLatin1String("next")));
    if (found < 0) {
        log(QStringLiteral("set file :: no adjacent file, stays on ") + m_actual_file);
        return;
    }
    const QString next_file = media[found].path;
    log(QStringLiteral("set file :: new file :: ") + next_file);
    const QString stream = chosen_stream();
    if (stream.isEmpty())
        return;
    QString dir;
    if (m_play_state == 1)
        dir = current_rate() <= 0 ? QStringLiteral("previous") : QStringLiteral("next");
    else if (m_play_state == 2)
        dir = direction;
    else
        return;
    if (m_reader->continue_read(next_file, stream, true, dir))
        m_actual_file = next_file;
}

// ---------------------------------------------------------------- day set-up

void ZQ_Player_presentation::init_day_cameras()
{
    ZQLog::log("[INFO] Zqplayer Display :: init day cameras");
    m_camera_table.clear();
    if (m_day_folder.isEmpty())
        return;
    m_camera_table = read_day_cameras(m_day_folder, [this] {
        return m_controller->zqnfo_with_multiple_directory(m_day_folder);
    });
}

QHash<int, QString> ZQ_Player_presentation::read_day_cameras(const QString& day_folder,
                                                              const std::function<QFileInfoList()>& older_files)
{
    QHash<int, QString> table;
    const QDir day(day_folder);
    const QFileInfoList entries =
        day.entryInfoList({QStringLiteral("*.zqnfo")}, QDir::Files | QDir::NoSymLinks, QDir::Name);
    int others = 0;
    for (const QFileInfo& f : entries) {
        if (f.fileName().contains(QLatin1String("index"))) {
            ZQLog::log(kPrefix + QStringLiteral("init day cameras :: zqnfo index path ") + f.filePath());
            table = ZQFile::check_and_parse_nfo_file(f, table);
        } else {
            ++others;
        }
    }
    const QHash<int, QString> from_index = table;
    bool merged = false;
    if (table.isEmpty() || table.size() != others) {
        merged = true;
        for (const QFileInfo& f : entries) {
            ZQLog::log(kPrefix + QStringLiteral("init day cameras :: zqnfo path ") + f.filePath());
            table = ZQFile::check_and_parse_nfo_file(f, table);
        }
    }
    if (table.isEmpty() && older_files) {
        merged = true;
        const QFileInfoList old = older_files();
        ZQLog::log(kPrefix + QStringLiteral("init day cameras :: using old method. ZQNfo count ") +
                   QString::number(old.size()));
        for (const QFileInfo& f : old)
            table = ZQFile::read_scrambled_nfo_lines(f, table);
    }
    // Written only when it adds to what the index held: a read-only folder is
    // not asked again and again, and its failure is no error.
    if (merged && !table.isEmpty() && table != from_index) {
        const QFileInfo target(day.filePath(QStringLiteral("index.zqnfo")));
        if (!ZQFile::create_zqnfo_index_file(target, table))
            ZQLog::log(kPrefix + QStringLiteral("init day cameras :: index.zqnfo not written :: ") + target.filePath());
    }
    return table;
}

void ZQ_Player_presentation::init_timelines(QFileInfoList VIDEO_filelist, int camera_id, int minute_diff)
{
    m_minutes_per_file = minute_diff;
    log(QStringLiteral("init timelines :: camera id :: ") + QString::number(camera_id));
    tear_down_timelines();
    if (VIDEO_filelist.isEmpty()) {
        // A day without recordings: nothing of the previous day may stay on
        // the slider or in the stream chooser (its marks played nothing).
        m_ui->slider->clear();
        m_ui->slider->set_camera_id(camera_id);
        m_ui->slider->check_and_add_tags({}, camera_id);
        m_ui->slider->update();
        m_ui->video_stream_box->clear();
        update();
        return;
    }
    auto* container = new QWidget();
    auto* rows = new QVBoxLayout();
    rows->setSpacing(2);
    rows->setAlignment(Qt::AlignTop);
    rows->setContentsMargins(0, 0, 0, 0);
    // Dark when closed; its open list white with black names, the row under
    // the pointer light grey. The item rules are needed too: without them the
    // rows took the panel's white text, unreadable on white.
    m_camera_combo->setStyleSheet(QStringLiteral(
        "QComboBox{min-height:25px; max-height:25px; color:white; background-color:rgba(255,255,255,0.05);"
        " border:1px solid rgba(255,255,255,0.5); selection-background-color:lightgray; selection-color:black;}"
        "QComboBox QAbstractItemView{background-color:white; color:black; border:1px solid gray;"
        " selection-background-color:lightgray; selection-color:black; outline:0px;}"
        "QComboBox::item{background-color:white; color:black;}"
        "QComboBox::item:selected{background-color:lightgray; color:black;}"));
    QElapsedTimer clock;
    clock.start();
    log(QStringLiteral("init timelines :: video files count") + QString::number(VIDEO_filelist.size()));
    if (camera_id == -1) {
        for (const QFileInfo& f : std::as_const(VIDEO_filelist)) {
            const DayMedia::RecordingName n = DayMedia::parse_recording_name(f.fileName());
            if (n.valid()) {
                camera_id = n.camera;
                m_current_camera_id = QString::number(camera_id);
                break;
            }
        }
    }
    log(QStringLiteral("init timelines :: video files check and parse done in ") +
        QString::number(clock.nsecsElapsed() / 1e6, 'g', 6) + QStringLiteral(" ms"));
    m_ui->slider->clear();
    m_ui->slider->set_camera_id(camera_id);
    m_ui->slider->check_and_add_tags(m_day_tags, camera_id);
    if (camera_id != -1) {
        const QString name = DayMedia::camera_text(camera_id, m_camera_table);
        for (int i = 0; i < m_camera_combo->count(); ++i)
            if (DayMedia::camera_id_of_camera_text(m_camera_combo->itemText(i), m_camera_table) == camera_id ||
                m_camera_combo->itemText(i) == name)
                m_camera_combo->setCurrentIndex(i);
    }
    disconnect(m_camera_combo, &QComboBox::activated, this, &ZQ_Player_presentation::change_timelines_from_combobox);
    connect(m_camera_combo, &QComboBox::activated, this, &ZQ_Player_presentation::change_timelines_from_combobox);
    disconnect(m_ui->video_stream_box, &QComboBox::activated, this,
               &ZQ_Player_presentation::change_idstream_from_combobox);
    connect(m_ui->video_stream_box, &QComboBox::activated, this,
            &ZQ_Player_presentation::change_idstream_from_combobox);

    QFont font(QStringLiteral("Public Sans"), 7);
    font.setWeight(QFont::Normal);
    int height = 0;
    for (const QString& text : std::as_const(m_hour_labels)) {
        auto* label = new QLabel(text);
        label->setFont(font);
        label->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Minimum);
        label->setStyleSheet(QStringLiteral("font:7pt; margin-top:5px; color: white;"));
        label->setFixedHeight(20);
        rows->addWidget(label);
        auto* row = new ZQTimeline(text);
        row->set_label(label);
        row->clear();
        row->set_camera_id(camera_id);
        connect(row, &ZQTimeline::clicked, this, &ZQ_Player_presentation::timeline_send_click);
        m_hour_rows.insert(text, row);
        rows->addWidget(row);
        height += QFontMetrics(font).lineSpacing() + 30;
    }
    container->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    container->setLayout(rows);
    container->setMinimumHeight(height);
    container->setMaximumHeight(height);
    m_timelines_container = container;
    m_timelines_layout = rows;

    auto* scroll = new QScrollArea();
    scroll->setWidgetResizable(true);
    scroll->setSizeAdjustPolicy(QAbstractScrollArea::AdjustToContents);
    scroll->setStyleSheet(QStringLiteral("background-color:transparent; border:0px;"));
    scroll->setWidget(container);
    m_scroll_area = scroll;
    auto* outer = new QVBoxLayout();
    outer->addWidget(m_camera_combo);
    outer->addWidget(scroll);
    log(QStringLiteral("init timelines :: set ui tab 3 layout"));
    delete m_ui->tab_3->layout();
    m_ui->tab_3->setLayout(outer);
    m_camera_combo->show();

    set_all_timelines_background(camera_id, VIDEO_filelist);
    update();
}

ZQTimeline* ZQ_Player_presentation::get_timeline_for_time(const QString& time) const
{
    const int hour = DayMedia::hour_of_time_text(time);
    return hour < 0 ? nullptr : hour_row(hour);
}

QFileInfo ZQ_Player_presentation::get_video_file_for_alarm(const QString& camera, const QString& day,
                                                           const QString& time) const
{
    log(QStringLiteral("get video file for alarm :: alarm time :: ") + time);
    const QVector<DayMedia::Entry> video = day_video_entries();
    const int i = DayMedia::entry_for_alarm(video, DayMedia::parse_camera_id(camera), day,
                                            TimeText::hhmmss_to_ms(time), recording_ends_of(video));
    return i < 0 ? QFileInfo() : QFileInfo(video[i].path);
}

