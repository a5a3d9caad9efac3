#pragma once

#include <QWidget>

// The player's main window.
class ZQ_Player_qmlpresentation : public QWidget
{
    Q_OBJECT
public:
    explicit ZQ_Player_qmlpresentation(QWidget* parent = nullptr);
    ~ZQ_Player_qmlpresentation() override;
};
