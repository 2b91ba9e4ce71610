// The compositor to the bit against the blend rules written out plainly, on
// NV12 and planar 4:2:0; then picture and band sizes, placement, the ticker
// clock and live rebuilds.
#include "video/overlay_compositor.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <random>
#include <tuple>

#include "support/child.h"
#include "support/temp_dir.h"
#include "video/overlay_editor.h"

namespace {

using Bytes = std::vector<uint8_t>;

// The blend rules read literally, on NV12 (W x H, stride P).
void reference_blend(const OverlayBitmap& b, Bytes& frame, int W, int H, int P) {
    const int w = int(b.width), h = int(b.height), S = int(b.stride);
    const int sx = b.x < 0 ? -b.x : 0, sy = b.y < 0 ? -b.y : 0;
    const int dx = std::max(b.x, 0), dy = std::max(b.y, 0);
    if (sx >= w || sy >= h || dx >= W || dy >= H) return;
    auto px = [&](int r, int c, int k) { return int(b.pixels[size_t(r * S + 4 * c + k)]); };
    auto mix = [](int v, int a, int d) { return uint8_t((v * a + d * (255 - a)) / 255); };
    for (int r = sy; r < h && dy + (r - sy) < H; ++r) {
        for (int c = sx; c < w && dx + (c - sx) < W; ++c) {
            const int Y = (77 * px(r, c, 2) + 150 * px(r, c, 1) + 29 * px(r, c, 0)) >> 8;
            uint8_t& d = frame[size_t((dy + r - sy) * P + dx + (c - sx))];
            d = mix(Y, px(r, c, 3), d);
        }
    }
    const int r0 = (sy + 1) / 2 * 2, c0 = (sx + 1) / 2 * 2, ey = (dy + 1) / 2 * 2, ex = (dx + 1) / 2 * 2;
    for (int r = r0; r + 1 < h && ey + 1 + (r - r0) < H; r += 2) {
        for (int c = c0; c + 1 < w && ex + 1 + (c - c0) < W; c += 2) {
            const int B = px(r, c, 0), G = px(r, c, 1), R = px(r, c, 2), A = px(r, c, 3);
            const int U = std::clamp(((128 * B - 85 * G - 43 * R) >> 8) + 128, 0, 255);
            const int V = std::clamp(((128 * R - 107 * G - 21 * B) >> 8) + 128, 0, 255);
            const size_t at = size_t(P * H + (ey + r - r0) / 2 * P + ex + (c - c0));
            frame[at] = mix(U, A, frame[at]);
            frame[at + 1] = mix(V, A, frame[at + 1]);
        }
    }
}

TEST(OverlayBlend, MatchesTheRulesBitForBitOnNv12AndPlanarFrames) {
    constexpr int W = 128, H = 36, P = 144, C = 72;  // C: planar chroma stride
    const std::vector<std::tuple<uint32_t, uint32_t, int, int, bool>> cases = {
        {10, 8, 0, 0, false},     {9, 7, 101, 13, false},  // odd: chroma from the next even
        {10, 8, -3, 5, false},    {10, 8, 5, -4, false},    {10, 8, -5, -5, false},
        {10, 8, W - 5, 4, false}, {10, 8, 4, H - 3, false}, {10, 8, W - 1, H - 1, false},
        {150, 50, -7, -9, false},  // beyond every edge
        {10, 8, W, 0, false},     {10, 8, 0, H, false},     {10, 8, -10, 0, false},
        {12, 10, 3, 3, true},  // alpha 0 everywhere: nothing changes
    };
    std::mt19937 random(11);
    // Planar chroma of an NV12 frame.
    auto split = [](const Bytes& nv12, int k) {
        Bytes plane(size_t(C) * H / 2);
        for (size_t i = 0; i < plane.size(); ++i)
            plane[i] = nv12[size_t(P * H) + (i / C) * P + (i % C) * 2 + size_t(k)];
        return plane;
    };
    for (const auto& [w, h, x, y, transparent] : cases) {
        OverlayBitmap b = {Bytes(size_t(w) * h * 4), w, h, w * 4, x, y};
        for (size_t i = 0; i < b.pixels.size(); ++i) {
            const uint8_t alphas[] = {0, 255, uint8_t(random())};
            b.pixels[i] = i % 4 != 3 ? uint8_t(random()) : transparent ? 0 : alphas[random() % 3];
        }
        Bytes nv12(size_t(P) * H * 3 / 2);
        for (uint8_t& byte : nv12) byte = uint8_t(random());
        Bytes want = nv12, luma(nv12.begin(), nv12.begin() + P * H), cb = split(nv12, 0), cr = split(nv12, 1);
        reference_blend(b, want, W, H, P);
        overlay_blend(b, {nv12.data(), nv12.data() + P * H, nv12.data() + P * H + 1, P, P, 2, W, H});
        EXPECT_EQ(nv12, want) << w << "x" << h << " at " << x << "," << y;
        overlay_blend(b, {luma.data(), cb.data(), cr.data(), P, C, 1, W, H});
        EXPECT_TRUE(std::equal(luma.begin(), luma.end(), want.begin()) && cb == split(want, 0) && cr == split(want, 1))
            << "planar " << x << "," << y;
    }
}

TEST(OverlayPlacement, PicturePositionsClampTheirPercentages) {
    const std::vector<std::array<int, 6>> cases = {
        // x %, y %, width, height -> x, y
        {0, 0, 384, 192, 0, 0},   {50, 50, 384, 192, 768, 444},  {100, 100, 384, 192, 1520, 879},
        {-5, -5, 384, 192, 0, 0}, {99, 99, 384, 192, 1520, 879}, {50, 50, 2400, 1200, 0, 0},  // larger than the frame
    };
    OverlaySettings settings;
    for (const auto& [x_pct, y_pct, w, h, x, y] : cases) {
        settings.image_x_pct = x_pct, settings.image_y_pct = y_pct;
        OverlayBitmap bitmap = {{}, uint32_t(w), uint32_t(h)};
        overlay_place_picture(settings, 1920, 1080, bitmap);
        EXPECT_EQ(std::pair(bitmap.x, bitmap.y), std::pair(x, y)) << x_pct << "," << y_pct;
    }
}

TEST(OverlayPlacement, BandScrollsByMediaTimeAndEntersAgain) {
    const OverlaySettings settings;  // scroll speed 0: 50 px/s
    OverlayBitmap band = {{}, 400, 48};
    const int64_t origin = 7000001;  // first frame at 0.7 s
    const std::vector<std::pair<int64_t, int32_t>> cases = {
        {7000000, 1280},                     // first frame: just off the right edge
        {7000000 + 10000000, 1230},          // 1 s later: 50 px in
        {7000000 + 335800000, 1280 - 1679},  // the last column about to leave
        {7000000 + 336000000, 1280},         // (1280 + 400) / 50 = 33.6 s: enters again
        {3000000, 1280},                     // before the origin: held at the right edge
    };
    for (const auto& [t, x] : cases) {
        overlay_place_band(settings, 1280, 720, t, origin, band);
        EXPECT_EQ(std::pair(band.x, band.y), std::pair(x, 720 - 48)) << t;
    }
}

TEST(OverlayPrepare, PicturesScaleToTheirShareOfTheFrameWidth) {
    TempDir dir;  // 1000 x 500 (a tall one 200 x 2000), half-transparent red (the JPEG opaque)
    for (const char* name : {"half.png", "plain.jpg", "half.bmp", "tall.png"}) {
        const std::string size = name == std::string("tall.png") ? "200x2000" : "1000x500";
        ASSERT_EQ(run_command({"ffmpeg", "-nostdin", "-loglevel", "error", "-f", "lavfi", "-i",
                               "color=c=red@0.5:s=" + size + ",format=rgba", "-frames:v", "1", dir.file(name)}),
                  0);
    }
    const std::vector<std::tuple<const char*, int32_t, uint32_t, uint32_t, int>> cases = {
        {"half.png", 0, 384, 192, 128},  // 0 means 20 %; the image's own alpha is kept
        {"plain.jpg", 10, 192, 96, 255},   {"half.bmp", -3, 384, 192, 128},  // 32-bit BMP: alpha too
        {"tall.png", 100, 108, 1080, 128},                                   // never larger than the frame
        {"half.png", 300, 1920, 960, 128},
    };
    OverlaySettings settings;
    settings.image_enabled = 1;
    OverlayBitmap bitmap;
    std::array<char, 64> why{};
    for (const auto& [name, scale, w, h, alpha] : cases) {
        settings.image_path = dir.file(name), settings.image_scale_pct = scale;
        ASSERT_TRUE(overlay_prepare_picture(settings, 1920, 1080, bitmap, why)) << name;
        EXPECT_EQ(std::tuple(bitmap.width, bitmap.height, bitmap.stride), std::tuple(w, h, w * 4)) << name;
        const uint8_t* middle = &bitmap.pixels[(h / 2 * w + w / 2) * 4];
        EXPECT_TRUE(std::abs(middle[2] - 255) <= 3 && std::abs(middle[3] - alpha) <= 2) << name;  // red, its alpha
    }
    settings.image_path = "";
    EXPECT_TRUE(overlay_prepare_picture(settings, 1920, 1080, bitmap, why) && bitmap.pixels.empty());  // no path
    write_file(dir.file("text.png"), "not an image at all");
    ASSERT_EQ(run_command({"ffmpeg", "-nostdin", "-loglevel", "error", "-f", "lavfi", "-i", "color=s=8192x5000",
                           "-frames:v", "1", "-pix_fmt", "gray", dir.file("huge.png")}),
              0);  // a small file that decodes to 41 megapixels
    write_file(dir.file("empty.png"), "");
    for (const auto& [bad, reason] :
         {std::pair{dir.file("missing.png"), "no file at the image path"},
          {dir.path(), "no file at the image path"},
          {dir.file("empty.png"), "the file is empty"},
          {dir.file("text.png"), "the file is not a PNG, JPEG or BMP image"},
          {dir.file("huge.png"), "the image cannot be decoded (damaged, or over 40 megapixels)"}}) {
        settings.image_path = bad;
        EXPECT_FALSE(overlay_prepare_picture(settings, 1920, 1080, bitmap, why)) << bad;
        EXPECT_STREQ(why.data(), reason);
    }
}

TEST(OverlayPrepare, BandIsTwiceTheFontSizeOpaqueAndBlackForTheNoColourValue) {
    OverlaySettings settings;
    settings.text_enabled = 1, settings.text = "Breaking news", settings.text_bottom_pct = 99, settings.font_size = 40;
    settings.text_color = 0x00FFFFFF, settings.background_color = 0xFFFFFFFF;
    OverlayBitmap band;
    ASSERT_TRUE(overlay_prepare_band(settings, band));
    EXPECT_EQ(band.height, 80u);
    bool white = false;  // the text was drawn
    for (size_t i = 0; i < band.pixels.size(); i += 4) {
        ASSERT_EQ(band.pixels[i + 3], 255) << "pixel " << i / 4;
        white = white || (band.pixels[i] & band.pixels[i + 1] & band.pixels[i + 2]) == 255;
    }
    EXPECT_TRUE(white);
    EXPECT_EQ(Bytes(band.pixels.begin(), band.pixels.begin() + 4), (Bytes{0, 0, 0, 255}));
    overlay_place_band(settings, 1280, 720, 0, 1, band);
    EXPECT_EQ(band.y, 720 - 712 - 80);  // its top 72 rows are off the frame
    settings.text = "";
    EXPECT_TRUE(overlay_prepare_band(settings, band) && band.pixels.empty());  // no text: no band
}

TEST(OverlayCompositor, RevisionChangeOrAStepBackRestartsTheTicker) {
    OverlayEditor editor;
    editor.values.text_enabled = 1, editor.values.text = "ticker";
    editor.watch();
    OverlayCompositor compositor;
    overlay_compositor_init(compositor, editor.values);
    std::array<char, 128> error{};
    ASSERT_TRUE(overlay_compositor_prepare(compositor, 320, 240, error));
    Bytes frame(size_t(320) * 240 * 3 / 2, 16);
    uint8_t* chroma = frame.data() + 320 * 240;
    const Yuv420View view = {frame.data(), chroma, chroma + 1, 320, 320, 2, 320, 240};
    overlay_compositor_paint(compositor, view, 0);
    overlay_compositor_paint(compositor, view, 50000000);  // 5 s: 250 px in
    EXPECT_EQ(compositor.band.x, 320 - 250);
    ASSERT_TRUE(overlay_compositor_update(compositor, 320, 240, error));
    EXPECT_EQ(editor.fetches, 0);  // nothing changed
    editor.revision = 1;           // confirmed without changes: still rebuilt and restarted
    ASSERT_TRUE(overlay_compositor_update(compositor, 320, 240, error));
    EXPECT_EQ(editor.fetches, 1);
    overlay_compositor_paint(compositor, view, 60000000);
    EXPECT_EQ(compositor.band.x, 320);
    // Media time stepping back below where the ticker began starts it again, as a new run would.
    overlay_compositor_paint(compositor, view, 10000000);
    overlay_compositor_paint(compositor, view, 60000000);
    EXPECT_EQ(compositor.band.x, 320 - 250);
    editor.values.image_enabled = 1, editor.values.image_path = "/nonexistent/logo.png", editor.revision = 2;
    EXPECT_FALSE(overlay_compositor_update(compositor, 320, 240, error));
    EXPECT_STREQ(error.data(), "live overlay update failed");
    EXPECT_EQ(compositor.revision_seen, 1u);
    // An edit confirmed between the engine's snapshot and the first frame is not lost.
    editor.values.image_enabled = 0;
    OverlayCompositor late;
    overlay_compositor_init(late, editor.values);  // a snapshot taken at revision 0
    editor.revision = 3;
    ASSERT_TRUE(overlay_compositor_prepare(late, 320, 240, error));
    const int fetches = editor.fetches;
    ASSERT_TRUE(overlay_compositor_update(late, 320, 240, error));
    EXPECT_EQ(editor.fetches, fetches + 1);
}

}  // namespace
