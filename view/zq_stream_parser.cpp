#include "view/zq_stream_parser.h"

#include <QMetaObject>
#include <QTimer>

#include <curl/curl.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

extern "C" {
#include <libavutil/frame.h>
}

#include "app/http_singleton.h"
#include "app/zq_log.h"
#include "playback/video_decoder.h"
#include "playback/zq_media_frame.h"

namespace {

bool has_control_characters(const QString& s)
{
    for (QChar c : s)
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            return true;
    return false;
}

constexpr qint64 speed_window_ms = 5500;

} // namespace

QString ZQStreamParser::codec_family(QString codec)
{
    codec = codec.trimmed().toLower();
    if (codec.startsWith(QLatin1String("frame/")))
        codec.remove(0, 6);
    if (codec == QLatin1String("h264") || codec == QLatin1String("h.264") || codec == QLatin1String("264")
        || codec == QLatin1String("libx264"))
        return QStringLiteral("h264");
    if (codec == QLatin1String("h265") || codec == QLatin1String("h.265") || codec == QLatin1String("265")
        || codec == QLatin1String("hevc"))
        return QStringLiteral("h265");
    if (codec == QLatin1String("mjpeg") || codec == QLatin1String("jpeg"))
        return QStringLiteral("mjpeg");
    if (codec == QLatin1String("mpeg4"))
        return QStringLiteral("mpeg4");
    return QString();
}

ZQStreamParser::ZQStreamParser(QString scheme, QString host, QString port, QString extra, QString path,
                               bool objects_only, QString codec, bool loop, QObject* owner)
    : m_owner(owner), m_scheme(scheme.trimmed().toLower()), m_host(host), m_port(port), m_extra(extra), m_path(path)
{
    qRegisterMetaType<AVPixelFormat>("AVPixelFormat");
    if (codec.startsWith(QLatin1String(".264")) || codec.startsWith(QLatin1String(".265")))
        codec.remove(0, 1);
    codec.replace(QLatin1String("h.26"), QLatin1String("h26"));
    m_codec = codec;
    m_objects_only = objects_only;
    m_loop = loop;
    m_window_timer.start();
    m_speed_emit_timer.start();
    m_parser.set_log_handler([this](const QString& line) { log_warn(QStringLiteral("read stream :: ") + line); });
    ++s_live;
}

ZQStreamParser::ZQStreamParser(QObject* owner) : ZQStreamParser({}, {}, {}, {}, {}, false, {}, false, owner) {}

ZQStreamParser::~ZQStreamParser()
{
    if (isRunning()) {
        log_error(QStringLiteral("destruction :: still running"));
        threadStop(false);
        // A QThread destroyed while it runs takes the process down: the wait
        // has no bound. The stop wakes every wait of the thread, so it lets go
        // at once unless a call it made holds it.
        if (!wait(5000)) {
            log_error(QStringLiteral("destruction :: still running after 5 s"));
            wait();
        }
    }
    m_decoder.reset();
    log_info(QStringLiteral("destruction done"));
    --s_live;
}

void ZQStreamParser::log_info(const QString& step) const
{
    ZQLog::log(QStringLiteral("[INFO] Stream parser [") + QString::fromStdString(name) + QStringLiteral("] :: ") + step);
}

void ZQStreamParser::log_attempt(const QString& step) const
{
    if (!m_quiet)
        log_info(step);
}

int ZQStreamParser::retry_delay_ms() const
{
    // The first retry goes at once; then the wait doubles from 100 ms up to
    // 5 s while transfers keep failing or ending early, whatever they
    // brought: a server that answers a part and closes is no healthier than
    // one out of reach. A stream that ran steadily and is cut once resumes
    // at once.
    const int attempts = m_failures + m_short;
    if (attempts <= 1)
        return 0;
    return int(qMin<qint64>(5000, qint64(100) << qMin(attempts - 2, 16)));
}

void ZQStreamParser::log_warn(const QString& step) const
{
    ZQLog::log(QStringLiteral("[WARN] Stream parser [") + QString::fromStdString(name) + QStringLiteral("] :: ") + step);
}

void ZQStreamParser::log_error(const QString& step) const
{
    ZQLog::log(QStringLiteral("[ERROR] Stream parser [") + QString::fromStdString(name) + QStringLiteral("] :: ")
               + step);
}

void ZQStreamParser::set_path(QString path)
{
    QMutexLocker lock(&m_config_mutex);
    m_path = path;
}

