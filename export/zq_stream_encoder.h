#pragma once

#include <QList>
#include <QObject>
#include <QString>
#include <map>

extern "C" {
#include <libavutil/avutil.h>
#include <libavutil/rational.h>
}

#include <QMap>

struct AVCodecContext;
struct AVFormatContext;
struct AVFrame;
struct AVPacket;
struct AVStream;
struct SwsContext;
class QDateTime;
class QIODevice;

// Turns decoded pictures into a video file: an encoder chosen by name, the
// container guessed from the output path, an optional band with the frame's
// date and time burnt into the top of each picture.
//
// The file is written under a temporary name beside the target and gets its
// final name only at a clean end (end_encoding); a failed or abandoned output
// is removed. Call order: init_encoder once, encode_frame per picture,
// end_encoding once after a successful init_encoder, destroy.
class ZQStreamEncoder : public QObject
{
    Q_OBJECT
public:
    ZQStreamEncoder();
    ~ZQStreamEncoder() override;

    // fps: frames per second of the pictures (a rational is derived from it;
    // outside 1..120 or unknown gives 25). width, height and the pixel format
    // are those of the first picture; a 4:2:0 output rounds the size down to
    // even. bandSize: "small", "normal", "large", "extralarge" (else the
    // painter's default size). On failure the object is safe to destroy and
    // last_error() holds -6 (encoder), -8 (container), -9 (output file), -4
    // (header) or 0 (no code: unknown codec name, allocation failure).
    bool init_encoder(const QString& outputPath, const QString& codecName, int bitRate, double fps, int width,
                      int height, bool band, const QString& bandSize, int sourcePixelFormat);

    // Encodes one picture (any size and pixel format: each is scaled to the
    // output). The presentation time comes from the timestamp
    // ("yyyyMMddHHmmsszzz") rebased to the first encoded picture, so gaps stay
    // gaps and a change of rate keeps the clock: containers that carry
    // variable rates get millisecond times; a fixed-rate output (AVI, bare
    // streams) is resampled to its rate, a picture whose slot is taken being
    // dropped (true is returned) and a hole being left to the container's
    // repeat. An unreadable timestamp follows the previous picture by one
    // period, as does the given pts when nothing else is known. False for a
    // refused picture or a failed send or write (write_failed() then tells the
    // output is lost).
    bool encode_frame(const AVFrame* picture, int width, int height, const QString& timestamp,
                      const QString& overlay, qint64 pts);
    // Raw writer: with all three of dataFile, indexFile and lineTime given,
    // each packet goes to dataFile and one seek-index line per packet to
    // indexFile ("time:video1:frame/<codec>:WxH:key:size"), instead of the
    // container. lineTime is the running time of the lines: each line carries
    // the timestamp of the earliest picture not given a line yet, so that the
    // times rise from line to line even where the codec reorders pictures.
    // With any of the three null, the container form above.
    bool encode_frame(const AVFrame* picture, int width, int height, const QString& timestamp,
                      const QString& overlay, qint64 pts, QIODevice* dataFile, QIODevice* indexFile,
                      QDateTime* lineTime);
    // The raw writer's codec word of an index line ("frame/h264", ...); empty
    // for a codec name without one.
    static QString raw_codec_word(const QString& codecName);

    // Drains the encoder, writes the trailer, closes the file and gives it its
    // final name. False (and error(-4)) when any of it failed: the output is removed.
    bool end_encoding();
    // The same after raw writing: the packets the encoder still holds go to
    // the raw files.
    bool end_encoding(QIODevice* dataFile, QIODevice* indexFile, QDateTime* lineTime);
    // Closes and removes the output without finishing it.
    void abort_encoding();

    bool write_failed() const { return m_writeFailed; }
    int last_error() const { return m_lastError; }
    int frames_encoded() const { return m_framesEncoded; }
    // Pictures passed over because a fixed-rate output had no slot for them.
    int frames_dropped() const { return m_framesDropped; }
    // Times in milliseconds (true) or in periods of frame_rate() (false).
    bool variable_rate() const { return m_variableRate; }
    int font_size() const { return m_fontSize; }
    AVRational frame_rate() const { return m_rate; }
    int output_width() const { return m_width; }
    int output_height() const { return m_height; }
    QString temporary_path() const { return m_tempPath; }

    // The band text of a frame: "[overlay | ]yyyy-MM-dd HH:mm:ss:zzz", or the
    // timestamp unchanged when it does not read as one.
    static QString band_text(const QString& timestamp, const QString& overlay);
    // The frame rate used for fps (clamped 1..120, 25 when unknown).
    static AVRational rate_for(double fps);

signals:
    void error(int code);

private:
    bool fail(int code, const QString& line);
    bool write_packets(bool draining);
    bool paint_band(const QString& timestamp, const QString& overlay);
    void close_output();
    // Raw writer (zq_stream_encoder_raw.cpp).
    struct RawTarget;
    bool write_raw_packet(AVPacket* packet);

    const void* m_encoder = nullptr; // const AVCodec*
    AVCodecContext* m_codecContext = nullptr;
    AVFormatContext* m_formatContext = nullptr;
    AVStream* m_stream = nullptr;
    SwsContext* m_mainScaler = nullptr;
    SwsContext* m_bandScaler = nullptr;
    AVFrame* m_encoderFrame = nullptr;
    AVPacket* m_packet = nullptr;
    QString m_codecName;
    QString m_outputPath;
    QString m_tempPath;
    bool m_band = true;
    int m_fontSize = -1;
    int m_bitRate = -1;
    int m_width = -1;
    int m_height = -1;
    int m_encoderPixelFormat = -1;
    AVRational m_rate{25, 1};
    qint64 m_firstMs = -1;
    qint64 m_lastPts = -1;
    // Duration of each picture sent, by its pts, known once the next one is
    // sent: packets get their own span.
    std::map<qint64, qint64> m_durations;
    // The last intervals between pictures (newest at the back), for the span
    // of a picture whose successor is not known: one frame period, so that
    // the file ends one period after its last picture even when a gap comes
    // before that picture.
    QList<qint64> m_recentIntervals;
    qint64 frame_period_ticks() const;
    // The last packet received is written only when the next one comes (or
    // at the end), so that the stream's final packet can be set to end where
    // the pictures end: with reordering, its decoding time may lag its
    // presentation by a gap, and MP4 takes a stream's length from decoding times.
    AVPacket* m_pending = nullptr;
    qint64 m_startDts = AV_NOPTS_VALUE; // codec time base, first packet written
    qint64 m_lastDts = AV_NOPTS_VALUE;  // of the last packet written
    qint64 m_minPts = AV_NOPTS_VALUE;
    qint64 m_endPts = AV_NOPTS_VALUE;   // latest presentation end
    bool write_container_packet(AVPacket* packet);
    bool flush_pending(bool last);
    bool m_variableRate = false;
    int m_framesEncoded = 0;
    int m_framesDropped = 0;
    int m_lastError = 0;
    bool m_headerWritten = false;
    bool m_writeFailed = false;
    bool m_ended = false;
    // Set only for the length of a raw call.
    RawTarget* m_raw = nullptr;
    // Timestamp of each picture sent in raw mode, by its presentation time,
    // until a line takes it.
    QMap<qint64, QString> m_rawStamps;
};
