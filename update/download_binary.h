#pragma once

#include <QObject>
#include <QString>

class QNetworkAccessManager;
class QWidget;

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
    bool checkAndPrompt(bool interactive);
    // After checkAndPrompt() returned false: whether the desktop shell
    // accepted the installer. When it did not, start-up goes on all the same.
    bool installerLaunched() const { return m_installer_launched; }

private:
    QString m_current_version;
    QWidget* m_dialog_parent = nullptr;
    QNetworkAccessManager* m_network = nullptr;
    bool m_quit_after_launch = false;
    bool m_installer_launched = false;
};
