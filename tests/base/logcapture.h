// Sends every log level to a file of the test's own for as long as it lives.
#pragma once

#include "base/console.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>

namespace trivane::test {

class LogCapture {
public:
    LogCapture() {
        static int s_count = 0;
        m_path = (std::filesystem::temp_directory_path() /
                  ("trivane-log-" + std::to_string(std::random_device()()) + "-" + std::to_string(++s_count)))
                     .string();
        for (int level = 0; level < Console::levels; ++level)
            Console::instance()->setOutput(level, String(m_path.c_str()).clone());
    }
    ~LogCapture() {
        for (int level = 0; level < Console::levels; ++level) Console::instance()->setOutput(level, "stdout"_s);
        std::remove(m_path.c_str());
    }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    std::string text() const {
        // As written: a line break the message holds stays as it is.
        std::ifstream in(m_path, std::ios::binary);
        std::ostringstream all;
        all << in.rdbuf();
        return all.str();
    }
    // How many lines hold `part`.
    int lines(const std::string& part) const {
        std::istringstream in(text());
        int n = 0;
        for (std::string line; std::getline(in, line);) n += line.find(part) != std::string::npos;
        return n;
    }

private:
    std::string m_path;
};

}  // namespace trivane::test
