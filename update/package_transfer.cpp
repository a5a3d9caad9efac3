#include "update/package_transfer.h"

#include "app/sha256.h"

#include <QElapsedTimer>
#include <QMetaObject>
#include <QMutex>
#include <QSaveFile>
#include <QThread>
#include <QWaitCondition>

#include <deque>

#include <curl/curl.h>

namespace {

constexpr qint64 kBlockBytes = 1024 * 1024;
constexpr size_t kQueuedBlocks = 8;

// Hashing and writing run beside the transfer, on a thread of their own, so
// that the receiving thread only copies: the hash alone is slower than a
// loopback link. At most kQueuedBlocks blocks wait in memory.
class Sink
{
public:
    Sink(QSaveFile* file, zq::Sha256* hash, std::atomic<bool>* cancel)
        : m_file(file)
        , m_hash(hash)
        , m_cancel(cancel)
    {
        m_thread = QThread::create([this] { consume(); });
        m_thread->start();
    }
    ~Sink()
    {
        close();
        m_thread->wait();
        delete m_thread;
    }
    // False once writing failed or the transfer was cancelled.
    bool push(QByteArray block)
    {
        QMutexLocker lock(&m_mutex);
        while (m_queue.size() >= kQueuedBlocks && !m_failed && !m_cancel->load())
            m_not_full.wait(&m_mutex, 300);
        if (m_failed || m_cancel->load())
            return false;
        m_queue.push_back(std::move(block));
        m_not_empty.wakeOne();
        return true;
    }
    // Waits until every queued block is hashed and written; false on a write failure.
    bool finish()
    {
        close();
        m_thread->wait();
        QMutexLocker lock(&m_mutex);
        return !m_failed;
    }
    bool failed()
    {
        QMutexLocker lock(&m_mutex);
        return m_failed;
    }

private:
    void close()
    {
        QMutexLocker lock(&m_mutex);
        m_closed = true;
        m_not_empty.wakeAll();
    }
    void consume()
    {
        for (;;) {
            QByteArray block;
            {
                QMutexLocker lock(&m_mutex);
                while (m_queue.empty() && !m_closed)
                    m_not_empty.wait(&m_mutex, 300);
                if (m_queue.empty())
                    return;
                block = std::move(m_queue.front());
                m_queue.pop_front();
                m_not_full.wakeOne();
            }
            if (m_cancel->load())
                continue; // drain without work
            m_hash->add(block);
            if (m_file->write(block) != block.size()) {
                QMutexLocker lock(&m_mutex);
                m_failed = true;
                m_not_full.wakeAll();
            }
        }
    }

    QSaveFile* m_file;
    zq::Sha256* m_hash;
    std::atomic<bool>* m_cancel;
    QThread* m_thread = nullptr;
    QMutex m_mutex;
    QWaitCondition m_not_empty;
    QWaitCondition m_not_full;
    std::deque<QByteArray> m_queue;
    bool m_closed = false;
    bool m_failed = false;
};

struct Transfer
{
    Sink* sink = nullptr;
    QByteArray pending;
    PackageTransfer* owner = nullptr;
    CURL* curl = nullptr;
    std::atomic<bool>* cancel = nullptr;
    std::atomic<qint64>* received = nullptr;
    qint64 limit = 0;
    bool tooLarge = false;
    bool writeFailed = false;
    bool skipping = false; // the body of a redirect or error answer
    QElapsedTimer lastReport;
    std::function<void(qint64, qint64)> report;
};

size_t onData(char* data, size_t size, size_t count, void* user)
{
    auto* t = static_cast<Transfer*>(user);
    const size_t bytes = size * count;
    long status = 0;
    curl_easy_getinfo(t->curl, CURLINFO_RESPONSE_CODE, &status);
    if (status < 200 || status >= 300)
        return bytes; // not the package
    if (t->cancel->load())
        return CURL_WRITEFUNC_ERROR;
    curl_off_t length = -1;
    curl_easy_getinfo(t->curl, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
    qint64 limit = t->limit;
    if (length >= 0 && length < limit)
        limit = length;
    const qint64 total = t->received->load() + qint64(bytes);
    if (total > limit) {
        t->tooLarge = true;
        return CURL_WRITEFUNC_ERROR;
    }
    t->pending.append(data, qint64(bytes));
    if (t->pending.size() >= kBlockBytes) {
        if (!t->sink->push(std::move(t->pending))) {
            t->writeFailed = !t->cancel->load();
            return CURL_WRITEFUNC_ERROR;
        }
        t->pending = QByteArray();
        t->pending.reserve(kBlockBytes + CURL_MAX_WRITE_SIZE);
    }
    t->received->store(total);
    return bytes;
}

int onProgress(void* user, curl_off_t total, curl_off_t, curl_off_t, curl_off_t)
{
    auto* t = static_cast<Transfer*>(user);
    if (t->cancel->load())
        return 1;
    // A few reports a second are enough for the bar and the label.
    if (!t->lastReport.isValid() || t->lastReport.elapsed() >= 50) {
        t->lastReport.restart();
        long status = 0;
        curl_easy_getinfo(t->curl, CURLINFO_RESPONSE_CODE, &status);
        if (status >= 200 && status < 300)
            t->report(t->received->load(), qint64(total) > 0 ? qint64(total) : -1);
    }
    return 0;
}

} // namespace

PackageTransfer::PackageTransfer(Options options, QSaveFile* file, zq::Sha256* hash, QObject* parent)
    : QObject(parent)
    , m_options(std::move(options))
    , m_file(file)
    , m_hash(hash)
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
}

