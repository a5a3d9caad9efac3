#include "playback/zq_audio_video_file_reader.h"

#include "app/zq_log.h"
#include "playback/media_frame_queue.h"
#include "playback/video_decoder.h"
#include "playback/zq_media_frame.h"
#include "recordings/seek_index.h"
#include "recordings/time_text.h"

#include <QFile>

extern "C" {
#include <libavutil/frame.h>
}

namespace {
const QString kName = QStringLiteral("ZQAudioVideo file reader :: ");
constexpr unsigned long kWaitMs = 300;

void log_info(const QString& text)
{
    ZQLog::log(QStringLiteral("[INFO] ") + kName + text);
}
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
    log_info(QStringLiteral("destruct"));
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
    if (m_rawMode)
        init_displayer_for_stream(m_stream);
    read_all_frames();
}

int ZQAudioVideoFileReader::read_all_frames()
{
    ZQLog::log(QStringLiteral("[INFO] ") + kName + QStringLiteral("read all frames"));
    if (m_rawMode)
        return read_all_raw();
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
    // The first seek pass goes through the files up to the first one with
    // entries in the window; when it ends without any (stopped before or
    // during it, or no entry in the window) the empty frame list is reported,
    // as read_seek_file does. A seek index or data file that does not open is
    // reported by failure() instead.
    bool found = false;
    for (const QFileInfo& file : m_files) {
        if (m_stop.load())
            break;
        const bool goOn = read_file(file, &windowOpen, first);
        found = found || !m_frameList.isEmpty();
        if (!goOn)
            break;
        first = false;
    }
    if (!found && m_failure.load() == 0)
        emit error(-10);
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
    // The frame list is the file being read, as get_frame_count() counts it.
    m_frameList = frames;
    m_readFiles.insert(path);
    if (frames.isEmpty()) {
        m_frameCount.store(-1);
        return true;
    }
    m_frameCount.store(int(frames.size()));
    const double fps = seek_index_frame_rate(frames);
    if (fps > 0)
        m_fps.store(fps);
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
        queue_picture(picture, entry);
    }
    return !m_stop.load();
}

