// QML player controller: construction, the window hooks (UI, tile, log), the alarm pop-up and snapshots.
// The other concerns of the class have files of their own: _days (folder, days, cameras, day
// loading), _lists (the lists the views take), _playback (seeking and transport), _jobs (index
// regeneration, integrity check, exports).

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

// ---------------------------------------------------------------------------
// Construction

ZQPlayerInferfaceController::ZQPlayerInferfaceController(QObject* parent)
    : QObject(parent), m_ui(std::make_unique<ZQPlayerControllerDesktopUi>())
{
    log_info(QStringLiteral("construct"));
    m_reader = new ZQStreamReadAndControl();
    connect(m_reader, SIGNAL(set_next_file()), this, SLOT(set_next_file()));
    connect(m_reader, SIGNAL(set_previous_file()), this, SLOT(set_previous_file()));
    connect(m_reader, SIGNAL(setTime(QTime)), this, SLOT(setTime(QTime)));
    connect(m_reader, SIGNAL(send_available_videostream(QStringList)), this,
            SLOT(recv_available_videostream(QStringList)));
    connect(m_reader, &ZQStreamReadAndControl::reading_ended, this,
            &ZQPlayerInferfaceController::on_reading_ended);

    m_index_controller = new ZQIndexController(this);
    connect(m_index_controller, &ZQIndexController::allFinished, this,
            &ZQPlayerInferfaceController::on_index_finished);
    connect(m_index_controller, &ZQIndexController::errorOccurred, this,
            &ZQPlayerInferfaceController::on_index_error);
}

ZQPlayerInferfaceController::~ZQPlayerInferfaceController()
{
    log_info(QStringLiteral("destruct"));
    stop_integrity_check();
    m_reader->removeEventFilter(this);
    delete m_reader;
    m_reader = nullptr;
}

void ZQPlayerInferfaceController::set_ui(std::unique_ptr<ZQPlayerControllerUi> ui)
{
    if (ui)
        m_ui = std::move(ui);
}

void ZQPlayerInferfaceController::set_canvas(Canvas* canvas)
{
    m_canvas = canvas;
}

void ZQPlayerInferfaceController::log_info(const QString& text) const
{
    ZQLog::log(QStringLiteral("[INFO] ZQPlayer Interface Controller :: ") + text);
}

void ZQPlayerInferfaceController::log_warn(const QString& text) const
{
    ZQLog::log(QStringLiteral("[WARN] ZQPlayer Interface Controller :: ") + text);
}

void ZQPlayerInferfaceController::log_error(const QString& text) const
{
    ZQLog::log(QStringLiteral("[ERROR] ZQPlayer Interface Controller :: ") + text);
}

QString ZQPlayerInferfaceController::to_local_path(const QString& path_or_url)
{
    QString path = path_or_url.trimmed();
    if (path.startsWith(QLatin1String("file:"), Qt::CaseInsensitive))
        path = QUrl(path).toLocalFile();
    if (path.isEmpty())
        return path;
    return QDir::cleanPath(path);
}

bool ZQPlayerInferfaceController::parse_day(const QString& text, QDate* date)
{
    // "yyyy-MM-dd", read from its digits, as day folders are named.
    const QDate parsed = StorageLayout::day_folder_date(text);
    if (!parsed.isValid())
        return false;
    if (date)
        *date = parsed;
    return true;
}

// ---------------------------------------------------------------------------
// Storage folder and days

bool ZQPlayerInferfaceController::is_zqcore_directory(QString directory)
{
    const QString path = to_local_path(directory);
    if (path.isEmpty())
        return false;
    return StorageLayout::is_root_folder_name(QFileInfo(path).fileName());
}

void ZQPlayerInferfaceController::stop_playback()
{
    if (m_reader)
        m_reader->stop();
    m_state = Stopped;
    m_current_file.clear();
    m_stream_ids.clear();
    if (m_canvas)
        m_canvas->stop_display(true);
}

// ---------------------------------------------------------------------------
// Cameras and day lists

// ---------------------------------------------------------------------------
// Index rebuilds

// ---------------------------------------------------------------------------
// Playback

void ZQPlayerInferfaceController::setTime(QTime time)
{
    m_read_time = time.isValid() ? time.toString(QStringLiteral("HHmmss")) : QString();
    emit timeChanged();
}

void ZQPlayerInferfaceController::recv_available_videostream(QStringList streams)
{
    m_stream_ids = streams;
    emit updateStreams();
}

int ZQPlayerInferfaceController::get_current_read_time_is_ms()
{
    const qint64 ms = TimeText::hhmmss_to_ms(m_read_time);
    return ms < 0 ? 0 : int(ms);
}

// ---------------------------------------------------------------------------
// Alarm pictures and snapshots

void ZQPlayerInferfaceController::open_alarm_popup(QString image_path)
{
    log_info(QStringLiteral("open alarm popup :: ") + image_path);
    const QString path = to_local_path(image_path);
    if (path.isEmpty())
        return;
    m_ui->open_alarm_viewer(path, m_selected_camera);
}

void ZQPlayerInferfaceController::snapshot_button()
{
    show_snapshot(false);
}

void ZQPlayerInferfaceController::snapshot_full_button()
{
    show_snapshot(true);
}

void ZQPlayerInferfaceController::show_snapshot(bool full)
{
    if (!m_canvas)
        return;
    // Nothing is uploaded: no session, no address.
    const QImage image = full ? m_canvas->get_snapshot_full(QString(), QString())
                              : m_canvas->get_snapshot(QString(), QString());
    if (image.isNull()) {
        log_warn(full ? QStringLiteral("snapshot full :: no picture on screen")
                      : QStringLiteral("snapshot :: no picture on screen"));
        return;
    }
    m_ui->open_snapshot_viewer(image, m_canvas->get_current_timestamp() + QStringLiteral(".jpg"));
}
