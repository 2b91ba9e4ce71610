// The theme's drawing rules and the window helpers: button and check-box
// colours in every state, the flattened edit height rule, dialog units,
// fonts and the centre-once rule.
#include "ui/style.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QFontInfo>
#include <QFontMetrics>
#include <QLineEdit>
#include <QScreen>

namespace {

TEST(StyleLook, ButtonFillsFollowEnabledPressedPrimary) {
    struct Case {
        bool enabled, pressed, primary, focused;
        UiColour fill, border, text;
    };
    const Case cases[] = {
        {false, false, true, false, UiColour::disabled_button, UiColour::outline,
         UiColour::disabled_text},
        {false, true, true, true, UiColour::disabled_button, UiColour::accent,
         UiColour::disabled_text},
        {true, true, false, true, UiColour::pressed_button, UiColour::accent, UiColour::text},
        {true, true, true, false, UiColour::pressed_button, UiColour::outline, UiColour::text},
        {true, false, true, false, UiColour::primary_button, UiColour::outline, UiColour::text},
        {true, false, false, true, UiColour::normal_button, UiColour::accent, UiColour::text},
    };
    for (const Case& c : cases) {
        const ButtonLook look = button_look(c.enabled, c.pressed, c.primary, c.focused);
        EXPECT_EQ(look.fill, c.fill);
        EXPECT_EQ(look.border, c.border);
        EXPECT_EQ(look.text, c.text);
    }
}

TEST(StyleLook, CheckBoxOutlineAndText) {
    EXPECT_EQ(check_look(true, true).border, UiColour::accent);
    EXPECT_EQ(check_look(true, false).border, UiColour::outline);
    EXPECT_EQ(check_look(false, false).text, UiColour::disabled_text);
    EXPECT_EQ(check_look(true, false).text, UiColour::text);
}

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

TEST(StyleFonts, ThreeSizesOfOneFamily) {
    EXPECT_EQ(QFontInfo(ui_font(UiFont::body)).family(), QStringLiteral("Noto Sans"));
    EXPECT_EQ(ui_font(UiFont::body).pixelSize(), font_pixel_height(14));
    EXPECT_EQ(ui_font(UiFont::button).pixelSize(), font_pixel_height(16));
    EXPECT_EQ(ui_font(UiFont::title).pixelSize(), font_pixel_height(21));
    EXPECT_EQ(ui_font(UiFont::body).weight(), 500);
    EXPECT_EQ(ui_font(UiFont::button).weight(), 600);
    EXPECT_EQ(ui_font(UiFont::title).weight(), 700);
    const int dpi = qRound(QGuiApplication::primaryScreen()->logicalDotsPerInchY());
    EXPECT_EQ(font_pixel_height(72), dpi);
}

TEST(StyleFlatten, SingleLineEditKeepsOrShrinksToTextHeight) {
    const int wanted = QFontMetrics(ui_font(UiFont::body)).height() + 12;
    QWidget parent;
    auto* low = new QLineEdit(&parent);
    low->setGeometry(10, 20, 100, wanted);
    flatten_control(low);
    EXPECT_EQ(low->geometry(), QRect(10, 20, 100, wanted));
    auto* tall = new QLineEdit(&parent);
    tall->setGeometry(10, 100, 100, wanted + 20);
    flatten_control(tall);
    EXPECT_EQ(tall->geometry(), QRect(10, 110, 100, wanted));
    EXPECT_EQ(tall->font(), ui_font(UiFont::body));
    EXPECT_EQ(tall->textMargins().left(), 6);
    EXPECT_EQ(tall->textMargins().right(), 6);
}

TEST(StyleDialogUnits, ConvertWithTheFontsBaseUnits) {
    const DialogUnits units{7, 18};
    EXPECT_EQ(dialog_rect(units, 104, 99, 384, 22), QRect(182, 222, 672, 49));
    EXPECT_EQ(dialog_size(units, 500, 406), QSize(875, 913));
    const DialogUnits measured = dialog_units(dialog_font());
    EXPECT_GT(measured.base_x, 3);
    EXPECT_EQ(measured.base_y, QFontMetrics(dialog_font()).height());
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
