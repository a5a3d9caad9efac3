#pragma once

#include "integrity/integrity_run.h"

#include <QDate>
#include <QFileInfo>
#include <QFileInfoList>
#include <QHash>
#include <QImage>
#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QTime>
#include <QVariantList>
#include <QVector>

#include <memory>

class Canvas;
class ZQStreamReadAndControl;
class ZQIndexController;
class ZQPlayerControllerUi;
class PopupExport;

// The object the QML user interface calls for everything it shows and does:
// storage folder, days, cameras, the day's file lists, playback and seeks,
// alarm pictures and snapshots. Everything runs on the GUI thread.
class ZQPlayerInferfaceController : public QObject
{
    Q_OBJECT

public:
    explicit ZQPlayerInferfaceController(QObject* parent = nullptr);
    ~ZQPlayerInferfaceController() override;

    // One recording of the day, as the time lookup and file changes see it.
    struct Recording
    {
        qint64 start_ms = 0;  // start time of day, ms since midnight
        QString path;         // absolute path of the data file
        QString start_text;   // "HHmmss" as written in the file name
        QString day;          // "yyyyMMdd" as written in the file name
        bool audio = false;
    };

signals:
    void dataChanged();
    void timeChanged();
    void startRead();
    void startIndexGeneration();
    void indexGenerated();
    void indexFailed();
    void updateStreams();
    // Nothing plays: the reader played past the end (or, backward, the start) of the day's
    // recordings, or a seek found nothing to play while nothing was playing (reading had ended,
    // was paused, or no file was open). The controls show the stopped state; Play starts again
    // from the time read, or resumes a pause.
    void stopRead();

public slots:
    // Connected to the reader; it switches files by itself and never emits
    // these, but they stay wired for a reader that does.
    void set_next_file();
    void set_previous_file();
    void setTime(QTime time);
    void recv_available_videostream(QStringList streams);
    // The integrity dialog has closed: the check goes away once its thread has ended.
    void integrity_check_done();
    // From an export dialog's endingsignal() (a raw copy ended): disposes of
    // that dialog and tells the operator.
    void video_export_end();

public:
    // ---- QML-facing operations, in meta-object order ----
    Q_INVOKABLE QStringList get_available_days(QString root_directory);
    Q_INVOKABLE QString selected_date();
    Q_INVOKABLE QString selected_camera();
    Q_INVOKABLE QStringList get_cameras_for_date(QString date);
    Q_INVOKABLE void set_selected_camera(QString camera);
    Q_INVOKABLE void set_selected_date(QString date);
    Q_INVOKABLE QList<qint64> day_timestamp_list();
    Q_INVOKABLE QVariantList day_alarm_list_string();
    Q_INVOKABLE QVariantList day_tags_list_string();
    Q_INVOKABLE QStringList day_audio_list_string();
    Q_INVOKABLE QVariantList day_preview_list_string();
    Q_INVOKABLE void set_zqstream_reader_read_timestamp(QString timestamp);
    Q_INVOKABLE int get_current_read_time_is_ms();
    Q_INVOKABLE void pause_button();
    Q_INVOKABLE void start_button();
    Q_INVOKABLE void snapshot_full_button();
    Q_INVOKABLE void snapshot_button();
    Q_INVOKABLE void previous_frame_button();
    Q_INVOKABLE void next_frame_button();
    Q_INVOKABLE void set_playback_rate(int playback);
    // Checks the selected day folder against its hash list in a dialog; one check at a time.
    Q_INVOKABLE void check_integrity();
    // Opens the export dialog on the selected day and camera at the time on
    // screen; nothing before a frame is shown.
    Q_INVOKABLE void video_export();
    Q_INVOKABLE QString get_alarm_thumbnail_path(QString datetime);
    Q_INVOKABLE QStringList get_videostreams_list();
    Q_INVOKABLE void set_selected_videostream(int idstream);
    Q_INVOKABLE void open_alarm_popup(QString image_path);
    Q_INVOKABLE void regenerate_index();
    Q_INVOKABLE void regenerate_index_for_current_date();
    Q_INVOKABLE bool is_zqcore_directory(QString directory);
    // The camera ids of the last get_cameras_for_date(), in the order of its names: two cameras
    // may share a name, so the chooser picks by id.
    Q_INVOKABLE QList<int> camera_ids();
    Q_INVOKABLE void set_selected_camera_id(int camera_id);

