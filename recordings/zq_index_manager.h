#pragma once

#include "recordings/day_index_file.h"

#include <QFileInfo>
#include <QFileInfoList>
#include <QObject>
#include <QString>

#include <atomic>
#include <memory>

// Builds the index of one day folder: collects the day's files, rebuilds the day's camera list
// "index.zqnfo" and writes the day index "zqvideoindex.json" with the folder fingerprint. The index
// controller runs one manager per day in a thread of its own through background_generation; the
// player uses the reading side (fingerprint, stored index) on a manager of its own or through the
// static load_day, which is safe to run on any thread.
class ZQIndexManager : public QObject
{
    Q_OBJECT
public:
    enum Outcome {
        Built,        // index written
        BuiltInMemory,// index built, but "zqvideoindex.json" could not be written: kept in memory
        Current,      // another build of the same day made the index current meanwhile
        NotADay,      // a root folder or other folder under a root: nothing to build
        Failed,       // not under a root folder, or no usable recording (message says which)
        Cancelled,    // stopped before the end
    };
    Q_ENUM(Outcome)

    explicit ZQIndexManager(QObject* parent = nullptr);
    ~ZQIndexManager() override;

    // Stop token shared with whoever may stop the build (checked between steps).
    void set_stop_flag(std::shared_ptr<std::atomic<bool>> stop) { m_stop = std::move(stop); }

    // Collecting: the files of the folder and of its direct sub-folders, sorted; appended.
    void videolist_with_multiple_directory(const QString& folder, QFileInfoList& video, QFileInfoList& alarm,
                                           QFileInfoList& tag, QFileInfoList& audio, QFileInfoList& preview,
                                           QFileInfoList& nfo);
    // Rewrites "index.zqnfo" of the folder from the listed camera-information files (JSON forms,
    // then the scrambled line form) when they name at least one camera and the list changed.
    // False only when a write was needed and failed.
    bool regenerate_zqnfo_index_with_filelist(const QString& folder, const QFileInfoList& nfoFiles);
    // Writes "zqvideoindex.json"; `fingerprint` null: computed now. False when not written.
    bool create_zqindexfile(const QString& folder, const QFileInfoList& video, const QFileInfoList& alarm,
                            const QFileInfoList& tag, const QFileInfoList& audio, const QFileInfoList& preview,
                            const QString& fingerprint = QString());
    // The folder's fingerprint; null when the folder does not exist.
    QString generate_snapshot(const QString& folder);
    // The stored fingerprint; null when there is no index or it holds none.
    QString get_last_modified(const QFileInfo& folder);
    // Appends the stored lists' entries that are existing files of the day.
    void set_value_from_indexfile(const QString& folder, QFileInfoList& video, QFileInfoList& alarm,
                                  QFileInfoList& tag, QFileInfoList& audio, QFileInfoList& preview);
    // The ".zqnfo" files of the folder's direct sub-folders, sorted; symbolic links are not followed.
    static QFileInfoList zqnfo_with_multiple_directory(const QString& folder);

    // One load of a day's index, for the player (run it off the GUI thread: it walks the day).
    struct DayLoad
    {
        bool current = false;   // the stored index matches the folder: the lists are filled
        QString fingerprint;    // fresh fingerprint (null: the folder does not exist)
        QString stored;         // stored fingerprint (null: none)
        DayIndex::Files files;
    };
    static DayLoad load_day(const QString& dayFolder);

    // Stops every build under way in the process and waits up to `msecs` for them to end (for the
    // application's exit). True when none is left running.
    static bool stop_all_and_wait(int msecs);
    static int running_builds();

public slots:
    void background_generation(QString root_directory);

signals:
    // The one terminal signal of a build.
    void finished(ZQIndexManager::Outcome outcome, const QString& message);
    // Emitted just before finished() when the build failed; the French message for the user.
    void errorOccurred(QString message);

private:
    bool stopping() const;
    Outcome build(const QString& day, QString* message);

    std::shared_ptr<std::atomic<bool>> m_stop;
};
