// Mouse and wheel input of the display tile: digital zoom, panning,
// recentring, the fisheye view, full screen and shape hit tests.

#include <QGraphicsItem>
#include <QMouseEvent>
#include <QTimer>
#include <QWheelEvent>

#include <cmath>

#include "app/zq_log.h"
#include "view/canvas.h"

namespace {

int button_code(Qt::MouseButton b)
{
    switch (b) {
    case Qt::LeftButton:
        return 0;
    case Qt::RightButton:
        return 1;
    case Qt::MiddleButton:
        return 2;
    default:
        return -1;
    }
}

QString num6(double v)
{
    return QString::number(v, 'g', 6);
}

} // namespace

bool Canvas::inside_image(const QPointF& p) const
{
    if (!center_image)
        return true;
    const QRectF r(image_left_margin, image_top_margin, width() - 2.0 * image_left_margin,
                   height() - 2.0 * image_top_margin);
    return r.contains(p);
}

void Canvas::clamp_zoom_origin()
{
    const int L = qMax(1, zoom_level);
    const double max_x = codec_width - (width() / L);
    const double max_y = codec_height - (height() / L);
    if (zoom_origin_x >= max_x)
        zoom_origin_x = max_x;
    if (zoom_origin_x < 0)
        zoom_origin_x = 0;
    if (zoom_origin_y >= max_y)
        zoom_origin_y = max_y;
    if (zoom_origin_y < 0)
        zoom_origin_y = 0;
}

void Canvas::reset_zoom()
{
    digital_zoom = false;
    drag_started = false;
    dragged = false;
    zoom_level = 0;
    frame_width = codec_width;
    frame_height = codec_height;
}

QPointF Canvas::level_one_origin(const QPointF& p) const
{
    const int w = qMax(1, width()), h = qMax(1, height());
    return QPointF(p.x() * (codec_width / w) - (w / 4), p.y() * (codec_height / h) - (h / 4));
}

void Canvas::start_zoom(int level, const QPointF& origin)
{
    zoom_level = level;
    zoom_origin_x = origin.x();
    zoom_origin_y = origin.y();
    clamp_zoom_origin();
    digital_zoom = true;
    frame_width = codec_width;
    frame_height = codec_height;
}

void Canvas::first_zoom_step_click(const QPointF& p)
{
    const int w = qMax(1, width()), h = qMax(1, height());
    const int cw = codec_width, ch = codec_height;
    if (cw > w && ch > h)
        start_zoom(1, level_one_origin(p));
    else if ((2 * cw > w && 2 * ch > h) || (drawn_width < w && drawn_height < h))
        start_zoom(2, QPointF(p.x() * ((2 * cw) / w) / 2, p.y() * ((2 * ch) / h) / 2));
    else
        start_zoom(4, p / 4);
    emit send_clic_event(QStringLiteral("zoom_in"), int(zoom_origin_x), int(zoom_origin_y), zoom_level);
}

bool Canvas::shape_hit(const QPointF& p, int* hit_id)
{
    shape_highlight = QPainterPath();
    bool hit = false;
    for (int i = 0; i < click_list.size() && i < shape_list.size(); ++i) {
        QGraphicsItem* item = click_list.at(i);
        if (!item || !item->contains(p))
            continue;
        const ShapeRecord& r = shape_list.at(i);
        if (auto* poly = dynamic_cast<ZQGraphicsPolygonItem*>(item)) {
            shape_highlight.addPolygon(r.polygon);
            if (hit_id)
                *hit_id = poly->shape_id();
        } else if (auto* rect = dynamic_cast<ZQGraphicsRectItem*>(item)) {
            shape_highlight.addRect(r.rectangle);
            if (hit_id)
                *hit_id = rect->shape_id();
        } else if (auto* ell = dynamic_cast<ZQGraphicsEllipseItem*>(item)) {
            shape_highlight.addEllipse(QPointF(r.centre), r.radius1, r.radius2);
            if (hit_id)
                *hit_id = ell->shape_id();
        }
        hit = true;
    }
    return hit;
}

