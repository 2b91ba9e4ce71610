// Real streams: TS files and HLS segments made by ffmpeg at test time go
// through the demultiplexer and the packetizer, and are judged against
// ffprobe's packet list and ffmpeg's own FLV output of the same file.
#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <sstream>
#include <string>

#include "media/flv_packetizer.h"
#include "media/ts_craft.h"
#include "media/ts_demuxer.h"
#include "support/child.h"
#include "support/flv_file_reader.h"
#include "support/media_fixtures.h"
#include "support/temp_dir.h"

namespace {

struct ProbePacket {
    bool video;
    int64_t pts, dts;
    bool key;
};

std::vector<ProbePacket> probe_packets(const std::string& path) {
    std::string out;
    run_command({"ffprobe", "-v", "error", "-show_entries", "packet=codec_type,pts,dts,flags", "-of", "csv=p=0", path},
                &out, 60);
    std::vector<ProbePacket> packets;
    std::istringstream lines(out);
    char type[8], flags[8];
    long long pts, dts;
    for (std::string line; std::getline(lines, line);) {
        if (std::sscanf(line.c_str(), "%7[a-z],%lld,%lld,%7s", type, &pts, &dts, flags) != 4) continue;
        packets.push_back({type == std::string("video"), pts, dts, std::strchr(flags, 'K') != nullptr});
    }
    return packets;
}

struct UnitInfo {
    uint32_t kind;
    int64_t pts, dts;
};

struct Tag {
    uint8_t type;
    int64_t ms;
    Bytes body;
};

int chain_unit(void* context, uint32_t kind, std::span<const uint8_t> data, int64_t pts, int64_t dts);
int chain_tag(void* context, const FlvTag& tag);

// Demuxer -> (record) -> packetizer -> (record).
struct Chain {
    std::vector<UnitInfo> units;
    std::vector<Tag> tags;
    FlvPacketizerPtr packetizer{flv_packetizer_create(chain_tag, this)};
    TsDemuxerPtr demuxer{ts_demuxer_create(chain_unit, this)};
};

int chain_unit(void* context, uint32_t kind, std::span<const uint8_t> data, int64_t pts, int64_t dts) {
    auto* chain = static_cast<Chain*>(context);
    chain->units.push_back({kind, pts, dts});
    return flv_packetizer_push(chain->packetizer.get(), kind, data, pts, dts);
}

int chain_tag(void* context, const FlvTag& tag) {
    static_cast<Chain*>(context)->tags.push_back({tag.type, tag.timestamp_ms, Bytes(tag.body.begin(), tag.body.end())});
    return 1;
}

// Feeds a whole file in chunks of seven packets, then flushes.
void run_file(Chain& chain, const std::string& path) {
    const std::string bytes = read_file(path);
    ASSERT_EQ(bytes.size() % TS_PACKET_SIZE, 0u);
    const auto* data = reinterpret_cast<const uint8_t*>(bytes.data());
    std::array<char, 128> error{};
    for (size_t at = 0; at < bytes.size(); at += 7 * TS_PACKET_SIZE) {
        const size_t n = std::min(bytes.size() - at, 7 * TS_PACKET_SIZE);
        ASSERT_EQ(ts_demuxer_feed(chain.demuxer.get(), {data + at, n}, error), 1) << error.data();
    }
    ASSERT_EQ(ts_demuxer_flush(chain.demuxer.get()), 1);
}

// First sequence header of `type` in an FLV file that is not empty (ffmpeg
// writes an empty AAC header first when its input has no extradata yet).
Bytes first_flv_header(const std::string& path, uint8_t type) {
    std::vector<FlvFileTag> tags;
    EXPECT_TRUE(flv_read_tags(read_file(path), &tags));
    for (const FlvFileTag& tag : tags) {
        if (tag.type == type && tag.body.size() > 2 && tag.body[1] == 0) return tag.body;
    }
    return {};
}

bool is_frame(const Tag& tag) {
    return tag.body.size() > 1 && tag.body[1] == 0x01;
}

int32_t cts_of(const Tag& tag) {
    int32_t v = (tag.body[2] << 16) | (tag.body[3] << 8) | tag.body[4];
    return v & 0x800000 ? v - 0x1000000 : v;
}

struct Source {
    const char* name;
    int sample_rate;
    int channels;
    int b_frames;
    Bytes aac_header;
};

class TsFromFfmpeg : public ::testing::TestWithParam<Source> {};

TEST_P(TsFromFfmpeg, UnitsAndTagsMatchFfprobeAndFfmpeg) {
    const Source& source = GetParam();
    TempDir dir;
    const std::string mp4 = dir.file("in.mp4"), ts = dir.file("in.ts");
    ASSERT_TRUE(make_clip(mp4, {.seconds = 3,
                                .rate = 30,
                                .b_frames = source.b_frames,
                                .sample_rate = source.sample_rate,
                                .channels = source.channels}));
    ASSERT_EQ(run_command({"ffmpeg", "-v", "error", "-y", "-i", mp4, "-c", "copy", "-f", "mpegts", ts}, nullptr, 60),
              0);
    Chain chain;
    ASSERT_NO_FATAL_FAILURE(run_file(chain, ts));

    std::vector<ProbePacket> probe_video, probe_audio;
    for (const ProbePacket& p : probe_packets(ts)) (p.video ? probe_video : probe_audio).push_back(p);
    std::vector<UnitInfo> video_units;
    for (const UnitInfo& u : chain.units) {
        if (u.kind == ES_VIDEO) video_units.push_back(u);
    }
    ASSERT_FALSE(probe_video.empty());
    ASSERT_FALSE(probe_audio.empty());
    const int64_t base = chain.units.front().kind == ES_VIDEO ? chain.units.front().dts : chain.units.front().pts;

    // Video: one unit per access unit with ffprobe's exact timestamps.
    ASSERT_EQ(video_units.size(), probe_video.size());
    for (size_t i = 0; i < video_units.size(); ++i) {
        EXPECT_EQ(video_units[i].pts, probe_video[i].pts) << i;
        EXPECT_EQ(video_units[i].dts, probe_video[i].dts) << i;
    }
    // Audio: every frame of every unit at ffprobe's time (the timestamp reading is video's, checked exactly).

    std::vector<Tag> video_tags, audio_tags;
    Bytes avc_header, aac_header;
    for (const Tag& tag : chain.tags) {
        if (!is_frame(tag)) {
            (tag.type == FLV_TAG_VIDEO ? avc_header : aac_header) = tag.body;
            continue;
        }
        (tag.type == FLV_TAG_VIDEO ? video_tags : audio_tags).push_back(tag);
    }
    ASSERT_EQ(video_tags.size(), probe_video.size());
    for (size_t i = 0; i < video_tags.size(); ++i) {
        const ProbePacket& p = probe_video[i];
        EXPECT_EQ(video_tags[i].ms, (p.dts - base) / 90) << i;
        EXPECT_EQ(cts_of(video_tags[i]), (p.pts - p.dts) / 90) << i;
        EXPECT_EQ(video_tags[i].body[0], p.key ? 0x17 : 0x27) << i;
    }
    ASSERT_EQ(audio_tags.size(), probe_audio.size());
    for (size_t i = 0; i < audio_tags.size(); ++i) {
        const int64_t want = (probe_audio[i].pts - base) / 90;
        EXPECT_NEAR(double(audio_tags[i].ms), double(want), 1.0) << i;
    }

    // Sequence headers: what ffmpeg writes for the same file.
    const std::string flv = dir.file("ffmpeg.flv");
    ASSERT_EQ(run_command({"ffmpeg", "-v", "error", "-y", "-i", ts, "-c", "copy", "-f", "flv", flv}, nullptr, 60), 0);
    const Bytes ffmpeg_avc = first_flv_header(flv, FLV_TAG_VIDEO);
    ASSERT_GE(ffmpeg_avc.size(), avc_header.size());
    EXPECT_EQ(Bytes(ffmpeg_avc.begin(), ffmpeg_avc.begin() + long(avc_header.size())), avc_header);
    EXPECT_EQ(aac_header, source.aac_header);
    EXPECT_EQ(first_flv_header(flv, FLV_TAG_AUDIO), source.aac_header);
}

INSTANTIATE_TEST_SUITE_P(Media, TsFromFfmpeg,
                         ::testing::Values(Source{"BFrames48kStereo", 48000, 2, 2, {0xAF, 0x00, 0x11, 0x90}},
                                           Source{"PtsOnly44kMono", 44100, 1, 0, {0xAF, 0x00, 0x12, 0x08}}),
                         [](const ::testing::TestParamInfo<Source>& info) { return std::string(info.param.name); });

// HLS segments, each fed and flushed on its own as a live engine does: no
// unit is lost at segment edges and the timeline never goes back.
TEST(TsFromFfmpegHls, SegmentsFlushedOneByOneKeepEveryUnitAndRisingTimes) {
    TempDir dir;
    ASSERT_EQ(run_command(ffmpeg_hls_command(dir.path(), 6.0, false), nullptr, 120), 0);
    Chain chain;
    size_t probe_video = 0, probe_audio = 0, segments = 0;
    for (int i = 0;; ++i) {
        const std::string segment = dir.file("live" + std::to_string(i) + ".ts");
        if (access(segment.c_str(), R_OK) != 0) break;
        ++segments;
        ASSERT_NO_FATAL_FAILURE(run_file(chain, segment));
        for (const ProbePacket& p : probe_packets(segment)) ++(p.video ? probe_video : probe_audio);
    }
    ASSERT_GE(segments, 3u);
    size_t video_frames = 0, audio_frames = 0, avc_headers = 0;
    int64_t last_video = INT64_MIN, last_audio = INT64_MIN;  // AAC priming may start below the base
    for (const Tag& tag : chain.tags) {
        if (!is_frame(tag)) {
            avc_headers += tag.type == FLV_TAG_VIDEO;
            continue;
        }
        int64_t& last = tag.type == FLV_TAG_VIDEO ? last_video : last_audio;
        EXPECT_GE(tag.ms, last);
        last = tag.ms;
        ++(tag.type == FLV_TAG_VIDEO ? video_frames : audio_frames);
    }
    EXPECT_EQ(video_frames, probe_video);
    EXPECT_EQ(audio_frames, probe_audio);
    EXPECT_EQ(avc_headers, 1u);
    EXPECT_GE(last_video, 3000u);
}

}  // namespace
