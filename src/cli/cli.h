// veltrona-cli: the headless front end, as a library entry so tests can
// drive it in process (with engines of their own).
//
//   veltrona-cli [--data-dir DIR] list
//   veltrona-cli [--data-dir DIR] add --type direct|record|overlay|mp4 --name NAME --source SRC --output URL
//                [workflow options: one per editor field, see cli/workflow_options.h]
//   veltrona-cli [--data-dir DIR] edit ID [workflow options]
//   veltrona-cli [--data-dir DIR] delete ID   (refused while a run holds it)
//   veltrona-cli [--data-dir DIR] check ID
//   veltrona-cli [--data-dir DIR] run [--seconds N] [--stats N] ID...|--all   (--all: every enabled workflow)
//                (watches config.tsv: saved overlay edits reach the running workflows; writes
//                each workflow's status file every second; --stats: a summary line every N s)
//   veltrona-cli [--data-dir DIR] status [ID]   (the figures a run of the folder writes; 1 when ID is not running)
//   veltrona-cli --version
//
// Exit status: 0 success; 1 a refused workflow (add, edit, delete, check) or a run that
// ended by itself in ERROR; 2 usage errors and workflows that could not start.
#pragma once

struct EngineTable;

// Runs one command; the runs call `engines` (main installs the built-in
// table, tests their own).
int cli_main(int argc, char** argv, const EngineTable* engines);
