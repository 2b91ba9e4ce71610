// The Win32 window driven by its messages, as a user's clicks would reach
// it (Wine under Xvfb in CI): workflows added through the real editor land
// in the list and in config.tsv, the editor refuses a bad output URL, its
// more-outputs list adds, removes and switches outputs an edit keeps, delete
// and close ask what they must, and a runner's notice refreshes a row.
// Message boxes are answered by a recorder; the editor is the real dialog,
// driven from a second thread while this one runs the window.
// clang-format off
#include <windows.h>
#include <commctrl.h>
// clang-format on

#include "ui/win32/main_window_win32.h"

#include <gtest/gtest.h>

#include <atomic>
#include <deque>
#include <functional>
#include <thread>

#include "platform/files/files.h"
#include "platform/files/folders.h"
#include "platform/text/wide_text.h"
#include "run/engine_status.h"
#include "run/run_control.h"
#include "ui/presentation/editor_form.h"
#include "ui/presentation/main_view.h"
#include "ui/win32/dialogs_win32.h"

namespace {

struct Boxes {
    std::vector<std::pair<std::string, std::string>> shown;  // title, text
    std::deque<int> answers;                                 // IDYES when empty
};
Boxes boxes;

int record_box(HWND, const std::wstring& text, const std::wstring& title, UINT type) {
    boxes.shown.emplace_back(wide_to_utf8(title), wide_to_utf8(text));
    if ((type & MB_YESNO) == 0) return IDOK;
    if (boxes.answers.empty()) return IDYES;
    const int answer = boxes.answers.front();
    boxes.answers.pop_front();
    return answer;
}

// Runs the window's messages until `done` holds or 10 s pass.
bool pump_until(const std::function<bool()>& done) {
    const uint64_t end = GetTickCount64() + 10000;
    while (!done()) {
        if (GetTickCount64() > end) return false;
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    }
    return true;
}

// The top-level dialog the UI thread shows, once it is up (bounded wait).
HWND wait_for_dialog(DWORD ui_thread) {
    for (int tries = 0; tries < 500; ++tries) {
        HWND found = nullptr;
        EnumThreadWindows(
            ui_thread,
            [](HWND window, LPARAM out) {
                wchar_t name[16] = {};
                GetClassNameW(window, name, 16);
                if (wcscmp(name, L"#32770") != 0 || !IsWindowVisible(window)) return TRUE;
                *reinterpret_cast<HWND*>(out) = window;
                return FALSE;
            },
            reinterpret_cast<LPARAM>(&found));
        if (found) return found;
        Sleep(20);
    }
    return nullptr;
}

class Win32WindowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        boxes = Boxes{};
        win32_hooks().message_box = record_box;
        INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_LISTVIEW_CLASSES | ICC_STANDARD_CLASSES};
        InitCommonControlsEx(&controls);
        data_ = temp_folder() + "veltrona-window-" + std::to_string(GetCurrentProcessId()) + "-" +
                std::to_string(GetTickCount64());
        ASSERT_EQ(app_context_init(app_, data_), "");
        window_ = main_window_create(app_, GetModuleHandleW(nullptr), Win32UiOptions{false});
        ASSERT_NE(window_, nullptr);
    }
    void TearDown() override {
        if (IsWindow(window_)) DestroyWindow(window_);
        MSG message;  // the quit message the window posted must not end a later dialog
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
        win32_hooks_reset();
    }
    HWND control(int id) { return GetDlgItem(window_, id); }
    void click(int id) { SendMessageW(control(id), BM_CLICK, 0, 0); }
    void select_row(int row) {
        LVITEMW state{};
        state.stateMask = state.state = LVIS_SELECTED | LVIS_FOCUSED;
        SendMessageW(control(LIST_ID), LVM_SETITEMSTATE, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&state));
    }
    std::string cell(int row, int column) {
        wchar_t text[256] = {};
        LVITEMW item{};
        item.iSubItem = column, item.pszText = text, item.cchTextMax = 256;
        SendMessageW(control(LIST_ID), LVM_GETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
        return wide_to_utf8(text);
    }
    int rows() { return static_cast<int>(SendMessageW(control(LIST_ID), LVM_GETITEMCOUNT, 0, 0)); }
    Workflow& stored(const std::string& name, WorkflowState state) {
        Workflow* workflow = app_.workflows.emplace_back(workflow_create(app_)).get();
        workflow->settings.name = name;
        workflow->state.store(static_cast<uint32_t>(state));
        SendMessageW(window_, WM_WORKFLOW_UPDATED, workflow->id, 0);
        return *workflow;
    }
    // Clicks Add (or Edit) and, from a second thread, fills the editor and saves it.
    void add_through_editor(const std::function<void(HWND dialog)>& fill, int button = 103) {
        std::atomic<bool> done{false};
        const DWORD ui_thread = GetCurrentThreadId();
        PostMessageW(control(button), BM_CLICK, 0, 0);
        std::thread driver([&] {
            if (HWND dialog = wait_for_dialog(ui_thread)) fill(dialog);
            done = true;
        });
        EXPECT_TRUE(pump_until([&] { return done.load(); }));  // the editor has closed when the click returns
        driver.join();
    }

    std::string data_;
    AppContext app_;
    HWND window_ = nullptr;
};

