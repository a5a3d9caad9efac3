#pragma once

#include <QObject>
#include <QString>

class ReporterWidget;

// Looks for a crash dump left by an earlier run, keeps only the newest and
// offers it in the report form.
class CrashFileChecker : public QObject
{
    Q_OBJECT
public:
    // Returns the form it showed (it deletes itself when closed), or null.
    static ReporterWidget* check();

    // The folder the crash handler writes its dumps to.
    static QString reportsFolder();
    // Keeps the newest "*.dmp" under the folder (sub-folders included),
    // removes the others and returns the newest's path (empty when none).
    static QString keepNewestDump(const QString& folder);
};
