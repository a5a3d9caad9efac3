#include "download/download_item_presentation.h"

#include "app/zq_log.h"
#include "download/squeeze_label.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkRequest>
#include <QProgressBar>
#include <QPushButton>
#include <QSettings>
#include <QStandardPaths>

namespace {
constexpr qsizetype kErrorBodyCap = 64 * 1024;
constexpr int kTransferTimeoutMs = 60000; // no byte for a minute ends the transfer
}

DownloadItem_Presentation::DownloadItem_Presentation(Download_presentation* window, QString fileName)
    : Presentation_Interface(nullptr)
    , m_fileName(std::move(fileName))
    , m_output(m_fileName)
{
    Q_UNUSED(window);
    setUpRow(m_fileName);
    m_finished = true;
    m_started = false;
    m_error = false;
}

DownloadItem_Presentation::~DownloadItem_Presentation()
{
    release_reply();
}

void DownloadItem_Presentation::release_reply()
{
    if (QNetworkReply* reply = m_reply) {
        m_reply = nullptr;
        disconnect(reply, nullptr, this, nullptr);
        reply->abort();
        reply->deleteLater();
    }
    if (m_save)
        m_save->cancelWriting();
    m_save.reset();
}

QString DownloadItem_Presentation::getFileName()
{
    ZQLog::log("[INFO] DownloadItem_Presentation::getFileName");
    QSettings settings;
    settings.beginGroup(QStringLiteral("downloadmanager"));
    QString folder = settings
                         .value(QStringLiteral("downloadDirectory"),
                                QStandardPaths::writableLocation(QStandardPaths::DesktopLocation))
                         .toString();
    settings.endGroup();
    if (!folder.isEmpty() && !folder.endsWith(QLatin1Char('/')))
        folder += QLatin1Char('/');
    const QFileInfo part(m_url.path());
    QString base = part.completeBaseName();
    if (base.isEmpty() || base == QLatin1String(".") || base == QLatin1String(".."))
        base = QStringLiteral("unnamed_download");
    const QString suffix = part.suffix();
    const auto make = [&](const QString& name) {
        return folder + name + (suffix.isEmpty() ? QString() : QLatin1Char('.') + suffix);
    };
    QString path = make(base);
    for (int i = 1; QFileInfo::exists(path) && i < 100000; ++i)
        path = make(base + QLatin1Char('-') + QString::number(i));
    return path;
}

void DownloadItem_Presentation::init()
{
    ZQLog::log("[INFO] DownloadItem_Presentation::Init");
    if (!m_reply)
        return;
    m_started = true;
    m_finished = false;
    m_error = false;
    m_errorReply = false;
    m_userStop = false;
    m_errorBody.clear();
    m_url = m_reply->url();
    // Certificates are verified: no SSL error is ignored.
    connect(m_reply, &QNetworkReply::readyRead, this, &DownloadItem_Presentation::downloadReadyRead);
    connect(m_reply, &QNetworkReply::errorOccurred, this,
            qOverload<QNetworkReply::NetworkError>(&DownloadItem_Presentation::error));
    connect(m_reply, &QNetworkReply::downloadProgress, this, &DownloadItem_Presentation::downloadProgress);
    connect(m_reply, &QNetworkReply::metaDataChanged, this, &DownloadItem_Presentation::metaDataChanged);
    connect(m_reply, &QNetworkReply::finished, this, &DownloadItem_Presentation::replyFinished);
    downloadInfoLabel->setText(QString());
    progressBar->setValue(0);
    progressBar->setMaximum(0);
    progressBar->setMinimum(0);
    m_timer.start();
    ZQLog::log("[INFO] DownloadItem_Presentation::Init Done");
}

void DownloadItem_Presentation::issue_request()
{
    release_reply();
    const QString scheme = m_url.scheme().toLower();
    if (!m_manager || !m_url.isValid() || (scheme != QLatin1String("http") && scheme != QLatin1String("https"))) {
        fail_with(tr("Erreur réseau : %1").arg(tr("adresse non prise en charge")));
        return;
    }
    QNetworkRequest request(m_url);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    request.setMaximumRedirectsAllowed(5);
    request.setTransferTimeout(kTransferTimeoutMs);
    // The body as sent, never decompressed on the way: its length is then the announced one.
    request.setRawHeader("Accept-Encoding", "identity");
    if (m_hasSsl)
        request.setSslConfiguration(m_ssl);
    m_written = 0;
    m_reply = m_manager->get(request);
    // Bounded reads: a large file never sits whole in the reply's buffer.
    m_reply->setReadBufferSize(1 << 20);
    init();
}

