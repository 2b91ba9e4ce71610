// posix_spawn with a pipe, polled every 30 ms. The read end is non-blocking
// so the final drain cannot hang on a grandchild that still holds the pipe.
// Children get SIGPIPE back at its default (we ignore it for ourselves) and
// an empty signal mask.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

#include "platform/process/process.h"
#include "platform/time/clock.h"

extern char** environ;

namespace {

constexpr uint32_t POLL_MS = 30;
constexpr size_t READ_CHUNK = 2048;
constexpr uint32_t KILL_GRACE_MS = 3000;

// Reads what is available now; false once the pipe is closed or broken.
bool drain(int fd, std::string* output) {
    char buffer[READ_CHUNK];
    for (;;) {
        ssize_t got = read(fd, buffer, sizeof buffer);
        if (got > 0) {
            output->append(buffer, static_cast<size_t>(got));
            continue;
        }
        if (got < 0 && errno == EINTR) continue;
        return got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
    }
}

uint32_t exit_code_of(int status) {
    if (WIFEXITED(status)) return static_cast<uint32_t>(WEXITSTATUS(status));
    if (WIFSIGNALED(status)) return 128u + static_cast<uint32_t>(WTERMSIG(status));
    return 1;
}

bool spawn(const std::vector<std::string>& argv, int write_fd, pid_t* pid) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, write_fd, 1);
    posix_spawn_file_actions_adddup2(&actions, write_fd, 2);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t empty, defaults;
    sigemptyset(&empty);
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    posix_spawnattr_setsigmask(&attributes, &empty);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setpgroup(&attributes, 0);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    std::vector<char*> args;
    for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    int rc = posix_spawn(pid, args[0], &actions, &attributes, args.data(), environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    return rc == 0;
}

// Kills the child's group and waits up to the grace time for the child.
void end_by_force(pid_t pid, int* status) {
    kill(-pid, SIGKILL);
    uint64_t deadline = tick_ms() + KILL_GRACE_MS;
    while (tick_ms() < deadline) {
        if (waitpid(pid, status, WNOHANG) == pid) return;
        usleep(POLL_MS * 1000);
    }
}

}  // namespace

bool process_run_capture(const std::vector<std::string>& argv, uint32_t limit_ms, uint32_t killed_exit_code,
                         ProcessResult* result) {
    *result = ProcessResult{};
    if (argv.empty() || !is_executable_file(argv[0])) return false;
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return false;
    pid_t pid = -1;
    bool started = spawn(argv, fds[1], &pid);
    close(fds[1]);
    if (!started) {
        close(fds[0]);
        return false;
    }
    fcntl(fds[0], F_SETFL, fcntl(fds[0], F_GETFL) | O_NONBLOCK);
    uint64_t began = tick_ms();
    int status = 0;
    bool open_pipe = true;
    for (;;) {
        if (open_pipe) {
            pollfd wait{fds[0], POLLIN, 0};
            if (poll(&wait, 1, static_cast<int>(POLL_MS)) > 0) open_pipe = drain(fds[0], &result->output);
        } else {
            usleep(POLL_MS * 1000);
        }
        if (waitpid(pid, &status, WNOHANG) == pid) break;
        if (limit_ms != 0 && tick_ms() - began > limit_ms) {
            end_by_force(pid, &status);
            result->killed = true;
            break;
        }
    }
    if (open_pipe) (void)drain(fds[0], &result->output);
    close(fds[0]);
    result->exit_code = result->killed ? killed_exit_code : exit_code_of(status);
    return true;
}

bool is_executable_file(const std::string& path) {
    struct stat info {};
    return !path.empty() && stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && access(path.c_str(), X_OK) == 0;
}

uint32_t process_current_id() {
    return static_cast<uint32_t>(getpid());
}
