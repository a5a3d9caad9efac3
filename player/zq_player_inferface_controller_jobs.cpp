// QML player controller: the jobs it starts (index regeneration, the integrity check, exports).

#include "player/zq_player_inferface_controller.h"

#include "app/zq_log.h"
#include "download/download_job_host.h"
#include "export/export_format.h"
#include "export/popup_export.h"
#include "integrity/integrity_run.h"
#include "player/zq_player_controller_ui.h"
#include "playback/zq_stream_read_and_control.h"
#include "recordings/encrypt.h"
#include "recordings/seek_index.h"
#include "recordings/storage_layout.h"
#include "recordings/time_text.h"
#include "recordings/zq_file.h"
#include "recordings/zq_index_controller.h"
#include "recordings/zq_index_manager.h"
#include "view/canvas.h"

#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QEvent>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QMap>
#include <QRegularExpression>
#include <QTimer>
#include <QUrl>
#include <QVariantMap>

#include <algorithm>

void ZQPlayerInferfaceController::regenerate_index()
{
    if (m_root_folder.isEmpty()) {
        // QML shows its waiting indicator before asking: end it.
        log_warn(QStringLiteral("start regenerate full index :: no storage folder"));
        emit indexFailed();
        return;
    }
    m_failed_days.clear();
    m_rebuilt_days.clear();
    log_info(QStringLiteral("start regenerate full index :: ") + m_root_folder);
    start_index_build(m_root_folder, false, QString());
}

void ZQPlayerInferfaceController::regenerate_index_for_current_date()
{
    if (m_root_folder.isEmpty() || !parse_day(m_selected_date, nullptr)) {
        log_warn(QStringLiteral("start regenerate index for current date :: no day selected"));
        emit indexFailed();
        return;
    }
    const QString day = QDir(m_root_folder).filePath(m_selected_date);
    m_failed_days.remove(day);
    m_rebuilt_days.remove(day);
    log_info(QStringLiteral("start regenerate index for current date :: ") + m_root_folder + QLatin1Char('/') +
             m_selected_date);
    ZQIndexManager manager;
    start_index_build(day, false, manager.generate_snapshot(day + QLatin1Char('/')));
}

void ZQPlayerInferfaceController::start_index_build(const QString& path, bool automatic, const QString& fingerprint)
{
    if (m_indexing) {
        // One run at a time: a later request waits for the run under way.
        if (path != m_index_path) {
            log_info(QStringLiteral("index generation :: queued :: ") + path);
            m_pending_index_path = path;
            m_pending_fingerprint = fingerprint;
        }
        return;
    }
    if (!QFileInfo(path).isDir()) {
        log_warn(QStringLiteral("index generation :: no such folder :: ") + path);
        emit indexFailed();
        return;
    }
    if (automatic)
        log_info(QStringLiteral("start regenerate index for current date :: ") + path);
    m_indexing = true;
    m_index_path = path;
    m_index_fingerprint = fingerprint;
    m_index_failed = false;
    emit startIndexGeneration();
    m_index_controller->generate_index(path);
}

void ZQPlayerInferfaceController::on_index_error(const QString& message)
{
    // Remember the failing day with the state it had, so that loading it
    // again does not start the same failing build.
    static const QRegularExpression day_re(QStringLiteral("(\\d{4}-\\d{2}-\\d{2})/?\\s*$"));
    QString day_key;
    QString fingerprint;
    if (parse_day(QFileInfo(m_index_path).fileName(), nullptr)) {
        day_key = m_index_path;
        fingerprint = m_index_fingerprint;
    } else {
        const QRegularExpressionMatch m = day_re.match(message);
        if (m.hasMatch() && !m_root_folder.isEmpty()) {
            day_key = QDir(m_root_folder).filePath(m.captured(1));
            ZQIndexManager manager;
            fingerprint = manager.generate_snapshot(day_key + QLatin1Char('/'));
        }
    }
    if (!day_key.isEmpty() && !fingerprint.isEmpty())
        m_failed_days.insert(day_key, fingerprint);
    log_warn(QStringLiteral("index generation :: failed :: ") + message);
    // A whole-folder run may fail on many days: one box per run.
    if (m_index_failed)
        return;
    m_index_failed = true;
    // The box runs its own event loop, in which the end of the run may
    // arrive: it is held back so that QML hears of the failure first.
    m_error_box_open = true;
    m_ui->warning(QStringLiteral("Attention"), message);
    m_error_box_open = false;
    emit indexFailed();
    if (m_finish_held) {
        m_finish_held = false;
        on_index_finished();
    }
}

