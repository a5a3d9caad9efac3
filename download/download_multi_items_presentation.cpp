#include "download/download_multi_items_presentation.h"

#include "app/zq_log.h"
#include "download/archive_extractor.h"
#include "download/confined_folder.h"
#include "download/squeeze_label.h"
#include "download/zq_download_thread.h"
#include "platform/desktop_shell.h"

#include <QDir>
#include <QFileInfo>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QUrl>
#include <QUrlQuery>

#include <algorithm>
#include <climits>
#include <cmath>

namespace {

void info(const QString& text)
{
    ZQLog::log(QStringLiteral("[INFO] Download Multi Items Presentation :: ") + text);
}

bool ask_confirm_stop(QWidget* parent)
{
    QMessageBox box(QMessageBox::Information, QStringLiteral("Information"),
                    QObject::tr("Confirmer l'arrêt du téléchargement ?"),
                    QMessageBox::NoButton, parent);
    box.addButton(QStringLiteral("Non"), QMessageBox::NoRole);
    QAbstractButton* yes = box.addButton(QStringLiteral("Oui"), QMessageBox::YesRole);
    box.exec();
    return box.clickedButton() == yes;
}

DownloadMultiItems_Presentation::ConfirmStop& confirm_stop()
{
    static DownloadMultiItems_Presentation::ConfirmStop confirm = &ask_confirm_stop;
    return confirm;
}

QString& ca_file()
{
    static QString path;
    return path;
}

} // namespace

void DownloadMultiItems_Presentation::set_confirm_stop(ConfirmStop confirm)
{
    confirm_stop() = confirm ? std::move(confirm) : ConfirmStop(&ask_confirm_stop);
}

void DownloadMultiItems_Presentation::set_ca_file(const QString& path)
{
    ca_file() = path;
}

QString DownloadMultiItems_Presentation::with_query_switch(const QString& url)
{
    for (const char* word : {".exe", ".dmg", ".zip", "file_hash"})
        if (url.contains(QLatin1String(word)))
            return url;
    return ZQDownload_thread::with_file_hash(QUrl(url)).toString();
}

QString DownloadMultiItems_Presentation::local_path(const QString& destination, const QString& entry_path)
{
    if (destination.isEmpty())
        return QString();
    const QString base = QDir::cleanPath(QDir(destination).absolutePath());
    QString relative = entry_path;
    if (QDir::isAbsolutePath(entry_path)) {
        // A full path is accepted only inside the destination.
        const QString clean = QDir::cleanPath(entry_path);
        if (!clean.startsWith(base + QLatin1Char('/')))
            return QString();
        relative = clean.mid(base.size() + 1);
    }
    const QString full = ArchiveExtractor::safe_entry_path(base, relative);
    if (full.isEmpty())
        return QString();
    // No folder on the way, at any depth, may be a link out of the destination (folders still
    // missing are made later, beside their parent, never through a link).
    if (QFileInfo::exists(base)) {
        const QString folders = QFileInfo(full.mid(base.size() + 1)).path();
        if (zq::ConfinedFolder::open(base, folders, false).status() == zq::ConfinedFolder::Status::Refused)
            return QString();
    }
    return full;
}

DownloadMultiItems_Presentation::DownloadMultiItems_Presentation(QList<DownloadFileEntry> to_download,
                                                                 QList<DownloadFileEntry> downloaded,
                                                                 QString destination)
    : Presentation_Interface(nullptr)
    , m_to_download(std::move(to_download))
    , m_downloaded(std::move(downloaded))
    , m_destination(std::move(destination))
{
    ZQLog::log("[INFO] Download MultiItems Presentation :: Construct");
    ZQLog::log(QStringLiteral("[INFO] Download MultiItems Presentation :: Construct :: download         ")
               + QString::number(m_to_download.size()));
    ZQLog::log(QStringLiteral("[INFO] Download MultiItems Presentation :: Construct :: download done    ")
               + QString::number(m_downloaded.size()));
    setItemType(QStringLiteral("multi"));
    const qsizetype r = m_to_download.size();
    const qsizetype d = m_downloaded.size();
    if (r == 0)
        m_name = QString::number(d) + QStringLiteral(" fichiers téléchargés");
    else if (d == 0)
        m_name = QString::number(r) + QStringLiteral(" fichiers en erreurs");
    else
        m_name = QString::number(d) + QStringLiteral(" / ") + QString::number(r + d) + QStringLiteral(" fichiers téléchargés");
    if (!m_to_download.isEmpty()) {
        m_total_kib = 0;
        for (const DownloadFileEntry& e : std::as_const(m_to_download)) {
            bool ok = false;
            const qint64 kib = e.size.toLongLong(&ok);
            if (ok && kib > 0)
                m_total_kib += kib;
        }
    }

    clearFlags();
    setUpRow(m_name);
    // This kind confirms a stop first; the base wired the button to stop() directly.
    disconnect(stopButton, &QPushButton::clicked, this, nullptr);
    connect(stopButton, &QPushButton::clicked, this, &DownloadMultiItems_Presentation::stop_button);
    openButton->setVisible(false);
    openButton->setEnabled(false);
    openRepButton->setVisible(false);
    openRepButton->setEnabled(false);
    set_retry(r >= 1, r >= 1);
    if (!m_destination.isEmpty()) {
        downloadInfoLabel->setText(m_destination);
        downloadInfoLabel->setVisible(true);
    }
    m_finished = true;
    m_started = false;
    m_error = false;
    if (d >= 1) {
        m_output_path = local_path(m_destination, m_downloaded.first().path);
        openRepButton->setEnabled(true);
        openRepButton->setVisible(true);
    }

    m_retry_timer.setSingleShot(true);
    m_retry_timer.setInterval(1000);
    connect(&m_retry_timer, &QTimer::timeout, this, &DownloadMultiItems_Presentation::retry_now);
}

