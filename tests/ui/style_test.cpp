// Top-level windows are centred once: a window the user moved stays put.
#include "ui/style.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QScreen>

namespace {

TEST(StyleCentring, TopLevelWindowsAreCentredOnce) {
    CentringHook hook;
    qApp->installEventFilter(&hook);
    QDialog dialog;
    dialog.resize(300, 200);
    dialog.show();
    ASSERT_EQ(dialog.size(), QSize(300, 200));
    const QRect work = QGuiApplication::primaryScreen()->availableGeometry();
    const QSize outer = dialog.frameGeometry().size();
    const QPoint centred(work.left() + (work.width() - outer.width()) / 2,
                         work.top() + (work.height() - outer.height()) / 2);
    EXPECT_EQ(dialog.pos(), centred);
    EXPECT_EQ(dialog.property(CENTERED_PROPERTY).toInt(), 1);

    dialog.hide();
    dialog.move(5, 5);
    dialog.show();  // a second activation leaves it where the user put it
    EXPECT_EQ(dialog.pos(), QPoint(5, 5));

    dialog.hide();
    dialog.setProperty(CENTERED_PROPERTY, QVariant());
    dialog.show();
    EXPECT_EQ(dialog.pos(), centred);

    QWidget child(&dialog);  // children are never moved
    child.move(3, 4);
    centre_window(&child);
    EXPECT_EQ(child.pos(), QPoint(3, 4));
    qApp->removeEventFilter(&hook);
}

}  // namespace
