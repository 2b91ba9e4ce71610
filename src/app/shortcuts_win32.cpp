// Launcher entries as shell links (.lnk) through IShellLinkW.
//
// A link is "in order" when its stored target equals this executable,
// ignoring case; then nothing is written. Otherwise the target, working
// folder, description and icon are set on the loaded link (its arguments
// and hot key stay) or on a new one, and it is saved in place. COM is
// initialised for the calling thread as apartment-threaded for the length
// of each call; a thread already in another mode is used as it is.
// The system headers must come in this order.
// clang-format off
#include <windows.h>
#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>
// clang-format on

#include <memory>

#include "app/shortcuts.h"
#include "platform/files/folders.h"
#include "platform/text/text.h"
#include "platform/text/wide_text.h"

namespace {

constexpr const char* LINK_FILE_NAME = "Veltrona.lnk";

struct ComScope {
    HRESULT result = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    ~ComScope() {
        if (SUCCEEDED(result)) CoUninitialize();
    }
    bool usable() const { return SUCCEEDED(result) || result == RPC_E_CHANGED_MODE; }
};

template <typename T>
struct ComRelease {
    void operator()(T* object) const { object->Release(); }
};
template <typename T>
using ComPtr = std::unique_ptr<T, ComRelease<T>>;

bool stored_target_matches(IShellLinkW* link, IPersistFile* file, const std::wstring& link_path,
                           const std::string& target_path) {
    if (GetFileAttributesW(link_path.c_str()) == INVALID_FILE_ATTRIBUTES) return false;
    if (FAILED(file->Load(link_path.c_str(), 0))) return false;
    wchar_t stored[MAX_PATH] = {};
    if (FAILED(link->GetPath(stored, MAX_PATH, nullptr, SLGP_RAWPATH)) || stored[0] == L'\0') return false;
    return iequals(wide_to_utf8(stored), target_path);
}

bool write_link(IShellLinkW* link, IPersistFile* file, const std::wstring& link_path, const std::string& target_path) {
    std::wstring target = utf8_to_wide(target_path);
    std::wstring working_dir = utf8_to_wide(path_parent(target_path));
    if (FAILED(link->SetPath(target.c_str()))) return false;
    if (!working_dir.empty() && FAILED(link->SetWorkingDirectory(working_dir.c_str()))) return false;
    if (FAILED(link->SetDescription(L"Veltrona")) || FAILED(link->SetIconLocation(target.c_str(), 0))) return false;
    return SUCCEEDED(file->Save(link_path.c_str(), TRUE));
}

}  // namespace

bool ensure_shortcut(const std::string& link_path, const std::string& target_path) {
    ComScope com;
    if (!com.usable()) return false;
    IShellLinkW* raw_link = nullptr;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                reinterpret_cast<void**>(&raw_link)))) {
        return false;
    }
    ComPtr<IShellLinkW> link(raw_link);
    IPersistFile* raw_file = nullptr;
    if (FAILED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&raw_file)))) return false;
    ComPtr<IPersistFile> file(raw_file);
    std::wstring wide_link = utf8_to_wide(link_path);
    if (stored_target_matches(link.get(), file.get(), wide_link, target_path)) return true;
    return write_link(link.get(), file.get(), wide_link, target_path);
}

bool ensure_user_shortcuts_in(const std::string& desktop_dir, const std::string& programs_dir,
                              const std::string& target_path) {
    if (target_path.empty() || desktop_dir.empty() || programs_dir.empty()) return false;
    if (!ensure_directory(desktop_dir) || !ensure_directory(programs_dir)) return false;
    return ensure_shortcut(path_join(desktop_dir, LINK_FILE_NAME), target_path) &&
           ensure_shortcut(path_join(programs_dir, LINK_FILE_NAME), target_path);
}

bool ensure_user_shortcuts() {
    return ensure_user_shortcuts_in(desktop_folder(), programs_folder(), executable_path());
}
