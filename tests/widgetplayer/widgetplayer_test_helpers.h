#pragma once

// Small pieces the widget player's tests share.

#include "widgetplayer/zq_player_presentation.h"

#include <QColor>
#include <QComboBox>

#include <algorithm>
#include <cmath>

// Contrast ratio of two colours as the accessibility guidelines define it
// (1 for the same colour, 21 for black on white; 4.5 reads as body text).
inline double contrast_ratio(const QColor& a, const QColor& b)
{
    auto luminance = [](const QColor& c) {
        auto channel = [](double v) { return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
        return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) + 0.0722 * channel(c.blueF());
    };
    const double la = luminance(a);
    const double lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

// Chooses a camera in a camera chooser as the operator does: the first item
// that names the id, then its activation. False when none names it.
inline bool choose_camera_in(QComboBox* cameras, int camera)
{
    const QString id = QString::number(camera);
    for (int i = 0; i < cameras->count(); ++i) {
        if (cameras->itemText(i).endsWith(QLatin1Char(' ') + id)) {
            cameras->setCurrentIndex(i);
            emit cameras->activated(i);
            return true;
        }
    }
    return false;
}

// The same in the REC tab's camera chooser.
inline bool choose_camera(ZQ_Player_presentation* window, int camera)
{
    return choose_camera_in(window->camera_combo(), camera);
}