    // ---- Used by the main window and the widget player ----
    void init_day_video_list(const QString& day_folder);
    QFileInfoList camera_day_video_list();
    void set_canvas(Canvas* canvas);
    // The integrity check under way with its dialog, or null.
    IntegrityRun* integrity_run() const { return m_integrity; }
    // Stops an integrity check under way and waits for its thread (the window is closing).
    void stop_integrity_check();
    ZQStreamReadAndControl* reader() const { return m_reader; }
    static bool file_list_contains_name(const QFileInfoList& list, const QString& name);

    bool timeline_get_datetime(const QString& ts, int camera_id);
    // True when the reader now plays that file.
    bool change_camera(const QFileInfo& file);
    void set_file(const QString& direction);

    QFileInfoList day_video_list() const { return m_video_files; }
    QFileInfoList day_alarm_list() const { return m_alarm_files; }
    QFileInfoList day_tags_list() const { return m_tag_files; }
    QFileInfoList day_audio_list() const { return m_audio_files; }
    void clear_day_video_list();
    void clear_day_alarm_list();
    void clear_day_audio_list();
    QFileInfoList get_days_list(const QString& folder);
    QFileInfoList zqnfo_with_multiple_directory(const QString& folder);

    // ---- State, for the windows and tests ----
    int state() const { return m_state; }
    int camera_id() const { return m_camera_id; }
    int stream_id() const { return m_stream_id; }
    QString root_folder() const { return m_root_folder; }
    QString current_file() const { return m_current_file; }
    QString read_time() const { return m_read_time; }
    int playback_rate() const { return m_playback_rate; }
    QHash<int, QString> camera_table() const { return m_camera_table; }
    // True while an index rebuild started by this controller is running.
    bool is_indexing() const { return m_indexing; }

    // Replaces the message boxes and viewer windows (tests); the controller
    // takes ownership.
    void set_ui(std::unique_ptr<ZQPlayerControllerUi> ui);

    // Reading state: 0 stopped, 1 reading, 2 paused.
    enum State { Stopped = 0, Reading = 1, Paused = 2 };

private:
    void log_info(const QString& text) const;
    void log_warn(const QString& text) const;
    void log_error(const QString& text) const;

    void clear_day_state();
    // Selects camera `id` (-1: none) shown under `camera`.
    void select_camera(int id, const QString& camera);
    void stop_playback();
    void invalidate_day_caches();
    const QHash<int, QVector<Recording>>& recordings_by_camera();
    // Any thread: a day's recordings per camera in start-time order, and its video files per
    // camera that lie in a storage root under that date (the caches the two above keep).
    static QHash<int, QVector<Recording>> split_recordings(const QFileInfoList& video, const QFileInfoList& audio);
    static QHash<int, QFileInfoList> split_camera_videos(const QFileInfoList& video, const QString& date);
    const QVector<QJsonObject>& decrypted_tags();
    // The selected date's video files of one camera, in start-time order.
    QFileInfoList camera_videos(int camera_id);

    // Seeks to a time of the given day; the common end of every seek form.
    void seek_to(const QString& ts);
    void seek_to_read_time();
    // The tile's picture (as displayed, or at full size) in a viewer window.
    void show_snapshot(bool full);
    QString first_recording_timestamp();
    // The recording's seek index exists and is not empty; logs under step why not.
    bool has_seek_index(const QString& path, const QString& step) const;

