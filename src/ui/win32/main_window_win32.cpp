// The main window's procedure: creation at the shared geometry, resizing,
// the list refresh (rows trimmed at the end, cells rewritten, so the
// selection stays on its row index), per-state row colours by custom draw,
// the commands with their boxes, the player shortcut and the close
// sequence. What it shows and decides is the presentation layer's.
#include "ui/win32/main_window_win32.h"

// clang-format off
#include <commctrl.h>
#include <uxtheme.h>
// clang-format on

#include <thread>

#include "platform/text/wide_text.h"
#include "platform/time/clock.h"
#include "run/run_control.h"
#include "run/tools.h"
#include "ui/presentation/main_view.h"
#include "ui/win32/dialogs_win32.h"
#include "ui/win32/style_win32.h"

namespace {

namespace geo = main_geometry;

constexpr UINT_PTR REFRESH_TIMER = 1;
constexpr int ICON_RESOURCE = 1, LOGO_RESOURCE = 2;
constexpr int DETAILS_CAPACITY = 8192;

struct MainUi {
    AppContext* app = nullptr;
    Win32UiOptions options;
    HWND window = nullptr, list = nullptr, details = nullptr, logo = nullptr;
    HIMAGELIST row_height = nullptr;
    HBITMAP logo_bitmap = nullptr;
    ConfigWatch watch;
    int dialogs_open = 0;  // a record may be held by a dialog: no reload then
};

MainUi* ui_of(HWND window) {
    return reinterpret_cast<MainUi*>(GetWindowLongPtrW(window, GWLP_USERDATA));
}

HWND child(HWND parent, const wchar_t* cls, const wchar_t* text, DWORD style, DWORD ex_style, int id) {
    return CreateWindowExW(ex_style, cls, text, WS_CHILD | WS_VISIBLE | style, 0, 0, 0, 0, parent,
                           reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                           reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(parent, GWLP_HINSTANCE)), nullptr);
}

int box(MainUi& ui, const std::string& title, const std::string& text, UINT type) {
    ++ui.dialogs_open;
    const int answer = show_box(ui.window, title, text, type);
    --ui.dialogs_open;
    return answer;
}

void notify(void* context, uint32_t workflow_id) {
    HWND window = static_cast<HWND>(context);
    if (workflow_id == TOOL_PROBE_DONE) {
        PostMessageW(window, WM_TOOL_PROBE_DONE, 0, 0);
    } else {
        PostMessageW(window, WM_WORKFLOW_UPDATED, workflow_id, 0);
    }
}

// ---- refresh ----

Workflow* selected_workflow(MainUi& ui) {
    const int row = static_cast<int>(SendMessageW(ui.list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
    if (row < 0 || static_cast<size_t>(row) >= ui.app->workflows.size()) return nullptr;
    return ui.app->workflows[static_cast<size_t>(row)].get();
}

void set_cell(HWND list, int row, int column, const std::string& text) {
    std::wstring wide = utf8_to_wide(text);
    LVITEMW cell{};
    cell.iSubItem = column;
    cell.pszText = wide.data();
    SendMessageW(list, LVM_SETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&cell));
}

void refresh_list(MainUi& ui) {
    const auto& workflows = ui.app->workflows;
    const int count = static_cast<int>(workflows.size());
    while (static_cast<int>(SendMessageW(ui.list, LVM_GETITEMCOUNT, 0, 0)) > count) {
        SendMessageW(ui.list, LVM_DELETEITEM, SendMessageW(ui.list, LVM_GETITEMCOUNT, 0, 0) - 1, 0);
    }
    const uint64_t now = tick_ms();
    for (int row = 0; row < count; ++row) {
        if (row >= static_cast<int>(SendMessageW(ui.list, LVM_GETITEMCOUNT, 0, 0))) {
            LVITEMW empty{};
            empty.mask = LVIF_TEXT;
            empty.iItem = row;
            empty.pszText = const_cast<wchar_t*>(L"");
            SendMessageW(ui.list, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&empty));
        }
        for (size_t column = 0; column < list_columns().size(); ++column)
            set_cell(ui.list, row, static_cast<int>(column),
                     list_cell_text(*workflows[static_cast<size_t>(row)], column, now));
    }
}