QString ZQStreamParser::get_path() const
{
    QMutexLocker lock(&m_config_mutex);
    return m_path;
}

QString ZQStreamParser::get_url() const
{
    QMutexLocker lock(&m_config_mutex);
    return m_last_request;
}

void ZQStreamParser::set_proxy(QString host, QString port, bool use)
{
    m_proxy_host = host;
    m_proxy_port = port;
    m_use_proxy = use;
}

void ZQStreamParser::wake()
{
    {
        QMutexLocker lock(&m_wait_mutex);
        m_wait.wakeAll();
    }
    QMutexLocker lock(&m_handle_mutex);
    if (m_multi)
        curl_multi_wakeup(static_cast<CURLM*>(m_multi));
}

// Waits up to ms, or less when a stop, pause or release wakes it. Returns
// false when the wait should end at once (stop or pause).
bool ZQStreamParser::wait_for(int ms)
{
    QMutexLocker lock(&m_wait_mutex);
    if (m_stop || m_pause)
        return false;
    m_wait.wait(&m_wait_mutex, QDeadlineTimer(ms));
    return !(m_stop || m_pause);
}

void ZQStreamParser::threadStop(bool delete_after_reply)
{
    m_stop = true;
    m_delete_after_reply = delete_after_reply;
    m_pause = false;
    wake();
}

void ZQStreamParser::threadPause()
{
    m_pause = true;
    wake();
}

void ZQStreamParser::self_delete()
{
    m_self_delete = true;
}

void ZQStreamParser::set_restart_pending(bool v)
{
    m_restart_pending = v;
    if (v)
        wake();
}

void ZQStreamParser::release_replay_wait()
{
    m_replay_wait = false;
    wake();
}

void ZQStreamParser::Destroy()
{
    log_info(QStringLiteral("Destroy :: running handles :: ") + QString::number(m_running));
    m_owner = nullptr;
    {
        // The consumer may go before this thread ends: nothing more reaches
        // its queue.
        QMutexLocker lock(&m_link_mutex);
        m_queue = nullptr;
        frame_queue_mutex = nullptr;
    }
    m_replay_wait = false;
    if (!m_stop) {
        m_stop = true;
        m_delete_after_reply = true;
        m_pause = false;
    }
    wake();
    if (isRunning()) {
        log_warn(QStringLiteral("Destroy :: reply not finished yet"));
        m_delete_after_reply = true;
    } else {
        log_info(QStringLiteral("Destroy :: emit can delete"));
        emit_can_delete();
    }
}

void ZQStreamParser::force_libcurl_stop()
{
    // The transfer belongs to the client thread: it is told to stop and its
    // poll is woken, which ends the transfer at once.
    log_info(QStringLiteral("force libcurl stop"));
    m_stop = true;
    wake();
}

void ZQStreamParser::emit_can_delete()
{
    if (m_can_delete_emitted.exchange(true))
        return;
    emit can_delete();
}

void ZQStreamParser::emit_error_once()
{
    if (m_error_emitted.exchange(true))
        return;
    emit error();
}

void ZQStreamParser::calc_network_fps()
{
    m_window_timer.restart();
    m_window_bytes = 0;
}

void ZQStreamParser::restart_network_fps(qint64 bytes, bool restart)
{
    if (restart) {
        calc_network_fps();
        m_prev_window_bytes = 0;
        m_prev_window_ms = 0;
    }
    m_window_bytes += bytes;
}

void ZQStreamParser::reset_part_state()
{
    m_parser.reset();
    m_part_bytes = 0;
    m_frame_id = 1;
    m_error_count = 0;
    m_error_limit = 100;
}

void ZQStreamParser::run()
{
    log_attempt(QStringLiteral("start "));
    m_stop = false;
    m_terminal = false;
    m_error_emitted = false;
    if (!m_skip_decoding) {
        if (m_decoder) {
            log_attempt(QStringLiteral("start :: decoder already created"));
        } else {
            m_decoder = std::make_unique<VideoDecoder>();
            if (m_scaler_flags >= 0)
                m_decoder->set_scaler_flags(m_scaler_flags);
            if (!m_codec.isEmpty()) {
                m_decoder_family = codec_family(m_codec);
                m_decoder_open = m_decoder->open_decoder(m_decoder_family.toStdString())
                                 || m_decoder->open_decoder(m_decoder_family.toStdString());
            }
        }
    }
    m_can_delete_emitted = false;
    m_restart_pending = false;
    m_pause = false;

    for (;;) {
        if (get_stream() < 0) {
            log_error(QStringLiteral("start :: failed to get stream"));
            if (m_terminal)
                emit_error_once();
            if (!m_can_delete_emitted) {
                log_info(QStringLiteral("start :: emit can delete"));
                emit_can_delete();
            }
            break;
        }
        if (stream_parsing_finished() == End::Done)
            break;
    }
    // A decoder ends with the stream, here on its own thread: freeing it joins
    // its worker threads, which the owner's (GUI) thread must not wait for.
    if (m_stop || m_terminal) {
        m_decoder.reset();
        m_decoder_open = false;
    }
}

