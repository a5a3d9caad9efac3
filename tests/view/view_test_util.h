#pragma once

#include <QCoreApplication>
#include <QImage>
#include <QMouseEvent>
#include <QWheelEvent>

#include "view/canvas.h"

// A picture whose every pixel tells where it comes from: red = x mod 256,
// green = y mod 256, blue = 16 * (x / 256) + (y / 256). The scrambled form
// multiplies x and y by odd numbers first, so that neighbours differ widely
// and any blending between them shows.
inline QRgb position_colour(int x, int y, bool scrambled = false)
{
    if (scrambled)
        return qRgb((x * 37) & 255, (y * 59) & 255, ((x >> 8) * 16 + (y >> 8)) & 255);
    return qRgb(x & 255, y & 255, ((x >> 8) * 16 + (y >> 8)) & 255);
}

inline QImage position_image(int w, int h, bool scrambled = false)
{
    QImage img(w, h, QImage::Format_RGB32);
    for (int y = 0; y < h; ++y) {
        QRgb* line = reinterpret_cast<QRgb*>(img.scanLine(y));
        for (int x = 0; x < w; ++x)
            line[x] = position_colour(x, y, scrambled);
    }
    return img;
}

inline QImage plain_image(int w, int h, QColor c)
{
    QImage img(w, h, QImage::Format_RGB32);
    img.fill(c);
    return img;
}

inline void push_frame(Canvas& c, const QImage& img, int id, const QString& ts = QStringLiteral("2026-12-10 10:00:00.000"),
                       const QString& overlay = QString())
{
    c.displayFrame(img, img.bytesPerLine(), img.width(), img.height(), ts, overlay, false, id, 25.0, id == 0);
}

// A tile set up as the QML window sets it up, with a frame on screen.
inline void setup_like_player(Canvas& c, int w, int h)
{
    c.set_stream_start(false);
    c.set_external_source();
    c.set_mouse_interaction(true);
    c.set_fullscreen_enabled(false);
    c.set_center_image(true);
    c.resize(w, h);
    c.set_stream_start(true);
}

inline void send_mouse(Canvas& c, QEvent::Type type, QPointF p, Qt::MouseButton button, Qt::MouseButtons buttons)
{
    QMouseEvent e(type, p, c.mapToGlobal(p), button, buttons, Qt::NoModifier);
    QCoreApplication::sendEvent(&c, &e);
}

inline void click(Canvas& c, QPointF p, Qt::MouseButton b = Qt::LeftButton)
{
    send_mouse(c, QEvent::MouseButtonPress, p, b, b);
    send_mouse(c, QEvent::MouseButtonRelease, p, b, Qt::NoButton);
}

inline void wheel(Canvas& c, QPointF p, int delta)
{
    QWheelEvent e(p, c.mapToGlobal(p), QPoint(), QPoint(0, delta), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase,
                  false);
    QCoreApplication::sendEvent(&c, &e);
}
