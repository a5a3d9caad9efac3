#pragma once

// Shared by the sources of ZQ_Player_presentation (not part of its interface).

#include <QString>

namespace zq_widget_detail {

inline const QString kPrefix = QStringLiteral("[INFO] Zqplayer Display :: ");

} // namespace zq_widget_detail

using zq_widget_detail::kPrefix;
