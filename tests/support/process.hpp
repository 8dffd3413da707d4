#pragma once
// Child processes for tests that run the real programs.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#ifdef __APPLE__
#include <mach-o/dyld.h>
#endif

#include <chrono>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

namespace scribbet::test {

// The running test program's own file, to start it again as a child.
inline std::filesystem::path selfProgram() {
#ifdef __APPLE__
    std::uint32_t size = 0;
    _NSGetExecutablePath(nullptr, &size);
    std::string path(size, '\0');
    if (_NSGetExecutablePath(path.data(), &size) != 0) return {};
    path.resize(std::strlen(path.c_str()));
    std::error_code failed;
    const auto real = std::filesystem::canonical(path, failed);
    return failed ? std::filesystem::path(path) : real;
#else
    return std::filesystem::read_symlink("/proc/self/exe");
#endif
}

class Process {
public:
    // Starts `argv` with exactly the environment `env` ("NAME=value" entries); its output
    // goes to the file `output` when one is named.
    Process(std::vector<std::string> argv, std::vector<std::string> env, const std::string& output = "") {
        pid_ = ::fork();
        if (pid_ == 0) {
            if (!output.empty()) {
                const int fd = ::open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
                ::dup2(fd, 1);
                ::dup2(fd, 2);
            }
            std::vector<char*> a, e;
            for (auto& s : argv) a.push_back(s.data());
            for (auto& s : env) e.push_back(s.data());
            a.push_back(nullptr);
            e.push_back(nullptr);
            ::execve(a[0], a.data(), e.data());
            ::_exit(127);
        }
    }
    ~Process() {
        if (pid_ > 0 && !done_) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

    pid_t pid() const { return pid_; }
    void signal(int sig) const { ::kill(pid_, sig); }
    // The exit status, or -1 when it did not end within the limit (it is then killed).
    int wait(std::chrono::milliseconds limit = std::chrono::milliseconds(5000)) {
        if (done_) return status_;
        const auto deadline = std::chrono::steady_clock::now() + limit;
        int status = 0;
        while (std::chrono::steady_clock::now() < deadline) {
            if (::waitpid(pid_, &status, WNOHANG) == pid_) {
                done_ = true;
                status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
                return status_;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, &status, 0);
        done_ = true;
        status_ = -1;
        return -1;
    }

private:
    pid_t pid_ = -1;
    bool done_ = false;
    int status_ = -1;
};

// Polls `done` in real time until it holds or the limit passes.
template <class F>
bool eventually(F done, std::chrono::milliseconds limit = std::chrono::milliseconds(5000)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < deadline) {
        if (done()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return done();
}

} // namespace scribbet::test