void set_field(HWND dialog, int id, const std::string& text) {
    SendMessageW(GetDlgItem(dialog, id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(utf8_to_wide(text).c_str()));
}

void choose_type(HWND dialog, int index) {
    SendMessageW(GetDlgItem(dialog, editor_id::type), CB_SETCURSEL, static_cast<WPARAM>(index), 0);
    SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(editor_id::type, CBN_SELCHANGE),
                 reinterpret_cast<LPARAM>(GetDlgItem(dialog, editor_id::type)));
}

TEST_F(Win32WindowTest, EachTypeAddedThroughTheEditorIsListedAndSaved) {
    const std::string clip = data_ + "\\clip.mp4";
    ASSERT_TRUE(file_replace_private(clip, "x"));
    struct Case {
        const char* name;
        const char* source;
        const char* list_type;
    };
    const Case cases[] = {{"Overlay one", "https://cdn.example/live.m3u8", "Overlay"},
                          {"Record one", "https://cdn.example/live.m3u8", "Record/Push"},
                          {"Direct one", "https://cdn.example/live.m3u8", "Direct"},
                          {"Loop one", clip.c_str(), "MP4 Loop"}};
    for (int type = 0; type < 4; ++type) {
        const Case& c = cases[type];
        add_through_editor([&](HWND dialog) {
            choose_type(dialog, type);
            SendMessageW(GetDlgItem(dialog, editor_id::source_type), CB_SETCURSEL, 1, 0);
            set_field(dialog, editor_id::name, c.name), set_field(dialog, editor_id::source, c.source);
            set_field(dialog, editor_id::output, "rtmp://host/");  // no application: refused, dialog stays
            SendMessageW(GetDlgItem(dialog, editor_id::save), BM_CLICK, 0, 0);
            set_field(dialog, editor_id::output, "rtmp://host/app/key");
            SendMessageW(GetDlgItem(dialog, editor_id::save), BM_CLICK, 0, 0);
        });
        ASSERT_EQ(rows(), type + 1);
        EXPECT_EQ(std::tuple(cell(type, 0), cell(type, 1)), std::tuple(std::string(c.name), std::string(c.list_type)));
    }
    ASSERT_EQ(boxes.shown.size(), 4u);
    EXPECT_EQ(boxes.shown[0], std::pair(std::string("Invalid output URL"),
                                        std::string("Enter a complete RTMP or RTMPS output URL, including its "
                                                    "application/path.")));
    std::string saved;
    ASSERT_EQ(file_read_all(app_.config_path, &saved), FileRead::ok);
    for (const Case& c : cases) EXPECT_NE(saved.find(c.name), std::string::npos) << c.name;
}

TEST_F(Win32WindowTest, MoreOutputsAreAddedRemovedSwitchedAndKeptByAnEdit) {
    auto press = [](HWND dialog, int id) { SendMessageW(GetDlgItem(dialog, id), BM_CLICK, 0, 0); };
    auto add_output = [&](HWND dialog, const char* url) {
        set_field(dialog, editor_id::output_new, url);
        press(dialog, editor_id::output_add);
    };
    add_through_editor([&](HWND dialog) {
        SendMessageW(GetDlgItem(dialog, editor_id::source_type), CB_SETCURSEL, 1, 0);
        set_field(dialog, editor_id::name, "Multi"), set_field(dialog, editor_id::source, "https://cdn.example/a.m3u8");
        set_field(dialog, editor_id::output, "rtmp://host/app/key");
        add_output(dialog, "rtmp://b/live/k2");
        add_output(dialog, "rtmp://HOST/app/key");  // the first output's stream: refused
        add_output(dialog, "rtmp://c/live/k3");
        press(dialog, editor_id::save);
    });
    ASSERT_EQ(rows(), 1);
    select_row(0);
    wchar_t shown[64] = {};
    add_through_editor(
        [&](HWND dialog) {
            HWND list = GetDlgItem(dialog, editor_id::output_list);
            ListView_GetItemText(list, 0, 0, shown, 64);
            ListView_SetCheckState(list, 0, FALSE);
            ListView_SetItemState(list, 1, LVIS_SELECTED, LVIS_SELECTED);
            press(dialog, editor_id::output_remove);
            add_output(dialog, "rtmp://d/live/k4");
            press(dialog, editor_id::save);
        },
        104);
    EXPECT_EQ(wide_to_utf8(shown), "rtmp://b/live/********");
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].second, "Two outputs have the same URL.");
    const std::vector<ExtraOutput> kept = {{"rtmp://b/live/k2", false}, {"rtmp://d/live/k4", true}};
    EXPECT_EQ(workflow_settings_copy(*app_.workflows[0]).extra_outputs, kept);
    std::string saved;
    ASSERT_EQ(file_read_all(app_.config_path, &saved), FileRead::ok);
    EXPECT_NE(saved.find("\t0\trtmp://b/live/k2\r\n"), std::string::npos);
    EXPECT_EQ(saved.find("k3"), std::string::npos);
}

