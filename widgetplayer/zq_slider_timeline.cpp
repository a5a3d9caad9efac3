#include "widgetplayer/zq_slider_timeline.h"

#include "app/zq_log.h"
#include "recordings/time_text.h"
#include "recordings/zq_tag.h"

#include <QMouseEvent>
#include <QPainter>
#include <QStyleOptionSlider>
#include <QToolTip>

namespace {

int tag_minute(const ZQTag* tag)
{
    QDate d;
    qint64 ms = -1;
    if (!TimeText::parse_yyyymmddhhmmss(tag->get_datetime(), &d, &ms))
        return -1;
    return int(ms / 60000);
}

} // namespace

ZQSlidertimeline::ZQSlidertimeline(QWidget* parent) : QSlider(parent)
{
    setOrientation(Qt::Horizontal);
    setMinimum(0);
    setMaximum(kMinutes - 1);
    connect(this, &QSlider::valueChanged, this, &ZQSlidertimeline::get_value_changed);
    connect(this, &QSlider::sliderReleased, this, &ZQSlidertimeline::release);
}

ZQSlidertimeline::~ZQSlidertimeline() = default;

void ZQSlidertimeline::add_minutes(int start, int count)
{
    for (int i = start; i < start + count; ++i)
        if (i >= 0 && i < kMinutes)
            m_minutes[i] = 1;
}

void ZQSlidertimeline::remove_minutes(int start, int count)
{
    for (int i = start; i < start + count; ++i)
        if (i >= 0 && i < kMinutes)
            m_minutes[i] = 0;
}

void ZQSlidertimeline::clear()
{
    m_minutes.fill(0);
}

void ZQSlidertimeline::set_minutes_from_frames(const QList<ZQFrame>& frames)
{
    int previous = -1;
    for (const ZQFrame& f : frames) {
        QDate d;
        qint64 ms = -1;
        if (!TimeText::parse_yyyymmddhhmmsszzz(f.get_timestamp(), &d, &ms))
            continue;
        const int i = int(ms / 60000);
        if (i != previous && i >= 0 && i < kMinutes) {
            m_minutes[i] = 1;
            previous = i;
        }
    }
}

void ZQSlidertimeline::check_and_add_tags(const QList<ZQTag*>& tags, int camera_id)
{
    ZQLog::log("[INFO] ZQSlidertimeline :: check_and_add_tags");
    m_tags.clear();
    const QString cam = QString::number(camera_id);
    for (ZQTag* tag : tags) {
        if (!tag || tag->get_cam_id().isEmpty() || tag->get_cam_id() != cam || tag->get_datetime().isEmpty())
            continue;
        if (tag_minute(tag) < 0 || m_tags.contains(tag))
            continue;
        m_tags.append(tag);
        ZQLog::log(QStringLiteral("[INFO] ZQSlidertimeline :: tag insert ") + tag->get_datetime());
    }
    m_markers.fill({0, 0}, m_tags.size());
}

QString ZQSlidertimeline::time_text_of_value(int value)
{
    const int v = qBound(0, value, kMinutes - 1);
    const int h = v / 60;
    const int m = v - 60 * h;
    return QStringLiteral("%1:%2:00").arg(h, 2, 10, QLatin1Char('0')).arg(m, 2, 10, QLatin1Char('0'));
}

void ZQSlidertimeline::get_value_changed(int value)
{
    const int v = qBound(0, value, kMinutes - 1);
    m_current_time = time_text_of_value(v);
    emit slider_move(QTime(v / 60, v % 60, 0, 0));
}

void ZQSlidertimeline::release()
{
    ZQLog::log(QStringLiteral("[INFO] ZQSlidertimeline :: release :: ") + m_current_time +
               QStringLiteral(" :: camera id ") + QString::number(m_camera_id));
    emit change_value(m_current_time, m_camera_id);
}

void ZQSlidertimeline::setValue(int, QString timestamp)
{
    if (timestamp.isEmpty())
        return;
    QDate d;
    qint64 ms = -1;
    if (!TimeText::parse_yyyymmddhhmmsszzz(timestamp, &d, &ms))
        return;
    QSlider::setValue(int(ms / 60000));
}

