#include "diagnostics/test_bandwidth.h"

#include "app/zq_log.h"
#include "diagnostics/analyse_tools.h"

#include <QPointer>
#include <QUrl>

#include <curl/curl.h>

#include <cstdio>

TestBandwidth::TestBandwidth(AnalyseTools* owner) : m_owner(owner) {}

TestBandwidth::~TestBandwidth()
{
    stop();
    ZQLog::log(QStringLiteral("[INFO] Test Bandwidth :: destroy "));
}

void TestBandwidth::set_timeouts(int connectMs, int totalMs)
{
    m_connectMs = connectMs > 0 ? connectMs : 10000;
    m_totalMs = totalMs > 0 ? totalMs : 60000;
}

size_t TestBandwidth::discardData(char*, size_t size, size_t count, void*)
{
    return size * count;
}

QString TestBandwidth::line(qint64 bytes, qint64 timeMicros, qint64 bytesPerSecond)
{
    const QString size = bytes > 0 ? QString::number(bytes) + QStringLiteral(" bytes") : QString();
    const QString time = timeMicros > 0 ? QString::number(timeMicros / 1000000) + QLatin1Char('.') +
                                              QStringLiteral("%1").arg(timeMicros % 1000000, 6, 10, QLatin1Char('0')) +
                                              QStringLiteral(" sec")
                                        : QString();
    const QString speed =
        bytesPerSecond > 0 ? QString::number(bytesPerSecond / 1024) + QStringLiteral(" kbyte/sec.") : QString();
    return QStringLiteral("[INFO] Bandwidth Usage [ DATA ") + size + QStringLiteral(" / TIME ") + time +
           QStringLiteral(" / SPEED ") + speed + QStringLiteral(" ]");
}

void TestBandwidth::join()
{
    if (m_thread.joinable())
        m_thread.join();
}

void TestBandwidth::stop()
{
    m_abort = true;
    join();
    m_abort = false;
    m_busy = false;
}

void TestBandwidth::run()
{
    if (m_server.isEmpty() || m_busy)
        return;
    join(); // the previous transfer's thread has ended already (busy is clear)
    m_busy = true;
    const QString url = m_server + QStringLiteral("/lib/256k.bytes");
    m_thread = std::thread([this, url] { transfer(url); });
}

namespace {

int abort_check(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t)
{
    return static_cast<std::atomic<bool>*>(user)->load() ? 1 : 0;
}

} // namespace

void TestBandwidth::transfer(const QString& url)
{
    char error[CURL_ERROR_SIZE] = {0};
    bool ok = false;
    qint64 bytes = 0, micros = 0, speed = 0;
    const QByteArray u = url.toUtf8();
    const QString scheme = QUrl(url).scheme().toLower();
    CURL* curl = nullptr;
    if (scheme != QLatin1String("http") && scheme != QLatin1String("https")) {
        std::snprintf(error, sizeof error, "only http and https are accepted");
    } else if (!(curl = curl_easy_init())) {
        std::snprintf(error, sizeof error, "cannot create a transfer");
    } else {
        curl_easy_setopt(curl, CURLOPT_URL, u.constData());
        curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
        curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
        curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
        curl_easy_setopt(curl, CURLOPT_MAXREDIRS, 5L);
        curl_easy_setopt(curl, CURLOPT_FAILONERROR, 1L);
        curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, long(m_connectMs));
        curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, long(m_totalMs));
        curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &TestBandwidth::discardData);
        curl_easy_setopt(curl, CURLOPT_BUFFERSIZE, 102400L); // the curl tool's own size
        curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
        curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, &abort_check);
        curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &m_abort);
        curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, error);
        const QByteArray ca = m_caFile.toLocal8Bit();
        if (!ca.isEmpty())
            curl_easy_setopt(curl, CURLOPT_CAINFO, ca.constData());
        const CURLcode rc = curl_easy_perform(curl);
        if (rc == CURLE_OK) {
            curl_off_t v = 0;
            if (curl_easy_getinfo(curl, CURLINFO_SIZE_DOWNLOAD_T, &v) == CURLE_OK)
                bytes = v;
            if (curl_easy_getinfo(curl, CURLINFO_TOTAL_TIME_T, &v) == CURLE_OK)
                micros = v;
            if (curl_easy_getinfo(curl, CURLINFO_SPEED_DOWNLOAD_T, &v) == CURLE_OK)
                speed = v;
            ok = true;
        } else if (!error[0]) {
            std::snprintf(error, sizeof error, "%s", curl_easy_strerror(rc));
        }
        curl_easy_cleanup(curl);
    }
    if (!ok)
        std::fprintf(stderr, "Error while fetching '%s' : %s\n", u.constData(), error);
    if (m_abort)
        return; // stopped: nothing is written, stop() clears the busy flag
    // The line is written on the owner's thread; a probe destroyed meanwhile drops it.
    QMetaObject::invokeMethod(
        this,
        [this, ok, bytes, micros, speed] {
            if (ok && m_owner)
                m_owner->write(line(bytes, micros, speed));
            m_busy = false;
            emit run_finished(ok);
        },
        Qt::QueuedConnection);
}
