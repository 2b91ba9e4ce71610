// The pipeline end to end on clips ffmpeg makes, judged by ffprobe and
// ffmpeg: every unit fed comes out, no B-frames, a key frame with SPS and PPS
// every 2 s, the overlays' colours where they were placed; then the faults
// mended along the way.
#include "video/video_pipeline.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <tuple>

#include "media/annexb.h"
#include "support/child.h"
#include "support/media_fixtures.h"
#include "support/temp_dir.h"
#include "video/overlay_editor.h"
#include "video/video_pipeline_state.h"

namespace {

using ::testing::Pointwise;

MATCHER_P(Near, bound, "") {
    return std::abs(std::get<0>(arg) - std::get<1>(arg)) <= bound;
}

struct Output {
    std::string stream;
    std::vector<int64_t> pts;
    std::vector<bool> key;      // IDR
    std::vector<bool> headers;  // SPS and PPS
    size_t refuse_after = SIZE_MAX;
};

int collect(void* context, uint32_t kind, std::span<const uint8_t> data, int64_t pts, int64_t dts) {
    auto& out = *static_cast<Output*>(context);
    if (kind != ES_VIDEO || pts != dts || out.pts.size() >= out.refuse_after) return 0;
    out.stream.append(data.begin(), data.end());
    out.pts.push_back(pts);
    uint32_t seen = 0;  // bit per NAL type
    AnnexbScanner scanner = annexb_scanner(data);
    for (std::span<const uint8_t> nal; annexb_next_nal(scanner, nal);) seen |= 1u << h264_nal_type(nal);
    const uint32_t headers = 1u << H264_NAL_SPS | 1u << H264_NAL_PPS;
    out.key.push_back(seen & 1u << H264_NAL_IDR);
    out.headers.push_back((seen & headers) == headers);
    return 1;
}

// A logo and a 320x240 25 fps second, made once per suite.
class VideoPipelineTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        dir_ = new TempDir;
        ASSERT_EQ(run_command({"ffmpeg", "-nostdin", "-loglevel", "error", "-f", "lavfi", "-i", "color=c=red:s=200x100",
                               "-frames:v", "1", dir_->file("logo.png")}),
                  0);
        ASSERT_TRUE(make_clip(dir_->file("small.ts"), {.seconds = 1}));
        small_ = new std::vector<FileUnit>(read_units(dir_->file("small.ts")));
        ASSERT_EQ(small_->size(), 25u);
    }
    static void TearDownTestSuite() { delete small_, delete dir_; }
    // A red picture and a plain blue band.
    static OverlaySettings settings(const std::string& encoder) {
        OverlaySettings s;
        s.image_enabled = 1, s.image_path = dir_->file("logo.png"), s.image_x_pct = 50, s.image_y_pct = 10;
        s.text_enabled = 1, s.text = "Veltrona ticker test line", s.font_size = 24, s.scroll_speed = 50;
        s.text_color = s.background_color = 0x00FF0000, s.encoder = encoder;
        return s;
    }
    // Feeds units [first, end); false at the first refusal.
    static bool feed(VideoPipeline* pipeline, const std::vector<FileUnit>& units, size_t first, size_t end,
                     std::span<char> error) {
        for (size_t i = first; i < end; ++i)
            if (!video_pipeline_feed(pipeline, units[i].bytes, units[i].pts, units[i].dts, error)) return false;
        return true;
    }
    static inline TempDir* dir_ = nullptr;
    static inline std::vector<FileUnit>* small_ = nullptr;
    Output out_;
    std::array<char, 256> error_{};
};

// Y, U, V of frame `index` at (x, y) in raw 1280x720 4:2:0.
std::array<int, 3> sample(const std::string& yuv, int index, int x, int y) {
    constexpr size_t W = 1280, H = 720;
    const size_t base = W * H * 3 / 2 * size_t(index), chroma = W * H + y / 2 * W / 2 + x / 2;
    return {uint8_t(yuv[base + y * W + x]), uint8_t(yuv[base + chroma]), uint8_t(yuv[base + chroma + W * H / 4])};
}

