#include "recordings/zq_index_manager.h"

#include "app/zq_log.h"
#include "recordings/storage_layout.h"
#include "recordings/zq_file.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QMutex>
#include <QMutexLocker>
#include <QSet>
#include <QWaitCondition>
#include <QtConcurrent/QtConcurrentRun>

namespace {

// Builds under way in the process: one build of a given day at a time.
QMutex g_buildMutex;
QWaitCondition g_buildChanged;
QSet<QString> g_building;
int g_running = 0;
std::atomic<int> g_stopEpoch{0};

QFileInfoList to_infos(const QStringList& paths)
{
    QFileInfoList infos;
    infos.reserve(paths.size());
    for (const QString& p : paths)
        infos.append(QFileInfo(p));
    return infos;
}

QStringList to_paths(const QFileInfoList& infos)
{
    QStringList paths;
    paths.reserve(infos.size());
    for (const QFileInfo& fi : infos)
        paths.append(fi.absoluteFilePath());
    return paths;
}

void append_infos(QFileInfoList& list, const QStringList& paths)
{
    list.reserve(list.size() + paths.size());
    for (const QString& p : paths)
        list.append(QFileInfo(p));
}

// The five lists of a day that the index stores, appended to the caller's lists.
void append_day_lists(const DayIndex::Files& files, QFileInfoList& video, QFileInfoList& alarm, QFileInfoList& tag,
                      QFileInfoList& audio, QFileInfoList& preview)
{
    append_infos(video, files.video);
    append_infos(alarm, files.alarm);
    append_infos(tag, files.tag);
    append_infos(audio, files.audio);
    append_infos(preview, files.preview);
}

// One walk of the day: its fingerprint and its files.
DayIndex::Snapshot collect_day(const QString& day)
{
    DayIndex::Snapshot snapshot = DayIndex::scan(day, true);
    if (snapshot.exists)
        ZQLog::log(QStringLiteral("[INFO] ZQIndex Manager :: videolist with multiple directory :: dir list count       : ")
                   + QString::number(snapshot.folders));
    return snapshot;
}


QString ms_text(qint64 nsecs)
{
    return QString::number(double(nsecs) / 1e6, 'g', 6);
}

} // namespace

ZQIndexManager::ZQIndexManager(QObject* parent) : QObject(parent) {}

ZQIndexManager::~ZQIndexManager() = default;

bool ZQIndexManager::stopping() const
{
    return m_stop && m_stop->load();
}

int ZQIndexManager::running_builds()
{
    QMutexLocker lock(&g_buildMutex);
    return g_running;
}

bool ZQIndexManager::stop_all_and_wait(int msecs)
{
    g_stopEpoch.fetch_add(1);
    QDeadlineTimer deadline(msecs);
    QMutexLocker lock(&g_buildMutex);
    while (g_running > 0) {
        if (!g_buildChanged.wait(&g_buildMutex, deadline))
            break;
    }
    return g_running == 0;
}

