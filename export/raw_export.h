#pragma once

#include <QFileInfo>
#include <QList>
#include <QString>
#include <QThread>
#include <atomic>

// Copies the recording files of a range (each data file with its seek index)
// and the camera-information files of the exported days into the export
// folder, each under its path from the storage root folder on, so that the
// export folder holds a smaller storage folder the player can open.
//
// Every file is written under a temporary name and renamed; a target of the
// same size and modification time as its source is kept, another one is
// replaced. One terminal signal: endingsignal() when everything was copied,
// or error(-14) (a source missing or unreadable) or error(-9) (a target that
// cannot be written, or that is its own source).
class RawExport : public QThread
{
    Q_OBJECT
public:
    RawExport();
    ~RawExport() override;

    void set_target(const QFileInfo& target) { m_target = target; }
    void set_files(const QList<QFileInfo>& files) { m_files = files; }
    // Any thread: the copy stops at its next check (no terminal signal then).
    void set_stop() { m_stop.store(true); }

    // The export path of a source: the export folder followed by the source's
    // path from its storage root folder on; empty when the path holds no root folder.
    static QString target_path(const QString& exportFolder, const QString& source);
    // Copies source to target through a temporary file; -14 (source), -9
    // (target) or 0. A target of the same size and modification time is kept.
    int copy_file(const QString& source, const QString& target);

signals:
    void valueChanged(int percent);
    void endingsignal();
    void error(int code);

protected:
    void run() override;

private:
    QFileInfo m_target;
    QList<QFileInfo> m_files;
    std::atomic<bool> m_stop{false};
};