// 720p30 with B-frames for 3 s, then 1 s of 1080p30 one frame after it.
TEST_F(VideoPipelineTest, OverlaysEveryFrameAndEncodesWhatPlayersDecode) {
    ASSERT_TRUE(make_clip(dir_->file("720.ts"), {.seconds = 3, .size = "1280x720", .rate = 30, .b_frames = 2}));
    ASSERT_TRUE(make_clip(dir_->file("1080.ts"), {.seconds = 1, .size = "1920x1080", .rate = 30}));
    std::vector<FileUnit> units = read_units(dir_->file("720.ts")), tail = read_units(dir_->file("1080.ts"));
    ASSERT_FALSE(units.empty() || tail.empty());
    const int64_t end = std::ranges::max(units, {}, &FileUnit::pts).pts;  // the 720p part's last picture
    const int64_t shift = end + 3000 - tail.front().pts;                  // no B-frames: first is earliest
    for (FileUnit& unit : tail) unit.pts += shift, unit.dts += shift, units.push_back(std::move(unit));
    VideoPipelinePtr pipeline(video_pipeline_create(settings("Auto"), collect, &out_, error_));
    ASSERT_TRUE(pipeline) << error_.data();
    ASSERT_TRUE(feed(pipeline.get(), units, 0, units.size(), error_)) << error_.data();
    ASSERT_EQ(video_pipeline_finish(pipeline.get(), error_), 1) << error_.data();
    EXPECT_EQ(video_pipeline_encoder_name(pipeline.get()), "libx264 (software)");
    // Every unit out as one unit, times increasing though the source has
    // B-frames; a key frame with headers every 2 s of media time, none further apart.
    ASSERT_EQ(out_.pts.size(), units.size());
    int64_t last_key = out_.pts[0];
    for (size_t i = 0; i < out_.pts.size(); ++i) {
        ASSERT_TRUE(i == 0 || out_.pts[i] > out_.pts[i - 1]) << i;
        EXPECT_TRUE(out_.key[i] || (out_.pts[i] - out_.pts[0]) % 180000 != 0) << i;
        if (!out_.key[i]) continue;
        EXPECT_TRUE(out_.headers[i]) << i;
        EXPECT_LE(out_.pts[i] - last_key, 180000) << i;
        last_key = out_.pts[i];
    }
    const std::string h264 = dir_->file("out.h264"), yuv_path = dir_->file("out.yuv");
    write_file(h264, out_.stream);
    // The 1080p part scaled to the encoder's size; no B-frames.
    for (const std::string& line : probe_lines(h264, "", "frame=pict_type,width,height"))
        EXPECT_TRUE(line.starts_with("1280,720,") && line.find('B') == line.npos) << line;
    ASSERT_EQ(run_command({"ffmpeg", "-nostdin", "-loglevel", "error", "-i", h264, "-fps_mode", "passthrough", "-f",
                           "rawvideo", "-pix_fmt", "yuv420p", yuv_path}),
              0);
    const std::string yuv = read_file(yuv_path);
    ASSERT_EQ(yuv.size(), size_t(1280) * 720 * 3 / 2 * units.size());
    // Red picture: 256 x 128 at (512, 59). Blue band: 48 high at y 672,
    // entering from x 1280 at 50 px/s.
    for (int index : {60, 100}) {
        EXPECT_THAT(sample(yuv, index, 640, 122), Pointwise(Near(8), {76, 85, 255})) << "picture, frame " << index;
        EXPECT_THAT(sample(yuv, index, 1280 - index * 50 / 30 + 12, 694), Pointwise(Near(8), {28, 255, 107}))
            << "band, frame " << index;
    }
}