int ZQStreamParser::get_stream()
{
    const QString path = get_path();
    // While the server stays out of reach each retry is told by one line
    // when the failure changes, not by every line of every attempt.
    m_quiet = m_failures > 0 || m_short > 0;
    log_attempt(QStringLiteral("get stream :: ") + path.left(1000));
    if (m_delete_after_reply) {
        log_warn(QStringLiteral("get stream :: could not get new stream, will be deleted"));
        return -1;
    }
    if (path.contains(QLatin1String("onlyobjframes=1")))
        m_objects_only = true;
    m_connected_announced = false;
    m_response_headers.clear();
    m_text_response = false;

    const QString url = m_scheme + QStringLiteral("://") + m_host + QLatin1Char(':') + m_port + path;
    log_attempt(QStringLiteral("get stream :: create url full :: ") + url.left(1000));
    if (m_host.toLatin1().isEmpty() || path.isEmpty()) {
        log_error(QStringLiteral("get stream :: url is empty"));
        return -1;
    }
    if (m_scheme != QLatin1String("http") && m_scheme != QLatin1String("https")) {
        log_error(QStringLiteral("get stream :: scheme refused"));
        m_terminal = true;
        return -1;
    }
    if (has_control_characters(m_token) || has_control_characters(m_proxy_host) || has_control_characters(m_proxy_port)
        || has_control_characters(url)) {
        log_error(QStringLiteral("get stream :: control characters in the request refused"));
        m_terminal = true;
        return -1;
    }

    CURL* easy = curl_easy_init();
    CURLM* multi = curl_multi_init();
    if (!easy || !multi) {
        log_error(QStringLiteral("get stream :: libcurl handles not created"));
        if (easy)
            curl_easy_cleanup(easy);
        if (multi)
            curl_multi_cleanup(multi);
        return -1;
    }
    m_running = 1;
    ++m_transfers;
    m_part_in_transfer = false;
    m_steady_in_transfer = false;
    m_no_part_abort = false;
    m_bytes_since_part = 0;
    m_transfer_clock.start();
    m_since_part.start();
    const QByteArray url_bytes = m_scheme.toLatin1() + "://" + m_host.toLatin1() + ':' + m_port.toLatin1()
                                 + path.toUtf8();
    curl_easy_setopt(easy, CURLOPT_URL, url_bytes.constData());
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
    if (m_scheme.contains(QLatin1String("https"))) {
        curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 1L);
        curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 2L);
        curl_easy_setopt(easy, CURLOPT_CA_CACHE_TIMEOUT, 604800L);
        if (!m_trusted_pem.isEmpty()) {
            curl_easy_setopt(easy, CURLOPT_SSL_CTX_FUNCTION, &ZQStreamParser::ssl_ctx_callback);
            curl_easy_setopt(easy, CURLOPT_SSL_CTX_DATA, this);
        }
    }
    curl_slist* headers = nullptr;
    QString request = QStringLiteral("GET ") + path + QStringLiteral(" HTTP/1.0");
    if (!m_token.isEmpty()) {
        const QByteArray h = "x-auth-token: " + m_token.toUtf8();
        headers = curl_slist_append(headers, h.constData());
        curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headers);
        request += QStringLiteral("\nx-auth-token: ") + m_token;
    }
    QByteArray proxy;
    if (m_use_proxy) {
        proxy = m_scheme.toLatin1() + "://" + m_proxy_host.toLatin1() + ':' + m_proxy_port.toLatin1();
        log_attempt(QStringLiteral("get stream :: create proxy url :: ") + QString::fromLatin1(proxy));
        curl_easy_setopt(easy, CURLOPT_PROXY, proxy.constData());
    }
    {
        QMutexLocker lock(&m_config_mutex);
        m_last_request = request;
    }
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &ZQStreamParser::WriteMemoryCallback);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, this);
    curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &ZQStreamParser::header_callback);
    curl_easy_setopt(easy, CURLOPT_HEADERDATA, this);
    curl_easy_setopt(easy, CURLOPT_XFERINFOFUNCTION, &ZQStreamParser::progress_callback);
    curl_easy_setopt(easy, CURLOPT_XFERINFODATA, this);
    curl_easy_setopt(easy, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT, 60L);
    curl_easy_setopt(easy, CURLOPT_TIMEOUT, 0L);
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_TIME, 15L);
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    if (transfer_diagnostics()) {
        // Through our log, never straight to stderr: the request's headers
        // carry the access token, which the log shows as "x-auth-token: …".
        curl_easy_setopt(easy, CURLOPT_DEBUGFUNCTION, &ZQStreamParser::debug_callback);
        curl_easy_setopt(easy, CURLOPT_DEBUGDATA, this);
        curl_easy_setopt(easy, CURLOPT_VERBOSE, 1L);
    }
    curl_easy_setopt(easy, CURLOPT_HTTP_VERSION, long(CURL_HTTP_VERSION_1_0));
    curl_multi_add_handle(multi, easy);
    {
        QMutexLocker lock(&m_handle_mutex);
        m_easy = easy;
        m_multi = multi;
    }
    log_attempt(QStringLiteral("get stream :: get data"));

    CURLcode result = CURLE_OK;
    while (m_running > 0) {
        CURLMcode mc = curl_multi_perform(multi, &m_running);
        if (mc == CURLM_OK && m_running > 0 && !m_stop && !m_pause && !m_restart_pending)
            mc = curl_multi_poll(multi, nullptr, 0, 1000, nullptr);
        if (mc != CURLM_OK) {
            log_attempt(QStringLiteral("get stream :: break after mc"));
            break;
        }
        int left = 0;
        while (CURLMsg* msg = curl_multi_info_read(multi, &left)) {
            if (msg->msg == CURLMSG_DONE) {
                result = msg->data.result;
                log_attempt(QStringLiteral("get stream :: transfer completed :: ") + QString::number(int(result)));
            }
        }
        // A stop ends the transfer at once, without waiting for the next
        // delivery or progress call.
        if ((m_stop || m_pause || m_restart_pending) && m_running > 0)
            break;
    }
    if (result == CURLE_PEER_FAILED_VERIFICATION || result == CURLE_SSL_CACERT_BADFILE
        || result == CURLE_SSL_CONNECT_ERROR || result == CURLE_SSL_CERTPROBLEM) {
        log_error(QStringLiteral("get stream :: TLS refused :: ") + QString::fromLatin1(curl_easy_strerror(result)));
        m_terminal = true;
    }

    if (m_connected_announced)
        emit send_status_message(QStringLiteral("disconnecting"));
    log_attempt(QStringLiteral("get stream :: curl handle cleanup :: ") + QString::number(m_running));
    if (!m_part_in_transfer && !m_stop && !m_pause) {
        // One more attempt without a part; the line comes when the failure
        // begins or changes, with the count of attempts so far.
        QString why = m_no_part_abort ? QStringLiteral("no part in what came")
                      : result != CURLE_OK
                          ? QString::fromLatin1(curl_easy_strerror(result))
                          : (m_text_response ? QStringLiteral("text answer") : QStringLiteral("ended without a part"));
        ++m_failures;
        if (m_failures == 1 || why != m_failure_text)
            log_warn(QStringLiteral("get stream :: no stream :: ") + why + QStringLiteral(" :: failed attempts ")
                     + QString::number(m_failures.load()));
        m_failure_text = why;
    } else if (m_part_in_transfer && !m_stop && !m_pause && (!m_steady_in_transfer || m_no_part_abort)) {
        // Parts came, but the transfer ended before the stream ran steadily
        // (or it stopped bringing parts): it counts toward the back-off like
        // a failure, told when it begins.
        if (++m_short == 1)
            log_warn(QStringLiteral("get stream :: stream ended early :: short transfers 1"));
    }
    {
        QMutexLocker lock(&m_handle_mutex);
        m_easy = nullptr;
        m_multi = nullptr;
    }
    curl_multi_remove_handle(multi, easy);
    curl_multi_cleanup(multi);
    curl_easy_cleanup(easy);
    curl_slist_free_all(headers);
    m_running = 0;
    return 1;
}

