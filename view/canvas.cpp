#include "view/canvas.h"

#include <QCoreApplication>
#include <QDate>
#include <QGraphicsItem>
#include <QKeyEvent>
#include <QNetworkAccessManager>
#include <QThread>
#include <QTime>
#include <QTimer>

#include <chrono>
#include <cmath>

#include "app/http_singleton.h"
#include "app/zq_log.h"
#include "view/new_display_thread.h"

namespace {

int digits(const QString& s, int from, int count, bool* ok)
{
    int v = 0;
    for (int i = from; i < from + count; ++i) {
        const QChar c = s.at(i);
        if (c < QLatin1Char('0') || c > QLatin1Char('9')) {
            *ok = false;
            return 0;
        }
        v = v * 10 + (c.unicode() - '0');
    }
    return v;
}

} // namespace

Canvas::Canvas(QWidget* parent) : QWidget(parent), parent_widget(parent)
{
    log_info(QStringLiteral("Construct"));
    ending_timer = new QTimer();
    connect(ending_timer, SIGNAL(timeout()), this, SLOT(timerEnding()));
    resize_timer = new QTimer(this);
    resize_timer->setSingleShot(true);
    connect(resize_timer, &QTimer::timeout, this, &Canvas::resizeDone);
    hold_timer = new QTimer();
    connect(hold_timer, &QTimer::timeout, this, &Canvas::mousehold);
    wheel_timer = new QTimer();
    wheel_timer->setSingleShot(true);
    connect(wheel_timer, &QTimer::timeout, this, &Canvas::setWheelOn);
    raise_display_count();
    setStyleSheet(QStringLiteral("background-color: black;"));
}

Canvas::~Canvas()
{
    log_info(QStringLiteral("Destroy"));
    set_ending_state(true);
    emit send_status_message(QStringLiteral("disconnecting"));
    update();
    setEnding();
    end_stream_display();
    for (QTimer** t : {&ending_timer, &resize_timer, &hold_timer, &wheel_timer, &single_click_timer,
                       &security_stop_timer}) {
        if (*t) {
            (*t)->stop();
            delete *t;
            *t = nullptr;
        }
    }
    release_ptz();
    clear_shape_items();
    if (in_fullscreen) {
        log_info(QStringLiteral("Destroy :: Destroy fullscreen "));
        log_info(QStringLiteral("Destroy :: Destroy fullscreen ending_done "));
        emit ending_done();
    }
    log_info(QStringLiteral("Destroy finished"));
}

qint64 Canvas::now_ticks()
{
    // Wall-clock time in 100-nanosecond ticks.
    using namespace std::chrono;
    return duration_cast<duration<qint64, std::ratio<1, 10000000>>>(system_clock::now().time_since_epoch())
        .count();
}

void Canvas::log_info(const QString& step) const
{
    ZQLog::log(QStringLiteral("[INFO] Plugin [") + name + QStringLiteral("] :: ") + step);
}

void Canvas::log_warn(const QString& step) const
{
    ZQLog::log(QStringLiteral("[WARN] Plugin [") + name + QStringLiteral("] :: ") + step);
}

void Canvas::log_error(const QString& step) const
{
    ZQLog::log(QStringLiteral("[ERROR] Plugin [") + name + QStringLiteral("] :: ") + step);
}

bool Canvas::has_display() const
{
    return display_thread != nullptr || display_started;
}

bool Canvas::display_stopping() const
{
    // The display-and-buffer thread reports its stop flag; a display fed from
    // outside stops only with the tile.
    return display_thread ? display_thread->is_stopping() : false;
}

void Canvas::raise_display_count()
{
    if (display_counted)
        return;
    Http_singleton* ctx = Http_singleton::instance();
    ctx->set_display_count(ctx->get_display_count() + 1);
    display_counted = true;
}

void Canvas::lower_display_count()
{
    if (!display_counted)
        return;
    Http_singleton* ctx = Http_singleton::instance();
    ctx->set_display_count(qMax(0, ctx->get_display_count() - 1));
    display_counted = false;
}

