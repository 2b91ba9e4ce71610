// Peers for tests, started with fork + execvp rather than posix_spawn for
// PR_SET_PDEATHSIG: a peer must never outlive a test process that crashed
// before it could stop it. Every wait is bounded.
#include "support/child.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/network/socket_connect.h"
#include "support/loopback.h"
#include "support/wait.h"

namespace {

// argv[0] (searched on PATH) with stdin from /dev/null, stdout to `out_fd`
// and stderr to `err_fd` (-1: ours). Its PID, or -1 when exec failed: a
// close-on-exec pipe stays silent when exec succeeds.
pid_t spawn(const std::vector<std::string>& argv, int out_fd, int err_fd) {
    std::vector<char*> args;
    for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    int failed[2];
    if (pipe2(failed, O_CLOEXEC) != 0) return -1;
    pid_t parent = getpid(), pid = fork();
    if (pid == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        int in = open("/dev/null", O_RDONLY | O_CLOEXEC);
        if (getppid() == parent && in >= 0 && dup2(in, 0) >= 0 && dup2(out_fd, 1) >= 0 &&
            (err_fd < 0 || dup2(err_fd, 2) >= 0)) {
            execvp(args[0], args.data());
        }
        (void)!write(failed[1], "x", 1);
        _exit(127);
    }
    close(failed[1]);
    char byte;
    bool started = pid > 0 && read(failed[0], &byte, 1) == 0;
    close(failed[0]);
    if (pid > 0 && !started) waitpid(pid, nullptr, 0);
    return started ? pid : -1;
}

}  // namespace

bool Child::start(const std::vector<std::string>& argv, const std::string& log_path) {
    int out = open(log_path.empty() ? "/dev/null" : log_path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (out < 0) return false;
    pid_ = spawn(argv, out, out);
    close(out);
    return pid_ > 0;
}

bool Child::running() {
    if (pid_ > 0 && waitpid(pid_, &status_, WNOHANG) == pid_) pid_ = -1;
    return pid_ > 0;
}

int Child::stop(uint32_t grace_ms) {
    if (!running()) return status_;
    kill(pid_, SIGTERM);
    if (!wait_until([&] { return !running(); }, grace_ms)) {
        kill(pid_, SIGKILL);
        waitpid(pid_, &status_, 0);
        pid_ = -1;
    }
    return status_;
}

uint16_t free_loopback_port() {
    uint16_t port = 0;
    int fd = loopback_listen(&port);
    if (fd >= 0) close(fd);
    return fd >= 0 ? port : 0;
}

bool wait_for_port(uint16_t port, uint32_t timeout_ms) {
    return wait_until(
        [&] {
            int fd = socket_connect("127.0.0.1", port, 1000);
            socket_close(fd);
            return fd >= 0;
        },
        timeout_ms);
}

int run_command(const std::vector<std::string>& argv, std::string* output, unsigned timeout_s) {
    std::vector<std::string> bounded = {"timeout", "-k", "5", std::to_string(timeout_s)};
    bounded.insert(bounded.end(), argv.begin(), argv.end());
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) return -1;
    pid_t pid = spawn(bounded, out[1], -1);
    close(out[1]);
    char buffer[4096];
    for (ssize_t got; pid > 0 && (got = read(out[0], buffer, sizeof buffer)) > 0;) {
        if (output) output->append(buffer, static_cast<size_t>(got));
    }
    close(out[0]);
    int status = 0;
    if (pid <= 0 || waitpid(pid, &status, 0) != pid) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}
