#include "requests.hpp"

#include "apple_script.hpp"
#include "ax_tree.hpp"
#include "macros.hpp"
#include "state.hpp"

namespace scribbet::standin {

using nlohmann::json;

namespace {
constexpr const char* notAuthorized = "Not authorized to send Apple events to Microsoft PowerPoint.";
constexpr int windowServerPid = 150;

json rectJson(const Rect& r) { return json::array({r.x, r.y, r.w, r.h}); }

json errorAnswer(const std::string& text) { return {{"error", text}}; }

// Events reach a running program that we may control; only those wait for it.
bool reachesProgram(const SharedModel& shared) {
    return shared.read([](const Model& m) { return m.running && !m.automationDenied; });
}

Handled macro(SharedModel& shared, const json& request) {
    const auto arrived = std::chrono::steady_clock::now();
    const json name = request.value("name", json());
    const json args = request.value("args", json::array());
    if (!name.is_string() || !args.is_array()) return {errorAnswer("A macro needs a \"name\" and a list of \"args\".")};
    std::vector<std::string> texts;
    for (const auto& a : args) {
        if (!a.is_string()) return {errorAnswer("A macro's arguments are texts.")};
        texts.push_back(a.get<std::string>());
    }
    if (reachesProgram(shared) && !shared.waitOutDelay(arrived)) return {json(), false};
    const MacroReply r = shared.change([&](Model& m) { return runMacro(m, name.get<std::string>(), texts); });
    json answer = {{"errn", r.errn}};
    if (!r.errs.empty()) answer["errs"] = r.errs;
    if (r.errn == 0) answer["direct"] = r.direct;
    return {answer};
}

Handled script(SharedModel& shared, const json& request) {
    const auto arrived = std::chrono::steady_clock::now();
    const json source = request.value("source", json());
    if (!source.is_string()) return {{{"ok", false}, {"result", nullptr}, {"error", "A script needs a \"source\"."}}};
    if (reachesProgram(shared) && !shared.waitOutDelay(arrived)) return {json(), false};
    return {shared.change([&](Model& m) -> json {
        if (!m.running) {
            return {{"ok", false}, {"result", nullptr}, {"error", std::string(programName) + " isn't running."}};
        }
        if (m.automationDenied) return {{"ok", false}, {"result", nullptr}, {"error", notAuthorized}};
        const ScriptResult r = runScript(m, source.get<std::string>());
        json answer = {{"ok", r.ok}, {"result", r.result}};
        if (!r.ok) answer["error"] = r.error;
        return answer;
    })};
}

json window(int pid, const std::string& name, const Rect& bounds, int layer = 0) {
    return {{"pid", pid}, {"layer", layer}, {"name", name}, {"bounds", rectJson(bounds)}};
}

// Front to back: the menu bar, then the front application's windows, then the others'.
json windows(const Model& m) {
    json program = json::array();
    if (m.hasWindow()) {
        const Rect& f = m.window.frame;
        // A floating palette sits over the document window, as the program's format panes do.
        if (m.window.palette) program.push_back(window(m.pid, "Format Shape", m.paletteFrame()));
        program.push_back(window(m.pid, m.deck.name, f));
    }
    json before = json::array(), after = json::array();
    for (std::size_t i = 0; i < m.others.size(); ++i) {
        const auto& app = m.others[i];
        const double step = static_cast<double>(i);
        const json w = window(app.pid, "Documents", {200 + 40 * step, 160 + 30 * step, 900, 560});
        (app == m.front ? before : after).push_back(w);
    }
    json list = json::array();
    const Rect& primary = m.screens.empty() ? Rect{0, 0, 1440, 900} : m.screens.front().frame;
    list.push_back(window(windowServerPid, "Menubar", {primary.x, primary.y, primary.w, 24}, 24));
    for (const auto& part : m.programInFront() ? std::vector{program, before, after} : std::vector{before, program, after}) {
        for (const auto& w : part) list.push_back(w);
    }
    return list;
}

json screens(const Model& m) {
    json list = json::array();
    for (const auto& s : m.screens) {
        list.push_back({{"frame", rectJson(s.frame)}, {"visible", rectJson(s.visible)}, {"scale", s.scale}});
    }
    // The main screen is the one with the key window: the program's, when it is in front
    // with a window.
    std::size_t main = 0;
    if (m.programInFront() && m.hasWindow()) {
        const Screen& s = m.screenOf(m.window.frame);
        for (std::size_t i = 0; i < m.screens.size(); ++i) {
            if (&m.screens[i] == &s) main = i;
        }
    }
    return {{"screens", list}, {"main", main}};
}

// The application a request names by "bundle"; the program when it names none.
std::optional<App> named(const Model& m, const json& request) {
    const json bundle = request.value("bundle", json(programBundle));
    if (!bundle.is_string() || bundle == programBundle) {
        return m.running ? std::optional(m.program()) : std::nullopt;
    }
    for (const auto& app : m.others) {
        if (app.bundle == bundle) return app;
    }
    return std::nullopt;
}

json running(const Model& m, const json& request) {
    const auto app = named(m, request);
    return {{"running", app.has_value()}, {"pid", app ? app->pid : 0}};
}

Handled activate(SharedModel& shared, const json& request) {
    return {shared.change([&](Model& m) {
        const auto app = named(m, request);
        if (app) m.front = *app;
        return json{{"ok", app.has_value()}};
    })};
}

Handled open(SharedModel& shared, const json& request) {
    const json url = request.value("url", json());
    if (!url.is_string()) return {{{"ok", false}}};
    shared.change([&](Model& m) { m.urls.push_back(url.get<std::string>()); });
    return {{{"ok", true}}};
}

// ---- the accessibility interface ----

// Whether Scribbet may use it; the prompt is the system's, so it only gets counted.
Handled axTrusted(SharedModel& shared, bool prompt) {
    return {shared.change([&](Model& m) {
        if (prompt) ++m.ax.prompts;
        return json{{"trusted", m.ax.trusted}};
    })};
}

// Making an application element asks nothing of the program; every search starts with one,
// so they are counted.
Handled axApp(SharedModel& shared, const json& request) {
    const json pid = request.value("pid", json());
    return {shared.change([&](Model& m) {
        ++m.ax.searches;
        const bool program = m.running && pid.is_number_integer() && pid.get<std::int64_t>() == m.pid;
        return json{{"element", program ? json(axAppId) : json()}};
    })};
}

// A question to the program about one of its elements, or a value set on one. Without the
// permission or the program the system refuses at once; otherwise the program answers
// after its accessibility delay, and a value is set then, whether the caller still waits
// or not.
Handled axElement(SharedModel& shared, const json& request, bool set) {
    const auto arrived = std::chrono::steady_clock::now();
    const json id = request.value("element", json());
    const json name = request.value("name", json());
    if (!id.is_string() || !name.is_string()) return {errorAnswer("An element request needs an \"element\" and a \"name\".")};
    const json refused = set ? json{{"ok", false}} : json::object();
    auto reaches = [](const Model& m) { return m.ax.trusted && m.running; };
    if (!shared.read(reaches)) return {refused};
    if (!shared.waitOutAXDelay(arrived)) return {json(), false};
    if (!set) {
        return {shared.read([&](const Model& m) { return reaches(m) ? axAttribute(m, id, name) : refused; })};
    }
    const json value = request.value("value", json());
    return {shared.change([&](Model& m) {
        const bool ok = reaches(m) && value.is_number() && axSetNumber(m, id, name, value.get<double>());
        return json{{"ok", ok}};
    })};
}

Handled set(SharedModel& shared, const json& request) {
    json values = request.value("values", json());
    if (!values.is_object()) return {{{"ok", false}, {"msg", "A set needs \"values\": {KEY: VALUE}."}}};
    const bool quit = values.contains("quit");
    values.erase("quit");
    const std::string error = shared.change([&](Model& m) { return applyValues(m, values); });
    if (!error.empty()) return {{{"ok", false}, {"msg", error}}};
    return {{{"ok", true}, {"msg", quit ? "Changed; the stand-in ends." : "Changed."}}, true, quit};
}
} // namespace

Handled handleRequest(SharedModel& shared, const json& request) {
    if (!request.is_object() || !request.contains("op") || !request["op"].is_string()) {
        return {errorAnswer("A request is a JSON object with an \"op\".")};
    }
    const std::string op = request["op"].get<std::string>();
    if (op == "macro") return macro(shared, request);
    if (op == "script") return script(shared, request);
    if (op == "set") return set(shared, request);
    if (op == "quit") return {{{"ok", true}}, true, true};
    if (op == "activate") return activate(shared, request);
    if (op == "open") return open(shared, request);
    if (op == "ax.trusted" || op == "ax.prompt") return axTrusted(shared, op == "ax.prompt");
    if (op == "ax.app") return axApp(shared, request);
    if (op == "ax.attr" || op == "ax.set") return axElement(shared, request, op == "ax.set");
    return {shared.read([&](const Model& m) -> json {
        if (op == "running") return running(m, request);
        if (op == "windows") return {{"windows", windows(m)}};
        if (op == "front") return {{"bundle", m.front.bundle}, {"pid", m.front.pid}};
        if (op == "screens") return screens(m);
        if (op == "state") return stateJson(m);
        if (op == "ax.tree") return {{"tree", axTreeJson(m)}};
        return errorAnswer("Unknown request \"" + op + "\".");
    })};
}

} // namespace scribbet::standin
