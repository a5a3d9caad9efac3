#include "crash/dump_sender.h"

#include "app/http_singleton.h"
#include "app/sha256.h"
#include "app/url_policy.h"
#include "app/zq_log.h"

#include "app/curl_transfer.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMutex>
#include <QSslCertificate>
#include <QThread>
#include <QThreadPool>
#include <QTimer>
#include <QWaitCondition>

#include <curl/curl.h>
#include <openssl/crypto.h>

namespace {

// OpenSSL frees what it keeps for a thread (its error queue, above all) when the thread itself
// ends, which comes after QThread::wait() has returned: at exit, that can come after OpenSSL's
// own clean-up, and the memory is then lost. Freed here instead, while the thread is known to
// run; a later use on the same thread sets it up again.
void release_thread_openssl()
{
    OPENSSL_thread_stop();
}

// A file's size and modification time, read at once: what tells whether a
// digest made earlier still holds for it.
struct Stamp
{
    qint64 size = -1;
    QDateTime modified;
    bool operator==(const Stamp& other) const = default;

    static Stamp ofPath(const QString& path)
    {
        const QFileInfo info(path); // one stat, at the first query
        return info.exists() ? Stamp{info.size(), info.lastModified()} : Stamp{};
    }
    static Stamp ofOpenFile(const QFile& file)
    {
        return Stamp{file.size(), file.fileTime(QFileDevice::FileModificationTime)};
    }
};

// Digests of dumps, by path, each for the file as it was when its hash
// began (size and modification time): the form starts one when it opens, the
// upload takes it. A hash under way is awaited, never made twice; one still
// queued behind other work of the pool is taken over by the upload.
class DigestCache
{
public:
    struct Result
    {
        QString sha; // empty when the file could not be read or kept changing
        Stamp stamp; // the file the digest is of
    };

    static DigestCache& instance()
    {
        static DigestCache cache;
        return cache;
    }

    // Starts hashing in the background unless done or under way for that file.
    void prepare(const QString& path)
    {
        if (!QFileInfo(path).isFile())
            return;
        const Stamp now = Stamp::ofPath(path);
        QMutexLocker lock(&m_mutex);
        Entry& e = m_entries[path];
        if (e.state != Entry::Idle || (!e.sha.isEmpty() && e.stamp == now))
            return;
        const quint64 ticket = ++m_tickets;
        e = Entry{Entry::Queued, ticket, {}, {}};
        lock.unlock();
        QThreadPool::globalInstance()->start([this, path, ticket] {
            {
                QMutexLocker lock(&m_mutex);
                const auto it = m_entries.constFind(path);
                if (it == m_entries.constEnd() || it->ticket != ticket || it->state != Entry::Queued)
                    return; // an upload took it over
                m_entries[path].state = Entry::Hashing;
            }
            static const std::atomic<bool> never{false};
            compute(path, ticket, never);
            release_thread_openssl();
        });
    }

    // The digest of the file as it is now: a hash under way is awaited, a
    // finished one reused while the file is unchanged, else the file is hashed
    // here. Empty when it cannot be read, when stopped, or when the file kept
    // changing while it was hashed.
    Result digest(const QString& path, const std::atomic<bool>& stop)
    {
        QMutexLocker lock(&m_mutex);
        for (int hashes = 0;;) {
            if (stop.load())
                return {};
            const auto it = m_entries.constFind(path);
            if (it != m_entries.constEnd() && it->state == Entry::Hashing) {
                m_done.wait(&m_mutex, 100);
                continue;
            }
            const Stamp now = Stamp::ofPath(path);
            if (it != m_entries.constEnd() && it->state == Entry::Idle && !it->sha.isEmpty() && it->stamp == now)
                return {it->sha, it->stamp};
            if (hashes == 3)
                return {};
            ++hashes;
            const quint64 ticket = ++m_tickets;
            m_entries[path] = Entry{Entry::Hashing, ticket, {}, {}};
            lock.unlock();
            const bool read = compute(path, ticket, stop);
            lock.relock();
            if (!read)
                return {};
        }
    }

