#include "download/presentation_interface.h"

#include "app/zq_log.h"
#include "download/squeeze_label.h"
#include "platform/desktop_shell.h"

#include <QApplication>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSpacerItem>
#include <QStyle>
#include <QVBoxLayout>
#include <cmath>

namespace {
const char* const kRowStyle =
    "QWidget { background: #333333; }"
    "QWidget#DownloadItem_Presentation { background: #333333; color: #fff; font-size: 14px; font-family: \"Public Sans\"; border: 0px; }"
    "SqueezeLabel { color: white; }"
    "QProgressBar { border: 1px solid grey; border-radius: 5px; text-align: center; color: white; font: 14px;"
    " background-color: rgba(255,255,255,0.2); padding-top: 3px; padding-bottom: 3px; }"
    "QProgressBar::chunk { background-color: #282828; width: 20px; }"
    "QPushButton { font-weight: 400; text-align: center; white-space: nowrap; border: 1px solid #656565;"
    " font-size: 14px; padding: 2px 5px; border-radius: 3px; color: #fff; background: #656565;"
    " margin-left: 9px; margin-right: 9px; margin-bottom: 9px; height: 22px; }"
    "QPushButton:hover { background: #787878; border-color: #787878; }";

const char* const kProgressStyle =
    "QProgressBar {    border: 1px solid grey; border-radius: 5px; text-align: center;color:white; font: 14px;"
    "background-color: rgba(255,255,255,0.2);padding-top:3px;padding-bottom:3px;}";
}

void Ui_DownloadItem_Presentation::setupUi(QWidget* row)
{
    if (row->objectName().isEmpty())
        row->setObjectName(QStringLiteral("DownloadItem_Presentation"));
    row->resize(423, 192);
    row->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    row->setMinimumSize(0, 0);
    row->setStyleSheet(QString::fromLatin1(kRowStyle));
    horizontalLayout = new QHBoxLayout(row);
    horizontalLayout->setObjectName(QStringLiteral("horizontalLayout"));
    horizontalLayout->setSpacing(0);
    horizontalLayout->setContentsMargins(0, 0, 0, 0);
    fileIcon = new QLabel(row);
    fileIcon->setObjectName(QStringLiteral("fileIcon"));
    fileIcon->setSizePolicy(QSizePolicy::Minimum, QSizePolicy::Minimum);
    horizontalLayout->addWidget(fileIcon);
    widget = new QWidget(row);
    widget->setObjectName(QStringLiteral("widget"));
    widget->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Expanding);
    verticalLayout_2 = new QVBoxLayout(widget);
    verticalLayout_2->setSpacing(6);
    verticalLayout_2->setSizeConstraint(QLayout::SetMaximumSize);
    fileNameLabel = new SqueezeLabel(widget);
    fileNameLabel->setObjectName(QStringLiteral("fileNameLabel"));
    fileNameLabel->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    verticalLayout_2->addWidget(fileNameLabel);
    progressBar = new QProgressBar(widget);
    progressBar->setObjectName(QStringLiteral("progressBar"));
    progressBar->setValue(0);
    verticalLayout_2->addWidget(progressBar);
    downloadInfoLabel = new SqueezeLabel(widget);
    downloadInfoLabel->setObjectName(QStringLiteral("downloadInfoLabel"));
    downloadInfoLabel->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    verticalLayout_2->addWidget(downloadInfoLabel);
    horizontalLayout->addWidget(widget);
    widget1 = new QWidget(row);
    widget1->setObjectName(QStringLiteral("widget1"));
    widget1->setStyleSheet(QStringLiteral("QWidget { background: #333333; }"));
    verticalLayout = new QVBoxLayout(widget1);
    verticalLayout->setSizeConstraint(QLayout::SetFixedSize);
    verticalLayout->setContentsMargins(0, 0, 0, 0);
    verticalLayout->addItem(new QSpacerItem(17, 1, QSizePolicy::Minimum, QSizePolicy::Expanding));
    tryAgainButton = new QPushButton(widget1);
    tryAgainButton->setObjectName(QStringLiteral("tryAgainButton"));
    tryAgainButton->setEnabled(false);
    tryAgainButton->setMinimumHeight(30);
    verticalLayout->addWidget(tryAgainButton);
    stopButton = new QPushButton(widget1);
    stopButton->setObjectName(QStringLiteral("stopButton"));
    stopButton->setMinimumHeight(30);
    verticalLayout->addWidget(stopButton);
    openButton = new QPushButton(widget1);
    openButton->setObjectName(QStringLiteral("openButton"));
    openButton->setSizePolicy(QSizePolicy::Minimum, QSizePolicy::Fixed);
    openButton->setMinimumHeight(30);
    verticalLayout->addWidget(openButton);
    openRepButton = new QPushButton(widget1);
    openRepButton->setObjectName(QStringLiteral("openRepButton"));
    openRepButton->setMinimumHeight(30);
    verticalLayout->addWidget(openRepButton);
    verticalLayout->addItem(new QSpacerItem(17, 5, QSizePolicy::Minimum, QSizePolicy::Expanding));
    horizontalLayout->addWidget(widget1, 0, Qt::AlignRight);
    retranslateUi(row);
}

