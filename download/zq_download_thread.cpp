#include "download/zq_download_thread.h"

#include "app/curl_transfer.h"
#include "app/zq_log.h"
#include "download/confined_folder.h"

#include <QDir>

#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMutex>
#include <QUrlQuery>

#include <curl/curl.h>

#include <memory>

namespace {

constexpr qsizetype kErrorBodyCap = 64 * 1024;
constexpr qint64 kProgressIntervalMs = 100; // at most ten progress signals a second

QString error_line(const QString& detail)
{
    return detail.isEmpty() ? QObject::tr("Erreur de téléchargement")
                            : QObject::tr("Erreur de téléchargement - %1").arg(detail);
}

} // namespace

struct ZQDownload_thread::Transfer
{
    long status = 0;
    QByteArray content_type;
    QByteArray digest;        // value of the last Content-Digest header of the final response
    bool has_digest = false;
    bool error_reply = false;
    std::unique_ptr<zq::ConfinedSaveFile> file;
    QString local_error;      // a write or open failure on our side
    qint64 total = 0;
};

ZQDownload_thread::ZQDownload_thread(QObject* row, QString url, QString output_path)
    : m_row(row), m_url(std::move(url)), m_output_path(std::move(output_path))
{
}

ZQDownload_thread::~ZQDownload_thread()
{
    // The owner deletes the thread after QThread::finished; a thread still running here is asked
    // to stop and waited for, so the transfer never outlives its object.
    request_stop();
    wait();
}

void ZQDownload_thread::set_low_speed_limit(long bytes_per_second, long seconds)
{
    m_low_speed_bytes = bytes_per_second;
    m_low_speed_seconds = seconds;
}

void ZQDownload_thread::request_stop()
{
    m_stop = true;
    QMutexLocker lock(&m_transfer_lock);
    if (m_transfer)
        m_transfer->cancel();
}

std::optional<QByteArray> ZQDownload_thread::parse_content_digest(const QByteArray& value)
{
    QByteArray v = value.trimmed();
    static const QByteArray prefix("sha-256=");
    if (!v.toLower().startsWith(prefix))
        return std::nullopt;
    v = v.mid(prefix.size()).trimmed();
    if (v.size() == 64) {
        for (char c : v) {
            const bool hex = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
            if (!hex)
                return std::nullopt;
        }
        return QByteArray::fromHex(v);
    }
    if (v.size() >= 2 && v.startsWith(':') && v.endsWith(':')) {
        const auto decoded = QByteArray::fromBase64Encoding(v.mid(1, v.size() - 2),
                                                            QByteArray::AbortOnBase64DecodingErrors);
        if (decoded && decoded.decoded.size() == 32)
            return decoded.decoded;
    }
    return std::nullopt;
}

bool ZQDownload_thread::is_error_reply(long status, const QByteArray& content_type)
{
    if (status < 200 || status > 299)
        return true;
    if (content_type.isEmpty())
        return false;
    const QByteArray type = content_type.toLower();
    if (type.contains("html") || type.contains("json"))
        return true;
    return !type.contains("force-download") && !type.contains("application");
}

QString ZQDownload_thread::error_body_message(const QByteArray& content_type, const QByteArray& body)
{
    const QByteArray type = content_type.toLower();
    if (type.contains("html"))
        return body.contains("500 Internal Server Error") ? QStringLiteral("Server error 500")
                                                          : QStringLiteral("IO FAILED");
    if (type.contains("json")) {
        const QJsonObject object = QJsonDocument::fromJson(body).object();
        const QJsonValue code = object.value(QStringLiteral("ZQRETURN_CODE"));
        return code.isString() ? code.toString().left(1000) : QString();
    }
    return QString();
}

QUrl ZQDownload_thread::with_file_hash(const QUrl& url)
{
    QUrl out(url);
    QUrlQuery query(url);
    query.addQueryItem(QStringLiteral("file_hash"), QStringLiteral("1"));
    out.setQuery(query);
    return out;
}

