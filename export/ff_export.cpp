#include "export/ff_export.h"

#include "app/zq_log.h"
#include "export/export_jobs.h"
#include "export/zq_stream_encoder.h"
#include "playback/zq_audio_video_file_reader.h"
#include "recordings/time_text.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QStringList>
#include <QTime>
#include <cmath>
#include <memory>

namespace {
constexpr unsigned long kWaitMs = 300;
// Holes named in the row's line; more are counted only.
constexpr int kListedHoles = 5;
// The row's text need not change more often than this.
constexpr qint64 kReportIntervalMs = 100;
}

ff_export::ff_export()
    : QThread(nullptr)
{
    ExportJobs::add(this);
}

ff_export::~ff_export()
{
    ZQLog::log("[INFO] ZQPlayer Exporter :: destruct ");
    set_stop();
    if (isRunning())
        ZQLog::log("[INFO] ZQPlayer Exporter :: is running, waiting... ");
    wait();
    m_queue.clear();
    ExportJobs::remove(this);
}

bool ff_export::init(const QString& outputPath, const QString& codecName, int bitRate, int, int, bool band,
                     const QString& bandSize)
{
    m_outputPath = outputPath;
    m_codecName = codecName;
    m_bitRate = bitRate;
    m_band = band;
    m_bandSize = bandSize;
    ExportJobs::set_target(this, QDir::cleanPath(QFileInfo(outputPath).absoluteFilePath()));
    return true;
}

void ff_export::Holes::add(qint64 fromMs, qint64 toMs)
{
    ++count;
    if (listed.size() < kListedHoles)
        listed << qMakePair(fromMs, toMs);
}

QString ff_export::missing_text() const
{
    QMutexLocker lock(&m_holesMutex);
    if (m_holes.count == 0)
        return QString();
    const auto hms = [](qint64 ms) {
        return QTime::fromMSecsSinceStartOfDay(int(qBound(qint64(0), ms, qint64(86399999)))).toString(QStringLiteral("HH:mm:ss.zzz"));
    };
    QStringList parts;
    for (const auto& h : m_holes.listed)
        parts << QStringLiteral("de ") + hms(h.first) + QStringLiteral(" à ") + hms(h.second);
    QString text = QStringLiteral("Aucune image ") + parts.join(QStringLiteral(", "));
    if (m_holes.count > m_holes.listed.size())
        text += QStringLiteral(", et ") + QString::number(m_holes.count - m_holes.listed.size())
                + QStringLiteral(" autres intervalles");
    return text;
}

void ff_export::set_stop()
{
    m_done.store(true);
    QMutexLocker lock(&m_queue.mutex);
    m_queue.notEmpty.wakeAll();
}

