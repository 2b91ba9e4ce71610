#include "support/app_fixture.h"

#include "platform/files/folders.h"
#include "run/run_control.h"

void AppFixture::SetUp() {
    fake_engines().reset();
    ASSERT_EQ(app_context_init(app_, dir_.file("data")), "");
    app_.engines = &fake_engine_table();
    app_.program_dir = dir_.file("program");
    ASSERT_TRUE(ensure_directory(app_.program_dir + "/tools"));
    run_set_notifier(
        app_,
        [](void* context, uint32_t id) {
            // Runner threads must not read the table the test thread edits,
            // so the fixture keeps its own index of the workflows it made.
            auto* self = static_cast<AppFixture*>(context);
            std::lock_guard guard(self->lock_);
            auto found = self->by_id_.find(id);
            if (found == self->by_id_.end()) return;
            self->statuses_.push_back({id, found->second->state.load()});
        },
        this);
}

void AppFixture::TearDown() {
    for (WorkflowPtr& workflow : app_.workflows) workflow_stop(workflow.get());
    run_set_notifier(app_, nullptr, nullptr);
    app_.workflows.clear();
}

Workflow& AppFixture::add_workflow(const std::function<void(WorkflowSettings&)>& edit) {
    WorkflowPtr workflow(workflow_create(app_));
    WorkflowSettings settings = workflow->settings;
    settings.name = "Test", settings.source_type = SourceType::direct;
    settings.source = "http://127.0.0.1:9/live.m3u8", settings.output_url = "rtmp://127.0.0.1:9/live/key";
    edit(settings);
    workflow_settings_replace(*workflow, settings);
    {
        std::lock_guard guard(lock_);
        by_id_[workflow->id] = workflow.get();
    }
    app_.workflows.push_back(std::move(workflow));
    return *app_.workflows.back();
}

std::string fake_ytdlp_script(const std::string& stream_url, int upcoming, const std::string& later_url) {
    const std::string live = "echo ZQ_STATUS:is_live\necho '";
    std::string script = "#!/bin/sh\n[ \"$1\" = --version ] && { echo 2099.01.01; exit 0; }\n";
    script += "calls=\"$(dirname \"$0\")/calls\"\n";
    script += "n=$(( $(cat \"$calls\" 2>/dev/null || echo 0) + 1 ))\necho $n > \"$calls\"\n";
    script += "if [ $n -le " + std::to_string(upcoming) + " ]; then echo ZQ_STATUS:is_upcoming\n";
    script += "  echo 'ERROR: This live event will begin in a few moments.' >&2; exit 1; fi\n";
    if (!later_url.empty())
        script += "if [ $n -gt " + std::to_string(upcoming + 1) + " ]; then " + live + later_url + "'; exit 0; fi\n";
    return script + (stream_url.empty() ? "printf '\\033[0;31mERROR:\\033[0m Video\\tunavailable\\a\\n' >&2\nexit 1\n"
                                        : live + stream_url + "'\n");
}