TEST_F(Win32WindowTest, DeleteRefusesARunningWorkflowAndCloseAsksOncePerActiveOne) {
    stored("First", WorkflowState::streaming);
    stored("Second", WorkflowState::recording);
    stored("Idle", WorkflowState::stopped);
    select_row(0);
    click(105);
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].second, "Stop the workflow before deleting it.");
    EXPECT_EQ(rows(), 3);
    boxes = Boxes{{}, {IDYES, IDNO}};
    SendMessageW(window_, WM_CLOSE, 0, 0);
    EXPECT_EQ(boxes.shown.size(), 2u);
    EXPECT_TRUE(IsWindow(window_));
    boxes = Boxes{};
    SendMessageW(window_, WM_CLOSE, 0, 0);
    EXPECT_EQ(boxes.shown.size(), 2u);
    EXPECT_EQ(boxes.shown[1].second, "Active workflows will be stopped. Exit?");
    EXPECT_FALSE(IsWindow(window_));
}

TEST_F(Win32WindowTest, ARunnersNoticeRefreshesTheRow) {
    Workflow& workflow = stored("Live", WorkflowState::stopped);
    KillTimer(window_, 1);  // only the notice may refresh it
    std::thread runner([&] { workflow_set_status(workflow, WorkflowState::streaming, "Streaming"); });
    runner.join();
    EXPECT_TRUE(pump_until([&] { return cell(0, 3) == "STREAMING"; }));
}

TEST_F(Win32WindowTest, TheLogosTooltipTellsTheVersion) {
    struct Found {
        HWND owner, tip;
    } found{window_, nullptr};
    EnumThreadWindows(
        GetCurrentThreadId(),
        [](HWND window, LPARAM out) {
            auto* found = reinterpret_cast<Found*>(out);
            wchar_t name[32] = {};
            GetClassNameW(window, name, 32);
            if (_wcsicmp(name, TOOLTIPS_CLASSW) != 0 || GetWindow(window, GW_OWNER) != found->owner) return TRUE;
            found->tip = window;
            return FALSE;
        },
        reinterpret_cast<LPARAM>(&found));
    ASSERT_NE(found.tip, nullptr);
    wchar_t text[1024] = {};
    TTTOOLINFOW tool{};
    tool.cbSize = TTTOOLINFOW_V2_SIZE;
    tool.hwnd = window_, tool.uId = reinterpret_cast<UINT_PTR>(control(LOGO_ID)), tool.lpszText = text;
    SendMessageW(found.tip, TTM_GETTEXTW, 1024, reinterpret_cast<LPARAM>(&tool));
    EXPECT_EQ(wide_to_utf8(text), about_text());
}

TEST_F(Win32WindowTest, CommonControlsComeFromTheSystemFolder) {
    // The version Wine reports can differ from the file it loaded: read the module's own file.
    HMODULE module = GetModuleHandleW(L"comctl32.dll");
    ASSERT_NE(module, nullptr);
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(module, path, MAX_PATH);
    const std::string loaded = wide_to_utf8(path);
    DWORD ignored = 0;
    std::vector<char> info(GetFileVersionInfoSizeW(path, &ignored));
    ASSERT_FALSE(info.empty()) << loaded;
    ASSERT_TRUE(GetFileVersionInfoW(path, 0, static_cast<DWORD>(info.size()), info.data()));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT size = 0;
    ASSERT_TRUE(VerQueryValueW(info.data(), L"\\", reinterpret_cast<void**>(&fixed), &size));
    // No manifest asks for the side-by-side version 6, so the system's own one is in use.
    EXPECT_EQ(HIWORD(fixed->dwFileVersionMS), 5u) << loaded;
    EXPECT_EQ(loaded.find("winsxs"), std::string::npos) << loaded;
}

}  // namespace
