#include "download/zq_download_thread.h"

#include "app/sha256.h"
#include "app/zq_log.h"
#include "download/confined_folder.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMutex>
#include <QUrlQuery>

#include <curl/curl.h>

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

namespace {

constexpr qsizetype kErrorBodyCap = 64 * 1024;
constexpr qint64 kProgressIntervalMs = 100; // at most ten progress signals a second

QMutex& multi_lock()
{
    static QMutex lock;
    return lock;
}

QString error_line(const QString& detail)
{
    return detail.isEmpty() ? QObject::tr("Erreur de téléchargement")
                            : QObject::tr("Erreur de téléchargement - %1").arg(detail);
}

// Hashes the body on a thread of its own, so the receiving thread only copies bytes: hashing in
// the write callback halves the download speed on a fast link. Blocks of about 1 MiB wait in a
// bounded queue (at most 8), so memory stays flat whatever the file size.
class BodyHasher
{
public:
    BodyHasher() { m_worker = std::thread([this] { loop(); }); }
    ~BodyHasher() { finish(); }

    void add(const char* data, size_t n)
    {
        m_pending.append(data, qsizetype(n));
        if (m_pending.size() >= kBlock)
            push();
    }

    // The digest of everything added; the hashing thread has ended.
    QByteArray finish()
    {
        if (m_worker.joinable()) {
            push();
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                m_done = true;
            }
            m_wake.notify_all();
            m_worker.join();
            m_digest = QByteArray::fromHex(m_hash.hexDigest().toLatin1());
        }
        return m_digest;
    }

private:
    static constexpr qsizetype kBlock = 1 << 20;
    static constexpr size_t kQueued = 8;

    void push()
    {
        if (m_pending.isEmpty())
            return;
        std::unique_lock<std::mutex> lock(m_mutex);
        m_space.wait(lock, [this] { return m_queue.size() < kQueued; });
        m_queue.push_back(std::move(m_pending));
        m_pending = QByteArray();
        m_pending.reserve(kBlock + 256 * 1024);
        lock.unlock();
        m_wake.notify_one();
    }

    void loop()
    {
        for (;;) {
            QByteArray block;
            {
                std::unique_lock<std::mutex> lock(m_mutex);
                m_wake.wait(lock, [this] { return !m_queue.empty() || m_done; });
                if (m_queue.empty())
                    return;
                block = std::move(m_queue.front());
                m_queue.pop_front();
            }
            m_space.notify_one();
            m_hash.add(block);
        }
    }

    zq::Sha256 m_hash;
    QByteArray m_pending;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_space;
    std::deque<QByteArray> m_queue;
    bool m_done = false;
    std::thread m_worker;
    QByteArray m_digest;
};

} // namespace

