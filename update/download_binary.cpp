#include "update/download_binary.h"

#include "app/http_singleton.h"
#include "app/sha256.h"
#include "app/zq_log.h"
#include "platform/desktop_shell.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSaveFile>
#include <QSslCertificate>
#include <QStandardPaths>
#include <QTimer>

using namespace zq::update;

namespace {

const char kErrorProperty[] = "zq_error";
const char kHandledProperty[] = "handled";
constexpr int kMetadataTimeoutMs = 15000;
constexpr int kDownloadTimeoutMs = 600000;
constexpr int kMaxRedirects = 5;


// The text a finished reply failed with: ours when we stopped it, else Qt's.
QString replyError(QNetworkReply* reply)
{
    const QString ours = reply->property(kErrorProperty).toString();
    return ours.isEmpty() ? reply->errorString() : ours;
}

// The body of a finished listing, index or changelog reply; empty with the
// reason when it is larger than any of them may be.
QByteArray readCapped(QNetworkReply* reply, QString* error)
{
    if (reply->bytesAvailable() > kMaxMetadataBytes) {
        *error = QStringLiteral("Réponse trop volumineuse.");
        return {};
    }
    return reply->readAll();
}

void failReply(QNetworkReply* reply, const QString& text)
{
    if (!reply)
        return;
    if (reply->property(kErrorProperty).toString().isEmpty())
        reply->setProperty(kErrorProperty, text);
    reply->abort();
}

// Empty when a redirect hop may be followed: https, or http on a loopback
// host, and never from https down to http.
QString refusedRedirect(const QUrl& from, const QUrl& to)
{
    const QString why = refusedUrlReason(to);
    if (!why.isEmpty())
        return why;
    if (from.scheme().compare(QLatin1String("https"), Qt::CaseInsensitive) == 0
        && to.scheme().compare(QLatin1String("https"), Qt::CaseInsensitive) != 0)
        return QStringLiteral("Redirection de https vers http refusée : %1").arg(to.toString());
    return {};
}

QString productFolderName()
{
    QString key = Http_singleton::instance()->get_display_name();
    key.remove(QLatin1Char(' '));
    const QString digest =
        QString::fromLatin1(QCryptographicHash::hash(key.toUtf8(), QCryptographicHash::Md5).toHex());
    return digest.left(5) + QStringLiteral("_") + key + QStringLiteral("/");
}

QString withSlash(QString path)
{
    if (!path.endsWith(QLatin1Char('/')))
        path += QLatin1Char('/');
    return path;
}

} // namespace

DownloadBinary::DownloadBinary(QString currentVersion, QWidget* dialogParent, QObject* parent)
    : QObject(parent)
    , m_current_version(std::move(currentVersion))
    , m_current(VersionStamp::fromRunningText(m_current_version))
    , m_dialog_parent(dialogParent)
    , m_network(new QNetworkAccessManager(this))
    , m_platform_key(defaultPlatformKey())
    , m_opener([](const QString& path) { return zq::platform::open_with_shell(path); })
    , m_clock([] { return QDateTime::currentMSecsSinceEpoch(); })
{
}

DownloadBinary::~DownloadBinary()
{
    abortCurrent();
}

void DownloadBinary::setQuitAfterLaunch(bool quit)
{
    m_quit_after_launch = quit;
}

int DownloadBinary::metadataTimeout() const
{
    const qint64 left = m_budget.remainingTime();
    if (left < 0)
        return kMetadataTimeoutMs;
    return int(std::clamp<qint64>(left, 1, kMetadataTimeoutMs));
}

void DownloadBinary::abortCurrent()
{
    if (m_transfer) {
        m_transfer->stopAndWait();
        m_transfer.reset();
        closeProgressDialog();
    }
    if (m_reply) {
        QNetworkReply* reply = m_reply;
        m_reply = nullptr;
        reply->disconnect(this);
        reply->abort();
        reply->deleteLater();
    }
    if (m_save_file) {
        m_save_file->cancelWriting();
        m_save_file.reset();
    }
}

