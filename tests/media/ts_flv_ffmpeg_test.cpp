// Real streams: TS files made by ffmpeg at test time go through the
// demultiplexer and the packetizer, and are judged against ffprobe's packet
// list and ffmpeg's own FLV output of the same file. (Segments fed and
// flushed one by one, as a live engine does, are ts_demuxer_test's.)
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <string>
#include <tuple>

#include "media/flv_packetizer.h"
#include "media/ts_craft.h"
#include "media/ts_demuxer.h"
#include "support/child.h"
#include "support/media_fixtures.h"
#include "support/temp_dir.h"

namespace {

struct Packet {
    int64_t pts, dts;
    bool key;
};

// ffprobe's packets of the first video ('v') or audio ('a') stream.
std::vector<Packet> probe_packets(const std::string& path, char stream) {
    std::vector<Packet> packets;
    for (const std::string& line : probe_lines(path, std::string(1, stream), "packet=pts,dts,flags")) {
        long long pts, dts;
        char flags[8];
        if (std::sscanf(line.c_str(), "%lld,%lld,%7s", &pts, &dts, flags) != 3) continue;
        packets.push_back({pts, dts, std::strchr(flags, 'K') != nullptr});
    }
    return packets;
}

// Demuxer -> (record) -> packetizer -> (record).
struct Chain {
    int64_t base = INT64_MIN;                              // the first unit's time: the DTS of video, the PTS of audio
    std::vector<std::pair<int64_t, int64_t>> video_times;  // PTS and DTS of each video unit
    Recorder flv;                                          // the packetizer's tags
    FlvPacketizerPtr packetizer{flv_packetizer_create(record_tag, &flv)};
    TsDemuxerPtr demuxer{ts_demuxer_create(
        [](void* context, uint32_t kind, std::span<const uint8_t> data, int64_t pts, int64_t dts) {
            auto* chain = static_cast<Chain*>(context);
            if (chain->base == INT64_MIN) chain->base = kind == ES_VIDEO ? dts : pts;
            if (kind == ES_VIDEO) chain->video_times.emplace_back(pts, dts);
            return flv_packetizer_push(chain->packetizer.get(), kind, data, pts, dts);
        },
        this)};

    // The frame tags of `type`, or with `frames` false its sequence headers.
    std::vector<Tag> tags(uint8_t type, bool frames = true) const {
        std::vector<Tag> out;
        for (const Tag& tag : flv.tags)
            if (tag.type == type && tag.body[1] == frames) out.push_back(tag);
        return out;
    }
};

// First sequence header of `type` in an FLV file that is not empty (ffmpeg
// writes an empty AAC header first when its input has no extradata yet).
Bytes first_flv_header(const std::string& path, uint8_t type) {
    std::vector<FlvFileTag> tags;
    EXPECT_TRUE(flv_read_tags(read_file(path), &tags));
    for (const FlvFileTag& tag : tags)
        if (tag.type == type && tag.body.size() > 2 && tag.body[1] == 0) return tag.body;
    return {};
}

int32_t cts_of(const Tag& tag) {  // signed, 24 bits
    return int32_t(uint32_t(tag.body[2]) << 24 | uint32_t(tag.body[3]) << 16 | uint32_t(tag.body[4]) << 8) >> 8;
}

struct Source {
    const char* name;
    Bytes aac_header;
    Clip clip;
};

class TsFromFfmpeg : public ::testing::TestWithParam<Source> {};

TEST_P(TsFromFfmpeg, UnitsAndTagsMatchFfprobeAndFfmpeg) {
    const Source& source = GetParam();
    TempDir dir;
    const std::string ts = dir.file("in.ts"), flv = dir.file("ffmpeg.flv");
    ASSERT_TRUE(make_clip(ts, source.clip));
    Chain chain;
    const std::string bytes = read_file(ts);
    const auto* data = reinterpret_cast<const uint8_t*>(bytes.data());
    std::array<char, 128> error{};
    for (size_t at = 0; at < bytes.size(); at += 7 * TS_PACKET_SIZE) {  // seven packets a feed
        const size_t n = std::min(bytes.size() - at, 7 * TS_PACKET_SIZE);
        ASSERT_EQ(ts_demuxer_feed(chain.demuxer.get(), {data + at, n}, error), 1) << error.data();
    }
    ASSERT_EQ(ts_demuxer_flush(chain.demuxer.get()), 1);
    const std::vector<Packet> probe_video = probe_packets(ts, 'v'), probe_audio = probe_packets(ts, 'a');
    ASSERT_FALSE(probe_video.empty() || probe_audio.empty());

    // Video: one unit per access unit with ffprobe's exact timestamps, one
    // tag each at its DTS with its composition time and key flag.
    std::vector<std::pair<int64_t, int64_t>> want_times;
    std::vector<std::tuple<int64_t, int32_t, uint8_t>> want_tags, got_tags;
    for (const Packet& p : probe_video) {
        want_times.emplace_back(p.pts, p.dts);
        want_tags.emplace_back((p.dts - chain.base) / 90, (p.pts - p.dts) / 90, p.key ? 0x17 : 0x27);
    }
    for (const Tag& tag : chain.tags(FLV_TAG_VIDEO)) got_tags.emplace_back(tag.ms, cts_of(tag), tag.body[0]);
    EXPECT_EQ(std::tuple(chain.video_times, got_tags), std::tuple(want_times, want_tags));
    // Audio: every frame of every unit at ffprobe's time.
    const std::vector<Tag> audio = chain.tags(FLV_TAG_AUDIO);
    ASSERT_EQ(audio.size(), probe_audio.size());
    for (size_t i = 0; i < audio.size(); ++i)
        EXPECT_NEAR(double(audio[i].ms), double((probe_audio[i].pts - chain.base) / 90), 1.0) << i;

    // Sequence headers: what ffmpeg writes for the same file.
    ASSERT_EQ(run_command({"ffmpeg", "-v", "error", "-y", "-i", ts, "-c", "copy", "-f", "flv", flv}, nullptr, 60), 0);
    const std::vector<Tag> avc = chain.tags(FLV_TAG_VIDEO, false), aac = chain.tags(FLV_TAG_AUDIO, false);
    ASSERT_EQ(std::tuple(avc.size(), aac.size()), std::tuple(1u, 1u)) << "the same parameters are sent once";
    const Bytes ffmpeg_avc = first_flv_header(flv, FLV_TAG_VIDEO);
    ASSERT_GE(ffmpeg_avc.size(), avc[0].body.size());
    EXPECT_EQ(Bytes(ffmpeg_avc.begin(), ffmpeg_avc.begin() + long(avc[0].body.size())), avc[0].body);
    EXPECT_EQ(aac[0].body, source.aac_header);
    EXPECT_EQ(first_flv_header(flv, FLV_TAG_AUDIO), source.aac_header);
}

INSTANTIATE_TEST_SUITE_P(
    Media, TsFromFfmpeg,
    ::testing::Values(Source{"BFrames48kStereo",
                             {0xAF, 0x00, 0x11, 0x90},
                             {.seconds = 3, .rate = 30, .b_frames = 2, .sample_rate = 48000}},
                      Source{"PtsOnly44kMono", {0xAF, 0x00, 0x12, 0x08}, {.seconds = 3, .rate = 30, .channels = 1}}),
    [](const ::testing::TestParamInfo<Source>& info) { return std::string(info.param.name); });

}  // namespace
