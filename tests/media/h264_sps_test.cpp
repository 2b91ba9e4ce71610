// The SPS reader on what x264 writes and on hand-made sets that reach the
// edges: cropping, interlaced heights, 4:4:4, emulation bytes, damage.
#include "media/h264_sps.h"

#include <gtest/gtest.h>

#include <optional>
#include <tuple>

#include "media/annexb.h"
#include "support/media_fixtures.h"
#include "support/temp_dir.h"

namespace {

// Writes an RBSP bit by bit, then makes the NAL: header, emulation bytes.
struct BitWriter {
    std::vector<uint8_t> bytes;
    unsigned used = 8;  // bits used in the last byte
    void put(uint64_t value, unsigned count) {
        for (unsigned i = count; i-- > 0;) {
            if (used == 8) bytes.push_back(0), used = 0;
            bytes.back() |= static_cast<uint8_t>(((value >> i) & 1u) << (7 - used++));
        }
    }
    void ue(uint64_t value) {
        unsigned length = 0;
        while ((value + 1) >> (length + 1)) ++length;
        put(0, length), put(value + 1, length + 1);
    }
    std::vector<uint8_t> nal() {
        put(1, 1);  // rbsp_stop_one_bit; the rest of the byte stays zero
        std::vector<uint8_t> out{0x67};
        unsigned zeros = 0;
        for (uint8_t byte : bytes) {
            if (zeros >= 2 && byte <= 3) out.push_back(3), zeros = 0;
            zeros = byte == 0 ? zeros + 1 : 0;
            out.push_back(byte);
        }
        return out;
    }
};

struct Sps {
    uint32_t profile = 66, chroma = 1;
    uint32_t width_mbs = 20, height_units = 15;
    bool frames_only = true;
    std::array<uint32_t, 4> crop{};                       // left, right, top, bottom
    std::optional<std::pair<uint32_t, uint32_t>> timing;  // units in tick, time scale
};

std::vector<uint8_t> sps_nal(const Sps& s) {
    BitWriter w;
    w.put(s.profile, 8), w.put(0x40, 8), w.put(31, 8), w.ue(0);
    if (s.profile >= 100) w.ue(s.chroma), w.put(0, s.chroma == 3 ? 1 : 0), w.ue(0), w.ue(0), w.put(0, 2);
    w.ue(0), w.ue(0), w.ue(4);  // frame_num bits, poc type 0 with its lsb bits
    w.ue(1), w.put(0, 1);       // one reference frame, no gaps
    w.ue(s.width_mbs - 1), w.ue(s.height_units - 1);
    w.put(s.frames_only, 1);
    if (!s.frames_only) w.put(0, 1);
    w.put(1, 1);  // direct_8x8_inference
    const bool cropped = s.crop != std::array<uint32_t, 4>{};
    w.put(cropped, 1);
    if (cropped)
        for (uint32_t edge : s.crop) w.ue(edge);
    w.put(s.timing.has_value(), 1);
    if (s.timing) {
        w.put(0, 4);  // no aspect ratio, overscan, signal type or chroma location
        w.put(1, 1), w.put(s.timing->first, 32), w.put(s.timing->second, 32), w.put(1, 1);
        w.put(0, 5);  // no HRD, picture structure or restrictions
    }
    return w.nal();
}

TEST(H264Sps, ReadsSizeAfterCroppingAndTheDeclaredRate) {
    const std::tuple<Sps, uint32_t, uint32_t, uint32_t, uint32_t> cases[] = {
        {Sps{}, 320, 240, 0, 0},
        // 1080 lines are 68 macroblocks less 8 cropped lines (4 units of 2 in 4:2:0).
        {Sps{.profile = 100, .width_mbs = 120, .height_units = 68, .crop = {0, 0, 0, 4}, .timing = {{1, 50}}}, 1920,
         1080, 25, 1},
        {Sps{.height_units = 18, .frames_only = false, .timing = {{1001, 60000}}}, 320, 576, 30000, 1001},
        // 4:4:4 crops in single pixels.
        {Sps{.profile = 244,
             .chroma = 3,
             .width_mbs = 2,
             .height_units = 2,
             .crop = {1, 2, 0, 3},
             .timing = std::nullopt},
         29, 29, 0, 0},
    };
    for (const auto& [sps, width, height, num, den] : cases) {
        H264SpsInfo info;
        ASSERT_TRUE(h264_parse_sps(sps_nal(sps), &info)) << sps.profile;
        EXPECT_EQ(std::tuple(info.profile_idc, info.width, info.height, info.frame_rate_num, info.frame_rate_den),
                  std::tuple(sps.profile, width, height, num, den));
    }
}

TEST(H264Sps, RefusesWhatIsNotAWholeSaneSps) {
    const std::vector<uint8_t> good = sps_nal(Sps{.timing = {{1, 50}}});
    std::vector<uint8_t> cut(good.begin(), good.begin() + 6);  // ends inside the picture size
    std::vector<uint8_t> pps = good;
    pps[0] = 0x68;
    std::vector<uint8_t> long_code{0x67, 66, 0, 31, 0, 0, 0, 0, 0x80};  // an id of 33 leading zeros
    const std::vector<uint8_t> refused[] = {
        {},
        pps,
        cut,
        long_code,
        sps_nal(Sps{.width_mbs = 2, .crop = {8, 8, 0, 0}, .timing = std::nullopt}),  // cropping the whole width
        sps_nal(Sps{.width_mbs = 1025, .crop = {}, .timing = std::nullopt}),         // wider than any level allows
    };
    for (const std::vector<uint8_t>& nal : refused) {
        H264SpsInfo info{.width = 7};
        EXPECT_FALSE(h264_parse_sps(nal, &info)) << nal.size();
        EXPECT_EQ(info.width, 7u);  // left as it was
    }
}

std::vector<uint8_t> first_sps(const std::string& clip) {
    for (const FileUnit& unit : read_units(clip)) {
        AnnexbScanner scanner = annexb_scanner(unit.bytes);
        for (std::span<const uint8_t> nal; annexb_next_nal(scanner, nal);) {
            if (h264_nal_type(nal) == 7) return {nal.begin(), nal.end()};
        }
    }
    return {};
}

// What x264 writes, read as ffmpeg was told to make it (at a preset that
// uses what each profile allows: x264 names the lowest profile its choices
// fit); and that set cut and bent every way neither crashes the reader nor
// yields a wild size.
TEST(H264Sps, ReadsEncoderOutputAndSurvivesItsDamage) {
    TempDir dir;
    const std::tuple<std::string, int, std::string, std::string, uint32_t, uint32_t> cases[] = {
        {"1920x1080", 25, "high", "High", 1920, 1080},
        {"854x480", 30, "baseline", "Constrained Baseline", 854, 480},
        {"640x360", 50, "main", "Main", 640, 360},
    };
    for (const auto& [size, rate, profile, name, width, height] : cases) {
        const std::string clip = dir.file(profile + ".ts");
        ASSERT_TRUE(make_clip(clip, {.seconds = 0.2,
                                     .size = size,
                                     .rate = rate,
                                     .audio_codec = "",
                                     .output_args = {"-preset", "fast", "-profile:v", profile}}));
        const std::vector<uint8_t> sps = first_sps(clip);
        H264SpsInfo info;
        ASSERT_TRUE(h264_parse_sps(sps, &info)) << size;
        EXPECT_EQ(h264_profile_name(info.profile_idc, info.constraint_flags), name);
        EXPECT_EQ(std::tuple(info.width, info.height), std::tuple(width, height));
        ASSERT_NE(info.frame_rate_den, 0u);
        EXPECT_DOUBLE_EQ(static_cast<double>(info.frame_rate_num) / info.frame_rate_den, rate);
        for (size_t at = 0; at < sps.size(); ++at) {
            std::vector<uint8_t> damaged = sps;
            for (uint8_t flip : {0x01, 0x80, 0xFF}) {
                damaged[at] = sps[at] ^ flip;
                if (h264_parse_sps(damaged, &info)) {
                    EXPECT_LE(info.width, 16384u);
                }
            }
            EXPECT_FALSE(h264_parse_sps(std::span(sps).first(std::min<size_t>(at, 5)), &info));
            (void)h264_parse_sps(std::span(sps).first(at), &info);
        }
    }
}

}  // namespace
