#pragma once

#include <QHash>
#include <QImage>
#include <QList>
#include <QPainterPath>
#include <QPointer>
#include <QString>
#include <QWidget>

#include "view/display_interface.h"
#include "view/draw_overlay.h"
#include "view/shapes_overlay.h"

class QGraphicsItem;
class QNetworkAccessManager;
class QPainter;
class QTimer;
class PtzCtrlWeb;
class PtzGestureHooks;

// The display tile: shows the frames pushed to it with its status band,
// overlays, digital zoom, fisheye view and snapshots.
class Canvas : public QWidget, public DisplayInterface
{
    Q_OBJECT

public:
    explicit Canvas(QWidget* parent = nullptr);
    ~Canvas() override;

    void set_stream_start(bool start);
    void set_external_source();
    void setEnding();
    void stop_display(bool stop);
    void Go();

    void set_shapes(QString base64) override;
    void set_camera_id(QString id) override;
    void set_scale_algorithm(int flags) override;

    // PTZ: the gestures object (owned), the native driver (owned; connected at
    // once when the display already runs), the glue of the native driver.
    void set_ptz_gestures(PtzGestureHooks* hooks);
    PtzGestureHooks* get_ptz_gestures() const { return ptz_gestures; }
    void set_ptz_driver(NativePTZInterface* driver) override;
    void connect_ptz_driver();
    void mouse_hold_ptz(int pan, int tilt, int zoom);
    bool is_native_request_idle() const { return native_request_idle; }
    int get_ptz_status_code() const { return ptz_status_code; }
    QString get_ptz_status_command() const { return ptz_status_command; }
    QString get_ptz_status_fault() const { return ptz_status_fault; }
    QString get_ptz_status_driver() const { return ptz_status_driver; }

    static QString format_bitrate(double bytes_per_second);

    // Parses "yyyy-MM-dd HH:mm:ss.zzz" from its digits.
    static bool parse_display_timestamp(const QString& text, QDate* date, QTime* time);

    // State read by the window and by tests.
    int get_image_left_margin() const { return image_left_margin; }
    int get_image_top_margin() const { return image_top_margin; }
    int get_drawn_width() const { return drawn_width; }
    int get_drawn_height() const { return drawn_height; }
    bool is_display_started() const { return display_started; }
    bool is_zoomed() const { return digital_zoom; }
    int get_zoom_level() const { return zoom_level; }
    QPointF get_zoom_origin() const { return QPointF(zoom_origin_x, zoom_origin_y); }
    int get_last_frame_id() const { return last_frame_id; }
    double get_shown_frame_count() const { return shown_frame_counter; }
    bool is_start_pending() const { return start_pending; }
    bool is_message_shown() const { return message_shown; }
    QString get_message_text() const { return message_text; }
    QList<DrawOverlayPrimitive> get_draw_overlay() const { return draw_overlay_primitives; }
    float get_dewarp_angle() const { return dewarp_angle; }
    float get_dewarp_zoom() const { return dewarp_zoom; }
    float get_dewarp_fov() const { return dewarp_fov; }
    QImage get_frame_image() const;
    bool is_buffering_shown() const { return is_buffering; }
    int get_buffering_percent() const { return buffering_percent; }
    bool has_display_thread() const { return !display_thread.isNull(); }