std::wstring with_crlf(const std::string& text) {
    std::wstring out;
    for (wchar_t c : utf8_to_wide(text)) {
        if (c == L'\n') out += L'\r';
        out += c;
    }
    return out;
}

void refresh_details(MainUi& ui) {
    Workflow* workflow = selected_workflow(ui);
    const std::wstring text =
        with_crlf(workflow ? workflow_details_text(*workflow, tick_ms()) : main_text::no_selection);
    // Rewriting an unchanged text would reset the user's scroll position every
    // second; a running workflow's figures change every second, so the
    // first visible line is put back after the rewrite.
    std::wstring shown(DETAILS_CAPACITY, L'\0');
    shown.resize(static_cast<size_t>(GetWindowTextW(ui.details, shown.data(), DETAILS_CAPACITY)));
    if (shown == text) return;
    const LRESULT first_line = SendMessageW(ui.details, EM_GETFIRSTVISIBLELINE, 0, 0);
    SetWindowTextW(ui.details, text.c_str());
    SendMessageW(ui.details, EM_LINESCROLL, 0, first_line);
}

void refresh(MainUi& ui) {
    refresh_list(ui);
    refresh_details(ui);
}

void select_row(MainUi& ui, int row) {
    if (row < 0) return;
    LVITEMW state{};
    state.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    state.state = LVIS_SELECTED | LVIS_FOCUSED;
    SendMessageW(ui.list, LVM_SETITEMSTATE, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&state));
}

// ---- commands ----

void show_save_error(MainUi& ui, const std::string& error) {
    if (!error.empty()) box(ui, main_text::title, error, MB_OK | MB_ICONERROR);
}

Win32EditorResult run_editor(MainUi& ui, Workflow& workflow) {
    ++ui.dialogs_open;
    const Win32EditorResult result = ui.options.edit(ui.window, workflow);
    --ui.dialogs_open;
    return result;
}

void add_workflow(MainUi& ui) {
    AppContext& app = *ui.app;
    if (app.workflows.size() >= MAX_WORKFLOWS) return;
    WorkflowPtr draft(workflow_create(app));
    uint32_t id = 0;
    if (run_editor(ui, *draft) == Win32EditorResult::save) {
        std::string error;
        id = view_add_workflow(app, workflow_settings_copy(*draft), &error);
        show_save_error(ui, error);
    }
    draft.reset();
    refresh_list(ui);
    if (id != 0) select_row(ui, view_row_of(app, id));
    refresh_details(ui);
}

void edit_workflow(MainUi& ui) {
    Workflow* workflow = selected_workflow(ui);
    if (workflow == nullptr) return;
    if (run_editor(ui, *workflow) == Win32EditorResult::save) {
        std::string error;
        const EditSaved saved = view_save_edit(*ui.app, *workflow, &error);
        show_save_error(ui, error);
        if (saved == EditSaved::deleted_elsewhere)
            box(ui, main_text::title, main_text::edited_but_deleted, MB_OK | MB_ICONWARNING);
    }
    refresh(ui);
}

void delete_workflow(MainUi& ui) {
    Workflow* workflow = selected_workflow(ui);
    if (workflow == nullptr) return;
    if (delete_refused(*ui.app, *workflow)) {
        box(ui, main_text::title, main_text::stop_before_delete, MB_OK | MB_ICONWARNING);
        return;
    }
    const uint32_t id = workflow->id;
    if (box(ui, main_text::title, main_text::confirm_delete, MB_YESNO | MB_ICONQUESTION) != IDYES) return;
    std::string error;
    (void)view_delete_workflow(*ui.app, id, &error);
    show_save_error(ui, error);
    refresh(ui);
}

