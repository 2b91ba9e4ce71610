// The three exports of a running workflow's status fields: which samples
// Prometheus gets (and which it must not), the JSON's grouping and types,
// and the page's escaping and warnings. The fields come from the status
// file's own writer, so a renamed field shows up here.
#include "run/health_export.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "run/engine_status.h"
#include "support/app_fixture.h"

namespace {

using ::testing::HasSubstr;
using ::testing::Not;

class HealthExportTest : public AppFixture {
  protected:
    // A Direct Restream whose second stored output is disabled, so the run
    // has outputs 1 and 3; its name needs escaping everywhere.
    StatusFields fields(const HealthSnapshot& shot) {
        Workflow& w = add_workflow([](WorkflowSettings& s) {
            s.name = "Stage \"A\" <b>\\";
            s.output_url = "rtmp://a.example/live/firstkey111";
            s.extra_outputs = {{"rtmp://b.example/live/secondkey222", false},
                               {"rtmp://c.example/live/thirdkey333", true}};
        });
        workflow_set_status(w, WorkflowState::streaming, "Streaming to rtmp://c.example/live/thirdkey333");
        return status_fields_parse(status_file_text(w, &shot, 0));
    }

    static HealthSnapshot snapshot() {
        HealthSnapshot h;
        h.uptime_ms = 65000, h.input_bitrate = 2500000, h.segments = 30, h.latency_ms = -1;
        h.last_segment_age_ms = 7000;  // quiet for longer than a warning allows
        h.video_codec = "H.264", h.video_profile = "High", h.video_level = 40, h.width = 1280, h.height = 720;
        h.frame_rate = 30, h.key_interval_ms = 2000, h.key_interval_longest_ms = 5000;
        h.audio_codec = "AAC", h.audio_rate = 48000, h.audio_channels = 2, h.av_offset_ms = -40;
        OutputSnapshot first{.number = 1,
                             .state = OutputState::connected,
                             .connected_for_ms = 60000,
                             .bytes = 1234567,
                             .bitrate = 2400000,
                             .last_error = "",
                             .queue_ms = 120,
                             .lateness_p50_ms = 20,
                             .lateness_p99_ms = 40};
        OutputSnapshot third{.number = 3,
                             .state = OutputState::reconnecting,
                             .reconnects = 2,
                             .last_error = "publish to rtmp://c.example/live/thirdkey333 refused",
                             .lateness_p99_ms = 1600};
        h.outputs = {first, third};
        return h;
    }
};

TEST_F(HealthExportTest, PrometheusHasUnitsLabelsAndNoSampleForWhatIsUnknown) {
    const std::string text = prometheus_text({fields(snapshot())}, "1.2.3");
    const std::string labels = "workflow=\"1\",name=\"Stage \\\"A\\\" <b>\\\\\"";
    for (const std::string& line : {
             std::string("veltrona_build_info{version=\"1.2.3\"} 1"),
             std::string("# TYPE veltrona_output_bytes_total counter"),
             "veltrona_workflow_state{" + labels + ",state=\"STREAMING\"} 1",
             "veltrona_workflow_state{" + labels + ",state=\"ERROR\"} 0",
             "veltrona_workflow_uptime_seconds{" + labels + "} 65",
             "veltrona_source_input_bytes_per_second{" + labels + "} 312500",
             "veltrona_video_info{" + labels + ",codec=\"H.264\",profile=\"High\",level=\"4.0\"} 1",
             "veltrona_video_key_frame_interval_longest_seconds{" + labels + "} 5",
             "veltrona_media_av_offset_seconds{" + labels + "} -0.04",
             "veltrona_output_info{" + labels + ",output=\"3\",url=\"rtmp://c.example/live/********\"} 1",
             "veltrona_output_state{" + labels + ",output=\"3\",state=\"RECONNECTING\"} 1",
             "veltrona_output_bytes_total{" + labels + ",output=\"1\"} 1234567",
             "veltrona_output_queue_seconds{" + labels + ",output=\"1\"} 0.12",
             "veltrona_output_lateness_p99_seconds{" + labels + ",output=\"3\"} 1.6",
         }) {
        EXPECT_THAT(text, HasSubstr(line + "\n"));
    }
    for (const std::string& absent : {
             std::string("veltrona_source_latency_seconds{"),  // -1: not known
             "veltrona_output_connected_seconds{" + labels + ",output=\"3\"}",
             std::string("veltrona_recording_bytes_total{"),  // no recording, no encoder
             std::string("veltrona_encoder_frames_total{"),
             std::string("output=\"2\""),
             std::string("firstkey111"),
             std::string("thirdkey333"),
         }) {
        EXPECT_THAT(text, Not(HasSubstr(absent)));
    }
}

TEST_F(HealthExportTest, JsonGroupsFieldsAndKeepsTextsAsStrings) {
    const std::string json = workflows_json({fields(snapshot())}, "1.2.3");
    for (const char* part : {
             "{\"version\":\"1.2.3\",\"workflows\":[{\"id\":1,",
             "\"name\":\"Stage \\\"A\\\" <b>\\\\\"",
             "\"state\":\"STREAMING\"",
             "\"source\":{\"bitrate_bps\":2500000,\"last_segment_age_ms\":7000,\"latency_ms\":-1,",
             "\"level\":\"4.0\"",
             "\"outputs\":[{\"number\":1,\"bitrate_bps\":2400000,\"bytes\":1234567,",
             "{\"number\":3,",
             "\"url\":\"rtmp://c.example/live/********\"",
         }) {
        EXPECT_THAT(json, HasSubstr(part));
    }
    for (const char* absent : {"\"outputs\":2", "secondkey222", "thirdkey333"})
        EXPECT_THAT(json, Not(HasSubstr(absent)));
}

TEST_F(HealthExportTest, PageEscapesTextsAndWarnsWhereIngestsWouldSuffer) {
    const std::string page = status_page_html({fields(snapshot())}, "1.2.3", 2);
    for (const char* part : {
             "<meta http-equiv=\"refresh\" content=\"2\">",
             "#1 Stage &quot;A&quot; &lt;b&gt;\\ <span class=\"good\">STREAMING</span>",
             "WARNING: no data for 7.0 s",
             "WARNING: key frames 5.0 s apart",
             "WARNING: sending late",
             "rtmp://c.example/live/********",
             "publish to rtmp://c.example/live/******** refused",
         }) {
        EXPECT_THAT(page, HasSubstr(part));
    }
    EXPECT_THAT(page, Not(HasSubstr("<b>")));
    EXPECT_THAT(page, Not(HasSubstr("thirdkey333")));
    EXPECT_THAT(status_page_html({}, "1.2.3", 2), HasSubstr("No workflow is running."));
}

}  // namespace
