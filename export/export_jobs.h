#pragma once

#include <QThread>
#include <functional>

// The export and raw-copy workers that exist, so that the main window can
// stop them and wait for them at exit before the application object goes.
namespace ExportJobs {

// stop is called from the GUI thread; it must only set the worker's flags.
void add(QThread* worker, std::function<void()> stop = {});
void remove(QThread* worker);
// Asks every registered worker to stop and waits for each one's run to end.
void stop_all_and_wait();
// Records the file a worker writes; target_busy() is true while a worker
// that has not finished holds it.
void set_target(QThread* worker, const QString& path);
bool target_busy(const QString& path);
int count();

} // namespace ExportJobs
