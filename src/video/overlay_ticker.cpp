// The ticker band: one line of bold text drawn with Pango on a Cairo image
// surface. We ask for "Segoe UI" at the size in pixels; fontconfig answers
// with the installed sans when that face is missing. The band is the text's
// logical width + 32 wide and twice the size high, filled with the band
// colour, the text 16 pixels in from the left and centred vertically,
// clipped 16 pixels before the right edge; every pixel is made opaque.
#include <pango/pangocairo.h>

#include <memory>

#include "platform/text/text.h"
#include "video/overlay_bitmap.h"
#include "video/overlay_settings.h"

namespace {

struct CairoSurfaceFree {
    void operator()(cairo_surface_t* surface) const { cairo_surface_destroy(surface); }
};
struct CairoFree {
    void operator()(cairo_t* cairo) const { cairo_destroy(cairo); }
};
struct GObjectUnref {
    void operator()(void* object) const { g_object_unref(object); }
};
struct FontDescriptionFree {
    void operator()(PangoFontDescription* font) const { pango_font_description_free(font); }
};
using SurfacePtr = std::unique_ptr<cairo_surface_t, CairoSurfaceFree>;
using CairoPtr = std::unique_ptr<cairo_t, CairoFree>;
using LayoutPtr = std::unique_ptr<PangoLayout, GObjectUnref>;

constexpr int MARGIN = 16;
constexpr int MAX_BAND_WIDTH = 1 << 15;  // cairo's own limit on an image side

// 0x00BBGGRR to Cairo's 0..1 channels.
void set_colour(cairo_t* cairo, uint32_t bgr) {
    cairo_set_source_rgb(cairo, (bgr & 0xFF) / 255.0, ((bgr >> 8) & 0xFF) / 255.0, ((bgr >> 16) & 0xFF) / 255.0);
}

// Each preparation has its own font map, so the glyph and font caches it
// builds are released with it instead of living on in the thread.
struct Fonts {
    std::unique_ptr<PangoFontMap, GObjectUnref> map{pango_cairo_font_map_new()};
    std::unique_ptr<PangoContext, GObjectUnref> context{pango_font_map_create_context(map.get())};
};

LayoutPtr make_layout(Fonts& fonts, cairo_t* cairo, const std::string& text, int size) {
    pango_cairo_update_context(cairo, fonts.context.get());
    LayoutPtr layout(pango_layout_new(fonts.context.get()));
    std::unique_ptr<PangoFontDescription, FontDescriptionFree> font(pango_font_description_new());
    pango_font_description_set_family(font.get(), "Segoe UI");
    pango_font_description_set_weight(font.get(), PANGO_WEIGHT_BOLD);
    pango_font_description_set_absolute_size(font.get(), double(size) * PANGO_SCALE);
    pango_layout_set_font_description(layout.get(), font.get());
    pango_layout_set_single_paragraph_mode(layout.get(), TRUE);
    pango_layout_set_text(layout.get(), text.c_str(), int(text.size()));
    return layout;
}

}  // namespace

bool overlay_prepare_band(const OverlaySettings& settings, OverlayBitmap& bitmap) {
    bitmap = OverlayBitmap{};
    const std::string text = utf16_fit(settings.text, 512);
    if (!settings.text_enabled || text.empty()) return true;
    const int size = settings.font_size > 0 ? settings.font_size : 24;
    if (size > MAX_BAND_WIDTH / 2) return false;

    Fonts fonts;
    if (!fonts.map || !fonts.context) return false;
    SurfacePtr measure_surface(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 1, 1));
    CairoPtr measure(cairo_create(measure_surface.get()));
    if (cairo_status(measure.get()) != CAIRO_STATUS_SUCCESS) return false;
    int text_width = 0;
    int text_height = 0;
    pango_layout_get_pixel_size(make_layout(fonts, measure.get(), text, size).get(), &text_width, &text_height);
    if (text_width + 2 * MARGIN > MAX_BAND_WIDTH) return false;

    const int width = text_width + 2 * MARGIN;
    const int height = 2 * size;
    SurfacePtr surface(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height));
    CairoPtr cairo(cairo_create(surface.get()));
    if (cairo_status(cairo.get()) != CAIRO_STATUS_SUCCESS) return false;
    set_colour(cairo.get(), settings.background_color == 0xFFFFFFFF ? 0 : settings.background_color);
    cairo_paint(cairo.get());
    cairo_rectangle(cairo.get(), MARGIN, 0, width - 2 * MARGIN, height);
    cairo_clip(cairo.get());
    set_colour(cairo.get(), settings.text_color);
    cairo_move_to(cairo.get(), MARGIN, (height - text_height) / 2);
    pango_cairo_show_layout(cairo.get(), make_layout(fonts, cairo.get(), text, size).get());
    cairo_surface_flush(surface.get());
    if (cairo_status(cairo.get()) != CAIRO_STATUS_SUCCESS) return false;

    // Cairo keeps native-endian 0xAARRGGBB words, premultiplied; on an opaque
    // surface those are the straight colours.
    bitmap.width = uint32_t(width);
    bitmap.height = uint32_t(height);
    bitmap.stride = bitmap.width * 4;
    bitmap.pixels.resize(size_t(bitmap.stride) * bitmap.height);
    const unsigned char* rows = cairo_image_surface_get_data(surface.get());
    const int row_bytes = cairo_image_surface_get_stride(surface.get());
    for (int y = 0; y < height; ++y) {
        const auto* src = reinterpret_cast<const uint32_t*>(rows + size_t(y) * size_t(row_bytes));
        uint8_t* dest = bitmap.pixels.data() + size_t(y) * bitmap.stride;
        for (int x = 0; x < width; ++x, dest += 4) {
            dest[0] = uint8_t(src[x]);
            dest[1] = uint8_t(src[x] >> 8);
            dest[2] = uint8_t(src[x] >> 16);
            dest[3] = 255;
        }
    }
    return true;
}
