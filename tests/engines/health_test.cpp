// A run's figures against known input: the windows on a clock of the test's
// own, and the media figures of ffmpeg clips sent through the demuxer and
// the packetizer as a run sends them.
#include "engines/health.h"

#include <gtest/gtest.h>

#include <thread>

#include "media/ts_demuxer.h"
#include "support/media_fixtures.h"
#include "support/temp_dir.h"

namespace {

TEST(HealthWindows, BitrateIsTheMeanOfTheLastCompleteSecondsSinceTheFirst) {
    RateWindow window;
    const uint64_t start = 1'000'000;  // a tick clock's arbitrary origin
    // 125 kB a second in tenths of a second: 1 Mb/s.
    auto feed = [&](uint64_t from_ms, uint64_t to_ms) {
        for (uint64_t t = from_ms; t < to_ms; t += 100) rate_window_add(window, start + t, 12'500);
    };
    EXPECT_EQ(rate_window_per_second(window, start), 0);
    feed(0, 5000);
    EXPECT_DOUBLE_EQ(rate_window_per_second(window, start + 5000) * 8, 1e6);  // five seconds so far
    feed(5000, 20000);
    EXPECT_DOUBLE_EQ(rate_window_per_second(window, start + 20000) * 8, 1e6);
    EXPECT_DOUBLE_EQ(rate_window_per_second(window, start + 25000) * 8, 0.5e6);  // five quiet seconds
    EXPECT_EQ(rate_window_per_second(window, start + 31000), 0);
}

TEST(HealthWindows, PeaksAndLatenessCoverTheLastMinute) {
    PeakWindow peak;
    peak_window_note(peak, 10'000, 5000);
    peak_window_note(peak, 40'000, 2000);
    EXPECT_EQ(peak_window_max(peak, 69'000), 5000u);
    EXPECT_EQ(peak_window_max(peak, 70'500), 2000u);  // the 5 s gap is over a minute ago
    EXPECT_EQ(peak_window_max(peak, 101'000), 0u);

    LatenessWindow lateness;
    EXPECT_EQ(lateness_percentile(lateness, 0, 50), -1);
    for (int i = 0; i < 98; ++i) lateness_note(lateness, 1000 + i, 30);  // in the 20-40 ms bucket
    lateness_note(lateness, 2000, 700);
    lateness_note(lateness, 2000, 900);
    EXPECT_EQ(lateness_percentile(lateness, 3000, 50), 40);
    EXPECT_EQ(lateness_percentile(lateness, 3000, 99), 900);  // its bucket reaches 1000; 900 was the most
    EXPECT_EQ(lateness_percentile(lateness, 3000, 100), 900);
    EXPECT_EQ(lateness_percentile(lateness, 75'000, 99), -1);  // all of it older than the window
}

// The clip's tags, as paced_send hands them to the figures (timeline place =
// tag time), on a clock that follows the media.
HealthSnapshot figures_of_clip(const std::string& path, WorkflowHealth& health) {
    std::string bytes = read_file(path);
    struct Feed {
        WorkflowHealth* health;
        uint64_t now = 0;
    } feed{&health};
    FlvPacketizerPtr packetizer(flv_packetizer_create(
        [](void* context, const FlvTag& tag) {
            auto& f = *static_cast<Feed*>(context);
            f.now = 1000 + static_cast<uint64_t>(tag.timestamp_ms);
            health_media_tag(f.health, f.now, tag, tag.timestamp_ms);
            return 1;
        },
        &feed));
    TsDemuxerPtr demuxer(ts_demuxer_create(flv_packetizer_push, packetizer.get()));
    const auto* data = reinterpret_cast<const uint8_t*>(bytes.data());
    EXPECT_TRUE(ts_demuxer_feed(demuxer.get(), {data, bytes.size()}, {}) && ts_demuxer_flush(demuxer.get()));
    return health_snapshot(health, feed.now);
}

TEST(HealthMedia, KeyFrameIntervalsCodecsAndParametersOfRealClips) {
    TempDir dir;
    const std::tuple<int, std::string, int, int> cases[] = {{2, "1280x720", 48000, 2}, {5, "640x360", 44100, 1}};
    for (const auto& [key_seconds, size, sample_rate, channels] : cases) {
        const std::string clip = dir.file("key" + std::to_string(key_seconds) + ".ts");
        const std::string gop = std::to_string(25 * key_seconds);
        ASSERT_TRUE(make_clip(clip, {.seconds = 11,
                                     .size = size,
                                     .sample_rate = sample_rate,
                                     .channels = channels,
                                     .output_args = {"-g", gop, "-keyint_min", gop, "-sc_threshold", "0"}}));
        WorkflowHealth health;
        const HealthSnapshot shot = figures_of_clip(clip, health);
        EXPECT_EQ(shot.key_interval_ms, key_seconds * 1000);
        EXPECT_EQ(shot.key_interval_longest_ms, static_cast<uint64_t>(key_seconds) * 1000);
        EXPECT_EQ(std::tuple(shot.video_codec, shot.width, shot.height),
                  std::tuple("H.264", size == "640x360" ? 640u : 1280u, size == "640x360" ? 360u : 720u));
        EXPECT_EQ(shot.frame_rate, 25);
        EXPECT_EQ(std::tuple(shot.audio_codec, shot.audio_rate, shot.audio_channels),
                  std::tuple("AAC", static_cast<uint32_t>(sample_rate), static_cast<uint32_t>(channels)));
        EXPECT_LE(std::abs(shot.av_offset_ms), 1000);  // interleaved as ffmpeg wrote them
    }
}

// Readers copy snapshots while the engine thread and an output's thread
// count: no lock on the writers' side, no torn figure on the readers'.
TEST(HealthThreads, SnapshotsAreTakenWhileTheWritersCount) {
    WorkflowHealth health;
    std::atomic<bool> done{false};
    const std::vector<uint8_t> key_frame{0x17, 1, 0, 0, 0};
    std::thread engine([&] {
        for (int64_t t = 0; t < 20000; t += 40) {
            health_media_tag(&health, 1000 + t, {FLV_TAG_VIDEO, t, key_frame}, t);
            health_source_segment(&health, 1000 + t, 1000, 2000, &health, 0);
        }
    });
    std::thread link([&] {
        OutputHealth* output = health_output(&health, 2);
        for (uint64_t t = 0; t < 20000; t += 40) {
            health_output_state(output, 1000 + t, t % 400 ? OutputState::connected : OutputState::reconnecting, "lost");
            health_output_sent(output, 1000 + t, 500), health_output_lateness(output, 1000 + t, t % 100);
        }
        done = true;
    });
    while (!done) {
        const HealthSnapshot shot = health_snapshot(health, 21000);
        EXPECT_LE(shot.key_interval_ms, 40);
        for (const OutputSnapshot& output : shot.outputs)
            EXPECT_TRUE(output.last_error.empty() || output.last_error == "lost");
    }
    engine.join(), link.join();
    const HealthSnapshot shot = health_snapshot(health, 21000);
    EXPECT_EQ(std::tuple(shot.segments, shot.outputs.at(0).bytes), std::tuple(500u, 250000u));
}

}  // namespace