void Ui_DownloadItem_Presentation::retranslateUi(QWidget* row)
{
    row->setWindowTitle(QCoreApplication::translate("DownloadItem_Presentation", "Form"));
    fileIcon->setText(QCoreApplication::translate("DownloadItem_Presentation", "Ico"));
    fileNameLabel->setText(QCoreApplication::translate("DownloadItem_Presentation", "Filename"));
    tryAgainButton->setText(QCoreApplication::translate("DownloadItem_Presentation", "Relancer"));
    stopButton->setText(QCoreApplication::translate("DownloadItem_Presentation", "Stop"));
    openButton->setText(QCoreApplication::translate("DownloadItem_Presentation", "Ouvrir"));
    openRepButton->setText(QCoreApplication::translate("DownloadItem_Presentation", "Ouvrir dossier"));
}

Presentation_Interface::Presentation_Interface(QWidget* parent)
    : QWidget(parent)
{
    setupUi(this);
}

Presentation_Interface::~Presentation_Interface() = default;

QString Presentation_Interface::formatSize(qint64 bytes)
{
    QString unit;
    qint64 n = bytes;
    if (bytes < 1024) {
        unit = tr("bytes");
    } else if (bytes < 1024 * 1024) {
        n = bytes / 1024;
        unit = tr("kB");
    } else {
        n = bytes / (1024 * 1024);
        unit = tr("MB");
    }
    return QStringLiteral("%1 %2").arg(n).arg(unit);
}

QString Presentation_Interface::byteProgressLine(qint64 received, qint64 total, qint64 elapsedMs, qint64 outputSize)
{
    const bool running = !downloadedSuccessfully();
    if (running) {
        const double speed = elapsedMs > 0 ? double(received) * 1000.0 / double(elapsedMs) : 0.0;
        QString remainingPart;
        if (total != 0 && speed > 0) {
            double remaining = double(total - received) / speed;
            QString unit = tr("secondes");
            if (remaining > 60) {
                remaining /= 60;
                unit = tr("minutes");
            }
            remaining = std::floor(remaining);
            if (remaining == 0)
                remaining = 1;
            remainingPart = tr("- %4 %5 restantes").arg(remaining).arg(unit);
        }
        return tr("%1 of %2 (%3/sec) %4")
            .arg(formatSize(received), total == 0 ? tr("?") : formatSize(total), formatSize(qint64(speed)),
                 remainingPart);
    }
    if (received == total)
        return formatSize(outputSize);
    return tr("%1 of %2 - Arrété").arg(formatSize(received), formatSize(total));
}

void Presentation_Interface::open()
{
    const QString path = QFileInfo(openPath()).absoluteFilePath();
    ZQLog::log(QStringLiteral("[INFO] Presentation :: open ") + path);
    zq::platform::open_with_shell(path);
}

void Presentation_Interface::openRep()
{
    const QString path = QFileInfo(openPath()).absolutePath();
    ZQLog::log(QStringLiteral("[INFO] Presentation :: open folder ") + path);
    zq::platform::open_with_shell(path);
}

void Presentation_Interface::setTryAgain(bool offered)
{
    m_tryAgainShown = offered;
    m_tryAgainEnabled = offered;
    tryAgainButton->setEnabled(offered);
    tryAgainButton->setVisible(offered);
}

void Presentation_Interface::setStopButton(bool enabled)
{
    m_stopEnabled = enabled;
    stopButton->setEnabled(enabled);
    stopButton->setVisible(enabled);
}

void Presentation_Interface::setOpenButtons(bool offered)
{
    m_openShown = offered;
    openButton->setEnabled(offered);
    openButton->setVisible(offered);
    openRepButton->setEnabled(offered);
    openRepButton->setVisible(offered);
}

void Presentation_Interface::setProgressShown(bool shown)
{
    m_progressShown = shown;
    progressBar->setVisible(shown);
}

void Presentation_Interface::applyCommonLook()
{
    fileIcon->setPixmap(style()->standardIcon(QStyle::SP_FileIcon).pixmap(48, 48));
    fileNameLabel->setStyleSheet(QStringLiteral("color: white;"));
    downloadInfoLabel->setStyleSheet(QStringLiteral("color: white;"));
    progressBar->setStyleSheet(QString::fromLatin1(kProgressStyle));
}

void Presentation_Interface::setUpRow(const QString& name)
{
    setTryAgain(false);
    setStopButton(false);
    setOpenButtons(true);
    setProgressShown(false);
    connect(stopButton, &QPushButton::clicked, this, &Presentation_Interface::stop);
    connect(openButton, &QPushButton::clicked, this, &Presentation_Interface::open);
    connect(openRepButton, &QPushButton::clicked, this, &Presentation_Interface::openRep);
    connect(tryAgainButton, &QPushButton::clicked, this, &Presentation_Interface::tryAgain);
    fileNameLabel->setText(name);
    applyCommonLook();
}
