#include "view/new_display_thread.h"

#include <QDate>
#include <QElapsedTimer>
#include <QTimer>

#include <chrono>
#include <cmath>
#include <exception>

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/imgutils.h>
#include <libswscale/swscale.h>
}

#include "app/zq_log.h"
#include "platform/precise_sleep.h"
#include "playback/video_decoder.h"
#include "playback/zq_media_frame.h"
#include "recordings/time_text.h"
#include "view/canvas.h"
#include "view/zq_stream_parser.h"

namespace {

qint64 now_ms()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

bool is_playback_path(const QString& path)
{
    return path.contains(QLatin1String("playback")) || path.contains(QLatin1String("playbacksync"));
}

} // namespace

void delete_when_finished(QThread* t)
{
    if (!t)
        return;
    // Connected first: a thread that finishes between the two steps is then
    // caught by one of them (deleteLater twice is harmless).
    QObject::connect(t, &QThread::finished, t, &QObject::deleteLater, Qt::UniqueConnection);
    if (!t->isRunning())
        t->deleteLater();
}

new_display_thread::new_display_thread(Canvas* t) : tile(t)
{
    ++s_live;
    if (t) {
        // Calls to the tile are queued to its thread: its state and its
        // repaint belong to the GUI thread.
        connect(this, &new_display_thread::set_display_frame, t, &Canvas::displayFrame);
        connect(this, &new_display_thread::set_codec_size, t, &Canvas::setup_codecSize);
        connect(this, &new_display_thread::send_streamparser_scaler_dewrap, t, &Canvas::setup_scaler_dewrap);
        connect(this, &new_display_thread::send_buffering, t, &Canvas::buffering);
        connect(this, &new_display_thread::send_displayError, t, &Canvas::displayError);
        connect(this, &new_display_thread::streamparser_error, t, &Canvas::checkend);
        connect(this, &new_display_thread::send_streamparser_speed, t, &Canvas::speed_receive);
        connect(this, &new_display_thread::send_streamparser_stop_buffering, t, &Canvas::stop_buffering);
    }
}

new_display_thread::~new_display_thread()
{
    log_info(QStringLiteral("Destroy "));
    release_replay();
    if (!stop)
        set_stop();
    log_info(QStringLiteral("Destroy :: is running ") + QString::number(isRunning() ? 1 : 0));
    stop = true;
    wake();
    // The display loop looks at the stop flag between short waits, all of
    // which the wake ends; this object cannot outlive its own thread, so the
    // wait has no bound.
    if (isRunning() && !wait(5000)) {
        log_warn(QStringLiteral("Destroy :: display loop did not end"));
        wait();
    }
    if (ZQStreamParser* c = client.data()) {
        client = nullptr;
        disconnect(c, nullptr, this, nullptr);
        if (c->isRunning()) {
            // Never deleted while it runs, and never waited for here: it is
            // cut from this object (its queue and mutex go with it), told to
            // stop, and deletes itself when its thread ends.
            log_warn(QStringLiteral("Destroy :: stream parser is running, could not delete"));
            c->Destroy();
            c->force_libcurl_stop();
            log_info(QStringLiteral("Destroy :: stream parser deleted when it ends"));
            delete_when_finished(c);
        } else {
            log_info(QStringLiteral("Destroy :: delete stream parser"));
            delete c;
        }
    }
    log_info(QStringLiteral("Destroy :: uninit_frames"));
    uninit_frames();
    log_info(QStringLiteral("Destroy done"));
    --s_live;
}

void new_display_thread::log_info(const QString& step) const
{
    ZQLog::log(QStringLiteral("[INFO] Display [") + name + QStringLiteral("] :: ") + step);
}

void new_display_thread::log_warn(const QString& step) const
{
    ZQLog::log(QStringLiteral("[WARN] Display [") + name + QStringLiteral("] :: ") + step);
}

void new_display_thread::set_scale_algorithm(int flags)
{
    if (flags != -1)
        scaler_flags = flags;
}

int new_display_thread::queue_bound(int size)
{
    // Above the buffer size, so that a display that falls behind drops its
    // oldest records (the trim) instead of holding the stream back; the bound
    // only bites while the display loop waits on the tile.
    return size + size / 2 + 2;
}

int new_display_thread::compute_buffer_size(int fps, int duration_ms)
{
    const qint64 size = (qint64(fps) * duration_ms / 1000) * 2;
    return int(qBound(qint64(3), size, qint64(200)));
}

void new_display_thread::set_size_from_rate(int fps, bool filling)
{
    const int size = compute_buffer_size(fps, buffer_duration_ms);
    max_list_size = size;
    read_index = filling ? size / 4 : size / 2;
    if (client)
        client->set_max_queue_size(queue_bound(size));
}

