#include "tests/support/stream_routes.h"

#include <QUrlQuery>

#include <deque>
#include <memory>

namespace {

// Produces a script's body piece by piece, in the pull form of the server.
class ScriptPlayer
{
public:
    ScriptPlayer(const StreamScript& s, StreamRouteLog* log) : s_(s), log_(log)
    {
        pace_.start();
        const int frames = s_.recording ? int(s_.recording->frames.size()) : 0;
        total_ = s_.count < 0 ? frames - s_.first : qMin(s_.count, frames - s_.first);
        total_ = qMax(0, total_);
        junk_left_ = s_.junk_first;
    }

    // Pull: fills out and returns the delay before the next call, End or Drop.
    int next(QByteArray& out)
    {
        if (junk_left_ > 0) {
            static const QByteArray junk(1 << 20, 'x');
            out = junk.left(int(qMin<qint64>(junk_left_, junk.size())));
            junk_left_ -= out.size();
            return 0;
        }
        if (!pending_.isEmpty()) {
            const int n = qMin<int>(3, pending_.size());
            out = pending_.left(n);
            pending_.remove(0, n);
            if (pending_.isEmpty())
                note_written();
            return 1;
        }
        if (stalled_) {
            out.clear();
            return 100;
        }
        // The parts put before frame part seq_ go out even when the stream
        // stalls, drops or ends there.
        if (before_sent_ != seq_ && s_.before.contains(seq_)) {
            before_sent_ = seq_;
            out.clear();
            for (StreamParts::Part extra : s_.before.value(seq_)) {
                extra.crlf = s_.crlf;
                out += StreamParts::encode(extra);
            }
            return 0;
        }
        const int all = total_ * qMax(1, s_.loops);
        if ((seq_ >= all || !s_.recording) && s_.junk_forever) {
            static const QByteArray junk(1 << 16, 'x');
            out = s_.junk_interval_ms > 0 ? junk.left(1024) : junk;
            return s_.junk_interval_ms;
        }
        if (seq_ >= all || !s_.recording)
            return HttpResponse::End;
        if (s_.stall_after >= 0 && seq_ >= s_.stall_after) {
            stalled_ = true;
            out.clear();
            return 100;
        }
        if (s_.drop_after >= 0 && seq_ >= s_.drop_after)
            return HttpResponse::Drop;
        const qint64 period_ns = 1000000000LL / qMax(1, s_.recording->fps);
        if (s_.realtime) {
            const qint64 due = qint64(seq_) * period_ns;
            const qint64 now = pace_.nsecsElapsed();
            if (due > now) {
                out.clear();
                return qMax(1, int((due - now) / 1000000));
            }
        }
        QByteArray bytes;
        const int index = s_.first + seq_ % qMax(1, total_);
        StreamParts::Part p = StreamParts::frame_part(*s_.recording, index);
        p.crlf = s_.crlf;
        if (!s_.draw_overlay.isEmpty())
            p.draw_overlay = s_.draw_overlay;
        if (s_.edit)
            s_.edit(seq_, p);
        bytes += StreamParts::encode(p);
        current_ = seq_;
        ++seq_;
        if (seq_ <= s_.trickle_parts) {
            pending_ = bytes;
            return next(out);
        }
        out = bytes;
        note_written();
        return 0;
    }

private:
    void note_written()
    {
        if (!log_)
            return;
        QMutexLocker lock(&log_->mutex);
        while (log_->part_ns.size() <= current_)
            log_->part_ns.append(-1);
        if (log_->part_ns[current_] < 0) // the first reply's time is kept
            log_->part_ns[current_] = log_->clock.nsecsElapsed();
    }

    StreamScript s_;
    StreamRouteLog* log_;
    QElapsedTimer pace_;
    int total_ = 0;
    int seq_ = 0;
    int current_ = 0;
    int before_sent_ = -1;
    bool stalled_ = false;
    qint64 junk_left_ = 0;
    QByteArray pending_;
};

} // namespace

void add_stream_route(LoopbackServer& server, const QByteArray& path, const StreamScript& script,
                      StreamRouteLog* log)
{
    server.route("GET", path, [script, log](const HttpRequest& req, HttpResponsePtr res) {
        if (log) {
            QMutexLocker lock(&log->mutex);
            ++log->replies;
        }
        if (script.refuse && script.refuse())
            return res->drop();
        auto answer = [script, log, res, token = req.header("x-auth-token"), query = req.query] {
            if (!script.token.isEmpty() && token != script.token.toUtf8())
                return res->reply(401, "text/plain", "token refused");
            if (script.text_page)
                return res->reply_until_close(200, {{"Content-Type", "text/plain"}},
                                              "stream not available\n--myboundary\nContent-Length: 1\n\nx\n");
            StreamScript from = script;
            if (script.resume_from_starttime && script.recording) {
                const QString start = QUrlQuery(QString::fromUtf8(query)).queryItemValue(QStringLiteral("starttime"));
                const auto& frames = script.recording->frames;
                int i = script.first;
                while (start.size() == 14 && i < frames.size() && frames.at(i).timestamp.left(14) < start)
                    ++i;
                from.first = i;
            }
            auto player = std::make_shared<ScriptPlayer>(from, log);
            res->stream(200, {{"Content-Type", "multipart/x-mixed-replace; boundary=myboundary"}},
                        [player](QByteArray& out) { return player->next(out); }, HttpResponse::UntilClose);
        };
        if (script.delay_ms > 0)
            res->after(script.delay_ms, answer);
        else
            answer();
    });
}

QByteArray stream_script_body(const StreamScript& script)
{
    StreamScript s = script;
    s.realtime = false;
    s.trickle_parts = 0;
    s.stall_after = -1;
    s.junk_forever = false;
    ScriptPlayer player(s, nullptr);
    QByteArray all, piece;
    for (;;) {
        piece.clear();
        const int r = player.next(piece);
        all += piece;
        if (r < 0)
            break;
    }
    return all;
}
