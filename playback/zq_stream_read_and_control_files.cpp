// Playback reader: the file list, switching to the next or previous recording, and the parses
// ahead of those switches.

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

void ZQStreamReadAndControl::start_prefetch(Prefetch& slot, int pos, const QString& streamId)
{
    if (pos < 0 || pos >= m_files.size())
        return;
    reset_prefetch(slot);
    slot.active = true;
    slot.target = m_files.at(pos);
    slot.targetPos = pos;
    slot.stream = streamId;
    slot.cancel = std::make_shared<std::atomic<bool>>(false);
    slot.future = QtConcurrent::run(QThreadPool::globalInstance(), &zq_load_seek_index, slot.target.absoluteFilePath(),
                                    streamId, m_cameras, slot.cancel);
}

void ZQStreamReadAndControl::reset_prefetch(Prefetch& slot)
{
    if (slot.active && !slot.future.isFinished()) {
        if (slot.cancel)
            slot.cancel->store(true);
        // Finished ones need no waiting any more.
        for (qsizetype i = m_abandoned.size() - 1; i >= 0; --i)
            if (m_abandoned.at(i).isFinished())
                m_abandoned.removeAt(i);
        m_abandoned.append(slot.future);
    }
    slot.active = false;
    slot.future = QFuture<ZQSeekLoad>();
    slot.target = QFileInfo();
    slot.targetPos = -1;
    slot.cancel.reset();
}

void ZQStreamReadAndControl::triggerPrefetch(const QString& streamId)
{
    if (m_currentPos < 0 || m_currentPos + 1 >= m_files.size())
        return;
    zlog(QStringLiteral("[DEBUG] Triggering prefetch for: ") + m_files.at(m_currentPos + 1).fileName());
    start_prefetch(m_forward, m_currentPos + 1, streamId);
}

void ZQStreamReadAndControl::triggerPrefetchPrev(const QString& streamId)
{
    if (m_currentPos <= 0 || m_currentPos >= m_files.size())
        return;
    start_prefetch(m_backward, m_currentPos - 1, streamId);
}

void ZQStreamReadAndControl::reset_forward_prefetch()
{
    zlog(kName + QStringLiteral("reset Forward Prefetch"));
    reset_prefetch(m_forward);
}

void ZQStreamReadAndControl::reset_backward_prefetch()
{
    zlog(kName + QStringLiteral("reset backward Prefetch"));
    reset_prefetch(m_backward);
}

bool ZQStreamReadAndControl::check_next_prefetch(const QFileInfo& expected) const
{
    if (!m_forward.active) {
        zlog(QStringLiteral("[DBG] next step :: prefetch invalid"));
        return false;
    }
    if (!expected.filePath().isEmpty() && expected.absoluteFilePath() == m_forward.target.absoluteFilePath()
        && m_forward.stream == m_streamId)
        return true;
    zlog(QStringLiteral("[WARN] next step :: prefetch target mismatch: expected=") + expected.fileName()
         + QStringLiteral(" got=") + m_forward.target.fileName());
    return false;
}

bool ZQStreamReadAndControl::check_prev_prefetch(const QFileInfo& expected) const
{
    if (!m_backward.active) {
        zlog(QStringLiteral("[DBG] prev step :: prefetch invalid"));
        return false;
    }
    if (!expected.filePath().isEmpty() && expected.absoluteFilePath() == m_backward.target.absoluteFilePath()
        && m_backward.stream == m_streamId)
        return true;
    zlog(QStringLiteral("[WARN] prev step :: prefetch target mismatch: expected=") + expected.fileName()
         + QStringLiteral(" got=") + m_backward.target.fileName());
    return false;
}

bool ZQStreamReadAndControl::is_forward_prefetch_finished() const
{
    return m_forward.active && m_forward.future.isFinished();
}

bool ZQStreamReadAndControl::is_backward_prefetch_finished() const
{
    return m_backward.active && m_backward.future.isFinished();
}

