#pragma once

#include <QDate>
#include <QFileInfo>
#include <QFileInfoList>
#include <QHash>
#include <QList>
#include <QModelIndex>
#include <QPointer>
#include <QSharedPointer>
#include <QString>
#include <QStringList>
#include <QTime>
#include <QWidget>

#include <functional>
#include <memory>

#include "integrity/integrity_run.h"
#include "recordings/vignette.h"
#include "widgetplayer/day_ends.h"
#include "widgetplayer/day_media.h"
#include "widgetplayer/zq_timeline_thread.h"

class AlarmItemDelegate;
class AlarmModel;
class PopupExport;
class Canvas;
class QComboBox;
class QTimer;
class QVBoxLayout;
class TagItemDelegate;
class TagsModel;
class TreeProxyModel;
class Ui_ZQ_Player_presentation;
class WidgetPlayerUi;
class ZQPlayerInferfaceController;
class ZQStreamReadAndControl;
class ZQTag;
class ZQTimeline;
class ZQTimelinethread;
class ZQVideoFileSystemModel;
struct TimelineFill;

// The widget-based player window: a disk tree to choose a day folder, the
// day's hour rows of one camera, its alarm pictures and tags on the left; the
// display tile, day slider and transport on the right. It plays one camera's
// recordings of the chosen day through its own playback reader.
class ZQ_Player_presentation : public QWidget
{
    Q_OBJECT
public:
    explicit ZQ_Player_presentation(QWidget* parent = nullptr);
    ~ZQ_Player_presentation() override;

    // Replaces the message boxes and viewer windows (tests); the window takes ownership.
    void set_ui(std::unique_ptr<WidgetPlayerUi> ui);

    // ---- For the tool and the tests ----
    Ui_ZQ_Player_presentation* form() const { return m_ui; }
    Canvas* tile() const { return m_canvas; }
    ZQStreamReadAndControl* reader() const { return m_reader; }
    ZQPlayerInferfaceController* controller() const { return m_controller; }
    ZQVideoFileSystemModel* file_model() const { return m_file_model; }
    TreeProxyModel* proxy_model() const { return m_proxy_model; }
    QComboBox* camera_combo() const { return m_camera_combo; }
    ZQTimeline* hour_row(int hour) const;
    int play_state() const { return m_play_state; }
    QString day_folder() const { return m_day_folder; }
    QString actual_file() const { return m_actual_file; }
    QString current_camera_id() const { return m_current_camera_id; }
    QString current_time() const { return m_current_time; }
    QHash<int, QString> camera_table() const { return m_camera_table; }
    QList<ZQTag*> day_tags() const { return m_day_tags; }
    AlarmModel* alarm_model() const { return m_alarm_model; }
    TagsModel* tags_model() const { return m_tags_model; }
    AlarmItemDelegate* alarm_delegate() const { return m_alarm_delegate; }
    TagItemDelegate* tag_delegate() const { return m_tag_delegate; }
    bool is_filling() const;
    IntegrityRun* integrity_run() const { return m_integrity; }
    PopupExport* export_dialog() const;
    // The proxy index of a folder of the tree (invalid when not loaded yet).
    QModelIndex tree_index_of(const QString& path) const;

