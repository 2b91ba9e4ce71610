// The theme's palette, fonts and painting rules. Pens and brushes live only
// for one paint; the three fonts are process-wide and made on the UI thread.
#include "ui/style.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QEvent>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QLineEdit>
#include <QListWidget>
#include <QPaintEvent>
#include <QPainter>
#include <QPalette>
#include <QPlainTextEdit>
#include <QScreen>
#include <QStyleFactory>
#include <QVariant>
#include <QWindow>
#include <array>

#include "workflow/workflow.h"

namespace {

constexpr std::array<UiFont, 3> FONTS = {UiFont::body, UiFont::button, UiFont::title};

std::array<QFont, 3>& fonts() {
    static std::array<QFont, 3> made;
    return made;
}

bool family_installed() {
    return QFontDatabase::families().contains(QString::fromUtf8(FONT_FAMILY));
}

// The family, or the system's general font when the family is missing.
QFont make_font(int points, int weight) {
    QFont font = family_installed() ? QFont(QString::fromUtf8(FONT_FAMILY))
                                    : QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    font.setPixelSize(font_pixel_height(points));
    font.setWeight(static_cast<QFont::Weight>(weight));
    font.setHintingPreference(QFont::PreferFullHinting);
    return font;
}

void set_palette_role(QPalette& palette, QPalette::ColorRole role, UiColour colour, UiColour disabled) {
    palette.setColor(QPalette::Active, role, ui_colour(colour));
    palette.setColor(QPalette::Inactive, role, ui_colour(colour));
    palette.setColor(QPalette::Disabled, role, ui_colour(disabled));
}

QPalette application_palette() {
    QPalette palette;
    set_palette_role(palette, QPalette::Window, UiColour::window_background, UiColour::window_background);
    set_palette_role(palette, QPalette::WindowText, UiColour::text, UiColour::disabled_text);
    set_palette_role(palette, QPalette::Base, UiColour::edit_background, UiColour::edit_background);
    set_palette_role(palette, QPalette::AlternateBase, UiColour::list_background, UiColour::list_background);
    set_palette_role(palette, QPalette::Text, UiColour::text, UiColour::disabled_text);
    set_palette_role(palette, QPalette::Button, UiColour::normal_button, UiColour::disabled_button);
    set_palette_role(palette, QPalette::ButtonText, UiColour::text, UiColour::disabled_text);
    set_palette_role(palette, QPalette::Highlight, UiColour::accent, UiColour::outline);
    set_palette_role(palette, QPalette::HighlightedText, UiColour::window_background, UiColour::window_background);
    set_palette_role(palette, QPalette::ToolTipBase, UiColour::edit_background, UiColour::edit_background);
    set_palette_role(palette, QPalette::ToolTipText, UiColour::text, UiColour::text);
    set_palette_role(palette, QPalette::PlaceholderText, UiColour::disabled_text, UiColour::disabled_text);
    set_palette_role(palette, QPalette::Light, UiColour::outline, UiColour::outline);
    set_palette_role(palette, QPalette::Mid, UiColour::outline, UiColour::outline);
    set_palette_role(palette, QPalette::Dark, UiColour::window_background, UiColour::window_background);
    return palette;
}

// Single-line edits and drop lists keep one text line's height plus padding.
bool is_single_line(const QWidget* control) {
    return qobject_cast<const QLineEdit*>(control) != nullptr || qobject_cast<const QComboBox*>(control) != nullptr;
}

QString edit_style_sheet() {
    return QStringLiteral(
               "QLineEdit, QPlainTextEdit, QListWidget { background: %1; color: %2; border: 1px solid %3; "
               "selection-background-color: %4; selection-color: %5; }"
               "QLineEdit:focus, QPlainTextEdit:focus, QListWidget:focus { border-color: %4; }"
               "QLineEdit:disabled { color: %6; }")
        .arg(ui_colour_css(UiColour::edit_background), ui_colour_css(UiColour::text), ui_colour_css(UiColour::outline),
             ui_colour_css(UiColour::accent), ui_colour_css(UiColour::window_background),
             ui_colour_css(UiColour::disabled_text));
}

QString combo_style_sheet() {
    return QStringLiteral(
               "QComboBox { background: %1; color: %2; border: 1px solid %3; padding: 0 6px; }"
               "QComboBox:focus { border-color: %4; }"
               "QComboBox::drop-down { border: none; width: 22px; }"
               "QComboBox::down-arrow { width: 0; height: 0; border-left: 5px solid %1; "
               "border-right: 5px solid %1; border-top: 6px solid %2; }"
               "QComboBox QAbstractItemView { background: %1; color: %2; border: 1px solid %3; "
               "selection-background-color: %4; selection-color: %5; outline: none; }")
        .arg(ui_colour_css(UiColour::edit_background), ui_colour_css(UiColour::text), ui_colour_css(UiColour::outline),
             ui_colour_css(UiColour::accent), ui_colour_css(UiColour::window_background));
}

}  // namespace

