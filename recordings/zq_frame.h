#pragma once

#include <QDate>
#include <QExplicitlySharedDataPointer>
#include <QList>
#include <QSharedData>
#include <QString>
#include <QtGlobal>

// The texts of a seek-index line that repeat from line to line within one
// recording (stream, codec, picture size, keyframe flag, data file, camera,
// kind). The parser shares one instance between every record that carries the
// same texts, which keeps a one-hour frame index small.
struct ZQFrameTexts : public QSharedData
{
    QString stream;
    QString codec;
    QString extra;
    QString keyframe;
    QString dataFile;
    QString cameraName;
    QString kind;
    QString timestamp; // only for a timestamp that is not 17 digits
};

// One line of a seek index: one coded frame of a recording. Copied by value and
// kept in QList<ZQFrame>, the frame index of one recording file.
class ZQFrame
{
public:
    ZQFrame() = default;
    explicit ZQFrame(const QExplicitlySharedDataPointer<ZQFrameTexts>& texts) : d(texts) {}
    ZQFrame(const ZQFrame&) = default;
    ZQFrame(ZQFrame&&) noexcept = default;
    ZQFrame& operator=(const ZQFrame&) = default;
    ZQFrame& operator=(ZQFrame&&) noexcept = default;
    ~ZQFrame() = default;

    QString get_timestamp() const;
    QString get_stream() const { return d ? d->stream : QString(); }
    QString get_codec() const { return d ? d->codec : QString(); }
    QString get_extra() const { return d ? d->extra : QString(); }
    QString get_keyframe() const { return d ? d->keyframe : QString(); }
    QString get_data_file() const { return d ? d->dataFile : QString(); }
    QString get_camera_name() const { return d ? d->cameraName : QString(); }
    QString get_kind() const { return d ? d->kind : QString(); }
    int get_in_range() const { return m_in_range; }
    qint64 get_size() const { return m_size; }
    qint64 get_offset() const { return m_offset; }

    void set_timestamp(const QString& timestamp);
    void set_stream(const QString& stream);
    void set_codec(const QString& codec);
    void set_extra(const QString& extra);
    void set_keyframe(const QString& keyframe);
    void set_data_file(const QString& dataFile);
    void set_camera_name(const QString& cameraName);
    void set_kind(const QString& kind);
    void set_in_range(int inRange) { m_in_range = inRange; }
    void set_size(qint64 size) { m_size = size; }
    void set_offset(qint64 offset) { m_offset = offset; }

    // Keyframe tests: the keyframe text contains "1", or starts with "1".
    bool keyframe_contains_one() const;
    bool keyframe_starts_with_one() const;

    // The timestamp read from its digits ("yyyyMMddHHmmsszzz"); invalid
    // results (QDate(), -1) when the record holds no valid timestamp.
    bool has_valid_timestamp() const;
    QDate date() const;
    qint64 time_of_day_ms() const;
    // Milliseconds since 0001-01-01 00:00:00.000 of a proleptic day count,
    // independent of any time zone; -1 without a valid timestamp. Differences
    // of two values are exact time differences.
    qint64 absolute_ms() const;

    // Used by the parser: the packed 17-digit timestamp (see seek_index.cpp).
    void set_packed_timestamp(quint64 digits) { m_stamp = digits; m_hasStamp = true; }
    quint64 packed_timestamp() const { return m_stamp; }
    bool has_packed_timestamp() const { return m_hasStamp; }

private:
    void detach_texts();

    QExplicitlySharedDataPointer<ZQFrameTexts> d;
    quint64 m_stamp = 0;
    // -1 in a record that no seek-index line filled.
    qint64 m_size = -1;
    qint64 m_offset = -1;
    int m_in_range = 0;
    bool m_hasStamp = false;
};

Q_DECLARE_TYPEINFO(ZQFrame, Q_RELOCATABLE_TYPE);
