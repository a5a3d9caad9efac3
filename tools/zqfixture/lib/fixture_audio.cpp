#include "tools/zqfixture/lib/fixture_audio.h"

#include "tools/zqfixture/lib/fixture_encoder.h"
#include "tools/zqfixture/lib/fixture_writer.h"

#include <QSaveFile>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <memory>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
}

namespace ZQFixture {

namespace {

struct CodecCloser {
    void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct FrameCloser {
    void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct PacketCloser {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};

int adts_rate_index(int rate)
{
    static const int rates[] = {96000, 88200, 64000, 48000, 44100, 32000, 24000, 22050, 16000, 12000, 11025, 8000, 7350};
    for (int i = 0; i < 13; ++i)
        if (rates[i] == rate)
            return i;
    return -1;
}

// The 7-byte ADTS header (no CRC) in front of one raw AAC-LC frame.
QByteArray adts_header(int rate_index, int channels, int payload)
{
    const int len = payload + 7;
    QByteArray h(7, '\0');
    h[0] = char(0xFF);
    h[1] = char(0xF1); // MPEG-4, layer 0, no CRC
    h[2] = char((1 << 6) | (rate_index << 2) | ((channels >> 2) & 1)); // profile LC (object type 2 - 1)
    h[3] = char(((channels & 3) << 6) | ((len >> 11) & 3));
    h[4] = char((len >> 3) & 0xFF);
    h[5] = char(((len & 7) << 5) | 0x1F);
    h[6] = char(0xFC);
    return h;
}

} // namespace

double tone_frequency(qint64 second_of_day)
{
    return 300.0 + 50.0 * double(((second_of_day % 60) + 60) % 60);
}

ToneMeasure measure_tone(const qint16* x, qsizetype frames, int channels, int rate)
{
    ToneMeasure m;
    if (frames < 2 || channels < 1 || rate < 1)
        return m;
    qsizetype crossings = 0;
    qsizetype first = -1, last = -1;
    int peak = 0;
    for (qsizetype i = 0; i < frames; ++i) {
        const int v = x[i * channels];
        peak = std::max(peak, std::abs(v));
        if (i > 0) {
            const int p = x[(i - 1) * channels];
            if ((p < 0 && v >= 0) || (p >= 0 && v < 0)) {
                if (first < 0)
                    first = i;
                last = i;
                ++crossings;
            }
        }
    }
    m.peak = peak / 32768.0;
    if (crossings >= 3 && last > first)
        m.frequency = double(crossings - 1) / 2.0 * rate / double(last - first);
    return m;
}

int tone_second(double frequency)
{
    const int s = int(std::lround((frequency - 300.0) / 50.0));
    if (s < 0 || s > 59 || std::abs(tone_frequency(s) - frequency) > 20.0)
        return -1;
    return s;
}

QString audio_codec_word(AudioCodec codec)
{
    switch (codec) {
    case AudioCodec::AAC: return QStringLiteral("aac");
    case AudioCodec::MP3: return QStringLiteral("mp3");
    case AudioCodec::None: break;
    }
    return QString();
}

bool parse_audio_codec(const QString& word, AudioCodec* codec)
{
    const QString w = word.trimmed().toLower();
    if (w == QLatin1String("aac"))
        *codec = AudioCodec::AAC;
    else if (w == QLatin1String("mp3"))
        *codec = AudioCodec::MP3;
    else
        return false;
    return true;
}

bool write_audio(const AudioOptions& o, const QString& base, const QDate& date, qint64 start_ms, int seconds,
                 QList<AudioEntry>* entries, QString* error)
{
    if (o.rate != 8000 && o.rate != 16000 && o.rate != 48000) {
        *error = QStringLiteral("audio rate %1 is not 8000, 16000 or 48000").arg(o.rate);
        return false;
    }
    if (o.channels != 1 && o.channels != 2) {
        *error = QStringLiteral("audio channels must be 1 or 2");
        return false;
    }
    const bool aac = o.codec == AudioCodec::AAC;
    const AVCodec* codec = aac ? avcodec_find_encoder_by_name("aac") : avcodec_find_encoder_by_name("libmp3lame");
    if (!codec) {
        *error = aac ? QStringLiteral("no AAC encoder") : QStringLiteral("no libmp3lame encoder");
        return false;
    }
    std::unique_ptr<AVCodecContext, CodecCloser> ctx(avcodec_alloc_context3(codec));
    std::unique_ptr<AVFrame, FrameCloser> frame(av_frame_alloc());
    std::unique_ptr<AVPacket, PacketCloser> pkt(av_packet_alloc());
    if (!ctx || !frame || !pkt) {
        *error = QStringLiteral("out of memory");
        return false;
    }
    ctx->sample_rate = o.rate;
    av_channel_layout_default(&ctx->ch_layout, o.channels);
    ctx->sample_fmt = aac ? AV_SAMPLE_FMT_FLTP : AV_SAMPLE_FMT_S16P;
    ctx->bit_rate = (o.rate >= 48000 ? 64000 : 32000) * o.channels;
    if (!aac && o.rate < 16000)
        ctx->bit_rate = 16000 * o.channels;
    ctx->time_base = AVRational{1, o.rate};
    int err = avcodec_open2(ctx.get(), codec, nullptr);
    if (err < 0) {
        *error = QStringLiteral("cannot open the audio encoder: %1").arg(av_error_text(err));
        return false;
    }
    const int frame_size = ctx->frame_size > 0 ? ctx->frame_size : 1152;
    frame->format = ctx->sample_fmt;
    frame->sample_rate = o.rate;
    frame->nb_samples = frame_size;
    av_channel_layout_copy(&frame->ch_layout, &ctx->ch_layout);
    if ((err = av_frame_get_buffer(frame.get(), 0)) < 0) {
        *error = QStringLiteral("cannot allocate an audio frame: %1").arg(av_error_text(err));
        return false;
    }

    QSaveFile data(base + QStringLiteral(".zqaudio"));
    if (!data.open(QIODevice::WriteOnly)) {
        *error = QStringLiteral("cannot create %1: %2").arg(data.fileName(), data.errorString());
        return false;
    }
    const QByteArray codec_text = aac ? QByteArrayLiteral("frame/aac") : QByteArrayLiteral("frame/mp3");
    const int rate_index = adts_rate_index(o.rate);
    QByteArray seek;
    qint64 offset = 0;

    // An entry gathers coded frames until it covers about entry_ms.
    // Times count the samples a decoder gives back from the start of the file
    // (raw ADTS and MP3 keep the encoder's priming samples), so an entry's
    // time is when its sound plays, not when the tone was fed in.
    QByteArray pending;
    qint64 pending_start = -1; // sample index of the entry's first sample
    qint64 coded_samples = 0;
    int pending_samples = 0;
    auto close_entry = [&]() -> bool {
        if (pending.isEmpty())
            return true;
        if (data.write(pending) != pending.size()) {
            *error = QStringLiteral("cannot write %1: %2").arg(data.fileName(), data.errorString());
            return false;
        }
        AudioEntry e;
        e.time_ms = start_ms + pending_start * 1000 / o.rate;
        e.offset = offset;
        e.size = int(pending.size());
        e.samples = pending_samples;
        entries->append(e);
        seek += timestamp_text(date, e.time_ms).toLatin1() + ":audio1:" + codec_text + ':' +
                QByteArray::number(e.size) + '\n';
        offset += e.size;
        pending.clear();
        pending_start = -1;
        pending_samples = 0;
        return true;
    };
    auto take_packets = [&]() -> bool {
        for (;;) {
            const int r = avcodec_receive_packet(ctx.get(), pkt.get());
            if (r == AVERROR(EAGAIN) || r == AVERROR_EOF)
                return true;
            if (r < 0) {
                *error = QStringLiteral("audio encoding failed: %1").arg(av_error_text(r));
                return false;
            }
            if (pending_start < 0)
                pending_start = coded_samples;
            if (aac)
                pending += adts_header(rate_index, o.channels, pkt->size);
            pending.append(reinterpret_cast<const char*>(pkt->data), pkt->size);
            const int dur = pkt->duration > 0 ? int(pkt->duration) : frame_size;
            pending_samples += dur;
            coded_samples += dur;
            av_packet_unref(pkt.get());
            if (qint64(pending_samples) * 1000 >= qint64(o.entry_ms) * o.rate && !close_entry())
                return false;
        }
    };

    const qint64 total = qint64(seconds) * o.rate;
    const double two_pi = 6.283185307179586;
    double phase = 0.0;
    for (qint64 s0 = 0; s0 < total; s0 += frame_size) {
        if ((err = av_frame_make_writable(frame.get())) < 0) {
            *error = QStringLiteral("audio frame: %1").arg(av_error_text(err));
            return false;
        }
        const int n = int(std::min<qint64>(frame_size, total - s0));
        frame->nb_samples = n;
        for (int i = 0; i < n; ++i) {
            const qint64 t_ms = start_ms + (s0 + i) * 1000 / o.rate;
            phase += two_pi * tone_frequency(t_ms / 1000) / o.rate;
            if (phase > two_pi)
                phase -= two_pi;
            const double v = tone_amplitude * std::sin(phase);
            for (int c = 0; c < o.channels; ++c) {
                if (aac)
                    reinterpret_cast<float*>(frame->data[c])[i] = float(v);
                else
                    reinterpret_cast<int16_t*>(frame->data[c])[i] = int16_t(std::lround(v * 32767.0));
            }
        }
        frame->pts = s0;
        if ((err = avcodec_send_frame(ctx.get(), frame.get())) < 0) {
            *error = QStringLiteral("audio encoding failed: %1").arg(av_error_text(err));
            return false;
        }
        if (!take_packets())
            return false;
    }
    avcodec_send_frame(ctx.get(), nullptr);
    if (!take_packets() || !close_entry())
        return false;
    if (!data.commit()) {
        *error = QStringLiteral("cannot write %1: %2").arg(data.fileName(), data.errorString());
        return false;
    }
    QSaveFile seek_file(base + QStringLiteral(".zqaudioseek"));
    if (!seek_file.open(QIODevice::WriteOnly) || seek_file.write(seek) != seek.size() || !seek_file.commit()) {
        *error = QStringLiteral("cannot write %1: %2").arg(seek_file.fileName(), seek_file.errorString());
        return false;
    }
    return true;
}

} // namespace ZQFixture
