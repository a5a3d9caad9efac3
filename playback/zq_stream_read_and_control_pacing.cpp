// Playback reader: pacing and rates (the read timer, forward and backward ticks and steps, rate
// changes, pause).

#include "playback/zq_stream_read_and_control.h"
#include "playback/zq_stream_read_and_control_p.h"

#include "app/zq_log.h"
#include "playback/ff_audio_decoder_sdl_player.h"
#include "playback/video_decoder.h"

#include <QMetaObject>
#include <QThreadPool>
#include <QTimer>
#include <QtConcurrent/QtConcurrentRun>

extern "C" {
#include <libavutil/frame.h>
}

#include <chrono>
#include <cmath>
#include <limits>

using namespace zq_reader_detail;

double ZQStreamReadAndControl::period_for(int rate, double fps)
{
    const int r = std::abs(rate);
    if (r >= 2)
        return double(qMax(1, 1000 / (2 * r))); // keyframes only, twice the rate per second
    if (!std::isfinite(fps) || fps < 1.0)
        return 1000.0; // rate not known
    // Every frame at the recording's own spacing, fraction included: a whole
    // number of milliseconds, or a frame per second less, would play 5 fps at
    // 4 pictures per second and 12.5 fps 11 % slow. A tick below a
    // millisecond is not possible anyway.
    return std::max(1.0, 1000.0 / fps);
}

qint64 ZQStreamReadAndControl::period_ns() const
{
    return qMax<qint64>(1'000'000, std::llround(period_for(m_rate, m_fps) * 1e6));
}

