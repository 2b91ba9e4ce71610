// The workflow editor as a Win32 modal dialog: the frame comes from the
// resource script (dialog 100, "Noto Sans" 10 points), the controls from
// the shared table, created in dialog units as the resource would place
// them. The record changes only on Save, in one step under its lock.
#pragma once

// clang-format off
#include <windows.h>
// clang-format on

#include "workflow/workflow.h"

constexpr int EDITOR_DIALOG_ID = 100;

enum class Win32EditorResult { save, cancel };

// Runs the editor modally on `workflow`, owned by `owner`.
Win32EditorResult edit_workflow_win32(HWND owner, Workflow& workflow);
