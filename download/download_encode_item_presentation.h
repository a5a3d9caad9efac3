#pragma once

#include "download/presentation_interface.h"

#include <QElapsedTimer>
#include <QPointer>

class Download_presentation;
class ZQDownload_encode_data;

// The row that drives one stream download-and-encode job: starts its thread, shows the time span
// fetched and encoded, turns Stop into a user stop that can be retried ("Relancer"), and offers
// the result. Item type "encode". The job is handed from a failed row to its copy; the row holding
// it last, when it goes, stops it and has it deleted once its thread has finished.
class DownloadEncodeItem_Presentation : public Presentation_Interface
{
    Q_OBJECT
public:
    DownloadEncodeItem_Presentation(Download_presentation* window, QString fileName);
    ~DownloadEncodeItem_Presentation() override;

    void set_worker(ZQDownload_encode_data* worker);
    ZQDownload_encode_data* worker() const { return m_worker; }
    // Hands the job over (to a copy): this row no longer stops or deletes it.
    ZQDownload_encode_data* take_worker();
    void setError(bool error);

    void init() override;
    void setFinished() override;
    void setStarted() override;
    bool isStopped() override { return m_stopped; }
    QString fileName() override { return m_fileName; }
    void start_downloading_item() override;
    void updateInfoLabel() override;
    int fetched_span() const { return m_span; }

public slots:
    void finished() override;
    void downloadReadyRead() override;
    void error(QNetworkReply::NetworkError code) override;
    void downloadProgress(qint64 bytesReceived, qint64 bytesTotal) override;
    void metaDataChanged() override;
    void stop() override;
    void frame_downloaded_encoded(QString current_timestamp, QString end_timestamp);
    void generic_message(QString message);
    void error(int code);
    void stop_button();

private slots:
    void tryAgain() override;

signals:
    void stop_button_pressed();
    void tryAgainFromError(QString itemType);

private:
    void start_worker();

    QPointer<ZQDownload_encode_data> m_worker;
    QString m_fileName;
    QString m_totalSizeText;
    qint64 m_bytesReceived = 0;
    QElapsedTimer m_timer;
    int m_span = -1;
    bool m_stopped = false;
};
