// The six media engines the runner calls (shapes in engines/engine_contract.h).
//   capture:  overlay_stream_engine, hls_to_rtmp_engine, hls_to_ts_recorder
//   loop:     mp4_loop_engine, overlay_ts_loop_engine, ts_loop_publisher
#pragma once

#include "engines/engine_contract.h"

int overlay_stream_engine(const std::string& source_url, const std::string& output_url,
                          const std::string& recording_path, const OverlaySettings& settings, Event* stop_event,
                          EngineStatusCallback status, void* context, const EngineHooks& hooks, std::span<char> error);
int hls_to_rtmp_engine(const std::string& source_url, const std::string& output_url, const std::string& recording_path,
                       Event* stop_event, EngineStatusCallback status, void* context, const EngineHooks& hooks,
                       std::span<char> error);
int hls_to_ts_recorder(const std::string& source_url, const std::string& recording_path, Event* stop_event,
                       EngineStatusCallback status, void* context, const EngineHooks& hooks, std::span<char> error);
int mp4_loop_engine(const std::string& mp4_path, const std::string& output_url, const OverlaySettings* settings,
                    Event* stop_event, EngineStatusCallback status, void* context, std::span<char> error);
int overlay_ts_loop_engine(const std::string& recording_path, const std::string& output_url,
                           const OverlaySettings& settings, Event* stop_event, EngineStatusCallback status,
                           void* context, const EngineHooks& hooks, std::span<char> error);
int ts_loop_publisher(const std::string& recording_path, const std::string& output_url, Event* stop_event,
                      EngineStatusCallback status, void* context, const EngineHooks& hooks, std::span<char> error);