int new_display_thread::set_max_list_size(double rate)
{
    // One sample per call: the display step calls once a second.
    ++rate_samples;
    if (std::isfinite(rate) && rate > 0.0) {
        rate_sum += rate;
        rate_mean = rate_sum / qMax(1, rate_samples);
    }
    if (rate_samples > 10) {
        const int size = compute_buffer_size(int(rate_mean), buffer_duration_ms);
        if (size > max_list_size + 3) {
            current_rate = rate_mean;
            max_list_size = size;
            if (client)
                client->set_max_queue_size(queue_bound(size));
            log_info(QStringLiteral("set Max List size to ") + QString::number(size) + QStringLiteral(" with FPS ")
                     + QString::number(rate_mean, 'g', 6));
        }
        rate_sum = 0.0;
        rate_mean = 0.0;
        rate_samples = 0;
    }
    return max_list_size;
}

int new_display_thread::search_next(const std::vector<int>& ids, int index, int* last_shown)
{
    if (ids.empty())
        return -1;
    const int last = int(ids.size()) - 1;
    index = qBound(0, index, last);
    const int target = *last_shown + 1;
    const int id = ids[size_t(index)];
    if (*last_shown < 0 || id == target)
        return index;
    if (id <= *last_shown) {
        const bool same = id == *last_shown;
        while (index < last && ids[size_t(index)] != target && ids[size_t(index)] < *last_shown + 5) {
            ++index;
            // A wrapped id (999999 -> 0) is ahead, not behind.
            if (ids[size_t(index)] < ids[size_t(index - 1)])
                break;
        }
        if (same && ids[size_t(index)] != target)
            *last_shown = ids[size_t(index)];
    } else {
        while (index > 0 && ids[size_t(index)] != target) {
            if (ids[size_t(index - 1)] > ids[size_t(index)])
                break; // do not walk back over a wrap
            --index;
        }
    }
    return index;
}

qint64 new_display_thread::pace_wait_us(double rate, qint64 previous_duration_us, bool compensate, int* skip)
{
    if (!std::isfinite(rate) || rate < 1.0)
        rate = 1.0;
    const double period = 1000000.0 / rate;
    const qint64 wait = qint64(compensate ? period - 1.5 * double(previous_duration_us) : period);
    if (wait < 1 && skip)
        *skip = qBound(1, int(std::lround(double(previous_duration_us) / period)), 5);
    return wait;
}

void new_display_thread::wake()
{
    QMutexLocker lock(&wait_mutex);
    wait_condition.wakeAll();
}

// Waits up to ms or until a stop, pause, acknowledgement or release wakes it.
bool new_display_thread::wait_ms(int ms)
{
    QMutexLocker lock(&wait_mutex);
    if (stop || paused)
        return false;
    wait_condition.wait(&wait_mutex, QDeadlineTimer(ms, Qt::PreciseTimer));
    return !(stop || paused);
}

void new_display_thread::init_stream_parser(QString scheme, QString host, QString port, QString extra, QString path,
                                            bool objects_only, QString codec, bool loop, QString proxy_host,
                                            QString proxy_port, bool use_proxy, QString token)
{
    log_info(QStringLiteral("init stream parser :: create stream parser"));
    if (client && !client->isRunning())
        delete client.data();
    else if (client)
        client->Destroy();
    client = new ZQStreamParser(scheme, host, port, extra, path, objects_only, codec, loop, this);
    numbering_restarts = true;
    client_deleted = false;
    client->set_proxy(proxy_host, proxy_port, use_proxy);
    client->name = name.toStdString();
    client->set_scale_algorithm(scaler_flags);
    client->set_token(token);
    client->set_trusted_certificates(trusted_pem);
    connect(client, &ZQStreamParser::send_status_message, this, &new_display_thread::send_status_message);
    connect(client, &ZQStreamParser::can_delete, this, &new_display_thread::delete_stream_parser);
    connect(client, &ZQStreamParser::set_restart, this, &new_display_thread::start_stream_parser);
    connect(client, &ZQStreamParser::stop_display_thread, this, &new_display_thread::set_stop);
    connect(client, qOverload<>(&ZQStreamParser::error), this, &new_display_thread::get_streamparser_error);
    connect(client, &ZQStreamParser::set_codec_size, this, &new_display_thread::get_streamparser_codecSize);
    connect(client, &ZQStreamParser::frame_decoded_old, this,
            &new_display_thread::get_streamparser_frame_decoded_old);
    connect(client, &ZQStreamParser::send_displayError, this, &new_display_thread::get_streamparser_displayError);
    connect(client, &ZQStreamParser::speed_send, this, &new_display_thread::get_streamparser_speed);
    connect(client, &ZQStreamParser::send_stop_buffering, this, &new_display_thread::get_streamparser_stop_buffering);
    client->set_skip_decoding(skip_decoding);
    log_info(QStringLiteral("init stream parser :: codec value ") + codec.left(64));
    frame_wait_limit_ms = codec.contains(QLatin1String("mjpeg")) ? 10000 : 5000;
    if (buffer_duration_ms > 0) {
        client->set_buffering(true);
        if (max_list_size == -1 && stream_frame_rate > 0) {
            max_list_size = compute_buffer_size(stream_frame_rate, buffer_duration_ms);
            log_info(QStringLiteral("init stream parser :: max_list_size   ") + QString::number(max_list_size));
        }
        client->set_max_queue_size(queue_bound(max_list_size > 0 ? max_list_size.load() : 200));
        client->set_frame_queue(&frame_queue);
        client->frame_queue_mutex = &mutex;
    }
}

