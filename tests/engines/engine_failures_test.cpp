// Every engine's failure texts in one table: a file or URL that cannot be
// used ends the run with its own words (never the stream key), and a stop
// set before anything arrived ends it quietly, without connecting. Loops
// that publish before they read get a scripted server that accepts.
#include <gtest/gtest.h>

#include <array>
#include <functional>

#include "engines/engines.h"
#include "platform/text/error_text.h"
#include "support/fake_rtmp_server.h"
#include "support/media_fixtures.h"
#include "support/temp_dir.h"

namespace {

TEST(EngineFailures, EachEndsWithItsOwnText) {
    TempDir dir;
    std::string null_packets;  // a TS file without a program
    for (int i = 0; i < 100; ++i) null_packets += std::string("\x47\x1F\xFF\x10", 4) + std::string(184, '\xFF');
    write_file(dir.file("empty-program.ts"), null_packets);
    const std::string one = dir.file("one.ts"), missing = dir.file("missing.ts"), empty = dir.file("empty-program.ts");
    ASSERT_TRUE(make_clip(one, {.seconds = 1.0}));
    const std::string never = "http://127.0.0.1:9/never.m3u8", bad_rtmp = "rtmp://host/app/\xFF";
    const OverlaySettings ticker = {.image_path = {}, .text_enabled = 1, .text = "Overlay test", .font_size = 20};
    Event stop, stopped;
    stopped.set();
    using Run = std::function<EngineResult(const std::string& output_url, std::span<char> error)>;
    auto ts_loop = [&](std::string path) -> Run {
        return [&, path](auto& url, auto e) { return ts_loop_publisher({path, url}, {.stop_event = &stop}, e); };
    };
    auto overlay_loop = [&](std::string path) -> Run {
        return [&, path](auto& url, auto e) {
            return overlay_ts_loop_engine({path, url, ticker}, {.stop_event = &stop}, e);
        };
    };
    auto hls = [&](std::string source, std::string recording, Event* event) -> Run {
        return [&, source, recording, event](auto& url, auto e) {
            return url.empty() ? hls_to_ts_recorder({source, recording}, {.stop_event = event}, e)
                               : hls_to_rtmp_engine({source, url, recording}, {.stop_event = event}, e);
        };
    };
    constexpr EngineResult FAILED = EngineResult::failed, STOPPED = EngineResult::stopped;
    // The output "" means the recorder; "publish", a scripted server that accepts the publish.
    const std::tuple<Run, std::string, EngineResult, const char*> cases[] = {
        {hls(never, dir.file("no/such/rec.ts"), &stop), "", FAILED, "recording file cannot be opened"},
        {hls("http://h/\xC3", "", &stop), "rtmp://h/a/k", FAILED, "URL conversion failed"},
        {hls(never, dir.file("a.ts"), &stopped), "", FAILED, ""},
        {hls(never, "", &stopped), "rtmp://127.0.0.1:1/app/k", STOPPED, ""},
        {[&](auto&, auto e) {
             return overlay_stream_engine({"http://127.0.0.1:1/\xFF", "rtmp://127.0.0.1:1/app/k", "", ticker},
                                          {.stop_event = &stop}, e);
         },
         "", FAILED, "URL conversion failed"},
        {ts_loop(missing), "publish", FAILED, "recording cannot be opened for playback"},
        {ts_loop(empty), "publish", FAILED, "recording holds no playable audio or video"},
        {ts_loop(one), bad_rtmp, FAILED, "RTMP URL conversion failed"},
        {ts_loop(one), "rtmp://127.0.0.1:1/live/secret", FAILED, nullptr},     // refused: the publisher's text
        {ts_loop(dir.path()), "publish", FAILED, "TS recording read failed"},  // a folder opens, but reads fail
        {overlay_loop(missing), "publish", FAILED, "TS recording cannot be opened"},
        {overlay_loop(dir.path()), "publish", FAILED, "TS recording read failed"},
        {overlay_loop(empty), "publish", FAILED, "recording holds no playable audio or video"},
    };
    for (const auto& [run, output, result, text] : cases) {
        FakeRtmpServer server;
        ASSERT_TRUE(output != "publish" || server.start(fake_rtmp_accept_and_record, 15000));
        std::array<char, ENGINE_ERROR_SIZE> error{};
        EXPECT_EQ(run(output == "publish" ? server.url() : output, error), result) << error_view(error);
        if (text) {
            EXPECT_EQ(error_view(error), text);
        } else {
            EXPECT_FALSE(error_is_empty(error));
            EXPECT_EQ(std::string(error_view(error)).find("secret"), std::string::npos) << error_view(error);
        }
    }
}

}  // namespace
