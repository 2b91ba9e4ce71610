// The demultiplexer on hand-made packets: framing errors and their offsets,
// PAT/PMT rules, PES assembly boundaries, timestamps and failures.
#include "media/ts_demuxer.h"

#include <gtest/gtest.h>

#include <array>
#include <string>

#include "media/ts_craft.h"

namespace {

using Units = std::vector<Unit>;

constexpr uint16_t PMT_PID = 0x1000, VIDEO_PID = 0x100, AUDIO_PID = 0x101;

// PAT + PMT naming H.264 on VIDEO_PID and AAC on AUDIO_PID, then `then`.
Bytes tables(const Bytes& then = {}) {
    Bytes out = ts_packet(0, true, pat_payload({{1, PMT_PID}}));
    append(out, ts_packet(PMT_PID, true, pmt_payload({{0x1B, VIDEO_PID}, {0x0F, AUDIO_PID}})));
    append(out, then);
    return out;
}

Bytes body_of(size_t size, uint8_t seed) {
    Bytes body(size);
    for (size_t i = 0; i < size; ++i) body[i] = u8(seed + i * 7);
    return body;
}

class TsDemuxerTest : public ::testing::Test {
  protected:
    Recorder recorder;
    TsDemuxerPtr demuxer{ts_demuxer_create(record_unit, &recorder)};
    std::array<char, 128> error{};

