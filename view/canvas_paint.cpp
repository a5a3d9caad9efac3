// Painting of the display tile: the picture, the status band and the overlays.

#include <QFontMetrics>
#include <QPainter>
#include <QPainterPath>
#include <QTimer>

#include <cmath>

#include "app/http_singleton.h"
#include "app/zq_log.h"
#include "view/canvas.h"
#include "view/new_display_thread.h"

namespace {

constexpr qint64 rate_window_ticks = 11010000;

} // namespace

void Canvas::paintEvent(QPaintEvent*)
{
    if (ending) {
        QPainter p(this);
        p.fillRect(rect(), Qt::black);
        return;
    }

    painting = true;
    QPainter painter(this);
    painter.setRenderHints(QPainter::Antialiasing | QPainter::SmoothPixmapTransform);
    // Nothing is guaranteed to have painted the background (the style sheet
    // does not on a plain widget): start from black.
    painter.fillRect(rect(), Qt::black);

    const qint64 now = now_ticks();
    if (now - rate_window_start >= rate_window_ticks && !paused) {
        shown_frame_rate = stream_frame_rate;
        rate_window_start = now;
        shown_frame_counter = 0;
    }

    if (start_pending) {
        initial_repaint(painter);
        // Once the display started the paint goes on: a frame that already
        // arrived is drawn now instead of being thrown away.
        if (start_pending) {
            painter.end();
            painting = false;
            return;
        }
    }

    if (buffer_size_in_ms < 1) {
        if (has_display())
            draw_image(painter);
    } else {
        const bool blocked = (!first_frame_logged && is_buffering && buffering_percent != 100)
                             || (!has_display() && !in_fullscreen);
        if (!blocked && !current_timestamp.contains(QLatin1String("No Frame")))
            draw_image(painter);
        else if (message_shown && !message_text.isEmpty())
            draw_image(painter);
    }

    if (first_frame_logged) {
        draw_click_marker(painter);
        if (first_frame_logged && !shapes.isEmpty() && !digital_zoom)
            draw_shapes(painter);
    }

    if (message_shown && !message_text.isEmpty()) {
        painter.save();
        QFont f = painter.font();
        f.setPointSize(20);
        painter.setFont(f);
        painter.setPen(Qt::white);
        const int cx = width() / 2, cy = height() / 2;
        const int side = 32767;
        painter.drawText(QRect(cx - side / 2, cy - side / 2, side, side), Qt::AlignCenter, message_text);
        painter.restore();
    }

    if (status_overlay && !banner_mode) {
        draw_overlay(painter);
        if (buffer_size_in_ms >= 1 && current_timestamp.contains(QLatin1String("REPLAY"))) {
            log_info(QStringLiteral("paint event :: juste draw REPLAY"));
            emit replay_frame_displayed();
        }
    }

    if (!ptz_status_command.isEmpty() && !ptz_status_fault.isEmpty())
        draw_ptz_status(painter);
    if (draw_overlay_on)
        draw_frame_overlay(painter);
    if (area_flag || hold_move)
        draw_ptz_selection(painter);

    if (buffer_size_in_ms >= 1) {
        display_delay = (now_ticks() - last_frame_time) / 10;
        emit send_duration(display_delay);
    } else if (display_thread) {
        // The direct path tells the stream it may hand the next picture.
        display_thread->security_unlock_display();
    }
    painter.end();
    painting = false;
}

void Canvas::initial_repaint(QPainter& painter)
{
    Http_singleton* ctx = Http_singleton::instance();
    log_info(QStringLiteral("paint event :: initial repaint"));
    log_info(QStringLiteral("paint event :: initial repaint :: check instance :: ")
             + QString::number(ctx->get_display_count()));
    message_shown = false;
    log_info(QStringLiteral("paint event :: initial repaint :: draw black image"));
    painter.fillRect(rect(), Qt::black);

    if (ctx->is_embedded_mode() && ctx->get_max_display_count() > 0
        && ctx->get_display_count() > ctx->get_max_display_count()) {
        if (display_retry_count < 4) {
            ++display_retry_count;
            QTimer::singleShot(1000, this, &Canvas::go);
        } else {
            displayError(QStringLiteral("NO VIDEO"), QStringLiteral("VIDEO DISPLAY LIMITED"), true);
            lower_display_count();
            start_pending = false;
        }
        return;
    }
    if (stream_start) {
        log_info(QStringLiteral("paint event :: start decoding"));
        Go();
        start_pending = false;
    } else {
        log_info(QStringLiteral("paint event :: start stream not set"));
    }
}

