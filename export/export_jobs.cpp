#include "export/export_jobs.h"

#include <QHash>
#include <QMutex>
#include <QPointer>

namespace {
QMutex g_mutex;
QHash<QThread*, std::function<void()>>& jobs()
{
    static QHash<QThread*, std::function<void()>> table;
    return table;
}
}

void ExportJobs::add(QThread* worker, std::function<void()> stop)
{
    QMutexLocker lock(&g_mutex);
    jobs().insert(worker, std::move(stop));
}

static QHash<QThread*, QString>& targets()
{
    static QHash<QThread*, QString> table;
    return table;
}

void ExportJobs::remove(QThread* worker)
{
    QMutexLocker lock(&g_mutex);
    jobs().remove(worker);
    targets().remove(worker);
}

void ExportJobs::set_target(QThread* worker, const QString& path)
{
    QMutexLocker lock(&g_mutex);
    targets().insert(worker, path);
}

bool ExportJobs::target_busy(const QString& path)
{
    QMutexLocker lock(&g_mutex);
    for (auto it = targets().cbegin(); it != targets().cend(); ++it) {
        if (it.value() == path && !it.key()->isFinished())
            return true;
    }
    return false;
}

int ExportJobs::count()
{
    QMutexLocker lock(&g_mutex);
    return int(jobs().size());
}

void ExportJobs::stop_all_and_wait()
{
    QList<QPointer<QThread>> running;
    {
        QMutexLocker lock(&g_mutex);
        for (auto it = jobs().cbegin(); it != jobs().cend(); ++it) {
            if (it.value())
                it.value()();
            else
                QMetaObject::invokeMethod(it.key(), "set_stop", Qt::DirectConnection);
            running << QPointer<QThread>(it.key());
        }
    }
    // The workers are deleted on the GUI thread only, so none goes away while we wait here.
    for (const QPointer<QThread>& t : running) {
        if (t)
            t->wait();
    }
}
