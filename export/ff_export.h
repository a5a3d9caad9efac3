#pragma once

#include "playback/media_frame_queue.h"

#include <QFileInfo>
#include <QHash>
#include <QList>
#include <QMutex>
#include <QPair>
#include <QString>
#include <QThread>
#include <atomic>

class ZQAudioVideoFileReader;

// Re-encodes a time range of one camera into a video file. run() owns the
// export reader: it creates it, feeds the encoder from the front of the shared
// queue from the first keyframe on, and stops, waits for and deletes it.
//
// Exactly one terminal signal per run: endingsignal() after a clean end or a
// stop (the file then holds what was encoded; a stop before the first encoded
// picture leaves no file), or error(code): -10 the range held nothing to
// encode, -14 the recordings could not be read, -4 the file could not be
// written, -6/-8/-9 (encoder, container, output file) or -5 at set-up. After an
// error no file is left under the target name.
class ff_export : public QThread
{
    Q_OBJECT
public:
    ff_export();
    // Stops and waits for the run, then frees what is left in the queue.
    ~ff_export() override;

    bool init(const QString& outputPath, const QString& codecName, int bitRate, int unused1, int unused2, bool band,
              const QString& bandSize);
    void set_files(const QList<QFileInfo>& files) { m_files = files; }
    void set_begin(const QString& begin) { m_begin = begin; }
    void set_end(const QString& end) { m_end = end; }
    void set_stream_id(const QString& stream) { m_stream = stream; }
    void set_camera_table(const QHash<int, QString>& cameras) { m_cameras = cameras; }

    QString output_path() const { return m_outputPath; }
    int frames_encoded() const { return m_encoded.load(); }
    // The last run ended on set_stop() rather than at the end of the range.
    bool stopped() const { return m_stopped.load(); }
    // After the run: the parts of the range that had no readable picture, as
    // "Aucune image de HH:mm:ss.zzz à HH:mm:ss.zzz[, de ... à ...]", or empty
    // when pictures cover the whole range. Damaged or empty recordings are
    // passed over so that the rest is still exported; this says what is missing.
    QString missing_text() const;
    // Most pictures the queue held at once during the run.
    int peak_queue() const { return m_peakQueue.load(); }

signals:
    void valueChanged(int percent);
    void endingsignal();
    void error(int code);
    void frame_downloaded_encoded(QString currentTimestamp, QString endTimestamp);

public slots:
    // Any thread: only sets flags; the run stops at its next check.
    void set_stop();

protected:
    void run() override;

private:
    MediaFrameQueue m_queue;
    std::atomic<bool> m_done{false};
    std::atomic<bool> m_stopped{false};
    bool m_band = true;
    QString m_outputPath;
    QString m_codecName;
    QString m_bandSize;
    int m_bitRate = 0;
    QList<QFileInfo> m_files;
    QString m_begin;
    QString m_end;
    QString m_stream;
    QHash<int, QString> m_cameras;
    // Holes of at least this long in the pictures' times are reported.
    static constexpr qint64 kHoleMs = 1000;
    // Time of day from..to of each hole (the first few), and how many there were.
    struct Holes
    {
        QList<QPair<qint64, qint64>> listed;
        int count = 0;
        void add(qint64 fromMs, qint64 toMs);
    };
    mutable QMutex m_holesMutex;
    Holes m_holes;
    std::atomic<int> m_encoded{0};
    std::atomic<int> m_peakQueue{0};
};
