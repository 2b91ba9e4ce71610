// The desktop shell's own dark look: one palette, one font family in three
// sizes, rounded owner-painted push buttons, painted check boxes, flattened
// edits and drop lists, and the centring of every top-level window.
//
// Everything here runs on the UI thread. The fonts are made once by
// style_init (after the QApplication exists) and live for the process; the
// colour choices (button_look, check_look, row_look) are the
// presentation layer's, shared with the Win32 front end.
#pragma once

#include <QCheckBox>
#include <QColor>
#include <QFont>
#include <QObject>
#include <QPushButton>
#include <QRect>
#include <QSize>

#include "ui/presentation/look.h"

class QWidget;
class QApplication;

[[nodiscard]] QColor ui_colour(UiColour colour);
// "rgb(r, g, b)" for style sheets.
[[nodiscard]] QString ui_colour_css(UiColour colour);

// Creates the three fonts and the application palette; call once after the
// QApplication exists. Safe to call again (tests build several windows).
void style_init();
[[nodiscard]] const QFont& ui_font(UiFont font);
// Pixel height for a point size on the primary screen, rounded as a
// multiply-then-divide would round it.
[[nodiscard]] int font_pixel_height(int points);
// The dialog font: "Noto Sans" 10 points.
[[nodiscard]] QFont dialog_font();

// A push button painted in the theme: rounded, primary or normal fill,
// accent outline while it has the keyboard focus.
class ThemedButton : public QPushButton {
    Q_OBJECT
  public:
    ThemedButton(const QString& text, QWidget* parent, bool primary = false);
    [[nodiscard]] bool primary() const { return primary_; }
    void set_primary(bool primary);

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    bool primary_ = false;
};

constexpr int THEMED_BUTTON_HEIGHT = 48;
// A themed button at (x, y), `width` wide and 48 high, with the button font.
ThemedButton* create_themed_button(QWidget* parent, const QString& text, int x, int y, int width, bool primary);

// A check box painted in the theme: a 16 x 16 square with an accent tick,
// its label 22 pixels from the left; a click anywhere on it toggles it.
class ThemedCheckBox : public QCheckBox {
    Q_OBJECT
  public:
    ThemedCheckBox(const QString& text, QWidget* parent);

  protected:
    void paintEvent(QPaintEvent* event) override;
    bool hitButton(const QPoint& pos) const override;
};

// Flat one-pixel border, body font, 6-pixel inner margins for edits; a
// single-line edit or drop list taller than the body font's height + 12 is
// made that high and kept vertically centred in its old rectangle.
void flatten_control(QWidget* control);
// Re-applies the height rule after the control was moved or resized.
void fit_control_height(QWidget* control);
// The height rule for any control: body text height + 12, centred in place
// when the control is taller (used for buttons that sit beside an edit).
void fit_to_text_line(QWidget* control);

// Dialog units: x * base_x / 4, y * base_y / 8 with the base units taken
// from `font` (average width of the 52 Latin letters, rounded; line height).
struct DialogUnits {
    int base_x;
    int base_y;
};
[[nodiscard]] DialogUnits dialog_units(const QFont& font);
[[nodiscard]] QRect dialog_rect(const DialogUnits& units, int x, int y, int width, int height);
[[nodiscard]] QSize dialog_size(const DialogUnits& units, int width, int height);

// Paints window backgrounds: `background` for the window, text colour for
// its labels, edit colours for its inputs.
void apply_window_colours(QWidget* window, UiColour background);

// The property that marks a window as already centred.
constexpr const char* CENTERED_PROPERTY = "VeltronaCentered";
// Centres a top-level window on the work area of its owner's screen (the
// primary screen when it has none) unless it already carries the property;
// then sets the property. Child widgets are left alone.
void centre_window(QWidget* window);

// Watches every top-level window as it is first shown and centres it once.
class CentringHook : public QObject {
    Q_OBJECT
  public:
    using QObject::QObject;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
};
