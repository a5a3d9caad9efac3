#include "widgetplayer/zq_player_presentation.h"

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

namespace {

const QString kPrefix = QStringLiteral("[INFO] Zqplayer Display :: ");

qint64 monotonic_ns()
{
    static QElapsedTimer clock = [] {
        QElapsedTimer t;
        t.start();
        return t;
    }();
    return clock.nsecsElapsed();
}

// The controller's message boxes go to the window's seam.
class ForwardingUi : public ZQPlayerControllerUi
{
public:
    explicit ForwardingUi(std::unique_ptr<WidgetPlayerUi>* target) : m_target(target) {}
    void warning(const QString& t, const QString& x) override
    {
        if (*m_target)
            (*m_target)->warning(t, x);
    }
    void open_alarm_viewer(const QString& p, const QString& c) override
    {
        if (*m_target)
            (*m_target)->open_alarm_viewer(p, c);
    }
    void open_snapshot_viewer(const QImage& i, const QString& n) override
    {
        if (*m_target)
            (*m_target)->open_snapshot_viewer(i, n);
    }

private:
    std::unique_ptr<WidgetPlayerUi>* m_target;
};

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

ZQ_Player_presentation::ZQ_Player_presentation(QWidget* parent) : QWidget(parent)
{
    m_ui = new Ui_ZQ_Player_presentation;
    m_ui->setupUi(this);
    setWindowFlags(Qt::Window | Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint |
                   Qt::WindowCloseButtonHint);
    set_log_level(1);
    ZQLog::log("[INFO] Zqplayer Display :: construct");
    m_dialogs = std::make_unique<WidgetPlayerDesktopUi>();

    m_canvas = new Canvas(this);
    m_canvas->set_stream_start(false);
    m_canvas->set_mouse_interaction(true);
    m_canvas->set_external_source();
    m_canvas->set_fullscreen_enabled(false);

    m_reader = new ZQStreamReadAndControl();
    m_controller = new ZQPlayerInferfaceController();
    m_controller->set_ui(std::make_unique<ForwardingUi>(&m_dialogs));
    m_current_file = QStringLiteral("/");
    m_day_folder.clear();
    m_file_duration = 60;
    m_ui->encodeprogress->hide();

    connect(this, &ZQ_Player_presentation::change_timestamp, m_reader, &ZQStreamReadAndControl::set_read_timestamp);
    connect(this, &ZQ_Player_presentation::change_rate, m_reader, &ZQStreamReadAndControl::change_rate);
    connect(this, &ZQ_Player_presentation::changeRate, this, &ZQ_Player_presentation::rate_button);
    connect(m_reader, &ZQStreamReadAndControl::slidervalue, m_ui->slider, &ZQSlidertimeline::setValue);
    connect(m_reader, &ZQStreamReadAndControl::setTime, this, &ZQ_Player_presentation::setTime);
    connect(m_reader, &ZQStreamReadAndControl::set_next_file, this, &ZQ_Player_presentation::set_next_file);
    connect(m_reader, &ZQStreamReadAndControl::set_previous_file, this, &ZQ_Player_presentation::set_previous_file);
    connect(m_reader, &ZQStreamReadAndControl::set_display_frame, m_canvas, &Canvas::displayFrame);
    connect(m_ui->slider, &QSlider::sliderPressed, m_reader, &ZQStreamReadAndControl::slider_pressed);
    connect(m_ui->slider, &ZQSlidertimeline::change_value, this, &ZQ_Player_presentation::slider_send_click);
    connect(m_ui->slider, &ZQSlidertimeline::slider_move, this, &ZQ_Player_presentation::setTime);
    connect(m_canvas, &Canvas::endingsignal, this, &ZQ_Player_presentation::end_displayer);
    connect(m_canvas, &Canvas::set_id_stream, this, &ZQ_Player_presentation::change_id_stream);
    connect(m_controller, &ZQPlayerInferfaceController::indexGenerated, this,
            &ZQ_Player_presentation::on_index_generated);
    connect(m_controller, &ZQPlayerInferfaceController::indexFailed, this, [this] {
        ZQLog::log(kPrefix + QStringLiteral("index failed :: ") + m_day_folder);
        m_waiting_for_index = false;
    });

    m_current_time = QStringLiteral("00:00:00:000");
    m_ui->lbl_timestamp->setText(m_current_time);
    m_ui->lbl_timestamp->setStyleSheet(QStringLiteral("color:white;"));

    QStyle* s = style();
    m_ui->playButton->setIcon(s->standardIcon(QStyle::SP_MediaPlay));
    m_ui->playButton->setToolTip(QStringLiteral("Lecture"));
    m_ui->stopButton->setIcon(s->standardIcon(QStyle::SP_MediaStop));
    m_ui->stopButton->setToolTip(QStringLiteral("Stop"));
    m_ui->forwardButton->setIcon(s->standardIcon(QStyle::SP_MediaSkipForward));
    m_ui->forwardButton->setToolTip(QStringLiteral("Frame suivante"));
    m_ui->backwardButton->setIcon(s->standardIcon(QStyle::SP_MediaSkipBackward));
    m_ui->backwardButton->setToolTip(QStringLiteral("Frame précédente"));
    m_ui->snapshotButton->setIcon(s->standardIcon(QStyle::SP_DialogSaveButton));
    m_ui->snapshotButton->setToolTip(QStringLiteral("Enregistrer l'image en cours"));

    for (int i = 1; i <= 3; ++i)
        m_ui->tabWidget->setTabEnabled(i, false);
    for (QWidget* w : std::initializer_list<QWidget*>{m_ui->slider, m_ui->playButton, m_ui->stopButton,
                                                      m_ui->forwardButton, m_ui->backwardButton,
                                                      m_ui->snapshotButton, m_ui->rateBox})
        w->setEnabled(false);

    connect(m_ui->playButton, &QPushButton::clicked, this, &ZQ_Player_presentation::play_pause_button_pressed);
    connect(this, &ZQ_Player_presentation::pause, this, &ZQ_Player_presentation::pause_button);
    connect(this, &ZQ_Player_presentation::play, this, &ZQ_Player_presentation::play_button);
    connect(m_ui->stopButton, &QPushButton::clicked, this, &ZQ_Player_presentation::stop_button);
    connect(m_ui->rateBox, &QComboBox::activated, this, &ZQ_Player_presentation::updateRate);
    connect(m_ui->forwardButton, &QPushButton::clicked, this, &ZQ_Player_presentation::next_frame_button);
    connect(m_ui->forwardButton, &QPushButton::pressed, this, &ZQ_Player_presentation::next_frame_button_pressed);
    connect(m_ui->forwardButton, &QPushButton::released, this, &ZQ_Player_presentation::set_frame_button_released);
    connect(m_ui->backwardButton, &QPushButton::clicked, this, &ZQ_Player_presentation::previous_frame_button);
    connect(m_ui->backwardButton, &QPushButton::pressed, this,
            &ZQ_Player_presentation::previous_frame_button_pressed);
    connect(m_ui->backwardButton, &QPushButton::released, this, &ZQ_Player_presentation::set_frame_button_released);
    connect(m_ui->snapshotButton, &QPushButton::clicked, this, &ZQ_Player_presentation::snapshot_button);

    const double rates[] = {-8.0, -4.0, -2.0, -1.0, 1.0, 2.0, 4.0, 8.0};
    for (double r : rates)
        m_ui->rateBox->addItem(QString::number(r, 'f', 1) + QLatin1Char('x'), r);
    m_ui->rateBox->setCurrentIndex(4);

    m_ui->displayLayout->addWidget(m_canvas);

    m_ui->exportbutton->setText(QStringLiteral("Export vidéo"));
    m_ui->exportbutton->setEnabled(false);
    m_ui->exportbutton->setStyleSheet(QStringLiteral("color: white;"));
    connect(m_ui->exportbutton, &QPushButton::clicked, this, &ZQ_Player_presentation::export_slot);
    m_ui->integrityButton->setText(QStringLiteral("Vérification de l'intégrité"));
    m_ui->integrityButton->setEnabled(false);
    m_ui->integrityButton->setStyleSheet(QStringLiteral("color: white;"));
    connect(m_ui->integrityButton, &QPushButton::clicked, this, &ZQ_Player_presentation::check_integrity_slot);

    // File tree: the disks, recordings only, shown by their start times.
    m_file_model = new ZQVideoFileSystemModel(this);
    m_file_model->setNameFilters({QStringLiteral("*.zqvideo")});
    m_file_model->setNameFilterDisables(false);
    m_file_model->setRootPath(QDir::rootPath());
    m_proxy_model = new TreeProxyModel();
    m_proxy_model->setFilterCaseSensitivity(Qt::CaseInsensitive);
    m_proxy_model->setFilterKeyColumn(0);
    m_proxy_model->setDynamicSortFilter(true);
    m_proxy_model->setSourceModel(m_file_model);
    QTreeView* tree = m_ui->tree;
    tree->setModel(m_proxy_model);
    for (int c = 1; c <= 3; ++c)
        tree->hideColumn(c);
    tree->setIndentation(7);
    tree->setSortingEnabled(true);
    tree->sortByColumn(0, Qt::AscendingOrder);
    connect(tree, &QTreeView::clicked, this, &ZQ_Player_presentation::tree_clicked);
    connect(tree, &QTreeView::doubleClicked, this, &ZQ_Player_presentation::tree_clicked);
    connect(tree, &QTreeView::clicked, this, &ZQ_Player_presentation::tree_entered);
    connect(tree, &QTreeView::expanded, this, &ZQ_Player_presentation::tree_entered);
    tree->header()->hide();
    tree->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    const QModelIndex home = tree_index_of(QDir::homePath());
    if (home.isValid()) {
        QList<QModelIndex> ancestors;
        for (QModelIndex p = home.parent(); p.isValid(); p = p.parent())
            ancestors.prepend(p);
        for (const QModelIndex& a : ancestors)
            tree->expand(a);
        tree->expand(home);
        tree->scrollTo(home, QAbstractItemView::EnsureVisible);
        tree->setCurrentIndex(home);
    }

    connect(m_ui->tabWidget, &QTabWidget::currentChanged, this, &ZQ_Player_presentation::tab_changed);
    setWindowTitle(QStringLiteral("ZQPlayer ") + Http_singleton::instance()->get_version());

    for (int h = 0; h < 24; ++h)
        m_hour_labels.append(QStringLiteral("%1:00:00 - %2:00:00")
                                 .arg(h, 2, 10, QLatin1Char('0'))
                                 .arg((h + 1) % 24, 2, 10, QLatin1Char('0')));

    if (m_ui->video_stream_box->count() > 0)
        m_ui->video_stream_box->clear();
    m_canvas->setGeometry(m_ui->displayLayout->geometry());
    m_camera_combo = new QComboBox();
    m_current_camera_id = QStringLiteral("-1");
    m_time_shown = false;
    m_ui->slider->clear();

    connect(m_ui->alarm_combobox, &QComboBox::activated, this, &ZQ_Player_presentation::set_alarm_list_from_index);
    connect(m_ui->tags_comboBox, &QComboBox::activated, this, &ZQ_Player_presentation::set_tags_list_from_index);
}

ZQ_Player_presentation::~ZQ_Player_presentation()
{
    ZQLog::log("[INFO] Zqplayer Display :: destruct");
    // Children emit while they are torn down (the tab widget its current
    // page, the combos their choice): none of it may reach this half-gone window.
    for (QObject* child : findChildren<QObject*>())
        child->disconnect(this);
    if (m_camera_combo)
        m_camera_combo->disconnect(this);
    m_reader->disconnect(this);
    m_controller->disconnect(this);
    stop_filler();
    set_frame_button_released();
    // Deleting the pair stops a running check and waits for its thread.
    if (IntegrityRun* run = m_integrity) {
        m_integrity = nullptr;
        delete run;
    }
    // The export dialog has no parent: it goes with the window (a raw copy
    // still running deletes itself when its thread finishes).
    if (PopupExport* dialog = m_export_dialog) {
        m_export_dialog = nullptr;
        dialog->disconnect(this);
        dialog->closeall();
        delete dialog;
    }
    ZQLog::log("[INFO] Zqplayer Display :: delete layout");
    tear_down_timelines();
    if (m_reader) {
        m_reader->stop();
        m_reader->wait_for_prefetches();
        delete m_reader;
        m_reader = nullptr;
    }
    ZQLog::log("[INFO] Zqplayer Display :: delete tabs");
    delete m_camera_combo;
    m_camera_combo = nullptr;
    // The lists and the slider point at the day tags: forget them first.
    m_ui->listTags_view->setModel(nullptr);
    m_ui->listVignettes_view->setModel(nullptr);
    delete m_alarm_model;
    delete m_tags_model;
    m_ui->slider->check_and_add_tags({}, -1);
    free_day_tags();
    delete m_controller;
    m_controller = nullptr;
    m_ui->tree->setModel(nullptr);
    delete m_proxy_model;
    m_proxy_model = nullptr;
    ZQLog::log("[INFO] Zqplayer Display :: delete ui");
    delete m_ui;
    m_ui = nullptr;
    ZQLog::log("[INFO] Zqplayer Display :: destruct done");
}

void ZQ_Player_presentation::set_ui(std::unique_ptr<WidgetPlayerUi> ui)
{
    if (ui)
        m_dialogs = std::move(ui);
}

void ZQ_Player_presentation::log(const QString& text) const
{
    ZQLog::log(kPrefix + text);
}

ZQTimeline* ZQ_Player_presentation::hour_row(int hour) const
{
    return m_hour_rows.value(m_hour_labels.value(hour), nullptr);
}

bool ZQ_Player_presentation::is_filling() const
{
    return m_filler && !m_filler->isFinished();
}

QModelIndex ZQ_Player_presentation::tree_index_of(const QString& path) const
{
    const QModelIndex source = m_file_model->index(path);
    return source.isValid() ? m_proxy_model->mapFromSource(source) : QModelIndex();
}

void ZQ_Player_presentation::tree_clicked(QModelIndex) {}

void ZQ_Player_presentation::open_button() {}

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

void ZQ_Player_presentation::on_index_generated()
{
    if (!m_waiting_for_index || m_day_folder.isEmpty())
        return;
    m_waiting_for_index = false;
    log(QStringLiteral("index generated :: ") + m_day_folder);
    tear_down_timelines();
    if (m_ui->tabWidget->currentIndex() == 1)
        tab_changed(1);
}

void ZQ_Player_presentation::free_day_tags()
{
    for (ZQTag* t : std::as_const(m_day_tags))
        delete t;
    m_day_tags.clear();
    m_tag_files.clear();
    m_tags_day.clear();
}

void ZQ_Player_presentation::load_day_tags()
{
    if (m_tags_day == m_loaded_day && !m_tags_day.isEmpty())
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
    for (const QFileInfo& f : m_controller->day_tags_list()) {
        ZQTag* tag = ZQFile::read_tags_file(f);
        if (!tag) {
            ZQLog::log(QStringLiteral("[ERROR] Zqplayer Display :: failed to parse TAG file ") + f.fileName());
            continue;
        }
        m_day_tags.append(tag);
        m_tag_files.insert(tag, f);
    }
    m_tags_day = m_loaded_day;
}

QVector<DayMedia::Entry> ZQ_Player_presentation::playable_media() const
{
    if (m_media_valid)
        return m_media;
    QVector<DayMedia::Entry> out;
    for (const QFileInfoList& list : {m_controller->day_video_list(), m_controller->day_audio_list()}) {
        for (const DayMedia::Entry& e : DayMedia::entries_of(list)) {
            if (!seek_index_usable(e.path)) {
                log(QStringLiteral("timeline get datetime :: remove ") + e.path);
                continue;
            }
            out.append(e);
        }
    }
    m_media = out;
    m_media_valid = true;
    return out;
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
        if (!m_camera_table.isEmpty()) {
            QStringList names;
            for (int id : ZQFile::sorted_camera_ids(m_camera_table)) {
                const QString name = m_camera_table.value(id);
                if (!name.isEmpty() && !names.contains(name))
                    names.append(name);
            }
            if (!names.isEmpty()) {
                m_camera_combo->clear();
                m_camera_combo->addItems(names);
            }
            if (m_current_camera_id == QLatin1String("-1"))
                m_current_camera_id = QString::number(ZQFile::sorted_camera_ids(m_camera_table).value(0, -1));
        }
        m_minutes_per_file = 1;
        load_day_lists();
        if (m_camera_table.isEmpty()) {
            // Without camera-information files the chooser names cameras by number.
            QList<int> ids;
            for (const DayMedia::Entry& e : playable_media())
                if (!ids.contains(e.camera))
                    ids.append(e.camera);
            std::sort(ids.begin(), ids.end());
            m_camera_combo->clear();
            for (int id : ids)
                m_camera_combo->addItem(DayMedia::camera_text(id, m_camera_table));
        }
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
    // The day's lists are already loaded: a camera change reuses them.
    load_day_lists();
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
    m_timeline_build_start = monotonic_ns();
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
    if (!m_filler)
        return;
    ZQTimelinethread* filler = m_filler;
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
    timeline_thread_finished();
    emit timelines_filled();
}

void ZQ_Player_presentation::timeline_thread_finished()
{
    log(QStringLiteral("init timelines :: timelines creation done in ") +
        QString::number((monotonic_ns() - m_timeline_build_start) / 1e6, 'g', 6) + QStringLiteral(" ms"));
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
    m_file_duration = m_minutes_per_file * 60;
    const QVector<DayMedia::Entry> media = playable_media();
    if (media.isEmpty()) {
        ZQLog::log("[WARN] Zqplayer Display :: timeline get datetime :: medialist is empty");
        return QString();
    }
    const qint64 k = DayMedia::ms_of_time_text(time);
    const DayMedia::SearchResult r = DayMedia::search_time(media, k, camera_id, approx, m_file_duration);
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
        update();
        return;
    }
    auto* container = new QWidget();
    auto* rows = new QVBoxLayout();
    rows->setSpacing(2);
    rows->setAlignment(Qt::AlignTop);
    rows->setContentsMargins(0, 0, 0, 0);
    m_camera_combo->setStyleSheet(QStringLiteral(
        "QComboBox{min-height:25px; max-height:25px; color:white; background-color:rgba(255,255,255,0.05);"
        " border:1px solid rgba(255,255,255,0.5);}"
        "QComboBox QAbstractItemView{background-color:white; color:black; selection-background-color:lightgray;}"));
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
    const QVector<DayMedia::Entry> video = DayMedia::entries_of(m_controller->day_video_list());
    const int i = DayMedia::entry_for_alarm(video, DayMedia::parse_camera_id(camera), day,
                                            TimeText::hhmmss_to_ms(time), m_file_duration);
    return i < 0 ? QFileInfo() : QFileInfo(video[i].path);
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

// ---------------------------------------------------------------- export and integrity

PopupExport* ZQ_Player_presentation::export_dialog() const
{
    return m_export_dialog;
}

void ZQ_Player_presentation::export_slot()
{
    log(QStringLiteral("export :: ") + m_day_folder);
    const QString timestamp = m_canvas ? m_canvas->get_current_timestamp() : QString();
    log(QStringLiteral("export ::  timestamp ") + timestamp);
    // Offered only while a frame is shown, and one dialog at a time.
    QDate date;
    qint64 ms = 0;
    if (!TimeText::parse_display_time(timestamp, &date, &ms) || m_export_dialog)
        return;
    const QString stream = chosen_stream();
    auto* dialog = new PopupExport(m_controller->day_video_list(), m_current_camera_id.toInt(), stream,
                                   m_day_text_list, StorageLayout::clean_folder_path(m_day_folder), timestamp);
    dialog->set_job_host(DownloadJobHost::instance());
    m_export_dialog = dialog;
    connect(dialog, &PopupExport::valueChanged, this, &ZQ_Player_presentation::set_progress);
    connect(dialog, &PopupExport::endingsignal, this, &ZQ_Player_presentation::get_export_endingsignal);
    // A raw copy that fails ends with its error instead: the dialog is done.
    connect(dialog, &PopupExport::error, this, [this, dialog](int code) {
        if (!dialog->export_started())
            return; // a range error, which the dialog shows itself
        m_ui->encodeprogress->hide();
        m_ui->exportbutton->setEnabled(true);
        dialog->closeall();
        dialog->deleteLater();
        if (m_export_dialog == dialog)
            m_export_dialog = nullptr;
        m_dialogs->warning(QStringLiteral("Attention"), dialog->error_message(code));
    });
    dialog->show();
}

void ZQ_Player_presentation::set_progress(int value)
{
    m_ui->encodeprogress->show();
    const QString path = m_export_dialog ? m_export_dialog->get_export_path() : QString();
    m_ui->encodeprogress->setFormat(path + QStringLiteral("  [") + QString::number(value) + QStringLiteral("%]"));
    m_ui->exportbutton->setEnabled(false);
    m_ui->encodeprogress->setValue(value);
}

void ZQ_Player_presentation::get_export_endingsignal()
{
    m_ui->encodeprogress->hide();
    // The dialog whose copy ended, deleted once its signal has returned.
    auto* dialog = qobject_cast<PopupExport*>(sender());
    if (!dialog)
        dialog = m_export_dialog;
    if (dialog) {
        dialog->closeall();
        dialog->close();
        dialog->deleteLater();
        if (m_export_dialog == dialog)
            m_export_dialog = nullptr;
    }
    m_ui->exportbutton->setEnabled(true);
    m_dialogs->information(QStringLiteral("Information"), QStringLiteral("Votre exportation est terminée."));
}

void ZQ_Player_presentation::check_integrity_slot()
{
    // One check at a time: a second click while its dialog is open does nothing.
    if (m_integrity || m_day_folder.isEmpty())
        return;
    const QString day = StorageLayout::clean_folder_path(m_day_folder);
    log(QStringLiteral("check integrity :: ") + day);
    m_integrity = IntegrityRun::start(this, QFileInfo(day).absolutePath(), day);
    if (m_integrity)
        connect(m_integrity, &IntegrityRun::finished, this, &ZQ_Player_presentation::integrity_check_done);
}

void ZQ_Player_presentation::integrity_check_done()
{
    ZQLog::log("[INFO] Zqplayer Display :: integrity check done");
    // The pair disposes of itself once the check's thread has ended.
    m_integrity = nullptr;
}

// ---------------------------------------------------------------- alarms and tags

namespace {

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
    if (m_controller->day_tags_list().isEmpty() || m_controller->day_video_list().isEmpty()) {
        m_ui->listTags_view->setModel(nullptr);
        m_ui->tags_comboBox->hide();
        return;
    }
    m_file_duration = m_minutes_per_file > 0 ? m_minutes_per_file * 60 : 60;
    const QVector<DayMedia::Entry> video = DayMedia::entries_of(m_controller->day_video_list());
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
        const int holder = DayMedia::entry_for_alarm(video, id, date.toString(QStringLiteral("yyyyMMdd")), t,
                                                     m_file_duration);
        if (holder < 0)
            continue;
        if (camera_id < 0 || id == camera_id)
            m_tags_list.append(Vignette(file.fileName(), file.path(), QFileInfo(video[holder].path), text, datetime,
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
    m_file_duration = m_minutes_per_file * 60;
    int id = -1;
    if (index > 0 && m_ui->alarm_combobox->count() > 0) {
        id = DayMedia::camera_id_of_camera_text(m_ui->alarm_combobox->itemText(index), m_camera_table);
        m_ui->alarm_combobox->setCurrentIndex(index);
    }
    set_alarm_list_from_cameraid(id);
    change_timelines_from_cameraid(id);
}

void ZQ_Player_presentation::set_tags_list_from_index(int index)
{
    log(QStringLiteral("set tags list from index :: ") + QString::number(index));
    m_file_duration = m_minutes_per_file * 60;
    int id = -1;
    if (index > 0 && m_ui->tags_comboBox->count() > 0) {
        id = DayMedia::camera_id_of_camera_text(m_ui->tags_comboBox->itemText(index), m_camera_table);
        m_ui->tags_comboBox->setCurrentIndex(index);
    }
    set_tags_list_from_cameraid(id);
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
    log(QStringLiteral("set_timestamp  :: timestamp      ") + timestamp);
    log(QStringLiteral("set_timestamp  :: video file     ") + m_actual_file);
    // Two seconds before, but not before the start of the day.
    const QString seek = TimeText::make_yyyymmddhhmmss(date, qMax<qint64>(0, ms - 2000));
    log(QStringLiteral("set_timestamp  :: recalc timestamp ") + seek);
    m_file_duration = (m_minutes_per_file > 0 ? m_minutes_per_file : 1) * 60;
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

// ---------------------------------------------------------------- snapshots and the quality pop-up

void ZQ_Player_presentation::show_snapshot(bool full)
{
    if (!m_canvas)
        return;
    const QImage image = full ? m_canvas->get_snapshot_full(QString(), QString())
                              : m_canvas->get_snapshot(QString(), QString());
    m_dialogs->open_snapshot_viewer(image, m_canvas->get_current_timestamp() + QStringLiteral(".jpg"));
}

void ZQ_Player_presentation::snapshot_button()
{
    show_snapshot(false);
}

void ZQ_Player_presentation::snapshot_full_button()
{
    show_snapshot(true);
}

void ZQ_Player_presentation::change_id_stream(QString id)
{
    for (int i = 0; i < m_ui->video_stream_box->count(); ++i)
        if (m_ui->video_stream_box->itemText(i).contains(id))
            m_ui->video_stream_box->setCurrentIndex(i);
    QLabel* label = m_ui->label;
    auto* effect = new QGraphicsOpacityEffect(label);
    label->setGraphicsEffect(effect);
    label->setStyleSheet(
        QStringLiteral("border: 2px solid gray; border-radius:10px; background-color:#ffffff; color:gray;"));
    label->setAlignment(Qt::AlignCenter);
    label->setText(QStringLiteral("Changement automatique de qualité"));
    auto* animation = new QPropertyAnimation(effect, "opacity");
    animation->setDuration(2000);
    animation->setStartValue(0.0);
    animation->setEndValue(1.0);
    animation->setEasingCurve(QEasingCurve::InBack);
    animation->start(QAbstractAnimation::DeleteWhenStopped);
    label->show();
    QTimer::singleShot(2000, this, &ZQ_Player_presentation::fadeOut);
}

void ZQ_Player_presentation::fadeOut()
{
    QLabel* label = m_ui->label;
    auto* effect = new QGraphicsOpacityEffect(label);
    label->setGraphicsEffect(effect);
    auto* animation = new QPropertyAnimation(effect, "opacity");
    animation->setDuration(5000);
    animation->setStartValue(1.0);
    animation->setEndValue(0.0);
    animation->setEasingCurve(QEasingCurve::OutBack);
    connect(animation, &QPropertyAnimation::finished, label, &QLabel::hide);
    animation->start(QAbstractAnimation::DeleteWhenStopped);
}

void ZQ_Player_presentation::change_idstream_from_combobox(int)
{
    if (m_play_state != 1 || m_camera_combo->count() == 0)
        return;
    const int id = DayMedia::camera_id_of_camera_text(m_camera_combo->currentText(), m_camera_table);
    if (id == -1)
        return;
    const qint64 ms = DayMedia::ms_of_time_text(m_current_time);
    if (ms >= 0)
        timeline_send_click(QTime::fromMSecsSinceStartOfDay(int(ms)).toString(QStringLiteral("HH:mm:ss")), id);
}