bool Canvas::parse_display_timestamp(const QString& text, QDate* date, QTime* time)
{
    // "yyyy-MM-dd HH:mm:ss.zzz"
    if (text.size() != 23 || text.at(4) != QLatin1Char('-') || text.at(7) != QLatin1Char('-')
        || text.at(10) != QLatin1Char(' ') || text.at(13) != QLatin1Char(':') || text.at(16) != QLatin1Char(':')
        || text.at(19) != QLatin1Char('.'))
        return false;
    bool ok = true;
    const int y = digits(text, 0, 4, &ok), mo = digits(text, 5, 2, &ok), d = digits(text, 8, 2, &ok);
    const int h = digits(text, 11, 2, &ok), mi = digits(text, 14, 2, &ok), s = digits(text, 17, 2, &ok);
    const int ms = digits(text, 20, 3, &ok);
    if (!ok)
        return false;
    const QDate qd(y, mo, d);
    const QTime qt(h, mi, s, ms);
    if (!qd.isValid() || !qt.isValid())
        return false;
    if (date)
        *date = qd;
    if (time)
        *time = qt;
    return true;
}

QString Canvas::format_bitrate(double bytes_per_second)
{
    double value = bytes_per_second * 8.0;
    if (!std::isfinite(value))
        value = 0.0;
    QString unit = QStringLiteral("b");
    if (value >= 1048576.0) {
        value /= 1048576.0;
        unit = QStringLiteral("Mb");
    } else if (value >= 1024.0) {
        value /= 1024.0;
        unit = QStringLiteral("kb");
    }
    int precision = (value > 1000.0 && value < 1024.0) ? 4 : 3;
    // Fixed notation with as many decimals as the significant digits allow:
    // never exponent notation ("1e+03").
    const double mag = std::abs(value) < 1.0 ? 1.0 : std::floor(std::log10(std::abs(value))) + 1.0;
    int decimals = qMax(0, precision - int(mag));
    QString number = QString::number(value, 'f', decimals);
    // Rounding can add a digit (999.6 -> "1000"): that is still fine, but
    // strip trailing zeros of the decimals as the shortest form would.
    if (number.contains(QLatin1Char('.'))) {
        while (number.endsWith(QLatin1Char('0')))
            number.chop(1);
        if (number.endsWith(QLatin1Char('.')))
            number.chop(1);
    }
    return QStringLiteral("%1 %2").arg(number, unit);
}

QString Canvas::rate_text() const
{
    // Received bits per second, in kilobits between 1024 and 1048576.
    double rate = data_rate_text.toDouble() * 8.0;
    if (!std::isfinite(rate))
        rate = 0.0;
    if (rate >= 1024.0 && rate < 1048576.0)
        rate /= 1024.0;
    return QString::number(qint64(qBound(-9.0e15, rate, 9.0e15)));
}

QImage Canvas::get_frame_image() const
{
    QMutexLocker lock(&mutex);
    return frame_image;
}

void Canvas::set_shapes(QString base64)
{
    if (base64.isEmpty())
        return;
    const QByteArray raw = QByteArray::fromBase64(base64.toUtf8());
    if (raw.size() > Shapes_Overlay::max_description_bytes)
        return;
    shapes = QString::fromUtf8(raw);
    ptz_mode = false;
    local_view_mode = false;
    shapes_built = false;
    clear_shape_items();
    update();
}

void Canvas::set_camera_id(QString id)
{
    if (id.isEmpty())
        return;
    camera_id = id.toInt();
}

void Canvas::set_scale_algorithm(int flags)
{
    if (flags >= 0)
        scale_algorithm = flags;
}

void Canvas::clear_shape_items()
{
    qDeleteAll(click_list);
    click_list.clear();
    shape_list.clear();
    shapes_built = false;
}

void Canvas::set_stream_start(bool start)
{
    log_info(QStringLiteral("set stream start :: ") + (start ? QStringLiteral("true") : QStringLiteral("false")));
    stream_start = start;
    if (!start)
        return;
    ending = false;
    {
        QMutexLocker lock(&mutex);
        frame_image = QImage();
    }
    last_frame_id = -1;
    start_pending = true;
    loop_restarts = 0;
    if (loop_restart_timer)
        loop_restart_timer->stop();
    first_frame_logged = false;
    first_frame_drawn = false;
    raise_display_count();
    log_info(QStringLiteral("set stream start :: send update to display"));
    update();
}

void Canvas::set_external_source()
{
    external_source = true;
}

void Canvas::setEnding()
{
    log_info(QStringLiteral("set ending"));
    const bool was_running = has_display() || !ending;
    ending = true;
    if (loop_restart_timer)
        loop_restart_timer->stop();
    emit display_stop();
    lower_display_count();
    display_started = false;
    if (was_running)
        emit endingsignal();
}

void Canvas::stop_display(bool stop)
{
    set_ending_state(stop);
    if (ending) {
        emit send_status_message(QStringLiteral("disconnecting"));
        update();
        setEnding();
    }
}

