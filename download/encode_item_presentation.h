#pragma once

#include "download/presentation_interface.h"

#include <QElapsedTimer>
#include <QFile>
#include <QPointer>

#include "export/ff_export.h"

// The row that follows one re-encoded export: starts the worker thread,
// shows the time span encoded so far, lets the operator stop it and, once the
// worker's thread has finished, offers the file and its folder.
//
// The worker is deleted after its thread's finished(), never before: a row
// deleted while its worker runs asks it to stop and leaves its deletion to
// that signal.
class EncodeItem_Presentation : public Presentation_Interface
{
    Q_OBJECT
public:
    // dialog: the export dialog (not the row's parent: rows have none).
    EncodeItem_Presentation(QWidget* dialog, QString outputPath);
    ~EncodeItem_Presentation() override;

    void set_exporter(ff_export* worker);
    ff_export* exporter() const { return m_worker; }

    void init() override;
    void setFinished() override;
    void setStarted() override;
    bool isStopped() override { return m_stopped; }
    QString fileName() override { return m_outputPath; }
    void start_downloading_item() override;
    void updateInfoLabel() override;

public slots:
    void finished() override;
    void downloadReadyRead() override;
    void error(QNetworkReply::NetworkError code) override;
    void downloadProgress(qint64 bytesReceived, qint64 bytesTotal) override;
    void metaDataChanged() override;
    void stop() override;
    void frame_downloaded_encoded(QString current_timestamp, QString end_timestamp);
    void error(int code);
    void destroy_exporter();

private slots:
    void tryAgain() override;

signals:
    void stop_button_pressed();
    void tryAgainFromError(QString itemType);

private:
    void release_worker();

    QString m_totalSizeText;
    qint64 m_bytesReceived = 0;
    QElapsedTimer m_timer;
    QFile m_output;
    QString m_outputPath;
    int m_span = -1;
    bool m_stopped = false;
    QPointer<ff_export> m_worker;
};
