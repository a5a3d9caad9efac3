#include "export/export_dialogs.h"

#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>

namespace {
ExportDialogs* g_installed = nullptr;
}

void ExportDialogs::information(QWidget* parent, const QString& title, const QString& text)
{
    QMessageBox box(QMessageBox::Information, title, text, QMessageBox::Ok, parent);
    // The sentences may name files of the storage folder.
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

bool ExportDialogs::question(QWidget* parent, const QString& text, const QString& informativeText)
{
    QMessageBox box(parent);
    box.setIcon(QMessageBox::Information);
    box.setTextFormat(Qt::PlainText);
    box.setText(text);
    box.setInformativeText(informativeText);
    box.addButton(QStringLiteral("Non"), QMessageBox::NoRole);
    QPushButton* yes = box.addButton(QStringLiteral("Oui"), QMessageBox::YesRole);
    box.exec();
    return box.clickedButton() == yes;
}

QString ExportDialogs::save_file_name(QWidget* parent, const QString& caption, const QString& start)
{
    // The dialog asks its own question before replacing a file.
    return QFileDialog::getSaveFileName(parent, caption, start, QString(), nullptr,
                                        QFileDialog::DontConfirmOverwrite);
}

ExportDialogs* ExportDialogs::instance()
{
    static ExportDialogs real;
    return g_installed ? g_installed : &real;
}

void ExportDialogs::set_instance(ExportDialogs* dialogs)
{
    g_installed = dialogs;
}
