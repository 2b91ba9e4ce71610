// veltrona-cli: the headless front end, as a library entry so tests can
// drive it in process (with engines of their own).
//
//   veltrona-cli [--data-dir DIR] list
//   veltrona-cli [--data-dir DIR] add --type direct|record|overlay|mp4 --name NAME --source SRC --output URL
//                [--source-type youtube|direct] [--recording-dir DIR] [--poll-seconds N] [--bitrate TEXT]
//                [--image PATH] [--text TEXT] [--encoder TEXT]
//   veltrona-cli [--data-dir DIR] check ID
//   veltrona-cli [--data-dir DIR] run [--seconds N] ID...
//
// Exit status: 0 success; 1 a refused workflow (add, check) or a run that
// ended by itself in ERROR; 2 usage errors and workflows that could not start.
#pragma once

struct EngineTable;

// Runs one command; the runs call `engines` (main installs the built-in
// table, tests their own).
int cli_main(int argc, char** argv, const EngineTable* engines);
