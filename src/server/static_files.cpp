// The drawing page's files: only known types, only names the request spells without a
// leading dot, and only below the web directory once symbolic links are resolved. A link is
// judged by where it leads, not by the name it leads to: a link inside the web directory to
// a hidden file there is served.
#include "server/static_files.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <optional>
#include <vector>

namespace scribbet {

namespace {

std::vector<std::string_view> pieces(std::string_view path) {
    std::vector<std::string_view> out;
    while (!path.empty()) {
        const auto slash = path.find('/');
        const auto piece = path.substr(0, slash);
        if (!piece.empty()) out.push_back(piece);
        if (slash == std::string_view::npos) break;
        path.remove_prefix(slash + 1);
    }
    return out;
}

bool refused(std::string_view piece) {
    return piece.front() == '.' || piece.find('\\') != std::string_view::npos ||
           piece.find('\0') != std::string_view::npos;
}

std::string lowerExtension(std::string_view name) {
    const auto dot = name.rfind('.');
    if (dot == std::string_view::npos) return {};
    std::string ext(name.substr(dot + 1));
    for (auto& c : ext) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return ext;
}

// The whole file, as long as fstat gave it, when `fd` is a regular one; closes `fd`. A file
// that shrinks while it is read gives what was there.
std::optional<std::string> readWhole(int fd) {
    std::optional<std::string> out;
    struct stat about {};
    if (::fstat(fd, &about) == 0 && S_ISREG(about.st_mode)) {
        std::string bytes(static_cast<std::size_t>(about.st_size), '\0');
        std::size_t got = 0;
        bool failed = false;
        while (got < bytes.size()) {
            const auto n = ::read(fd, bytes.data() + got, bytes.size() - got);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) failed = true;
            if (n <= 0) break;
            got += static_cast<std::size_t>(n);
        }
        if (!failed) {
            bytes.resize(got);
            out = std::move(bytes);
        }
    }
    ::close(fd);
    return out;
}

// Opening never waits: a pipe named like a page would hold up the thread that answers files.
constexpr int openFlags = O_RDONLY | O_CLOEXEC | O_NONBLOCK;

std::filesystem::path standardized(const std::filesystem::path& dir) {
    std::error_code ec;
    auto out = std::filesystem::weakly_canonical(dir, ec);
    if (ec) out = std::filesystem::absolute(dir, ec).lexically_normal();
    return out;
}

std::string withSlash(const std::filesystem::path& dir) {
    auto text = dir.string();
    if (text.empty() || text.back() != '/') text += '/';
    return text;
}

} // namespace

StaticFiles::StaticFiles(const std::filesystem::path& web) : web_(standardized(web)), webPrefix_(withSlash(web_)) {}

const std::map<std::string, std::string>& StaticFiles::types() {
    static const std::map<std::string, std::string> table{
        {"html", "text/html; charset=utf-8"},
        {"js", "text/javascript; charset=utf-8"},
        {"css", "text/css; charset=utf-8"},
        {"png", "image/png"},
        {"svg", "image/svg+xml"},
        {"json", "application/json; charset=utf-8"},
    };
    return table;
}

Reply StaticFiles::notFound() { return {404, "text/plain; charset=utf-8", "Not found"}; }

Reply StaticFiles::file(std::string_view path) const {
    const auto parts = pieces(path);
    if (parts.empty()) return notFound();
    for (const auto piece : parts) {
        if (refused(piece)) return notFound();
    }
    const auto type = types().find(lowerExtension(parts.back()));
    if (type == types().end()) return notFound();

    // Most requests name no symbolic link: then the file is the web directory and the
    // pieces as they are (none is "." or ".."), which needs one look at each directory piece
    // and none at the file itself, as it is opened without following a link. A link sends
    // the whole path through resolving, and it must still end inside the web directory.
    std::string target = web_.native();
    bool linked = false;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        target += '/';
        target += parts[i];
        if (i + 1 == parts.size() || linked) continue;
        struct stat about {};
        if (::lstat(target.c_str(), &about) != 0) return notFound();
        linked = S_ISLNK(about.st_mode);
    }
    if (!linked) {
        const int fd = ::open(target.c_str(), openFlags | O_NOFOLLOW);
        if (fd >= 0) {
            auto bytes = readWhole(fd);
            if (!bytes) return notFound();
            return {200, type->second, std::move(*bytes)};
        }
        if (errno != ELOOP) return notFound();
    }
    std::error_code ec;
    const auto real = std::filesystem::canonical(target, ec);
    if (ec || !real.native().starts_with(webPrefix_)) return notFound();
    const int fd = ::open(real.c_str(), openFlags);
    if (fd < 0) return notFound();
    auto bytes = readWhole(fd);
    if (!bytes) return notFound();
    return {200, type->second, std::move(*bytes)};
}

} // namespace scribbet
