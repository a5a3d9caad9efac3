#include "download/zq_download_encode_data.h"

#include "app/http_singleton.h"
#include "app/zq_log.h"
#include "export/zq_stream_encoder.h"
#include "export/zq_stream_remux.h"
#include "playback/zq_media_frame.h"
#include "recordings/time_text.h"
#include "view/zq_stream_parser.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QTemporaryFile>

#include <zip.h>

#include <memory>

namespace {

void info(const QString& text)
{
    ZQLog::log(QStringLiteral("[INFO] Raw data downloader :: ") + text);
}

void warn(const QString& text)
{
    ZQLog::log(QStringLiteral("[WARN] Raw data downloader :: ") + text);
}

void error_line(const QString& text)
{
    ZQLog::log(QStringLiteral("[ERROR] Raw data downloader :: ") + text);
}

void remove_file(const QString& path)
{
    if (QFile::exists(path) && !QFile::remove(path))
        warn(QStringLiteral("raw zqstream :: archive :: Failed to remove file ") + path);
}

QString compact_time(qint64 value)
{
    if (value < 0)
        return QString();
    return TimeText::make_yyyymmddhhmmsszzz(QDate::fromJulianDay(value / 86400000LL), value % 86400000LL);
}

// FFmpeg's demuxer for a file of raw frames of `codec` (a stream part's codec), empty when none.
QString raw_demuxer_for(const QString& codec)
{
    const QString family = ZQStreamParser::codec_family(codec);
    if (family == QLatin1String("h265"))
        return QStringLiteral("hevc");
    if (family == QLatin1String("mpeg4"))
        return QStringLiteral("m4v");
    return family; // "h264", "mjpeg": the demuxer's own name; empty: none
}

} // namespace

ZQDownload_encode_data::ZQDownload_encode_data(DownloadEncodeJob job) : m_job(std::move(job)) {}

ZQDownload_encode_data::~ZQDownload_encode_data()
{
    info(QStringLiteral("destruct"));
    // The owner deletes the job after QThread::finished; a job still running is stopped and
    // waited for, so its stream client and queue never outlive it.
    set_stop();
    wait();
    drain_queue();
    info(QStringLiteral("destruct :: ") + QString::number(isRunning() ? 1 : 0));
}

QString ZQDownload_encode_data::work_folder()
{
    return QDir(Http_singleton::instance()->user_folder()).filePath(QStringLiteral("ZQDOWNLOAD"));
}

QString ZQDownload_encode_data::last_frame_time() const
{
    QMutexLocker lock(&m_state_mutex);
    return m_last_frame_time;
}

void ZQDownload_encode_data::set_stop()
{
    info(QStringLiteral("set stop"));
    m_stopped = true;
    stop_client();
    QMutexLocker lock(&m_wait_mutex);
    m_wake.wakeAll();
}

void ZQDownload_encode_data::set_stop_from_user()
{
    info(QStringLiteral("set stop from user"));
    m_stopped_by_user = true;
    set_stop();
}

void ZQDownload_encode_data::get_error()
{
    // Runs on the client's thread: the job's loop ends on it with -11, its one terminal signal.
    info(QStringLiteral("get error"));
    m_client_error = true;
    QMutexLocker lock(&m_wait_mutex);
    m_wake.wakeAll();
}

void ZQDownload_encode_data::stop_client()
{
    QMutexLocker lock(&m_state_mutex);
    if (m_client)
        m_client->threadStop(false);
}

bool ZQDownload_encode_data::wait_ms(int ms)
{
    QMutexLocker lock(&m_wait_mutex);
    if (m_stopped)
        return false;
    m_wake.wait(&m_wait_mutex, QDeadlineTimer(ms));
    return !m_stopped;
}

void ZQDownload_encode_data::drain_queue()
{
    QMutexLocker lock(&m_queue_mutex);
    for (ZQMediaFrame* f : m_queue)
        delete f;
    m_queue.clear();
}

ZQMediaFrame* ZQDownload_encode_data::front()
{
    QMutexLocker lock(&m_queue_mutex);
    return m_queue.empty() ? nullptr : m_queue.front();
}

ZQMediaFrame* ZQDownload_encode_data::take_front()
{
    QMutexLocker lock(&m_queue_mutex);
    if (m_queue.empty())
        return nullptr;
    ZQMediaFrame* f = m_queue.front();
    m_queue.pop_front();
    return f;
}

