#pragma once

#include <QWidget>

// A plain container for the jobs window's panels. A bare QWidget subclass
// ignores the "background" of a style sheet; this one paints the style's
// widget primitive so that the sheet's background and border show.
class Centralwidget_zqdownload : public QWidget
{
    Q_OBJECT
public:
    explicit Centralwidget_zqdownload(QWidget* parent = nullptr);
    ~Centralwidget_zqdownload() override;

protected:
    void paintEvent(QPaintEvent* event) override;
};
