#include "ptz/onvif_ptz.h"

#include <cmath>

namespace {

// A number as float, 0 when the text is no number. False for a number that
// is not finite as a float ("nan", "inf", 1e999): such a value is refused.
bool read_float(const QString& text, float* out)
{
    const QString t = text.trimmed();
    bool ok = false;
    const double d = t.toDouble(&ok);
    if (!ok) {
        // An overflow is a number too big, not a text that is no number.
        bool digits = false;
        for (QChar c : t)
            digits = digits || c.isDigit();
        if (std::isinf(d) || (digits && t.contains(QLatin1Char('e'), Qt::CaseInsensitive)))
            return false;
        *out = 0.f;
        return true;
    }
    if (!std::isfinite(d) || std::fabs(d) > 3.0e38)
        return false;
    *out = float(d);
    return true;
}

} // namespace

void Onvif_ptz::set_range(Range& r, const QString& text)
{
    const QStringList parts = text.split(QLatin1Char(';'));
    if (parts.size() < 2)
        return;
    float lo = 0.f, hi = 0.f;
    if (!read_float(parts.at(0), &lo) || !read_float(parts.at(1), &hi))
        return;
    if (lo > hi)
        return; // an inverted range would turn every move around
    r.min = lo;
    r.max = hi;
}

void Onvif_ptz::set_position(float& v, const QString& text)
{
    float f = 0.f;
    if (read_float(text, &f))
        v = f;
}