struct ZQDownload_thread::Transfer
{
    long status = 0;
    QByteArray content_type;
    QByteArray digest;        // value of the last Content-Digest header of the final response
    bool has_digest = false;
    bool decided = false;     // first body bytes seen: error body or file
    bool error_reply = false;
    QByteArray error_body;
    std::unique_ptr<zq::ConfinedSaveFile> file;
    std::unique_ptr<BodyHasher> sha;
    qint64 written = 0;
    QString local_error;      // a write or open failure on our side
    QElapsedTimer progress_clock;
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
    QMutexLocker lock(&multi_lock());
    if (void* multi = m_multi.load())
        curl_multi_wakeup(static_cast<CURLM*>(multi));
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

size_t ZQDownload_thread::header_cb(char* data, size_t size, size_t count, void* self)
{
    const size_t n = size * count;
    static_cast<ZQDownload_thread*>(self)->on_header(QByteArray(data, qsizetype(n)));
    return n;
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

size_t ZQDownload_thread::write_cb(char* data, size_t size, size_t count, void* self)
{
    return static_cast<ZQDownload_thread*>(self)->on_body(data, size * count);
}

size_t ZQDownload_thread::on_body(const char* data, size_t n)
{
    if (m_stop.load() || !data)
        return 0; // ends the transfer at once
    Transfer& t = *m_t;
    if (!t.decided) {
        t.decided = true;
        t.error_reply = is_error_reply(t.status, t.content_type);
        if (t.error_reply)
            ZQLog::log(QStringLiteral("[WARN] ZQDownload thread :: read stream :: content type :: ")
                       + QString::fromUtf8(t.content_type) + QStringLiteral(" :: status ")
                       + QString::number(t.status));
    }
    if (t.error_reply) {
        // Kept in memory for the message, never written as the file; past the cap the rest of
        // the page tells nothing more.
        t.error_body.append(data, qsizetype(qMin<size_t>(n, size_t(kErrorBodyCap - t.error_body.size()))));
        return t.error_body.size() >= kErrorBodyCap ? 0 : n;
    }
    if (!t.file) {
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
            return 0;
        }
        emit file_named(target.fileName());
        emit statusChanged();
    }
    if (t.file->file().write(data, qint64(n)) != qint64(n)) {
        t.local_error = tr("Erreur à l'enregistrement : %1").arg(t.file->errorString());
        return 0;
    }
    t.sha->add(data, n);
    t.written += qint64(n);
    return n;
}

int ZQDownload_thread::progress_cb(void* self, long long dltotal, long long dlnow, long long, long long)
{
    auto* me = static_cast<ZQDownload_thread*>(self);
    if (me->m_stop.load()) {
        ZQLog::log("[INFO] ZQDownload thread :: progress_callback :: stop thread detected");
        return 1;
    }
    Transfer& t = *me->m_t;
    t.total = qint64(dltotal);
    if (!t.progress_clock.isValid() || t.progress_clock.elapsed() >= kProgressIntervalMs) {
        t.progress_clock.restart();
        emit me->downloadProgress(qint64(dlnow), qint64(dltotal));
    }
    return 0;
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
    transfer.sha = std::make_unique<BodyHasher>();

    CURL* easy = curl_easy_init();
    CURLM* multi = curl_multi_init();
    if (!easy || !multi) {
        curl_easy_cleanup(easy);
        curl_multi_cleanup(multi);
        fail(QStringLiteral("libcurl"));
        return;
    }
    const QByteArray url_bytes = m_url.toUtf8();
    const QByteArray ca = m_ca_file.toLocal8Bit();
    curl_easy_setopt(easy, CURLOPT_URL, url_bytes.constData());
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
    // Never from https down to http on a redirect.
    curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, scheme == QLatin1String("https") ? "https" : "http,https");
    curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(easy, CURLOPT_MAXREDIRS, 5L);
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 2L);
    if (!ca.isEmpty())
        curl_easy_setopt(easy, CURLOPT_CAINFO, ca.constData());
    curl_easy_setopt(easy, CURLOPT_CA_CACHE_TIMEOUT, 604800L);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &ZQDownload_thread::write_cb);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, this);
    curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &ZQDownload_thread::header_cb);
    curl_easy_setopt(easy, CURLOPT_HEADERDATA, this);
    curl_easy_setopt(easy, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(easy, CURLOPT_XFERINFOFUNCTION, &ZQDownload_thread::progress_cb);
    curl_easy_setopt(easy, CURLOPT_XFERINFODATA, this);
    curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT, m_connect_timeout);
    // No total time-out (a file may take hours), but a stalled server does not hold the job.
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_LIMIT, m_low_speed_bytes);
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_TIME, m_low_speed_seconds);
    curl_easy_setopt(easy, CURLOPT_HTTP_VERSION, long(CURL_HTTP_VERSION_1_0));
    // Larger reads than the 16 KiB default, as the curl tool does.
    curl_easy_setopt(easy, CURLOPT_BUFFERSIZE, 102400L);
    curl_multi_add_handle(multi, easy);
    {
        QMutexLocker lock(&multi_lock());
        m_multi = multi;
    }
    ZQLog::log("[INFO] ZQDownload thread :: get stream :: get data");

    CURLcode result = CURLE_OK;
    bool completed = false;
    int running = 1;
    while (running > 0) {
        if (curl_multi_perform(multi, &running) != CURLM_OK) {
            ZQLog::log("[INFO] ZQDownload thread :: get stream :: break after mc");
            break;
        }
        int queued = 0;
        while (CURLMsg* msg = curl_multi_info_read(multi, &queued)) {
            if (msg->msg == CURLMSG_DONE) {
                result = msg->data.result;
                completed = true;
            }
        }
        if (running > 0) {
            if (m_stop.load())
                break;
            if (curl_multi_poll(multi, nullptr, 0, 1000, nullptr) != CURLM_OK) {
                ZQLog::log("[INFO] ZQDownload thread :: get stream :: break after mc");
                break;
            }
        }
    }
    {
        QMutexLocker lock(&multi_lock());
        m_multi = nullptr;
    }
    ZQLog::log(QStringLiteral("[INFO] ZQDownload thread :: get stream :: curl handle cleanup :: ")
               + QString::number(running));
    curl_multi_remove_handle(multi, easy);
    curl_easy_cleanup(easy);
    curl_multi_cleanup(multi);

    if (m_stop.load()) {
        ZQLog::log(QStringLiteral("[INFO] ZQDownload thread :: item finished :: file in error, delete it :: ")
                   + m_output_path);
        transfer.file.reset();
        emit statusChanged();
        emit download_stopped();
        return;
    }
    if (transfer.error_reply) {
        QString message = error_body_message(transfer.content_type, transfer.error_body);
        const QByteArray type = transfer.content_type.toLower();
        if (message.isEmpty() && !type.contains("json") && (transfer.status < 200 || transfer.status > 299))
            message = QStringLiteral("HTTP %1").arg(transfer.status);
        ZQLog::log(QStringLiteral("[INFO] ZQDownload thread :: read stream :: error body :: ")
                   + QString::fromUtf8(transfer.error_body.left(200)).simplified());
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
    if (!completed || result != CURLE_OK) {
        const QString text = completed ? QString::fromUtf8(curl_easy_strerror(result)) : QStringLiteral("transfer not completed");
        ZQLog::log(QStringLiteral("[ERROR] ZQDownload thread :: get stream :: transfer not completed :: ") + text);
        fail(text);
        return;
    }
    ZQLog::log(QStringLiteral("[INFO] ZQDownload thread :: get stream :: transfer completed :: ")
               + QString::fromUtf8(curl_easy_strerror(result)));
    if (!transfer.file || transfer.written == 0) {
        ZQLog::log("[WARN] ZQDownload thread :: item finished :: output not open");
        fail(tr("Fichier non lisible"));
        return;
    }

    const QByteArray computed = transfer.sha->finish();
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
    emit downloadProgress(transfer.written, qMax(transfer.total, transfer.written));
    emit statusChanged();
    emit download_finished(digest_hex);
}
