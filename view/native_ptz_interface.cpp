#include "view/native_ptz_interface.h"

// Out of line so that the class's type information lives in one object file.
NativePTZInterface::~NativePTZInterface() = default;
