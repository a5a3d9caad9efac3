// Fisheye view: unwraps a sector of the circular picture into a panorama.

#include <cmath>

#include "view/canvas.h"

namespace {
constexpr double deg_to_rad = 3.14159265358979323846 / 180.0;
} // namespace

void Canvas::setup_scaler_dewrap(int cw, int ch)
{
    if (cw < 1 || ch < 1 || cw > 16384 || ch > 16384) {
        panorama = QImage();
        return;
    }
    dewarp_src_width = cw;
    dewarp_src_height = ch;
    dewarp_radius = qMax(cw, ch) / 2;
    dewarp_circumference = int(2 * dewarp_radius * 3.14159265358979323846);
    dewarp_center_x = int(cw * 0.5);
    dewarp_center_y = int(ch * 0.5);
    panorama = QImage(cw, ch, QImage::Format_RGB32);
    panorama.fill(Qt::black);
    dewarp_last_angle = dewarp_last_fov = dewarp_last_zoom = -1.f;
}

QImage Canvas::get_panorama() const
{
    QMutexLocker lock(&mutex);
    return panorama;
}

void Canvas::set_dewarp_angle(float a)
{
    if (!std::isfinite(a))
        return;
    if (a >= 360)
        a -= 360;
    else if (a < 0)
        a += 360;
    dewarp_angle = a;
}

void Canvas::set_dewarp_zoom(float z)
{
    if (!std::isfinite(z))
        return;
    if (z >= 100)
        z = 100;
    else if (z <= 0)
        z = 0.1f;
    dewarp_zoom = z;
}

Canvas::DewarpGeometry Canvas::compute_dewarp_point(float angle, float zoom, float fov)
{
    DewarpGeometry g;
    const int w = dewarp_src_width, h = dewarp_src_height;
    const int cx = dewarp_center_x, cy = dewarp_center_y;
    auto rim = [&](double t, int* x, int* y, int* dist) {
        *x = int(std::cos(t) * (w / 2) + cx);
        *y = int(std::sin(t) * (h / 2) + cy);
        const double dx = *x - cx, dy = *y - cy;
        *dist = int(std::sqrt(dx * dx + dy * dy));
    };
    g.start_angle_deg = angle - fov / 2;
    g.direction = (angle - 180) * deg_to_rad;
    g.start_rad = g.start_angle_deg * deg_to_rad;
    g.first_rad = (g.start_angle_deg - fov / 2) * deg_to_rad;
    g.last_rad = (g.start_angle_deg + fov / 2) * deg_to_rad;
    rim(g.first_rad, &g.x_first, &g.y_first, &g.dist_first);
    rim(g.start_rad, &g.x_mid, &g.y_mid, &g.dist_mid);
    rim(g.last_rad, &g.x_last, &g.y_last, &g.dist_last);
    const double cdx = g.x_last - g.x_first, cdy = g.y_last - g.y_first;
    g.chord = int(std::sqrt(cdx * cdx + cdy * cdy));
    g.cos_dir = std::cos(g.direction);
    g.sin_dir = std::sin(g.direction);

    const int columns = qMax(1, panorama.width());
    dewarp_angle_step = fov / columns;
    dewarp_row_step = float(g.chord) / columns;
    dewarp_zoom_base = int(g.dist_mid * 1.25 - g.chord);
    if (zoom > 0 && dewarp_zoom_base >= 1)
        dewarp_zoom_offset = int(dewarp_zoom_base * zoom / 100);
    return g;
}

void Canvas::dewarp_frame(const DewarpGeometry& g, const QImage& source)
{
    if (panorama.isNull() || source.isNull() || source.depth() != 32)
        return;
    // Samples are bounded by the source picture's own size.
    const int sw = source.width(), sh = source.height();
    const int columns = panorama.width(), rows = panorama.height();
    const int w = dewarp_src_width, h = dewarp_src_height;
    const int cx = dewarp_center_x, cy = dewarp_center_y;
    const int half_chord = g.chord / 2;
    float angle = g.start_angle_deg;
    for (int c = 0; c < columns; ++c) {
        const double t_rad = angle * deg_to_rad;
        const int px = int(std::cos(t_rad) * (w / 2) + cx);
        const int py = int(std::sin(t_rad) * (h / 2) + cy);
        const double bdx = px - cx, bdy = py - cy;
        const int base1 = int(std::sqrt(bdx * bdx + bdy * bdy));
        const float t = c * dewarp_row_step;
        const int base2 = c < columns / 2 ? int(half_chord - t) : int(t - half_chord);
        int depth = base1 > base2 ? int(std::sqrt(double(base1) * base1 - double(base2) * base2)) : 0;
        if (2 * depth > g.chord)
            depth = half_chord;
        for (int r = 0; r < rows; ++r) {
            const double percentage = double(r) * 100 / rows;
            const int radius = int(2 * depth * percentage / 100 + dewarp_zoom_offset);
            const int sx = int(px + radius * g.cos_dir);
            const int sy = int(py + radius * g.sin_dir);
            if (sx >= 0 && sx < sw && sy >= 0 && sy < sh) {
                const QRgb* src = reinterpret_cast<const QRgb*>(source.constScanLine(sy));
                reinterpret_cast<QRgb*>(panorama.scanLine(r))[c] = src[sx];
            }
        }
        angle += dewarp_angle_step;
        if (angle >= 360)
            angle -= 360;
    }
}