int ZQStreamParser::ssl_ctx_callback(void*, void* ssl_ctx, void* self)
{
    auto* parser = static_cast<ZQStreamParser*>(self);
    X509_STORE* store = SSL_CTX_get_cert_store(static_cast<SSL_CTX*>(ssl_ctx));
    if (!store)
        return CURLE_SSL_CERTPROBLEM;
    for (const QByteArray& pem : std::as_const(parser->m_trusted_pem)) {
        BIO* bio = BIO_new_mem_buf(pem.constData(), int(pem.size()));
        if (!bio)
            continue;
        while (X509* cert = PEM_read_bio_X509(bio, nullptr, nullptr, nullptr)) {
            X509_STORE_add_cert(store, cert);
            X509_free(cert);
        }
        BIO_free(bio);
    }
    return CURLE_OK;
}

size_t ZQStreamParser::header_callback(char* data, size_t size, size_t count, void* self)
{
    auto* parser = static_cast<ZQStreamParser*>(self);
    const size_t n = size * count;
    // A reply's headers are small; a flood of them is cut, not stored.
    if (parser->m_response_headers.size() < 256 * 1024)
        parser->m_response_headers.append(data, n);
    return n;
}

bool ZQStreamParser::transfer_diagnostics()
{
    const int forced = s_forced_diagnostics.load();
    if (forced >= 0)
        return forced > 0;
    const QString version = Http_singleton::instance()->get_version();
    return version.contains(QLatin1String(".DEV")) || version.contains(QLatin1String(".patch"));
}

