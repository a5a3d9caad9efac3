#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

class IntegrityCheck;
class IntegrityDialog;
class QWidget;

// One integrity check of a day folder with its dialog: builds the pair, wires the check to the
// dialog, shows the dialog and starts the check. When the dialog has closed it emits finished()
// and disposes of both by itself: the dialog at once, the check only once its thread has ended
// (asked to stop first if it still runs). An owner keeps the pointer to know that a check is
// open and forgets it on finished().
//
//   m_integrity = IntegrityRun::start(nullptr, root, QStringLiteral("2025-06-18"));
//   connect(m_integrity, &IntegrityRun::finished, this, &Owner::integrity_check_done);
class IntegrityRun : public QObject
{
    Q_OBJECT

public:
    // `dayOrFolder` is either a day "yyyy-MM-dd" inside `root` (the folder checked is then
    // QDir(root).filePath(day) and the dialog names the root) or the absolute path of a day folder
    // (checked as it is; the dialog names that folder and its last name as the day). The dialog
    // gets `parent`. Nothing is started, and null returned, when either text is empty.
    static IntegrityRun* start(QWidget* parent, const QString& root, const QString& dayOrFolder);

    // Stops a running check and waits for its thread (at exit); the dialog is closed.
    void stop_and_wait();

    IntegrityCheck* check() const { return m_check; }
    IntegrityDialog* dialog() const;
    QString day_folder() const { return m_day_folder; }

    ~IntegrityRun() override;

signals:
    // The dialog has closed (or was deleted with its parent); the object deletes itself once the
    // check's thread has ended. Deleting the object instead stops the check and waits for it.
    void finished();

private:
    IntegrityRun(QWidget* parent, const QString& dayFolder, const QString& folderText, const QString& day);
    // The dialog has ended (still alive) or is gone: tells the owner, then lets the check go.
    void dispose(bool dialogAlive);

    IntegrityCheck* m_check = nullptr;
    QPointer<IntegrityDialog> m_dialog;
    QString m_day_folder;
    bool m_done = false;
};