bool new_display_thread::already_shown(const QString& time)
{
    QString last;
    {
        QMutexLocker lock(&time_mutex);
        last = last_shown_time;
    }
    QDate d, last_d;
    qint64 ms = -1, last_ms = -1;
    if (!TimeText::parse_display_time(time, &d, &ms) || !TimeText::parse_display_time(last, &last_d, &last_ms))
        return false;
    const qint64 behind = (last_d.toJulianDay() - d.toJulianDay()) * 86400000LL + (last_ms - ms);
    // A frame far behind is no replay of the last seconds but a server whose
    // clock went back: it is shown.
    return behind >= 0 && behind <= 600000;
}

void new_display_thread::set_trusted_certificates(const QList<QByteArray>& pem)
{
    trusted_pem = pem;
    if (client)
        client->set_trusted_certificates(pem);
}

void new_display_thread::start_stream_parser()
{
    // A retry of a server out of reach is told by the client, once per
    // change of its failure, not here at every attempt.
    const bool retry = client && (client->failed_attempts() > 0 || client->short_transfers() > 0);
    if (!retry)
        log_info(QStringLiteral("start stream parser"));
    if (stop) {
        log_warn(QStringLiteral("start stream parser :: stop thread detected"));
        return;
    }
    if (!client)
        return;
    // The GUI thread never waits on the client: a restart asked while its
    // transfer still winds down follows its end.
    if (client->isRunning()) {
        queue_restart();
        if (!retry)
            log_warn(QStringLiteral("start stream parser :: stream parser already running"));
        return;
    }
    paused = false;
    previous_frame_displayed = true;
    finished_loop = false;
    // The client numbers its parts on across transfers, so a restart keeps
    // the last shown id: the records still queued from before the cut follow
    // it, and nothing already shown comes back. Only a client that numbers
    // from 1 again (a new one, or one resumed after a pause, whose records
    // were all dropped) starts the count anew. The display loop may be
    // running (a restart): it takes the reset itself.
    if (numbering_restarts.exchange(false)) {
        if (isRunning())
            reset_pending = true;
        else
            last_shown_id = 0;
    }
    stream_frame_rate = -1;
    error_count = 0;

    const QString path = client->get_path();
    // A restarted playback stream starts again at the second of the last
    // keyframe shown, so the server sends again frames already shown, and
    // records of the cut transfer may still wait in the queue before those:
    // from its first restart on, nothing older than the last shown frame is
    // shown. A live stream restarts at the present.
    if (started_once && is_playback_path(path))
        resume_guard = true;
    started_once = true;
    if (is_playback_path(path)) {
        QString time, shown;
        {
            QMutexLocker lock(&time_mutex);
            time = last_keyframe_time;
            shown = last_shown_time;
        }
        if (time.isEmpty() && !shown.isEmpty()) {
            if (!retry)
                log_warn(QStringLiteral("start stream parser :: in playback with timestamp, but not a keyframe"));
            time = shown;
        } else if (!time.isEmpty() && !retry) {
            log_info(QStringLiteral("start stream parser :: in playback with keyframe timestamp :: ") + time);
        }
        QDate d;
        qint64 ms = -1;
        if (!time.isEmpty() && TimeText::parse_display_time(time, &d, &ms)) {
            QStringList elements = path.split(QLatin1Char('&'));
            for (int i = elements.size() - 1; i >= 0; --i) {
                if (elements[i].contains(QLatin1String("starttime"))) {
                    const QString stamp = TimeText::make_yyyymmddhhmmss(d, ms);
                    // Keep whatever came before the element in the query's first piece.
                    const int at = elements[i].indexOf(QLatin1String("starttime"));
                    elements[i] = elements[i].left(at) + QStringLiteral("starttime=") + stamp;
                    break;
                }
            }
            client->set_path(elements.join(QLatin1Char('&')));
        }
    }
    client->start();
}

