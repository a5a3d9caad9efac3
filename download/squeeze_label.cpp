#include "download/squeeze_label.h"

#include <QPainter>
#include <QStyle>
#include <QStyleOption>

namespace {
// Texts handed to a label are capped: laying out megabytes of text freezes the window.
constexpr int kMaxText = 10000;
}

SqueezeLabel::SqueezeLabel(QWidget* parent)
    : QLabel(parent)
{
    setTextFormat(Qt::PlainText);
}

void SqueezeLabel::setText(const QString& text)
{
    const QString capped = text.left(kMaxText);
    QLabel::setText(capped);
    setToolTip(capped.isEmpty() ? QString() : capped.toHtmlEscaped());
}

QString SqueezeLabel::displayed_text() const
{
    const QString full = text();
    const QFontMetrics fm(font());
    const int width = contentsRect().width();
    if (fm.horizontalAdvance(full) <= width)
        return full;
    return fm.elidedText(full, Qt::ElideMiddle, width);
}

void SqueezeLabel::paintEvent(QPaintEvent* event)
{
    const QFontMetrics fm(font());
    if (fm.horizontalAdvance(text()) <= contentsRect().width()) {
        QLabel::paintEvent(event);
        return;
    }
    // Style-sheet background and frame first, then the elided line.
    QPainter painter(this);
    QStyleOption option;
    option.initFrom(this);
    style()->drawPrimitive(QStyle::PE_Widget, &option, &painter, this);
    drawFrame(&painter);
    painter.setPen(palette().color(foregroundRole()));
    const QRect r = contentsRect().adjusted(margin(), margin(), -margin(), -margin());
    painter.drawText(r, int(alignment()) | Qt::TextSingleLine, displayed_text());
}
