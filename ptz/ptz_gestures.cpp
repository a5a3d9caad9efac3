#include "ptz/ptz_gestures.h"

#include <QCoreApplication>
#include <QMouseEvent>
#include <QTimer>
#include <QWheelEvent>

#include <cmath>

#include "app/zq_log.h"
#include "ptz/ptz_ctrl_web.h"
#include "view/canvas.h"
#include "view/native_ptz_interface.h"

namespace {

QString num6(double v)
{
    return QString::number(v, 'g', 6);
}

} // namespace

PtzGestures* PtzGestures::attach(Canvas* tile)
{
    auto* g = new PtzGestures(tile);
    tile->set_ptz_gestures(g);
    return g;
}

PtzGestures::PtzGestures(Canvas* tile) : c(tile) {}

PtzGestures::~PtzGestures()
{
    if (c->ptz_web == web_control)
        c->ptz_web = nullptr;
    delete web_control;
}

PtzCtrlWeb* PtzGestures::web()
{
    if (!web_control) {
        web_control = new PtzCtrlWeb();
        if (web_timeout_ms > 0)
            web_control->set_timeout_ms(web_timeout_ms);
        web_control->set_ca_certificates(web_ca);
        QObject::connect(web_control, &PtzCtrlWeb::security_stop, c, &Canvas::zqptz_request_security_stop);
        c->ptz_web = web_control;
    }
    return web_control;
}

bool PtzGestures::has(const char* option) const
{
    // Exact, case-sensitive words.
    return c->ptz_options.contains(QLatin1String(option));
}

double PtzGestures::ratio_x() const
{
    return c->width() > 0 ? double(c->codec_width) / c->width() : 0.0;
}

double PtzGestures::ratio_y() const
{
    return c->height() > 0 ? double(c->codec_height) / c->height() : 0.0;
}

void PtzGestures::rearm_hold_timer_to_stop()
{
    QTimer* t = c->hold_timer;
    QObject::disconnect(t, &QTimer::timeout, c, &Canvas::mousehold);
    QObject::disconnect(t, &QTimer::timeout, c, &Canvas::mousehold_Stop);
    QObject::connect(t, &QTimer::timeout, c, &Canvas::mousehold_Stop);
    t->start(150);
}

void PtzGestures::web_release()
{
    if (web()->postContinuous(c->ptz_web_url, false, 0.0, 0.0, c->codec_width, c->codec_height, c->session_id) > 0) {
        c->sent_hold_x = 0;
        c->sent_hold_y = 0;
    }
}

void PtzGestures::press(QMouseEvent* e)
{
    const QPointF p = e->position();
    c->click_pending = true;
    c->hold_move = false;
    c->press_x = p.x();
    c->press_y = p.y();
    if (!has("holdclic") || !c->hold_timer)
        return;
    QTimer* t = c->hold_timer;
    QObject::disconnect(t, &QTimer::timeout, c, &Canvas::mousehold);
    QObject::disconnect(t, &QTimer::timeout, c, &Canvas::mousehold_Stop);
    QObject::connect(t, &QTimer::timeout, c, &Canvas::mousehold);
    t->setSingleShot(false);
    t->start(250);
    c->hold_x = int(p.x());
    c->hold_y = int(p.y());
    if (c->native_active() && c->in_ptz_centre_circle(c->hold_x, c->hold_y)) {
        c->hold_x = c->width() / 2;
        c->hold_y = c->height() / 2;
    }
}

void PtzGestures::hold_tick()
{
    c->click_pending = false;
    c->hold_move = true;
    c->selection_rect = QRect(0, 0, 0, 0);
    const int W = c->codec_width, H = c->codec_height;
    const double xc = c->hold_x * ratio_x(), yc = c->hold_y * ratio_y();
    const bool same = c->hold_x == c->sent_hold_x && c->hold_y == c->sent_hold_y;
    if (c->native_active()) {
        c->native_move = true;
        if (c->hold_x < 0 && c->hold_y < 0) {
            c->hold_move = false;
            c->mouse_hold_ptz(-10000, -10000, 0);
        } else if (!same) {
            const int m = qMin(W, H);
            if (m > 0) {
                auto percent = [](double v) {
                    long r = std::lround(v);
                    if (v > 0 && v < 5)
                        r = 1;
                    else if (v < 0 && v > -5)
                        r = -1;
                    return int(qBound(-100000L, r, 100000L));
                };
                const int pan = percent((xc - W / 2) * 100.0 / m);
                const int tilt = percent(-((yc - H / 2) * 100.0 / m));
                c->mouse_hold_ptz(pan, tilt, 0);
            }
        }
    } else if (!same) {
        if (web()->postContinuous(c->ptz_web_url, true, xc, yc, W, H, c->session_id) > 0) {
            c->sent_hold_x = c->hold_x;
            c->sent_hold_y = c->hold_y;
        }
    }
    c->update();
}