void Canvas::draw_image(QPainter& painter)
{
    const int w = painter.device() ? painter.device()->width() : width();
    const int h = painter.device() ? painter.device()->height() : height();
    if (message_shown)
        painter.setOpacity(0.3);

    QImage picture;
    if (message_shown && message_not_opaque) {
        // The picture is replaced by black under the message.
        painter.fillRect(QRect(0, 0, w, h), Qt::black);
        painter.setOpacity(1.0);
        return;
    } else {
        QMutexLocker lock(&mutex);
        if (frame_image.isNull()) {
            lock.unlock();
            painter.setOpacity(1.0);
            return;
        }
        if (local_view_mode && fisheye_active) {
            if (panorama.isNull()) {
                lock.unlock();
                log_info(QStringLiteral("draw image :: dewarp :: frame data is null"));
                painter.setOpacity(1.0);
                return;
            }
            picture = panorama;
        } else {
            if (!first_frame_drawn)
                log_info(QStringLiteral("draw image :: create image :: ") + QString::number(last_frame_id)
                         + QStringLiteral(" size : ") + QString::number(frame_image.width()) + QLatin1Char('x')
                         + QString::number(frame_image.height()));
            picture = frame_image;
        }
    }

    if (picture.isNull()) {
        log_info(QStringLiteral("draw image :: image is null"));
    } else {
        if (!first_frame_drawn)
            log_info(QStringLiteral("draw image :: draw first frame ") + QString::number(last_frame_id)
                     + QStringLiteral(" :: image size : ") + QString::number(picture.width()) + QLatin1Char('x')
                     + QString::number(picture.height()));
        const int pw = picture.width(), ph = picture.height();
        if (!digital_zoom) {
            painter.setPen(Qt::white);
            if ((!has_display() || display_stopping()) && !in_fullscreen) {
                painter.drawText(QRect(w / 2 - 20, h / 2 - 20, 50, 15), Qt::TextDontClip, QStringLiteral("No Video"));
            } else if (last_frame_id < 0) {
                // Frame ids start at 0; below that no frame of this stream arrived.
                log_warn(QStringLiteral("draw image :: frame display id ") + QString::number(last_frame_id));
            } else if (pw < w && ph < h && !in_fullscreen && center_image) {
                image_top_margin = (h - ph) / 2;
                image_left_margin = (w - pw) / 2;
                painter.drawImage(QPoint(image_left_margin, image_top_margin), picture);
                drawn_width = pw;
                drawn_height = ph;
                if (!first_frame_drawn)
                    log_info(QStringLiteral("draw image :: scale 1 & display frame ") + QString::number(last_frame_id)
                             + QStringLiteral(" Image size : ") + QString::number(pw) + QLatin1Char('x')
                             + QString::number(ph) + QStringLiteral(" to plugin size : ") + QString::number(w)
                             + QLatin1Char('x') + QString::number(h));
            } else {
                QSize target(w, h);
                if (center_image)
                    target = QSize(pw, ph).scaled(w, h, Qt::KeepAspectRatio);
                if (!first_frame_drawn)
                    log_info(QStringLiteral("draw image :: scale ") + QString::number(center_image ? 1 : 0)
                             + QStringLiteral(" & display frame ") + QString::number(last_frame_id)
                             + QStringLiteral(" Image size : ") + QString::number(pw) + QLatin1Char('x')
                             + QString::number(ph) + QStringLiteral(" to plugin size : ") + QString::number(w)
                             + QLatin1Char('x') + QString::number(h));
                image_left_margin = 0;
                image_top_margin = 0;
                if (center_image) {
                    if (target.width() < w)
                        image_left_margin = (w - target.width()) / 2;
                    if (target.height() < h)
                        image_top_margin = (h - target.height()) / 2;
                }
                // Scaled while drawing into the target: no scaled copy per paint.
                painter.drawImage(QRect(QPoint(image_left_margin, image_top_margin), target), picture);
                drawn_width = target.width();
                drawn_height = target.height();
            }
            if (banner_mode && status_overlay) {
                painter.fillRect(QRect(image_left_margin, image_top_margin, drawn_width, 20), QColor(0, 0, 0, 60));
                painter.drawText(QRect(image_left_margin + 2, image_top_margin + 2, int(widget_width), 20),
                                 Qt::TextDontClip, banner_text);
            }
        } else {
            image_left_margin = 0;
            image_top_margin = 0;
            if ((!has_display() || display_stopping()) && !in_fullscreen) {
                painter.setPen(Qt::white);
                painter.drawText(QRect(0, 0, 50, 20), Qt::TextDontClip, QStringLiteral("No Video"));
            } else {
                const int z = qMax(1, zoom_level);
                const int ox = int(zoom_origin_x), oy = int(zoom_origin_y);
                if (z == 1) {
                    if (center_image) {
                        if (pw < w)
                            image_left_margin = (w - pw) / 2;
                        if (ph < h)
                            image_top_margin = (h - ph) / 2;
                    }
                    drawn_width = pw;
                    drawn_height = ph;
                } else {
                    if (center_image) {
                        if (qint64(ph) * z < h)
                            image_top_margin = int((h - qint64(ph) * z) / 2);
                        if (qint64(pw) * z < w)
                            image_left_margin = int((w - qint64(pw) * z) / 2);
                    }
                    drawn_width = w;
                    drawn_height = h;
                }
                // Only the part of the picture that shows is drawn, pixel for
                // pixel (each picture pixel a z x z square).
                const QRect visible(ox, oy, (w + z - 1) / z, (h + z - 1) / z);
                const QRect src = visible.intersected(picture.rect());
                if (!src.isEmpty()) {
                    const QRect dst(image_left_margin + (src.x() - ox) * z, image_top_margin + (src.y() - oy) * z,
                                    src.width() * z, src.height() * z);
                    painter.save();
                    painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
                    painter.drawImage(dst, picture, src);
                    painter.restore();
                }
            }
        }
    }

    if (message_shown)
        painter.setOpacity(1.0);
    if (!first_frame_drawn && !picture.isNull()) {
        log_info(QStringLiteral("draw image :: finished"));
        first_frame_drawn = true;
    }
}

