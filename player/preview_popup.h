#pragma once

#include <QString>
#include <QWidget>

class QFrame;
class QGraphicsOpacityEffect;
class QLabel;
class QPropertyAnimation;

// Frameless floating picture with a caption, shown above an alarm flag of the
// timeline while the pointer rests on it.
class PreviewPopup : public QWidget
{
    Q_OBJECT
public:
    explicit PreviewPopup(QWidget* parent = nullptr);
    ~PreviewPopup() override;

    Q_INVOKABLE void showAtGlobal(int x, int y, const QString& imagePath, const QString& text);
    Q_INVOKABLE void showAtGlobal(int x, int y, const QString& imagePath);
    Q_INVOKABLE void hidePopup();

    // The caption for a text: a "yyyyMMddHHmmss" date-time reads
    // "yyyy-MM-dd HH:mm:ss", anything else unchanged.
    static QString captionFor(const QString& text);

    QString caption() const;
    bool hasPicture() const;

private:
    QLabel* m_image = nullptr;
    QLabel* m_text = nullptr;
    QFrame* m_frame = nullptr;
    QGraphicsOpacityEffect* m_effect = nullptr;
    QPropertyAnimation* m_fade = nullptr;
};
