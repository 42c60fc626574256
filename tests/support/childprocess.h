// Test support: run a program with extra environment, collect its output and
// exit status with a bounded wait; temporary directories.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace testsupport {

inline std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

inline void writeFile(const std::string& path, const std::string& text, mode_t mode = 0644) {
    std::ofstream(path, std::ios::binary) << text;
    chmod(path.c_str(), mode);
}

// Polls `done` every 10 ms until it holds or `seconds` pass.
inline bool waitFor(const std::function<bool()>& done, double seconds = 15) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

// A directory under /tmp, removed with everything in it.
class TempDir {
public:
    TempDir() {
        char pattern[] = "/tmp/trivane-test-XXXXXX";
        m_path = mkdtemp(pattern);
        chmod(m_path.c_str(), 0755);
    }
    ~TempDir() {
        const std::string command = "rm -rf '" + m_path + "'";
        if (std::system(command.c_str()) != 0) {
        }
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return m_path; }
    std::string operator/(const std::string& name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};

// A child process with standard output and error on one pipe.
class Child {
public:
    Child(const std::vector<std::string>& argv, const std::vector<std::string>& extraEnv) {
        int fds[2];
        if (pipe2(fds, O_CLOEXEC) != 0) return;
        std::vector<std::string> env;
        for (char** e = environ; *e; ++e) {
            const std::string entry(*e);
            bool replaced = false;
            for (const std::string& extra : extraEnv)
                if (entry.substr(0, entry.find('=') + 1) == extra.substr(0, extra.find('=') + 1)) replaced = true;
            if (!replaced) env.push_back(entry);
        }
        for (const std::string& extra : extraEnv) env.push_back(extra);
        std::vector<char*> args, envp;
        for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        for (const std::string& e : env) envp.push_back(const_cast<char*>(e.c_str()));
        envp.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
        posix_spawn_file_actions_adddup2(&actions, fds[1], 2);
        if (posix_spawn(&m_pid, args[0], &actions, nullptr, args.data(), envp.data()) != 0) m_pid = -1;
        posix_spawn_file_actions_destroy(&actions);
        close(fds[1]);
        m_out = fds[0];
    }
    ~Child() {
        if (m_pid > 0 && !m_exited) {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
        }
        if (m_out >= 0) close(m_out);
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    pid_t pid() const { return m_pid; }

    // Reads what is available within `ms`.
    void pump(int ms) {
        pollfd p{m_out, POLLIN, 0};
        if (m_out < 0 || poll(&p, 1, ms) <= 0) return;
        char buffer[4096];
        const ssize_t n = read(m_out, buffer, sizeof buffer);
        if (n > 0) {
            m_output.append(buffer, static_cast<size_t>(n));
        } else {
            close(m_out);
            m_out = -1;
        }
    }

    bool waitForOutput(const std::string& text, double seconds = 15) {
        return waitFor([&] {
            pump(10);
            return m_output.find(text) != std::string::npos;
        }, seconds);
    }

    // The exit status (or 128 + signal), -1 when it did not end in time.
    int wait(double seconds = 15) {
        if (!m_exited) {
            const bool ended = waitFor([&] {
                pump(10);
                int status = 0;
                if (waitpid(m_pid, &status, WNOHANG) == m_pid) {
                    m_exited = true;
                    m_status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
                }
                return m_exited;
            }, seconds);
            if (!ended) return -1;
        }
        for (int i = 0; i < 50 && m_out >= 0; ++i) pump(100);
        return m_status;
    }

    const std::string& output() const { return m_output; }

private:
    pid_t m_pid = -1;
    int m_out = -1;
    bool m_exited = false;
    int m_status = 0;
    std::string m_output;
};

}  // namespace testsupport
