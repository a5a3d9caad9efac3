#pragma once

#include <QString>

class ff_export;

// Where the export dialog hands a re-encode worker: a jobs window that shows
// the job as a row and starts it. Declared here, implemented above this
// library (the jobs window), handed to the dialog by whoever opens it.
class ExportJobHost
{
public:
    virtual ~ExportJobHost() = default;
    // Takes the worker over (not yet started); outputPath is the export file.
    virtual void host_reencode(ff_export* worker, const QString& outputPath) = 0;

    // The host dialogs use when none was given to them (none by default).
    static ExportJobHost* default_host();
    static void set_default_host(ExportJobHost* host);
};
