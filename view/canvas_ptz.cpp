// The tile's side of pan-tilt-zoom: the native driver glue (status
// messages, held moves, security stops, host commands) and the forwarding of
// the mouse hooks to the gestures object of the PTZ library.

#include <QMouseEvent>
#include <QTimer>
#include <QWheelEvent>

#include <cmath>

#include "app/zq_log.h"
#include "view/canvas.h"
#include "view/native_ptz_interface.h"
#include "view/ptz_gesture_hooks.h"

namespace {

constexpr int status_text_ms = 3000;

} // namespace

bool Canvas::native_usable() const
{
    return ptz_on && ptz_driver && ptz_driver->is_ready() && ptz_driver->is_active();
}

bool Canvas::native_active() const
{
    return native_usable();
}

bool Canvas::in_ptz_centre_circle(int x, int y) const
{
    const double dx = x - width() / 2.0, dy = y - height() / 2.0;
    return dx * dx + dy * dy <= 20.0 * 20.0;
}

void Canvas::set_ptz_gestures(PtzGestureHooks* hooks)
{
    if (hooks == ptz_gestures)
        return;
    delete ptz_gestures;
    ptz_gestures = hooks;
}

void Canvas::set_ptz_driver(NativePTZInterface* driver)
{
    if (driver == ptz_driver)
        return;
    if (ptz_driver) {
        ptz_driver->disconnect(this);
        delete ptz_driver;
    }
    ptz_driver = driver;
    if (!driver)
        return;
    // A driver deleted by its maker must not stay behind as a dangling pointer.
    connect(driver, &QObject::destroyed, this, [this, driver] {
        if (ptz_driver == driver)
            ptz_driver = nullptr;
    });
    if (has_display())
        connect_ptz_driver();
}

void Canvas::release_ptz()
{
    delete ptz_gestures;
    ptz_gestures = nullptr;
    if (ptz_status_timer)
        ptz_status_timer->stop();
    if (ptz_driver) {
        log_info(QStringLiteral("Destroy :: Destroy native PTZ "));
        NativePTZInterface* d = ptz_driver;
        ptz_driver = nullptr;
        d->disconnect(this);
        delete d;
    }
}

void Canvas::connect_ptz_driver()
{
    if (!ptz_driver)
        return;
    log_info(QStringLiteral("connect ptz driver"));
    connect(ptz_driver, &NativePTZInterface::send_request_finished, this, &Canvas::onvif_request_finished,
            Qt::UniqueConnection);
    connect(ptz_driver, &NativePTZInterface::status_message, this, &Canvas::get_direct_ptz_message,
            Qt::UniqueConnection);
    ptz_driver->set_active(true);
    const QString driver_name = ptz_driver->get_name().toUpper();
    get_direct_ptz_message(1, QStringLiteral("starting"), QStringLiteral("starting"), driver_name);
    if (ptz_driver && !driver_name.contains(QLatin1String("ONVIF")))
        get_direct_ptz_message(1, QStringLiteral("ON"), ptz_driver->status_text(), driver_name);
}

void Canvas::get_direct_ptz_message(int code, QString command, QString fault, QString driver)
{
    log_info(QStringLiteral("get direct PTZ message { ") + driver + QStringLiteral("} ") + command
             + QStringLiteral(" / ") + fault + QStringLiteral(" / ") + QString::number(code));
    ptz_status_code = code;
    // Shown on the picture: a camera's texts are capped.
    ptz_status_command = command.left(200);
    ptz_status_fault = fault.left(1000);
    ptz_status_driver = driver.left(200);
    if (code == -99) {
        ptz_mode = false;
        if (ptz_driver)
            ptz_driver->set_active(false);
    }
    // One timer, restarted by each message: the texts vanish 3 s after the
    // last one, not after the first.
    if (!ptz_status_timer) {
        ptz_status_timer = new QTimer(this);
        ptz_status_timer->setSingleShot(true);
        connect(ptz_status_timer, &QTimer::timeout, this, &Canvas::reset_direct_ptz_message);
    }
    ptz_status_timer->start(status_text_ms);
    update();
}

