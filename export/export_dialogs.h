#pragma once

#include <QString>

class QWidget;

// The modal boxes and the file chooser of the export windows (dialog, jobs
// window, job rows). Tests install their own answers with set_instance().
class ExportDialogs
{
public:
    virtual ~ExportDialogs() = default;

    // Modal information box with one "OK" button.
    virtual void information(QWidget* parent, const QString& title, const QString& text);
    // Modal question with the buttons "Non" and "Oui"; true for "Oui".
    virtual bool question(QWidget* parent, const QString& text, const QString& informativeText);
    // Save-file chooser; an empty text when cancelled.
    virtual QString save_file_name(QWidget* parent, const QString& caption, const QString& start);

    // The installed instance (the real boxes unless a test installed its own).
    static ExportDialogs* instance();
    // Installs `dialogs` (not owned); null restores the real boxes.
    static void set_instance(ExportDialogs* dialogs);
};
