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
#pragma once

#include <string>
#include <string_view>

struct WorkflowList;

// Appends the saved workflows to the list (at most MAX_WORKFLOWS in all)
// and raises next_id past every loaded id. True when the file was read to
// its end, does not exist or cannot be opened; false when it is malformed
// (the workflows read before the fault stay in the table).
[[nodiscard]] bool config_load(WorkflowList& list);

// config_load's reading of the file's bytes.
[[nodiscard]] bool config_read(WorkflowList& list, std::string_view content);

// Writes every workflow to "<config>.tmp" and renames it over config.tsv.
// False when anything failed; the old file is then untouched.
bool config_save(WorkflowList& list);