void PackageTransfer::stopAndWait()
{
    if (!m_thread)
        return;
    m_silent.store(true);
    m_cancel.store(true);
    m_thread->wait();
    delete m_thread;
    m_thread = nullptr;
}

void PackageTransfer::run()
{
    Transfer t;
    t.owner = this;
    t.cancel = &m_cancel;
    t.received = &m_received;
    t.limit = m_options.limit;
    t.report = [this](qint64 received, qint64 total) {
        if (!m_silent.load())
            QMetaObject::invokeMethod(this, [this, received, total] { emit progress(received, total); },
                                      Qt::QueuedConnection);
    };
    Sink sink(m_file, m_hash, &m_cancel);
    t.sink = &sink;
    char errors[CURL_ERROR_SIZE] = {};
    CURL* curl = curl_easy_init();
    t.curl = curl;
    Outcome outcome = Outcome::Failed;
    QString error;
    QUrl url = m_options.url;
    if (!curl) {
        error = QStringLiteral("Téléchargement impossible.");
    } else {
        for (int hop = 0;; ++hop) {
            curl_easy_reset(curl);
            const QByteArray address = url.toEncoded();
            curl_easy_setopt(curl, CURLOPT_URL, address.constData());
            curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
            curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
            curl_easy_setopt(curl, CURLOPT_USERAGENT, m_options.userAgent.constData());
            curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 0L);
            curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, errors);
            curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, onData);
            curl_easy_setopt(curl, CURLOPT_WRITEDATA, &t);
            curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
            curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, onProgress);
            curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &t);
            curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
            curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, long(m_options.stallSeconds));
            curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, long(std::min(m_options.stallSeconds, 60)));
            curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L);
            curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 2L);
            curl_easy_setopt(curl, CURLOPT_BUFFERSIZE, 1024L * 1024L);
            if (!m_options.caPem.isEmpty()) {
                curl_blob blob{const_cast<char*>(m_options.caPem.constData()), size_t(m_options.caPem.size()),
                               CURL_BLOB_COPY};
                curl_easy_setopt(curl, CURLOPT_CAINFO_BLOB, &blob);
            }
            errors[0] = 0;
            const CURLcode code = curl_easy_perform(curl);
            long status = 0;
            curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
            if (m_cancel.load()) {
                outcome = Outcome::Cancelled;
                break;
            }
            if (t.tooLarge) {
                error = tr("Le fichier reçu dépasse la taille annoncée.");
                break;
            }
            if (t.writeFailed) {
                error = tr("Échec de l’enregistrement du fichier.");
                break;
            }
            if (code != CURLE_OK) {
                const QString detail = errors[0] ? QString::fromUtf8(errors) : QString::fromUtf8(curl_easy_strerror(code));
                const bool tls = code == CURLE_PEER_FAILED_VERIFICATION || code == CURLE_SSL_CONNECT_ERROR
                                 || code == CURLE_SSL_CACERT_BADFILE || code == CURLE_SSL_CERTPROBLEM;
                error = tls ? QStringLiteral("Erreur SSL: %1").arg(detail) : detail;
                break;
            }
            if (status >= 300 && status < 400) {
                char* location = nullptr;
                curl_easy_getinfo(curl, CURLINFO_REDIRECT_URL, &location);
                if (!location) {
                    error = tr("Redirection sans destination.");
                    break;
                }
                if (hop >= m_options.maxRedirects) {
                    error = tr("Trop de redirections.");
                    break;
                }
                const QUrl next = QUrl::fromEncoded(QByteArray(location));
                const QString refused = m_options.redirectRule ? m_options.redirectRule(url, next) : QString();
                if (!refused.isEmpty()) {
                    error = refused;
                    break;
                }
                url = next;
                continue;
            }
            if (status < 200 || status >= 300) {
                error = tr("Le serveur a répondu %1.").arg(status);
                break;
            }
            // The last partial block, then every block hashed and written.
            if (!t.pending.isEmpty() && !sink.push(std::move(t.pending))) {
                error = tr("Échec de l’enregistrement du fichier.");
                break;
            }
            if (!sink.finish()) {
                error = tr("Échec de l’enregistrement du fichier.");
                break;
            }
            outcome = Outcome::Done;
            break;
        }
        curl_easy_cleanup(curl);
    }
    sink.finish();
    if (!m_silent.load())
        QMetaObject::invokeMethod(this, [this, outcome, error] { emit finished(outcome, error); },
                                  Qt::QueuedConnection);
}
