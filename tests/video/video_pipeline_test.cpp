// The pipeline end to end on clips libx264 makes here, its output decoded
// back as a player would: every unit fed comes out, no B-frames, a key frame
// with SPS and PPS every 2 s, the overlays' colours where they were placed;
// then the faults mended along the way. Made and judged in the process, so
// the Windows test program runs it too (under Wine, libx264 is what opens).
#include "video/video_pipeline.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <functional>
#include <tuple>

extern "C" {
#include <libavutil/opt.h>
}

#include "media/annexb.h"
#include "support/temp_dir.h"
#include "video/av_handles.h"
#include "video/overlay_editor.h"
#include "video/video_pipeline_state.h"

namespace {

using ::testing::Pointwise;

MATCHER_P(Near, bound, "") {
    return std::abs(std::get<0>(arg) - std::get<1>(arg)) <= bound;
}

struct FileUnit {
    std::vector<uint8_t> bytes;
    int64_t pts = -1;
    int64_t dts = -1;
};

// `seconds` of a moving grey ramp as libx264 writes it on the 90 kHz clock:
// Annex B units with in-band headers whose timing header names that clock
// (a variable rate) rather than the frame rate, a key frame every second.
std::vector<FileUnit> make_clip(int width, int height, int rate, int seconds, int b_frames = 0) {
    av_library_log_off();
    std::vector<FileUnit> units;
    AvCodecContextPtr context(avcodec_alloc_context3(avcodec_find_encoder_by_name("libx264")));
    context->width = width, context->height = height, context->pix_fmt = AV_PIX_FMT_YUV420P;
    context->time_base = {1, 90000}, context->framerate = {rate, 1};
    context->gop_size = rate, context->max_b_frames = b_frames;
    av_opt_set(context->priv_data, "preset", "superfast", 0);
    AvFramePtr frame(av_frame_alloc());
    AvPacketPtr packet(av_packet_alloc());
    frame->format = AV_PIX_FMT_YUV420P, frame->width = width, frame->height = height;
    if (avcodec_open2(context.get(), context->codec, nullptr) < 0 || av_frame_get_buffer(frame.get(), 0) < 0) return {};
    auto receive = [&] {
        while (avcodec_receive_packet(context.get(), packet.get()) == 0) {
            units.push_back({{packet->data, packet->data + packet->size}, packet->pts, packet->dts});
            av_packet_unref(packet.get());
        }
    };
    for (int i = 0; i < rate * seconds; ++i) {
        if (av_frame_make_writable(frame.get()) < 0) return {};
        for (int plane : {0, 1, 2})  // grey: U and V at 128
            for (int y = 0; y < (plane ? height / 2 : height); ++y)
                std::memset(frame->data[plane] + y * frame->linesize[plane], plane ? 128 : (y + 4 * i) & 0xFF,
                            plane ? width / 2 : width);
        frame->pts = int64_t(i) * 90000 / rate;
        avcodec_send_frame(context.get(), frame.get());
        receive();
    }
    avcodec_send_frame(context.get(), nullptr);
    receive();
    return units;
}

// Each picture the units decode to, in output order.
void decode_units(const std::vector<std::string>& units, const std::function<void(const AVFrame&, int)>& each) {
    AvCodecContextPtr context(avcodec_alloc_context3(avcodec_find_decoder(AV_CODEC_ID_H264)));
    AvFramePtr frame(av_frame_alloc());
    AvPacketPtr packet(av_packet_alloc());
    ASSERT_EQ(avcodec_open2(context.get(), context->codec, nullptr), 0);
    int index = 0;
    auto drain = [&] {
        while (avcodec_receive_frame(context.get(), frame.get()) == 0) each(*frame, index++);
    };
    for (const std::string& unit : units) {  // not reference-counted: the library copies it, padded
        packet->data = reinterpret_cast<uint8_t*>(const_cast<char*>(unit.data())), packet->size = int(unit.size());
        avcodec_send_packet(context.get(), packet.get());
        drain();
    }
    avcodec_send_packet(context.get(), nullptr);
    drain();
}

// A solid red 24-bit BMP (rows need no padding when width * 3 is a multiple of 4).
std::string red_bmp(uint32_t width, uint32_t height) {
    std::string bmp = "BM";
    for (uint32_t field :
         {54 + width * height * 3, 0u, 54u, 40u, width, height, 1u | 24u << 16, 0u, 0u, 0u, 0u, 0u, 0u})
        bmp.append(reinterpret_cast<char*>(&field), 4);
    for (uint32_t i = 0; i < width * height; ++i) bmp += std::string("\0\0\xFF", 3);
    return bmp;
}

struct Output {
    std::vector<std::string> units;
    std::vector<int64_t> pts;
    std::vector<bool> key;      // IDR
    std::vector<bool> headers;  // SPS and PPS
    size_t refuse_after = SIZE_MAX;
};

int collect(void* context, uint32_t kind, std::span<const uint8_t> data, int64_t pts, int64_t dts) {
    auto& out = *static_cast<Output*>(context);
    if (kind != ES_VIDEO || pts != dts || out.pts.size() >= out.refuse_after) return 0;
    out.units.emplace_back(data.begin(), data.end());
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
        write_file(dir_->file("logo.bmp"), red_bmp(200, 100));
        small_ = new std::vector<FileUnit>(make_clip(320, 240, 25, 1));
        ASSERT_EQ(small_->size(), 25u);
    }
    static void TearDownTestSuite() { delete small_, delete dir_; }
    // A red picture and a plain blue band.
    static OverlaySettings settings(const std::string& encoder) {
        OverlaySettings s;
        s.image_enabled = 1, s.image_path = dir_->file("logo.bmp"), s.image_x_pct = 50, s.image_y_pct = 10;
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

// Y, U, V of a 4:2:0 picture at (x, y).
std::array<int, 3> sample(const AVFrame& frame, int x, int y) {
    return {frame.data[0][y * frame.linesize[0] + x], frame.data[1][y / 2 * frame.linesize[1] + x / 2],
            frame.data[2][y / 2 * frame.linesize[2] + x / 2]};
}

// 720p30 with B-frames for 3 s, then 1 s of 1080p30 one frame after it.
TEST_F(VideoPipelineTest, OverlaysEveryFrameAndEncodesWhatPlayersDecode) {
    std::vector<FileUnit> units = make_clip(1280, 720, 30, 3, 2), tail = make_clip(1920, 1080, 30, 1);
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
    // The 1080p part scaled to the encoder's size; no B-frames. Red picture:
    // 256 x 128 at (512, 59). Blue band: 48 high at y 672, entering from x
    // 1280 at 50 px/s.
    int pictures = 0;
    decode_units(out_.units, [&](const AVFrame& frame, int index) {
        ++pictures;
        EXPECT_EQ(std::tuple(frame.width, frame.height, frame.pict_type == AV_PICTURE_TYPE_B),
                  std::tuple(1280, 720, false))
            << index;
        if (index != 60 && index != 100) return;
        EXPECT_THAT(sample(frame, 640, 122), Pointwise(Near(8), {76, 85, 255})) << "picture, frame " << index;
        EXPECT_THAT(sample(frame, 1280 - index * 50 / 30 + 12, 694), Pointwise(Near(8), {28, 255, 107}))
            << "band, frame " << index;
    });
    EXPECT_EQ(pictures, int(units.size()));
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