void Canvas::draw_overlay(QPainter& painter)
{
    painter.save();
    painter.setPen(Qt::white);
    QFont f = painter.font();
    f.setPointSize(qMax(1, overlay_text_size));
    painter.setFont(f);
    const QFontMetrics fm(f);
    const int H = fm.height();
    const int band = int(H * 1.5);
    const int w = width();

    if (!current_timestamp.isEmpty())
        painter.fillRect(QRect(image_left_margin, image_top_margin, drawn_width, band), QColor(0, 0, 0, 60));

    if (buffer_size_in_ms >= 1 && is_buffering && !only_object_frames) {
        painter.fillRect(QRect(image_left_margin, image_top_margin, w, band), QColor(0, 0, 0, 60));
        painter.drawText(QRect(image_left_margin + 2, image_top_margin + H / 4, w, H), 0,
                         QStringLiteral("Buffering ") + QString::number(buffering_percent) + QStringLiteral(" % ..."));
    } else if (!current_timestamp.isEmpty()) {
        QString stats;
        int advance = 0;
        if (show_bitrate) {
            stats = QStringLiteral("FPS ") + QString::number(shown_frame_rate, 'f', 2) + QStringLiteral(" - ")
                    + tr("%1/s").arg(format_bitrate(data_rate_text.toDouble()));
            advance = fm.horizontalAdvance(stats);
        }
        painter.drawText(QRect(image_left_margin + 2, image_top_margin + H / 4, w, H), 0, current_timestamp);
        if (show_bitrate)
            painter.drawText(QRect(w - image_left_margin - advance, image_top_margin + H / 4, w, H), 0, stats);
    } else {
        painter.fillRect(QRect(image_left_margin, image_top_margin, w, band), QColor(0, 0, 0, 60));
        log_info(QStringLiteral("draw overlay :: Loading ..."));
        painter.drawText(QRect(image_left_margin + 2, image_top_margin + H / 4, w, H), 0, QStringLiteral("Loading ..."));
    }
    painter.restore();
}

