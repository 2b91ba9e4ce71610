// The ticker band: one line of bold text at the size in pixels on a band of
// its own colour. The band is the text's width + 32 wide and twice the size
// high, the text 16 pixels in from the left and centred vertically, clipped
// 16 pixels before the right edge; every pixel is opaque. The platform's
// renderer gives the glyphs' coverage; the colours are mixed here.
#include "platform/text/text.h"
#include "video/overlay_bitmap.h"
#include "video/overlay_settings.h"
#include "video/overlay_text_raster.h"

namespace {

constexpr uint32_t MARGIN = 16;
constexpr uint32_t MAX_BAND_WIDTH = 1 << 15;  // the renderers' own limit on an image side

// One 0x00BBGGRR channel (shift 0 red, 8 green, 16 blue) of `over` laid on
// `under` by `level`, rounded as the renderers round.
uint8_t mix(uint32_t over, uint32_t under, int shift, uint32_t level) {
    const uint32_t top = (over >> shift) & 0xFF;
    const uint32_t bottom = (under >> shift) & 0xFF;
    return uint8_t((top * level + bottom * (255 - level) + 127) / 255);
}

}  // namespace

bool overlay_prepare_band(const OverlaySettings& settings, OverlayBitmap& bitmap) {
    bitmap = OverlayBitmap{};
    const std::string text = utf16_fit(settings.text, 512);
    if (!settings.text_enabled || text.empty()) return true;
    const int size = settings.font_size > 0 ? settings.font_size : 24;
    if (size > int(MAX_BAND_WIDTH / 2)) return false;

    TextCoverage glyphs;
    if (!overlay_text_draw(text, size, 2 * size, MAX_BAND_WIDTH - 2 * MARGIN, glyphs)) return false;
    const uint32_t band = settings.background_color == 0xFFFFFFFF ? 0 : settings.background_color;
    bitmap.width = glyphs.width + 2 * MARGIN;
    bitmap.height = uint32_t(2 * size);
    bitmap.stride = bitmap.width * 4;
    bitmap.pixels.resize(size_t(bitmap.stride) * bitmap.height);
    for (uint32_t y = 0; y < bitmap.height; ++y) {
        uint8_t* dest = bitmap.pixels.data() + size_t(y) * bitmap.stride;
        for (uint32_t x = 0; x < bitmap.width; ++x, dest += 4) {
            const bool inside = x >= MARGIN && x < MARGIN + glyphs.width;
            const uint32_t level = inside ? glyphs.levels[size_t(y) * glyphs.width + (x - MARGIN)] : 0;
            dest[0] = mix(settings.text_color, band, 16, level);
            dest[1] = mix(settings.text_color, band, 8, level);
            dest[2] = mix(settings.text_color, band, 0, level);
            dest[3] = 255;
        }
    }
    return true;
}