void ZQStreamParser::force_transfer_diagnostics(int on)
{
    s_forced_diagnostics = on;
}

int ZQStreamParser::debug_callback(void*, int type, char* data, size_t size, void* self)
{
    auto* parser = static_cast<ZQStreamParser*>(self);
    const char* kind = nullptr;
    switch (type) {
    case CURLINFO_TEXT: kind = "* "; break;
    case CURLINFO_HEADER_IN: kind = "< "; break;
    case CURLINFO_HEADER_OUT: kind = "> "; break;
    default: return 0; // bodies and TLS records stay out of the log
    }
    const QByteArray block(data, qsizetype(qMin<size_t>(size, 16384)));
    for (const QByteArray& line : block.split('\n')) {
        const QByteArray trimmed = line.trimmed();
        if (!trimmed.isEmpty())
            parser->log_info(QStringLiteral("curl :: ") + QLatin1String(kind)
                             + ZQLog::redact(QString::fromLatin1(trimmed)));
    }
    return 0;
}

int ZQStreamParser::progress_callback(void* self, long long, long long, long long, long long)
{
    auto* parser = static_cast<ZQStreamParser*>(self);
    if (parser->m_stop) {
        parser->log_info(QStringLiteral("progress_callback :: stop thread detected"));
        return 1;
    }
    return 0;
}

size_t ZQStreamParser::WriteMemoryCallback(char* data, size_t size, size_t count, void* self)
{
    auto* parser = static_cast<ZQStreamParser*>(self);
    const size_t n = size * count;
    parser->read_stream(data, qsizetype(n));
    if (parser->m_pause) {
        parser->log_info(QStringLiteral("WriteMemoryCallback :: pause thread detected"));
        return CURL_WRITEFUNC_ERROR;
    }
    if (parser->m_restart_pending) {
        parser->log_info(QStringLiteral("WriteMemoryCallback :: stream error detected"));
        return CURL_WRITEFUNC_ERROR;
    }
    if (parser->m_no_part_abort)
        return CURL_WRITEFUNC_ERROR;
    if (parser->m_stop)
        return CURL_WRITEFUNC_ERROR;
    return n;
}

