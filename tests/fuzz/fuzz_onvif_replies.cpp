// Every ONVIF reply reader on one input: clock, fault, services (and the
// request path of each address), profiles, node, presets and status.

#include <QString>

#include <cmath>
#include <cstdint>
#include <cstdlib>

#include "ptz/dom_parser.h"
#include "ptz/onvif.h"
#include "ptz/onvif_ptz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString reply = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
    DomParser parser;
    parser.get_utc_datetime(reply);
    parser.get_fault(reply);
    parser.is_not_authorized(reply);
    const QHash<QString, QString> services = parser.get_services(reply);
    for (auto it = services.cbegin(); it != services.cend(); ++it) {
        const QString path = Onvif::service_path(it.value());
        // A service address only ever gives a path on our own host.
        if (!path.startsWith(QLatin1Char('/')))
            std::abort();
    }
    Onvif_ptz* ptz = parser.get_profile(reply);
    parser.get_nodes(reply);
    parser.get_presets(reply);
    parser.get_status(reply);
    if (ptz->get_presets().size() > Onvif_ptz::max_presets)
        std::abort();
    for (const Onvif_ptz::Range r : {ptz->get_continuous_pan_range(), ptz->get_continuous_tilt_range(),
                                     ptz->get_continuous_zoom_range(), ptz->get_relative_pan_range()}) {
        if (!std::isfinite(r.min) || !std::isfinite(r.max) || r.min > r.max)
            std::abort();
    }
    if (!std::isfinite(ptz->get_pan()) || !std::isfinite(ptz->get_tilt()) || !std::isfinite(ptz->get_zoom()))
        std::abort();
    return 0;
}
