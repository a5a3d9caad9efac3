// Widget player window: the export dialog and the integrity check.

#include "widgetplayer/zq_player_presentation.h"
#include "widgetplayer/zq_player_presentation_p.h"

#include "app/http_singleton.h"
#include "app/zq_log.h"
#include "download/download_job_host.h"
#include "export/export_format.h"
#include "export/popup_export.h"
#include "integrity/integrity_run.h"
#include "playback/zq_stream_read_and_control.h"
#include "player/zq_player_inferface_controller.h"
#include "recordings/seek_index.h"
#include "recordings/storage_layout.h"
#include "recordings/time_text.h"
#include "recordings/zq_file.h"
#include "recordings/zq_tag.h"
#include "view/canvas.h"
#include "widgetplayer/alarm_item_delegate.h"
#include "widgetplayer/alarm_model.h"
#include "widgetplayer/ui_zq_player_presentation.h"
#include "widgetplayer/widget_player_ui.h"
#include "widgetplayer/zq_player_tab_widget.h"
#include "widgetplayer/zq_slider_timeline.h"
#include "widgetplayer/zq_timeline.h"
#include "widgetplayer/zq_video_file_system_model.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QGraphicsOpacityEffect>
#include <QGridLayout>
#include <QHeaderView>
#include <QLabel>
#include <QProgressBar>
#include <QPropertyAnimation>
#include <QPushButton>
#include <QScrollArea>
#include <QStyle>
#include <QTableView>
#include <QTimer>
#include <QTreeView>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

// ---------------------------------------------------------------- export and integrity

PopupExport* ZQ_Player_presentation::export_dialog() const
{
    return m_export_dialog;
}

void ZQ_Player_presentation::export_slot()
{
    log(QStringLiteral("export :: ") + m_day_folder);
    const QString timestamp = m_canvas ? m_canvas->get_current_timestamp() : QString();
    log(QStringLiteral("export ::  timestamp ") + timestamp);
    // Offered only while a frame is shown, and one dialog at a time.
    QDate date;
    qint64 ms = 0;
    if (!TimeText::parse_display_time(timestamp, &date, &ms) || m_export_dialog)
        return;
    const QString stream = chosen_stream();
    auto* dialog = new PopupExport(m_controller->day_video_list(), m_current_camera_id.toInt(), stream,
                                   m_day_text_list, StorageLayout::clean_folder_path(m_day_folder), timestamp);
    dialog->set_job_host(DownloadJobHost::instance());
    m_export_dialog = dialog;
    connect(dialog, &PopupExport::valueChanged, this, &ZQ_Player_presentation::set_progress);
    connect(dialog, &PopupExport::endingsignal, this, &ZQ_Player_presentation::get_export_endingsignal);
    // Cancelled, it is gone (the pointer with it) and the button opens a new one.
    dialog->delete_when_cancelled();
    // A raw copy that fails ends with its error instead: the dialog is done.
    connect(dialog, &PopupExport::error, this, [this, dialog](int code) {
        if (!dialog->export_started())
            return; // a range error, which the dialog shows itself
        m_ui->encodeprogress->hide();
        m_ui->exportbutton->setEnabled(true);
        dialog->closeall();
        dialog->deleteLater();
        if (m_export_dialog == dialog)
            m_export_dialog = nullptr;
        m_dialogs->warning(QStringLiteral("Attention"), dialog->error_message(code));
    });
    dialog->show();
}

void ZQ_Player_presentation::set_progress(int value)
{
    m_ui->encodeprogress->show();
    const QString path = m_export_dialog ? m_export_dialog->get_export_path() : QString();
    m_ui->encodeprogress->setFormat(path + QStringLiteral("  [") + QString::number(value) + QStringLiteral("%]"));
    m_ui->exportbutton->setEnabled(false);
    m_ui->encodeprogress->setValue(value);
}

void ZQ_Player_presentation::get_export_endingsignal()
{
    m_ui->encodeprogress->hide();
    // The dialog whose copy ended, deleted once its signal has returned.
    auto* dialog = qobject_cast<PopupExport*>(sender());
    if (!dialog)
        dialog = m_export_dialog;
    if (dialog) {
        dialog->closeall();
        dialog->close();
        dialog->deleteLater();
        if (m_export_dialog == dialog)
            m_export_dialog = nullptr;
    }
    m_ui->exportbutton->setEnabled(true);
    m_dialogs->information(QStringLiteral("Information"), QStringLiteral("Votre exportation est terminée."));
}

void ZQ_Player_presentation::check_integrity_slot()
{
    // One check at a time: a second click while its dialog is open does nothing.
    if (m_integrity || m_day_folder.isEmpty())
        return;
    const QString day = StorageLayout::clean_folder_path(m_day_folder);
    log(QStringLiteral("check integrity :: ") + day);
    m_integrity = IntegrityRun::start(this, QFileInfo(day).absolutePath(), day);
    if (m_integrity)
        connect(m_integrity, &IntegrityRun::finished, this, &ZQ_Player_presentation::integrity_check_done);
}

void ZQ_Player_presentation::integrity_check_done()
{
    ZQLog::log("[INFO] Zqplayer Display :: integrity check done");
    // The pair disposes of itself once the check's thread has ended.
    m_integrity = nullptr;
}

