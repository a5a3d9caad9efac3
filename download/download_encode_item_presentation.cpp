#include "download/download_encode_item_presentation.h"

#include "app/zq_log.h"
#include "download/squeeze_label.h"
#include "download/zq_download_encode_data.h"
#include "export/export_format.h"
#include "recordings/time_text.h"

#include <QFileInfo>
#include <QProgressBar>
#include <QPushButton>

#include <algorithm>
#include <climits>

namespace {

void info(const QString& text)
{
    ZQLog::log(QStringLiteral("[INFO] Download Encode Item Presentation :: ") + text);
}

// Milliseconds of the Julian day count of a time in either form the job sends; -1 when neither.
qint64 time_value(const QString& text)
{
    QDate d;
    qint64 ms = -1;
    if (TimeText::parse_display_time(text, &d, &ms) || TimeText::parse_yyyymmddhhmmsszzz(text, &d, &ms))
        return d.toJulianDay() * 86400000LL + ms;
    return -1;
}

} // namespace

DownloadEncodeItem_Presentation::DownloadEncodeItem_Presentation(Download_presentation* window, QString fileName)
    : Presentation_Interface(nullptr), m_fileName(std::move(fileName))
{
    Q_UNUSED(window);
    info(QStringLiteral("construct"));
    setItemType(QStringLiteral("encode"));
    clearFlags();
    setUpRow(m_fileName);
    // Stop here is a user stop that can be retried, not the base's stop.
    disconnect(stopButton, &QPushButton::clicked, this, nullptr);
    connect(stopButton, &QPushButton::clicked, this, &DownloadEncodeItem_Presentation::stop_button);
}

DownloadEncodeItem_Presentation::~DownloadEncodeItem_Presentation()
{
    if (ZQDownload_encode_data* job = take_worker()) {
        job->set_stop();
        if (job->isRunning())
            connect(job, &QThread::finished, job, &QObject::deleteLater);
        else
            job->deleteLater();
    }
}

void DownloadEncodeItem_Presentation::set_worker(ZQDownload_encode_data* worker)
{
    m_worker = worker;
}

ZQDownload_encode_data* DownloadEncodeItem_Presentation::take_worker()
{
    ZQDownload_encode_data* job = m_worker;
    m_worker = nullptr;
    if (job)
        disconnect(job, nullptr, this, nullptr);
    disconnect(this, &DownloadEncodeItem_Presentation::stop_button_pressed, nullptr, nullptr);
    return job;
}

void DownloadEncodeItem_Presentation::setError(bool error)
{
    m_error = error;
    setOpenButtons(false);
    setTryAgain(true);
}

void DownloadEncodeItem_Presentation::init()
{
    info(QStringLiteral("init"));
}

void DownloadEncodeItem_Presentation::setFinished()
{
    info(QStringLiteral("setFinished"));
    m_finished = true;
    m_started = false;
}

void DownloadEncodeItem_Presentation::setStarted()
{
    info(QStringLiteral("setStarted"));
    m_started = true;
    m_finished = false;
}

void DownloadEncodeItem_Presentation::start_downloading_item()
{
    info(QStringLiteral("start_downloading_item"));
    setStarted();
    setStopButton(true);
    setOpenButtons(false);
    setProgressShown(true);
    m_timer.start();
    if (!m_worker) {
        ZQLog::log("[ERROR] Download Encode Item Presentation :: download_encode object not allocated");
        return;
    }
    ZQDownload_encode_data* job = m_worker;
    connect(job, &ZQDownload_encode_data::start_download, this, &DownloadEncodeItem_Presentation::start_downloading_item);
    connect(job, &ZQDownload_encode_data::job_finished, this, &DownloadEncodeItem_Presentation::finished);
    connect(job, &ZQDownload_encode_data::error, this, qOverload<int>(&DownloadEncodeItem_Presentation::error));
    connect(job, &ZQDownload_encode_data::frame_downloaded_encoded, this,
            &DownloadEncodeItem_Presentation::frame_downloaded_encoded);
    connect(job, &ZQDownload_encode_data::generic_message, this, &DownloadEncodeItem_Presentation::generic_message);
    connect(this, &DownloadEncodeItem_Presentation::stop_button_pressed, job,
            &ZQDownload_encode_data::set_stop_from_user, Qt::UniqueConnection);
    info(QStringLiteral("download encode object is finished ") + QString::number(job->isFinished() ? 1 : 0));
    info(QStringLiteral("download encode object is running  ") + QString::number(job->isRunning() ? 1 : 0));
    info(QStringLiteral("start download encode object"));
    start_worker();
}