void run_command(MainUi& ui, MainCommand command) {
    if (command == MainCommand::add) return add_workflow(ui);
    if (command == MainCommand::edit) return edit_workflow(ui);
    if (command == MainCommand::remove) return delete_workflow(ui);
    Workflow* workflow = selected_workflow(ui);
    if (workflow == nullptr) return;
    bool started = true;
    if (command == MainCommand::start) started = workflow_start(*workflow);
    if (command == MainCommand::stop) workflow_stop(workflow);
    if (command == MainCommand::restart) workflow_restart(*workflow);
    refresh(ui);
    if (!started) box(ui, main_text::cannot_start_title, workflow_last_error(*workflow), MB_OK | MB_ICONERROR);
}

// vlc.exe on the search path, else under the ProgramFiles folder; empty when neither.
std::wstring player_path() {
    wchar_t found[MAX_PATH] = {};
    if (SearchPathW(nullptr, L"vlc.exe", nullptr, MAX_PATH, found, nullptr) > 0) return found;
    wchar_t programs[MAX_PATH] = {};
    const DWORD length = GetEnvironmentVariableW(L"ProgramFiles", programs, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return {};
    std::wstring path = std::wstring(programs) + L"\\VideoLAN\\VLC\\vlc.exe";
    return GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES ? std::wstring() : path;
}

void open_output_in_player(MainUi& ui) {
    Workflow* workflow = selected_workflow(ui);
    if (workflow == nullptr) return;
    std::string refusal;
    const std::string output = player_url(*workflow, &refusal);
    if (output.empty()) {
        box(ui, main_text::title, refusal, MB_OK | MB_ICONWARNING);
        return;
    }
    const std::wstring player = player_path();
    if (player.empty()) {
        box(ui, main_text::title, main_text::player_missing, MB_OK | MB_ICONINFORMATION);
        return;
    }
    if (!win32_hooks().shell_open(ui.window, player, L"\"" + utf8_to_wide(output) + L"\""))
        box(ui, main_text::title, main_text::player_failed, MB_OK | MB_ICONWARNING);
}

// ---- creation, layout, painting ----

void place_controls(MainUi& ui) {
    RECT client{};
    GetClientRect(ui.window, &client);
    const int width = client.right, height = client.bottom;
    MoveWindow(ui.list, geo::margin, geo::list_y, width - 2 * geo::margin, geo::list_height, TRUE);
    MoveWindow(ui.details, geo::margin, geo::details_y, width - 2 * geo::margin, height - geo::details_bottom_gap,
               TRUE);
    MoveWindow(ui.logo, width - geo::logo_right_gap, geo::logo_y, geo::logo_width, geo::logo_height, TRUE);
}

void create_list(MainUi& ui) {
    ui.list =
        child(ui.window, WC_LISTVIEWW, L"", LVS_REPORT | LVS_SINGLESEL | LVS_SHOWSELALWAYS | WS_TABSTOP, 0, LIST_ID);
    SetWindowTheme(ui.list, L"", L"");
    SendMessageW(ui.list, LVM_SETEXTENDEDLISTVIEWSTYLE, 0, LVS_EX_FULLROWSELECT | LVS_EX_DOUBLEBUFFER);
    SendMessageW(ui.list, LVM_SETBKCOLOR, 0, win32_colour(UiColour::list_background));
    SendMessageW(ui.list, LVM_SETTEXTBKCOLOR, 0, win32_colour(UiColour::list_background));
    SendMessageW(ui.list, LVM_SETTEXTCOLOR, 0, win32_colour(UiColour::text));
    SendMessageW(ui.list, LVM_SETOUTLINECOLOR, 0, win32_colour(UiColour::outline));
    ui.row_height = ImageList_Create(1, geo::row_height, ILC_COLOR32, 1, 0);
    SendMessageW(ui.list, LVM_SETIMAGELIST, LVSIL_SMALL, reinterpret_cast<LPARAM>(ui.row_height));
    SendMessageW(ui.list, WM_SETFONT, reinterpret_cast<WPARAM>(win32_style().body), FALSE);
    int index = 0;
    for (const ListColumn& list_column : list_columns()) {
        std::wstring title = utf8_to_wide(list_column.title);
        LVCOLUMNW column{};
        column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
        column.cx = list_column.width;
        column.pszText = title.data();
        column.iSubItem = index;
        SendMessageW(ui.list, LVM_INSERTCOLUMNW, static_cast<WPARAM>(index++), reinterpret_cast<LPARAM>(&column));
    }
}

// The about text on the logo, the window having no menu. The tool record
// is the common controls 5 size (no lpReserved), which version 5 insists on.
void add_logo_tooltip(MainUi& ui) {
    HWND tip = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP, CW_USEDEFAULT,
                               CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, ui.window, nullptr,
                               reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(ui.window, GWLP_HINSTANCE)), nullptr);
    if (tip == nullptr) return;
    std::wstring text = utf8_to_wide(about_text());
    TTTOOLINFOW tool{};
    tool.cbSize = TTTOOLINFOW_V2_SIZE;
    tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    tool.hwnd = ui.window;
    tool.uId = reinterpret_cast<UINT_PTR>(ui.logo);
    tool.lpszText = text.data();
    SendMessageW(tip, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
    SendMessageW(tip, TTM_SETMAXTIPWIDTH, 0, 600);  // wraps at the line break, not the window's edge
}