QNetworkReply* DownloadBinary::get(const QUrl& url, int timeoutMs, bool metadata, QString* refused)
{
    const QString reason = refusedUrlReason(url);
    if (!reason.isEmpty()) {
        if (refused)
            *refused = reason;
        return nullptr;
    }
    QNetworkRequest request(url);
    request.setHeader(QNetworkRequest::UserAgentHeader, QStringLiteral("AutoUpdate/%1").arg(m_current_version));
    // Every hop is checked by us: https, or http on a loopback host, and
    // never from https down to http.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::UserVerifiedRedirectPolicy);
    request.setMaximumRedirectsAllowed(kMaxRedirects);
    request.setTransferTimeout(timeoutMs);
    if (m_ssl)
        request.setSslConfiguration(*m_ssl);
    QNetworkReply* reply = m_network->get(request);
    reply->setProperty("zq_hop", url);
    connect(reply, &QNetworkReply::redirected, reply, [reply](const QUrl& target) {
        const QString why = refusedRedirect(reply->property("zq_hop").toUrl(), target);
        if (!why.isEmpty()) {
            failReply(reply, why);
            return;
        }
        reply->setProperty("zq_hop", target);
        emit reply->redirectAllowed();
    });
    connect(reply, &QNetworkReply::sslErrors, this, &DownloadBinary::handleSslErrors);
    if (metadata) {
        connect(reply, &QNetworkReply::downloadProgress, reply, [reply](qint64 received, qint64 total) {
            if (received > kMaxMetadataBytes || total > kMaxMetadataBytes)
                failReply(reply, QStringLiteral("Réponse trop volumineuse."));
        });
    }
    m_reply = reply;
    return reply;
}

void DownloadBinary::handleOnce(QNetworkReply* reply, void (DownloadBinary::*handler)(QNetworkReply*))
{
    reply->setProperty(kHandledProperty, false);
    auto run = [this, reply, handler] {
        if (reply->property(kHandledProperty).toBool())
            return;
        reply->setProperty(kHandledProperty, true);
        (this->*handler)(reply);
    };
    if (reply->isFinished()) {
        run();
        return;
    }
    connect(reply, &QNetworkReply::finished, this, run);
}

void DownloadBinary::releaseReply(QNetworkReply* reply)
{
    if (m_reply == reply)
        m_reply = nullptr;
    reply->deleteLater();
}

void DownloadBinary::requestTrackList()
{
    const QUrl base = QUrl::fromUserInput(Http_singleton::instance()->get_apps_url());
    QUrl url = base;
    url.setPath(withSlash(base.path(QUrl::FullyDecoded)) + productFolderName(), QUrl::DecodedMode);
    m_track_list_url = url;
    m_version_folder.clear();
    m_testing_allowed = false;
    m_fallback_done = false;
    m_chosen_asset.reset();
    abortCurrent();
    emit updateCheckStarted(url);
    QString refused;
    QNetworkReply* reply = get(url, metadataTimeout(), true, &refused);
    if (!reply) {
        emit updateCheckFailed(refused);
        return;
    }
    handleOnce(reply, &DownloadBinary::onTrackListFinished);
}

QString DownloadBinary::channelIndexPath(const QString& channel) const
{
    return withSlash(m_track_list_url.path(QUrl::FullyDecoded)) + m_version_folder + QStringLiteral("/") + channel
           + QStringLiteral("/index.json");
}

void DownloadBinary::requestMetaJson(const QString& channel)
{
    abortCurrent();
    QUrl url = m_track_list_url;
    url.setPath(channelIndexPath(channel), QUrl::DecodedMode);
    m_index_url = url;
    emit updateCheckStarted(url);
    QString refused;
    QNetworkReply* reply = get(url, metadataTimeout(), true, &refused);
    if (!reply) {
        emit updateCheckFailed(refused);
        return;
    }
    handleOnce(reply, &DownloadBinary::onMetaJsonFinished);
}

