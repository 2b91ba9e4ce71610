// Loads the compiled-in pictures; a missing resource gives an empty picture
// (the logo area then just shows the window background).
#include "ui/logo.h"

QPixmap logo_pixmap() {
    QPixmap logo(QStringLiteral(":/veltrona/logo.png"));
    if (logo.isNull()) return logo;
    return logo.copy(0, 0, LOGO_PIXEL_WIDTH, LOGO_PIXEL_HEIGHT);
}

QIcon program_icon() {
    QIcon icon;
    icon.addFile(QStringLiteral(":/veltrona/icon-48.png"), QSize(48, 48));
    icon.addFile(QStringLiteral(":/veltrona/icon-16.png"), QSize(16, 16));
    return icon;
}