bool ZQDownload_encode_data::past_end(const ZQMediaFrame* frame) const
{
    // Compared as times, not texts: the frames say "yyyy-MM-dd HH:mm:ss.zzz", the end "yyyyMMddHHmmsszzz".
    return m_end_value >= 0 && frame->get_time_value() >= 0 && frame->get_time_value() > m_end_value;
}

bool ZQDownload_encode_data::at_end(const ZQMediaFrame* frame) const
{
    return m_end_value >= 0 && frame->get_time_value() >= m_end_value;
}

void ZQDownload_encode_data::remember(const ZQMediaFrame* frame)
{
    const QString stamp = compact_time(frame->get_time_value());
    {
        QMutexLocker lock(&m_state_mutex);
        m_last_frame_time = stamp;
    }
    ++m_frames;
    emit frame_downloaded_encoded(stamp, m_job.end_time);
}

ZQStreamParser* ZQDownload_encode_data::start_client(bool raw)
{
    auto* client = new ZQStreamParser(m_job.scheme, m_job.host, m_job.port, QStringLiteral("-1"), m_job.path, false,
                                      QString(), false, nullptr);
    client->name = "RAW DATA";
    client->set_queue_mode(true);
    client->set_raw_packets(raw);
    client->set_skip_decoding(false);
    client->set_frame_queue(&m_queue);
    client->frame_queue_mutex = &m_queue_mutex;
    client->set_max_queue_size(raw ? 60 : 30);
    client->set_token(m_job.token);
    client->set_trusted_certificates(m_job.trusted_ca);
    connect(client, qOverload<>(&ZQStreamParser::error), this, &ZQDownload_encode_data::get_error,
            Qt::DirectConnection);
    {
        QMutexLocker lock(&m_state_mutex);
        m_client = client;
    }
    client->start(QThread::InheritPriority);
    return client;
}

void ZQDownload_encode_data::run()
{
    info(QStringLiteral("start stream parser :: video format ") + m_job.video_format);
    m_stopped = false;
    m_stopped_by_user = false;
    m_client_error = false;
    m_frames = 0;
    drain_queue(); // a job started again begins with nothing of its last run
    {
        QMutexLocker lock(&m_state_mutex);
        m_last_frame_time.clear();
    }
    QDate end_date;
    qint64 end_ms = -1;
    m_end_value = TimeText::parse_yyyymmddhhmmsszzz(m_job.end_time, &end_date, &end_ms)
                      ? end_date.toJulianDay() * 86400000LL + end_ms
                      : -1;
    if (!m_job.archive_path.isEmpty() && QFileInfo::exists(m_job.archive_path)) {
        error_line(QStringLiteral("archive file already exist"));
        emit error(-29);
        return;
    }
    const bool raw = m_job.video_format.toLower().contains(QLatin1String("raw"));
    const Ending ending = raw ? run_raw() : run_encode();

    info(QStringLiteral("set stop"));
    m_stopped = true;
    ZQStreamParser* client = nullptr;
    {
        QMutexLocker lock(&m_state_mutex);
        client = m_client;
        if (client)
            client->threadStop(false);
        m_client = nullptr;
    }
    if (client) {
        client->wait();
        delete client;
    }
    drain_queue();
    if (ending.done)
        emit job_finished();
    else
        emit error(ending.code);
}

