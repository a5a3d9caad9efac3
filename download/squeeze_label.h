#pragma once

#include <QLabel>

// A label that shows its text on one line, elided in the middle when it is
// wider than the label; text() keeps the full text, which the tool tip also
// shows. Texts are plain text: a file name or a server message is never
// read as markup.
class SqueezeLabel : public QLabel
{
    Q_OBJECT
public:
    explicit SqueezeLabel(QWidget* parent = nullptr);

    // Hides QLabel::setText: also refreshes the tool tip (escaped).
    void setText(const QString& text);
    // The text as painted at the current width.
    QString displayed_text() const;

protected:
    void paintEvent(QPaintEvent* event) override;
};