void new_display_thread::queue_restart()
{
    if (restart_queued.exchange(true))
        return;
    connect(client, &QThread::finished, this, &new_display_thread::run_queued_restart, Qt::UniqueConnection);
    // The client may have ended between the look above and the connection,
    // its finished signal then gone unheard: look again now that it is
    // connected (isRunning() is false from the emission of finished on).
    if (!client->isRunning())
        QMetaObject::invokeMethod(this, &new_display_thread::run_queued_restart, Qt::QueuedConnection);
    // And a timer, so that a queued restart always has a trigger to come.
    QTimer::singleShot(1000, this, &new_display_thread::run_queued_restart);
}

void new_display_thread::run_queued_restart()
{
    if (!restart_queued)
        return;
    if (stop || !client) {
        restart_queued = false;
        return;
    }
    if (client->isRunning()) {
        QTimer::singleShot(1000, this, &new_display_thread::run_queued_restart);
        return;
    }
    restart_queued = false;
    start_stream_parser();
}

void new_display_thread::run()
{
    log_info(QStringLiteral("run display & buffer thread"));
    finished_loop = false;
    paused = false;
    if (!client || !client->isRunning())
        QMetaObject::invokeMethod(this, &new_display_thread::start_stream_parser, Qt::QueuedConnection);
    buffering_calculation();
}

void new_display_thread::uninit_frames()
{
    std::deque<ZQMediaFrame*> gone;
    {
        QMutexLocker lock(&mutex);
        gone.swap(frame_queue);
    }
    if (gone.empty())
        log_info(QStringLiteral("uninit_frames :: circular buffer already empty"));
    for (ZQMediaFrame* f : gone)
        delete f;
    if (scaler) {
        sws_freeContext(scaler);
        scaler = nullptr;
    }
}

void new_display_thread::stop_and_restart_parser()
{
    log_info(QStringLiteral("set stop and restart parser"));
    error_count = 0;
    if (client)
        client->set_restart_pending(true);
}

void new_display_thread::buffering_calculation()
{
    last_buffering_percent = -1.0;
    QElapsedTimer display_wait;
    display_wait.start();
    QElapsedTimer step_clock;
    while (!stop && !paused) {
        // Trim to the buffer size; records are deleted outside the mutex.
        std::vector<ZQMediaFrame*> trimmed;
        {
            QMutexLocker lock(&mutex);
            const int size = max_list_size;
            while (size > 0 && int(frame_queue.size()) > size) {
                trimmed.push_back(frame_queue.front());
                frame_queue.pop_front();
                read_index = qMax(0, read_index - 1);
            }
        }
        for (ZQMediaFrame* f : trimmed)
            delete f;

        step_clock.restart();
        const int r = display_next_frame();
        if (r < 0 || error_count > 50) {
            log_info(QStringLiteral("buffer calculation :: send frame ERROR [") + QString::number(error_count)
                     + QStringLiteral("]"));
            stop_and_restart_parser();
            previous_frame_displayed = true;
            display_wait.restart();
            continue;
        }
        // Wait for the tile to take the frame.
        bool waited = false;
        while (!previous_frame_displayed && !stop && !paused && !buffering) {
            if (hidden || server_pause) {
                previous_frame_displayed = true;
                display_wait.restart();
                wait_ms(100);
                break;
            }
            if (display_wait.elapsed() >= 10000) {
                log_info(QStringLiteral("buffering calculation :: previous_frame_displayed WAIT too long, send error. ")
                         + QString::number(display_wait.elapsed() / 1000));
                log_info(QStringLiteral("buffering calculation :: previous_frame_displayed WAIT too long, first frame ")
                         + QString::number(first_frame ? 1 : 0));
                stop_and_restart_parser();
                previous_frame_displayed = true;
                display_wait.restart();
                break;
            }
            waited = true;
            wait_ms(10);
        }
        if (previous_frame_displayed && !waited)
            display_wait.restart();
        if (!first_frame && previous_frame_displayed && r == 0 && frame_found) {
            previous_frame_duration = previous_frame_duration + step_clock.nsecsElapsed() / 1000;
            pace_frame(pace_rate, true);
            display_wait.restart();
        }
    }
    log_info(QStringLiteral("buffering calculation :: out"));
    if (!paused) {
        uninit_frames();
        if (client) {
            log_info(QStringLiteral("buffering calculation :: send stop signal to parser"));
            client->threadStop(true);
        } else {
            log_info(QStringLiteral("buffering calculation :: parser is currently deleted"));
        }
    } else {
        std::deque<ZQMediaFrame*> gone;
        {
            QMutexLocker lock(&mutex);
            gone.swap(frame_queue);
        }
        for (ZQMediaFrame* f : gone)
            delete f;
    }
    finished_loop = true;
    log_info(QStringLiteral("buffering calculation :: quit"));
}

