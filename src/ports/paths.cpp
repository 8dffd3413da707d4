#include "ports/paths.hpp"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>

namespace scribbet {

std::filesystem::path homeDirectory() {
    if (const char* h = std::getenv("HOME"); h && *h) return h;
    if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir) return pw->pw_dir;
    return "/tmp";
}

} // namespace scribbet
