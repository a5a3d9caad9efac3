// The tile's own server stream: the display-and-buffer thread and its client.

#include "app/zq_log.h"
#include "view/canvas.h"
#include "view/new_display_thread.h"

void Canvas::start_stream_display()
{
    // One display thread per tile: an earlier one is let go.
    if (display_thread) {
        new_display_thread* old = display_thread;
        display_thread = nullptr;
        release_display_thread(old);
    }
    auto* t = new new_display_thread(nullptr);
    display_thread = t;
    t->set_skip_decoding(false);
    t->buffer_duration_ms = buffer_size_in_ms;
    t->name = name;
    t->set_scale_algorithm(scale_algorithm);
    t->set_trusted_certificates(trusted_certificates);

    connect(t, &new_display_thread::streamparser_error, this, &Canvas::checkend);
    connect(t, &new_display_thread::set_codec_size, this, &Canvas::setup_codecSize);
    connect(t, &new_display_thread::send_displayError, this, &Canvas::displayError);
    connect(t, &new_display_thread::send_streamparser_speed, this, &Canvas::speed_receive);
    connect(t, &new_display_thread::send_streamparser_scaler_dewrap, this, &Canvas::setup_scaler_dewrap);
    connect(t, &new_display_thread::send_streamparser_stop_buffering, this, &Canvas::stop_buffering);
    connect(t, &new_display_thread::set_display_frame, this, &Canvas::displayFrame);
    connect(t, &new_display_thread::send_status_message, this, &Canvas::send_status_message);
    connect(t, &new_display_thread::send_buffering, this, &Canvas::buffering);
    connect(t, &new_display_thread::error, this, &Canvas::checkEnding);
    connect(this, &Canvas::send_duration, t, &new_display_thread::get_duration, Qt::DirectConnection);
    connect(this, &Canvas::replay_frame_displayed, t, &new_display_thread::get_replay_frame_displayed,
            Qt::DirectConnection);
    connect(this, &Canvas::display_pause, t, &new_display_thread::set_pause);
    connect(this, &Canvas::display_start, t, [t] {
        if (t->buffer_duration_ms > 0) {
            if (!t->isRunning())
                t->start();
        } else {
            t->start_stream_parser();
        }
    });
    connect(this, &Canvas::display_stop, t, &new_display_thread::set_stop);
    connect(this, &Canvas::display_show, t, &new_display_thread::get_display_show);
    connect(this, &Canvas::display_hidden, t, &new_display_thread::get_display_hidden);
    connect(t, &new_display_thread::can_delete, this, &Canvas::delete_display_thread);

    const bool buffered = buffer_size_in_ms > 0 && !codec.toLower().contains(QLatin1String("mjpeg"));
    if (!buffered) {
        t->buffer_duration_ms = 0;
        buffer_size_in_ms = 0;
        log_info(QStringLiteral("set buffer size to ") + QString::number(buffer_size_in_ms));
    }
    t->init_stream_parser(stream_scheme, stream_host, stream_port, stream_extra, stream_path, only_object_frames,
                          codec.toLower(), loop, proxy_host, proxy_port, use_proxy, access_token);
    if (buffered)
        t->start();
    else
        t->start_stream_parser();
}

void Canvas::release_display_thread(new_display_thread* t)
{
    // Stopped here and deleted once both of its threads have ended, which it
    // tells by can_delete: neither destroyed while it runs nor waited for on
    // this thread, so a stream that stalls holds up neither the tile's end
    // nor its window. The tile may be gone by then.
    disconnect(t, nullptr, this, nullptr);
    disconnect(this, nullptr, t, nullptr);
    connect(t, &new_display_thread::can_delete, t, [t] { delete_when_finished(t); });
    t->set_stop();
}

void Canvas::end_stream_display()
{
    if (!display_thread)
        return;
    new_display_thread* t = display_thread;
    display_thread = nullptr;
    release_display_thread(t);
}