void ZQIndexManager::background_generation(QString root_directory)
{
    const int epoch = g_stopEpoch.load();
    auto stopped = [this, epoch] { return stopping() || g_stopEpoch.load() != epoch; };
    {
        QMutexLocker lock(&g_buildMutex);
        ++g_running;
    }
    auto end = [this](Outcome outcome, const QString& message) {
        {
            QMutexLocker lock(&g_buildMutex);
            --g_running;
            g_buildChanged.wakeAll();
        }
        if (outcome == Failed)
            emit errorOccurred(message);
        emit finished(outcome, message);
    };

    const QString day = StorageLayout::folder_with_slash(root_directory);
    if (root_directory.isEmpty() || !StorageLayout::path_contains_root(day)) {
        ZQLog::log(QStringLiteral("[WARN] ZQIndex Manager :: failed to start background generation in :: ") + day);
        end(Failed, QStringLiteral("Le dossier ") + day + QStringLiteral(" n'est pas un dossier zqcore."));
        return;
    }
    if (!StorageLayout::path_contains_root_and_day(day)) {
        end(NotADay, QString());
        return;
    }

    bool waited = false;
    {
        QMutexLocker lock(&g_buildMutex);
        while (g_building.contains(day)) {
            if (stopped()) {
                lock.unlock();
                end(Cancelled, QString());
                return;
            }
            waited = true;
            g_buildChanged.wait(&g_buildMutex, 300);
        }
        g_building.insert(day);
    }
    auto release = [&day] {
        QMutexLocker lock(&g_buildMutex);
        g_building.remove(day);
        g_buildChanged.wakeAll();
    };

    if (waited) {
        // Another build of this day just ended: do not repeat it when it left the index current.
        const DayIndex::Stored stored = DayIndex::read(day, false);
        const QString fresh = DayIndex::fingerprint(day);
        if (!fresh.isNull() && fresh == stored.fingerprint) {
            release();
            end(Current, QString());
            return;
        }
    }

    ZQLog::log(QStringLiteral("[INFO] ZQIndex Manager :: start background generation in :: ") + day);
    QElapsedTimer timer;
    timer.start();

    const DayIndex::Snapshot snapshot = collect_day(day);
    if (stopped()) {
        release();
        end(Cancelled, QString());
        return;
    }
    // The day's own "index.zqnfo" stays in the list: the server may name cameras only there, and
    // leaving it out would drop them from the rebuilt file.
    regenerate_zqnfo_index_with_filelist(day, to_infos(snapshot.files.nfo));

    if (snapshot.files.video.isEmpty()) {
        release();
        ZQLog::log(QStringLiteral("[WARN] ZQIndex Manager :: background generation :: no video data found in ") + day);
        end(Failed, QStringLiteral("Aucun enregistrement trouvé dans le dossier ") + day);
        return;
    }
    if (stopped()) {
        release();
        end(Cancelled, QString());
        return;
    }

    ZQLog::log(QStringLiteral("[INFO] ZQIndexManager :: create zqindexfile :: last modified value ") + snapshot.fingerprint);
    QString error;
    Outcome outcome = Built;
    if (DayIndex::write(day, snapshot.files, snapshot.fingerprint, &error)) {
        DayIndex::forget(day);
    } else {
        // Read-only storage: the lists stay usable from memory and the day is not rebuilt on each load.
        ZQLog::log(QStringLiteral("[ERROR] ZQIndexManager :: create zqindexfile :: write failed :: ") + day
                   + QStringLiteral(" :: ") + error);
        DayIndex::remember(day, snapshot.fingerprint, snapshot.files);
        outcome = BuiltInMemory;
    }
    release();
    ZQLog::log(QStringLiteral("[INFO] ZQIndex Manager :: background generation :: regenerated index for ") + day
               + QStringLiteral(" in ") + ms_text(timer.nsecsElapsed()) + QStringLiteral(" ms"));
    end(outcome, QString());
}

void ZQIndexManager::videolist_with_multiple_directory(const QString& folder, QFileInfoList& video,
                                                       QFileInfoList& alarm, QFileInfoList& tag,
                                                       QFileInfoList& audio, QFileInfoList& preview,
                                                       QFileInfoList& nfo)
{
    if (folder.isEmpty())
        return;
    const DayIndex::Snapshot snapshot = collect_day(folder);
    append_day_lists(snapshot.files, video, alarm, tag, audio, preview);
    append_infos(nfo, snapshot.files.nfo);
}

bool ZQIndexManager::regenerate_zqnfo_index_with_filelist(const QString& folder, const QFileInfoList& nfoFiles)
{
    QHash<int, QString> cameras;
    for (const QFileInfo& file : nfoFiles) {
        // A recording's own file names its camera, and the first reading of a camera wins: once the
        // camera is known its other recordings' files cannot add anything, so they are not decrypted.
        const QString name = file.fileName();
        if (!name.contains(QLatin1String("index")) && name.contains(QLatin1Char('_'))) {
            const int id = StorageLayout::recording_camera_id(name);
            if (id >= 0 && cameras.contains(id))
                continue;
        }
        ZQLog::log(QStringLiteral("[INFO] ZQIndex Manager :: regenerate zqnfo index with filelist :: zqnfo path ")
                   + file.absoluteFilePath());
        cameras = ZQFile::check_and_parse_nfo_file(file, cameras);
    }
    if (cameras.isEmpty())
        cameras = ZQFile::read_scrambled_nfo_files(nfoFiles, cameras);
    if (cameras.isEmpty())
        return true;
    const QFileInfo target(StorageLayout::folder_with_slash(folder) + QStringLiteral("index.zqnfo"));
    if (target.exists() && ZQFile::check_and_parse_nfo_file(target, {}) == cameras)
        return true; // unchanged: nothing to write (and read-only storage stays quiet)
    return ZQFile::create_zqnfo_index_file(target, cameras);
}