    // ---- Day set-up and lookups ----
    void init_day_cameras();
    // The camera table of a day folder from its camera-information files
    // (older_files gives the line-based ones of its sub-folders, asked only
    // when the day has none of the newer form); writes "index.zqnfo" when the
    // table adds to what an index held.
    static QHash<int, QString> read_day_cameras(const QString& day_folder,
                                                const std::function<QFileInfoList()>& older_files);
    ZQTimeline* get_timeline_for_time(const QString& time) const;
    QFileInfo get_video_file_for_alarm(const QString& camera, const QString& day, const QString& time) const;
    double current_rate() const;
    QString timeline_get_datetime(const QString& time, int camera_id, int approx);
    void set_play_state(int state);
    void change_camera(const QFileInfo& file);

signals:
    void change_rate(double rate);
    void change_timestamp(QString timestamp);
    void changeRate(double rate);
    void play();
    void pause();
    // The filler's result has been applied to the rows and the slider.
    void timelines_filled();

public slots:
    void tree_clicked(QModelIndex index);
    void open_button();
    void tree_entered(QModelIndex index);
    void combox_index_changed(QString path);
    void tab_changed(int index);
    void change_timelines_from_cameraid(int camera_id);
    void change_timelines_from_combobox(int index);
    void set_next_file();
    void set_previous_file();
    void set_file(QString direction);
    void set_all_timelines_background(int camera_id, QFileInfoList files);
    void timeline_thread_finished();
    void timeline_send_click(QString time, int camera_id);
    void slider_send_click(QString videotime_str, int camera_id);
    void setTime(QTime time);
    void stop_button();
    void set_frame_button_released();
    void updateRate();
    void end_displayer();
    void play_button();
    void pause_button();
    void play_pause_button_pressed();
    void rate_button(double rate);
    void next_frame_button();
    void next_frame_button_pressed();
    void previous_frame_button();
    void previous_frame_button_pressed();
    void init_timelines(QFileInfoList VIDEO_filelist, int camera_id, int minute_diff);
    void get_export_endingsignal();
    void integrity_check_done();
    void open_alarm_popup(QModelIndex index);
    void export_slot();
    void set_progress(int value);
    void check_integrity_slot();
    void set_alarm_list_from_cameraid(int camera_id);
    void set_alarm_list_from_index(int index);
    void set_tags_list_from_cameraid(int camera_id);
    void set_tags_list_from_index(int index);
    void set_timestamp(QModelIndex index);
    void snapshot_button();
    void snapshot_full_button();
    void change_id_stream(QString id);
    void change_idstream_from_combobox(int index);
    void fadeOut();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    // A camera picked in the alarm or tag chooser: its list (through fill_list) and its timelines.
    void show_camera_lists(QComboBox* chooser, int index, void (ZQ_Player_presentation::*fill_list)(int));
    int file_duration_s() const;
    void reading_ended();
    // The actual file becomes the recording the reader plays now.
    void follow_reader_file();
    // The reader reads when, and only when, the window shows it playing.
    void keep_reader_in_step();
    void on_filled(QSharedPointer<TimelineFill> result);
    void on_index_generated();
    void stop_filler();
    void tear_down_timelines();
    void load_day_lists();
    void reload_day_lists();
    void load_day_tags();
    void free_day_tags();
    QString chosen_stream() const;
    // Recordings of the day with a usable seek index (video then audio).
    QVector<DayMedia::Entry> playable_media() const;
    // Every video recording of the day, as the controller lists them.
    QVector<DayMedia::Entry> day_video_entries() const;
    // Where the recordings of a list end, each by its own camera's
    // recordings; the list must outlive the function.
    DayMedia::EndOf recording_ends_of(const QVector<DayMedia::Entry>& list) const;
    // The REC tab's camera chooser: the day's cameras in camera-id order.
    void fill_camera_chooser();
    QFileInfoList camera_files(int camera, bool audio) const;
    bool load_reader(const QFileInfo& file);
    void show_snapshot(bool full);
    void frame_step_timer(bool next);
    void log(const QString& text) const;

    Ui_ZQ_Player_presentation* m_ui = nullptr;
    int m_play_state = 0;
    Canvas* m_canvas = nullptr;
    ZQStreamReadAndControl* m_reader = nullptr;
    ZQPlayerInferfaceController* m_controller = nullptr;
    QString m_current_file = QStringLiteral("/");
    QString m_day_folder;
    ZQVideoFileSystemModel* m_file_model = nullptr;
    TreeProxyModel* m_proxy_model = nullptr;
    QStringList m_day_text_list;
    QString m_actual_file;
    // The export dialog open now; one at a time.
    QPointer<PopupExport> m_export_dialog;
    // The integrity check of the day and its dialog, started and disposed of as one pair.
    QPointer<IntegrityRun> m_integrity;
    QVBoxLayout* m_timelines_layout = nullptr;
    QWidget* m_timelines_container = nullptr;
    QComboBox* m_camera_combo = nullptr;
    QHash<QString, ZQTimeline*> m_hour_rows;
    QStringList m_hour_labels;
    QString m_current_camera_id = QStringLiteral("-1");
    QString m_current_time = QStringLiteral("00:00:00:000");
    QDate m_current_date;
    bool m_time_shown = false;
    int m_file_duration = 60;
    // Minutes one recording covers where nothing else tells (1 once the REC
    // tab has set a day up); each camera's own estimate is m_day_ends's.
    double m_minutes_per_file = -1.0;
    AlarmModel* m_alarm_model = nullptr;
    TagsModel* m_tags_model = nullptr;
    AlarmItemDelegate* m_alarm_delegate = nullptr;
    TagItemDelegate* m_tag_delegate = nullptr;
    QList<Vignette> m_alarm_list;
    QList<Vignette> m_tags_list;
    QHash<int, QString> m_camera_table;
    QList<ZQTag*> m_day_tags;
    qint64 m_timeline_build_start = 0;
    QTimer* m_frame_step_timer = nullptr;

    QPointer<ZQTimelinethread> m_filler;
    QStringList m_filled_streams;
    QWidget* m_scroll_area = nullptr;
    // Playable recordings of the loaded day, worked out once per load.
    mutable bool m_media_valid = false;
    mutable QVector<DayMedia::Entry> m_media;
    mutable QVector<DayMedia::Entry> m_day_video;
    // Where the loaded day's recordings end, camera by camera, read as far
    // as the look-ups need; rebuilt with the playable recordings.
    mutable DayEnds m_day_ends;
    QHash<ZQTag*, QFileInfo> m_tag_files;
    bool m_wait_cursor = false;
    // The day folder whose lists the controller holds.
    QString m_loaded_day;
    QString m_tags_day;
    // Each tag file read, with its size and time of change when it was read.
    QStringList m_tags_read_from;
    // The day is waiting for its index to be rebuilt.
    bool m_waiting_for_index = false;
    std::unique_ptr<WidgetPlayerUi> m_dialogs;
};
