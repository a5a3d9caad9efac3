#pragma once

#include "playback/zq_media_frame.h"

#include <QMutex>
#include <QWaitCondition>
#include <deque>

// The queue between the export reader (producer) and its worker (consumer):
// the worker owns it and every frame taken out of it. Both sides wait on a
// condition with a time-out instead of sleeping: the reader while the queue
// is full, the worker while it is empty.
struct MediaFrameQueue
{
    QMutex mutex;
    QWaitCondition notEmpty;
    QWaitCondition notFull;
    std::deque<ZQMediaFrame*> frames;

    ~MediaFrameQueue() { clear(); }

    void clear()
    {
        QMutexLocker lock(&mutex);
        for (ZQMediaFrame* f : frames)
            delete f;
        frames.clear();
        notFull.wakeAll();
    }
};
