#include "crash/dump_sender.h"

#include "app/http_singleton.h"
#include "app/sha256.h"
#include "app/url_policy.h"
#include "app/zq_log.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHttpMultiPart>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkRequest>
#include <QTemporaryFile>
#include <QTimer>

namespace {

QHttpPart textPart(const QByteArray& key, const QByteArray& value)
{
    QHttpPart part;
    part.setRawHeader("Content-Disposition", "form-data; name=\"" + key + "\"");
    part.setBody(value);
    return part;
}

QHttpPart filePart(const QByteArray& key, const QString& fileName, QIODevice* device)
{
    QHttpPart part;
    part.setRawHeader("Content-Disposition",
                      "form-data; name=\"" + key + "\"; filename=\"" + fileName.toUtf8() + "\"");
    part.setRawHeader("Content-Type", "application/octet-stream");
    part.setBodyDevice(device);
    return part;
}

bool memberAccepted(const QJsonObject& reply, const QString& member)
{
    const QJsonValue value = reply.value(member);
    if (!value.isObject())
        return false;
    const QJsonObject o = value.toObject();
    const QJsonValue status = o.value(QLatin1String("status"));
    if (!status.isString())
        return false;
    const QString text = status.toString();
    if (text == QLatin1String("OK"))
        return true;
    if (!text.contains(QLatin1String("ERROR")))
        return false;
    const QJsonValue info = o.value(QLatin1String("status_info"));
    if (!info.isObject())
        return false;
    const QJsonValue code = info.toObject().value(QLatin1String("error_code"));
    return code.isDouble() && code.toDouble() == 4.0;
}

} // namespace

DumpSender::DumpSender(QObject* parent)
    : QObject(parent)
    , m_endpoint(configuredEndpoint())
{
}

DumpSender::~DumpSender() = default;

QUrl DumpSender::configuredEndpoint()
{
    const QString text = Http_singleton::instance()->get_crash_report_url().trimmed();
    if (text.isEmpty())
        return {};
    QUrl url(text, QUrl::StrictMode);
    if (url.isValid() && (url.path().isEmpty() || url.path() == QLatin1String("/")))
        url.setPath(QStringLiteral("/traitement"));
    return url;
}

DumpSender::Verdict DumpSender::parseReply(const QByteArray& body)
{
    Verdict verdict;
    if (body.size() > kMaxReplyBytes)
        return verdict;
    const QJsonDocument doc = QJsonDocument::fromJson(body);
    if (!doc.isObject())
        return verdict;
    const QJsonObject o = doc.object();
    verdict.dumpAccepted = memberAccepted(o, QStringLiteral("upload_file_minidump"));
    verdict.logAccepted = memberAccepted(o, QStringLiteral("upload_file_log"));
    return verdict;
}

QString DumpSender::sentDumpName(const QString& dumpPath)
{
    QString base = QFileInfo(dumpPath).fileName().section(QLatin1Char('.'), 0, 0);
    QString clean;
    for (const QChar c : std::as_const(base)) {
        if (c == QLatin1Char('"') || c == QLatin1Char('\\') || c.category() == QChar::Other_Control
            || c.category() == QChar::Separator_Line || c.category() == QChar::Separator_Paragraph)
            continue;
        clean += c;
    }
    if (clean.isEmpty())
        clean = QStringLiteral("crash");
    return clean + QStringLiteral(".dmp");
}

void DumpSender::finish(bool dumpAccepted, bool logAccepted, const QString& error)
{
    if (m_finished)
        return;
    m_finished = true;
    m_log_copy.reset();
    emit sendFinished(dumpAccepted, logAccepted, error);
    deleteLater();
}