void ZQDownload_thread::on_header(const QByteArray& raw)
{
    if (m_header_text.size() < 1024 * 1024)
        m_header_text.append(raw);
    const QByteArray line = raw.trimmed();
    if (line.startsWith("HTTP/")) {
        // A new response (the first, or one after a redirect): what the earlier ones said is void.
        const QList<QByteArray> parts = line.split(' ');
        m_t->status = parts.size() > 1 ? parts.at(1).toLong() : 0;
        m_t->content_type.clear();
        m_t->digest.clear();
        m_t->has_digest = false;
        return;
    }
    const qsizetype colon = line.indexOf(':');
    if (colon <= 0)
        return;
    const QByteArray name = line.left(colon).trimmed().toLower();
    const QByteArray value = line.mid(colon + 1).trimmed();
    if (name == "content-type")
        m_t->content_type = value.left(1024);
    else if (name == "content-digest") {
        m_t->digest = value.left(1024);
        m_t->has_digest = true;
    }
}

bool ZQDownload_thread::open_output()
{
    Transfer& t = *m_t;
    const QFileInfo target(m_output_path);
    ZQLog::log(QStringLiteral("[INFO] ZQDownload thread :: read stream :: output set filename : ") + m_output_path);
    // The folders from the destination down are opened one by one (no link out of it at any
    // depth, missing ones made without following links) and the file is made in the last one.
    const QString root = QDir::cleanPath(QDir(m_destination.isEmpty() ? target.absolutePath() : m_destination).absolutePath());
    const QString relative = QDir(root).relativeFilePath(target.absolutePath());
    t.file = std::make_unique<zq::ConfinedSaveFile>();
    if (!t.file->open(zq::ConfinedFolder::open(root, relative, true), target.fileName())) {
        ZQLog::log("[ERROR] ZQDownload thread :: output ERROR opening");
        t.local_error = tr("Erreur à l'ouverture du fichier : %1").arg(t.file->errorString());
        return false;
    }
    emit file_named(target.fileName());
    emit statusChanged();
    return true;
}

void ZQDownload_thread::fail(const QString& message)
{
    ZQLog::log(QStringLiteral("[ERROR] ZQDownload thread :: transfer failed :: ") + m_url + QStringLiteral(" :: ")
               + message);
    if (m_t && m_t->file)
        m_t->file.reset(); // removes the temporary file
    emit info_changed(error_line(message));
    emit statusChanged();
    emit download_error(m_url, message);
}