void Canvas::mousePressEvent(QMouseEvent* e)
{
    if (!first_frame_logged)
        return;
    if (hold_timer && hold_timer->isActive())
        return;
    if (message_shown)
        return;
    QWidget::mousePressEvent(e);
    const QPointF p = e->position();
    if (!inside_image(p))
        return;
    pointer_left = false;
    ignore_until_press = false;

    if (e->button() == Qt::LeftButton) {
        if (ptz_mode)
            ptz_press(e);
        if (local_view_mode && fisheye_view) {
            drag_x = int(p.x());
            drag_y = int(p.y());
            drag_started = true;
            ZQLog::log(QStringLiteral("[INFO] Plugin:: DEWARP mousePressEvent :: ") + QString::number(drag_x)
                       + QLatin1Char('x') + QString::number(drag_y));
        }
        bool hit = false;
        if (!shapes.isEmpty() && !digital_zoom)
            hit = shape_hit(p, nullptr);
        if (!local_view_mode && mouse_interaction && !hit && !ptz_mode) {
            if (digital_zoom) {
                const int L = qMax(1, zoom_level);
                drag_x = int(p.x() / L);
                drag_y = int(p.y() / L);
                drag_started = true;
            } else {
                first_zoom_step_click(p);
            }
        }
    } else if (e->button() == Qt::RightButton) {
        if (ptz_mode && !paused)
            ptz_right_click(e);
        if (mouse_interaction) {
            if (!ptz_mode && digital_zoom)
                reset_zoom();
            emit send_clic_event(QStringLiteral("zoom_out"), 0, 0, 1);
        }
    }
    update();
}

void Canvas::wheelEvent(QWheelEvent* e)
{
    const QPointF p = e->position();
    if (!inside_image(p) || !first_frame_logged || message_shown)
        return;
    const int delta = e->angleDelta().y();
    const int w = width(), h = height();

    if (local_view_mode) {
        if (fisheye_view && delta > 0 && !paused)
            dewarp_fov -= 5;
        else
            dewarp_fov += 5;
        if (dewarp_fov >= 90)
            dewarp_fov = 90;
        if (dewarp_fov <= 15)
            dewarp_fov = 15;
    }
    if (!local_view_mode && ptz_mode)
        ptz_wheel(e);
    if (local_view_mode || !mouse_interaction)
        return;

    if (digital_zoom && delta > 0) {
        if (zoom_level < 8) {
            zoom_level = qMax(1, zoom_level) * 2;
            const int half = qMax(1, zoom_level / 2);
            zoom_origin_x += (p.x() - (w / 4)) / half;
            zoom_origin_y += (p.y() - (h / 4)) / half;
            clamp_zoom_origin();
        }
    } else if (digital_zoom && delta < 0) {
        bool remains = true;
        if (zoom_level == 1) {
            remains = false;
        } else if (zoom_level == 2) {
            if (codec_width > w || codec_height > h)
                zoom_level = 1;
            else
                remains = false;
        } else if (zoom_level == 4) {
            zoom_level = 2;
        } else if (zoom_level == 8) {
            zoom_level = 4;
        }
        if (remains) {
            zoom_origin_x -= (p.x() - (w / 4)) / zoom_level;
            zoom_origin_y -= (p.y() - (h / 4)) / zoom_level;
            clamp_zoom_origin();
        } else {
            reset_zoom();
        }
    } else if (!ptz_mode && !digital_zoom && delta > 0) {
        // The wheel's first step differs from the click's: one larger side is enough.
        if (codec_width > w || codec_height > h)
            start_zoom(1, level_one_origin(p));
        else if (2 * codec_width > w || 2 * codec_height > h || (drawn_width < w && drawn_height < h))
            start_zoom(2, p / 2);
        else
            start_zoom(4, p / 4);
    }
    if (zoom_level == 0)
        emit send_clic_event(QStringLiteral("zoom_out"), 0, 0, 1);
    else
        emit send_clic_event(QStringLiteral("zoom_in"), int(zoom_origin_x), int(zoom_origin_y), zoom_level);
    update();
}

