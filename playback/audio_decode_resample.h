#pragma once

// Decoding and resampling of coded audio to what the audio device plays:
// signed 16-bit little-endian interleaved stereo at a fixed output rate.
// The resampler follows each decoded frame's own rate, channel layout and
// sample format (rebuilt, after draining the old one, when they change), so a
// stream whose parameters change mid-way keeps its pitch and every sample.
//
//   AudioDecodeResample d(48000);
//   if (!d.open(stream->codecpar, &error)) ...
//   QByteArray pcm;
//   while (av_read_frame(fmt, pkt) >= 0) { d.decode(pkt, &pcm); ... }
//   d.decode(nullptr, &pcm); // drain

#include <QByteArray>
#include <QString>

struct AVCodecContext;
struct AVCodecParameters;
struct AVFrame;
struct AVPacket;
struct SwrContext;

class AudioDecodeResample
{
public:
    static constexpr int max_channels = 8;
    static constexpr int max_sample_rate = 192000;
    static constexpr int out_channels = 2;
    static constexpr int bytes_per_sample = 2 * out_channels; // one s16 stereo sample

    explicit AudioDecodeResample(int outRate = 48000);
    ~AudioDecodeResample();
    AudioDecodeResample(const AudioDecodeResample&) = delete;
    AudioDecodeResample& operator=(const AudioDecodeResample&) = delete;

    // Opens the decoder for a stream; refuses more than max_channels or a rate
    // above max_sample_rate. `error` receives a short English reason.
    bool open(const AVCodecParameters* parameters, QString* error);
    void close();
    bool is_open() const { return m_codec != nullptr; }

    // Sends one packet (null: end of stream, drains decoder and resampler) and
    // appends the converted samples of every frame it yields to `out`.
    // Returns 0, or a negative FFmpeg error when the decoder failed; a frame
    // with refused parameters is skipped and counted in refused_frames().
    int decode(const AVPacket* packet, QByteArray* out);
    // Forgets what the decoder and resampler hold (after a jump).
    void flush();

    int out_rate() const { return m_out_rate; }
    int refused_frames() const { return m_refused; }
    // Rate, channels of the last decoded frame (0 before the first).
    int in_rate() const { return m_in_rate; }
    int in_channels() const { return m_in_channels; }

private:
    bool convert(const AVFrame* frame, QByteArray* out);
    bool rebuild(const AVFrame* frame, QByteArray* out);
    void drain_resampler(QByteArray* out);

    int m_out_rate;
    AVCodecContext* m_codec = nullptr;
    AVFrame* m_frame = nullptr;
    SwrContext* m_swr = nullptr;
    int m_in_rate = 0;
    int m_in_channels = 0;
    int m_in_format = -1;
    unsigned long long m_in_mask = 0;
    int m_refused = 0;
};
