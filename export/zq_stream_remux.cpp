#include "export/zq_stream_remux.h"

#include "app/curl_transfer.h"
#include "app/zq_log.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/dict.h>
#include <libavutil/mathematics.h>
}

namespace {

// What an input may reach: the protocols FFmpeg may use for it and for anything it names
// (playlist entries, references), and for a network location how its TLS is checked.
struct InputAccess
{
    QByteArray protocols;
    bool network = false;
    bool tls_only = false; // an https input: nothing of it, nor of what it names, goes over plain http
    QByteArray ca_file;
    int timeout_ms = 0;
};

// Redirects followed for one https location.
constexpr long kMaxRedirects = 5;

// The protocol libavformat takes a location for: the scheme before the first ':' when the
// letters before it can form one, "file" otherwise (a path).
QByteArray protocol_of(const QByteArray& location)
{
    static const char kSchemeChars[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789+-.";
    const size_t n = std::strspn(location.constData(), kSchemeChars);
    if (qsizetype(n) < location.size() && location.at(qsizetype(n)) == ':')
        return location.left(qsizetype(n));
    if (location.startsWith("subfile,"))
        return QByteArrayLiteral("subfile");
    return QByteArrayLiteral("file");
}

bool is_https(const QByteArray& location)
{
    return location.left(8).toLower() == "https://";
}

// Host names are checked only by the gnutls backend of this FFmpeg: with another backend an
// https location could not be verified, so it is refused.
bool tls_verifies_host_names()
{
    static const bool gnutls = QByteArray(avformat_configuration()).contains("--enable-gnutls");
    return gnutls;
}

// FFmpeg's http protocol follows a redirect to plain http inside an https context, and reads the
// plain hop's answer, whose Location then chooses where the https bytes come from. So the redirects
// of an https location are followed here, by libcurl, on https only (certificate and host name
// verified, every hop included), with a small request (the first byte) under the time-out; FFmpeg
// then opens the https location they end at and follows nothing itself. Empty when the location
// cannot be reached this way.
QByteArray resolve_https(const InputAccess& access, const QByteArray& url)
{
    zq::CurlTransfer::Options o;
    o.url = url;
    o.caFile = access.ca_file;
    o.followRedirects = true;
    o.maxRedirects = kMaxRedirects;
    o.redirectProtocols = "https";
    o.keepCap = 1; // the answer's first byte ends the request: its headers were what mattered
    CURL* easy = nullptr;
    QByteArray final_url;
    zq::CurlTransfer::Hooks h;
    h.configure = [&easy, &access](CURL* handle) {
        easy = handle;
        curl_easy_setopt(handle, CURLOPT_PROTOCOLS_STR, "https");
        curl_easy_setopt(handle, CURLOPT_RANGE, "0-0");
        curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT_MS, long(access.timeout_ms));
        curl_easy_setopt(handle, CURLOPT_TIMEOUT_MS, long(access.timeout_ms));
    };
    h.header = [&easy, &final_url](const QByteArray& line) {
        // A status line starts the answer to the request now made: the location it was asked of.
        char* current = nullptr;
        if (line.startsWith("HTTP/") && curl_easy_getinfo(easy, CURLINFO_EFFECTIVE_URL, &current) == CURLE_OK
            && current)
            final_url = current;
    };
    h.redirect = [](const QByteArray&, const QByteArray& to) {
        return is_https(to) ? QString() : QStringLiteral("redirected off https");
    };
    h.route = [](long status) {
        return status >= 300 && status < 400 ? zq::CurlTransfer::Body::Skip : zq::CurlTransfer::Body::Keep;
    };
    zq::CurlTransfer transfer(o, h);
    const CURLcode code = transfer.perform();
    // The first byte of the last answer ends the transfer with a write error; the answer is there.
    const bool answered = code == CURLE_OK || (code == CURLE_WRITE_ERROR && !transfer.kept().isEmpty());
    if (!answered || !is_https(final_url)) {
        const QString why = !transfer.redirectRefusal().isEmpty() ? transfer.redirectRefusal() : transfer.errorText(code);
        ZQLog::log(QStringLiteral("[ERROR] ZQStream Remux :: https input refused :: ") + why.left(300)
                   + QStringLiteral(" :: ") + QString::fromUtf8(url.left(300)));
        return QByteArray();
    }
    return final_url;
}

// Opens a location with the input's protocols, certificate and host-name checks and time-out,
// whatever the caller asks for; an https one where its redirects lead, following no more.
int open_location(const InputAccess& access, const AVIOInterruptCB* interrupt, AVIOContext** pb, const char* url,
                  int flags, AVDictionary** options)
{
    QByteArray target(url);
    if (access.tls_only) {
        if (!is_https(target)) {
            ZQLog::log(QStringLiteral("[ERROR] ZQStream Remux :: https input names another protocol :: refused :: ")
                       + QString::fromUtf8(target.left(300)));
            return AVERROR(EPERM);
        }
        target = resolve_https(access, target);
        if (target.isEmpty())
            return AVERROR(EPERM);
    }
    AVDictionary* opts = nullptr;
    if (options)
        av_dict_copy(&opts, *options, 0);
    av_dict_set(&opts, "protocol_whitelist", access.protocols.constData(), 0);
    if (access.network) {
        av_dict_set(&opts, "tls_verify", "1", 0);
        if (!access.ca_file.isEmpty())
            av_dict_set(&opts, "ca_file", access.ca_file.constData(), 0);
        av_dict_set_int(&opts, "rw_timeout", qint64(access.timeout_ms) * 1000, 0);
    }
    // A redirect now, or in answer to a later range request (a seek), was not checked: it fails.
    if (access.tls_only)
        av_dict_set(&opts, "max_redirects", "0", 0);
    const int ret = avio_open2(pb, target.constData(), flags, interrupt, &opts);
    // What is left goes back as the caller's unused options; ours are no concern of the caller.
    for (const char* key : {"protocol_whitelist", "tls_verify", "ca_file", "rw_timeout", "max_redirects"})
        av_dict_set(&opts, key, nullptr, 0);
    if (options) {
        av_dict_free(options);
        *options = opts;
    } else {
        av_dict_free(&opts);
    }
    return ret;
}

// Everything the input names goes through here. A local input is one file and names nothing:
// a playlist or reference inside it opens nothing. A network input's entries get its rules.
int open_named(AVFormatContext* s, AVIOContext** pb, const char* url, int flags, AVDictionary** options)
{
    const auto* access = static_cast<const InputAccess*>(s->opaque);
    if (!access->network) {
        ZQLog::log(QStringLiteral("[ERROR] ZQStream Remux :: local input names another input :: refused :: ")
                   + QString::fromUtf8(QByteArray(url).left(300)));
        return AVERROR(EPERM);
    }
    return open_location(*access, &s->interrupt_callback, pb, url, flags, options);
}

QString av_error_text(int err)
{
    char buf[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(err, buf, sizeof buf);
    return QString::number(err) + QStringLiteral(" (") + QString::fromUtf8(buf) + QLatin1Char(')');
}

// Everything opened for one run, released on every return path.
struct RemuxRun
{
    AVPacket* pkt = nullptr;
    AVFormatContext* in = nullptr;
    AVIOContext* in_pb = nullptr; // opened here, given to the input as its own
    AVFormatContext* out = nullptr;
    bool output_opened = false;

    ~RemuxRun()
    {
        av_packet_free(&pkt);
        avformat_close_input(&in);
        avio_closep(&in_pb);
        if (out) {
            if (output_opened)
                avio_closep(&out->pb);
            avformat_free_context(out);
        }
    }
};

// Puts `from` at `to` in one step. rename(2) replaces whatever stands at `to` (a link is
// replaced, never followed) atomically, so an earlier file there stays whole until the new one
// takes its place, and stays when the rename fails. Across file systems the bytes are first copied
// to a temporary file beside `to`, which is then renamed the same way.
bool replace_file(const QString& from, const QString& to)
{
    const QByteArray from_name = QFile::encodeName(from);
    const QByteArray to_name = QFile::encodeName(to);
    if (std::rename(from_name.constData(), to_name.constData()) == 0)
        return true;
    if (errno != EXDEV)
        return false;
    QFile source(from);
    if (!source.open(QIODevice::ReadOnly))
        return false;
    const QFileInfo target(to);
    QTemporaryFile beside(QDir(target.absolutePath()).filePath(QStringLiteral(".") + target.fileName()
                                                                 + QStringLiteral(".XXXXXX.part")));
    if (!beside.open())
        return false;
    QByteArray chunk(1 << 20, Qt::Uninitialized);
    for (;;) {
        const qint64 n = source.read(chunk.data(), chunk.size());
        if (n < 0)
            return false;
        if (n == 0)
            break;
        if (beside.write(chunk.constData(), n) != n)
            return false;
    }
    if (!beside.flush())
        return false;
    beside.close();
    if (std::rename(QFile::encodeName(beside.fileName()).constData(), to_name.constData()) != 0)
        return false;
    beside.setAutoRemove(false);
    QFile::remove(from);
    return true;
}

} // namespace

ZQStreamRemux::ZQStreamRemux()
{
    ZQLog::log("[INFO] ZQStream Remux :: create instance");
}

ZQStreamRemux::~ZQStreamRemux()
{
    ZQLog::log("[INFO] ZQStream Remux :: create destroy");
}

QString ZQStreamRemux::final_path_for(const QString& final_path)
{
    // Only the file name: a folder with a blank in its name is where the user wants the file.
    const QFileInfo info(final_path);
    QString name = info.fileName();
    name.replace(QLatin1Char(' '), QLatin1Char('_'));
    const QString dir = QFileInfo(final_path).path();
    return final_path.contains(QLatin1Char('/')) ? QDir(dir).filePath(name) : name;
}

int ZQStreamRemux::remux_url(QString input, QString output_path, QString final_path, double fps)
{
    ZQLog::log(QStringLiteral("[INFO] ZQStream Remux :: remux url ") + input + QStringLiteral(" to file ") + final_path);
    final_path = final_path_for(final_path);
    input.remove(QStringLiteral("&zqmultipart=1"));
    ZQLog::log(QStringLiteral("[INFO] ZQStream Remux :: remux url after convert ") + input + QStringLiteral(" to file ")
          + output_path);

    RemuxRun run;
    run.pkt = av_packet_alloc();
    if (!run.pkt) {
        ZQLog::log("[ERROR] ZQStream Remux :: Could not allocate AVPacket");
        return 1;
    }
    // The time base 100 / floor(fps * 100) needs a positive, finite rate: anything else would
    // divide by zero or stamp every packet alike.
    if (!std::isfinite(fps) || fps <= 0.0 || std::floor(fps * 100.0) < 1.0 || fps > 1000.0) {
        ZQLog::log(QStringLiteral("[ERROR] ZQStream Remux :: Could not open input :: invalid frame rate ")
              + QString::number(fps));
        return -15;
    }

    // A local file, or an http or https location; pipes, sockets and FFmpeg's other protocols
    // are refused. A local input reaches local files only and a network one the network only,
    // so neither can be turned into the other by what it names; https never falls back to http.
    const QByteArray in_name = input.toUtf8();
    const QByteArray protocol = protocol_of(in_name);
    InputAccess access;
    if (protocol == "file") {
        access.protocols = "file";
    } else if (protocol == "http") {
        access.protocols = "http,https,tls,tcp,httpproxy";
        access.network = true;
    } else if (protocol == "https" && tls_verifies_host_names()) {
        access.protocols = "https,tls,tcp,httpproxy";
        access.network = true;
        access.tls_only = true;
    } else {
        ZQLog::log(QStringLiteral("[ERROR] ZQStream Remux :: Could not open input :: protocol refused ")
                   + QString::fromUtf8(protocol));
        return -15;
    }
    access.ca_file = QFile::encodeName(m_ca_file);
    access.timeout_ms = qMax(1, m_timeout_ms);
    run.in = avformat_alloc_context();
    if (!run.in) {
        ZQLog::log("[ERROR] ZQStream Remux :: Could not allocate input context");
        return 1;
    }
    run.in->opaque = &access;
    run.in->io_open = open_named;
    const AVInputFormat* format = nullptr;
    if (!m_input_format.isEmpty()) {
        format = av_find_input_format(m_input_format.toUtf8().constData());
        if (!format) {
            ZQLog::log(QStringLiteral("[ERROR] ZQStream Remux :: Could not open input :: unknown format ") + m_input_format);
            return -15;
        }
    }
    // The input itself is opened here, under the same rules as what it names.
    int ret = open_location(access, &run.in->interrupt_callback, &run.in_pb, in_name.constData(), AVIO_FLAG_READ,
                            nullptr);
    if (ret < 0) {
        ZQLog::log(QStringLiteral("[ERROR] ZQStream Remux :: Could not open input :: ") + av_error_text(ret));
        return -15;
    }
    run.in->pb = run.in_pb;
    AVDictionary* in_opts = nullptr;
    // Opens that do not go through io_open (a concat list opens its entries in an input of its
    // own, with the whitelists of this one but FFmpeg's plain open) are refused: no protocol is
    // named "none".
    av_dict_set(&in_opts, "protocol_whitelist", "none", 0);
    // A playlist would otherwise send its next requests down the connection of the last one,
    // past io_open, where the redirects of an https input's entries are checked.
    if (access.tls_only)
        av_dict_set(&in_opts, "http_persistent", "0", 0);
    ret = avformat_open_input(&run.in, in_name.constData(), format, &in_opts);
    av_dict_free(&in_opts);
    if (ret < 0) {
        ZQLog::log(QStringLiteral("[ERROR] ZQStream Remux :: Could not open input :: ") + av_error_text(ret));
        return -15;
    }
    if (avformat_find_stream_info(run.in, nullptr) < 0) {
        ZQLog::log("[ERROR] ZQStream Remux :: Failed to retrieve input stream information");
        return -16;
    }
    av_dump_format(run.in, 0, in_name.constData(), 0);

    const QByteArray out_name = output_path.toUtf8();
    avformat_alloc_output_context2(&run.out, nullptr, nullptr, out_name.constData());
    if (!run.out) {
        ZQLog::log(QStringLiteral("[ERROR] ZQStream Remux :: Could not create output context for ") + output_path);
        return -17;
    }

    std::vector<int> stream_map(run.in->nb_streams, -1);
    int next_index = 0;
    const int rate = int(std::trunc(fps));
    for (unsigned i = 0; i < run.in->nb_streams; ++i) {
        AVStream* in_stream = run.in->streams[i];
        const AVMediaType type = in_stream->codecpar->codec_type;
        if (type != AVMEDIA_TYPE_VIDEO && type != AVMEDIA_TYPE_AUDIO && type != AVMEDIA_TYPE_SUBTITLE)
            continue;
        stream_map[i] = next_index++;
        AVStream* out_stream = avformat_new_stream(run.out, nullptr);
        if (!out_stream) {
            ZQLog::log("[ERROR] ZQStream Remux :: Failed allocating output stream");
            return -18;
        }
        if (avcodec_parameters_copy(out_stream->codecpar, in_stream->codecpar) < 0) {
            ZQLog::log("[ERROR] ZQStream Remux :: Failed to copy codec parameters");
            return -19;
        }
        out_stream->codecpar->codec_tag = 0;
        out_stream->time_base = in_stream->time_base;
        out_stream->r_frame_rate = AVRational{qMax(rate, 1), 1};
        out_stream->avg_frame_rate = AVRational{qMax(rate, 1), 1};
    }
    av_dump_format(run.out, 0, out_name.constData(), 1);

    if (!(run.out->oformat->flags & AVFMT_NOFILE)) {
        if (avio_open(&run.out->pb, out_name.constData(), AVIO_FLAG_WRITE) < 0) {
            ZQLog::log("[ERROR] ZQStream Remux :: Could not open output file");
            return -20;
        }
        run.output_opened = true;
    }
    if (avformat_write_header(run.out, nullptr) < 0) {
        ZQLog::log("[ERROR] ZQStream Remux :: Error occurred when opening output file");
        if (run.output_opened)
            avio_closep(&run.out->pb);
        run.output_opened = false;
        QFile::remove(output_path);
        return -21;
    }

    const AVRational packet_base{100, int(std::floor(fps * 100.0))};
    qint64 count = 0;
    bool failed = false;
    for (;;) {
        ret = av_read_frame(run.in, run.pkt);
        if (ret < 0) {
            if (ret != AVERROR_EOF)
                failed = true;
            break;
        }
        const unsigned index = unsigned(run.pkt->stream_index);
        if (index >= stream_map.size() || stream_map[index] < 0) {
            av_packet_unref(run.pkt);
            continue;
        }
        AVStream* out_stream = run.out->streams[stream_map[index]];
        run.pkt->stream_index = stream_map[index];
        const auto rounding = AVRounding(AV_ROUND_NEAR_INF | AV_ROUND_PASS_MINMAX);
        run.pkt->pts = av_rescale_q_rnd(count, packet_base, out_stream->time_base, rounding);
        run.pkt->dts = run.pkt->pts;
        run.pkt->duration = av_rescale_q(1, packet_base, out_stream->time_base);
        run.pkt->pos = -1;
        ret = av_interleaved_write_frame(run.out, run.pkt); // takes the packet's reference
        if (ret < 0) {
            ZQLog::log("[ERROR] ZQStream Remux :: Error muxing packet");
            failed = true;
            break;
        }
        ++count;
    }
    ZQLog::log("[WARN] ZQStream Remux :: failed to read frame");

    if (av_write_trailer(run.out) < 0)
        failed = true;
    if (run.output_opened && avio_closep(&run.out->pb) < 0)
        failed = true;
    run.output_opened = false;

    if (failed || count == 0) {
        ZQLog::log(QStringLiteral("[ERROR] ZQStream Remux :: Error occurred ")
              + (count == 0 ? QStringLiteral(":: no packet") : QString()));
        if (count == 0)
            QFile::remove(output_path);
        return 1;
    }

    ZQLog::log("[INFO] ZQStream Remux :: Completed");
    // The input goes only once the output stands under its final name.
    const QString final_abs = QFileInfo(final_path).absoluteFilePath();
    if (final_abs != QFileInfo(output_path).absoluteFilePath()) {
        if (!replace_file(output_path, final_path)) {
            ZQLog::log(QStringLiteral("[ERROR] ZQStream Remux :: Error occurred :: rename to ") + final_path);
            return 1;
        }
    }
    if (!access.network) {
        // The file protocol takes what follows "file:" as the path.
        const QString local = input.startsWith(QLatin1String("file:")) ? input.mid(5) : input;
        if (QFileInfo(local).isFile() && QFileInfo(local).absoluteFilePath() != final_abs)
            QFile::remove(local);
    }
    return 0;
}
