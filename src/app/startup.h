// Start-up shared by the desktop program and the headless front end: the
// context with its folders, the configuration load with a malformed file
// moved aside (and logged), and, for the desktop program only, the user's
// launcher entries checked and repaired.
#pragma once

#include <string>

#include "app/app_context.h"

struct StartupOptions {
    std::string data_dir;           // replaces the per-user data folder when non-empty
    bool repair_shortcuts = false;  // the desktop program's launcher entries
};

// What start-up could not do, in words for the user; an empty text when all
// went well.
struct StartupProblem {
    std::string text;
    bool data_dir_unusable = false;  // nothing can be loaded, saved or logged
};

// A configuration that exists but cannot be read is left as it is (and
// every later save refuses to replace it); the list starts empty.
[[nodiscard]] StartupProblem app_startup(AppContext& app, const StartupOptions& options);