QRect ZQSlidertimeline::groove_rect() const
{
    QStyleOptionSlider option;
    initStyleOption(&option);
    return style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderGroove, this);
}

int ZQSlidertimeline::minute_x(int minute, const QRect& groove)
{
    return groove.left() + kMargin + (groove.width() - 2 * kMargin) * minute / kMinutes;
}

int ZQSlidertimeline::minute_width(const QRect& groove)
{
    return qMax(1, (2 * groove.width() - 4 * kMargin) / kMinutes);
}

int ZQSlidertimeline::minute_at(int x, const QRect& groove)
{
    const int span = groove.width() - 2 * kMargin;
    if (span < 1)
        return 0;
    return qBound(0, (x - groove.left() - kMargin) * kMinutes / span, kMinutes - 1);
}

void ZQSlidertimeline::mousePressEvent(QMouseEvent* event)
{
    ZQLog::log("[INFO] ZQSlidertimeline :: mousePressEvent");
    if (event->button() == Qt::LeftButton) {
        const QPoint p = event->position().toPoint();
        if (orientation() == Qt::Horizontal) {
            QSlider::setValue(minute_at(p.x(), groove_rect()));
        } else if (height() > 0) {
            QSlider::setValue(qBound(minimum(), (maximum() - minimum()) * (height() - p.y()) / height() + minimum(),
                                     maximum()));
        }
        event->accept();
    }
    QSlider::mousePressEvent(event);
}

void ZQSlidertimeline::mouseMoveEvent(QMouseEvent* event)
{
    if (isVisible()) {
        const int x = event->position().toPoint().x();
        bool over = false;
        for (int i = 0; i < m_tags.size() && i < m_markers.size(); ++i) {
            const auto [mx, mw] = m_markers[i];
            if (x >= mx && x <= mx + mw) {
                QToolTip::showText(event->globalPosition().toPoint(),
                                   m_tags[i]->get_name().left(1000) + QStringLiteral(" - ") +
                                       m_tags[i]->get_description().left(10000),
                                   this);
                over = true;
                break;
            }
        }
        if (!over)
            QToolTip::hideText();
    }
    QSlider::mouseMoveEvent(event);
}

void ZQSlidertimeline::paintEvent(QPaintEvent* event)
{
    QStyleOptionSlider option;
    initStyleOption(&option);
    option.subControls = QStyle::SC_SliderGroove | QStyle::SC_SliderHandle;
    if (tickPosition() != NoTicks)
        option.subControls |= QStyle::SC_SliderTickmarks;
    const QRect g = style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderGroove, this);
    QSlider::paintEvent(event);

    QPainter painter(this);
    const int w = minute_width(g);
    // Runs of recorded minutes are filled as one rectangle each.
    int i = 0;
    while (i < kMinutes) {
        if (!m_minutes[i]) {
            ++i;
            continue;
        }
        int j = i;
        while (j + 1 < kMinutes && m_minutes[j + 1])
            ++j;
        const int x0 = minute_x(i, g);
        const int x1 = minute_x(j, g) + w;
        painter.fillRect(QRect(x0, g.top(), x1 - x0, g.height()), Qt::red);
        i = j + 1;
    }
    m_markers.resize(m_tags.size());
    painter.setPen(Qt::NoPen);
    painter.setBrush(Qt::green);
    for (int t = 0; t < m_tags.size(); ++t) {
        const int minute = tag_minute(m_tags[t]);
        const int x = minute_x(qMax(0, minute), g);
        m_markers[t] = {x, w};
        painter.drawEllipse(QRect(x - 3, g.top() - 10, 7, 7));
        painter.fillRect(QRect(x, g.top() - 5, w, g.height() + 10), Qt::green);
    }
    const QRect h = style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderHandle, this);
    painter.fillRect(QRect(int(h.left() + h.width() * 0.2), h.top(), int(h.width() * 0.6), h.height()),
                     QColor(QStringLiteral("#656565")));
}
