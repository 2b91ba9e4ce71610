// The two prepared overlays (picture and ticker band) and how they are
// made, placed and blended into a 4:2:0 frame.
//
// A bitmap is top-down BGRA, 4 bytes a pixel, stride = width * 4, made once
// per settings change; x and y are worked out anew for every frame and may
// be negative (partly off the frame). Blending is integer arithmetic over
// the bitmap's own pixels, written in place, with no allocation: luma from
// every pixel, chroma from the top-left pixel of each 2 x 2 block, full-range
// BT.601 with 8-bit weights.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

struct OverlaySettings;

struct OverlayBitmap {
    std::vector<uint8_t> pixels;  // empty when the overlay is off
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t stride = 0;
    int32_t x = 0;
    int32_t y = 0;
};

// One 4:2:0 frame to paint. NV12 is cb = chroma plane, cr = cb + 1,
// chroma_step 2; planar 4:2:0 has separate planes and chroma_step 1. A
// chroma sample for even luma column c sits at (c / 2) * chroma_step.
struct Yuv420View {
    uint8_t* luma = nullptr;
    uint8_t* cb = nullptr;
    uint8_t* cr = nullptr;
    uint32_t luma_stride = 0;
    uint32_t chroma_stride = 0;
    uint32_t chroma_step = 1;
    uint32_t width = 0;
    uint32_t height = 0;
};

// The picture from `settings` (PNG, JPEG or BMP) scaled to its share of
// `frame_width`, or smaller where that would not fit the frame. Off (empty,
// true) when disabled or without a path; false when the file cannot be
// read, decoded or scaled, with the reason ("the file is empty") in `why`.
[[nodiscard]] bool overlay_prepare_picture(const OverlaySettings& settings, uint32_t frame_width, uint32_t frame_height,
                                           OverlayBitmap& bitmap, std::span<char> why);
// The ticker band: the text in bold at the settings' pixel size on an opaque
// band of text width + 32 by twice the size. Off when disabled or empty.
[[nodiscard]] bool overlay_prepare_band(const OverlaySettings& settings, OverlayBitmap& bitmap);

// Where the picture goes in a width x height frame.
void overlay_place_picture(const OverlaySettings& settings, uint32_t width, uint32_t height, OverlayBitmap& bitmap);
// Where the band is at media time `t` (100 ns) for a ticker that started at
// `scroll_origin` - 1.
void overlay_place_band(const OverlaySettings& settings, uint32_t width, uint32_t height, int64_t t,
                        int64_t scroll_origin, OverlayBitmap& bitmap);

void overlay_blend(const OverlayBitmap& bitmap, const Yuv420View& frame);