void Canvas::draw_frame_overlay(QPainter& painter)
{
    if (draw_overlay_primitives.isEmpty())
        return;
    if (!((has_display() && !display_stopping()) || in_fullscreen))
        return;
    const QImage picture = get_frame_image();
    const int fw = picture.isNull() ? frame_width : picture.width();
    const int fh = picture.isNull() ? frame_height : picture.height();
    if (fw <= 0 || fh <= 0)
        return;
    // The overlay gives its coordinates in the reference size. Unzoomed they
    // are laid over the picture as drawn (its margins and its scale); zoomed
    // they are taken to picture pixels and follow the zoom's scale and origin,
    // picture pixels as they are when no reference size is known.
    const bool has_reference = overlay_ref_width > 0 && overlay_ref_height > 0;
    const int refw = has_reference ? overlay_ref_width : fw;
    const int refh = has_reference ? overlay_ref_height : fh;
    double sx = 1.0, sy = 1.0;
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.translate(image_left_margin, image_top_margin);
    if (digital_zoom) {
        const int z = qMax(1, zoom_level);
        painter.scale(z, z);
        painter.translate(-zoom_origin_x, -zoom_origin_y);
        sx = double(fw) / refw;
        sy = double(fh) / refh;
    } else {
        // Without a reference size the coordinates are picture pixels.
        if (drawn_width <= 0 || drawn_height <= 0) {
            painter.restore();
            return;
        }
        sx = double(drawn_width) / refw;
        sy = double(drawn_height) / refh;
    }
    for (const DrawOverlayPrimitive& p : std::as_const(draw_overlay_primitives))
        draw_overlay_primitive(painter, p, sx, sy, refw, refh);
    painter.restore();
}

void Canvas::draw_overlay_primitive(QPainter& painter, const DrawOverlayPrimitive& p, double sx, double sy, int refw,
                                    int refh)
{
    painter.save();
    // Bounded before the conversion: a tiny reference size must not overflow.
    auto X = [&](int v) { return int(qBound(-1.0e7, v * sx, 1.0e7)); };
    auto Y = [&](int v) { return int(qBound(-1.0e7, v * sy, 1.0e7)); };
    const QPen border(QBrush(p.border_color), p.border_size, Qt::SolidLine, Qt::RoundCap, Qt::BevelJoin);
    switch (p.kind) {
    case DrawOverlayPrimitive::Line: {
        int x1 = p.x1, y1 = p.y1, x2 = p.x2, y2 = p.y2;
        if (x1 >= refw)
            --x1;
        if (x2 >= refw)
            --x2;
        if (y1 >= refh)
            --y1;
        if (y2 >= refh)
            --y2;
        painter.setPen(border);
        painter.drawLine(X(x1), Y(y1), X(x2), Y(y2));
        break;
    }
    case DrawOverlayPrimitive::Rect:
    case DrawOverlayPrimitive::FilledRect: {
        const QRect r(X(p.x1), Y(p.y1), X(p.x2) - X(p.x1), Y(p.y2) - Y(p.y1));
        painter.setPen(border);
        painter.setBrush(Qt::NoBrush);
        painter.drawRect(r);
        if (p.kind == DrawOverlayPrimitive::FilledRect) {
            QColor c = p.color;
            if (c.isValid()) {
                c.setAlpha(p.alpha);
                painter.fillRect(r, c);
            }
        }
        break;
    }
    case DrawOverlayPrimitive::Ellipse: {
        const int w = X(p.w), h = Y(p.h);
        painter.setPen(border);
        painter.setBrush(Qt::NoBrush);
        painter.drawEllipse(QRect(X(p.x) - w / 2, Y(p.y) - h / 2, w, h));
        break;
    }
    case DrawOverlayPrimitive::Text: {
        painter.setPen(p.color);
        QFont f(QStringLiteral("Arial"));
        if (p.font_size > 0)
            f.setPointSize(p.font_size);
        painter.setFont(f);
        painter.drawText(QPoint(X(p.x), Y(p.y)), p.value);
        break;
    }
    }
    painter.restore();
}

