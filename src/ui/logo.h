// The program's pictures: the 220 x 50 logo shown at the top right of the
// main window and the window icon (48 x 48 and 16 x 16). Both are PNGs in
// resources/, compiled into the program; resources/draw_logo.cpp draws
// them and can regenerate them.
#pragma once

#include <QIcon>
#include <QPixmap>

constexpr int LOGO_PIXEL_WIDTH = 220, LOGO_PIXEL_HEIGHT = 50;

[[nodiscard]] QPixmap logo_pixmap();
[[nodiscard]] QIcon program_icon();
