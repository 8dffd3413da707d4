#include "log/app_state.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <ctime>

#include "runtime/shared_slot.hpp"

namespace scribbet {

namespace {
std::string format(WallTime t, const char* pattern) {
    const std::time_t secs =
        std::chrono::system_clock::to_time_t(std::chrono::floor<std::chrono::seconds>(t));
    std::tm local{};
    localtime_r(&secs, &local);
    char out[32];
    const std::size_t n = std::strftime(out, sizeof out, pattern, &local);
    return std::string(out, n);
}

std::filesystem::path earlyLogFile() {
    std::error_code ec;
    auto temp = std::filesystem::temp_directory_path(ec);
    return (ec ? std::filesystem::path("/tmp") : temp) / "Scribbet.log";
}
} // namespace

void log(std::string_view message) { AppState::shared().log(message); }

AppState::AppState(std::filesystem::path logFile, MainQueue* main)
    : logFile_(std::move(logFile)), main_(main), view_(std::make_shared<ViewSide>()) {}

// Every line logged reaches the file before the log goes.
AppState::~AppState() { flush(); }

AppState& AppState::shared() {
    if (AppState* built = SharedSlot<AppState>::get()) return *built;
    static AppState early(earlyLogFile(), nullptr);
    return early;
}

std::string AppState::stamp(WallTime t) { return format(t, "%Y-%m-%d %H:%M:%S"); }
std::string AppState::clockText(WallTime t) { return format(t, "%H:%M:%S"); }

void AppState::log(std::string_view message) {
    const WallTime now = main_ ? main_->clock().wallNow() : std::chrono::system_clock::now();
    std::string fileLine = stamp(now);
    fileLine.append("  ").append(message).push_back('\n');
    std::string viewLine = clockText(now);
    viewLine.append("  ").append(message).push_back('\n');

    fileQueue_.async([file = logFile_, line = std::move(fileLine)] { write(file, line); });
    if (!main_) return;
    main_->async([view = view_, line = std::move(viewLine)] {
        view->kept.push_back(line);
        while (view->kept.size() > keptLimit) view->kept.pop_front();
        if (auto logView = view->logView.lock()) logView->append(line);
    });
}

void AppState::attach(const std::shared_ptr<LogView>& view) {
    view_->logView = view;
    if (!view) return;
    for (const auto& line : view_->kept) view->append(line);
}

void AppState::flush() {
    fileQueue_.sync([] {});
}

void AppState::write(const std::filesystem::path& file, const std::string& line) {
    std::error_code ec;
    std::filesystem::create_directories(file.parent_path(), ec);

    struct stat info {};
    if (::stat(file.c_str(), &info) == 0 && static_cast<std::uintmax_t>(info.st_size) > fileLimit) {
        ::unlink(file.c_str());
    }
    // O_APPEND keeps each line whole even if another process writes the same file.
    int fd = ::open(file.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    if (fd < 0) fd = ::open(file.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return;
    const char* p = line.data();
    std::size_t left = line.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, left);
        if (n < 0) {
            if (errno == EINTR) continue;
            break;
        }
        p += n;
        left -= static_cast<std::size_t>(n);
    }
    ::close(fd);
}

} // namespace scribbet
