// The packetizer on hand-made units: AAC and AVC sequence headers, frame
// bodies, the shared time base, composition times and failures.
#include "media/flv_packetizer.h"

#include <gtest/gtest.h>

#include "media/ts_craft.h"

namespace {

using Tags = std::vector<Tag>;
constexpr uint8_t A = FLV_TAG_AUDIO, V = FLV_TAG_VIDEO;

Bytes prefix(Bytes head, const Bytes& tail) {
    append(head, tail);
    return head;
}

Bytes annexb(std::initializer_list<std::pair<bool, Bytes>> nals) {
    Bytes out;
    for (const auto& [four_bytes, nal] : nals)
        append(out, prefix(four_bytes ? Bytes{0, 0, 0, 1} : Bytes{0, 0, 1}, nal));
    return out;
}

Bytes avc_header(const Bytes& sps, const Bytes& pps) {
    Bytes out = {0x17, 0x00, 0x00, 0x00, 0x00, 0x01, sps[1], sps[2], sps[3], 0xFF, 0xE1, 0x00, u8(sps.size())};
    return prefix(prefix(prefix(out, sps), {0x01, 0x00, u8(pps.size())}), pps);
}

Bytes length_prefixed(const Bytes& nal) {
    return prefix({0, 0, 0, u8(nal.size())}, nal);
}

const Bytes SPS = {0x67, 0x64, 0x00, 0x1F, 0xAC, 0xD9, 0x40};
const Bytes PPS = {0x68, 0xEB, 0xE3, 0xCB};
const Bytes IDR = {0x65, 0x88, 0x84, 0x00, 0x33};
const Bytes SLICE = {0x41, 0x9A, 0x02, 0x01};
const Bytes AAC_48K_STEREO = {0xAF, 0x00, 0x11, 0x90};
const Bytes IDR_TAG = prefix({0x17, 0x01, 0, 0, 0}, length_prefixed(IDR));

class FlvPacketizerTest : public ::testing::Test {
  protected:
    Recorder recorder;
    FlvPacketizerPtr packetizer{flv_packetizer_create(record_tag, &recorder)};

