// A peer process started by a test (nginx, ffmpeg, a scripted server) and
// stopped by its PID when the Child goes out of scope: SIGTERM first, SIGKILL
// if it has not ended within the bound.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

class Child {
  public:
    Child() = default;
    ~Child() { stop(); }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    // Starts argv[0] (searched on PATH) with stdout and stderr sent to `log_path`
    // ("" = /dev/null). False when it could not be started.
    bool start(const std::vector<std::string>& argv, const std::string& log_path = "");
    // SIGTERM, wait up to `grace_ms`, then SIGKILL. Returns the exit status
    // (as waitpid gives it) or -1 when nothing was running.
    int stop(uint32_t grace_ms = 5000);
    // True while the process has not ended.
    bool running();
    pid_t pid() const { return pid_; }

  private:
    pid_t pid_ = -1;
    int status_ = -1;
};

// A TCP port on 127.0.0.1 that was free a moment ago.
uint16_t free_loopback_port();
// Waits until 127.0.0.1:port accepts a connection; false after `timeout_ms`.
bool wait_for_port(uint16_t port, uint32_t timeout_ms);
// Runs a command to completion (bounded by `timeout_s` through timeout(1));
// returns its exit code and stdout in `output` when given.
int run_command(const std::vector<std::string>& argv, std::string* output = nullptr, unsigned timeout_s = 120);
