#pragma once

// One steady clock for the whole program: time since its first use, never
// going back when the wall clock is set.

#include <QElapsedTimer>

namespace zq {

inline qint64 monotonic_ns()
{
    static const QElapsedTimer clock = [] {
        QElapsedTimer t;
        t.start();
        return t;
    }();
    return clock.nsecsElapsed();
}

inline qint64 monotonic_ms()
{
    return monotonic_ns() / 1000000;
}

} // namespace zq
