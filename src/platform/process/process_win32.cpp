// CreateProcessW with one inheritable pipe for standard output and error,
// polled every 30 ms. The child starts suspended inside a job object, so a
// forced end (TerminateJobObject) takes the helpers it started with it, as a
// process group does on POSIX systems. The pipe is only read when
// PeekNamedPipe says bytes are there, so neither the polling nor the final
// drain can hang on a grandchild that still holds the write end.
#include <windows.h>

#include <memory>

#include "platform/process/process.h"
#include "platform/text/wide_text.h"
#include "platform/time/clock.h"

namespace {

constexpr DWORD POLL_MS = 30;
constexpr DWORD READ_CHUNK = 2048;
constexpr DWORD KILL_GRACE_MS = 3000;

struct HandleClose {
    using pointer = HANDLE;
    void operator()(HANDLE handle) const {
        if (handle && handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
    }
};
using Handle = std::unique_ptr<void, HandleClose>;

// Reads what is available now; false once the pipe is closed or broken.
bool drain(HANDLE pipe, std::string* output) {
    char buffer[READ_CHUNK];
    for (;;) {
        DWORD available = 0;
        if (!PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr)) return false;
        if (available == 0) return true;
        DWORD got = 0;
        if (!ReadFile(pipe, buffer, available < READ_CHUNK ? available : READ_CHUNK, &got, nullptr) || got == 0) {
            return false;
        }
        output->append(buffer, got);
    }
}

// A job that ends its processes when its last handle closes, so a crash of
// ours cannot leave a tool running either.
Handle create_job() {
    Handle job(CreateJobObjectW(nullptr, nullptr));
    if (!job) return job;
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    SetInformationJobObject(job.get(), JobObjectExtendedLimitInformation, &limits, sizeof limits);
    return job;
}

bool spawn(const std::vector<std::string>& argv, HANDLE write_end, HANDLE job, PROCESS_INFORMATION* child) {
    std::wstring application = utf8_to_wide(argv[0]);
    std::wstring command_line = utf8_to_wide(process_command_line(argv));
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES | STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = write_end;
    startup.hStdError = write_end;
    if (!CreateProcessW(application.c_str(), command_line.data(), nullptr, nullptr, TRUE,
                        CREATE_NO_WINDOW | CREATE_SUSPENDED | CREATE_UNICODE_ENVIRONMENT, nullptr, nullptr, &startup,
                        child)) {
        return false;
    }
    // Outside a job the child still runs; only the helpers it starts would
    // then outlive a forced end.
    if (job) AssignProcessToJobObject(job, child->hProcess);
    ResumeThread(child->hThread);
    return true;
}

void end_by_force(HANDLE job, HANDLE process, uint32_t exit_code) {
    if (!job || !TerminateJobObject(job, exit_code)) TerminateProcess(process, exit_code);
    WaitForSingleObject(process, KILL_GRACE_MS);
}

}  // namespace

bool process_run_capture(const std::vector<std::string>& argv, uint32_t limit_ms, uint32_t killed_exit_code,
                         ProcessResult* result) {
    *result = ProcessResult{};
    if (argv.empty() || !is_executable_file(argv[0])) return false;
    SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE read_raw = nullptr, write_raw = nullptr;
    if (!CreatePipe(&read_raw, &write_raw, &inheritable, 0)) return false;
    Handle read_end(read_raw), write_end(write_raw);
    if (!SetHandleInformation(read_end.get(), HANDLE_FLAG_INHERIT, 0)) return false;
    Handle job = create_job();
    PROCESS_INFORMATION child{};
    bool started = spawn(argv, write_end.get(), job.get(), &child);
    write_end.reset();
    if (!started) return false;
    Handle process(child.hProcess), thread(child.hThread);
    uint64_t began = tick_ms();
    bool open_pipe = true;
    for (;;) {
        if (open_pipe) open_pipe = drain(read_end.get(), &result->output);
        if (WaitForSingleObject(process.get(), POLL_MS) == WAIT_OBJECT_0) break;
        if (limit_ms != 0 && tick_ms() - began > limit_ms) {
            end_by_force(job.get(), process.get(), killed_exit_code);
            result->killed = true;
            break;
        }
    }
    if (open_pipe) (void)drain(read_end.get(), &result->output);
    DWORD exit_code = 1;
    GetExitCodeProcess(process.get(), &exit_code);
    result->exit_code = result->killed ? killed_exit_code : exit_code;
    return true;
}

bool is_executable_file(const std::string& path) {
    if (path.empty()) return false;
    DWORD attributes = GetFileAttributesW(utf8_to_wide(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

uint32_t process_current_id() {
    return GetCurrentProcessId();
}
