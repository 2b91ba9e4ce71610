// The editor dialog's procedure: controls built from the table, the type
// layout, the owner-drawn check boxes toggled on click, the choosers, and
// Save through the shared form and checks.
#include "ui/win32/editor_win32.h"

#include <algorithm>

// clang-format off
#include <commctrl.h>
#include <uxtheme.h>
// clang-format on

#include "platform/text/wide_text.h"
#include "ui/presentation/editor_form.h"
#include "ui/win32/dialogs_win32.h"
#include "ui/win32/style_win32.h"

namespace {

namespace id = editor_id;

constexpr int COMBO_LIST_DLU = 160;  // the drop list's open height

struct EditorState {
    Workflow* workflow;
    WorkflowSettings original;
    std::vector<ExtraOutput> outputs;  // the list's outputs; their flags live in its check boxes
};

HWND item(HWND dialog, int control) {
    return GetDlgItem(dialog, control);
}

const wchar_t* class_of(ControlKind kind) {
    switch (kind) {
        case ControlKind::label:
            return L"STATIC";
        case ControlKind::edit:
        case ControlKind::digits:
            return L"EDIT";
        case ControlKind::combo:
            return L"COMBOBOX";
        case ControlKind::list:
            return WC_LISTVIEWW;
        default:
            return L"BUTTON";
    }
}

DWORD style_of(ControlKind kind) {
    switch (kind) {
        case ControlKind::label:
            return SS_LEFT;
        case ControlKind::edit:
            return WS_TABSTOP | ES_AUTOHSCROLL;
        case ControlKind::digits:
            return WS_TABSTOP | ES_AUTOHSCROLL | ES_NUMBER;
        case ControlKind::combo:
            return WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWNLIST;
        case ControlKind::group:
            return BS_GROUPBOX;
        case ControlKind::list:
            return WS_TABSTOP | LVS_REPORT | LVS_NOCOLUMNHEADER | LVS_SINGLESEL | LVS_SHOWSELALWAYS;
        default:
            return WS_TABSTOP | BS_OWNERDRAW;
    }
}

// One full-width column of masked URLs, each row's check box its enabled flag.
void set_up_output_list(HWND list) {
    flatten_control(list);
    ListView_SetExtendedListViewStyle(list, LVS_EX_CHECKBOXES | LVS_EX_FULLROWSELECT | LVS_EX_DOUBLEBUFFER);
    ListView_SetBkColor(list, win32_colour(UiColour::edit_background));
    ListView_SetTextBkColor(list, win32_colour(UiColour::edit_background));
    ListView_SetTextColor(list, win32_colour(UiColour::text));
    RECT client{};
    GetClientRect(list, &client);
    LVCOLUMNW column{};
    column.mask = LVCF_WIDTH;
    column.cx = client.right - GetSystemMetrics(SM_CXVSCROLL);
    ListView_InsertColumn(list, 0, &column);
}

void create_controls(HWND dialog) {
    const HINSTANCE instance = reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(dialog, GWLP_HINSTANCE));
    const HFONT dialog_font = reinterpret_cast<HFONT>(SendMessageW(dialog, WM_GETFONT, 0, 0));
    for (const EditorControl& field : editor_controls()) {
        DluRect place = field.place;
        if (field.kind == ControlKind::combo) place.height = COMBO_LIST_DLU;
        RECT rect{place.x, place.y, place.x + place.width, place.y + place.height};
        MapDialogRect(dialog, &rect);
        HWND control = CreateWindowExW(0, class_of(field.kind), utf8_to_wide(field.text).c_str(),
                                       WS_CHILD | WS_VISIBLE | style_of(field.kind), rect.left, rect.top,
                                       rect.right - rect.left, rect.bottom - rect.top, dialog,
                                       reinterpret_cast<HMENU>(static_cast<INT_PTR>(field.id)), instance, nullptr);
        SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(dialog_font), FALSE);
        switch (field.kind) {
            case ControlKind::edit:
            case ControlKind::digits:
                SendMessageW(control, EM_SETLIMITTEXT, editor_capacity(field.id) - 1, 0);
                flatten_control(control);
                break;
            case ControlKind::combo:
                for (const std::string& entry : editor_items(field.id))
                    SendMessageW(control, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(utf8_to_wide(entry).c_str()));
                flatten_control(control);
                break;
            case ControlKind::list:
                set_up_output_list(control);
                break;
            case ControlKind::check:
                SetWindowTheme(control, L"", L"");
                SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(win32_style().body), FALSE);
                break;
            case ControlKind::button:
                SetWindowLongPtrW(control, GWLP_USERDATA, field.id == id::save ? 1 : 0);
                SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(win32_style().button), FALSE);
                break;
            default:
                break;
        }
    }
}