void ZQPlayerInferfaceController::on_index_finished()
{
    if (!m_indexing)
        return;
    if (m_error_box_open) {
        m_finish_held = true;
        return;
    }
    m_indexing = false;
    if (!m_index_failed && !m_index_fingerprint.isEmpty())
        m_rebuilt_days.insert(m_index_path, m_index_fingerprint);
    log_info(QStringLiteral("index generation :: finished :: ") + m_index_path);
    m_index_path.clear();
    if (!m_pending_index_path.isEmpty()) {
        const QString next = m_pending_index_path;
        const QString fp = m_pending_fingerprint;
        m_pending_index_path.clear();
        m_pending_fingerprint.clear();
        emit indexGenerated();
        start_index_build(next, false, fp);
        return;
    }
    emit indexGenerated();
}

void ZQPlayerInferfaceController::video_export_end()
{
    // The dialog whose copy ended, which need not be the newest one.
    auto* dialog = qobject_cast<PopupExport*>(sender());
    if (dialog) {
        dialog->closeall();
        dialog->deleteLater();
        if (m_export_dialog == dialog)
            m_export_dialog = nullptr;
    }
    m_ui->information(QStringLiteral("Information"), QStringLiteral("Votre exportation est terminée."));
}

void ZQPlayerInferfaceController::check_integrity()
{
    if (m_integrity || m_root_folder.isEmpty() || m_selected_date.isEmpty())
        return;
    log_info(QStringLiteral("check integrity :: ") + QDir(m_root_folder).filePath(m_selected_date));
    m_integrity = IntegrityRun::start(nullptr, m_root_folder, m_selected_date);
    if (m_integrity)
        connect(m_integrity, SIGNAL(finished()), this, SLOT(integrity_check_done()));
}

void ZQPlayerInferfaceController::integrity_check_done()
{
    log_info(QStringLiteral("integrity check done"));
    m_integrity = nullptr;
}

void ZQPlayerInferfaceController::stop_integrity_check()
{
    // Deleting the pair stops the check and waits for its thread.
    if (IntegrityRun* run = m_integrity) {
        m_integrity = nullptr;
        delete run;
    }
}

void ZQPlayerInferfaceController::video_export()
{
    ZQLog::log(QStringLiteral("[INFO] ZQPlayer Interface Controller :: export :: ") + m_root_folder + QStringLiteral("/")
               + m_selected_date);
    const QString timestamp = m_canvas ? m_canvas->get_current_timestamp() : QString();
    log_info(QStringLiteral("export ::  timestamp ") + timestamp);
    QDate date;
    qint64 ms = 0;
    if (!TimeText::parse_display_time(timestamp, &date, &ms))
        return;
    auto* dialog = new PopupExport(m_video_files, m_camera_id, QString::number(m_stream_id), QStringList(),
                                   m_root_folder + QStringLiteral("/") + m_selected_date, timestamp);
    dialog->set_job_host(DownloadJobHost::instance());
    m_export_dialog = dialog;
    connect(dialog, SIGNAL(endingsignal()), this, SLOT(video_export_end()));
    // A raw copy that fails ends with its error instead: the dialog is done.
    connect(dialog, &PopupExport::error, this, [this, dialog](int code) {
        if (!dialog->export_started())
            return; // a range error, shown by the dialog itself
        dialog->closeall();
        dialog->deleteLater();
        if (m_export_dialog == dialog)
            m_export_dialog = nullptr;
        m_ui->warning(QStringLiteral("Attention"), dialog->error_message(code));
    });
    dialog->delete_when_cancelled();
    dialog->setModal(true);
    dialog->show();
}
