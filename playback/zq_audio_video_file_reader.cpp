#include "playback/zq_audio_video_file_reader.h"

#include "app/zq_log.h"
#include "playback/media_frame_queue.h"
#include "playback/video_decoder.h"
#include "playback/zq_media_frame.h"
#include "recordings/seek_index.h"

#include <QFile>

extern "C" {
#include <libavutil/frame.h>
}

namespace {
const QString kName = QStringLiteral("ZQAudioVideo file reader :: ");
constexpr unsigned long kWaitMs = 300;
}

ZQAudioVideoFileReader::ZQAudioVideoFileReader() = default;

ZQAudioVideoFileReader::ZQAudioVideoFileReader(QList<QFileInfo> files, QString stream)
    : m_files(std::move(files))
    , m_stream(std::move(stream))
{
}

ZQAudioVideoFileReader::ZQAudioVideoFileReader(QList<QFileInfo> files, QString stream, QString begin, QString end)
    : m_files(std::move(files))
    , m_stream(std::move(stream))
    , m_begin(std::move(begin))
    , m_end(std::move(end))
{
}

ZQAudioVideoFileReader::~ZQAudioVideoFileReader()
{
    stop();
    wait();
}

void ZQAudioVideoFileReader::stop()
{
    if (!m_stop.exchange(true))
        ZQLog::log(QStringLiteral("[INFO] ") + kName + QStringLiteral("stop"));
    if (m_queue) {
        QMutexLocker lock(&m_queue->mutex);
        m_queue->notFull.wakeAll();
    }
}

void ZQAudioVideoFileReader::run()
{
    read_all_frames();
}

int ZQAudioVideoFileReader::read_all_frames()
{
    ZQLog::log(QStringLiteral("[INFO] ") + kName + QStringLiteral("read all frames"));
    if (!m_queue) {
        ZQLog::log(QStringLiteral("[ERROR] ") + kName + QStringLiteral("read all frames :: buffer is null"));
        return 0;
    }
    if (m_limit <= 0) {
        ZQLog::log(QStringLiteral("[ERROR] ") + kName + QStringLiteral("read all frames :: no queue limit"));
        return 0;
    }
    bool windowOpen = false;
    bool first = true;
    for (const QFileInfo& file : m_files) {
        if (m_stop.load())
            break;
        if (!read_file(file, &windowOpen, first))
            break;
        first = false;
    }
    m_data.close();
    m_decoder.reset();
    QMutexLocker lock(&m_queue->mutex);
    m_queue->notEmpty.wakeAll();
    return 1;
}

bool ZQAudioVideoFileReader::wait_for_room()
{
    QMutexLocker lock(&m_queue->mutex);
    while (!m_stop.load() && int(m_queue->frames.size()) >= m_limit)
        m_queue->notFull.wait(&m_queue->mutex, kWaitMs);
    return !m_stop.load();
}

bool ZQAudioVideoFileReader::ensure_decoder(const QString& codec)
{
    if (m_decoder && m_decoder->is_open() && m_decoderCodec == codec)
        return true;
    if (m_decoder)
        ZQLog::log(QStringLiteral("[INFO] ") + kName + QStringLiteral("codec change :: ") + m_decoderCodec
                   + QStringLiteral(" -> ") + codec);
    ZQLog::log(QStringLiteral("[INFO] ") + kName + QStringLiteral("init decoder for stream ") + m_stream);
    m_decoder = std::make_unique<VideoDecoder>();
    m_decoderCodec = codec;
    m_needKeyframe = true;
    if (m_decoder->open_decoder(codec.toStdString()) || m_decoder->open_decoder(codec.toStdString()))
        return true;
    m_decoder.reset();
    return false;
}

