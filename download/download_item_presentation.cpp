#include "download/download_item_presentation.h"

#include "app/zq_log.h"
#include "download/squeeze_label.h"

#include <QFileInfo>
#include <QProgressBar>
#include <QPushButton>

DownloadItem_Presentation::DownloadItem_Presentation(Download_presentation* window, QString fileName)
    : Presentation_Interface(nullptr)
    , m_fileName(std::move(fileName))
    , m_output(m_fileName)
{
    Q_UNUSED(window);
    setUpRow(m_fileName);
    m_finished = true;
    m_started = false;
    m_error = false;
}

DownloadItem_Presentation::~DownloadItem_Presentation() = default;

void DownloadItem_Presentation::init()
{
    ZQLog::log("[INFO] DownloadItem_Presentation::Init");
    if (!m_reply)
        return;
}

void DownloadItem_Presentation::setFinished()
{
    m_finished = true;
    m_started = false;
}

void DownloadItem_Presentation::setStarted()
{
    m_started = true;
    m_finished = false;
}

void DownloadItem_Presentation::start_downloading_item()
{
    ZQLog::log(QStringLiteral("[INFO] DownloadItem_Presentation :: start downloading item :: from url :: ") + m_urlText);
    setStarted();
    setStopButton(true);
    setOpenButtons(false);
    setProgressShown(true);
    m_url = QUrl::fromUserInput(m_urlText);
}

void DownloadItem_Presentation::finished()
{
    setProgressShown(false);
    setStopButton(false);
    setOpenButtons(true);
    if (m_output.isOpen())
        m_output.close();
    setFinished();
    ZQLog::log(QStringLiteral("[INFO] DownloadItem_Presentation::finished :: downloadInfoLabel :: ")
               + downloadInfoLabel->text());
    emit statusChanged();
}

void DownloadItem_Presentation::stop()
{
    ZQLog::log("[INFO] DownloadItem_Presentation::stop");
    setUpdatesEnabled(false);
    setStopButton(false);
    setOpenButtons(true);
    setTryAgain(true);
    setUpdatesEnabled(true);
    if (m_reply)
        m_reply->abort();
}

void DownloadItem_Presentation::tryAgain()
{
    ZQLog::log(QStringLiteral("[INFO] DownloadItem_Presentation::tryAgain + ") + m_url.toString());
}

void DownloadItem_Presentation::error(QNetworkReply::NetworkError)
{
    ZQLog::log("[ERROR] DownloadItem_Presentation::error");
    setTryAgain(true);
    stop();
    m_error = true;
}

void DownloadItem_Presentation::downloadReadyRead()
{
}

void DownloadItem_Presentation::downloadProgress(qint64 bytesReceived, qint64 bytesTotal)
{
    m_bytesReceived = bytesReceived;
    if (bytesTotal != -1) {
        progressBar->setValue(int(bytesReceived));
        progressBar->setMaximum(m_totalSizeText.isEmpty() ? int(bytesTotal) : int(m_totalSizeText.toLongLong() * 1024));
    } else {
        progressBar->setValue(0);
        progressBar->setMaximum(0);
    }
    updateInfoLabel();
}

void DownloadItem_Presentation::metaDataChanged()
{
}

void DownloadItem_Presentation::updateInfoLabel()
{
    const qint64 total = m_totalSizeText.isEmpty() ? progressBar->maximum() : m_totalSizeText.toLongLong() * 1024;
    downloadInfoLabel->setText(byteProgressLine(m_bytesReceived, total, m_timer.isValid() ? m_timer.elapsed() : 0,
                                                QFileInfo(m_fileName).size()));
}