QColor ui_colour(UiColour colour) {
    const Rgb rgb = ui_rgb(colour);
    return QColor(rgb.r, rgb.g, rgb.b);
}

QString ui_colour_css(UiColour colour) {
    const Rgb rgb = ui_rgb(colour);
    return QStringLiteral("rgb(%1, %2, %3)").arg(rgb.r).arg(rgb.g).arg(rgb.b);
}

int font_pixel_height(int points) {
    QScreen* screen = QGuiApplication::primaryScreen();
    return font_pixel_height_at(points, screen ? qRound(screen->logicalDotsPerInchY()) : 96);
}

void style_init() {
    for (size_t i = 0; i < FONTS.size(); ++i) {
        const FontLook look = ui_font_look(FONTS[i]);
        fonts()[i] = make_font(look.points, look.weight);
    }
    if (QStyle* fusion = QStyleFactory::create(QStringLiteral("Fusion"))) QApplication::setStyle(fusion);
    QApplication::setPalette(application_palette());
    QFont general = dialog_font();
    QApplication::setFont(general);
}

const QFont& ui_font(UiFont font) {
    return fonts()[static_cast<size_t>(font)];
}

QFont dialog_font() {
    return make_font(10, 400);
}

// ---- buttons ----

namespace {

// A narrow button (a "Browse..." beside an edit) gets a smaller size of its
// font rather than a clipped caption.
QFont fitted_font(QFont font, const QString& text, int width) {
    constexpr int SMALLEST_PIXEL_SIZE = 9;
    while (font.pixelSize() > SMALLEST_PIXEL_SIZE && QFontMetrics(font).horizontalAdvance(text) > width)
        font.setPixelSize(font.pixelSize() - 1);
    return font;
}

}  // namespace

ThemedButton::ThemedButton(const QString& text, QWidget* parent, bool primary)
    : QPushButton(text, parent), primary_(primary) {
    setFont(ui_font(UiFont::button));
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void ThemedButton::set_primary(bool primary) {
    primary_ = primary;
    update();
}

void ThemedButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QRect item = rect();
    painter.fillRect(item, ui_colour(UiColour::window_background));
    const ButtonLook look = button_look(isEnabled(), isDown(), primary_, hasFocus());
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setPen(QPen(ui_colour(look.border), 1.0));
    painter.setBrush(ui_colour(look.fill));
    // Half-pixel inset keeps the one-pixel outline on whole pixels.
    painter.drawRoundedRect(QRectF(item.adjusted(0, 0, -1, -1)).translated(0.5, 0.5), 4.0, 4.0);
    painter.setPen(ui_colour(look.text));
    painter.setFont(fitted_font(font(), text().left(127), item.width() - 8));
    painter.drawText(item, Qt::AlignCenter | Qt::TextSingleLine, text().left(127));
}

ThemedButton* create_themed_button(QWidget* parent, const QString& text, int x, int y, int width, bool primary) {
    auto* button = new ThemedButton(text, parent, primary);
    button->setGeometry(x, y, width, THEMED_BUTTON_HEIGHT);
    button->show();
    return button;
}

// ---- check boxes ----

