#include "view/display_interface.h"

#include <QTimer>

void DisplayInterface::set_ending_state(bool v)
{
    if (ending_timer && ending_timer->isActive())
        ending_timer->stop();
    ending = v;
}

void DisplayInterface::set_overlay_text_size(const QString& size)
{
    // Case-sensitive on purpose: callers send the lower-case names only.
    if (size == QLatin1String("tiny"))
        overlay_text_size = 8;
    else if (size == QLatin1String("small"))
        overlay_text_size = 12;
    else if (size == QLatin1String("normal"))
        overlay_text_size = 16;
    else if (size == QLatin1String("large"))
        overlay_text_size = 20;
}
