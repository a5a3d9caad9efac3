#pragma once

#include <QObject>
#include <QString>

// Looks for a crash dump left by an earlier run and keeps only the newest.
class CrashFileChecker : public QObject
{
    Q_OBJECT
public:
    static void check();

    // The folder the crash handler writes its dumps to.
    static QString reportsFolder();
    // Keeps the newest "*.dmp" under the folder (sub-folders included),
    // removes the others and returns the newest's path (empty when none).
    static QString keepNewestDump(const QString& folder);
};
