// A live HLS stream made by ffmpeg, served by nginx over HTTP and HTTPS, and
// followed by the downloader to its end: every segment arrives once, in
// order, byte for byte as written to disk.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "net/hls_downloader.h"
#include "net/hls_playlist.h"
#include "net/http_client.h"
#include "platform/clock.h"
#include "platform/folders.h"
#include "support/child.h"
#include "support/nginx_server.h"
#include "support/temp_dir.h"
#include "support/test_ca.h"

namespace {

// ffmpeg writes about nine seconds of 2-second segments in real time and
// finishes the playlist; the segments stay on disk (no deletion) so the
// delivered bytes can be compared with them.
bool start_live_source(Child* ffmpeg, const std::string& www, const std::string& log) {
    return ffmpeg->start({"timeout", "60", "ffmpeg", "-hide_banner", "-nostdin", "-re", "-f", "lavfi", "-i",
                          "testsrc2=size=320x240:rate=30", "-f", "lavfi", "-i", "sine=frequency=440:sample_rate=48000",
                          "-t", "9", "-c:v", "libx264", "-preset", "veryfast", "-g", "60", "-c:a", "aac", "-f", "hls",
                          "-hls_time", "2", "-hls_list_size", "0", www + "/live.m3u8"},
                         log);
}

class HlsLive : public ::testing::TestWithParam<bool> {};

}  // namespace

TEST_P(HlsLive, FollowsAnFfmpegStreamFromNginxToItsEnd) {
    bool https = GetParam();
    TempDir dir;
    TestCa ca;
    NginxOptions options;
    if (https) {
        ASSERT_TRUE(ca.create(dir.path()));
        options.https = true;
        options.cert = ca.server_cert;
        options.key = ca.server_key;
        ca.trust();
        http_client_shutdown();
    } else {
        options.http = true;
    }
    NginxServer nginx;
    ASSERT_TRUE(nginx.start(dir.path(), options)) << read_file(nginx.error_log);
    Child ffmpeg;
    ASSERT_TRUE(start_live_source(&ffmpeg, nginx.www_dir, dir.file("ffmpeg.log")));
    uint64_t deadline = tick_ms() + 20000;
    while (!path_exists(nginx.www_dir + "/live.m3u8") && tick_ms() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ASSERT_TRUE(path_exists(nginx.www_dir + "/live.m3u8")) << read_file(dir.file("ffmpeg.log"));

    Event stop;
    std::string url = https ? nginx.https_url("live.m3u8") : nginx.http_url("live.m3u8");
    SegmentRing* ring = hls_downloader_start(url, &stop);
    ASSERT_NE(ring, nullptr);
    std::vector<std::string> delivered;
    SegmentTake why = SegmentTake::segment;
    deadline = tick_ms() + 60000;
    while (why == SegmentTake::segment && tick_ms() < deadline) {
        ByteBuffer segment;
        why = segment_ring_take(ring, &segment);
        if (why == SegmentTake::segment) delivered.emplace_back(byte_buffer_text(segment));
        byte_buffer_free(&segment);
    }
    char error[256];
    segment_ring_error(ring, error);
    segment_ring_teardown(ring);
    ffmpeg.stop();
    if (https) ca.restore();
    EXPECT_EQ(why, SegmentTake::ended) << error;

    // The finished playlist on disk names every segment; the downloader
    // began at most two from the end of the first list it saw.
    HlsPlaylist final_list;
    ASSERT_TRUE(hls_parse_media_playlist("http://x/", read_file(nginx.www_dir + "/live.m3u8"), &final_list, error))
        << error;
    ASSERT_TRUE(final_list.end_list);
    size_t total = final_list.segment_urls.size();
    ASSERT_GE(total, 4u);
    ASSERT_GE(delivered.size(), 3u);
    ASSERT_LE(delivered.size(), total);
    size_t skipped = total - delivered.size();
    for (size_t i = 0; i < delivered.size(); ++i) {
        std::string name = final_list.segment_urls[skipped + i].substr(std::string("http://x/").size());
        SCOPED_TRACE(name);
        std::string on_disk = read_file(nginx.www_dir + "/" + name);
        EXPECT_FALSE(on_disk.empty());
        EXPECT_TRUE(delivered[i] == on_disk);
    }
}

INSTANTIATE_TEST_SUITE_P(HttpAndHttps, HlsLive, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Https" : "Http"; });
