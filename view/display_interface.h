#pragma once

#include <QByteArray>
#include <QImage>
#include <QList>
#include <QMutex>
#include <QPointer>
#include <QRect>
#include <QString>
#include <QStringList>
#include <QtGlobal>

class QTimer;
class new_display_thread;
class NativePTZInterface;

// Settings and state that a player sets on one display tile. The tile reads
// and writes the fields directly; players go through the accessors.
class DisplayInterface
{
public:
    DisplayInterface() = default;
    virtual ~DisplayInterface() = default;
    DisplayInterface(const DisplayInterface&) = delete;
    DisplayInterface& operator=(const DisplayInterface&) = delete;

    virtual void set_shapes(QString base64) = 0;
    virtual void set_camera_id(QString id) = 0;
    virtual void set_scale_algorithm(int flags) = 0;

    bool is_center_image() const { return center_image; }
    void set_center_image(bool v) { center_image = v; }
    QString get_access_token() const { return access_token; }
    bool is_ptz_mode() const { return ptz_mode; }
    void set_ptz_mode(bool v) { ptz_mode = v; }
    int get_buffer_size_ms() const { return buffer_size_in_ms; }
    void set_buffer_size_ms(int v) { buffer_size_in_ms = v; }
    QString get_banner_text() const { return banner_text; }
    QString get_codec() const { return codec.toLower(); }
    int get_codec_height() const { return codec_height; }
    void set_codec_height(int v) { codec_height = v; }
    int get_codec_width() const { return codec_width; }
    void set_codec_width(int v) { codec_width = v; }
    bool is_ending() const { return ending; }
    void set_ending_flag(bool v) { ending = v; }
    void set_ending_state(bool v);
    QStringList get_ptz_options() const { return ptz_options; }
    QString get_ptz_web_url() const { return ptz_web_url; }
    bool is_fullscreen_enabled() const { return fullscreen_on_double_click; }
    void set_fullscreen_enabled(bool v) { fullscreen_on_double_click = v; }
    bool is_banner_mode() const { return banner_mode; }
    bool is_draw_overlay_enabled() const { return draw_overlay_on; }
    bool is_fullscreen() const { return in_fullscreen; }
    void set_fullscreen(bool v) { in_fullscreen = v; }
    bool is_only_object_frames() const { return only_object_frames; }
    void set_only_object_frames(bool v) { only_object_frames = v; }
    bool is_overlay_enabled() const { return status_overlay; }
    void set_overlay_enabled(bool v) { status_overlay = v; }
    bool is_local_view_mode() const { return local_view_mode; }
    void set_local_view_mode(bool v) { local_view_mode = v; }
    bool is_fisheye_view() const { return fisheye_view; }
    void set_fisheye_view(bool v) { fisheye_view = v; }
    bool is_mouse_interaction() const { return mouse_interaction; }
    void set_mouse_interaction(bool v) { mouse_interaction = v; }
    bool is_ptz_enabled() const { return ptz_on; }
    int get_overlay_text_size() const { return overlay_text_size; }
    void set_overlay_text_size(const QString& size);
    NativePTZInterface* get_ptz_driver() const { return ptz_driver; }
    int get_ptz_speed() const { return ptz_speed.isEmpty() ? 0 : ptz_speed.toInt(nullptr, 10); }
    bool is_timestamp_signal() const { return timestamp_signal; }
    QString get_current_timestamp() const { return current_timestamp; }
    void set_current_timestamp(const QString& v) { current_timestamp = v; }
    QString get_stream_scheme() const { return stream_scheme; }
    QString get_stream_host() const { return stream_host; }
    QString get_stream_port() const { return stream_port; }
    QString get_stream_extra() const { return stream_extra; }
    QString get_stream_path() const { return stream_path; }
    bool is_bitrate_shown() const { return show_bitrate; }
    bool is_loop() const { return loop; }
    bool is_timestamp_by_second() const { return timestamp_by_second; }
    bool is_timestamp_exact() const { return timestamp_exact; }
    QString get_session_id() const { return session_id; }
    QString get_tile_name() const { return name; }
    void set_tile_name(const QString& v) { name = v; }
    void set_keyframe_timestamp(const QString& v) { keyframe_timestamp = v; }
    void set_camera_name(const QString& v) { camera_name = v; }

    // Setters that the players of this system leave alone but that the tile's
    // other users (stream window, tests) need.
    void set_draw_overlay_enabled(bool v) { draw_overlay_on = v; }
    void set_timestamp_signal(bool v) { timestamp_signal = v; }
    void set_timestamp_by_second(bool v) { timestamp_by_second = v; }
    void set_timestamp_exact(bool v) { timestamp_exact = v; }
    void set_bitrate_shown(bool v) { show_bitrate = v; }
    void set_banner_mode(bool v) { banner_mode = v; }
    void set_banner_text(const QString& v) { banner_text = v; }
    void set_overlay_reference_size(int w, int h) { overlay_ref_width = w; overlay_ref_height = h; }
    QString get_camera_name() const { return camera_name; }
    int get_camera_id() const { return camera_id; }
    int get_scale_algorithm() const { return scale_algorithm; }
    QString get_shapes() const { return shapes; }

