// Small helpers shared by the base tests: scratch directories and file text.
#pragma once

#include "base/string.h"

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace testutil {

inline std::string str(const trivane::String& s) { return std::string(s.data(), s.length()); }
inline trivane::String tv(const std::string& s) { return trivane::String(s.c_str()); }

// A fresh directory under the system's temporary directory, removed with
// everything in it when the object goes.
class ScratchDir {
public:
    ScratchDir() {
        std::random_device random;
        m_path = std::filesystem::temp_directory_path() / ("trivane-test-" + std::to_string(random()));
        std::filesystem::create_directories(m_path);
    }
    ~ScratchDir() {
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }
    std::string path(const std::string& name = "") const { return name.empty() ? m_path.string() : (m_path / name).string(); }

private:
    std::filesystem::path m_path;
};

inline std::string readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

inline std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> result;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) result.push_back(line);
    return result;
}

inline void writeAll(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

}  // namespace testutil
