#include "app/curl_transfer.h"

#include "app/monotonic_clock.h"
#include "app/sha256.h"

#include <QFileDevice>
#include <QIODevice>
#include <QUrl>

#include <algorithm>

#include <condition_variable>
#include <mutex>
#include <thread>

#include <fcntl.h>
#include <unistd.h>

namespace zq {

// Hashes the file on a thread of its own as it grows, reading back what the
// receiving thread has just written (still in the page cache): the
// receiving thread only receives and writes, as the curl tool does, and the
// copy and the hash run beside it.
class CurlTransfer::Hasher
{
public:
    // fd: a descriptor of its own on the file, read-only; closed at the end.
    // writeBack: start writing to disk what was hashed, a few MiB at a time.
    Hasher(int fd, bool writeBack)
        : m_fd(fd)
        , m_write_back(writeBack)
    {
        m_worker = std::thread([this] { loop(); });
    }
    ~Hasher()
    {
        finish(m_available);
        ::close(m_fd);
    }

    // The file holds this many bytes (written, none left in a user buffer).
    void advance(qint64 available)
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_available = available;
        }
        m_wake.notify_one();
    }

    // The digest of the file's first `total` bytes; empty when they could not be read back.
    QByteArray finish(qint64 total)
    {
        if (m_worker.joinable()) {
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                m_available = total;
                m_done = true;
            }
            m_wake.notify_all();
            m_worker.join();
            if (!m_failed)
                m_digest = QByteArray::fromHex(m_hash.hexDigest().toLatin1());
        }
        return m_digest;
    }

private:
    void loop()
    {
        QByteArray buffer(kReadBack, Qt::Uninitialized);
        qint64 hashed = 0;
        for (;;) {
            qint64 available = 0;
            {
                std::unique_lock<std::mutex> lock(m_mutex);
                m_wake.wait(lock, [&] { return m_available > hashed || m_done; });
                available = m_available;
                if (available <= hashed)
                    return;
            }
            while (hashed < available) {
                const qint64 want = std::min<qint64>(kReadBack, available - hashed);
                const ssize_t got = ::pread(m_fd, buffer.data(), size_t(want), off_t(hashed));
                if (got <= 0) {
                    m_failed = true;
                    return;
                }
                m_hash.add(buffer.constData(), got);
                hashed += got;
                startWriteBack(hashed);
            }
        }
    }

    // Here rather than on the receiving thread: starting a write-back waits
    // whenever the disk's queue is full, and the receiving thread must not.
    void startWriteBack(qint64 hashed)
    {
#ifdef Q_OS_LINUX
        if (m_write_back && hashed - m_written_back >= kWriteBackStep) {
            ::sync_file_range(m_fd, m_written_back, hashed - m_written_back, SYNC_FILE_RANGE_WRITE);
            m_written_back = hashed;
        }
#else
        Q_UNUSED(hashed);
#endif
    }

    int m_fd;
    const bool m_write_back;
    qint64 m_written_back = 0;
    Sha256 m_hash;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    qint64 m_available = 0;
    bool m_done = false;
    bool m_failed = false;
    std::thread m_worker;
    QByteArray m_digest;
};

namespace {

} // namespace

CurlTransfer::CurlTransfer(Options options, Hooks hooks)
    : m_options(std::move(options))
    , m_hooks(std::move(hooks))
{
}

CurlTransfer::~CurlTransfer()
{
    if (m_hasher)
        m_hasher->finish(m_file_written);
}

void CurlTransfer::cancel()
{
    m_cancel.store(true);
    QMutexLocker lock(&m_multi_lock);
    if (m_multi)
        curl_multi_wakeup(m_multi);
}

QString CurlTransfer::errorText(CURLcode code) const
{
    return m_errors[0] ? QString::fromUtf8(m_errors) : QString::fromUtf8(curl_easy_strerror(code));
}

