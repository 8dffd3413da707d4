#include "app/host.hpp"

#include <utility>

namespace scribbet {

namespace {
Host& slot() {
    static Host host;
    return host;
}
} // namespace

std::string Host::say(std::string_view text) const {
    constexpr std::string_view word = "PowerPoint";
    std::string out;
    out.reserve(text.size());
    std::size_t from = 0;
    for (auto at = text.find(word); at != std::string_view::npos; at = text.find(word, from)) {
        out.append(text.substr(from, at - from)).append(name);
        from = at + word.size();
    }
    out.append(text.substr(from));
    return out;
}

const Host& Host::current() { return slot(); }

void Host::use(Host host) { slot() = std::move(host); }

} // namespace scribbet
