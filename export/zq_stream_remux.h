#pragma once

#include <QObject>
#include <QString>

// Puts an already coded elementary stream (a local file of raw coded frames, or an http or https
// location) into the container the output path's extension names, without re-encoding: packets
// get fresh, evenly spaced timestamps at the given frame rate. On success the output is renamed to
// its final path and a local input deleted.
//
// An https location is read with its certificate and host name verified, against the system's
// authorities or the file given to set_ca_file(), and over https only: its redirects are followed
// (by libcurl, with the same checks) only while they stay on https, a redirect off https ends the
// remux before anything is asked over plain http, and a redirect in answer to a later request (a
// seek) is not followed. Other protocols are refused, also for what the input itself names (a
// playlist's entries are opened under the same rules). A local input is one file and names nothing:
// whatever it would open besides itself is refused.
class ZQStreamRemux : public QObject
{
    Q_OBJECT
public:
    ZQStreamRemux();
    ~ZQStreamRemux() override;

    // PEM file of the authorities trusted for https locations, in place of the system's; empty:
    // the system's.
    void set_ca_file(const QString& path) { m_ca_file = path; }
    // Longest wait for a connection or for data of a network location, and for the whole request
    // that follows the redirects of an https one.
    void set_timeout_ms(int ms) { m_timeout_ms = ms; }
    // The demuxer the input is read with, by FFmpeg's name: for a file of raw coded frames the
    // codec's own ("h264", "hevc", "mjpeg", "m4v"), so that its content cannot choose another.
    // Empty: chosen by FFmpeg from the content.
    void set_input_format(const QString& name) { m_input_format = name; }

    // 0 on success; 1 on a failure while reading, writing or renaming (the input is kept, and a
    // file that was at the final path before stays as it was: the output replaces it in one
    // rename); -15 to -21 for the set-up failures (export error codes).
    // Blanks of the final path's file name become "_"; "&zqmultipart=1" is removed from the input.
    // A frame rate that is not finite or not above 0 is refused (-15), as is an input that yields
    // no packet (1).
    int remux_url(QString input, QString output_path, QString final_path, double fps);

    // The final path as the remuxer writes it: blanks of the file name replaced by "_".
    static QString final_path_for(const QString& final_path);

private:
    QString m_ca_file;
    QString m_input_format;
    int m_timeout_ms = 30000;
};