void Canvas::go()
{
    log_info(QStringLiteral("Go instance    ") + QString::number(Http_singleton::instance()->get_display_count()));
    log_info(QStringLiteral("Go initial     ") + QString::number(start_pending ? 1 : 0));
    if (ending_timer)
        ending_timer->stop();
    update();
}

void Canvas::Go()
{
    log_info(QStringLiteral("Start video stream"));
    emit send_status_message(QStringLiteral("connecting"));

    const QStringList parts = stream_path.split(QLatin1Char('&'), Qt::KeepEmptyParts);
    const bool was_fullscreen = name.contains(QLatin1String("fullscreen"));
    name.clear();
    for (const QString& part : parts) {
        if (part.contains(QLatin1String("id="))) {
            name = part;
            name.remove(QLatin1String("id="));
            if (was_fullscreen)
                name += QLatin1String(" - fullscreen");
        }
    }
    log_info(QStringLiteral("Go() :: buffer_size_in_ms > 0 : ") + QString::number(buffer_size_in_ms));
    // A frame pushed before the display started is kept: it is the picture
    // the reader positioned on and may be the only one until the next step.
    const qint64 now = now_ticks();
    last_frame_time = now;
    paint_start_time = now;
    rate_window_start = now;
    if (stream_path.contains(QLatin1String("onlyobjframes=1")))
        only_object_frames = true;

    // Frames come from outside through displayFrame; the display-and-buffer
    // thread of a server stream attaches here.
    display_started = true;
    connect_ptz_driver();
    if (external_source)
        return;
    start_stream_display();
}

void Canvas::checkend()
{
    log_info(QStringLiteral("Checkend"));
    if (loop) {
        // The first restart goes at once; while starts keep ending in an
        // error before their stream ran steadily, the wait grows from 1 s to
        // 5 s, so that an error that does not go away (a codec no decoder
        // reads, a refused scheme, a stream that shows a picture and then
        // one of those) is not retried without pause, a request each time.
        // Asked before the stop, which may let the display thread go.
        if (display_thread && display_thread->stream_ran_steadily())
            loop_restarts = 0;
        if (has_display())
            emit display_stop();
        const int n = loop_restarts++;
        const int delay = n == 0 ? 0 : int(qMin<qint64>(5000, qint64(1000) << qMin(n - 1, 8)));
        log_info(QStringLiteral("Checkend :: loop restart in ") + QString::number(delay) + QStringLiteral(" ms"));
        if (delay == 0) {
            loop_restart();
            return;
        }
        if (!loop_restart_timer) {
            loop_restart_timer = new QTimer(this);
            loop_restart_timer->setSingleShot(true);
            connect(loop_restart_timer, &QTimer::timeout, this, &Canvas::loop_restart);
        }
        loop_restart_timer->start(delay);
    } else if (ending_timer) {
        ending_timer->start(1000);
    }
}

void Canvas::loop_restart()
{
    if (ending)
        return;
    start_pending = true;
    go();
}

void Canvas::timerEnding()
{
    checkEnding();
}

void Canvas::checkEnding()
{
    log_info(QStringLiteral("Check Ending"));
    if (has_display())
        emit display_stop();
    if (ending_timer)
        ending_timer->stop();
    log_info(QStringLiteral("Check Ending :: value :: ") + QString::number(ending ? 1 : 0));
    if (!ending) {
        start_pending = true;
        if (ending_timer)
            ending_timer->stop();
        log_info(QStringLiteral("checkEnding :: set displayError :: No Frame ... Retrying ..."));
        displayError(QStringLiteral("No Frame ... Retrying ..."), QStringLiteral("NO VIDEO"), true);
    }
}

void Canvas::displayError(QString error, QString error_message, bool is_opacity)
{
    if (!error.isEmpty()) {
        QDate d;
        QTime t;
        if (timestamp_by_second && parse_display_timestamp(error, &d, &t)) {
            emit onchange_timestamp(d.toString(QStringLiteral("yyyyMMdd")) + t.toString(QStringLiteral("HHmmsszzz")),
                                    QString::number(shown_frame_rate, 'g', 6), rate_text());
        }
        current_timestamp = error;
    }
    message_shown = true;
    message_text = error_message;
    message_not_opaque = !is_opacity;
    update();
}

void Canvas::setPause()
{
    log_info(QStringLiteral("setPause"));
    paused = true;
    emit display_pause();
}

void Canvas::setStart()
{
    log_info(QStringLiteral("setStart"));
    paused = false;
    emit display_start();
}

void Canvas::speed_receive(double v)
{
    data_rate_text = QString::number(v, 'g', 6);
}