void on_create(MainUi& ui) {
    create_list(ui);
    HWND title = child(ui.window, L"STATIC", utf8_to_wide(main_text::title).c_str(), SS_LEFT, 0, 0);
    MoveWindow(title, geo::title_x, geo::title_y, geo::title_width, geo::title_height, FALSE);
    SendMessageW(title, WM_SETFONT, reinterpret_cast<WPARAM>(win32_style().title), FALSE);
    ui.logo = child(ui.window, L"STATIC", L"", SS_OWNERDRAW | SS_NOTIFY, 0, LOGO_ID);
    add_logo_tooltip(ui);
    for (const MainButton& button : main_buttons())
        create_themed_button(ui.window, utf8_to_wide(button.text).c_str(), button.id, button.x, geo::buttons_y,
                             button.width, button.primary);
    ui.details = child(ui.window, L"EDIT", utf8_to_wide(main_text::no_selection).c_str(),
                       WS_BORDER | ES_READONLY | ES_MULTILINE | ES_AUTOVSCROLL, 0, DETAILS_ID);
    flatten_control(ui.details);
    place_controls(ui);
    refresh_list(ui);
    run_set_notifier(*ui.app, notify, ui.window);
    config_watch_start(ui.watch, ui.app->config_path);
    SetTimer(ui.window, REFRESH_TIMER, geo::refresh_ms, nullptr);
    if (ui.options.start_probe) {
        // The context outlives the window (it is never freed), so the
        // detached probe can always finish writing its result.
        AppContext* context = ui.app;
        std::thread([context] { ytdlp_probe_thread(*context); }).detach();
    }
}

LRESULT custom_draw(MainUi& ui, NMLVCUSTOMDRAW& draw) {
    if (draw.nmcd.dwDrawStage == CDDS_PREPAINT) return CDRF_NOTIFYITEMDRAW;
    if (draw.nmcd.dwDrawStage != CDDS_ITEMPREPAINT) return CDRF_DODEFAULT;
    const size_t row = draw.nmcd.dwItemSpec;
    const bool selected =
        SendMessageW(ui.list, LVM_GETITEMSTATE, static_cast<WPARAM>(row), LVIS_SELECTED) & LVIS_SELECTED;
    uint32_t state = 0;
    const bool known = row < ui.app->workflows.size();
    if (known) state = ui.app->workflows[row]->state.load();
    const RowLook look = row_look(known ? &state : nullptr, selected);
    draw.clrText = win32_colour(look.text);
    draw.clrTextBk = win32_colour(look.background);
    // The list's own highlight would paint over the theme's.
    draw.nmcd.uItemState &= ~static_cast<UINT>(CDIS_SELECTED | CDIS_FOCUS);
    return CDRF_NEWFONT;
}