void DownloadEncodeItem_Presentation::start_worker()
{
    ZQDownload_encode_data* job = m_worker;
    if (!job)
        return;
    if (job->isRunning()) {
        // A job is started again only once its last run has ended.
        connect(job, &QThread::finished, this, &DownloadEncodeItem_Presentation::start_worker,
                Qt::SingleShotConnection);
        return;
    }
    job->start(QThread::InheritPriority);
}

void DownloadEncodeItem_Presentation::frame_downloaded_encoded(QString current_timestamp, QString end_timestamp)
{
    const qint64 now = time_value(current_timestamp);
    const qint64 end = time_value(end_timestamp);
    downloadInfoLabel->setText(QStringLiteral("Téléchargement / encodage en cours [ ") + current_timestamp
                               + QStringLiteral(" > ") + end_timestamp + QStringLiteral(" ]"));
    if (now < 0 || end < 0)
        return; // an unreadable time moves nothing
    const int left = int(std::clamp<qint64>((end - now) / 1000, 0, INT_MAX));
    if (m_span < 0) {
        m_span = left;
        progressBar->setMaximum(qMax(1, m_span));
    }
    progressBar->setValue(qBound(0, m_span - left, qMax(1, m_span)));
}

void DownloadEncodeItem_Presentation::generic_message(QString message)
{
    downloadInfoLabel->setText(message);
}

void DownloadEncodeItem_Presentation::error(int code)
{
    info(QStringLiteral("error"));
    downloadInfoLabel->setText(tr("%1").arg(export_error::error_text(code)));
    setTryAgain(true);
    stop();
    setStopButton(false);
    setProgressShown(false);
    m_error = true;
    emit statusChanged();
}

void DownloadEncodeItem_Presentation::stop_button()
{
    info(QStringLiteral("stop button"));
    // A user stop: the row fails with the stop text and can be started again.
    error(-34);
}

void DownloadEncodeItem_Presentation::stop()
{
    info(QStringLiteral("stop"));
    emit stop_button_pressed(); // the job's user stop, when it runs
}

void DownloadEncodeItem_Presentation::finished()
{
    setProgressShown(false);
    setStopButton(false);
    setOpenButtons(true);
    if (m_error)
        return; // the row already failed: the copy is made
    setFinished();
    info(QStringLiteral("finished"));
    info(QStringLiteral("finished :: downloadInfoLabel :: ") + downloadInfoLabel->text());
    emit statusChanged();
}

void DownloadEncodeItem_Presentation::tryAgain()
{
    info(QStringLiteral("tryAgain ") + QString::number(m_error ? 1 : 0));
    if (m_error) {
        info(QStringLiteral("tryAgain :: tryAgainFromError"));
        emit tryAgainFromError(m_itemType);
        return;
    }
    m_stopped = false;
    m_started = true;
    m_finished = false;
    m_error = false;
    if (tryAgainOffered()) {
        setTryAgain(false);
        setStopButton(true);
        openRepButton->setEnabled(false);
        openRepButton->setVisible(false);
        setProgressShown(true);
        emit statusChanged();
    }
}

void DownloadEncodeItem_Presentation::downloadProgress(qint64 bytesReceived, qint64 bytesTotal)
{
    info(QStringLiteral("downloadProgress"));
    m_bytesReceived = bytesReceived;
    showByteProgress(bytesReceived, bytesTotal, m_totalSizeText);
    updateInfoLabel();
}

void DownloadEncodeItem_Presentation::updateInfoLabel()
{
    info(QStringLiteral("updateInfoLabel"));
    const qint64 total = m_totalSizeText.isEmpty() ? progressBar->maximum() : m_totalSizeText.toLongLong() * 1024;
    downloadInfoLabel->setText(byteProgressLine(m_bytesReceived, total, m_timer.isValid() ? m_timer.elapsed() : 0,
                                                QFileInfo(m_fileName).size()));
}

void DownloadEncodeItem_Presentation::downloadReadyRead()
{
    info(QStringLiteral("downloadReadyRead"));
}

void DownloadEncodeItem_Presentation::error(QNetworkReply::NetworkError)
{
    info(QStringLiteral("network error"));
}

void DownloadEncodeItem_Presentation::metaDataChanged()
{
    info(QStringLiteral("metaDataChanged"));
}