    // A stop was asked: an upload awaiting a hash looks at it now, not at
    // its next turn.
    void wakeWaiters()
    {
        QMutexLocker lock(&m_mutex);
        m_done.wakeAll();
    }

private:
    struct Entry
    {
        enum State { Idle, Queued, Hashing };
        State state = Idle;
        quint64 ticket = 0;
        Stamp stamp;
        QString sha; // set only when the file did not change while hashed
    };

    // Hashes the file and records the digest under the stamp taken before
    // the first byte was read; a file that changed meanwhile gets no digest.
    // False when the file could not be read to its end.
    bool compute(const QString& path, quint64 ticket, const std::atomic<bool>& stop)
    {
        const Stamp before = Stamp::ofPath(path);
        QString sha;
        bool read = false;
        QFile file(path);
        if (file.open(QIODevice::ReadOnly)) {
            zq::Sha256 hash;
            QByteArray buffer(1 << 20, Qt::Uninitialized);
            for (;;) {
                if (stop.load())
                    break;
                const qint64 got = file.read(buffer.data(), buffer.size());
                if (got < 0)
                    break;
                if (got == 0) {
                    read = true;
                    break;
                }
                hash.add(buffer.constData(), got);
            }
            if (read && Stamp::ofPath(path) == before)
                sha = hash.hexDigest();
        }
        QMutexLocker lock(&m_mutex);
        Entry& e = m_entries[path];
        if (e.ticket == ticket)
            e = Entry{Entry::Idle, ticket, before, sha};
        m_done.wakeAll();
        return read;
    }

    QMutex m_mutex;
    QWaitCondition m_done;
    QHash<QString, Entry> m_entries;
    quint64 m_tickets = 0;
};

// One file part's bytes, read from the file as the upload goes: exactly
// `size` bytes from the start; a file found shorter ends the upload. The log,
// which keeps being written, is hashed again on the way, so that bytes that
// changed after its digest was sent end the upload instead of going out unnoticed.
struct FileStream
{
    QFile file;
    qint64 size = 0;
    qint64 sent = 0;
    QString announced; // lower-case hex digest sent in the form
    bool verify = false; // hash again on the way (the log, which keeps being written)
    std::unique_ptr<zq::Sha256> check = std::make_unique<zq::Sha256>();
    bool changed = false;

    static size_t read(char* buffer, size_t size, size_t count, void* self)
    {
        auto* me = static_cast<FileStream*>(self);
        const qint64 want = std::min<qint64>(qint64(size * count), me->size - me->sent);
        if (want <= 0)
            return 0;
        const qint64 got = me->file.read(buffer, want);
        if (got <= 0) {
            me->changed = true; // shorter than when it was hashed
            return CURL_READFUNC_ABORT;
        }
        me->sent += got;
        if (!me->verify)
            return size_t(got);
        me->check->add(buffer, got);
        if (me->sent == me->size && me->check->hexDigest() != me->announced) {
            me->changed = true;
            return CURL_READFUNC_ABORT;
        }
        return size_t(got);
    }
    static int seek(void* self, curl_off_t offset, int origin)
    {
        auto* me = static_cast<FileStream*>(self);
        // libcurl rewinds a part only to send it again from its start.
        if (origin != SEEK_SET || offset != 0 || !me->file.seek(0))
            return CURL_SEEKFUNC_CANTSEEK;
        me->sent = 0;
        me->check = std::make_unique<zq::Sha256>();
        return CURL_SEEKFUNC_OK;
    }
};

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

DumpSender::~DumpSender()
{
    // The upload never outlives its sender: stop it and wait.
    m_stop.store(true);
    DigestCache::instance().wakeWaiters();
    {
        QMutexLocker lock(&m_transfer_lock);
        if (m_transfer)
            m_transfer->cancel();
    }
    if (m_thread) {
        m_thread->wait();
        delete m_thread;
    }
}

void DumpSender::prepareDigest(const QString& dumpPath)
{
    DigestCache::instance().prepare(dumpPath);
}

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
    emit sendFinished(dumpAccepted, logAccepted, error);
    deleteLater();
}

