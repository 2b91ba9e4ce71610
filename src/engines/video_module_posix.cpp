// Loads the video engines' module on the first call that needs one, so that
// a process that only copies streams never maps FFmpeg, Pango or Cairo. The
// module lies beside the executable (a build folder) or in the folder it is
// installed to, VELTRONA_MODULE_DIR from the build (lib/veltrona, or
// lib/<triplet>/veltrona in a Debian build), below the executable's parent folder;
// VELTRONA_VIDEO_MODULE names another file instead.
// The outcome, table or reason, is kept for the life of the process.
#include <dlfcn.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "engines/video_engines.h"
#include "platform/files/folders.h"
#include "platform/text/error_text.h"

namespace {

constexpr const char* MODULE_FILE = "veltrona-video.so";

struct LoadedModule {
    const VideoEngineTable* table = nullptr;
    std::string error;
};

// The first candidate that exists, else the installed one, whose absence
// is the message worth showing.
std::string module_path() {
    if (const char* chosen = std::getenv("VELTRONA_VIDEO_MODULE"); chosen && *chosen) return chosen;
    const std::string folder = path_parent(executable_path());
    const std::string beside = path_join(folder, MODULE_FILE);
    if (access(beside.c_str(), F_OK) == 0) return beside;
    const std::string installed = VELTRONA_MODULE_DIR;
    return path_join(installed.starts_with('/') ? installed : path_join(path_parent(folder), installed), MODULE_FILE);
}

LoadedModule load_module() {
    const std::string path = module_path();
    // Never closed: engines may run until the process ends.
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) return {nullptr, dlerror()};
    auto* entry = reinterpret_cast<const VideoEngineTable* (*)()>(dlsym(handle, VIDEO_MODULE_ENTRY));
    if (!entry) return {nullptr, dlerror()};
    return {entry(), ""};
}

}  // namespace

const VideoEngineTable* video_engine_table(std::span<char> error) {
    static const LoadedModule module = load_module();
    if (!module.table) error_printf(error, "video engines are not installed: %s", module.error.c_str());
    return module.table;
}