bool PtzGestures::move(QMouseEvent* e)
{
    const QPointF p = e->position();
    QTimer* t = c->hold_timer;
    const bool timer_running = t && t->isActive();
    if (c->ptz_drag && c->native_move) {
        if (has("holdclic") && timer_running && c->native_active()) {
            c->hold_x = int(p.x());
            c->hold_y = int(p.y());
            if (c->hold_x > c->width() || c->hold_y > c->height() || c->hold_x < 0 || c->hold_y < 0) {
                c->pointer_left = true;
                leave();
                c->click_pending = false;
                c->hold_move = false;
            }
            if (c->in_ptz_centre_circle(c->hold_x, c->hold_y)) {
                c->hold_x = c->width() / 2;
                c->hold_y = c->height() / 2;
            }
        }
        return true;
    }
    const QRect& r = c->selection_rect;
    const int sw = int(r.width() * ratio_x()), sh = int(r.height() * ratio_y());
    if (timer_running && c->click_pending && sw > 5 && sh > 5) {
        t->stop();
        ZQLog::log(QStringLiteral("[INFO] Plugin::Timer Hold stop"));
    }
    if ((e->buttons() & Qt::LeftButton) && c->ptz_mode && !c->hold_move && has("area")) {
        if (!t || t->isActive() || !c->click_pending || sw >= 5 || sh >= 5) {
            if (!(c->native_active() && c->in_ptz_centre_circle(c->hold_x, c->hold_y))) {
                c->click_pending = true;
                c->area_flag = true;
                c->update_selection_rect(p);
                c->update();
            }
        } else {
            // The drag shrank back below 5 x 5 after the hold was cancelled:
            // the press ends here as a release.
            QMouseEvent release(QEvent::MouseButtonRelease, p, c->mapToGlobal(p), Qt::LeftButton, Qt::NoButton,
                                e->modifiers());
            QCoreApplication::sendEvent(c, &release);
            c->ignore_until_press = true;
        }
        return true;
    }
    return false;
}

bool PtzGestures::release(QMouseEvent* e)
{
    const QPointF p = e->position();
    QTimer* t = c->hold_timer;
    if (t && t->isActive())
        t->stop();
    if (c->hold_move) {
        if (c->native_active()) {
            if (t)
                rearm_hold_timer_to_stop();
        } else {
            web_release();
        }
    }
    const int W = c->codec_width, H = c->codec_height;
    const bool was_area = c->area_flag;
    bool click = false;
    auto arm_click = [this] {
        if (!c->single_click_timer) {
            c->single_click_timer = new QTimer();
            QObject::connect(c->single_click_timer, &QTimer::timeout, c, &Canvas::mouse_release_post_event);
            c->single_click_timer->setSingleShot(true);
            c->single_click_timer->start(150);
        }
    };
    if (was_area && c->ptz_mode && !c->hold_move) {
        const QRect s = c->selection_rect.normalized();
        QRect a;
        const int lm = c->image_left_margin, tm = c->image_top_margin;
        const int dw = c->width() - 2 * lm, dh = c->height() - 2 * tm;
        if (c->center_image && dw > 0 && dh > 0) {
            const double rx = double(W) / dw, ry = double(H) / dh;
            a = QRect(int((s.x() - lm) * rx), int((s.y() - tm) * ry), int(s.width() * rx), int(s.height() * ry));
        } else {
            a = QRect(int(s.x() * ratio_x()), int(s.y() * ratio_y()), int(s.width() * ratio_x()),
                      int(s.height() * ratio_y()));
        }
        if (a.width() < 5 && a.height() < 5) {
            if (!c->click_pending)
                arm_click();
        } else if (c->native_active()) {
            int factor = 0;
            if (a.width() == 0)
                factor = a.height() > 0 ? H / a.height() : 0;
            else if (a.height() == 0)
                factor = W / a.width();
            else
                factor = qMin(W / a.width(), H / a.height());
            const bool hanwha = c->ptz_driver->get_name().toUpper().contains(QLatin1String("HANWHA"));
            const float ax = hanwha ? float(a.x()) : float(a.x() + a.width() / 2);
            const float ay = hanwha ? float(a.y()) : float(a.y() + a.height() / 2);
            c->ptz_driver->ptz_command(QStringLiteral("area"), 0, ax, ay, float(factor * 100), W, H,
                                       c->get_ptz_speed(), a.width(), a.height());
        } else {
            web()->postArea(c->ptz_web_url, a, W, H, c->session_id);
        }
        c->selection_rect = QRect(0, 0, 0, 0);
        c->area_flag = false;
        c->click_pending = false;
    } else if (!was_area && c->ptz_mode && !c->hold_move) {
        c->press_x = p.x();
        c->press_y = p.y();
        arm_click();
        click = true;
    }
    c->update();
    return click;
}

