#include "adapters/linux/standin_link.hpp"

#include <unistd.h>

#include <cstdlib>

#include "adapters/linux/local_socket.hpp"

namespace scribbet::standin {

namespace {
constexpr std::size_t maxAnswerBytes = 256u << 20; // a slide picture at 8192 px fits easily
} // namespace

std::filesystem::path socketPath() {
    if (const char* s = std::getenv("SCRIBBET_STANDIN_SOCKET"); s && *s) return s;
    return linuxhost::socketPlace("scribbet-standin.sock", "scribbet-standin-" + std::to_string(::getuid()) + ".sock")
        .path;
}

Answer call(const nlohmann::json& request, Duration limit, const std::filesystem::path& socket) {
    using Failure = Answer::Failure;
    using Step = linuxhost::LocalSocket::Step;
    const auto deadline = std::chrono::steady_clock::now() + limit;

    if (!linuxhost::fitsSocketAddress(socket)) return {Failure::noStandIn, {}};
    linuxhost::LocalSocket wire;
    const auto connected = wire.connect(socket, deadline);
    if (connected.step == Step::timedOut) return {Failure::timedOut, {}};
    if (!connected.ok()) return {Failure::noStandIn, {}};

    std::string out = request.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    out.push_back('\n');
    const auto sent = wire.send(out, deadline);
    if (sent.step == Step::timedOut) return {Failure::timedOut, {}};
    if (!sent.ok()) return {Failure::broken, {}};

    std::string in;
    const auto got = wire.receive(in, deadline, [](const std::string& so) {
        return so.size() > maxAnswerBytes || (!so.empty() && so.back() == '\n');
    });
    if (got.step == Step::timedOut) return {Failure::timedOut, {}};
    if (!got.ok() || in.size() > maxAnswerBytes) return {Failure::broken, {}};
    auto body = nlohmann::json::parse(in, nullptr, false);
    if (body.is_discarded() || !body.is_object()) return {Failure::broken, {}};
    return {Failure::none, std::move(body)};
}

} // namespace scribbet::standin
