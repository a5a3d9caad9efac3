#pragma once

#include "download/download_presentation.h"
#include "export/export_job_host.h"

#include <QPointer>

// Shows each re-encoded export in a jobs window of its own ("Téléchargement")
// holding one export row, which starts the worker.
class DownloadJobHost : public ExportJobHost
{
public:
    void host_reencode(ff_export* worker, const QString& outputPath) override;
    // The window of the last export handed over (null once it is gone).
    Download_presentation* last_window() const { return m_last; }

    static DownloadJobHost* instance();

private:
    QPointer<Download_presentation> m_last;
};