DownloadMultiItems_Presentation::~DownloadMultiItems_Presentation()
{
    m_retry_timer.stop();
    if (ZQDownload_thread* thread = m_thread) {
        // The transfer ends at its next callback; the thread object waits for its run.
        disconnect(thread, nullptr, this, nullptr);
        thread->request_stop();
        thread->wait();
        delete thread;
    }
}

void DownloadMultiItems_Presentation::set_retry(bool enabled, bool shown)
{
    m_retry_shown = shown;
    setTryAgain(enabled);
    tryAgainButton->setVisible(shown);
}

void DownloadMultiItems_Presentation::init()
{
    m_finished = false;
    m_started = true;
    m_error = false;
}

void DownloadMultiItems_Presentation::setFinished()
{
    info(QStringLiteral("setFinished"));
    m_finished = true;
    m_started = false;
    m_error = false;
}

bool DownloadMultiItems_Presentation::downloadedSuccessfully()
{
    return !m_stopped && m_finished && !m_retry_shown;
}

void DownloadMultiItems_Presentation::start_downloading_item()
{
    info(QStringLiteral("start downloading item"));
    setStarted();
    setStopButton(true);
    openRepButton->setEnabled(false);
    openRepButton->setVisible(false);
    setProgressShown(true);
    set_retry(false, false);
    m_elapsed.start();
    downloadInfoLabel->setText(QString());
    progressBar->setMinimum(0);
    progressBar->setMaximum(int(std::clamp<qint64>(m_total_kib, 1, INT_MAX)));
    progressBar->setValue(0);
    if (m_to_download.isEmpty()) {
        finished();
        return;
    }
    m_current = m_to_download.first();
    m_current_url = m_current.url;
    m_name = m_current.path;
    info(QStringLiteral("start downloading item :: ") + m_name);
    init();
    m_current_url = with_query_switch(m_current_url);
    start_current();
}

void DownloadMultiItems_Presentation::setStarted()
{
    m_started = true;
}

void DownloadMultiItems_Presentation::start_current()
{
    m_output_path = local_path(m_destination, m_current.path);
    QString why;
    if (!m_output_path.isEmpty()) {
        // The destination is the user's choice; the folders below it come from the server.
        QDir().mkpath(m_destination);
        const QString base = QDir::cleanPath(QDir(m_destination).absolutePath());
        const zq::ConfinedFolder folder = zq::ConfinedFolder::open(
            base, QFileInfo(m_output_path.mid(base.size() + 1)).path(), true);
        if (!folder.isOpen())
            why = folder.error();
    }
    if (m_output_path.isEmpty() || !why.isEmpty()) {
        // A path leaving the destination is never downloaded: the file fails at once.
        ZQLog::log(QStringLiteral("[ERROR] Download Multi Items Presentation :: refused path :: ") + m_current.path.left(300)
                   + (why.isEmpty() ? QString() : QStringLiteral(" :: ") + why));
        m_error = true;
        QMetaObject::invokeMethod(this, [this] { item_finished(QString()); }, Qt::QueuedConnection);
        return;
    }
    download(m_current_url);
}

void DownloadMultiItems_Presentation::release_thread()
{
    ZQDownload_thread* thread = m_thread;
    m_thread = nullptr;
    if (!thread)
        return;
    disconnect(thread, nullptr, this, nullptr);
    info(QStringLiteral("get data with libcurl :: delete download thread :: is running ")
         + QString::number(thread->isRunning() ? 1 : 0));
    if (thread->isFinished() || !thread->isRunning()) {
        thread->wait();
        delete thread;
    } else {
        // Its run ends right after its last signal; deleted once it has.
        connect(thread, &QThread::finished, thread, &QObject::deleteLater);
        if (thread->isFinished())
            thread->deleteLater();
    }
}