bool ZQIndexManager::create_zqindexfile(const QString& folder, const QFileInfoList& video, const QFileInfoList& alarm,
                                        const QFileInfoList& tag, const QFileInfoList& audio,
                                        const QFileInfoList& preview, const QString& fingerprint)
{
    DayIndex::Files files;
    files.video = to_paths(video);
    files.alarm = to_paths(alarm);
    files.tag = to_paths(tag);
    files.audio = to_paths(audio);
    files.preview = to_paths(preview);
    if (QDir(folder).exists())
        files.dateDirectories = StorageLayout::day_folders(folder);
    else
        ZQLog::log(QStringLiteral("[WARN] ZQIndexManager :: create zqindexfile :: get available days :: ") + folder
                   + QStringLiteral("is not a directory"));
    const QString fp = fingerprint.isNull() ? generate_snapshot(folder) : fingerprint;
    ZQLog::log(QStringLiteral("[INFO] ZQIndexManager :: create zqindexfile :: last modified value ") + fp);
    QString error;
    if (!DayIndex::write(folder, files, fp, &error)) {
        ZQLog::log(QStringLiteral("[ERROR] ZQIndexManager :: create zqindexfile :: write failed :: ") + folder
                   + QStringLiteral(" :: ") + error);
        return false;
    }
    DayIndex::forget(folder);
    return true;
}

QString ZQIndexManager::generate_snapshot(const QString& folder)
{
    return DayIndex::fingerprint(folder);
}

QString ZQIndexManager::get_last_modified(const QFileInfo& folder)
{
    return DayIndex::read(folder.filePath(), false).fingerprint;
}

void ZQIndexManager::set_value_from_indexfile(const QString& folder, QFileInfoList& video, QFileInfoList& alarm,
                                              QFileInfoList& tag, QFileInfoList& audio, QFileInfoList& preview)
{
    const DayIndex::Stored stored = DayIndex::read(folder, true);
    append_day_lists(stored.files, video, alarm, tag, audio, preview);
}

QFileInfoList ZQIndexManager::zqnfo_with_multiple_directory(const QString& folder)
{
    QFileInfoList result;
    if (folder.isEmpty())
        return result;
    const QDir dir(folder);
    const QFileInfoList subs = dir.entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::NoSymLinks, QDir::Name);
    ZQLog::log(QStringLiteral("[INFO] ZQIndex Manager :: zqnfo with multiple directory :: dir list count :: ")
               + QString::number(subs.size()));
    for (const QFileInfo& sub : subs) {
        if (!sub.isDir()) {
            ZQLog::log(QStringLiteral("[WARN] ZQIndex Manager :: zqnfo with multiple directory :: invalid dir :: ")
                       + sub.absoluteFilePath());
            continue;
        }
        result.append(QDir(sub.absoluteFilePath())
                          .entryInfoList({QStringLiteral("*.zqnfo")}, QDir::Files | QDir::NoSymLinks, QDir::Name));
    }
    return result;
}

ZQIndexManager::DayLoad ZQIndexManager::load_day(const QString& dayFolder)
{
    DayLoad load;
    // The walk and the stored index read run side by side.
    QFuture<DayIndex::Stored> reading =
        QtConcurrent::run([dayFolder] { return DayIndex::read(dayFolder, true, DayIndex::kMaxListEntries); });
    // The walk collects the day's files too: the stored lists are checked against them below.
    const DayIndex::Snapshot snapshot = DayIndex::scan(dayFolder, true);
    const DayIndex::Stored stored = reading.result();
    load.stored = stored.fingerprint;
    load.fingerprint = snapshot.fingerprint;
    // The stored index is a cache of the day: trusted only when its lists hold exactly the files
    // the walk collects. An index naming files that no scan lists (a forged tag hidden from the
    // fingerprint), or leaving out files of the day (a recording or a tag cut out of it, which
    // changes no file the fingerprint counts), is built again.
    if (!load.fingerprint.isNull() && load.fingerprint == load.stored && stored.foreign == 0) {
        // (A list longer than the files the walk counted names some file twice, or one the walk
        // does not count: not ours either.)
        if (stored.longestList <= snapshot.fileCount && DayIndex::same_files(stored.files, snapshot.files)) {
            load.current = true;
            load.files = stored.files;
        } else {
            ZQLog::log(QStringLiteral("[WARN] ZQIndexManager :: stored index does not list the files of the day, "
                                      "not trusted :: ")
                       + dayFolder);
        }
    }
    return load;
}