void ZQStreamParser::read_stream(const char* data, qsizetype size)
{
    if (!data) {
        log_error(QStringLiteral("get stream :: buffer curl is null"));
        return;
    }
    if (!m_response_headers.empty()) {
        // The last Content-Type line of the reply decides.
        qsizetype from = 0;
        const std::string& h = m_response_headers;
        while (from < qsizetype(h.size())) {
            qsizetype end = qsizetype(h.find("\r\n", size_t(from)));
            if (end < 0)
                end = qsizetype(h.size());
            const std::string_view line(h.data() + from, size_t(end - from));
            if (line.find("Content-Type:") != std::string_view::npos || line.find("content-type:") != std::string_view::npos)
                m_text_response = line.find("text/html") != std::string_view::npos
                                  || line.find("text/plain") != std::string_view::npos;
            from = end + 2;
        }
        // Once read, a reply's headers need not be read again.
        m_response_headers.clear();
    }
    if (m_running < 1)
        return;
    m_part_bytes += size;
    if (m_window_timer.elapsed() >= speed_window_ms) {
        m_prev_window_bytes = m_window_bytes;
        m_prev_window_ms = m_window_timer.elapsed();
        calc_network_fps();
    }
    m_bytes_since_part += size;
    if (m_text_response) {
        check_part_progress();
        return; // an error page: nothing in it is a part
    }
    m_parser.feed(data, size, [this](StreamPart& part) {
        const bool go_on = handle_part(part);
        m_bytes_since_part = 0;
        m_since_part.restart();
        return go_on;
    });
    check_part_progress();
    if (m_error_count >= m_error_limit && !m_stop) {
        log_info(QStringLiteral("read stream :: Too Much errors"));
        if (!m_owner)
            log_error(QStringLiteral("failed to send error"));
        emit send_displayError(QString(), QStringLiteral("ERROR :: Corrupted frames"), true);
        m_error_count = 0;
    }
}

void ZQStreamParser::check_part_progress()
{
    // Bytes that never make a part (no boundary, a part announcing more than
    // a frame can be, an endless error page) end the transfer as a failure.
    if (m_no_part_abort || m_stop || m_pause)
        return;
    const qint64 ms = m_since_part.elapsed();
    if (m_bytes_since_part <= kMaxBytesWithoutPart && ms < m_part_timeout_ms)
        return;
    m_no_part_abort = true;
    log_error(QStringLiteral("read stream :: no part in ") + QString::number(m_bytes_since_part)
              + QStringLiteral(" bytes and ") + QString::number(ms) + QStringLiteral(" ms :: transfer ended"));
}

bool ZQStreamParser::open_decoder_for(const QString& codec)
{
    const QString family = codec_family(codec);
    if (m_decoder_open && family == m_decoder_family)
        return true;
    if (m_decoder_open)
        log_info(QStringLiteral("current decoder codec ") + m_decoder_family + QStringLiteral(" different from content type ")
                 + codec.left(64));
    log_info(QStringLiteral("decoder not open, try with content type ") + codec.left(64));
    m_decoder = std::make_unique<VideoDecoder>();
    if (m_scaler_flags >= 0)
        m_decoder->set_scaler_flags(m_scaler_flags);
    m_decoder_open = m_decoder->open_decoder(family.toStdString()) || m_decoder->open_decoder(family.toStdString());
    m_decoder_family = family;
    return m_decoder_open;
}

void ZQStreamParser::push_record(ZQMediaFrame* record)
{
    QMutexLocker link(&m_link_mutex);
    if (!m_queue || !frame_queue_mutex) {
        link.unlock();
        delete record;
        return;
    }
    QMutexLocker lock(frame_queue_mutex);
    m_queue->push_back(record);
}

void ZQStreamParser::post_direct(DirectPicture picture)
{
    bool post = false;
    {
        QMutexLocker lock(&m_direct_mutex);
        if (m_direct_has_pending)
            ++m_direct_drops; // the older one was never taken: keep the newest
        m_direct_pending = std::move(picture);
        m_direct_has_pending = true;
        post = !m_direct_posted;
        m_direct_posted = true;
    }
    // One delivery waits in the owner's queue at a time; it takes whatever
    // picture is newest when it runs.
    if (post)
        QMetaObject::invokeMethod(this, &ZQStreamParser::deliver_direct, Qt::QueuedConnection);
}

void ZQStreamParser::deliver_direct()
{
    DirectPicture p;
    {
        QMutexLocker lock(&m_direct_mutex);
        m_direct_posted = false;
        if (!m_direct_has_pending)
            return;
        p = std::move(m_direct_pending);
        m_direct_pending = DirectPicture();
        m_direct_has_pending = false;
    }
    emit frame_decoded_old(p.image, int(p.image.bytesPerLine()), p.time, p.draw_overlay, false, p.frame_id,
                           p.image.width(), p.image.height(), p.fps, p.frametag, p.keyframe);
}

