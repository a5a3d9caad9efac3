#pragma once

#include <QList>
#include <QObject>
#include <QSslCertificate>

#include "view/ptz_gesture_hooks.h"

class Canvas;
class PtzCtrlWeb;
class QTimer;

// The pan-tilt-zoom gestures of a display tile: click, hold, area, wheel and
// right click, sent to the tile's native driver when one is active, else to
// the web control page. The tile owns this object once attached.
class PtzGestures : public QObject, public PtzGestureHooks
{
    Q_OBJECT

public:
    // Creates the gestures of a tile and hands them to it.
    static PtzGestures* attach(Canvas* tile);

    explicit PtzGestures(Canvas* tile);
    ~PtzGestures() override;

    void press(QMouseEvent* e) override;
    void right_click(QMouseEvent* e) override;
    void wheel(QWheelEvent* e) override;
    bool move(QMouseEvent* e) override;
    bool release(QMouseEvent* e) override;
    void leave() override;
    void hold_tick() override;
    void hold_stop_tick() override;
    void click_post() override;
    void web_security_stop() override;

    // The web control, created on first use.
    PtzCtrlWeb* web();
    // Applied to the web control when it is created.
    void set_web_timeout_ms(int ms) { web_timeout_ms = ms; }
    void set_web_ca_certificates(const QList<QSslCertificate>& certs) { web_ca = certs; }

private:
    bool has(const char* option) const;
    void rearm_hold_timer_to_stop();
    void web_release();
    double ratio_x() const;
    double ratio_y() const;

    Canvas* c;
    PtzCtrlWeb* web_control = nullptr;
    int web_timeout_ms = 0;
    QList<QSslCertificate> web_ca;
};
