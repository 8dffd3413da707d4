#pragma once
// Test fixtures: a main queue on virtual time, a log in a fresh temporary folder, and
// helpers to read what was logged.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "log/app_state.hpp"
#include "adapters/fake/virtual_loop.hpp"
#include "runtime/queues.hpp"
#include "runtime/shared_slot.hpp"

namespace scribbet::test {

// A fresh folder under the temp folder, removed afterwards.
class TempDir {
public:
    TempDir() {
        auto base = std::filesystem::temp_directory_path() / "scribbet-tests";
        std::filesystem::create_directories(base);
        std::string pattern = (base / "XXXXXX").string();
        path_ = ::mkdtemp(pattern.data());
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::permissions(path_, std::filesystem::perms::owner_all, ec);
        std::filesystem::remove_all(path_, ec);
    }
    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

private:
    std::filesystem::path path_;
};

inline std::string readFile(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

inline void writeFile(const std::filesystem::path& p, const std::string& bytes) {
    std::filesystem::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary) << bytes;
}

// Lines of a text without their time stamps ("yyyy-MM-dd HH:mm:ss  " is 21 characters).
inline std::vector<std::string> messages(const std::string& logText) {
    std::vector<std::string> out;
    std::istringstream in(logText);
    for (std::string line; std::getline(in, line);) out.push_back(line.size() >= 21 ? line.substr(21) : line);
    return out;
}

// The main queue on virtual time, with the log writing into a temporary folder: `state` is
// the program's log for as long as the test runs, so log() lands in the test's own file.
class VirtualMainTest : public ::testing::Test {
protected:
    ~VirtualMainTest() override { state.flush(); }

    // The messages logged so far, in file order.
    std::vector<std::string> logged() {
        state.flush();
        return messages(readFile(state.logFile()));
    }

    TempDir dir;
    std::shared_ptr<fake::VirtualClock> clock = std::make_shared<fake::VirtualClock>();
    std::shared_ptr<fake::VirtualMainLoop> loop = std::make_shared<fake::VirtualMainLoop>(clock);
    MainQueue main{loop, clock};
    AppState state{dir / "Logs" / "Scribbet.log", &main};
    SharedSlot<AppState> stateSlot{state};
};

} // namespace scribbet::test
