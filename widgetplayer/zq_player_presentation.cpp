// Widget player window: construction, the window's own events, snapshots and the quality pop-up.
// The other concerns of the class have files of their own: _day (tree, camera, files, hour rows),
// _transport (play state, seeks, buttons), _lists (alarms and tags), _jobs (export, integrity).

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

namespace {

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
    connect(m_reader, &ZQStreamReadAndControl::reading_ended, this, &ZQ_Player_presentation::reading_ended);
    // A press holds the picture while the operator picks a time: the reader
    // pauses only when it plays, and the release (after its seek, which the
    // slider's own connection runs first) puts it back in step with the
    // window's play state. The reader's toggle alone paused a playing reader
    // under a Pause icon and un-paused a paused one behind the window's back.
    connect(m_ui->slider, &QSlider::sliderPressed, this, [this] {
        if (m_play_state == 1)
            m_reader->slider_pressed();
    });
    connect(m_ui->slider, &ZQSlidertimeline::change_value, this, &ZQ_Player_presentation::slider_send_click);
    connect(m_ui->slider, &QSlider::sliderReleased, this, &ZQ_Player_presentation::keep_reader_in_step);
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

int ZQ_Player_presentation::file_duration_s() const
{
    return m_minutes_per_file > 0 ? qMax(1, int(std::lround(m_minutes_per_file * 60.0))) : 60;
}

void ZQ_Player_presentation::closeEvent(QCloseEvent* event)
{
    // An export dialog still open would keep the application running once
    // the window is gone (it is a window of its own): closing the window
    // cancels it.
    if (PopupExport* dialog = m_export_dialog; dialog && dialog->isVisible())
        dialog->close();
    QWidget::closeEvent(event);
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

// ---------------------------------------------------------------- snapshots and the quality pop-up

void ZQ_Player_presentation::show_snapshot(bool full)
{
    if (!m_canvas)
        return;
    // Offered only while a frame is shown, as the export is.
    QDate date;
    qint64 ms = 0;
    if (!TimeText::parse_display_time(m_canvas->get_current_timestamp(), &date, &ms))
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