size_t CurlTransfer::onHeader(char* data, size_t size, size_t count, void* self)
{
    return static_cast<CurlTransfer*>(self)->header(data, size * count);
}

size_t CurlTransfer::header(const char* data, size_t n)
{
    const QByteArray raw(data, qsizetype(n));
    if (m_hooks.header)
        m_hooks.header(raw);
    const QByteArray line = raw.trimmed();
    if (line.startsWith("HTTP/")) {
        // A new response (the first, or one after a redirect).
        const QList<QByteArray> parts = line.split(' ');
        m_status = parts.size() > 1 ? parts.at(1).toLong() : 0;
        m_decided = false;
        m_location.clear();
        return n;
    }
    if (line.isEmpty()) {
        // End of this response's header: a redirect about to be followed is checked here.
        if (m_options.followRedirects && m_status >= 300 && m_status < 400 && !m_location.isEmpty()
            && m_hooks.redirect) {
            char* current = nullptr;
            curl_easy_getinfo(m_easy, CURLINFO_EFFECTIVE_URL, &current);
            const QByteArray from = current ? QByteArray(current) : m_options.url;
            const QByteArray to = QUrl::fromEncoded(from).resolved(QUrl::fromEncoded(m_location)).toEncoded();
            m_redirect_refusal = m_hooks.redirect(from, to);
            if (!m_redirect_refusal.isEmpty())
                return 0;
        }
        return n;
    }
    const qsizetype colon = line.indexOf(':');
    if (colon > 0 && line.left(colon).trimmed().toLower() == "location")
        m_location = line.mid(colon + 1).trimmed().left(8192);
    return n;
}

size_t CurlTransfer::onBody(char* data, size_t size, size_t count, void* self)
{
    return static_cast<CurlTransfer*>(self)->body(data, size * count);
}

bool CurlTransfer::writeOut(const char* data, qint64 size)
{
    if (size <= 0)
        return true;
    if (!m_file || m_file->write(data, size) != size) {
        m_file_failed = true;
        return false;
    }
    m_file_written += size;
    // Nothing may wait in the device's own buffer when the hash reads the file back.
    if (m_hasher && !static_cast<QFileDevice*>(m_file)->flush()) {
        m_file_failed = true;
        return false;
    }
    if (m_hasher) {
        m_hasher->advance(m_file_written);
    } else {
        if (!m_inline_hash)
            m_inline_hash = std::make_unique<Sha256>();
        m_inline_hash->add(data, size);
    }
#ifdef Q_OS_LINUX
    if (!m_hasher && m_options.writeBackEarly && m_fd >= 0 && m_file_written - m_written_back >= kWriteBackStep) {
        ::sync_file_range(m_fd, m_written_back, m_file_written - m_written_back, SYNC_FILE_RANGE_WRITE);
        m_written_back = m_file_written;
    }
#endif
    return true;
}

bool CurlTransfer::writePending()
{
    const bool ok = writeOut(m_pending.constData(), m_pending.size());
    m_pending.resize(0);
    return ok;
}

