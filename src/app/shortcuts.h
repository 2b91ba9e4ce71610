// The user's launcher entries on the desktop and in the applications menu,
// checked and repaired at every start of the desktop program: freedesktop
// .desktop files on Linux, shell links (.lnk) on Windows. An entry whose
// target equals this executable (ignoring case) is left alone; any other is
// (re)written with the current target, working folder, description and
// icon, keeping what else it holds.
#pragma once

#include <string>

// Both entries; false when either could not be checked or written (the
// menu entry is not attempted when the desktop one failed).
[[nodiscard]] bool ensure_user_shortcuts();
// One entry at `link_path` pointing at `target_path`.
[[nodiscard]] bool ensure_shortcut(const std::string& link_path, const std::string& target_path);
// The two folders and the executable, as ensure_user_shortcuts uses them;
// split out so tests can point them elsewhere.
[[nodiscard]] bool ensure_user_shortcuts_in(const std::string& desktop_dir, const std::string& programs_dir,
                                            const std::string& target_path);