void Canvas::reset_direct_ptz_message()
{
    ptz_status_command.clear();
    ptz_status_fault.clear();
    update();
}

void Canvas::onvif_request_finished(int request_code)
{
    native_request_idle = true;
    native_busy_count = 0;
    if (!hold_timer || !wheel_timer || hold_timer->isActive() || wheel_timer->isActive())
        return;
    if (request_code < 0)
        QTimer::singleShot(500, this, &Canvas::onvif_request_security);
    else if (request_code == 2)
        QTimer::singleShot(500, this, &Canvas::onvif_request_security_stop);
}

void Canvas::onvif_request_security()
{
    if (!hold_timer || !wheel_timer || hold_timer->isActive() || wheel_timer->isActive())
        return;
    if (sent_hold_x >= 0 || sent_hold_y >= 0 || !native_usable())
        return;
    native_request_idle = false;
    ptz_driver->ptz_command(QStringLiteral("PanTilt_ContinuousMove"), 0, 0.f, 0.f, 0.f, codec_width, codec_height,
                            get_ptz_speed(), -1, -1);
    sent_hold_x = sent_hold_y = -9999;
    hold_move = false;
}

void Canvas::onvif_request_security_stop()
{
    if (!hold_timer || !wheel_timer || hold_timer->isActive() || wheel_timer->isActive() || !native_usable())
        return;
    log_info(QStringLiteral("send security stop"));
    ptz_driver->ptz_command(QStringLiteral("STOP_PanTilt_ContinuousMove"), 0, 0.f, 0.f, 0.f, codec_width,
                            codec_height, get_ptz_speed(), -1, -1);
    native_request_idle = false;
    sent_hold_x = sent_hold_y = -9999;
    hold_move = false;
}

void Canvas::mouse_hold_ptz(int pan, int tilt, int zoom)
{
    if (!native_request_idle) {
        log_info(QStringLiteral("mouse hold ptz :: Wait for previous request to finish"));
        if (hold_timer && hold_timer->isActive())
            hold_timer->setInterval(20);
        if (++native_busy_count > 50) {
            // The request in flight is given up; the next hold is sent.
            native_busy_count = 0;
            native_request_idle = true;
        }
        return;
    }
    if (pan == native_target_x && tilt == native_target_y)
        return;
    const bool stop = pan < -9999 && tilt < -9999;
    const bool running = hold_timer && hold_timer->isActive();
    sent_hold_x = hold_x;
    sent_hold_y = hold_y;
    native_target_x = pan;
    native_target_y = tilt;
    const bool driver_ok = ptz_driver && ptz_driver->is_ready() && ptz_driver->is_active();
    if (stop) {
        if (hold_timer)
            hold_timer->stop();
        sent_hold_x = sent_hold_y = native_target_x = native_target_y = -9999;
        hold_move = false;
        if (driver_ok) {
            // Idle is cleared only for a request really sent: nothing else
            // would ever set it again.
            native_request_idle = false;
            ptz_driver->ptz_command(QStringLiteral("ContinuousMove"), 0, 0.f, 0.f, 0.f, codec_width, codec_height,
                                    get_ptz_speed(), -1, -1);
        }
    } else if (running && driver_ok) {
        native_request_idle = false;
        ptz_driver->ptz_command(QStringLiteral("ContinuousMove"), 0, float(pan), float(tilt), float(zoom),
                                codec_width, codec_height, get_ptz_speed(), -1, -1);
    }
    if (hold_timer && hold_timer->isActive())
        hold_timer->setInterval(150);
}