ZQDownload_encode_data::Ending ZQDownload_encode_data::run_raw()
{
    info(QStringLiteral("start zqstream remuxer :: register filepath :: absolute path ")
         + QFileInfo(m_job.video_path).absolutePath());
    QDir().mkpath(work_folder());
    // Job files of their own: two jobs at once never share "tmp.raw".
    QTemporaryFile raw_file(QDir(work_folder()).filePath(QStringLiteral("tmp-XXXXXX.raw")));
    if (!raw_file.open()) {
        error_line(QStringLiteral("zqstream remuxer :: failed to open temporary file"));
        return failed(-20);
    }
    info(QStringLiteral("start zqstream remuxer"));
    ZQStreamParser* client = start_client(true);
    const int pause = m_job.frame_wait_ms > 0 ? m_job.frame_wait_ms : 200;
    int empty_checks = 0;
    bool timed_out = false;
    qint64 first_time = -1, last_time = -1;
    double header_fps = -1;
    bool range_in = false;
    QString demuxer; // of the frames written: the parts name their codec, and all must name one
    while (!m_stopped) {
        ZQMediaFrame* f = front();
        if (!f) {
            if (range_in)
                break; // the frame at the end time is in: nothing more is wanted
            // The client reports the end of a stream as an error. A stream that ends before the
            // end of the range was cut: what came is not the range.
            if (m_client_error || client->isFinished()) {
                if (m_end_value < 0 && m_frames > 0)
                    break;
                if (m_client_error || m_frames > 0) {
                    error_line(QStringLiteral("zqstream remuxer :: stream ended before ") + m_job.end_time);
                    return failed(-11);
                }
            }
            if (++empty_checks > 30) {
                error_line(QStringLiteral("zqstream remuxer :: frame waited ") + QString::number(empty_checks)
                           + QStringLiteral(" stop encoding."));
                timed_out = true;
                break;
            }
            wait_ms(pause);
            continue;
        }
        empty_checks = 0;
        if (past_end(f)) {
            info(QStringLiteral("set stop"));
            range_in = true;
            break;
        }
        std::unique_ptr<ZQMediaFrame> frame(take_front());
        if (frame->get_data_size() <= 0 || frame->get_id() == QLatin1String("PAUSE")
            || frame->get_id() == QLatin1String("MESSAGE"))
            continue; // pauses and messages carry no picture
        // The job file is read as one codec's raw video: a frame that names none, or another, would
        // be read as what it is not.
        const QString frame_demuxer = raw_demuxer_for(frame->get_codec());
        if (frame_demuxer.isEmpty() || (!demuxer.isEmpty() && frame_demuxer != demuxer)) {
            error_line(QStringLiteral("zqstream remuxer :: frame of codec \"") + frame->get_codec().left(64)
                       + QStringLiteral("\" in a stream of \"") + demuxer + QStringLiteral("\" :: not written"));
            return failed(-15);
        }
        demuxer = frame_demuxer;
        if (raw_file.write(reinterpret_cast<const char*>(frame->get_data()), frame->get_data_size())
            != frame->get_data_size()) {
            error_line(QStringLiteral("zqstream remuxer :: failed to write temporary file"));
            return failed(-20);
        }
        if (first_time < 0)
            first_time = frame->get_time_value();
        last_time = frame->get_time_value();
        if (frame->get_fps() > 0)
            header_fps = frame->get_fps();
        range_in = range_in || at_end(frame.get());
        remember(frame.get());
    }
    info(QStringLiteral("zqstream remuxer :: outfile close"));
    raw_file.close();
    if (m_stopped_by_user)
        return failed(-34);
    if (timed_out)
        return failed(-1);
    if (m_frames == 0)
        return failed(-14);

    // The frames' own times give the rate; the Fps header when they span no time.
    double fps = -1;
    if (m_frames > 1 && first_time >= 0 && last_time > first_time)
        fps = double(m_frames - 1) * 1000.0 / double(last_time - first_time);
    else if (header_fps > 0)
        fps = header_fps;
    if (!(fps > 0)) {
        error_line(QStringLiteral("zqstream remuxer :: no frame rate"));
        return failed(-15);
    }
    QTemporaryFile work(QDir(work_folder()).filePath(QStringLiteral("tmp-XXXXXX.mp4")));
    if (!work.open())
        return failed(-20);
    const QString work_path = work.fileName();
    work.close();
    // The remuxer keeps its input when it fails, so a failure that passes (a full disk freed, a
    // busy file) is tried again. Its output reaches the video path only on success: a file there
    // now was there before this job and stays.
    ZQStreamRemux remux;
    remux.set_input_format(demuxer);
    const QString raw_path = QFileInfo(raw_file.fileName()).absoluteFilePath();
    int remuxed = 0;
    for (int call = 1;; ++call) {
        remuxed = remux.remux_url(raw_path, work_path, m_job.video_path, fps);
        if (remuxed == 0 || call == kRemuxCalls || m_stopped)
            break;
        warn(QStringLiteral("zqstream remuxer :: retry to remux file"));
    }
    QFile::remove(work_path);
    if (remuxed != 0) {
        if (m_stopped_by_user)
            return failed(-34);
        // The remuxer's own result: a set-up code (-15 to -21), or 1 for a failure while reading,
        // writing or renaming, which the row shows as an unknown error. Never a success.
        return failed(remuxed);
    }
    m_job.video_path = ZQStreamRemux::final_path_for(m_job.video_path); // the file actually written
    return finish_steps();
}