bool ZQStreamParser::handle_part(StreamPart& part)
{
    if (m_stop || m_pause)
        return false;
    if (m_skip_decoding)
        return true;
    const bool first = m_first_frame_done == 0;
    m_last_part_message = part.is_message;
    if (part.is_message && !m_owner)
        log_error(QStringLiteral("failed to send error"));

    if (m_buffering && first) {
        const QString fps = part.fps_text;
        if (fps.isEmpty() || fps == QLatin1String(" 0.00") || part.fps <= 0.0) {
            log_info(QStringLiteral("send stop display thread ") + fps.left(32));
            if (!m_owner)
                log_error(QStringLiteral("failed to stop display thread"));
            m_buffering = false;
            emit send_stop_buffering();
        }
    }
    if (!m_connected_announced) {
        m_connected_announced = true;
        emit send_status_message(QStringLiteral("connected"));
    }
    m_part_in_transfer = true;
    if (!m_steady_in_transfer && m_transfer_clock.elapsed() >= kSteadyMs) {
        m_steady_in_transfer = true;
        m_ran_steadily = true;
        if (m_short > 0) {
            m_quiet = false;
            log_info(QStringLiteral("get stream :: stream steady after short transfers ")
                     + QString::number(m_short.load()));
            m_short = 0;
        }
    }
    if (m_failures > 0) {
        m_quiet = false;
        log_info(QStringLiteral("get stream :: stream back after failed attempts ") + QString::number(m_failures.load()));
        m_failures = 0;
        m_failure_text.clear();
    }
    restart_network_fps(m_part_bytes, first);
    m_part_bytes = 0;
    {
        const qint64 span = m_prev_window_ms + m_window_timer.elapsed();
        if (span >= 500 && m_speed_emit_timer.elapsed() >= 1000) {
            m_speed_emit_timer.restart();
            emit speed_send(double(m_prev_window_bytes + m_window_bytes) * 1000.0 / double(span));
        }
    }

    const bool raw = m_queue_mode && m_raw_packets;
    const QString codec = part.codec.isEmpty() ? m_codec : part.codec;
    if (!raw && !part.is_pause && !part.is_message) {
        if (!open_decoder_for(codec)) {
            log_error(QStringLiteral("decoder failed to open"));
            if (!m_owner)
                log_error(QStringLiteral("failed to send error"));
            emit send_displayError(QString(), QStringLiteral("failed to open decoder"), true);
            m_terminal = true;
            m_stop = true;
            m_delete_after_reply = false;
            m_pause = false;
            return false;
        }
    }

    const qint64 time_value =
        part.date.isValid() && part.time_ms >= 0 ? part.date.toJulianDay() * 86400000LL + part.time_ms : -1;

    if (!m_buffering && !m_queue_mode) {
        // Direct mode: each picture goes to the owner as it comes.
        if (part.is_pause) {
            emit send_displayError(part.time_text, QStringLiteral("PAUSE"), true);
        } else if (part.is_message) {
            emit send_displayError(part.time_text, part.message, true);
        } else {
            const QImage img =
                part.body.isEmpty() ? QImage()
                                    : m_decoder->decode_image(reinterpret_cast<const uint8_t*>(part.body.constData()),
                                                              int(part.body.size()));
            if (!img.isNull()) {
                const int w = img.width(), h = img.height();
                if (first || w != m_last_width || h != m_last_height) {
                    if (!m_owner)
                        log_error(QStringLiteral("failed to setup codec size"));
                    emit set_codec_size(w, h);
                }
                if (!m_owner)
                    log_error(QStringLiteral("failed to send decoded frame"));
                else if (first)
                    log_info(QStringLiteral("read stream :: send frame to display :: ") + part.timestamp_raw.left(32));
                m_last_width = w;
                m_last_height = h;
                m_error_count = 0;
                m_first_frame_done = 1;
                post_direct(DirectPicture{img, part.time_text, part.draw_overlay, part.frametag, m_frame_id, part.fps,
                                          m_decoder->is_keyframe()});
            } else {
                m_error_count = part.frametag.isEmpty() ? m_error_count + 1 : 0;
            }
        }
    } else {
        // Queue and buffering modes: back-pressure first, so that a slow
        // consumer holds the producer instead of growing the queue.
        for (;;) {
            const int bound = m_max_queue;
            if (bound <= 0)
                break;
            qsizetype n = 0;
            {
                QMutexLocker link(&m_link_mutex);
                if (!m_queue || !frame_queue_mutex)
                    break;
                QMutexLocker lock(frame_queue_mutex);
                n = qsizetype(m_queue->size());
            }
            if (n < bound)
                break;
            if (!wait_for(200))
                return false;
        }
        auto* record = new ZQMediaFrame;
        if (raw) {
            record->set_data(reinterpret_cast<const uint8_t*>(part.body.constData()), int(part.body.size()));
        } else if (!part.is_pause && !part.is_message && !part.body.isEmpty()) {
            AVFrame* f = m_decoder->decode_frame(reinterpret_cast<const uint8_t*>(part.body.constData()),
                                                 int(part.body.size()), false);
            if (f) {
                record->set_height(f->height);
                record->set_width(f->width);
                record->set_pixel_format(f->format);
                record->set_keyframe(m_decoder->is_keyframe());
                record->set_frame(f);
                if (first || f->width != m_last_width || f->height != m_last_height)
                    emit set_codec_size(record->get_width(), record->get_height());
                m_last_width = record->get_width();
                m_last_height = record->get_height();
                m_error_count = 0;
            } else {
                m_error_count = part.frametag.isEmpty() ? m_error_count + 1 : 0;
            }
        }
        record->set_frame_id(m_frame_id);
        record->set_codec(codec.left(64));
        record->set_timestamp(part.time_text.toLatin1().constData());
        record->set_time_value(time_value);
        record->set_draw_overlay(part.draw_overlay);
        record->set_fps(part.fps);
        record->set_text_overlay(part.frametag);
        // Consumers of raw bytes must tell a pause or a message from a coded frame.
        if (part.is_pause)
            record->set_id(QStringLiteral("PAUSE"));
        else if (part.is_message)
            record->set_id(QStringLiteral("MESSAGE"));
        record->set_filled(true);
        push_record(record);
        m_first_frame_done = 1;
    }
    if (++m_frame_id >= 1000000)
        m_frame_id = 0;
    return !(m_stop || m_pause || m_restart_pending);
}