int new_display_thread::display_next_frame()
{
    started = true;
    if (reset_pending.exchange(false))
        last_shown_id = 0;
    frame_found = false;
    const int size = max_list_size;
    ZQMediaFrame* record = nullptr;
    qsizetype queued = 0;
    {
        QMutexLocker lock(&mutex);
        queued = qsizetype(frame_queue.size());
    }
    const bool ready = size > 0 && queued > 0 && queued >= size / 2 - 1;
    if (ready) {
        if (buffering) {
            emit send_buffering(false, 100.0);
            buffering = false;
        }
        const int high = int(0.4 * size), low = int(0.2 * size);
        if (last_shown_id == 999999)
            last_shown_id = 0;
        const bool last_message = client && client->is_last_part_message();
        {
            QMutexLocker lock(&mutex);
            const int last = int(frame_queue.size()) - 1;
            read_index = qBound(0, read_index, last);
            ZQMediaFrame* at = frame_queue[size_t(read_index)];
            if (stream_frame_rate == -1) {
                const double fps = at->get_fps();
                const int r = std::isfinite(fps) ? int(qBound(1.0, fps, 1000.0)) : 1;
                stream_frame_rate = r;
                pace_rate = r;
                initial_rate = current_rate = r;
                set_size_from_rate(r, false);
                read_index = qBound(0, read_index, last);
                at = frame_queue[size_t(read_index)];
            }
            if (std::isfinite(at->get_fps()) && at->get_fps() >= 1.0 && at->get_fps() <= 1000.0
                && at->get_fps() != current_rate)
                current_rate = at->get_fps();
            if (at->get_frame_id() == -99) {
                frame_queue.erase(frame_queue.begin() + read_index);
                lock.unlock();
                delete at;
                log_info(QStringLiteral("send replay frame"));
                emit send_displayError(QStringLiteral("REPLAY..."), QString(), true);
                replay_wait = true;
                while (replay_wait && wait_ms(100)) {
                }
                return 1;
            }
            std::vector<int> ids;
            ids.reserve(frame_queue.size());
            for (ZQMediaFrame* f : frame_queue)
                ids.push_back(f->get_frame_id());
            read_index = search_next(ids, read_index, &last_shown_id);
            record = frame_queue[size_t(read_index)];
            frame_found = true;
            if ((last_message && record->get_text_overlay().isEmpty()) || (client && client->is_text_part())) {
                // Frames queued before the server's message are passed over,
                // so that the search reaches the message instead of stopping.
                frame_found = false;
                last_shown_id = record->get_frame_id();
            }
            // The record stays in the queue: only this thread removes records
            // (the trim), and the client only appends.
            queued = qsizetype(frame_queue.size());
        }
        // Speed adaptation, for ordinary frames: those whose text overlay is
        // empty. The text overlay is the server's Frametag, set only on pauses
        // and server messages, records without a picture that are never
        // paced; adapting on those alone would leave the pace and the buffer
        // size (the once-a-second growth below) fixed for every ordinary
        // stream, whose buffer then drifts into trimming frames unseen or
        // running dry.
        if (frame_found && !last_message && record->get_text_overlay().isEmpty()) {
            const int pos = read_index;
            if (queued >= size - 1) {
                if (pos <= low) {
                    pace_rate = qMin(pace_rate + 0.5, current_rate + 300);
                    late = true;
                    skip_counter = qMax(skip_counter, 1);
                } else if (size - 1 - pos <= low) {
                    pace_rate = qMax(1.0, pace_rate - 0.5);
                    skip_counter = 0;
                    late = false;
                } else if (std::abs(pos - int(queued) / 2) <= 2) {
                    late = false;
                }
            }
            const qint64 now = now_ms();
            if (now - last_adaptation_ms >= 1000) {
                last_adaptation_ms = now;
                set_max_list_size(record->get_fps());
                if (pos > high && int(queued) - 1 - pos <= high)
                    pace_rate = qMax(1.0, pace_rate - 0.01);
                else if (pos <= high)
                    pace_rate = qMin(pace_rate + 0.01, current_rate + 300);
            }
        }
        if (skip_counter == -1)
            skip_counter = 0;
        if (frame_found && record->get_frame()) {
            server_pause = false;
            if (resume_guard) {
                const QString time =
                    record->get_timestamp() ? QString::fromLatin1(record->get_timestamp()) : QString();
                if (already_shown(time)) {
                    // Sent again after a restart: passed over at once.
                    pace_on = false;
                    last_shown_id = record->get_frame_id();
                    return 0;
                }
            }
            if (!late) {
                pace_on = true;
                last_shown_id = record->get_frame_id();
                send_frame(record);
            } else if (skip_counter > 0 && !record->is_keyframe()) {
                pace_on = false;
                if (--skip_counter == 0)
                    skip_counter = -1;
                last_shown_id = record->get_frame_id();
            } else {
                pace_on = true;
                last_shown_id = record->get_frame_id();
                send_frame(record);
                if (!record->is_keyframe()) {
                    late = false;
                    skip_counter = 0;
                }
            }
            return 0;
        }
        // A record without a picture is told once, however often the
        // search comes back to it.
        if (frame_found && record->get_frame_id() != last_pictureless_id) {
            last_shown_id = record->get_frame_id();
            last_pictureless_id = last_shown_id;
            if (record->get_text_overlay() == QLatin1String("PAUSE")) {
                server_pause = true;
                previous_frame_displayed = false;
                emit send_displayError(record->get_timestamp() ? QString::fromLatin1(record->get_timestamp())
                                                               : QString(),
                                       QStringLiteral("PAUSE"), true);
            } else if (!record->get_text_overlay().isEmpty()) {
                send_frame(record);
            }
        }
        frame_found = false;
        wait_ms(100);
        return 0;
    }

    // Filling.
    {
        QMutexLocker lock(&mutex);
        if (!frame_queue.empty()
            && frame_queue.front()->get_text_overlay().contains(QLatin1String("noobjects"), Qt::CaseInsensitive)) {
            ZQMediaFrame* f = frame_queue.front();
            frame_queue.pop_front();
            lock.unlock();
            log_info(QStringLiteral("display frame with noobjects"));
            send_frame(f);
            delete f;
            return 0;
        }
        if (frame_queue.empty()) {
            lock.unlock();
            wait_ms(50);
            return 0;
        }
        if (stream_frame_rate == -1) {
            const double fps = frame_queue.front()->get_fps();
            const int r = std::isfinite(fps) ? int(qBound(1.0, fps, 1000.0)) : 1;
            stream_frame_rate = r;
            pace_rate = r;
            initial_rate = current_rate = r;
            set_size_from_rate(r, true);
        }
        queued = qsizetype(frame_queue.size());
    }
    const int now_size = max_list_size;
    if (queued < now_size / 2 - 1)
        wait_ms(20);
    buffering = true;
    const double percent = now_size > 0 ? double(int(queued) * 100 / now_size) : 0.0;
    if (percent > last_buffering_percent && percent <= 100.0) {
        last_buffering_percent = percent;
        emit send_buffering(true, percent);
    }
    return 0;
}

