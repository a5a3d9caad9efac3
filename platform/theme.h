#pragma once

class QPalette;

namespace zq::platform {

// Whether the desktop uses a light theme. ZQPLAYER_THEME=light|dark forces it;
// otherwise the application palette's window colour decides (lightness >= 128
// is light).
bool uses_light_theme();
bool uses_light_theme(const QPalette& palette);

} // namespace zq::platform
