#include "update/package_transfer.h"

#include "app/curl_transfer.h"

#include <QMetaObject>
#include <QSaveFile>
#include <QThread>
#include <QUrl>

PackageTransfer::PackageTransfer(Options options, QSaveFile* file, QObject* parent)
    : QObject(parent)
    , m_options(std::move(options))
    , m_file(file)
{
    qRegisterMetaType<PackageTransfer::Outcome>();
}

PackageTransfer::~PackageTransfer()
{
    stopAndWait();
}

void PackageTransfer::start()
{
    m_thread = QThread::create([this] { run(); });
    m_thread->start();
}

void PackageTransfer::cancel()
{
    m_cancel.store(true);
    QMutexLocker lock(&m_transfer_lock);
    if (m_transfer)
        m_transfer->cancel();
}

void PackageTransfer::stopAndWait()
{
    if (!m_thread)
        return;
    m_silent.store(true);
    cancel();
    m_thread->wait();
    delete m_thread;
    m_thread = nullptr;
}

void PackageTransfer::run()
{
    zq::CurlTransfer::Options o;
    o.url = m_options.url.toEncoded();
    o.userAgent = m_options.userAgent;
    o.caPem = m_options.caPem;
    o.connectTimeoutSeconds = std::min(m_options.stallSeconds, 60);
    o.lowSpeedBytes = 1;
    o.lowSpeedSeconds = m_options.stallSeconds;
    o.followRedirects = true;
    o.maxRedirects = m_options.maxRedirects;
    o.progressIntervalMs = 50; // a few reports a second are enough for the bar and the label
    o.writeBackEarly = true;   // the save file is synced to disk when it is committed

    zq::CurlTransfer* current = nullptr;
    zq::CurlTransfer::Hooks h;
    // Only the 2xx answer is the package: a redirect's or an error's body is not written.
    h.route = [](long status) {
        return status >= 200 && status < 300 ? zq::CurlTransfer::Body::File : zq::CurlTransfer::Body::Skip;
    };
    const qint64 limit = m_options.limit;
    h.accept = [limit](qint64 received, qint64 announced) {
        return received <= (announced >= 0 && announced < limit ? announced : limit);
    };
    if (m_options.redirectRule) {
        auto rule = m_options.redirectRule;
        h.redirect = [rule](const QByteArray& from, const QByteArray& to) {
            return rule(QUrl::fromEncoded(from), QUrl::fromEncoded(to));
        };
    }
    h.progress = [this, &current](qint64, qint64 total, qint64, qint64) {
        if (m_silent.load() || !current)
            return;
        const long status = current->status();
        if (status < 200 || status >= 300)
            return;
        const qint64 received = current->fileBytes();
        m_received.store(received);
        QMetaObject::invokeMethod(
            this, [this, received, total] { emit progress(received, total > 0 ? total : -1); }, Qt::QueuedConnection);
    };

    zq::CurlTransfer transfer(o, h);
    current = &transfer;
    transfer.setFile(m_file);
    {
        QMutexLocker lock(&m_transfer_lock);
        m_transfer = &transfer;
    }
    if (m_cancel.load())
        transfer.cancel();
    const CURLcode code = transfer.perform();
    {
        QMutexLocker lock(&m_transfer_lock);
        m_transfer = nullptr;
    }
    m_received.store(transfer.fileBytes());

    Outcome outcome = Outcome::Failed;
    QString error;
    const long status = transfer.status();
    if (m_cancel.load()) {
        outcome = Outcome::Cancelled;
    } else if (transfer.refused()) {
        error = tr("Le fichier reçu dépasse la taille annoncée.");
    } else if (transfer.fileFailed()) {
        error = tr("Échec de l’enregistrement du fichier.");
    } else if (!transfer.redirectRefusal().isEmpty()) {
        error = transfer.redirectRefusal();
    } else if (code == CURLE_TOO_MANY_REDIRECTS) {
        error = tr("Trop de redirections.");
    } else if (code != CURLE_OK) {
        const QString detail = transfer.errorText(code);
        const bool tls = code == CURLE_PEER_FAILED_VERIFICATION || code == CURLE_SSL_CONNECT_ERROR
                         || code == CURLE_SSL_CACERT_BADFILE || code == CURLE_SSL_CERTPROBLEM;
        error = tls ? QStringLiteral("Erreur SSL: %1").arg(detail) : detail;
    } else if (status >= 300 && status < 400) {
        error = tr("Redirection sans destination.");
    } else if (status < 200 || status >= 300) {
        error = tr("Le serveur a répondu %1.").arg(status);
    } else {
        m_digest = transfer.hexDigest();
        outcome = Outcome::Done;
    }
    if (!m_silent.load())
        QMetaObject::invokeMethod(this, [this, outcome, error] { emit finished(outcome, error); },
                                  Qt::QueuedConnection);
}