void Canvas::pluginptz(QString action, QString type, QString sensibility)
{
    if (!native_usable())
        return;
    log_info(QStringLiteral("pluginptz : ") + action.left(200) + QStringLiteral(" / ") + type.left(200)
             + QStringLiteral(" / ") + sensibility.left(200));
    if (action.isEmpty() || type.isEmpty())
        return;
    if (action.contains(QLatin1String("zoom"))) {
        ptz_driver->ptz_command(action, 0, 0.f, 0.f, 0.f, codec_width, codec_height, get_ptz_speed(), -1, -1);
        return;
    }
    if (!action.contains(QLatin1Char(',')))
        return;
    const QStringList parts = action.split(QLatin1Char(','));
    double pan = 0.0, tilt = 0.0, zoom = 0.0;
    if (parts.size() > 2) {
        pan = parts.at(0).toDouble();
        tilt = parts.at(1).toDouble();
        zoom = parts.at(2).toDouble();
    }
    // "nan", "inf" or values beyond a float: refused, never sent.
    for (double v : {pan, tilt, zoom}) {
        if (!std::isfinite(v) || std::fabs(v) > 1.0e6) {
            log_warn(QStringLiteral("pluginptz :: refused value"));
            return;
        }
    }
    log_info(QStringLiteral("pluginptz :: ContinuousMove :: ") + QString::number(pan, 'g', 6) + QStringLiteral(" / ")
             + QString::number(tilt, 'g', 6) + QStringLiteral(" / ") + QString::number(zoom, 'g', 6));
    const int zoom_only = (pan == 0.0 && tilt == 0.0 && zoom != 0.0) ? 1 : 0;
    ptz_driver->ptz_command(QStringLiteral("ContinuousMove"), zoom_only, float(pan), float(tilt), float(zoom),
                            codec_width, codec_height, get_ptz_speed(), -1, -1);
    if (type.contains(QLatin1String("relative"))) {
        if (!security_stop_timer) {
            security_stop_timer = new QTimer();
            security_stop_timer->setSingleShot(true);
            connect(security_stop_timer, &QTimer::timeout, this, &Canvas::onvif_request_security_stop);
        }
        security_stop_timer->start(750);
    }
}

void Canvas::setWheelOn()
{
    if (wheel_timer && native_usable() && !native_request_idle) {
        log_info(QStringLiteral("wheelEvent :: Previous request not finished"));
        wheel_timer->setSingleShot(true);
        wheel_timer->start(25);
        return;
    }
    wheel_ready = true;
    if (wheel_timer)
        wheel_timer->stop();
}

// Hooks and timer slots, forwarded to the gestures object when one is set.

bool Canvas::ptz_press(QMouseEvent* e)
{
    if (ptz_gestures)
        ptz_gestures->press(e);
    return false;
}

void Canvas::ptz_right_click(QMouseEvent* e)
{
    if (ptz_gestures)
        ptz_gestures->right_click(e);
}

void Canvas::ptz_wheel(QWheelEvent* e)
{
    if (ptz_gestures)
        ptz_gestures->wheel(e);
}

bool Canvas::ptz_move(QMouseEvent* e)
{
    return ptz_gestures ? ptz_gestures->move(e) : false;
}

bool Canvas::ptz_release(QMouseEvent* e)
{
    return ptz_gestures ? ptz_gestures->release(e) : false;
}

bool Canvas::ptz_double_click(QMouseEvent* e)
{
    // In PTZ mode a double click counts only inside the centre circle of an
    // active native driver; elsewhere it belongs to the camera gestures.
    if (!ptz_mode)
        return true;
    return native_active() && in_ptz_centre_circle(int(e->position().x()), int(e->position().y()));
}

void Canvas::ptz_hold_end()
{
    if (ptz_gestures)
        ptz_gestures->leave();
}

void Canvas::mousehold()
{
    if (ptz_gestures)
        ptz_gestures->hold_tick();
}

void Canvas::mousehold_Stop()
{
    if (ptz_gestures)
        ptz_gestures->hold_stop_tick();
}

void Canvas::mouse_release_post_event()
{
    if (ptz_gestures)
        ptz_gestures->click_post();
}

void Canvas::zqptz_request_security_stop()
{
    if (ptz_gestures)
        ptz_gestures->web_security_stop();
}
