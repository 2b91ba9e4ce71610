// The compositor stage: the pipeline's own copy of the overlay settings,
// the two bitmaps prepared from it, and the ticker's clock.
//
// Bitmaps are made at encoder set-up and again only when the workflow's
// `revision` counter has moved on (checked once per frame, between frames);
// painting a frame is placement plus blending, nothing else. The scroll
// origin is the media time of the first frame painted after a (re)build
// or a step back in time plus one, 0 while unset, so the ticker enters from
// the right edge again after either.
#pragma once

#include <cstdint>
#include <span>

#include "video/overlay_bitmap.h"
#include "video/overlay_settings.h"

struct OverlayCompositor {
    OverlaySettings settings;
    OverlayBitmap picture;
    OverlayBitmap band;
    int64_t scroll_origin = 0;
    int64_t last_paint_time = -1;
    uint32_t revision_seen = 0;
};

// Copies `settings`, the texts cut to the lengths the pipeline keeps.
void overlay_compositor_init(OverlayCompositor& compositor, const OverlaySettings& settings);

// Prepares the picture, then the band, for frames of the given size. False
// when either cannot be made; for the picture, `error` then says "overlay
// picture cannot be used: <why>".
[[nodiscard]] bool overlay_compositor_prepare(OverlayCompositor& compositor, uint32_t frame_width,
                                              uint32_t frame_height, std::span<char> error);

// Fetches fresh settings and rebuilds when the revision moved on; true when
// nothing had to change or the rebuild worked. A failure writes "live
// overlay update failed" and keeps the old revision seen.
[[nodiscard]] bool overlay_compositor_update(OverlayCompositor& compositor, uint32_t frame_width, uint32_t frame_height,
                                             std::span<char> error);

// Places and blends the picture, then the band, into a frame at media time
// `t` (100 ns units, not negative). Time that steps back (an encoder
// restart, a timestamp wrap, a recording of several captures looping)
// restarts the ticker from the right edge, as a new run would.
void overlay_compositor_paint(OverlayCompositor& compositor, const Yuv420View& frame, int64_t t);