void DownloadItem_Presentation::fail_with(const QString& text)
{
    downloadInfoLabel->setText(text);
    setTryAgain(true);
    setStopButton(false);
    setProgressShown(false);
    setOpenButtons(false);
    if (m_save)
        m_save->cancelWriting();
    m_save.reset();
    m_error = true;
    m_finished = true;
    m_started = false;
    emit statusChanged();
}

void DownloadItem_Presentation::setFinished()
{
    m_finished = true;
    m_started = false;
}

void DownloadItem_Presentation::setStarted()
{
    m_started = true;
    m_finished = false;
}

void DownloadItem_Presentation::start_downloading_item()
{
    ZQLog::log(QStringLiteral("[INFO] DownloadItem_Presentation :: start downloading item :: from url :: ") + m_urlText);
    setStarted();
    setStopButton(true);
    setOpenButtons(false);
    setProgressShown(true);
    m_url = QUrl::fromUserInput(m_urlText);
    if (m_manager)
        issue_request();
}

void DownloadItem_Presentation::finished()
{
    setProgressShown(false);
    setStopButton(false);
    setOpenButtons(true);
    if (m_output.isOpen())
        m_output.close();
    setFinished();
    ZQLog::log(QStringLiteral("[INFO] DownloadItem_Presentation::finished :: downloadInfoLabel :: ")
               + downloadInfoLabel->text());
    emit statusChanged();
}

void DownloadItem_Presentation::stop()
{
    ZQLog::log("[INFO] DownloadItem_Presentation::stop");
    setUpdatesEnabled(false);
    setStopButton(false);
    setOpenButtons(true);
    setTryAgain(true);
    setUpdatesEnabled(true);
    if (m_reply && m_reply->isRunning()) {
        // A stop by the user is not a failure: nothing is kept, the row offers to start again.
        m_userStop = true;
        m_reply->abort();
    }
}

void DownloadItem_Presentation::tryAgain()
{
    ZQLog::log(QStringLiteral("[INFO] DownloadItem_Presentation::tryAgain + ") + m_url.toString());
    if (!tryAgainOffered())
        return;
    setTryAgain(false);
    setStopButton(true);
    setOpenButtons(false);
    setProgressShown(true);
    if (m_manager) {
        issue_request();
        emit statusChanged();
    }
}

void DownloadItem_Presentation::error(QNetworkReply::NetworkError)
{
    // The reply's end says how it ended (one terminal path); nothing is decided here.
    ZQLog::log("[ERROR] DownloadItem_Presentation::error");
}

void DownloadItem_Presentation::downloadReadyRead()
{
    if (!m_reply)
        return;
    const QByteArray type = m_reply->header(QNetworkRequest::ContentTypeHeader).toString().toLatin1();
    const int status = m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (!m_errorReply && m_save == nullptr) {
        ZQLog::log(QStringLiteral("[INFO] DownloadItem_Presentation :: read data :: ") + QString::fromLatin1(type));
        m_errorReply = (status != 0 && (status < 200 || status > 299)) || type.contains("html") || type.contains("json");
    }
    if (m_errorReply) {
        // Kept for the message, capped; the rest of the page is drained.
        const QByteArray data = m_reply->readAll();
        m_errorBody.append(data.left(kErrorBodyCap - m_errorBody.size()));
        return;
    }
    if (!m_save) {
        if (m_fileName.isEmpty())
            m_fileName = getFileName();
        ZQLog::log(QStringLiteral("[INFO] DownloadItem_Presentation::m_output set filename ") + m_fileName);
        fileNameLabel->setText(QFileInfo(m_fileName).fileName());
        // A link at the target is replaced, never written through.
        if (QFileInfo(m_fileName).isSymLink())
            QFile::remove(m_fileName);
        m_save = std::make_unique<QSaveFile>(m_fileName);
        m_save->setDirectWriteFallback(false);
        if (!m_save->open(QIODevice::WriteOnly)) {
            ZQLog::log("[ERROR] DownloadItem_Presentation::m_output ERROR opening");
            const QString text = tr("Error opening save file : %1").arg(m_save->errorString());
            m_save.reset();
            m_reply->abort();
            fail_with(text);
            return;
        }
        emit statusChanged();
    }
    const QByteArray data = m_reply->readAll();
    m_written += data.size();
    if (m_save->write(data) != data.size()) {
        const QString text = tr("Erreur à l'enregistrement : %1").arg(m_save->errorString());
        m_reply->abort();
        fail_with(text);
    }
}

