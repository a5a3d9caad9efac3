// The encoder's raw writer: coded packets into a data file and one
// seek-index line per packet into an index file, the pair a recording is made
// of, so that the recording readers read the output back.

#include "export/zq_stream_encoder.h"

#include "app/zq_log.h"
#include "recordings/time_text.h"

#include <QDateTime>
#include <QIODevice>
#include <QTime>
#include <cmath>

extern "C" {
#include <libavcodec/avcodec.h>
}

namespace {
// Pictures whose packet has not come out yet; an encoder holds a few dozen at
// most (look-ahead), so beyond this the oldest times are dropped.
constexpr int kMaxPendingStamps = 512;
}

struct ZQStreamEncoder::RawTarget
{
    QIODevice* data = nullptr;
    QIODevice* index = nullptr;
    QDateTime* lineTime = nullptr;
    QString timestamp; // of the picture sent in this call
    bool sending = false;
    bool noted = false;
};

QString ZQStreamEncoder::raw_codec_word(const QString& codecName)
{
    if (codecName == QLatin1String("mjpeg"))
        return QStringLiteral("frame/jpeg");
    if (codecName == QLatin1String("libx264"))
        return QStringLiteral("frame/h264");
    if (codecName == QLatin1String("mpeg4"))
        return QStringLiteral("frame/mpeg4");
    if (codecName == QLatin1String("hevc"))
        return QStringLiteral("frame/h265");
    if (codecName == QLatin1String("av1"))
        return QStringLiteral("frame/av1");
    if (codecName == QLatin1String("vp9"))
        return QStringLiteral("frame/vp9");
    return QString();
}

bool ZQStreamEncoder::encode_frame(const AVFrame* picture, int width, int height, const QString& timestamp,
                                   const QString& overlay, qint64 pts, QIODevice* dataFile, QIODevice* indexFile,
                                   QDateTime* lineTime)
{
    if (!dataFile || !indexFile || !lineTime)
        return encode_frame(picture, width, height, timestamp, overlay, pts);
    RawTarget target;
    target.data = dataFile;
    target.index = indexFile;
    target.lineTime = lineTime;
    target.timestamp = timestamp;
    target.sending = true;
    const int sentBefore = m_framesEncoded;
    m_raw = &target;
    const bool ok = encode_frame(picture, width, height, timestamp, overlay, pts);
    m_raw = nullptr;
    // A picture the encoder keeps for later gets its time when its packet comes out.
    if (m_framesEncoded > sentBefore && !target.noted && m_encoderFrame) {
        m_rawStamps.insert(m_encoderFrame->pts, timestamp);
        while (m_rawStamps.size() > kMaxPendingStamps)
            m_rawStamps.erase(m_rawStamps.begin());
    }
    return ok;
}

bool ZQStreamEncoder::end_encoding(QIODevice* dataFile, QIODevice* indexFile, QDateTime* lineTime)
{
    if (!dataFile || !indexFile || !lineTime)
        return end_encoding();
    RawTarget target;
    target.data = dataFile;
    target.index = indexFile;
    target.lineTime = lineTime;
    m_raw = &target;
    const bool ok = end_encoding();
    m_raw = nullptr;
    m_rawStamps.clear();
    return ok;
}

bool ZQStreamEncoder::write_raw_packet(AVPacket* packet)
{
    RawTarget& target = *m_raw;
    // An empty packet holds no frame: it gets no line (an index line of size 0 reads as no frame).
    if (packet->size <= 0)
        return true;
    if (target.sending && !target.noted && m_encoderFrame) {
        // The picture of this call has been sent: its presentation time is the frame's.
        m_rawStamps.insert(m_encoderFrame->pts, target.timestamp);
        target.noted = true;
    }

    // The line's time: that of the earliest picture without a line yet. Where
    // the codec does not reorder pictures that is the packet's own picture;
    // where it does, packets come in decoding order and their own times would
    // go back and forth, while readers of an index need times that rise from
    // line to line. A picture without a readable time follows the previous
    // line by one frame.
    QDate date;
    qint64 ms = 0;
    const QString stamp = m_rawStamps.isEmpty() ? QString() : m_rawStamps.take(m_rawStamps.firstKey());
    if (TimeText::parse_yyyymmddhhmmsszzz(stamp, &date, &ms)) {
        *target.lineTime = QDateTime(date, QTime::fromMSecsSinceStartOfDay(int(ms)), Qt::UTC);
    } else if (target.lineTime->isValid()) {
        const qint64 step = m_rate.num > 0 ? qint64(std::llround(1000.0 * m_rate.den / m_rate.num)) : 40;
        *target.lineTime = target.lineTime->addMSecs(qMax<qint64>(1, step));
    }
    const QString timeText = target.lineTime->isValid()
        ? TimeText::make_yyyymmddhhmmsszzz(target.lineTime->date(), target.lineTime->time().msecsSinceStartOfDay())
        : QString();

    // A container with global headers takes the stream headers (parameter
    // sets, VOL header) out of the packets; a raw file has no other place for
    // them, so each key packet carries them again, as a camera's stream does.
    QByteArray headers;
    const AVCodecID id = m_codecContext->codec_id;
    if ((packet->flags & AV_PKT_FLAG_KEY) && (m_codecContext->flags & AV_CODEC_FLAG_GLOBAL_HEADER)
        && m_codecContext->extradata && m_codecContext->extradata_size > 0
        && (id == AV_CODEC_ID_H264 || id == AV_CODEC_ID_HEVC || id == AV_CODEC_ID_MPEG4))
        headers = QByteArray(reinterpret_cast<const char*>(m_codecContext->extradata), m_codecContext->extradata_size);
    const qint64 frameSize = headers.size() + qint64(packet->size);

    const QString line = timeText + QStringLiteral(":video1:") + raw_codec_word(m_codecName) + QLatin1Char(':')
        + QString::number(m_codecContext->width) + QLatin1Char('x') + QString::number(m_codecContext->height)
        + QLatin1Char(':') + ((packet->flags & AV_PKT_FLAG_KEY) ? QLatin1Char('1') : QLatin1Char('0'))
        + QLatin1Char(':') + QString::number(frameSize) + QLatin1Char('\n');
    const QByteArray lineBytes = line.toLatin1();
    const bool dataWritten = target.data->write(headers) == headers.size()
        && target.data->write(reinterpret_cast<const char*>(packet->data), packet->size) == packet->size;
    if (!dataWritten || target.index->write(lineBytes) != lineBytes.size()) {
        ZQLog::log(QStringLiteral("[ERROR] ZQStream Encoder :: raw write failed :: ")
                   + (dataWritten ? target.index->errorString() : target.data->errorString()));
        m_writeFailed = true;
        m_lastError = -4;
        emit error(-4);
        return false;
    }
    return true;
}
