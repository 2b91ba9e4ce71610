// Placement and blending of a prepared overlay. The arithmetic is fixed to
// the bit (callers and tests compare frames byte for byte): luma
// Y = (77 R + 150 G + 29 B) >> 8, chroma from the top-left pixel of each 2 x 2
// block with arithmetic shifts, each byte becoming (v A + d (255 - A)) / 255.
#include <algorithm>

#include "video/overlay_bitmap.h"
#include "video/overlay_settings.h"

namespace {

uint32_t clamp_pct(int32_t pct) {
    return static_cast<uint32_t>(std::clamp(pct, 0, 99));
}

uint8_t mix(int value, uint8_t alpha, uint8_t dest) {
    return static_cast<uint8_t>((value * alpha + dest * (255 - alpha)) / 255);
}

int32_t round_up_even(int32_t v) {
    return v + (v & 1);
}

}  // namespace

void overlay_place_picture(const OverlaySettings& settings, uint32_t width, uint32_t height, OverlayBitmap& bitmap) {
    const uint32_t free_x = width > bitmap.width ? width - bitmap.width : 0;
    const uint32_t free_y = height > bitmap.height ? height - bitmap.height : 0;
    bitmap.x = static_cast<int32_t>(free_x * clamp_pct(settings.image_x_pct) / 100);
    bitmap.y = static_cast<int32_t>(free_y * clamp_pct(settings.image_y_pct) / 100);
}

void overlay_place_band(const OverlaySettings& settings, uint32_t width, uint32_t height, int64_t t,
                        int64_t scroll_origin, OverlayBitmap& bitmap) {
    const int64_t speed = settings.scroll_speed > 0 ? settings.scroll_speed : 50;
    const int64_t elapsed = std::max<int64_t>(t - (scroll_origin - 1), 0);
    const int64_t travelled = elapsed * speed / 10000000;
    int64_t period = int64_t{bitmap.width} + width;
    if (period == 0) period = 1;
    bitmap.x = static_cast<int32_t>(int64_t{width} - travelled % period);
    bitmap.y = static_cast<int32_t>(height - height * clamp_pct(settings.text_bottom_pct) / 100 - bitmap.height);
}

void overlay_blend(const OverlayBitmap& bitmap, const Yuv420View& frame) {
    if (bitmap.pixels.empty()) return;
    const int32_t w = static_cast<int32_t>(bitmap.width);
    const int32_t h = static_cast<int32_t>(bitmap.height);
    const int32_t W = static_cast<int32_t>(frame.width);
    const int32_t H = static_cast<int32_t>(frame.height);
    const int32_t sx = bitmap.x < 0 ? -bitmap.x : 0;
    const int32_t sy = bitmap.y < 0 ? -bitmap.y : 0;
    const int32_t dx = std::max(bitmap.x, 0);
    const int32_t dy = std::max(bitmap.y, 0);
    if (sx >= w || sy >= h || dx >= W || dy >= H) return;

    const int32_t columns = std::min(w - sx, W - dx);
    for (int32_t r = sy; r < h && dy + (r - sy) < H; ++r) {
        const uint8_t* src = bitmap.pixels.data() + size_t(r) * bitmap.stride + size_t(sx) * 4;
        uint8_t* dest = frame.luma + size_t(dy + r - sy) * frame.luma_stride + dx;
        for (int32_t c = 0; c < columns; ++c, src += 4) {
            const uint8_t alpha = src[3];
            if (alpha == 0) continue;  // (d * 255) / 255 == d
            dest[c] = mix((77 * src[2] + 150 * src[1] + 29 * src[0]) >> 8, alpha, dest[c]);
        }
    }

    const int32_t r0 = round_up_even(sy);
    const int32_t c0 = round_up_even(sx);
    const int32_t ey = round_up_even(dy);
    const int32_t ex = round_up_even(dx);
    for (int32_t r = r0; r + 1 < h && ey + 1 + (r - r0) < H; r += 2) {
        const size_t chroma_row = size_t(ey + r - r0) / 2 * frame.chroma_stride;
        for (int32_t c = c0; c + 1 < w && ex + 1 + (c - c0) < W; c += 2) {
            const uint8_t* p = bitmap.pixels.data() + size_t(r) * bitmap.stride + size_t(c) * 4;
            const uint8_t alpha = p[3];
            if (alpha == 0) continue;
            const int B = p[0], G = p[1], R = p[2];
            const int u = std::clamp(((128 * B - 85 * G - 43 * R) >> 8) + 128, 0, 255);
            const int v = std::clamp(((128 * R - 107 * G - 21 * B) >> 8) + 128, 0, 255);
            const size_t at = chroma_row + size_t(ex + c - c0) / 2 * frame.chroma_step;
            frame.cb[at] = mix(u, alpha, frame.cb[at]);
            frame.cr[at] = mix(v, alpha, frame.cr[at]);
        }
    }
}
