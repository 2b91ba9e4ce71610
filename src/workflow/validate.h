// The checks a workflow must pass before it runs, the URL syntax rules the
// editor shares, the masked display form of an output URL, and the bitrate
// text.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

struct Workflow;
struct WorkflowSettings;

constexpr const char* YOUTUBE_MAIN_DOMAIN = "youtube.com";
constexpr const char* YOUTUBE_SHORT_DOMAIN = "youtu.be";

// The message for a YouTube source that does not pass url_check.
[[nodiscard]] std::string youtube_source_message();

// True when the workflow's settings allow a run; otherwise `message` holds
// the reason for the user. May create the recording folder. Whether yt-dlp
// works is checked above, by run control (workflow_check).
[[nodiscard]] bool workflow_validate(Workflow& workflow, std::string* message);

// URL syntax. With `rtmp_output` the text must be rtmp(s) with a path; with
// `youtube` an http(s) page on the video service with a path; otherwise any
// http, https, rtmp, rtmps or srt URL.
[[nodiscard]] bool url_check(std::string_view text, bool youtube, bool rtmp_output);

// The problem of one output URL (empty, its syntax; with `stream_key`, a
// missing stream key), "" when there is none.
[[nodiscard]] std::string output_problem(std::string_view url, bool stream_key);
// True when two output URLs publish to the same stream.
[[nodiscard]] bool same_output(std::string_view a, std::string_view b);

// The first problem of the outputs beyond the first, each checked as the
// first is (its syntax; with `stream_key`, its stream key too) and named
// ("Output 2: ..."), then "Two outputs have the same URL." when two outputs,
// enabled or not, publish to the same stream; "" when there is none.
[[nodiscard]] std::string extra_outputs_problem(const WorkflowSettings& settings, bool stream_key);

// rtmp(s)://host/app/******** for display: everything after the
// application hidden, query included; other texts unchanged.
[[nodiscard]] std::string mask_stream_key(std::string_view url);

// The MP4 source rule: an existing file, not a folder, whose path ends in
// ".mp4" (ignoring case) counted from its last '.'.
[[nodiscard]] bool is_mp4_file_path(const std::string& path);

// Bits per second from a bitrate text: a decimal number, its fraction
// included, times 1000 for a k or K after it and 1000000 for m or M
// ("6000k", "4.5M", "2500000"); saturates at 2^32 - 1; 0 or no digits
// gives 6000000.
[[nodiscard]] uint32_t parse_bitrate(std::string_view text);

// False when the workflow re-encodes video (Overlay + Stream, an MP4 loop
// with an overlay on) at a bitrate below 100 kbit/s or above 100 Mbit/s.
[[nodiscard]] bool bitrate_acceptable(const WorkflowSettings& settings);
