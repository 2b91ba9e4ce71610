// The "Health" block of the details box: a few lines from a running
// workflow's figures, only those that apply to its type (a loop of a local
// file has no source to fall behind, only the overlay types encode), with a
// warning word where a figure tells of trouble a viewer would see: key
// frames further apart than HEALTH_KEY_WARN_MS (players join late), no data
// for HEALTH_QUIET_WARN_MS, an output that sends later than
// HEALTH_LATE_WARN_MS (p99).
#pragma once

#include <string>

#include "engines/health.h"
#include "workflow/workflow.h"

// "Health:" and its lines, each line after a '\n'; "" when nothing is known yet.
[[nodiscard]] std::string health_details_text(const HealthSnapshot& health, const WorkflowSettings& settings);