void ZQStreamReadAndControl::wait_for_prefetches()
{
    if (m_forward.active)
        m_forward.future.waitForFinished();
    if (m_backward.active)
        m_backward.future.waitForFinished();
    for (QFuture<ZQSeekLoad>& f : m_abandoned)
        f.waitForFinished();
    m_abandoned.clear();
}

QFileInfo ZQStreamReadAndControl::get_next_file() const
{
    if (m_currentPos >= 0 && m_currentPos + 1 < m_files.size())
        return m_files.at(m_currentPos + 1);
    return QFileInfo();
}

QFileInfo ZQStreamReadAndControl::get_previous_file() const
{
    if (m_currentPos > 0 && m_currentPos - 1 < m_files.size())
        return m_files.at(m_currentPos - 1);
    return QFileInfo();
}

void ZQStreamReadAndControl::take_file(int pos, const QFileInfo& file, const QList<ZQFrame>& frames,
                                       const QStringList& streams)
{
    // Where reading leaves the old recording and enters the new one.
    const bool forward = pos > m_currentPos;
    const qint64 left =
        m_frames.isEmpty() ? -1 : (forward ? m_frames.constLast() : m_frames.constFirst()).absolute_ms();
    m_currentPos = pos;
    m_currentFile = file;
    m_frames = frames;
    // Nothing of the new recording has been shown yet: the last read entry stands just before
    // its first entry (forward) or just after its last (backward), so that a step made before
    // the first tick shows a picture there (a fast rate may still be passing the time between
    // the two recordings) starts at that end, not at an entry number of the recording left.
    m_lastReadIndex = forward ? -1 : int(m_frames.size());
    // Each recording plays at its own rate from its first picture.
    take_frame_rate();
    const qint64 entered =
        m_frames.isEmpty() ? -1 : (forward ? m_frames.constFirst() : m_frames.constLast()).absolute_ms();
    // The time between two recordings is passed at once at the fast rates too; recordings that
    // follow each other keep the content clock going.
    if (m_contentAnchored && left >= 0 && entered >= 0 && std::abs(entered - left) > recording_pause_ms())
        shift_content_clock(entered - left);
    close_data_file();
    jumped();
    init_audio_and_start(file); // audio hook: every recording taken, its own switches included
    if (!streams.isEmpty())
        offer_streams(streams);
}

void ZQStreamReadAndControl::offer_streams(const QStringList& streams, qint64 unlisted_lines)
{
    qsizetype dropped = 0;
    const QStringList kept = plausible_stream_ids(streams, &dropped);
    const QString file = m_currentFile.absoluteFilePath();
    if ((dropped > 0 || unlisted_lines > 0) && m_streamsTrimmedFor != file) {
        m_streamsTrimmedFor = file;
        zlog(QStringLiteral("[WARN] ZQStream read & control :: %1 stream ids of %2 not offered (at most %3 short numbers)")
                 .arg(dropped)
                 .arg(file)
                 .arg(kMaxOfferedStreams)
             + (unlisted_lines > 0 ? QStringLiteral(", %1 lines of further streams skipped").arg(unlisted_lines)
                                   : QString()));
    }
    emit send_available_videostream(kept);
}

ZQSeekLoad ZQStreamReadAndControl::result_of(const Prefetch& slot)
{
    if (slot.future.isCanceled() || slot.future.resultCount() == 0)
        return ZQSeekLoad();
    return slot.future.result();
}