void ff_export::run()
{
    m_encoded.store(0);
    m_stopped.store(false);
    {
        QMutexLocker lock(&m_holesMutex);
        m_holes = Holes();
    }
    Holes holes;
    // Pictures cover the range up to this time (time of day, ms); -1 before the first.
    qint64 coveredTo = -1;
    const qint64 beginMs = TimeText::hhmmss_to_ms(m_begin);
    const qint64 rangeEndMs = TimeText::hhmmss_to_ms(m_end);
    auto reader = std::make_unique<ZQAudioVideoFileReader>(m_files, m_stream, m_begin, m_end);
    reader->set_shared_handle(m_cameras);
    reader->set_buffer(&m_queue);
    reader->set_queue_limit(30);
    reader->start(QThread::InheritPriority);

    QString codec = m_codecName;
    if (codec.compare(QLatin1String("h264"), Qt::CaseInsensitive) == 0)
        codec = QStringLiteral("libx264");
    else if (codec.compare(QLatin1String("h265"), Qt::CaseInsensitive) == 0)
        codec = QStringLiteral("hevc");
    codec = codec.toLower();

    std::unique_ptr<ZQStreamEncoder> encoder;
    int code = 0;
    qint64 firstMs = -1;
    qint64 endMs = -1;
    int lastPercent = -1;
    QElapsedTimer sinceReport;
    QString pendingStamp;

    for (;;) {
        ZQMediaFrame* frame = nullptr;
        {
            QMutexLocker lock(&m_queue.mutex);
            while (m_queue.frames.empty() && !m_done.load() && !reader->isFinished())
                m_queue.notEmpty.wait(&m_queue.mutex, kWaitMs);
            if (m_done.load()) {
                m_stopped.store(true);
                break;
            }
            if (m_queue.frames.empty()) {
                if (reader->isFinished())
                    break;
                continue;
            }
            m_peakQueue.store(qMax(m_peakQueue.load(), int(m_queue.frames.size())));
            frame = m_queue.frames.front();
            m_queue.frames.pop_front();
            m_queue.notFull.wakeAll();
        }
        std::unique_ptr<ZQMediaFrame> owned(frame);
        {
            // Every picture the reader could read covers its own period of the
            // range; what no picture covers is a hole the row reports.
            QDate day;
            qint64 at = 0;
            if (frame->get_timestamp() && TimeText::parse_yyyymmddhhmmsszzz(QString::fromUtf8(frame->get_timestamp()), &day, &at)) {
                const double fps = frame->get_fps();
                const qint64 period = fps > 0.0 && std::isfinite(fps) ? qBound(qint64(1), qint64(std::llround(1000.0 / fps)), qint64(60000)) : 0;
                const qint64 from = coveredTo >= 0 ? coveredTo : beginMs;
                if (from >= 0 && at - from >= kHoleMs)
                    holes.add(from, at);
                coveredTo = qMax(coveredTo, at + period);
            }
        }
        if (!encoder) {
            if (!frame->is_keyframe())
                continue;
            encoder = std::make_unique<ZQStreamEncoder>();
            if (!encoder->init_encoder(m_outputPath, codec, m_bitRate, reader->get_stream_fps(), frame->get_width(),
                                       frame->get_height(), m_band, m_bandSize, frame->get_pixel_format())) {
                ZQLog::log("[ERROR] ZQPlayer Exporter :: failed to init encoder");
                const int e = encoder->last_error();
                code = (e == -6 || e == -8 || e == -9) ? e : -5;
                break;
            }
        }
        const QString stamp = QString::fromUtf8(frame->get_timestamp() ? frame->get_timestamp() : "");
        if (!encoder->encode_frame(frame->get_frame(), frame->get_width(), frame->get_height(), stamp,
                                   frame->get_draw_overlay(), frame->get_frame_id())) {
            if (encoder->write_failed()) {
                code = -4;
                break;
            }
            ZQLog::log(QStringLiteral("[WARN] ZQPlayer Exporter :: frame not encoded ") + stamp);
            continue;
        }
        m_encoded.fetch_add(1);

        // Progress by time: from the first encoded picture to the range's end.
        QDate date;
        qint64 ms = 0;
        if (TimeText::parse_yyyymmddhhmmsszzz(stamp, &date, &ms)) {
            const qint64 t = date.toJulianDay() * 86400000LL + ms;
            if (firstMs < 0) {
                firstMs = t;
                const qint64 endOfDay = TimeText::hhmmss_to_ms(m_end);
                endMs = endOfDay >= 0 ? date.toJulianDay() * 86400000LL + endOfDay : -1;
            }
            const int percent = endMs > firstMs ? int(qBound(qint64(0), (t - firstMs) * 100 / (endMs - firstMs), qint64(100))) : 100;
            if (percent != lastPercent) {
                lastPercent = percent;
                emit valueChanged(percent);
            }
        }
        pendingStamp = stamp;
        if (!sinceReport.isValid() || sinceReport.elapsed() >= kReportIntervalMs) {
            sinceReport.restart();
            emit frame_downloaded_encoded(stamp, m_end);
            pendingStamp.clear();
        }
    }

    reader->stop();
    reader->wait();
    const int readerFailure = reader->failure();
    reader.reset();
    m_queue.clear();
    if (!pendingStamp.isEmpty() && code == 0)
        emit frame_downloaded_encoded(pendingStamp, m_end);

    const bool stopped = m_stopped.load();
    if (code == 0 && readerFailure != 0 && !stopped)
        code = readerFailure;
    if (code == 0 && stopped && m_encoded.load() == 0) {
        // Stopped before anything was encoded: a stop, not an empty range; no file.
        if (encoder)
            encoder->abort_encoding();
        ZQLog::log("[INFO] ZQPlayer Exporter :: stopped before the first frame");
        emit endingsignal();
        return;
    }
    if (code == 0 && (!encoder || m_encoded.load() == 0))
        code = -10;
    if (code == 0 && !encoder->end_encoding())
        code = -4;
    if (code != 0) {
        if (encoder)
            encoder->abort_encoding();
        ZQLog::log(QStringLiteral("[ERROR] ZQPlayer Exporter :: export failed ") + QString::number(code));
        emit error(code);
        return;
    }
    // The end of the range too, unless the run was stopped before it.
    if (!stopped && coveredTo >= 0 && rangeEndMs > beginMs && rangeEndMs - coveredTo >= kHoleMs)
        holes.add(coveredTo, rangeEndMs);
    if (holes.count > 0) {
        {
            QMutexLocker lock(&m_holesMutex);
            m_holes = holes;
        }
        ZQLog::log(QStringLiteral("[WARN] ZQPlayer Exporter :: part of the range without pictures :: ") + missing_text());
    }
    if (lastPercent != 100 && !stopped)
        emit valueChanged(100);
    ZQLog::log("[INFO] ZQPlayer Exporter :: Encodage terminé");
    emit endingsignal();
}
