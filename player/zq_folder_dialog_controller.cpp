#include "player/zq_folder_dialog_controller.h"

#include "player/zq_folder_dialog.h"

ZQFolderDialogController::ZQFolderDialogController(QObject* parent)
    : QObject(parent)
{
}

QString ZQFolderDialogController::openFolderDialog()
{
    return ZQFolderDialog::selectFolderFromDialog(nullptr);
}
