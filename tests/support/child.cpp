// posix_spawn-based peers for tests. Every wait is bounded.
#include "support/child.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#include "platform/clock.h"
#include "platform/socket_connect.h"
#include "support/loopback.h"

extern char** environ;

namespace {

std::vector<char*> c_argv(const std::vector<std::string>& argv) {
    std::vector<char*> out;
    for (const std::string& arg : argv) out.push_back(const_cast<char*>(arg.c_str()));
    out.push_back(nullptr);
    return out;
}

// argv[0] as execv needs it: searched on PATH unless it names a path.
std::string resolve_program(const std::string& name) {
    if (name.find('/') != std::string::npos) return name;
    const char* path = std::getenv("PATH");
    std::string dirs = path ? path : "/usr/bin:/bin";
    for (size_t start = 0; start <= dirs.size();) {
        size_t end = dirs.find(':', start);
        if (end == std::string::npos) end = dirs.size();
        std::string candidate = dirs.substr(start, end - start) + "/" + name;
        if (access(candidate.c_str(), X_OK) == 0) return candidate;
        start = end + 1;
    }
    return name;
}

}  // namespace

Child::~Child() {
    stop();
}

bool Child::start(const std::vector<std::string>& argv, const std::string& log_path) {
    // fork + exec rather than posix_spawn, for PR_SET_PDEATHSIG: a peer must
    // never outlive a test process that crashed before it could stop it.
    std::string program = resolve_program(argv[0]);
    if (access(program.c_str(), X_OK) != 0) return false;
    std::string target = log_path.empty() ? "/dev/null" : log_path;
    std::vector<char*> args = c_argv(argv);
    pid_t parent = getpid();
    pid_t pid = fork();
    if (pid < 0) return false;
    if (pid == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent) _exit(127);
        int in = open("/dev/null", O_RDONLY);
        int out = open(target.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        if (in < 0 || out < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0 || dup2(out, 2) < 0) _exit(127);
        execv(program.c_str(), args.data());
        _exit(127);
    }
    pid_ = pid;
    return true;
}

bool Child::running() {
    if (pid_ <= 0) return false;
    if (waitpid(pid_, &status_, WNOHANG) == pid_) {
        pid_ = -1;
        return false;
    }
    return true;
}

int Child::stop(uint32_t grace_ms) {
    if (!running()) return pid_ == -1 ? status_ : -1;
    kill(pid_, SIGTERM);
    uint64_t deadline = tick_ms() + grace_ms;
    while (tick_ms() < deadline) {
        if (waitpid(pid_, &status_, WNOHANG) == pid_) {
            pid_ = -1;
            return status_;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    kill(pid_, SIGKILL);
    waitpid(pid_, &status_, 0);
    pid_ = -1;
    return status_;
}

uint16_t free_loopback_port() {
    uint16_t port = 0;
    int fd = loopback_listen(&port);
    if (fd < 0) return 0;
    close(fd);
    return port;
}

bool wait_for_port(uint16_t port, uint32_t timeout_ms) {
    uint64_t deadline = tick_ms() + timeout_ms;
    while (tick_ms() < deadline) {
        int fd = socket_connect("127.0.0.1", port, 1000);
        socket_close(fd);
        if (fd >= 0) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

int run_command(const std::vector<std::string>& argv, std::string* output, unsigned timeout_s) {
    std::vector<std::string> bounded = {"timeout", "-k", "5", std::to_string(timeout_s)};
    bounded.insert(bounded.end(), argv.begin(), argv.end());
    int pipe_fds[2];
    if (pipe2(pipe_fds, O_CLOEXEC) != 0) return -1;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipe_fds[1], 1);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    std::vector<char*> args = c_argv(bounded);
    pid_t pid = -1;
    int rc = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(pipe_fds[1]);
    if (rc != 0) {
        close(pipe_fds[0]);
        return -1;
    }
    char buffer[4096];
    ssize_t got;
    while ((got = read(pipe_fds[0], buffer, sizeof buffer)) > 0) {
        if (output) output->append(buffer, static_cast<size_t>(got));
    }
    close(pipe_fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}
