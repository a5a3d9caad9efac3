#pragma once

#include <QNetworkReply>
#include <QString>
#include <QWidget>

class QHBoxLayout;
class QLabel;
class QProgressBar;
class QPushButton;
class QVBoxLayout;
class SqueezeLabel;

// The form of every row of the jobs window.
class Ui_DownloadItem_Presentation
{
public:
    QHBoxLayout* horizontalLayout = nullptr;
    QLabel* fileIcon = nullptr;
    QWidget* widget = nullptr;
    QVBoxLayout* verticalLayout_2 = nullptr;
    SqueezeLabel* fileNameLabel = nullptr;
    QProgressBar* progressBar = nullptr;
    SqueezeLabel* downloadInfoLabel = nullptr;
    QWidget* widget1 = nullptr;
    QVBoxLayout* verticalLayout = nullptr;
    QPushButton* tryAgainButton = nullptr;
    QPushButton* stopButton = nullptr;
    QPushButton* openButton = nullptr;
    QPushButton* openRepButton = nullptr;

    void setupUi(QWidget* row);
    void retranslateUi(QWidget* row);
};

// The abstract row of the jobs window: one export or download job with its
// form, three status flags, an item type and the operations through which the
// window counts, starts, copies and stops rows without knowing their kind.
//
// The flags and the button states are kept here as state: nothing reads them
// back from the widgets' visibility, which is false for every widget of a row
// that is not shown yet.
class Presentation_Interface : public QWidget, public Ui_DownloadItem_Presentation
{
    Q_OBJECT
public:
    explicit Presentation_Interface(QWidget* parent = nullptr);
    ~Presentation_Interface() override;

    virtual void init() = 0;
    virtual bool isFinished() { return m_finished; }
    virtual void setFinished() = 0;
    virtual bool hasError() { return m_error; }
    virtual bool isStarted() { return m_started; }
    virtual void setStarted() = 0;
    virtual bool isStopped() = 0;
    virtual void start_downloading_item() = 0;
    // Finished, and no retry offered.
    virtual bool downloadedSuccessfully() { return m_finished && !m_tryAgainShown; }
    virtual QString fileName() = 0;
    virtual void setItemType(QString type) { m_itemType = type; }
    virtual QString itemType() { return m_itemType; }
    virtual void updateInfoLabel() = 0;
    // Below 1024 "n bytes", below 1 MiB "n kB", else "n MB" (divisions truncate).
    virtual QString formatSize(qint64 bytes);

    // The button states the window and the models rely on.
    bool tryAgainOffered() const { return m_tryAgainShown && m_tryAgainEnabled; }
    bool stopEnabled() const { return m_stopEnabled; }
    bool openOffered() const { return m_openShown; }
    bool progressShown() const { return m_progressShown; }
    void setErrorFlag(bool error) { m_error = error; }
    void clearFlags() { m_finished = m_started = m_error = false; }

    // The byte-progress line shared by every kind: "<received> of <total>
    // (<speed>/sec) - n <unit> restantes" while running, the output size once
    // done, "<received> of <total> - Arrété" when stopped short.
    QString byteProgressLine(qint64 received, qint64 total, qint64 elapsedMs, qint64 outputSize);
    // The bar of a byte count: received of the total, or of totalSizeKib KiB when that text is
    // set; an unknown total (-1) gives the busy bar.
    void showByteProgress(qint64 received, qint64 total, const QString& totalSizeKib);

public slots:
    virtual void finished() = 0;
    virtual void downloadReadyRead() = 0;
    virtual void error(QNetworkReply::NetworkError code) = 0;
    virtual void downloadProgress(qint64 bytesReceived, qint64 bytesTotal) = 0;
    virtual void metaDataChanged() = 0;
    virtual void stop() = 0;

private slots:
    virtual void tryAgain() = 0;
    virtual void open();
    virtual void openRep();

signals:
    void statusChanged();

public:
    // Shows and enables (or hides and disables) the open buttons, keeping their state.
    void setOpenButtons(bool offered);

protected:
    // Shows and enables (or hides and disables) the buttons, keeping their state.
    void setTryAgain(bool offered);
    void setStopButton(bool enabled);
    void setProgressShown(bool shown);
    // The common look: file icon, white labels, styled progress bar.
    void applyCommonLook();
    // The constructed state: stop disabled and hidden, open buttons shown,
    // retry and progress hidden; buttons wired to the row's slots.
    void setUpRow(const QString& name);
    // The path the open buttons work on.
    virtual QString openPath() { return fileName(); }

    bool m_finished = false;
    bool m_started = false;
    bool m_error = false;
    QString m_itemType;

private:
    bool m_tryAgainShown = false;
    bool m_tryAgainEnabled = false;
    bool m_stopEnabled = false;
    bool m_openShown = true;
    bool m_progressShown = false;
};
