// Download throughput of one large file with its digest, from the loopback
// server over HTTP and HTTPS: ZQDownload_thread (libcurl, SHA-256 computed while
// writing, digest checked, temporary file renamed) beside `curl -s -o FILE URL`
// (`--cacert` for HTTPS) on the same URL, alternating, best of --runs each.
// Prints MB/s (10^6 bytes) of both, their ratio, and the peak resident growth
// of this process during our transfers (the server runs in this process too,
// streaming the file in bounded chunks).
//
//   bench_download_throughput [--size-mib N] [--runs N] [--work DIR] [--dest DIR] [--splits]
//
// Downloads land in --dest (default /dev/shm/zq_bench_download, a memory file
// system): written to a disk, gigabytes of dirty pages get both tools throttled
// by the writeback of earlier runs, at random, and the figures tell the disk.
//
// --splits adds bare libcurl transfers (16 KiB or 100 KiB receive buffer, without
// the SHA-256, with it in the write callback, or with it on a second thread fed
// by a bounded queue) on the same URL, to tell where a gap to curl comes from.
//
// The file (random bytes) and its digest are kept in the work folder
// (default $ZQ_BENCH_DIR/zq_bench_download or /tmp/zq_bench_download).

#include "bench/bench_report.h"
#include "bench/download/bench_download_common.h"
#include "download/zq_download_thread.h"
#include "platform/process_stats.h"
#include "tests/support/loopback_server.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QTextStream>
#include <QTimer>
#include <QEventLoop>

#include <curl/curl.h>
#include <openssl/evp.h>

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <utility>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

