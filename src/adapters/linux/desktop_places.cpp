#include "adapters/linux/desktop_places.hpp"

#include <cstdlib>

namespace scribbet::linuxhost {

ProgramBundle::ProgramBundle(std::filesystem::path folder) : folder_(std::move(folder)) {
    if (folder_.empty()) {
        std::error_code ec;
        auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
        folder_ = ec ? std::filesystem::current_path(ec) : exe.parent_path();
    }
}

std::optional<std::string> ProgramBundle::version() const {
#ifdef SCRIBBET_VERSION
    return std::string(SCRIBBET_VERSION);
#else
    return std::nullopt;
#endif
}

std::optional<std::filesystem::path> ProgramBundle::resource(const std::string& name, const std::string& ext) const {
    auto file = folder_ / (name + "." + ext);
    std::error_code ec;
    if (std::filesystem::exists(file, ec)) return file;
    return std::nullopt;
}

std::filesystem::path XdgPaths::base(const char* name, const char* fallback) {
    // The XDG rules ignore relative values.
    if (const char* v = std::getenv(name); v && *v == '/') return v;
    return homeDirectory() / fallback;
}

std::filesystem::path XdgPaths::logFile() const {
    return base("XDG_STATE_HOME", ".local/state") / "scribbet" / "Scribbet.log";
}

std::filesystem::path XdgPaths::scriptsFolder() const {
    return base("XDG_DATA_HOME", ".local/share") / "scribbet-standin" / "Application Scripts" /
           "com.microsoft.Powerpoint";
}

} // namespace scribbet::linuxhost
