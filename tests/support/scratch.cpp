#include "scratch.h"

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace fs = std::filesystem;

ScratchDir::ScratchDir(Mode mode) {
    std::string pattern = (fs::temp_directory_path() / "hotfx-test-XXXXXX").string();
    if (!mkdtemp(&pattern[0])) throw std::runtime_error("cannot make a scratch directory");
    path_ = pattern;
    if (mode == Entered) {
        previous_ = fs::current_path().string();
        fs::current_path(path_);
    }
}

ScratchDir::~ScratchDir() {
    std::error_code ignored;
    if (!previous_.empty()) fs::current_path(previous_, ignored);
    fs::remove_all(path_, ignored);
}

void ScratchDir::Write(const std::string &name, const std::string &text) const {
    WriteFileAtomically(path_ + "/" + name, text);
}

void WriteFileAtomically(const std::string &path, const std::string &text) {
    const std::string beside = path + ".new";
    {
        std::ofstream file(beside, std::ios::binary | std::ios::trunc);
        file.write(text.data(), static_cast<std::streamsize>(text.size()));
        file.close();
        if (!file) throw std::runtime_error("cannot write " + beside);
    }
    fs::rename(beside, path);
}

std::string ReadFile(const std::string &path) {
    std::ifstream file(path, std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}