    // A day folder as read: the fresh fingerprint, the stored one and, when the stored index is
    // current, the five lists already in their final order.
    struct PreparedDay
    {
        QString folder;  // cleaned path, no trailing "/"
        bool current = false;
        QString fingerprint;
        QString stored;
        QFileInfoList video, alarm, tag, audio, preview;
        // The per-camera caches of those lists, the videos' for the folder's own date.
        QHash<int, QVector<Recording>> recordings;
        QHash<int, QFileInfoList> camera_videos;
        double fill_ms = 0;  // time taken to fill, sort and split the lists
    };
    static PreparedDay prepare_day(const QString& day_folder);
    // Takes a read day's lists, or starts the rebuild it calls for.
    void apply_day(const QString& day_folder, PreparedDay day);
    // The day asked for shows no camera: nothing of the day shown before stays playing, and the
    // views that show the day's lists are told to reload them (empty).
    void show_day_without_camera();

    void start_index_build(const QString& path, bool automatic, const QString& fingerprint);
    void on_index_finished();
    void on_index_error(const QString& message);
    void on_reading_ended();
    // The reader's read timer runs (it is reading, not paused or ended).
    bool reader_ticking() const;

    static QString to_local_path(const QString& path_or_url);
    static bool parse_day(const QString& text, QDate* date);

    ZQStreamReadAndControl* m_reader = nullptr;
    // The tile belongs to the main window; it may go first.
    QPointer<Canvas> m_canvas;
    int m_state = Stopped;

    QFileInfoList m_video_files;
    QFileInfoList m_alarm_files;
    QFileInfoList m_tag_files;
    QFileInfoList m_audio_files;
    QFileInfoList m_preview_files;
    QStringList m_stream_ids;
    QHash<int, QString> m_camera_table;
    int m_seconds_per_file = 60;
    QString m_selected_date;
    QString m_selected_camera;
    int m_camera_id = -1;
    int m_stream_id = 1;
    QString m_root_folder;
    QString m_current_file;
    QString m_read_time;
    int m_playback_rate = 1;

    // Day folder whose lists are loaded (empty when none).
    QString m_loaded_day_folder;
    // Per-camera recordings of the loaded day, sorted by start time; built on
    // first use after the lists change.
    bool m_recordings_valid = false;
    QHash<int, QVector<Recording>> m_recordings;
    // The selected date's video files per camera (the reader's playlists).
    bool m_camera_videos_valid = false;
    QString m_camera_videos_date;
    QHash<int, QFileInfoList> m_camera_videos;
    // Tag files decrypted once per loaded day.
    bool m_tags_valid = false;
    QVector<QJsonObject> m_tags;

    // One index controller serves every rebuild request.
    ZQIndexController* m_index_controller = nullptr;
    bool m_indexing = false;
    QString m_index_path;          // path of the run under way
    QString m_index_fingerprint;   // fingerprint of that day when the run started
    bool m_index_failed = false;   // the run under way reported a failure
    bool m_error_box_open = false; // its warning box is up
    bool m_finish_held = false;    // the run ended while the box was up
    QString m_pending_index_path;  // a request that came during a run
    QString m_pending_fingerprint;
    // Day folders whose rebuild failed, with the fingerprint they had: not
    // rebuilt again automatically while the folder stays the same.
    QHash<QString, QString> m_failed_days;
    // Day folders rebuilt in this session with the fingerprint they had: when
    // the index still does not match afterwards (storage that cannot be
    // written), the lists are collected directly instead of rebuilding again.
    QHash<QString, QString> m_rebuilt_days;
    // "index.zqnfo" already written this session, per day folder.
    QSet<QString> m_written_nfo_index;

    // The open integrity check; it deletes itself after its dialog closed and its thread ended.
    QPointer<IntegrityRun> m_integrity;

    std::unique_ptr<ZQPlayerControllerUi> m_ui;
    // The newest export dialog (others may still relay their raw copy).
    QPointer<PopupExport> m_export_dialog;
};
