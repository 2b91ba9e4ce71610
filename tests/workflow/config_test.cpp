// config.tsv: byte-exact saving, the reader's accepted shapes, the
// malformed-file path, and the guards that keep stream keys and the list safe.
#include "workflow/config.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <functional>

#include "app/startup.h"
#include "platform/folders.h"
#include "support/temp_dir.h"

namespace {

const std::string BOM = "\xEF\xBB\xBF";

std::string record(const std::string& id, const std::string& name, const std::string& tail = "") {
    // 27 fields, then whatever `tail` adds.
    return "W\t" + id + "\t3\t2\t1\t" + name +
           "\thttp://s/x.m3u8\trtmp://o/app/k\t0\t\t0\t0\t100\t0\t\t0\t0\t36\tAuto\t6000k\taac\t/rec\t15\t5\t0\t1\t1" +
           tail;
}

class ConfigTest : public ::testing::Test {
  protected:
    void SetUp() override {
        app.data_dir = dir.path();
        app.config_path = dir.file("config.tsv");
        app.logs_dir = dir.file("logs");
        app.recordings_dir = dir.file("rec");
    }
    bool load(const std::string& content) {
        write_file(app.config_path, content);
        return config_load(app);
    }
    WorkflowSettings& settings(size_t index) { return app.workflows.at(index)->settings; }