    void restart() { recorder.tags.clear(), packetizer.reset(flv_packetizer_create(record_tag, &recorder)); }
    int video(const Bytes& unit, int64_t pts, int64_t dts) {
        return flv_packetizer_push(packetizer.get(), ES_VIDEO, unit, pts, dts);
    }
    int slice(int64_t pts, int64_t dts) { return video(annexb({{true, SLICE}}), pts, dts); }
    int audio(const Bytes& unit, int64_t pts) { return flv_packetizer_push(packetizer.get(), ES_AUDIO, unit, pts, -1); }
    // The times of the frame tags (not the sequence headers) of `type`, 0 for both.
    std::vector<int64_t> frame_times(uint8_t type = 0) const {
        std::vector<int64_t> times;
        for (const Tag& tag : recorder.tags) {
            if (tag.body[1] == 0x01 && (type == 0 || tag.type == type)) times.push_back(tag.ms);
        }
        return times;
    }
};

// A protected frame loses its CRC with the header.
TEST_F(FlvPacketizerTest, FirstAdtsFrameSendsTheAacHeaderThenTheRawFrame) {
    for (bool crc : {false, true}) {
        restart();
        const Bytes frame = adts_frame(1, 3, 2, 20, crc);
        ASSERT_EQ(audio(frame, 900000), 1);
        const Bytes raw(frame.begin() + (crc ? 9 : 7), frame.end());
        EXPECT_EQ(recorder.tags, (Tags{{A, 0, AAC_48K_STEREO}, {A, 0, prefix({0xAF, 0x01}, raw)}}));
    }
}

TEST_F(FlvPacketizerTest, FramesOfOneUnitAreSpacedByTheirDuration) {
    const std::pair<uint32_t, std::vector<int64_t>> cases[] = {
        {3, {0, 21, 42, 64, 85, 106}},  // 48 kHz, no accumulated truncation
        {4, {0, 23, 46}},               // 44.1 kHz
        {6, {0, 42, 85}},               // 24 kHz (the core rate of HE-AAC)
    };
    for (const auto& [frequency_index, want] : cases) {
        restart();
        Bytes unit;
        for (size_t i = 0; i < want.size(); ++i) append(unit, adts_frame(1, frequency_index, 2, 10 + i));
        ASSERT_EQ(flv_packetizer_push_aac(packetizer.get(), unit, 5000), 1);
        EXPECT_EQ(frame_times(), want) << "index " << frequency_index;
        for (size_t i = 0; i < want.size(); ++i) EXPECT_EQ(recorder.tags[i + 1].body.size(), 2 + 10 + i);
    }
}

TEST_F(FlvPacketizerTest, ConfigurationChangeResendsTheAacHeader) {
    Bytes unit = adts_frame(1, 3, 2, 8);
    append(unit, adts_frame(1, 3, 2, 8));
    append(unit, adts_frame(1, 3, 1, 8));
    ASSERT_EQ(audio(unit, 0), 1);
    ASSERT_EQ(audio(adts_frame(1, 4, 1, 8), 9000), 1);
    ASSERT_EQ(recorder.tags.size(), 7u);
    EXPECT_EQ(recorder.tags[0].body, AAC_48K_STEREO);
    EXPECT_EQ(recorder.tags[3], (Tag{A, 42, {0xAF, 0x00, 0x11, 0x88}})) << "mono at 48 kHz";
    EXPECT_EQ(recorder.tags[5], (Tag{A, 100, {0xAF, 0x00, 0x12, 0x08}})) << "mono at 44.1 kHz";
}

TEST_F(FlvPacketizerTest, BadAdtsUnitsFailAndTrailingBytesAreIgnored) {
    // frame_length 6 (7 under a 9-byte header): shorter than the header.
    const Bytes frame = adts_frame(1, 3, 2, 10), cut(frame.begin(), frame.end() - 1);
    const Bytes short_frame = with(with(frame, 4, 0), 5, 0xDF);
    const Bytes short_protected = with(with(adts_frame(1, 3, 2, 0, true), 4, 0), 5, 0xFF);
    const Bytes trailing = prefix(frame, {0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77});
    const std::tuple<const char*, Bytes, int> cases[] = {
        {"fewer than 7 bytes", {0xFF, 0xF1, 0x4C, 0x80, 0x01, 0x3F}, 0},
        {"frame longer than the data", cut, 0},
        {"frame shorter than its header", short_frame, 0},
        {"protected frame shorter than its header", short_protected, 0},
        {"no sync word (layer 3)", with(frame, 1, 0xF7), 0},
        {"trailing bytes that start no frame", trailing, 1},
    };
    for (const auto& [name, unit, want] : cases) EXPECT_EQ(audio(unit, 0), want) << name;
}

TEST_F(FlvPacketizerTest, KeyFrameUnitSendsHeaderAndOnlyTheSlice) {
    ASSERT_EQ(video(annexb({{true, {0x09, 0xF0}}, {false, SPS}, {true, PPS}, {false, IDR}}), 900000, 900000), 1);
    EXPECT_EQ(recorder.tags, (Tags{{V, 0, avc_header(SPS, PPS)}, {V, 0, IDR_TAG}}));
}

TEST_F(FlvPacketizerTest, CompositionTimeIsPtsMinusDtsInMilliseconds) {
    const std::tuple<int64_t, int64_t, Bytes> cases[] = {
        {903003, 900000, {0x00, 0x00, 0x21}},
        {900000, 903003, {0xFF, 0xFF, 0xDF}},
        {-1, -1, {0x00, 0x00, 0x00}},
        {900000, -1, {0x00, 0x00, 0x00}},
        {3003 - 1, (int64_t{1} << 33) - 1, {0x00, 0x00, 0x21}},  // pts wrapped, dts not yet
        {int64_t{1} << 40, 0, {0x7F, 0xFF, 0xFF}},               // held to 24 bits
    };
    for (const auto& [pts, dts, want] : cases) {
        recorder.tags.clear();
        ASSERT_EQ(slice(pts, dts), 1);
        ASSERT_EQ(recorder.tags.size(), 1u);
        EXPECT_EQ(Bytes(recorder.tags[0].body.begin() + 2, recorder.tags[0].body.begin() + 5), want)
            << pts << " " << dts;
    }
}

TEST_F(FlvPacketizerTest, SharedTimeBaseAndMissingTimestamps) {
    ASSERT_EQ(slice(-1, -1), 1);
    EXPECT_EQ(packetizer->time_base, -1) << "untimed units leave the base unset";
    ASSERT_EQ(audio(adts_frame(1, 3, 2, 4), 180000), 1);
    ASSERT_EQ(slice(183003, 180000 + 9000), 1);
    ASSERT_EQ(slice(100000, 90000), 1);  // below the base: negative, for the timeline to judge
    ASSERT_EQ(slice(270000, -1), 1);     // pts stands in for dts
    EXPECT_EQ(frame_times(), std::vector<int64_t>({0, 0, 100, -1000, 1000}));
    EXPECT_EQ(packetizer->time_base, 180000);
}

TEST_F(FlvPacketizerTest, AudioFramesStartingBeforeTheBaseKeepTheirOwnTimes) {
    ASSERT_EQ(slice(180000, 180000), 1);
    Bytes unit;
    for (int i = 0; i < 4; ++i) append(unit, adts_frame(1, 3, 2, 4));
    ASSERT_EQ(audio(unit, 180000 - 3840), 1);  // two 48 kHz frames before the base
    EXPECT_EQ(frame_times(FLV_TAG_AUDIO), std::vector<int64_t>({-43, -22, 0, 21}));
}

TEST_F(FlvPacketizerTest, TimestampsKeepRisingAcrossTheClockWrap) {
    const int64_t wrap = int64_t{1} << 33;
    ASSERT_EQ(slice(wrap - 90000, wrap - 90000), 1);
    ASSERT_EQ(audio(adts_frame(1, 3, 2, 4), wrap - 45000), 1);
    ASSERT_EQ(slice(90000, 90000), 1);
    ASSERT_EQ(audio(adts_frame(1, 3, 2, 4), wrap - 9000), 1);  // late audio from before the wrap
    ASSERT_EQ(slice(180000, 180000), 1);
    EXPECT_EQ(frame_times(), std::vector<int64_t>({0, 500, 2000, 900, 3000}));
}

TEST_F(FlvPacketizerTest, AClockThatJumpsIsPassedOnNotTakenForAWrap) {
    const int64_t hours20 = int64_t{20} * 3600;  // far from the 2^33 wrap (26.5 h)
    ASSERT_EQ(slice(hours20 * 90000, hours20 * 90000), 1);
    ASSERT_EQ(slice(0, 0), 1);          // encoder restarted at 0
    ASSERT_EQ(slice(90000, 90000), 1);  // and running on from there
    ASSERT_EQ(slice(-1, -1), 1);        // untimed: the last time again
    EXPECT_EQ(frame_times(),
              std::vector<int64_t>({0, -hours20 * 1000, -hours20 * 1000 + 1000, -hours20 * 1000 + 1000}));
}

TEST_F(FlvPacketizerTest, ParameterSetOnlyUnitSendsJustTheHeader) {
    ASSERT_EQ(video(annexb({{true, SPS}, {true, PPS}}), 0, 0), 1);
    EXPECT_EQ(recorder.tags, Tags({{V, 0, avc_header(SPS, PPS)}}));
    ASSERT_EQ(video(annexb({{true, {0x09, 0xF0}}}), 0, 0), 1);
    ASSERT_EQ(flv_packetizer_push(packetizer.get(), 3, annexb({{true, SLICE}}), 0, 0), 1);
    EXPECT_EQ(recorder.tags.size(), 1u) << "a delimiter alone or another kind sends nothing";
}

TEST_F(FlvPacketizerTest, FramesBeforeParameterSetsGoOutWithoutHeader) {
    ASSERT_EQ(slice(0, 0), 1);
    ASSERT_EQ(video(annexb({{true, SPS}, {true, SLICE}}), 3000, 3000), 1);
    ASSERT_EQ(video(annexb({{true, PPS}, {true, IDR}}), 6000, 6000), 1);
    ASSERT_EQ(recorder.tags.size(), 4u);
    EXPECT_EQ(std::tuple(recorder.tags[0].body[0], recorder.tags[1].body[0], recorder.tags[3].body[0]),
              std::tuple(0x27, 0x27, 0x17));
    EXPECT_EQ(recorder.tags[2], (Tag{V, 66, avc_header(SPS, PPS)}));
}

TEST_F(FlvPacketizerTest, NewParameterSetsGoOutBeforeTheNextKeyFrame) {
    const Bytes key_unit = annexb({{true, SPS}, {true, PPS}, {true, IDR}});
    ASSERT_EQ(video(key_unit, 0, 0), 1);
    ASSERT_EQ(video(key_unit, 3000, 3000), 1);
    ASSERT_EQ(recorder.tags.size(), 3u) << "the same sets repeated send no header";
    Bytes other_sps = SPS, other_pps = prefix(PPS, {0x80});
    other_sps[3] = 0x28;
    ASSERT_EQ(video(annexb({{true, other_sps}, {true, SLICE}}), 6000, 6000), 1);
    ASSERT_EQ(recorder.tags.size(), 4u) << "not before an inter frame";
    ASSERT_EQ(video(annexb({{true, IDR}}), 9000, 9000), 1);
    ASSERT_EQ(recorder.tags.size(), 6u);
    EXPECT_EQ(Tags(recorder.tags.begin() + 4, recorder.tags.end()),
              (Tags{{V, 100, avc_header(other_sps, PPS)}, {V, 100, IDR_TAG}}));
    ASSERT_EQ(video(annexb({{true, other_pps}, {true, IDR}}), 12000, 12000), 1);
    ASSERT_EQ(recorder.tags.size(), 8u);
    EXPECT_EQ(recorder.tags[6].body, avc_header(other_sps, other_pps));
}

// Where NAL units start and end is the scanner's rule (annexb_test); here an
// SEI and many slices after three- and four-byte codes all go out in order.
TEST_F(FlvPacketizerTest, SeiAndManySlicesGoOutLengthPrefixedInOrder) {
    const Bytes sei = {0x06, 0x05, 0x01, 0x80};
    Bytes unit = annexb({{true, sei}}), want = prefix({0x27, 0x01, 0, 0, 0}, length_prefixed(sei));
    for (uint8_t i = 0; i < 100; ++i) {
        const Bytes nal = {0x41, u8(i + 1), 0x80};
        append(unit, annexb({{i % 2 == 0, nal}}));
        append(want, length_prefixed(nal));
    }
    ASSERT_EQ(video(unit, 0, 0), 1);
    EXPECT_EQ(recorder.tags, Tags({{V, 0, want}}));
}

TEST_F(FlvPacketizerTest, CallbackFailuresAreReportedAndTheHeaderIsRetried) {
    recorder.answer = 0;
    EXPECT_EQ(video(annexb({{true, SPS}, {true, PPS}, {true, IDR}}), 0, 0), 0);
    EXPECT_FALSE(packetizer->avc_header_sent);
    EXPECT_EQ(packetizer->sps.size, SPS.size()) << "stored parameter sets survive a failure";
    EXPECT_EQ(audio(adts_frame(1, 3, 2, 4), 0), 0);
    EXPECT_FALSE(packetizer->aac_header_sent);
    recorder.answer = 1;
    recorder.tags.clear();
    ASSERT_EQ(video(annexb({{true, IDR}}), 3000, 3000), 1);
    EXPECT_EQ(recorder.tags, (Tags{{V, 33, avc_header(SPS, PPS)}, {V, 33, IDR_TAG}}));
}

}  // namespace