void Canvas::draw_shapes(QPainter& painter)
{
    const QRect image_rect(image_left_margin, image_top_margin, width() - 2 * image_left_margin,
                           height() - 2 * image_top_margin);
    painter.save();
    painter.setClipRect(image_rect);
    if (!shapes_built) {
        clear_shape_items();
        Shapes_Overlay parser;
        shape_list = parser.parse(shapes, image_rect.x(), image_rect.y(), image_rect.width(), image_rect.height());
        for (const ShapeRecord& r : std::as_const(shape_list)) {
            QGraphicsItem* item = nullptr;
            if (r.kind == QLatin1String("polygon"))
                item = new ZQGraphicsPolygonItem(r.polygon, r.id);
            else if (r.kind == QLatin1String("rect"))
                item = new ZQGraphicsRectItem(r.rectangle, r.id);
            else if (r.kind == QLatin1String("ellipse") || r.kind == QLatin1String("circle"))
                item = new ZQGraphicsEllipseItem(
                    QRectF(r.centre.x() - r.radius1, r.centre.y() - r.radius2, 2 * r.radius1, 2 * r.radius2), r.id);
            click_list.append(item); // null keeps the indexes of both lists equal
        }
        shapes_built = true;
    }
    painter.setPen(QPen(QBrush(QColor(67, 155, 214, 200)), 3, Qt::SolidLine, Qt::SquareCap, Qt::BevelJoin));
    for (const ShapeRecord& r : std::as_const(shape_list)) {
        if (r.kind == QLatin1String("polygon"))
            painter.drawPolygon(r.polygon, Qt::WindingFill);
        else if (r.kind == QLatin1String("rect"))
            painter.drawRect(r.rectangle);
        else if (r.kind == QLatin1String("ellipse") || r.kind == QLatin1String("circle"))
            painter.drawEllipse(QPointF(r.centre), r.radius1, r.radius2);
    }
    painter.fillPath(shape_highlight, QColor(65, 105, 225, 110));
    painter.restore();
}

void Canvas::draw_click_marker(QPainter& painter)
{
    if (!ptz_mode)
        return;
    painter.save();
    const QColor green(0, 255, 0, 150);
    const int cx = width() / 2, cy = height() / 2;
    if (!native_active()) {
        painter.setPen(QPen(QBrush(hold_move ? QColor(Qt::red) : green), 2, Qt::SolidLine, Qt::SquareCap, Qt::BevelJoin));
        painter.drawLine(cx - 10, cy, cx + 10, cy);
        painter.drawLine(cx, cy - 10, cx, cy + 10);
    } else {
        painter.setPen(QPen(QBrush(green), 2, Qt::SolidLine, Qt::SquareCap, Qt::BevelJoin));
        painter.drawEllipse(QPoint(cx, cy), 20, 20);
    }
    painter.restore();
}

void Canvas::update_selection_rect(QPointF pointer)
{
    const int Px = int(press_x), Py = int(press_y);
    const int px = int(pointer.x()), py = int(pointer.y());
    const int dx = px - Px, dy = py - Py;
    QRect r;
    // Kept as x, y, width, height; normalised at the end so a drag in any
    // direction gives a proper rectangle.
    int x = Px, y = Py, w = dx, h = dy;
    if (dx < 0) {
        x = px;
        w = -dx;
    }
    if (dy < 0) {
        y = py;
        h = -dy;
    }
    if (h > 0 && h < 10)
        h = 10;
    if (w > 0 && w < 10)
        w = 10;
    if (x + w > width())
        w = width() - x;
    if (y + h > height())
        h = height() - y;
    if (x < 0) {
        w += x;
        x = 0;
    }
    if (y < 0) {
        h += y;
        y = 0;
    }
    r = QRect(x, y, qMax(0, w), qMax(0, h));
    selection_rect = r;
}

void Canvas::draw_ptz_selection(QPainter& painter)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, true);
    if (!hold_move) {
        painter.setPen(QPen(QBrush(Qt::green), 3, Qt::DashDotLine, Qt::RoundCap, Qt::BevelJoin));
        painter.setBrush(Qt::NoBrush);
        painter.drawRect(selection_rect);
    } else {
        painter.setPen(QPen(QBrush(QColor(255, 0, 0, 150)), 2, Qt::DashDotLine, Qt::RoundCap, Qt::BevelJoin));
        draw_arrow(painter, hold_x, hold_y, width() / 2, height() / 2);
    }
    painter.restore();
}

