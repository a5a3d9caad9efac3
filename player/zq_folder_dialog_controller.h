#pragma once

#include <QObject>
#include <QString>

// QML entry of the storage folder chooser.
class ZQFolderDialogController : public QObject
{
    Q_OBJECT
public:
    explicit ZQFolderDialogController(QObject* parent = nullptr);

    // The chosen storage root, or an empty text when the dialog was cancelled.
    Q_INVOKABLE QString openFolderDialog();
};
