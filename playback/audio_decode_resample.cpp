#include "playback/audio_decode_resample.h"

#include <algorithm>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

namespace {

// What recorders write when the stream header leaves them out.
constexpr int kFallbackRate = 8000;
constexpr int kFallbackChannels = 1;

} // namespace

AudioDecodeResample::AudioDecodeResample(int outRate) : m_out_rate(outRate > 0 ? outRate : 48000) {}

AudioDecodeResample::~AudioDecodeResample()
{
    close();
}

void AudioDecodeResample::close()
{
    swr_free(&m_swr);
    av_frame_free(&m_frame);
    av_frame_free(&m_out);
    avcodec_free_context(&m_codec);
    m_in_rate = 0;
    m_in_channels = 0;
    m_in_format = -1;
    m_in_mask = 0;
    m_resampler_broken = false;
}

bool AudioDecodeResample::fail(OpenFailure failure, const QString& reason, QString* error)
{
    close();
    m_failure = failure;
    if (error)
        *error = reason;
    return false;
}

bool AudioDecodeResample::open(const AVCodecParameters* par, QString* error)
{
    close();
    m_refused = 0;
    m_failure = OpenFailure::None;
    if (!par)
        return fail(OpenFailure::NoCodec, QStringLiteral("no stream"), error);
    if (par->ch_layout.nb_channels > max_channels || par->sample_rate > max_sample_rate || par->sample_rate < 0)
        return fail(OpenFailure::Refused,
                    QStringLiteral("refused: %1 channels at %2 Hz").arg(par->ch_layout.nb_channels).arg(par->sample_rate),
                    error);
    const AVCodec* codec = avcodec_find_decoder(par->codec_id);
    if (!codec)
        return fail(OpenFailure::NoCodec, QStringLiteral("no decoder for codec id %1").arg(int(par->codec_id)), error);
    m_codec = avcodec_alloc_context3(codec);
    if (!m_codec)
        return fail(OpenFailure::NoContext, QStringLiteral("cannot allocate the context"), error);
    if (avcodec_parameters_to_context(m_codec, par) < 0)
        return fail(OpenFailure::NoParameters, QStringLiteral("cannot set parameters"), error);
    // A stream that names no rate or no channel count is 8000 Hz mono: decoders
    // of raw formats take these values as they are, and the resampler needs them.
    if (m_codec->sample_rate <= 0)
        m_codec->sample_rate = kFallbackRate;
    if (m_codec->ch_layout.nb_channels <= 0) {
        av_channel_layout_uninit(&m_codec->ch_layout);
        av_channel_layout_default(&m_codec->ch_layout, kFallbackChannels);
    }
    m_codec->thread_count = 1;
    if (avcodec_open2(m_codec, codec, nullptr) < 0)
        return fail(OpenFailure::NoDecoder, QStringLiteral("cannot open the decoder"), error);
    m_frame = av_frame_alloc();
    if (!m_frame)
        return fail(OpenFailure::NoDecodeFrame, QStringLiteral("cannot allocate the decode frame"), error);
    m_out = av_frame_alloc();
    if (!m_out)
        return fail(OpenFailure::NoTranscodeFrame, QStringLiteral("cannot allocate the transcode frame"), error);
    // The resampler for what the stream announces; a frame that differs
    // rebuilds it. A decoder that names its sample format only with its first
    // frame gets its resampler then.
    if (m_codec->sample_fmt != AV_SAMPLE_FMT_NONE) {
        QByteArray none;
        if (!rebuild(m_codec->sample_rate, m_codec->ch_layout.nb_channels, &m_codec->ch_layout, m_codec->sample_fmt,
                     &none))
            return fail(OpenFailure::NoResampler, QStringLiteral("cannot open the resampler"), error);
    }
    return true;
}

void AudioDecodeResample::flush()
{
    if (m_codec)
        avcodec_flush_buffers(m_codec);
    // A fresh resampler holds no samples of the stream before the jump.
    swr_free(&m_swr);
    m_in_rate = 0;
    m_in_channels = 0;
    m_in_format = -1;
    m_in_mask = 0;
}

void AudioDecodeResample::drain_resampler(QByteArray* out)
{
    if (!m_swr)
        return;
    for (;;) {
        const int cap = std::max(1024, int(swr_get_out_samples(m_swr, 0)));
        const qsizetype at = out->size();
        out->resize(at + qsizetype(cap) * bytes_per_sample);
        uint8_t* dst = reinterpret_cast<uint8_t*>(out->data() + at);
        const int n = swr_convert(m_swr, &dst, cap, nullptr, 0);
        out->resize(at + qsizetype(std::max(0, n)) * bytes_per_sample);
        if (n < cap)
            return;
    }
}

