// The sample workflows the documentation's pictures show, the same in the
// pictures of both front ends: four workflows in four states, and one
// record per type for the editor's pictures.
#pragma once

#include <string>

#include "app/app_context.h"

// Adds the four samples to the table (the third with a last error).
void add_picture_samples(AppContext& app, const std::string& mp4_path, const std::string& image_path);
// One more sample of `type` for an editor picture.
Workflow& add_editor_sample(AppContext& app, WorkflowType type, const std::string& mp4_path,
                            const std::string& image_path);
// The editor pictures' names, by type 1 to 4.
[[nodiscard]] const char* editor_picture_name(WorkflowType type);
