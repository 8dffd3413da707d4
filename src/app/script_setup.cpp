#include "app/script_setup.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <optional>
#include <string>

#include "log/app_state.hpp"
#include "app/host.hpp"

namespace scribbet::ScriptSetup {

namespace {
// The whole file, or none with the reason in `error`. Plain POSIX reads: a folder or an
// unreadable file must come back as a failure, never as an exception at launch.
std::optional<std::string> readAll(const std::filesystem::path& file, std::string& error) {
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        error = std::strerror(errno);
        return std::nullopt;
    }
    std::string bytes;
    char buf[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            error = std::strerror(errno);
            ::close(fd);
            return std::nullopt;
        }
        if (n == 0) break;
        bytes.append(buf, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return bytes;
}

bool writeAll(const std::filesystem::path& file, const std::string& bytes, std::string& error) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    if (out) out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (out) out.close();
    if (!out) {
        error = errno ? std::strerror(errno) : "The file could not be written.";
        return false;
    }
    return true;
}

void failed(const std::string& why) { log("Could not set up the ribbon helper: " + why); }
} // namespace

void ensureSetup(const Settings& settings, const Bundle& bundle, const Paths& paths) {
    if (!Host::current().runsHelperScript) return;
    if (settings.noScriptCopy) {
        log("Test mode: the ribbon helper was not copied.");
        return;
    }
    const auto source = bundle.resource("Scribbet", "scpt");
    if (!source) return;

    std::string error;
    const auto bytes = readAll(*source, error);
    if (!bytes) return failed(error);

    const auto folder = paths.scriptsFolder();
    const auto target = folder / fileName;
    std::string ignored;
    if (auto present = readAll(target, ignored); present && *present == *bytes) return;

    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    if (ec) return failed(ec.message());
    std::filesystem::remove(target, ec); // a missing file is fine

    errno = 0;
    if (!writeAll(target, *bytes, error)) return failed(error);
    log(Host::current().say("Set up the ribbon helper. Restart PowerPoint if it was open."));
}

} // namespace scribbet::ScriptSetup
