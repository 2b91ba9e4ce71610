// config.tsv: byte-exact saving, the reader's accepted shapes, the
// malformed-file path, and the guards that keep stream keys and the list safe.
#include "workflow/config.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>

#include "app/startup.h"
#include "platform/files/folders.h"
#include "support/temp_dir.h"

namespace {

using ::testing::AllOf;
using ::testing::HasSubstr;

const std::string BOM = "\xEF\xBB\xBF";

// 27 fields with the given type, then whatever `tail` adds.
std::string record(const std::string& id, const std::string& name, const std::string& tail = "",
                   const std::string& type = "3\t2\t1") {
    return "W\t" + id + "\t" + type + "\t" + name +
           "\thttp://s/x.m3u8\trtmp://o/app/k\t0\t\t0\t0\t100\t0\t\t0\t0\t36\tAuto\t6000k\taac\t/rec\t15\t5\t0\t1\t1" +
           tail;
}

class ConfigTest : public ::testing::Test {
  protected:
    void SetUp() override {
        app.data_dir = dir.path(), app.config_path = dir.file("config.tsv");
        app.logs_dir = dir.file("logs"), app.recordings_dir = dir.file("rec");
    }
    bool load(const std::string& content) {
        app.workflows.clear(), app.next_id = 1;
        write_file(app.config_path, content);
        return config_load(app) == ConfigLoad::loaded;
    }
    WorkflowSettings& settings(size_t index) { return app.workflows.at(index)->settings; }
    void add(uint32_t id, const WorkflowSettings& s) {
        Workflow* w = app.workflows.emplace_back(workflow_create(app)).get();
        w->id = id, w->settings = s;
    }
    TempDir dir;
    AppContext app;
};

TEST_F(ConfigTest, SavesAKnownListByteForByteAndReadsItBack) {
    WorkflowPtr defaults(workflow_create(app));
    WorkflowSettings a = defaults->settings, b;
    a.name = "Morning show", a.source = "https://www.youtube.com/watch?v=abc";
    a.output_url = "rtmp://a.example/live/key1", a.recording_dir = "/data/recordings";
    add(1, a);
    b.name = "Überblick ✓ 🎥", b.type = WorkflowType::overlay_stream, b.source_type = SourceType::direct;
    b.enabled = false, b.source = "https://cdn.example/live.m3u8", b.output_url = "rtmps://b.example:443/app/key2";
    b.image_enabled = true, b.image_path = "/img/logo.png", b.image_x_pct = 10, b.image_y_pct = 20;
    b.image_scale_pct = 75, b.text_enabled = true, b.text = "Breaking news", b.text_bottom_pct = 5, b.font_size = 48;
    b.scroll_speed = 120, b.text_color = 0x0088FF, b.background_color = 0x202020, b.encoder = "Hardware H.264";
    b.bitrate = "4500k", b.recording_dir = "/data/rec two", b.poll_seconds = 30, b.reconnects = 3;
    b.delete_after_push = true, b.prefer_stream_copy = false, b.fallback_transcoding = false;
    b.extra_outputs = {{"rtmp://c.example/live/key3", true}, {"rtmp://d.example/live/key4", false}};
    add(7, b);
    ASSERT_TRUE(config_save(app));
    const std::string expected =
        read_file(std::string(VELTRONA_SOURCE_DIR) + "/tests/workflow/data/config_expected.tsv");
    EXPECT_EQ(read_file(app.config_path), expected);
    struct stat info {};
    ASSERT_EQ(stat(app.config_path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);  // it holds stream keys
    EXPECT_FALSE(path_exists(app.config_path + ".tmp"));
    // Every field reads back: saving what was loaded gives the same bytes.
    app.workflows.clear();
    ASSERT_EQ(config_load(app), ConfigLoad::loaded);
    ASSERT_EQ(app.workflows.size(), 2u);
    EXPECT_EQ(std::tie(settings(1).name, app.workflows[1]->id, settings(1).extra_outputs),
              std::make_tuple("Überblick ✓ 🎥", 7u, b.extra_outputs));
    ASSERT_TRUE(config_save(app));
    EXPECT_EQ(read_file(app.config_path), expected);
}

TEST_F(ConfigTest, ReadsTheRecordShapesItAccepts) {
    ASSERT_TRUE(load(BOM + "VELTRONA\t1\r\n" + record("1", std::string(300, 'n')) + "\r\n" +  // 27 fields
                     record("2", "full", "\t120\t255\t65280") + "\r\n" +                      // 30 fields
                     record("3", "extra", "\t80\t17\t42\t99") + "\r\n" +  // 31: rest stays in field 29
                     record("4", "lf only", "\t10\t1\t2") + "\n" +        // LF line end
                     record("5", "28 fields", "\t1") + "\r\n" +           // skipped
                     "w\t6\r\nW \t7\r\n\r\nX\tother\r\n" +                // skipped
                     // Outputs follow their record; a stray or odd one is skipped.
                     "O\t4\t0\trtmp://b/live/k2\r\nO\t3\t1\trtmp://c/live/k\r\nO\t4\t1\trtmp://d/live/k\tx\r\n" +
                     "O\t4\t1\trtmp://e/live/k3\n"));
    ASSERT_EQ(app.workflows.size(), 4u);
    EXPECT_EQ(settings(3).extra_outputs,
              (std::vector<ExtraOutput>{{"rtmp://b/live/k2", false}, {"rtmp://e/live/k3", true}}));
    EXPECT_TRUE(settings(1).extra_outputs.empty());
    EXPECT_EQ(settings(0).name.size(), NAME_CAPACITY - 1);
    auto tail = [&](size_t i) {
        return std::tie(settings(i).scroll_speed, settings(i).text_color, settings(i).background_color);
    };
    EXPECT_EQ(tail(0), std::make_tuple(50, 0xFFFFFFu, 0u));
    EXPECT_EQ(tail(1), std::make_tuple(120, 255u, 65280u));
    EXPECT_EQ(settings(2).background_color, 42u);
    EXPECT_EQ(std::tie(settings(3).name, settings(3).background_color), std::make_tuple("lf only", 2u));
    EXPECT_EQ(std::tie(settings(1).source_type, settings(1).recording_dir),
              std::make_tuple(SourceType::direct, "/rec"));
}

// Only a hand-edited file holds a type or source type the program does not
// offer, or a flag other than 0 and 1: the type numbers are kept and saved
// back, a flag reads as set and is saved as 1.
TEST_F(ConfigTest, UnknownTypeNumbersTravelUnchanged) {
    ASSERT_TRUE(load("VELTRONA\t1\n" + record("1", "odd", "", "5\t7\t2") + "\n" + record("2", "zero", "", "0\t0\t0")));
    ASSERT_EQ(app.workflows.size(), 2u);
    EXPECT_EQ(std::tuple(static_cast<int32_t>(settings(0).type), settings(0).enabled, settings(1).enabled),
              std::tuple(5, true, false));
    ASSERT_TRUE(config_save(app));
    EXPECT_THAT(read_file(app.config_path),
                AllOf(HasSubstr("\nW\t1\t5\t7\t1\todd\t"), HasSubstr("\nW\t2\t0\t0\t0\tzero\t")));
}

TEST_F(ConfigTest, HeaderVariantsAndEmptyFiles) {
    const std::tuple<std::string, bool, size_t> cases[] = {
        {"", true, 0},
        {BOM, true, 0},
        {"VELTRONA\t1\n", true, 0},
        {"MORVANTIX\t7\r\n" + record("3", "legacy") + "\r\n", true, 1},
        {"VELTRONA\r\n" + record("3", "x") + "\r\n", false, 0},
        {BOM + "VELTRONA", false, 0},
        {"VELTRONAX\t1\r\n", false, 0}};
    for (const auto& [content, ok, workflows] : cases) {
        EXPECT_EQ(load(content), ok) << content;
        EXPECT_EQ(app.workflows.size(), workflows) << content;
    }
}

TEST_F(ConfigTest, NextIdEndsAboveEveryLoadedIdWithoutWrapping) {
    // A topmost id must not wrap next_id to 0, from where ids would repeat.
    for (const auto& [first, second, next_id] : {std::tuple{"3", "7", 8u}, {"1", "1", 3u}, {"99999999999", "5", 6u}}) {
        ASSERT_TRUE(load("VELTRONA\t1\n" + record(first, "a") + "\n" + record(second, "b") + "\n"));
        EXPECT_EQ(app.next_id, next_id) << first;
    }
    EXPECT_EQ(app.workflows[0]->id, UINT32_MAX);
}

TEST_F(ConfigTest, NumbersReadLikeTheCLibraryWithoutOverflow) {
    ASSERT_TRUE(load("VELTRONA\t1\n" + record("  12abc", "n", "\t99999999999\t-1\tzz") + "\n"));
    ASSERT_EQ(app.workflows.size(), 1u);
    EXPECT_EQ(app.workflows[0]->id, 12u);
    EXPECT_EQ(std::tie(settings(0).scroll_speed, settings(0).text_color, settings(0).background_color),
              std::make_tuple(2147483647, 0xFFFFFFFFu, 0u));
}

TEST_F(ConfigTest, SaveTurnsTabsAndLineBreaksIntoSpacesInEveryTextField) {
    WorkflowSettings s;
    s.name = "a\tb", s.text = "line\r\nbreak", s.encoder = "Hard\tware", s.bitrate = "60\n00k", s.audio_codec = "a\rac";
    s.extra_outputs = {{"rtmp://b/live/k\tx"}};
    add(1, s);
    ASSERT_TRUE(config_save(app));
    EXPECT_EQ(settings(0).name, "a b");  // cleaned in memory too
    ASSERT_EQ(config_load(app), ConfigLoad::loaded);
    ASSERT_EQ(app.workflows.size(), 2u);
    EXPECT_EQ(std::tie(settings(1).text, settings(1).encoder, settings(1).bitrate, settings(1).audio_codec),
              std::make_tuple("line  break", "Hard ware", "60 00k", "a ac"));
    EXPECT_EQ(settings(1).extra_outputs.at(0).url, "rtmp://b/live/k x");
}

TEST_F(ConfigTest, LoaderStopsAtTheTableSize) {
    std::string content = "VELTRONA\t1\n";
    for (int i = 1; i <= 1030; ++i) content += record(std::to_string(i), "w") + "\n";
    ASSERT_TRUE(load(content));
    EXPECT_EQ(app.workflows.size(), MAX_WORKFLOWS);
}

// A path whose temporary file's name would not fit is refused: cut to fit,
// the temporary file was the configuration itself.
TEST_F(ConfigTest, FailedSaveLeavesTheOldFileAlone) {
    app.config_path = dir.file(std::string(PATH_CAPACITY - 2 - dir.path().size(), 'c'));  // 259 units
    write_file(app.config_path, "VELTRONA\t1\r\n");
    app.workflows.emplace_back(workflow_create(app));
    EXPECT_FALSE(config_save(app));
    EXPECT_EQ(read_file(app.config_path), "VELTRONA\t1\r\n");
}

// Only a missing file is an empty list. Whatever else is in its place
// (a folder, a FIFO, a link) is reported and never saved over.
TEST_F(ConfigTest, AnUnreadableFileIsReportedAndNeverReplaced) {
    const std::pair<const char*, std::function<int()>> cases[] = {
        {"Is a directory", [&] { return mkdir(app.config_path.c_str(), 0700); }},
        {"not a regular file", [&] { return mkfifo(app.config_path.c_str(), 0600); }},
        {"Too many levels of symbolic links",
         [&] { return symlink(dir.file("elsewhere").c_str(), app.config_path.c_str()); }},
    };
    write_file(dir.file("elsewhere"), "VELTRONA\t1\r\n");
    for (const auto& [reason, plant] : cases) {
        std::filesystem::remove_all(app.config_path);
        ASSERT_EQ(plant(), 0) << reason;
        const std::string expected = app.config_path + " cannot be read: " + reason;
        std::string error;
        EXPECT_EQ(config_load(app, &error), ConfigLoad::unreadable);
        EXPECT_EQ(error, expected);
        EXPECT_FALSE(config_update(
            app, [](WorkflowList&) { return true; }, &error));
        EXPECT_EQ(error, expected);
        EXPECT_FALSE(std::filesystem::is_regular_file(std::filesystem::symlink_status(app.config_path))) << reason;
    }
    EXPECT_EQ(read_file(dir.file("elsewhere")), "VELTRONA\t1\r\n");
}

TEST(ConfigStartup, MalformedFileIsMovedAsideAndLogged) {
    TempDir dir;
    write_file(dir.file("config.tsv"), "VELTRONA\r\n");
    write_file(dir.file("config.tsv.malformed"), "older");
    AppContext app;
    EXPECT_EQ(app_startup(app, StartupOptions{dir.path(), false}).text, "");
    EXPECT_TRUE(app.workflows.empty() && !path_exists(dir.file("config.tsv")));
    EXPECT_EQ(read_file(dir.file("config.tsv.malformed")), "VELTRONA\r\n");
    EXPECT_THAT(read_file(dir.file("logs/application.log")),
                ::testing::EndsWith(" Malformed configuration moved aside\n"));
}

}  // namespace
