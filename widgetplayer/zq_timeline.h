#pragma once

#include <QList>
#include <QPointer>
#include <QString>
#include <QTime>
#include <QVector>
#include <QWidget>

#include <array>

#include "recordings/zq_frame.h"

class QLabel;
class ZQTag;

// One hour of the day of one camera: the minutes that hold recording in red,
// the camera's tags of that hour as green markers; a left click reports the
// time under the pointer.
class ZQTimeline : public QWidget
{
    Q_OBJECT
public:
    ZQTimeline(const QString& span_label, QWidget* parent = nullptr);
    ~ZQTimeline() override;

    void add_minutes(int start, int count);
    void remove_minutes(int start, int count);
    void clear();
    void set_minutes_from_frames(const QList<ZQFrame>& frames);
    void insert_tags(const QList<ZQTag*>& tags, int camera_id);
    void set_label(QLabel* label);
    void set_camera_id(int id) { m_camera_id = id; }

    int camera_id() const { return m_camera_id; }
    bool minute(int m) const { return m >= 0 && m < 60 && m_minutes[m]; }
    QList<ZQTag*> tags() const { return m_tags; }
    QString span_label() const { return m_span; }
    QString current_label_text() const { return m_current_label_text; }
    // Start and end of the span as times of day in ms (end 24:00 for the last row).
    qint64 span_start_ms() const { return m_start_ms; }
    qint64 span_end_ms() const { return m_end_ms; }
    // Time of day of x on a row `width` px wide: the hour's start plus x * 3600 / width seconds,
    // clamped to the hour.
    QTime time_at(int x, int width) const;
    // x of minute m on a row `width` px wide, and the width of one minute cell (at least 1 px).
    static int minute_x(int m, int width) { return width * m / 60; }
    static int minute_width(int width) { return qMax(1, int(width * 1.3 / 60.0)); }

signals:
    void clicked(QString time, int camera_id);

protected:
    bool event(QEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void reset_label();

    std::array<int, 60> m_minutes{};
    QPointer<QLabel> m_label;
    QString m_label_text;
    QString m_current_label_text;
    int m_camera_id = -1;
    QList<ZQTag*> m_tags;
    // Marker x and width of each tag, as last painted (kept here, not in the shared tags).
    QVector<QPair<int, int>> m_markers;
    QString m_span;
    qint64 m_start_ms = -1;
    qint64 m_end_ms = -1;
};