    int feed(const Bytes& data) { return ts_demuxer_feed(demuxer.get(), data, error); }
    int flush() { return ts_demuxer_flush(demuxer.get()); }
    std::string message() const { return std::string(error.data()); }
};

TEST_F(TsDemuxerTest, RejectsUnalignedLengthsAndAcceptsEmpty) {
    EXPECT_EQ(feed(Bytes(189, 0x47)), 0);
    EXPECT_EQ(message(), "MPEG-TS data is not 188-byte aligned");
    error.fill(0);
    EXPECT_EQ(feed({}), 1);
    EXPECT_EQ(message(), "");
    EXPECT_EQ(ts_demuxer_feed(nullptr, tables(), {}), 0);
}

TEST_F(TsDemuxerTest, DamageIsSkippedToTheNextSyncEvenAcrossFeeds) {
    // PAT, 100 damaged bytes, PMT cut by the end of the first feed, 88 more
    // damaged bytes after it: both tables still count, 188 bytes skipped.
    Bytes pmt = ts_packet(PMT_PID, true, pmt_payload({{0x1B, VIDEO_PID}}));
    Bytes first = ts_packet(0, true, pat_payload({{1, PMT_PID}}));
    append(first, Bytes(100, 0x00));
    append(first, Bytes(pmt.begin(), pmt.begin() + 88));
    Bytes second(pmt.begin() + 88, pmt.end());
    append(second, Bytes(88, 0x11));
    EXPECT_EQ(feed(first), 1);
    EXPECT_EQ(demuxer->video_pid, TS_PID_NONE) << "the PMT is not complete yet";
    EXPECT_EQ(feed(second), 1);
    EXPECT_EQ(message(), "");
    EXPECT_EQ(std::tuple(demuxer->pmt_pid, demuxer->video_pid, demuxer->skipped_bytes),
              std::tuple(PMT_PID, VIDEO_PID, 188));
}

TEST(TsDemuxer, PatAndPmtSequencesChooseThePids) {
    auto pat = [](std::vector<PatEntry> entries = {{1, PMT_PID}}) { return ts_packet(0, true, pat_payload(entries)); };
    auto pmt = [](std::vector<PmtStream> streams, Bytes info = {}) {
        return ts_packet(PMT_PID, true, pmt_payload(streams, info));
    };
    auto pat_with = [](uint8_t at, uint8_t value) {
        return ts_packet(0, true, with(pat_payload({{1, 0x200}}), at, value));
    };
    auto pmt_with = [](uint8_t at, uint8_t v) {
        return ts_packet(PMT_PID, true, with(pmt_payload({{0x1B, 0x100}}), at, v));
    };
    constexpr uint32_t N = TS_PID_NONE, P = PMT_PID;
    const std::tuple<uint32_t, uint32_t, uint32_t, const char*, std::vector<Bytes>> cases[] = {
        {P, N, N, "network entry passed over", {pat({{0, 0x0010}, {1, PMT_PID}})}},
        {P, N, N, "PAT with only the network entry keeps the PMT", {pat(), pat({{0, 0x0010}})}},
        {N, N, N, "wrong table id", {pat_with(1, 0x42)}},
        {N, N, N, "section longer than the packet", {pat_with(3, 0xFF)}},
        {N, N, N, "section without an entry", {pat_with(3, 8)}},
        {N, N, N, "pointer_field past the payload", {pat_with(0, 180)}},
        {N, N, N, "no unit start", {ts_packet(0, false, pat_payload({{1, 0x0200}}))}},
        {N, N, N, "empty payload", {ts_packet(0, true, {})}},
        {P, 0x100, 0x101, "descriptors", {pat(), pmt({{0x1B, 0x100, {0x0A, 1, 0}}, {0x0F, 0x101}}, {5, 2, 'A', 'B'})}},
        {P, 0x100, 0x102, "LATM is audio; no video keeps the PID", {pat(), pmt({{0x1B, 0x100}}), pmt({{0x11, 0x102}})}},
        {P, 0x100, N, "other types ignored", {pat(), pmt({{0x1B, 0x100}}), pmt({{0x24, 0x200}, {3, 0x201}})}},
        {P, 0x110, 0x111, "last wins", {pat(), pmt({{0x1B, 0x100}, {0x0F, 0x101}, {0x1B, 0x110}, {0x0F, 0x111}})}},
        {P, N, N, "PMT before the PAT", {pmt({{0x1B, 0x100}}), pat()}},
        {P, N, N, "truncated PMT", {pat(), pmt_with(3, 0xF0)}},
        {P, N, N, "program_info_length past the entries", {pat(), pmt_with(12, 0xFF)}},
    };
    for (const auto& [pmt, video, audio, name, packets] : cases) {
        SCOPED_TRACE(name);
        TsDemuxerPtr demuxer(ts_demuxer_create(nullptr, nullptr));
        for (const Bytes& packet : packets) ASSERT_EQ(ts_demuxer_feed(demuxer.get(), packet, {}), 1);
        EXPECT_EQ(std::tuple(demuxer->pmt_pid, demuxer->video_pid, demuxer->audio_pid), std::tuple(pmt, video, audio));
    }
}

TEST_F(TsDemuxerTest, PtsDtsFlagsGiveTheTimestamps) {
    const std::tuple<uint8_t, int64_t, int64_t, int64_t, int64_t> cases[] = {
        {0, 0, 0, -1, -1},
        {2, 900000, 0, 900000, 900000},
        {3, 903003, 900000, 903003, 900000},
        {3, (int64_t{1} << 33) - 1, (int64_t{1} << 33) - 3004, (int64_t{1} << 33) - 1, (int64_t{1} << 33) - 3004},
    };
    ASSERT_EQ(feed(tables()), 1);
    const Bytes body = {0, 0, 1, 9, 0xF0};
    for (const auto& [flags, pts, dts, want_pts, want_dts] : cases) {
        recorder.units.clear();
        ASSERT_EQ(feed(ts_packets(VIDEO_PID, pes(flags, pts, dts, body))), 1);
        ASSERT_EQ(flush(), 1);
        EXPECT_EQ(recorder.units, Units({{ES_VIDEO, body, want_pts, want_dts}})) << int(flags);
    }
}

TEST_F(TsDemuxerTest, UnboundedUnitsEndAtTheNextUnitStartOrFlush) {
    // The first body grows the unit past 64 KiB several times.
    const Bytes first = body_of(300000, 1), second = body_of(500, 2), audio = body_of(1000, 3);
    Bytes data = ts_packets(VIDEO_PID, pes(2, 1000, 0, first));
    append(data, ts_packets(AUDIO_PID, pes(2, 1100, 0, audio, 0xC0)));
    ASSERT_EQ(feed(tables(data)), 1);
    EXPECT_TRUE(recorder.units.empty()) << "nothing is delivered before the next unit start";
    ASSERT_EQ(feed(ts_packets(VIDEO_PID, pes(2, 4000, 0, second))), 1);
    const Units want = {{ES_VIDEO, first, 1000, 1000}, {ES_VIDEO, second, 4000, 4000}, {ES_AUDIO, audio, 1100, 1100}};
    EXPECT_EQ(recorder.units, Units(want.begin(), want.begin() + 1));
    EXPECT_EQ(demuxer->video.capacity, 524288u);
    ASSERT_EQ(flush(), 1);
    ASSERT_EQ(flush(), 1);
    EXPECT_EQ(recorder.units, want) << "a second flush delivers nothing";
}

// As a live engine feeds HLS: each segment opens with the tables again and is
// flushed on its own, so its last units go out then, not with the next one.
TEST_F(TsDemuxerTest, SegmentsFlushedOneByOneLoseNoUnitAtTheirEdges) {
    Units want;
    for (int s = 0; s < 3; ++s) {
        const Bytes video = body_of(400, u8(s)), audio = body_of(300, u8(s + 9));
        Bytes segment = ts_packets(VIDEO_PID, pes(3, 180000 * s + 3003, 180000 * s, video));
        append(segment, ts_packets(AUDIO_PID, pes(2, 180000 * s, 0, audio, 0xC0)));
        ASSERT_EQ(feed(tables(segment)), 1);
        ASSERT_EQ(flush(), 1);
        want.insert(want.end(),
                    {{ES_VIDEO, video, 180000 * s + 3003, 180000 * s}, {ES_AUDIO, audio, 180000 * s, 180000 * s}});
        EXPECT_EQ(recorder.units, want) << "segment " << s;
    }
}

TEST_F(TsDemuxerTest, UnitWithADeclaredLengthGoesOutAsSoonAsItIsComplete) {
    // Audio PES usually announce their length; waiting for the next unit
    // start would hold a long one back for its whole duration.
    const Bytes audio = body_of(1000, 5);
    Bytes packet = pes(2, 2000, 0, audio, 0xC0);
    const size_t declared = packet.size() - 6;
    packet[4] = static_cast<uint8_t>(declared >> 8);
    packet[5] = static_cast<uint8_t>(declared);
    append(packet, Bytes(40, 0xEE));  // bytes past the declared end are not the unit's
    ASSERT_EQ(feed(tables(ts_packets(AUDIO_PID, packet))), 1);
    const Units want = {{ES_AUDIO, audio, 2000, 2000}};
    EXPECT_EQ(recorder.units, want);
    ASSERT_EQ(flush(), 1);
    EXPECT_EQ(recorder.units, want) << "delivered once only";
}

// Stray continuation bytes, adaptation fields filling or overrunning their
// packet, packets without payload and a unit start without a PES header.
TEST_F(TsDemuxerTest, PacketsThatCarryNoUnitBytesAreSkipped) {
    const Bytes full_field = ts_packet(VIDEO_PID, false, {});  // adaptation_field_length 183
    const Bytes payload_only = ts_packet(VIDEO_PID, false, body_of(184, 1));
    Bytes data = tables();
    for (const Bytes& part :
         {ts_packet(VIDEO_PID, false, body_of(184, 9)), ts_packets(VIDEO_PID, pes(2, 1000, 0, {7, 7, 7})), full_field,
          with(full_field, 4, 184), with(payload_only, 3, 0x20), with(payload_only, 3, 0x00),
          ts_packet(VIDEO_PID, true, body_of(184, 5)), ts_packet(VIDEO_PID, false, body_of(184, 6))}) {
        append(data, part);
    }
    ASSERT_EQ(feed(data), 1);
    ASSERT_EQ(flush(), 1);
    EXPECT_EQ(recorder.units, Units({{ES_VIDEO, {7, 7, 7}, 1000, 1000}}));
}

TEST_F(TsDemuxerTest, PesHeaderLongerThanItsPacketFailsTheFeed) {
    ASSERT_EQ(feed(tables()), 1);
    // PES_header_data_length past the payload
    EXPECT_EQ(feed(ts_packet(VIDEO_PID, true, with(pes(2, 1000, 0, {}), 8, 200))), 0);
    EXPECT_EQ(message(), "");
}

TEST_F(TsDemuxerTest, CallbackFailureFailsFeedAndFlushAndDiscardsTheUnit) {
    Bytes data = ts_packets(VIDEO_PID, pes(2, 1000, 0, {1}));
    append(data, ts_packets(AUDIO_PID, pes(2, 1000, 0, {2}, 0xC0)));
    ASSERT_EQ(feed(tables(data)), 1);
    recorder.answer = 0;
    EXPECT_EQ(flush(), 0);
    ASSERT_EQ(recorder.units.size(), 1u) << "the audio unit waits when video fails";
    EXPECT_EQ(std::tuple(demuxer->video.active, demuxer->audio.active), std::tuple(false, true));
    recorder.answer = 1;
    ASSERT_EQ(flush(), 1);
    ASSERT_EQ(recorder.units.size(), 2u);
    EXPECT_EQ(recorder.units[1].data, Bytes({2}));

    ASSERT_EQ(feed(ts_packets(VIDEO_PID, pes(2, 2000, 0, {3}))), 1);
    recorder.answer = 0;
    EXPECT_EQ(feed(ts_packets(VIDEO_PID, pes(2, 3000, 0, {4}))), 0);
    EXPECT_EQ(message(), "");
    recorder.answer = 1;
    ASSERT_EQ(flush(), 1);
    EXPECT_EQ(recorder.units.size(), 3u) << "the failed unit and the one after it are gone";
}

TEST_F(TsDemuxerTest, UnitThatNeverEndsIsRefusedPastTheLimit) {
    ASSERT_EQ(feed(tables(ts_packets(VIDEO_PID, pes(2, 1000, 0, {})))), 1);
    Bytes many;  // one feed of continuation packets just larger than the limit
    for (size_t i = 0; i < PES_MAX_UNIT_SIZE / 184 + 1; ++i) append(many, ts_packet(VIDEO_PID, false, body_of(184, 4)));
    EXPECT_EQ(feed(many), 0);
    EXPECT_LE(demuxer->video.capacity, PES_MAX_UNIT_SIZE);
}

}  // namespace
