// A console program's stop request from outside: Ctrl-C, or a service
// manager's SIGTERM; on Windows also Ctrl-Break and the console window
// closing, the user logging off and the system shutting down.
//
// Windows ends the process as soon as its handler returns from a close,
// log-off or shut-down event, so there the handler holds the process (up
// to the few seconds the system grants) until stop_request_remove() says
// the program has stopped its work: recordings are then whole.
#pragma once

// Starts listening; a request made before this is not seen.
void stop_request_install();
// True once a stop was requested since stop_request_install().
[[nodiscard]] bool stop_request_seen();
// The program's work has stopped: release a held handler, stop listening.
void stop_request_remove();