LRESULT on_notify(MainUi& ui, NMHDR& header) {
    if (header.hwndFrom != ui.list) return 0;
    if (header.code == NM_CUSTOMDRAW) return custom_draw(ui, reinterpret_cast<NMLVCUSTOMDRAW&>(header));
    if (header.code == LVN_ITEMCHANGED) refresh_details(ui);
    if (header.code == NM_DBLCLK) edit_workflow(ui);
    return 0;
}

void draw_logo(MainUi& ui, const DRAWITEMSTRUCT& item) {
    FillRect(item.hDC, &item.rcItem, win32_style().window_brush);
    if (ui.logo_bitmap == nullptr) return;
    HDC memory = CreateCompatibleDC(item.hDC);
    HGDIOBJ previous = SelectObject(memory, ui.logo_bitmap);
    BitBlt(item.hDC, item.rcItem.left, item.rcItem.top, geo::logo_width, geo::logo_height, memory, 0, 0, SRCCOPY);
    SelectObject(memory, previous);
    DeleteDC(memory);
}

bool confirm_close(MainUi& ui) {
    for (size_t asked = close_questions(*ui.app); asked > 0; --asked) {
        if (box(ui, main_text::title, main_text::confirm_close, MB_YESNO | MB_ICONQUESTION) != IDYES) return false;
    }
    return true;
}

void on_destroy(MainUi& ui) {
    KillTimer(ui.window, REFRESH_TIMER);
    run_set_notifier(*ui.app, nullptr, nullptr);
    // Nothing is left to save: every change was saved when it was made, and
    // saving the table again could only undo what another program saved since.
    for (const WorkflowPtr& workflow : ui.app->workflows) workflow_stop(workflow.get());
    ImageList_Destroy(ui.row_height);
    ui.row_height = nullptr;
    PostQuitMessage(0);
}

LRESULT colour_static(MainUi& ui, HDC dc, HWND control) {
    const bool details = control == ui.details;
    SetTextColor(dc, win32_colour(UiColour::text));
    SetBkColor(dc, win32_colour(details ? UiColour::edit_background : UiColour::window_background));
    return reinterpret_cast<LRESULT>(details ? win32_style().edit_brush : win32_style().window_brush);
}

LRESULT CALLBACK main_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_NCCREATE) {
        auto* created = reinterpret_cast<CREATESTRUCTW*>(lparam);
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(created->lpCreateParams));
        static_cast<MainUi*>(created->lpCreateParams)->window = window;
    }
    MainUi* ui = ui_of(window);
    if (ui == nullptr) return DefWindowProcW(window, message, wparam, lparam);
    switch (message) {
        case WM_CREATE:
            on_create(*ui);
            return 0;
        case WM_SIZE:
            place_controls(*ui);
            return 0;
        case WM_GETMINMAXINFO:
            reinterpret_cast<MINMAXINFO*>(lparam)->ptMinTrackSize = POINT{geo::min_width, geo::min_height};
            return 0;
        case WM_TIMER:
            if (ui->dialogs_open == 0) view_reload_if_changed(*ui->app, ui->watch);
            refresh(*ui);
            return 0;
        case WM_WORKFLOW_UPDATED:
            refresh(*ui);
            return 0;
        case WM_TOOL_PROBE_DONE:
            return 0;
        case WM_COMMAND:
            for (const MainButton& button : main_buttons()) {
                if (LOWORD(wparam) == button.id && HIWORD(wparam) == BN_CLICKED) run_command(*ui, button.command);
            }
            return 0;
        case WM_KEYDOWN:
            if ((wparam == 'V' || wparam == 0x76) && GetKeyState(VK_CONTROL) < 0) open_output_in_player(*ui);
            return 0;
        case WM_NOTIFY:
            return on_notify(*ui, *reinterpret_cast<NMHDR*>(lparam));
        case WM_DRAWITEM: {
            const auto& item = *reinterpret_cast<const DRAWITEMSTRUCT*>(lparam);
            if (item.CtlID == LOGO_ID) {
                draw_logo(*ui, item);
            } else {
                draw_item(item);
            }
            return TRUE;
        }
        case WM_CTLCOLORSTATIC:
            return colour_static(*ui, reinterpret_cast<HDC>(wparam), reinterpret_cast<HWND>(lparam));
        case WM_CLOSE:
            if (ui->app->workflows.empty() || confirm_close(*ui)) DestroyWindow(window);
            return 0;
        case WM_DESTROY:
            on_destroy(*ui);
            return 0;
        case WM_NCDESTROY:
            SetWindowLongPtrW(window, GWLP_USERDATA, 0);
            delete ui;
            return 0;
        default:
            return DefWindowProcW(window, message, wparam, lparam);
    }
}

