// MP4 samples to units: the conversions on hand-made bytes, then ffmpeg-made
// files read unit by unit.
#include "engines/mp4_units.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>

#include "engines/engine_contract.h"
#include "media/annexb.h"
#include "media/ts_craft.h"
#include "mp4/mp4_sample_convert.h"
#include "platform/text/error_text.h"
#include "support/media_fixtures.h"
#include "support/temp_dir.h"

namespace {

using Error = std::array<char, ENGINE_ERROR_SIZE>;

struct Played {
    EngineResult end = EngineResult::failed;
    std::vector<Unit> units;
    std::string error;
};

Played play(const std::string& path) {
    Played played;
    Error error{};
    Mp4UnitSource source;
    Recorder recorder;
    if (mp4_source_open(source, path, error))
        played.end = mp4_source_play(source, record_unit, &recorder, nullptr, error);
    played.units = std::move(recorder.units);
    played.error = std::string(error_view(error));
    return played;
}

TEST(Mp4SampleConvert, AvccRecordsGiveTheirParameterSets) {
    // version 1, profile, compat, level, length size 2, one SPS, one PPS
    const Bytes avcc = {1, 0x42, 0, 0x1E, 0xFD, 0xE1, 0, 3, 0x67, 0xAA, 0xBB, 1, 0, 2, 0x68, 0xCC};
    EXPECT_EQ(avcc_to_annexb_prefix(avcc), (Bytes{0, 0, 0, 1, 0x67, 0xAA, 0xBB, 0, 0, 0, 1, 0x68, 0xCC}));
    for (size_t cut : {avcc.size() - 1, size_t{6}})  // the PPS or the SPS runs past the end
        EXPECT_TRUE(avcc_to_annexb_prefix(Bytes(avcc.begin(), avcc.begin() + cut)).empty());
}

TEST(Mp4SampleConvert, AudioFramesGetAnAdtsHeaderWithinTheTablesLimits) {
    Bytes frame;
    ASSERT_TRUE(mp4_audio_to_adts(Bytes(10, 0xAB), 44100, 2, frame));
    EXPECT_EQ(frame.size(), 17u);
    EXPECT_EQ(Bytes(frame.begin(), frame.begin() + 7), (Bytes{0xFF, 0xF1, 0x50, 0x80, 0x02, 0x3F, 0xFC}));
    ASSERT_TRUE(mp4_audio_to_adts(Bytes(1, 0), 7350, 6, frame));
    EXPECT_EQ(frame[2], 0x40 | (12 << 2) | 1);
    EXPECT_EQ(frame[3] >> 6, 2);
    EXPECT_TRUE(mp4_audio_to_adts(Bytes(ADTS_MAX_FRAME_LENGTH - 7, 0), 48000, 2, frame));
    const std::tuple<size_t, uint32_t, uint32_t> bad[] = {
        {10, 44000, 2}, {10, 48000, 0}, {10, 48000, 8}, {ADTS_MAX_FRAME_LENGTH - 6, 48000, 2}};
    for (const auto& [size, rate, channels] : bad)
        EXPECT_FALSE(mp4_audio_to_adts(Bytes(size, 0), rate, channels, frame));
}

TEST(Mp4UnitsTest, APassOpensWithTheParameterSetsAndKeepsDecodeOrderInStep) {
    TempDir dir;
    ASSERT_TRUE(make_clip(dir.file("plain.mp4"), {.size = "160x120"}) &&
                make_clip(dir.file("bframes.mp4"), {.b_frames = 2}));
    for (const char* file : {"plain.mp4", "bframes.mp4"}) {
        SCOPED_TRACE(file);
        Played played = play(dir.file(file));
        ASSERT_EQ(played.end, EngineResult::done) << played.error;
        const auto video = std::ranges::find(played.units, ES_VIDEO, &Unit::kind),
                   audio = std::ranges::find(played.units, ES_AUDIO, &Unit::kind);
        ASSERT_TRUE(video != played.units.end() && audio != played.units.end());
        // 00 00 00 01 SPS, 00 00 00 01 PPS, then the sample's own NALs.
        ASSERT_GE(video->data.size(), 5u);
        EXPECT_EQ(Bytes(video->data.begin(), video->data.begin() + 5), (Bytes{0, 0, 0, 1, 0x67}));
        std::vector<Bytes> nals = nal_units(video->data);
        ASSERT_GE(nals.size(), 3u);
        EXPECT_EQ(std::tuple(h264_nal_type(nals[1]), h264_nal_type(nals.back())),
                  std::tuple(H264_NAL_PPS, H264_NAL_IDR));
        EXPECT_EQ(Bytes(audio->data.begin(), audio->data.begin() + 4), (Bytes{0xFF, 0xF1, 0x50, 0x80}));
        // The first picture shows when the first audio plays, as in the file.
        const bool b_frames = file == std::string("bframes.mp4");
        EXPECT_TRUE(!b_frames || video->dts == 0) << video->dts;  // the decode shift is undone
        EXPECT_NEAR(static_cast<double>(video->pts), static_cast<double>(audio->pts), 90.0 * 25);
        size_t with_sps = 0;
        int64_t last_dts = -1;
        bool reordered = false;
        for (const Unit& unit : played.units) {
            if (unit.kind != ES_VIDEO) continue;
            with_sps += h264_nal_type(nal_units(unit.data)[0]) == H264_NAL_SPS;
            EXPECT_GE(unit.dts, last_dts);
            EXPECT_GE(unit.pts, unit.dts);
            reordered = reordered || unit.pts != unit.dts;
            last_dts = unit.dts;
        }
        EXPECT_EQ(std::tuple(with_sps, reordered), std::tuple(1u, b_frames));
    }
}

// Packet copy sends every sample byte for byte: each frame tag holds the
// sample as libavformat reads it, NAL lengths and all. At 120 kb/s many
// P-frames are 256 to 511 bytes long, so their length field reads 00 00 01.
TEST(Mp4UnitsTest, PacketCopySendsEverySampleByteForByte) {
    TempDir dir;
    for (int b_frames : {0, 2}) {
        SCOPED_TRACE(b_frames);
        const std::string clip = dir.file("small" + std::to_string(b_frames) + ".mp4");
        ASSERT_TRUE(make_clip(clip, {.b_frames = b_frames, .output_args = {"-b:v", "120k"}}));
        const auto like_start_code = [](const FileUnit& u) {
            return u.bytes.size() > 3 && u.bytes[0] == 0 && u.bytes[1] == 0 && u.bytes[2] == 1;
        };
        ASSERT_GT(std::ranges::count_if(read_units(clip), like_start_code), 5);
        Recorder flv;
        FlvPacketizerPtr packetizer{flv_packetizer_create(record_tag, &flv)};
        Mp4UnitSource source;
        Error error{};
        ASSERT_TRUE(mp4_source_open(source, clip, error));
        ASSERT_EQ(mp4_source_play(source, flv_packetizer_push, packetizer.get(), nullptr, error), EngineResult::done);
        std::vector<FlvFileTag> tags;
        for (const Tag& tag : flv.tags) tags.push_back({tag.type, uint32_t(tag.ms), tag.body});
        for (uint8_t type : {FLV_TAG_VIDEO, FLV_TAG_AUDIO}) {
            const CopyCheck copies = check_copies(tags, type, clip);
            EXPECT_EQ(std::tuple(copies.frames, copies.differing), std::tuple(copies.per_pass, 0u)) << int(type);
        }
    }
}

TEST(Mp4UnitsTest, EachFileFailsWithItsReasonOrPlaysToTheEnd) {
    TempDir dir;
    const std::pair<const char*, Clip> made[] = {{"plain.mp4", {.size = "160x120"}},
                                                 {"video-only.mp4", {.audio_codec = ""}},
                                                 {"hevc.mp4", {.seconds = 0.5, .video_codec = "libx265"}},
                                                 {"mp3.mp4", {.seconds = 0.5, .audio_codec = "libmp3lame"}},
                                                 {"eight.mp4", {.seconds = 0.5, .sample_rate = 48000, .channels = 8}},
                                                 {"six.mp4", {.seconds = 0.5, .sample_rate = 48000, .channels = 6}}};
    for (const auto& [name, fixture] : made) ASSERT_TRUE(make_clip(dir.file(name), fixture));
    std::string plain = read_file(dir.file("plain.mp4"));
    write_file(dir.file("empty.mp4"), "");
    write_file(dir.file("cut-index.mp4"), plain.substr(0, 200));
    write_file(dir.file("cut-data.mp4"), plain.substr(0, plain.size() / 2));
    std::string bad_sample = read_file(dir.file("video-only.mp4"));
    ++bad_sample[bad_sample.find("mdat") + 7];  // the first NAL one byte longer: the last runs past the end
    write_file(dir.file("bad-sample.mp4"), bad_sample);
    // No message: plays to the end.
    const std::pair<const char*, const char*> cases[] = {{"missing.mp4", "MP4 file cannot be opened"},
                                                         {"empty.mp4", "MP4 file cannot be opened"},
                                                         {"cut-index.mp4", "MP4 file cannot be opened"},
                                                         {"cut-data.mp4", "MP4 sample read failed"},
                                                         {"bad-sample.mp4", "Invalid H.264 sample in MP4"},
                                                         {"hevc.mp4", "MP4 video must use H.264"},
                                                         {"mp3.mp4", "MP4 audio must use AAC"},
                                                         {"eight.mp4", "Unsupported AAC format in MP4"},
                                                         {"six.mp4", ""}};
    for (const auto& [name, message] : cases) {
        Played played = play(dir.file(name));
        EXPECT_EQ(std::tie(played.error, played.end),
                  std::tuple(message, *message ? EngineResult::failed : EngineResult::done))
            << name;
    }
    Played video_only = play(dir.file("video-only.mp4"));
    EXPECT_EQ(std::tuple(video_only.error, video_only.end, video_only.units.size()),
              std::tuple("", EngineResult::done, 50u))
        << "2 s at 25 fps, nothing else";
}

}  // namespace