// Damaged units are skipped as a player would. At a loop restart (the same
// units again, times stepping back) every unit still comes out with its own
// time, and the restart is a key frame. Empty input is refused without an
// error, and a pipeline that never opened its encoder finishes cleanly. (A
// live edit's fetch is the compositor's test; its failure is below.) Video
// that never decodes is a failure, not a stream of audio alone.
TEST_F(VideoPipelineTest, DamagedUnitsAndLoopRestartsKeepTheStreamGoing) {
    VideoPipelinePtr idle(video_pipeline_create(settings("Auto"), collect, &out_, error_));
    EXPECT_EQ(video_pipeline_feed(idle.get(), {}, 0, 0, error_), 0);
    EXPECT_STREQ(error_.data(), "");
    EXPECT_EQ(video_pipeline_finish(idle.get(), error_), 1);
    VideoPipelinePtr pipeline(video_pipeline_create(settings("Software H.264"), collect, &out_, error_));
    ASSERT_TRUE(pipeline);
    const std::vector<uint8_t> slice_without_headers = {0, 0, 0, 1, 0x65, 0x88, 0x84, 0, 0x33, 0xFF};
    const std::vector<uint8_t> noise = {0, 0, 1, 0x67, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 1, 0x68, 0xFF};
    EXPECT_EQ(video_pipeline_feed(pipeline.get(), slice_without_headers, 0, 0, error_), 1);
    EXPECT_EQ(video_pipeline_feed(pipeline.get(), noise, 3600, 3600, error_), 1) << error_.data();
    EXPECT_EQ(video_pipeline_feed(nullptr, noise, 3600, 3600, error_), 0);
    ASSERT_TRUE(feed(pipeline.get(), *small_, 0, 25, error_)) << error_.data();
    ASSERT_TRUE(feed(pipeline.get(), *small_, 0, 25, error_)) << error_.data();
    ASSERT_EQ(video_pipeline_finish(pipeline.get(), error_), 1) << error_.data();
    ASSERT_EQ(out_.pts.size(), 50u);
    EXPECT_EQ(std::tuple(out_.pts[25], out_.key[25] && out_.headers[25]), std::tuple(out_.pts[0], true));
    // Video that never decodes fails once 10 s of media time have brought no picture.
    VideoPipelinePtr broken(video_pipeline_create(settings("Software H.264"), collect, &out_, error_));
    int64_t t = 90000;
    while (t < 90000 * 12 && video_pipeline_feed(broken.get(), slice_without_headers, t, t, error_)) t += 3600;
    EXPECT_EQ(t, 90000 * 11);
    EXPECT_THAT(error_.data(), ::testing::StartsWith("H.264 decoder failed: no picture decoded for 10 s (251 units"));
}

// Each failure fails the feed with its message; the pipeline is then freed
// (LeakSanitizer checks that nothing is left behind).
TEST_F(VideoPipelineTest, FailuresMidRunLeaveThePipelineFreeable) {
    constexpr size_t NEVER = SIZE_MAX, EDIT = 10;
    // Encoder, bitrate, unit the picture is lost at (0: from the start), deliveries accepted.
    const std::vector<std::tuple<std::string, uint32_t, size_t, size_t, const char*>> cases = {
        {"Hardware H.264", 0, NEVER, NEVER, "no hardware H.264 encoder is available"},
        {"Software H.264", 4, NEVER, NEVER,
         "software H.264 encoder initialization failed: Generic error in an external library (0xdfaba7bb)"},
        {"Software H.264", 0, 0, NEVER, "overlay picture cannot be used: no file at the image path"},
        {"Software H.264", 0, NEVER, 5, "encoded video delivery failed"},
        {"Software H.264", 0, EDIT, NEVER, "live overlay update failed"},
    };
    for (const auto& [encoder, bitrate, picture_lost_at, refuse_after, message] : cases) {
        Output out;
        out.refuse_after = refuse_after;
        OverlayEditor editor;
        editor.values = settings(encoder);
        editor.values.bitrate = bitrate;
        editor.watch();
        const std::string missing = dir_->file("missing.png");
        if (picture_lost_at == 0) editor.values.image_path = missing;
        std::array<char, 256> error{};
        VideoPipelinePtr pipeline(video_pipeline_create(editor.values, collect, &out, error));
        ASSERT_TRUE(pipeline);
        bool fed = feed(pipeline.get(), *small_, 0, EDIT, error);
        if (picture_lost_at == EDIT) editor.values.image_path = missing;
        editor.revision = picture_lost_at == EDIT;
        fed = fed && feed(pipeline.get(), *small_, EDIT, 25, error);
        if (fed && encoder == "Hardware H.264") {
            std::printf("a hardware encoder opened here: %s\n", video_pipeline_encoder_name(pipeline.get()).data());
            continue;
        }
        EXPECT_FALSE(fed) << message;
        EXPECT_STREQ(error.data(), message);
        const bool before_first_frame = refuse_after == NEVER && picture_lost_at != EDIT;
        EXPECT_EQ(video_pipeline_encoder_name(pipeline.get()).empty(), before_first_frame) << message;
    }
}

}  // namespace
