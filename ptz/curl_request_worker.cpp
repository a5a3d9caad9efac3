#include "ptz/curl_request_worker.h"

#include <curl/curl.h>

namespace {

struct Sink
{
    QByteArray data;
    bool overflow = false;
};

size_t write_block(char* ptr, size_t size, size_t count, void* user)
{
    auto* sink = static_cast<Sink*>(user);
    const size_t n = size * count;
    if (qint64(sink->data.size()) + qint64(n) > CurlRequestWorker::max_response_bytes) {
        sink->overflow = true;
        return 0; // ends the transfer with CURLE_WRITE_ERROR
    }
    sink->data.append(ptr, qsizetype(n));
    return n;
}

int progress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t)
{
    return static_cast<std::atomic<bool>*>(user)->load() ? 1 : 0;
}

} // namespace

void CurlRequestWorker::run_get_request()
{
    transfer("GET");
}

void CurlRequestWorker::run_put_request()
{
    transfer("PUT");
}

void CurlRequestWorker::requestCancel()
{
    cancel.store(true);
}

void CurlRequestWorker::transfer(const char* method)
{
    // A cancel sent while this request still waited in the thread's queue
    // holds for it: the flag is cleared only once a transfer has ended.
    Sink sink;
    long http_status = -1;
    CURL* curl = curl_easy_init();
    if (!curl) {
        emit error(QStringLiteral("Échec d'initialisation de libcurl"));
        emit result(QString(), -1, -1);
        return;
    }
    const QByteArray url_bytes = url.toUtf8();
    const QByteArray credentials = (user + QLatin1Char(':') + password).toUtf8();
    const QByteArray ca = ca_file.toUtf8();
    curl_easy_setopt(curl, CURLOPT_URL, url_bytes.constData());
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_HTTPAUTH, long(CURLAUTH_ANY));
    curl_easy_setopt(curl, CURLOPT_USERPWD, credentials.constData());
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    if (url.startsWith(QLatin1String("https://"))) {
        if (skip_tls_verify) {
            curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 0L);
            curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 0L);
        }
        if (!ca.isEmpty())
            curl_easy_setopt(curl, CURLOPT_CAINFO, ca.constData());
        curl_easy_setopt(curl, CURLOPT_CA_CACHE_TIMEOUT, 604800L);
    }
    if (qstrcmp(method, "PUT") == 0) {
        curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, "PUT");
        // Posted data of its own size: an empty body is sent as
        // Content-Length 0, not read from standard input.
        curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body.constData() ? body.constData() : "");
        curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(body.size()));
    }
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, write_block);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &sink);
    curl_easy_setopt(curl, CURLOPT_ACCEPT_ENCODING, "");
    curl_easy_setopt(curl, CURLOPT_HTTP_VERSION, long(CURL_HTTP_VERSION_1_1));
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, 5000L);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, 15000L);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, 10L);
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, progress);
    curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &cancel);

    // Cancelled before it started: nothing goes out.
    const CURLcode code = cancel.load() ? CURLE_ABORTED_BY_CALLBACK : curl_easy_perform(curl);
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &http_status);
    curl_easy_cleanup(curl);

    const QString response = QString::fromUtf8(sink.data);
    const int status = int(http_status);
    // A cancel belongs to the request it was meant for, not to every later one.
    const bool cancelled = cancel.exchange(false);
    if (cancelled || code == CURLE_ABORTED_BY_CALLBACK) {
        emit error(QStringLiteral("Requête annulée par l'utilisateur"));
        emit result(response, status, int(CURLE_ABORTED_BY_CALLBACK));
    } else if (code != CURLE_OK) {
        const QString message = sink.overflow ? QStringLiteral("response too large")
                                              : QString::fromUtf8(curl_easy_strerror(code));
        emit error(QStringLiteral("Erreur libcurl (%1): %2").arg(int(code)).arg(message));
        emit result(response, status, int(code));
    } else if (status < 400) {
        emit finished(response);
        emit result(response, status, 0);
    } else {
        emit error(QStringLiteral("HTTP %1").arg(status));
        emit result(response, status, 0);
    }
}