QImage new_display_thread::convert(const AVFrame* f)
{
    if (!f || f->width <= 0 || f->height <= 0 || f->width > VideoDecoder::kMaxPictureSide
        || f->height > VideoDecoder::kMaxPictureSide || av_image_check_size(unsigned(f->width), unsigned(f->height), 0, nullptr) < 0)
        return QImage();
    int ow = f->width, oh = f->height;
    if (oh > ow) {
        // Portrait pictures come one pixel smaller on each side.
        ow = qMax(1, ow - 1);
        oh = qMax(1, oh - 1);
    }
    scaler = sws_getCachedContext(scaler, f->width, f->height, AVPixelFormat(f->format), ow, oh, AV_PIX_FMT_BGRA,
                                  scaler_flags, nullptr, nullptr, nullptr);
    if (!scaler) {
        log_warn(QStringLiteral("ERROR ON INIT img_convert_full_ctx"));
        return QImage();
    }
    QImage out(ow, oh, QImage::Format_RGB32);
    if (out.isNull())
        return QImage();
    uint8_t* dst[4] = {out.bits(), nullptr, nullptr, nullptr};
    int dst_stride[4] = {int(out.bytesPerLine()), 0, 0, 0};
    if (sws_scale(scaler, f->data, f->linesize, 0, f->height, dst, dst_stride) <= 0)
        return QImage();
    return out;
}