void Canvas::mouseMoveEvent(QMouseEvent* e)
{
    if (!first_frame_logged || pointer_left || ignore_until_press || message_shown)
        return;
    const QPointF p = e->position();
    if (!inside_image(p))
        return;

    if (local_view_mode && (e->buttons() & Qt::LeftButton) && fisheye_view && drag_started) {
        dragged = true;
        const int qx = int(p.x()), qy = int(p.y());
        float da = (drag_x - qx) * 0.5f;
        float dz = (drag_y - qy) * 0.5f;
        for (float limit : {50.f, 30.f, 15.f}) {
            if (dewarp_fov < limit) {
                da *= 0.5f;
                dz *= 0.5f;
            }
        }
        set_dewarp_angle(dewarp_angle + da);
        set_dewarp_zoom(dewarp_zoom + dz);
        drag_x = qx;
        drag_y = qy;
        rate_window_start = now_ticks();
    }
    if (local_view_mode)
        return;
    if (ptz_move(e))
        return;
    if (!ptz_mode && digital_zoom && drag_started) {
        dragged = true;
        frame_width = codec_width;
        frame_height = codec_height;
        const int L = qMax(1, zoom_level);
        const int qx = int(p.x() / L), qy = int(p.y() / L);
        zoom_origin_x -= qx - drag_x;
        zoom_origin_y -= qy - drag_y;
        drag_x = qx;
        drag_y = qy;
        clamp_zoom_origin();
        update();
    } else if ((ptz_mode || !digital_zoom) && !shapes.isEmpty()) {
        shape_hit(p, nullptr);
    }
}

void Canvas::mouseReleaseEvent(QMouseEvent* e)
{
    // A left release ends a drag wherever it happens: outside the picture or
    // after the pointer left the tile too.
    const bool left = e->button() == Qt::LeftButton;
    auto end_drag = [&] {
        if (left) {
            drag_started = false;
            dragged = false;
        }
    };
    if (!first_frame_logged || pointer_left || ignore_until_press || message_shown) {
        end_drag();
        return;
    }
    const QPointF p = e->position();
    if (!inside_image(p)) {
        end_drag();
        return;
    }

    if (local_view_mode) {
        if (e->button() == Qt::RightButton && fisheye_view) {
            ZQLog::log("[INFO] Plugin::mouseReleaseEvent Unwrapp false");
            fisheye_view = false;
        } else if (left && !fisheye_view) {
            fisheye_open(p);
        } else if (left && fisheye_view && drag_started) {
            if (dragged)
                dragged = false;
            else
                fisheye_recentre(p);
            drag_started = false;
        }
        return;
    }

    bool ptz_click = false;
    if (left)
        ptz_click = ptz_release(e);
    if (left && !ptz_click && !ptz_mode && digital_zoom && drag_started) {
        if (dragged) {
            dragged = false;
        } else {
            frame_width = codec_width;
            frame_height = codec_height;
            const int L = qMax(1, zoom_level);
            zoom_origin_x += (p.x() - (width() / 2)) / L;
            zoom_origin_y += (p.y() - (height() / 2)) / L;
            clamp_zoom_origin();
            emit send_clic_event(QStringLiteral("zoom_in"), int(zoom_origin_x), int(zoom_origin_y), zoom_level);
            update();
        }
    }
    end_drag();
    if (left && !shapes.isEmpty() && !digital_zoom) {
        int id = -1;
        if (shape_hit(p, &id) && id >= 0) {
            emit change_camera_id(camera_id, id);
            ZQLog::log(QStringLiteral("[INFO] Plugin::mouse release event :: send id ") + QString::number(id));
        }
        update();
    }
    hold_move = false;
}

void Canvas::mouseDoubleClickEvent(QMouseEvent* e)
{
    if (message_shown)
        return;
    const QPointF p = e->position();
    if (!inside_image(p))
        return;
    emit send_clic_event(QStringLiteral("double_clic"), qRound(p.x()), qRound(p.y()), button_code(e->button()));
    if (!first_frame_logged || !shapes.isEmpty())
        return;
    if (single_click_timer && single_click_timer->isActive()) {
        single_click_timer->stop();
        delete single_click_timer;
        single_click_timer = nullptr;
    }
    log_info(QStringLiteral("mouse double click event"));
    if (!ptz_double_click(e))
        return;
    if (!banner_mode && fullscreen_on_double_click && !in_fullscreen && !local_view_mode) {
        log_info(QStringLiteral("mouse double click event :: show fullscreen"));
        in_fullscreen = true;
        showFullScreen();
    } else if (!banner_mode && fullscreen_on_double_click && in_fullscreen) {
        log_info(QStringLiteral("mouse double click event :: show normal display"));
        in_fullscreen = false;
        showNormal();
    } else if (banner_mode) {
        emit emitBandeau(name);
    }
}