bool AudioDecodeResample::rebuild(int rate, int channels, const AVChannelLayout* layout, int format, QByteArray* out)
{
    drain_resampler(out);
    swr_free(&m_swr);
    AVChannelLayout in_layout;
    if (!layout || layout->order == AV_CHANNEL_ORDER_UNSPEC || layout->nb_channels != channels
        || !av_channel_layout_check(layout))
        av_channel_layout_default(&in_layout, channels);
    else if (av_channel_layout_copy(&in_layout, layout) < 0)
        return false;
    AVChannelLayout stereo = AV_CHANNEL_LAYOUT_STEREO;
    const int r = swr_alloc_set_opts2(&m_swr, &stereo, AV_SAMPLE_FMT_S16, m_out_rate, &in_layout,
                                      AVSampleFormat(format), rate, 0, nullptr);
    const bool mono = in_layout.nb_channels == 1;
    av_channel_layout_uninit(&in_layout);
    // Mono goes to both sides at its own level (the default matrix mixes it in at -3 dB).
    if (r >= 0 && m_swr && mono) {
        static const double both[2] = {1.0, 1.0};
        swr_set_matrix(m_swr, both, 1);
    }
    if (r < 0 || !m_swr || swr_init(m_swr) < 0) {
        swr_free(&m_swr);
        return false;
    }
    m_in_rate = rate;
    m_in_channels = channels;
    m_in_format = format;
    m_in_mask = layout && layout->order == AV_CHANNEL_ORDER_NATIVE && layout->nb_channels == channels
                    ? layout->u.mask
                    : 0;
    return true;
}

bool AudioDecodeResample::convert(const AVFrame* f, QByteArray* out)
{
    // A frame that names no rate or no channels has the stream's (8000 Hz mono
    // when the stream named none either).
    const int rate = f->sample_rate > 0 ? f->sample_rate : m_codec->sample_rate;
    const int channels = f->ch_layout.nb_channels > 0 ? f->ch_layout.nb_channels : kFallbackChannels;
    if (channels > max_channels || rate < 1 || rate > max_sample_rate || f->nb_samples < 0 || f->format < 0) {
        ++m_refused;
        return false;
    }
    const bool named = f->ch_layout.nb_channels > 0;
    const unsigned long long mask = named && f->ch_layout.order == AV_CHANNEL_ORDER_NATIVE ? f->ch_layout.u.mask : 0;
    if (!m_swr || rate != m_in_rate || channels != m_in_channels || f->format != m_in_format || mask != m_in_mask) {
        if (!rebuild(rate, channels, named ? &f->ch_layout : nullptr, f->format, out)) {
            m_resampler_broken = true;
            return false;
        }
    }
    // The converted samples land in the transcode frame, kept between frames
    // and grown when a frame needs more room.
    const int cap = int(swr_get_out_samples(m_swr, f->nb_samples)) + 16;
    if (!m_out->data[0] || m_out->nb_samples < cap) {
        av_frame_unref(m_out);
        AVChannelLayout stereo = AV_CHANNEL_LAYOUT_STEREO;
        m_out->sample_rate = m_out_rate;
        m_out->format = AV_SAMPLE_FMT_S16;
        av_channel_layout_copy(&m_out->ch_layout, &stereo);
        m_out->nb_samples = std::max(cap, 4096);
        if (av_frame_get_buffer(m_out, 0) < 0) {
            av_frame_unref(m_out);
            ++m_refused;
            return false;
        }
    }
    const int n = swr_convert(m_swr, m_out->data, m_out->nb_samples, const_cast<const uint8_t**>(f->extended_data),
                              f->nb_samples);
    if (n > 0)
        out->append(reinterpret_cast<const char*>(m_out->data[0]), qsizetype(n) * bytes_per_sample);
    return n >= 0;
}

int AudioDecodeResample::decode(const AVPacket* packet, QByteArray* out)
{
    if (!m_codec)
        return AVERROR(EINVAL);
    if (m_resampler_broken)
        return resampler_failed;
    int r = avcodec_send_packet(m_codec, packet);
    if (r < 0 && r != AVERROR_EOF)
        return r;
    for (;;) {
        r = avcodec_receive_frame(m_codec, m_frame);
        if (r == AVERROR(EAGAIN))
            return 0;
        if (r == AVERROR_EOF) {
            drain_resampler(out);
            return 0;
        }
        if (r < 0)
            return r;
        convert(m_frame, out);
        av_frame_unref(m_frame);
        if (m_resampler_broken)
            return resampler_failed;
    }
}