void Canvas::setup_codecSize(int w, int h)
{
    codec_width = w;
    codec_height = h;
    frame_width = w;
    frame_height = h;
    // A zoom kept across a change of picture size (another camera) must still
    // show the picture, not an empty region beyond its edge.
    if (digital_zoom)
        clamp_zoom_origin();
}

void Canvas::codec_resize(int w, int h)
{
    setup_codecSize(w, h);
    widget_width = float(width());
    widget_height = float(height());
}

void Canvas::stop_buffering()
{
    log_info(QStringLiteral("stop_buffering"));
    buffer_size_in_ms = 0;
}

void Canvas::buffering(bool on, double percentage)
{
    const int p = std::isfinite(percentage) ? int(qBound(-1e9, percentage, 1e9)) : 0;
    if (on == is_buffering && p == buffering_percent)
        return;
    is_buffering = on;
    buffering_percent = p;
    update();
}

void Canvas::display_update()
{
    shown_frame_counter += 1;
    update();
}

void Canvas::delete_display_thread()
{
    log_info(QStringLiteral("delete display thread"));
    // The thread that asks may be an earlier one, already replaced.
    if (auto* ended = qobject_cast<new_display_thread*>(sender())) {
        delete_when_finished(ended);
        if (ended != display_thread)
            return;
        display_thread = nullptr;
    }
    if (!display_thread && !display_started) {
        log_warn(QStringLiteral("delete display thread :: display thread already deleted"));
        return;
    }
    display_started = false;
}

void Canvas::snapshot_slot_uploadProgress(qlonglong, qlonglong)
{
    ZQLog::log("snapshot_slot_uploadProgress");
}

void Canvas::displayFrame(QImage frame, int linesize, int fw, int fh, QString timestamp, QString drawoverlay,
                          bool isUnwrapped, int frame_id, double fps, bool is_keyframe)
{
    Q_UNUSED(isUnwrapped);
    // The tile's state and its repaint belong to the GUI thread: a producer
    // that calls in directly from its own thread is queued over to it.
    if (QThread::currentThread() != thread()) {
        QMetaObject::invokeMethod(
            this,
            [=, this] {
                displayFrame(frame, linesize, fw, fh, timestamp, drawoverlay, isUnwrapped, frame_id, fps, is_keyframe);
            },
            Qt::QueuedConnection);
        return;
    }
    if (paused || ending) {
        log_warn(QStringLiteral("get display frame :: is pause or ending "));
        return;
    }
    if (!first_frame_logged)
        log_info(QStringLiteral("get display frame :: ") + QString::number(frame_id) + QStringLiteral(" :: frame size ")
                 + QString::number(fw) + QLatin1Char('x') + QString::number(fh) + QStringLiteral(" timestamp ")
                 + timestamp.left(64));
    if (fh == -99) {
        if (fw == -99 && !first_frame_logged) {
            log_info(QStringLiteral("get display frame :: force update detected"));
            update();
        }
        return;
    }
    // The picture's own size rules: the announced size is only a hint.
    if (!frame.isNull()) {
        fw = frame.width();
        fh = frame.height();
    }
    if (fw < 1 || fh < 1)
        return;
    // A call without a picture has no size to announce: the size it claims
    // would outlive it in the zoom and overlay arithmetic.
    if (!frame.isNull() && (fw != codec_width || fh != codec_height))
        setup_codecSize(fw, fh);
    last_frame_time = now_ticks();
    is_buffering = false;
    if (ending)
        return;
    if (frame.isNull() || painting) {
        if (frame.isNull())
            log_error(QStringLiteral("frame display data is NULL"));
        else
            log_info(QStringLiteral("data currently painting. Skip frame."));
        emit send_duration(0);
        return;
    }
    if (frame.format() != QImage::Format_RGB32 && frame.format() != QImage::Format_ARGB32
        && frame.format() != QImage::Format_ARGB32_Premultiplied)
        frame = frame.convertToFormat(QImage::Format_RGB32);
    {
        QMutexLocker lock(&mutex);
        frame_image = frame;
        if (fisheye_view) {
            if (!qFuzzyCompare(dewarp_angle, dewarp_last_angle) || !qFuzzyCompare(dewarp_zoom, dewarp_last_zoom)
                || !qFuzzyCompare(dewarp_fov, dewarp_last_fov) || panorama.size() != frame.size()) {
                if (panorama.size() != frame.size())
                    setup_scaler_dewrap(frame.width(), frame.height());
                dewarp_geometry = compute_dewarp_point(dewarp_angle, dewarp_zoom, dewarp_fov);
                dewarp_last_angle = dewarp_angle;
                dewarp_last_zoom = dewarp_zoom;
                dewarp_last_fov = dewarp_fov;
            }
            dewarp_frame(dewarp_geometry, frame);
        }
    }
    fisheye_active = fisheye_view;
    message_shown = false;

    if (status_overlay || timestamp_signal) {
        QDate old_d, new_d;
        QTime old_t, new_t;
        const bool old_ok = parse_display_timestamp(current_timestamp, &old_d, &old_t);
        const bool new_ok = parse_display_timestamp(timestamp, &new_d, &new_t);
        bool changed = false;
        if (new_ok) {
            if (timestamp_exact)
                changed = timestamp != current_timestamp;
            else if (timestamp_by_second)
                changed = !old_ok || old_t.hour() != new_t.hour() || old_t.minute() != new_t.minute()
                          || old_t.second() != new_t.second();
        }
        if (changed)
            emit onchange_timestamp(new_d.toString(QStringLiteral("yyyyMMdd")) + new_t.toString(QStringLiteral("HHmmsszzz")),
                                    QString::number(shown_frame_rate, 'g', 6), rate_text());
    }

    // Shown as plain text in the band: keep it to a sane length.
    current_timestamp = timestamp.left(256);
    if (is_keyframe)
        keyframe_timestamp = current_timestamp;
    if (draw_overlay_on) {
        if (drawoverlay != draw_overlay_text) {
            draw_overlay_text = drawoverlay.left(DrawOverlay::max_text_length);
            draw_overlay_primitives = DrawOverlay::parse(draw_overlay_text);
        }
    }
    if (!first_frame_logged) {
        log_info(QStringLiteral("get display frame :: update displayer with frame ") + QString::number(frame_id)
                 + QStringLiteral(" timestamp : ") + current_timestamp);
        first_frame_logged = true;
    }
    if (fps > 0 && std::isfinite(fps))
        stream_frame_rate = fps;
    if (frame_id > last_frame_id) {
        last_frame_id = frame_id;
        shown_frame_counter += 1;
    }
    update();
}