ZQStreamParser::End ZQStreamParser::stream_parsing_finished()
{
    log_attempt(QStringLiteral("stream parsing finished"));
    if (m_loop && !m_stop && !m_pause && !m_terminal) {
        if (m_buffering) {
            auto* marker = new ZQMediaFrame;
            marker->set_frame_id(-99);
            marker->set_timestamp("REPLAY");
            marker->set_fps(-1.0);
            m_replay_wait = true;
            push_record(marker);
            while (m_replay_wait && wait_for(100)) {
            }
            m_replay_wait = false;
        } else {
            if (!m_owner)
                log_error(QStringLiteral("failed to send error"));
            wait_for(qMax(1000, retry_delay_ms()));
        }
        if (m_stop || m_pause)
            return stream_parsing_finished();
        m_restart_pending = false;
        return End::Continue;
    }
    if (m_pause && !m_stop) {
        log_info(QStringLiteral("stream parsing finished :: pause active :: running handles :: ")
                 + QString::number(m_running));
        reset_part_state();
        m_pause = false;
    } else if (m_stop || m_terminal) {
        log_info(QStringLiteral("stream parsing finished :: quit :: running handles :: ") + QString::number(m_running));
        if (m_terminal)
            emit_error_once();
        if (!m_delete_after_reply) {
            emit send_status_message(QStringLiteral("disconnected"));
            return End::Done;
        }
        if (m_self_delete) {
            // Deleted once the thread has finished, never while it runs.
            log_info(QStringLiteral("stream parsing finished :: self delete"));
            connect(this, &QThread::finished, this, &QObject::deleteLater, Qt::UniqueConnection);
        } else {
            log_info(QStringLiteral("stream parsing finished :: emit can delete"));
            emit_can_delete();
        }
    } else {
        log_attempt(QStringLiteral("stream parsing finished :: Stream Error"));
        log_attempt(QStringLiteral("stream parsing finished :: set restart parser :: running handles :: ")
                 + QString::number(m_running));
        if (!m_owner) {
            emit_error_once();
        } else {
            const int delay = qMax(m_text_response ? m_text_restart_delay_ms.load() : 0, retry_delay_ms());
            if (delay > 0) {
                // The delay runs on the owner's side, in this object's thread.
                QMetaObject::invokeMethod(
                    this, [this, delay] { QTimer::singleShot(delay, this, [this] { emit set_restart(); }); },
                    Qt::QueuedConnection);
            } else {
                emit set_restart();
            }
        }
    }
    emit send_status_message(QStringLiteral("disconnected"));
    return End::Done;
}