void DownloadBinary::onTrackListFinished(QNetworkReply* reply)
{
    if (reply->error() != QNetworkReply::NoError) {
        const QString error = replyError(reply);
        releaseReply(reply);
        emit updateCheckFailed(error);
        return;
    }
    QString tooLarge;
    const QByteArray body = readCapped(reply, &tooLarge);
    releaseReply(reply);
    if (!tooLarge.isEmpty()) {
        emit updateCheckFailed(tooLarge);
        return;
    }
    m_version_folder = chooseVersionFolder(parseVersionFolders(body), m_current.version);
    m_testing_allowed = m_current.dev_stamp > 0
                        || Http_singleton::instance()->get_version().contains(QLatin1String(".DEV"))
                        || Http_singleton::instance()->get_version().contains(QLatin1String(".patch"));
    m_channel = QStringLiteral("STABLE");
    requestMetaJson(m_channel);
}

bool DownloadBinary::testingFallBack()
{
    if (!m_testing_allowed || m_channel != QLatin1String("STABLE") || m_fallback_done)
        return false;
    m_fallback_done = true;
    m_channel = QStringLiteral("TESTING");
    requestMetaJson(m_channel);
    return true;
}

void DownloadBinary::onMetaJsonFinished(QNetworkReply* reply)
{
    if (reply->error() != QNetworkReply::NoError) {
        const QString error = replyError(reply);
        releaseReply(reply);
        if (!testingFallBack())
            emit updateCheckFailed(error);
        return;
    }
    QString tooLarge;
    const QByteArray body = readCapped(reply, &tooLarge);
    releaseReply(reply);
    if (!tooLarge.isEmpty()) {
        if (!testingFallBack())
            emit updateCheckFailed(tooLarge);
        return;
    }
    m_changelog_url = findChangelogUrl(body);
    const QList<ReleaseAsset> assets = parseAssets(body);
    SelectionRules rules;
    rules.platformKey = m_platform_key;
    rules.running = m_current;
    rules.testBuild = m_testing_allowed;
    rules.channel = m_channel;
    rules.buildSwitch = Http_singleton::instance()->build_flag();
    rules.programInBinFolder =
        QFileInfo(QCoreApplication::applicationDirPath()).fileName().compare(QLatin1String("bin"), Qt::CaseInsensitive)
        == 0;
    const Selection selection = selectAsset(assets, rules);
    switch (selection.outcome) {
    case Selection::Outcome::NoAsset:
        m_chosen_asset.reset();
        if (!testingFallBack())
            emit updateCheckFailed(tr("JSON vide ou invalide (aucun asset)."));
        return;
    case Selection::Outcome::NoCompatible:
        m_chosen_asset.reset();
        if (!testingFallBack())
            emit updateCheckFailed(tr("Aucun binaire compatible pour cette plateforme."));
        return;
    case Selection::Outcome::NoDigest:
        m_chosen_asset.reset();
        if (!testingFallBack())
            emit updateCheckFailed(tr("Aucun binaire vérifiable pour cette plateforme : empreinte SHA-256 absente."));
        return;
    case Selection::Outcome::NotNewer:
        m_chosen_asset.reset();
        if (!testingFallBack())
            emit noUpdateAvailable(m_current.version);
        return;
    case Selection::Outcome::Chosen:
        break;
    }
    m_chosen_asset = selection.asset;
    m_remote_version = selection.asset.version;
    emit updateAvailable(m_current.version, m_remote_version, QString(), selection.asset.url, selection.asset.sha256);
}

void DownloadBinary::handleSslErrors(const QList<QSslError>& errors)
{
    if (errors.isEmpty())
        return;
    auto* reply = qobject_cast<QNetworkReply*>(sender());
    if (!reply)
        reply = m_reply;
    // The failure is reported once, by the finished reply, with this text.
    failReply(reply, QStringLiteral("Erreur SSL: %1").arg(errors.first().errorString()));
}

