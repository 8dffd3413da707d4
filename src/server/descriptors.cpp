#include "server/descriptors.hpp"

#include <sys/resource.h>

#include <algorithm>
#include <climits>

namespace scribbet::Descriptors {

namespace {
// Tens of thousands are far more than a page and its API ever need; some libraries still
// walk every possible descriptor (closing them before starting a process, say).
constexpr std::uint64_t mostWanted = 65536;
} // namespace

std::uint64_t ceiling() {
#if defined(__APPLE__) && defined(OPEN_MAX)
    return std::min<std::uint64_t>(mostWanted, OPEN_MAX);
#else
    return mostWanted;
#endif
}

std::optional<std::uint64_t> raised(Limit now, std::uint64_t most) {
    const std::uint64_t wanted = std::min(now.hard, most);
    if (wanted <= now.soft) return std::nullopt;
    return wanted;
}

std::size_t connectionBudget(std::uint64_t soft) {
    const std::uint64_t reserve = std::clamp<std::uint64_t>(soft / 4, 16, 256);
    const std::uint64_t budget = soft > reserve ? soft - reserve : 1;
    return static_cast<std::size_t>(std::min<std::uint64_t>(budget, mostWanted));
}

std::optional<Limit> current() {
    rlimit now{};
    if (::getrlimit(RLIMIT_NOFILE, &now) != 0) return std::nullopt;
    return Limit{static_cast<std::uint64_t>(now.rlim_cur), static_cast<std::uint64_t>(now.rlim_max)};
}

std::uint64_t raise() {
    const auto now = current();
    if (!now) return 256; // unknown: assume the smallest common default
    if (const auto wanted = raised(*now, ceiling())) {
        rlimit next{static_cast<rlim_t>(*wanted), static_cast<rlim_t>(now->hard)};
        if (::setrlimit(RLIMIT_NOFILE, &next) == 0) return *wanted;
    }
    return now->soft;
}

} // namespace scribbet::Descriptors