struct DumpSender::Form
{
    QUrl endpoint;
    QString dumpPath;
    QString logPath;
    QString logName;
    QList<QPair<QByteArray, QByteArray>> fields; // os, product_name, version, email, comment
    QByteArray caPem;
    bool systemCa = true;
    long timeoutSeconds = 120;
};

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
    if (m_thread)
        return; // one report per sender
    // A sender nobody owns still ends with the application: its destructor
    // stops the upload and waits for it, so no thread outlives the program's objects.
    if (!parent() && QCoreApplication::instance())
        setParent(QCoreApplication::instance());

    // Only what is cheap happens here; the files are read on the worker.
    Form form;
    form.endpoint = m_endpoint;
    form.dumpPath = dumpPath;
    form.logPath = ZQLog::logFilePath();
    form.logName = context->get_log_file_name();
    QString version = context->get_version();
    if (version.isEmpty())
        version = QStringLiteral("1.0.0");
    form.fields.append({"os", Http_singleton::os_description().toUtf8()});
    form.fields.append({"product_name", context->get_display_name().toUtf8()});
    form.fields.append({"version", version.toUtf8()});
    if (!m_email.isEmpty())
        form.fields.append({"email", m_email.toUtf8()});
    if (!m_comment.isEmpty())
        form.fields.append({"comment", m_comment.toUtf8()});
    if (m_ssl) {
        form.systemCa = false;
        for (const QSslCertificate& ca : m_ssl->caCertificates())
            form.caPem += ca.toPem();
    }
    form.timeoutSeconds = std::max(1, (m_timeout_ms + 999) / 1000);
    m_thread = QThread::create([this, form] {
        upload(form);
        release_thread_openssl();
    });
    m_thread->start();
}