HICON program_icon(HINSTANCE instance, int size) {
    return static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(ICON_RESOURCE), IMAGE_ICON, size, size, 0));
}

bool register_class(HINSTANCE instance) {
    WNDCLASSEXW cls{};
    cls.cbSize = sizeof(cls);
    cls.lpfnWndProc = main_proc;
    cls.hInstance = instance;
    cls.hIcon = program_icon(instance, 48);
    cls.hIconSm = program_icon(instance, 16);
    cls.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    cls.hbrBackground = win32_style().window_brush;
    cls.lpszClassName = MAIN_WINDOW_CLASS;
    return RegisterClassExW(&cls) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

HBITMAP& logo_bitmap() {
    static HBITMAP bitmap = nullptr;
    return bitmap;
}

}  // namespace

HWND main_window_create(AppContext& app, HINSTANCE instance, const Win32UiOptions& options,
                        const std::string& startup_problem) {
    win32_style_init();
    install_centring_hook();
    if (logo_bitmap() == nullptr)
        logo_bitmap() = static_cast<HBITMAP>(LoadImageW(instance, MAKEINTRESOURCEW(LOGO_RESOURCE), IMAGE_BITMAP,
                                                        geo::logo_width, geo::logo_height, LR_CREATEDIBSECTION));
    if (!register_class(instance)) {
        show_box(nullptr, main_text::title, "Veltrona could not initialize its main window.", MB_OK | MB_ICONERROR);
        return nullptr;
    }
    auto* ui = new MainUi;
    ui->app = &app;
    ui->options = options;
    ui->logo_bitmap = logo_bitmap();
    HWND window =
        CreateWindowExW(0, MAIN_WINDOW_CLASS, utf8_to_wide(main_text::title).c_str(), WS_OVERLAPPEDWINDOW,
                        CW_USEDEFAULT, CW_USEDEFAULT, geo::width, geo::height, nullptr, nullptr, instance, ui);
    if (window == nullptr) {
        delete ui;
        show_box(nullptr, main_text::title, "Veltrona could not open its main window.", MB_OK | MB_ICONERROR);
        return nullptr;
    }
    SendMessageW(window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(program_icon(instance, 48)));
    SendMessageW(window, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(program_icon(instance, 16)));
    ShowWindow(window, SW_SHOWNORMAL);
    SetForegroundWindow(window);
    UpdateWindow(window);
    if (!startup_problem.empty()) show_box(window, main_text::title, startup_problem, MB_OK | MB_ICONERROR);
    return window;
}

bool main_window_shortcut(HWND window, const MSG& message) {
    // The list and the details box would take Ctrl+V for themselves.
    if (message.message != WM_KEYDOWN || (message.wParam != 'V' && message.wParam != 0x76)) return false;
    if (GetKeyState(VK_CONTROL) >= 0 || (message.hwnd != window && GetParent(message.hwnd) != window)) return false;
    SendMessageW(window, WM_KEYDOWN, message.wParam, message.lParam);
    return true;
}

int main_window_loop(HWND window) {
    MSG message{};
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (main_window_shortcut(window, message)) continue;
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return static_cast<int>(message.wParam);
}

int win32_ui_run(AppContext& app, HINSTANCE instance, const std::string& startup_problem) {
    HWND window = main_window_create(app, instance, Win32UiOptions{}, startup_problem);
    const int code = window ? main_window_loop(window) : 1;
    remove_centring_hook();
    if (logo_bitmap()) DeleteObject(logo_bitmap());
    logo_bitmap() = nullptr;
    return code;
}
