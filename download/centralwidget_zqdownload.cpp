#include "download/centralwidget_zqdownload.h"

#include "app/zq_log.h"

#include <QPainter>
#include <QStyle>
#include <QStyleOption>

Centralwidget_zqdownload::Centralwidget_zqdownload(QWidget* parent)
    : QWidget(parent)
{
}

Centralwidget_zqdownload::~Centralwidget_zqdownload()
{
    ZQLog::log("[INFO] Download Presentation :: destruct");
}

void Centralwidget_zqdownload::paintEvent(QPaintEvent* event)
{
    Q_UNUSED(event);
    QStyleOption option;
    option.initFrom(this);
    QPainter painter(this);
    style()->drawPrimitive(QStyle::PE_Widget, &option, &painter, this);
}
