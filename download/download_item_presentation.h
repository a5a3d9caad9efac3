#pragma once

#include "download/presentation_interface.h"

#include <QElapsedTimer>
#include <QFile>
#include <QPointer>
#include <QSaveFile>
#include <QSslConfiguration>
#include <QUrl>

#include <memory>

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

    // The network face: a row given an access manager and an address downloads that file into
    // its file name (or, without one, a free name in the download folder). The file is written
    // under a temporary name beside it and takes its name only once whole; error bodies of the
    // server are shown, never written.
    void set_access_manager(QNetworkAccessManager* manager) { m_manager = manager; }
    void set_url_text(const QString& url) { m_urlText = url; }
    void set_total_size_text(const QString& kib) { m_totalSizeText = kib; }
    // Trust for https (tests hand their certificate authority); certificates are always verified.
    void set_ssl_configuration(const QSslConfiguration& config) { m_ssl = config; m_hasSsl = true; }
    // The default path in the download folder for the address's file name ("unnamed_download"
    // when it has none), with "-1", "-2", ... before the suffix while such a file exists.
    QString getFileName();

public slots:
    void finished() override;
    void downloadReadyRead() override;
    void error(QNetworkReply::NetworkError code) override;
    void downloadProgress(qint64 bytesReceived, qint64 bytesTotal) override;
    void metaDataChanged() override;
    void stop() override;

private slots:
    void tryAgain() override;
    void replyFinished();

private:
    void issue_request();
    void fail_with(const QString& text);
    void release_reply();

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
    QSslConfiguration m_ssl;
    bool m_hasSsl = false;
    std::unique_ptr<QSaveFile> m_save; // the file being written, committed once whole
    QByteArray m_errorBody;            // an error page, capped, shown as plain text
    bool m_errorReply = false;
    bool m_userStop = false;
    qint64 m_written = 0;              // body bytes written into m_save
};