QByteArray DownloadBinary::makeRequest(QNetworkAccessManager* manager, const QUrl& url, QString* error)
{
    const QString reason = refusedUrlReason(url);
    if (!reason.isEmpty()) {
        if (error)
            *error = reason;
        return {};
    }
    if (m_budget.hasExpired()) {
        if (error)
            *error = QStringLiteral("Délai de vérification de mise à jour dépassé.");
        return {};
    }
    QNetworkAccessManager* previous = m_network;
    m_network = manager;
    QNetworkReply* reply = get(url, metadataTimeout(), true, nullptr);
    m_network = previous;
    m_reply = nullptr; // the changelog is no download and no check step
    QEventLoop loop;
    connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    QTimer budget;
    budget.setSingleShot(true);
    connect(&budget, &QTimer::timeout, reply,
            [reply] { failReply(reply, QStringLiteral("Délai de vérification de mise à jour dépassé.")); });
    if (!m_budget.isForever())
        budget.start(int(std::max<qint64>(0, m_budget.remainingTime())));
    if (!reply->isFinished())
        loop.exec();
    QByteArray body;
    QString failure;
    if (reply->error() == QNetworkReply::NoError)
        body = readCapped(reply, &failure);
    else
        failure = replyError(reply);
    if (error)
        *error = failure;
    reply->deleteLater();
    return body;
}

QString DownloadBinary::promptText() const
{
    QString current = m_current.version.toString();
    if (m_current.dev_stamp > 0)
        current += QStringLiteral(" (TESTING, %1)").arg(devStampText(m_current.dev_stamp));
    QString remote = m_remote_version.toString();
    QStringList tags;
    if (!m_channel.isEmpty())
        tags << m_channel;
    if (m_chosen_asset && m_chosen_asset->dev_stamp > 0)
        tags << QStringLiteral(" %1").arg(devStampText(m_chosen_asset->dev_stamp));
    if (!tags.isEmpty())
        remote += QStringLiteral(" (") + tags.join(QStringLiteral(", ")) + QStringLiteral(")");
    QString fileName;
    QString sizeText = QStringLiteral("inconnue");
    QString platform;
    if (m_chosen_asset) {
        fileName = m_chosen_asset->name.isEmpty() ? m_chosen_asset->url.fileName() : m_chosen_asset->name;
        if (m_chosen_asset->size > 0)
            sizeText = formatSize(m_chosen_asset->size);
        platform = m_chosen_asset->arch;
    }
    QString text = QStringLiteral("Version actuelle : %1\nVersion disponible : %2").arg(current, remote);
    if (!fileName.isEmpty())
        text += QStringLiteral("\nFichier : %1").arg(fileName);
    text += QStringLiteral("\nTaille : %1").arg(sizeText);
    if (!platform.isEmpty())
        text += QStringLiteral("\nPlateforme : %1").arg(platform);
    return text;
}