bool new_display_thread::send_frame(ZQMediaFrame* record)
{
    const QString time = record->get_timestamp() ? QString::fromLatin1(record->get_timestamp()) : QString();
    const QString draw = record->get_draw_overlay();
    const QString tag = record->get_text_overlay();
    if (skip_decoding)
        return false;
    try {
        const AVFrame* f = record->get_frame();
        if (f) {
            if (f->width <= 0 || f->height <= 0 || f->width > VideoDecoder::kMaxPictureSide
                || f->height > VideoDecoder::kMaxPictureSide) {
                emit send_displayError(QString::number(f->width) + QLatin1Char('x') + QString::number(f->height),
                                       QString(), true);
                ++error_count;
            } else {
                const QImage img = convert(f);
                if (img.isNull()) {
                    ++error_count;
                } else {
                    if (first_frame) {
                        log_info(QStringLiteral("send frame :: send to display frame ")
                                 + QString::number(record->get_frame_id()) + QStringLiteral(" :: frame size ")
                                 + QString::number(img.width()) + QLatin1Char('x') + QString::number(img.height()));
                        emit set_codec_size(img.width(), img.height());
                        emit send_streamparser_scaler_dewrap(f->width, f->height);
                    }
                    first_frame = false;
                    buffering = false;
                    if (!hidden) {
                        if (time == last_shown_time && !time.isEmpty()) {
                            previous_frame_displayed = true;
                            previous_frame_duration = 0;
                            if (++same_time_count > 10)
                                wait_ms(100);
                        } else {
                            previous_frame_displayed = false;
                            {
                                QMutexLocker lock(&time_mutex);
                                last_shown_time = time;
                                if (record->is_keyframe())
                                    last_keyframe_time = time;
                            }
                            same_time_count = 0;
                            emit set_display_frame(img, int(img.bytesPerLine()), img.width(), img.height(), time,
                                                   draw, false, record->get_frame_id(), current_rate,
                                                   record->is_keyframe());
                        }
                    }
                    error_count = 0;
                }
            }
        } else if (tag.isEmpty()) {
            log_info(QStringLiteral("frame is NULL"));
            ++error_count;
        }
        if (!tag.isEmpty()) {
            const QString message =
                tag.contains(QLatin1String("noobjects"), Qt::CaseInsensitive) ? QStringLiteral("NO ACTIVITY") : tag.left(1000);
            emit send_displayError(time, message, true);
        }
    } catch (const std::exception& e) {
        log_warn(QStringLiteral("send frame :: exception :: ") + QString::fromLocal8Bit(e.what()));
    } catch (...) {
        log_warn(QStringLiteral("send frame :: exception"));
    }
    return true;
}

void new_display_thread::pace_frame(double rate, bool compensate)
{
    if (!pace_on)
        return;
    int skip = 0;
    const qint64 wait = pace_wait_us(rate, previous_frame_duration, compensate, &skip);
    if (wait < 1) {
        late = true;
        skip_counter = skip;
        return;
    }
    // Slept in short steps so that a stop or a pause cuts it short.
    qint64 left = wait;
    while (left > 0 && !stop && !paused) {
        const qint64 step = qMin<qint64>(left, 5000);
        zq::platform::precise_sleep_us(step);
        left -= step;
    }
    previous_frame_duration = 1000;
}

void new_display_thread::security_unlock_display()
{
    previous_frame_displayed = true;
    wake();
}

void new_display_thread::get_duration(qlonglong d)
{
    previous_frame_duration = qBound(qlonglong(0), d, qlonglong(10000000));
    previous_frame_displayed = true;
    wake();
}

void new_display_thread::release_replay()
{
    replay_wait = false;
    if (client)
        client->release_replay_wait();
    wake();
}

void new_display_thread::get_replay_frame_displayed()
{
    if (!replay_wait)
        return;
    // The GUI thread does not sleep: the release follows a second later.
    QTimer::singleShot(1000, this, [this] {
        log_info(QStringLiteral("unwait threads"));
        release_replay();
    });
}

void new_display_thread::set_stop()
{
    log_info(QStringLiteral("set stop"));
    stop = true;
    release_replay();
    wake();
    if (client && client->isRunning()) {
        log_info(QStringLiteral("set stop :: stream parser is running. Set Stop"));
        client->threadStop(true);
    } else if (client) {
        log_info(QStringLiteral("set stop :: stream parser is not running. Send delete"));
        client->Destroy();
    }
    if (buffer_duration_ms <= 0) {
        log_info(QStringLiteral("set stop :: send status message disconnected"));
        emit send_status_message(QStringLiteral("disconnected"));
    }
    maybe_emit_can_delete();
}

