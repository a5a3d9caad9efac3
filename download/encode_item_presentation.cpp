#include "download/encode_item_presentation.h"

#include "app/zq_log.h"
#include "download/squeeze_label.h"
#include "export/export_format.h"
#include "export/ff_export.h"
#include "recordings/time_text.h"

#include <QFileInfo>
#include <QProgressBar>
#include <QPushButton>
#include <QTime>

namespace {
void info(const QString& text)
{
    ZQLog::log(QStringLiteral("[INFO] Encode Item Presentation :: ") + text);
}
}

EncodeItem_Presentation::EncodeItem_Presentation(QWidget* dialog, QString outputPath)
    : Presentation_Interface(nullptr)
    , m_output(outputPath)
    , m_outputPath(std::move(outputPath))
{
    Q_UNUSED(dialog);
    info(QStringLiteral("construct"));
    clearFlags();
    setUpRow(m_outputPath);
}

EncodeItem_Presentation::~EncodeItem_Presentation()
{
    release_worker();
}

void EncodeItem_Presentation::release_worker()
{
    ff_export* worker = m_worker;
    m_worker = nullptr;
    if (!worker)
        return;
    disconnect(worker, nullptr, this, nullptr);
    worker->set_stop();
    if (worker->isRunning()) {
        // Deleted once its run has ended; its destructor would otherwise wait on the GUI thread.
        connect(worker, &QThread::finished, worker, &QObject::deleteLater);
        if (worker->isFinished())
            worker->deleteLater();
    } else {
        worker->deleteLater();
    }
}

void EncodeItem_Presentation::set_exporter(ff_export* worker)
{
    m_worker = worker;
}

void EncodeItem_Presentation::init()
{
    info(QStringLiteral("init"));
}

void EncodeItem_Presentation::setFinished()
{
    info(QStringLiteral("setFinished"));
    m_finished = true;
    m_started = false;
    m_error = false;
}

void EncodeItem_Presentation::setStarted()
{
    info(QStringLiteral("setStarted"));
    m_started = true;
    m_finished = false;
}

void EncodeItem_Presentation::start_downloading_item()
{
    info(QStringLiteral("start_downloading_item"));
    setStarted();
    setStopButton(true);
    setOpenButtons(false);
    setProgressShown(true);
    if (!m_worker) {
        ZQLog::log("[ERROR] Encode Item Presentation :: download_encode object not allocated");
        return;
    }
    ff_export* w = m_worker;
    connect(w, &QThread::finished, this, &EncodeItem_Presentation::finished, Qt::UniqueConnection);
    connect(w, &ff_export::error, this, qOverload<int>(&EncodeItem_Presentation::error), Qt::UniqueConnection);
    connect(w, &ff_export::frame_downloaded_encoded, this, &EncodeItem_Presentation::frame_downloaded_encoded,
            Qt::UniqueConnection);
    connect(this, &EncodeItem_Presentation::stop_button_pressed, w, &ff_export::set_stop, Qt::UniqueConnection);
    info(QStringLiteral("download encode object is finished ") + QString::number(int(w->isFinished())));
    info(QStringLiteral("download encode object is running  ") + QString::number(int(w->isRunning())));
    info(QStringLiteral("start download encode object"));
    w->start(QThread::InheritPriority);
}

void EncodeItem_Presentation::frame_downloaded_encoded(QString current_timestamp, QString end_timestamp)
{
    QDate date;
    qint64 ms = 0;
    if (!TimeText::parse_yyyymmddhhmmsszzz(current_timestamp, &date, &ms))
        return;
    const qint64 endMs = TimeText::hhmmss_to_ms(end_timestamp);
    if (endMs < 0)
        return;
    const qint64 toEnd = (endMs - ms) / 1000;
    if (m_span < 0) {
        m_span = int(qMax<qint64>(toEnd, 1));
        progressBar->setMaximum(m_span);
    }
    progressBar->setValue(int(qBound(qint64(0), qint64(m_span) - toEnd, qint64(m_span))));
    downloadInfoLabel->setText(QStringLiteral("Encodage en cours [ ")
                               + QTime::fromMSecsSinceStartOfDay(int(ms)).toString(QStringLiteral("HH:mm:ss.zzz"))
                               + QStringLiteral(" > ")
                               + QTime::fromMSecsSinceStartOfDay(int(endMs)).toString(QStringLiteral("HH:mm:ss.zzz"))
                               + QStringLiteral(" ]"));
}

void EncodeItem_Presentation::error(int code)
{
    downloadInfoLabel->setText(tr("%1").arg(export_error::error_text(code)));
    setTryAgain(true);
    stop();
    m_error = true;
    emit statusChanged();
}

void EncodeItem_Presentation::destroy_exporter()
{
    if (m_worker) {
        info(QStringLiteral("destroy exporter"));
        release_worker();
    }
}

void EncodeItem_Presentation::finished()
{
    setProgressShown(false);
    setStopButton(false);
    setOpenButtons(true);
    if (m_output.isOpen())
        m_output.close();
    // Read before the worker goes: how its run ended decides the row's last line.
    const bool stopped = m_worker && m_worker->stopped();
    const QString missing = m_worker ? m_worker->missing_text() : QString();
    // The thread has ended: its worker can go now.
    destroy_exporter();
    if (m_error) {
        // The error already moved this row; its end changes nothing.
        return;
    }
    // The row no longer encodes: its copy in the finished list must not say
    // so, nor look complete when part of the range had no pictures.
    if (stopped) {
        downloadInfoLabel->setText(export_error::error_text(-34)
                                   + (missing.isEmpty() ? QString() : QStringLiteral(" ") + missing));
    } else if (!missing.isEmpty()) {
        downloadInfoLabel->setText(missing);
    } else {
        const QFileInfo file(m_outputPath);
        downloadInfoLabel->setText(file.isFile() ? formatSize(file.size()) : QString());
    }
    setFinished();
    info(QStringLiteral("finished"));
    info(QStringLiteral("finished :: downloadInfoLabel :: ") + downloadInfoLabel->text());
    emit statusChanged();
}

void EncodeItem_Presentation::stop()
{
    info(QStringLiteral("stop"));
    emit stop_button_pressed();
}

void EncodeItem_Presentation::tryAgain()
{
    if (m_error) {
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

void EncodeItem_Presentation::downloadProgress(qint64 bytesReceived, qint64 bytesTotal)
{
    m_bytesReceived = bytesReceived;
    showByteProgress(bytesReceived, bytesTotal, m_totalSizeText);
    updateInfoLabel();
}

void EncodeItem_Presentation::updateInfoLabel()
{
    const qint64 total = m_totalSizeText.isEmpty() ? progressBar->maximum() : m_totalSizeText.toLongLong() * 1024;
    downloadInfoLabel->setText(byteProgressLine(m_bytesReceived, total, m_timer.isValid() ? m_timer.elapsed() : 0,
                                                QFileInfo(m_outputPath).size()));
}

void EncodeItem_Presentation::downloadReadyRead()
{
    info(QStringLiteral("downloadReadyRead"));
}

void EncodeItem_Presentation::error(QNetworkReply::NetworkError)
{
    info(QStringLiteral("network error"));
}

void EncodeItem_Presentation::metaDataChanged()
{
    info(QStringLiteral("metaDataChanged"));
}
