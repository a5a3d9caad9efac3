#include "widgetplayer/zq_timeline.h"

#include "app/zq_log.h"
#include "recordings/time_text.h"
#include "recordings/zq_tag.h"

#include <QEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QToolTip>

namespace {

// "HH:mm:ss - HH:mm:ss" as start and end in ms; the end of the last row reads 00:00:00,
// taken as 24:00.
void read_span(const QString& span, qint64* start, qint64* end)
{
    const QStringList parts = QString(span).remove(QLatin1Char(':')).split(QStringLiteral(" - "));
    *start = TimeText::hhmmss_to_ms(parts.value(0));
    *end = TimeText::hhmmss_to_ms(parts.value(1));
    if (*start >= 0 && *end >= 0 && *end <= *start)
        *end = 24LL * 3600 * 1000;
}

qint64 tag_ms(const ZQTag* tag)
{
    QDate d;
    qint64 ms = -1;
    if (!TimeText::parse_yyyymmddhhmmss(tag->get_datetime(), &d, &ms))
        return -1;
    return ms;
}

} // namespace

ZQTimeline::ZQTimeline(const QString& span_label, QWidget* parent) : QWidget(parent), m_span(span_label)
{
    setMaximumHeight(25);
    setMinimumHeight(25);
    setMouseTracking(true);
    read_span(m_span, &m_start_ms, &m_end_ms);
}

ZQTimeline::~ZQTimeline() = default;

void ZQTimeline::add_minutes(int start, int count)
{
    for (int m = start; m < start + count; ++m)
        if (m >= 0 && m < 60)
            m_minutes[m] = 1;
}

void ZQTimeline::remove_minutes(int start, int count)
{
    for (int m = start; m < start + count; ++m)
        if (m >= 0 && m < 60)
            m_minutes[m] = 0;
}

void ZQTimeline::clear()
{
    m_minutes.fill(0);
}

void ZQTimeline::set_minutes_from_frames(const QList<ZQFrame>& frames)
{
    int previous = -1;
    for (const ZQFrame& f : frames) {
        QDate d;
        qint64 ms = -1;
        if (!TimeText::parse_yyyymmddhhmmsszzz(f.get_timestamp(), &d, &ms))
            continue;
        const int m = int(ms / 60000) % 60;
        if (m != previous) {
            m_minutes[m] = 1;
            previous = m;
        }
    }
}

void ZQTimeline::insert_tags(const QList<ZQTag*>& tags, int camera_id)
{
    m_tags.clear();
    m_markers.clear();
    if (m_start_ms < 0 || m_end_ms < 0)
        return;
    const QString cam = QString::number(camera_id);
    for (ZQTag* tag : tags) {
        if (!tag || tag->get_cam_id().isEmpty() || tag->get_cam_id() != cam || tag->get_datetime().isEmpty())
            continue;
        const qint64 t = tag_ms(tag);
        if (t < 0)
            continue;
        if (m_start_ms <= t && t < m_end_ms) {
            m_tags.append(tag);
            ZQLog::log(QStringLiteral("[INFO] ZQTimeline :: tag insert ") + tag->get_datetime());
        }
    }
    m_markers.fill({0, 0}, m_tags.size());
}

void ZQTimeline::set_label(QLabel* label)
{
    m_label = label;
    if (!label)
        return;
    label->setMinimumHeight(2);
    m_label_text = label->text();
    m_current_label_text = m_label_text;
}

QTime ZQTimeline::time_at(int x, int width) const
{
    if (width < 1 || m_start_ms < 0)
        return QTime();
    const int cx = qBound(0, x, width - 1);
    const qint64 seconds = qint64(cx) * 3600 / width;
    return QTime::fromMSecsSinceStartOfDay(int(m_start_ms + seconds * 1000));
}

void ZQTimeline::reset_label()
{
    if (m_label)
        m_label->setText(m_label_text);
    m_current_label_text = m_label_text;
}

bool ZQTimeline::event(QEvent* event)
{
    if (event->type() == QEvent::Leave) {
        reset_label();
        update();
    }
    return QWidget::event(event);
}

void ZQTimeline::mouseMoveEvent(QMouseEvent* event)
{
    const int x = event->position().toPoint().x();
    if (isVisible()) {
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
    const QTime t = time_at(x, width());
    if (!isVisible() || !m_label || !t.isValid()) {
        reset_label();
        update();
    } else {
        m_current_label_text = m_label_text + QStringLiteral(" > ") + t.toString(QStringLiteral("HH:mm:ss"));
        m_label->setText(m_current_label_text);
        update();
    }
    QWidget::mouseMoveEvent(event);
}

void ZQTimeline::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return;
    const QTime t = time_at(event->position().toPoint().x(), width());
    if (!t.isValid())
        return;
    const QString text = t.toString(QStringLiteral("HH:mm:ss"));
    ZQLog::log(QStringLiteral("[INFO] ZQTimeline :: mouse release event :: ") + text + QStringLiteral(" / ") +
               QString::number(m_camera_id));
    emit clicked(text, m_camera_id);
}

void ZQTimeline::paintEvent(QPaintEvent* event)
{
    const QRect r = rect();
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillRect(QRect(r.x(), r.y() + 10, r.width(), r.height() - 10), Qt::black);
    const int cell = minute_width(r.width());
    // Runs of recorded minutes are filled as one rectangle each.
    for (int m = 0; m < 60;) {
        if (!m_minutes[m]) {
            ++m;
            continue;
        }
        int last = m;
        while (last + 1 < 60 && m_minutes[last + 1])
            ++last;
        const int x0 = minute_x(m, r.width());
        painter.fillRect(QRect(x0, 10, minute_x(last, r.width()) + cell - x0, r.height() - 10), Qt::red);
        m = last + 1;
    }
    const int marker = qMax(1, int(r.width() * 0.8 / 60.0));
    m_markers.resize(m_tags.size());
    for (int i = 0; i < m_tags.size(); ++i) {
        const qint64 ms = tag_ms(m_tags[i]);
        const int m = int(ms / 60000) % 60;
        const int x = minute_x(m, r.width());
        m_markers[i] = {x, marker};
        painter.setPen(Qt::NoPen);
        painter.setBrush(Qt::green);
        painter.drawEllipse(QRect(x - 3, 3, 9, 9));
        painter.fillRect(QRect(x, 10, marker, r.height() - 10), Qt::green);
    }
    painter.end();
    QWidget::paintEvent(event);
}