bool ZQAudioVideoFileReader::read_file(const QFileInfo& file, bool* windowOpen, bool firstFile)
{
    Q_UNUSED(firstFile);
    const QString path = file.absoluteFilePath();
    ZQLog::log(QStringLiteral("[INFO] ") + kName + QStringLiteral("Read Seek File :: file :: ") + path);
    SeekIndexOptions options;
    options.stream = m_stream;
    options.windowBegin = m_begin;
    options.windowEnd = m_end;
    const bool openBefore = *windowOpen;
    options.windowOpen = windowOpen;
    options.cancel = &m_stop;
    options.cameras = &m_cameras;
    SeekIndexResult result;
    QList<ZQFrame> frames = parse_seek_index(path, options, &result);
    if (!result.opened) {
        ZQLog::log(QStringLiteral("[ERROR] ") + kName + QStringLiteral("Read Seek File :: Error Opening Seek File ")
                   + result.seekPath);
        m_failure.store(-14);
        return false;
    }
    if (result.cancelled)
        return false;
    if (frames.isEmpty() && !result.detectedStream.isEmpty()) {
        ZQLog::log(QStringLiteral("[INFO] ") + kName + QStringLiteral("Read Seek File :: ID STREAM NOT FOUND set it to ")
                   + result.detectedStream);
        m_stream = result.detectedStream;
        options.stream = m_stream;
        *windowOpen = openBefore;
        frames = parse_seek_index(path, options, &result);
        if (result.cancelled)
            return false;
    }
    ZQLog::log(QStringLiteral("[INFO] ") + kName + QStringLiteral("Read Seek File :: readed file ") + path
               + QStringLiteral(" :: ") + QString::number(frames.size()));
    if (frames.isEmpty()) {
        m_frameCount.store(-1);
        return true;
    }
    m_frameCount.store(int(frames.size()));
    if (frames.size() >= 2) {
        const qint64 span = frames.last().absolute_ms() - frames.first().absolute_ms();
        if (span > 0 && frames.first().absolute_ms() >= 0)
            m_fps.store(double(frames.size() - 1) * 1000.0 / double(span));
    }
    ZQLog::log(QStringLiteral("[INFO] ") + kName + QStringLiteral("Get FPS :: ")
               + QString::number(m_fps.load(), 'f', 2));

    // A data file that is missing or unreadable would turn the rest of the
    // range into a hole: the export stops there instead.
    const QString dataPath = frames.first().get_data_file();
    {
        QFile probe(dataPath);
        if (!QFileInfo(dataPath).isFile() || !probe.open(QIODevice::ReadOnly)) {
            ZQLog::log(QStringLiteral("[ERROR] ") + kName + QStringLiteral("read frame :: Error Opening Video File ")
                       + dataPath);
            m_failure.store(-14);
            return false;
        }
    }

    QByteArray bytes;
    for (const ZQFrame& entry : std::as_const(frames)) {
        if (!wait_for_room())
            return false;
        ++m_frameCounter;
        if (!ensure_decoder(entry.get_codec())) {
            ZQLog::log(QStringLiteral("[WARN] ") + kName + QStringLiteral("read frame :: no decoder for ")
                       + entry.get_codec());
            continue;
        }
        // Pictures before the first keyframe cannot be decoded whole; the
        // export starts at a keyframe anyway.
        if (m_needKeyframe && !entry.keyframe_contains_one())
            continue;
        if (!read_coded_frame(&m_data, entry, &bytes)) {
            ZQLog::log(QStringLiteral("[WARN] ") + kName + QStringLiteral("read frame :: skipped ")
                       + entry.get_timestamp());
            continue;
        }
        AVFrame* picture =
            m_decoder->decode_frame(reinterpret_cast<const uint8_t*>(bytes.constData()), int(bytes.size()), false);
        if (!picture) {
            ZQLog::log(QStringLiteral("[WARN] ") + kName + QStringLiteral("read frame :: no picture for ")
                       + entry.get_timestamp());
            continue;
        }
        m_needKeyframe = false;
        auto* frame = new ZQMediaFrame;
        frame->set_frame_id(m_frameCounter);
        frame->set_width(picture->width);
        frame->set_height(picture->height);
        frame->set_pixel_format(picture->format);
        frame->set_keyframe(m_decoder->is_keyframe());
        frame->set_frame(picture);
        frame->set_timestamp(entry.get_timestamp().toUtf8().constData());
        frame->set_draw_overlay(entry.get_camera_name());
        frame->set_text_overlay(QString());
        frame->set_fps(m_fps.load());
        frame->set_filled(true);
        {
            QMutexLocker lock(&m_queue->mutex);
            m_queue->frames.push_back(frame);
            m_queue->notEmpty.wakeAll();
        }
        m_queued.fetch_add(1);
    }
    return !m_stop.load();
}
