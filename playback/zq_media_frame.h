#pragma once

#include <QString>
#include <cstdint>
#include <memory>

struct AVFrame;

// One frame on its way from a producer (the export reader, the stream client)
// to the consumer that owns the queue. The consumer deletes it; the record then
// frees the picture, the timestamp and the coded bytes it holds.
class ZQMediaFrame
{
public:
    ZQMediaFrame();
    ~ZQMediaFrame();
    ZQMediaFrame(const ZQMediaFrame&) = delete;
    ZQMediaFrame& operator=(const ZQMediaFrame&) = delete;

    bool is_filled() const { return m_filled; }
    void set_filled(bool filled) { m_filled = filled; }
    QString get_id() const { return m_id; }
    void set_id(const QString& id) { m_id = id; }

    // Takes the content of frame (a reference-counted move); frame is left
    // blank and stays the caller's. A null argument leaves the record as is.
    // A picture already held is released first.
    AVFrame* get_frame() const { return m_frame; }
    void set_frame(AVFrame* frame);

    int get_pixel_format() const { return m_pixelFormat; }
    void set_pixel_format(int format) { m_pixelFormat = format; }
    // The codec of the coded bytes as their producer named it (a stream part's "frame/<codec>"
    // without "frame/"); empty when it did not say.
    QString get_codec() const { return m_codec; }
    void set_codec(const QString& codec) { m_codec = codec; }
    QString get_draw_overlay() const { return m_drawOverlay; }
    void set_draw_overlay(const QString& text) { m_drawOverlay = text; }
    QString get_text_overlay() const { return m_textOverlay; }
    void set_text_overlay(const QString& text) { m_textOverlay = text; }

    // The timestamp text ("yyyyMMddHHmmsszzz" from the export reader,
    // "yyyy-MM-dd HH:mm:ss.zzz" from the stream client); null until set. The
    // setter copies the text up to its terminator.
    const char* get_timestamp() const { return m_timestamp.get(); }
    void set_timestamp(const char* timestamp);

    // The coded bytes; set_data copies them (size 0 gives an empty buffer).
    int get_data_size() const { return m_dataSize; }
    uint8_t* get_data() const { return m_data.get(); }
    void set_data(const uint8_t* bytes, int size);

    // The same time as a value consumers compare: milliseconds since the
    // start of the Julian day count (day * 86400000 + time of day), or -1.
    qint64 get_time_value() const { return m_timeValue; }
    void set_time_value(qint64 value) { m_timeValue = value; }

    int get_frame_id() const { return m_frameId; }
    void set_frame_id(int id) { m_frameId = id; }
    int get_width() const { return m_width; }
    void set_width(int width) { m_width = width; }
    int get_height() const { return m_height; }
    void set_height(int height) { m_height = height; }
    double get_fps() const { return m_fps; }
    void set_fps(double fps) { m_fps = fps; }
    bool is_keyframe() const { return m_keyframe; }
    void set_keyframe(bool keyframe) { m_keyframe = keyframe; }

private:
    bool m_filled = false;
    QString m_id;
    AVFrame* m_frame = nullptr;
    int m_pixelFormat = 0;
    QString m_codec;
    QString m_drawOverlay;
    QString m_textOverlay;
    std::unique_ptr<char[]> m_timestamp;
    int m_dataSize = 0;
    int m_frameId = 0;
    qint64 m_timeValue = -1;
    int m_width = -1;
    int m_height = -1;
    double m_fps = -1.0;
    bool m_keyframe = false;
    std::unique_ptr<uint8_t[]> m_data;
};