void ZQDownload_thread::run()
{
    ZQLog::log(QStringLiteral("[INFO] ZQDownload thread :: get data with libcurl :: ") + m_url);
    m_header_text.clear();
    Transfer transfer;
    m_t = &transfer;
    struct Reset
    {
        ZQDownload_thread* self;
        ~Reset() { self->m_t = nullptr; }
    } reset{this};

    const QUrl url(m_url);
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || url.host().isEmpty() || (scheme != QLatin1String("http") && scheme != QLatin1String("https"))) {
        fail(tr("Adresse non prise en charge"));
        return;
    }
    if (m_output_path.isEmpty()) {
        fail(tr("Fichier non lisible"));
        return;
    }
    const QFileInfo target(m_output_path);
    if (target.isDir()) {
        fail(tr("Erreur à l'ouverture du fichier : %1").arg(m_output_path));
        return;
    }
    if (m_stop.load()) {
        emit download_stopped();
        return;
    }
    zq::CurlTransfer::Options o;
    o.url = m_url.toUtf8();
    o.caFile = m_ca_file.toLocal8Bit();
    o.connectTimeoutSeconds = m_connect_timeout;
    // No total time-out (a file may take hours), but a stalled server does not hold the job.
    o.lowSpeedBytes = m_low_speed_bytes;
    o.lowSpeedSeconds = m_low_speed_seconds;
    o.followRedirects = true;
    o.maxRedirects = 5;
    // Never from https down to http on a redirect.
    o.redirectProtocols = scheme == QLatin1String("https") ? "https" : "http,https";
    o.http10 = true;
    o.progressIntervalMs = int(kProgressIntervalMs);
    o.keepCap = kErrorBodyCap;
    zq::CurlTransfer::Hooks h;
    h.header = [this](const QByteArray& line) { on_header(line); };
    h.route = [this, &transfer](long) {
        transfer.error_reply = is_error_reply(transfer.status, transfer.content_type);
        if (!transfer.error_reply)
            return zq::CurlTransfer::Body::File;
        ZQLog::log(QStringLiteral("[WARN] ZQDownload thread :: read stream :: content type :: ")
                   + QString::fromUtf8(transfer.content_type) + QStringLiteral(" :: status ")
                   + QString::number(transfer.status));
        // Kept in memory for the message, never written as the file.
        return zq::CurlTransfer::Body::Keep;
    };
    zq::CurlTransfer* core = nullptr;
    h.openFile = [this, &transfer, &core] {
        if (!open_output())
            return false;
        core->setFile(&transfer.file->file());
        return true;
    };
    h.progress = [this, &transfer](qint64 now, qint64 total, qint64, qint64) {
        transfer.total = total;
        emit downloadProgress(now, total);
    };
    zq::CurlTransfer curl(o, h);
    core = &curl;
    {
        QMutexLocker lock(&m_transfer_lock);
        m_transfer = &curl;
    }
    if (m_stop.load())
        curl.cancel();
    ZQLog::log("[INFO] ZQDownload thread :: get stream :: get data");
    const CURLcode result = curl.perform();
    {
        QMutexLocker lock(&m_transfer_lock);
        m_transfer = nullptr;
    }
    ZQLog::log(QStringLiteral("[INFO] ZQDownload thread :: get stream :: curl handle cleanup :: ")
               + QString::fromUtf8(curl_easy_strerror(result)));
    if (curl.fileFailed() && transfer.local_error.isEmpty() && transfer.file)
        transfer.local_error = tr("Erreur à l'enregistrement : %1").arg(transfer.file->errorString());
    const qint64 written = curl.fileBytes();

    if (m_stop.load()) {
        ZQLog::log(QStringLiteral("[INFO] ZQDownload thread :: item finished :: file in error, delete it :: ")
                   + m_output_path);
        transfer.file.reset();
        emit statusChanged();
        emit download_stopped();
        return;
    }
    if (transfer.error_reply) {
        const QByteArray error_body = curl.kept();
        QString message = error_body_message(transfer.content_type, error_body);
        const QByteArray type = transfer.content_type.toLower();
        if (message.isEmpty() && !type.contains("json") && (transfer.status < 200 || transfer.status > 299))
            message = QStringLiteral("HTTP %1").arg(transfer.status);
        ZQLog::log(QStringLiteral("[INFO] ZQDownload thread :: read stream :: error body :: ")
                   + QString::fromUtf8(error_body.left(200)).simplified());
        if (type.contains("json"))
            emit info_changed(tr("Erreur de téléchargement - %1").arg(message));
        else
            emit info_changed(error_line(message));
        emit statusChanged();
        emit download_error(m_url, message.isEmpty() ? tr("Erreur de téléchargement") : message);
        return;
    }
    if (!transfer.local_error.isEmpty()) {
        fail(transfer.local_error);
        return;
    }
    if (result != CURLE_OK) {
        const QString text = QString::fromUtf8(curl_easy_strerror(result));
        ZQLog::log(QStringLiteral("[ERROR] ZQDownload thread :: get stream :: transfer not completed :: ") + text);
        fail(text);
        return;
    }
    ZQLog::log(QStringLiteral("[INFO] ZQDownload thread :: get stream :: transfer completed :: ")
               + QString::fromUtf8(curl_easy_strerror(result)));
    if (!transfer.file || written == 0) {
        ZQLog::log("[WARN] ZQDownload thread :: item finished :: output not open");
        fail(tr("Fichier non lisible"));
        return;
    }

    const QByteArray computed = curl.digest();
    m_computed_sha256 = QString::fromLatin1(computed.toHex());
    QString digest_hex;
    if (transfer.has_digest) {
        const std::optional<QByteArray> expected = parse_content_digest(transfer.digest);
        if (!expected) {
            fail(tr("Empreinte SHA-256 illisible"));
            return;
        }
        if (*expected != computed) {
            fail(tr("Empreinte SHA-256 différente"));
            return;
        }
        digest_hex = QString::fromLatin1(computed.toHex());
    } else {
        // Without a digest, a server error written as plain text starts with "Error".
        transfer.file->file().flush();
        transfer.file->file().seek(0);
        const QByteArray first = transfer.file->file().readLine(4096);
        if (first.contains("Error")) {
            ZQLog::log("[INFO] ZQDownload thread :: item finished :: file in error, delete it");
            fail(tr("Fichier vide"));
            return;
        }
    }

    // The target becomes a regular file: an earlier file, or a link, at its name is replaced
    // (removing a link removes the link, never what it points at).
    if (!transfer.file->commit()) {
        fail(tr("Erreur à l'enregistrement : %1").arg(transfer.file->errorString()));
        return;
    }
    transfer.file.reset();
    emit downloadProgress(written, qMax(transfer.total, written));
    emit statusChanged();
    emit download_finished(digest_hex);
}
