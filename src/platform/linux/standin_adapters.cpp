#include "platform/linux/standin_adapters.hpp"

#include "platform/linux/standin_link.hpp"

namespace scribbet::linuxhost {

using nlohmann::json;
using standin::Answer;

namespace {
std::optional<Rect> rectFrom(const json& v) {
    if (!v.is_array() || v.size() != 4) return std::nullopt;
    for (const auto& n : v) {
        if (!n.is_number()) return std::nullopt;
    }
    return Rect{v[0].get<double>(), v[1].get<double>(), v[2].get<double>(), v[3].get<double>()};
}

std::optional<int> intFrom(const json& v) {
    if (!v.is_number_integer()) return std::nullopt;
    return v.get<int>();
}

std::optional<std::string> textFrom(const json& obj, const char* key) {
    auto it = obj.find(key);
    if (it == obj.end() || !it->is_string()) return std::nullopt;
    return it->get<std::string>();
}
} // namespace

MacroEventReply StandinMacroTransport::send(const std::string& fullName, const std::vector<std::string>& args,
                                            Duration timeout) {
    const Answer a = standin::call({{"op", "macro"}, {"name", fullName}, {"args", args}}, timeout);
    MacroEventReply r;
    switch (a.failure) {
    case Answer::Failure::noStandIn:
        r.sendError = -600;
        r.sendErrorText = "Application isn't running.";
        return r;
    case Answer::Failure::timedOut:
        r.sendError = -1712;
        r.sendErrorText = "AppleEvent timed out.";
        return r;
    case Answer::Failure::broken:
        r.sendError = -609;
        r.sendErrorText = "Connection is invalid.";
        return r;
    case Answer::Failure::none:
        break;
    }
    if (auto it = a.body.find("errn"); it != a.body.end() && it->is_number_integer()) {
        r.errn = it->get<std::int32_t>();
    }
    r.errs = textFrom(a.body, "errs");
    r.direct = textFrom(a.body, "direct");
    return r;
}

std::optional<std::vector<WindowInfo>> StandinWindowList::onScreenWindows() const {
    const Answer a = standin::call({{"op", "windows"}}, quickLimit);
    if (!a.ok()) return std::nullopt;
    auto it = a.body.find("windows");
    if (it == a.body.end() || !it->is_array()) return std::nullopt;
    std::vector<WindowInfo> out;
    for (const auto& w : *it) {
        if (!w.is_object()) continue;
        out.push_back({intFrom(w.value("pid", json())), intFrom(w.value("layer", json())),
                       rectFrom(w.value("bounds", json()))});
    }
    return out;
}

std::optional<int> StandinWorkspace::runningProcess(const std::string& bundleId) const {
    const Answer a = standin::call({{"op", "running"}, {"bundle", bundleId}}, quickLimit);
    if (!a.ok() || !a.body.value("running", false)) return std::nullopt;
    return intFrom(a.body.value("pid", json()));
}

void StandinWorkspace::activate(const std::string& bundleId) {
    standin::call({{"op", "activate"}, {"bundle", bundleId}}, quickLimit);
}

std::optional<std::string> StandinWorkspace::frontmost() const {
    const Answer a = standin::call({{"op", "front"}}, quickLimit);
    if (!a.ok()) return std::nullopt;
    return textFrom(a.body, "bundle");
}

void StandinWorkspace::openURL(const std::string& url) {
    standin::call({{"op", "open"}, {"url", url}}, quickLimit);
}

std::optional<ScriptResult> StandinScriptRunner::run(const std::string& source) {
    // The stand-in answers at once; AppleScript's own limits (up to 120 s) never apply.
    const Answer a = standin::call({{"op", "script"}, {"source", source}}, std::chrono::seconds(10));
    if (!a.ok() || !a.body.value("ok", false)) return std::nullopt;
    const json result = a.body.value("result", json());
    if (result.is_boolean()) return ScriptResult{result.get<bool>()};
    if (result.is_string()) return ScriptResult{result.get<std::string>()};
    return ScriptResult{};
}

} // namespace scribbet::linuxhost
