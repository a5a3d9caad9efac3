#include "playback/zq_media_frame.h"

extern "C" {
#include <libavutil/frame.h>
}

#include <cstring>

ZQMediaFrame::ZQMediaFrame() : m_id(QStringLiteral("-1")) {}

ZQMediaFrame::~ZQMediaFrame()
{
    if (m_frame) {
        av_frame_unref(m_frame);
        av_frame_free(&m_frame);
    }
}

void ZQMediaFrame::set_frame(AVFrame* frame)
{
    if (!frame)
        return;
    if (!m_frame) {
        m_frame = av_frame_alloc();
        if (!m_frame)
            return;
    } else {
        av_frame_unref(m_frame);
    }
    av_frame_move_ref(m_frame, frame);
}

void ZQMediaFrame::set_timestamp(const char* timestamp)
{
    if (!timestamp) {
        m_timestamp.reset();
        return;
    }
    const size_t n = std::strlen(timestamp);
    std::unique_ptr<char[]> copy(new char[n + 1]);
    std::memcpy(copy.get(), timestamp, n + 1);
    m_timestamp = std::move(copy);
}

void ZQMediaFrame::set_data(const uint8_t* bytes, int size)
{
    if (size < 0 || (!bytes && size > 0))
        size = 0;
    std::unique_ptr<uint8_t[]> copy(new uint8_t[size_t(size) + 1]);
    if (size > 0)
        std::memcpy(copy.get(), bytes, size_t(size));
    m_data = std::move(copy);
    m_dataSize = size;
}