namespace {

QTextStream out(stdout);

// A file of size_mib MiB of random bytes and the lowercase hex SHA-256 of it, made once.
bool make_body(const QString& path, qint64 size_mib, QByteArray* hex)
{
    const qint64 size = size_mib * 1024 * 1024;
    QFile digest_file(path + QStringLiteral(".sha256"));
    if (QFileInfo(path).size() == size && digest_file.open(QIODevice::ReadOnly)) {
        *hex = digest_file.readAll().trimmed();
        if (hex->size() == 64)
            return true;
    }
    digest_file.close();
    out << "Writing " << size_mib << " MiB of random bytes to " << path << " ..." << Qt::endl;
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    EVP_DigestInit_ex(ctx, EVP_sha256(), nullptr);
    QByteArray block(4 << 20, Qt::Uninitialized);
    QRandomGenerator64 gen(17);
    for (qint64 done = 0; done < size;) {
        const qint64 n = std::min<qint64>(block.size(), size - done);
        gen.fillRange(reinterpret_cast<quint64*>(block.data()), block.size() / 8);
        if (f.write(block.constData(), n) != n) {
            EVP_MD_CTX_free(ctx);
            return false;
        }
        EVP_DigestUpdate(ctx, block.constData(), size_t(n));
        done += n;
    }
    unsigned char md[EVP_MAX_MD_SIZE];
    unsigned int len = 0;
    EVP_DigestFinal_ex(ctx, md, &len);
    EVP_MD_CTX_free(ctx);
    f.close();
    *hex = QByteArray(reinterpret_cast<const char*>(md), int(len)).toHex();
    if (!digest_file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    digest_file.write(*hex);
    return true;
}

struct OurRun
{
    double ms = -1;
    qint64 peak_growth = 0; // bytes
};

OurRun ours(const QString& url, const QString& output, const QString& ca_file, const QByteArray& expected_hex)
{
    OurRun run;
    QObject row;
    ZQDownload_thread thread(&row, url, output);
    if (!ca_file.isEmpty())
        thread.set_ca_file(ca_file);
    bool ended = false;
    QString error, sha;
    QObject::connect(&thread, &ZQDownload_thread::download_finished, &row, [&](QString s) { sha = s; ended = true; });
    QObject::connect(&thread, &ZQDownload_thread::download_error, &row, [&](QString, QString m) { error = m; ended = true; });
    QObject::connect(&thread, &ZQDownload_thread::download_stopped, &row, [&] { error = "stopped"; ended = true; });
    const qint64 base = zq::platform::process_resident_bytes();
    qint64 peak = base;
    // Sleep in an event loop (no busy polling that would take a core from the transfer),
    // sampling the resident size every 20 ms.
    QEventLoop loop;
    QObject::connect(&thread, &ZQDownload_thread::download_finished, &loop, &QEventLoop::quit, Qt::QueuedConnection);
    QObject::connect(&thread, &ZQDownload_thread::download_error, &loop, &QEventLoop::quit, Qt::QueuedConnection);
    QObject::connect(&thread, &ZQDownload_thread::download_stopped, &loop, &QEventLoop::quit, Qt::QueuedConnection);
    QTimer sampler;
    QObject::connect(&sampler, &QTimer::timeout, &loop,
                     [&] { peak = std::max(peak, qint64(zq::platform::process_resident_bytes())); });
    QTimer::singleShot(1800000, &loop, &QEventLoop::quit);
    sampler.start(20);
    QElapsedTimer t;
    t.start();
    thread.start();
    if (!ended)
        loop.exec();
    sampler.stop();
    const double ms = t.nsecsElapsed() / 1e6;
    thread.wait();
    peak = std::max(peak, qint64(zq::platform::process_resident_bytes()));
    if (!ended || !error.isEmpty()) {
        out << "  our download failed: " << (ended ? error : QStringLiteral("time-out")) << Qt::endl;
        return run;
    }
    if (sha.toLatin1() != expected_hex) {
        out << "  our download ended without the checked digest (" << sha << ")" << Qt::endl;
        return run;
    }
    run.ms = ms;
    run.peak_growth = peak - base;
    return run;
}

// Timing split: a bare libcurl transfer (easy interface, no temporary file, no progress) writing
// with write(2), with a chosen receive buffer and with or without the SHA-256 in the write
// callback; tells what of our gap to curl is the buffer size and what is the hash.
struct BareSink
{
    int fd = -1;
    EVP_MD_CTX* sha = nullptr;
    qint64 written = 0;
    // With a hashing thread: received blocks wait here (at most kQueued), the receive thread
    // goes on; an empty block ends the thread.
    static constexpr size_t kQueued = 8;
    static constexpr qsizetype kBlock = 1 << 20; // received bytes gathered per hand-over
    QByteArray pending;
    bool threaded = false;
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<QByteArray> queue;
    std::thread hasher;

    void push(QByteArray block)
    {
        std::unique_lock lock(mutex);
        changed.wait(lock, [&] { return queue.size() < kQueued; });
        queue.push_back(std::move(block));
        changed.notify_one();
    }
    void hash_loop()
    {
        for (;;) {
            QByteArray block;
            {
                std::unique_lock lock(mutex);
                changed.wait(lock, [&] { return !queue.empty(); });
                block = std::move(queue.front());
                queue.pop_front();
                changed.notify_one();
            }
            if (block.isEmpty())
                return;
            EVP_DigestUpdate(sha, block.constData(), size_t(block.size()));
        }
    }
};

size_t bare_write(char* data, size_t size, size_t count, void* p)
{
    auto* sink = static_cast<BareSink*>(p);
    const size_t n = size * count;
    if (::write(sink->fd, data, n) != ssize_t(n))
        return 0;
    if (sink->threaded) {
        if (sink->pending.capacity() < BareSink::kBlock)
            sink->pending.reserve(BareSink::kBlock);
        sink->pending.append(data, qsizetype(n));
        if (sink->pending.size() >= BareSink::kBlock - 128 * 1024)
            sink->push(std::exchange(sink->pending, QByteArray()));
    }
    else if (sink->sha)
        EVP_DigestUpdate(sink->sha, data, n);
    sink->written += qint64(n);
    return n;
}

double bare_curl(const QString& url, const QString& ca_file, const QString& output, long buffer, bool hash,
                 bool hash_thread, qint64 size)
{
    BareSink sink;
    sink.fd = ::open(QFile::encodeName(output).constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (sink.fd < 0)
        return -1;
    if (hash) {
        sink.sha = EVP_MD_CTX_new();
        EVP_DigestInit_ex(sink.sha, EVP_sha256(), nullptr);
    }
    CURL* easy = curl_easy_init();
    const QByteArray u = url.toUtf8(), ca = QFile::encodeName(ca_file);
    curl_easy_setopt(easy, CURLOPT_URL, u.constData());
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    if (!ca_file.isEmpty())
        curl_easy_setopt(easy, CURLOPT_CAINFO, ca.constData());
    curl_easy_setopt(easy, CURLOPT_BUFFERSIZE, buffer);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &bare_write);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, &sink);
    QElapsedTimer t;
    t.start();
    if (hash && hash_thread) {
        sink.threaded = true;
        sink.hasher = std::thread([&sink] { sink.hash_loop(); });
    }
    const CURLcode rc = curl_easy_perform(easy);
    if (sink.threaded) {
        if (!sink.pending.isEmpty())
            sink.push(std::exchange(sink.pending, QByteArray()));
        sink.push(QByteArray());
        sink.hasher.join();
    }
    if (sink.sha) {
        unsigned char md[EVP_MAX_MD_SIZE];
        unsigned int len = 0;
        EVP_DigestFinal_ex(sink.sha, md, &len);
        EVP_MD_CTX_free(sink.sha);
    }
    ::close(sink.fd);
    const double ms = t.nsecsElapsed() / 1e6;
    curl_easy_cleanup(easy);
    QFile::remove(output);
    return rc == CURLE_OK && sink.written == size ? ms : -1;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    curl_global_init(CURL_GLOBAL_DEFAULT);
    const QStringList args = app.arguments();
    const qint64 size_mib = zq::bench::option(args, "--size-mib", "2048").toLongLong();
    const int runs = std::max(1, zq::bench::option(args, "--runs", "3").toInt());
    const bool splits = args.contains(QStringLiteral("--splits"));
    const QString work = zq::bench::work_folder(args, "zq_bench_download");
    if (size_mib <= 0) {
        out << "--size-mib must be above 0" << Qt::endl;
        return 2;
    }

    const QString body = QDir(work).filePath(QStringLiteral("body_%1mib.bin").arg(size_mib));
    QByteArray hex;
    if (!make_body(body, size_mib, &hex)) {
        out << "cannot write " << body << Qt::endl;
        return 1;
    }
    const qint64 size = QFileInfo(body).size();
    const QString dest = zq::bench::option(args, "--dest",
                                           QFileInfo(QStringLiteral("/dev/shm")).isWritable()
                                               ? QStringLiteral("/dev/shm/zq_bench_download")
                                               : work);
    QDir().mkpath(dest);
    const QString ours_out = QDir(dest).filePath("ours.bin");
    const QString curl_out = QDir(dest).filePath("curl.bin");
    out << "File: " << size_mib << " MiB with Content-Digest, best of " << runs << " runs each" << Qt::endl;

    // Timing split: what the SHA-256 our thread computes while writing costs alone, on
    // bytes already in memory (curl computes none).
    {
        QByteArray block(16 * 1024, Qt::Uninitialized);
        QRandomGenerator64(3).fillRange(reinterpret_cast<quint64*>(block.data()), block.size() / 8);
        EVP_MD_CTX* ctx = EVP_MD_CTX_new();
        EVP_DigestInit_ex(ctx, EVP_sha256(), nullptr);
        QElapsedTimer t;
        t.start();
        for (qint64 done = 0; done < size; done += block.size())
            EVP_DigestUpdate(ctx, block.constData(), size_t(block.size()));
        unsigned char md[EVP_MAX_MD_SIZE];
        unsigned int len = 0;
        EVP_DigestFinal_ex(ctx, md, &len);
        EVP_MD_CTX_free(ctx);
        const double ms = t.nsecsElapsed() / 1e6;
        out << "SHA-256 alone over the same size in 16 KiB blocks: " << QString::number(ms, 'f', 0) << " ms ("
            << QString::number(size / 1e3 / ms, 'f', 0) << " MB/s)" << Qt::endl;
    }

    bool all_ok = true;
    for (const LoopbackServer::Scheme scheme : {LoopbackServer::Http, LoopbackServer::Https}) {
        LoopbackServer server(scheme);
        LoopbackServer::RouteOptions options;
        options.store_body = false;
        server.route("GET", "/download/big.zqvideo",
                     [body, size, hex](const HttpRequest& req, HttpResponsePtr res) {
                         HttpHeaders headers{{"Content-Type", "application/force-download"},
                                             {"Content-Length", QByteArray::number(size)}};
                         if (req.url_query().queryItemValue("file_hash") == QLatin1String("1"))
                             headers.append({"Content-Digest", "sha-256=" + hex});
                         res->stream(200, headers, HttpResponse::pull_file(body), HttpResponse::Raw);
                     },
                     options);
        const QString url = server.url_string("/download/big.zqvideo?file_hash=1");
        const QString ca = scheme == LoopbackServer::Https ? server.tls().ca_file() : QString();
        const QString name = scheme == LoopbackServer::Https ? "https" : "http";

        std::vector<double> ours_ms, curl_ms;
        qint64 peak = 0;
        for (int i = 0; i < runs; ++i) {
            const OurRun r = ours(url, ours_out, ca, hex);
            QFile::remove(ours_out);
            if (r.ms > 0) {
                ours_ms.push_back(r.ms);
                peak = std::max(peak, r.peak_growth);
            }
            QStringList cargs{"-s", "-o", curl_out, url};
            if (!ca.isEmpty())
                cargs = QStringList{"--cacert", ca} + cargs;
            const double c = zq::bench::time_process(out, "curl", cargs);
            if (c > 0 && QFileInfo(curl_out).size() == size)
                curl_ms.push_back(c);
            QFile::remove(curl_out);
            out << "  " << name << " run " << i + 1 << ": ours " << QString::number(r.ms, 'f', 0) << " ms, curl "
                << QString::number(c, 'f', 0) << " ms" << Qt::endl;
        }
        if (splits) {
            struct Variant { long buffer; bool hash; bool thread; const char* text; };
            for (const Variant v : {Variant{16 * 1024, false, false, "16 KiB buffer, no hash"},
                                    Variant{16 * 1024, true, false, "16 KiB buffer, SHA-256"},
                                    Variant{100 * 1024, false, false, "100 KiB buffer, no hash"},
                                    Variant{100 * 1024, true, false, "100 KiB buffer, SHA-256"},
                                    Variant{100 * 1024, true, true, "100 KiB buffer, SHA-256 on a second thread"}}) {
                std::vector<double> ms;
                for (int i = 0; i < runs; ++i) {
                    const double m = bare_curl(url, ca, ours_out, v.buffer, v.hash, v.thread, size);
                    if (m > 0)
                        ms.push_back(m);
                }
                out << "  split, bare libcurl " << v.text << ": "
                    << QString::number(size / 1e3 / zq::bench::best(ms), 'f', 1) << " MB/s" << Qt::endl;
            }
        }
        if (ours_ms.empty() || curl_ms.empty()) {
            all_ok = false;
            continue;
        }
        const double mb = size / 1e6;
        zq::bench::print_ratio(out, name + " download (MB/s)", mb * 1000.0 / zq::bench::best(ours_ms),
                               mb * 1000.0 / zq::bench::best(curl_ms), "MB/s", "curl");
        out << "  " << name << " peak resident growth during our transfers: "
            << QString::number(peak / 1048576.0, 'f', 1) << " MiB (target < 64 MiB)" << Qt::endl;
    }
    curl_global_cleanup();
    if (dest != work)
        QDir(dest).removeRecursively();
    return all_ok ? 0 : 1;
}
