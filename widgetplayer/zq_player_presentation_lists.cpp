// Widget player window: the alarm and tag lists and their rows.

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

// ---------------------------------------------------------------- alarms and tags

namespace {

// The camera that line `index` of an alarm or tag chooser names, now chosen in it; -1 (every
// camera) for its first line.
int choose_camera(QComboBox* chooser, int index, const QHash<int, QString>& cameras)
{
    if (index <= 0 || chooser->count() == 0)
        return -1;
    const int id = DayMedia::camera_id_of_camera_text(chooser->itemText(index), cameras);
    chooser->setCurrentIndex(index);
    return id;
}

// The chooser's line of a camera, added when it is not listed yet.
int chooser_entry(QStringList* cameras, const QString& text)
{
    const qsizetype pos = cameras->indexOf(text);
    if (pos >= 0)
        return int(pos);
    cameras->append(text);
    return int(cameras->size() - 1);
}

void fill_chooser(QComboBox* chooser, const QStringList& cameras, int chosen)
{
    if (chooser->count() > 0)
        chooser->clear();
    chooser->addItems(cameras);
    if (chosen >= 0)
        chooser->setCurrentIndex(chosen);
    chooser->show();
}

// The alarm and tag lists: one column of rows drawn by their delegate, no headers or grid.
void show_list(QTableView* view, QAbstractItemModel* model, QAbstractItemDelegate* delegate, int row_height)
{
    view->setModel(model);
    view->setItemDelegate(delegate);
    view->setShowGrid(false);
    view->horizontalHeader()->hide();
    view->verticalHeader()->hide();
    view->horizontalHeader()->setDefaultSectionSize(200);
    view->verticalHeader()->setDefaultSectionSize(row_height);
    view->horizontalHeader()->setStretchLastSection(true);
    view->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
}

} // namespace

void ZQ_Player_presentation::set_alarm_list_from_cameraid(int camera_id)
{
    if (camera_id >= 0)
        m_current_camera_id = QString::number(camera_id);
    const QFileInfoList alarms = m_controller->day_alarm_list();
    if (alarms.isEmpty() || m_controller->day_video_list().isEmpty()) {
        m_ui->listVignettes_view->setModel(nullptr);
        m_ui->alarm_combobox->hide();
        return;
    }
    m_alarm_list.clear();
    QStringList cameras{QStringLiteral("Toutes les caméras")};
    int chosen = -1;
    log(QStringLiteral("alarm list from camera id :: id ") + QString::number(camera_id));
    log(QStringLiteral("alarm list from camera id :: size ") + QString::number(alarms.size()));
    for (const QFileInfo& f : alarms) {
        const QString name = f.fileName();
        if (!name.contains(QLatin1String("thumb.jpg")))
            continue;
        const QStringList parts = name.split(QLatin1Char('_'));
        QString cam, day, time;
        if (parts.size() == 4) {
            cam = parts[0];
            day = parts[2];
            time = parts[3].section(QLatin1Char('-'), 0, 0);
        } else if (parts.size() == 3) {
            cam = parts[0];
            day = parts[1];
            time = parts[2].section(QLatin1Char('-'), 0, 0);
        } else {
            continue;
        }
        const int id = DayMedia::parse_camera_id(cam);
        if (id < 0)
            continue;
        const QString text = DayMedia::camera_text(id, m_camera_table);
        const int pos = chooser_entry(&cameras, text);
        if (camera_id >= 0 && id == camera_id)
            chosen = pos;
        if (camera_id < 0 || id == camera_id)
            m_alarm_list.append(Vignette(name, f.filePath(), text, QString::number(id), day, time));
    }
    fill_chooser(m_ui->alarm_combobox, cameras, chosen);
    if (m_alarm_model)
        m_alarm_model->deleteLater();
    if (m_alarm_delegate)
        m_alarm_delegate->deleteLater();
    m_alarm_model = new AlarmModel(m_alarm_list);
    m_alarm_delegate = new AlarmItemDelegate(this);
    show_list(m_ui->listVignettes_view, m_alarm_model, m_alarm_delegate, 200);
    connect(m_alarm_delegate, &AlarmItemDelegate::cellButtonClicked, this, &ZQ_Player_presentation::set_timestamp);
    connect(m_alarm_delegate, &AlarmItemDelegate::cellDownloadButtonClicked, this,
            &ZQ_Player_presentation::open_alarm_popup);
}