void PtzGestures::click_post()
{
    const int W = c->codec_width, H = c->codec_height;
    float xc = float(ratio_x() * c->press_x), yc = float(ratio_y() * c->press_y);
    const int lm = c->image_left_margin, tm = c->image_top_margin;
    const int dw = c->width() - 2 * lm, dh = c->height() - 2 * tm;
    if (c->center_image && dw > 0 && dh > 0) {
        xc = float((c->press_x - lm) * W / dw);
        yc = float((c->press_y - tm) * H / dh);
    }
    const QString prefix = QStringLiteral("[INFO] Plugin [") + c->name + QStringLiteral("] :: mouse release post event :: ");
    if (c->native_active()) {
        ZQLog::log(prefix + QStringLiteral("ptz ctrl native : post clic ") + num6(xc) + QStringLiteral(", ")
                   + num6(yc));
        c->ptz_driver->ptz_command(QStringLiteral("clic"), 0, xc, yc, 0.f, W, H, c->get_ptz_speed(), -1, -1);
    } else {
        ZQLog::log(prefix + QStringLiteral("ptz ctrl web : post clic"));
        web()->postClic(c->ptz_web_url, xc, yc, W, H, c->session_id);
    }
    c->click_pending = false;
    if (c->single_click_timer) {
        // Called from this timer's own time-out: deleted once it returns.
        c->single_click_timer->deleteLater();
        c->single_click_timer = nullptr;
    }
}

void PtzGestures::right_click(QMouseEvent*)
{
    const int W = c->codec_width, H = c->codec_height;
    if (c->native_active()) {
        c->ptz_driver->ptz_command(QStringLiteral("right_clic"), 0, 0.f, 0.f, 0.f, W, H, c->get_ptz_speed(), -1, -1);
    } else if (has("rightclic")) {
        ZQLog::log(QStringLiteral("[INFO] Plugin [") + c->name + QStringLiteral("] :: PtzCtrlWeb :: postRightClic"));
        web()->postRightClic(c->ptz_web_url, W, H, c->session_id);
    }
}

void PtzGestures::wheel(QWheelEvent* e)
{
    if (c->local_view_mode || !c->ptz_mode || !has("zoom") || !c->wheel_ready)
        return;
    c->wheel_ready = false;
    if (QTimer* t = c->wheel_timer) {
        t->stop();
        QObject::disconnect(t, &QTimer::timeout, c, &Canvas::setWheelOn);
        QObject::connect(t, &QTimer::timeout, c, &Canvas::setWheelOn);
        t->setSingleShot(true);
        t->start(500);
    }
    const bool zoom_in = e->angleDelta().y() > 0 && !c->paused;
    const int W = c->codec_width, H = c->codec_height;
    if (c->native_active()) {
        double step = c->native_zoom_step * 100.0;
        if (!std::isfinite(step))
            step = 50.0;
        c->ptz_driver->ptz_command(QStringLiteral("ContinuousMove"), 1, 0.f, 0.f, float(zoom_in ? step : -step), W, H,
                                   c->get_ptz_speed(), -1, -1);
        QTimer::singleShot(750, c, &Canvas::onvif_request_security_stop);
    } else {
        web()->postZoom(c->ptz_web_url, zoom_in ? QStringLiteral("1") : QStringLiteral("0"),
                        zoom_in ? QStringLiteral("0") : QStringLiteral("1"), W, H, c->session_id);
    }
}

void PtzGestures::leave()
{
    QTimer* t = c->hold_timer;
    if (t && t->isActive())
        t->stop();
    if (!c->hold_move)
        return;
    if (c->native_active()) {
        if (t)
            rearm_hold_timer_to_stop();
    } else {
        web_release();
    }
}

void PtzGestures::hold_stop_tick()
{
    c->click_pending = false;
    c->hold_move = true;
    c->selection_rect = QRect(0, 0, 0, 0);
    if (c->native_active()) {
        c->hold_move = false;
        c->native_move = true;
        c->mouse_hold_ptz(-10000, -10000, 0);
    } else {
        // The driver went away during the hold: nothing left to stop, and
        // the timer must not tick on.
        if (c->hold_timer)
            c->hold_timer->stop();
        c->hold_move = false;
    }
}

void PtzGestures::web_security_stop()
{
    web_release();
}
