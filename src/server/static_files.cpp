// The drawing page's files: only known types, only below the web directory, and never a
// hidden file, even through a symbolic link.
#include <fstream>
#include <vector>

#include "server/server.hpp"

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

std::optional<std::string> readWhole(const std::filesystem::path& path) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec)) return std::nullopt;
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::string bytes;
    char chunk[16384];
    while (in.read(chunk, sizeof chunk) || in.gcount() > 0) bytes.append(chunk, static_cast<std::size_t>(in.gcount()));
    if (in.bad()) return std::nullopt;
    return bytes;
}

} // namespace

const std::map<std::string, std::string>& Server::types() {
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

Reply Server::notFound() { return {404, "text/plain; charset=utf-8", "Not found"}; }

Reply Server::file(std::string_view path) const {
    const auto parts = pieces(path);
    if (parts.empty()) return notFound();
    for (const auto piece : parts) {
        if (refused(piece)) return notFound();
    }
    const auto type = types().find(lowerExtension(parts.back()));
    if (type == types().end()) return notFound();

    auto target = web_;
    for (const auto piece : parts) target /= piece;
    std::error_code ec;
    const auto real = std::filesystem::canonical(target, ec);
    if (ec || !real.native().starts_with(webPrefix_)) return notFound();

    auto bytes = readWhole(real);
    if (!bytes) return notFound();
    return {200, type->second, std::move(*bytes)};
}

} // namespace scribbet