void DumpSender::upload(const Form& form)
{
    auto post = [this](const QByteArray& body, const QString& error) {
        m_reply_body = body;
        m_reply_error = error;
        QMetaObject::invokeMethod(this, &DumpSender::slot_send_request_finished, Qt::QueuedConnection);
    };

    // The dump: its digest (ready when the form prepared it), sent only for
    // the very file it was made of, and exactly as many bytes as were hashed.
    FileStream dump;
    dump.file.setFileName(form.dumpPath);
    const bool dumpOpen = dump.file.open(QIODevice::ReadOnly);
    QString dumpDate;
    for (int attempt = 0; dumpOpen && attempt < 3 && !m_stop.load(); ++attempt) {
        const DigestCache::Result digest = DigestCache::instance().digest(form.dumpPath, m_stop);
        if (digest.sha.isEmpty())
            break;
        if (digest.stamp == Stamp::ofOpenFile(dump.file)) {
            dump.announced = digest.sha;
            dump.size = digest.stamp.size;
            dumpDate = digest.stamp.modified.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
            break;
        }
        // Another file took the name since it was opened, or it changed: open it again.
        dump.file.close();
        if (!dump.file.open(QIODevice::ReadOnly))
            break;
    }
    if (m_stop.load())
        return;
    // The log as it stands now: lines written while the report goes out are
    // not part of it, and stay when the server accepts the log.
    FileStream log;
    log.file.setFileName(form.logPath);
    m_log_size = ZQLog::logFileSize();
    bool logOpen = m_log_size >= 0 && log.file.open(QIODevice::ReadOnly);
    if (logOpen) {
        log.size = m_log_size;
        zq::Sha256 hash;
        logOpen = hash.addDevice(log.file, m_log_size) && log.file.seek(0);
        m_log_sha = hash.hexDigest();
        log.announced = m_log_sha;
        log.verify = true;
    }
    const bool sendDump = dump.file.isOpen() && !dump.announced.isEmpty();

    QList<QPair<QByteArray, QByteArray>> fields = form.fields;
    auto insertAfterVersion = [&fields](const QByteArray& key, const QByteArray& value) {
        fields.insert(3, {key, value});
    };
    if (sendDump)
        insertAfterVersion("dumpdate", dumpDate.toUtf8());
    if (logOpen)
        fields.append({"sha_log", m_log_sha.toLatin1()});
    if (sendDump)
        fields.append({"sha_dump", dump.announced.toLatin1()});
    for (const auto& field : std::as_const(fields))
        ZQLog::log(QStringLiteral("add to header    :: ") + QString::fromUtf8(field.first) + QStringLiteral("/")
                   + QString::fromUtf8(field.second.left(1000)));

    zq::CurlTransfer::Options o;
    o.url = form.endpoint.toEncoded();
    if (!form.systemCa)
        o.caPem = form.caPem;
    o.connectTimeoutSeconds = form.timeoutSeconds;
    o.lowSpeedBytes = 1;
    o.lowSpeedSeconds = form.timeoutSeconds;
    o.keepCap = kMaxReplyBytes + 1;
    zq::CurlTransfer::Hooks h;
    h.route = [](long) { return zq::CurlTransfer::Body::Keep; }; // the reply, whatever its status
    curl_mime* mime = nullptr;
    curl_slist* headers = nullptr;
    const QByteArray referer = "Referer: " + form.endpoint.toString().toUtf8();
    const QByteArray dumpName = sentDumpName(form.dumpPath).toUtf8();
    const QByteArray logName = form.logName.toUtf8();
    h.configure = [&](CURL* easy) {
        mime = curl_mime_init(easy);
        for (const auto& field : std::as_const(fields)) {
            curl_mimepart* part = curl_mime_addpart(mime);
            curl_mime_name(part, field.first.constData());
            curl_mime_data(part, field.second.constData(), size_t(field.second.size()));
        }
        if (sendDump) {
            curl_mimepart* part = curl_mime_addpart(mime);
            curl_mime_name(part, "upload_file_minidump");
            curl_mime_filename(part, dumpName.constData());
            curl_mime_type(part, "application/octet-stream");
            curl_mime_data_cb(part, curl_off_t(dump.size), &FileStream::read, &FileStream::seek, nullptr, &dump);
        }
        if (logOpen) {
            curl_mimepart* part = curl_mime_addpart(mime);
            curl_mime_name(part, "upload_file_log");
            curl_mime_filename(part, logName.constData());
            curl_mime_type(part, "application/octet-stream");
            curl_mime_data_cb(part, curl_off_t(log.size), &FileStream::read, &FileStream::seek, nullptr, &log);
        }
        curl_easy_setopt(easy, CURLOPT_MIMEPOST, mime);
        headers = curl_slist_append(headers, referer.constData());
        // The server never asks to wait: no "100-continue" round trip before the body.
        headers = curl_slist_append(headers, "Expect:");
        curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headers);
    };
    h.progress = [this](qint64, qint64, qint64 sent, qint64 total) {
        if (total > 0)
            QMetaObject::invokeMethod(this, [this, sent, total] { slot_uploadprogress(sent, total); },
                                      Qt::QueuedConnection);
    };
    zq::CurlTransfer transfer(o, h);
    {
        // A stop (the sender going away) ends the transfer within one poll.
        QMutexLocker lock(&m_transfer_lock);
        m_transfer = &transfer;
    }
    if (m_stop.load())
        transfer.cancel();
    const CURLcode code = transfer.perform();
    {
        QMutexLocker lock(&m_transfer_lock);
        m_transfer = nullptr;
    }
    curl_mime_free(mime);
    curl_slist_free_all(headers);
    if (m_stop.load())
        return;

    const QByteArray body = transfer.kept();
    QString error;
    if (dump.changed || log.changed)
        error = tr("Fichier modifié pendant l’envoi.");
    else if (body.size() > kMaxReplyBytes)
        error = tr("Réponse trop volumineuse.");
    else if (code != CURLE_OK) {
        const QString detail = transfer.errorText(code);
        const bool tls = code == CURLE_PEER_FAILED_VERIFICATION || code == CURLE_SSL_CONNECT_ERROR
                         || code == CURLE_SSL_CACERT_BADFILE || code == CURLE_SSL_CERTPROBLEM;
        error = tls ? QStringLiteral("Erreur SSL: %1").arg(detail) : detail;
    } else if (transfer.status() >= 400)
        error = tr("Le serveur a répondu %1.").arg(transfer.status());
    if (!logOpen)
        m_log_size = -1;
    post(body, error);
}

void DumpSender::slot_send_request_finished()
{
    if (m_finished)
        return;
    const QByteArray body = m_reply_body;
    ZQLog::log(QStringLiteral("ZQDumpSender :: send_request_finished + ") + QString::fromUtf8(body.left(4000)));
    const QString error = m_reply_error;
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
