// Portable, so the Windows test program has it too.
#include "support/temp_dir.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

#include "platform/files/folders.h"

TempDir::TempDir() {
    std::random_device random;
    for (int tries = 0; tries < 100 && path_.empty(); ++tries) {
        const std::string name = temp_folder() + "veltrona-test-" + std::to_string(random());
        if (std::filesystem::create_directory(name)) path_ = name;  // ours alone: it was not there
    }
    if (path_.empty()) throw std::runtime_error("no fresh temporary folder");
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all);
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

#ifdef _WIN32
// An empty value removes the variable there.
static void setenv(const char* name, const char* value, int) {
    _putenv_s(name, value);
}
static void unsetenv(const char* name) {
    _putenv_s(name, "");
}
#endif

ScopedEnv::ScopedEnv(const char* name, const std::string& value) : name(name) {
    if (const char* now = getenv(name)) old = now;
    setenv(name, value.c_str(), 1);
}

ScopedEnv::~ScopedEnv() {
    old ? setenv(name.c_str(), old->c_str(), 1) : unsetenv(name.c_str());
}

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

void write_file(const std::string& path, const std::string& bytes, unsigned mode) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
    out.close();
    std::filesystem::permissions(path, std::filesystem::perms(mode));
}