    // Fisheye geometry (public for the view's tests).
    struct DewarpGeometry
    {
        float start_angle_deg = 0.f;
        double direction = 0.0;
        double start_rad = 0.0, first_rad = 0.0, last_rad = 0.0;
        int x_first = 0, y_first = 0, dist_first = 0;
        int x_mid = 0, y_mid = 0, dist_mid = 0;
        int x_last = 0, y_last = 0, dist_last = 0;
        int chord = 0;
        double cos_dir = 0.0, sin_dir = 0.0;
    };
    void set_dewarp_angle(float a);
    void set_dewarp_zoom(float z);
    DewarpGeometry compute_dewarp_point(float angle, float zoom, float fov);
    void dewarp_frame(const DewarpGeometry& g, const QImage& source);
    QImage get_panorama() const;

signals:
    void emitPTZ(QRect);
    void emitBandeau(QString);
    void ff_stop();
    void ff_closeall();
    void ff_start();
    void ff_pause();
    void ending_done();
    void close_fullscreen();
    void onchange_timestamp(QString, QString, QString);
    void send_snapshot(QString, QImage);
    void paint_done(qlonglong);
    void send_duration(qlonglong);
    void replay_frame_displayed();
    void display_stop();
    void display_start();
    void display_pause();
    void signal_set_pause();
    void display_hidden(bool);
    void display_show();
    void change_camera_id(int, int);
    void hide_all_plugins();
    void show_all_plugins();
    void send_clic_event(QString, int, int, int);
    void send_status_message(QString);
    // The widget player listens to these two.
    void endingsignal();
    void set_id_stream(QString);
    // Terminal signal of a snapshot upload: true when the server answered
    // with a success status.
    void snapshot_upload_finished(bool ok, QString error);

private slots:
    void timerEnding();
    void codec_resize(int w, int h);
    void resizeDone();
    void mousehold();
    void mousehold_Stop();
    void snapshot_slot_send();
    void snapshot_slot_uploadProgress(qlonglong, qlonglong);
    void setWheelOn();
    void mouse_release_post_event();
    void display_update();
    void delete_display_thread();
    void loop_restart();

public slots:
    QImage get_snapshot_full(QString session_id, QString upload_uri);
    QImage get_snapshot_full(QString session_id);
    QImage get_snapshot_full();
    QImage get_snapshot(QString session_id, QString upload_uri);
    QImage get_snapshot(QString session_id);
    QImage get_snapshot();
    void checkend();
    void displayFrame(QImage frame, int linesize, int frame_width, int frame_height, QString timestamp,
                      QString drawoverlay, bool isUnwrapped, int frame_id, double fps, bool is_keyframe);
    void displayError(QString error, QString error_message, bool is_opacity);
    void checkEnding();
    void setPause();
    void setStart();
    void go();
    void pluginptz(QString action, QString type, QString sensibility);
    void speed_receive(double v);
    void setup_codecSize(int w, int h);
    void setup_scaler_dewrap(int codec_width, int codec_height);
    void stop_buffering();
    void buffering(bool is_buffering, double percentage);
    void onvif_request_finished(int request_code);
    void onvif_request_security();
    void onvif_request_security_stop();
    void get_direct_ptz_message(int code, QString command, QString fault, QString driver);
    void reset_direct_ptz_message();
    void zqptz_request_security_stop();

public:
    void uploadImage_multipart(QImage image, QHash<QString, QString> fields, QString upload_url,
                               QString session_id);
    void draw_image(QPainter& painter);

protected:
    bool event(QEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    void closeEvent(QCloseEvent* e) override;
    void showEvent(QShowEvent* e) override;
    void hideEvent(QHideEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;
    void paintEvent(QPaintEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void mouseDoubleClickEvent(QMouseEvent* e) override;
    void wheelEvent(QWheelEvent* e) override;
    void leaveEvent(QEvent* e) override;

private:
    static qint64 now_ticks();
    void log_info(const QString& step) const;
    void log_warn(const QString& step) const;
    void log_error(const QString& step) const;
    bool has_display() const;
    bool display_stopping() const;
    QString rate_text() const;
    void raise_display_count();
    void lower_display_count();
    void initial_repaint(QPainter& painter);

    // Server stream mode (canvas_stream.cpp).
    void start_stream_display();
    void end_stream_display();
    void release_display_thread(new_display_thread* t);

    // Overlays.
    void draw_overlay(QPainter& painter);
    void draw_frame_overlay(QPainter& painter);
    void draw_overlay_primitive(QPainter& painter, const DrawOverlayPrimitive& p, double sx, double sy, int refw,
                                int refh);
    void draw_shapes(QPainter& painter);
    void draw_click_marker(QPainter& painter);
    void draw_ptz_status(QPainter& painter);
    void draw_ptz_selection(QPainter& painter);
    void draw_arrow(QPainter& painter, int x1, int y1, int x2, int y2);
    void update_selection_rect(QPointF pointer);
    void draw_snapshot_timestamp(QPainter& painter, int width, const QString& caption);
    QString snapshot_caption(const char* which) const;
    void clear_shape_items();

    // Input helpers.
    bool inside_image(const QPointF& p) const;
    void clamp_zoom_origin();
    void reset_zoom();
    QPointF level_one_origin(const QPointF& p) const;
    void start_zoom(int level, const QPointF& origin);
    void first_zoom_step_click(const QPointF& p);
    bool shape_hit(const QPointF& p, int* hit_id);
    void fisheye_open(const QPointF& p);
    void fisheye_recentre(const QPointF& p);
    bool native_active() const;

    // Hooks for the PTZ gestures, which live in their own component and are
    // reached through the hooks object when one is attached.
    bool ptz_press(QMouseEvent* e);
    void ptz_right_click(QMouseEvent* e);
    void ptz_wheel(QWheelEvent* e);
    bool ptz_move(QMouseEvent* e);
    bool ptz_release(QMouseEvent* e);
    bool ptz_double_click(QMouseEvent* e);
    void ptz_hold_end();

    // PTZ glue and gesture state (the gestures reach it as a friend).
    friend class PtzGestures;
    bool native_usable() const;
    void release_ptz();
    bool in_ptz_centre_circle(int x, int y) const;
    int ptz_status_code = 0;
    PtzCtrlWeb* ptz_web = nullptr;
    PtzGestureHooks* ptz_gestures = nullptr;
    QTimer* ptz_status_timer = nullptr;
    bool click_pending = false;
    bool native_move = false;
    int sent_hold_x = -1, sent_hold_y = -1;
    int native_target_x = -1, native_target_y = -1;
    // Key events go to its other children; it may be deleted before the tile
    // once the tile has been moved elsewhere.
    QPointer<QWidget> parent_widget;
    bool painting = false;
    bool external_source = false;
    // Stands for a running display when frames are pushed from outside.
    bool display_started = false;
    bool display_counted = false;
    QString draw_overlay_text;
    QList<DrawOverlayPrimitive> draw_overlay_primitives;
    bool message_shown = false;
    QString message_text;
    bool message_not_opaque = false;
    QTimer* resize_timer = nullptr;
    QTimer* hold_timer = nullptr;
    QTimer* wheel_timer = nullptr;
    QTimer* single_click_timer = nullptr;
    QTimer* security_stop_timer = nullptr;
    // Loop mode: restarts in a row after an error that ended the stream; a
    // start whose stream ran steadily begins the count again.
    QTimer* loop_restart_timer = nullptr;
    int loop_restarts = 0;
    bool wheel_ready = true;
    bool stream_start = true;
    bool fisheye_active = false;
    bool is_buffering = false;
    int buffering_percent = -1;
    bool first_frame_logged = false;
    bool first_frame_drawn = false;
    double shown_frame_rate = 0.0;
    double stream_frame_rate = 0.0;
    double shown_frame_counter = 0.0;
    int drawn_width = 0;
    int drawn_height = 0;

    // Fisheye view.
    QImage panorama;
    int dewarp_src_width = 0, dewarp_src_height = 0;
    int dewarp_radius = 0, dewarp_circumference = 0;
    int dewarp_center_x = 0, dewarp_center_y = 0;
    float dewarp_angle = 0.f, dewarp_fov = 45.f, dewarp_zoom = 0.f;
    float dewarp_last_angle = -1.f, dewarp_last_fov = -1.f, dewarp_last_zoom = -1.f;
    DewarpGeometry dewarp_geometry;
    float dewarp_angle_step = 0.f, dewarp_row_step = 0.f;
    int dewarp_zoom_base = 0, dewarp_zoom_offset = 0;

    // Mouse input.
    bool digital_zoom = false;
    int zoom_level = 0;
    double zoom_origin_x = 0.0, zoom_origin_y = 0.0;
    bool drag_started = false;
    bool dragged = false;
    int drag_x = 0, drag_y = 0;
    bool pointer_left = false;
    bool ignore_until_press = false;
    QPainterPath shape_highlight;

    // Shapes and PTZ feedback.
    QList<ShapeRecord> shape_list;
    QList<QGraphicsItem*> click_list;
    bool shapes_built = false;
    bool area_flag = false;
    bool hold_move = false;
    int hold_x = -1, hold_y = -1;
    double press_x = 0.0, press_y = 0.0;

    QNetworkAccessManager* upload_manager = nullptr;
};
