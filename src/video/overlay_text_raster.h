// The one thing the ticker asks of the platform's text renderer: a line of
// bold "Segoe UI" (or the face the system puts in its place) at a character
// height in pixels, as coverage levels. Pango and Cairo give it on Linux, GDI
// on Windows; the band's size, colours and margins are drawn around it by
// the shared code, so both systems place, scroll and blend the same band.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct TextCoverage {
    uint32_t width = 0;  // the text's advance width in pixels
    uint32_t height = 0;
    std::vector<uint8_t> levels;  // width x height, rows top to bottom: 0 none .. 255 fully covered
};

// Draws `text` (UTF-8) from the left edge, centred vertically in a box
// `height` pixels high and exactly as wide as the text; glyph parts beyond
// that box are cut. False when the renderer fails or the text is wider than
// `max_width`.
[[nodiscard]] bool overlay_text_draw(const std::string& text, int size, int height, uint32_t max_width,
                                     TextCoverage& coverage);