void ZQAudioVideoFileReader::queue_picture(AVFrame* picture, const ZQFrame& entry)
{
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

// ---- Random-access side (the audio player's use) ----

ZQFrame ZQAudioVideoFileReader::get_frame_at(int index) const
{
    if (index < 0 || index >= m_frameList.size()) {
        // Numbers 0 rather than the "no line" marks of a default record.
        ZQFrame empty;
        empty.set_size(0);
        empty.set_offset(0);
        return empty;
    }
    return m_frameList.at(index);
}

int ZQAudioVideoFileReader::get_frame_index_for_timestamp(const QString& time) const
{
    if (m_frameList.isEmpty()) {
        ZQLog::log(QStringLiteral("[WARN] ") + kName + QStringLiteral("get frame index for timestamp :: frame list is empty "));
        return -1;
    }
    QDate date;
    qint64 ms = 0;
    if (!TimeText::parse_yyyymmddhhmmss(time, &date, &ms) && !TimeText::parse_yyyymmddhhmmsszzz(time, &date, &ms))
        return -1;
    const QString second = TimeText::make_yyyymmddhhmmss(date, ms);
    for (qsizetype i = 0; i < m_frameList.size(); ++i) {
        if (m_frameList.at(i).get_timestamp().startsWith(second))
            return int(i);
    }
    return -1;
}

QList<ZQFrame> ZQAudioVideoFileReader::read_seek_file(QList<QFileInfo> files, QString stream, QString begin,
                                                      QString end, bool firstOnly)
{
    m_frameList.clear();
    // The window carries from one file to the next within this call.
    bool windowOpen = false;
    for (const QFileInfo& file : std::as_const(files)) {
        if (m_stop.load())
            break;
        const QString path = file.absoluteFilePath();
        if (m_readFiles.contains(path))
            continue;
        log_info(QStringLiteral("Read Seek File :: file :: ") + path);
        const SeekCompanions companions = seek_index_companions(path);
        log_info(QStringLiteral("Read Seek File :: seek :: ") + companions.seekPath);

        SeekIndexOptions options;
        options.stream = stream;
        options.windowBegin = begin;
        options.windowEnd = end;
        options.windowOpen = &windowOpen;
        options.cancel = &m_stop;
        options.cameras = &m_cameras;
        const bool openBefore = windowOpen;
        SeekIndexResult result;
        QList<ZQFrame> frames = parse_seek_index(path, options, &result);
        if (!result.opened) {
            log_info(QStringLiteral("Read Seek File :: Error Opening Seek File ") + companions.seekPath);
            m_frameCount.store(m_frameList.isEmpty() ? -1 : int(m_frameList.size()));
            return m_frameList;
        }
        if (result.cancelled)
            break;
        if (frames.isEmpty() && !result.detectedStream.isEmpty()) {
            stream = result.detectedStream;
            m_stream = stream;
            log_info(QStringLiteral("Read Seek File :: ID STREAM NOT FOUND set it to ") + stream);
            options.stream = stream;
            windowOpen = openBefore;
            frames = parse_seek_index(path, options, &result);
            if (result.cancelled)
                break;
        }
        m_frameList.append(frames);
        log_info(QStringLiteral("Read Seek File :: readed file ") + path);
        m_readFiles.insert(path);
        if (firstOnly && !m_frameList.isEmpty()) {
            log_info(QStringLiteral("Read Seek File :: used for init & framelist size ")
                     + QString::number(m_frameList.size()));
            break;
        }
    }
    m_frameCount.store(m_frameList.isEmpty() ? -1 : int(m_frameList.size()));
    if (m_frameList.isEmpty()) {
        emit error(-10);
    } else {
        const double fps = get_fps();
        if (fps > 0)
            m_fps.store(fps);
    }
    return m_frameList;
}

double ZQAudioVideoFileReader::get_fps()
{
    const double fps = seek_index_frame_rate(m_frameList);
    log_info(QStringLiteral("Get FPS :: ") + QString::number(fps, 'f', 2));
    return fps;
}

bool ZQAudioVideoFileReader::init_decoder_for_stream(QString stream)
{
    log_info(QStringLiteral("init decoder for stream ") + stream);
    m_decoder = std::make_unique<VideoDecoder>();
    m_decoderCodec.clear();
    m_needKeyframe = true;
    if (m_stop.load() || m_frameList.isEmpty())
        return false;
    const ZQFrame& first = m_frameList.first();
    if (!stream.isEmpty() && first.get_stream() != stream)
        return false;
    // Video entries carry the decoder's name already; audio ones their own text.
    const QString name = first.get_kind() == QLatin1String("video") ? first.get_codec()
                                                                     : seek_index_codec_name(first.get_codec());
    if (name.isEmpty())
        return false;
    if (!m_decoder->open_decoder(name.toStdString()) && !m_decoder->open_decoder(name.toStdString()))
        return false;
    m_decoderCodec = name;
    return true;
}

bool ZQAudioVideoFileReader::open_data_file(const QString& path)
{
    if (m_data.file.isOpen() && m_data.path == path)
        return true;
    m_data.close();
    m_data.file.setFileName(path);
    // Only a regular file: a pipe named like a data file would block in open().
    if (!QFileInfo(path).isFile() || !m_data.file.open(QIODevice::ReadOnly)) {
        ZQLog::log(QStringLiteral("[WARN] ") + kName + QStringLiteral("read frame :: Error Opening Video File ") + path);
        return false;
    }
    m_data.path = path;
    m_data.size = m_data.file.size();
    return true;
}

bool ZQAudioVideoFileReader::read_frame(bool probe, int index, QString stream)
{
    if (index < 0) {
        ZQLog::log(QStringLiteral("[WARN] ") + kName + QStringLiteral("read frame :: invalid index"));
        return false;
    }
    if (m_frameList.isEmpty()) {
        ZQLog::log(QStringLiteral("[WARN] ") + kName + QStringLiteral("read frame :: framelist empty"));
        return false;
    }
    if (index >= m_frameList.size()) {
        ZQLog::log(QStringLiteral("[WARN] ") + kName + QStringLiteral("read frame :: index out of bounds"));
        return false;
    }
    const ZQFrame& entry = m_frameList.at(index);
    if (!stream.isEmpty() && entry.get_stream() != stream)
        return false;
    if (!open_data_file(entry.get_data_file()))
        return false;
    QByteArray bytes;
    if (!read_coded_frame(&m_data, entry, &bytes)) {
        // A damaged or cut entry: passed over, the next one may be whole.
        if (m_rawMode)
            m_rawBytes.clear();
        return true;
    }
    if (m_rawMode) {
        m_rawBytes = bytes;
        return true;
    }
    if (!m_decoder || !m_decoder->is_open())
        return true;
    AVFrame* picture =
        m_decoder->decode_frame(reinterpret_cast<const uint8_t*>(bytes.constData()), int(bytes.size()), false);
    if (!picture)
        return true;
    if (probe) {
        log_info(QStringLiteral("read frame :: codecsize :") + QString::number(picture->width) + QStringLiteral("x")
                 + QString::number(picture->height));
        m_width = picture->width;
        m_height = picture->height;
        return true;
    }
    if (!m_queue) {
        ZQLog::log(QStringLiteral("[ERROR] ") + kName + QStringLiteral("read all frames :: buffer is null"));
        return false;
    }
    queue_picture(picture, entry);
    return true;
}

bool ZQAudioVideoFileReader::init_displayer_for_stream(QString stream)
{
    log_info(QStringLiteral("init displayer for stream ") + stream + QStringLiteral(" :: list size ")
             + QString::number(m_files.size()) + QStringLiteral(" :: interval ") + m_begin + QStringLiteral(" - ")
             + m_end);
    m_stream = stream;
    if (read_seek_file(m_files, m_stream, m_begin, m_end, true).isEmpty()) {
        ZQLog::log(QStringLiteral("[ERROR] ") + kName
                   + QStringLiteral("init displayer for stream :: failed to read SEEK file"));
        return false;
    }
    if (!init_decoder_for_stream(m_stream)) {
        ZQLog::log(QStringLiteral("[ERROR] ") + kName
                   + QStringLiteral("init displayer for stream :: failed to init decoder"));
        return false;
    }
    // The first entry that reads gives the size; in raw mode its bytes are
    // enough. Pictures that come out of the decoder later than their entry
    // keep the probe going.
    for (qsizetype i = 0; i < m_frameList.size() && !m_stop.load(); ++i) {
        if (read_frame(true, int(i), m_stream) && (m_rawMode || m_width > 0)) {
            if (m_decoder)
                m_decoder->flush();
            return true;
        }
    }
    ZQLog::log(QStringLiteral("[ERROR] ") + kName
               + QStringLiteral("init displayer for stream :: failed to read first frame"));
    return false;
}

int ZQAudioVideoFileReader::read_all_raw()
{
    qsizetype index = 0;
    while (!m_stop.load()) {
        if (index < m_frameList.size()) {
            if (!read_frame(false, int(index), m_stream)) {
                ZQLog::log(QStringLiteral("[ERROR] ") + kName + QStringLiteral("read all frames :: failed to read frame ")
                           + QString::number(index));
                return -1;
            }
            ++index;
            ++m_frameCounter;
        }
        if (index >= m_frameList.size()) {
            bool unread = false;
            for (const QFileInfo& file : std::as_const(m_files))
                unread = unread || !m_readFiles.contains(file.absoluteFilePath());
            if (!unread)
                break;
            if (read_seek_file(m_files, m_stream, m_begin, m_end, true).isEmpty()) {
                ZQLog::log(QStringLiteral("[WARN] ") + kName
                           + QStringLiteral("read all frames :: failed to read seek & get frames"));
                break;
            }
            index = 0;
        }
    }
    m_data.close();
    return 1;
}
