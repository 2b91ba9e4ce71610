// config.tsv: the saved workflow list, one header line and one
// tab-separated record per workflow, in list order.
//
//   EF BB BF "VELTRONA" TAB "1" CR LF
//   "W" TAB id TAB type TAB ... 30 fields ... CR LF
//
// Byte-compatible with files written by the Windows build (BOM, CR LF); the
// reader also takes LF alone and no BOM, and 27-field records from older
// versions. Text fields carry no escaping, so tabs and line breaks in any
// text field are turned into spaces before saving. The file holds stream
// keys: it is created readable by its owner only, and replaced in one step.
//
// Several programs may change the file at once (the desktop, any number of
// veltrona-cli commands): every change reads the file afresh, changes it and
// saves it as one step under a lock file beside it, so no program saves
// over a change it has not seen. Only a missing file is an empty list; a
// file that exists but cannot be read is never saved over.
#pragma once

#include <functional>
#include <string>
#include <string_view>

struct WorkflowList;

enum class ConfigLoad { loaded, malformed, unreadable };

// Appends the saved workflows to the list (at most MAX_WORKFLOWS in all)
// and raises next_id past every loaded id. `loaded` also when the file does
// not exist; `malformed` keeps the workflows read before the fault;
// `unreadable` adds nothing. `error` says which ("<path> cannot be read:
// <reason>", "<path> is not a workflow list.").
[[nodiscard]] ConfigLoad config_load(WorkflowList& list, std::string* error = nullptr);

// config_load's reading of the file's bytes.
[[nodiscard]] bool config_read(WorkflowList& list, std::string_view content);

// Writes every workflow, as the list holds them, to a new file and renames
// it over config.tsv. False when anything failed; the old file is then
// untouched. Changes go through config_update.
bool config_save(WorkflowList& list);

// One change as one step, under the lock: reads the file afresh into a list
// of its own (config path, recordings folder and context as `list`'s), lets
// `change` edit that, saves it, then makes `list` hold what was saved
// (config_adopt). False, with `list` and the file as they were, when the
// lock cannot be taken, the file cannot be read or saved (the reason in
// `error`), or `change` declines (`error` left empty).
[[nodiscard]] bool config_update(WorkflowList& list, const std::function<bool(WorkflowList& saved)>& change,
                                 std::string* error);

// Reads the file afresh (no lock needed: saves replace it in one step) and
// makes `list` hold it (config_adopt); false, `list` untouched, when it
// cannot be read (the reason in `error`) or is malformed.
[[nodiscard]] bool config_reload(WorkflowList& list, std::string* error);

// Makes `list` match `saved`, in its order: a record of an id `list` holds
// keeps its run state and takes the saved settings (its revision raised when
// they differ), a new id moves over from `saved`, a record `saved` lacks is
// stopped and destroyed. `saved` is left empty.
void config_adopt(WorkflowList& list, WorkflowList& saved);