void Canvas::draw_arrow(QPainter& painter, int x1, int y1, int x2, int y2)
{
    const double dx = x2 - x1, dy = y2 - y1;
    const double length = std::sqrt(dx * dx + dy * dy);
    if (!(length > 0.0))
        return; // no direction for the head
    double a = std::acos(qBound(-1.0, dx / length, 1.0));
    if (dy >= 0)
        a = 6.28 - a;
    const double c = 3.14 / 3;
    const QPointF p1(x1 + std::sin(a + c) * 12, y1 + std::cos(a + c) * 12);
    const QPointF p2(x1 + std::sin(a + 3.14 - c) * 12, y1 + std::cos(a + 3.14 - c) * 12);
    double ex = x2, ey = y2;
    if (native_active()) {
        const double b = a + 1.57;
        ex = x2 - std::sin(b) * 21;
        ey = y2 - std::cos(b) * 21;
    }
    painter.drawLine(QPointF(x1, y1), QPointF(ex, ey));
    QPolygonF head;
    head << QPointF(x1, y1) << p1 << p2;
    painter.drawPolygon(head, Qt::WindingFill);
    QPainterPath path;
    path.addPolygon(head);
    path.closeSubpath();
    painter.fillPath(path, QColor(255, 0, 0, 150));
}

void Canvas::draw_ptz_status(QPainter& painter)
{
    painter.save();
    QFont f = painter.font();
    f.setPointSize(8);
    painter.setFont(f);
    const bool unsupported = ptz_status_fault.contains(QLatin1String("not supported"));
    QString text;
    QColor color;
    switch (ptz_status_code) {
    case -2:
        color = Qt::red;
        text = unsupported ? QStringLiteral("[ERROR] ") + ptz_status_driver + QStringLiteral(" ptz ctrl : command ")
                                 + ptz_status_command + QStringLiteral(" not supported")
                           : QStringLiteral("[ERROR] ") + ptz_status_driver + QStringLiteral(" ptz ctrl : ") + ptz_status_fault;
        break;
    case -1:
        color = Qt::red;
        text = unsupported ? QStringLiteral("[ERROR] ") + ptz_status_driver + QStringLiteral(" ptz ctrl : OFF (command ")
                                 + ptz_status_command + QStringLiteral(" not supported)")
                           : QStringLiteral("[ERROR] ") + ptz_status_driver + QStringLiteral(" ptz ctrl : OFF (")
                                 + ptz_status_fault + QStringLiteral(")");
        break;
    case 0:
        color = QColor(QStringLiteral("orange"));
        text = unsupported ? QStringLiteral("[WARNING] ") + ptz_status_driver + QStringLiteral(" ptz ctrl : ON (command ")
                                 + ptz_status_command + QStringLiteral(" not supported)")
                           : QStringLiteral("[WARNING] ") + ptz_status_driver + QStringLiteral(" ptz ctrl : ON (")
                                 + ptz_status_fault + QStringLiteral(")");
        break;
    case 1:
        color = Qt::green;
        text = ptz_status_command.contains(QLatin1String("start"))
                   ? ptz_status_driver + QStringLiteral(" ptz ctrl : starting ...")
                   : QStringLiteral("[OK] ") + ptz_status_driver + QStringLiteral(" ptz ctrl : ON (") + ptz_status_fault
                         + QStringLiteral(")");
        break;
    default:
        painter.restore();
        return;
    }
    painter.setPen(color);
    painter.drawText(QRect(image_left_margin + 2, image_top_margin + 14 + 2 * overlay_text_size, width(), 32), 0, text);
    painter.restore();
}

void Canvas::draw_snapshot_timestamp(QPainter& painter, int width_px, const QString& caption)
{
    if (caption.isEmpty())
        return;
    painter.save();
    QFont f = painter.font();
    f.setPointSize(20);
    painter.setFont(f);
    const QFontMetrics fm(f);
    const int H = fm.height();
    const QRect band(image_left_margin, image_top_margin, width_px - 2 * image_left_margin, H + 8);
    if (band.width() >= 1 && band.height() >= 1) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(0, 0, 0, 110));
        painter.drawRect(band);
    }
    painter.setPen(Qt::white);
    const QRect box(image_left_margin + 6, image_top_margin, band.width() - 12, H + 8);
    if (box.width() > 0) {
        const QString shown = fm.elidedText(caption, Qt::ElideRight, box.width());
        painter.drawText(box, Qt::AlignLeft | Qt::AlignVCenter, shown);
    }
    painter.restore();
}
