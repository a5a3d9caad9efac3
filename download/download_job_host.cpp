#include "download/download_job_host.h"

#include "download/download_presentation.h"
#include "download/encode_item_presentation.h"

void DownloadJobHost::host_reencode(ff_export* worker, const QString& outputPath)
{
    auto* row = new EncodeItem_Presentation(nullptr, outputPath);
    row->setItemType(QStringLiteral("zqplayer"));
    row->set_exporter(worker);
    auto* window = new Download_presentation;
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->setWindowTitle(QStringLiteral("Téléchargement"));
    window->resize(1080, 768);
    window->add_item(row);
    window->show();
    window->raise();
    window->activateWindow();
    m_last = window;
}

DownloadJobHost* DownloadJobHost::instance()
{
    static DownloadJobHost host;
    return &host;
}
