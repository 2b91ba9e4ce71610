// The "--option value" pairs that `add` and `edit` take: one option per
// field of the workflow editor, read into a WorkflowSettings with the
// editor's own limits (the lists it offers, its colour format) so that the
// command line cannot store what the desktop could not.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "workflow/workflow.h"

// Why the options were not taken: a usage problem (exit 2) or a value the
// editor refuses with its own words (exit 1).
struct OptionProblem {
    bool refused = false;
    std::string text;
};

// Applies every pair of `args` to `settings`, in order; the first problem
// stops it. `given` collects the option names seen.
[[nodiscard]] std::optional<OptionProblem> apply_workflow_options(WorkflowSettings& settings,
                                                                  const std::vector<std::string>& args,
                                                                  std::vector<std::string>* given);

// A whole decimal number from 0 to `max` and nothing else; false otherwise.
[[nodiscard]] bool parse_whole(const std::string& text, uint64_t max, uint64_t* value);

// The option lines of the usage text.
extern const char* const WORKFLOW_OPTIONS_USAGE;
