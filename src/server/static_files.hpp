#pragma once
// The drawing page's files, answered from the web directory.
#include <filesystem>
#include <map>
#include <string>
#include <string_view>

#include "server/reply.hpp"

namespace scribbet {

class StaticFiles {
public:
    // Standardizes `web`: absolute, without "." or "..", its symbolic links resolved.
    explicit StaticFiles(const std::filesystem::path& web);

    const std::filesystem::path& web() const { return web_; }
    // Extension (lower case) to Content-Type; nothing else is served.
    static const std::map<std::string, std::string>& types();
    // The file under the web directory that a decoded GET path names, or 404.
    Reply file(std::string_view path) const;
    static Reply notFound();

private:
    std::filesystem::path web_;
    std::string webPrefix_; // web_ + "/"
};

} // namespace scribbet
