#pragma once
// Open-file descriptors: how many the process may have, and how many of them the server's
// connections may take. A client that holds connections open must neither lock the others
// out nor leave the process without a descriptor to read a file or call the program with.
#include <cstddef>
#include <cstdint>
#include <optional>

namespace scribbet::Descriptors {

struct Limit {
    std::uint64_t soft = 0;
    std::uint64_t hard = 0;
};

// The most this program asks for; macOS refuses a soft limit above OPEN_MAX.
std::uint64_t ceiling();
// The soft limit to ask for: the hard one, but not above `ceiling`; none when the soft limit
// is that high already (it is never lowered).
std::optional<std::uint64_t> raised(Limit now, std::uint64_t ceiling);
// The most connections the server holds at once under a soft limit; the rest is left to
// files, the log, the program's calls and the system's own libraries.
std::size_t connectionBudget(std::uint64_t soft);

// This process's limit, through getrlimit (the same call on Linux and macOS).
std::optional<Limit> current();
// Raises this process's soft limit as `raised` says and returns the soft limit in force.
std::uint64_t raise();

} // namespace scribbet::Descriptors