void Canvas::leaveEvent(QEvent*)
{
    pointer_left = true;
    ptz_hold_end();
}

void Canvas::fisheye_open(const QPointF& p)
{
    // The drawn size is kept apart from the picture size: the draw overlay
    // still maps with the picture's size.
    const int dw = drawn_width, dh = drawn_height;
    const int cx = dw / 2, cy = dh / 2;
    if (cx <= 0 || cy <= 0)
        return;
    // Positions on the picture, which a centred tile draws inside margins.
    const QPointF q = p - QPointF(image_left_margin, image_top_margin);
    const int X = int(q.x() - cx), Y = int(q.y() - cy);
    const double r = std::sqrt(double(X) * X + double(Y) * Y);
    const double R = std::sqrt(double(cx) * cx + double(cy) * cy);
    if (r > 0.0) {
        const double a = std::acos(qBound(-1.0, Y / r, 1.0)) * 57.0;
        set_dewarp_angle(float(X > 0 ? 90 - a : 90 + a));
    }
    set_dewarp_zoom(float(100 - r * 100 / (R * 0.5)));
    dewarp_fov = 70;
    fisheye_view = true;
}

void Canvas::fisheye_recentre(const QPointF& p)
{
    const int dw = drawn_width, dh = drawn_height;
    const int cx = dw / 2, cy = dh / 2;
    if (cx <= 0 || cy <= 0)
        return;
    const QPointF q = p - QPointF(image_left_margin, image_top_margin);
    const int X = int(q.x() - cx), Y = int(q.y() - cy);
    const double pX = X * 100.0 / cx, pY = Y * 100.0 / cy;
    const double da0 = pX / 100 * 45, dz0 = pY / 100 * 50;
    double da = da0, dz = dz0;
    if (dewarp_fov < 50) {
        da /= 2;
        dz /= 2;
    }
    if (dewarp_fov < 30) {
        da /= 2;
        dz /= 2;
    }
    const QString pre = QStringLiteral("[INFO] Plugin::mouseReleaseEvent ");
    ZQLog::log(pre + QStringLiteral("center_x ") + num6(cx));
    ZQLog::log(pre + QStringLiteral("center_y ") + num6(cy));
    ZQLog::log(pre + QStringLiteral("event_position.x() ") + num6(q.x()));
    ZQLog::log(pre + QStringLiteral(" event_position.y() ") + num6(q.y()));
    ZQLog::log(pre + QStringLiteral("X ") + num6(X));
    ZQLog::log(pre + QStringLiteral(" Y ") + num6(Y));
    ZQLog::log(pre + QStringLiteral("perc_X ") + num6(pX));
    ZQLog::log(pre + QStringLiteral(" perc_Y ") + num6(pY));
    ZQLog::log(pre + QStringLiteral("start_change ") + num6(da0));
    ZQLog::log(pre + QStringLiteral("translate_change ") + num6(dz0));
    ZQLog::log(pre + QStringLiteral("translate_change prorata ") + num6(dz));
    ZQLog::log(pre + QStringLiteral("start ") + num6(dewarp_angle));
    ZQLog::log(pre + QStringLiteral("zoom ") + num6(dewarp_fov));
    ZQLog::log(pre + QStringLiteral("translate ") + num6(dewarp_zoom));
    set_dewarp_angle(float(dewarp_angle + da));
    set_dewarp_zoom(float(dewarp_zoom + dz));
    ZQLog::log(pre + QStringLiteral("after start ") + num6(dewarp_angle));
    ZQLog::log(pre + QStringLiteral("after translate ") + num6(dewarp_zoom));
    update();
}
