#include "playback/audio_decode_resample.h"

#include <algorithm>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

AudioDecodeResample::AudioDecodeResample(int outRate) : m_out_rate(outRate > 0 ? outRate : 48000) {}

AudioDecodeResample::~AudioDecodeResample()
{
    close();
}

void AudioDecodeResample::close()
{
    swr_free(&m_swr);
    av_frame_free(&m_frame);
    avcodec_free_context(&m_codec);
    m_in_rate = 0;
    m_in_channels = 0;
    m_in_format = -1;
    m_in_mask = 0;
}

bool AudioDecodeResample::open(const AVCodecParameters* par, QString* error)
{
    close();
    m_refused = 0;
    if (!par) {
        *error = QStringLiteral("no stream");
        return false;
    }
    if (par->ch_layout.nb_channels > max_channels || par->sample_rate > max_sample_rate || par->sample_rate < 0) {
        *error = QStringLiteral("refused: %1 channels at %2 Hz").arg(par->ch_layout.nb_channels).arg(par->sample_rate);
        return false;
    }
    const AVCodec* codec = avcodec_find_decoder(par->codec_id);
    if (!codec) {
        *error = QStringLiteral("no decoder for codec id %1").arg(int(par->codec_id));
        return false;
    }
    m_codec = avcodec_alloc_context3(codec);
    m_frame = av_frame_alloc();
    if (!m_codec || !m_frame) {
        close();
        *error = QStringLiteral("out of memory");
        return false;
    }
    if (avcodec_parameters_to_context(m_codec, par) < 0) {
        close();
        *error = QStringLiteral("cannot set parameters");
        return false;
    }
    m_codec->thread_count = 1;
    if (avcodec_open2(m_codec, codec, nullptr) < 0) {
        close();
        *error = QStringLiteral("cannot open the decoder");
        return false;
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

bool AudioDecodeResample::rebuild(const AVFrame* f, QByteArray* out)
{
    drain_resampler(out);
    swr_free(&m_swr);
    AVChannelLayout in_layout;
    if (f->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC || !av_channel_layout_check(&f->ch_layout))
        av_channel_layout_default(&in_layout, f->ch_layout.nb_channels);
    else if (av_channel_layout_copy(&in_layout, &f->ch_layout) < 0)
        return false;
    AVChannelLayout stereo = AV_CHANNEL_LAYOUT_STEREO;
    const int r = swr_alloc_set_opts2(&m_swr, &stereo, AV_SAMPLE_FMT_S16, m_out_rate, &in_layout,
                                      AVSampleFormat(f->format), f->sample_rate, 0, nullptr);
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
    m_in_rate = f->sample_rate;
    m_in_channels = f->ch_layout.nb_channels;
    m_in_format = f->format;
    m_in_mask = f->ch_layout.order == AV_CHANNEL_ORDER_NATIVE ? f->ch_layout.u.mask : 0;
    return true;
}

bool AudioDecodeResample::convert(const AVFrame* f, QByteArray* out)
{
    const int channels = f->ch_layout.nb_channels;
    if (channels < 1 || channels > max_channels || f->sample_rate < 1 || f->sample_rate > max_sample_rate ||
        f->nb_samples < 0) {
        ++m_refused;
        return false;
    }
    const unsigned long long mask = f->ch_layout.order == AV_CHANNEL_ORDER_NATIVE ? f->ch_layout.u.mask : 0;
    if (!m_swr || f->sample_rate != m_in_rate || channels != m_in_channels || f->format != m_in_format ||
        mask != m_in_mask) {
        if (!rebuild(f, out)) {
            ++m_refused;
            return false;
        }
    }
    const int cap = int(swr_get_out_samples(m_swr, f->nb_samples)) + 16;
    const qsizetype at = out->size();
    out->resize(at + qsizetype(cap) * bytes_per_sample);
    uint8_t* dst = reinterpret_cast<uint8_t*>(out->data() + at);
    const int n = swr_convert(m_swr, &dst, cap, const_cast<const uint8_t**>(f->extended_data), f->nb_samples);
    out->resize(at + qsizetype(std::max(0, n)) * bytes_per_sample);
    return n >= 0;
}

int AudioDecodeResample::decode(const AVPacket* packet, QByteArray* out)
{
    if (!m_codec)
        return AVERROR(EINVAL);
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
    }
}
