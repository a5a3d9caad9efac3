#pragma once

#include "download/presentation_interface.h"

#include <QElapsedTimer>
#include <QFile>
#include <QUrl>

class Download_presentation;
class QNetworkAccessManager;

// The single-file row. Here it is the copy the jobs window makes of a
// finished or failed single row (every export row): finished from the start,
// its open buttons open the copied path. Without an access manager it never
// touches the network.
class DownloadItem_Presentation : public Presentation_Interface
{
    Q_OBJECT
public:
    DownloadItem_Presentation(Download_presentation* window, QString fileName);
    ~DownloadItem_Presentation() override;

    void init() override;
    void setFinished() override;
    void setStarted() override;
    bool isStopped() override { return m_finished; }
    QString fileName() override { return m_fileName; }
    void start_downloading_item() override;
    void updateInfoLabel() override;

public slots:
    void finished() override;
    void downloadReadyRead() override;
    void error(QNetworkReply::NetworkError code) override;
    void downloadProgress(qint64 bytesReceived, qint64 bytesTotal) override;
    void metaDataChanged() override;
    void stop() override;

private slots:
    void tryAgain() override;

protected:
    QUrl m_url;
    QNetworkReply* m_reply = nullptr;
    QNetworkAccessManager* m_manager = nullptr;
    QString m_urlText;
    bool m_askForFileName = false;
    qint64 m_bytesReceived = 0;
    QElapsedTimer m_timer;
    QString m_fileName;
    QString m_savePath;
    QFile m_output;
    QString m_totalSizeText;
};
