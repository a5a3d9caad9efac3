#pragma once

#include "export/export_dialogs.h"
#include "export/export_job_host.h"
#include "export/ff_export.h"

#include <QStringList>

// Answers the export windows' boxes and records them.
struct FakeDialogs : ExportDialogs
{
    QStringList infos;     // title|text
    QStringList questions; // text|informative text
    bool answer = true;
    QString saveAnswer;
    FakeDialogs() { ExportDialogs::set_instance(this); }
    ~FakeDialogs() override { ExportDialogs::set_instance(nullptr); }
    void information(QWidget*, const QString& title, const QString& text) override { infos << title + "|" + text; }
    bool question(QWidget*, const QString& text, const QString& more) override
    {
        questions << text + "|" + more;
        return answer;
    }
    QString save_file_name(QWidget*, const QString&, const QString&) override { return saveAnswer; }
};

// Keeps the re-encode workers handed over, unstarted.
struct FakeHost : ExportJobHost
{
    QList<ff_export*> workers;
    QStringList paths;
    ~FakeHost() override { qDeleteAll(workers); }
    void host_reencode(ff_export* worker, const QString& path) override
    {
        workers << worker;
        paths << path;
    }
};
