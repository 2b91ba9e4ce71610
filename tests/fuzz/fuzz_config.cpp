// Fuzz target: any bytes as config.tsv must load without a crash, keep the
// table within its size, and leave next_id above every loaded id (but the
// very top one, which has nothing above it) without ever wrapping to 0.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "app/app_context.h"
#include "workflow/config.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    AppContext app;
    (void)config_read(app, std::string_view(reinterpret_cast<const char*>(data), size));
    if (app.workflows.size() > MAX_WORKFLOWS) std::abort();
    if (app.next_id == 0) std::abort();
    for (const WorkflowPtr& workflow : app.workflows) {
        if (workflow->id >= app.next_id && workflow->id != UINT32_MAX) std::abort();
    }
    return 0;
}