    TempDir dir;
    AppContext app;
};

TEST_F(ConfigTest, SavesAKnownListByteForByte) {
    auto add = [&](uint32_t id, const std::function<void(WorkflowSettings&)>& edit) {
        WorkflowPtr w(workflow_create(app));
        w->id = id;
        edit(w->settings);
        app.workflows.push_back(std::move(w));
    };
    add(1, [](WorkflowSettings& s) {
        s.name = "Morning show";
        s.source = "https://www.youtube.com/watch?v=abc";
        s.output_url = "rtmp://a.example/live/key1";
        s.recording_dir = "/data/recordings";
    });
    add(7, [](WorkflowSettings& s) {
        s = WorkflowSettings{};
        s.name = "Überblick ✓ 🎥";
        s.type = 1;
        s.source_type = 2;
        s.enabled = 0;
        s.source = "https://cdn.example/live.m3u8";
        s.output_url = "rtmps://b.example:443/app/key2";
        s.image_enabled = 1;
        s.image_path = "/img/logo.png";
        s.image_x_pct = 10;
        s.image_y_pct = 20;
        s.image_scale_pct = 75;
        s.text_enabled = 1;
        s.text = "Breaking news";
        s.text_bottom_pct = 5;
        s.font_size = 48;
        s.encoder = "Hardware H.264";
        s.bitrate = "4500k";
        s.recording_dir = "/data/rec two";
        s.poll_seconds = 30;
        s.reconnects = 3;
        s.delete_after_push = 1;
        s.prefer_stream_copy = 0;
        s.fallback_transcoding = 0;
        s.scroll_speed = 120;
        s.text_color = 0x0088FF;
        s.background_color = 0x202020;
    });
    ASSERT_TRUE(config_save(app));
    EXPECT_EQ(read_file(app.config_path),
              read_file(std::string(VELTRONA_SOURCE_DIR) + "/tests/workflow/data/config_expected.tsv"));
    struct stat info {};
    ASSERT_EQ(stat(app.config_path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);  // it holds stream keys
    EXPECT_FALSE(path_exists(app.config_path + ".tmp"));

    // And it reads back to the same list.
    AppContext again;
    again.config_path = app.config_path;
    ASSERT_TRUE(config_load(again));
    ASSERT_EQ(again.workflows.size(), 2u);
    EXPECT_EQ(again.workflows[1]->settings.name, "Überblick ✓ 🎥");
    EXPECT_EQ(again.workflows[1]->settings.text_color, 0x0088FFu);
    EXPECT_EQ(again.workflows[1]->id, 7u);
}

TEST_F(ConfigTest, ReadsTheRecordShapesItAccepts) {
    ASSERT_TRUE(load(BOM + "VELTRONA\t1\r\n" + record("1", "short") + "\r\n" +  // 27 fields
                     record("2", "full", "\t120\t255\t65280") + "\r\n" +        // 30 fields
                     record("3", "extra", "\t80\t17\t42\t99") + "\r\n" +        // 31: rest stays in field 29
                     record("4", "lf only", "\t10\t1\t2") + "\n" +              // LF line end
                     record("5", "28 fields", "\t1") + "\r\n" +                 // skipped
                     "w\t6\r\nW \t7\r\n\r\nX\tother\r\n"));                     // skipped
    ASSERT_EQ(app.workflows.size(), 4u);
    EXPECT_EQ(settings(0).scroll_speed, 50);
    EXPECT_EQ(settings(0).text_color, 0xFFFFFFu);
    EXPECT_EQ(settings(0).background_color, 0u);
    EXPECT_EQ(settings(1).scroll_speed, 120);
    EXPECT_EQ(settings(1).text_color, 255u);
    EXPECT_EQ(settings(1).background_color, 65280u);
    EXPECT_EQ(settings(2).background_color, 42u);
    EXPECT_EQ(settings(3).name, "lf only");
    EXPECT_EQ(settings(3).background_color, 2u);
    EXPECT_EQ(settings(1).source_type, 2);
    EXPECT_EQ(settings(1).recording_dir, "/rec");
}

TEST_F(ConfigTest, HeaderVariantsAndEmptyFiles) {
    struct Case {
        std::string content;
        bool ok;
        size_t workflows;
    };
    for (const Case& c : {Case{"", true, 0}, Case{BOM, true, 0}, Case{"VELTRONA\t1\n", true, 0},
                          Case{"MORVANTIX\t7\r\n" + record("3", "legacy") + "\r\n", true, 1},
                          Case{"VELTRONA\r\n" + record("3", "x") + "\r\n", false, 0}, Case{BOM + "VELTRONA", false, 0},
                          Case{"VELTRONAX\t1\r\n", false, 0}}) {
        SCOPED_TRACE(c.content);
        app.workflows.clear();
        app.next_id = 1;
        EXPECT_EQ(load(c.content), c.ok);
        EXPECT_EQ(app.workflows.size(), c.workflows);
    }
}

TEST_F(ConfigTest, NextIdEndsAboveEveryLoadedId) {
    ASSERT_TRUE(load("VELTRONA\t1\n" + record("3", "a") + "\n" + record("7", "b") + "\n"));
    EXPECT_EQ(app.next_id, 8u);
    app.workflows.clear();
    app.next_id = 1;
    ASSERT_TRUE(load("VELTRONA\t1\n" + record("1", "a") + "\n" + record("1", "b") + "\n"));
    EXPECT_EQ(app.next_id, 3u);
}

TEST_F(ConfigTest, TopmostIdDoesNotWrapTheNextId) {
    ASSERT_TRUE(load("VELTRONA\t1\n" + record("99999999999", "top") + "\n" + record("5", "low") + "\n"));
    ASSERT_EQ(app.workflows.size(), 2u);
    EXPECT_EQ(app.workflows[0]->id, UINT32_MAX);
    EXPECT_EQ(app.next_id, 6u);  // not 0, from where ids would repeat
}

TEST_F(ConfigTest, NumbersReadLikeTheCLibraryWithoutOverflow) {
    ASSERT_TRUE(load("VELTRONA\t1\n" + record("  12abc", "n", "\t99999999999\t-1\tzz") + "\n"));
    ASSERT_EQ(app.workflows.size(), 1u);
    EXPECT_EQ(app.workflows[0]->id, 12u);
    EXPECT_EQ(settings(0).scroll_speed, 2147483647);
    EXPECT_EQ(settings(0).text_color, 0xFFFFFFFFu);
    EXPECT_EQ(settings(0).background_color, 0u);
}

TEST_F(ConfigTest, TextFieldsAreCutToTheirCapacity) {
    std::string long_name(300, 'n');
    ASSERT_TRUE(load("VELTRONA\t1\n" + record("1", long_name) + "\n"));
    EXPECT_EQ(settings(0).name.size(), NAME_CAPACITY - 1);
}

TEST_F(ConfigTest, SaveTurnsTabsAndLineBreaksIntoSpacesInEveryTextField) {
    WorkflowPtr w(workflow_create(app));
    w->settings.name = "a\tb";
    w->settings.text = "line\r\nbreak";
    w->settings.encoder = "Hard\tware";
    w->settings.bitrate = "60\n00k";
    w->settings.audio_codec = "a\rac";
    app.workflows.push_back(std::move(w));
    ASSERT_TRUE(config_save(app));
    EXPECT_EQ(settings(0).name, "a b");  // cleaned in memory too
    EXPECT_EQ(settings(0).encoder, "Hard ware");
    app.workflows.clear();
    ASSERT_TRUE(config_load(app));
    ASSERT_EQ(app.workflows.size(), 1u);
    EXPECT_EQ(settings(0).text, "line  break");
    EXPECT_EQ(settings(0).bitrate, "60 00k");
    EXPECT_EQ(settings(0).audio_codec, "a ac");
}

TEST_F(ConfigTest, LoaderStopsAtTheTableSize) {
    std::string content = "VELTRONA\t1\n";
    for (int i = 1; i <= 1030; ++i) content += record(std::to_string(i), "w") + "\n";
    ASSERT_TRUE(load(content));
    EXPECT_EQ(app.workflows.size(), MAX_WORKFLOWS);
}

TEST_F(ConfigTest, FailedSaveLeavesTheOldFileAlone) {
    write_file(app.config_path, "VELTRONA\t1\r\n");
    ASSERT_EQ(mkdir((app.config_path + ".tmp").c_str(), 0755), 0);  // the temp file cannot be created
    app.workflows.emplace_back(workflow_create(app));
    EXPECT_FALSE(config_save(app));
    EXPECT_EQ(read_file(app.config_path), "VELTRONA\t1\r\n");
}

TEST(ConfigStartup, MalformedFileIsMovedAsideAndLogged) {
    TempDir dir;
    write_file(dir.file("config.tsv"), "VELTRONA\r\n");
    write_file(dir.file("config.tsv.malformed"), "older");
    AppContext app;
    app_startup(app, StartupOptions{dir.path(), false});
    EXPECT_TRUE(app.workflows.empty());
    EXPECT_FALSE(path_exists(dir.file("config.tsv")));
    EXPECT_EQ(read_file(dir.file("config.tsv.malformed")), "VELTRONA\r\n");
    EXPECT_THAT(read_file(dir.file("logs/application.log")),
                ::testing::EndsWith(" Malformed configuration moved aside\n"));
}

}  // namespace
