// Every text the workflow checks show the user: the run-time checks
// (workflow_validate and run control's yt-dlp probe) and the editor's save
// checks, kept together so the same fault always reads the same.
#pragma once

namespace check_message {

constexpr const char* name_required = "Name is required.";
constexpr const char* disabled = "This workflow is disabled.";
constexpr const char* source_required = "Source URL is required.";
constexpr const char* mp4_required = "MP4 file is required.";
constexpr const char* mp4_missing = "Select an existing .mp4 file.";
constexpr const char* source_invalid = "Enter a valid HTTP, HTTPS, RTMP, RTMPS, or SRT source URL.";
constexpr const char* output_required = "RTMP/RTMPS output URL is required.";
constexpr const char* output_invalid = "Enter a complete RTMP or RTMPS output URL, including its application/path.";
constexpr const char* output_no_stream_key =
    "The RTMP/RTMPS output URL has no stream key. Use rtmp://host/app/stream-key.";
constexpr const char* outputs_same = "Two outputs have the same URL.";
constexpr const char* outputs_too_many = "A workflow has at most 8 outputs.";
constexpr const char* image_missing = "Overlay image does not exist.";
constexpr const char* bitrate_out_of_range = "Bitrate must be between 100k and 100M (for example 6000k).";
constexpr const char* recording_dir_unwritable = "Recording directory is not writable.";
constexpr const char* ytdlp_missing = "The bundled yt-dlp tool is missing or cannot start. Reinstall Veltrona.";
constexpr const char* running_elsewhere = "This workflow is running in another Veltrona process.";

// The editor's titles and texts (besides the shared ones above).
constexpr const char* editor_name_title = "Invalid workflow";
constexpr const char* editor_name = "Enter a workflow name.";
constexpr const char* editor_mp4_title = "Invalid MP4 file";
constexpr const char* editor_mp4 = "Select an existing MP4 video file.";
constexpr const char* editor_source_title = "Invalid source URL";
constexpr const char* editor_output_title = "Invalid output URL";
constexpr const char* editor_image_title = "Invalid image overlay";
constexpr const char* editor_image = "Select an existing image file for the image overlay.";
constexpr const char* editor_bitrate_title = "Invalid bitrate";
constexpr const char* editor_text_color_title = "Invalid text color";
constexpr const char* editor_text_color = "Enter the text color as #RRGGBB.";
constexpr const char* editor_background_color_title = "Invalid background color";
constexpr const char* editor_background_color = "Enter the background color as #RRGGBB.";

}  // namespace check_message
