// Start-up folders, the one-time legacy copy, and the launcher entries'
// check-then-repair rules.
#include "app/startup.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>

#include "app/log.h"
#include "app/shortcuts.h"
#include "platform/files/folders.h"
#include "support/temp_dir.h"

namespace {

using ::testing::EndsWith;

class StartupTest : public ::testing::Test {
  protected:
    TempDir dir;
    ScopedEnv data_home{"XDG_DATA_HOME", dir.path()};
};

TEST_F(StartupTest, LegacyConfigurationIsCopiedOnceAndKept) {
    const std::string legacy =
        "MORVANTIX\t1\r\nW\t4\t3\t2\t1\told\thttp://s/x\trtmp://o/a/k\t0\t\t0\t0\t100\t0\t\t0\t0\t"
        "36\tAuto\t6000k\taac\t/r\t15\t5\t0\t1\t1\r\n";
    ASSERT_TRUE(ensure_directory(dir.file("Morvantix/Castwright")));
    write_file(dir.file("Morvantix/Castwright/config.tsv"), legacy);
    AppContext app;
    ASSERT_EQ(app_startup(app, {}).text, "");
    EXPECT_EQ(app.config_path, dir.file("Veltrona/config.tsv"));
    ASSERT_EQ(app.workflows.size(), 1u);
    EXPECT_EQ(std::tie(app.workflows[0]->settings.name, app.next_id), std::make_tuple("old", 5u));
    EXPECT_EQ(read_file(dir.file("Morvantix/Castwright/config.tsv")), legacy);
    struct stat info {};
    ASSERT_EQ(stat(app.config_path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    // Once config.tsv exists, the legacy file is ignored.
    write_file(app.config_path, "VELTRONA\t1\r\n");
    AppContext second;
    ASSERT_EQ(app_startup(second, {}).text, "");
    EXPECT_TRUE(second.workflows.empty());
}

// New entries in both folders (a path with a space is quoted in Exec only);
// a stale entry is repaired keeping the user's other keys; one that runs
// this program already (in any case) is left as it is.
TEST_F(StartupTest, ShortcutsAreCreatedOrRepairedKeepingTheUsersKeys) {
    const std::string desktop = dir.file("Desktop"), programs = dir.file("share/applications");
    ASSERT_TRUE(ensure_user_shortcuts_in(desktop, programs, "/opt/Veltrona App/veltrona"));
    for (const std::string& folder : {desktop, programs})
        EXPECT_THAT(read_file(folder + "/veltrona.desktop"),
                    ::testing::HasSubstr("\nExec=\"/opt/Veltrona App/veltrona\"\nPath=/opt/Veltrona App\n"
                                         "Comment=Veltrona\nIcon=veltrona\n"));
    const std::string entry = dir.file("veltrona.desktop");
    const std::string current = "[Desktop Entry]\nType=Application\nName=Mine\nExec=/OPT/VELTRONA/veltrona --x\n";
    write_file(entry, current);
    ASSERT_TRUE(ensure_shortcut(entry, "/opt/veltrona/veltrona"));
    EXPECT_EQ(read_file(entry), current);
    write_file(entry,
               "# mine\n[Desktop Entry]\nName=Mine\nExec=/old/place/veltrona\nKeywords=stream;\n\n"
               "[Desktop Action Quit]\nExec=/old/place/veltrona --quit\n");
    ASSERT_TRUE(ensure_shortcut(entry, "/new/place/veltrona"));
    EXPECT_EQ(read_file(entry),
              "# mine\n[Desktop Entry]\nName=Mine\nExec=/new/place/veltrona\nKeywords=stream;\n"
              "Path=/new/place\nComment=Veltrona\nIcon=veltrona\n\n"
              "[Desktop Action Quit]\nExec=/old/place/veltrona --quit\n");
}

TEST_F(StartupTest, UnwritableDesktopSkipsTheMenuEntryAndLogsOnce) {
    write_file(dir.file("Desktop"), "a file where the folder should be");
    EXPECT_FALSE(ensure_user_shortcuts_in(dir.file("Desktop/sub"), dir.file("apps"), "/opt/v/veltrona"));
    EXPECT_FALSE(path_exists(dir.file("apps/veltrona.desktop")));
    ScopedEnv config_home("XDG_CONFIG_HOME", dir.path());
    write_file(dir.file("user-dirs.dirs"), "XDG_DESKTOP_DIR=\"" + dir.file("Desktop/sub") + "\"\n");
    AppContext app;
    ASSERT_EQ(app_startup(app, StartupOptions{"", true}).text, "");
    const std::string log = read_file(app.logs_dir + "/application.log");
    EXPECT_THAT(log, EndsWith(" Could not create or repair current-user shortcuts\n"));
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 1);
}

// A data folder another user could have prepared, or whose files' paths
// would not fit, is refused before anything is written in it; in our own, a
// link planted at a log's name is not written through. (Changing owners
// needs root; without it those cases are skipped.)
TEST_F(StartupTest, DataFolderMustBePrivateAndItsFilesAreNotFollowed) {
    const std::string data = dir.file("data"), mine = dir.file("mine"), victim = dir.file("victim");
    const std::string refused = "The data folder " + data + " is not private to you.";
    const std::string too_long = dir.file(std::string(240, 'd'));
    const char* kept = "precious\n";
    const std::tuple<std::string, std::function<int()>, std::string> cases[] = {
        {data, [&] { return mkdir(data.c_str(), 0700) | chown(data.c_str(), 65534, 65534); }, refused},
        {data, [&] { return mkdir(data.c_str(), 0700) | chmod(data.c_str(), 0777); }, refused},
        {data, [&] { return symlink(mine.c_str(), data.c_str()) | lchown(data.c_str(), 65534, 65534); }, refused},
        {too_long, [] { return 0; }, "The data folder path is too long for the files kept in it: " + too_long},
        {data,
         [&] {
             return mkdir(data.c_str(), 0700) | mkdir((data + "/logs").c_str(), 0700) |
                    symlink(victim.c_str(), (data + "/logs/application.log").c_str());
         },
         ""},
    };
    ASSERT_EQ(mkdir(mine.c_str(), 0700), 0);
    for (const auto& [folder, plant, problem] : cases) {
        SCOPED_TRACE(problem);
        std::filesystem::remove_all(data);
        write_file(victim, kept);
        if (plant() != 0) continue;  // not root
        AppContext app;
        StartupProblem result = app_startup(app, StartupOptions{folder, false});
        EXPECT_EQ(result.text, problem);
        EXPECT_EQ(result.data_dir_unusable, !problem.empty());
        log_app(app, "Could not create or repair current-user shortcuts");
        EXPECT_EQ(read_file(victim), kept);
        EXPECT_FALSE(path_exists(mine + "/logs"));
    }
}

}  // namespace