size_t CurlTransfer::body(const char* data, size_t n)
{
    if (m_cancel.load() || !data)
        return 0;
    if (!m_decided) {
        m_decided = true;
        m_route = m_hooks.route ? m_hooks.route(m_status)
                                : (m_status >= 200 && m_status < 300 ? Body::File : Body::Skip);
        if (m_route == Body::File && !m_file) {
            if (!m_hooks.openFile || !m_hooks.openFile() || !m_file) {
                m_file_failed = true;
                return 0;
            }
        }
        if (m_route == Body::File) {
            curl_off_t length = -1;
            curl_easy_getinfo(m_easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
            m_announced = length >= 0 ? qint64(length) : -1;
        }
    }
    switch (m_route) {
    case Body::Skip:
        return n;
    case Body::Keep: {
        const qsizetype room = std::max<qsizetype>(0, m_options.keepCap - m_kept.size());
        m_kept.append(data, std::min<qsizetype>(room, qsizetype(n)));
        // Past the cap the rest of the page tells nothing more.
        return m_kept.size() >= m_options.keepCap ? 0 : n;
    }
    case Body::File:
        break;
    }
    const qint64 total = m_file_bytes.load() + qint64(n);
    if (m_hooks.accept && !m_hooks.accept(total, m_announced)) {
        m_refused = true;
        return 0;
    }
    if (!m_started_file) {
        m_started_file = true;
        // The hash reads back from the file when it is a plain file: no copy here.
        auto* device = qobject_cast<QFileDevice*>(m_file);
        m_fd = device ? device->handle() : -1;
        if (m_fd >= 0 && device->flush() && device->pos() == 0) {
            // A read-only descriptor of our own: a save file is open for writing only.
            const QByteArray self = "/proc/self/fd/" + QByteArray::number(m_fd);
            const int readBack = ::open(self.constData(), O_RDONLY | O_CLOEXEC);
            if (readBack >= 0)
                m_hasher = std::make_unique<Hasher>(readBack, m_options.writeBackEarly);
        }
    }
    // Large reads go to the file as they are; small ones (TLS records) are
    // gathered first, so that every write is a large one.
    if (qsizetype(n) >= kDirectWrite) {
        if (!writePending() || !writeOut(data, qint64(n)))
            return 0;
    } else {
        if (m_pending.capacity() < kWriteChunk)
            m_pending.reserve(kWriteChunk);
        m_pending.append(data, qsizetype(n));
        if (m_pending.size() >= kWriteChunk - qsizetype(CURL_MAX_WRITE_SIZE) && !writePending())
            return 0;
    }
    m_file_bytes.store(total);
    return n;
}

int CurlTransfer::onProgress(void* self, curl_off_t dltotal, curl_off_t dlnow, curl_off_t ultotal, curl_off_t ulnow)
{
    auto* me = static_cast<CurlTransfer*>(self);
    if (me->m_cancel.load())
        return 1;
    if (me->m_hooks.progress) {
        const qint64 now = zq::monotonic_ms();
        if (me->m_last_progress_ms < 0 || now - me->m_last_progress_ms >= me->m_options.progressIntervalMs) {
            me->m_last_progress_ms = now;
            me->m_hooks.progress(qint64(dlnow), qint64(dltotal), qint64(ulnow), qint64(ultotal));
        }
    }
    return 0;
}

bool CurlTransfer::finishFile()
{
    if (m_finished)
        return !m_file_failed;
    m_finished = true;
    bool ok = !m_file_failed && writePending();
    // A file synced to disk when complete is synced here, on the transfer's thread, so that its
    // owner's sync (a QSaveFile's commit, on the GUI thread) finds nothing left to wait for.
    if (ok && m_options.writeBackEarly && m_fd >= 0 && ::fdatasync(m_fd) != 0 && errno != EINVAL) {
        m_file_failed = true;
        ok = false;
    }
    if (m_hasher) {
        m_digest = m_hasher->finish(m_file_written);
        m_hasher.reset();
        if (m_digest.isEmpty()) {
            m_file_failed = true;
            ok = false;
        }
    } else {
        if (!m_inline_hash)
            m_inline_hash = std::make_unique<Sha256>(); // the digest of no bytes
        m_digest = QByteArray::fromHex(m_inline_hash->hexDigest().toLatin1());
    }
    return ok;
}

CURLcode CurlTransfer::perform()
{
    CURL* easy = curl_easy_init();
    CURLM* multi = curl_multi_init();
    if (!easy || !multi) {
        curl_easy_cleanup(easy);
        curl_multi_cleanup(multi);
        return CURLE_OUT_OF_MEMORY;
    }
    m_easy = easy;
    m_errors[0] = 0;
    curl_easy_setopt(easy, CURLOPT_URL, m_options.url.constData());
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, m_errors);
    if (!m_options.userAgent.isEmpty())
        curl_easy_setopt(easy, CURLOPT_USERAGENT, m_options.userAgent.constData());
    curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, m_options.followRedirects ? 1L : 0L);
    if (m_options.followRedirects) {
        curl_easy_setopt(easy, CURLOPT_MAXREDIRS, m_options.maxRedirects);
        curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, m_options.redirectProtocols.constData());
    }
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 2L);
    curl_blob blob{const_cast<char*>(m_options.caPem.constData()), size_t(m_options.caPem.size()), CURL_BLOB_COPY};
    if (!m_options.caPem.isEmpty())
        curl_easy_setopt(easy, CURLOPT_CAINFO_BLOB, &blob);
    else if (!m_options.caFile.isEmpty())
        curl_easy_setopt(easy, CURLOPT_CAINFO, m_options.caFile.constData());
    curl_easy_setopt(easy, CURLOPT_CA_CACHE_TIMEOUT, 604800L);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &CurlTransfer::onBody);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, this);
    curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &CurlTransfer::onHeader);
    curl_easy_setopt(easy, CURLOPT_HEADERDATA, this);
    curl_easy_setopt(easy, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(easy, CURLOPT_XFERINFOFUNCTION, &CurlTransfer::onProgress);
    curl_easy_setopt(easy, CURLOPT_XFERINFODATA, this);
    curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT, m_options.connectTimeoutSeconds);
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_LIMIT, m_options.lowSpeedBytes);
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_TIME, m_options.lowSpeedSeconds);
    if (m_options.http10)
        curl_easy_setopt(easy, CURLOPT_HTTP_VERSION, long(CURL_HTTP_VERSION_1_0));
    curl_easy_setopt(easy, CURLOPT_BUFFERSIZE, kReceiveBuffer);
    curl_easy_setopt(easy, CURLOPT_UPLOAD_BUFFERSIZE, 2L * 1024 * 1024);
    if (m_hooks.configure)
        m_hooks.configure(easy);
    curl_multi_add_handle(multi, easy);
    {
        QMutexLocker lock(&m_multi_lock);
        m_multi = multi;
    }

    CURLcode result = CURLE_OK;
    bool completed = false;
    int running = 1;
    while (running > 0) {
        if (curl_multi_perform(multi, &running) != CURLM_OK)
            break;
        int queued = 0;
        while (CURLMsg* msg = curl_multi_info_read(multi, &queued)) {
            if (msg->msg == CURLMSG_DONE) {
                result = msg->data.result;
                completed = true;
            }
        }
        if (running > 0) {
            if (m_cancel.load())
                break;
            if (curl_multi_poll(multi, nullptr, 0, 1000, nullptr) != CURLM_OK)
                break;
        }
    }
    {
        QMutexLocker lock(&m_multi_lock);
        m_multi = nullptr;
    }
    if (m_hooks.progress) {
        curl_off_t down = 0, downTotal = -1, up = 0, upTotal = -1;
        curl_easy_getinfo(easy, CURLINFO_SIZE_DOWNLOAD_T, &down);
        curl_easy_getinfo(easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &downTotal);
        curl_easy_getinfo(easy, CURLINFO_SIZE_UPLOAD_T, &up);
        curl_easy_getinfo(easy, CURLINFO_CONTENT_LENGTH_UPLOAD_T, &upTotal);
        if (!m_cancel.load())
            m_hooks.progress(qint64(down), qint64(downTotal), qint64(up), qint64(upTotal));
    }
    curl_multi_remove_handle(multi, easy);
    curl_easy_cleanup(easy);
    curl_multi_cleanup(multi);
    m_easy = nullptr;

    if (m_cancel.load())
        return CURLE_ABORTED_BY_CALLBACK;
    if (!completed)
        return result == CURLE_OK ? CURLE_RECV_ERROR : result;
    if (result == CURLE_OK && !finishFile())
        return CURLE_WRITE_ERROR;
    return result;
}

} // namespace zq
