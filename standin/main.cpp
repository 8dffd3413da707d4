// scribbet-standin: the presentation program, its add-in and the desktop around them, for
// Linux, where there is no presentation program.
//
//   scribbet-standin serve [--socket PATH] [--state FILE.json]
//   scribbet-standin ctl [--socket PATH] state | tree | set KEY=VALUE... | quit | macro NAME [ARG...]
#include <signal.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>

#include "app/settings.hpp"
#include "adapters/linux/standin_link.hpp"
#include "socket_server.hpp"
#include "state.hpp"
#ifdef SCRIBBET_STANDIN_WINDOW
#include "window_gtk.hpp"
#endif

using namespace scribbet;
using namespace scribbet::standin;
using nlohmann::json;

namespace {
SocketServer* running = nullptr;

void onSignal(int) {
    if (running) running->stop();
}

int usage() {
    std::cerr << "usage: scribbet-standin serve [--socket PATH] [--state FILE.json]\n"
                 "       scribbet-standin ctl [--socket PATH] state | tree | set KEY=VALUE... | quit | macro NAME [ARG...]\n";
    return 2;
}

// Takes "--socket PATH" and "--state FILE" out of the arguments.
struct Options {
    std::filesystem::path socket = socketPath();
    std::string stateFile;
    std::vector<std::string> rest;
    bool ok = true;
};

Options options(int argc, char** argv) {
    Options o;
    for (int i = 2; i < argc; ++i) {
        const std::string a = argv[i];
        if ((a == "--socket" || a == "--state") && i + 1 < argc) {
            if (a == "--socket") o.socket = argv[++i];
            else o.stateFile = argv[++i];
        } else if (a == "--socket" || a == "--state") {
            o.ok = false;
        } else {
            o.rest.push_back(a);
        }
    }
    return o;
}

int serve(const Options& o) {
    if (!o.rest.empty()) return usage();
    const Settings settings = Settings::fromEnvironment();
    Model model = Model::standard(SCRIBBET_VERSION, static_cast<int>(::getpid()));
    model.addin.name = settings.addinName;
    model.addin.prefix = settings.macroPrefix;
    if (!o.stateFile.empty()) {
        std::ifstream in(o.stateFile);
        std::stringstream text;
        text << in.rdbuf();
        const json state = json::parse(text.str(), nullptr, false);
        const std::string error = !in ? "cannot be read." : state.is_discarded() ? "is not JSON." : loadState(model, state);
        if (!error.empty()) {
            std::cerr << "scribbet-standin: the state " << o.stateFile << ": " << error << "\n";
            return 1;
        }
    }
    std::string error;
    auto server = SocketServer::open(o.socket, error);
    if (!server) {
        std::cerr << "scribbet-standin: " << error << "\n";
        return 1;
    }
    struct sigaction sa {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    running = server.get();
    ::sigaction(SIGINT, &sa, nullptr);
    ::sigaction(SIGTERM, &sa, nullptr);
    ::signal(SIGPIPE, SIG_IGN);
    std::cerr << "scribbet-standin: listening on " << o.socket.string() << "\n";

    SharedModel shared(std::move(model));
#ifdef SCRIBBET_STANDIN_WINDOW
    if (windowGtk::open()) {
        windowGtk::run(shared, [&] { server->run(shared); });
        running = nullptr;
        return 0;
    }
#endif
    server->run(shared);
    running = nullptr;
    return 0;
}

// Sends one request; prints why when there is no answer.
std::optional<json> ask(const Options& o, const json& request, double seconds) {
    const Answer a = call(request, std::chrono::duration_cast<Duration>(std::chrono::duration<double>(seconds)), o.socket);
    switch (a.failure) {
    case Answer::Failure::none:
        return a.body;
    case Answer::Failure::noStandIn:
        std::cerr << "scribbet-standin: no stand-in is running on " << o.socket.string() << ".\n";
        break;
    case Answer::Failure::timedOut:
        std::cerr << "scribbet-standin: the stand-in did not answer in time.\n";
        break;
    case Answer::Failure::broken:
        std::cerr << "scribbet-standin: the stand-in's answer was broken off or not JSON.\n";
        break;
    }
    return std::nullopt;
}

int ctlSet(const Options& o) {
    json values = json::object();
    for (std::size_t i = 1; i < o.rest.size(); ++i) {
        const auto& kv = o.rest[i];
        const auto eq = kv.find('=');
        if (eq == std::string::npos && kv != "quit") return usage();
        if (kv == "quit") values["quit"] = true;
        else values[kv.substr(0, eq)] = kv.substr(eq + 1);
    }
    const auto answer = ask(o, {{"op", "set"}, {"values", values}}, 10);
    if (!answer) return 1;
    const bool ok = answer->value("ok", false);
    (ok ? std::cout : std::cerr) << answer->value("msg", "") << "\n";
    return ok ? 0 : 1;
}

int ctlMacro(const Options& o) {
    if (o.rest.size() < 2) return usage();
    json args = json::array();
    for (std::size_t i = 2; i < o.rest.size(); ++i) args.push_back(o.rest[i]);
    const std::string name = Settings::fromEnvironment().macroPrefix + o.rest[1];
    const auto answer = ask(o, {{"op", "macro"}, {"name", name}, {"args", args}}, 70);
    if (!answer) return 1;
    if (answer->value("errn", 0) != 0) {
        std::cerr << "error " << answer->value("errn", 0) << ": " << answer->value("errs", "") << "\n";
        return 1;
    }
    std::cout << answer->value("direct", "") << "\n";
    return 0;
}

std::string number(const json& n) {
    std::ostringstream s;
    s << n.get<double>();
    return s.str();
}

// One line per element, indented by depth: id, role, frame, what it says about itself.
void printTree(const json& node, int depth) {
    if (!node.is_object()) return;
    std::cout << std::string(static_cast<std::size_t>(depth) * 2, ' ') << node.value("id", "") << "  "
              << node.value("role", "");
    if (const json f = node.value("frame", json()); f.is_array() && f.size() == 4) {
        std::cout << "  " << number(f[0]) << "," << number(f[1]) << " " << number(f[2]) << "x" << number(f[3]);
    }
    for (const char* key : {"title", "description", "value"}) {
        if (node.contains(key)) std::cout << "  " << key << "=" << node[key].dump();
    }
    std::cout << "\n";
    for (const auto& child : node.value("children", json::array())) printTree(child, depth + 1);
}

int ctlTree(const Options& o) {
    const auto answer = ask(o, {{"op", "ax.tree"}}, 10);
    if (!answer) return 1;
    const json tree = answer->value("tree", json());
    if (tree.is_null()) std::cout << "The program isn't running: it has no elements.\n";
    printTree(tree, 0);
    return 0;
}

int ctl(const Options& o) {
    if (o.rest.empty()) return usage();
    const std::string& what = o.rest[0];
    if (what == "set") return ctlSet(o);
    if (what == "macro") return ctlMacro(o);
    if ((what != "state" && what != "tree" && what != "quit") || o.rest.size() != 1) return usage();
    if (what == "tree") return ctlTree(o);
    const auto answer = ask(o, {{"op", what}}, 10);
    if (!answer) return 1;
    std::cout << answer->dump(2) << "\n";
    return 0;
}
} // namespace

int main(int argc, char** argv) {
    if (argc < 2) return usage();
    const Options o = options(argc, argv);
    if (!o.ok) return usage();
    if (std::strcmp(argv[1], "serve") == 0) return serve(o);
    if (std::strcmp(argv[1], "ctl") == 0) return ctl(o);
    return usage();
}
