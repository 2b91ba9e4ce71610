// Ticker text with Pango on a Cairo alpha-only surface. We ask for "Segoe
// UI"; fontconfig answers with the installed sans when that face is missing.
// Cairo anti-aliases in grey there, so its alpha is the coverage.
#include <pango/pangocairo.h>

#include <algorithm>
#include <memory>

#include "video/overlay_text_raster.h"

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

// Each drawing has its own font map, so the glyph and font caches it builds
// are released with it instead of living on in the thread.
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

bool overlay_text_draw(const std::string& text, int size, int height, uint32_t max_width, TextCoverage& coverage) {
    coverage = TextCoverage{};
    Fonts fonts;
    if (!fonts.map || !fonts.context) return false;
    SurfacePtr measure_surface(cairo_image_surface_create(CAIRO_FORMAT_A8, 1, 1));
    CairoPtr measure(cairo_create(measure_surface.get()));
    if (cairo_status(measure.get()) != CAIRO_STATUS_SUCCESS) return false;
    int text_width = 0;
    int text_height = 0;
    pango_layout_get_pixel_size(make_layout(fonts, measure.get(), text, size).get(), &text_width, &text_height);
    if (text_width < 0 || uint32_t(text_width) > max_width) return false;

    SurfacePtr surface(cairo_image_surface_create(CAIRO_FORMAT_A8, text_width, height));
    CairoPtr cairo(cairo_create(surface.get()));
    if (cairo_status(cairo.get()) != CAIRO_STATUS_SUCCESS) return false;
    cairo_move_to(cairo.get(), 0, (height - text_height) / 2);
    pango_cairo_show_layout(cairo.get(), make_layout(fonts, cairo.get(), text, size).get());
    cairo_surface_flush(surface.get());
    if (cairo_status(cairo.get()) != CAIRO_STATUS_SUCCESS) return false;

    coverage.width = uint32_t(text_width);
    coverage.height = uint32_t(height);
    coverage.levels.resize(size_t(coverage.width) * coverage.height);
    const unsigned char* rows = cairo_image_surface_get_data(surface.get());
    const size_t row_bytes = size_t(cairo_image_surface_get_stride(surface.get()));
    for (uint32_t y = 0; y < coverage.height; ++y)
        std::copy_n(rows + y * row_bytes, coverage.width, coverage.levels.data() + size_t(y) * coverage.width);
    return true;
}