    // Server stream connection, read by the tile when it starts its stream.
    void set_stream_scheme(const QString& v) { stream_scheme = v; }
    void set_stream_host(const QString& v) { stream_host = v; }
    void set_stream_port(const QString& v) { stream_port = v; }
    void set_stream_extra(const QString& v) { stream_extra = v; }
    void set_stream_path(const QString& v) { stream_path = v; }
    void set_codec(const QString& v) { codec = v; }
    void set_access_token(const QString& v) { access_token = v; }
    void set_proxy(const QString& host, const QString& port, bool use)
    {
        proxy_host = host;
        proxy_port = port;
        use_proxy = use;
    }
    void set_loop(bool v) { loop = v; }
    // Certificates (PEM) the stream's TLS trusts besides the system's store.
    void set_trusted_certificates(const QList<QByteArray>& pem) { trusted_certificates = pem; }
    QList<QByteArray> get_trusted_certificates() const { return trusted_certificates; }

    // PTZ settings. No window sets them yet; tests and hosts that offer PTZ do.
    void set_ptz_options(const QStringList& v) { ptz_options = v; }
    void set_ptz_web_url(const QString& v) { ptz_web_url = v; }
    void set_session_id(const QString& v) { session_id = v; }
    void set_ptz_enabled(bool v) { ptz_on = v; }
    virtual void set_ptz_driver(NativePTZInterface* driver) { ptz_driver = driver; }
    void set_ptz_speed(const QString& v) { ptz_speed = v; }
    QString get_ptz_speed_text() const { return ptz_speed; }
    void set_native_zoom_step(double v) { native_zoom_step = v; }
    double get_native_zoom_step() const { return native_zoom_step; }
    bool is_ptz_drag() const { return ptz_drag; }
    void set_ptz_drag(bool v) { ptz_drag = v; }

protected:
    qint64 last_frame_time = 0;
    qint64 paint_start_time = 0;
    qint64 rate_window_start = 0;
    qint64 display_delay = 0;
    QPointer<new_display_thread> display_thread;
    QTimer* ending_timer = nullptr;
    int frame_width = 0;
    int frame_height = 0;
    int overlay_ref_width = 0;
    int overlay_ref_height = 0;
    float widget_width = 0.f;
    float widget_height = 0.f;
    QRect selection_rect{0, 0, 0, 0};
    // The picture on screen. The tile owns it (implicitly shared, never a
    // pointer into a decoder buffer); guarded by the mutex.
    QImage frame_image;
    mutable QMutex mutex;
    int image_top_margin = 0;
    int image_left_margin = 0;
    int last_frame_id = -1;
    int display_retry_count = 0;
    bool paused = false;
    bool start_pending = true;
    QString data_rate_text;
    QStringList ptz_options;
    QString stream_scheme;
    QString stream_host;
    QString stream_port;
    QString stream_extra;
    QString stream_path;
    QString codec;
    QString ptz_web_url;
    QString name;
    QString banner_text;
    QString current_timestamp;
    QString keyframe_timestamp;
    QString session_id;
    QString access_token;
    bool ptz_mode = false;
    bool banner_mode = false;
    bool in_fullscreen = false;
    bool status_overlay = false;
    bool timestamp_signal = false;
    bool draw_overlay_on = false;
    bool mouse_interaction = false;
    bool only_object_frames = false;
    bool local_view_mode = false;
    bool show_bitrate = false;
    bool ending = false;
    bool loop = false;
    bool fullscreen_on_double_click = true;
    bool fisheye_view = false;
    bool timestamp_by_second = false;
    bool timestamp_exact = false;
    bool center_image = false;
    int overlay_text_size = 16;
    int buffer_size_in_ms = 0;
    int codec_width = -1;
    int codec_height = -1;
    NativePTZInterface* ptz_driver = nullptr;
    QString ptz_speed;
    QString proxy_host;
    QString proxy_port;
    QString camera_name;
    QString ptz_status_command;
    QString ptz_status_fault;
    QString ptz_status_driver;
    QString shapes;
    int scale_algorithm = -1;
    int camera_id = -1;
    double native_zoom_step = 0.5;
    bool ptz_on = false;
    bool use_proxy = false;
    bool ptz_drag = false;
    bool native_request_idle = true;
    int native_busy_count = 0;
    QList<QByteArray> trusted_certificates;
};
