#pragma once
// The one log: every message becomes a time-stamped line at the end of the log file and a
// shorter line in the status window's log view. The last 400 view lines are kept so that
// a log view attached later starts with them.
#include <deque>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

#include "ports/log_view.hpp"
#include "runtime/queues.hpp"

namespace scribbet {

// The global entry point: any thread, returns at once, never fails visibly.
void log(std::string_view message);

class AppState {
public:
    static constexpr std::size_t keptLimit = 400;
    static constexpr std::uintmax_t fileLimit = 1'000'000; // bytes; larger files start afresh

    // Lines reach a log view through `main`; without one, only the file.
    AppState(std::filesystem::path logFile, MainQueue* main);
    ~AppState();

    // The log the entry point built; until then, one in the temp folder, so an early line is
    // never lost to a crash.
    static AppState& shared();

    void log(std::string_view message);
    // Main thread.
    void attach(const std::shared_ptr<LogView>& view);
    const std::deque<std::string>& kept() const { return view_->kept; }
    std::weak_ptr<StatusWindow> statusWindow; // main thread
    // Waits until every line logged so far is in the file (used before quitting).
    void flush();
    const std::filesystem::path& logFile() const { return logFile_; }

    // Appends one line to the file, starting the file afresh when it has grown too big.
    static void write(const std::filesystem::path& file, const std::string& line);
    // "yyyy-MM-dd HH:mm:ss" and "HH:mm:ss" in local time; safe on any thread.
    static std::string stamp(WallTime t);
    static std::string clockText(WallTime t);

private:
    std::filesystem::path logFile_;
    MainQueue* main_;
    SerialQueue fileQueue_{"com.tarnwell.scribbet.log"};
    // Shared with the queued view updates, so that a line still on its way to the main
    // queue never touches an AppState that has gone.
    struct ViewSide {
        std::weak_ptr<LogView> logView;
        std::deque<std::string> kept;
    };
    std::shared_ptr<ViewSide> view_;
};

} // namespace scribbet
