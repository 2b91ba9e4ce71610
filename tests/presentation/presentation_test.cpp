// The desktop's presentation layer, toolkit-free: list cells, run time and
// details; the editor's form read from a record and back, and which
// controls each type shows. The front ends' tests check only their wiring.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <regex>
#include <tuple>

#include "run/engine_status.h"
#include "ui/presentation/editor_form.h"
#include "ui/presentation/health_view.h"
#include "ui/presentation/look.h"
#include "ui/presentation/main_view.h"

namespace {

TEST(Presentation, CellsRuntimeAndDetailsWithTheKeyMasked) {
    WorkflowList list;
    WorkflowPtr workflow(workflow_create(list));
    WorkflowSettings& s = workflow->settings;
    s.name = "Show", s.type = WorkflowType::record_then_push, s.source_type = SourceType::youtube;
    s.source = "https://youtu.be/abc", s.output_url = "rtmp://host/app/key";
    workflow_set_status(*workflow, WorkflowState::recording, "Recording");
    workflow_set_last_error(*workflow, "connection failed");
    workflow->start_tick.store(5000);
    // Outputs are numbered by their place among the stored ones: the
    // disabled third is counted, and not reported.
    s.extra_outputs = {{"rtmp://b/live/k2", true}, {"rtmp://c/live/k3", false}, {"rtmps://d/app/k4?x=1", true}};
    workflow->outputs = {{1, OutputState::connected, 5000, ""},
                         {2, OutputState::connecting, 9000, ""},
                         {},
                         {4, OutputState::reconnecting, 1000, "connection refused"}};
    const uint64_t hundred_hours = 5000 + 100ull * 3600 * 1000;
    const char* cells[] = {"Show", "Record/Push", "YouTube", "RECORDING", "100:00:00"};
    for (size_t column = 0; column < list_columns().size(); ++column)
        EXPECT_EQ(list_cell_text(*workflow, column, hundred_hours), cells[column]);
    EXPECT_EQ(format_runtime(0, 999999), "00:00:00");  // never started
    const std::string details =
        "Current operation: Recording\nSource: https://youtu.be/abc\nOutput: rtmp://host/app/********\n"
        "PID: 0\nStatus: RECORDING\nLast error: connection failed";
    EXPECT_EQ(workflow_details_text(*workflow, 14000),
              details +
                  "\nOutput 1: rtmp://host/app/******** CONNECTED for 00:00:09\n"
                  "Output 2: rtmp://b/live/******** CONNECTING for 00:00:05\n"
                  "Output 4: rtmps://d/app/******** RECONNECTING for 00:00:13 (connection refused)");
    workflow_set_status(*workflow, WorkflowState::stopped, "Stopped");
    EXPECT_EQ(workflow_details_text(*workflow, 14000).find("Output 1"), std::string::npos);
    const uint32_t recording = static_cast<uint32_t>(WorkflowState::recording);
    EXPECT_EQ(row_look(&recording, false).text, UiColour::state_recording);
    EXPECT_EQ(row_look(&recording, true).background, UiColour::accent);
}

TEST(Presentation, AboutTextNamesTheConfiguredVersionAndLicence) {
    const std::string about = about_text();
    EXPECT_TRUE(std::regex_search(about, std::regex(R"(^Veltrona [0-9]+\.[0-9]+\.[0-9]+\n)"))) << about;
    EXPECT_NE(about.find("GPL-3.0-or-later"), std::string::npos) << about;
}

TEST(Presentation, EditorFormOpensOnNearbyEntriesAndSavesInRange) {
    WorkflowSettings stored;
    stored.type = static_cast<WorkflowType>(5);  // unknown: opens as Direct Restream
    stored.image_x_pct = 150, stored.image_y_pct = -3, stored.scroll_speed = 55, stored.background_color = 0xFFFFFFFFu;
    stored.encoder = "software h.264", stored.audio_codec = "mp3";
    EditorForm form = editor_form_from(stored);
    EXPECT_EQ(std::tie(form.type, form.image_x, form.image_y, form.scroll_speed, form.encoder, form.background_color),
              std::make_tuple(2, 99, 0, 4, 2, std::string("#000000")));
    form.name = "Main", form.source_type = 1, form.source = "https://cdn.example/live.m3u8";
    form.output = "rtmp://host/app/key", form.font_size = "99999999999", form.poll_seconds = "4";
    form.text_color = "#ff8800";
    const auto read = editor_form_read(form, stored);
    ASSERT_TRUE(std::holds_alternative<WorkflowSettings>(read));
    const WorkflowSettings& s = std::get<WorkflowSettings>(read);
    EXPECT_EQ(std::tie(s.type, s.scroll_speed, s.font_size, s.poll_seconds, s.text_color, s.encoder, s.audio_codec),
              std::make_tuple(WorkflowType::direct_restream, 50, 2147483647, 15, 0x0088FFu,
                              std::string("Software H.264"), std::string("mp3")));  // no control edits the codec
    form.background_color = "#FFF";
    const auto refused = editor_form_read(form, stored);
    ASSERT_TRUE(std::holds_alternative<EditorProblem>(refused));
    EXPECT_EQ(editor_focus_id(std::get<EditorProblem>(refused).field), editor_id::background_color);
}

TEST(Presentation, EditorOutputsAddRemoveAndSaveWithTheirFlags) {
    WorkflowSettings stored;
    stored.name = "Main", stored.source_type = SourceType::direct, stored.source = "https://cdn.example/live.m3u8";
    stored.output_url = "rtmp://host/app/key";
    stored.extra_outputs = {{"rtmp://b/live/k2", false}};
    EditorForm form = editor_form_from(stored);
    struct Case {
        const char* url;
        const char* refusal;  // nullptr: added
    };
    const Case cases[] = {
        {"rtmp://c/live/k3", nullptr},
        {"http://c/live/k3", "Enter a complete RTMP or RTMPS output URL, including its application/path."},
        {"RTMP://HOST/app/key", "Two outputs have the same URL."},  // the first output's stream
        {"rtmp://b/live/k2", "Two outputs have the same URL."},     // a disabled one's too
        {"rtmp://d/live/k4", nullptr},
        {"rtmp://e/live/k5", nullptr},
        {"rtmp://f/live/k6", nullptr},
        {"rtmp://g/live/k7", nullptr},
        {"rtmp://h/live/k8", nullptr},
        {"rtmp://i/live/k9", "A workflow has at most 8 outputs."},
    };
    for (const Case& c : cases) {
        const size_t before = form.outputs.size();
        const std::optional<EditorProblem> problem = editor_add_output(form, c.url);
        EXPECT_EQ(problem ? problem->message : "", c.refusal ? c.refusal : "") << c.url;
        EXPECT_EQ(form.outputs.size(), before + (c.refusal ? 0 : 1)) << c.url;
    }
    editor_remove_output(form, 1);
    editor_remove_output(form, 99);
    form.outputs[1].enabled = false;
    const std::vector<OutputRow> rows = editor_output_rows(form.outputs);
    ASSERT_EQ(rows.size(), 6u);
    EXPECT_EQ(
        std::tie(rows[0].shown, rows[0].enabled, rows[1].shown, rows[1].enabled),
        std::make_tuple(std::string("rtmp://b/live/********"), false, std::string("rtmp://d/live/********"), false));
    const auto read = editor_form_read(form, stored);
    ASSERT_TRUE(std::holds_alternative<WorkflowSettings>(read));
    EXPECT_EQ(std::get<WorkflowSettings>(read).extra_outputs, form.outputs);
}

TEST(Presentation, EditorLayoutPerType) {
    struct Case {
        WorkflowType type;
        bool overlay, record, direct, browse;
        int source_width, buttons_y, client_height;
    };
    const Case cases[] = {{WorkflowType::overlay_stream, true, false, false, false, 384, 432, 462},
                          {WorkflowType::record_then_push, false, true, false, false, 384, 340, 370},
                          {WorkflowType::direct_restream, false, false, true, false, 384, 297, 327},
                          {WorkflowType::mp4_loop, true, false, false, true, 316, 432, 462}};
    auto shown = [](const EditorLayout& layout, int id) {
        for (const EditorControl& control : editor_controls())
            if (control.id == id) return editor_shows(layout, control);
        return false;
    };
    for (const Case& c : cases) {
        const EditorLayout layout = editor_layout(c.type);
        EXPECT_EQ(std::tuple(shown(layout, editor_id::image_path), shown(layout, editor_id::poll_seconds),
                             shown(layout, editor_id::prefer_stream_copy), shown(layout, editor_id::source_browse),
                             shown(layout, editor_id::source_type), layout.source.width, layout.buttons_y,
                             layout.client_height),
                  std::tuple(c.overlay, c.record, c.direct, c.browse, !c.browse, c.source_width, c.buttons_y,
                             c.client_height));
    }
}

// The health block shows what applies to the type, with a warning where
// key frames are far apart, the source went quiet or an output sends late.
TEST(Presentation, HealthLinesApplyToTheTypeAndWarnOfTrouble) {
    HealthSnapshot h;
    h.input_bitrate = 2.5e6, h.segments = 40, h.segment_failures = 1, h.latency_ms = 6000, h.last_segment_age_ms = 800;
    h.video_codec = "H.264", h.video_profile = "High", h.width = 1280, h.height = 720, h.frame_rate = 30;
    h.key_interval_ms = 2000, h.key_interval_longest_ms = 2000;
    h.audio_codec = "AAC", h.audio_rate = 48000, h.audio_channels = 2;
    OutputSnapshot output;
    output.number = 1, output.state = OutputState::connected, output.bitrate = 2.4e6, output.lateness_p99_ms = 40;
    h.outputs = {output};
    h.recording_file = "rec.ts", h.recording_bytes = 12'500'000;
    h.encoder = "libx264", h.frames_encoded = 900, h.encode_ms_per_frame = 4.25;
    const std::string video = "\nVideo: H.264 High, 1280x720, 30.00 fps, key frames every 2.0 s";
    const std::string audio_output =
        "\nAudio: AAC, 48000 Hz, 2 channels\nOutput 1: CONNECTED, 2.40 Mb/s, late p99 40 ms";
    WorkflowSettings direct, overlay, mp4;
    direct.type = WorkflowType::direct_restream, overlay.type = WorkflowType::overlay_stream;
    mp4.type = WorkflowType::mp4_loop;
    EXPECT_EQ(health_details_text(h, direct), "\nHealth:\nSource: 2.50 Mb/s, 40 segments, 1 failed, 6.0 s behind live" +
                                                  video + audio_output + "\nRecording: 12.5 MB, 0 write failures");
    EXPECT_EQ(health_details_text(h, mp4), "\nHealth:" + video + audio_output);
    EXPECT_THAT(health_details_text(h, overlay), ::testing::EndsWith("\nEncoder: libx264, 4.2 ms per frame"));

    h.last_segment_age_ms = 7200, h.key_interval_longest_ms = 5000, h.outputs[0].lateness_p99_ms = 1600;
    const std::string warned = health_details_text(h, direct);
    for (const char* warning :
         {"6.0 s behind live - WARNING: no data for 7 s\n",
          "key frames every 2.0 s - WARNING: key frames 5.0 s apart\n", "late p99 1600 ms - WARNING: sending late\n"}) {
        EXPECT_NE(warned.find(warning), std::string::npos) << warning;
    }
    EXPECT_EQ(health_details_text(HealthSnapshot{}, direct), "");
}

}  // namespace