void DownloadMultiItems_Presentation::download(const QString& url)
{
    info(QStringLiteral("get data with libcurl"));
    release_thread();
    auto* thread = new ZQDownload_thread(this, url, m_output_path);
    thread->set_destination(m_destination);
    thread->set_ca_file(ca_file());
    m_thread = thread;
    connect(thread, &ZQDownload_thread::downloadProgress, this, &DownloadMultiItems_Presentation::downloadProgress);
    connect(thread, &ZQDownload_thread::download_finished, this, &DownloadMultiItems_Presentation::item_finished);
    connect(thread, &ZQDownload_thread::download_error, this,
            qOverload<QString, QString>(&DownloadMultiItems_Presentation::error));
    connect(thread, &ZQDownload_thread::statusChanged, this, &Presentation_Interface::statusChanged);
    connect(thread, &ZQDownload_thread::info_changed, this, [this](const QString& text) {
        downloadInfoLabel->setText(text);
        downloadInfoLabel->setVisible(true);
    });
    connect(thread, &ZQDownload_thread::file_named, this, [this](const QString& name) {
        fileNameLabel->setText(name);
    });
    connect(thread, &ZQDownload_thread::download_stopped, this, [this] {
        // A stop is not a failure: no retry, nothing kept, the row offers "Relancer".
        if (m_stopped_by_user)
            downloadInfoLabel->setText(tr("Arrêt Utilisateur"));
        finished();
    });
    thread->start(QThread::InheritPriority);
}

void DownloadMultiItems_Presentation::downloadProgress(qint64 bytesReceived, qint64 bytesTotal)
{
    if (m_stopped)
        return;
    m_received = bytesReceived;
    m_total = bytesTotal;
    if (m_total_kib < 1) {
        progressBar->setMaximum(int(qMax<qsizetype>(1, m_to_download.size() + m_downloaded.size() + m_failed.size())));
        progressBar->setValue(int(m_downloaded.size() + m_failed.size()));
    } else {
        progressBar->setMaximum(int(std::clamp<qint64>(m_total_kib, 1, INT_MAX)));
        progressBar->setValue(int(std::clamp<qint64>((m_done_bytes + bytesReceived) / 1024, 0, INT_MAX)));
    }
    updateInfoLabel();
}

void DownloadMultiItems_Presentation::updateInfoLabel()
{
    const qint64 total_bytes = qMax<qint64>(0, m_total_kib) * 1024;
    const qint64 done = m_done_bytes + m_received;
    const qint64 elapsed = m_elapsed.isValid() ? m_elapsed.elapsed() : 0;
    const double speed = elapsed > 0 ? double(done) * 1000.0 / double(elapsed) : 0.0;
    QString text;
    const qsizetype all = m_to_download.size() + m_downloaded.size();
    if (!downloadedSuccessfully()) {
        QString remaining;
        if (total_bytes > 0 && speed > 0) {
            double time = double(total_bytes - done) / speed;
            QString unit = tr("secondes");
            if (time > 60) {
                time /= 60;
                unit = tr("minutes");
            }
            remaining = tr("- %1 %2 restantes").arg(std::floor(time)).arg(unit);
        }
        const qint64 bits = qint64(speed) * 8;
        QString speed_text;
        if (bits < 1024)
            speed_text = QStringLiteral("%1 %2").arg(bits).arg(QStringLiteral("Bit"));
        else if (bits >= 1048576)
            speed_text = QStringLiteral("%1 %2").arg(bits / 1048576).arg(QStringLiteral("MBit"));
        else
            speed_text = QStringLiteral("%1 %2").arg(bits / 1024).arg(QStringLiteral("kBit"));
        text = tr("%1 / %2 fichier(s) ( %5/sec %6 )")
                   .arg(m_downloaded.size())
                   .arg(all)
                   .arg(speed_text, remaining);
    } else if (done == total_bytes) {
        text = formatSize(QFileInfo(m_output_path).size());
    } else {
        text = tr("%1 / %2 fichier(s) - Arrété").arg(m_downloaded.size()).arg(all);
    }
    downloadInfoLabel->setText(text);
}

