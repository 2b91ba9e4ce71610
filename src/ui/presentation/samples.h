// The sample workflows the documentation's pictures show, the same in the
// pictures of both front ends: four workflows in four states, and one
// record per type for the editor's pictures.
#pragma once

#include <string>

#include "app/app_context.h"

// The files the samples name, in a made-up user's home of each platform, so
// that no path of the machine drawing the pictures shows in them.
struct SamplePaths {
    std::string mp4, image, recordings;
};

// Adds the four samples to the table (the first sending to three outputs,
// the third with a last error).
void add_picture_samples(AppContext& app, const SamplePaths& paths);
// One more sample of `type` for an editor picture.
Workflow& add_editor_sample(AppContext& app, WorkflowType type, const SamplePaths& paths);
// The editor pictures' names, by type 1 to 4.
[[nodiscard]] const char* editor_picture_name(WorkflowType type);