int ZQStreamReadAndControl::ms_until(qint64 deadlineNs) const
{
    const qint64 left = deadlineNs - now_ns();
    if (left <= 0)
        return 0;
    // Rounded up: a timer never comes before its time, so no tick comes early.
    return int(qMin<qint64>((left + 999'999) / 1'000'000, std::numeric_limits<int>::max()));
}

void ZQStreamReadAndControl::start_schedule()
{
    m_deadlineNs = now_ns() + period_ns();
    m_timer->start(ms_until(m_deadlineNs));
    anchor_content_clock();
}

void ZQStreamReadAndControl::anchor_content_clock()
{
    m_contentAnchorNs = now_ns();
    m_contentAnchored = false;
    if (m_frames.isEmpty())
        return;
    // The entry the index stands at: the picture on screen, or the one after it.
    const qint64 ms = m_frames.at(qBound(0, m_index, int(m_frames.size()) - 1)).absolute_ms();
    if (ms < 0)
        return;
    m_contentAnchorMs = ms;
    m_contentAnchored = true;
}

bool ZQStreamReadAndControl::content_reached(bool forward, qint64* reachedMs)
{
    if (!m_contentAnchored)
        anchor_content_clock(); // from a picture whose stamp can be read, when there is one now
    if (!m_contentAnchored)
        return false;
    const qint64 elapsed = qMax<qint64>(0, now_ns() - m_contentAnchorNs);
    const qint64 advanced = elapsed * std::abs(m_rate) / 1'000'000;
    *reachedMs = forward ? m_contentAnchorMs + advanced : m_contentAnchorMs - advanced;
    return true;
}

void ZQStreamReadAndControl::shift_content_clock(qint64 deltaMs)
{
    m_contentAnchorMs += deltaMs;
}

qint64 ZQStreamReadAndControl::recording_pause_ms() const
{
    // A step between two stamps longer than this is a pause of the recording (the camera stopped
    // sending, or the time between two recordings), not time to play: rate 1 shows one entry
    // after the other, and a fast rate would otherwise show the same picture for minutes.
    const double spacing = std::isfinite(m_fps) && m_fps > 0 ? 1000.0 / m_fps : 0.0;
    return qMax<qint64>(5000, qint64(5 * spacing));
}

void ZQStreamReadAndControl::on_read_timer(bool forward)
{
    QTimer* const timer = m_timer;
    const qint64 fired = now_ns();
    if (forward)
        read_and_display_next_frame(false);
    else
        read_and_display_previous_frame(false);
    // The tick may have ended reading.
    if (m_timer != timer || !timer->isActive())
        return;
    // The next picture is due a period after this one was due, not after it
    // came: the fraction of a millisecond, a timer a little late and the
    // time the tick took are made up on the next interval, so the pictures
    // come at the recording's own rate. A tick later than a whole period (a
    // busy window, a slow file switch) starts the schedule again from now:
    // the pictures it missed are not shown in a burst.
    const qint64 period = period_ns();
    m_deadlineNs = fired - m_deadlineNs > period ? fired + period : m_deadlineNs + period;
    timer->start(ms_until(m_deadlineNs));
}

void ZQStreamReadAndControl::recreate_timer(bool forward)
{
    if (m_timer) {
        m_timer->stop();
        m_timer->deleteLater();
        m_timer = nullptr;
    }
    m_timer = new QTimer(this);
    m_timer->setTimerType(Qt::PreciseTimer);
    connect(m_timer, &QTimer::timeout, this, [this, forward] { on_read_timer(forward); });
}

void ZQStreamReadAndControl::end_reading()
{
    ++m_generation;
    if (!m_timer)
        return; // already ended, or a step with no reading going on
    m_timer->stop();
    m_timer->deleteLater();
    m_timer = nullptr;
    emit reading_ended();
}

void ZQStreamReadAndControl::queue_tick(bool forward, bool step)
{
    const quint64 generation = m_generation;
    QMetaObject::invokeMethod(
        this,
        [this, generation, forward, step] {
            if (generation != m_generation)
                return;
            if (forward)
                read_and_display_next_frame(step);
            else
                read_and_display_previous_frame(step);
        },
        Qt::QueuedConnection);
}

void ZQStreamReadAndControl::read_forward()
{
    m_paused = false;
    clear_cache();
    recreate_timer(true);
    // Pictures per second the timer aims at.
    const bool all = std::abs(m_rate) <= 1;
    const QString aim = all ? QString::number(1000.0 / period_for(m_rate, m_fps), 'g', 6)
                            : QString::number(2 * std::abs(m_rate));
    zlog(kName + (all ? QStringLiteral("read forward (all frames) :: ") : QStringLiteral("read forward (keyframes) :: "))
         + aim + QStringLiteral(" fps"));
    start_schedule();
}

void ZQStreamReadAndControl::read_backward()
{
    recreate_timer(false);
    m_backwardInterval = qRound(period_for(m_rate, m_fps));
    zlog(kName + QStringLiteral("read backward :: interval ") + QString::number(m_backwardInterval)
         + QStringLiteral(" ms"));
    start_schedule();
    // The first tick measures from here, not from an older tick.
    m_lastBackwardTick = now_ns();
    m_backwardCarry = 0.0;
    reset_backward_prefetch();
    triggerPrefetchPrev(m_streamId);
}

void ZQStreamReadAndControl::change_rate(double rate)
{
    zlog(kName + QStringLiteral(" change rate :: ") + QString::number(rate, 'g', 6));
    // Audio hook: sound at the normal rate only.
    if (m_audioPlayer) {
        if (rate == 1.0)
            m_audioPlayer->set_start_framereader_timer();
        else
            m_audioPlayer->set_stop_framereader_timer();
    }
    m_rateAsked = rate;
    if ((m_rate > 0 && rate < 0) || (m_rate < 0 && rate > 0)) {
        reset_forward_prefetch();
        reset_backward_prefetch();
    }
    // A rate between -1 and 1 plays every frame, like 1 (or -1).
    int stored = int(std::trunc(rate));
    if (stored == 0 && rate > 0)
        stored = 1;
    else if (stored == 0 && rate < 0)
        stored = -1;
    m_rate = stored;
    m_waitForKeyframe = true;
    m_speed = rate * m_fps;
    if (m_timer)
        m_timer->stop();
    if (m_frames.isEmpty()) {
        zlog(kName + QStringLiteral(" change rate  :: no frame"));
        return;
    }
    if (m_speed > 0) {
        read_forward();
    } else {
        m_speed = (rate == -1.0) ? -5.0 : rate * m_fps;
        read_backward();
    }
}

void ZQStreamReadAndControl::setup_fps(double fps)
{
    m_fps = fps;
    m_speed = m_rate * fps;
}

void ZQStreamReadAndControl::set_pause()
{
    if (!m_timer)
        return;
    if (m_timer->isActive()) {
        zlog(kName + QStringLiteral("set pause"));
        m_paused = true;
        m_timer->stop();
        if (m_audioPlayer) // audio hook: a paused picture is silent
            m_audioPlayer->set_stop_framereader_timer();
    } else {
        zlog(kName + QStringLiteral("unset pause"));
        m_paused = false;
        // Time spent paused is not time to catch up on.
        m_lastBackwardTick = now_ns();
        m_backwardCarry = 0.0;
        start_schedule();
        if (m_audioPlayer && m_rate == 1 && m_speed > 0) // audio hook
            m_audioPlayer->set_start_framereader_timer();
    }
}

void ZQStreamReadAndControl::slider_pressed()
{
    zlog(kName + QStringLiteral("slider pressed"));
    set_pause();
}

void ZQStreamReadAndControl::read_and_display_next_frame()
{
    read_and_display_next_frame(false);
}

void ZQStreamReadAndControl::read_and_display_previous_frame()
{
    read_and_display_previous_frame(false);
}

void ZQStreamReadAndControl::read_and_display_next_frame(bool step)
{
    if (m_busy)
        return;
    BusyGuard guard(m_busy);
    if (m_stopRequest) {
        zlog(kName + QStringLiteral("next :: stop thread detected"));
        end_reading();
        return;
    }
    if (m_frames.isEmpty()) {
        zlog(kName + QStringLiteral("next :: no frame"));
        // Reading holds nothing to read: it ends, rather than say so at every tick.
        if (!step)
            end_reading();
        return;
    }
    if (step)
        step_forward();
    else
        tick_forward();
}

void ZQStreamReadAndControl::read_and_display_previous_frame(bool step)
{
    if (m_busy)
        return;
    BusyGuard guard(m_busy);
    if (m_frames.isEmpty()) {
        zlog(kName + QStringLiteral("prev :: no frame"));
        if (!step)
            end_reading();
        return;
    }
    if (m_stopRequest) {
        zlog(kName + QStringLiteral("prev :: stop thread detected"));
        end_reading();
        return;
    }
    if (step)
        step_backward();
    else
        tick_backward();
}

void ZQStreamReadAndControl::tick_forward()
{
    if (m_index < 0) // set_index() takes any value
        m_index = 0;
    if (m_index >= m_frames.size()) {
        switch_to_next_file();
        return;
    }
    if (std::abs(m_rate) <= 1) {
        const int i = m_index;
        if (m_waitForKeyframe) {
            if (m_frames.at(i).keyframe_contains_one()) {
                read_frame(false, i, m_streamId);
                // Every frame from here on, also when the stored rate is -1
                // (read_forward() called after a backward rate): waiting on
                // would show one picture per group at normal pace.
                m_waitForKeyframe = false;
            }
        } else {
            read_frame(false, i, m_streamId);
        }
        emit_position(i);
        ++m_index;
        return;
    }
    tick_forward_keyframes();
}

void ZQStreamReadAndControl::tick_forward_keyframes()
{
    const int size = int(m_frames.size());
    qint64 reached = 0;
    if (!content_reached(true, &reached)) {
        // No stamp to go by: the next keyframe at each tick.
        for (int j = qMax(0, m_index); j < size; ++j) {
            if (m_frames.at(j).keyframe_starts_with_one()) {
                show_entry(j);
                m_index = j + 1;
                return;
            }
        }
        switch_to_next_file();
        return;
    }
    // The last keyframe at or before the time reached; the entries passed on the way are skipped.
    int pending = -1;
    const qint64 previous = m_index > 0 && m_index <= size ? m_frames.at(m_index - 1).absolute_ms() : -1;
    const int due = due_keyframe(true, qMax(0, m_index), previous, reached, &pending);
    if (due >= 0) {
        show_entry(due);
        m_index = due + 1;
    } else if (pending >= 0) {
        m_index = pending; // the next keyframe is not due yet: nothing new to show
    } else {
        switch_to_next_file(); // its first keyframe shows when it is due
    }
}

int ZQStreamReadAndControl::due_keyframe(bool forward, int from, qint64 previous, qint64 reached, int* pending)
{
    const int size = int(m_frames.size());
    const qint64 pause = recording_pause_ms();
    int due = -1;
    *pending = -1;
    for (int j = from; j >= 0 && j < size; j += forward ? 1 : -1) {
        const ZQFrame& f = m_frames.at(j);
        const qint64 t = f.absolute_ms();
        if (t < 0) {
            if (f.keyframe_starts_with_one()) {
                if (due < 0)
                    due = j; // a keyframe without a readable stamp is due at once
                break;
            }
            continue;
        }
        if (previous >= 0 && std::abs(t - previous) > pause) {
            if (due >= 0)
                break; // what was due before the pause first
            shift_content_clock(t - previous);
            reached += t - previous;
        }
        previous = t;
        if (forward ? t > reached : t < reached) {
            *pending = j;
            break;
        }
        if (f.keyframe_starts_with_one())
            due = j;
    }
    return due;
}

void ZQStreamReadAndControl::tick_backward()
{
    if (std::abs(m_rate) <= 1) {
        // Every entry in turn, as forward: a late tick shows the next picture
        // late rather than skipping pictures to catch up (the group before
        // the current one is decoded ahead a little on each tick, so ticks
        // stay short). The tick right after a file switch shows the new
        // file's last entry itself: it comes at once, owing nothing.
        const qint64 now = now_ns();
        const double elapsed = double(now - m_lastBackwardTick) / 1e6;
        m_lastBackwardTick = now;
        // Rounded, with the remainder carried to the next tick: timer jitter
        // (one tick a little early, the next a little late) then neither
        // repeats an entry nor holds one twice.
        const double owed = qMax(0.0, elapsed / period_for(m_rate, m_fps) + m_backwardCarry);
        const int skip = qMin(1, int(std::floor(owed + 0.5)));
        m_backwardCarry = qBound(-0.5, owed - skip, 0.5);
        if (m_index <= 0) {
            switch_to_previous_file();
            return;
        }
        const int t = qMin(m_index - skip, int(m_frames.size()) - 1);
        if (t < 0) {
            switch_to_previous_file();
            return;
        }
        int k = t;
        while (k >= 0 && !m_frames.at(k).keyframe_contains_one())
            --k;
        if (k < 0) {
            switch_to_previous_file();
            return;
        }
        decode_up_to(k, t, true);
        m_index = t;
        // Pictures after t are behind us now; the group before this one is
        // decoded a little on every tick, so that reaching it costs no stall.
        while (!m_cache.isEmpty() && m_cache.lastKey() > t)
            drop_cached(m_cache.lastKey());
        predecode_previous_group(k, 2);
        return;
    }
    tick_backward_keyframes();
}

void ZQStreamReadAndControl::tick_backward_keyframes()
{
    const int size = int(m_frames.size());
    const int from = qMin(m_index - 1, size - 1);
    if (from < 0) {
        switch_to_previous_file();
        return;
    }
    // A failed read leaves the index: the next tick tries again.
    auto show = [this](int k) {
        if (read_frame(false, k, m_streamId)) {
            emit_position(k);
            m_index = k;
        }
    };
    qint64 reached = 0;
    if (!content_reached(false, &reached)) {
        // No stamp to go by: the previous keyframe at each tick.
        int k = from;
        while (k >= 0 && !m_frames.at(k).keyframe_starts_with_one())
            --k;
        if (k < 0)
            switch_to_previous_file();
        else
            show(k);
        return;
    }
    // The first keyframe at or after the time reached, going back; as forward, mirrored.
    int pending = -1;
    const qint64 previous = from + 1 < size ? m_frames.at(from + 1).absolute_ms() : -1;
    const int due = due_keyframe(false, from, previous, reached, &pending);
    if (due >= 0)
        show(due);
    else if (pending >= 0)
        m_index = pending + 1;
    else
        switch_to_previous_file();
}

void ZQStreamReadAndControl::step_forward()
{
    const int size = int(m_frames.size());
    const int t = m_lastReadIndex + 1;
    if (t >= 0 && t < size) {
        int j = 0;
        while (j < size && !m_frames.at(j).keyframe_starts_with_one())
            ++j;
        if (j < size) {
            const int e = qMax(j, t);
            int k = e;
            while (k > 0 && !m_frames.at(k).keyframe_starts_with_one())
                --k;
            decode_up_to(k, e, false);
            m_index = e + 1;
            return;
        }
        const QFileInfo next = get_next_file();
        if (next.filePath().isEmpty() || check_next_prefetch(next)) {
            switch_file(true, true);
        } else {
            reset_forward_prefetch();
            start_prefetch(m_forward, m_currentPos + 1, m_streamId);
        }
        return;
    }

    const QFileInfo next = get_next_file();
    if (next.filePath().isEmpty()) {
        zlog(QStringLiteral("[INFO] next step :: end of list reached"));
        return;
    }
    if (!check_next_prefetch(next)) {
        reset_forward_prefetch();
        start_prefetch(m_forward, m_currentPos + 1, m_streamId);
        zlog(QStringLiteral("[INFO] next step :: prefetch restarted for expected next: ") + next.fileName());
        return;
    }
    if (!m_forward.future.isFinished()) {
        zlog(QStringLiteral("[DBG] next step :: prefetch consistent but not finished yet"));
        return;
    }
    const ZQSeekLoad load = result_of(m_forward);
    if (load.frames.isEmpty()) {
        // Nothing to play in that file: look further, as the timer would.
        switch_file(true, true);
        return;
    }
    const QFileInfo target = m_forward.target;
    take_file(m_forward.targetPos, target, load.frames, load.info.streams);
    m_index = 0;
    m_waitForKeyframe = false;
    zlog(QStringLiteral("[INFO] next step :: switched to next (prefetched): ") + target.fileName());
    reset_forward_prefetch();
    triggerPrefetch(m_streamId);
    queue_tick(true, true);
}

void ZQStreamReadAndControl::step_backward()
{
    const int size = int(m_frames.size());
    // One past the end marks a file just entered from its successor: the step
    // then shows its last entry.
    m_index = qBound(0, m_lastReadIndex, size);
    bool noKeyframe = false;
    if (m_index > 0) {
        const int t = m_index - 1;
        int k = t;
        while (k >= 0 && !m_frames.at(k).keyframe_starts_with_one())
            --k;
        if (k >= 0) {
            decode_up_to(k, t, true);
            m_index = t;
            return;
        }
        noKeyframe = true;
    }

    const QFileInfo previous = get_previous_file();
    if (previous.filePath().isEmpty()) {
        zlog(noKeyframe ? QStringLiteral("[INFO] prev step :: no previous file (no KF before target)")
                        : QStringLiteral("[INFO] prev step :: start of list reached"));
        return;
    }
    if (!check_prev_prefetch(previous)) {
        reset_backward_prefetch();
        start_prefetch(m_backward, m_currentPos - 1, m_streamId);
        if (!noKeyframe)
            zlog(QStringLiteral("[INFO] prev step :: prefetch restarted for expected prev: ") + previous.fileName());
        return;
    }
    if (!m_backward.future.isFinished()) {
        zlog(noKeyframe ? QStringLiteral("[DBG] prev step :: prefetch consistent but not finished (no KF before target)")
                        : QStringLiteral("[DBG] prev step :: prefetch consistent but not finished yet"));
        return;
    }
    const ZQSeekLoad load = result_of(m_backward);
    if (load.frames.isEmpty()) {
        switch_file(false, true);
        return;
    }
    const QFileInfo target = m_backward.target;
    take_file(m_backward.targetPos, target, load.frames, load.info.streams);
    m_index = int(m_frames.size()) - 1;
    m_waitForKeyframe = false;
    zlog(noKeyframe ? QStringLiteral("[INFO] prev step :: switched to previous (prefetched, no KF before target)")
                    : QStringLiteral("[INFO] prev step :: switched to previous (prefetched): ") + target.fileName());
    reset_backward_prefetch();
    triggerPrefetchPrev(m_streamId);
    queue_tick(false, true);
}