ZQSeekLoad ZQStreamReadAndControl::load_for_switch(const QFileInfo& file, const QString& direction)
{
    zlog(kName + direction + QStringLiteral(" :: synchronously loading: ") + file.fileName());
    ZQSeekLoad load = zq_load_seek_index(file.absoluteFilePath(), m_streamId, m_cameras, nullptr);
    const QString detected = load.info.detectedStream;
    if (load.frames.isEmpty() && !detected.isEmpty() && detected != m_streamId) {
        zlog(kName + direction + QStringLiteral(" :: requested stream '") + m_streamId
             + QStringLiteral("' not found, retry with detected '") + detected + QStringLiteral("'"));
        load = zq_load_seek_index(file.absoluteFilePath(), detected, m_cameras, nullptr);
        if (!load.frames.isEmpty()) {
            // The other stream is played from here on; a load ahead for the
            // old one is of no use.
            m_streamId = detected;
            reset_prefetch(m_forward);
        }
    }
    return load;
}

void ZQStreamReadAndControl::switch_to_next_file()
{
    switch_file(true);
}

void ZQStreamReadAndControl::switch_to_previous_file()
{
    switch_file(false);
}

void ZQStreamReadAndControl::switch_file(bool forward, bool fromStep)
{
    const QString dir = forward ? QStringLiteral("next") : QStringLiteral("prev");
    const int step = forward ? 1 : -1;
    Prefetch& ahead = forward ? m_forward : m_backward;
    // Takes a loaded recording: forward it is read from its first entry, backward from its last.
    auto take = [&](int pos, const QFileInfo& file, const ZQSeekLoad& load) {
        take_file(pos, file, load.frames, load.info.streams);
        m_index = forward ? 0 : int(m_frames.size()) - 1;
    };
    auto read_on = [&] {
        if (forward) {
            reset_forward_prefetch();
            triggerPrefetch(m_streamId);
        } else {
            reset_backward_prefetch();
            triggerPrefetchPrev(m_streamId);
        }
        // A switch a frame step asked for goes on as that step, showing the new recording's
        // first (last) picture: a timer tick there would go by the rate, and at the fast rates
        // by the content clock, which counts the time spent paused before the step.
        queue_tick(forward, fromStep);
    };

    zlog(kName + (forward ? QStringLiteral("next :: end reached, checking next prefetch...")
                          : QStringLiteral("prev :: begin reached, checking prev prefetch...")));
    if (ahead.active && ahead.future.isFinished() && ahead.targetPos == m_currentPos + step
        && m_currentPos >= (forward ? 0 : 1) && ahead.stream == m_streamId) {
        const ZQSeekLoad load = result_of(ahead);
        if (!load.frames.isEmpty()) {
            const QFileInfo target = ahead.target;
            take(ahead.targetPos, target, load);
            zlog(kName + dir
                 + (forward ? QStringLiteral(" :: switching to next file (prefetched): ")
                            : QStringLiteral(" :: switching to previous file (prefetched): "))
                 + target.fileName());
            read_on();
            return;
        }
    }
    if (forward && m_currentPos < 0) {
        zlog(QStringLiteral("[WARN] ZQStream read & control :: next :: current file not found in list"));
        end_reading();
        return;
    }
    if (forward ? m_currentPos >= m_files.size() - 1 : m_currentPos <= 0) {
        zlog(kName + (forward ? QStringLiteral("next :: end of list reached")
                              : QStringLiteral("prev :: no previous file available (start of list reached)")));
        end_reading();
        return;
    }
    for (int p = m_currentPos + step; p >= 0 && p < m_files.size(); p += step) {
        const QFileInfo f = m_files.at(p);
        const ZQSeekLoad load = load_for_switch(f, dir);
        if (load.frames.isEmpty())
            continue;
        take(p, f, load);
        zlog(kName + dir
             + (forward ? QStringLiteral(" :: switched to next file (sync): ")
                        : QStringLiteral(" :: switched to previous file (sync): "))
             + f.fileName() + QStringLiteral(" (stream=") + m_streamId + QStringLiteral(")"));
        read_on();
        return;
    }
    zlog(forward ? QStringLiteral("[WARN] ZQStream read & control :: next :: no usable next file found (sync fallback failed)")
                 : QStringLiteral("[WARN] ZQStream read & control :: prev :: no usable previous file found (sync fallback failed)"));
    end_reading();
}
