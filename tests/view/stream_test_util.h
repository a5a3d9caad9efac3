#pragma once

// Helpers of the stream tests: a stream client whose thread is held, and
// the wait for thread objects that delete themselves.

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSemaphore>
#include <QString>
#include <QTest>

#include <atomic>
#include <functional>
#include <memory>

#include "view/zq_stream_parser.h"

// Holds a stream client's thread, once, in its next status hand-over after
// it is armed, as a call that does not come back would (a library call, a
// slow decode), until released. Shared with the client's thread, which may still hold it
// after the test let go of it.
struct ClientHold
{
    std::atomic<bool> armed{false};
    std::atomic<bool> entered{false};
    QSemaphore release;
};

inline void hold_client(ZQStreamParser* p, const std::shared_ptr<ClientHold>& hold)
{
    QObject::connect(
        p, &ZQStreamParser::send_status_message, p,
        [hold](const QString& text) {
            if (!hold->armed || text == QLatin1String("connected") || hold->entered.exchange(true))
                return;
            hold->release.tryAcquire(1, 60000);
        },
        Qt::DirectConnection);
}

// Releases the hold when the test leaves, whichever way.
struct ClientHoldRelease
{
    std::shared_ptr<ClientHold> hold;
    ~ClientHoldRelease() { hold->release.release(); }
};

// Deletions that follow finished signals run on the event loop: runs it,
// delivering them, until `gone` holds or 10 s have passed.
inline bool wait_until_deleted(const std::function<bool()>& gone)
{
    QElapsedTimer t;
    t.start();
    while (!gone() && t.elapsed() < 10000) {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QTest::qWait(20);
    }
    return gone();
}
