// Ticker text with GDI: bold "Segoe UI" drawn white on black into a 32-bit
// top-down DIB section, its grey level taken as the coverage. GDI leaves the
// alpha byte of what it draws at 0, and ClearType may tint glyph edges, so
// the level is the mean of the three channels.
#include <windows.h>

#include <memory>
#include <type_traits>

#include "platform/text/wide_text.h"
#include "video/overlay_text_raster.h"

namespace {

struct DcFree {
    void operator()(HDC dc) const { DeleteDC(dc); }
};
struct ObjectFree {
    void operator()(HGDIOBJ object) const { DeleteObject(object); }
};
using DcPtr = std::unique_ptr<std::remove_pointer_t<HDC>, DcFree>;
using ObjectPtr = std::unique_ptr<void, ObjectFree>;

// Selects an object into the context for as long as it lives, so the
// context lets go of it before either is deleted.
struct Selection {
    HDC dc;
    HGDIOBJ previous;
    Selection(HDC context, HGDIOBJ object) : dc(context), previous(SelectObject(context, object)) {}
    ~Selection() {
        if (previous) SelectObject(dc, previous);
    }
    Selection(const Selection&) = delete;
    Selection& operator=(const Selection&) = delete;
};

}  // namespace

bool overlay_text_draw(const std::string& text, int size, int height, uint32_t max_width, TextCoverage& coverage) {
    coverage = TextCoverage{};
    const std::wstring wide = utf8_to_wide(text);
    DcPtr dc(CreateCompatibleDC(nullptr));
    if (!dc) return false;
    ObjectPtr font(CreateFontW(-size, 0, 0, 0, FW_BOLD, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                               CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY, DEFAULT_PITCH, L"Segoe UI"));
    if (!font) return false;
    const Selection font_selected(dc.get(), font.get());
    SIZE extent{};
    if (!font_selected.previous || !GetTextExtentPoint32W(dc.get(), wide.data(), int(wide.size()), &extent) ||
        extent.cx < 0 || uint32_t(extent.cx) > max_width)
        return false;
    coverage.width = uint32_t(extent.cx);
    coverage.height = uint32_t(height);
    coverage.levels.assign(size_t(coverage.width) * coverage.height, 0);
    if (coverage.width == 0) return true;  // nothing visible to draw

    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = extent.cx;
    info.bmiHeader.biHeight = -height;  // rows top to bottom
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    ObjectPtr section(CreateDIBSection(dc.get(), &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    if (!section || !bits) return false;
    const Selection section_selected(dc.get(), section.get());
    if (!section_selected.previous) return false;
    SetBkMode(dc.get(), TRANSPARENT);
    SetTextColor(dc.get(), RGB(255, 255, 255));
    RECT box{0, 0, extent.cx, height};
    if (!DrawTextW(dc.get(), wide.data(), int(wide.size()), &box, DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX))
        return false;
    GdiFlush();
    const auto* pixels = static_cast<const uint8_t*>(bits);  // a fresh section is all black
    for (size_t i = 0; i < coverage.levels.size(); ++i, pixels += 4)
        coverage.levels[i] = uint8_t((pixels[0] + pixels[1] + pixels[2] + 1) / 3);
    return true;
}
