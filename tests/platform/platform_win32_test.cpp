// The Win32 platform layer on a real Windows API (Wine in CI): child
// processes, folders and private files with non-ASCII names, shell links,
// and the socket stop listener. Child-process cases start this very test
// program again with VELTRONA_TEST_HELPER set, which turns the Helper test
// into the child's behaviour.
// The system headers must come in this order.
// clang-format off
#include <winsock2.h>
#include <windows.h>
#include <shellapi.h>
#include <fcntl.h>
#include <io.h>
// clang-format on

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "app/shortcuts.h"
#include "platform/files/files.h"
#include "platform/files/folders.h"
#include "platform/network/socket_connect.h"
#include "platform/process/process.h"
#include "platform/text/wide_text.h"
#include "platform/time/event.h"

namespace {

std::string helper_mode() {
    const char* mode = std::getenv("VELTRONA_TEST_HELPER");
    return mode ? mode : "";
}

// The child side: prints its arguments one per line, or never ends.
TEST(Win32Helper, ActsAsTheChildWhenAsked) {
    std::string mode = helper_mode();
    if (mode == "args") {
        _setmode(_fileno(stdout), _O_BINARY);  // "\n", not "\r\n"
        int count = 0;
        wchar_t** args = CommandLineToArgvW(GetCommandLineW(), &count);
        for (int i = 1; i < count; ++i) std::printf("[%s]\n", wide_to_utf8(args[i]).c_str());
        std::fflush(stdout);
        std::exit(7);
    }
    if (mode == "hang") {
        for (;;) Sleep(1000);
    }
}

// Runs this program as a helper child with `args` after the test filter.
ProcessResult run_helper(const char* mode, const std::vector<std::string>& args, uint32_t limit_ms) {
    SetEnvironmentVariableW(L"VELTRONA_TEST_HELPER", utf8_to_wide(mode).c_str());
    std::vector<std::string> argv = {executable_path(), "--gtest_filter=Win32Helper.*"};
    argv.insert(argv.end(), args.begin(), args.end());
    ProcessResult result;
    EXPECT_TRUE(process_run_capture(argv, limit_ms, 1223, &result));
    SetEnvironmentVariableW(L"VELTRONA_TEST_HELPER", nullptr);
    return result;
}

std::string scratch_folder(const char* name) {
    // Unique per run: Wine hands out process ids again, and the prefix keeps its files.
    std::string folder = temp_folder() + "veltrona-test-" + std::to_string(GetCurrentProcessId()) + "-" +
                         std::to_string(GetTickCount64()) + "/" + name;
    EXPECT_TRUE(ensure_directory(folder));
    return folder;
}

// The exact arguments and exit code; a time limit ends a child that hangs;
// a missing program is not started.
TEST(ProcessWin32, ChildArgumentsExitCodesAndTimeLimit) {
    std::vector<std::string> args = {"plain", "with space", "quote\"inside", "C:\\folder\\", "", "naïve ✓"};
    ProcessResult result = run_helper("args", args, 60000);
    EXPECT_FALSE(result.killed);
    EXPECT_EQ(result.exit_code, 7u);
    std::string expected;
    for (const std::string& arg : args) expected += "[" + arg + "]\n";
    EXPECT_NE(result.output.find(expected), std::string::npos) << result.output;
    result = run_helper("hang", {}, 1500);
    EXPECT_TRUE(result.killed);
    EXPECT_EQ(result.exit_code, 1223u);
    EXPECT_FALSE(process_run_capture({"C:\\no\\such\\program.exe"}, 1000, 1223, &result));
}

TEST(FoldersWin32, EitherSeparatorAndNonAsciiNames) {
    std::string base = scratch_folder("folders");
    std::string nested = base + "\\Grüße/ünïcode\\deeper";
    ASSERT_TRUE(ensure_directory(nested));
    EXPECT_TRUE(is_directory(base + "/Grüße\\ünïcode"));
    EXPECT_EQ(path_parent("C:\\a/b\\c.txt"), "C:\\a/b");
}

TEST(FilesWin32, PrivateFilesReplaceAppendAndCreateOnce) {
    const std::string folder = scratch_folder("files"), path = folder + "\\config ✓.tsv", log = folder + "\\log.txt",
                      moved = folder + "\\moved.txt";
    auto content = [](const std::string& file) {
        std::string text = "unread";
        EXPECT_EQ(file_read_all(file, &text), FileRead::ok) << file;
        return text;
    };
    ASSERT_TRUE(file_replace_private(path, "first"));
    ASSERT_TRUE(file_replace_private(path, "second"));  // over an existing file
    EXPECT_EQ(content(path), "second");
    EXPECT_FALSE(path_exists(path + ".tmp"));
    EXPECT_FALSE(file_create_private(path, "never"));  // exists already
    EXPECT_EQ(regular_file_size(path), 6);

    file_append_private(log, "0123456789", 1000);
    file_append_private(log, "abc", 1000);
    EXPECT_EQ(regular_file_size(log), 13);
    file_append_private(log, "x", 5);  // larger than the limit: emptied first
    EXPECT_EQ(content(log), "x");

    ASSERT_TRUE(file_replace_private(moved, "old"));
    EXPECT_TRUE(file_move_replacing(path, moved));
    EXPECT_EQ(content(moved), "second");

    FILE* file = file_open(folder + "\\ü.ts", "wb");
    ASSERT_NE(file, nullptr);
    std::fclose(file);
    EXPECT_TRUE(path_exists(folder + "/ü.ts"));
}

TEST(ShortcutsWin32, WritesALinkAndRepairsAStaleOne) {
    const std::string link = scratch_folder("links") + "\\Veltrona.lnk";
    ASSERT_TRUE(ensure_shortcut(link, "C:\\old\\veltrona.exe"));
    ASSERT_TRUE(path_exists(link));
    ASSERT_TRUE(ensure_shortcut(link, "C:\\New Place\\veltrona.exe"));
    EXPECT_GT(regular_file_size(link), 0);
    auto written_at = [&] {
        HANDLE file =
            CreateFileW(utf8_to_wide(link).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        FILETIME time{};
        EXPECT_TRUE(GetFileTime(file, nullptr, nullptr, &time));
        CloseHandle(file);
        return (uint64_t{time.dwHighDateTime} << 32) | time.dwLowDateTime;
    };
    // In order (same target in another letter case): left alone.
    const uint64_t before = written_at();
    Sleep(50);
    EXPECT_TRUE(ensure_shortcut(link, "c:\\new place\\VELTRONA.EXE"));
    EXPECT_EQ(written_at(), before);
}

TEST(SocketWin32, StopListenerEndsABlockedReceive) {
    WSADATA data{};
    ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &data), 0);
    SOCKET listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof address;
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length), 0);
    ASSERT_EQ(listen(listener, 1), 0);

    int fd = socket_connect("127.0.0.1", ntohs(address.sin_port), 60000);
    ASSERT_GE(fd, 0);
    SOCKET accepted = accept(listener, nullptr, nullptr);
    Event stop;
    EventListener watch(&stop, socket_shutdown_listener, &fd);
    std::atomic<long> got{1};
    std::thread reader([&] {
        char byte;
        got = socket_recv(fd, &byte, 1);
    });
    Sleep(200);
    stop.set();  // the peer never sends: only the listener can end the receive
    reader.join();
    EXPECT_LE(got.load(), 0);
    socket_close(fd);
    closesocket(accepted);
    closesocket(listener);
}

TEST(SocketWin32, UnresolvableGivesNoSocketAndLiteralsAreKnown) {
    EXPECT_LT(socket_connect("no-such-host.invalid", 80, 5000), 0);
    EXPECT_TRUE(socket_is_ip_literal("127.0.0.1") && socket_is_ip_literal("::1"));
    EXPECT_FALSE(socket_is_ip_literal("localhost"));
}

}  // namespace
