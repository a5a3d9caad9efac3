#include "view/native_ptz_interface.h"

#include <QMetaObject>

// Out of line so that the class's type information lives in one object file.
NativePTZInterface::~NativePTZInterface() = default;

void NativePTZInterface::end_refused_request()
{
    QMetaObject::invokeMethod(this, [this] { emit send_request_finished(0); }, Qt::QueuedConnection);
}
