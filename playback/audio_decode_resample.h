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
struct AVChannelLayout;
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

    // Which step of open() failed.
    enum class OpenFailure {
        None,
        Refused,          // more than max_channels or a rate above max_sample_rate
        NoCodec,          // no decoder for the codec
        NoContext,        // the codec context could not be allocated
        NoParameters,     // the stream parameters could not be copied
        NoDecoder,        // the decoder did not open
        NoDecodeFrame,    // the decoded frame could not be allocated
        NoTranscodeFrame, // the converted frame could not be allocated
        NoResampler,      // the resampler did not initialise
    };
    // decode() returns this when the resampler could not be rebuilt for a
    // frame whose parameters changed: nothing more can be played.
    static constexpr int resampler_failed = -0x5a515253;

    // Opens the decoder for a stream; refuses more than max_channels or a rate
    // above max_sample_rate. A sample rate of 0 is read as 8000 Hz and a
    // channel count of 0 as mono, as the recorders write such streams.
    // `error` receives a short English reason, failure() the failed step.
    bool open(const AVCodecParameters* parameters, QString* error);
    OpenFailure failure() const { return m_failure; }
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
    bool rebuild(int rate, int channels, const AVChannelLayout* layout, int format, QByteArray* out);
    bool fail(OpenFailure failure, const QString& reason, QString* error);
    void drain_resampler(QByteArray* out);

    int m_out_rate;
    AVCodecContext* m_codec = nullptr;
    AVFrame* m_frame = nullptr;
    AVFrame* m_out = nullptr; // the converted (transcode) frame: s16 stereo at the output rate
    SwrContext* m_swr = nullptr;
    OpenFailure m_failure = OpenFailure::None;
    bool m_resampler_broken = false;
    int m_in_rate = 0;
    int m_in_channels = 0;
    int m_in_format = -1;
    unsigned long long m_in_mask = 0;
    int m_refused = 0;
};