int selection(HWND dialog, int control) {
    return static_cast<int>(SendMessageW(item(dialog, control), CB_GETCURSEL, 0, 0));
}

void select(HWND dialog, int control, int index) {
    SendMessageW(item(dialog, control), CB_SETCURSEL, static_cast<WPARAM>(index), 0);
}

std::string text(HWND dialog, int control) {
    return window_text_utf8(item(dialog, control));
}

void set_text(HWND dialog, int control, const std::string& value) {
    set_window_text_utf8(item(dialog, control), value);
}

void fill_outputs(HWND dialog, EditorState& state, const std::vector<ExtraOutput>& outputs) {
    state.outputs = outputs;
    HWND list = item(dialog, id::output_list);
    ListView_DeleteAllItems(list);
    int row = 0;
    for (const OutputRow& output : editor_output_rows(outputs)) {
        std::wstring text = utf8_to_wide(output.shown);
        LVITEMW entry{};
        entry.mask = LVIF_TEXT;
        entry.iItem = row;
        entry.pszText = text.data();
        ListView_InsertItem(list, &entry);
        ListView_SetCheckState(list, row++, output.enabled);
    }
}

void fill(HWND dialog, EditorState& state, const EditorForm& f) {
    select(dialog, id::type, f.type), select(dialog, id::source_type, f.source_type);
    set_check(item(dialog, id::enabled), f.enabled);
    set_text(dialog, id::name, f.name), set_text(dialog, id::source, f.source), set_text(dialog, id::output, f.output);
    set_check(item(dialog, id::image_enabled), f.image_enabled), set_text(dialog, id::image_path, f.image_path);
    select(dialog, id::image_x, f.image_x), select(dialog, id::image_y, f.image_y);
    set_text(dialog, id::image_scale, f.image_scale);
    set_check(item(dialog, id::text_enabled), f.text_enabled), set_text(dialog, id::text, f.text);
    select(dialog, id::text_bottom, f.text_bottom), set_text(dialog, id::font_size, f.font_size);
    set_text(dialog, id::text_color, f.text_color), set_text(dialog, id::background_color, f.background_color);
    select(dialog, id::scroll_speed, f.scroll_speed), select(dialog, id::encoder, f.encoder);
    set_text(dialog, id::bitrate, f.bitrate), set_text(dialog, id::recording_dir, f.recording_dir);
    set_text(dialog, id::poll_seconds, f.poll_seconds), set_text(dialog, id::reconnects, f.reconnects);
    set_check(item(dialog, id::delete_after_push), f.delete_after_push);
    set_check(item(dialog, id::prefer_stream_copy), f.prefer_stream_copy);
    set_check(item(dialog, id::fallback_transcoding), f.fallback_transcoding);
    fill_outputs(dialog, state, f.outputs);
}

EditorForm read_form(HWND dialog, const EditorState& state) {
    EditorForm f;
    f.type = selection(dialog, id::type), f.source_type = selection(dialog, id::source_type);
    f.enabled = is_checked(item(dialog, id::enabled));
    f.name = text(dialog, id::name), f.source = text(dialog, id::source), f.output = text(dialog, id::output);
    f.image_enabled = is_checked(item(dialog, id::image_enabled)), f.image_path = text(dialog, id::image_path);
    f.image_x = selection(dialog, id::image_x), f.image_y = selection(dialog, id::image_y);
    f.image_scale = text(dialog, id::image_scale);
    f.text_enabled = is_checked(item(dialog, id::text_enabled)), f.text = text(dialog, id::text);
    f.text_bottom = selection(dialog, id::text_bottom), f.font_size = text(dialog, id::font_size);
    f.text_color = text(dialog, id::text_color), f.background_color = text(dialog, id::background_color);
    f.scroll_speed = selection(dialog, id::scroll_speed), f.encoder = selection(dialog, id::encoder);
    f.bitrate = text(dialog, id::bitrate), f.recording_dir = text(dialog, id::recording_dir);
    f.poll_seconds = text(dialog, id::poll_seconds), f.reconnects = text(dialog, id::reconnects);
    f.delete_after_push = is_checked(item(dialog, id::delete_after_push));
    f.prefer_stream_copy = is_checked(item(dialog, id::prefer_stream_copy));
    f.fallback_transcoding = is_checked(item(dialog, id::fallback_transcoding));
    f.outputs = state.outputs;
    HWND list = item(dialog, id::output_list);
    for (size_t row = 0; row < f.outputs.size(); ++row)
        f.outputs[row].enabled = ListView_GetCheckState(list, static_cast<int>(row)) != 0;
    return f;
}