ThemedCheckBox::ThemedCheckBox(const QString& text, QWidget* parent) : QCheckBox(text, parent) {
    setFont(ui_font(UiFont::body));
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

bool ThemedCheckBox::hitButton(const QPoint& pos) const {
    return rect().contains(pos);
}

void ThemedCheckBox::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QRect item = rect();
    painter.fillRect(item, ui_colour(UiColour::dialog_background));
    const CheckLook look = check_look(isEnabled(), hasFocus());
    const int left = item.left();
    const int top = item.top() + (item.height() - 16) / 2;
    painter.setPen(QPen(ui_colour(look.border), 1.0));
    painter.setBrush(ui_colour(UiColour::edit_background));
    painter.drawRect(left, top, 15, 15);
    if (isChecked()) {
        painter.setRenderHint(QPainter::Antialiasing, true);
        QPen mark(ui_colour(UiColour::accent), 2.0);
        mark.setJoinStyle(Qt::MiterJoin);
        painter.setPen(mark);
        const QPoint points[3] = {{left + 3, top + 8}, {left + 7, top + 12}, {left + 13, top + 4}};
        painter.drawPolyline(points, 3);
        painter.setRenderHint(QPainter::Antialiasing, false);
    }
    painter.setPen(ui_colour(look.text));
    painter.setFont(font());
    painter.drawText(item.adjusted(22, 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                     text().left(127));
}

// ---- flat edits and drop lists ----

void fit_control_height(QWidget* control) {
    if (!is_single_line(control)) return;
    fit_to_text_line(control);
}

void fit_to_text_line(QWidget* control) {
    const int wanted = QFontMetrics(ui_font(UiFont::body)).height() + 12;
    const QRect old = control->geometry();
    if (old.height() <= wanted) return;
    control->setGeometry(old.x(), old.y() + (old.height() - wanted) / 2, old.width(), wanted);
}

void flatten_control(QWidget* control) {
    control->setFont(ui_font(UiFont::body));
    if (auto* edit = qobject_cast<QLineEdit*>(control)) {
        edit->setFrame(true);
        edit->setStyleSheet(edit_style_sheet());
        edit->setTextMargins(6, 0, 6, 0);
    } else if (qobject_cast<QPlainTextEdit*>(control) || qobject_cast<QListWidget*>(control)) {
        control->setStyleSheet(edit_style_sheet());
        if (auto* text = qobject_cast<QPlainTextEdit*>(control)) text->document()->setDocumentMargin(6);
    } else if (auto* combo = qobject_cast<QComboBox*>(control)) {
        combo->setStyleSheet(combo_style_sheet());
        combo->view()->setFont(ui_font(UiFont::body));
    }
    fit_control_height(control);
}

// ---- dialog units ----

DialogUnits dialog_units(const QFont& font) {
    const QFontMetrics metrics(font);
    const int letters =
        metrics.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    return {(letters / 26 + 1) / 2, metrics.height()};
}

QRect dialog_rect(const DialogUnits& units, int x, int y, int width, int height) {
    return {x * units.base_x / 4, y * units.base_y / 8, width * units.base_x / 4, height * units.base_y / 8};
}

QSize dialog_size(const DialogUnits& units, int width, int height) {
    return {width * units.base_x / 4, height * units.base_y / 8};
}

void apply_window_colours(QWidget* window, UiColour background) {
    QPalette palette = window->palette();
    for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
        palette.setColor(group, QPalette::Window, ui_colour(background));
    window->setPalette(palette);
    window->setAutoFillBackground(true);
}

// ---- centring ----

void centre_window(QWidget* window) {
    if (window == nullptr || !window->isWindow()) return;
    if (window->property(CENTERED_PROPERTY).toInt() != 0) return;
    QWidget* owner = window->parentWidget() ? window->parentWidget()->window() : nullptr;
    QScreen* screen = owner ? owner->screen() : QGuiApplication::primaryScreen();
    if (screen == nullptr) return;
    const QRect work = screen->availableGeometry();
    // The frame counts when the platform already knows it; before a window
    // is first mapped some platforms report no frame, and the client size
    // stands in for the outer size.
    QSize size = window->size();
    if (const QWindow* handle = window->windowHandle()) {
        const QMargins frame = handle->frameMargins();
        size += QSize(frame.left() + frame.right(), frame.top() + frame.bottom());
    }
    window->move(work.left() + (work.width() - size.width()) / 2, work.top() + (work.height() - size.height()) / 2);
    window->setProperty(CENTERED_PROPERTY, 1);
}

bool CentringHook::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Show && watched->isWidgetType()) {
        auto* widget = static_cast<QWidget*>(watched);
        if (widget->isWindow() && widget->windowType() != Qt::Popup && widget->windowType() != Qt::ToolTip)
            centre_window(widget);
    }
    return QObject::eventFilter(watched, event);
}