void DownloadMultiItems_Presentation::item_finished(QString file_sha)
{
    if (m_stopped) {
        info(QStringLiteral("item finished :: is stopped"));
        finished();
        return;
    }
    m_done_bytes += m_received;
    m_received = 0;
    if (!m_to_download.isEmpty())
        m_to_download.removeFirst();
    if (!m_error) {
        // The thread checked the server's digest against what it wrote, and hashed it while writing.
        const QString computed = m_thread ? m_thread->computed_sha256() : QString();
        if (!file_sha.isEmpty()) {
            file_sha.remove(QStringLiteral("\r\n"));
            info(QStringLiteral("item finished :: file digest :: ") + file_sha);
            info(QStringLiteral("item finished :: check sha :: ") + computed);
            m_current.sha256 = file_sha;
        } else {
            m_current.sha256 = computed;
        }
        info(QStringLiteral("item finished :: ") + m_current.path);
        info(QStringLiteral("item finished :: get file sha :: ") + m_current.sha256);
        m_downloaded.append(m_current);
    } else {
        info(QStringLiteral("item finished :: item in error, add to error list :: ") + m_current.path);
        m_failed.append(m_current);
    }
    if (!m_to_download.isEmpty()) {
        m_current = m_to_download.first();
        m_current_url = m_current.url;
        m_name = m_current.path;
        info(QStringLiteral("item finished :: start new item       :: ") + m_name);
        info(QStringLiteral("item finished :: url                  :: ") + m_current_url);
        m_current_url = with_query_switch(m_current_url);
        init();
        m_retry_count = 0;
        start_current();
        return;
    }
    finished();
}

void DownloadMultiItems_Presentation::error(QString url, QString code)
{
    Q_UNUSED(code);
    ZQLog::log(QStringLiteral("[ERROR] Download Multi Items Presentation :: error :: ") + downloadInfoLabel->text());
    if (m_stopped) {
        if (m_stopped_by_user)
            downloadInfoLabel->setText(tr("Arrêt Utilisateur"));
        set_retry(true, true);
        stop();
        finished();
        return;
    }
    if (m_retry_count < 5) {
        ZQLog::log(QStringLiteral("[ERROR] Download Multi Items Presentation :: error :: retry ")
                   + QString::number(m_retry_count));
        set_retry(true, false);
        openRepButton->setEnabled(false);
        openRepButton->setVisible(false);
        m_retry_timer.start(); // the GUI thread never sleeps
        return;
    }
    ZQLog::log(QStringLiteral("[ERROR] Download Multi Items Presentation :: error :: item failed :: ") + url);
    m_error = true;
    item_finished(QString());
}

void DownloadMultiItems_Presentation::retry_now()
{
    tryAgain();
    ++m_retry_count;
}

void DownloadMultiItems_Presentation::stop_button()
{
    info(QStringLiteral("stop button called"));
    if (!confirm_stop()(this))
        return;
    m_stopped = true;
    m_stopped_by_user = true;
    stop();
}

void DownloadMultiItems_Presentation::stop()
{
    info(QStringLiteral("stop"));
    setUpdatesEnabled(false);
    setStopButton(false);
    openRepButton->setEnabled(true);
    openRepButton->setVisible(true);
    set_retry(true, true);
    const bool transferring = m_thread && m_thread->isRunning();
    if (m_thread)
        m_thread->request_stop();
    setUpdatesEnabled(true);
    if (!transferring && (m_retry_timer.isActive() || m_stopped) && !m_finished) {
        // Between two tries (or before any): nothing will report, so the row ends here.
        m_retry_timer.stop();
        if (m_stopped_by_user)
            downloadInfoLabel->setText(tr("Arrêt Utilisateur"));
        finished();
    }
}

void DownloadMultiItems_Presentation::tryAgain()
{
    info(QStringLiteral("try Again ") + QString::number(m_error ? 1 : 0));
    if (m_error) {
        info(QStringLiteral("tryAgain :: tryAgainFromError"));
        set_retry(true, true);
        m_error = false;
        emit tryAgainFromError(m_itemType);
        return;
    }
    // Both stop flags go: a job started again is not stopped.
    m_stopped = false;
    m_stopped_by_user = false;
    m_finished = false;
    m_started = true;
    m_error = false;
    if (tryAgainButton->isEnabled()) {
        set_retry(false, false);
        setStopButton(true);
        openRepButton->setEnabled(false);
        openRepButton->setVisible(false);
        setProgressShown(true);
        start_downloading_item();
        emit statusChanged();
    }
}

void DownloadMultiItems_Presentation::finished()
{
    setProgressShown(false);
    setStopButton(false);
    openRepButton->setEnabled(true);
    openRepButton->setVisible(true);
    set_retry(m_stopped, m_stopped);
    setFinished();
    ZQLog::log(QStringLiteral("[INFO] Download Multi Items Presentation ::finished :: downloadInfoLabel :: ")
               + downloadInfoLabel->text());
    emit statusChanged();
}

void DownloadMultiItems_Presentation::open()
{
    info(QStringLiteral("ERROR SIMULATION"));
    downloadInfoLabel->setText(QStringLiteral("ERREUR SIMULEE"));
    set_retry(true, true);
    stop();
    m_error = true;
}

void DownloadMultiItems_Presentation::openRep()
{
    if (m_destination.isEmpty())
        return;
    info(QStringLiteral("open rep :: ") + m_destination);
    zq::platform::open_with_shell(m_destination);
}
