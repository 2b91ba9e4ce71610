// Overlay pictures from ffmpeg-made PNG, JPEG and BMP files: their size as a
// share of the frame width, their own alpha, and each reason a file is refused.
#include <gtest/gtest.h>

#include <array>
#include <tuple>

#include "support/child.h"
#include "support/temp_dir.h"
#include "video/overlay_bitmap.h"
#include "video/overlay_settings.h"

namespace {

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

}  // namespace
