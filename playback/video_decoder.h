#pragma once

#include <QImage>
#include <QtGlobal>
#include <cstdint>
#include <string>

struct AVCodecContext;
struct AVFrame;
struct AVPacket;
struct AVBufferRef;
struct SwsContext;

// Decodes coded video frames one at a time (software decoding). The decoded
// picture stays the decoder's until its next call; the converted picture is a
// QImage (Format_RGB32) of its own that the caller keeps.
class VideoDecoder
{
public:
    // Pictures larger than this on either side, or with more pixels than this, are refused with
    // a log line: converting such a picture takes seconds and gigabytes on the thread that shows
    // it. 8K (7680 x 4320, 33 million pixels) plays.
    static constexpr int kMaxPictureSide = 8192;
    static constexpr qint64 kMaxPicturePixels = 40000000;

    VideoDecoder();
    ~VideoDecoder();
    VideoDecoder(const VideoDecoder&) = delete;
    VideoDecoder& operator=(const VideoDecoder&) = delete;

    // Opens a decoder for a name of the codec table ("libx264", "h264",
    // "h.264", "hevc", "h265", "h.265", "mpeg4", "jpeg", "mjpeg").
    bool open_decoder(std::string codecName);

    // Decodes one coded frame (the bytes are not copied and stay the caller's).
    // Returns the decoder's native picture (its own pixel format, for example
    // YUV 4:2:0, never BGRA), or null when none comes out; it stays the
    // decoder's until the next call. With convert true the picture is also
    // converted and get_image() holds the QImage; a failed conversion returns
    // null. The native frame: decode_frame(data, size, false). A converted
    // QImage: decode_image(), the one way for callers that show pictures.
    AVFrame* decode_frame(const uint8_t* data, int size, bool convert);
    // Decodes and converts: the picture as a QImage (Format_RGB32) of the
    // caller's own; a null image when no picture comes out.
    QImage decode_image(const uint8_t* data, int size);
    // The picture of the last successful conversion (shared with the caller;
    // the decoder drops its reference at the next decode).
    QImage get_image() const { return m_image; }
    // Converts a picture this decoder produced earlier (kept by reference);
    // a null image when it cannot be converted.
    QImage convert_frame(const AVFrame* frame);

    // Drops every picture the codec still holds, for a jump to another place
    // of the stream; the next picture must start from a keyframe.
    void flush();

    void setup_scaler(int width, int height);
    void set_scaler_flags(int flags);

    std::string get_codec_name() const { return m_codecName; }
    int get_width() const { return m_width; }
    int get_height() const { return m_height; }
    int get_pixel_format() const;
    bool is_keyframe() const { return m_keyframe; }
    bool is_open() const { return m_context != nullptr; }
    int get_scaler_flags() const { return m_scalerFlags; }

private:
    void close_codec();
    bool convert(const AVFrame* frame);
    // (Re)creates the scaler from that size and pixel format to BGRA.
    bool build_scaler(int width, int height, int format);

    std::string m_label;
    bool m_hardware = false;
    bool m_cuda = false;
    bool m_blocked = false;
    bool m_keyframe = false;
    int m_firstFrameDone = 0;
    int m_lastDecodeOk = 0;
    int m_width = -1;
    int m_height = -1;
    AVCodecContext* m_context = nullptr;
    AVFrame* m_decoded = nullptr;
    AVPacket* m_packet = nullptr;
    SwsContext* m_scaler = nullptr;
    int m_scalerSrcFormat = -1;
    int m_scalerWidth = -1;
    int m_scalerHeight = -1;
    QImage m_image;
    std::string m_codecName;
    int m_scalerFlags = 1024; // SWS_SPLINE
};