ZQDownload_encode_data::Ending ZQDownload_encode_data::run_encode()
{
    ZQStreamParser* client = start_client(false);
    const int pause = m_job.frame_wait_ms > 0 ? m_job.frame_wait_ms : 500;
    std::unique_ptr<ZQStreamEncoder> encoder;
    int empty_checks = 0;
    int result = 1;
    int refused = 0;
    QString codec = m_job.video_format.toLower();
    if (codec == QLatin1String("h264"))
        codec = QStringLiteral("libx264");
    else if (codec == QLatin1String("h265"))
        codec = QStringLiteral("hevc");
    bool range_in = false;
    while (!m_stopped) {
        ZQMediaFrame* f = front();
        if (!f) {
            if (range_in)
                break; // the frame at the end time is in: nothing more is wanted
            // A stream that ends before the end of the range was cut: what came is not the range.
            if (m_client_error || client->isFinished()) {
                if (m_end_value < 0 && m_frames > 0)
                    break;
                if (m_client_error || m_frames > 0) {
                    error_line(QStringLiteral("raw zqstream :: stream ended before ") + m_job.end_time);
                    if (encoder)
                        encoder->abort_encoding();
                    return failed(-11);
                }
            }
            if (++empty_checks > 30) {
                error_line(QStringLiteral("raw zqstream :: frame waited ") + QString::number(empty_checks)
                           + QStringLiteral(" stop encoding."));
                result = -10;
                break;
            }
            wait_ms(pause);
            continue;
        }
        empty_checks = 0;
        if (!f->get_frame() || f->get_width() <= 0 || f->get_height() <= 0) {
            delete take_front(); // pauses, messages and undecodable parts
            continue;
        }
        if (past_end(f)) {
            range_in = true;
            break;
        }
        if (!encoder) {
            const double fps = f->get_fps() > 0 ? f->get_fps() : 25.0;
            encoder = std::make_unique<ZQStreamEncoder>();
            if (!encoder->init_encoder(m_job.video_path, codec, 2048, fps, f->get_width(), f->get_height(),
                                       m_job.band, QStringLiteral("large"), f->get_pixel_format())) {
                error_line(QStringLiteral("raw zqstream :: failed to init encoder"));
                encoder.reset();
                return failed(-5);
            }
        }
        if (f->get_width() != encoder->output_width() && f->get_width() / 2 * 2 != encoder->output_width()) {
            warn(QStringLiteral("raw zqstream :: remove frame ") + QString::number(f->get_frame_id())
                 + QStringLiteral(" / other size"));
            delete take_front();
            continue;
        }
        const QString stamp = compact_time(f->get_time_value());
        if (encoder->encode_frame(f->get_frame(), f->get_width(), f->get_height(), stamp, m_job.overlay,
                                  f->get_frame_id())) {
            std::unique_ptr<ZQMediaFrame> done(take_front());
            range_in = range_in || at_end(done.get());
            remember(done.get());
            refused = 0;
        } else if (encoder->write_failed()) {
            encoder->abort_encoding();
            return failed(-4);
        } else if (++refused >= 3) {
            warn(QStringLiteral("raw zqstream :: remove frame ") + QString::number(f->get_frame_id())
                 + QStringLiteral(" / refused"));
            delete take_front();
            refused = 0;
        }
    }
    if (!encoder)
        return failed(result == 1 ? -14 : result);
    // A job that does not finish removes only its own output (the encoder's temporary file): a
    // file already at the video path stays until a finished job replaces it.
    if (m_stopped_by_user) {
        encoder->abort_encoding();
        return failed(-34);
    }
    if (result != 1) {
        encoder->abort_encoding();
        return failed(result);
    }
    if (m_frames < 50) {
        encoder->abort_encoding();
        return failed(-14);
    }
    if (!encoder->end_encoding())
        return failed(-4);
    encoder.reset();
    return finish_steps();
}

