#include "player/preview_popup.h"

#include "recordings/time_text.h"

#include <algorithm>

#include <QDate>
#include <QFrame>
#include <QGraphicsOpacityEffect>
#include <QGuiApplication>
#include <QImageReader>
#include <QLabel>
#include <QPixmap>
#include <QPropertyAnimation>
#include <QScreen>
#include <QTime>
#include <QUrl>
#include <QVBoxLayout>
#include <QtDebug>

namespace {
constexpr int kMaxWidth = 280;
constexpr int kMaxHeight = 210;
} // namespace

PreviewPopup::PreviewPopup(QWidget* parent)
    : QWidget(parent, Qt::ToolTip | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint
                          | Qt::BypassWindowManagerHint)
{
    setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_ShowWithoutActivating);
    setMaximumSize(kMaxWidth, kMaxHeight);
    resize(kMaxWidth, kMaxHeight);

    m_frame = new QFrame(this);
    m_frame->setObjectName(QStringLiteral("popupFrame"));
    m_frame->setGeometry(rect());

    m_image = new QLabel(m_frame);
    m_image->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored);
    m_image->setScaledContents(true);
    m_image->setAlignment(Qt::AlignCenter);

    m_text = new QLabel(m_frame);
    m_text->setAlignment(Qt::AlignCenter);
    m_text->setTextFormat(Qt::PlainText);
    m_text->setStyleSheet(QStringLiteral("color: white; font-size: 11px;"));

    auto* layout = new QVBoxLayout(m_frame);
    layout->setContentsMargins(6, 6, 6, 6);
    layout->setSpacing(4);
    layout->addWidget(m_image, 1);
    layout->addWidget(m_text, 0);

    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->addWidget(m_frame);

    m_effect = new QGraphicsOpacityEffect(m_image);
    m_image->setGraphicsEffect(m_effect);
    m_fade = new QPropertyAnimation(m_effect, "opacity", this);
    m_fade->setDuration(200);
    m_fade->setStartValue(0.0);
    m_fade->setEndValue(1.0);
    m_fade->setEasingCurve(QEasingCurve::InOutQuad);

    setStyleSheet(QStringLiteral("#popupFrame { background-color: #2C2C2C; border: 1px solid #D9D9D9; "
                                 "border-radius: 6px; }"));
}

PreviewPopup::~PreviewPopup() = default;

QString PreviewPopup::captionFor(const QString& text)
{
    QDate date;
    qint64 ms = 0;
    if (TimeText::parse_yyyymmddhhmmss(text, &date, &ms))
        return date.toString(QStringLiteral("yyyy-MM-dd")) + QLatin1Char(' ')
             + QTime::fromMSecsSinceStartOfDay(int(ms)).toString(QStringLiteral("HH:mm:ss"));
    return text;
}

void PreviewPopup::showAtGlobal(int x, int y, const QString& imagePath)
{
    showAtGlobal(x, y, imagePath, QString());
}

void PreviewPopup::showAtGlobal(int x, int y, const QString& imagePath, const QString& text)
{
    QString path = imagePath;
    if (path.startsWith(QLatin1String("file:"), Qt::CaseInsensitive))
        path = QUrl(path).toLocalFile();

    // Alarm pictures come from the storage folder: refuse absurd sizes before decoding.
    QImageReader reader(path);
    QImage picture;
    const QSize size = reader.size();
    if (!path.isEmpty() && (!size.isValid() || (size.width() <= 16384 && size.height() <= 16384)))
        picture = reader.read();

    if (picture.isNull()) {
        m_image->clear();
        qWarning().noquote() << "[PreviewPopup] Image non chargée:" << imagePath;
    } else {
        m_image->setPixmap(QPixmap::fromImage(
            picture.scaled(kMaxWidth - 12, kMaxHeight - 12, Qt::KeepAspectRatio, Qt::SmoothTransformation)));
        m_effect->setOpacity(0.0);
        m_fade->stop();
        m_fade->start();
    }
    if (!text.isEmpty())
        m_text->setText(captionFor(text));

    adjustSize();
    int left = x - width() / 2;
    int top = y - height() - 20;
    // Near the top edge the pop-up would leave the screen: show it under the pointer instead.
    if (QScreen* screen = QGuiApplication::screenAt(QPoint(x, y))) {
        const QRect area = screen->availableGeometry();
        left = std::clamp(left, area.left(), std::max(area.left(), area.right() - width() + 1));
        if (top < area.top())
            top = y + 20;
    }
    move(left, top);
    show();
}

void PreviewPopup::hidePopup()
{
    hide();
}

QString PreviewPopup::caption() const
{
    return m_text->text();
}

bool PreviewPopup::hasPicture() const
{
    return !m_image->pixmap().isNull();
}
