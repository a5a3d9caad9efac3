#pragma once

class QMouseEvent;
class QWheelEvent;

// What the tile's mouse and wheel handlers call in PTZ mode. The gestures
// themselves live in the PTZ library, which implements this; the tile owns
// the object it is given.
class PtzGestureHooks
{
public:
    virtual ~PtzGestureHooks() = default;

    virtual void press(QMouseEvent* e) = 0;
    virtual void right_click(QMouseEvent* e) = 0;
    virtual void wheel(QWheelEvent* e) = 0;
    // True when the move was taken by a PTZ step.
    virtual bool move(QMouseEvent* e) = 0;
    // True when the release was taken as a PTZ click.
    virtual bool release(QMouseEvent* e) = 0;
    virtual void leave() = 0;
    // Timer ends and the web control's security stop.
    virtual void hold_tick() = 0;
    virtual void hold_stop_tick() = 0;
    virtual void click_post() = 0;
    virtual void web_security_stop() = 0;
};