ZQDownload_encode_data::Ending ZQDownload_encode_data::finish_steps()
{
    if (!m_job.descriptor_path.isEmpty() && !m_job.descriptor_data.isEmpty()) {
        info(QStringLiteral("descriptor"));
        emit generic_message(QStringLiteral("Création du descripteur [") + m_job.descriptor_path + QLatin1Char(']'));
        const int r = write_descriptor(m_job.descriptor_path, m_job.descriptor_data);
        if (r != 1)
            return failed(r);
    }
    if (!m_job.archive_path.isEmpty()) {
        info(QStringLiteral("archive data :: ") + m_job.archive_path);
        info(QStringLiteral("archive data :: descriptor :: ") + m_job.descriptor_path);
        info(QStringLiteral("archive data :: video      :: ") + m_job.video_path);
        emit generic_message(QStringLiteral("Archivage des fichiers en cours ... [") + m_job.archive_path + QLatin1Char(']'));
        const int r = archive_files(m_job.archive_path, m_job.descriptor_path, m_job.video_path);
        if (r != 1)
            return failed(r);
    }
    return done();
}

int ZQDownload_encode_data::write_descriptor(const QString& path, const QString& base64)
{
    const auto decoded = QByteArray::fromBase64Encoding(base64.toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded || decoded.decoded.isEmpty()) {
        error_line(QStringLiteral("descriptor :: failed to decode data"));
        return -30;
    }
    // Written whole, never appended to an older descriptor of the same name.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(decoded.decoded) != decoded.decoded.size() || !file.commit()) {
        error_line(QStringLiteral("descriptor :: failed to open file"));
        return -31;
    }
    return 1;
}

int ZQDownload_encode_data::archive_files(const QString& archive, const QString& descriptor, const QString& video)
{
    if (!QFileInfo(descriptor).isFile()) {
        error_line(QStringLiteral("archive :: descriptor file missing"));
        return -26;
    }
    if (!QFileInfo(video).isFile()) {
        error_line(QStringLiteral("archive :: video file missing"));
        return -27;
    }
    int zerr = 0;
    const QByteArray archive_name = QFile::encodeName(archive);
    zip_t* zip = zip_open(archive_name.constData(), ZIP_CREATE | ZIP_EXCL, &zerr);
    if (!zip) {
        error_line(QStringLiteral("archive :: Failed to create archive"));
        return -28;
    }
    const struct
    {
        QString path;
        int code;
    } members[] = {{descriptor, -22}, {video, -23}};
    for (const auto& m : members) {
        const QByteArray local = QFile::encodeName(m.path);
        const QByteArray name = QFileInfo(m.path).fileName().toUtf8();
        zip_source_t* source = zip_source_file(zip, local.constData(), 0, -1);
        if (!source || zip_file_add(zip, name.constData(), source, ZIP_FL_ENC_UTF_8) < 0) {
            if (source)
                zip_source_free(source);
            error_line(QStringLiteral("archive :: Failed to add file to zip : ") + m.path);
            zip_discard(zip);
            QFile::remove(archive);
            return m.code;
        }
    }
    if (zip_close(zip) != 0) {
        // Nothing was written that could be trusted.
        error_line(QStringLiteral("archive :: Failed to create archive"));
        zip_discard(zip);
        QFile::remove(archive);
        return -28;
    }
    zip_t* check = zip_open(archive_name.constData(), ZIP_RDONLY, &zerr);
    if (!check) {
        error_line(QStringLiteral("archive :: Failed to open archive : ") + archive);
        return -33;
    }
    const QByteArray video_name = QFileInfo(video).fileName().toUtf8();
    zip_stat_t st;
    zip_stat_init(&st);
    zip_file_t* entry = nullptr;
    bool read_ok = zip_stat(check, video_name.constData(), 0, &st) == 0
                   && (entry = zip_fopen(check, video_name.constData(), 0)) != nullptr;
    if (read_ok) {
        // Read back in chunks: the whole video never sits in memory.
        QByteArray chunk(1 << 20, Qt::Uninitialized);
        zip_uint64_t total = 0;
        for (;;) {
            const zip_int64_t n = zip_fread(entry, chunk.data(), zip_uint64_t(chunk.size()));
            if (n < 0) {
                read_ok = false;
                break;
            }
            if (n == 0)
                break;
            total += zip_uint64_t(n);
        }
        read_ok = read_ok && (!(st.valid & ZIP_STAT_SIZE) || total == st.size);
        zip_fclose(entry);
    }
    zip_close(check);
    if (!read_ok) {
        error_line(QStringLiteral("archive :: Failed to read archive : ") + archive);
        return -32;
    }
    remove_file(descriptor);
    remove_file(video);
    return 1;
}
