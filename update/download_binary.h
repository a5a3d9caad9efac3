#pragma once

#include "update/package_transfer.h"
#include "update/release_selection.h"

#include <QDeadlineTimer>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QSslConfiguration>
#include <QSslError>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <QVersionNumber>

#include <functional>
#include <memory>
#include <optional>

class QNetworkAccessManager;
class QNetworkReply;
class QSaveFile;
class QTimer;
class QWidget;

namespace zq {
class Sha256;
}

// The dialogs of the updater, behind an interface so that tests can answer them.
class DownloadBinaryUi
{
public:
    virtual ~DownloadBinaryUi() = default;
    // A Yes/No question; true for Yes.
    virtual bool askUpdate(const QString& title, const QString& text, const QString& informative,
                           const QString& details) = 0;
    // The chosen path, empty when cancelled.
    virtual QString askSaveFile(const QString& caption, const QString& proposedPath, const QString& filter) = 0;
    virtual void showProgress(const QString& title, const QString& label, std::function<void()> onCancel) = 0;
    // maximum 0 shows a busy indicator.
    virtual void setProgress(int maximum, int value) = 0;
    virtual QString progressLabel() const = 0;
    virtual void setProgressLabel(const QString& label) = 0;
    virtual void closeProgress() = 0;
};

// Message boxes, the save dialog and a progress dialog.
class DesktopDownloadBinaryUi : public DownloadBinaryUi
{
public:
    explicit DesktopDownloadBinaryUi(QWidget* parent);
    ~DesktopDownloadBinaryUi() override;
    bool askUpdate(const QString& title, const QString& text, const QString& informative,
                   const QString& details) override;
    QString askSaveFile(const QString& caption, const QString& proposedPath, const QString& filter) override;
    void showProgress(const QString& title, const QString& label, std::function<void()> onCancel) override;
    void setProgress(int maximum, int value) override;
    QString progressLabel() const override;
    void setProgressLabel(const QString& label) override;
    void closeProgress() override;

private:
    QWidget* m_parent = nullptr;
    struct Dialog;
    std::unique_ptr<Dialog> m_dialog;
};

// Kept from the release tooling: a list of strings, nothing creates it.
class HtmlParser : public QObject
{
    Q_OBJECT
public:
    QStringList list;
};

// The start-up updater: asks the release server for a newer version, offers
// it, downloads and verifies it and hands the installer to the desktop shell.
class DownloadBinary : public QObject
{
    Q_OBJECT
public:
    DownloadBinary(QString currentVersion, QWidget* dialogParent, QObject* parent);
    ~DownloadBinary() override;

    void setQuitAfterLaunch(bool quit);
    // Runs the whole check; returns whether start-up goes on.
    bool checkAndPrompt(bool prompt);
    // After checkAndPrompt() returned false: whether the desktop shell
    // accepted the installer. When it did not, start-up goes on all the same.
    bool installerLaunched() const { return m_installer_launched; }

    // Starts the package download; the outcome comes as exactly one of
    // downloadFinished, downloadFailed or verificationFailed.
    void startDownload(const QUrl& url, const QString& suggestedName, const QString& sha256, bool quitAfterLaunch,
                       bool interactive, qint64 announcedSize = 0);

    // Seams, for tests and for other platforms.
    void setPlatformKey(const QString& key) { m_platform_key = key; }
    void setSslConfiguration(const QSslConfiguration& configuration) { m_ssl = configuration; }
    // One budget for the listing, the indexes and the changelog together.
    void setTimeBudget(int milliseconds) { m_budget_ms = milliseconds; }
    void setOpener(std::function<bool(const QString&)> opener) { m_opener = std::move(opener); }
    void set_ui(DownloadBinaryUi* ui) { m_ui = ui; }
    void setClock(std::function<qint64()> clock) { m_clock = std::move(clock); }
    void setDownloadFolder(const QString& folder) { m_download_folder = folder; }

    static QString formatSize(qint64 bytes) { return zq::update::formatSize(bytes); }
    static QString formatDuration(qint64 seconds) { return zq::update::formatDuration(seconds); }
    static QString devStampText(qint64 stamp) { return zq::update::devStampText(stamp); }

    // The texts shown around the question (exposed for the tests).
    QString promptText() const;

    // The blocking fetch used for the changelog: the whole body, or empty and
    // the error text. Bounded by the check's budget and the metadata cap.
    QByteArray makeRequest(QNetworkAccessManager* manager, const QUrl& url, QString* error = nullptr);

    void showProgressDialog(const QString& title, const QString& fileName);
    void updateProgressLabel(qint64 received, qint64 total);
    void closeProgressDialog();

signals:
    void updateCheckStarted(QUrl url);
    void updateAvailable(QVersionNumber current, QVersionNumber remote, QString notes, QUrl packageUrl, QString sha256);
    void noUpdateAvailable(QVersionNumber current);
    void updateCheckFailed(QString error);
    void downloadStarted(QUrl url, QString targetPath);
    void downloadProgress(qlonglong received, qlonglong total);
    void downloadFinished(QString path);
    void downloadFailed(QString error);
    void verificationFailed(QString expected, QString actual);
    void installerLaunched(QString path);
    void installerLaunchFailed(QString error);

private slots:
    void onTrackListFinished(QNetworkReply* reply);
    void onMetaJsonFinished(QNetworkReply* reply);
    void onDownloadFinished(PackageTransfer::Outcome outcome, const QString& error);
    void handleSslErrors(const QList<QSslError>& errors);

private:
    void requestTrackList();
    void requestMetaJson(const QString& channel);
    bool testingFallBack();
    void abortCurrent();
    // Builds and sends a GET under the request rules; null (with the reason
    // in *refused) when the address is not allowed.
    QNetworkReply* get(const QUrl& url, int timeoutMs, bool metadata, QString* refused);
    void handleOnce(QNetworkReply* reply, void (DownloadBinary::*handler)(QNetworkReply*));
    void releaseReply(QNetworkReply* reply);
    int metadataTimeout() const;
    QString channelIndexPath(const QString& channel) const;
    bool downloadPhase();

    QString m_current_version;
    VersionStamp m_current;
    QWidget* m_dialog_parent = nullptr;
    QNetworkAccessManager* m_network = nullptr;
    QPointer<QNetworkReply> m_reply;
    std::unique_ptr<QSaveFile> m_save_file;
    QUrl m_track_list_url;
    QUrl m_index_url;
    QUrl m_package_url;
    QString m_expected_sha256;
    QString m_target_path;
    std::optional<ReleaseAsset> m_chosen_asset;
    QVersionNumber m_remote_version;
    QString m_channel;
    QUrl m_changelog_url;
    QString m_version_folder;
    bool m_testing_allowed = false;
    bool m_fallback_done = false;
    qint64 m_last_received = 0;
    qint64 m_last_label_update = 0;
    bool m_quit_after_launch = true;
    bool m_installer_launched = false;

    // Download bookkeeping.
    std::unique_ptr<PackageTransfer> m_transfer;
    qint64 m_announced_size = 0;
    bool m_progress_shown = false;

    // Seams.
    QString m_platform_key;
    std::optional<QSslConfiguration> m_ssl;
    int m_budget_ms = 15000;
    QDeadlineTimer m_budget{QDeadlineTimer::Forever};
    std::function<bool(const QString&)> m_opener;
    std::unique_ptr<DesktopDownloadBinaryUi> m_desktop_ui;
    DownloadBinaryUi* m_ui = nullptr;
    std::function<qint64()> m_clock;
    QString m_download_folder;
};
