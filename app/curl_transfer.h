#pragma once

// The one libcurl transfer of the program: the self-update's package, the
// downloads window's files and the crash report all go through it, so that
// each runs at the speed of the link and of the curl tool.
//
// It runs on the calling thread (a worker: it blocks until the transfer
// ends). The body of the answer is received into a large buffer (512 KiB)
// and written to the file in large writes (reads of 64 KiB and more as they
// are, smaller ones gathered to 256 KiB); a thread of its own reads the file
// back as it grows (from the page cache) and hashes it (SHA-256), so the
// receiving thread does no more than the curl tool does. Memory stays flat.
//
//   zq::CurlTransfer::Options o;  o.url = ...;
//   zq::CurlTransfer::Hooks h;    h.route = [](long status) { ... };
//   zq::CurlTransfer t(o, h);
//   t.setFile(&file);
//   const CURLcode code = t.perform();
//   if (code == CURLE_OK && t.finishFile()) digest = t.digest();

#include <QByteArray>
#include <QMutex>
#include <QString>

#include <atomic>
#include <functional>
#include <memory>

#include <curl/curl.h>

class QIODevice;

namespace zq {

class CurlTransfer
{
public:
    // Where the body of one response goes, chosen at its first byte.
    enum class Body {
        File, // written to the file and hashed
        Keep, // kept in memory up to keepCap bytes (an error page), then the transfer ends
        Skip, // discarded (the body of a redirect or an answer not wanted)
    };

    struct Options
    {
        QByteArray url;
        QByteArray userAgent;
        // Trusted authorities: PEM text, else a PEM file, else the system's.
        // Certificates and host names are always verified.
        QByteArray caPem;
        QByteArray caFile;
        long connectTimeoutSeconds = 60;
        // A transfer slower than this many bytes a second over this many
        // seconds is abandoned (CURLE_OPERATION_TIMEDOUT).
        long lowSpeedBytes = 1;
        long lowSpeedSeconds = 60;
        // Redirects are followed by libcurl, each hop shown to Hooks::redirect.
        bool followRedirects = false;
        long maxRedirects = 5;
        // Protocols a redirect may lead to ("http,https", "https").
        QByteArray redirectProtocols = "http,https";
        bool http10 = false;
        int progressIntervalMs = 100;
        qsizetype keepCap = 64 * 1024;
        // For a file that is synced to disk when it is complete (QSaveFile):
        // start writing it back while it arrives, so that the final sync
        // only waits for the last few MiB instead of the whole file. The
        // hashing thread starts it, so the receiving thread never waits for
        // a full disk queue.
        bool writeBackEarly = false;
    };

    struct Hooks
    {
        // Each header line of each response, as received (with its line end).
        std::function<void(const QByteArray& line)> header;
        // At the first body byte of a response (status of that response).
        // Default: File for 2xx, Skip otherwise.
        std::function<Body(long status)> route;
        // Called when a File body starts and no file is set: set one with
        // setFile() and return true, or return false to end the transfer.
        std::function<bool()> openFile;
        // Before each block of a File body: false ends the transfer (refused()
        // then tells). received counts the File bytes including this block;
        // total is the announced length, -1 when unknown.
        std::function<bool(qint64 received, qint64 total)> accept;
        // A redirect about to be followed: empty to follow it, else the reason
        // not to (the transfer ends, redirectRefusal() tells).
        std::function<QString(const QByteArray& from, const QByteArray& to)> redirect;
        // Transfer figures, at most every progressIntervalMs (and once at the end).
        std::function<void(qint64 downloaded, qint64 downloadTotal, qint64 uploaded, qint64 uploadTotal)> progress;
        // Last word on the easy handle before the transfer starts (an upload's form).
        std::function<void(CURL* easy)> configure;
    };

    CurlTransfer(Options options, Hooks hooks);
    ~CurlTransfer();
    CurlTransfer(const CurlTransfer&) = delete;
    CurlTransfer& operator=(const CurlTransfer&) = delete;

    // The file File bodies go to (not owned; written from the calling thread of perform()).
    void setFile(QIODevice* file) { m_file = file; }
    QIODevice* file() const { return m_file; }

    // Runs the whole transfer; CURLE_OK when it completed. A cancel, a refusal
    // by a hook or a failed write ends it with another code: see the queries.
    CURLcode perform();
    // Writes what is still gathered and waits for the hash; false when a
    // write failed. Called by perform() on success; idempotent.
    bool finishFile();

    // From any thread: the transfer ends at once (within one poll).
    void cancel();
    bool cancelled() const { return m_cancel.load(); }

    long status() const { return m_status; }           // of the last response
    QByteArray kept() const { return m_kept; }         // the Keep body
    qint64 fileBytes() const { return m_file_bytes.load(); }
    bool refused() const { return m_refused; }         // Hooks::accept said no
    bool fileFailed() const { return m_file_failed; }  // opening or writing the file failed
    QString redirectRefusal() const { return m_redirect_refusal; }
    // libcurl's own words for the last failure.
    QString errorText(CURLcode code) const;
    // SHA-256 of the File bytes (32 bytes), after finishFile().
    QByteArray digest() const { return m_digest; }
    QString hexDigest() const { return QString::fromLatin1(m_digest.toHex()); }

    // Receive buffer and block sizes (the curl tool reads 100 KiB at a time).
    static constexpr long kReceiveBuffer = 512 * 1024;
    static constexpr qsizetype kReadBack = 256 * 1024;        // read back and hashed at a time (fits the L2 cache)
    static constexpr qsizetype kWriteChunk = 256 * 1024;      // small reads gathered up to this
    static constexpr qsizetype kDirectWrite = 64 * 1024;      // reads this large are written as they are
    static constexpr qint64 kWriteBackStep = 8 * 1024 * 1024;  // writeBackEarly starts the disk write this often

private:
    class Hasher;
    static size_t onBody(char* data, size_t size, size_t count, void* self);
    static size_t onHeader(char* data, size_t size, size_t count, void* self);
    static int onProgress(void* self, curl_off_t dltotal, curl_off_t dlnow, curl_off_t ultotal, curl_off_t ulnow);
    size_t body(const char* data, size_t n);
    size_t header(const char* data, size_t n);
    bool writeOut(const char* data, qint64 size);
    bool writePending();

    Options m_options;
    Hooks m_hooks;
    QIODevice* m_file = nullptr;
    std::atomic<bool> m_cancel{false};
    QMutex m_multi_lock;
    CURLM* m_multi = nullptr;
    CURL* m_easy = nullptr;
    char m_errors[CURL_ERROR_SIZE] = {};

    // Per response.
    long m_status = 0;
    bool m_decided = false;
    Body m_route = Body::Skip;
    QByteArray m_location;

    QByteArray m_kept;
    QByteArray m_pending;          // small reads gathered for one large write
    bool m_started_file = false;
    int m_fd = -1;                 // the file's descriptor, when it is a plain file
    qint64 m_file_written = 0;     // bytes written to the file
    qint64 m_written_back = 0;     // bytes of it whose write-back was started
    std::unique_ptr<class Sha256> m_inline_hash; // when the file cannot be read back
    std::unique_ptr<Hasher> m_hasher;
    std::atomic<qint64> m_file_bytes{0};
    qint64 m_announced = -1;
    bool m_refused = false;
    bool m_file_failed = false;
    bool m_finished = false;
    QString m_redirect_refusal;
    QByteArray m_digest;
    qint64 m_last_progress_ms = -1;
};

} // namespace zq
