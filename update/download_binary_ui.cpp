#include "update/download_binary.h"

#include <QFileDialog>
#include <QMessageBox>
#include <QPointer>
#include <QProgressDialog>

struct DesktopDownloadBinaryUi::Dialog
{
    QPointer<QProgressDialog> progress;
};

DesktopDownloadBinaryUi::DesktopDownloadBinaryUi(QWidget* parent)
    : m_parent(parent)
    , m_dialog(std::make_unique<Dialog>())
{
}

DesktopDownloadBinaryUi::~DesktopDownloadBinaryUi()
{
    delete m_dialog->progress.data();
}

bool DesktopDownloadBinaryUi::askUpdate(const QString& title, const QString& text, const QString& informative,
                                        const QString& details)
{
    QMessageBox box(QMessageBox::Question, title, text, QMessageBox::Yes | QMessageBox::No, m_parent);
    box.setTextFormat(Qt::PlainText);
    box.setInformativeText(informative);
    if (!details.isEmpty())
        box.setDetailedText(details);
    return box.exec() == QMessageBox::Yes;
}

QString DesktopDownloadBinaryUi::askSaveFile(const QString& caption, const QString& proposedPath,
                                             const QString& filter)
{
    return QFileDialog::getSaveFileName(m_parent, caption, proposedPath, filter);
}

void DesktopDownloadBinaryUi::showProgress(const QString& title, const QString& label,
                                           std::function<void()> onCancel)
{
    if (m_dialog->progress)
        return;
    auto* dialog = new QProgressDialog(m_parent);
    dialog->setWindowTitle(title);
    dialog->setLabelText(label);
    dialog->setMinimumDuration(0);
    dialog->setAutoClose(false);
    dialog->setAutoReset(false);
    dialog->setRange(0, 100);
    dialog->setValue(0);
    dialog->setCancelButtonText(QStringLiteral("Annuler"));
    dialog->setWindowModality(Qt::WindowModal);
    QObject::connect(dialog, &QProgressDialog::canceled, dialog, [onCancel] {
        if (onCancel)
            onCancel();
    });
    m_dialog->progress = dialog;
    dialog->show();
}

void DesktopDownloadBinaryUi::setProgress(int maximum, int value)
{
    if (!m_dialog->progress)
        return;
    m_dialog->progress->setRange(0, maximum);
    m_dialog->progress->setValue(value);
}

QString DesktopDownloadBinaryUi::progressLabel() const
{
    return m_dialog->progress ? m_dialog->progress->labelText() : QString();
}

void DesktopDownloadBinaryUi::setProgressLabel(const QString& label)
{
    if (m_dialog->progress)
        m_dialog->progress->setLabelText(label);
}

void DesktopDownloadBinaryUi::closeProgress()
{
    if (!m_dialog->progress)
        return;
    m_dialog->progress->hide();
    m_dialog->progress->deleteLater();
    m_dialog->progress = nullptr;
}
