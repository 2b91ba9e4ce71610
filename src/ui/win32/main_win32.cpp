// The Windows desktop program: its shell identity and the common controls,
// the shared start-up (folders, shortcuts, configuration), then the main
// window until the user closes it; the loop's code is the exit code.
// clang-format off
#include <windows.h>
#include <commctrl.h>
#include <shobjidl.h>
// clang-format on

#include "app/startup.h"
#include "engines/engine_contract.h"
#include "ui/presentation/main_view.h"
#include "ui/win32/dialogs_win32.h"
#include "ui/win32/main_window_win32.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    SetCurrentProcessExplicitAppUserModelID(L"Veltrona.Desktop.1");
    INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_LISTVIEW_CLASSES | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    // The context lives for the whole process and is never freed: the
    // background yt-dlp probe may still be finishing when the window closes.
    auto* app = new AppContext;
    StartupProblem problem = app_startup(*app, StartupOptions{.data_dir = "", .repair_shortcuts = true});
    if (problem.data_dir_unusable) {
        show_box(nullptr, main_text::title, problem.text, MB_OK | MB_ICONERROR);
        return 1;
    }
    app->engines = &default_engine_table();
    return win32_ui_run(*app, instance, problem.text);
}