bool DownloadBinary::checkAndPrompt(bool prompt)
{
    m_installer_launched = false;
    if (!m_ui) {
        if (!m_desktop_ui)
            m_desktop_ui = std::make_unique<DesktopDownloadBinaryUi>(m_dialog_parent);
        m_ui = m_desktop_ui.get();
    }
    Http_singleton* context = Http_singleton::instance();
    if (context->get_apps_url().isEmpty()) {
        ZQLog::log("[INFO] Update :: release server not configured");
        context->set_update_ok(false);
        return true;
    }

    bool available = false;
    bool failed = false;
    QUrl packageUrl;
    QString sha256;
    m_budget = QDeadlineTimer(m_budget_ms);

    QEventLoop loop;
    QList<QMetaObject::Connection> connections;
    connections << connect(this, &DownloadBinary::updateAvailable, &loop,
                           [&](QVersionNumber, QVersionNumber remote, QString, QUrl url, QString hash) {
                               available = true;
                               context->set_update_ok(true);
                               m_remote_version = remote;
                               packageUrl = url;
                               sha256 = hash;
                               loop.quit();
                           });
    connections << connect(this, &DownloadBinary::noUpdateAvailable, &loop, [&](QVersionNumber) {
        ZQLog::log("[INFO] Auto Update :: no update available");
        available = false;
        loop.quit();
    });
    connections << connect(this, &DownloadBinary::updateCheckFailed, &loop, [&](const QString& error) {
        ZQLog::log(QStringLiteral("[WARN] Auto Update :: check failed :: ") + error);
        available = false;
        failed = true;
        loop.quit();
    });
    // A server that trickles bytes never trips the transfer time-out: the
    // whole check has one budget, after which the request in flight stops.
    QTimer budget;
    budget.setSingleShot(true);
    connect(&budget, &QTimer::timeout, this, [this] {
        failReply(m_reply, QStringLiteral("Délai de vérification de mise à jour dépassé."));
    });
    budget.start(m_budget_ms);

    bool done = false;
    connections << connect(this, &DownloadBinary::updateAvailable, &loop, [&] { done = true; });
    connections << connect(this, &DownloadBinary::noUpdateAvailable, &loop, [&] { done = true; });
    connections << connect(this, &DownloadBinary::updateCheckFailed, &loop, [&] { done = true; });
    requestTrackList();
    if (!done)
        loop.exec();
    budget.stop();
    for (const auto& c : std::as_const(connections))
        disconnect(c);

    if (!(available && packageUrl.isValid() && !failed)) {
        if (!available) {
            ZQLog::log("[INFO] Auto Update :: no update available");
            context->set_update_ok(true);
        }
        if (!packageUrl.isEmpty() && !packageUrl.isValid()) {
            ZQLog::log(QStringLiteral("[WARN] Auto Update :: update url not valid :: ") + packageUrl.toString());
            context->set_update_ok(false);
        }
        if (failed) {
            ZQLog::log("[WARN] Auto Update :: failed to get update");
            context->set_update_ok(false);
        }
        return true;
    }
    m_package_url = packageUrl;
    m_expected_sha256 = sha256.trimmed();

    if (prompt) {
        QString details;
        if (m_changelog_url.isValid()) {
            const QByteArray body = makeRequest(m_network, m_changelog_url);
            if (!body.isEmpty()) {
                QString changelog = QString::fromUtf8(body);
                if (changelog.size() > 12000)
                    changelog = changelog.left(12000) + QStringLiteral("\n") + QChar(0x2026);
                details = QStringLiteral("%1").arg(changelog);
            }
        }
        if (!m_expected_sha256.isEmpty()) {
            if (!details.isEmpty())
                details += QStringLiteral("\n");
            details += QStringLiteral("SHA-256 : %1").arg(m_expected_sha256);
        }
        if (!m_ui->askUpdate(QStringLiteral("Mise à jour disponible"), promptText(),
                             QStringLiteral("Télécharger et installer maintenant ?"), details))
            return true;
    }
    return downloadPhase();
}

bool DownloadBinary::downloadPhase()
{
    // No message box reports how the download ended: the outcome goes to the
    // log and start-up goes on.
    QEventLoop loop;
    bool finished = false;
    bool ended = false;
    QString target;
    QList<QMetaObject::Connection> connections;
    connections << connect(this, &DownloadBinary::downloadFinished, &loop, [&](const QString& path) {
        finished = true;
        ended = true;
        target = path;
        loop.quit();
    });
    connections << connect(this, &DownloadBinary::downloadFailed, &loop, [&](const QString& error) {
        finished = false;
        ended = true;
        ZQLog::log(QStringLiteral("[WARN] Auto Update :: download failed :: ") + error);
        loop.quit();
    });
    connections << connect(this, &DownloadBinary::verificationFailed, &loop,
                           [&](const QString& expected, const QString& actual) {
                               finished = false;
                               ended = true;
                               ZQLog::log(QStringLiteral("[WARN] Auto Update :: verification failed, file removed "
                                                         ":: expected ")
                                          + expected + QStringLiteral(" :: actual ") + actual);
                               loop.quit();
                           });
    connections << connect(this, &DownloadBinary::installerLaunchFailed, &loop, [&](const QString& error) {
        ZQLog::log(QStringLiteral("[WARN] Auto Update :: installer not opened :: ") + error + QStringLiteral(" :: ")
                   + QDir::toNativeSeparators(target));
    });
    const qint64 size = m_chosen_asset ? m_chosen_asset->size : 0;
    startDownload(m_package_url, QString(), m_expected_sha256, m_quit_after_launch, true, size);
    if (!ended)
        loop.exec();
    for (const auto& c : std::as_const(connections))
        disconnect(c);
    return !finished;
}

