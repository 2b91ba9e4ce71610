// SIGINT and SIGTERM set a flag the run loop polls; the handlers found at
// install are put back at remove.
#include <csignal>

#include "platform/process/stop_request.h"

namespace {

volatile std::sig_atomic_t requested = 0;
struct sigaction old_int, old_term;

void on_signal(int) {
    requested = 1;
}

}  // namespace

void stop_request_install() {
    requested = 0;
    struct sigaction action = {};
    action.sa_handler = on_signal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, &old_int);
    sigaction(SIGTERM, &action, &old_term);
}

bool stop_request_seen() {
    return requested != 0;
}

void stop_request_remove() {
    sigaction(SIGINT, &old_int, nullptr);
    sigaction(SIGTERM, &old_term, nullptr);
}
