#pragma once

#include <QList>
#include <QSlider>
#include <QString>
#include <QTime>
#include <QVector>

#include <array>

#include "recordings/zq_frame.h"

class ZQTag;

// The day slider: one position per minute of the day (00:00 to 23:59), the
// minutes that hold recording painted red over the groove, the camera's tags
// as green markers.
class ZQSlidertimeline : public QSlider
{
    Q_OBJECT
public:
    static constexpr int kMinutes = 1440;
    static constexpr int kMargin = 12;

    explicit ZQSlidertimeline(QWidget* parent = nullptr);
    ~ZQSlidertimeline() override;

    void add_minutes(int start, int count);
    void remove_minutes(int start, int count);
    void clear();
    void set_minutes_from_frames(const QList<ZQFrame>& frames);
    void check_and_add_tags(const QList<ZQTag*>& tags, int camera_id);
    void set_camera_id(int id) { m_camera_id = id; }

    int camera_id() const { return m_camera_id; }
    bool minute(int i) const { return i >= 0 && i < kMinutes && m_minutes[i]; }
    QList<ZQTag*> tags() const { return m_tags; }
    QString current_time_text() const { return m_current_time; }
    // The one x-to-minute mapping of painting and pressing, on the groove's rectangle.
    QRect groove_rect() const;
    static int minute_x(int minute, const QRect& groove);
    static int minute_width(const QRect& groove);
    static int minute_at(int x, const QRect& groove);
    // "HH:mm:00" of a slider value.
    static QString time_text_of_value(int value);

signals:
    void change_value(QString time, int camera_id);
    void slider_move(QTime time);

public slots:
    void setValue(int value, QString timestamp);
    void get_value_changed(int value);
    void release();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    std::array<int, kMinutes> m_minutes{};
    int m_camera_id = -1;
    QString m_current_time;
    QList<ZQTag*> m_tags;
    QVector<QPair<int, int>> m_markers;
    QString m_span = QStringLiteral("00:00:00 - 23:59:59");
};