void DownloadBinary::startDownload(const QUrl& url, const QString& suggestedName, const QString& sha256,
                                   bool quitAfterLaunch, bool interactive, qint64 announcedSize)
{
    abortCurrent();
    m_package_url = url;
    m_expected_sha256 = sha256.trimmed();
    m_quit_after_launch = quitAfterLaunch;
    m_announced_size = announcedSize > 0 ? announcedSize : 0;
    m_installer_launched = false;
    if (!m_ui) {
        if (!m_desktop_ui)
            m_desktop_ui = std::make_unique<DesktopDownloadBinaryUi>(m_dialog_parent);
        m_ui = m_desktop_ui.get();
    }

    // Nothing unverifiable is ever written or opened.
    if (normalizedDigest(m_expected_sha256).isEmpty()) {
        emit downloadFailed(tr("Aucune empreinte SHA-256 annoncée : téléchargement refusé."));
        return;
    }
    const QString refused = refusedUrlReason(url);
    if (!refused.isEmpty()) {
        emit downloadFailed(refused);
        return;
    }

    QString folder = m_download_folder;
    if (folder.isEmpty())
        folder = QStandardPaths::writableLocation(QStandardPaths::DownloadLocation);
    if (folder.isEmpty())
        folder = QDir::homePath();
    QDir().mkpath(folder);
    const QString urlName = url.fileName(QUrl::FullyDecoded);
    const QString name = safeFileName(suggestedName.isEmpty() ? urlName : suggestedName);
    QString target = QDir(folder).filePath(name);
    if (interactive) {
        target = m_ui->askSaveFile(QStringLiteral("Enregistrer la mise à jour"), target,
                                   QStringLiteral("Fichier (%1)").arg(QStringLiteral("*.") + QFileInfo(name).suffix()));
        if (target.isEmpty()) {
            emit downloadFailed(tr("Opération annulée par l’utilisateur."));
            return;
        }
    }
    m_target_path = target;

    // Never write through a link or onto anything but a regular file.
    const QFileInfo targetInfo(target);
    auto file = std::make_unique<QSaveFile>(target);
    if (targetInfo.isSymLink() || (targetInfo.exists() && !targetInfo.isFile())
        || !file->open(QIODevice::WriteOnly)) {
        emit downloadFailed(tr("Impossible d’ouvrir le fichier destination."));
        return;
    }
    m_save_file = std::move(file);

    PackageTransfer::Options options;
    options.url = url;
    options.userAgent = QStringLiteral("AutoUpdate/%1").arg(m_current_version).toUtf8();
    if (m_ssl) {
        for (const QSslCertificate& ca : m_ssl->caCertificates())
            options.caPem += ca.toPem();
    }
    options.limit = m_announced_size > 0 ? std::min(m_announced_size, kMaxDownloadBytes) : kMaxDownloadBytes;
    options.stallSeconds = kDownloadTimeoutMs / 1000;
    options.maxRedirects = kMaxRedirects;
    options.redirectRule = [](const QUrl& from, const QUrl& to) { return refusedRedirect(from, to); };
    m_transfer = std::make_unique<PackageTransfer>(options, m_save_file.get());
    connect(m_transfer.get(), &PackageTransfer::progress, this, [this, interactive](qint64 received, qint64 total) {
        emit downloadProgress(received, total);
        if (interactive)
            updateProgressLabel(received, total);
    });
    connect(m_transfer.get(), &PackageTransfer::finished, this, &DownloadBinary::onDownloadFinished);
    if (interactive)
        showProgressDialog(QStringLiteral("Téléchargement de la mise à jour"),
                           suggestedName.isEmpty() ? urlName : suggestedName);
    emit downloadStarted(url, target);
    m_transfer->start();
}