void new_display_thread::maybe_emit_can_delete()
{
    // The tile deletes this object once both threads have ended. finished
    // comes just before a thread stops running: the one that sent it is
    // waited for (a moment).
    if (!stop || can_delete_sent)
        return;
    if (auto* ended = qobject_cast<QThread*>(sender()))
        ended->wait(1000);
    if (client) {
        connect(client, &QThread::finished, this, &new_display_thread::maybe_emit_can_delete, Qt::UniqueConnection);
        if (client->isRunning())
            return;
    }
    connect(this, &QThread::finished, this, &new_display_thread::maybe_emit_can_delete, Qt::UniqueConnection);
    if (isRunning())
        return;
    can_delete_sent = true;
    emit can_delete();
}

void new_display_thread::set_pause()
{
    log_info(QStringLiteral("set_pause"));
    paused = true;
    numbering_restarts = true; // the paused client numbers from 1 again
    resume_guard = false;
    if (client)
        client->threadPause();
    wake();
}

void new_display_thread::delete_stream_parser()
{
    log_info(QStringLiteral("delete stream parser"));
    if (!client)
        return;
    // The display loop reads the client while it runs: it goes afterwards.
    if (isRunning()) {
        connect(this, &QThread::finished, this, &new_display_thread::delete_stream_parser, Qt::UniqueConnection);
        return;
    }
    if (client->isRunning()) {
        log_info(QStringLiteral("delete stream parser :: stream parser is running, could not delete"));
        client->threadStop(true);
    }
    delete_when_finished(client);
    client_deleted = true;
    client = nullptr;
    if (!paused) {
        log_info(QStringLiteral("delete stream parser :: send status message disconnected"));
        emit send_status_message(QStringLiteral("disconnected"));
    }
}

void new_display_thread::get_streamparser_error()
{
    log_info(QStringLiteral("get streamparser error"));
    emit streamparser_error();
}

void new_display_thread::get_streamparser_codecSize(int w, int h)
{
    emit set_codec_size(w, h);
}

void new_display_thread::get_streamparser_frame_decoded_old(QImage frame, int linesize, QString timestamp,
                                                            QString drawoverlay, bool isUnwrapped, int frame_id,
                                                            int width, int height, double fps, QString frametag,
                                                            bool is_keyframe)
{
    if (stop || paused)
        return;
    if (resume_guard && already_shown(timestamp))
        return; // sent again after a restart
    if (!previous_frame_displayed && dropped_direct < 30) {
        ++dropped_direct;
        return;
    }
    dropped_direct = 0;
    {
        QMutexLocker lock(&time_mutex);
        last_shown_time = timestamp;
        if (is_keyframe)
            last_keyframe_time = timestamp;
    }
    previous_frame_displayed = false;
    if (!hidden)
        emit set_display_frame(frame, linesize, width, height, timestamp, drawoverlay, isUnwrapped, frame_id, fps,
                               is_keyframe);
    else
        previous_frame_displayed = true;
    if (!frametag.isEmpty()) {
        const QString message = frametag.contains(QLatin1String("noobjects"), Qt::CaseInsensitive)
                                    ? QStringLiteral("NO ACTIVITY")
                                    : frametag.left(1000);
        emit send_displayError(timestamp, message, true);
    }
}

void new_display_thread::get_streamparser_displayError(QString overlay, QString message, bool is_opacity)
{
    if (message == QLatin1String("PAUSE"))
        server_pause = true;
    emit send_displayError(overlay, message.left(1000), is_opacity);
}

void new_display_thread::get_streamparser_speed(double v)
{
    emit send_streamparser_speed(v);
}

void new_display_thread::get_streamparser_scaler_dewrap(int w, int h)
{
    emit send_streamparser_scaler_dewrap(w, h);
}

void new_display_thread::get_streamparser_stop_buffering()
{
    emit send_streamparser_stop_buffering();
}

void new_display_thread::get_display_hidden(bool pause)
{
    hidden = true;
    const bool keep = client && (is_playback_path(client->get_path())
                                 || client->get_path().contains(QLatin1String("zqstreammptvideo")));
    const bool decision = keep ? false : pause;
    log_info(QStringLiteral("Display is hidden :: pause ") + QString::number(decision ? 1 : 0));
    if (decision)
        set_pause();
    wake();
}

void new_display_thread::get_display_show()
{
    log_info(QStringLiteral("Display is visible"));
    hidden = false;
    if (stop || !client || is_playback_path(client->get_path()))
        return;
    if (!paused)
        return;
    if (buffer_duration_ms > 0) {
        if (!isRunning())
            start();
    } else {
        start_stream_parser();
    }
}

ZQStreamParser* new_display_thread::get_stream_parser() const
{
    return client.data();
}

bool new_display_thread::stream_ran_steadily() const
{
    return client && client->ran_steadily();
}