bool Canvas::event(QEvent* e)
{
    if ((e->type() == QEvent::KeyPress || e->type() == QEvent::KeyRelease) && parent_widget) {
        const auto children = parent_widget->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly);
        for (QWidget* w : children) {
            if (w == this || qobject_cast<Canvas*>(w))
                continue;
            auto* ke = static_cast<QKeyEvent*>(e);
            QKeyEvent copy(ke->type(), ke->key(), ke->modifiers(), ke->text(), ke->isAutoRepeat(), ke->count());
            QCoreApplication::sendEvent(w, &copy);
        }
    }
    return QWidget::event(e);
}

void Canvas::keyPressEvent(QKeyEvent* e)
{
    if (e->key() == Qt::Key_Escape && in_fullscreen) {
        in_fullscreen = false;
        showNormal();
    }
}

void Canvas::closeEvent(QCloseEvent* e)
{
    e->ignore();
}

void Canvas::showEvent(QShowEvent* e)
{
    log_info(QStringLiteral("showEvent"));
    if (e->type() == QEvent::Show) {
        paused = false;
        emit display_show();
    }
}

void Canvas::hideEvent(QHideEvent* e)
{
    log_info(QStringLiteral("hide event"));
    if (banner_mode) {
        log_info(QStringLiteral("hide event :: ignore event, is bandeau"));
        return;
    }
    if (e->type() == QEvent::Hide && !in_fullscreen && !ending) {
        log_info(QStringLiteral("hide event :: emit display hidden :: with pause ") + QString::number(paused ? 1 : 0));
        emit display_hidden(paused);
    }
}

void Canvas::resizeEvent(QResizeEvent* e)
{
    QWidget::resizeEvent(e);
    log_info(QStringLiteral("resizeEvent"));
    clear_shape_items();
    if (resize_timer) {
        log_info(QStringLiteral("resizeEvent :: check event"));
        if (resize_timer->isActive())
            resize_timer->stop();
        log_info(QStringLiteral("resizeEvent :: start event"));
        resize_timer->start(150);
    } else {
        log_info(QStringLiteral("resizeEvent :: no event to start"));
    }
}

void Canvas::resizeDone()
{
    int w = width();
    int h = height();
    log_info(QStringLiteral("Resize Done ") + QString::number(w) + QLatin1Char('x') + QString::number(h));
    if (w % 2)
        --w;
    if (h % 2)
        --h;
    widget_width = float(w);
    widget_height = float(h);
    if (codec_width > 0 && codec_height > 0)
        setup_codecSize(codec_width, codec_height);
    update();
}
