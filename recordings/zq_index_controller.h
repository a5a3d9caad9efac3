#pragma once

#include "recordings/zq_index_manager.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QThread>
#include <QString>
#include <QStringList>

#include <atomic>
#include <memory>

// Rebuilds the index of a whole root folder or of one day folder: one ZQIndexManager per day, each
// in a thread of its own, at most as many at once as the machine has cores. Every run that starts
// ends with exactly one allFinished(), failed days included; errorOccurred passes each failing
// day's message on as it comes.
class ZQIndexController : public QObject
{
    Q_OBJECT
public:
    explicit ZQIndexController(QObject* parent = nullptr);
    // Pending days are dropped, running builds are asked to stop and their threads are waited for
    // (a build stops at its next step), so that nothing started here outlives the controller.
    ~ZQIndexController() override;

    // `path`: a day folder, or a folder holding day folders (normally the root folder).
    // Every call ends with exactly one allFinished(), after errorOccurred(...) for each failure:
    // also a call refused because a run is under way (the running run still ends with its own
    // allFinished()) or because the path does not exist; those two end before the call returns.
    void generate_index(QString path);

    bool is_busy() const { return m_busy; }
    int started_count() const { return m_started; }
    int finished_count() const { return m_finished; }
    int failed_count() const { return m_failed; }
    // Days of the current or last run, sorted.
    QStringList days() const { return m_days; }

    // At most this many builds at once (default: the number of cores).
    void set_max_parallel(int count);
    int max_parallel() const { return m_maxParallel; }

signals:
    void allFinished();
    void errorOccurred(QString message);

private slots:
    void onManagerFinished(ZQIndexManager::Outcome outcome, const QString& message);

private:
    void start_next();

    int m_started = 0;
    int m_finished = 0;
    int m_failed = 0;
    int m_running = 0;
    bool m_busy = false;
    int m_maxParallel = 1;
    QStringList m_days;
    QStringList m_pending;
    QList<QPointer<QThread>> m_threads;
    std::shared_ptr<std::atomic<bool>> m_stop;
};