void DumpSender::send(const QString& dumpPath)
{
    m_dump_path = dumpPath;
    Http_singleton* context = Http_singleton::instance();
    if (m_endpoint.isEmpty()) {
        ZQLog::log("[WARN] ZQDumpSender :: crash report server not configured");
        // Reported from the event loop, so that callers connected after send() hear it.
        QTimer::singleShot(0, this, [this] { finish(false, false, tr("Serveur de rapports non configuré.")); });
        return;
    }
    const QString refused = zq::refused_url_reason(m_endpoint);
    if (!refused.isEmpty()) {
        ZQLog::log(QStringLiteral("[WARN] ZQDumpSender :: ") + refused);
        QTimer::singleShot(0, this, [this, refused] { finish(false, false, refused); });
        return;
    }

    const QString productName = context->get_display_name();
    QString version = context->get_version();
    if (version.isEmpty())
        version = QStringLiteral("1.0.0");

    auto* multiPart = new QHttpMultiPart(QHttpMultiPart::FormDataType);
    auto* dump = new QFile(dumpPath, multiPart);
    const bool dumpOpen = dump->open(QIODevice::ReadOnly);
    QString dumpSha;
    if (dumpOpen) {
        zq::Sha256 hash;
        hash.addDevice(*dump);
        dumpSha = hash.hexDigest();
        dump->seek(0);
    }

    // The log goes out as it stood when the report was made: a copy taken
    // under the log's lock, so the lines written meanwhile are not counted.
    m_log_copy = std::make_unique<QTemporaryFile>();
    bool logOpen = false;
    if (m_log_copy->open()) {
        m_log_size = ZQLog::copyLogFile(m_log_copy->fileName());
        if (m_log_size >= 0) {
            m_log_copy->close();
            m_log_sha = zq::Sha256::ofFile(m_log_copy->fileName());
            logOpen = m_log_copy->open() && !m_log_sha.isEmpty();
        }
    }

    QList<QPair<QByteArray, QByteArray>> fields;
    fields.append({"os", Http_singleton::os_description().toUtf8()});
    fields.append({"product_name", productName.toUtf8()});
    fields.append({"version", version.toUtf8()});
    if (dumpOpen)
        fields.append({"dumpdate", QFileInfo(dumpPath)
                                       .lastModified()
                                       .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"))
                                       .toUtf8()});
    if (!m_email.isEmpty())
        fields.append({"email", m_email.toUtf8()});
    if (!m_comment.isEmpty())
        fields.append({"comment", m_comment.toUtf8()});
    if (logOpen)
        fields.append({"sha_log", m_log_sha.toLatin1()});
    if (dumpOpen)
        fields.append({"sha_dump", dumpSha.toLatin1()});
    for (const auto& field : std::as_const(fields)) {
        ZQLog::log(QStringLiteral("add to header    :: ") + QString::fromUtf8(field.first) + QStringLiteral("/")
                   + QString::fromUtf8(field.second.left(1000)));
        multiPart->append(textPart(field.first, field.second));
    }
    if (dumpOpen)
        multiPart->append(filePart("upload_file_minidump", sentDumpName(dumpPath), dump));
    if (logOpen)
        multiPart->append(filePart("upload_file_log", context->get_log_file_name(), m_log_copy.get()));

    QNetworkRequest request(m_endpoint);
    request.setRawHeader("Referer", m_endpoint.toString().toUtf8());
    request.setTransferTimeout(m_timeout_ms);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    if (m_ssl)
        request.setSslConfiguration(*m_ssl);

    m_network = new QNetworkAccessManager(this);
    QNetworkReply* reply = m_network->post(request, multiPart);
    multiPart->setParent(reply);
    m_reply = reply;
    connect(reply, &QNetworkReply::finished, this, &DumpSender::slot_send_request_finished);
    connect(reply, &QNetworkReply::uploadProgress, this, &DumpSender::slot_uploadprogress);
    connect(reply, &QNetworkReply::errorOccurred, this, &DumpSender::slot_error);
    connect(reply, &QNetworkReply::sslErrors, this, [](const QList<QSslError>& errors) {
        if (!errors.isEmpty())
            ZQLog::log(QStringLiteral("[WARN] ZQDumpSender :: TLS error :: ") + errors.first().errorString());
    });
    connect(reply, &QNetworkReply::downloadProgress, reply, [reply](qint64 received, qint64 total) {
        if (received > kMaxReplyBytes || total > kMaxReplyBytes) {
            reply->setProperty("zq_error", tr("Réponse trop volumineuse."));
            reply->abort();
        }
    });
}

void DumpSender::slot_send_request_finished()
{
    QNetworkReply* reply = m_reply;
    if (!reply)
        return;
    m_reply = nullptr;
    reply->deleteLater();
    const QByteArray body = reply->read(kMaxReplyBytes);
    ZQLog::log(QStringLiteral("ZQDumpSender :: send_request_finished + ") + QString::fromUtf8(body.left(4000)));
    QString error = reply->property("zq_error").toString();
    if (error.isEmpty() && reply->error() != QNetworkReply::NoError)
        error = reply->errorString();
    if (!error.isEmpty()) {
        ZQLog::log(QStringLiteral("[WARN] ZQDumpSender :: send failed :: ") + error);
        finish(false, false, error);
        return;
    }
    const Verdict verdict = parseReply(body);
    if (verdict.dumpAccepted) {
        ZQLog::log(QStringLiteral("ZQDumpSender :: send_request_finished :: DUMPFILE IS OK + ") + m_dump_path);
        if (QFile::exists(m_dump_path))
            QFile::remove(m_dump_path);
    }
    // Only the part that went out leaves the log; what was written since stays.
    if (verdict.logAccepted && m_log_size > 0)
        ZQLog::cutLogPrefix(m_log_size, m_log_sha);
    finish(verdict.dumpAccepted, verdict.logAccepted,
           verdict.dumpAccepted || verdict.logAccepted ? QString() : tr("Rapport refusé par le serveur."));
}

void DumpSender::removeDump(const QString& dumpPath)
{
    ZQLog::log(QStringLiteral("ZQDumpSender :: remove dump :: check file ") + dumpPath);
    if (QFile::exists(dumpPath)) {
        ZQLog::log(QStringLiteral("ZQDumpSender :: remove dump :: remove file ") + dumpPath);
        QFile::remove(dumpPath);
    }
    ZQLog::emptyLogFile();
}

void DumpSender::slot_uploadprogress(qlonglong sent, qlonglong total)
{
    // One line per percent at most: a large dump reports thousands of steps.
    const int percent = total > 0 ? int(sent * 100 / total) : -1;
    if (percent == m_last_percent && sent != total)
        return;
    m_last_percent = percent;
    ZQLog::log(QStringLiteral("ZQDumpSender :: upload progress ") + QString::number(sent) + QStringLiteral(" / ")
               + QString::number(total));
}

void DumpSender::slot_manager_request_finished(QNetworkReply* reply)
{
    if (reply)
        ZQLog::log(QStringLiteral("ZQDumpSender :: slot_manager_request_finished + ")
                   + QString::fromUtf8(reply->peek(4000)));
}

void DumpSender::slot_error(QNetworkReply::NetworkError)
{
}