void DownloadBinary::onDownloadFinished(PackageTransfer::Outcome outcome, const QString& error)
{
    if (!m_transfer)
        return;
    // The worker has reported its last word: join it before touching the file.
    m_transfer->stopAndWait();
    const QString actual = m_transfer->hexDigest();
    m_transfer.reset();
    closeProgressDialog();

    auto failDownload = [this](const QString& text) {
        if (m_save_file) {
            m_save_file->cancelWriting();
            m_save_file.reset();
        }
        emit downloadFailed(text);
    };
    if (outcome == PackageTransfer::Outcome::Cancelled) {
        failDownload(tr("Téléchargement annulé."));
        return;
    }
    if (outcome == PackageTransfer::Outcome::Failed) {
        failDownload(error);
        return;
    }
    if (!m_save_file) {
        failDownload(tr("Échec de l’enregistrement du fichier."));
        return;
    }
    if (normalizedDigest(m_expected_sha256) != actual) {
        m_save_file->cancelWriting();
        m_save_file.reset();
        emit verificationFailed(m_expected_sha256, actual);
        return;
    }
    const bool committed = m_save_file->commit();
    m_save_file.reset();
    if (!committed) {
        emit downloadFailed(tr("Échec de l’enregistrement du fichier."));
        return;
    }
    const QString target = m_target_path;
    emit downloadFinished(target);
    if (m_opener && m_opener(target)) {
        m_installer_launched = true;
        emit installerLaunched(target);
        if (m_quit_after_launch && QCoreApplication::instance())
            QTimer::singleShot(100, QCoreApplication::instance(), &QCoreApplication::quit);
    } else {
        emit installerLaunchFailed(tr("Impossible d’ouvrir le fichier téléchargé."));
    }
}

void DownloadBinary::showProgressDialog(const QString& title, const QString& fileName)
{
    if (m_progress_shown || !m_ui)
        return;
    m_progress_shown = true;
    const QString label = QStringLiteral("Téléchargement du paquet\nFichier : %1")
                              .arg(fileName.isEmpty() ? QStringLiteral("(inconnu)") : fileName);
    QPointer<PackageTransfer> transfer = m_transfer.get();
    m_ui->showProgress(title.isEmpty() ? QStringLiteral("Téléchargement en cours…") : title, label, [transfer] {
        if (transfer)
            transfer->cancel();
    });
    m_ui->setProgress(100, 0);
    m_last_received = 0;
    m_last_label_update = m_clock();
}

void DownloadBinary::updateProgressLabel(qint64 received, qint64 total)
{
    if (!m_progress_shown || !m_ui)
        return;
    if (total > 0)
        m_ui->setProgress(100, int(std::clamp<qint64>(received * 100 / total, 0, 100)));
    else
        m_ui->setProgress(0, 0);
    const qint64 now = m_clock();
    const qint64 elapsed = now - m_last_label_update;
    if (elapsed < 250)
        return;
    const qint64 delta = std::max<qint64>(received - m_last_received, 0);
    const double rate = double(delta) * 1000.0 / double(elapsed);
    const QString rateText =
        rate > 0 ? QStringLiteral("%1/s").arg(formatSize(qint64(rate))) : QStringLiteral("—");
    QString extra;
    if (total >= 1 && rate > 1.0) {
        const qint64 remaining = qint64(double(total - received) / rate);
        extra = QStringLiteral("\nReçu : %1 / %2  ·  Débit : %3  ·  Restant : %4")
                    .arg(formatSize(received), formatSize(total), rateText, formatDuration(remaining));
    } else if (received >= 1) {
        extra = QStringLiteral("\nReçu : %1  ·  Débit : %2").arg(formatSize(received), rateText);
    }
    const QString label = m_ui->progressLabel();
    m_ui->setProgressLabel(label.section(QLatin1Char('\n'), 0, 0) + extra);
    m_last_received = received;
    m_last_label_update = now;
}

void DownloadBinary::closeProgressDialog()
{
    if (!m_progress_shown || !m_ui)
        return;
    m_progress_shown = false;
    m_ui->closeProgress();
}