void DownloadItem_Presentation::replyFinished()
{
    QNetworkReply* reply = m_reply;
    if (!reply)
        return;
    if (!m_errorReply && reply->bytesAvailable() > 0)
        downloadReadyRead();
    m_reply = nullptr;
    reply->deleteLater();
    const QNetworkReply::NetworkError code = reply->error();
    if (m_userStop) {
        if (m_save)
            m_save->cancelWriting();
        m_save.reset();
        downloadInfoLabel->setText(tr("Arrêt de l'utilisateur."));
        setTryAgain(true);
        setStopButton(false);
        setProgressShown(false);
        setFinished();
        emit statusChanged();
        return;
    }
    if (m_errorReply) {
        const QByteArray type = reply->header(QNetworkRequest::ContentTypeHeader).toString().toLatin1();
        QString detail;
        if (type.contains("json")) {
            const QJsonValue v = QJsonDocument::fromJson(m_errorBody).object().value(QStringLiteral("ZQRETURN_CODE"));
            detail = v.isString() ? v.toString().left(1000) : QString();
        } else if (type.contains("html")) {
            detail = QString::fromUtf8(m_errorBody).simplified().left(1000);
        } else {
            detail = QStringLiteral("HTTP %1").arg(reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt());
        }
        fail_with(tr("Download Error - %1").arg(detail));
        return;
    }
    if (code != QNetworkReply::NoError) {
        fail_with(tr("Erreur réseau : %1").arg(reply->errorString()));
        return;
    }
    if (!m_save) {
        // An empty body: nothing to keep, and nothing may look like the file.
        fail_with(tr("Erreur réseau : %1").arg(tr("réponse vide")));
        return;
    }
    // Qt may end a reply whose connection closed mid-body without any error, depending on when
    // it sees the close: a body shorter (or longer) than announced is never taken as the file.
    const QVariant announced = reply->header(QNetworkRequest::ContentLengthHeader);
    if (announced.isValid() && announced.toLongLong() != m_written) {
        ZQLog::log(QStringLiteral("[ERROR] DownloadItem_Presentation :: incomplete body :: ") + QString::number(m_written)
                   + QStringLiteral(" / ") + QString::number(announced.toLongLong()));
        fail_with(tr("Erreur réseau : %1")
                      .arg(tr("transfert incomplet (%1 octets reçus sur %2)")
                               .arg(QString::number(m_written), QString::number(announced.toLongLong()))));
        return;
    }
    if (!m_save->commit()) {
        const QString text = tr("Erreur à l'enregistrement : %1").arg(m_save->errorString());
        m_save.reset();
        fail_with(text);
        return;
    }
    m_save.reset();
    finished();
}

void DownloadItem_Presentation::downloadProgress(qint64 bytesReceived, qint64 bytesTotal)
{
    m_bytesReceived = bytesReceived;
    showByteProgress(bytesReceived, bytesTotal, m_totalSizeText);
    updateInfoLabel();
}

void DownloadItem_Presentation::metaDataChanged()
{
}

void DownloadItem_Presentation::updateInfoLabel()
{
    const qint64 total = m_totalSizeText.isEmpty() ? progressBar->maximum() : m_totalSizeText.toLongLong() * 1024;
    downloadInfoLabel->setText(byteProgressLine(m_bytesReceived, total, m_timer.isValid() ? m_timer.elapsed() : 0,
                                                QFileInfo(m_fileName).size()));
}