void ZQ_Player_presentation::set_tags_list_from_cameraid(int camera_id)
{
    if (camera_id >= 0)
        m_current_camera_id = QString::number(camera_id);
    log(QStringLiteral("set tags list from cameraid :: ") + QString::number(camera_id));
    load_day_tags(); // each tag file as it is now
    if (m_controller->day_tags_list().isEmpty() || m_controller->day_video_list().isEmpty()) {
        m_ui->listTags_view->setModel(nullptr);
        m_ui->tags_comboBox->hide();
        return;
    }
    m_file_duration = file_duration_s();
    // Each tag is placed by its own camera's recordings, whichever camera the rows show.
    QHash<int, QVector<DayMedia::Entry>> video;
    for (const DayMedia::Entry& e : day_video_entries())
        video[e.camera].append(e);
    m_tags_list.clear();
    QStringList cameras{QStringLiteral("Toutes les caméras")};
    int chosen = -1;
    for (ZQTag* tag : std::as_const(m_day_tags)) {
        const QFileInfo file = m_tag_files.value(tag);
        // The tag's own camera and time; its file name's when it lacks them.
        const QStringList parts = file.fileName().split(QLatin1Char('_'));
        QString cam, day, time;
        if (parts.size() >= 4) {
            cam = parts[0];
            day = parts[2];
            time = parts[3];
        } else if (parts.size() == 3) {
            cam = parts[0];
            day = parts[1];
            time = parts[2];
        }
        time.remove(QStringLiteral(".zqtag"));
        QDate date;
        qint64 t = -1;
        QString datetime = tag->get_datetime();
        if (!TimeText::parse_yyyymmddhhmmss(datetime, &date, &t)) {
            datetime = day + time;
            if (!TimeText::parse_yyyymmddhhmmss(datetime, &date, &t)) {
                ZQLog::log(QStringLiteral("[ERROR] Zqplayer Display :: failed to parse TAG file ") + file.fileName());
                continue;
            }
        }
        const int id = DayMedia::parse_camera_id(tag->get_cam_id().isEmpty() ? cam : tag->get_cam_id());
        if (id < 0)
            continue;
        const QString text = DayMedia::camera_text(id, m_camera_table);
        const int pos = chooser_entry(&cameras, text);
        if (camera_id >= 0 && id == camera_id)
            chosen = pos;
        if (camera_id >= 0 && id != camera_id)
            continue;
        const auto own = video.constFind(id);
        if (own == video.cend())
            continue;
        const int holder = DayMedia::entry_for_alarm(*own, id, date.toString(QStringLiteral("yyyyMMdd")), t,
                                                     recording_ends_of(*own));
        if (holder >= 0)
            m_tags_list.append(Vignette(file.fileName(), file.path(), QFileInfo((*own)[holder].path), text, datetime,
                                        tag->get_name().left(1000), tag->get_description().left(10000),
                                        tag->get_id(), QString::number(id)));
    }
    fill_chooser(m_ui->tags_comboBox, cameras, chosen);
    if (m_tags_model)
        m_tags_model->deleteLater();
    if (m_tag_delegate)
        m_tag_delegate->deleteLater();
    m_tags_model = new TagsModel(m_tags_list);
    m_tag_delegate = new TagItemDelegate(this);
    show_list(m_ui->listTags_view, m_tags_model, m_tag_delegate, 50);
    connect(m_tag_delegate, &TagItemDelegate::cellButtonClicked, this, &ZQ_Player_presentation::set_timestamp);
}

void ZQ_Player_presentation::set_alarm_list_from_index(int index)
{
    log(QStringLiteral("set alarm list from index :: ") + QString::number(index));
    show_camera_lists(m_ui->alarm_combobox, index, &ZQ_Player_presentation::set_alarm_list_from_cameraid);
}

void ZQ_Player_presentation::set_tags_list_from_index(int index)
{
    log(QStringLiteral("set tags list from index :: ") + QString::number(index));
    show_camera_lists(m_ui->tags_comboBox, index, &ZQ_Player_presentation::set_tags_list_from_cameraid);
}

void ZQ_Player_presentation::show_camera_lists(QComboBox* chooser, int index,
                                               void (ZQ_Player_presentation::*fill_list)(int))
{
    m_file_duration = file_duration_s();
    const int id = choose_camera(chooser, index, m_camera_table);
    (this->*fill_list)(id);
    change_timelines_from_cameraid(id);
}

void ZQ_Player_presentation::set_timestamp(QModelIndex index)
{
    if (index.column() != 0)
        return;
    Vignette row;
    bool have = false;
    if (qobject_cast<AlarmItemDelegate*>(sender()) && m_alarm_model && index.row() < m_alarm_model->rowCount()) {
        row = m_alarm_model->get_vignette(index);
        have = true;
    } else if (qobject_cast<TagItemDelegate*>(sender()) && m_tags_model && index.row() < m_tags_model->rowCount()) {
        row = m_tags_model->get_vignette(index);
        have = true;
    }
    const QString timestamp = have ? row.get_datetime() : QString();
    QDate date;
    qint64 ms = -1;
    if (timestamp.isEmpty() || !TimeText::parse_yyyymmddhhmmss(timestamp, &date, &ms)) {
        ZQLog::log("[ERROR] Zqplayer Display :: set_timestamp  :: failed");
        return;
    }
    follow_reader_file();
    log(QStringLiteral("set_timestamp  :: timestamp      ") + timestamp);
    log(QStringLiteral("set_timestamp  :: video file     ") + m_actual_file);
    // Two seconds before, but not before the start of the day.
    const QString seek = TimeText::make_yyyymmddhhmmss(date, qMax<qint64>(0, ms - 2000));
    log(QStringLiteral("set_timestamp  :: recalc timestamp ") + seek);
    m_file_duration = file_duration_s();
    QFileInfo file = row.file;
    if (!file.isFile() && !row.camera_id.isEmpty() && !row.day.isEmpty() && !row.time.isEmpty())
        file = get_video_file_for_alarm(row.camera_id, row.day, row.time);
    if (file.filePath().isEmpty() || !file.isFile()) {
        ZQLog::log("[ERROR] Zqplayer Display :: no file to display");
        m_dialogs->warning(QStringLiteral("Attention"), QStringLiteral("Aucun fichier vidéo détecté"));
        return;
    }
    if (file.filePath() == m_actual_file) {
        const QString stream = chosen_stream();
        if (m_canvas && !stream.isEmpty() && !m_reader->get_id_stream().contains(stream)) {
            log(QStringLiteral("set_timestamp  :: change id stream"));
            change_camera(file);
        }
    } else {
        change_camera(file);
    }
    emit change_timestamp(seek);
}

void ZQ_Player_presentation::open_alarm_popup(QModelIndex index)
{
    ZQLog::log("[INFO] Zqplayer Display ::open_alarm_popup");
    if (!m_alarm_model || !index.isValid() || index.row() >= m_alarm_model->rowCount())
        return;
    m_dialogs->open_alarm_record(m_alarm_model->get_vignette(index));
}

