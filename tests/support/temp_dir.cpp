#include "support/temp_dir.h"

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "platform/files/folders.h"

TempDir::TempDir() {
    std::string pattern = temp_folder() + "veltrona-test-XXXXXX";
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

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
    chmod(path.c_str(), mode);
}