bool add_output(HWND dialog, EditorState& state) {
    EditorForm form = read_form(dialog, state);
    if (const std::optional<EditorProblem> problem = editor_add_output(form, text(dialog, id::output_new))) {
        show_box(dialog, problem->title, problem->message, MB_OK | MB_ICONWARNING);
        HWND edit = item(dialog, id::output_new);
        SetFocus(edit);
        SendMessageW(edit, EM_SETSEL, 0, -1);
        return false;
    }
    fill_outputs(dialog, state, form.outputs);
    set_text(dialog, id::output_new, "");
    return true;
}

void remove_output(HWND dialog, EditorState& state) {
    HWND list = item(dialog, id::output_list);
    const int row = ListView_GetNextItem(list, -1, LVNI_SELECTED);
    if (row < 0) return;
    EditorForm form = read_form(dialog, state);
    editor_remove_output(form, static_cast<size_t>(row));
    fill_outputs(dialog, state, form.outputs);
    const int next = std::min(row, ListView_GetItemCount(list) - 1);
    if (next >= 0) ListView_SetItemState(list, next, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
}

void apply_layout(HWND dialog) {
    const EditorLayout layout = editor_layout(editor_type_at(selection(dialog, id::type)));
    for (const EditorControl& field : editor_controls()) {
        if (field.id == 0) continue;
        ShowWindow(item(dialog, field.id), editor_shows(layout, field) ? SW_SHOW : SW_HIDE);
        if (field.id == id::source || field.group == EditorGroup::buttons)
            set_control_rect_dlu(dialog, field.id, editor_place(field, layout));
    }
    // Sized again per type, the source edit would lose its flattened height.
    fit_edit_height(item(dialog, id::source));
    set_text(dialog, id::source_label, layout.source_label);
    RECT client{0, 0, EDITOR_WIDTH_DLU, layout.client_height};
    MapDialogRect(dialog, &client);
    AdjustWindowRectEx(&client, static_cast<DWORD>(GetWindowLongPtrW(dialog, GWL_STYLE)), FALSE,
                       static_cast<DWORD>(GetWindowLongPtrW(dialog, GWL_EXSTYLE)));
    SetWindowPos(dialog, nullptr, 0, 0, client.right - client.left, client.bottom - client.top,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    RemovePropW(dialog, CENTERED_PROPERTY);
    centre_window(dialog);
    InvalidateRect(dialog, nullptr, TRUE);
}

void save(HWND dialog, EditorState& state) {
    // A URL typed but not yet added is meant as an output too.
    if (!text(dialog, id::output_new).empty() && !add_output(dialog, state)) return;
    std::variant<WorkflowSettings, EditorProblem> read = editor_form_read(read_form(dialog, state), state.original);
    if (const EditorProblem* problem = std::get_if<EditorProblem>(&read)) {
        show_box(dialog, problem->title, problem->message, MB_OK | MB_ICONWARNING);
        HWND focus = item(dialog, editor_focus_id(problem->field));
        SetFocus(focus);
        SendMessageW(focus, EM_SETSEL, 0, -1);
        return;
    }
    workflow_settings_replace(*state.workflow, std::get<WorkflowSettings>(read));
    EndDialog(dialog, IDOK);
}

void browse(HWND dialog, int control, const wchar_t* filter) {
    const std::wstring chosen = win32_hooks().open_file(dialog, utf8_to_wide(text(dialog, control)), filter);
    if (editor_path_fits(wide_to_utf8(chosen))) SetWindowTextW(item(dialog, control), chosen.c_str());
}

void pick_colour(HWND dialog, int control) {
    COLORREF colour = editor_picker_start(text(dialog, control));  // both are 0x00BBGGRR
    if (!win32_hooks().pick_colour(dialog, &colour)) return;
    set_text(dialog, control, editor_format_color(colour));
    HWND edit = item(dialog, control);
    SendMessageW(edit, EM_SETSEL, 0, -1);
    SetFocus(edit);
}

void command(HWND dialog, EditorState& state, int control, int notification) {
    if (control == id::type && notification == CBN_SELCHANGE) return apply_layout(dialog);
    if (notification != BN_CLICKED) return;
    if (editor_is_check(control)) return set_check(item(dialog, control), !is_checked(item(dialog, control)));
    switch (control) {
        case id::save:
            return save(dialog, state);
        case id::output_add:
            (void)add_output(dialog, state);
            return;
        case id::output_remove:
            return remove_output(dialog, state);
        case id::cancel:
            EndDialog(dialog, IDCANCEL);
            return;
        case id::image_browse:
            return browse(dialog, id::image_path,
                          L"Image files (*.png;*.jpg;*.jpeg;*.bmp)\0*.png;*.jpg;*.jpeg;*.bmp\0All files (*.*)\0*.*\0");
        case id::source_browse:
            return browse(dialog, id::source, L"MP4 video files (*.mp4)\0*.mp4\0All files (*.*)\0*.*\0");
        case id::text_color_pick:
            return pick_colour(dialog, id::text_color);
        case id::background_color_pick:
            return pick_colour(dialog, id::background_color);
        default:
            return;
    }
}

INT_PTR colour_reply(HDC dc, UiColour background, HBRUSH brush) {
    SetTextColor(dc, win32_colour(UiColour::text));
    SetBkColor(dc, win32_colour(background));
    return reinterpret_cast<INT_PTR>(brush);
}

INT_PTR CALLBACK editor_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
    auto* state = reinterpret_cast<EditorState*>(GetWindowLongPtrW(dialog, DWLP_USER));
    switch (message) {
        case WM_INITDIALOG:
            state = reinterpret_cast<EditorState*>(lparam);
            SetWindowLongPtrW(dialog, DWLP_USER, lparam);
            SetWindowTheme(dialog, L"", L"");
            create_controls(dialog);
            SetWindowTextW(dialog, utf8_to_wide(EDITOR_TITLE).c_str());
            fill(dialog, *state, editor_form_from(state->original));
            apply_layout(dialog);
            return TRUE;
        case WM_COMMAND:
            if (state) command(dialog, *state, LOWORD(wparam), HIWORD(wparam));
            return TRUE;
        case WM_CLOSE:
            EndDialog(dialog, IDCANCEL);
            return TRUE;
        case WM_DRAWITEM:
            draw_item(*reinterpret_cast<const DRAWITEMSTRUCT*>(lparam));
            return TRUE;
        case WM_CTLCOLORDLG:
            return reinterpret_cast<INT_PTR>(win32_style().dialog_brush);
        case WM_CTLCOLORSTATIC:
            return colour_reply(reinterpret_cast<HDC>(wparam), UiColour::dialog_background, win32_style().dialog_brush);
        case WM_CTLCOLOREDIT:
        case WM_CTLCOLORLISTBOX:
            return colour_reply(reinterpret_cast<HDC>(wparam), UiColour::edit_background, win32_style().edit_brush);
        default:
            return FALSE;
    }
}

}  // namespace

Win32EditorResult edit_workflow_win32(HWND owner, Workflow& workflow) {
    EditorState state{&workflow, workflow_settings_copy(workflow), {}};
    const HINSTANCE instance = GetModuleHandleW(nullptr);
    const INT_PTR result = DialogBoxParamW(instance, MAKEINTRESOURCEW(EDITOR_DIALOG_ID), owner, editor_proc,
                                           reinterpret_cast<LPARAM>(&state));
    return result == IDOK ? Win32EditorResult::save : Win32EditorResult::cancel;
}
