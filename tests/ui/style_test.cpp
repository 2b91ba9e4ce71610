// The theme on screen: painted buttons and check boxes use the palette in
// their states, and top-level windows are centred once.
#include "ui/style.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QScreen>

namespace {

TEST(StyleLook, PaintedButtonAndCheckBoxUseThePalette) {
    QWidget parent;
    ThemedButton* button = create_themed_button(&parent, QStringLiteral("Go"), 0, 0, 96, true);
    EXPECT_EQ(button->height(), THEMED_BUTTON_HEIGHT);
    QImage picture = button->grab().toImage();
    EXPECT_EQ(picture.pixelColor(10, 40), ui_colour(UiColour::primary_button));
    EXPECT_EQ(picture.pixelColor(0, 0),
              ui_colour(UiColour::window_background));  // outside the rounded corner
    button->setEnabled(false);
    picture = button->grab().toImage();
    EXPECT_EQ(picture.pixelColor(10, 40), ui_colour(UiColour::disabled_button));

    ThemedCheckBox check(QStringLiteral("Enabled"), nullptr);
    check.resize(120, 24);
    check.setChecked(true);
    picture = check.grab().toImage();
    const int top = (24 - 16) / 2;
    EXPECT_EQ(picture.pixelColor(0, top), ui_colour(UiColour::outline));
    EXPECT_EQ(picture.pixelColor(3, top + 8), ui_colour(UiColour::accent));  // start of the tick
    EXPECT_EQ(picture.pixelColor(2, top + 13), ui_colour(UiColour::edit_background));
    EXPECT_EQ(picture.pixelColor(18, 1), ui_colour(UiColour::dialog_background));
}

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
