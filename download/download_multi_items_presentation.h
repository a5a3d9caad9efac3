#pragma once

#include "download/presentation_interface.h"

#include <QElapsedTimer>
#include <QList>
#include <QPointer>
#include <QString>
#include <QTimer>

#include <functional>

class ZQDownload_thread;

// One file of a multi-file download list: eight texts, carried between rows by the jobs window.
struct DownloadFileEntry
{
    QString first;   // carried unchanged
    QString size;    // size in KiB as decimal text
    QString url;     // the file's address on the server
    QString path;    // where the file is written: relative to the destination, or inside it
    QString fifth;   // carried unchanged
    QString sha256;  // set once the file is downloaded
    QString seventh; // carried unchanged
    QString eighth;  // carried unchanged

    bool operator==(const DownloadFileEntry&) const = default;
};

// A row of the jobs window that downloads a list of server files one after the other into a
// destination folder, each through its own download thread, with five automatic retries
// 1000 ms apart, a SHA-256 per downloaded file and a stop confirmation. Item type "multi".
class DownloadMultiItems_Presentation : public Presentation_Interface
{
    Q_OBJECT
public:
    DownloadMultiItems_Presentation(QList<DownloadFileEntry> to_download, QList<DownloadFileEntry> downloaded,
                                    QString destination);
    ~DownloadMultiItems_Presentation() override;

    // The stop confirmation ("Confirmer l'arrêt du téléchargement ?"): true for "Oui". Tests answer it.
    using ConfirmStop = std::function<bool(QWidget* parent)>;
    static void set_confirm_stop(ConfirmStop confirm);
    // Trust for https downloads (a CA file; default the system's), given to every download thread.
    static void set_ca_file(const QString& path);
    // Pause before an automatic retry (1000 ms).
    void set_retry_delay_ms(int ms) { m_retry_timer.setInterval(ms); }

    void init() override;
    void setFinished() override;
    void setStarted() override;
    bool isStopped() override { return m_stopped; }
    void start_downloading_item() override;
    bool downloadedSuccessfully() override;
    QString fileName() override { return m_name; }
    void updateInfoLabel() override;

    QList<DownloadFileEntry> files_to_download() const { return m_to_download; }
    QList<DownloadFileEntry> files_downloaded() const { return m_downloaded; }
    QList<DownloadFileEntry> files_failed() const { return m_failed; }
    QString destination() const { return m_destination; }
    int retry_count() const { return m_retry_count; }
    bool stopped_by_user() const { return m_stopped_by_user; }
    QString current_url() const { return m_current_url; }
    bool retryShown() const { return m_retry_shown; }

    // The URL with the query switch file_hash=1, unless it already asks for it or names an
    // installer or archive (".exe", ".dmg", ".zip").
    static QString with_query_switch(const QString& url);
    // Where an entry's file is written, or an empty text when its path would leave the destination.
    static QString local_path(const QString& destination, const QString& entry_path);

public slots:
    void downloadReadyRead() override {}
    void error(QNetworkReply::NetworkError) override {}
    void metaDataChanged() override {}
    void finished() override;
    void error(QString url, QString code);
    void stop_button();
    void downloadProgress(qint64 bytesReceived, qint64 bytesTotal) override;
    void item_finished(QString file_sha);
    void stop() override;

private slots:
    void tryAgain() override;
    void open() override;
    void openRep() override;

signals:
    void tryAgainFromError(QString itemType);

private:
    void start_current();
    void download(const QString& url);
    void release_thread();
    void set_retry(bool enabled, bool shown);
    void retry_now();

    QPointer<ZQDownload_thread> m_thread;
    qint64 m_received = 0;
    qint64 m_total = 0;
    qint64 m_done_bytes = 0;
    QElapsedTimer m_elapsed;
    QList<DownloadFileEntry> m_to_download;
    QList<DownloadFileEntry> m_failed;
    QList<DownloadFileEntry> m_downloaded;
    DownloadFileEntry m_current;
    QString m_current_url;
    QString m_output_path;
    QString m_name;
    QString m_destination;
    bool m_stopped = false;
    bool m_stopped_by_user = false;
    qint64 m_total_kib = -1;
    int m_retry_count = 0;
    bool m_retry_shown = false;
    QTimer m_retry_timer;
};
