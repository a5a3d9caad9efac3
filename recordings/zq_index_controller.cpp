#include "recordings/zq_index_controller.h"

#include "app/zq_log.h"
#include "recordings/storage_layout.h"

#include <QDir>
#include <QFileInfo>
#include <QThread>

#include <algorithm>

ZQIndexController::ZQIndexController(QObject* parent)
    : QObject(parent), m_maxParallel(std::max(1, QThread::idealThreadCount()))
{
}

ZQIndexController::~ZQIndexController()
{
    m_pending.clear();
    if (m_stop)
        m_stop->store(true);
    for (const QPointer<QThread>& thread : std::as_const(m_threads)) {
        if (!thread)
            continue;
        // The thread quits by itself once its manager has ended, and its manager is deleted as it
        // finishes; what is left is the thread object, whose deleteLater would never be served
        // after the event loop ended.
        thread->wait();
        delete thread.data();
    }
}

void ZQIndexController::set_max_parallel(int count)
{
    m_maxParallel = std::max(1, count);
}

void ZQIndexController::generate_index(QString path)
{
    // Every call ends with one allFinished(), a refused one too: a caller waiting for the end
    // of its request must never wait forever.
    if (m_busy) {
        ZQLog::log("[WARNING] ZQIndexController :: Une indexation est déjà en cours. Ignoré.");
        emit errorOccurred(QStringLiteral("Une indexation est déjà en cours."));
        emit allFinished();
        return;
    }
    const QString clean = StorageLayout::clean_folder_path(path);
    const QFileInfo info(clean);
    if (path.isEmpty() || !info.exists()) {
        ZQLog::log(QStringLiteral("[ERROR] ZQIndexController :: Le chemin n'existe pas : ") + path);
        emit errorOccurred(QStringLiteral("Le chemin n'existe pas : ") + path);
        emit allFinished();
        return;
    }

    QStringList days;
    if (info.isDir()) {
        if (StorageLayout::is_day_folder_name(info.fileName()))
            days.append(clean);
        else
            days = StorageLayout::day_folders(clean);
    }

    m_started = 0;
    m_finished = 0;
    m_failed = 0;
    m_running = 0;
    m_days = days;
    m_pending = days;
    m_stop = std::make_shared<std::atomic<bool>>(false);
    m_busy = true;

    if (m_pending.isEmpty()) {
        m_busy = false;
        emit allFinished();
        return;
    }
    start_next();
}

void ZQIndexController::start_next()
{
    while (m_running < m_maxParallel && !m_pending.isEmpty()) {
        const QString day = m_pending.takeFirst();
        ZQLog::log(QStringLiteral("[INFO] ZQIndex Manager :: background generation :: day :: ") + day);

        auto* thread = new QThread;
        auto* manager = new ZQIndexManager;
        manager->set_stop_flag(m_stop);
        manager->moveToThread(thread);
        ++m_started;
        ++m_running;

        connect(thread, &QThread::started, manager, [manager, day] { manager->background_generation(day); },
                Qt::DirectConnection);
        connect(manager, &ZQIndexManager::finished, this, &ZQIndexController::onManagerFinished);
        // Quit from the build's own thread: the thread ends even when the event loop of this one
        // no longer runs (at exit), so it can be waited for.
        connect(manager, &ZQIndexManager::finished, thread, &QThread::quit, Qt::DirectConnection);
        connect(manager, &ZQIndexManager::finished, manager, &QObject::deleteLater);
        connect(manager, &ZQIndexManager::errorOccurred, this, &ZQIndexController::errorOccurred);
        connect(thread, &QThread::finished, thread, &QObject::deleteLater);
        m_threads.removeAll(QPointer<QThread>());
        m_threads.append(thread);
        thread->start(QThread::InheritPriority);
    }
}

void ZQIndexController::onManagerFinished(ZQIndexManager::Outcome outcome, const QString& /*message*/)
{
    --m_running;
    if (outcome == ZQIndexManager::Failed || outcome == ZQIndexManager::Cancelled)
        ++m_failed;
    else
        ++m_finished;
    start_next();
    if (m_running == 0 && m_pending.isEmpty() && m_busy) {
        m_busy = false;
        emit allFinished();
    }
}
